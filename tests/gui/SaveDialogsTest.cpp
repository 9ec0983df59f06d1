#include "SaveTestSupport.h"
#include "WidgetApp.h"
#include "WindowFixture.h"
#include "app/Abform.h"
#include "app/Saveform.h"
#include "audio/ExportJob.h"
#include "audio/Twave.h"
#include "settings/FormLabels.h"
#include "settings/Langset.h"
#include "support/AreaSupport.h"
#include "support/TestSupport.h"

#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

namespace varnel {
namespace {

using test::ActiveModal;
using test::ReadWavSamples;
using test::TempDir;
using test::Watchdog;
using test::WhenReady;
using test::WidgetApp;

constexpr int kRate = 44100;
constexpr int kBlockBytes = kRate / 2 * 4; // the export's half-second block

// Sets LC_ALL for the life of the object (the forms read the locale when they are built).
class LocaleScope
{
public:
    explicit LocaleScope(const char* locale)
    {
        const char* old = std::getenv("LC_ALL");
        mOld = old ? old : "";
        setenv("LC_ALL", locale, 1);
    }
    ~LocaleScope() { setenv("LC_ALL", mOld.c_str(), 1); }

private:
    std::string mOld;
};

struct ControlCase
{
    const char* Name;
    QRect Place;
    const char* Japanese; // nullptr: not checked (the toolkit's own text)
    const char* Alternate;
};

void CheckControls(QWidget& form, const std::vector<ControlCase>& cases, bool japanese)
{
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto* control = form.findChild<QWidget*>(QString::fromUtf8(c.Name));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->geometry(), c.Place);
        const char* want = japanese ? c.Japanese : c.Alternate;
        if (!want)
            continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(control))
            text = label->text();
        else if (auto* button = qobject_cast<QPushButton*>(control))
            text = button->text();
        EXPECT_EQ(text.toStdString(), want);
    }
}

TEST(SaveDialogs, LayoutAndTextsInBothLanguages)
{
    WidgetApp();
    const std::vector<ControlCase> ab = {
        {"Label1", {95, 16, 162, 13}, "再次指定AB点之间的区域", "AB点已设置，"},
        {"Label2", {95, 48, 178, 13}, "您确定保存指定的区域吗？", "您想要输出所选区域吗？"},
        {"BitBtn1", {22, 80, 107, 25}, "保存AB点区域", "保存AB区域"},
        {"BitBtn2", {150, 80, 107, 25}, "保存全部区域", "保存全部区域"},
        {"BitBtn3", {278, 80, 89, 25}, nullptr, "取消"},
    };
    // FileNameLbl: see FileNameIsShownWhole.
    const std::vector<ControlCase> progress = {
        {"ProgressBar1", {25, 48, 297, 25}, nullptr, nullptr},
        {"AbortBtn", {133, 96, 81, 25}, "中止", "终止"},
    };
    for (const bool japanese : {true, false}) {
        SCOPED_TRACE(japanese ? "ja_JP" : "en_US");
        LocaleScope locale(japanese ? "ja_JP.UTF-8" : "en_US.UTF-8");
        TAbSaveForm abForm;
        EXPECT_EQ(abForm.size(), QSize(396, 118));
        EXPECT_EQ(abForm.windowTitle().toStdString(),
                  japanese ? "保存AB点之间的区域" : "导出AB区域");
        CheckControls(abForm, ab, japanese);
        EXPECT_TRUE(ApplyFormLabels(abForm, TLangSet::AbSaveFormLabels(), TLangSet()).empty());
        TSaveFileForm saveForm;
        EXPECT_EQ(saveForm.size(), QSize(347, 136));
        EXPECT_EQ(saveForm.windowTitle().toStdString(), japanese ? "ファイルに保存" : "正在导出");
        CheckControls(saveForm, progress, japanese);
        EXPECT_TRUE(ApplyFormLabels(saveForm, TLangSet::SaveFileFormLabels(), TLangSet()).empty());
    }
}

// The progress dialog shows the saved file's whole name on its row (16, 16, 313, 13 about its
// middle), descenders and underscores included, in both languages; a name too long even for
// narrowed letters is shortened in the middle and whole in the tooltip.
TEST(SaveDialogs, FileNameIsShownWhole)
{
    WidgetApp();
    const QString longName = QStringLiteral("the_long_full_recording_of_a_big_gig.wav");
    const QString tooLong = QString(QStringLiteral("long_")).repeated(30) + QStringLiteral("g.wav");
    for (const bool japanese : {true, false}) {
        SCOPED_TRACE(japanese ? "ja_JP" : "en_US");
        LocaleScope locale(japanese ? "ja_JP.UTF-8" : "en_US.UTF-8");
        TSaveFileForm form;
        EXPECT_EQ(form.FileNameLbl->text().toStdString(), "FileName");
        for (const QString& name : {longName, tooLong}) {
            std::atomic<bool> release{false};
            ExportWork work;
            work.DisplayName = name.toStdString();
            work.TotalBytes = 1000;
            work.Run = [&](const ExportJob::ProgressFn&, const std::atomic<bool>& abort) {
                while (!release.load() && !abort.load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return ExportOutcome();
            };
            form.SetExport(std::move(work));
            QImage shown;
            WhenReady grab([&] { return form.FileNameLbl->text() == name; },
                           [&] {
                               shown = form.FileNameLbl->grab().toImage();
                               release = true;
                           });
            {
                Watchdog dog(std::chrono::seconds(60), "the progress dialog");
                form.exec();
            }
            ASSERT_FALSE(shown.isNull());
            const QLabel& label = *form.FileNameLbl;
            const QFontMetrics metrics(label.font());
            const QRect place = label.geometry();
            EXPECT_EQ(place.left(), 16);
            EXPECT_EQ(place.width(), 313);
            EXPECT_EQ(place.top() + place.bottom(), 16 + 28) << "centred on the row";
            EXPECT_GE(place.height(), metrics.height());
            EXPECT_EQ(label.toolTip(), name);
            // Dark pixels in the rows under the baseline: the g's and the underscores.
            const int baseline = (place.height() - metrics.height()) / 2 + metrics.ascent();
            int below = 0;
            for (int y = baseline + 1; y < shown.height(); ++y)
                for (int x = 0; x < shown.width(); ++x)
                    below += qGray(shown.pixel(x, y)) < 128;
            EXPECT_GT(below, 20) << "descenders and underscores are drawn";
            if (name == longName) {
                EXPECT_LE(metrics.horizontalAdvance(name), label.contentsRect().width())
                    << "the whole name fits, narrowed if need be";
            }
        }
    }
}

// Each way out of the A-B question gives its result; closing it without a button is Cancel.
TEST(SaveDialogs, AbQuestionResults)
{
    WidgetApp();
    struct Case
    {
        const char* How;
        std::function<void(TAbSaveForm&)> Answer;
        int Result;
    };
    const std::vector<Case> cases = {
        {"save A-B", [](TAbSaveForm& f) { QTest::mouseClick(f.BitBtn1, Qt::LeftButton); }, 1},
        {"save all", [](TAbSaveForm& f) { QTest::mouseClick(f.BitBtn2, Qt::LeftButton); }, 8},
        {"cancel", [](TAbSaveForm& f) { QTest::mouseClick(f.BitBtn3, Qt::LeftButton); }, 2},
        {"close button", [](TAbSaveForm& f) { f.close(); }, 2},
        {"Escape", [](TAbSaveForm& f) { QTest::keyClick(&f, Qt::Key_Escape); }, 2},
    };
    TAbSaveForm form;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.How);
        Watchdog dog(std::chrono::seconds(20), c.How);
        WhenReady answer([] { return ActiveModal<TAbSaveForm>() != nullptr; },
                         [&] { c.Answer(form); });
        EXPECT_EQ(form.exec(), c.Result);
        EXPECT_TRUE(answer.Fired());
    }
}

// One save run through the progress dialog, with the reader and writer the save command
// would give it.
struct DialogSave
{
    int Result = -1;
    std::vector<int16_t> Samples;
    std::vector<QString> Warnings;
    QString Label;
    int BarMax = -1;
    int BarValue = -1;
};

class ProgressDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mInput = mDir.File("in.wav");
        test::WriteWav16(mInput, test::MixLike(kFrames, kRate), kRate);
        mSettings.FftSize = 8192;
        mSettings.Overlap = 16;
        mSettings.Area = test::AreaOf(0.31623f, 3.1623f, 150.0f, 5000.0f, 0.0f, 1.5707964f);
    }

    // act runs inside the dialog's event loop (nullptr: let the save finish).
    DialogSave Run(const ExportSettings& settings, const std::string& out,
                   const std::function<bool()>& when = nullptr,
                   const std::function<void(TSaveFileForm&)>& act = nullptr)
    {
        DialogSave r;
        TWaveData in;
        TWaveData writer;
        EXPECT_EQ(in.OpenRead(mInput), 0);
        writer.Format = in.Format;
        EXPECT_EQ(writer.OpenWrite(out), 0);
        mBoxes.Messages.clear();
        auto job = std::make_shared<ExportJob>(in, writer, settings);
        ExportWork work;
        work.DisplayName = "out.wav";
        work.TotalBytes = job->TotalBytes();
        work.Run = [job](const ExportJob::ProgressFn& progress, const std::atomic<bool>& abort) {
            ExportOutcome outcome;
            outcome.Message = job->Run(progress, abort);
            outcome.Aborted = job->Aborted();
            outcome.Written = job->Written();
            return outcome;
        };
        mForm.SetExport(std::move(work));
        std::unique_ptr<WhenReady> poll;
        if (act)
            poll = std::make_unique<WhenReady>(when, [&] { act(mForm); });
        {
            Watchdog dog(std::chrono::seconds(120), "the progress dialog");
            r.Result = mForm.exec();
        }
        for (const test::ShownMessage& m : mBoxes.Messages)
            r.Warnings.push_back(m.Text);
        r.Label = mForm.FileNameLbl->text();
        r.BarMax = mForm.ProgressBar1->maximum();
        r.BarValue = mForm.ProgressBar1->value();
        in.Close();
        writer.Close();
        r.Samples = ReadWavSamples(out);
        return r;
    }

    // The same export run directly on this thread: what the file must hold.
    std::vector<int16_t> Expected(const ExportSettings& settings)
    {
        const std::string out = mDir.File("expected.wav");
        TWaveData in;
        TWaveData writer;
        EXPECT_EQ(in.OpenRead(mInput), 0);
        writer.Format = in.Format;
        EXPECT_EQ(writer.OpenWrite(out), 0);
        ExportJob job(in, writer, settings);
        const std::atomic<bool> never{false};
        EXPECT_EQ(job.Run(nullptr, never), 0);
        in.Close();
        writer.Close();
        return ReadWavSamples(out);
    }

    static constexpr int kFrames = kRate * 40;
    QApplication& mApp = WidgetApp(); // before the dialog
    test::MessageCapture mBoxes;
    TempDir mDir;
    std::string mInput;
    ExportSettings mSettings;
    TSaveFileForm mForm;
};

TEST_F(ProgressDialogTest, CompleteSaveWritesTheExportAndShowsItsProgress)
{
    struct Case
    {
        const char* Name;
        bool SaveAB;
        int64_t A;
        int64_t B;
    };
    const std::vector<Case> cases = {
        {"whole file", false, 0, 0},
        {"A-B", true, 30000, 250000},
        {"A-B backwards", true, 250000, 30000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ExportSettings settings = mSettings;
        settings.SaveAB = c.SaveAB;
        settings.PointA = c.A;
        settings.PointB = c.B;
        const DialogSave r = Run(settings, mDir.File("out.wav"));
        EXPECT_EQ(r.Result, 1);
        EXPECT_TRUE(mForm.LastComplete());
        EXPECT_TRUE(r.Warnings.empty());
        EXPECT_EQ(r.Label.toStdString(), "out.wav");
        const int64_t bytes = c.SaveAB ? 220000 * 4 : int64_t{kFrames} * 4;
        EXPECT_EQ(r.BarMax, bytes);
        EXPECT_EQ(r.BarValue, bytes);
        EXPECT_EQ(r.Samples, Expected(settings));
    }
}

TEST_F(ProgressDialogTest, EmptyStretchClosesAtOnceWithAnEmptyFile)
{
    ExportSettings settings = mSettings;
    settings.SaveAB = true;
    settings.PointA = settings.PointB = 5000;
    const DialogSave r = Run(settings, mDir.File("empty.wav"));
    EXPECT_EQ(r.Result, 1);
    EXPECT_TRUE(mForm.LastComplete());
    EXPECT_EQ(mForm.LastWritten(), 0);
    EXPECT_TRUE(r.Samples.empty());
    EXPECT_EQ(test::ReadFileBytes(mDir.File("empty.wav")).size(), 46u);
}

// The abort button, the window's close button and Escape all stop the export after a whole
// block; what was written is the start of the complete save.
TEST_F(ProgressDialogTest, AbortLeavesTheStartOfTheSave)
{
    const std::vector<int16_t> full = Expected(mSettings);
    struct Case
    {
        const char* How;
        std::function<void(TSaveFileForm&)> Abort;
    };
    const std::vector<Case> cases = {
        {"abort button", [](TSaveFileForm& f) { QTest::mouseClick(f.AbortBtn, Qt::LeftButton); }},
        {"close button", [](TSaveFileForm& f) { f.close(); }},
        {"Escape", [](TSaveFileForm& f) { QTest::keyClick(&f, Qt::Key_Escape); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.How);
        // Aborted as soon as the thread has set the dialog up, long before it can be done.
        const DialogSave r = Run(
            mSettings, mDir.File("aborted.wav"),
            [this] { return mForm.FileNameLbl->text() == QStringLiteral("out.wav"); }, c.Abort);
        mForm.FileNameLbl->setText(QStringLiteral("FileName"));
        EXPECT_EQ(r.Result, 1);
        EXPECT_TRUE(mForm.LastAborted());
        EXPECT_TRUE(r.Warnings.empty());
        EXPECT_EQ(mForm.LastWritten() % kBlockBytes, 0);
        ASSERT_LT(r.Samples.size(), full.size());
        EXPECT_EQ(static_cast<int64_t>(r.Samples.size()) * 2, mForm.LastWritten());
        EXPECT_TRUE(std::equal(r.Samples.begin(), r.Samples.end(), full.begin()));
    }
}

// A failure that comes just before the person presses Abort (the thread has failed, and its
// end has not reached the dialog yet) is still reported, not taken for a clean abort.
TEST_F(ProgressDialogTest, FailureJustBeforeAnAbortIsReported)
{
    TWaveData in;
    TWaveData writer;
    ASSERT_EQ(in.OpenRead(mInput), 0);
    writer.Format = in.Format;
    ASSERT_EQ(writer.OpenWrite(mDir.File("out.wav")), 0);
    // The input shrinks after it was opened: reading fails part way through.
    std::filesystem::resize_file(mInput, 44 + 3 * kBlockBytes);
    auto job = std::make_shared<ExportJob>(in, writer, mSettings);
    std::atomic<bool> failed{false};
    ExportWork work;
    work.DisplayName = "out.wav";
    work.TotalBytes = job->TotalBytes();
    work.Run = [&](const ExportJob::ProgressFn& progress, const std::atomic<bool>& abort) {
        ExportOutcome outcome;
        outcome.Message = job->Run(progress, abort);
        outcome.Aborted = job->Aborted();
        outcome.Written = job->Written();
        failed = true;
        // The end is held back until the abort comes, as if it came in the moment between.
        while (!abort.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return outcome;
    };
    mForm.SetExport(std::move(work));
    WhenReady press([&] { return failed.load(); },
                    [&] { QTest::mouseClick(mForm.AbortBtn, Qt::LeftButton); });
    {
        Watchdog dog(std::chrono::seconds(120), "the progress dialog");
        mForm.exec();
    }
    in.Close();
    writer.Close();
    EXPECT_TRUE(press.Fired());
    EXPECT_EQ(mForm.LastMessage(), 8);
    ASSERT_EQ(mBoxes.Messages.size(), 1u);
    EXPECT_EQ(mBoxes.Messages[0].Kind, MessageKind::Warning);
    EXPECT_EQ(mBoxes.Messages[0].Text.toStdString(),
              "\"out.wav\"\nAn Error occurred while saving.");
}

// The thread's last call (its end) is still queued when an abort has waited for it; the
// dialog, idle again, drops it instead of closing a second time.
TEST_F(ProgressDialogTest, CallsAfterAnAbortAreDropped)
{
    int closings = 0;
    QObject::connect(&mForm, &QDialog::finished, [&] { ++closings; });
    const DialogSave r = Run(
        mSettings, mDir.File("aborted.wav"), [this] { return mForm.ProgressBar1->value() > 0; },
        [](TSaveFileForm& f) { f.AbortBtn->click(); });
    ASSERT_TRUE(mForm.LastAborted());
    QCoreApplication::processEvents();
    EXPECT_EQ(closings, 1);
    EXPECT_EQ(mForm.ProgressBar1->value(), r.BarValue);
}

// The thread waits for the GUI thread to show the full bar. The GUI thread, not serving its
// events, stops the thread right then: the wait ends, and the dropped step never runs.
TEST(ExportThread, StopDuringTheSynchronousStepDoesNotDeadlock)
{
    WidgetApp();
    QObject receiver;
    std::atomic<bool> ran{false};
    std::vector<int64_t> steps;
    int done = -1;
    ThFileOut::Calls calls;
    calls.Progress = [&](int64_t written, int64_t) { steps.push_back(written); };
    calls.Done = [&](int message) { done = message; };
    ExportWork work;
    work.DisplayName = "x.wav";
    work.TotalBytes = 4000;
    work.Run = [&](const ExportJob::ProgressFn&, const std::atomic<bool>&) {
        ran = true;
        ExportOutcome complete;
        complete.Written = 4000;
        return complete;
    };
    {
        Watchdog dog(std::chrono::seconds(20), "stopping the export thread");
        ThFileOut thread(&receiver, calls, work);
        while (!ran)
            std::this_thread::yield();
        // Long enough for the thread to be waiting in the synchronous step.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(steps.empty());
    EXPECT_EQ(done, 0);
}

} // namespace
} // namespace varnel
