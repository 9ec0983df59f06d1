#include "app/StopSignalWatch.h"

#include "app/Saveform.h"
#include "platform/StopSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

namespace varnel {

namespace {

constexpr int kPollMs = 200;

} // namespace

void EndForStopSignal(int exitCode)
{
    if (SaveFileForm)
        SaveFileForm->StopForEnd();
    QCoreApplication::exit(exitCode);
}

StopSignalWatch::StopSignalWatch(QObject* parent) : QObject(parent)
{
    const int descriptor = StopSignalDescriptor();
    if (descriptor >= 0) {
        // The descriptor stays readable once a signal came, so the watch fires again in every
        // event loop until the program's own has ended; a loop that ran before it (a message
        // box shown while the window first opens) cannot swallow the end.
        mNotifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
        connect(mNotifier, &QSocketNotifier::activated, this, [this] { Check(); });
    } else {
        mPoll = new QTimer(this);
        connect(mPoll, &QTimer::timeout, this, [this] { Check(); });
        mPoll->start(kPollMs);
    }
}

void StopSignalWatch::Check()
{
    if (StopRequested().load())
        EndForStopSignal(ExitCodeForSignal(StopSignalNumber()));
}

} // namespace varnel
