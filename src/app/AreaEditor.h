#pragma once

#include "dsp/AreaMapping.h"

namespace varnel {

// The two map screens the area lives on.
enum class AreaScreen
{
    Screen1, // pan across, frequency up
    Screen2  // depth across, frequency up
};

// The cursor a screen shows over the area.
enum class AreaCursor
{
    Arrow,          // away from the area
    SizeNwse,       // top-left or bottom-right corner
    SizeNesw,       // top-right or bottom-left corner
    SizeVertical,   // top or bottom edge
    SizeHorizontal, // left or right edge
    PointingHand    // inside: the whole rectangle
};

// What a press on a screen takes hold of.
enum AreaGrab : int
{
    kGrabNone = 0,
    kGrabWhole = 1,
    kGrabTop = 2,
    kGrabBottom = 3,
    kGrabLeft = 4,
    kGrabRight = 5,
    kGrabTopLeft = 6,
    kGrabTopRight = 7,
    kGrabBottomLeft = 8,
    kGrabBottomRight = 9
};

// Which maximise is in force.
enum AreaMaxMode : int
{
    kMaxNone = 0,
    kMaxScreen1 = 1, // whole Screen1 rectangle (double-click on Screen1)
    kMaxScreen2 = 2, // whole Screen2 rectangle (double-click on Screen2)
    kMaxPan = 3,     // full pan range
    kMaxFreq = 4,    // full frequency range
    kMaxDepth = 5    // full depth range
};

// Client sizes of the two screens in pixels. Both are equally high: the frequency edges are
// shared row for row.
struct AreaScreens
{
    int Screen1Width = 560;
    int Screen1Height = 340;
    int Screen2Width = 196;
    int Screen2Height = 340;
};

// The extraction area as the user edits it with the mouse: two rectangles sharing their
// frequency edges, the hover hit test with its grab and cursor per screen, edge drags with
// their clamps, whole-rectangle moves, the maximise toggles with one saved copy, and centring.
// It knows nothing of widgets: the window forwards the pointer and the flags, and reads back
// the edges and the cursor to show. Mapping the edges to filter values is MapArea's job.
//
// GUI thread only (one editor per window); allocates nothing.
class AreaEditor
{
public:
    // GUI thread. Start-up edges for the screens, no maximise, nothing grabbed, no flags.
    explicit AreaEditor(const AreaScreens& screens = AreaScreens());

    // GUI thread. A pointer move on a screen (X, Y in its pixels; outside it while a button is
    // held). Without a drag it runs the hover hit test, which may change the screen's grab and
    // cursor; with a drag it runs one drag step of that screen's grab. True for a drag step,
    // after which the window recomposes (throttled) and remaps the area, also when no edge
    // moved.
    bool MouseMove(AreaScreen screen, int x, int y);
    // GUI thread. A button press on a screen: starts a drag when the hover test found a grab.
    void MousePress(AreaScreen screen, int x, int y);
    // GUI thread. A button release on either screen ends the drag.
    void MouseRelease() { mDragging = false; }
    // GUI thread. Maximises or restores the screen's whole rectangle when the pointer is inside
    // it (not on an edge or corner). True when the edges were set, after which the window
    // recomposes and remaps.
    bool DoubleClick(AreaScreen screen);
    // GUI thread. The maximise buttons: kMaxPan, kMaxFreq or kMaxDepth; maximises that range,
    // or restores the saved edges when that maximise is in force. The double-clicks use the
    // same toggle with kMaxScreen1 and kMaxScreen2. The fix flags do not apply.
    void ToggleMaximise(AreaMaxMode mode);
    // GUI thread. Centres the pan range on Screen1, keeping its width; ends any maximise.
    void CentrePan();

    // GUI thread. The fix check boxes: the pan edges (Screen1 only) or the frequency edges
    // (both screens) ignore the mouse; the clamps still apply.
    void SetPanFixed(bool fixed) { mPanFixed = fixed; }
    void SetFreqFixed(bool fixed) { mFreqFixed = fixed; }

    // GUI thread. Replaces the edges (as they are, unclamped); the maximise and its saved copy
    // stay.
    void SetEdges(const AreaEdges& edges) { mEdges = edges; }

    // GUI thread readers.
    const AreaEdges& Edges() const { return mEdges; }
    const AreaEdges& SavedArea() const { return mSaved; }
    int MaxMode() const { return mMaxMode; }
    int GrabKind(AreaScreen screen) const;
    AreaCursor Cursor(AreaScreen screen) const;
    bool Dragging() const { return mDragging; }
    bool PanFixed() const { return mPanFixed; }
    bool FreqFixed() const { return mFreqFixed; }

private:
    // One screen's rectangle as references into the edges, and its size.
    struct Rect
    {
        int& Left;
        int& Top;
        int& Right;
        int& Bottom;
        int Width;
        int Height;
        bool HorizontalFixed;
    };

    Rect RectOf(AreaScreen screen);
    void HoverTest(AreaScreen screen, int x, int y);
    void DragStep(AreaScreen screen, int x, int y);
    void MoveWhole(Rect& r, int x, int y);
    void MoveTop(Rect& r, int y) const;
    void MoveBottom(Rect& r, int y) const;
    static void MoveLeft(Rect& r, int x);
    static void MoveRight(Rect& r, int x);

    AreaScreens mScreens;
    AreaEdges mEdges;
    AreaEdges mSaved;
    int mMaxMode = kMaxNone;
    int mGrab[2] = {kGrabNone, kGrabNone};
    AreaCursor mCursor[2] = {AreaCursor::Arrow, AreaCursor::Arrow};
    bool mDragging = false;
    int mDragX = 0;
    int mDragY = 0;
    bool mPanFixed = false;
    bool mFreqFixed = false;
};

} // namespace varnel
