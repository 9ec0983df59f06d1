#include "dsp/AreaMapping.h"

#include "platform/Assert.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace varnel {
namespace {

TEST(AreaMappingTest, StartupEdgesOfTheWindowScreens)
{
    const AreaEdges e = StartupEdges();
    EXPECT_EQ(e.Area1Left, 140);
    EXPECT_EQ(e.Area1Top, 56);
    EXPECT_EQ(e.Area1Right, 420);
    EXPECT_EQ(e.Area1Bottom, 283);
    EXPECT_EQ(e.Area2Left, 0);
    EXPECT_EQ(e.Area2Top, 56);
    EXPECT_EQ(e.Area2Right, 98);
    EXPECT_EQ(e.Area2Bottom, 283);
}

TEST(AreaMappingTest, StartupAreaAtTheDefaultRate)
{
    AreaGeometry g;
    g.HalfRate = 22050;
    g.PanScale = PanScaleFromSlider(3);
    const AreaMapping m = MapArea(StartupEdges(), g);
    // The reference figures are given to five significant digits.
    EXPECT_NEAR(m.Area.PanLow, 0.31623, 5e-6);
    EXPECT_NEAR(m.Area.PanHigh, 3.1623, 5e-5);
    EXPECT_NEAR(m.Area.FreqLowHz, 115.25, 5e-3);
    EXPECT_NEAR(m.Area.FreqHighHz, 7796.37, 5e-3);
    EXPECT_EQ(m.Area.DepthLow, 0.0f);
    // Half of the float pi, to the float's own precision.
    EXPECT_NEAR(m.Area.DepthHigh, 1.5708, 5e-5);
    EXPECT_EQ(m.FreqHighLabel, "7796Hz");
    EXPECT_EQ(m.FreqLowLabel, "115Hz");
    EXPECT_FALSE(m.Area.Inverted);
}

TEST(AreaMappingTest, EdgesAtTheBordersOpenTheRanges)
{
    struct Case
    {
        int HalfRate;
        float PanScale;
    };
    for (const Case& c : {Case{22050, 10.0f}, Case{24000, 2.512f}, Case{4000, 251.19f}}) {
        AreaGeometry g;
        g.HalfRate = c.HalfRate;
        g.PanScale = c.PanScale;
        AreaEdges e;
        e.Area1Left = 0;
        e.Area1Top = 0;
        e.Area1Right = g.Screen1Width;
        e.Area1Bottom = g.Screen1Height;
        e.Area2Left = 0;
        e.Area2Right = g.Screen2Width;
        const AreaMapping m = MapArea(e, g);
        EXPECT_EQ(m.Area.PanLow, 0.0f);
        EXPECT_EQ(m.Area.PanHigh, 65535.0f);
        EXPECT_EQ(m.Area.FreqHighHz, static_cast<float>(c.HalfRate));
        EXPECT_EQ(m.Area.FreqLowHz, 0.0f);
        EXPECT_EQ(m.FreqHighLabel, std::to_string(c.HalfRate) + "Hz");
        EXPECT_EQ(m.FreqLowLabel, "0Hz");
        EXPECT_EQ(m.Area.DepthLow, 0.0f);
        // Screen2's width times pi over that width: at most one float step from pi.
        EXPECT_NEAR(m.Area.DepthHigh, kPi, 4e-7);
    }
}

TEST(AreaMappingTest, AxesAreLogarithmicAroundTheCentre)
{
    AreaGeometry g;
    g.HalfRate = 24000;
    g.PanScale = 10.0f;
    AreaEdges e = StartupEdges();
    // A quarter screen either side of the middle is one half decade of pan ratio.
    e.Area1Left = 140;
    e.Area1Right = 280;
    // The bottom row but one is just above 40 Hz; the middle row is the geometric mean.
    e.Area1Bottom = 339;
    e.Area1Top = 170;
    const AreaMapping m = MapArea(e, g);
    EXPECT_EQ(m.Area.PanHigh, 1.0f);             // exponent exactly 0 in the middle column
    EXPECT_NEAR(m.Area.PanLow, 0.316228f, 1e-6); // 10^-0.5 to float precision
    EXPECT_GT(m.Area.FreqLowHz, 40.0f);
    EXPECT_LT(m.Area.FreqLowHz, 41.0f);
    // sqrt(40 * 24000); float steps in the exponent allow a hundredth of a hertz.
    EXPECT_NEAR(m.Area.FreqHighHz, 979.796, 0.01);
}

TEST(AreaMappingTest, FrequencyLabelsRoundHalvesUp)
{
    // At half rate 631 the top edge on row 289 lies 0.15 of the axis' 1.198 decades above
    // 40 Hz: 40 x 10^0.1797 = 60.50 Hz. The label rounds halves away from zero.
    AreaGeometry g;
    g.HalfRate = 631;
    AreaEdges e = StartupEdges();
    e.Area1Top = e.Area2Top = 289;
    e.Area1Bottom = e.Area2Bottom = 300;
    const AreaMapping m = MapArea(e, g);
    EXPECT_EQ(m.Area.FreqHighHz, 60.5f);
    EXPECT_EQ(m.FreqHighLabel, "61Hz");
}

TEST(AreaMappingTest, AxisWithoutHeightTakesTheWholeBand)
{
    // An 81 Hz file has half rate 40: the axis from 40 Hz up to 40 Hz has no decades, so
    // every edge means the whole band, down to 0.
    struct Case
    {
        int SampleRate;
        float Low;
        float High;
    };
    const Case cases[] = {{81, 0.0f, 40.0f}, {80, 0.0f, 40.0f}, {20, 0.0f, 10.0f}};
    for (const Case& c : cases) {
        const FilterArea a = StartupArea(c.SampleRate);
        EXPECT_EQ(a.FreqLowHz, c.Low) << c.SampleRate << " Hz";
        EXPECT_EQ(a.FreqHighHz, c.High) << c.SampleRate << " Hz";
    }
}

TEST(AreaMappingTest, PanScaleFromSliderPositions)
{
    // The scale is 10^((p + 2) / 5); the figures are rounded to five digits.
    EXPECT_NEAR(PanScaleFromSlider(0), 2.5119f, 5e-5);
    EXPECT_FLOAT_EQ(PanScaleFromSlider(3), 10.0f);
    EXPECT_NEAR(PanScaleFromSlider(10), 251.19f, 5e-3);
}

TEST(AreaMappingTest, VolumeSliderFollowsThePowerCurve)
{
    const int expected[][2] = {{20, 0},    {19, -2},   {18, -14}, {15, -139}, {10, -790},
                               {5, -2178}, {0, -4472}, {25, 0},   {-3, -4472}};
    for (const auto& e : expected)
        EXPECT_EQ(VolumeFromSlider(e[0]), e[1]) << e[0];
}

AreaGeometry Geometry(int halfRate, float panScale)
{
    AreaGeometry g;
    g.HalfRate = halfRate;
    g.PanScale = panScale;
    return g;
}

// Edges -> filter bounds (the window's arithmetic) -> edges must give the same pixels, for
// every pixel of every edge, so a picture shows the area the window would have drawn.
TEST(AreaMappingTest, EveryEdgeSurvivesTheRoundTrip)
{
    for (const AreaGeometry& geometry :
         {Geometry(22050, 10.0f), Geometry(4000, 2.512f), Geometry(24000, 251.19f)}) {
        for (int v = 0; v <= 560; ++v) {
            AreaEdges edges = StartupEdges();
            edges.Area1Left = std::min(v, 559);
            edges.Area1Right = std::max(v, 1);
            const AreaEdges back = EdgesForArea(MapArea(edges, geometry).Area, geometry);
            ASSERT_EQ(back.Area1Left, edges.Area1Left) << v << " scale " << geometry.PanScale;
            ASSERT_EQ(back.Area1Right, edges.Area1Right) << v << " scale " << geometry.PanScale;
        }
        for (int v = 0; v <= 340; ++v) {
            AreaEdges edges = StartupEdges();
            edges.Area1Top = edges.Area2Top = std::min(v, 339);
            edges.Area1Bottom = edges.Area2Bottom = std::max(v, 1);
            const AreaEdges back = EdgesForArea(MapArea(edges, geometry).Area, geometry);
            ASSERT_EQ(back.Area1Top, edges.Area1Top) << v << " half rate " << geometry.HalfRate;
            ASSERT_EQ(back.Area1Bottom, edges.Area1Bottom) << v;
            ASSERT_EQ(back.Area2Top, back.Area1Top);
            ASSERT_EQ(back.Area2Bottom, back.Area1Bottom);
        }
        for (int v = 0; v <= 196; ++v) {
            AreaEdges edges = StartupEdges();
            edges.Area2Left = std::min(v, 195);
            edges.Area2Right = std::max(v, 1);
            const AreaEdges back = EdgesForArea(MapArea(edges, geometry).Area, geometry);
            ASSERT_EQ(back.Area2Left, edges.Area2Left) << v;
            ASSERT_EQ(back.Area2Right, edges.Area2Right) << v;
        }
    }
}

TEST(AreaMappingTest, EdgesForOpenOutOfRangeAndBackwardBounds)
{
    const AreaGeometry geometry = Geometry(22050, 10.0f);
    const AreaEdges widest = EdgesForArea(FilterArea::Widest(44100), geometry);
    EXPECT_EQ(widest.Area1Left, 0);
    EXPECT_EQ(widest.Area1Top, 0);
    EXPECT_EQ(widest.Area1Right, 560);
    EXPECT_EQ(widest.Area1Bottom, 340);
    EXPECT_EQ(widest.Area2Left, 0);
    EXPECT_EQ(widest.Area2Right, 196);

    FilterArea area;
    area.PanLow = 0.001f; // beyond the shown range: on the borders
    area.PanHigh = 1000.0f;
    area.FreqLowHz = 10.0f;     // below 40 Hz
    area.FreqHighHz = 30000.0f; // above the half rate
    area.DepthLow = -1.0f;
    area.DepthHigh = 4.0f;
    const AreaEdges clamped = EdgesForArea(area, geometry);
    EXPECT_EQ(clamped.Area1Left, 0);
    EXPECT_EQ(clamped.Area1Right, 560);
    EXPECT_EQ(clamped.Area1Top, 0);
    EXPECT_EQ(clamped.Area1Bottom, 340);
    EXPECT_EQ(clamped.Area2Left, 0);
    EXPECT_EQ(clamped.Area2Right, 196);

    area.PanLow = 3.1623f; // given backwards: an empty area at the lower edge's place
    area.PanHigh = 0.31623f;
    const AreaEdges backwards = EdgesForArea(area, geometry);
    EXPECT_EQ(backwards.Area1Left, 420);
    EXPECT_EQ(backwards.Area1Right, 420);
}

TEST(AreaMappingTest, ScreensWithoutPixelsBreakThePreconditions)
{
    if (!kAssertsOn)
        GTEST_SKIP() << "precondition checks are off in this build";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    AreaGeometry g;
    g.Screen2Width = 0;
    EXPECT_DEATH(MapArea(StartupEdges(), g), "precondition failed");
    EXPECT_DEATH(EdgesForArea(FilterArea::Widest(44100), g), "precondition failed");
    EXPECT_DEATH(StartupEdges(560, 0, 196), "precondition failed");
}

TEST(AreaMappingTest, FftLengthFromTheSampleRate)
{
    struct Case
    {
        int Rate;
        int FftSize;
    };
    const Case cases[] = {
        {0, 2048},       {8000, 2048},     {11025, 2048},   {22049, 2048},
        {22050, 4096},   {44099, 4096},    {44100, 8192},   {48000, 8192},
        {66149, 8192},   {66150, 8192},    {88199, 8192}, // 12288 lowered to 8192
        {88200, 16384},  {96000, 16384},   {110249, 16384}, {110250, 16384}, // 20480
        {132300, 16384}, {154350, 16384},  {176399, 16384},                  // 24576, 28672
        {176400, 32768}, {192000, 32768},  {198449, 32768}, {352800, 65536},
        {384000, 65536}, {768000, 131072},
    };
    for (const Case& c : cases) {
        const FftParams p = ChooseFftParams(2, c.Rate);
        EXPECT_EQ(p.FftSize, c.FftSize) << c.Rate << " Hz";
        EXPECT_EQ(p.FftSize & (p.FftSize - 1), 0) << c.Rate << " Hz";
    }
}

TEST(AreaMappingTest, OverlapFromTheQuality)
{
    const int expected[][2] = {{0, 4},  {1, 8},   {2, 16}, {3, 32},
                               {4, 64}, {-1, 16}, {5, 16}, {100, 16}};
    for (const auto& c : expected)
        EXPECT_EQ(ChooseFftParams(c[0], 44100).Overlap, c[1]) << "quality " << c[0];
}

TEST(AreaMappingTest, PlayLatencyFrames)
{
    EXPECT_EQ(PlayLatencyFrames(22050, 200, 8192, 16), 12090);
    EXPECT_EQ(PlayLatencyFrames(24000, 200, 8192, 64), 4800 + 8192 - 128);
    // 11025 * 0.05 = 551.25 truncates toward zero.
    EXPECT_EQ(PlayLatencyFrames(11025, 50, 4096, 4), 551 + 3072);
}

} // namespace
} // namespace varnel
