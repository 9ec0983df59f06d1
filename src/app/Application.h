#pragma once

#include <QApplication>

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
};

} // namespace varnel
