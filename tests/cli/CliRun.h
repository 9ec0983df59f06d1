#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace varnel::test {

// What a program run printed and how it ended.
struct ProgramResult
{
    int ExitCode = -1; // -1 when it did not exit normally
    std::string Out;
    std::string Err;
};

// Runs the program with these arguments through the shell, every argument quoted, with
// standard input from /dev/null. env holds extra "NAME=value" settings for this run only.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {});

// The varnel-cli under test: the one built with the tests, or the program that the
// environment variable VARNEL_CLI_UNDER_TEST names (to run these tests against another build).
std::string CliPath();

// RunProgram on the varnel-cli under test.
ProgramResult RunCli(const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {});

// RunCli after the shell commands in setup ("cd DIR;", "ulimit -f 0;"), which set up the
// process that then becomes varnel-cli.
ProgramResult RunCliAfter(const std::string& setup, const std::vector<std::string>& args);

// The varnel-cli under test started in the background, with standard input from /dev/null and
// its output going to files. The signals in ignored are ignored in it from the start, as a
// shell's "trap '' SIG" leaves them. The destructor kills a program that is still running.
class RunningCli
{
public:
    explicit RunningCli(const std::vector<std::string>& args,
                        const std::vector<std::string>& env = {},
                        const std::vector<int>& ignored = {});
    ~RunningCli();
    RunningCli(const RunningCli&) = delete;
    RunningCli& operator=(const RunningCli&) = delete;

    void Signal(int signalNumber) const;
    // Waits for the end; after timeoutSeconds the program is killed and ExitCode is -1.
    ProgramResult Wait(double timeoutSeconds);

private:
    pid_t mPid = -1;
    std::string mOutPath;
    std::string mErrPath;
};

// Waits until the predicate holds or timeoutSeconds pass; returns the predicate's last value.
bool WaitFor(double timeoutSeconds, bool (*holds)(const std::string&), const std::string& arg);

} // namespace varnel::test
