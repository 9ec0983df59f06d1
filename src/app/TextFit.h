#pragma once

#include <QString>

class QWidget;

namespace varnel {

// Fitting a control's caption into the width the window's layout gives it: some Japanese
// captions are up to a character wider than their controls at the window's font.

// GUI thread only. The caption of a label or a button; empty for other widgets.
QString CaptionOf(const QWidget& widget);

// GUI thread only. The width a control gives its caption: a label's contents, the room beside
// a check box's indicator, the room beside a push button's picture inside its margins. 0 for
// other widgets.
int TextRoom(const QWidget& widget);

// GUI thread only. When the control's caption is wider than room, narrows the characters of its
// font in steps (95, 90, 85, 80 per cent) until it fits; when it fits as it is, the control
// keeps its parent's font. The font's height never changes.
void FitCaption(QWidget& widget, int room);

} // namespace varnel
