// Mouse events go through the window system, so Qt routes them as it routes a real mouse
// (the implicit grab of a held button included).
#define QTEST_QPA_MOUSE_HANDLING

#include "app/Mainform.h"
#include "app/MapScreen.h"
#include "audio/ExportJob.h"
#include "audio/PlaybackTestSupport.h"

#include "gui/AreaTestSupport.h"
#include "gui/WindowFixture.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace varnel {

namespace {

using test::Edges;
const AreaEdges kStart = test::kStartEdges;

// The main window on the test device and a manual clock, shown, so the mouse reaches it
// through the window system; the playback thread stays parked unless a test plays.
class AreaWindow : public ::testing::Test
{
protected:
    AreaWindow()
    {
        mW.Form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(mW.Form.get()));
    }

    // Hover onto from, press, move through the points, release at the last: a user's drag.
    // The first hover comes from a pixel away so that it is a move Qt passes on.
    static void Drag(QWidget* screen, QPoint from, std::initializer_list<QPoint> to)
    {
        QTest::mouseMove(screen, from + QPoint(1, 1));
        QTest::mouseMove(screen, from);
        QTest::mousePress(screen, Qt::LeftButton, {}, from);
        QPoint last = from;
        for (const QPoint& p : to) {
            QTest::mouseMove(screen, p);
            last = p;
        }
        QTest::mouseRelease(screen, Qt::LeftButton, {}, last);
    }

    static void DoubleClick(QWidget* screen, QPoint at)
    {
        QTest::mouseMove(screen, at + QPoint(1, 1));
        QTest::mouseMove(screen, at);
        QTest::mouseDClick(screen, Qt::LeftButton, {}, at);
    }

    static void Click(QWidget* control) { QTest::mouseClick(control, Qt::LeftButton); }

    TForm1& Form() { return *mW.Form; }
    QWidget* Screen(int n) { return n == 1 ? Form().Screen1 : Form().Screen2; }
    QString HighLabel() { return Form().FrqHiLbl->text(); }
    QString LowLabel() { return Form().FrqLwLbl->text(); }

    test::WindowFixture mW;
    ManualClock& mClock = mW.Clock;
};

TEST_F(AreaWindow, StartsWithTheStartupAreaAndItsLabels)
{
    EXPECT_EQ(Form().Area.Edges(), kStart);
    EXPECT_EQ(HighLabel(), "7796Hz");
    EXPECT_EQ(LowLabel(), "115Hz");
    // The left and right edges lie half-way from the centre to the borders of a pan scale of
    // 10: ratios 10^-0.5 and 10^0.5.
    EXPECT_NEAR(Form().PanLow, 0.316228f, 2e-6f);  // float rounding of exponent and power
    EXPECT_NEAR(Form().PanHigh, 3.162278f, 2e-5f); // the same, ten times larger
    EXPECT_EQ(Form().DepthLow, 0.0f);
    EXPECT_NEAR(Form().DepthHigh, kPi / 2, 1e-6f); // 98 steps of a float pi/196
}

TEST_F(AreaWindow, EveryGrabKindDragsByMouseAlsoOutsideTheScreen)
{
    struct Case
    {
        const char* Name;
        int ScreenNo;
        QPoint From, To;
        Qt::CursorShape Cursor; // shown after the hover onto From
        AreaEdges Expected;
    };
    // clang-format off
    const Case cases[] = {
        {"whole", 1, {280, 150}, {300, 170}, Qt::PointingHandCursor, Edges(160, 76, 440, 303, 0, 98)},
        {"whole out past the bottom right", 1, {280, 150}, {900, 700}, Qt::PointingHandCursor,
         Edges(280, 113, 560, 340, 0, 98)},
        {"top", 1, {300, 56}, {300, 30}, Qt::SizeVerCursor, Edges(140, 30, 420, 283, 0, 98)},
        {"bottom", 1, {300, 282}, {300, 300}, Qt::SizeVerCursor, Edges(140, 56, 420, 301, 0, 98)},
        {"left out past the border", 1, {140, 150}, {-80, 150}, Qt::SizeHorCursor,
         Edges(0, 56, 420, 283, 0, 98)},
        {"right", 1, {419, 150}, {500, 150}, Qt::SizeHorCursor, Edges(140, 56, 501, 283, 0, 98)},
        {"top-left", 1, {140, 56}, {100, 40}, Qt::SizeFDiagCursor, Edges(100, 40, 420, 283, 0, 98)},
        {"top-right out over Screen2", 1, {419, 56}, {700, 20}, Qt::SizeBDiagCursor,
         Edges(140, 20, 560, 283, 0, 98)},
        {"bottom-left", 1, {140, 282}, {120, 320}, Qt::SizeBDiagCursor,
         Edges(120, 56, 420, 321, 0, 98)},
        {"bottom-right", 1, {419, 282}, {430, 290}, Qt::SizeFDiagCursor,
         Edges(140, 56, 431, 291, 0, 98)},
        {"Screen2 whole out past the top left", 2, {50, 150}, {-300, -300}, Qt::PointingHandCursor,
         Edges(140, 0, 420, 227, 0, 98)},
        {"Screen2 right out over Screen1", 2, {97, 150}, {-100, 150}, Qt::SizeHorCursor,
         Edges(140, 56, 420, 283, 0, 20)},
    };
    // clang-format on
    for (const Case& c : cases) {
        Form().SetEdges(kStart);
        MapScreen* screen = c.ScreenNo == 1 ? Form().Screen1 : Form().Screen2;
        QTest::mouseMove(screen, c.From + QPoint(1, 1));
        QTest::mouseMove(screen, c.From);
        EXPECT_EQ(screen->cursor().shape(), c.Cursor) << c.Name;
        Drag(screen, c.From, {c.To});
        EXPECT_EQ(Form().Area.Edges(), c.Expected) << c.Name;
        EXPECT_FALSE(Form().Area.Dragging()) << c.Name;
    }
    // Away from the area the cursor is the arrow again.
    QTest::mouseMove(Form().Screen1, QPoint(5, 5));
    EXPECT_EQ(Form().Screen1->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(AreaWindow, MinimumSizesFromEitherSide)
{
    struct Case
    {
        const char* Name;
        int ScreenNo;
        QPoint From;
        QPoint To;
        int Width;  // of the dragged screen's rectangle afterwards
        int Height; // of both rectangles afterwards
    };
    const Case cases[] = {
        {"left past the right", 1, {140, 150}, {900, 150}, 21, 227},
        {"right past the left", 1, {419, 150}, {-50, 150}, 20, 227},
        {"top past the bottom", 1, {300, 56}, {300, 500}, 280, 21},
        {"bottom past the top", 2, {50, 282}, {50, -20}, 98, 20},
        {"Screen2 right past the left", 2, {97, 150}, {-50, 150}, 20, 227},
    };
    for (const Case& c : cases) {
        Form().SetEdges(kStart);
        Drag(Screen(c.ScreenNo), c.From, {c.To});
        const AreaEdges& e = Form().Area.Edges();
        const int width = c.ScreenNo == 1 ? e.Area1Right - e.Area1Left : e.Area2Right - e.Area2Left;
        EXPECT_EQ(width, c.Width) << c.Name;
        EXPECT_EQ(e.Area1Bottom - e.Area1Top, c.Height) << c.Name;
        EXPECT_EQ(e.Area2Bottom - e.Area2Top, c.Height) << c.Name;
    }
}

TEST_F(AreaWindow, BordersGiveTheOpenBounds)
{
    // Right, left, top and bottom dragged out past the borders.
    Drag(Form().Screen1, {419, 150}, {{800, 150}});
    Drag(Form().Screen1, {140, 150}, {{-10, 150}});
    EXPECT_EQ(Form().PanLow, 0.0f);
    EXPECT_EQ(Form().PanHigh, 65535.0f);
    Drag(Form().Screen1, {300, 56}, {{300, -40}});
    Drag(Form().Screen2, {50, 282}, {{50, 400}});
    EXPECT_EQ(Form().FreqHighHz, 22050.0f);
    EXPECT_EQ(Form().FreqLowHz, 0.0f);
    EXPECT_EQ(HighLabel(), "22050Hz");
    EXPECT_EQ(LowLabel(), "0Hz");
    Drag(Form().Screen2, {97, 150}, {{400, 150}});
    EXPECT_EQ(Form().Area.Edges().Area2Right, 196);
    EXPECT_NEAR(Form().DepthHigh, kPi, 4e-7f); // 196 steps of a float pi/196

    // A file of 48 kHz puts its half rate on the top row; the area is kept.
    test::TempDir dir;
    test::WriteWav16(dir.File("a.wav"), test::StereoMix(4800, 48000), 48000);
    Form().LoadWaveFile(QString::fromStdString(dir.File("a.wav")));
    EXPECT_EQ(Form().HalfRate, 24000);
    EXPECT_EQ(Form().FreqHighHz, 24000.0f);
    EXPECT_EQ(HighLabel(), "24000Hz");
    EXPECT_EQ(LowLabel(), "0Hz");
}

TEST_F(AreaWindow, FixCheckBoxesHoldTheirEdges)
{
    Click(Form().PanCheck);
    ASSERT_TRUE(Form().PanCheck->isChecked());
    Drag(Form().Screen1, {140, 56}, {{100, 40}});   // corner: only the top follows
    Drag(Form().Screen1, {280, 150}, {{330, 160}}); // whole: only up and down
    Drag(Form().Screen2, {97, 150}, {{120, 150}});  // depth edges are never fixed
    EXPECT_EQ(Form().Area.Edges(), Edges(140, 50, 420, 293, 0, 121));

    Click(Form().PanCheck);
    Click(Form().FreqCheck);
    ASSERT_TRUE(Form().FreqCheck->isChecked());
    Form().SetEdges(kStart);
    Drag(Form().Screen1, {300, 56}, {{300, 10}});   // top stays
    Drag(Form().Screen2, {97, 282}, {{130, 330}});  // corner: only the depth edge
    Drag(Form().Screen1, {280, 150}, {{300, 100}}); // whole: only across
    EXPECT_EQ(Form().Area.Edges(), Edges(160, 56, 440, 283, 0, 131));
    EXPECT_EQ(HighLabel(), "7796Hz");
    EXPECT_EQ(LowLabel(), "115Hz");
}

TEST_F(AreaWindow, FrequencyEdgesAreSharedByBothScreens)
{
    Drag(Form().Screen2, {50, 56}, {{50, 0}});
    EXPECT_EQ(Form().Area.Edges().Area1Top, 0);
    EXPECT_EQ(HighLabel(), "22050Hz");
    Drag(Form().Screen1, {300, 282}, {{300, 339}});
    EXPECT_EQ(Form().Area.Edges().Area2Bottom, 340);
    EXPECT_EQ(LowLabel(), "0Hz");
    // The composed Screen2 picture shows the frame on the row Screen1 moved it to: its bottom
    // line, one pixel inside the last row, is red.
    EXPECT_EQ(Form().ScreenMap->Screen2Image().pixelColor(50, 339).red(), 250);
}

TEST_F(AreaWindow, MaximiseTogglesRestoreTheArea)
{
    struct Case
    {
        const char* Name;
        std::function<void(TForm1&)> Toggle;
        AreaEdges Maximised;
        int Mode;
    };
    const Case cases[] = {
        {"PanMaxBtn", [](TForm1& f) { Click(f.PanMaxBtn); }, Edges(0, 56, 560, 283, 0, 98),
         kMaxPan},
        {"FrqMaxBtn", [](TForm1& f) { Click(f.FrqMaxBtn); }, Edges(140, 0, 420, 340, 0, 98),
         kMaxFreq},
        {"PhaseMaxBtn", [](TForm1& f) { Click(f.PhaseMaxBtn); }, Edges(140, 56, 420, 283, 0, 196),
         kMaxDepth},
        {"Screen1 double-click",
         [](TForm1& f) {
             DoubleClick(f.Screen1, {280, 150});
         },
         Edges(0, 0, 560, 340, 0, 98), kMaxScreen1},
        {"Screen2 double-click",
         [](TForm1& f) {
             DoubleClick(f.Screen2, {50, 150});
         },
         Edges(140, 0, 420, 340, 0, 196), kMaxScreen2},
    };
    for (const Case& c : cases) {
        Form().SetEdges(kStart);
        c.Toggle(Form());
        EXPECT_EQ(Form().Area.Edges(), c.Maximised) << c.Name;
        EXPECT_EQ(Form().Area.MaxMode(), c.Mode) << c.Name;
        c.Toggle(Form());
        EXPECT_EQ(Form().Area.Edges(), kStart) << c.Name;
        EXPECT_EQ(Form().Area.MaxMode(), kMaxNone) << c.Name;
        EXPECT_EQ(HighLabel(), "7796Hz") << c.Name;
    }
    // What the maximised ranges mean to the filter.
    Click(Form().PanMaxBtn);
    EXPECT_EQ(Form().PanLow, 0.0f);
    EXPECT_EQ(Form().PanHigh, 65535.0f);
    Click(Form().FrqMaxBtn);
    EXPECT_EQ(HighLabel(), "22050Hz");
    EXPECT_EQ(LowLabel(), "0Hz");
}

TEST_F(AreaWindow, DraggingAMaximisedAreaEndsTheMaximise)
{
    Click(Form().PanMaxBtn);
    Drag(Form().Screen1, {559, 150}, {{557, 150}});
    EXPECT_EQ(Form().Area.Edges().Area1Right, 558);
    EXPECT_EQ(Form().Area.MaxMode(), kMaxNone);
    EXPECT_NE(Form().PanHigh, 65535.0f);
    // The button maximises again rather than restoring.
    Click(Form().PanMaxBtn);
    EXPECT_EQ(Form().Area.Edges().Area1Right, 560);
    EXPECT_EQ(Form().PanHigh, 65535.0f);
}

TEST_F(AreaWindow, DoubleClickOnAnEdgeOrCornerDoesNothing)
{
    DoubleClick(Form().Screen1, {140, 150}); // left edge
    DoubleClick(Form().Screen1, {419, 282}); // corner
    DoubleClick(Form().Screen2, {97, 150});  // Screen2's right edge
    EXPECT_EQ(Form().Area.Edges(), kStart);
    EXPECT_EQ(Form().Area.MaxMode(), kMaxNone);
}

TEST_F(AreaWindow, CentreButtonCentresThePanRange)
{
    Drag(Form().Screen1, {280, 150}, {{350, 150}}); // 210 .. 490
    Drag(Form().Screen1, {489, 150}, {{449, 150}}); // right edge to 450: 240 wide
    Click(Form().PanCheck);                         // centring ignores the fix
    Click(Form().CenterBtn);
    EXPECT_EQ(Form().Area.Edges().Area1Left, 160);
    EXPECT_EQ(Form().Area.Edges().Area1Right, 400);
    // Symmetric about the centre column: the ratios are each other's inverses.
    EXPECT_NEAR(Form().PanLow * Form().PanHigh, 1.0f, 1e-6f); // float rounding of both
}

TEST_F(AreaWindow, InvertMovesTheTintInside)
{
    // Inside the area and outside it, away from every grid line: the background (0, 5, 80),
    // tinted by OR with (40, 70, 70).
    const QPoint inside(300, 150);
    const QPoint outside(30, 20);
    auto shown = [this](QPoint p) { return Form().Screen1->grab().toImage().pixelColor(p); };
    EXPECT_EQ(shown(inside), QColor(0, 5, 80));
    EXPECT_EQ(shown(outside), QColor(40, 71, 86));
    Click(Form().InvCheck);
    EXPECT_TRUE(Form().Inverted);
    EXPECT_EQ(shown(inside), QColor(40, 71, 86));
    EXPECT_EQ(shown(outside), QColor(0, 5, 80));
}

TEST_F(AreaWindow, PanScaleEndsKeepTheEdgesInPixels)
{
    // The left edge lies half-way from the centre to the border: ratio PanScale^-0.5.
    struct Case
    {
        Qt::Key Key; // arrow keys on the slider (Home and End are the window's shortcuts)
        int Presses;
        int Position;
        float Scale;
        float Low;
    };
    const Case cases[] = {{Qt::Key_Left, 4, 0, 2.511886f, 0.630957f},
                          {Qt::Key_Right, 12, 10, 251.1886f, 0.0630957f}};
    for (const Case& c : cases) {
        for (int i = 0; i < c.Presses; ++i)
            QTest::keyClick(Form().PanScaleBar, c.Key);
        ASSERT_EQ(Form().PanScaleBar->value(), c.Position);
        EXPECT_NEAR(Form().PanScale, c.Scale, c.Scale * 1e-6f); // float rounding of 10^x
        EXPECT_NEAR(Form().PanLow, c.Low, c.Low * 1e-5f);       // the exponent's rounding
        EXPECT_NEAR(Form().PanHigh, 1.0f / c.Low, 1e-5f / c.Low);
        EXPECT_EQ(Form().Area.Edges(), kStart);
    }
}

TEST_F(AreaWindow, DragComposesUnlessPlayingAndTheTimerIsLate)
{
    const QImage& picture = Form().ScreenMap->Screen1Image();
    // Moves the left edge to x and tells whether the picture now has its frame there.
    auto frameFollows = [&](int from, int x) {
        Drag(Form().Screen1, {from, 150}, {{x, 150}});
        return picture.pixelColor(x, 150).red() == 250;
    };
    EXPECT_TRUE(frameFollows(140, 120));
    // Pretend to play with the last tick half a buffer (100 ms) ago: the timer will compose.
    Form().Playing = true;
    Form().LastTickTime = mClock.Milliseconds() - 100;
    EXPECT_FALSE(frameFollows(120, 100));
    EXPECT_EQ(Form().Area.Edges().Area1Left, 100); // the area itself did move
    Form().LastTickTime = mClock.Milliseconds() - 99;
    EXPECT_TRUE(frameFollows(100, 80));
    Form().Playing = false;
}

// What is heard after a drag while playing equals the export of the new area.
TEST_F(AreaWindow, HeardAfterADragEqualsTheExportOfTheNewArea)
{
    const int rate = 22050;
    const int frames = 4 * rate;
    test::TempDir dir;
    const std::vector<int16_t> input = test::StereoMix(frames, rate);
    test::WriteWav16(dir.File("mix.wav"), input, rate);
    Form().LoadWaveFile(QString::fromStdString(dir.File("mix.wav")));
    ASSERT_TRUE(Form().PlayIn.IsOpen);
    auto areaOf = [](const TForm1& f) {
        FilterArea a;
        a.PanLow = f.PanLow;
        a.PanHigh = f.PanHigh;
        a.FreqLowHz = f.FreqLowHz;
        a.FreqHighHz = f.FreqHighHz;
        a.DepthLow = f.DepthLow;
        a.DepthHigh = f.DepthHigh;
        a.Inverted = f.Inverted;
        return a;
    };
    const FilterArea before = areaOf(Form());

    Click(Form().PlayButton);
    ASSERT_TRUE(Form().Playing);
    ASSERT_TRUE(mClock.WaitForSleep(1));
    const int ringFrames = Form().Dsound.BufferBytes() / 4;
    uint32_t state = 4242;
    int64_t heardFrames = 0;
    int64_t postedAt = -1;
    while (heardFrames < static_cast<int64_t>(frames) + 2 * ringFrames + 8192) {
        if (postedAt < 0 && Form().PlayIn.TellFrame() >= frames / 2) {
            // Pan range to the left side and depth to the whole range, in two drags while the
            // thread sleeps; it takes all of it at its next cycle, before its pump.
            Drag(Form().Screen1, {280, 150}, {{200, 150}, {120, 170}});
            Drag(Form().Screen2, {97, 150}, {{300, 150}});
            postedAt = Form().PlayIn.TellFrame();
        }
        state = state * 1664525u + 1013904223u;
        const int step = 1 + static_cast<int>((state >> 8) % static_cast<uint32_t>(ringFrames - 1));
        ASSERT_TRUE(mW.Device->AdvanceCursor(step * 4));
        heardFrames += step;
        ASSERT_TRUE(mClock.StepAndWait());
    }
    // Paused without handling events: a timer tick at the end of the file would pause too.
    mClock.SetFreeRunning(true);
    Form().StopPlayback();
    ASSERT_FALSE(Form().Playing);
    ASSERT_GT(postedAt, 0);
    const FilterArea after = areaOf(Form());
    ASSERT_NE(after.PanHigh, before.PanHigh);

    auto exportWith = [&](const FilterArea& area) {
        TWaveData in;
        TWaveData out;
        EXPECT_EQ(in.OpenRead(dir.File("mix.wav")), 0);
        out.Format = in.Format;
        EXPECT_EQ(out.OpenWrite(dir.File("out.wav")), 0);
        ExportSettings settings;
        settings.FftSize = Form().FftSize;
        settings.Overlap = Form().Overlap;
        settings.Area = area;
        std::atomic<bool> abort{false};
        EXPECT_EQ(ExportJob(in, out, settings).Run([](int64_t, int64_t) {}, abort), 0);
        out.Close();
        in.Close();
        return test::ReadWavSamples(dir.File("out.wav"));
    };
    const std::vector<int16_t> savedBefore = exportWith(before);
    const std::vector<int16_t> savedAfter = exportWith(after);
    ASSERT_EQ(savedAfter.size(), input.size());
    const std::vector<int16_t> heard = test::ToSamples(mW.Device->Heard());

    const int64_t latency = Form().FftSize - Form().FftSize / Form().Overlap;
    const int64_t usable = frames - latency; // the rest needs sound past the end of the file
    ASSERT_GE(static_cast<int64_t>(heard.size()) / 2, ringFrames + latency + usable);
    auto same = [&](int64_t k, const std::vector<int16_t>& saved) {
        const size_t h = static_cast<size_t>((ringFrames + latency + k) * 2);
        const size_t s = static_cast<size_t>(k * 2);
        return heard[h] == saved[s] && heard[h + 1] == saved[s + 1];
    };
    int64_t offAfter = 0, offBefore = 0, exportsDiffer = 0;
    for (int64_t k = postedAt; k < usable; ++k) {
        offAfter += same(k, savedAfter) ? 0 : 1;
        exportsDiffer +=
            savedAfter[static_cast<size_t>(2 * k)] != savedBefore[static_cast<size_t>(2 * k)];
    }
    // Output made only of frames analysed before the change: the old area.
    for (int64_t k = 0; k < postedAt - Form().FftSize; ++k)
        offBefore += same(k, savedBefore) ? 0 : 1;
    EXPECT_EQ(offAfter, 0);
    EXPECT_EQ(offBefore, 0);
    EXPECT_GT(exportsDiffer, (usable - postedAt) / 2) << "the two areas must sound different";
}

} // namespace
} // namespace varnel
