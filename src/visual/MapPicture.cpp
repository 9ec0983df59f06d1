#include "visual/MapPicture.h"

#include "visual/Screenmap.h"

#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace varnel {

namespace {

constexpr double kLowestHz = 40.0;

int NearestPixel(double value, int limit)
{
    if (!(value > 0.0)) // also NaN
        return 0;
    if (value >= limit)
        return limit;
    return static_cast<int>(std::lround(value));
}

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

AreaEdges EdgesForArea(const FilterArea& area, const AreaGeometry& geometry)
{
    const int width1 = geometry.Screen1Width;
    const int height1 = geometry.Screen1Height;
    const int width2 = geometry.Screen2Width;
    AreaEdges edges;

    const double hw = width1 * 0.5;
    const double decades = std::log10(static_cast<double>(geometry.PanScale));
    const auto panX = [&](float ratio) {
        if (!(ratio > 0.0f) || !(decades > 0.0))
            return 0;
        return NearestPixel(hw + hw / decades * std::log10(static_cast<double>(ratio)), width1);
    };
    edges.Area1Left = area.PanLow <= kPanOpenLow ? 0 : panX(area.PanLow);
    edges.Area1Right = area.PanHigh >= kPanOpenHigh ? width1 : panX(area.PanHigh);

    const double logLow = std::log10(kLowestHz);
    const double freqDecades = std::log10(static_cast<double>(geometry.HalfRate)) - logLow;
    const auto freqY = [&](float hz) {
        if (!(hz > 0.0f) || !(freqDecades > 0.0))
            return height1;
        const double up = (std::log10(static_cast<double>(hz)) - logLow) * height1 / freqDecades;
        return height1 - NearestPixel(up, height1);
    };
    edges.Area1Top =
        area.FreqHighHz >= static_cast<float>(geometry.HalfRate) ? 0 : freqY(area.FreqHighHz);
    edges.Area1Bottom = area.FreqLowHz <= 0.0f ? height1 : freqY(area.FreqLowHz);

    const double perPixel = static_cast<double>(kPi) / width2;
    edges.Area2Left = NearestPixel(area.DepthLow / perPixel, width2);
    edges.Area2Right = NearestPixel(area.DepthHigh / perPixel, width2);

    edges.Area1Right = std::max(edges.Area1Right, edges.Area1Left);
    edges.Area1Bottom = std::max(edges.Area1Bottom, edges.Area1Top);
    edges.Area2Right = std::max(edges.Area2Right, edges.Area2Left);
    edges.Area2Top = edges.Area1Top;
    edges.Area2Bottom = edges.Area1Bottom;
    return edges;
}

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
