// The save command of the main window.

#include "app/Abform.h"
#include "app/FileFilter.h"
#include "app/Mainform.h"
#include "app/MessageBox.h"
#include "app/Saveform.h"
#include "audio/ExportJob.h"
#include "audio/OutputFile.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

#include <filesystem>
#include <memory>

namespace varnel {

namespace {

std::string LocalName(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

// The path with its file name's extension replaced by ".wav" (appended when it has none).
QString WithWavExtension(const QString& path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    return path.left(path.size() - name.size()) + stem + QStringLiteral(".wav");
}

} // namespace

void EnsureSaveForms()
{
    if (!AbSaveForm)
        AbSaveForm = new TAbSaveForm();
    if (!SaveFileForm)
        SaveFileForm = new TSaveFileForm();
}

void TForm1::FileSaveBtnClick()
{
    // 1. Nothing loaded, nothing to save.
    if (!PlayIn.IsOpen)
        return;
    // 2. The playback thread stays parked while the export thread reads the window's fields.
    StopPlayback();
    EnsureSaveForms();

    // 3. The A-B stretch or the whole file.
    if (RepeatState == 2) {
        const int answer = AbSaveForm->exec();
        if (answer == TAbSaveForm::kSaveAB)
            SaveAB = true;
        else if (answer == TAbSaveForm::kSaveAll)
            SaveAB = false;
        else
            return;
    } else {
        SaveAB = false;
    }

    // 4. The output's name. The question about an existing file is the program's own (5).
    SaveDialog1->setNameFilter(QtFileFilter(QString::fromStdString(LangSet.GetMsgText(kMsgSaveDialogFilter))));
    SaveDialog1->setDefaultSuffix(QStringLiteral("wav"));
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
    if (SaveDialog1->exec() != QDialog::Accepted)
        return;
    const QStringList chosen = SaveDialog1->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return;
    // 5.
    OutputFileName = chosen.first();

    // 6. The input is checked again: it may have changed since it was loaded.
    if (CheckWaveFile(InputFileName, WformLbl))
        return;
    // 7.
    if (ExportIn.OpenRead(LocalName(InputFileName)) != 0) {
        ShowWarning(FileMessageText(InputFileName, QString::fromStdString(LangSet.GetMsgText(kMsgCannotOpen))));
        return;
    }
    // 8.
    OutputFileName = WithWavExtension(OutputFileName);
    const std::string output = LocalName(OutputFileName);
    // 9. Never the input, by any spelling, link or case.
    if (SameFile(output, LocalName(InputFileName))) {
        ExportIn.Close();
        ShowWarning(
            FileMessageText(OutputFileName, QString::fromStdString(LangSet.GetMsgText(kMsgOutputIsInput))));
        return;
    }
    // 10.
    std::error_code ec;
    const bool replacing = std::filesystem::exists(std::filesystem::u8path(output), ec);
    if (replacing && !ShowMessageBox(this, MessageKind::Question,
                                     FileMessageText(OutputFileName, QString::fromStdString(
                                                                         LangSet.GetMsgText(kMsgFileExists))))) {
        ExportIn.Close();
        return;
    }
    // 11, 12. The sound goes to a temporary beside the output, renamed at the end.
    SafeOutput safe;
    const std::string temp = safe.Begin(output);
    ExportOut.Format = ExportIn.Format;
    if (temp.empty() || ExportOut.OpenWrite(temp) != 0) {
        safe.Discard();
        ExportIn.Close();
        ShowWarning(FileMessageText(OutputFileName, QString::fromStdString(LangSet.GetMsgText(kMsgCreateFailed))));
        return;
    }

    // 13. The export runs while the progress dialog shows.
    ExportSettings settings;
    settings.FftSize = FftSize;
    settings.Overlap = Overlap;
    settings.Area.PanLow = PanLow;
    settings.Area.PanHigh = PanHigh;
    settings.Area.FreqLowHz = FreqLowHz;
    settings.Area.FreqHighHz = FreqHighHz;
    settings.Area.DepthLow = DepthLow;
    settings.Area.DepthHigh = DepthHigh;
    settings.Area.Inverted = Inverted;
    settings.SaveAB = SaveAB;
    settings.PointA = PointA;
    settings.PointB = PointB;
    auto job = std::make_shared<ExportJob>(ExportIn, ExportOut, settings);
    ExportWork work;
    work.DisplayName = QFileInfo(OutputFileName).fileName().toStdString();
    work.TotalBytes = job->TotalBytes();
    work.Run = [job](const ExportJob::ProgressFn& progress, const std::atomic<bool>& abort) {
        ExportOutcome outcome;
        outcome.Message = job->Run(progress, abort);
        outcome.Aborted = job->Aborted();
        outcome.Written = job->Written();
        return outcome;
    };
    SaveFileForm->SetExport(std::move(work));
    SaveFileForm->exec();

    // 14. Closing the writer fixes the sizes, so whatever was written is a valid file. A
    // complete save takes the output's name; an unfinished one never replaces a file that was
    // there, and where there was none it stays as the valid, shorter file.
    ExportIn.Close();
    const bool closed = ExportOut.Close() == 0;
    const bool complete = closed && SaveFileForm->LastComplete();
    if (!complete && replacing)
        safe.Discard();
    else if (!safe.Commit() && complete)
        ShowWarning(FileMessageText(OutputFileName, QString::fromStdString(LangSet.GetMsgText(kMsgSaveFailed))));
}

} // namespace varnel
