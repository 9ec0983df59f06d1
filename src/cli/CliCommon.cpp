#include "cli/CliCommon.h"

#include "audio/SaveFile.h"
#include "cli/CliTexts.h"
#include "platform/FileNames.h"
#include "platform/StopSignals.h"
#include "platform/Terminal.h"
#include "settings/Langset.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace varnel::cli {

namespace fs = std::filesystem;

const char* const kAreaUsage =
    "area:  --pan LO:HI     pan ratio (right/left magnitude); LO may be 0, HI may be \"max\" "
    "(65535)\n"
    "       --freq LO:HI    Hz; HI may be \"max\" (half the sample rate)\n"
    "       --depth LO:HI   radians, 0..pi; \"pi\" is accepted\n"
    "       --invert        remove the area instead of keeping it\n"
    "       --widest        pan 0:max, freq 0:max, depth 0:pi\n"
    "       Without area options the area is the window's start-up area for the file's rate.\n"
    "soft cut (default: the hard cut, every sound kept or removed outright):\n"
    "       --feather-pan DB    width of the pan edges, 0..60 dB of the ratio\n"
    "       --feather-depth RAD width of the depth edges, 0..pi radians\n"
    "       --feather-freq OCT  width of the frequency edges, 0..8 octaves\n"
    "       --attenuate DB      lower what the area removes by DB (0 < DB <= 120) instead of\n"
    "                           removing it; \"inf\" removes it\n"
    "       --smooth MS         let each frequency's gain follow changes with this time\n"
    "                           constant, 0..5000 ms\n"
    "       --soft              a preset of the above (any of them given as well wins)\n";

namespace {

std::mutex& OutputMutex()
{
    static std::mutex m;
    return m;
}

const TLangSet& Texts()
{
    static const TLangSet texts;
    return texts;
}

// Width of the progress line now on the terminal (0 when none), under OutputMutex, so a
// message can wipe it first instead of being glued to its end.
size_t gProgressWidth = 0;

void WipeProgressLocked()
{
    if (gProgressWidth > 0) {
        std::fputs(("\r" + std::string(gProgressWidth, ' ') + "\r").c_str(), stderr);
        gProgressWidth = 0;
    }
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Depth values typed to a few decimals ("3.1416") land just above the float pi; they mean pi.
constexpr double kDepthSlack = 1e-3;

bool ParseRangeEnd(const std::string& text, const char* maxWord, double maxValue, double& value,
                   bool& isMax)
{
    isMax = false;
    if (maxWord && Lower(text) == maxWord) {
        value = maxValue;
        isMax = true;
        return true;
    }
    return ParseDouble(text, value);
}

} // namespace

FilterArea AreaOptions::Resolve(int sampleRate) const
{
    FilterArea area = Widest ? FilterArea::Widest(sampleRate) : StartupArea(sampleRate);
    const float halfRate = static_cast<float>(sampleRate >> 1);
    if (Pan.Given) {
        area.PanLow = Pan.Low;
        area.PanHigh = Pan.HighIsMax ? kPanOpenHigh : Pan.High;
    }
    if (Freq.Given) {
        area.FreqLowHz = Freq.Low;
        area.FreqHighHz = Freq.HighIsMax ? halfRate : Freq.High;
    }
    if (Depth.Given) {
        area.DepthLow = Depth.Low;
        area.DepthHigh = Depth.High;
    }
    area.Inverted = Invert;
    SoftCut soft = Soft ? SoftPreset() : SoftCut();
    const auto take = [](const SoftValueOption& o, float& value) {
        if (o.Given)
            value = o.Value;
    };
    take(FeatherPan, soft.FeatherPanDb);
    take(FeatherDepth, soft.FeatherDepth);
    take(FeatherFreq, soft.FeatherFreq);
    take(Attenuate, soft.AttenuateDb);
    take(Smooth, soft.SmoothMs);
    area.Soft = soft;
    return area;
}

SoftCut SoftPreset()
{
    return SoftCutPreset();
}

bool ParseInt(const std::string& text, int low, int high, int& value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

bool ParseDouble(const std::string& text, double& value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

bool IsOptionArgument(const char* arg)
{
    if (!arg || arg[0] != '-' || arg[1] == '\0')
        return false;
    return !(std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
}

bool TakeEndOfOptions(const char* arg, bool& optionsEnded)
{
    if (optionsEnded || std::string(arg) != "--")
        return false;
    optionsEnded = true;
    return true;
}

OptionParse TakeOptionValue(int argc, char** argv, int& i, const char* name, std::string& value)
{
    const std::string arg = argv[i];
    const std::string n = name;
    if (arg == n) {
        if (i + 1 >= argc) {
            UsageError(n + " needs a value");
            return OptionParse::Bad;
        }
        value = argv[++i];
        return OptionParse::Taken;
    }
    if (arg.compare(0, n.size() + 1, n + "=") == 0) {
        value = arg.substr(n.size() + 1);
        return OptionParse::Taken;
    }
    return OptionParse::NotMine;
}

OptionParse ParseAreaOption(int argc, char** argv, int& i, AreaOptions& area)
{
    const std::string arg = argv[i];
    if (arg == "--invert") {
        area.Invert = true;
        return OptionParse::Taken;
    }
    if (arg == "--widest") {
        area.Widest = true;
        return OptionParse::Taken;
    }
    if (arg == "--soft") {
        area.Soft = true;
        return OptionParse::Taken;
    }

    struct SoftKind
    {
        const char* Name;
        SoftValueOption* Target;
        float Top;
        bool Attenuation; // above 0, or "inf"
        const char* Help;
    };
    const SoftKind softKinds[] = {
        {"--feather-pan", &area.FeatherPan, SoftCut::kMaxFeatherPanDb, false,
         "--feather-pan takes a width from 0 to 60 dB"},
        {"--feather-depth", &area.FeatherDepth, SoftCut::kMaxFeatherDepth, false,
         "--feather-depth takes a width from 0 to pi radians"},
        {"--feather-freq", &area.FeatherFreq, SoftCut::kMaxFeatherFreq, false,
         "--feather-freq takes a width from 0 to 8 octaves"},
        {"--attenuate", &area.Attenuate, SoftCut::kMaxAttenuateDb, true,
         "--attenuate takes decibels above 0 up to 120, or inf"},
        {"--smooth", &area.Smooth, SoftCut::kMaxSmoothMs, false,
         "--smooth takes a time constant from 0 to 5000 ms"},
    };
    for (const SoftKind& kind : softKinds) {
        std::string value;
        const OptionParse taken = TakeOptionValue(argc, argv, i, kind.Name, value);
        if (taken == OptionParse::NotMine)
            continue;
        if (taken == OptionParse::Bad)
            return taken;
        double v = 0.0;
        bool ok = false;
        if (kind.Attenuation && (Lower(value) == "inf" || Lower(value) == "infinity")) {
            v = SoftCut::kNoAttenuation;
            ok = true;
        } else if (ParseDouble(value, v)) {
            ok = kind.Attenuation ? v > 0.0 && v <= kind.Top : v >= 0.0 && v <= kind.Top;
        }
        // "pi" for a depth width, as --depth takes it; a few decimals of pi mean pi.
        if (!ok && kind.Target == &area.FeatherDepth && Lower(value) == "pi") {
            v = kPi;
            ok = true;
        } else if (kind.Target == &area.FeatherDepth && v > kind.Top &&
                   v <= kind.Top + kDepthSlack) {
            v = kind.Top;
            ok = true;
        }
        if (!ok) {
            UsageError(std::string(kind.Help) + " (got \"" + value + "\")");
            return OptionParse::Bad;
        }
        kind.Target->Given = true;
        kind.Target->Value = static_cast<float>(v);
        return OptionParse::Taken;
    }

    struct RangeKind
    {
        const char* Name;
        RangeOption* Target;
        const char* MaxWord;
        double MaxValue;
        const char* Help;
    };
    const RangeKind kinds[] = {
        {"--pan", &area.Pan, "max", kPanOpenHigh,
         "--pan takes LO:HI, ratios from 0, HI may be max"},
        {"--freq", &area.Freq, "max", 0.0, "--freq takes LO:HI in Hz from 0, HI may be max"},
        {"--depth", &area.Depth, "pi", kPi,
         "--depth takes LO:HI in radians 0..pi, \"pi\" accepted"},
    };
    for (const RangeKind& kind : kinds) {
        std::string value;
        const OptionParse taken = TakeOptionValue(argc, argv, i, kind.Name, value);
        if (taken == OptionParse::NotMine)
            continue;
        if (taken == OptionParse::Bad)
            return taken;
        const size_t colon = value.find(':');
        double low = 0.0;
        double high = 0.0;
        bool lowIsMax = false;
        bool highIsMax = false;
        const bool depth = kind.Target == &area.Depth;
        if (colon == std::string::npos ||
            !ParseRangeEnd(value.substr(0, colon), depth ? kind.MaxWord : nullptr, kind.MaxValue,
                           low, lowIsMax) ||
            !ParseRangeEnd(value.substr(colon + 1), kind.MaxWord, kind.MaxValue, high, highIsMax) ||
            low < 0.0 || high < 0.0 || (!highIsMax && low > high) ||
            (depth && high > kPi + kDepthSlack)) {
            UsageError(std::string(kind.Help) + " (got \"" + value + "\")");
            return OptionParse::Bad;
        }
        if (depth) {
            low = std::min(low, static_cast<double>(kPi));
            high = std::min(high, static_cast<double>(kPi));
        }
        if (kind.Target == &area.Pan && high > kPanOpenHigh)
            high = kPanOpenHigh;
        RangeOption& range = *kind.Target;
        range.Given = true;
        range.Low = static_cast<float>(low);
        range.High = static_cast<float>(high);
        range.HighIsMax = highIsMax && kind.Target == &area.Freq;
        return OptionParse::Taken;
    }
    return OptionParse::NotMine;
}

OptionParse ParseQualityOption(int argc, char** argv, int& i, int& quality)
{
    std::string value;
    const OptionParse taken = TakeOptionValue(argc, argv, i, "--quality", value);
    if (taken != OptionParse::Taken)
        return taken;
    if (!ParseInt(value, kMinQtyLevel, kMaxQtyLevel, quality)) {
        UsageError("--quality takes a level from 0 (fastest) to 4 (best) (got \"" + value + "\")");
        return OptionParse::Bad;
    }
    return taken;
}

OptionParse ParseBufferOption(int argc, char** argv, int& i, int& bufferMs)
{
    std::string value;
    const OptionParse taken = TakeOptionValue(argc, argv, i, "--buffer", value);
    if (taken != OptionParse::Taken)
        return taken;
    if (!ParseInt(value, kMinBufferMs, kMaxBufferMs, bufferMs)) {
        UsageError("--buffer takes milliseconds from 100 to 1000 (got \"" + value + "\")");
        return OptionParse::Bad;
    }
    return taken;
}

std::string FileNameOf(const std::string& path)
{
    return BytesFromPath(PathFromBytes(path).filename());
}

void PrintFileText(const std::string& path, const std::string& text)
{
    // A path that names no file ("out/") is shown as given, not as an empty name.
    std::string name = FileNameOf(path);
    if (name.empty())
        name = path;
    const std::string line = "varnel-cli: \"" + name + "\": " + text + "\n";
    std::lock_guard<std::mutex> lock(OutputMutex());
    WipeProgressLocked();
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

void PrintFileMessage(const std::string& path, MessageId message, std::error_code reason)
{
    std::string text = Texts().GetMsgText(message);
    if (reason)
        text += " (" + reason.message() + ")";
    PrintFileText(path, text);
}

void PrintError(const std::string& text)
{
    const std::string line = "varnel-cli: " + text + "\n";
    std::lock_guard<std::mutex> lock(OutputMutex());
    WipeProgressLocked();
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

int UsageError(const std::string& text)
{
    PrintError(text);
    PrintError("try 'varnel-cli --help' for the usage");
    return kExitUsage;
}

int OpenInput(const std::string& path, InputFile& input)
{
    const SourceOpenResult opened = input.Open(path);
    if (opened.Message != kMsgNone) {
        PrintInputRefusal(path, opened.Message, opened.RefusedChannels);
        return kExitInputRefused;
    }
    return kExitDone;
}

void PrintInputRefusal(const std::string& path, MessageId message, int channels)
{
    // An input's message says enough as it is, as the window shows it.
    if (channels > 0)
        PrintFileText(path, NotStereoText(channels));
    else
        PrintFileMessage(path, message);
}

int ExitCodeForMessage(MessageId message)
{
    switch (message) {
    case kMsgNone: return kExitDone;
    case kMsgCannotOpen:
    case kMsgUnsupportedFile:
    case kMsgNotPcm:
    case kMsgNotStereo16: return kExitInputRefused;
    case kMsgOutOfMemory:
    case kMsgSaveFailed: return kExitExportFailed;
    default: return kExitOutputRefused;
    }
}

void InstallInterruptHandler()
{
    InstallStopSignalHandlers();
}

const std::atomic<bool>& InterruptFlag()
{
    return StopRequested();
}

int InterruptedExitCode()
{
    const int signalNumber = StopSignalNumber();
    return ExitCodeForSignal(signalNumber != 0 ? signalNumber : SIGINT);
}

ProgressLine::ProgressLine(bool quiet, double totalSeconds)
    : mEnabled(!quiet && IsTerminal(stderr)), mTotalSeconds(totalSeconds),
      mStart(std::chrono::steady_clock::now()), mLastDraw(mStart)
{}

ProgressLine::~ProgressLine()
{
    Finish();
}

std::string ProgressLine::Format(double fraction, double totalSeconds, double elapsedSeconds)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int percent = static_cast<int>(fraction * 100.0);
    char text[96];
    const double done = fraction * totalSeconds;
    // Too early for a speed that means anything: show the percent alone.
    if (elapsedSeconds < 0.2 || done <= 0.0) {
        std::snprintf(text, sizeof text, "%3d%%", percent);
        return text;
    }
    const double speed = done / elapsedSeconds;
    const double left = (totalSeconds - done) / speed;
    const long leftWhole = std::lround(left);
    std::snprintf(text, sizeof text, "%3d%%  %.1fx real time  %ld:%02ld left", percent, speed,
                  leftWhole / 60, leftWhole % 60);
    return text;
}

void ProgressLine::Update(double fraction, const std::string& prefix)
{
    if (!mEnabled)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (mDrawn && now - mLastDraw < std::chrono::milliseconds(100))
        return;
    mLastDraw = now;
    const double elapsed = std::chrono::duration<double>(now - mStart).count();
    std::string line = prefix.empty() ? std::string() : prefix + "  ";
    line += Format(fraction, mTotalSeconds, elapsed);
    const size_t width = line.size();
    std::lock_guard<std::mutex> lock(OutputMutex());
    if (width < gProgressWidth)
        line.append(gProgressWidth - width, ' ');
    gProgressWidth = width;
    std::fputs(("\r" + line).c_str(), stderr);
    std::fflush(stderr);
    mDrawn = true;
}

void ProgressLine::Finish()
{
    if (!mEnabled || !mDrawn)
        return;
    std::lock_guard<std::mutex> lock(OutputMutex());
    WipeProgressLocked();
    std::fflush(stderr);
    mDrawn = false;
}

} // namespace varnel::cli
