#include "gui/WindowFixture.h"

#include "app/TextFit.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace varnel {
namespace {

using test::ScopedLocale;
using test::WindowFixture;

// Every control of the window's layout: its class, its place in its parent and its first text.
TEST(MainWindowLayout, EveryControlHasItsNameKindAndGeometry)
{
    ScopedLocale japanese("ja_JP.UTF-8");
    WindowFixture w;
    TForm1& form = *w.Form;
    EXPECT_EQ(form.size(), QSize(822, 584));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the window has a fixed size";
    EXPECT_EQ(form.windowTitle(), "Varnel");
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form.font().pixelSize(), 12);

    struct Control
    {
        const char* Name;
        const char* Class; // the Qt class it is, or derives from
        const char* Parent;
        QRect Geometry;
        const char* Text; // nullptr: not checked
    };
    const Control controls[] = {
        {"Label3", "QLabel", "Form1", {10, 12, 94, 14}, "入力WAVEファイル"},
        {"Panel2", "QFrame", "Form1", {109, 8, 388, 25}, nullptr},
        {"InputFileNameLabel", "QLabel", "Panel2", {8, 4, 372, 19}, ""},
        {"FileOpenBtn", "QPushButton", "Form1", {508, 8, 109, 25}, "ファイルを開く"},
        {"FileSaveBtn", "QPushButton", "Form1", {625, 8, 112, 25}, "ファイルに保存..."},
        {"SetBtn", "QPushButton", "Form1", {752, 8, 25, 25}, nullptr},
        {"HelpBtn", "QPushButton", "Form1", {784, 8, 25, 25}, nullptr},
        {"WformLbl", "QLabel", "Form1", {22, 47, 155, 14}, ""},
        {"Label1", "QLabel", "Form1", {237, 49, 121, 16}, "定位"},
        {"Label2", "QLabel", "Form1", {672, 49, 81, 16}, "奥行き"},
        {"Panel4", "QFrame", "Form1", {578, 50, 50, 16}, nullptr},
        {"FrqHiLbl", "QLabel", "Panel4", {0, 0, 50, 16}, "7796Hz"},
        {"Panel1", "QFrame", "Form1", {16, 71, 562, 342}, nullptr},
        {"Screen1", "QWidget", "Panel1", {1, 1, 560, 340}, nullptr},
        {"FrqNoImg", "QWidget", "Form1", {578, 72, 33, 340}, nullptr},
        {"Panel3", "QFrame", "Form1", {611, 71, 198, 342}, nullptr},
        {"Screen2", "QWidget", "Panel3", {1, 1, 196, 340}, nullptr},
        {"PanNoImg", "QWidget", "Form1", {17, 413, 560, 18}, nullptr},
        {"Panel5", "QFrame", "Form1", {578, 418, 50, 16}, nullptr},
        {"FrqLwLbl", "QLabel", "Panel5", {0, 0, 50, 16}, "115Hz"},
        {"PanMaxBtn", "QPushButton", "Form1", {93, 438, 89, 25}, "定位最大化"},
        {"CenterBtn", "QPushButton", "Form1", {253, 438, 89, 25}, "定位中央"},
        {"FrqMaxBtn", "QPushButton", "Form1", {413, 438, 89, 25}, "周波数最大化"},
        {"PhaseMaxBtn", "QPushButton", "Form1", {668, 438, 89, 25}, "奥行最大化"},
        {"Bevel3", "QFrame", "Form1", {8, 472, 425, 97}, nullptr},
        {"PlayBar", "QSlider", "Form1", {17, 484, 408, 30}, nullptr},
        {"Panel6", "QFrame", "Form1", {26, 532, 50, 16}, nullptr},
        {"TstmpLbl", "QLabel", "Panel6", {0, 0, 50, 16}, "00:00"},
        {"RewButton", "QPushButton", "Form1", {90, 523, 75, 33}, nullptr},
        {"PlayButton", "QPushButton", "Form1", {200, 523, 89, 33}, nullptr},
        {"RepeatBtn", "QPushButton", "Form1", {324, 523, 75, 33}, nullptr},
        {"VolumeBar", "QSlider", "Form1", {520, 475, 150, 33}, nullptr},
        {"PanScaleBar", "QSlider", "Form1", {520, 511, 150, 33}, nullptr},
        {"ColorScaleBar", "QSlider", "Form1", {520, 547, 150, 33}, nullptr},
        {"PanCheck", "QCheckBox", "Form1", {703, 477, 97, 17}, "定位固定"},
        {"FreqCheck", "QCheckBox", "Form1", {703, 500, 97, 17}, "周波数固定"},
        {"InvCheck", "QCheckBox", "Form1", {703, 524, 97, 17}, "抽出エリア反転"},
        {"VisOffCheck", "QCheckBox", "Form1", {703, 548, 97, 17}, "ビジュアルなし"},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.Name);
        auto* widget = form.findChild<QWidget*>(c.Name);
        ASSERT_NE(widget, nullptr);
        EXPECT_TRUE(widget->inherits(c.Class)) << widget->metaObject()->className();
        ASSERT_NE(widget->parentWidget(), nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), c.Parent);
        EXPECT_EQ(widget->geometry(), c.Geometry);
        if (c.Text == nullptr)
            continue;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_EQ(label->text(), QString::fromUtf8(c.Text));
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_EQ(button->text(), QString::fromUtf8(c.Text));
        }
    }

    // Labels placed by their top-left corner, and the two whose right edge is given.
    const struct
    {
        const char* Name;
        QPoint At;
        const char* Text;
    } placed[] = {{"Label4", {440, 479}, "再生音量"},
                  {"Label5", {440, 514}, "定位スケール"},
                  {"Label6", {440, 550}, "カラースケール"}};
    for (const auto& p : placed) {
        SCOPED_TRACE(p.Name);
        auto* label = form.findChild<QLabel*>(p.Name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->pos(), p.At);
        EXPECT_EQ(label->text(), QString::fromUtf8(p.Text));
    }
    EXPECT_EQ(form.PgmNameLbl->geometry().right() + 1, 564);
    EXPECT_EQ(form.PgmNameLbl->y(), 42);
    EXPECT_EQ(form.PgmNameLbl->text(), "Varnel V1.0");
    EXPECT_EQ(form.RightsLbl->geometry().right() + 1, 563);
    EXPECT_EQ(form.RightsLbl->y(), 56);
    EXPECT_FALSE(form.RightsLbl->text().isEmpty());

    // Alignments, hints, slider ranges and the timer.
    EXPECT_TRUE(form.Label3->alignment() & Qt::AlignRight);
    EXPECT_TRUE(form.Label1->alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(form.FrqHiLbl->alignment() & Qt::AlignRight);
    EXPECT_TRUE(form.TstmpLbl->alignment() & Qt::AlignRight);
    EXPECT_EQ(form.SetBtn->toolTip(), "設定");
    EXPECT_EQ(form.HelpBtn->toolTip(), "ヘルプ");
    const struct
    {
        QSlider* Bar;
        int Maximum, Position, Tick;
    } bars[] = {
        {form.VolumeBar, 20, 20, 2}, {form.PanScaleBar, 10, 3, 1}, {form.ColorScaleBar, 10, 5, 1}};
    for (const auto& b : bars) {
        SCOPED_TRACE(b.Bar->objectName().toStdString());
        EXPECT_EQ(b.Bar->minimum(), 0);
        EXPECT_EQ(b.Bar->maximum(), b.Maximum);
        EXPECT_EQ(b.Bar->value(), b.Position);
        EXPECT_EQ(b.Bar->tickInterval(), b.Tick);
    }
    EXPECT_EQ(form.PlayBar->value(), 0);
    for (QCheckBox* box : {form.PanCheck, form.FreqCheck, form.InvCheck, form.VisOffCheck})
        EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(form.Timer1->interval(), 30);
    EXPECT_FALSE(form.Timer1->isActive());
    for (const QIcon& picture : form.ABImages)
        EXPECT_FALSE(picture.isNull());
    EXPECT_FALSE(form.PlayIn.IsOpen);
    EXPECT_EQ(form.HalfRate, 22050);
    EXPECT_TRUE(form.VisualOn);
    EXPECT_TRUE(form.acceptDrops());

    // The two file dialogs are made once the window is on the screen.
    form.show();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return form.findChild<QFileDialog*>("OpenDialog1") &&
               form.findChild<QFileDialog*>("SaveDialog1");
    }));
    EXPECT_EQ(form.OpenDialog1->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(form.SaveDialog1->acceptMode(), QFileDialog::AcceptSave);
}

// The alternate texts replace the Japanese ones for every language but Japanese, exactly as
// tabled, spaces included; Japanese keeps the design-time texts.
TEST(MainWindowLayout, TextsFollowTheLocale)
{
    const struct
    {
        const char* Locale;
        const char* OpenButton;
        const char* Label6;
        const char* InvCheck;
        const char* HelpHint;
    } cases[] = {
        {"ja_JP.UTF-8", "ファイルを開く", "カラースケール", "抽出エリア反転", "ヘルプ"},
        {"en_US.UTF-8", "载入文件 ", "  颜色深度 ", "区域切换    ", "帮助"},
        {"zh_CN.UTF-8", "载入文件 ", "  颜色深度 ", "区域切换    ", "帮助"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Locale);
        ScopedLocale locale(c.Locale);
        WindowFixture w;
        EXPECT_EQ(w.Form->FileOpenBtn->text(), QString::fromUtf8(c.OpenButton));
        EXPECT_EQ(w.Form->Label6->text(), QString::fromUtf8(c.Label6));
        EXPECT_EQ(w.Form->InvCheck->text(), QString::fromUtf8(c.InvCheck));
        EXPECT_EQ(w.Form->HelpBtn->toolTip(), QString::fromUtf8(c.HelpHint));
        EXPECT_EQ(w.Form->windowTitle(), "Varnel");
    }
}

// The pixels a label's text covers, found by drawing the label without its background: the
// bounding box of every pixel the drawing touched (empty for a label that draws nothing).
QRect InkRect(QLabel& label)
{
    QImage image(label.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    label.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

// The plain font is kept down to the last pixel of room; one pixel less narrows the caption.
TEST(MainWindowLayout, CaptionNarrowedOnlyWhenWiderThanItsRoom)
{
    test::AppFirst app;
    QWidget parent;
    QFont font;
    font.setPixelSize(12);
    parent.setFont(font);
    auto* label = new QLabel(QStringLiteral("ファイルを開く"), &parent);
    const int width = QFontMetrics(parent.font()).horizontalAdvance(label->text());
    for (const int room : {width + 1, width, width - 1}) {
        SCOPED_TRACE(room);
        FitCaption(*label, room);
        EXPECT_EQ(label->font() == parent.font(), room >= width);
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), room);
    }
}

// What a person sees in either language: every caption fits the room its control gives it
// (narrowed characters where it must, never a smaller font), the controls that need no
// narrowing keep the window's font, and no caption, button or slider overlaps another.
TEST(MainWindowLayout, EveryCaptionFitsAndNothingOverlapsInEitherLanguage)
{
    const char* const captions[] = {
        "Label3",      "FileOpenBtn", "FileSaveBtn", "Label1",   "Label2",     "PanMaxBtn",
        "CenterBtn",   "FrqMaxBtn",   "PhaseMaxBtn", "PanCheck", "FreqCheck",  "InvCheck",
        "VisOffCheck", "Label4",      "Label5",      "Label6",   "PgmNameLbl", "RightsLbl",
        "TstmpLbl",    "FrqHiLbl",    "FrqLwLbl"};
    for (const char* name : {"ja_JP.UTF-8", "en_US.UTF-8", "zh_CN.UTF-8"}) {
        SCOPED_TRACE(name);
        ScopedLocale locale(name);
        WindowFixture w;
        TForm1& form = *w.Form;
        for (const char* caption : captions) {
            SCOPED_TRACE(caption);
            auto* control = form.findChild<QWidget*>(caption);
            ASSERT_NE(control, nullptr);
            const QString text = CaptionOf(*control);
            ASSERT_FALSE(text.isEmpty());
            const int room = TextRoom(*control);
            EXPECT_LE(QFontMetrics(control->font()).horizontalAdvance(text), room);
            EXPECT_EQ(control->font().pixelSize(), 12);
            if (QFontMetrics(form.font()).horizontalAdvance(text) <= room) {
                EXPECT_EQ(control->font(), form.font()) << "narrowed though it fits";
            }
        }

        // What each control of the window shows, in the window's coordinates: the ink of a
        // label's text, the whole of a button or slider.
        std::vector<std::pair<QString, QRect>> shown;
        for (QWidget* widget : form.findChildren<QWidget*>()) {
            if (widget->window() != &form)
                continue;
            QRect area;
            auto* frame = qobject_cast<QFrame*>(widget);
            if (auto* label = qobject_cast<QLabel*>(widget))
                area = InkRect(*label);
            else if (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QSlider*>(widget))
                area = widget->rect();
            else if (frame && frame->frameShape() == QFrame::Panel)
                // A sunken panel's bevel (the maps, the file name) and a pixel of room around
                // it: text that touches the bevel reads as cut by it.
                area = widget->rect().adjusted(-1, -1, 1, 1);
            if (!area.isEmpty())
                shown.emplace_back(widget->objectName(),
                                   area.translated(widget->mapTo(&form, QPoint(0, 0))));
        }
        for (size_t i = 0; i < shown.size(); ++i)
            for (size_t j = i + 1; j < shown.size(); ++j) {
                QWidget* a = form.findChild<QWidget*>(shown[i].first);
                QWidget* b = form.findChild<QWidget*>(shown[j].first);
                if (a->isAncestorOf(b) || b->isAncestorOf(a))
                    continue; // a panel holds its label
                EXPECT_FALSE(shown[i].second.intersects(shown[j].second))
                    << shown[i].first.toStdString() << " overlaps " << shown[j].first.toStdString();
            }
    }
}

} // namespace
} // namespace varnel
