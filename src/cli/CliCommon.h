#pragma once

// The pieces every varnel-cli command shares: exit codes, the option parsers for the
// extraction area, quality and buffer length, message output, opening a checked input file,
// stop signals and the progress line.
//
// A command is one function `int RunNAME(int argc, char** argv)` in its own file, listed in
// the dispatch table of main.cpp. argv[0] is the command's name, argv[1..] its arguments; it
// returns the process exit code.

#include "audio/MessageId.h"
#include "audio/SaveFile.h"
#include "dsp/AreaMapping.h"
#include "dsp/FilterParams.h"
#include "settings/Options.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace varnel {

class InputFile;

namespace cli {

constexpr int kExitDone = 0;
constexpr int kExitUsage = 2;
constexpr int kExitInputRefused = 3;  // kMsgCannotOpen .. kMsgNotStereo16
constexpr int kExitOutputRefused = 4; // kMsgFileExists, kMsgCreateFailed, kMsgOutputIsInput
constexpr int kExitExportFailed = 5;  // kMsgOutOfMemory, kMsgSaveFailed
// A stop signal ends a command with 128 + its number, as shells report a process that the
// signal ended (Ctrl-C 130, SIGTERM 143, SIGHUP 129).

// The desktop program's option defaults and limits, from their one home.
constexpr int kDefaultQuality = kDefaultQtyLevel;
constexpr int kDefaultBufferMs = kDefaultBuffSize;
constexpr int kMinBufferMs = kMinBuffSize;
constexpr int kMaxBufferMs = kMaxBuffSize;

// Commands, implemented each in its own file.
int RunInfo(int argc, char** argv);
int RunExport(int argc, char** argv);
int RunMap(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunConvert(int argc, char** argv);

// The usage lines of the area options, shared by the commands' usage texts.
extern const char* const kAreaUsage;

// One LO:HI range as typed. HighIsMax records "max", whose value depends on the file.
struct RangeOption
{
    bool Given = false;
    float Low = 0.0f;
    float High = 0.0f;
    bool HighIsMax = false;
};

// One soft cut value as typed.
struct SoftValueOption
{
    bool Given = false;
    float Value = 0.0f;
};

// The soft cut that --soft stands for: values measured on the demo mix to lessen the hard
// cut's artefacts in both what is kept and what is removed, at about the same overall error.
SoftCut SoftPreset();

// The area options of one command line.
struct AreaOptions
{
    RangeOption Pan;   // ratio; "max" is 65535
    RangeOption Freq;  // Hz; "max" is half the sample rate
    RangeOption Depth; // radians 0..pi; "pi" accepted
    bool Invert = false;
    bool Widest = false;
    // The soft cut: the preset, and each value given on its own.
    bool Soft = false;
    SoftValueOption FeatherPan, FeatherDepth, FeatherFreq, Attenuate, Smooth;

    // Any thread; pure. The filter area for a file of this sample rate: the window's start-up
    // area for the rate (or the widest area with --widest), then each range that was given,
    // then the invert flag; the soft cut is the hard cut, or the preset with --soft, with each
    // soft cut value that was given in place of the preset's, in whatever order.
    FilterArea Resolve(int sampleRate) const;
};

// Result of offering one argument to a shared option parser.
enum class OptionParse
{
    NotMine, // not this parser's option; i unchanged
    Taken,   // stored; i now indexes the option's last argument (its value, if it has one)
    Bad,     // malformed; the usage error is printed; return kExitUsage
};

// Main thread. The area options: --pan LO:HI, --freq LO:HI, --depth LO:HI, --invert,
// --widest, and the soft cut's --soft, --feather-pan DB, --feather-depth RAD, --feather-freq
// OCT, --attenuate DB ("inf" for none), --smooth MS. Values may follow as the next argument or
// after '=' (--pan=0.5:2).
OptionParse ParseAreaOption(int argc, char** argv, int& i, AreaOptions& area);
// Main thread. --quality 0-4.
OptionParse ParseQualityOption(int argc, char** argv, int& i, int& quality);
// Main thread. --buffer MS, 100..1000.
OptionParse ParseBufferOption(int argc, char** argv, int& i, int& bufferMs);

// Main thread. Handles "--", which ends the options: returns true when argv[i] is the first
// "--" (the caller skips it), and from then on optionsEnded is true, so every later argument
// is a file name however it starts.
bool TakeEndOfOptions(const char* arg, bool& optionsEnded);

// Main thread. When argv[i] is the option `name` (e.g. "--at"), puts its value (the next
// argument, or the text after '=') into value and returns Taken; a missing value prints a
// usage error and returns Bad.
OptionParse TakeOptionValue(int argc, char** argv, int& i, const char* name, std::string& value);

// Any thread; pure. Whole-text number parsers; false for anything else (empty, trailing
// characters, out of range, not finite).
bool ParseInt(const std::string& text, int low, int high, int& value);
bool ParseDouble(const std::string& text, double& value);

// Any thread; pure. True for arguments that look like options ("--x", "-x"); "-" alone and
// negative numbers are not.
bool IsOptionArgument(const char* arg);

// Any thread, serialised. Prints `varnel-cli: "NAME": TEXT` on standard error (wiping a
// progress line first), NAME being the path's file name without folders and TEXT the message
// of that id in the locale's language; a reason the system gave for an output's failure
// follows the text in brackets: `... An error occurred during file creation. (No space left
// on device)`.
void PrintFileMessage(const std::string& path, MessageId message, std::error_code reason = {});
// Any thread, serialised. The same with a text of the command line's own.
void PrintFileText(const std::string& path, const std::string& text);
// Any thread, serialised. `varnel-cli: TEXT`.
void PrintError(const std::string& text);
// Main thread. Prints `varnel-cli: TEXT` and a hint to the usage; returns kExitUsage.
int UsageError(const std::string& text);

// Any thread; pure. The path's last component.
std::string FileNameOf(const std::string& path);

// Caller's thread (the input's owner). Opens the file into input: a 16-bit stereo PCM WAV file
// as the window opens it (its extensible form too), any other sound file the program reads
// through the sound file library. On a refusal prints it (PrintInputRefusal) and returns
// kExitInputRefused; otherwise kExitDone.
int OpenInput(const std::string& path, InputFile& input);

// Any thread, serialised. The message of a refused input with the file's name: the numbered
// message (kMsgCannotOpen .. kMsgNotStereo16), or, for a sound file that is not stereo
// (channels > 0), the refusal naming its channel count.
void PrintInputRefusal(const std::string& path, MessageId message, int channels);

// Any thread; pure. The exit code for a save's message, as the kExit constants list them.
int ExitCodeForMessage(MessageId message);

// Main thread, once, before worker threads start. The stop signals (Ctrl-C, SIGTERM,
// SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU) then set the interrupt flag instead of ending the
// process, so a command can stop its work and leave its files in order; a signal ignored at
// start stays ignored.
void InstallInterruptHandler();
// Any thread. Set once a stop signal has arrived.
const std::atomic<bool>& InterruptFlag();
// Any thread. The exit code of a command that a stop signal ended: 128 + the signal's number.
int InterruptedExitCode();

// A one-line progress report on standard error, redrawn in place: percent, speed as a
// multiple of real time and time left. Silent when quiet or when standard error is not a
// terminal. One thread uses an object.
class ProgressLine
{
public:
    // totalSeconds is the sound length the work covers.
    ProgressLine(bool quiet, double totalSeconds);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // fraction 0..1 of the work done; prefix goes before the figures (e.g. "2/5 files").
    // Redraws at most ten times a second.
    void Update(double fraction, const std::string& prefix = std::string());
    // The sound length the work covers, when it is known better than at construction.
    void SetTotalSeconds(double totalSeconds) noexcept { mTotalSeconds = totalSeconds; }
    // Removes the line. Also done by the destructor.
    void Finish();
    bool Enabled() const noexcept { return mEnabled; }

    // Any thread; pure. The figures as drawn, for tests: "42%  12.5x real time  0:07 left".
    static std::string Format(double fraction, double totalSeconds, double elapsedSeconds);

private:
    bool mEnabled;
    double mTotalSeconds;
    std::chrono::steady_clock::time_point mStart;
    std::chrono::steady_clock::time_point mLastDraw;
    bool mDrawn = false;
};

} // namespace cli
} // namespace varnel
