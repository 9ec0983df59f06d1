#include "cli/CliRun.h"

#include "support/TestSupport.h"

#include <cstdlib>
#include <sys/wait.h>

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
    const std::vector<uint8_t> out = ReadFileBytes(capture.File("out"));
    const std::vector<uint8_t> err = ReadFileBytes(capture.File("err"));
    result.Out.assign(out.begin(), out.end());
    result.Err.assign(err.begin(), err.end());
    return result;
}

ProgramResult RunCli(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    return RunProgram(VARNEL_CLI_PATH, args, env);
}

} // namespace varnel::test
