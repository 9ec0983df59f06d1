#pragma once

#include "dsp/Cfft.h"
#include "dsp/FilterParams.h"

#include <cstdint>
#include <vector>

namespace varnel {

class VisualFeed;

// The short-time Fourier separation filter. Frames of N samples, periodic Hann window, hop
// N / overlap; for every bin below N/2 it measures the pan ratio (right over left magnitude,
// corrected below 1300 Hz by the phase difference), the depth (absolute phase difference) and
// the frequency, keeps the bin in both channels when all three lie inside the area (or clears
// it, when inverted), and overlap-adds the inverse transform. Output lags input by N - hop.
//
// Lifecycle: Setup, then the range setters, then Process any number of times. One thread at a
// time uses a filter; after Setup, Process and the setters allocate nothing, lock nothing and
// never throw.
class CenterFocus
{
public:
    CenterFocus();
    virtual ~CenterFocus();
    CenterFocus(const CenterFocus&) = delete;
    CenterFocus& operator=(const CenterFocus&) = delete;

    // Set-up thread; allocates. Resets the stream state and the parameter set (pan 1..1, all
    // bins, depth 0..pi, not inverted, no visual feed). Returns false when frameSize is not a
    // power of two of at least 4, overlap does not divide it, the rate is not positive, or an
    // allocation failed: the filter then has no buffers and Process writes silence.
    bool Setup(int frameSize, int overlap, int sampleRate);

    // Owner's thread; take effect from the next frame.
    void SetPanRange(float low, float high) noexcept;
    void SetFreqRange(float lowHz, float highHz) noexcept;
    void SetDepthRange(float low, float high) noexcept;
    void SetInverted(bool inverted) noexcept;
    void SetVisualFeed(bool on) noexcept;
    // How gently the area cuts; the default is the hard cut, which keeps today's exact path.
    void SetSoftCut(const SoftCut& soft) noexcept;
    void SetArea(const FilterArea& area) noexcept; // all of the above but the feed

    // Set-up thread, after Setup; allocates. From now on every frame also builds the rest
    // stem: each bin weighed by one minus its gain (the cleared bins, for the hard cut), so
    // the kept and the rest add up to every bin. False, with no rest, when the buffers cannot
    // be allocated. A new Setup drops the rest.
    bool EnableRest();
    bool RestEnabled() const noexcept { return mRestOn; }

    // Set-up thread. Where the analysis goes while the visual feed is on; null for nowhere.
    void SetVisualSink(VisualFeed* sink) noexcept { mSink = sink; }

    // Owner's thread; allocates nothing. Starts a new stream with the same set-up and area: the
    // state right after Setup, as if no sample had been processed.
    void ResetStream() noexcept;
    // Owner's thread, after ResetStream; allocates nothing. The next count frames are not
    // computed: a stream started early only to give a later frame its context skips the
    // frames whose output all falls before the output it keeps. Their output cells turn over
    // empty, so the output they would have touched is not the filter's.
    void SkipFrames(int count) noexcept { mSkipFrames = count; }

    // Owner's thread, real-time safe. Consumes count samples of each channel (16-bit values
    // held in int32) and writes count unclipped output samples of each channel.
    void Process(const int32_t* inL, const int32_t* inR, int32_t* outL, int32_t* outR,
                 int count) noexcept;
    // Owner's thread, real-time safe. The same, also writing count unclipped samples of each
    // channel of the rest stem, aligned with the output (silence when the rest is not
    // enabled).
    void Process(const int32_t* inL, const int32_t* inR, int32_t* outL, int32_t* outR,
                 int32_t* restL, int32_t* restR, int count) noexcept;
    // Owner's thread, real-time safe. The same stream in floats, for sound of any resolution
    // scaled to 16-bit units (a 16-bit sample's own value): nothing is truncated. 16-bit
    // values give the output of the 16-bit entry before its truncation. restL and restR may
    // be null (no rest stem wanted).
    void Process(const float* inL, const float* inR, float* outL, float* outR, float* restL,
                 float* restR, int count) noexcept;
    void Process(const float* inL, const float* inR, float* outL, float* outR, int count) noexcept
    {
        Process(inL, inR, outL, outR, nullptr, nullptr, count);
    }

    // Any thread.
    int FrameSize() const noexcept { return mFrameSize; }
    int Hop() const noexcept { return mHop; }
    int Latency() const noexcept { return mFrameSize - mHop; }

    // Set-up thread, for tests and benchmarks: the widest code path the filter and its
    // transforms may take (default: the widest the processor runs). All paths make the same
    // keep/clear decisions; the vector paths' output may differ from the plain path's by
    // float rounding. SetVectorCode(false) is SetCodePath(CodePath::Plain).
    void SetCodePath(CodePath limit) noexcept;
    void SetVectorCode(bool allowed) noexcept
    {
        SetCodePath(allowed ? CodePath::Avx512 : CodePath::Plain);
    }
    // Any thread. The path Process takes: the vector paths need frames of 64 samples and up.
    CodePath ActiveCodePath() const noexcept;

private:
    // Tests read the inner state through it (defined with the tests).
    friend struct CenterFocusTestAccess;

    template <typename Sample>
    void Stream(const Sample* inL, const Sample* inR, Sample* outL, Sample* outR, Sample* restL,
                Sample* restR, int count) noexcept;
    // Computes the frame that ends at the write position unless it is to be skipped, then
    // moves the rings on by a hop.
    void FrameStep() noexcept;
    // Transforms, filters and overlap-adds that frame into the output ring (and the rest's).
    void AddFrame() noexcept;
    // The soft cut's gain of every bin of the frame, into mGain.
    void SoftFrameGains(CodePath path, bool feed) noexcept;

    int mFrameSize = 0;
    int mHop = 0;
    int mOverlap = 0;
    float mPanLow = 1.0f, mPanHigh = 1.0f;
    int mLowBin = 0, mHighBin = 0;
    float mDepthLow = 0.0f, mDepthHigh = kPi;
    float mBinWidth = 0.0f;
    bool mInverted = false;
    bool mVisualFeed = false;
    float mFreqLowHz = 0.0f, mFreqHighHz = 0.0f; // as given, for the soft frequency edges
    SoftCut mSoft;
    int mSampleRate = 0;
    int mCorrectionLimit = 0;
    // Each channel is real, so each direction runs as one complex transform of N/2 points
    // per channel: even samples as real parts, odd samples as imaginary parts.
    CFFT mForwardFft;
    CFFT mInverseFft;
    std::vector<float> mWindow;
    std::vector<float> mCorrectionTable;
    std::vector<float> mSynthesis;             // overlap-add weight per sample, window included
    std::vector<float> mSplitTwiddle;          // e^(-2 pi i k/N) for k < N/2, complex
    std::vector<float> mSpectrumL, mSpectrumR; // N floats: frame, half-size spectrum, output
    std::vector<float> mBinsL, mBinsR;         // bins 0..N/2-1 of each channel, complex
    std::vector<float> mKeep;                  // per bin: all bits set when kept
    std::vector<float> mFeedDepth, mFeedMagR, mFeedMagL, mFeedRatio, mFeedSumMag;
    std::vector<float> mGain;     // per bin: the soft cut's smoothed gain
    std::vector<float> mFreqGain; // per bin: the soft frequency edges' gain
    bool mFreqGainStale = true;   // the frequency range or width changed
    // Where the last frame's gains are, for the smoothing: nowhere (a new stream), in mGain
    // (a soft frame) or in mKeep (a hard frame: its mask is its gain).
    enum class LastGains
    {
        None,
        Soft,
        Hard,
    };
    LastGains mLastGains = LastGains::None;
    std::vector<float> mInRingL, mInRingR;     // 2N: sample written at p and p + N
    std::vector<float> mOutRingL, mOutRingR;   // N: overlap-add accumulator ring
    std::vector<float> mRestRingL, mRestRingR; // N: the rest stem's accumulator ring
    std::vector<float> mRestSpecL, mRestSpecR; // N floats: the rest's half-size spectrum
    bool mRestOn = false;
    int mInHead = 0;     // ring cell of the oldest of the last N input samples
    int mOutBase = 0;    // ring cell of the next frame's first output sample
    int mReadPos = 0;    // 0..hop-1
    int mWritePos = 0;   // N-hop..N-1
    int mSkipFrames = 0; // frames still to skip, see SkipFrames
    bool mAllocated = false;
    CodePath mPathLimit = CodePath::Avx512;
    VisualFeed* mSink = nullptr;
};

} // namespace varnel
