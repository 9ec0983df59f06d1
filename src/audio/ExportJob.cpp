#include "audio/ExportJob.h"

#include "audio/Twave.h"
#include "dsp/Vfunc.h"
#include "platform/Assert.h"

#include <algorithm>
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
// A piece spends about two frame lengths on context before its first written frame; at 100
// frame lengths per piece that is 2% of the work.
constexpr int64_t kPieceFrameLengths = 100;
// The pieces in flight hold at most this many output bytes together.
constexpr int64_t kPieceMemoryBytes = 48 << 20;

// Rounds toward minus infinity, so positions before the file's start land on the hop grid too.
int64_t FloorToMultiple(int64_t value, int64_t step) noexcept
{
    int64_t q = value / step;
    if (value % step != 0 && value < 0)
        --q;
    return q * step;
}

// The input as the filter streams see it: silence before the file's start and after its end,
// file frames in between. Shared by the workers under a lock; it seeks only when a stream does
// not continue where the last read ended.
class StreamReader
{
public:
    StreamReader(TWaveData& in, bool shared)
        : mIn(in), mShared(shared), mFileFrames(in.FrameCount())
    {}

    // Any worker. Fills raw with count frames of the stream from frame begin. False when the
    // input fails or ends early (the file shrank).
    bool Fill(uint8_t* raw, int64_t begin, int count) noexcept
    {
        const int64_t end = begin + count;
        const int64_t before = std::clamp<int64_t>(-begin, 0, count);
        const int64_t start = std::max<int64_t>(begin, 0);
        const int64_t inFile = std::max<int64_t>(0, std::min(end, mFileFrames) - start);
        auto at = static_cast<size_t>(before * kFrameBytes);
        std::memset(raw, 0, at);
        if (inFile > 0) {
            std::unique_lock<std::mutex> lock(mMutex, std::defer_lock);
            if (mShared)
                lock.lock();
            if (start != mPosition) {
                mPosition = -1;
                if (mIn.SeekFrame(start) < 0)
                    return false;
                mPosition = start;
            }
            auto want = static_cast<size_t>(inFile * kFrameBytes);
            while (want > 0) {
                const int n = mIn.Read(raw + at, static_cast<int>(want));
                if (n <= 0) {
                    mPosition = -1;
                    return false;
                }
                at += static_cast<size_t>(n);
                want -= static_cast<size_t>(n);
            }
            mPosition = start + inFile;
        }
        std::memset(raw + at, 0, static_cast<size_t>(count) * kFrameBytes - at);
        return true;
    }

private:
    TWaveData& mIn;
    const bool mShared;
    const int64_t mFileFrames;
    std::mutex mMutex;
    int64_t mPosition = -1; // frame the next read would return; -1 unknown
};

// Filters the stream for the output frames [first, end) of the stretch and hands each block
// of output bytes to emit, which returns false to stop. Returns kMsgNone (done or stopped) or
// kMsgSaveFailed (the input failed).
template <class Emit>
MessageId FilterFrames(TVocalFunc& vocal, StreamReader& reader, int64_t first, int64_t end,
                       Emit&& emit) noexcept;

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

MessageId ExportJob::MakeProcessor(std::unique_ptr<TVocalFunc>& vocal) const
{
    try {
        vocal = std::make_unique<TVocalFunc>();
    } catch (const std::bad_alloc&) {
        return kMsgOutOfMemory;
    }
    const auto rate = static_cast<int>(std::min<uint32_t>(mIn.Format.SamplesPerSec, 0x7FFFFFFF));
    if (vocal->Init(2, rate, kBlockSeconds) != 0 || vocal->BlockFrames() < 1)
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
MessageId FilterFrames(TVocalFunc& vocal, StreamReader& reader, int64_t first, int64_t end,
                       Emit&& emit) noexcept
{
    const CenterFocus& filter = vocal.Filter();
    const int64_t frameSize = filter.FrameSize();
    const int64_t hop = filter.Hop();
    const int64_t latency = filter.Latency();
    const int block = vocal.BlockFrames();

    // The stream starts on the hop grid of a whole-file save, one frame length or more before
    // the first frame, so every filter frame that touches it sees real context.
    int64_t streamPos = FloorToMultiple(first - frameSize, hop);

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

MessageId ExportJob::RunOneThread(int64_t first, int64_t end, const ProgressFn& progress,
                                  const std::atomic<bool>& abort)
{
    const int64_t total = (end - first) * kFrameBytes;
    StreamReader reader(mIn, false);
    int counter = 0;
    MessageId result = kMsgNone;
    const MessageId read =
        FilterFrames(*mVocal, reader, first, end, [&](const uint8_t* bytes, int n) {
            if (mOut.Write(bytes, n) != n) {
                result = kMsgSaveFailed;
                return false;
            }
            mWritten += n;
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
        });
    if (read != kMsgNone)
        return read;
    if (result != kMsgNone || mAborted)
        return result;
    if (progress)
        progress(mWritten, total);
    return kMsgNone;
}

// The threaded export: workers filter pieces into slots, the calling thread writes the slots
// in piece order. One lock guards the slots and the piece counters; workers publish each
// block as they finish it, so the writer follows them block by block.
class ExportJob::Pipeline
{
public:
    Pipeline(ExportJob& job, int threads, int64_t first, int64_t end, int64_t pieceFrames,
             const std::atomic<bool>& abort)
        : mJob(job), mThreads(threads), mFirst(first), mEnd(end), mPieceFrames(pieceFrames),
          mPieces((end - first + pieceFrames - 1) / pieceFrames), mAbort(abort),
          mReader(job.mIn, true)
    {}

    // Export thread. kMsgNone (done or aborted), kMsgOutOfMemory or kMsgSaveFailed, as Run.
    MessageId Run(const ProgressFn& progress)
    {
        const int64_t window = std::min<int64_t>(2 * mThreads, mPieces);
        try {
            mSlots.resize(static_cast<size_t>(window));
            for (Slot& s : mSlots)
                // Left uninitialised: every byte is written by a worker before the writer
                // reads it, and the pages are first touched by the workers, in parallel,
                // instead of being cleared here before any of them starts.
                s.Bytes.reset(new uint8_t[static_cast<size_t>(mPieceFrames * kFrameBytes)]);
        } catch (const std::bad_alloc&) {
            return kMsgOutOfMemory;
        } catch (const std::length_error&) {
            return kMsgOutOfMemory;
        }
        std::vector<std::thread> workers;
        for (int t = 0; t < mThreads && t < mPieces; ++t) {
            try {
                workers.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break; // fewer workers; the ones running take every piece
            }
        }
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mLiveWorkers = static_cast<int>(workers.size());
        }
        const MessageId result = workers.empty() ? kMsgOutOfMemory : Write(progress);
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStopFrom = 0;
        }
        mChanged.notify_all();
        for (std::thread& w : workers)
            w.join();
        return result;
    }

private:
    struct Slot
    {
        std::unique_ptr<uint8_t[]> Bytes;
        int64_t Piece = -1;
        int64_t Filled = 0; // bytes published
        bool Finished = false;
        MessageId Result = kMsgNone; // or kMsgSaveFailed when the input failed
    };

    Slot& SlotOf(int64_t piece) { return mSlots[static_cast<size_t>(piece % mSlots.size())]; }

    // Worker thread.
    void Work()
    {
        std::unique_ptr<TVocalFunc> vocal;
        const MessageId made = mJob.MakeProcessor(vocal);
        std::unique_lock<std::mutex> lock(mMutex);
        if (made != kMsgNone) {
            mSetupFailure = made;
            --mLiveWorkers;
            mChanged.notify_all();
            return;
        }
        for (;;) {
            mChanged.wait(lock, [this] {
                return mNextPiece >= mPieces || mNextPiece >= mStopFrom ||
                       mNextPiece < mWriterPiece + static_cast<int64_t>(mSlots.size());
            });
            const int64_t piece = mNextPiece;
            if (piece >= mPieces || piece >= mStopFrom)
                break;
            ++mNextPiece;
            Slot& slot = SlotOf(piece);
            slot.Piece = piece;
            slot.Filled = 0;
            slot.Finished = false;
            slot.Result = kMsgNone;
            lock.unlock();

            vocal->Filter().ResetStream();
            const int64_t first = mFirst + piece * mPieceFrames;
            const int64_t end = std::min(mEnd, first + mPieceFrames);
            uint8_t* bytes = slot.Bytes.get();
            int64_t filled = 0;
            const MessageId result =
                FilterFrames(*vocal, mReader, first, end, [&](const uint8_t* block, int n) {
                    std::memcpy(bytes + filled, block, static_cast<size_t>(n));
                    filled += n;
                    std::lock_guard<std::mutex> guard(mMutex);
                    slot.Filled = filled;
                    mChanged.notify_all();
                    return piece < mStopFrom && !mAbort.load(std::memory_order_relaxed);
                });

            lock.lock();
            slot.Finished = true;
            slot.Result = result;
            if (result != kMsgNone)
                mStopFrom = std::min(mStopFrom, piece + 1); // later pieces cannot be written
            mChanged.notify_all();
        }
        --mLiveWorkers;
        mChanged.notify_all();
    }

    // Export thread: writes the pieces in order, block by block, as they are published.
    MessageId Write(const ProgressFn& progress)
    {
        const int64_t total = (mEnd - mFirst) * kFrameBytes;
        const int64_t blockBytes = static_cast<int64_t>(mJob.mVocal->BlockFrames()) * kFrameBytes;
        int counter = 0;
        for (int64_t piece = 0; piece < mPieces; ++piece) {
            Slot& slot = SlotOf(piece);
            int64_t written = 0;
            for (;;) {
                int64_t filled = 0;
                bool finished = false;
                MessageId result = kMsgNone;
                {
                    std::unique_lock<std::mutex> lock(mMutex);
                    mChanged.wait(lock, [&] {
                        return (slot.Piece == piece && (slot.Filled > written || slot.Finished)) ||
                               mLiveWorkers == 0;
                    });
                    if (slot.Piece != piece)
                        return mSetupFailure != kMsgNone ? mSetupFailure : kMsgSaveFailed;
                    filled = slot.Filled;
                    finished = slot.Finished;
                    result = slot.Result;
                }
                while (written < filled) {
                    const int n = static_cast<int>(std::min(blockBytes, filled - written));
                    if (mJob.mOut.Write(slot.Bytes.get() + written, n) != n)
                        return kMsgSaveFailed;
                    written += n;
                    mJob.mWritten += n;
                    if (++counter == kProgressEveryBlocks) {
                        counter = 0;
                        if (progress)
                            progress(mJob.mWritten, total);
                    }
                    if (mAbort.load(std::memory_order_relaxed)) {
                        mJob.mAborted = true;
                        return kMsgNone;
                    }
                }
                if (finished && written == filled) {
                    if (result != kMsgNone)
                        return result;
                    break;
                }
            }
            {
                std::lock_guard<std::mutex> lock(mMutex);
                mWriterPiece = piece + 1;
            }
            mChanged.notify_all();
        }
        if (progress)
            progress(mJob.mWritten, total);
        return kMsgNone;
    }

    ExportJob& mJob;
    const int mThreads;
    const int64_t mFirst, mEnd, mPieceFrames, mPieces;
    const std::atomic<bool>& mAbort;
    StreamReader mReader;
    std::vector<Slot> mSlots;

    std::mutex mMutex;
    std::condition_variable mChanged;
    int64_t mNextPiece = 0;        // the next piece a worker takes
    int64_t mWriterPiece = 0;      // the piece being written; slots before it are free
    int64_t mStopFrom = INT64_MAX; // pieces from here on are not filtered (abort, failure)
    int mLiveWorkers = 0;
    MessageId mSetupFailure = kMsgNone;
};

MessageId ExportJob::RunThreads(int threads, int64_t first, int64_t end, const ProgressFn& progress,
                                const std::atomic<bool>& abort)
{
    const int64_t block = mVocal->BlockFrames();
    const int64_t frameSize = mVocal->Filter().FrameSize();
    // Pieces are whole blocks, so the writer's blocks fall where one thread's do.
    int64_t pieceBlocks = (kPieceFrameLengths * frameSize + block - 1) / block;
    const int64_t memoryBlocks = kPieceMemoryBytes / (2 * threads * block * kFrameBytes);
    pieceBlocks = std::max<int64_t>(1, std::min(pieceBlocks, memoryBlocks));
    const int64_t pieceFrames = pieceBlocks * block;
    if (end - first <= pieceFrames)
        return RunOneThread(first, end, progress, abort);
    Pipeline pipeline(*this, threads, first, end, pieceFrames, abort);
    return pipeline.Run(progress);
}

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
    if (Prepare() != kMsgNone)
        return kMsgOutOfMemory;
    const int threads = mSettings.Threads > 0 ? mSettings.Threads : UsableCores();
    if (threads <= 1)
        return RunOneThread(first, end, progress, abort);
    return RunThreads(threads, first, end, progress, abort);
}

} // namespace varnel
