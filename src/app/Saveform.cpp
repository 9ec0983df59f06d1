#include "app/Saveform.h"

#include "app/DialogFrame.h"
#include "settings/FormLabels.h"
#include "settings/Langset.h"
#include "settings/MessageBox.h"

#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QTimer>

#include <climits>

namespace varnel {

TSaveFileForm* SaveFileForm = nullptr;

namespace {

constexpr unsigned long kClosePauseMs = 100; // the full bar stays in sight this long

} // namespace

TSaveFileForm::TSaveFileForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("SaveFileForm"));
    SetUpFixedDialog(*this, 347, 136, QStringLiteral("ファイルに保存"));

    FileNameLbl = new QLabel(QStringLiteral("FileName"), this);
    FileNameLbl->setObjectName(QStringLiteral("FileNameLbl"));
    FileNameLbl->setGeometry(16, 16, 313, 13);
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
    const uint64_t showing = mShowing;
    ThFileOut::Calls calls;
    calls.Setup = [this, showing](const std::string& name, int64_t total) {
        if (showing != mShowing || mState != State::Busy)
            return;
        // Files reach 4 GiB; the bar counts in int.
        mBarScale = total / INT_MAX + 1;
        ProgressBar1->setRange(0, ToBar(total));
        ProgressBar1->setValue(0);
        FileNameLbl->setText(QString::fromStdString(name));
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
        ShowMessage(mLastMessage);
    }
    mState = State::Idle;
    ProgressBar1->repaint();
    QThread::msleep(kClosePauseMs);
}

void TSaveFileForm::ExportDone(int message)
{
    FinishThread();
    mLastMessage = message;
    ShowMessage(message);
    done(1);
}

void TSaveFileForm::ShowMessage(int message)
{
    if (message == 0)
        return;
    ShowMessageBox(this, MessageKind::Warning,
                   QString::fromStdString(TLangSet().GetMsgText(message)));
}

} // namespace varnel
