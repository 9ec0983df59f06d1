#pragma once

// Internal to the separation filter: the windowing of a frame and the overlap-add of its
// inverse transform, on the filter's code path.

#include "dsp/CpuFeatures.h"

namespace varnel {

// Owner's thread; allocates nothing. out = ring * window over n values, both channels.
void WindowFrame(CodePath path, const float* ringL, const float* ringR, const float* window,
                 float* outL, float* outR, int n) noexcept;

// Owner's thread; allocates nothing. For i = from..n-1, out[i] = 2 ring[i] window[i] + end
// - kept[i], end being evenEnd for even i and oddEnd for odd i: a frame of every bin (the
// windowed frame at the kept frame's level, with its ends' bins as the kept frame counts
// them) less the kept frame.
void WholeLessKept(CodePath path, const float* ring, const float* window, const float* kept,
                   float evenEnd, float oddEnd, float* out, int from, int n) noexcept;

// Owner's thread; allocates nothing. acc += weight * x over count values, both channels. The
// vector paths fuse every multiply-add, so their sums may differ from the plain path's in the
// last bit, but never depend on count or alignment.
void OverlapAdd(CodePath path, float* accL, float* accR, const float* weight, const float* xl,
                const float* xr, int count) noexcept;

} // namespace varnel
