// varnel-cli: the separation engine without a window, for scripts, batch work and servers.

#include "cli/CliCommon.h"
#include "cli/CliTexts.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using namespace varnel::cli;

struct Command
{
    const char* Name;
    int (*Run)(int argc, char** argv);
    const char* Usage; // the command's lines of the usage text
};

// One row per command; a new command adds its row here and its Run function to CliCommon.h.
const Command kCommands[] = {
    {"info", RunInfo, "  varnel-cli info    IN\n"},
    {"export", RunExport,
     "  varnel-cli export  IN OUT        [area] [--quality 0-4] [--ab A:B] [--threads N]\n"
     "                                   [--rest FILE] [output] [--force] [--quiet]\n"
     "  varnel-cli export  --out-dir DIR IN... [area] [--quality 0-4] [--jobs N] [--threads N]\n"
     "                                   [--format EXT] [--rest-suffix SUFFIX] [output]\n"
     "                                   [--force] [--quiet]\n"},
    {"convert", RunConvert,
     "  varnel-cli convert IN OUT        [--ab A:B] [output] [--force] [--quiet]\n"},
    {"map", RunMap,
     "  varnel-cli map     IN OUT.png    [area] [--at SECONDS] [--pan-scale 0-10]\n"
     "                                   [--colour-scale 0-10] [--quality 0-4] [--buffer MS]\n"
     "                                   [--force]\n"},
    {"play", RunPlay,
     "  varnel-cli play    IN            [area] [--quality 0-4] [--buffer MS] [--volume 0-20]\n"},
};

void PrintUsage(FILE* out)
{
    std::fputs("usage:\n", out);
    for (const Command& c : kCommands)
        std::fputs(c.Usage, out);
    std::fputs(kAreaUsage, out);
    std::fputs(
        "\n"
        "output: --bits 16|24|32f      the sample format (default: the input's own where the\n"
        "                              output holds it; 16-bit from a lossy input)\n"
        "        --no-dither           round without dither when the resolution is reduced\n"
        "        --lossy-quality 0-10  .ogg, .opus and .mp3 outputs (default 8)\n"
        "\n"
        "  IN       WAV (8 to 32-bit, float), AIFF, FLAC, Ogg Vorbis, Opus, MP3 and more; stereo\n"
        "  OUT      its extension chooses the format: .wav .flac .aif .aiff .ogg .opus .mp3\n"
        "  info     the file's format, length, and the FFT size and overlap used\n"
        "  export   filter a file (or the frames A..B of it) into a new file; with --out-dir,\n"
        "           each input into DIR under its own name with the --format extension\n"
        "           (default wav), --jobs at a time; --threads per file (default: the usable\n"
        "           cores, shared by the jobs)\n"
        "  --rest   also write what the area leaves out, in the same pass and format, so the\n"
        "           two files add up to the whole; --rest-suffix names a batch's rest files\n"
        "           after their inputs (IN-rest.wav with -rest)\n"
        "  convert  the sound as it is, without the filter, in another format (16-bit for a\n"
        "           .wav output by default: the window opens 16-bit stereo WAV files)\n"
        "  map      the window's two maps, with the area, at one moment of playback, as a PNG\n"
        "  play     the filtered file through the sound device, until its end or Ctrl-C\n"
        "  --quality  0 fastest .. 4 best (default 2)\n"
        "  --buffer   sound buffer in ms, 100..1000 (default 200)\n"
        "\n"
        "  --force    replace an existing output file\n"
        "  --         ends the options: every later argument is a file name\n"
        "  --version  the program's version\n"
        "\n"
        "exit codes: 0 done, 2 usage, 3 input file refused, 4 output file refused,\n"
        "            5 export failed, 128 + the signal's number when a signal stopped it\n"
        "            (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP)\n",
        out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return UsageError("no command given");
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout);
            return kExitDone;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", VersionText().c_str());
            return kExitDone;
        }
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.Name) == 0)
            return c.Run(argc - 1, argv + 1);
    }
    return UsageError(std::string("unknown command \"") + argv[1] + "\"");
}
