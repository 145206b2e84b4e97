// How the line breaker measures text. The window layer supplies one over
// its screen fonts; a printer supplies one over the page; tests use the
// fixed-width measurer below.
#pragma once

#include "memo/memo_types.h"

namespace memo {

class TTextMeasurer {
public:
  virtual ~TTextMeasurer() = default;
  // Selects the font for an extended style (bold, italic, underline,
  // strike-out, alternate font, special underline; never the highlight bit).
  virtual void SelectFont(TExtFontStyles style) = 0;
  // Width in pixels of count bytes in the selected font, overhang included;
  // negative when the text cannot be measured.
  virtual int TextWidth(const char* text, int count) = 0;
  // The greatest character width of the memo's font.
  virtual int MaxCharWidth() = 0;
  // Width of one blank in the memo's own font: the unit of tab stops.
  virtual int TabCharWidth() = 0;
};

// Every byte is `width` pixels wide, bold ones `width + boldExtra`; each
// measured piece gets `overhang` more (as italic fonts do).
class TFixedWidthMeasurer : public TTextMeasurer {
public:
  explicit TFixedWidthMeasurer(int width = 8, int boldExtra = 0, int overhang = 0)
      : width_(width), bold_extra_(boldExtra), overhang_(overhang) {}
  void SelectFont(TExtFontStyles style) override {
    style_ = style;
    ++selections_;
  }
  int TextWidth(const char* text, int count) override {
    (void)text;
    if (count <= 0) return 0;
    ++measures_;
    return count * (width_ + ((style_ & esBold) ? bold_extra_ : 0)) + overhang_;
  }
  int MaxCharWidth() override { return width_ + bold_extra_; }
  int TabCharWidth() override { return width_; }

  TExtFontStyles style() const { return style_; }
  int selections() const { return selections_; }
  int measures() const { return measures_; }

private:
  int width_;
  int bold_extra_;
  int overhang_;
  TExtFontStyles style_ = 0;
  int selections_ = 0;
  int measures_ = 0;
};

}  // namespace memo
