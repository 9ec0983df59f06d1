#include "settings/MessageBox.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace varnel {

namespace {

MessageBoxHandler& Handler()
{
    static MessageBoxHandler handler;
    return handler;
}

} // namespace

bool ShowMessageBox(QWidget* parent, MessageKind kind, const QString& text)
{
    if (Handler())
        return Handler()(kind, text);
    if (parent == nullptr)
        parent = QApplication::activeWindow();
    // Every box is titled by the program's name, as the main window is.
    const QString title = QStringLiteral("Varnel");
    if (kind == MessageKind::Question)
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    if (kind == MessageKind::Error)
        QMessageBox::critical(parent, title, text, QMessageBox::Ok);
    else
        QMessageBox::warning(parent, title, text, QMessageBox::Ok);
    return true;
}

QString FileMessageText(const QString& path, const QString& text)
{
    return QStringLiteral("\"") + QFileInfo(path).fileName() + QStringLiteral("\"\n") + text;
}

void SetMessageBoxHandler(MessageBoxHandler handler)
{
    Handler() = std::move(handler);
}

} // namespace varnel
