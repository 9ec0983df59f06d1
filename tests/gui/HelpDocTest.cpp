#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace varnel {
namespace {

namespace fs = std::filesystem;

#ifdef VARNEL_HELP_PDF

std::string ReadText(const std::string& path)
{
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Pages of a PDF: its page objects ("/Type /Page", not the "/Type /Pages" tree nodes).
int PageCount(const std::string& pdf)
{
    int pages = 0;
    for (size_t at = pdf.find("/Type /Page"); at != std::string::npos;
         at = pdf.find("/Type /Page", at + 1))
        pages += pdf.compare(at, 12, "/Type /Pages") != 0 ? 1 : 0;
    return pages;
}

int RunGenerator(const std::string& out)
{
    const std::string command =
        std::string("'") + VARNEL_HELPDOC_PATH + "' '" + out + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HelpDocTest, TheBuildPutsTheHelpDocumentBesideTheProgram)
{
    const std::string pdf = ReadText(VARNEL_HELP_PDF);
    ASSERT_FALSE(pdf.empty());
    EXPECT_EQ(pdf.compare(0, 5, "%PDF-"), 0);
    EXPECT_NE(pdf.rfind("%%EOF"), std::string::npos);
    // The help text runs over more than one A4 page.
    EXPECT_GE(PageCount(pdf), 2);
    EXPECT_EQ(fs::path(VARNEL_HELP_PDF).filename(), "VarnelHelp.pdf");
#ifdef VARNEL_PROGRAM_PATH
    EXPECT_EQ(fs::path(VARNEL_HELP_PDF).parent_path(), fs::path(VARNEL_PROGRAM_PATH).parent_path());
#endif
}

TEST(HelpDocTest, GeneratorWritesAFreshFileAndReportsOneItCannotWrite)
{
    test::TempDir dir;
    std::ofstream(dir.File("help.pdf")) << "stale";
    EXPECT_EQ(RunGenerator(dir.File("help.pdf")), 0);
    EXPECT_EQ(ReadText(dir.File("help.pdf")).compare(0, 5, "%PDF-"), 0);

    // A regular file where the folder should be: no file can be made there, even as root.
    std::ofstream(dir.File("plain")) << "x";
    EXPECT_EQ(RunGenerator(dir.File("plain/help.pdf")), 1);
}

#endif

} // namespace
} // namespace varnel
