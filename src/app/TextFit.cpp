#include "app/TextFit.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

namespace varnel {

QString CaptionOf(const QWidget& widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(&widget))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(&widget))
        return button->text();
    return QString();
}

int TextRoom(const QWidget& widget)
{
    if (const auto* label = qobject_cast<const QLabel*>(&widget))
        return label->contentsRect().width() - 2 * label->margin();
    if (const auto* box = qobject_cast<const QCheckBox*>(&widget)) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width();
    }
    if (const auto* button = qobject_cast<const QPushButton*>(&widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        const QStyle* style = button->style();
        const int contents =
            style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        // The style's margin split on both sides, and the picture with its spacing of 4,
        // which the button puts before its text.
        const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
        const int picture = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
        return contents - margin - picture;
    }
    return 0;
}

void FitCaption(QWidget& widget, int room)
{
    const QString text = CaptionOf(widget);
    // The parent's font again, so a caption that fits needs no font of its own.
    widget.setFont(QFont());
    QFont font = widget.font();
    if (QFontMetrics(font).horizontalAdvance(text) <= room)
        return;
    // Only the width is set here; family and size still come from the parent.
    QFont narrowed;
    for (const int stretch : {95, 90, 85, 80}) {
        font.setStretch(stretch);
        narrowed.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(text) <= room)
            break;
    }
    widget.setFont(narrowed);
}

} // namespace varnel
