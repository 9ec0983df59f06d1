#include "dsp/BinDecision.h"

#include "dsp/FilterParams.h"

#include <algorithm>
#include <cmath>

namespace varnel {

namespace {

float WrapPhaseDiff(float phaseL, float phaseR) noexcept
{
    float d = phaseL - phaseR;
    if (d > kPi)
        d = d - 2.0f * kPi;
    if (d < -kPi)
        d = d + 2.0f * kPi;
    return d;
}

} // namespace

BinDecision MakeBinDecision(int lowBin, int highBin, int correctionLimit, float panLow,
                            float panHigh, float depthLow, float depthHigh, bool inverted) noexcept
{
    BinDecision d{};
    d.LowBin = lowBin;
    d.HighBin = highBin;
    d.CorrectionLimit = correctionLimit;
    d.PanLow = panLow;
    d.PanHigh = panHigh;
    d.Inverted = inverted;
    d.DepthLow = depthLow;
    d.DepthHigh = depthHigh;
    // A bin's depth, formed from float phases, never exceeds the float pi, so a high bound at
    // or above it passes every bin and a low bound at or below 0 does too. NaN bounds pass
    // nothing, as in a plain comparison.
    const float high = depthHigh, low = depthLow;
    d.HighAll = high >= kPi;
    d.HighNone = !(high >= 0.0f);
    d.HighZero = high == 0.0f;
    d.LowAll = low <= 0.0f;
    d.LowNone = !(low <= kPi);
    d.SinHigh = static_cast<float>(std::sin(static_cast<double>(high)));
    d.CosHigh = static_cast<float>(std::cos(static_cast<double>(high)));
    d.SinLow = static_cast<float>(std::sin(static_cast<double>(low)));
    d.CosLow = static_cast<float>(std::cos(static_cast<double>(low)));
    return d;
}

namespace bins {

// The literal bin analysis, with double atan2 phases, for bins the fast path leaves out.
void AnalyseExact(const BinDecision& d, const BinFrame& frame, const BinFeed& feed, int j) noexcept
{
    const auto u = static_cast<std::size_t>(j);
    const float lr = frame.BinsL[2 * u], li = frame.BinsL[2 * u + 1];
    const float rr = frame.BinsR[2 * u], ri = frame.BinsR[2 * u + 1];
    const auto magL =
        static_cast<float>(std::sqrt(static_cast<double>(lr) * lr + static_cast<double>(li) * li));
    const auto magR =
        static_cast<float>(std::sqrt(static_cast<double>(rr) * rr + static_cast<double>(ri) * ri));
    const float phaseL =
        (lr == 0.0f && li == 0.0f)
            ? 0.0f
            : static_cast<float>(std::atan2(static_cast<double>(li), static_cast<double>(lr)));
    const float phaseR =
        (rr == 0.0f && ri == 0.0f)
            ? 0.0f
            : static_cast<float>(std::atan2(static_cast<double>(ri), static_cast<double>(rr)));
    const float diff = WrapPhaseDiff(phaseL, phaseR);
    float ratio = 0.0f;
    if (magL > 0.0f || magR > 0.0f) {
        ratio = magL > 0.0f ? magR / magL : kRatioCap;
        if (ratio > kRatioCap)
            ratio = kRatioCap;
        if (j < d.CorrectionLimit) {
            auto c = static_cast<float>(
                std::fabs(std::sin(static_cast<double>(diff)) * frame.Correction[u]) + 1.0);
            if (diff > 0.0f)
                c = 1.0f / c;
            ratio = c * ratio;
        }
    }
    const float depth = std::fabs(diff);
    if (feed.Depth != nullptr) {
        feed.Depth[u] = depth;
        feed.MagR[u] = magR;
        feed.MagL[u] = magL;
        feed.Ratio[u] = ratio;
        const double sr = static_cast<double>(lr) + rr, si = static_cast<double>(li) + ri;
        feed.SumMag[u] = static_cast<float>(std::sqrt(sr * sr + si * si));
    }
    const bool depthOk = d.DepthLow <= depth && depth <= d.DepthHigh;
    frame.Keep[u] = KeptMask(KeepBin(d, j, ratio, depthOk));
}

// The bin analysis without phases: P = L conj(R) carries the phase difference d (a channel
// that is exactly zero counts as phase 0, so it is replaced by 1), |Im P| / |P| = |sin d| and
// the sign of Im P is the sign of d.
void AnalysePlain(const BinDecision& d, const BinFrame& frame, const BinFeed& feed) noexcept
{
    for (int j = 0; j < frame.Half; ++j) {
        const auto u = static_cast<std::size_t>(j);
        float lr = frame.BinsL[2 * u], li = frame.BinsL[2 * u + 1];
        float rr = frame.BinsR[2 * u], ri = frame.BinsR[2 * u + 1];
        if (IsRareBin(lr, li, rr, ri)) {
            AnalyseExact(d, frame, feed, j);
            continue;
        }
        const float powL = lr * lr + li * li;
        const float powR = rr * rr + ri * ri;
        const bool zeroL = lr == 0.0f && li == 0.0f;
        const bool zeroR = rr == 0.0f && ri == 0.0f;
        const float magL = std::sqrt(powL);
        const float magR = std::sqrt(powR);
        if (feed.Depth != nullptr) {
            const float sr = lr + rr, si = li + ri;
            feed.SumMag[u] = std::sqrt(sr * sr + si * si);
        }
        float ratio = 0.0f;
        if (!zeroL)
            ratio = std::min(magR / magL, kRatioCap);
        else if (!zeroR)
            ratio = kRatioCap;
        if (zeroL) {
            lr = 1.0f;
            li = 0.0f;
        }
        if (zeroR) {
            rr = 1.0f;
            ri = 0.0f;
        }
        const float pre = lr * rr + li * ri;
        const float lirr = li * rr, lrri = lr * ri;
        const float pim = lirr - lrri;
        const float absPim = std::fabs(pim);
        if (j < d.CorrectionLimit) {
            const float magP = (zeroL ? 1.0f : magL) * (zeroR ? 1.0f : magR);
            float c = std::fabs(pim / magP * frame.Correction[u]) + 1.0f;
            if (pim > 0.0f)
                c = 1.0f / c;
            ratio = c * ratio;
        }
        bool depthOk = true;
        if (!d.HighAll) {
            if (d.HighNone)
                depthOk = false;
            else if (d.HighZero)
                depthOk = pim == 0.0f && pre > 0.0f;
            else
                depthOk = d.SinHigh * pre - d.CosHigh * absPim >= 0.0f;
        }
        if (!d.LowAll)
            depthOk = depthOk && !d.LowNone && d.SinLow * pre - d.CosLow * absPim <= 0.0f;
        if (feed.Depth != nullptr) {
            feed.Depth[u] = static_cast<float>(
                std::atan2(static_cast<double>(absPim), static_cast<double>(pre)));
            feed.MagR[u] = magR;
            feed.MagL[u] = magL;
            feed.Ratio[u] = ratio;
        }
        frame.Keep[u] = KeptMask(KeepBin(d, j, ratio, depthOk));
    }
}

} // namespace bins

void AnalyseBins(CodePath path, const BinDecision& d, const BinFrame& frame,
                 const BinFeed& feed) noexcept
{
    int rare = 0;
    switch (path) {
    case CodePath::Avx512: rare = bins::AnalyseAvx512(d, frame, feed); break;
    case CodePath::Avx2: rare = bins::AnalyseAvx2(d, frame, feed); break;
    case CodePath::Plain: bins::AnalysePlain(d, frame, feed); return;
    }
    if (rare == 0)
        return;
    // The vector passes leave bins they cannot take to the exact path.
    for (int j = 0; j < frame.Half; ++j) {
        const auto u = static_cast<std::size_t>(j);
        if (IsRareBin(frame.BinsL[2 * u], frame.BinsL[2 * u + 1], frame.BinsR[2 * u],
                      frame.BinsR[2 * u + 1]))
            bins::AnalyseExact(d, frame, feed, j);
    }
}

} // namespace varnel
