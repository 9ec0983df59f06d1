#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace varnel {

namespace {

class SystemSteadyClock final : public Clock
{
public:
    uint64_t NowNs() const noexcept override
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
    }

    void SleepMs(uint32_t ms) noexcept override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

} // namespace

Clock& SteadyClock() noexcept
{
    static SystemSteadyClock clock;
    return clock;
}

uint32_t timeGetTime() noexcept
{
    return SteadyClock().Milliseconds();
}

ManualClock::ManualClock(uint64_t startMs) : mNowNs(startMs * 1000000u)
{
    mLog.reserve(65536);
}

uint64_t ManualClock::NowNs() const noexcept
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mNowNs;
}

void ManualClock::SleepMs(uint32_t ms) noexcept
{
    std::unique_lock<std::mutex> lock(mMutex);
    if (mLog.size() < mLog.capacity())
        mLog.push_back(ms);
    mNowNs += uint64_t{ms} * 1000000u;
    const int mine = ++mBegun;
    mChanged.notify_all();
    mChanged.wait(lock, [&] { return mFreeRunning || mReleased >= mine; });
    if (mReleased < mine)
        mReleased = mine;
    lock.unlock();
    if (mFreeRunning)
        std::this_thread::yield();
}

void ManualClock::AdvanceMs(uint32_t ms) noexcept
{
    std::lock_guard<std::mutex> lock(mMutex);
    mNowNs += uint64_t{ms} * 1000000u;
}

bool ManualClock::WaitForSleep(int count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mMutex);
    return mChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return mBegun >= count && mReleased < mBegun; });
}

void ManualClock::Release()
{
    std::lock_guard<std::mutex> lock(mMutex);
    mReleased = mBegun;
    mChanged.notify_all();
}

bool ManualClock::StepAndWait(int timeoutMs)
{
    int next = 0;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        next = mBegun + 1;
        mReleased = mBegun;
        mChanged.notify_all();
    }
    return WaitForSleep(next, timeoutMs);
}

void ManualClock::SetFreeRunning(bool on)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mFreeRunning = on;
    mChanged.notify_all();
}

int ManualClock::SleepsBegun() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mBegun;
}

std::vector<uint32_t> ManualClock::SleepLog() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mLog;
}

} // namespace varnel
