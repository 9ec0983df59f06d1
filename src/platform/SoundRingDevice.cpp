#include "platform/SoundRingDevice.h"

#include <cmath>
#include <cstring>
#include <new>

namespace varnel {

float VolumeGain(int hundredthsDb) noexcept
{
    if (hundredthsDb >= kFullVolume)
        return 1.0f;
    if (hundredthsDb <= kSilentVolume)
        return 0.0f;
    return static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0));
}

void ScaleSamples(const uint8_t* src, uint8_t* dst, int bytes, float gain) noexcept
{
    if (gain == 1.0f) {
        if (dst != src)
            std::memmove(dst, src, static_cast<size_t>(bytes));
        return;
    }
    // Samples are little-endian on disk and in the ring whatever the host's byte order.
    for (int i = 0; i + 1 < bytes; i += 2) {
        const auto raw = static_cast<uint16_t>(src[i] | (src[i + 1] << 8));
        const auto sample = static_cast<int16_t>(raw);
        // gain <= 1, so the product stays inside the 16-bit range.
        const auto scaled = static_cast<int16_t>(static_cast<float>(sample) * gain);
        const auto out = static_cast<uint16_t>(scaled);
        dst[i] = static_cast<uint8_t>(out & 0xFF);
        dst[i + 1] = static_cast<uint8_t>(out >> 8);
    }
}

SoundRingDevice::~SoundRingDevice() = default;

bool SoundRingDevice::CreateRing(int sampleRate, int bytes)
{
    ReleaseRing();
    if (sampleRate <= 0 || bytes <= 0 || bytes % 4 != 0)
        return false;
    try {
        mRing.assign(static_cast<size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    mRingBytes = bytes;
    mSampleRate = sampleRate;
    mCursor.store(0, std::memory_order_relaxed);
    mPlaying.store(false, std::memory_order_release);
    SetVolume(kFullVolume);
    if (!OpenStream(sampleRate, bytes)) {
        mRing.clear();
        mRing.shrink_to_fit();
        mRingBytes = 0;
        mSampleRate = 0;
        return false;
    }
    return true;
}

void SoundRingDevice::ReleaseRing() noexcept
{
    if (mRingBytes == 0)
        return;
    CloseStream();
    mPlaying.store(false, std::memory_order_release);
    mRing.clear();
    mRing.shrink_to_fit();
    mRingBytes = 0;
    mSampleRate = 0;
    mCursor.store(0, std::memory_order_relaxed);
}

int SoundRingDevice::PlayCursor() const noexcept
{
    return mCursor.load(std::memory_order_acquire);
}

RingResult SoundRingDevice::Lock(int offset, int bytes, bool entire, RingRegions& regions) noexcept
{
    regions = RingRegions{};
    mLocks.fetch_add(1, std::memory_order_relaxed);
    if (mRingBytes == 0)
        return RingResult::Failed;
    if (TakeLoss())
        return RingResult::BufferLost;
    if (entire) {
        offset = 0;
        bytes = mRingBytes;
    }
    if (offset < 0 || offset >= mRingBytes || bytes <= 0 || bytes > mRingBytes)
        return RingResult::Failed;
    const int first = bytes < mRingBytes - offset ? bytes : mRingBytes - offset;
    regions.First = mRing.data() + offset;
    regions.FirstBytes = first;
    if (bytes > first) {
        regions.Second = mRing.data();
        regions.SecondBytes = bytes - first;
    }
    return RingResult::Ok;
}

RingResult SoundRingDevice::Unlock(const RingRegions& regions) noexcept
{
    if (mRingBytes == 0 || regions.First == nullptr)
        return RingResult::Failed;
    mPublished.fetch_add(1, std::memory_order_release);
    return RingResult::Ok;
}

RingResult SoundRingDevice::Restore() noexcept
{
    if (mRingBytes == 0)
        return RingResult::Failed;
    mRestores.fetch_add(1, std::memory_order_relaxed);
    return RingResult::Ok;
}

RingResult SoundRingDevice::Play() noexcept
{
    if (mRingBytes == 0)
        return RingResult::Failed;
    if (!mPlaying.load(std::memory_order_relaxed)) {
        OnPlay();
        // Release: a reader that sees the flag also sees everything written before Play.
        mPublished.fetch_add(1, std::memory_order_release);
        mPlaying.store(true, std::memory_order_release);
    }
    return RingResult::Ok;
}

RingResult SoundRingDevice::Stop() noexcept
{
    if (mRingBytes == 0)
        return RingResult::Failed;
    if (mPlaying.load(std::memory_order_relaxed)) {
        mPlaying.store(false, std::memory_order_release);
        OnStop();
    }
    return RingResult::Ok;
}

RingResult SoundRingDevice::SetVolume(int hundredthsDb) noexcept
{
    if (hundredthsDb > kFullVolume)
        hundredthsDb = kFullVolume;
    if (hundredthsDb < kSilentVolume)
        hundredthsDb = kSilentVolume;
    mVolume.store(hundredthsDb, std::memory_order_relaxed);
    mGain.store(VolumeGain(hundredthsDb), std::memory_order_relaxed);
    OnVolume();
    return mRingBytes == 0 ? RingResult::Failed : RingResult::Ok;
}

} // namespace varnel
