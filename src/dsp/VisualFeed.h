#pragma once

namespace varnel {

// Where a playing filter reports its analysis while its visual feed is on. The map of the
// window is the one real implementation; tests record the calls.
//
// Every call comes from the thread that runs the filter (the playback thread), inside
// CenterFocus::Process: implementations allocate nothing, lock nothing and never throw.
class VisualFeed
{
public:
    virtual ~VisualFeed() = default;

    // Once per analysis frame, before the frame's bins.
    virtual void NextFrame() noexcept = 0;

    // One analysed bin: depth in radians (0..pi), the right and left magnitudes of the
    // windowed unscaled forward transform, and the corrected pan ratio.
    virtual void AddBin(int bin, float depth, float magRight, float magLeft,
                        float ratio) noexcept = 0;

    // Bins 0..count-1 of one frame at once, in increasing order; the same effect as calling
    // AddBin for each. The filter uses this form so a frame costs one virtual call. sumMag is
    // |L + R| of each bin's two complex values, the mono magnitude AddBin derives from the
    // magnitudes and the depth: the filter has the bins at hand and gets it for an addition and
    // a square root, where the map would need a sine and a cosine per bin.
    virtual void AddBins(const float* depth, const float* magRight, const float* magLeft,
                         const float* ratio, const float* /*sumMag*/, int count) noexcept
    {
        for (int j = 0; j < count; ++j)
            AddBin(j, depth[j], magRight[j], magLeft[j], ratio[j]);
    }
};

} // namespace varnel
