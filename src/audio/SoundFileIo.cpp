#include "audio/SoundFileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

constexpr size_t kReadBuffer = 256 * 1024;
constexpr size_t kWriteBuffer = 512 * 1024;

SoundFileIo& Self(void* user)
{
    return *static_cast<SoundFileIo*>(user);
}

} // namespace

SoundFileIo::~SoundFileIo()
{
    Close();
}

bool SoundFileIo::OpenRead(const std::string& path)
{
    Close();
    mError = 0;
    try {
        mBuffer.resize(kReadBuffer);
    } catch (const std::bad_alloc&) {
        mError = ENOMEM;
        return false;
    }
    mFd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (mFd < 0)
        mError = errno != 0 ? errno : EIO;
    return mFd >= 0;
}

bool SoundFileIo::OpenWrite(const std::string& path)
{
    Close();
    mError = 0;
    try {
        mBuffer.resize(kWriteBuffer);
    } catch (const std::bad_alloc&) {
        mError = ENOMEM;
        return false;
    }
    mFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (mFd < 0)
        mError = errno != 0 ? errno : EIO;
    return mFd >= 0;
}

int SoundFileIo::Close()
{
    if (mFd < 0)
        return mError;
    Flush();
    if (::close(mFd) != 0)
        NoteError(errno);
    mFd = -1;
    mPosition = mBufferAt = 0;
    mFill = 0;
    mDirty = false;
    return mError;
}

void SoundFileIo::NoteError(int errorNumber) noexcept
{
    if (mError == 0)
        mError = errorNumber != 0 ? errorNumber : EIO;
}

bool SoundFileIo::Flush() noexcept
{
    if (!mDirty) {
        mFill = 0; // bytes read ahead are dropped; they are read again when wanted
        return true;
    }
    size_t done = 0;
    while (done < mFill) {
        const ssize_t n = ::pwrite(mFd, mBuffer.data() + done, mFill - done,
                                   static_cast<off_t>(mBufferAt + static_cast<int64_t>(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            NoteError(n < 0 ? errno : EIO);
            break;
        }
        done += static_cast<size_t>(n);
    }
    mFill = 0;
    mDirty = false;
    return mError == 0;
}

SF_VIRTUAL_IO SoundFileIo::Callbacks() noexcept
{
    return SF_VIRTUAL_IO{Length, Seek, Read, Write, Tell};
}

sf_count_t SoundFileIo::Length(void* user)
{
    SoundFileIo& io = Self(user);
    struct stat st
    {};
    if (::fstat(io.mFd, &st) != 0) {
        io.NoteError(errno);
        return -1;
    }
    const int64_t buffered = io.mDirty ? io.mBufferAt + static_cast<int64_t>(io.mFill) : 0;
    return std::max<int64_t>(st.st_size, buffered);
}

sf_count_t SoundFileIo::Seek(sf_count_t offset, int whence, void* user)
{
    SoundFileIo& io = Self(user);
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = io.mPosition;
    else if (whence == SEEK_END)
        base = Length(user);
    else if (whence != SEEK_SET)
        return -1;
    if (base < 0 || base + offset < 0)
        return -1;
    io.mPosition = base + offset;
    return io.mPosition;
}

sf_count_t SoundFileIo::Read(void* data, sf_count_t count, void* user)
{
    SoundFileIo& io = Self(user);
    if (io.mDirty)
        io.Flush();
    auto* out = static_cast<char*>(data);
    sf_count_t done = 0;
    while (done < count) {
        const int64_t end = io.mBufferAt + static_cast<int64_t>(io.mFill);
        if (io.mPosition >= io.mBufferAt && io.mPosition < end) {
            const auto from = static_cast<size_t>(io.mPosition - io.mBufferAt);
            const auto n = std::min<int64_t>(count - done, end - io.mPosition);
            std::memcpy(out + done, io.mBuffer.data() + from, static_cast<size_t>(n));
            done += n;
            io.mPosition += n;
            continue;
        }
        // Large reads go straight to the caller; small ones fill the buffer ahead.
        if (count - done >= static_cast<sf_count_t>(io.mBuffer.size())) {
            const ssize_t n = ::pread(io.mFd, out + done, static_cast<size_t>(count - done),
                                      static_cast<off_t>(io.mPosition));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                io.NoteError(errno);
            if (n <= 0)
                break;
            done += n;
            io.mPosition += n;
            continue;
        }
        const ssize_t n =
            ::pread(io.mFd, io.mBuffer.data(), io.mBuffer.size(), static_cast<off_t>(io.mPosition));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            io.NoteError(errno);
        if (n <= 0) {
            io.mFill = 0;
            break;
        }
        io.mBufferAt = io.mPosition;
        io.mFill = static_cast<size_t>(n);
    }
    return done;
}

sf_count_t SoundFileIo::Write(const void* data, sf_count_t count, void* user)
{
    SoundFileIo& io = Self(user);
    if (count <= 0)
        return 0;
    // Bytes that follow those in the buffer join them; anything else writes the buffer first.
    if (!io.mDirty || io.mPosition != io.mBufferAt + static_cast<int64_t>(io.mFill)) {
        io.Flush();
        io.mBufferAt = io.mPosition;
        io.mFill = 0;
        io.mDirty = true;
    }
    const auto* in = static_cast<const char*>(data);
    sf_count_t done = 0;
    while (done < count) {
        const auto n =
            std::min<size_t>(io.mBuffer.size() - io.mFill, static_cast<size_t>(count - done));
        std::memcpy(io.mBuffer.data() + io.mFill, in + done, n);
        io.mFill += n;
        done += static_cast<sf_count_t>(n);
        io.mPosition += static_cast<int64_t>(n);
        if (io.mFill == io.mBuffer.size()) {
            const int64_t next = io.mBufferAt + static_cast<int64_t>(io.mFill);
            io.Flush();
            io.mBufferAt = next;
            io.mDirty = true;
        }
    }
    // A failed write is reported as none done, so the library stops where it can.
    return io.mError != 0 ? 0 : done;
}

sf_count_t SoundFileIo::Tell(void* user)
{
    return Self(user).mPosition;
}

} // namespace varnel
