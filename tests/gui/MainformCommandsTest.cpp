#include "gui/WindowFixture.h"

#include "app/FileFilter.h"
#include "app/MapScreen.h"
#include "settings/Setform.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <fstream>

namespace varnel {
namespace {

// Takes the URLs the desktop is asked to open, in place of the desktop's handler.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> Urls;
public slots:
    void Open(const QUrl& url) { Urls += url; }
};

TEST(MainWindowHelp, HelpButtonOpensTheDocumentOrNamesTheFault)
{
    enum class Setup
    {
        Missing,
        Folder,
        FileWithoutHandler,
        FileWithHandler
    };
    const struct
    {
        Setup What;
        const char* Message; // nullptr: opened, no message
    } cases[] = {
        {Setup::Missing, "Help file not found."},
        {Setup::Folder, "An error occurred when opening a help file."},
        // The offscreen platform has no desktop handler for any file type.
        {Setup::FileWithoutHandler, "Adobe Reader is required to view a help file."},
        {Setup::FileWithHandler, nullptr},
    };
    for (const auto& c : cases) {
        test::WindowFixture w;
        w.Form->HelpFolder = QString::fromStdString(w.Dir.Path());
        const std::string document = w.Dir.File("VarnelHelp.pdf");
        if (c.What == Setup::Folder)
            QDir().mkdir(QString::fromStdString(document));
        if (c.What == Setup::FileWithoutHandler || c.What == Setup::FileWithHandler)
            std::ofstream(document) << "%PDF-1.4\n";
        UrlCatcher catcher;
        if (c.What == Setup::FileWithHandler)
            QDesktopServices::setUrlHandler("file", &catcher, "Open");
        w.Form->HelpBtn->click();
        QDesktopServices::unsetUrlHandler("file");
        if (c.Message) {
            ASSERT_EQ(w.Boxes.Messages.size(), 1u) << c.Message;
            EXPECT_EQ(w.Boxes.Messages[0].Text, c.Message);
        } else {
            EXPECT_TRUE(w.Boxes.Messages.empty());
            ASSERT_EQ(catcher.Urls.size(), 1);
            EXPECT_EQ(catcher.Urls[0].toLocalFile().toStdString(), document);
        }
    }
}

TEST(FileFilter, WindowsFiltersBecomeQtFiltersMatchingAnyCase)
{
    const struct
    {
        const char* Given;
        const char* Expected;
    } cases[] = {
        {"WAVE files (*.wav)|*.WAV|All files (*.*)|*.*",
         "WAVE files (*.wav) (*.[wW][aA][vV]);;All files (*.*) (*)"},
        {"WAVEファイル (*.wav)|*.WAV", "WAVEファイル (*.wav) (*.[wW][aA][vV])"},
        {"Sound|*.wav;*.w64", "Sound (*.[wW][aA][vV] *.[wW]64)"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QtFileFilter(QString::fromUtf8(c.Given)), QString::fromUtf8(c.Expected));
}

// The window with an options dialog over a settings file of its own.
struct OptionsWindow : test::WindowFixture
{
    std::unique_ptr<TSetOptForm> Options;

    explicit OptionsWindow(const char* ini)
    {
        const std::string path = Dir.File("varnel.ini");
        std::ofstream(path) << ini;
        Options = std::make_unique<TSetOptForm>(nullptr, QString::fromStdString(path));
        SetOptForm = Options.get();
    }
    ~OptionsWindow() { SetOptForm = nullptr; }

    // Presses the options button and answers the dialog with a buffer length.
    void SetBufferInDialog(const QString& text)
    {
        QTimer::singleShot(0, [this, text] {
            ASSERT_EQ(QApplication::activeModalWidget(), Options.get());
            Options->BuffSizeBox->lineEdit()->setText(text);
            Options->OKBtn->click();
        });
        Form->SetBtn->click();
    }
};

TEST(MainWindowOptions, FirstShowTakesTheSettingsFileValues)
{
    OptionsWindow w("[V10_Option]\nBuffSize=400\nQtyLevel=4\n");
    w.Form->show();
    EXPECT_EQ(w.Form->BufferMs, 400);
    EXPECT_EQ(w.Form->Quality, 4);
}

// A new buffer length reloads the file at once; the position and the A-B points stay, and the
// next play starts from there after a flush.
TEST(MainWindowOptions, NewBufferLengthReloadsKeepingPositionAndRepeat)
{
    OptionsWindow w("[V10_Option]\nBuffSize=200\nQtyLevel=2\n");
    w.Form->show();
    TForm1& f = *w.Form;
    f.LoadWaveFile(QString::fromStdString(w.WriteTone("tone.wav", 44100 * 3)));
    f.PlayBar->setValue(60000);
    f.RepeatBtn->click();
    f.PlayBar->setValue(90000);
    f.RepeatBtn->click();
    const int pointA = f.PointA;
    const int pointB = f.PointB;
    ASSERT_EQ(f.RepeatState, 2);

    w.SetBufferInDialog("500");
    EXPECT_EQ(f.BufferMs, 500);
    EXPECT_EQ(f.Dsound.BufferBytes(), 22050 * 4);
    EXPECT_EQ(f.PlayLatency, 11025 + 8192 - 512);
    EXPECT_EQ(f.PlayBar->value(), 90000);
    EXPECT_EQ(f.RepeatState, 2);
    EXPECT_EQ(f.PointA, pointA);
    EXPECT_EQ(f.PointB, pointB);
    EXPECT_EQ(f.RepeatBtn->icon().cacheKey(), f.ABImages[2].cacheKey());
    EXPECT_TRUE(f.Seeked);
    EXPECT_FALSE(f.Playing);

    // The same values again change nothing: the stream is not made anew.
    f.PlayBar->setValue(1000);
    f.Seeked = false;
    w.SetBufferInDialog("500");
    EXPECT_EQ(f.PlayBar->value(), 1000);
    EXPECT_FALSE(f.Seeked);
}

// The keys a desktop user expects, on the shown and active window.
TEST(MainWindowKeys, ShortcutsRunTheirCommands)
{
    test::WindowFixture w;
    w.Clock.SetFreeRunning(true); // the thread cycles freely; pauses return at once
    TForm1& f = *w.Form;
    f.LoadWaveFile(QString::fromStdString(w.WriteTone("tone.wav", 44100)));
    f.HelpFolder = QString::fromStdString(w.Dir.Path()); // no help document there
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));

    QTest::keyClick(&f, Qt::Key_Space);
    EXPECT_TRUE(f.Playing);
    QTest::keyClick(&f, Qt::Key_Space);
    EXPECT_FALSE(f.Playing);

    f.PlayBar->setValue(5000);
    QTest::keyClick(&f, Qt::Key_Home);
    EXPECT_EQ(f.PlayBar->value(), 0);

    QTest::keyClick(&f, Qt::Key_F1);
    ASSERT_EQ(w.Boxes.Messages.size(), 1u);
    EXPECT_EQ(w.Boxes.Messages[0].Text, "Help file not found.");

    QTest::keyClick(&f, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.SoundThread, nullptr) << "closing ended the playback thread";
}

// Space and Home belong to the control that has the focus when it uses them (a check box
// ticks, a slider goes to its start); elsewhere they play and rewind.
TEST(MainWindowKeys, AFocusedControlKeepsSpaceAndHome)
{
    test::WindowFixture w;
    w.Clock.SetFreeRunning(true);
    TForm1& f = *w.Form;
    f.LoadWaveFile(QString::fromStdString(w.WriteTone("tone.wav", 44100)));
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    const auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };

    f.InvCheck->setFocus();
    press(Qt::Key_Space);
    EXPECT_TRUE(f.InvCheck->isChecked());
    EXPECT_FALSE(f.Playing);

    f.PlayBar->setValue(5000);
    f.VolumeBar->setFocus();
    press(Qt::Key_Home);
    EXPECT_EQ(f.VolumeBar->value(), 0);
    EXPECT_EQ(f.PlayBar->value(), 5000);

    // A button has no use for Home; the window takes it.
    f.RepeatBtn->setFocus();
    press(Qt::Key_Home);
    EXPECT_EQ(f.PlayBar->value(), 0);

    // A click on the map takes the focus from the controls: the keys are the window's.
    QTest::mouseClick(f.Screen1, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(QApplication::focusWidget(), &f);
    press(Qt::Key_Space);
    EXPECT_TRUE(f.Playing);
    press(Qt::Key_Space);
    EXPECT_FALSE(f.Playing);
}

TEST(MainWindowKeys, ControlOOpensTheFileDialog)
{
    test::WindowFixture w;
    TForm1& f = *w.Form;
    f.show();
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    bool dialogShown = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        dialogShown = dialog == f.OpenDialog1;
        if (dialog)
            QMetaObject::invokeMethod(dialog, "reject");
    });
    QTest::keyClick(&f, Qt::Key_O, Qt::ControlModifier);
    EXPECT_TRUE(dialogShown);
}

} // namespace
} // namespace varnel

#include "MainformCommandsTest.moc"
