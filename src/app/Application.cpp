#include "app/Application.h"

#include "app/Pictures.h"
#include "settings/MessageBox.h"

#include <QLibraryInfo>

#include <exception>

namespace varnel {

VarnelApplication::VarnelApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("varnel"));
    // No display name: the toolkit would add it to every window's title ("設定 — Varnel"),
    // while each form's title is its caption alone.
    setApplicationVersion(QStringLiteral("1.0"));
    // The desktop ties the windows to the installed menu entry and its icon by this name.
    setDesktopFileName(QStringLiteral("org.varnel.Varnel"));
    setWindowIcon(AppIcon());
    InstallQtTranslations(mQtTexts, QLocale::system());
}

bool InstallQtTranslations(QTranslator& translator, const QLocale& locale)
{
    if (!translator.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

bool VarnelApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowMessageBox(activeWindow(), MessageKind::Error, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowMessageBox(activeWindow(), MessageKind::Error, QStringLiteral("Unknown exception."));
    }
    return false;
}

} // namespace varnel
