#pragma once

#include "app/AreaEditor.h"

#include <QWidget>

#include <functional>

class QPainter;

namespace varnel {

// One of the two map screens (Screen1, Screen2). It paints by copying the rect it is asked for
// from a picture composed elsewhere, hands its mouse events in its own pixels to the window,
// and shows the cursor the area editor chose. While a button is held the screen keeps getting
// the moves, also with the pointer outside it (the widget's implicit mouse grab), so a drag
// goes on past the border.
//
// GUI thread only.
class MapScreen : public QWidget
{
    Q_OBJECT
public:
    explicit MapScreen(QWidget* parent = nullptr);

    // GUI thread. Shows the cursor for this kind; a kind already shown changes nothing.
    void SetAreaCursor(AreaCursor cursor);

    // Set by the window. Any button; X and Y in the screen's pixels, also outside it.
    std::function<void(QPainter& painter, const QRect& rect)> OnPaint;
    std::function<void(int x, int y)> OnMouseDown;
    std::function<void(int x, int y)> OnMouseMove;
    std::function<void(int x, int y)> OnMouseUp;
    std::function<void()> OnDoubleClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    AreaCursor mCursor = AreaCursor::Arrow;
};

} // namespace varnel
