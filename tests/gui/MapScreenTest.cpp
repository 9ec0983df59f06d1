// Mouse events go through the window system, so Qt routes them as it routes a real mouse
// (the implicit grab included) instead of handing them straight to the widget named.
#define QTEST_QPA_MOUSE_HANDLING

#include "app/MapScreen.h"

#include "gui/WidgetApp.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace varnel {
namespace {

struct Event
{
    char Kind; // 'd' down, 'm' move, 'u' up, 'c' double-click
    int X;
    int Y;
    bool operator==(const Event& o) const { return Kind == o.Kind && X == o.X && Y == o.Y; }
    friend void PrintTo(const Event& e, std::ostream* os)
    {
        *os << e.Kind << "(" << e.X << "," << e.Y << ")";
    }
};

// A 300 x 200 window holding a 100 x 80 screen at (50, 40), as the window holds Screen1 in
// its panel, recording what the screen hands on.
struct ScreenInWindow : test::AppFirst
{
    QWidget Window;
    MapScreen* Screen = new MapScreen(&Window);
    std::vector<Event> Events;

    ScreenInWindow()
    {
        Window.resize(300, 200);
        Screen->setGeometry(50, 40, 100, 80);
        Screen->OnMouseDown = [this](int x, int y) { Events.push_back({'d', x, y}); };
        Screen->OnMouseMove = [this](int x, int y) { Events.push_back({'m', x, y}); };
        Screen->OnMouseUp = [this](int x, int y) { Events.push_back({'u', x, y}); };
        Screen->OnDoubleClick = [this] { Events.push_back({'c', 0, 0}); };
        Window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&Window));
    }
};

TEST(MapScreen, DragKeepsFollowingThePointerOutsideTheScreen)
{
    ScreenInWindow w;
    QTest::mouseMove(w.Screen, QPoint(10, 10));
    QTest::mousePress(w.Screen, Qt::LeftButton, {}, QPoint(10, 10));
    // Into the window left of the screen, then beyond the window's own right edge.
    QTest::mouseMove(&w.Window, QPoint(5, 45));
    QTest::mouseMove(&w.Window, QPoint(350, 250));
    QTest::mouseRelease(&w.Window, Qt::LeftButton, {}, QPoint(350, 250));
    // After the release a move outside the screen no longer reaches it.
    QTest::mouseMove(&w.Window, QPoint(5, 45));
    const std::vector<Event> expected = {
        {'m', 10, 10}, {'d', 10, 10}, {'m', -45, 5}, {'m', 300, 210}, {'u', 300, 210}};
    EXPECT_EQ(w.Events, expected);
}

TEST(MapScreen, DoubleClickActsBeforeItsPress)
{
    ScreenInWindow w;
    QTest::mouseMove(w.Screen, QPoint(20, 30));
    w.Events.clear();
    QTest::mouseDClick(w.Screen, Qt::LeftButton, {}, QPoint(20, 30));
    // Qt's double-click is press, release, double-click, release; the double-click is handed
    // on first and then as the second press.
    const std::vector<Event> expected = {
        {'d', 20, 30}, {'u', 20, 30}, {'c', 0, 0}, {'d', 20, 30}, {'u', 20, 30}};
    EXPECT_EQ(w.Events, expected);
}

TEST(MapScreen, PaintCopiesOnlyTheAskedRectFromThePicture)
{
    ScreenInWindow w;
    QImage picture(100, 80, QImage::Format_RGB888);
    picture.fill(QColor(10, 200, 30));
    std::vector<QRect> asked;
    w.Screen->OnPaint = [&](QPainter& painter, const QRect& rect) {
        asked.push_back(rect);
        painter.drawImage(rect.topLeft(), picture, rect);
    };
    w.Screen->repaint(QRect(5, 6, 20, 10));
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.back(), QRect(5, 6, 20, 10));
    const QImage shown = w.Screen->grab().toImage();
    EXPECT_EQ(shown.pixelColor(50, 40), QColor(10, 200, 30));
}

TEST(MapScreen, ShowsTheCursorOfTheAreaEditor)
{
    ScreenInWindow w;
    const std::pair<AreaCursor, Qt::CursorShape> cases[] = {
        {AreaCursor::SizeNwse, Qt::SizeFDiagCursor},
        {AreaCursor::SizeNesw, Qt::SizeBDiagCursor},
        {AreaCursor::SizeVertical, Qt::SizeVerCursor},
        {AreaCursor::SizeHorizontal, Qt::SizeHorCursor},
        {AreaCursor::PointingHand, Qt::PointingHandCursor},
        {AreaCursor::Arrow, Qt::ArrowCursor},
    };
    for (const auto& [kind, shape] : cases) {
        w.Screen->SetAreaCursor(kind);
        EXPECT_EQ(w.Screen->cursor().shape(), shape);
        EXPECT_EQ(w.Screen->testAttribute(Qt::WA_SetCursor), kind != AreaCursor::Arrow);
    }
}

} // namespace
} // namespace varnel
