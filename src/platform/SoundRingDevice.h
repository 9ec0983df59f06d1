#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace varnel {

// What a ring operation reports. BufferLost asks the caller to Restore and lock again.
enum class RingResult
{
    Ok = 0,
    BufferLost,
    Failed,
};

// The one or two stretches of the ring that a Lock hands out: the first up to the end of the
// ring, the second (when the stretch wraps) from offset 0. Second is null when absent.
struct RingRegions
{
    uint8_t* First = nullptr;
    int FirstBytes = 0;
    uint8_t* Second = nullptr;
    int SecondBytes = 0;
};

// Volume in hundredths of a decibel: 0 is full, kSilentVolume and below are silence.
constexpr int kFullVolume = 0;
constexpr int kSilentVolume = -10000;

// Any thread; pure. The linear gain of a volume: 10^(v/2000), 1 at 0 and above, 0 at
// kSilentVolume and below.
float VolumeGain(int hundredthsDb) noexcept;

// Any thread; allocates nothing. Scales interleaved signed 16-bit little-endian samples by
// gain, truncating toward zero; a gain of 1 copies. dst may be src.
void ScaleSamples(const uint8_t* src, uint8_t* dst, int bytes, float gain) noexcept;

// A looping ring of 16-bit stereo frames that a sound device plays: a play cursor that
// advances in real time while playing and wraps to 0, Lock of one or two regions, Unlock,
// Play and Stop that keep the position, and a volume. The backends differ only in what moves
// the cursor: the SDL audio callback, the steady clock (the silent device), or the test.
//
// Threads: CreateRing and ReleaseRing on the owner's (GUI) thread while nothing plays; the
// other operations on one thread at a time (the playback thread while it runs). After
// CreateRing nothing allocates and nothing waits on a lock.
class SoundRingDevice
{
public:
    SoundRingDevice() = default;
    virtual ~SoundRingDevice();
    SoundRingDevice(const SoundRingDevice&) = delete;
    SoundRingDevice& operator=(const SoundRingDevice&) = delete;

    // GUI thread; allocates. A ring of exactly bytes bytes (a positive multiple of 4), zeroed,
    // stopped, cursor at 0, full volume, for 16-bit stereo at sampleRate. Replaces an earlier
    // ring. False when the backend cannot play that format or memory is short: no ring then.
    bool CreateRing(int sampleRate, int bytes);
    // GUI thread. Stops the backend and frees the ring; harmless without one.
    void ReleaseRing() noexcept;

    // Any thread.
    bool HasRing() const noexcept { return mRingBytes > 0; }
    int RingBytes() const noexcept { return mRingBytes; }
    int SampleRate() const noexcept { return mSampleRate; }
    bool IsPlaying() const noexcept { return mPlaying.load(std::memory_order_acquire); }
    int Volume() const noexcept { return mVolume.load(std::memory_order_relaxed); }
    // A short name for messages: "SDL", "silent" or "test".
    virtual const char* Name() const noexcept = 0;

    // Playback thread; allocates nothing. The byte offset being played now, a multiple of 4
    // below RingBytes(); 0 without a ring.
    virtual int PlayCursor() const noexcept;

    // Playback thread (GUI thread while playback is parked); allocates nothing. Write access
    // to bytes bytes from offset (both whole frames, 0 < bytes <= RingBytes()), or to the
    // whole ring when entire is set. Failed without a ring or for a stretch outside it.
    RingResult Lock(int offset, int bytes, bool entire, RingRegions& regions) noexcept;
    // Same thread as Lock. Hands the written regions back for playing.
    RingResult Unlock(const RingRegions& regions) noexcept;
    // Same thread as Lock. Makes a lost ring usable again; its contents are then whatever
    // they were and must be rewritten.
    RingResult Restore() noexcept;
    // Playback thread. Plays the ring in a loop from the current position.
    RingResult Play() noexcept;
    // Playback thread. Stops playing and keeps the position.
    RingResult Stop() noexcept;
    // Playback thread. Clamped to kSilentVolume..kFullVolume.
    RingResult SetVolume(int hundredthsDb) noexcept;

    // Any thread; counters for tests and diagnostics.
    int Locks() const noexcept { return mLocks.load(std::memory_order_relaxed); }
    int Restores() const noexcept { return mRestores.load(std::memory_order_relaxed); }

protected:
    // GUI thread. The backend's part of CreateRing, called once the ring memory exists.
    virtual bool OpenStream(int sampleRate, int bytes) = 0;
    // GUI thread. The backend's part of ReleaseRing; after it returns no other thread may
    // touch the ring memory.
    virtual void CloseStream() noexcept = 0;
    // Playback thread. Called by Play before and by Stop after the playing flag changes.
    virtual void OnPlay() noexcept {}
    virtual void OnStop() noexcept {}
    // Playback thread. Called by SetVolume once the new volume is in effect.
    virtual void OnVolume() noexcept {}
    // Playback thread. True when this lock must report a lost buffer.
    virtual bool TakeLoss() noexcept { return false; }

    // For backends that read the ring: pairs with Unlock so that bytes written before an
    // Unlock are seen by a reader that calls this first.
    void AcquireWrites() const noexcept { (void)mPublished.load(std::memory_order_acquire); }
    uint8_t* RingData() noexcept { return mRing.data(); }
    float Gain() const noexcept { return mGain.load(std::memory_order_relaxed); }

    // The play position in bytes. Backends whose cursor is moved by another thread store it
    // with release order after reading the bytes it passed.
    std::atomic<int> mCursor{0};
    std::atomic<bool> mPlaying{false};

private:
    std::vector<uint8_t> mRing;
    int mRingBytes = 0;
    int mSampleRate = 0;
    std::atomic<int> mVolume{kFullVolume};
    std::atomic<float> mGain{1.0f};
    std::atomic<uint32_t> mPublished{0};
    std::atomic<int> mLocks{0};
    std::atomic<int> mRestores{0};
};

} // namespace varnel
