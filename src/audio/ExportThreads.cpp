#include "audio/ExportJob.h"

#include "audio/ExportStages.h"
#include "audio/SoundSink.h"
#include "audio/SoundSource.h"
#include "audio/Twave.h"
#include "dsp/Vfunc.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace varnel {

using namespace export_stages;

namespace {

// Starts up to count workers running work(t), each counted live under mutex before it runs.
// A thread the system cannot start is not counted: fewer workers, the ones running take
// every piece.
template <typename Work>
std::vector<std::thread> StartWorkers(int count, std::mutex& mutex, int& live, Work work)
{
    std::vector<std::thread> workers;
    for (int t = 0; t < count; ++t) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++live;
        }
        try {
            workers.emplace_back(work, t);
        } catch (const std::exception&) {
            std::lock_guard<std::mutex> lock(mutex);
            --live;
            break;
        }
    }
    return workers;
}

} // namespace

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
          mAbort(abort), mReader(*job.mIn)
    {}

    // Export thread. kMsgNone (done or aborted), kMsgOutOfMemory or kMsgSaveFailed, as Run.
    MessageId Run(const ProgressFn& progress)
    {
        mBase = mJob.mOut->BeginWritesAt();
        if (mBase < 0)
            return kMsgSaveFailed;
        if (mJob.mRestOut) {
            mRestBase = mJob.mRestOut->BeginWritesAt();
            if (mRestBase < 0)
                return kMsgSaveFailed;
        }
        try {
            mStates.reset(new PieceState[static_cast<size_t>(mPieces)]);
        } catch (const std::bad_alloc&) {
            return kMsgOutOfMemory;
        }
        std::vector<std::thread> workers =
            StartWorkers(static_cast<int>(std::min<int64_t>(mThreads, mPieces)), mMutex,
                         mLiveWorkers, [this](int t) { Work(t); });
        int error = 0;
        int restError = 0;
        MessageId result = workers.empty() ? kMsgOutOfMemory : Accept(progress, error, restError);
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStopFrom.store(0, std::memory_order_relaxed);
        }
        mChanged.notify_all();
        for (std::thread& w : workers)
            w.join();
        // Both files end after the same accepted frames.
        const int64_t accepted = mJob.mWritten / kFrameBytes;
        if (!mJob.mOut->EndDataAt(mBase + accepted, error) && result == kMsgNone)
            result = kMsgSaveFailed;
        if (mJob.mRestOut && !mJob.mRestOut->EndDataAt(mRestBase + accepted, restError) &&
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
        int RestError = 0;           // the same for the rest stem's file
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
            // The piece's first frame counted from the stretch's first.
            const int64_t offset = mStarts[at] - mStarts.front();
            int64_t filled = 0;
            int blocks = 0;
            int error = 0;
            int restError = 0;
            // Writes n bytes of a block at its place: false, with the error, when it fails.
            const auto write = [&](TWaveData& out, int64_t base, const uint8_t* bytes, int n,
                                   int& failure) {
                if (out.WriteFramesAt(base + offset + filled / kFrameBytes, bytes,
                                      n / kFrameBytes) == n)
                    return true;
                failure = errno != 0 ? errno : EIO;
                return false;
            };
            Pcm16Lane lane{*vocal, mReader};
            MessageId result = FilterFrames(
                lane, mStarts[at], mStarts[at + 1],
                [&](const uint8_t* block, const uint8_t* rest, int n) {
                    if (!write(*mJob.mOut, mBase, block, n, error) ||
                        (mJob.mRestOut && !write(*mJob.mRestOut, mRestBase, rest, n, restError)))
                        return false;
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
            if (error != 0 || restError != 0)
                result = kMsgSaveFailed;

            lock.lock();
            state.Filled = filled;
            state.Finished = true;
            state.Result = result;
            state.Error = error;
            state.RestError = restError;
            if (result != kMsgNone) // later pieces cannot be accepted
                mStopFrom.store(std::min(mStopFrom.load(std::memory_order_relaxed), piece + 1),
                                std::memory_order_relaxed);
            mChanged.notify_all();
        }
        --mLiveWorkers;
        mChanged.notify_all();
    }

    // Export thread: accepts the pieces' blocks in order as they are reported. error and
    // restError are set to the system's error number when a write to that file failed.
    MessageId Accept(const ProgressFn& progress, int& error, int& restError)
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
                    restError = state.RestError;
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
    int64_t mBase = 0;     // frames the output held before the stretch
    int64_t mRestBase = 0; // the same for the rest stem's file
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

// The threaded export of a source into a sink. Workers filter pieces into slots of memory; the
// calling thread follows the pieces in order and writes their blocks to the sink as they are
// reported, accepting each block as the one-thread writer would (the same progress, abort and
// failure points), and gives a piece's slot to a later piece once the piece is written. A few
// slots (one more than the workers) bound the memory. A source that seeks exactly is read by
// each worker through a reader of its own; any other is decoded in order by one thread of its
// own, which fills each piece's input in its slot before a worker takes the piece (the frames
// that two pieces' inputs share are carried from one to the next).
class ExportJob::FloatPipeline
{
public:
    // starts holds each piece's first frame and then end; pieces are whole blocks of
    // blockFrames.
    FloatPipeline(ExportJob& job, int threads, std::vector<int64_t> starts, int blockFrames,
                  const std::atomic<bool>& abort)
        : mJob(job), mThreads(threads), mStarts(std::move(starts)),
          mPieces(static_cast<int64_t>(mStarts.size()) - 1), mBlockFrames(blockFrames),
          mAbort(abort), mSource(*job.mSource), mSequential(!job.mSource->SeeksExactly())
    {}

    // Export thread. kMsgNone (done or aborted), kMsgOutOfMemory or kMsgSaveFailed, as Run.
    MessageId Run(const ProgressFn& progress)
    {
        const int64_t frameSize = mJob.mSettings.FftSize;
        const int64_t overlap = mJob.mSettings.Overlap;
        if (frameSize < 4 || overlap < 1 || frameSize % overlap != 0)
            return kMsgOutOfMemory; // no filter can be set up with these
        mHop = frameSize / overlap;
        mFrameSize = frameSize;
        mLatency = frameSize - mHop;
        try {
            Allocate();
        } catch (const std::exception&) {
            return kMsgOutOfMemory;
        }
        std::vector<std::thread> workers =
            StartWorkers(static_cast<int>(std::min<int64_t>(mThreads, mPieces)), mMutex,
                         mLiveWorkers, [this](int t) { Work(t); });
        std::thread decoder;
        MessageId result = workers.empty() ? kMsgOutOfMemory : kMsgNone;
        if (result == kMsgNone && mSequential) {
            try {
                decoder = std::thread([this] { Decode(); });
            } catch (const std::exception&) {
                result = kMsgOutOfMemory;
            }
        }
        if (result == kMsgNone)
            result = Accept(progress);
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStopFrom = 0;
        }
        mChanged.notify_all();
        for (std::thread& w : workers)
            w.join();
        if (decoder.joinable())
            decoder.join();
        return result;
    }

private:
    struct Slot
    {
        SinkBlock Out;  // the piece's output, converted for the sink
        SinkBlock Rest; // the rest stem's, converted for its sink
        // Its input, from a source read in order. Not cleared, as Out.
        std::unique_ptr<float[]> InL, InR;
    };

    struct PieceState
    {
        int Slot = -1;
        bool Ready = false; // has its slot and, from a source read in order, its whole input
        bool Taken = false;
        int64_t Filled = 0; // output frames in the slot, reported
        bool Finished = false;
        MessageId Result = kMsgNone;
        int64_t End = INT64_MAX; // where the sound ends, as its input knew
    };

    int64_t PieceFrames(int64_t piece) const
    {
        return mStarts[static_cast<size_t>(piece) + 1] - mStarts[static_cast<size_t>(piece)];
    }
    int64_t InputStart(int64_t piece) const
    {
        return StreamStart(mStarts[static_cast<size_t>(piece)], mFrameSize, mHop);
    }
    int64_t InputEnd(int64_t piece) const
    {
        return mStarts[static_cast<size_t>(piece) + 1] + mLatency;
    }

    // Export thread; throws std::bad_alloc.
    void Allocate()
    {
        mStates.resize(static_cast<size_t>(mPieces));
        int64_t longest = 0;
        int64_t longestInput = 0;
        for (int64_t p = 0; p < mPieces; ++p) {
            longest = std::max(longest, PieceFrames(p));
            longestInput = std::max(longestInput, InputEnd(p) - InputStart(p));
            if (p + 1 < mPieces)
                mCarryFrames = std::max(mCarryFrames, InputEnd(p) - InputStart(p + 1));
        }
        const int64_t slots = std::min<int64_t>(mThreads + 1, mPieces);
        mSlots.resize(static_cast<size_t>(slots));
        for (int64_t s = 0; s < slots; ++s) {
            Slot& slot = mSlots[static_cast<size_t>(s)];
            slot.Out.Allocate(mJob.mSink->Format().Conversion, longest);
            if (mJob.mRestSink)
                slot.Rest.Allocate(mJob.mRestSink->Format().Conversion, longest);
            if (mSequential) {
                slot.InL.reset(new float[static_cast<size_t>(longestInput)]);
                slot.InR.reset(new float[static_cast<size_t>(longestInput)]);
            }
            mFreeSlots.push_back(static_cast<int>(s));
        }
        if (mSequential) {
            mCarryL.resize(static_cast<size_t>(std::max<int64_t>(mCarryFrames, 0)));
            mCarryR.resize(mCarryL.size());
        }
    }

    // Decoding thread: fills each piece's input in order, in a slot taken for it.
    void Decode()
    {
        std::unique_ptr<SourceReader> reader = mSource.NewReader();
        if (!reader) {
            DecodeFailed(0);
            return;
        }
        ReaderInput input(*reader, mSource.Info());
        int64_t carryStart = 0;
        int64_t carryEnd = 0;
        for (int64_t piece = 0; piece < mPieces; ++piece) {
            int slotIndex = -1;
            {
                std::unique_lock<std::mutex> lock(mMutex);
                mChanged.wait(lock, [&] { return !mFreeSlots.empty() || piece >= mStopFrom; });
                if (piece >= mStopFrom)
                    return;
                slotIndex = mFreeSlots.back();
                mFreeSlots.pop_back();
            }
            Slot& slot = mSlots[static_cast<size_t>(slotIndex)];
            const int64_t start = InputStart(piece);
            const int64_t end = InputEnd(piece);
            int64_t at = start;
            if (carryEnd > start && carryStart <= start) {
                const auto from = static_cast<size_t>(start - carryStart);
                const auto count = static_cast<size_t>(std::min(carryEnd, end) - start);
                std::copy(mCarryL.begin() + static_cast<long>(from),
                          mCarryL.begin() + static_cast<long>(from + count), slot.InL.get());
                std::copy(mCarryR.begin() + static_cast<long>(from),
                          mCarryR.begin() + static_cast<long>(from + count), slot.InR.get());
                at = start + static_cast<int64_t>(count);
            }
            while (at < end) {
                if (piece >= mStopFrom.load())
                    return ReleaseSlot(slotIndex);
                const int n = static_cast<int>(std::min<int64_t>(mBlockFrames, end - at));
                const auto offset = static_cast<size_t>(at - start);
                if (!input.Fill(slot.InL.get() + offset, slot.InR.get() + offset, at, n)) {
                    ReleaseSlot(slotIndex);
                    DecodeFailed(piece);
                    return;
                }
                at += n;
            }
            if (piece + 1 < mPieces) {
                carryStart = std::max(start, InputStart(piece + 1));
                carryEnd = end;
                const auto from = static_cast<size_t>(carryStart - start);
                const auto count = static_cast<size_t>(carryEnd - carryStart);
                std::copy(slot.InL.get() + from, slot.InL.get() + from + count, mCarryL.begin());
                std::copy(slot.InR.get() + from, slot.InR.get() + from + count, mCarryR.begin());
            }
            const int64_t soundEnd = input.End();
            {
                std::lock_guard<std::mutex> lock(mMutex);
                PieceState& state = mStates[static_cast<size_t>(piece)];
                state.Slot = slotIndex;
                state.End = soundEnd;
                state.Ready = true;
                if (soundEnd <= mStarts[static_cast<size_t>(piece) + 1]) {
                    // The sound ends in this piece: no later piece holds any of it.
                    mSoundEnd = soundEnd;
                    mStopFrom = std::min<int64_t>(mStopFrom, piece + 1);
                }
            }
            mChanged.notify_all();
            if (soundEnd <= mStarts[static_cast<size_t>(piece) + 1])
                return;
        }
    }

    void DecodeFailed(int64_t piece)
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStopFrom = std::min<int64_t>(mStopFrom, piece);
        }
        mChanged.notify_all();
    }

    void ReleaseSlot(int slot)
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mFreeSlots.push_back(slot);
        }
        mChanged.notify_all();
    }

    // Worker thread. The first worker filters with the job's own processor, the others with
    // theirs; all set up at once. From a source that seeks exactly each reads through its own
    // reader.
    void Work(int index)
    {
        std::unique_ptr<TVocalFunc> own;
        MessageId made = index == 0 ? mJob.Prepare() : mJob.MakeProcessor(own);
        TVocalFunc* vocal = index == 0 ? mJob.mVocal.get() : own.get();
        std::unique_ptr<SourceReader> reader;
        if (made == kMsgNone && !mSequential) {
            reader = mSource.NewReader();
            if (!reader)
                made = kMsgSaveFailed;
        }
        std::unique_lock<std::mutex> lock(mMutex);
        if (made != kMsgNone) {
            mSetupFailure = made;
            --mLiveWorkers;
            mChanged.notify_all();
            return;
        }
        for (;;) {
            mChanged.wait(lock, [&] {
                return mNextPiece >= std::min<int64_t>(mPieces, mStopFrom) ||
                       (mSequential ? mStates[static_cast<size_t>(mNextPiece)].Ready
                                    : !mFreeSlots.empty());
            });
            if (mNextPiece >= std::min<int64_t>(mPieces, mStopFrom))
                break;
            const int64_t piece = mNextPiece++;
            PieceState& state = mStates[static_cast<size_t>(piece)];
            if (!mSequential) {
                state.Slot = mFreeSlots.back();
                mFreeSlots.pop_back();
                state.Ready = true;
            }
            state.Taken = true;
            Slot& slot = mSlots[static_cast<size_t>(state.Slot)];
            const int64_t pieceEnd = state.End;
            lock.unlock();

            vocal->Filter().ResetStream();
            const int64_t first = mStarts[static_cast<size_t>(piece)];
            const int64_t last = mStarts[static_cast<size_t>(piece) + 1];
            int64_t filled = 0;
            int blocks = 0;
            // Workers convert their own output, so the writer only writes.
            auto emit = [&](const float* left, const float* right, const float* restLeft,
                            const float* restRight, int n) {
                mJob.mSink->Convert(left, right, first + filled, n, slot.Out, filled);
                if (mJob.mRestSink)
                    mJob.mRestSink->Convert(restLeft, restRight, first + filled, n, slot.Rest,
                                            filled);
                filled += n;
                if (++blocks == kPublishEveryBlocks) {
                    blocks = 0;
                    std::lock_guard<std::mutex> guard(mMutex);
                    state.Filled = filled;
                    mChanged.notify_all();
                }
                return piece < mStopFrom.load() && !mAbort.load(std::memory_order_relaxed);
            };
            MessageId result = kMsgNone;
            if (mSequential) {
                BufferInput input(slot.InL.get(), slot.InR.get(), InputStart(piece),
                                  InputEnd(piece) - InputStart(piece), pieceEnd);
                FloatLane lane{*vocal, input};
                result = FilterFrames(lane, first, last, emit);
            } else {
                ReaderInput input(*reader, mSource.Info());
                FloatLane lane{*vocal, input};
                result = FilterFrames(lane, first, last, emit);
            }

            lock.lock();
            state.Filled = filled;
            state.Finished = true;
            state.Result = result;
            if (result != kMsgNone) // later pieces cannot be accepted
                mStopFrom = std::min<int64_t>(mStopFrom, piece + 1);
            mChanged.notify_all();
        }
        --mLiveWorkers;
        mChanged.notify_all();
    }

    // Export thread: writes the pieces' blocks to the sink in order as they are reported.
    MessageId Accept(const ProgressFn& progress)
    {
        const int64_t total = (mStarts.back() - mStarts.front()) * kFrameBytes;
        int counter = 0;
        for (int64_t piece = 0; piece < mPieces; ++piece) {
            const PieceState& state = mStates[static_cast<size_t>(piece)];
            const int64_t first = mStarts[static_cast<size_t>(piece)];
            int64_t accepted = 0;
            for (;;) {
                int64_t filled = 0;
                bool finished = false;
                MessageId result = kMsgNone;
                const Slot* slot = nullptr;
                {
                    std::unique_lock<std::mutex> lock(mMutex);
                    mChanged.wait(lock, [&] {
                        return (state.Taken && (state.Filled > accepted || state.Finished)) ||
                               mLiveWorkers == 0 || first >= mSoundEnd;
                    });
                    if (first >= mSoundEnd)
                        return Done(progress, total);
                    if (!state.Taken)
                        return mSetupFailure != kMsgNone ? mSetupFailure : kMsgSaveFailed;
                    filled = state.Filled;
                    finished = state.Finished;
                    result = state.Result;
                    slot = &mSlots[static_cast<size_t>(state.Slot)];
                }
                if (!finished && filled == accepted)
                    return kMsgSaveFailed; // its worker is gone without finishing it
                while (accepted < filled) {
                    const auto n =
                        static_cast<int>(std::min<int64_t>(mBlockFrames, filled - accepted));
                    if (!mJob.mSink->WriteConverted(slot->Out, accepted, n) ||
                        (mJob.mRestSink &&
                         !mJob.mRestSink->WriteConverted(slot->Rest, accepted, n)))
                        return kMsgSaveFailed;
                    accepted += n;
                    if (!mJob.CountWritten(int64_t{n} * kFrameBytes, counter, total, progress,
                                           mAbort))
                        return kMsgNone;
                }
                if (finished) {
                    if (result != kMsgNone)
                        return result;
                    break;
                }
            }
            ReleaseSlot(state.Slot);
        }
        return Done(progress, total);
    }

    MessageId Done(const ProgressFn& progress, int64_t total)
    {
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
    const SoundSource& mSource;
    const bool mSequential;
    int64_t mFrameSize = 0;
    int64_t mHop = 1;
    int64_t mLatency = 0;
    std::vector<PieceState> mStates;
    std::vector<Slot> mSlots;
    int64_t mCarryFrames = 0;
    std::vector<float> mCarryL, mCarryR; // the decoder's: input two pieces share

    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<int> mFreeSlots;
    int64_t mNextPiece = 0; // the next piece a worker takes
    // Pieces from here on are not filtered (abort, failure, the sound's end). Set under the
    // lock; workers and the decoder also read it between blocks without it.
    std::atomic<int64_t> mStopFrom{INT64_MAX};
    int64_t mSoundEnd = INT64_MAX; // where a decoder that gave out early ended the sound
    int mLiveWorkers = 0;
    MessageId mSetupFailure = kMsgNone;
};

MessageId ExportJob::RunThreaded(int threads, std::vector<int64_t> starts, int blockFrames,
                                 const ProgressFn& progress, const std::atomic<bool>& abort)
{
    if (mIn) {
        Pipeline pipeline(*this, threads, std::move(starts), blockFrames, abort);
        return pipeline.Run(progress);
    }
    FloatPipeline pipeline(*this, threads, std::move(starts), blockFrames, abort);
    return pipeline.Run(progress);
}

} // namespace varnel
