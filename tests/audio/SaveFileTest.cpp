#include "audio/SaveFile.h"
#include "dsp/Cntrfocus.h"

#include "support/AreaSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteWav16;

constexpr int kRate = 44100;

// Stereo content with sounds at several pans, depths and frequencies, so every area below
// keeps some bins and clears others.
std::vector<int16_t> Mix(int frames)
{
    std::vector<int16_t> s(static_cast<size_t>(frames) * 2);
    uint32_t noise = 99;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double centre = 5000 * std::sin(2 * M_PI * 330 * t);
        const double left = 3000 * std::sin(2 * M_PI * 1500 * t);
        const double wide = 2000 * std::sin(2 * M_PI * 90 * t);
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 16) - 32768.0) * 0.05;
        s[2 * static_cast<size_t>(i)] = static_cast<int16_t>(centre + left + wide + hiss);
        s[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(centre - wide - hiss);
    }
    return s;
}

// The file as the command line wrote it before the save call existed: the export job driven
// directly into a temporary output.
std::vector<uint8_t> ExportDirectly(const std::string& in, const std::string& out,
                                    const ExportSettings& settings)
{
    TWaveData reader;
    EXPECT_EQ(reader.OpenRead(in), 0);
    SafeOutput safe;
    TWaveData writer;
    writer.Format = reader.Format;
    EXPECT_EQ(writer.OpenWrite(safe.Begin(out)), 0);
    ExportJob job(reader, writer, settings);
    std::atomic<bool> abort{false};
    EXPECT_EQ(job.Run(nullptr, abort), 0);
    reader.Close();
    EXPECT_EQ(writer.Close(), 0);
    EXPECT_TRUE(safe.Commit());
    return ReadFileBytes(out);
}

SaveResult SaveThroughAllSteps(const std::string& in, const std::string& out,
                               const ExportSettings& settings, bool replace = false,
                               bool abortAtOnce = false)
{
    SaveFile save;
    SaveResult r = save.Check(in, out);
    if (r.Message != 0)
        return r;
    r = save.Begin(replace);
    if (r.Message != 0)
        return r;
    std::atomic<bool> abort{abortAtOnce};
    return save.Run(settings, nullptr, abort);
}

// The warning that an area keeps nothing agrees with the filter: on independent noise in each
// channel (every pan, depth and frequency), the output is silent exactly when it is given.
// Widths let the transitions of an empty range, or of one just past the half rate, overlap.
TEST(SaveFile, AreaKeepsNothingWhenTheFilterKeepsNothing)
{
    const int n = 2048, count = kRate / 2;
    std::vector<float> inL(count), inR(count), outL(count), outR(count);
    uint32_t seed = 7;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        inL[static_cast<size_t>(i)] = static_cast<float>(seed >> 16) - 32768.0f;
        seed = seed * 1664525u + 1013904223u;
        inR[static_cast<size_t>(i)] = static_cast<float>(seed >> 16) - 32768.0f;
    }
    const struct
    {
        const char* Name;
        FilterArea Area;
        float PanW, DepthW, FreqW;
    } cases[] = {
        {"band above half the rate", test::AreaOf(0, 65535, 30000, 22050, 0, kPi), 0, 0, 0},
        {"... with a wide edge", test::AreaOf(0, 65535, 30000, 22050, 0, kPi), 0, 0, 8},
        {"... with a narrow edge", test::AreaOf(0, 65535, 30000, 22050, 0, kPi), 0, 0, 0.1f},
        {"pan 4:2, 12 dB edges", test::AreaOf(4, 2, 0, 22050, 0, kPi), 12, 0, 0},
        {"pan 4:2, 3 dB edges", test::AreaOf(4, 2, 0, 22050, 0, kPi), 3, 0, 0},
        {"depth 2:1, 1.5 rad edges", test::AreaOf(0, 65535, 0, 22050, 2, 1), 0, 1.5f, 0},
        {"depth 2:1, 0.5 rad edges", test::AreaOf(0, 65535, 0, 22050, 2, 1), 0, 0.5f, 0},
    };
    for (const auto& c : cases) {
        FilterArea area = c.Area;
        area.Soft.FeatherPanDb = c.PanW;
        area.Soft.FeatherDepth = c.DepthW;
        area.Soft.FeatherFreq = c.FreqW;
        CenterFocus f;
        ASSERT_TRUE(f.Setup(n, 4, kRate));
        f.SetArea(area);
        f.Process(inL.data(), inR.data(), outL.data(), outR.data(), count);
        const bool silent = std::all_of(outL.begin(), outL.end(), [](float v) { return v == 0; }) &&
                            std::all_of(outR.begin(), outR.end(), [](float v) { return v == 0; });
        EXPECT_EQ(AreaKeepsNothing(area, kRate), silent) << c.Name;
    }
}

TEST(SaveFile, FilesEqualThoseOfTheExportJobDrivenDirectly)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, Mix(70000));
    const FilterArea band = test::AreaOf(0.31623f, 3.1623f, 115.0f, 7800.0f, 0.0f, 1.5707964f);
    FilterArea inverted = band;
    inverted.Inverted = true;
    FilterArea left = FilterArea::Widest(kRate);
    left.PanHigh = 0.5f;
    const struct
    {
        FilterArea Area;
        int FftSize, Overlap;
        bool SaveAB;
        int64_t A, B;
    } cases[] = {
        {band, 8192, 16, false, 0, 0},       {inverted, 8192, 16, false, 0, 0},
        {left, 4096, 4, false, 0, 0},        {band, 8192, 64, false, 0, 0},
        {band, 8192, 16, true, 1000, 45000}, {left, 4096, 8, true, 60000, 5000},
        {band, 2048, 4, true, 69000, 70000}, {band, 8192, 16, true, 300, 300},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(index);
        ExportSettings s;
        s.FftSize = c.FftSize;
        s.Overlap = c.Overlap;
        s.Area = c.Area;
        s.SaveAB = c.SaveAB;
        s.PointA = c.A;
        s.PointB = c.B;
        const std::string expected = dir.File("direct" + std::to_string(index) + ".wav");
        const std::string saved = dir.File("saved" + std::to_string(index) + ".wav");
        const std::vector<uint8_t> direct = ExportDirectly(in, expected, s);
        const SaveResult r = SaveThroughAllSteps(in, saved, s);
        EXPECT_EQ(r.Message, 0);
        EXPECT_FALSE(r.Aborted);
        EXPECT_EQ(r.SavedFrames, r.TotalFrames);
        EXPECT_EQ(ReadFileBytes(saved), direct);
        ++index;
    }
}

// The checks before anything is written, each with the message and the system's reason.
TEST(SaveFile, RefusesBadOutputsBeforeWriting)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, Mix(3000));
    fs::create_directory(dir.File("folder.wav"));
    fs::create_directory_symlink(dir.File("folder.wav"), dir.File("dirlink.wav"));
    fs::create_symlink(in, dir.File("inlink.wav"));
    std::ofstream(dir.File("there.wav")) << "x";
    const struct
    {
        std::string Output;
        bool Replace;
        int Message;
        std::error_code Reason;
    } cases[] = {
        {dir.File("IN.WAV"), true, 16, {}},
        {dir.File("in.mp3"), true, 16, {}}, // the extension becomes .wav
        {dir.File("inlink.wav"), true, 16, {}},
        {dir.File("folder.wav"), true, 6, std::make_error_code(std::errc::is_a_directory)},
        {dir.File("dirlink"), true, 6, std::make_error_code(std::errc::is_a_directory)},
        {dir.File("there.wav"), false, 5, {}},
        {dir.File("missing/out.wav"), true, 6,
         std::make_error_code(std::errc::no_such_file_or_directory)},
        {dir.File(std::string(300, 'x')), true, 6,
         std::make_error_code(std::errc::filename_too_long)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Output.substr(0, 120));
        SaveFile save;
        SaveResult r = save.Check(in, c.Output);
        if (r.Message == 0)
            r = save.Begin(c.Replace);
        EXPECT_EQ(r.Message, c.Message);
        EXPECT_EQ(r.Reason, c.Reason) << r.Reason.message();
    }
    EXPECT_EQ(test::ReadWavSamples(in).size(), 6000u);
    std::ifstream there(dir.File("there.wav"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(there), {}), "x");
}

// How the output is settled at the end: a finished save takes the name, an unfinished one
// never takes the place of a file that is there.
TEST(SaveFile, SettlesTheOutputByTheRules)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, Mix(70000));
    ExportSettings s;
    s.FftSize = 4096;
    s.Overlap = 4;
    s.Area = FilterArea::Widest(kRate);
    const auto folderHasTemporaries = [&] {
        for (const auto& e : fs::directory_iterator(dir.Path()))
            if (e.path().filename().string().find(".part") != std::string::npos)
                return true;
        return false;
    };

    // Aborted with no file there: the blocks written stay as a valid, shorter file.
    SaveResult r = SaveThroughAllSteps(in, dir.File("new.wav"), s, false, true);
    EXPECT_EQ(r.Message, 0);
    EXPECT_TRUE(r.Aborted);
    EXPECT_EQ(r.SavedFrames, 22050) << "one half-second block";
    EXPECT_EQ(r.TotalFrames, 70000);
    EXPECT_EQ(ReadFileBytes(dir.File("new.wav")).size(), 46u + 22050u * 4);

    // Aborted over a file it may replace: the old file stays byte for byte.
    const std::vector<uint8_t> old = ReadFileBytes(in);
    fs::copy_file(in, dir.File("old.wav"));
    r = SaveThroughAllSteps(in, dir.File("old.wav"), s, true, true);
    EXPECT_TRUE(r.Aborted);
    EXPECT_EQ(r.SavedFrames, 0);
    EXPECT_EQ(ReadFileBytes(dir.File("old.wav")), old);

    // A file that appears while the save runs is never replaced without leave.
    {
        SaveFile save;
        ASSERT_EQ(save.Check(in, dir.File("raced.wav")).Message, 0);
        ASSERT_EQ(save.Begin(false).Message, 0);
        std::ofstream(dir.File("raced.wav")) << "winner";
        std::atomic<bool> abort{false};
        r = save.Run(s, nullptr, abort);
        EXPECT_EQ(r.Message, 5);
        EXPECT_EQ(r.SavedFrames, 0);
    }
    std::ifstream raced(dir.File("raced.wav"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(raced), {}), "winner");

    // Replaced with leave: the whole sound, and the old file's permissions.
    fs::permissions(dir.File("old.wav"), fs::perms::owner_read | fs::perms::owner_write);
    r = SaveThroughAllSteps(in, dir.File("old.wav"), s, true);
    EXPECT_EQ(r.Message, 0);
    EXPECT_EQ(r.SavedFrames, 70000);
    EXPECT_EQ(fs::status(dir.File("old.wav")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(folderHasTemporaries());
}

#if !defined(_WIN32)
// What a save run in a child process reported, and the child's exit status.
struct ChildSave
{
    int Status = -1;
    int Message = -1;
    int Reason = 0; // errno value
    std::string KeptAs;
};

// Runs a complete save of in to out in a child process that is not root, so that folder
// permissions bind it as they bind a user (as root the tests would otherwise pass through
// them): as "nobody" when the tests run as root. before runs in the child just before the
// file is settled (after the last block).
ChildSave SaveAsUser(const std::string& in, const std::string& out, bool replace,
                     const std::function<void()>& before = nullptr)
{
    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(90);
        ExportSettings s;
        s.FftSize = 4096;
        s.Overlap = 4;
        s.Area = FilterArea::Widest(kRate);
        s.Threads = 1;
        SaveFile save;
        SaveResult r = save.Check(in, out);
        if (r.Message == 0)
            r = save.Begin(replace);
        if (r.Message == 0) {
            std::atomic<bool> abort{false};
            r = save.Run(
                s,
                [&](int64_t written, int64_t total) {
                    if (written == total && before)
                        before();
                },
                abort);
        }
        const std::string report =
            std::to_string(r.Message) + " " + std::to_string(r.Reason.value()) + " " + r.KeptAs;
        if (write(pipeFds[1], report.data(), report.size()) != static_cast<ssize_t>(report.size()))
            _exit(91);
        _exit(0);
    }
    close(pipeFds[1]);
    std::string report;
    char buffer[512];
    ssize_t n = 0;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    ChildSave result;
    int status = 0;
    waitpid(child, &status, 0);
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream fields(report);
    fields >> result.Message >> result.Reason;
    std::getline(fields >> std::ws, result.KeptAs);
    return result;
}

// A complete save whose final rename is refused keeps the whole file where the person can see
// it, "NAME (n).wav" beside the output, or names its temporary where the folder takes no name
// at all; it never leaves a hidden file without a word.
TEST(SaveFile, CompleteSaveThatCannotTakeItsNameIsKeptInSight)
{
    TempDir dir;
    fs::permissions(dir.Path(), fs::perms::all); // the child that is not root works in here
    const std::string in = dir.File("in.wav");
    WriteWav16(in, Mix(30000));
    const std::vector<uint8_t> expected = [&] {
        ExportSettings s;
        s.FftSize = 4096;
        s.Overlap = 4;
        s.Area = FilterArea::Widest(kRate);
        return ExportDirectly(in, dir.File("expected.wav"), s);
    }();
    const auto hiddenIn = [](const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            if (e.path().filename().string()[0] == '.')
                names.push_back(e.path().string());
        return names;
    };

    // A folder took the output's name while the save ran (this needs no permissions): the
    // first free "(n)" name.
    {
        const std::string folder = dir.File("taken");
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms::all);
        std::ofstream(folder + "/out (1).wav") << "someone's";
        const ChildSave r = SaveAsUser(in, folder + "/out.wav", true, [&] {
            fs::create_directory(folder + "/out.wav");
            std::ofstream(folder + "/out.wav/inside") << "x";
        });
        EXPECT_EQ(r.Status, 0);
        EXPECT_EQ(r.Message, 8);
        EXPECT_EQ(r.Reason, EISDIR);
        EXPECT_EQ(r.KeptAs, folder + "/out (2).wav");
        EXPECT_EQ(ReadFileBytes(folder + "/out (2).wav"), expected);
        EXPECT_EQ(ReadFileBytes(folder + "/out (1).wav"),
                  (std::vector<uint8_t>{'s', 'o', 'm', 'e', 'o', 'n', 'e', '\'', 's'}));
        EXPECT_TRUE(hiddenIn(folder).empty());
    }

    // The folder became read-only during the save: nothing can be renamed or removed there,
    // so the temporary's own name is given.
    {
        const std::string folder = dir.File("closing");
        fs::create_directory(folder);
        if (geteuid() == 0) {
            ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
        }
        const ChildSave r = SaveAsUser(in, folder + "/out.wav", false, [&] {
            fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        });
        fs::permissions(folder, fs::perms::owner_all);
        EXPECT_EQ(r.Status, 0);
        EXPECT_EQ(r.Message, 8);
        EXPECT_EQ(r.Reason, EACCES);
        const std::vector<std::string> hidden = hiddenIn(folder);
        ASSERT_EQ(hidden.size(), 1u);
        EXPECT_EQ(r.KeptAs, hidden[0]);
        EXPECT_EQ(ReadFileBytes(hidden[0]), expected);
        EXPECT_FALSE(fs::exists(folder + "/out.wav"));
    }

    // A sticky folder (as /tmp) where the file the person agreed to replace belongs to
    // someone else: the rename over it is refused, a new name is not.
    if (geteuid() != 0) {
        std::printf("[ SKIPPED  ] the sticky folder case needs root (another user's file)\n");
        return;
    }
    const std::string folder = dir.File("sticky");
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
    std::ofstream(folder + "/out.wav") << "root's";
    const ChildSave r = SaveAsUser(in, folder + "/out.wav", true);
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Message, 8);
    EXPECT_EQ(r.Reason, EPERM);
    EXPECT_EQ(r.KeptAs, folder + "/out (1).wav");
    EXPECT_EQ(ReadFileBytes(folder + "/out (1).wav"), expected);
    EXPECT_EQ(ReadFileBytes(folder + "/out.wav"),
              (std::vector<uint8_t>{'r', 'o', 'o', 't', '\'', 's'}));
    EXPECT_TRUE(hiddenIn(folder).empty());
}
#endif

TEST(SaveFile, FractionFollowsTheSave)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, Mix(100000));
    SaveFile save;
    ASSERT_EQ(save.Check(in, dir.File("out.wav")).Message, 0);
    ASSERT_EQ(save.Begin(false).Message, 0);
    EXPECT_EQ(save.Fraction(), 0.0);
    ExportSettings s;
    s.FftSize = 4096;
    s.Overlap = 4;
    s.Area = FilterArea::Widest(kRate);
    std::vector<double> seen;
    std::atomic<bool> abort{false};
    save.Run(
        s, [&](int64_t, int64_t) { seen.push_back(save.Fraction()); }, abort);
    ASSERT_EQ(seen.size(), 1u) << "100000 frames are five blocks: progress once, at the end";
    EXPECT_EQ(seen[0], 1.0);
}

} // namespace
} // namespace varnel
