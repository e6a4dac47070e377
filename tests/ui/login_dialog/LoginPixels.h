// Template 130 in pixels for the pinned dialog font, WenQuanYi Micro Hei 9 pt:
// its 52 letters are 344 pixels wide and it is 14 pixels high, so a
// horizontal dialog unit is 7 / 4 pixel ((344 / 26 + 1) / 2 = 7) and a
// vertical one 14 / 8 pixel; each value is rounded half away from zero.
// Worked out by hand; shared by the view test and the end-to-end test.
#pragma once

#include <QRect>

namespace pixels {
inline const QRect kClient{0, 0, 338, 296};         // 193 x 169: 337.75, 295.75
inline const QRect kLogin{222, 217, 68, 56};        // 127,124 39x32: 222.25, 217, 68.25, 56
inline const QRect kCancel{296, 5, 39, 37};         // 169,3 22x21: 295.75, 5.25, 38.5, 36.75
inline const QRect kAccountLabel{14, 221, 51, 14};  // 8,126 29x8: 14, 220.5, 50.75, 14
inline const QRect kPasswordLabel{14, 263, 51, 14}; // 8,150: 262.5
inline const QRect kAccount{65, 212, 138, 25};      // 37,121 79x14: 64.75, 211.75, 138.25, 24.5
inline const QRect kPassword{65, 254, 138, 25};     // 37,145: 253.75
} // namespace pixels
