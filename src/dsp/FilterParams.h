#pragma once

namespace varnel {

// The float nearest pi, as the filter and the area mapping use it.
constexpr float kPi = 3.1415927f;

// The open pan bounds the window uses: 0 at the left border, 65535 at the right.
constexpr float kPanOpenLow = 0.0f;
constexpr float kPanOpenHigh = 65535.0f;

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
