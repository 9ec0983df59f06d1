#pragma once

#include <string>

namespace varnel {

// Primary language numbers as the Windows language ids count them (the low 10 bits of a
// LANGID). Only the Japanese test matters to the texts; the others are for completeness.
constexpr int kLangJapanese = 17;
constexpr int kLangEnglish = 9;
constexpr int kLangChinese = 4;

// Any thread; pure. The primary language of a POSIX locale name such as "ja_JP.UTF-8",
// "de_DE@euro" or "pt": the language part before '_', '.' or '@', matched without regard to
// case. "C", "POSIX", empty and unknown names give English (9).
int PrimaryLanguageFromLocaleName(const std::string& name);

// Any thread; reads the environment. The user's primary language: the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty names the locale (the order in which the C
// library resolves message texts); none gives English (9). On Windows the user's interface
// language.
int UserPrimaryLanguage();

} // namespace varnel
