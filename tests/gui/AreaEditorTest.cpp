#include "app/AreaEditor.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace varnel {

static bool operator==(const AreaEdges& a, const AreaEdges& b)
{
    return a.Area1Left == b.Area1Left && a.Area1Top == b.Area1Top && a.Area1Right == b.Area1Right &&
           a.Area1Bottom == b.Area1Bottom && a.Area2Left == b.Area2Left &&
           a.Area2Top == b.Area2Top && a.Area2Right == b.Area2Right &&
           a.Area2Bottom == b.Area2Bottom;
}

static std::ostream& operator<<(std::ostream& os, const AreaEdges& e)
{
    return os << "S1(" << e.Area1Left << "," << e.Area1Top << "," << e.Area1Right << ","
              << e.Area1Bottom << ") S2(" << e.Area2Left << "," << e.Area2Top << "," << e.Area2Right
              << "," << e.Area2Bottom << ")";
}

namespace {

constexpr AreaScreen S1 = AreaScreen::Screen1;
constexpr AreaScreen S2 = AreaScreen::Screen2;

AreaEdges Edges(int l1, int t1, int r1, int b1, int l2, int r2)
{
    return AreaEdges{l1, t1, r1, b1, l2, t1, r2, b1};
}

// The start-up area of the 560 x 340 and 196 x 340 screens.
const AreaEdges kStart = Edges(140, 56, 420, 283, 0, 98);

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

TEST(AreaEditor, StartsWithStartupEdgesAndNothingGrabbed)
{
    AreaEditor editor;
    EXPECT_EQ(editor.Edges(), kStart);
    EXPECT_EQ(editor.SavedArea(), AreaEdges{});
    EXPECT_EQ(editor.MaxMode(), kMaxNone);
    EXPECT_EQ(editor.GrabKind(S1), kGrabNone);
    EXPECT_FALSE(editor.Dragging());
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
        {{140, 56}, kGrabTopLeft, AreaCursor::SizeNwse},
        {{144, 60}, kGrabTopLeft, AreaCursor::SizeNwse}, // 4 pixels off still counts
        {{136, 52}, kGrabTopLeft, AreaCursor::SizeNwse},
        {{419, 282}, kGrabBottomRight, AreaCursor::SizeNwse},
        {{419, 56}, kGrabTopRight, AreaCursor::SizeNesw},
        {{140, 282}, kGrabBottomLeft, AreaCursor::SizeNesw},
        {{145, 56}, kGrabTop, AreaCursor::SizeVertical},
        {{280, 52}, kGrabTop, AreaCursor::SizeVertical},
        {{280, 286}, kGrabBottom, AreaCursor::SizeVertical},
        {{136, 150}, kGrabLeft, AreaCursor::SizeHorizontal},
        {{423, 150}, kGrabRight, AreaCursor::SizeHorizontal},
        {{280, 150}, kGrabWhole, AreaCursor::PointingHand},
        {{280, 51}, kGrabNone, AreaCursor::Arrow},
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

TEST(AreaEditor, DragsFollowEdgeRulesClampsAndFlags)
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
    const Case cases[] = {
        {"left edge past the right stops 21 wide",
         narrow,
         S1,
         {200, 150},
         {{400, 150}},
         false,
         false,
         Edges(279, 56, 300, 283, 0, 98)},
        {"right edge past the left stops 20 wide",
         narrow,
         S1,
         {299, 150},
         {{0, 150}},
         false,
         false,
         Edges(200, 56, 220, 283, 0, 98)},
        {"top edge past the bottom stops 21 high",
         kStart,
         S1,
         {280, 56},
         {{280, 339}},
         false,
         false,
         Edges(140, 262, 420, 283, 0, 98)},
        {"bottom edge past the top stops 20 high",
         kStart,
         S1,
         {280, 282},
         {{280, 0}},
         false,
         false,
         Edges(140, 56, 420, 76, 0, 98)},
        {"top edge above the screen stops at 0",
         kStart,
         S1,
         {280, 56},
         {{280, -50}},
         false,
         false,
         Edges(140, 0, 420, 283, 0, 98)},
        {"bottom edge below the screen stops at the height",
         kStart,
         S1,
         {280, 282},
         {{280, 1000}},
         false,
         false,
         Edges(140, 56, 420, 340, 0, 98)},
        {"left edge left of the screen stops at 0",
         kStart,
         S1,
         {140, 150},
         {{-30, 150}},
         false,
         false,
         Edges(0, 56, 420, 283, 0, 98)},
        {"right edge right of the screen stops at the width",
         kStart,
         S1,
         {419, 150},
         {{700, 150}},
         false,
         false,
         Edges(140, 56, 560, 283, 0, 98)},
        {"right edge follows as pointer plus one",
         kStart,
         S1,
         {419, 150},
         {{430, 150}},
         false,
         false,
         Edges(140, 56, 431, 283, 0, 98)},
        {"top-left corner",
         kStart,
         S1,
         {140, 56},
         {{100, 30}},
         false,
         false,
         Edges(100, 30, 420, 283, 0, 98)},
        {"top-right corner",
         kStart,
         S1,
         {419, 56},
         {{450, 40}},
         false,
         false,
         Edges(140, 40, 451, 283, 0, 98)},
        {"bottom-left corner",
         kStart,
         S1,
         {140, 282},
         {{120, 320}},
         false,
         false,
         Edges(120, 56, 420, 321, 0, 98)},
        {"bottom-right corner",
         kStart,
         S1,
         {419, 282},
         {{500, 300}},
         false,
         false,
         Edges(140, 56, 501, 301, 0, 98)},
        {"whole rectangle",
         kStart,
         S1,
         {280, 150},
         {{290, 140}, {300, 170}},
         false,
         false,
         Edges(160, 76, 440, 303, 0, 98)},
        // Far outside it stops at the borders at its size; the reference point is held at the
        // border (560, 0), so coming back to 500 moves it 60 to the left at once.
        {"whole rectangle far outside and back",
         kStart,
         S1,
         {280, 150},
         {{2000, -1000}, {500, 0}},
         false,
         false,
         Edges(220, 0, 500, 227, 0, 98)},
        {"pan fixed: corner moves only the frequency edge",
         kStart,
         S1,
         {140, 56},
         {{100, 30}},
         true,
         false,
         Edges(140, 30, 420, 283, 0, 98)},
        {"pan fixed: whole Screen1 rectangle moves only up and down",
         kStart,
         S1,
         {280, 150},
         {{300, 170}},
         true,
         false,
         Edges(140, 76, 420, 303, 0, 98)},
        {"pan fixed: the depth edges still follow",
         kStart,
         S2,
         {97, 150},
         {{150, 150}},
         true,
         false,
         Edges(140, 56, 420, 283, 0, 151)},
        {"frequency fixed: Screen1 top stays",
         kStart,
         S1,
         {280, 56},
         {{280, 10}},
         false,
         true,
         kStart},
        {"frequency fixed: Screen2 corner moves only the depth edge",
         kStart,
         S2,
         {97, 282},
         {{120, 330}},
         false,
         true,
         Edges(140, 56, 420, 283, 0, 121)},
        {"frequency fixed: whole Screen2 rectangle moves only across",
         kStart,
         S2,
         {50, 150},
         {{80, 100}},
         false,
         true,
         Edges(140, 56, 420, 283, 30, 128)},
        {"Screen2 top moves Screen1 top",
         kStart,
         S2,
         {50, 56},
         {{50, 100}},
         false,
         false,
         Edges(140, 100, 420, 283, 0, 98)},
        {"Screen2 whole move carries Screen1 rows",
         kStart,
         S2,
         {50, 150},
         {{60, 130}},
         false,
         false,
         Edges(140, 36, 420, 263, 10, 108)},
        {"Screen2 right edge stops at its width",
         kStart,
         S2,
         {97, 150},
         {{300, 150}},
         false,
         false,
         Edges(140, 56, 420, 283, 0, 196)},
        // A 20-pixel area at the border keeps its edge on the screen instead of at -1.
        {"left edge of a 20-wide area at the border",
         Edges(0, 56, 20, 283, 0, 98),
         S1,
         {2, 150},
         {{2, 150}},
         false,
         false,
         Edges(0, 56, 20, 283, 0, 98)},
        {"top edge of a 20-high area at the border",
         Edges(140, 0, 420, 20, 0, 98),
         S1,
         {280, 1},
         {{280, 1}},
         false,
         false,
         Edges(140, 0, 420, 20, 0, 98)},
    };
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

TEST(AreaEditor, MaximiseTogglesRestoreTheSavedEdges)
{
    struct Case
    {
        AreaMaxMode Mode;
        AreaEdges Maximised;
    };
    const Case cases[] = {
        {kMaxPan, Edges(0, 56, 560, 283, 0, 98)},       {kMaxFreq, Edges(140, 0, 420, 340, 0, 98)},
        {kMaxDepth, Edges(140, 56, 420, 283, 0, 196)},  {kMaxScreen1, Edges(0, 0, 560, 340, 0, 98)},
        {kMaxScreen2, Edges(140, 0, 420, 340, 0, 196)},
    };
    for (const Case& c : cases) {
        AreaEditor editor;
        editor.SetPanFixed(true); // the toggles ignore both fix flags
        editor.SetFreqFixed(true);
        editor.ToggleMaximise(c.Mode);
        EXPECT_EQ(editor.Edges(), c.Maximised) << c.Mode;
        EXPECT_EQ(editor.MaxMode(), c.Mode);
        EXPECT_EQ(editor.SavedArea(), kStart);
        editor.ToggleMaximise(c.Mode);
        EXPECT_EQ(editor.Edges(), kStart) << c.Mode;
        EXPECT_EQ(editor.MaxMode(), kMaxNone);
    }
}

TEST(AreaEditor, OneSavedCopyForAllMaximises)
{
    AreaEditor editor;
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
    EXPECT_EQ(editor.Edges(), Edges(0, 56, 560, 283, 0, 98));
}

TEST(AreaEditor, DragThatMovesAMaximisedRectangleEndsTheMaximise)
{
    AreaEditor editor;
    editor.ToggleMaximise(kMaxPan);
    // Right edge pulled past the border: nothing moves, the maximise stays.
    Drag(editor, S1, {559, 150}, {{600, 150}});
    EXPECT_EQ(editor.MaxMode(), kMaxPan);
    // One pixel in from the border ends it, and the button then maximises again.
    Drag(editor, S1, {559, 150}, {{558, 150}});
    EXPECT_EQ(editor.Edges().Area1Right, 559);
    EXPECT_EQ(editor.MaxMode(), kMaxNone);
    editor.ToggleMaximise(kMaxPan);
    EXPECT_EQ(editor.MaxMode(), kMaxPan);
    EXPECT_EQ(editor.Edges().Area1Right, 560);
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
        {"inside Screen1", kStart, S1, {280, 150}, true, Edges(0, 0, 560, 340, 0, 98)},
        {"inside Screen2", kStart, S2, {50, 150}, true, Edges(140, 0, 420, 340, 0, 196)},
        {"on an edge", kStart, S1, {140, 150}, false, kStart},
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
            EXPECT_EQ(editor.MaxMode(), kMaxNone) << c.Name;
            EXPECT_EQ(editor.SavedArea(), AreaEdges{}) << c.Name << ": no copy taken";
        } else {
            // The pointer is still inside: the second double-click restores.
            EXPECT_TRUE(editor.DoubleClick(c.Screen)) << c.Name;
            EXPECT_EQ(editor.Edges(), c.Start) << c.Name;
        }
    }
}

TEST(AreaEditor, CentreKeepsTheWidthAndEndsAMaximise)
{
    struct Case
    {
        int Left;
        int Right;
        int CentredLeft;
    };
    const Case cases[] = {
        {100, 200, 230}, // (560 - 100) / 2
        {0, 101, 229},   // (560 - 101) / 2 truncates
        {500, 560, 250},
    };
    for (const Case& c : cases) {
        AreaEditor editor;
        editor.ToggleMaximise(kMaxDepth);
        editor.SetPanFixed(true); // centring ignores it
        AreaEdges e = editor.Edges();
        e.Area1Left = c.Left;
        e.Area1Right = c.Right;
        editor.SetEdges(e);
        editor.CentrePan();
        EXPECT_EQ(editor.Edges().Area1Left, c.CentredLeft);
        EXPECT_EQ(editor.Edges().Area1Right, c.CentredLeft + c.Right - c.Left);
        EXPECT_EQ(editor.MaxMode(), kMaxNone);
    }
}

} // namespace
} // namespace varnel
