#include "dsp/AreaMapping.h"

#include "platform/Assert.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace varnel {

namespace {

// The window's labels show a frequency rounded to a whole number, halves away from zero.
std::string WholeHzLabel(float hz)
{
    return std::to_string(std::llround(static_cast<double>(hz))) + "Hz";
}

// The pixel nearest a position on an axis of limit pixels, clamped to 0..limit.
int NearestPixel(double value, int limit)
{
    if (!(value > 0.0)) // also NaN
        return 0;
    if (value >= limit)
        return limit;
    return static_cast<int>(std::lround(value));
}

float PowerOfTen(float exponent)
{
    return static_cast<float>(std::pow(10.0, static_cast<double>(exponent)));
}

} // namespace

AreaEdges StartupEdges(int screen1Width, int screen1Height, int screen2Width)
{
    VARNEL_ASSERT(screen1Width > 0 && screen1Height > 0 && screen2Width > 0);
    AreaEdges e;
    e.Area1Left = screen1Width / 4;
    e.Area1Top = screen1Height / 6;
    e.Area1Right = screen1Width * 3 / 4;
    e.Area1Bottom = screen1Height * 5 / 6;
    e.Area2Left = 0;
    e.Area2Top = e.Area1Top;
    e.Area2Right = screen2Width / 2;
    e.Area2Bottom = e.Area1Bottom;
    return e;
}

// Intermediate values are rounded to float where the window's fields are floats, so the
// bounds match what the window computes bit for bit; logarithms and powers run in double.
AreaMapping MapArea(const AreaEdges& edges, const AreaGeometry& geometry)
{
    VARNEL_ASSERT(geometry.Screen1Width > 0 && geometry.Screen1Height > 0 &&
                  geometry.Screen2Width > 0);
    AreaMapping result;
    FilterArea& area = result.Area;
    const int width1 = geometry.Screen1Width;
    const int height1 = geometry.Screen1Height;

    // A pan scale of 1 or less has no decades to spread over the screen: leave pan open.
    if (geometry.PanScale > 1.0f) {
        const float hw = static_cast<float>(width1 * 0.5);
        const float k = static_cast<float>(static_cast<double>(hw) /
                                           std::log10(static_cast<double>(geometry.PanScale)));
        const float lowExp = static_cast<float>((edges.Area1Left - static_cast<double>(hw)) / k);
        const float highExp = static_cast<float>((edges.Area1Right - static_cast<double>(hw)) / k);
        area.PanLow = PowerOfTen(lowExp);
        area.PanHigh = PowerOfTen(highExp);
    } else {
        area.PanLow = kPanOpenLow;
        area.PanHigh = kPanOpenHigh;
    }
    if (edges.Area1Left == 0)
        area.PanLow = kPanOpenLow;
    if (edges.Area1Right == width1)
        area.PanHigh = kPanOpenHigh;

    const float lg = static_cast<float>(std::log10(static_cast<double>(kFreqAxisFloorHz)));
    const double decades = std::log10(static_cast<double>(geometry.HalfRate)) - lg;
    // At or below the floor the axis has no height in decades; the whole band is the area.
    if (static_cast<float>(geometry.HalfRate) > kFreqAxisFloorHz && height1 > 0) {
        const float u = static_cast<float>(height1 / decades);
        const float lowQ =
            static_cast<float>((height1 - edges.Area1Bottom) / static_cast<double>(u));
        const float highQ = static_cast<float>((height1 - edges.Area1Top) / static_cast<double>(u));
        area.FreqLowHz = static_cast<float>(std::pow(10.0, static_cast<double>(lowQ) + lg));
        area.FreqHighHz = static_cast<float>(std::pow(10.0, static_cast<double>(highQ) + lg));
    } else {
        area.FreqLowHz = 0.0f;
        area.FreqHighHz = static_cast<float>(geometry.HalfRate);
    }
    if (edges.Area1Top == 0)
        area.FreqHighHz = static_cast<float>(geometry.HalfRate);
    if (edges.Area1Bottom == height1)
        area.FreqLowHz = 0.0f;
    result.FreqHighLabel = WholeHzLabel(area.FreqHighHz);
    result.FreqLowLabel = WholeHzLabel(area.FreqLowHz);

    const float d = geometry.Screen2Width > 0
                        ? static_cast<float>(static_cast<double>(kPi) / geometry.Screen2Width)
                        : 0.0f;
    area.DepthLow = static_cast<float>(edges.Area2Left * static_cast<double>(d));
    area.DepthHigh = static_cast<float>(edges.Area2Right * static_cast<double>(d));
    area.Inverted = false;
    return result;
}

AreaEdges EdgesForArea(const FilterArea& area, const AreaGeometry& geometry)
{
    VARNEL_ASSERT(geometry.Screen1Width > 0 && geometry.Screen1Height > 0 &&
                  geometry.Screen2Width > 0);
    const int width1 = geometry.Screen1Width;
    const int height1 = geometry.Screen1Height;
    const int width2 = geometry.Screen2Width;
    AreaEdges edges;

    const double hw = width1 * 0.5;
    const double decades = std::log10(static_cast<double>(geometry.PanScale));
    const auto panX = [&](float ratio) {
        if (!(ratio > 0.0f) || !(decades > 0.0))
            return 0;
        return NearestPixel(hw + hw / decades * std::log10(static_cast<double>(ratio)), width1);
    };
    edges.Area1Left = area.PanLow <= kPanOpenLow ? 0 : panX(area.PanLow);
    edges.Area1Right = area.PanHigh >= kPanOpenHigh ? width1 : panX(area.PanHigh);

    const double logLow = std::log10(static_cast<double>(kFreqAxisFloorHz));
    const double freqDecades = std::log10(static_cast<double>(geometry.HalfRate)) - logLow;
    const auto freqY = [&](float hz) {
        if (!(hz > 0.0f) || !(freqDecades > 0.0))
            return height1;
        const double up = (std::log10(static_cast<double>(hz)) - logLow) * height1 / freqDecades;
        return height1 - NearestPixel(up, height1);
    };
    edges.Area1Top =
        area.FreqHighHz >= static_cast<float>(geometry.HalfRate) ? 0 : freqY(area.FreqHighHz);
    edges.Area1Bottom = area.FreqLowHz <= 0.0f ? height1 : freqY(area.FreqLowHz);

    const double perPixel = static_cast<double>(kPi) / width2;
    edges.Area2Left = NearestPixel(area.DepthLow / perPixel, width2);
    edges.Area2Right = NearestPixel(area.DepthHigh / perPixel, width2);

    edges.Area1Right = std::max(edges.Area1Right, edges.Area1Left);
    edges.Area1Bottom = std::max(edges.Area1Bottom, edges.Area1Top);
    edges.Area2Right = std::max(edges.Area2Right, edges.Area2Left);
    edges.Area2Top = edges.Area1Top;
    edges.Area2Bottom = edges.Area1Bottom;
    return edges;
}

FilterArea StartupArea(int sampleRate)
{
    AreaGeometry geometry;
    geometry.HalfRate = sampleRate >> 1;
    geometry.PanScale = PanScaleFromSlider(kPanScaleBarStart);
    return MapArea(StartupEdges(), geometry).Area;
}

float PanScaleFromSlider(int position)
{
    return static_cast<float>(std::pow(10.0, (position + 2) * 0.2));
}

int VolumeFromSlider(int position)
{
    position = std::clamp(position, 0, kVolumeBarMax);
    return static_cast<int>(-2.5 * std::pow(static_cast<double>(kVolumeBarMax - position), 2.5));
}

FftParams ChooseFftParams(int quality, int sampleRate)
{
    static constexpr int kOverlaps[] = {4, 8, 16, 32, 64};
    FftParams p;
    const int64_t pairs = sampleRate > 0 ? sampleRate / 11025 : 0;
    int64_t size = (pairs & ~int64_t{1}) * 2048;
    if (size < 2048)
        size = 2048;
    // The FFT takes powers of two only; rates between the table's doubling steps (66150 Hz,
    // 110250 Hz, ...) get the next lower power, so their frames are never longer than asked.
    int64_t power = 2048;
    while (power * 2 <= size)
        power *= 2;
    p.FftSize = static_cast<int>(power);
    p.Overlap = quality >= 0 && quality <= 4 ? kOverlaps[quality] : 16;
    return p;
}

int PlayLatencyFrames(int halfRate, int bufferMs, int fftSize, int overlap)
{
    const int hop = overlap > 0 ? fftSize / overlap : fftSize;
    // Long double is the extended precision in which the window computes this.
    const long double frames = static_cast<long double>(halfRate) * bufferMs * 0.001L +
                               static_cast<long double>(fftSize - hop);
    return static_cast<int>(frames);
}

} // namespace varnel
