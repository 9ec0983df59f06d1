#include "dsp/Cntrfocus.h"

#include "dsp/VisualFeed.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace varnel {

namespace {

constexpr float kRatioCap = 32000.0f;
// Overlap-add gain: the float nearest 5.33333 (not 16/3), spread over the overlapping frames.
constexpr float kSynthesisGain = 5.33333f;

float WrapPhaseDiff(float phaseL, float phaseR) noexcept
{
    float d = phaseL - phaseR;
    if (d > kPi)
        d = d - 2.0f * kPi;
    if (d < -kPi)
        d = d + 2.0f * kPi;
    return d;
}

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
    mCorrectionLimit = 0;

    // Free what an earlier set-up left, so a failure leaves no half-sized buffers behind.
    mWindow = {};
    mCorrectionTable = {};
    mSpectrumL = {};
    mSpectrumR = {};
    mInRingL = {};
    mInRingR = {};
    mOutRingL = {};
    mOutRingR = {};

    const bool sizeOk = frameSize >= 4 && (frameSize & (frameSize - 1)) == 0;
    if (!sizeOk || overlap < 1 || frameSize % overlap != 0 || sampleRate <= 0)
        return false;
    if (!mForwardFft.Setup(frameSize, true) || !mInverseFft.Setup(frameSize, false))
        return false;

    const int n = frameSize;
    mHop = n / overlap;
    mReadPos = 0;
    mWritePos = n - mHop;
    const auto n2 = static_cast<std::size_t>(2 * n);
    const auto ring = static_cast<std::size_t>(n + mHop);
    try {
        mSpectrumL.assign(n2, 0.0f);
        mSpectrumR.assign(n2, 0.0f);
        mInRingL.assign(ring, 0.0f);
        mInRingR.assign(ring, 0.0f);
        mOutRingL.assign(ring, 0.0f);
        mOutRingR.assign(ring, 0.0f);
        mCorrectionTable.assign(static_cast<std::size_t>(n / 2), 0.0f);
        mWindow.assign(static_cast<std::size_t>(n), 0.0f);
    } catch (const std::bad_alloc&) {
        mHop = 0;
        return false;
    }

    // Below 1300 Hz a bin's ratio is corrected by its phase difference; rates so low that no
    // bin below N/2 reaches 1300 Hz correct every bin.
    mCorrectionLimit = n / 2;
    for (int i = 0; i < n / 2; ++i) {
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
    for (int i = 0; i < n; ++i) {
        const double arg = 2.0 * static_cast<double>(kPi) * i / n;
        mWindow[static_cast<std::size_t>(i)] = static_cast<float>(0.5 - 0.5 * std::cos(arg));
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

void CenterFocus::SetInverted(bool inverted) noexcept { mInverted = inverted; }

void CenterFocus::SetVisualFeed(bool on) noexcept { mVisualFeed = on; }

void CenterFocus::SetArea(const FilterArea& area) noexcept
{
    SetPanRange(area.PanLow, area.PanHigh);
    SetFreqRange(area.FreqLowHz, area.FreqHighHz);
    SetDepthRange(area.DepthLow, area.DepthHigh);
    SetInverted(area.Inverted);
}

void CenterFocus::Process(const int32_t* inL, const int32_t* inR, int32_t* outL, int32_t* outR,
                          int count) noexcept
{
    if (!mAllocated) {
        for (int i = 0; i < count; ++i)
            outL[i] = outR[i] = 0;
        return;
    }
    for (int i = 0; i < count; ++i) {
        mInRingL[static_cast<std::size_t>(mWritePos)] = static_cast<float>(inL[i]);
        mInRingR[static_cast<std::size_t>(mWritePos)] = static_cast<float>(inR[i]);
        outL[i] = static_cast<int32_t>(mOutRingL[static_cast<std::size_t>(mReadPos)]);
        outR[i] = static_cast<int32_t>(mOutRingR[static_cast<std::size_t>(mReadPos)]);
        ++mWritePos;
        ++mReadPos;
        if (mWritePos >= mFrameSize)
            FrameStep();
    }
}

void CenterFocus::FrameStep() noexcept
{
    const int n = mFrameSize;
    float* sl = mSpectrumL.data();
    float* sr = mSpectrumR.data();
    if (mVisualFeed && mSink)
        mSink->NextFrame();
    for (int i = 0; i < n; ++i) {
        const auto u = static_cast<std::size_t>(i);
        sl[2 * u] = mInRingL[u] * mWindow[u];
        sl[2 * u + 1] = 0.0f;
        sr[2 * u] = mInRingR[u] * mWindow[u];
        sr[2 * u + 1] = 0.0f;
    }
    mForwardFft.Transform(sl);
    mForwardFft.Transform(sr);

    for (int j = 0; j < n / 2; ++j) {
        const auto u = static_cast<std::size_t>(j);
        const float lre = sl[2 * u], lim = sl[2 * u + 1];
        const float rre = sr[2 * u], rim = sr[2 * u + 1];
        const float magL = static_cast<float>(
            std::sqrt(static_cast<double>(lre) * lre + static_cast<double>(lim) * lim));
        const float magR = static_cast<float>(
            std::sqrt(static_cast<double>(rre) * rre + static_cast<double>(rim) * rim));
        const float phaseL = (lre == 0.0f && lim == 0.0f)
            ? 0.0f : static_cast<float>(std::atan2(static_cast<double>(lim), lre));
        const float phaseR = (rre == 0.0f && rim == 0.0f)
            ? 0.0f : static_cast<float>(std::atan2(static_cast<double>(rim), rre));
        const float d = WrapPhaseDiff(phaseL, phaseR);
        float ratio = 0.0f;
        if (magL > 0.0f || magR > 0.0f) {
            ratio = magL > 0.0f ? magR / magL : kRatioCap;
            if (ratio > kRatioCap)
                ratio = kRatioCap;
            if (j < mCorrectionLimit) {
                float c = static_cast<float>(
                    std::fabs(std::sin(static_cast<double>(d)) * mCorrectionTable[u]) + 1.0);
                if (d > 0.0f)
                    c = 1.0f / c;
                ratio = c * ratio;
            }
        }
        const float depth = std::fabs(d);
        if (mVisualFeed && mSink)
            mSink->AddBin(j, depth, magR, magL, ratio);
        const bool inside = mLowBin <= j && j <= mHighBin && mPanLow <= ratio
            && ratio <= mPanHigh && mDepthLow <= depth && depth <= mDepthHigh;
        if (inside == mInverted) {
            sl[2 * u] = sl[2 * u + 1] = 0.0f;
            sr[2 * u] = sr[2 * u + 1] = 0.0f;
        }
    }
    std::fill(sl + n, sl + 2 * n, 0.0f);
    std::fill(sr + n, sr + 2 * n, 0.0f);
    mInverseFft.Transform(sl);
    mInverseFft.Transform(sr);

    const double gain = static_cast<double>(kSynthesisGain);
    for (int i = 0; i < n; ++i) {
        const auto u = static_cast<std::size_t>(i);
        const double w = mWindow[u];
        mOutRingL[u] = static_cast<float>(mOutRingL[u] + gain * sl[2 * u] * w / mOverlap);
        mOutRingR[u] = static_cast<float>(mOutRingR[u] + gain * sr[2 * u] * w / mOverlap);
    }
    const auto hop = static_cast<std::ptrdiff_t>(mHop);
    for (std::vector<float>* ring : {&mInRingL, &mInRingR, &mOutRingL, &mOutRingR})
        std::copy(ring->begin() + hop, ring->begin() + hop + n, ring->begin());
    mWritePos -= mHop;
    mReadPos -= mHop;
}

} // namespace varnel
