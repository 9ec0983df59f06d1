#include "cli/CliRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace varnel::test {
namespace {

namespace fs = std::filesystem;

constexpr double kTwoPi = 6.283185307179586;

// Interleaved stereo: a sine of `hz` with the given channel gains, the right channel shifted by
// `shift` radians.
std::vector<int16_t> Sine(int frames, int rate, double hz, double gainL, double gainR,
                          double shift = 0.0, double amplitude = 8000.0)
{
    std::vector<int16_t> s(static_cast<size_t>(frames) * 2);
    for (int n = 0; n < frames; ++n) {
        const double p = kTwoPi * hz * n / rate;
        s[2 * static_cast<size_t>(n)] =
            static_cast<int16_t>(std::lround(amplitude * gainL * std::sin(p)));
        s[2 * static_cast<size_t>(n) + 1] =
            static_cast<int16_t>(std::lround(amplitude * gainR * std::sin(p + shift)));
    }
    return s;
}

// Root mean square over the interleaved samples [first, last) frames.
double Rms(const std::vector<int16_t>& s, size_t firstFrame, size_t lastFrame)
{
    double sum = 0.0;
    for (size_t i = firstFrame * 2; i < lastFrame * 2 && i < s.size(); ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>((lastFrame - firstFrame) * 2));
}

// A file of these bytes.
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// A WAV header with any format fields and a few bytes of data.
std::vector<uint8_t> WavHeader(uint16_t tag, uint16_t channels, uint16_t bits, uint16_t align)
{
    std::vector<uint8_t> b;
    auto u16 = [&b](uint32_t v) {
        b.push_back(static_cast<uint8_t>(v));
        b.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    u32(36 + 16);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    u32(16);
    u16(tag);
    u16(channels);
    u32(44100);
    u32(44100u * align);
    u16(align);
    u16(bits);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    u32(16);
    b.insert(b.end(), 16, 0);
    return b;
}

class CliExportTest : public ::testing::Test
{
protected:
    TempDir mDir;
    std::string Path(const std::string& name) const { return mDir.File(name); }
    std::string Centre()
    {
        const std::string p = Path("centre.wav");
        if (!fs::exists(p))
            WriteWav16(p, Sine(44100, 44100, 1000.0, 1.0, 1.0));
        return p;
    }
};

TEST_F(CliExportTest, BadUsageExitsWithTwo)
{
    const std::string in = Centre();
    const std::string out = Path("out.wav");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"export"},
        {"export", in},
        {"export", in, out, "extra.wav"},
        {"export", in, out, "--quality", "5"},
        {"export", in, out, "--quality"},
        {"export", in, out, "--pan", "2:1"},
        {"export", in, out, "--depth", "0:4"},
        {"export", in, out, "--ab", "5"},
        {"export", in, out, "--ab", "-1:5"},
        {"export", in, out, "--jobs", "2"},
        {"export", in, out, "--threads", "0"},
        {"export", in, out, "--threads", "many"},
        {"export", in, out, "--colour"},
        {"export", "--out-dir", Path("o"), in, "--ab", "0:10"},
        {"export", "--out-dir", Path("o"), in, "--jobs", "0"},
        {"export", "--out-dir", Path("o")},
        {"info"},
        {"info", in, in},
    };
    for (const auto& args : cases) {
        const ProgramResult r = RunCli(args);
        std::string joined;
        for (const std::string& a : args)
            joined += a + " ";
        EXPECT_EQ(r.ExitCode, 2) << joined << "\n" << r.Err;
        EXPECT_EQ(r.Err.rfind("varnel-cli: ", 0), 0u) << joined;
        EXPECT_NE(r.Err.find("--help"), std::string::npos) << joined;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(Path("o")));
}

TEST_F(CliExportTest, HelpExitsWithZero)
{
    const ProgramResult r = RunCli({"--help"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_NE(r.Out.find("varnel-cli export"), std::string::npos);
    EXPECT_NE(r.Out.find("--widest"), std::string::npos);
}

TEST_F(CliExportTest, RefusedInputsNameTheFileWithTheirMessage)
{
    WriteBytes(Path("text.wav"), std::vector<uint8_t>(200, 'x'));
    // A format tag that neither the WAV check nor the sound file library reads.
    WriteBytes(Path("coded.wav"), WavHeader(0x1234, 2, 16, 4));
    WriteWav16(Path("mono.wav"), std::vector<int16_t>(100, 0), 44100, 1);
    WriteWav16(Path("six.wav"), std::vector<int16_t>(120, 0), 44100, 6);
    struct Case
    {
        const char* Name;
        const char* Message;
    };
    const Case cases[] = {
        {"missing.wav", "Can't open file."},
        {"text.wav", "File format not supported.\nOr file is damaged."},
        {"coded.wav", "This is not 'PCM' WAVE file."},
        {"mono.wav", "The file has 1 channel; only stereo (2-channel) files can be used."},
        {"six.wav", "The file has 6 channels; only stereo (2-channel) files can be used."},
    };
    for (const Case& c : cases) {
        const std::string expected =
            std::string("varnel-cli: \"") + c.Name + "\": " + c.Message + "\n";
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"export", Path(c.Name), Path("out.wav")},
              std::vector<std::string>{"info", Path(c.Name)}}) {
            const ProgramResult r = RunCli(args);
            EXPECT_EQ(r.ExitCode, 3) << c.Name << " " << args[0];
            EXPECT_EQ(r.Err, expected) << args[0];
        }
    }
    EXPECT_FALSE(fs::exists(Path("out.wav")));
}

TEST_F(CliExportTest, MessagesFollowTheLocale)
{
    const ProgramResult japanese = RunCli({"info", Path("none.wav")}, {"LC_ALL=ja_JP.UTF-8"});
    EXPECT_EQ(japanese.ExitCode, 3);
    EXPECT_EQ(japanese.Err, "varnel-cli: \"none.wav\": ファイルが開けませんでした。\n");
    const ProgramResult chinese =
        RunCli({"info", Path("none.wav")}, {"LC_ALL=", "LANG=zh_CN.UTF-8"});
    EXPECT_EQ(chinese.Err, "varnel-cli: \"none.wav\": Can't open file.\n");
}

TEST_F(CliExportTest, OutputNeverReplacesTheInput)
{
    const std::string in = Centre();
    const std::vector<uint8_t> before = ReadFileBytes(in);
    fs::create_symlink(in, Path("link.wav"));
    const std::vector<std::string> outputs = {
        in,
        Path("CENTRE.WAV"),                   // the same name in other case
        Path("./centre"),                     // another spelling, becomes centre.wav
        Path("centre"),                       // becomes centre.wav
        mDir.Path() + "/./sub/../centre.wav", // another spelling
        Path("link.wav"),                     // a link to it
    };
    fs::create_directory(Path("sub"));
    for (const std::string& out : outputs) {
        const ProgramResult r = RunCli({"export", in, out, "--force"});
        EXPECT_EQ(r.ExitCode, 4) << out;
        EXPECT_NE(r.Err.find("The output file is the same as the input file."), std::string::npos)
            << out;
    }
    EXPECT_EQ(ReadFileBytes(in), before);
}

TEST_F(CliExportTest, ExistingOutputIsKeptUnlessForced)
{
    const std::string in = Centre();
    const std::string out = Path("out.wav");
    WriteBytes(out, {'k', 'e', 'e', 'p'});
    ProgramResult r = RunCli({"export", in, Path("out")});
    EXPECT_EQ(r.ExitCode, 4);
    EXPECT_EQ(r.Err, "varnel-cli: \"out.wav\": File already exists. Overwrite?\n");
    EXPECT_EQ(ReadFileBytes(out), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(fs::exists(Path("out")));

    r = RunCli({"export", in, out, "--force", "--quiet"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(ReadWavSamples(out).size(), ReadWavSamples(in).size());
    // Nothing but the result is left in the folder: the temporary was renamed.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(mDir.Path()))
        files += entry.path().filename().string().find(".part") != std::string::npos;
    EXPECT_EQ(files, 0);
}

TEST_F(CliExportTest, OutputThatCannotBeCreatedIsRefused)
{
    const ProgramResult r = RunCli({"export", Centre(), Path("no/such/folder/out.wav")});
    EXPECT_EQ(r.ExitCode, 4);
    EXPECT_EQ(r.Err, "varnel-cli: \"out.wav\": An error occurred during file creation. (No such "
                     "file or directory)\n");
}

// Each row: a one-second tone, the area options, and whether the tone is kept (the output
// carries nearly all of it) or removed (nearly nothing). Tones above 1300 Hz keep their pan
// ratio uncorrected by the phase difference.
TEST_F(CliExportTest, AreaOptionsDecideWhatIsKept)
{
    struct Case
    {
        const char* Label;
        double Hz, GainL, GainR, Shift;
        std::vector<std::string> Options;
        bool Kept;
    };
    const Case cases[] = {
        {"centre, start-up area", 1000, 1, 1, 0, {}, true},
        {"left only, start-up area", 1000, 1, 0, 0, {}, false},
        // A bin in one channel only has no phase difference to speak of: open the depth.
        {"left only, pan from 0", 1000, 1, 0, 0, {"--pan", "0:0.5", "--depth", "0:pi"}, true},
        {"right only, pan to max", 2000, 0, 1, 0, {"--pan", "2:max", "--depth", "0:pi"}, true},
        {"right only, pan to 1000", 2000, 0, 1, 0, {"--pan", "2:1000", "--depth", "0:pi"}, false},
        {"centre, band above it", 2000, 1, 1, 0, {"--freq", "3000:max"}, false},
        {"centre 60 Hz, start-up band starts higher", 60, 1, 1, 0, {}, false},
        {"centre 60 Hz, band from 0", 60, 1, 1, 0, {"--freq", "0:max"}, true},
        {"phase 2 rad, start-up depth", 2000, 1, 1, 2.0, {}, false},
        {"phase 2 rad, depth to pi", 2000, 1, 1, 2.0, {"--depth", "1.5:pi"}, true},
        {"phase 2 rad, inverted", 2000, 1, 1, 2.0, {"--depth", "1.5:pi", "--invert"}, false},
        {"centre, inverted", 1000, 1, 1, 0, {"--invert"}, false},
        {"left only, widest", 1000, 1, 0, 0, {"--widest"}, true},
        {"centre, widest inverted", 1000, 1, 1, 0, {"--widest", "--invert"}, false},
    };
    const int rate = 44100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Label);
        const std::vector<int16_t> input = Sine(rate, rate, c.Hz, c.GainL, c.GainR, c.Shift);
        WriteWav16(Path("in.wav"), input, rate);
        std::vector<std::string> args = {"export", Path("in.wav"), Path("out.wav"), "--force"};
        args.insert(args.end(), c.Options.begin(), c.Options.end());
        const ProgramResult r = RunCli(args);
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        const std::vector<int16_t> output = ReadWavSamples(Path("out.wav"));
        ASSERT_EQ(output.size(), input.size());
        // Away from the abrupt start and end of the tone, where any filter smears.
        const double ratio = Rms(output, 10000, 34100) / Rms(input, 10000, 34100);
        // A kept tone passes whole bins: within 2 %. A removed one leaves window leakage only.
        if (c.Kept)
            EXPECT_NEAR(ratio, 1.0, 0.02);
        else
            EXPECT_LT(ratio, 0.05);
    }
}

// The file is the same whatever the number of threads, alone and in a batch.
TEST_F(CliExportTest, ThreadCountDoesNotChangeTheFile)
{
    const int rate = 22050;
    // 50 seconds: several pieces of a threaded export at every quality.
    std::vector<int16_t> input = Sine(50 * rate, rate, 440.0, 0.6, 0.5, 0.3);
    const std::vector<int16_t> other = Sine(50 * rate, rate, 3100.0, 0.2, 0.7);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<int16_t>(input[i] + other[i]);
    WriteWav16(Path("in.wav"), input, rate);
    ProgramResult r = RunCli({"export", Path("in.wav"), Path("one.wav"), "--threads", "1"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const std::vector<uint8_t> one = ReadFileBytes(Path("one.wav"));
    r = RunCli({"export", Path("in.wav"), Path("three.wav"), "--threads", "3"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(ReadFileBytes(Path("three.wav")) == one);
    r = RunCli({"export", "--out-dir", Path("batch"), Path("in.wav"), "--jobs", "2"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(ReadFileBytes(Path("batch/in.wav")) == one);
}

TEST_F(CliExportTest, ExportIsAlignedWithItsInput)
{
    // Widest area: every bin kept, so the output is the input itself, not delayed.
    const int rate = 22050;
    std::vector<int16_t> input = Sine(rate, rate, 440.0, 1.0, 0.5, 0.3);
    const std::vector<int16_t> other = Sine(rate, rate, 3100.0, 0.2, 0.7);
    for (size_t i = 0; i < input.size(); ++i)
        input[i] = static_cast<int16_t>(input[i] + other[i]);
    WriteWav16(Path("in.wav"), input, rate);
    const ProgramResult r = RunCli({"export", Path("in.wav"), Path("out.wav"), "--widest"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const std::vector<int16_t> output = ReadWavSamples(Path("out.wav"));
    ASSERT_EQ(output.size(), input.size());
    int worst = 0;
    for (size_t i = 0; i < input.size(); ++i)
        worst = std::max(worst, std::abs(output[i] - input[i]));
    // The filter's overlap-add is not an exact identity near the file's ends (about 0.2 % of
    // the amplitude there); a shift by a single frame would give errors near 1000.
    EXPECT_LE(worst, 40);
}

TEST_F(CliExportTest, StretchEqualsTheMatchingPartOfTheWholeExport)
{
    const int rate = 44100;
    std::vector<int16_t> input = Sine(2 * rate, rate, 700.0, 1.0, 0.8, 0.4);
    WriteWav16(Path("in.wav"), input, rate);
    ASSERT_EQ(RunCli({"export", Path("in.wav"), Path("whole.wav")}).ExitCode, 0);
    const std::vector<int16_t> whole = ReadWavSamples(Path("whole.wav"));
    ASSERT_EQ(whole.size(), input.size());

    struct Case
    {
        std::string Range;
        size_t First, Count;
    };
    const Case cases[] = {
        {"30000:61000", 30000, 31000}, {"61000:30000", 30000, 31000}, // backwards is taken in order
        {"80000:999999", 80000, 8200},                                // past the end: up to the end
        {"5000:5000", 5000, 0},        {"0:1", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Range);
        const ProgramResult r =
            RunCli({"export", Path("in.wav"), Path("part.wav"), "--ab", c.Range, "--force"});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        if (c.Count == 0) {
            // A valid file without samples: the header alone, data starting at byte 46.
            EXPECT_EQ(ReadFileBytes(Path("part.wav")).size(), 46u);
            continue;
        }
        const std::vector<int16_t> part = ReadWavSamples(Path("part.wav"));
        ASSERT_EQ(part.size(), c.Count * 2);
        EXPECT_TRUE(
            std::equal(part.begin(), part.end(), whole.begin() + static_cast<long>(c.First * 2)));
    }
}

TEST_F(CliExportTest, BatchWritesEveryFileAsASingleExportWould)
{
    const int rate = 32000;
    std::vector<std::string> inputs;
    for (int k = 0; k < 4; ++k) {
        const std::string name = Path("in" + std::to_string(k) + ".wav");
        WriteWav16(name, Sine(rate + 777 * k, rate, 300.0 + 200 * k, 1.0, 0.3 * k), rate);
        inputs.push_back(name);
    }
    for (size_t k = 0; k < inputs.size(); ++k) {
        ASSERT_EQ(RunCli({"export", inputs[k], Path("single" + std::to_string(k) + ".wav"), "--pan",
                          "0:2", "--quality", "1"})
                      .ExitCode,
                  0);
    }
    // One refused input among them: the others are still written, the exit code tells.
    WriteBytes(Path("broken.wav"), std::vector<uint8_t>(64, 'x'));
    std::vector<std::string> args = {"export", "--out-dir",       Path("out"), "--jobs",
                                     "2",      "--pan",           "0:2",       "--quality",
                                     "1",      Path("broken.wav")};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const ProgramResult r = RunCli(args);
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_EQ(r.Err,
              "varnel-cli: \"broken.wav\": File format not supported.\nOr file is damaged.\n");
    for (size_t k = 0; k < inputs.size(); ++k) {
        const std::vector<int16_t> batch =
            ReadWavSamples(Path("out/in" + std::to_string(k) + ".wav"));
        EXPECT_FALSE(batch.empty());
        EXPECT_EQ(batch, ReadWavSamples(Path("single" + std::to_string(k) + ".wav"))) << k;
    }
    // A second run finds the outputs there and keeps them.
    const ProgramResult again = RunCli({"export", "--out-dir", Path("out"), inputs[0]});
    EXPECT_EQ(again.ExitCode, 4);
}

TEST_F(CliExportTest, BatchRefusesTwoInputsOfOneName)
{
    fs::create_directory(Path("a"));
    fs::create_directory(Path("b"));
    WriteWav16(Path("a/x.wav"), Sine(1000, 44100, 500, 1, 1));
    WriteWav16(Path("b/x.wav"), Sine(1000, 44100, 500, 1, 1));
    const ProgramResult r =
        RunCli({"export", "--out-dir", Path("out"), Path("a/x.wav"), Path("b/x.wav")});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_FALSE(fs::exists(Path("out/x.wav")));
}

} // namespace
} // namespace varnel::test
