#include "settings/IniFile.h"

#include "platform/FileNames.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace varnel {

namespace fs = std::filesystem;

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

int DigitValue(char c, int base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

enum class LineKind
{
    Other,
    Comment,
    Section,
    Entry
};

// What a line is, with the section's name or the entry's key and the offset of its '='.
struct ParsedLine
{
    LineKind Kind = LineKind::Other;
    std::string Name;
    size_t Equals = std::string::npos;
};

constexpr const char kUtf8Mark[] = "\xEF\xBB\xBF";

ParsedLine ParseLine(const std::string& raw, bool first)
{
    ParsedLine parsed;
    std::string text = raw;
    size_t skipped = 0;
    if (first && text.compare(0, 3, kUtf8Mark) == 0)
        skipped = 3;
    while (skipped < text.size() && IsBlank(text[skipped]))
        ++skipped;
    if (skipped >= text.size())
        return parsed;
    const char lead = text[skipped];
    if (lead == ';' || lead == '#') {
        parsed.Kind = LineKind::Comment;
    } else if (lead == '[') {
        parsed.Kind = LineKind::Section;
        const size_t close = text.find(']', skipped);
        parsed.Name = Trim(text.substr(
            skipped + 1, close == std::string::npos ? std::string::npos : close - skipped - 1));
    } else if (const size_t equals = text.find('=', skipped); equals != std::string::npos) {
        parsed.Kind = LineKind::Entry;
        parsed.Name = Trim(text.substr(skipped, equals - skipped));
        parsed.Equals = equals;
    }
    return parsed;
}

} // namespace

bool ParseIniInteger(const std::string& text, int& value)
{
    const std::string t = Trim(text);
    size_t at = 0;
    bool negative = false;
    if (at < t.size() && (t[at] == '-' || t[at] == '+')) {
        negative = t[at] == '-';
        ++at;
    }
    int base = 10;
    if (at < t.size() && t[at] == '$') {
        base = 16;
        at += 1;
    } else if (at + 1 < t.size() && t[at] == '0' && (t[at + 1] == 'x' || t[at + 1] == 'X')) {
        base = 16;
        at += 2;
    }
    if (at >= t.size())
        return false;
    // One past the largest magnitude, so INT_MIN still fits.
    const int64_t limit = negative ? -static_cast<int64_t>(INT_MIN) : INT_MAX;
    int64_t magnitude = 0;
    for (; at < t.size(); ++at) {
        const int digit = DigitValue(t[at], base);
        if (digit < 0)
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return false;
    }
    value = static_cast<int>(negative ? -magnitude : magnitude);
    return true;
}

IniFile IniFile::FromText(const std::string& text)
{
    IniFile file;
    size_t start = 0;
    while (start < text.size()) {
        const size_t feed = text.find('\n', start);
        Line line;
        if (feed == std::string::npos) {
            line.Text = text.substr(start);
            start = text.size();
        } else {
            line.Text = text.substr(start, feed - start);
            line.End = "\n";
            start = feed + 1;
            if (!line.Text.empty() && line.Text.back() == '\r') {
                line.Text.pop_back();
                line.End = "\r\n";
            }
        }
        file.mLines.push_back(std::move(line));
    }
    return file;
}

IniFile IniFile::Load(const std::string& path)
{
    std::error_code error;
    const fs::path file = fs::u8path(path);
    const fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found)
        return IniFile();
    IniFile unreadable;
    unreadable.mUnreadable = true;
    if (error || !fs::is_regular_file(status))
        return unreadable;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return unreadable;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return unreadable;
    return FromText(text);
}

long IniFile::FindSection(const std::string& section) const
{
    for (size_t i = 0; i < mLines.size(); ++i) {
        const ParsedLine parsed = ParseLine(mLines[i].Text, i == 0);
        if (parsed.Kind == LineKind::Section && SameName(parsed.Name, section))
            return static_cast<long>(i);
    }
    return -1;
}

long IniFile::FindKey(long header, const std::string& key) const
{
    for (size_t i = static_cast<size_t>(header) + 1; i < mLines.size(); ++i) {
        const ParsedLine parsed = ParseLine(mLines[i].Text, false);
        if (parsed.Kind == LineKind::Section)
            break;
        if (parsed.Kind == LineKind::Entry && SameName(parsed.Name, key))
            return static_cast<long>(i);
    }
    return -1;
}

bool IniFile::ReadString(const std::string& section, const std::string& key,
                         std::string& value) const
{
    const long header = FindSection(section);
    if (header < 0)
        return false;
    const long at = FindKey(header, key);
    if (at < 0)
        return false;
    const std::string& text = mLines[static_cast<size_t>(at)].Text;
    std::string v = Trim(text.substr(ParseLine(text, false).Equals + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    value = v;
    return true;
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const
{
    std::string text;
    int value = fallback;
    if (ReadString(section, key, text) && ParseIniInteger(text, value))
        return value;
    return fallback;
}

std::string IniFile::NewLineEnd() const
{
    for (const Line& line : mLines) {
        if (!line.End.empty())
            return line.End;
    }
    return "\n";
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    WriteString(section, key, std::to_string(value));
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& number)
{
    const std::string end = NewLineEnd();
    long header = FindSection(section);
    if (header < 0) {
        if (!mLines.empty() && mLines.back().End.empty())
            mLines.back().End = end;
        mLines.push_back({"[" + section + "]", end});
        header = static_cast<long>(mLines.size()) - 1;
    }
    const long at = FindKey(header, key);
    if (at >= 0) {
        // Everything up to the value stays as written: the key's spelling and the blanks.
        std::string& text = mLines[static_cast<size_t>(at)].Text;
        size_t valueStart = ParseLine(text, false).Equals + 1;
        while (valueStart < text.size() && IsBlank(text[valueStart]))
            ++valueStart;
        text = text.substr(0, valueStart) + number;
        return;
    }
    // After the section's last entry (or its header), so trailing blank lines and comments
    // that introduce the next section stay with it.
    size_t insertAt = static_cast<size_t>(header) + 1;
    for (size_t i = insertAt; i < mLines.size(); ++i) {
        const ParsedLine parsed = ParseLine(mLines[i].Text, false);
        if (parsed.Kind == LineKind::Section)
            break;
        if (parsed.Kind == LineKind::Entry || parsed.Kind == LineKind::Other) {
            if (!Trim(mLines[i].Text).empty())
                insertAt = i + 1;
        }
    }
    if (mLines[insertAt - 1].End.empty())
        mLines[insertAt - 1].End = end;
    mLines.insert(mLines.begin() + static_cast<long>(insertAt), Line{key + "=" + number, end});
}

std::string IniFile::Text() const
{
    std::string text;
    for (const Line& line : mLines)
        text += line.Text + line.End;
    return text;
}

bool IniFile::Save(const std::string& path) const
{
    if (mUnreadable || path.empty())
        return false;
    return !ReplaceFileContents(path, Text());
}

} // namespace varnel
