#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace varnel {

// Where the playback cycle and the silent sound device take their time from. The program uses
// the steady clock; tests use ManualClock so that cycle timing is deterministic.
class Clock
{
public:
    virtual ~Clock() = default;

    // Any thread; allocates nothing. Nanoseconds since an arbitrary fixed start.
    virtual uint64_t NowNs() const noexcept = 0;
    // The calling thread; allocates nothing. Blocks for about ms milliseconds.
    virtual void SleepMs(uint32_t ms) noexcept = 0;

    // Any thread. Milliseconds, unsigned 32-bit, wrapping after about 49.7 days: differences
    // of two readings stay right across the wrap.
    uint32_t Milliseconds() const noexcept { return static_cast<uint32_t>(NowNs() / 1000000u); }
};

// Any thread. The process-wide steady clock; sleeps really sleep.
Clock& SteadyClock() noexcept;

// Any thread. Milliseconds from the steady clock, unsigned 32-bit, wrapping.
uint32_t timeGetTime() noexcept;

// A clock that the test moves. A sleep advances the time by its length, is logged, and then
// blocks until the test lets it go with Step (one sleep per step), so a test can inspect the
// sleeping thread's state between its cycles. In free-running mode sleeps return at once.
class ManualClock final : public Clock
{
public:
    explicit ManualClock(uint64_t startMs = 0);
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    // Any thread.
    uint64_t NowNs() const noexcept override;
    // The sleeping thread; allocates nothing (the log is reserved up front).
    void SleepMs(uint32_t ms) noexcept override;

    // Test thread. Moves the time on, e.g. from a device hook to make a cycle's work "take"
    // a given time.
    void AdvanceMs(uint32_t ms) noexcept;
    // Test thread. Waits until at least count sleeps have begun and the latest one is
    // blocked. False on timeout.
    bool WaitForSleep(int count, int timeoutMs = 5000);
    // Test thread. Lets the blocked sleep return, without waiting for the next one.
    void Release();
    // Test thread. Releases the blocked sleep and waits until the next one blocks. False on
    // timeout.
    bool StepAndWait(int timeoutMs = 5000);
    // Test thread. Free-running: every pending and future sleep returns at once.
    void SetFreeRunning(bool on);

    // Test thread. Sleeps begun so far, and their lengths in order (the first 65536).
    int SleepsBegun() const;
    std::vector<uint32_t> SleepLog() const;

private:
    mutable std::mutex mMutex;
    std::condition_variable mChanged;
    uint64_t mNowNs = 0;
    int mBegun = 0;
    int mReleased = 0;
    bool mFreeRunning = false;
    std::vector<uint32_t> mLog;
};

} // namespace varnel
