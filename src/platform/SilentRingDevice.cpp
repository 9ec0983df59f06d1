#include "platform/SilentRingDevice.h"

namespace varnel {

SilentRingDevice::SilentRingDevice(const Clock& clock) : mClock(clock) {}

SilentRingDevice::~SilentRingDevice()
{
    ReleaseRing();
}

bool SilentRingDevice::OpenStream(int /*sampleRate*/, int bytes)
{
    mRingFrames = bytes / 4;
    return true;
}

int SilentRingDevice::CursorAt(uint64_t nowNs) const noexcept
{
    if (mRingFrames <= 0)
        return 0;
    const uint64_t start = mStartNs.load(std::memory_order_relaxed);
    // Whole microseconds keep the product below 2^63 for years of play at any rate.
    const uint64_t elapsedUs = nowNs > start ? (nowNs - start) / 1000u : 0;
    const auto frames =
        static_cast<int64_t>(elapsedUs * static_cast<uint64_t>(SampleRate()) / 1000000u);
    const int64_t position = (mStartFrame.load(std::memory_order_relaxed) + frames) % mRingFrames;
    return static_cast<int>(position * 4);
}

int SilentRingDevice::PlayCursor() const noexcept
{
    if (!mPlaying.load(std::memory_order_acquire))
        return mCursor.load(std::memory_order_acquire);
    return CursorAt(mClock.NowNs());
}

void SilentRingDevice::OnPlay() noexcept
{
    mStartFrame.store(mCursor.load(std::memory_order_relaxed) / 4, std::memory_order_relaxed);
    mStartNs.store(mClock.NowNs(), std::memory_order_relaxed);
}

void SilentRingDevice::OnStop() noexcept
{
    mCursor.store(CursorAt(mClock.NowNs()), std::memory_order_release);
}

} // namespace varnel
