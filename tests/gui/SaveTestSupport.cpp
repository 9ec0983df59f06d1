#include "SaveTestSupport.h"

#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>

namespace varnel::test {

Watchdog::Watchdog(std::chrono::seconds limit, std::string what)
{
    mThread = std::thread([this, limit, what = std::move(what)] {
        std::unique_lock<std::mutex> lock(mLock);
        if (!mDisarmed.wait_for(lock, limit, [this] { return mDone; })) {
            std::fprintf(stderr, "watchdog: %s did not finish within %lld s\n", what.c_str(),
                         static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::abort();
        }
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> hold(mLock);
        mDone = true;
    }
    mDisarmed.notify_all();
    mThread.join();
}

int RunCli(const std::vector<std::string>& args)
{
    std::string command = "'" VARNEL_CLI_PATH "'";
    for (const std::string& a : args) {
        std::string quoted = "'";
        for (const char c : a)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += " " + quoted + "'";
    }
    command += " --quiet > /dev/null 2>&1 < /dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

WhenReady::WhenReady(std::function<bool()> test, std::function<void()> act)
{
    mTimer.setInterval(2);
    QObject::connect(&mTimer, &QTimer::timeout,
                     [this, test = std::move(test), act = std::move(act)] {
                         if (mFired || !test())
                             return;
                         mFired = true;
                         mTimer.stop();
                         act();
                     });
    mTimer.start();
}

WhenReady::~WhenReady()
{
    mTimer.stop();
}

} // namespace varnel::test
