// Colours as the class library stores them: 0x00BBGGRR, -1 for none, and
// system colours (high bit set, low byte the system colour index) resolved
// through a fixed table, so that the same program paints the same pixels
// on every desktop.
#pragma once

#include <QColor>
#include <cstdint>

namespace gui {

using TColor = std::int32_t;

inline constexpr TColor clNone = -1;

inline constexpr TColor SystemColor(int index) {
  return static_cast<TColor>(0x80000000u | static_cast<std::uint32_t>(index));
}
inline constexpr int COLOR_WINDOW = 5;
inline constexpr int COLOR_WINDOWTEXT = 8;
inline constexpr int COLOR_HIGHLIGHT = 13;
inline constexpr int COLOR_HIGHLIGHTTEXT = 14;
inline constexpr int COLOR_BTNFACE = 15;

// The fixed table: 0x00BBGGRR of a system colour index (black beyond it).
TColor SystemColorRGB(int index);
// A system colour resolved, a plain colour masked to 24 bits, -1 kept.
TColor ColorToRGB(TColor color);
// -1 gives an invalid QColor.
QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

}  // namespace gui
