#include "platform/StopSignals.h"

#include <csignal>

namespace varnel {

namespace {

std::atomic<bool> gStopRequested{false};
std::atomic<int> gStopSignal{0};

extern "C" void OnStopSignal(int signalNumber)
{
    int none = 0;
    gStopSignal.compare_exchange_strong(none, signalNumber);
    gStopRequested.store(true);
}

constexpr int kStopSignals[] = {
    SIGINT, SIGTERM,
#ifndef _WIN32
    SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU,
#endif
};

} // namespace

void InstallStopSignalHandlers()
{
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

} // namespace varnel
