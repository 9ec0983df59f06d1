#include "visual/MapPicture.h"

#include "visual/GuiApp.h"
#include "visual/Screenmap.h"
#include "visual/Visualmap.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

AreaGeometry Geometry(int halfRate, float panScale)
{
    AreaGeometry g;
    g.HalfRate = halfRate;
    g.PanScale = panScale;
    return g;
}

// Edges -> filter bounds (the window's arithmetic) -> edges must give the same pixels, for
// every pixel of every edge, so a picture shows the area the window would have drawn.
TEST(MapPictureEdges, EveryEdgeSurvivesTheRoundTrip)
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

TEST(MapPictureEdges, OpenOutOfRangeAndBackwardBounds)
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

TEST(MapPictureLayout, ScreensAndScalesWhereTheWindowHasThem)
{
    test::GuiApp();
    TVisualMap visual;
    ASSERT_EQ(visual.Init(90, 60, 40, 40.0f, 22050.0f, 10.0f), 0);
    TScreenMap screens(&visual);
    screens.DrawInitial();
    screens.Compose(0, 56, 98, 283, 140, 56, 420, 283);
    const QImage picture = MapAreaPicture(screens);
    ASSERT_EQ(picture.size(), QSize(793, 360));
    struct Part
    {
        const QImage* Image;
        QPoint At;
    };
    const Part parts[] = {{&screens.Screen1Image(), map_layout::kScreen1At},
                          {&screens.Screen2Image(), map_layout::kScreen2At},
                          {&screens.FreqScaleImage(), map_layout::kFreqScaleAt},
                          {&screens.PanScaleImage(), map_layout::kPanScaleAt}};
    for (const Part& part : parts) {
        const QImage& image = *part.Image;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                ASSERT_EQ(picture.pixelColor(part.At + QPoint(x, y)), image.pixelColor(x, y))
                    << part.At.x() << ": " << x << "," << y;
    }
    // Beside the pan scale, under the frequency scale: the window's background.
    EXPECT_EQ(picture.pixelColor(580, 350), screens.ScaleBackground());
}

} // namespace
} // namespace varnel
