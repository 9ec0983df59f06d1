#include "app/FileFilter.h"

#include <QStringList>

namespace varnel {

namespace {

QString QtPattern(const QString& pattern)
{
    if (pattern == QStringLiteral("*.*"))
        return QStringLiteral("*");
#ifdef Q_OS_WIN
    return pattern;
#else
    QString out;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
        else
            out += c;
    }
    return out;
#endif
}

} // namespace

QString QtFileFilter(const QString& filter)
{
    const QStringList fields = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (int i = 0; i + 1 < fields.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : fields[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns += QtPattern(p.trimmed());
        entries += fields[i].trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                   QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

} // namespace varnel
