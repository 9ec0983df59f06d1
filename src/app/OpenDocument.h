#pragma once

#include <QString>

namespace varnel {

enum class OpenDocumentResult
{
    Opened,
    NotFound,  // no such file (or folder on the way)
    NoHandler, // the desktop has no program for the file's type
    Failed,    // anything else: not a file, not readable
};

// GUI thread only. Asks the desktop to open the file with its handler for the file's type.
OpenDocumentResult OpenDocument(const QString& path);

// GUI thread only. The message that reports a failed opening of the help file: 12 not found,
// 13 no handler, 14 any other failure; 0 for Opened.
int HelpMessageFor(OpenDocumentResult result);

} // namespace varnel
