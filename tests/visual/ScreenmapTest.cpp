#include "visual/Screenmap.h"

#include "visual/GuiApp.h"
#include "visual/Visualmap.h"

#include <QFontMetrics>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace varnel {
namespace {

QColor At(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

QColor Or(const QColor& a, const QColor& b)
{
    return QColor(a.red() | b.red(), a.green() | b.green(), a.blue() | b.blue());
}

// Columns of one row painted in the given colour.
std::set<int> ColumnsOf(const QImage& image, int y, const QColor& colour)
{
    std::set<int> columns;
    for (int x = 0; x < image.width(); ++x)
        if (At(image, x, y) == colour)
            columns.insert(x);
    return columns;
}

std::set<int> RowsOf(const QImage& image, int x, const QColor& colour)
{
    std::set<int> rows;
    for (int y = 0; y < image.height(); ++y)
        if (At(image, x, y) == colour)
            rows.insert(y);
    return rows;
}

class ScreenMapTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::GuiApp();
        ASSERT_EQ(mVisual.Init(90, 60, 40, 40.0f, 22050.0f, 10.0f), 0);
        mScreens = std::make_unique<TScreenMap>(&mVisual);
        mScreens->DrawInitial();
    }

    // Ink in the scale picture: any pixel of the columns that is not the fill colour.
    bool InkIn(const QImage& image, int from, int to) const
    {
        for (int x = std::max(from, 0); x <= std::min(to, image.width() - 1); ++x)
            for (int y = 0; y < image.height(); ++y)
                if (At(image, x, y) != mScreens->ScaleBackground())
                    return true;
        return false;
    }

    TVisualMap mVisual;
    std::unique_ptr<TScreenMap> mScreens;
};

TEST_F(ScreenMapTest, PanLinesForDefaultScale)
{
    mScreens->DrawBackground(22050.0f, 40.0f, 10.0f);
    const QImage& back = mScreens->Screen1Back();
    const int row = 100; // clear of the frequency lines and the letters
    EXPECT_EQ(ColumnsOf(back, row, screen_colours::kCentreLine), (std::set<int>{280}));
    EXPECT_EQ(ColumnsOf(back, row, screen_colours::kGrid),
              (std::set<int>{19, 43, 72, 111, 168, 391, 448, 487, 516, 540}));
    // Lines run from the top row to the bottom row.
    EXPECT_EQ(At(back, 391, 0), screen_colours::kGrid);
    EXPECT_EQ(At(back, 391, 339), screen_colours::kGrid);
    // Every label fits: ink under every line and its mirror.
    for (int x : {280, 391, 448, 487, 516, 540, 168, 111, 72, 43, 19})
        EXPECT_TRUE(InkIn(mScreens->PanScaleImage(), x - 1, x + 1)) << x;
}

TEST_F(ScreenMapTest, PanLinesAndSkippedLabelsForScaleHundred)
{
    mScreens->DrawBackground(22050.0f, 40.0f, 100.0f);
    const QImage& back = mScreens->Screen1Back();
    // Step 10.5: ratios 1, 11.5, 22, ... 95.5 and their inverses.
    EXPECT_EQ(ColumnsOf(back, 100, screen_colours::kGrid),
              (std::set<int>{428, 467, 491, 508, 521, 532, 542, 550, 557, 131, 92, 68, 51, 38, 27,
                             17, 9, 2}));
    // Labels: one is drawn only when it clears the previous one by more than 3 pixels and
    // ends before the right edge; a skipped one leaves no ink where no drawn label is.
    QFont font = QGuiApplication::font();
    font.setPointSize(8);
    const QImage& scale = mScreens->PanScaleImage();
    const QFontMetrics metrics(font, &scale);
    struct Label
    {
        int X, Mirror, Half;
        bool Placed;
    };
    std::vector<Label> labels;
    int last = 0;
    float v = 1.0f;
    const int xs[] = {280, 428, 467, 491, 508, 521, 532, 542, 550, 557};
    const int mirrors[] = {280, 131, 92, 68, 51, 38, 27, 17, 9, 2};
    for (int i = 0; i < 10; ++i, v += 10.5f) {
        QString text = QString::number(static_cast<double>(v), 'f', 1);
        if (text.endsWith(".0"))
            text.chop(2);
        const int half = metrics.horizontalAdvance(text) / 2;
        const bool placed = xs[i] - half > last + 3 && xs[i] + half < scale.width();
        if (placed)
            last = xs[i] + half;
        labels.push_back({xs[i], mirrors[i], half, placed});
    }
    int skipped = 0;
    for (const Label& label : labels) {
        if (label.Placed) {
            EXPECT_TRUE(InkIn(scale, label.X - 1, label.X + 1)) << label.X;
            EXPECT_TRUE(InkIn(scale, label.Mirror - 1, label.Mirror + 1)) << label.Mirror;
            continue;
        }
        ++skipped;
        // Columns of the skipped label's box that no drawn label covers (1 pixel of slack
        // for glyphs overhanging their advance).
        for (int x = label.X - label.Half + 1; x < label.X + label.Half; ++x) {
            bool covered = false;
            for (const Label& other : labels)
                covered = covered || (other.Placed && std::abs(x - other.X) <= other.Half + 1);
            if (!covered) {
                EXPECT_FALSE(InkIn(scale, x, x)) << "skipped label at " << label.X;
            }
        }
    }
    EXPECT_GT(skipped, 0) << "the crowded right side must lose some labels";
    EXPECT_FALSE(labels.back().Placed) << "95.5 would reach the right edge";
}

TEST_F(ScreenMapTest, FrequencyLinesFollowHalfRate)
{
    struct Row
    {
        float HalfRate;
        std::set<int> Lines;
        int Labels;
    };
    const Row rows[] = {{22050.0f, {42, 166, 290}, 3}, {4000.0f, {102, 272}, 2}};
    for (const Row& row : rows) {
        mScreens->DrawBackground(row.HalfRate, 40.0f, 10.0f);
        // Screen2 column 60 lies between the depth lines; Screen1 column 300 between pan lines.
        EXPECT_EQ(RowsOf(mScreens->Screen2Back(), 60, screen_colours::kGrid), row.Lines);
        EXPECT_EQ(RowsOf(mScreens->Screen1Back(), 300, screen_colours::kGrid), row.Lines);
        for (int y : row.Lines) {
            // Each label is centred on its line.
            const QImage& scale = mScreens->FreqScaleImage();
            bool ink = false;
            for (int x = 0; x < scale.width() && !ink; ++x)
                for (int dy = -3; dy <= 3 && !ink; ++dy)
                    ink = At(scale, x, y + dy) != mScreens->ScaleBackground();
            EXPECT_TRUE(ink) << "label at " << y;
        }
    }
    // No label above the top line at 8 kHz: rows 0..80 of the scale stay empty.
    const QImage& scale = mScreens->FreqScaleImage();
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < scale.width(); ++x)
            ASSERT_EQ(At(scale, x, y), mScreens->ScaleBackground()) << x << "," << y;
}

TEST_F(ScreenMapTest, DepthQuartersAndLetters)
{
    mScreens->DrawBackground(22050.0f, 40.0f, 10.0f);
    EXPECT_EQ(ColumnsOf(mScreens->Screen2Back(), 100, screen_colours::kGrid),
              (std::set<int>{49, 98, 147}));
    // The big letters sit in the bottom corners of each screen.
    for (const QImage* image : {&mScreens->Screen1Back(), &mScreens->Screen2Back()}) {
        const int w = image->width();
        int left = 0, right = 0;
        for (int y = 250; y < 340; ++y)
            for (int x = 0; x < w; ++x)
                if (At(*image, x, y) == screen_colours::kLetters)
                    (x < w / 2 ? left : right) += 1;
        EXPECT_GT(left, 20);
        EXPECT_GT(right, 20);
    }
}

TEST_F(ScreenMapTest, AreaTintFrameAndInversion)
{
    mVisual.Clear(); // black visuals leave the background as it is
    const QImage& back = mScreens->Screen1Back();
    const QColor tint = screen_colours::kTint;
    for (bool inverted : {false, true}) {
        mScreens->SetInvertArea(inverted);
        mScreens->Compose(StartupEdges());
        const QImage& image = mScreens->Screen1Image();
        const QColor inside = At(image, 300, 150);
        const QColor outside = At(image, 50, 150);
        EXPECT_EQ(inside, inverted ? Or(At(back, 300, 150), tint) : At(back, 300, 150));
        EXPECT_EQ(outside, inverted ? At(back, 50, 150) : Or(At(back, 50, 150), tint));
        // A frame 3 pixels wide, centred on the first and last columns and rows inside.
        for (int x : {139, 140, 141, 418, 419, 420})
            EXPECT_GE(At(image, x, 150).red(), 250) << x;
        for (int y : {55, 56, 57, 281, 282, 283})
            EXPECT_GE(At(image, 300, y).red(), 250) << y;
        for (int x : {138, 142, 417, 421})
            EXPECT_LT(At(image, x, 150).red(), 250) << x;
        // Screen2 with its own rectangle: depth 0..98.
        const QImage& image2 = mScreens->Screen2Image();
        EXPECT_EQ(At(image2, 150, 150), inverted ? At(mScreens->Screen2Back(), 150, 150)
                                                 : Or(At(mScreens->Screen2Back(), 150, 150), tint));
    }
}

TEST_F(ScreenMapTest, WholeScreenAreaLeavesMapUntinted)
{
    mVisual.Clear();
    mScreens->Compose(AreaEdges{0, 0, 560, 340, 0, 0, 196, 340});
    const QImage& image = mScreens->Screen1Image();
    const QImage& back = mScreens->Screen1Back();
    for (int y = 2; y < 338; ++y)
        for (int x = 2; x < 558; ++x)
            ASSERT_EQ(At(image, x, y), At(back, x, y)) << x << "," << y;
    EXPECT_GE(At(image, 0, 100).red(), 250);
    EXPECT_GE(At(image, 559, 100).red(), 250);
    EXPECT_GE(At(image, 100, 339).red(), 250);
    mScreens->SetInvertArea(true);
    mScreens->Compose(AreaEdges{0, 0, 560, 340, 0, 0, 196, 340});
    EXPECT_EQ(At(mScreens->Screen1Image(), 300, 150),
              Or(At(back, 300, 150), screen_colours::kTint));
}

TEST_F(ScreenMapTest, VisualCellsEnlargedAndCombinedByOr)
{
    mVisual.SetColourScale(10);
    mVisual.Clear();
    // Twelve frames with one loud in-phase bin: the averaged slots light one pan cell.
    for (int i = 0; i < 12; ++i) {
        mVisual.NextFrame();
        mVisual.AddBin(1000, 0.0f, 20000.0f, 20000.0f, 1.0f);
    }
    mScreens->Compose(AreaEdges{0, 0, 560, 340, 0, 0, 196, 340});
    const QImage& pan = mVisual.PanImage();
    int row = -1;
    for (int y = 0; y < 60; ++y)
        if (pan.pixelColor(45, y) != QColor(Qt::black))
            row = y;
    ASSERT_GE(row, 0);
    const QColor cell = pan.pixelColor(45, row);
    // Cell column 45 of 90 covers screen columns 280..286, row r covers r*340/60 onwards.
    const int y = (row * 340 + 59) / 60 + 1;
    const QImage& image = mScreens->Screen1Image();
    const QImage& back = mScreens->Screen1Back();
    for (int x = 280; x <= 286; ++x)
        EXPECT_EQ(At(image, x, y), Or(At(back, x, y), cell)) << x;
    EXPECT_EQ(At(image, 279, y), At(back, 279, y));
    EXPECT_EQ(At(image, 287, y), At(back, 287, y));
    // Visuals off: the background only; the map keeps its picture for later.
    mScreens->SetShowVisual(false);
    mScreens->Compose(AreaEdges{0, 0, 560, 340, 0, 0, 196, 340});
    EXPECT_EQ(At(mScreens->Screen1Image(), 283, y), At(back, 283, y));
    EXPECT_EQ(mVisual.PanImage().pixelColor(45, row), cell);
}

// Every pixel of both screens, with many cells lit: the screen with visuals is the one without
// them ORed with the map's cell under it (nearest cell: screen column x shows cell column
// x * cells / width, the same for rows). Depths up to pi light Screen2's last column, whose bytes
// end its rows past the last whole 8-byte word.
TEST_F(ScreenMapTest, EveryPixelShowsTheNearestCellOredIn)
{
    mVisual.SetColourScale(10);
    mVisual.Clear();
    for (int i = 0; i < 12; ++i) {
        mVisual.NextFrame();
        for (int bin = 0; bin < 2000; bin += 7)
            mVisual.AddBin(bin, static_cast<float>((bin % 32) * M_PI / 31), 20000.0f, 20000.0f,
                           std::exp(static_cast<float>(bin % 17 - 8) * 0.5f));
    }
    const AreaEdges edges{100, 50, 400, 300, 20, 50, 150, 300};
    mScreens->SetShowVisual(false);
    mScreens->Compose(edges);
    const QImage without1 = mScreens->Screen1Image().copy();
    const QImage without2 = mScreens->Screen2Image().copy();
    mScreens->SetShowVisual(true);
    mScreens->Compose(edges);
    const struct
    {
        const char* Name;
        const QImage& Cells;
        const QImage& Without;
        const QImage& With;
    } screens[] = {{"Screen1", mVisual.PanImage(), without1, mScreens->Screen1Image()},
                   {"Screen2", mVisual.DepthImage(), without2, mScreens->Screen2Image()}};
    for (const auto& s : screens) {
        SCOPED_TRACE(s.Name);
        int lit = 0;
        for (int y = 0; y < s.Cells.height(); ++y)
            for (int x = 0; x < s.Cells.width(); ++x)
                lit += At(s.Cells, x, y) != QColor(Qt::black) ? 1 : 0;
        EXPECT_GT(lit, 40) << "too few cells lit to test the enlargement";
        int wrong = 0;
        for (int y = 0; y < s.With.height(); ++y)
            for (int x = 0; x < s.With.width(); ++x) {
                const QColor cell = At(s.Cells, x * s.Cells.width() / s.With.width(),
                                       y * s.Cells.height() / s.With.height());
                wrong += At(s.With, x, y) != Or(At(s.Without, x, y), cell) ? 1 : 0;
            }
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(ScreenMapTest, PaintCopiesOnlyTheInvalidRect)
{
    mScreens->Compose(StartupEdges());
    for (int screen : {1, 2}) {
        const QImage& source = screen == 1 ? mScreens->Screen1Image() : mScreens->Screen2Image();
        QImage target(source.size(), QImage::Format_RGB888);
        target.fill(QColor(255, 0, 255));
        const QRect rect(10, 20, 30, 40);
        {
            QPainter painter(&target);
            if (screen == 1)
                mScreens->PaintScreen1(painter, rect);
            else
                mScreens->PaintScreen2(painter, rect);
        }
        for (int y = 0; y < target.height(); ++y)
            for (int x = 0; x < target.width(); ++x)
                ASSERT_EQ(At(target, x, y),
                          rect.contains(x, y) ? At(source, x, y) : QColor(255, 0, 255))
                    << screen << ": " << x << "," << y;
    }
}

} // namespace
} // namespace varnel
