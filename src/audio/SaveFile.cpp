#include "audio/SaveFile.h"

#include "platform/FileNames.h"

#include <algorithm>
#include <filesystem>

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

} // namespace

std::string WithWavExtension(const std::string& path)
{
    fs::path p = PathFromBytes(path);
    if (p.filename().empty() || p.filename() == "." || p.filename() == "..")
        return path;
    p.replace_extension(".wav");
    return BytesFromPath(p);
}

bool AreaKeepsNothing(const FilterArea& area, int sampleRate)
{
    const float halfRate = static_cast<float>(sampleRate / 2);
    if (!area.Inverted)
        return area.FreqLowHz > area.FreqHighHz || area.FreqLowHz > halfRate ||
               area.PanLow > area.PanHigh || area.DepthLow > area.DepthHigh || area.DepthLow > kPi;
    return area.FreqLowHz <= 0.0f && area.FreqHighHz >= halfRate && area.PanLow <= kPanOpenLow &&
           area.PanHigh >= kPanOpenHigh && area.DepthLow <= 0.0f && area.DepthHigh >= kPi;
}

SaveFile::SaveFile() = default;

SaveFile::~SaveFile()
{
    mReader.Close();
    mWriter.Close();
    // SafeOutput's destructor removes a temporary that was neither committed nor discarded.
}

SaveResult SaveFile::Check(const std::string& inputPath, const std::string& outputPath,
                           ExtensiblePcm extensible)
{
    SaveResult result;
    mChecked = false;
    mInputPath = inputPath;
    mOutputPath = WithWavExtension(outputPath);
    result.Message = OpenCheckedWave(inputPath, mReader, extensible, &result.Reason);
    if (result.Message != kMsgNone)
        return result;
    // A folder (or a link to one) is refused now rather than after the whole export.
    result.Message = CheckOutputName(inputPath, mOutputPath, &result.Reason);
    if (result.Message != kMsgNone) {
        mReader.Close();
        return result;
    }
    mChecked = true;
    return result;
}

bool SaveFile::OutputExists() const
{
    return NameExists(mOutputPath);
}

int64_t SaveFile::StretchBytes(const ExportSettings& settings)
{
    if (!mChecked)
        return 0;
    return ExportJob(mReader, mWriter, settings).TotalBytes();
}

SaveResult SaveFile::Begin(bool replaceExisting)
{
    SaveResult result;
    if (!mChecked) {
        result.Message = kMsgCannotOpen;
        return result;
    }
    mReplaceExisting = replaceExisting;
    if (!replaceExisting && OutputExists()) {
        result.Message = kMsgFileExists;
        return result;
    }
    const std::string temp = mOutput.Begin(mOutputPath, &result.Reason);
    if (temp.empty()) {
        result.Message = kMsgCreateFailed;
        return result;
    }
    // The saved file holds plain PCM of the input's format, also for an extensible input.
    mWriter.Format = mReader.Format;
    mWriter.Format.FormatTag = 1; // PCM
    if (mWriter.OpenWrite(temp) != kWaveOpened) {
        result.Message = kMsgCreateFailed;
        result.Reason = mWriter.LastError();
        mOutput.Discard();
        return result;
    }
    mBegun = true;
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
    ExportJob job(mReader, mWriter, settings);
    const int64_t total = job.TotalBytes() / kFrameBytes;
    mSavedBytes.store(0);
    mStretchFrames.store(total);
    result.TotalFrames = total;
    result.NothingKept =
        total == 0 ||
        AreaKeepsNothing(settings.Area, static_cast<int>(std::min<uint32_t>(
                                            mReader.Format.SamplesPerSec, 0x7FFFFFFF)));

    result.Message = job.Run(
        [this, &progress](int64_t written, int64_t bytes) {
            mSavedBytes.store(written);
            if (progress)
                progress(written, bytes);
        },
        abort);
    result.Aborted = job.Aborted();
    if (result.Message == kMsgSaveFailed)
        result.Reason = mWriter.LastError();
    mReader.Close();
    if (mWriter.Close() != 0 && result.Message == kMsgNone) {
        result.Message = kMsgSaveFailed;
        result.Reason = mWriter.LastError();
    }
    const bool complete = result.Message == kMsgNone && !result.Aborted;
    if (Settle(complete, result))
        result.SavedFrames = job.Written() / kFrameBytes;
    return result;
}

bool SaveFile::Settle(bool complete, SaveResult& result)
{
    using Existing = SafeOutput::Existing;
    const std::string temp = mOutput.TempPath();
    std::error_code ec;
    if (complete) {
        if (mOutput.Commit(mReplaceExisting ? Existing::Replace : Existing::KeepAndFail, &ec))
            return true;
        if (ec == std::errc::file_exists) {
            // Another save took the name while this one ran: its file stays.
            mOutput.Discard();
            result.Message = kMsgFileExists;
            return false;
        }
        // The temporary stays (SafeOutput keeps it after a failed rename), so the sound is
        // not lost.
        result.Message = kMsgSaveFailed;
        result.Reason = ec;
        return false;
    }
    // An unfinished file never takes the place of one that is there.
    if (NameExists(mOutputPath) || !IsValidWave(temp)) {
        mOutput.Discard();
        return false;
    }
    if (mOutput.Commit(Existing::KeepAndFail, &ec))
        return true;
    mOutput.Discard();
    return false;
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
