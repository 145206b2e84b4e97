// What the memo needs of a window. A memo works fully without one (one
// display line per paragraph); the window layer attaches an implementation
// when the memo is shown, or when a window is asked for.
#pragma once

#include "memo/memo_types.h"
#include "memo/text_measurer.h"

namespace memo {

struct ParInfo;

class TMemoWindow {
public:
  virtual ~TMemoWindow() = default;

  // The measuring context of the screen font.
  virtual TTextMeasurer& Measurer() = 0;
  virtual int ClientWidth() const = 0;
  virtual int ClientHeight() const = 0;
  virtual bool Focused() const { return false; }
  // Text metrics of the font: line height (tmHeight + 1 for an automatic
  // line height) and the width of one blank.
  virtual int FontLineHeight() const { return 0; }
  virtual int SpaceWidth() const { return 0; }

  // Repaint requests, in client pixels.
  virtual void InvalidateRect(const TRect& rect, bool erase) {}
  virtual void Repaint() {}
  virtual void ScrollWindow(int dx, int dy) {}
  // The view's origins moved (horizontally, vertically): the scroll bars
  // show the new ones. Called before the window is scrolled or repainted.
  virtual void OriginsMoved(bool horizontal, bool vertical) {}
  virtual void UpdateWindow() {}
  // The layout changed: the scroll ranges need setting again.
  virtual void ScrollRangesChanged() {}
  // The caret moved or the view scrolled: place the caret again.
  virtual void CaretChanged() {}

  // Column and pixel mapping of one display line (the view measures it).
  virtual int ColPos(const ParInfo& par, int parNb, int column, int lineInPar) { return column; }
  virtual int ColNb(const ParInfo& par, int parNb, int lineInPar, int x, bool keepTab) { return 0; }

  // Handles a message after the attached components have seen it.
  virtual void Dispatch(TMessage& message) {}
  // An edit finished outside any update: scroll the caret into view.
  virtual void ScrollCaretInView() {}
};

}  // namespace memo
