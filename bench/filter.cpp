// The separation filter on 44.1 kHz stereo sound at quality 2 (N 8192, overlap 16) and 4
// (overlap 64): seconds of sound filtered per second, as a multiple of real time, and the cost
// of one frame. A music-like mix with the desktop program's start-up area, as an export runs it.
#include "dsp/AreaMapping.h"
#include "dsp/Cntrfocus.h"
#include "dsp/VisualFeed.h"

#include "BuildContext.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 10;

struct Sound
{
    std::vector<int32_t> L, R;
};

// Chords of harmonic voices at several pans plus noise: enough spread that every kind of bin
// (kept, cleared, corrected) occurs.
const Sound& TestSound()
{
    static const Sound sound = [] {
        Sound s;
        const std::size_t count = static_cast<std::size_t>(kRate) * kSeconds;
        s.L.resize(count);
        s.R.resize(count);
        std::mt19937 rng(3);
        std::normal_distribution<double> noise(0.0, 30.0);
        const double pans[] = {0.1, 0.35, 0.5, 0.5, 0.7, 0.95};
        const double roots[] = {110.0, 146.8, 196.0, 261.6, 329.6, 440.0};
        for (std::size_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(i) / kRate;
            double l = noise(rng), r = noise(rng);
            for (int v = 0; v < 6; ++v) {
                double x = 0.0;
                for (int h = 1; h <= 8; ++h)
                    x += std::sin(2.0 * M_PI * roots[v] * h * t + v) / h;
                l += 1200.0 * x * std::cos(pans[v] * M_PI / 2);
                r += 1200.0 * x * std::sin(pans[v] * M_PI / 2);
            }
            s.L[i] = static_cast<int32_t>(std::max(-32768.0, std::min(32767.0, l)));
            s.R[i] = static_cast<int32_t>(std::max(-32768.0, std::min(32767.0, r)));
        }
        return s;
    }();
    return sound;
}

// Counts what a visual map would receive, so the feed's cost shows without a map.
class CountingFeed : public varnel::VisualFeed
{
public:
    void NextFrame() noexcept override { ++mFrames; }
    void AddBin(int, float depth, float, float, float) noexcept override { mSum += depth; }
    void AddBins(const float* depth, const float*, const float*, const float*, const float*,
                 int count) noexcept override
    {
        mSum += depth[count / 2];
    }
    long mFrames = 0;
    double mSum = 0.0;
};

void RunFilter(benchmark::State& state, int overlap, bool vector, bool feedOn)
{
    const Sound& sound = TestSound();
    varnel::CenterFocus filter;
    filter.SetVectorCode(vector);
    if (!filter.Setup(8192, overlap, kRate)) {
        state.SkipWithError("set-up failed");
        return;
    }
    filter.SetArea(varnel::StartupArea(kRate));
    CountingFeed feed;
    filter.SetVisualSink(&feed);
    filter.SetVisualFeed(feedOn);
    const int block = kRate / 2; // half-second blocks, as an export reads them
    std::vector<int32_t> outL(static_cast<std::size_t>(block)), outR(outL.size());
    std::size_t pos = 0;
    long samples = 0;
    for (auto _ : state) {
        if (pos + static_cast<std::size_t>(block) > sound.L.size())
            pos = 0;
        filter.Process(sound.L.data() + pos, sound.R.data() + pos, outL.data(), outR.data(), block);
        benchmark::DoNotOptimize(outL.data());
        pos += static_cast<std::size_t>(block);
        samples += block;
    }
    // Seconds of sound and frames per iteration, for the summary printed after the run.
    state.counters["sound_s"] = benchmark::Counter(static_cast<double>(samples) / kRate,
                                                   benchmark::Counter::kAvgIterations);
    state.counters["frames"] = benchmark::Counter(static_cast<double>(samples) / (8192 / overlap),
                                                  benchmark::Counter::kAvgIterations);
}

// Prints, per run, sound seconds per second of processor time and of wall time (the machine
// may be shared: the processor time is the filter's own cost), and the time per frame.
class Summary : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            const double iterations = static_cast<double>(run.iterations);
            const double cpu = run.cpu_accumulated_time / iterations;
            const double wall = run.real_accumulated_time / iterations;
            const double sound = run.counters.at("sound_s").value;
            const double frames = run.counters.at("frames").value;
            mLines.push_back(run.benchmark_name() + ": " + Format(sound / cpu) + "x real time (" +
                             Format(sound / wall) + "x by wall clock), " +
                             Format(cpu / frames * 1e6) + " us per frame");
        }
    }
    void Print() const
    {
        for (const std::string& line : mLines)
            std::printf("%s\n", line.c_str());
    }

private:
    static std::string Format(double v)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", v);
        return text;
    }
    std::vector<std::string> mLines;
};

} // namespace

BENCHMARK_CAPTURE(RunFilter, q2_overlap16, 16, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunFilter, q4_overlap64, 64, true, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunFilter, q2_overlap16_feed, 16, true, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RunFilter, q2_overlap16_plain, 16, false, false)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    summary.Print();
    benchmark::Shutdown();
    return 0;
}
