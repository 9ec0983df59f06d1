#include "audio/OutputFile.h"

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
bool CreateExclusive(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "wbx");
    if (!f)
        return false;
    std::fclose(f);
    return true;
}

} // namespace

bool SameFile(const std::string& a, const std::string& b)
{
    if (EqualIgnoringCase(a, b))
        return true;
    std::error_code ec;
    const bool same = fs::equivalent(fs::u8path(a), fs::u8path(b), ec);
    return !ec && same;
}

SafeOutput::~SafeOutput()
{
    // After a failed rename the temporary holds the only copy of the saved sound.
    if (!mCommitFailed)
        Discard();
}

std::string SafeOutput::Begin(const std::string& target)
{
    if (mCommitFailed) {
        // Leave the earlier save's sound where it is.
        mTemp.clear();
        mTarget.clear();
        mCommitFailed = false;
    }
    Discard();
    std::error_code ec;
    fs::path finalPath = fs::u8path(target);
    if (fs::is_symlink(finalPath, ec)) {
        const fs::path resolved = fs::weakly_canonical(finalPath, ec);
        if (ec)
            return {};
        finalPath = resolved;
    }
    fs::path folder = finalPath.parent_path();
    const std::string name = finalPath.filename().u8string();
    if (name.empty())
        return {};

    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(random() & 0xFFFFFFu));
        const fs::path temp = folder / fs::u8path("." + name + ".part" + suffix);
        const std::string tempPath = temp.u8string();
        if (CreateExclusive(tempPath)) {
            mTarget = finalPath.u8string();
            mTemp = tempPath;
            return mTemp;
        }
        if (fs::exists(temp, ec))
            continue; // a name clash: try another suffix
        return {};    // the folder does not take new files
    }
    return {};
}

bool SafeOutput::Commit()
{
    if (mTemp.empty())
        return false;
    std::error_code ec;
    fs::rename(fs::u8path(mTemp), fs::u8path(mTarget), ec);
    if (ec) {
        mCommitFailed = true;
        return false;
    }
    mTemp.clear();
    mTarget.clear();
    return true;
}

void SafeOutput::Discard()
{
    if (!mTemp.empty()) {
        std::error_code ec;
        fs::remove(fs::u8path(mTemp), ec);
    }
    mTemp.clear();
    mTarget.clear();
    mCommitFailed = false;
}

} // namespace varnel
