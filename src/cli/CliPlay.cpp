// varnel-cli play IN.wav [area] [--quality 0-4] [--buffer MS] [--volume 0-20]: the filtered
// file in real time through the playback thread, as the window plays it, with the heard
// position on one updating line, until the end of the file or Ctrl-C.

#include "cli/CliCommon.h"

#include "audio/PlayTime.h"
#include "audio/SaveFile.h"
#include "audio/Tdsound.h"
#include "audio/Thsndplay.h"
#include "audio/Twave.h"
#include "dsp/AreaMapping.h"
#include "platform/FileNames.h"
#include "platform/Terminal.h"
#include "settings/Langset.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace varnel::cli {

namespace {

constexpr int kTickMs = 30;

// The heard position on one line: redrawn in place on a terminal, one line per change
// otherwise, so a log or a pipe gets readable lines.
class PositionLine
{
public:
    PositionLine() : mTerminal(IsTerminal(stdout)) {}

    void Show(const std::string& text)
    {
        if (text == mLast)
            return;
        mLast = text;
        std::fputs(mTerminal ? "\r" : "", stdout);
        std::fputs(text.c_str(), stdout);
        std::fputs(mTerminal ? "" : "\n", stdout);
        std::fflush(stdout);
    }

    void Finish()
    {
        if (mTerminal && !mLast.empty())
            std::fputs("\n", stdout);
        std::fflush(stdout);
    }

private:
    bool mTerminal;
    std::string mLast;
};

// Main thread. True when the file is now shorter than dataEnd bytes: it was cut while playing
// (seen before the reader's buffered part has played). (A file removed while playing still
// plays from the open reader.)
bool InputShrank(const std::string& path, int64_t dataEnd)
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(PathFromBytes(path), ec);
    return !ec && static_cast<int64_t>(size) < dataEnd;
}

} // namespace

int RunPlay(int argc, char** argv)
{
    std::string input;
    AreaOptions area;
    int quality = kDefaultQuality;
    int bufferMs = kDefaultBufferMs;
    int volumePosition = kVolumeBarStart;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (TakeEndOfOptions(argv[i], optionsEnded))
            continue;
        if (optionsEnded) {
            if (!input.empty())
                return UsageError("play takes one input file");
            input = argv[i];
            continue;
        }
        OptionParse parsed = ParseAreaOption(argc, argv, i, area);
        if (parsed == OptionParse::NotMine)
            parsed = ParseQualityOption(argc, argv, i, quality);
        if (parsed == OptionParse::NotMine)
            parsed = ParseBufferOption(argc, argv, i, bufferMs);
        if (parsed == OptionParse::NotMine) {
            std::string value;
            parsed = TakeOptionValue(argc, argv, i, "--volume", value);
            if (parsed == OptionParse::Taken && !ParseInt(value, 0, kVolumeBarMax, volumePosition))
                return UsageError("play: --volume takes a whole number 0.." +
                                  std::to_string(kVolumeBarMax) + ", not \"" + value + "\"");
        }
        if (parsed == OptionParse::Bad)
            return kExitUsage;
        if (parsed == OptionParse::Taken)
            continue;
        if (IsOptionArgument(argv[i]))
            return UsageError(std::string("play: unknown option ") + argv[i]);
        if (!input.empty())
            return UsageError("play takes one input file");
        input = argv[i];
    }
    if (input.empty())
        return UsageError("play needs an input file");

    InputFile file;
    if (const int refused = OpenInput(input, file); refused != kExitDone)
        return refused;
    const SoundInfo info = file.Info();
    const int rate = info.SampleRate;
    const int halfRate = rate / 2;
    const FftParams fft = ChooseFftParams(quality, rate);
    const int latency = PlayLatencyFrames(halfRate, bufferMs, fft.FftSize, fft.Overlap);
    const int64_t frameCount = info.Frames;
    const FilterArea filterArea = area.Resolve(rate);

    // A 16-bit WAV file plays as the window plays it; any other through its source's reader.
    const bool wave16 = file.IsWave16();
    std::unique_ptr<SourceReader> sourceReader;
    if (!wave16)
        sourceReader = file.Source().NewReader();
    // Without a sound device the silent one plays, so the position still moves.
    TDsound sound;
    sound.OpenDevice();
    const bool prepared =
        wave16 ? sound.PrepareStream(file.Wave(), bufferMs, fft.FftSize, fft.Overlap)
               : sourceReader &&
                     sound.PrepareStream(*sourceReader, info, bufferMs, fft.FftSize, fft.Overlap);
    if (!prepared) {
        PrintFileMessage(input, kMsgOutOfMemory);
        return kExitExportFailed;
    }

    InstallInterruptHandler();
    PositionLine line;
    std::error_code sizeError;
    const int64_t dataEnd =
        wave16 ? file.Wave().DataStart + static_cast<int64_t>(file.Wave().DataSize)
               : static_cast<int64_t>(std::filesystem::file_size(PathFromBytes(input), sizeError));
    bool shrank = false;
    const std::string total = FormatPlayTime(frameCount, halfRate);
    {
        std::unique_ptr<ThSoundPlay> thread =
            wave16 ? std::make_unique<ThSoundPlay>(sound, file.Wave())
                   : std::make_unique<ThSoundPlay>(sound, *sourceReader);
        thread->SetHalfRate(halfRate);
        thread->PostArea(filterArea);
        thread->PostVisualFeed(false);
        thread->PostVolume(VolumeFromSlider(volumePosition));
        if (!thread->Resume()) {
            PrintError("play: cannot start the playback thread");
            sound.ReleaseStream();
            return kExitExportFailed;
        }

        const std::atomic<bool>& interrupted = InterruptFlag();
        auto endSeen = std::chrono::steady_clock::time_point{};
        bool atEnd = false;
        while (!interrupted.load()) {
            // A file that shrinks while it plays never lets the reader reach its old end: seen
            // from its size, or by the playback thread when its reads come up short.
            if (!atEnd && (sound.ReadFault() || InputShrank(input, dataEnd))) {
                shrank = true;
                break;
            }
            const int64_t position = wave16 ? file.Wave().TellFrame() : sourceReader->Tell();
            const int64_t heard = position - latency > 0 ? position - latency : 0;
            line.Show(FormatPlayTime(heard, halfRate) + " / " + total);
            // A lossy decoder may give out a little before the length its file states.
            const bool ended = position >= frameCount || (!wave16 && sourceReader->Ended());
            if (ended && !atEnd) {
                atEnd = true;
                endSeen = std::chrono::steady_clock::now();
            }
            // Once the whole file is read, what is still in the ring plays out before the
            // stop, so the end of the file is heard.
            if (atEnd &&
                std::chrono::steady_clock::now() - endSeen >= std::chrono::milliseconds(bufferMs))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
        }
        thread->RequestPause();
    }
    sound.ReleaseStream();
    sourceReader.reset();
    file.Close();
    line.Finish();
    if (shrank) {
        PrintFileText(input, TLangSet().ReadFaultText());
        return kExitExportFailed;
    }
    return InterruptFlag().load() ? InterruptedExitCode() : kExitDone;
}

} // namespace varnel::cli
