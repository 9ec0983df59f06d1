// What varnel-cli export does when things go wrong around it: signals, a full disk, outputs
// that are folders, another process taking the name, awkward file names.

#include "cli/CliRun.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace varnel::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRate = 44100;

void PutU32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

// A 16-bit stereo WAV of silence whose data chunk declares declaredBytes and holds frames
// frames, written sparse so that long files cost no disk space.
void WriteSilentWav(const std::string& path, int64_t frames, uint32_t declaredBytes)
{
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F'};
    PutU32(b, declaredBytes + 36);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutU32(b, 16);
    b.insert(b.end(), {1, 0, 2, 0});
    PutU32(b, kRate);
    PutU32(b, kRate * 4);
    b.insert(b.end(), {4, 0, 16, 0, 'd', 'a', 't', 'a'});
    PutU32(b, declaredBytes);
    {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    fs::resize_file(path, b.size() + static_cast<uintmax_t>(frames) * 4);
}

// Ten minutes of silence: an export of it runs for many seconds, long enough to be
// interrupted or raced part way.
std::string LongInput(const TempDir& dir)
{
    const std::string path = dir.File("long.wav");
    const int64_t frames = int64_t{600} * kRate;
    WriteSilentWav(path, frames, static_cast<uint32_t>(frames * 4));
    return path;
}

// True once a temporary output in the folder holds some written sound.
bool ExportHasWritten(const std::string& folder)
{
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        std::error_code ec;
        if (name.find(".part") != std::string::npos && fs::file_size(e.path(), ec) > 200000)
            return true;
    }
    return false;
}

// The frame count of a valid WAV file as this program writes it (sizes matching the length),
// or -1 for anything else.
int64_t ValidWavFrames(const std::string& path)
{
    const std::vector<uint8_t> b = ReadFileBytes(path);
    if (b.size() < 46)
        return -1;
    const auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
               static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
    };
    if (u32(4) != b.size() - 8 || u32(42) != b.size() - 46 || (b.size() - 46) % 4 != 0)
        return -1;
    return static_cast<int64_t>(b.size() - 46) / 4;
}

// Every stop signal leaves a valid, shorter file where none was, removes the temporary, says
// how much was saved, and ends with 128 + the signal, as a shell reports it.
TEST(CliSafety, StopSignalsLeaveAValidShorterFile)
{
    const struct
    {
        int Signal;
        int Exit;
    } cases[] = {
        {SIGINT, 130},  {SIGTERM, 143}, {SIGHUP, 129},
        {SIGQUIT, 131}, {SIGPIPE, 141}, {SIGXCPU, 152},
    };
    TempDir dir;
    const std::string in = LongInput(dir);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Signal);
        const std::string out = dir.File("out.wav");
        fs::remove(out);
        RunningCli cli({"export", in, out, "--quality", "0"});
        ASSERT_TRUE(WaitFor(20.0, ExportHasWritten, dir.Path()));
        cli.Signal(c.Signal);
        const ProgramResult r = cli.Wait(20.0);
        EXPECT_EQ(r.ExitCode, c.Exit) << r.Err;
        const int64_t frames = ValidWavFrames(out);
        EXPECT_GT(frames, 0) << "a valid file holding what was written";
        EXPECT_LT(frames, int64_t{600} * kRate);
        EXPECT_TRUE(HiddenTemporaries(dir.Path()).empty());
        EXPECT_NE(r.Err.find("Interrupted: "), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find(" s of 600.0 s saved."), std::string::npos) << r.Err;
    }
}

// A signal the program was started with ignored (nohup, trap '' HUP) stays ignored.
TEST(CliSafety, SignalIgnoredAtStartStaysIgnored)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteSilentWav(in, 20 * kRate, 20 * kRate * 4);
    const std::string out = dir.File("out.wav");
    RunningCli cli({"export", in, out, "--quality", "0"}, {}, {SIGHUP});
    ASSERT_TRUE(WaitFor(20.0, ExportHasWritten, dir.Path()));
    cli.Signal(SIGHUP);
    const ProgramResult r = cli.Wait(60.0);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ValidWavFrames(out), 20 * kRate);
}

// An interrupted export never replaces the file it was forced over: the old one stays byte
// for byte.
TEST(CliSafety, InterruptedForcedExportKeepsTheOldFile)
{
    TempDir dir;
    const std::string in = LongInput(dir);
    const std::string out = dir.File("out.wav");
    WriteWav16(out, std::vector<int16_t>(2000, 123));
    const std::vector<uint8_t> before = ReadFileBytes(out);
    RunningCli cli({"export", in, out, "--force", "--quality", "0"});
    ASSERT_TRUE(WaitFor(20.0, ExportHasWritten, dir.Path()));
    cli.Signal(SIGINT);
    const ProgramResult r = cli.Wait(20.0);
    EXPECT_EQ(r.ExitCode, 130) << r.Err;
    EXPECT_EQ(ReadFileBytes(out), before);
    EXPECT_TRUE(HiddenTemporaries(dir.Path()).empty());
    EXPECT_NE(r.Err.find("the existing file is kept"), std::string::npos) << r.Err;
}

// A disk that takes no byte at all (a file size limit of 0 acts like a full disk here) leaves
// no file, not an empty one that is no WAV file, and names the system's reason.
TEST(CliSafety, FullDiskLeavesNoInvalidFile)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, std::vector<int16_t>(2 * kRate, 5));
    const std::string out = dir.File("out.wav");
    // The limit covers every file the program writes, so its messages go through a pipe.
    const ProgramResult r = RunProgram(
        "sh",
        {"-c", "{ (trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\") 2>&1; echo \"exit $?\"; } | cat",
         CliPath(), "export", in, out});
    EXPECT_EQ(r.Out, "varnel-cli: \"out.wav\": An Error occurred while saving. (File too large)\n"
                     "exit 5\n");
    EXPECT_TRUE(!fs::exists(out) || ValidWavFrames(out) >= 0) << "no file, or a valid one";
    EXPECT_TRUE(HiddenTemporaries(dir.Path()).empty());
}

// A file size limit set by the person (ulimit -f, with the signal it sends left as it is) is
// a write failure like a full disk: the program goes on to say so, keeps a valid shorter file
// or none, and leaves no temporary; it is not ended half-way by the limit's signal.
TEST(CliSafety, FileSizeLimitIsAWriteFailure)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, std::vector<int16_t>(10 * kRate, 5));
    for (const int blocks : {0, 400}) { // 512-byte blocks: none, or about a second of sound
        SCOPED_TRACE(blocks);
#if defined(__SANITIZE_THREAD__)
        // The thread checker's runtime writes a file of its own before the program starts,
        // which a limit of nothing ends with the limit's signal.
        if (blocks == 0)
            continue;
#endif
        const std::string out = dir.File("out" + std::to_string(blocks) + ".wav");
        // The limit covers every file the program writes, so its messages go through a pipe.
        const ProgramResult r =
            RunProgram("sh", {"-c",
                              "{ (trap - XFSZ; ulimit -f " + std::to_string(blocks) +
                                  "; exec \"$0\" \"$@\") 2>&1; echo \"exit $?\"; } | cat",
                              CliPath(), "export", in, out});
        EXPECT_EQ(r.Out, "varnel-cli: \"" + fs::path(out).filename().string() +
                             "\": An Error occurred while saving. (File too large)\nexit 5\n");
        if (blocks == 0)
            EXPECT_FALSE(fs::exists(out));
        else
            EXPECT_GT(ValidWavFrames(out), 0) << "the valid start of the sound";
        EXPECT_TRUE(HiddenTemporaries(dir.Path()).empty());
    }
}

// An output that is a folder, or a link to one, is refused before any work: no temporary is
// made beside it, exit 4, and the message says why.
TEST(CliSafety, FolderAsOutputIsRefusedAtOnce)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, std::vector<int16_t>(2 * kRate, 5));
    fs::create_directory(dir.File("folder.wav"));
    fs::create_directory(dir.File("real"));
    fs::create_directory_symlink(dir.File("real"), dir.File("link.wav"));
    for (const char* name : {"folder.wav", "link.wav"}) {
        for (const bool force : {false, true}) {
            std::vector<std::string> args = {"export", in, dir.File(name)};
            if (force)
                args.push_back("--force");
            const ProgramResult r = RunCli(args);
            EXPECT_EQ(r.ExitCode, 4) << name;
            EXPECT_EQ(r.Err, std::string("varnel-cli: \"") + name +
                                 "\": An error occurred during file creation. (Is a directory)\n");
            EXPECT_TRUE(HiddenTemporaries(dir.Path()).empty()) << name;
        }
    }
    EXPECT_TRUE(fs::is_symlink(dir.File("link.wav")));
}

// Two exports to one name: the one that finishes second finds the other's file and keeps it
// (message 5, exit 4) instead of replacing it with its own.
TEST(CliSafety, FileThatAppearsDuringTheExportIsNotReplaced)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteSilentWav(in, 60 * kRate, 60 * kRate * 4);
    const std::string out = dir.File("out.wav");
    RunningCli cli({"export", in, out, "--quality", "0"});
    ASSERT_TRUE(WaitFor(20.0, ExportHasWritten, dir.Path()));
    WriteWav16(out, std::vector<int16_t>(400, 7)); // the other process's finished file
    const std::vector<uint8_t> winner = ReadFileBytes(out);
    const ProgramResult r = cli.Wait(120.0);
    EXPECT_EQ(r.ExitCode, 4) << r.Err;
    EXPECT_EQ(r.Err, "varnel-cli: \"out.wav\": File already exists. Overwrite?\n");
    EXPECT_EQ(ReadFileBytes(out), winner);
    EXPECT_TRUE(HiddenTemporaries(dir.Path()).empty());
}

// A forced export whose final rename is refused (here a non-empty folder takes the name while
// it runs; a read-only folder or another user's file in a sticky folder fail alike) keeps the
// whole file under a visible name, says where with the system's reason, and exits 5.
TEST(CliSafety, ForcedExportThatCannotTakeItsNameSaysWhereTheSoundIs)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    // Three minutes: the export runs for a good fraction of a second after it has written.
    WriteSilentWav(in, 180 * kRate, 180 * kRate * 4);
    const std::string out = dir.File("out.wav");
    WriteWav16(out, std::vector<int16_t>(400, 7));
    RunningCli cli({"export", in, out, "--force", "--quality", "0"});
    ASSERT_TRUE(WaitFor(20.0, ExportHasWritten, dir.Path()));
    fs::remove(out);
    fs::create_directory(out);
    std::ofstream(out + "/inside") << "x";
    const ProgramResult r = cli.Wait(120.0);
    EXPECT_EQ(r.ExitCode, 5) << r.Err;
    const std::string kept = dir.File("out (1).wav");
    EXPECT_EQ(r.Err, "varnel-cli: \"out.wav\": An Error occurred while saving. (Is a directory)\n"
                     "varnel-cli: \"out.wav\": The saved sound is kept as \"" +
                         kept + "\".\n");
    EXPECT_EQ(ValidWavFrames(kept), 180 * kRate);
    EXPECT_TRUE(HiddenTemporaries(dir.Path()).empty());
    EXPECT_TRUE(fs::is_directory(out));
}

// Names are bytes: any byte sequence the system takes (not UTF-8, or up to 255 bytes long)
// is the name the file gets. "--" ends the options, so a name may start with a dash.
TEST(CliSafety, FileNamesPassThroughAsBytes)
{
    TempDir dir;
    WriteWav16(dir.File("-dash.wav"), std::vector<int16_t>(4000, 9));
    const std::string latin1 = "caf\xe9-\xe9t\xe9.wav";
    const std::string longName = std::string(251, 'n') + ".wav";  // 255 bytes
    const std::string nearLimit = std::string(240, 'm') + ".wav"; // 244 bytes
    for (const std::string& name : {latin1, longName, nearLimit}) {
        SCOPED_TRACE(name.size());
        const ProgramResult r = RunCliAfter("cd '" + dir.Path() + "' &&",
                                            {"export", "--quiet", "--", "-dash.wav", name});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(ValidWavFrames(dir.File(name)), 2000);
    }
    EXPECT_TRUE(HiddenTemporaries(dir.Path()).empty());
    EXPECT_EQ(RunCliAfter("cd '" + dir.Path() + "' &&", {"info", "--", "-dash.wav"}).ExitCode, 0);
}

// Replacing a file with --force keeps the old file's permissions.
TEST(CliSafety, ForcedReplaceKeepsThePermissions)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    WriteWav16(in, std::vector<int16_t>(4000, 9));
    const std::string out = dir.File("out.wav");
    WriteWav16(out, std::vector<int16_t>(8, 1));
    fs::permissions(out, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const ProgramResult r = RunCli({"export", in, out, "--force"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ValidWavFrames(out), 2000);
    EXPECT_EQ(fs::status(out).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// An area or stretch that keeps nothing still saves (a silent or empty file) and warns.
TEST(CliSafety, AreaThatKeepsNothingWarns)
{
    TempDir dir;
    const std::string in = dir.File("in.wav");
    std::vector<int16_t> noise(2 * 2 * kRate);
    uint32_t x = 1;
    for (int16_t& s : noise) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<int16_t>(static_cast<int32_t>(x >> 16) - 32768);
    }
    WriteWav16(in, noise);
    const std::string warning =
        "varnel-cli: \"out.wav\": Warning: the area keeps nothing of the file; the saved file "
        "holds no sound.\n";
    const struct
    {
        std::vector<std::string> Options;
        int64_t Frames;
        bool Warns;
    } cases[] = {
        {{"--freq", "30000:max"}, 2 * kRate, true},
        {{"--ab", "500000:600000"}, 0, true}, // past the end of the 88200 frames
        {{"--widest", "--invert"}, 2 * kRate, true},
        {{"--widest"}, 2 * kRate, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Options[0]);
        std::vector<std::string> args = {"export", in, dir.File("out.wav"), "--force"};
        args.insert(args.end(), c.Options.begin(), c.Options.end());
        const ProgramResult r = RunCli(args);
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(r.Err, c.Warns ? warning : "");
        EXPECT_EQ(ValidWavFrames(dir.File("out.wav")), c.Frames);
        if (c.Warns) {
            int peak = 0;
            for (int16_t s : ReadWavSamples(dir.File("out.wav")))
                peak = std::max(peak, std::abs(static_cast<int>(s)));
            EXPECT_EQ(peak, 0) << "what it warns about is so";
        }
    }
}

// The extensible form of 16-bit stereo PCM is read like plain PCM and saved as plain PCM.
TEST(CliSafety, ExtensiblePcmIsReadLikePlainPcm)
{
    TempDir dir;
    const std::string plain = dir.File("plain.wav");
    const std::string extensible = dir.File("ext.wav");
    std::vector<int16_t> samples(2 * 30000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>((i * 37) % 20000 - 10000);
    WriteWav16(plain, samples);
    // The same samples behind a 40-byte extensible format chunk with the PCM sub-format.
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F'};
    PutU32(b, static_cast<uint32_t>(4 + 8 + 40 + 8 + samples.size() * 2));
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutU32(b, 40);
    b.insert(b.end(), {0xFE, 0xFF, 2, 0});
    PutU32(b, kRate);
    PutU32(b, kRate * 4);
    b.insert(b.end(), {4, 0, 16,   0, 22,   0, 16, 0,    3, 0,    0,    0,    1,   0,   0,   0,
                       0, 0, 0x10, 0, 0x80, 0, 0,  0xAA, 0, 0x38, 0x9B, 0x71, 'd', 'a', 't', 'a'});
    PutU32(b, static_cast<uint32_t>(samples.size() * 2));
    const std::vector<uint8_t> data = ReadFileBytes(plain);
    b.insert(b.end(), data.begin() + 44, data.end());
    {
        std::ofstream f(extensible, std::ios::binary);
        f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    ASSERT_EQ(RunCli({"export", plain, dir.File("a.wav")}).ExitCode, 0);
    const ProgramResult r = RunCli({"export", extensible, dir.File("b.wav")});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(ReadFileBytes(dir.File("b.wav")), ReadFileBytes(dir.File("a.wav")));
    EXPECT_EQ(RunCli({"info", extensible}).ExitCode, 0);
}

TEST(CliSafety, VersionIsShown)
{
    const ProgramResult r = RunCli({"--version"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out.rfind("varnel-cli 1.", 0), 0u) << r.Out;
}

} // namespace
} // namespace varnel::test
