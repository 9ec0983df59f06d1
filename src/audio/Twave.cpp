#include "audio/Twave.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <limits>

namespace varnel {

namespace {

constexpr uint32_t kWave = FourCC("WAVE");
constexpr uint32_t kFmt = FourCC("fmt ");
constexpr uint32_t kData = FourCC("data");
constexpr int kFormatBytesRead = 16;
constexpr int kFormatBytesWritten = 18;
constexpr uint16_t kExtensibleTag = 0xFFFE;
// The extension of an extensible format chunk: extra size, valid bits, channel mask and the
// sub-format's GUID, whose first two bytes are the plain format tag.
constexpr int kExtensionBytes = 24;
constexpr int kExtensibleChunkBytes = kFormatBytesRead + kExtensionBytes;
// The GUID bytes after the tag in every standard sub-format (0000xxxx-0000-0010-8000-
// 00AA00389B71, stored little-endian).
constexpr unsigned char kStandardGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// A RIFF file's length minus 8 must fit the 32-bit size field; the header before the sample
// data takes 38 of those bytes.
constexpr int64_t kMaxDataBytes = static_cast<int64_t>(UINT32_MAX) - 38;

uint16_t GetU16(const unsigned char* b) noexcept
{
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint32_t GetU32(const unsigned char* b) noexcept
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void PutU16(unsigned char* b, uint16_t v) noexcept
{
    b[0] = static_cast<unsigned char>(v & 0xFF);
    b[1] = static_cast<unsigned char>(v >> 8);
}

void PutU32(unsigned char* b, uint32_t v) noexcept
{
    PutU16(b, static_cast<uint16_t>(v & 0xFFFF));
    PutU16(b + 2, static_cast<uint16_t>(v >> 16));
}

} // namespace

TWaveData::TWaveData() = default;

// Owners close before destroying; a file left open is closed here all the same, so a
// forgotten Close neither leaks the handle nor leaves a written file without its sizes.
TWaveData::~TWaveData()
{
    Close();
}

WaveOpenResult TWaveData::OpenRead(const std::string& path)
{
    Close();
    if (!mFile.OpenRead(path))
        return kWaveCannotOpen;
    ChunkInfo riff;
    ChunkInfo sub;
    if (!mFile.DescendRiff(riff, kWave) || !mFile.Descend(sub, riff, kFmt)) {
        mFile.Close();
        return kWaveNotRiffWave;
    }
    unsigned char fmt[kFormatBytesRead];
    if (sub.Size < kFormatBytesRead || mFile.Read(fmt, kFormatBytesRead) != kFormatBytesRead) {
        mFile.Close();
        return kWaveCannotOpen;
    }
    // The extra-size word is not read: it keeps its earlier value.
    Format.FormatTag = GetU16(fmt);
    Format.Channels = GetU16(fmt + 2);
    Format.SamplesPerSec = GetU32(fmt + 4);
    Format.AvgBytesPerSec = GetU32(fmt + 8);
    Format.BlockAlign = GetU16(fmt + 12);
    Format.BitsPerSample = GetU16(fmt + 14);
    ExtensibleSubFormat = 0;
    if (Format.FormatTag == kExtensibleTag && sub.Size >= kExtensibleChunkBytes) {
        unsigned char ext[kExtensionBytes];
        if (mFile.Read(ext, kExtensionBytes) == kExtensionBytes &&
            std::equal(std::begin(kStandardGuidTail), std::end(kStandardGuidTail), ext + 10))
            ExtensibleSubFormat = GetU16(ext + 8);
    }

    if (!mFile.Ascend(sub) || !mFile.Descend(sub, riff, kData)) {
        mFile.Close();
        return kWaveNotRiffWave;
    }
    mRiffChunk = riff;
    mSubChunk = sub;
    DataStart = sub.DataOffset;
    DeclaredDataSize = sub.Size;
    int64_t present =
        std::min<int64_t>(sub.Size, std::max<int64_t>(0, mFile.FileSize() - DataStart));
    if (Format.BlockAlign > 0)
        present -= present % Format.BlockAlign;
    DataSize = static_cast<uint32_t>(present);
    FileName = path;
    Mode = WaveMode::Reading;
    IsOpen = true;
    PublishPosition();
    return kWaveOpened;
}

WaveOpenResult TWaveData::OpenWrite(const std::string& path)
{
    Close();
    if (!mFile.OpenWrite(path))
        return kWaveCannotOpen;
    ChunkInfo riff;
    riff.Id = FourCC("RIFF");
    riff.FormType = kWave;
    ChunkInfo fmt;
    fmt.Id = kFmt;
    fmt.Size = kFormatBytesWritten;
    if (!mFile.CreateChunk(riff) || !mFile.CreateChunk(fmt)) {
        mFile.Close();
        return kWaveNotRiffWave;
    }
    unsigned char b[kFormatBytesWritten];
    PutU16(b, Format.FormatTag);
    PutU16(b + 2, Format.Channels);
    PutU32(b + 4, Format.SamplesPerSec);
    PutU32(b + 8, Format.AvgBytesPerSec);
    PutU16(b + 12, Format.BlockAlign);
    PutU16(b + 14, Format.BitsPerSample);
    // No extension bytes follow, so the extra-size word must say 0 whatever the record held.
    PutU16(b + 16, 0);
    if (mFile.Write(b, kFormatBytesWritten) != kFormatBytesWritten) {
        mFile.Close();
        return kWaveCannotOpen;
    }
    ChunkInfo data;
    data.Id = kData;
    if (!mFile.Ascend(fmt) || !mFile.CreateChunk(data)) {
        mFile.Close();
        return kWaveNotRiffWave;
    }
    mRiffChunk = riff;
    mSubChunk = data;
    FileName = path;
    Mode = WaveMode::Writing;
    return kWaveOpened;
}

int TWaveData::Close()
{
    if (!mFile.IsOpen())
        return 0;
    const int result = (Mode == WaveMode::Writing) ? CloseWriter() : mFile.Close();
    IsOpen = false;
    mFrame.store(0, std::memory_order_relaxed);
    return result;
}

int TWaveData::CloseWriter()
{
    const bool ascended =
        !mFile.HadWriteError() && mFile.Ascend(mSubChunk) && mFile.Ascend(mRiffChunk);
    const int closed = mFile.Close();
    if (ascended && closed == 0)
        return 0;
    // Part of what was written may never have reached the disk: size the file by what did.
    const int unit = Format.BlockAlign > 0 ? Format.BlockAlign : 1;
    ChunkFile::RepairSizes(FileName, mSubChunk.DataOffset, unit);
    return -1;
}

int TWaveData::Read(void* dst, int bytes)
{
    if (!mFile.IsOpen() || Mode != WaveMode::Reading || bytes < 0)
        return -1;
    const int64_t end = DataStart + static_cast<int64_t>(DataSize);
    const int64_t at = mFile.Tell();
    if (at >= end || bytes == 0)
        return 0;
    const int64_t want = std::min<int64_t>(bytes, end - at);
    const int64_t got = mFile.Read(dst, want);
    PublishPosition();
    return got < 0 ? -1 : static_cast<int>(got);
}

int64_t TWaveData::ReadFramesAt(int64_t frame, void* dst, int64_t frames) const noexcept
{
    if (!mFile.IsOpen() || Mode != WaveMode::Reading || frame < 0 || frames < 0 ||
        Format.BlockAlign == 0)
        return -1;
    const int64_t align = Format.BlockAlign;
    const int64_t present = static_cast<int64_t>(DataSize) / align;
    const int64_t count = std::min(frames, std::max<int64_t>(0, present - frame));
    if (count == 0)
        return 0;
    return mFile.ReadAt(DataStart + frame * align, dst, count * align);
}

int TWaveData::Write(const void* src, int bytes)
{
    if (!mFile.IsOpen() || Mode != WaveMode::Writing || bytes < 0)
        return -1;
    const int64_t written = mFile.Tell() - mSubChunk.DataOffset;
    if (written + bytes > kMaxDataBytes)
        return -1;
    return mFile.Write(src, bytes) == bytes ? bytes : -1;
}

int64_t TWaveData::BeginWritesAt()
{
    if (!mFile.IsOpen() || Mode != WaveMode::Writing || Format.BlockAlign == 0 || !mFile.Flush())
        return -1;
    return (mFile.Tell() - mSubChunk.DataOffset) / Format.BlockAlign;
}

int64_t TWaveData::WriteFramesAt(int64_t frame, const void* src, int64_t frames) const noexcept
{
    const int64_t align = Format.BlockAlign;
    if (!mFile.IsOpen() || Mode != WaveMode::Writing || align == 0 || frame < 0 || frames < 0) {
        errno = EBADF;
        return -1;
    }
    if (frame > kMaxDataBytes / align || frames > kMaxDataBytes / align - frame) {
        errno = EFBIG;
        return -1;
    }
    return mFile.WriteAt(mSubChunk.DataOffset + frame * align, src, frames * align);
}

bool TWaveData::EndDataAt(int64_t frames, int errorNumber)
{
    if (!mFile.IsOpen() || Mode != WaveMode::Writing || frames < 0)
        return false;
    const bool cut = mFile.TruncateAt(mSubChunk.DataOffset + frames * Format.BlockAlign);
    if (errorNumber != 0)
        mFile.NoteWriteFailure(errorNumber);
    return cut;
}

int64_t TWaveData::SeekFrame(int64_t frame)
{
    if (!mFile.IsOpen() || Mode != WaveMode::Reading || frame < 0)
        return -1;
    const int64_t align = Format.BlockAlign;
    if (align > 0 && frame > (std::numeric_limits<int64_t>::max() - DataStart) / align)
        return -1;
    const int64_t offset = DataStart + frame * align;
    if (!mFile.Seek(offset))
        return -1;
    PublishPosition();
    return offset;
}

int64_t TWaveData::TellFrame() const noexcept
{
    return mFrame.load(std::memory_order_relaxed);
}

std::error_code TWaveData::LastError() const noexcept
{
    const int number = mFile.ErrorNumber();
    return number != 0 ? std::error_code(number, std::generic_category()) : std::error_code();
}

int64_t TWaveData::FrameCount() const noexcept
{
    return Format.BlockAlign > 0 ? static_cast<int64_t>(DataSize) / Format.BlockAlign : 0;
}

void TWaveData::PublishPosition() noexcept
{
    const int64_t align = Format.BlockAlign;
    mFrame.store(align > 0 ? (mFile.Tell() - DataStart) / align : 0, std::memory_order_relaxed);
}

} // namespace varnel
