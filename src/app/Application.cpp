#include "app/Application.h"

#include "app/Pictures.h"

#include <QLibraryInfo>
#include <QMessageBox>

#include <exception>

namespace varnel {

VarnelApplication::VarnelApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("varnel"));
    setApplicationDisplayName(QStringLiteral("Varnel"));
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
        QMessageBox::critical(activeWindow(), applicationDisplayName(),
                              QString::fromLocal8Bit(e.what()));
    } catch (...) {
        QMessageBox::critical(activeWindow(), applicationDisplayName(),
                              QStringLiteral("Unknown exception."));
    }
    return false;
}

} // namespace varnel
