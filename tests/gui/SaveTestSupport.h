#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnel::test {

// Ends the test program with a message when it is not disarmed (destroyed) in time, so a
// hang fails the run instead of blocking it.
class Watchdog
{
public:
    explicit Watchdog(std::chrono::seconds limit, std::string what);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex mLock;
    std::condition_variable mDisarmed;
    bool mDone = false;
    std::thread mThread;
};

// GUI thread. Polls every few milliseconds (from the event loop, so also inside a modal
// dialog's) until test(), then runs act() once. The poll stops with the returned object.
class WhenReady
{
public:
    WhenReady(std::function<bool()> test, std::function<void()> act);
    ~WhenReady();
    WhenReady(const WhenReady&) = delete;
    WhenReady& operator=(const WhenReady&) = delete;
    bool Fired() const { return mFired; }

private:
    QTimer mTimer;
    bool mFired = false;
};

// Runs `varnel-cli ARGS` (each argument quoted), output to /dev/null; its exit code.
int RunCli(const std::vector<std::string>& args);

// GUI thread. The active modal widget when it is a T, else null.
template <class T>
T* ActiveModal()
{
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

} // namespace varnel::test
