#pragma once

#include "platform/SoundRingDevice.h"

#include <cstdint>

namespace varnel {

// The ring played through SDL2's audio: SDL's callback copies from the ring at the play
// cursor, applies the volume and advances the cursor. SDL's own buffer is kept at about 10 ms
// so that the ring length is the latency the user chose.
class SdlRingDevice final : public SoundRingDevice
{
public:
    SdlRingDevice();
    ~SdlRingDevice() override;

    // GUI thread. Starts SDL's audio subsystem; false when it has no working driver.
    bool Open();

    const char* Name() const noexcept override { return "SDL"; }

    // Any thread. Sample frames SDL asks for per callback, once a ring exists.
    int CallbackFrames() const noexcept { return mCallbackFrames; }

protected:
    // Opens the default output device for 16-bit stereo at the ring's rate (SDL converts when
    // the device differs) and starts its callback, which plays silence while stopped.
    bool OpenStream(int sampleRate, int bytes) override;
    void CloseStream() noexcept override;

private:
    static void Callback(void* self, uint8_t* stream, int length);
    void Fill(uint8_t* out, int length) noexcept;

    bool mSubsystemUp = false;
    uint32_t mDeviceId = 0;
    int mCallbackFrames = 0;
};

} // namespace varnel
