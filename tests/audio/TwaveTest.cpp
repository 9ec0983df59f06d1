#include "audio/Twave.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace varnel {
namespace {

using test::ReadFileBytes;
using test::ReadWavSamples;
using test::TempDir;
using test::WriteWav16;

uint32_t U32At(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t U16At(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

WaveFormat StereoFormat(uint32_t rate)
{
    return WaveFormat::PcmStereo16(rate);
}

std::vector<int16_t> Ramp(int frames)
{
    std::vector<int16_t> s(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        s[2 * static_cast<size_t>(i)] = static_cast<int16_t>(i * 7 - 20000);
        s[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(-i * 3);
    }
    return s;
}

TEST(TWaveData, SavedFileHasTheFortySixByteLayout)
{
    TempDir dir;
    for (int frames : {0, 1, 1000}) {
        SCOPED_TRACE(frames);
        const std::string path = dir.File("out.wav");
        const std::vector<int16_t> samples = Ramp(frames);
        TWaveData out;
        out.Format = StereoFormat(48000);
        out.Format.ExtraSize = 7; // no extension bytes are written, so 7 must not reach the file
        ASSERT_EQ(out.OpenWrite(path), 0);
        EXPECT_EQ(out.Mode, WaveMode::Writing);
        EXPECT_FALSE(out.IsOpen);
        const int bytes = frames * 4;
        ASSERT_EQ(out.Write(samples.data(), bytes), bytes);
        ASSERT_EQ(out.Close(), 0);

        const std::vector<uint8_t> b = ReadFileBytes(path);
        ASSERT_EQ(b.size(), 46u + 4u * static_cast<size_t>(frames));
        EXPECT_EQ(std::memcmp(b.data(), "RIFF", 4), 0);
        EXPECT_EQ(U32At(b, 4), 38u + 4u * static_cast<uint32_t>(frames));
        EXPECT_EQ(std::memcmp(b.data() + 8, "WAVEfmt ", 8), 0);
        EXPECT_EQ(U32At(b, 16), 18u);
        EXPECT_EQ(U16At(b, 20), 1);
        EXPECT_EQ(U16At(b, 22), 2);
        EXPECT_EQ(U32At(b, 24), 48000u);
        EXPECT_EQ(U32At(b, 28), 192000u);
        EXPECT_EQ(U16At(b, 32), 4);
        EXPECT_EQ(U16At(b, 34), 16);
        EXPECT_EQ(U16At(b, 36), 0);
        EXPECT_EQ(std::memcmp(b.data() + 38, "data", 4), 0);
        EXPECT_EQ(U32At(b, 42), 4u * static_cast<uint32_t>(frames));
        EXPECT_EQ(ReadWavSamples(path), samples);
    }
}

TEST(TWaveData, ReadsSeeksAndTellsByFrames)
{
    TempDir dir;
    const std::string path = dir.File("in.wav");
    const std::vector<int16_t> samples = Ramp(500);
    WriteWav16(path, samples, 22050);

    TWaveData in;
    ASSERT_EQ(in.OpenRead(path), 0);
    EXPECT_TRUE(in.IsOpen);
    EXPECT_EQ(in.Mode, WaveMode::Reading);
    EXPECT_EQ(in.DataStart, 44);
    EXPECT_EQ(in.DataSize, 2000u);
    EXPECT_EQ(in.FrameCount(), 500);
    EXPECT_EQ(in.Format.SamplesPerSec, 22050u);
    EXPECT_EQ(in.TellFrame(), 0);

    std::vector<int16_t> got(2 * 300);
    ASSERT_EQ(in.Read(got.data(), 1200), 1200);
    EXPECT_EQ(in.TellFrame(), 300);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), samples.begin()));

    EXPECT_EQ(in.SeekFrame(123), 44 + 123 * 4);
    EXPECT_EQ(in.TellFrame(), 123);
    int16_t frame[2];
    ASSERT_EQ(in.Read(frame, 4), 4);
    EXPECT_EQ(frame[0], samples[246]);
    EXPECT_EQ(frame[1], samples[247]);

    // Near the end a read is short, then 0; past the end it stays 0.
    ASSERT_EQ(in.SeekFrame(498), 44 + 498 * 4);
    EXPECT_EQ(in.Read(got.data(), 1200), 8);
    EXPECT_EQ(in.Read(got.data(), 1200), 0);
    EXPECT_EQ(in.SeekFrame(10000), 44 + 40000);
    EXPECT_EQ(in.Read(got.data(), 4), 0);

    EXPECT_EQ(in.SeekFrame(-1), -1);
    EXPECT_EQ(in.Write(got.data(), 4), -1) << "a reader does not write";
    EXPECT_EQ(in.Close(), 0);
    EXPECT_FALSE(in.IsOpen);
    EXPECT_EQ(in.TellFrame(), 0);
    EXPECT_EQ(in.Close(), 0) << "closing twice changes nothing";
    EXPECT_EQ(in.Read(got.data(), 4), -1);

    // Reopening after Close works; a failed open leaves the object closed.
    ASSERT_EQ(in.OpenRead(path), 0);
    EXPECT_EQ(in.OpenRead(dir.File("missing.wav")), 1);
    EXPECT_FALSE(in.IsOpen);
    EXPECT_EQ(in.Close(), 0);
}

// Threads read and write by position without touching the owner's place: reads beside the
// owner's own reads, writes from two threads in any order, and the end cut where the owner
// says, with a write failure reported by Close.
TEST(TWaveData, ReadsAndWritesByPosition)
{
    TempDir dir;
    const std::string path = dir.File("in.wav");
    const std::vector<int16_t> samples = Ramp(5000);
    WriteWav16(path, samples, 22050);
    TWaveData in;
    ASSERT_EQ(in.OpenRead(path), 0);
    std::vector<int16_t> got(2 * 100);
    ASSERT_EQ(in.Read(got.data(), 40), 40);
    const struct
    {
        int64_t frame, frames, bytes;
    } reads[] = {{4000, 100, 400}, {0, 100, 400}, {4950, 100, 200}, {5000, 1, 0}, {-1, 1, -1}};
    for (const auto& r : reads) {
        SCOPED_TRACE(r.frame);
        EXPECT_EQ(in.ReadFramesAt(r.frame, got.data(), r.frames), r.bytes);
        if (r.bytes > 0) {
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + r.bytes / 2,
                                   samples.begin() + 2 * r.frame));
        }
    }
    int16_t next[2];
    ASSERT_EQ(in.Read(next, 4), 4) << "the owner's reads go on where they were";
    EXPECT_EQ(next[0], samples[20]);
    EXPECT_EQ(in.TellFrame(), 11);

    for (const bool failed : {false, true}) {
        SCOPED_TRACE(failed);
        const std::string out = dir.File("out.wav");
        TWaveData w;
        w.Format = StereoFormat(22050);
        ASSERT_EQ(w.OpenWrite(out), 0);
        ASSERT_EQ(w.Write(samples.data(), 400), 400);
        ASSERT_EQ(w.BeginWritesAt(), 100);
        // Two threads write the second and first half of frames 100..5000, then 200 frames of
        // noise past them that the end cuts off.
        const std::vector<int16_t> noise(400, 12345);
        std::thread late([&] {
            EXPECT_EQ(w.WriteFramesAt(2500, samples.data() + 5000, 2500), 10000);
            EXPECT_EQ(w.WriteFramesAt(5000, noise.data(), 200), 800);
        });
        EXPECT_EQ(w.WriteFramesAt(100, samples.data() + 200, 2400), 9600);
        late.join();
        EXPECT_TRUE(w.EndDataAt(failed ? 3000 : 5000, failed ? ENOSPC : 0));
        EXPECT_EQ(w.Close(), failed ? -1 : 0);
        EXPECT_EQ(w.LastError().value(), failed ? ENOSPC : 0);
        EXPECT_EQ(ReadFileBytes(out).size(), 46u + (failed ? 12000u : 20000u));
        const std::vector<int16_t> written = ReadWavSamples(out);
        ASSERT_EQ(written.size(), failed ? 6000u : 10000u);
        EXPECT_TRUE(std::equal(written.begin(), written.end(), samples.begin()));
    }
    EXPECT_EQ(in.WriteFramesAt(0, samples.data(), 1), -1) << "a reader does not write";
}

// The GUI thread asks for the position while the playback thread reads: it sees only
// positions the reader has reached after a whole read, never going back.
TEST(TWaveData, TellFrameIsConsistentDuringConcurrentReads)
{
    TempDir dir;
    const std::string path = dir.File("in.wav");
    constexpr int kFrames = 400000;
    constexpr int kBlockFrames = 997;
    WriteWav16(path, Ramp(kFrames));
    TWaveData in;
    ASSERT_EQ(in.OpenRead(path), 0);

    std::atomic<bool> polling{false};
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!polling) {
        }
        std::vector<uint8_t> block(4 * kBlockFrames);
        while (in.Read(block.data(), static_cast<int>(block.size())) > 0) {
        }
        done = true;
    });
    int64_t polls = 0;
    int64_t last = 0;
    bool consistent = true;
    polling = true;
    // Poll at least once: on a busy machine the reader may finish before the first look.
    do {
        const int64_t f = in.TellFrame();
        consistent = consistent && f >= last && (f % kBlockFrames == 0 || f == kFrames);
        last = f;
        ++polls;
    } while (!done);
    reader.join();
    EXPECT_TRUE(consistent);
    EXPECT_GT(polls, 0);
    EXPECT_EQ(in.TellFrame(), kFrames);
    in.Close();
}

#if !defined(_WIN32)
// A disk that fills up part way through a save: the file must still be a valid WAV holding
// the whole frames that reached it.
TEST(TWaveData, FailedWriteLeavesValidFileOfWhatReachedTheDisk)
{
    TempDir dir;
    const std::string path = dir.File("limited.wav");
    constexpr rlim_t kLimit = 300000; // between two flushes of the 128 KiB buffer, not on a frame
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = kLimit + 1;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);

    TWaveData out;
    out.Format = StereoFormat(44100);
    ASSERT_EQ(out.OpenWrite(path), 0);
    const std::vector<int16_t> block = Ramp(22050);
    int failedAt = -1;
    for (int i = 0; i < 10 && failedAt < 0; ++i)
        if (out.Write(block.data(), 88200) < 0)
            failedAt = i;
    const int closed = out.Close();

    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_GE(failedAt, 0);
    EXPECT_EQ(closed, -1) << "the failure is reported";
    const std::vector<uint8_t> b = ReadFileBytes(path);
    ASSERT_GE(b.size(), 46u);
    EXPECT_LE(b.size(), kLimit + 1);
    EXPECT_EQ((b.size() - 46) % 4, 0u);
    EXPECT_EQ(U32At(b, 4), b.size() - 8);
    EXPECT_EQ(U32At(b, 42), b.size() - 46);
    const std::vector<int16_t> samples = ReadWavSamples(path);
    ASSERT_FALSE(samples.empty());
    EXPECT_TRUE(std::equal(samples.begin(), samples.begin() + 2 * 22050, block.begin()));
}

// Offsets past 2 GiB and 4 GiB of data, kept sparse so the test costs no disk space.
TEST(TWaveData, ReadsNearTheFourGibibyteLimit)
{
    TempDir dir;
    const std::string path = dir.File("big.wav");
    constexpr uint32_t kDataBytes = 0xFFFFFF00u;
    {
        std::vector<uint8_t> header(44);
        WriteWav16(path, {});
        header = ReadFileBytes(path);
        ASSERT_EQ(header.size(), 44u);
        for (int i = 0; i < 4; ++i) {
            header[4 + i] = static_cast<uint8_t>((kDataBytes + 36) >> (8 * i));
            header[40 + i] = static_cast<uint8_t>(kDataBytes >> (8 * i));
        }
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(header.data(), 1, 44, f), 44u);
        const int16_t last[2] = {1234, -4321};
        ASSERT_EQ(fseeko(f, static_cast<off_t>(44) + kDataBytes - 4, SEEK_SET), 0);
        ASSERT_EQ(std::fwrite(last, 1, 4, f), 4u);
        ASSERT_EQ(std::fclose(f), 0);
    }
    TWaveData in;
    ASSERT_EQ(in.OpenRead(path), 0);
    EXPECT_EQ(in.DataSize, kDataBytes);
    const int64_t frames = in.FrameCount();
    EXPECT_EQ(frames, int64_t{kDataBytes / 4});
    EXPECT_EQ(in.SeekFrame(frames - 1), 44 + int64_t{kDataBytes} - 4);
    EXPECT_EQ(in.TellFrame(), frames - 1);
    int16_t got[2] = {0, 0};
    ASSERT_EQ(in.Read(got, 8), 4);
    EXPECT_EQ(got[0], 1234);
    EXPECT_EQ(got[1], -4321);
    EXPECT_EQ(in.TellFrame(), frames);
    in.Close();
}
#endif

} // namespace
} // namespace varnel
