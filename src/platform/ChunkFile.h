#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace varnel {

// A four-character chunk id as it reads on disk ("RIFF", "fmt ", ...), little-endian.
constexpr uint32_t FourCC(const char (&s)[5]) noexcept
{
    return static_cast<uint32_t>(static_cast<unsigned char>(s[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}

// One RIFF chunk as found or created.
struct ChunkInfo
{
    uint32_t Id = 0;
    uint32_t Size = 0;      // declared body size; for "RIFF" and "LIST" it counts the form type
    uint32_t FormType = 0;  // "RIFF" and "LIST" only
    int64_t DataOffset = 0; // file offset of the body (for "RIFF"/"LIST": of the form type)
};

// RIFF chunk access over buffered stdio with 64-bit offsets, in the manner of a chunked
// multimedia file layer: descend into a chunk found by id, ascend out of it (moving past its
// end when reading, writing its final size when writing), create a chunk header.
//
// Hostile files are safe: chunks are skipped by their declared size rounded up to even, every
// search is bounded by the enclosing chunk and by the file's length, and each step moves
// forward by at least one header, so a search always ends.
//
// One thread uses an object. Buffers are allocated when a file is opened; Read, Write, Seek
// and Tell allocate nothing.
class ChunkFile
{
public:
    static constexpr size_t kReadBufferBytes = 0x80000; // serves half-second blocks from memory
    static constexpr size_t kWriteBufferBytes = 0x20000;

    ChunkFile() = default;
    ~ChunkFile();
    ChunkFile(const ChunkFile&) = delete;
    ChunkFile& operator=(const ChunkFile&) = delete;

    // Owner's thread; allocates the read buffer. Only a regular file opens (a folder, a pipe
    // or a device is refused, so nothing can block or read forever).
    bool OpenRead(const std::string& path);
    // Owner's thread; allocates the write buffer. Creates or truncates the file.
    bool OpenWrite(const std::string& path);
    // Owner's thread. 0, or -1 when flushing or closing failed (or an earlier write failed);
    // 0 when nothing was open.
    int Close();
    bool IsOpen() const noexcept { return mFile != nullptr; }

    // Owner's thread. The file's length when it was opened for reading.
    int64_t FileSize() const noexcept { return mFileSize; }

    // Owner's thread, reading. Searches the top level from the current position for a "RIFF"
    // chunk of this form type and stops just past the form type. False when there is none.
    bool DescendRiff(ChunkInfo& riff, uint32_t formType);
    // Owner's thread, reading. Searches parent's sub-chunks from the current position for one
    // with this id and stops at its body. False when there is none before parent's end.
    bool Descend(ChunkInfo& chunk, const ChunkInfo& parent, uint32_t id);
    // Owner's thread. Reading: moves to the chunk's end, rounded up to even. Writing: pads an
    // odd body with a zero byte, writes the body size into the header and moves back to the
    // end. False when the file layer fails.
    bool Ascend(const ChunkInfo& chunk);
    // Owner's thread, writing. Writes a header for chunk.Id with the declared chunk.Size (and
    // chunk.FormType for "RIFF"/"LIST") at the current position; sets chunk.DataOffset.
    bool CreateChunk(ChunkInfo& chunk);

    // Owner's thread; allocates nothing. Bytes read (0 at the end of the file) or -1.
    int64_t Read(void* dst, int64_t bytes) noexcept;
    // Any thread while the file is open for reading, also beside Read and Seek on the owner's
    // thread; allocates nothing. Reads up to bytes bytes from an absolute offset without
    // moving the position or using the buffer: bytes read (fewer at the end of the file) or -1.
    int64_t ReadAt(int64_t offset, void* dst, int64_t bytes) const noexcept;
    // Owner's thread; allocates nothing. Bytes written, or -1 (then nothing more is trusted:
    // Close reports the failure).
    int64_t Write(const void* src, int64_t bytes) noexcept;
    // Any thread while the file is open for writing, beside other WriteAt calls but not beside
    // the owner's Write, Seek or Close; allocates nothing. Writes bytes at an absolute offset
    // straight to the file, past the buffer, without moving the position: bytes, or -1 with
    // errno set. Call Flush first so nothing buffered is pending.
    int64_t WriteAt(int64_t offset, const void* src, int64_t bytes) const noexcept;
    // Owner's thread, writing. Hands the buffered bytes to the system; false (and the failure
    // noted) when that fails.
    bool Flush() noexcept;
    // Owner's thread, writing. Flushes, cuts the file at offset and moves there. False (and
    // the failure noted) when the system refuses.
    bool TruncateAt(int64_t offset) noexcept;
    // Owner's thread, writing. Records a write that failed elsewhere (WriteAt on another
    // thread) with its error number, as a failed Write would: Close then reports it.
    void NoteWriteFailure(int errorNumber) noexcept;

    // Owner's thread. Moves to an absolute offset (past the end is allowed when reading).
    bool Seek(int64_t offset) noexcept;
    // Owner's thread. The current offset, kept without asking the file.
    int64_t Tell() const noexcept { return mPosition; }
    bool HadWriteError() const noexcept { return mWriteError; }
    // Owner's thread. The system's error number of the first failure since the last open
    // (the open itself, a write, the flush or the close); 0 when none. Kept after Close.
    int ErrorNumber() const noexcept { return mErrorNumber; }

    // Any thread; for a RIFF file whose writing failed part way. Cuts the file to whole units
    // of the last chunk's body and writes the RIFF size and that chunk's size from the length
    // that really reached the disk, so the file holds a valid RIFF of what was written. False
    // when the file is shorter than lastChunkDataOffset or cannot be changed.
    static bool RepairSizes(const std::string& path, int64_t lastChunkDataOffset, int unitBytes);

private:
    bool ReadHeader(int64_t at, int64_t limit, uint32_t& id, uint32_t& size);
    bool WriteU32At(int64_t at, uint32_t value);
    // Records the first write failure and its error number (errno, set by the failed call).
    void NoteWriteError() noexcept;

    std::FILE* mFile = nullptr;
    std::vector<char> mBuffer;
    int64_t mPosition = 0;
    int64_t mFileSize = 0;
    bool mWriting = false;
    bool mWriteError = false;
    int mErrorNumber = 0;
};

} // namespace varnel
