#include "visual/MapPicture.h"

#include "visual/Screenmap.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>

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

// A sunken panel's 1-pixel bevel: dark top and left, light bottom and right.
void DrawBevel(QPainter& painter, const QRect& outer)
{
    const QPalette palette = QGuiApplication::palette();
    painter.setPen(palette.color(QPalette::Dark));
    painter.drawLine(outer.topLeft(), outer.topRight());
    painter.drawLine(outer.topLeft(), outer.bottomLeft());
    painter.setPen(palette.color(QPalette::Light));
    painter.drawLine(outer.bottomLeft(), outer.bottomRight());
    painter.drawLine(outer.topRight(), outer.bottomRight());
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
    QPainter painter(&picture);
    const QImage& screen1 = screens.Screen1Image();
    const QImage& screen2 = screens.Screen2Image();
    DrawBevel(painter, QRect(map_layout::kScreen1At - QPoint(1, 1), screen1.size() + QSize(2, 2))
                           .adjusted(0, 0, -1, -1));
    DrawBevel(painter, QRect(map_layout::kScreen2At - QPoint(1, 1), screen2.size() + QSize(2, 2))
                           .adjusted(0, 0, -1, -1));
    painter.drawImage(map_layout::kScreen1At, screen1);
    painter.drawImage(map_layout::kScreen2At, screen2);
    painter.drawImage(map_layout::kFreqScaleAt, screens.FreqScaleImage());
    painter.drawImage(map_layout::kPanScaleAt, screens.PanScaleImage());
    return picture;
}

} // namespace varnel
