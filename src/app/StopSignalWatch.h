#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

namespace varnel {

// GUI thread. Ends the program as a stop signal (kill, a closed session, Ctrl-C) asks: a save
// that runs stops as its abort button stops it (a valid, shorter file where no file was; a file
// that was there kept as it was), then every event loop ends and the application's exec
// returns exitCode. Dialogs that wait for an answer end unanswered, which every command takes
// as "no".
void EndForStopSignal(int exitCode);

// Watches for the stop signals that InstallStopSignalHandlers turned into a flag and, when one
// has arrived, ends the program with EndForStopSignal (exit code 128 + the signal's number).
// Create it on the GUI thread after the application object.
class StopSignalWatch : public QObject
{
public:
    explicit StopSignalWatch(QObject* parent = nullptr);

private:
    void Check();

    QSocketNotifier* mNotifier = nullptr;
    QTimer* mPoll = nullptr; // where the platform gives no descriptor to watch
};

} // namespace varnel
