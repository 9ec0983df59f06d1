#pragma once

#include "audio/MessageId.h"
#include "audio/SoundFormat.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

namespace varnel {

class TWaveData;

// What a source tells about its file.
struct SoundInfo
{
    Container Kind = Container::Wav;
    SampleFormat Sample = SampleFormat::Pcm16;
    std::string ContainerName; // as a person knows it: "WAV", "FLAC", "AIFF", "Ogg Vorbis", ...
    int SampleRate = 0;
    int Channels = 0;
    int64_t Frames = 0;
    std::string Title;
    std::string Artist;
};

// Reads the sound of one source for one thread, as floats in 16-bit units (a 16-bit sample's
// own value: a 24-bit sample x is x / 256, a float sample f is f x 32768). Samples that are
// not finite (a damaged float file) are read as 0.
class SourceReader
{
public:
    virtual ~SourceReader() = default;
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    // The reader's thread. Moves to the frame (0..the source's frames). A reader of a source
    // that does not seek exactly decodes its way there (from the start to go back), so it
    // reads the same samples as a reading from the start. False when that fails.
    virtual bool Seek(int64_t frame) = 0;
    // The reader's thread; allocates nothing. Reads up to count frames into left and right:
    // frames read (fewer only at the end of the sound), or -1 when reading fails.
    virtual int Read(float* left, float* right, int count) noexcept = 0;

    // Any thread. The frame the next Read starts at.
    int64_t Tell() const noexcept { return mPosition.load(std::memory_order_relaxed); }
    // Any thread. True once a Read came up short: the reader is at the end of the sound (for
    // a lossy file this may come before the length its file states).
    bool Ended() const noexcept { return mEnded.load(std::memory_order_relaxed); }

protected:
    SourceReader() = default;
    void Publish(int64_t frame, bool ended = false) noexcept
    {
        mPosition.store(frame, std::memory_order_relaxed);
        mEnded.store(ended, std::memory_order_relaxed);
    }

private:
    std::atomic<int64_t> mPosition{0};
    std::atomic<bool> mEnded{false};
};

// One opened input file of any format the program reads. Readers are made for each thread
// that reads it; the source itself is not changed by reading.
class SoundSource
{
public:
    virtual ~SoundSource() = default;
    SoundSource(const SoundSource&) = delete;
    SoundSource& operator=(const SoundSource&) = delete;

    // Any thread.
    const SoundInfo& Info() const noexcept { return mInfo; }
    // Any thread. True when a reader's Seek lands on exactly the samples a reading from the
    // start gives there, cheaply; false for the codecs whose decoders only approach them
    // (Vorbis, Opus, MP3): those are read from the start, on one thread.
    virtual bool SeeksExactly() const noexcept = 0;
    // Any thread. A reader of its own, at frame 0; null when the file cannot be opened again
    // or memory runs out.
    virtual std::unique_ptr<SourceReader> NewReader() const = 0;

protected:
    SoundSource() = default;
    SoundInfo mInfo;
};

// A source over an open 16-bit stereo PCM WAV reader (which must stay open and outlive it):
// the window's format, read by position, so any number of readers share it.
class WaveSource final : public SoundSource
{
public:
    // Caller's thread. The reader is open and passed the format check; title and artist are
    // the file's, where the caller read them (ReadTitleAndArtist).
    explicit WaveSource(const TWaveData& wave, std::string title = {}, std::string artist = {});
    bool SeeksExactly() const noexcept override { return true; }
    std::unique_ptr<SourceReader> NewReader() const override;

private:
    const TWaveData& mWave;
};

// How opening an input of any format ended.
struct SourceOpenResult
{
    // kMsgNone; kMsgCannotOpen (with Reason); kMsgUnsupportedFile (not a sound file the
    // library reads, a damaged one, or a rate the filter cannot use); kMsgNotPcm or
    // kMsgNotStereo16 (a WAV file the library does not read either, as the WAV check says).
    MessageId Message = kMsgNone;
    std::error_code Reason;
    // The file is a readable sound file but not stereo: its channel count (Message is then
    // kMsgNotStereo16).
    int RefusedChannels = 0;
};

// Caller's thread. The title and artist a sound file of any format holds (empty where it holds
// none, or cannot be read).
void ReadTitleAndArtist(const std::string& path, std::string& title, std::string& artist);

// Caller's thread. Opens a sound file of any format through the sound file library: WAV (PCM
// 8 to 32 bits, 32/64-bit float, extensible), RF64, W64, AIFF/AIFC, FLAC, Ogg Vorbis, Opus,
// MP3 and whatever else it reads. Only stereo files at the rates the filter takes are
// accepted. A file that cannot be read to its end (a cut FLAC) is refused as damaged. An
// unknown length (a cut Ogg file), or one a lossy file's decoder does not reach (a cut MP3's
// header states the whole), is found by decoding the file once. Null on refusal, with the
// reason in result.
std::unique_ptr<SoundSource> OpenSoundFile(const std::string& path, SourceOpenResult& result);

} // namespace varnel
