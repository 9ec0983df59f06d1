#include "dsp/Cntrfocus.h"

#include "dsp/BinDecision.h"
#include "dsp/FrameWindow.h"
#include "dsp/RealPacking.h"
#include "dsp/SoftGain.h"
#include "dsp/VisualFeed.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace varnel {

namespace {

constexpr double kPiDouble = 3.14159265358979323846;
// Overlap-add gain: the float nearest 5.33333 (not 16/3), spread over the overlapping frames.
constexpr float kSynthesisGain = 5.33333f;

// Truncation toward zero; an absurd or NaN Hz value is clamped first so the conversion to int
// stays defined.
int BinFromHz(float hz, float binWidth) noexcept
{
    const float bin = hz / binWidth;
    if (bin > 1.0e9f)
        return 1000000000;
    if (!(bin > -1.0e9f))
        return -1000000000;
    return static_cast<int>(bin);
}

} // namespace

CenterFocus::CenterFocus() = default;
CenterFocus::~CenterFocus() = default;

void CenterFocus::SetCodePath(CodePath limit) noexcept
{
    mPathLimit = limit;
    mForwardFft.SetCodePath(limit);
    mInverseFft.SetCodePath(limit);
}

CodePath CenterFocus::ActiveCodePath() const noexcept
{
    // The vector loops take bins in groups of 8 and pairs in groups of 4.
    return mFrameSize >= 64 ? ChooseCodePath(mPathLimit) : CodePath::Plain;
}

bool CenterFocus::Setup(int frameSize, int overlap, int sampleRate)
{
    mAllocated = false;
    mOverlap = overlap;
    mFrameSize = frameSize;
    mBinWidth = static_cast<float>(sampleRate) / static_cast<float>(frameSize > 0 ? frameSize : 1);
    mPanLow = mPanHigh = 1.0f;
    mLowBin = 0;
    mHighBin = frameSize / 2 - 1;
    mDepthLow = 0.0f;
    mDepthHigh = kPi;
    mInverted = false;
    mVisualFeed = false;
    mFreqLowHz = 0.0f;
    mFreqHighHz = static_cast<float>(sampleRate / 2);
    mSoft = SoftCut();
    mSampleRate = sampleRate;
    mFreqGainStale = true;
    mLastGains = LastGains::None;
    mRestOn = false;
    mHop = 0;
    mReadPos = 0;
    mWritePos = 0;
    mSkipFrames = 0;
    mInHead = 0;
    mOutBase = 0;
    mCorrectionLimit = 0;

    // Free what an earlier set-up left, so a failure leaves no half-sized buffers behind.
    for (std::vector<float>* v :
         {&mWindow,    &mCorrectionTable, &mSynthesis, &mSplitTwiddle, &mSpectrumL, &mSpectrumR,
          &mBinsL,     &mBinsR,           &mKeep,      &mFeedDepth,    &mFeedMagR,  &mFeedMagL,
          &mFeedRatio, &mFeedSumMag,      &mGain,      &mFreqGain,     &mInRingL,   &mInRingR,
          &mOutRingL,  &mOutRingR,        &mRestRingL, &mRestRingR,    &mRestSpecL, &mRestSpecR})
        *v = std::vector<float>();

    const bool sizeOk =
        frameSize >= 4 && frameSize <= (1 << 24) && (frameSize & (frameSize - 1)) == 0;
    if (!sizeOk || overlap < 1 || frameSize % overlap != 0 || sampleRate <= 0)
        return false;
    const int n = frameSize;
    const int half = n / 2;
    if (!mForwardFft.Setup(half, true) || !mInverseFft.Setup(half, false))
        return false;
    mForwardFft.SetCodePath(mPathLimit);
    mInverseFft.SetCodePath(mPathLimit);
    // The forward transform keeps the exact rounding, so the vector and plain paths decide
    // from identical spectra; the inverse only feeds the output, where float rounding of the
    // twiddle products is far below one sample step.
    mInverseFft.SetExactRounding(false);

    const auto un = static_cast<std::size_t>(n);
    const auto uh = static_cast<std::size_t>(half);
    try {
        mSpectrumL.assign(un, 0.0f);
        mSpectrumR.assign(un, 0.0f);
        mBinsL.assign(un, 0.0f);
        mBinsR.assign(un, 0.0f);
        mKeep.assign(uh, 0.0f);
        for (std::vector<float>* v :
             {&mFeedDepth, &mFeedMagR, &mFeedMagL, &mFeedRatio, &mFeedSumMag, &mGain, &mFreqGain})
            v->assign(uh, 0.0f);
        mInRingL.assign(2 * un, 0.0f);
        mInRingR.assign(2 * un, 0.0f);
        mOutRingL.assign(un, 0.0f);
        mOutRingR.assign(un, 0.0f);
        mCorrectionTable.assign(uh, 0.0f);
        mWindow.assign(un, 0.0f);
        mSynthesis.assign(un, 0.0f);
        mSplitTwiddle.assign(un, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    mHop = n / overlap;
    mReadPos = 0;
    mWritePos = n - mHop;

    // Below 1300 Hz a bin's ratio is corrected by its phase difference; rates so low that no
    // bin below N/2 reaches 1300 Hz correct every bin.
    mCorrectionLimit = half;
    for (int i = 0; i < half; ++i) {
        float entry = 1.4f;
        if (i > 0) {
            const double hz = static_cast<double>(i) * static_cast<double>(mBinWidth);
            entry = static_cast<float>((std::log10(1300.0) - std::log10(hz)) * 1.2);
        }
        if (entry <= 0.0f) {
            mCorrectionLimit = i;
            break;
        }
        if (static_cast<double>(entry) > 1.4)
            entry = 1.4f;
        mCorrectionTable[static_cast<std::size_t>(i)] = entry;
    }
    // The inverse comes back from the half-size transform at 4 times the frame's level (see
    // BuildPairs); a quarter is exact in floats.
    const double gain = static_cast<double>(kSynthesisGain) / overlap / 4.0;
    for (int i = 0; i < n; ++i) {
        const auto u = static_cast<std::size_t>(i);
        const double arg = 2.0 * static_cast<double>(kPi) * i / n;
        mWindow[u] = static_cast<float>(0.5 - 0.5 * std::cos(arg));
        mSynthesis[u] = static_cast<float>(gain * mWindow[u]);
    }
    for (int k = 0; k < half; ++k) {
        const double angle = -2.0 * kPiDouble * k / n;
        mSplitTwiddle[2 * static_cast<std::size_t>(k)] = static_cast<float>(std::cos(angle));
        mSplitTwiddle[2 * static_cast<std::size_t>(k) + 1] = static_cast<float>(std::sin(angle));
    }
    mAllocated = true;
    return true;
}

void CenterFocus::SetPanRange(float low, float high) noexcept
{
    mPanLow = low;
    mPanHigh = high;
}

void CenterFocus::SetFreqRange(float lowHz, float highHz) noexcept
{
    if (mBinWidth <= 0.0f)
        return;
    mLowBin = BinFromHz(lowHz, mBinWidth);
    mHighBin = BinFromHz(highHz, mBinWidth);
    mFreqLowHz = lowHz;
    mFreqHighHz = highHz;
    mFreqGainStale = true;
}

void CenterFocus::SetDepthRange(float low, float high) noexcept
{
    mDepthLow = low;
    mDepthHigh = high;
}

void CenterFocus::SetInverted(bool inverted) noexcept
{
    mInverted = inverted;
}

void CenterFocus::SetVisualFeed(bool on) noexcept
{
    mVisualFeed = on;
}

void CenterFocus::SetSoftCut(const SoftCut& soft) noexcept
{
    if (soft.FeatherFreq != mSoft.FeatherFreq)
        mFreqGainStale = true;
    mSoft = soft;
}

void CenterFocus::SetArea(const FilterArea& area) noexcept
{
    SetPanRange(area.PanLow, area.PanHigh);
    SetFreqRange(area.FreqLowHz, area.FreqHighHz);
    SetDepthRange(area.DepthLow, area.DepthHigh);
    SetInverted(area.Inverted);
    SetSoftCut(area.Soft);
}

bool CenterFocus::EnableRest()
{
    if (!mAllocated)
        return false;
    const auto un = static_cast<std::size_t>(mFrameSize);
    try {
        mRestRingL.assign(un, 0.0f);
        mRestRingR.assign(un, 0.0f);
        mRestSpecL.assign(un, 0.0f);
        mRestSpecR.assign(un, 0.0f);
    } catch (const std::bad_alloc&) {
        for (std::vector<float>* v : {&mRestRingL, &mRestRingR, &mRestSpecL, &mRestSpecR})
            *v = std::vector<float>();
        mRestOn = false;
        return false;
    }
    mRestOn = true;
    return true;
}

void CenterFocus::ResetStream() noexcept
{
    for (std::vector<float>* v :
         {&mInRingL, &mInRingR, &mOutRingL, &mOutRingR, &mRestRingL, &mRestRingR})
        std::fill(v->begin(), v->end(), 0.0f);
    mLastGains = LastGains::None;
    mInHead = 0;
    mOutBase = 0;
    mReadPos = 0;
    mWritePos = mFrameSize - mHop;
    mSkipFrames = 0;
}

namespace {

// The filter's output sample in the caller's type: the 16-bit path truncates toward zero, the
// float path keeps the value as it is.
inline int32_t OutputSample(float value, int32_t*) noexcept
{
    return static_cast<int32_t>(value);
}

inline float OutputSample(float value, float*) noexcept
{
    return value;
}

} // namespace

void CenterFocus::Process(const int32_t* inL, const int32_t* inR, int32_t* outL, int32_t* outR,
                          int count) noexcept
{
    Stream(inL, inR, outL, outR, static_cast<int32_t*>(nullptr), static_cast<int32_t*>(nullptr),
           count);
}

void CenterFocus::Process(const int32_t* inL, const int32_t* inR, int32_t* outL, int32_t* outR,
                          int32_t* restL, int32_t* restR, int count) noexcept
{
    Stream(inL, inR, outL, outR, restL, restR, count);
}

void CenterFocus::Process(const float* inL, const float* inR, float* outL, float* outR,
                          float* restL, float* restR, int count) noexcept
{
    Stream(inL, inR, outL, outR, restL, restR, count);
}

template <typename Sample>
void CenterFocus::Stream(const Sample* inL, const Sample* inR, Sample* outL, Sample* outR,
                         Sample* restL, Sample* restR, int count) noexcept
{
    const bool rest = restL != nullptr && restR != nullptr;
    if (!mAllocated) {
        for (int i = 0; i < count; ++i)
            outL[i] = outR[i] = Sample{0};
        for (int i = 0; rest && i < count; ++i)
            restL[i] = restR[i] = Sample{0};
        return;
    }
    const bool restOut = rest && mRestOn;
    const float* restAccL = mRestRingL.data();
    const float* restAccR = mRestRingR.data();
    const int n = mFrameSize;
    const int mask = n - 1;
    float* ringL = mInRingL.data();
    float* ringR = mInRingR.data();
    const float* accL = mOutRingL.data();
    const float* accR = mOutRingR.data();
    int done = 0;
    while (done < count) {
        // Up to the end of the current frame: the write and read positions move together.
        const int run = std::min(count - done, n - mWritePos);
        for (int i = 0; i < run; ++i) {
            const auto p = static_cast<std::size_t>((mInHead + mWritePos + i) & mask);
            const auto fl = static_cast<float>(inL[done + i]);
            const auto fr = static_cast<float>(inR[done + i]);
            ringL[p] = ringL[p + static_cast<std::size_t>(n)] = fl;
            ringR[p] = ringR[p + static_cast<std::size_t>(n)] = fr;
            const auto q = static_cast<std::size_t>((mOutBase + mReadPos + i) & mask);
            outL[done + i] = OutputSample(accL[q], outL);
            outR[done + i] = OutputSample(accR[q], outR);
        }
        if (restOut) {
            for (int i = 0; i < run; ++i) {
                const auto q = static_cast<std::size_t>((mOutBase + mReadPos + i) & mask);
                restL[done + i] = OutputSample(restAccL[q], restL);
                restR[done + i] = OutputSample(restAccR[q], restR);
            }
        } else if (rest) {
            std::fill(restL + done, restL + done + run, Sample{0});
            std::fill(restR + done, restR + done + run, Sample{0});
        }
        done += run;
        mWritePos += run;
        mReadPos += run;
        if (mWritePos >= n)
            FrameStep();
    }
}

void CenterFocus::FrameStep() noexcept
{
    const int mask = mFrameSize - 1;
    if (mSkipFrames > 0)
        --mSkipFrames;
    else
        AddFrame();
    // The cells read out during the last hop become the ring's top hop cells.
    std::fill(mOutRingL.data() + mOutBase, mOutRingL.data() + mOutBase + mHop, 0.0f);
    std::fill(mOutRingR.data() + mOutBase, mOutRingR.data() + mOutBase + mHop, 0.0f);
    if (mRestOn) {
        std::fill(mRestRingL.data() + mOutBase, mRestRingL.data() + mOutBase + mHop, 0.0f);
        std::fill(mRestRingR.data() + mOutBase, mRestRingR.data() + mOutBase + mHop, 0.0f);
    }
    mOutBase = (mOutBase + mHop) & mask;
    mInHead = (mInHead + mHop) & mask;
    mWritePos -= mHop;
    mReadPos -= mHop;
}

void CenterFocus::AddFrame() noexcept
{
    const int n = mFrameSize;
    const int half = n / 2;
    const int mask = n - 1;
    float* accL = mOutRingL.data();
    float* accR = mOutRingR.data();
    const bool feed = mVisualFeed && mSink != nullptr;
    const bool soft = !mSoft.IsHard();
    const CodePath path = ActiveCodePath();
    if (feed)
        mSink->NextFrame();

    float* sl = mSpectrumL.data();
    float* sr = mSpectrumR.data();
    WindowFrame(path, mInRingL.data() + mInHead, mInRingR.data() + mInHead, mWindow.data(), sl, sr,
                n);
    mForwardFft.Transform(sl);
    mForwardFft.Transform(sr);

    SplitSpectrum(path, sl, mBinsL.data(), mSplitTwiddle.data(), half);
    SplitSpectrum(path, sr, mBinsR.data(), mSplitTwiddle.data(), half);
    if (soft) {
        SoftFrameGains(path, feed);
    } else {
        const BinDecision decision = MakeBinDecision(mLowBin, mHighBin, mCorrectionLimit, mPanLow,
                                                     mPanHigh, mDepthLow, mDepthHigh, mInverted);
        BinFeed binFeed;
        if (feed)
            binFeed = BinFeed{mFeedDepth.data(), mFeedMagR.data(), mFeedMagL.data(),
                              mFeedRatio.data(), mFeedSumMag.data()};
        AnalyseBins(
            path, decision,
            BinFrame{mBinsL.data(), mBinsR.data(), mCorrectionTable.data(), mKeep.data(), half},
            binFeed);
        mLastGains = LastGains::Hard;
    }
    const float* weights = soft ? mGain.data() : mKeep.data();
    // The hard cut's rest is the cleared bins' own inverse (so it is the inverted area's
    // output, bit for bit). The soft cut's is every bin's frame less the kept one: by the
    // transform's linearity the same sound to float rounding, without two more transforms.
    // Every bin's frame is the windowed frame itself but for bin 0, which the kept frame counts
    // double, and the bin at N/2, which it leaves out (see BuildPairs): their sums are kept.
    float dcL = 0.0f, dcR = 0.0f, nyquistL = 0.0f, nyquistR = 0.0f;
    if (mRestOn && soft) {
        dcL = sl[0] + sl[1];
        dcR = sr[0] + sr[1];
        nyquistL = sl[0] - sl[1];
        nyquistR = sr[0] - sr[1];
    } else if (mRestOn) {
        BuildSpectrum(path, Weighting::Cleared, mBinsL.data(), weights, mSplitTwiddle.data(),
                      mRestSpecL.data(), half);
        BuildSpectrum(path, Weighting::Cleared, mBinsR.data(), weights, mSplitTwiddle.data(),
                      mRestSpecR.data(), half);
    }
    const Weighting weighting = soft ? Weighting::Gain : Weighting::Kept;
    BuildSpectrum(path, weighting, mBinsL.data(), weights, mSplitTwiddle.data(), sl, half);
    BuildSpectrum(path, weighting, mBinsR.data(), weights, mSplitTwiddle.data(), sr, half);
    if (feed)
        mSink->AddBins(mFeedDepth.data(), mFeedMagR.data(), mFeedMagL.data(), mFeedRatio.data(),
                       mFeedSumMag.data(), half);
    mInverseFft.Transform(sl);
    mInverseFft.Transform(sr);
    if (mRestOn && soft) {
        // Every bin's frame at the kept frame's level (4 times the real frame) is
        // 2 x + 2 (X[0] - X[N/2] (-1)^n) / N for the windowed frame x, X its transform.
        const float scale = 2.0f / static_cast<float>(n);
        WholeLessKept(path, mInRingL.data() + mInHead, mWindow.data(), sl, scale * (dcL - nyquistL),
                      scale * (dcL + nyquistL), mRestSpecL.data(), mHop, n);
        WholeLessKept(path, mInRingR.data() + mInHead, mWindow.data(), sr, scale * (dcR - nyquistR),
                      scale * (dcR + nyquistR), mRestSpecR.data(), mHop, n);
    } else if (mRestOn) {
        mInverseFft.Transform(mRestSpecL.data());
        mInverseFft.Transform(mRestSpecR.data());
    }

    // Overlap-add the frame's samples hop..N-1; samples 0..hop-1 would land in cells already
    // read out (FrameStep clears those).
    for (int i = mHop; i < n;) {
        const int cell = (mOutBase + i) & mask;
        const int run = std::min(n - i, n - cell);
        OverlapAdd(path, accL + cell, accR + cell, mSynthesis.data() + i, sl + i, sr + i, run);
        if (mRestOn)
            OverlapAdd(path, mRestRingL.data() + cell, mRestRingR.data() + cell,
                       mSynthesis.data() + i, mRestSpecL.data() + i, mRestSpecR.data() + i, run);
        i += run;
    }
}

void CenterFocus::SoftFrameGains(CodePath path, bool feed) noexcept
{
    const int half = mFrameSize / 2;
    FilterArea area;
    area.PanLow = mPanLow;
    area.PanHigh = mPanHigh;
    area.FreqLowHz = mFreqLowHz;
    area.FreqHighHz = mFreqHighHz;
    area.DepthLow = mDepthLow;
    area.DepthHigh = mDepthHigh;
    area.Inverted = mInverted;
    area.Soft = mSoft;
    SoftGainParams params = MakeSoftGainParams(area, mSampleRate, mHop);
    // Smoothing switched on after hard frames goes on from the last one's gains, which its
    // mask holds (before this frame's analysis overwrites it).
    if (mLastGains == LastGains::Hard && params.Smooth < 1.0f)
        for (int j = 0; j < half; ++j)
            mGain[static_cast<std::size_t>(j)] =
                IsKept(mKeep[static_cast<std::size_t>(j)]) ? 1.0f : 0.0f;
    // The hard decision over the dimensions whose edges have no width, so those edges are the
    // hard cut's exactly; a dimension with a width is opened here and weighed by its gain.
    // A high edge at a ratio of 0 or at 0 Hz has no transition (see MakeSoftGainParams): the
    // decision keeps it.
    const BinDecision decision = MakeBinDecision(
        params.FreqOn ? 0 : mLowBin, params.FreqOn && mFreqHighHz > 0.0f ? half : mHighBin,
        mCorrectionLimit, params.Pan.On ? 0.0f : mPanLow,
        params.Pan.On && mPanHigh > 0.0f ? std::numeric_limits<float>::infinity() : mPanHigh,
        params.Depth.On ? 0.0f : mDepthLow, params.Depth.On ? kPi : mDepthHigh, false);
    BinFeed binFeed;
    if (feed || params.Pan.On || params.Depth.On)
        binFeed = BinFeed{mFeedDepth.data(), mFeedMagR.data(), mFeedMagL.data(), mFeedRatio.data(),
                          mFeedSumMag.data()};
    AnalyseBins(path, decision,
                BinFrame{mBinsL.data(), mBinsR.data(), mCorrectionTable.data(), mKeep.data(), half},
                binFeed);
    if (params.FreqOn && mFreqGainStale) {
        FrequencyGains(area, mBinWidth, half, mFreqGain.data());
        mFreqGainStale = false;
    }
    params.Fresh = mLastGains == LastGains::None;
    SoftGains(path, params,
              SoftFrame{mKeep.data(), mFeedRatio.data(), mFeedDepth.data(), mFreqGain.data(),
                        mGain.data(), half});
    mLastGains = LastGains::Soft;
}

} // namespace varnel
