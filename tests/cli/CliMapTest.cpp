// varnel-cli map end to end: the demo mix's parts must show where they sit in the stereo image.

#include "cli/CliRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#if VARNEL_WITH_MAPS

#include "visual/MapPicture.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

namespace varnel::test {
namespace {

constexpr int kSeconds = 6;

class CliMapTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const ProgramResult made =
            RunProgram(VARNEL_DEMOMIX_PATH, {mDir.Path(), "--seconds", std::to_string(kSeconds)});
        ASSERT_EQ(made.ExitCode, 0) << made.Err;
        WriteWav16(mDir.File("silence.wav"), std::vector<int16_t>(kSeconds * 44100 * 2, 0));
    }

    QImage Map(const std::string& part, const std::vector<std::string>& options = {})
    {
        std::vector<std::string> args = {"map", mDir.File(part + ".wav"), mDir.File(part + ".png")};
        args.insert(args.end(), options.begin(), options.end());
        const ProgramResult run = RunCli(args);
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        return QImage(QString::fromStdString(mDir.File(part + ".png")));
    }

    // Per pan cell (90 across), how much the visual map lights Screen1: the picture's colour
    // channels above those of a silent file's picture with the same options.
    static std::vector<double> PanEnergy(const QImage& picture, const QImage& silent)
    {
        std::vector<double> cells(90, 0.0);
        const QPoint at = map_layout::kScreen1At;
        for (int y = 0; y < 340; ++y)
            for (int x = 0; x < 560; ++x) {
                const QColor p = picture.pixelColor(at + QPoint(x, y));
                const QColor s = silent.pixelColor(at + QPoint(x, y));
                cells[static_cast<size_t>(x * 90 / 560)] +=
                    (p.red() - s.red()) + (p.green() - s.green()) + (p.blue() - s.blue());
            }
        return cells;
    }

    static double Share(const std::vector<double>& cells, int from, int to)
    {
        const double total = std::accumulate(cells.begin(), cells.end(), 0.0);
        const double part = std::accumulate(cells.begin() + from, cells.begin() + to + 1, 0.0);
        return total > 0.0 ? part / total : 0.0;
    }

    TempDir mDir;
};

TEST_F(CliMapTest, PartsShowWhereTheySitInTheStereoImage)
{
    // The whole screens as the area, so no tint or frame stands between the parts.
    const std::vector<std::string> widest = {"--widest"};
    const QImage silent = Map("silence", widest);
    ASSERT_EQ(silent.size(), map_layout::kPictureSize);

    // The voice is the same in both channels: pan ratio 1, column 45.
    const std::vector<double> voice = PanEnergy(Map("voice", widest), silent);
    EXPECT_GT(Share(voice, 44, 46), 0.9);
    // The instruments sit mostly in one channel: their energy lies on their sides.
    const std::vector<double> left = PanEnergy(Map("left", widest), silent);
    EXPECT_GT(Share(left, 0, 29), 0.8);
    const std::vector<double> right = PanEnergy(Map("right", widest), silent);
    EXPECT_GT(Share(right, 60, 89), 0.8);
    // In the mix all three show: the centre and both sides each hold a good part.
    const std::vector<double> mix = PanEnergy(Map("mix", widest), silent);
    EXPECT_GT(Share(mix, 44, 46), 0.1);
    EXPECT_GT(Share(mix, 0, 29), 0.1);
    EXPECT_GT(Share(mix, 60, 89), 0.1);
}

TEST_F(CliMapTest, DrawsTheAreaFromTheOptions)
{
    // Pan 1:max lies from the middle to the right border; its frame runs down column 280.
    const QImage picture = Map("silence", {"--pan", "1:max", "--freq", "0:max"});
    const QPoint at = map_layout::kScreen1At;
    EXPECT_GE(picture.pixelColor(at + QPoint(280, 170)).red(), 250);
    EXPECT_LT(picture.pixelColor(at + QPoint(276, 170)).red(), 250);
    // Outside the area (left half) tinted, inside not: the tint's green channel shows.
    EXPECT_GE(picture.pixelColor(at + QPoint(100, 170)).green(), 70);
    EXPECT_LT(picture.pixelColor(at + QPoint(400, 170)).green(), 70);
    // Inverted: the other way round.
    const QImage inverted =
        Map("silence", {"--pan", "1:max", "--freq", "0:max", "--invert", "--force"});
    EXPECT_LT(inverted.pixelColor(at + QPoint(100, 170)).green(), 70);
    EXPECT_GE(inverted.pixelColor(at + QPoint(400, 170)).green(), 70);
}

TEST_F(CliMapTest, RefusalsAndUsage)
{
    const std::string in = mDir.File("voice.wav");
    const std::string out = mDir.File("out.png");
    struct Case
    {
        std::vector<std::string> Args;
        int Exit;
    };
    const Case cases[] = {
        {{"map", in}, 2},
        {{"map", in, out, "--pan-scale", "11"}, 2},
        {{"map", in, out, "--colour-scale", "x"}, 2},
        {{"map", in, out, "--at", "-1"}, 2},
        {{"map", in, out, "--at", "7"}, 2}, // after the end of the 6-second file
        {{"map", in, out, "--frobnicate"}, 2},
        {{"map", mDir.File("missing.wav"), out}, 3},
        {{"map", in, in}, 4}, // never over the input
    };
    for (const Case& c : cases) {
        const ProgramResult run = RunCli(c.Args);
        EXPECT_EQ(run.ExitCode, c.Exit) << c.Args.back() << ": " << run.Err;
    }
    EXPECT_EQ(ReadWavSamples(in).size(), static_cast<size_t>(kSeconds * 44100 * 2));
}

// A picture is saved as an export is: an existing file is kept unless --force, and a disk
// that fills up never leaves a half-written picture in its place, nor the image library's own
// complaints on the terminal.
TEST_F(CliMapTest, ExistingPictureIsKeptUnlessForcedAndNeverHalfWritten)
{
    const std::string in = mDir.File("voice.wav");
    const std::string out = mDir.File("old.png");
    {
        std::ofstream f(out, std::ios::binary);
        f << std::string(100, 'p');
    }
    const std::vector<uint8_t> old = ReadFileBytes(out);
    ProgramResult run = RunCli({"map", in, out});
    EXPECT_EQ(run.ExitCode, 4);
    EXPECT_EQ(run.Err, "varnel-cli: \"old.png\": File already exists. Overwrite?\n");
    EXPECT_EQ(ReadFileBytes(out), old);

    // 2 KiB of room (4 blocks of 512 bytes): less than any picture. The limit covers every file the program writes,
    // so its messages go through a pipe.
    run = RunProgram("sh", {"-c",
                            "{ (trap '' XFSZ; ulimit -f 4; exec \"$0\" \"$@\") 2>&1; echo "
                            "\"exit $?\"; } | cat",
                            CliPath(), "map", in, out, "--force"});
    EXPECT_EQ(run.Out, "varnel-cli: \"old.png\": An Error occurred while saving. (File too "
                       "large)\nexit 5\n");
    EXPECT_EQ(ReadFileBytes(out), old);

    run = RunCli({"map", in, out, "--force"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(QImage(QString::fromStdString(out)).size(), map_layout::kPictureSize);
    for (const auto& e : std::filesystem::directory_iterator(mDir.Path()))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos);
}

// The picture's name is the bytes given, also when they are not UTF-8, and may start with a
// dash after "--".
TEST_F(CliMapTest, NameIsTakenAsBytes)
{
    const std::string latin1 = "\xe9t\xe9.png";
    const ProgramResult run =
        RunProgram("sh", {"-c", "cd \"$1\" && exec \"$0\" map -- voice.wav \"$2\"", CliPath(),
                          mDir.Path(), latin1});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_TRUE(std::filesystem::exists(mDir.File(latin1)));
    EXPECT_FALSE(std::filesystem::exists(mDir.File("\xef\xbf\xbdt\xef\xbf\xbd.png")))
        << "not under a name with U+FFFD in place of the bytes";
}

TEST_F(CliMapTest, NeedsNoDisplay)
{
    // Without a platform chosen and without a display, it picks the off-screen one itself.
    const ProgramResult run = RunProgram(
        "env", {"-u", "QT_QPA_PLATFORM", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", CliPath(), "map",
                mDir.File("voice.wav"), mDir.File("voice.png"), "--at", "1.5"});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "") << "Qt's own notes stay out of the program's messages";
    EXPECT_EQ(QImage(QString::fromStdString(mDir.File("voice.png"))).size(),
              map_layout::kPictureSize);
}

} // namespace
} // namespace varnel::test

#endif
