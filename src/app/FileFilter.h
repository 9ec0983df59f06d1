#pragma once

#include <QString>

namespace varnel {

// GUI thread only (any thread in fact; pure). A file dialog filter in the program's form,
// "Description|pattern;pattern|Description|pattern", as Qt's: "Description (patterns)" joined
// with ";;". "*.*" becomes "*" (every file, dotted or not). Where file names are case
// sensitive a letter in a pattern matches either case ("*.WAV" -> "*.[wW][aA][vV]"), so
// "song.wav" and "SONG.WAV" both show. A description that already ends in a parenthesised
// list keeps it; the dialog shows the descriptions only (QFileDialog::HideNameFilterDetails).
QString QtFileFilter(const QString& filter);

} // namespace varnel
