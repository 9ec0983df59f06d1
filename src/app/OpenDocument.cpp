#include "app/OpenDocument.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace varnel {

OpenDocumentResult OpenDocument(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return OpenDocumentResult::NotFound;
    if (!info.isFile() || !info.isReadable())
        return OpenDocumentResult::Failed;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath())))
        return OpenDocumentResult::NoHandler;
    return OpenDocumentResult::Opened;
}

int HelpMessageFor(OpenDocumentResult result)
{
    switch (result) {
    case OpenDocumentResult::Opened: return 0;
    case OpenDocumentResult::NotFound: return 12;
    case OpenDocumentResult::NoHandler: return 13;
    case OpenDocumentResult::Failed: return 14;
    }
    return 14;
}

} // namespace varnel
