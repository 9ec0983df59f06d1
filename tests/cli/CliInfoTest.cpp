#include "cli/CliRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnel::test {
namespace {

TEST(CliInfoTest, ShowsFormatLengthAndFftChoice)
{
    struct Case
    {
        int Rate;
        int Frames;
        const char* Format;
        const char* Length;
        const char* Fft;
    };
    const Case cases[] = {
        {44100, 66150, "44.100 kHz, 16-bit, stereo", "0:01.500 (66150 frames)",
         "8192 points, overlap 16"},
        {48000, 12000, "48.000 kHz, 16-bit, stereo", "0:00.250 (12000 frames)",
         "8192 points, overlap 16"},
        {11025, 11025, "11.025 kHz, 16-bit, stereo", "0:01.000 (11025 frames)",
         "2048 points, overlap 16"},
        {96000, 96, "96.000 kHz, 16-bit, stereo", "0:00.001 (96 frames)",
         "16384 points, overlap 16"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteWav16(dir.File("info.wav"), std::vector<int16_t>(static_cast<size_t>(c.Frames) * 2, 0),
                   c.Rate);
        const ProgramResult r = RunCli({"info", dir.File("info.wav")});
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_NE(r.Out.find(std::string("format    ") + c.Format + "\n"), std::string::npos)
            << r.Out;
        EXPECT_NE(r.Out.find(std::string("length    ") + c.Length + "\n"), std::string::npos)
            << r.Out;
        EXPECT_NE(r.Out.find(std::string("fft       ") + c.Fft), std::string::npos) << r.Out;
    }
    // Under a Japanese locale the line is the window's format label.
    const ProgramResult japanese = RunCli({"info", dir.File("info.wav")}, {"LC_ALL=ja_JP.UTF-8"});
    EXPECT_NE(japanese.Out.find("format    96.000kHz 16位   立体声\n"), std::string::npos)
        << japanese.Out;
}

} // namespace
} // namespace varnel::test
