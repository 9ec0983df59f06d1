#include "dsp/Cfft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace varnel {
namespace {

using Complexd = std::complex<double>;

// Slow O(N^2) transform in double precision with exact twiddles (angles reduced mod N).
// Bins not on the stride are left 0 (and skipped by RelativeError) to keep the largest sizes
// quick.
std::vector<Complexd> SlowDft(const std::vector<float>& data, bool forward, std::size_t stride = 1)
{
    const std::size_t n = data.size() / 2;
    const double sign = forward ? -1.0 : 1.0;
    std::vector<Complexd> twiddle(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double angle = sign * 2.0 * M_PI * static_cast<double>(k) / static_cast<double>(n);
        twiddle[k] = Complexd(std::cos(angle), std::sin(angle));
    }
    std::vector<Complexd> out(n);
    for (std::size_t k = 0; k < n; k += stride) {
        Complexd sum = 0.0;
        for (std::size_t j = 0; j < n; ++j)
            sum += Complexd(data[2 * j], data[2 * j + 1]) * twiddle[(j * k) % n];
        out[k] = forward ? sum : sum / static_cast<double>(n);
    }
    return out;
}

std::vector<float> RandomData(int size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> data(2 * static_cast<std::size_t>(size));
    for (float& v : data)
        v = dist(rng);
    return data;
}

// Largest error of any bin relative to the largest bin of the exact result.
double RelativeError(const std::vector<float>& got, const std::vector<Complexd>& want,
                     std::size_t stride = 1)
{
    double maxBin = 0.0, maxErr = 0.0;
    for (std::size_t k = 0; k < want.size(); k += stride) {
        maxBin = std::max(maxBin, std::abs(want[k]));
        maxErr = std::max(maxErr, std::abs(Complexd(got[2 * k], got[2 * k + 1]) - want[k]));
    }
    return maxErr / maxBin;
}

// Guard values past the end of the data array catch a transform that writes too far.
constexpr float kGuard = 12345.678f;
constexpr int kGuards = 16;

std::vector<float> WithGuards(const std::vector<float>& data)
{
    std::vector<float> buffer(data);
    buffer.insert(buffer.end(), kGuards, kGuard);
    return buffer;
}

void ExpectGuardsIntact(const std::vector<float>& buffer, std::size_t dataSize)
{
    for (std::size_t i = dataSize; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], kGuard) << "overrun at float " << i;
}

class CfftSizes : public ::testing::TestWithParam<int>
{};

TEST_P(CfftSizes, MatchesSlowTransformBothDirections)
{
    const int size = GetParam();
    for (bool forward : {true, false}) {
        CFFT fft;
        ASSERT_TRUE(fft.Setup(size, forward));
        const std::vector<float> input = RandomData(size, 1234u + static_cast<unsigned>(size));
        std::vector<float> buffer = WithGuards(input);
        fft.Transform(buffer.data());
        ExpectGuardsIntact(buffer, input.size());
        const std::size_t stride = size > 8192 ? 7 : 1;
        const double err = RelativeError(buffer, SlowDft(input, forward, stride), stride);
        // Float rounding of ~log4(N) passes: about 2e-7 at every size from 64 to 32768 (seen),
        // so 1e-6 leaves headroom yet catches a wrong twiddle or a lost conjugation.
        const double bound = 1e-6;
        EXPECT_LT(err, bound) << "size " << size << (forward ? " forward" : " inverse");
        char text[32];
        std::snprintf(text, sizeof text, "%.3g", err);
        RecordProperty("size" + std::to_string(size) + (forward ? "fwd" : "inv"), text);
    }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, CfftSizes,
                         ::testing::Values(2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096,
                                           8192, 16384, 32768));

TEST(Cfft, KnownSignals)
{
    const int n = 64;
    CFFT forward;
    ASSERT_TRUE(forward.Setup(n, true));
    // Exact answers: these inputs need no rounding beyond the twiddles' own.
    const float tol = 1e-5f; // twiddles are floats; sums of 64 terms of size 1

    std::vector<float> impulse(2 * n, 0.0f);
    impulse[0] = 1.0f;
    forward.Transform(impulse.data());
    for (int k = 0; k < n; ++k) {
        EXPECT_EQ(impulse[2 * k], 1.0f) << k;
        EXPECT_EQ(impulse[2 * k + 1], 0.0f) << k;
    }

    std::vector<float> dc(2 * n, 0.0f);
    for (int j = 0; j < n; ++j)
        dc[2 * j] = 1.0f;
    forward.Transform(dc.data());
    EXPECT_NEAR(dc[0], static_cast<float>(n), tol);
    for (int k = 1; k < n; ++k)
        EXPECT_NEAR(std::hypot(dc[2 * k], dc[2 * k + 1]), 0.0f, tol) << k;

    // e^(+2 pi i j/N) lands in bin 1 only with the negative exponent of a forward transform.
    std::vector<float> tone(2 * n);
    for (int j = 0; j < n; ++j) {
        tone[2 * j] = static_cast<float>(std::cos(2.0 * M_PI * j / n));
        tone[2 * j + 1] = static_cast<float>(std::sin(2.0 * M_PI * j / n));
    }
    forward.Transform(tone.data());
    EXPECT_NEAR(tone[2], static_cast<float>(n), 1e-4f); // 64 terms of ~1e-7 error each
    EXPECT_NEAR(tone[3], 0.0f, 1e-4f);
    for (int k = 0; k < n; ++k) {
        if (k != 1) {
            EXPECT_NEAR(std::hypot(tone[2 * k], tone[2 * k + 1]), 0.0f, 1e-4f) << k;
        }
    }

    std::vector<float> nyquist(2 * n, 0.0f);
    for (int j = 0; j < n; ++j)
        nyquist[2 * j] = (j % 2) ? -1.0f : 1.0f;
    forward.Transform(nyquist.data());
    EXPECT_NEAR(nyquist[n], static_cast<float>(n), tol);
    for (int k = 0; k < n; ++k) {
        if (k != n / 2) {
            EXPECT_NEAR(std::hypot(nyquist[2 * k], nyquist[2 * k + 1]), 0.0f, tol) << k;
        }
    }
}

TEST(Cfft, RoundTripReturnsInputWithoutFactorN)
{
    for (int n : {16, 256, 8192}) {
        CFFT forward, inverse;
        ASSERT_TRUE(forward.Setup(n, true));
        ASSERT_TRUE(inverse.Setup(n, false));
        const std::vector<float> input = RandomData(n, 99u);
        std::vector<float> data = input;
        forward.Transform(data.data());
        inverse.Transform(data.data());
        double maxErr = 0.0;
        for (std::size_t i = 0; i < input.size(); ++i)
            maxErr = std::max(maxErr, static_cast<double>(std::fabs(data[i] - input[i])));
        EXPECT_LT(maxErr, 1e-5) << n; // values of size 1; two transforms' float rounding
    }
}

TEST(Cfft, SetupAgainChangesSize)
{
    CFFT fft;
    ASSERT_TRUE(fft.Setup(4096, false));
    ASSERT_TRUE(fft.Setup(32, true));
    EXPECT_EQ(fft.Size(), 32);
    EXPECT_TRUE(fft.IsForward());
    const std::vector<float> input = RandomData(32, 7u);
    std::vector<float> buffer = WithGuards(input);
    fft.Transform(buffer.data());
    ExpectGuardsIntact(buffer, input.size());
    EXPECT_LT(RelativeError(buffer, SlowDft(input, true)), 1e-5); // as for random data above
}

// Each vector path must give the plain path's floats bit for bit, signed zeros included, so
// that a filter's decisions do not depend on the processor it runs on; with exact rounding off
// the two vector paths must still agree with each other.
TEST(Cfft, VectorPathsAreBitIdenticalToPlainPath)
{
    if (WidestCodePath() == CodePath::Plain)
        GTEST_SKIP() << "no AVX2 on this processor";
    if (WidestCodePath() != CodePath::Avx512)
        std::printf("  no AVX-512 on this processor: only the AVX2 path is compared\n");
    for (int size = 16; size <= 32768; size *= 2) {
        for (bool forward : {true, false}) {
            for (bool sparse : {false, true}) {
                std::vector<float> input = RandomData(size, 5u);
                // Exact zeros and negative zeros exercise the sign rules of every pass; the sparse
                // input (mostly signed zeros, a few values of either sign) makes whole blocks and
                // lanes of the joined passes zero, where only the operand order decides the sign.
                for (std::size_t i = 0; i < input.size(); ++i)
                    if (sparse ? (i % 37 != 0) : (i % 5 == 0))
                        input[i] = (i % 2) ? -0.0f : 0.0f;
                for (bool exact : {true, false}) {
                    std::vector<std::vector<float>> results;
                    for (CodePath path : {CodePath::Plain, CodePath::Avx2, CodePath::Avx512}) {
                        if (ChooseCodePath(path) != path || (!exact && path == CodePath::Plain))
                            continue;
                        CFFT fft;
                        ASSERT_TRUE(fft.Setup(size, forward));
                        fft.SetCodePath(path);
                        fft.SetExactRounding(exact);
                        EXPECT_EQ(fft.ActiveCodePath(), size >= 32 ? path : CodePath::Plain);
                        results.push_back(WithGuards(input));
                        fft.Transform(results.back().data());
                        ExpectGuardsIntact(results.back(), input.size());
                        if (path == CodePath::Plain)
                            continue;
                        // Data one float off the allocation's alignment, transformed a second
                        // time by the same object, gives the same bits.
                        std::vector<float> shifted = WithGuards(input);
                        shifted.insert(shifted.begin(), kGuard);
                        fft.Transform(shifted.data() + 1);
                        EXPECT_EQ(shifted[0], kGuard);
                        EXPECT_EQ(0, std::memcmp(shifted.data() + 1, results.back().data(),
                                                 input.size() * sizeof(float)))
                            << "size " << size << " shifted";
                    }
                    for (std::size_t r = 1; r < results.size(); ++r)
                        ASSERT_EQ(0, std::memcmp(results[0].data(), results[r].data(),
                                                 input.size() * sizeof(float)))
                            << "size " << size << (forward ? " forward" : " inverse")
                            << (exact ? " exact" : " fused") << (sparse ? " sparse" : "")
                            << " path " << r;
                }
            }
        }
    }
}

TEST(Cfft, FloatRoundingStaysAccurate)
{
    for (int size : {32, 512, 4096, 8192}) {
        for (bool forward : {true, false}) {
            CFFT fft;
            ASSERT_TRUE(fft.Setup(size, forward));
            fft.SetExactRounding(false);
            const std::vector<float> input = RandomData(size, 11u);
            std::vector<float> buffer = WithGuards(input);
            fft.Transform(buffer.data());
            ExpectGuardsIntact(buffer, input.size());
            // Fused float products round about as often as the exact path: same bound.
            EXPECT_LT(RelativeError(buffer, SlowDft(input, forward)), 1e-5) << size;
        }
    }
}

TEST(Cfft, RefusesSizesThatAreNotPowersOfTwo)
{
    for (int size : {0, 1, 3, 6, 12, 1000, -8}) {
        CFFT fft;
        EXPECT_FALSE(fft.Setup(size, true)) << size;
        EXPECT_EQ(fft.Size(), 0) << size;
    }
}

} // namespace
} // namespace varnel
