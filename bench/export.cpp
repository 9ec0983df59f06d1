// Whole-file export speed, as a multiple of real time: ExportJob over real files (a 3-minute
// 44.1 kHz stereo file of music-like content), one thread, at quality 2 (N 8192, overlap 16)
// and quality 4 (overlap 64). The "file layer" run moves the same blocks through TWaveData
// without filtering, to show what reading and writing cost next to the filter.
//
//   bench_export [--benchmark_repetitions=3]
// The counter x_realtime is seconds of sound saved per second of wall time.

#include "audio/ExportJob.h"
#include "audio/Twave.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace varnel;

constexpr int kRate = 44100;
constexpr int kSeconds = 180;
constexpr int kFrames = kRate * kSeconds;

// Chords over a bass line, a panned lead, a wide pad and noise hits, all from fixed seeds.
std::vector<int16_t> MusicLike()
{
    std::vector<int16_t> s(static_cast<size_t>(kFrames) * 2);
    const double notes[] = {220.0, 246.94, 261.63, 293.66, 329.63, 349.23, 392.0, 440.0};
    uint32_t noise = 2463534242u;
    double hit = 0.0;
    for (int i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const int bar = i / (kRate * 2);
        const double root = notes[bar % 8] / 2;
        const double lead = notes[(i / (kRate / 4)) % 8] * 2;
        double centre = 0.0;
        for (int h = 1; h <= 4; ++h)
            centre += 2500.0 / h * std::sin(2 * M_PI * root * h * t);
        const double leadWave =
            3000.0 * std::sin(2 * M_PI * lead * t) * std::exp(-4.0 * std::fmod(t, 0.25));
        const double pad = 1500.0 * std::sin(2 * M_PI * root * 3 * t);
        if (i % (kRate / 2) == 0)
            hit = 4000.0;
        hit *= 0.9995;
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        const double n = hit * ((static_cast<double>(noise & 0xFFFF) / 32768.0) - 1.0);
        const double l = centre + 0.8 * leadWave + pad + n;
        const double r = centre + 0.3 * leadWave - pad + 0.7 * n;
        s[2 * static_cast<size_t>(i)] = static_cast<int16_t>(std::clamp(l, -32768.0, 32767.0));
        s[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(std::clamp(r, -32768.0, 32767.0));
    }
    return s;
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

void WholeFileExport(benchmark::State& state)
{
    const BenchFiles& files = Files();
    ExportSettings settings;
    settings.FftSize = 8192;
    settings.Overlap = static_cast<int>(state.range(0));
    // The window's start-up area at 44.1 kHz: centre pans, voice band, front depths.
    settings.Area.PanLow = 0.31623f;
    settings.Area.PanHigh = 3.1623f;
    settings.Area.FreqLowHz = 120.0f;
    settings.Area.FreqHighHz = 7796.0f;
    settings.Area.DepthLow = 0.0f;
    settings.Area.DepthHigh = 1.5707964f;
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
        ExportJob job(in, out, settings);
        std::atomic<bool> abort{false};
        const int message = job.Run(nullptr, abort);
        out.Close();
        in.Close();
        if (message != 0 || job.Written() != int64_t{kFrames} * 4) {
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

BENCHMARK(WholeFileExport)
    ->Name("Export/quality2_N8192_overlap16")
    ->Arg(16)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(WholeFileExport)
    ->Name("Export/quality4_N8192_overlap64")
    ->Arg(64)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(FileLayerOnly)
    ->Name("Export/file_layer_only")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

} // namespace

BENCHMARK_MAIN();
