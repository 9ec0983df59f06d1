#include "audio/Tdsound.h"

#include "audio/SoundSource.h"
#include "audio/Twave.h"
#include "dsp/Vfunc.h"
#include "platform/SdlRingDevice.h"
#include "platform/SilentRingDevice.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace varnel {

TDsound::TDsound(const Clock& clock) : mClock(clock) {}

TDsound::~TDsound()
{
    // The processor is owned: freed here too when the owner forgot ReleaseStream.
    ReleaseStream();
}

bool TDsound::OpenDevice()
{
    ReleaseStream();
    mDevice.reset();
    const char* choice = std::getenv("VARNEL_AUDIO");
    if (choice == nullptr || std::strcmp(choice, "null") != 0) {
        auto sdl = std::make_unique<SdlRingDevice>();
        if (sdl->Open()) {
            mDevice = std::move(sdl);
            mSilentFallbackAllowed = true;
            return true;
        }
    }
    mDevice = std::make_unique<SilentRingDevice>(mClock);
    mSilentFallbackAllowed = false;
    return true;
}

bool TDsound::OpenDevice(std::unique_ptr<SoundRingDevice> device)
{
    ReleaseStream();
    mDevice = std::move(device);
    mSilentFallbackAllowed = false;
    return mDevice != nullptr;
}

bool TDsound::PrepareStream(TWaveData& reader, int bufferMs, int fftSize, int overlap)
{
    // An earlier stream never survives, even when the caller skipped ReleaseStream.
    ReleaseStream();
    mReader = &reader;
    mSourceReader = nullptr;
    return PrepareRing(reader.Format.SamplesPerSec, bufferMs, fftSize, overlap, false);
}

bool TDsound::PrepareStream(SourceReader& reader, const SoundInfo& info, int bufferMs, int fftSize,
                            int overlap)
{
    ReleaseStream();
    mReader = nullptr;
    mSourceReader = &reader;
    // Reaches the 16-bit device as a 16-bit export of the file is rounded, without dither.
    mToRing = ConversionFor(info.Sample, SampleFormat::Pcm16, false);
    // Where the sound ends short of its stated length only for a cut file (-1: never said).
    mSourceFrames = info.Sample == SampleFormat::Lossy ? -1 : info.Frames;
    if (info.SampleRate <= 0)
        return false;
    return PrepareRing(static_cast<uint32_t>(info.SampleRate), bufferMs, fftSize, overlap, true);
}

bool TDsound::PrepareRing(uint32_t rate, int bufferMs, int fftSize, int overlap, bool floatEntry)
{
    mFftSize = fftSize;
    if (!mDevice)
        return false;
    if (rate == 0 || bufferMs <= 0)
        return false;
    // 64-bit, so long rings at high rates cannot wrap; rounded down to whole frames because
    // the cursor, the pump and the processor all work in frames (11025 Hz x 100 ms gives
    // 4410 bytes, which becomes 4408).
    uint64_t bytes = uint64_t{rate} * 4u * static_cast<uint64_t>(bufferMs) / 1000u;
    bytes -= bytes % 4u;
    if (bytes == 0 || bytes > static_cast<uint64_t>(INT_MAX))
        return false;
    mBufferBytes = static_cast<int>(bytes);
    const int sampleRate = static_cast<int>(rate);

    if (!mDevice->CreateRing(sampleRate, mBufferBytes)) {
        if (!mSilentFallbackAllowed)
            return false;
        // The sound device refuses this format: play on silently rather than not at all.
        mDevice = std::make_unique<SilentRingDevice>(mClock);
        mSilentFallbackAllowed = false;
        if (!mDevice->CreateRing(sampleRate, mBufferBytes))
            return false;
    }
    mWriteCursor = 0;
    ClearReadFault();
    FillSilence();
    mDevice->SetVolume(kFullVolume);

    std::unique_ptr<TVocalFunc> processor(new (std::nothrow) TVocalFunc());
    if (!processor || processor->Init(2, sampleRate, bufferMs * 0.001) != 0 ||
        (floatEntry && processor->InitFloat() != 0) ||
        processor->SetupFilter(fftSize, overlap) != 0) {
        ReleaseStream();
        return false;
    }
    if (floatEntry) {
        try {
            mRingWords.assign(static_cast<size_t>(processor->BlockFrames()) * 2, 0);
        } catch (const std::bad_alloc&) {
            ReleaseStream();
            return false;
        }
    }
    processor->SetVisualSink(mVisualSink);
    mVocalFunc = std::move(processor);
    return true;
}

void TDsound::ReleaseStream() noexcept
{
    if (mDevice)
        mDevice->ReleaseRing();
    mVocalFunc.reset();
}

RingResult TDsound::Play() noexcept
{
    return mDevice ? mDevice->Play() : RingResult::Failed;
}

RingResult TDsound::Stop() noexcept
{
    return mDevice ? mDevice->Stop() : RingResult::Failed;
}

RingResult TDsound::LockRestoringOnce(int offset, int bytes, bool entire,
                                      RingRegions& regions) noexcept
{
    RingResult result = mDevice->Lock(offset, bytes, entire, regions);
    if (result == RingResult::BufferLost) {
        mDevice->Restore();
        result = mDevice->Lock(offset, bytes, entire, regions);
    }
    return result;
}

bool TDsound::FillSilence() noexcept
{
    if (!mDevice || !mDevice->HasRing())
        return false;
    RingRegions regions;
    if (LockRestoringOnce(0, 0, true, regions) != RingResult::Ok)
        return false;
    std::memset(regions.First, 0, static_cast<size_t>(regions.FirstBytes));
    if (regions.Second != nullptr)
        std::memset(regions.Second, 0, static_cast<size_t>(regions.SecondBytes));
    return mDevice->Unlock(regions) == RingResult::Ok;
}

int TDsound::ReadAndFilterFloat(int frames) noexcept
{
    TVocalFunc& processor = *mVocalFunc;
    int got = mSourceReader->Read(processor.FloatInL(), processor.FloatInR(), frames);
    if (got < 0) {
        got = 0; // a read error is heard as silence
        mReadFault.store(true, std::memory_order_relaxed);
    }
    processor.ProcessFloat(0, got);
    return got;
}

void TDsound::FillRegion(uint8_t* region, int bytes) noexcept
{
    TVocalFunc& processor = *mVocalFunc;
    // The block holds one ring's worth of frames, so a region (at most one frame short of the
    // ring) fits in one pass; the loop only guards against a block that came out shorter.
    while (bytes > 0) {
        const int want = bytes < processor.BlockBytes() ? bytes : processor.BlockBytes();
        int got = 0;
        if (mSourceReader) {
            const int frames = ReadAndFilterFloat(want / 4);
            ConvertSamples(mToRing, processor.FloatOutL(), processor.FloatOutR(),
                           mSourceReader->Tell() - frames, frames, mRingWords.data(), nullptr,
                           nullptr);
            for (int i = 0; i < 2 * frames; ++i) {
                const auto v = static_cast<uint16_t>(mRingWords[static_cast<size_t>(i)]);
                region[2 * i] = static_cast<uint8_t>(v & 0xFF);
                region[2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
            got = frames * 4;
        } else {
            got = mReader->Read(processor.RawIn(), want);
            if (got < 0) {
                got = 0; // a read error is heard as silence
                mReadFault.store(true, std::memory_order_relaxed);
            }
            got -= got % 4;
            processor.Deinterleave(got);
            processor.Process(0, got / 4);
            processor.Interleave(got);
            std::memcpy(region, processor.RawOut(), static_cast<size_t>(got));
        }
        if (got < want) {
            // Short of the data's end: the file lost its sound since it was opened (a lossy
            // decoder may give out a little before the length its file states).
            const bool cut = mSourceReader
                                 ? mSourceFrames >= 0 && mSourceReader->Tell() < mSourceFrames
                                 : mReader->TellFrame() < mReader->FrameCount();
            if (cut)
                mReadFault.store(true, std::memory_order_relaxed);
            // Short read: the rest of the region is silence, written directly so the
            // filter's stream only advances by what was read.
            std::memset(region + got, 0, static_cast<size_t>(bytes - got));
            return;
        }
        region += got;
        bytes -= got;
    }
}

int TDsound::Pump() noexcept
{
    if (!mDevice || !mDevice->HasRing() || !mVocalFunc ||
        (mReader == nullptr && mSourceReader == nullptr))
        return 0;
    const int playCursor = mDevice->PlayCursor();
    int delta = playCursor - mWriteCursor;
    if (delta < 0)
        delta += mBufferBytes;
    if (delta <= 0)
        return 0;
    RingRegions regions;
    if (LockRestoringOnce(mWriteCursor, delta, false, regions) != RingResult::Ok)
        return 0; // nothing written; the stretch is refilled by the next pump
    FillRegion(regions.First, regions.FirstBytes);
    if (regions.Second != nullptr)
        FillRegion(regions.Second, regions.SecondBytes);
    mWriteCursor = playCursor;
    mDevice->Unlock(regions);
    return (regions.FirstBytes + regions.SecondBytes) / 4;
}

void TDsound::Flush() noexcept
{
    if (!mVocalFunc)
        return;
    mVocalFunc->Reset();
    const int block = mVocalFunc->BlockFrames();
    if (mSourceReader && block > 0) {
        std::fill(mVocalFunc->FloatInL(), mVocalFunc->FloatInL() + block, 0.0f);
        std::fill(mVocalFunc->FloatInR(), mVocalFunc->FloatInR() + block, 0.0f);
        for (int count = mFftSize; count > 0; count -= block)
            mVocalFunc->ProcessFloat(0, block);
    } else if (block > 0) {
        for (int count = mFftSize; count > 0; count -= block)
            mVocalFunc->Process(0, block);
    }
    FillSilence();
}

void TDsound::SetPanRange(float low, float high) noexcept
{
    if (mVocalFunc)
        mVocalFunc->SetPanRange(low, high);
}

void TDsound::SetFreqRange(float lowHz, float highHz) noexcept
{
    if (mVocalFunc)
        mVocalFunc->SetFreqRange(lowHz, highHz);
}

void TDsound::SetDepthRange(float low, float high) noexcept
{
    if (mVocalFunc)
        mVocalFunc->SetDepthRange(low, high);
}

void TDsound::SetInverted(bool inverted) noexcept
{
    if (mVocalFunc)
        mVocalFunc->SetInverted(inverted);
}

void TDsound::SetSoftCut(const SoftCut& soft) noexcept
{
    if (mVocalFunc)
        mVocalFunc->SetSoftCut(soft);
}

void TDsound::SetVisualFeed(bool on) noexcept
{
    if (mVocalFunc)
        mVocalFunc->SetVisualFeed(on);
}

RingResult TDsound::SetVolume(int hundredthsDb) noexcept
{
    if (!mDevice || !mDevice->HasRing())
        return RingResult::Failed;
    return mDevice->SetVolume(hundredthsDb);
}

void TDsound::SetVisualSink(VisualFeed* sink) noexcept
{
    mVisualSink = sink;
    if (mVocalFunc)
        mVocalFunc->SetVisualSink(sink);
}

} // namespace varnel
