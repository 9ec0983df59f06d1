#pragma once

#include <string>
#include <vector>

namespace varnel {

// Any thread; pure. Reads an INI value as an integer: decimal, or hexadecimal after a leading
// "$", "0x" or "0X", with an optional sign in front. Blanks around the text are ignored. False
// (and `value` untouched) for anything else: empty text, other characters, or a number
// outside the int range.
bool ParseIniInteger(const std::string& text, int& value);

// An INI text file held as its lines, so that a change rewrites one line and leaves every
// other line as it was: comments, blank lines, other sections and keys, their order, the
// line ends. Section and key names match without regard to ASCII case; the first section and
// the first key of a name count. Lines starting with ';' or '#' are comments. Not shared
// between threads; each owner reads and writes its own copy.
class IniFile
{
public:
    IniFile() = default;

    // Reads the file at `path`. A missing file gives an empty one; a file that exists but
    // cannot be read also reads as empty, and then refuses to be saved over (Save fails), so
    // its content is never replaced by what little was read.
    static IniFile Load(const std::string& path);
    // Takes the file's bytes.
    static IniFile FromText(const std::string& text);

    // The integer value of `key` in `section`, read with ParseIniInteger; `fallback` when the
    // section, the key or a readable number is missing.
    int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
    // The raw value of `key` in `section` (blanks trimmed, one pair of enclosing quotes
    // removed); false when it is missing.
    bool ReadString(const std::string& section, const std::string& key, std::string& value) const;

    // Whether the file has a section of that name.
    bool HasSection(const std::string& section) const { return FindSection(section) >= 0; }

    // Sets `key` in `section` to the decimal value. An existing key line keeps everything up
    // to its '=' and gets the new value; a missing key goes after the last entry of its
    // section; a missing section is added at the end of the file.
    void WriteInteger(const std::string& section, const std::string& key, int value);
    // The same with a value of any text (the caller keeps it on one line).
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The file's bytes as they would be saved.
    std::string Text() const;

    // Writes the file to `path` without ever leaving half a file there: the text goes into a
    // new file beside it, is flushed to the disk, and is renamed over the old one (a symbolic
    // link is followed, so the file it names is replaced). The new file keeps the old one's
    // permissions. False, with `path` unchanged and no new file left behind, on any failure.
    bool Save(const std::string& path) const;

private:
    struct Line
    {
        std::string Text; // without its line end
        std::string End;  // "\n", "\r\n" or "" (the last line of a file without one)
    };

    // Index of the section's header line, or -1.
    long FindSection(const std::string& section) const;
    // Index of the key's line within the section whose header is at `header`, or -1.
    long FindKey(long header, const std::string& key) const;
    // The line end new lines get: the file's first one, or "\n".
    std::string NewLineEnd() const;

    std::vector<Line> mLines;
    bool mUnreadable = false;
};

} // namespace varnel
