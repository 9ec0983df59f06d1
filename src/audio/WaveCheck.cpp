#include "audio/WaveCheck.h"

#include <cstdio>

namespace varnel {

namespace {

constexpr uint16_t kPcmTag = 1;
constexpr uint16_t kExtensibleTag = 0xFFFE;

} // namespace

MessageId CheckWaveFormat(const WaveFormat& f, uint16_t extensibleSubFormat,
                          ExtensiblePcm extensible)
{
    const bool pcm =
        f.FormatTag == kPcmTag || (extensible == ExtensiblePcm::Accept &&
                                   f.FormatTag == kExtensibleTag && extensibleSubFormat == kPcmTag);
    if (!pcm)
        return kMsgNotPcm;
    // A wrong block align would break every later use of 4-byte frames.
    if (f.BitsPerSample != 16 || f.Channels != 2 || f.BlockAlign != 4)
        return kMsgNotStereo16;
    if (f.SamplesPerSec <= kLowestRefusedRate || f.SamplesPerSec > kHighestSampleRate)
        return kMsgUnsupportedFile;
    return kMsgNone;
}

MessageId OpenCheckedWave(const std::string& path, TWaveData& reader, ExtensiblePcm extensible,
                          std::error_code* reason)
{
    if (reason)
        reason->clear();
    const WaveOpenResult opened = reader.OpenRead(path);
    if (opened != kWaveOpened) {
        if (reason && opened == kWaveCannotOpen)
            *reason = reader.LastError();
        return opened == kWaveCannotOpen ? kMsgCannotOpen : kMsgUnsupportedFile;
    }
    const MessageId message =
        CheckWaveFormat(reader.Format, reader.ExtensibleSubFormat, extensible);
    if (message != kMsgNone)
        reader.Close();
    return message;
}

MessageId CheckWaveFile(const std::string& path, WaveFormat* format)
{
    TWaveData reader;
    const WaveOpenResult opened = reader.OpenRead(path);
    if (opened != kWaveOpened)
        return opened == kWaveCannotOpen ? kMsgCannotOpen : kMsgUnsupportedFile;
    if (format)
        *format = reader.Format;
    return CheckWaveFormat(reader.Format, reader.ExtensibleSubFormat);
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
