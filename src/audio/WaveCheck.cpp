#include "audio/WaveCheck.h"

#include <cstdio>

namespace varnel {

MessageId CheckWaveFile(const std::string& path, WaveFormat* format)
{
    TWaveData reader;
    const WaveOpenResult opened = reader.OpenRead(path);
    if (opened != kWaveOpened)
        return opened == kWaveCannotOpen ? kMsgCannotOpen : kMsgUnsupportedFile;
    const WaveFormat f = reader.Format;
    reader.Close();
    if (format)
        *format = f;
    if (f.FormatTag != 1)
        return kMsgNotPcm;
    // A wrong block align would break every later use of 4-byte frames.
    if (f.BitsPerSample != 16 || f.Channels != 2 || f.BlockAlign != 4)
        return kMsgNotStereo16;
    if (f.SamplesPerSec <= kLowestRefusedRate || f.SamplesPerSec > kHighestSampleRate)
        return kMsgUnsupportedFile;
    return kMsgNone;
}

std::string FormatLabelText(const WaveFormat& format)
{
    // Whole numbers of Hz give exactly three decimals of kHz; integer arithmetic keeps the
    // decimal point a point whatever LC_NUMERIC the GUI toolkit has set.
    char text[64];
    std::snprintf(text, sizeof text, "%u.%03ukHz %d位   %s",
                  static_cast<unsigned>(format.SamplesPerSec / 1000),
                  static_cast<unsigned>(format.SamplesPerSec % 1000),
                  static_cast<int>(format.BitsPerSample),
                  format.Channels == 1 ? "单声道" : "立体声");
    return text;
}

} // namespace varnel
