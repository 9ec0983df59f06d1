#include "audio/SoundFormat.h"

#include "platform/FileNames.h"

#include <algorithm>
#include <cmath>

namespace varnel {

namespace {

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool OneOf(int rate, std::initializer_list<int> rates)
{
    return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

// splitmix64: a counter-based generator, so a sample's noise needs no state that threads
// would have to share or replay.
uint64_t Mix(uint64_t x) noexcept
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Half away from zero of a value within the integer range (clipped first): truncation and a
// step where the fraction is a half or more, exact for doubles, and with no call into the
// maths library (plain x86-64 has no rounding instruction).
inline int32_t RoundHalfAway(double v) noexcept
{
    const auto t = static_cast<int32_t>(v);
    const double fraction = v - t;
    return t + (fraction >= 0.5) - (fraction <= -0.5);
}

// One channel's rounded and clipped samples, every other word of out.
template <typename Word, bool Dither>
void RoundChannel(const float* in, int64_t frame, int channel, int count, double scale, double low,
                  double high, uint64_t seed, int32_t shift, Word* out) noexcept
{
    for (int i = 0; i < count; ++i) {
        double v = static_cast<double>(in[i]) * scale;
        if (Dither)
            v += static_cast<double>(DitherNoise(seed, frame + i, channel));
        if (!(v > low)) // at or below the range, or not a number (which becomes 0)
            v = v <= low ? low : 0.0;
        else if (v > high)
            v = high;
        out[2 * i] = static_cast<Word>(RoundHalfAway(v) * shift);
    }
}

template <typename Word>
void RoundBoth(const SampleConversion& c, const float* left, const float* right, int64_t frame,
               int count, double scale, double low, double high, int32_t shift, Word* out) noexcept
{
    if (c.Dither) {
        RoundChannel<Word, true>(left, frame, 0, count, scale, low, high, c.DitherSeed, shift, out);
        RoundChannel<Word, true>(right, frame, 1, count, scale, low, high, c.DitherSeed, shift,
                                 out + 1);
    } else {
        RoundChannel<Word, false>(left, frame, 0, count, scale, low, high, 0, shift, out);
        RoundChannel<Word, false>(right, frame, 1, count, scale, low, high, 0, shift, out + 1);
    }
}

} // namespace

bool ContainerForName(const std::string& path, Container& container)
{
    const std::string extension = LowerAscii(BytesFromPath(PathFromBytes(path).extension()));
    struct Row
    {
        const char* Extension;
        Container Kind;
    };
    static const Row rows[] = {
        {"", Container::Wav},          {".wav", Container::Wav},   {".flac", Container::Flac},
        {".aif", Container::Aiff},     {".aiff", Container::Aiff}, {".ogg", Container::OggVorbis},
        {".opus", Container::OggOpus}, {".mp3", Container::Mp3},
    };
    for (const Row& row : rows) {
        if (extension == row.Extension) {
            container = row.Kind;
            return true;
        }
    }
    return false;
}

const char* ExtensionOf(Container container)
{
    switch (container) {
    case Container::Wav: return ".wav";
    case Container::Flac: return ".flac";
    case Container::Aiff: return ".aiff";
    case Container::OggVorbis: return ".ogg";
    case Container::OggOpus: return ".opus";
    case Container::Mp3: return ".mp3";
    case Container::Other: break;
    }
    return "";
}

bool IsLossy(Container container)
{
    return container == Container::OggVorbis || container == Container::OggOpus ||
           container == Container::Mp3;
}

SampleFormat ChooseOutputSample(Container output, SampleFormat input, BitsRequest bits,
                                int sampleRate, OutputRefusal& refusal)
{
    refusal = OutputRefusal::None;
    if (IsLossy(output)) {
        if (bits != BitsRequest::Default)
            refusal = OutputRefusal::BitsNotForLossy;
        else if (output == Container::OggOpus &&
                 !OneOf(sampleRate, {8000, 12000, 16000, 24000, 48000}))
            refusal = OutputRefusal::RateNotForOpus;
        else if (output == Container::Mp3 &&
                 !OneOf(sampleRate, {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}))
            refusal = OutputRefusal::RateNotForMp3;
        else if (output == Container::OggVorbis && sampleRate > 192000)
            refusal = OutputRefusal::RateNotForVorbis;
        return refusal == OutputRefusal::None ? SampleFormat::Lossy : SampleFormat::Pcm16;
    }
    const bool flac = output == Container::Flac;
    switch (bits) {
    case BitsRequest::Pcm16: return SampleFormat::Pcm16;
    case BitsRequest::Pcm24: return SampleFormat::Pcm24;
    case BitsRequest::Float32:
        if (flac) {
            refusal = OutputRefusal::FloatNotForFlac;
            return SampleFormat::Pcm16;
        }
        return SampleFormat::Float32;
    case BitsRequest::Default: break;
    }
    switch (input) {
    case SampleFormat::Pcm8:
    case SampleFormat::Pcm16:
    case SampleFormat::Lossy: return SampleFormat::Pcm16;
    case SampleFormat::Pcm24: return SampleFormat::Pcm24;
    case SampleFormat::Pcm32:
    case SampleFormat::Float32:
    case SampleFormat::Float64: return flac ? SampleFormat::Pcm24 : SampleFormat::Float32;
    }
    return SampleFormat::Pcm16;
}

int BitsOf(SampleFormat format)
{
    switch (format) {
    case SampleFormat::Pcm8: return 8;
    case SampleFormat::Pcm16: return 16;
    case SampleFormat::Pcm24: return 24;
    case SampleFormat::Pcm32:
    case SampleFormat::Float32: return 32;
    case SampleFormat::Float64: return 64;
    case SampleFormat::Lossy: return 0;
    }
    return 0;
}

SampleConversion ConversionFor(SampleFormat input, SampleFormat output, bool dither)
{
    SampleConversion c;
    const bool narrowInput = input == SampleFormat::Pcm8 || input == SampleFormat::Pcm16;
    switch (output) {
    case SampleFormat::Pcm8: // never written; treated as 16-bit
    case SampleFormat::Pcm16:
        c.Kind = narrowInput ? Rounding::Truncate16 : Rounding::Round16;
        c.Dither = dither && !narrowInput;
        break;
    case SampleFormat::Pcm24:
        c.Kind = Rounding::Round24;
        c.Dither = dither && !narrowInput && input != SampleFormat::Pcm24;
        break;
    case SampleFormat::Pcm32:
    case SampleFormat::Float32:
    case SampleFormat::Float64:
    case SampleFormat::Lossy: c.Kind = Rounding::Float; break;
    }
    return c;
}

float DitherNoise(uint64_t seed, int64_t frame, int channel) noexcept
{
    const uint64_t bits =
        Mix(seed ^ Mix(static_cast<uint64_t>(frame) * 2u + static_cast<uint64_t>(channel)));
    // Two uniform variables of one step each (24 bits apiece), summed: triangular on -1..1.
    constexpr float kUnit = 1.0f / 16777216.0f;
    const auto a = static_cast<float>(bits & 0xFFFFFFu) * kUnit;
    const auto b = static_cast<float>((bits >> 32) & 0xFFFFFFu) * kUnit;
    return a - b;
}

void ConvertSamples(const SampleConversion& c, const float* left, const float* right, int64_t frame,
                    int count, int16_t* out16, int32_t* out32, float* outFloat) noexcept
{
    switch (c.Kind) {
    case Rounding::Truncate16:
        for (int i = 0; i < count; ++i) {
            // As the 16-bit path: toward zero into 32 bits, then clipped.
            const auto l = static_cast<int64_t>(static_cast<double>(left[i]));
            const auto r = static_cast<int64_t>(static_cast<double>(right[i]));
            out16[2 * i] = static_cast<int16_t>(std::clamp<int64_t>(l, -32768, 32767));
            out16[2 * i + 1] = static_cast<int16_t>(std::clamp<int64_t>(r, -32768, 32767));
        }
        break;
    case Rounding::Round16:
        RoundBoth(c, left, right, frame, count, 1.0, -32768.0, 32767.0, 1, out16);
        break;
    case Rounding::Round24:
        // The library takes 24-bit samples at the top of 32-bit words.
        RoundBoth(c, left, right, frame, count, 256.0, -8388608.0, 8388607.0, 256, out32);
        break;
    case Rounding::Float:
        for (int i = 0; i < count; ++i) {
            outFloat[2 * i] = left[i] * (1.0f / 32768.0f);
            outFloat[2 * i + 1] = right[i] * (1.0f / 32768.0f);
        }
        break;
    }
}

} // namespace varnel
