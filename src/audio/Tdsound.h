#pragma once

#include "audio/SoundFormat.h"
#include "platform/Clock.h"
#include "platform/SoundRingDevice.h"

#include <atomic>
#include <memory>
#include <vector>

namespace varnel {

class SourceReader;
struct SoundInfo;
class TVocalFunc;
struct SoftCut;
class TWaveData;
class VisualFeed;

// The streaming sound output: one looping ring on a sound device, kept filled with filtered
// sound. Each Pump reads the stretch of the input that corresponds to the part of the ring
// played since the previous Pump, runs it through the stream processor, and writes it just
// behind the play cursor, where it is heard about one ring length later.
//
// Threads: OpenDevice, PrepareStream, ReleaseStream and Flush on the GUI thread while the
// playback thread is parked or not yet started; Play, Stop, Pump and the setters on the
// playback thread. Nothing here takes a lock. After PrepareStream nothing allocates.
//
// Without a working stream (no device, or set-up failed) every operation is harmless:
// Play, Stop and SetVolume report Failed, Pump returns 0, setters and Flush do nothing.
class TDsound
{
public:
    // GUI thread. The clock drives the silent device, when that is the one in use.
    explicit TDsound(const Clock& clock = SteadyClock());
    ~TDsound();
    TDsound(const TDsound&) = delete;
    TDsound& operator=(const TDsound&) = delete;

    // GUI thread. Opens the sound device: SDL2's default output, or the silent device when
    // VARNEL_AUDIO=null or SDL has no working audio, so playback still moves without
    // speakers. True when a device is open.
    bool OpenDevice();
    // GUI thread. Uses the given device instead (tests inject the test device). True when a
    // device was given.
    bool OpenDevice(std::unique_ptr<SoundRingDevice> device);

    // GUI thread, right after ReleaseStream. A ring of bufferMs milliseconds of the reader's
    // format (rounded down to whole 4-byte frames), filled with silence, stopped, at full
    // volume, and a stream processor whose block holds a whole ring. The write cursor starts
    // at 0. False, with no stream left, when the device cannot give the ring or the processor
    // cannot be set up. If the SDL device cannot play the format, the silent device takes over.
    bool PrepareStream(TWaveData& reader, int bufferMs, int fftSize, int overlap);
    // The same for a source's reader of any format (info: the source's): its sound goes
    // through the processor's float entry and reaches the ring as 16-bit samples, as a 16-bit
    // export of it rounds them (without dither).
    bool PrepareStream(SourceReader& reader, const SoundInfo& info, int bufferMs, int fftSize,
                       int overlap);
    // GUI thread. Frees the ring and the stream processor; the device stays open.
    void ReleaseStream() noexcept;

    // Playback thread. Starts or stops the ring; the position is kept across a stop.
    RingResult Play() noexcept;
    RingResult Stop() noexcept;

    // Playback thread, once per cycle; allocates nothing. Refills the part of the ring played
    // since the last call: frames written (silence included), 0 when nothing was due or the
    // ring cannot be locked (a lost ring is restored and locked once more). Where the reader
    // comes up short the rest of the region is silence, which does not pass the filter.
    int Pump() noexcept;

    // Any thread; allocates nothing. True once a pump found the reader short of the end of
    // its sound (the file was cut while playing) or failed to read: the ring holds silence
    // from there on. The window's timer reads it to stop playback and say so.
    bool ReadFault() const noexcept { return mReadFault.load(std::memory_order_relaxed); }
    // GUI thread while parked. Forgets a read fault, before playing on; PrepareStream does too.
    void ClearReadFault() noexcept { mReadFault.store(false, std::memory_order_relaxed); }

    // GUI thread while parked; allocates nothing. Clears the filter's history by running at
    // least one FFT length of silence through it in whole blocks (output discarded), then
    // silences the ring. The write cursor stays.
    void Flush() noexcept;

    // Playback thread; allocates nothing. Forwarded unchanged to the stream processor.
    void SetPanRange(float low, float high) noexcept;
    void SetFreqRange(float lowHz, float highHz) noexcept;
    void SetDepthRange(float low, float high) noexcept;
    void SetInverted(bool inverted) noexcept;
    void SetVisualFeed(bool on) noexcept;
    void SetSoftCut(const SoftCut& soft) noexcept;
    // Playback thread. Hundredths of a decibel: 0 full, -10000 silence.
    RingResult SetVolume(int hundredthsDb) noexcept;

    // GUI thread. Where the playing filter's analysis goes; kept for later streams.
    void SetVisualSink(VisualFeed* sink) noexcept;

    // GUI thread, or the owner of the stream at the time (tests read these between cycles).
    int BufferBytes() const noexcept { return mBufferBytes; }
    int WriteCursor() const noexcept { return mWriteCursor; }
    int FftSize() const noexcept { return mFftSize; }
    SoundRingDevice* Device() noexcept { return mDevice.get(); }
    TVocalFunc* VocalFunc() noexcept { return mVocalFunc.get(); }
    bool HasStream() const noexcept { return mVocalFunc != nullptr; }

private:
    bool PrepareRing(uint32_t rate, int bufferMs, int fftSize, int overlap, bool floatEntry);
    bool FillSilence() noexcept;
    // Reads into the processor from the source's reader and filters: frames read.
    int ReadAndFilterFloat(int frames) noexcept;
    RingResult LockRestoringOnce(int offset, int bytes, bool entire, RingRegions& regions) noexcept;
    void FillRegion(uint8_t* region, int bytes) noexcept;

    const Clock& mClock;
    std::unique_ptr<SoundRingDevice> mDevice;
    bool mSilentFallbackAllowed = false;
    int mBufferBytes = 0;
    TWaveData* mReader = nullptr;
    SourceReader* mSourceReader = nullptr;
    int64_t mSourceFrames = -1;
    SampleConversion mToRing;
    std::vector<int16_t> mRingWords; // one block of converted samples
    std::unique_ptr<TVocalFunc> mVocalFunc;
    int mFftSize = 0;
    int mWriteCursor = 0;
    VisualFeed* mVisualSink = nullptr;
    // Set by the playback thread, read by the GUI thread: lock-free, so the pump never waits.
    std::atomic<bool> mReadFault{false};
};

} // namespace varnel
