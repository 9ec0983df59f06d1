#include "audio/ExportJob.h"

#include "audio/ExportStages.h"
#include "audio/SoundSink.h"
#include "audio/SoundSource.h"
#include "audio/Twave.h"
#include "dsp/Vfunc.h"
#include "platform/Assert.h"

#include <algorithm>
#include <new>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

namespace varnel {

using namespace export_stages;

namespace export_stages {

std::vector<int64_t> PieceStarts(int64_t first, int64_t end, int64_t block, int64_t shortest,
                                 int64_t longest, int threads)
{
    std::vector<int64_t> starts{first};
    for (int64_t at = first; at < end;) {
        const int64_t leftBlocks = (end - at + block - 1) / block;
        const int64_t share = (leftBlocks + 2 * threads - 1) / (2 * int64_t{threads});
        at = std::min(end, at + std::clamp(share, shortest, longest) * block);
        starts.push_back(at);
    }
    return starts;
}

bool StreamReader::Fill(uint8_t* raw, int64_t begin, int count) const noexcept
{
    const int64_t end = begin + count;
    const int64_t before = std::clamp<int64_t>(-begin, 0, count);
    const int64_t start = std::max<int64_t>(begin, 0);
    const int64_t inFile = std::max<int64_t>(0, std::min(end, mFileFrames) - start);
    auto at = static_cast<size_t>(before * kFrameBytes);
    std::memset(raw, 0, at);
    if (inFile > 0) {
        if (mIn.ReadFramesAt(start, raw + at, inFile) != inFile * kFrameBytes)
            return false;
        at += static_cast<size_t>(inFile * kFrameBytes);
    }
    std::memset(raw + at, 0, static_cast<size_t>(count) * kFrameBytes - at);
    return true;
}

bool ReaderInput::Fill(float* left, float* right, int64_t begin, int count) noexcept
{
    const int64_t end = begin + count;
    const int64_t before = std::clamp<int64_t>(-begin, 0, count);
    const int64_t start = std::max<int64_t>(begin, 0);
    int64_t inFile = std::max<int64_t>(0, std::min(end, mEnd) - start);
    std::fill(left, left + before, 0.0f);
    std::fill(right, right + before, 0.0f);
    int64_t at = before;
    if (inFile > 0) {
        if (mReader.Tell() != start && !mReader.Seek(start)) {
            if (!mEndMayComeEarly)
                return false;
            mEnd = std::min(mEnd, mReader.Tell());
            inFile = 0;
        }
    }
    if (inFile > 0) {
        const int got = mReader.Read(left + at, right + at, static_cast<int>(inFile));
        if (got < 0 || (got < inFile && !mEndMayComeEarly))
            return false;
        if (got < inFile)
            mEnd = start + got;
        at += got;
    }
    std::fill(left + at, left + count, 0.0f);
    std::fill(right + at, right + count, 0.0f);
    return true;
}

bool BufferInput::Fill(float* left, float* right, int64_t begin, int count) noexcept
{
    const int64_t offset = begin - mStart;
    if (offset < 0 || offset + count > mFrames)
        return false;
    std::copy(mLeft + offset, mLeft + offset + count, left);
    std::copy(mRight + offset, mRight + offset + count, right);
    return true;
}

} // namespace export_stages

ExportJob::ExportJob(TWaveData& in, TWaveData& out, const ExportSettings& settings)
    : mIn(&in), mOut(&out), mSettings(settings)
{
    // One object cannot be read and written at once.
    VARNEL_ASSERT(&in != &out);
}

ExportJob::ExportJob(const SoundSource& in, SoundSink& out, const ExportSettings& settings)
    : mSource(&in), mSink(&out), mSettings(settings)
{}

ExportJob::~ExportJob() = default;

int ExportJob::UsableCores() noexcept
{
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return count;
    }
#endif
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? static_cast<int>(std::min(hardware, 1024u)) : 1;
}

int64_t ExportJob::InputFrames() const noexcept
{
    return mIn ? mIn->FrameCount() : std::max<int64_t>(0, mSource->Info().Frames);
}

int64_t ExportJob::OutputLimit() const noexcept
{
    return mOut ? kMaxWrittenFrames : SoundSink::MaxFrames(mSink->Format());
}

void ExportJob::Stretch(int64_t& first, int64_t& end) const noexcept
{
    // An input can hold more frames than the output can (a data size of 0xFFFFFFFF over 4 GiB
    // of samples): the stretch ends where the output is full, decided before any work.
    const int64_t frames = std::min(InputFrames(), OutputLimit());
    if (!mSettings.SaveAB) {
        first = 0;
        end = frames;
        return;
    }
    first = std::min(mSettings.PointA, mSettings.PointB);
    end = std::max(mSettings.PointA, mSettings.PointB);
    first = std::clamp<int64_t>(first, 0, frames);
    end = std::clamp<int64_t>(end, 0, frames);
}

int64_t ExportJob::TotalBytes() const noexcept
{
    int64_t first = 0;
    int64_t end = 0;
    Stretch(first, end);
    return (end - first) * kFrameBytes;
}

int ExportJob::InputRate() const noexcept
{
    if (mIn)
        return static_cast<int>(std::min<uint32_t>(mIn->Format.SamplesPerSec, 0x7FFFFFFF));
    return mSource->Info().SampleRate;
}

MessageId ExportJob::MakeProcessor(std::unique_ptr<TVocalFunc>& vocal) const
{
    try {
        vocal = std::make_unique<TVocalFunc>();
    } catch (const std::bad_alloc&) {
        return kMsgOutOfMemory;
    }
    if (vocal->Init(2, InputRate(), kBlockSeconds) != 0 || vocal->BlockFrames() < 1)
        return kMsgOutOfMemory;
    if (!mIn && vocal->InitFloat() != 0)
        return kMsgOutOfMemory;
    if (vocal->SetupFilter(mSettings.FftSize, mSettings.Overlap) != 0)
        return kMsgOutOfMemory;
    if ((mRestOut || mRestSink) && vocal->EnableRest() != 0)
        return kMsgOutOfMemory;
    const FilterArea& a = mSettings.Area;
    vocal->SetPanRange(a.PanLow, a.PanHigh);
    vocal->SetFreqRange(a.FreqLowHz, a.FreqHighHz);
    vocal->SetDepthRange(a.DepthLow, a.DepthHigh);
    vocal->SetInverted(a.Inverted);
    vocal->SetSoftCut(a.Soft);
    vocal->SetVisualFeed(false);
    return kMsgNone;
}

MessageId ExportJob::Prepare()
{
    if (!mPrepareRan) {
        mPrepared = MakeProcessor(mVocal);
        mPrepareRan = true;
    }
    return mPrepared;
}

bool ExportJob::CountWritten(int64_t bytes, int& counter, int64_t total, const ProgressFn& progress,
                             const std::atomic<bool>& abort)
{
    mWritten += bytes;
    if (++counter == kProgressEveryBlocks) {
        counter = 0;
        if (progress)
            progress(mWritten, total);
    }
    if (abort.load(std::memory_order_relaxed)) {
        mAborted = true;
        return false;
    }
    return true;
}

MessageId ExportJob::RunOneThread(int64_t first, int64_t end, const ProgressFn& progress,
                                  const std::atomic<bool>& abort)
{
    const int64_t total = (end - first) * kFrameBytes;
    const StreamReader reader(*mIn);
    Pcm16Lane lane{*mVocal, reader};
    int counter = 0;
    MessageId result = kMsgNone;
    const MessageId read =
        FilterFrames(lane, first, end, [&](const uint8_t* bytes, const uint8_t* rest, int n) {
            if (mOut->Write(bytes, n) != n || (mRestOut && mRestOut->Write(rest, n) != n)) {
                result = kMsgSaveFailed;
                return false;
            }
            return CountWritten(n, counter, total, progress, abort);
        });
    if (read != kMsgNone)
        return read;
    if (result != kMsgNone || mAborted)
        return result;
    if (progress)
        progress(mWritten, total);
    return kMsgNone;
}

MessageId ExportJob::RunFloatOneThread(int64_t first, int64_t end, const ProgressFn& progress,
                                       const std::atomic<bool>& abort)
{
    const int64_t total = (end - first) * kFrameBytes;
    std::unique_ptr<SourceReader> sourceReader = mSource->NewReader();
    if (!sourceReader)
        return kMsgSaveFailed;
    ReaderInput input(*sourceReader, mSource->Info());
    int counter = 0;
    int64_t frame = first;
    MessageId result = kMsgNone;
    auto emit = [&](const float* left, const float* right, const float* restLeft,
                    const float* restRight, int n) {
        if (!mSink->Write(left, right, frame, n) ||
            (mRestSink && !mRestSink->Write(restLeft, restRight, frame, n))) {
            result = kMsgSaveFailed;
            return false;
        }
        frame += n;
        return CountWritten(int64_t{n} * kFrameBytes, counter, total, progress, abort);
    };
    MessageId read = kMsgNone;
    TVocalFunc& vocal = *mVocal;
    if (mSettings.PlainCopy) {
        for (int64_t at = first; at < end && at < input.End();) {
            const int n = static_cast<int>(std::min<int64_t>(vocal.BlockFrames(), end - at));
            if (!input.Fill(vocal.FloatInL(), vocal.FloatInR(), at, n)) {
                read = kMsgSaveFailed;
                break;
            }
            const int keep = static_cast<int>(std::clamp<int64_t>(input.End() - at, 0, n));
            if (keep > 0 && !emit(vocal.FloatInL(), vocal.FloatInR(), nullptr, nullptr, keep))
                break;
            at += n;
        }
    } else {
        FloatLane lane{vocal, input};
        read = FilterFrames(lane, first, end, emit);
    }
    if (read != kMsgNone)
        return read;
    if (result != kMsgNone || mAborted)
        return result;
    if (progress)
        progress(mWritten, total);
    return kMsgNone;
}

MessageId ExportJob::Run(const ProgressFn& progress, const std::atomic<bool>& abort)
{
    mWritten = 0;
    mAborted = false;
    if (mIn && (!mIn->IsOpen || mIn->Format.BlockAlign != kFrameBytes ||
                mIn->Format.Channels != 2 || mSettings.PlainCopy))
        return kMsgSaveFailed;
    if (mSource && (mSource->Info().Channels != 2 || !mSink->IsOpen()))
        return kMsgSaveFailed;
    int64_t first = 0;
    int64_t end = 0;
    Stretch(first, end);
    if (end == first)
        return kMsgNone;
    // A smoothed gain carries the whole stream's history, which a piece started with its own
    // context cannot have: with smoothing one thread filters, so threads never change a byte.
    const bool smoothed = mSettings.Area.Soft.SmoothMs > 0.0f;
    const int threads = mSettings.PlainCopy || smoothed ? 1
                        : mSettings.Threads > 0         ? mSettings.Threads
                                                        : UsableCores();
    const int block = TVocalFunc::BlockFramesFor(InputRate(), kBlockSeconds);
    if (threads > 1 && block > 0) {
        // Pieces of 100 frame lengths (fewer where they wait in memory at a high rate),
        // shrinking to 16 toward the end, in whole blocks.
        const int64_t frameSize = std::max(1, mSettings.FftSize);
        int64_t longest = (kPieceFrameLengths * frameSize + block - 1) / block;
        if (mSource)
            longest = std::max<int64_t>(1, std::min(longest, kMostBufferedPieceFrames / block));
        const int64_t shortest =
            std::min(longest, (kLastPieceFrameLengths * frameSize + block - 1) / block);
        std::vector<int64_t> starts;
        try {
            starts = PieceStarts(first, end, block, shortest, longest, threads);
        } catch (const std::bad_alloc&) {
            return kMsgOutOfMemory;
        }
        if (starts.size() > 2)
            return RunThreaded(threads, std::move(starts), block, progress, abort);
    }
    if (Prepare() != kMsgNone)
        return kMsgOutOfMemory;
    return mIn ? RunOneThread(first, end, progress, abort)
               : RunFloatOneThread(first, end, progress, abort);
}

} // namespace varnel
