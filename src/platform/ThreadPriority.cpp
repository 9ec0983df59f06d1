#include "platform/ThreadPriority.h"

#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__)
#include <cerrno>
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

} // namespace varnel
