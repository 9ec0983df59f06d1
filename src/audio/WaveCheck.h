#pragma once

#include "audio/MessageId.h"
#include "audio/Twave.h"

#include <string>
#include <system_error>

namespace varnel {

// Sample rates outside this range make the filter's arithmetic meaningless (no bin above the
// lowest frequency edge, or sizes past what the FFT length choice covers).
constexpr uint32_t kLowestRefusedRate = 80;     // this rate and below are refused
constexpr uint32_t kHighestSampleRate = 768000; // above this is refused

// Whether the WAVE_FORMAT_EXTENSIBLE form of 16-bit stereo PCM passes the format check. The
// window refuses it as not PCM (kMsgNotPcm); the command line reads it like plain PCM.
enum class ExtensiblePcm
{
    Refuse,
    Accept,
};

// Any thread; pure. The format check of one format record (extensibleSubFormat as
// TWaveData::ExtensibleSubFormat gives it): kMsgNone when it is 16-bit stereo PCM at a usable
// rate, else the message, as CheckWaveFile lists them.
MessageId CheckWaveFormat(const WaveFormat& format, uint16_t extensibleSubFormat,
                          ExtensiblePcm extensible = ExtensiblePcm::Refuse);

// Caller's thread (the reader's owner). Opens the file into reader and checks its format,
// opening it once: kMsgNone with the reader open, or the message of CheckWaveFile with the
// reader closed (its Format still holds what was found). For kMsgCannotOpen the system's
// reason, when it gave one, goes to *reason.
MessageId OpenCheckedWave(const std::string& path, TWaveData& reader,
                          ExtensiblePcm extensible = ExtensiblePcm::Refuse,
                          std::error_code* reason = nullptr);

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
