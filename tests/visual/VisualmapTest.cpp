#include "visual/Visualmap.h"

#include "dsp/Cntrfocus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace varnel {
namespace {

constexpr float kPiF = 3.1415927f;

// The window's start-up map: 90 x 60 pan, 40 depth, 40 Hz .. 22050 Hz, pan scale 10.
void StartupMap(TVisualMap& map, float maxRatio = 10.0f)
{
    ASSERT_EQ(map.Init(90, 60, 40, 40.0f, 22050.0f, maxRatio), 0);
}

std::array<uint8_t, 3> Pixel(const QImage& image, int x, int y)
{
    const uchar* p = image.constScanLine(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

// |L + R| of a left bin of magnitude left and phase 0 and a right bin of magnitude right and
// phase depth: what the filter passes as sumMag.
float SumMagnitude(float left, float right, float depth)
{
    const double d = depth;
    return static_cast<float>(std::hypot(left + right * std::cos(d), right * std::sin(d)));
}

int NonZeroPanCells(const TVisualMap& map, int slot)
{
    int count = 0;
    for (int y = 0; y < map.PanHeight(); ++y)
        for (int x = 0; x < map.PanWidth(); ++x)
            count += map.PanCell(slot, y, x) != 0;
    return count;
}

TEST(VisualMapPalette, TellingEntries)
{
    TVisualMap map;
    StartupMap(map);
    struct Row
    {
        int Index;
        uint8_t R, G, B;
    };
    const Row rows[] = {{0, 0, 0, 0},      {1, 0, 0, 31},    {9, 10, 0, 106},   {40, 76, 0, 170},
                        {99, 212, 0, 187}, {175, 238, 0, 0}, {200, 244, 69, 0}, {255, 255, 234, 0}};
    for (const Row& row : rows) {
        const auto entry = map.PaletteEntry(row.Index);
        EXPECT_EQ(entry[0], row.R) << "entry " << row.Index;
        EXPECT_EQ(entry[1], row.G) << "entry " << row.Index;
        EXPECT_EQ(entry[2], row.B) << "entry " << row.Index;
    }
}

TEST(VisualMapPalette, HsvToRgbSectorsAndGrey)
{
    struct Row
    {
        int H, S, V;
        uint32_t Rgb;
    };
    const auto rgb = [](uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); };
    const Row rows[] = {
        {0, 255, 255, rgb(255, 0, 0)},     {30, 255, 255, rgb(255, 128, 0)},
        {60, 255, 255, rgb(255, 255, 0)},  {120, 255, 255, rgb(0, 255, 0)},
        {180, 255, 255, rgb(0, 255, 255)}, {240, 255, 255, rgb(0, 0, 255)},
        {300, 255, 255, rgb(255, 0, 255)}, {420, 255, 255, rgb(255, 255, 0)}, // 420 wraps to 60
        {90, 0, 77, rgb(77, 77, 77)},      {200, 128, 200, rgb(99, 167, 200)},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TVisualMap::HsvToRgb(row.H, row.S, row.V), row.Rgb)
            << row.H << "," << row.S << "," << row.V;
}

TEST(VisualMapColourScale, DivisorTableAndClamp)
{
    TVisualMap map;
    StartupMap(map);
    const float divisors[] = {56000, 39500, 26000, 15500, 8000, 6000, 5000, 4000, 3000, 2000, 1000};
    for (int position = 0; position <= 10; ++position) {
        map.SetColourScale(position);
        EXPECT_EQ(map.ColourDivisor(), divisors[position]) << position;
    }
    map.SetColourScale(12); // a negative divisor would index before the palette
    EXPECT_EQ(map.ColourDivisor(), 1000.0f);
    map.SetColourScale(-3);
    EXPECT_EQ(map.ColourDivisor(), 56000.0f);
}

TEST(VisualMapRing, SlotFigures)
{
    struct Row
    {
        int Rate, BufferMs, Overlap, Fft;
        int Slots, Average, SkipReload;
    };
    const Row rows[] = {
        {44100, 200, 8, 8192, 12, 4, 0},    // start-up
        {44100, 200, 64, 8192, 25, 8, 3},   // quality 4: every fourth frame
        {44100, 200, 16, 8192, 25, 8, 0},   // the default quality
        {44100, 5000, 16, 8192, 100, 8, 0}, // capped ring
    };
    for (const Row& row : rows) {
        TVisualMap map;
        StartupMap(map);
        ASSERT_EQ(map.AllocFrames(row.Rate, row.BufferMs, row.Overlap, row.Fft), 0);
        EXPECT_EQ(map.SlotCount(), row.Slots) << row.Overlap << " " << row.BufferMs;
        EXPECT_EQ(map.AverageCount(), row.Average) << row.Overlap;
        EXPECT_EQ(map.SkipReload(), row.SkipReload) << row.Overlap;
        EXPECT_EQ(map.CurrentSlot(), 0);
    }
}

TEST(VisualMapRing, EveryFourthFrameRecordedWithSkipFour)
{
    TVisualMap map;
    StartupMap(map);
    ASSERT_EQ(map.AllocFrames(44100, 200, 64, 8192), 0);
    map.Clear();
    std::vector<int> visited;
    for (int frame = 1; frame <= 12; ++frame) {
        map.NextFrame();
        // Each frame offers a different level; a skipped frame's bin must not reach the slot.
        const float level = 100.0f * static_cast<float>(frame);
        map.AddBin(8, 0.0f, level, level, 1.0f);
        visited.push_back(map.CurrentSlot());
        const int recorded = frame - frame % 4;
        EXPECT_EQ(map.PanCell(map.CurrentSlot(), 0, 45), 200 * recorded) << "frame " << frame;
    }
    EXPECT_EQ(visited, (std::vector<int>{0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3}));
}

// Both feed paths must place bins alike; every placement case runs through each.
enum class Path
{
    Single,
    Batch
};

class VisualMapPlacement : public ::testing::TestWithParam<Path>
{
protected:
    void SetUp() override
    {
        StartupMap(mMap);
        ASSERT_EQ(mMap.AllocFrames(44100, 200, 8, 8192), 0);
        mMap.SetFreqRange(4096, 40.0f, 22050.0f);
        mMap.Clear();
        mMap.NextFrame();
        mSlot = mMap.CurrentSlot();
    }

    // Feeds one frame in which only the given bins are non-silent.
    struct Bin
    {
        int Index;
        float Depth, Right, Left, Ratio;
    };
    void Feed(std::initializer_list<Bin> bins)
    {
        if (GetParam() == Path::Single) {
            for (const Bin& b : bins)
                mMap.AddBin(b.Index, b.Depth, b.Right, b.Left, b.Ratio);
            return;
        }
        std::vector<float> depth(4096, 0.0f), right(4096, 0.0f), left(4096, 0.0f),
            ratio(4096, 0.0f), sumMag(4096, 0.0f);
        for (const Bin& b : bins) {
            const size_t j = static_cast<size_t>(b.Index);
            depth[j] = b.Depth;
            right[j] = b.Right;
            left[j] = b.Left;
            ratio[j] = b.Ratio;
            sumMag[j] = SumMagnitude(b.Left, b.Right, b.Depth);
        }
        mMap.AddBins(depth.data(), right.data(), left.data(), ratio.data(), sumMag.data(), 4096);
    }

    int Row(int bin) const
    {
        return static_cast<int>((std::log10(static_cast<double>(bin)) - std::log10(mMap.MinBin())) *
                                mMap.RowsPerDecade());
    }

    TVisualMap mMap;
    int mSlot = 0;
};

TEST_P(VisualMapPlacement, EqualInPhaseBinLandsInCentreAndDepthZero)
{
    Feed({{1000, 0.0f, 1234.0f, 1234.0f, 1.0f}});
    const int y = Row(1000);
    EXPECT_EQ(mMap.PanCell(mSlot, y, 45), 2468);
    EXPECT_EQ(mMap.DepthCell(mSlot, y, 0), 2468);
    EXPECT_EQ(NonZeroPanCells(mMap, mSlot), 1);
}

TEST_P(VisualMapPlacement, OppositePhaseCancelsInPanButNotInDepth)
{
    Feed({{1000, kPiF, 1234.0f, 1234.0f, 1.0f}});
    const int y = Row(1000);
    // The mono sum of opposite bins is 0 up to sin(float pi) ~ 1e-7 of the magnitude.
    EXPECT_LE(mMap.PanCell(mSlot, y, 45), 1);
    EXPECT_EQ(mMap.DepthCell(mSlot, y, 39), 2468);
}

TEST_P(VisualMapPlacement, ColumnZeroTakesRatiosJustBelowTheLeftEdge)
{
    const double maxRatio = 10.0;
    // Column values in (-1, 0) truncate to 0: ratios down to maxRatio^(-46/45).
    const float inside = static_cast<float>(std::pow(maxRatio, -45.5 / 45.0));
    const float outside = static_cast<float>(std::pow(maxRatio, -46.5 / 45.0));
    const float beyondRight = static_cast<float>(maxRatio * 1.01);
    Feed({{1000, 0.5f, 100.0f, 300.0f, inside},
          {2000, 0.5f, 100.0f, 300.0f, outside},
          {3000, 0.5f, 300.0f, 100.0f, beyondRight},
          {3500, 0.5f, 300.0f, 100.0f, 0.0f}});
    EXPECT_GT(mMap.PanCell(mSlot, Row(1000), 0), 0);
    EXPECT_EQ(NonZeroPanCells(mMap, mSlot), 1) << "only the first bin is on the pan map";
    // Every bin still enters the depth map (0.5 rad x 40/pi = column 6).
    for (int bin : {1000, 2000, 3000, 3500})
        EXPECT_EQ(mMap.DepthCell(mSlot, Row(bin), 6), 400) << bin;
}

TEST_P(VisualMapPlacement, LargerOfTwoBinsInOneCellStays)
{
    // Bins 4000 and 4001 share the top row; opposite orders must both keep the larger.
    ASSERT_EQ(Row(4000), Row(4001));
    Feed({{4000, 0.0f, 100.0f, 100.0f, 1.0f}, {4001, 0.0f, 30.0f, 30.0f, 1.0f}});
    EXPECT_EQ(mMap.PanCell(mSlot, Row(4000), 45), 200);
    mMap.NextFrame();
    mSlot = mMap.CurrentSlot();
    Feed({{4000, 0.0f, 30.0f, 30.0f, 1.0f}, {4001, 0.0f, 100.0f, 100.0f, 1.0f}});
    EXPECT_EQ(mMap.PanCell(mSlot, Row(4000), 45), 200);
    EXPECT_EQ(mMap.DepthCell(mSlot, Row(4000), 0), 200);
}

TEST_P(VisualMapPlacement, BinsBelowLowestFrequencyAndSilentBinsChangeNothing)
{
    ASSERT_NEAR(mMap.MinBin(), 7.43f, 0.01f); // 40 Hz at 22050 / 4096 Hz per bin
    Feed({{7, 0.0f, 500.0f, 500.0f, 1.0f}, {100, 1.0f, 0.0f, 0.0f, 1.0f}});
    EXPECT_EQ(NonZeroPanCells(mMap, mSlot), 0);
    for (int x = 0; x < mMap.DepthWidth(); ++x)
        EXPECT_EQ(mMap.DepthCell(mSlot, 0, x) + mMap.DepthCell(mSlot, Row(100), x), 0);
    Feed({{8, 0.0f, 500.0f, 500.0f, 1.0f}});
    EXPECT_EQ(mMap.PanCell(mSlot, 0, 45), 1000);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, VisualMapPlacement,
                         ::testing::Values(Path::Single, Path::Batch),
                         [](const ::testing::TestParamInfo<Path>& param) {
                             return std::string(param.param == Path::Single ? "Single" : "Batch");
                         });

// Both paths over random frames whose column values stay 0.01 away from whole numbers, where
// they must agree; also when the filter's bin count differs from the map's row table (bins
// beyond the table take the single path, those above the top row are dropped).
TEST(VisualMapFeed, BatchPathAgreesWithSingleAwayFromBoundaries)
{
    struct Case
    {
        int TableBins, Count;
    };
    for (const Case c : {Case{4096, 4096}, Case{4096, 1000}, Case{2048, 4096}, Case{4096, 4100}}) {
        TVisualMap single, batch;
        StartupMap(single, 17.0f);
        StartupMap(batch, 17.0f);
        for (TVisualMap* m : {&single, &batch}) {
            ASSERT_EQ(m->AllocFrames(44100, 200, 8, 8192), 0);
            m->SetFreqRange(c.TableBins, 40.0f, 22050.0f);
            m->Clear();
        }
        std::mt19937 random(12345);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        const double xPerDecade = single.PanXPerDecade();
        const auto n = static_cast<size_t>(c.Count);
        for (int frame = 0; frame < 5; ++frame) {
            std::vector<float> depth(n), right(n), left(n), ratio(n), sumMag(n);
            for (size_t j = 0; j < n; ++j) {
                const double column =
                    -3 + std::floor(unit(random) * 96) + 0.01 + 0.98 * unit(random);
                ratio[j] = static_cast<float>(std::pow(10.0, (column - 45) / xPerDecade));
                const double depthColumn =
                    std::floor(unit(random) * 40) + 0.01 + 0.98 * unit(random);
                depth[j] = static_cast<float>(depthColumn * 3.14159265358979 / 40);
                left[j] = static_cast<float>(unit(random) * 1e5);
                right[j] = static_cast<float>(unit(random) * 1e5);
                sumMag[j] = SumMagnitude(left[j], right[j], depth[j]);
            }
            ratio[17] = 0.0f; // no pan position
            depth[18] = kPiF; // exactly pi
            sumMag[18] = SumMagnitude(left[18], right[18], kPiF);
            left[900] = right[900] = sumMag[900] = 0.0f; // silent
            single.NextFrame();
            batch.NextFrame();
            for (size_t j = 0; j < n; ++j)
                single.AddBin(static_cast<int>(j), depth[j], right[j], left[j], ratio[j]);
            batch.AddBins(depth.data(), right.data(), left.data(), ratio.data(), sumMag.data(),
                          c.Count);
            const int slot = single.CurrentSlot();
            for (int y = 0; y < 60; ++y) {
                // Magnitudes agree to a few float roundings of values up to 2e5 (sumMag comes
                // from double arithmetic, the single path rounds re and im to float first).
                for (int x = 0; x < 90; ++x)
                    ASSERT_NEAR(single.PanCell(slot, y, x), batch.PanCell(slot, y, x), 2)
                        << c.TableBins << "/" << c.Count << " " << y << "," << x;
                for (int x = 0; x < 40; ++x)
                    ASSERT_NEAR(single.DepthCell(slot, y, x), batch.DepthCell(slot, y, x), 2)
                        << c.TableBins << "/" << c.Count << " " << y << "," << x;
            }
        }
    }
}

// Passes the filter's frames to a map through the batch call and to a second map bin by bin.
class TwoMapFeed final : public VisualFeed
{
public:
    TwoMapFeed(TVisualMap& batch, TVisualMap& single) : mBatch(batch), mSingle(single) {}
    void NextFrame() noexcept override
    {
        mBatch.NextFrame();
        mSingle.NextFrame();
    }
    void AddBin(int bin, float depth, float magRight, float magLeft, float ratio) noexcept override
    {
        mBatch.AddBin(bin, depth, magRight, magLeft, ratio);
        mSingle.AddBin(bin, depth, magRight, magLeft, ratio);
    }
    void AddBins(const float* depth, const float* magRight, const float* magLeft,
                 const float* ratio, const float* sumMag, int count) noexcept override
    {
        mBatch.AddBins(depth, magRight, magLeft, ratio, sumMag, count);
        for (int j = 0; j < count; ++j)
            mSingle.AddBin(j, depth[j], magRight[j], magLeft[j], ratio[j]);
    }

private:
    TVisualMap& mBatch;
    TVisualMap& mSingle;
};

// The playing filter's real analysis (tones at several pans and phase differences over noise)
// gives the same picture through either path: sumMag is what the single path derives.
TEST(VisualMapFeed, FilterFramesGiveTheSameCellsThroughEitherPath)
{
    constexpr int kRate = 44100, kFft = 8192, kOverlap = 16;
    TVisualMap batch, single;
    for (TVisualMap* m : {&batch, &single}) {
        StartupMap(*m);
        ASSERT_EQ(m->AllocFrames(kRate, 200, kOverlap, kFft), 0);
        m->SetFreqRange(kFft / 2, 40.0f, kRate / 2.0f);
        m->Clear();
    }
    CenterFocus filter;
    ASSERT_TRUE(filter.Setup(kFft, kOverlap, kRate));
    TwoMapFeed feed(batch, single);
    filter.SetVisualSink(&feed);
    filter.SetVisualFeed(true);
    const size_t samples = 3 * kFft;
    std::vector<int32_t> left(samples), right(samples), outL(samples), outR(samples);
    std::mt19937 random(77);
    std::normal_distribution<double> noise(0.0, 200.0);
    for (size_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double l = noise(random), r = noise(random);
        const double tones[][3] = {{180, 1.0, 0.0}, {730, 0.3, 1.0}, {2900, 2.5, 2.2}};
        for (const auto& tone : tones) // frequency, right/left level, phase difference
        {
            l += 4000 * std::sin(2 * M_PI * tone[0] * t);
            r += 4000 * tone[1] * std::sin(2 * M_PI * tone[0] * t + tone[2]);
        }
        left[i] = static_cast<int32_t>(l);
        right[i] = static_cast<int32_t>(r);
    }
    filter.Process(left.data(), right.data(), outL.data(), outR.data(), static_cast<int>(samples));
    const int slot = batch.CurrentSlot();
    ASSERT_EQ(slot, single.CurrentSlot());
    int32_t loudest = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 90; ++x)
            loudest = std::max(loudest, single.PanCell(slot, y, x));
    ASSERT_GT(loudest, 1000000) << "the tones must reach the map";
    // The depth the single path works from comes from a fast arc tangent (within ~2e-7 rad),
    // so its mono magnitudes may be off by ~2e-7 of the loudest bin; and a column value
    // within float error of a whole number (about one bin in ten thousand) may land next door.
    const double tolerance = 1e-6 * loudest + 2;
    int differing = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 90; ++x)
            differing +=
                std::abs(batch.PanCell(slot, y, x) - single.PanCell(slot, y, x)) > tolerance;
        for (int x = 0; x < 40; ++x)
            differing +=
                std::abs(batch.DepthCell(slot, y, x) - single.DepthCell(slot, y, x)) > tolerance;
    }
    EXPECT_LE(differing, 2);
    EXPECT_GT(NonZeroPanCells(batch, slot), 500); // the noise spreads over the map
}

// Records one loud in-phase bin into `frames` successive frames.
void FeedFrames(TVisualMap& map, int frames, float magnitude)
{
    for (int i = 0; i < frames; ++i) {
        map.NextFrame();
        map.AddBin(1000, 0.0f, magnitude, magnitude, 1.0f);
    }
}

TEST(VisualMapBuild, AveragesOldestSlotsThroughPalette)
{
    TVisualMap map;
    StartupMap(map);
    map.SetColourScale(10); // divisor 1000
    map.Clear();
    // 12 slots, 4 averaged. After twelve recorded frames every slot holds 2 x 100000 in the
    // bin's pan cell, so do the four oldest.
    FeedFrames(map, 12, 100000.0f);
    map.BuildImages();
    const int y =
        static_cast<int>((std::log10(1000.0) - std::log10(map.MinBin())) * map.RowsPerDecade());
    const int r = map.PanHeight() - 1 - y;
    EXPECT_EQ(Pixel(map.PanImage(), 45, r), map.PaletteEntry(200)); // 200000 / 1000
    EXPECT_EQ(Pixel(map.DepthImage(), 0, r), map.PaletteEntry(200));
    EXPECT_EQ(Pixel(map.PanImage(), 44, r), map.PaletteEntry(0));
    EXPECT_EQ(Pixel(map.PanImage(), 45, r - 1), map.PaletteEntry(0));
    // Louder than the palette: clamped to its last entry. Twelve more frames bring the ring
    // back to the same slot index; the build must still see them.
    FeedFrames(map, 12, 200000.0f);
    map.BuildImages();
    EXPECT_EQ(Pixel(map.PanImage(), 45, r), map.PaletteEntry(255));
}

TEST(VisualMapBuild, HugeCellsSaturateInsteadOfOverflowing)
{
    TVisualMap map;
    StartupMap(map);
    ASSERT_EQ(map.AllocFrames(44100, 200, 64, 8192), 0); // 8 slots averaged
    map.SetColourScale(0);
    map.Clear();
    // Cells near 2^31 (a loud sine through a long FFT); eight of them overflow 32 bits.
    FeedFrames(map, 4 * 25, 1.5e9f);
    map.BuildImages();
    const int y =
        static_cast<int>((std::log10(1000.0) - std::log10(map.MinBin())) * map.RowsPerDecade());
    EXPECT_EQ(Pixel(map.PanImage(), 45, map.PanHeight() - 1 - y), map.PaletteEntry(255));
}

TEST(VisualMapBuild, RebuildsOnlyAfterANewFrame)
{
    TVisualMap map;
    StartupMap(map);
    map.Clear();
    FeedFrames(map, 12, 3000.0f);
    map.BuildImages();
    const QImage first = map.PanImage().copy();
    map.SetColourScale(10); // brighter, but no frame was recorded since
    map.BuildImages();
    EXPECT_EQ(map.PanImage(), first);
    map.Clear(); // does not reset the last built slot
    map.BuildImages();
    QImage black(first.size(), first.format());
    black.fill(Qt::black);
    EXPECT_EQ(map.PanImage(), black) << "Clear blacks the images out";
    FeedFrames(map, 12, 3000.0f);
    map.BuildImages();
    EXPECT_NE(map.PanImage(), first);
}

TEST(VisualMapBuild, SecondMapBuildsOnItsFirstCall)
{
    TVisualMap first, second;
    StartupMap(first);
    StartupMap(second);
    for (TVisualMap* m : {&first, &second}) {
        m->Clear();
        FeedFrames(*m, 12, 3000.0f);
    }
    first.BuildImages();
    second.BuildImages();
    EXPECT_EQ(second.PanImage(), first.PanImage());
    EXPECT_NE(second.PanImage().pixelColor(45, 0), QColor()); // sanity: a valid image
    bool lit = false;
    for (int y = 0; y < second.PanHeight(); ++y)
        lit = lit || second.PanImage().pixelColor(45, y) != QColor(Qt::black);
    EXPECT_TRUE(lit);
}

TEST(VisualMapFailure, NoAverageLeavesImagesUnchanged)
{
    TVisualMap map;
    StartupMap(map);
    // 4 kHz with 2048-point frames: fewer than one frame per 100 ms, nothing to average.
    ASSERT_EQ(map.AllocFrames(4000, 200, 4, 2048), 0);
    ASSERT_EQ(map.AverageCount(), 0);
    map.Clear();
    const QImage before = map.PanImage().copy();
    FeedFrames(map, 5, 1e6f);
    map.BuildImages();
    EXPECT_EQ(map.PanImage(), before);
}

TEST(VisualMapFailure, FailedAllocationBehavesAsEmptyMap)
{
    TVisualMap map;
    // Rings this large are refused like a failed allocation.
    EXPECT_EQ(map.Init(3000, 3000, 3000, 40.0f, 22050.0f, 10.0f), 1);
    EXPECT_FALSE(map.Allocated());
    map.Clear();
    FeedFrames(map, 5, 1e6f);
    std::vector<float> zeros(4096, 1.0f);
    map.AddBins(zeros.data(), zeros.data(), zeros.data(), zeros.data(), zeros.data(), 4096);
    map.BuildImages();
    EXPECT_EQ(map.CurrentSlot(), 0);
    EXPECT_EQ(map.PanCell(0, 0, 0), 0);

    TVisualMap bad;
    StartupMap(bad);
    EXPECT_EQ(bad.AllocFrames(44100, 200, 0, 8192), 1) << "overlap 0 has no hop";
    EXPECT_EQ(bad.AllocFrames(44100, 200, 16384, 8192), 1) << "hop below one sample";
    FeedFrames(bad, 3, 1e6f);
    bad.BuildImages();
    EXPECT_FALSE(bad.Allocated());
}

// A feeder thread plays the playback thread while this one builds pictures: clean under
// ThreadSanitizer because the shared cells and the slot index are atomics.
TEST(VisualMapThreads, FeedWhileBuilding)
{
    TVisualMap map;
    StartupMap(map);
    ASSERT_EQ(map.AllocFrames(44100, 200, 16, 8192), 0);
    map.Clear();
    std::atomic<bool> stop{false};
    std::atomic<int> frames{0};
    std::thread feeder([&] {
        std::vector<float> depth(4096, 0.3f), right(4096, 800.0f), left(4096, 900.0f),
            ratio(4096, 0.9f), sumMag(4096, SumMagnitude(900.0f, 800.0f, 0.3f));
        while (!stop.load()) {
            map.NextFrame();
            map.AddBins(depth.data(), right.data(), left.data(), ratio.data(), sumMag.data(), 4096);
            map.AddBin(100, 0.1f, 10.0f, 10.0f, 1.0f);
            frames.fetch_add(1);
        }
    });
    int builds = 0;
    // At least one build, however quickly the feeder gets through its frames on a busy machine.
    do {
        map.BuildImages();
        map.SetPanRange(builds % 2 ? 10.0f : 20.0f); // the slider may move while playing
        ++builds;
    } while (frames.load() < 200);
    stop = true;
    feeder.join();
    map.BuildImages();
    EXPECT_GT(builds, 0);
}

} // namespace
} // namespace varnel
