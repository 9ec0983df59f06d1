#pragma once

// Internal to the separation filter: a real frame of N samples runs through a complex transform
// of N/2 points (even samples as real parts, odd samples as imaginary parts). These turn that
// half-size spectrum into bins 0..N/2-1 of the real frame and back.

#include "dsp/CpuFeatures.h"

namespace varnel {

// Owner's thread; allocate nothing. z and bins hold N floats (N/2 complex values), w holds
// e^(-2 pi i k/N) for k < N/2 as complex floats, half = N/2. Every code path gives the same
// bits; the vector paths need half >= 32.
//
// Bins 0..N/2-1 of the real frame from the half-size transform z of its even/odd samples.
void SplitSpectrum(CodePath path, const float* z, float* bins, const float* w, int half) noexcept;
// How BuildSpectrum weighs each bin: by the keep mask (all bits set when kept) or its
// complement, or by a gain per bin.
enum class Weighting
{
    Kept,
    Cleared,
    Gain,
};

// The half-size spectrum whose inverse transform holds 4 times the real frame made of the
// bins weighed by weights (one float per bin, read as the weighting says), even samples in
// the real parts.
void BuildSpectrum(CodePath path, Weighting weighting, const float* bins, const float* weights,
                   const float* w, float* z, int half) noexcept;

} // namespace varnel
