#pragma once

// Internal to the separation filter: the per-bin analysis (pan ratio, depth) and the keep/clear
// decision, one statement of the rule shared by the plain, vector and exact paths.

#include "dsp/CpuFeatures.h"

#include <cstdint>
#include <cstring>

namespace varnel {

// The per-frame parameters of the bin decision, derived from the area.
struct BinDecision
{
    int LowBin, HighBin, CorrectionLimit;
    float PanLow, PanHigh;
    float DepthLow, DepthHigh; // as given, for the exact path
    // Depth bounds as half-plane tests on P = L * conj(R): depth <= high holds when
    // sin(high) * Re(P) - cos(high) * |Im(P)| >= 0, depth >= low when the same form with low
    // is <= 0. The flags cover bounds that every or no bin meets.
    float SinHigh, CosHigh, SinLow, CosLow;
    bool HighAll, HighNone, HighZero, LowAll, LowNone;
    bool Inverted;
};

// The frame's bins and where the decision goes: bins 0..Half-1 of each channel as complex
// floats, the correction strength per bin, and the keep mask (all bits set when kept).
struct BinFrame
{
    const float* BinsL;
    const float* BinsR;
    const float* Correction;
    float* Keep;
    int Half;
};

// Where the analysis goes while the visual feed is on; Depth null for no feed.
struct BinFeed
{
    float* Depth = nullptr;
    float* MagR = nullptr;
    float* MagL = nullptr;
    float* Ratio = nullptr;
    float* SumMag = nullptr; // |L + R|
};

constexpr float kRatioCap = 32000.0f;
// A channel whose bin power is below this but not zero takes the exact per-bin path, where
// the products of the fast path could underflow.
constexpr float kTinyPower = 1.0e-30f;

// Any thread; pure.
BinDecision MakeBinDecision(int lowBin, int highBin, int correctionLimit, float panLow,
                            float panHigh, float depthLow, float depthHigh, bool inverted) noexcept;

// Any thread; pure. Whether a bin needs the exact path: a channel so small, but not zero,
// that the fast path's products could underflow.
inline bool IsRareBin(float lr, float li, float rr, float ri) noexcept
{
    const bool zeroL = lr == 0.0f && li == 0.0f;
    const bool zeroR = rr == 0.0f && ri == 0.0f;
    return (lr * lr + li * li < kTinyPower && !zeroL) || (rr * rr + ri * ri < kTinyPower && !zeroR);
}

// Any thread; pure. The rule: a bin is inside the area when its index, pan ratio and depth
// all lie within the bounds; it is kept when inside, or when outside and the area is inverted.
inline bool KeepBin(const BinDecision& d, int j, float ratio, bool depthInside) noexcept
{
    const bool inside =
        d.LowBin <= j && j <= d.HighBin && d.PanLow <= ratio && ratio <= d.PanHigh && depthInside;
    return inside != d.Inverted;
}

// The keep mask's two values, so the inverse packing can AND a bin with its flag.
inline float KeptMask(bool kept) noexcept
{
    const uint32_t bits = kept ? 0xFFFFFFFFu : 0u;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline bool IsKept(float mask) noexcept
{
    uint32_t bits;
    std::memcpy(&bits, &mask, sizeof bits);
    return bits != 0;
}

// Owner's thread; allocates nothing. Analyses and decides every bin of the frame on the given
// code path; every path gives the same decisions.
void AnalyseBins(CodePath path, const BinDecision& d, const BinFrame& frame,
                 const BinFeed& feed) noexcept;

namespace bins {
// The paths behind AnalyseBins. The vector ones return how many bins need the exact path,
// without deciding them; Half is a multiple of 8 (16 for AVX-512).
void AnalyseExact(const BinDecision& d, const BinFrame& frame, const BinFeed& feed, int j) noexcept;
void AnalysePlain(const BinDecision& d, const BinFrame& frame, const BinFeed& feed) noexcept;
int AnalyseAvx2(const BinDecision& d, const BinFrame& frame, const BinFeed& feed) noexcept;
int AnalyseAvx512(const BinDecision& d, const BinFrame& frame, const BinFeed& feed) noexcept;
} // namespace bins

} // namespace varnel
