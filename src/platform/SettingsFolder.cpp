#include "platform/SettingsFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace varnel {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderName = "Varnel";

#ifndef _WIN32
std::string EnvironmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The home folder: HOME, or the account's entry when HOME is unset or empty.
std::string HomeFolder()
{
    std::string home = EnvironmentValue("HOME");
    if (!home.empty())
        return home;
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return std::string();
}
#endif

} // namespace

std::string SettingsFolder()
{
#ifdef _WIN32
    // The wide form, since the narrow environment is in the ANSI code page, not UTF-8.
    const wchar_t* base = _wgetenv(L"LOCALAPPDATA");
    if (base == nullptr || *base == L'\0')
        return std::string();
    return (fs::path(base) / kFolderName).u8string();
#else
    // A relative XDG_CONFIG_HOME is to be ignored, as if it were unset.
    const std::string config = EnvironmentValue("XDG_CONFIG_HOME");
    if (!config.empty() && config.front() == '/')
        return (fs::path(config) / kFolderName).string();
    const std::string home = HomeFolder();
    if (home.empty())
        return std::string();
    return (fs::path(home) / ".config" / kFolderName).string();
#endif
}

std::string ProgramFilePath()
{
#ifdef _WIN32
    wchar_t buffer[32768];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
    if (n == 0 || n >= 32768)
        return std::string();
    return fs::path(std::wstring(buffer, n)).u8string();
#else
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
#endif
}

std::string SettingsFilePath(const std::string& folder, const std::string& programPath)
{
    if (folder.empty())
        return std::string();
    // Both separators count as folder ends, whatever system wrote the path.
    const size_t slash = programPath.find_last_of("/\\");
    std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    if (name.empty())
        name = "varnel";
    return (fs::u8path(folder) / fs::u8path(name + ".ini")).u8string();
}

bool CreateSettingsFolder(const std::string& folder)
{
    if (folder.empty())
        return false;
    std::error_code error;
    fs::create_directories(fs::u8path(folder), error);
    return fs::is_directory(fs::u8path(folder), error);
}

} // namespace varnel
