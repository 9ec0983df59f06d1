#pragma once

#include <QWidget>

#include <functional>

class QPainter;

namespace varnel {

// GUI thread. Calls paint for rect in horizontal bands short enough that Qt's raster engine
// copies each on the calling thread: from 96 rows up it hands the rows to a thread pool of its
// own, whose hand-over ThreadSanitizer cannot see (Qt is not built with it), so every paint
// would be reported as a race.
void PaintInBands(QPainter& painter, const QRect& rect,
                  const std::function<void(QPainter& painter, const QRect& band)>& paint);

// A plain paint box for the scale pictures: paints through a callback that copies a picture
// composed elsewhere.
//
// GUI thread only.
class PaintBox : public QWidget
{
    Q_OBJECT
public:
    explicit PaintBox(QWidget* parent = nullptr);

    std::function<void(QPainter& painter, const QRect& rect)> OnPaint;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace varnel
