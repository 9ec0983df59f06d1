#include "audio/OutputFile.h"

#include "audio/SaveFile.h"
#include "audio/Twave.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace varnel {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path)
{
    const std::vector<uint8_t> b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SameFile, RecognisesOtherSpellingsOfOneFile)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    const std::string other = dir.File("other.wav");
    WriteText(in, "a");
    WriteText(other, "a"); // same content, different file
    fs::create_symlink(in, dir.File("link.wav"));
    fs::create_hard_link(in, dir.File("hard.wav"));
    fs::create_directory(dir.File("sub"));

    const struct
    {
        std::string a, b;
        bool same;
    } cases[] = {
        {in, in, true},
        {in, dir.File("IN.WAV"), true}, // as the desktop program compares names
        {in, dir.Path() + "/./in.wav", true},
        {in, dir.File("sub") + "/../in.wav", true},
        {in, dir.File("link.wav"), true},
        {in, dir.File("hard.wav"), true},
        {in, other, false},
        {in, dir.File("missing.wav"), false},
        {dir.File("new1.wav"), dir.File("new2.wav"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a + " / " + c.b);
        EXPECT_EQ(SameFile(c.a, c.b), c.same);
        EXPECT_EQ(SameFile(c.b, c.a), c.same);
    }
}

TEST(SafeOutput, ExistingFileIsReplacedOnlyOnCommit)
{
    TempDir dir;
    const std::string target = dir.File("out.wav");
    WriteText(target, "old");

    SafeOutput out;
    const std::string temp = out.Begin(target);
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(fs::path(temp).parent_path(), fs::path(target).parent_path());
    EXPECT_EQ(fs::path(temp).filename().string().rfind(".out.wav.part", 0), 0u) << temp;
    EXPECT_TRUE(fs::exists(temp)) << "the name is taken at once";

    WriteText(temp, "new");
    EXPECT_EQ(ReadText(target), "old");
    ASSERT_TRUE(out.Commit());
    EXPECT_EQ(ReadText(target), "new");
    EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"out.wav"});
}

TEST(SafeOutput, DiscardAndDestructionKeepTheTarget)
{
    TempDir dir;
    const std::string target = dir.File("out.wav");
    WriteText(target, "old");
    {
        SafeOutput out;
        WriteText(out.Begin(target), "new");
        out.Discard();
        EXPECT_FALSE(out.Commit()) << "nothing left to commit";
    }
    {
        SafeOutput out;
        WriteText(out.Begin(target), "new");
    }
    EXPECT_EQ(ReadText(target), "old");
    EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"out.wav"});
}

TEST(SafeOutput, TwoSavesGetDifferentTemporaries)
{
    TempDir dir;
    SafeOutput a;
    SafeOutput b;
    const std::string ta = a.Begin(dir.File("x.wav"));
    const std::string tb = b.Begin(dir.File("x.wav"));
    ASSERT_FALSE(ta.empty());
    ASSERT_FALSE(tb.empty());
    EXPECT_NE(ta, tb);
}

TEST(SafeOutput, LinkTargetStaysALink)
{
    TempDir dir;
    fs::create_directory(dir.File("real"));
    const std::string real = dir.File("real") + "/song.wav";
    WriteText(real, "old");
    const std::string link = dir.File("link.wav");
    fs::create_symlink(real, link);

    SafeOutput out;
    const std::string temp = out.Begin(link);
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(fs::path(temp).parent_path(), fs::path(real).parent_path()) << "beside the real file";
    WriteText(temp, "new");
    ASSERT_TRUE(out.Commit());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadText(real), "new");
}

TEST(SafeOutput, FolderThatCannotTakeFiles)
{
    TempDir dir;
    SafeOutput out;
    EXPECT_EQ(out.Begin(dir.File("missing") + "/out.wav"), "");
    EXPECT_FALSE(out.Commit());
}

TEST(SafeOutput, FailedRenameKeepsTheWrittenSound)
{
    TempDir dir;
    const std::string target = dir.File("busy");
    fs::create_directory(target);
    WriteText(target + "/inside", "x"); // a non-empty folder cannot be replaced by a file
    std::string temp;
    {
        SafeOutput out;
        temp = out.Begin(target);
        ASSERT_FALSE(temp.empty());
        WriteText(temp, "sound");
        EXPECT_FALSE(out.Commit());
    }
    EXPECT_EQ(ReadText(temp), "sound");
}

// Where a commit fails, the name KeepVisible gives holds the written sound, and no name is
// given where the temporary is gone with its folder (moved away or removed during the save).
TEST(SafeOutput, KeptNameHoldsTheSound)
{
    const struct
    {
        const char* Name;
        std::function<void(const std::string& folder)> During;
        bool Kept;
    } cases[] = {
        {"a folder took the name",
         [](const std::string& folder) { fs::create_directories(folder + "/x.wav/inside"); }, true},
        {"folder moved away",
         [](const std::string& folder) {
             fs::rename(folder, folder + "-old");
             fs::create_directory(folder);
         },
         false},
        {"folder removed", [](const std::string& folder) { fs::remove_all(folder); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const std::string folder = dir.File("out");
        fs::create_directory(folder);
        SafeOutput out;
        const std::string temp = out.Begin(folder + "/x.wav");
        ASSERT_FALSE(temp.empty());
        WriteText(temp, "sound");
        c.During(folder);
        ASSERT_FALSE(out.Commit());
        const std::string kept = out.KeepVisible();
        EXPECT_EQ(!kept.empty(), c.Kept) << kept;
        if (!kept.empty()) {
            EXPECT_EQ(ReadText(kept), "sound") << kept;
        }
    }
}

// A whole-file write (a picture) that cannot take its name fails with the system's reason and
// leaves nothing beside what was there: its temporary does not outlive it.
TEST(WriteWholeFile, RenameThatFailsLeavesNoTemporary)
{
    TempDir dir;
    fs::create_directories(dir.File("map.png/inside"));
    std::error_code why;
    EXPECT_EQ(WriteWholeFile(dir.File("map.png"), "png", 3, /*replaceExisting=*/true, &why),
              kMsgSaveFailed);
    EXPECT_TRUE(why);
    EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"map.png"});
}

#if !defined(_WIN32)
// A save that dies half way (the process is killed) leaves the old file as it was; the next
// save to the name works beside the dead one's temporary and leaves nothing of its own.
TEST(SafeOutput, ProcessDyingMidSaveLeavesTheTargetUntouched)
{
    TempDir dir;
    const std::string target = dir.File("out.wav");
    WriteText(target, "old");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SafeOutput out;
        TWaveData writer;
        writer.Format = WaveFormat::PcmStereo16(44100);
        if (writer.OpenWrite(out.Begin(target)) != 0)
            _exit(1);
        std::vector<uint8_t> block(400000, 7);
        writer.Write(block.data(), static_cast<int>(block.size()));
        _exit(0); // no Close, no Commit, no destructors
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadText(target), "old");
    const std::vector<std::string> names = FolderNames(dir.Path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].rfind(".out.wav.part", 0), 0u);
    EXPECT_EQ(names[1], "out.wav");

    const std::string in = dir.File("in.wav");
    test::WriteWav16(in, std::vector<int16_t>(20000, 300));
    SaveFile save;
    ASSERT_EQ(save.Check(in, target).Message, 0);
    ASSERT_EQ(save.Begin(true).Message, 0);
    std::atomic<bool> abort{false};
    ExportSettings settings;
    settings.Area = FilterArea::Widest(44100);
    const SaveResult r = save.Run(settings, nullptr, abort);
    EXPECT_EQ(r.Message, 0);
    EXPECT_EQ(test::ReadWavSamples(target).size(), 20000u);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{names[0], "in.wav", "out.wav"}));
}
#endif

} // namespace
} // namespace varnel
