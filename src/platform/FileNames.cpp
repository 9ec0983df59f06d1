#include "platform/FileNames.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace varnel {

namespace fs = std::filesystem;

fs::path PathFromBytes(const std::string& bytes)
{
#ifdef _WIN32
    return fs::u8path(bytes);
#else
    return fs::path(bytes);
#endif
}

std::string BytesFromPath(const fs::path& path)
{
#ifdef _WIN32
    return path.u8string();
#else
    return path.native();
#endif
}

size_t MaxFileNameBytes(const std::string& folder)
{
    constexpr size_t kCommonLimit = 255;
#ifdef _WIN32
    (void)folder;
    return kCommonLimit;
#else
    errno = 0;
    const long limit = pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<size_t>(limit) : kCommonLimit;
#endif
}

std::error_code RenameNoReplace(const std::string& from, const std::string& to)
{
#ifdef _WIN32
    // MoveFileEx without MOVEFILE_REPLACE_EXISTING fails when the target exists.
    const fs::path a = PathFromBytes(from);
    const fs::path b = PathFromBytes(to);
    if (MoveFileExW(a.c_str(), b.c_str(), 0))
        return {};
    if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS)
        return std::make_error_code(std::errc::file_exists);
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
#else
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return std::error_code(errno, std::generic_category());
        // The file system cannot rename without replacing: link and unlink do the same.
#endif
    if (link(from.c_str(), to.c_str()) != 0)
        return std::error_code(errno, std::generic_category());
    unlink(from.c_str());
    return {};
#endif
}

} // namespace varnel
