#include "common/DialogUnits.h"

#include <gtest/gtest.h>

// Template rectangles to pixels with the base units of two fonts: the
// desktop's rounding of units * base / divisor, halves away from zero.
TEST(DialogUnits, TemplateRectanglesInPixels) {
    struct Case {
        DialogItem item;
        DialogBaseUnits base;
        Rect pixels;
    };
    const Case cases[] = {
        {{7, 7, 50, 14}, {6, 12}, {11, 11, 86, 32}},   // 10.5 and 75 across, 10.5 and 21 down
        {{0, 0, 193, 169}, {6, 12}, {0, 0, 290, 254}}, // 289.5 and 253.5 round up
        {{7, 7, 50, 14}, {7, 17}, {12, 15, 100, 45}},
        {{-3, -5, 0, 0}, {6, 12}, {-5, -8, -5, -8}}, // -4.5 and -7.5 away from zero
    };
    for (const Case& c : cases)
        EXPECT_EQ(mapDialogRect(c.item, c.base), c.pixels) << c.item.x << "," << c.item.y;
    EXPECT_EQ(dialogUnitsToPixels(5, 6, 0), 0) << "no base, no size";
    // 52 letters 312 pixels wide: 6 pixels a character; 338 wide: 7.
    EXPECT_EQ(averageCharWidth(312), 6);
    EXPECT_EQ(averageCharWidth(338), 7);
}
