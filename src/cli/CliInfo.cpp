// varnel-cli info IN: the file's container, sample format, rate, channels and length, and the
// FFT the filter would use for it.

#include "cli/CliCommon.h"
#include "cli/CliTexts.h"

#include "audio/SaveFile.h"

#include <cstdio>
#include <string>

namespace varnel::cli {

namespace {

// "m:ss.mmm", or "h:mm:ss.mmm" from an hour on.
std::string DurationText(int64_t frames, uint32_t sampleRate)
{
    const int64_t millis = sampleRate ? frames * 1000 / sampleRate : 0;
    const int64_t ms = millis % 1000;
    const int64_t seconds = millis / 1000 % 60;
    const int64_t minutes = millis / 60000 % 60;
    const int64_t hours = millis / 3600000;
    char text[64];
    if (hours > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(hours),
                      static_cast<long long>(minutes), static_cast<long long>(seconds),
                      static_cast<long long>(ms));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(minutes),
                      static_cast<long long>(seconds), static_cast<long long>(ms));
    return text;
}

} // namespace

int RunInfo(int argc, char** argv)
{
    std::string input;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (TakeEndOfOptions(argv[i], optionsEnded))
            continue;
        if (!optionsEnded && IsOptionArgument(argv[i]))
            return UsageError(std::string("info: unknown option ") + argv[i]);
        if (!input.empty())
            return UsageError("info takes one input file");
        input = argv[i];
    }
    if (input.empty())
        return UsageError("info needs an input file");

    InputFile file;
    if (const int refused = OpenInput(input, file); refused != kExitDone)
        return refused;
    const SoundInfo info = file.Info();
    file.Close();
    const int64_t frames = info.Frames;
    const int rate = info.SampleRate;
    const auto rateHz = static_cast<uint32_t>(rate);

    const FftParams fft = ChooseFftParams(kDefaultQuality, rate);
    std::printf("file      %s\n", FileNameOf(input).c_str());
    std::printf("container %s\n", info.ContainerName.c_str());
    std::printf("format    %s\n", FormatText(info).c_str());
    if (!info.Title.empty())
        std::printf("title     %s\n", info.Title.c_str());
    if (!info.Artist.empty())
        std::printf("artist    %s\n", info.Artist.c_str());
    std::printf("length    %s (%lld frames)\n", DurationText(frames, rateHz).c_str(),
                static_cast<long long>(frames));
    std::printf("fft       %d points, overlap %d (quality %d)\n", fft.FftSize, fft.Overlap,
                kDefaultQuality);
    return kExitDone;
}

} // namespace varnel::cli
