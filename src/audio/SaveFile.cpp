#include "audio/SaveFile.h"

#include "platform/FileNames.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

namespace varnel {

namespace fs = std::filesystem;

namespace {

// The written file is a valid WAV file whose sizes match what it holds.
bool IsValidWave(const std::string& path)
{
    TWaveData check;
    if (check.OpenRead(path) != 0)
        return false;
    const bool sizesMatch = check.DataSize == check.DeclaredDataSize;
    check.Close();
    return sizesMatch;
}

bool NameExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(PathFromBytes(path), ec));
}

// The dither's seed of an output: fixed, so one file always gives the same bytes; outputs of
// one pass (a second stem) would take the next ones.
constexpr uint64_t kDitherSeed = 0x5661726E656C0001ull;

} // namespace

std::string WithWavExtension(const std::string& path)
{
    fs::path p = PathFromBytes(path);
    if (p.filename().empty() || p.filename() == "." || p.filename() == "..")
        return path;
    p.replace_extension(".wav");
    return BytesFromPath(p);
}

std::string RestPathFor(const std::string& rest, const std::string& output)
{
    fs::path p = PathFromBytes(rest);
    const fs::path name = p.filename();
    if (name.empty() || name == "." || name == ".." || !name.extension().empty())
        return rest;
    p.replace_extension(PathFromBytes(output).extension());
    return BytesFromPath(p);
}

bool AreaKeepsNothing(const FilterArea& area, int sampleRate)
{
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const float halfRate = static_cast<float>(sampleRate / 2);
    // What the area removes is only lowered.
    if (area.Soft.AttenuateDb < SoftCut::kNoAttenuation)
        return false;
    if (!area.Inverted) {
        // A width spreads each edge over half of it to either side, so a range that is empty
        // by less than a width (or lies past the end of its scale by less than half of one)
        // still keeps what its two transitions share.
        const SoftCut& s = area.Soft;
        const auto emptyOn = [](double low, double high, double top, float width) {
            return width > 0.0f ? low - high >= width || low - width / 2.0 >= top
                                : low > high || low > top;
        };
        const auto db = [](float ratio) { return 20.0 * std::log10(static_cast<double>(ratio)); };
        const bool freqEmpty =
            s.FeatherFreq > 0.0f && area.FreqLowHz > 0.0f
                ? emptyOn(std::log2(static_cast<double>(area.FreqLowHz)),
                          std::log2(static_cast<double>(area.FreqHighHz)),
                          std::log2(static_cast<double>(halfRate)), s.FeatherFreq)
                : emptyOn(area.FreqLowHz, area.FreqHighHz, halfRate, 0.0f);
        const bool panEmpty =
            s.FeatherPanDb > 0.0f && area.PanLow > 0.0f
                ? emptyOn(db(area.PanLow), db(area.PanHigh), kInfinity, s.FeatherPanDb)
                : emptyOn(area.PanLow, area.PanHigh, kInfinity, 0.0f);
        return freqEmpty || panEmpty || emptyOn(area.DepthLow, area.DepthHigh, kPi, s.FeatherDepth);
    }
    return area.FreqLowHz <= 0.0f && area.FreqHighHz >= halfRate && area.PanLow <= kPanOpenLow &&
           area.PanHigh >= kPanOpenHigh && area.DepthLow <= 0.0f && area.DepthHigh >= kPi;
}

InputFile::InputFile() = default;

InputFile::~InputFile()
{
    Close();
}

void InputFile::Close()
{
    mSource.reset();
    mWave.Close();
}

MessageId InputFile::OpenWave16(const std::string& path, ExtensiblePcm extensible,
                                std::error_code* reason)
{
    Close();
    const MessageId message = OpenCheckedWave(path, mWave, extensible, reason);
    if (message == kMsgNone)
        mSource = std::make_unique<WaveSource>(mWave);
    return message;
}

SourceOpenResult InputFile::Open(const std::string& path)
{
    SourceOpenResult result;
    result.Message = OpenWave16(path, ExtensiblePcm::Accept, &result.Reason);
    if (result.Message == kMsgNone) {
        // The window's reader does not read tags; an output of another format copies them.
        std::string title;
        std::string artist;
        ReadTitleAndArtist(path, title, artist);
        mSource = std::make_unique<WaveSource>(mWave, std::move(title), std::move(artist));
    }
    if (result.Message == kMsgNone || result.Message == kMsgCannotOpen)
        return result;
    const MessageId waveMessage = result.Message;
    mSource = OpenSoundFile(path, result);
    // A file the library cannot read either keeps what the WAV check found in it.
    if (!mSource && result.Message == kMsgUnsupportedFile && result.RefusedChannels == 0 &&
        (waveMessage == kMsgNotPcm || waveMessage == kMsgNotStereo16))
        result.Message = waveMessage;
    return result;
}

SaveOutput::SaveOutput() = default;

SaveOutput::~SaveOutput()
{
    mWave.Close();
    mSink.Close();
    // SafeOutput's destructor removes a temporary that was neither committed nor discarded.
}

MessageId SaveOutput::SetName(const std::string& inputPath, const std::string& outputPath,
                              std::error_code* reason)
{
    mPath = outputPath;
    return CheckOutputName(inputPath, outputPath, reason);
}

bool SaveOutput::Exists() const
{
    return NameExists(mPath);
}

std::string SaveOutput::BeginTemporary(bool replaceExisting, bool toSink, SaveResult& result)
{
    mToSink = toSink;
    mReplaceExisting = replaceExisting;
    if (!replaceExisting && Exists()) {
        result.Message = kMsgFileExists;
        return {};
    }
    std::string temp = mOutput.Begin(mPath, &result.Reason);
    if (temp.empty())
        result.Message = kMsgCreateFailed;
    return temp;
}

SaveResult SaveOutput::BeginWave(bool replaceExisting, const WaveFormat& format)
{
    SaveResult result;
    const std::string temp = BeginTemporary(replaceExisting, false, result);
    if (temp.empty())
        return result;
    mWave.Format = format;
    if (mWave.OpenWrite(temp) != kWaveOpened) {
        result.Message = kMsgCreateFailed;
        result.Reason = mWave.LastError();
        mOutput.Discard();
    }
    return result;
}

SaveResult SaveOutput::BeginSink(bool replaceExisting, const SinkFormat& format)
{
    SaveResult result;
    const std::string temp = BeginTemporary(replaceExisting, true, result);
    if (temp.empty())
        return result;
    if (!mSink.Open(temp, format)) {
        result.Message = kMsgCreateFailed;
        result.Reason = mSink.LastError();
        mOutput.Discard();
    }
    return result;
}

bool SaveOutput::CloseWriter(std::error_code* reason)
{
    if (mToSink) {
        if (mSink.Close() == 0)
            return true;
        if (reason)
            *reason = mSink.LastError();
        return false;
    }
    if (mWave.Close() == 0)
        return true;
    if (reason)
        *reason = mWave.LastError();
    return false;
}

bool SaveOutput::TemporaryIsValid() const
{
    const std::string& temp = mOutput.TempPath();
    if (!mToSink)
        return IsValidWave(temp);
    // A sink whose writing failed left an encoder's stream broken off somewhere: not kept.
    return !mSink.LastError() && IsCompleteSoundFile(temp, mSink.FramesWritten());
}

void SaveOutput::Discard()
{
    std::error_code ignored;
    CloseWriter(&ignored);
    mOutput.Discard();
}

bool SaveOutput::Settle(bool complete, SaveResult& result)
{
    using Existing = SafeOutput::Existing;
    const std::string temp = mOutput.TempPath();
    std::error_code ec;
    if (complete) {
        if (mOutput.Commit(mReplaceExisting ? Existing::Replace : Existing::KeepAndFail, &ec))
            return true;
        if (ec == std::errc::file_exists) {
            // Another save took the name while this one ran: its file stays, and this one
            // goes.
            if (!mOutput.Discard())
                result.KeptAs = temp;
            result.Message = kMsgFileExists;
            return false;
        }
        // The whole sound is there: it is kept where the person can find it, not removed.
        result.Message = kMsgSaveFailed;
        result.Reason = ec;
        result.KeptAs = mOutput.KeepVisible();
        return false;
    }
    // An unfinished file never takes the place of one that is there.
    if (!Exists() && TemporaryIsValid() && mOutput.Commit(Existing::KeepAndFail, &ec))
        return true;
    if (!mOutput.Discard())
        result.KeptAs = temp;
    return false;
}

SaveFile::SaveFile() = default;

SaveFile::~SaveFile()
{
    mInput.Close();
    // SaveOutput's destructor closes the writer and removes a temporary Run did not settle.
}

SaveResult SaveFile::CheckOutput(const std::string& inputPath, const std::string& outputPath)
{
    SaveResult result;
    mInputInfo = mInput.Info();
    mInputPath = inputPath;
    // A folder (or a link to one) is refused now rather than after the whole export.
    result.Message = mOutput.SetName(inputPath, outputPath, &result.Reason);
    if (result.Message != kMsgNone) {
        mInput.Close();
        return result;
    }
    mChecked = true;
    return result;
}

SaveResult SaveFile::Check(const std::string& inputPath, const std::string& outputPath,
                           ExtensiblePcm extensible)
{
    SaveResult result;
    mChecked = false;
    mToSink = false;
    result.Message = mInput.OpenWave16(inputPath, extensible, &result.Reason);
    if (result.Message != kMsgNone)
        return result;
    return CheckOutput(inputPath, WithWavExtension(outputPath));
}

SaveResult SaveFile::CheckAnyFormat(const std::string& inputPath, const std::string& outputPath,
                                    const OutputRequest& request)
{
    SaveResult result;
    mChecked = false;
    Container container = Container::Wav;
    if (!ContainerForName(outputPath, container)) {
        result.Message = kMsgCreateFailed;
        result.Reason = std::make_error_code(std::errc::invalid_argument);
        return result;
    }
    const SourceOpenResult opened = mInput.Open(inputPath);
    if (opened.Message != kMsgNone) {
        result.Message = opened.Message;
        result.Reason = opened.Reason;
        result.RefusedChannels = opened.RefusedChannels;
        return result;
    }
    const SoundInfo& in = mInput.Info();
    mInputInfo = in;
    BitsRequest bits = request.Bits;
    // The window opens 16-bit WAV files: a plain conversion into WAV makes one by default.
    if (request.PlainCopy && bits == BitsRequest::Default && container == Container::Wav)
        bits = BitsRequest::Pcm16;
    SinkFormat& format = mSinkFormat;
    format = SinkFormat();
    format.Kind = container;
    format.Sample =
        ChooseOutputSample(container, in.Sample, bits, in.SampleRate, result.FormatRefusal);
    if (result.FormatRefusal != OutputRefusal::None) {
        mInput.Close();
        return result;
    }
    format.SampleRate = in.SampleRate;
    format.LossyQuality = request.LossyQuality;
    format.Conversion = ConversionFor(in.Sample, format.Sample, request.Dither);
    format.Conversion.DitherSeed = kDitherSeed;
    format.Title = in.Title;
    format.Artist = in.Artist;
    // The window's own path, byte for byte: 16-bit WAV in, 16-bit WAV out, filtered (a plain
    // copy goes through a sink, which copies without the filter).
    mToSink = request.PlainCopy || !(mInput.IsWave16() && container == Container::Wav &&
                                     format.Sample == SampleFormat::Pcm16);
    std::string path = outputPath;
    if (BytesFromPath(PathFromBytes(path).extension()).empty())
        path = WithWavExtension(path);
    return CheckOutput(inputPath, path);
}

bool SaveFile::OutputExists() const
{
    return mOutput.Exists();
}

bool SaveFile::RestExists() const
{
    return mHasRest && mRest.Exists();
}

SaveResult SaveFile::SetRest(const std::string& restPath)
{
    SaveResult result;
    result.ForRest = true;
    mHasRest = false;
    if (!mChecked) {
        result.Message = kMsgCannotOpen;
        return result;
    }
    const std::string path = RestPathFor(restPath, mOutput.Path());
    if (SameFile(path, mOutput.Path()) || path == mOutput.Path()) {
        result.Message = kMsgCreateFailed;
        result.Reason = std::make_error_code(std::errc::invalid_argument);
        return result;
    }
    result.Message = mRest.SetName(mInputPath, path, &result.Reason);
    mHasRest = result.Message == kMsgNone;
    return result;
}

int64_t SaveFile::StretchBytes(const ExportSettings& settings)
{
    if (!mChecked)
        return 0;
    if (!mToSink)
        return ExportJob(mInput.Wave(), mOutput.Wave(), settings).TotalBytes();
    SoundSink probe(mSinkFormat);
    return ExportJob(mInput.Source(), probe, settings).TotalBytes();
}

SaveResult SaveFile::Begin(bool replaceExisting)
{
    SaveResult result;
    if (!mChecked) {
        result.Message = kMsgCannotOpen;
        return result;
    }
    // The saved file holds plain PCM of the input's format, also for an extensible input.
    WaveFormat format = mInput.Wave().Format;
    format.FormatTag = 1; // PCM
    const auto begin = [&](SaveOutput& output) {
        return mToSink ? output.BeginSink(replaceExisting, mSinkFormat)
                       : output.BeginWave(replaceExisting, format);
    };
    result = begin(mOutput);
    if (result.Message == kMsgNone && mHasRest) {
        result = begin(mRest);
        result.ForRest = true;
        // Both or neither: the output's temporary goes again.
        if (result.Message != kMsgNone)
            mOutput.Discard();
    }
    mBegun = result.Message == kMsgNone;
    return result;
}

SaveResult SaveFile::Run(const ExportSettings& settings, const ExportJob::ProgressFn& progress,
                         const std::atomic<bool>& abort)
{
    SaveResult result;
    if (!mBegun) {
        result.Message = kMsgCreateFailed;
        return result;
    }
    mBegun = false;
    std::unique_ptr<ExportJob> job =
        mToSink ? std::make_unique<ExportJob>(mInput.Source(), mOutput.Sink(), settings)
                : std::make_unique<ExportJob>(mInput.Wave(), mOutput.Wave(), settings);
    if (mHasRest) {
        if (mToSink)
            job->SetRest(mRest.Sink());
        else
            job->SetRest(mRest.Wave());
    }
    const int64_t total = job->TotalBytes() / kFrameBytes;
    mSavedBytes.store(0);
    mStretchFrames.store(total);
    result.TotalFrames = total;
    result.NothingKept =
        total == 0 || (!settings.PlainCopy && AreaKeepsNothing(settings.Area, InputRate()));

    result.Message = job->Run(
        [this, &progress](int64_t written, int64_t bytes) {
            mSavedBytes.store(written);
            if (progress)
                progress(written, bytes);
        },
        abort);
    result.Aborted = job->Aborted();
    if (result.Message == kMsgSaveFailed) {
        result.Reason = mToSink ? mOutput.Sink().LastError() : mOutput.Wave().LastError();
        if (!result.Reason && mHasRest) {
            result.Reason = mToSink ? mRest.Sink().LastError() : mRest.Wave().LastError();
            result.ForRest = static_cast<bool>(result.Reason);
        }
    }
    mInput.Close();
    std::error_code closeReason;
    if (!mOutput.CloseWriter(&closeReason) && result.Message == kMsgNone) {
        result.Message = kMsgSaveFailed;
        result.Reason = closeReason;
    }
    if (mHasRest && !mRest.CloseWriter(&closeReason) && result.Message == kMsgNone) {
        result.Message = kMsgSaveFailed;
        result.Reason = closeReason;
        result.ForRest = true;
    }
    const bool complete = result.Message == kMsgNone && !result.Aborted;
    if (mHasRest) {
        mHasRest = false;
        // The rest takes its name first: when it cannot, the output's complete sound is not
        // settled as complete either, so both or neither complete.
        SaveResult restResult;
        const bool restStands = mRest.Settle(complete, restResult);
        if (complete && !restStands) {
            result.Message = restResult.Message;
            result.Reason = restResult.Reason;
            result.KeptAs = restResult.KeptAs;
            result.ForRest = true;
            mOutput.Discard();
            return result;
        }
        if (mOutput.Settle(complete, result)) {
            result.SavedFrames = job->Written() / kFrameBytes;
        } else if (complete && restStands && result.Message == kMsgFileExists) {
            // The output lost its name to another save after the rest took its own: the rest
            // goes again, so neither stands as complete.
            std::error_code ignored;
            fs::remove(PathFromBytes(mRest.Path()), ignored);
        }
        return result;
    }
    if (mOutput.Settle(complete, result))
        result.SavedFrames = job->Written() / kFrameBytes;
    return result;
}

double SaveFile::Fraction() const noexcept
{
    const int64_t frames = mStretchFrames.load();
    if (frames <= 0)
        return 0.0;
    const double saved = static_cast<double>(mSavedBytes.load() / kFrameBytes);
    return std::clamp(saved / static_cast<double>(frames), 0.0, 1.0);
}

} // namespace varnel
