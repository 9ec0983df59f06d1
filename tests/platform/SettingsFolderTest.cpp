#include "platform/SettingsFolder.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace varnel {
namespace {

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : mName(name)
    {
        if (const char* old = std::getenv(name))
            mOld = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (mOld)
            setenv(mName, mOld->c_str(), 1);
        else
            unsetenv(mName);
    }

private:
    const char* mName;
    std::optional<std::string> mOld;
};

TEST(SettingsFolderTest, FolderFollowsTheConfigHomeOrTheHomeFolder)
{
    struct Case
    {
        std::optional<std::string> ConfigHome;
        std::string Home;
        std::string Expected;
    };
    const Case cases[] = {
        {"/srv/cfg", "/home/u", "/srv/cfg/Varnel"},
        {std::nullopt, "/home/u", "/home/u/.config/Varnel"},
        {"", "/home/u", "/home/u/.config/Varnel"},
        // A relative config home is ignored, as the desktop's rules ask.
        {"cfg", "/home/u", "/home/u/.config/Varnel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ConfigHome.value_or("(unset)"));
        ScopedEnv config("XDG_CONFIG_HOME", c.ConfigHome);
        ScopedEnv home("HOME", c.Home);
        EXPECT_EQ(SettingsFolder(), c.Expected);
    }
}

TEST(SettingsFolderTest, FileIsNamedAfterTheProgramWithTheIniExtension)
{
    struct Case
    {
        std::string Folder;
        std::string Program;
        std::string Expected;
    };
    const Case cases[] = {
        {"/c/Varnel", "/usr/bin/varnel", "/c/Varnel/varnel.ini"},
        {"/c/Varnel", "C:\\Program Files\\Varnel\\Varnel.exe", "/c/Varnel/Varnel.ini"},
        {"/c/Varnel", "/opt/x/varnel.bin.exe", "/c/Varnel/varnel.bin.ini"},
        {"/c/Varnel", "/opt/.varnel", "/c/Varnel/.varnel.ini"},
        {"/c/Varnel", "", "/c/Varnel/varnel.ini"},
        {"", "/usr/bin/varnel", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Program);
        EXPECT_EQ(SettingsFilePath(c.Folder, c.Program), c.Expected);
    }
}

TEST(SettingsFolderTest, ProgramFileIsTheRunningTestProgram)
{
    EXPECT_EQ(std::filesystem::path(ProgramFilePath()).filename(), "varnel_tests_platform");
}

TEST(SettingsFolderTest, CreatingMakesEveryMissingFolderAndReportsWhatCannotBeMade)
{
    test::TempDir dir;
    EXPECT_TRUE(CreateSettingsFolder(dir.File("a/b/Varnel")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("a/b/Varnel")));
    EXPECT_TRUE(CreateSettingsFolder(dir.File("a/b/Varnel"))); // already there
    // A regular file where a folder must go: no folder can be made below it, even as root.
    std::ofstream(dir.File("plain")) << "x";
    EXPECT_FALSE(CreateSettingsFolder(dir.File("plain/Varnel")));
    EXPECT_FALSE(CreateSettingsFolder(""));
}

} // namespace
} // namespace varnel
