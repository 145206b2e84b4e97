// The memo's fonts on a device of any resolution: one TScreenFont per
// extended style (bold, italic, underline, strike-out, alternate font),
// made on first use from Font or AltFont, and the text measurer the line
// breaker uses over them. The control's fonts are these at the screen's
// resolution (gui::kScreenDpi); the printer's at the printer's, and the
// print preview's at the printer's scaled by the zoom.
//
// Control characters (below 32) take no width here, so that the breaker,
// the column mapping and the painters agree on one rule.
#pragma once

#include <array>
#include <memory>

#include "memo/memo_types.h"
#include "memo/text_measurer.h"
#include "platform/gui/fonts.h"

namespace memo {

// Pixels per inch that the memo's font heights refer to.
inline constexpr int kFontDesignDpi = gui::kScreenDpi;

// A memo font for a device: a size in points scales with the device's
// pixels per inch; a height in (screen) pixels by device / screen pixels
// per inch. At kFontDesignDpi the font is the memo font as it is.
gui::TFontDesc DeviceFontDesc(const TMemoFont& font, double pixelsPerInch);

class TDeviceFonts : public TTextMeasurer {
public:
  // Drops every font when either description or the resolution changed;
  // true when anything did (always on the first call with a resolution).
  bool Update(const TMemoFont& font, const TMemoFont& altFont, double pixelsPerInch);
  double PixelsPerInch() const { return ppi_; }

  // The font of an extended style (highlight and special underline ignored).
  const gui::TScreenFont& FontOf(TExtFontStyles style);
  const gui::TScreenFont& MainFont() { return FontOf(font_.Style); }
  // Width of one character in a style; 0 for control characters.
  int CharWidth(TExtFontStyles style, unsigned char c) { return c < 32 ? 0 : FontOf(style).CharWidth(c); }
  // The width of one blank in the memo font: the unit of tab stops,
  // virtual columns and column blocks.
  int SpaceWidth() { return MainFont().CharWidth(' '); }

  // TTextMeasurer
  void SelectFont(TExtFontStyles style) override { selected_ = &FontOf(style); }
  int TextWidth(const char* text, int count) override;
  int MaxCharWidth() override { return MainFont().Metrics().tmMaxCharWidth; }
  int TabCharWidth() override { return SpaceWidth(); }

private:
  static int Key(TExtFontStyles style) { return style & (esBold | esItalic | esUnderline | esStrikeOut | esAltFont); }

  TMemoFont font_;
  TMemoFont alt_font_;
  double ppi_ = 0;  // 0 until the first Update (fonts at kFontDesignDpi)
  std::array<std::unique_ptr<gui::TScreenFont>, 64> fonts_;
  const gui::TScreenFont* selected_ = nullptr;
};

}  // namespace memo
