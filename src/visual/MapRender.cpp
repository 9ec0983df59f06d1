#include "visual/MapPicture.h"

#include "audio/SoundSource.h"
#include "audio/Twave.h"
#include "audio/WaveCheck.h"
#include "dsp/Cntrfocus.h"
#include "dsp/VisualFeed.h"
#include "visual/Screenmap.h"
#include "visual/Visualmap.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace varnel {

namespace {

// Counts the frames a filter analyses; the bins are not needed.
class FrameCounter final : public VisualFeed
{
public:
    void NextFrame() noexcept override { ++Frames; }
    void AddBin(int, float, float, float, float) noexcept override {}
    void AddBins(const float*, const float*, const float*, const float*, const float*,
                 int) noexcept override
    {}
    int64_t Frames = 0;
};

// Samples a freshly set-up filter consumes until its first frame; frame k then completes with
// sample first + k x hop. Measured rather than assumed, so the framing follows the filter.
int64_t FirstFrameSamples(int fftSize, int overlap, int sampleRate)
{
    CenterFocus probe;
    if (!probe.Setup(fftSize, overlap, sampleRate))
        return -1;
    FrameCounter counter;
    probe.SetVisualSink(&counter);
    probe.SetVisualFeed(true);
    const int32_t silence = 0;
    int32_t outL = 0, outR = 0;
    for (int64_t n = 1; n <= 2 * int64_t{fftSize}; ++n) {
        probe.Process(&silence, &silence, &outL, &outR, 1);
        if (counter.Frames > 0)
            return n;
    }
    return -1;
}

// Reads frames [from, to) of the file through the filter. False when the file ends early.
bool FilterStretch(SourceReader& input, CenterFocus& filter, int64_t from, int64_t to)
{
    constexpr int kBlock = 16384;
    std::vector<float> left(kBlock), right(kBlock), outL(kBlock), outR(kBlock);
    if (from >= to)
        return true;
    if (!input.Seek(from))
        return false;
    for (int64_t at = from; at < to;) {
        const int want = static_cast<int>(std::min<int64_t>(kBlock, to - at));
        const int got = input.Read(left.data(), right.data(), want);
        if (got <= 0)
            return false;
        filter.Process(left.data(), right.data(), outL.data(), outR.data(), got);
        at += got;
    }
    return true;
}

} // namespace

MapPictureResult RenderMapPicture(TWaveData& input, const MapPictureRequest& request)
{
    if (CheckWaveFormat(input.Format, input.ExtensibleSubFormat, ExtensiblePcm::Accept) !=
        kMsgNone) {
        MapPictureResult result;
        result.Status = MapPictureStatus::InputUnreadable;
        return result;
    }
    return RenderMapPicture(WaveSource(input), request);
}

MapPictureResult RenderMapPicture(const SoundSource& source, const MapPictureRequest& request)
{
    MapPictureResult result;
    const std::unique_ptr<SourceReader> input = source.NewReader();
    if (source.Info().Channels != 2 || !input) {
        result.Status = MapPictureStatus::InputUnreadable;
        return result;
    }
    const int sampleRate = source.Info().SampleRate;
    const int halfRate = sampleRate >> 1;
    const FftParams fft = ChooseFftParams(request.Quality, 2 * halfRate);
    const int latency = PlayLatencyFrames(halfRate, request.BufferMs, fft.FftSize, fft.Overlap);
    const int64_t frames = source.Info().Frames;

    if (request.AtSeconds < 0.0)
        result.HeardFrame = frames / 2;
    else {
        const double heard = request.AtSeconds * sampleRate;
        if (heard > static_cast<double>(frames)) {
            result.Status = MapPictureStatus::TimeBeyondEnd;
            return result;
        }
        result.HeardFrame = static_cast<int64_t>(heard);
    }
    // The window stops when the reader reaches the end: later moments are never shown.
    result.ReaderFrame = std::min<int64_t>(result.HeardFrame + latency, frames);

    const float panScale =
        PanScaleFromSlider(std::clamp(request.PanScalePosition, 0, kPanScaleBarMax));
    TVisualMap map;
    map.Init(kMapPanCells, kMapFreqCells, kMapDepthCells, kFreqAxisFloorHz,
             static_cast<float>(kNoFileHalfRate), kInitialPanScale);
    map.SetPanRange(panScale);
    map.SetColourScale(request.ColourScalePosition);
    if (map.AllocFrames(2 * halfRate, request.BufferMs, fft.Overlap, fft.FftSize) != 0) {
        result.Status = MapPictureStatus::SetupFailed;
        return result;
    }
    map.SetFreqRange(fft.FftSize / 2, kFreqAxisFloorHz, static_cast<float>(halfRate));
    map.Clear();

    AreaGeometry geometry;
    geometry.HalfRate = halfRate;
    geometry.PanScale = panScale;
    const AreaEdges& edges = request.Edges;
    FilterArea filterArea = MapArea(edges, geometry).Area;
    filterArea.Inverted = request.Inverted;

    CenterFocus filter;
    const int64_t first = FirstFrameSamples(fft.FftSize, fft.Overlap, sampleRate);
    if (first < 0 || !filter.Setup(fft.FftSize, fft.Overlap, sampleRate)) {
        result.Status = MapPictureStatus::SetupFailed;
        return result;
    }
    filter.SetArea(filterArea);
    filter.SetVisualSink(&map);
    const int64_t hop = filter.Hop();

    // Frames the playing filter has completed when the reader is here, counted from the start
    // of the file. The map records every skip-th of them and averages the oldest of its slots,
    // so only the last (slots + 2) x skip frames matter. A fresh map fed from frame K on, with
    // K a multiple of skip, records the same frames as one fed from frame 0.
    const int64_t done = result.ReaderFrame >= first ? (result.ReaderFrame - first) / hop + 1 : 0;
    const int64_t skip = map.SkipReload() + 1;
    int64_t feedFrom = std::max<int64_t>(done - (map.SlotCount() + 2) * skip, 0);
    feedFrom -= feedFrom % skip;
    // A frame's analysis depends only on the frame's own input, so a fresh filter started a
    // little over one frame length earlier, on the same hop grid, analyses frame feedFrom and
    // all later ones exactly as the one that played from the start.
    const int64_t startFrame = std::max<int64_t>(feedFrom - fft.Overlap - 1, 0);
    const int64_t start = startFrame * hop;
    const int64_t feedOnAt = feedFrom == 0 ? 0 : first + (feedFrom - 1) * hop;

    filter.SetVisualFeed(false);
    bool read = FilterStretch(*input, filter, start, std::min(feedOnAt, result.ReaderFrame));
    filter.SetVisualFeed(true);
    read = read && FilterStretch(*input, filter, std::max(start, feedOnAt), result.ReaderFrame);
    if (!read) {
        result.Status = MapPictureStatus::InputUnreadable;
        return result;
    }
    result.FramesFiltered = result.ReaderFrame - start;

    TScreenMap screens(&map);
    screens.DrawInitial();
    screens.DrawBackground(static_cast<float>(halfRate), kFreqAxisFloorHz, panScale);
    screens.SetInvertArea(request.Inverted);
    screens.SetShowVisual(true);
    screens.Compose(edges);
    result.Picture = MapAreaPicture(screens);
    return result;
}

} // namespace varnel
