// Mouse events go through the window system, as a real mouse's do.
#define QTEST_QPA_MOUSE_HANDLING

#include "gui/SaveTestSupport.h"
#include "gui/WindowFixture.h"

#include "app/MapScreen.h"
#include "app/Saveform.h"
#include "settings/Setform.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>

namespace varnel {
namespace {

constexpr int kRate = 44100;

std::string Number(float value)
{
    // Nine significant digits give the same float back.
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// Presses the save button and answers the file dialog with out; the save completes.
void SaveThroughTheWindow(test::WindowFixture& w, const std::string& out)
{
    TForm1& form = *w.Form;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* files = test::ActiveModal<QFileDialog>();
        if (!files)
            return;
        const QFileInfo info(QString::fromStdString(out));
        files->setDirectory(info.absolutePath());
        if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(info.fileName());
        if (files->selectedFiles() == QStringList{info.absoluteFilePath()})
            QMetaObject::invokeMethod(files, "accept");
    });
    answer.start();
    {
        test::Watchdog dog(std::chrono::seconds(120), "the save");
        QTest::mouseClick(form.FileSaveBtn, Qt::LeftButton);
    }
    answer.stop();
    ASSERT_TRUE(w.Boxes.Messages.empty());
    ASSERT_TRUE(SaveFileForm->LastComplete());
}

// A person opens a mix, narrows the area with the mouse on the pan map and saves it: the file
// is the one varnel-cli export writes for the same area, byte for byte.
TEST(SaveEndToEnd, AreaSetWithTheMouseSavesWhatTheCommandLineExports)
{
    test::WindowFixture w;
    TForm1& form = *w.Form;
    const std::string input = w.Dir.File("mix.wav");
    test::WriteWav16(input, test::MixLike(kRate * 8, kRate), kRate);
    form.LoadWaveFile(QString::fromStdString(input));
    ASSERT_TRUE(form.PlayIn.IsOpen);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    // The start-up area's left edge on Screen1 is at x = 140 and its top at y = 56: drag the
    // left edge to the right and the top edge down.
    const float panLowBefore = form.PanLow;
    const float freqHighBefore = form.FreqHighHz;
    QTest::mouseMove(form.Screen1, QPoint(140, 150));
    QTest::mousePress(form.Screen1, Qt::LeftButton, {}, QPoint(140, 150));
    QTest::mouseMove(form.Screen1, QPoint(200, 150));
    QTest::mouseRelease(form.Screen1, Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseMove(form.Screen1, QPoint(300, 56));
    QTest::mousePress(form.Screen1, Qt::LeftButton, {}, QPoint(300, 56));
    QTest::mouseMove(form.Screen1, QPoint(300, 90));
    QTest::mouseRelease(form.Screen1, Qt::LeftButton, {}, QPoint(300, 90));
    ASSERT_GT(form.PanLow, panLowBefore);
    ASSERT_LT(form.FreqHighHz, freqHighBefore);

    const std::string out = w.Dir.File("voice.wav");
    SaveThroughTheWindow(w, out);

    const std::string reference = w.Dir.File("reference.wav");
    ASSERT_EQ(test::RunCli({"export", input, reference, "--pan",
                            Number(form.PanLow) + ":" + Number(form.PanHigh), "--freq",
                            Number(form.FreqLowHz) + ":" + Number(form.FreqHighHz), "--depth",
                            Number(form.DepthLow) + ":" + Number(form.DepthHigh)}),
              0);
    const std::vector<uint8_t> saved = test::ReadFileBytes(out);
    ASSERT_GT(saved.size(), 46u);
    EXPECT_EQ(saved, test::ReadFileBytes(reference));
}

// A soft cut set on the options' page is what the window saves: the file is the one
// varnel-cli export writes with the same five values.
TEST(SaveEndToEnd, SoftCutFromTheOptionsSavesWhatTheCommandLineExports)
{
    test::WindowFixture w;
    TForm1& form = *w.Form;
    TSetOptForm options(nullptr, QString::fromStdString(w.Dir.File("varnel.ini")));
    SetOptForm = &options;
    const std::string input = w.Dir.File("mix.wav");
    test::WriteWav16(input, test::MixLike(kRate * 4, kRate), kRate);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.LoadWaveFile(QString::fromStdString(input));
    ASSERT_TRUE(form.PlayIn.IsOpen);
    QTimer::singleShot(0, [&] {
        ASSERT_EQ(QApplication::activeModalWidget(), &options);
        options.FeatherPanBox->setValue(9.5);
        options.FeatherDepthBox->setValue(0.4);
        options.FeatherFreqBox->setValue(0.75);
        options.AttenuateBox->setValue(18.0);
        options.SmoothBox->setValue(30.0);
        options.OKBtn->click();
    });
    QTest::mouseClick(form.SetBtn, Qt::LeftButton);
    ASSERT_FALSE(form.Soft.IsHard());

    const std::string out = w.Dir.File("soft.wav");
    SaveThroughTheWindow(w, out);
    SetOptForm = nullptr;
    const SoftCut& s = form.Soft;
    const std::string reference = w.Dir.File("reference.wav");
    ASSERT_EQ(test::RunCli({"export", input, reference, "--feather-pan", Number(s.FeatherPanDb),
                            "--feather-depth", Number(s.FeatherDepth), "--feather-freq",
                            Number(s.FeatherFreq), "--attenuate", Number(s.AttenuateDb), "--smooth",
                            Number(s.SmoothMs)}),
              0);
    const std::vector<uint8_t> saved = test::ReadFileBytes(out);
    ASSERT_GT(saved.size(), 46u);
    EXPECT_EQ(saved, test::ReadFileBytes(reference));
    // The soft cut does change the file: the hard cut's export differs.
    const std::string hard = w.Dir.File("hard.wav");
    ASSERT_EQ(test::RunCli({"export", input, hard}), 0);
    EXPECT_NE(saved, test::ReadFileBytes(hard));
}

} // namespace
} // namespace varnel
