#include "platform/ThreadPriority.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__)
#include <cerrno>
#include <ctime>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace varnel {

bool RaiseCurrentThreadPriority() noexcept
{
#if defined(_WIN32)
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL) != 0;
#elif defined(__linux__)
    // On Linux a thread's nice value is its own; one step lower is one step more priority.
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, tid);
    if (nice == -1 && errno != 0)
        return false;
    return setpriority(PRIO_PROCESS, tid, nice - 1) == 0;
#else
    return false;
#endif
}

unsigned long long CurrentThreadCpuNs() noexcept
{
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) * 100ull; // 100 ns units
#elif defined(__linux__)
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0)
        return 0;
    return static_cast<unsigned long long>(now.tv_sec) * 1000000000ull +
           static_cast<unsigned long long>(now.tv_nsec);
#else
    return 0;
#endif
}

} // namespace varnel
