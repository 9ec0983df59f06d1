#pragma once

#include <vector>

namespace varnel {

// In-place complex FFT of a fixed power-of-two length N in single precision.
// Data layout: 2N floats, N complex values interleaved, real part first.
// Forward: X[k] = sum_j x[j] e^(-2 pi i jk/N), unscaled.
// Inverse: x[j] = (1/N) sum_k X[k] e^(+2 pi i jk/N).
//
// After Setup, Transform allocates nothing, locks nothing, and may be called from a real-time
// thread. It uses a work area of the object, so one thread at a time transforms with it.
class CFFT
{
public:
    CFFT();
    virtual ~CFFT();
    CFFT(const CFFT&) = delete;
    CFFT& operator=(const CFFT&) = delete;

    // Set-up thread; allocates. size must be a power of two and at least 2. Returns false when
    // the tables cannot be allocated or the size is unusable; the object is then empty.
    bool Setup(int size, bool forward);

    // Owner's thread, real-time safe. data holds 2 * Size() floats.
    void Transform(float* data) const noexcept;

    // Any thread. 0 before a successful Setup.
    int Size() const noexcept { return mSize; }
    bool IsForward() const noexcept { return mForward; }

    // Any thread. Whether this processor runs the AVX2 code path. Both paths give bit-identical
    // results; tests and benchmarks switch the vector path off to compare.
    static bool VectorCodeAvailable() noexcept;
    // Set-up thread. Allows (default) or forbids the vector path for this object.
    void SetVectorCode(bool allowed) noexcept { mVectorAllowed = allowed; }
    bool UsesVectorCode() const noexcept;
    // Set-up thread. With exact rounding off, the vector path forms twiddle products in float
    // with fused multiply-adds: faster, equal to the exact result within float rounding, but
    // no longer bit-identical to the plain path. On by default.
    void SetExactRounding(bool exact) noexcept { mExactRounding = exact; }

private:
    void TransformPlain(float* data) const noexcept;

    std::vector<int> mBitRevTable; // float offsets of the pairs the bit reversal swaps
    std::vector<float> mTwiddleTable;
    // Per butterfly block s of any pass: the three twiddles w1, w2, w3 as complex floats,
    // derived once from the table exactly as the passes derive them.
    std::vector<float> mBlockW1, mBlockW2, mBlockW3;
    std::vector<double> mBlockWd; // the same for the middle passes' blocks, as doubles
    // The same for the vector first pass, in the order in which it takes the blocks.
    std::vector<float> mFirstW1, mFirstW2, mFirstW3;
    std::vector<int> mFirstBlock;      // block taken by lane position q of the vector first pass
    std::vector<double> mFirstWdStore; // the first pass's twiddles as doubles, per lane
    const double* mFirstWd = nullptr;  // mFirstWdStore from its first 32-byte boundary
    // Work area of the vector path: the first pass reads the data in bit-reversed order and
    // writes here, the last pass writes back.
    mutable std::vector<float> mWork;
    int mSize = 0;
    bool mForward = true;
    bool mVectorAllowed = true;
    bool mExactRounding = true;
};

} // namespace varnel
