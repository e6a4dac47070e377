// The program's message boxes: an OK box and a Yes/No question, each with
// the caption and text its controller chose, above the page windows of the
// wall and holding the keyboard until it is answered.
#pragma once

#include <string>

class QWidget;

namespace platform {

// A message box with an OK button and no icon, over `parent` (or on its own
// when null); returns when it is answered.
void showMessage(QWidget* parent, const std::string& caption, const std::string& text);

// A Yes/No question with no owner window; true for Yes.
bool askYesNo(const std::string& caption, const std::string& text);

// Shows the window again, raised and active above the page windows, with
// whatever state it holds.
void showAboveTheWall(QWidget& window);

} // namespace platform
