#pragma once

#include "app/ElidedLabel.h"
#include "app/Thfout.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

class QLabel;
class QProgressBar;
class QPushButton;

namespace varnel {

// The save progress dialog: shown modally while the export thread of one save runs, with the
// output's name, a progress bar and the abort button. Every showing starts exactly one export
// thread. Closing it in any way (the abort button, the window's close button, Escape) stops
// the thread after its current block and waits for it; the part written stays in the file.
//
// The dialog is idle, busy (a thread runs) or cancelled (stopping one); calls from a thread
// of an earlier showing, or arriving after a cancel, are dropped.
class TSaveFileForm : public QDialog
{
    Q_OBJECT

public:
    // GUI thread. Builds the dialog with its controls and texts.
    explicit TSaveFileForm(QWidget* parent = nullptr);
    // GUI thread. Stops a thread that still runs.
    ~TSaveFileForm() override;

    // GUI thread. What the next showing exports; its files stay untouched by anyone else
    // until the dialog has closed.
    void SetExport(ExportWork work);

    // GUI thread. How the last showing's export ended: the message id (0, 5, 7 or 8), whether
    // it was aborted, and the sample bytes written.
    int LastMessage() const noexcept { return mLastMessage; }
    bool LastAborted() const noexcept { return mLastAborted; }
    int64_t LastWritten() const noexcept { return mLastWritten; }
    // GUI thread. True when the last showing wrote its whole stretch.
    bool LastComplete() const noexcept { return mLastMessage == 0 && !mLastAborted; }

    // Handlers.
    void FormActivate();  // starts the export thread, once per showing
    void AbortBtnClick(); // ends the dialog with result 1
    void FormClose();     // stops and frees the export thread, then pauses 100 ms
    void ExportDone(int message);

    // GUI thread. The program is ending (a stop signal): a running export stops as the abort
    // button stops it, and what it reports goes to standard error instead of a message box,
    // which nobody may be there to answer. Also stops an export whose showing's event loop
    // was ended from outside.
    void StopForEnd();
    // GUI thread, from exit() (the toolkit ends the program so when the display's connection
    // breaks: the X server died with the session, or the window was killed there). A running
    // export stops as an abort stops it and settles its files before the program goes; what
    // it reports goes to standard error. Touches no widget.
    void EndForExit();

    ElidedLabel* FileNameLbl;
    QProgressBar* ProgressBar1;
    QPushButton* AbortBtn;
    std::unique_ptr<ThFileOut> ExportThread;

    // GUI thread. Every way of closing the dialog goes through here (FormClose first).
    void done(int result) override;
    // GUI thread. The window's close button and Escape work as the abort button.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    enum class State
    {
        Idle,
        Busy,
        Cancelled,
    };

    // GUI thread. Waits for the thread, takes its results and frees it.
    void FinishThread();
    // GUI thread. Reports how the export ended, when there is something to say.
    void ShowOutcome();
    int ToBar(int64_t bytes) const noexcept;

    State mState = State::Idle;
    uint64_t mShowing = 0; // counts showings; a thread's calls carry the one they belong to
    bool mStartedThisShowing = false;
    ExportWork mWork;
    int64_t mBarScale = 1; // bytes per progress bar step; the bar counts in int
    int mLastMessage = 0;
    bool mLastAborted = false;
    int64_t mLastWritten = 0;
    ExportOutcome mLastOutcome;
    bool mEnding = false; // reports go to standard error
};

// GUI thread. What the window says about a save's output: the output's file name in double
// quotes and a line feed (as every file message), the message's text with the system's reason
// in brackets when it gave one, and where the written file is when it could not take its
// name. kMsgFileExists here is a file that appeared while saving, with its own text (the
// question is asked before). Empty when there is nothing to say.
QString SaveMessageText(const QString& outputName, int message, std::error_code reason = {},
                        const std::string& keptAs = {});

// Created at start-up; the save command shows it.
extern TSaveFileForm* SaveFileForm;

// GUI thread. Creates AbSaveForm and SaveFileForm where start-up has not (a window made
// without the program's start-up, as in tests); they live until the program ends.
void EnsureSaveForms();

} // namespace varnel
