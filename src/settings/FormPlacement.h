#pragma once

class QWidget;

namespace varnel {

// GUI thread. Moves a top-level widget to the centre of its screen's available area: where
// every form of the program opens.
void CentreOnScreen(QWidget& widget);

} // namespace varnel
