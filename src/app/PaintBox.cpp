#include "app/PaintBox.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace varnel {

void PaintInBands(QPainter& painter, const QRect& rect,
                  const std::function<void(QPainter& painter, const QRect& band)>& paint)
{
    constexpr int kBandRows = 64;
    for (int top = rect.top(); top <= rect.bottom(); top += kBandRows) {
        const int rows = std::min(kBandRows, rect.bottom() + 1 - top);
        paint(painter, QRect(rect.left(), top, rect.width(), rows));
    }
}

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
    PaintInBands(painter, event->rect(), OnPaint);
}

} // namespace varnel
