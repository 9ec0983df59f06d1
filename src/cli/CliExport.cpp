// varnel-cli export: one file, or a batch into a folder with several files at a time.

#include "cli/CliCommon.h"

#include "audio/ExportJob.h"
#include "audio/OutputFile.h"
#include "audio/Twave.h"
#include "audio/WaveCheck.h"

#include <algorithm>
#include <atomic>
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
    int Quality = kDefaultQuality;
    bool HasAB = false;
    int64_t PointA = 0;
    int64_t PointB = 0;
    bool Force = false;
    bool Quiet = false;
};

// One file's export and what it reports while it runs. The reader lives here, not in the
// export, because the thread that draws the progress reads its position (TellFrame may be
// called from any thread) and must never find it destroyed.
struct ExportProgress
{
    TWaveData Reader;
    std::atomic<bool> Started{false};
    std::atomic<int64_t> FirstFrame{0};
    std::atomic<int64_t> Frames{0};

    // Any thread. 0..1. The job reports written bytes only every few seconds of sound; the
    // reader's position moves with every block.
    double Fraction() const
    {
        const int64_t frames = Frames.load();
        if (!Started.load() || frames <= 0)
            return 0.0;
        const double read = static_cast<double>(Reader.TellFrame() - FirstFrame.load());
        return std::clamp(read / static_cast<double>(frames), 0.0, 1.0);
    }
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

// Exports input into output (already given its .wav extension). Any thread; prints its own
// messages. Returns the exit code for this file.
int ExportFile(const std::string& input, const std::string& output, const ExportOptions& options,
               ExportProgress& progress)
{
    TWaveData& reader = progress.Reader;
    if (const int refused = OpenInput(input, reader); refused != kExitDone)
        return refused;
    if (const int refused = CheckOutputPath(input, output, options.Force); refused != kExitDone)
        return refused;

    std::error_code ec;
    const bool replacing = fs::exists(output, ec);
    SafeOutput safe;
    const std::string temp = safe.Begin(output);
    TWaveData writer;
    writer.Format = reader.Format;
    if (temp.empty() || writer.OpenWrite(temp) != kWaveOpened) {
        safe.Discard();
        PrintFileMessage(output, kMsgCreateFailed);
        return kExitOutputRefused;
    }

    const int rate = static_cast<int>(reader.Format.SamplesPerSec);
    const FftParams fft = ChooseFftParams(options.Quality, rate);
    ExportSettings settings;
    settings.FftSize = fft.FftSize;
    settings.Overlap = fft.Overlap;
    settings.Area = options.Area.Resolve(rate);
    if (options.HasAB) {
        // Points past the end mean the end: the stretch is what the file has.
        const int64_t frames = reader.FrameCount();
        settings.SaveAB = true;
        settings.PointA = std::min(options.PointA, frames);
        settings.PointB = std::min(options.PointB, frames);
    }

    ExportJob job(reader, writer, settings);
    progress.FirstFrame.store(settings.SaveAB ? std::min(settings.PointA, settings.PointB) : 0);
    progress.Frames.store(job.TotalBytes() / reader.Format.BlockAlign);
    progress.Started.store(true);
    MessageId message = job.Run(nullptr, InterruptFlag());
    reader.Close();
    if (writer.Close() != 0 && message == kMsgNone)
        message = kMsgSaveFailed;

    const bool complete = message == kMsgNone && !job.Aborted();
    // An unfinished file never replaces one that was there; where there was none, the part
    // written is kept as a valid, shorter file, as an aborted save in the window leaves it.
    if (!complete && replacing) {
        safe.Discard();
    } else if (!safe.Commit() && message == kMsgNone) {
        message = kMsgSaveFailed;
    }
    if (message != kMsgNone) {
        PrintFileMessage(output, message);
        return kExitExportFailed;
    }
    return job.Aborted() ? kExitInterrupted : kExitDone;
}

// Seconds of sound the file holds, for the progress line; 0 when it cannot be read (the
// export reports the fault).
double SecondsOf(const std::string& path, const ExportOptions& options)
{
    WaveFormat format;
    if (CheckWaveFile(path, &format) != kMsgNone || format.SamplesPerSec == 0)
        return 0.0;
    TWaveData reader;
    if (reader.OpenRead(path) != kWaveOpened)
        return 0.0;
    int64_t frames = reader.FrameCount();
    if (options.HasAB) {
        const int64_t a = std::min(options.PointA, frames);
        const int64_t b = std::min(options.PointB, frames);
        frames = a > b ? a - b : b - a;
    }
    return static_cast<double>(frames) / format.SamplesPerSec;
}

int RunSingle(const std::string& input, const std::string& output, const ExportOptions& options)
{
    ExportProgress progress;
    ProgressLine line(options.Quiet, SecondsOf(input, options));
    if (!line.Enabled())
        return ExportFile(input, output, options, progress);

    // The export runs on its own thread so this one can keep the progress line moving.
    std::atomic<bool> done{false};
    int code = kExitDone;
    std::thread worker([&] {
        code = ExportFile(input, output, options, progress);
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
    fs::create_directories(outDir, ec);
    if (!fs::is_directory(outDir, ec)) {
        PrintFileMessage(outDir, kMsgCreateFailed);
        return kExitOutputRefused;
    }

    // Two inputs of one name would race for one output file.
    std::vector<std::string> outputs;
    std::map<std::string, std::string> firstInputOf;
    for (const std::string& input : inputs) {
        const std::string output =
            (fs::path(outDir) / WithWavExtension(FileNameOf(input))).string();
        const auto [it, fresh] = firstInputOf.emplace(output, input);
        if (!fresh)
            return UsageError("\"" + input + "\" and \"" + it->second +
                              "\" would both be saved as \"" + output + "\"");
        outputs.push_back(output);
    }

    std::vector<double> seconds;
    double totalSeconds = 0.0;
    for (const std::string& input : inputs) {
        seconds.push_back(SecondsOf(input, options));
        totalSeconds += seconds.back();
    }

    const size_t count = inputs.size();
    std::vector<std::unique_ptr<ExportProgress>> progress;
    for (size_t i = 0; i < count; ++i)
        progress.push_back(std::make_unique<ExportProgress>());
    std::vector<int> codes(count, kExitDone);
    std::vector<std::atomic<bool>> finished(count);
    std::atomic<size_t> next{0};
    std::atomic<size_t> doneCount{0};

    auto work = [&] {
        while (!InterruptFlag().load()) {
            const size_t i = next.fetch_add(1);
            if (i >= count)
                break;
            codes[i] = ExportFile(inputs[i], outputs[i], options, *progress[i]);
            finished[i].store(true);
            doneCount.fetch_add(1);
        }
    };
    const int threads = std::max(1, std::min(jobs, static_cast<int>(count)));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back(work);

    ProgressLine line(options.Quiet, totalSeconds);
    while (line.Enabled() && doneCount.load() < count && !InterruptFlag().load()) {
        double doneSeconds = 0.0;
        for (size_t i = 0; i < count; ++i) {
            if (finished[i].load()) {
                doneSeconds += seconds[i];
                continue;
            }
            doneSeconds += seconds[i] * progress[i]->Fraction();
        }
        line.Update(totalSeconds > 0.0 ? doneSeconds / totalSeconds : 0.0,
                    std::to_string(doneCount.load()) + "/" + std::to_string(count) + " files");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (std::thread& t : pool)
        t.join();
    line.Finish();

    if (InterruptFlag().load())
        return kExitInterrupted;
    int worst = kExitDone;
    for (int code : codes)
        worst = std::max(worst, code);
    return worst;
}

} // namespace

int RunExport(int argc, char** argv)
{
    ExportOptions options;
    std::string outDir;
    bool hasOutDir = false;
    int jobs = 1;
    bool hasJobs = false;
    std::vector<std::string> files;

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!IsOptionArgument(arg)) {
            files.push_back(arg);
            continue;
        }
        OptionParse parsed = ParseAreaOption(argc, argv, i, options.Area);
        if (parsed == OptionParse::NotMine)
            parsed = ParseQualityOption(argc, argv, i, options.Quality);
        if (parsed == OptionParse::Bad)
            return kExitUsage;
        if (parsed == OptionParse::Taken)
            continue;

        std::string value;
        if (std::string(arg) == "--force") {
            options.Force = true;
        } else if (std::string(arg) == "--quiet") {
            options.Quiet = true;
        } else if ((parsed = TakeOptionValue(argc, argv, i, "--ab", value)) !=
                   OptionParse::NotMine) {
            if (parsed == OptionParse::Bad)
                return kExitUsage;
            if (!ParseFrameRange(value, options.PointA, options.PointB))
                return UsageError("--ab takes A:B, two frame numbers (got \"" + value + "\")");
            options.HasAB = true;
        } else if ((parsed = TakeOptionValue(argc, argv, i, "--out-dir", value)) !=
                   OptionParse::NotMine) {
            if (parsed == OptionParse::Bad)
                return kExitUsage;
            if (value.empty())
                return UsageError("--out-dir needs a folder");
            outDir = value;
            hasOutDir = true;
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

    InstallInterruptHandler();
    if (hasOutDir) {
        if (options.HasAB)
            return UsageError("--ab applies to a single file, not to --out-dir");
        if (files.empty())
            return UsageError("export --out-dir needs at least one input file");
        return RunBatch(outDir, files, jobs, options);
    }
    if (hasJobs)
        return UsageError("--jobs applies to --out-dir");
    if (files.size() != 2)
        return UsageError("export takes IN.wav OUT.wav, or --out-dir DIR IN.wav...");
    return RunSingle(files[0], WithWavExtension(files[1]), options);
}

} // namespace varnel::cli
