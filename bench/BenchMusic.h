#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace varnel {

// Music-like stereo sound for the export benchmarks: chords over a bass line, a panned lead, a
// wide pad and noise hits, all from fixed seeds. Interleaved, in 16-bit units but not rounded
// (files of more than 16 bits keep the fraction).
inline std::vector<double> MusicLike(int frames, int rate)
{
    std::vector<double> s(static_cast<size_t>(frames) * 2);
    const double notes[] = {220.0, 246.94, 261.63, 293.66, 329.63, 349.23, 392.0, 440.0};
    uint32_t noise = 2463534242u;
    double hit = 0.0;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const int bar = i / (rate * 2);
        const double root = notes[bar % 8] / 2;
        const double lead = notes[(i / (rate / 4)) % 8] * 2;
        double centre = 0.0;
        for (int h = 1; h <= 4; ++h)
            centre += 2500.0 / h * std::sin(2 * M_PI * root * h * t);
        const double leadWave =
            3000.0 * std::sin(2 * M_PI * lead * t) * std::exp(-4.0 * std::fmod(t, 0.25));
        const double pad = 1500.0 * std::sin(2 * M_PI * root * 3 * t);
        if (i % (rate / 2) == 0)
            hit = 4000.0;
        hit *= 0.9995;
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        const double n = hit * ((static_cast<double>(noise & 0xFFFF) / 32768.0) - 1.0);
        s[2 * static_cast<size_t>(i)] = centre + 0.8 * leadWave + pad + n;
        s[2 * static_cast<size_t>(i) + 1] = centre + 0.3 * leadWave - pad + 0.7 * n;
    }
    return s;
}

// The same as 16-bit samples, truncated and clipped.
inline std::vector<int16_t> MusicLike16(int frames, int rate)
{
    const std::vector<double> music = MusicLike(frames, rate);
    std::vector<int16_t> s(music.size());
    for (size_t i = 0; i < music.size(); ++i)
        s[i] = static_cast<int16_t>(std::clamp(music[i], -32768.0, 32767.0));
    return s;
}

} // namespace varnel
