#include "dsp/CfftEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace varnel::fft {

namespace {

int ReverseBits(int value, int bits) noexcept
{
    int r = 0;
    for (int b = 0; b < bits; ++b)
        if (value & (1 << b))
            r |= 1 << (bits - 1 - b);
    return r;
}

int BitsFor(int count) noexcept
{
    int bits = 0;
    while ((1 << bits) < count)
        ++bits;
    return bits;
}

// Float offsets (2 * index) of the pairs that a bit-reversal of count complex values swaps.
std::vector<int> BitReversalPairs(int count)
{
    std::vector<int> pairs;
    const int bits = BitsFor(count);
    for (int i = 0; i < count; ++i) {
        const int r = ReverseBits(i, bits);
        if (i < r) {
            pairs.push_back(2 * i);
            pairs.push_back(2 * r);
        }
    }
    return pairs;
}

void Permute(float* a, const std::vector<int>& pairs) noexcept
{
    for (std::size_t p = 0; p < pairs.size(); p += 2) {
        const auto j = static_cast<std::size_t>(pairs[p]);
        const auto k = static_cast<std::size_t>(pairs[p + 1]);
        std::swap(a[j], a[k]);
        std::swap(a[j + 1], a[k + 1]);
    }
}

// N/2 floats: cosines and sines of the first octant mirrored to a quarter turn, from a float
// step, then put into bit-reversed order (a plain permutation, the same in both directions).
std::vector<float> TwiddleTable(int size)
{
    const int nw = size / 2;
    std::vector<float> table(static_cast<std::size_t>(nw > 1 ? nw : 1), 0.0f);
    if (nw <= 2)
        return table;
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
        Permute(table.data(), BitReversalPairs(nw / 2));
    }
    return table;
}

int BlockCount(int size) noexcept
{
    return std::max(2 * size / 8, 2);
}

// Twiddles of butterfly block s (float offset s * m in a pass of span l, m = 4l): even s = 2b
// take w2 = table[s], w1 = table[2s]; odd s take the pair's second set, w1 = table[2s] and w2
// turned by 90 degrees. Blocks 0 and 1 need none.
void BlockTwiddles(const std::vector<float>& table, int size, Tables& t)
{
    const int nw = size / 2;
    const int blocks = BlockCount(size);
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
    t.BlockW1 = std::move(w1);
    t.BlockW2 = std::move(w2);
    t.BlockW3 = std::move(w3);
}

// The middle passes' twiddles as doubles, w1, w2, w3 per block, ready to broadcast.
void MiddlePassDoubles(Tables& t)
{
    const std::size_t blocks = std::max<std::size_t>(t.BlockW1.size() / 8, 2);
    std::vector<double> wd(6 * blocks, 0.0);
    for (std::size_t b = 0; b < blocks; ++b) {
        wd[6 * b] = t.BlockW1[2 * b];
        wd[6 * b + 1] = t.BlockW1[2 * b + 1];
        wd[6 * b + 2] = t.BlockW2[2 * b];
        wd[6 * b + 3] = t.BlockW2[2 * b + 1];
        wd[6 * b + 4] = t.BlockW3[2 * b];
        wd[6 * b + 5] = t.BlockW3[2 * b + 1];
    }
    t.BlockWd = std::move(wd);
}

// Lane order of the vector first pass: group q takes the blocks whose bit-reversed indexes
// are q..q+3, so that its inputs are four runs of consecutive values.
void FirstPassOrder(int size, Tables& t)
{
    const int blocks = BlockCount(size);
    const int blockBits = BitsFor(blocks);
    std::vector<float> f1(t.BlockW1.size(), 0.0f), f2(f1.size(), 0.0f), f3(f1.size(), 0.0f);
    std::vector<int> firstBlock(static_cast<std::size_t>(blocks));
    for (int q = 0; q < blocks; ++q) {
        const int s = ReverseBits(q, blockBits);
        firstBlock[static_cast<std::size_t>(q)] = s;
        const auto from = static_cast<std::size_t>(2 * s);
        const auto to = static_cast<std::size_t>(2 * q);
        f1[to] = t.BlockW1[from];
        f1[to + 1] = t.BlockW1[from + 1];
        f2[to] = t.BlockW2[from];
        f2[to + 1] = t.BlockW2[from + 1];
        f3[to] = t.BlockW3[from];
        f3[to + 1] = t.BlockW3[from + 1];
    }
    t.FirstW1 = std::move(f1);
    t.FirstW2 = std::move(f2);
    t.FirstW3 = std::move(f3);
    t.FirstBlock = std::move(firstBlock);
}

// The exact first pass's twiddles as doubles, 64-byte aligned for vector loads. Per group of
// 4 lanes, 3 sets of 16 doubles: real parts doubled per value for the low two values,
// imaginary parts likewise, then the same for the high two.
void FirstPassDoubles(int size, Tables& t)
{
    const auto groups = static_cast<std::size_t>(BlockCount(size) / 4);
    std::vector<double> store(48 * groups + 8, 0.0);
    const auto address = reinterpret_cast<std::uintptr_t>(store.data());
    const std::size_t offset = ((64 - address % 64) % 64) / sizeof(double);
    const std::vector<float>* sets[3] = {&t.FirstW1, &t.FirstW2, &t.FirstW3};
    for (std::size_t g = 0; g < groups; ++g) {
        for (std::size_t s = 0; s < 3; ++s) {
            const std::vector<float>& f = *sets[s];
            for (std::size_t half = 0; half < 2; ++half) {
                double* out = store.data() + offset + 48 * g + 16 * s + 8 * half;
                for (std::size_t v = 0; v < 2; ++v) {
                    const std::size_t c = 2 * (4 * g + 2 * half + v);
                    out[2 * v] = out[2 * v + 1] = f[c];
                    out[4 + 2 * v] = out[4 + 2 * v + 1] = f[c + 1];
                }
            }
        }
    }
    // Moving the vector keeps its buffer, so the offset stays valid.
    t.FirstWdStore = std::move(store);
    t.FirstWdOffset = offset;
}

// The joined first two passes' unit order and twiddles (see Tables::FirstTwoUnit). Unit u
// holds the values at positions 16u..16u+15 of the bit-reversed order; its sources are the
// values rev(u) + j N/16, so that lanes taking units rev(r)..rev(r + 7) read runs of 8
// consecutive values.
void FirstTwoPassOrder(int size, Tables& t)
{
    if (size < kFirstTwoMinSize)
        return;
    const int units = size / 16;
    const int unitBits = BitsFor(units);
    std::vector<int> unitOf(static_cast<std::size_t>(units));
    const auto chunks = static_cast<std::size_t>(units / 8);
    std::vector<float> store(kFirstTwoChunkFloats * chunks + 16, 0.0f);
    const auto address = reinterpret_cast<std::uintptr_t>(store.data());
    const std::size_t offset = ((64 - address % 64) % 64) / sizeof(float);
    const std::vector<float>* sets[3] = {&t.BlockW1, &t.BlockW2, &t.BlockW3};
    for (int r = 0; r < units; ++r) {
        const int u = ReverseBits(r, unitBits);
        unitOf[static_cast<std::size_t>(r)] = u;
        float* chunk =
            store.data() + offset + kFirstTwoChunkFloats * static_cast<std::size_t>(r / 8);
        const auto lane = static_cast<std::size_t>(2 * (r % 8));
        for (int k = 0; k < 5; ++k) {
            // k < 4: first-pass block 4u + k; k == 4: span-8 block u.
            const auto block = static_cast<std::size_t>(k < 4 ? 4 * u + k : u);
            for (std::size_t w = 0; w < 3; ++w) {
                float* out = chunk + 16 * (3 * static_cast<std::size_t>(k) + w) + lane;
                out[0] = (*sets[w])[2 * block];
                out[1] = (*sets[w])[2 * block + 1];
            }
        }
    }
    t.FirstTwoUnit = std::move(unitOf);
    // Moving the vector keeps its buffer, so the offset stays valid.
    t.FirstTwoWStore = std::move(store);
    t.FirstTwoWOffset = offset;
}

} // namespace

void BuildTables(int size, Tables& t)
{
    t.Size = 0;
    t.BitRevPairs = BitReversalPairs(size);
    t.Twiddle = TwiddleTable(size);
    BlockTwiddles(t.Twiddle, size, t);
    MiddlePassDoubles(t);
    FirstPassOrder(size, t);
    FirstPassDoubles(size, t);
    FirstTwoPassOrder(size, t);
    t.Size = size;
}

} // namespace varnel::fft
