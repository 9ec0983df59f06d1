#include "cli/CliRun.h"

#include "support/TestSupport.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace varnel::test {

namespace {

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string ReadText(const std::string& path)
{
    const std::vector<uint8_t> b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

} // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env)
{
    TempDir capture;
    std::string command = "env";
    for (const std::string& e : env)
        command += " " + Quote(e);
    command += " " + Quote(program);
    for (const std::string& a : args)
        command += " " + Quote(a);
    command += " </dev/null >" + Quote(capture.File("out")) + " 2>" + Quote(capture.File("err"));
    const int status = std::system(command.c_str());

    ProgramResult result;
    if (status != -1 && WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    result.Out = ReadText(capture.File("out"));
    result.Err = ReadText(capture.File("err"));
    return result;
}

std::string CliPath()
{
    const char* other = std::getenv("VARNEL_CLI_UNDER_TEST");
    return other && *other ? other : VARNEL_CLI_PATH;
}

ProgramResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    return RunProgram(CliPath(), args, env);
}

ProgramResult RunCliAfter(const std::string& setup, const std::vector<std::string>& args)
{
    std::vector<std::string> shellArgs = {"-c", setup + " exec \"$0\" \"$@\"", CliPath()};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    return RunProgram("sh", shellArgs);
}

RunningCli::RunningCli(const std::vector<std::string>& args, const std::vector<std::string>& env,
                       const std::vector<int>& ignored)
{
    char outPattern[] = "/tmp/varnel-cli-out-XXXXXX";
    char errPattern[] = "/tmp/varnel-cli-err-XXXXXX";
    const int outFd = mkstemp(outPattern);
    const int errFd = mkstemp(errPattern);
    mOutPath = outPattern;
    mErrPath = errPattern;
    const std::string program = CliPath();
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<std::string> settings = env;

    mPid = fork();
    if (mPid == 0) {
        const int nullFd = open("/dev/null", O_RDONLY);
        dup2(nullFd, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        for (std::string& e : settings)
            putenv(e.data());
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : ignored)
            std::signal(s, SIG_IGN);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
}

RunningCli::~RunningCli()
{
    if (mPid > 0) {
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove(mOutPath, ec);
    std::filesystem::remove(mErrPath, ec);
}

void RunningCli::Signal(int signalNumber) const
{
    if (mPid > 0)
        kill(mPid, signalNumber);
}

ProgramResult RunningCli::Wait(double timeoutSeconds)
{
    ProgramResult result;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    int status = 0;
    while (mPid > 0) {
        const pid_t done = waitpid(mPid, &status, WNOHANG);
        if (done == mPid) {
            mPid = -1;
            if (WIFEXITED(status))
                result.ExitCode = WEXITSTATUS(status);
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(mPid, SIGKILL);
            waitpid(mPid, nullptr, 0);
            mPid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.Out = ReadText(mOutPath);
    result.Err = ReadText(mErrPath);
    return result;
}

bool WaitFor(double timeoutSeconds, bool (*holds)(const std::string&), const std::string& arg)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (!holds(arg)) {
        if (std::chrono::steady_clock::now() > deadline)
            return holds(arg);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace varnel::test
