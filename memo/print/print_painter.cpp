#include "memo/print/print_painter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "memo/vell_memo.h"
#include "platform/gui/canvas.h"
#include "platform/gui/colors.h"
#include "platform/runtime/cp1252.h"

namespace memo {
namespace {

struct PieceColors {
  TColor text = clNone;
  TColor back = clNone;
};

// The colours of a piece of printed text: the font's, the paragraph's own,
// the highlight colours, then a styled run's (never over a paragraph's).
PieceColors ColorsOf(TVellMemo& memo, TExtFontStyles style, const DynInfoRec& run, const ParInfo& par) {
  PieceColors c;
  c.text = memo.Font().Color;
  if (par.foreground != clNone) c.text = par.foreground;
  if (style & esHighlight) {
    c.text = memo.HighlightColor();
    c.back = memo.HighlightBackgnd();
  }
  if ((run.flags & kRunStyled) && !(run.background == 0 && run.foreground == 0)) {
    if (par.foreground == clNone && run.foreground != clNone) c.text = run.foreground;
    if (par.background == clNone && run.background != clNone) c.back = run.background;
  }
  return c;
}

}  // namespace

gui::TFontDesc DeviceFontDesc(const TMemoFont& font, double pixelsPerInch) {
  gui::TFontDesc desc;
  desc.Name = font.Name;
  desc.Size = font.Size;
  desc.Style = font.Style;
  if (font.Height != 0) {
    const int height = RoundHalfEven(font.Height * pixelsPerInch / kFontDesignDpi);
    desc.Height = height != 0 ? height : (font.Height < 0 ? -1 : 1);
  } else {
    desc.Height = -std::max(1, RoundHalfEven(std::abs(font.Size) * pixelsPerInch / 72.0));
  }
  return desc;
}

// ---- TDeviceFonts ----

void TDeviceFonts::Update(const TMemoFont& font, const TMemoFont& altFont, double pixelsPerInch) {
  if (ppi_ == pixelsPerInch && font == font_ && altFont == alt_font_) return;
  font_ = font;
  alt_font_ = altFont;
  ppi_ = pixelsPerInch;
  for (auto& f : fonts_) f.reset();
  selected_ = nullptr;
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

// ---- TPrintPainter ----

TPrintPainter::TPrintPainter(TVellMemo& memo, TDeviceFonts& measure, int formattingWidth)
    : memo_(memo), measure_(measure), width_(formattingWidth) {}

TDeviceFonts& TPrintPainter::DrawFonts(double zoom) {
  if (zoom == 1) return measure_;
  zoomed_.Update(memo_.Font(), memo_.AltFont(), measure_.PixelsPerInch() * zoom);
  return zoomed_;
}

void TPrintPainter::LayoutLine(const ParInfo& par, int lineInPar, std::vector<Cell>& cells) {
  const LineInfo& line = par::Line(par, lineInPar);
  const std::int32_t end = std::max(line.end, line.start);
  cells.assign(static_cast<std::size_t>(end - line.start), Cell());
  const char* text = par.text ? par.text : "";
  const bool codes = memo_.StaticFormat();
  std::uint8_t statics = static_cast<std::uint8_t>(line.startStyle);
  int run = std::clamp(line.startRun, 0, par.runCount);
  TExtFontStyles style = memo_.AttrToExtFontStyles(statics, par::StateBefore(par, run).flags);

  const bool justified = memo_.Justified() && line.justifyStart < end;
  int origin = 0;
  if (!justified && memo_.Alignment() == taRightJustify) origin = width_ - line.width;
  if (!justified && memo_.Alignment() == taCenter) origin = (width_ - line.width) / 2;
  const int tabUnit = std::max(memo_.TabStops(), 1) * std::max(measure_.SpaceWidth(), 1);
  gui::TJustifier justifier;
  if (justified && line.innerBlanks > 0) justifier = gui::TJustifier(width_ - line.width, line.innerBlanks);

  int x = origin;
  for (std::int32_t o = line.start; o < end; ++o) {
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
    if (changed) style = memo_.AttrToExtFontStyles(statics, par::StateBefore(par, run).flags);
    Cell& cell = cells[o - line.start];
    cell.x = x;
    cell.style = style;
    cell.run = run;
    int w;
    if (c == '\t') w = origin + ((x - origin) / tabUnit + 1) * tabUnit - x;
    else if ((codes && IsStyleCode(c)) || c < 32) w = 0;
    else w = measure_.CharWidth(style, c);
    if (c == ' ' && justifier.Active() && o >= line.justifyStart) w += justifier.Next();
    cell.width = w;
    x += w;
  }
}

void TPrintPainter::DrawLines(QPainter& painter, int first, int last, double left, double top, int pitch,
                              double zoom) {
  last = std::min(last, memo_.LineCount() - 1);
  for (int line = std::max(first, 0); line <= last; ++line)
    DrawLine(painter, line, left, top + static_cast<double>(line - first) * pitch, zoom);
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
  LayoutLine(par, lineInPar, cells_);

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
  const auto cell = [&](std::int32_t o) -> const Cell& { return cells_[o - info.start]; };

  int specStart = INT_MIN;
  for (std::int32_t o = info.start; o < info.end;) {
    const Cell& c = cell(o);
    if (c.style & esSpecUnderline) {
      if (specStart == INT_MIN) specStart = X(c.x);
    } else if (specStart != INT_MIN) {
      canvas.WavyLine(specStart, X(c.x), baseline);
      specStart = INT_MIN;
    }
    const unsigned char ch = static_cast<unsigned char>(text[o]);
    const DynInfoRec& run = par::StateBefore(par, c.run);
    if (ch == '\t') {
      const PieceColors colors = ColorsOf(memo_, c.style, run, par);
      if (colors.back != clNone && o < drawEnd) {
        canvas.SetFont(&fonts.FontOf(c.style));
        canvas.FillRect(canvas.CellRect(X(c.x), X(c.x + c.width), baseline), colors.back);
      }
      ++o;
      continue;
    }
    if (c.width == 0 || o >= drawEnd) {
      ++o;
      continue;
    }
    // A piece: characters of one style and run.
    std::int32_t q = o + 1;
    while (q < drawEnd) {
      const Cell& next = cell(q);
      if (text[q] == '\t' || next.width == 0 || next.style != c.style || next.run != c.run) break;
      ++q;
    }
    const PieceColors colors = ColorsOf(memo_, c.style, run, par);
    canvas.SetFont(&fonts.FontOf(c.style));
    canvas.SetTextColor(colors.text);
    canvas.SetBkMode(colors.back != clNone);
    if (colors.back != clNone) canvas.SetBkColor(colors.back);
    advances_.resize(q - o);
    for (std::int32_t i = o; i < q; ++i) advances_[i - o] = X(cell(i).x + cell(i).width) - X(cell(i).x);
    canvas.TextOut(X(c.x), baseline, text + o, q - o, advances_.data());
    o = q;
  }
  if (specStart != INT_MIN) {
    const int endX = info.end > info.start ? X(cell(info.end - 1).x + cell(info.end - 1).width) : X(0);
    canvas.WavyLine(specStart, endX, baseline);
  }
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
  painter.drawText(box, flags, QString::fromStdString(rtl::Cp1252ToUtf8(text)));
  painter.restore();
}

}  // namespace memo
