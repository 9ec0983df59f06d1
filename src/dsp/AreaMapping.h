#pragma once

#include "dsp/FilterParams.h"

#include <string>

namespace varnel {

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
    int Screen1Width = 560;
    int Screen1Height = 340;
    int Screen2Width = 196;
    int HalfRate = 22050;   // Hz at the top row
    float PanScale = 10.0f; // pan ratio at the right border of Screen1
};

// What the edges mean to the filter, and the two frequency label texts ("7796Hz").
struct AreaMapping
{
    FilterArea Area;
    std::string FreqHighLabel;
    std::string FreqLowLabel;
};

// Any thread; pure. The window's start-up edges for screens of these sizes.
AreaEdges StartupEdges(int screen1Width = 560, int screen1Height = 340, int screen2Width = 196);

// Any thread; pure. Edges to the filter's parameter set (the window's UpdateFilterParams
// arithmetic): logarithmic pan with ratio 1 at the middle column, logarithmic frequency from
// 40 Hz at the bottom to the half rate at the top, linear depth 0..pi. Inverted is false;
// the caller sets it.
AreaMapping MapArea(const AreaEdges& edges, const AreaGeometry& geometry);

// Any thread; pure. 10^((position + 2) * 0.2) as a float: 2.512 .. 251.19, 10 at position 3.
float PanScaleFromSlider(int position);

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
