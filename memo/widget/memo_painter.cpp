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

void TVellMemoControl::PaintLines(QPainter& painter, const QRect& rect, const PaintTarget& target) {
  Measurer();
  TCanvas canvas(painter);
  const int lh = std::max(memo_->LineHeight(), 1);
  const int clientW = target.clientWidth;
  const bool focused = hasFocus();
  const bool selectionShown = !memo_->HideSelection() || focused;
  const bool winColors = memo_->Options().Has(vmoWindowsSelColors);
  const bool fullLine = memo_->Options().Has(vmoFullLineSelect);
  const bool tiling = !background_.isNull() && background_.width() > 0 && background_.height() > 0;
  const std::int32_t selA = memo_->SelStartNav().Pos(), selB = memo_->SelEndNav().Pos();
  const bool hasSelection = selA != selB;
  const bool block = memo_->HasColumnBlock();
  const int blockLo = std::min(memo_->BlockColA(), memo_->BlockColB());
  const int blockHi = std::max(memo_->BlockColA(), memo_->BlockColB());
  const int space = std::max(space_width_, 1);
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

    LayoutLine(*memo_, fonts_, context, par, p, lineInPar, layout);
    const int baseline = y + baseline_;

    // 5. The selection on this line.
    const std::int32_t sOff = selA < parStart ? -1 : selA > parStart + par.length + 1 ? INT_MAX : selA - parStart;
    const std::int32_t eOff = selB < parStart ? -1 : selB > parStart + par.length + 1 ? INT_MAX : selB - parStart;
    bool selOn = false;
    int selLeft = 0, selRight = 0;
    std::int32_t selFrom = 0, selTo = 0;  // selected offsets (selection colours)
    if (hasSelection && selectionShown && info.start <= eOff) {
      if (block) {
        if (info.end >= sOff || sOff < 0) {
          selOn = true;
          selLeft = space * blockLo - target.displayLeft + memo_->LeftMargin();
          selRight = space * blockHi - target.displayLeft + memo_->LeftMargin();
          const char* text = par.text ? par.text : "";
          selFrom = OffsetOfColumn(text, info.start, info.end, blockLo, memo_->TabStops(), memo_->StaticFormat());
          selTo = OffsetOfColumn(text, info.start, info.end, blockHi, memo_->TabStops(), memo_->StaticFormat());
        }
      } else {
        const bool startsInside = info.start >= sOff;
        const bool startHere = sOff > info.start && (sOff < info.end || (sOff == info.end && lastOfPar));
        if (startsInside || startHere) {
          selOn = true;
          selFrom = std::max(sOff, info.start);
          selLeft = startsInside ? layout.X(info.start) : layout.X(sOff);
          if (eOff < info.end || (eOff == info.end && lastOfPar)) {
            selRight = layout.X(eOff);
            selTo = eOff;
          } else {
            selRight = fullLine ? clientW : layout.X(info.end);
            selTo = info.end;
          }
          if (sOff == info.end && lastOfPar && eOff <= info.end) selOn = selRight > selLeft;
        }
      }
      selLeft = std::clamp(selLeft, -32768, 32767);
      selRight = std::clamp(selRight, -32768, 32767);
      if (selOn && winColors && selRight > selLeft) canvas.FillRect(QRect(selLeft, y, selRight - selLeft, lh), memo_->SelBackColor());
    }

    // 6. Text, piece by piece.
    std::int32_t drawEnd = info.end;
    if (!lastOfPar && par.text)
      while (drawEnd > info.start && par.text[drawEnd - 1] == ' ') --drawEnd;
    const char* text = par.text ? par.text : "";
    canvas.SetPen(spec_underline_.Color, spec_underline_.Width);
    TWavyUnderline wavy(canvas, baseline);
    std::int32_t o = info.start;
    while (o < info.end) {
      const TCharCell& cell = layout.cells[o - info.start];
      if (!target.canvasMode && cell.x >= clientW) break;
      wavy.Cell(cell.x, cell.style & esSpecUnderline);
      const unsigned char c = static_cast<unsigned char>(text[o]);
      const bool selected = selOn && o >= selFrom && o < selTo;
      const DynInfoRec& run = par::StateBefore(par, cell.run);
      if (c == '\t') {
        const TPieceColors colors = ColorsOf(*memo_, cell.style, run, par, selected && winColors);
        if (colors.back != clNone && o < drawEnd) {
          canvas.SetFont(&fonts_.FontOf(cell.style));
          canvas.FillRect(canvas.CellRect(cell.x, cell.x + cell.width, baseline), colors.back);
        }
        ++o;
        continue;
      }
      if (cell.width == 0 || o >= drawEnd) {
        ++o;
        continue;
      }
      // A piece: characters of one style, run and selection state.
      std::int32_t q = o + 1;
      while (q < drawEnd) {
        const TCharCell& next = layout.cells[q - info.start];
        const unsigned char nc = static_cast<unsigned char>(text[q]);
        if (nc == '\t' || next.width == 0 || next.style != cell.style || next.run != cell.run) break;
        if (selOn && winColors && (q == selFrom || q == selTo)) break;
        if (!target.canvasMode && next.x >= clientW) break;
        ++q;
      }
      const TPieceColors colors = ColorsOf(*memo_, cell.style, run, par, selected && winColors);
      canvas.SetFont(&fonts_.FontOf(cell.style));
      canvas.SetTextColor(colors.text);
      canvas.SetBkMode(colors.back != clNone);
      if (colors.back != clNone) canvas.SetBkColor(colors.back);
      const TCharCell& lastCell = layout.cells[q - 1 - info.start];
      if (lastCell.x + lastCell.width > -16383) {
        advances.resize(q - o);
        for (std::int32_t i = o; i < q; ++i) advances[i - o] = layout.cells[i - info.start].width;
        canvas.TextOut(cell.x, baseline, text + o, q - o, advances.data());
      }
      // Special underline across the piece: track its end at the next cell.
      o = q;
    }
    wavy.Finish(drawEnd < info.end ? layout.X(drawEnd) : layout.endX);

    // 8. Selection inverted (without the selection colours).
    if (selOn && !winColors && selRight > selLeft) canvas.InvertRect(QRect(selLeft, y, selRight - selLeft, lh));

    // 9. The end-of-paragraph mark.
    if (selOn && memo_->ShowEndParSelected() && !fullLine && !block && lastOfPar && sOff <= par.length &&
        eOff == INT_MAX && p < memo_->GetParCount() - 1) {
      const QRect box(selRight, y + lh / 3, space / 2 + 1, lh / 3);
      if (winColors) canvas.FillRect(box, memo_->SelBackColor());
      else canvas.InvertRect(box);
    }
    painter.restore();
    lastDrawnBottom = y + lh;
  }

  if (target.canvasMode) return;
  // Finish: below the last line, and the end-of-text mark.
  const int lineCount = memo_->LineCount();
  const int bottom = rect.bottom() + 1;
  if (lastDrawnBottom < bottom) {
    const QRect below(0, lastDrawnBottom, clientW, bottom - lastDrawnBottom);
    painter.save();
    painter.setClipRect(below);
    if (tiling)
      Tile(painter, below, background_, Mod(target.displayLeft, background_.width()),
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
