#pragma once

#include <QString>

namespace varnel {

// Any thread; reads the file system. The folder holding the help document (VarnelHelp.pdf,
// which the build writes beside the program) for a program in programFolder: that folder (a
// build tree, or a copy of the program with its help beside it), else PREFIX/share/varnel for
// a program installed in PREFIX/bin. Where neither holds it, the program's folder, so a
// missing document is reported there.
QString HelpDocumentFolder(const QString& programFolder);

} // namespace varnel
