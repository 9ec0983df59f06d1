#pragma once

#include <QIcon>
#include <QImage>
#include <QSize>

namespace varnel {

// The pictures on the window's buttons, drawn by us with vector painting, so they are sharp at
// any device pixel ratio.
enum class Picture
{
    OpenFile, // FileOpenBtn: a folder
    SaveFile, // FileSaveBtn: a disk
    Settings, // SetBtn: a gear
    Help,     // HelpBtn: a question mark in a circle
    Rewind,   // RewButton: bar and two triangles pointing left
    Play,     // PlayButton while stopped
    Pause,    // PlayButton while playing
    // The three pictures of RepeatBtn (ABImages), one per RepeatState:
    RepeatOff,  // 0: no point set; "A-B" greyed
    RepeatA,    // 1: point A set; "A" lit, "B" still grey
    RepeatLoop, // 2: A and B set, looping; both lit, with the arrow back from B to A
};

// Any thread; pure. The picture's size in logical pixels: 16 x 16 for the file buttons,
// 17 x 17 for settings and help, 24 x 24 for rewind, play and pause, 56 x 24 for the repeat
// pictures. Buttons set this as their icon size.
QSize PictureSize(Picture picture);

// Any thread; pure. The repeat picture for RepeatState 0, 1 or 2; other states count as 0.
Picture RepeatPicture(int repeatState);

// Any thread (raster painting only, no fonts). The picture drawn at PictureSize() x scale
// pixels on a transparent background; the image's device pixel ratio is scale.
QImage DrawPicture(Picture picture, qreal scale);

// GUI thread only (makes pixmaps). The picture as an icon holding a 1x and a 2x pixmap, each
// drawn at its own resolution.
QIcon PictureIcon(Picture picture);

// Any thread (raster painting only, no fonts). The application's mark, a stereo field with a
// selected band, drawn into a square of the given side in pixels on a transparent
// background. The same drawing as share/icons/.../scalable/apps/varnel.svg (a 512-unit grid).
QImage DrawAppIcon(int pixels);

// GUI thread only (makes pixmaps). The application's mark at 16, 24, 32, 48, 64, 128, 256 and
// 512 pixels, for the windows' icon.
QIcon AppIcon();

} // namespace varnel
