// A drawing surface in the manner of a Win32 device context, over a
// QPainter: a selected screen font, text and background colours with an
// opaque or transparent background mode, text drawn on a baseline with an
// explicit advance per character, fills, inversion, a clip rectangle and a
// pen for lines (the wavy special underline among them).
#pragma once

#include <QPainter>
#include <QRect>
#include <climits>
#include <vector>

#include "platform/gui/colors.h"
#include "platform/gui/fonts.h"

namespace gui {

class TCanvas {
public:
  explicit TCanvas(QPainter& painter) : painter_(painter) {}

  QPainter& Painter() { return painter_; }

  void SetFont(const TScreenFont* font) { font_ = font; }
  const TScreenFont* Font() const { return font_; }
  void SetTextColor(TColor color) { text_color_ = ToQColor(color); }
  void SetBkColor(TColor color) { bk_color_ = ToQColor(color); }
  // Opaque: text fills its character cells with the background colour first.
  void SetBkMode(bool opaque) { opaque_ = opaque; }
  bool Opaque() const { return opaque_; }

  // Draws count bytes with their left edge at x, on the baseline; byte i
  // advances by advances[i] (a zero advance draws nothing). Returns the x
  // after the last byte.
  int TextOut(int x, int baseline, const char* text, int count, const int* advances);
  // The character cell of the selected font between x1 and x2 on a baseline.
  QRect CellRect(int x1, int x2, int baseline) const;

  void FillRect(const QRect& rect, TColor color);
  // Inverts every pixel of the rectangle (white minus the colour).
  void InvertRect(const QRect& rect);

  void SetClipRect(const QRect& rect) { painter_.setClipRect(rect); }
  void ClearClip() { painter_.setClipping(false); }

  void SetPen(TColor color, int width = 1);
  void Line(int x1, int y1, int x2, int y2);
  // The wavy underline from x1 to x2: a zigzag that starts at baseline + 3
  // and alternates between baseline + 1 and baseline + 3 every 2 pixels.
  void WavyLine(int x1, int x2, int baseline);
  static std::vector<QPoint> WavyPoints(int x1, int x2, int baseline);

private:
  QPainter& painter_;
  const TScreenFont* font_ = nullptr;
  QColor text_color_ = Qt::black;
  QColor bk_color_ = Qt::white;
  bool opaque_ = false;
  QPen pen_{Qt::black};
};

// The wavy underline of a line drawn cell by cell: a run opens at the
// first cell that has it and is drawn up to the first cell that has not,
// or up to the line's end.
class TWavyUnderline {
public:
  TWavyUnderline(TCanvas& canvas, int baseline) : canvas_(canvas), baseline_(baseline) {}
  // The next cell, at x, with or without the underline.
  void Cell(int x, bool underlined);
  // The line ends at x: draws the run still open, if any.
  void Finish(int x);

private:
  TCanvas& canvas_;
  int baseline_;
  int start_ = INT_MIN;  // INT_MIN: no run open
};

// Spreads `free` pixels over `blanks` blanks as the justified lines do: each
// blank gets free div blanks, and the remainder is handed out one pixel at
// a time from a running count that starts at half of it.
class TJustifier {
public:
  TJustifier() = default;
  TJustifier(int freePixels, int blanks);
  bool Active() const { return blanks_ > 0; }
  // The extra width of the next widened blank.
  int Next();

private:
  int blanks_ = 0;
  int per_ = 0;
  int rem_ = 0;
  int running_ = 0;
};

}  // namespace gui
