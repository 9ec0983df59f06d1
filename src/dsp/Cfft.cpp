#include "dsp/Cfft.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#define VARNEL_FFT_X86 1
#include <immintrin.h>
#endif

namespace varnel {

namespace {

// Every stored value of the transform is a float; products and sums that form one stored
// value are carried in double and rounded once, so the result does not depend on whether the
// compiler contracts or vectorises the arithmetic.
inline float F(double v) noexcept
{
    return static_cast<float>(v);
}

// Swaps complex values i and bitreverse(i) for every i < bitreverse(i). pairs holds the
// float offsets of those pairs, two ints per swap.
void Permute(float* a, const std::vector<int>& pairs) noexcept
{
    const std::size_t count = pairs.size();
    for (std::size_t p = 0; p < count; p += 2) {
        const std::size_t j = static_cast<std::size_t>(pairs[p]);
        const std::size_t k = static_cast<std::size_t>(pairs[p + 1]);
        std::swap(a[j], a[k]);
        std::swap(a[j + 1], a[k + 1]);
    }
}

int ReverseBits(int value, int bits) noexcept
{
    int r = 0;
    for (int b = 0; b < bits; ++b)
        if (value & (1 << b))
            r |= 1 << (bits - 1 - b);
    return r;
}

// Float offsets (2 * index) of the pairs that a bit-reversal of count complex values swaps.
std::vector<int> BitReversalPairs(int count)
{
    std::vector<int> pairs;
    int bits = 0;
    while ((1 << bits) < count)
        ++bits;
    for (int i = 0; i < count; ++i) {
        const int r = ReverseBits(i, bits);
        if (i < r) {
            pairs.push_back(2 * i);
            pairs.push_back(2 * r);
        }
    }
    return pairs;
}

// One radix-4 butterfly's sums and differences, rounded to floats.
struct Quad
{
    float x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i;
};

inline Quad Butterfly(const float* a, int j, int l) noexcept
{
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    Quad q;
    q.x0r = a[j] + a[j1];
    q.x0i = a[j + 1] + a[j1 + 1];
    q.x1r = a[j] - a[j1];
    q.x1i = a[j + 1] - a[j1 + 1];
    q.x2r = a[j2] + a[j3];
    q.x2i = a[j2 + 1] + a[j3 + 1];
    q.x3r = a[j2] - a[j3];
    q.x3i = a[j2 + 1] - a[j3 + 1];
    return q;
}

// Stores w * y at a[j], w and y floats, the complex product formed in double.
inline void StoreProduct(float* a, int j, float wr, float wi, float yr, float yi) noexcept
{
    const double r = static_cast<double>(wr) * yr - static_cast<double>(wi) * yi;
    const double i = static_cast<double>(wr) * yi + static_cast<double>(wi) * yr;
    a[j] = F(r);
    a[j + 1] = F(i);
}

void MiddlePass(int n, int l, float* a, const float* w) noexcept
{
    const int m = l << 2;
    for (int j = 0; j < l; j += 2) {
        const Quad q = Butterfly(a, j, l);
        const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
        a[j] = q.x0r + q.x2r;
        a[j + 1] = q.x0i + q.x2i;
        a[j2] = q.x0r - q.x2r;
        a[j2 + 1] = q.x0i - q.x2i;
        a[j1] = q.x1r - q.x3i;
        a[j1 + 1] = q.x1i + q.x3r;
        a[j3] = q.x1r + q.x3i;
        a[j3 + 1] = q.x1i - q.x3r;
    }
    const double c = w[2];
    for (int j = m; j < l + m; j += 2) {
        const Quad q = Butterfly(a, j, l);
        const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
        a[j] = q.x0r + q.x2r;
        a[j + 1] = q.x0i + q.x2i;
        a[j2] = q.x2i - q.x0i;
        a[j2 + 1] = q.x0r - q.x2r;
        float yr = q.x1r - q.x3i;
        float yi = q.x1i + q.x3r;
        a[j1] = F(c * (static_cast<double>(yr) - yi));
        a[j1 + 1] = F(c * (static_cast<double>(yr) + yi));
        yr = q.x3i + q.x1r;
        yi = q.x3r - q.x1i;
        a[j3] = F(c * (static_cast<double>(yi) - yr));
        a[j3 + 1] = F(c * (static_cast<double>(yi) + yr));
    }
    int k1 = 0;
    const int m2 = 2 * m;
    for (int k = m2; k < n; k += m2) {
        k1 += 2;
        const int k2 = 2 * k1;
        const float w2r = w[k1], w2i = w[k1 + 1];
        float w1r = w[k2], w1i = w[k2 + 1];
        float w3r = F(w1r - 2.0 * w2i * w1i);
        float w3i = F(2.0 * w2i * w1r - w1i);
        for (int j = k; j < l + k; j += 2) {
            const Quad q = Butterfly(a, j, l);
            const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
            a[j] = q.x0r + q.x2r;
            a[j + 1] = q.x0i + q.x2i;
            StoreProduct(a, j2, w2r, w2i, q.x0r - q.x2r, q.x0i - q.x2i);
            StoreProduct(a, j1, w1r, w1i, q.x1r - q.x3i, q.x1i + q.x3r);
            StoreProduct(a, j3, w3r, w3i, q.x1r + q.x3i, q.x1i - q.x3r);
        }
        w1r = w[k2 + 2];
        w1i = w[k2 + 3];
        w3r = F(w1r - 2.0 * w2r * w1i);
        w3i = F(2.0 * w2r * w1r - w1i);
        for (int j = k + m; j < l + (k + m); j += 2) {
            const Quad q = Butterfly(a, j, l);
            const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
            a[j] = q.x0r + q.x2r;
            a[j + 1] = q.x0i + q.x2i;
            // (-w2i + i w2r) * y: the second twiddle of the pair is w2 turned by 90 degrees.
            StoreProduct(a, j2, -w2i, w2r, q.x0r - q.x2r, q.x0i - q.x2i);
            StoreProduct(a, j1, w1r, w1i, q.x1r - q.x3i, q.x1i + q.x3r);
            StoreProduct(a, j3, w3r, w3i, q.x1r + q.x3i, q.x1i - q.x3r);
        }
    }
}

// Block s of the first pass (span 2): one butterfly over complex values 4s..4s+3, with the
// plain path's arithmetic.
void FirstPassBlock(float* a, int s, const float* table, const float* w1, const float* w2,
                    const float* w3) noexcept
{
    const int j = 8 * s, l = 2;
    const Quad q = Butterfly(a, j, l);
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    a[j] = q.x0r + q.x2r;
    a[j + 1] = q.x0i + q.x2i;
    if (s == 0) {
        a[j2] = q.x0r - q.x2r;
        a[j2 + 1] = q.x0i - q.x2i;
        a[j1] = q.x1r - q.x3i;
        a[j1 + 1] = q.x1i + q.x3r;
        a[j3] = q.x1r + q.x3i;
        a[j3 + 1] = q.x1i - q.x3r;
    } else if (s == 1) {
        const double c = table[2];
        a[j2] = q.x2i - q.x0i;
        a[j2 + 1] = q.x0r - q.x2r;
        float yr = q.x1r - q.x3i;
        float yi = q.x1i + q.x3r;
        a[j1] = F(c * (static_cast<double>(yr) - yi));
        a[j1 + 1] = F(c * (static_cast<double>(yr) + yi));
        yr = q.x3i + q.x1r;
        yi = q.x3r - q.x1i;
        a[j3] = F(c * (static_cast<double>(yi) - yr));
        a[j3 + 1] = F(c * (static_cast<double>(yi) + yr));
    } else {
        const auto u = static_cast<std::size_t>(2 * s);
        StoreProduct(a, j2, w2[u], w2[u + 1], q.x0r - q.x2r, q.x0i - q.x2i);
        StoreProduct(a, j1, w1[u], w1[u + 1], q.x1r - q.x3i, q.x1i + q.x3r);
        StoreProduct(a, j3, w3[u], w3[u + 1], q.x1r + q.x3i, q.x1i - q.x3r);
    }
}

void LastPass(int n, int l, float* a, bool conjugate) noexcept
{
    if ((l << 2) == n) {
        for (int j = 0; j < l; j += 2) {
            const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
            Quad q = Butterfly(a, j, l);
            if (conjugate) {
                q.x0i = -a[j + 1] - a[j1 + 1];
                q.x1i = -a[j + 1] + a[j1 + 1];
                a[j] = q.x0r + q.x2r;
                a[j + 1] = q.x0i - q.x2i;
                a[j2] = q.x0r - q.x2r;
                a[j2 + 1] = q.x0i + q.x2i;
                a[j1] = q.x1r - q.x3i;
                a[j1 + 1] = q.x1i - q.x3r;
                a[j3] = q.x1r + q.x3i;
                a[j3 + 1] = q.x1i + q.x3r;
            } else {
                a[j] = q.x0r + q.x2r;
                a[j + 1] = q.x0i + q.x2i;
                a[j2] = q.x0r - q.x2r;
                a[j2 + 1] = q.x0i - q.x2i;
                a[j1] = q.x1r - q.x3i;
                a[j1 + 1] = q.x1i + q.x3r;
                a[j3] = q.x1r + q.x3i;
                a[j3 + 1] = q.x1i - q.x3r;
            }
        }
    } else {
        for (int j = 0; j < l; j += 2) {
            const int j1 = j + l;
            const float x0r = a[j] - a[j1];
            const float x0i = conjugate ? -a[j + 1] + a[j1 + 1] : a[j + 1] - a[j1 + 1];
            a[j] = a[j] + a[j1];
            a[j + 1] = conjugate ? -a[j + 1] - a[j1 + 1] : a[j + 1] + a[j1 + 1];
            a[j1] = x0r;
            a[j1 + 1] = x0i;
        }
    }
}

} // namespace

CFFT::CFFT() = default;
CFFT::~CFFT() = default;

bool CFFT::Setup(int size, bool forward)
{
    mSize = 0;
    mBitRevTable.clear();
    mTwiddleTable.clear();
    mWork.clear();
    if (size < 2 || (size & (size - 1)) != 0 || size > (1 << 26))
        return false;
    std::size_t firstWdOffset = 0;
    try {
        std::vector<int> pairs = BitReversalPairs(size);
        const int nw = size / 2;
        std::vector<float> table(static_cast<std::size_t>(nw > 1 ? nw : 1), 0.0f);
        if (nw > 2) {
            const int nwh = nw / 2;
            const float delta = static_cast<float>(std::atan(1.0) / nwh);
            table[0] = 1.0f;
            table[1] = 0.0f;
            table[static_cast<std::size_t>(nwh)] = F(std::cos(static_cast<double>(delta) * nwh));
            table[static_cast<std::size_t>(nwh + 1)] = table[static_cast<std::size_t>(nwh)];
            if (nwh > 2) {
                for (int j = 2; j < nwh; j += 2) {
                    const float x = F(std::cos(static_cast<double>(delta) * j));
                    const float y = F(std::sin(static_cast<double>(delta) * j));
                    table[static_cast<std::size_t>(j)] = x;
                    table[static_cast<std::size_t>(j + 1)] = y;
                    table[static_cast<std::size_t>(nw - j)] = y;
                    table[static_cast<std::size_t>(nw - j + 1)] = x;
                }
                // The passes read the table in bit-reversed order: a plain permutation, the
                // same in both directions.
                Permute(table.data(), BitReversalPairs(nw / 2));
            }
        }
        // Twiddles of butterfly block s (float offset s * m in a pass of span l, m = 4l):
        // even s = 2b take w2 = table[s], w1 = table[2s]; odd s take the pair's second set,
        // w1 = table[2s] and w2 turned by 90 degrees. Blocks 0 and 1 need none.
        const int blocks = std::max(2 * size / 8, 2);
        std::vector<float> w1(2 * static_cast<std::size_t>(blocks), 0.0f);
        std::vector<float> w2(w1.size(), 0.0f), w3(w1.size(), 0.0f);
        for (int s = 2; s < blocks && 2 * s + 1 < nw; ++s) {
            const auto u = static_cast<std::size_t>(2 * s);
            const float w1r = table[static_cast<std::size_t>(2 * s)];
            const float w1i = table[static_cast<std::size_t>(2 * s + 1)];
            if (s % 2 == 0) {
                const float w2r = table[static_cast<std::size_t>(s)];
                const float w2i = table[static_cast<std::size_t>(s + 1)];
                w2[u] = w2r;
                w2[u + 1] = w2i;
                w3[u] = F(w1r - 2.0 * w2i * w1i);
                w3[u + 1] = F(2.0 * w2i * w1r - w1i);
            } else {
                const float w2r = table[static_cast<std::size_t>(s - 1)];
                const float w2i = table[static_cast<std::size_t>(s)];
                w2[u] = -w2i;
                w2[u + 1] = w2r;
                w3[u] = F(w1r - 2.0 * w2r * w1i);
                w3[u + 1] = F(2.0 * w2r * w1r - w1i);
            }
            w1[u] = w1r;
            w1[u + 1] = w1i;
        }
        // Lane order of the vector first pass: group q takes the blocks whose bit-reversed
        // indexes are q..q+3, so that its inputs are four runs of consecutive values.
        std::vector<float> f1(w1.size(), 0.0f), f2(w1.size(), 0.0f), f3(w1.size(), 0.0f);
        int blockBits = 0;
        while ((1 << blockBits) < blocks)
            ++blockBits;
        for (int q = 0; q < blocks; ++q) {
            const auto from = static_cast<std::size_t>(2 * ReverseBits(q, blockBits));
            const auto to = static_cast<std::size_t>(2 * q);
            f1[to] = w1[from];
            f1[to + 1] = w1[from + 1];
            f2[to] = w2[from];
            f2[to + 1] = w2[from + 1];
            f3[to] = w3[from];
            f3[to + 1] = w3[from + 1];
        }
        // The exact first pass's twiddles as doubles, 32-byte aligned for vector loads.
        const std::size_t groups = static_cast<std::size_t>(blocks / 4);
        std::vector<double> firstWd(48 * groups + 4, 0.0);
        const auto address = reinterpret_cast<std::uintptr_t>(firstWd.data());
        firstWdOffset = ((32 - address % 32) % 32) / sizeof(double);
        for (std::size_t g = 0; g < groups; ++g) {
            const std::vector<float>* sets[3] = {&f1, &f2, &f3};
            for (std::size_t t = 0; t < 3; ++t) {
                const std::vector<float>& f = *sets[t];
                for (std::size_t half = 0; half < 2; ++half) {
                    double* out = firstWd.data() + firstWdOffset + 48 * g + 16 * t + 8 * half;
                    for (std::size_t v = 0; v < 2; ++v) {
                        const std::size_t c = 2 * (4 * g + 2 * half + v);
                        out[2 * v] = out[2 * v + 1] = f[c];
                        out[4 + 2 * v] = out[4 + 2 * v + 1] = f[c + 1];
                    }
                }
            }
        }
        std::vector<int> firstBlock(static_cast<std::size_t>(blocks));
        for (int q = 0; q < blocks; ++q)
            firstBlock[static_cast<std::size_t>(q)] = ReverseBits(q, blockBits);
        mWork.assign(2 * static_cast<std::size_t>(size), 0.0f);
        // The middle passes' twiddles as doubles, w1, w2, w3 per block, ready to broadcast.
        const std::size_t middleBlocks = std::max<std::size_t>(w1.size() / 8, 2);
        std::vector<double> wd(6 * middleBlocks, 0.0);
        for (std::size_t b = 0; b < middleBlocks; ++b) {
            wd[6 * b] = w1[2 * b];
            wd[6 * b + 1] = w1[2 * b + 1];
            wd[6 * b + 2] = w2[2 * b];
            wd[6 * b + 3] = w2[2 * b + 1];
            wd[6 * b + 4] = w3[2 * b];
            wd[6 * b + 5] = w3[2 * b + 1];
        }
        mBlockWd = std::move(wd);
        mFirstBlock = std::move(firstBlock);
        mFirstWdStore = std::move(firstWd);
        mFirstW1 = std::move(f1);
        mFirstW2 = std::move(f2);
        mFirstW3 = std::move(f3);
        mBlockW1 = std::move(w1);
        mBlockW2 = std::move(w2);
        mBlockW3 = std::move(w3);
        mBitRevTable = std::move(pairs);
        mTwiddleTable = std::move(table);
    } catch (const std::bad_alloc&) {
        mBitRevTable.clear();
        mTwiddleTable.clear();
        return false;
    } catch (const std::length_error&) {
        mBitRevTable.clear();
        mTwiddleTable.clear();
        return false;
    }
    // The vector loads need 32-byte alignment; the store has 4 spare doubles for the shift,
    // and moving the vector kept its buffer.
    mFirstWd = mFirstWdStore.data() + firstWdOffset;
    mSize = size;
    mForward = forward;
    return true;
}

void CFFT::TransformPlain(float* data) const noexcept
{
    const int n = 2 * mSize;
    if (n < 4)
        return;
    float* a = data;
    const float* w = mTwiddleTable.data();
    if (n == 4) {
        LastPass(n, 2, a, false);
    } else {
        Permute(a, mBitRevTable);
        if (mForward)
            for (int j = 1; j < n; j += 2)
                a[j] = -a[j];
        int l = 2;
        if (n > 8) {
            MiddlePass(n, 2, a, w);
            l = 8;
            while ((l << 2) < n) {
                MiddlePass(n, l, a, w);
                l <<= 2;
            }
        }
        LastPass(n, l, a, mForward);
    }
    if (!mForward) {
        const float scale = static_cast<float>(1.0 / mSize);
        for (int j = 0; j < n; ++j)
            a[j] *= scale;
    }
}

#ifdef VARNEL_FFT_X86
namespace {

#define VARNEL_AVX2 __attribute__((target("avx2,fma")))

// Interleaved complex helpers on 4 complex floats (one __m256).
VARNEL_AVX2 inline __m256 SwapPairs(__m256 x)
{
    return _mm256_permute_ps(x, 0xB1);
}

// i * x = (-xi, xr)
VARNEL_AVX2 inline __m256 TimesI(__m256 x)
{
    const __m256 negEven = _mm256_castsi256_ps(
        _mm256_setr_epi32(INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0));
    return _mm256_xor_ps(SwapPairs(x), negEven);
}

VARNEL_AVX2 inline __m256 Conj(__m256 x)
{
    const __m256 negOdd = _mm256_castsi256_ps(
        _mm256_setr_epi32(0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN, 0, INT32_MIN));
    return _mm256_xor_ps(x, negOdd);
}

VARNEL_AVX2 inline __m256 Join(__m128 lo, __m128 hi)
{
    return _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1);
}

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
VARNEL_AVX2 void FirstPassAvx(int size, const float* src, float* dst, const float* w1,
                              const float* w2, const float* w3, const double* wdFirst,
                              const int* blockOf, bool conjugate)
{
    const int quarter = size / 4;
    const int skip = size / 8; // the group of block 1; block 0 is in group 0
    for (int q = 4; q < quarter; q += 4) {
        if (q == skip)
            continue;
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
            // Per group 3 twiddle sets of 16 doubles: real parts doubled per value for the low
            // two values, imaginary parts likewise, then the same for the high two.
            const double* wd = wdFirst + 48 * static_cast<std::size_t>(q / 4);
            o1 = MulRound(_mm256_add_ps(x.x1, ix3), _mm256_load_pd(wd), _mm256_load_pd(wd + 4),
                          _mm256_load_pd(wd + 8), _mm256_load_pd(wd + 12));
            o2 =
                MulRound(_mm256_sub_ps(x.x0, x.x2), _mm256_load_pd(wd + 16),
                         _mm256_load_pd(wd + 20), _mm256_load_pd(wd + 24), _mm256_load_pd(wd + 28));
            o3 =
                MulRound(_mm256_sub_ps(x.x1, ix3), _mm256_load_pd(wd + 32), _mm256_load_pd(wd + 36),
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

bool CpuHasAvx2() noexcept
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}

} // namespace
#endif

bool CFFT::VectorCodeAvailable() noexcept
{
#ifdef VARNEL_FFT_X86
    return CpuHasAvx2();
#else
    return false;
#endif
}

bool CFFT::UsesVectorCode() const noexcept
{
    // The vector passes need whole 4-value groups in every pass: 32 points and up.
    return mVectorAllowed && mSize >= 32 && VectorCodeAvailable();
}

void CFFT::Transform(float* data) const noexcept
{
#ifdef VARNEL_FFT_X86
    if (UsesVectorCode()) {
        const int n = 2 * mSize;
        const int quarter = mSize / 4;
        float* work = mWork.data();
        const float* w = mTwiddleTable.data();
        if (mExactRounding)
            FirstPassAvx<true>(mSize, data, work, mFirstW1.data(), mFirstW2.data(), mFirstW3.data(),
                               mFirstWd, mFirstBlock.data(), mForward);
        else
            FirstPassAvx<false>(mSize, data, work, mFirstW1.data(), mFirstW2.data(),
                                mFirstW3.data(), mFirstWd, mFirstBlock.data(), mForward);
        // The two groups holding the untwiddled block 0 and the eighth-turn block 1.
        static constexpr int kReversed2[4] = {0, 2, 1, 3};
        for (int q : {0, mSize / 8}) {
            for (int i = 0; i < 4; ++i) {
                const int s = mFirstBlock[static_cast<std::size_t>(q + i)];
                for (int t = 0; t < 4; ++t) {
                    const auto from =
                        static_cast<std::size_t>(2 * (kReversed2[t] * quarter + q + i));
                    const auto to = static_cast<std::size_t>(8 * s + 2 * t);
                    work[to] = data[from];
                    work[to + 1] = mForward ? -data[from + 1] : data[from + 1];
                }
                FirstPassBlock(work, s, w, mBlockW1.data(), mBlockW2.data(), mBlockW3.data());
            }
        }
        int l = 8;
        while ((l << 2) < n) {
            if (mExactRounding)
                MiddlePassAvx<true>(n, l, work, mBlockW1.data(), mBlockW2.data(), mBlockW3.data(),
                                    mBlockWd.data(), w[2]);
            else
                MiddlePassAvx<false>(n, l, work, mBlockW1.data(), mBlockW2.data(), mBlockW3.data(),
                                     mBlockWd.data(), w[2]);
            l <<= 2;
        }
        LastPassAvx(n, l, work, data, mForward, mForward ? 1.0f : static_cast<float>(1.0 / mSize));
        return;
    }
#endif
    TransformPlain(data);
}

} // namespace varnel
