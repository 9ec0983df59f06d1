#include "settings/Options.h"

#include "platform/SettingsFolder.h"
#include "settings/IniFile.h"

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

} // namespace varnel
