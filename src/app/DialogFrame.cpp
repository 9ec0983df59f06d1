#include "app/DialogFrame.h"

#include "settings/Langset.h"

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

void ApplyFormLabels(QWidget& form, const std::vector<ControlLabel>& labels)
{
    if (TLangSet().IsJapanese())
        return;
    for (const ControlLabel& label : labels) {
        const QString text = QString::fromUtf8(label.Alternate);
        const QString name = QString::fromUtf8(label.Control);
        QWidget* control = name.isEmpty() ? &form : form.findChild<QWidget*>(name);
        if (!control)
            continue;
        if (QString::fromUtf8(label.Property) == QStringLiteral("hint"))
            control->setToolTip(text);
        else if (control == &form)
            form.setWindowTitle(text);
        else if (auto* button = qobject_cast<QAbstractButton*>(control))
            button->setText(text);
        else if (auto* caption = qobject_cast<QLabel*>(control))
            caption->setText(text);
    }
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
