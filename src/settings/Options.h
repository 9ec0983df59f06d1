#pragma once

#include "dsp/FilterParams.h"

#include <string>

namespace varnel {

// The two settings the program keeps between runs, and how they are stored: section
// "V10_Option" of the settings file, keys "BuffSize" and "QtyLevel", decimal integers.
constexpr const char* kOptionSection = "V10_Option";
constexpr const char* kBuffSizeKey = "BuffSize";
constexpr const char* kQtyLevelKey = "QtyLevel";

// The sound buffer length in milliseconds: it trades dropouts against the delay with which
// changes are heard.
constexpr int kDefaultBuffSize = 200;
constexpr int kMinBuffSize = 100;
constexpr int kMaxBuffSize = 1000;
// The quality level sets the filter's overlap count; any value is kept, and values outside
// 0..4 act as the default.
constexpr int kDefaultQtyLevel = 2;
constexpr int kMinQtyLevel = 0;
constexpr int kMaxQtyLevel = 4;

// The soft cut, kept in a section of its own as decimal numbers: the pan, depth and frequency
// edge widths in dB, radians and octaves, the attenuation in dB ("inf" for none: what the area
// removes is cleared) and the smoothing time constant in ms. Beside them, whether the options
// dialog leaves playback running while it is open (an integer, 1 or 0).
constexpr const char* kSoftCutSection = "V10_SoftCut";
constexpr const char* kFeatherPanKey = "FeatherPan";
constexpr const char* kFeatherDepthKey = "FeatherDepth";
constexpr const char* kFeatherFreqKey = "FeatherFreq";
constexpr const char* kAttenuateKey = "Attenuate";
constexpr const char* kSmoothKey = "Smooth";
constexpr const char* kKeepPlayingKey = "KeepPlaying";

// Any thread; pure. The buffer length in effect for one read or typed: brought into
// 100..1000.
int LimitBuffSize(int buffSize);

// Any thread; reads the environment and the file system. The settings file of the running
// program: "varnel.ini" for the program file "varnel", in the settings folder. Empty when no
// settings folder can be named.
std::string OptionsFilePath();

// Any thread; reads the file. Reads the two keys into buffSize and qtyLevel, whose values
// are the defaults for a missing file, section or key, or a value that is not an integer.
// Nothing is limited here.
void ReadOptions(const std::string& iniPath, int& buffSize, int& qtyLevel);

// Any thread; writes the file. Stores both keys in one replacement of the file, keeping
// every other line of it. False, with the file as it was, when it cannot be written.
bool WriteOptions(const std::string& iniPath, int buffSize, int qtyLevel);

// Any thread; reads the file. Reads the soft cut's keys into soft, whose values are the
// defaults for a missing file, section or key, or a value that is not a number; values outside
// their ranges are brought into them (SoftCut::Limited).
void ReadSoftCut(const std::string& iniPath, SoftCut& soft);
// Any thread; reads the file. Whether the options dialog keeps playing into keepPlaying (any
// integer but 0 ticks it), whose value is the default for a missing key or a value that is
// not an integer.
void ReadKeepPlaying(const std::string& iniPath, bool& keepPlaying);
// Any thread; writes the file. Stores the two options, the soft cut and keepPlaying in one
// replacement of the file, as WriteOptions does. A file that never had the soft cut's section
// gets none while the cut is hard and keepPlaying is off, and a file that never had the
// KeepPlaying key gets none while it is off.
bool WriteOptions(const std::string& iniPath, int buffSize, int qtyLevel, const SoftCut& soft,
                  bool keepPlaying);

// Any thread; pure. A soft cut value as stored and shown: the shortest decimal that reads
// back as the same float ("6", "0.35", "inf").
std::string SoftCutNumberText(float value);
// Any thread; pure. Reads such a number (also "inf"); false for anything else.
bool ParseSoftCutNumber(const std::string& text, float& value);

} // namespace varnel
