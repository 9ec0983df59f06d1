#include "dsp/Cntrfocus.h"

#include "dsp/VisualFeed.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#define VARNEL_FILTER_X86 1
#include <immintrin.h>
#endif

namespace varnel {

namespace {

constexpr double kPiDouble = 3.14159265358979323846;
constexpr float kRatioCap = 32000.0f;
// Overlap-add gain: the float nearest 5.33333 (not 16/3), spread over the overlapping frames.
constexpr float kSynthesisGain = 5.33333f;
// A channel whose bin power is below this but not zero takes the exact per-bin path, where
// the products of the fast path could underflow.
constexpr float kTinyPower = 1.0e-30f;

// Truncation toward zero; an absurd or NaN Hz value is clamped first so the conversion to int
// stays defined.
int BinFromHz(float hz, float binWidth) noexcept
{
    const float bin = hz / binWidth;
    if (bin > 1.0e9f)
        return 1000000000;
    if (!(bin > -1.0e9f))
        return -1000000000;
    return static_cast<int>(bin);
}

float WrapPhaseDiff(float phaseL, float phaseR) noexcept
{
    float d = phaseL - phaseR;
    if (d > kPi)
        d = d - 2.0f * kPi;
    if (d < -kPi)
        d = d + 2.0f * kPi;
    return d;
}

float AllBits() noexcept
{
    const uint32_t bits = 0xFFFFFFFFu;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

bool IsSet(float mask) noexcept
{
    uint32_t bits;
    std::memcpy(&bits, &mask, sizeof bits);
    return bits != 0;
}

// Bins 0..N/2-1 of a real frame from the half-size transform z of its even/odd samples, for
// the pairs k, M-k with k in [from, to]: X[k] = E + W^k D and X[M-k] = conj(E - W^k D), with
// E = (Z[k] + conj Z[M-k]) / 2, D = -i (Z[k] - conj Z[M-k]) / 2 and W = e^(-2 pi i/N).
// Pair 0 is bin 0 alone: X[0] = Re Z[0] + Im Z[0].
void SplitPairs(const float* z, float* bins, const float* w, int half, int from, int to) noexcept
{
    if (from == 0) {
        bins[0] = z[0] + z[1];
        bins[1] = 0.0f;
        from = 1;
    }
    for (int k = from; k <= to; ++k) {
        const auto a = static_cast<std::size_t>(2 * k);
        const auto b = static_cast<std::size_t>(2 * (half - k));
        const float zr = z[a], zi = z[a + 1], mr = z[b], mi = -z[b + 1];
        const float er = 0.5f * (zr + mr), ei = 0.5f * (zi + mi);
        const float dr = 0.5f * (zi - mi), di = -0.5f * (zr - mr);
        const float tr = w[a] * dr - w[a + 1] * di;
        const float ti = w[a] * di + w[a + 1] * dr;
        bins[a] = er + tr;
        bins[a + 1] = ei + ti;
        if (b != a) {
            bins[b] = er - tr;
            bins[b + 1] = -(ei - ti);
        }
    }
}

// The inverse of SplitPairs for the kept bins G (G[0] real, G[N/2] = 0): the half-size
// spectrum whose inverse transform holds 4 times the real frame, even samples in the real
// parts. Z[k] = S + i V^k T and Z[M-k] = conj(S - i V^k T), with S = G[k] + conj G[M-k],
// T = G[k] - conj G[M-k] and V = e^(+2 pi i/N).
//
// The kept spectrum of a channel is bins 0..N/2-1 only; the real part of its inverse is the
// inverse of its Hermitian part, which halves every bin but bin 0. Building from G = twice
// that part gives G[0] = 2 Re X[0] and G[k] = X[k]: bin 0 counts double, the reason a
// constant input comes out at 5/3 of its level.
void BuildPairs(const float* bins, const float* keep, const float* w, float* z, int half, int from,
                int to) noexcept
{
    if (from == 0) {
        const float g0 = IsSet(keep[0]) ? 2.0f * bins[0] : 0.0f;
        z[0] = g0;
        z[1] = g0;
        from = 1;
    }
    for (int k = from; k <= to; ++k) {
        const auto a = static_cast<std::size_t>(2 * k);
        const auto b = static_cast<std::size_t>(2 * (half - k));
        const bool ka = IsSet(keep[static_cast<std::size_t>(k)]);
        const bool kb = IsSet(keep[static_cast<std::size_t>(half - k)]);
        const float gr = ka ? bins[a] : 0.0f, gi = ka ? bins[a + 1] : 0.0f;
        const float mr = kb ? bins[b] : 0.0f, mi = kb ? -bins[b + 1] : 0.0f;
        const float sr = gr + mr, si = gi + mi;
        const float tr = gr - mr, ti = gi - mi;
        const float vr = w[a], vi = -w[a + 1]; // V^k = conj(W^k)
        const float pr = vr * tr - vi * ti, pi = vr * ti + vi * tr;
        const float ur = -pi, ui = pr; // i V^k T
        z[a] = sr + ur;
        z[a + 1] = si + ui;
        if (b != a) {
            z[b] = sr - ur;
            z[b + 1] = -(si - ui);
        }
    }
}

#ifdef VARNEL_FILTER_X86
#define VARNEL_AVX2 __attribute__((target("avx2,fma")))

VARNEL_AVX2 inline __m256 SwapPairs(__m256 x)
{
    return _mm256_permute_ps(x, 0xB1);
}

VARNEL_AVX2 inline __m256 Conj(__m256 x)
{
    return _mm256_xor_ps(x, _mm256_castsi256_ps(_mm256_setr_epi32(0, INT32_MIN, 0, INT32_MIN, 0,
                                                                  INT32_MIN, 0, INT32_MIN)));
}

// i * x = (-xi, xr)
VARNEL_AVX2 inline __m256 TimesI(__m256 x)
{
    return _mm256_xor_ps(SwapPairs(x),
                         _mm256_castsi256_ps(_mm256_setr_epi32(INT32_MIN, 0, INT32_MIN, 0,
                                                               INT32_MIN, 0, INT32_MIN, 0)));
}

// Four complex values in reverse order.
VARNEL_AVX2 inline __m256 Reverse(__m256 x)
{
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(x), 0x1B));
}

// w * y for 4 complex floats. No fused multiply-adds here or in the analysis: every float
// operation matches the plain path's, so both paths decide from the same values.
VARNEL_AVX2 inline __m256 Mul(__m256 w, __m256 y)
{
    return _mm256_addsub_ps(_mm256_mul_ps(_mm256_moveldup_ps(w), y),
                            _mm256_mul_ps(_mm256_movehdup_ps(w), SwapPairs(y)));
}

// The keep flags of 4 bins, each doubled to cover a complex value.
VARNEL_AVX2 inline __m256 ComplexMask(const float* keep)
{
    const __m128 m = _mm_loadu_ps(keep);
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_unpacklo_ps(m, m)),
                                _mm_unpackhi_ps(m, m), 1);
}

// Pairs are taken 4 at a time while the low group k..k+3 stays below the high group.
inline int VectorPairsEnd(int half) noexcept
{
    int k = 1;
    while (2 * k + 6 < half)
        k += 4;
    return k;
}

VARNEL_AVX2 void SplitAvx2(const float* z, float* bins, const float* w, int half)
{
    const int end = VectorPairsEnd(half);
    const __m256 halfV = _mm256_set1_ps(0.5f);
    for (int k = 1; k < end; k += 4) {
        const auto a = static_cast<std::size_t>(2 * k);
        const auto b = static_cast<std::size_t>(2 * (half - k - 3));
        const __m256 zk = _mm256_loadu_ps(z + a);
        const __m256 zm = Conj(Reverse(_mm256_loadu_ps(z + b)));
        const __m256 e = _mm256_mul_ps(halfV, _mm256_add_ps(zk, zm));
        const __m256 d = _mm256_mul_ps(halfV, Conj(SwapPairs(_mm256_sub_ps(zk, zm))));
        const __m256 t = Mul(_mm256_loadu_ps(w + a), d);
        _mm256_storeu_ps(bins + a, _mm256_add_ps(e, t));
        _mm256_storeu_ps(bins + b, Reverse(Conj(_mm256_sub_ps(e, t))));
    }
    SplitPairs(z, bins, w, half, 0, 0);
    SplitPairs(z, bins, w, half, end, half / 2);
}

VARNEL_AVX2 void BuildAvx2(const float* bins, const float* keep, const float* w, float* z, int half)
{
    const int end = VectorPairsEnd(half);
    for (int k = 1; k < end; k += 4) {
        const auto a = static_cast<std::size_t>(2 * k);
        const auto b = static_cast<std::size_t>(2 * (half - k - 3));
        const __m256 g = _mm256_and_ps(_mm256_loadu_ps(bins + a), ComplexMask(keep + k));
        const __m256 gm = Conj(
            Reverse(_mm256_and_ps(_mm256_loadu_ps(bins + b), ComplexMask(keep + (half - k - 3)))));
        const __m256 s = _mm256_add_ps(g, gm);
        const __m256 t = _mm256_sub_ps(g, gm);
        const __m256 u = TimesI(Mul(Conj(_mm256_loadu_ps(w + a)), t));
        _mm256_storeu_ps(z + a, _mm256_add_ps(s, u));
        _mm256_storeu_ps(z + b, Reverse(Conj(_mm256_sub_ps(s, u))));
    }
    BuildPairs(bins, keep, w, z, half, 0, 0);
    BuildPairs(bins, keep, w, z, half, end, half / 2);
}

// Real and imaginary parts of 8 complex values, in order.
VARNEL_AVX2 inline void Deinterleave(const float* p, __m256& re, __m256& im)
{
    const __m256 a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + 8);
    re = _mm256_castpd_ps(
        _mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, 0x88)), 0xD8));
    im = _mm256_castpd_ps(
        _mm256_permute4x64_pd(_mm256_castps_pd(_mm256_shuffle_ps(a, b, 0xDD)), 0xD8));
}

// atan2(y, x) for y >= 0, within about 2e-7 rad: octant reduction and a polynomial of
// degree 9 for atan on [0, tan(pi/8)]. Above tan(pi/8) the ratio t = small / big is replaced
// by (t - 1) / (t + 1) = (small - big) / (small + big), formed before the one division.
VARNEL_AVX2 inline __m256 Atan2Upper(__m256 y, __m256 x)
{
    const __m256 sign = _mm256_set1_ps(-0.0f);
    const __m256 ax = _mm256_andnot_ps(sign, x);
    const __m256 big = _mm256_max_ps(y, ax), small = _mm256_min_ps(y, ax);
    const __m256 upper =
        _mm256_cmp_ps(small, _mm256_mul_ps(big, _mm256_set1_ps(0.41421356f)), _CMP_GT_OQ);
    const __m256 num = _mm256_blendv_ps(small, _mm256_sub_ps(small, big), upper);
    const __m256 den = _mm256_blendv_ps(big, _mm256_add_ps(small, big), upper);
    __m256 t = _mm256_div_ps(num, den);
    t = _mm256_and_ps(t, _mm256_cmp_ps(big, _mm256_setzero_ps(), _CMP_GT_OQ)); // 0/0 -> 0
    const __m256 z = _mm256_mul_ps(t, t);
    __m256 p = _mm256_set1_ps(8.05374449538e-2f);
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(-1.38776856032e-1f));
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(1.99777106478e-1f));
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(-3.33329491539e-1f));
    p = _mm256_fmadd_ps(_mm256_mul_ps(p, z), t, t);
    p = _mm256_add_ps(p, _mm256_and_ps(upper, _mm256_set1_ps(0.78539816f)));
    p = _mm256_blendv_ps(p, _mm256_sub_ps(_mm256_set1_ps(1.57079633f), p),
                         _mm256_cmp_ps(y, ax, _CMP_GT_OQ));
    return _mm256_blendv_ps(p, _mm256_sub_ps(_mm256_set1_ps(3.14159265f), p),
                            _mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_LT_OQ));
}

// The bin analysis of AnalysePlain, 8 bins at a time. Returns how many bins need the exact
// path (a channel so small but not zero that its products could underflow).
VARNEL_AVX2 int AnalyseAvx2(const CenterFocus::Decision& d, const float* binsL, const float* binsR,
                            const float* correction, float* keep, float* feedDepth, float* feedMagR,
                            float* feedMagL, float* feedRatio, float* feedSumMag, int half)
{
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256 sign = _mm256_set1_ps(-0.0f);
    const __m256 tiny = _mm256_set1_ps(kTinyPower), cap = _mm256_set1_ps(kRatioCap);
    const __m256 panLow = _mm256_set1_ps(d.PanLow), panHigh = _mm256_set1_ps(d.PanHigh);
    const __m256 sinHigh = _mm256_set1_ps(d.SinHigh), cosHigh = _mm256_set1_ps(d.CosHigh);
    const __m256 sinLow = _mm256_set1_ps(d.SinLow), cosLow = _mm256_set1_ps(d.CosLow);
    const __m256 allBits = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    const __m256 inverted = d.Inverted ? allBits : zero;
    const __m256i lowBin = _mm256_set1_epi32(d.LowBin - 1);
    const __m256i highBin = _mm256_set1_epi32(d.HighBin + 1);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    int rare = 0;
    for (int j = 0; j < half; j += 8) {
        const auto u = static_cast<std::size_t>(j);
        __m256 lr, li, rr, ri;
        Deinterleave(binsL + 2 * u, lr, li);
        Deinterleave(binsR + 2 * u, rr, ri);
        const __m256 powL = _mm256_add_ps(_mm256_mul_ps(lr, lr), _mm256_mul_ps(li, li));
        const __m256 powR = _mm256_add_ps(_mm256_mul_ps(rr, rr), _mm256_mul_ps(ri, ri));
        const __m256 zeroL =
            _mm256_and_ps(_mm256_cmp_ps(lr, zero, _CMP_EQ_OQ), _mm256_cmp_ps(li, zero, _CMP_EQ_OQ));
        const __m256 zeroR =
            _mm256_and_ps(_mm256_cmp_ps(rr, zero, _CMP_EQ_OQ), _mm256_cmp_ps(ri, zero, _CMP_EQ_OQ));
        const __m256 rareMask =
            _mm256_or_ps(_mm256_andnot_ps(zeroL, _mm256_cmp_ps(powL, tiny, _CMP_LT_OQ)),
                         _mm256_andnot_ps(zeroR, _mm256_cmp_ps(powR, tiny, _CMP_LT_OQ)));
        const int rareBits = _mm256_movemask_ps(rareMask);
        if (rareBits != 0)
            rare += __builtin_popcount(static_cast<unsigned>(rareBits));
        const __m256 magL = _mm256_sqrt_ps(powL), magR = _mm256_sqrt_ps(powR);
        if (feedDepth != nullptr) {
            // |L + R|, taken before a zero channel is replaced below.
            const __m256 sr = _mm256_add_ps(lr, rr), si = _mm256_add_ps(li, ri);
            _mm256_storeu_ps(feedSumMag + u, _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(sr, sr),
                                                                          _mm256_mul_ps(si, si))));
        }
        __m256 ratio = _mm256_min_ps(_mm256_div_ps(magR, magL), cap);
        ratio = _mm256_blendv_ps(ratio, _mm256_andnot_ps(zeroR, cap), zeroL);
        lr = _mm256_blendv_ps(lr, one, zeroL);
        li = _mm256_andnot_ps(zeroL, li);
        rr = _mm256_blendv_ps(rr, one, zeroR);
        ri = _mm256_andnot_ps(zeroR, ri);
        const __m256 pre = _mm256_add_ps(_mm256_mul_ps(lr, rr), _mm256_mul_ps(li, ri));
        // Two separate products: identical channels must give exactly 0.
        const __m256 pim = _mm256_sub_ps(_mm256_mul_ps(li, rr), _mm256_mul_ps(lr, ri));
        const __m256 absPim = _mm256_andnot_ps(sign, pim);
        if (j < d.CorrectionLimit) {
            const __m256 magP = _mm256_mul_ps(_mm256_blendv_ps(magL, one, zeroL),
                                              _mm256_blendv_ps(magR, one, zeroR));
            const __m256 s = _mm256_div_ps(pim, magP);
            __m256 c = _mm256_add_ps(
                _mm256_andnot_ps(sign, _mm256_mul_ps(s, _mm256_loadu_ps(correction + u))), one);
            c = _mm256_blendv_ps(c, _mm256_div_ps(one, c), _mm256_cmp_ps(pim, zero, _CMP_GT_OQ));
            ratio = _mm256_mul_ps(c, ratio);
        }
        __m256 inside = allBits;
        if (!d.HighAll) {
            if (d.HighNone)
                inside = zero;
            else if (d.HighZero)
                inside = _mm256_and_ps(_mm256_cmp_ps(pim, zero, _CMP_EQ_OQ),
                                       _mm256_cmp_ps(pre, zero, _CMP_GT_OQ));
            else
                inside = _mm256_cmp_ps(
                    _mm256_sub_ps(_mm256_mul_ps(sinHigh, pre), _mm256_mul_ps(cosHigh, absPim)),
                    zero, _CMP_GE_OQ);
        }
        if (!d.LowAll) {
            if (d.LowNone)
                inside = zero;
            else
                inside = _mm256_and_ps(inside,
                                       _mm256_cmp_ps(_mm256_sub_ps(_mm256_mul_ps(sinLow, pre),
                                                                   _mm256_mul_ps(cosLow, absPim)),
                                                     zero, _CMP_LE_OQ));
        }
        inside = _mm256_and_ps(inside, _mm256_cmp_ps(panLow, ratio, _CMP_LE_OQ));
        inside = _mm256_and_ps(inside, _mm256_cmp_ps(ratio, panHigh, _CMP_LE_OQ));
        const __m256i index = _mm256_add_epi32(_mm256_set1_epi32(j), lanes);
        const __m256i inBand =
            _mm256_and_si256(_mm256_cmpgt_epi32(index, lowBin), _mm256_cmpgt_epi32(highBin, index));
        inside = _mm256_and_ps(inside, _mm256_castsi256_ps(inBand));
        _mm256_storeu_ps(keep + u, _mm256_xor_ps(inside, inverted));
        if (feedDepth != nullptr) {
            _mm256_storeu_ps(feedDepth + u, Atan2Upper(absPim, pre));
            _mm256_storeu_ps(feedMagR + u, magR);
            _mm256_storeu_ps(feedMagL + u, magL);
            _mm256_storeu_ps(feedRatio + u, ratio);
        }
    }
    return rare;
}

VARNEL_AVX2 void WindowAvx2(const float* ringL, const float* ringR, const float* window,
                            float* outL, float* outR, int n)
{
    for (int i = 0; i < n; i += 8) {
        const __m256 w = _mm256_loadu_ps(window + i);
        _mm256_storeu_ps(outL + i, _mm256_mul_ps(_mm256_loadu_ps(ringL + i), w));
        _mm256_storeu_ps(outR + i, _mm256_mul_ps(_mm256_loadu_ps(ringR + i), w));
    }
}

// acc += weight * x over count values (a multiple of 8).
VARNEL_AVX2 void OverlapAddAvx2(float* accL, float* accR, const float* weight, const float* xl,
                                const float* xr, int count)
{
    for (int t = 0; t < count; t += 8) {
        const __m256 w = _mm256_loadu_ps(weight + t);
        _mm256_storeu_ps(accL + t,
                         _mm256_fmadd_ps(w, _mm256_loadu_ps(xl + t), _mm256_loadu_ps(accL + t)));
        _mm256_storeu_ps(accR + t,
                         _mm256_fmadd_ps(w, _mm256_loadu_ps(xr + t), _mm256_loadu_ps(accR + t)));
    }
}
#endif

} // namespace

CenterFocus::CenterFocus() = default;
CenterFocus::~CenterFocus() = default;

bool CenterFocus::VectorCodeAvailable() noexcept
{
#ifdef VARNEL_FILTER_X86
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
#else
    return false;
#endif
}

void CenterFocus::SetVectorCode(bool allowed) noexcept
{
    mVectorAllowed = allowed;
    mForwardFft.SetVectorCode(allowed);
    mInverseFft.SetVectorCode(allowed);
}

bool CenterFocus::UsesVectorCode() const noexcept
{
    // The vector loops take bins in groups of 8 and pairs in groups of 4.
    return mVectorAllowed && mFrameSize >= 64 && VectorCodeAvailable();
}

bool CenterFocus::Setup(int frameSize, int overlap, int sampleRate)
{
    mAllocated = false;
    mOverlap = overlap;
    mFrameSize = frameSize;
    mBinWidth = static_cast<float>(sampleRate) / static_cast<float>(frameSize > 0 ? frameSize : 1);
    mPanLow = mPanHigh = 1.0f;
    mLowBin = 0;
    mHighBin = frameSize / 2 - 1;
    mDepthLow = 0.0f;
    mDepthHigh = kPi;
    mInverted = false;
    mVisualFeed = false;
    mHop = 0;
    mReadPos = 0;
    mWritePos = 0;
    mInHead = 0;
    mOutBase = 0;
    mCorrectionLimit = 0;

    // Free what an earlier set-up left, so a failure leaves no half-sized buffers behind.
    for (std::vector<float>* v :
         {&mWindow, &mCorrectionTable, &mSynthesis, &mSplitTwiddle, &mSpectrumL, &mSpectrumR,
          &mBinsL, &mBinsR, &mKeep, &mFeedDepth, &mFeedMagR, &mFeedMagL, &mFeedRatio, &mFeedSumMag,
          &mInRingL, &mInRingR, &mOutRingL, &mOutRingR})
        *v = std::vector<float>();

    const bool sizeOk =
        frameSize >= 4 && frameSize <= (1 << 24) && (frameSize & (frameSize - 1)) == 0;
    if (!sizeOk || overlap < 1 || frameSize % overlap != 0 || sampleRate <= 0)
        return false;
    const int n = frameSize;
    const int half = n / 2;
    if (!mForwardFft.Setup(half, true) || !mInverseFft.Setup(half, false))
        return false;
    mForwardFft.SetVectorCode(mVectorAllowed);
    mInverseFft.SetVectorCode(mVectorAllowed);
    // The forward transform keeps the exact rounding, so the vector and plain paths decide
    // from identical spectra; the inverse only feeds the output, where float rounding of the
    // twiddle products is far below one sample step.
    mInverseFft.SetExactRounding(false);

    const auto un = static_cast<std::size_t>(n);
    const auto uh = static_cast<std::size_t>(half);
    try {
        mSpectrumL.assign(un, 0.0f);
        mSpectrumR.assign(un, 0.0f);
        mBinsL.assign(un, 0.0f);
        mBinsR.assign(un, 0.0f);
        mKeep.assign(uh, 0.0f);
        for (std::vector<float>* v :
             {&mFeedDepth, &mFeedMagR, &mFeedMagL, &mFeedRatio, &mFeedSumMag})
            v->assign(uh, 0.0f);
        mInRingL.assign(2 * un, 0.0f);
        mInRingR.assign(2 * un, 0.0f);
        mOutRingL.assign(un, 0.0f);
        mOutRingR.assign(un, 0.0f);
        mCorrectionTable.assign(uh, 0.0f);
        mWindow.assign(un, 0.0f);
        mSynthesis.assign(un, 0.0f);
        mSplitTwiddle.assign(un, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    mHop = n / overlap;
    mReadPos = 0;
    mWritePos = n - mHop;

    // Below 1300 Hz a bin's ratio is corrected by its phase difference; rates so low that no
    // bin below N/2 reaches 1300 Hz correct every bin.
    mCorrectionLimit = half;
    for (int i = 0; i < half; ++i) {
        float entry = 1.4f;
        if (i > 0) {
            const double hz = static_cast<double>(i) * static_cast<double>(mBinWidth);
            entry = static_cast<float>((std::log10(1300.0) - std::log10(hz)) * 1.2);
        }
        if (entry <= 0.0f) {
            mCorrectionLimit = i;
            break;
        }
        if (static_cast<double>(entry) > 1.4)
            entry = 1.4f;
        mCorrectionTable[static_cast<std::size_t>(i)] = entry;
    }
    // The inverse comes back from the half-size transform at 4 times the frame's level (see
    // BuildPairs); a quarter is exact in floats.
    const double gain = static_cast<double>(kSynthesisGain) / overlap / 4.0;
    for (int i = 0; i < n; ++i) {
        const auto u = static_cast<std::size_t>(i);
        const double arg = 2.0 * static_cast<double>(kPi) * i / n;
        mWindow[u] = static_cast<float>(0.5 - 0.5 * std::cos(arg));
        mSynthesis[u] = static_cast<float>(gain * mWindow[u]);
    }
    for (int k = 0; k < half; ++k) {
        const double angle = -2.0 * kPiDouble * k / n;
        mSplitTwiddle[2 * static_cast<std::size_t>(k)] = static_cast<float>(std::cos(angle));
        mSplitTwiddle[2 * static_cast<std::size_t>(k) + 1] = static_cast<float>(std::sin(angle));
    }
    mAllocated = true;
    return true;
}

void CenterFocus::SetPanRange(float low, float high) noexcept
{
    mPanLow = low;
    mPanHigh = high;
}

void CenterFocus::SetFreqRange(float lowHz, float highHz) noexcept
{
    if (mBinWidth <= 0.0f)
        return;
    mLowBin = BinFromHz(lowHz, mBinWidth);
    mHighBin = BinFromHz(highHz, mBinWidth);
}

void CenterFocus::SetDepthRange(float low, float high) noexcept
{
    mDepthLow = low;
    mDepthHigh = high;
}

void CenterFocus::SetInverted(bool inverted) noexcept
{
    mInverted = inverted;
}

void CenterFocus::SetVisualFeed(bool on) noexcept
{
    mVisualFeed = on;
}

void CenterFocus::SetArea(const FilterArea& area) noexcept
{
    SetPanRange(area.PanLow, area.PanHigh);
    SetFreqRange(area.FreqLowHz, area.FreqHighHz);
    SetDepthRange(area.DepthLow, area.DepthHigh);
    SetInverted(area.Inverted);
}

bool CenterFocus::BinKept(int j) const noexcept
{
    if (j < 0 || static_cast<std::size_t>(j) >= mKeep.size())
        return false;
    return IsSet(mKeep[static_cast<std::size_t>(j)]);
}

void CenterFocus::Process(const int32_t* inL, const int32_t* inR, int32_t* outL, int32_t* outR,
                          int count) noexcept
{
    if (!mAllocated) {
        for (int i = 0; i < count; ++i)
            outL[i] = outR[i] = 0;
        return;
    }
    const int n = mFrameSize;
    const int mask = n - 1;
    float* ringL = mInRingL.data();
    float* ringR = mInRingR.data();
    const float* accL = mOutRingL.data();
    const float* accR = mOutRingR.data();
    int done = 0;
    while (done < count) {
        // Up to the end of the current frame: the write and read positions move together.
        const int run = std::min(count - done, n - mWritePos);
        for (int i = 0; i < run; ++i) {
            const auto p = static_cast<std::size_t>((mInHead + mWritePos + i) & mask);
            const auto fl = static_cast<float>(inL[done + i]);
            const auto fr = static_cast<float>(inR[done + i]);
            ringL[p] = ringL[p + static_cast<std::size_t>(n)] = fl;
            ringR[p] = ringR[p + static_cast<std::size_t>(n)] = fr;
            const auto q = static_cast<std::size_t>((mOutBase + mReadPos + i) & mask);
            outL[done + i] = static_cast<int32_t>(accL[q]);
            outR[done + i] = static_cast<int32_t>(accR[q]);
        }
        done += run;
        mWritePos += run;
        mReadPos += run;
        if (mWritePos >= n)
            FrameStep();
    }
}

CenterFocus::Decision CenterFocus::MakeDecision() const noexcept
{
    Decision d{};
    d.LowBin = mLowBin;
    d.HighBin = mHighBin;
    d.CorrectionLimit = mCorrectionLimit;
    d.PanLow = mPanLow;
    d.PanHigh = mPanHigh;
    d.Inverted = mInverted;
    // A bin's depth, formed from float phases, never exceeds the float pi, so a high bound at
    // or above it passes every bin and a low bound at or below 0 does too. NaN bounds pass
    // nothing, as in a plain comparison.
    const float high = mDepthHigh, low = mDepthLow;
    d.HighAll = high >= kPi;
    d.HighNone = !(high >= 0.0f);
    d.HighZero = high == 0.0f;
    d.LowAll = low <= 0.0f;
    d.LowNone = !(low <= kPi);
    d.SinHigh = static_cast<float>(std::sin(static_cast<double>(high)));
    d.CosHigh = static_cast<float>(std::cos(static_cast<double>(high)));
    d.SinLow = static_cast<float>(std::sin(static_cast<double>(low)));
    d.CosLow = static_cast<float>(std::cos(static_cast<double>(low)));
    return d;
}

// The literal bin analysis, with double atan2 phases, for bins the fast path leaves out.
void CenterFocus::ExactBin(const Decision& d, int j, bool feed) noexcept
{
    const auto u = static_cast<std::size_t>(j);
    const float lr = mBinsL[2 * u], li = mBinsL[2 * u + 1];
    const float rr = mBinsR[2 * u], ri = mBinsR[2 * u + 1];
    const auto magL =
        static_cast<float>(std::sqrt(static_cast<double>(lr) * lr + static_cast<double>(li) * li));
    const auto magR =
        static_cast<float>(std::sqrt(static_cast<double>(rr) * rr + static_cast<double>(ri) * ri));
    const float phaseL =
        (lr == 0.0f && li == 0.0f)
            ? 0.0f
            : static_cast<float>(std::atan2(static_cast<double>(li), static_cast<double>(lr)));
    const float phaseR =
        (rr == 0.0f && ri == 0.0f)
            ? 0.0f
            : static_cast<float>(std::atan2(static_cast<double>(ri), static_cast<double>(rr)));
    const float diff = WrapPhaseDiff(phaseL, phaseR);
    float ratio = 0.0f;
    if (magL > 0.0f || magR > 0.0f) {
        ratio = magL > 0.0f ? magR / magL : kRatioCap;
        if (ratio > kRatioCap)
            ratio = kRatioCap;
        if (j < d.CorrectionLimit) {
            auto c = static_cast<float>(
                std::fabs(std::sin(static_cast<double>(diff)) * mCorrectionTable[u]) + 1.0);
            if (diff > 0.0f)
                c = 1.0f / c;
            ratio = c * ratio;
        }
    }
    const float depth = std::fabs(diff);
    if (feed) {
        mFeedDepth[u] = depth;
        mFeedMagR[u] = magR;
        mFeedMagL[u] = magL;
        mFeedRatio[u] = ratio;
        const double sr = static_cast<double>(lr) + rr, si = static_cast<double>(li) + ri;
        mFeedSumMag[u] = static_cast<float>(std::sqrt(sr * sr + si * si));
    }
    const bool inside = d.LowBin <= j && j <= d.HighBin && d.PanLow <= ratio &&
                        ratio <= d.PanHigh && mDepthLow <= depth && depth <= mDepthHigh;
    mKeep[u] = inside != d.Inverted ? AllBits() : 0.0f;
}

// The bin analysis without phases: P = L conj(R) carries the phase difference d (a channel
// that is exactly zero counts as phase 0, so it is replaced by 1), |Im P| / |P| = |sin d| and
// the sign of Im P is the sign of d.
void CenterFocus::AnalysePlain(const Decision& d, bool feed) noexcept
{
    const int half = mFrameSize / 2;
    for (int j = 0; j < half; ++j) {
        const auto u = static_cast<std::size_t>(j);
        float lr = mBinsL[2 * u], li = mBinsL[2 * u + 1];
        float rr = mBinsR[2 * u], ri = mBinsR[2 * u + 1];
        const float powL = lr * lr + li * li;
        const float powR = rr * rr + ri * ri;
        const bool zeroL = lr == 0.0f && li == 0.0f;
        const bool zeroR = rr == 0.0f && ri == 0.0f;
        if ((powL < kTinyPower && !zeroL) || (powR < kTinyPower && !zeroR)) {
            ExactBin(d, j, feed);
            continue;
        }
        const float magL = std::sqrt(powL);
        const float magR = std::sqrt(powR);
        if (feed) {
            const float sr = lr + rr, si = li + ri;
            mFeedSumMag[u] = std::sqrt(sr * sr + si * si);
        }
        float ratio = 0.0f;
        if (!zeroL)
            ratio = std::min(magR / magL, kRatioCap);
        else if (!zeroR)
            ratio = kRatioCap;
        if (zeroL) {
            lr = 1.0f;
            li = 0.0f;
        }
        if (zeroR) {
            rr = 1.0f;
            ri = 0.0f;
        }
        const float pre = lr * rr + li * ri;
        const float lirr = li * rr, lrri = lr * ri;
        const float pim = lirr - lrri;
        const float absPim = std::fabs(pim);
        if (j < d.CorrectionLimit) {
            const float magP = (zeroL ? 1.0f : magL) * (zeroR ? 1.0f : magR);
            float c = std::fabs(pim / magP * mCorrectionTable[u]) + 1.0f;
            if (pim > 0.0f)
                c = 1.0f / c;
            ratio = c * ratio;
        }
        bool depthOk = true;
        if (!d.HighAll) {
            if (d.HighNone)
                depthOk = false;
            else if (d.HighZero)
                depthOk = pim == 0.0f && pre > 0.0f;
            else
                depthOk = d.SinHigh * pre - d.CosHigh * absPim >= 0.0f;
        }
        if (!d.LowAll)
            depthOk = depthOk && !d.LowNone && d.SinLow * pre - d.CosLow * absPim <= 0.0f;
        if (feed) {
            mFeedDepth[u] = static_cast<float>(
                std::atan2(static_cast<double>(absPim), static_cast<double>(pre)));
            mFeedMagR[u] = magR;
            mFeedMagL[u] = magL;
            mFeedRatio[u] = ratio;
        }
        const bool inside =
            d.LowBin <= j && j <= d.HighBin && d.PanLow <= ratio && ratio <= d.PanHigh && depthOk;
        mKeep[u] = inside != d.Inverted ? AllBits() : 0.0f;
    }
}

void CenterFocus::FrameStep() noexcept
{
    const int n = mFrameSize;
    const int half = n / 2;
    const bool feed = mVisualFeed && mSink != nullptr;
    const bool vector = UsesVectorCode();
    if (feed)
        mSink->NextFrame();

    float* sl = mSpectrumL.data();
    float* sr = mSpectrumR.data();
    const float* wl = mInRingL.data() + mInHead;
    const float* wr = mInRingR.data() + mInHead;
    const float* window = mWindow.data();
#ifdef VARNEL_FILTER_X86
    if (vector)
        WindowAvx2(wl, wr, window, sl, sr, n);
    else
#endif
    {
        for (int i = 0; i < n; ++i) {
            sl[i] = wl[i] * window[i];
            sr[i] = wr[i] * window[i];
        }
    }
    mForwardFft.Transform(sl);
    mForwardFft.Transform(sr);

    const Decision decision = MakeDecision();
    if (vector) {
#ifdef VARNEL_FILTER_X86
        SplitAvx2(sl, mBinsL.data(), mSplitTwiddle.data(), half);
        SplitAvx2(sr, mBinsR.data(), mSplitTwiddle.data(), half);
        const int rare =
            AnalyseAvx2(decision, mBinsL.data(), mBinsR.data(), mCorrectionTable.data(),
                        mKeep.data(), feed ? mFeedDepth.data() : nullptr, mFeedMagR.data(),
                        mFeedMagL.data(), mFeedRatio.data(), mFeedSumMag.data(), half);
        if (rare > 0) {
            // Groups with a bin the vector pass cannot take are marked; redo them exactly.
            for (int j = 0; j < half; ++j) {
                const auto u = static_cast<std::size_t>(j);
                const float lr = mBinsL[2 * u], li = mBinsL[2 * u + 1];
                const float rr = mBinsR[2 * u], ri = mBinsR[2 * u + 1];
                const bool zeroL = lr == 0.0f && li == 0.0f;
                const bool zeroR = rr == 0.0f && ri == 0.0f;
                if ((lr * lr + li * li < kTinyPower && !zeroL) ||
                    (rr * rr + ri * ri < kTinyPower && !zeroR))
                    ExactBin(decision, j, feed);
            }
        }
        BuildAvx2(mBinsL.data(), mKeep.data(), mSplitTwiddle.data(), sl, half);
        BuildAvx2(mBinsR.data(), mKeep.data(), mSplitTwiddle.data(), sr, half);
#endif
    } else {
        SplitPairs(sl, mBinsL.data(), mSplitTwiddle.data(), half, 0, half / 2);
        SplitPairs(sr, mBinsR.data(), mSplitTwiddle.data(), half, 0, half / 2);
        AnalysePlain(decision, feed);
        BuildPairs(mBinsL.data(), mKeep.data(), mSplitTwiddle.data(), sl, half, 0, half / 2);
        BuildPairs(mBinsR.data(), mKeep.data(), mSplitTwiddle.data(), sr, half, 0, half / 2);
    }
    if (feed)
        mSink->AddBins(mFeedDepth.data(), mFeedMagR.data(), mFeedMagL.data(), mFeedRatio.data(),
                       mFeedSumMag.data(), half);
    mInverseFft.Transform(sl);
    mInverseFft.Transform(sr);

    // Overlap-add the frame's samples hop..N-1; samples 0..hop-1 would land in cells already
    // read out. Those cells are cleared instead: they become the ring's top hop cells.
    const int mask = n - 1;
    float* accL = mOutRingL.data();
    float* accR = mOutRingR.data();
    const float* synthesis = mSynthesis.data();
    for (int i = mHop; i < n;) {
        const int cell = (mOutBase + i) & mask;
        const int run = std::min(n - i, n - cell);
        float* al = accL + cell;
        float* ar = accR + cell;
        const float* xl = sl + i;
        const float* xr = sr + i;
        const float* sy = synthesis + i;
#ifdef VARNEL_FILTER_X86
        if (vector && run % 8 == 0)
            OverlapAddAvx2(al, ar, sy, xl, xr, run);
        else
#endif
        {
            for (int t = 0; t < run; ++t) {
                al[t] += sy[t] * xl[t];
                ar[t] += sy[t] * xr[t];
            }
        }
        i += run;
    }
    std::fill(accL + mOutBase, accL + mOutBase + mHop, 0.0f);
    std::fill(accR + mOutBase, accR + mOutBase + mHop, 0.0f);
    mOutBase = (mOutBase + mHop) & mask;
    mInHead = (mInHead + mHop) & mask;
    mWritePos -= mHop;
    mReadPos -= mHop;
}

} // namespace varnel
