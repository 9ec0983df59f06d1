#pragma once

// The stages the export job's one-thread and threaded runs share: where a stretch's stream
// starts, how pieces are cut, the inputs the filter streams read, and the filter loop itself.
// Internal to the export job (ExportJob.cpp, ExportThreads.cpp).

#include "audio/MessageId.h"
#include "audio/SoundSource.h"
#include "audio/Twave.h"
#include "dsp/Vfunc.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace varnel::export_stages {

constexpr double kBlockSeconds = 0.5;
constexpr int kProgressEveryBlocks = 12;
// Before its first written frame a piece transforms about one frame length of context; at 100
// frame lengths per piece that is 1% of the work. Pieces shrink toward the stretch's end so
// the workers finish together, but not below 16 frame lengths (6%).
constexpr int64_t kPieceFrameLengths = 100;
constexpr int64_t kLastPieceFrameLengths = 16;
// A piece whose output waits in memory for its turn (an output written in order) holds at
// most this many frames, so high rates' long frames do not make pieces of many megabytes.
constexpr int64_t kMostBufferedPieceFrames = 1 << 20;
// Workers hand the writer their output every few blocks rather than every block: each hand-over
// wakes the writer, and on a busy machine that costs more than the bytes it moves.
constexpr int kPublishEveryBlocks = 8;

// Rounds toward minus infinity, so positions before the file's start land on the hop grid too.
inline int64_t FloorToMultiple(int64_t value, int64_t step) noexcept
{
    int64_t q = value / step;
    if (value % step != 0 && value < 0)
        --q;
    return q * step;
}

// The first input frame a stream for output frames from `first` on reads: on the hop grid of a
// whole-file save, one frame length or more before the first frame.
inline int64_t StreamStart(int64_t first, int64_t frameSize, int64_t hop) noexcept
{
    return FloorToMultiple(first - frameSize, hop);
}

// The first frame of each piece of the stretch [first, end), then end. Pieces are whole
// blocks, so the writer's blocks fall where one thread's do. Each takes an equal share of
// what is left for twice the workers, between shortest and longest blocks: long pieces while
// much is left, shorter ones toward the end, so no worker is left with a long piece while the
// others have finished.
std::vector<int64_t> PieceStarts(int64_t first, int64_t end, int64_t block, int64_t shortest,
                                 int64_t longest, int threads);

// The input of a 16-bit WAV file as the filter streams see it: silence before the file's start
// and after its end, file frames in between, read by position, so any number of workers can
// share it without disturbing one another or the file's place.
class StreamReader
{
public:
    explicit StreamReader(const TWaveData& in) : mIn(in), mFileFrames(in.FrameCount()) {}

    // Any thread. Fills raw with count frames of the stream from frame begin. False when the
    // input fails or ends early (the file shrank).
    bool Fill(uint8_t* raw, int64_t begin, int count) const noexcept;

private:
    const TWaveData& mIn;
    const int64_t mFileFrames;
};

// The input of the float path: count frames of the stream from frame begin, in 16-bit units,
// silence outside the sound. Fills are asked for in the order of the stream.
class FloatInput
{
public:
    virtual ~FloatInput() = default;
    // The thread that filters. False when the input fails.
    virtual bool Fill(float* left, float* right, int64_t begin, int count) noexcept = 0;
    // The end of the sound as far as it is known: the source's frames, or less where a
    // decoder gave out before the length its file states.
    virtual int64_t End() const noexcept = 0;
};

// Reads through a source's reader, moving it where a fill begins elsewhere. A lossy decoder
// that gives out early ends the sound there (the length its decoder gives); any other source
// that ends early has failed (the file shrank).
class ReaderInput final : public FloatInput
{
public:
    ReaderInput(SourceReader& reader, const SoundInfo& info)
        : mReader(reader), mEnd(info.Frames), mEndMayComeEarly(info.Sample == SampleFormat::Lossy)
    {}
    bool Fill(float* left, float* right, int64_t begin, int count) noexcept override;
    int64_t End() const noexcept override { return mEnd; }

private:
    SourceReader& mReader;
    int64_t mEnd;
    const bool mEndMayComeEarly;
};

// Serves fills from a buffer that holds the stream's frames [start, start + frames): a piece's
// input, decoded for it beforehand.
class BufferInput final : public FloatInput
{
public:
    BufferInput(const float* left, const float* right, int64_t start, int64_t frames, int64_t end)
        : mLeft(left), mRight(right), mStart(start), mFrames(frames), mEnd(end)
    {}
    bool Fill(float* left, float* right, int64_t begin, int count) noexcept override;
    int64_t End() const noexcept override { return mEnd; }

private:
    const float* mLeft;
    const float* mRight;
    const int64_t mStart;
    const int64_t mFrames;
    const int64_t mEnd;
};

// The 16-bit path: raw bytes through the processor's 16-bit entry, clipped on the way out.
struct Pcm16Lane
{
    TVocalFunc& Vocal;
    const StreamReader& Reader;

    bool Feed(int64_t begin, int count, bool output) noexcept
    {
        if (!Reader.Fill(Vocal.RawIn(), begin, count))
            return false;
        Vocal.Deinterleave(count * kFrameBytes);
        Vocal.Process(0, count);
        if (output) {
            Vocal.Interleave(count * kFrameBytes);
            if (Vocal.RestEnabled())
                Vocal.InterleaveRest(count * kFrameBytes);
        }
        return true;
    }
    int64_t End() const noexcept { return INT64_MAX; }
    // Hands emit the output block: its raw bytes, the rest stem's (null without one) and
    // their number.
    template <class Emit>
    bool Output(Emit& emit, int count)
    {
        return emit(Vocal.RawOut(), Vocal.RestEnabled() ? Vocal.RawRest() : nullptr,
                    count * kFrameBytes);
    }
};

// The float path: floats in 16-bit units through the processor's float entry, untouched.
struct FloatLane
{
    TVocalFunc& Vocal;
    FloatInput& Input;

    bool Feed(int64_t begin, int count, bool) noexcept
    {
        if (!Input.Fill(Vocal.FloatInL(), Vocal.FloatInR(), begin, count))
            return false;
        Vocal.ProcessFloat(0, count);
        return true;
    }
    int64_t End() const noexcept { return Input.End(); }
    // Hands emit the output block: left, right, the rest stem's left and right (null without
    // one) and the frame count.
    template <class Emit>
    bool Output(Emit& emit, int count)
    {
        const bool rest = Vocal.RestEnabled();
        return emit(Vocal.FloatOutL(), Vocal.FloatOutR(), rest ? Vocal.FloatRestL() : nullptr,
                    rest ? Vocal.FloatRestR() : nullptr, count);
    }
};

// Filters the stream for the output frames [first, end) of the stretch and hands each block of
// output to emit (through the lane), which returns false to stop. Output stops where the lane's
// sound ends. Returns kMsgNone (done or stopped) or kMsgSaveFailed (the input failed).
template <class Lane, class Emit>
MessageId FilterFrames(Lane& lane, int64_t first, int64_t end, Emit&& emit) noexcept
{
    TVocalFunc& vocal = lane.Vocal;
    CenterFocus& filter = vocal.Filter();
    const int64_t frameSize = filter.FrameSize();
    const int64_t hop = filter.Hop();
    const int64_t latency = filter.Latency();
    const int block = vocal.BlockFrames();

    // The stream starts on the hop grid of a whole-file save, one frame length or more before
    // the first frame, so every filter frame that touches it sees real context. The frames
    // that end at or before the first frame only give output that is discarded: skipped.
    int64_t streamPos = StreamStart(first, frameSize, hop);
    filter.SkipFrames(static_cast<int>((first - streamPos) / hop));

    // Warm-up: output of the stream up to the first frame is discarded.
    const int64_t warmEnd = first + latency;
    while (streamPos < warmEnd) {
        const int n = static_cast<int>(std::min<int64_t>(block, warmEnd - streamPos));
        if (!lane.Feed(streamPos, n, false))
            return kMsgSaveFailed;
        streamPos += n;
    }

    // Each block feeds the frames one latency ahead of the frames it writes.
    for (int64_t out = first; out < end;) {
        const int n = static_cast<int>(std::min<int64_t>(block, end - out));
        if (!lane.Feed(streamPos, n, true))
            return kMsgSaveFailed;
        streamPos += n;
        const int keep = static_cast<int>(std::clamp<int64_t>(lane.End() - out, 0, n));
        if (keep > 0 && !lane.Output(emit, keep))
            return kMsgNone;
        if (keep < n)
            return kMsgNone; // the sound ended inside this block
        out += n;
    }
    return kMsgNone;
}

} // namespace varnel::export_stages
