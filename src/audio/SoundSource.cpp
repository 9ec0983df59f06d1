#include "audio/SoundSource.h"

#include "audio/SoundFileHandle.h"
#include "audio/SoundFileIo.h"
#include "audio/Twave.h"
#include "audio/WaveCheck.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

namespace varnel {

namespace {

constexpr float kFloatTo16 = 32768.0f;
constexpr float kInt32To16 = 1.0f / 65536.0f;
// Frames a reader moves through the library at a time.
constexpr int kChunkFrames = 4096;

inline float Finite(float v) noexcept
{
    return std::isfinite(v) ? v : 0.0f;
}

// Reads frames by position from the open 16-bit WAV reader, which many readers share.
class WaveReader final : public SourceReader
{
public:
    explicit WaveReader(const TWaveData& wave)
        : mWave(wave), mFrames(wave.FrameCount()),
          mRaw(static_cast<size_t>(kChunkFrames) * kFrameBytes)
    {}

    bool Seek(int64_t frame) override
    {
        if (frame < 0 || frame > mFrames)
            return false;
        mAt = frame;
        Publish(mAt);
        return true;
    }

    int Read(float* left, float* right, int count) noexcept override
    {
        int done = 0;
        while (done < count && mAt < mFrames) {
            const int64_t want = std::min<int64_t>({count - done, kChunkFrames, mFrames - mAt});
            const int64_t bytes = mWave.ReadFramesAt(mAt, mRaw.data(), want);
            if (bytes != want * kFrameBytes)
                return -1;
            const uint8_t* b = mRaw.data();
            for (int64_t i = 0; i < want; ++i, b += kFrameBytes) {
                left[done + i] = static_cast<int16_t>(static_cast<uint16_t>(b[0] | b[1] << 8));
                right[done + i] = static_cast<int16_t>(static_cast<uint16_t>(b[2] | b[3] << 8));
            }
            done += static_cast<int>(want);
            mAt += want;
        }
        Publish(mAt, done < count);
        return done;
    }

private:
    const TWaveData& mWave;
    const int64_t mFrames;
    int64_t mAt = 0;
    std::vector<uint8_t> mRaw;
};

// A file read through the sound file library, opened anew for each reader.
class SndfileSource final : public SoundSource
{
public:
    SndfileSource(std::string path, const SoundInfo& info, bool exact)
        : mPath(std::move(path)), mExact(exact)
    {
        mInfo = info;
    }

    bool SeeksExactly() const noexcept override { return mExact; }
    std::unique_ptr<SourceReader> NewReader() const override;

private:
    std::string mPath;
    bool mExact;
};

class SndfileReader final : public SourceReader
{
public:
    // integers: the file holds integer samples, read as 32-bit integers (the library scales
    // every width to the top of 32 bits), which convert to 16-bit units exactly in one pass.
    SndfileReader(std::unique_ptr<SoundFileIo> io, SoundFileHandle file, int64_t frames, bool exact,
                  bool integers)
        : mIo(std::move(io)), mFile(std::move(file)), mFrames(frames), mExact(exact),
          mIntegers(integers), mScratch(integers ? 0 : static_cast<size_t>(kChunkFrames) * 2),
          mIntScratch(integers ? static_cast<size_t>(kChunkFrames) * 2 : 0)
    {}

    bool Seek(int64_t frame) override
    {
        if (frame < 0 || frame > mFrames)
            return false;
        if (frame == mAt)
            return true;
        if (mExact || frame < mAt) {
            // Back to the start is exact for every codec; forward from there by decoding.
            const int64_t to = mExact ? frame : 0;
            if (sf_seek(mFile.Get(), to, SEEK_SET) != to)
                return false;
            mAt = to;
        }
        while (mAt < frame) {
            const int64_t want = std::min<int64_t>(kChunkFrames, frame - mAt);
            const sf_count_t got = mIntegers ? sf_readf_int(mFile.Get(), mIntScratch.data(), want)
                                             : sf_readf_float(mFile.Get(), mScratch.data(), want);
            if (got <= 0)
                return false;
            mAt += got;
        }
        Publish(mAt);
        return true;
    }

    int Read(float* left, float* right, int count) noexcept override
    {
        int done = 0;
        while (done < count) {
            const int want = std::min(count - done, kChunkFrames);
            const sf_count_t got = mIntegers ? sf_readf_int(mFile.Get(), mIntScratch.data(), want)
                                             : sf_readf_float(mFile.Get(), mScratch.data(), want);
            if (got < 0 || sf_error(mFile.Get()) != SF_ERR_NO_ERROR)
                return -1;
            if (mIntegers) {
                const int* s = mIntScratch.data();
                for (sf_count_t i = 0; i < got; ++i) {
                    left[done + i] = static_cast<float>(s[2 * i]) * kInt32To16;
                    right[done + i] = static_cast<float>(s[2 * i + 1]) * kInt32To16;
                }
            } else {
                const float* s = mScratch.data();
                for (sf_count_t i = 0; i < got; ++i) {
                    left[done + i] = Finite(s[2 * i]) * kFloatTo16;
                    right[done + i] = Finite(s[2 * i + 1]) * kFloatTo16;
                }
            }
            done += static_cast<int>(got);
            mAt += got;
            if (got < want)
                break;
        }
        Publish(mAt, done < count);
        return done;
    }

private:
    std::unique_ptr<SoundFileIo> mIo; // the file under the library; its handle closes first
    SoundFileHandle mFile;
    const int64_t mFrames;
    const bool mExact;
    const bool mIntegers;
    int64_t mAt = 0;
    std::vector<float> mScratch;
    std::vector<int> mIntScratch;
};

std::unique_ptr<SourceReader> SndfileSource::NewReader() const
{
    try {
        // Read through a buffer of our own: the library reads a few kilobytes at a call.
        auto io = std::make_unique<SoundFileIo>();
        if (!io->OpenRead(mPath))
            return nullptr;
        SF_INFO info{};
        SF_VIRTUAL_IO callbacks = SoundFileIo::Callbacks();
        SoundFileHandle file(sf_open_virtual(&callbacks, SFM_READ, &info, io.get()));
        if (!file)
            return nullptr;
        sf_command(file.Get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
        const SampleFormat f = mInfo.Sample;
        const bool integers = f == SampleFormat::Pcm8 || f == SampleFormat::Pcm16 ||
                              f == SampleFormat::Pcm24 || f == SampleFormat::Pcm32;
        return std::make_unique<SndfileReader>(std::move(io), std::move(file), mInfo.Frames, mExact,
                                               integers);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// The library's name of a major format ("W64 (SoundFoundry WAVE 64)"), up to its bracket.
std::string MajorFormatName(int format)
{
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) != 0 || !info.name)
        return "unknown";
    std::string name = info.name;
    const size_t bracket = name.find(" (");
    return bracket == std::string::npos ? name : name.substr(0, bracket);
}

void DescribeFormat(int format, SoundInfo& info, bool& exact)
{
    const int major = format & SF_FORMAT_TYPEMASK;
    const int sub = format & SF_FORMAT_SUBMASK;
    exact = true;
    switch (sub) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: info.Sample = SampleFormat::Pcm8; break;
    case SF_FORMAT_PCM_16: info.Sample = SampleFormat::Pcm16; break;
    case SF_FORMAT_PCM_24: info.Sample = SampleFormat::Pcm24; break;
    case SF_FORMAT_PCM_32: info.Sample = SampleFormat::Pcm32; break;
    case SF_FORMAT_FLOAT: info.Sample = SampleFormat::Float32; break;
    case SF_FORMAT_DOUBLE: info.Sample = SampleFormat::Float64; break;
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW: info.Sample = SampleFormat::Lossy; break;
    default:
        // Codecs with state from block to block: read from the start, on one thread.
        info.Sample = SampleFormat::Lossy;
        exact = false;
        break;
    }
    switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
        info.Kind = Container::Wav;
        info.ContainerName = "WAV";
        break;
    case SF_FORMAT_AIFF:
        info.Kind = Container::Aiff;
        info.ContainerName = (sub == SF_FORMAT_PCM_S8 || sub == SF_FORMAT_PCM_16 ||
                              sub == SF_FORMAT_PCM_24 || sub == SF_FORMAT_PCM_32)
                                 ? "AIFF"
                                 : "AIFC";
        break;
    case SF_FORMAT_FLAC:
        info.Kind = Container::Flac;
        info.ContainerName = "FLAC";
        break;
    case SF_FORMAT_OGG:
        info.Kind = sub == SF_FORMAT_OPUS ? Container::OggOpus : Container::OggVorbis;
        info.ContainerName = sub == SF_FORMAT_OPUS ? "Ogg Opus" : "Ogg Vorbis";
        break;
    case SF_FORMAT_MPEG:
        info.Kind = sub == SF_FORMAT_MPEG_LAYER_III ? Container::Mp3 : Container::Other;
        info.ContainerName = sub == SF_FORMAT_MPEG_LAYER_III ? "MP3" : "MPEG audio";
        break;
    default:
        info.Kind = Container::Other;
        info.ContainerName = MajorFormatName(format);
        break;
    }
}

// Decodes the whole file to count its frames: -1 when decoding fails.
int64_t CountByDecoding(SNDFILE* file)
{
    std::vector<float> scratch(static_cast<size_t>(kChunkFrames) * 2);
    int64_t frames = 0;
    for (;;) {
        const sf_count_t got = sf_readf_float(file, scratch.data(), kChunkFrames);
        if (got < 0 || sf_error(file) != SF_ERR_NO_ERROR)
            return -1;
        if (got == 0)
            return frames;
        frames += got;
    }
}

} // namespace

std::unique_ptr<SourceReader> WaveSource::NewReader() const
{
    try {
        return std::make_unique<WaveReader>(mWave);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

WaveSource::WaveSource(const TWaveData& wave, std::string title, std::string artist) : mWave(wave)
{
    mInfo.Title = std::move(title);
    mInfo.Artist = std::move(artist);
    mInfo.Kind = Container::Wav;
    mInfo.Sample = SampleFormat::Pcm16;
    mInfo.ContainerName = "WAV";
    mInfo.SampleRate = static_cast<int>(std::min<uint32_t>(wave.Format.SamplesPerSec, 0x7FFFFFFF));
    mInfo.Channels = wave.Format.Channels;
    mInfo.Frames = wave.FrameCount();
}

void ReadTitleAndArtist(const std::string& path, std::string& title, std::string& artist)
{
    title.clear();
    artist.clear();
    SF_INFO info{};
    SoundFileHandle file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file)
        return;
    if (const char* t = sf_get_string(file.Get(), SF_STR_TITLE))
        title = t;
    if (const char* a = sf_get_string(file.Get(), SF_STR_ARTIST))
        artist = a;
}

std::unique_ptr<SoundSource> OpenSoundFile(const std::string& path, SourceOpenResult& result)
{
    result = SourceOpenResult();
    // The library says little about why a file cannot be opened; the system says more.
    errno = 0;
    if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
        char byte = 0;
        const bool readable = std::fread(&byte, 1, 1, probe) == 1 || std::feof(probe);
        const int error = errno;
        std::fclose(probe);
        if (!readable) {
            result.Message = kMsgCannotOpen;
            result.Reason = std::error_code(error != 0 ? error : EIO, std::generic_category());
            return nullptr;
        }
    } else {
        result.Message = kMsgCannotOpen;
        result.Reason = std::error_code(errno != 0 ? errno : EIO, std::generic_category());
        return nullptr;
    }

    SF_INFO sfInfo{};
    SoundFileHandle file(sf_open(path.c_str(), SFM_READ, &sfInfo));
    if (!file) {
        result.Message = kMsgUnsupportedFile;
        return nullptr;
    }
    if (sfInfo.channels != 2) {
        result.Message = kMsgNotStereo16;
        result.RefusedChannels = sfInfo.channels;
        return nullptr;
    }
    if (sfInfo.samplerate <= static_cast<int>(kLowestRefusedRate) ||
        sfInfo.samplerate > static_cast<int>(kHighestSampleRate)) {
        result.Message = kMsgUnsupportedFile;
        return nullptr;
    }
    SoundInfo info;
    bool exact = true;
    DescribeFormat(sfInfo.format, info, exact);
    info.SampleRate = sfInfo.samplerate;
    info.Channels = sfInfo.channels;
    info.Frames = sfInfo.frames;
    if (const char* title = sf_get_string(file.Get(), SF_STR_TITLE))
        info.Title = title;
    if (const char* artist = sf_get_string(file.Get(), SF_STR_ARTIST))
        info.Artist = artist;
    sf_command(file.Get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);

    // A cut file states its whole length (a FLAC or MP3 file's header) or none (an Ogg file
    // without its last page): its last frame cannot be reached.
    const bool lengthKnown = info.Frames >= 0 && info.Frames != SF_COUNT_MAX;
    bool endReached = lengthKnown;
    if (lengthKnown && info.Frames > 0) {
        float last[2];
        endReached = sf_seek(file.Get(), info.Frames - 1, SEEK_SET) == info.Frames - 1 &&
                     sf_readf_float(file.Get(), last, 1) == 1;
    }
    if (lengthKnown && !endReached && exact) {
        // A cut FLAC file is damaged.
        result.Message = kMsgUnsupportedFile;
        return nullptr;
    }
    if (!endReached) {
        // A lossy file is as long as its decoder gives it.
        // Nothing was read from a file of unknown length (an empty FLAC file's header says
        // so, and the library seeks in none).
        const bool atStart = !lengthKnown || sf_seek(file.Get(), 0, SEEK_SET) == 0;
        info.Frames = atStart ? CountByDecoding(file.Get()) : -1;
        if (info.Frames < 0) {
            result.Message = kMsgUnsupportedFile;
            return nullptr;
        }
    }
    try {
        return std::make_unique<SndfileSource>(path, info, exact);
    } catch (const std::bad_alloc&) {
        result.Message = kMsgCannotOpen;
        result.Reason = std::make_error_code(std::errc::not_enough_memory);
        return nullptr;
    }
}

} // namespace varnel
