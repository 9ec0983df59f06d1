#include "settings/FormPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace varnel {

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
