// Whole-file export speed, as a multiple of real time: ExportJob over real files (a 3-minute
// 44.1 kHz stereo file of music-like content) at quality 2 (N 8192, overlap 16) and quality 4
// (overlap 64) on one thread, and at quality 2 on 2, 4, 8 and 16 threads. The yardstick is a
// generic short-time Fourier up-mixer run by ffmpeg on one thread over the same file, in the
// same run (skipped where ffmpeg is not installed). The "file layer" run moves the same blocks
// through TWaveData without filtering, to show what reading and writing cost next to the
// filter. The last run exports a 60-minute file on every usable core in a child process and
// reports the child's peak resident memory. The soft cut runs at quality 2 on one thread with
// the --soft preset, alone and with the rest stem written beside the output, against the hard
// cut of the same run (targets: 0.8 and 0.7 of its speed).
//
//   bench_export [--benchmark_filter=...]
// The counter x_realtime is seconds of sound saved per second of wall time; a summary of the
// ratios follows the table. The timed exports run five times each, in random order across the
// benchmarks (so a machine whose speed drifts over seconds weighs on all of them alike), and
// the table and the ratios use each one's median.

#include "audio/ExportJob.h"
#include "audio/Twave.h"
#include "dsp/AreaMapping.h"

#include "BenchMusic.h"
#include "BuildContext.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <chrono>
#include <map>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace varnel;

constexpr int kRate = 44100;
constexpr int kSeconds = 180;
constexpr int kFrames = kRate * kSeconds;
constexpr int kRepetitions = 5;

std::vector<int16_t> MusicLike()
{
    return MusicLike16(kFrames, kRate);
}

struct BenchFiles
{
    std::filesystem::path folder;
    std::string input;
    std::string output;

    BenchFiles()
    {
        folder = std::filesystem::temp_directory_path() /
                 ("varnel-bench-export-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        input = (folder / "in.wav").string();
        output = (folder / "out.wav").string();
        const std::vector<int16_t> samples = MusicLike();
        TWaveData w;
        w.Format = WaveFormat::PcmStereo16(kRate);
        if (w.OpenWrite(input) != 0 ||
            w.Write(samples.data(), static_cast<int>(samples.size() * 2)) < 0 || w.Close() != 0) {
            std::fprintf(stderr, "cannot write %s\n", input.c_str());
            std::exit(1);
        }
    }
    ~BenchFiles()
    {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

const BenchFiles& Files()
{
    static const BenchFiles files;
    return files;
}

ExportSettings StartupSettings(int overlap, int threads)
{
    ExportSettings settings;
    settings.FftSize = 8192;
    settings.Overlap = overlap;
    settings.Threads = threads;
    // The window's start-up area: centre pans, voice band, front depths.
    settings.Area = StartupArea(kRate);
    return settings;
}

// Exports input into output (and the rest stem into rest, when named); false on any failure.
bool ExportOnce(const std::string& input, const std::string& output, const ExportSettings& settings,
                int64_t frames, const std::string& rest = std::string())
{
    TWaveData in;
    TWaveData out;
    TWaveData restOut;
    if (in.OpenRead(input) != 0)
        return false;
    out.Format = in.Format;
    restOut.Format = in.Format;
    if (out.OpenWrite(output) != 0 || (!rest.empty() && restOut.OpenWrite(rest) != 0))
        return false;
    ExportJob job(in, out, settings);
    if (!rest.empty())
        job.SetRest(restOut);
    std::atomic<bool> abort{false};
    const MessageId message = job.Run(nullptr, abort);
    const bool closed = out.Close() == 0 && (rest.empty() || restOut.Close() == 0);
    in.Close();
    return message == kMsgNone && closed && job.Written() == frames * 4;
}

// The --soft preset at quality 2 on one thread; range(0) 1 also writes the rest stem.
void SoftExport(benchmark::State& state)
{
    const BenchFiles& files = Files();
    ExportSettings settings = StartupSettings(16, 1);
    settings.Area.Soft = SoftCutPreset();
    const std::string rest =
        state.range(0) != 0 ? (files.folder / "rest.wav").string() : std::string();
    ::sync();
    for (auto _ : state) {
        if (!ExportOnce(files.input, files.output, settings, kFrames, rest)) {
            state.SkipWithError("export failed");
            return;
        }
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void WholeFileExport(benchmark::State& state)
{
    const BenchFiles& files = Files();
    const ExportSettings settings =
        StartupSettings(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    // The files the earlier runs wrote go to the disk first, so their writing-back does not
    // take processor time from this run.
    ::sync();
    for (auto _ : state) {
        if (!ExportOnce(files.input, files.output, settings, kFrames)) {
            state.SkipWithError("export failed");
            return;
        }
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

// The same half-second blocks read and written with no filter: the file layer's share.
void FileLayerOnly(benchmark::State& state)
{
    const BenchFiles& files = Files();
    std::vector<uint8_t> block(static_cast<size_t>(kRate / 2) * 4);
    for (auto _ : state) {
        TWaveData in;
        TWaveData out;
        if (in.OpenRead(files.input) != 0) {
            state.SkipWithError("cannot open the input");
            return;
        }
        out.Format = in.Format;
        if (out.OpenWrite(files.output) != 0) {
            state.SkipWithError("cannot create the output");
            return;
        }
        for (int n; (n = in.Read(block.data(), static_cast<int>(block.size()))) > 0;)
            if (out.Write(block.data(), n) != n) {
                state.SkipWithError("write failed");
                return;
            }
        out.Close();
        in.Close();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

// The yardstick: ffmpeg's stereo up-mixer filter over the same file on one thread, writing a
// WAV file like the export does.
void FfmpegYardstick(benchmark::State& state)
{
    const BenchFiles& files = Files();
    const std::string command = "ffmpeg -v error -nostdin -y -threads 1 -filter_threads 1 -i '" +
                                files.input + "' -af surround=chl_out=stereo '" +
                                (files.folder / "ffmpeg.wav").string() + "'";
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
        state.SkipWithError("ffmpeg is not installed");
        return;
    }
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

// A 60-minute export on every usable core in a child process; the counter is the child's peak
// resident memory in MB (the parent's pages it inherits included).
void LongExportMemory(benchmark::State& state)
{
    const BenchFiles& files = Files();
    const std::string input = (files.folder / "hour.wav").string();
    constexpr int kRepeats = 20; // 20 x 3 minutes
    {
        TWaveData source;
        TWaveData hour;
        std::vector<uint8_t> block(static_cast<size_t>(kRate) * 4);
        hour.Format = WaveFormat::PcmStereo16(kRate);
        if (hour.OpenWrite(input) != 0) {
            state.SkipWithError("cannot write the hour file");
            return;
        }
        for (int r = 0; r < kRepeats; ++r) {
            if (source.OpenRead(files.input) != 0) {
                state.SkipWithError("cannot read the input");
                return;
            }
            for (int n; (n = source.Read(block.data(), static_cast<int>(block.size()))) > 0;)
                hour.Write(block.data(), n);
            source.Close();
        }
        if (hour.Close() != 0) {
            state.SkipWithError("cannot write the hour file");
            return;
        }
    }
    double peakMb = 0.0;
    for (auto _ : state) {
        const pid_t child = fork();
        if (child == 0) {
            const bool ok = ExportOnce(input, files.output, StartupSettings(16, 0),
                                       int64_t{kFrames} * kRepeats);
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
    state.counters["peak_rss_MB"] = peakMb;
    state.counters["threads"] = ExportJob::UsableCores();
}

BENCHMARK(FfmpegYardstick)
    ->Name("Export/yardstick_ffmpeg_surround_1thread")
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->DisplayAggregatesOnly(true);
BENCHMARK(WholeFileExport)
    ->Name("Export/quality2_N8192_overlap16")
    ->Args({16, 1})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->DisplayAggregatesOnly(true);
BENCHMARK(WholeFileExport)
    ->Name("Export/quality4_N8192_overlap64")
    ->Args({64, 1})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->DisplayAggregatesOnly(true);
BENCHMARK(WholeFileExport)
    ->Name("Export/quality2_threads")
    ->ArgNames({"overlap", "threads"})
    ->Args({16, 2})
    ->Args({16, 4})
    ->Args({16, 8})
    ->Args({16, 16})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->DisplayAggregatesOnly(true);
BENCHMARK(SoftExport)
    ->Name("Export/quality2_soft_1thread")
    ->Arg(0)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->DisplayAggregatesOnly(true);
BENCHMARK(SoftExport)
    ->Name("Export/quality2_soft_rest_1thread")
    ->Arg(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRepetitions)
    ->DisplayAggregatesOnly(true);
BENCHMARK(FileLayerOnly)
    ->Name("Export/file_layer_only")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);
BENCHMARK(LongExportMemory)
    ->Name("Export/sixty_minutes_all_cores_memory")
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

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
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if ((median || single) && !run.error_occurred && it != run.counters.end())
                mSpeed[run.run_name.str()] = it->second.value;
        }
    }
    void PrintSummary() const
    {
        const double yardstick = Find("yardstick");
        const double q2 = Find("quality2_N8192");
        const double q4 = Find("quality4_N8192");
        std::printf("\n");
        if (yardstick > 0.0 && q2 > 0.0)
            std::printf("quality 2, 1 thread: %.1fx real time, %.2fx the yardstick's %.1fx\n", q2,
                        q2 / yardstick, yardstick);
        if (q2 > 0.0 && q4 > 0.0)
            std::printf("quality 4, 1 thread: %.1fx real time, %.3fx of quality 2\n", q4, q4 / q2);
        const double soft = Find("quality2_soft_1thread");
        const double softRest = Find("quality2_soft_rest_1thread");
        if (q2 > 0.0 && soft > 0.0)
            std::printf("quality 2, 1 thread, --soft: %.1fx real time, %.2fx the hard cut's "
                        "(target 0.8)\n",
                        soft, soft / q2);
        if (q2 > 0.0 && softRest > 0.0)
            std::printf("quality 2, 1 thread, --soft --rest: %.1fx real time, %.2fx the hard "
                        "cut's (target 0.7)\n",
                        softRest, softRest / q2);
        const int cores = ExportJob::UsableCores();
        for (int threads : {2, 4, 8, 16}) {
            const double t = Find("threads:" + std::to_string(threads));
            if (q2 > 0.0 && t > 0.0)
                std::printf("quality 2, %2d threads: %.1fx real time, speed-up %.2f, efficiency "
                            "%.2f%s\n",
                            threads, t, t / q2, t / q2 / threads,
                            threads > cores ? " (more threads than usable cores)" : "");
        }
        std::printf("usable cores: %d; each figure the median of %d runs\n", cores, kRepetitions);
    }

private:
    double Find(const std::string& key) const
    {
        for (const auto& [name, speed] : mSpeed)
            if (name.find(key) != std::string::npos)
                return speed;
        return 0.0;
    }
    std::map<std::string, double> mSpeed;
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
