// Drawing a laid-out memo on a page: a painter that draws display lines
// of the printer's formatting memo with their static styles, dynamic runs,
// colours, tabs, alignment and justification. The fonts (TDeviceFonts),
// the line layout (LayoutLine) and the colour rule (PieceColors) are the
// memo control's, at the printer's resolution and formatting width.
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
#include <string>
#include <vector>

#include "memo/memo_types.h"
#include "memo/print_layout.h"
#include "memo/widget/device_fonts.h"
#include "memo/widget/line_layout.h"

namespace memo {

class TVellMemo;

class TPrintPainter {
public:
  // measure: the fonts the memo was laid out with (printer resolution).
  TPrintPainter(TVellMemo& memo, TDeviceFonts& measure, int formattingWidth);

  // Draws print lines (page * lines per page + row), line n with its box's
  // top-left at (left, top + (n - firstPrintLine) * pitch) printer pixels,
  // everything scaled by zoom on the painter; the blank lines of a
  // form-feed fill draw nothing.
  void DrawPrintLines(QPainter& painter, const TPagination& pagination, int firstPrintLine, int lastPrintLine,
                      double left, double top, int pitch, double zoom);

private:
  void DrawLine(QPainter& painter, int line, double left, double top, double zoom);
  TDeviceFonts& DrawFonts(double zoom);

  TVellMemo& memo_;
  TDeviceFonts& measure_;
  int width_;
  TDeviceFonts zoomed_;
  TLineLayout layout_;
  std::vector<int> advances_;
};

// Header or footer text (Windows-1252) in a rectangle of printer pixels,
// word-wrapped, aligned left, right or centred, in the font for the
// printer's resolution scaled by zoom.
void DrawPageText(QPainter& painter, const TRect& rect, const std::string& text, const TMemoFont& font,
                  TAlignment alignment, int printerDpi, double zoom);

}  // namespace memo
