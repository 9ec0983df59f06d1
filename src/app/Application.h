#pragma once

#include <QApplication>
#include <QLocale>
#include <QTranslator>

namespace varnel {

// The program's application object: an exception that escapes an event handler is shown in
// a message box and the program carries on, as the standard exception box does.
//
// GUI thread only.
class VarnelApplication : public QApplication
{
public:
    VarnelApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

private:
    QTranslator mQtTexts;
};

// GUI thread. Gives Qt's own texts (the file dialogs' buttons and columns, the message boxes'
// standard buttons) in the locale's language where Qt's translations are installed; false
// when there are none for it, and Qt keeps its English texts.
bool InstallQtTranslations(QTranslator& translator, const QLocale& locale);

} // namespace varnel
