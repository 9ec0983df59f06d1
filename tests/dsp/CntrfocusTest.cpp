#include "dsp/Cntrfocus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace varnel {
namespace {

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
        filter.Process(in.L.data() + f, in.R.data() + f, out.L.data() + f, out.R.data() + f,
                       count);
    }
    return out;
}

Stereo CentreSine(int samples, double hz, double rate, double amplitude)
{
    Stereo s{std::vector<int32_t>(static_cast<std::size_t>(samples)),
             std::vector<int32_t>(static_cast<std::size_t>(samples))};
    for (int i = 0; i < samples; ++i) {
        const auto v = static_cast<int32_t>(amplitude * std::sin(2.0 * M_PI * hz * i / rate));
        s.L[static_cast<std::size_t>(i)] = s.R[static_cast<std::size_t>(i)] = v;
    }
    return s;
}

void SetWidest(CenterFocus& filter, int rate)
{
    filter.SetArea(FilterArea::Widest(rate));
}

TEST(CenterFocus, CentreSineAtWidestAreaComesOutDelayedAtUnityGain)
{
    const int rate = 44100, n = 8192, overlap = 16;
    CenterFocus filter;
    ASSERT_TRUE(filter.Setup(n, overlap, rate));
    SetWidest(filter, rate);
    EXPECT_EQ(filter.Latency(), n - n / overlap);
    const Stereo in = CentreSine(8 * n, 1000.0, rate, 20000.0);
    const Stereo out = RunFilter(filter, in);
    const int latency = filter.Latency();
    // Skip the first frames, whose history starts from silence.
    for (int t = latency + 2 * n; t < static_cast<int>(in.L.size()); ++t) {
        const auto u = static_cast<std::size_t>(t);
        const double want = in.L[u - static_cast<std::size_t>(latency)];
        // 0.1% of the level plus one step for the truncation to integers.
        ASSERT_NEAR(out.L[u], want, 20.0 + 1.0) << t;
        ASSERT_NEAR(out.R[u], want, 20.0 + 1.0) << t;
    }
}

TEST(CenterFocus, SilenceGivesExactZeros)
{
    CenterFocus filter;
    ASSERT_TRUE(filter.Setup(1024, 8, 44100));
    SetWidest(filter, 44100);
    const Stereo in{std::vector<int32_t>(5000, 0), std::vector<int32_t>(5000, 0)};
    const Stereo out = RunFilter(filter, in, 333);
    for (std::size_t i = 0; i < out.L.size(); ++i) {
        ASSERT_EQ(out.L[i], 0);
        ASSERT_EQ(out.R[i], 0);
    }
}

} // namespace
} // namespace varnel
