#include "audio/Thsndplay.h"

#include "audio/SoundSource.h"
#include "audio/Tdsound.h"
#include "audio/Twave.h"
#include "platform/ThreadPriority.h"

#include <system_error>

namespace varnel {

namespace {

constexpr int kCycleMs = 30;

} // namespace

ThSoundPlay::ThSoundPlay(TDsound& sound, TWaveData& reader, Clock& clock)
    : mSound(sound), mReader(&reader), mClock(clock)
{}

ThSoundPlay::ThSoundPlay(TDsound& sound, SourceReader& reader, Clock& clock)
    : mSound(sound), mSourceReader(&reader), mClock(clock)
{}

ThSoundPlay::~ThSoundPlay()
{
    {
        std::lock_guard<std::mutex> lock(mParkMutex);
        mTerminate.store(true, std::memory_order_release);
        ++mWakeGeneration;
        mParkChanged.notify_all();
    }
    if (mThread.joinable())
        mThread.join();
}

template <typename Payload>
void ThSoundPlay::Post(Box<Payload>& box, const Payload& value)
{
    std::lock_guard<std::mutex> lock(box.Lock);
    box.Value = value;
    box.Pending = true;
}

template <typename Payload, typename Apply>
void ThSoundPlay::TryApply(Box<Payload>& box, Apply apply) noexcept
{
    if (!box.Lock.try_lock())
        return; // busy: stays pending for the next cycle
    if (box.Pending) {
        apply(box.Value);
        box.Pending = false;
    }
    box.Lock.unlock();
}

void ThSoundPlay::PostSeek(int64_t frame)
{
    Post(mSeekBox, frame);
}

void ThSoundPlay::PostPanRange(float low, float high)
{
    Post(mPanBox, Range{low, high});
}

void ThSoundPlay::PostFreqRange(float lowHz, float highHz)
{
    Post(mFreqBox, Range{lowHz, highHz});
}

void ThSoundPlay::PostDepthRange(float low, float high)
{
    Post(mDepthBox, Range{low, high});
}

void ThSoundPlay::PostInverted(bool inverted)
{
    Post(mInvertBox, inverted);
}

void ThSoundPlay::PostArea(const FilterArea& area)
{
    PostPanRange(area.PanLow, area.PanHigh);
    PostFreqRange(area.FreqLowHz, area.FreqHighHz);
    PostDepthRange(area.DepthLow, area.DepthHigh);
    PostInverted(area.Inverted);
    PostSoftCut(area.Soft);
}

void ThSoundPlay::PostSoftCut(const SoftCut& soft)
{
    Post(mSoftBox, soft);
}

void ThSoundPlay::PostVisualFeed(bool on)
{
    Post(mVisualBox, on);
}

void ThSoundPlay::PostVolume(int hundredthsDb)
{
    Post(mVolumeBox, hundredthsDb);
}

void ThSoundPlay::ApplyMailboxes() noexcept
{
    TryApply(mSeekBox, [this](int64_t frame) {
        if (mReader)
            mReader->SeekFrame(frame);
        else
            mSourceReader->Seek(frame);
    });
    TryApply(mPanBox, [this](const Range& r) { mSound.SetPanRange(r.Low, r.High); });
    TryApply(mFreqBox, [this](const Range& r) { mSound.SetFreqRange(r.Low, r.High); });
    TryApply(mDepthBox, [this](const Range& r) { mSound.SetDepthRange(r.Low, r.High); });
    TryApply(mInvertBox, [this](bool on) { mSound.SetInverted(on); });
    TryApply(mSoftBox, [this](const SoftCut& soft) { mSound.SetSoftCut(soft); });
    TryApply(mVisualBox, [this](bool on) { mSound.SetVisualFeed(on); });
    TryApply(mVolumeBox, [this](int volume) { mSound.SetVolume(volume); });
}

void ThSoundPlay::RequestPause()
{
    std::unique_lock<std::mutex> lock(mParkMutex);
    if (!mStarted || mParked || mExited)
        return;
    mPauseRequested.store(true, std::memory_order_release);
    mParkChanged.wait(lock, [this] { return mParked || mExited; });
}

bool ThSoundPlay::Resume()
{
    std::lock_guard<std::mutex> lock(mParkMutex);
    if (!mStarted) {
        try {
            mThread = std::thread(&ThSoundPlay::Execute, this);
        } catch (const std::system_error&) {
            return false;
        }
        mStarted = true;
        return true;
    }
    if (mParked) {
        // Cleared here, not by the thread, so a RequestPause right after this Resume waits
        // for the next park instead of returning on the old one.
        mParked = false;
        ++mWakeGeneration;
        mParkChanged.notify_all();
    }
    return true;
}

bool ThSoundPlay::IsParked() const
{
    std::lock_guard<std::mutex> lock(mParkMutex);
    return mParked;
}

bool ThSoundPlay::IsStarted() const
{
    std::lock_guard<std::mutex> lock(mParkMutex);
    return mStarted;
}

bool ThSoundPlay::Park()
{
    std::unique_lock<std::mutex> lock(mParkMutex);
    // Consumed here, under the lock, so the request cannot be lost or seen twice.
    mPauseRequested.store(false, std::memory_order_relaxed);
    mParked = true;
    const uint64_t generation = mWakeGeneration;
    mParkChanged.notify_all();
    mParkChanged.wait(lock, [&] {
        return mWakeGeneration != generation || mTerminate.load(std::memory_order_acquire);
    });
    return !mTerminate.load(std::memory_order_acquire);
}

void ThSoundPlay::Execute() noexcept
{
    // Not being allowed a higher priority is no error: the thread runs at normal priority.
    (void)RaiseCurrentThreadPriority();
    mSound.Play();
    for (;;) {
        const uint32_t t0 = mClock.Milliseconds();
        ApplyMailboxes();
        const int frames = mSound.Pump();
        const auto elapsed = static_cast<int32_t>(mClock.Milliseconds() - t0);
        // The work took more than twice as long as the sound it wrote lasts (frames at twice
        // the half rate), compared without a division; 64-bit so no ring length can wrap it.
        const int64_t halfRate = mHalfRate.load(std::memory_order_relaxed);
        mOverloaded.store(static_cast<int64_t>(frames) * 1000 < halfRate * elapsed,
                          std::memory_order_relaxed);
        mCycles.fetch_add(1, std::memory_order_relaxed);
        mCpuTimeNs.store(CurrentThreadCpuNs(), std::memory_order_relaxed);

        const int32_t rest = kCycleMs - elapsed;
        mClock.SleepMs(rest > 0 ? static_cast<uint32_t>(rest) : 1u);

        if (mPauseRequested.load(std::memory_order_acquire)) {
            mSound.Stop();
            bool woken = false;
            try {
                woken = Park();
            } catch (const std::system_error&) {
                woken = false; // a broken lock: end the thread rather than spin
            }
            if (!woken)
                break;
            mSound.Play();
        }
        if (mTerminate.load(std::memory_order_acquire))
            break;
    }
    mSound.Stop();
    std::lock_guard<std::mutex> lock(mParkMutex);
    mExited = true;
    mParkChanged.notify_all();
}

} // namespace varnel
