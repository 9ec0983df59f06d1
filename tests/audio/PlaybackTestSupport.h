#pragma once

// Helpers shared by the playback tests: a stereo test mix, the filter's output stream for a
// whole input, and byte/sample conversion.

#include "dsp/FilterParams.h"
#include "dsp/Vfunc.h"
#include "support/AreaSupport.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace varnel::test {

// A deterministic stereo mix whose parts sit at different places in the stereo image: a
// centred 220 Hz tone, a 1 kHz tone three times louder on the right, a 3 kHz tone on the left
// only, and a little independent noise on each side.
inline std::vector<int16_t> StereoMix(int frames, int sampleRate, uint32_t seed = 12345)
{
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    uint32_t state = seed;
    auto noise = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 16) % 1001) - 500;
    };
    const double twoPi = 6.283185307179586;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double centre = 6000.0 * std::sin(twoPi * 220.0 * t);
        const double right = 2500.0 * std::sin(twoPi * 1000.0 * t);
        const double left = 5000.0 * std::sin(twoPi * 3000.0 * t);
        samples[2 * static_cast<size_t>(i)] = static_cast<int16_t>(centre + right + left + noise());
        samples[2 * static_cast<size_t>(i) + 1] =
            static_cast<int16_t>(centre + 3.0 * right + noise());
    }
    return samples;
}

// The stream processor's output for the whole input fed in order from a fresh filter, one
// output frame per input frame (the output lags by the filter's latency).
inline std::vector<int16_t> FilteredStream(const std::vector<int16_t>& input, int sampleRate,
                                           int fftSize, int overlap, const FilterArea& area)
{
    TVocalFunc processor;
    if (processor.Init(2, sampleRate, 0.25) != 0 || processor.SetupFilter(fftSize, overlap) != 0)
        return {};
    processor.SetArea(area);
    std::vector<int16_t> output(input.size());
    const size_t blockSamples = static_cast<size_t>(processor.BlockFrames()) * 2;
    for (size_t done = 0; done < input.size(); done += blockSamples) {
        const size_t samples = std::min(blockSamples, input.size() - done);
        const int bytes = static_cast<int>(samples * 2);
        std::memcpy(processor.RawIn(), input.data() + done, samples * 2);
        processor.Deinterleave(bytes);
        processor.Process(0, bytes / 4);
        processor.Interleave(bytes);
        std::memcpy(output.data() + done, processor.RawOut(), samples * 2);
    }
    return output;
}

// A soft cut that takes over at an input frame.
struct SoftCutSwitch
{
    int64_t At;
    SoftCut Soft;
};

// The filtered stream of the whole input with the soft cut switched at the given input frames
// (in order), as the playing filter should give it when each switch reaches it between the
// pump that read up to that frame and the next.
inline std::vector<int16_t> SwitchedStream(const std::vector<int16_t>& input, int rate, int fftSize,
                                           int overlap, const FilterArea& area,
                                           const std::vector<SoftCutSwitch>& switches)
{
    TVocalFunc processor;
    if (processor.Init(2, rate, 0.25) != 0 || processor.SetupFilter(fftSize, overlap) != 0)
        return {};
    processor.SetArea(area);
    std::vector<int16_t> output(input.size());
    const auto frames = static_cast<int64_t>(input.size() / 2);
    size_t next = 0;
    for (int64_t done = 0; done < frames;) {
        while (next < switches.size() && switches[next].At == done)
            processor.SetSoftCut(switches[next++].Soft);
        int64_t end = std::min<int64_t>(done + processor.BlockFrames(), frames);
        if (next < switches.size())
            end = std::min(end, switches[next].At);
        const int bytes = static_cast<int>((end - done) * 4);
        std::memcpy(processor.RawIn(), input.data() + 2 * done, static_cast<size_t>(bytes));
        processor.Deinterleave(bytes);
        processor.Process(0, bytes / 4);
        processor.Interleave(bytes);
        std::memcpy(output.data() + 2 * done, processor.RawOut(), static_cast<size_t>(bytes));
        done = end;
    }
    return output;
}

// Little-endian bytes to samples (the host is little-endian like the files; checked by the
// round trip in the tests that use it).
inline std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes)
{
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    return samples;
}

// A narrow area that keeps part of the mix and clears the rest, so a test sees the filter work.
inline FilterArea NarrowArea()
{
    return AreaOf(0.5f, 4.0f, 100.0f, 2000.0f, 0.0f, kPi / 2);
}

} // namespace varnel::test
