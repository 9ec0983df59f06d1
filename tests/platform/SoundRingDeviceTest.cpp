#include "platform/Clock.h"
#include "platform/SdlRingDevice.h"
#include "platform/SilentRingDevice.h"
#include "platform/TestRingDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace varnel {
namespace {

std::vector<uint8_t> Samples16(const std::vector<int16_t>& samples)
{
    std::vector<uint8_t> bytes(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto u = static_cast<uint16_t>(samples[i]);
        bytes[2 * i] = static_cast<uint8_t>(u & 0xFF);
        bytes[2 * i + 1] = static_cast<uint8_t>(u >> 8);
    }
    return bytes;
}

// Writes 0, 1, 2, ... (mod 256) into every byte of the ring, through a whole-ring lock.
void FillRamp(SoundRingDevice& device)
{
    RingRegions regions;
    ASSERT_EQ(device.Lock(0, 0, true, regions), RingResult::Ok);
    for (int i = 0; i < regions.FirstBytes; ++i)
        regions.First[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(device.Unlock(regions), RingResult::Ok);
}

TEST(SoundRingDevice, CreateGivesExactZeroedStoppedRing)
{
    TestRingDevice device;
    ASSERT_TRUE(device.CreateRing(11025, 4408));
    EXPECT_EQ(device.RingBytes(), 4408);
    EXPECT_EQ(device.PlayCursor(), 0);
    EXPECT_FALSE(device.IsPlaying());
    RingRegions regions;
    ASSERT_EQ(device.Lock(0, 0, true, regions), RingResult::Ok);
    ASSERT_EQ(regions.FirstBytes, 4408);
    EXPECT_EQ(regions.Second, nullptr);
    for (int i = 0; i < regions.FirstBytes; ++i)
        ASSERT_EQ(regions.First[i], 0) << i;

    // Lengths that are not whole frames, and empty rings, are refused and leave no ring.
    for (int bytes : {4410, 0, -4}) {
        EXPECT_FALSE(device.CreateRing(11025, bytes)) << bytes;
        EXPECT_FALSE(device.HasRing()) << bytes;
    }
}

TEST(SoundRingDevice, LockSplitsAtTheEndOfTheRing)
{
    struct Case
    {
        int Offset, Bytes;
        RingResult Result;
        int First, Second;
    };
    const Case cases[] = {
        {0, 100, RingResult::Ok, 100, 0},     {300, 100, RingResult::Ok, 100, 0},
        {300, 200, RingResult::Ok, 100, 100}, {396, 400, RingResult::Ok, 4, 396},
        {0, 400, RingResult::Ok, 400, 0},     {400, 4, RingResult::Failed, 0, 0},
        {-4, 4, RingResult::Failed, 0, 0},    {0, 0, RingResult::Failed, 0, 0},
        {0, 404, RingResult::Failed, 0, 0},
    };
    TestRingDevice device;
    ASSERT_TRUE(device.CreateRing(44100, 400));
    RingRegions whole;
    ASSERT_EQ(device.Lock(0, 0, true, whole), RingResult::Ok);
    uint8_t* const base = whole.First;
    for (const Case& c : cases) {
        RingRegions regions;
        EXPECT_EQ(device.Lock(c.Offset, c.Bytes, false, regions), c.Result) << c.Offset;
        EXPECT_EQ(regions.FirstBytes, c.First) << c.Offset;
        EXPECT_EQ(regions.SecondBytes, c.Second) << c.Offset;
        if (c.Result == RingResult::Ok) {
            EXPECT_EQ(regions.First, base + c.Offset);
        }
        EXPECT_EQ(regions.Second, c.Second > 0 ? base : nullptr);
    }
}

TEST(SoundRingDevice, WithoutRingEverythingFails)
{
    TestRingDevice device;
    RingRegions regions;
    EXPECT_EQ(device.Lock(0, 4, false, regions), RingResult::Failed);
    EXPECT_EQ(device.Play(), RingResult::Failed);
    EXPECT_EQ(device.Stop(), RingResult::Failed);
    EXPECT_EQ(device.Restore(), RingResult::Failed);
    EXPECT_EQ(device.PlayCursor(), 0);
    EXPECT_FALSE(device.AdvanceCursor(4));
}

TEST(SoundRingDevice, VolumeGainIsTenToTheVolumeOver2000)
{
    struct Case
    {
        int Volume;
        float Gain;
    };
    const Case cases[] = {{0, 1.0f},           {250, 1.0f},    {-2000, 0.1f}, {-600, 0.5011872f},
                          {-4472, 0.0058076f}, {-10000, 0.0f}, {-20000, 0.0f}};
    for (const Case& c : cases)
        // Single-precision rounding of the power, nothing more.
        EXPECT_NEAR(VolumeGain(c.Volume), c.Gain, 1e-5f) << c.Volume;
}

TEST(SoundRingDevice, ScaleTruncatesTowardZeroAndCopiesAtFullGain)
{
    const std::vector<uint8_t> in = Samples16({32767, -32768, -3, 3, 1000, 0});
    std::vector<uint8_t> out(in.size(), 0xEE);
    ScaleSamples(in.data(), out.data(), static_cast<int>(in.size()), 0.5f);
    EXPECT_EQ(out, Samples16({16383, -16384, -1, 1, 500, 0}));
    ScaleSamples(in.data(), out.data(), static_cast<int>(in.size()), 1.0f);
    EXPECT_EQ(out, in);
    ScaleSamples(in.data(), out.data(), static_cast<int>(in.size()), 0.0f);
    EXPECT_EQ(out, std::vector<uint8_t>(in.size(), 0));
}

TEST(TestRingDevice, RecordsWhatTheCursorPassesInOrderAcrossTheWrap)
{
    TestRingDevice device;
    ASSERT_TRUE(device.CreateRing(44100, 40));
    FillRamp(device);
    EXPECT_FALSE(device.AdvanceCursor(8)) << "a stopped ring does not move";
    ASSERT_EQ(device.Play(), RingResult::Ok);
    ASSERT_TRUE(device.AdvanceCursor(32));
    ASSERT_TRUE(device.AdvanceCursor(16));
    EXPECT_EQ(device.PlayCursor(), 8);
    std::vector<uint8_t> expected;
    for (int i = 0; i < 48; ++i)
        expected.push_back(static_cast<uint8_t>(i % 40));
    EXPECT_EQ(device.Heard(), expected);
}

TEST(TestRingDevice, HeardSoundCarriesTheVolume)
{
    TestRingDevice device;
    ASSERT_TRUE(device.CreateRing(44100, 8));
    RingRegions regions;
    ASSERT_EQ(device.Lock(0, 8, false, regions), RingResult::Ok);
    const std::vector<uint8_t> loud = Samples16({20000, -20000, 1000, 7});
    std::memcpy(regions.First, loud.data(), loud.size());
    device.Unlock(regions);
    device.SetVolume(-2000);
    EXPECT_EQ(device.Volume(), -2000);
    device.Play();
    device.AdvanceCursor(8);
    device.SetVolume(kSilentVolume - 5);
    EXPECT_EQ(device.Volume(), kSilentVolume);
    device.AdvanceCursor(8);
    // The float nearest 0.1 is a hair above it, so these products truncate to the tenth.
    std::vector<uint8_t> expected = Samples16({2000, -2000, 100, 0});
    expected.resize(16, 0);
    EXPECT_EQ(device.Heard(), expected);
}

TEST(SilentRingDevice, CursorFollowsTheClockAndKeepsItsPlaceWhenStopped)
{
    ManualClock clock(1000);
    SilentRingDevice device(clock);
    ASSERT_TRUE(device.CreateRing(44100, 35280)); // 200 ms
    clock.AdvanceMs(50);
    EXPECT_EQ(device.PlayCursor(), 0) << "a stopped ring does not move";
    device.Play();
    clock.AdvanceMs(30);
    EXPECT_EQ(device.PlayCursor(), 1323 * 4);
    clock.AdvanceMs(200); // one whole ring later: same place
    EXPECT_EQ(device.PlayCursor(), 1323 * 4);
    device.Stop();
    clock.AdvanceMs(500);
    EXPECT_EQ(device.PlayCursor(), 1323 * 4);
    device.Play();
    clock.AdvanceMs(10);
    EXPECT_EQ(device.PlayCursor(), (1323 + 441) * 4);
}

// Sums the cursor's movement over about two seconds of real time, polling often enough that
// it never moves a whole ring between two looks, and returns frames per second.
double MeasuredFramesPerSecond(SoundRingDevice& device)
{
    const int ringBytes = device.RingBytes();
    const auto start = std::chrono::steady_clock::now();
    int last = device.PlayCursor();
    int64_t moved = 0;
    auto now = start;
    while (now - start < std::chrono::seconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const int cursor = device.PlayCursor();
        moved += (cursor - last + ringBytes) % ringBytes;
        last = cursor;
        now = std::chrono::steady_clock::now();
    }
    const double seconds = std::chrono::duration<double>(now - start).count();
    return static_cast<double>(moved / 4) / seconds;
}

TEST(SilentRingDevice, AdvancesAtTheRealRate)
{
    SilentRingDevice device;
    ASSERT_TRUE(device.CreateRing(44100, 176400)); // 1000 ms
    device.Play();
    // The cursor is computed from the same steady clock the test reads; 5 % is the bound
    // the device promises, far above the few polls' worth of edge error.
    EXPECT_NEAR(MeasuredFramesPerSecond(device), 44100.0, 44100.0 * 0.05);
}

TEST(SdlRingDevice, AdvancesAtTheRealRateOnTheDummyDriver)
{
    // The dummy driver plays nothing but consumes sound in real time; a driver chosen by
    // whoever runs the tests is kept.
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 0), 0);
    SdlRingDevice device;
    ASSERT_TRUE(device.Open());
    ASSERT_TRUE(device.CreateRing(44100, 176400));
    // SDL's own buffer stays small beside the shortest ring (100 ms): 5 to 25 ms.
    EXPECT_GE(device.CallbackFrames(), 256);
    EXPECT_LE(device.CallbackFrames(), 1024);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(device.PlayCursor(), 0) << "a stopped ring does not move";
    device.Play();
    // The dummy driver sleeps one buffer's whole milliseconds per buffer (under 1 % fast
    // with the buffer chosen for it); 5 % above covers a callback's worth of granularity at
    // both ends. A busy machine wakes the driver's thread late and only ever slows it: 20 %
    // below allows that and still catches a wrong frame size or rate (a factor of 2 or more).
    const double rate = MeasuredFramesPerSecond(device);
    EXPECT_LE(rate, 44100.0 * 1.05);
    EXPECT_GE(rate, 44100.0 * 0.80);
    device.Stop();
    const int stoppedAt = device.PlayCursor();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(device.PlayCursor(), stoppedAt);
}

TEST(Clock, MillisecondsWrapAndDifferencesSurviveTheWrap)
{
    ManualClock clock(0xFFFFFFF0u);
    const uint32_t before = clock.Milliseconds();
    EXPECT_EQ(before, 0xFFFFFFF0u);
    clock.AdvanceMs(0x20);
    EXPECT_EQ(clock.Milliseconds(), 0x10u);
    EXPECT_EQ(clock.Milliseconds() - before, 0x20u);
}

} // namespace
} // namespace varnel
