#pragma once

#include "dsp/FilterParams.h"

#include <string>

namespace varnel {

// The window's two map screens in pixels: Screen1 (pan across, frequency up) and Screen2
// (depth across, the same frequency rows).
constexpr int kScreen1Width = 560;
constexpr int kScreen1Height = 340;
constexpr int kScreen2Width = 196;

// The frequency axis of both maps runs from this frequency on the bottom row to the half
// sample rate on the top row, whatever the file's rate.
constexpr float kFreqAxisFloorHz = 40.0f;

// The visual map's cell grid: pan cells across and frequency cells up on Screen1, depth cells
// across on Screen2. The screens enlarge the cells to their pixels.
constexpr int kMapPanCells = 90;
constexpr int kMapFreqCells = 60;
constexpr int kMapDepthCells = 40;

// The half rate the window's axes use before a file is loaded, and the pan scale the visual
// map is set up with before the pan scale slider gives its own.
constexpr int kNoFileHalfRate = 22050;
constexpr float kInitialPanScale = 50.0f;

// The window's sliders: positions 0..max and where each starts.
constexpr int kPanScaleBarMax = 10;
constexpr int kPanScaleBarStart = 3; // pan scale 10
constexpr int kColourScaleBarMax = 10;
constexpr int kColourScaleBarStart = 5;
constexpr int kVolumeBarMax = 20;
constexpr int kVolumeBarStart = 20; // full volume

// The eight edges of the extraction area in screen pixels. Left and top are the first column
// and row inside; right and bottom are one past the last.
struct AreaEdges
{
    int Area1Left = 0, Area1Top = 0, Area1Right = 0, Area1Bottom = 0; // Screen1: pan x freq
    int Area2Left = 0, Area2Top = 0, Area2Right = 0, Area2Bottom = 0; // Screen2: depth x freq
};

// The screens the edges live on and the axes' end values.
struct AreaGeometry
{
    int Screen1Width = kScreen1Width;
    int Screen1Height = kScreen1Height;
    int Screen2Width = kScreen2Width;
    int HalfRate = kNoFileHalfRate; // Hz at the top row
    float PanScale = 10.0f;         // pan ratio at the right border of Screen1
};

// What the edges mean to the filter, and the two frequency label texts ("7796Hz").
struct AreaMapping
{
    FilterArea Area;
    std::string FreqHighLabel;
    std::string FreqLowLabel;
};

// Any thread; pure. The window's start-up edges for screens of these sizes.
AreaEdges StartupEdges(int screen1Width = kScreen1Width, int screen1Height = kScreen1Height,
                       int screen2Width = kScreen2Width);

// Any thread; pure. Edges to the filter's parameter set (the window's UpdateFilterParams
// arithmetic): logarithmic pan with ratio 1 at the middle column, logarithmic frequency from
// kFreqAxisFloorHz at the bottom to the half rate at the top, linear depth 0..pi. Inverted is
// false; the caller sets it.
AreaMapping MapArea(const AreaEdges& edges, const AreaGeometry& geometry);

// Any thread; pure. The inverse of MapArea: the eight edges that show the filter area on the
// screens' axes. Each edge is the nearest pixel to its value, clamped to the screen; an open
// bound (pan 0 or 65535 and above, frequency 0 or the half rate and above) lies on the border,
// and an edge given backwards is put beside its partner. Mapping the edges back (MapArea)
// gives bounds that round to the same pixels, so edges survive the round trip unchanged.
AreaEdges EdgesForArea(const FilterArea& area, const AreaGeometry& geometry);

// Any thread; pure. The window's start-up area for a file of this sample rate: the start-up
// edges on the default screens, mapped with the pan scale slider at its start position.
FilterArea StartupArea(int sampleRate);

// Any thread; pure. 10^((position + 2) * 0.2) as a float: 2.512 .. 251.19, 10 at position 3.
float PanScaleFromSlider(int position);

// Any thread; pure. The volume of a volume-slider position 0..kVolumeBarMax (the maximum is
// loudest), in hundredths of a decibel: -2.5 x (20 - position)^2.5, truncated toward zero
// (20 -> 0, 19 -> -2, 10 -> -790, 0 -> -4472). Positions outside the slider are clamped.
int VolumeFromSlider(int position);

struct FftParams
{
    int FftSize = 8192;
    int Overlap = 16;
};

// Any thread; pure. FFT length from the sample rate (2048 per 11025 Hz pair, at least 2048;
// a length that is not a power of two is lowered to the next lower one) and the overlap from
// the quality level (0..4 give 4, 8, 16, 32, 64; anything else 16).
FftParams ChooseFftParams(int quality, int sampleRate);

// Any thread; pure. Frames between the playback reader and the sound being heard:
// trunc(halfRate * bufferMs * 0.001 + (fftSize - fftSize / overlap)).
int PlayLatencyFrames(int halfRate, int bufferMs, int fftSize, int overlap);

} // namespace varnel
