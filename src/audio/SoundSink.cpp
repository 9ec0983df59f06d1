#include "audio/SoundSink.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnel {

namespace {

// Frames converted and handed to the library at a time.
constexpr int kChunkFrames = 4096;

int LibraryFormat(const SinkFormat& f)
{
    int sub = SF_FORMAT_PCM_16;
    if (f.Sample == SampleFormat::Pcm24)
        sub = SF_FORMAT_PCM_24;
    else if (f.Sample == SampleFormat::Float32)
        sub = SF_FORMAT_FLOAT;
    switch (f.Kind) {
    case Container::Wav: return SF_FORMAT_WAV | sub;
    case Container::Aiff: return SF_FORMAT_AIFF | sub;
    case Container::Flac: return SF_FORMAT_FLAC | sub;
    case Container::OggVorbis: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case Container::OggOpus: return SF_FORMAT_OGG | SF_FORMAT_OPUS;
    case Container::Mp3: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    case Container::Other: break;
    }
    return 0;
}

// The encoders' settings for a quality of 0..10. Vorbis and MP3 take the library's VBR
// quality directly (0.8 gives about 170 to 180 kbit/s of stereo music); Opus takes a bit
// rate, 48 + 16 x quality kbit/s, which the library sets from a level that runs linearly from
// 512 kbit/s (0) to 6 kbit/s (1).
bool SetLossyQuality(SNDFILE* file, Container kind, int quality)
{
    const double q = std::clamp(quality, kMinLossyQuality, kMaxLossyQuality) / 10.0;
    if (kind == Container::OggOpus) {
        double level = 1.0 - ((48000.0 + 160000.0 * q) - 6000.0) / 506000.0;
        return sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level) == SF_TRUE;
    }
    // For MP3 this also chooses variable bit rate. The MP3 encoder's lowest level is just
    // below 10, which the library makes of a quality of 0.001; it refuses 0 (a level of 10).
    double vbr = kind == Container::Mp3 ? std::max(q, 0.001) : q;
    return sf_command(file, SFC_SET_VBR_ENCODING_QUALITY, &vbr, sizeof vbr) == SF_TRUE;
}

// The CRC of Ogg pages: polynomial 0x04C11DB7, not reflected, starting from 0.
uint32_t OggCrc(const unsigned char* data, size_t size, uint32_t crc)
{
    static const auto table = [] {
        struct Table
        {
            uint32_t Entry[256];
        } t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int k = 0; k < 8; ++k)
                r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t.Entry[i] = r;
        }
        return t;
    }();
    for (size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ table.Entry[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

// The library gives each Ogg stream a random serial number, so two exports of one file would
// differ in it (and in the pages' checksums). The file gets a serial number of its own instead,
// the same for the same sound. 0 or the system's error number.
int FixOggSerial(const std::string& path, uint32_t serial)
{
    const int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0)
        return errno != 0 ? errno : EIO;
    std::vector<unsigned char> page(27 + 255 + 255 * 255);
    int64_t at = 0;
    int error = 0;
    for (;;) {
        const ssize_t head = ::pread(fd, page.data(), 27, at);
        if (head == 0)
            break;
        if (head != 27 || std::memcmp(page.data(), "OggS", 4) != 0) {
            error = head < 0 ? errno : EIO;
            break;
        }
        const int segments = page[26];
        if (::pread(fd, page.data() + 27, static_cast<size_t>(segments), at + 27) != segments) {
            error = EIO;
            break;
        }
        size_t body = 0;
        for (int s = 0; s < segments; ++s)
            body += page[27 + static_cast<size_t>(s)];
        const size_t size = 27 + static_cast<size_t>(segments) + body;
        const auto bodyBytes = static_cast<ssize_t>(body);
        if (::pread(fd, page.data() + 27 + segments, body, at + 27 + segments) != bodyBytes) {
            error = EIO;
            break;
        }
        for (int k = 0; k < 4; ++k) {
            page[static_cast<size_t>(14 + k)] = static_cast<unsigned char>(serial >> (8 * k));
            page[static_cast<size_t>(22 + k)] = 0;
        }
        const uint32_t crc = OggCrc(page.data(), size, 0);
        for (int k = 0; k < 4; ++k)
            page[static_cast<size_t>(22 + k)] = static_cast<unsigned char>(crc >> (8 * k));
        if (::pwrite(fd, page.data() + 14, 12, at + 14) != 12) {
            error = errno != 0 ? errno : EIO;
            break;
        }
        at += static_cast<int64_t>(size);
    }
    if (::fsync(fd) != 0 && error == 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

} // namespace

SoundSink::SoundSink() = default;

SoundSink::SoundSink(const SinkFormat& format) : mFormat(format) {}

SoundSink::~SoundSink()
{
    Close();
}

void SoundSink::Fail(int errorNumber) noexcept
{
    if (!mError)
        mError = std::error_code(errorNumber != 0 ? errorNumber : EIO, std::generic_category());
}

bool SoundSink::Open(const std::string& path, const SinkFormat& format)
{
    Close();
    mError.clear();
    mFormat = format;
    mPath = path;
    mWritten = 0;
    mPending = 0;
    try {
        mChunk.Allocate(format.Conversion, kChunkFrames);
    } catch (const std::bad_alloc&) {
        mError = std::make_error_code(std::errc::not_enough_memory);
        return false;
    }
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = format.SampleRate;
    info.format = LibraryFormat(format);
    if (info.format == 0 || !sf_format_check(&info)) {
        mError = std::make_error_code(std::errc::invalid_argument);
        return false;
    }
    if (!mIo.OpenWrite(path)) {
        mError = std::error_code(mIo.Error(), std::generic_category());
        return false;
    }
    SF_VIRTUAL_IO io = SoundFileIo::Callbacks();
    mFile = SoundFileHandle(sf_open_virtual(&io, SFM_WRITE, &info, &mIo));
    if (!mFile) {
        mError = mIo.Error() != 0 ? std::error_code(mIo.Error(), std::generic_category())
                                  : std::make_error_code(std::errc::invalid_argument);
        mIo.Close();
        return false;
    }
    if (format.Kind == Container::Flac) {
        // FLAC's level 4 (the library scales 0..1 to levels 0..8): on music about 2% larger
        // files than the usual level 5 for a quarter less encoding time.
        double level = 4.0 / 8.0;
        sf_command(mFile.Get(), SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    }
    // A float file's peak chunk carries the time of writing: no two exports would be equal.
    sf_command(mFile.Get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
    if (IsLossy(format.Kind) && !SetLossyQuality(mFile.Get(), format.Kind, format.LossyQuality)) {
        mError = std::make_error_code(std::errc::invalid_argument);
        Close();
        return false;
    }
    // Strings go in before the first samples: several containers write them in the header.
    if (!format.Title.empty())
        sf_set_string(mFile.Get(), SF_STR_TITLE, format.Title.c_str());
    if (!format.Artist.empty())
        sf_set_string(mFile.Get(), SF_STR_ARTIST, format.Artist.c_str());
    return true;
}

void SinkBlock::Allocate(const SampleConversion& conversion, int64_t frames)
{
    const auto words = static_cast<size_t>(frames) * 2;
    Words16.reset();
    Words32.reset();
    Floats.reset();
    switch (conversion.Kind) {
    case Rounding::Truncate16:
    case Rounding::Round16: Words16.reset(new int16_t[words]); break;
    case Rounding::Round24: Words32.reset(new int32_t[words]); break;
    case Rounding::Float: Floats.reset(new float[words]); break;
    }
}

void SoundSink::Convert(const float* left, const float* right, int64_t frame, int count,
                        SinkBlock& block, int64_t at) const noexcept
{
    const auto offset = static_cast<size_t>(at) * 2;
    ConvertSamples(mFormat.Conversion, left, right, frame, count,
                   block.Words16 ? block.Words16.get() + offset : nullptr,
                   block.Words32 ? block.Words32.get() + offset : nullptr,
                   block.Floats ? block.Floats.get() + offset : nullptr);
    if (IsLossy(mFormat.Kind) && block.Floats) {
        // The MP3 encoder aborts the program on samples of about 1e9 times full scale (a
        // damaged float file gives such values); no sound comes near 60 dB above full scale.
        constexpr float kEncoderLimit = 1000.0f;
        float* f = block.Floats.get() + offset;
        for (size_t i = 0; i < static_cast<size_t>(count) * 2; ++i) {
            if (!(f[i] >= -kEncoderLimit)) // below the limit, or not a number (which becomes 0)
                f[i] = f[i] < 0.0f ? -kEncoderLimit : 0.0f;
            else if (f[i] > kEncoderLimit)
                f[i] = kEncoderLimit;
        }
    }
}

bool SoundSink::WriteToLibrary(const SinkBlock& block, int64_t at, int count) noexcept
{
    const auto offset = static_cast<size_t>(at) * 2;
    errno = 0;
    sf_count_t written = 0;
    switch (mFormat.Conversion.Kind) {
    case Rounding::Truncate16:
    case Rounding::Round16:
        written = sf_writef_short(mFile.Get(), block.Words16.get() + offset, count);
        break;
    case Rounding::Round24:
        written = sf_writef_int(mFile.Get(), block.Words32.get() + offset, count);
        break;
    case Rounding::Float:
        written = sf_writef_float(mFile.Get(), block.Floats.get() + offset, count);
        break;
    }
    // The library goes on after some failed writes (the MP3 encoder's): its error state and
    // the calls underneath tell.
    if (written != count || mIo.Error() != 0 || sf_error(mFile.Get()) != SF_ERR_NO_ERROR) {
        Fail(mIo.Error() != 0 ? mIo.Error() : errno);
        return false;
    }
    return true;
}

bool SoundSink::FlushPending() noexcept
{
    const int count = mPending;
    mPending = 0;
    return count == 0 || WriteToLibrary(mChunk, 0, count);
}

namespace {

template <typename Word>
void CopyFrames(const Word* from, int64_t at, Word* to, int64_t toAt, int count) noexcept
{
    std::memcpy(to + toAt * 2, from + at * 2, static_cast<size_t>(count) * 2 * sizeof(Word));
}

} // namespace

bool SoundSink::WriteConverted(const SinkBlock& block, int64_t at, int count) noexcept
{
    if (!mFile || count < 0) {
        Fail(EBADF);
        return false;
    }
    if (mError)
        return false;
    // The library's pieces end at whole kChunkFrames of the file: frames short of one wait in
    // mChunk for the next call (or Close).
    int done = 0;
    while (done < count) {
        const int room = kChunkFrames - mPending;
        const int n = std::min(count - done, room);
        if (mPending == 0 && n == kChunkFrames) {
            if (!WriteToLibrary(block, at + done, n))
                return false;
        } else {
            const int64_t from = at + done;
            if (block.Words16)
                CopyFrames(block.Words16.get(), from, mChunk.Words16.get(), mPending, n);
            else if (block.Words32)
                CopyFrames(block.Words32.get(), from, mChunk.Words32.get(), mPending, n);
            else
                CopyFrames(block.Floats.get(), from, mChunk.Floats.get(), mPending, n);
            mPending += n;
            if (mPending == kChunkFrames && !FlushPending())
                return false;
        }
        done += n;
        mWritten += n;
    }
    return true;
}

bool SoundSink::Write(const float* left, const float* right, int64_t frame, int count) noexcept
{
    if (!mFile || count < 0) {
        Fail(EBADF);
        return false;
    }
    if (mError)
        return false;
    for (int done = 0; done < count;) {
        const int n = std::min(count - done, kChunkFrames - mPending);
        Convert(left + done, right + done, frame + done, n, mChunk, mPending);
        mPending += n;
        done += n;
        mWritten += n;
        if (mPending == kChunkFrames && !FlushPending())
            return false;
    }
    return true;
}

int SoundSink::Close()
{
    if (!mFile)
        return 0;
    if (!mError)
        FlushPending();
    mPending = 0;
    // The FLAC encoder writes the stream's header with its first samples: without any, the
    // file would be empty, which no program reads.
    if (!mError && mWritten == 0 && mFormat.Kind == Container::Flac) {
        sf_command(mFile.Get(), SFC_UPDATE_HEADER_NOW, nullptr, 0);
        if (mIo.Error() != 0 || sf_error(mFile.Get()) != SF_ERR_NO_ERROR)
            Fail(mIo.Error());
    }
    const int closed = mFile.Close();
    const int ioError = mIo.Close();
    if (closed != 0 || ioError != 0)
        Fail(ioError);
    if (!mError && (mFormat.Kind == Container::OggVorbis || mFormat.Kind == Container::OggOpus)) {
        // A serial number from the sound's length and rate: the same sound, the same bytes.
        const auto serial =
            static_cast<uint32_t>((static_cast<uint64_t>(mWritten) * 2654435761u) ^
                                  static_cast<uint64_t>(mFormat.SampleRate) ^ 0x5641524Eu);
        if (const int error = FixOggSerial(mPath, serial); error != 0)
            Fail(error);
    }
    return mError ? -1 : 0;
}

int64_t SoundSink::MaxFrames(const SinkFormat& format) noexcept
{
    if (format.Kind != Container::Wav && format.Kind != Container::Aiff)
        return std::numeric_limits<int64_t>::max();
    const int64_t frameBytes = format.Sample == SampleFormat::Pcm16   ? 4
                               : format.Sample == SampleFormat::Pcm24 ? 6
                                                                      : 8;
    // 32-bit sizes, less room for the header and the strings.
    return (static_cast<int64_t>(UINT32_MAX) - 65536) / frameBytes;
}

bool SoundSink::CanBeEmpty(Container kind) noexcept
{
    return kind != Container::OggOpus && kind != Container::Mp3;
}

bool IsCompleteSoundFile(const std::string& path, int64_t frames)
{
    SF_INFO info{};
    SoundFileHandle file(sf_open(path.c_str(), SFM_READ, &info));
    return file && info.channels == 2 && info.frames == frames;
}

} // namespace varnel
