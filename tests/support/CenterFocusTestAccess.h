#pragma once

// The separation filter's inner state, for tests only: the filter's header keeps none of it
// public. Any thread the filter's owner allows.

#include "dsp/BinDecision.h"
#include "dsp/Cntrfocus.h"

#include <cstddef>
#include <vector>

namespace varnel {

struct CenterFocusTestAccess
{
    static bool IsReady(const CenterFocus& f) { return f.mAllocated; }
    static float BinWidth(const CenterFocus& f) { return f.mBinWidth; }
    static int CorrectionLimit(const CenterFocus& f) { return f.mCorrectionLimit; }
    static int LowBin(const CenterFocus& f) { return f.mLowBin; }
    static int HighBin(const CenterFocus& f) { return f.mHighBin; }
    static float PanLow(const CenterFocus& f) { return f.mPanLow; }
    static float PanHigh(const CenterFocus& f) { return f.mPanHigh; }
    static float DepthLow(const CenterFocus& f) { return f.mDepthLow; }
    static float DepthHigh(const CenterFocus& f) { return f.mDepthHigh; }
    static bool Inverted(const CenterFocus& f) { return f.mInverted; }
    static bool VisualFeedOn(const CenterFocus& f) { return f.mVisualFeed; }
    static const std::vector<float>& CorrectionTable(const CenterFocus& f)
    {
        return f.mCorrectionTable;
    }
    static const std::vector<float>& Window(const CenterFocus& f) { return f.mWindow; }
    // The input history: the last N input samples of each channel, held twice in a ring of 2N
    // cells.
    static const std::vector<float>& InRingL(const CenterFocus& f) { return f.mInRingL; }
    static const std::vector<float>& InRingR(const CenterFocus& f) { return f.mInRingR; }
    // The soft cut's gains of a first frame (no smoothing history) whose bins are given:
    // bins 0..N/2-1 of each channel as complex floats, on the filter's code path.
    static std::vector<float> SoftGainsOf(CenterFocus& f, const std::vector<float>& binsL,
                                          const std::vector<float>& binsR)
    {
        f.mBinsL = binsL;
        f.mBinsR = binsR;
        f.mLastGains = CenterFocus::LastGains::None;
        f.SoftFrameGains(f.ActiveCodePath(), false);
        return f.mGain;
    }
    // Whether bin j (0..N/2-1) was kept in the last frame.
    static bool BinKept(const CenterFocus& f, int j)
    {
        if (j < 0 || static_cast<std::size_t>(j) >= f.mKeep.size())
            return false;
        return IsKept(f.mKeep[static_cast<std::size_t>(j)]);
    }
};

} // namespace varnel
