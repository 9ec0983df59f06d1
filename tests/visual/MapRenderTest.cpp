#include "visual/MapPicture.h"

#include "audio/Twave.h"
#include "dsp/Cntrfocus.h"
#include "support/TestSupport.h"
#include "visual/GuiApp.h"
#include "visual/Screenmap.h"
#include "visual/Visualmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace varnel {
namespace {

constexpr int kRate = 44100;

// Seconds of a mix whose content changes every 100 ms (tones hop in pitch and pan), so maps
// taken from different frames differ.
std::vector<int16_t> ChangingMix(double seconds)
{
    const size_t frames = static_cast<size_t>(seconds * kRate);
    std::vector<int16_t> pcm(2 * frames);
    uint32_t noise = 12345;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const int step = static_cast<int>(t * 10);
        const double f = 200.0 * std::pow(1.12, step % 25);
        const double pan = (step % 7) / 6.0;
        const double tone = 9000 * std::sin(2 * M_PI * f * t);
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 16) - 32768.0) * 0.03;
        pcm[2 * i] = static_cast<int16_t>(tone * (1 - pan) + hiss);
        pcm[2 * i + 1] = static_cast<int16_t>(tone * pan - hiss);
    }
    return pcm;
}

// What the window shows when the reader is at readerFrame after playing from the start with
// visuals on: every frame fed to the map, nothing skipped.
QImage PlayedFromStart(const std::string& path, int quality, int64_t readerFrame)
{
    const FftParams fft = ChooseFftParams(quality, kRate);
    TVisualMap map;
    map.Init(90, 60, 40, 40.0f, 22050.0f, 50.0f);
    map.SetPanRange(10.0f);
    map.SetColourScale(5);
    map.AllocFrames(kRate, 200, fft.Overlap, fft.FftSize);
    map.SetFreqRange(fft.FftSize / 2, 40.0f, kRate / 2.0f);
    map.Clear();
    CenterFocus filter;
    EXPECT_TRUE(filter.Setup(fft.FftSize, fft.Overlap, kRate));
    filter.SetVisualSink(&map);
    filter.SetVisualFeed(true);
    const std::vector<int16_t> pcm = test::ReadWavSamples(path);
    std::vector<int32_t> left, right;
    for (int64_t i = 0; i < readerFrame; ++i) {
        left.push_back(pcm[static_cast<size_t>(2 * i)]);
        right.push_back(pcm[static_cast<size_t>(2 * i + 1)]);
    }
    std::vector<int32_t> outL(left.size()), outR(left.size());
    // Odd pieces, as the playback pumps deliver them.
    for (size_t at = 0; at < left.size();) {
        const size_t n = std::min<size_t>(1323 + at % 977, left.size() - at);
        filter.Process(left.data() + at, right.data() + at, outL.data() + at, outR.data() + at,
                       static_cast<int>(n));
        at += n;
    }
    TScreenMap screens(&map);
    screens.DrawInitial();
    screens.DrawBackground(22050.0f, 40.0f, 10.0f);
    screens.Compose(StartupEdges());
    return MapAreaPicture(screens);
}

class MapRenderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::GuiApp();
        mPath = mDir.File("mix.wav");
        test::WriteWav16(mPath, ChangingMix(3.0), kRate);
    }

    MapPictureResult Render(double at, int quality)
    {
        TWaveData input;
        EXPECT_EQ(input.OpenRead(mPath), 0);
        MapPictureRequest request;
        request.AtSeconds = at;
        request.Quality = quality;
        return RenderMapPicture(input, request);
    }

    test::TempDir mDir;
    std::string mPath;
};

// The picture comes from a short run just before the moment; it must equal what playing the
// whole file up to that moment shows, also where every fourth frame is recorded (quality 4).
TEST_F(MapRenderTest, ShortRunShowsWhatPlayingFromTheStartShows)
{
    struct Case
    {
        double At;
        int Quality;
    };
    const Case cases[] = {{2.0, 2}, {1.3, 4}, {2.51, 4}, {0.05, 2}, {0.1, 4}};
    for (const Case& c : cases) {
        const MapPictureResult result = Render(c.At, c.Quality);
        ASSERT_EQ(result.Status, MapPictureStatus::Done);
        const FftParams fft = ChooseFftParams(c.Quality, kRate);
        const int64_t heard = static_cast<int64_t>(c.At * kRate);
        EXPECT_EQ(result.HeardFrame, heard);
        EXPECT_EQ(result.ReaderFrame,
                  heard + PlayLatencyFrames(kRate / 2, 200, fft.FftSize, fft.Overlap));
        const QImage expected = PlayedFromStart(mPath, c.Quality, result.ReaderFrame);
        EXPECT_TRUE(result.Picture == expected) << "at " << c.At << " quality " << c.Quality;
        if (c.At > 1.0) {
            EXPECT_LT(result.FramesFiltered, result.ReaderFrame / 2) << "the run stays short";
        }
    }
    // Different moments give different pictures (the comparison above can tell them apart).
    EXPECT_FALSE(Render(1.0, 2).Picture == Render(2.0, 2).Picture);
}

TEST_F(MapRenderTest, MomentsNearAndAfterTheEnd)
{
    const MapPictureResult middle = Render(-1.0, 2);
    EXPECT_EQ(middle.HeardFrame, 3 * kRate / 2);
    // Near the end the reader stops at the last frame, as the window does.
    const MapPictureResult late = Render(2.9, 2);
    ASSERT_EQ(late.Status, MapPictureStatus::Done);
    EXPECT_EQ(late.ReaderFrame, 3 * kRate);
    EXPECT_TRUE(late.Picture == PlayedFromStart(mPath, 2, 3 * kRate));
    EXPECT_EQ(Render(3.5, 2).Status, MapPictureStatus::TimeBeyondEnd);
}

} // namespace
} // namespace varnel
