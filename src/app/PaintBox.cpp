#include "app/PaintBox.h"

#include <QPaintEvent>
#include <QPainter>

namespace varnel {

PaintBox::PaintBox(QWidget* parent) : QWidget(parent)
{
    // The picture covers the whole box, so nothing needs erasing first (no flicker).
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PaintBox::paintEvent(QPaintEvent* event)
{
    if (!OnPaint)
        return;
    QPainter painter(this);
    OnPaint(painter, event->rect());
}

} // namespace varnel
