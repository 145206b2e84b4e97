// Drawing a laid-out memo on a page: the fonts of a device of any
// resolution, and a painter that draws display lines of the printer's
// formatting memo with their static styles, dynamic runs, colours, tabs,
// alignment and justification.
//
// Every x is computed in printer pixels from the printer fonts' widths,
// the same widths that broke the lines; drawing at a zoom only scales
// those positions and draws the glyphs in fonts made for the zoomed
// resolution. So the preview places every character where the printer
// does, and the printer draws lines exactly as they were broken.
//
// Right, centred and justified lines align to the formatting width (the
// paper less the side margins), on paper and in the preview alike.
#pragma once

#include <QPainter>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "memo/memo_types.h"
#include "memo/print_layout.h"
#include "memo/text_measurer.h"
#include "platform/gui/fonts.h"

namespace memo {

class TVellMemo;
struct ParInfo;

// Pixels per inch that the memo's font heights refer to.
inline constexpr int kFontDesignDpi = gui::kScreenDpi;

// A memo font for a device: a size in points scales with the device's
// pixels per inch; a height in (screen) pixels by device / screen pixels
// per inch.
gui::TFontDesc DeviceFontDesc(const TMemoFont& font, double pixelsPerInch);

// The memo's fonts on a device, one per extended style, and the text
// measurer the line breaker uses over them. Control characters (below 32)
// take no width.
class TDeviceFonts : public TTextMeasurer {
public:
  // Drops every font when anything changed.
  void Update(const TMemoFont& font, const TMemoFont& altFont, double pixelsPerInch);
  double PixelsPerInch() const { return ppi_; }

  const gui::TScreenFont& FontOf(TExtFontStyles style);
  const gui::TScreenFont& MainFont() { return FontOf(font_.Style); }
  int CharWidth(TExtFontStyles style, unsigned char c) { return c < 32 ? 0 : FontOf(style).CharWidth(c); }
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
  double ppi_ = 0;
  std::array<std::unique_ptr<gui::TScreenFont>, 64> fonts_;
  const gui::TScreenFont* selected_ = nullptr;
};

class TPrintPainter {
public:
  // measure: the fonts the memo was laid out with (printer resolution).
  TPrintPainter(TVellMemo& memo, TDeviceFonts& measure, int formattingWidth);

  // Draws display lines first .. last, line i with its box's top-left at
  // (left, top + (i - first) * pitch) printer pixels, everything scaled by
  // zoom on the painter.
  void DrawLines(QPainter& painter, int first, int last, double left, double top, int pitch, double zoom);
  // Draws print lines (page * lines per page + row); the blank lines of a
  // form-feed fill draw nothing.
  void DrawPrintLines(QPainter& painter, const TPagination& pagination, int firstPrintLine, int lastPrintLine,
                      double left, double top, int pitch, double zoom);

private:
  struct Cell {
    int x = 0;
    int width = 0;
    TExtFontStyles style = 0;
    int run = 0;
  };
  void DrawLine(QPainter& painter, int line, double left, double top, double zoom);
  void LayoutLine(const ParInfo& par, int lineInPar, std::vector<Cell>& cells);
  TDeviceFonts& DrawFonts(double zoom);

  TVellMemo& memo_;
  TDeviceFonts& measure_;
  int width_;
  TDeviceFonts zoomed_;
  std::vector<Cell> cells_;
  std::vector<int> advances_;
};

// Header or footer text (Windows-1252) in a rectangle of printer pixels,
// word-wrapped, aligned left, right or centred, in the font for the
// printer's resolution scaled by zoom.
void DrawPageText(QPainter& painter, const TRect& rect, const std::string& text, const TMemoFont& font,
                  TAlignment alignment, int printerDpi, double zoom);

}  // namespace memo
