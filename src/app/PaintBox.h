#pragma once

#include <QWidget>

#include <functional>

class QPainter;

namespace varnel {

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
