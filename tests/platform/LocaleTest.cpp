#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace varnel {
namespace {

// Sets the three locale variables for one test and puts the old values back afterwards.
class LocaleEnvironment
{
public:
    LocaleEnvironment()
    {
        for (int i = 0; i < 3; ++i) {
            const char* v = std::getenv(kNames[i]);
            if (v)
                mSaved[i] = std::string(v);
        }
    }
    ~LocaleEnvironment()
    {
        for (int i = 0; i < 3; ++i)
            Set(kNames[i], mSaved[i] ? mSaved[i]->c_str() : nullptr);
    }
    static void Set(const char* name, const char* value)
    {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    void SetAll(const char* lcAll, const char* lcMessages, const char* lang)
    {
        Set("LC_ALL", lcAll);
        Set("LC_MESSAGES", lcMessages);
        Set("LANG", lang);
    }

private:
    static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> mSaved[3];
};

TEST(LocaleTest, LocaleNamesMapToWindowsPrimaryLanguages)
{
    struct Case
    {
        const char* Name;
        int Expected;
    };
    const Case cases[] = {
        {"ja_JP.UTF-8", 17},
        {"ja", 17},
        {"JA_jp", 17},
        {"en_US.UTF-8", 9},
        {"en_GB", 9},
        {"zh_CN.GB18030", 4},
        {"zh_TW.UTF-8", 4},
        {"de_DE@euro", 7},
        {"fr_FR.UTF-8", 12},
        {"es_ES", 10},
        {"it_IT", 16},
        {"ko_KR.EUC-KR", 18},
        {"ru_RU.KOI8-R", 25},
        {"pt_BR", 22},
        {"nl_NL", 19},
        {"nb_NO", 20},
        {"sv_SE", 29},
        {"pl_PL", 21},
        {"tr_TR", 31},
        {"uk_UA", 34},
        // Names that say nothing about a language fall back to English.
        {"C", 9},
        {"POSIX", 9},
        {"C.UTF-8", 9},
        {"", 9},
        {"xx_YY", 9},
        {"japanese", 9},
        {"j", 9},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PrimaryLanguageFromLocaleName(c.Name), c.Expected) << '"' << c.Name << '"';
}

TEST(LocaleTest, FirstSetVariableDecides)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows takes the interface language from the system, not the environment";
#endif
    struct Case
    {
        const char* LcAll;
        const char* LcMessages;
        const char* Lang;
        int Expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", 17},
        {nullptr, "ja_JP.UTF-8", "de_DE.UTF-8", 17},
        {"fr_FR.UTF-8", "ja_JP.UTF-8", "de_DE.UTF-8", 12},
        {"C", nullptr, "ja_JP.UTF-8", 9}, // LC_ALL=C overrides a Japanese LANG
        {"", "", "ja_JP.UTF-8", 17},      // empty variables count as unset
        {nullptr, nullptr, nullptr, 9},
        {nullptr, nullptr, "", 9},
    };
    LocaleEnvironment env;
    for (const Case& c : cases) {
        env.SetAll(c.LcAll, c.LcMessages, c.Lang);
        EXPECT_EQ(UserPrimaryLanguage(), c.Expected)
            << (c.LcAll ? c.LcAll : "-") << " / " << (c.LcMessages ? c.LcMessages : "-") << " / "
            << (c.Lang ? c.Lang : "-");
    }
}

} // namespace
} // namespace varnel
