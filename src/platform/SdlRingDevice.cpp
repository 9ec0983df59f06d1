#include "platform/SdlRingDevice.h"

#include <SDL.h>

#include <cstring>

namespace varnel {

namespace {

// The power of two nearest to a hundredth of a second of frames: SDL wants a power of two.
Uint16 CallbackFramesFor(int sampleRate)
{
    const int target = sampleRate / 100;
    int frames = 64;
    while (frames < 8192 && frames * 2 - target < target - frames)
        frames *= 2;
    return static_cast<Uint16>(frames);
}

} // namespace

SdlRingDevice::SdlRingDevice() = default;

SdlRingDevice::~SdlRingDevice()
{
    ReleaseRing();
    if (mSubsystemUp)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

bool SdlRingDevice::Open()
{
    if (mSubsystemUp)
        return true;
    mSubsystemUp = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    return mSubsystemUp;
}

bool SdlRingDevice::OpenStream(int sampleRate, int /*bytes*/)
{
    if (!mSubsystemUp)
        return false;
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = sampleRate;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = CallbackFramesFor(sampleRate);
    want.callback = &SdlRingDevice::Callback;
    want.userdata = this;
    SDL_AudioSpec have;
    SDL_zero(have);
    // No changes allowed: SDL converts to whatever the device plays, so the callback always
    // sees the ring's own format.
    const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (id == 0)
        return false;
    mDeviceId = id;
    mCallbackFrames = have.samples;
    SDL_PauseAudioDevice(id, 0);
    return true;
}

void SdlRingDevice::CloseStream() noexcept
{
    if (mDeviceId != 0) {
        // Returns only once the callback has finished, so the ring may be freed afterwards.
        SDL_CloseAudioDevice(mDeviceId);
        mDeviceId = 0;
    }
}

void SdlRingDevice::Callback(void* self, uint8_t* stream, int length)
{
    static_cast<SdlRingDevice*>(self)->Fill(stream, length);
}

void SdlRingDevice::Fill(uint8_t* out, int length) noexcept
{
    const int ringBytes = RingBytes();
    if (!mPlaying.load(std::memory_order_acquire) || ringBytes == 0) {
        std::memset(out, 0, static_cast<size_t>(length));
        return;
    }
    AcquireWrites();
    const float gain = Gain();
    int cursor = mCursor.load(std::memory_order_relaxed);
    const uint8_t* ring = RingData();
    while (length > 0) {
        const int run = length < ringBytes - cursor ? length : ringBytes - cursor;
        ScaleSamples(ring + cursor, out, run, gain);
        out += run;
        length -= run;
        cursor += run;
        if (cursor == ringBytes)
            cursor = 0;
    }
    mCursor.store(cursor, std::memory_order_release);
}

} // namespace varnel
