#include "dsp/Cntrfocus.h"

#include "ReferenceFilter.h"
#include "support/AreaSupport.h"
#include "support/CenterFocusTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace varnel {
namespace {

using test::AreaOf;

constexpr double kInf = std::numeric_limits<double>::infinity();

// The gain of the soft cut written out from its definition, in double precision.
double Ramp(double x, double w)
{
    if (w == 0.0)
        return x >= 0.0 ? 1.0 : 0.0;
    if (x <= -w / 2)
        return 0.0;
    if (x >= w / 2)
        return 1.0;
    return 0.5 + 0.5 * std::sin(M_PI * x / w);
}

// One dimension: the rise at the low edge times the fall at the high edge, on the scale x()
// of the dimension; an open edge has no transition. With no width the edges are the hard
// cut's own, inclusive at both ends.
template <class Scale>
double Dimension(double v, double lo, double hi, bool loOpen, bool hiOpen, double w, Scale x)
{
    if (w == 0.0)
        return (loOpen || v >= lo) && (hiOpen || v <= hi) ? 1.0 : 0.0;
    const double rise = loOpen ? 1.0 : Ramp(x(v, lo), w);
    const double fall = hiOpen ? 1.0 : 1.0 - Ramp(x(v, hi), w);
    return rise * fall;
}

double ReferenceGain(const FilterArea& a, double ratio, double depth, int bin, double binWidth,
                     int sampleRate)
{
    const SoftCut& s = a.Soft;
    const auto db = [](double r, double edge) {
        return r > 0.0 ? 20.0 * std::log10(r / edge) : -kInf;
    };
    const auto linear = [](double d, double edge) { return d - edge; };
    const auto octaves = [](double f, double edge) {
        return f > 0.0 ? std::log2(f / edge) : -kInf;
    };
    const double gp = Dimension(ratio, a.PanLow, a.PanHigh, a.PanLow <= 0.0f, a.PanHigh >= 65535.0f,
                                s.FeatherPanDb, db);
    const double gd = Dimension(depth, a.DepthLow, a.DepthHigh, a.DepthLow <= 0.0f,
                                a.DepthHigh >= kPi, s.FeatherDepth, linear);
    double gf;
    if (s.FeatherFreq == 0.0f) {
        // The hard cut's bins: from trunc(low / width) to trunc(high / width).
        gf = bin >= static_cast<int>(a.FreqLowHz / binWidth) &&
                     bin <= static_cast<int>(a.FreqHighHz / binWidth)
                 ? 1.0
                 : 0.0;
    } else {
        gf = Dimension(bin * binWidth, a.FreqLowHz, a.FreqHighHz, a.FreqLowHz <= 0.0f,
                       a.FreqHighHz >= static_cast<float>(sampleRate / 2), s.FeatherFreq, octaves);
    }
    double g = gp * gd * gf;
    if (a.Inverted)
        g = 1.0 - g;
    const double floor = std::isinf(s.AttenuateDb) ? 0.0 : std::pow(10.0, -s.AttenuateDb / 20.0);
    return floor + (1.0 - floor) * g;
}

// Values of a dimension around its edges: the edges themselves shifted across the width (and
// a little beyond) in steps of a tenth, plus the given extra values.
std::vector<double> AroundEdges(std::initializer_list<double> edges, double w, bool logScale,
                                std::initializer_list<double> extra)
{
    std::vector<double> v(extra);
    for (double e : edges)
        for (int k = -7; k <= 7; ++k) {
            const double off = 0.1 * k * w + 0.013; // never exactly on an edge
            v.push_back(logScale ? e * std::pow(10.0, off / 20.0) : e + off);
        }
    return v;
}

TEST(SoftCut, GainFollowsItsDefinitionAroundEveryEdge)
{
    const int rate = 44100, n = 4096, half = n / 2;
    struct Case
    {
        std::string name;
        FilterArea area;
        SoftCut soft;
    };
    const auto soft = [](float pan, float depth, float freq, float att) {
        SoftCut s;
        s.FeatherPanDb = pan;
        s.FeatherDepth = depth;
        s.FeatherFreq = freq;
        s.AttenuateDb = att;
        return s;
    };
    const Case cases[] = {
        {"all edges soft, attenuated", AreaOf(0.5f, 2.0f, 300.0f, 3000.0f, 0.6f, 2.0f),
         soft(6.0f, 0.4f, 0.5f, 20.0f)},
        {"inverted, open edges", AreaOf(0.0f, 3.0f, 0.0f, 22050.0f, 0.3f, kPi, true),
         soft(3.0f, 0.2f, 1.0f, SoftCut::kNoAttenuation)},
        // The widest pan edge reaches the right-only bins' ratio from the open top edge.
        {"pan soft only", AreaOf(1.0f, 65535.0f, 500.0f, 5000.0f, 0.0f, 1.0f),
         soft(60.0f, 0.0f, 0.0f, 40.0f)},
        {"frequency and depth soft, inverted, depth from 0",
         AreaOf(0.2f, 4.0f, 100.0f, 8000.0f, 0.0f, 2.5f, true), soft(0.0f, 1.0f, 2.0f, 6.0f)},
    };
    std::vector<CodePath> paths = {CodePath::Plain};
    if (WidestCodePath() != CodePath::Plain)
        paths.push_back(CodePath::Avx2);
    if (WidestCodePath() == CodePath::Avx512)
        paths.push_back(CodePath::Avx512);
    for (const Case& c : cases) {
        FilterArea area = c.area;
        area.Soft = c.soft;
        const double panW = std::max(c.soft.FeatherPanDb, 1.0f);
        const double depthW = std::max(c.soft.FeatherDepth, 0.1f);
        const std::vector<double> ratios =
            AroundEdges({area.PanLow > 0 ? area.PanLow : 1.0, std::min(area.PanHigh, 1000.0f)},
                        panW, true, {0.0, 1e-6, 0.999, 32000.0});
        std::vector<double> depths =
            AroundEdges({area.DepthLow, std::min(area.DepthHigh, 3.0f)}, depthW, false, {0.0, 3.1});
        depths.erase(std::remove_if(depths.begin(), depths.end(),
                                    [](double d) { return d < 0.0 || d > 3.14; }),
                     depths.end());
        // Bin j holds ratio j mod R and depth (j / R) mod D, so every pair meets bins across
        // the frequency edges. The left channel has magnitude 1 (or 0 for a ratio of 32000:
        // right only); the right's phase lags by the depth.
        std::vector<float> binsL(n), binsR(n);
        std::vector<double> ratioOf(half), depthOf(half);
        for (int j = 0; j < half; ++j) {
            const double r = ratios[static_cast<std::size_t>(j) % ratios.size()];
            const double d = depths[static_cast<std::size_t>(j / 7) % depths.size()];
            const auto u = static_cast<std::size_t>(j);
            const bool rightOnly = r >= 32000.0;
            binsL[2 * u] = rightOnly ? 0.0f : 1.0f;
            binsR[2 * u] = static_cast<float>((rightOnly ? 1.0 : r) * std::cos(d));
            binsR[2 * u + 1] = static_cast<float>(-(rightOnly ? 1.0 : r) * std::sin(d));
            ratioOf[u] = r;
            depthOf[u] = r == 0.0 ? 0.0 : d; // a silent channel counts as phase 0
        }
        for (CodePath path : paths) {
            CenterFocus filter;
            filter.SetCodePath(path);
            ASSERT_TRUE(filter.Setup(n, 16, rate));
            // Widths changed on a running filter take effect: it starts from other ones.
            FilterArea before = area;
            before.Soft.FeatherFreq += 1.0f;
            filter.SetArea(before);
            CenterFocusTestAccess::SoftGainsOf(filter, binsL, binsR);
            filter.SetSoftCut(area.Soft);
            const std::vector<float> gains =
                CenterFocusTestAccess::SoftGainsOf(filter, binsL, binsR);
            const double binWidth = CenterFocusTestAccess::BinWidth(filter);
            const int limit = CenterFocusTestAccess::CorrectionLimit(filter);
            int compared = 0, transitions = 0;
            for (int j = limit; j < half; ++j) { // above the correction, the ratio is as built
                const auto u = static_cast<std::size_t>(j);
                const double want = ReferenceGain(area, ratioOf[u], depthOf[u], j, binWidth, rate);
                // Float bins and the vector paths' log, sine and arc tangent shift a gain by
                // a few parts in a million; a misplaced edge or a wrong slope by far more.
                EXPECT_NEAR(gains[u], want, 2e-5)
                    << c.name << ", path " << static_cast<int>(path) << ", bin " << j << ", ratio "
                    << ratioOf[u] << ", depth " << depthOf[u];
                ++compared;
                transitions += want > 0.01 && want < 0.99;
            }
            EXPECT_GT(transitions, 50) << c.name; // the grid really lies on the transitions
            EXPECT_GT(compared, 1500) << c.name;
        }
    }
}

// Edges where the transition has no room: a high edge at a ratio of 0 or at 0 Hz (-infinity
// on the scale, where a silent or left-only bin and bin 0 lie too) and a width too narrow for
// its reciprocal to be a float. They are steps at the hard cut's own edges, on every path.
TEST(SoftCut, EdgesWithoutRoomForATransitionAreTheHardCutsEdges)
{
    const int rate = 44100, n = 1024, half = n / 2;
    // Bins in turn silent, left only, centred (a ratio of exactly 1) and right-leaning.
    std::vector<float> binsL(n), binsR(n);
    for (int j = 0; j < half; ++j) {
        const auto u = static_cast<std::size_t>(j);
        const int kind = j % 4;
        binsL[2 * u] = kind == 0 ? 0.0f : 1.0f;
        binsR[2 * u] = kind == 0 || kind == 1 ? 0.0f : static_cast<float>(kind - 1);
    }
    struct Case
    {
        std::string name;
        FilterArea area;
        float panW, freqW;
    };
    const Case cases[] = {
        {"pan 0:0", AreaOf(0.0f, 0.0f, 0.0f, 22050.0f, 0.0f, kPi), 6.0f, 0.0f},
        {"frequency 0:0", AreaOf(0.0f, 65535.0f, 0.0f, 0.0f, 0.0f, kPi), 0.0f, 1.0f},
        {"inverted frequency 0:0", AreaOf(0.0f, 65535.0f, 0.0f, 0.0f, 0.0f, kPi, true), 0.0f, 2.0f},
        {"pan 1:max, a width of 1e-40 dB", AreaOf(1.0f, 65535.0f, 0.0f, 22050.0f, 0.0f, kPi),
         1e-40f, 0.0f},
    };
    std::vector<CodePath> paths = {CodePath::Plain};
    if (WidestCodePath() != CodePath::Plain)
        paths.push_back(WidestCodePath());
    for (const Case& c : cases)
        for (CodePath path : paths) {
            // The soft path with no width at all is the hard decision between the floor and 1.
            FilterArea area = c.area;
            area.Soft.AttenuateDb = 120.0f;
            CenterFocus hard;
            hard.SetCodePath(path);
            ASSERT_TRUE(hard.Setup(n, 8, rate));
            hard.SetArea(area);
            const std::vector<float> want = CenterFocusTestAccess::SoftGainsOf(hard, binsL, binsR);
            area.Soft.FeatherPanDb = c.panW;
            area.Soft.FeatherFreq = c.freqW;
            CenterFocus f;
            f.SetCodePath(path);
            ASSERT_TRUE(f.Setup(n, 8, rate));
            f.SetArea(area);
            const std::vector<float> got = CenterFocusTestAccess::SoftGainsOf(f, binsL, binsR);
            int kept = 0;
            for (int j = 0; j < half; ++j) {
                const auto u = static_cast<std::size_t>(j);
                EXPECT_EQ(got[u], want[u])
                    << c.name << ", path " << static_cast<int>(path) << ", bin " << j;
                kept += want[u] == 1.0f;
            }
            EXPECT_GT(kept, 0) << c.name; // the step keeps something
        }
}

struct Stereo
{
    std::vector<int32_t> L, R;
};

struct Stems
{
    std::vector<int16_t> Kept, Rest; // interleaved, clipped
};

int16_t Clip(int32_t v)
{
    return static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767));
}

Stems Filter(CenterFocus& f, const Stereo& in, bool rest, int block = 4410)
{
    const std::size_t total = in.L.size();
    std::vector<int32_t> l(total), r(total), rl(total), rr(total);
    for (std::size_t first = 0; first < total; first += static_cast<std::size_t>(block)) {
        const int count = static_cast<int>(std::min<std::size_t>(block, total - first));
        if (rest)
            f.Process(in.L.data() + first, in.R.data() + first, l.data() + first, r.data() + first,
                      rl.data() + first, rr.data() + first, count);
        else
            f.Process(in.L.data() + first, in.R.data() + first, l.data() + first, r.data() + first,
                      count);
    }
    Stems s;
    for (std::size_t i = 0; i < total; ++i) {
        s.Kept.push_back(Clip(l[i]));
        s.Kept.push_back(Clip(r[i]));
        s.Rest.push_back(Clip(rl[i]));
        s.Rest.push_back(Clip(rr[i]));
    }
    return s;
}

TEST(SoftCut, KeptAndRestAddUpToTheWidestArea)
{
    const int rate = 44100, n = 8192, overlap = 16;
    const test::MusicLike music = test::MakeMusicLike(rate * 4, rate, 5u);
    const Stereo in{music.L, music.R};
    const FilterArea startup = AreaOf(0.31623f, 3.1623f, 115.25f, 7796.37f, 0.0f, 1.5708f);
    struct Case
    {
        std::string name;
        FilterArea area;
        SoftCut soft;
    };
    SoftCut feathered;
    feathered.FeatherPanDb = 6.0f;
    feathered.FeatherDepth = 0.3f;
    feathered.FeatherFreq = 0.5f;
    feathered.SmoothMs = 40.0f;
    SoftCut attenuated;
    attenuated.AttenuateDb = 15.0f;
    attenuated.SmoothMs = 100.0f;
    FilterArea inverted = startup;
    inverted.Inverted = true;
    const Case cases[] = {
        {"hard cut", startup, SoftCut()},
        {"feathered and smoothed", startup, feathered},
        {"inverted, attenuated and smoothed", inverted, attenuated},
    };
    for (CodePath path : {CodePath::Plain, CodePath::Avx512}) {
        CenterFocus widest;
        widest.SetCodePath(path);
        ASSERT_TRUE(widest.Setup(n, overlap, rate));
        widest.SetArea(FilterArea::Widest(rate));
        const std::vector<int16_t> whole = Filter(widest, in, false).Kept;
        for (const Case& c : cases) {
            FilterArea area = c.area;
            area.Soft = c.soft;
            CenterFocus f;
            f.SetCodePath(path);
            ASSERT_TRUE(f.Setup(n, overlap, rate));
            ASSERT_TRUE(f.EnableRest());
            f.SetArea(area);
            const Stems stems = Filter(f, in, true);
            int worst = 0;
            double restEnergy = 0.0;
            for (std::size_t i = 0; i < whole.size(); ++i) {
                worst = std::max(worst, std::abs(stems.Kept[i] + stems.Rest[i] - whole[i]));
                restEnergy += static_cast<double>(stems.Rest[i]) * stems.Rest[i];
            }
            // Each stem is truncated to an integer on its own, so the sum may miss the whole
            // by one step from each (and the vector paths' fused sums round once more).
            EXPECT_LE(worst, 2) << c.name << ", path " << static_cast<int>(path);
            EXPECT_GT(restEnergy, 1e6 * static_cast<double>(whole.size())) << c.name;

            // Asking for the rest changes nothing in the kept stem.
            CenterFocus alone;
            alone.SetCodePath(path);
            ASSERT_TRUE(alone.Setup(n, overlap, rate));
            alone.SetArea(area);
            EXPECT_TRUE(Filter(alone, in, false).Kept == stems.Kept) << c.name;
        }
    }
}

Stereo Tone(int samples, double hz, int rate, double ampL, double ampR)
{
    Stereo s{std::vector<int32_t>(static_cast<std::size_t>(samples)),
             std::vector<int32_t>(static_cast<std::size_t>(samples))};
    for (int i = 0; i < samples; ++i) {
        const double v = std::sin(2.0 * M_PI * hz * i / rate);
        s.L[static_cast<std::size_t>(i)] = static_cast<int32_t>(ampL * v);
        s.R[static_cast<std::size_t>(i)] = static_cast<int32_t>(ampR * v);
    }
    return s;
}

double Rms(const std::vector<int16_t>& v, std::size_t from, std::size_t to) // interleaved
{
    double sum = 0.0;
    for (std::size_t i = 2 * from; i < 2 * to; ++i)
        sum += static_cast<double>(v[i]) * v[i];
    return std::sqrt(sum / static_cast<double>(2 * (to - from)));
}

TEST(SoftCut, AttenuationLowersWhatTheAreaRemovesByItsDecibels)
{
    const int rate = 44100, n = 8192, overlap = 16, samples = rate * 2;
    // A centred tone at 2 kHz, outside each area below in one dimension.
    const Stereo tone = Tone(samples, 2000.0, rate, 12000.0, 12000.0);
    struct Case
    {
        std::string name;
        FilterArea area;
        float db;
    };
    const Case cases[] = {
        {"outside in pan", AreaOf(2.0f, 65535.0f, 0.0f, 22050.0f, 0.0f, kPi), 20.0f},
        {"outside in frequency", AreaOf(0.0f, 65535.0f, 3000.0f, 22050.0f, 0.0f, kPi), 20.0f},
        {"inside an inverted area", AreaOf(0.5f, 2.0f, 1000.0f, 4000.0f, 0.0f, 1.0f, true), 20.0f},
        {"outside in depth, 6 dB", AreaOf(0.0f, 65535.0f, 0.0f, 22050.0f, 1.0f, kPi), 6.0f},
        {"outside in pan, 45 dB", AreaOf(2.0f, 65535.0f, 0.0f, 22050.0f, 0.0f, kPi), 45.0f},
    };
    CenterFocus widest;
    ASSERT_TRUE(widest.Setup(n, overlap, rate));
    widest.SetArea(FilterArea::Widest(rate));
    const std::vector<int16_t> reference = Filter(widest, tone, false).Kept;
    const std::size_t from = n, to = samples; // past the latency and the first frames
    const double level = Rms(reference, from, to);
    for (const Case& c : cases) {
        FilterArea area = c.area;
        area.Soft.AttenuateDb = c.db;
        CenterFocus f;
        ASSERT_TRUE(f.Setup(n, overlap, rate));
        f.SetArea(area);
        const double got = 20.0 * std::log10(Rms(Filter(f, tone, false).Kept, from, to) / level);
        // The truncation of each sample to an integer weighs little at these levels (45 dB
        // down is still about 65 steps).
        EXPECT_NEAR(got, -c.db, 0.5) << c.name;
        // Without attenuation the tone is gone but for the far sidelobes of its window
        // that fall outside a frequency band (more than 60 dB down).
        f.SetSoftCut(SoftCut());
        f.ResetStream();
        EXPECT_LT(Rms(Filter(f, tone, false).Kept, from, to), level * 1e-3) << c.name;
    }
}

TEST(SoftCut, SmoothingLeavesASteadyToneAndSmearsAGatedOneByItsTimeConstant)
{
    // At 32 kHz a frame is 4096 samples and the hop at overlap 16 is 256, so a time constant
    // of 160 ms is 5120 samples: 20 hops exactly.
    const int rate = 32000, n = 4096, overlap = 16, hop = n / overlap;
    const float tauMs = 160.0f;
    const int tau = 5120, samples = rate * 3;
    // The left channel plays a steady 2 kHz tone throughout. The right channel copies it
    // (centred: inside the area) until gateAt, then falls silent (left only: outside).
    const int gateAt = 40 * hop + 17;
    Stereo gated = Tone(samples, 2000.0, rate, 10000.0, 10000.0);
    std::fill(gated.R.begin() + gateAt, gated.R.end(), 0);
    const Stereo steady = Tone(samples, 2000.0, rate, 10000.0, 10000.0);
    const FilterArea area = AreaOf(0.5f, 2.0f, 0.0f, 16000.0f, 0.0f, kPi);

    // Each path keeps its own smoothing state (the plain one is what machines without vector
    // units run).
    for (CodePath path : {CodePath::Plain, WidestCodePath()}) {
        const auto filtered = [&](const Stereo& in, float smoothMs) {
            FilterArea a = area;
            a.Soft.SmoothMs = smoothMs;
            CenterFocus f;
            f.SetCodePath(path);
            EXPECT_TRUE(f.Setup(n, overlap, rate));
            f.SetArea(a);
            return Filter(f, in, false).Kept;
        };
        // A steady tone keeps its gain from frame to frame: smoothing changes no sample.
        EXPECT_TRUE(filtered(steady, tauMs) == filtered(steady, 0.0f)) << static_cast<int>(path);

        // After the gate, once no frame holds the centred part any more, the hard cut is silent
        // and the smoothed gain falls by e every time constant.
        const std::vector<int16_t> hard = filtered(gated, 0.0f);
        const std::vector<int16_t> smooth = filtered(gated, tauMs);
        const std::size_t settled = static_cast<std::size_t>(gateAt + 2 * n); // latency + a frame
        const auto window = static_cast<std::size_t>(4 * hop);
        EXPECT_LT(Rms(hard, settled, settled + window), 1.0);
        const double a = Rms(smooth, settled, settled + window);
        const double b = Rms(smooth, settled + tau, settled + tau + window);
        const double c = Rms(smooth, settled + 2 * tau, settled + 2 * tau + window);
        EXPECT_GT(a, 300.0); // still well above the hard cut's silence
        // Every frame in both windows carries the same tone with a gain that has fallen by the
        // same factor, so the ratio is exp(-1) to the truncation of the samples (about 0.1%).
        EXPECT_NEAR(20.0 * std::log10(b / a), -20.0 / std::log(10.0), 0.2);
        EXPECT_NEAR(20.0 * std::log10(c / b), -20.0 / std::log(10.0), 0.2);
    }
}

} // namespace
} // namespace varnel
