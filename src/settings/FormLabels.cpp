#include "settings/FormLabels.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>
#include <QWidget>

#include <cstring>

namespace varnel {

namespace {

// The tab widget that shows `page` as one of its tabs, or null. A page sits in the tab
// widget's internal stack, so its tab widget is a grandparent rather than its parent.
QTabWidget* TabWidgetOf(QWidget* page)
{
    for (QWidget* up = page->parentWidget(); up; up = up->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(up))
            return tabs->indexOf(page) >= 0 ? tabs : nullptr;
    }
    return nullptr;
}

// True when the caption could be put on a control of that kind.
bool SetCaption(QWidget& form, QWidget* control, const QString& text)
{
    if (control == &form) {
        form.setWindowTitle(text);
        return true;
    }
    if (QTabWidget* tabs = TabWidgetOf(control)) {
        tabs->setTabText(tabs->indexOf(control), text);
        return true;
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
        return true;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
        return true;
    }
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(text);
        return true;
    }
    return false;
}

} // namespace

std::vector<std::string> ApplyFormLabels(QWidget& form, const std::vector<ControlLabel>& labels,
                                         const TLangSet& texts)
{
    std::vector<std::string> missing;
    if (texts.IsJapanese())
        return missing;
    for (const ControlLabel& row : labels) {
        QWidget* control = &form;
        if (*row.Control != '\0')
            control = form.findChild<QWidget*>(QString::fromUtf8(row.Control));
        const QString text = QString::fromUtf8(row.Alternate);
        bool applied = false;
        if (control && std::strcmp(row.Property, "hint") == 0) {
            control->setToolTip(text);
            applied = true;
        } else if (control && std::strcmp(row.Property, "caption") == 0) {
            applied = SetCaption(form, control, text);
        }
        if (!applied)
            missing.push_back(*row.Control != '\0' ? row.Control : "(form)");
    }
    return missing;
}

} // namespace varnel
