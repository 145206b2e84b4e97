// The system colour table without Qt, checked against the classic desktop
// scheme written out as red, green, blue.
#include <gtest/gtest.h>

#include "platform/gui/base/colors.h"

namespace {

using namespace gui;

struct Rgb {
  int r, g, b;
};

// Index by COLOR_* number.
constexpr Rgb kClassicScheme[] = {
    {212, 208, 200}, {58, 110, 165}, {10, 36, 106},   {128, 128, 128}, {212, 208, 200},
    {255, 255, 255}, {0, 0, 0},      {0, 0, 0},       {0, 0, 0},       {255, 255, 255},
    {212, 208, 200}, {212, 208, 200}, {128, 128, 128}, {10, 36, 106},  {255, 255, 255},
    {212, 208, 200}, {128, 128, 128}, {128, 128, 128}, {0, 0, 0},      {212, 208, 200},
    {255, 255, 255}, {64, 64, 64},   {212, 208, 200}, {0, 0, 0},       {255, 255, 225},
};
static_assert(std::size(kClassicScheme) == kSystemColorCount);

TEST(GuiBaseColors, EverySystemColourResolvesThroughTheOneTable) {
  for (int i = 0; i < kSystemColorCount; ++i) {
    const Rgb& want = kClassicScheme[i];
    EXPECT_EQ(ColorToRGB(SystemColor(i)), want.r | want.g << 8 | want.b << 16) << "index " << i;
    EXPECT_EQ(SystemColorRGB(i), ColorToRGB(SystemColor(i)));
  }
  EXPECT_EQ(ColorToRGB(clInfoBk), 0xE1FFFF);  // the tooltip background is not black
  EXPECT_EQ(ColorToRGB(SystemColor(kSystemColorCount)), 0);
  EXPECT_EQ(ColorToRGB(SystemColor(255)), 0);
  EXPECT_EQ(SystemColorRGB(-1), 0);
  EXPECT_EQ(ColorToRGB(clNone), clNone);
  EXPECT_EQ(ColorToRGB(0x7F123456), 0x123456);
  EXPECT_EQ(ColorToRGB(clRed), 0x0000FF);
}

}  // namespace
