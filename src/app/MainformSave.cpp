// The save command of the main window.

#include "app/Abform.h"
#include "app/FileFilter.h"
#include "app/Mainform.h"
#include "app/Saveform.h"
#include "audio/SaveFile.h"
#include "audio/WaveCheck.h"
#include "settings/MessageBox.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>

#include <memory>

namespace varnel {

namespace {

std::string LocalName(const QString& path)
{
    return QFile::encodeName(path).toStdString();
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

    // 4. The output's name. The question about an existing file is the program's own (10).
    // The dialog starts beside the input with a name of its own, which also replaces the name
    // the filter has put its pattern's extension into.
    CreateFileDialogs();
    SaveDialog1->setNameFilter(
        QtFileFilter(QString::fromStdString(LangSet.GetMsgText(kMsgSaveDialogFilter))));
    SaveDialog1->setDefaultSuffix(QStringLiteral("wav"));
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
    SaveDialog1->setDirectory(QFileInfo(InputFileName).absolutePath());
    SaveDialog1->selectFile(SuggestedSaveName(InputFileName, Inverted));
    if (SaveDialog1->exec() != QDialog::Accepted)
        return;
    const QStringList chosen = SaveDialog1->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return;
    // 5.
    OutputFileName = chosen.first();

    // 6, 7. The input is checked again and opened once: it may have changed since it was
    // loaded. 8, 9. The output gets its ".wav" and never names the input, by any spelling,
    // link or case, nor a folder. The save command's rules are those of varnel-cli export.
    auto save = std::make_shared<SaveFile>();
    SaveResult checked = save->Check(LocalName(InputFileName), LocalName(OutputFileName));
    if (checked.Message >= kMsgCannotOpen && checked.Message <= kMsgNotStereo16) {
        ShowWarning(FileMessageText(InputFileName,
                                    QString::fromStdString(LangSet.GetMsgText(checked.Message))));
        return;
    }
    WformLbl->setText(QString::fromStdString(FormatLabelText(save->InputFormat())));
    OutputFileName = QFile::decodeName(QByteArray::fromStdString(save->OutputPath()));
    if (checked.Message != kMsgNone) {
        ShowWarning(SaveMessageText(OutputFileName, checked.Message, checked.Reason));
        return;
    }
    // 10.
    const bool exists = save->OutputExists();
    if (exists && !ShowMessageBox(
                      this, MessageKind::Question,
                      FileMessageText(OutputFileName,
                                      QString::fromStdString(LangSet.GetMsgText(kMsgFileExists)))))
        return;
    // 11, 12. The sound goes to a temporary beside the output, renamed when complete; a file
    // that is there is replaced only by a complete save, and only when the person was asked:
    // one that appears while the save runs (another save to the same name) is kept.
    const SaveResult begun = save->Begin(/*replaceExisting=*/exists);
    if (begun.Message != kMsgNone) {
        ShowWarning(SaveMessageText(OutputFileName, begun.Message, begun.Reason));
        return;
    }

    // 13. The export runs on the dialog's thread while the dialog shows, and settles the
    // output: a complete save takes the output's name; an unfinished one never replaces a file
    // that was there, and where there was none it stays as the valid, shorter file.
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
    settings.Area.Soft = Soft;
    settings.SaveAB = SaveAB;
    settings.PointA = PointA;
    settings.PointB = PointB;
    ExportWork work;
    work.DisplayName = QFileInfo(OutputFileName).fileName().toStdString();
    work.TotalBytes = save->StretchBytes(settings);
    work.Run = [save, settings](const ExportJob::ProgressFn& progress,
                                const std::atomic<bool>& abort) {
        const SaveResult r = save->Run(settings, progress, abort);
        ExportOutcome outcome;
        outcome.Message = r.Message;
        outcome.Aborted = r.Aborted;
        outcome.Written = r.SavedFrames * kFrameBytes;
        outcome.Reason = r.Reason;
        outcome.KeptAs = r.KeptAs;
        return outcome;
    };
    SaveFileForm->SetExport(std::move(work));
    SaveFileForm->exec();
    // When the program is ending, its event loops end from outside and the dialog may still
    // show: an export that runs then stops as an abort stops it.
    SaveFileForm->StopForEnd();
    // 14. The dialog lets the work go, so the files are closed (and a temporary that was never
    // settled removed) here, when the command ends.
    SaveFileForm->SetExport(ExportWork());
}

QString SuggestedSaveName(const QString& inputPath, bool inverted)
{
    return QFileInfo(inputPath).completeBaseName() +
           (inverted ? QStringLiteral("-remove.wav") : QStringLiteral("-extract.wav"));
}

} // namespace varnel
