#include "CliRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace varnel {
namespace {

using test::TempDir;

// A running varnel-cli with standard output in a file, on the silent sound device.
class CliProcess
{
public:
    CliProcess(const std::vector<std::string>& args, const std::string& outPath)
    {
        std::vector<std::string> all = {VARNEL_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = {"VARNEL_AUDIO=null", "LC_ALL=C", "LANG=C"};
        std::vector<char*> envp;
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        mStarted = posix_spawn(&mPid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
        posix_spawn_file_actions_destroy(&actions);
    }

    ~CliProcess()
    {
        if (mStarted && !mDone) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
        }
    }

    // The exit status once the process has ended, -1 for a timeout or an abnormal end.
    int Wait(std::chrono::milliseconds timeout)
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (mStarted && !mDone) {
            int status = 0;
            const pid_t r = waitpid(mPid, &status, WNOHANG);
            if (r == mPid) {
                mDone = true;
                mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() > until)
                return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return mStatus;
    }

    void Interrupt() { kill(mPid, SIGINT); }
    bool Started() const { return mStarted; }

private:
    pid_t mPid = 0;
    bool mStarted = false;
    bool mDone = false;
    int mStatus = -1;
};

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

std::string LastLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty())
            last = line;
    return last;
}

TEST(CliPlay, PlaysTheFileInRealTimeToItsEnd)
{
    TempDir dir;
    test::WriteWav16(dir.File("in.wav"), Tone(2 * 11025, 11025), 11025);
    const auto start = std::chrono::steady_clock::now();
    const test::ProgramResult r = test::RunCli(
        {"play", dir.File("in.wav"), "--buffer", "100", "--quality", "0"}, {"VARNEL_AUDIO=null"});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
    CliProcess play({"play", dir.File("long.wav")}, dir.File("out.txt"));
    ASSERT_TRUE(play.Started());
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    play.Interrupt();
    // One cycle and one tick to notice, then a pause and a release: well under a second;
    // three allow for a loaded machine.
    EXPECT_EQ(play.Wait(std::chrono::seconds(3)), 0);
    EXPECT_EQ(LastLine(dir.File("out.txt")).substr(0, 5), "00:00");
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
