#include "app/PaintBox.h"

#include <QMouseEvent>
#include <QPainter>

namespace varnel {

PaintBox::PaintBox(QWidget* parent) : QWidget(parent)
{
    // The picture covers the whole box, so nothing needs erasing first (no flicker).
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

void PaintBox::paintEvent(QPaintEvent* event)
{
    if (!OnPaint)
        return;
    QPainter painter(this);
    OnPaint(painter, event->rect());
}

void PaintBox::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(p.x(), p.y());
}

void PaintBox::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(p.x(), p.y());
}

void PaintBox::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(p.x(), p.y());
}

void PaintBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double-click is still a press (the first one came as one too).
    mousePressEvent(event);
    if (OnDoubleClick)
        OnDoubleClick();
}

} // namespace varnel
