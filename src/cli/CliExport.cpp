// varnel-cli export: one file, or a batch into a folder with several files at a time; and
// varnel-cli convert, the same without the filter.

#include "cli/CliCommon.h"
#include "cli/CliTexts.h"

#include "audio/ExportJob.h"
#include "audio/SaveFile.h"
#include "audio/Twave.h"
#include "platform/FileNames.h"
#include "settings/Langset.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace varnel::cli {

namespace {

namespace fs = std::filesystem;

struct ExportOptions
{
    AreaOptions Area;
    OutputRequest Request;
    // A batch's outputs: their inputs' names with this container's extension.
    Container BatchContainer = Container::Wav;
    int Quality = kDefaultQuality;
    bool HasAB = false;
    int64_t PointA = 0;
    int64_t PointB = 0;
    bool Force = false;
    bool Quiet = false;
    // Threads per file's export; 0: the cores the process may use, shared among a batch's jobs.
    int Threads = 0;
    // The rest stem: a single export's file (--rest), or a batch's name suffix (--rest-suffix);
    // empty for none.
    std::string Rest;
    std::string RestSuffix;
};

// One file's export and what it reports while it runs. The save lives here, not in the
// export, because the thread that draws the progress reads its position (Fraction may be
// called from any thread) and must never find it destroyed.
struct ExportProgress
{
    SaveFile Save;
    ExportSettings Settings;
    bool Existed = false;              // a file had the output's name when the save began
    bool RestExisted = false;          // and the rest stem's
    std::atomic<double> Seconds{-1.0}; // the stretch's length; -1 until the input is checked
    std::atomic<bool> Started{false};

    // Any thread. 0..1. The job reports written bytes only every few seconds of sound; the
    // reader's position moves with every block.
    double Fraction() const { return Started.load() ? Save.Fraction() : 0.0; }
};

// "A:B" with two whole frame numbers.
bool ParseFrameRange(const std::string& text, int64_t& a, int64_t& b)
{
    const size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string parts[2] = {text.substr(0, colon), text.substr(colon + 1)};
    int64_t values[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        // 18 digits cannot overflow 64 bits, and no WAV file has that many frames.
        if (parts[k].empty() || parts[k].size() > 18 ||
            parts[k].find_first_not_of("0123456789") != std::string::npos)
            return false;
        values[k] = std::stoll(parts[k]);
    }
    a = values[0];
    b = values[1];
    return true;
}

// The first half of one file's export: checks the input (opening it once) and the output,
// creates the temporary output and works out the settings. Any thread; prints its own
// messages. Returns kExitDone or the exit code for this file.
// Why an output's format cannot be written, for a usage error; "" when it can.
std::string FormatRefusalText(OutputRefusal refusal, int rate)
{
    char kHz[32];
    std::snprintf(kHz, sizeof kHz, "%g kHz", rate / 1000.0);
    switch (refusal) {
    case OutputRefusal::None: break;
    case OutputRefusal::BitsNotForLossy:
        return "--bits does not apply to a lossy output (.ogg, .opus, .mp3); it takes "
               "--lossy-quality";
    case OutputRefusal::FloatNotForFlac: return "FLAC holds integer samples: --bits 16 or 24";
    case OutputRefusal::RateNotForOpus:
        return std::string("Opus holds sound at 8, 12, 16, 24 or 48 kHz, not at ") + kHz;
    case OutputRefusal::RateNotForMp3:
        return std::string("MP3 holds sound at 8 to 48 kHz (the MPEG rates), not at ") + kHz;
    case OutputRefusal::RateNotForVorbis:
        return std::string("Ogg Vorbis holds sound up to 192 kHz, not at ") + kHz;
    }
    return {};
}

// The path a save's message is about: the rest stem's file or the output's.
const std::string& MessagePath(const SaveFile& save, const SaveResult& r)
{
    return r.ForRest ? save.RestPath() : save.OutputPath();
}

int PrepareExport(const std::string& input, const std::string& output, const std::string& rest,
                  const ExportOptions& options, ExportProgress& progress)
{
    SaveFile& save = progress.Save;
    SaveResult r = save.CheckAnyFormat(input, output, options.Request);
    if (r.FormatRefusal != OutputRefusal::None) {
        PrintFileText(output, FormatRefusalText(r.FormatRefusal, save.InputRate()));
        return kExitUsage;
    }
    if (r.Message == kMsgNone) {
        const int rate = save.InputRate();
        const FftParams fft = ChooseFftParams(options.Quality, rate);
        ExportSettings& settings = progress.Settings;
        settings.FftSize = fft.FftSize;
        settings.Overlap = fft.Overlap;
        settings.Area = options.Area.Resolve(rate);
        settings.Threads = options.Threads;
        settings.PlainCopy = options.Request.PlainCopy;
        if (options.HasAB) {
            // Points past the end mean the end: the stretch is what the file has.
            const int64_t frames = save.InputFrames();
            settings.SaveAB = true;
            settings.PointA = std::min(options.PointA, frames);
            settings.PointB = std::min(options.PointB, frames);
        }
        const int64_t frames = save.StretchBytes(settings) / kFrameBytes;
        // Refused before anything is written: a file the library cannot make valid is no
        // result (the rest stem shares the output's container).
        if (frames == 0 && !save.OutputIsWave16() &&
            !SoundSink::CanBeEmpty(save.OutputFormat().Kind)) {
            PrintFileText(save.OutputPath(), EmptyOutputText(save.OutputFormat().Kind));
            return kExitOutputRefused;
        }
        progress.Seconds.store(static_cast<double>(frames) / rate);
    }
    if (r.Message == kMsgNone && !rest.empty())
        r = save.SetRest(rest);
    if (r.Message == kMsgNone) {
        progress.Existed = save.OutputExists();
        progress.RestExisted = save.RestExists();
        r = save.Begin(options.Force);
    }
    if (r.Message != kMsgNone) {
        // The reason is shown for the output; an input's message says enough as it is.
        if (ExitCodeForMessage(r.Message) == kExitInputRefused)
            PrintInputRefusal(input, r.Message, r.RefusedChannels);
        else
            PrintFileMessage(r.ForRest ? rest : save.OutputPath(), r.Message, r.Reason);
        return ExitCodeForMessage(r.Message);
    }
    return kExitDone;
}

// The second half: runs the export and reports how it ended. The thread that runs it owns
// the save until it returns. Returns the exit code for this file.
int FinishExport(ExportProgress& progress)
{
    SaveFile& save = progress.Save;
    progress.Started.store(true);
    const bool rest = save.HasRest();
    const SaveResult r = save.Run(progress.Settings, nullptr, InterruptFlag());
    if (r.Message != kMsgNone)
        PrintFileMessage(MessagePath(save, r), r.Message, r.Reason);
    // A file that could not take its name is never left without a word.
    if (!r.KeptAs.empty())
        PrintFileText(MessagePath(save, r), TLangSet().KeptAsText(r.KeptAs));
    if (r.Message != kMsgNone)
        return ExitCodeForMessage(r.Message);
    if (r.Aborted) {
        PrintFileText(save.OutputPath(),
                      InterruptedText(r.SavedFrames, r.TotalFrames,
                                      static_cast<uint32_t>(save.InputRate()), progress.Existed));
        // The rest stem was written block for block beside the output.
        if (rest)
            PrintFileText(save.RestPath(),
                          InterruptedText(progress.RestExisted ? 0 : r.SavedFrames, r.TotalFrames,
                                          static_cast<uint32_t>(save.InputRate()),
                                          progress.RestExisted));
        return InterruptedExitCode();
    }
    if (r.NothingKept)
        PrintFileText(save.OutputPath(), NothingKeptText());
    return kExitDone;
}

int RunSingle(const std::string& input, const std::string& output, const ExportOptions& options)
{
    ExportProgress progress;
    if (const int refused = PrepareExport(input, output, options.Rest, options, progress);
        refused != kExitDone)
        return refused;
    ProgressLine line(options.Quiet, progress.Seconds.load());
    if (!line.Enabled())
        return FinishExport(progress);

    // The export runs on its own thread so this one can keep the progress line moving.
    std::atomic<bool> done{false};
    int code = kExitDone;
    std::thread worker([&] {
        code = FinishExport(progress);
        done.store(true);
    });
    while (!done.load()) {
        line.Update(progress.Fraction());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    worker.join();
    line.Finish();
    return code;
}

int RunBatch(const std::string& outDir, const std::vector<std::string>& inputs, int jobs,
             const ExportOptions& options)
{
    std::error_code ec;
    const fs::path folder = PathFromBytes(outDir);
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder)) {
        PrintFileMessage(outDir, kMsgCreateFailed, ec);
        return kExitOutputRefused;
    }

    // Two inputs of one name would race for one output file (a rest stem's included).
    std::vector<std::string> outputs, rests;
    std::map<std::string, std::string> firstInputOf;
    for (const std::string& input : inputs) {
        fs::path name = PathFromBytes(FileNameOf(input));
        name.replace_extension(ExtensionOf(options.BatchContainer));
        std::vector<std::string> names{BytesFromPath(folder / name)};
        if (!options.RestSuffix.empty()) {
            fs::path restName = PathFromBytes(BytesFromPath(name.stem()) + options.RestSuffix);
            restName += ExtensionOf(options.BatchContainer);
            names.push_back(BytesFromPath(folder / restName));
        }
        for (const std::string& output : names) {
            const auto [it, fresh] = firstInputOf.emplace(output, input);
            if (!fresh)
                return UsageError("\"" + input + "\" and \"" + it->second +
                                  "\" would both be saved as \"" + output + "\"");
        }
        outputs.push_back(names[0]);
        rests.push_back(names.size() > 1 ? names[1] : std::string());
    }

    const size_t count = inputs.size();
    std::vector<std::unique_ptr<ExportProgress>> progress;
    for (size_t i = 0; i < count; ++i)
        progress.push_back(std::make_unique<ExportProgress>());
    std::vector<int> codes(count, kExitDone);
    std::vector<std::atomic<bool>> finished(count);
    std::atomic<size_t> next{0};
    std::atomic<size_t> doneCount{0};

    // Files at a time times threads per file stays within the usable cores unless asked.
    const int filesAtOnce = std::max(1, std::min(jobs, static_cast<int>(count)));
    ExportOptions fileOptions = options;
    if (fileOptions.Threads == 0)
        fileOptions.Threads = std::max(1, ExportJob::UsableCores() / filesAtOnce);

    auto work = [&] {
        while (!InterruptFlag().load()) {
            const size_t i = next.fetch_add(1);
            if (i >= count)
                break;
            codes[i] = PrepareExport(inputs[i], outputs[i], rests[i], fileOptions, *progress[i]);
            if (codes[i] == kExitDone)
                codes[i] = FinishExport(*progress[i]);
            finished[i].store(true);
            doneCount.fetch_add(1);
        }
    };
    const int threads = std::max(1, std::min(jobs, static_cast<int>(count)));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back(work);

    ProgressLine line(options.Quiet, 0.0);
    while (line.Enabled() && doneCount.load() < count && !InterruptFlag().load()) {
        // Each file's length is learnt when its export checks it; files not reached yet count
        // as long as the average of those known.
        double doneSeconds = 0.0;
        double knownSeconds = 0.0;
        size_t known = 0;
        for (size_t i = 0; i < count; ++i) {
            const double seconds = progress[i]->Seconds.load();
            if (seconds < 0.0)
                continue;
            ++known;
            knownSeconds += seconds;
            doneSeconds += finished[i].load() ? seconds : seconds * progress[i]->Fraction();
        }
        const double totalSeconds =
            known > 0 ? knownSeconds / static_cast<double>(known) * static_cast<double>(count)
                      : 0.0;
        line.SetTotalSeconds(totalSeconds);
        line.Update(totalSeconds > 0.0 ? doneSeconds / totalSeconds : 0.0,
                    std::to_string(doneCount.load()) + "/" + std::to_string(count) + " files");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread& t : pool)
        t.join();
    line.Finish();

    if (InterruptFlag().load())
        return InterruptedExitCode();
    int worst = kExitDone;
    for (int code : codes)
        worst = std::max(worst, code);
    return worst;
}

// The options export and convert share: the output's format, the stretch, existing files and
// the progress line. Taken: the option (and its value) was stored; NotMine; Bad (the usage
// error is printed).
OptionParse ParseOutputOption(int argc, char** argv, int& i, ExportOptions& options)
{
    const std::string arg = argv[i];
    if (arg == "--force") {
        options.Force = true;
        return OptionParse::Taken;
    }
    if (arg == "--quiet") {
        options.Quiet = true;
        return OptionParse::Taken;
    }
    if (arg == "--no-dither") {
        options.Request.Dither = false;
        return OptionParse::Taken;
    }
    std::string value;
    OptionParse parsed = TakeOptionValue(argc, argv, i, "--ab", value);
    if (parsed == OptionParse::Taken && !ParseFrameRange(value, options.PointA, options.PointB)) {
        UsageError("--ab takes A:B, two frame numbers (got \"" + value + "\")");
        return OptionParse::Bad;
    }
    if (parsed == OptionParse::Taken)
        options.HasAB = true;
    if (parsed != OptionParse::NotMine)
        return parsed;
    parsed = TakeOptionValue(argc, argv, i, "--bits", value);
    if (parsed == OptionParse::Taken) {
        if (value == "16")
            options.Request.Bits = BitsRequest::Pcm16;
        else if (value == "24")
            options.Request.Bits = BitsRequest::Pcm24;
        else if (value == "32f")
            options.Request.Bits = BitsRequest::Float32;
        else {
            UsageError("--bits takes 16, 24 or 32f (32-bit float) (got \"" + value + "\")");
            return OptionParse::Bad;
        }
    }
    if (parsed != OptionParse::NotMine)
        return parsed;
    parsed = TakeOptionValue(argc, argv, i, "--lossy-quality", value);
    if (parsed == OptionParse::Taken &&
        !ParseInt(value, kMinLossyQuality, kMaxLossyQuality, options.Request.LossyQuality)) {
        UsageError("--lossy-quality takes 0 (smallest file) to 10 (best sound) (got \"" + value +
                   "\")");
        return OptionParse::Bad;
    }
    return parsed;
}

// A usage error when the output's extension names no format Varnel writes, or the request
// cannot be met by that container whatever the input (found before any file is opened).
bool OutputFormatIsUsable(const std::string& output, const OutputRequest& request)
{
    Container container = Container::Wav;
    if (!ContainerForName(output, container)) {
        UsageError("\"" + FileNameOf(output) +
                   "\": the output's extension chooses its format, one of .wav .flac .aif .aiff "
                   ".ogg .opus .mp3");
        return false;
    }
    OutputRefusal refusal = OutputRefusal::None;
    ChooseOutputSample(container, SampleFormat::Pcm16, request.Bits, 48000, refusal);
    if (refusal != OutputRefusal::None) {
        UsageError(FormatRefusalText(refusal, 48000));
        return false;
    }
    return true;
}

// A usage error when the rest stem's name names another format than the output's, or the
// output itself. A name without an extension gets the output's.
bool RestNameIsUsable(const std::string& output, const std::string& rest)
{
    Container outContainer = Container::Wav, restContainer = Container::Wav;
    ContainerForName(output, outContainer);
    const bool hasExtension = !BytesFromPath(PathFromBytes(rest).extension()).empty();
    if (hasExtension && (!ContainerForName(rest, restContainer) || restContainer != outContainer)) {
        UsageError("\"" + FileNameOf(rest) + "\": the rest is written in the output's format (" +
                   ExtensionOf(outContainer) + ")");
        return false;
    }
    const std::string restPath = RestPathFor(rest, output);
    // Absolute first: a relative name none of whose folders exist would stay as it was
    // spelt, so "x.wav" and "./x.wav" would not meet.
    std::error_code ecA, ecB;
    const fs::path a = fs::weakly_canonical(fs::absolute(PathFromBytes(output), ecA), ecA);
    const fs::path b = fs::weakly_canonical(fs::absolute(PathFromBytes(restPath), ecB), ecB);
    if (restPath == output || (!ecA && !ecB && a == b)) {
        UsageError("--rest names the output itself");
        return false;
    }
    return true;
}

int RunCommand(int argc, char** argv, bool convert)
{
    ExportOptions options;
    options.Request.PlainCopy = convert;
    std::string outDir;
    bool hasOutDir = false;
    bool hasFormat = false;
    int jobs = 1;
    bool hasJobs = false;
    std::vector<std::string> files;
    bool optionsEnded = false;
    const std::string command = convert ? "convert" : "export";

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (TakeEndOfOptions(arg, optionsEnded))
            continue;
        if (optionsEnded || !IsOptionArgument(arg)) {
            files.push_back(arg);
            continue;
        }
        OptionParse parsed = ParseOutputOption(argc, argv, i, options);
        if (parsed == OptionParse::NotMine && !convert) {
            parsed = ParseAreaOption(argc, argv, i, options.Area);
            if (parsed == OptionParse::NotMine)
                parsed = ParseQualityOption(argc, argv, i, options.Quality);
        }
        if (parsed == OptionParse::Bad)
            return kExitUsage;
        if (parsed == OptionParse::Taken)
            continue;

        std::string value;
        if (convert) {
            return UsageError("convert: unknown option " + std::string(arg) +
                              " (convert copies the sound as it is, without the filter)");
        } else if ((parsed = TakeOptionValue(argc, argv, i, "--out-dir", value)) !=
                   OptionParse::NotMine) {
            if (parsed == OptionParse::Bad)
                return kExitUsage;
            if (value.empty())
                return UsageError("--out-dir needs a folder");
            outDir = value;
            hasOutDir = true;
        } else if ((parsed = TakeOptionValue(argc, argv, i, "--format", value)) !=
                   OptionParse::NotMine) {
            if (parsed == OptionParse::Bad)
                return kExitUsage;
            if (value.empty() || value.find('.') != std::string::npos ||
                !ContainerForName("x." + value, options.BatchContainer))
                return UsageError("--format takes wav, flac, aif, aiff, ogg, opus or mp3 (got \"" +
                                  value + "\")");
            hasFormat = true;
        } else if ((parsed = TakeOptionValue(argc, argv, i, "--threads", value)) !=
                   OptionParse::NotMine) {
            if (parsed == OptionParse::Bad)
                return kExitUsage;
            if (!ParseInt(value, 1, 256, options.Threads))
                return UsageError("--threads takes a number of threads per file, 1 to 256 (got \"" +
                                  value + "\")");
        } else if ((parsed = TakeOptionValue(argc, argv, i, "--rest", value)) !=
                   OptionParse::NotMine) {
            if (parsed == OptionParse::Bad)
                return kExitUsage;
            if (value.empty())
                return UsageError("--rest needs a file name");
            options.Rest = value;
        } else if ((parsed = TakeOptionValue(argc, argv, i, "--rest-suffix", value)) !=
                   OptionParse::NotMine) {
            if (parsed == OptionParse::Bad)
                return kExitUsage;
            if (value.empty() || value.find('/') != std::string::npos ||
                value.find('\\') != std::string::npos)
                return UsageError("--rest-suffix takes a part of a file name, such as -rest "
                                  "(got \"" +
                                  value + "\")");
            options.RestSuffix = value;
        } else if ((parsed = TakeOptionValue(argc, argv, i, "--jobs", value)) !=
                   OptionParse::NotMine) {
            if (parsed == OptionParse::Bad)
                return kExitUsage;
            if (!ParseInt(value, 1, 256, jobs))
                return UsageError("--jobs takes a number of files at a time, 1 to 256 (got \"" +
                                  value + "\")");
            hasJobs = true;
        } else {
            return UsageError(std::string("export: unknown option ") + arg);
        }
    }

    if (hasOutDir) {
        if (options.HasAB)
            return UsageError("--ab applies to a single file, not to --out-dir");
        if (!options.Rest.empty())
            return UsageError("--rest names a single export's second file; a batch takes "
                              "--rest-suffix");
        if (files.empty())
            return UsageError("export --out-dir needs at least one input file");
        if (!OutputFormatIsUsable(std::string("x") + ExtensionOf(options.BatchContainer),
                                  options.Request))
            return kExitUsage;
        InstallInterruptHandler();
        return RunBatch(outDir, files, jobs, options);
    }
    if (hasJobs)
        return UsageError("--jobs applies to --out-dir");
    if (hasFormat)
        return UsageError("--format applies to --out-dir; a single output's extension chooses "
                          "its format");
    if (files.size() != 2)
        return UsageError(convert ? "convert takes IN OUT"
                                  : "export takes IN OUT, or --out-dir DIR IN...");
    if (!OutputFormatIsUsable(files[1], options.Request))
        return kExitUsage;
    if (!options.RestSuffix.empty())
        return UsageError("--rest-suffix applies to --out-dir; a single export takes --rest");
    if (!options.Rest.empty() && !RestNameIsUsable(files[1], options.Rest))
        return kExitUsage;
    InstallInterruptHandler();
    return RunSingle(files[0], files[1], options);
}

} // namespace

int RunExport(int argc, char** argv)
{
    return RunCommand(argc, argv, false);
}

int RunConvert(int argc, char** argv)
{
    return RunCommand(argc, argv, true);
}

} // namespace varnel::cli
