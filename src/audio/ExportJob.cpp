#include "audio/ExportJob.h"

#include "audio/Twave.h"
#include "dsp/Vfunc.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace varnel {

namespace {

constexpr int kFrameBytes = 4; // 16-bit stereo
constexpr double kBlockSeconds = 0.5;
constexpr int kProgressEveryBlocks = 12;

// Rounds toward minus infinity, so positions before the file's start land on the hop grid too.
int64_t FloorToMultiple(int64_t value, int64_t step) noexcept
{
    int64_t q = value / step;
    if (value % step != 0 && value < 0)
        --q;
    return q * step;
}

} // namespace

ExportJob::ExportJob(TWaveData& in, TWaveData& out, const ExportSettings& settings)
    : mIn(in), mOut(out), mSettings(settings)
{}

ExportJob::~ExportJob() = default;

void ExportJob::Stretch(int64_t& first, int64_t& end) const noexcept
{
    const int64_t frames = mIn.FrameCount();
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

int ExportJob::Prepare()
{
    if (mPrepared >= 0)
        return mPrepared;
    mPrepared = 7;
    try {
        mVocal = std::make_unique<TVocalFunc>();
    } catch (const std::bad_alloc&) {
        return mPrepared;
    }
    const auto rate = static_cast<int>(std::min<uint32_t>(mIn.Format.SamplesPerSec, 0x7FFFFFFF));
    if (mVocal->Init(2, rate, kBlockSeconds) != 0 || mVocal->BlockFrames() < 1)
        return mPrepared;
    if (mVocal->SetupFilter(mSettings.FftSize, mSettings.Overlap) != 0)
        return mPrepared;
    const FilterArea& a = mSettings.Area;
    mVocal->SetPanRange(a.PanLow, a.PanHigh);
    mVocal->SetFreqRange(a.FreqLowHz, a.FreqHighHz);
    mVocal->SetDepthRange(a.DepthLow, a.DepthHigh);
    mVocal->SetInverted(a.Inverted);
    mVocal->SetVisualFeed(false);
    mPrepared = 0;
    return mPrepared;
}

bool ExportJob::Feed(int count) noexcept
{
    uint8_t* raw = mVocal->RawIn();
    const int64_t begin = mStreamPos;
    const int64_t end = begin + count;
    const int64_t before = std::clamp<int64_t>(-begin, 0, count);
    const int64_t inFile =
        std::max<int64_t>(0, std::min(end, mFileFrames) - std::max<int64_t>(begin, 0));
    auto at = static_cast<size_t>(before * kFrameBytes);
    std::memset(raw, 0, at);
    auto want = static_cast<size_t>(inFile * kFrameBytes);
    while (want > 0) {
        const int n = mIn.Read(raw + at, static_cast<int>(want));
        if (n <= 0)
            return false; // an error, or the file holds less than it did when it was opened
        at += static_cast<size_t>(n);
        want -= static_cast<size_t>(n);
    }
    std::memset(raw + at, 0, static_cast<size_t>(count) * kFrameBytes - at);
    mStreamPos = end;
    return true;
}

int ExportJob::Run(const ProgressFn& progress, const std::atomic<bool>& abort)
{
    mWritten = 0;
    mAborted = false;
    if (!mIn.IsOpen || mIn.Format.BlockAlign != kFrameBytes || mIn.Format.Channels != 2)
        return 8;
    int64_t first = 0;
    int64_t end = 0;
    Stretch(first, end);
    const int64_t total = (end - first) * kFrameBytes;
    if (total == 0)
        return 0;
    if (Prepare() != 0)
        return 7;

    TVocalFunc& vocal = *mVocal;
    const CenterFocus& filter = vocal.Filter();
    const int64_t frameSize = filter.FrameSize();
    const int64_t hop = filter.Hop();
    const int64_t latency = filter.Latency();
    const int block = vocal.BlockFrames();
    mFileFrames = mIn.FrameCount();

    // The stream starts on the hop grid of a whole-file save, one frame length or more before
    // the stretch, so every filter frame that touches the stretch sees real context.
    mStreamPos = FloorToMultiple(first - frameSize, hop);
    if (mIn.SeekFrame(std::max<int64_t>(mStreamPos, 0)) < 0)
        return 8;

    // Warm-up: output of the stream up to the stretch's first frame is discarded.
    const int64_t warmEnd = first + latency;
    while (mStreamPos < warmEnd) {
        const int n = static_cast<int>(std::min<int64_t>(block, warmEnd - mStreamPos));
        if (!Feed(n))
            return 8;
        vocal.Deinterleave(n * kFrameBytes);
        vocal.Process(0, n);
    }

    // Each block feeds the frames one latency ahead of the frames it writes.
    int64_t remaining = end - first;
    int counter = 0;
    while (remaining > 0) {
        const int n = static_cast<int>(std::min<int64_t>(block, remaining));
        const int bytes = n * kFrameBytes;
        if (!Feed(n))
            return 8;
        vocal.Deinterleave(bytes);
        vocal.Process(0, n);
        vocal.Interleave(bytes);
        if (mOut.Write(vocal.RawOut(), bytes) != bytes)
            return 8;
        mWritten += bytes;
        if (++counter == kProgressEveryBlocks) {
            counter = 0;
            if (progress)
                progress(mWritten, total);
        }
        if (abort.load(std::memory_order_relaxed)) {
            mAborted = true;
            return 0;
        }
        remaining -= n;
    }
    if (progress)
        progress(mWritten, total);
    return 0;
}

} // namespace varnel
