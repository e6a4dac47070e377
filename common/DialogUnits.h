// Dialog units: dialogs are laid out from templates whose positions and sizes
// are counted in units of the dialog font, a quarter of its average character
// width across and an eighth of its height down, so that a dialog keeps its
// proportions whatever font the desktop gives it.
#pragma once

#include "common/Geometry.h"

// The dialog font's base units in pixels: its average character width and
// its height.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// A control of a template: position and size in dialog units.
struct DialogItem {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};

// One length in dialog units to pixels: units * base / divisor, rounded to
// the nearest pixel (halves away from zero).
int dialogUnitsToPixels(int units, int base, int divisor);

// A template rectangle in pixels: x and cx against base.x / 4, y and cy
// against base.y / 8. The result's right and bottom are left + width and
// top + height.
Rect mapDialogRect(const DialogItem& item, DialogBaseUnits base);

// The average character width from the width of the 52 letters A-Z and a-z
// of the dialog font, as the desktop counts it: (width / 26 + 1) / 2.
int averageCharWidth(int widthOfAlphabet);
