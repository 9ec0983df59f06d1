#pragma once

#include "dsp/AreaMapping.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <QSize>

#include <vector>

class QPainter;

namespace varnel {

class TVisualMap;

// Sizes of the two map screens and the two scale pictures, taken from the window's controls.
struct ScreenSizes
{
    QSize Screen1{kScreen1Width, kScreen1Height}; // pan across, frequency up
    QSize Screen2{kScreen2Width, kScreen1Height}; // depth across, frequency up
    QSize PanScale{kScreen1Width, 18};            // under Screen1
    QSize FreqScale{33, kScreen1Height};          // right of Screen1
};

// Colours of the map screens (red, green, blue).
namespace screen_colours {
inline const QColor kBackground{0, 5, 80};
inline const QColor kLetters{0, 50, 100};
inline const QColor kCentreLine{180, 180, 180};
inline const QColor kGrid{0, 180, 10};
inline const QColor kTint{40, 70, 70};
inline const QColor kFrame{250, 0, 0};
} // namespace screen_colours

// Composes the pictures of the two maps: a static background (big letters, grid), the visual
// map's images enlarged over it, and the extraction area (a red frame, with a tint outside it,
// or inside it when the area is inverted). The pictures are plain 24-bit images; a widget's
// paint handler only copies from them (PaintScreen1/PaintScreen2).
//
// GUI thread only (it draws text, which needs the application's fonts). Needs a
// QGuiApplication.
class TScreenMap
{
public:
    // GUI thread; allocates the eight pictures. visualMap may be null (no visuals to show).
    explicit TScreenMap(TVisualMap* visualMap, const ScreenSizes& sizes = ScreenSizes());
    TScreenMap(const TScreenMap&) = delete;
    TScreenMap& operator=(const TScreenMap&) = delete;

    // GUI thread. Backgrounds and scales for the values before any file, and both composed
    // pictures set to the bare backgrounds.
    void DrawInitial();
    // GUI thread. Redraws both backgrounds and both scale pictures for a frequency axis from
    // minFreqHz (bottom) to halfRateHz (top) and a pan axis from 1/maxRatio to maxRatio. Does
    // not recompose; call Compose after it.
    void DrawBackground(float halfRateHz, float minFreqHz, float maxRatio);
    // GUI thread. Builds both composed pictures: background, the visual images (when shown;
    // this rebuilds them from the visual map), then the area layers, from the eight edges in
    // screen pixels.
    void Compose(const AreaEdges& edges);
    // GUI thread. Take effect at the next Compose.
    void SetInvertArea(bool value) { mInvertArea = value; }
    void SetShowVisual(bool value) { mShowVisual = value; }

    // GUI thread, from a paint handler: copy the rect (the invalid region) of the last
    // composed picture to the same place of the painter's device.
    void PaintScreen1(QPainter& painter, const QRect& rect) const;
    void PaintScreen2(QPainter& painter, const QRect& rect) const;

    // GUI thread readers.
    const QImage& Screen1Image() const { return mScreen1Image; }
    const QImage& Screen2Image() const { return mScreen2Image; }
    const QImage& Screen1Back() const { return mScreen1Back; }
    const QImage& Screen2Back() const { return mScreen2Back; }
    const QImage& PanScaleImage() const { return mPanScaleImage; }
    const QImage& FreqScaleImage() const { return mFreqScaleImage; }
    // The scale pictures' fill: the window's background colour.
    QColor ScaleBackground() const { return mScaleBackground; }

private:
    void DrawLetters(QImage& image, const QString& left, const QString& right);
    void DrawArea(QImage& layer, int left, int top, int right, int bottom) const;
    static void EnlargeOr(const QImage& source, QImage& target, std::vector<int>& columnMap,
                          std::vector<uchar>& row);
    static void OrInto(const QImage& layer, QImage& target);

    TVisualMap* mVisualMap;
    QImage mScreen1Image;
    QImage mScreen1Back;
    QImage mScreen1Area;
    QImage mScreen2Image;
    QImage mScreen2Back;
    QImage mScreen2Area;
    QImage mPanScaleImage;
    QImage mFreqScaleImage;
    bool mInvertArea = false;
    bool mShowVisual = true;
    QColor mScaleBackground;
    QColor mScaleText;
    std::vector<int> mColumnMap1; // target column -> source column, for the enlargements
    std::vector<int> mColumnMap2;
    std::vector<uchar> mEnlargedRow; // one source row enlarged to a screen's width
};

} // namespace varnel
