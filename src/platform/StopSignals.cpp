#include "platform/StopSignals.h"

#include <csignal>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace varnel {

namespace {

std::atomic<bool> gStopRequested{false};
std::atomic<int> gStopSignal{0};
// The self-pipe: the handler writes to [1], a watcher sees [0] become readable.
std::atomic<int> gWakeRead{-1};
std::atomic<int> gWakeWrite{-1};

extern "C" void OnStopSignal(int signalNumber)
{
    int none = 0;
    gStopSignal.compare_exchange_strong(none, signalNumber);
    gStopRequested.store(true);
#ifndef _WIN32
    const int fd = gWakeWrite.load();
    if (fd >= 0) {
        // write is safe in a handler; errno is the interrupted code's.
        const int saved = errno;
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
        errno = saved;
    }
#endif
}

#ifndef _WIN32
// A pipe whose ends are not inherited by child programs and never block (a full pipe is
// readable already).
void MakeWakePipe()
{
    if (gWakeRead.load() >= 0)
        return;
    int fds[2];
    if (pipe(fds) != 0)
        return;
    for (const int fd : fds) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    gWakeRead.store(fds[0]);
    gWakeWrite.store(fds[1]);
}
#endif

constexpr int kStopSignals[] = {
    SIGINT, SIGTERM,
#ifndef _WIN32
    SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU,
#endif
};

} // namespace

void InstallStopSignalHandlers()
{
#ifndef _WIN32
    MakeWakePipe();
    // A write past the file size limit (ulimit -f) then fails with "File too large" and is
    // reported like a full disk, instead of ending the program with a hidden temporary left.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    for (const int s : kStopSignals) {
#ifdef _WIN32
        std::signal(s, OnStopSignal);
#else
        struct sigaction old = {};
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        // Reads and writes under way finish or fail as usual; the flag is checked after them.
        action.sa_flags = SA_RESTART;
        sigaction(s, &action, nullptr);
#endif
    }
}

const std::atomic<bool>& StopRequested() noexcept
{
    return gStopRequested;
}

int StopSignalNumber() noexcept
{
    return gStopSignal.load();
}

int StopSignalDescriptor() noexcept
{
    return gWakeRead.load();
}

} // namespace varnel
