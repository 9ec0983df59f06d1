#pragma once

#include "settings/Langset.h"

#include <string>
#include <vector>

class QWidget;

namespace varnel {

// GUI thread only. Puts the alternate captions and hints of `labels` (one of TLangSet's
// form tables) on `form` and its descendants, found by object name, when `texts` has the
// alternate set chosen; with Japanese chosen nothing changes. A caption goes to the form's
// window title (control ""), a label's or button's text, or a tab page's tab text; a hint
// goes to the tool tip. Texts are set exactly as tabled, spaces included. Returns the names
// of the rows that found no control (empty when every row was applied), so a form whose
// layout lost a name shows up in its tests.
std::vector<std::string> ApplyFormLabels(QWidget& form, const std::vector<ControlLabel>& labels,
                                         const TLangSet& texts);

} // namespace varnel
