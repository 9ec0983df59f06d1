#pragma once

#include "dsp/FilterParams.h"

namespace varnel::test {

// An area with these bounds: pan ratios (right/left), Hz, radians.
inline FilterArea AreaOf(float panLow, float panHigh, float freqLowHz, float freqHighHz,
                         float depthLow, float depthHigh, bool inverted = false)
{
    FilterArea a;
    a.PanLow = panLow;
    a.PanHigh = panHigh;
    a.FreqLowHz = freqLowHz;
    a.FreqHighHz = freqHighHz;
    a.DepthLow = depthLow;
    a.DepthHigh = depthHigh;
    a.Inverted = inverted;
    return a;
}

} // namespace varnel::test
