// What the dialogs share on the desktop: the dialog font, its base units, a
// control placed from its template rectangle, centring on the primary
// monitor.
#pragma once

#include "common/DialogUnits.h"

#include <QFont>

class QWidget;

namespace platform {

// The dialog font: "WenQuanYi Micro Hei" at 9 points (the Chinese desktop's
// face for dialogs; Debian's fonts-wqy-microhei), so that every dialog has
// the same size on every machine.
QFont dialogFont();

// The base units of a font as the desktop measures them: the average width
// of the letters A-Z and a-z, and the font's height.
DialogBaseUnits dialogBaseUnits(const QFont& font);

// Places a widget at a template rectangle of its dialog.
void placeDialogItem(QWidget& widget, const DialogItem& item, DialogBaseUnits base);

// Moves a top-level window so that its frame is centred on the given
// rectangle (left and top each the integer half of the difference). An
// empty rectangle (no monitor discovered) stands for the primary screen.
void centreOn(QWidget& window, const Rect& area);

} // namespace platform
