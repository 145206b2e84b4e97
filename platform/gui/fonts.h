// Fonts from the class library's font description (platform/gui/base/fonts.h),
// with the faces the program names replaced by metric-compatible free ones. A TScreenFont holds one ready font: its Qt
// font with kerning off, the raw font that draws glyphs at explicit
// positions, the Win32-style text metrics and a width table of the 256
// Windows-1252 characters, so that measuring, breaking and drawing use the
// same integer advances.
#pragma once

#include <QFont>
#include <QRawFont>
#include <array>
#include <cstdint>
#include <string>

#include "platform/gui/base/fonts.h"

namespace gui {

// The face that stands in for a font name (case-blind); the name itself
// when the table has no entry.
std::string SubstituteFontName(const std::string& name);

// What GetTextMetrics reports, in pixels.
struct TTextMetric {
  int tmHeight = 0;  // ascent + descent
  int tmAscent = 0;
  int tmDescent = 0;
  int tmInternalLeading = 0;
  int tmExternalLeading = 0;
  int tmAveCharWidth = 0;
  int tmMaxCharWidth = 0;
};

// Pixels per inch of the screen fonts: fixed, so that layouts agree on
// every display.
inline constexpr int kScreenDpi = 96;

QFont MakeQFont(const TFontDesc& desc, int dpi = kScreenDpi);

class TScreenFont {
public:
  explicit TScreenFont(const TFontDesc& desc, int dpi = kScreenDpi);

  const TFontDesc& Desc() const { return desc_; }
  const QFont& Font() const { return font_; }
  const QRawFont& Raw() const { return raw_; }
  const TTextMetric& Metrics() const { return metrics_; }
  // Advance of one Windows-1252 character, rounded to whole pixels (halves
  // to even).
  int CharWidth(unsigned char c) const { return widths_[c]; }
  int TextWidth(const char* text, int count) const;
  // Glyph index of a Windows-1252 character in the raw font.
  std::uint32_t Glyph(unsigned char c) const { return glyphs_[c]; }

private:
  TFontDesc desc_;
  QFont font_;
  QRawFont raw_;
  TTextMetric metrics_;
  std::array<int, 256> widths_{};
  std::array<std::uint32_t, 256> glyphs_{};
};

}  // namespace gui
