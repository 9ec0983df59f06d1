#pragma once

#include "platform/Clock.h"
#include "platform/SoundRingDevice.h"

#include <atomic>
#include <cstdint>

namespace varnel {

// A sound device without speakers: while playing, its cursor advances with the clock at the
// ring's sample rate, so playback positions, the maps and A-B repeat move as with sound.
// Used when no sound device can be opened, and with VARNEL_AUDIO=null.
class SilentRingDevice final : public SoundRingDevice
{
public:
    // GUI thread. The clock must outlive the device.
    explicit SilentRingDevice(const Clock& clock = SteadyClock());
    ~SilentRingDevice() override;

    const char* Name() const noexcept override { return "silent"; }
    // Playback thread; allocates nothing.
    int PlayCursor() const noexcept override;

protected:
    bool OpenStream(int sampleRate, int bytes) override;
    void CloseStream() noexcept override {}
    void OnPlay() noexcept override;
    void OnStop() noexcept override;

private:
    int CursorAt(uint64_t nowNs) const noexcept;

    const Clock& mClock;
    int64_t mRingFrames = 0;
    std::atomic<uint64_t> mStartNs{0};
    std::atomic<int64_t> mStartFrame{0};
};

} // namespace varnel
