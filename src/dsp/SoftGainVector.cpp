#include "dsp/SoftGain.h"

#include "dsp/VectorMath.h"

#include <cfloat>
#include <cmath>

namespace varnel::soft {

#ifdef VARNEL_X86
namespace {

// ln(x) for normal x > 0, within about 1e-7 relative: x = m 2^e with m in [sqrt(1/2),
// sqrt(2)), and a polynomial of degree 9 in m - 1.
VARNEL_AVX2 inline __m256 Ln(__m256 x)
{
    const __m256i bits = _mm256_castps_si256(x);
    __m256i e = _mm256_sub_epi32(_mm256_srli_epi32(bits, 23), _mm256_set1_epi32(126));
    __m256 m = _mm256_castsi256_ps(_mm256_or_si256(
        _mm256_and_si256(bits, _mm256_set1_epi32(0x007FFFFF)), _mm256_set1_epi32(0x3F000000)));
    // m in [0.5, 1): below sqrt(1/2) take 2m - 1 and one less in the exponent, else m - 1.
    const __m256 small = _mm256_cmp_ps(m, _mm256_set1_ps(0.707106781186547524f), _CMP_LT_OQ);
    e = _mm256_add_epi32(e, _mm256_castps_si256(small)); // all bits set is -1
    m = _mm256_add_ps(_mm256_sub_ps(m, _mm256_set1_ps(1.0f)), _mm256_and_ps(m, small));
    const __m256 z = _mm256_mul_ps(m, m);
    __m256 y = _mm256_set1_ps(7.0376836292e-2f);
    y = _mm256_fmadd_ps(y, m, _mm256_set1_ps(-1.1514610310e-1f));
    y = _mm256_fmadd_ps(y, m, _mm256_set1_ps(1.1676998740e-1f));
    y = _mm256_fmadd_ps(y, m, _mm256_set1_ps(-1.2420140846e-1f));
    y = _mm256_fmadd_ps(y, m, _mm256_set1_ps(1.4249322787e-1f));
    y = _mm256_fmadd_ps(y, m, _mm256_set1_ps(-1.6668057665e-1f));
    y = _mm256_fmadd_ps(y, m, _mm256_set1_ps(2.0000714765e-1f));
    y = _mm256_fmadd_ps(y, m, _mm256_set1_ps(-2.4999993993e-1f));
    y = _mm256_fmadd_ps(y, m, _mm256_set1_ps(3.3333331174e-1f));
    y = _mm256_mul_ps(_mm256_mul_ps(y, m), z);
    const __m256 fe = _mm256_cvtepi32_ps(e);
    y = _mm256_fmadd_ps(fe, _mm256_set1_ps(-2.12194440e-4f), y);
    y = _mm256_fnmadd_ps(_mm256_set1_ps(0.5f), z, y);
    return _mm256_fmadd_ps(fe, _mm256_set1_ps(0.693359375f), _mm256_add_ps(m, y));
}

// RaisedSine on 8 lanes: sin(pi x) for |x| <= 1/2 by its odd series to x^11 (within about
// 1e-7), and exactly 0 and 1 beyond the transition.
VARNEL_AVX2 inline __m256 Ramp(__m256 x)
{
    const __m256 halfV = _mm256_set1_ps(0.5f);
    const __m256 t = _mm256_max_ps(_mm256_min_ps(x, halfV), _mm256_set1_ps(-0.5f));
    const __m256 a = _mm256_mul_ps(t, _mm256_set1_ps(3.14159265358979f));
    const __m256 z = _mm256_mul_ps(a, a);
    __m256 p = _mm256_set1_ps(-2.50521083854e-8f);
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(2.75573192240e-6f));
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(-1.98412698413e-4f));
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(8.33333333333e-3f));
    p = _mm256_fmadd_ps(p, z, _mm256_set1_ps(-1.66666666667e-1f));
    const __m256 s = _mm256_fmadd_ps(_mm256_mul_ps(p, z), a, a);
    __m256 r = _mm256_fmadd_ps(halfV, s, halfV);
    r = _mm256_blendv_ps(r, _mm256_set1_ps(1.0f), _mm256_cmp_ps(t, halfV, _CMP_GE_OQ));
    return _mm256_andnot_ps(_mm256_cmp_ps(t, _mm256_set1_ps(-0.5f), _CMP_LE_OQ), r);
}

VARNEL_AVX2 inline __m256 EdgeGain(const SoftEdges& e, __m256 v)
{
    const __m256 inv = _mm256_set1_ps(e.InvWidth);
    __m256 g = _mm256_set1_ps(1.0f);
    if (!e.LowOpen)
        g = Ramp(_mm256_mul_ps(_mm256_sub_ps(v, _mm256_set1_ps(e.Low)), inv));
    if (!e.HighOpen)
        g = _mm256_mul_ps(
            g, _mm256_sub_ps(_mm256_set1_ps(1.0f),
                             Ramp(_mm256_mul_ps(_mm256_sub_ps(v, _mm256_set1_ps(e.High)), inv))));
    return g;
}

// Ln, Ramp and EdgeGain on 16 lanes, the same operations lane by lane.
VARNEL_AVX512 inline __m512 Ln512(__m512 x)
{
    const __m512i bits = _mm512_castps_si512(x);
    __m512i e = _mm512_sub_epi32(_mm512_srli_epi32(bits, 23), _mm512_set1_epi32(126));
    __m512 m = _mm512_castsi512_ps(_mm512_or_si512(
        _mm512_and_si512(bits, _mm512_set1_epi32(0x007FFFFF)), _mm512_set1_epi32(0x3F000000)));
    const __mmask16 small =
        _mm512_cmp_ps_mask(m, _mm512_set1_ps(0.707106781186547524f), _CMP_LT_OQ);
    e = _mm512_mask_sub_epi32(e, small, e, _mm512_set1_epi32(1));
    m = _mm512_mask_add_ps(_mm512_sub_ps(m, _mm512_set1_ps(1.0f)), small,
                           _mm512_sub_ps(m, _mm512_set1_ps(1.0f)), m);
    const __m512 z = _mm512_mul_ps(m, m);
    __m512 y = _mm512_set1_ps(7.0376836292e-2f);
    y = _mm512_fmadd_ps(y, m, _mm512_set1_ps(-1.1514610310e-1f));
    y = _mm512_fmadd_ps(y, m, _mm512_set1_ps(1.1676998740e-1f));
    y = _mm512_fmadd_ps(y, m, _mm512_set1_ps(-1.2420140846e-1f));
    y = _mm512_fmadd_ps(y, m, _mm512_set1_ps(1.4249322787e-1f));
    y = _mm512_fmadd_ps(y, m, _mm512_set1_ps(-1.6668057665e-1f));
    y = _mm512_fmadd_ps(y, m, _mm512_set1_ps(2.0000714765e-1f));
    y = _mm512_fmadd_ps(y, m, _mm512_set1_ps(-2.4999993993e-1f));
    y = _mm512_fmadd_ps(y, m, _mm512_set1_ps(3.3333331174e-1f));
    y = _mm512_mul_ps(_mm512_mul_ps(y, m), z);
    const __m512 fe = _mm512_cvtepi32_ps(e);
    y = _mm512_fmadd_ps(fe, _mm512_set1_ps(-2.12194440e-4f), y);
    y = _mm512_fnmadd_ps(_mm512_set1_ps(0.5f), z, y);
    return _mm512_fmadd_ps(fe, _mm512_set1_ps(0.693359375f), _mm512_add_ps(m, y));
}

VARNEL_AVX512 inline __m512 Ramp512(__m512 x)
{
    const __m512 halfV = _mm512_set1_ps(0.5f);
    const __m512 t = _mm512_max_ps(_mm512_min_ps(x, halfV), _mm512_set1_ps(-0.5f));
    const __m512 a = _mm512_mul_ps(t, _mm512_set1_ps(3.14159265358979f));
    const __m512 z = _mm512_mul_ps(a, a);
    __m512 p = _mm512_set1_ps(-2.50521083854e-8f);
    p = _mm512_fmadd_ps(p, z, _mm512_set1_ps(2.75573192240e-6f));
    p = _mm512_fmadd_ps(p, z, _mm512_set1_ps(-1.98412698413e-4f));
    p = _mm512_fmadd_ps(p, z, _mm512_set1_ps(8.33333333333e-3f));
    p = _mm512_fmadd_ps(p, z, _mm512_set1_ps(-1.66666666667e-1f));
    const __m512 sv = _mm512_fmadd_ps(_mm512_mul_ps(p, z), a, a);
    __m512 r = _mm512_fmadd_ps(halfV, sv, halfV);
    r = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(t, halfV, _CMP_GE_OQ), r, _mm512_set1_ps(1.0f));
    return _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(t, _mm512_set1_ps(-0.5f), _CMP_GT_OQ), r);
}

VARNEL_AVX512 inline __m512 EdgeGain512(const SoftEdges& e, __m512 v)
{
    const __m512 inv = _mm512_set1_ps(e.InvWidth);
    __m512 g = _mm512_set1_ps(1.0f);
    if (!e.LowOpen)
        g = Ramp512(_mm512_mul_ps(_mm512_sub_ps(v, _mm512_set1_ps(e.Low)), inv));
    if (!e.HighOpen)
        g = _mm512_mul_ps(
            g,
            _mm512_sub_ps(_mm512_set1_ps(1.0f),
                          Ramp512(_mm512_mul_ps(_mm512_sub_ps(v, _mm512_set1_ps(e.High)), inv))));
    return g;
}

} // namespace

VARNEL_AVX512 void GainsAvx512(const SoftGainParams& p, const SoftFrame& frame) noexcept
{
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 floor = _mm512_set1_ps(p.Floor), rise = _mm512_set1_ps(1.0f - p.Floor);
    const __m512 smooth = _mm512_set1_ps(p.Smooth);
    const bool follow = !p.Fresh && p.Smooth < 1.0f;
    const __m512 dbPerNeper = _mm512_set1_ps(8.68588963806503655f);
    const __m512 minRatio = _mm512_set1_ps(FLT_MIN);
    const __m512 minusInf = _mm512_set1_ps(-HUGE_VALF);
    for (int j = 0; j < frame.Half; j += 16) {
        const auto u = static_cast<std::size_t>(j);
        const __mmask16 kept = _mm512_test_epi32_mask(
            _mm512_castps_si512(_mm512_loadu_ps(frame.Keep + u)), _mm512_set1_epi32(-1));
        __m512 g = _mm512_maskz_mov_ps(kept, one);
        if (kept != 0) {
            if (p.Pan.On) {
                const __m512 r = _mm512_loadu_ps(frame.Ratio + u);
                __m512 db = _mm512_mul_ps(Ln512(_mm512_max_ps(r, minRatio)), dbPerNeper);
                db = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(r, _mm512_setzero_ps(), _CMP_GT_OQ),
                                          minusInf, db);
                g = _mm512_mul_ps(g, EdgeGain512(p.Pan, db));
            }
            if (p.Depth.On)
                g = _mm512_mul_ps(g, EdgeGain512(p.Depth, _mm512_loadu_ps(frame.Depth + u)));
            if (p.FreqOn)
                g = _mm512_mul_ps(g, _mm512_loadu_ps(frame.FreqGain + u));
        }
        if (p.Inverted)
            g = _mm512_sub_ps(one, g);
        g = _mm512_fmadd_ps(rise, g, floor);
        if (follow) {
            const __m512 s = _mm512_loadu_ps(frame.State + u);
            g = _mm512_fmadd_ps(_mm512_sub_ps(g, s), smooth, s);
        }
        _mm512_storeu_ps(frame.State + u, g);
    }
}

VARNEL_AVX2 void GainsAvx2(const SoftGainParams& p, const SoftFrame& frame) noexcept
{
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 floor = _mm256_set1_ps(p.Floor), rise = _mm256_set1_ps(1.0f - p.Floor);
    const __m256 smooth = _mm256_set1_ps(p.Smooth);
    const bool follow = !p.Fresh && p.Smooth < 1.0f;
    // 20 log10(r) = ln(r) * 20 / ln(10); ratios below the smallest normal float count as that.
    const __m256 dbPerNeper = _mm256_set1_ps(8.68588963806503655f);
    const __m256 minRatio = _mm256_set1_ps(FLT_MIN);
    const __m256 minusInf = _mm256_set1_ps(-HUGE_VALF);
    for (int j = 0; j < frame.Half; j += 8) {
        const auto u = static_cast<std::size_t>(j);
        const __m256 keep = _mm256_loadu_ps(frame.Keep + u);
        __m256 g = _mm256_and_ps(keep, one);
        // Bins the mask clears (often most: a frequency band) need no transitions.
        const bool anyKept = !_mm256_testz_ps(keep, keep);
        if (anyKept && p.Pan.On) {
            const __m256 r = _mm256_loadu_ps(frame.Ratio + u);
            __m256 db = _mm256_mul_ps(Ln(_mm256_max_ps(r, minRatio)), dbPerNeper);
            db = _mm256_blendv_ps(minusInf, db, _mm256_cmp_ps(r, _mm256_setzero_ps(), _CMP_GT_OQ));
            g = _mm256_mul_ps(g, EdgeGain(p.Pan, db));
        }
        if (anyKept && p.Depth.On)
            g = _mm256_mul_ps(g, EdgeGain(p.Depth, _mm256_loadu_ps(frame.Depth + u)));
        if (anyKept && p.FreqOn)
            g = _mm256_mul_ps(g, _mm256_loadu_ps(frame.FreqGain + u));
        if (p.Inverted)
            g = _mm256_sub_ps(one, g);
        g = _mm256_fmadd_ps(rise, g, floor);
        if (follow) {
            const __m256 s = _mm256_loadu_ps(frame.State + u);
            g = _mm256_fmadd_ps(_mm256_sub_ps(g, s), smooth, s);
        }
        _mm256_storeu_ps(frame.State + u, g);
    }
}

#else

void GainsAvx2(const SoftGainParams& p, const SoftFrame& frame) noexcept
{
    GainsPlain(p, frame);
}

void GainsAvx512(const SoftGainParams& p, const SoftFrame& frame) noexcept
{
    GainsPlain(p, frame);
}

#endif

} // namespace varnel::soft
