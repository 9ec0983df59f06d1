#include "gui/WindowFixture.h"

#include "app/ElidedLabel.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <fstream>

namespace varnel {
namespace {

using test::WindowFixture;

std::string Malformed(const std::string& name)
{
    return std::string(VARNEL_TEST_DATA) + "/malformed/" + name;
}

// Drops the files on the window as the desktop would.
void Drop(TForm1& form, const QStringList& paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls += QUrl::fromLocalFile(p);
    data.setUrls(urls);
    // The toolkit delivers a drop only to a widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
}

TEST(MainWindowLoad, GoodFileIsPreparedForPlaybackAndMaps)
{
    WindowFixture w;
    const std::string path = w.WriteTone("tone.wav", 44100);
    w.Form->LoadWaveFile(QString::fromStdString(path));
    TForm1& f = *w.Form;
    EXPECT_TRUE(w.Boxes.Messages.empty());
    EXPECT_TRUE(f.PlayIn.IsOpen);
    EXPECT_EQ(f.InputFileName.toStdString(), path);
    EXPECT_EQ(f.InputFileNameLabel->text().toStdString(), path);
    EXPECT_EQ(f.WformLbl->text(), QString::fromUtf8("44.100kHz 16位   立体声"));
    // 44.1 kHz, quality 2, 200 ms: 8192 points, 16 frames, 22050 x 0.2 + 8192 - 512 frames.
    EXPECT_EQ(f.HalfRate, 22050);
    EXPECT_EQ(f.FftSize, 8192);
    EXPECT_EQ(f.Overlap, 16);
    EXPECT_EQ(f.PlayLatency, 12090);
    EXPECT_TRUE(f.Dsound.HasStream());
    EXPECT_EQ(f.Dsound.BufferBytes(), 8820 * 4);
    EXPECT_EQ(f.PlayBar->maximum(), 44100);
    EXPECT_EQ(f.PlayBar->tickInterval(), 4410);
    EXPECT_EQ(f.PlayBar->pageStep(), 1102);
    EXPECT_EQ(f.PlayBar->singleStep(), 441);
    EXPECT_EQ(f.PlayBar->value(), 0);
    EXPECT_EQ(f.RepeatState, 0);
    EXPECT_EQ(f.Volume, 0);
    EXPECT_TRUE(f.VisualMap.Allocated());
    EXPECT_FALSE(f.Playing);
}

// Each refused file names itself, then the message on the next line; nothing else changes.
TEST(MainWindowLoad, RefusedFilesShowTheirMessageAndKeepTheEarlierFile)
{
    WindowFixture w;
    const std::string good = w.WriteTone("good.wav", 22050);
    w.Form->LoadWaveFile(QString::fromStdString(good));
    const QString label = w.Form->WformLbl->text();
    const std::string textFile = w.Dir.File("notes.wav");
    std::ofstream(textFile) << "not a sound file at all\n";

    const struct
    {
        std::string Path;
        const char* Expected;
    } cases[] = {
        {w.Dir.File("missing.wav"), "\"missing.wav\"\nCan't open file."},
        {textFile, "\"notes.wav\"\nFile format not supported.\nOr file is damaged."},
        {Malformed("float.wav"), "\"float.wav\"\nThis is not 'PCM' WAVE file."},
        {Malformed("bits-8.wav"), "\"bits-8.wav\"\nThis is not '16bit STEREO' WAVE file."},
        {Malformed("mono.wav"), "\"mono.wav\"\nThis is not '16bit STEREO' WAVE file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Path);
        w.Boxes.Messages.clear();
        w.Form->LoadWaveFile(QString::fromStdString(c.Path));
        ASSERT_EQ(w.Boxes.Messages.size(), 1u);
        EXPECT_EQ(w.Boxes.Messages[0].Kind, MessageKind::Warning);
        EXPECT_EQ(w.Boxes.Messages[0].Text, QString::fromUtf8(c.Expected));
        EXPECT_EQ(w.Form->InputFileName.toStdString(), good);
        EXPECT_TRUE(w.Form->PlayIn.IsOpen);
        EXPECT_EQ(w.Form->PlayIn.FrameCount(), 22050);
        EXPECT_EQ(w.Form->WformLbl->text(), label);
    }
}

// A new file starts without the A-B loop of the one before (the options keep it: they reload
// the same file).
TEST(MainWindowLoad, ASecondFileStartsWithoutTheRepeatPoints)
{
    WindowFixture w;
    TForm1& f = *w.Form;
    f.LoadWaveFile(QString::fromStdString(w.WriteTone("first.wav", 44100 * 4)));
    for (int position : {f.PlayLatency + 20000, f.PlayLatency + 60000}) {
        f.PlayBar->setValue(position);
        f.RepeatBtn->click();
    }
    ASSERT_EQ(f.RepeatState, 2);
    ASSERT_EQ(f.PointA, 20000);
    ASSERT_EQ(f.PointB, 60000);
    f.LoadWaveFile(QString::fromStdString(w.WriteTone("second.wav", 44100 * 4)));
    EXPECT_EQ(f.RepeatState, 0);
    EXPECT_EQ(f.PointA, 0);
    EXPECT_EQ(f.PointB, 0);
    EXPECT_EQ(f.RepeatBtn->icon().cacheKey(), f.ABImages[0].cacheKey());
}

TEST(MainWindowLoad, JapaneseMessagesUnderAJapaneseLocale)
{
    test::ScopedLocale japanese("ja_JP.UTF-8");
    WindowFixture w;
    w.Form->LoadWaveFile(QString::fromStdString(w.Dir.File("missing.wav")));
    ASSERT_EQ(w.Boxes.Messages.size(), 1u);
    EXPECT_EQ(w.Boxes.Messages[0].Text,
              QString::fromUtf8("\"missing.wav\"\nファイルが開けませんでした。"));
}

TEST(MainWindowLoad, FftParametersFollowTheSampleRate)
{
    const struct
    {
        int Rate, Quality, HalfRate, FftSize, Overlap;
    } cases[] = {
        {8000, 2, 4000, 2048, 16},   {11025, 2, 5512, 2048, 16},   {44100, 2, 22050, 8192, 16},
        {48000, 2, 24000, 8192, 16}, {96000, 2, 48000, 16384, 16}, {192000, 2, 96000, 32768, 16},
        {44100, 4, 22050, 8192, 64}, {44100, 0, 22050, 8192, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Rate);
        WindowFixture w;
        w.Form->Quality = c.Quality;
        w.Form->LoadWaveFile(QString::fromStdString(w.WriteTone("t.wav", 4096, c.Rate)));
        ASSERT_TRUE(w.Boxes.Messages.empty());
        EXPECT_EQ(w.Form->HalfRate, c.HalfRate);
        EXPECT_EQ(w.Form->FftSize, c.FftSize);
        EXPECT_EQ(w.Form->Overlap, c.Overlap);
        // Half a 200 ms buffer of frames plus the filter's delay of one length less one hop.
        EXPECT_EQ(w.Form->PlayLatency, c.HalfRate / 5 + c.FftSize - c.FftSize / c.Overlap);
    }
}

TEST(MainWindowLoad, DropTakesTheFirstFileWhenItsExtensionIsWav)
{
    const struct
    {
        std::vector<const char*> Names; // dropped, in order; files are made for .wav names
        const char* Loaded;             // nullptr: nothing loaded
        bool Warned;
    } cases[] = {
        {{"song.Wav"}, "song.Wav", false},
        {{"SONG.WAV"}, "SONG.WAV", false},
        {{"song.mp3"}, nullptr, true},
        {{"first.wav", "second.wav"}, "first.wav", false},
        {{"first.mp3", "second.wav"}, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Names[0]);
        WindowFixture w;
        QStringList paths;
        for (const char* name : c.Names)
            paths += QString::fromStdString(w.WriteTone(name, 4096));
        Drop(*w.Form, paths);
        if (c.Warned) {
            ASSERT_EQ(w.Boxes.Messages.size(), 1u);
            EXPECT_EQ(w.Boxes.Messages[0].Text, "Drop a 'WAVE' file.");
        } else {
            EXPECT_TRUE(w.Boxes.Messages.empty());
        }
        if (c.Loaded)
            EXPECT_EQ(w.Form->InputFileName.toStdString(), w.Dir.File(c.Loaded));
        else
            EXPECT_FALSE(w.Form->PlayIn.IsOpen);
    }
}

TEST(MainWindowLoad, CommandLineFileIsLoadedWhenTheWindowIsFirstShown)
{
    test::TempDir dir;
    const std::string path = dir.File("cli.wav");
    test::WriteWav16(path, test::StereoTone(8000, 48000, 440.0, 1000.0, 1000.0), 48000);
    WindowFixture w(QStringList{QString::fromStdString(path), "ignored.wav"});
    EXPECT_FALSE(w.Form->PlayIn.IsOpen) << "nothing loads before the window shows";
    w.Form->show();
    QCoreApplication::processEvents(); // the load follows the show, once the window is up
    EXPECT_TRUE(w.Form->PlayIn.IsOpen);
    EXPECT_EQ(w.Form->InputFileName.toStdString(), path);
    EXPECT_EQ(w.Form->HalfRate, 24000);
    w.Form->hide();
    w.Form->show();
    EXPECT_TRUE(w.Boxes.Messages.empty());
}

// The open button's dialog, answered by a timer as a user would answer it.
TEST(MainWindowLoad, OpenButtonLoadsTheChosenFile)
{
    WindowFixture w;
    const std::string path = w.WriteTone("picked.WAV", 4096);
    QString filter;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        filter = dialog->nameFilters().join(";;");
        dialog->selectFile(QString::fromStdString(path));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    w.Form->FileOpenBtn->click();
    EXPECT_EQ(w.Form->InputFileName.toStdString(), path);
    EXPECT_EQ(filter, "WAVE files (*.wav) (*.[wW][aA][vV]);;All files (*.*) (*)");
}

} // namespace
} // namespace varnel
