// Costs of the maps: one composition of both screens (every 30 ms timer tick while playing),
// and what the visual feed adds to the playback filter's per-frame cost at quality 2.
#include "dsp/AreaMapping.h"
#include "dsp/Cntrfocus.h"
#include "dsp/VisualFeed.h"
#include "visual/Screenmap.h"
#include "visual/Visualmap.h"

#include <QGuiApplication>

#include "BuildContext.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using varnel::CenterFocus;
using varnel::TScreenMap;
using varnel::TVisualMap;

constexpr int kRate = 44100;
constexpr int kFft = 8192;
constexpr int kOverlapQuality2 = 16;
constexpr int kSeconds = 4;
constexpr int kBlock = 4410; // about one 100 ms pump

// A few seconds of a stereo mix: three partials panned apart with a little noise, so bins spread
// over the maps like music does.
struct StereoSignal
{
    std::vector<int32_t> Left, Right;
    StereoSignal()
    {
        const size_t n = static_cast<size_t>(kRate * kSeconds);
        Left.resize(n);
        Right.resize(n);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 300.0);
        for (size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double centre = 6000 * std::sin(2 * M_PI * 220 * t);
            const double left = 5000 * std::sin(2 * M_PI * 587 * t);
            const double right = 5000 * std::sin(2 * M_PI * 1319 * t + 0.3);
            Left[i] = static_cast<int32_t>(centre + left + 0.2 * right + noise(random));
            Right[i] = static_cast<int32_t>(centre + 0.2 * left + right + noise(random));
        }
    }
};

const StereoSignal& Signal()
{
    static const StereoSignal signal;
    return signal;
}

void SetUpStartupMap(TVisualMap& map, int overlap)
{
    using namespace varnel;
    map.Init(kMapPanCells, kMapFreqCells, kMapDepthCells, kFreqAxisFloorHz,
             static_cast<float>(kNoFileHalfRate), kInitialPanScale);
    map.SetPanRange(PanScaleFromSlider(kPanScaleBarStart));
    map.AllocFrames(kRate, 200, overlap, kFft);
    map.SetFreqRange(kFft / 2, kFreqAxisFloorHz, kRate / 2.0f);
    map.Clear();
}

// A feed that takes the calls and does nothing: the filter's own cost of feeding.
class NullFeed final : public varnel::VisualFeed
{
public:
    void NextFrame() noexcept override {}
    void AddBin(int, float, float, float, float) noexcept override {}
    void AddBins(const float*, const float*, const float*, const float*, const float*,
                 int) noexcept override
    {}
};

enum class Feed
{
    Off,
    OnNull,
    OnMap
};

// The playback filter over kSeconds of the mix, per analysis frame: the feed off, on into a
// feed that does nothing, or on into a map at start-up sizes.
void FilterFrames(benchmark::State& state, Feed feed)
{
    const StereoSignal& signal = Signal();
    TVisualMap map;
    SetUpStartupMap(map, kOverlapQuality2);
    NullFeed nullFeed;
    CenterFocus filter;
    if (!filter.Setup(kFft, kOverlapQuality2, kRate)) {
        state.SkipWithError("filter set-up failed");
        return;
    }
    filter.SetArea(varnel::StartupArea(kRate));
    if (feed == Feed::OnNull)
        filter.SetVisualSink(&nullFeed);
    else
        filter.SetVisualSink(&map);
    filter.SetVisualFeed(feed != Feed::Off);
    std::vector<int32_t> outL(kBlock), outR(kBlock);
    const int total = static_cast<int>(signal.Left.size());
    int64_t frames = 0;
    for (auto _ : state) {
        for (int at = 0; at + kBlock <= total; at += kBlock)
            filter.Process(signal.Left.data() + at, signal.Right.data() + at, outL.data(),
                           outR.data(), kBlock);
        frames += total / filter.Hop();
        benchmark::ClobberMemory();
    }
    // Seconds per million frames, i.e. microseconds per frame (CPU time).
    state.counters["usPerFrame"] =
        benchmark::Counter(static_cast<double>(frames) * 1e-6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FilterQuality2FeedOff(benchmark::State& state)
{
    FilterFrames(state, Feed::Off);
}
void BM_FilterQuality2FeedOnNull(benchmark::State& state)
{
    FilterFrames(state, Feed::OnNull);
}
void BM_FilterQuality2FeedOnMap(benchmark::State& state)
{
    FilterFrames(state, Feed::OnMap);
}
BENCHMARK(BM_FilterQuality2FeedOff)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FilterQuality2FeedOnNull)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_FilterQuality2FeedOnMap)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The feed alone: one frame of 4096 bins through the batch path, and through single bins.
struct FrameData
{
    std::vector<float> Depth, Right, Left, Ratio, SumMag;
    FrameData()
        : Depth(kFft / 2), Right(kFft / 2), Left(kFft / 2), Ratio(kFft / 2), SumMag(kFft / 2)
    {
        std::mt19937 random(3);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (size_t j = 0; j < Depth.size(); ++j) {
            Depth[j] = unit(random) * 3.14159f;
            Right[j] = unit(random) * 1e5f;
            Left[j] = unit(random) * 1e5f;
            Ratio[j] = Right[j] / (Left[j] + 1.0f);
            SumMag[j] =
                std::hypot(Left[j] + Right[j] * std::cos(Depth[j]), Right[j] * std::sin(Depth[j]));
        }
    }
};

void BM_FeedFrameBatch(benchmark::State& state)
{
    TVisualMap map;
    SetUpStartupMap(map, kOverlapQuality2);
    const FrameData data;
    for (auto _ : state) {
        map.NextFrame();
        map.AddBins(data.Depth.data(), data.Right.data(), data.Left.data(), data.Ratio.data(),
                    data.SumMag.data(), kFft / 2);
    }
}
BENCHMARK(BM_FeedFrameBatch)->Unit(benchmark::kMicrosecond);

void BM_FeedFrameSingleBins(benchmark::State& state)
{
    TVisualMap map;
    SetUpStartupMap(map, kOverlapQuality2);
    const FrameData data;
    for (auto _ : state) {
        map.NextFrame();
        for (int j = 0; j < kFft / 2; ++j) {
            const auto u = static_cast<size_t>(j);
            map.AddBin(j, data.Depth[u], data.Right[u], data.Left[u], data.Ratio[u]);
        }
    }
}
BENCHMARK(BM_FeedFrameSingleBins)->Unit(benchmark::kMicrosecond);

// One timer tick's composition of both screens with visuals on: a new frame was recorded, so
// the images are rebuilt, enlarged and combined, and the area layers drawn.
void BM_ComposeBothScreens(benchmark::State& state)
{
    TVisualMap map;
    SetUpStartupMap(map, kOverlapQuality2);
    const FrameData data;
    for (int i = 0; i < 30; ++i) {
        map.NextFrame();
        map.AddBins(data.Depth.data(), data.Right.data(), data.Left.data(), data.Ratio.data(),
                    data.SumMag.data(), kFft / 2);
    }
    TScreenMap screens(&map);
    screens.DrawInitial();
    screens.DrawBackground(static_cast<float>(varnel::kNoFileHalfRate), varnel::kFreqAxisFloorHz,
                           varnel::PanScaleFromSlider(varnel::kPanScaleBarStart));
    for (auto _ : state) {
        map.NextFrame(); // a fresh frame, so the build is not skipped
        screens.Compose(varnel::StartupEdges());
        benchmark::DoNotOptimize(screens.Screen1Image().constBits());
    }
}
BENCHMARK(BM_ComposeBothScreens)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
