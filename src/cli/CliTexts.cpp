#include "cli/CliTexts.h"

#include "audio/SoundSource.h"
#include "settings/Langset.h"

#include <cstdio>

#ifndef VARNEL_VERSION
#define VARNEL_VERSION "unknown"
#endif

namespace varnel::cli {

namespace {

bool Japanese()
{
    static const bool japanese = TLangSet().IsJapanese();
    return japanese;
}

// Seconds with one decimal, independent of the C locale's decimal point.
std::string Seconds(int64_t frames, uint32_t sampleRate)
{
    const int64_t tenths = sampleRate > 0 ? frames * 10 / sampleRate : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%lld", static_cast<long long>(tenths / 10),
                  static_cast<long long>(tenths % 10));
    return text;
}

} // namespace

std::string InterruptedText(int64_t savedFrames, int64_t totalFrames, uint32_t sampleRate,
                            bool keptExisting)
{
    if (savedFrames <= 0) {
        if (keptExisting)
            return Japanese() ? "中断しました。何も保存していません。既存のファイルはそのままです。"
                              : "Interrupted: nothing saved; the existing file is kept as it was.";
        return Japanese() ? "中断しました。何も保存していません。" : "Interrupted: nothing saved.";
    }
    const std::string saved = Seconds(savedFrames, sampleRate);
    const std::string total = Seconds(totalFrames, sampleRate);
    if (Japanese())
        return "中断しました。" + total + " 秒のうち " + saved + " 秒を保存しました。";
    return "Interrupted: " + saved + " s of " + total + " s saved.";
}

std::string NothingKeptText()
{
    return Japanese()
               ? "警告: "
                 "抽出エリアにファイルの音が何も残りません。保存したファイルに音はありません。"
               : "Warning: the area keeps nothing of the file; the saved file holds no sound.";
}

std::string EmptyOutputText(Container kind)
{
    const std::string name = kind == Container::Mp3 ? "MP3" : "Opus";
    return Japanese()
               ? "保存しません。出力に音が何も残らず、" + name + " ファイルは音なしでは作れません。"
               : "Nothing saved: the output would hold no sound, and an " + name +
                     " file cannot be made without any.";
}

std::string NotStereoText(int channels)
{
    const std::string n = std::to_string(channels);
    if (Japanese())
        return "このファイルは " + n +
               " チャンネルです。使えるのはステレオ (2 チャンネル) のファイルだけです。";
    return "The file has " + n + (channels == 1 ? " channel" : " channels") +
           "; only stereo (2-channel) files can be used.";
}

std::string FormatText(const SoundInfo& info)
{
    // Integer arithmetic keeps the decimal point a point whatever the C locale.
    const auto rate = static_cast<unsigned>(info.SampleRate);
    char kHz[32];
    std::snprintf(kHz, sizeof kHz, "%u.%03u", rate / 1000, rate % 1000);
    const int bits = BitsOf(info.Sample);
    const bool isFloat =
        info.Sample == SampleFormat::Float32 || info.Sample == SampleFormat::Float64;
    const bool lossy = info.Sample == SampleFormat::Lossy;
    if (Japanese()) {
        // The window's label: "%.3fkHz %d位   立体声".
        std::string sample = lossy ? "非可逆圧縮" : std::to_string(bits) + "位";
        if (isFloat)
            sample += "浮動小数点";
        return std::string(kHz) + "kHz " + sample + "   立体声";
    }
    const std::string sample = lossy     ? "lossy"
                               : isFloat ? std::to_string(bits) + "-bit float"
                                         : std::to_string(bits) + "-bit";
    return std::string(kHz) + " kHz, " + sample + ", stereo";
}

std::string VersionText()
{
    return std::string("varnel-cli ") + VARNEL_VERSION;
}

} // namespace varnel::cli
