#pragma once

#include <limits>

namespace varnel {

// The float nearest pi, as the filter and the area mapping use it.
constexpr float kPi = 3.1415927f;

// The open pan bounds the window uses: 0 at the left border, 65535 at the right.
constexpr float kPanOpenLow = 0.0f;
constexpr float kPanOpenHigh = 65535.0f;

// How gently the area cuts. The defaults are the hard cut: every bin kept or cleared
// outright. A width spreads an edge of the area over a raised-sine transition centred on the
// edge; the attenuation keeps what the area removes at -AttenuateDb instead of clearing it;
// the smoothing lets each bin's gain follow its changes with a time constant.
struct SoftCut
{
    static constexpr float kNoAttenuation = std::numeric_limits<float>::infinity();
    // The ranges the command line and the options accept (the filter takes any value).
    static constexpr float kMaxFeatherPanDb = 60.0f;
    static constexpr float kMaxFeatherDepth = kPi;
    static constexpr float kMaxFeatherFreq = 8.0f;
    static constexpr float kMaxAttenuateDb = 120.0f; // above 0; or no attenuation
    static constexpr float kMaxSmoothMs = 5000.0f;

    float FeatherPanDb = 0.0f;          // width of the pan edges, in dB of the ratio
    float FeatherDepth = 0.0f;          // width of the depth edges, radians
    float FeatherFreq = 0.0f;           // width of the frequency edges, octaves
    float AttenuateDb = kNoAttenuation; // level of what the area removes, dB below the input
    float SmoothMs = 0.0f;              // time constant of each bin's gain, ms

    // Any thread; pure. True for the hard cut (every value at its default).
    bool IsHard() const noexcept
    {
        return !(FeatherPanDb > 0.0f) && !(FeatherDepth > 0.0f) && !(FeatherFreq > 0.0f) &&
               !(AttenuateDb < kNoAttenuation) && !(SmoothMs > 0.0f);
    }
    bool operator==(const SoftCut& o) const noexcept
    {
        return FeatherPanDb == o.FeatherPanDb && FeatherDepth == o.FeatherDepth &&
               FeatherFreq == o.FeatherFreq && AttenuateDb == o.AttenuateDb &&
               SmoothMs == o.SmoothMs;
    }
    bool operator!=(const SoftCut& o) const noexcept { return !(*this == o); }

    // Any thread; pure. The values brought into the accepted ranges: a width or time below
    // 0 (or not a number) is 0, an attenuation of 0 or less (or not a number) is none, and
    // anything above a range's top is that top.
    SoftCut Limited() const noexcept
    {
        const auto clamp = [](float v, float top) { return v > 0.0f ? (v < top ? v : top) : 0.0f; };
        SoftCut s;
        s.FeatherPanDb = clamp(FeatherPanDb, kMaxFeatherPanDb);
        s.FeatherDepth = clamp(FeatherDepth, kMaxFeatherDepth);
        s.FeatherFreq = clamp(FeatherFreq, kMaxFeatherFreq);
        s.AttenuateDb = AttenuateDb > 0.0f && AttenuateDb < kNoAttenuation
                            ? (AttenuateDb < kMaxAttenuateDb ? AttenuateDb : kMaxAttenuateDb)
                            : kNoAttenuation;
        s.SmoothMs = clamp(SmoothMs, kMaxSmoothMs);
        return s;
    }
};

// Any thread; pure. The soft cut that varnel-cli's --soft stands for.
inline SoftCut SoftCutPreset() noexcept
{
    // Chosen with tools/softcut/measure.py on the demo mix (centre voice, pan 0.5:2, depth
    // 0:0.8): edges that span the area's own width raise what BSS Eval calls the artefacts
    // ratio of both stems, and the removed part kept 30 dB down lessens the holes it leaves
    // without raising the overall error. No smoothing: it smeared the notes' onsets.
    SoftCut s;
    s.FeatherPanDb = 12.0f;
    s.FeatherDepth = 0.8f;
    s.AttenuateDb = 30.0f;
    return s;
}

// The extraction area as the filter sees it; every bound is inclusive.
struct FilterArea
{
    float PanLow = 1.0f; // right/left magnitude ratio
    float PanHigh = 1.0f;
    float FreqLowHz = 0.0f;
    float FreqHighHz = 0.0f;
    float DepthLow = 0.0f; // radians, 0..pi
    float DepthHigh = kPi;
    bool Inverted = false;
    SoftCut Soft; // the hard cut unless set

    // Pan 0..65535, frequency 0..half the sample rate, depth 0..pi, not inverted.
    static FilterArea Widest(int sampleRate)
    {
        FilterArea a;
        a.PanLow = kPanOpenLow;
        a.PanHigh = kPanOpenHigh;
        a.FreqLowHz = 0.0f;
        a.FreqHighHz = static_cast<float>(sampleRate / 2);
        a.DepthLow = 0.0f;
        a.DepthHigh = kPi;
        return a;
    }
};

} // namespace varnel
