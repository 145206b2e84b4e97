#include <gtest/gtest.h>

#include "platform/gui/colors.h"

namespace {

using namespace gui;

TEST(ColorsTest, PlainColoursAreBgrAndNoneStaysNone) {
  EXPECT_EQ(ToQColor(0x0000FF), QColor(255, 0, 0));  // clRed
  EXPECT_EQ(ToQColor(0xFF0000), QColor(0, 0, 255));  // clBlue
  EXPECT_FALSE(ToQColor(clNone).isValid());
  EXPECT_EQ(ColorToRGB(clNone), clNone);
  EXPECT_EQ(ColorToRGB(0x12345678), 0x345678);
  EXPECT_EQ(FromQColor(QColor(1, 2, 3)), 0x030201);
  EXPECT_EQ(FromQColor(QColor()), clNone);
}

TEST(ColorsTest, SystemColoursComeFromTheFixedTable) {
  EXPECT_EQ(ColorToRGB(SystemColor(COLOR_WINDOW)), 0xFFFFFF);
  EXPECT_EQ(ColorToRGB(SystemColor(COLOR_WINDOWTEXT)), 0x000000);
  EXPECT_EQ(ToQColor(SystemColor(COLOR_HIGHLIGHT)), QColor(10, 36, 106));
  EXPECT_EQ(ColorToRGB(SystemColor(COLOR_HIGHLIGHTTEXT)), 0xFFFFFF);
  EXPECT_EQ(ToQColor(SystemColor(COLOR_BTNFACE)), QColor(212, 208, 200));
  EXPECT_EQ(ColorToRGB(SystemColor(200)), 0);  // beyond the table
}

}  // namespace
