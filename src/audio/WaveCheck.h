#pragma once

#include "audio/MessageId.h"
#include "audio/Twave.h"

#include <string>

namespace varnel {

// Sample rates outside this range make the filter's arithmetic meaningless (no bin above the
// lowest frequency edge, or sizes past what the FFT length choice covers).
constexpr uint32_t kLowestRefusedRate = 80;     // this rate and below are refused
constexpr uint32_t kHighestSampleRate = 768000; // above this is refused

// Any thread; opens and closes the file. The file check that loading and saving run before
// they use a file. kMsgNone when it is a usable 16-bit stereo PCM WAV file, else the message
// to show: kMsgCannotOpen (also a folder, or a format chunk shorter than 16 bytes);
// kMsgUnsupportedFile for no RIFF WAVE file, no "fmt " chunk, no "data" chunk after it, or a
// sample rate of 80 Hz or below or above 768 kHz; kMsgNotPcm when the format tag is not 1;
// kMsgNotStereo16 when not 16-bit stereo, also when the block align is not 4. The format found is stored in *format when it is not
// null and the file opened, whether or not it passed.
MessageId CheckWaveFile(const std::string& path, WaveFormat* format);

// Any thread; pure. The format label: "%.3fkHz %d位   %s" with the rate in kHz, the bits per
// sample and "单声道" (one channel) or "立体声" (otherwise), UTF-8 and independent of the
// C locale ("44.100kHz 16位   立体声").
std::string FormatLabelText(const WaveFormat& format);

} // namespace varnel
