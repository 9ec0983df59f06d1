// varnel-cli map IN OUT.png: the window's two maps at one moment of playback, as a picture.

#include "cli/CliCommon.h"

#if VARNEL_WITH_MAPS

#include "audio/OutputFile.h"
#include "audio/SaveFile.h"
#include "platform/FileNames.h"
#include "platform/Terminal.h"
#include "visual/MapPicture.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QtGlobal>

#include <filesystem>
#include <string>
#include <vector>

namespace varnel::cli {

namespace {

// The edges the window would show: the start-up edges, except for each range given on the
// command line (or all three with --widest), which is placed on the screens' axes.
AreaEdges EdgesForOptions(const AreaOptions& options, int sampleRate, float panScale)
{
    AreaGeometry geometry;
    geometry.HalfRate = sampleRate >> 1;
    geometry.PanScale = panScale;
    AreaEdges edges = StartupEdges();
    const AreaEdges given = EdgesForArea(options.Resolve(sampleRate), geometry);
    if (options.Widest || options.Pan.Given) {
        edges.Area1Left = given.Area1Left;
        edges.Area1Right = given.Area1Right;
    }
    if (options.Widest || options.Freq.Given) {
        edges.Area1Top = edges.Area2Top = given.Area1Top;
        edges.Area1Bottom = edges.Area2Bottom = given.Area1Bottom;
    }
    if (options.Widest || options.Depth.Given) {
        edges.Area2Left = given.Area2Left;
        edges.Area2Right = given.Area2Right;
    }
    return edges;
}

// A slider position from --pan-scale or --colour-scale, within the window's slider.
OptionParse ParseSliderOption(int argc, char** argv, int& i, const char* name, int maxPosition,
                              int& position)
{
    std::string value;
    const OptionParse parse = TakeOptionValue(argc, argv, i, name, value);
    if (parse != OptionParse::Taken)
        return parse;
    if (!ParseInt(value, 0, maxPosition, position)) {
        UsageError(std::string("map: ") + name + " takes a slider position 0-" +
                   std::to_string(maxPosition) + ", not \"" + value + "\"");
        return OptionParse::Bad;
    }
    return OptionParse::Taken;
}

// Qt's own notes (such as a missing runtime folder on a server) are not this program's
// messages; only its errors reach standard error.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        PrintError(text.toStdString());
}

} // namespace

int RunMap(int argc, char** argv)
{
    AreaOptions area;
    MapPictureRequest request;
    request.Quality = kDefaultQuality;
    request.BufferMs = kDefaultBufferMs;
    request.PanScalePosition = kPanScaleBarStart;
    request.ColourScalePosition = kColourScaleBarStart;
    std::vector<std::string> files;
    bool force = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (TakeEndOfOptions(argv[i], optionsEnded))
            continue;
        if (optionsEnded) {
            files.emplace_back(argv[i]);
            continue;
        }
        if (std::string(argv[i]) == "--force") {
            force = true;
            continue;
        }
        OptionParse parse = ParseAreaOption(argc, argv, i, area);
        if (parse == OptionParse::NotMine)
            parse = ParseQualityOption(argc, argv, i, request.Quality);
        if (parse == OptionParse::NotMine)
            parse = ParseBufferOption(argc, argv, i, request.BufferMs);
        if (parse == OptionParse::NotMine)
            parse = ParseSliderOption(argc, argv, i, "--pan-scale", kPanScaleBarMax,
                                      request.PanScalePosition);
        if (parse == OptionParse::NotMine)
            parse = ParseSliderOption(argc, argv, i, "--colour-scale", kColourScaleBarMax,
                                      request.ColourScalePosition);
        if (parse == OptionParse::NotMine) {
            std::string value;
            parse = TakeOptionValue(argc, argv, i, "--at", value);
            if (parse == OptionParse::Taken &&
                (!ParseDouble(value, request.AtSeconds) || request.AtSeconds < 0.0))
                return UsageError("map: --at takes the seconds heard, 0 or more, not \"" + value +
                                  "\"");
        }
        if (parse == OptionParse::Bad)
            return kExitUsage;
        if (parse == OptionParse::Taken)
            continue;
        if (IsOptionArgument(argv[i]))
            return UsageError(std::string("map: unknown option ") + argv[i]);
        files.emplace_back(argv[i]);
    }
    if (files.size() != 2)
        return UsageError("map needs an input sound file and an output PNG file");
    const std::string& inputPath = files[0];
    const std::string& outputPath = files[1];

    InputFile input;
    if (const int refused = OpenInput(inputPath, input); refused != kExitDone)
        return refused;
    // The picture follows a save's rules: never the input, never a folder, an existing file
    // kept unless --force, and written whole under a temporary name first.
    std::error_code reason;
    MessageId message = CheckOutputName(inputPath, outputPath, &reason);
    if (message == kMsgNone && !force &&
        std::filesystem::exists(std::filesystem::symlink_status(PathFromBytes(outputPath), reason)))
        message = kMsgFileExists;
    if (message != kMsgNone) {
        PrintFileMessage(outputPath, message,
                         message == kMsgFileExists ? std::error_code() : reason);
        return kExitOutputRefused;
    }

    // No display is needed: text and pictures are drawn off screen unless a platform is chosen.
    SetEnvironmentDefault("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QtMessages);
    int qtArgc = 1;
    char qtName[] = "varnel-cli";
    char* qtArgv[] = {qtName, nullptr};
    QGuiApplication application(qtArgc, qtArgv);

    const int sampleRate = input.Info().SampleRate;
    request.Edges = EdgesForOptions(area, sampleRate, PanScaleFromSlider(request.PanScalePosition));
    request.Inverted = area.Invert;
    const MapPictureResult result = RenderMapPicture(input.Source(), request);
    input.Close();
    switch (result.Status) {
    case MapPictureStatus::Done: break;
    case MapPictureStatus::InputUnreadable:
        PrintFileMessage(inputPath, kMsgUnsupportedFile);
        return kExitInputRefused;
    case MapPictureStatus::TimeBeyondEnd:
        return UsageError("map: --at lies after the end of the file");
    case MapPictureStatus::SetupFailed:
        PrintFileMessage(inputPath, kMsgOutOfMemory);
        return kExitExportFailed;
    }
    // Encoded in memory, so the image library never meets a failing disk (nor prints about
    // one), and the name's bytes never pass through a text conversion.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!result.Picture.save(&buffer, "PNG")) {
        PrintFileMessage(inputPath, kMsgOutOfMemory);
        return kExitExportFailed;
    }
    message = WriteWholeFile(outputPath, png.constData(), static_cast<size_t>(png.size()), force,
                             &reason);
    if (message != kMsgNone) {
        PrintFileMessage(outputPath, message, reason);
        return ExitCodeForMessage(message);
    }
    return kExitDone;
}

} // namespace varnel::cli

#else // built without the Qt parts

namespace varnel::cli {

int RunMap(int, char**)
{
    return UsageError("map: this varnel-cli was built without the maps");
}

} // namespace varnel::cli

#endif
