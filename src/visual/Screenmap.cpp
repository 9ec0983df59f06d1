#include "visual/Screenmap.h"

#include "visual/Visualmap.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace varnel {

namespace {

constexpr int kLetterPoints = 32;
constexpr int kLabelPoints = 8;
constexpr int kFrameWidth = 3;

// "0.#": at most one decimal, no trailing zero (1, 2.5, 4).
QString FormatOneDecimal(double v)
{
    QString text = QString::number(v, 'f', 1);
    if (text.endsWith(QLatin1String(".0")))
        text.chop(2);
    return text;
}

QFont FontOfSize(int points)
{
    QFont font = QGuiApplication::font();
    font.setPointSize(points);
    return font;
}

// Text with its top-left corner at (x, y), on an opaque box of the picture's fill colour.
void DrawTextAt(QPainter& painter, int x, int y, const QString& text)
{
    const QFontMetrics metrics = painter.fontMetrics();
    painter.drawText(QPoint(x, y + metrics.ascent()), text);
}

// A one-pixel vertical line from the top to the bottom edge, or a horizontal one across.
void VerticalLine(QImage& image, int x, const QColor& colour)
{
    if (x < 0 || x >= image.width())
        return;
    QPainter painter(&image);
    painter.fillRect(x, 0, 1, image.height(), colour);
}

void HorizontalLine(QImage& image, int y, const QColor& colour)
{
    if (y < 0 || y >= image.height())
        return;
    QPainter painter(&image);
    painter.fillRect(0, y, image.width(), 1, colour);
}

QImage NewImage(const QSize& size)
{
    QImage image(size, QImage::Format_RGB888);
    image.fill(Qt::black);
    return image;
}

// to |= from over bytes, eight at a time: a composed screen is ORed a few hundred thousand
// bytes at a time, on every timer tick and drag step.
void OrBytes(const uchar* from, uchar* to, size_t bytes)
{
    size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        uint64_t a = 0;
        uint64_t b = 0;
        std::memcpy(&a, to + i, 8);
        std::memcpy(&b, from + i, 8);
        a |= b;
        std::memcpy(to + i, &a, 8);
    }
    for (; i < bytes; ++i)
        to[i] |= from[i];
}

} // namespace

TScreenMap::TScreenMap(TVisualMap* visualMap, const ScreenSizes& sizes)
    : mVisualMap(visualMap), mScreen1Image(NewImage(sizes.Screen1)),
      mScreen1Back(NewImage(sizes.Screen1)), mScreen1Area(NewImage(sizes.Screen1)),
      mScreen2Image(NewImage(sizes.Screen2)), mScreen2Back(NewImage(sizes.Screen2)),
      mScreen2Area(NewImage(sizes.Screen2)), mPanScaleImage(NewImage(sizes.PanScale)),
      mFreqScaleImage(NewImage(sizes.FreqScale))
{
    const QPalette palette = QGuiApplication::palette();
    mScaleBackground = palette.color(QPalette::Window);
    mScaleText = palette.color(QPalette::WindowText);
}

void TScreenMap::DrawInitial()
{
    DrawBackground(static_cast<float>(kNoFileHalfRate), kFreqAxisFloorHz, 5.56f);
    mScreen1Image = mScreen1Back.copy();
    mScreen2Image = mScreen2Back.copy();
}

void TScreenMap::DrawLetters(QImage& image, const QString& left, const QString& right)
{
    QPainter painter(&image);
    painter.setFont(FontOfSize(kLetterPoints));
    painter.setPen(screen_colours::kLetters);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(screen_colours::kBackground);
    const QFontMetrics metrics = painter.fontMetrics();
    const int w = image.width();
    const int h = image.height();
    DrawTextAt(painter, 10, h - metrics.height() - 5, left);
    DrawTextAt(painter, w - metrics.horizontalAdvance(right) - 10, h - metrics.height() - 5, right);
}

void TScreenMap::DrawBackground(float halfRateHz, float minFreqHz, float maxRatio)
{
    mScreen1Back.fill(screen_colours::kBackground);
    mScreen2Back.fill(screen_colours::kBackground);
    mPanScaleImage.fill(mScaleBackground);
    mFreqScaleImage.fill(mScaleBackground);

    DrawLetters(mScreen1Back, QStringLiteral("L"), QStringLiteral("R"));
    DrawLetters(mScreen2Back, QStringLiteral("F"), QStringLiteral("B"));

    const QFont labelFont = FontOfSize(kLabelPoints);

    // Pan grid: lines at 1, 1 + step, ... below maxRatio and at their inverses, fewer than ten
    // a side; a label only where it clears the previous one by more than 3 pixels.
    {
        QPainter labels(&mPanScaleImage);
        labels.setFont(labelFont);
        labels.setPen(mScaleText);
        labels.setBackgroundMode(Qt::OpaqueMode);
        labels.setBackground(mScaleBackground);
        const QFontMetrics metrics = labels.fontMetrics();
        const int half = mScreen1Back.width() / 2;
        const double decades = std::log10(static_cast<double>(maxRatio));
        // A pan scale of 1 or less has no axis; only the centre line is drawn then.
        const float scale = decades > 0.0 ? static_cast<float>(half / decades) : 0.0f;
        float step = 0.5f;
        while (maxRatio / step >= 10.0f)
            step += 0.5f;
        int last = 0;
        float v = 1.0f;
        while (v < maxRatio) {
            const QColor& pen = v == 1.0f ? screen_colours::kCentreLine : screen_colours::kGrid;
            const double logV = std::log10(static_cast<double>(v));
            const int x = static_cast<int>(logV * scale + half);
            VerticalLine(mScreen1Back, x, pen);
            const QString label = FormatOneDecimal(v);
            const int hw = metrics.horizontalAdvance(label) / 2;
            const bool placed = x - hw > last + 3 && x + hw < mPanScaleImage.width();
            if (placed) {
                DrawTextAt(labels, x - hw, 0, label);
                last = x + hw;
            }
            const int mirror = static_cast<int>(-logV * scale + half);
            VerticalLine(mScreen1Back, mirror, pen);
            if (placed)
                DrawTextAt(labels, mirror - hw, 0, label);
            v += step;
        }
    }

    // Frequency grid on both screens: one line per decade from 100 Hz, labels beside Screen1.
    {
        QPainter labels(&mFreqScaleImage);
        labels.setFont(labelFont);
        labels.setPen(mScaleText);
        labels.setBackgroundMode(Qt::OpaqueMode);
        labels.setBackground(mScaleBackground);
        const QFontMetrics metrics = labels.fontMetrics();
        const int height = mScreen1Back.height();
        const double logMin = std::log10(static_cast<double>(minFreqHz));
        const double span = std::log10(static_cast<double>(halfRateHz)) - logMin;
        // A half rate at or below the lowest frequency has no axis: no lines.
        if (span > 0.0) {
            const float fscale = static_cast<float>(height / span);
            for (int e = 2; e < 10; ++e) {
                const int y = static_cast<int>(height - (e - logMin) * fscale);
                if (y < 0)
                    break;
                HorizontalLine(mScreen1Back, y, screen_colours::kGrid);
                HorizontalLine(mScreen2Back, y, screen_colours::kGrid);
                const float f = static_cast<float>(std::pow(10.0, e));
                const QString label =
                    f < 1000.0f
                        ? QString::number(static_cast<double>(f), 'f', 0) + QStringLiteral("Hz")
                        : FormatOneDecimal(static_cast<double>(f) * 0.001) + QStringLiteral("kHz");
                DrawTextAt(labels, 0, y - metrics.height() / 2, label);
            }
        }
    }

    // Depth grid: quarters of the phase difference.
    const float quarter = static_cast<float>(mScreen2Back.width() * 0.25);
    for (int k = 1; k <= 3; ++k)
        VerticalLine(mScreen2Back, static_cast<int>(static_cast<float>(k) * quarter),
                     screen_colours::kGrid);
}

void TScreenMap::EnlargeOr(const QImage& source, QImage& target, std::vector<int>& columnMap,
                           std::vector<uchar>& row)
{
    const int sw = source.width();
    const int sh = source.height();
    const int tw = target.width();
    const int th = target.height();
    if (sw <= 0 || sh <= 0)
        return;
    // Nearest pixel: target column x shows source column x * sw / tw (byte offset kept).
    // Sized once per screen size; the same sizes come back on every call.
    columnMap.resize(static_cast<size_t>(tw));
    for (int x = 0; x < tw; ++x)
        columnMap[static_cast<size_t>(x)] = 3 * static_cast<int>(int64_t{x} * sw / tw);
    const size_t bytes = 3 * static_cast<size_t>(tw);
    row.resize(bytes);
    // Target rows y show source row y * sh / th: each source row is enlarged once, then ORed
    // into every target row that shows it.
    int enlarged = -1;
    for (int y = 0; y < th; ++y) {
        const int from = static_cast<int>(int64_t{y} * sh / th);
        if (from != enlarged) {
            const uchar* line = source.constScanLine(from);
            for (int x = 0; x < tw; ++x) {
                const uchar* pixel = line + columnMap[static_cast<size_t>(x)];
                row[3 * static_cast<size_t>(x)] = pixel[0];
                row[3 * static_cast<size_t>(x) + 1] = pixel[1];
                row[3 * static_cast<size_t>(x) + 2] = pixel[2];
            }
            enlarged = from;
        }
        OrBytes(row.data(), target.scanLine(y), bytes);
    }
}

void TScreenMap::OrInto(const QImage& layer, QImage& target)
{
    const size_t bytes = 3 * static_cast<size_t>(target.width());
    for (int y = 0; y < target.height(); ++y)
        OrBytes(layer.constScanLine(y), target.scanLine(y), bytes);
}

void TScreenMap::DrawArea(QImage& layer, int left, int top, int right, int bottom) const
{
    const QColor outer = mInvertArea ? QColor(Qt::black) : screen_colours::kTint;
    const QColor inner = mInvertArea ? screen_colours::kTint : QColor(Qt::black);
    layer.fill(outer);
    QPainter painter(&layer);
    if (right > left && bottom > top)
        painter.fillRect(left, top, right - left, bottom - top, inner);
    // The frame is centred on the outline through the first and last column and row inside:
    // one pixel outside it, the outline itself and one pixel inside.
    const int half = kFrameWidth / 2;
    const int x0 = left - half;
    const int x1 = right - 1 + half;
    const int y0 = top - half;
    const int y1 = bottom - 1 + half;
    const QColor& frame = screen_colours::kFrame;
    painter.fillRect(QRect(QPoint(x0, y0), QPoint(x1, y0 + kFrameWidth - 1)), frame);
    painter.fillRect(QRect(QPoint(x0, y1 - kFrameWidth + 1), QPoint(x1, y1)), frame);
    painter.fillRect(QRect(QPoint(x0, y0), QPoint(x0 + kFrameWidth - 1, y1)), frame);
    painter.fillRect(QRect(QPoint(x1 - kFrameWidth + 1, y0), QPoint(x1, y1)), frame);
}

void TScreenMap::Compose(const AreaEdges& edges)
{
    // Plain copies into the composed pictures, which keep their own buffers.
    std::memcpy(mScreen1Image.bits(), mScreen1Back.constBits(),
                static_cast<size_t>(mScreen1Back.sizeInBytes()));
    std::memcpy(mScreen2Image.bits(), mScreen2Back.constBits(),
                static_cast<size_t>(mScreen2Back.sizeInBytes()));

    if (mShowVisual && mVisualMap != nullptr) {
        mVisualMap->BuildImages();
        EnlargeOr(mVisualMap->PanImage(), mScreen1Image, mColumnMap1, mEnlargedRow);
        EnlargeOr(mVisualMap->DepthImage(), mScreen2Image, mColumnMap2, mEnlargedRow);
    }

    DrawArea(mScreen1Area, edges.Area1Left, edges.Area1Top, edges.Area1Right, edges.Area1Bottom);
    DrawArea(mScreen2Area, edges.Area2Left, edges.Area2Top, edges.Area2Right, edges.Area2Bottom);
    OrInto(mScreen1Area, mScreen1Image);
    OrInto(mScreen2Area, mScreen2Image);
}

void TScreenMap::PaintScreen1(QPainter& painter, const QRect& rect) const
{
    const QRect part = rect.intersected(mScreen1Image.rect());
    painter.drawImage(part.topLeft(), mScreen1Image, part);
}

void TScreenMap::PaintScreen2(QPainter& painter, const QRect& rect) const
{
    const QRect part = rect.intersected(mScreen2Image.rect());
    painter.drawImage(part.topLeft(), mScreen2Image, part);
}

} // namespace varnel
