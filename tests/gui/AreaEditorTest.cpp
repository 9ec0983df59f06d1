#include "app/AreaEditor.h"

#include "gui/AreaTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace varnel {
namespace {

using test::Edges;
const AreaEdges kStart = test::kStartEdges;
constexpr AreaScreen S1 = AreaScreen::Screen1;
constexpr AreaScreen S2 = AreaScreen::Screen2;

struct Point
{
    int X;
    int Y;
};

// Hover, press, move through the points, release: what a user's drag does.
void Drag(AreaEditor& editor, AreaScreen screen, Point from, const std::vector<Point>& to)
{
    editor.MouseMove(screen, from.X, from.Y);
    editor.MousePress(screen, from.X, from.Y);
    for (const Point& p : to)
        EXPECT_TRUE(editor.MouseMove(screen, p.X, p.Y));
    editor.MouseRelease();
}

TEST(AreaEditor, HoverHitTestGivesGrabAndCursor)
{
    // Start-up Screen1 rectangle: left 140, top 56, last column 419, last row 282.
    struct Case
    {
        Point P;
        int Grab;
        AreaCursor Cursor;
    };
    const Case cases[] = {
        {{144, 60}, kGrabTopLeft, AreaCursor::SizeNwse}, // 4 pixels off still counts
        {{136, 52}, kGrabTopLeft, AreaCursor::SizeNwse},
        {{419, 282}, kGrabBottomRight, AreaCursor::SizeNwse},
        {{419, 56}, kGrabTopRight, AreaCursor::SizeNesw},
        {{140, 282}, kGrabBottomLeft, AreaCursor::SizeNesw},
        {{145, 56}, kGrabTop, AreaCursor::SizeVertical},
        {{280, 286}, kGrabBottom, AreaCursor::SizeVertical},
        {{136, 150}, kGrabLeft, AreaCursor::SizeHorizontal},
        {{423, 150}, kGrabRight, AreaCursor::SizeHorizontal},
        {{280, 150}, kGrabWhole, AreaCursor::PointingHand},
        {{280, 51}, kGrabNone, AreaCursor::Arrow}, // 5 off
        {{280, 287}, kGrabNone, AreaCursor::Arrow},
        {{135, 150}, kGrabNone, AreaCursor::Arrow},
        {{424, 150}, kGrabNone, AreaCursor::Arrow},
    };
    for (const Case& c : cases) {
        AreaEditor editor;
        // From inside first, so a miss has to clear a grab that was set.
        editor.MouseMove(S1, 280, 150);
        EXPECT_FALSE(editor.MouseMove(S1, c.P.X, c.P.Y));
        EXPECT_EQ(editor.GrabKind(S1), c.Grab) << c.P.X << "," << c.P.Y;
        EXPECT_EQ(editor.Cursor(S1), c.Cursor) << c.P.X << "," << c.P.Y;
        EXPECT_EQ(editor.GrabKind(S2), kGrabNone) << "the other screen keeps its own grab";
    }
}

TEST(AreaEditor, DragsFollowEdgeRulesAndClamps)
{
    struct Case
    {
        const char* Name;
        AreaEdges Start;
        AreaScreen Screen;
        Point From;
        std::vector<Point> To;
        bool PanFixed;
        bool FreqFixed;
        AreaEdges Expected;
    };
    const AreaEdges narrow = Edges(200, 56, 300, 283, 0, 98);
    // clang-format off
    const Case cases[] = {
        {"left edge past the right stops 21 wide", narrow, S1, {200, 150}, {{400, 150}},
         false, false, Edges(279, 56, 300, 283, 0, 98)},
        {"right edge past the left stops 20 wide", narrow, S1, {299, 150}, {{0, 150}},
         false, false, Edges(200, 56, 220, 283, 0, 98)},
        {"top edge past the bottom stops 21 high", kStart, S1, {280, 56}, {{280, 339}},
         false, false, Edges(140, 262, 420, 283, 0, 98)},
        {"bottom edge past the top stops 20 high", kStart, S2, {50, 282}, {{50, 0}},
         false, false, Edges(140, 56, 420, 76, 0, 98)},
        {"right edge follows as pointer plus one", kStart, S1, {419, 150}, {{430, 150}},
         false, false, Edges(140, 56, 431, 283, 0, 98)},
        // Far outside it stops at the borders at its size; the reference point is held at the
        // border (560, 0), so coming back to 500 moves it 60 to the left at once.
        {"whole rectangle far outside and back", kStart, S1, {280, 150},
         {{2000, -1000}, {500, 0}}, false, false, Edges(220, 0, 500, 227, 0, 98)},
        {"pan fixed: whole Screen1 rectangle moves only up and down", kStart, S1, {280, 150},
         {{300, 170}}, true, false, Edges(140, 76, 420, 303, 0, 98)},
        {"pan fixed: the depth edges still follow", kStart, S2, {97, 150}, {{150, 150}},
         true, false, Edges(140, 56, 420, 283, 0, 151)},
        {"frequency fixed: Screen2 corner moves only the depth edge", kStart, S2, {97, 282},
         {{120, 330}}, false, true, Edges(140, 56, 420, 283, 0, 121)},
        {"Screen2 whole move carries Screen1 rows", kStart, S2, {50, 150}, {{60, 130}},
         false, false, Edges(140, 36, 420, 263, 10, 108)},
        // A 20-pixel area at the border keeps its edge on the screen instead of at -1.
        {"left edge of a 20-wide area at the border", Edges(0, 56, 20, 283, 0, 98), S1,
         {2, 150}, {{2, 150}}, false, false, Edges(0, 56, 20, 283, 0, 98)},
        {"top edge of a 20-high area at the border", Edges(140, 0, 420, 20, 0, 98), S1,
         {280, 1}, {{280, 1}}, false, false, Edges(140, 0, 420, 20, 0, 98)},
    };
    // clang-format on
    for (const Case& c : cases) {
        AreaEditor editor;
        editor.SetEdges(c.Start);
        editor.SetPanFixed(c.PanFixed);
        editor.SetFreqFixed(c.FreqFixed);
        Drag(editor, c.Screen, c.From, c.To);
        EXPECT_EQ(editor.Edges(), c.Expected) << c.Name;
        EXPECT_FALSE(editor.Dragging()) << c.Name;
    }
}

TEST(AreaEditor, PressAwayFromTheAreaStartsNoDrag)
{
    AreaEditor editor;
    editor.MouseMove(S1, 10, 10);
    editor.MousePress(S1, 10, 10);
    EXPECT_FALSE(editor.Dragging());
    EXPECT_FALSE(editor.MouseMove(S1, 280, 150)); // a hover again, not a drag
    EXPECT_EQ(editor.Edges(), kStart);
}

TEST(AreaEditor, OneSavedCopyForAllMaximises)
{
    AreaEditor editor;
    editor.SetPanFixed(true); // the toggles ignore the fix flags
    editor.ToggleMaximise(kMaxPan);
    editor.ToggleMaximise(kMaxFreq); // saves the pan-maximised edges
    EXPECT_EQ(editor.Edges(), Edges(0, 0, 560, 340, 0, 98));
    editor.ToggleMaximise(kMaxFreq);
    EXPECT_EQ(editor.Edges(), Edges(0, 56, 560, 283, 0, 98));
    EXPECT_EQ(editor.MaxMode(), kMaxNone);
    // The pan maximise is no longer in force: the button maximises (again) instead of
    // restoring the start-up edges.
    editor.ToggleMaximise(kMaxPan);
    EXPECT_EQ(editor.MaxMode(), kMaxPan);
    EXPECT_EQ(editor.SavedArea(), Edges(0, 56, 560, 283, 0, 98));
    // A drag that changes nothing keeps the maximise.
    Drag(editor, S1, {559, 150}, {{600, 150}});
    EXPECT_EQ(editor.MaxMode(), kMaxPan);
}

TEST(AreaEditor, DoubleClickActsOnlyInsideTheRectangle)
{
    struct Case
    {
        const char* Name;
        AreaEdges Start;
        AreaScreen Screen;
        Point Hover;
        bool Acts;
        AreaEdges After;
    };
    const AreaEdges full1 = Edges(0, 0, 560, 340, 0, 98);
    const Case cases[] = {
        {"inside Screen2", kStart, S2, {50, 150}, true, Edges(140, 0, 420, 340, 0, 196)},
        {"on a corner", kStart, S2, {97, 282}, false, kStart},
        {"away from the area", kStart, S1, {10, 10}, false, kStart},
        {"area already filling the screen", full1, S1, {280, 150}, false, full1},
    };
    for (const Case& c : cases) {
        AreaEditor editor;
        editor.SetEdges(c.Start);
        editor.MouseMove(c.Screen, c.Hover.X, c.Hover.Y);
        EXPECT_EQ(editor.DoubleClick(c.Screen), c.Acts) << c.Name;
        EXPECT_EQ(editor.Edges(), c.After) << c.Name;
        if (!c.Acts) {
            EXPECT_EQ(editor.SavedArea(), AreaEdges{}) << c.Name << ": no copy taken";
        }
    }
}

TEST(AreaEditor, CentreTruncatesAndEndsAMaximise)
{
    AreaEditor editor;
    editor.ToggleMaximise(kMaxDepth);
    AreaEdges e = editor.Edges();
    e.Area1Left = 0;
    e.Area1Right = 101;
    editor.SetEdges(e);
    editor.CentrePan();
    EXPECT_EQ(editor.Edges().Area1Left, 229); // (560 - 101) / 2
    EXPECT_EQ(editor.Edges().Area1Right, 330);
    EXPECT_EQ(editor.MaxMode(), kMaxNone);
}

} // namespace
} // namespace varnel
