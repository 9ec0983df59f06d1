#include "dsp/Cfft.h"

#include <cmath>
#include <new>
#include <stdexcept>
#include <utility>

namespace varnel {

namespace {

// Every stored value of the transform is a float; products and sums that form one stored
// value are carried in double and rounded once, so the result does not depend on whether the
// compiler contracts or vectorises the arithmetic.
inline float F(double v) noexcept { return static_cast<float>(v); }

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

// Float offsets (2 * index) of the pairs that a bit-reversal of count complex values swaps.
std::vector<int> BitReversalPairs(int count)
{
    std::vector<int> pairs;
    int bits = 0;
    while ((1 << bits) < count)
        ++bits;
    for (int i = 0; i < count; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            if (i & (1 << b))
                r |= 1 << (bits - 1 - b);
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
    if (size < 2 || (size & (size - 1)) != 0 || size > (1 << 26))
        return false;
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
    mSize = size;
    mForward = forward;
    return true;
}

void CFFT::Transform(float* data) const noexcept
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

} // namespace varnel
