#include "platform/SdlRingDevice.h"

#include <SDL.h>

#include <cstdint>
#include <cstring>

namespace varnel {

namespace {

// Frames per callback: SDL wants a power of two. About 10 ms keeps the ring the latency.
// Drivers without a device clock (SDL's dummy and disk drivers) pace themselves by sleeping
// one buffer's length in whole milliseconds, so they run fast by the truncated fraction
// (5.5 % with 512 frames at 44.1 kHz); for them take the length up to 25 ms whose
// milliseconds truncate least (1024 frames at 44.1 kHz: under 1 %).
Uint16 CallbackFramesFor(int sampleRate, bool pacedByMilliseconds)
{
    const int target = sampleRate / 100;
    if (pacedByMilliseconds) {
        int best = 0;
        double bestError = 1.0;
        for (int frames = 64; frames <= 8192 && frames * 40 <= sampleRate; frames *= 2) {
            const int64_t scaled = static_cast<int64_t>(frames) * 1000;
            const double error =
                static_cast<double>(scaled % sampleRate) / static_cast<double>(scaled);
            if (frames * 200 >= sampleRate && error < bestError) {
                best = frames;
                bestError = error;
            }
        }
        if (best > 0)
            return static_cast<Uint16>(best);
    }
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
    const char* driver = SDL_GetCurrentAudioDriver();
    const bool pacedByMilliseconds = driver != nullptr && (std::strcmp(driver, "dummy") == 0 ||
                                                           std::strcmp(driver, "disk") == 0);
    want.samples = CallbackFramesFor(sampleRate, pacedByMilliseconds);
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
