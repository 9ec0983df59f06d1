#include "app/InstallLayout.h"

#include <QDir>
#include <QFileInfo>

namespace varnel {

namespace {
const QString kHelpDocumentName = QStringLiteral("VarnelHelp.pdf");
} // namespace

QString HelpDocumentFolder(const QString& programFolder)
{
    const QDir program(programFolder);
    if (QFileInfo::exists(program.filePath(kHelpDocumentName)))
        return programFolder;
    // cmake --install and the Debian package keep data files out of bin/.
    const QString installed = QDir::cleanPath(program.filePath(QStringLiteral("../share/varnel")));
    if (QFileInfo::exists(QDir(installed).filePath(kHelpDocumentName)))
        return installed;
    return programFolder;
}

} // namespace varnel
