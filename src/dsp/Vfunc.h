#pragma once

#include "dsp/Cntrfocus.h"

#include <cstdint>
#include <vector>

namespace varnel {

// Wraps one separation filter for callers that move interleaved 16-bit PCM bytes: splits a
// raw block into channels, filters it, joins it back with clipping. Callers of other sample
// formats use the float entry beside it (InitFloat, ProcessFloat), which leaves scaling and
// rounding to them. Buffers are sized once in Init and InitFloat; one thread at a time; after
// set-up nothing allocates.
class TVocalFunc
{
public:
    TVocalFunc();
    virtual ~TVocalFunc();
    TVocalFunc(const TVocalFunc&) = delete;
    TVocalFunc& operator=(const TVocalFunc&) = delete;

    // Any thread. The block length Init gives: trunc(sampleRate * seconds), or -1 when the
    // arguments give no usable block (a negative or absurd length).
    static int BlockFramesFor(int sampleRate, double seconds) noexcept;

    // Set-up thread; allocates. BlockFrames = trunc(sampleRate * seconds). 0, or 1 when a
    // buffer cannot be allocated (or the arguments give no usable block: channels outside
    // 1..8, a negative or absurd length).
    int Init(int channels, int sampleRate, double seconds);
    // Set-up thread; allocates. 0, or 1 when the filter cannot be set up (treat as a failed
    // Init).
    int SetupFilter(int fftSize, int overlap);

    // Owner's thread; forwarded to the filter, effective from its next frame.
    void SetPanRange(float low, float high) noexcept { mFilter.SetPanRange(low, high); }
    void SetFreqRange(float lowHz, float highHz) noexcept { mFilter.SetFreqRange(lowHz, highHz); }
    void SetDepthRange(float low, float high) noexcept { mFilter.SetDepthRange(low, high); }
    void SetInverted(bool inverted) noexcept { mFilter.SetInverted(inverted); }
    void SetVisualFeed(bool on) noexcept { mFilter.SetVisualFeed(on); }
    void SetSoftCut(const SoftCut& soft) noexcept { mFilter.SetSoftCut(soft); }
    void SetArea(const FilterArea& area) noexcept { mFilter.SetArea(area); }
    // Set-up thread.
    void SetVisualSink(VisualFeed* sink) noexcept { mFilter.SetVisualSink(sink); }

    // Owner's thread, real-time safe. Byte counts are -1 (a failed read passed on, meaning no
    // frames) or 0..BlockBytes().
    void Reset() noexcept;
    void Deinterleave(int bytes) noexcept;
    void Process(int first, int count) noexcept;
    void Interleave(int bytes) noexcept;

    // Set-up thread, after Init; allocates. The float entry: four more buffers of BlockFrames
    // floats, in 16-bit units, for sound of any resolution. 0, or 1 when they cannot be
    // allocated.
    int InitFloat();
    // Owner's thread, real-time safe, after InitFloat. Filters count frames from the first
    // of FloatInL/R into FloatOutL/R, unclipped and untruncated.
    void ProcessFloat(int first, int count) noexcept;
    float* FloatInL() noexcept { return mFloatInL.data(); }
    float* FloatInR() noexcept { return mFloatInR.data(); }
    const float* FloatOutL() const noexcept { return mFloatOutL.data(); }
    const float* FloatOutR() const noexcept { return mFloatOutR.data(); }

    // Set-up thread, after Init (and InitFloat, where used) and SetupFilter; allocates. Every
    // Process (or ProcessFloat) from now on also gives the rest stem: what the filter leaves
    // out, so the kept and the rest add up to every bin. 0, or 1 when its buffers cannot be
    // allocated.
    int EnableRest();
    bool RestEnabled() const noexcept { return mFilter.RestEnabled(); }
    // Owner's thread, real-time safe. The rest's samples into RawRest, clipped as Interleave
    // clips.
    void InterleaveRest(int bytes) noexcept;
    const uint8_t* RawRest() const noexcept { return mRawRest.data(); }
    const float* FloatRestL() const noexcept { return mFloatRestL.data(); }
    const float* FloatRestR() const noexcept { return mFloatRestR.data(); }

    // Owner's thread. Callers read into RawIn and write from RawOut directly.
    uint8_t* RawIn() noexcept { return mRawIn.data(); }
    const uint8_t* RawOut() const noexcept { return mRawOut.data(); }
    int32_t* InL() noexcept { return mInL.data(); }
    int32_t* InR() noexcept { return mInR.data(); }
    int32_t* OutL() noexcept { return mOutL.data(); }
    int32_t* OutR() noexcept { return mOutR.data(); }
    int BlockFrames() const noexcept { return mBlockFrames; }
    int BlockBytes() const noexcept { return mBlockBytes; }
    CenterFocus& Filter() noexcept { return mFilter; }
    const CenterFocus& Filter() const noexcept { return mFilter; }

private:
    int mChannels = 2;
    int mSampleRate = 0;
    CenterFocus mFilter;
    std::vector<uint8_t> mRawIn, mRawOut;
    std::vector<int32_t> mInL, mInR, mOutL, mOutR;
    std::vector<float> mFloatInL, mFloatInR, mFloatOutL, mFloatOutR;
    std::vector<int32_t> mRestL, mRestR;
    std::vector<uint8_t> mRawRest;
    std::vector<float> mFloatRestL, mFloatRestR;
    int mBlockFrames = 0;
    int mBlockBytes = 0;
};

} // namespace varnel
