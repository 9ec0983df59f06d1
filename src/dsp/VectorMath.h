#pragma once

// Vector helpers shared by the engine's AVX2 and AVX-512 code. Functions carry their own
// target attribute, so the rest of the program stays plain x86-64; callers take these paths
// only after WidestCodePath() said the processor runs them.

#if defined(__x86_64__) || defined(__i386__)
#define VARNEL_X86 1
// GCC 12's AVX-512 intrinsics pass an undefined source register to their masked forms and then
// warn about it where they are inlined (as maybe or certainly uninitialized, depending on how
// much of the caller is unrolled); the warning is about the header, not our code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <climits>
#include <cstdint>

#define VARNEL_AVX2 __attribute__((target("avx2,fma")))
#define VARNEL_AVX512 __attribute__((target("avx2,fma,avx512f,avx512dq,avx512bw,avx512vl")))
// For the small helpers of the joined passes, which must inline for their vectors to stay in
// registers.
#define VARNEL_ALWAYS_INLINE inline __attribute__((always_inline))
// Unrolls the next loop fully, so that arrays of vectors indexed by its counter live in
// registers.
#define VARNEL_UNROLL _Pragma("GCC unroll 16")

namespace varnel::simd {

// Interleaved complex values, real part first: 4 per __m256, 8 per __m512.

// (xr, xi) -> (xi, xr)
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

VARNEL_AVX2 inline __m256 Join(__m128 lo, __m128 hi)
{
    return _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1);
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

// The keep flags of 4 bins, each doubled to cover a complex value.
VARNEL_AVX2 inline __m256 ComplexMask4(const float* keep)
{
    const __m128 m = _mm_loadu_ps(keep);
    return Join(_mm_unpacklo_ps(m, m), _mm_unpackhi_ps(m, m));
}

VARNEL_AVX512 inline __m512 SwapPairs(__m512 x)
{
    return _mm512_permute_ps(x, 0xB1);
}

VARNEL_AVX512 inline __m512 Conj(__m512 x)
{
    return _mm512_castsi512_ps(
        _mm512_xor_si512(_mm512_castps_si512(x), _mm512_set1_epi64(INT64_MIN)));
}

// i * x = (-xi, xr)
VARNEL_AVX512 inline __m512 TimesI(__m512 x)
{
    return _mm512_castsi512_ps(
        _mm512_xor_si512(_mm512_castps_si512(SwapPairs(x)), _mm512_set1_epi64(0x80000000LL)));
}

// Eight complex values in reverse order.
VARNEL_AVX512 inline __m512 Reverse(__m512 x)
{
    return _mm512_castpd_ps(
        _mm512_permutexvar_pd(_mm512_setr_epi64(7, 6, 5, 4, 3, 2, 1, 0), _mm512_castps_pd(x)));
}

// Real and imaginary parts of 16 complex values, in order.
VARNEL_AVX512 inline void Deinterleave(const float* p, __m512& re, __m512& im)
{
    const __m512 a = _mm512_loadu_ps(p), b = _mm512_loadu_ps(p + 16);
    const __m512i even =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd =
        _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    re = _mm512_permutex2var_ps(a, even, b);
    im = _mm512_permutex2var_ps(a, odd, b);
}

// The keep flags of 8 bins, each doubled to cover a complex value.
VARNEL_AVX512 inline __m512 ComplexMask8(const float* keep)
{
    const __m512 m = _mm512_castps256_ps512(_mm256_loadu_ps(keep));
    return _mm512_permutexvar_ps(_mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7),
                                 m);
}

// a op b for interleaved complex values where op is - on real parts and + on imaginary
// parts, as _mm256_addsub_ps does for 8 floats.
VARNEL_AVX512 inline __m512 AddSub(__m512 a, __m512 b)
{
    return _mm512_mask_add_ps(_mm512_sub_ps(a, b), 0xAAAA, a, b);
}

} // namespace varnel::simd

#endif
