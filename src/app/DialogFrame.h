#pragma once

#include "settings/FormPlacement.h"

#include <QString>

class QDialog;
class QWidget;

namespace varnel {

// GUI thread. Gives a dialog the frame of the program's small dialogs: a fixed client area of
// width x height, a border with the system menu and close button only, the caption, and the
// window's 12-pixel font that covers Japanese and Chinese.
void SetUpFixedDialog(QDialog& dialog, int width, int height, const QString& caption);

} // namespace varnel
