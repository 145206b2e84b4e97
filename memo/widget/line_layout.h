// Column and pixel mapping of one display line. LayoutLine walks the line
// once and gives every character its x and width as the painter draws it:
// fonts of the static style codes and dynamic runs, tab stops counted from
// the text's left edge, style codes and other control characters without
// width, blanks widened on justified lines, and the line origin by
// alignment, shifted by the horizontal scroll. ColPos, ColNb and the
// painter all read this one layout, so caret, mouse and picture agree; the
// printer and its preview read it too, so paper and screen lay out alike.
//
// Columns here are characters counted from the line start (navigator
// columns); visual columns with tabs expanded belong to the column rule of
// the text model and to column blocks.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "memo/text_model.h"
#include "memo/widget/device_fonts.h"

namespace memo {

class TVellMemo;

struct TCharCell {
  int x = 0;
  int width = 0;
  TExtFontStyles style = 0;  // extended style of the character
  std::int32_t run = 0;      // runs[run - 1] is in force (the start state when 0)
};

struct TLineLayout {
  int parNb = 0;
  int lineInPar = 0;
  std::int32_t start = 0;  // offsets in the paragraph
  std::int32_t end = 0;
  int textLeft = 0;  // x where the line's text starts (tab stops count from here)
  int endX = 0;      // x after the last character
  TExtFontStyles startStyle = 0;
  std::vector<TCharCell> cells;  // one per offset start .. end-1

  // x of the left edge of the character at offset (the end x beyond it).
  int X(std::int32_t offset) const {
    if (offset <= start) return cells.empty() ? endX : cells.front().x;
    if (offset >= end) return endX;
    return cells[offset - start].x;
  }
};

// Where lines are laid out besides the memo: the width they align in, the
// side margins inside it and the horizontal scroll. The control passes its
// client width, the memo's margins and DisplayLeft; the printer its
// formatting width (paper less the side margins) and nothing else.
struct TLayoutContext {
  int clientWidth = 0;
  int displayLeft = 0;
  int leftMargin = 0;
  int rightMargin = 0;
};

// fonts: the fonts the memo's lines were broken with. The layout ends
// before offset stop of the paragraph, or after the first character that
// starts beyond stopX: a caret or a view near the start of a line of many
// megabytes does not measure all of it.
void LayoutLine(TVellMemo& memo, TDeviceFonts& fonts, const TLayoutContext& context, const ParInfo& par,
                int parNb, int lineInPar, TLineLayout& out,
                std::int32_t stop = INT32_MAX, int stopX = INT_MAX);

// x where the text of a line of the given drawn width starts, before the
// horizontal scroll: the left margin for justified lines (only while
// Justified is on), else by alignment.
int LineOrigin(TVellMemo& memo, const TLayoutContext& context, const LineInfo& line);

// The column nearest to x on a laid-out line; with keepTab a click in the
// blank space of a tab lands before the tab.
int ColumnAt(const TLineLayout& layout, const ParInfo& par, int x, bool keepTab);

// The pieces of one laid-out display line as the painters (screen and
// paper) draw them, left to right over the offsets [start, end):
//  - cell(o, c) sees every cell first; false ends the walk;
//  - a tab goes to tab(o, c);
//  - a cell of no width, and every cell from drawEnd on, is passed over;
//  - otherwise piece(o, q, c) gets the characters o .. q-1: one style and
//    one run, before drawEnd, without tabs or cells of no width, and cut
//    before any q where cutBefore(q, cell of q) says so.
template <typename CellFn, typename TabFn, typename CutFn, typename PieceFn>
void ForEachPiece(const TLineLayout& layout, const char* text, std::int32_t start, std::int32_t end,
                  std::int32_t drawEnd, CellFn&& cell, TabFn&& tab, CutFn&& cutBefore, PieceFn&& piece) {
  std::int32_t o = start;
  while (o < end) {
    const TCharCell& c = layout.cells[o - start];
    if (!cell(o, c)) break;
    if (text[o] == '\t') {
      tab(o, c);
      ++o;
      continue;
    }
    if (c.width == 0 || o >= drawEnd) {
      ++o;
      continue;
    }
    std::int32_t q = o + 1;
    while (q < drawEnd) {
      const TCharCell& next = layout.cells[q - start];
      if (text[q] == '\t' || next.width == 0 || next.style != c.style || next.run != c.run || cutBefore(q, next))
        break;
      ++q;
    }
    piece(o, q, c);
    o = q;
  }
}

}  // namespace memo
