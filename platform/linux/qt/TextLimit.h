// The typing limit of an edit box, as the desktop's edits keep it: typing and
// pasting may not make the text longer than the limit, but a longer text put
// in by the program stays whole and may be shortened or edited by the
// operator as long as it grows no longer.
// (QLineEdit::setMaxLength would cut such a text at once.)
#pragma once

class QLineEdit;
class QString;

namespace platform {

// Limits what can be typed into the edit to `characters` characters (Unicode
// characters, not bytes).
void limitTypedText(QLineEdit& edit, int characters);

// Puts the program's text into a limited edit whole, however long it is.
void setTextWhole(QLineEdit& edit, const QString& text);

} // namespace platform
