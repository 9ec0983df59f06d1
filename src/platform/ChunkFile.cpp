#include "platform/ChunkFile.h"

#include "platform/Assert.h"
#include "platform/FileNames.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#define NOMINMAX // keeps std::min and std::max usable
#include <io.h>
#include <windows.h>
#else
#include <sys/types.h>
#include <unistd.h>
#endif

namespace varnel {

namespace {

constexpr uint32_t kRiff = FourCC("RIFF");
constexpr uint32_t kList = FourCC("LIST");
constexpr int64_t kHeaderBytes = 8;

// 64-bit seeking on every platform; plain fseek stops at 2 GiB where long is 32 bits.
int SeekAbsolute(std::FILE* f, int64_t offset) noexcept
{
#if defined(_WIN32)
    return _fseeki64(f, offset, SEEK_SET);
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET);
#endif
}

int64_t LengthOf(std::FILE* f) noexcept
{
#if defined(_WIN32)
    if (_fseeki64(f, 0, SEEK_END) != 0)
        return -1;
    const int64_t length = _ftelli64(f);
#else
    if (fseeko(f, 0, SEEK_END) != 0)
        return -1;
    const int64_t length = static_cast<int64_t>(ftello(f));
#endif
    return length;
}

uint32_t GetU32(const unsigned char* b) noexcept
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void PutU32(unsigned char* b, uint32_t v) noexcept
{
    b[0] = static_cast<unsigned char>(v & 0xFF);
    b[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
    b[2] = static_cast<unsigned char>((v >> 16) & 0xFF);
    b[3] = static_cast<unsigned char>((v >> 24) & 0xFF);
}

// One positional read (into) or write (from) of at most 1 GiB, without moving the file's
// place: the bytes moved (0 at the end of the file when reading) or -1 with errno set.
int64_t MoveOnceAt(std::FILE* f, int64_t offset, unsigned char* into, const unsigned char* from,
                   int64_t bytes) noexcept
{
#if defined(_WIN32)
    OVERLAPPED where{};
    const auto position = static_cast<uint64_t>(offset);
    where.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(position >> 32);
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    DWORD moved = 0;
    const BOOL done = into != nullptr
                          ? ReadFile(handle, into, static_cast<DWORD>(bytes), &moved, &where)
                          : WriteFile(handle, from, static_cast<DWORD>(bytes), &moved, &where);
    if (!done) {
        if (into != nullptr && GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        errno = EIO;
        return -1;
    }
    return static_cast<int64_t>(moved);
#else
    return into != nullptr
               ? pread(fileno(f), into, static_cast<size_t>(bytes), static_cast<off_t>(offset))
               : pwrite(fileno(f), from, static_cast<size_t>(bytes), static_cast<off_t>(offset));
#endif
}

// Reads into or writes from bytes at an absolute offset, going on after short transfers (in
// chunks of at most 1 GiB, so every count fits the system calls' types): the bytes moved,
// fewer only where a read meets the end of the file, or -1 with errno set.
int64_t TransferAt(std::FILE* f, int64_t offset, unsigned char* into, const unsigned char* from,
                   int64_t bytes) noexcept
{
    int64_t done = 0;
    while (done < bytes) {
        const int64_t want = std::min<int64_t>(bytes - done, int64_t{1} << 30);
        const int64_t moved = MoveOnceAt(f, offset + done, into != nullptr ? into + done : nullptr,
                                         from != nullptr ? from + done : nullptr, want);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved < 0)
            return -1;
        if (moved == 0) {
            if (into != nullptr)
                break;
            errno = EIO;
            return -1;
        }
        done += moved;
    }
    return done;
}

// The offset just past a chunk's body and its pad byte.
int64_t ChunkEnd(int64_t dataOffset, uint32_t size) noexcept
{
    return dataOffset + static_cast<int64_t>(size) + static_cast<int64_t>(size & 1u);
}

} // namespace

ChunkFile::~ChunkFile()
{
    Close();
}

bool ChunkFile::OpenRead(const std::string& path)
{
    Close();
    // fopen succeeds on a folder on some systems and would block on a pipe without a writer.
    std::error_code ec;
    mErrorNumber = 0;
    const auto status = std::filesystem::status(PathFromBytes(path), ec);
    if (!std::filesystem::is_regular_file(status)) {
        mErrorNumber = std::filesystem::is_directory(status) ? EISDIR : ec ? ec.value() : EINVAL;
        return false;
    }
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        mErrorNumber = errno;
        return false;
    }
    try {
        mBuffer.assign(kReadBufferBytes, 0);
    } catch (...) {
        std::fclose(f);
        return false;
    }
    std::setvbuf(f, mBuffer.data(), _IOFBF, mBuffer.size());
    const int64_t length = LengthOf(f);
    if (length < 0 || SeekAbsolute(f, 0) != 0) {
        std::fclose(f);
        return false;
    }
    mFile = f;
    mFileSize = length;
    mPosition = 0;
    mWriting = false;
    mWriteError = false;
    return true;
}

bool ChunkFile::OpenWrite(const std::string& path)
{
    Close();
    errno = 0;
    mErrorNumber = 0;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        mErrorNumber = errno;
        return false;
    }
    try {
        mBuffer.assign(kWriteBufferBytes, 0);
    } catch (...) {
        std::fclose(f);
        return false;
    }
    std::setvbuf(f, mBuffer.data(), _IOFBF, mBuffer.size());
    mFile = f;
    mFileSize = 0;
    mPosition = 0;
    mWriting = true;
    mWriteError = false;
    return true;
}

int ChunkFile::Close()
{
    if (!mFile)
        return 0;
    int result = 0;
    errno = 0;
    if (mWriting && (std::fflush(mFile) != 0 || std::ferror(mFile)))
        NoteWriteError();
    errno = 0;
    if (std::fclose(mFile) != 0) {
        result = -1;
        if (mErrorNumber == 0)
            mErrorNumber = errno;
    }
    if (mWriting && mWriteError)
        result = -1;
    mFile = nullptr;
    // The buffer must outlive fclose, which may still flush from it.
    mBuffer.clear();
    mBuffer.shrink_to_fit();
    mPosition = 0;
    mFileSize = 0;
    return result;
}

void ChunkFile::NoteWriteError() noexcept
{
    if (!mWriteError && mErrorNumber == 0)
        mErrorNumber = errno != 0 ? errno : EIO;
    mWriteError = true;
}

bool ChunkFile::ReadHeader(int64_t at, int64_t limit, uint32_t& id, uint32_t& size)
{
    if (at < 0 || at + kHeaderBytes > limit || !Seek(at))
        return false;
    unsigned char header[kHeaderBytes];
    if (Read(header, kHeaderBytes) != kHeaderBytes)
        return false;
    id = GetU32(header);
    size = GetU32(header + 4);
    return true;
}

bool ChunkFile::DescendRiff(ChunkInfo& riff, uint32_t formType)
{
    if (!mFile || mWriting)
        return false;
    int64_t at = mPosition;
    uint32_t id = 0;
    uint32_t size = 0;
    while (ReadHeader(at, mFileSize, id, size)) {
        if (id == kRiff && size >= 4) {
            unsigned char form[4];
            if (Read(form, 4) != 4)
                return false;
            if (GetU32(form) == formType) {
                riff.Id = id;
                riff.Size = size;
                riff.FormType = formType;
                riff.DataOffset = at + kHeaderBytes;
                return true;
            }
        }
        at = ChunkEnd(at + kHeaderBytes, size);
    }
    return false;
}

bool ChunkFile::Descend(ChunkInfo& chunk, const ChunkInfo& parent, uint32_t id)
{
    if (!mFile || mWriting)
        return false;
    // A parent that declares more than the file holds is searched to the file's end.
    int64_t limit = parent.DataOffset + static_cast<int64_t>(parent.Size);
    if (limit > mFileSize)
        limit = mFileSize;
    int64_t at = mPosition;
    const int64_t firstSub =
        parent.DataOffset + ((parent.Id == kRiff || parent.Id == kList) ? 4 : 0);
    if (at < firstSub)
        at = firstSub;
    uint32_t foundId = 0;
    uint32_t size = 0;
    while (ReadHeader(at, limit, foundId, size)) {
        if (foundId == id) {
            chunk.Id = foundId;
            chunk.Size = size;
            chunk.FormType = 0;
            chunk.DataOffset = at + kHeaderBytes;
            if (foundId == kRiff || foundId == kList) {
                unsigned char form[4];
                if (size < 4 || Read(form, 4) != 4)
                    return false;
                chunk.FormType = GetU32(form);
            }
            return true;
        }
        at = ChunkEnd(at + kHeaderBytes, size);
    }
    return false;
}

bool ChunkFile::Ascend(const ChunkInfo& chunk)
{
    if (!mFile)
        return false;
    if (!mWriting)
        return Seek(ChunkEnd(chunk.DataOffset, chunk.Size));

    const int64_t end = mPosition;
    const int64_t body = end - chunk.DataOffset;
    if (body < 0 || body > static_cast<int64_t>(UINT32_MAX))
        return false;
    int64_t paddedEnd = end;
    if (body & 1) {
        const unsigned char pad = 0;
        if (Write(&pad, 1) != 1)
            return false;
        ++paddedEnd;
    }
    // A header that already holds the right size is left alone: no seek, no early flush.
    if (static_cast<uint32_t>(body) == chunk.Size)
        return true;
    if (!WriteU32At(chunk.DataOffset - 4, static_cast<uint32_t>(body)))
        return false;
    return Seek(paddedEnd);
}

bool ChunkFile::CreateChunk(ChunkInfo& chunk)
{
    if (!mFile || !mWriting)
        return false;
    unsigned char header[12];
    PutU32(header, chunk.Id);
    PutU32(header + 4, chunk.Size);
    int64_t bytes = kHeaderBytes;
    if (chunk.Id == kRiff || chunk.Id == kList) {
        PutU32(header + 8, chunk.FormType);
        bytes = 12;
    }
    const int64_t at = mPosition;
    if (Write(header, bytes) != bytes)
        return false;
    chunk.DataOffset = at + kHeaderBytes;
    return true;
}

bool ChunkFile::WriteU32At(int64_t at, uint32_t value)
{
    unsigned char b[4];
    PutU32(b, value);
    return Seek(at) && Write(b, 4) == 4;
}

int64_t ChunkFile::Read(void* dst, int64_t bytes) noexcept
{
    VARNEL_ASSERT(dst != nullptr || bytes <= 0);
    if (!mFile || mWriting || bytes < 0)
        return -1;
    if (bytes == 0)
        return 0;
    const size_t got = std::fread(dst, 1, static_cast<size_t>(bytes), mFile);
    mPosition += static_cast<int64_t>(got);
    if (got < static_cast<size_t>(bytes) && std::ferror(mFile)) {
        std::clearerr(mFile);
        return -1;
    }
    return static_cast<int64_t>(got);
}

int64_t ChunkFile::ReadAt(int64_t offset, void* dst, int64_t bytes) const noexcept
{
    VARNEL_ASSERT(dst != nullptr || bytes <= 0);
    if (!mFile || mWriting || offset < 0 || bytes < 0)
        return -1;
    return TransferAt(mFile, offset, static_cast<unsigned char*>(dst), nullptr, bytes);
}

int64_t ChunkFile::Write(const void* src, int64_t bytes) noexcept
{
    VARNEL_ASSERT(src != nullptr || bytes <= 0);
    if (!mFile || !mWriting || bytes < 0)
        return -1;
    if (bytes == 0)
        return 0;
    errno = 0;
    const size_t put = std::fwrite(src, 1, static_cast<size_t>(bytes), mFile);
    mPosition += static_cast<int64_t>(put);
    if (put != static_cast<size_t>(bytes)) {
        NoteWriteError();
        return -1;
    }
    return bytes;
}

int64_t ChunkFile::WriteAt(int64_t offset, const void* src, int64_t bytes) const noexcept
{
    VARNEL_ASSERT(src != nullptr || bytes <= 0);
    if (!mFile || !mWriting || offset < 0 || bytes < 0) {
        errno = EBADF;
        return -1;
    }
    return TransferAt(mFile, offset, nullptr, static_cast<const unsigned char*>(src), bytes);
}

bool ChunkFile::Flush() noexcept
{
    if (!mFile || !mWriting)
        return false;
    errno = 0;
    if (std::fflush(mFile) != 0) {
        NoteWriteError();
        return false;
    }
    return true;
}

bool ChunkFile::TruncateAt(int64_t offset) noexcept
{
    if (!Flush() || offset < 0)
        return false;
    errno = 0;
#if defined(_WIN32)
    const bool cut = _chsize_s(_fileno(mFile), offset) == 0;
#else
    const bool cut = ftruncate(fileno(mFile), static_cast<off_t>(offset)) == 0;
#endif
    if (!cut) {
        NoteWriteError();
        return false;
    }
    return Seek(offset);
}

void ChunkFile::NoteWriteFailure(int errorNumber) noexcept
{
    errno = errorNumber != 0 ? errorNumber : EIO;
    NoteWriteError();
}

bool ChunkFile::Seek(int64_t offset) noexcept
{
    if (!mFile || offset < 0)
        return false;
    if (SeekAbsolute(mFile, offset) != 0) {
        if (mWriting)
            NoteWriteError(); // a failed seek while writing means a failed flush
        return false;
    }
    mPosition = offset;
    return true;
}

bool ChunkFile::RepairSizes(const std::string& path, int64_t lastChunkDataOffset, int unitBytes)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p = PathFromBytes(path);
    if (!fs::is_regular_file(p, ec) || lastChunkDataOffset < 12 || unitBytes < 1)
        return false;
    const auto length = static_cast<int64_t>(fs::file_size(p, ec));
    if (ec || length < lastChunkDataOffset)
        return false;
    int64_t body = length - lastChunkDataOffset;
    body -= body % unitBytes;
    if (body > static_cast<int64_t>(UINT32_MAX))
        body = static_cast<int64_t>(UINT32_MAX) - static_cast<int64_t>(UINT32_MAX) % unitBytes;
    // An odd body is not padded here: units of the program's files are even.
    const int64_t newLength = lastChunkDataOffset + body;
    const int64_t riffSize = newLength - kHeaderBytes;
    if (riffSize > static_cast<int64_t>(UINT32_MAX))
        return false;
    fs::resize_file(p, static_cast<std::uintmax_t>(newLength), ec);
    if (ec)
        return false;
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f)
        return false;
    unsigned char b[4];
    bool ok = true;
    PutU32(b, static_cast<uint32_t>(riffSize));
    ok = ok && SeekAbsolute(f, 4) == 0 && std::fwrite(b, 1, 4, f) == 4;
    PutU32(b, static_cast<uint32_t>(body));
    ok = ok && SeekAbsolute(f, lastChunkDataOffset - 4) == 0 && std::fwrite(b, 1, 4, f) == 4;
    if (std::fclose(f) != 0)
        ok = false;
    return ok;
}

} // namespace varnel
