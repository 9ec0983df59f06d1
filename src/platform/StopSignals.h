#pragma once

#include <atomic>

namespace varnel {

// The signals that ask a program to stop (Ctrl-C, kill, a closed terminal, Ctrl-\, a closed
// pipe, a spent CPU limit) turned into a flag, so long work can stop at its next check and
// leave its files in order instead of dying half-way.

// Main thread, once, before worker threads start. Catches SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE and SIGXCPU (those the platform has); a signal that was ignored when the program
// started stays ignored, as a shell's "nohup" or "trap '' HUP" asked. Ignores SIGXFSZ, so that a
// write past the file size limit fails like a write to a full disk.
void InstallStopSignalHandlers();

// Any thread; allocates nothing. Set once a stop signal has arrived.
const std::atomic<bool>& StopRequested() noexcept;

// Any thread. The first stop signal that arrived, 0 when none.
int StopSignalNumber() noexcept;

// Any thread. A descriptor that becomes readable when a stop signal arrives, for an event
// loop to watch instead of polling the flag (it stays readable; nothing needs to be read);
// -1 before InstallStopSignalHandlers and where the platform has none (Windows).
int StopSignalDescriptor() noexcept;

// Any thread; pure. The exit status a shell reports for a program ended by that signal:
// 128 + its number (SIGINT 130, SIGTERM 143, SIGHUP 129).
constexpr int ExitCodeForSignal(int signalNumber) noexcept
{
    return 128 + signalNumber;
}

} // namespace varnel
