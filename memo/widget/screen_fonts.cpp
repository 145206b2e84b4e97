#include "memo/widget/screen_fonts.h"

namespace memo {

gui::TFontDesc ToFontDesc(const TMemoFont& font) {
  gui::TFontDesc desc;
  desc.Name = font.Name;
  desc.Size = font.Size;
  desc.Height = font.Height;
  desc.Style = font.Style;
  return desc;
}

bool TMemoScreenFonts::Update(const TMemoFont& font, const TMemoFont& altFont) {
  if (valid_ && font == font_ && altFont == alt_font_) return false;
  font_ = font;
  alt_font_ = altFont;
  for (auto& f : fonts_) f.reset();
  selected_ = nullptr;
  valid_ = true;
  return true;
}

const gui::TScreenFont& TMemoScreenFonts::FontOf(TExtFontStyles style) {
  const int key = Key(style);
  auto& slot = fonts_[key];
  if (!slot) {
    gui::TFontDesc desc = ToFontDesc((key & esAltFont) ? alt_font_ : font_);
    desc.Style = static_cast<gui::TFontStyles>(key & 0x0F);
    slot = std::make_unique<gui::TScreenFont>(desc);
  }
  return *slot;
}

int TMemoScreenFonts::TextWidth(const char* text, int count) {
  if (!selected_) selected_ = &MainFont();
  int width = 0;
  for (int i = 0; i < count; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 32) width += selected_->CharWidth(c);
  }
  return width;
}

}  // namespace memo
