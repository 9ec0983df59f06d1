#pragma once

#include "audio/Twave.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace varnel {

// A 44.1 kHz mix of three partials panned apart, so the visual map has something to build.
// Shared by the window benchmarks. False when the file cannot be written.
inline bool WriteBenchMix(const std::string& path, int seconds)
{
    constexpr int kRate = 44100;
    TWaveData out;
    out.Format = WaveFormat::PcmStereo16(kRate);
    if (out.OpenWrite(path) != 0)
        return false;
    std::vector<int16_t> block(2 * kRate);
    for (int s = 0; s < seconds; ++s) {
        for (int i = 0; i < kRate; ++i) {
            const double t = static_cast<double>(s * kRate + i) / kRate;
            const double centre = 6000 * std::sin(2 * M_PI * 220 * t);
            const double left = 5000 * std::sin(2 * M_PI * 587 * t);
            const double right = 5000 * std::sin(2 * M_PI * 1319 * t);
            block[2 * static_cast<size_t>(i)] = static_cast<int16_t>(centre + left + 0.2 * right);
            block[2 * static_cast<size_t>(i) + 1] =
                static_cast<int16_t>(centre + 0.2 * left + right);
        }
        if (out.Write(block.data(), static_cast<int>(block.size() * 2)) !=
            static_cast<int>(block.size() * 2))
            return false;
    }
    return out.Close() == 0;
}

} // namespace varnel
