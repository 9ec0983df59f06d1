#pragma once

#include "dsp/CfftEngine.h"
#include "dsp/CpuFeatures.h"

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

    // Set-up thread. The widest code path this object may take (default: the widest the
    // processor runs). Every path gives bit-identical results with exact rounding; tests and
    // benchmarks switch the vector paths off to compare.
    void SetCodePath(CodePath limit) noexcept { mPathLimit = limit; }
    // Any thread. The path Transform takes: vector paths need 32 points and up.
    CodePath ActiveCodePath() const noexcept
    {
        return mSize >= 32 ? ChooseCodePath(mPathLimit) : CodePath::Plain;
    }
    // Set-up thread. With exact rounding off, the vector paths form twiddle products in float
    // with fused multiply-adds: faster, equal to the exact result within float rounding, but
    // no longer bit-identical to the plain path. On by default.
    void SetExactRounding(bool exact) noexcept { mExactRounding = exact; }

private:
    void TransformPlain(float* data) const noexcept;

    fft::Tables mTables;
    // Work area of the vector paths: the first pass reads the data in bit-reversed order and
    // writes here, the last pass writes back.
    mutable std::vector<float> mWork;
    std::size_t mWorkOffset = 0; // the work area from mWork's first 64-byte boundary
    int mSize = 0;
    bool mForward = true;
    CodePath mPathLimit = CodePath::Avx512;
    bool mExactRounding = true;
};

} // namespace varnel
