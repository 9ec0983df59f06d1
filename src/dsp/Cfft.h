#pragma once

#include <vector>

namespace varnel {

// In-place complex FFT of a fixed power-of-two length N in single precision.
// Data layout: 2N floats, N complex values interleaved, real part first.
// Forward: X[k] = sum_j x[j] e^(-2 pi i jk/N), unscaled.
// Inverse: x[j] = (1/N) sum_k X[k] e^(+2 pi i jk/N).
//
// After Setup the object is read-only: Transform allocates nothing, locks nothing, and may be
// called from a real-time thread.
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

private:
    std::vector<int> mBitRevTable;
    std::vector<float> mTwiddleTable;
    int mSize = 0;
    bool mForward = true;
};

} // namespace varnel
