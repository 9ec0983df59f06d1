#include "audio/ExportJob.h"

#include "audio/Twave.h"
#include "dsp/Vfunc.h"
#include "platform/Assert.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sched.h>
#endif

namespace varnel {

namespace {

constexpr double kBlockSeconds = 0.5;
constexpr int kProgressEveryBlocks = 12;
// Before its first written frame a piece transforms about one frame length of context; at 100
// frame lengths per piece that is 1% of the work. Pieces shrink toward the stretch's end so
// the workers finish together, but not below 16 frame lengths (6%).
constexpr int64_t kPieceFrameLengths = 100;
constexpr int64_t kLastPieceFrameLengths = 16;
// Workers hand the writer their output every few blocks rather than every block: each hand-over
// wakes the writer, and on a busy machine that costs more than the bytes it moves.
constexpr int kPublishEveryBlocks = 8;

// Rounds toward minus infinity, so positions before the file's start land on the hop grid too.
int64_t FloorToMultiple(int64_t value, int64_t step) noexcept
{
    int64_t q = value / step;
    if (value % step != 0 && value < 0)
        --q;
    return q * step;
}

// The first frame of each piece of the stretch [first, end), then end. Pieces are whole
// blocks, so the writer's blocks fall where one thread's do. Each takes an equal share of
// what is left for twice the workers, between shortest and longest blocks: long pieces while
// much is left, shorter ones toward the end, so no worker is left with a long piece while the
// others have finished.
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

// The input as the filter streams see it: silence before the file's start and after its end,
// file frames in between, read by position, so any number of workers can share it without
// disturbing one another or the file's place.
class StreamReader
{
public:
    explicit StreamReader(const TWaveData& in) : mIn(in), mFileFrames(in.FrameCount()) {}

    // Any thread. Fills raw with count frames of the stream from frame begin. False when the
    // input fails or ends early (the file shrank).
    bool Fill(uint8_t* raw, int64_t begin, int count) const noexcept
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

private:
    const TWaveData& mIn;
    const int64_t mFileFrames;
};

// Filters the stream for the output frames [first, end) of the stretch and hands each block
// of output bytes to emit, which returns false to stop. Returns kMsgNone (done or stopped) or
// kMsgSaveFailed (the input failed).
template <class Emit>
MessageId FilterFrames(TVocalFunc& vocal, const StreamReader& reader, int64_t first,
                       int64_t end, Emit&& emit) noexcept;

} // namespace

ExportJob::ExportJob(TWaveData& in, TWaveData& out, const ExportSettings& settings)
    : mIn(in), mOut(out), mSettings(settings)
{
    // One object cannot be read and written at once.
    VARNEL_ASSERT(&in != &out);
}

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

void ExportJob::Stretch(int64_t& first, int64_t& end) const noexcept
{
    // An input can hold more frames than a written file can (a data size of 0xFFFFFFFF over
    // 4 GiB of samples): the stretch ends where the output is full, decided before any work.
    const int64_t frames = std::min(mIn.FrameCount(), kMaxWrittenFrames);
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
    return static_cast<int>(std::min<uint32_t>(mIn.Format.SamplesPerSec, 0x7FFFFFFF));
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
    if (vocal->SetupFilter(mSettings.FftSize, mSettings.Overlap) != 0)
        return kMsgOutOfMemory;
    const FilterArea& a = mSettings.Area;
    vocal->SetPanRange(a.PanLow, a.PanHigh);
    vocal->SetFreqRange(a.FreqLowHz, a.FreqHighHz);
    vocal->SetDepthRange(a.DepthLow, a.DepthHigh);
    vocal->SetInverted(a.Inverted);
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

namespace {

template <class Emit>
MessageId FilterFrames(TVocalFunc& vocal, const StreamReader& reader, int64_t first,
                       int64_t end, Emit&& emit) noexcept
{
    CenterFocus& filter = vocal.Filter();
    const int64_t frameSize = filter.FrameSize();
    const int64_t hop = filter.Hop();
    const int64_t latency = filter.Latency();
    const int block = vocal.BlockFrames();

    // The stream starts on the hop grid of a whole-file save, one frame length or more before
    // the first frame, so every filter frame that touches it sees real context. The frames
    // that end at or before the first frame only give output that is discarded: skipped.
    int64_t streamPos = FloorToMultiple(first - frameSize, hop);
    filter.SkipFrames(static_cast<int>((first - streamPos) / hop));

    // Warm-up: output of the stream up to the first frame is discarded.
    const int64_t warmEnd = first + latency;
    while (streamPos < warmEnd) {
        const int n = static_cast<int>(std::min<int64_t>(block, warmEnd - streamPos));
        if (!reader.Fill(vocal.RawIn(), streamPos, n))
            return kMsgSaveFailed;
        streamPos += n;
        vocal.Deinterleave(n * kFrameBytes);
        vocal.Process(0, n);
    }

    // Each block feeds the frames one latency ahead of the frames it writes.
    int64_t remaining = end - first;
    while (remaining > 0) {
        const int n = static_cast<int>(std::min<int64_t>(block, remaining));
        const int bytes = n * kFrameBytes;
        if (!reader.Fill(vocal.RawIn(), streamPos, n))
            return kMsgSaveFailed;
        streamPos += n;
        vocal.Deinterleave(bytes);
        vocal.Process(0, n);
        vocal.Interleave(bytes);
        remaining -= n;
        if (!emit(vocal.RawOut(), bytes))
            return kMsgNone;
    }
    return kMsgNone;
}

} // namespace

bool ExportJob::CountWritten(int64_t bytes, int& counter, int64_t total,
                             const ProgressFn& progress, const std::atomic<bool>& abort)
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
    const StreamReader reader(mIn);
    int counter = 0;
    MessageId result = kMsgNone;
    const MessageId read =
        FilterFrames(*mVocal, reader, first, end, [&](const uint8_t* bytes, int n) {
            if (mOut.Write(bytes, n) != n) {
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

// The threaded export: workers filter pieces and write them straight into the output file
// at their place, so no piece waits in memory for the ones before it. The calling thread
// follows the pieces in order, block by block as the workers report them, and accepts each
// block as the one-thread writer would write it: progress, the abort check and failures fall
// on the same blocks. At the end the file is cut after the last accepted block, so whatever
// workers wrote beyond it goes and the file holds a prefix of the full result.
class ExportJob::Pipeline
{
public:
    // starts holds each piece's first frame and then end; pieces are whole blocks of
    // blockFrames.
    Pipeline(ExportJob& job, int threads, std::vector<int64_t> starts, int blockFrames,
             const std::atomic<bool>& abort)
        : mJob(job), mThreads(threads), mStarts(std::move(starts)),
          mPieces(static_cast<int64_t>(mStarts.size()) - 1), mBlockFrames(blockFrames),
          mAbort(abort), mReader(job.mIn)
    {}

    // Export thread. kMsgNone (done or aborted), kMsgOutOfMemory or kMsgSaveFailed, as Run.
    MessageId Run(const ProgressFn& progress)
    {
        mBase = mJob.mOut.BeginWritesAt();
        if (mBase < 0)
            return kMsgSaveFailed;
        try {
            mStates.reset(new PieceState[static_cast<size_t>(mPieces)]);
        } catch (const std::bad_alloc&) {
            return kMsgOutOfMemory;
        }
        std::vector<std::thread> workers;
        for (int t = 0; t < mThreads && t < mPieces; ++t) {
            {
                std::lock_guard<std::mutex> lock(mMutex);
                ++mLiveWorkers;
            }
            try {
                workers.emplace_back([this, t] { Work(t); });
            } catch (const std::exception&) {
                std::lock_guard<std::mutex> lock(mMutex);
                --mLiveWorkers;
                break; // fewer workers; the ones running take every piece
            }
        }
        int error = 0;
        MessageId result = workers.empty() ? kMsgOutOfMemory : Accept(progress, error);
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStopFrom.store(0, std::memory_order_relaxed);
        }
        mChanged.notify_all();
        for (std::thread& w : workers)
            w.join();
        if (!mJob.mOut.EndDataAt(mBase + mJob.mWritten / kFrameBytes, error) &&
            result == kMsgNone)
            result = kMsgSaveFailed;
        return result;
    }

private:
    struct PieceState
    {
        bool Taken = false;
        int64_t Filled = 0; // bytes in the file, reported
        bool Finished = false;
        MessageId Result = kMsgNone; // or kMsgSaveFailed when reading or writing failed
        int Error = 0;               // the system's error number of a failed write
    };

    // Worker thread. The first worker filters with the job's own processor, the others with
    // theirs; all set up at once.
    void Work(int index)
    {
        std::unique_ptr<TVocalFunc> own;
        const MessageId made = index == 0 ? mJob.Prepare() : mJob.MakeProcessor(own);
        TVocalFunc* vocal = index == 0 ? mJob.mVocal.get() : own.get();
        std::unique_lock<std::mutex> lock(mMutex);
        if (made != kMsgNone) {
            mSetupFailure = made;
            --mLiveWorkers;
            mChanged.notify_all();
            return;
        }
        while (mNextPiece < mPieces && mNextPiece < mStopFrom.load(std::memory_order_relaxed)) {
            const int64_t piece = mNextPiece++;
            PieceState& state = mStates[static_cast<size_t>(piece)];
            state.Taken = true;
            lock.unlock();

            vocal->Filter().ResetStream();
            const auto at = static_cast<size_t>(piece);
            // The piece's first frame counted from the data's start.
            const int64_t frame = mBase + (mStarts[at] - mStarts.front());
            int64_t filled = 0;
            int blocks = 0;
            int error = 0;
            MessageId result = FilterFrames(
                *vocal, mReader, mStarts[at], mStarts[at + 1],
                [&](const uint8_t* block, int n) {
                    if (mJob.mOut.WriteFramesAt(frame + filled / kFrameBytes, block,
                                                n / kFrameBytes) != n) {
                        error = errno != 0 ? errno : EIO;
                        return false;
                    }
                    filled += n;
                    if (++blocks == kPublishEveryBlocks) {
                        blocks = 0;
                        std::lock_guard<std::mutex> guard(mMutex);
                        state.Filled = filled;
                        mChanged.notify_all();
                    }
                    return piece < mStopFrom.load(std::memory_order_relaxed) &&
                           !mAbort.load(std::memory_order_relaxed);
                });
            if (error != 0)
                result = kMsgSaveFailed;

            lock.lock();
            state.Filled = filled;
            state.Finished = true;
            state.Result = result;
            state.Error = error;
            if (result != kMsgNone) // later pieces cannot be accepted
                mStopFrom.store(std::min(mStopFrom.load(std::memory_order_relaxed), piece + 1),
                                std::memory_order_relaxed);
            mChanged.notify_all();
        }
        --mLiveWorkers;
        mChanged.notify_all();
    }

    // Export thread: accepts the pieces' blocks in order as they are reported. error is set
    // to the system's error number when a write failed.
    MessageId Accept(const ProgressFn& progress, int& error)
    {
        const int64_t total = (mStarts.back() - mStarts.front()) * kFrameBytes;
        const int64_t blockBytes = int64_t{mBlockFrames} * kFrameBytes;
        int counter = 0;
        for (int64_t piece = 0; piece < mPieces; ++piece) {
            const PieceState& state = mStates[static_cast<size_t>(piece)];
            int64_t accepted = 0;
            for (;;) {
                int64_t filled = 0;
                bool finished = false;
                MessageId result = kMsgNone;
                {
                    std::unique_lock<std::mutex> lock(mMutex);
                    mChanged.wait(lock, [&] {
                        return (state.Taken && (state.Filled > accepted || state.Finished)) ||
                               mLiveWorkers == 0;
                    });
                    if (!state.Taken)
                        return mSetupFailure != kMsgNone ? mSetupFailure : kMsgSaveFailed;
                    filled = state.Filled;
                    finished = state.Finished;
                    result = state.Result;
                    error = state.Error;
                }
                if (!finished && filled == accepted)
                    return kMsgSaveFailed; // its worker is gone without finishing it
                while (accepted < filled) {
                    const int64_t n = std::min(blockBytes, filled - accepted);
                    accepted += n;
                    if (!mJob.CountWritten(n, counter, total, progress, mAbort))
                        return kMsgNone;
                }
                if (finished) {
                    if (result != kMsgNone)
                        return result;
                    break;
                }
            }
        }
        if (progress)
            progress(mJob.mWritten, total);
        return kMsgNone;
    }

    ExportJob& mJob;
    const int mThreads;
    const std::vector<int64_t> mStarts;
    const int64_t mPieces;
    const int mBlockFrames;
    const std::atomic<bool>& mAbort;
    const StreamReader mReader;
    int64_t mBase = 0; // frames the output held before the stretch
    std::unique_ptr<PieceState[]> mStates;

    std::mutex mMutex;
    std::condition_variable mChanged;
    int64_t mNextPiece = 0; // the next piece a worker takes
    // Pieces from here on are not filtered (abort, failure). Set under the lock; workers also
    // read it between blocks without it.
    std::atomic<int64_t> mStopFrom{INT64_MAX};
    int mLiveWorkers = 0;
    MessageId mSetupFailure = kMsgNone;
};

MessageId ExportJob::Run(const ProgressFn& progress, const std::atomic<bool>& abort)
{
    mWritten = 0;
    mAborted = false;
    if (!mIn.IsOpen || mIn.Format.BlockAlign != kFrameBytes || mIn.Format.Channels != 2)
        return kMsgSaveFailed;
    int64_t first = 0;
    int64_t end = 0;
    Stretch(first, end);
    if (end == first)
        return kMsgNone;
    const int threads = mSettings.Threads > 0 ? mSettings.Threads : UsableCores();
    const int block = TVocalFunc::BlockFramesFor(InputRate(), kBlockSeconds);
    if (threads > 1 && block > 0) {
        // Pieces of 100 frame lengths, shrinking to 16 toward the end, in whole blocks.
        const int64_t frameSize = std::max(1, mSettings.FftSize);
        const int64_t longest = (kPieceFrameLengths * frameSize + block - 1) / block;
        const int64_t shortest = (kLastPieceFrameLengths * frameSize + block - 1) / block;
        std::vector<int64_t> starts;
        try {
            starts = PieceStarts(first, end, block, shortest, longest, threads);
        } catch (const std::bad_alloc&) {
            return kMsgOutOfMemory;
        }
        if (starts.size() > 2) {
            Pipeline pipeline(*this, threads, std::move(starts), block, abort);
            return pipeline.Run(progress);
        }
    }
    if (Prepare() != kMsgNone)
        return kMsgOutOfMemory;
    return RunOneThread(first, end, progress, abort);
}

} // namespace varnel
