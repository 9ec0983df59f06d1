#include "settings/Setform.h"

#include "dsp/AreaMapping.h"
#include "gui/WindowFixture.h"
#include "settings/Langset.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path)
{
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// The options dialog over a settings file in a fresh folder, with write failures captured
// instead of shown.
struct OptionsFixture
{
    test::AppFirst App;
    test::TempDir Dir;
    std::string Path = Dir.File("varnel.ini");
    std::unique_ptr<TSetOptForm> Form;
    std::vector<QString> Errors;

    // Makes the dialog, reading the file; `text` is written first unless it is null.
    TSetOptForm& Make(const char* text = nullptr)
    {
        if (text)
            WriteText(Path, text);
        Form = std::make_unique<TSetOptForm>(nullptr, QString::fromStdString(Path));
        Form->SetErrorReporter([this](QWidget*, const QString& e) { Errors.push_back(e); });
        return *Form;
    }

    void Open()
    {
        Form->open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    }

    void Type(const QString& text)
    {
        QLineEdit* edit = Form->BuffSizeBox->lineEdit();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    // On the box itself: the rest of its row takes no clicks.
    void Click(QCheckBox* box)
    {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
    }
};

TEST(SetformTest, FirstRunWithoutAFileUsesTheDefaultsAndOkStoresThem)
{
    OptionsFixture f;
    TSetOptForm& form = f.Make();
    EXPECT_EQ(form.GetBuffSize(), 200);
    EXPECT_EQ(form.GetQtyLevel(), 2);
    EXPECT_FALSE(fs::exists(f.Path)); // nothing is written while the dialog is made

    f.Open();
    EXPECT_EQ(form.BuffSizeBox->currentText(), QString("200"));
    EXPECT_EQ(form.QtyPfmBar->value(), 2);
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet1);
    EXPECT_EQ(form.minimumSize(), form.maximumSize()); // a fixed-size dialog
    // Enter in the length box is the OK button.
    f.Type("200");
    QTest::keyClick(form.BuffSizeBox->lineEdit(), Qt::Key_Return);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(ReadText(f.Path), "[V10_Option]\nBuffSize=200\nQtyLevel=2\n");
    EXPECT_TRUE(f.Errors.empty());
    // A tick alone adds the soft cut's section, with the hard cut's values.
    f.Open();
    f.Click(form.KeepPlayingCheck);
    f.Click(form.OKBtn);
    EXPECT_EQ(ReadText(f.Path), "[V10_Option]\nBuffSize=200\nQtyLevel=2\n[V10_SoftCut]\n"
                                "FeatherPan=0\nFeatherDepth=0\nFeatherFreq=0\nAttenuate=inf\n"
                                "Smooth=0\nKeepPlaying=1\n");
}

TEST(SetformTest, TypedLengthsAreLimitedAndWhatIsNotANumberKeepsTheLengthInEffect)
{
    struct Case
    {
        const char* Typed;
        const char* Shown; // what the box holds after typing
        int Expected;
    };
    const Case cases[] =
        {
            {"50", "50", 100},       {"5000", "5000", 1000}, {"9999", "9999", 1000},
            {"250", "250", 250},     {"abc", "abc", 600},    {"", "", 600},
            {"12345", "1234", 1000}, // a fifth character cannot be typed
            {"$C8", "$C8", 200},
        };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Typed);
        OptionsFixture f;
        TSetOptForm& form = f.Make("[V10_Option]\nBuffSize=600\nQtyLevel=3\n");
        f.Open();
        f.Type(QString::fromUtf8(c.Typed));
        EXPECT_EQ(form.BuffSizeBox->currentText(), QString::fromUtf8(c.Shown));
        f.Click(form.OKBtn);
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_EQ(form.GetBuffSize(), c.Expected);
        EXPECT_EQ(form.GetQtyLevel(), 3);
        EXPECT_EQ(ReadText(f.Path),
                  "[V10_Option]\nBuffSize=" + std::to_string(c.Expected) + "\nQtyLevel=3\n");
    }
}

TEST(SetformTest, QualityComesFromTheBarByKeyboard)
{
    OptionsFixture f;
    TSetOptForm& form = f.Make();
    f.Open();
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    form.QtyPfmBar->setFocus();
    QTest::keyClick(form.QtyPfmBar, Qt::Key_End);
    EXPECT_EQ(form.QtyPfmBar->value(), 4);
    QTest::keyClick(form.QtyPfmBar, Qt::Key_Left);
    f.Click(form.OKBtn);
    EXPECT_EQ(form.GetQtyLevel(), 3);
    EXPECT_EQ(ReadText(f.Path), "[V10_Option]\nBuffSize=200\nQtyLevel=3\n");
}

TEST(SetformTest, ResetThenCancelChangesNothingAndTheNextOpeningShowsTheValuesInEffect)
{
    OptionsFixture f;
    const char* text = "[V10_Option]\nBuffSize=600\nQtyLevel=4\n";
    TSetOptForm& form = f.Make(text);
    f.Open();
    EXPECT_EQ(form.BuffSizeBox->currentText(), QString("600"));
    EXPECT_EQ(form.QtyPfmBar->value(), 4);
    f.Click(form.ResetBtn);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.BuffSizeBox->currentText(), QString("200"));
    EXPECT_EQ(form.QtyPfmBar->value(), 2);
    f.Click(form.CancelBtn);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(form.GetBuffSize(), 600);
    EXPECT_EQ(form.GetQtyLevel(), 4);
    EXPECT_EQ(ReadText(f.Path), text);

    f.Open();
    EXPECT_EQ(form.BuffSizeBox->currentText(), QString("600"));
    EXPECT_EQ(form.QtyPfmBar->value(), 4);
    // Escape is a cancel too.
    f.Type("300");
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.GetBuffSize(), 600);
    EXPECT_EQ(ReadText(f.Path), text);
}

TEST(SetformTest, StoredValuesAreReadAsDecimalOrHex)
{
    struct Case
    {
        const char* Text;
        int BuffSize;
        int QtyLevel;
        int BarShows;
        bool KeepPlaying = false;
    };
    const Case cases[] = {
        {"[V10_Option]\nBuffSize=$C8\n[V10_SoftCut]\nKeepPlaying=$2\n", 200, 2, 2, true},
        {"[V10_Option]\nBuffSize=0x190\nQtyLevel=$1\n", 400, 1, 1},
        {"[V10_Option]\nBuffSize=50\nQtyLevel=0\n", 100, 0, 0}, // limited when read
        {"[V10_Option]\nBuffSize=4000\nQtyLevel=-1\n", 1000, -1, 0},
        {"[V10_Option]\nQtyLevel=7\n", 200, 7, 4}, // kept as read, shown at the bar's end
        {"[V10_Option]\nBuffSize=soon\nQtyLevel=high\n[V10_SoftCut]\nKeepPlaying=yes\n", 200, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        OptionsFixture f;
        TSetOptForm& form = f.Make(c.Text);
        EXPECT_EQ(form.GetBuffSize(), c.BuffSize);
        EXPECT_EQ(form.GetQtyLevel(), c.QtyLevel);
        EXPECT_EQ(form.GetKeepPlaying(), c.KeepPlaying);
        f.Open();
        EXPECT_EQ(form.BuffSizeBox->currentText(), QString::number(c.BuffSize));
        EXPECT_EQ(form.QtyPfmBar->value(), c.BarShows);
        EXPECT_EQ(form.KeepPlayingCheck->isChecked(), c.KeepPlaying);
    }
}

TEST(SetformTest, QualityLevelSevenActsAsTheDefaultOverlapUntilOkStoresTheBar)
{
    OptionsFixture f;
    TSetOptForm& form = f.Make("[V10_Option]\nQtyLevel=7\n");
    EXPECT_EQ(form.GetQtyLevel(), 7);
    EXPECT_EQ(ChooseFftParams(form.GetQtyLevel(), 44100).Overlap, 16);
    f.Open();
    f.Click(form.OKBtn);
    EXPECT_EQ(form.GetQtyLevel(), 4);
    EXPECT_EQ(ReadText(f.Path), "[V10_Option]\nQtyLevel=4\nBuffSize=200\n");
}

TEST(SetformTest, OkKeepsEveryOtherLineOfTheFile)
{
    OptionsFixture f;
    TSetOptForm& form = f.Make("; Varnel settings, edited by hand\r\n"
                               "[Window]\r\n"
                               "Left=120\r\n"
                               "\r\n"
                               "[v10_option]\r\n"
                               "# the buffer\r\n"
                               "buffsize = 0x190\r\n"
                               "Theme=dark\r\n"
                               "\r\n"
                               "[Recent]\r\n"
                               "File1=/music/a.wav");
    EXPECT_EQ(form.GetBuffSize(), 400);
    f.Open();
    f.Type("250");
    f.Click(form.OKBtn);
    EXPECT_EQ(ReadText(f.Path), "; Varnel settings, edited by hand\r\n"
                                "[Window]\r\n"
                                "Left=120\r\n"
                                "\r\n"
                                "[v10_option]\r\n"
                                "# the buffer\r\n"
                                "buffsize = 250\r\n"
                                "Theme=dark\r\n"
                                "QtyLevel=2\r\n"
                                "\r\n"
                                "[Recent]\r\n"
                                "File1=/music/a.wav");
    EXPECT_EQ(fs::directory_iterator(f.Dir.Path())->path().filename(), "varnel.ini");
}

// A file edited by hand whose last line has no line break: each key OK adds gets a line of
// its own, and the next start reads both back.
TEST(SetformTest, OkAfterALastLineWithoutABreakAddsWholeLines)
{
    const struct
    {
        const char* Before;
        const char* After;
    } cases[] = {
        {"[V10_Option]\nBuffSize=300", "[V10_Option]\nBuffSize=400\nQtyLevel=3\n"},
        {"[V10_Option]", "[V10_Option]\nBuffSize=400\nQtyLevel=3\n"},
        {"[Recent]\r\nFile1=/music/a.wav",
         "[Recent]\r\nFile1=/music/a.wav\r\n[V10_Option]\r\nBuffSize=400\r\nQtyLevel=3\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Before);
        OptionsFixture f;
        TSetOptForm& form = f.Make(c.Before);
        f.Open();
        f.Type("400");
        form.QtyPfmBar->setValue(3);
        f.Click(form.OKBtn);
        EXPECT_EQ(ReadText(f.Path), c.After);
        TSetOptForm& next = f.Make();
        EXPECT_EQ(next.GetBuffSize(), 400);
        EXPECT_EQ(next.GetQtyLevel(), 3);
    }
}

// The soft cut lives in a section of its own, read with limits and written line by line; its
// page is heard as it is edited (SoftCutEdited) but changes the values in effect only by OK.
// Beside it, the box that keeps playback going is stored once ticked or where its key is.
TEST(SetformTest, SoftCutIsReadLimitedEditedAndStoredInItsOwnSection)
{
    OptionsFixture f;
    const char* const text = "[V10_Option]\n"
                             "BuffSize=400\n"
                             "\n"
                             "[V10_SoftCut]\n"
                             "; edited by hand\n"
                             "FeatherPan = 99\n"
                             "FeatherDepth=0.25\n"
                             "FeatherFreq=-1\n"
                             "Attenuate=0\n"
                             "Smooth=ten\n"
                             "\n"
                             "[Recent]\n"
                             "File1=a.wav\n";
    TSetOptForm& form = f.Make(text);
    SoftCut read; // 99 dB is brought to the top, -1 octave to none, 0 dB to no attenuation
    read.FeatherPanDb = 60.0f;
    read.FeatherDepth = 0.25f;
    EXPECT_EQ(form.GetSoftCut(), read);

    QSignalSpy edits(&form, &TSetOptForm::SoftCutEdited);
    f.Open();
    EXPECT_EQ(edits.count(), 0); // showing the values in effect is no edit
    EXPECT_EQ(form.FeatherPanBox->value(), 60.0);
    EXPECT_EQ(form.AttenuateBox->text(), QString("∞"));
    form.PageControl1->setCurrentWidget(form.TabSheet3);
    form.AttenuateBox->setFocus();
    QTest::keyClick(form.AttenuateBox, Qt::Key_Up); // ∞ steps to 1 dB
    ASSERT_EQ(edits.count(), 1);
    EXPECT_EQ(edits.last().at(0).value<SoftCut>().AttenuateDb, 1.0f);
    f.Click(form.KeepPlayingCheck);
    f.Click(form.ResetBtn); // the defaults are heard at once too
    ASSERT_EQ(edits.count(), 2);
    EXPECT_TRUE(edits.last().at(0).value<SoftCut>().IsHard());
    EXPECT_FALSE(form.KeepPlayingCheck->isChecked());
    f.Click(form.KeepPlayingCheck);
    f.Click(form.CancelBtn);
    EXPECT_EQ(form.GetSoftCut(), read);
    EXPECT_FALSE(form.GetKeepPlaying());
    EXPECT_EQ(ReadText(f.Path), text); // nothing written

    f.Open();
    form.FeatherFreqBox->setValue(0.5);
    form.AttenuateBox->setValue(15.0);
    form.SmoothBox->setValue(40.0);
    f.Click(form.OKBtn);
    SoftCut stored = read;
    stored.FeatherFreq = 0.5f;
    stored.AttenuateDb = 15.0f;
    stored.SmoothMs = 40.0f;
    EXPECT_EQ(form.GetSoftCut(), stored);
    EXPECT_EQ(ReadText(f.Path), "[V10_Option]\n"
                                "BuffSize=400\n"
                                "QtyLevel=2\n"
                                "\n"
                                "[V10_SoftCut]\n"
                                "; edited by hand\n"
                                "FeatherPan = 60\n"
                                "FeatherDepth=0.25\n"
                                "FeatherFreq=0.5\n"
                                "Attenuate=15\n"
                                "Smooth=40\n"
                                "\n"
                                "[Recent]\n"
                                "File1=a.wav\n");
    // A new dialog over the file reads back what was stored.
    EXPECT_EQ(TSetOptForm(nullptr, QString::fromStdString(f.Path)).GetSoftCut(), stored);
    // Once ticked, the box is stored beside the soft cut, and then kept when cleared too.
    for (const bool tick : {true, false}) {
        f.Open();
        f.Click(form.KeepPlayingCheck);
        f.Click(form.OKBtn);
        EXPECT_EQ(form.GetKeepPlaying(), tick);
        const std::string line = tick ? "Smooth=40\nKeepPlaying=1\n" : "Smooth=40\nKeepPlaying=0\n";
        EXPECT_NE(ReadText(f.Path).find(line), std::string::npos);
        EXPECT_EQ(TSetOptForm(nullptr, QString::fromStdString(f.Path)).GetKeepPlaying(), tick);
    }
}

TEST(SetformTest, AFailedWriteNamesTheFileAndKeepsTheDialogOpen)
{
    OptionsFixture f;
    // The tests run as root, for whom a read-only folder is writable: a regular file where
    // the settings folder should be makes the write fail for anyone.
    WriteText(f.Dir.File("Varnel"), "a file, not a folder");
    f.Path = f.Dir.File("Varnel/varnel.ini");
    TSetOptForm& form = f.Make();
    EXPECT_EQ(form.GetBuffSize(), 200);
    f.Open();
    f.Type("300");
    f.Click(form.OKBtn);
    ASSERT_EQ(f.Errors.size(), 1u);
    EXPECT_EQ(f.Errors[0], QString("Can't write to ") + QString::fromStdString(f.Path));
    EXPECT_TRUE(form.isVisible());
    // The values were taken before the write, so the window gets them however the dialog
    // closes next.
    EXPECT_EQ(form.GetBuffSize(), 300);
    f.Click(form.CancelBtn);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.GetBuffSize(), 300);
    EXPECT_EQ(ReadText(f.Dir.File("Varnel")), "a file, not a folder");
}

TEST(SetformTest, TheDefaultErrorBoxIsAModalErrorWithThePath)
{
    OptionsFixture f;
    WriteText(f.Dir.File("Varnel"), "a file, not a folder");
    f.Path = f.Dir.File("Varnel/varnel.ini");
    f.Make();
    f.Form->SetErrorReporter(nullptr);
    f.Open();
    QString shown;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            icon = box->icon();
            box->accept();
        }
    });
    f.Click(f.Form->OKBtn);
    EXPECT_EQ(shown, TSetOptForm::WriteFailureText(QString::fromStdString(f.Path)));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(f.Form->isVisible());
}

// The program's error box (the capturable one), in the user's language like every text.
TEST(SetformTest, AFailedWriteIsAnErrorBoxInTheUsersLanguage)
{
    const struct
    {
        const char* Locale;
        const char* Format;
    } cases[] = {{"ja_JP.UTF-8", "%1 に書き込めません"}, {"en_US.UTF-8", "Can't write to %1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Locale);
        test::ScopedLocale locale(c.Locale);
        OptionsFixture f;
        WriteText(f.Dir.File("Varnel"), "a file, not a folder");
        f.Path = f.Dir.File("Varnel/varnel.ini");
        f.Make();
        f.Form->SetErrorReporter(nullptr);
        test::MessageCapture boxes;
        f.Open();
        f.Click(f.Form->OKBtn);
        ASSERT_EQ(boxes.Messages.size(), 1u);
        EXPECT_EQ(boxes.Messages[0].Kind, MessageKind::Error);
        EXPECT_EQ(boxes.Messages[0].Text, QString(c.Format).arg(QString::fromStdString(f.Path)));
        EXPECT_TRUE(f.Form->isVisible());
    }
}

TEST(SetformTest, SettingsFileIsInTheConfigFolderNamedAfterTheProgram)
{
    test::AppFirst app;
    test::TempDir dir;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    TSetOptForm form;
    if (saved)
        setenv("XDG_CONFIG_HOME", saved->c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(form.GetIniFileName(),
              QString::fromStdString(dir.File("Varnel/varnel_tests_gui.ini")));
    EXPECT_TRUE(fs::is_directory(dir.File("Varnel"))); // made while the dialog is made
    EXPECT_FALSE(fs::exists(dir.File("Varnel/varnel_tests_gui.ini")));
}

// The label table is checked on every form in FormTextsTest; OK and "ms" are not in it and
// keep their texts in every language.
TEST(SetformTest, OkAndTheUnitKeepTheirTextsInEveryLanguage)
{
    test::AppFirst app;
    const QString standardOk =
        QDialogButtonBox(QDialogButtonBox::Ok).button(QDialogButtonBox::Ok)->text();
    for (const char* locale : {"ja_JP.UTF-8", "zh_CN.UTF-8"}) {
        SCOPED_TRACE(locale);
        test::TempDir dir;
        test::ScopedLocale scoped(locale);
        TSetOptForm form(nullptr, QString::fromStdString(dir.File("varnel.ini")));
        EXPECT_EQ(form.OKBtn->text(), standardOk);
        EXPECT_EQ(form.Label3->text(), QString("ms"));
    }
}

} // namespace
} // namespace varnel
