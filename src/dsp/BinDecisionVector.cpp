#include "dsp/BinDecision.h"
#include "dsp/VectorMath.h"

namespace varnel::bins {

#ifdef VARNEL_X86
namespace {

using simd::Deinterleave;

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

// Atan2Upper on 16 lanes, the same operations lane by lane.
VARNEL_AVX512 inline __m512 Atan2Upper512(__m512 y, __m512 x)
{
    const __m512 ax = _mm512_abs_ps(x);
    const __m512 big = _mm512_max_ps(y, ax), small = _mm512_min_ps(y, ax);
    const __mmask16 upper =
        _mm512_cmp_ps_mask(small, _mm512_mul_ps(big, _mm512_set1_ps(0.41421356f)), _CMP_GT_OQ);
    const __m512 num = _mm512_mask_blend_ps(upper, small, _mm512_sub_ps(small, big));
    const __m512 den = _mm512_mask_blend_ps(upper, big, _mm512_add_ps(small, big));
    __m512 t = _mm512_div_ps(num, den);
    t = _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(big, _mm512_setzero_ps(), _CMP_GT_OQ), t);
    const __m512 z = _mm512_mul_ps(t, t);
    __m512 p = _mm512_set1_ps(8.05374449538e-2f);
    p = _mm512_fmadd_ps(p, z, _mm512_set1_ps(-1.38776856032e-1f));
    p = _mm512_fmadd_ps(p, z, _mm512_set1_ps(1.99777106478e-1f));
    p = _mm512_fmadd_ps(p, z, _mm512_set1_ps(-3.33329491539e-1f));
    p = _mm512_fmadd_ps(_mm512_mul_ps(p, z), t, t);
    p = _mm512_add_ps(p, _mm512_maskz_mov_ps(upper, _mm512_set1_ps(0.78539816f)));
    p = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(y, ax, _CMP_GT_OQ), p,
                             _mm512_sub_ps(_mm512_set1_ps(1.57079633f), p));
    return _mm512_mask_blend_ps(_mm512_cmp_ps_mask(x, _mm512_setzero_ps(), _CMP_LT_OQ), p,
                                _mm512_sub_ps(_mm512_set1_ps(3.14159265f), p));
}

} // namespace

// The bin analysis of AnalysePlain, 8 bins at a time. Returns how many bins need the exact
// path (a channel so small but not zero that its products could underflow).
VARNEL_AVX2 int AnalyseAvx2(const BinDecision& d, const BinFrame& frame,
                            const BinFeed& feed) noexcept
{
    const float* binsL = frame.BinsL;
    const float* binsR = frame.BinsR;
    const float* correction = frame.Correction;
    float* keep = frame.Keep;
    float* feedDepth = feed.Depth;
    const int half = frame.Half;
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
            _mm256_storeu_ps(feed.SumMag + u, _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(sr, sr),
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
            _mm256_storeu_ps(feed.MagR + u, magR);
            _mm256_storeu_ps(feed.MagL + u, magL);
            _mm256_storeu_ps(feed.Ratio + u, ratio);
        }
    }
    return rare;
}

// AnalyseAvx2's operations on 16 bins at a time, lane by lane the same.
VARNEL_AVX512 int AnalyseAvx512(const BinDecision& d, const BinFrame& frame,
                                const BinFeed& feed) noexcept
{
    const __m512 zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f);
    const __m512 tiny = _mm512_set1_ps(kTinyPower), cap = _mm512_set1_ps(kRatioCap);
    const __m512 panLow = _mm512_set1_ps(d.PanLow), panHigh = _mm512_set1_ps(d.PanHigh);
    const __m512 sinHigh = _mm512_set1_ps(d.SinHigh), cosHigh = _mm512_set1_ps(d.CosHigh);
    const __m512 sinLow = _mm512_set1_ps(d.SinLow), cosLow = _mm512_set1_ps(d.CosLow);
    const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i lowBin = _mm512_set1_epi32(d.LowBin - 1);
    const __m512i highBin = _mm512_set1_epi32(d.HighBin + 1);
    const bool feedOn = feed.Depth != nullptr;
    int rare = 0;
    for (int j = 0; j < frame.Half; j += 16) {
        const auto u = static_cast<std::size_t>(j);
        __m512 lr, li, rr, ri;
        simd::Deinterleave(frame.BinsL + 2 * u, lr, li);
        simd::Deinterleave(frame.BinsR + 2 * u, rr, ri);
        const __m512 powL = _mm512_add_ps(_mm512_mul_ps(lr, lr), _mm512_mul_ps(li, li));
        const __m512 powR = _mm512_add_ps(_mm512_mul_ps(rr, rr), _mm512_mul_ps(ri, ri));
        const __mmask16 zeroL =
            _mm512_cmp_ps_mask(lr, zero, _CMP_EQ_OQ) & _mm512_cmp_ps_mask(li, zero, _CMP_EQ_OQ);
        const __mmask16 zeroR =
            _mm512_cmp_ps_mask(rr, zero, _CMP_EQ_OQ) & _mm512_cmp_ps_mask(ri, zero, _CMP_EQ_OQ);
        const __mmask16 rareMask =
            static_cast<__mmask16>((~zeroL & _mm512_cmp_ps_mask(powL, tiny, _CMP_LT_OQ)) |
                                   (~zeroR & _mm512_cmp_ps_mask(powR, tiny, _CMP_LT_OQ)));
        if (rareMask != 0)
            rare += __builtin_popcount(static_cast<unsigned>(rareMask));
        const __m512 magL = _mm512_sqrt_ps(powL), magR = _mm512_sqrt_ps(powR);
        if (feedOn) {
            const __m512 sr = _mm512_add_ps(lr, rr), si = _mm512_add_ps(li, ri);
            _mm512_storeu_ps(feed.SumMag + u, _mm512_sqrt_ps(_mm512_add_ps(_mm512_mul_ps(sr, sr),
                                                                           _mm512_mul_ps(si, si))));
        }
        __m512 ratio = _mm512_min_ps(_mm512_div_ps(magR, magL), cap);
        ratio = _mm512_mask_blend_ps(zeroL, ratio,
                                     _mm512_maskz_mov_ps(static_cast<__mmask16>(~zeroR), cap));
        lr = _mm512_mask_blend_ps(zeroL, lr, one);
        li = _mm512_maskz_mov_ps(static_cast<__mmask16>(~zeroL), li);
        rr = _mm512_mask_blend_ps(zeroR, rr, one);
        ri = _mm512_maskz_mov_ps(static_cast<__mmask16>(~zeroR), ri);
        const __m512 pre = _mm512_add_ps(_mm512_mul_ps(lr, rr), _mm512_mul_ps(li, ri));
        const __m512 pim = _mm512_sub_ps(_mm512_mul_ps(li, rr), _mm512_mul_ps(lr, ri));
        const __m512 absPim = _mm512_abs_ps(pim);
        if (j < d.CorrectionLimit) {
            const __m512 magP = _mm512_mul_ps(_mm512_mask_blend_ps(zeroL, magL, one),
                                              _mm512_mask_blend_ps(zeroR, magR, one));
            const __m512 s = _mm512_div_ps(pim, magP);
            __m512 c = _mm512_add_ps(
                _mm512_abs_ps(_mm512_mul_ps(s, _mm512_loadu_ps(frame.Correction + u))), one);
            c = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(pim, zero, _CMP_GT_OQ), c,
                                     _mm512_div_ps(one, c));
            ratio = _mm512_mul_ps(c, ratio);
        }
        __mmask16 inside = 0xFFFF;
        if (!d.HighAll) {
            if (d.HighNone)
                inside = 0;
            else if (d.HighZero)
                inside = _mm512_cmp_ps_mask(pim, zero, _CMP_EQ_OQ) &
                         _mm512_cmp_ps_mask(pre, zero, _CMP_GT_OQ);
            else
                inside = _mm512_cmp_ps_mask(
                    _mm512_sub_ps(_mm512_mul_ps(sinHigh, pre), _mm512_mul_ps(cosHigh, absPim)),
                    zero, _CMP_GE_OQ);
        }
        if (!d.LowAll) {
            if (d.LowNone)
                inside = 0;
            else
                inside &= _mm512_cmp_ps_mask(
                    _mm512_sub_ps(_mm512_mul_ps(sinLow, pre), _mm512_mul_ps(cosLow, absPim)), zero,
                    _CMP_LE_OQ);
        }
        inside &= _mm512_cmp_ps_mask(panLow, ratio, _CMP_LE_OQ);
        inside &= _mm512_cmp_ps_mask(ratio, panHigh, _CMP_LE_OQ);
        const __m512i index = _mm512_add_epi32(_mm512_set1_epi32(j), lanes);
        inside &= _mm512_cmpgt_epi32_mask(index, lowBin);
        inside &= _mm512_cmpgt_epi32_mask(highBin, index);
        const __mmask16 kept = d.Inverted ? static_cast<__mmask16>(~inside) : inside;
        _mm512_storeu_ps(frame.Keep + u, _mm512_castsi512_ps(_mm512_maskz_set1_epi32(kept, -1)));
        if (feedOn) {
            _mm512_storeu_ps(feed.Depth + u, Atan2Upper512(absPim, pre));
            _mm512_storeu_ps(feed.MagR + u, magR);
            _mm512_storeu_ps(feed.MagL + u, magL);
            _mm512_storeu_ps(feed.Ratio + u, ratio);
        }
    }
    return rare;
}

#else

int AnalyseAvx2(const BinDecision&, const BinFrame&, const BinFeed&) noexcept
{
    return 0;
}

int AnalyseAvx512(const BinDecision&, const BinFrame&, const BinFeed&) noexcept
{
    return 0;
}

#endif

} // namespace varnel::bins
