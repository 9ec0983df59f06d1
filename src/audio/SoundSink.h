#pragma once

#include "audio/SoundFileHandle.h"
#include "audio/SoundFileIo.h"
#include "audio/SoundFormat.h"

#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace varnel {

// What an output file is to be.
struct SinkFormat
{
    Container Kind = Container::Wav;
    // Pcm16, Pcm24 or Float32 for WAV and AIFF, Pcm16 or Pcm24 for FLAC, Lossy for the others.
    SampleFormat Sample = SampleFormat::Pcm16;
    int SampleRate = 44100;
    // The lossy encoders' quality, kMinLossyQuality..kMaxLossyQuality.
    int LossyQuality = kDefaultLossyQuality;
    // How filtered sound becomes the samples (ConversionFor).
    SampleConversion Conversion;
    // Copied into the file where its container holds them; empty ones are left out.
    std::string Title;
    std::string Artist;
};

// Samples converted for a sink, interleaved: 16-bit words, 24-bit values at the top of 32-bit
// words, or floats, as the sink's conversion gives them (only that kind is allocated). Not
// cleared: every word is converted before it is written, and the pages are first touched by
// the thread that converts into them.
struct SinkBlock
{
    std::unique_ptr<int16_t[]> Words16;
    std::unique_ptr<int32_t[]> Words32;
    std::unique_ptr<float[]> Floats;

    // Set-up thread; allocates (throws std::bad_alloc). Room for frames frames.
    void Allocate(const SampleConversion& conversion, int64_t frames);
};

// Writes one stereo sound file of any format the program writes (WAV, AIFF, FLAC, Ogg Vorbis,
// Opus, MP3) through the sound file library, in order, from filtered sound in 16-bit units,
// rounding (and dithering) as the format's conversion says.
//
// Non-copyable; one thread uses an object (the export thread, which writes the blocks in
// their order). After Open, Write allocates nothing.
class SoundSink
{
public:
    SoundSink();
    // Owner's thread. A sink of this format, not yet open (MaxFrames and Format answer for
    // it).
    explicit SoundSink(const SinkFormat& format);
    // Owner's thread. Closes a file left open.
    ~SoundSink();
    SoundSink(const SoundSink&) = delete;
    SoundSink& operator=(const SoundSink&) = delete;

    // Owner's thread; allocates. Creates the file at path (truncating one of that name) and
    // writes its header: true, or false with the reason in LastError (the system's, or
    // std::errc::invalid_argument when the library refuses the format).
    bool Open(const std::string& path, const SinkFormat& format);
    // Owner's thread; allocates nothing. Appends count frames (left and right in 16-bit
    // units) whose first is frame `frame` of the input (the dither's position): false when
    // writing failed (the reason in LastError).
    bool Write(const float* left, const float* right, int64_t frame, int count) noexcept;
    // The two halves of Write, for writers that convert on several threads and write in
    // order on one: Convert (any thread, also beside the owner's calls; allocates nothing)
    // puts count frames of input frame `frame` on into block from frame `at`, WriteConverted
    // (owner's thread; allocates nothing) appends count frames of block from frame `at`.
    // The samples a lossy encoder gets are limited to 60 dB above full scale (beyond, the MP3
    // encoder aborts the program). Whatever the pieces the callers hand over, the library takes the sound in the same
    // pieces (the Vorbis encoder's output depends on them), so how an export was cut into
    // blocks and threads changes no byte; the last piece goes at Close.
    void Convert(const float* left, const float* right, int64_t frame, int count, SinkBlock& block,
                 int64_t at) const noexcept;
    bool WriteConverted(const SinkBlock& block, int64_t at, int count) noexcept;
    // Owner's thread. Finishes the file (the frames not yet handed to the library, the
    // encoders' last frames, the sizes in the header): 0, or -1 when that or an earlier write
    // failed. 0 when nothing is open.
    int Close();

    // Owner's thread.
    bool IsOpen() const noexcept { return static_cast<bool>(mFile); }
    int64_t FramesWritten() const noexcept { return mWritten; }
    const std::string& Path() const noexcept { return mPath; }
    const SinkFormat& Format() const noexcept { return mFormat; }
    // Owner's thread. The reason for the first failure since Open; kept after Close.
    std::error_code LastError() const noexcept { return mError; }

    // Any thread; pure. The most frames a file of this format holds (WAV and AIFF have 32-bit
    // sizes).
    static int64_t MaxFrames(const SinkFormat& format) noexcept;
    // Any thread; pure. Whether a file of this container can be written holding no frames:
    // the library makes no valid Opus or MP3 file without sound.
    static bool CanBeEmpty(Container kind) noexcept;

private:
    void Fail(int errorNumber) noexcept;
    // Hands count frames of block from frame `at` to the library.
    bool WriteToLibrary(const SinkBlock& block, int64_t at, int count) noexcept;
    // Hands the pending frames of mChunk to the library.
    bool FlushPending() noexcept;

    // The file under the library (declared first: the library's handle closes before it).
    SoundFileIo mIo;
    SoundFileHandle mFile;
    SinkFormat mFormat;
    std::string mPath;
    int64_t mWritten = 0;
    std::error_code mError;
    SinkBlock mChunk; // the frames not yet handed to the library, from its start
    int mPending = 0;
};

// Caller's thread; opens and closes the file. True when the file is a complete sound file of
// exactly this many stereo frames, so an export stopped early can be kept in its place.
bool IsCompleteSoundFile(const std::string& path, int64_t frames);

} // namespace varnel
