#pragma once

#include <QWidget>

#include <functional>

class QPainter;

namespace varnel {

// A plain paint box: paints through a callback that copies a picture composed elsewhere, and
// hands its mouse events, in its own pixels, to callbacks. While a button is held the box
// keeps getting the moves, also outside it (the widget's implicit mouse grab). The drag
// callbacks get any button.
//
// GUI thread only.
class PaintBox : public QWidget
{
    Q_OBJECT
public:
    explicit PaintBox(QWidget* parent = nullptr);

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
};

} // namespace varnel
