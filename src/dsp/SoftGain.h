#pragma once

// Internal to the separation filter: the soft cut's gain per bin. The keep mask of the hard
// decision supplies every dimension whose edges have no width (so those edges are exactly the
// hard cut's); the others are raised-sine transitions on the bin's pan ratio in dB, its depth
// in radians and its frequency in octaves. Then the area's inversion, the attenuation floor
// and the smoothing over frames.

#include "dsp/CpuFeatures.h"
#include "dsp/FilterParams.h"

namespace varnel {

// One edge pair of a dimension measured on a linear scale (dB of the ratio, radians). An open
// edge has no transition: that side is 1.
struct SoftEdges
{
    bool On = false;                      // the dimension has a width (else the mask decides)
    bool LowOpen = true, HighOpen = true; // edges at the ends of the range
    float Low = 0.0f, High = 0.0f;        // the edges on the scale
    float InvWidth = 0.0f;                // 1 / width
};

// The frame's parameters of the soft gain.
struct SoftGainParams
{
    SoftEdges Pan;       // on 20 log10(ratio); a ratio of 0 is -infinity dB
    SoftEdges Depth;     // on the depth in radians
    bool FreqOn = false; // frequency gains come from the per-bin table
    bool Inverted = false;
    float Floor = 0.0f;  // 10^(-attenuation / 20): the gain of what the area removes
    float Smooth = 1.0f; // 1 - exp(-hop / time constant), 1 without smoothing
    bool Fresh = true;   // the first frame of a stream: the state starts at the frame's gain
};

// The frame's bins as the gain needs them. Keep is the hard decision's mask over the
// dimensions that have no width (not inverted); Ratio and Depth are read only for the
// dimensions that have one, FreqGain only when FreqOn. State is the smoothed gain per bin,
// read (unless Fresh) and written.
struct SoftFrame
{
    const float* Keep;
    const float* Ratio;
    const float* Depth;
    const float* FreqGain;
    float* State;
    int Half;
};

// Any thread; pure. 0 for x <= -1/2, 1 for x >= 1/2, and 0.5 + 0.5 sin(pi x) between, with x
// an edge distance divided by the width.
float RaisedSine(double x) noexcept;

// Any thread; pure. The parameters for an area and its soft cut at this rate and hop (Fresh
// is left true); a width that is not positive counts as none.
SoftGainParams MakeSoftGainParams(const FilterArea& area, int sampleRate, int hop) noexcept;

// Owner's thread; allocates nothing. The frequency gain of each bin j < half of a frame with
// this bin width, for an area whose frequency edges have a width: the transitions on
// log2(j * binWidth / edge), bin 0 at -infinity octaves, edges at 0 Hz or at half the rate
// open.
void FrequencyGains(const FilterArea& area, float binWidth, int half, float* gains) noexcept;

// Owner's thread; allocates nothing. The smoothed gains of every bin of the frame, into
// State; every path gives the same gains to float rounding.
void SoftGains(CodePath path, const SoftGainParams& p, const SoftFrame& frame) noexcept;

namespace soft {
// The paths behind SoftGains; the vector ones take bins in groups of 8 and 16 (Half a
// multiple of that).
void GainsPlain(const SoftGainParams& p, const SoftFrame& frame) noexcept;
void GainsAvx2(const SoftGainParams& p, const SoftFrame& frame) noexcept;
void GainsAvx512(const SoftGainParams& p, const SoftFrame& frame) noexcept;
} // namespace soft

} // namespace varnel
