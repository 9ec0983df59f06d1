// bench_batch [--cli PATH] [--files N] [--seconds S] [--runs R]
//
// Times `varnel-cli export --out-dir` over a batch of generated files with --jobs 1 and
// --jobs 2 and prints the speed-up. On a machine with two free cores the batch with two jobs
// should take well under 1/1.7 of the time of one.

#include "platform/Assert.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef __linux__
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

void PutU16(std::FILE* f, uint32_t v)
{
    std::fputc(static_cast<int>(v & 0xFF), f);
    std::fputc(static_cast<int>((v >> 8) & 0xFF), f);
}

void PutU32(std::FILE* f, uint32_t v)
{
    PutU16(f, v & 0xFFFF);
    PutU16(f, v >> 16);
}

// A stereo file of a few tones at different places and some noise, so every bin has work.
bool WriteTestFile(const std::string& path, int seconds, int rate, uint32_t seed)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const uint32_t frames = static_cast<uint32_t>(seconds * rate);
    std::fwrite("RIFF", 1, 4, f);
    PutU32(f, 36 + frames * 4);
    std::fwrite("WAVEfmt ", 1, 8, f);
    PutU32(f, 16);
    PutU16(f, 1);
    PutU16(f, 2);
    PutU32(f, static_cast<uint32_t>(rate));
    PutU32(f, static_cast<uint32_t>(rate) * 4);
    PutU16(f, 4);
    PutU16(f, 16);
    std::fwrite("data", 1, 4, f);
    PutU32(f, frames * 4);
    uint32_t state = seed;
    for (uint32_t n = 0; n < frames; ++n) {
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 2000.0;
        const double t = static_cast<double>(n) / rate;
        const double a = 6000.0 * std::sin(6.283185307 * 220.0 * t);
        const double b = 4000.0 * std::sin(6.283185307 * 1375.0 * t);
        PutU16(f, static_cast<uint16_t>(static_cast<int16_t>(a + 0.3 * b + noise)));
        PutU16(f, static_cast<uint16_t>(static_cast<int16_t>(a + b - noise)));
    }
    return std::fclose(f) == 0;
}

std::string DefaultCli(const char* argv0)
{
    fs::path self = argv0;
#ifdef __linux__
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec)
        self = exe;
#endif
    return (self.parent_path().parent_path() / "src" / "cli" / "varnel-cli").string();
}

double TimeBatch(const std::string& cli, const std::vector<std::string>& inputs,
                 const std::string& outDir, int jobs)
{
    std::error_code ec;
    fs::remove_all(outDir, ec);
    std::string command =
        "'" + cli + "' export --quiet --out-dir '" + outDir + "' --jobs " + std::to_string(jobs);
    for (const std::string& in : inputs)
        command += " '" + in + "'";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) {
        std::fprintf(stderr, "bench_batch: '%s' failed\n", command.c_str());
        std::exit(1);
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    if (varnel::kAssertsOn)
        std::printf("note: precondition checks are on; release figures need "
                    "-DVARNEL_ASSERTS=OFF\n");
    std::string cli = DefaultCli(argv[0]);
    int files = 4;
    int seconds = 45;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--cli")
            cli = argv[i + 1];
        else if (arg == "--files")
            files = std::max(1, std::atoi(argv[i + 1]));
        else if (arg == "--seconds")
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (arg == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    if (!fs::exists(cli)) {
        std::fprintf(stderr, "bench_batch: no varnel-cli at %s (give --cli PATH)\n", cli.c_str());
        return 1;
    }

    const fs::path work = fs::temp_directory_path() / ("varnel-bench-batch-" + std::to_string(
#ifdef __linux__
                                                                                   getpid()
#else
                                                                                   0
#endif
                                                                                       ));
    fs::create_directories(work);
    std::vector<std::string> inputs;
    for (int k = 0; k < files; ++k) {
        const std::string path = (work / ("in" + std::to_string(k) + ".wav")).string();
        if (!WriteTestFile(path, seconds, 44100, 12345u + static_cast<uint32_t>(k))) {
            std::fprintf(stderr, "bench_batch: cannot write %s\n", path.c_str());
            return 1;
        }
        inputs.push_back(path);
    }

    // Best of a few runs each, alternating, so a passing load on a shared machine hurts least.
    double one = 1e30;
    double two = 1e30;
    for (int r = 0; r < runs; ++r) {
        one = std::min(one, TimeBatch(cli, inputs, (work / "out").string(), 1));
        two = std::min(two, TimeBatch(cli, inputs, (work / "out").string(), 2));
    }
    std::error_code ec;
    fs::remove_all(work, ec);

    const double sound = static_cast<double>(files) * seconds;
    std::printf("batch of %d files x %d s (44.1 kHz, quality 2), best of %d runs\n", files, seconds,
                runs);
    std::printf("  --jobs 1: %7.2f s  (%5.1fx real time)\n", one, sound / one);
    std::printf("  --jobs 2: %7.2f s  (%5.1fx real time)\n", two, sound / two);
    std::printf("  speed-up: %.2fx\n", one / two);
    return 0;
}
