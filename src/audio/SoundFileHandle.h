#pragma once

#include <sndfile.h>

namespace varnel {

// Owns one open file of the sound file library; closes it when it goes. Owner's thread.
class SoundFileHandle
{
public:
    SoundFileHandle() = default;
    explicit SoundFileHandle(SNDFILE* file) noexcept : mFile(file) {}
    ~SoundFileHandle() { Close(); }
    SoundFileHandle(SoundFileHandle&& other) noexcept : mFile(other.mFile)
    {
        other.mFile = nullptr;
    }
    SoundFileHandle& operator=(SoundFileHandle&& other) noexcept
    {
        if (this != &other) {
            Close();
            mFile = other.mFile;
            other.mFile = nullptr;
        }
        return *this;
    }
    SoundFileHandle(const SoundFileHandle&) = delete;
    SoundFileHandle& operator=(const SoundFileHandle&) = delete;

    SNDFILE* Get() const noexcept { return mFile; }
    explicit operator bool() const noexcept { return mFile != nullptr; }
    // The library's close result: 0, or its error number (a failed final write).
    int Close() noexcept
    {
        const int result = mFile ? sf_close(mFile) : 0;
        mFile = nullptr;
        return result;
    }

private:
    SNDFILE* mFile = nullptr;
};

} // namespace varnel
