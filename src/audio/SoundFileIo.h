#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <vector>

namespace varnel {

// The file under one open file of the sound file library, given to it as its "virtual" I/O:
// reads and writes go through a buffer of our own (the library moves a few kilobytes at a
// call, which would be one system call each), by position, and every failed call is kept, so
// a failure the library passes over (its MP3 encoder's, or one while it closes) is still seen.
// Owner's thread; non-copyable. Must outlive the library's handle on it.
class SoundFileIo
{
public:
    SoundFileIo() = default;
    // Owner's thread. Writes what is buffered and closes the file.
    ~SoundFileIo();
    SoundFileIo(const SoundFileIo&) = delete;
    SoundFileIo& operator=(const SoundFileIo&) = delete;

    // Owner's thread; allocates. Opens the file for reading, or creates it (truncating one of
    // that name) for writing: true, or false with the system's error number in Error().
    bool OpenRead(const std::string& path);
    bool OpenWrite(const std::string& path);
    // Owner's thread. Writes what is buffered and closes: 0, or the system's error number of
    // the first failure since the open.
    int Close();

    // Owner's thread. The system's error number of the first failed call (0: none).
    int Error() const noexcept { return mError; }
    // The callbacks to give the library, with this object as their user data.
    static SF_VIRTUAL_IO Callbacks() noexcept;

private:
    static sf_count_t Length(void* user);
    static sf_count_t Seek(sf_count_t offset, int whence, void* user);
    static sf_count_t Read(void* data, sf_count_t count, void* user);
    static sf_count_t Write(const void* data, sf_count_t count, void* user);
    static sf_count_t Tell(void* user);

    bool Flush() noexcept;
    void NoteError(int errorNumber) noexcept;

    int mFd = -1;
    int mError = 0;
    int64_t mPosition = 0; // where the library is in the file
    std::vector<char> mBuffer;
    int64_t mBufferAt = 0; // the file offset of the buffer's first byte
    size_t mFill = 0;      // bytes of the buffer in use
    bool mDirty = false;   // the buffer holds bytes not yet written (else, bytes read ahead)
};

} // namespace varnel
