// TVellMemoControl: the memo on screen. A QAbstractScrollArea whose
// viewport is the memo's client area, attached to a TVellMemo document as
// its window (TMemoWindow) and message queue (TMessagePoster).
//
// Every Qt event becomes a window message performed on the memo, so that
// attached components (the gutter) see it first; the memo then hands it
// back through Dispatch, where the handlers below run: painting, scroll
// bars and scroll commands, focus and the caret, keyboard, mouse, wheel,
// cursors, the clipboard messages and the private messages.
//
// The control owns the memo when it made it; a memo given to it stays its
// caller's, and the control detaches from it when either goes first.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "memo/vell_memo.h"
#include "memo/widget/device_fonts.h"
#include "memo/widget/line_layout.h"
#include "platform/gui/canvas.h"
#include "platform/gui/caret.h"
#include "platform/gui/cursors.h"
#include "platform/gui/messages.h"

class QMenu;
class QScrollBar;

namespace memo {

enum TScrollStyle : std::uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TMouseScrollType : std::uint8_t { msNoScroll, msUp, msDown, msLeft, msRight };

struct TPenDesc {
  TColor Color = clRed;
  int Width = 1;
};

using gui::TShiftState;

class TVellMemoControl : public QAbstractScrollArea, public TMemoWindow, private TMessagePoster {
public:
  // memo nullptr: the control makes and owns its own memo.
  explicit TVellMemoControl(QWidget* parent = nullptr, TVellMemo* memo = nullptr);
  ~TVellMemoControl() override;

  TVellMemo& Memo() { return *memo_; }
  bool HasMemo() const { return memo_ != nullptr; }
  std::intptr_t Perform(std::uint32_t msg, std::intptr_t wparam = 0, std::intptr_t lparam = 0);

  // ---- window properties ----
  TScrollStyle ScrollBars() const { return scroll_bars_; }
  void SetScrollBars(TScrollStyle style);
  bool BorderSingle() const { return border_single_; }
  void SetBorderSingle(bool single);
  const TPenDesc& EndOfTextMark() const { return end_of_text_mark_; }
  void SetEndOfTextMark(const TPenDesc& pen);
  const TPenDesc& SpecUnderline() const { return spec_underline_; }
  void SetSpecUnderline(const TPenDesc& pen);
  const QImage& BackgroundBmp() const { return background_; }
  void SetBackgroundBmp(const QImage& picture);
  QMenu* PopupMenu() const { return popup_menu_; }
  void SetPopupMenu(QMenu* menu) { popup_menu_ = menu; }
  // Property writers whose effect needs the window.
  void SetDisplayOnly(bool value);
  void SetOverwrite(bool value);

  // ---- inherited events ----
  std::function<void(TVellMemoControl*, std::uint16_t& key, TShiftState shift)> OnKeyDown;
  std::function<void(TVellMemoControl*, char& key)> OnKeyPress;
  std::function<void(TVellMemoControl*, std::uint16_t& key, TShiftState shift)> OnKeyUp;
  std::function<void(TVellMemoControl*, gui::TMouseButton, TShiftState, int x, int y)> OnMouseDown;
  std::function<void(TVellMemoControl*, TShiftState, int x, int y)> OnMouseMove;
  std::function<void(TVellMemoControl*, gui::TMouseButton, TShiftState, int x, int y)> OnMouseUp;
  std::function<void(TVellMemoControl*)> OnDblClick;

  // ---- caret and scrolling ----
  void UpdateCaret(bool recreate);
  void PlaceCaret();
  void ScrollInView();
  int GetCaretWidth();
  int CaretX() const { return caret_x_; }
  int CaretY() const { return caret_y_; }
  gui::TCaret& Caret() { return *caret_; }
  int VScrollUnit() const { return v_unit_; }
  int HScrollUnit() const { return h_unit_; }
  void setVScrollParams();
  void setHScrollParams();

  // ---- metrics (set on a font change) ----
  int SpaceWidth() const override { return space_width_; }
  int FontLineHeight() const override;
  int BaselineOffset() const { return baseline_; }
  int ChunkLimit() const { return chunk_limit_; }
  TDeviceFonts& Fonts() { return fonts_; }

  // ---- clipboard and column blocks ----
  void CopyToClipboard();
  void CutToClipboard();
  void PasteFromClipboard();
  void InsertBlock(const std::string& text);
  static unsigned BlockClipboardFormat();

  // ---- drawing on another canvas (printing) ----
  // Lines first .. last with their top-left at origin, one every lineStep
  // pixels (rounded), in the memo's fonts.
  void DrawLines(int first, int last, QPainter& painter, QPoint origin, double lineStep);
  void DrawLine(int line, QPainter& painter, QPoint origin) {
    DrawLines(line, line, painter, origin, memo_->LineHeight());
  }

  // ---- the default context menu ----
  QMenu* CreatePopupMenu();
  QMenu* DefaultPopupMenu() const { return default_popup_; }
  // Enables the items (when sender is the menu) or runs an item's command.
  void PopupClickHandler(QObject* sender);

  // ---- input handlers (the class library's overrides) ----
  virtual void KeyDown(std::uint16_t& key, TShiftState shift);
  virtual void KeyPress(char& key);
  virtual void KeyUp(std::uint16_t& key, TShiftState shift);
  virtual void MouseDown(gui::TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual void MouseUp(gui::TMouseButton button, TShiftState shift, int x, int y);
  virtual void DblClick();

  // ---- state for tests and attached components ----
  TMouseScrollType ScrollState() const { return scroll_state_; }
  int MarginLine() const { return margin_line_; }
  bool TextDragging() const { return text_drag_; }
  int WheelRemainder() const { return wheel_remainder_; }

  // ---- TMemoWindow ----
  TTextMeasurer& Measurer() override;
  int ClientWidth() const override;
  int ClientHeight() const override;
  bool Focused() const override;
  void InvalidateRect(const TRect& rect, bool erase) override;
  void Repaint() override;
  void ScrollWindow(int dx, int dy) override;
  void OriginsMoved(bool horizontal, bool vertical) override;
  void UpdateWindow() override;
  void ScrollRangesChanged() override;
  void CaretChanged() override;
  int ColPos(const ParInfo& par, int parNb, int column, int lineInPar) override;
  int ColNb(const ParInfo& par, int parNb, int lineInPar, int x, bool keepTab) override;
  void Dispatch(TMessage& message) override;
  void ScrollCaretInView() override;

protected:
  bool event(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  // TMessagePoster
  void Post(TVellMemo* memo, std::uint32_t msg, std::intptr_t wparam, std::intptr_t lparam) override;
  void Cancel(TVellMemo* memo) override;
  void Detach();

  // Messages.
  void CMFontChanged();
  void WMPaint(TMessage& message);
  void WMVScroll(int code, int pos);
  void WMHScroll(int code, int pos);
  void WMSetFocus();
  void WMKillFocus();
  void WMMouseWheel(int delta);
  bool WMSetCursor();
  int DialogCode() const;
  void BarAction(QScrollBar* bar, bool vertical, int action);
  void ApplyBarPolicies();

  // Painting (memo_painter.cpp).
  struct PaintTarget;
  void PaintLines(QPainter& painter, const QRect& rect, const PaintTarget& target);
  void PaintBelowLines(gui::TCanvas& canvas, const QRect& rect, int clientW, int displayLeft, int last,
                       int lastDrawnBottom);
  void InvalidateSelection();

  // Layout helpers.
  TLayoutContext Context() const { return LayoutContext(ClientWidth(), memo_->DisplayLeft()); }
  TLayoutContext LayoutContext(int clientWidth, int displayLeft) const {
    return TLayoutContext{clientWidth, displayLeft, memo_->LeftMargin(), memo_->RightMargin()};
  }
  void Layout(int parNb, int lineInPar, TLineLayout& out);
  void EnsureFormatted(int parNb);
  void ComputeCaretXY();

  // Selection helpers (memo_keyboard.cpp).
  void SetSelection(std::int32_t anchor, std::int32_t caret);
  void SelectionAfterMove(std::int32_t oldPos, int oldLine, TShiftState shift, bool editKey);
  void VerticalMove(int targetLine, TShiftState shift);
  bool KeyDownDisplayOnly(std::uint16_t key, TShiftState shift);
  void HomeEndKey(bool home, bool ctrl);
  bool LineUpDown(bool up, TShiftState shift, int& oldLine);
  bool LeftRightKey(bool left, TShiftState shift, std::int32_t oldPos);
  void InsertKey(bool shift, bool ctrl);
  bool HotKey(std::uint16_t key, TShiftState shift);
  bool MoveLeft(TShiftState shift);
  bool MoveRight(TShiftState shift);
  void DeleteKey(TShiftState shift);
  void BackspaceKey(TShiftState shift);
  void EnterKey();
  void RemoveRange(std::int32_t start, std::int32_t stop);
  int LeadingBlanks(const std::string& line) const;

  // Mouse helpers (memo_mouse.cpp).
  void PointerAt(int x, int y);
  void HoverAt(int x, std::int32_t ptr);
  void TrackAutoScroll(int x, int y);
  void DragMarginLines();
  void DragTextOver(TShiftState shift, int x, int y);
  void DragSelection(int x, std::int32_t ptr);
  void SelectWord(bool widenEnd);
  void SelectMarginLine(int line);
  void StartAutoScroll();
  void AutoScrollStep();
  void RestoreCursor();
  void SaveCursor();
  void MouseEvent(QMouseEvent* event, std::uint32_t msg);

  TVellMemo* memo_ = nullptr;
  std::unique_ptr<TVellMemo> owned_memo_;
  TDeviceFonts fonts_;
  gui::TCaret* caret_ = nullptr;
  std::unique_ptr<TVellNavigator> work_nav_;
  std::unique_ptr<TVellNavigator> pointer_nav_;
  std::unique_ptr<TVellNavigator> scratch_nav_;

  // Window properties.
  TScrollStyle scroll_bars_ = ssVertical;
  bool border_single_ = true;
  TPenDesc end_of_text_mark_;
  TPenDesc spec_underline_;
  QImage background_;
  QMenu* popup_menu_ = nullptr;
  QMenu* default_popup_ = nullptr;

  // Metrics.
  int baseline_ = 0;
  int space_width_ = 1;
  int chunk_limit_ = 4096;
  int line_bitmap_width_ = -1;
  int v_unit_ = 1;
  int h_unit_ = 1;
  bool scroll_setup_ = false;
  bool width_changed_ = false;
  bool bars_applying_ = false;

  // Caret.
  int caret_x_ = 0;
  int caret_y_ = 0;
  int overwrite_width_ = 1;
  std::int32_t last_caret_pos_ = -1;
  int last_style_ = -1;
  std::int32_t shown_sel_a_ = 0;
  std::int32_t shown_sel_b_ = 0;

  // Keyboard.
  bool transient_selection_ = false;
  bool key_released_ = false;

  // Mouse.
  std::int32_t press_pos_ = 0;
  int margin_line_ = -1;
  bool button_down_ = false;
  bool word_drag_ = false;
  bool text_drag_ = false;
  bool outside_ = false;
  bool over_selection_ = false;
  bool keyword_cursor_ = false;
  bool cursor_saved_ = false;
  gui::TCursor saved_cursor_ = gui::crIBeam;
  gui::TCursor cursor_ = gui::crIBeam;
  TMouseScrollType scroll_state_ = msNoScroll;
  int scroll_level_ = 0;
  int wheel_remainder_ = 0;
  QTimer auto_scroll_timer_;
  bool auto_scroll_step_ = false;
  qint64 last_double_click_ms_ = -1;
  QPoint last_double_click_pos_;
  std::int32_t style_ref_pos_ = -1;
  int style_ref_vcols_ = 0;

  // Painting.
  QRect paint_rect_;
  QPainter* paint_painter_ = nullptr;
  bool in_paint_ = false;
  bool ranges_pending_ = false;
};

// The last pointer position of any memo (shared, as the class library's
// mouse handler keeps it).
QPoint LastMemoPointerPos();

}  // namespace memo
