#pragma once

#include <QGuiApplication>

#include <cstdlib>

namespace varnel::test {

// The one QGuiApplication of a visual test program (fonts and palettes need it). Created on
// first use on the main thread; the offscreen platform unless the environment chose one.
inline QGuiApplication& GuiApp()
{
    static int argc = 1;
    static char name[] = "varnel_tests_visual";
    static char* argv[] = {name, nullptr};
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QGuiApplication app(argc, argv);
    return app;
}

} // namespace varnel::test
