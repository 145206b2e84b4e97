// Painting: every visible display line drawn from the paragraph text, its
// static style codes and dynamic runs, with the memo's fonts and colours,
// the selection (inverted, or in the selection colours), tab stops,
// alignment and justification, the wavy special underline, the
// end-of-paragraph selection mark and the end-of-text mark; and the same
// routine on another canvas for printing (DrawLines).
//
// Each line is drawn clipped to its own rectangle, background first, so a
// line repaints the same whether it is painted alone or with the others;
// Qt's backing store keeps the picture flicker-free.
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cmath>

#include "memo/widget/memo_control.h"
#include "memo/widget/piece_colors.h"

namespace memo {

using namespace gui;

struct TVellMemoControl::PaintTarget {
  bool canvasMode = false;
  int clientWidth = 0;
  int displayLeft = 0;
  // Canvas mode: the lines drawn, their origin and step.
  int first = 0;
  int last = -1;
  QPoint origin;
  double lineStep = 0;
};

namespace {

// Pixels past the right edge still laid out, for glyphs that overhang it.
constexpr int kPaintOverhang = 256;

// A piece's colours under the selection colours when it is selected.
TPieceColors ColorsOf(TVellMemo& memo, TExtFontStyles style, const DynInfoRec& run, const ParInfo& par,
                      bool selected) {
  if (selected) return TPieceColors{memo.SelTextColor(), clNone};
  return PieceColors(memo, style, run, par);
}

void Tile(QPainter& painter, const QRect& rect, const QImage& picture, int srcX, int srcY) {
  if (picture.isNull()) return;
  const int w = picture.width(), h = picture.height();
  painter.save();
  painter.setClipRect(rect, Qt::IntersectClip);
  for (int y = rect.top() - srcY; y < rect.bottom() + 1; y += h)
    for (int x = rect.left() - srcX; x < rect.right() + 1; x += w) painter.drawImage(x, y, picture);
  painter.restore();
}

int Mod(int a, int b) { return b > 0 ? ((a % b) + b) % b : 0; }

}  // namespace

void TVellMemoControl::WMPaint(TMessage& message) {
  QPainter* painter = message.WParam ? reinterpret_cast<QPainter*>(message.WParam) : paint_painter_;
  if (!painter) return;
  const QRect rect = message.WParam ? viewport()->rect() : paint_rect_;
  // While Delete or Backspace builds its range, or while Lines is in an
  // update, nothing is drawn.
  if (transient_selection_ || memo_->UpdateCount() > 0) return;
  PaintTarget target;
  target.clientWidth = ClientWidth();
  target.displayLeft = memo_->DisplayLeft();
  PaintLines(*painter, rect, target);
}

void TVellMemoControl::DrawLines(int first, int last, QPainter& painter, QPoint origin, double lineStep) {
  if (!memo_) return;
  PaintTarget target;
  target.canvasMode = true;
  target.first = std::max(first, 0);
  target.last = std::min(last, memo_->LineCount() - 1);
  target.origin = origin;
  target.lineStep = lineStep;
  target.clientWidth = painter.device() ? painter.device()->width() - origin.x() : ClientWidth();
  target.displayLeft = 0;
  painter.save();
  PaintLines(painter, QRect(), target);
  painter.restore();
}

namespace {

// What one pass of PaintLines needs of the memo and the control, taken once.
struct PaintPass {
  TVellMemo& memo;
  TDeviceFonts& fonts;
  TCanvas& canvas;
  bool canvasMode;
  int clientW;
  int displayLeft;
  int lh;
  int space;
  bool selectionShown;
  bool winColors;
  bool fullLine;
  bool block;
  int blockLo, blockHi;
  std::int32_t selA, selB;
};

// The selection's part of one display line.
struct LineSelection {
  // The selection's ends as offsets in the paragraph: -1 before it,
  // INT_MAX beyond its end (and its line end).
  std::int32_t sOff = 0, eOff = 0;
  bool on = false;
  int left = 0, right = 0;        // pixels
  std::int32_t from = 0, to = 0;  // selected offsets (selection colours)
};

LineSelection SelectionOnLine(const PaintPass& pass, const ParInfo& par, const LineInfo& info,
                              std::int32_t parStart, bool lastOfPar, const TLineLayout& layout) {
  LineSelection sel;
  const std::int32_t selA = pass.selA, selB = pass.selB;
  sel.sOff = selA < parStart ? -1 : selA > parStart + par.length + 1 ? INT_MAX : selA - parStart;
  sel.eOff = selB < parStart ? -1 : selB > parStart + par.length + 1 ? INT_MAX : selB - parStart;
  if (selA == selB || !pass.selectionShown || info.start > sel.eOff) return sel;
  const std::int32_t sOff = sel.sOff, eOff = sel.eOff;
  if (pass.block) {
    if (info.end >= sOff || sOff < 0) {
      TVellMemo& memo = pass.memo;
      sel.on = true;
      sel.left = pass.space * pass.blockLo - pass.displayLeft + memo.LeftMargin();
      sel.right = pass.space * pass.blockHi - pass.displayLeft + memo.LeftMargin();
      const char* text = par.text ? par.text : "";
      sel.from = OffsetOfColumn(text, info.start, info.end, pass.blockLo, memo.TabStops(), memo.StaticFormat());
      sel.to = OffsetOfColumn(text, info.start, info.end, pass.blockHi, memo.TabStops(), memo.StaticFormat());
    }
  } else {
    const bool startsInside = info.start >= sOff;
    const bool startHere = sOff > info.start && (sOff < info.end || (sOff == info.end && lastOfPar));
    if (startsInside || startHere) {
      sel.on = true;
      sel.from = std::max(sOff, info.start);
      sel.left = startsInside ? layout.X(info.start) : layout.X(sOff);
      if (eOff < info.end || (eOff == info.end && lastOfPar)) {
        sel.right = layout.X(eOff);
        sel.to = eOff;
      } else {
        sel.right = pass.fullLine ? pass.clientW : layout.X(info.end);
        sel.to = info.end;
      }
      if (sOff == info.end && lastOfPar && eOff <= info.end) sel.on = sel.right > sel.left;
    }
  }
  sel.left = std::clamp(sel.left, -32768, 32767);
  sel.right = std::clamp(sel.right, -32768, 32767);
  return sel;
}

// The characters of one display line, piece by piece (one style, run and
// selection state each), with the tabs' backgrounds and the wavy special
// underline. advances is scratch space kept across lines.
void DrawLineText(const PaintPass& pass, const ParInfo& par, const LineInfo& info, bool lastOfPar,
                  const TLineLayout& layout, const LineSelection& sel, const TPenDesc& specUnderline,
                  int baseline, std::vector<int>& advances) {
  TCanvas& canvas = pass.canvas;
  TVellMemo& memo = pass.memo;
  const bool winColors = pass.winColors;
  std::int32_t drawEnd = info.end;
  if (!lastOfPar && par.text)
    while (drawEnd > info.start && par.text[drawEnd - 1] == ' ') --drawEnd;
  const char* text = par.text ? par.text : "";
  canvas.SetPen(specUnderline.Color, specUnderline.Width);
  TWavyUnderline wavy(canvas, baseline);
  auto colorsAt = [&](std::int32_t o, const TCharCell& cell) {
    const bool selected = sel.on && o >= sel.from && o < sel.to;
    return ColorsOf(memo, cell.style, par::StateBefore(par, cell.run), par, selected && winColors);
  };
  ForEachPiece(
      layout, text, info.start, info.end, drawEnd,
      [&](std::int32_t, const TCharCell& cell) {
        if (!pass.canvasMode && cell.x >= pass.clientW) return false;
        wavy.Cell(cell.x, cell.style & esSpecUnderline);
        return true;
      },
      [&](std::int32_t o, const TCharCell& cell) {
        const TPieceColors colors = colorsAt(o, cell);
        if (colors.back != clNone && o < drawEnd) {
          canvas.SetFont(&pass.fonts.FontOf(cell.style));
          canvas.FillRect(canvas.CellRect(cell.x, cell.x + cell.width, baseline), colors.back);
        }
      },
      [&](std::int32_t q, const TCharCell& next) {
        return (sel.on && winColors && (q == sel.from || q == sel.to)) || (!pass.canvasMode && next.x >= pass.clientW);
      },
      [&](std::int32_t o, std::int32_t q, const TCharCell& cell) {
        const TPieceColors colors = colorsAt(o, cell);
        canvas.SetFont(&pass.fonts.FontOf(cell.style));
        canvas.SetTextColor(colors.text);
        canvas.SetBkMode(colors.back != clNone);
        if (colors.back != clNone) canvas.SetBkColor(colors.back);
        const TCharCell& lastCell = layout.cells[q - 1 - info.start];
        if (lastCell.x + lastCell.width > -16383) {
          advances.resize(q - o);
          for (std::int32_t i = o; i < q; ++i) advances[i - o] = layout.cells[i - info.start].width;
          canvas.TextOut(cell.x, baseline, text + o, q - o, advances.data());
        }
      });
  wavy.Finish(drawEnd < info.end ? layout.X(drawEnd) : layout.endX);
}

}  // namespace

void TVellMemoControl::PaintLines(QPainter& painter, const QRect& rect, const PaintTarget& target) {
  Measurer();
  TCanvas canvas(painter);
  const PaintPass pass{*memo_,
                       fonts_,
                       canvas,
                       target.canvasMode,
                       target.clientWidth,
                       target.displayLeft,
                       std::max(memo_->LineHeight(), 1),
                       std::max(space_width_, 1),
                       !memo_->HideSelection() || hasFocus(),
                       memo_->Options().Has(vmoWindowsSelColors),
                       memo_->Options().Has(vmoFullLineSelect),
                       memo_->HasColumnBlock(),
                       std::min(memo_->BlockColA(), memo_->BlockColB()),
                       std::max(memo_->BlockColA(), memo_->BlockColB()),
                       memo_->SelStartNav().Pos(),
                       memo_->SelEndNav().Pos()};
  const int lh = pass.lh;
  const int clientW = pass.clientW;
  const bool tiling = !background_.isNull() && background_.width() > 0 && background_.height() > 0;
  const TLayoutContext context = LayoutContext(clientW, target.displayLeft);

  const int topPar = memo_->TopNav().GetParNb();
  // Start/stop ranges can reach the top from far above: parse up to it.
  // Without any start/stop source there is nothing to carry down.
  if ((memo_->ApplyStartStopKeys() && memo_->StartStopKeys().Count() > 0) || memo_->Highlighter())
    memo_->ParseStartStopNow(topPar);
  EnsureFormatted(topPar);

  int first, last;
  if (target.canvasMode) {
    first = target.first;
    last = target.last;
  } else {
    first = std::max(memo_->getTopLine() + memo_->LineNb(rect.top()), 0);
    last = std::max(memo_->getTopLine() + memo_->LineNb(rect.bottom()), 0);
  }

  TLineLayout layout;
  std::vector<int> advances;
  int lastDrawnBottom = target.canvasMode ? 0 : memo_->LinePos(first - memo_->getTopLine());
  for (int line = first; line <= last && line < memo_->LineCount(); ++line) {
    int p = memo_->FindParOfLine(line);
    for (int guard = 0; !memo_->Pars().At(p)->formatted && guard < 4; ++guard) {
      memo_->FormatNow(p, p, false);
      p = memo_->FindParOfLine(line);
    }
    if (line >= memo_->LineCount()) break;
    const ParInfo& par = *memo_->Pars().At(p);
    const int lineInPar = std::clamp(line - memo_->ParFirstLine(p), 0, par.lineCount - 1);
    const LineInfo& info = par::Line(par, lineInPar);
    const bool lastOfPar = lineInPar == par.lineCount - 1;
    const std::int32_t parStart = memo_->ParStart(p);

    int y;
    int xShift = 0;
    if (target.canvasMode) {
      y = target.origin.y() + static_cast<int>(std::nearbyint((line - first) * target.lineStep));
      xShift = target.origin.x();
    } else {
      y = memo_->LinePos(line - memo_->getTopLine());
    }
    const QRect lineRect(xShift, y, clientW, lh);
    painter.save();
    painter.setClipRect(lineRect, target.canvasMode ? Qt::IntersectClip : Qt::ReplaceClip);
    painter.translate(xShift, 0);
    const QRect fill(0, y, clientW, lh);

    // 1. Background.
    if (!target.canvasMode) {
      if (par.background == clNone && tiling)
        Tile(painter, fill, background_, Mod(target.displayLeft, background_.width()),
             Mod(lh * line, background_.height()));
      else
        canvas.FillRect(fill, par.background != clNone ? par.background : memo_->Color());
    }

    // What lies past the right edge is neither drawn nor measured.
    LayoutLine(*memo_, fonts_, context, par, p, lineInPar, layout, INT32_MAX, clientW + kPaintOverhang);

    // 5. The selection on this line, in the selection colours.
    const LineSelection sel = SelectionOnLine(pass, par, info, parStart, lastOfPar, layout);
    if (sel.on && pass.winColors && sel.right > sel.left)
      canvas.FillRect(QRect(sel.left, y, sel.right - sel.left, lh), memo_->SelBackColor());

    // 6. Text, piece by piece.
    DrawLineText(pass, par, info, lastOfPar, layout, sel, spec_underline_, y + baseline_, advances);

    // 8. Selection inverted (without the selection colours).
    if (sel.on && !pass.winColors && sel.right > sel.left)
      canvas.InvertRect(QRect(sel.left, y, sel.right - sel.left, lh));

    // 9. The end-of-paragraph mark.
    if (sel.on && memo_->ShowEndParSelected() && !pass.fullLine && !pass.block && lastOfPar &&
        sel.sOff <= par.length && sel.eOff == INT_MAX && p < memo_->GetParCount() - 1) {
      const QRect box(sel.right, y + lh / 3, pass.space / 2 + 1, lh / 3);
      if (pass.winColors) canvas.FillRect(box, memo_->SelBackColor());
      else canvas.InvertRect(box);
    }
    painter.restore();
    lastDrawnBottom = y + lh;
  }

  if (!target.canvasMode) PaintBelowLines(canvas, rect, clientW, target.displayLeft, last, lastDrawnBottom);
}

// Below the last line drawn: the background, and the end-of-text mark.
void TVellMemoControl::PaintBelowLines(TCanvas& canvas, const QRect& rect, int clientW, int displayLeft, int last,
                                       int lastDrawnBottom) {
  QPainter& painter = canvas.Painter();
  const int lh = std::max(memo_->LineHeight(), 1);
  const bool tiling = !background_.isNull() && background_.width() > 0 && background_.height() > 0;
  const int lineCount = memo_->LineCount();
  const int bottom = rect.bottom() + 1;
  if (lastDrawnBottom < bottom) {
    const QRect below(0, lastDrawnBottom, clientW, bottom - lastDrawnBottom);
    painter.save();
    painter.setClipRect(below);
    if (tiling)
      Tile(painter, below, background_, Mod(displayLeft, background_.width()),
           Mod(memo_->TopOrigin() + lastDrawnBottom, background_.height()));
    else
      canvas.FillRect(below, memo_->Color());
    painter.restore();
  }
  if (end_of_text_mark_.Color != clNone && last >= lineCount - 1) {
    const int y = lineCount * lh - memo_->TopOrigin() + end_of_text_mark_.Width / 2;
    if (y >= rect.top() && y <= rect.bottom()) {
      canvas.SetPen(end_of_text_mark_.Color, end_of_text_mark_.Width);
      painter.save();
      painter.setClipRect(rect);
      canvas.Line(0, y, clientW, y);
      painter.restore();
    }
  }
}

}  // namespace memo
