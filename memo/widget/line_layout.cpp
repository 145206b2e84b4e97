#include "memo/widget/line_layout.h"

#include <algorithm>

#include "memo/vell_memo.h"
#include "platform/gui/canvas.h"

namespace memo {

int LineOrigin(TVellMemo& memo, const TLayoutContext& context, const LineInfo& line) {
  const int left = context.leftMargin, right = context.rightMargin;
  if (memo.Justified() && line.justifyStart < line.end) return left;
  switch (memo.Alignment()) {
    case taRightJustify: return context.clientWidth - right - line.width;
    case taCenter: return left + (context.clientWidth - left - right - line.width) / 2;
    default: return left;
  }
}

void LayoutLine(TVellMemo& memo, TDeviceFonts& fonts, const TLayoutContext& context, const ParInfo& par,
                int parNb, int lineInPar, TLineLayout& out, std::int32_t stop, int stopX) {
  const LineInfo& line = par::Line(par, std::clamp(lineInPar, 0, par.lineCount - 1));
  out.parNb = parNb;
  out.lineInPar = lineInPar;
  out.start = line.start;
  out.end = std::max(std::min(line.end, stop), line.start);
  out.cells.clear();
  out.cells.reserve(static_cast<std::size_t>(std::min(out.end - out.start, 4096)));
  const char* text = par.text ? par.text : "";
  const bool codes = memo.StaticFormat();

  std::uint8_t statics = static_cast<std::uint8_t>(line.startStyle);
  std::int32_t run = std::clamp(line.startRun, 0, par.runCount);
  auto runFlags = [&]() { return par::StateBefore(par, run).flags; };
  TExtFontStyles style = memo.AttrToExtFontStyles(statics, runFlags());
  out.startStyle = style;

  const int origin = LineOrigin(memo, context, line) - context.displayLeft;
  out.textLeft = origin;
  const int tabUnit = std::max(memo.TabStops(), 1) * std::max(fonts.SpaceWidth(), 1);
  gui::TJustifier justifier;
  if (memo.Justified() && line.innerBlanks > 0 && line.justifyStart < out.end)
    justifier = gui::TJustifier(
        context.clientWidth - context.leftMargin - context.rightMargin - line.width, line.innerBlanks);

  int x = origin;
  for (std::int32_t o = out.start; o < out.end; ++o) {
    if (x > stopX) {
      out.end = o;
      break;
    }
    bool changed = false;
    while (run < par.runCount && par.runs[run].offset <= o) {
      ++run;
      changed = true;
    }
    const unsigned char c = static_cast<unsigned char>(text[o]);
    if (codes && IsStyleCode(c)) {
      statics ^= StyleBit(c);
      changed = true;
    }
    if (changed) style = memo.AttrToExtFontStyles(statics, runFlags());
    TCharCell& cell = out.cells.emplace_back();
    cell.x = x;
    cell.style = style;
    cell.run = run;
    int w;
    if (c == '\t') w = origin + ((x - origin) / tabUnit + 1) * tabUnit - x;
    else if ((codes && IsStyleCode(c)) || c < 32) w = 0;
    else w = fonts.CharWidth(style, c);
    if (c == ' ' && justifier.Active() && o >= line.justifyStart) w += justifier.Next();
    cell.width = w;
    x += w;
  }
  out.endX = x;
}

int ColumnAt(const TLineLayout& layout, const ParInfo& par, int x, bool keepTab) {
  int column = 0;
  const int count = static_cast<int>(layout.cells.size());
  while (column < count) {
    const TCharCell& cell = layout.cells[column];
    if (cell.x + cell.width / 2 > x) break;
    ++column;
  }
  if (keepTab && column > 0) {
    const int at = layout.start + column - 1;
    const int cellX = column < count ? layout.cells[column].x : layout.endX;
    if (x < cellX && par.text && par.text[at] == '\t') --column;
  }
  return column;
}

}  // namespace memo
