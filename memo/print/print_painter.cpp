#include "memo/print/print_painter.h"

#include <algorithm>
#include <cmath>

#include "memo/vell_memo.h"
#include "memo/widget/piece_colors.h"
#include "platform/gui/canvas.h"
#include "platform/gui/colors.h"
#include "platform/gui/text.h"

namespace memo {

TPrintPainter::TPrintPainter(TVellMemo& memo, TDeviceFonts& measure, int formattingWidth)
    : memo_(memo), measure_(measure), width_(formattingWidth) {}

TDeviceFonts& TPrintPainter::DrawFonts(double zoom) {
  if (zoom == 1) return measure_;
  zoomed_.Update(memo_.Font(), memo_.AltFont(), measure_.PixelsPerInch() * zoom);
  return zoomed_;
}

void TPrintPainter::DrawPrintLines(QPainter& painter, const TPagination& pagination, int firstPrintLine,
                                   int lastPrintLine, double left, double top, int pitch, double zoom) {
  for (int n = firstPrintLine; n <= lastPrintLine; ++n) {
    const int line = pagination.PrintLineToMemoLine(n);
    if (line == TPagination::kInFill || line >= memo_.LineCount()) continue;
    DrawLine(painter, line, left, top + static_cast<double>(n - firstPrintLine) * pitch, zoom);
  }
}

void TPrintPainter::DrawLine(QPainter& painter, int line, double left, double top, double zoom) {
  int p = memo_.FindParOfLine(line);
  if (!memo_.Pars().At(p)->formatted) {
    memo_.FormatNow(p, p, false);
    p = memo_.FindParOfLine(line);
  }
  const ParInfo& par = *memo_.Pars().At(p);
  const int lineInPar = std::clamp(line - memo_.ParFirstLine(p), 0, par.lineCount - 1);
  const LineInfo& info = par::Line(par, lineInPar);
  // Laid out in printer pixels across the formatting width, from x = 0.
  LayoutLine(memo_, measure_, TLayoutContext{width_}, par, p, lineInPar, layout_);

  // Trailing blanks of a wrapped line are not drawn.
  std::int32_t drawEnd = info.end;
  if (lineInPar < par.lineCount - 1 && par.text)
    while (drawEnd > info.start && par.text[drawEnd - 1] == ' ') --drawEnd;
  const char* text = par.text ? par.text : "";
  TDeviceFonts& fonts = DrawFonts(zoom);
  gui::TCanvas canvas(painter);
  canvas.SetPen(clRed, 1);
  const int baseline = RoundHalfEven((top + measure_.MainFont().Metrics().tmAscent) * zoom);
  const auto X = [&](int x) { return RoundHalfEven((left + x) * zoom); };
  const auto cell = [&](std::int32_t o) -> const TCharCell& { return layout_.cells[o - info.start]; };

  gui::TWavyUnderline wavy(canvas, baseline);
  auto colorsOf = [&](const TCharCell& c) { return PieceColors(memo_, c.style, par::StateBefore(par, c.run), par); };
  ForEachPiece(
      layout_, text, info.start, info.end, drawEnd,
      [&](std::int32_t, const TCharCell& c) {
        wavy.Cell(X(c.x), c.style & esSpecUnderline);
        return true;
      },
      [&](std::int32_t o, const TCharCell& c) {
        const TPieceColors colors = colorsOf(c);
        if (colors.back != clNone && o < drawEnd) {
          canvas.SetFont(&fonts.FontOf(c.style));
          canvas.FillRect(canvas.CellRect(X(c.x), X(c.x + c.width), baseline), colors.back);
        }
      },
      [](std::int32_t, const TCharCell&) { return false; },
      [&](std::int32_t o, std::int32_t q, const TCharCell& c) {
        const TPieceColors colors = colorsOf(c);
        canvas.SetFont(&fonts.FontOf(c.style));
        canvas.SetTextColor(colors.text);
        canvas.SetBkMode(colors.back != clNone);
        if (colors.back != clNone) canvas.SetBkColor(colors.back);
        advances_.resize(q - o);
        for (std::int32_t i = o; i < q; ++i) advances_[i - o] = X(cell(i).x + cell(i).width) - X(cell(i).x);
        canvas.TextOut(X(c.x), baseline, text + o, q - o, advances_.data());
      });
  wavy.Finish(X(layout_.endX));
}

void DrawPageText(QPainter& painter, const TRect& rect, const std::string& text, const TMemoFont& font,
                  TAlignment alignment, int printerDpi, double zoom) {
  if (text.empty()) return;
  painter.save();
  painter.setFont(gui::MakeQFont(DeviceFontDesc(font, printerDpi * zoom)));
  painter.setPen(gui::ToQColor(font.Color));
  int flags = Qt::TextWordWrap | Qt::AlignTop;
  flags |= alignment == taRightJustify ? Qt::AlignRight : alignment == taCenter ? Qt::AlignHCenter : Qt::AlignLeft;
  const QRectF box(rect.left * zoom, rect.top * zoom, (rect.right - rect.left) * zoom, (rect.bottom - rect.top) * zoom);
  painter.drawText(box, flags, gui::ToQString(text));
  painter.restore();
}

}  // namespace memo
