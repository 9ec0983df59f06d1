#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel::test {

// A fresh empty folder under the system's temp folder, removed when the object goes.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return mPath; }
    std::string File(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

// Writes a canonical 16-bit stereo PCM WAV (44-byte header) holding the interleaved samples.
void WriteWav16(const std::string& path, const std::vector<int16_t>& interleaved,
                int sampleRate = 44100, int channels = 2);

// Deterministic stereo content, frames interleaved frames at rate: a centre tone, a tone on
// each side, a wide tone in opposite phase and noise, so an area keeps some bins and clears
// others.
std::vector<int16_t> MixLike(int frames, int rate);

// Reads the whole file's bytes; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// The interleaved samples of a 16-bit WAV file written by the program (data at byte 46) or by
// WriteWav16 (data at byte 44): found by walking the chunks. Empty on any fault.
std::vector<int16_t> ReadWavSamples(const std::string& path, int* sampleRate = nullptr);

// The names of a save's hidden temporaries (".NAME.partXXXXXX") in the folder.
std::vector<std::string> HiddenTemporaries(const std::string& folder);

} // namespace varnel::test

namespace varnel::test {

// Counts calls of the global operator new (on every thread) while an object of this class is
// alive; the test programs replace operator new for it. One counter alive at a time.
class AllocationCounter
{
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;
    int64_t Count() const;
};

// While alive, lets `skip` more calls of the global operator new succeed and makes the next
// one fail (std::bad_alloc, or null for the nothrow forms); later calls succeed again.
// One alive at a time.
class AllocationFailure
{
public:
    explicit AllocationFailure(int64_t skip);
    ~AllocationFailure();
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;
    bool Failed() const; // whether the failing call has happened
};

} // namespace varnel::test
