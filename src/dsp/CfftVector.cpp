#include "dsp/CfftEngine.h"
#include "dsp/VectorMath.h"

// The AVX2 engine: the plain path's passes four complex values at a time. The first pass reads
// the data in bit-reversed order (no separate permutation), the last pass writes back and
// scales. With exact rounding every twiddle product is formed in double and rounded once, so
// the result equals the plain path's bit for bit.

namespace varnel::fft {

#ifdef VARNEL_X86
namespace {

using simd::Conj;
using simd::Join;
using simd::SwapPairs;
using simd::TimesI;

// w * y for 4 complex values, formed in double and rounded once to float: the products of
// two floats are exact in double, so this equals the plain path's arithmetic bit for bit.
// wr/wi hold the twiddle parts duplicated per complex value, for the low and high halves.
VARNEL_AVX2 inline __m256 MulRound(__m256 y, __m256d wrLo, __m256d wiLo, __m256d wrHi, __m256d wiHi)
{
    const __m256d lo = _mm256_cvtps_pd(_mm256_castps256_ps128(y));
    const __m256d hi = _mm256_cvtps_pd(_mm256_extractf128_ps(y, 1));
    const __m256d pl = _mm256_fmaddsub_pd(wrLo, lo, _mm256_mul_pd(wiLo, _mm256_permute_pd(lo, 5)));
    const __m256d ph = _mm256_fmaddsub_pd(wrHi, hi, _mm256_mul_pd(wiHi, _mm256_permute_pd(hi, 5)));
    return Join(_mm256_cvtpd_ps(pl), _mm256_cvtpd_ps(ph));
}

// The same twiddle for all four values.
VARNEL_AVX2 inline __m256 MulRound(__m256 y, const float* w)
{
    const __m256d wr = _mm256_set1_pd(static_cast<double>(w[0]));
    const __m256d wi = _mm256_set1_pd(static_cast<double>(w[1]));
    return MulRound(y, wr, wi, wr, wi);
}

// A different twiddle per value: w holds 4 interleaved complex floats.
VARNEL_AVX2 inline __m256 MulRoundEach(__m256 y, __m256 w)
{
    const __m256d lo = _mm256_cvtps_pd(_mm256_castps256_ps128(w));
    const __m256d hi = _mm256_cvtps_pd(_mm256_extractf128_ps(w, 1));
    return MulRound(y, _mm256_movedup_pd(lo), _mm256_permute_pd(lo, 0xF), _mm256_movedup_pd(hi),
                    _mm256_permute_pd(hi, 0xF));
}

// c * (yr - yi, yr + yi) in double, rounded once.
VARNEL_AVX2 inline __m256 RotateEighth(__m256 y, __m256d c)
{
    const __m256d lo = _mm256_cvtps_pd(_mm256_castps256_ps128(y));
    const __m256d hi = _mm256_cvtps_pd(_mm256_extractf128_ps(y, 1));
    const __m256d rl = _mm256_mul_pd(c, _mm256_addsub_pd(lo, _mm256_permute_pd(lo, 5)));
    const __m256d rh = _mm256_mul_pd(c, _mm256_addsub_pd(hi, _mm256_permute_pd(hi, 5)));
    return Join(_mm256_cvtpd_ps(rl), _mm256_cvtpd_ps(rh));
}

// c * (yi - yr, yi + yr) in double, rounded once.
VARNEL_AVX2 inline __m256 RotateThreeEighths(__m256 y, __m256d c)
{
    const __m256d lo = _mm256_cvtps_pd(_mm256_castps256_ps128(y));
    const __m256d hi = _mm256_cvtps_pd(_mm256_extractf128_ps(y, 1));
    const __m256d rl = _mm256_mul_pd(c, _mm256_addsub_pd(_mm256_permute_pd(lo, 5), lo));
    const __m256d rh = _mm256_mul_pd(c, _mm256_addsub_pd(_mm256_permute_pd(hi, 5), hi));
    return Join(_mm256_cvtpd_ps(rl), _mm256_cvtpd_ps(rh));
}

// The float forms of the products above, for transforms that need not match the plain path
// bit for bit: one fused multiply-add per part instead of a round trip through double.
VARNEL_AVX2 inline __m256 MulFast(__m256 y, const float* w)
{
    return _mm256_fmaddsub_ps(_mm256_set1_ps(w[0]), y,
                              _mm256_mul_ps(_mm256_set1_ps(w[1]), SwapPairs(y)));
}

VARNEL_AVX2 inline __m256 MulFastEach(__m256 y, __m256 w)
{
    return _mm256_fmaddsub_ps(_mm256_moveldup_ps(w), y,
                              _mm256_mul_ps(_mm256_movehdup_ps(w), SwapPairs(y)));
}

template <bool Exact>
VARNEL_AVX2 inline __m256 Twiddle(__m256 y, const float* w)
{
    if constexpr (Exact)
        return MulRound(y, w);
    else
        return MulFast(y, w);
}

template <bool Exact>
VARNEL_AVX2 inline __m256 TwiddleEach(__m256 y, __m256 w)
{
    if constexpr (Exact)
        return MulRoundEach(y, w);
    else
        return MulFastEach(y, w);
}

template <bool Exact>
VARNEL_AVX2 inline __m256 Eighth(__m256 y, __m256d c)
{
    if constexpr (Exact)
        return RotateEighth(y, c);
    else
        return _mm256_mul_ps(_mm256_set1_ps(static_cast<float>(_mm256_cvtsd_f64(c))),
                             _mm256_addsub_ps(y, SwapPairs(y)));
}

template <bool Exact>
VARNEL_AVX2 inline __m256 ThreeEighths(__m256 y, __m256d c)
{
    if constexpr (Exact)
        return RotateThreeEighths(y, c);
    else
        return _mm256_mul_ps(_mm256_set1_ps(static_cast<float>(_mm256_cvtsd_f64(c))),
                             _mm256_addsub_ps(SwapPairs(y), y));
}

struct Sums
{
    __m256 x0, x1, x2, x3;
};

VARNEL_AVX2 inline Sums SumsOf(__m256 a0, __m256 a1, __m256 a2, __m256 a3)
{
    return Sums{_mm256_add_ps(a0, a1), _mm256_sub_ps(a0, a1), _mm256_add_ps(a2, a3),
                _mm256_sub_ps(a2, a3)};
}

// Block 0: no twiddles.
VARNEL_AVX2 inline void PlainOutputs(const Sums& q, __m256& o0, __m256& o1, __m256& o2, __m256& o3)
{
    const __m256 ix3 = TimesI(q.x3);
    o0 = _mm256_add_ps(q.x0, q.x2);
    o2 = _mm256_sub_ps(q.x0, q.x2);
    o1 = _mm256_add_ps(q.x1, ix3);
    o3 = _mm256_sub_ps(q.x1, ix3);
}

// Block 1: the eighth-turn twiddles, with the operand order of the plain path kept so even
// signed zeros agree.
template <bool Exact>
VARNEL_AVX2 inline void EighthOutputs(const Sums& q, __m256d c, __m256& o0, __m256& o1, __m256& o2,
                                      __m256& o3)
{
    o0 = _mm256_add_ps(q.x0, q.x2);
    // (x2i - x0i, x0r - x2r)
    const __m256 t = _mm256_sub_ps(q.x2, q.x0);
    const __m256 u = _mm256_sub_ps(q.x0, q.x2);
    o2 = SwapPairs(_mm256_blend_ps(u, t, 0xAA));
    // y = (x1r - x3i, x1i + x3r)
    o1 = Eighth<Exact>(_mm256_add_ps(q.x1, TimesI(q.x3)), c);
    // y = (x1r + x3i, x3r - x1i)
    const __m256 sx3 = SwapPairs(q.x3);
    const __m256 p = _mm256_blend_ps(q.x1, sx3, 0xAA);
    const __m256 r = _mm256_blend_ps(sx3, _mm256_sub_ps(_mm256_setzero_ps(), q.x1), 0xAA);
    o3 = ThreeEighths<Exact>(_mm256_add_ps(p, r), c);
}

// w * y with the twiddle given as doubles (w[0] real, w[1] imaginary).
VARNEL_AVX2 inline __m256 MulRoundD(__m256 y, const double* w)
{
    const __m256d wr = _mm256_broadcast_sd(w), wi = _mm256_broadcast_sd(w + 1);
    return MulRound(y, wr, wi, wr, wi);
}

template <bool Exact>
VARNEL_AVX2 void MiddlePassAvx(int n, int l, float* a, const float* w1, const float* w2,
                               const float* w3, const double* wd, double c)
{
    const int m = l << 2;
    const __m256d cv = _mm256_set1_pd(c);
    const int blocks = n / m;
    for (int s = 0; s < blocks; ++s) {
        const int base = s * m;
        const auto u = static_cast<std::size_t>(2 * s);
        const double* ws = wd + 6 * static_cast<std::size_t>(s);
        for (int j = base; j < base + l; j += 8) {
            float* p0 = a + j;
            float* p1 = p0 + l;
            float* p2 = p1 + l;
            float* p3 = p2 + l;
            const Sums q = SumsOf(_mm256_loadu_ps(p0), _mm256_loadu_ps(p1), _mm256_loadu_ps(p2),
                                  _mm256_loadu_ps(p3));
            __m256 o0, o1, o2, o3;
            if (s == 0) {
                PlainOutputs(q, o0, o1, o2, o3);
            } else if (s == 1) {
                EighthOutputs<Exact>(q, cv, o0, o1, o2, o3);
            } else {
                const __m256 ix3 = TimesI(q.x3);
                o0 = _mm256_add_ps(q.x0, q.x2);
                if constexpr (Exact) {
                    o1 = MulRoundD(_mm256_add_ps(q.x1, ix3), ws);
                    o2 = MulRoundD(_mm256_sub_ps(q.x0, q.x2), ws + 2);
                    o3 = MulRoundD(_mm256_sub_ps(q.x1, ix3), ws + 4);
                } else {
                    o2 = Twiddle<Exact>(_mm256_sub_ps(q.x0, q.x2), w2 + u);
                    o1 = Twiddle<Exact>(_mm256_add_ps(q.x1, ix3), w1 + u);
                    o3 = Twiddle<Exact>(_mm256_sub_ps(q.x1, ix3), w3 + u);
                }
            }
            _mm256_storeu_ps(p0, o0);
            _mm256_storeu_ps(p1, o1);
            _mm256_storeu_ps(p2, o2);
            _mm256_storeu_ps(p3, o3);
        }
    }
}

// Rows r0..r3 of 4 complex values each become columns.
VARNEL_AVX2 inline void Transpose(__m256& r0, __m256& r1, __m256& r2, __m256& r3)
{
    const __m256d a = _mm256_castps_pd(r0), b = _mm256_castps_pd(r1);
    const __m256d c = _mm256_castps_pd(r2), d = _mm256_castps_pd(r3);
    const __m256d t0 = _mm256_unpacklo_pd(a, b), t1 = _mm256_unpackhi_pd(a, b);
    const __m256d t2 = _mm256_unpacklo_pd(c, d), t3 = _mm256_unpackhi_pd(c, d);
    r0 = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x20));
    r1 = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x20));
    r2 = _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x31));
    r3 = _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x31));
}

// The first pass (span 2), reading the data in bit-reversed order from src and writing the
// blocks to dst. Group q (lanes i = 0..3) holds the blocks s_i whose indexes reversed over the
// block bits are q + i; the inputs a0..a3 of these blocks are then the four runs of
// consecutive values at q, q + N/2, q + N/4 and q + 3N/4. conjugate folds in the forward
// direction's conjugation. The groups holding blocks 0 and 1 are left to the plain path.
template <bool Exact>
VARNEL_AVX2 inline void FirstGroupAvx(int q, int quarter, const float* src, float* dst,
                                      const float* w1, const float* w2, const float* w3,
                                      const double* wdFirst, const int* blockOf, bool conjugate)
{
    const float* p = src + 2 * q;
    __m256 r0 = _mm256_loadu_ps(p), r1 = _mm256_loadu_ps(p + 2 * (2 * quarter));
    __m256 r2 = _mm256_loadu_ps(p + 2 * quarter), r3 = _mm256_loadu_ps(p + 2 * (3 * quarter));
    if (conjugate) {
        r0 = Conj(r0);
        r1 = Conj(r1);
        r2 = Conj(r2);
        r3 = Conj(r3);
    }
    const Sums x = SumsOf(r0, r1, r2, r3);
    const auto u = static_cast<std::size_t>(2 * q);
    const __m256 ix3 = TimesI(x.x3);
    __m256 o0 = _mm256_add_ps(x.x0, x.x2);
    __m256 o1, o2, o3;
    if constexpr (Exact) {
        // Per group 3 twiddle sets of 16 doubles: real parts doubled per value for the low two
        // values, imaginary parts likewise, then the same for the high two.
        const double* wd = wdFirst + 48 * static_cast<std::size_t>(q / 4);
        o1 = MulRound(_mm256_add_ps(x.x1, ix3), _mm256_load_pd(wd), _mm256_load_pd(wd + 4),
                      _mm256_load_pd(wd + 8), _mm256_load_pd(wd + 12));
        o2 = MulRound(_mm256_sub_ps(x.x0, x.x2), _mm256_load_pd(wd + 16), _mm256_load_pd(wd + 20),
                      _mm256_load_pd(wd + 24), _mm256_load_pd(wd + 28));
        o3 = MulRound(_mm256_sub_ps(x.x1, ix3), _mm256_load_pd(wd + 32), _mm256_load_pd(wd + 36),
                      _mm256_load_pd(wd + 40), _mm256_load_pd(wd + 44));
    } else {
        o2 = TwiddleEach<Exact>(_mm256_sub_ps(x.x0, x.x2), _mm256_loadu_ps(w2 + u));
        o1 = TwiddleEach<Exact>(_mm256_add_ps(x.x1, ix3), _mm256_loadu_ps(w1 + u));
        o3 = TwiddleEach<Exact>(_mm256_sub_ps(x.x1, ix3), _mm256_loadu_ps(w3 + u));
    }
    Transpose(o0, o1, o2, o3); // o_i = the four outputs of lane i's block
    _mm256_storeu_ps(dst + 8 * blockOf[q], o0);
    _mm256_storeu_ps(dst + 8 * blockOf[q + 1], o1);
    _mm256_storeu_ps(dst + 8 * blockOf[q + 2], o2);
    _mm256_storeu_ps(dst + 8 * blockOf[q + 3], o3);
}

// The first pass (span 2), reading the data in bit-reversed order from src and writing the
// blocks to dst. Group q (lanes i = 0..3) holds the blocks s_i whose indexes reversed over the
// block bits are q + i; the inputs a0..a3 of these blocks are then the four runs of
// consecutive values at q, q + N/2, q + N/4 and q + 3N/4. conjugate folds in the forward
// direction's conjugation. The groups holding blocks 0 and 1 are left to the plain path.
template <bool Exact>
VARNEL_AVX2 void FirstPassAvx(int size, const float* src, float* dst, const float* w1,
                              const float* w2, const float* w3, const double* wdFirst,
                              const int* blockOf, bool conjugate)
{
    const int quarter = size / 4;
    const int skip = size / 8; // the group of block 1; block 0 is in group 0
    for (int q = 4; q < quarter; q += 4) {
        if (q != skip)
            FirstGroupAvx<Exact>(q, quarter, src, dst, w1, w2, w3, wdFirst, blockOf, conjugate);
    }
}

// The last pass, from the work area src into the caller's dst, scaled by scale (exact: a
// power of two).
VARNEL_AVX2 void LastPassAvx(int n, int l, const float* src, float* dst, bool conjugate,
                             float scale)
{
    const __m256 sv = _mm256_set1_ps(scale);
    if ((l << 2) == n) {
        for (int j = 0; j < l; j += 8) {
            const float* s0 = src + j;
            __m256 a0 = _mm256_loadu_ps(s0), a1 = _mm256_loadu_ps(s0 + l);
            const __m256 a2 = _mm256_loadu_ps(s0 + 2 * l), a3 = _mm256_loadu_ps(s0 + 3 * l);
            float* p0 = dst + j;
            float* p1 = p0 + l;
            float* p2 = p1 + l;
            float* p3 = p2 + l;
            __m256 o0, o1, o2, o3;
            if (conjugate) {
                // x0 = (a0r + a1r, -a0i - a1i), x1 = (a0r - a1r, -a0i + a1i)
                a0 = Conj(a0);
                a1 = Conj(a1);
                const Sums q = SumsOf(a0, a1, a2, a3);
                const __m256 x2c = Conj(q.x2);
                const __m256 v = Conj(TimesI(q.x3)); // (-x3i, -x3r)
                o0 = _mm256_add_ps(q.x0, x2c);
                o2 = _mm256_sub_ps(q.x0, x2c);
                o1 = _mm256_add_ps(q.x1, v);
                o3 = _mm256_sub_ps(q.x1, v);
            } else {
                PlainOutputs(SumsOf(a0, a1, a2, a3), o0, o1, o2, o3);
            }
            _mm256_storeu_ps(p0, _mm256_mul_ps(o0, sv));
            _mm256_storeu_ps(p1, _mm256_mul_ps(o1, sv));
            _mm256_storeu_ps(p2, _mm256_mul_ps(o2, sv));
            _mm256_storeu_ps(p3, _mm256_mul_ps(o3, sv));
        }
    } else {
        for (int j = 0; j < l; j += 8) {
            float* p0 = dst + j;
            float* p1 = p0 + l;
            __m256 a0 = _mm256_loadu_ps(src + j), a1 = _mm256_loadu_ps(src + j + l);
            if (conjugate) {
                a0 = Conj(a0);
                a1 = Conj(a1);
            }
            _mm256_storeu_ps(p0, _mm256_mul_ps(_mm256_add_ps(a0, a1), sv));
            _mm256_storeu_ps(p1, _mm256_mul_ps(_mm256_sub_ps(a0, a1), sv));
        }
    }
}

// The AVX-512 forms of the passes: eight complex values per register, every value formed by
// the same operations as in the AVX2 forms, so both engines give the same bits.

VARNEL_AVX512 inline __m512 Join512(__m256 lo, __m256 hi)
{
    return _mm512_insertf32x8(_mm512_castps256_ps512(lo), hi, 1);
}

VARNEL_AVX512 inline __m512d AddSubPd(__m512d a, __m512d b)
{
    return _mm512_mask_add_pd(_mm512_sub_pd(a, b), 0xAA, a, b);
}

VARNEL_AVX512 inline __m512d SwapPd(__m512d x)
{
    return _mm512_permute_pd(x, 0x55);
}

// w * y in double, rounded once; wr/wi per complex value for the low and high 4 values.
VARNEL_AVX512 inline __m512 MulRound(__m512 y, __m512d wrLo, __m512d wiLo, __m512d wrHi,
                                     __m512d wiHi)
{
    const __m512d lo = _mm512_cvtps_pd(_mm512_castps512_ps256(y));
    const __m512d hi = _mm512_cvtps_pd(_mm512_extractf32x8_ps(y, 1));
    const __m512d pl = _mm512_fmaddsub_pd(wrLo, lo, _mm512_mul_pd(wiLo, SwapPd(lo)));
    const __m512d ph = _mm512_fmaddsub_pd(wrHi, hi, _mm512_mul_pd(wiHi, SwapPd(hi)));
    return Join512(_mm512_cvtpd_ps(pl), _mm512_cvtpd_ps(ph));
}

VARNEL_AVX512 inline __m512 MulRoundD(__m512 y, const double* w)
{
    const __m512d wr = _mm512_set1_pd(w[0]), wi = _mm512_set1_pd(w[1]);
    return MulRound(y, wr, wi, wr, wi);
}

VARNEL_AVX512 inline __m512 MulFast(__m512 y, const float* w)
{
    return _mm512_fmaddsub_ps(_mm512_set1_ps(w[0]), y,
                              _mm512_mul_ps(_mm512_set1_ps(w[1]), SwapPairs(y)));
}

VARNEL_AVX512 inline __m512 MulFastEach(__m512 y, __m512 w)
{
    return _mm512_fmaddsub_ps(_mm512_moveldup_ps(w), y,
                              _mm512_mul_ps(_mm512_movehdup_ps(w), SwapPairs(y)));
}

// c * (yr - yi, yr + yi) and c * (yi - yr, yi + yr), as Eighth and ThreeEighths.
template <bool Exact>
VARNEL_AVX512 inline __m512 Eighth(__m512 y, double c)
{
    if constexpr (Exact) {
        const __m512d cv = _mm512_set1_pd(c);
        const __m512d lo = _mm512_cvtps_pd(_mm512_castps512_ps256(y));
        const __m512d hi = _mm512_cvtps_pd(_mm512_extractf32x8_ps(y, 1));
        return Join512(_mm512_cvtpd_ps(_mm512_mul_pd(cv, AddSubPd(lo, SwapPd(lo)))),
                       _mm512_cvtpd_ps(_mm512_mul_pd(cv, AddSubPd(hi, SwapPd(hi)))));
    } else {
        return _mm512_mul_ps(_mm512_set1_ps(static_cast<float>(c)), simd::AddSub(y, SwapPairs(y)));
    }
}

template <bool Exact>
VARNEL_AVX512 inline __m512 ThreeEighths(__m512 y, double c)
{
    if constexpr (Exact) {
        const __m512d cv = _mm512_set1_pd(c);
        const __m512d lo = _mm512_cvtps_pd(_mm512_castps512_ps256(y));
        const __m512d hi = _mm512_cvtps_pd(_mm512_extractf32x8_ps(y, 1));
        return Join512(_mm512_cvtpd_ps(_mm512_mul_pd(cv, AddSubPd(SwapPd(lo), lo))),
                       _mm512_cvtpd_ps(_mm512_mul_pd(cv, AddSubPd(SwapPd(hi), hi))));
    } else {
        return _mm512_mul_ps(_mm512_set1_ps(static_cast<float>(c)), simd::AddSub(SwapPairs(y), y));
    }
}

struct Sums512
{
    __m512 x0, x1, x2, x3;
};

VARNEL_AVX512 inline Sums512 SumsOf(__m512 a0, __m512 a1, __m512 a2, __m512 a3)
{
    return Sums512{_mm512_add_ps(a0, a1), _mm512_sub_ps(a0, a1), _mm512_add_ps(a2, a3),
                   _mm512_sub_ps(a2, a3)};
}

VARNEL_AVX512 inline void PlainOutputs(const Sums512& q, __m512& o0, __m512& o1, __m512& o2,
                                       __m512& o3)
{
    const __m512 ix3 = TimesI(q.x3);
    o0 = _mm512_add_ps(q.x0, q.x2);
    o2 = _mm512_sub_ps(q.x0, q.x2);
    o1 = _mm512_add_ps(q.x1, ix3);
    o3 = _mm512_sub_ps(q.x1, ix3);
}

template <bool Exact>
VARNEL_AVX512 inline void EighthOutputs(const Sums512& q, double c, __m512& o0, __m512& o1,
                                        __m512& o2, __m512& o3)
{
    o0 = _mm512_add_ps(q.x0, q.x2);
    const __m512 t = _mm512_sub_ps(q.x2, q.x0);
    const __m512 u = _mm512_sub_ps(q.x0, q.x2);
    o2 = SwapPairs(_mm512_mask_blend_ps(0xAAAA, u, t));
    o1 = Eighth<Exact>(_mm512_add_ps(q.x1, TimesI(q.x3)), c);
    const __m512 sx3 = SwapPairs(q.x3);
    const __m512 p = _mm512_mask_blend_ps(0xAAAA, q.x1, sx3);
    const __m512 r = _mm512_mask_blend_ps(0xAAAA, sx3, _mm512_sub_ps(_mm512_setzero_ps(), q.x1));
    o3 = ThreeEighths<Exact>(_mm512_add_ps(p, r), c);
}

// A generic butterfly block of a middle pass (s >= 2) on four vectors in place, with its
// twiddles w1, w2, w3 (as doubles in wd when exact).
template <bool Exact>
VARNEL_AVX512 VARNEL_ALWAYS_INLINE void
GenericButterfly512(__m512& a0, __m512& a1, __m512& a2, __m512& a3, int s, const float* w1,
                    const float* w2, const float* w3, const double* wd)
{
    const Sums512 q = SumsOf(a0, a1, a2, a3);
    const __m512 ix3 = TimesI(q.x3);
    a0 = _mm512_add_ps(q.x0, q.x2);
    if constexpr (Exact) {
        const double* ws = wd + 6 * static_cast<std::size_t>(s);
        a1 = MulRoundD(_mm512_add_ps(q.x1, ix3), ws);
        a2 = MulRoundD(_mm512_sub_ps(q.x0, q.x2), ws + 2);
        a3 = MulRoundD(_mm512_sub_ps(q.x1, ix3), ws + 4);
    } else {
        const auto u = static_cast<std::size_t>(2 * s);
        a1 = MulFast(_mm512_add_ps(q.x1, ix3), w1 + u);
        a2 = MulFast(_mm512_sub_ps(q.x0, q.x2), w2 + u);
        a3 = MulFast(_mm512_sub_ps(q.x1, ix3), w3 + u);
    }
}

// Butterfly block s of a middle pass on four vectors in place: block 0 untwiddled, block 1
// the eighth turn, the others generic.
template <bool Exact>
VARNEL_AVX512 VARNEL_ALWAYS_INLINE void
BlockButterfly512(__m512& a0, __m512& a1, __m512& a2, __m512& a3, int s, const float* w1,
                  const float* w2, const float* w3, const double* wd, double c)
{
    if (s == 0)
        PlainOutputs(SumsOf(a0, a1, a2, a3), a0, a1, a2, a3);
    else if (s == 1)
        EighthOutputs<Exact>(SumsOf(a0, a1, a2, a3), c, a0, a1, a2, a3);
    else
        GenericButterfly512<Exact>(a0, a1, a2, a3, s, w1, w2, w3, wd);
}

// A middle pass of span l >= 16 floats.
template <bool Exact>
VARNEL_AVX512 void MiddlePass512(int n, int l, float* a, const float* w1, const float* w2,
                                 const float* w3, const double* wd, double c)
{
    const int m = l << 2;
    const int blocks = n / m;
    for (int s = 0; s < blocks; ++s) {
        const int base = s * m;
        for (int j = base; j < base + l; j += 16) {
            float* p = a + j;
            __m512 v0 = _mm512_loadu_ps(p), v1 = _mm512_loadu_ps(p + l);
            __m512 v2 = _mm512_loadu_ps(p + 2 * l), v3 = _mm512_loadu_ps(p + 3 * l);
            BlockButterfly512<Exact>(v0, v1, v2, v3, s, w1, w2, w3, wd, c);
            _mm512_storeu_ps(p, v0);
            _mm512_storeu_ps(p + l, v1);
            _mm512_storeu_ps(p + 2 * l, v2);
            _mm512_storeu_ps(p + 3 * l, v3);
        }
    }
}

// One run of the joined middle passes below: 16 vectors l apart from p. Edge: the block of
// span 4l is block 0 or 1, which take special forms.
template <bool Exact, bool Edge>
VARNEL_AVX512 VARNEL_ALWAYS_INLINE void TwoPassRun512(float* p, int l, int s, const float* w1,
                                                      const float* w2, const float* w3,
                                                      const double* wd, double c)
{
    // v[4b + i]: value i of the span-l block 4s + b.
    __m512 v[16];
    VARNEL_UNROLL
    for (int i = 0; i < 16; ++i)
        v[i] = _mm512_loadu_ps(p + i * l);
    VARNEL_UNROLL
    for (int b = 0; b < 4; ++b) {
        if constexpr (Edge)
            BlockButterfly512<Exact>(v[4 * b], v[4 * b + 1], v[4 * b + 2], v[4 * b + 3], 4 * s + b,
                                     w1, w2, w3, wd, c);
        else
            GenericButterfly512<Exact>(v[4 * b], v[4 * b + 1], v[4 * b + 2], v[4 * b + 3],
                                       4 * s + b, w1, w2, w3, wd);
    }
    VARNEL_UNROLL
    for (int i = 0; i < 4; ++i) {
        if constexpr (Edge)
            BlockButterfly512<Exact>(v[i], v[4 + i], v[8 + i], v[12 + i], s, w1, w2, w3, wd, c);
        else
            GenericButterfly512<Exact>(v[i], v[4 + i], v[8 + i], v[12 + i], s, w1, w2, w3, wd);
    }
    VARNEL_UNROLL
    for (int i = 0; i < 16; ++i)
        _mm512_storeu_ps(p + i * l, v[i]);
}

// The middle passes of spans l >= 16 and 4l at once: each run of 16 vectors l apart (the 4
// blocks of span l inside one block of span 4l) stays in registers between the two passes.
// Every value is formed by the same operations as in two separate passes.
template <bool Exact>
VARNEL_AVX512 void MiddleTwoPasses512(int n, int l, float* a, const float* w1, const float* w2,
                                      const float* w3, const double* wd, double c)
{
    const int span = l << 4;
    const int blocks = n / span;
    for (int s = 0; s < blocks; ++s) {
        const int base = s * span;
        for (int j = base; j < base + l; j += 16) {
            if (s < 2)
                TwoPassRun512<Exact, true>(a + j, l, s, w1, w2, w3, wd, c);
            else
                TwoPassRun512<Exact, false>(a + j, l, s, w1, w2, w3, wd, c);
        }
    }
}

// Within each 256-bit half, rows r0..r3 of 4 complex values become columns.
VARNEL_AVX512 inline void Transpose(__m512& r0, __m512& r1, __m512& r2, __m512& r3)
{
    const __m512d a = _mm512_castps_pd(r0), b = _mm512_castps_pd(r1);
    const __m512d c = _mm512_castps_pd(r2), d = _mm512_castps_pd(r3);
    const __m512d t0 = _mm512_unpacklo_pd(a, b), t1 = _mm512_unpackhi_pd(a, b);
    const __m512d t2 = _mm512_unpacklo_pd(c, d), t3 = _mm512_unpackhi_pd(c, d);
    // 128-bit lanes: take lane 0 of t0 and t2 for each half (0x20 per half) and so on.
    const __m512i low = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
    const __m512i high = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
    r0 = _mm512_castpd_ps(_mm512_permutex2var_pd(t0, low, t2));
    r1 = _mm512_castpd_ps(_mm512_permutex2var_pd(t1, low, t3));
    r2 = _mm512_castpd_ps(_mm512_permutex2var_pd(t0, high, t2));
    r3 = _mm512_castpd_ps(_mm512_permutex2var_pd(t1, high, t3));
}

// Two 4-double sets of the exact first pass's twiddles, for groups q and q + 4.
VARNEL_AVX512 inline __m512d Pair(const double* lo, const double* hi)
{
    return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_load_pd(lo)), _mm256_load_pd(hi), 1);
}

// Groups q and q + 4 of the first pass at once.
template <bool Exact>
VARNEL_AVX512 inline void FirstGroups512(int q, int quarter, const float* src, float* dst,
                                         const float* w1, const float* w2, const float* w3,
                                         const double* wdFirst, const int* blockOf, bool conjugate)
{
    const float* p = src + 2 * q;
    __m512 r0 = _mm512_loadu_ps(p), r1 = _mm512_loadu_ps(p + 2 * (2 * quarter));
    __m512 r2 = _mm512_loadu_ps(p + 2 * quarter), r3 = _mm512_loadu_ps(p + 2 * (3 * quarter));
    if (conjugate) {
        r0 = Conj(r0);
        r1 = Conj(r1);
        r2 = Conj(r2);
        r3 = Conj(r3);
    }
    const Sums512 x = SumsOf(r0, r1, r2, r3);
    const auto u = static_cast<std::size_t>(2 * q);
    const __m512 ix3 = TimesI(x.x3);
    __m512 o0 = _mm512_add_ps(x.x0, x.x2);
    __m512 o1, o2, o3;
    if constexpr (Exact) {
        // Group q's 4 values are the low half: its low two values' doubles, then its high two.
        const double* g = wdFirst + 48 * static_cast<std::size_t>(q / 4);
        const double* h = g + 48;
        o1 = MulRound(_mm512_add_ps(x.x1, ix3), Pair(g, g + 8), Pair(g + 4, g + 12), Pair(h, h + 8),
                      Pair(h + 4, h + 12));
        o2 = MulRound(_mm512_sub_ps(x.x0, x.x2), Pair(g + 16, g + 24), Pair(g + 20, g + 28),
                      Pair(h + 16, h + 24), Pair(h + 20, h + 28));
        o3 = MulRound(_mm512_sub_ps(x.x1, ix3), Pair(g + 32, g + 40), Pair(g + 36, g + 44),
                      Pair(h + 32, h + 40), Pair(h + 36, h + 44));
    } else {
        o2 = MulFastEach(_mm512_sub_ps(x.x0, x.x2), _mm512_loadu_ps(w2 + u));
        o1 = MulFastEach(_mm512_add_ps(x.x1, ix3), _mm512_loadu_ps(w1 + u));
        o3 = MulFastEach(_mm512_sub_ps(x.x1, ix3), _mm512_loadu_ps(w3 + u));
    }
    Transpose(o0, o1, o2, o3);
    _mm256_storeu_ps(dst + 8 * blockOf[q], _mm512_castps512_ps256(o0));
    _mm256_storeu_ps(dst + 8 * blockOf[q + 1], _mm512_castps512_ps256(o1));
    _mm256_storeu_ps(dst + 8 * blockOf[q + 2], _mm512_castps512_ps256(o2));
    _mm256_storeu_ps(dst + 8 * blockOf[q + 3], _mm512_castps512_ps256(o3));
    _mm256_storeu_ps(dst + 8 * blockOf[q + 4], _mm512_extractf32x8_ps(o0, 1));
    _mm256_storeu_ps(dst + 8 * blockOf[q + 5], _mm512_extractf32x8_ps(o1, 1));
    _mm256_storeu_ps(dst + 8 * blockOf[q + 6], _mm512_extractf32x8_ps(o2, 1));
    _mm256_storeu_ps(dst + 8 * blockOf[q + 7], _mm512_extractf32x8_ps(o3, 1));
}

template <bool Exact>
VARNEL_AVX512 void FirstPass512(int size, const float* src, float* dst, const float* w1,
                                const float* w2, const float* w3, const double* wdFirst,
                                const int* blockOf, bool conjugate)
{
    const int quarter = size / 4;
    const int skip = size / 8; // the group of block 1; block 0 is in group 0
    for (int q = 0; q < quarter; q += 8) {
        const bool lowOk = q != 0 && q != skip;
        const bool highOk = q + 4 != skip;
        if (lowOk && highOk) {
            FirstGroups512<Exact>(q, quarter, src, dst, w1, w2, w3, wdFirst, blockOf, conjugate);
        } else {
            if (lowOk)
                FirstGroupAvx<Exact>(q, quarter, src, dst, w1, w2, w3, wdFirst, blockOf, conjugate);
            if (highOk)
                FirstGroupAvx<Exact>(q + 4, quarter, src, dst, w1, w2, w3, wdFirst, blockOf,
                                     conjugate);
        }
    }
}

// w * y with a different twiddle per value: w holds 8 interleaved complex floats.
VARNEL_AVX512 inline __m512 MulRoundEach(__m512 y, __m512 w)
{
    const __m512 wr = _mm512_moveldup_ps(w), wi = _mm512_movehdup_ps(w);
    return MulRound(y, _mm512_cvtps_pd(_mm512_castps512_ps256(wr)),
                    _mm512_cvtps_pd(_mm512_castps512_ps256(wi)),
                    _mm512_cvtps_pd(_mm512_extractf32x8_ps(wr, 1)),
                    _mm512_cvtps_pd(_mm512_extractf32x8_ps(wi, 1)));
}

template <bool Exact>
VARNEL_AVX512 inline __m512 TwiddleEach(__m512 y, const float* w)
{
    if constexpr (Exact)
        return MulRoundEach(y, _mm512_load_ps(w));
    else
        return MulFastEach(y, _mm512_load_ps(w));
}

// One radix-4 butterfly on four vectors in place, lane by lane: a0 = x0 + x2, a1 = w1 (x1 +
// i x3), a2 = w2 (x0 - x2), a3 = w3 (x1 - i x3), with the twiddles w[0..15], w[16..31],
// w[32..47] per lane: the arithmetic of a generic block of every pass.
template <bool Exact>
VARNEL_AVX512 inline void TwiddledButterfly(__m512& a0, __m512& a1, __m512& a2, __m512& a3,
                                            const float* w)
{
    const Sums512 x = SumsOf(a0, a1, a2, a3);
    const __m512 ix3 = TimesI(x.x3);
    a0 = _mm512_add_ps(x.x0, x.x2);
    a1 = TwiddleEach<Exact>(_mm512_add_ps(x.x1, ix3), w);
    a2 = TwiddleEach<Exact>(_mm512_sub_ps(x.x0, x.x2), w + 16);
    a3 = TwiddleEach<Exact>(_mm512_sub_ps(x.x1, ix3), w + 32);
}

// Rows r[0..7] of 8 complex values each become columns.
VARNEL_AVX512 inline void Transpose8(__m512* r)
{
    __m512d t[8], u[8];
    VARNEL_UNROLL
    for (int i = 0; i < 8; i += 2) {
        const __m512d a = _mm512_castps_pd(r[i]), b = _mm512_castps_pd(r[i + 1]);
        t[i] = _mm512_unpacklo_pd(a, b);     // r_i[0] r_i+1[0] r_i[2] r_i+1[2] ...
        t[i + 1] = _mm512_unpackhi_pd(a, b); // r_i[1] r_i+1[1] r_i[3] r_i+1[3] ...
    }
    const __m512i even = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
    const __m512i odd = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
    VARNEL_UNROLL
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm512_permutex2var_pd(t[i], even, t[i + 2]);         // columns 0 and 4 of 4 rows
        u[i + 1] = _mm512_permutex2var_pd(t[i + 1], even, t[i + 3]); // columns 1 and 5
        u[i + 2] = _mm512_permutex2var_pd(t[i], odd, t[i + 2]);      // columns 2 and 6
        u[i + 3] = _mm512_permutex2var_pd(t[i + 1], odd, t[i + 3]);  // columns 3 and 7
    }
    VARNEL_UNROLL
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm512_castpd_ps(_mm512_shuffle_f64x2(u[i], u[i + 4], 0x44));
        r[i + 4] = _mm512_castpd_ps(_mm512_shuffle_f64x2(u[i], u[i + 4], 0xEE));
    }
}

// Span-8 block s of the unit at p, with the AVX2 pass's arithmetic.
template <bool Exact>
VARNEL_AVX2 inline void SpanEightBlock(float* p, int s, const Tables& t)
{
    const Sums q = SumsOf(_mm256_loadu_ps(p), _mm256_loadu_ps(p + 8), _mm256_loadu_ps(p + 16),
                          _mm256_loadu_ps(p + 24));
    __m256 o0, o1, o2, o3;
    if (s == 0) {
        PlainOutputs(q, o0, o1, o2, o3);
    } else if (s == 1) {
        EighthOutputs<Exact>(q, _mm256_set1_pd(static_cast<double>(t.Twiddle[2])), o0, o1, o2, o3);
    } else {
        const __m256 ix3 = TimesI(q.x3);
        o0 = _mm256_add_ps(q.x0, q.x2);
        const auto u = static_cast<std::size_t>(2 * s);
        if constexpr (Exact) {
            const double* ws = t.BlockWd.data() + 3 * u;
            o1 = MulRoundD(_mm256_add_ps(q.x1, ix3), ws);
            o2 = MulRoundD(_mm256_sub_ps(q.x0, q.x2), ws + 2);
            o3 = MulRoundD(_mm256_sub_ps(q.x1, ix3), ws + 4);
        } else {
            o1 = MulFast(_mm256_add_ps(q.x1, ix3), t.BlockW1.data() + u);
            o2 = MulFast(_mm256_sub_ps(q.x0, q.x2), t.BlockW2.data() + u);
            o3 = MulFast(_mm256_sub_ps(q.x1, ix3), t.BlockW3.data() + u);
        }
    }
    _mm256_storeu_ps(p, o0);
    _mm256_storeu_ps(p + 8, o1);
    _mm256_storeu_ps(p + 16, o2);
    _mm256_storeu_ps(p + 24, o3);
}

// The first pass (span 2) and the span-8 pass at once, reading the data in bit-reversed order
// from src and writing work: every unit of 16 values (4 first-pass blocks, 1 span-8 block)
// stays in registers between the two passes, each lane holding one unit. Every value is formed
// by the same operations as in the separate passes. The few units holding blocks that the
// separate passes give special forms are redone after their chunk.
template <bool Exact>
VARNEL_AVX512 void FirstTwoPasses512(const Tables& t, const float* src, float* dst, bool conjugate)
{
    static constexpr int kReversed2[4] = {0, 2, 1, 3};
    const int size = t.Size;
    const int units = size / 16;
    const float* twiddles = t.FirstTwoW();
    const int* unitOf = t.FirstTwoUnit.data();
    for (int r0 = 0; r0 < units; r0 += 8) {
        const float* w = twiddles + static_cast<std::size_t>(kFirstTwoChunkFloats / 8) * r0;
        // v[4k + i]: value i of first-pass block 4u + k, per lane's unit u.
        __m512 v[16];
        VARNEL_UNROLL
        for (int k = 0; k < 4; ++k) {
            VARNEL_UNROLL
            for (int i = 0; i < 4; ++i) {
                const float* p =
                    src + 2 * (kReversed2[i] * (size / 4) + kReversed2[k] * units + r0);
                v[4 * k + i] = conjugate ? Conj(_mm512_loadu_ps(p)) : _mm512_loadu_ps(p);
            }
        }
        VARNEL_UNROLL
        for (int k = 0; k < 4; ++k)
            TwiddledButterfly<Exact>(v[4 * k], v[4 * k + 1], v[4 * k + 2], v[4 * k + 3],
                                     w + 48 * k);
        // Lanes redone after the chunk, with the first pass's values kept for them. Chunk 0,
        // lanes 0..3 (units 0, N/32, N/64 and 3N/64): their first-pass blocks 4u and 4u + 1
        // take the plain arithmetic in either rounding, as the separate first pass gives them;
        // with exact rounding that is what the lanes computed already, but for unit 0, whose
        // blocks 0 and 1 take special forms. The chunk of unit 1, lane 0: its span-8 block
        // takes the eighth-turn form.
        const int redo = r0 == 0 ? (Exact ? 1 : 4) : (r0 == units / 2 ? 1 : 0);
        alignas(64) float first[16][16];
        if (redo > 0) {
            VARNEL_UNROLL
            for (int j = 0; j < 16; ++j)
                _mm512_store_ps(first[j], v[j]);
        }
        VARNEL_UNROLL
        for (int i = 0; i < 4; ++i)
            TwiddledButterfly<Exact>(v[i], v[4 + i], v[8 + i], v[12 + i], w + 192);
        Transpose8(v);
        Transpose8(v + 8);
        VARNEL_UNROLL
        for (int lane = 0; lane < 8; ++lane) {
            float* unit = dst + 32 * unitOf[r0 + lane];
            _mm512_storeu_ps(unit, v[lane]);
            _mm512_storeu_ps(unit + 16, v[8 + lane]);
        }
        for (int lane = 0; lane < redo; ++lane) {
            const int u = unitOf[r0 + lane];
            float* unit = dst + 32 * u;
            for (int j = 0; j < 16; ++j) {
                unit[2 * j] = first[j][2 * lane];
                unit[2 * j + 1] = first[j][2 * lane + 1];
            }
            if (r0 == 0) {
                for (int k = 0; k < 2; ++k) {
                    for (int i = 0; i < 4; ++i) {
                        const float* p =
                            src + 2 * (kReversed2[i] * (size / 4) + kReversed2[k] * units + lane);
                        unit[8 * k + 2 * i] = p[0];
                        unit[8 * k + 2 * i + 1] = conjugate ? -p[1] : p[1];
                    }
                    FirstPassBlock(dst, 4 * u + k, t);
                }
            }
            SpanEightBlock<Exact>(unit, u, t);
        }
    }
}

// The radix-4 last pass's butterfly on four vectors in place, scaled by sv; conjugate folds
// in the forward direction's conjugation.
VARNEL_AVX512 VARNEL_ALWAYS_INLINE void LastButterfly512(__m512& a0, __m512& a1, __m512& a2,
                                                         __m512& a3, bool conjugate, __m512 sv)
{
    __m512 o0, o1, o2, o3;
    if (conjugate) {
        const Sums512 q = SumsOf(Conj(a0), Conj(a1), a2, a3);
        const __m512 x2c = Conj(q.x2);
        const __m512 v = Conj(TimesI(q.x3));
        o0 = _mm512_add_ps(q.x0, x2c);
        o2 = _mm512_sub_ps(q.x0, x2c);
        o1 = _mm512_add_ps(q.x1, v);
        o3 = _mm512_sub_ps(q.x1, v);
    } else {
        PlainOutputs(SumsOf(a0, a1, a2, a3), o0, o1, o2, o3);
    }
    a0 = _mm512_mul_ps(o0, sv);
    a1 = _mm512_mul_ps(o1, sv);
    a2 = _mm512_mul_ps(o2, sv);
    a3 = _mm512_mul_ps(o3, sv);
}

// The last middle pass (span l, 16 l = n: blocks 0..3) and the radix-4 last pass at once,
// from the work area src into the caller's dst: each run of 16 vectors l apart stays in
// registers between the two. Every value is formed as in the separate passes.
template <bool Exact>
VARNEL_AVX512 void LastTwoPasses512(int l, const float* src, float* dst, const Tables& t,
                                    bool conjugate, float scale)
{
    const __m512 sv = _mm512_set1_ps(scale);
    const double c = t.Twiddle[2];
    for (int j = 0; j < l; j += 16) {
        __m512 v[16];
        VARNEL_UNROLL
        for (int i = 0; i < 16; ++i)
            v[i] = _mm512_loadu_ps(src + j + i * l);
        VARNEL_UNROLL
        for (int b = 0; b < 4; ++b)
            BlockButterfly512<Exact>(v[4 * b], v[4 * b + 1], v[4 * b + 2], v[4 * b + 3], b,
                                     t.BlockW1.data(), t.BlockW2.data(), t.BlockW3.data(),
                                     t.BlockWd.data(), c);
        VARNEL_UNROLL
        for (int i = 0; i < 4; ++i)
            LastButterfly512(v[i], v[4 + i], v[8 + i], v[12 + i], conjugate, sv);
        VARNEL_UNROLL
        for (int i = 0; i < 16; ++i)
            _mm512_storeu_ps(dst + j + i * l, v[i]);
    }
}

VARNEL_AVX512 void LastPass512(int n, int l, const float* src, float* dst, bool conjugate,
                               float scale)
{
    const __m512 sv = _mm512_set1_ps(scale);
    if ((l << 2) == n) {
        for (int j = 0; j < l; j += 16) {
            const float* s0 = src + j;
            __m512 a0 = _mm512_loadu_ps(s0), a1 = _mm512_loadu_ps(s0 + l);
            __m512 a2 = _mm512_loadu_ps(s0 + 2 * l), a3 = _mm512_loadu_ps(s0 + 3 * l);
            LastButterfly512(a0, a1, a2, a3, conjugate, sv);
            _mm512_storeu_ps(dst + j, a0);
            _mm512_storeu_ps(dst + j + l, a1);
            _mm512_storeu_ps(dst + j + 2 * l, a2);
            _mm512_storeu_ps(dst + j + 3 * l, a3);
        }
    } else {
        for (int j = 0; j < l; j += 16) {
            __m512 a0 = _mm512_loadu_ps(src + j), a1 = _mm512_loadu_ps(src + j + l);
            if (conjugate) {
                a0 = Conj(a0);
                a1 = Conj(a1);
            }
            _mm512_storeu_ps(dst + j, _mm512_mul_ps(_mm512_add_ps(a0, a1), sv));
            _mm512_storeu_ps(dst + j + l, _mm512_mul_ps(_mm512_sub_ps(a0, a1), sv));
        }
    }
}

} // namespace

void TransformAvx2(const Tables& t, float* data, float* work, bool forward, bool exact) noexcept
{
    const int size = t.Size;
    const int n = 2 * size;
    const float* w = t.Twiddle.data();
    if (exact)
        FirstPassAvx<true>(size, data, work, t.FirstW1.data(), t.FirstW2.data(), t.FirstW3.data(),
                           t.FirstWd(), t.FirstBlock.data(), forward);
    else
        FirstPassAvx<false>(size, data, work, t.FirstW1.data(), t.FirstW2.data(), t.FirstW3.data(),
                            t.FirstWd(), t.FirstBlock.data(), forward);
    FirstPassEdgeGroups(t, data, work, forward);
    int l = 8;
    while ((l << 2) < n) {
        if (exact)
            MiddlePassAvx<true>(n, l, work, t.BlockW1.data(), t.BlockW2.data(), t.BlockW3.data(),
                                t.BlockWd.data(), w[2]);
        else
            MiddlePassAvx<false>(n, l, work, t.BlockW1.data(), t.BlockW2.data(), t.BlockW3.data(),
                                 t.BlockWd.data(), w[2]);
        l <<= 2;
    }
    LastPassAvx(n, l, work, data, forward, forward ? 1.0f : static_cast<float>(1.0 / size));
}

void TransformAvx512(const Tables& t, float* data, float* work, bool forward, bool exact) noexcept
{
    const int size = t.Size;
    const int n = 2 * size;
    const double c = t.Twiddle[2];
    const float scale = forward ? 1.0f : static_cast<float>(1.0 / size);
    int l = 8;
    if (size >= kFirstTwoMinSize) {
        if (exact)
            FirstTwoPasses512<true>(t, data, work, forward);
        else
            FirstTwoPasses512<false>(t, data, work, forward);
        l = 32;
    } else {
        if (exact)
            FirstPass512<true>(size, data, work, t.FirstW1.data(), t.FirstW2.data(),
                               t.FirstW3.data(), t.FirstWd(), t.FirstBlock.data(), forward);
        else
            FirstPass512<false>(size, data, work, t.FirstW1.data(), t.FirstW2.data(),
                                t.FirstW3.data(), t.FirstWd(), t.FirstBlock.data(), forward);
        FirstPassEdgeGroups(t, data, work, forward);
    }
    while ((l << 2) < n) {
        // The span-8 pass holds 4 complex values per run: the AVX2 form.
        if (l < 16) {
            if (exact)
                MiddlePassAvx<true>(n, l, work, t.BlockW1.data(), t.BlockW2.data(),
                                    t.BlockW3.data(), t.BlockWd.data(), c);
            else
                MiddlePassAvx<false>(n, l, work, t.BlockW1.data(), t.BlockW2.data(),
                                     t.BlockW3.data(), t.BlockWd.data(), c);
        } else if ((l << 4) < n) {
            // This pass and the next are both middle passes: joined.
            if (exact)
                MiddleTwoPasses512<true>(n, l, work, t.BlockW1.data(), t.BlockW2.data(),
                                         t.BlockW3.data(), t.BlockWd.data(), c);
            else
                MiddleTwoPasses512<false>(n, l, work, t.BlockW1.data(), t.BlockW2.data(),
                                          t.BlockW3.data(), t.BlockWd.data(), c);
            l <<= 2;
        } else if ((l << 4) == n) {
            // The last middle pass and the radix-4 last pass: joined.
            if (exact)
                LastTwoPasses512<true>(l, work, data, t, forward, scale);
            else
                LastTwoPasses512<false>(l, work, data, t, forward, scale);
            return;
        } else if (exact) {
            MiddlePass512<true>(n, l, work, t.BlockW1.data(), t.BlockW2.data(), t.BlockW3.data(),
                                t.BlockWd.data(), c);
        } else {
            MiddlePass512<false>(n, l, work, t.BlockW1.data(), t.BlockW2.data(), t.BlockW3.data(),
                                 t.BlockWd.data(), c);
        }
        l <<= 2;
    }
    if (l >= 16)
        LastPass512(n, l, work, data, forward, scale);
    else
        LastPassAvx(n, l, work, data, forward, scale);
}

#else

void TransformAvx2(const Tables&, float*, float*, bool, bool) noexcept {}
void TransformAvx512(const Tables&, float*, float*, bool, bool) noexcept {}

#endif

} // namespace varnel::fft
