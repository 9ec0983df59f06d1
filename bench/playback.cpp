// Playback cost at 44.1 kHz for each quality level:
//  - PlaybackThreadLive/QUALITY/VISUALS/SOFT: the real playback thread on the silent device
//    for a few seconds of real time, with the visual feed off (0) or feeding the window's map
//    (1), with the hard cut (0) or the --soft preset (1); reports the thread's CPU time per
//    second of sound as a percentage of one core (targets, visual feed off: at most 2 % at
//    quality 2, 6 % at quality 4; under 1 % at quality 2 with the soft cut).
//  - FullRingPump: one pump of a whole 1000 ms ring; reports its time against the 1000 ms of
//    sound it writes (target: below 1, at every quality).

#include "audio/Tdsound.h"
#include "audio/Thsndplay.h"
#include "audio/Twave.h"
#include "dsp/AreaMapping.h"
#include "platform/SilentRingDevice.h"
#include "platform/TestRingDevice.h"

#include "BuildContext.h"

#include <benchmark/benchmark.h>

#if __has_include(<QImage>)
#include "visual/Visualmap.h"
#define VARNEL_BENCH_WITH_MAP 1
#endif

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace varnel {
namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 20;

// A 20 s stereo test mix, written once per run.
const std::string& MixFile()
{
    static const std::string path = [] {
        const std::string file =
            (std::filesystem::temp_directory_path() / "varnel_bench_playback.wav").string();
        TWaveData out;
        out.Format = WaveFormat::PcmStereo16(kRate);
        if (out.OpenWrite(file) != 0)
            return std::string();
        std::vector<int16_t> block(static_cast<size_t>(kRate) * 2);
        uint32_t state = 99;
        for (int s = 0; s < kSeconds; ++s) {
            for (int i = 0; i < kRate; ++i) {
                const double t = static_cast<double>(s * kRate + i) / kRate;
                state = state * 1664525u + 1013904223u;
                const double noise = static_cast<double>(static_cast<int>(state >> 20) - 2048);
                const double centre = 6000.0 * std::sin(6.283185307 * 220.0 * t);
                const double side = 4000.0 * std::sin(6.283185307 * 1500.0 * t);
                block[2 * static_cast<size_t>(i)] = static_cast<int16_t>(centre + side + noise);
                block[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(centre - side + noise);
            }
            out.Write(block.data(), static_cast<int>(block.size() * 2));
        }
        out.Close();
        return file;
    }();
    return path;
}

void PlaybackThreadLive(benchmark::State& state)
{
    const int quality = static_cast<int>(state.range(0));
    const bool visuals = state.range(1) != 0;
    const bool soft = state.range(2) != 0;
    const FftParams fft = ChooseFftParams(quality, kRate);
    FilterArea area = StartupArea(kRate);
    if (soft)
        area.Soft = SoftCutPreset();
    for (auto _ : state) {
#ifdef VARNEL_BENCH_WITH_MAP
        TVisualMap map;
        // The window's map cells, not the screens' pixels.
        map.Init(kMapPanCells, kMapFreqCells, kMapDepthCells, kFreqAxisFloorHz, kRate / 2.0f,
                 PanScaleFromSlider(kPanScaleBarStart));
        map.AllocFrames(kRate, 200, fft.Overlap, fft.FftSize);
        map.SetFreqRange(fft.FftSize / 2, kFreqAxisFloorHz, kRate / 2.0f);
        map.Clear();
#else
        if (visuals) {
            state.SkipWithError("built without the map");
            return;
        }
#endif
        TWaveData reader;
        if (reader.OpenRead(MixFile()) != 0) {
            state.SkipWithError("cannot open the mix");
            return;
        }
        TDsound sound;
        sound.OpenDevice(std::make_unique<SilentRingDevice>());
#ifdef VARNEL_BENCH_WITH_MAP
        if (visuals)
            sound.SetVisualSink(&map);
#endif
        sound.PrepareStream(reader, 200, fft.FftSize, fft.Overlap);
        ThSoundPlay thread(sound, reader);
        thread.SetHalfRate(kRate / 2);
        thread.PostArea(area);
        thread.PostVisualFeed(visuals);
        const auto start = std::chrono::steady_clock::now();
        thread.Resume();
        std::this_thread::sleep_for(std::chrono::seconds(4));
        thread.RequestPause();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double soundSeconds = static_cast<double>(reader.TellFrame()) / kRate;
        const double cpuSeconds = static_cast<double>(thread.CpuTimeNs()) * 1e-9;
        state.SetIterationTime(wall);
        state.counters["sound_s"] = soundSeconds;
        state.counters["thread_cpu_ms"] = cpuSeconds * 1e3;
        state.counters["cpu_pct_of_core"] = 100.0 * cpuSeconds / soundSeconds;
        state.counters["cycles"] = static_cast<double>(thread.Cycles());
    }
}

void FullRingPump(benchmark::State& state)
{
    const int quality = static_cast<int>(state.range(0));
    const FftParams fft = ChooseFftParams(quality, kRate);
    TWaveData reader;
    if (reader.OpenRead(MixFile()) != 0) {
        state.SkipWithError("cannot open the mix");
        return;
    }
    TDsound sound;
    auto device = std::make_unique<TestRingDevice>();
    TestRingDevice* ring = device.get();
    sound.OpenDevice(std::move(device));
    sound.PrepareStream(reader, 1000, fft.FftSize, fft.Overlap);
    const FilterArea area = StartupArea(kRate);
    sound.SetPanRange(area.PanLow, area.PanHigh);
    sound.SetFreqRange(area.FreqLowHz, area.FreqHighHz);
    sound.SetDepthRange(area.DepthLow, area.DepthHigh);
    sound.Play();
    const int stretch = sound.BufferBytes() - 4; // the longest stretch a pump can get
    int frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (reader.TellFrame() > static_cast<int64_t>(kSeconds - 2) * kRate)
            reader.SeekFrame(0);
        ring->ClearHeard();
        ring->AdvanceCursor(stretch);
        state.ResumeTiming();
        frames = sound.Pump();
        benchmark::DoNotOptimize(frames);
    }
    state.counters["frames"] = frames;
    state.counters["sound_ms"] = 1000.0 * frames / kRate;
}

BENCHMARK(PlaybackThreadLive)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0}, {0}})
    ->Args({2, 1, 0})
    ->Args({4, 1, 0})
    ->Args({2, 0, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(FullRingPump)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace varnel

BENCHMARK_MAIN();
