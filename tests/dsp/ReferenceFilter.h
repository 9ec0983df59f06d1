#pragma once

#include "dsp/Cfft.h"
#include "dsp/FilterParams.h"

#include <cstdint>
#include <random>
#include <vector>

namespace varnel::test {

// The separation filter written out literally, one bin at a time, with two complex forward
// and two complex inverse transforms per frame, double atan2 phases and the float/double
// rounding of every step. It is slow on purpose: the production filter computes the same
// decisions in a different way and is checked against this one.
class ReferenceFilter
{
public:
    struct BinAnalysis
    {
        float Depth, MagRight, MagLeft, Ratio;
    };

    bool Setup(int frameSize, int overlap, int sampleRate);
    void SetArea(const FilterArea& area);
    void SetPanRange(float low, float high)
    {
        mPanLow = low;
        mPanHigh = high;
    }
    void Process(const int32_t* inL, const int32_t* inR, int32_t* outL, int32_t* outR, int count);

    int Hop() const { return mHop; }
    int Frames() const { return mFrames; }
    // The last frame: 1 for each bin below N/2 that was kept, and what each bin measured.
    const std::vector<uint8_t>& KeepMask() const { return mKeep; }
    const std::vector<BinAnalysis>& Analysis() const { return mAnalysis; }

private:
    void FrameStep();

    int mN = 0, mHop = 0, mOverlap = 0, mReadPos = 0, mWritePos = 0, mFrames = 0;
    float mBinWidth = 0.0f;
    float mPanLow = 1.0f, mPanHigh = 1.0f, mDepthLow = 0.0f, mDepthHigh = kPi;
    int mLowBin = 0, mHighBin = 0;
    bool mInverted = false;
    int mCorrectionLimit = 0;
    CFFT mForward, mInverse;
    std::vector<float> mWindow, mCorrection, mSpecL, mSpecR, mInL, mInR, mOutL, mOutR;
    std::vector<uint8_t> mKeep;
    std::vector<BinAnalysis> mAnalysis;
};

// A deterministic stereo test signal that looks like a mix to the filter: harmonic voices at
// many pans and inter-channel delays, a centred voice, noise, decaying clicks.
struct MusicLike
{
    std::vector<int32_t> L, R;
};
MusicLike MakeMusicLike(int samples, int sampleRate, unsigned seed);

} // namespace varnel::test
