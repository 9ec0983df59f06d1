#include "app/Pictures.h"

#include "gui/WidgetApp.h"

#include <QPixmap>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace varnel {
namespace {

const Picture kAllPictures[] = {
    Picture::OpenFile, Picture::SaveFile, Picture::Settings,  Picture::Help,    Picture::Rewind,
    Picture::Play,     Picture::Pause,    Picture::RepeatOff, Picture::RepeatA, Picture::RepeatLoop,
};

// Runs a program with arguments and waits for it: its exit status, or -1. Not QProcess: the
// thread checker takes the way Qt starts its child for a fork of the test program itself, and
// then refuses every later thread of the program.
int RunProgram(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int AlphaAt(const QImage& image, int x, int y)
{
    return qAlpha(image.pixel(x, y));
}

// Pixels on an edge: neither background nor solid.
int PartialPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += AlphaAt(image, x, y) > 16 && AlphaAt(image, x, y) < 240 ? 1 : 0;
    return count;
}

double CoveredShare(const QImage& image)
{
    int covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            covered += AlphaAt(image, x, y) >= 128 ? 1 : 0;
    return static_cast<double>(covered) / (image.width() * image.height());
}

TEST(Pictures, EveryPictureIsDrawnAtOneAndTwiceItsSize)
{
    for (Picture picture : kAllPictures) {
        SCOPED_TRACE(static_cast<int>(picture));
        const QSize size = PictureSize(picture);
        const QImage one = DrawPicture(picture, 1.0);
        const QImage two = DrawPicture(picture, 2.0);
        EXPECT_EQ(one.size(), size);
        EXPECT_EQ(two.size(), size * 2);
        EXPECT_EQ(two.devicePixelRatio(), 2.0);
        // A picture shows something and is not a filled box.
        EXPECT_GT(CoveredShare(one), 0.05);
        EXPECT_LT(CoveredShare(one), 0.9);

        // The 2x picture is the same drawing: averaged over 2 x 2 blocks it gives the 1x one.
        long difference = 0;
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                const int mean =
                    (AlphaAt(two, 2 * x, 2 * y) + AlphaAt(two, 2 * x + 1, 2 * y) +
                     AlphaAt(two, 2 * x, 2 * y + 1) + AlphaAt(two, 2 * x + 1, 2 * y + 1)) /
                    4;
                difference += std::abs(mean - AlphaAt(one, x, y));
            }
        }
        // Antialiasing at two resolutions differs only along edges, a few levels on average.
        EXPECT_LT(static_cast<double>(difference) / (size.width() * size.height()), 12.0);

        // Drawn at its own resolution, not a pixel-doubled 1x copy: a doubled copy has four
        // times the 1x edge pixels, a real 2x drawing about twice as many.
        EXPECT_LE(PartialPixels(two), 3 * PartialPixels(one));
    }
}

TEST(Pictures, IconsHoldBothResolutions)
{
    test::WidgetApp(); // pixmaps need the application
    for (Picture picture : kAllPictures) {
        SCOPED_TRACE(static_cast<int>(picture));
        const QSize size = PictureSize(picture);
        const QIcon icon = PictureIcon(picture);
        const QList<QSize> sizes = icon.availableSizes();
        EXPECT_TRUE(sizes.contains(size));
        EXPECT_TRUE(sizes.contains(size * 2));
        const QPixmap sharp = icon.pixmap(size, 2.0);
        EXPECT_EQ(sharp.size(), size * 2);
        EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
    }
}

// Lit (orange-red) pixels of a repeat picture, by the half they fall in.
struct LitPixels
{
    int left = 0;
    int right = 0;
};

LitPixels CountLit(const QImage& image)
{
    LitPixels lit;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            // Grey has red close to green; the lit colour has far more red.
            if (qAlpha(c) >= 128 && qRed(c) > qGreen(c) + 60)
                (x < image.width() / 2 ? lit.left : lit.right) += 1;
        }
    }
    return lit;
}

TEST(Pictures, RepeatPicturesShowWhichPointsAreSet)
{
    EXPECT_EQ(RepeatPicture(0), Picture::RepeatOff);
    EXPECT_EQ(RepeatPicture(1), Picture::RepeatA);
    EXPECT_EQ(RepeatPicture(2), Picture::RepeatLoop);
    EXPECT_EQ(RepeatPicture(7), Picture::RepeatOff);

    struct Row
    {
        int state;
        bool leftLit;  // "A" (and its marker)
        bool rightLit; // "B"
    };
    const Row rows[] = {{0, false, false}, {1, true, false}, {2, true, true}};
    std::vector<QImage> images;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.state);
        const QImage image = DrawPicture(RepeatPicture(row.state), 1.0);
        EXPECT_EQ(image.size(), QSize(56, 24));
        const LitPixels lit = CountLit(image);
        EXPECT_EQ(lit.left > 20, row.leftLit);
        EXPECT_EQ(lit.right > 20, row.rightLit);
        EXPECT_EQ(lit.right == 0, !row.rightLit);
        images.push_back(image);
    }
    EXPECT_NE(images[0], images[1]);
    EXPECT_NE(images[1], images[2]);
    EXPECT_NE(images[0], images[2]);
}

TEST(Pictures, AppIconIsOneDrawingAtEverySize)
{
    const QImage large = DrawAppIcon(512);
    for (int pixels : {16, 32, 48, 128}) {
        SCOPED_TRACE(pixels);
        const QImage small = DrawAppIcon(pixels);
        ASSERT_EQ(small.size(), QSize(pixels, pixels));
        // Rounded tile: the corner is background, the centre is covered.
        EXPECT_EQ(AlphaAt(small, 0, 0), 0);
        EXPECT_EQ(AlphaAt(small, pixels / 2, pixels / 2), 255);
        const QImage reference =
            large.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        long difference = 0;
        for (int y = 0; y < pixels; ++y) {
            for (int x = 0; x < pixels; ++x) {
                const QRgb a = small.pixel(x, y);
                const QRgb b = reference.pixel(x, y);
                difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                              std::abs(qBlue(a) - qBlue(b));
            }
        }
        // Drawing small and shrinking a large drawing differ along edges only; at 16 pixels
        // nearly every pixel is an edge, so the bound is loose.
        EXPECT_LT(static_cast<double>(difference) / (3.0 * pixels * pixels), 20.0);
    }
    test::WidgetApp(); // pixmaps need the application
    const QList<QSize> sizes = AppIcon().availableSizes();
    for (int pixels : {16, 24, 32, 48, 64, 128, 256, 512})
        EXPECT_TRUE(sizes.contains(QSize(pixels, pixels))) << pixels;
}

TEST(Pictures, InstalledSvgIconMatchesTheDrawing)
{
    // The scalable icon is written by hand; an independent renderer must see the same picture
    // as the program draws.
    const QString renderer = QStandardPaths::findExecutable(QStringLiteral("rsvg-convert"));
    if (renderer.isEmpty())
        GTEST_SKIP() << "rsvg-convert is not installed (scripts/setup installs librsvg2-bin)";
    const std::string svg =
        std::string(VARNEL_TEST_DATA) + "/../../packaging/org.varnel.Varnel.svg";
    test::TempDir dir;
    const QString png = QString::fromStdString(dir.Path() + "/icon.png");
    const int pixels = 64;
    ASSERT_EQ(RunProgram({renderer.toStdString(), "-w", std::to_string(pixels), "-h",
                          std::to_string(pixels), "-o", png.toStdString(), svg}),
              0);
    const QImage rendered = QImage(png).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(rendered.size(), QSize(pixels, pixels));
    const QImage drawn = DrawAppIcon(pixels);
    int differing = 0;
    for (int y = 0; y < pixels; ++y) {
        for (int x = 0; x < pixels; ++x) {
            const QRgb a = rendered.pixel(x, y);
            const QRgb b = drawn.pixel(x, y);
            const int most =
                std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                          std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
            differing += most > 40 ? 1 : 0;
        }
    }
    // Two rasterisers antialias edges a little differently, but no pixel's colour differs by
    // much; a moved shape changes tens of pixels outright.
    EXPECT_LE(differing, 4) << differing;
}

} // namespace
} // namespace varnel
