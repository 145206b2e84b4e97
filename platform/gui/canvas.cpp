#include "platform/gui/canvas.h"

#include <QGlyphRun>
#include <algorithm>

namespace gui {

int TCanvas::TextOut(int x, int baseline, const char* text, int count, const int* advances) {
  if (count <= 0) return x;
  int end = x;
  for (int i = 0; i < count; ++i) end += advances[i];
  if (opaque_ && font_ && end > x) painter_.fillRect(CellRect(x, end, baseline), bk_color_);
  if (!font_ || !font_->Raw().isValid()) return end;
  QList<quint32> glyphs;
  QList<QPointF> positions;
  glyphs.reserve(count);
  positions.reserve(count);
  int at = x;
  for (int i = 0; i < count; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (advances[i] > 0 && c > 32 && font_->Glyph(c) != 0) {
      glyphs.push_back(font_->Glyph(c));
      positions.push_back(QPointF(at, baseline));
    }
    at += advances[i];
  }
  const QFont& f = font_->Font();
  if (!glyphs.isEmpty()) {
    QGlyphRun run;
    run.setRawFont(font_->Raw());
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    painter_.setPen(text_color_);
    painter_.drawGlyphRun(QPointF(0, 0), run);
  }
  // Underline and strike-out run under blanks too, as GDI draws them.
  if ((f.underline() || f.strikeOut()) && end > x) {
    const QRawFont& raw = font_->Raw();
    int thick = std::max(1, static_cast<int>(raw.lineThickness() + 0.5));
    if (f.underline()) {
      int y = baseline + std::max(1, static_cast<int>(raw.underlinePosition() + 0.5));
      painter_.fillRect(QRect(x, y, end - x, thick), text_color_);
    }
    if (f.strikeOut()) {
      int y = baseline - std::max(1, font_->Metrics().tmAscent / 3);
      painter_.fillRect(QRect(x, y, end - x, thick), text_color_);
    }
  }
  return end;
}

QRect TCanvas::CellRect(int x1, int x2, int baseline) const {
  if (!font_) return QRect(x1, baseline, std::max(x2 - x1, 0), 0);
  const TTextMetric& m = font_->Metrics();
  return QRect(x1, baseline - m.tmAscent, std::max(x2 - x1, 0), m.tmHeight);
}

void TCanvas::FillRect(const QRect& rect, TColor color) {
  QColor c = ToQColor(color);
  if (c.isValid() && rect.isValid()) painter_.fillRect(rect, c);
}

void TCanvas::InvertRect(const QRect& rect) {
  if (!rect.isValid()) return;
  QPainter::CompositionMode old = painter_.compositionMode();
  painter_.setCompositionMode(QPainter::CompositionMode_Difference);
  painter_.fillRect(rect, Qt::white);
  painter_.setCompositionMode(old);
}

void TCanvas::SetPen(TColor color, int width) {
  pen_ = QPen(ToQColor(color));
  pen_.setWidth(std::max(width, 1));
  pen_.setCapStyle(Qt::FlatCap);
}

void TCanvas::Line(int x1, int y1, int x2, int y2) {
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setPen(pen_);
  painter_.drawLine(x1, y1, x2, y2);
  painter_.restore();
}

std::vector<QPoint> TCanvas::WavyPoints(int x1, int x2, int baseline) {
  x1 = std::clamp(x1, -32768, 32767);
  x2 = std::clamp(x2, -32768, 32767);
  std::vector<QPoint> points;
  bool low = true;
  for (int x = x1; x < x2; x += 2) {
    points.emplace_back(x, baseline + (low ? 3 : 1));
    low = !low;
  }
  if (x2 > x1) points.emplace_back(x2, baseline + (low ? 3 : 1));
  return points;
}

void TCanvas::WavyLine(int x1, int x2, int baseline) {
  std::vector<QPoint> points = WavyPoints(x1, x2, baseline);
  if (points.size() < 2) return;
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setPen(pen_);
  painter_.drawPolyline(points.data(), static_cast<int>(points.size()));
  painter_.restore();
}

void TWavyUnderline::Cell(int x, bool underlined) {
  if (underlined) {
    if (start_ == INT_MIN) start_ = x;
  } else if (start_ != INT_MIN) {
    canvas_.WavyLine(start_, x, baseline_);
    start_ = INT_MIN;
  }
}

void TWavyUnderline::Finish(int x) {
  if (start_ != INT_MIN) canvas_.WavyLine(start_, x, baseline_);
  start_ = INT_MIN;
}

TJustifier::TJustifier(int freePixels, int blanks) {
  if (blanks <= 0) return;
  blanks_ = blanks;
  per_ = freePixels / blanks;
  rem_ = freePixels % blanks;
  running_ = rem_ / 2;
}

int TJustifier::Next() {
  if (blanks_ <= 0) return 0;
  int extra = per_;
  running_ += rem_;
  if (running_ >= blanks_) {
    ++extra;
    running_ -= blanks_;
  }
  return extra;
}

}  // namespace gui
