#include "audio/ExportJob.h"

#include "audio/Twave.h"
#include "support/AreaSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace varnel {
namespace {

using test::MixLike;
using test::ReadFileBytes;
using test::ReadWavSamples;
using test::TempDir;
using test::WriteWav16;

FilterArea SomeArea()
{
    return test::AreaOf(0.31623f, 3.1623f, 150.0f, 5000.0f, 0.0f, 1.5707964f);
}

struct ExportResult
{
    int message = -1;
    int closeResult = -1;
    int64_t written = 0;
    bool aborted = false;
    std::vector<int64_t> progress;
    std::vector<int16_t> samples;
};

ExportResult Export(const std::string& in, const std::string& out, const ExportSettings& settings,
                    bool abortAtOnce = false, int abortAtProgress = 0)
{
    ExportResult r;
    TWaveData reader;
    TWaveData writer;
    EXPECT_EQ(reader.OpenRead(in), 0);
    writer.Format = reader.Format;
    EXPECT_EQ(writer.OpenWrite(out), 0);
    ExportJob job(reader, writer, settings);
    std::atomic<bool> abort{abortAtOnce};
    r.message = job.Run(
        [&](int64_t written, int64_t) {
            r.progress.push_back(written);
            if (static_cast<int>(r.progress.size()) == abortAtProgress)
                abort = true;
        },
        abort);
    r.written = job.Written();
    r.aborted = job.Aborted();
    r.closeResult = writer.Close();
    reader.Close();
    r.samples = ReadWavSamples(out);
    return r;
}

ExportSettings Settings(int fftSize, int overlap, const FilterArea& area)
{
    ExportSettings s;
    s.FftSize = fftSize;
    s.Overlap = overlap;
    s.Area = area;
    return s;
}

// An A-B save must hold exactly the frames A..B-1 of the whole-file save: same hop grid, real
// context on both sides, nothing shifted or lost at the ends.
TEST(ExportJob, AbSaveEqualsTheMatchingFramesOfAWholeSave)
{
    TempDir dir;
    constexpr int kRate = 44100;
    constexpr int kFrames = 120000;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(kFrames, kRate), kRate);

    for (int overlap : {16, 4}) {
        SCOPED_TRACE(overlap);
        const ExportSettings whole = Settings(8192, overlap, SomeArea());
        const ExportResult full = Export(in, dir.File("whole.wav"), whole);
        ASSERT_EQ(full.message, 0);
        ASSERT_EQ(full.samples.size(), 2u * kFrames);

        const struct
        {
            int64_t a, b;
        } stretches[] = {
            {0, 1000},
            {100, 5000},
            {8191, 8193},
            {30000, 74101},
            {kFrames - 3000, kFrames},
            {kFrames - 100, kFrames - 1},
            {7000, 100},                   // given backwards
            {kFrames - 10, kFrames + 500}, // past the end: cut at the end
        };
        for (const auto& st : stretches) {
            SCOPED_TRACE(std::to_string(st.a) + ".." + std::to_string(st.b));
            ExportSettings ab = whole;
            ab.SaveAB = true;
            ab.PointA = st.a;
            ab.PointB = st.b;
            const ExportResult part = Export(in, dir.File("ab.wav"), ab);
            ASSERT_EQ(part.message, 0);
            const int64_t first = std::min(st.a, st.b);
            const int64_t end = std::min<int64_t>(std::max(st.a, st.b), kFrames);
            ASSERT_EQ(part.samples.size(), static_cast<size_t>(2 * (end - first)));
            EXPECT_TRUE(std::equal(part.samples.begin(), part.samples.end(),
                                   full.samples.begin() + 2 * first));
        }
    }
}

// With every bin kept the filter gives its input back; an aligned save has it at the same
// frame index, from the first frame to the last.
TEST(ExportJob, WidestAreaGivesTheInputBackAtTheSameFrame)
{
    TempDir dir;
    constexpr int kRate = 44100;
    constexpr int kFrames = 50000;
    constexpr double kAmplitude = 10000.0;
    std::vector<int16_t> sine(2 * kFrames);
    for (int i = 0; i < kFrames; ++i)
        sine[2 * static_cast<size_t>(i)] = sine[2 * static_cast<size_t>(i) + 1] =
            static_cast<int16_t>(kAmplitude * std::sin(2 * M_PI * 1000.0 * i / kRate));
    const std::string in = dir.File("sine.wav");
    WriteWav16(in, sine, kRate);

    const ExportResult r =
        Export(in, dir.File("out.wav"), Settings(8192, 16, FilterArea::Widest(kRate)));
    ASSERT_EQ(r.message, 0);
    ASSERT_EQ(r.samples.size(), sine.size());
    constexpr size_t kEdge = 8192; // one frame length at each end of the file
    double worstInside = 0.0;
    double worstEdge = 0.0;
    for (size_t i = 0; i < sine.size(); ++i) {
        const double e = std::fabs(static_cast<double>(r.samples[i]) - sine[i]);
        const bool inside = i >= 2 * kEdge && i < sine.size() - 2 * kEdge;
        (inside ? worstInside : worstEdge) = std::max(inside ? worstInside : worstEdge, e);
    }
    // 0.1% of the amplitude: the Hann overlap-add is exact, what is left is float rounding and
    // truncation to integers.
    EXPECT_LE(worstInside, 0.001 * kAmplitude);
    // 0.2% within a frame length of the file's ends: there the sine starts and stops abruptly,
    // and the part of that edge at the Nyquist bin, which the filter never keeps, is lost.
    EXPECT_LE(worstEdge, 0.002 * kAmplitude);
}

// 30000 frames at 44100 Hz are one half-second block of 88200 bytes and one of 31800.
TEST(ExportJob, WritesHalfSecondBlocksAndChecksAbortAfterEach)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(30000, 44100), 44100);
    const ExportSettings s = Settings(4096, 4, SomeArea());

    const ExportResult aborted = Export(in, dir.File("aborted.wav"), s, true);
    EXPECT_EQ(aborted.message, 0) << "an abort shows no message";
    EXPECT_TRUE(aborted.aborted) << "the owner tells an aborted save from a complete one by it";
    EXPECT_EQ(aborted.written, 88200);
    EXPECT_EQ(aborted.closeResult, 0);
    const std::vector<uint8_t> b = ReadFileBytes(dir.File("aborted.wav"));
    EXPECT_EQ(b.size(), 46u + 88200u) << "a valid file of one whole block";

    const ExportResult full = Export(in, dir.File("full.wav"), s);
    EXPECT_EQ(full.message, 0);
    EXPECT_FALSE(full.aborted);
    EXPECT_EQ(full.written, 120000);
    EXPECT_EQ(ReadFileBytes(dir.File("full.wav")).size(), 46u + 120000u);
    // The aborted save holds the same first block as the full one.
    EXPECT_TRUE(std::equal(aborted.samples.begin(), aborted.samples.end(), full.samples.begin()));
}

#if !defined(_WIN32)
// A data size of 0xFFFFFFFF over 4 GiB of samples holds more than a written WAV file can: the
// stretch ends where the output is full, known before the work starts, and its last frames
// are saved.
TEST(ExportJob, InputLongerThanAWavFileHoldsIsCutUpFront)
{
    TempDir dir;
    const std::string in = dir.File("huge.wav");
    WriteWav16(in, MixLike(1000, 44100), 44100);
    {
        std::fstream f(in, std::ios::binary | std::ios::in | std::ios::out);
        const char all[4] = {'\xFF', '\xFF', '\xFF', '\xFF'};
        f.seekp(40);
        f.write(all, 4);
    }
    std::filesystem::resize_file(in, 44 + (uint64_t{1} << 32)); // sparse: no disk used
    TWaveData reader;
    ASSERT_EQ(reader.OpenRead(in), 0);
    TWaveData writer;
    writer.Format = reader.Format;
    // The RIFF size field (38 header bytes + the samples) must fit in 32 bits: at most
    // 4294967257 sample bytes, 1073741814 whole frames.
    constexpr int64_t kMostFrames = 1073741814;
    ExportJob whole(reader, writer, Settings(4096, 4, SomeArea()));
    EXPECT_EQ(whole.TotalBytes(), kMostFrames * 4);

    // The tail of the file, up to "past the end", is the last 3000 frames a WAV file holds.
    ExportSettings tail = Settings(4096, 4, SomeArea());
    tail.SaveAB = true;
    tail.PointA = kMostFrames - 3000;
    tail.PointB = int64_t{1} << 40;
    const std::string out = dir.File("tail.wav");
    ASSERT_EQ(writer.OpenWrite(out), 0);
    ExportJob job(reader, writer, tail);
    std::atomic<bool> abort{false};
    EXPECT_EQ(job.Run(nullptr, abort), 0);
    EXPECT_EQ(job.Written(), 3000 * 4);
    EXPECT_EQ(writer.Close(), 0);
    EXPECT_EQ(ReadFileBytes(out).size(), 46u + 3000u * 4);
}
#endif

TEST(ExportJob, ProgressAfterEveryTwelfthBlockAndAtTheEnd)
{
    TempDir dir;
    constexpr int kRate = 8000; // blocks of 4000 frames, 16000 bytes
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(24 * 4000 + 100, kRate), kRate);
    const ExportResult r = Export(in, dir.File("out.wav"), Settings(2048, 4, SomeArea()));
    ASSERT_EQ(r.message, 0);
    const std::vector<int64_t> expected = {12 * 16000, 24 * 16000, 24 * 16000 + 400};
    EXPECT_EQ(r.progress, expected);
}

TEST(ExportJob, EmptyStretchWritesNothing)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(5000, 44100), 44100);
    for (int64_t point : {0, 2500, 5000, 9000}) {
        ExportSettings s = Settings(8192, 16, SomeArea());
        s.SaveAB = true;
        s.PointA = s.PointB = point;
        const ExportResult r = Export(in, dir.File("out.wav"), s);
        EXPECT_EQ(r.message, 0);
        EXPECT_TRUE(r.progress.empty());
        EXPECT_EQ(ReadFileBytes(dir.File("out.wav")).size(), 46u);
    }
}

TEST(ExportJob, FilterThatCannotBeSetUpGivesMessageSeven)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(5000, 44100), 44100);
    const ExportResult r = Export(in, dir.File("out.wav"), Settings(1000, 16, SomeArea()));
    EXPECT_EQ(r.message, 7);
    EXPECT_EQ(r.written, 0);
    EXPECT_EQ(ReadFileBytes(dir.File("out.wav")).size(), 46u);
}

// The input file shrinks while it is being saved: the save stops with the read-error message
// instead of waiting forever for frames that are gone, and what was written stays valid.
TEST(ExportJob, InputThatEndsEarlyGivesMessageEight)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(200000, 44100), 44100);
    TWaveData reader;
    TWaveData writer;
    ASSERT_EQ(reader.OpenRead(in), 0);
    std::filesystem::resize_file(in, 44 + 4 * 100000);
    writer.Format = reader.Format;
    ASSERT_EQ(writer.OpenWrite(dir.File("out.wav")), 0);
    ExportJob job(reader, writer, Settings(4096, 4, SomeArea()));
    std::atomic<bool> abort{false};
    EXPECT_EQ(job.Run(nullptr, abort), 8);
    EXPECT_GT(job.Written(), 0);
    EXPECT_LT(job.Written(), 4 * 200000);
    EXPECT_EQ(writer.Close(), 0);
    reader.Close();
    EXPECT_EQ(ReadWavSamples(dir.File("out.wav")).size(), static_cast<size_t>(job.Written() / 2));
}

TEST(ExportJob, ReaderThatIsNotOpenGivesMessageEight)
{
    TWaveData reader;
    TWaveData writer;
    ExportJob job(reader, writer, Settings(8192, 16, SomeArea()));
    std::atomic<bool> abort{false};
    EXPECT_EQ(job.Run(nullptr, abort), 8);
}

#if !defined(_WIN32)
TEST(ExportJob, WriteFailureGivesMessageEightAndAValidFile)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(120000, 44100), 44100);
    const std::string out = dir.File("out.wav");

    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 200001; // the disk fills part way through a block
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const ExportResult r = Export(in, out, Settings(4096, 4, SomeArea()));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(r.message, 8);
    EXPECT_EQ(r.closeResult, -1);
    const std::vector<uint8_t> b = ReadFileBytes(out);
    ASSERT_GT(b.size(), 46u);
    EXPECT_EQ((b.size() - 46) % 4, 0u);
    EXPECT_EQ(r.samples.size() * 2, b.size() - 46) << "the data size matches the file";

    if (std::filesystem::exists("/dev/full")) {
        TWaveData reader;
        TWaveData writer;
        ASSERT_EQ(reader.OpenRead(in), 0);
        writer.Format = reader.Format;
        ASSERT_EQ(writer.OpenWrite("/dev/full"), 0);
        ExportJob job(reader, writer, Settings(4096, 4, SomeArea()));
        std::atomic<bool> abort{false};
        EXPECT_EQ(job.Run(nullptr, abort), 8);
        EXPECT_EQ(writer.Close(), -1);
    }
}
#endif

// Pieces of this many frames at the given rate and frame size: 100 frame lengths, rounded up
// to half-second blocks: the longest piece the job makes.
int64_t PieceFrames(int rate, int frameSize)
{
    const int64_t block = rate / 2;
    return (100 * int64_t{frameSize} + block - 1) / block * block;
}

// Any thread count writes the file that one thread writes, byte for byte: whole files (one
// shorter than a piece among them) and A-B stretches, stretches shorter than a piece, starting
// in the first hop or ending in the last.
TEST(ExportJob, ThreadedExportEqualsOneThreadByteForByte)
{
    TempDir dir;
    const struct
    {
        int rate, frameSize, overlap;
    } setups[] = {{8000, 256, 4}, {8000, 256, 64}, {96000, 512, 4}, {96000, 512, 64}};
    for (const auto& setup : setups) {
        const int64_t piece = PieceFrames(setup.rate, setup.frameSize);
        const int64_t frames = 3 * piece + piece / 3; // three whole pieces and a short one
        const int hop = setup.frameSize / setup.overlap;
        const struct
        {
            int64_t fileFrames;
            bool ab;
            int64_t a, b;
        } stretches[] = {
            {frames, false, 0, 0},
            {piece / 2, false, 0, 0},                        // a file shorter than one piece
            {frames, true, hop / 2, 2 * piece + 7},          // starts in the first hop
            {frames, true, 12345, 12345 + piece / 2},        // shorter than one piece
            {frames, true, frames - 2 * piece - 99, frames}, // ends in the last hop
            {frames, true, 3 * piece - 5, piece - 3},        // given backwards, across pieces
        };
        for (const auto& st : stretches) {
            const std::string in = dir.File("in.wav");
            WriteWav16(in, MixLike(static_cast<int>(st.fileFrames), setup.rate), setup.rate);
            ExportSettings s = Settings(setup.frameSize, setup.overlap, SomeArea());
            s.SaveAB = st.ab;
            s.PointA = st.a;
            s.PointB = st.b;
            s.Threads = 1;
            const std::string reference = dir.File("one.wav");
            const ExportResult one = Export(in, reference, s);
            ASSERT_EQ(one.message, 0);
            const std::vector<uint8_t> oneBytes = ReadFileBytes(reference);
            for (int threads : {2, 3, 7, 16}) {
                SCOPED_TRACE(std::to_string(setup.rate) + " Hz overlap " +
                             std::to_string(setup.overlap) + " file " +
                             std::to_string(st.fileFrames) + " stretch " + std::to_string(st.a) +
                             ".." + std::to_string(st.b) + " threads " + std::to_string(threads));
                s.Threads = threads;
                const ExportResult many = Export(in, dir.File("many.wav"), s);
                EXPECT_EQ(many.message, 0);
                EXPECT_EQ(many.progress, one.progress);
                EXPECT_TRUE(ReadFileBytes(dir.File("many.wav")) == oneBytes);
            }
        }
    }
}

// A soft cut keeps both promises of the threads: any count writes the same file, and without
// smoothing an A-B save is the whole save's frames (a smoothed one is filtered on one thread).
TEST(ExportJob, SoftCutExportIsTheSameWhateverTheThreads)
{
    TempDir dir;
    const int rate = 8000, frameSize = 256, overlap = 16;
    const int64_t piece = PieceFrames(rate, frameSize);
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(static_cast<int>(3 * piece + 77), rate), rate);
    FilterArea hard = SomeArea();
    FilterArea feathered = hard;
    feathered.Soft.FeatherPanDb = 8.0f;
    feathered.Soft.FeatherFreq = 0.5f;
    feathered.Soft.AttenuateDb = 20.0f;
    FilterArea smoothed = feathered;
    smoothed.Soft.SmoothMs = 50.0f;
    std::vector<int16_t> results[3];
    int k = 0;
    for (const FilterArea* area : {&hard, &feathered, &smoothed}) {
        ExportSettings s = Settings(frameSize, overlap, *area);
        s.Threads = 1;
        const ExportResult one = Export(in, dir.File("one.wav"), s);
        ASSERT_EQ(one.message, 0);
        s.Threads = 3;
        const ExportResult many = Export(in, dir.File("many.wav"), s);
        EXPECT_EQ(ReadFileBytes(dir.File("many.wav")), ReadFileBytes(dir.File("one.wav"))) << k;
        if (area != &smoothed) {
            s.SaveAB = true;
            s.PointA = piece + 11;
            s.PointB = 2 * piece + 500;
            const ExportResult ab = Export(in, dir.File("ab.wav"), s);
            ASSERT_EQ(ab.samples.size(), static_cast<size_t>(2 * (s.PointB - s.PointA)));
            EXPECT_TRUE(std::equal(ab.samples.begin(), ab.samples.end(),
                                   one.samples.begin() + 2 * s.PointA))
                << k;
        }
        results[k++] = one.samples;
    }
    // The soft cut does reach the file.
    EXPECT_NE(results[1], results[0]);
    EXPECT_NE(results[2], results[1]);
}

// With threads, an abort and a failure to read or write still leave a valid file that is a
// prefix of the full result, and stop where one thread stops.
TEST(ExportJob, ThreadedAbortAndFailuresLeaveAValidPrefix)
{
    TempDir dir;
    constexpr int kRate = 8000;
    const int64_t piece = PieceFrames(kRate, 256);
    const auto frames = static_cast<int>(5 * piece);
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(frames, kRate), kRate);
    ExportSettings s = Settings(256, 8, SomeArea());
    const ExportResult full = Export(in, dir.File("full.wav"), s);
    ASSERT_EQ(full.message, 0);

    auto isPrefix = [&](const ExportResult& r) {
        return r.samples.size() == static_cast<size_t>(r.written / 2) &&
               std::equal(r.samples.begin(), r.samples.end(), full.samples.begin());
    };
    for (int threads : {1, 3, 7}) {
        SCOPED_TRACE(threads);
        s.Threads = threads;
        const ExportResult atOnce = Export(in, dir.File("a.wav"), s, true);
        EXPECT_EQ(atOnce.message, 0);
        EXPECT_EQ(atOnce.written, kRate / 2 * 4) << "stops after the first block";
        EXPECT_EQ(atOnce.closeResult, 0);
        EXPECT_TRUE(isPrefix(atOnce));

        const ExportResult later = Export(in, dir.File("b.wav"), s, false, 1);
        EXPECT_EQ(later.message, 0);
        EXPECT_EQ(later.written, 12 * kRate / 2 * 4) << "stops after the 12th block";
        EXPECT_TRUE(isPrefix(later));
    }

    // The input shrinks to two and a half pieces while it is open.
    ExportResult shrunk[2];
    for (int threads : {1, 3}) {
        TWaveData reader;
        TWaveData writer;
        const std::string copy = dir.File("shrinks.wav");
        std::filesystem::copy_file(in, copy, std::filesystem::copy_options::overwrite_existing);
        ASSERT_EQ(reader.OpenRead(copy), 0);
        std::filesystem::resize_file(copy, 44 + 4 * (5 * piece / 2));
        writer.Format = reader.Format;
        ASSERT_EQ(writer.OpenWrite(dir.File("s.wav")), 0);
        s.Threads = threads;
        ExportJob job(reader, writer, s);
        std::atomic<bool> abort{false};
        ExportResult& r = shrunk[threads == 1 ? 0 : 1];
        r.message = job.Run(nullptr, abort);
        r.written = job.Written();
        r.closeResult = writer.Close();
        reader.Close();
        r.samples = ReadWavSamples(dir.File("s.wav"));
        EXPECT_EQ(r.message, 8);
        EXPECT_EQ(r.closeResult, 0);
        EXPECT_TRUE(isPrefix(r));
    }
    // Where each stops depends on what the reader had buffered before the file shrank; the
    // pieces before the shrink point are written in any case.
    EXPECT_GE(shrunk[0].written, 2 * piece * 4);
    EXPECT_GE(shrunk[1].written, 2 * piece * 4);

#if !defined(_WIN32)
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = old;
    limited.rlim_cur = 46 + 3 * piece * 4 + 1001; // the disk fills in the fourth piece
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    s.Threads = 4;
    const ExportResult full4 = Export(in, dir.File("w.wav"), s);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(full4.message, 8);
    EXPECT_EQ(full4.closeResult, -1);
    EXPECT_GE(full4.samples.size(), static_cast<size_t>(3 * piece * 2));
    EXPECT_TRUE(std::equal(full4.samples.begin(), full4.samples.end(), full.samples.begin()));
#endif
}

// The block loop reads, filters and writes without touching the heap.
TEST(ExportJob, BlockLoopAllocatesNothing)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, MixLike(100000, 44100), 44100);
    TWaveData reader;
    TWaveData writer;
    ASSERT_EQ(reader.OpenRead(in), 0);
    writer.Format = reader.Format;
    ASSERT_EQ(writer.OpenWrite(dir.File("out.wav")), 0);
    ExportSettings s = Settings(8192, 16, SomeArea());
    s.SaveAB = true;
    s.PointA = 10000;
    s.PointB = 90000;
    s.Threads = 1; // starting threads allocates
    ExportJob job(reader, writer, s);
    ASSERT_EQ(job.Prepare(), 0);
    int calls = 0;
    const ExportJob::ProgressFn progress = [&calls](int64_t, int64_t) { ++calls; };
    std::atomic<bool> abort{false};
    int message = -1;
    int64_t allocations = -1;
    {
        test::AllocationCounter counter;
        message = job.Run(progress, abort);
        allocations = counter.Count();
    }
    EXPECT_EQ(message, 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(writer.Close(), 0);
    reader.Close();
}

} // namespace
} // namespace varnel
