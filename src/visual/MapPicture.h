#pragma once

#include "dsp/AreaMapping.h"
#include "dsp/FilterParams.h"

#include <QImage>
#include <QPoint>
#include <QSize>

#include <cstdint>
#include <string>

namespace varnel {

class SoundSource;
class TScreenMap;
class TWaveData;

// Where the map pictures sit in a picture of the window's map area: the rectangle from the
// top-left corner of Screen1's sunken panel to the bottom of the pan scale and the right edge
// of Screen2's panel, in the window's layout.
namespace map_layout {
constexpr QSize kPictureSize{793, 360};
constexpr QPoint kScreen1At{1, 1}; // inside its panel's 1-pixel bevel
constexpr QPoint kFreqScaleAt{562, 1};
constexpr QPoint kScreen2At{596, 1};
constexpr QPoint kPanScaleAt{1, 342};
} // namespace map_layout

// GUI thread (draws with the application's palette). The composed screens and their scales
// laid out as in the window, on the window's background colour.
QImage MapAreaPicture(const TScreenMap& screens);

// What to render: the window's map area at the moment when a given point of the file is heard
// while it plays from its start with visuals on.
struct MapPictureRequest
{
    double AtSeconds = -1.0;                  // heard position; negative: the middle of the file
    int PanScalePosition = kPanScaleBarStart; // PanScaleBar 0..kPanScaleBarMax
    int ColourScalePosition = kColourScaleBarStart; // ColorScaleBar 0..kColourScaleBarMax
    int Quality = 2;                                // 0..4 as in the options
    int BufferMs = 200;                             // sound buffer length from the options
    AreaEdges Edges = StartupEdges();
    bool Inverted = false;
};

enum class MapPictureStatus
{
    Done,
    InputUnreadable, // not 16-bit stereo PCM (a WAV reader) or not stereo, or the sound ends
                     // before its declared end
    TimeBeyondEnd,   // AtSeconds lies after the end of the file
    SetupFailed,     // the filter or the map could not be set up
};

struct MapPictureResult
{
    MapPictureStatus Status = MapPictureStatus::Done;
    QImage Picture;
    // Where the frames came from, for tests and messages: the heard frame, the reader's frame
    // (heard + play latency, at most the end of the file), and the frames the filter was run
    // over to get there.
    int64_t HeardFrame = 0;
    int64_t ReaderFrame = 0;
    int64_t FramesFiltered = 0;
};

// GUI thread (composes with QPainter). Runs the playback filter with the visual feed over the
// stretch of the open input file whose analysis the window would be averaging when AtSeconds
// is heard, and composes both screens as the window shows them then. Reads by position: the
// reader's place does not move.
MapPictureResult RenderMapPicture(TWaveData& input, const MapPictureRequest& request);
// The same for a stereo source of any format (its sound in 16-bit units, as the filter takes
// it at every resolution).
MapPictureResult RenderMapPicture(const SoundSource& input, const MapPictureRequest& request);

} // namespace varnel
