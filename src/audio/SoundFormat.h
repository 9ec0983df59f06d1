#pragma once

#include <cstdint>
#include <string>

namespace varnel {

// The file formats the command line reads and writes beside the window's 16-bit WAV, and the
// rules that choose an output's sample format and turn filtered sound into its samples. The
// rules live here once; the sources, the sinks and the command line call them.

// The kind of file, as far as the rules need to know it.
enum class Container
{
    Wav,
    Flac,
    Aiff,
    OggVorbis,
    OggOpus,
    Mp3,
    Other, // read only: W64, RF64, CAF and whatever else the library reads
};

// How a file stores its samples.
enum class SampleFormat
{
    Pcm8,
    Pcm16,
    Pcm24,
    Pcm32,
    Float32,
    Float64,
    Lossy, // decoded by the codec into floats
};

// What --bits asks for; Default follows the input (ChooseOutputSample).
enum class BitsRequest
{
    Default,
    Pcm16,
    Pcm24,
    Float32,
};

// The lossy encoders' quality, 0 (smallest) to 10 (best); the default gives about 170 to 180
// kbit/s of stereo music in each codec, well above the libraries' own defaults.
constexpr int kMinLossyQuality = 0;
constexpr int kMaxLossyQuality = 10;
constexpr int kDefaultLossyQuality = 8;

// Any thread; pure. The container an output's name asks for by its extension, case ignored:
// .wav, .flac, .aif/.aiff, .ogg, .opus, .mp3; a name without an extension is a WAV file (it
// gets ".wav"). False for any other extension: Varnel cannot write it.
bool ContainerForName(const std::string& path, Container& container);

// Any thread; pure. The extension Varnel gives a file of this container (".wav", ".flac",
// ".aiff", ".ogg", ".opus", ".mp3"); "" for Other.
const char* ExtensionOf(Container container);

// Any thread; pure. True for the containers whose samples are coded with loss.
bool IsLossy(Container container);

// Why an output format cannot be written, or None.
enum class OutputRefusal
{
    None,
    BitsNotForLossy,  // --bits given for a lossy container
    FloatNotForFlac,  // FLAC holds integer samples only
    RateNotForOpus,   // Opus holds 8, 12, 16, 24 or 48 kHz
    RateNotForMp3,    // MP3 holds 8 to 48 kHz at the MPEG rates
    RateNotForVorbis, // Vorbis up to 192 kHz
};

// Any thread; pure. The sample format an output of this container gets for an input of this
// sample format:
// - lossy containers: Lossy (a --bits request is refused);
// - --bits given: that format (32-bit float is refused for FLAC);
// - otherwise the input's own format where the container holds it: 16-bit, 24-bit and 32-bit
//   float stay as they are (float becomes 24-bit in FLAC); 8-bit becomes 16-bit, 32-bit
//   integer and 64-bit float become 32-bit float (24-bit in FLAC), since the filter computes in
//   32-bit floats; a lossy input gives 16-bit.
// The rate is checked against what the container holds. On refusal the result is Pcm16 and
// refusal says why.
SampleFormat ChooseOutputSample(Container output, SampleFormat input, BitsRequest bits,
                                int sampleRate, OutputRefusal& refusal);

// How filtered sound (floats in 16-bit units) becomes an output's samples.
enum class Rounding
{
    Truncate16, // 16-bit input to 16-bit output: toward zero and clipped, as the 16-bit path
    Round16,    // to 16-bit: half away from zero, clipped
    Round24,    // to 24-bit: x 256, half away from zero, clipped
    Float,      // x / 32768, never clipped (float files and the lossy encoders)
};

struct SampleConversion
{
    Rounding Kind = Rounding::Float;
    // TPDF dither of one output step's two uniform variables, before rounding.
    bool Dither = false;
    // Chooses the dither's noise; the noise of a sample depends only on the seed, the
    // sample's input frame and its channel, so any thread order gives the same bytes.
    uint64_t DitherSeed = 0;
};

// Any thread; pure. The conversion for this input and output sample format: 16-bit (and 8-bit)
// input to 16-bit truncates as the 16-bit path does and is never dithered; other integer
// outputs round, with dither where the output has fewer bits than the input (24-bit, 32-bit,
// float or lossy input to 16-bit; 32-bit, float or lossy input to 24-bit) unless dither is
// off; float and lossy outputs take the floats.
SampleConversion ConversionFor(SampleFormat input, SampleFormat output, bool dither);

// Any thread; allocates nothing. Converts count frames (left and right, 16-bit units) of input
// frame `frame` onward into interleaved output words: int16 values for Truncate16 and
// Round16, 24-bit values shifted to the top of an int32 for Round24 (as the library takes
// 32-bit integers), floats for Float.
void ConvertSamples(const SampleConversion& conversion, const float* left, const float* right,
                    int64_t frame, int count, int16_t* out16, int32_t* out32,
                    float* outFloat) noexcept;

// Any thread; pure. The TPDF dither value, in output steps (-1..1), of one sample.
float DitherNoise(uint64_t seed, int64_t frame, int channel) noexcept;

// Any thread; pure. The bits a sample format stores (8, 16, 24, 32, 64; 0 for Lossy).
int BitsOf(SampleFormat format);

} // namespace varnel
