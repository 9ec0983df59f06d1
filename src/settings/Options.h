#pragma once

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

} // namespace varnel
