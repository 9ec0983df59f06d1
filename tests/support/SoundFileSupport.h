#pragma once

// Sound files of every format for the tests, written and read with the sound file library
// itself (the program's reading and writing are what the tests check; the library is the
// independent party). Header-only: only the test programs that link the audio layer use it.

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace varnel::test {

// What a file holds, as the library reads it.
struct SoundFileContents
{
    bool Opened = false;
    int Format = 0; // the library's format word
    int Rate = 0;
    int Channels = 0;
    int64_t Frames = 0;
    std::string Title;
    std::string Artist;
    std::vector<double> Samples; // interleaved, in 16-bit units (a 16-bit sample's value)
};

// Writes interleaved samples given in 16-bit units as a file of the library's format:
// integer formats get the values scaled to their width (a 24-bit file holds x * 256), float
// formats x / 32768. True when the whole file was written.
inline bool WriteSoundFile(const std::string& path, int format, int rate, int channels,
                           const std::vector<double>& samples, const std::string& title = {},
                           const std::string& artist = {})
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    if (!title.empty())
        sf_set_string(file, SF_STR_TITLE, title.c_str());
    if (!artist.empty())
        sf_set_string(file, SF_STR_ARTIST, artist.c_str());
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    sf_count_t written = 0;
    const int sub = format & SF_FORMAT_SUBMASK;
    if (sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE ||
        (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG ||
        (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
        std::vector<double> scaled(samples.size());
        for (size_t i = 0; i < samples.size(); ++i)
            scaled[i] = samples[i] / 32768.0;
        written = sf_writef_double(file, scaled.data(), frames);
    } else {
        // 32-bit integers carry every width's exact values: a 16-bit x is x << 16.
        std::vector<int> words(samples.size());
        for (size_t i = 0; i < samples.size(); ++i)
            words[i] = static_cast<int>(std::lround(samples[i] * 65536.0));
        written = sf_writef_int(file, words.data(), frames);
    }
    return sf_close(file) == 0 && written == frames;
}

// Reads a whole file in 16-bit units (floats scaled by 32768, integers by their width).
inline SoundFileContents ReadSoundFile(const std::string& path)
{
    SoundFileContents c;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return c;
    c.Opened = true;
    c.Format = info.format;
    c.Rate = info.samplerate;
    c.Channels = info.channels;
    if (const char* t = sf_get_string(file, SF_STR_TITLE))
        c.Title = t;
    if (const char* a = sf_get_string(file, SF_STR_ARTIST))
        c.Artist = a;
    sf_command(file, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    std::vector<double> block(static_cast<size_t>(4096 * info.channels));
    for (sf_count_t got; (got = sf_readf_double(file, block.data(), 4096)) > 0;) {
        for (sf_count_t i = 0; i < got * info.channels; ++i)
            c.Samples.push_back(block[static_cast<size_t>(i)] * 32768.0);
        c.Frames += got;
    }
    sf_close(file);
    return c;
}

} // namespace varnel::test
