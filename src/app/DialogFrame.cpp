#include "app/DialogFrame.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
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

void CentreOnScreen(QWidget& widget)
{
    QScreen* screen = widget.screen() ? widget.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize size = widget.frameGeometry().size();
    widget.move(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2);
}

} // namespace varnel
