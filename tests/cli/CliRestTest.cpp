// varnel-cli export --rest and --rest-suffix: the rest stem of the same pass, in every format
// the output may have, under the output's rules.

#include "cli/CliRun.h"
#include "support/SoundFileSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// A 16-bit stereo WAV input of the music-like mix.
std::string WriteMix(const TempDir& dir, const std::string& name, int seconds)
{
    const std::string path = dir.File(name);
    WriteWav16(path, MixLike(seconds * kRate, kRate), kRate);
    return path;
}

// The kept and the rest add up to what the widest area gives, in every format the output
// may have: each is rounded on its own (truncated on the 16-bit path, rounded with dither
// elsewhere), floats keep the sum to float rounding.
TEST(CliRest, KeptAndRestAddUpToTheWidestAreaInEveryFormat)
{
    TempDir dir;
    const std::string in = WriteMix(dir, "mix.wav", 3);
    const struct
    {
        const char* Ext;
        std::vector<std::string> Options;
        int Format;
        double Tolerance; // in 16-bit steps
    } outputs[] = {
        // One truncation to an integer for each of the three files.
        {".wav", {}, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2.0},
        // Dithered rounding: each file is within a step and a half of its exact value.
        {".flac", {"--bits", "24"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 3.0 / 256.0 * 3},
        {".aiff", {}, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 3.0},
        // Float samples: float rounding of values up to full scale.
        {".wav", {"--bits", "32f"}, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.01},
    };
    for (const auto& o : outputs) {
        const std::string tag = std::string(o.Ext) + (o.Options.empty() ? "" : o.Options[1]);
        SCOPED_TRACE(tag);
        const std::string kept = dir.File("kept" + tag + o.Ext);
        const std::string rest = dir.File("rest" + tag + o.Ext);
        const std::string whole = dir.File("whole" + tag + o.Ext);
        std::vector<std::string> args = {"export", in, kept, "--soft", "--rest", rest, "--quiet"};
        args.insert(args.end(), o.Options.begin(), o.Options.end());
        const ProgramResult r = RunCli(args);
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        args = {"export", in, whole, "--widest", "--quiet"};
        args.insert(args.end(), o.Options.begin(), o.Options.end());
        ASSERT_EQ(RunCli(args).ExitCode, 0);
        const SoundFileContents k = ReadSoundFile(kept), s = ReadSoundFile(rest),
                                w = ReadSoundFile(whole);
        ASSERT_TRUE(k.Opened && s.Opened && w.Opened);
        EXPECT_EQ(k.Format, o.Format);
        EXPECT_EQ(s.Format, o.Format);
        ASSERT_EQ(k.Samples.size(), w.Samples.size());
        ASSERT_EQ(s.Samples.size(), w.Samples.size());
        double worst = 0.0, restEnergy = 0.0;
        for (size_t i = 0; i < w.Samples.size(); ++i) {
            worst = std::max(worst, std::fabs(k.Samples[i] + s.Samples[i] - w.Samples[i]));
            restEnergy += s.Samples[i] * s.Samples[i];
        }
        EXPECT_LE(worst, o.Tolerance);
        EXPECT_GT(restEnergy / static_cast<double>(w.Samples.size()), 1e4); // the rest is real
    }
}

// The rest follows the output's rules: an existing file stays unless --force (and then
// neither file is written), a name without an extension gets the output's, another format or
// the output's own name is a usage error; a batch names its rest files after their inputs;
// a stop signal leaves both files shorter and valid.
TEST(CliRest, RestFollowsTheOutputsRules)
{
    TempDir dir;
    const std::string in = WriteMix(dir, "song.wav", 2);
    const std::string out = dir.File("voice.wav");
    const std::string rest = dir.File("backing.wav");
    std::ofstream(rest, std::ios::binary) << "keep";
    ProgramResult r = RunCli({"export", in, out, "--rest", rest});
    EXPECT_EQ(r.ExitCode, 4);
    EXPECT_NE(r.Err.find("\"backing.wav\""), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(out)) << "both or neither";
    EXPECT_EQ(ReadFileBytes(rest), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));

    r = RunCli({"export", in, out, "--rest", dir.File("backing"), "--quiet", "--force"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const SoundFileContents replaced = ReadSoundFile(rest);
    EXPECT_TRUE(replaced.Opened);
    EXPECT_EQ(replaced.Frames, 2 * kRate);
    // The hard cut's rest is the inverted area's output, bit for bit.
    ASSERT_EQ(RunCli({"export", in, dir.File("inverted.wav"), "--invert"}).ExitCode, 0);
    EXPECT_EQ(ReadFileBytes(rest), ReadFileBytes(dir.File("inverted.wav")));

    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--rest", dir.File("backing.flac")},
          std::vector<std::string>{"--rest", dir.File("other.wav")},
          std::vector<std::string>{"--rest", dir.Path() + "/./other"},
          std::vector<std::string>{"--rest-suffix", "-rest"}}) {
        std::vector<std::string> args = {"export", in, dir.File("other.wav")};
        args.insert(args.end(), bad.begin(), bad.end());
        EXPECT_EQ(RunCli(args).ExitCode, 2) << bad[1];
    }
    // The output itself spelt another way, relative to the working folder: with --force the
    // two stems would race for one file.
    r = RunCliAfter("cd '" + dir.Path() + "';",
                    {"export", in, "other.wav", "--rest", "./other.wav", "--force"});
    EXPECT_EQ(r.ExitCode, 2) << r.Err;
    EXPECT_FALSE(fs::exists(dir.File("other.wav")));
    // A rest that names a folder is refused as such an output is, not written in it as ".wav".
    r = RunCli({"export", in, dir.File("other.wav"), "--rest", dir.Path() + "/", "--force"});
    EXPECT_EQ(r.ExitCode, 4) << r.Err;
    EXPECT_FALSE(fs::exists(dir.File(".wav")));
    EXPECT_FALSE(fs::exists(dir.File("other.wav")));

    // A batch: each input's rest beside its output, as a single export writes it.
    const std::string batch = dir.File("batch");
    r = RunCli({"export", "--out-dir", batch, in, "--rest-suffix", "-rest", "--quiet"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFileBytes(batch + "/song-rest.wav"), ReadFileBytes(rest));
    EXPECT_EQ(ReadFileBytes(batch + "/song.wav"), ReadFileBytes(out));
    EXPECT_EQ(RunCli({"export", "--out-dir", batch, in, "--rest", rest}).ExitCode, 2);
    // One input's rest named as another input's output.
    const std::string other = dir.File("song-rest.wav");
    fs::copy_file(in, other);
    r = RunCli({"export", "--out-dir", dir.File("batch2"), in, other, "--rest-suffix", "-rest"});
    EXPECT_EQ(r.ExitCode, 2) << r.Err;
    EXPECT_FALSE(fs::exists(dir.File("batch2/song.wav")));

    // Stopped part way: both files hold the same shorter stretch, valid.
    const std::string longIn = WriteMix(dir, "long.wav", 60);
    const std::string a = dir.File("a.wav"), b = dir.File("b.wav");
    RunningCli cli({"export", longIn, a, "--rest", b, "--quality", "4", "--threads", "1"});
    const auto started = [](const std::string& folder) {
        for (const auto& e : fs::directory_iterator(folder)) {
            std::error_code ec;
            if (e.path().filename().string().find(".part") != std::string::npos &&
                fs::file_size(e.path(), ec) > 1000000)
                return true;
        }
        return false;
    };
    ASSERT_TRUE(WaitFor(30.0, started, dir.Path()));
    cli.Signal(SIGTERM);
    r = cli.Wait(30.0);
    EXPECT_EQ(r.ExitCode, 143) << r.Err;
    const SoundFileContents partA = ReadSoundFile(a), partB = ReadSoundFile(b);
    EXPECT_TRUE(partA.Opened && partB.Opened);
    EXPECT_GT(partA.Frames, 0);
    EXPECT_LT(partA.Frames, 60 * kRate);
    EXPECT_EQ(partA.Frames, partB.Frames);
    EXPECT_NE(r.Err.find("\"b.wav\""), std::string::npos) << r.Err;
}

} // namespace
} // namespace varnel::test
