// Writes the application's mark as PNG files for the desktop's icon theme:
// DIR/NxN/apps/NAME.png for every size the installation ships, drawn by the same code as the
// window's icon.
#include "app/Pictures.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: varnel-appicon DIR NAME\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int pixels : {16, 24, 32, 48, 64, 128, 256, 512}) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(pixels);
        const QString file = QStringLiteral("%1/%2.png").arg(folder, name);
        if (!QDir().mkpath(folder) || !varnel::DrawAppIcon(pixels).save(file, "PNG")) {
            std::fprintf(stderr, "varnel-appicon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
