#include "ReferenceFilter.h"

#include <algorithm>
#include <cmath>

namespace varnel::test {

bool ReferenceFilter::Setup(int frameSize, int overlap, int sampleRate)
{
    mN = frameSize;
    mOverlap = overlap;
    mHop = frameSize / overlap;
    mBinWidth = static_cast<float>(sampleRate) / static_cast<float>(frameSize);
    mLowBin = 0;
    mHighBin = frameSize / 2 - 1;
    mReadPos = 0;
    mWritePos = mN - mHop;
    mFrames = 0;
    if (!mForward.Setup(mN, true) || !mInverse.Setup(mN, false))
        return false;
    const auto n = static_cast<std::size_t>(mN);
    mSpecL.assign(2 * n, 0.0f);
    mSpecR.assign(2 * n, 0.0f);
    for (auto* ring : {&mInL, &mInR, &mOutL, &mOutR})
        ring->assign(n + static_cast<std::size_t>(mHop), 0.0f);
    mCorrection.assign(n / 2, 0.0f);
    mWindow.assign(n, 0.0f);
    mKeep.assign(n / 2, 0);
    mAnalysis.assign(n / 2, BinAnalysis{});
    mCorrectionLimit = mN / 2;
    for (int i = 0; i < mN / 2; ++i) {
        float t = 1.4f;
        if (i > 0)
            t = static_cast<float>(
                (std::log10(1300.0) - std::log10(static_cast<double>(i) * mBinWidth)) * 1.2);
        if (t <= 0.0f) {
            mCorrectionLimit = i;
            break;
        }
        mCorrection[static_cast<std::size_t>(i)] = static_cast<double>(t) > 1.4 ? 1.4f : t;
    }
    for (int i = 0; i < mN; ++i)
        mWindow[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 - 0.5 * std::cos(2.0 * static_cast<double>(kPi) * i / mN));
    return true;
}

void ReferenceFilter::SetArea(const FilterArea& area)
{
    mPanLow = area.PanLow;
    mPanHigh = area.PanHigh;
    mLowBin = static_cast<int>(area.FreqLowHz / mBinWidth);
    mHighBin = static_cast<int>(area.FreqHighHz / mBinWidth);
    mDepthLow = area.DepthLow;
    mDepthHigh = area.DepthHigh;
    mInverted = area.Inverted;
}

void ReferenceFilter::Process(const int32_t* inL, const int32_t* inR, int32_t* outL, int32_t* outR,
                              int count)
{
    for (int i = 0; i < count; ++i) {
        const auto w = static_cast<std::size_t>(mWritePos), r = static_cast<std::size_t>(mReadPos);
        mInL[w] = static_cast<float>(inL[i]);
        mInR[w] = static_cast<float>(inR[i]);
        outL[i] = static_cast<int32_t>(mOutL[r]);
        outR[i] = static_cast<int32_t>(mOutR[r]);
        ++mWritePos;
        ++mReadPos;
        if (mWritePos >= mN)
            FrameStep();
    }
}

void ReferenceFilter::FrameStep()
{
    const auto n = static_cast<std::size_t>(mN);
    for (std::size_t i = 0; i < n; ++i) {
        mSpecL[2 * i] = mInL[i] * mWindow[i];
        mSpecL[2 * i + 1] = 0.0f;
        mSpecR[2 * i] = mInR[i] * mWindow[i];
        mSpecR[2 * i + 1] = 0.0f;
    }
    mForward.Transform(mSpecL.data());
    mForward.Transform(mSpecR.data());
    for (std::size_t j = 0; j < n / 2; ++j) {
        const float lr = mSpecL[2 * j], li = mSpecL[2 * j + 1];
        const float rr = mSpecR[2 * j], ri = mSpecR[2 * j + 1];
        const auto magL = static_cast<float>(
            std::sqrt(static_cast<double>(lr) * lr + static_cast<double>(li) * li));
        const auto magR = static_cast<float>(
            std::sqrt(static_cast<double>(rr) * rr + static_cast<double>(ri) * ri));
        const float phaseL =
            (lr == 0.0f && li == 0.0f)
                ? 0.0f
                : static_cast<float>(std::atan2(static_cast<double>(li), static_cast<double>(lr)));
        const float phaseR =
            (rr == 0.0f && ri == 0.0f)
                ? 0.0f
                : static_cast<float>(std::atan2(static_cast<double>(ri), static_cast<double>(rr)));
        float d = phaseL - phaseR;
        if (d > kPi)
            d = d - 2.0f * kPi;
        if (d < -kPi)
            d = d + 2.0f * kPi;
        float ratio = 0.0f;
        if (magL > 0.0f || magR > 0.0f) {
            ratio = magL > 0.0f ? magR / magL : 32000.0f;
            if (ratio > 32000.0f)
                ratio = 32000.0f;
            if (static_cast<int>(j) < mCorrectionLimit) {
                auto c = static_cast<float>(std::fabs(std::sin(static_cast<double>(d)) *
                                                      static_cast<double>(mCorrection[j])) +
                                            1.0);
                if (d > 0.0f)
                    c = 1.0f / c;
                ratio = c * ratio;
            }
        }
        const float depth = std::fabs(d);
        mAnalysis[j] = BinAnalysis{depth, magR, magL, ratio};
        const int bin = static_cast<int>(j);
        const bool inside = mLowBin <= bin && bin <= mHighBin && mPanLow <= ratio &&
                            ratio <= mPanHigh && mDepthLow <= depth && depth <= mDepthHigh;
        const bool keep = inside != mInverted;
        mKeep[j] = keep ? 1 : 0;
        if (!keep) {
            mSpecL[2 * j] = mSpecL[2 * j + 1] = 0.0f;
            mSpecR[2 * j] = mSpecR[2 * j + 1] = 0.0f;
        }
    }
    std::fill(mSpecL.begin() + static_cast<std::ptrdiff_t>(n), mSpecL.end(), 0.0f);
    std::fill(mSpecR.begin() + static_cast<std::ptrdiff_t>(n), mSpecR.end(), 0.0f);
    mInverse.Transform(mSpecL.data());
    mInverse.Transform(mSpecR.data());
    for (std::size_t i = 0; i < n; ++i) {
        const double w = static_cast<double>(5.33333f) * static_cast<double>(mWindow[i]) / mOverlap;
        mOutL[i] = static_cast<float>(mOutL[i] + static_cast<double>(mSpecL[2 * i]) * w);
        mOutR[i] = static_cast<float>(mOutR[i] + static_cast<double>(mSpecR[2 * i]) * w);
    }
    const auto hop = static_cast<std::ptrdiff_t>(mHop);
    for (auto* ring : {&mInL, &mInR, &mOutL, &mOutR})
        std::copy(ring->begin() + hop, ring->begin() + hop + static_cast<std::ptrdiff_t>(n),
                  ring->begin());
    mWritePos -= mHop;
    mReadPos -= mHop;
    ++mFrames;
}

MusicLike MakeMusicLike(int samples, int sampleRate, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uni(0.0, 1.0);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const auto count = static_cast<std::size_t>(samples);
    std::vector<double> l(count, 0.0), r(count, 0.0);
    const double rate = sampleRate;

    // Harmonic voices: a fundamental, 12 partials falling off, a pan gain pair, an inter-channel
    // delay (the depth), a slow vibrato and note changes every so often.
    for (int voice = 0; voice < 10; ++voice) {
        const double pan = voice == 0 ? 0.5 : uni(rng); // 0 left .. 1 right; voice 0 centred
        const double gainL = std::cos(pan * M_PI / 2), gainR = std::sin(pan * M_PI / 2);
        const double delay = voice == 0 ? 0.0 : (uni(rng) - 0.5) * 0.002 * rate; // +-1 ms
        const double level = 2500.0 * std::pow(0.7, voice);
        double f0 = 60.0 * std::pow(2.0, uni(rng) * 4.0);
        const int noteLength = static_cast<int>(rate * (0.2 + uni(rng) * 0.6));
        double phase = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            if (i % static_cast<std::size_t>(noteLength) == 0)
                f0 = 60.0 * std::pow(2.0, uni(rng) * 4.0);
            const double t = static_cast<double>(i) / rate;
            phase += 2.0 * M_PI * f0 * (1.0 + 0.003 * std::sin(2.0 * M_PI * 5.0 * t)) / rate;
            double vl = 0.0, vr = 0.0;
            for (int h = 1; h <= 12; ++h) {
                if (f0 * h > rate / 2)
                    break;
                const double a = level / h;
                const double lag = 2.0 * M_PI * f0 * h * delay / rate;
                vl += a * std::sin(h * phase);
                vr += a * std::sin(h * phase - lag);
            }
            l[i] += gainL * vl;
            r[i] += gainR * vr;
        }
    }
    // Wide noise, partly correlated between the channels, about 50 dB below the voices.
    for (std::size_t i = 0; i < count; ++i) {
        const double common = gauss(rng) * 8.0;
        l[i] += common + gauss(rng) * 6.0;
        r[i] += common + gauss(rng) * 6.0;
    }
    // Clicks: decaying bursts at random pans.
    for (std::size_t start = 0; start + 2000 < count;
         start += static_cast<std::size_t>(rate * 0.37)) {
        const double pan = uni(rng);
        for (std::size_t k = 0; k < 2000; ++k) {
            const double v = gauss(rng) * 3000.0 * std::exp(-static_cast<double>(k) / 300.0);
            l[start + k] += v * (1.0 - pan);
            r[start + k] += v * pan;
        }
    }
    MusicLike out{std::vector<int32_t>(count), std::vector<int32_t>(count)};
    for (std::size_t i = 0; i < count; ++i) {
        out.L[i] = static_cast<int32_t>(std::clamp(l[i], -32768.0, 32767.0));
        out.R[i] = static_cast<int32_t>(std::clamp(r[i], -32768.0, 32767.0));
    }
    // Stretches where many bins sit exactly on a value an area bound may take: the right
    // channel a copy of the left (ratio 1, depth 0), silent (ratio 0), or inverted (depth pi).
    const std::size_t stretch = count / 10;
    for (std::size_t i = 2 * stretch; i < 3 * stretch; ++i)
        out.R[i] = out.L[i];
    for (std::size_t i = 5 * stretch; i < 6 * stretch; ++i)
        out.R[i] = 0;
    for (std::size_t i = 8 * stretch; i < 9 * stretch; ++i)
        out.R[i] = -std::max(out.L[i], -32767);
    return out;
}

} // namespace varnel::test
