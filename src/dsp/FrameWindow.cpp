#include "dsp/FrameWindow.h"

#include "dsp/VectorMath.h"

#include <cmath>

namespace varnel {

namespace {

#ifdef VARNEL_X86
VARNEL_AVX2 void WindowAvx2(const float* ringL, const float* ringR, const float* window,
                            float* outL, float* outR, int n)
{
    for (int i = 0; i < n; i += 8) {
        const __m256 w = _mm256_loadu_ps(window + i);
        _mm256_storeu_ps(outL + i, _mm256_mul_ps(_mm256_loadu_ps(ringL + i), w));
        _mm256_storeu_ps(outR + i, _mm256_mul_ps(_mm256_loadu_ps(ringR + i), w));
    }
}

// acc += weight * x over count values, every value with one fused multiply-add, so the sums do
// not depend on where a run starts in the ring.
VARNEL_AVX2 void OverlapAddAvx2(float* accL, float* accR, const float* weight, const float* xl,
                                const float* xr, int count)
{
    int t = 0;
    for (; t + 8 <= count; t += 8) {
        const __m256 w = _mm256_loadu_ps(weight + t);
        _mm256_storeu_ps(accL + t,
                         _mm256_fmadd_ps(w, _mm256_loadu_ps(xl + t), _mm256_loadu_ps(accL + t)));
        _mm256_storeu_ps(accR + t,
                         _mm256_fmadd_ps(w, _mm256_loadu_ps(xr + t), _mm256_loadu_ps(accR + t)));
    }
    for (; t < count; ++t) {
        accL[t] = std::fmaf(weight[t], xl[t], accL[t]);
        accR[t] = std::fmaf(weight[t], xr[t], accR[t]);
    }
}

VARNEL_AVX512 void WindowAvx512(const float* ringL, const float* ringR, const float* window,
                                float* outL, float* outR, int n)
{
    for (int i = 0; i < n; i += 16) {
        const __m512 w = _mm512_loadu_ps(window + i);
        _mm512_storeu_ps(outL + i, _mm512_mul_ps(_mm512_loadu_ps(ringL + i), w));
        _mm512_storeu_ps(outR + i, _mm512_mul_ps(_mm512_loadu_ps(ringR + i), w));
    }
}

// The same fused multiply-add as the AVX2 form, lane by lane.
VARNEL_AVX512 void OverlapAddAvx512(float* accL, float* accR, const float* weight, const float* xl,
                                    const float* xr, int count)
{
    int t = 0;
    for (; t + 16 <= count; t += 16) {
        const __m512 w = _mm512_loadu_ps(weight + t);
        _mm512_storeu_ps(accL + t,
                         _mm512_fmadd_ps(w, _mm512_loadu_ps(xl + t), _mm512_loadu_ps(accL + t)));
        _mm512_storeu_ps(accR + t,
                         _mm512_fmadd_ps(w, _mm512_loadu_ps(xr + t), _mm512_loadu_ps(accR + t)));
    }
    OverlapAddAvx2(accL + t, accR + t, weight + t, xl + t, xr + t, count - t);
}

VARNEL_AVX2 int WholeLessKeptAvx2(const float* ring, const float* window, const float* kept,
                                  float evenEnd, float oddEnd, float* out, int i, int n)
{
    const __m256 two = _mm256_set1_ps(2.0f);
    const __m256 ends =
        _mm256_setr_ps(evenEnd, oddEnd, evenEnd, oddEnd, evenEnd, oddEnd, evenEnd, oddEnd);
    for (; i + 8 <= n; i += 8) {
        const __m256 whole = _mm256_mul_ps(
            two, _mm256_mul_ps(_mm256_loadu_ps(ring + i), _mm256_loadu_ps(window + i)));
        _mm256_storeu_ps(out + i,
                         _mm256_sub_ps(_mm256_add_ps(whole, ends), _mm256_loadu_ps(kept + i)));
    }
    return i;
}

VARNEL_AVX512 int WholeLessKeptAvx512(const float* ring, const float* window, const float* kept,
                                      float evenEnd, float oddEnd, float* out, int i, int n)
{
    const __m512 two = _mm512_set1_ps(2.0f);
    const __m512 ends = _mm512_castpd_ps(
        _mm512_set1_pd(_mm_cvtsd_f64(_mm_castps_pd(_mm_setr_ps(evenEnd, oddEnd, 0.0f, 0.0f)))));
    for (; i + 16 <= n; i += 16) {
        const __m512 whole = _mm512_mul_ps(
            two, _mm512_mul_ps(_mm512_loadu_ps(ring + i), _mm512_loadu_ps(window + i)));
        _mm512_storeu_ps(out + i,
                         _mm512_sub_ps(_mm512_add_ps(whole, ends), _mm512_loadu_ps(kept + i)));
    }
    return i;
}
#endif

} // namespace

void WholeLessKept(CodePath path, const float* ring, const float* window, const float* kept,
                   float evenEnd, float oddEnd, float* out, int from, int n) noexcept
{
    int i = from;
    const auto one = [&](int k) {
        out[k] = 2.0f * (ring[k] * window[k]) + ((k & 1) ? oddEnd : evenEnd) - kept[k];
    };
    if (i < n && (i & 1) != 0)
        one(i++);
#ifdef VARNEL_X86
    if (path == CodePath::Avx512)
        i = WholeLessKeptAvx512(ring, window, kept, evenEnd, oddEnd, out, i, n);
    if (path != CodePath::Plain)
        i = WholeLessKeptAvx2(ring, window, kept, evenEnd, oddEnd, out, i, n);
#endif
    (void)path;
    for (; i < n; ++i)
        one(i);
}

void WindowFrame(CodePath path, const float* ringL, const float* ringR, const float* window,
                 float* outL, float* outR, int n) noexcept
{
#ifdef VARNEL_X86
    if (path == CodePath::Avx512 && n % 16 == 0) {
        WindowAvx512(ringL, ringR, window, outL, outR, n);
        return;
    }
    if (path != CodePath::Plain && n % 8 == 0) {
        WindowAvx2(ringL, ringR, window, outL, outR, n);
        return;
    }
#endif
    (void)path;
    for (int i = 0; i < n; ++i) {
        outL[i] = ringL[i] * window[i];
        outR[i] = ringR[i] * window[i];
    }
}

void OverlapAdd(CodePath path, float* accL, float* accR, const float* weight, const float* xl,
                const float* xr, int count) noexcept
{
#ifdef VARNEL_X86
    if (path == CodePath::Avx512) {
        OverlapAddAvx512(accL, accR, weight, xl, xr, count);
        return;
    }
    if (path != CodePath::Plain) {
        OverlapAddAvx2(accL, accR, weight, xl, xr, count);
        return;
    }
#endif
    (void)path;
    for (int t = 0; t < count; ++t) {
        accL[t] += weight[t] * xl[t];
        accR[t] += weight[t] * xr[t];
    }
}

} // namespace varnel
