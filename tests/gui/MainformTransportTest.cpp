#include "gui/WindowFixture.h"

#include "audio/Twave.h"
#include "settings/Setform.h"
#include "visual/MapPicture.h"

#include "../audio/PlaybackTestSupport.h"
#include "support/AreaSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>

namespace varnel {
namespace {

using test::ToSamples;

// The window over a file of the stereo test mix, played on the test device: each playback
// cycle waits in the manual clock until the test steps it, after moving the play cursor.
class Transport : public ::testing::Test
{
protected:
    test::WindowFixture w;
    TForm1& f = *w.Form;
    std::vector<int16_t> mInput;
    std::string mPath;

    void Load(int rate, int frames)
    {
        mInput = test::StereoMix(frames, rate);
        mPath = w.Dir.File("mix.wav");
        test::WriteWav16(mPath, mInput, rate);
        f.LoadWaveFile(QString::fromStdString(mPath));
        ASSERT_TRUE(f.PlayIn.IsOpen);
    }

    // Presses play and waits until the thread sleeps after its first cycle.
    void Play()
    {
        const int sleeps = w.Clock.SleepsBegun();
        f.PlayButton->click();
        ASSERT_TRUE(f.Playing);
        ASSERT_TRUE(w.Clock.WaitForSleep(sleeps + 1));
    }

    // Presses pause: the held sleeps run free until the thread has parked.
    void Pause()
    {
        w.Clock.SetFreeRunning(true);
        f.PlayButton->click();
        w.Clock.SetFreeRunning(false);
        ASSERT_FALSE(f.Playing);
    }

    // One playback cycle after the cursor moved on by frames.
    void Cycle(int frames)
    {
        ASSERT_TRUE(w.Device->AdvanceCursor(frames * 4));
        ASSERT_TRUE(w.Clock.StepAndWait());
    }

    int RingFrames() const { return f.Dsound.BufferBytes() / 4; }

    // Moves the slider as the user would (not from the timer).
    void Seek(int frame) { f.PlayBar->setValue(frame); }

    int64_t MapSum() const
    {
        int64_t sum = 0;
        for (int slot = 0; slot < f.VisualMap.SlotCount(); ++slot)
            for (int row = 0; row < f.VisualMap.PanHeight(); ++row)
                for (int col = 0; col < f.VisualMap.PanWidth(); ++col)
                    sum += f.VisualMap.PanCell(slot, row, col);
        return sum;
    }

    static bool AllSilent(const std::vector<uint8_t>& bytes)
    {
        return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
    }
};

TEST_F(Transport, WithoutAFileTheTransportDoesNothing)
{
    f.PlayButton->click();
    f.RepeatBtn->click();
    f.VolumeBar->setValue(10);
    f.RewButton->click();
    EXPECT_FALSE(f.Playing);
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_FALSE(f.SoundThread->IsStarted());
    EXPECT_EQ(f.RepeatState, 0);
    EXPECT_EQ(f.Volume, 0);
    EXPECT_FALSE(f.Seeked);
}

// A pause and a play carry on where the sound was: what is still in the ring is heard.
// A seek made while stopped flushes the ring and the filter and clears the maps first.
TEST_F(Transport, PlayAfterASeekWhileStoppedFlushesOtherwiseContinues)
{
    Load(11025, 11025 * 4);
    Play();
    for (int i = 0; i < 6; ++i)
        Cycle(RingFrames() / 3);
    EXPECT_EQ(f.PlayButton->icon().cacheKey(), f.PlayImages[1].cacheKey()) << "drawn once";
    Pause();
    EXPECT_EQ(f.PlayButton->icon().cacheKey(), f.PlayImages[0].cacheKey());
    EXPECT_FALSE(f.Timer1->isActive());
    const int64_t pausedAt = f.PlayIn.TellFrame();
    ASSERT_GT(MapSum(), 0);

    Play();
    EXPECT_EQ(f.PlayIn.TellFrame(), pausedAt);
    EXPECT_GT(MapSum(), 0) << "a plain pause keeps the maps";
    w.Device->ClearHeard();
    Cycle(RingFrames() - 1);
    EXPECT_FALSE(AllSilent(w.Device->Heard())) << "the ring still holds the sound";
    Pause();

    Seek(11025);
    EXPECT_TRUE(f.Seeked);
    Play();
    EXPECT_FALSE(f.Seeked);
    EXPECT_EQ(MapSum(), 0) << "the maps were cleared";
    w.Device->ClearHeard();
    Cycle(RingFrames() - 1);
    EXPECT_TRUE(AllSilent(w.Device->Heard())) << "the ring was flushed";
    EXPECT_GT(f.PlayIn.TellFrame(), 11025) << "reading goes on from the seek";
    Pause();
}

TEST_F(Transport, RewindWhilePlayingSeeksToTheStartAndKeepsPlaying)
{
    Load(11025, 11025 * 4);
    Play();
    for (int i = 0; i < 8; ++i)
        Cycle(RingFrames() / 2);
    f.Timer1Timer();
    ASSERT_GT(f.PlayBar->value(), RingFrames());
    f.RewButton->click();
    EXPECT_EQ(f.PlayBar->value(), 0);
    EXPECT_TRUE(f.Seeked);
    Cycle(100);
    EXPECT_TRUE(f.Playing);
    EXPECT_LE(f.PlayIn.TellFrame(), 100) << "the next cycle reads from the start";
    Pause();
}

TEST_F(Transport, RepeatPointsAreHeardPositionsInOrder)
{
    Load(11025, 11025 * 8);
    const int latency = f.PlayLatency;
    ASSERT_EQ(latency, 5512 / 5 + 2048 - 128); // 200 ms of half the rate, FFT less one hop

    const struct
    {
        int SliderFirst, SliderSecond, PointA, PointB;
    } cases[] = {
        {30000, 40000, 30000 - latency, 40000 - latency},
        {40000, 30000, 30000 - latency, 40000 - latency}, // the later point first: swapped
        {latency / 2, 20000, 0, 20000 - latency},         // before the latency: 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.SliderFirst);
        Seek(c.SliderFirst);
        f.RepeatBtn->click();
        EXPECT_EQ(f.RepeatState, 1);
        EXPECT_EQ(f.RepeatBtn->icon().cacheKey(), f.ABImages[1].cacheKey());
        Seek(c.SliderSecond);
        f.RepeatBtn->click();
        EXPECT_EQ(f.RepeatState, 2);
        EXPECT_EQ(f.PointA, c.PointA);
        EXPECT_EQ(f.PointB, c.PointB);
        EXPECT_EQ(f.RepeatBtn->icon().cacheKey(), f.ABImages[2].cacheKey());
        f.RepeatBtn->click();
        EXPECT_EQ(f.RepeatState, 0);
        EXPECT_EQ(f.PointA, 0);
        EXPECT_EQ(f.PointB, 0);
        EXPECT_EQ(f.RepeatBtn->icon().cacheKey(), f.ABImages[0].cacheKey());
    }
}

// While looping, the reader is sent back to A whenever it passes B.
TEST_F(Transport, RepeatLoopSendsTheReaderBackToA)
{
    Load(11025, 11025 * 8);
    f.RepeatState = 2;
    f.PointA = 5000;
    f.PointB = 9000;
    Play();
    bool looped = false;
    for (int i = 0; i < 40 && !looped; ++i) {
        Cycle(RingFrames() / 4);
        const int before = static_cast<int>(f.PlayIn.TellFrame());
        f.Timer1Timer();
        if (before >= 9000) {
            EXPECT_EQ(f.PlayBar->value(), 5000);
            EXPECT_TRUE(f.Seeked);
            looped = true;
        }
    }
    ASSERT_TRUE(looped);
    Cycle(10);
    EXPECT_GE(f.PlayIn.TellFrame(), 5000);
    EXPECT_LT(f.PlayIn.TellFrame(), 9000);
    Pause();
}

TEST_F(Transport, VolumeFollowsTheSliderCurve)
{
    Load(11025, 11025);
    const struct
    {
        int Position, Volume;
    } rows[] = {{19, -2}, {18, -14}, {15, -139}, {10, -790}, {5, -2178}, {0, -4472}, {20, 0}};
    for (const auto& r : rows) {
        f.VolumeBar->setValue(r.Position);
        EXPECT_EQ(f.Volume, r.Volume) << r.Position;
    }
}

TEST_F(Transport, TimeLabelShowsTheHeardPosition)
{
    const struct
    {
        int Rate, Frames, HeardSeconds;
        const char* Text;
    } cases[] = {
        {8000, 8000 * 80, 75, "01:15"},
        {100, 100 * 3800, 3725, "1:02:05"}, // a low rate keeps an hour-long file small
        {100, 100 * 3800, 3600, "1:00:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        Load(c.Rate, c.Frames);
        Seek(c.HeardSeconds * c.Rate + f.PlayLatency);
        EXPECT_EQ(f.TstmpLbl->text(), c.Text);
        Seek(f.PlayLatency - 1);
        EXPECT_EQ(f.TstmpLbl->text(), "00:00") << "before the latency counts as 0";
    }
}

// A file cut short while it plays (another program rewrote it): playback stops where the
// sound ends, a message says the file could no longer be read, and the window goes on: the
// next play stops with the message again, and another file plays.
TEST_F(Transport, FileCutShortWhilePlayingStopsWithAReadingMessage)
{
    // 2.6 MB: beyond what the reader holds buffered, so the cut is met while playing.
    Load(11025, 11025 * 60);
    Play();
    for (int i = 0; i < 3; ++i)
        Cycle(RingFrames() / 2);
    f.Timer1Timer();
    std::filesystem::resize_file(mPath, 44 + 4 * 11025); // one second of sound left
    int64_t last = -1;
    for (int cycles = 0; cycles < 200 && f.PlayIn.TellFrame() != last; ++cycles) {
        last = f.PlayIn.TellFrame();
        Cycle(RingFrames() - 1);
    }
    ASSERT_LT(f.PlayIn.TellFrame(), 11025 * 60) << "the reader stands still short of the end";
    ASSERT_TRUE(f.Playing);
    ASSERT_TRUE(w.Boxes.Messages.empty());

    w.Clock.SetFreeRunning(true); // the tick pauses, which waits for the held thread
    f.Timer1Timer();
    w.Clock.SetFreeRunning(false);
    EXPECT_FALSE(f.Playing);
    EXPECT_FALSE(f.Timer1->isActive());
    ASSERT_EQ(w.Boxes.Messages.size(), 1u);
    EXPECT_EQ(w.Boxes.Messages[0].Kind, MessageKind::Warning);
    const QString readFault = FileMessageText(QString::fromStdString(mPath),
                                              QString::fromStdString(f.LangSet.ReadFaultText()));
    EXPECT_EQ(w.Boxes.Messages[0].Text, readFault);

    // Playing on at the cut meets it at once and says so again.
    Play();
    Cycle(RingFrames() - 1);
    w.Clock.SetFreeRunning(true);
    f.Timer1Timer();
    w.Clock.SetFreeRunning(false);
    EXPECT_FALSE(f.Playing);
    ASSERT_EQ(w.Boxes.Messages.size(), 2u);
    EXPECT_EQ(w.Boxes.Messages[1].Text, readFault);

    // Another file loads and plays.
    Load(11025, 11025 * 4);
    Play();
    Cycle(RingFrames() / 2);
    f.Timer1Timer();
    EXPECT_TRUE(f.Playing);
    EXPECT_GT(f.PlayBar->value(), 0);
    EXPECT_EQ(w.Boxes.Messages.size(), 2u);
    Pause();
}

// At the end of the file playback pauses and the slider goes back to 0; the next play starts
// from the beginning after a flush.
TEST_F(Transport, ReachingTheEndPausesAndRewinds)
{
    Load(11025, 11025);
    Play();
    // The tick that finds the reader at the end pauses, which waits for the held thread.
    for (int ticks = 0; ticks < 100; ++ticks) {
        Cycle(RingFrames() / 2);
        if (f.PlayIn.TellFrame() >= 11025)
            break;
        f.Timer1Timer();
    }
    ASSERT_TRUE(f.Playing);
    ASSERT_EQ(f.PlayIn.TellFrame(), 11025);
    w.Clock.SetFreeRunning(true);
    f.Timer1Timer();
    w.Clock.SetFreeRunning(false);
    EXPECT_FALSE(f.Playing);
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_EQ(f.PlayBar->value(), 0);
    EXPECT_TRUE(f.Seeked);
    Play();
    EXPECT_EQ(MapSum(), 0);
    Cycle(100);
    EXPECT_LE(f.PlayIn.TellFrame(), 100);
    Pause();
}

// Visuals off: the timer moves the slider but never recomposes. Visuals on but the thread
// falling behind: every eleventh tick recomposes.
TEST_F(Transport, TimerRedrawsOnlyWithVisualsAndThrottlesWhenOverloaded)
{
    Load(11025, 11025 * 20);
    // Each cycle's pump "takes" 100 ms of the clock for about 23 ms of sound: overloaded.
    bool slow = false;
    w.Device->SetCursorReadHook([&] {
        if (slow)
            w.Clock.AdvanceMs(100);
    });
    const auto composes = [&](int ticks) {
        int count = 0;
        for (int i = 0; i < ticks; ++i) {
            Cycle(256);
            const qint64 before = f.ScreenMap->Screen1Image().cacheKey();
            f.Timer1Timer();
            count += f.ScreenMap->Screen1Image().cacheKey() != before;
        }
        return count;
    };
    Play();
    EXPECT_EQ(composes(5), 5);
    f.VisOffCheck->setChecked(true);
    const int positionBefore = f.PlayBar->value();
    EXPECT_EQ(composes(5), 0);
    EXPECT_GT(f.PlayBar->value(), positionBefore);
    f.VisOffCheck->setChecked(false);
    slow = true;
    Cycle(256);
    ASSERT_TRUE(f.SoundThread->Overloaded());
    f.OverloadTicks = 0;
    EXPECT_EQ(composes(22), 2);
    slow = false;
    Pause();
    w.Device->SetCursorReadHook(nullptr);
}

// What the window plays is the filtered file, and what its screens show is what the map
// renderer draws for the same heard moment and area.
TEST_F(Transport, PlaysTheFilteredMixAndShowsTheRenderedMaps)
{
    const int rate = 11025;
    const int frames = 3 * rate;
    Load(rate, frames);
    const FilterArea area =
        test::AreaOf(f.PanLow, f.PanHigh, f.FreqLowHz, f.FreqHighHz, f.DepthLow, f.DepthHigh);
    const std::vector<int16_t> expected =
        test::FilteredStream(mInput, rate, f.FftSize, f.Overlap, area);

    Play();
    bool compared = false;
    for (;;) {
        Cycle(RingFrames() / 3);
        const int64_t reader = f.PlayIn.TellFrame();
        if (reader >= frames)
            break; // the tick would pause, which waits for the held thread
        f.Timer1Timer();
        if (!compared && reader >= frames / 2) {
            TWaveData input;
            ASSERT_EQ(input.OpenRead(mPath), 0);
            MapPictureRequest request;
            request.AtSeconds = (static_cast<double>(reader - f.PlayLatency) + 0.5) / rate;
            const MapPictureResult rendered = RenderMapPicture(input, request);
            ASSERT_EQ(rendered.Status, MapPictureStatus::Done);
            ASSERT_EQ(rendered.ReaderFrame, reader);
            EXPECT_TRUE(rendered.Picture == MapAreaPicture(*f.ScreenMap));
            compared = true;
        }
    }
    EXPECT_TRUE(compared);
    for (int i = 0; i < 6; ++i)
        Cycle(RingFrames() / 2);
    Pause();

    const std::vector<int16_t> heard = ToSamples(w.Device->Heard());
    const size_t ring = static_cast<size_t>(RingFrames()) * 2;
    const size_t latency = static_cast<size_t>(f.FftSize - f.FftSize / f.Overlap) * 2;
    const size_t total = static_cast<size_t>(frames) * 2;
    ASSERT_GE(heard.size(), ring + total);
    // After the ring's first silence and the filter's delay: the filtered file, up to its end.
    const auto from = heard.begin() + static_cast<long>(ring + latency);
    EXPECT_TRUE(std::equal(from, from + static_cast<long>(total - latency),
                           expected.begin() + static_cast<long>(latency)));
    EXPECT_NE(expected, mInput) << "the start-up area does filter the mix";
}

// The options stop playback as they open, and what OK confirms there is heard from where
// it stopped. Once asked to keep playing (from the next opening), playback goes on and each
// change on the soft cut's page reaches the playing filter before the next pump, so it is
// heard one ring later; Cancel takes the soft cut in effect back, OK keeps the edited one.
TEST_F(Transport, SoftCutEditedInTheOptionsIsHeardWhilePlaying)
{
    const int rate = 11025;
    const int frames = 4 * rate;
    Load(rate, frames);
    TSetOptForm options(nullptr, QString::fromStdString(w.Dir.File("varnel.ini")));
    SetOptForm = &options;
    const FilterArea area =
        test::AreaOf(f.PanLow, f.PanHigh, f.FreqLowHz, f.FreqHighHz, f.DepthLow, f.DepthHigh);
    SoftCut edited;
    edited.AttenuateDb = 12.0f;
    edited.FeatherPanDb = 6.0f;
    SoftCut louder = edited;
    louder.AttenuateDb = 24.0f;

    Play();
    Cycle(RingFrames() / 3);
    int64_t stoppedAt = -1;
    QTimer::singleShot(0, [&] {
        EXPECT_FALSE(f.Playing) << "the options opened while playing";
        stoppedAt = f.PlayIn.TellFrame();
        options.AttenuateBox->setValue(12.0);
        options.FeatherPanBox->setValue(6.0);
        options.KeepPlayingCheck->click();
        options.OKBtn->click();
    });
    w.Clock.SetFreeRunning(true); // the pause returns once the thread has parked
    f.SetBtn->click();
    w.Clock.SetFreeRunning(false);
    ASSERT_FALSE(f.Playing);
    EXPECT_EQ(f.Soft, edited);

    Play();
    Cycle(RingFrames() / 3);
    // First Cancel: the edit is heard while the dialog is open, then the soft cut in effect.
    int64_t editedAt = -1, cancelledAt = -1;
    QTimer::singleShot(0, [&] {
        ASSERT_EQ(QApplication::activeModalWidget(), &options);
        ASSERT_TRUE(f.Playing);
        editedAt = f.PlayIn.TellFrame(); // the thread waits in its sleep: the reader stands
        options.AttenuateBox->setValue(24.0);
        for (int i = 0; i < 4; ++i)
            Cycle(RingFrames() / 3);
        cancelledAt = f.PlayIn.TellFrame();
        options.CancelBtn->click();
    });
    f.SetBtn->click();
    EXPECT_TRUE(f.Playing) << "the options leave playback running when nothing reloads";
    EXPECT_EQ(f.Soft, edited);
    // Then OK with the same edits, kept from here on.
    int64_t keptAt = -1;
    QTimer::singleShot(0, [&] {
        Cycle(RingFrames() / 3);
        keptAt = f.PlayIn.TellFrame();
        options.AttenuateBox->setValue(24.0);
        options.OKBtn->click();
    });
    f.SetBtn->click();
    EXPECT_TRUE(f.Playing);
    EXPECT_EQ(f.Soft, louder);
    EXPECT_EQ(options.GetSoftCut(), louder);
    while (f.PlayIn.TellFrame() < frames)
        Cycle(RingFrames() / 3);
    for (int i = 0; i < 6; ++i)
        Cycle(RingFrames() / 2);
    Pause();
    SetOptForm = nullptr;
    ASSERT_GT(stoppedAt, 0);
    ASSERT_GT(editedAt, stoppedAt);
    ASSERT_GT(cancelledAt, editedAt);
    ASSERT_GT(keptAt, cancelledAt);

    // Each switch took effect where the reader stood when it was made.
    const std::vector<int16_t> expected = test::SwitchedStream(
        mInput, rate, f.FftSize, f.Overlap, area,
        {{stoppedAt, edited}, {editedAt, louder}, {cancelledAt, edited}, {keptAt, louder}});
    const std::vector<int16_t> heard = ToSamples(w.Device->Heard());
    const size_t ring = static_cast<size_t>(RingFrames()) * 2;
    ASSERT_GE(heard.size(), ring + expected.size());
    EXPECT_TRUE(
        std::equal(expected.begin(), expected.end(), heard.begin() + static_cast<long>(ring)));
    // The edits do change what is heard, from the first frame after each switch on.
    const std::vector<int16_t> hard =
        test::FilteredStream(mInput, rate, f.FftSize, f.Overlap, area);
    const auto differs = [&](int64_t from, int64_t to) {
        return !std::equal(hard.begin() + 2 * from, hard.begin() + 2 * to,
                           expected.begin() + 2 * from);
    };
    const int hop = f.FftSize / f.Overlap;
    EXPECT_FALSE(differs(0, stoppedAt));
    EXPECT_TRUE(differs(stoppedAt, stoppedAt + hop));
    EXPECT_TRUE(differs(keptAt, keptAt + hop));
}

} // namespace
} // namespace varnel
