#include "dsp/Vfunc.h"
#include "dsp/VisualFeed.h"

#include "support/CenterFocusTestAccess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnel {
namespace {

using test::AllocationCounter;
using test::AllocationFailure;

void PutSample(uint8_t* raw, int index, int16_t value)
{
    const auto u = static_cast<uint16_t>(value);
    raw[2 * index] = static_cast<uint8_t>(u & 0xFF);
    raw[2 * index + 1] = static_cast<uint8_t>(u >> 8);
}

int16_t GetSample(const uint8_t* raw, int index)
{
    return static_cast<int16_t>(static_cast<uint16_t>(raw[2 * index] | (raw[2 * index + 1] << 8)));
}

TEST(TVocalFunc, BlockSizes)
{
    struct Case
    {
        int rate;
        double seconds;
        int frames;
    };
    // Truncated, not rounded: 48000 * 0.03 is a hair below 1440 in binary floating point.
    for (const Case& c : {Case{44100, 0.5, 22050}, Case{44100, 0.1, 4410}, Case{48000, 0.03, 1439},
                          Case{22050, 0.25, 5512}}) {
        TVocalFunc v;
        ASSERT_EQ(v.Init(2, c.rate, c.seconds), 0);
        EXPECT_EQ(v.BlockFrames(), c.frames) << c.rate << " " << c.seconds;
        EXPECT_EQ(v.BlockBytes(), c.frames * 4) << c.rate << " " << c.seconds;
    }
}

TEST(TVocalFunc, DeinterleaveSplitsLittleEndianChannels)
{
    TVocalFunc v;
    ASSERT_EQ(v.Init(2, 44100, 0.01), 0);
    const uint8_t bytes[8] = {0x01, 0x02, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
    std::copy(bytes, bytes + 8, v.RawIn());
    v.InL()[2] = 1234; // past the 8 bytes: untouched
    v.Deinterleave(8);
    EXPECT_EQ(v.InL()[0], 0x0201);
    EXPECT_EQ(v.InR()[0], -1);
    EXPECT_EQ(v.InL()[1], -32768);
    EXPECT_EQ(v.InR()[1], 32767);
    EXPECT_EQ(v.InL()[2], 1234);

    // A failed read (-1) or a count below one frame changes nothing.
    v.InL()[0] = 55;
    v.Deinterleave(-1);
    v.Deinterleave(3);
    EXPECT_EQ(v.InL()[0], 55);
}

TEST(TVocalFunc, InterleaveClipsAndSaturates)
{
    TVocalFunc v;
    ASSERT_EQ(v.Init(2, 44100, 0.01), 0);
    const int32_t left[] = {40000, -40000, 32767, -32768, 5, 70000};
    const int32_t right[] = {-40000, 40000, -1, 0, -5, -70000};
    for (int i = 0; i < 6; ++i) {
        v.OutL()[i] = left[i];
        v.OutR()[i] = right[i];
    }
    std::fill(v.RawIn(), v.RawIn() + 4, uint8_t{0});
    v.Interleave(5 * 4); // the sixth frame stays as it was
    const int16_t wantL[] = {32767, -32768, 32767, -32768, 5};
    const int16_t wantR[] = {-32768, 32767, -1, 0, -5};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(GetSample(v.RawOut(), 2 * i), wantL[i]) << i;
        EXPECT_EQ(GetSample(v.RawOut(), 2 * i + 1), wantR[i]) << i;
    }
}

TEST(TVocalFunc, ResetAndOneFrameLengthOfSilenceClearHistory)
{
    TVocalFunc v;
    ASSERT_EQ(v.Init(2, 44100, 0.05), 0); // 2205 frames: the flush needs several blocks
    ASSERT_EQ(v.SetupFilter(8192, 16), 0);
    for (int i = 0; i < v.BlockFrames(); ++i) {
        PutSample(v.RawIn(), 2 * i, static_cast<int16_t>(i * 7));
        PutSample(v.RawIn(), 2 * i + 1, static_cast<int16_t>(-i * 5));
    }
    for (int block = 0; block < 5; ++block) {
        v.Deinterleave(v.BlockBytes());
        v.Process(0, v.BlockFrames());
    }
    auto allZero = [&] {
        for (float x : CenterFocusTestAccess::InRingL(v.Filter()))
            if (x != 0.0f)
                return false;
        for (float x : CenterFocusTestAccess::InRingR(v.Filter()))
            if (x != 0.0f)
                return false;
        return true;
    };
    ASSERT_FALSE(allZero());
    v.Reset();
    const int blocks = (8192 + v.BlockFrames() - 1) / v.BlockFrames();
    for (int b = 0; b < blocks; ++b) {
        if (b == blocks - 1) {
            EXPECT_FALSE(allZero()) << "clear only after a whole frame length";
        }
        v.Process(0, v.BlockFrames());
    }
    EXPECT_TRUE(allZero());
}

// A feed that only sums what it is given, so it allocates nothing itself.
class SummingFeed : public VisualFeed
{
public:
    void NextFrame() noexcept override { ++Frames; }
    void AddBin(int, float depth, float, float, float) noexcept override { Sum += depth; }
    void AddBins(const float* depth, const float*, const float*, const float*, const float*,
                 int count) noexcept override
    {
        for (int j = 0; j < count; ++j)
            Sum += depth[j];
    }
    int Frames = 0;
    double Sum = 0.0;
};

TEST(TVocalFunc, PerBlockPathAllocatesNothing)
{
    SummingFeed feed;
    TVocalFunc v;
    ASSERT_EQ(v.Init(2, 44100, 0.1), 0);
    ASSERT_EQ(v.SetupFilter(8192, 16), 0);
    v.SetArea(FilterArea::Widest(44100));
    v.SetVisualSink(&feed);
    for (int i = 0; i < v.BlockFrames(); ++i) {
        PutSample(v.RawIn(), 2 * i, static_cast<int16_t>((i * 37) % 20000));
        PutSample(v.RawIn(), 2 * i + 1, static_cast<int16_t>((i * 91) % 20000 - 10000));
    }
    AllocationCounter counter;
    for (int block = 0; block < 40; ++block) { // ~4 s: hundreds of frames
        v.Deinterleave(v.BlockBytes());
        v.Process(0, v.BlockFrames() / 3);
        v.Process(v.BlockFrames() / 3, v.BlockFrames() - v.BlockFrames() / 3);
        v.Interleave(v.BlockBytes());
        v.SetPanRange(0.5f, 2.0f);
        v.SetVisualFeed(block % 2 == 0);
        if (block % 10 == 9)
            v.Reset();
    }
    EXPECT_EQ(counter.Count(), 0);
    EXPECT_GT(feed.Frames, 100); // the feed path ran too
}

TEST(TVocalFunc, FailedAllocationsAreReportedNotThrown)
{
    // Each allocation of Init and of the filter's set-up in turn fails once.
    int initFailures = 0, filterFailures = 0;
    for (long skip = 0; skip < 60; ++skip) {
        TVocalFunc v;
        int init = 0, filter = 0;
        {
            AllocationFailure fail(skip);
            init = v.Init(2, 44100, 0.5);
            if (init == 0)
                filter = v.SetupFilter(8192, 16);
        }
        initFailures += init;
        filterFailures += filter;
        if (filter != 0) {
            EXPECT_FALSE(CenterFocusTestAccess::IsReady(v.Filter()));
            // The filter without buffers writes silence and touches nothing else.
            for (int i = 0; i < v.BlockFrames(); ++i)
                v.InL()[i] = v.InR()[i] = 1000;
            v.Process(0, v.BlockFrames());
            for (int i = 0; i < v.BlockFrames(); i += 97)
                ASSERT_EQ(v.OutL()[i], 0);
        }
        if (init == 0 && filter == 0) {
            EXPECT_TRUE(CenterFocusTestAccess::IsReady(v.Filter()));
        }
    }
    EXPECT_GE(initFailures, 6);    // the six buffers
    EXPECT_GE(filterFailures, 10); // the transforms' tables and the filter's arrays
}

} // namespace
} // namespace varnel
