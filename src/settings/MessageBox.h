#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace varnel {

// The kinds of message box the program shows: a warning with one OK button, an error (the
// critical icon) with one OK button, and a question with Yes and No buttons.
enum class MessageKind
{
    Warning,
    Error,
    Question,
};

// GUI thread only. Shows a modal message box over parent (or the active window) and returns
// true when it was answered OK or Yes. Every form shows its messages through this function.
bool ShowMessageBox(QWidget* parent, MessageKind kind, const QString& text);

// GUI thread only. The file-message form: the file's name without folders in double quotes,
// a line feed, then the text ("\"song.wav\"\nCan't open file.").
QString FileMessageText(const QString& path, const QString& text);

// Replaces the box: while a handler is installed, ShowMessageBox calls it instead of showing
// anything and returns its answer. Tests install one to read the texts; an empty function
// restores the real box. GUI thread only.
using MessageBoxHandler = std::function<bool(MessageKind kind, const QString& text)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace varnel
