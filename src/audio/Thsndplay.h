#pragma once

#include "dsp/FilterParams.h"
#include "platform/Clock.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace varnel {

class SourceReader;
class TDsound;
class TWaveData;

// The playback thread. Every 30 ms (start to start) it applies what the GUI thread posted into
// its eight mailboxes, in the order seek, pan, frequency, depth, invert, soft cut, visual,
// volume, and
// then tops up the sound ring with TDsound::Pump. A mailbox is a pending flag and its payload
// under a lock of its own: the GUI side waits for the lock only to store; the thread only
// tries it and leaves a busy mailbox pending until its next cycle, so the GUI never holds up
// the sound. The thread's cycle allocates nothing and waits on no lock.
//
// Pause protocol: RequestPause returns once the thread has stopped the ring and parked;
// Resume wakes it (the first Resume starts it). While the thread is parked or not started the
// GUI thread has sole use of the TDsound and the reader; while it runs they belong to the
// thread, except the reader's TellFrame.
class ThSoundPlay
{
public:
    // GUI thread. Created parked and never started: nothing runs until the first Resume.
    // sound, reader and clock must outlive the thread.
    ThSoundPlay(TDsound& sound, TWaveData& reader, Clock& clock = SteadyClock());
    // The same over a source's reader (a stream that TDsound plays from such a reader).
    ThSoundPlay(TDsound& sound, SourceReader& reader, Clock& clock = SteadyClock());
    // GUI thread, with playback paused or never started. Ends the thread: a parked thread is
    // woken, leaves its loop and stops the ring; a thread that never ran ends without calling
    // Play or Stop.
    ~ThSoundPlay();
    ThSoundPlay(const ThSoundPlay&) = delete;
    ThSoundPlay& operator=(const ThSoundPlay&) = delete;

    // GUI thread, while parked or before the first Resume. Half the sample rate, for the
    // overload test.
    void SetHalfRate(int halfRate) noexcept
    {
        mHalfRate.store(halfRate, std::memory_order_relaxed);
    }

    // GUI thread, any time (also while parked); waits for the mailbox's lock only to store.
    // A post replaces a value still pending, so only the latest of each kind is applied, at
    // the thread's next cycle before its pump.
    void PostSeek(int64_t frame);
    void PostPanRange(float low, float high);
    void PostFreqRange(float lowHz, float highHz);
    void PostDepthRange(float low, float high);
    void PostInverted(bool inverted);
    // The soft cut's five values travel as one, so a frame never sees half a change.
    void PostSoftCut(const SoftCut& soft);
    // The pan, frequency and depth ranges, the invert flag and the soft cut of an area,
    // posted in that order into their five mailboxes.
    void PostArea(const FilterArea& area);
    void PostVisualFeed(bool on);
    void PostVolume(int hundredthsDb);

    // GUI thread. Asks the running thread to pause and returns once it has stopped the ring
    // and parked, which it does at the end of its current cycle (after the pump and the
    // sleep). Returns at once when the thread is parked already or has never started.
    void RequestPause();
    // GUI thread. Wakes the parked thread, which restarts the ring and carries on with a cycle
    // that applies the pending mailboxes first; the first call starts the thread. False only
    // when the system cannot create a thread.
    bool Resume();

    // Any thread. True when the last cycle's work took more than twice as long as the sound
    // it wrote lasts (frames * 1000 < halfRate * elapsed ms).
    bool Overloaded() const noexcept { return mOverloaded.load(std::memory_order_relaxed); }
    // Any thread. Cycles run so far.
    int64_t Cycles() const noexcept { return mCycles.load(std::memory_order_relaxed); }
    // Any thread. CPU time the playback thread has used so far, in nanoseconds, as of the end
    // of its last cycle (0 where the system cannot tell).
    uint64_t CpuTimeNs() const noexcept { return mCpuTimeNs.load(std::memory_order_relaxed); }
    // GUI thread. Whether the thread has parked after a RequestPause and not been woken.
    bool IsParked() const;
    // GUI thread. Whether the thread has been started.
    bool IsStarted() const;

private:
    // Tests reach the mailboxes' locks through it, to hold one busy across a cycle.
    friend struct ThSoundPlayTestAccess;

    struct Range
    {
        float Low = 0.0f;
        float High = 0.0f;
    };

    template <typename Payload>
    struct Box
    {
        std::mutex Lock;
        bool Pending = false;
        Payload Value{};
    };

    template <typename Payload>
    static void Post(Box<Payload>& box, const Payload& value);
    template <typename Payload, typename Apply>
    static void TryApply(Box<Payload>& box, Apply apply) noexcept;

    void Execute() noexcept;
    void ApplyMailboxes() noexcept;
    // Parks until woken; false when woken to terminate.
    bool Park();

    TDsound& mSound;
    TWaveData* mReader = nullptr; // one of the two
    SourceReader* mSourceReader = nullptr;
    Clock& mClock;

    Box<int64_t> mSeekBox;
    Box<Range> mPanBox;
    Box<Range> mFreqBox;
    Box<Range> mDepthBox;
    Box<bool> mInvertBox;
    Box<SoftCut> mSoftBox;
    Box<bool> mVisualBox;
    Box<int> mVolumeBox;

    std::atomic<int> mHalfRate{22050};
    std::atomic<bool> mOverloaded{false};
    std::atomic<int64_t> mCycles{0};
    std::atomic<uint64_t> mCpuTimeNs{0};
    std::atomic<bool> mPauseRequested{false};
    std::atomic<bool> mTerminate{false};

    // Park state, under mParkMutex. mWakeGeneration counts wake-ups, so a wake that comes
    // before the thread has begun to wait is not lost.
    mutable std::mutex mParkMutex;
    std::condition_variable mParkChanged;
    bool mStarted = false;
    bool mParked = false;
    bool mExited = false;
    uint64_t mWakeGeneration = 0;

    std::thread mThread;
};

} // namespace varnel
