// The class library's font description: name, size or pixel height, style
// bits and pitch. The Qt side (platform/gui/fonts.h) turns it into a real
// font.
#pragma once

#include <cstdint>
#include <string>

namespace gui {

enum TFontPitch : std::uint8_t { fpDefault, fpVariable, fpFixed };

// Font styles: bit 0 bold, 1 italic, 2 underline, 3 strike-out.
using TFontStyles = std::uint8_t;
inline constexpr TFontStyles fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;

struct TFontDesc {
  std::string Name = "MS Sans Serif";
  int Size = 8;      // points; used when Height is 0
  int Height = -11;  // pixels: negative the character height, positive the cell height
  TFontStyles Style = 0;
  TFontPitch Pitch = fpDefault;
  friend bool operator==(const TFontDesc&, const TFontDesc&) = default;
};

}  // namespace gui
