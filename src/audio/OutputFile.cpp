#include "audio/OutputFile.h"

#include "platform/FileNames.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

namespace varnel {

namespace fs = std::filesystem;

namespace {

bool EqualIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// Creates the file only if no file of that name exists, so two saves never share a temporary.
// 0 or the system's error number.
int CreateExclusive(const std::string& path)
{
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "wbx");
    if (!f)
        return errno != 0 ? errno : EIO;
    std::fclose(f);
    return 0;
}

// ".NAME.part" and six random hex digits.
constexpr size_t kTempSuffixBytes = 12;

} // namespace

bool SameFile(const std::string& a, const std::string& b)
{
    if (EqualIgnoringCase(a, b))
        return true;
    std::error_code ec;
    const bool same = fs::equivalent(PathFromBytes(a), PathFromBytes(b), ec);
    return !ec && same;
}

SafeOutput::~SafeOutput()
{
    // After a failed rename the temporary holds the only copy of the saved sound.
    if (!mCommitFailed)
        Discard();
}

std::string SafeOutput::Begin(const std::string& target, std::error_code* reason)
{
    std::error_code none;
    std::error_code& why = reason ? *reason : none;
    why.clear();
    if (mCommitFailed) {
        // Leave the earlier save's sound where it is.
        mTemp.clear();
        mTarget.clear();
        mCommitFailed = false;
    }
    Discard();
    std::error_code ec;
    fs::path finalPath = PathFromBytes(target);
    if (fs::is_symlink(finalPath, ec)) {
        const fs::path resolved = fs::weakly_canonical(finalPath, ec);
        if (ec) {
            why = ec;
            return {};
        }
        finalPath = resolved;
    }
    fs::path folder = finalPath.parent_path();
    const std::string name = BytesFromPath(finalPath.filename());
    if (name.empty()) {
        why = std::make_error_code(std::errc::is_a_directory);
        return {};
    }
    // A name near the length limit leaves no room for the suffix: such a save's temporary is
    // ".varnel.part" and the digits (a temporary is found by its ".part" suffix either way).
    const std::string stem =
        name.size() + kTempSuffixBytes > MaxFileNameBytes(BytesFromPath(folder)) ? "varnel" : name;

    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(random() & 0xFFFFFFu));
        const fs::path temp = folder / PathFromBytes("." + stem + ".part" + suffix);
        const std::string tempPath = BytesFromPath(temp);
        const int error = CreateExclusive(tempPath);
        if (error == 0) {
            mTarget = BytesFromPath(finalPath);
            mTemp = tempPath;
            return mTemp;
        }
        if (error == EEXIST)
            continue; // a name clash: try another suffix
        why = std::error_code(error, std::generic_category());
        return {}; // the folder does not take new files
    }
    why = std::make_error_code(std::errc::file_exists);
    return {};
}

bool SafeOutput::Commit(Existing existing, std::error_code* reason)
{
    std::error_code none;
    std::error_code& why = reason ? *reason : none;
    why.clear();
    if (mTemp.empty()) {
        why = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    std::error_code ec;
    if (existing == Existing::Replace) {
        // The replaced file's permissions belong to the file, not to this save.
        const fs::file_status old = fs::status(PathFromBytes(mTarget), ec);
        if (!ec && fs::is_regular_file(old))
            fs::permissions(PathFromBytes(mTemp), old.permissions(), ec);
        ec.clear();
        fs::rename(PathFromBytes(mTemp), PathFromBytes(mTarget), ec);
    } else {
        ec = RenameNoReplace(mTemp, mTarget);
    }
    if (ec) {
        why = ec;
        mCommitFailed = true;
        return false;
    }
    mTemp.clear();
    mTarget.clear();
    return true;
}

bool SafeOutput::Discard()
{
    bool removed = true;
    if (!mTemp.empty()) {
        std::error_code ec;
        fs::remove(PathFromBytes(mTemp), ec);
        removed = !ec;
    }
    mTemp.clear();
    mTarget.clear();
    mCommitFailed = false;
    return removed;
}

std::string SafeOutput::KeepVisible()
{
    if (!mCommitFailed || mTemp.empty())
        return {};
    std::error_code gone;
    if (!fs::exists(fs::symlink_status(PathFromBytes(mTemp), gone))) {
        // Its folder was moved away or removed during the save: no name can say where it is.
        mTemp.clear();
        mTarget.clear();
        mCommitFailed = false;
        return {};
    }
    std::string kept = mTemp;
    const fs::path target = PathFromBytes(mTarget);
    const std::string stem = BytesFromPath(target.stem());
    const std::string extension = BytesFromPath(target.extension());
    for (int n = 1; n <= 99; ++n) {
        const fs::path visible =
            target.parent_path() / PathFromBytes(stem + " (" + std::to_string(n) + ")" + extension);
        const std::error_code ec = RenameNoReplace(mTemp, BytesFromPath(visible));
        if (!ec) {
            kept = BytesFromPath(visible);
            break;
        }
        if (ec != std::errc::file_exists)
            break; // the folder takes no new name: the file stays where it is
    }
    mTemp.clear();
    mTarget.clear();
    mCommitFailed = false;
    return kept;
}

MessageId CheckOutputName(const std::string& inputPath, const std::string& outputPath,
                          std::error_code* reason)
{
    if (reason)
        reason->clear();
    if (SameFile(inputPath, outputPath))
        return kMsgOutputIsInput;
    const fs::path path = PathFromBytes(outputPath);
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        if (reason)
            *reason = std::make_error_code(std::errc::is_a_directory);
        return kMsgCreateFailed;
    }
    // Refused now; the temporary's short name would only fail at the final rename.
    if (BytesFromPath(path.filename()).size() >
        MaxFileNameBytes(BytesFromPath(path.parent_path()))) {
        if (reason)
            *reason = std::make_error_code(std::errc::filename_too_long);
        return kMsgCreateFailed;
    }
    return kMsgNone;
}

MessageId WriteWholeFile(const std::string& target, const void* data, size_t size,
                         bool replaceExisting, std::error_code* reason)
{
    std::error_code none;
    std::error_code& why = reason ? *reason : none;
    why.clear();
    std::error_code ec;
    if (!replaceExisting && fs::exists(fs::symlink_status(PathFromBytes(target), ec)))
        return kMsgFileExists;
    SafeOutput out;
    const std::string temp = out.Begin(target, &why);
    if (temp.empty())
        return kMsgCreateFailed;
    errno = 0;
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        why = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
        out.Discard();
        return kMsgCreateFailed;
    }
    errno = 0;
    bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    written = std::fflush(f) == 0 && written;
    if (!written)
        why = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
    errno = 0;
    if (std::fclose(f) != 0 && written) {
        written = false;
        why = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
    }
    if (!written) {
        out.Discard();
        return kMsgSaveFailed;
    }
    using Existing = SafeOutput::Existing;
    if (out.Commit(replaceExisting ? Existing::Replace : Existing::KeepAndFail, &why))
        return kMsgNone;
    if (why == std::errc::file_exists) {
        why.clear();
        out.Discard();
        return kMsgFileExists;
    }
    out.Discard();
    return kMsgSaveFailed;
}

} // namespace varnel
