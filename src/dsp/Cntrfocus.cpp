#include "dsp/Cntrfocus.h"

#include "dsp/BinDecision.h"
#include "dsp/FrameWindow.h"
#include "dsp/RealPacking.h"
#include "dsp/VisualFeed.h"

#include <algorithm>
#include <cmath>
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
    mHop = 0;
    mReadPos = 0;
    mWritePos = 0;
    mSkipFrames = 0;
    mInHead = 0;
    mOutBase = 0;
    mCorrectionLimit = 0;

    // Free what an earlier set-up left, so a failure leaves no half-sized buffers behind.
    for (std::vector<float>* v :
         {&mWindow, &mCorrectionTable, &mSynthesis, &mSplitTwiddle, &mSpectrumL, &mSpectrumR,
          &mBinsL, &mBinsR, &mKeep, &mFeedDepth, &mFeedMagR, &mFeedMagL, &mFeedRatio, &mFeedSumMag,
          &mInRingL, &mInRingR, &mOutRingL, &mOutRingR})
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
             {&mFeedDepth, &mFeedMagR, &mFeedMagL, &mFeedRatio, &mFeedSumMag})
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

void CenterFocus::SetArea(const FilterArea& area) noexcept
{
    SetPanRange(area.PanLow, area.PanHigh);
    SetFreqRange(area.FreqLowHz, area.FreqHighHz);
    SetDepthRange(area.DepthLow, area.DepthHigh);
    SetInverted(area.Inverted);
}

void CenterFocus::ResetStream() noexcept
{
    for (std::vector<float>* v : {&mInRingL, &mInRingR, &mOutRingL, &mOutRingR})
        std::fill(v->begin(), v->end(), 0.0f);
    mInHead = 0;
    mOutBase = 0;
    mReadPos = 0;
    mWritePos = mFrameSize - mHop;
    mSkipFrames = 0;
}

void CenterFocus::Process(const int32_t* inL, const int32_t* inR, int32_t* outL, int32_t* outR,
                          int count) noexcept
{
    if (!mAllocated) {
        for (int i = 0; i < count; ++i)
            outL[i] = outR[i] = 0;
        return;
    }
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
            outL[done + i] = static_cast<int32_t>(accL[q]);
            outR[done + i] = static_cast<int32_t>(accR[q]);
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
    const CodePath path = ActiveCodePath();
    if (feed)
        mSink->NextFrame();

    float* sl = mSpectrumL.data();
    float* sr = mSpectrumR.data();
    WindowFrame(path, mInRingL.data() + mInHead, mInRingR.data() + mInHead, mWindow.data(), sl, sr,
                n);
    mForwardFft.Transform(sl);
    mForwardFft.Transform(sr);

    const BinDecision decision = MakeBinDecision(mLowBin, mHighBin, mCorrectionLimit, mPanLow,
                                                 mPanHigh, mDepthLow, mDepthHigh, mInverted);
    SplitSpectrum(path, sl, mBinsL.data(), mSplitTwiddle.data(), half);
    SplitSpectrum(path, sr, mBinsR.data(), mSplitTwiddle.data(), half);
    BinFeed binFeed;
    if (feed)
        binFeed = BinFeed{mFeedDepth.data(), mFeedMagR.data(), mFeedMagL.data(), mFeedRatio.data(),
                          mFeedSumMag.data()};
    AnalyseBins(path, decision,
                BinFrame{mBinsL.data(), mBinsR.data(), mCorrectionTable.data(), mKeep.data(), half},
                binFeed);
    BuildSpectrum(path, mBinsL.data(), mKeep.data(), mSplitTwiddle.data(), sl, half);
    BuildSpectrum(path, mBinsR.data(), mKeep.data(), mSplitTwiddle.data(), sr, half);
    if (feed)
        mSink->AddBins(mFeedDepth.data(), mFeedMagR.data(), mFeedMagL.data(), mFeedRatio.data(),
                       mFeedSumMag.data(), half);
    mInverseFft.Transform(sl);
    mInverseFft.Transform(sr);

    // Overlap-add the frame's samples hop..N-1; samples 0..hop-1 would land in cells already
    // read out (FrameStep clears those).
    for (int i = mHop; i < n;) {
        const int cell = (mOutBase + i) & mask;
        const int run = std::min(n - i, n - cell);
        OverlapAdd(path, accL + cell, accR + cell, mSynthesis.data() + i, sl + i, sr + i, run);
        i += run;
    }
}

} // namespace varnel
