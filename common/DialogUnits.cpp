#include "common/DialogUnits.h"

#include <cstdint>

int dialogUnitsToPixels(int units, int base, int divisor) {
    if (divisor == 0)
        return 0;
    const int64_t product = int64_t(units) * base;
    const int64_t half = divisor / 2;
    const int64_t rounded = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    return static_cast<int>(rounded);
}

Rect mapDialogRect(const DialogItem& item, DialogBaseUnits base) {
    const int left = dialogUnitsToPixels(item.x, base.x, 4);
    const int top = dialogUnitsToPixels(item.y, base.y, 8);
    return Rect{left, top, left + dialogUnitsToPixels(item.cx, base.x, 4),
                top + dialogUnitsToPixels(item.cy, base.y, 8)};
}

int averageCharWidth(int widthOfAlphabet) {
    return (widthOfAlphabet / 26 + 1) / 2;
}
