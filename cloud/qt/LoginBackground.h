// The login dialog's background picture (bitmap 131 of the desktop program):
// 300 by 485 pixels, 24 bits per pixel, painted here in the wall's colours.
#pragma once

#include <QImage>

inline constexpr int kLoginBackgroundWidth = 300;
inline constexpr int kLoginBackgroundHeight = 485;

QImage loginBackground();

// The picture as it covers an area of any size: scaled smoothly, keeping its
// proportions, until it covers the whole area, then cropped to the area's
// size about its centre.
QImage coverArea(const QImage& picture, QSize area);
