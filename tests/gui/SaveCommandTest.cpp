#include "gui/SaveTestSupport.h"
#include "gui/WindowFixture.h"

#include "app/Abform.h"
#include "app/Saveform.h"
#include "app/StopSignalWatch.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>
#include <unistd.h>

namespace varnel {
namespace {

namespace fs = std::filesystem;

using test::ActiveModal;
using test::HiddenTemporaries;
using test::ReadFileBytes;
using test::ReadWavSamples;
using test::RunCli;
using test::ShownMessage;
using test::Watchdog;
using test::WindowFixture;

constexpr int kRate = 44100;
constexpr int kBlockBytes = kRate / 2 * 4; // the export's half-second block

// How the modal dialogs of one press of the save button are answered.
struct Answers
{
    // The A-B question: the button to press, or nullptr to close it by its close button.
    std::function<QPushButton*(TAbSaveForm&)> AbQuestion;
    // The file dialog: the path to accept, or empty to cancel it.
    std::string Path;
    // In the progress dialog: when Ready() holds, Act runs once (nullptr: let it finish).
    std::function<bool(TSaveFileForm&)> Ready;
    std::function<void(TSaveFileForm&)> Act;
};

// What the dialogs saw.
struct Seen
{
    bool AbQuestion = false;
    bool FileDialog = false;
    bool Progress = false;
};

// Presses the save button and answers each modal dialog as it comes up.
Seen PressSave(TForm1& form, const Answers& answers)
{
    Seen seen;
    QTimer poll;
    poll.setInterval(2);
    QWidget* lastProgress = nullptr;
    QElapsedTimer shown;
    bool acted = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* ab = ActiveModal<TAbSaveForm>()) {
            seen.AbQuestion = true;
            if (QPushButton* button = answers.AbQuestion ? answers.AbQuestion(*ab) : nullptr)
                QTest::mouseClick(button, Qt::LeftButton);
            else
                ab->close();
        } else if (auto* files = ActiveModal<QFileDialog>()) {
            if (!seen.FileDialog)
                shown.start();
            seen.FileDialog = true;
            const QString path = QString::fromStdString(answers.Path);
            if (answers.Path.empty()) {
                files->reject();
            } else if (shown.elapsed() > 100 && files->selectedFiles() == QStringList{path}) {
                QMetaObject::invokeMethod(files, "accept");
            } else if (shown.elapsed() > 50) {
                // The dialog loads its folder in the background and may put its earlier
                // choice back meanwhile: type the name until it stays. (selectFile leaves a
                // name field that has the focus alone.)
                const QFileInfo info(path);
                files->setDirectory(info.absolutePath());
                if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    name->setText(info.fileName());
            }
        } else if (auto* progress = ActiveModal<TSaveFileForm>()) {
            seen.Progress = true;
            if (progress != lastProgress)
                acted = false;
            lastProgress = progress;
            if (!acted && answers.Act && answers.Ready(*progress)) {
                acted = true;
                answers.Act(*progress);
            }
        }
    });
    poll.start();
    Watchdog dog(std::chrono::seconds(120), "the save command");
    QTest::mouseClick(form.FileSaveBtn, Qt::LeftButton);
    return seen;
}

// What a file dialog offers when it comes up: its folder and the name in its name field.
struct Offer
{
    QString Folder;
    QString Name;
};

// Presses the button and reads what the file dialog it opens offers; then accepts the offer
// as it is, or cancels.
Offer OfferOf(QPushButton* button, bool accept)
{
    Offer offer;
    bool seen = false;
    QTimer poll;
    poll.setInterval(2);
    QElapsedTimer shown;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* files = ActiveModal<QFileDialog>();
        if (!files)
            return;
        if (!seen) {
            seen = true;
            shown.start();
        }
        // The dialog loads its folder in the background first.
        if (shown.elapsed() < 100)
            return;
        poll.stop();
        offer.Folder = files->directory().absolutePath();
        if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            offer.Name = name->text();
        if (accept)
            QMetaObject::invokeMethod(files, "accept");
        else
            files->reject();
    });
    poll.start();
    Watchdog dog(std::chrono::seconds(120), "the file dialog");
    QTest::mouseClick(button, Qt::LeftButton);
    return offer;
}

class SaveCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mInput = w.Dir.File("mix.wav");
        test::WriteWav16(mInput, test::MixLike(kFrames, kRate), kRate);
        w.Form->LoadWaveFile(QString::fromStdString(mInput));
        ASSERT_TRUE(w.Form->PlayIn.IsOpen);
    }

    void SetAB(int a, int b)
    {
        w.Form->RepeatState = 2;
        w.Form->PointA = a;
        w.Form->PointB = b;
    }

    // The command line's export of the same file and start-up area; extra options added.
    std::vector<uint8_t> CliExport(const std::vector<std::string>& extra = {})
    {
        const std::string out = w.Dir.File("cli-" + std::to_string(mCliRuns++) + ".wav");
        std::vector<std::string> args = {"export", mInput, out};
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_EQ(RunCli(args), 0);
        return ReadFileBytes(out);
    }

    static constexpr int kFrames = kRate * 12;
    WindowFixture w;
    std::string mInput;
    int mCliRuns = 0;
};

QPushButton* SaveABButton(TAbSaveForm& f)
{
    return f.BitBtn1;
}
QPushButton* SaveAllButton(TAbSaveForm& f)
{
    return f.BitBtn2;
}
QPushButton* CancelButton(TAbSaveForm& f)
{
    return f.BitBtn3;
}

TEST_F(SaveCommandTest, WholeFileWithoutAbIsSavedWithoutAskingAsTheCommandLineSavesIt)
{
    const std::string out = w.Dir.File("whole.wav");
    const Seen seen = PressSave(*w.Form, {nullptr, out, nullptr, nullptr});
    EXPECT_FALSE(seen.AbQuestion);
    EXPECT_TRUE(seen.Progress);
    EXPECT_TRUE(w.Boxes.Messages.empty());
    EXPECT_FALSE(w.Form->SaveAB);
    EXPECT_EQ(w.Form->OutputFileName.toStdString(), out);
    EXPECT_EQ(ReadFileBytes(out), CliExport());
    // The bar ran over the whole file's sample bytes.
    EXPECT_EQ(SaveFileForm->ProgressBar1->maximum(), kFrames * 4);
    EXPECT_EQ(SaveFileForm->ProgressBar1->value(), kFrames * 4);
}

// Each answer to the A-B question does what it says; closing it is Cancel.
TEST_F(SaveCommandTest, AbQuestionAnswers)
{
    SetAB(30000, 250000);
    const std::vector<uint8_t> abSave = CliExport({"--ab", "30000:250000"});
    const std::vector<uint8_t> wholeSave = CliExport();
    struct Case
    {
        const char* Name;
        std::function<QPushButton*(TAbSaveForm&)> Answer;
        const std::vector<uint8_t>* Expected; // null: nothing is saved
    };
    const std::vector<Case> cases = {
        {"save A-B", SaveABButton, &abSave},
        {"save all", SaveAllButton, &wholeSave},
        {"cancel", CancelButton, nullptr},
        {"close button", nullptr, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string out = w.Dir.File("ab-" + std::to_string(n++) + ".wav");
        const QString before = w.Form->OutputFileName;
        const Seen seen = PressSave(*w.Form, {c.Answer, out, nullptr, nullptr});
        EXPECT_TRUE(seen.AbQuestion);
        EXPECT_EQ(seen.FileDialog, c.Expected != nullptr);
        EXPECT_TRUE(w.Boxes.Messages.empty());
        if (c.Expected) {
            EXPECT_EQ(ReadFileBytes(out), *c.Expected);
            // The bar's length is the stretch's sample bytes, as the file holds them.
            EXPECT_EQ(SaveFileForm->ProgressBar1->maximum(),
                      static_cast<int>(c.Expected->size()) - 46);
        } else {
            EXPECT_FALSE(fs::exists(out));
            EXPECT_EQ(w.Form->OutputFileName, before);
        }
        // The position and the A-B points stay.
        EXPECT_EQ(w.Form->RepeatState, 2);
        EXPECT_EQ(w.Form->PointA, 30000);
        EXPECT_EQ(w.Form->PointB, 250000);
    }
}

TEST_F(SaveCommandTest, CancelledFileDialogWritesNothing)
{
    w.Form->OutputFileName = QStringLiteral("/earlier/name.wav");
    const size_t filesBefore =
        static_cast<size_t>(std::distance(fs::directory_iterator(w.Dir.Path()), {}));
    const Seen seen = PressSave(*w.Form, {nullptr, "", nullptr, nullptr});
    EXPECT_TRUE(seen.FileDialog);
    EXPECT_FALSE(seen.Progress);
    EXPECT_EQ(w.Form->OutputFileName.toStdString(), "/earlier/name.wav");
    EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(w.Dir.Path()), {})),
              filesBefore);
}

// The input is never the output: by its name in any case, through a
// symbolic link or a hard link, also when the chosen name gets its .wav on the way.
TEST_F(SaveCommandTest, InputChosenAsOutputIsRefused)
{
    ASSERT_EQ(::symlink(mInput.c_str(), w.Dir.File("link.wav").c_str()), 0);
    ASSERT_EQ(::link(mInput.c_str(), w.Dir.File("hard.wav").c_str()), 0);
    const std::vector<uint8_t> original = ReadFileBytes(mInput);
    const struct
    {
        const char* Name;
        std::string Path;
        const char* Shown;
    } cases[] = {
        {"upper case", w.Dir.File("MIX.WAV"), "MIX.wav"},
        {"mixed case, other extension", w.Dir.File("Mix.Mp3"), "Mix.wav"},
        {"symbolic link", w.Dir.File("link.wav"), "link.wav"},
        {"hard link", w.Dir.File("hard.wav"), "hard.wav"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        w.Boxes.Messages.clear();
        const Seen seen = PressSave(*w.Form, {nullptr, c.Path, nullptr, nullptr});
        EXPECT_FALSE(seen.Progress);
        ASSERT_EQ(w.Boxes.Messages.size(), 1u);
        EXPECT_EQ(w.Boxes.Messages[0].Text.toStdString(),
                  std::string("\"") + c.Shown +
                      "\"\nThe output file is the same as the input file.");
        EXPECT_EQ(ReadFileBytes(mInput), original);
    }
    EXPECT_TRUE(fs::is_symlink(w.Dir.File("link.wav")));
}

TEST_F(SaveCommandTest, ChosenExtensionBecomesWav)
{
    const Seen seen = PressSave(*w.Form, {nullptr, w.Dir.File("song.mp3"), nullptr, nullptr});
    EXPECT_TRUE(seen.Progress);
    EXPECT_FALSE(fs::exists(w.Dir.File("song.mp3")));
    EXPECT_EQ(w.Form->OutputFileName.toStdString(), w.Dir.File("song.wav"));
    EXPECT_EQ(ReadFileBytes(w.Dir.File("song.wav")), CliExport());
}

// An existing file is replaced only when the person says Yes, and then by the whole save.
TEST_F(SaveCommandTest, ExistingFileIsAskedAbout)
{
    const std::string out = w.Dir.File("there.wav");
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        std::ofstream(out, std::ios::binary).write("old", 3);
        test::MessageCapture answer(yes);
        const Seen seen = PressSave(*w.Form, {nullptr, out, nullptr, nullptr});
        ASSERT_EQ(answer.Messages.size(), 1u);
        EXPECT_EQ(answer.Messages[0].Kind, MessageKind::Question);
        EXPECT_EQ(answer.Messages[0].Text.toStdString(),
                  "\"there.wav\"\nFile already exists. Overwrite?");
        EXPECT_EQ(seen.Progress, yes);
        EXPECT_EQ(ReadFileBytes(out), yes ? CliExport() : old);
    }
}

// The folder goes away while the person is asked about replacing a file in it, so the
// output cannot be created (as root, permissions would not stop it).
TEST_F(SaveCommandTest, UncreatableOutputGivesMessage6)
{
    const std::string folder = w.Dir.File("gone");
    fs::create_directory(folder);
    const std::string out = folder + "/out.wav";
    std::ofstream(out, std::ios::binary).write("old", 3);
    std::vector<QString> shown;
    SetMessageBoxHandler([&](MessageKind, const QString& text) {
        shown.push_back(text);
        fs::remove_all(folder);
        return true;
    });
    const Seen seen = PressSave(*w.Form, {nullptr, out, nullptr, nullptr});
    SetMessageBoxHandler(nullptr);
    EXPECT_FALSE(seen.Progress);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].toStdString(),
              "\"out.wav\"\nAn error occurred during file creation. (No such file or directory)");
}

// The chosen name becomes a folder's once it gets its ".wav": refused before any question,
// and the folder stays as it was.
TEST_F(SaveCommandTest, FolderAsOutputGivesMessage6WithoutAsking)
{
    fs::create_directory(w.Dir.File("take.wav"));
    std::ofstream(w.Dir.File("take.wav/inside.txt")).write("x", 1);
    const Seen seen = PressSave(*w.Form, {nullptr, w.Dir.File("take.mp3"), nullptr, nullptr});
    EXPECT_FALSE(seen.Progress);
    ASSERT_EQ(w.Boxes.Messages.size(), 1u);
    EXPECT_EQ(w.Boxes.Messages[0].Kind, MessageKind::Warning);
    EXPECT_EQ(w.Boxes.Messages[0].Text.toStdString(),
              "\"take.wav\"\nAn error occurred during file creation. (Is a directory)");
    EXPECT_EQ(ReadFileBytes(w.Dir.File("take.wav/inside.txt")), (std::vector<uint8_t>{'x'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(w.Dir.File("take.wav")), {}), 1);
}

// Ticking "invert" saves what is then heard: the area removed, as the command line's
// --invert removes it.
TEST_F(SaveCommandTest, InvertedAreaSavesTheRest)
{
    QTest::mouseClick(w.Form->InvCheck, Qt::LeftButton);
    ASSERT_TRUE(w.Form->Inverted);
    const std::string out = w.Dir.File("rest.wav");
    const Seen seen = PressSave(*w.Form, {nullptr, out, nullptr, nullptr});
    EXPECT_TRUE(seen.Progress);
    EXPECT_TRUE(w.Boxes.Messages.empty());
    const std::vector<uint8_t> rest = CliExport({"--invert"});
    EXPECT_EQ(ReadFileBytes(out), rest);
    EXPECT_NE(rest, CliExport()) << "the area keeps something and leaves something";
}

// The save dialog starts beside the input with a name that is not the input's: the input's
// name and "-extract", or "-remove" while the area is inverted; also after a save elsewhere,
// whose name the filter's pattern once turned into "first.[wW][aA][vV]". The open dialog
// starts in the loaded file's folder.
TEST_F(SaveCommandTest, DialogsStartBesideTheLoadedFile)
{
    fs::create_directory(w.Dir.File("elsewhere"));
    PressSave(*w.Form, {nullptr, w.Dir.File("elsewhere/first.wav"), nullptr, nullptr});
    ASSERT_TRUE(fs::exists(w.Dir.File("elsewhere/first.wav")));
    const QString folder = QFileInfo(QString::fromStdString(mInput)).absolutePath();
    const Offer extract = OfferOf(w.Form->FileSaveBtn, false);
    EXPECT_EQ(extract.Folder, folder);
    EXPECT_EQ(extract.Name.toStdString(), "mix-extract.wav");

    // Accepted as offered, the inverted save lands under the offered name.
    QTest::mouseClick(w.Form->InvCheck, Qt::LeftButton);
    const Offer remove = OfferOf(w.Form->FileSaveBtn, true);
    EXPECT_EQ(remove.Folder, folder);
    EXPECT_EQ(remove.Name.toStdString(), "mix-remove.wav");
    EXPECT_EQ(ReadFileBytes(w.Dir.File("mix-remove.wav")), CliExport({"--invert"}));

    EXPECT_EQ(OfferOf(w.Form->FileOpenBtn, false).Folder, folder);
    EXPECT_TRUE(w.Boxes.Messages.empty());
}

// The folder the output belongs to refuses the final rename of a complete save (here a
// non-empty folder takes the output's name while the person is asked about replacing it; a
// folder made read-only, or someone else's file in a sticky folder, fail alike for a user):
// the whole sound is kept under a visible name beside it, and the window says so, with the
// system's reason.
TEST_F(SaveCommandTest, CompleteSaveThatCannotTakeItsNameSaysWhereTheSoundIs)
{
    const std::string out = w.Dir.File("out.wav");
    std::ofstream(out, std::ios::binary).write("old", 3);
    std::vector<ShownMessage> shown;
    SetMessageBoxHandler([&](MessageKind kind, const QString& text) {
        shown.push_back({kind, text});
        if (kind == MessageKind::Question) {
            fs::remove(out);
            fs::create_directory(out);
            std::ofstream(out + "/inside.txt") << "x";
        }
        return true;
    });
    const Seen seen = PressSave(*w.Form, {nullptr, out, nullptr, nullptr});
    SetMessageBoxHandler(nullptr);
    EXPECT_TRUE(seen.Progress);
    const std::string kept = w.Dir.File("out (1).wav");
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].Kind, MessageKind::Warning);
    EXPECT_EQ(shown[1].Text.toStdString(),
              "\"out.wav\"\nAn Error occurred while saving. (Is a directory)\n"
              "The saved sound is kept as \"" +
                  kept + "\".");
    EXPECT_EQ(ReadFileBytes(kept), CliExport());
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_TRUE(HiddenTemporaries(w.Dir.Path()).empty());
}

TEST_F(SaveCommandTest, EmptyAbStretchWritesAnEmptyWaveAndClosesAtOnce)
{
    SetAB(5000, 5000);
    const std::string out = w.Dir.File("empty.wav");
    const Seen seen = PressSave(*w.Form, {SaveABButton, out, nullptr, nullptr});
    EXPECT_TRUE(seen.AbQuestion);
    EXPECT_TRUE(w.Boxes.Messages.empty());
    EXPECT_FALSE(SaveFileForm->isVisible());
    EXPECT_EQ(ReadFileBytes(out).size(), 46u);
    EXPECT_EQ(ReadFileBytes(out), CliExport({"--ab", "5000:5000"}));
}

// ---- Abort and failure ------------------------------------------------------------------

bool SetUpDone(TSaveFileForm& f)
{
    return f.FileNameLbl->text().endsWith(QStringLiteral(".wav"));
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& wav)
{
    // The program's files hold their samples from byte 46 on.
    std::vector<int16_t> s(wav.size() > 46 ? (wav.size() - 46) / 2 : 0);
    std::memcpy(s.data(), wav.data() + 46, s.size() * 2);
    return s;
}

// Where the long save's part that was written must match the complete save.
void ExpectStartOf(const std::string& path, const std::vector<uint8_t>& complete)
{
    const std::vector<int16_t> part = ReadWavSamples(path);
    const std::vector<int16_t> full = Samples(complete);
    ASSERT_LT(part.size(), full.size());
    EXPECT_EQ(part.size() * 2 % kBlockBytes, 0u);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), full.begin()));
}

class LongSaveTest : public SaveCommandTest
{
protected:
    void SetUp() override
    {
        mInput = w.Dir.File("long.wav");
        test::WriteWav16(mInput, test::MixLike(kRate * 90, kRate), kRate);
        w.Form->LoadWaveFile(QString::fromStdString(mInput));
        ASSERT_TRUE(w.Form->PlayIn.IsOpen);
    }
};

// The abort button and the dialog's close button stop the save after a whole block: a new
// file keeps the valid start of the save; a file that was there stays as it was.
TEST_F(LongSaveTest, AbortKeepsTheStartOrTheOldFile)
{
    const std::vector<uint8_t> complete = CliExport();
    const struct
    {
        const char* Name;
        std::function<void(TSaveFileForm&)> Abort;
        bool Existing;
    } cases[] = {
        {"abort button", [](TSaveFileForm& f) { QTest::mouseClick(f.AbortBtn, Qt::LeftButton); },
         false},
        {"close button", [](TSaveFileForm& f) { f.close(); }, false},
        {"abort over an existing file",
         [](TSaveFileForm& f) { QTest::mouseClick(f.AbortBtn, Qt::LeftButton); }, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string out = w.Dir.File("abort-" + std::to_string(n++) + ".wav");
        if (c.Existing)
            std::ofstream(out, std::ios::binary).write("old", 3);
        w.Boxes.Messages.clear();
        const Seen seen = PressSave(*w.Form, {nullptr, out, SetUpDone, c.Abort});
        EXPECT_TRUE(seen.Progress);
        EXPECT_FALSE(SaveFileForm->isVisible());
        EXPECT_TRUE(SaveFileForm->LastAborted());
        EXPECT_EQ(w.Boxes.Messages.size(), c.Existing ? 1u : 0u); // the question only
        if (c.Existing)
            EXPECT_EQ(ReadFileBytes(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
        else
            ExpectStartOf(out, complete);
        // Nothing but the output is left in the folder: no temporary.
        for (const auto& entry : fs::directory_iterator(w.Dir.Path()))
            EXPECT_EQ(entry.path().filename().string().rfind(".abort", 0), std::string::npos);
    }
}

// Two saves to one new name at once (two windows): the one that finishes second finds the
// other's file, keeps it, says so, and leaves nothing of its own behind, hidden or not.
TEST_F(LongSaveTest, FileThatAppearsWhileSavingIsKept)
{
    const std::string out = w.Dir.File("same.wav");
    std::vector<uint8_t> other;
    const Seen seen = PressSave(*w.Form, {nullptr, out, SetUpDone, [&](TSaveFileForm&) {
                                              // The other window's short save, done first.
                                              test::WriteWav16(out, test::MixLike(4410, kRate));
                                              other = ReadFileBytes(out);
                                          }});
    EXPECT_TRUE(seen.Progress);
    ASSERT_FALSE(other.empty());
    EXPECT_FALSE(SaveFileForm->LastAborted());
    ASSERT_EQ(w.Boxes.Messages.size(), 1u);
    EXPECT_EQ(w.Boxes.Messages[0].Kind, MessageKind::Warning);
    EXPECT_EQ(w.Boxes.Messages[0].Text.toStdString(),
              "\"same.wav\"\nFile already exists: it appeared while saving and is kept. "
              "Nothing was saved.");
    EXPECT_EQ(ReadFileBytes(out), other);
    EXPECT_EQ(std::distance(fs::directory_iterator(w.Dir.Path()), {}), 2) << "long.wav, same.wav";
}

// A stop signal (kill, a closed session) during a save stops it as the abort button does and
// ends the program: a new file keeps the valid start of the save, a file that was there stays
// as it was, and no temporary is left.
TEST_F(LongSaveTest, StopSignalEndsTheSaveAsAnAbortDoes)
{
    const std::vector<uint8_t> complete = CliExport();
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "over an existing file" : "new file");
        const std::string out = w.Dir.File(existing ? "there.wav" : "new.wav");
        if (existing)
            std::ofstream(out, std::ios::binary).write("old", 3);
        w.Boxes.Messages.clear();
        const auto running = [](TSaveFileForm& f) { return f.ExportThread && SetUpDone(f); };
        const Seen seen = PressSave(
            *w.Form, {nullptr, out, running, [](TSaveFileForm&) { EndForStopSignal(143); }});
        EXPECT_TRUE(seen.Progress);
        EXPECT_FALSE(SaveFileForm->isVisible());
        EXPECT_TRUE(SaveFileForm->LastAborted());
        EXPECT_EQ(w.Boxes.Messages.size(), existing ? 1u : 0u); // the question only
        if (existing)
            EXPECT_EQ(ReadFileBytes(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
        else
            ExpectStartOf(out, complete);
        EXPECT_TRUE(HiddenTemporaries(w.Dir.Path()).empty());
        // The program's event loops end: a new one returns at once.
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, [&] { loop.exit(0); });
        EXPECT_EQ(loop.exec(), -1);
        // For the next case (and test): the application's loop starts afresh after it ran.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
}

// A disk that fills up during a new save: message 8, the dialog closes, and the file holds
// the valid start of the save.
TEST_F(LongSaveTest, FullDiskShowsMessage8AndKeepsWhatWasWritten)
{
    const std::vector<uint8_t> complete = CliExport();
    const std::string out = w.Dir.File("full.wav");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = 46 + 5 * kBlockBytes + 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const Seen seen = PressSave(*w.Form, {nullptr, out, nullptr, nullptr});
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(seen.Progress);
    EXPECT_FALSE(SaveFileForm->isVisible());
    ASSERT_EQ(w.Boxes.Messages.size(), 1u);
    EXPECT_EQ(w.Boxes.Messages[0].Kind, MessageKind::Warning);
    // The file's name, and the system's reason: the file size limit acts as a full disk.
    EXPECT_EQ(w.Boxes.Messages[0].Text.toStdString(),
              "\"full.wav\"\nAn Error occurred while saving. (File too large)");
    const std::vector<int16_t> part = ReadWavSamples(out);
    const std::vector<int16_t> full = Samples(complete);
    ASSERT_FALSE(part.empty());
    ASSERT_LT(part.size(), full.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), full.begin()));
}

// The input shrinks after it was opened for the save (a read error while exporting): message
// 8, and the file the person agreed to replace stays as it was.
TEST_F(LongSaveTest, ReadFailureKeepsTheFileThatWasThere)
{
    const std::string out = w.Dir.File("there.wav");
    std::ofstream(out, std::ios::binary).write("old", 3);
    std::vector<QString> shown;
    SetMessageBoxHandler([&](MessageKind, const QString& text) {
        shown.push_back(text);
        fs::resize_file(mInput, 46 + 3 * kBlockBytes);
        return true;
    });
    const Seen seen = PressSave(*w.Form, {nullptr, out, nullptr, nullptr});
    SetMessageBoxHandler(nullptr);
    EXPECT_TRUE(seen.Progress);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].toStdString(), "\"there.wav\"\nAn Error occurred while saving.");
    EXPECT_EQ(ReadFileBytes(out), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

} // namespace
} // namespace varnel
