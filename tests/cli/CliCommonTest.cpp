#include "cli/CliCommon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace varnel::cli {
namespace {

// Parses a list of area options the way a command does; false on a usage error.
bool ParseArea(std::vector<std::string> words, AreaOptions& area)
{
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    const int argc = static_cast<int>(argv.size());
    for (int i = 0; i < argc; ++i) {
        if (ParseAreaOption(argc, argv.data(), i, area) != OptionParse::Taken)
            return false;
    }
    return true;
}

TEST(CliCommonTest, AreaOptionsOverrideTheirRangeOnly)
{
    struct Case
    {
        std::vector<std::string> Words;
        FilterArea Expected; // at 48000 Hz
    };
    const FilterArea startup = StartupArea(48000);
    auto with = [&](auto change) {
        FilterArea a = startup;
        change(a);
        return a;
    };
    const Case cases[] = {
        {{"--pan", "0.5:2"}, with([](FilterArea& a) {
             a.PanLow = 0.5f;
             a.PanHigh = 2.0f;
         })},
        {{"--pan=0:max"}, with([](FilterArea& a) {
             a.PanLow = 0.0f;
             a.PanHigh = 65535.0f;
         })},
        {{"--freq", "100:max"}, with([](FilterArea& a) {
             a.FreqLowHz = 100.0f;
             a.FreqHighHz = 24000.0f;
         })},
        {{"--freq", "0:30000"}, with([](FilterArea& a) {
             a.FreqLowHz = 0.0f;
             a.FreqHighHz = 30000.0f;
         })},
        {{"--depth", "0:pi"}, with([](FilterArea& a) {
             a.DepthLow = 0.0f;
             a.DepthHigh = kPi;
         })},
        {{"--depth", "1.5:3.1416"}, with([](FilterArea& a) {
             a.DepthLow = 1.5f;
             a.DepthHigh = kPi;
         })},
        {{"--invert"}, with([](FilterArea& a) { a.Inverted = true; })},
        {{"--widest"}, FilterArea::Widest(48000)},
        {{"--pan", "1:3", "--widest"}, with([](FilterArea& a) {
             a = FilterArea::Widest(48000);
             a.PanLow = 1.0f;
             a.PanHigh = 3.0f;
         })},
    };
    for (const Case& c : cases) {
        AreaOptions area;
        ASSERT_TRUE(ParseArea(c.Words, area)) << c.Words[0];
        const FilterArea a = area.Resolve(48000);
        SCOPED_TRACE(c.Words[0] + (c.Words.size() > 1 ? " " + c.Words[1] : ""));
        EXPECT_EQ(a.PanLow, c.Expected.PanLow);
        EXPECT_EQ(a.PanHigh, c.Expected.PanHigh);
        EXPECT_EQ(a.FreqLowHz, c.Expected.FreqLowHz);
        EXPECT_EQ(a.FreqHighHz, c.Expected.FreqHighHz);
        EXPECT_EQ(a.DepthLow, c.Expected.DepthLow);
        EXPECT_EQ(a.DepthHigh, c.Expected.DepthHigh);
        EXPECT_EQ(a.Inverted, c.Expected.Inverted);
    }
}

TEST(CliCommonTest, MalformedAreaOptionsAreRefused)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--pan"},          {"--pan", "2:1"},   {"--pan", "1"},        {"--pan", "a:b"},
        {"--pan", "-1:2"},  {"--pan", "max:2"}, {"--freq", "500:100"}, {"--freq", ":100"},
        {"--depth", "0:4"}, {"--depth", "2:1"}, {"--depth", "0:inf"},  {"--pan", "1:2x"},
    };
    for (const auto& words : bad) {
        AreaOptions area;
        EXPECT_FALSE(ParseArea(words, area))
            << words[0] << " " << (words.size() > 1 ? words[1] : "");
    }
}

// The soft cut's options: each sets its value, --soft sets the preset, and a value given on
// its own wins over the preset whichever comes first; the area's ranges are left alone.
TEST(CliCommonTest, SoftCutOptionsSetTheirValueAndWinOverThePreset)
{
    struct Case
    {
        std::vector<std::string> Words;
        SoftCut Expected;
    };
    const auto soft = [](float pan, float depth, float freq, float att, float smooth) {
        SoftCut s;
        s.FeatherPanDb = pan;
        s.FeatherDepth = depth;
        s.FeatherFreq = freq;
        s.AttenuateDb = att;
        s.SmoothMs = smooth;
        return s;
    };
    const float none = SoftCut::kNoAttenuation;
    const SoftCut preset = SoftPreset();
    SoftCut presetWithoutAttenuation = preset;
    presetWithoutAttenuation.AttenuateDb = none;
    SoftCut presetSmoothed = preset;
    presetSmoothed.SmoothMs = 25.0f;
    const Case cases[] = {
        {{}, SoftCut()},
        {{"--feather-pan", "6"}, soft(6.0f, 0.0f, 0.0f, none, 0.0f)},
        {{"--feather-depth=pi"}, soft(0.0f, kPi, 0.0f, none, 0.0f)},
        {{"--feather-depth", "3.1416"}, soft(0.0f, kPi, 0.0f, none, 0.0f)},
        {{"--feather-freq", "0.5", "--smooth", "40"}, soft(0.0f, 0.0f, 0.5f, none, 40.0f)},
        {{"--attenuate", "120"}, soft(0.0f, 0.0f, 0.0f, 120.0f, 0.0f)},
        {{"--attenuate", "0.5"}, soft(0.0f, 0.0f, 0.0f, 0.5f, 0.0f)},
        {{"--soft"}, preset},
        {{"--attenuate", "inf", "--soft"}, presetWithoutAttenuation},
        {{"--soft", "--smooth=25"}, presetSmoothed},
    };
    for (const Case& c : cases) {
        AreaOptions area;
        ASSERT_TRUE(ParseArea(c.Words, area));
        const FilterArea a = area.Resolve(44100);
        EXPECT_EQ(a.Soft, c.Expected) << (c.Words.empty() ? "(none)" : c.Words[0]);
        const FilterArea startup = StartupArea(44100);
        EXPECT_EQ(a.PanLow, startup.PanLow);
        EXPECT_EQ(a.DepthHigh, startup.DepthHigh);
    }
    EXPECT_FALSE(preset.IsHard());
    const std::vector<std::vector<std::string>> bad = {
        {"--attenuate", "0"},       {"--attenuate", "-3"},   {"--attenuate", "121"},
        {"--attenuate", "nan"},     {"--feather-pan", "-1"}, {"--feather-pan", "61"},
        {"--feather-depth", "3.2"}, {"--feather-freq", "9"}, {"--smooth", "5001"},
        {"--smooth", "1s"},         {"--feather-pan"},       {"--feather-freq", "inf"},
    };
    for (const auto& words : bad) {
        AreaOptions area;
        EXPECT_FALSE(ParseArea(words, area))
            << words[0] << " " << (words.size() > 1 ? words[1] : "");
    }
}

TEST(CliCommonTest, NumberParsersTakeWholeTextsOnly)
{
    int i = -7;
    EXPECT_TRUE(ParseInt("4", 0, 4, i));
    EXPECT_EQ(i, 4);
    for (const char* text : {"5", "-1", "", " 3", "3 ", "2.0", "0x2", "99999999999999999999"})
        EXPECT_FALSE(ParseInt(text, 0, 4, i)) << '"' << text << '"';
    double d = 0.0;
    EXPECT_TRUE(ParseDouble("1e3", d));
    EXPECT_EQ(d, 1000.0);
    for (const char* text : {"", "nan", "inf", "1e999", "1,5", "1.5.2"})
        EXPECT_FALSE(ParseDouble(text, d)) << '"' << text << '"';
}

TEST(CliCommonTest, OutputExtensionIsSetToWav)
{
    const std::pair<const char*, const char*> cases[] = {
        {"out.mp3", "out.wav"},         {"out", "out.wav"},
        {"dir.x/out", "dir.x/out.wav"}, {"a/b.WAV", "a/b.wav"},
        {"take.1.flac", "take.1.wav"},  {"out.wav", "out.wav"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(WithWavExtension(in), out) << in;
}

TEST(CliCommonTest, ProgressFigures)
{
    // 60 s of sound, a quarter done after 5 s: 3x real time, 45 s of sound left = 15 s.
    EXPECT_EQ(ProgressLine::Format(0.25, 60.0, 5.0), " 25%  3.0x real time  0:15 left");
    EXPECT_EQ(ProgressLine::Format(0.5, 600.0, 10.0), " 50%  30.0x real time  0:10 left");
    EXPECT_EQ(ProgressLine::Format(0.1, 3600.0, 36.0), " 10%  10.0x real time  5:24 left");
    // Before there is anything to measure only the percent shows.
    EXPECT_EQ(ProgressLine::Format(0.0, 60.0, 1.0), "  0%");
    EXPECT_EQ(ProgressLine::Format(1.5, 60.0, 6.0), "100%  10.0x real time  0:00 left");
}

} // namespace
} // namespace varnel::cli
