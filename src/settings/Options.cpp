#include "settings/Options.h"

#include "platform/SettingsFolder.h"
#include "settings/IniFile.h"

#include <charconv>
#include <cmath>

namespace varnel {

int LimitBuffSize(int buffSize)
{
    if (buffSize < kMinBuffSize)
        return kMinBuffSize;
    if (buffSize > kMaxBuffSize)
        return kMaxBuffSize;
    return buffSize;
}

std::string OptionsFilePath()
{
    return SettingsFilePath(SettingsFolder(), ProgramFilePath());
}

void ReadOptions(const std::string& iniPath, int& buffSize, int& qtyLevel)
{
    if (iniPath.empty())
        return;
    const IniFile file = IniFile::Load(iniPath);
    buffSize = file.ReadInteger(kOptionSection, kBuffSizeKey, buffSize);
    qtyLevel = file.ReadInteger(kOptionSection, kQtyLevelKey, qtyLevel);
}

bool WriteOptions(const std::string& iniPath, int buffSize, int qtyLevel)
{
    // Read again now rather than at start-up, so lines written meanwhile are kept too.
    IniFile file = IniFile::Load(iniPath);
    file.WriteInteger(kOptionSection, kBuffSizeKey, buffSize);
    file.WriteInteger(kOptionSection, kQtyLevelKey, qtyLevel);
    return file.Save(iniPath);
}

std::string SoftCutNumberText(float value)
{
    if (std::isinf(value))
        return value > 0.0f ? "inf" : "-inf";
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

bool ParseSoftCutNumber(const std::string& text, float& value)
{
    size_t first = 0, last = text.size();
    while (first < last && (text[first] == ' ' || text[first] == '\t'))
        ++first;
    while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t'))
        --last;
    if (first == last)
        return false;
    // Not locale-dependent: the file reads the same under any locale.
    const char* begin = text.data() + first;
    const char* end = text.data() + last;
    if (*begin == '+')
        ++begin;
    float v = 0.0f;
    const std::from_chars_result r = std::from_chars(begin, end, v);
    if (r.ec != std::errc() || r.ptr != end || std::isnan(v))
        return false;
    value = v;
    return true;
}

void ReadSoftCut(const std::string& iniPath, SoftCut& soft)
{
    if (iniPath.empty())
        return;
    const IniFile file = IniFile::Load(iniPath);
    const auto read = [&](const char* key, float& value) {
        std::string text;
        float v = 0.0f;
        if (file.ReadString(kSoftCutSection, key, text) && ParseSoftCutNumber(text, v))
            value = v;
    };
    read(kFeatherPanKey, soft.FeatherPanDb);
    read(kFeatherDepthKey, soft.FeatherDepth);
    read(kFeatherFreqKey, soft.FeatherFreq);
    read(kAttenuateKey, soft.AttenuateDb);
    read(kSmoothKey, soft.SmoothMs);
    soft = soft.Limited();
}

void ReadKeepPlaying(const std::string& iniPath, bool& keepPlaying)
{
    if (iniPath.empty())
        return;
    keepPlaying = IniFile::Load(iniPath).ReadInteger(kSoftCutSection, kKeepPlayingKey,
                                                     keepPlaying ? 1 : 0) != 0;
}

bool WriteOptions(const std::string& iniPath, int buffSize, int qtyLevel, const SoftCut& soft,
                  bool keepPlaying)
{
    IniFile file = IniFile::Load(iniPath);
    file.WriteInteger(kOptionSection, kBuffSizeKey, buffSize);
    file.WriteInteger(kOptionSection, kQtyLevelKey, qtyLevel);
    // The defaults add nothing to a file that never held them, so the file of someone who
    // never used them stays as it always was.
    if (soft.IsHard() && !keepPlaying && !file.HasSection(kSoftCutSection))
        return file.Save(iniPath);
    file.WriteString(kSoftCutSection, kFeatherPanKey, SoftCutNumberText(soft.FeatherPanDb));
    file.WriteString(kSoftCutSection, kFeatherDepthKey, SoftCutNumberText(soft.FeatherDepth));
    file.WriteString(kSoftCutSection, kFeatherFreqKey, SoftCutNumberText(soft.FeatherFreq));
    file.WriteString(kSoftCutSection, kAttenuateKey, SoftCutNumberText(soft.AttenuateDb));
    file.WriteString(kSoftCutSection, kSmoothKey, SoftCutNumberText(soft.SmoothMs));
    std::string stored;
    if (keepPlaying || file.ReadString(kSoftCutSection, kKeepPlayingKey, stored))
        file.WriteInteger(kSoftCutSection, kKeepPlayingKey, keepPlaying ? 1 : 0);
    return file.Save(iniPath);
}

} // namespace varnel
