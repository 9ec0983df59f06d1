#include "audio/Thsndplay.h"

#include "PlaybackTestSupport.h"
#include "audio/ExportJob.h"
#include "audio/Tdsound.h"
#include "audio/Twave.h"
#include "platform/TestRingDevice.h"
#include "support/CenterFocusTestAccess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <thread>
#include <vector>

namespace varnel {

// The mailboxes' locks in the order the thread applies them: seek, pan, frequency, depth,
// invert, soft cut, visual, volume.
struct ThSoundPlayTestAccess
{
    static std::vector<std::mutex*> MailboxLocks(ThSoundPlay& t)
    {
        return {&t.mSeekBox.Lock,   &t.mPanBox.Lock,  &t.mFreqBox.Lock,   &t.mDepthBox.Lock,
                &t.mInvertBox.Lock, &t.mSoftBox.Lock, &t.mVisualBox.Lock, &t.mVolumeBox.Lock};
    }
};

namespace {

using test::FilteredStream;
using test::NarrowArea;
using test::StereoMix;
using test::SwitchedStream;
using test::TempDir;
using test::ToSamples;

// The playback thread over a file of the stereo mix, on the test device and a manual clock
// that holds the thread in each cycle's sleep until the test steps it.
class ThSoundPlayTest : public ::testing::Test
{
protected:
    void Open(int sampleRate, int frames, int bufferMs, int fftSize = 2048, int overlap = 8)
    {
        mInput = StereoMix(frames, sampleRate);
        test::WriteWav16(mDir.File("in.wav"), mInput, sampleRate);
        ASSERT_EQ(mReader.OpenRead(mDir.File("in.wav")), 0);
        auto device = std::make_unique<TestRingDevice>();
        mDevice = device.get();
        mSound.OpenDevice(std::move(device));
        ASSERT_TRUE(mSound.PrepareStream(mReader, bufferMs, fftSize, overlap));
        mThread = std::make_unique<ThSoundPlay>(mSound, mReader, mClock);
        mThread->SetHalfRate(sampleRate / 2);
    }

    void TearDown() override
    {
        // Tests end with the thread held in a sleep or parked, so it is not inside a hook now;
        // the hooks refer to the test's locals, which are gone.
        if (mDevice != nullptr) {
            mDevice->SetCursorReadHook(nullptr);
            mDevice->SetVolumeHook(nullptr);
        }
        // Held sleeps would keep the thread from ever seeing the end request.
        mClock.SetFreeRunning(true);
        mThread.reset();
    }

    // Starts the thread and waits until it sleeps after its first cycle.
    void StartAndHold()
    {
        ASSERT_TRUE(mThread->Resume());
        ASSERT_TRUE(mClock.WaitForSleep(1));
    }

    // Pauses from a helper thread while the held sleep is let go, as the GUI would.
    void PauseFromHeldSleep()
    {
        auto pause = std::async(std::launch::async, [this] { mThread->RequestPause(); });
        while (pause.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
            mClock.Release();
    }

    const CenterFocus& Filter() { return mSound.VocalFunc()->Filter(); }

    TempDir mDir;
    std::vector<int16_t> mInput;
    ManualClock mClock{1000};
    TWaveData mReader;
    TDsound mSound;
    TestRingDevice* mDevice = nullptr;
    std::unique_ptr<ThSoundPlay> mThread;
};

TEST_F(ThSoundPlayTest, ClosingWithoutEverPlayingCallsNeitherPlayNorStop)
{
    Open(22050, 2000, 200);
    mThread->PostVolume(-790);
    mThread->PostSeek(100);
    mThread->RequestPause(); // returns at once: nothing runs
    EXPECT_FALSE(mThread->IsStarted());
    mThread.reset();
    EXPECT_EQ(mDevice->PlayCalls(), 0);
    EXPECT_EQ(mDevice->StopCalls(), 0);
    EXPECT_EQ(mReader.TellFrame(), 0);
}

TEST_F(ThSoundPlayTest, ClosingEndsAParkedOrRunningThreadWithTheRingStopped)
{
    Open(22050, 2000, 200);
    mClock.SetFreeRunning(true);
    // Parked: woken to end, it leaves at once without playing again.
    mThread->Resume();
    mThread->RequestPause();
    mThread.reset();
    EXPECT_EQ(mDevice->PlayCalls(), 1);
    EXPECT_EQ(mDevice->StopCalls(), 1);
    // Running: it ends after its cycle and stops the ring.
    mThread = std::make_unique<ThSoundPlay>(mSound, mReader, mClock);
    mThread->Resume();
    while (mThread->Cycles() < 3)
        std::this_thread::yield();
    mThread.reset();
    EXPECT_EQ(mDevice->PlayCalls(), 2);
    EXPECT_EQ(mDevice->StopCalls(), 2);
    EXPECT_FALSE(mDevice->IsPlaying());
}

TEST_F(ThSoundPlayTest, CycleSleepsThirtyMinusItsWorkAndAtLeastOne)
{
    Open(22050, 2000, 200);
    std::atomic<uint32_t> workMs{0};
    mDevice->SetCursorReadHook([&] { mClock.AdvanceMs(workMs.load()); });
    StartAndHold();
    const uint32_t works[] = {10, 40, 30, 29, 0, 100};
    const uint32_t sleeps[] = {20, 1, 1, 1, 30, 1};
    for (uint32_t w : works) {
        workMs = w;
        ASSERT_TRUE(mClock.StepAndWait());
    }
    const std::vector<uint32_t> log = mClock.SleepLog();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(std::vector<uint32_t>(log.begin() + 1, log.end()),
              std::vector<uint32_t>(std::begin(sleeps), std::end(sleeps)));
}

TEST_F(ThSoundPlayTest, OverloadedWhenTheWorkTookTwiceTheSoundsLength)
{
    Open(44100, 44100, 200);
    std::atomic<uint32_t> workMs{0};
    mDevice->SetCursorReadHook([&] { mClock.AdvanceMs(workMs.load()); });
    StartAndHold();
    struct Case
    {
        int Frames;
        uint32_t WorkMs;
        bool Overloaded;
    };
    // 1323 frames at 44.1 kHz last 30 ms: overloaded only from 61 ms of work on.
    const Case cases[] = {{1323, 60, false}, {1323, 61, true},   {1323, 0, false}, {0, 0, false},
                          {0, 1, true},      {4410, 200, false}, {4410, 201, true}};
    for (const Case& c : cases) {
        workMs = c.WorkMs;
        if (c.Frames > 0) {
            ASSERT_TRUE(mDevice->AdvanceCursor(c.Frames * 4));
        }
        ASSERT_TRUE(mClock.StepAndWait());
        EXPECT_EQ(mThread->Overloaded(), c.Overloaded)
            << c.Frames << " frames, " << c.WorkMs << " ms";
    }
}

TEST_F(ThSoundPlayTest, PostsWhileParkedReachTheFilterBeforeTheFirstPump)
{
    Open(22050, 22050, 200);
    struct Seen
    {
        int64_t Frame;
        float PanLow, PanHigh, FreqLowBin, DepthHigh;
        bool Inverted, Feed;
        int Volume;
    };
    std::vector<Seen> seen;
    seen.reserve(64);
    mDevice->SetCursorReadHook([&] {
        const CenterFocus& f = Filter();
        seen.push_back({mReader.TellFrame(), CenterFocusTestAccess::PanLow(f),
                        CenterFocusTestAccess::PanHigh(f),
                        static_cast<float>(CenterFocusTestAccess::LowBin(f)),
                        CenterFocusTestAccess::DepthHigh(f), CenterFocusTestAccess::Inverted(f),
                        CenterFocusTestAccess::VisualFeedOn(f), mDevice->Volume()});
    });
    auto postAll = [&](int64_t frame, float pan, int volume, bool flag) {
        mThread->PostSeek(frame);
        mThread->PostPanRange(pan, pan * 2);
        mThread->PostFreqRange(1000.0f, 5000.0f);
        mThread->PostDepthRange(0.0f, 1.5f);
        mThread->PostInverted(flag);
        mThread->PostVisualFeed(flag);
        mThread->PostVolume(volume);
    };
    // Before the thread ever ran, and again while it is parked after a pause.
    postAll(1000, 0.25f, -790, true);
    StartAndHold();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Frame, 1000);
    EXPECT_EQ(seen[0].PanLow, 0.25f);
    EXPECT_EQ(seen[0].PanHigh, 0.5f);
    EXPECT_GT(seen[0].FreqLowBin, 0.0f);
    EXPECT_EQ(seen[0].DepthHigh, 1.5f);
    EXPECT_TRUE(seen[0].Inverted);
    EXPECT_TRUE(seen[0].Feed);
    EXPECT_EQ(seen[0].Volume, -790);

    PauseFromHeldSleep();
    ASSERT_TRUE(mThread->IsParked());
    const size_t before = seen.size();
    postAll(5000, 2.0f, -2, false);
    const int sleeps = mClock.SleepsBegun();
    mThread->Resume();
    ASSERT_TRUE(mClock.WaitForSleep(sleeps + 1));
    ASSERT_EQ(seen.size(), before + 1);
    EXPECT_EQ(seen.back().Frame, 5000);
    EXPECT_EQ(seen.back().PanLow, 2.0f);
    EXPECT_FALSE(seen.back().Inverted);
    EXPECT_FALSE(seen.back().Feed);
    EXPECT_EQ(seen.back().Volume, -2);
}

TEST_F(ThSoundPlayTest, MailboxesApplyInOrderSeekFirstVolumeLastThenThePump)
{
    Open(22050, 22050, 200);
    StartAndHold();
    // The volume handler runs last: by then the same cycle's seek and ranges are in place;
    // the pump runs after all of them.
    int64_t frameAtVolume = -1;
    float panAtVolume = 0.0f;
    bool invertedAtVolume = false;
    int volumeAtPump = 0;
    mDevice->SetVolumeHook([&] {
        frameAtVolume = mReader.TellFrame();
        panAtVolume = CenterFocusTestAccess::PanLow(Filter());
        invertedAtVolume = CenterFocusTestAccess::Inverted(Filter());
    });
    mDevice->SetCursorReadHook([&] { volumeAtPump = mDevice->Volume(); });
    mThread->PostVolume(-139);
    mThread->PostInverted(true);
    mThread->PostPanRange(0.7f, 3.0f);
    mThread->PostSeek(4321);
    ASSERT_TRUE(mClock.StepAndWait());
    EXPECT_EQ(frameAtVolume, 4321);
    EXPECT_EQ(panAtVolume, 0.7f);
    EXPECT_TRUE(invertedAtVolume);
    EXPECT_EQ(volumeAtPump, -139);
}

TEST_F(ThSoundPlayTest, LatestPostWinsAndABusyMailboxWaitsOneCycle)
{
    Open(22050, 22050, 200);
    StartAndHold();
    mThread->PostPanRange(0.2f, 0.3f);
    mThread->PostPanRange(0.4f, 5.0f);
    ASSERT_TRUE(mClock.StepAndWait());
    EXPECT_EQ(CenterFocusTestAccess::PanLow(Filter()), 0.4f);
    EXPECT_EQ(CenterFocusTestAccess::PanHigh(Filter()), 5.0f);

    // Each mailbox in turn is held busy through a cycle: the others are applied, it is not,
    // and it is applied at the following cycle.
    const std::vector<std::mutex*> locks = ThSoundPlayTestAccess::MailboxLocks(*mThread);
    ASSERT_EQ(locks.size(), 8u);
    for (int box = 0; box < 8; ++box) {
        const float pan = 0.5f + static_cast<float>(box);
        const int volume = -100 * (box + 1);
        const int64_t frame = 100 * (box + 1);
        mThread->PostSeek(frame);
        mThread->PostPanRange(pan, pan + 1.0f);
        mThread->PostVolume(volume);
        const bool busyIsSeek = box == 0;
        const bool busyIsPan = box == 1;
        const bool busyIsVolume = box == 7;
        std::mutex& lock = *locks[static_cast<size_t>(box)];
        lock.lock();
        ASSERT_TRUE(mClock.StepAndWait()) << "a busy mailbox must not hold up the cycle";
        EXPECT_EQ(mReader.TellFrame() == frame, !busyIsSeek) << box;
        EXPECT_EQ(CenterFocusTestAccess::PanLow(Filter()) == pan, !busyIsPan) << box;
        EXPECT_EQ(mDevice->Volume() == volume, !busyIsVolume) << box;
        lock.unlock();
        ASSERT_TRUE(mClock.StepAndWait());
        EXPECT_EQ(mReader.TellFrame(), frame) << box;
        EXPECT_EQ(CenterFocusTestAccess::PanLow(Filter()), pan) << box;
        EXPECT_EQ(mDevice->Volume(), volume) << box;
    }
}

TEST_F(ThSoundPlayTest, SeekWhilePlayingMovesTheReaderBeforeThatCyclesPump)
{
    Open(22050, 22050, 200);
    StartAndHold();
    ASSERT_TRUE(mDevice->AdvanceCursor(600 * 4));
    ASSERT_TRUE(mClock.StepAndWait());
    EXPECT_EQ(mReader.TellFrame(), 600);
    mThread->PostSeek(10000);
    ASSERT_TRUE(mDevice->AdvanceCursor(700 * 4));
    ASSERT_TRUE(mClock.StepAndWait());
    EXPECT_EQ(mReader.TellFrame(), 10700);
}

TEST_F(ThSoundPlayTest, CycleAllocatesNothing)
{
    Open(44100, 88200, 200, 8192, 16);
    StartAndHold();
    // A first full cycle, so lazily set-up state (file buffers and the like) exists.
    ASSERT_TRUE(mDevice->AdvanceCursor(2000 * 4));
    ASSERT_TRUE(mClock.StepAndWait());
    for (int i = 0; i < 5; ++i) {
        mThread->PostSeek(1000 * i);
        mThread->PostPanRange(0.5f, 2.0f);
        mThread->PostFreqRange(100.0f, 4000.0f);
        mThread->PostDepthRange(0.0f, 2.0f);
        mThread->PostInverted(i % 2 == 0);
        SoftCut soft; // the soft cut's frames (and the switch to them) allocate nothing either
        soft.FeatherFreq = 0.5f * static_cast<float>(i);
        soft.SmoothMs = 40.0f;
        mThread->PostSoftCut(soft);
        mThread->PostVisualFeed(false);
        mThread->PostVolume(-10 * i);
        ASSERT_TRUE(mDevice->AdvanceCursor((1323 + 500 * i) * 4));
        int64_t allocations = -1;
        bool stepped = false;
        {
            test::AllocationCounter counter; // counts on every thread, the playback thread's too
            stepped = mClock.StepAndWait();
            allocations = counter.Count();
        }
        ASSERT_TRUE(stepped);
        EXPECT_EQ(allocations, 0) << "cycle " << i;
        EXPECT_EQ(mDevice->Volume(), -10 * i) << "the cycle did apply its mailboxes";
    }
}

TEST(ThSoundPlayPause, ThousandsOfPausesNeverHangNorLoseAWakeUp)
{
    TempDir dir;
    test::WriteWav16(dir.File("s.wav"), StereoMix(4000, 22050), 22050);
    TWaveData reader;
    ASSERT_EQ(reader.OpenRead(dir.File("s.wav")), 0);
    TDsound sound;
    auto device = std::make_unique<TestRingDevice>();
    TestRingDevice* raw = device.get();
    sound.OpenDevice(std::move(device));
    ASSERT_TRUE(sound.PrepareStream(reader, 100, 2048, 4));
    ManualClock clock;
    clock.SetFreeRunning(true); // cycles back to back: many cycles in little time
    {
        ThSoundPlay thread(sound, reader, clock);
        thread.SetHalfRate(11025);
        std::atomic<bool> stop{false};
        // A second poster hammers the mailboxes all the while.
        std::thread poster([&] {
            for (int i = 0; !stop.load(); ++i) {
                thread.PostPanRange(0.5f, 1.0f + static_cast<float>(i % 7));
                thread.PostVolume(-(i % 50));
                thread.PostInverted(i % 2 == 0);
                std::this_thread::yield(); // leave the two cores to the threads under test
            }
        });
        const auto start = std::chrono::steady_clock::now();
        int rounds = 0;
        for (; rounds < 3000; ++rounds) {
            // A few seconds at most, whatever the machine's load.
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(4))
                break;
            thread.PostFreqRange(100.0f + static_cast<float>(rounds), 8000.0f);
            thread.PostDepthRange(0.0f, 3.0f);
            ASSERT_TRUE(thread.Resume());
            if (rounds % 3 == 0)
                std::this_thread::yield();
            thread.PostSeek(rounds % 4000);
            thread.RequestPause();
            ASSERT_TRUE(thread.IsParked());
            ASSERT_FALSE(raw->IsPlaying()) << "parked means the ring is stopped";
        }
        stop = true;
        poster.join();
        ::testing::Test::RecordProperty("Rounds", rounds);
        EXPECT_GE(rounds, 500) << "the protocol is slow; rounds done: " << rounds;
        EXPECT_EQ(raw->PlayCalls(), rounds);
        EXPECT_EQ(raw->StopCalls(), rounds);
        // Posts made while parked still arrive after the last wake-up.
        thread.PostFreqRange(300.0f, 600.0f);
        const int64_t cycles = thread.Cycles();
        thread.Resume();
        while (thread.Cycles() < cycles + 2)
            std::this_thread::yield();
        thread.RequestPause();
        CenterFocus expected;
        ASSERT_TRUE(expected.Setup(2048, 4, 22050));
        expected.SetFreqRange(300.0f, 600.0f);
        EXPECT_EQ(CenterFocusTestAccess::LowBin(sound.VocalFunc()->Filter()),
                  CenterFocusTestAccess::LowBin(expected));
        EXPECT_EQ(CenterFocusTestAccess::HighBin(sound.VocalFunc()->Filter()),
                  CenterFocusTestAccess::HighBin(expected));
    }
    EXPECT_EQ(raw->PlayCalls(), raw->StopCalls());
}

TEST(ThSoundPlayPause, PauseDuringASleepReturnsWithinAboutOneCycle)
{
    TempDir dir;
    test::WriteWav16(dir.File("p.wav"), StereoMix(4000, 22050), 22050);
    TWaveData reader;
    ASSERT_EQ(reader.OpenRead(dir.File("p.wav")), 0);
    TDsound sound;
    auto device = std::make_unique<TestRingDevice>();
    TestRingDevice* raw = device.get();
    sound.OpenDevice(std::move(device));
    ASSERT_TRUE(sound.PrepareStream(reader, 100, 2048, 4));
    ThSoundPlay thread(sound, reader);
    thread.Resume();
    std::this_thread::sleep_for(std::chrono::milliseconds(45));
    const auto t0 = std::chrono::steady_clock::now();
    thread.RequestPause();
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_FALSE(raw->IsPlaying());
    // One 30 ms cycle, with a wide margin for a shared, loaded machine.
    EXPECT_LT(waited, std::chrono::milliseconds(300));
}

TEST(ThSoundPlayRealTime, ReaderFollowsTheRealRateOnSdlAndOnTheSilentDevice)
{
    ASSERT_EQ(setenv("SDL_AUDIODRIVER", "dummy", 0), 0);
    TempDir dir;
    test::WriteWav16(dir.File("r.wav"), StereoMix(5 * 22050, 22050), 22050);
    for (const char* choice : {"sdl", "null"}) {
        SCOPED_TRACE(choice);
        ASSERT_EQ(setenv("VARNEL_AUDIO", choice, 1), 0);
        TWaveData reader;
        ASSERT_EQ(reader.OpenRead(dir.File("r.wav")), 0);
        TDsound sound;
        sound.OpenDevice();
        unsetenv("VARNEL_AUDIO");
        EXPECT_STREQ(sound.Device()->Name(), std::string(choice) == "sdl" ? "SDL" : "silent");
        ASSERT_TRUE(sound.PrepareStream(reader, 200, 2048, 4));
        ThSoundPlay thread(sound, reader);
        thread.SetHalfRate(11025);
        const auto start = std::chrono::steady_clock::now();
        thread.Resume();
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        thread.RequestPause();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The reader follows the device's cursor, which never runs ahead of real time (5 %
        // for timer granularity); a loaded machine can starve SDL's dummy driver, so below
        // real time only a clear majority is required. The devices' own rate is checked
        // precisely in the platform tests.
        const double played = static_cast<double>(reader.TellFrame()) / 22050.0;
        EXPECT_LE(played, seconds * 1.05);
        EXPECT_GE(played, seconds * 0.6);
        EXPECT_FALSE(sound.Device()->IsPlaying());
    }
}

// Whole-file export of the file at path with the area: frame k is the filtered frame k.
std::vector<int16_t> ExportWhole(const TempDir& dir, const std::string& path,
                                 const FilterArea& area, int fftSize, int overlap)
{
    TWaveData in;
    TWaveData out;
    if (in.OpenRead(path) != 0)
        return {};
    out.Format = in.Format;
    const std::string outPath = dir.File("export.wav");
    if (out.OpenWrite(outPath) != 0)
        return {};
    ExportSettings settings;
    settings.FftSize = fftSize;
    settings.Overlap = overlap;
    settings.Area = area;
    std::atomic<bool> abort{false};
    const int result = ExportJob(in, out, settings).Run([](int64_t, int64_t) {}, abort);
    out.Close();
    in.Close();
    if (result != 0)
        return {};
    return test::ReadWavSamples(outPath);
}

FilterArea OtherArea()
{
    return test::AreaOf(0.0f, 0.8f, 1500.0f, 6000.0f, 0.0f, kPi);
}

class HeardEqualsSaved : public ThSoundPlayTest
{
protected:
    // Plays the file to its end and one more ring, moving the cursor in uneven steps of up
    // to one frame short of the ring, one step per cycle. before(frame) runs before each step
    // with the reader's position. Returns the heard samples.
    std::vector<int16_t> PlayToTheEnd(int frames, const std::function<void(int64_t)>& before)
    {
        const int ringFrames = mSound.BufferBytes() / 4;
        StartAndHold();
        uint32_t state = 777;
        int64_t heardFrames = 0;
        while (heardFrames < static_cast<int64_t>(frames) + 2 * ringFrames + 8192) {
            if (before)
                before(mReader.TellFrame());
            state = state * 1664525u + 1013904223u;
            const int step =
                1 + static_cast<int>((state >> 8) % static_cast<uint32_t>(ringFrames - 1));
            EXPECT_TRUE(mDevice->AdvanceCursor(step * 4));
            heardFrames += step;
            if (!mClock.StepAndWait())
                break;
        }
        PauseFromHeldSleep();
        return ToSamples(mDevice->Heard());
    }
};

TEST_F(HeardEqualsSaved, WholeFileMatchesTheExportFrameForFrame)
{
    struct Case
    {
        int Rate, BufferMs, FftSize;
    };
    // Quality 2 (overlap 16) with the FFT length each rate gets; 11025 Hz x 100 ms also has
    // a ring that is not a whole number of milliseconds' frames.
    const Case cases[] = {{11025, 100, 2048}, {22050, 200, 4096}, {44100, 1000, 8192}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Rate);
        TearDown();
        mClock.SetFreeRunning(false);
        mReader.Close();
        const int frames = 3 * c.Rate;
        Open(c.Rate, frames, c.BufferMs, c.FftSize, 16);
        mThread->PostArea(NarrowArea());
        const std::vector<int16_t> heard = PlayToTheEnd(frames, nullptr);
        const std::vector<int16_t> saved =
            ExportWhole(mDir, mDir.File("in.wav"), NarrowArea(), c.FftSize, 16);
        ASSERT_EQ(saved.size(), mInput.size());

        const size_t ring = static_cast<size_t>(mSound.BufferBytes() / 2); // samples
        const size_t latency = static_cast<size_t>(c.FftSize - c.FftSize / 16) * 2;
        const size_t total = static_cast<size_t>(frames) * 2;
        ASSERT_GE(heard.size(), ring + total + latency);
        // The ring's initial silence is heard first.
        EXPECT_EQ(std::count(heard.begin(), heard.begin() + static_cast<long>(ring), 0),
                  static_cast<long>(ring));
        // Then, one filter latency on, the saved file, up to the last frame the filter could
        // finish with the file's own sound (the last latency's worth needs what follows the
        // end, which playback never feeds).
        const auto from = heard.begin() + static_cast<long>(ring + latency);
        EXPECT_TRUE(std::equal(from, from + static_cast<long>(total - latency), saved.begin()));
        // After the end of the file: silence.
        const auto after = heard.begin() + static_cast<long>(ring + total);
        EXPECT_EQ(std::count(after, heard.end(), 0), heard.end() - after);
        // The export does filter: the area clears a real part of the mix.
        EXPECT_NE(saved, mInput);
    }
}

TEST_F(HeardEqualsSaved, AreaChangeSwitchesAtOneFrameBoundary)
{
    const int rate = 22050;
    const int frames = 4 * rate;
    const int fftSize = 4096;
    const int overlap = 16;
    const int hop = fftSize / overlap;
    Open(rate, frames, 200, fftSize, overlap);
    mThread->PostArea(NarrowArea());
    int64_t postedAt = -1;
    const std::vector<int16_t> heard = PlayToTheEnd(frames, [&](int64_t frame) {
        if (postedAt < 0 && frame >= frames / 2) {
            mThread->PostArea(OtherArea());
            postedAt = frame; // applied before the next pump, which reads from here
        }
    });
    ASSERT_GT(postedAt, 0);
    const std::vector<int16_t> before =
        ExportWhole(mDir, mDir.File("in.wav"), NarrowArea(), fftSize, overlap);
    const std::vector<int16_t> after =
        ExportWhole(mDir, mDir.File("in.wav"), OtherArea(), fftSize, overlap);
    ASSERT_EQ(before.size(), mInput.size());
    ASSERT_EQ(after.size(), mInput.size());

    const int64_t ring = mSound.BufferBytes() / 4;
    const int64_t latency = fftSize - hop;
    const int64_t usable = frames - latency;
    auto heardFrame = [&](int64_t k, int ch) {
        return heard[static_cast<size_t>((ring + latency + k) * 2 + ch)];
    };
    auto frameEquals = [&](int64_t k, const std::vector<int16_t>& e) {
        return heardFrame(k, 0) == e[static_cast<size_t>(2 * k)] &&
               heardFrame(k, 1) == e[static_cast<size_t>(2 * k + 1)];
    };
    int64_t firstOffBefore = usable; // first frame that differs from the old area's export
    int64_t lastOffAfter = -1;       // last frame that differs from the new area's export
    for (int64_t k = 0; k < usable; ++k) {
        if (firstOffBefore == usable && !frameEquals(k, before))
            firstOffBefore = k;
        if (!frameEquals(k, after))
            lastOffAfter = k;
    }
    // Every analysis frame that ended before the post was filtered with the old area, every
    // frame that ends at or after it with the new one. Frames span fftSize input frames, so
    // output made only of old frames ends at postedAt - fftSize, output made only of new
    // frames starts at postedAt, and in between lies the overlap of the last old frame with
    // the first new one: fftSize - hop frames at most.
    ::testing::Test::RecordProperty("SwitchZone", std::to_string(postedAt) + " " +
                                                      std::to_string(firstOffBefore) + " " +
                                                      std::to_string(lastOffAfter));
    EXPECT_GE(firstOffBefore, postedAt - fftSize + 1);
    EXPECT_LT(lastOffAfter, postedAt);
    EXPECT_LE(lastOffAfter - firstOffBefore + 1, latency);
    EXPECT_GT(lastOffAfter, firstOffBefore)
        << "the two areas' sounds must differ around the switch";
    // The comparison has teeth: the two exports differ on both sides of the switch.
    int64_t differBefore = 0, differAfter = 0;
    for (int64_t k = 0; k < usable; ++k) {
        const bool differ = before[static_cast<size_t>(2 * k)] != after[static_cast<size_t>(2 * k)];
        (k < postedAt - fftSize ? differBefore : differAfter) += differ ? 1 : 0;
    }
    EXPECT_GT(differBefore, 1000);
    EXPECT_GT(differAfter, 1000);
}

TEST_F(HeardEqualsSaved, SoftCutChangeIsHeardFromTheFirstFrameAfterThePost)
{
    const int rate = 22050, frames = 3 * rate, fftSize = 4096, overlap = 16;
    const int hop = fftSize / overlap;
    struct Case
    {
        const char* name;
        SoftCut after;
    };
    std::vector<Case> cases(5);
    cases[0] = {"pan width", {}};
    cases[0].after.FeatherPanDb = 6.0f;
    cases[1] = {"depth width", {}};
    cases[1].after.FeatherDepth = 0.5f;
    cases[2] = {"frequency width", {}};
    cases[2].after.FeatherFreq = 1.0f;
    cases[3] = {"attenuation", {}};
    cases[3].after.AttenuateDb = 12.0f;
    cases[4] = {"smoothing", {}};
    cases[4].after.SmoothMs = 60.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        mClock.SetFreeRunning(false);
        mReader.Close();
        Open(rate, frames, 200, fftSize, overlap);
        mThread->PostArea(NarrowArea()); // the hard cut
        const int64_t ring = mSound.BufferBytes() / 4;
        int64_t postedAt = -1;
        const std::vector<int16_t> heard = PlayToTheEnd(frames, [&](int64_t frame) {
            if (postedAt < 0 && frame >= frames / 2) {
                mThread->PostSoftCut(c.after);
                postedAt = frame; // the frames played and read so far
            }
        });
        ASSERT_GT(postedAt, 0);
        const std::vector<int16_t> unchanged =
            FilteredStream(mInput, rate, fftSize, overlap, NarrowArea());
        const std::vector<int16_t> switched =
            SwitchedStream(mInput, rate, fftSize, overlap, NarrowArea(), {{postedAt, c.after}});
        ASSERT_EQ(switched.size(), mInput.size());
        // What was heard is the stream switched exactly where the reader stood at the post:
        // the change reached the filter whole, between two frames, before the next pump.
        ASSERT_GE(heard.size(), static_cast<size_t>(ring) * 2 + switched.size());
        EXPECT_TRUE(std::equal(switched.begin(), switched.end(), heard.begin() + 2 * ring));
        // Output k is heard at ring + k, and the first frame after the post changes output
        // from postedAt on: the change is heard one ring (plus at most a hop) after the post,
        // and nothing before it changes.
        int64_t first = -1;
        for (int64_t k = 0; k < frames && first < 0; ++k)
            if (switched[static_cast<size_t>(2 * k)] != unchanged[static_cast<size_t>(2 * k)] ||
                switched[static_cast<size_t>(2 * k + 1)] !=
                    unchanged[static_cast<size_t>(2 * k + 1)])
                first = k;
        EXPECT_GE(first, postedAt);
        EXPECT_LE(first, postedAt + hop);
    }
}

} // namespace
} // namespace varnel
