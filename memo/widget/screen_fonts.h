// The memo's screen fonts: one TScreenFont per extended style (bold,
// italic, underline, strike-out, alternate font), made on first use from
// Font or AltFont, and the text measurer the line breaker uses over them.
// Control characters (below 32) take no width here, so that the breaker,
// the column mapping and the painter agree on one rule.
#pragma once

#include <array>
#include <memory>

#include "memo/memo_types.h"
#include "memo/text_measurer.h"
#include "platform/gui/fonts.h"

namespace memo {

gui::TFontDesc ToFontDesc(const TMemoFont& font);

class TMemoScreenFonts : public TTextMeasurer {
public:
  // Drops every font when either description changed; true when it did.
  bool Update(const TMemoFont& font, const TMemoFont& altFont);

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
  bool valid_ = false;
  std::array<std::unique_ptr<gui::TScreenFont>, 64> fonts_;
  const gui::TScreenFont* selected_ = nullptr;
};

}  // namespace memo
