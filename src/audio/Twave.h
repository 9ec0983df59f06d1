#pragma once

#include "platform/ChunkFile.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace varnel {

// The 18-byte WAVE format record, little-endian on disk.
struct WaveFormat
{
    uint16_t FormatTag = 0;
    uint16_t Channels = 0;
    uint32_t SamplesPerSec = 0;
    uint32_t AvgBytesPerSec = 0;
    uint16_t BlockAlign = 0;
    uint16_t BitsPerSample = 0;
    uint16_t ExtraSize = 0;
};

// Reads or writes one RIFF WAVE file by raw bytes. It finds the "fmt " chunk and the "data"
// chunk after it; it does not interpret samples.
//
// One thread uses an object, except TellFrame, which any thread may call while another reads
// or seeks: the position it reports is published atomically.
class TWaveData
{
public:
    TWaveData();
    ~TWaveData();
    TWaveData(const TWaveData&) = delete;
    TWaveData& operator=(const TWaveData&) = delete;

    // Owner's thread. 0 opened; 1 the file cannot be opened or its format chunk is short;
    // 2 not a RIFF WAVE file, or no "fmt " chunk, or no "data" chunk after it. A failed open
    // leaves the object closed.
    int OpenRead(const std::string& path);
    // Owner's thread; Format must be filled first. Writes the 46-byte header with zero sizes.
    // 0, 1 (cannot create / write) or 2 (chunk structure failed).
    int OpenWrite(const std::string& path);
    // Owner's thread. For a written file fixes the RIFF and data sizes, so whatever was
    // written is a valid file. 0 when nothing was open, else 0 or -1 for a failed close.
    int Close();

    // Owner's thread. Bytes read, 0 at the end of the sample data, -1 on error. Reads stop at
    // the end of the data chunk's whole frames.
    int Read(void* dst, int bytes);
    // Owner's thread. Bytes written, or -1 on error.
    int Write(const void* src, int bytes);
    // Owner's thread. Moves to DataStart + frame * BlockAlign; the new byte offset or -1.
    int64_t SeekFrame(int64_t frame);
    // Any thread. (position - DataStart) / BlockAlign, truncated toward zero.
    int64_t TellFrame() const noexcept;

    // Owner's thread. Whole frames of sample data present (declared size, clamped to what the
    // file holds).
    int64_t FrameCount() const noexcept;

    WaveFormat Format;
    int64_t DataStart = 0;
    uint32_t DataSize = 0;         // bytes of sample data actually present, whole frames
    uint32_t DeclaredDataSize = 0; // the data chunk's size field as found
    std::string FileName;
    bool IsOpen = false;
    int Mode = -1; // 0 reading, 1 writing

private:
    ChunkFile mFile;
    std::atomic<int64_t> mPosition{0};
};

} // namespace varnel
