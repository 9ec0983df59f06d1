#include "CliRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace varnel {
namespace {

using test::TempDir;

std::vector<int16_t> Tone(int frames, int rate)
{
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(8000.0 * std::sin(6.2831853 * 440.0 * i / rate));
        samples[2 * static_cast<size_t>(i)] = v;
        samples[2 * static_cast<size_t>(i) + 1] = v;
    }
    return samples;
}

TEST(CliPlay, PlaysTheFileInRealTimeToItsEnd)
{
    TempDir dir;
    test::WriteWav16(dir.File("in.wav"), Tone(2 * 11025, 11025), 11025);
    const auto start = std::chrono::steady_clock::now();
    const test::ProgramResult r = test::RunCli(
        {"play", dir.File("in.wav"), "--buffer", "100", "--quality", "0"}, {"VARNEL_AUDIO=null"});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    // Two seconds of sound at the real rate, plus the ring draining; a lower bound only,
    // since a loaded machine may be slower but never faster.
    EXPECT_GE(seconds, 1.9);
    // The heard position trails the reader by the play latency (551 + 1536 frames here), so
    // the last position shown is 1.8 s into the 2 s file; the first is the start.
    std::istringstream lines(r.Out);
    std::string first, line, last;
    std::getline(lines, first);
    while (std::getline(lines, line))
        last = line;
    EXPECT_EQ(first, "00:00 / 00:02");
    EXPECT_EQ(last, "00:01 / 00:02");
}

TEST(CliPlay, CtrlCStopsCleanly)
{
    TempDir dir;
    test::WriteWav16(dir.File("long.wav"), Tone(30 * 8000, 8000), 8000);
    const auto start = std::chrono::steady_clock::now();
    // SIGINT after 0.6 s of a 30 s file; a play that hangs is killed 5 s later and fails.
    const test::ProgramResult r =
        test::RunProgram("timeout",
                         {"--preserve-status", "-s", "INT", "-k", "5", "0.6", test::CliPath(),
                          "play", dir.File("long.wav")},
                         {"VARNEL_AUDIO=null"});
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.ExitCode, 130) << r.Err << "128 + SIGINT, as the shell reports Ctrl-C";
    // One tick to notice, one cycle to park, then the release: well under a second after the
    // signal; three allow for a loaded machine.
    EXPECT_LT(seconds, 3.6);
    EXPECT_EQ(r.Out.substr(0, 13), "00:00 / 00:30");
}

// A file cut short while it plays ends the play with the reading error's message instead of
// waiting for ever for frames that are gone.
TEST(CliPlay, InputThatShrinksWhilePlayingEndsThePlay)
{
    TempDir dir;
    const std::string in = dir.File("long.wav");
    test::WriteWav16(in, Tone(30 * 8000, 8000), 8000);
    test::RunningCli cli({"play", in, "--buffer", "100"}, {"VARNEL_AUDIO=null"});
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    std::filesystem::resize_file(in, 44 + 4000 * 4); // half a second left
    const test::ProgramResult r = cli.Wait(10.0);
    EXPECT_EQ(r.ExitCode, 5) << r.Err;
    EXPECT_EQ(r.Err, "varnel-cli: \"long.wav\": An error occurred while reading the file.\nThe "
                     "file was cut short or can no longer be read.\n");
}

TEST(CliPlay, BadArgumentsAndFilesAreRefused)
{
    TempDir dir;
    test::WriteWav16(dir.File("in.wav"), Tone(100, 8000), 8000);
    struct Case
    {
        std::vector<std::string> Args;
        int Exit;
    };
    const Case cases[] = {
        {{"play"}, 2},
        {{"play", dir.File("in.wav"), "--volume", "21"}, 2},
        {{"play", dir.File("in.wav"), "--volume", "loud"}, 2},
        {{"play", dir.File("in.wav"), "--volume"}, 2},
        {{"play", dir.File("in.wav"), "--speed", "2"}, 2},
        {{"play", dir.File("in.wav"), dir.File("in.wav")}, 2},
        {{"play", dir.File("missing.wav")}, 3},
        {{"play", dir.File("in.wav"), "--volume", "0", "--buffer", "100"}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(test::RunCli(c.Args, {"VARNEL_AUDIO=null"}).ExitCode, c.Exit) << c.Args.back();
}

} // namespace
} // namespace varnel
