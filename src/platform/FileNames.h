#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace varnel {

// File names are kept as the bytes the user gave (on POSIX systems a name need not be valid
// UTF-8); these helpers are the one place where such bytes become a std::filesystem::path and
// back.

// Any thread; pure. The path of these bytes: taken as they are on POSIX systems, read as
// UTF-8 on Windows.
std::filesystem::path PathFromBytes(const std::string& bytes);
// Any thread; pure. The bytes of a path, the inverse of PathFromBytes.
std::string BytesFromPath(const std::filesystem::path& path);

// Any thread. The longest file name (one component, in bytes) the folder takes; 255 when the
// system does not say.
size_t MaxFileNameBytes(const std::string& folder);

// Any thread. Moves the file from onto the name to in one step, but never replaces a file
// that already has that name: then it fails with std::errc::file_exists and both files stay
// as they are. Both names are in one folder (one file system).
std::error_code RenameNoReplace(const std::string& from, const std::string& to);

// Any thread. Gives the file at path (bytes as the user gave them) exactly these contents in
// one step: they are written under a new name beside it, flushed to the disk, given the old
// file's permissions, and renamed over it, so a crash leaves the old file or the new one,
// never half of either. A symbolic link keeps pointing at its file, which is the one
// replaced. On failure nothing is left behind and the old file is as it was.
std::error_code ReplaceFileContents(const std::string& path, const std::string& contents);

} // namespace varnel
