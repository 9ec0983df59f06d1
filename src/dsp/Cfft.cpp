#include "dsp/Cfft.h"

#include <cstdint>
#include <new>
#include <stdexcept>
#include <utility>

namespace varnel {

namespace fft {

void FirstPassBlock(float* a, int s, const Tables& t) noexcept
{
    const int j = 8 * s, l = 2;
    const Quad q = Butterfly(a, j, l);
    if (s == 0) {
        StoreUntwiddled(a, j, l, q);
    } else if (s == 1) {
        StoreEighthTurn(a, j, l, q, t.Twiddle[2]);
    } else {
        const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
        a[j] = q.x0r + q.x2r;
        a[j + 1] = q.x0i + q.x2i;
        const auto u = static_cast<std::size_t>(2 * s);
        StoreProduct(a, j2, t.BlockW2[u], t.BlockW2[u + 1], q.x0r - q.x2r, q.x0i - q.x2i);
        StoreProduct(a, j1, t.BlockW1[u], t.BlockW1[u + 1], q.x1r - q.x3i, q.x1i + q.x3r);
        StoreProduct(a, j3, t.BlockW3[u], t.BlockW3[u + 1], q.x1r + q.x3i, q.x1i - q.x3r);
    }
}

void FirstPassEdgeGroups(const Tables& t, const float* data, float* work, bool forward) noexcept
{
    const int quarter = t.Size / 4;
    static constexpr int kReversed2[4] = {0, 2, 1, 3};
    for (int q : {0, t.Size / 8}) {
        for (int i = 0; i < 4; ++i) {
            const int s = t.FirstBlock[static_cast<std::size_t>(q + i)];
            for (int k = 0; k < 4; ++k) {
                const auto from = static_cast<std::size_t>(2 * (kReversed2[k] * quarter + q + i));
                const auto to = static_cast<std::size_t>(8 * s + 2 * k);
                work[to] = data[from];
                work[to + 1] = forward ? -data[from + 1] : data[from + 1];
            }
            FirstPassBlock(work, s, t);
        }
    }
}

} // namespace fft

namespace {

using fft::Butterfly;
using fft::F;
using fft::Quad;
using fft::StoreEighthTurn;
using fft::StoreProduct;
using fft::StoreUntwiddled;

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

void MiddlePass(int n, int l, float* a, const float* w) noexcept
{
    const int m = l << 2;
    for (int j = 0; j < l; j += 2)
        StoreUntwiddled(a, j, l, Butterfly(a, j, l));
    const double c = w[2];
    for (int j = m; j < l + m; j += 2)
        StoreEighthTurn(a, j, l, Butterfly(a, j, l), c);
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
                StoreUntwiddled(a, j, l, q);
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
    mTables = fft::Tables();
    mWork.clear();
    if (size < 2 || (size & (size - 1)) != 0 || size > (1 << 26))
        return false;
    try {
        fft::BuildTables(size, mTables);
        // 16 floats more, so that the work area can start on a cache line.
        mWork.assign(2 * static_cast<std::size_t>(size) + 16, 0.0f);
        const auto address = reinterpret_cast<std::uintptr_t>(mWork.data());
        mWorkOffset = ((64 - address % 64) % 64) / sizeof(float);
    } catch (const std::bad_alloc&) {
        mTables = fft::Tables();
        return false;
    } catch (const std::length_error&) {
        mTables = fft::Tables();
        return false;
    }
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
    const float* w = mTables.Twiddle.data();
    if (n == 4) {
        LastPass(n, 2, a, false);
    } else {
        Permute(a, mTables.BitRevPairs);
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

void CFFT::Transform(float* data) const noexcept
{
    switch (ActiveCodePath()) {
    case CodePath::Avx512:
        fft::TransformAvx512(mTables, data, mWork.data() + mWorkOffset, mForward, mExactRounding);
        return;
    case CodePath::Avx2:
        fft::TransformAvx2(mTables, data, mWork.data() + mWorkOffset, mForward, mExactRounding);
        return;
    case CodePath::Plain: break;
    }
    TransformPlain(data);
}

} // namespace varnel
