#include "platform/FileNames.h"

#include <cerrno>
#include <cstdio>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
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

std::error_code ReplaceFileContents(const std::string& path, const std::string& contents)
{
    std::error_code error;
    fs::path target = PathFromBytes(path);
    if (fs::is_symlink(target, error)) {
        target = fs::weakly_canonical(target, error);
        if (error)
            return error;
    }
#ifdef _WIN32
    fs::path temporary = target;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temporary, error);
            return std::make_error_code(std::errc::io_error);
        }
    }
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
    }
    return error;
#else
    std::string pattern = target.native() + ".XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        return std::error_code(errno, std::generic_category());
    int failure = 0;
    size_t written = 0;
    while (failure == 0 && written < contents.size()) {
        const ssize_t n = write(fd, contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failure = n < 0 ? errno : EIO;
        else
            written += static_cast<size_t>(n);
    }
    struct stat old;
    if (failure == 0 && stat(target.c_str(), &old) == 0 && fchmod(fd, old.st_mode & 07777) != 0)
        failure = errno;
    if (failure == 0 && fsync(fd) != 0)
        failure = errno;
    if (close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && rename(pattern.c_str(), target.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        unlink(pattern.c_str());
        return std::error_code(failure, std::generic_category());
    }
    // The rename itself reaches the disk with the folder's entry.
    const fs::path parent = target.parent_path();
    const int folder = open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return {};
#endif
}

} // namespace varnel
