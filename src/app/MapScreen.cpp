#include "app/MapScreen.h"

#include "app/PaintBox.h"

#include <QMouseEvent>
#include <QPainter>

namespace varnel {

namespace {

Qt::CursorShape ShapeOf(AreaCursor cursor)
{
    switch (cursor) {
    case AreaCursor::SizeNwse: return Qt::SizeFDiagCursor;
    case AreaCursor::SizeNesw: return Qt::SizeBDiagCursor;
    case AreaCursor::SizeVertical: return Qt::SizeVerCursor;
    case AreaCursor::SizeHorizontal: return Qt::SizeHorCursor;
    case AreaCursor::PointingHand: return Qt::PointingHandCursor;
    case AreaCursor::Arrow: break;
    }
    return Qt::ArrowCursor;
}

} // namespace

MapScreen::MapScreen(QWidget* parent) : QWidget(parent)
{
    // The composed picture covers the whole screen: nothing is erased before a paint, so a
    // drag that recomposes on every move does not flicker.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    // Moves without a button run the hover test.
    setMouseTracking(true);
}

void MapScreen::SetAreaCursor(AreaCursor cursor)
{
    if (cursor == mCursor)
        return;
    mCursor = cursor;
    if (cursor == AreaCursor::Arrow)
        unsetCursor();
    else
        setCursor(ShapeOf(cursor));
}

void MapScreen::paintEvent(QPaintEvent* event)
{
    if (!OnPaint)
        return;
    QPainter painter(this);
    PaintInBands(painter, event->rect(), OnPaint);
}

void MapScreen::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(p.x(), p.y());
}

void MapScreen::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(p.x(), p.y());
}

void MapScreen::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(p.x(), p.y());
}

void MapScreen::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The double-click comes in place of the second press; it acts first and the press
    // follows, as a press (it may start a drag of the rectangle just maximised or restored).
    if (OnDoubleClick)
        OnDoubleClick();
    mousePressEvent(event);
}

} // namespace varnel
