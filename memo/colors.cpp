#include "memo/memo_types.h"

namespace memo {
namespace {

// The classic desktop palette, used until the window layer installs the
// running desktop's colours.
TColor DefaultSystemColor(int index) {
  switch (index) {
    case 5: return 0xFFFFFF;   // window
    case 8: return 0x000000;   // window text
    case 13: return 0x6A240A;  // highlight (10, 36, 106)
    case 14: return 0xFFFFFF;  // highlight text
    case 15: return 0xC8D0D4;  // button face (212, 208, 200)
    default: return 0x000000;
  }
}

SystemColorResolver g_resolver = nullptr;

}  // namespace

TColor ColorToRGB(TColor color) {
  if (color == clNone) return clNone;
  if (color < 0) {
    int index = static_cast<int>(static_cast<std::uint32_t>(color) & 0xFF);
    return (g_resolver ? g_resolver(index) : DefaultSystemColor(index)) & 0xFFFFFF;
  }
  return color & 0xFFFFFF;
}

void SetSystemColorResolver(SystemColorResolver resolver) { g_resolver = resolver; }

}  // namespace memo
