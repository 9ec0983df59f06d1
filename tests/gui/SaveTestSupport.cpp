#include "SaveTestSupport.h"

#include <cmath>
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

std::vector<int16_t> MixLike(int frames, int rate)
{
    std::vector<int16_t> s(static_cast<size_t>(frames) * 2);
    uint32_t noise = 12345;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double centre =
            6000 * std::sin(2 * M_PI * 220 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 0.7 * t));
        const double left = 4000 * std::sin(2 * M_PI * 1234.5 * t);
        const double right = 3000 * std::sin(2 * M_PI * 3100 * t + 0.3);
        const double wide = 2500 * std::sin(2 * M_PI * 660 * t);
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 16) - 32768.0) * 0.03;
        s[2 * static_cast<size_t>(i)] = static_cast<int16_t>(centre + left + wide + hiss);
        s[2 * static_cast<size_t>(i) + 1] =
            static_cast<int16_t>(centre + 0.2 * left + right - wide - hiss);
    }
    return s;
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
