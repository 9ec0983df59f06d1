#include "app/AreaEditor.h"

namespace varnel {

namespace {

// How far from an edge, in pixels either way, the pointer still takes hold of it.
constexpr int kNear = 4;
// Smallest sizes: an edge dragged from the left or top keeps the area this wide or high...
constexpr int kMinFromLeading = 21;
// ...and one dragged from the right or bottom this wide or high.
constexpr int kMinFromTrailing = 20;

bool Near(int coordinate, int edge)
{
    return edge - kNear <= coordinate && coordinate <= edge + kNear;
}

int Index(AreaScreen screen)
{
    return screen == AreaScreen::Screen1 ? 0 : 1;
}

int Clamp(int v, int low, int high)
{
    return v < low ? low : (v > high ? high : v);
}

} // namespace

AreaEditor::AreaEditor(const AreaScreens& screens)
    : mScreens(screens),
      mEdges(StartupEdges(screens.Screen1Width, screens.Screen1Height, screens.Screen2Width))
{}

int AreaEditor::GrabKind(AreaScreen screen) const
{
    return mGrab[Index(screen)];
}

AreaCursor AreaEditor::Cursor(AreaScreen screen) const
{
    return mCursor[Index(screen)];
}

AreaEditor::Rect AreaEditor::RectOf(AreaScreen screen)
{
    if (screen == AreaScreen::Screen1)
        return Rect{mEdges.Area1Left,   mEdges.Area1Top,       mEdges.Area1Right,
                    mEdges.Area1Bottom, mScreens.Screen1Width, mScreens.Screen1Height,
                    mPanFixed};
    // The depth edges are never fixed.
    return Rect{mEdges.Area2Left,
                mEdges.Area2Top,
                mEdges.Area2Right,
                mEdges.Area2Bottom,
                mScreens.Screen2Width,
                mScreens.Screen2Height,
                false};
}

bool AreaEditor::MouseMove(AreaScreen screen, int x, int y)
{
    if (!mDragging) {
        HoverTest(screen, x, y);
        return false;
    }
    DragStep(screen, x, y);
    return true;
}

void AreaEditor::HoverTest(AreaScreen screen, int x, int y)
{
    const Rect r = RectOf(screen);
    const int i = Index(screen);
    const int left = r.Left;
    const int top = r.Top;
    const int lastColumn = r.Right - 1;
    const int lastRow = r.Bottom - 1;
    if (x < left - kNear || x > lastColumn + kNear || y < top - kNear || y > lastRow + kNear) {
        mGrab[i] = kGrabNone;
        mCursor[i] = AreaCursor::Arrow;
        return;
    }
    const bool nearLeft = Near(x, left);
    const bool nearRight = Near(x, lastColumn);
    const bool nearTop = Near(y, top);
    const bool nearBottom = Near(y, lastRow);
    // The first match wins: corners before edges, top and bottom before left and right.
    if (nearLeft && nearTop) {
        mGrab[i] = kGrabTopLeft;
        mCursor[i] = AreaCursor::SizeNwse;
    } else if (nearRight && nearBottom) {
        mGrab[i] = kGrabBottomRight;
        mCursor[i] = AreaCursor::SizeNwse;
    } else if (nearRight && nearTop) {
        mGrab[i] = kGrabTopRight;
        mCursor[i] = AreaCursor::SizeNesw;
    } else if (nearLeft && nearBottom) {
        mGrab[i] = kGrabBottomLeft;
        mCursor[i] = AreaCursor::SizeNesw;
    } else if (nearTop) {
        mGrab[i] = kGrabTop;
        mCursor[i] = AreaCursor::SizeVertical;
    } else if (nearBottom) {
        mGrab[i] = kGrabBottom;
        mCursor[i] = AreaCursor::SizeVertical;
    } else if (nearLeft) {
        mGrab[i] = kGrabLeft;
        mCursor[i] = AreaCursor::SizeHorizontal;
    } else if (nearRight) {
        mGrab[i] = kGrabRight;
        mCursor[i] = AreaCursor::SizeHorizontal;
    } else {
        mGrab[i] = kGrabWhole;
        mCursor[i] = AreaCursor::PointingHand;
    }
}

void AreaEditor::MousePress(AreaScreen screen, int x, int y)
{
    const int grab = mGrab[Index(screen)];
    if (grab == kGrabNone)
        return;
    mDragging = true;
    if (grab == kGrabWhole) {
        mDragX = x;
        mDragY = y;
    }
}

void AreaEditor::MoveTop(Rect& r, int y) const
{
    if (!mFreqFixed)
        r.Top = y;
    if (r.Top < 0)
        r.Top = 0;
    if (r.Top > r.Bottom - kMinFromLeading)
        r.Top = r.Bottom - kMinFromLeading;
    // An area only 20 rows high at the top border cannot keep 21 from its top edge; it stays
    // on the screen rather than moving its top above the first row.
    if (r.Top < 0)
        r.Top = 0;
}

void AreaEditor::MoveBottom(Rect& r, int y) const
{
    if (!mFreqFixed)
        r.Bottom = y + 1;
    if (r.Bottom < r.Top + kMinFromTrailing)
        r.Bottom = r.Top + kMinFromTrailing;
    if (r.Bottom > r.Height)
        r.Bottom = r.Height;
}

void AreaEditor::MoveLeft(Rect& r, int x)
{
    if (!r.HorizontalFixed)
        r.Left = x;
    if (r.Left < 0)
        r.Left = 0;
    if (r.Left > r.Right - kMinFromLeading)
        r.Left = r.Right - kMinFromLeading;
    // As for the top: an area 20 columns wide at the left border stays on the screen.
    if (r.Left < 0)
        r.Left = 0;
}

void AreaEditor::MoveRight(Rect& r, int x)
{
    if (!r.HorizontalFixed)
        r.Right = x + 1;
    if (r.Right < r.Left + kMinFromTrailing)
        r.Right = r.Left + kMinFromTrailing;
    if (r.Right > r.Width)
        r.Right = r.Width;
}

void AreaEditor::MoveWhole(Rect& r, int x, int y)
{
    int dx = x - mDragX;
    int dy = y - mDragY;
    if (r.Left + dx < 0)
        dx = -r.Left;
    if (r.Right + dx > r.Width)
        dx = r.Width - r.Right;
    if (r.Top + dy < 0)
        dy = -r.Top;
    if (r.Bottom + dy > r.Height)
        dy = r.Height - r.Bottom;
    if (!r.HorizontalFixed) {
        r.Left += dx;
        r.Right += dx;
    }
    if (!mFreqFixed) {
        r.Top += dy;
        r.Bottom += dy;
    }
    // The reference point stays on the screen, so a pointer far outside has to come back
    // before the rectangle moves the other way.
    mDragX = Clamp(x, 0, r.Width);
    mDragY = Clamp(y, 0, r.Height);
}

void AreaEditor::DragStep(AreaScreen screen, int x, int y)
{
    Rect r = RectOf(screen);
    const int before[4] = {r.Left, r.Top, r.Right, r.Bottom};
    switch (mGrab[Index(screen)]) {
    case kGrabWhole: MoveWhole(r, x, y); break;
    case kGrabTop: MoveTop(r, y); break;
    case kGrabBottom: MoveBottom(r, y); break;
    case kGrabLeft: MoveLeft(r, x); break;
    case kGrabRight: MoveRight(r, x); break;
    case kGrabTopLeft:
        MoveLeft(r, x);
        MoveTop(r, y);
        break;
    case kGrabTopRight:
        MoveRight(r, x);
        MoveTop(r, y);
        break;
    case kGrabBottomLeft:
        MoveLeft(r, x);
        MoveBottom(r, y);
        break;
    case kGrabBottomRight:
        MoveRight(r, x);
        MoveBottom(r, y);
        break;
    default: break;
    }

    // The frequency edges are shared: the other screen takes the dragged screen's rows.
    if (screen == AreaScreen::Screen1) {
        mEdges.Area2Top = mEdges.Area1Top;
        mEdges.Area2Bottom = mEdges.Area1Bottom;
    } else {
        mEdges.Area1Top = mEdges.Area2Top;
        mEdges.Area1Bottom = mEdges.Area2Bottom;
    }

    if (mMaxMode != kMaxNone && (r.Left != before[0] || r.Top != before[1] ||
                                 r.Right != before[2] || r.Bottom != before[3]))
        mMaxMode = kMaxNone;
}

bool AreaEditor::DoubleClick(AreaScreen screen)
{
    if (mGrab[Index(screen)] != kGrabWhole)
        return false;
    const AreaMaxMode mode = screen == AreaScreen::Screen1 ? kMaxScreen1 : kMaxScreen2;
    if (mMaxMode != mode) {
        // A rectangle that already fills its screen has nothing to maximise: no copy is taken,
        // so the saved edges stay what they were.
        const Rect r = RectOf(screen);
        if (r.Left == 0 && r.Top == 0 && r.Right == r.Width && r.Bottom == r.Height)
            return false;
    }
    ToggleMaximise(mode);
    return true;
}

void AreaEditor::ToggleMaximise(AreaMaxMode mode)
{
    if (mode == kMaxNone)
        return;
    if (mMaxMode == mode) {
        mEdges = mSaved;
        mMaxMode = kMaxNone;
        return;
    }
    // One copy for every mode: a second maximise of another kind saves the maximised edges.
    mSaved = mEdges;
    switch (mode) {
    case kMaxScreen1:
        mEdges.Area1Left = 0;
        mEdges.Area1Top = 0;
        mEdges.Area1Right = mScreens.Screen1Width;
        mEdges.Area1Bottom = mScreens.Screen1Height;
        mEdges.Area2Top = 0;
        mEdges.Area2Bottom = mScreens.Screen1Height;
        break;
    case kMaxScreen2:
        mEdges.Area2Left = 0;
        mEdges.Area2Top = 0;
        mEdges.Area2Right = mScreens.Screen2Width;
        mEdges.Area2Bottom = mScreens.Screen2Height;
        mEdges.Area1Top = 0;
        mEdges.Area1Bottom = mScreens.Screen2Height;
        break;
    case kMaxPan:
        mEdges.Area1Left = 0;
        mEdges.Area1Right = mScreens.Screen1Width;
        break;
    case kMaxFreq:
        mEdges.Area1Top = mEdges.Area2Top = 0;
        mEdges.Area1Bottom = mEdges.Area2Bottom = mScreens.Screen1Height;
        break;
    case kMaxDepth:
        mEdges.Area2Left = 0;
        mEdges.Area2Right = mScreens.Screen2Width;
        break;
    default: break;
    }
    mMaxMode = mode;
}

void AreaEditor::CentrePan()
{
    const int width = mEdges.Area1Right - mEdges.Area1Left;
    mEdges.Area1Left = (mScreens.Screen1Width - width) / 2;
    mEdges.Area1Right = mEdges.Area1Left + width;
    mMaxMode = kMaxNone;
}

} // namespace varnel
