#include "dsp/RealPacking.h"

#include "dsp/BinDecision.h"
#include "dsp/VectorMath.h"

namespace varnel {

namespace {

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
// One bin's real or imaginary part x, weighed by the bin's weight.
template <Weighting kWeighting>
inline float Weigh(float x, float weight) noexcept
{
    switch (kWeighting) {
    case Weighting::Kept: return IsKept(weight) ? x : 0.0f;
    case Weighting::Cleared: return IsKept(weight) ? 0.0f : x;
    case Weighting::Gain: return x * weight;
    }
    return 0.0f;
}

template <Weighting kWeighting>
void BuildPairs(const float* bins, const float* keep, const float* w, float* z, int half, int from,
                int to) noexcept
{
    if (from == 0) {
        const float g0 = Weigh<kWeighting>(2.0f * bins[0], keep[0]);
        z[0] = g0;
        z[1] = g0;
        from = 1;
    }
    for (int k = from; k <= to; ++k) {
        const auto a = static_cast<std::size_t>(2 * k);
        const auto b = static_cast<std::size_t>(2 * (half - k));
        const float ka = keep[static_cast<std::size_t>(k)];
        const float kb = keep[static_cast<std::size_t>(half - k)];
        const float gr = Weigh<kWeighting>(bins[a], ka), gi = Weigh<kWeighting>(bins[a + 1], ka);
        const float mr = Weigh<kWeighting>(bins[b], kb), mi = Weigh<kWeighting>(-bins[b + 1], kb);
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

#ifdef VARNEL_X86
using simd::ComplexMask4;
using simd::Conj;
using simd::Reverse;
using simd::SwapPairs;
using simd::TimesI;

// w * y for 4 complex floats. No fused multiply-adds here or in the analysis: every float
// operation matches the plain path's, so both paths decide from the same values.
VARNEL_AVX2 inline __m256 Mul(__m256 w, __m256 y)
{
    return _mm256_addsub_ps(_mm256_mul_ps(_mm256_moveldup_ps(w), y),
                            _mm256_mul_ps(_mm256_movehdup_ps(w), SwapPairs(y)));
}

// Pairs are taken 4 at a time while the low group k..k+3 stays below the high group.
inline int VectorPairsEnd(int half) noexcept
{
    int k = 1;
    while (2 * k + 6 < half)
        k += 4;
    return k;
}

// The pairs from k = from on, 4 at a time; returns where the scalar pairs start.
VARNEL_AVX2 int SplitAvx2(const float* z, float* bins, const float* w, int half, int from)
{
    const int end = VectorPairsEnd(half);
    const __m256 halfV = _mm256_set1_ps(0.5f);
    for (int k = from; k < end; k += 4) {
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
    return end;
}

// Four complex bins weighed by their weights (each doubled to cover a complex value).
template <Weighting kWeighting>
VARNEL_AVX2 inline __m256 Weigh4(__m256 x, const float* weights)
{
    const __m256 m = ComplexMask4(weights);
    switch (kWeighting) {
    case Weighting::Kept: return _mm256_and_ps(x, m);
    case Weighting::Cleared: return _mm256_andnot_ps(m, x);
    case Weighting::Gain: return _mm256_mul_ps(x, m);
    }
    return x;
}

template <Weighting kWeighting>
VARNEL_AVX2 int BuildAvx2(const float* bins, const float* keep, const float* w, float* z, int half,
                          int from)
{
    const int end = VectorPairsEnd(half);
    for (int k = from; k < end; k += 4) {
        const auto a = static_cast<std::size_t>(2 * k);
        const auto b = static_cast<std::size_t>(2 * (half - k - 3));
        const __m256 g = Weigh4<kWeighting>(_mm256_loadu_ps(bins + a), keep + k);
        const __m256 gm =
            Conj(Reverse(Weigh4<kWeighting>(_mm256_loadu_ps(bins + b), keep + (half - k - 3))));
        const __m256 s = _mm256_add_ps(g, gm);
        const __m256 t = _mm256_sub_ps(g, gm);
        const __m256 u = TimesI(Mul(Conj(_mm256_loadu_ps(w + a)), t));
        _mm256_storeu_ps(z + a, _mm256_add_ps(s, u));
        _mm256_storeu_ps(z + b, Reverse(Conj(_mm256_sub_ps(s, u))));
    }
    return end;
}

// The AVX-512 forms: 8 pairs at a time while the low group stays below the high group, with
// the same operations lane by lane; the AVX2 forms take over from where they stop.
VARNEL_AVX512 inline __m512 Mul(__m512 w, __m512 y)
{
    return simd::AddSub(_mm512_mul_ps(_mm512_moveldup_ps(w), y),
                        _mm512_mul_ps(_mm512_movehdup_ps(w), SwapPairs(y)));
}

VARNEL_AVX512 int SplitAvx512(const float* z, float* bins, const float* w, int half)
{
    const __m512 halfV = _mm512_set1_ps(0.5f);
    int k = 1;
    for (; 2 * k + 14 < half; k += 8) {
        const auto a = static_cast<std::size_t>(2 * k);
        const auto b = static_cast<std::size_t>(2 * (half - k - 7));
        const __m512 zk = _mm512_loadu_ps(z + a);
        const __m512 zm = Conj(Reverse(_mm512_loadu_ps(z + b)));
        const __m512 e = _mm512_mul_ps(halfV, _mm512_add_ps(zk, zm));
        const __m512 d = _mm512_mul_ps(halfV, Conj(SwapPairs(_mm512_sub_ps(zk, zm))));
        const __m512 t = Mul(_mm512_loadu_ps(w + a), d);
        _mm512_storeu_ps(bins + a, _mm512_add_ps(e, t));
        _mm512_storeu_ps(bins + b, Reverse(Conj(_mm512_sub_ps(e, t))));
    }
    return SplitAvx2(z, bins, w, half, k);
}

template <Weighting kWeighting>
VARNEL_AVX512 inline __m512 Weigh8(__m512 x, const float* weights)
{
    const __m512 m = simd::ComplexMask8(weights);
    switch (kWeighting) {
    case Weighting::Kept: return _mm512_and_ps(x, m);
    case Weighting::Cleared: return _mm512_andnot_ps(m, x);
    case Weighting::Gain: return _mm512_mul_ps(x, m);
    }
    return x;
}

template <Weighting kWeighting>
VARNEL_AVX512 int BuildAvx512(const float* bins, const float* keep, const float* w, float* z,
                              int half)
{
    int k = 1;
    for (; 2 * k + 14 < half; k += 8) {
        const auto a = static_cast<std::size_t>(2 * k);
        const auto b = static_cast<std::size_t>(2 * (half - k - 7));
        const __m512 g = Weigh8<kWeighting>(_mm512_loadu_ps(bins + a), keep + k);
        const __m512 gm =
            Conj(Reverse(Weigh8<kWeighting>(_mm512_loadu_ps(bins + b), keep + (half - k - 7))));
        const __m512 s = _mm512_add_ps(g, gm);
        const __m512 t = _mm512_sub_ps(g, gm);
        const __m512 u = TimesI(Mul(Conj(_mm512_loadu_ps(w + a)), t));
        _mm512_storeu_ps(z + a, _mm512_add_ps(s, u));
        _mm512_storeu_ps(z + b, Reverse(Conj(_mm512_sub_ps(s, u))));
    }
    return BuildAvx2<kWeighting>(bins, keep, w, z, half, k);
}

#endif

} // namespace

void SplitSpectrum(CodePath path, const float* z, float* bins, const float* w, int half) noexcept
{
#ifdef VARNEL_X86
    if (path != CodePath::Plain) {
        const int end = path == CodePath::Avx512 ? SplitAvx512(z, bins, w, half)
                                                 : SplitAvx2(z, bins, w, half, 1);
        SplitPairs(z, bins, w, half, 0, 0);
        SplitPairs(z, bins, w, half, end, half / 2);
        return;
    }
#endif
    (void)path;
    SplitPairs(z, bins, w, half, 0, half / 2);
}

namespace {

template <Weighting kWeighting>
void Build(CodePath path, const float* bins, const float* keep, const float* w, float* z,
           int half) noexcept
{
#ifdef VARNEL_X86
    if (path != CodePath::Plain) {
        const int end = path == CodePath::Avx512 ? BuildAvx512<kWeighting>(bins, keep, w, z, half)
                                                 : BuildAvx2<kWeighting>(bins, keep, w, z, half, 1);
        BuildPairs<kWeighting>(bins, keep, w, z, half, 0, 0);
        BuildPairs<kWeighting>(bins, keep, w, z, half, end, half / 2);
        return;
    }
#endif
    (void)path;
    BuildPairs<kWeighting>(bins, keep, w, z, half, 0, half / 2);
}

} // namespace

void BuildSpectrum(CodePath path, Weighting weighting, const float* bins, const float* weights,
                   const float* w, float* z, int half) noexcept
{
    switch (weighting) {
    case Weighting::Kept: Build<Weighting::Kept>(path, bins, weights, w, z, half); return;
    case Weighting::Cleared: Build<Weighting::Cleared>(path, bins, weights, w, z, half); return;
    case Weighting::Gain: Build<Weighting::Gain>(path, bins, weights, w, z, half); return;
    }
}

} // namespace varnel
