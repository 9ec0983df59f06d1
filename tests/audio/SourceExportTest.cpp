// The export of a source of any format into a sink: the sources read every format in 16-bit
// units, and the threaded runs give the one-thread bytes for sources that seek exactly and for
// those decoded in order, up to the end a lossy decoder gives and at an abort.

#include "audio/ExportJob.h"
#include "audio/SaveFile.h"
#include "audio/SoundSink.h"
#include "audio/SoundSource.h"
#include "support/AreaSupport.h"
#include "support/SoundFileSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

namespace varnel {
namespace {

using test::ReadFileBytes;
using test::TempDir;

constexpr int kRate = 22050;

std::vector<double> Mix(int frames, double gain = 1.0)
{
    const std::vector<int16_t> ints = test::MixLike(frames, kRate);
    std::vector<double> out(ints.size());
    for (size_t i = 0; i < ints.size(); ++i)
        out[i] = gain * ints[i];
    return out;
}

// Each row: a format the library writes, values it stores exactly, and what a source must
// read: the same values in 16-bit units (a 24-bit x reads as x / 256, a float f as f x 32768).
TEST(SoundSource, ReadsEveryFormatInSixteenBitUnits)
{
    TempDir dir;
    // Steps of a 24-bit sample, a 16-bit one and an 8-bit one, and values beyond full scale
    // only a float file holds.
    const std::vector<double> fine = {1.0 / 256, -3.0 / 256, 12345.5, -32768.0, 32767.0, 0.0};
    const std::vector<double> whole = {1.0, -3.0, 12345.0, -32768.0, 32767.0, 0.0};
    const std::vector<double> coarse = {256.0, -768.0, 12288.0, -32768.0, 32512.0, 0.0};
    const std::vector<double> loud = {49152.0, -65536.5, 0.25, -1.0 / 128, 100000.0, 0.0};
    const struct
    {
        const char* Name;
        int Format;
        const std::vector<double>& Values;
        SampleFormat Sample;
        bool Exact;
    } rows[] = {
        {"s24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, fine, SampleFormat::Pcm24, true},
        {"s16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, whole, SampleFormat::Pcm16, true},
        {"s24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, fine, SampleFormat::Pcm24, true},
        {"s8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, coarse, SampleFormat::Pcm8, true},
        {"f32.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, loud, SampleFormat::Float32, true},
        {"f64.aiff", SF_FORMAT_AIFF | SF_FORMAT_DOUBLE, loud, SampleFormat::Float64, true},
        {"s24.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_24, fine, SampleFormat::Pcm24, true},
        {"ext.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, fine, SampleFormat::Pcm24, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        ASSERT_TRUE(test::WriteSoundFile(dir.File(row.Name), row.Format, kRate, 2, row.Values));
        SourceOpenResult opened;
        const std::unique_ptr<SoundSource> source = OpenSoundFile(dir.File(row.Name), opened);
        ASSERT_TRUE(source) << opened.Message;
        EXPECT_EQ(source->Info().Sample, row.Sample);
        EXPECT_EQ(source->Info().Frames, 3);
        EXPECT_EQ(source->SeeksExactly(), row.Exact);
        const std::unique_ptr<SourceReader> reader = source->NewReader();
        ASSERT_TRUE(reader);
        float left[4] = {};
        float right[4] = {};
        ASSERT_EQ(reader->Read(left, right, 4), 3);
        EXPECT_TRUE(reader->Ended());
        for (int i = 0; i < 3; ++i) {
            // Exact for the integer formats; a double file's values pass through float.
            EXPECT_FLOAT_EQ(left[i], static_cast<float>(row.Values[2 * static_cast<size_t>(i)]));
            EXPECT_FLOAT_EQ(right[i],
                            static_cast<float>(row.Values[2 * static_cast<size_t>(i) + 1]));
        }
        // A reader seeks to any frame of a source that seeks exactly.
        ASSERT_TRUE(reader->Seek(1));
        ASSERT_EQ(reader->Read(left, right, 1), 1);
        EXPECT_FLOAT_EQ(left[0], static_cast<float>(row.Values[2]));
    }

    // A damaged float file's samples that are not finite read as silence: one would make the
    // filter's output not a number for a whole frame around it.
    const double inf = std::numeric_limits<double>::infinity();
    ASSERT_TRUE(test::WriteSoundFile(dir.File("nan.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 2,
                                     {std::nan(""), inf, -inf, 5.0}));
    SourceOpenResult opened;
    const std::unique_ptr<SoundSource> damaged = OpenSoundFile(dir.File("nan.wav"), opened);
    ASSERT_TRUE(damaged);
    const std::unique_ptr<SourceReader> reader = damaged->NewReader();
    ASSERT_TRUE(reader);
    float left[2] = {1.0f, 1.0f};
    float right[2] = {1.0f, 1.0f};
    ASSERT_EQ(reader->Read(left, right, 2), 2);
    EXPECT_EQ(std::vector<float>({left[0], right[0], left[1], right[1]}),
              std::vector<float>({0.0f, 0.0f, 0.0f, 5.0f}));
}

// A WAV or AIFF file has 32-bit sizes: the most frames a sink writes into one fill it to
// within a megabyte (its header and strings), for each frame size, and never past it.
TEST(SoundSink, MostFramesFitThirtyTwoBitSizes)
{
    const struct
    {
        Container Kind;
        SampleFormat Sample;
        int64_t FrameBytes;
    } rows[] = {
        {Container::Wav, SampleFormat::Pcm16, 4},
        {Container::Wav, SampleFormat::Pcm24, 6},
        {Container::Wav, SampleFormat::Float32, 8},
        {Container::Aiff, SampleFormat::Pcm24, 6},
    };
    for (const auto& row : rows) {
        SinkFormat format;
        format.Kind = row.Kind;
        format.Sample = row.Sample;
        const int64_t bytes = SoundSink::MaxFrames(format) * row.FrameBytes;
        EXPECT_LT(bytes, int64_t{1} << 32) << row.FrameBytes;
        EXPECT_GT(bytes, (int64_t{1} << 32) - (int64_t{1} << 20)) << row.FrameBytes;
    }
}

struct Outcome
{
    MessageId Message = kMsgNone;
    bool Aborted = false;
    int64_t Written = 0;
    std::vector<uint8_t> Bytes;
};

// Exports source into a 24-bit WAV sink with these settings; abortAt > 0 aborts at that
// progress report.
Outcome Export(const SoundSource& source, const std::string& out, const ExportSettings& settings,
               int abortAt = 0)
{
    SinkFormat format;
    format.Kind = Container::Wav;
    format.Sample = SampleFormat::Pcm24;
    format.SampleRate = source.Info().SampleRate;
    format.Conversion = ConversionFor(source.Info().Sample, format.Sample, true);
    format.Conversion.DitherSeed = 3;
    SoundSink sink;
    EXPECT_TRUE(sink.Open(out, format));
    ExportJob job(source, sink, settings);
    std::atomic<bool> abort{false};
    int reports = 0;
    Outcome o;
    o.Message = job.Run(
        [&](int64_t, int64_t) {
            if (++reports == abortAt)
                abort = true;
        },
        abort);
    o.Aborted = job.Aborted();
    o.Written = job.Written() / 4;
    EXPECT_EQ(sink.Close(), 0);
    o.Bytes = ReadFileBytes(out);
    return o;
}

// A source that seeks exactly (24-bit FLAC) and one decoded in order (MP3, and an MP3 cut
// short, whose decoder gives out before the length its header states): any number of threads
// writes the one-thread file, for the whole file, an A-B stretch and an abort, and the output
// ends where the decoder did, which is the length the source states.
TEST(SourceExport, ThreadsGiveTheOneThreadBytesForEverySource)
{
    TempDir dir;
    constexpr int kFrames = 40 * kRate; // several pieces at 4096 points
    const std::string flac = dir.File("in.flac");
    const std::string mp3 = dir.File("in.mp3");
    ASSERT_TRUE(
        test::WriteSoundFile(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, kRate, 2, Mix(kFrames, 0.9)));
    ASSERT_TRUE(test::WriteSoundFile(mp3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, kRate, 2,
                                     Mix(kFrames, 0.9)));
    // The same MP3 cut a third of the way: its header still states the whole length.
    const std::vector<uint8_t> whole = ReadFileBytes(mp3);
    const std::string cut = dir.File("cut.mp3");
    {
        std::ofstream f(cut, std::ios::binary);
        f.write(reinterpret_cast<const char*>(whole.data()),
                static_cast<std::streamsize>(whole.size() / 3));
    }
    ExportSettings settings;
    settings.FftSize = 4096;
    settings.Overlap = 8;
    settings.Area = test::AreaOf(0.31623f, 3.1623f, 150.0f, 5000.0f, 0.0f, 1.5707964f);

    for (const std::string& in : {flac, mp3, cut}) {
        SCOPED_TRACE(in);
        SourceOpenResult opened;
        const std::unique_ptr<SoundSource> source = OpenSoundFile(in, opened);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->SeeksExactly(), in == flac);
        settings.Threads = 1;
        const Outcome one = Export(*source, dir.File("one.wav"), settings);
        ASSERT_EQ(one.Message, kMsgNone);
        const test::SoundFileContents written = test::ReadSoundFile(dir.File("one.wav"));
        if (in == cut) {
            // Ends where the decoder gave out, well short of the stated length.
            EXPECT_LT(one.Written, kFrames / 2);
            EXPECT_GT(one.Written, kFrames / 4);
        } else {
            EXPECT_EQ(one.Written, kFrames);
        }
        EXPECT_EQ(written.Frames, one.Written);
        EXPECT_EQ(source->Info().Frames, one.Written) << "the length is the decoder's";
        for (int threads : {2, 3}) {
            settings.Threads = threads;
            EXPECT_TRUE(Export(*source, dir.File("many.wav"), settings).Bytes == one.Bytes)
                << threads << " threads";
        }
        // An A-B stretch from the middle: the matching frames of the whole file (24-bit
        // frames of 6 bytes after the 44-byte header), also on two threads.
        ExportSettings ab = settings;
        ab.SaveAB = true;
        ab.PointA = 5 * kRate + 17;
        ab.PointB = 25 * kRate;
        const int64_t abEnd = std::min<int64_t>(ab.PointB, one.Written);
        for (int threads : {1, 2}) {
            ab.Threads = threads;
            const Outcome part = Export(*source, dir.File("ab.wav"), ab);
            ASSERT_EQ(part.Written, std::max<int64_t>(0, abEnd - ab.PointA));
            EXPECT_TRUE(std::equal(part.Bytes.begin() + 44, part.Bytes.end(),
                                   one.Bytes.begin() + 44 + 6 * ab.PointA))
                << threads << " threads";
        }
        // Aborted at the first progress report: a prefix of the whole, twelve blocks long.
        settings.Threads = 2;
        const Outcome aborted = Export(*source, dir.File("aborted.wav"), settings, 1);
        EXPECT_TRUE(aborted.Aborted);
        EXPECT_EQ(aborted.Written, 12 * kRate / 2);
        EXPECT_TRUE(
            std::equal(aborted.Bytes.begin() + 44, aborted.Bytes.end(), one.Bytes.begin() + 44));
    }
}

} // namespace
} // namespace varnel
