#include "dsp/SoftGain.h"

#include "dsp/BinDecision.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace varnel {

namespace {

constexpr double kPiDouble = 3.14159265358979323846;
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Wider than any edge can be apart; keeps 1 / width a normal float.
constexpr float kMaxWidth = 1.0e6f;
// Narrower is a step: 1 / width would overflow a float, and a value right on the edge would
// weigh 0 x infinity.
constexpr float kMinWidth = 1.0e-30f;

float Width(float w) noexcept
{
    return w >= kMinWidth ? std::min(w, kMaxWidth) : 0.0f;
}

// The gain of one dimension at value v: the low edge's rise times the high edge's fall.
double EdgeGain(const SoftEdges& e, double v) noexcept
{
    double g = 1.0;
    if (!e.LowOpen)
        g *= RaisedSine((v - e.Low) * e.InvWidth);
    if (!e.HighOpen)
        g *= 1.0 - RaisedSine((v - e.High) * e.InvWidth);
    return g;
}

} // namespace

float RaisedSine(double x) noexcept
{
    if (x <= -0.5)
        return 0.0f;
    if (x >= 0.5)
        return 1.0f;
    return static_cast<float>(0.5 + 0.5 * std::sin(kPiDouble * x));
}

SoftGainParams MakeSoftGainParams(const FilterArea& area, int sampleRate, int hop) noexcept
{
    const SoftCut& s = area.Soft;
    SoftGainParams p;
    const float panWidth = Width(s.FeatherPanDb);
    if (panWidth > 0.0f) {
        p.Pan.On = true;
        p.Pan.LowOpen = !(area.PanLow > kPanOpenLow);
        // A high edge at a ratio of 0 lies at -infinity dB, where a ratio of 0 lies too: it
        // has no transition, and the hard decision keeps that side.
        p.Pan.HighOpen = !(area.PanHigh < kPanOpenHigh) || !(area.PanHigh > 0.0f);
        p.Pan.Low = p.Pan.LowOpen ? 0.0f : static_cast<float>(20.0 * std::log10(area.PanLow));
        p.Pan.High = p.Pan.HighOpen ? 0.0f : static_cast<float>(20.0 * std::log10(area.PanHigh));
        p.Pan.InvWidth = 1.0f / panWidth;
    }
    const float depthWidth = Width(s.FeatherDepth);
    if (depthWidth > 0.0f) {
        p.Depth.On = true;
        p.Depth.LowOpen = !(area.DepthLow > 0.0f);
        p.Depth.HighOpen = !(area.DepthHigh < kPi);
        p.Depth.Low = area.DepthLow;
        p.Depth.High = area.DepthHigh;
        p.Depth.InvWidth = 1.0f / depthWidth;
    }
    p.FreqOn = Width(s.FeatherFreq) > 0.0f;
    p.Inverted = area.Inverted;
    // No attenuation (infinity or NaN) clears; 0 dB or less keeps everything.
    if (s.AttenuateDb < SoftCut::kNoAttenuation)
        p.Floor =
            s.AttenuateDb > 0.0f
                ? static_cast<float>(std::pow(10.0, -static_cast<double>(s.AttenuateDb) / 20.0))
                : 1.0f;
    if (s.SmoothMs > 0.0f && s.SmoothMs < SoftCut::kNoAttenuation && sampleRate > 0 && hop > 0)
        p.Smooth = static_cast<float>(
            1.0 - std::exp(-hop / (static_cast<double>(s.SmoothMs) * sampleRate / 1000.0)));
    return p;
}

void FrequencyGains(const FilterArea& area, float binWidth, int half, float* gains) noexcept
{
    const double width = Width(area.Soft.FeatherFreq);
    const double invWidth = width > 0.0 ? 1.0 / width : 0.0;
    const double halfRate = std::floor(static_cast<double>(binWidth) * half);
    const bool lowOpen = !(area.FreqLowHz > 0.0f);
    // A high edge at 0 Hz lies at -infinity octaves with bin 0: the hard decision keeps that
    // side, as for a ratio of 0.
    const bool highOpen = !(area.FreqHighHz < halfRate) || !(area.FreqHighHz > 0.0f);
    const double low = lowOpen ? 0.0 : std::log2(static_cast<double>(area.FreqLowHz));
    const double high = highOpen ? 0.0 : std::log2(static_cast<double>(area.FreqHighHz));
    for (int j = 0; j < half; ++j) {
        const double octaves =
            j == 0 ? -kInfinity : std::log2(static_cast<double>(j) * static_cast<double>(binWidth));
        double g = 1.0;
        if (!lowOpen)
            g *= RaisedSine((octaves - low) * invWidth);
        if (!highOpen)
            g *= 1.0 - RaisedSine((octaves - high) * invWidth);
        gains[j] = static_cast<float>(g);
    }
}

namespace soft {

void GainsPlain(const SoftGainParams& p, const SoftFrame& frame) noexcept
{
    for (int j = 0; j < frame.Half; ++j) {
        const auto u = static_cast<std::size_t>(j);
        double g = IsKept(frame.Keep[u]) ? 1.0 : 0.0;
        if (g != 0.0 && p.Pan.On) {
            const float r = frame.Ratio[u];
            g *= EdgeGain(p.Pan, r > 0.0f ? 20.0 * std::log10(static_cast<double>(r)) : -kInfinity);
        }
        if (g != 0.0 && p.Depth.On)
            g *= EdgeGain(p.Depth, frame.Depth[u]);
        if (p.FreqOn)
            g *= frame.FreqGain[u];
        auto gain = static_cast<float>(p.Inverted ? 1.0 - g : g);
        gain = p.Floor + (1.0f - p.Floor) * gain;
        float& s = frame.State[u];
        s = p.Fresh || p.Smooth >= 1.0f ? gain : s + (gain - s) * p.Smooth;
    }
}

} // namespace soft

void SoftGains(CodePath path, const SoftGainParams& p, const SoftFrame& frame) noexcept
{
    if (path == CodePath::Avx512 && frame.Half % 16 == 0)
        soft::GainsAvx512(p, frame);
    else if (path != CodePath::Plain && frame.Half % 8 == 0)
        soft::GainsAvx2(p, frame);
    else
        soft::GainsPlain(p, frame);
}

} // namespace varnel
