#include "platform/ChunkFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace varnel {
namespace {

using test::ReadFileBytes;
using test::TempDir;

uint32_t U32At(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void Append(std::vector<uint8_t>& b, const char* id, uint32_t size)
{
    b.insert(b.end(), id, id + 4);
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(size >> (8 * i)));
}

TEST(ChunkFile, AscendWritesSizesAndPadsOddBodies)
{
    TempDir dir;
    const std::string path = dir.File("nested.riff");
    {
        ChunkFile f;
        ASSERT_TRUE(f.OpenWrite(path));
        ChunkInfo riff;
        riff.Id = FourCC("RIFF");
        riff.FormType = FourCC("TEST");
        ASSERT_TRUE(f.CreateChunk(riff));
        ChunkInfo odd;
        odd.Id = FourCC("odd ");
        ASSERT_TRUE(f.CreateChunk(odd));
        ASSERT_EQ(f.Write("abc", 3), 3);
        ASSERT_TRUE(f.Ascend(odd));
        ChunkInfo even;
        even.Id = FourCC("even");
        ASSERT_TRUE(f.CreateChunk(even));
        ASSERT_EQ(f.Write("wxyz", 4), 4);
        ASSERT_TRUE(f.Ascend(even));
        ASSERT_TRUE(f.Ascend(riff));
        EXPECT_EQ(f.Close(), 0);
    }
    const std::vector<uint8_t> b = ReadFileBytes(path);
    // RIFF(8) TEST(4) odd(8+3+pad) even(8+4)
    ASSERT_EQ(b.size(), 36u);
    EXPECT_EQ(U32At(b, 4), 28u);
    EXPECT_EQ(U32At(b, 16), 3u);
    EXPECT_EQ(b[23], 0) << "pad byte";
    EXPECT_EQ(std::memcmp(b.data() + 24, "even", 4), 0);
    EXPECT_EQ(U32At(b, 28), 4u);

    ChunkFile r;
    ASSERT_TRUE(r.OpenRead(path));
    ChunkInfo riff;
    ASSERT_TRUE(r.DescendRiff(riff, FourCC("TEST")));
    ChunkInfo sub;
    ASSERT_TRUE(r.Descend(sub, riff, FourCC("even")));
    EXPECT_EQ(sub.DataOffset, 32);
    EXPECT_EQ(sub.Size, 4u);
    char body[4];
    ASSERT_EQ(r.Read(body, 4), 4);
    EXPECT_EQ(std::memcmp(body, "wxyz", 4), 0);
}

// Every search must end and stay inside the file and the parent, whatever the sizes say.
TEST(ChunkFile, SearchesStayBoundedByParentAndFile)
{
    struct Case
    {
        const char* name;
        std::vector<uint8_t> bytes;
        bool riffFound;
        bool dataFound;
        int64_t dataOffset;
    };
    auto riffOf = [](uint32_t riffSize, std::vector<uint8_t> body) {
        std::vector<uint8_t> b;
        Append(b, "RIFF", riffSize);
        b.insert(b.end(), {'W', 'A', 'V', 'E'});
        b.insert(b.end(), body.begin(), body.end());
        return b;
    };
    std::vector<uint8_t> skip;
    Append(skip, "JUNK", 3);
    skip.insert(skip.end(), {1, 2, 3, 0});
    Append(skip, "data", 0);
    std::vector<uint8_t> hugeSkip;
    Append(hugeSkip, "JUNK", 0xFFFFFFFFu);
    Append(hugeSkip, "data", 0);
    std::vector<uint8_t> dataOnly;
    Append(dataOnly, "data", 0);
    std::vector<uint8_t> cutHeader = {'d', 'a', 't', 'a', 0, 0};

    const std::vector<Case> cases = {
        {"odd chunk skipped with its pad", riffOf(24, skip), true, true, 32},
        {"size past the file ends the search", riffOf(24, hugeSkip), true, false, 0},
        {"chunk outside a short RIFF", riffOf(4, dataOnly), true, false, 0},
        {"RIFF size past the file", riffOf(0xFFFFFFFFu, dataOnly), true, true, 20},
        {"header cut by the file end", riffOf(14, cutHeader), true, false, 0},
        {"RIFF without room for its form",
         {'R', 'I', 'F', 'F', 2, 0, 0, 0, 'W', 'A'},
         false,
         false,
         0},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("case.riff");
        WriteBytes(path, c.bytes);
        ChunkFile f;
        ASSERT_TRUE(f.OpenRead(path));
        ChunkInfo riff;
        ASSERT_EQ(f.DescendRiff(riff, FourCC("WAVE")), c.riffFound);
        if (!c.riffFound)
            continue;
        ChunkInfo data;
        ASSERT_EQ(f.Descend(data, riff, FourCC("data")), c.dataFound);
        if (c.dataFound) {
            EXPECT_EQ(data.DataOffset, c.dataOffset);
        }
    }
}

TEST(ChunkFile, RefusesWhatIsNotARegularFile)
{
    TempDir dir;
    ChunkFile f;
    EXPECT_FALSE(f.OpenRead(dir.Path()));
    EXPECT_FALSE(f.OpenRead(dir.File("missing.wav")));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(f.Close(), 0);
}

TEST(ChunkFile, RepairSizesCutsToWholeUnits)
{
    TempDir dir;
    const std::string path = dir.File("partial.wav");
    std::vector<uint8_t> b;
    Append(b, "RIFF", 0);
    b.insert(b.end(), {'W', 'A', 'V', 'E'});
    Append(b, "data", 0);
    for (int i = 0; i < 4 * 5 + 3; ++i) // five frames and a torn one
        b.push_back(static_cast<uint8_t>(i));
    WriteBytes(path, b);
    ASSERT_TRUE(ChunkFile::RepairSizes(path, 20, 4));
    const std::vector<uint8_t> r = ReadFileBytes(path);
    ASSERT_EQ(r.size(), 40u);
    EXPECT_EQ(U32At(r, 4), 32u);
    EXPECT_EQ(U32At(r, 16), 20u);
    EXPECT_FALSE(ChunkFile::RepairSizes(path, 64, 4)) << "file shorter than its header";
}

} // namespace
} // namespace varnel
