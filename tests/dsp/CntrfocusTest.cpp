#include "dsp/Cntrfocus.h"
#include "dsp/VisualFeed.h"

#include "ReferenceFilter.h"
#include "support/CenterFocusTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace varnel {
namespace {

using test::MakeMusicLike;
using test::MusicLike;
using test::ReferenceFilter;

struct Stereo
{
    std::vector<int32_t> L, R;
};

Stereo RunFilter(CenterFocus& filter, const Stereo& in, int block = 1000)
{
    Stereo out{std::vector<int32_t>(in.L.size()), std::vector<int32_t>(in.R.size())};
    const int total = static_cast<int>(in.L.size());
    for (int first = 0; first < total; first += block) {
        const int count = std::min(block, total - first);
        const auto f = static_cast<std::size_t>(first);
        filter.Process(in.L.data() + f, in.R.data() + f, out.L.data() + f, out.R.data() + f, count);
    }
    return out;
}

Stereo Sine(int samples, double hz, double rate, double ampL, double ampR)
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

double Rms(const std::vector<int32_t>& v, std::size_t from, std::size_t to)
{
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += static_cast<double>(v[i]) * v[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

// Records what the filter reports through the visual feed, for the last frame.
class RecordingFeed : public VisualFeed
{
public:
    void NextFrame() noexcept override { ++Frames; }
    void AddBin(int, float, float, float, float) noexcept override { ++SingleCalls; }
    void AddBins(const float* depth, const float* magRight, const float* magLeft,
                 const float* ratio, const float* sumMag, int count) noexcept override
    {
        Depth.assign(depth, depth + count);
        MagRight.assign(magRight, magRight + count);
        MagLeft.assign(magLeft, magLeft + count);
        Ratio.assign(ratio, ratio + count);
        SumMag.assign(sumMag, sumMag + count);
        ++BinCalls;
    }
    int Frames = 0, BinCalls = 0, SingleCalls = 0;
    std::vector<float> Depth, MagRight, MagLeft, Ratio, SumMag;
};

TEST(CenterFocus, WorkedSetupValues)
{
    struct Case
    {
        int rate;
        float binWidth;
        int fullCorrectionBins; // bins 0..n-1 get the full 1.4
        int correctionLimit;
    };
    for (const Case& c : {Case{44100, 5.3833008f, 17, 242}, Case{48000, 5.859375f, 16, 222}}) {
        CenterFocus filter;
        ASSERT_TRUE(filter.Setup(8192, 16, c.rate));
        EXPECT_FLOAT_EQ(CenterFocusTestAccess::BinWidth(filter), c.binWidth) << c.rate;
        EXPECT_EQ(CenterFocusTestAccess::CorrectionLimit(filter), c.correctionLimit) << c.rate;
        const std::vector<float>& table = CenterFocusTestAccess::CorrectionTable(filter);
        for (int i = 0; i < c.fullCorrectionBins; ++i)
            EXPECT_EQ(table[static_cast<std::size_t>(i)], 1.4f) << c.rate << " bin " << i;
        EXPECT_LT(table[static_cast<std::size_t>(c.fullCorrectionBins)], 1.4f) << c.rate;
        EXPECT_GT(table[static_cast<std::size_t>(c.correctionLimit - 1)], 0.0f) << c.rate;
        EXPECT_EQ(filter.Latency(), 8192 - 512);
        // A fresh filter: pan exactly 1..1, every bin, depth 0..pi, not inverted, no feed.
        EXPECT_EQ(CenterFocusTestAccess::PanLow(filter), 1.0f);
        EXPECT_EQ(CenterFocusTestAccess::PanHigh(filter), 1.0f);
        EXPECT_EQ(CenterFocusTestAccess::LowBin(filter), 0);
        EXPECT_EQ(CenterFocusTestAccess::HighBin(filter), 4095);
        EXPECT_EQ(CenterFocusTestAccess::DepthLow(filter), 0.0f);
        EXPECT_EQ(CenterFocusTestAccess::DepthHigh(filter), kPi);
        EXPECT_FALSE(CenterFocusTestAccess::Inverted(filter));
        EXPECT_FALSE(CenterFocusTestAccess::VisualFeedOn(filter));
        // Periodic Hann window: divisor N, so w[N/2] is exactly 1 and w[0] is 0.
        EXPECT_EQ(CenterFocusTestAccess::Window(filter)[0], 0.0f);
        EXPECT_EQ(CenterFocusTestAccess::Window(filter)[4096], 1.0f);
    }
}

TEST(CenterFocus, RatesTooLowToReach1300HzCorrectEveryBin)
{
    CenterFocus filter;
    ASSERT_TRUE(filter.Setup(512, 4, 2000));
    EXPECT_EQ(CenterFocusTestAccess::CorrectionLimit(filter), 256);
    EXPECT_GT(CenterFocusTestAccess::CorrectionTable(filter)[255], 0.0f);
}

TEST(CenterFocus, RefusesUnusableSizesAndThenWritesSilence)
{
    struct Case
    {
        int n, overlap, rate;
    };
    for (const Case& c : {Case{8191, 16, 44100}, Case{2, 1, 44100}, Case{0, 1, 44100},
                          Case{8192, 0, 44100}, Case{8192, 3, 44100}, Case{8192, 16, 0}}) {
        CenterFocus filter;
        EXPECT_FALSE(filter.Setup(c.n, c.overlap, c.rate)) << c.n << "/" << c.overlap;
        EXPECT_FALSE(CenterFocusTestAccess::IsReady(filter));
        std::vector<int32_t> in(100, 1000), outL(100, 7), outR(100, 7);
        filter.Process(in.data(), in.data(), outL.data(), outR.data(), 100);
        for (std::size_t i = 0; i < outL.size(); ++i) {
            ASSERT_EQ(outL[i], 0);
            ASSERT_EQ(outR[i], 0);
        }
    }
}

TEST(CenterFocus, SilenceGivesExactZeros)
{
    CenterFocus filter;
    ASSERT_TRUE(filter.Setup(1024, 8, 44100));
    filter.SetArea(FilterArea::Widest(44100));
    filter.SetPanRange(0.0f, 0.0f); // silent bins have ratio 0 and depth 0: all kept
    filter.SetDepthRange(0.0f, 0.0f);
    const Stereo in{std::vector<int32_t>(5000, 0), std::vector<int32_t>(5000, 0)};
    const Stereo out = RunFilter(filter, in, 333);
    for (std::size_t i = 0; i < out.L.size(); ++i) {
        ASSERT_EQ(out.L[i], 0);
        ASSERT_EQ(out.R[i], 0);
    }
    for (int j = 0; j < 512; ++j)
        ASSERT_TRUE(CenterFocusTestAccess::BinKept(filter, j)) << j;
}

// Gain per position within a hop of a centre sine through the widest area, fitted over many
// periods: out(t) = g(t mod hop) * in(t - latency).
std::vector<double> GainPerHopPosition(int overlap)
{
    const int rate = 44100, n = 8192;
    CenterFocus filter;
    EXPECT_TRUE(filter.Setup(n, overlap, rate));
    filter.SetArea(FilterArea::Widest(rate));
    const int hop = n / overlap, latency = filter.Latency();
    const Stereo in = Sine(16 * n, 997.0, rate, 20000.0, 20000.0);
    const Stereo out = RunFilter(filter, in, 777);
    std::vector<double> num(static_cast<std::size_t>(hop), 0.0), den(num.size(), 0.0);
    for (int t = latency + 2 * n; t < static_cast<int>(in.L.size()); ++t) {
        const auto p = static_cast<std::size_t>(t % hop);
        const double x = in.L[static_cast<std::size_t>(t - latency)];
        num[p] += out.L[static_cast<std::size_t>(t)] * x;
        den[p] += x * x;
    }
    std::vector<double> gain(num.size());
    for (std::size_t p = 0; p < gain.size(); ++p)
        gain[p] = num[p] / den[p];
    return gain;
}

TEST(CenterFocus, CentreSineAtWidestAreaComesOutDelayedAtItsLevel)
{
    const int rate = 44100, n = 8192;
    for (int overlap : {16, 32}) {
        CenterFocus filter;
        ASSERT_TRUE(filter.Setup(n, overlap, rate));
        filter.SetArea(FilterArea::Widest(rate));
        EXPECT_EQ(filter.Latency(), n - n / overlap);
        const Stereo in = Sine(8 * n, 1000.0, rate, 20000.0, 20000.0);
        const Stereo out = RunFilter(filter, in);
        const int latency = filter.Latency();
        for (int t = latency + 2 * n; t < static_cast<int>(in.L.size()); ++t) {
            const auto u = static_cast<std::size_t>(t);
            const double want = in.L[u - static_cast<std::size_t>(latency)];
            // 0.1% of the level, plus one step for the truncation to integers.
            ASSERT_NEAR(out.L[u], want, 20.0 + 1.0) << t;
            ASSERT_NEAR(out.R[u], want, 20.0 + 1.0) << t;
        }
    }
}

TEST(CenterFocus, GainRipplesWithPeriodHopAtLowOverlap)
{
    struct Case
    {
        int overlap;
        double low, high;
    };
    // The extremes are "about" these values; the fit itself is good to ~1e-4.
    for (const Case& c : {Case{8, 0.993, 1.0}, Case{4, 0.83, 1.0}}) {
        const std::vector<double> gain = GainPerHopPosition(c.overlap);
        const auto lowest = std::min_element(gain.begin(), gain.end());
        const auto highest = std::max_element(gain.begin(), gain.end());
        EXPECT_NEAR(*lowest, c.low, 0.005) << c.overlap;
        EXPECT_NEAR(*highest, c.high, 0.002) << c.overlap;
        EXPECT_EQ(lowest - gain.begin(), static_cast<std::ptrdiff_t>(gain.size() - 1))
            << "lowest gain on the last sample of the hop, overlap " << c.overlap;
    }
}

TEST(CenterFocus, ConstantInputComesOutAtFiveThirds)
{
    CenterFocus filter;
    ASSERT_TRUE(filter.Setup(8192, 16, 44100));
    filter.SetArea(FilterArea::Widest(44100));
    const Stereo in{std::vector<int32_t>(6 * 8192, 3000), std::vector<int32_t>(6 * 8192, 3000)};
    const Stereo out = RunFilter(filter, in);
    for (std::size_t t = 3 * 8192; t < out.L.size(); t += 101) {
        // Bin 0 counts double against the halved other bins: 5/3 within 1%.
        EXPECT_NEAR(out.L[t], 5000.0, 50.0) << t;
        EXPECT_NEAR(out.R[t], 5000.0, 50.0) << t;
    }
}

double ToneGain(double hz, int n)
{
    CenterFocus filter;
    EXPECT_TRUE(filter.Setup(n, 16, 44100));
    filter.SetArea(FilterArea::Widest(44100));
    Stereo in{std::vector<int32_t>(static_cast<std::size_t>(16 * n)),
              std::vector<int32_t>(static_cast<std::size_t>(16 * n))};
    for (std::size_t i = 0; i < in.L.size(); ++i)
        in.L[i] = in.R[i] =
            static_cast<int32_t>(20000.0 * std::cos(M_PI * hz / 22050.0 * static_cast<double>(i)));
    const Stereo out = RunFilter(filter, in);
    const auto from = static_cast<std::size_t>(4 * n);
    return Rms(out.L, from, out.L.size()) / Rms(in.L, from, in.L.size());
}

TEST(CenterFocus, NyquistNeverReachesTheOutput)
{
    const int n = 1024;
    // A tone at N/2 comes out only through the window's spread into bin N/2 - 1, a third of
    // its level (it would pass whole if bin N/2 were kept); two bins lower a tone passes.
    const double nyquist = ToneGain(22050.0, n);
    EXPECT_GT(nyquist, 0.30);
    EXPECT_LT(nyquist, 0.37);
    EXPECT_GT(ToneGain(22050.0 * (1.0 - 4.0 / n), n), 0.999); // 0.1% as for the centre sine
}

TEST(CenterFocus, ReportsPanRatioAndDepthOfOneSidedAndSilentBins)
{
    const int rate = 44100, n = 4096;
    struct Case
    {
        double ampL, ampR;
        float ratio;
    };
    // 5 kHz lies above the 1300 Hz correction band: the ratio is uncorrected.
    for (const Case& c :
         {Case{0.0, 10000.0, 32000.0f}, Case{10000.0, 0.0, 0.0f}, Case{0.0, 0.0, 0.0f}}) {
        for (bool vector : {true, false}) {
            CenterFocus filter;
            filter.SetVectorCode(vector);
            ASSERT_TRUE(filter.Setup(n, 4, rate));
            filter.SetArea(FilterArea::Widest(rate));
            RecordingFeed feed;
            filter.SetVisualSink(&feed);
            filter.SetVisualFeed(true);
            const Stereo in = Sine(3 * n, 5000.0, rate, c.ampL, c.ampR);
            RunFilter(filter, in);
            ASSERT_GT(feed.Frames, 1);
            EXPECT_EQ(feed.BinCalls, feed.Frames);
            const auto peak = static_cast<std::size_t>(5000.0 / rate * n + 0.5);
            EXPECT_EQ(feed.Ratio[peak], c.ratio) << c.ampL << "/" << c.ampR;
            // One channel only: |L + R| is that channel's magnitude to the bit.
            EXPECT_EQ(feed.SumMag[peak], std::max(feed.MagLeft[peak], feed.MagRight[peak]));
            if (c.ampL == 0.0 && c.ampR == 0.0) {
                for (std::size_t j = 0; j < feed.Ratio.size(); ++j) {
                    ASSERT_EQ(feed.Ratio[j], 0.0f) << j;
                    ASSERT_EQ(feed.Depth[j], 0.0f) << j;
                    ASSERT_EQ(feed.SumMag[j], 0.0f) << j;
                }
            }
        }
    }
}

TEST(CenterFocus, FreshFilterKeepsOnlyExactCentre)
{
    const int rate = 44100, n = 4096;
    for (bool vector : {true, false}) {
        CenterFocus centre, offCentre;
        centre.SetVectorCode(vector);
        offCentre.SetVectorCode(vector);
        ASSERT_TRUE(centre.Setup(n, 16, rate));
        ASSERT_TRUE(offCentre.Setup(n, 16, rate));
        const Stereo same = Sine(6 * n, 700.0, rate, 12000.0, 12000.0);
        const Stereo louder = Sine(6 * n, 700.0, rate, 12000.0, 12500.0);
        const Stereo a = RunFilter(centre, same);
        const Stereo b = RunFilter(offCentre, louder);
        const std::size_t from = 3 * n, to = a.L.size();
        // Identical channels give ratio exactly 1 in every bin: the sine passes at its level.
        EXPECT_NEAR(Rms(a.L, from, to), 12000.0 / std::sqrt(2.0), 12000.0 * 0.002);
        EXPECT_EQ(Rms(b.L, from, to), 0.0);
    }
}

TEST(CenterFocus, InvertedAreas)
{
    const int rate = 44100, n = 4096;
    const Stereo in = Sine(6 * n, 3000.0, rate, 12000.0, 9000.0);
    const std::size_t from = 3 * n;

    CenterFocus widest;
    ASSERT_TRUE(widest.Setup(n, 16, rate));
    FilterArea area = FilterArea::Widest(rate);
    area.Inverted = true;
    widest.SetArea(area);
    const Stereo cleared = RunFilter(widest, in);
    EXPECT_EQ(Rms(cleared.L, from, in.L.size()), 0.0);

    CenterFocus plain, emptyBand;
    ASSERT_TRUE(plain.Setup(n, 16, rate));
    ASSERT_TRUE(emptyBand.Setup(n, 16, rate));
    plain.SetArea(FilterArea::Widest(rate));
    area.FreqLowHz = 5000.0f;
    area.FreqHighHz = 4000.0f; // low above high: no bin inside, so an inverted area keeps all
    emptyBand.SetArea(area);
    EXPECT_GT(CenterFocusTestAccess::LowBin(emptyBand), CenterFocusTestAccess::HighBin(emptyBand));
    const Stereo all = RunFilter(plain, in);
    const Stereo kept = RunFilter(emptyBand, in);
    EXPECT_EQ(all.L, kept.L);
    EXPECT_EQ(all.R, kept.R);
}

// The keep/clear decisions of the filter against the literal reference, frame by frame, on a
// music-like mix with exactly centred, one-sided and inverted stretches.
struct AreaCase
{
    const char* name;
    FilterArea area;
};

std::vector<AreaCase> DecisionAreas(int rate)
{
    FilterArea startup;
    startup.PanLow = 0.31623f;
    startup.PanHigh = 3.1623f;
    startup.FreqLowHz = 40.0f;
    startup.FreqHighHz = 7796.0f;
    startup.DepthLow = 0.0f;
    startup.DepthHigh = kPi / 2;
    FilterArea startupInverted = startup;
    startupInverted.Inverted = true;
    // Bins with ratio exactly 1 come from the stretch where the channels are identical. The
    // depth bound leaves out the stretch of inverted channels, whose ratio is 1 too: there the
    // literal analysis corrects it by sin(d) of a d rounded near float pi, a rounding artefact
    // that falls on either side of 1, while this filter keeps the exact sin(pi) = 0.
    FilterArea centreOnly = FilterArea::Widest(rate);
    centreOnly.PanLow = centreOnly.PanHigh = 1.0f;
    centreOnly.DepthHigh = kPi / 2;
    FilterArea fromCentre = FilterArea::Widest(rate);
    fromCentre.PanLow = 1.0f;
    fromCentre.DepthHigh = kPi / 2;
    FilterArea leftish = FilterArea::Widest(rate);
    leftish.PanHigh = 0.5f;
    leftish.Inverted = true;
    FilterArea nearDepth0 = FilterArea::Widest(rate);
    nearDepth0.DepthHigh = 0.05f;
    FilterArea outOfPhase = FilterArea::Widest(rate);
    outOfPhase.DepthLow = 2.5f;
    outOfPhase.PanLow = 0.8f;
    outOfPhase.PanHigh = 1.25f;
    FilterArea band = FilterArea::Widest(rate);
    band.FreqLowHz = 300.0f;
    band.FreqHighHz = 1200.0f;
    band.DepthLow = 0.2f;
    band.DepthHigh = 2.0f;
    band.Inverted = true;
    return {{"startup", startup},
            {"startup inverted", startupInverted},
            {"pan 1..1", centreOnly},
            {"pan 1..max", fromCentre},
            {"pan 0..0.5 inverted", leftish},
            {"depth 0..0.05", nearDepth0},
            {"depth 2.5..pi", outOfPhase},
            {"300-1200 Hz depth 0.2-2 inverted", band}};
}

struct Agreement
{
    long bins = 0, differ = 0;
    int maxSampleDiff = 0; // where the frames contributing agreed in every bin
};

Agreement CompareWithReference(const MusicLike& music, int rate, int n, int overlap,
                               const FilterArea& area, bool vector)
{
    CenterFocus filter;
    filter.SetVectorCode(vector);
    ReferenceFilter reference;
    EXPECT_TRUE(filter.Setup(n, overlap, rate));
    EXPECT_TRUE(reference.Setup(n, overlap, rate));
    filter.SetArea(area);
    reference.SetArea(area);
    const int hop = n / overlap;
    Agreement result;
    std::vector<int32_t> fl(static_cast<std::size_t>(hop)), fr(fl.size()), rl(fl.size()),
        rr(fl.size());
    int cleanFrames = 0; // frames since the last disagreement
    const std::size_t total = music.L.size() - music.L.size() % static_cast<std::size_t>(hop);
    for (std::size_t pos = 0; pos < total; pos += static_cast<std::size_t>(hop)) {
        filter.Process(music.L.data() + pos, music.R.data() + pos, fl.data(), fr.data(), hop);
        reference.Process(music.L.data() + pos, music.R.data() + pos, rl.data(), rr.data(), hop);
        if (cleanFrames >= overlap) {
            for (std::size_t i = 0; i < fl.size(); ++i)
                result.maxSampleDiff = std::max(
                    {result.maxSampleDiff, std::abs(fl[i] - rl[i]), std::abs(fr[i] - rr[i])});
        }
        if (reference.Frames() == 0)
            continue;
        bool frameAgrees = true;
        for (int j = 0; j < n / 2; ++j) {
            ++result.bins;
            if (CenterFocusTestAccess::BinKept(filter, j) !=
                (reference.KeepMask()[static_cast<std::size_t>(j)] != 0)) {
                ++result.differ;
                frameAgrees = false;
            }
        }
        cleanFrames = frameAgrees ? cleanFrames + 1 : 0;
    }
    return result;
}

TEST(CenterFocus, DecisionsMatchLiteralReference)
{
    const int rate = 44100, n = 8192, overlap = 4;
    const MusicLike music = MakeMusicLike(rate * 16, rate, 2024u);
    long allBins = 0, allDiffer = 0;
    for (const AreaCase& c : DecisionAreas(rate)) {
        const Agreement a = CompareWithReference(music, rate, n, overlap, c.area, true);
        allBins += a.bins;
        allDiffer += a.differ;
        const double rate1 = static_cast<double>(a.differ) / static_cast<double>(a.bins);
        char text[96];
        std::snprintf(text, sizeof text, "%ld of %ld (%.2g), max sample diff %d", a.differ, a.bins,
                      rate1, a.maxSampleDiff);
        RecordProperty(c.name, text);
        std::printf("  %-36s %s\n", c.name, text);
        // The two filters' transforms round differently (about 1e-7 of the frame's loudest
        // bin), which moves weak bins' ratios and depths by up to ~1e-4: bins that close to a
        // bound may land on the other side. An area bounded inside a dense cloud of bins sees
        // up to a few in 100,000; all areas together must stay within 1 in 100,000.
        EXPECT_LE(rate1, 3e-5) << c.name;
        // Where every bin of the frames in a sample's overlap agreed, the two outputs differ
        // by the rounding of different transforms: one step, two with the truncation.
        EXPECT_LE(a.maxSampleDiff, 2) << c.name;
    }
    EXPECT_GT(allBins, 10'000'000L); // enough bins that the rate means something
    EXPECT_LE(static_cast<double>(allDiffer) / static_cast<double>(allBins), 1e-5);
    std::printf("  all areas: %ld of %ld bins differ\n", allDiffer, allBins);
}

TEST(CenterFocus, VectorAndPlainPathsMakeTheSameDecisions)
{
    if (WidestCodePath() == CodePath::Plain)
        GTEST_SKIP() << "no AVX2 on this processor";
    if (WidestCodePath() != CodePath::Avx512)
        std::printf("  no AVX-512 on this processor: that path is skipped\n");
    const int rate = 44100, n = 4096, overlap = 4;
    const MusicLike music = MakeMusicLike(rate * 12, rate, 77u);
    for (const AreaCase& c : DecisionAreas(rate)) {
        CenterFocus plain, avx2, avx512;
        plain.SetCodePath(CodePath::Plain);
        avx2.SetCodePath(CodePath::Avx2);
        avx512.SetCodePath(CodePath::Avx512);
        CenterFocus* filters[] = {&plain, &avx2, &avx512};
        for (CenterFocus* f : filters) {
            ASSERT_TRUE(f->Setup(n, overlap, rate));
            f->SetArea(c.area);
        }
        EXPECT_EQ(plain.ActiveCodePath(), CodePath::Plain);
        EXPECT_EQ(avx2.ActiveCodePath(), CodePath::Avx2);
        EXPECT_EQ(avx512.ActiveCodePath(), ChooseCodePath(CodePath::Avx512));
        const int hop = n / overlap;
        std::vector<int32_t> l(static_cast<std::size_t>(hop)), r(l.size());
        long bins = 0, differ[3] = {0, 0, 0};
        std::vector<int32_t> out[3][2];
        for (std::size_t pos = 0; pos + static_cast<std::size_t>(hop) <= music.L.size();
             pos += static_cast<std::size_t>(hop)) {
            for (int p = 0; p < 3; ++p) {
                filters[p]->Process(music.L.data() + pos, music.R.data() + pos, l.data(), r.data(),
                                    hop);
                if (p > 0) {
                    out[p][0].insert(out[p][0].end(), l.begin(), l.end());
                    out[p][1].insert(out[p][1].end(), r.begin(), r.end());
                }
            }
            for (int j = 0; j < n / 2; ++j) {
                ++bins;
                for (int p = 1; p < 3; ++p)
                    differ[p] += CenterFocusTestAccess::BinKept(*filters[p], j) !=
                                 CenterFocusTestAccess::BinKept(plain, j);
            }
        }
        // All paths decide from bit-identical spectra with the same float operations in the
        // same order, so not even a bin at a bound may differ.
        EXPECT_EQ(differ[1], 0) << c.name << ", AVX2, of " << bins;
        EXPECT_EQ(differ[2], 0) << c.name << ", AVX-512, of " << bins;
        // The two vector paths also share every operation of the inverse and the overlap-add.
        EXPECT_TRUE(out[1][0] == out[2][0] && out[1][1] == out[2][1]) << c.name;
    }
}

TEST(CenterFocus, VisualFeedMatchesReferenceAnalysis)
{
    const int rate = 44100, n = 8192, overlap = 16;
    const MusicLike music = MakeMusicLike(n * 3, rate, 5u);
    for (bool vector : {true, false}) {
        CenterFocus filter;
        filter.SetVectorCode(vector);
        ReferenceFilter reference;
        ASSERT_TRUE(filter.Setup(n, overlap, rate));
        ASSERT_TRUE(reference.Setup(n, overlap, rate));
        filter.SetArea(FilterArea::Widest(rate));
        reference.SetArea(FilterArea::Widest(rate));
        RecordingFeed feed;
        filter.SetVisualSink(&feed);
        filter.SetVisualFeed(true);
        const int hop = n / overlap;
        std::vector<int32_t> o1(static_cast<std::size_t>(hop)), o2(o1.size());
        int checkedFrames = 0;
        for (std::size_t pos = 0; pos + static_cast<std::size_t>(hop) <= music.L.size();
             pos += static_cast<std::size_t>(hop)) {
            filter.Process(music.L.data() + pos, music.R.data() + pos, o1.data(), o2.data(), hop);
            reference.Process(music.L.data() + pos, music.R.data() + pos, o1.data(), o2.data(),
                              hop);
            if (reference.Frames() < 8 || reference.Frames() % 8 != 0)
                continue;
            ++checkedFrames;
            ASSERT_EQ(feed.Frames, reference.Frames());
            ASSERT_EQ(feed.Depth.size(), static_cast<std::size_t>(n / 2));
            float loudest = 0.0f;
            for (const auto& bin : reference.Analysis())
                loudest = std::max({loudest, bin.MagLeft, bin.MagRight});
            for (std::size_t j = 0; j < feed.Depth.size(); ++j) {
                const auto& want = reference.Analysis()[j];
                // Bins within 60 dB of the loudest: the two transforms' rounding (~1e-7 of the
                // loudest) stays below 1e-4 of such a bin, and the phases follow within ~1e-4.
                if (std::min(want.MagLeft, want.MagRight) < loudest * 1e-3f)
                    continue;
                ASSERT_NEAR(feed.MagLeft[j], want.MagLeft, want.MagLeft * 1e-4f) << j;
                ASSERT_NEAR(feed.MagRight[j], want.MagRight, want.MagRight * 1e-4f) << j;
                ASSERT_NEAR(feed.Ratio[j], want.Ratio, want.Ratio * 2e-4f) << j;
                ASSERT_NEAR(feed.Depth[j], want.Depth, 2e-4f) << j;
                // |L + R| as the single-bin rule forms it from magnitudes and depth; with the
                // depth within 2e-4 rad it agrees to 2e-4 of the two magnitudes.
                const double mono =
                    std::hypot(want.MagLeft + want.MagRight * std::cos(double{want.Depth}),
                               want.MagRight * std::sin(double{want.Depth}));
                ASSERT_NEAR(feed.SumMag[j], mono, (want.MagLeft + want.MagRight) * 2e-4) << j;
            }
        }
        EXPECT_GE(checkedFrames, 3);
        EXPECT_EQ(feed.SingleCalls, 0); // one call per frame, not one per bin
    }
}

// Playback and export run the same code over the same sound in different block sizes; the
// feed may be on in one and off in the other. The output must be the same to the bit.
TEST(CenterFocus, SameInputGivesSameOutputWhateverTheBlocksAndFeed)
{
    const int rate = 44100;
    const MusicLike music = MakeMusicLike(rate * 2, rate, 9u);
    const Stereo in{music.L, music.R};
    FilterArea area = DecisionAreas(rate)[0].area;
    CenterFocus a, b;
    ASSERT_TRUE(a.Setup(8192, 16, rate));
    ASSERT_TRUE(b.Setup(8192, 16, rate));
    a.SetArea(area);
    b.SetArea(area);
    RecordingFeed feed;
    b.SetVisualSink(&feed);
    b.SetVisualFeed(true);
    const Stereo x = RunFilter(a, in, 22050);
    const Stereo y = RunFilter(b, in, 1323);
    EXPECT_EQ(x.L, y.L);
    EXPECT_EQ(x.R, y.R);
}

// The vector path takes the depth it reports from a polynomial arc tangent; the plain path
// from the library's. Both see bit-identical spectra.
TEST(CenterFocus, FastFeedDepthFollowsExactArcTangent)
{
    if (WidestCodePath() == CodePath::Plain)
        GTEST_SKIP() << "no AVX2 on this processor";
    const int rate = 44100, n = 4096;
    const MusicLike music = MakeMusicLike(n * 4, rate, 13u);
    CenterFocus fast, plain;
    plain.SetVectorCode(false);
    RecordingFeed fastFeed, plainFeed;
    for (auto [filter, feed] : {std::pair{&fast, &fastFeed}, std::pair{&plain, &plainFeed}}) {
        ASSERT_TRUE(filter->Setup(n, 4, rate));
        filter->SetArea(FilterArea::Widest(rate));
        filter->SetVisualSink(feed);
        filter->SetVisualFeed(true);
        RunFilter(*filter, Stereo{music.L, music.R}, 4096);
    }
    ASSERT_EQ(fastFeed.Depth.size(), plainFeed.Depth.size());
    float worst = 0.0f;
    for (std::size_t j = 0; j < fastFeed.Depth.size(); ++j)
        worst = std::max(worst, std::fabs(fastFeed.Depth[j] - plainFeed.Depth[j]));
    // Within 1e-6 rad: a few float steps of a value up to pi.
    EXPECT_LT(worst, 1e-6f);
    ASSERT_EQ(fastFeed.SumMag.size(), plainFeed.SumMag.size());
    for (std::size_t j = 0; j < fastFeed.SumMag.size(); ++j) {
        // |L + R| from the same spectra; the vector path may fuse a product into the sum of
        // squares, one float rounding (2^-23 relative, 2^-22 allowed for the square root).
        ASSERT_NEAR(fastFeed.SumMag[j], plainFeed.SumMag[j], plainFeed.SumMag[j] * 2.4e-7f) << j;
    }
    EXPECT_EQ(fastFeed.Ratio.size(), static_cast<std::size_t>(n / 2));
}

TEST(CenterFocus, NoFeedCallsWhileFeedIsOff)
{
    CenterFocus filter;
    ASSERT_TRUE(filter.Setup(1024, 4, 44100));
    RecordingFeed feed;
    filter.SetVisualSink(&feed);
    const Stereo in = Sine(4096, 440.0, 44100, 1000.0, 1000.0);
    RunFilter(filter, in);
    EXPECT_EQ(feed.Frames, 0);
    EXPECT_EQ(feed.BinCalls, 0);
}

} // namespace
} // namespace varnel
