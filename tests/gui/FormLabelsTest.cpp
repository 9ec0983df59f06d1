#include "settings/FormLabels.h"

#include "gui/WidgetApp.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

#include <gtest/gtest.h>

namespace varnel {
namespace {

// A dialog with one control of every kind a form table names: a label, a push button, a
// check box, a tool button with a hint, and a page of a tab control.
struct SampleForm
{
    test::AppFirst App;
    QDialog Form;
    QLabel* Label;
    QPushButton* Button;
    QCheckBox* Check;
    QToolButton* Tool;
    QTabWidget* Tabs;
    QWidget* Page;

    SampleForm()
    {
        Form.setWindowTitle("設定");
        Label = new QLabel("定位", &Form);
        Label->setObjectName("Label1");
        Button = new QPushButton("ファイルを開く", &Form);
        Button->setObjectName("FileOpenBtn");
        Check = new QCheckBox("定位固定", &Form);
        Check->setObjectName("PanCheck");
        Tool = new QToolButton(&Form);
        Tool->setObjectName("HelpBtn");
        Tool->setToolTip("ヘルプ");
        Tabs = new QTabWidget(&Form);
        Tabs->addTab(new QWidget, "first");
        Page = new QWidget;
        Page->setObjectName("TabSheet2");
        Tabs->addTab(Page, "音質とパフォーマンス");
    }
};

const std::vector<ControlLabel> kSampleLabels = {
    {"", "caption", "設定", "设置"},
    {"Label1", "caption", "定位", "相"},
    {"FileOpenBtn", "caption", "ファイルを開く", "载入文件 "},
    {"PanCheck", "caption", "定位固定", "相位锁定"},
    {"HelpBtn", "hint", "ヘルプ", "帮助"},
    {"TabSheet2", "caption", "音質とパフォーマンス", "音频质量"},
};

TEST(FormLabelsTest, EveryKindOfControlGetsItsTextUnlessJapaneseIsChosen)
{
    // English and Chinese ids, full and primary-only; only the low 10 bits count, so 0x0411
    // is Japanese too.
    for (int language : {9, 0x0409, 4, 0x0804, 17, 0x0411}) {
        SCOPED_TRACE(language);
        const bool japanese = (language & 0x3FF) == 17;
        SampleForm f;
        EXPECT_TRUE(ApplyFormLabels(f.Form, kSampleLabels, TLangSet(language)).empty());
        EXPECT_EQ(f.Form.windowTitle(), QString(japanese ? "設定" : "设置"));
        EXPECT_EQ(f.Label->text(), QString(japanese ? "定位" : "相"));
        // The trailing space is kept.
        EXPECT_EQ(f.Button->text(), QString(japanese ? "ファイルを開く" : "载入文件 "));
        EXPECT_EQ(f.Check->text(), QString(japanese ? "定位固定" : "相位锁定"));
        EXPECT_EQ(f.Tool->toolTip(), QString(japanese ? "ヘルプ" : "帮助"));
        EXPECT_EQ(f.Tabs->tabText(1), QString(japanese ? "音質とパフォーマンス" : "音频质量"));
        EXPECT_EQ(f.Tabs->tabText(0), QString("first")); // not in the table
    }
}

TEST(FormLabelsTest, RowsWithoutAMatchingControlAreReported)
{
    SampleForm f;
    // A name the form lacks, and a caption for a plain widget that shows no text.
    auto* plain = new QWidget(&f.Form);
    plain->setObjectName("Panel1");
    const std::vector<ControlLabel> labels = {
        {"NoSuchBtn", "caption", "x", "y"},
        {"Panel1", "caption", "x", "y"},
        {"Label1", "caption", "定位", "相"},
    };
    const std::vector<std::string> missing = ApplyFormLabels(f.Form, labels, TLangSet(9));
    EXPECT_EQ(missing, (std::vector<std::string>{"NoSuchBtn", "Panel1"}));
    EXPECT_EQ(f.Label->text(), QString("相")); // the rows after a miss still apply
}

} // namespace
} // namespace varnel
