#include "visual/MapPicture.h"

#include "visual/GuiApp.h"
#include "visual/Screenmap.h"
#include "visual/Visualmap.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

TEST(MapPictureLayout, ScreensAndScalesWhereTheWindowHasThem)
{
    test::GuiApp();
    TVisualMap visual;
    ASSERT_EQ(visual.Init(90, 60, 40, 40.0f, 22050.0f, 10.0f), 0);
    TScreenMap screens(&visual);
    screens.DrawInitial();
    screens.Compose(StartupEdges());
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
