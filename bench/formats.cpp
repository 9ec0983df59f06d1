// Export speed in other formats against the 16-bit WAV export, in the same run: the same
// 3-minute 44.1 kHz music as 16-bit WAV, 24-bit WAV, 32-bit float WAV, 24-bit FLAC and MP3,
// each exported into its own format (MP3 into 16-bit WAV) at quality 2 on one thread the way
// varnel-cli exports (SaveFile: the checks, the temporary, the rename), the 24-bit WAV export
// also on two threads; and a 60-minute 24-bit FLAC export on every usable core in a child
// process, whose peak resident memory is the figure.
//
//   bench_formats [--benchmark_filter=...]
// The counter x_realtime is seconds of sound saved per second of wall time. The timed exports
// run five times each in random order across the benchmarks; the table and the ratios below it
// use each one's median. Targets: 24-bit WAV and float WAV at least 0.85x the 16-bit WAV
// export's speed, 24-bit FLAC at least 0.45x, MP3 into 16-bit WAV at least 0.6x; the 24-bit
// WAV export on two threads at least 1.6x its one-thread speed; the 60-minute FLAC export
// under 64 MB resident.

#include "audio/SaveFile.h"
#include "dsp/AreaMapping.h"

#include "BenchMusic.h"
#include "BuildContext.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace varnel;

constexpr int kRate = 44100;
constexpr int kSeconds = 180;
constexpr int kFrames = kRate * kSeconds;
constexpr int kRepetitions = 5;
constexpr int kHourRepeats = 20; // 20 x 3 minutes

// Writes the music as a file of the library's format: integer formats get the values rounded
// to their width, float and lossy formats the values / 32768. repeats: times the music runs.
bool WriteMusic(const std::string& path, int format, const std::vector<double>& music,
                int repeats = 1)
{
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    const int sub = format & SF_FORMAT_SUBMASK;
    const bool integer = sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_PCM_24;
    const double scale = sub == SF_FORMAT_PCM_16 ? 1.0 : 256.0;
    std::vector<int> words;
    std::vector<float> floats;
    constexpr size_t kChunk = 2 * 65536;
    bool ok = true;
    for (int r = 0; r < repeats && ok; ++r) {
        for (size_t at = 0; at < music.size() && ok; at += kChunk) {
            const size_t n = std::min(kChunk, music.size() - at);
            sf_count_t written = 0;
            if (integer) {
                words.resize(n);
                for (size_t i = 0; i < n; ++i) {
                    const double v = std::clamp(std::round(music[at + i] * scale),
                                                -8388608.0 * scale / 256, 8388607.0 * scale / 256);
                    words[i] = static_cast<int>(v) * (sub == SF_FORMAT_PCM_16 ? 65536 : 256);
                }
                written = sf_writef_int(file, words.data(), static_cast<sf_count_t>(n / 2));
            } else {
                floats.resize(n);
                for (size_t i = 0; i < n; ++i)
                    floats[i] = static_cast<float>(music[at + i] / 32768.0);
                written = sf_writef_float(file, floats.data(), static_cast<sf_count_t>(n / 2));
            }
            ok = written == static_cast<sf_count_t>(n / 2);
        }
    }
    return sf_close(file) == 0 && ok;
}

struct Files
{
    std::filesystem::path Folder;
    std::map<std::string, std::string> Inputs; // by name: "wav16", "wav24", ...

    Files()
    {
        Folder = std::filesystem::temp_directory_path() /
                 ("varnel-bench-formats-" + std::to_string(::getpid()));
        std::filesystem::create_directories(Folder);
        const std::vector<double> music = MusicLike(kFrames, kRate);
        const struct
        {
            const char* Name;
            const char* File;
            int Format;
        } inputs[] = {
            {"wav16", "in16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
            {"wav24", "in24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
            {"float", "inf.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
            {"flac24", "in24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
            {"mp3", "in.mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
        };
        for (const auto& in : inputs) {
            const std::string path = (Folder / in.File).string();
            if (!WriteMusic(path, in.Format, music)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                std::exit(1);
            }
            Inputs[in.Name] = path;
        }
    }
    ~Files()
    {
        std::error_code ec;
        std::filesystem::remove_all(Folder, ec);
    }
};

const Files& BenchFiles()
{
    static const Files files;
    return files;
}

// User and system time of all the process's threads so far.
double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// One export as varnel-cli runs it; false on any failure.
bool ExportOnce(const std::string& input, const std::string& output, int threads,
                int64_t expectedFrames)
{
    SaveFile save;
    OutputRequest request;
    SaveResult r = save.CheckAnyFormat(input, output, request);
    if (r.Message != kMsgNone || r.FormatRefusal != OutputRefusal::None)
        return false;
    r = save.Begin(true);
    if (r.Message != kMsgNone)
        return false;
    ExportSettings settings;
    settings.FftSize = 8192;
    settings.Overlap = 16;
    settings.Threads = threads;
    // The window's start-up area: centre pans, voice band, front depths.
    settings.Area = StartupArea(kRate);
    std::atomic<bool> abort{false};
    r = save.Run(settings, nullptr, abort);
    return r.Message == kMsgNone && r.SavedFrames == expectedFrames;
}

// Arguments: the input's name (index into the table below) and the threads.
const char* const kInputNames[] = {"wav16", "wav24", "float", "flac24", "mp3"};
const char* const kOutputNames[] = {"out16.wav", "out24.wav", "outf.wav", "out24.flac",
                                    "outmp3.wav"};

void FormatExport(benchmark::State& state)
{
    const Files& files = BenchFiles();
    const auto index = static_cast<size_t>(state.range(0));
    const std::string input = files.Inputs.at(kInputNames[index]);
    const std::string output = (files.Folder / kOutputNames[index]).string();
    // Earlier runs' files go to the disk first, so their writing-back takes no processor time
    // from this run.
    ::sync();
    const double cpuBefore = ProcessCpuSeconds();
    for (auto _ : state) {
        if (!ExportOnce(input, output, static_cast<int>(state.range(1)), kFrames)) {
            state.SkipWithError("export failed");
            return;
        }
    }
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    // Processor time of every thread, which a busy machine does not inflate as it does the
    // wall time: the export's cost.
    state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
}

// A 60-minute 24-bit FLAC export into 24-bit FLAC on every usable core, in a child process;
// the counter is the child's peak resident memory in MB (the parent's pages it inherits
// included).
void LongFlacMemory(benchmark::State& state)
{
    const Files& files = BenchFiles();
    const std::string input = (files.Folder / "hour.flac").string();
    const std::string output = (files.Folder / "hour-out.flac").string();
    if (!WriteMusic(input, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, MusicLike(kFrames, kRate),
                    kHourRepeats)) {
        state.SkipWithError("cannot write the hour file");
        return;
    }
    double peakMb = 0.0;
    for (auto _ : state) {
        const pid_t child = fork();
        if (child == 0) {
            const bool ok = ExportOnce(input, output, 0, int64_t{kFrames} * kHourRepeats);
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        rusage usage{};
        if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError("the 60-minute export failed");
            return;
        }
        peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
    }
    std::filesystem::remove(input);
    std::filesystem::remove(output);
    state.counters["peak_rss_MB"] = peakMb;
    state.counters["threads"] = ExportJob::UsableCores();
}

BENCHMARK(FormatExport)
    ->Name("Formats")
    ->ArgNames({"input", "threads"})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({3, 1})
    ->Args({4, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->DisplayAggregatesOnly(true);
BENCHMARK(LongFlacMemory)
    ->Name("Formats/sixty_minute_flac24_all_cores_memory")
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(1);

// Prints the ratios the figures are judged by, from the runs' x_realtime counters.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("x_realtime");
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median && !run.error_occurred && it != run.counters.end())
                mSpeed[run.run_name.str()] = it->second.value;
            const auto cpu = run.counters.find("cpu_s");
            if (median && !run.error_occurred && cpu != run.counters.end())
                mCpu[run.run_name.str()] = cpu->second.value;
            const auto peak = run.counters.find("peak_rss_MB");
            if (peak != run.counters.end() && !run.error_occurred &&
                run.run_type == Run::RT_Iteration)
                mPeakMb = std::max(mPeakMb, peak->second.value);
        }
    }
    void PrintSummary() const
    {
        const double anchor = Find(0, 1);
        std::printf("\n16-bit WAV -> 16-bit WAV, 1 thread: %.1fx real time (the anchor)\n", anchor);
        const struct
        {
            int Input;
            const char* Label;
            double Target;
        } rows[] = {
            {1, "24-bit WAV -> 24-bit WAV", 0.85},
            {2, "float WAV -> float WAV  ", 0.85},
            {3, "24-bit FLAC -> 24-bit FLAC", 0.45},
            {4, "MP3 -> 16-bit WAV       ", 0.60},
        };
        const double anchorCpu = Find(0, 1, mCpu);
        for (const auto& row : rows) {
            const double speed = Find(row.Input, 1);
            const double cpu = Find(row.Input, 1, mCpu);
            if (anchor > 0.0 && speed > 0.0)
                std::printf("%s, 1 thread: %.1fx real time, %.2fx the anchor (target %.2fx); "
                            "processor time %.2fx the anchor's\n",
                            row.Label, speed, speed / anchor, row.Target,
                            cpu > 0.0 ? cpu / anchorCpu : 0.0);
        }
        const double one = Find(1, 1);
        const double two = Find(1, 2);
        if (one > 0.0 && two > 0.0)
            std::printf(
                "24-bit WAV -> 24-bit WAV, 2 threads: %.1fx real time, %.2fx its one-thread "
                "speed (target 1.60x)\n",
                two, two / one);
        if (mPeakMb > 0.0)
            std::printf("60-minute 24-bit FLAC export, %d threads: %.1f MB peak resident (target "
                        "under 64 MB)\n",
                        ExportJob::UsableCores(), mPeakMb);
        std::printf("each speed the median of the runs (%d unless the command line said)\n",
                    kRepetitions);
    }

private:
    double Find(int input, int threads) const { return Find(input, threads, mSpeed); }
    static double Find(int input, int threads, const std::map<std::string, double>& figures)
    {
        const std::string key =
            "input:" + std::to_string(input) + "/threads:" + std::to_string(threads);
        for (const auto& [name, value] : figures)
            if (name.find(key) != std::string::npos)
                return value;
        return 0.0;
    }
    std::map<std::string, double> mSpeed;
    std::map<std::string, double> mCpu;
    double mPeakMb = 0.0;
};

} // namespace

int main(int argc, char** argv)
{
    // Repetitions in random order unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    if (std::none_of(args.begin(), args.end(), [](const char* a) {
            return std::string(a).rfind("--benchmark_enable_random_interleaving", 0) == 0;
        }))
        args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
