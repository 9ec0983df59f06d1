// Feeds arbitrary bytes to the WAV reader as a file: OpenRead must refuse or open it, reads
// must stay inside the data it found and end, and the check must give one of its messages.

#include "audio/Twave.h"
#include "audio/WaveCheck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

// One scratch file per fuzzing process (several may run at once with -jobs).
const std::string& TempPath()
{
    static const std::string path =
        (std::filesystem::temp_directory_path() /
         ("varnel-fuzz-" + std::to_string(std::random_device{}()) + ".wav"))
            .string();
    return path;
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string& path = TempPath();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            std::abort();
        if (size && std::fwrite(data, 1, size, f) != size)
            std::abort();
        std::fclose(f);
    }

    varnel::TWaveData wave;
    const int result = wave.OpenRead(path);
    if (result != 0 && result != 1 && result != 2)
        Fail("OpenRead result");
    if (result == 0) {
        const auto fileSize = static_cast<int64_t>(size);
        if (wave.DataStart < 20 || wave.DataStart > fileSize)
            Fail("DataStart outside the file");
        if (wave.DataStart + static_cast<int64_t>(wave.DataSize) > fileSize)
            Fail("DataSize past the end of the file");
        if (wave.DataSize > wave.DeclaredDataSize)
            Fail("DataSize above the declared size");
        if (wave.TellFrame() != 0)
            Fail("TellFrame after opening");
        static std::vector<uint8_t> block(4096);
        int64_t total = 0;
        for (;;) {
            const int n = wave.Read(block.data(), static_cast<int>(block.size()));
            if (n < 0)
                Fail("Read error on a readable file");
            if (n == 0)
                break;
            total += n;
            if (total > static_cast<int64_t>(wave.DataSize))
                Fail("read past the data");
        }
        if (total != static_cast<int64_t>(wave.DataSize))
            Fail("read less than the data");
        if (wave.Format.BlockAlign > 0 && wave.TellFrame() != wave.FrameCount())
            Fail("TellFrame at the end");
        const int64_t middle = wave.FrameCount() / 2;
        if (wave.SeekFrame(middle) < 0 || wave.TellFrame() != middle)
            Fail("SeekFrame/TellFrame");
        if (wave.Close() != 0)
            Fail("Close of a reader");
    }

    const int message = varnel::CheckWaveFile(path, nullptr);
    if (message < 0 || message > 4)
        Fail("CheckWaveFile message");
    if ((result == 1 && message != 1) || (result == 2 && message != 2))
        Fail("CheckWaveFile disagrees with OpenRead");
    return 0;
}
