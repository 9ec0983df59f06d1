#include "app/Saveform.h"

#include "app/DialogFrame.h"
#include "app/ElidedLabel.h"
#include "app/TextFit.h"
#include "audio/MessageId.h"
#include "settings/FormLabels.h"
#include "settings/Langset.h"
#include "settings/MessageBox.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace varnel {

TSaveFileForm* SaveFileForm = nullptr;

namespace {

constexpr unsigned long kClosePauseMs = 100; // the full bar stays in sight this long
constexpr int kNameRowHeight = 13;

} // namespace

TSaveFileForm::TSaveFileForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SaveFileForm"));
    SetUpFixedDialog(*this, 347, 136, QStringLiteral("ファイルに保存"));

    FileNameLbl = new ElidedLabel(this);
    FileNameLbl->setText(QStringLiteral("FileName"));
    FileNameLbl->setObjectName(QStringLiteral("FileNameLbl"));
    // The name's row, 13 pixels high, cut the descenders and underscores of the 12-pixel font:
    // the label grows to the font's full height about the row's middle.
    const int nameHeight = std::max(kNameRowHeight, FileNameLbl->fontMetrics().height());
    FileNameLbl->setGeometry(16, 16 + (kNameRowHeight - nameHeight) / 2, 313, nameHeight);
    FileNameLbl->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(25, 48, 297, 25);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);

    AbortBtn = new QPushButton(QStringLiteral("中止"), this);
    AbortBtn->setObjectName(QStringLiteral("AbortBtn"));
    AbortBtn->setGeometry(133, 96, 81, 25);
    AbortBtn->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    AbortBtn->setAutoDefault(false);
    connect(AbortBtn, &QPushButton::clicked, this, [this] { AbortBtnClick(); });

    ApplyFormLabels(*this, TLangSet::SaveFileFormLabels(), TLangSet());
}

TSaveFileForm::~TSaveFileForm()
{
    if (ExportThread)
        ExportThread->Terminate();
    ExportThread.reset();
}

void TSaveFileForm::SetExport(ExportWork work)
{
    mWork = std::move(work);
}

void TSaveFileForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CentreOnScreen(*this);
    mEnding = false;
    ++mShowing;
    mStartedThisShowing = false;
    // Activation may not come on every platform; the first of the two starts the thread.
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TSaveFileForm::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

int TSaveFileForm::ToBar(int64_t bytes) const noexcept
{
    return static_cast<int>(bytes / mBarScale);
}

void TSaveFileForm::FormActivate()
{
    if (!isVisible() || mStartedThisShowing || mState != State::Idle)
        return;
    mStartedThisShowing = true;
    mLastMessage = 0;
    mLastAborted = false;
    mLastWritten = 0;
    mLastOutcome = ExportOutcome();
    const uint64_t showing = mShowing;
    ThFileOut::Calls calls;
    calls.Setup = [this, showing](const std::string& name, int64_t total) {
        if (showing != mShowing || mState != State::Busy)
            return;
        // Files reach 4 GiB; the bar counts in int.
        mBarScale = total / INT_MAX + 1;
        ProgressBar1->setRange(0, ToBar(total));
        ProgressBar1->setValue(0);
        // The whole name: narrowed where it is wide, shortened in the middle only past that.
        FileNameLbl->SetFullText(QString::fromStdString(name));
        FitCaption(*FileNameLbl, TextRoom(*FileNameLbl));
    };
    calls.Progress = [this, showing](int64_t written, int64_t total) {
        if (showing != mShowing || mState != State::Busy)
            return;
        mBarScale = total / INT_MAX + 1;
        ProgressBar1->setRange(0, ToBar(total));
        ProgressBar1->setValue(ToBar(written));
    };
    calls.Done = [this, showing](int message) {
        if (showing != mShowing || mState != State::Busy)
            return;
        ExportDone(message);
    };
    mState = State::Busy;
    ExportThread = std::make_unique<ThFileOut>(this, std::move(calls), mWork);
}

void TSaveFileForm::AbortBtnClick()
{
    done(1);
}

void TSaveFileForm::reject()
{
    AbortBtnClick();
}

void TSaveFileForm::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void TSaveFileForm::FinishThread()
{
    if (!ExportThread)
        return;
    ExportThread->Wait();
    mLastMessage = ExportThread->Result();
    mLastAborted = ExportThread->Aborted();
    mLastWritten = ExportThread->Written();
    mLastOutcome = ExportThread->Outcome();
    ExportThread.reset();
}

void TSaveFileForm::FormClose()
{
    if (ExportThread) {
        // An abort: the thread stops after the block it is writing and never waits for this
        // thread once told, so the wait below needs no event loop.
        mState = State::Cancelled;
        ExportThread->Terminate();
        FinishThread();
        // A failure that came before the abort is still reported.
        ShowOutcome();
    }
    mState = State::Idle;
    ProgressBar1->repaint();
    if (!mEnding)
        QThread::msleep(kClosePauseMs);
}

void TSaveFileForm::ExportDone(int message)
{
    FinishThread();
    mLastMessage = message;
    mLastOutcome.Message = message;
    ShowOutcome();
    done(1);
}

void TSaveFileForm::StopForEnd()
{
    if (!isVisible() && !ExportThread)
        return;
    mEnding = true;
    done(1);
}

void TSaveFileForm::EndForExit()
{
    if (!ExportThread)
        return;
    mEnding = true;
    mState = State::Cancelled;
    ExportThread->Terminate();
    FinishThread();
    ShowOutcome();
}

void TSaveFileForm::ShowOutcome()
{
    const QString text =
        SaveMessageText(QString::fromStdString(mWork.DisplayName), mLastOutcome.Message,
                        mLastOutcome.Reason, mLastOutcome.KeptAs);
    if (text.isEmpty())
        return;
    if (mEnding) {
        std::fprintf(stderr, "varnel: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    ShowMessageBox(this, MessageKind::Warning, text);
}

QString SaveMessageText(const QString& outputName, int message, std::error_code reason,
                        const std::string& keptAs)
{
    const TLangSet texts;
    QString text;
    if (message == kMsgFileExists) {
        text = QString::fromStdString(texts.FileAppearedText());
    } else if (message != kMsgNone) {
        text = QString::fromStdString(texts.GetMsgText(message));
        if (reason)
            text +=
                QStringLiteral(" (") + QString::fromLocal8Bit(reason.message()) + QLatin1Char(')');
    }
    if (!keptAs.empty()) {
        const QString where =
            QDir::toNativeSeparators(QFile::decodeName(QByteArray::fromStdString(keptAs)));
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += QString::fromStdString(texts.KeptAsText(where.toStdString()));
    }
    if (text.isEmpty())
        return text;
    return FileMessageText(outputName, text);
}

} // namespace varnel
