#include "visual/MapPicture.h"

#include "visual/Screenmap.h"

#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace varnel {

namespace {

void PaintRect(QImage& image, const QRect& rect, const QColor& colour)
{
    const QRect part = rect.intersected(image.rect());
    const auto r = static_cast<uchar>(colour.red());
    const auto g = static_cast<uchar>(colour.green());
    const auto b = static_cast<uchar>(colour.blue());
    for (int y = part.top(); y <= part.bottom(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = part.left(); x <= part.right(); ++x) {
            line[3 * x] = r;
            line[3 * x + 1] = g;
            line[3 * x + 2] = b;
        }
    }
}

// A sunken panel's 1-pixel bevel around inner: dark top and left, light bottom and right.
void DrawBevel(QImage& image, const QRect& inner)
{
    const QPalette palette = QGuiApplication::palette();
    const QRect outer = inner.adjusted(-1, -1, 1, 1);
    const QColor dark = palette.color(QPalette::Dark);
    const QColor light = palette.color(QPalette::Light);
    PaintRect(image, QRect(outer.left(), outer.top(), outer.width(), 1), dark);
    PaintRect(image, QRect(outer.left(), outer.top(), 1, outer.height()), dark);
    PaintRect(image, QRect(outer.left(), outer.bottom(), outer.width(), 1), light);
    PaintRect(image, QRect(outer.right(), outer.top(), 1, outer.height()), light);
}

// Copies a picture of the same format row by row.
void CopyInto(QImage& target, const QImage& source, const QPoint& at)
{
    const QRect part = QRect(at, source.size()).intersected(target.rect());
    const int bytes = 3 * part.width();
    for (int y = 0; y < part.height(); ++y)
        std::memcpy(target.scanLine(part.y() + y) + 3 * part.x(),
                    source.constScanLine(part.y() - at.y() + y) + 3 * (part.x() - at.x()),
                    static_cast<size_t>(bytes));
}

} // namespace

QImage MapAreaPicture(const TScreenMap& screens)
{
    QImage picture(map_layout::kPictureSize, QImage::Format_RGB888);
    picture.fill(screens.ScaleBackground());
    const QImage& screen1 = screens.Screen1Image();
    const QImage& screen2 = screens.Screen2Image();
    // Drawn pixel by pixel: QPainter would hand work on a picture this large to a thread pool.
    DrawBevel(picture, QRect(map_layout::kScreen1At, screen1.size()));
    DrawBevel(picture, QRect(map_layout::kScreen2At, screen2.size()));
    CopyInto(picture, screen1, map_layout::kScreen1At);
    CopyInto(picture, screen2, map_layout::kScreen2At);
    CopyInto(picture, screens.FreqScaleImage(), map_layout::kFreqScaleAt);
    CopyInto(picture, screens.PanScaleImage(), map_layout::kPanScaleAt);
    return picture;
}

} // namespace varnel
