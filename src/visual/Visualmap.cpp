#include "visual/Visualmap.h"

#include "platform/Assert.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

namespace varnel {

namespace {

constexpr double kPiDouble = 3.14159265358979323846;

// A ring or an image larger than this is refused like a failed allocation: such sizes only
// come from corrupt arguments, and their byte counts would overflow the arithmetic.
constexpr int kMaxSide = 4096;
constexpr size_t kMaxRingCells = size_t{64} << 20; // 256 MiB of cells

// The largest float below 2^31: magnitudes above it saturate instead of overflowing a cell.
constexpr float kCellLimit = 2147483520.0f;

inline int32_t ToCell(float v) noexcept
{
    return v >= kCellLimit ? INT32_MAX : static_cast<int32_t>(v);
}

// Keeps the larger of a cell and a magnitude; the cell takes the truncated magnitude. The
// comparison is false for NaN, which therefore changes nothing.
inline void KeepLouder(std::atomic<int32_t>& cell, float magnitude) noexcept
{
    const int32_t old = cell.load(std::memory_order_relaxed);
    if (static_cast<float>(old) < magnitude) {
        const int32_t value = ToCell(magnitude);
        if (value > old)
            cell.store(value, std::memory_order_relaxed);
    }
}

// The batch form: always stores, so the loop has no data-dependent branch.
inline void RaiseTo(std::atomic<int32_t>& cell, int32_t value) noexcept
{
    cell.store(std::max(cell.load(std::memory_order_relaxed), value), std::memory_order_relaxed);
}

// a x b + c, fused where the build has FMA (one rounding instead of two).
template <bool kFma>
__attribute__((always_inline)) inline float Mad(float a, float b, float c) noexcept
{
    if constexpr (kFma)
        return __builtin_fmaf(a, b, c);
    else
        return a * b + c;
}

// a x log10(x) + b, from the float's exponent and a short series for the mantissa folded into
// [sqrt(1/2), sqrt(2)): about 3e-7 x a absolute error over the ratios the filter reports, and
// no branches, so the chunk loop can be vectorised. The constants are folded into a.
template <bool kFma>
__attribute__((always_inline)) inline float ScaledLog10(float x, float a, float b) noexcept
{
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    int exponent = static_cast<int>((bits >> 23) & 0xffu) - 127;
    const uint32_t mantissaBits = (bits & 0x007fffffu) | 0x3f800000u;
    float m;
    std::memcpy(&m, &mantissaBits, sizeof m);
    const bool fold = m > 1.41421356f;
    m = fold ? m * 0.5f : m;
    exponent += fold ? 1 : 0;
    const float s = (m - 1.0f) / (m + 1.0f);
    const float s2 = s * s;
    // ln(m) = 2 s (1 + s^2/3 + s^4/5 + ...); log10 = ln x 0.43429448.
    // |s| <= 0.1716, so the terms from s^9/9 on add less than 3e-8.
    float series = Mad<kFma>(s2, 1.0f / 7.0f, 1.0f / 5.0f);
    series = Mad<kFma>(s2, series, 1.0f / 3.0f);
    series = Mad<kFma>(s2, series, 1.0f);
    const float perLn = a * 0.43429448f;
    return Mad<kFma>(static_cast<float>(exponent), perLn * 0.69314718f,
                     Mad<kFma>(s * series, 2.0f * perLn, b));
}

// What pass 1 needs to know of the map.
struct ChunkAxes
{
    float XPerDecade;
    float Centre;
    int PanWidth;
    float DepthScale;
    int LastDepth;
    int32_t Spare; // the slot's spare cell
};

// Pass 1 of the batch feed over bins that all have a row, branch-free so the compiler
// vectorises it: the two cells a bin raises (as indexes into its slot; the spare cell when it is
// off the pan map) and its truncated mono and summed magnitudes. An integer cell is below a
// magnitude exactly when it is below the magnitude's truncation, so pass 2 compares integers.
// A silent bin needs no test: its magnitudes truncate to 0, which never beats a cell.
template <bool kFma>
__attribute__((always_inline)) inline void
PrepareBinsBody(const float* __restrict depth, const float* __restrict magRight,
                const float* __restrict magLeft, const float* __restrict ratio,
                const float* __restrict sumMag, const int32_t* __restrict panRow,
                const int32_t* __restrict depthRow, int n, const ChunkAxes& axes,
                int32_t* __restrict panCell, int32_t* __restrict depthCell,
                int32_t* __restrict mono, int32_t* __restrict sum) noexcept
{
    const float xPerDecade = axes.XPerDecade;
    const float centre = axes.Centre;
    const auto panWidth = static_cast<uint32_t>(axes.PanWidth);
    const float panLimit = static_cast<float>(axes.PanWidth) + 1.0f;
    const float depthScale = axes.DepthScale;
    const auto lastDepth = static_cast<float>(axes.LastDepth);
    const int32_t spare = axes.Spare;
    for (int i = 0; i < n; ++i) {
        const float r = ratio[i];
        // Clamped so the conversion stays in range; 0, negative and NaN ratios have no pan
        // position. A column in (-1, 0) truncates to 0, as AddBin's does.
        float column = ScaledLog10<kFma>(r, xPerDecade, centre);
        column = r > 0.0f ? column : -2.0f;
        column = std::min(std::max(column, -2.0f), panLimit);
        const auto x = static_cast<int32_t>(column);
        const bool onPan = static_cast<uint32_t>(x) < panWidth;
        panCell[i] = onPan ? panRow[i] + x : spare;

        float dx = depth[i] * depthScale;
        dx = dx > 0.0f ? dx : 0.0f;           // NaN counts as 0
        dx = dx < lastDepth ? dx : lastDepth; // exactly pi lands in the last column
        depthCell[i] = depthRow[i] + static_cast<int32_t>(dx);

        mono[i] = static_cast<int32_t>(std::min(sumMag[i], kCellLimit));
        sum[i] = static_cast<int32_t>(std::min(magLeft[i] + magRight[i], kCellLimit));
    }
}

// The same pass built for the plain x86-64 baseline and for AVX2 with FMA, chosen at run time
// (a plain check rather than an ifunc, whose resolver runs before sanitizer runtimes start).
// The two differ only in the last bits of a value, which matters only at a cell boundary.
void PrepareBinsPlain(const float* depth, const float* magRight, const float* magLeft,
                      const float* ratio, const float* sumMag, const int32_t* panRow,
                      const int32_t* depthRow, int n, const ChunkAxes& axes, int32_t* panCell,
                      int32_t* depthCell, int32_t* mono, int32_t* sum) noexcept
{
    PrepareBinsBody<false>(depth, magRight, magLeft, ratio, sumMag, panRow, depthRow, n, axes,
                           panCell, depthCell, mono, sum);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2,fma"))) void
PrepareBinsAvx2(const float* depth, const float* magRight, const float* magLeft, const float* ratio,
                const float* sumMag, const int32_t* panRow, const int32_t* depthRow, int n,
                const ChunkAxes& axes, int32_t* panCell, int32_t* depthCell, int32_t* mono,
                int32_t* sum) noexcept
{
    PrepareBinsBody<true>(depth, magRight, magLeft, ratio, sumMag, panRow, depthRow, n, axes,
                          panCell, depthCell, mono, sum);
}
#endif

bool CpuHasAvx2Fma() noexcept
{
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0;
#else
    return false;
#endif
}

} // namespace

TVisualMap::TVisualMap() : mAvx2(CpuHasAvx2Fma()) {}

TVisualMap::~TVisualMap()
{
    if (mAllocated)
        FreeFrames();
}

int TVisualMap::Init(int panWidth, int height, int depthWidth, float minFreqHz, float halfRateHz,
                     float maxRatio)
{
    if (mAllocated)
        FreeFrames();
    const bool sane = panWidth > 0 && height > 0 && depthWidth > 0 && panWidth <= kMaxSide &&
                      height <= kMaxSide && depthWidth <= kMaxSide;
    mPanWidth = sane ? panWidth : 0;
    mPanHeight = sane ? height : 0;
    mDepthWidth = sane ? depthWidth : 0;
    mDepthHeight = mPanHeight;
    mPanCentre = mPanWidth / 2;
    mDepthXPerRadian = static_cast<float>(mDepthWidth * (1.0 / kPiDouble));
    SetPanRange(maxRatio);
    SetFreqRange(4096, minFreqHz, halfRateHz);
    SetColourScale(5);
    int result = sane ? AllocFrames(44100, 200, 8, 8192) : 1;
    if (sane) {
        mPanImage = QImage(mPanWidth, mPanHeight, QImage::Format_RGB888);
        mDepthImage = QImage(mDepthWidth, mDepthHeight, QImage::Format_RGB888);
        if (mPanImage.isNull() || mDepthImage.isNull()) {
            mPanImage = QImage();
            mDepthImage = QImage();
            result = 1;
        }
    } else {
        mPanImage = QImage();
        mDepthImage = QImage();
    }
    for (int i = 0; i < kPaletteSize; ++i) {
        const int hue = 240 + 175 * i / 255;
        const int value = static_cast<int>(std::floor(106.0 * std::log10(i + 1.0)));
        const uint32_t rgb = HsvToRgb(hue, 255, value);
        mPalette[static_cast<size_t>(i)] = {static_cast<uint8_t>(rgb & 0xffu),
                                            static_cast<uint8_t>((rgb >> 8) & 0xffu),
                                            static_cast<uint8_t>((rgb >> 16) & 0xffu)};
    }
    Clear();
    return result;
}

int TVisualMap::AllocFrames(int sampleRate, int bufferMs, int overlap, int fftSize)
{
    if (mAllocated)
        FreeFrames();
    if (sampleRate <= 0 || bufferMs < 0 || overlap <= 0 || fftSize <= 0 || mPanWidth <= 0)
        return 1;
    const int64_t hop = fftSize / overlap;
    if (hop <= 0)
        return 1;
    // 64-bit: sampleRate x bufferMs overflows an int for long buffers at high rates.
    const int64_t perTenth = (int64_t{sampleRate} * 100 / 1000) / hop;
    const int64_t skip = std::max<int64_t>(perTenth / 8, 1);
    mSkipReload = static_cast<int>(skip - 1);
    mSkipCounter = mSkipReload;
    mSkipFrame = false;
    int64_t slotCount = ((int64_t{sampleRate} * bufferMs / 1000) / hop + perTenth) / skip;
    // At least one slot, or advancing the ring would divide by zero.
    slotCount = std::clamp<int64_t>(slotCount, 1, kMaxSlots);
    mSlotCount = static_cast<int>(slotCount);
    mAverageCount = static_cast<int>(perTenth / skip);
    mCurrentSlot.store(0, std::memory_order_relaxed);

    mPanCells = static_cast<size_t>(mPanWidth) * static_cast<size_t>(mPanHeight);
    mDepthCells = static_cast<size_t>(mDepthWidth) * static_cast<size_t>(mDepthHeight);
    // One spare cell per slot takes the bins the batch feed finds outside the pan map, so its
    // scatter needs no branch.
    mSlotStride = mPanCells + mDepthCells + 1;
    const size_t total = mSlotStride * static_cast<size_t>(mSlotCount);
    if (total > kMaxRingCells)
        return 1;
    // Value-initialised: the caller clears before reading, but no cell is ever indeterminate.
    mRing.reset(new (std::nothrow) Cell[total]());
    if (!mRing)
        return 1;
    mAllocated = true;
    return 0;
}

void TVisualMap::FreeFrames()
{
    mRing.reset();
    mAllocated = false;
}

void TVisualMap::Clear()
{
    if (mAllocated) {
        const size_t total = mSlotStride * static_cast<size_t>(mSlotCount);
        for (size_t i = 0; i < total; ++i)
            mRing[i].store(0, std::memory_order_relaxed);
    }
    // Black even for an empty map, so a failed set-up shows nothing stale.
    if (!mPanImage.isNull())
        mPanImage.fill(Qt::black);
    if (!mDepthImage.isNull())
        mDepthImage.fill(Qt::black);
}

void TVisualMap::SetPanRange(float maxRatio)
{
    const double decades = std::log10(static_cast<double>(maxRatio));
    // A ratio of 1 or less has no decades; keep the previous axis rather than dividing by 0.
    if (!(decades > 0.0))
        return;
    mPanXPerDecade.store(static_cast<float>(mPanCentre / decades), std::memory_order_relaxed);
}

void TVisualMap::SetFreqRange(int binCount, float minFreqHz, float halfRateHz)
{
    if (binCount <= 0 || !(minFreqHz > 0.0f) || !(halfRateHz > minFreqHz))
        return;
    const float hzPerBin = static_cast<float>(static_cast<double>(halfRateHz) / binCount);
    mMinBin = static_cast<float>(static_cast<double>(minFreqHz) / hzPerBin);
    mRowsPerDecade = static_cast<float>(
        mPanHeight / (std::log10(static_cast<double>(binCount)) - std::log10(double{mMinBin})));
    mLogMinBin = static_cast<float>(std::log10(double{mMinBin}));
    mRowOfBin.assign(static_cast<size_t>(binCount), int16_t{-1});
    mPanRowStart.assign(static_cast<size_t>(binCount), -1);
    mDepthRowStart.assign(static_cast<size_t>(binCount), -1);
    mFirstRowBin = 0;
    mRowEndBin = 0;
    for (int bin = 0; bin < binCount; ++bin) {
        if (static_cast<double>(bin) < double{mMinBin})
            continue;
        const double y =
            (std::log10(static_cast<double>(bin)) - double{mLogMinBin}) * double{mRowsPerDecade};
        if (y >= 0.0 && y < mPanHeight) {
            const auto row = static_cast<int32_t>(y);
            const auto u = static_cast<size_t>(bin);
            mRowOfBin[u] = static_cast<int16_t>(row);
            mPanRowStart[u] = row * mPanWidth;
            mDepthRowStart[u] = mPanWidth * mPanHeight + row * mDepthWidth;
            // Rows grow with the bin, so the bins with a row are one run.
            if (mRowEndBin == 0)
                mFirstRowBin = bin;
            mRowEndBin = bin + 1;
        }
    }
}

void TVisualMap::SetColourScale(int position)
{
    // Outside 0..10 the formula goes negative and would index before the palette.
    position = std::clamp(position, 0, 10);
    if (position < 5)
        mColourDivisor = static_cast<float>((6 - position) * (6 - position) * 1500 + 2000);
    else
        mColourDivisor = static_cast<float>((11 - position) * 1000);
}

TVisualMap::Cell* TVisualMap::PanSlot(int slot) const noexcept
{
    return mRing.get() + static_cast<size_t>(slot) * mSlotStride;
}

TVisualMap::Cell* TVisualMap::DepthSlot(int slot) const noexcept
{
    return PanSlot(slot) + mPanCells;
}

int TVisualMap::RowOfBin(int bin) const noexcept
{
    if (bin >= 0 && static_cast<size_t>(bin) < mRowOfBin.size())
        return mRowOfBin[static_cast<size_t>(bin)];
    // A bin beyond the set-up's count: computed, and dropped when above the top row.
    if (static_cast<double>(bin) < double{mMinBin})
        return -1;
    const double y =
        (std::log10(static_cast<double>(bin)) - double{mLogMinBin}) * double{mRowsPerDecade};
    return (y >= 0.0 && y < mPanHeight) ? static_cast<int>(y) : -1;
}

void TVisualMap::NextFrame() noexcept
{
    if (!mAllocated)
        return;
    --mSkipCounter;
    if (mSkipCounter >= 0) {
        mSkipFrame = true;
        return;
    }
    mSkipCounter = mSkipReload;
    mSkipFrame = false;
    int slot = mCurrentSlot.load(std::memory_order_relaxed) + 1;
    if (slot >= mSlotCount)
        slot = 0;
    // Published before clearing: a build that starts now already leaves this slot out.
    mCurrentSlot.store(slot, std::memory_order_relaxed);
    mRecordedFrames.fetch_add(1, std::memory_order_relaxed);
    Cell* cells = PanSlot(slot);
    const size_t count = mSlotStride;
    for (size_t i = 0; i < count; ++i)
        cells[i].store(0, std::memory_order_relaxed);
}

void TVisualMap::AddBin(int bin, float depth, float magRight, float magLeft, float ratio) noexcept
{
    if (!mAllocated || mSkipFrame)
        return;
    if (static_cast<double>(bin) < double{mMinBin})
        return;
    if (magLeft == 0.0f && magRight == 0.0f)
        return;
    const int y = RowOfBin(bin);
    if (y < 0)
        return;
    const int slot = mCurrentSlot.load(std::memory_order_relaxed);

    int x = -1;
    if (ratio > 0.0f) {
        const double column = std::log10(static_cast<double>(ratio)) *
                                  double{mPanXPerDecade.load(std::memory_order_relaxed)} +
                              mPanCentre;
        // Truncation toward zero: values in (-1, 0) land in column 0.
        if (column > -1.0 && column < mPanWidth)
            x = static_cast<int>(column);
    }

    const double d = static_cast<double>(depth);
    const float re = static_cast<float>(double{magLeft} + double{magRight} * std::cos(d));
    const float im = static_cast<float>(double{magRight} * std::sin(d));
    const float mono = static_cast<float>(std::sqrt(double{re} * re + double{im} * im));
    if (x >= 0)
        KeepLouder(PanSlot(slot)[static_cast<size_t>(y) * static_cast<size_t>(mPanWidth) +
                                 static_cast<size_t>(x)],
                   mono);

    const double dx = d * double{mDepthXPerRadian};
    int column = 0;
    if (dx >= mDepthWidth)
        column = mDepthWidth - 1; // exactly pi lands in the last column
    else if (dx > 0.0)
        column = static_cast<int>(dx);
    const float sum = static_cast<float>(double{magLeft} + double{magRight});
    KeepLouder(DepthSlot(slot)[static_cast<size_t>(y) * static_cast<size_t>(mDepthWidth) +
                               static_cast<size_t>(column)],
               sum);
}

void TVisualMap::AddBins(const float* depth, const float* magRight, const float* magLeft,
                         const float* ratio, const float* sumMag, int count) noexcept
{
    VARNEL_ASSERT(count <= 0 || (depth && magRight && magLeft && ratio && sumMag));
    if (!mAllocated || mSkipFrame || count <= 0)
        return;
    const int slot = mCurrentSlot.load(std::memory_order_relaxed);
    Cell* cells = PanSlot(slot);
    ChunkAxes axes;
    axes.XPerDecade = mPanXPerDecade.load(std::memory_order_relaxed);
    axes.Centre = static_cast<float>(mPanCentre);
    axes.PanWidth = mPanWidth;
    axes.DepthScale = mDepthXPerRadian;
    axes.LastDepth = mDepthWidth - 1;
    axes.Spare = static_cast<int32_t>(mSlotStride - 1);

    // Only bins with a row reach a cell; bins beyond the set-up's count (a filter and map
    // that disagree) take the single path.
    const int tabled = std::min(count, static_cast<int>(mPanRowStart.size()));
    const int end = std::min(tabled, mRowEndBin);
    for (int base = mFirstRowBin; base < end; base += kChunk) {
        const int n = std::min(kChunk, end - base);
#if defined(__x86_64__) || defined(__i386__)
        if (mAvx2)
            PrepareBinsAvx2(depth + base, magRight + base, magLeft + base, ratio + base,
                            sumMag + base, mPanRowStart.data() + base, mDepthRowStart.data() + base,
                            n, axes, mChunkPanCell.data(), mChunkDepthCell.data(),
                            mChunkMono.data(), mChunkSum.data());
        else
#endif
            PrepareBinsPlain(depth + base, magRight + base, magLeft + base, ratio + base,
                             sumMag + base, mPanRowStart.data() + base,
                             mDepthRowStart.data() + base, n, axes, mChunkPanCell.data(),
                             mChunkDepthCell.data(), mChunkMono.data(), mChunkSum.data());
        // Pass 2: raise the cells, without branches on the data.
        for (int i = 0; i < n; ++i) {
            const size_t k = static_cast<size_t>(i);
            RaiseTo(cells[static_cast<size_t>(mChunkPanCell[k])], mChunkMono[k]);
            RaiseTo(cells[static_cast<size_t>(mChunkDepthCell[k])], mChunkSum[k]);
        }
    }
    for (int bin = tabled; bin < count; ++bin)
        AddBin(bin, depth[bin], magRight[bin], magLeft[bin], ratio[bin]);
}

void TVisualMap::BuildOne(QImage& image, int width, int height, bool pan, int first, int count)
{
    const double divisor = double{mColourDivisor} * count;
    for (int r = 0; r < height; ++r) {
        const int y = height - 1 - r; // low frequencies at the bottom
        uchar* line = image.scanLine(r);
        for (int x = 0; x < width; ++x) {
            const size_t cell =
                static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
            // 64-bit: a few loud slots of a long FFT overflow 32 bits.
            int64_t sum = 0;
            int slot = first;
            for (int k = 0; k < count; ++k) {
                const Cell* cells = pan ? PanSlot(slot) : DepthSlot(slot);
                sum += cells[cell].load(std::memory_order_relaxed);
                if (++slot >= mSlotCount)
                    slot = 0;
            }
            const double level = static_cast<double>(sum) / divisor;
            const int index = level >= 255.0 ? 255 : (level > 0.0 ? static_cast<int>(level) : 0);
            const auto& colour = mPalette[static_cast<size_t>(index)];
            line[3 * x] = colour[0];
            line[3 * x + 1] = colour[1];
            line[3 * x + 2] = colour[2];
        }
    }
}

void TVisualMap::BuildImages()
{
    if (!mAllocated || mPanImage.isNull() || mDepthImage.isNull())
        return;
    const int current = mCurrentSlot.load(std::memory_order_relaxed);
    const uint32_t recorded = mRecordedFrames.load(std::memory_order_relaxed);
    if (current == mLastBuiltSlot && recorded == mLastBuiltFrames)
        return;
    mLastBuiltSlot = current;
    mLastBuiltFrames = recorded;
    if (mAverageCount <= 0)
        return;
    const int count = std::min(mAverageCount, mSlotCount);
    int first = current + 1;
    if (first >= mSlotCount)
        first = 0;
    BuildOne(mPanImage, mPanWidth, mPanHeight, true, first, count);
    BuildOne(mDepthImage, mDepthWidth, mDepthHeight, false, first, count);
}

uint32_t TVisualMap::HsvToRgb(int hue, int saturation, int value)
{
    const int h = hue % 360;
    const int s = saturation;
    const int v = value;
    int red, green, blue;
    if (s == 0) {
        red = green = blue = v;
    } else {
        const int f = (h * 6) % 360;
        const int p = (255 - s) * v / 255;
        const int q = (255 - s * f / 360) * v / 255;
        const int t = (255 - s * (360 - f) / 360) * v / 255;
        switch (h / 60) {
        case 0:
            red = v;
            green = t;
            blue = p;
            break;
        case 1:
            red = q;
            green = v;
            blue = p;
            break;
        case 2:
            red = p;
            green = v;
            blue = t;
            break;
        case 3:
            red = p;
            green = q;
            blue = v;
            break;
        case 4:
            red = t;
            green = p;
            blue = v;
            break;
        default:
            red = v;
            green = p;
            blue = q;
            break;
        }
    }
    return static_cast<uint32_t>(red & 0xff) | (static_cast<uint32_t>(green & 0xff) << 8) |
           (static_cast<uint32_t>(blue & 0xff) << 16);
}

int32_t TVisualMap::PanCell(int slot, int row, int column) const
{
    if (!mAllocated || slot < 0 || slot >= mSlotCount || row < 0 || row >= mPanHeight ||
        column < 0 || column >= mPanWidth)
        return 0;
    return PanSlot(slot)[static_cast<size_t>(row) * static_cast<size_t>(mPanWidth) +
                         static_cast<size_t>(column)]
        .load(std::memory_order_relaxed);
}

int32_t TVisualMap::DepthCell(int slot, int row, int column) const
{
    if (!mAllocated || slot < 0 || slot >= mSlotCount || row < 0 || row >= mDepthHeight ||
        column < 0 || column >= mDepthWidth)
        return 0;
    return DepthSlot(slot)[static_cast<size_t>(row) * static_cast<size_t>(mDepthWidth) +
                           static_cast<size_t>(column)]
        .load(std::memory_order_relaxed);
}

} // namespace varnel
