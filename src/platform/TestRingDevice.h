#pragma once

#include "platform/SoundRingDevice.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace varnel {

// A ring whose play cursor the test moves by hand. It records every byte the cursor passes
// over, scaled by the volume as a speaker would get it, can make locks report a lost buffer,
// and counts the calls it gets.
class TestRingDevice final : public SoundRingDevice
{
public:
    TestRingDevice();
    ~TestRingDevice() override;

    const char* Name() const noexcept override { return "test"; }
    // Playback thread. Runs the cursor-read hook first, when one is set.
    int PlayCursor() const noexcept override;

    // Test thread, while the playback thread does not touch the ring (parked, or in a
    // held sleep). Moves the cursor on by bytes (whole frames), recording what it passes.
    // False, and nothing moves, when the ring is stopped or absent.
    bool AdvanceCursor(int bytes);
    // Test thread. The next count locks report a lost buffer.
    void LoseNextLocks(int count);
    // Test thread, before CreateRing. Makes the next CreateRing fail.
    void FailNextCreate() { mFailNextCreate = true; }
    // Test thread, set-up only. Called at every PlayCursor, on the playback thread: lets a
    // test make the cycle's work take fake time.
    void SetCursorReadHook(std::function<void()> hook) { mCursorReadHook = std::move(hook); }
    // Test thread, set-up only. Called on the playback thread at every SetVolume.
    void SetVolumeHook(std::function<void()> hook) { mVolumeHook = std::move(hook); }

    // Test thread, while nothing plays.
    std::vector<uint8_t> Heard() const;
    void ClearHeard();

    // Any thread.
    int PlayCalls() const noexcept { return mPlayCalls.load(); }
    int StopCalls() const noexcept { return mStopCalls.load(); }
    int Creates() const noexcept { return mCreates.load(); }

protected:
    bool OpenStream(int sampleRate, int bytes) override;
    void CloseStream() noexcept override {}
    void OnPlay() noexcept override { mPlayCalls.fetch_add(1); }
    void OnStop() noexcept override { mStopCalls.fetch_add(1); }
    bool TakeLoss() noexcept override;
    void OnVolume() noexcept override
    {
        if (mVolumeHook)
            mVolumeHook();
    }

private:
    mutable std::mutex mHeardMutex;
    std::vector<uint8_t> mHeard;
    std::vector<uint8_t> mScratch;
    std::function<void()> mCursorReadHook;
    std::function<void()> mVolumeHook;
    std::atomic<int> mLosses{0};
    std::atomic<int> mPlayCalls{0};
    std::atomic<int> mStopCalls{0};
    std::atomic<int> mCreates{0};
    bool mFailNextCreate = false;
};

} // namespace varnel
