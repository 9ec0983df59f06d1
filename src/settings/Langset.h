#pragma once

#include <string>
#include <vector>

namespace varnel {

// One control text that the labelling of a form may replace. Property is "caption" or
// "hint". An empty Japanese text stands for the toolkit's standard button text.
struct ControlLabel
{
    const char* Control; // "" for the form itself
    const char* Property;
    const char* Japanese;
    const char* Alternate;
};

// The interface texts and numbered messages in Japanese and in the alternate set. Japanese is
// chosen when the low 10 bits of the language id are 17; every other language gets the
// alternate texts. Texts are UTF-8.
//
// The object holds only the language id it was made with, so it is cheap to make on any
// thread and every method is safe to call from several threads at once.
class TLangSet
{
public:
    // Any thread. languageId is a Windows language id or a primary language number; the
    // default is the user's locale.
    TLangSet();
    explicit TLangSet(int languageId);
    virtual ~TLangSet();

    // Any thread. True when the Japanese texts are chosen.
    bool IsJapanese() const noexcept;

    // Any thread; allocates the returned text. The message of that id (a MessageId,
    // kFirstMessageId..kLastMessageId) in the chosen language; the empty text for any other.
    std::string GetMsgText(int id) const;
    // Any thread; allocates the returned text. The message for a file that can no longer be
    // read while it plays (it was cut short, or the system failed to read it), in the chosen
    // language. It stands beside the numbered messages, not among them.
    std::string ReadFaultText() const;
    // Any thread; allocates the returned text. The error for a settings file that cannot be
    // written, naming it by the given path, in the chosen language.
    std::string SettingsWriteFailureText(const std::string& path) const;

    // Texts beside the message table, for what a save reports after the numbered messages
    // were written. Any thread; allocates the returned text.
    // A file of the output's name appeared while a save ran (no question was asked about it):
    // it is kept and the save is not written.
    std::string FileAppearedText() const;
    // Where a written file is kept when it could not take its name: the path in double quotes.
    std::string KeptAsText(const std::string& path) const;

    // Any thread. The texts the form constructors put on their controls when the alternate
    // set is chosen, in the order they are set. The forms apply them; with Japanese chosen
    // they keep their design-time texts.
    static const std::vector<ControlLabel>& Form1Labels();
    static const std::vector<ControlLabel>& SaveFileFormLabels();
    static const std::vector<ControlLabel>& AbSaveFormLabels();
    static const std::vector<ControlLabel>& SetOptFormLabels();

private:
    int mLanguageId;
};

} // namespace varnel
