#include "platform/gui/base/colors.h"

namespace gui {
namespace {

// The classic desktop scheme, index by COLOR_* number.
constexpr TColor kSystemColors[kSystemColorCount] = {
    0xC8D0D4,  // 0 scroll bar
    0xA56E3A,  // 1 desktop
    0x6A240A,  // 2 active caption
    0x808080,  // 3 inactive caption
    0xC8D0D4,  // 4 menu
    0xFFFFFF,  // 5 window
    0x000000,  // 6 window frame
    0x000000,  // 7 menu text
    0x000000,  // 8 window text
    0xFFFFFF,  // 9 caption text
    0xC8D0D4,  // 10 active border
    0xC8D0D4,  // 11 inactive border
    0x808080,  // 12 application workspace
    0x6A240A,  // 13 highlight
    0xFFFFFF,  // 14 highlight text
    0xC8D0D4,  // 15 button face
    0x808080,  // 16 button shadow
    0x808080,  // 17 grey text
    0x000000,  // 18 button text
    0xC8D0D4,  // 19 inactive caption text
    0xFFFFFF,  // 20 button highlight
    0x404040,  // 21 3-D dark shadow
    0xC8D0D4,  // 22 3-D light
    0x000000,  // 23 tooltip text
    0xE1FFFF,  // 24 tooltip background
};

}  // namespace

TColor SystemColorRGB(int index) {
  if (index < 0 || index >= kSystemColorCount) return 0;
  return kSystemColors[index];
}

TColor ColorToRGB(TColor color) {
  if (color == clNone) return clNone;
  if (color < 0) return SystemColorRGB(static_cast<int>(static_cast<std::uint32_t>(color) & 0xFF));
  return color & 0xFFFFFF;
}

}  // namespace gui
