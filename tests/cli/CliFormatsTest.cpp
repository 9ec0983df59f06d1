// varnel-cli with sound files of every format: what each export writes, compared with the
// 16-bit path's result on the same signal; the refusals; the plain conversion; and the export's
// promises (signals, a full disk) where a sink writes the file.

#include "audio/WaveCheck.h"
#include "cli/CliRun.h"
#include "support/SoundFileSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace varnel::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRate = 44100;
constexpr int kFrames = 3 * kRate;

// 16-bit values every format holds exactly: a square wave near full scale on the left (band
// limited by the area below, it overshoots full scale by about 9%, so the 16-bit path clips
// it) and a quieter square with a tone on the right.
std::vector<double> Signal(int frames, int rate)
{
    std::vector<double> s(2 * static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const double square = (i / 50) % 2 == 0 ? 31000.0 : -31000.0;
        s[2 * static_cast<size_t>(i)] = square;
        s[2 * static_cast<size_t>(i) + 1] =
            std::round(0.5 * square + 3000.0 * std::sin(2 * M_PI * 1000.0 * i / rate));
    }
    return s;
}

// Every bin but those above 3 kHz: the output is the band-limited input.
const std::vector<std::string> kArea = {"--widest", "--freq", "0:3000"};

std::vector<std::string> TemporariesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().find(".part") != std::string::npos)
            names.push_back(e.path().filename().string());
    return names;
}

// The frames another decoder gives, where ffmpeg is installed; -1 where it is not.
int64_t FfmpegFrames(const std::string& path)
{
    const ProgramResult r = RunProgram(
        "sh", {"-c",
               "command -v ffmpeg > /dev/null || exit 3; ffmpeg -v error -nostdin -i \"$0\" "
               "-f s16le -ac 2 - | wc -c",
               path});
    if (r.ExitCode != 0)
        return -1;
    return std::stoll(r.Out) / 4;
}

enum class Compare
{
    Same,       // equal to the 16-bit path, sample for sample
    OneStep,    // within one 16-bit step of it
    Dithered,   // within two steps: rounded with dither where the 16-bit path truncates
    Unclipped,  // within float rounding of it, and beyond full scale where it clipped
    LengthOnly, // a lossy input or output: the decoder's length
};

// Each row: the input's format (made by the test), the output's name and options, the
// output format the rules give, and how its samples compare with the 16-bit path's.
TEST(CliFormats, EveryFormatExportsAsTheRulesSay)
{
    TempDir dir;
    const std::vector<double> signal = Signal(kFrames, kRate);
    ASSERT_TRUE(
        WriteSoundFile(dir.File("in16.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 2, signal));
    std::vector<std::string> args = {"export", dir.File("in16.wav"), dir.File("ref.wav")};
    args.insert(args.end(), kArea.begin(), kArea.end());
    ProgramResult r = RunCli(args);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const SoundFileContents reference = ReadSoundFile(dir.File("ref.wav"));
    ASSERT_EQ(reference.Frames, kFrames);
    const double peak = *std::max_element(reference.Samples.begin(), reference.Samples.end());
    ASSERT_EQ(peak, 32767.0) << "the 16-bit path clips this signal";

    const struct
    {
        const char* In;
        int InFormat;
        int Rate;
        const char* Out;
        std::vector<std::string> Options;
        int OutFormat;
        Compare How;
    } rows[] = {
        {"s24.wav",
         SF_FORMAT_WAV | SF_FORMAT_PCM_24,
         kRate,
         "o24.wav",
         {},
         SF_FORMAT_WAV | SF_FORMAT_PCM_24,
         Compare::OneStep},
        {"f32.wav",
         SF_FORMAT_WAV | SF_FORMAT_FLOAT,
         kRate,
         "of.wav",
         {},
         SF_FORMAT_WAV | SF_FORMAT_FLOAT,
         Compare::Unclipped},
        {"s24.flac",
         SF_FORMAT_FLAC | SF_FORMAT_PCM_24,
         kRate,
         "o24.flac",
         {},
         SF_FORMAT_FLAC | SF_FORMAT_PCM_24,
         Compare::OneStep},
        {"s16.flac",
         SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
         kRate,
         "o16.flac",
         {},
         SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
         Compare::Same},
        {"s16b.wav",
         SF_FORMAT_WAV | SF_FORMAT_PCM_16,
         kRate,
         "o16.aiff",
         {},
         SF_FORMAT_AIFF | SF_FORMAT_PCM_16,
         Compare::Same},
        {"s24.aiff",
         SF_FORMAT_AIFF | SF_FORMAT_PCM_24,
         kRate,
         "o24.aif",
         {},
         SF_FORMAT_AIFF | SF_FORMAT_PCM_24,
         Compare::OneStep},
        {"f32b.wav",
         SF_FORMAT_WAV | SF_FORMAT_FLOAT,
         kRate,
         "of24.flac",
         {},
         SF_FORMAT_FLAC | SF_FORMAT_PCM_24,
         Compare::OneStep},
        {"s24b.wav",
         SF_FORMAT_WAV | SF_FORMAT_PCM_24,
         kRate,
         "d16.wav",
         {"--bits", "16"},
         SF_FORMAT_WAV | SF_FORMAT_PCM_16,
         Compare::Dithered},
        {"s24c.wav",
         SF_FORMAT_WAV | SF_FORMAT_PCM_24,
         kRate,
         "r16.wav",
         {"--bits", "16", "--no-dither"},
         SF_FORMAT_WAV | SF_FORMAT_PCM_16,
         Compare::OneStep},
        {"s16c.wav",
         SF_FORMAT_WAV | SF_FORMAT_PCM_16,
         kRate,
         "w32.wav",
         {"--bits", "32f"},
         SF_FORMAT_WAV | SF_FORMAT_FLOAT,
         Compare::Unclipped},
        {"s8.wav",
         SF_FORMAT_WAV | SF_FORMAT_PCM_U8,
         kRate,
         "o8.wav",
         {},
         SF_FORMAT_WAV | SF_FORMAT_PCM_16,
         Compare::LengthOnly},
        {"lossy.mp3",
         SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
         kRate,
         "om.wav",
         {},
         SF_FORMAT_WAV | SF_FORMAT_PCM_16,
         Compare::LengthOnly},
        {"s24d.wav",
         SF_FORMAT_WAV | SF_FORMAT_PCM_24,
         kRate,
         "om.mp3",
         {"--lossy-quality", "5"},
         SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
         Compare::LengthOnly},
        {"lossy.ogg",
         SF_FORMAT_OGG | SF_FORMAT_VORBIS,
         kRate,
         "ov.ogg",
         {},
         SF_FORMAT_OGG | SF_FORMAT_VORBIS,
         Compare::LengthOnly},
        {"lossy.opus",
         SF_FORMAT_OGG | SF_FORMAT_OPUS,
         48000,
         "oo.opus",
         {},
         SF_FORMAT_OGG | SF_FORMAT_OPUS,
         Compare::LengthOnly},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.In) + " -> " + row.Out);
        const std::string in = dir.File(row.In);
        ASSERT_TRUE(WriteSoundFile(in, row.InFormat, row.Rate, 2,
                                   row.Rate == kRate ? signal : Signal(kFrames, row.Rate),
                                   "Song \xc3\x9c", "Someone"));
        std::vector<std::string> bytesOf[2];
        std::vector<uint8_t> files[2];
        for (int threads : {1, 2}) {
            const std::string out = dir.File(std::to_string(threads) + row.Out);
            std::vector<std::string> a = {"export", in, out, "--threads", std::to_string(threads)};
            a.insert(a.end(), kArea.begin(), kArea.end());
            a.insert(a.end(), row.Options.begin(), row.Options.end());
            r = RunCli(a);
            ASSERT_EQ(r.ExitCode, 0) << r.Err;
            files[threads - 1] = ReadFileBytes(out);
        }
        EXPECT_TRUE(files[0] == files[1]) << "one thread and two write the same bytes";

        const SoundFileContents out = ReadSoundFile(dir.File(std::string("1") + row.Out));
        ASSERT_TRUE(out.Opened);
        EXPECT_EQ(out.Format, row.OutFormat) << std::hex << out.Format;
        EXPECT_EQ(out.Channels, 2);
        EXPECT_EQ(out.Rate, row.Rate);
        EXPECT_EQ(out.Title, "Song \xc3\x9c");
        EXPECT_EQ(out.Artist, "Someone");
        // As long as the input by the library's decoder, and by another decoder where there is
        // one (the encoder's delay and padding removed).
        const SoundFileContents input = ReadSoundFile(in);
        EXPECT_EQ(out.Frames, input.Frames);
        const int64_t other = FfmpegFrames(in);
        if (other >= 0) {
            EXPECT_EQ(input.Frames, other);
        }
        if (row.How == Compare::LengthOnly)
            continue;
        ASSERT_EQ(out.Samples.size(), reference.Samples.size());
        double worst = 0.0;
        double loudest = 0.0;
        bool sameWhereUnclipped = true;
        for (size_t i = 0; i < out.Samples.size(); ++i) {
            const double ref = reference.Samples[i];
            const double diff = std::fabs(out.Samples[i] - ref);
            loudest = std::max(loudest, std::fabs(out.Samples[i]));
            if (ref < 32767.0 && ref > -32768.0) {
                worst = std::max(worst, diff);
                // The 16-bit path truncates the same float values that float outputs keep.
                sameWhereUnclipped =
                    sameWhereUnclipped && (row.How != Compare::Unclipped || diff < 1.0);
            } else if (row.How != Compare::Unclipped) {
                worst = std::max(worst, diff);
            }
        }
        switch (row.How) {
        case Compare::Same: EXPECT_EQ(worst, 0.0); break;
        // Rounding where the 16-bit path truncates: less than one step apart (and a 24-bit
        // output of a float input has dither of under 1.5 of its own steps, 1/256 each).
        case Compare::OneStep: EXPECT_LE(worst, 1.0 + 1.5 / 256); break;
        // Dither adds under a step either way before rounding: under two steps apart.
        case Compare::Dithered: EXPECT_LE(worst, 2.0); break;
        case Compare::Unclipped:
            EXPECT_TRUE(sameWhereUnclipped);
            // Where the 16-bit path clipped, the float output keeps the overshoot.
            EXPECT_GT(loudest, 33000.0);
            break;
        case Compare::LengthOnly: break;
        }
    }
}

// Threads change no byte where the export is long enough to be cut into pieces (8 s at two
// threads: three), in each kind of writing: integer, lossless coding, each lossy encoder
// (whose output depends on how the sound is handed to it), a lossy input decoded in order and
// the window's 16-bit path; nor of the rest stem written beside the output.
TEST(CliFormats, ThreadsChangeNoByteOfAnExportInPieces)
{
    TempDir dir;
    const std::vector<double> signal = Signal(8 * kRate, kRate);
    ASSERT_TRUE(
        WriteSoundFile(dir.File("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, kRate, 2, signal));
    ASSERT_TRUE(WriteSoundFile(dir.File("in.mp3"), SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, kRate,
                               2, signal));
    WriteWav16(dir.File("in16.wav"), MixLike(8 * kRate, kRate), kRate);
    const struct
    {
        const char* In;
        const char* Out;
        bool Rest;
    } rows[] = {
        {"in.wav", "o.wav", false}, {"in.wav", "o.flac", true}, {"in.wav", "o.ogg", true},
        {"in.wav", "o.mp3", true},  {"in.mp3", "m.wav", true},  {"in16.wav", "p.wav", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.In) + " -> " + row.Out);
        std::vector<uint8_t> files[2], rests[2];
        for (int threads : {1, 2}) {
            const std::string out = dir.File(std::to_string(threads) + row.Out);
            const std::string rest = dir.File(std::to_string(threads) + "rest-" + row.Out);
            std::vector<std::string> a = {
                "export", dir.File(row.In), out,     "--threads", std::to_string(threads),
                "--freq", "0:3000",         "--soft"};
            if (row.Rest)
                a.insert(a.end(), {"--rest", rest});
            const ProgramResult r = RunCli(a);
            ASSERT_EQ(r.ExitCode, 0) << r.Err;
            files[threads - 1] = ReadFileBytes(out);
            if (row.Rest)
                rests[threads - 1] = ReadFileBytes(rest);
        }
        EXPECT_FALSE(files[0].empty());
        EXPECT_TRUE(files[0] == files[1]) << "one thread and two write the same bytes";
        EXPECT_EQ(rests[0].empty(), !row.Rest);
        EXPECT_TRUE(rests[0] == rests[1]) << "and the same rest";
    }
}

// --lossy-quality over its whole range: every encoder takes 0 and 10, and a higher quality
// gives a larger file (the default between the two), so the setting reaches each encoder.
TEST(CliFormats, LossyQualityRunsFromSmallestToBest)
{
    TempDir dir;
    constexpr int kOpusRate = 48000;
    std::vector<double> noise(2 * 2 * static_cast<size_t>(kOpusRate));
    uint32_t seed = 7;
    for (double& v : noise) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<double>(static_cast<int>(seed >> 16) - 32768) / 4;
    }
    const std::string in = dir.File("noise.wav");
    ASSERT_TRUE(WriteSoundFile(in, SF_FORMAT_WAV | SF_FORMAT_PCM_16, kOpusRate, 2, noise));
    for (const char* extension : {".mp3", ".ogg", ".opus"}) {
        SCOPED_TRACE(extension);
        uintmax_t sizes[3] = {0, 0, 0};
        const std::vector<std::string> qualities[3] = {
            {"--lossy-quality", "0"}, {}, {"--lossy-quality", "10"}};
        for (int k = 0; k < 3; ++k) {
            const std::string out = dir.File("q" + std::to_string(k) + extension);
            std::vector<std::string> a = {"export", in, out, "--widest"};
            a.insert(a.end(), qualities[k].begin(), qualities[k].end());
            const ProgramResult r = RunCli(a);
            ASSERT_EQ(r.ExitCode, 0) << r.Err;
            EXPECT_EQ(ReadSoundFile(out).Frames, 2 * kOpusRate);
            sizes[k] = fs::file_size(out);
        }
        EXPECT_LT(sizes[0], sizes[1]);
        EXPECT_LT(sizes[1], sizes[2]);
    }
}

// A float file with samples far beyond full scale (as a damaged one has) is written by every
// lossy encoder, at its whole length; the MP3 encoder aborted the program on them.
TEST(CliFormats, LossyEncodersTakeSamplesFarBeyondFullScale)
{
    TempDir dir;
    constexpr int kOpusRate = 48000;
    std::vector<double> signal = Signal(kOpusRate, kOpusRate);
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] *= i % 2000 < 100 ? 1e10 : 1.0; // 1e10 times full scale in stretches
    const std::string in = dir.File("huge.wav");
    ASSERT_TRUE(WriteSoundFile(in, SF_FORMAT_WAV | SF_FORMAT_FLOAT, kOpusRate, 2, signal));
    for (const char* name : {"o.mp3", "o.ogg", "o.opus"}) {
        SCOPED_TRACE(name);
        const ProgramResult r = RunCli({"export", in, dir.File(name), "--widest"});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(ReadSoundFile(dir.File(name)).Frames, kOpusRate);
        EXPECT_TRUE(TemporariesIn(dir.Path()).empty());
    }
}

// Inputs that cannot be used and outputs that cannot be written: each refused with its
// message and exit code, before anything is written.
TEST(CliFormats, RefusalsNameTheFileAndWriteNothing)
{
    TempDir dir;
    ASSERT_TRUE(WriteSoundFile(dir.File("mono.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kRate, 1,
                               std::vector<double>(1000, 100.0)));
    ASSERT_TRUE(WriteSoundFile(dir.File("six.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, kRate, 6,
                               std::vector<double>(6000, 100.0)));
    std::ofstream(dir.File("text.flac")) << "this is not a sound file\n";
    ASSERT_TRUE(WriteSoundFile(dir.File("whole.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, kRate, 2,
                               Signal(kRate, kRate)));
    const std::vector<uint8_t> whole = ReadFileBytes(dir.File("whole.flac"));
    {
        std::ofstream cut(dir.File("cut.flac"), std::ios::binary);
        cut.write(reinterpret_cast<const char*>(whole.data()),
                  static_cast<std::streamsize>(whole.size() / 2));
    }
    // A valid file of no frames, at a rate Opus holds.
    ASSERT_TRUE(
        WriteSoundFile(dir.File("empty48.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, {}));
    const std::string good = dir.File("whole.flac");
    const std::string noSound = "Nothing saved: the output would hold no sound, and an ";
    const std::string usage = "\nvarnel-cli: try 'varnel-cli --help' for the usage\n";
    const struct
    {
        std::vector<std::string> Args;
        int Exit;
        std::string Err;
    } rows[] = {
        {{"export", dir.File("mono.flac"), dir.File("out.wav")},
         3,
         "varnel-cli: \"mono.flac\": The file has 1 channel; only stereo (2-channel) files can "
         "be used.\n"},
        {{"export", dir.File("six.wav"), dir.File("out.wav")},
         3,
         "varnel-cli: \"six.wav\": The file has 6 channels; only stereo (2-channel) files can "
         "be used.\n"},
        {{"export", dir.File("text.flac"), dir.File("out.wav")},
         3,
         "varnel-cli: \"text.flac\": File format not supported.\nOr file is damaged.\n"},
        {{"export", dir.File("cut.flac"), dir.File("out.wav")},
         3,
         "varnel-cli: \"cut.flac\": File format not supported.\nOr file is damaged.\n"},
        {{"export", good, dir.File("out.xyz")},
         2,
         "varnel-cli: \"out.xyz\": the output's extension chooses its format, one of .wav .flac "
         ".aif .aiff .ogg .opus .mp3" +
             usage},
        {{"export", good, dir.File("out.flac"), "--bits", "32f"},
         2,
         "varnel-cli: FLAC holds integer samples: --bits 16 or 24" + usage},
        {{"export", good, dir.File("out.mp3"), "--bits", "24"},
         2,
         "varnel-cli: --bits does not apply to a lossy output (.ogg, .opus, .mp3); it takes "
         "--lossy-quality" +
             usage},
        {{"export", good, dir.File("out.opus")},
         2,
         "varnel-cli: \"out.opus\": Opus holds sound at 8, 12, 16, 24 or 48 kHz, not at 44.1 "
         "kHz\n"},
        {{"export", good, dir.File("out.wav"), "--lossy-quality", "11"},
         2,
         "varnel-cli: --lossy-quality takes 0 (smallest file) to 10 (best sound) (got \"11\")" +
             usage},
        {{"convert", good, dir.File("out.wav"), "--pan", "0:1"},
         2,
         "varnel-cli: convert: unknown option --pan (convert copies the sound as it is, "
         "without the filter)" +
             usage},
        {{"info", dir.File("cut.flac")},
         3,
         "varnel-cli: \"cut.flac\": File format not supported.\nOr file is damaged.\n"},
        // Outputs the library cannot write without sound (an empty stretch, an empty input,
        // each file of a batch) are refused before anything is written.
        {{"export", good, dir.File("out.mp3"), "--ab", "1000:1000"},
         4,
         "varnel-cli: \"out.mp3\": " + noSound + "MP3 file cannot be made without any.\n"},
        {{"export", dir.File("empty48.wav"), dir.File("out.opus")},
         4,
         "varnel-cli: \"out.opus\": " + noSound + "Opus file cannot be made without any.\n"},
        {{"export", "--out-dir", dir.File("batch"), "--format", "mp3", dir.File("empty48.wav")},
         4,
         "varnel-cli: \"empty48.mp3\": " + noSound + "MP3 file cannot be made without any.\n"},
        // A path that names a folder that is not there is shown as given.
        {{"export", good, dir.File("out") + "/"},
         4,
         "varnel-cli: \"" + dir.File("out") +
             "/\": An error occurred during file creation. (Is a directory)\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Args[1] + " " + row.Args.back());
        const ProgramResult r = RunCli(row.Args);
        EXPECT_EQ(r.ExitCode, row.Exit);
        EXPECT_EQ(r.Err, row.Err);
        for (const char* name : {"out.wav", "out.xyz", "out.flac", "out.mp3", "out.opus"})
            EXPECT_FALSE(fs::exists(dir.File(name))) << name;
        EXPECT_TRUE(TemporariesIn(dir.Path()).empty());
        EXPECT_TRUE(!fs::exists(dir.File("batch")) || fs::is_empty(dir.File("batch")));
    }
}

// An output of no frames (an empty stretch, an empty input) in a container that can hold none
// is a valid empty file, for the library, ffprobe and varnel-cli info alike, single or in a
// batch.
TEST(CliFormats, EmptyOutputsAreValidFiles)
{
    TempDir dir;
    ASSERT_TRUE(WriteSoundFile(dir.File("in.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, kRate, 2,
                               Signal(1000, kRate)));
    ASSERT_TRUE(
        WriteSoundFile(dir.File("empty.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, 2, {}));
    const std::string in = dir.File("in.flac");
    const struct
    {
        std::vector<std::string> Args;
        std::string Out;
    } rows[] = {
        {{"export", in, dir.File("o.wav"), "--ab", "500:500"}, "o.wav"},
        {{"export", in, dir.File("o.aiff"), "--ab", "500:500"}, "o.aiff"},
        {{"export", in, dir.File("o.ogg"), "--ab", "500:500"}, "o.ogg"},
        {{"export", in, dir.File("o.flac"), "--ab", "500:500"}, "o.flac"},
        {{"convert", in, dir.File("o16.flac"), "--bits", "16", "--ab", "9:9"}, "o16.flac"},
        {{"export", "--out-dir", dir.File("batch"), "--format", "flac", dir.File("empty.wav")},
         "batch/empty.flac"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Out);
        const ProgramResult r = RunCli(row.Args);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        const std::string out = dir.File(row.Out);
        const SoundFileContents c = ReadSoundFile(out);
        EXPECT_TRUE(c.Opened);
        EXPECT_EQ(c.Channels, 2);
        EXPECT_EQ(c.Frames, 0);
        const ProgramResult info = RunCli({"info", out});
        EXPECT_EQ(info.ExitCode, 0) << info.Err;
        EXPECT_NE(info.Out.find("(0 frames)"), std::string::npos) << info.Out;
        const ProgramResult probe = RunProgram(
            "sh", {"-c",
                   "command -v ffprobe > /dev/null || exit 0; ffprobe -v error -show_entries "
                   "stream=channels -of csv=p=0 \"$0\" | grep -qx 2",
                   out});
        EXPECT_EQ(probe.ExitCode, 0) << "ffprobe does not read it";
    }
}

// convert copies the sound without the filter: a 24-bit FLAC becomes the 16-bit WAV the window
// opens, each sample x / 256 rounded half away from zero (and within a step of that with the
// default dither); --bits 24 keeps it exactly.
TEST(CliFormats, ConvertMakesThePlainSixteenBitWave)
{
    TempDir dir;
    std::vector<double> values(2 * 4000);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = std::round(std::sin(0.001 * static_cast<double>(i * i)) * 8000000.0) / 256.0;
    ASSERT_TRUE(
        WriteSoundFile(dir.File("song.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, kRate, 2, values));
    ProgramResult r =
        RunCli({"convert", dir.File("song.flac"), dir.File("plain.wav"), "--no-dither"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(CheckWaveFile(dir.File("plain.wav"), nullptr), kMsgNone) << "the window opens it";
    const std::vector<int16_t> plain = ReadWavSamples(dir.File("plain.wav"));
    ASSERT_EQ(plain.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(plain[i], static_cast<int16_t>(std::round(values[i]))) << i; // half away
    r = RunCli({"convert", dir.File("song.flac"), dir.File("dithered.wav")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const std::vector<int16_t> dithered = ReadWavSamples(dir.File("dithered.wav"));
    ASSERT_EQ(dithered.size(), values.size());
    int differ = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        // Dither of under one step either way, then rounding: within 1.5 steps.
        EXPECT_LE(std::fabs(dithered[i] - values[i]), 1.5) << i;
        differ += dithered[i] != plain[i];
    }
    EXPECT_GT(differ, 100) << "the dither is there";
    r = RunCli({"convert", dir.File("song.flac"), dir.File("exact.wav"), "--bits", "24"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadSoundFile(dir.File("exact.wav")).Samples, values);
    // A 16-bit WAV file into a 16-bit WAV file: the same samples, not filtered.
    r = RunCli({"convert", dir.File("plain.wav"), dir.File("copy.wav")});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadWavSamples(dir.File("copy.wav")), plain);
}

// map and play take every format: a FLAC file holding a 16-bit WAV file's samples draws the
// same picture, and a FLAC and an MP3 file play in real time to their end.
TEST(CliFormats, MapAndPlayTakeEveryFormat)
{
    TempDir dir;
    constexpr int kPlayRate = 11025;
    const std::vector<double> signal = Signal(2 * kPlayRate, kPlayRate);
    ASSERT_TRUE(
        WriteSoundFile(dir.File("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kPlayRate, 2, signal));
    ASSERT_TRUE(WriteSoundFile(dir.File("in.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, kPlayRate, 2,
                               signal));
    ASSERT_TRUE(WriteSoundFile(dir.File("in.mp3"), SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
                               kPlayRate, 2, signal));
    for (const char* in : {"in.wav", "in.flac"}) {
        const ProgramResult r =
            RunCli({"map", dir.File(in), dir.File(std::string(in) + ".png"), "--at", "1"});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
    }
    EXPECT_FALSE(ReadFileBytes(dir.File("in.wav.png")).empty());
    EXPECT_TRUE(ReadFileBytes(dir.File("in.wav.png")) == ReadFileBytes(dir.File("in.flac.png")));

    for (const char* in : {"in.flac", "in.mp3"}) {
        SCOPED_TRACE(in);
        const auto start = std::chrono::steady_clock::now();
        const ProgramResult r = RunCli({"play", dir.File(in), "--buffer", "100", "--quality", "0"},
                                       {"VARNEL_AUDIO=null"});
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        // Two seconds of sound at the real rate; a lower bound only (a loaded machine is
        // slower, never faster).
        EXPECT_GE(seconds, 1.9);
        EXPECT_EQ(r.Out.substr(0, 14), "00:00 / 00:02\n");
        EXPECT_NE(r.Out.find("00:01 / 00:02\n"), std::string::npos) << r.Out;
    }
}

// The export's promises where a sink writes the file: a stop signal leaves a valid, shorter
// file where none was; a full disk leaves no invalid file; neither leaves a temporary.
TEST(CliFormats, SignalsAndAFullDiskLeaveValidFilesOrNone)
{
    TempDir dir;
    // A minute of sound at the slowest quality on one thread: long enough to be stopped part
    // way.
    const std::string in = dir.File("long.flac");
    ASSERT_TRUE(
        WriteSoundFile(in, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, kRate, 2, Signal(60 * kRate, kRate)));
    const std::string out = dir.File("out.wav");
    RunningCli cli({"export", in, out, "--quality", "4", "--threads", "1"});
    const auto written = [](const std::string& folder) {
        for (const std::string& name : TemporariesIn(folder)) {
            std::error_code ec;
            if (fs::file_size(folder + "/" + name, ec) > 300000)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(WaitFor(20.0, written, dir.Path()));
    cli.Signal(SIGTERM);
    const ProgramResult r = cli.Wait(20.0);
    EXPECT_EQ(r.ExitCode, 143) << r.Err;
    const SoundFileContents kept = ReadSoundFile(out);
    EXPECT_TRUE(kept.Opened);
    EXPECT_EQ(kept.Format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_GT(kept.Frames, 0);
    EXPECT_LT(kept.Frames, 60 * kRate);
    EXPECT_NE(r.Err.find(" s of 60.0 s saved."), std::string::npos) << r.Err;
    EXPECT_TRUE(TemporariesIn(dir.Path()).empty());

    // A file size limit acts like a disk that fills up part way.
    const std::string noisy = dir.File("noisy.wav");
    std::vector<double> noise(2 * 20 * static_cast<size_t>(kRate));
    uint32_t seed = 1;
    for (double& v : noise) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<double>(static_cast<int>(seed >> 16) - 32768) / 2;
    }
    ASSERT_TRUE(WriteSoundFile(noisy, SF_FORMAT_WAV | SF_FORMAT_PCM_16, kRate, 2, noise));
    for (const char* name : {"full.flac", "full.mp3", "full.aiff"}) {
        SCOPED_TRACE(name);
        const ProgramResult full = RunProgram(
            "sh", {"-c",
                   "{ (trap '' XFSZ; ulimit -f 200; exec \"$0\" \"$@\") 2>&1; echo \"exit $?\"; } "
                   "| cat",
                   CliPath(), "export", noisy, dir.File(name), "--widest"});
        EXPECT_EQ(full.Out, std::string("varnel-cli: \"") + name +
                                "\": An Error occurred while saving. (File too large)\nexit 5\n");
        const SoundFileContents left = ReadSoundFile(dir.File(name));
        EXPECT_TRUE(!fs::exists(dir.File(name)) || (left.Opened && left.Frames > 0))
            << "no file, or a valid one";
        EXPECT_TRUE(TemporariesIn(dir.Path()).empty());
    }
}

} // namespace
} // namespace varnel::test
