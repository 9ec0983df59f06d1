#include "audio/Tdsound.h"

#include "PlaybackTestSupport.h"
#include "audio/Twave.h"
#include "dsp/VisualFeed.h"
#include "platform/SilentRingDevice.h"
#include "platform/TestRingDevice.h"
#include "support/CenterFocusTestAccess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

namespace varnel {
namespace {

using test::FilteredStream;
using test::NarrowArea;
using test::StereoMix;
using test::TempDir;
using test::ToSamples;

class CountingFeed final : public VisualFeed
{
public:
    void NextFrame() noexcept override { ++Frames; }
    void AddBin(int, float, float, float, float) noexcept override {}
    int Frames = 0;
};

// A stream on the test device over a file of the stereo mix.
class TdsoundTest : public ::testing::Test
{
protected:
    void Open(int sampleRate, int frames, int bufferMs, int fftSize = 2048, int overlap = 8)
    {
        mInput = StereoMix(frames, sampleRate);
        mPath = mDir.File("in.wav");
        test::WriteWav16(mPath, mInput, sampleRate);
        ASSERT_EQ(mReader.OpenRead(mPath), 0);
        auto device = std::make_unique<TestRingDevice>();
        mDevice = device.get();
        ASSERT_TRUE(mSound.OpenDevice(std::move(device)));
        ASSERT_TRUE(mSound.PrepareStream(mReader, bufferMs, fftSize, overlap));
        mSound.SetPanRange(NarrowArea().PanLow, NarrowArea().PanHigh);
        mSound.SetFreqRange(NarrowArea().FreqLowHz, NarrowArea().FreqHighHz);
        mSound.SetDepthRange(NarrowArea().DepthLow, NarrowArea().DepthHigh);
        mReference = FilteredStream(mInput, sampleRate, fftSize, overlap, NarrowArea());
        ASSERT_FALSE(mReference.empty());
    }

    // Plays one more ring length so that everything written so far is heard, and returns
    // the heard samples after the ring's initial silence.
    std::vector<int16_t> HeardAfterOneRing()
    {
        EXPECT_TRUE(mDevice->AdvanceCursor(mSound.BufferBytes() - 4));
        EXPECT_TRUE(mDevice->AdvanceCursor(4));
        std::vector<int16_t> heard = ToSamples(mDevice->Heard());
        const size_t ringSamples = static_cast<size_t>(mSound.BufferBytes() / 2);
        return std::vector<int16_t>(heard.begin() + static_cast<std::ptrdiff_t>(ringSamples),
                                    heard.end());
    }

    TempDir mDir;
    std::string mPath;
    std::vector<int16_t> mInput;
    std::vector<int16_t> mReference;
    TWaveData mReader;
    TDsound mSound;
    TestRingDevice* mDevice = nullptr;
};

TEST_F(TdsoundTest, RingIsWholeFramesAndTheBlockHoldsIt)
{
    struct Case
    {
        int Rate, Ms, Bytes;
    };
    // 11025 Hz x 100 ms is 4410 bytes, 1102.5 frames: rounded down to 1102 frames.
    const Case cases[] = {{44100, 200, 35280}, {11025, 100, 4408},  {22050, 100, 8820},
                          {11025, 333, 14684}, {8000, 1000, 32000}, {96000, 1000, 384000}};
    TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.File("r" + std::to_string(c.Rate) + ".wav");
        test::WriteWav16(path, StereoMix(100, c.Rate), c.Rate);
        TWaveData reader;
        ASSERT_EQ(reader.OpenRead(path), 0);
        TDsound sound;
        auto device = std::make_unique<TestRingDevice>();
        TestRingDevice* raw = device.get();
        sound.OpenDevice(std::move(device));
        ASSERT_TRUE(sound.PrepareStream(reader, c.Ms, 2048, 4)) << c.Rate << " " << c.Ms;
        EXPECT_EQ(sound.BufferBytes(), c.Bytes) << c.Rate << " " << c.Ms;
        EXPECT_EQ(raw->RingBytes(), c.Bytes);
        EXPECT_EQ(raw->Volume(), 0);
        EXPECT_GE(sound.VocalFunc()->BlockFrames(), c.Bytes / 4 - 1);
    }
}

TEST_F(TdsoundTest, PumpWithoutCursorMovementWritesNothing)
{
    Open(44100, 44100, 200);
    mSound.Play();
    EXPECT_EQ(mSound.Pump(), 0);
    ASSERT_TRUE(mDevice->AdvanceCursor(1323 * 4));
    EXPECT_EQ(mSound.Pump(), 1323);
    const int locks = mDevice->Locks();
    EXPECT_EQ(mSound.Pump(), 0);
    EXPECT_EQ(mDevice->Locks(), locks);
    EXPECT_EQ(mSound.WriteCursor(), 1323 * 4);
    EXPECT_EQ(mReader.TellFrame(), 1323);
}

TEST_F(TdsoundTest, ThirtyMillisecondsOnTheSilentDeviceWrite1323Frames)
{
    ManualClock clock(5000);
    TempDir dir;
    test::WriteWav16(dir.File("a.wav"), StereoMix(44100, 44100), 44100);
    TWaveData reader;
    ASSERT_EQ(reader.OpenRead(dir.File("a.wav")), 0);
    TDsound sound(clock);
    sound.OpenDevice(std::make_unique<SilentRingDevice>(clock));
    ASSERT_TRUE(sound.PrepareStream(reader, 200, 8192, 16));
    EXPECT_EQ(sound.BufferBytes(), 35280);
    sound.Play();
    clock.AdvanceMs(30);
    EXPECT_EQ(sound.Pump(), 1323);
    clock.AdvanceMs(30);
    EXPECT_EQ(sound.Pump(), 1323);
    EXPECT_EQ(reader.TellFrame(), 2646);
}

TEST_F(TdsoundTest, WrappedStretchIsReadInOrderAndHeardAsTheFilteredStream)
{
    Open(22050, 22050, 100); // ring of 2205 frames
    mSound.Play();
    // Uneven steps, the third one across the end of the ring.
    for (int frames : {1000, 700, 1500, 2204, 37}) {
        ASSERT_TRUE(mDevice->AdvanceCursor(frames * 4));
        const int locks = mDevice->Locks();
        EXPECT_EQ(mSound.Pump(), frames);
        EXPECT_EQ(mDevice->Locks(), locks + 1);
    }
    const std::vector<int16_t> heard = HeardAfterOneRing();
    const size_t samples = static_cast<size_t>(1000 + 700 + 1500 + 2204 + 37) * 2;
    ASSERT_GE(heard.size(), samples);
    EXPECT_EQ(
        std::vector<int16_t>(heard.begin(), heard.begin() + static_cast<long>(samples)),
        std::vector<int16_t>(mReference.begin(), mReference.begin() + static_cast<long>(samples)));
}

TEST_F(TdsoundTest, EndOfFileGivesTheFilteredRestThenSilenceAndTheFullCount)
{
    Open(22050, 3000, 200); // ring of 4410 frames, file of 3000
    mSound.Play();
    ASSERT_TRUE(mDevice->AdvanceCursor(2000 * 4));
    EXPECT_EQ(mSound.Pump(), 2000);
    ASSERT_TRUE(mDevice->AdvanceCursor(1500 * 4));
    EXPECT_EQ(mSound.Pump(), 1500) << "the short read still fills the whole stretch";
    EXPECT_EQ(mReader.TellFrame(), 3000);
    ASSERT_TRUE(mDevice->AdvanceCursor(500 * 4));
    EXPECT_EQ(mSound.Pump(), 500);
    const std::vector<int16_t> heard = HeardAfterOneRing();
    ASSERT_GE(heard.size(), 4000u * 2);
    EXPECT_EQ(std::vector<int16_t>(heard.begin(), heard.begin() + 6000), mReference);
    EXPECT_EQ(std::vector<int16_t>(heard.begin() + 6000, heard.begin() + 8000),
              std::vector<int16_t>(2000, 0));
    EXPECT_FALSE(mSound.ReadFault()) << "reaching the end of the sound is no fault";
}

// A file cut while it plays leaves the reader short of the end it was opened with: the pump
// says so, and a new stream starts without the fault.
TEST_F(TdsoundTest, FileCutWhilePlayingIsAReadFault)
{
    Open(22050, 300000, 200); // 1.2 MB: more than the reader keeps buffered
    mSound.Play();
    std::filesystem::resize_file(mPath, 44 + 4 * 1000);
    for (int cycle = 0; cycle < 400 && !mSound.ReadFault(); ++cycle) {
        ASSERT_TRUE(mDevice->AdvanceCursor(4000 * 4));
        ASSERT_EQ(mSound.Pump(), 4000) << "the stretch is still filled, with silence";
    }
    EXPECT_TRUE(mSound.ReadFault());
    EXPECT_LT(mReader.TellFrame(), 300000);
    mSound.ClearReadFault();
    EXPECT_FALSE(mSound.ReadFault());
    ASSERT_TRUE(mDevice->AdvanceCursor(4000 * 4));
    mSound.Pump();
    EXPECT_TRUE(mSound.ReadFault()) << "the next pump meets the cut again";
    ASSERT_TRUE(mSound.PrepareStream(mReader, 200, 2048, 8));
    EXPECT_FALSE(mSound.ReadFault());
}

TEST_F(TdsoundTest, PlayAfterStopPicksUpExactlyThePlayedStretch)
{
    Open(22050, 22050, 200);
    mSound.Play();
    mDevice->AdvanceCursor(1000 * 4);
    EXPECT_EQ(mSound.Pump(), 1000);
    mDevice->AdvanceCursor(200 * 4);
    mSound.Stop();
    EXPECT_FALSE(mDevice->AdvanceCursor(4));
    mSound.Play();
    mDevice->AdvanceCursor(300 * 4);
    EXPECT_EQ(mSound.Pump(), 500);
    EXPECT_EQ(mReader.TellFrame(), 1500);
    EXPECT_EQ(mDevice->PlayCursor(), 1500 * 4);
}

TEST_F(TdsoundTest, LostRingIsRestoredOnceAndASecondLossCostsOnlyThatCycle)
{
    Open(22050, 22050, 200);
    mSound.Play();
    mDevice->AdvanceCursor(800 * 4);
    mDevice->LoseNextLocks(1);
    EXPECT_EQ(mSound.Pump(), 800);
    EXPECT_EQ(mDevice->Restores(), 1);

    mDevice->AdvanceCursor(600 * 4);
    mDevice->LoseNextLocks(2);
    EXPECT_EQ(mSound.Pump(), 0);
    EXPECT_EQ(mDevice->Restores(), 2) << "restored once, not twice";
    EXPECT_EQ(mSound.WriteCursor(), 800 * 4);
    EXPECT_EQ(mReader.TellFrame(), 800) << "nothing read for a stretch that was not written";

    mDevice->AdvanceCursor(100 * 4);
    EXPECT_EQ(mSound.Pump(), 700) << "the next pump refills the missed stretch too";
    const std::vector<int16_t> heard = HeardAfterOneRing();
    EXPECT_EQ(std::vector<int16_t>(heard.begin(), heard.begin() + 3000),
              std::vector<int16_t>(mReference.begin(), mReference.begin() + 3000));
}

TEST_F(TdsoundTest, FlushRunsWholeBlocksOfSilenceCoveringOneFftLength)
{
    struct Case
    {
        int Ms;
        int FramesRun; // whole blocks until at least 8192 frames have passed
    };
    const Case cases[] = {{200, 8820}, {100, 2 * 4410}, {150, 2 * 6615}, {1000, 44100}};
    for (const Case& c : cases) {
        TempDir dir;
        test::WriteWav16(dir.File("f.wav"), StereoMix(44100, 44100), 44100);
        TWaveData reader;
        ASSERT_EQ(reader.OpenRead(dir.File("f.wav")), 0);
        TDsound sound;
        auto device = std::make_unique<TestRingDevice>();
        TestRingDevice* raw = device.get();
        sound.OpenDevice(std::move(device));
        CountingFeed feed;
        sound.SetVisualSink(&feed);
        ASSERT_TRUE(sound.PrepareStream(reader, c.Ms, 8192, 16));
        sound.SetVisualFeed(true);
        sound.Play();
        raw->AdvanceCursor(4000 * 4);
        sound.Pump();
        raw->AdvanceCursor(4000 * 4);
        sound.Pump();
        sound.Stop();
        const int cursor = sound.WriteCursor();
        feed.Frames = 0;
        raw->LoseNextLocks(1); // the silencing lock is restored and retried once

        sound.Flush();
        // Frames complete every hop (512); where the grid falls inside the run decides
        // whether the last partial hop completes one more.
        EXPECT_NEAR(feed.Frames, c.FramesRun / 512, 1) << c.Ms;
        EXPECT_EQ(sound.WriteCursor(), cursor);
        for (float v : CenterFocusTestAccess::InRingL(sound.VocalFunc()->Filter()))
            ASSERT_EQ(v, 0.0f) << c.Ms;
        for (float v : CenterFocusTestAccess::InRingR(sound.VocalFunc()->Filter()))
            ASSERT_EQ(v, 0.0f) << c.Ms;
        sound.Play();
        raw->ClearHeard();
        raw->AdvanceCursor(sound.BufferBytes());
        EXPECT_EQ(raw->Heard(), std::vector<uint8_t>(static_cast<size_t>(sound.BufferBytes()), 0))
            << "the ring is silent after a flush";
        EXPECT_EQ(raw->Restores(), 1);
    }
}

TEST_F(TdsoundTest, WithoutARingEverythingIsHarmless)
{
    TempDir dir;
    test::WriteWav16(dir.File("n.wav"), StereoMix(1000, 22050), 22050);
    TWaveData reader;
    ASSERT_EQ(reader.OpenRead(dir.File("n.wav")), 0);

    TDsound noDevice;
    EXPECT_FALSE(noDevice.PrepareStream(reader, 200, 2048, 4));
    EXPECT_EQ(noDevice.Pump(), 0);
    EXPECT_EQ(noDevice.Play(), RingResult::Failed);

    TDsound refused;
    auto device = std::make_unique<TestRingDevice>();
    device->FailNextCreate();
    TestRingDevice* raw = device.get();
    refused.OpenDevice(std::move(device));
    EXPECT_FALSE(refused.PrepareStream(reader, 200, 2048, 4));
    EXPECT_FALSE(refused.HasStream());
    EXPECT_EQ(refused.Play(), RingResult::Failed);
    EXPECT_EQ(refused.Pump(), 0);
    EXPECT_EQ(refused.SetVolume(-100), RingResult::Failed);
    refused.SetPanRange(0.1f, 0.2f);
    refused.Flush();
    EXPECT_EQ(reader.TellFrame(), 0);

    // A filter that cannot be set up undoes the ring as well.
    EXPECT_FALSE(refused.PrepareStream(reader, 200, 3000, 4));
    EXPECT_FALSE(raw->HasRing());
    EXPECT_FALSE(refused.HasStream());
}

TEST(TdsoundDevice, DefaultIsSdlAndVarnelAudioNullChoosesTheSilentDevice)
{
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 0), 0);
    {
        TDsound sound;
        ASSERT_TRUE(sound.OpenDevice());
        EXPECT_STREQ(sound.Device()->Name(), "SDL");
    }
    ASSERT_EQ(setenv("VARNEL_AUDIO", "null", 1), 0);
    TDsound sound;
    EXPECT_TRUE(sound.OpenDevice());
    unsetenv("VARNEL_AUDIO");
    EXPECT_STREQ(sound.Device()->Name(), "silent");
}

} // namespace
} // namespace varnel
