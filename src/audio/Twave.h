#pragma once

#include "platform/ChunkFile.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <system_error>

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

    // Any thread. The one format the program plays and saves: 16-bit stereo PCM at a rate.
    static WaveFormat PcmStereo16(uint32_t sampleRate)
    {
        WaveFormat f;
        f.FormatTag = 1;
        f.Channels = 2;
        f.SamplesPerSec = sampleRate;
        f.AvgBytesPerSec = sampleRate * 4;
        f.BlockAlign = 4;
        f.BitsPerSample = 16;
        return f;
    }
};

// What TWaveData::OpenRead and OpenWrite report.
enum WaveOpenResult : int
{
    kWaveOpened = 0,
    kWaveCannotOpen = 1,  // cannot be opened or created, its format chunk is short, or a write
                          // of the header failed
    kWaveNotRiffWave = 2, // not a RIFF WAVE file, no "fmt " or no "data" chunk after it, or the
                          // chunk structure could not be written
};

// What a TWaveData was last opened for.
enum class WaveMode
{
    None,
    Reading,
    Writing,
};

// The bytes of one frame of the only sound Varnel reads and writes: 16-bit stereo.
constexpr int kFrameBytes = 4;

// The most whole frames a written file can hold: its RIFF size field (the file's length
// minus 8) has 32 bits, and the header before the samples takes 38 of those bytes.
constexpr int64_t kMaxWrittenFrames = (static_cast<int64_t>(UINT32_MAX) - 38) / kFrameBytes;

// Reads or writes one RIFF WAVE file by raw bytes. It finds the "fmt " chunk and the "data"
// chunk after it; it does not interpret samples. Offsets are 64-bit, so files up to the RIFF
// limit of 4 GiB work.
//
// A data chunk that declares more bytes than the file holds (a truncated file, or a size of
// 0xFFFFFFFF) is taken as holding the whole frames that are actually there. Reads end at the
// last whole frame of the data chunk, so chunks after the samples are never taken as sound.
//
// A written file has the 46-byte header (an 18-byte "fmt " chunk whose extra-size word is 0)
// and its sizes are fixed by Close, also after a failed write: a file of n frames is
// 46 + 4n bytes with RIFF size 38 + 4n and data size 4n.
//
// One thread uses an object, except TellFrame, which any thread may call while another reads
// or seeks: the position it reports is published atomically after each read and seek.
class TWaveData
{
public:
    TWaveData();
    // Owner's thread. Closes a file the owner left open (a written one gets its sizes).
    ~TWaveData();
    TWaveData(const TWaveData&) = delete;
    TWaveData& operator=(const TWaveData&) = delete;

    // Owner's thread. kWaveOpened; kWaveCannotOpen when the file cannot be opened or its
    // format chunk is short; kWaveNotRiffWave for no RIFF WAVE file, or no "fmt " chunk, or no
    // "data" chunk after it. A failed open leaves the object closed.
    WaveOpenResult OpenRead(const std::string& path);
    // Owner's thread; Format must be filled first. Writes the 46-byte header with zero sizes.
    // kWaveOpened, kWaveCannotOpen (cannot create / write) or kWaveNotRiffWave (the chunk
    // structure failed).
    WaveOpenResult OpenWrite(const std::string& path);
    // Owner's thread. For a written file fixes the RIFF and data sizes, so whatever was
    // written is a valid file. 0 when nothing was open, else 0 or -1: -1 for a written file
    // also when a write failed on the way (the file then holds the whole frames that reached
    // the disk, with matching sizes).
    int Close();

    // Owner's thread. Bytes read, 0 at the end of the sample data, -1 on error. Reads stop at
    // the end of the data chunk's whole frames.
    int Read(void* dst, int bytes);
    // Any thread while the file is open for reading, also beside the owner's reads and
    // seeks; allocates nothing. Reads up to frames whole frames from frame on without moving
    // the position: bytes read (fewer at the end of the sample data) or -1.
    int64_t ReadFramesAt(int64_t frame, void* dst, int64_t frames) const noexcept;
    // Owner's thread. Bytes written, or -1 on error, also when the file would pass the RIFF
    // limit of 4 GiB.
    int Write(const void* src, int bytes);
    // Writing by position, for several threads writing parts of the samples at once:
    // BeginWritesAt (owner's thread) hands the buffered bytes to the system and gives the
    // frames written so far, or -1 when that fails. WriteFramesAt (any thread, also beside
    // other WriteFramesAt calls, not beside the owner's other calls; allocates nothing) writes
    // frames at a sample frame from the data's start: bytes written, or -1 with errno set,
    // also past the RIFF limit. EndDataAt (owner's thread) makes the samples end after frames
    // frames, cutting off whatever was written past them, and records errorNumber, when not
    // 0, as a failed write (Close then returns -1); false when the file cannot be cut.
    int64_t BeginWritesAt();
    int64_t WriteFramesAt(int64_t frame, const void* src, int64_t frames) const noexcept;
    bool EndDataAt(int64_t frames, int errorNumber);

    // Owner's thread. Moves to DataStart + frame * BlockAlign; the new byte offset or -1 (a
    // negative frame, or a file not open for reading).
    int64_t SeekFrame(int64_t frame);
    // Any thread; allocates nothing. (position - DataStart) / BlockAlign, truncated toward
    // zero; 0 while closed.
    int64_t TellFrame() const noexcept;

    // Owner's thread. Whole frames of sample data present (declared size, clamped to what the
    // file holds).
    int64_t FrameCount() const noexcept;

    // Owner's thread. The system's reason for the first failure since the last open (the open
    // itself, a write, the flush or the close); empty when there was none or the failure was
    // the file's content. Kept after Close.
    std::error_code LastError() const noexcept;

    WaveFormat Format;
    int64_t DataStart = 0;
    uint32_t DataSize = 0;         // bytes of sample data actually present, whole frames
    uint32_t DeclaredDataSize = 0; // the data chunk's size field as found
    // The format tag inside a WAVE_FORMAT_EXTENSIBLE (0xFFFE) format chunk of 40 bytes or more
    // whose sub-format is one of the standard ones (1 = PCM); 0 for any other file.
    uint16_t ExtensibleSubFormat = 0;
    std::string FileName;
    bool IsOpen = false;
    WaveMode Mode = WaveMode::None;

private:
    void PublishPosition() noexcept;
    int CloseWriter();

    ChunkFile mFile;
    ChunkInfo mRiffChunk;
    ChunkInfo mSubChunk; // "fmt ", then "data"
    std::atomic<int64_t> mFrame{0};
};

} // namespace varnel
