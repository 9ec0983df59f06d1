// varnel-demomix OUTDIR [--seconds S] [--rate R]
//
// Writes a small stereo mix whose parts sit in known places of the stereo image, and each part
// on its own, so what a separation should give back is known exactly:
//
//   voice.wav  a sung voice in the centre (the same in both channels)
//   left.wav   a plucked instrument, mostly in the left channel
//   right.wav  an organ, mostly in the right channel
//   wide.wav   a pad whose right channel is phase-shifted against its left (wide, "deep")
//   mix.wav    the sum of the four, scaled so nothing clips; the parts are scaled alike
//
// Everything is computed from fixed seeds: the same arguments give the same files.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;

// A small deterministic generator (xorshift64*), so every platform makes the same mix.
class Random
{
public:
    explicit Random(uint64_t seed) : mState(seed ? seed : 1) {}
    double Uniform() // [0, 1)
    {
        mState ^= mState >> 12;
        mState ^= mState << 25;
        mState ^= mState >> 27;
        return static_cast<double>((mState * 0x2545F4914F6CDD1DULL) >> 11) * 0x1.0p-53;
    }
    double Between(double low, double high) { return low + (high - low) * Uniform(); }

private:
    uint64_t mState;
};

struct Stereo
{
    std::vector<double> L, R;
    explicit Stereo(size_t frames) : L(frames, 0.0), R(frames, 0.0) {}
};

// A smooth 0..1..0 envelope over a note of length `length` with the given attack and release.
double NoteEnvelope(double t, double length, double attack, double release)
{
    if (t < 0.0 || t >= length)
        return 0.0;
    double e = 1.0;
    if (t < attack)
        e = 0.5 - 0.5 * std::cos(kPi * t / attack);
    const double toEnd = length - t;
    if (toEnd < release)
        e *= 0.5 - 0.5 * std::cos(kPi * toEnd / release);
    return e;
}

double MidiToHz(double note)
{
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

// Vowel formants (Hz) and bandwidths, roughly those of an adult voice.
struct Vowel
{
    double F[3];
    double B[3];
    double A[3];
};
const Vowel kVowels[] = {
    {{800, 1200, 2500}, {90, 110, 160}, {1.0, 0.6, 0.25}}, // a
    {{420, 2000, 2650}, {70, 120, 170}, {1.0, 0.45, 0.3}}, // e
    {{300, 2300, 3000}, {60, 130, 180}, {1.0, 0.35, 0.3}}, // i
    {{520, 900, 2450}, {80, 100, 160}, {1.0, 0.7, 0.2}},   // o
    {{350, 780, 2300}, {60, 90, 150}, {1.0, 0.5, 0.15}},   // u
};

double FormantGain(const Vowel& v, double hz)
{
    double g = 0.02; // a little energy between the formants, as a real voice has
    for (int i = 0; i < 3; ++i) {
        const double x = (hz - v.F[i]) / v.B[i];
        g += v.A[i] / (1.0 + x * x);
    }
    return g;
}

// The voice: a band-limited glottal source (harmonics falling with frequency) with vibrato,
// shaped by vowel formants, sung in syllables with phrase pauses. The same in both channels.
std::vector<double> MakeVoice(size_t frames, int rate)
{
    std::vector<double> out(frames, 0.0);
    Random rng(0x5eed0001);
    const double nyquistLimit = std::min(0.45 * rate, 7000.0);
    const int scale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    const double seconds = static_cast<double>(frames) / rate;

    double t = 0.3;
    int syllable = 0;
    while (t < seconds) {
        const double length = rng.Between(0.28, 0.62);
        const double note = 55.0 + scale[static_cast<int>(rng.Uniform() * 8)]; // G3..G4
        const double f0 = MidiToHz(note);
        const Vowel& vowel = kVowels[static_cast<int>(rng.Uniform() * 5)];
        const double vibratoRate = rng.Between(5.0, 6.0);
        const double vibratoDepth = rng.Between(0.008, 0.015);
        const double level = rng.Between(0.75, 1.0);

        const size_t first = static_cast<size_t>(t * rate);
        const size_t count = static_cast<size_t>(length * rate);
        double phase = 0.0;
        std::vector<double> gains;
        for (size_t n = 0; n < count && first + n < frames; ++n) {
            const double tn = static_cast<double>(n) / rate;
            // Vibrato grows in after the onset, as singers do.
            const double vibrato =
                vibratoDepth * std::min(1.0, tn / 0.15) * std::sin(kTwoPi * vibratoRate * tn);
            const double f = f0 * (1.0 + vibrato);
            phase += kTwoPi * f / rate;
            if (phase > kTwoPi)
                phase -= kTwoPi;
            const int harmonics = static_cast<int>(nyquistLimit / f);
            if (n % 32 == 0) {
                gains.assign(static_cast<size_t>(harmonics) + 1, 0.0);
                for (int k = 1; k <= harmonics; ++k)
                    gains[static_cast<size_t>(k)] = FormantGain(vowel, k * f) / std::pow(k, 0.8);
            }
            double s = 0.0;
            const int usable = std::min(harmonics, static_cast<int>(gains.size()) - 1);
            for (int k = 1; k <= usable; ++k)
                s += gains[static_cast<size_t>(k)] * std::sin(k * phase);
            out[first + n] += level * NoteEnvelope(tn, length, 0.04, 0.09) * s;
        }
        t += length + rng.Between(0.04, 0.12);
        if (++syllable % 5 == 0)
            t += rng.Between(0.35, 0.6); // breath between phrases
    }
    return out;
}

// A plucked string: decaying harmonics, the higher ones dying faster, slightly stretched.
std::vector<double> MakePluck(size_t frames, int rate)
{
    std::vector<double> out(frames, 0.0);
    Random rng(0x5eed0002);
    const double seconds = static_cast<double>(frames) / rate;
    const int pattern[] = {64, 71, 76, 79, 76, 71, 67, 74};
    double t = 0.1;
    int step = 0;
    while (t < seconds) {
        const double f0 = MidiToHz(pattern[step % 8] + (step / 16 % 2 ? 2 : 0)); // E4..G5
        const double length = 1.2;
        const size_t first = static_cast<size_t>(t * rate);
        const size_t count = static_cast<size_t>(length * rate);
        const double level = rng.Between(0.7, 1.0);
        for (int k = 1; k <= 14; ++k) {
            const double f = k * f0 * std::sqrt(1.0 + 0.0004 * k * k);
            if (f > 0.45 * rate)
                break;
            const double amp = level / k;
            const double decay = 3.0 + 1.8 * k;
            const double phase0 = rng.Between(0.0, kTwoPi);
            for (size_t n = 0; n < count && first + n < frames; ++n) {
                const double tn = static_cast<double>(n) / rate;
                const double onset = std::min(1.0, tn / 0.003);
                out[first + n] +=
                    amp * onset * std::exp(-decay * tn) * std::sin(kTwoPi * f * tn + phase0);
            }
        }
        t += step % 4 == 3 ? 0.5 : 0.25;
        ++step;
    }
    return out;
}

// An organ in the low register: sustained chords of drawbar partials with a slow tremolo.
std::vector<double> MakeOrgan(size_t frames, int rate)
{
    std::vector<double> out(frames, 0.0);
    const double seconds = static_cast<double>(frames) / rate;
    const int chords[][3] = {{36, 43, 48}, {41, 48, 53}, {43, 50, 55}, {38, 45, 50}};
    const struct
    {
        double Ratio, Amp;
    } drawbars[] = {{1, 1.0}, {2, 0.7}, {3, 0.45}, {4, 0.3}, {6, 0.15}, {8, 0.1}};
    const double chordLength = 2.0;
    for (int c = 0; c * chordLength < seconds; ++c) {
        const size_t first = static_cast<size_t>(c * chordLength * rate);
        const size_t count = static_cast<size_t>(chordLength * rate);
        for (int note : chords[c % 4]) {
            const double f0 = MidiToHz(note); // C2..G3
            for (const auto& bar : drawbars) {
                const double f = f0 * bar.Ratio;
                if (f > 0.45 * rate)
                    continue;
                for (size_t n = 0; n < count && first + n < frames; ++n) {
                    const double tn = static_cast<double>(n) / rate;
                    const double tremolo =
                        1.0 + 0.15 * std::sin(kTwoPi * 5.8 * (tn + c * chordLength));
                    out[first + n] += 0.33 * bar.Amp * tremolo *
                                      NoteEnvelope(tn, chordLength, 0.02, 0.05) *
                                      std::sin(kTwoPi * f * tn);
                }
            }
        }
    }
    return out;
}

// A wide pad: detuned partials of a chord in the upper middle register; every partial's right
// channel is the left one shifted by 0.55..0.85 pi, so the pad has no single pan position but
// a clear phase difference (depth) between the channels.
Stereo MakePad(size_t frames, int rate)
{
    Stereo out(frames);
    Random rng(0x5eed0004);
    const double seconds = static_cast<double>(frames) / rate;
    const int chords[][3] = {{72, 76, 79}, {72, 77, 81}, {74, 79, 83}, {71, 74, 79}};
    const double chordLength = 4.0;
    for (int c = 0; c * chordLength < seconds; ++c) {
        const size_t first = static_cast<size_t>(c * chordLength * rate);
        const size_t count = static_cast<size_t>(chordLength * rate);
        for (int note : chords[c % 4]) {
            const double f0 = MidiToHz(note); // C5..B5
            for (double detune : {-0.003, 0.003}) {
                for (int k = 1; k <= 6; ++k) {
                    const double f = k * f0 * (1.0 + detune);
                    if (f > 0.45 * rate)
                        break;
                    const double amp = 0.0375 / (k * k);
                    const double phase0 = rng.Between(0.0, kTwoPi);
                    const double shift = kPi * rng.Between(0.55, 0.85);
                    for (size_t n = 0; n < count && first + n < frames; ++n) {
                        const double tn = static_cast<double>(n) / rate;
                        const double e = amp * NoteEnvelope(tn, chordLength, 0.6, 0.8);
                        const double p = kTwoPi * f * tn + phase0;
                        out.L[first + n] += e * std::sin(p);
                        out.R[first + n] += e * std::sin(p + shift);
                    }
                }
            }
        }
    }
    return out;
}

void PutU16(std::FILE* f, uint32_t v)
{
    const unsigned char b[2] = {static_cast<unsigned char>(v & 0xFF),
                                static_cast<unsigned char>((v >> 8) & 0xFF)};
    std::fwrite(b, 1, 2, f);
}

void PutU32(std::FILE* f, uint32_t v)
{
    PutU16(f, v & 0xFFFF);
    PutU16(f, v >> 16);
}

int16_t ToSample(double v)
{
    const double s = std::round(v * 32767.0);
    return static_cast<int16_t>(std::clamp(s, -32768.0, 32767.0));
}

bool WriteWav(const std::string& path, const Stereo& sound, int rate, double gain)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const size_t frames = sound.L.size();
    const uint32_t dataBytes = static_cast<uint32_t>(frames * 4);
    std::fwrite("RIFF", 1, 4, f);
    PutU32(f, 36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    PutU32(f, 16);
    PutU16(f, 1);
    PutU16(f, 2);
    PutU32(f, static_cast<uint32_t>(rate));
    PutU32(f, static_cast<uint32_t>(rate) * 4);
    PutU16(f, 4);
    PutU16(f, 16);
    std::fwrite("data", 1, 4, f);
    PutU32(f, dataBytes);
    for (size_t n = 0; n < frames; ++n) {
        PutU16(f, static_cast<uint16_t>(ToSample(sound.L[n] * gain)));
        PutU16(f, static_cast<uint16_t>(ToSample(sound.R[n] * gain)));
    }
    const bool ok = std::ferror(f) == 0;
    return std::fclose(f) == 0 && ok;
}

int Usage(const char* problem)
{
    if (problem)
        std::fprintf(stderr, "varnel-demomix: %s\n", problem);
    std::fputs("usage: varnel-demomix OUTDIR [--seconds S] [--rate R]\n"
               "  writes mix.wav and its parts voice.wav, left.wav, right.wav, wide.wav\n"
               "  S: 1..600 seconds (default 20); R: 8000..192000 Hz (default 44100)\n",
               problem ? stderr : stdout);
    return problem ? 2 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::string outDir;
    double seconds = 20.0;
    int rate = 44100;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return Usage(nullptr);
        if ((arg == "--seconds" || arg == "--rate") && i + 1 < argc) {
            char* end = nullptr;
            const double v = std::strtod(argv[++i], &end);
            if (*end != '\0')
                return Usage("not a number");
            if (arg == "--seconds") {
                if (!(v >= 1.0 && v <= 600.0))
                    return Usage("--seconds takes 1..600");
                seconds = v;
            } else {
                if (!(v >= 8000.0 && v <= 192000.0) || v != std::floor(v))
                    return Usage("--rate takes a whole number of Hz, 8000..192000");
                rate = static_cast<int>(v);
            }
        } else if (arg[0] == '-' || !outDir.empty()) {
            return Usage(("unexpected argument " + arg).c_str());
        } else {
            outDir = arg;
        }
    }
    if (outDir.empty())
        return Usage("no output folder given");

    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    const size_t frames = static_cast<size_t>(seconds * rate);

    Stereo voice(frames), left(frames), right(frames);
    const std::vector<double> v = MakeVoice(frames, rate);
    const std::vector<double> pluck = MakePluck(frames, rate);
    const std::vector<double> organ = MakeOrgan(frames, rate);
    const Stereo wide = MakePad(frames, rate);
    // Levels relative to the voice; the side instruments leak a little into the other side.
    for (size_t n = 0; n < frames; ++n) {
        voice.L[n] = voice.R[n] = 0.5 * v[n];
        left.L[n] = 0.26 * pluck[n];
        left.R[n] = 0.034 * pluck[n];
        right.L[n] = 0.018 * organ[n];
        right.R[n] = 0.15 * organ[n];
    }

    Stereo mix(frames);
    double peak = 0.0;
    for (size_t n = 0; n < frames; ++n) {
        mix.L[n] = voice.L[n] + left.L[n] + right.L[n] + wide.L[n];
        mix.R[n] = voice.R[n] + left.R[n] + right.R[n] + wide.R[n];
        peak = std::max({peak, std::fabs(mix.L[n]), std::fabs(mix.R[n])});
    }
    // Peak at -1 dBFS: no clipping, and every part keeps its share of the mix.
    const double gain = peak > 0.0 ? 0.891 / peak : 1.0;

    const struct
    {
        const char* Name;
        const Stereo* Sound;
    } files[] = {{"mix.wav", &mix},
                 {"voice.wav", &voice},
                 {"left.wav", &left},
                 {"right.wav", &right},
                 {"wide.wav", &wide}};
    for (const auto& file : files) {
        const std::string path = (std::filesystem::path(outDir) / file.Name).string();
        if (!WriteWav(path, *file.Sound, rate, gain)) {
            std::fprintf(stderr, "varnel-demomix: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
