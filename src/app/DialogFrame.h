#pragma once

#include <QString>

#include <vector>

class QDialog;
class QWidget;

namespace varnel {

struct ControlLabel;

// GUI thread. Gives a dialog the frame of the program's small dialogs: a fixed client area of
// width x height, a border with the system menu and close button only, the caption, and the
// window's 12-pixel font that covers Japanese and Chinese.
void SetUpFixedDialog(QDialog& dialog, int width, int height, const QString& caption);

// GUI thread. With the alternate texts chosen by the user's locale, puts them on the form's
// controls, found by object name ("" is the form itself); with Japanese, does nothing.
void ApplyFormLabels(QWidget& form, const std::vector<ControlLabel>& labels);

// GUI thread. Moves a top-level widget to the centre of its screen's available area.
void CentreOnScreen(QWidget& widget);

} // namespace varnel
