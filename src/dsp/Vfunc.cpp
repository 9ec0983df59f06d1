#include "dsp/Vfunc.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace varnel {

namespace {

inline int16_t ClipToInt16(int32_t v) noexcept
{
    return static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767));
}

// Interleaves frames of two channels of 32-bit samples into 16-bit bytes, clipping.
void InterleaveInto(uint8_t* raw, const int32_t* left, const int32_t* right, int frames,
                    int channels) noexcept
{
    for (int i = 0; i < frames; ++i) {
        const auto s = static_cast<std::size_t>(i * channels) * 2;
        const auto l = static_cast<uint16_t>(ClipToInt16(left[i]));
        raw[s] = static_cast<uint8_t>(l & 0xFF);
        raw[s + 1] = static_cast<uint8_t>(l >> 8);
        if (channels >= 2) {
            const auto r = static_cast<uint16_t>(ClipToInt16(right[i]));
            raw[s + 2] = static_cast<uint8_t>(r & 0xFF);
            raw[s + 3] = static_cast<uint8_t>(r >> 8);
        }
    }
}

} // namespace

TVocalFunc::TVocalFunc() = default;
TVocalFunc::~TVocalFunc() = default;

int TVocalFunc::BlockFramesFor(int sampleRate, double seconds) noexcept
{
    // Formed in long double and truncated: 44100 * 0.1 must give 4410, not 4409.
    const long double frames = static_cast<long double>(sampleRate) * seconds;
    if (!(frames >= 0.0L) || frames > 1.0e8L)
        return -1;
    return static_cast<int>(frames);
}

int TVocalFunc::Init(int channels, int sampleRate, double seconds)
{
    mChannels = channels;
    mSampleRate = sampleRate;
    const int frames = BlockFramesFor(sampleRate, seconds);
    if (frames < 0 || channels < 1 || channels > 8) {
        mBlockFrames = mBlockBytes = 0;
        return 1;
    }
    mBlockFrames = frames;
    mBlockBytes = mBlockFrames * mChannels * 2;
    try {
        const auto f = static_cast<std::size_t>(mBlockFrames);
        const auto b = static_cast<std::size_t>(mBlockBytes);
        // Sized, not cleared: callers fill what they use (value-initialised anyway by the
        // vector, which costs nothing worth saving at set-up).
        mInL.resize(f);
        mInR.resize(f);
        mOutL.resize(f);
        mOutR.resize(f);
        mRawIn.resize(b);
        mRawOut.resize(b);
    } catch (const std::bad_alloc&) {
        return 1;
    } catch (const std::length_error&) {
        return 1;
    }
    return 0;
}

int TVocalFunc::InitFloat()
{
    try {
        const auto f = static_cast<std::size_t>(mBlockFrames);
        for (std::vector<float>* v : {&mFloatInL, &mFloatInR, &mFloatOutL, &mFloatOutR})
            v->resize(f);
    } catch (const std::bad_alloc&) {
        return 1;
    } catch (const std::length_error&) {
        return 1;
    }
    return 0;
}

void TVocalFunc::ProcessFloat(int first, int count) noexcept
{
    if (first < 0 || count <= 0 || first > static_cast<int>(mFloatInL.size()) - count)
        return;
    const auto f = static_cast<std::size_t>(first);
    const bool rest = !mFloatRestL.empty();
    mFilter.Process(mFloatInL.data() + f, mFloatInR.data() + f, mFloatOutL.data() + f,
                    mFloatOutR.data() + f, rest ? mFloatRestL.data() + f : nullptr,
                    rest ? mFloatRestR.data() + f : nullptr, count);
}

int TVocalFunc::EnableRest()
{
    try {
        const auto f = static_cast<std::size_t>(mBlockFrames);
        mRestL.resize(f);
        mRestR.resize(f);
        mRawRest.resize(static_cast<std::size_t>(mBlockBytes));
        if (!mFloatInL.empty()) {
            mFloatRestL.resize(f);
            mFloatRestR.resize(f);
        }
    } catch (const std::bad_alloc&) {
        return 1;
    } catch (const std::length_error&) {
        return 1;
    }
    return mFilter.EnableRest() ? 0 : 1;
}

void TVocalFunc::InterleaveRest(int bytes) noexcept
{
    if (mRawRest.empty())
        return;
    InterleaveInto(mRawRest.data(), mRestL.data(), mRestR.data(),
                   std::min((bytes / mChannels) / 2, mBlockFrames), mChannels);
}

int TVocalFunc::SetupFilter(int fftSize, int overlap)
{
    return mFilter.Setup(fftSize, overlap, mSampleRate) ? 0 : 1;
}

void TVocalFunc::Reset() noexcept
{
    std::fill(mInL.begin(), mInL.end(), 0);
    std::fill(mInR.begin(), mInR.end(), 0);
    std::fill(mRawIn.begin(), mRawIn.end(), uint8_t{0});
}

void TVocalFunc::Deinterleave(int bytes) noexcept
{
    const int frames = std::min((bytes / mChannels) / 2, mBlockFrames);
    const uint8_t* raw = mRawIn.data();
    for (int i = 0; i < frames; ++i) {
        const auto s = static_cast<std::size_t>(i * mChannels) * 2;
        mInL[static_cast<std::size_t>(i)] =
            static_cast<int16_t>(static_cast<uint16_t>(raw[s] | (raw[s + 1] << 8)));
        mInR[static_cast<std::size_t>(i)] =
            mChannels < 2
                ? 0
                : static_cast<int16_t>(static_cast<uint16_t>(raw[s + 2] | (raw[s + 3] << 8)));
    }
}

void TVocalFunc::Process(int first, int count) noexcept
{
    if (first < 0 || count <= 0 || first > mBlockFrames - count)
        return;
    const auto f = static_cast<std::size_t>(first);
    if (!mRestL.empty())
        mFilter.Process(mInL.data() + f, mInR.data() + f, mOutL.data() + f, mOutR.data() + f,
                        mRestL.data() + f, mRestR.data() + f, count);
    else
        mFilter.Process(mInL.data() + f, mInR.data() + f, mOutL.data() + f, mOutR.data() + f,
                        count);
}

void TVocalFunc::Interleave(int bytes) noexcept
{
    InterleaveInto(mRawOut.data(), mOutL.data(), mOutR.data(),
                   std::min((bytes / mChannels) / 2, mBlockFrames), mChannels);
}

} // namespace varnel
