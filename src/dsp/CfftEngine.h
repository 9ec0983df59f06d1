#pragma once

// Internal to the transform: the tables CFFT builds once per Setup, the plain butterfly shared
// by the plain and vector passes, and the vector engines. Not for use outside src/dsp/Cfft*.

#include <cstddef>
#include <vector>

namespace varnel::fft {

// Everything a transform of one size reads; built by BuildTables, never changed afterwards.
struct Tables
{
    int Size = 0;                 // N complex points
    std::vector<int> BitRevPairs; // float offsets of the pairs the bit reversal swaps
    std::vector<float> Twiddle;   // N/2 floats of cosines and sines, in bit-reversed order
    // Per butterfly block s of any pass: the three twiddles w1, w2, w3 as complex floats,
    // derived once from the table exactly as the passes derive them.
    std::vector<float> BlockW1, BlockW2, BlockW3;
    std::vector<double> BlockWd; // the same for the middle passes' blocks, as doubles
    // The same for the vector first pass, in the order in which it takes the blocks.
    std::vector<float> FirstW1, FirstW2, FirstW3;
    std::vector<int> FirstBlock;      // block taken by lane position q of the vector first pass
    std::vector<double> FirstWdStore; // the first pass's twiddles as doubles, per lane
    std::size_t FirstWdOffset = 0;    // FirstWdStore from its first 64-byte boundary

    // The AVX-512 engine's joined first two passes (span 2 and span 8) over chunks of 8 units
    // of 16 values; lane i of chunk c holds unit FirstTwoUnit[8c + i]. Per chunk 15 vectors of
    // 8 complex floats, one value per lane: w1, w2, w3 of first-pass block 4u + k for k = 0..3,
    // then w1, w2, w3 of span-8 block u. Empty below kFirstTwoMinSize.
    std::vector<int> FirstTwoUnit;
    std::vector<float> FirstTwoWStore;
    std::size_t FirstTwoWOffset = 0; // FirstTwoWStore from its first 64-byte boundary

    const double* FirstWd() const noexcept { return FirstWdStore.data() + FirstWdOffset; }
    const float* FirstTwoW() const noexcept { return FirstTwoWStore.data() + FirstTwoWOffset; }
};

// The smallest size the joined first two passes take: chunks of 8 units of 16 values, units 0
// and 1 in lane 0 of two different chunks.
inline constexpr int kFirstTwoMinSize = 256;
// Floats of twiddles per chunk of the joined first two passes.
inline constexpr int kFirstTwoChunkFloats = 15 * 16;

// Set-up thread; allocates, may throw std::bad_alloc. size is a power of two >= 2.
void BuildTables(int size, Tables& t);

// Every stored value of the transform is a float; products and sums that form one stored
// value are carried in double and rounded once, so the result does not depend on whether the
// compiler contracts or vectorises the arithmetic.
inline float F(double v) noexcept
{
    return static_cast<float>(v);
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

// Stores the butterfly at j (values l floats apart) without twiddles, as block 0 has.
inline void StoreUntwiddled(float* a, int j, int l, const Quad& q) noexcept
{
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

// Stores the butterfly at j with block 1's twiddles, an eighth of a turn: c is cos(pi/4), and
// the products are formed in double.
inline void StoreEighthTurn(float* a, int j, int l, const Quad& q, double c) noexcept
{
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

// Block s of the first pass (span 2): one butterfly over complex values 4s..4s+3, with the
// plain path's arithmetic.
void FirstPassBlock(float* a, int s, const Tables& t) noexcept;
// The vector first pass leaves out the two groups of 4 blocks holding the untwiddled block 0
// and the eighth-turn block 1; this runs them with the plain arithmetic, reading data in
// bit-reversed order (conjugated when forward) and writing work.
void FirstPassEdgeGroups(const Tables& t, const float* data, float* work, bool forward) noexcept;

// The vector engines. data holds 2N floats; work is a scratch area of 2N floats. exact keeps
// every stored value equal to the plain path's; otherwise twiddle products are formed in float
// with fused multiply-adds. Both engines give the same bits for the same exact flag. They need
// N >= 32.
void TransformAvx2(const Tables& t, float* data, float* work, bool forward, bool exact) noexcept;
void TransformAvx512(const Tables& t, float* data, float* work, bool forward, bool exact) noexcept;

} // namespace varnel::fft
