#include "support/TestSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

// Every test program runs headless, silent and with the program's default texts, however it
// is started: from ctest, by hand, or as a child of another test. The variables are set
// before main so Qt, SDL and the locale lookup all see them.
struct TestEnvironment
{
    TestEnvironment()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        setenv("LC_ALL", "C", 1);
        setenv("LANG", "C", 1);
        unsetenv("LC_MESSAGES");
    }
};
const TestEnvironment testEnvironment;

} // namespace

namespace varnel::test {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "varnel-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("cannot make a temp folder");
    mPath = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(mPath, ec);
}

static void PutU16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v & 0xFF));
    b.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

static void PutU32(std::vector<uint8_t>& b, uint32_t v)
{
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}

void WriteWav16(const std::string& path, const std::vector<int16_t>& interleaved, int sampleRate,
                int channels)
{
    const uint32_t dataBytes = static_cast<uint32_t>(interleaved.size() * 2);
    std::vector<uint8_t> b;
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    PutU32(b, 36 + dataBytes);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutU32(b, 16);
    PutU16(b, 1);
    PutU16(b, static_cast<uint32_t>(channels));
    PutU32(b, static_cast<uint32_t>(sampleRate));
    PutU32(b, static_cast<uint32_t>(sampleRate * channels * 2));
    PutU16(b, static_cast<uint32_t>(channels * 2));
    PutU16(b, 16);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    PutU32(b, dataBytes);
    for (int16_t s : interleaved)
        PutU16(b, static_cast<uint16_t>(s));
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::vector<int16_t> MixLike(int frames, int rate)
{
    std::vector<int16_t> s(static_cast<size_t>(frames) * 2);
    uint32_t noise = 12345;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double centre =
            6000 * std::sin(2 * M_PI * 220 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 0.7 * t));
        const double left = 4000 * std::sin(2 * M_PI * 1234.5 * t);
        const double right = 3000 * std::sin(2 * M_PI * 3100 * t + 0.3);
        const double wide = 2500 * std::sin(2 * M_PI * 660 * t);
        noise = noise * 1664525u + 1013904223u;
        const double hiss = (static_cast<double>(noise >> 16) - 32768.0) * 0.03;
        s[2 * static_cast<size_t>(i)] = static_cast<int16_t>(centre + left + wide + hiss);
        s[2 * static_cast<size_t>(i) + 1] =
            static_cast<int16_t>(centre + 0.2 * left + right - wide - hiss);
    }
    return s;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)),
                                std::istreambuf_iterator<char>());
}

static uint32_t GetU32(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<int16_t> ReadWavSamples(const std::string& path, int* sampleRate)
{
    const std::vector<uint8_t> b = ReadFileBytes(path);
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
        std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return {};
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const uint32_t size = GetU32(b, at + 4);
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && sampleRate && at + 16 <= b.size())
            *sampleRate = static_cast<int>(GetU32(b, at + 12));
        if (std::memcmp(b.data() + at, "data", 4) == 0) {
            const size_t n = std::min<size_t>(size, b.size() - at - 8) / 2;
            std::vector<int16_t> s(n);
            if (n > 0) // an empty vector's data() may be null, which memcpy must not get
                std::memcpy(s.data(), b.data() + at + 8, n * 2);
            return s;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

std::vector<std::string> HiddenTemporaries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name[0] == '.' && name.find(".part") != std::string::npos)
            names.push_back(name);
    }
    return names;
}

} // namespace varnel::test

// ---- Allocation counting -------------------------------------------------------------------

#include <atomic>
#include <new>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace {

// Under the thread checker the heap's own bookkeeping is not checked. Every new and delete,
// Qt's included, goes through this file, so Qt's hand-over of its memory between its threads
// (whose locks the checker cannot see, Qt not being built for it) would be reported here.
// Reads and writes of the memory itself stay checked.
struct UncheckedHeap
{
#if defined(__SANITIZE_THREAD__)
    UncheckedHeap()
    {
        __tsan_ignore_thread_begin();
    }
    ~UncheckedHeap()
    {
        __tsan_ignore_thread_end();
    }
#endif
};

std::atomic<bool> gCountAllocations{false};
std::atomic<int64_t> gAllocations{0};
std::atomic<int64_t> gAllocationsBeforeFailure{-1}; // -1: no failure armed; -2: it happened

void* CountedAllocate(std::size_t size)
{
    if (gCountAllocations.load(std::memory_order_relaxed))
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    int64_t left = gAllocationsBeforeFailure.load(std::memory_order_relaxed);
    while (left >= 0 &&
           !gAllocationsBeforeFailure.compare_exchange_weak(left, left == 0 ? -2 : left - 1)) {
    }
    if (left == 0)
        return nullptr;
    if (size == 0)
        size = 1;
    [[maybe_unused]] const UncheckedHeap unchecked;
    return std::malloc(size);
}

// Out of line, so the compiler never sees a pointer from operator new reach free directly.
[[gnu::noinline]] void CountedFree(void* p) noexcept
{
    [[maybe_unused]] const UncheckedHeap unchecked;
    std::free(p);
}

} // namespace

namespace varnel::test {

AllocationCounter::AllocationCounter()
{
    gAllocations.store(0);
    gCountAllocations.store(true);
}

AllocationCounter::~AllocationCounter()
{
    gCountAllocations.store(false);
}

int64_t AllocationCounter::Count() const
{
    return gAllocations.load();
}

AllocationFailure::AllocationFailure(int64_t skip)
{
    gAllocationsBeforeFailure.store(skip < 0 ? 0 : skip);
}

AllocationFailure::~AllocationFailure()
{
    gAllocationsBeforeFailure.store(-1);
}

bool AllocationFailure::Failed() const
{
    return gAllocationsBeforeFailure.load() == -2;
}

} // namespace varnel::test

void* operator new(std::size_t size)
{
    if (void* p = CountedAllocate(size))
        return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    if (void* p = CountedAllocate(size))
        return p;
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return CountedAllocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return CountedAllocate(size);
}

void operator delete(void* p) noexcept
{
    CountedFree(p);
}

void operator delete[](void* p) noexcept
{
    CountedFree(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    CountedFree(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    CountedFree(p);
}
