#include "audio/SoundFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace varnel {
namespace {

struct Converted
{
    std::vector<int16_t> Words16;
    std::vector<int32_t> Words32;
    std::vector<float> Floats;
};

Converted Convert(const SampleConversion& c, const std::vector<float>& left,
                  const std::vector<float>& right, int64_t frame = 0)
{
    Converted out;
    const auto n = static_cast<int>(left.size());
    out.Words16.resize(2 * left.size());
    out.Words32.resize(2 * left.size());
    out.Floats.resize(2 * left.size());
    ConvertSamples(c, left.data(), right.data(), frame, n, out.Words16.data(), out.Words32.data(),
                   out.Floats.data());
    return out;
}

// Each row: one filtered value (16-bit units) and what each conversion makes of it, worked
// out by hand from the rules: toward zero for 16-bit input, half away from zero otherwise,
// x 256 for 24-bit, clipped to the integer range, floats kept unclipped.
TEST(SoundFormat, ConversionRoundsAndClipsByTheRules)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct
    {
        float Value;
        int16_t Truncated16, Rounded16;
        int32_t Rounded24; // the 24-bit value, before its shift to the top of 32 bits
    } rows[] = {
        {0.0f, 0, 0, 0},
        {2.5f, 2, 3, 640},
        {-2.5f, -2, -3, -640},
        {-1.7f, -1, -2, -435},    // -435.2
        {1.0f / 512.0f, 0, 0, 1}, // half a 24-bit step: away from zero
        {-1.0f / 512.0f, 0, 0, -1},
        {32767.25f, 32767, 32767, 8388416}, // 32767.25 x 256
        {40000.7f, 32767, 32767, 8388607},  // clipped
        {-40000.0f, -32768, -32768, -8388608},
        {nan, 0, 0, 0},
    };
    SampleConversion truncate{Rounding::Truncate16, false, 0};
    SampleConversion round16{Rounding::Round16, false, 0};
    SampleConversion round24{Rounding::Round24, false, 0};
    SampleConversion toFloat{Rounding::Float, false, 0};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Value);
        const std::vector<float> left{row.Value};
        const std::vector<float> right{0.0f};
        if (!std::isnan(row.Value)) { // the 16-bit path never meets a NaN: its input is integers
            EXPECT_EQ(Convert(truncate, left, right).Words16[0], row.Truncated16);
        }
        EXPECT_EQ(Convert(round16, left, right).Words16[0], row.Rounded16);
        EXPECT_EQ(Convert(round24, left, right).Words32[0], row.Rounded24 * 256);
        EXPECT_EQ(Convert(round16, left, right).Words16[1], 0); // the right channel's own
        if (!std::isnan(row.Value)) { // floats are scaled only, never clipped (40000.7 stays so)
            EXPECT_FLOAT_EQ(Convert(toFloat, left, right).Floats[0], row.Value / 32768.0f);
        }
    }
}

// TPDF dither of one step: the sum of two uniform variables, so its values lie within one step
// either way with variance 1/6, and rounding with it leaves no bias (a constant a quarter step
// above zero averages a quarter step, where plain rounding gives 0). The noise depends on the
// frame and channel only, so a block converted in pieces equals the block converted at once.
TEST(SoundFormat, DitherIsTriangularUnbiasedAndFollowsThePosition)
{
    constexpr int kFrames = 200000;
    double sum = 0.0;
    double squares = 0.0;
    for (int64_t f = 0; f < kFrames; ++f) {
        const float d = DitherNoise(7, f, static_cast<int>(f % 2));
        ASSERT_GT(d, -1.0f);
        ASSERT_LT(d, 1.0f);
        sum += d;
        squares += static_cast<double>(d) * d;
    }
    // 200000 draws: the mean's standard error is about 0.001, the variance's about 0.0005.
    EXPECT_NEAR(sum / kFrames, 0.0, 0.005);
    EXPECT_NEAR(squares / kFrames, 1.0 / 6.0, 0.003);

    const std::vector<float> quarter(kFrames, 0.25f);
    const SampleConversion dithered{Rounding::Round16, true, 7};
    const Converted out = Convert(dithered, quarter, quarter);
    double mean = 0.0;
    for (int16_t v : out.Words16)
        mean += v;
    mean /= static_cast<double>(out.Words16.size());
    // Rounding with dither takes a quarter step up a quarter of the time: mean 0.25, standard
    // error about 0.001 over 400000 samples.
    EXPECT_NEAR(mean, 0.25, 0.005);
    EXPECT_EQ(Convert({Rounding::Round16, false, 7}, quarter, quarter).Words16[0], 0);

    const std::vector<float> first(quarter.begin(), quarter.begin() + 1000);
    const std::vector<float> second(quarter.begin() + 1000, quarter.begin() + 3000);
    const Converted a = Convert(dithered, first, first, 5000);
    const Converted b = Convert(dithered, second, second, 6000);
    const std::vector<float> whole(quarter.begin(), quarter.begin() + 3000);
    const Converted all = Convert(dithered, whole, whole, 5000);
    EXPECT_TRUE(std::equal(a.Words16.begin(), a.Words16.end(), all.Words16.begin()));
    EXPECT_TRUE(std::equal(b.Words16.begin(), b.Words16.end(), all.Words16.begin() + 2000));
    // Another seed, other noise.
    EXPECT_NE(Convert({Rounding::Round16, true, 8}, whole, whole, 5000).Words16, all.Words16);
}

// The output's sample format: the input's own where the container holds it, 16-bit from a
// lossy input, --bits where given; and what each container refuses.
TEST(SoundFormat, OutputSampleFormatFollowsTheInputAndTheContainer)
{
    using C = Container;
    using S = SampleFormat;
    using B = BitsRequest;
    using R = OutputRefusal;
    const struct
    {
        C Output;
        S Input;
        B Bits;
        int Rate;
        S Expected;
        R Refusal;
    } rows[] = {
        {C::Flac, S::Pcm24, B::Default, 44100, S::Pcm24, R::None},
        {C::Wav, S::Float32, B::Default, 44100, S::Float32, R::None},
        {C::Flac, S::Float32, B::Default, 44100, S::Pcm24, R::None}, // FLAC holds no float
        {C::Wav, S::Lossy, B::Default, 44100, S::Pcm16, R::None},
        {C::Aiff, S::Pcm16, B::Default, 48000, S::Pcm16, R::None},
        {C::Wav, S::Pcm8, B::Default, 8000, S::Pcm16, R::None},
        {C::Wav, S::Pcm32, B::Default, 96000, S::Float32, R::None},
        {C::Flac, S::Float64, B::Default, 96000, S::Pcm24, R::None},
        {C::Wav, S::Float32, B::Pcm16, 44100, S::Pcm16, R::None},
        {C::Aiff, S::Pcm16, B::Float32, 44100, S::Float32, R::None},
        {C::Flac, S::Pcm16, B::Float32, 44100, S::Pcm16, R::FloatNotForFlac},
        {C::Mp3, S::Pcm24, B::Default, 44100, S::Lossy, R::None},
        {C::Mp3, S::Pcm24, B::Pcm24, 44100, S::Pcm16, R::BitsNotForLossy},
        {C::Mp3, S::Pcm16, B::Default, 96000, S::Pcm16, R::RateNotForMp3},
        {C::OggOpus, S::Pcm16, B::Default, 48000, S::Lossy, R::None},
        {C::OggOpus, S::Pcm16, B::Default, 44100, S::Pcm16, R::RateNotForOpus},
        {C::OggVorbis, S::Pcm16, B::Default, 96000, S::Lossy, R::None},
        {C::OggVorbis, S::Pcm16, B::Default, 384000, S::Pcm16, R::RateNotForVorbis},
    };
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(index++);
        OutputRefusal refusal = OutputRefusal::None;
        EXPECT_EQ(ChooseOutputSample(row.Output, row.Input, row.Bits, row.Rate, refusal),
                  row.Expected);
        EXPECT_EQ(refusal, row.Refusal);
    }

    // Dither where the output has fewer bits than the input; 16-bit to 16-bit keeps the
    // 16-bit path's truncation, never dithered.
    const struct
    {
        S In, Out;
        bool DitherAsked;
        Rounding Kind;
        bool Dither;
    } conversions[] = {
        {S::Pcm16, S::Pcm16, true, Rounding::Truncate16, false},
        {S::Pcm8, S::Pcm16, true, Rounding::Truncate16, false},
        {S::Pcm24, S::Pcm16, true, Rounding::Round16, true},
        {S::Float32, S::Pcm16, true, Rounding::Round16, true},
        {S::Lossy, S::Pcm16, true, Rounding::Round16, true},
        {S::Float32, S::Pcm16, false, Rounding::Round16, false},
        {S::Pcm16, S::Pcm24, true, Rounding::Round24, false},
        {S::Pcm24, S::Pcm24, true, Rounding::Round24, false},
        {S::Float64, S::Pcm24, true, Rounding::Round24, true},
        {S::Pcm24, S::Float32, true, Rounding::Float, false},
        {S::Pcm16, S::Lossy, true, Rounding::Float, false},
    };
    for (const auto& c : conversions) {
        const SampleConversion conversion = ConversionFor(c.In, c.Out, c.DitherAsked);
        EXPECT_EQ(conversion.Kind, c.Kind) << BitsOf(c.In) << " to " << BitsOf(c.Out);
        EXPECT_EQ(conversion.Dither, c.Dither) << BitsOf(c.In) << " to " << BitsOf(c.Out);
    }

    Container container = Container::Wav;
    for (const char* name : {"a.WAV", "b.Flac", "c.aif", "d.AIFF", "e.ogg", "f.opus", "g.mp3", "h"})
        EXPECT_TRUE(ContainerForName(name, container)) << name;
    for (const char* name : {"a.xyz", "b.m4a", "c.wav.gz", "d."})
        EXPECT_FALSE(ContainerForName(name, container)) << name;
}

} // namespace
} // namespace varnel
