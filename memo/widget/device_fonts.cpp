#include "memo/widget/device_fonts.h"

#include <algorithm>
#include <cstdlib>

#include "memo/print_layout.h"

namespace memo {

gui::TFontDesc DeviceFontDesc(const TMemoFont& font, double pixelsPerInch) {
  gui::TFontDesc desc = font;
  if (font.Height != 0) {
    const int height = RoundHalfEven(font.Height * pixelsPerInch / kFontDesignDpi);
    desc.Height = height != 0 ? height : (font.Height < 0 ? -1 : 1);
  } else {
    desc.Height = -std::max(1, RoundHalfEven(std::abs(font.Size) * pixelsPerInch / 72.0));
  }
  return desc;
}

bool TDeviceFonts::Update(const TMemoFont& font, const TMemoFont& altFont, double pixelsPerInch) {
  if (ppi_ == pixelsPerInch && font == font_ && altFont == alt_font_) return false;
  font_ = font;
  alt_font_ = altFont;
  ppi_ = pixelsPerInch;
  for (auto& f : fonts_) f.reset();
  selected_ = nullptr;
  return true;
}

const gui::TScreenFont& TDeviceFonts::FontOf(TExtFontStyles style) {
  const int key = Key(style);
  auto& slot = fonts_[key];
  if (!slot) {
    gui::TFontDesc desc = DeviceFontDesc((key & esAltFont) ? alt_font_ : font_, ppi_ > 0 ? ppi_ : kFontDesignDpi);
    desc.Style = static_cast<gui::TFontStyles>(key & 0x0F);
    slot = std::make_unique<gui::TScreenFont>(desc);
  }
  return *slot;
}

int TDeviceFonts::TextWidth(const char* text, int count) {
  if (!selected_) selected_ = &MainFont();
  int width = 0;
  for (int i = 0; i < count; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 32) width += selected_->CharWidth(c);
  }
  return width;
}

}  // namespace memo
