#include "settings/IniFile.h"
#include "settings/Options.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace varnel {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path)
{
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(IniFileTest, IntegersAreDecimalOrHexAfterADollarOrZeroX)
{
    struct Case
    {
        const char* Text;
        bool Valid;
        int Value;
    };
    const Case cases[] = {
        {"200", true, 200},
        {" 200\t", true, 200},
        {"$C8", true, 200},
        {"$c8", true, 200},
        {"0x190", true, 400},
        {"0X190", true, 400},
        {"-5", true, -5},
        {"+7", true, 7},
        {"-$10", true, -16},
        {"19", true, 19}, // the highest decimal digit
        {"2147483647", true, INT_MAX},
        {"-2147483648", true, INT_MIN},
        {"$7FFFFFFF", true, INT_MAX},
        {"2147483648", false, 0},
        {"$80000000", false, 0},
        {"", false, 0},
        {"abc", false, 0},
        {"12abc", false, 0},
        {"1a", false, 0}, // 'a' is worth 10, the base itself: no decimal digit
        {"1 2", false, 0},
        {"1.5", false, 0},
        {"$", false, 0},
        {"0x", false, 0},
        {"0x1G", false, 0},
        {"-", false, 0},
        {"C8", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        int value = -12345;
        EXPECT_EQ(ParseIniInteger(c.Text, value), c.Valid);
        EXPECT_EQ(value, c.Valid ? c.Value : -12345);
    }
}

TEST(IniFileTest, ReadingFindsTheKeyOfItsOwnSectionOnly)
{
    const IniFile file = IniFile::FromText("\xEF\xBB\xBF; settings\r\n"
                                           "[Other]\r\n"
                                           "BuffSize=900\r\n"
                                           "[v10_option]\r\n"
                                           "# a comment=1\r\n"
                                           "  buffsize = 300 \r\n"
                                           "BuffSize=400\r\n"
                                           "QtyLevel=\"3\"\r\n"
                                           "Empty=\r\n"
                                           "Word=abc\r\n"
                                           "[Later]\r\n"
                                           "Hex=$C8");
    struct Case
    {
        const char* Section;
        const char* Key;
        int Expected;
    };
    const Case cases[] = {
        {"V10_Option", "BuffSize", 300}, // names match without regard to case; the first wins
        {"V10_Option", "QtyLevel", 3},   // enclosing quotes are dropped
        {"Other", "BuffSize", 900},      {"V10_Option", "Empty", -1},
        {"V10_Option", "Word", -1},      {"V10_Option", "# a comment", -1},
        {"V10_Option", "Hex", -1}, // belongs to the next section
        {"Later", "Hex", 200},     // the last line has no line end
        {"Missing", "BuffSize", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.Section) + "/" + c.Key);
        EXPECT_EQ(file.ReadInteger(c.Section, c.Key, -1), c.Expected);
    }
    // A header behind a byte order mark is found too.
    EXPECT_EQ(IniFile::FromText("\xEF\xBB\xBF[A]\nk=5\n").ReadInteger("A", "k", -1), 5);
}

TEST(IniFileTest, WritingChangesOnlyTheLinesOfTheTwoKeys)
{
    struct Case
    {
        const char* Name;
        const char* Before;
        const char* After;
    };
    const Case cases[] = {
        {"empty file", "", "[V10_Option]\nBuffSize=250\nQtyLevel=3\n"},
        {"other sections kept, section added at the end",
         "; mine\n[Window]\nLeft=10\n\n[Recent]\nFile1=/a.wav\n",
         "; mine\n[Window]\nLeft=10\n\n[Recent]\nFile1=/a.wav\n"
         "[V10_Option]\nBuffSize=250\nQtyLevel=3\n"},
        {"no line end at the end", "[Window]\nLeft=10",
         "[Window]\nLeft=10\n[V10_Option]\nBuffSize=250\nQtyLevel=3\n"},
        {"values replaced in place, spelling and blanks kept",
         "[v10_option]\r\nQTYLEVEL = 4\r\nExtra=1\r\nbuffsize=$C8\r\n",
         "[v10_option]\r\nQTYLEVEL = 3\r\nExtra=1\r\nbuffsize=250\r\n"},
        {"missing key after the section's last entry, before the next section's comment",
         "[V10_Option]\nBuffSize=600\n\n; window place\n[Window]\nLeft=10\n",
         "[V10_Option]\nBuffSize=250\nQtyLevel=3\n\n; window place\n[Window]\nLeft=10\n"},
        {"only the first of two equal keys changes",
         "[V10_Option]\nBuffSize=1\nBuffSize=2\nQtyLevel=0",
         "[V10_Option]\nBuffSize=250\nBuffSize=2\nQtyLevel=3"},
        {"section with no entries", "[V10_Option]\n[Next]\n",
         "[V10_Option]\nBuffSize=250\nQtyLevel=3\n[Next]\n"},
        {"CRLF file gets CRLF lines", "[A]\r\nx=1\r\n",
         "[A]\r\nx=1\r\n[V10_Option]\r\nBuffSize=250\r\nQtyLevel=3\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        IniFile file = IniFile::FromText(c.Before);
        file.WriteInteger(kOptionSection, kBuffSizeKey, 250);
        file.WriteInteger(kOptionSection, kQtyLevelKey, 3);
        EXPECT_EQ(file.Text(), c.After);
    }
}

TEST(IniFileTest, SaveReplacesTheFileWholeAndLeavesNothingBeside)
{
    test::TempDir dir;
    const std::string path = dir.File("varnel.ini");
    WriteText(path, "; keep me\n[V10_Option]\nBuffSize=300\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);

    IniFile file = IniFile::Load(path);
    file.WriteInteger(kOptionSection, kQtyLevelKey, 4);
    ASSERT_TRUE(file.Save(path));
    EXPECT_EQ(ReadText(path), "; keep me\n[V10_Option]\nBuffSize=300\nQtyLevel=4\n");
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"varnel.ini"});
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(IniFileTest, SaveThroughALinkReplacesTheFileItNames)
{
    test::TempDir dir;
    fs::create_directory(dir.File("real"));
    WriteText(dir.File("real/varnel.ini"), "[A]\nx=1\n");
    fs::create_symlink(dir.File("real/varnel.ini"), dir.File("varnel.ini"));

    IniFile file = IniFile::Load(dir.File("varnel.ini"));
    file.WriteInteger("A", "x", 2);
    ASSERT_TRUE(file.Save(dir.File("varnel.ini")));
    EXPECT_TRUE(fs::is_symlink(dir.File("varnel.ini")));
    EXPECT_EQ(ReadText(dir.File("real/varnel.ini")), "[A]\nx=2\n");
}

TEST(IniFileTest, FailedSavesLeaveTheOldStateAndNoNewFile)
{
    test::TempDir dir;
    // The tests run as root, so the failures are made by the shape of the file system rather
    // than by permissions: a regular file where the folder should be, and a folder where the
    // file should be.
    WriteText(dir.File("plain"), "not a folder");
    EXPECT_FALSE(IniFile::FromText("[A]\nx=1\n").Save(dir.File("plain/varnel.ini")));

    fs::create_directory(dir.File("varnel.ini"));
    WriteText(dir.File("varnel.ini/inside"), "kept");
    const IniFile folderAsFile = IniFile::Load(dir.File("varnel.ini"));
    EXPECT_FALSE(folderAsFile.Save(dir.File("varnel.ini")));
    EXPECT_FALSE(IniFile::FromText("[A]\nx=1\n").Save(dir.File("varnel.ini")));
    EXPECT_EQ(ReadText(dir.File("varnel.ini/inside")), "kept");
    EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"plain", "varnel.ini"}));
    EXPECT_FALSE(IniFile().Save(""));
}

TEST(IniFileTest, BufferLengthsAreBroughtIntoTheirLimits)
{
    const std::pair<int, int> cases[] = {{50, 100},    {99, 100},    {100, 100},
                                         {250, 250},   {1000, 1000}, {1001, 1000},
                                         {9999, 1000}, {-1, 100},    {INT_MIN, 100}};
    for (const auto& [typed, limited] : cases)
        EXPECT_EQ(LimitBuffSize(typed), limited) << typed;
}

} // namespace
} // namespace varnel
