#include "app/DialogFrame.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFont>
#include <QLabel>
#include <QStringList>

namespace varnel {

void SetUpFixedDialog(QDialog& dialog, int width, int height, const QString& caption)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog.setFixedSize(width, height);
    dialog.setWindowTitle(caption);
    QFont font = dialog.font();
    font.setFamilies({QStringLiteral("Microsoft YaHei"), QStringLiteral("Noto Sans CJK SC"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(12);
    dialog.setFont(font);
}

} // namespace varnel
