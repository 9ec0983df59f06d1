#include "platform/TestRingDevice.h"

namespace varnel {

TestRingDevice::TestRingDevice() = default;

TestRingDevice::~TestRingDevice()
{
    ReleaseRing();
}

bool TestRingDevice::OpenStream(int /*sampleRate*/, int bytes)
{
    if (mFailNextCreate) {
        mFailNextCreate = false;
        return false;
    }
    mScratch.assign(static_cast<size_t>(bytes), 0);
    mCreates.fetch_add(1);
    return true;
}

int TestRingDevice::PlayCursor() const noexcept
{
    if (mCursorReadHook)
        mCursorReadHook();
    return SoundRingDevice::PlayCursor();
}

bool TestRingDevice::AdvanceCursor(int bytes)
{
    const int ringBytes = RingBytes();
    if (!IsPlaying() || ringBytes == 0 || bytes < 0 || bytes % 4 != 0)
        return false;
    AcquireWrites();
    const float gain = Gain();
    int cursor = mCursor.load(std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(mHeardMutex);
    while (bytes > 0) {
        const int run = bytes < ringBytes - cursor ? bytes : ringBytes - cursor;
        ScaleSamples(RingData() + cursor, mScratch.data(), run, gain);
        mHeard.insert(mHeard.end(), mScratch.begin(), mScratch.begin() + run);
        bytes -= run;
        cursor += run;
        if (cursor == ringBytes)
            cursor = 0;
    }
    mCursor.store(cursor, std::memory_order_release);
    return true;
}

void TestRingDevice::LoseNextLocks(int count)
{
    mLosses.store(count);
}

bool TestRingDevice::TakeLoss() noexcept
{
    int pending = mLosses.load();
    while (pending > 0) {
        if (mLosses.compare_exchange_weak(pending, pending - 1))
            return true;
    }
    return false;
}

std::vector<uint8_t> TestRingDevice::Heard() const
{
    std::lock_guard<std::mutex> lock(mHeardMutex);
    return mHeard;
}

void TestRingDevice::ClearHeard()
{
    std::lock_guard<std::mutex> lock(mHeardMutex);
    mHeard.clear();
}

} // namespace varnel
