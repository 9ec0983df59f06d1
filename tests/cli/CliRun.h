#pragma once

#include <string>
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

// RunProgram on the varnel-cli built with the tests.
ProgramResult RunCli(const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {});

} // namespace varnel::test
