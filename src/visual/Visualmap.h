#pragma once

#include "dsp/VisualFeed.h"

#include <QImage>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace varnel {

// Turns the playing filter's per-bin analysis into two small colour pictures: the pan image
// (stereo position across, frequency upwards) and the depth image (left/right phase difference
// across, the same frequency rows). Every recorded analysis frame goes into one slot of a ring;
// per cell a slot keeps the loudest bin of its frame. BuildImages averages the oldest slots,
// which hold what was analysed one sound-buffer length ago, i.e. what is being heard.
//
// Threads: the playback thread calls NextFrame and AddBin/AddBins (through the filter); the
// GUI thread calls everything else. The cells and the current slot are relaxed atomics, so the
// two sides share them without a lock; the playback thread writes only the current slot and
// the GUI thread reads the oldest ones. Init, AllocFrames, FreeFrames, Clear and SetFreqRange
// must not run while the feed is active (the window calls them with playback parked).
class TVisualMap final : public VisualFeed
{
public:
    static constexpr int kMaxSlots = 100;
    static constexpr int kPaletteSize = 256;

    TVisualMap();
    ~TVisualMap() override;
    TVisualMap(const TVisualMap&) = delete;
    TVisualMap& operator=(const TVisualMap&) = delete;

    // GUI thread; allocates. Sets the geometry and axes, allocates a ring for 44.1 kHz with a
    // 200 ms buffer, creates black images and the palette. 0, or 1 when an allocation failed
    // (the map then behaves as an empty map).
    int Init(int panWidth, int height, int depthWidth, float minFreqHz, float halfRateHz,
             float maxRatio);

    // GUI thread, feed idle; allocates. Sizes the ring so that its oldest slots hold the frames
    // analysed bufferMs ago, recording at most about 15 frames per 100 ms. The cells are left
    // for Clear. 0, or 1 when the ring cannot be allocated (then the map is empty).
    int AllocFrames(int sampleRate, int bufferMs, int overlap, int fftSize);
    // GUI thread, feed idle.
    void FreeFrames();
    // GUI thread, feed idle. Zeroes every slot and blacks out both images.
    void Clear();

    // GUI thread, also while the feed runs: the ratio shown at the right edge of the pan image
    // (its inverse at the left edge); effective from the next frame. maxRatio must exceed 1.
    void SetPanRange(float maxRatio);
    // GUI thread, feed idle; allocates the per-bin row table.
    void SetFreqRange(int binCount, float minFreqHz, float halfRateHz);
    // GUI thread. ColorScaleBar position 0..10 (values outside are clamped): higher is brighter.
    void SetColourScale(int position);

    // Playback thread; allocates nothing, locks nothing.
    void NextFrame() noexcept override;
    // Playback thread; allocates nothing. One bin: the louder of it and the cell's value stays.
    void AddBin(int bin, float depth, float magRight, float magLeft, float ratio) noexcept override;
    // Playback thread; allocates nothing. Bins 0..count-1 of one frame, sumMag the filter's
    // |L + R| per bin: the same cells as AddBin gives, except that a pan or depth column value
    // within about 1e-4 of a whole number may land on its other side (single precision, and a
    // polynomial for the logarithm instead of the library's), and mono magnitudes may differ in
    // their last float digits (|L + R| from the complex bins rather than from magnitudes and
    // depth).
    void AddBins(const float* depth, const float* magRight, const float* magLeft,
                 const float* ratio, const float* sumMag, int count) noexcept override;

    // GUI thread. Averages the oldest slots into the images through the palette; does nothing
    // when no frame was recorded since the last build, or when the map is empty.
    void BuildImages();

    // Any thread; pure. Hue in degrees (any value >= 0), saturation and value 0..255; red in
    // bits 0-7, green in 8-15, blue in 16-23.
    static uint32_t HsvToRgb(int hue, int saturation, int value);

    // GUI thread readers.
    const QImage& PanImage() const { return mPanImage; }
    const QImage& DepthImage() const { return mDepthImage; }
    int PanWidth() const { return mPanWidth; }
    int PanHeight() const { return mPanHeight; }
    int DepthWidth() const { return mDepthWidth; }
    float MinBin() const { return mMinBin; }
    float PanXPerDecade() const { return mPanXPerDecade.load(std::memory_order_relaxed); }
    float RowsPerDecade() const { return mRowsPerDecade; }
    float ColourDivisor() const { return mColourDivisor; }
    int SlotCount() const { return mSlotCount; }
    int AverageCount() const { return mAverageCount; }
    int SkipReload() const { return mSkipReload; }
    bool Allocated() const { return mAllocated; }
    int CurrentSlot() const { return mCurrentSlot.load(std::memory_order_relaxed); }
    // Palette entry i as red, green, blue.
    std::array<uint8_t, 3> PaletteEntry(int i) const { return mPalette[static_cast<size_t>(i)]; }
    // GUI thread, feed idle (tests): a cell of a slot, row 0 = lowest frequency; 0 for an
    // empty map.
    int32_t PanCell(int slot, int row, int column) const;
    int32_t DepthCell(int slot, int row, int column) const;

private:
    using Cell = std::atomic<int32_t>;

    Cell* PanSlot(int slot) const noexcept;
    Cell* DepthSlot(int slot) const noexcept;
    int RowOfBin(int bin) const noexcept;
    void BuildOne(QImage& image, int width, int height, bool pan, int first, int count);

    // Bins per pass of the batch feed; the scratch below holds one pass.
    static constexpr int kChunk = 256;

    int mPanWidth = 0;
    int mPanHeight = 0;
    int mDepthWidth = 0;
    int mDepthHeight = 0;
    float mMinBin = 0.0f;
    int mPanCentre = 0;
    std::atomic<float> mPanXPerDecade{0.0f};
    float mRowsPerDecade = 0.0f;
    float mDepthXPerRadian = 0.0f;
    float mLogMinBin = 0.0f;
    int mSlotCount = 0;
    int mAverageCount = 0;
    std::atomic<int> mCurrentSlot{0};
    float mColourDivisor = 6000.0f;
    std::array<std::array<uint8_t, 3>, kPaletteSize> mPalette{};
    bool mAllocated = false;
    int mSkipReload = 0;
    int mSkipCounter = 0;
    bool mSkipFrame = false;
    // Which slot the last build showed; per map, so a second map builds on its first call.
    int mLastBuiltSlot = -1;
    // Frames recorded so far and at the last build: a ring that went round exactly once
    // between two builds is back at the same slot but still has new frames.
    std::atomic<uint32_t> mRecordedFrames{0};
    uint32_t mLastBuiltFrames = 0;
    QImage mPanImage;
    QImage mDepthImage;

    std::unique_ptr<Cell[]> mRing;  // slot s: pan cells, depth cells, a spare cell
    size_t mPanCells = 0;           // per slot
    size_t mDepthCells = 0;         // per slot
    size_t mSlotStride = 0;         // cells per slot: pan, depth and one spare
    std::vector<int16_t> mRowOfBin; // -1 below the lowest shown frequency
    // Per bin, where its row starts in a slot's pan and depth cells; -1 where it has no row.
    std::vector<int32_t> mPanRowStart;
    std::vector<int32_t> mDepthRowStart;
    int mFirstRowBin = 0; // the bins mFirstRowBin..mRowEndBin-1 have a row
    int mRowEndBin = 0;
    bool mAvx2 = false; // the processor runs the AVX2 build of the per-bin pass
    // Scratch of AddBins, sized here so the feed never allocates.
    std::array<int32_t, kChunk> mChunkPanCell{};
    std::array<int32_t, kChunk> mChunkDepthCell{};
    std::array<int32_t, kChunk> mChunkMono{};
    std::array<int32_t, kChunk> mChunkSum{};
};

} // namespace varnel
