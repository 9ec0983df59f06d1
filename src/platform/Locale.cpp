#include "platform/Locale.h"

#include <cctype>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace varnel {

namespace {

struct LanguageNumber
{
    const char* Code; // ISO 639-1, or 639-2 where there is no two-letter code
    int Number;
};

// Windows primary language numbers (LANG_* values).
constexpr LanguageNumber kLanguages[] = {
    {"ar", 0x01}, {"bg", 0x02}, {"ca", 0x03}, {"zh", 0x04},  {"cs", 0x05},  {"da", 0x06},
    {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0a},  {"fi", 0x0b},  {"fr", 0x0c},
    {"he", 0x0d}, {"iw", 0x0d}, {"hu", 0x0e}, {"is", 0x0f},  {"it", 0x10},  {"ja", 0x11},
    {"ko", 0x12}, {"nl", 0x13}, {"no", 0x14}, {"nb", 0x14},  {"nn", 0x14},  {"pl", 0x15},
    {"pt", 0x16}, {"rm", 0x17}, {"ro", 0x18}, {"ru", 0x19},  {"hr", 0x1a},  {"sr", 0x1a},
    {"bs", 0x1a}, {"sk", 0x1b}, {"sq", 0x1c}, {"sv", 0x1d},  {"th", 0x1e},  {"tr", 0x1f},
    {"ur", 0x20}, {"id", 0x21}, {"in", 0x21}, {"uk", 0x22},  {"be", 0x23},  {"sl", 0x24},
    {"et", 0x25}, {"lv", 0x26}, {"lt", 0x27}, {"tg", 0x28},  {"fa", 0x29},  {"vi", 0x2a},
    {"hy", 0x2b}, {"az", 0x2c}, {"eu", 0x2d}, {"hsb", 0x2e}, {"mk", 0x2f},  {"af", 0x36},
    {"ka", 0x37}, {"fo", 0x38}, {"hi", 0x39}, {"mt", 0x3a},  {"ga", 0x3c},  {"ms", 0x3e},
    {"kk", 0x3f}, {"ky", 0x40}, {"sw", 0x41}, {"uz", 0x43},  {"tt", 0x44},  {"bn", 0x45},
    {"pa", 0x46}, {"gu", 0x47}, {"or", 0x48}, {"ta", 0x49},  {"te", 0x4a},  {"kn", 0x4b},
    {"ml", 0x4c}, {"as", 0x4d}, {"mr", 0x4e}, {"sa", 0x4f},  {"mn", 0x50},  {"bo", 0x51},
    {"cy", 0x52}, {"km", 0x53}, {"lo", 0x54}, {"gl", 0x56},  {"kok", 0x57}, {"si", 0x5b},
    {"am", 0x5e}, {"ne", 0x61}, {"fy", 0x62}, {"ps", 0x63},  {"fil", 0x64}, {"ha", 0x68},
    {"yo", 0x6a}, {"xh", 0x34}, {"zu", 0x35}, {"lb", 0x6e},  {"ig", 0x70},  {"ug", 0x80},
};

} // namespace

int PrimaryLanguageFromLocaleName(const std::string& name)
{
    std::string code;
    for (char c : name) {
        if (c == '_' || c == '.' || c == '@' || c == '-')
            break;
        code.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    for (const LanguageNumber& language : kLanguages) {
        if (code == language.Code)
            return language.Number;
    }
    return kLangEnglish;
}

int UserPrimaryLanguage()
{
#ifdef _WIN32
    // The language of the user interface, as the Windows build of the window chooses it.
    return PRIMARYLANGID(GetUserDefaultUILanguage());
#else
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return PrimaryLanguageFromLocaleName(value);
    }
    return kLangEnglish;
#endif
}

} // namespace varnel
