// The login dialog's background picture (bitmap 131 of the desktop program):
// 300 by 485 pixels, 24 bits per pixel, painted here in the wall's colours.
#pragma once

#include <QImage>

inline constexpr int kLoginBackgroundWidth = 300;
inline constexpr int kLoginBackgroundHeight = 485;

QImage loginBackground();
