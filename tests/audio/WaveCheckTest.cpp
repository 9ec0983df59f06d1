#include "audio/WaveCheck.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <iterator>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace varnel {
namespace {

using test::TempDir;
using test::WriteWav16;

std::string Malformed(const std::string& name)
{
    return std::string(VARNEL_TEST_DATA) + "/malformed/" + name;
}

// The corpus of damaged and unsupported files (made by tools/fuzz/make_malformed.py): each is
// refused with the right message or opened and read safely to the end of its whole frames.
TEST(CheckWaveFile, MalformedFilesAreRefusedOrReadSafely)
{
    struct Case
    {
        const char* file;
        int openResult; // TWaveData::OpenRead
        int message;    // CheckWaveFile
        int64_t dataStart;
        uint32_t dataSize;     // whole frames actually present
        uint32_t declaredSize; // the size field as found
    };
    const Case cases[] = {
        {"empty-file.wav", 2, 2, 0, 0, 0},
        {"riff-header-cut.wav", 2, 2, 0, 0, 0},
        {"riff-without-form.wav", 2, 2, 0, 0, 0},
        {"not-riff.wav", 2, 2, 0, 0, 0},
        {"riff-other-form.wav", 2, 2, 0, 0, 0},
        {"riff-size-small.wav", 2, 2, 0, 0, 0},
        {"fmt-header-cut.wav", 2, 2, 0, 0, 0},
        {"fmt-body-cut.wav", 1, 1, 0, 0, 0},
        {"fmt-14-bytes.wav", 1, 1, 0, 0, 0},
        {"fmt-size-huge.wav", 2, 2, 0, 0, 0},
        {"no-fmt.wav", 2, 2, 0, 0, 0},
        {"no-data.wav", 2, 2, 0, 0, 0},
        {"data-before-fmt.wav", 2, 2, 0, 0, 0},
        {"list-size-past-end.wav", 2, 2, 0, 0, 0},
        {"list-odd-unpadded.wav", 2, 2, 0, 0, 0},
        {"fmt-40-bytes.wav", 0, 0, 68, 32, 32},
        {"riff-size-huge.wav", 0, 0, 44, 32, 32},
        {"data-size-past-end.wav", 0, 0, 44, 32, 1032},
        {"data-size-ffffffff.wav", 0, 0, 44, 32, 0xFFFFFFFFu},
        {"data-cut-mid-frame.wav", 0, 0, 44, 28, 32},
        {"data-size-odd.wav", 0, 0, 44, 32, 33},
        {"data-empty.wav", 0, 0, 44, 0, 0},
        {"list-odd-padded.wav", 0, 0, 58, 32, 32},
        {"list-after-data.wav", 0, 0, 44, 32, 32},
        {"many-small-chunks.wav", 0, 0, 24044, 32, 32},
        {"junk-before-riff.wav", 0, 0, 56, 32, 32},
        {"block-align-zero.wav", 0, 4, 44, 32, 32},
        {"block-align-8.wav", 0, 4, 44, 32, 32},
        {"rate-zero.wav", 0, 2, 44, 32, 32},
        {"rate-80.wav", 0, 2, 44, 32, 32},
        {"rate-huge.wav", 0, 2, 44, 32, 32},
        {"bits-8.wav", 0, 4, 44, 32, 32},
        {"bits-24.wav", 0, 4, 44, 24, 24},
        {"mono.wav", 0, 4, 44, 32, 32},
        {"six-channels.wav", 0, 4, 44, 48, 48},
        {"float.wav", 0, 3, 44, 32, 32},
        {"extensible.wav", 0, 3, 68, 32, 32},
    };
    size_t corpusFiles = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Malformed("")))
        corpusFiles += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(corpusFiles, std::size(cases)) << "every corpus file has a row";

    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = Malformed(c.file);
        ASSERT_TRUE(std::filesystem::exists(path));
        TWaveData in;
        ASSERT_EQ(in.OpenRead(path), c.openResult);
        EXPECT_EQ(CheckWaveFile(path, nullptr), c.message);
        if (c.openResult != 0) {
            EXPECT_FALSE(in.IsOpen);
            EXPECT_EQ(in.Close(), 0);
            continue;
        }
        EXPECT_EQ(in.DataStart, c.dataStart);
        EXPECT_EQ(in.DataSize, c.dataSize);
        EXPECT_EQ(in.DeclaredDataSize, c.declaredSize);
        // Reads deliver exactly the data found; the corpus files hold a ramp, first frame 0, 0
        // and second frame 100, -100.
        std::vector<uint8_t> all;
        uint8_t block[6];
        for (int n; (n = in.Read(block, sizeof block)) > 0;)
            all.insert(all.end(), block, block + n);
        EXPECT_EQ(all.size(), c.dataSize);
        if (all.size() >= 8) {
            const std::vector<uint8_t> firstTwo = {0, 0, 0, 0, 100, 0, 0x9C, 0xFF};
            EXPECT_TRUE(std::equal(firstTwo.begin(), firstTwo.end(), all.begin()));
        }
        EXPECT_EQ(in.Close(), 0);
    }
}

TEST(CheckWaveFile, FilesThatCannotBeOpenedGiveMessageOne)
{
    TempDir dir;
    EXPECT_EQ(CheckWaveFile(dir.Path(), nullptr), 1) << "a folder";
    EXPECT_EQ(CheckWaveFile(dir.File("missing.wav"), nullptr), 1);
    EXPECT_EQ(CheckWaveFile("", nullptr), 1);
}

#if !defined(_WIN32)
// Root reads any file whatever its permissions, so as root the check runs in a child that has
// given up root for the "nobody" user.
TEST(CheckWaveFile, UnreadableFileGivesMessageOne)
{
    TempDir dir;
    const std::string path = dir.File("locked.wav");
    WriteWav16(path, std::vector<int16_t>(64));
    namespace fs = std::filesystem;
    fs::permissions(dir.Path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(path, fs::perms::none);
    if (geteuid() != 0) {
        EXPECT_EQ(CheckWaveFile(path, nullptr), 1);
        return;
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(100);
        _exit(CheckWaveFile(path, nullptr));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 100)
        GTEST_SKIP() << "cannot drop root here";
    EXPECT_EQ(WEXITSTATUS(status), 1);
}
#endif

TEST(CheckWaveFile, SampleRateBounds)
{
    TempDir dir;
    const struct
    {
        int rate;
        int message;
    } cases[] = {{81, 0}, {8000, 0}, {44100, 0}, {768000, 0}, {768001, 2}, {80, 2}, {1, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        const std::string path = dir.File("rate.wav");
        WriteWav16(path, std::vector<int16_t>(64), c.rate);
        WaveFormat format;
        EXPECT_EQ(CheckWaveFile(path, &format), c.message);
        EXPECT_EQ(format.SamplesPerSec, static_cast<uint32_t>(c.rate));
        EXPECT_EQ(format.BlockAlign, 4);
    }
}

TEST(FormatLabelText, RateBitsAndChannels)
{
    const struct
    {
        uint32_t rate;
        uint16_t channels;
        const char* text;
    } cases[] = {
        {44100, 2, "44.100kHz 16位   立体声"},   {8000, 1, "8.000kHz 16位   单声道"},
        {22050, 2, "22.050kHz 16位   立体声"},   {96001, 2, "96.001kHz 16位   立体声"},
        {768000, 2, "768.000kHz 16位   立体声"}, {81, 2, "0.081kHz 16位   立体声"},
    };
    // The decimal point stays a point under a locale that writes a comma.
    const char* oldLocale = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = oldLocale ? oldLocale : "C";
    const bool comma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    for (const auto& c : cases) {
        WaveFormat f;
        f.FormatTag = 1;
        f.SamplesPerSec = c.rate;
        f.Channels = c.channels;
        f.BitsPerSample = 16;
        EXPECT_EQ(FormatLabelText(f), c.text) << (comma ? "under de_DE" : "under C");
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
}

} // namespace
} // namespace varnel
