#pragma once

#include <QApplication>

#include <cstdlib>

namespace varnel::test {

// The one QApplication of the GUI test program: the one that exists, or one made on first use
// on the main thread (the offscreen platform unless the environment chose one).
inline QApplication& WidgetApp()
{
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *existing;
    static int argc = 1;
    static char name[] = "varnel_tests_gui";
    static char* argv[] = {name, nullptr};
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Never destroyed: at exit Qt's own statics made while events were handled (the input
    // devices) go before a static application would, and its destructor would touch them.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// A first member for fixtures that hold widgets by value, so the application exists before
// they are made.
struct AppFirst
{
    AppFirst() { WidgetApp(); }
};

} // namespace varnel::test
