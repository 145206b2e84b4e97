// TVellMemoControl: construction, the Qt events as window messages, the
// message handlers, font metrics, scroll bars and scroll commands, focus,
// the caret and scrolling the caret into view.
#include "memo/widget/memo_control.h"

#include <QApplication>
#include <QDateTime>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/gui/colors.h"
#include "platform/gui/exceptions.h"
#include "platform/gui/keys.h"
#include "platform/gui/scroll_bar.h"

namespace memo {

using namespace gui;

TVellMemoControl::TVellMemoControl(QWidget* parent, TVellMemo* memo) : QAbstractScrollArea(parent) {
  if (!memo) {
    owned_memo_ = std::make_unique<TVellMemo>();
    memo = owned_memo_.get();
  }
  memo_ = memo;
  caret_ = new TCaret(viewport());
  work_nav_ = std::make_unique<TVellNavigator>(memo_);
  pointer_nav_ = std::make_unique<TVellNavigator>(memo_);
  scratch_nav_ = std::make_unique<TVellNavigator>(memo_);

  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  viewport()->setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  SetBorderSingle(true);
  SetControlCursor(viewport(), crIBeam);
  ApplyBarPolicies();
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
          [this](int action) { BarAction(verticalScrollBar(), true, action); });
  connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
          [this](int action) { BarAction(horizontalScrollBar(), false, action); });
  auto_scroll_timer_.setSingleShot(true);
  connect(&auto_scroll_timer_, &QTimer::timeout, this, [this] { Guarded([this] { AutoScrollStep(); }); });
  resize(100, 60);

  fonts_.Update(memo_->Font(), memo_->AltFont(), gui::kScreenDpi);
  memo_->SetPoster(this);
  memo_->AttachWindow(this);
  Perform(CM_FONTCHANGED);
}

TVellMemoControl::~TVellMemoControl() {
  auto_scroll_timer_.stop();
  if (cursor_saved_ || ScreenCursor() != crDefault) SetScreenCursor(crDefault);
  work_nav_.reset();
  pointer_nav_.reset();
  scratch_nav_.reset();
  if (memo_) {
    memo_->SetPoster(nullptr);
    if (owned_memo_) owned_memo_.reset();
    else memo_->AttachWindow(nullptr);
  }
  memo_ = nullptr;
}

void TVellMemoControl::Detach() {
  auto_scroll_timer_.stop();
  CancelPostedMessages(this);
  work_nav_.reset();
  pointer_nav_.reset();
  scratch_nav_.reset();
  memo_ = nullptr;
}

std::intptr_t TVellMemoControl::Perform(std::uint32_t msg, std::intptr_t wparam, std::intptr_t lparam) {
  if (!memo_) return 0;
  return memo_->Perform(msg, wparam, lparam);
}

// ---- TMessagePoster ----

void TVellMemoControl::Post(TVellMemo* memo, std::uint32_t msg, std::intptr_t wparam, std::intptr_t lparam) {
  if (memo == memo_) PostMessage(this, msg, wparam, lparam);
}

void TVellMemoControl::Cancel(TVellMemo* memo) {
  CancelPostedMessages(this);
  if (memo == memo_ && !owned_memo_) Detach();
}

// ---- window properties ----

void TVellMemoControl::ApplyBarPolicies() {
  setVerticalScrollBarPolicy(scroll_bars_ == ssVertical || scroll_bars_ == ssBoth ? Qt::ScrollBarAsNeeded
                                                                                  : Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth ? Qt::ScrollBarAsNeeded
                                                                                      : Qt::ScrollBarAlwaysOff);
}

void TVellMemoControl::SetScrollBars(TScrollStyle style) {
  if (style == scroll_bars_) return;
  scroll_bars_ = style;
  ApplyBarPolicies();
  setVScrollParams();
  setHScrollParams();
}

void TVellMemoControl::SetBorderSingle(bool single) {
  border_single_ = single;
  setFrameStyle(single ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
}

void TVellMemoControl::SetEndOfTextMark(const TPenDesc& pen) {
  end_of_text_mark_ = pen;
  Repaint();
}

void TVellMemoControl::SetSpecUnderline(const TPenDesc& pen) {
  spec_underline_ = pen;
  Repaint();
}

void TVellMemoControl::SetBackgroundBmp(const QImage& picture) {
  background_ = picture;
  Repaint();
}

void TVellMemoControl::SetDisplayOnly(bool value) {
  if (!memo_ || value == memo_->DisplayOnly()) return;
  memo_->SetDisplayOnly(value);
  if (!hasFocus()) return;
  if (value) {
    caret_->Destroy();
  } else {
    caret_->Create(GetCaretWidth(), memo_->LineHeight());
    UpdateCaret(false);
    caret_->Show();
  }
}

void TVellMemoControl::SetOverwrite(bool value) {
  if (!memo_ || value == memo_->Overwrite()) return;
  memo_->SetOverwrite(value);
  if (hasFocus() && !memo_->DisplayOnly()) UpdateCaret(true);
}

// ---- TMemoWindow ----

TTextMeasurer& TVellMemoControl::Measurer() {
  if (memo_ && fonts_.Update(memo_->Font(), memo_->AltFont(), gui::kScreenDpi)) {
    space_width_ = std::max(fonts_.SpaceWidth(), 1);
    chunk_limit_ = 16384 / std::max(fonts_.MaxCharWidth(), 1);
  }
  return fonts_;
}

int TVellMemoControl::ClientWidth() const { return viewport()->width(); }
int TVellMemoControl::ClientHeight() const { return viewport()->height(); }
bool TVellMemoControl::Focused() const { return hasFocus(); }

int TVellMemoControl::FontLineHeight() const {
  auto* self = const_cast<TVellMemoControl*>(this);
  if (!memo_) return 0;
  self->Measurer();
  return self->fonts_.MainFont().Metrics().tmHeight + 1;
}

void TVellMemoControl::InvalidateRect(const TRect& rect, bool erase) {
  viewport()->update(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top));
}

// A property that repaints may move the caret too (alignment, margins).
void TVellMemoControl::Repaint() {
  viewport()->update();
  UpdateCaret(false);
}

void TVellMemoControl::ScrollWindow(int dx, int dy) {
  const QRect caretRect = caret_->Rect();
  viewport()->scroll(dx, dy);
  if (caret_->Visible()) viewport()->update(caretRect.translated(dx, dy));
}

void TVellMemoControl::OriginsMoved(bool horizontal, bool vertical) {
  if (!memo_) return;
  if (vertical && (scroll_bars_ == ssVertical || scroll_bars_ == ssBoth))
    SetScrollPos(verticalScrollBar(), memo_->TopOrigin() / std::max(v_unit_, 1));
  if (horizontal && (scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth))
    SetScrollPos(horizontalScrollBar(), memo_->DisplayLeft() / std::max(h_unit_, 1));
}

// Paints now what waits to be painted, as scrolling and typing want to be
// seen at once (a paint in progress is not started again).
void TVellMemoControl::UpdateWindow() {
  if (in_paint_ || !viewport()->isVisible()) return;
  viewport()->repaint();
}

void TVellMemoControl::ScrollRangesChanged() {
  if (in_paint_) {
    // Bars that appear or go resize the viewport: never inside a paint.
    if (!ranges_pending_) QTimer::singleShot(0, this, [this] {
        ranges_pending_ = false;
        Guarded([this] { ScrollRangesChanged(); });
      });
    ranges_pending_ = true;
    return;
  }
  setVScrollParams();
  setHScrollParams();
}

void TVellMemoControl::CaretChanged() { UpdateCaret(false); }

void TVellMemoControl::Layout(int parNb, int lineInPar, TLineLayout& out) {
  Measurer();
  LayoutLine(*memo_, fonts_, Context(), *memo_->Pars().GetPointer(parNb), parNb, lineInPar, out);
}

int TVellMemoControl::ColPos(const ParInfo& par, int parNb, int column, int lineInPar) {
  Measurer();
  TLineLayout layout;
  const LineInfo& line = par::Line(par, std::clamp(lineInPar, 0, par.lineCount - 1));
  const std::int32_t wanted = std::min<std::int64_t>(std::int64_t{line.start} + std::max(column, 0), INT32_MAX - 1);
  // Laid out up to the character at the column, never the rest of the line.
  LayoutLine(*memo_, fonts_, Context(), par, parNb, lineInPar, layout, static_cast<std::int32_t>(wanted) + 1);
  const std::int32_t offset = std::min(layout.start + std::max(column, 0), layout.end);
  if (offset < layout.end) {
    const unsigned char c = static_cast<unsigned char>(par.text[offset]);
    if (!(memo_->StaticFormat() && IsStyleCode(c))) overwrite_width_ = std::max(layout.cells[offset - layout.start].width, 1);
  } else {
    overwrite_width_ = std::max(space_width_, 1);
  }
  return layout.X(offset);
}

int TVellMemoControl::ColNb(const ParInfo& par, int parNb, int lineInPar, int x, bool keepTab) {
  Measurer();
  TLineLayout layout;
  LayoutLine(*memo_, fonts_, Context(), par, parNb, lineInPar, layout);
  return ColumnAt(layout, par, x, keepTab);
}

void TVellMemoControl::EnsureFormatted(int parNb) {
  if (!memo_->Pars().GetPointer(parNb)->formatted) memo_->FormatNow(parNb, parNb, false);
}

// ---- messages ----

void TVellMemoControl::Dispatch(TMessage& m) {
  switch (m.Msg) {
    case CM_FONTCHANGED: CMFontChanged(); break;
    case WM_PAINT: WMPaint(m); break;
    case WM_ERASEBKGND: m.Result = 1; break;
    case WM_VSCROLL: WMVScroll(LowWord(m.WParam), static_cast<int>(m.LParam)); m.Result = 0; break;
    case WM_HSCROLL: WMHScroll(LowWord(m.WParam), static_cast<int>(m.LParam)); m.Result = 0; break;
    case WM_SETFOCUS: WMSetFocus(); break;
    case WM_KILLFOCUS: WMKillFocus(); break;
    case WM_GETDLGCODE: m.Result = DialogCode(); break;
    case WM_CUT: CutToClipboard(); break;
    case WM_COPY: CopyToClipboard(); break;
    case WM_PASTE: PasteFromClipboard(); break;
    case WM_UNDO: memo_->Undo(); break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      std::uint16_t key = static_cast<std::uint16_t>(m.WParam);
      KeyDown(key, KeyShiftState(m.LParam));
      m.Result = key;
      break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      std::uint16_t key = static_cast<std::uint16_t>(m.WParam);
      KeyUp(key, KeyShiftState(m.LParam));
      m.Result = key;
      break;
    }
    case WM_CHAR: {
      char key = static_cast<char>(m.WParam);
      KeyPress(key);
      m.Result = static_cast<unsigned char>(key);
      break;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      TMouseButton button = m.Msg == WM_LBUTTONDOWN ? mbLeft : m.Msg == WM_RBUTTONDOWN ? mbRight : mbMiddle;
      const int x = SignedLowWord(m.LParam), y = SignedHighWord(m.LParam);
      // A third click soon after a double-click selects the display line.
      if (button == mbLeft && last_double_click_ms_ >= 0 && !memo_->DisplayOnly()) {
        const qint64 since = QDateTime::currentMSecsSinceEpoch() - last_double_click_ms_;
        last_double_click_ms_ = -1;
        if (since <= QApplication::doubleClickInterval() &&
            (QPoint(x, y) - last_double_click_pos_).manhattanLength() <= QApplication::startDragDistance()) {
          MouseDown(button, MouseKeyFlagsToShift(static_cast<int>(m.WParam)), x, y);
          word_drag_ = false;
          pointer_nav_->SetPos(memo_->getSelStart());
          SelectMarginLine(pointer_nav_->GetLineNb());
          break;
        }
      }
      MouseDown(button, MouseKeyFlagsToShift(static_cast<int>(m.WParam)), x, y);
      break;
    }
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK: {
      const int x = SignedLowWord(m.LParam), y = SignedHighWord(m.LParam);
      if (m.Msg == WM_LBUTTONDBLCLK) {
        DblClick();
        last_double_click_ms_ = QDateTime::currentMSecsSinceEpoch();
        last_double_click_pos_ = QPoint(x, y);
      }
      MouseDown(m.Msg == WM_LBUTTONDBLCLK ? mbLeft : mbRight,
                MouseKeyFlagsToShift(static_cast<int>(m.WParam)) | ssDouble, x, y);
      break;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      TMouseButton button = m.Msg == WM_LBUTTONUP ? mbLeft : m.Msg == WM_RBUTTONUP ? mbRight : mbMiddle;
      MouseUp(button, MouseKeyFlagsToShift(static_cast<int>(m.WParam)), SignedLowWord(m.LParam),
              SignedHighWord(m.LParam));
      break;
    }
    case WM_MOUSEMOVE:
      MouseMove(MouseKeyFlagsToShift(static_cast<int>(m.WParam)), SignedLowWord(m.LParam), SignedHighWord(m.LParam));
      break;
    case WM_MOUSEWHEEL: WMMouseWheel(SignedHighWord(m.WParam)); break;
    case WM_SETCURSOR: m.Result = WMSetCursor() ? 1 : 0; break;
    default: break;
  }
}

void TVellMemoControl::CMFontChanged() {
  Measurer();
  const TTextMetric& tm = fonts_.MainFont().Metrics();
  const int lh = memo_->LineHeight();
  baseline_ = lh - tm.tmDescent - 1;
  if (baseline_ < tm.tmHeight - tm.tmInternalLeading - tm.tmDescent) {
    baseline_ = lh - tm.tmInternalLeading;
    if (baseline_ < tm.tmHeight - tm.tmInternalLeading - tm.tmDescent) baseline_ = lh;
  }
  space_width_ = std::max(fonts_.SpaceWidth(), 1);
  chunk_limit_ = 16384 / std::max(tm.tmMaxCharWidth, 1);
  line_bitmap_width_ = ClientWidth();
  memo_->SetTopLeft(0, 0);
  setVScrollParams();
  setHScrollParams();
  if (hasFocus() && !memo_->DisplayOnly()) {
    caret_->Create(GetCaretWidth(), lh);
    caret_->Show();
  }
  SetScrollPos(verticalScrollBar(), memo_->TopOrigin() / std::max(v_unit_, 1));
  SetScrollPos(horizontalScrollBar(), 0);
  if (memo_->OnVScroll) memo_->OnVScroll(memo_);
  Repaint();
  UpdateCaret(false);
}

int TVellMemoControl::DialogCode() const {
  int code = DLGC_WANTARROWS | DLGC_WANTALLKEYS | DLGC_WANTCHARS;
  if (memo_ && memo_->WantTabs() && !memo_->DisplayOnly()) code |= DLGC_WANTTAB;
  return code;
}

void TVellMemoControl::WMSetFocus() {
  if (!memo_->DisplayOnly()) {
    caret_->Create(GetCaretWidth(), memo_->LineHeight());
    UpdateCaret(false);
    PlaceCaret();
    caret_->Show();
  }
  if (memo_->HideSelection() && memo_->getSelLength() != 0 && memo_->UpdateCount() == 0) InvalidateSelection();
}

void TVellMemoControl::WMKillFocus() {
  if (!memo_->DisplayOnly()) caret_->Destroy();
  if (memo_->HideSelection() && memo_->getSelLength() != 0) InvalidateSelection();
}

void TVellMemoControl::InvalidateSelection() {
  scratch_nav_->SetPos(memo_->SelStartNav().Pos());
  const int first = scratch_nav_->GetLineNb();
  scratch_nav_->SetPos(memo_->SelEndNav().Pos());
  memo_->InvalidateLines(first, scratch_nav_->GetLineNb(), false);
}

// ---- scroll bars ----

void TVellMemoControl::setVScrollParams() {
  if (!memo_) return;
  const int lh = std::max(memo_->LineHeight(), 1);
  const std::int64_t total = static_cast<std::int64_t>(memo_->LineCount()) * lh;
  v_unit_ = static_cast<int>(total / 32760 + 1);
  width_changed_ = false;
  const bool wasSetup = scroll_setup_;
  scroll_setup_ = true;
  const bool barOn = scroll_bars_ == ssVertical || scroll_bars_ == ssBoth;
  TScrollInfo info = GetScrollInfo(verticalScrollBar());
  if (barOn) {
    const int clientH = ClientHeight();
    int max = std::max(static_cast<int>(total / v_unit_), clientH - lh - 1);
    if (!memo_->Options().Has(vmoAutoScrollBars) && max < clientH) ++max;
    const int page = std::max((clientH - lh) / v_unit_, 0);
    if (max != info.nMax || page != info.nPage) {
      info.nMin = 0;
      info.nMax = max;
      info.nPage = page;
      info.nPos = memo_->TopOrigin() / v_unit_;
      SetScrollInfo(verticalScrollBar(), info);
    }
  }
  if (ClientWidth() != line_bitmap_width_) {
    width_changed_ = true;
    line_bitmap_width_ = ClientWidth();
    if (memo_->WordWrap() || memo_->Alignment() != taLeftJustify) {
      memo_->Reformat();
      Repaint();
    } else {
      setHScrollParams();
    }
    info = GetScrollInfo(verticalScrollBar());
    if (!(barOn && info.nPage <= info.nMax)) memo_->setTopLine(0);
  }
  scroll_setup_ = wasSetup;
}

void TVellMemoControl::setHScrollParams() {
  if (!memo_) return;
  const std::int64_t widest = static_cast<std::int64_t>(memo_->WidestLine()) + memo_->LeftMargin() + memo_->RightMargin();
  h_unit_ = static_cast<int>(std::max<std::int64_t>(widest, 0) / 32760 + 1);
  const bool wasSetup = scroll_setup_;
  scroll_setup_ = true;
  if (scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth) {
    const int clientW = ClientWidth();
    const int page = std::max((clientW - memo_->LeftMargin() - memo_->RightMargin()) / h_unit_, 0);
    int max = static_cast<int>(std::max<std::int64_t>((widest - clientW) / h_unit_, 0)) + page - 1;
    if (memo_->WordWrap()) max = page - 1;
    if (!memo_->Options().Has(vmoAutoScrollBars)) ++max;
    if (memo_->Alignment() == taRightJustify || memo_->Alignment() == taCenter) max = page;
    SetScrollInfo(horizontalScrollBar(), TScrollInfo{0, max, page, memo_->DisplayLeft() / h_unit_});
    if (max < page && memo_->DisplayLeft() != 0) memo_->setDisplayLeft(0);
  }
  scroll_setup_ = wasSetup;
}

void TVellMemoControl::BarAction(QScrollBar* bar, bool vertical, int action) {
  if (!memo_) return;
  const int code = ScrollCommand(static_cast<QAbstractSlider::SliderAction>(action));
  if (code < 0) return;
  const int pos = bar->sliderPosition();
  Guarded([&] { Perform(vertical ? WM_VSCROLL : WM_HSCROLL, MakeLParam(code, pos), pos); });
  // The bar shows where the memo went, not where the bar meant to go.
  const int unit = std::max(vertical ? v_unit_ : h_unit_, 1);
  bar->setSliderPosition((vertical ? memo_->TopOrigin() : memo_->DisplayLeft()) / unit);
}

void TVellMemoControl::scrollContentsBy(int, int) {
  // Scrolling is driven by the scroll commands, never by the bars' values.
}

void TVellMemoControl::WMVScroll(int code, int pos) {
  if (memo_->UpdateCount() > 0) return;
  const int lh = std::max(memo_->LineHeight(), 1);
  const int page = memo_->VisibleLines();
  const int top = memo_->getTopLine();
  const int count = memo_->LineCount();
  switch (code) {
    case SB_LINEUP:
      if (memo_->TopOrigin() > 0) {
        if (memo_->TopOrigin() % lh != 0) memo_->setTopLine(top);
        else memo_->setTopLine(top - 1);
      }
      break;
    case SB_LINEDOWN:
      if (top < count - page + 2) memo_->setTopLine(top + 1);
      break;
    case SB_PAGEUP: {
      const int from = memo_->FindParOfLine(std::max(top - page + 2, 0));
      memo_->FormatNow(from, memo_->TopNav().GetParNb() - 1, false);
      memo_->setTopLine(std::max(memo_->getTopLine() - page + 2, 0));
      break;
    }
    case SB_PAGEDOWN:
      memo_->setTopLine(std::min(top + page - 1, std::max(count - page + 2, 0)));
      break;
    case SB_THUMBTRACK:
      if (memo_->Options().Has(vmoNoFineScroll))
        memo_->setTopLine(static_cast<int>(std::nearbyint(static_cast<double>(pos) * v_unit_ / lh)));
      else
        memo_->setTopOrigin(pos * v_unit_);
      break;
    default: break;
  }
  UpdateWindow();
}

void TVellMemoControl::WMHScroll(int code, int pos) {
  if (memo_->UpdateCount() > 0) return;
  const int w = ClientWidth();
  const int left = memo_->DisplayLeft();
  switch (code) {
    case SB_LINELEFT: memo_->setDisplayLeft(std::max(left - w / 20 - 1, 0)); break;
    case SB_LINERIGHT: memo_->setDisplayLeft(left + w / 20 + 1); break;
    case SB_PAGELEFT: memo_->setDisplayLeft(std::max(left - (w - w / 20), 0)); break;
    case SB_PAGERIGHT: memo_->setDisplayLeft(left + w - w / 20); break;
    case SB_THUMBTRACK: memo_->setDisplayLeft(pos * h_unit_); break;
    default: break;
  }
  UpdateWindow();
}

void TVellMemoControl::WMMouseWheel(int delta) {
  wheel_remainder_ += delta * memo_->MouseWheelFactor();
  while (wheel_remainder_ < -119) {
    Perform(WM_VSCROLL, SB_LINEDOWN, 0);
    wheel_remainder_ += 120;
  }
  while (wheel_remainder_ >= 120) {
    Perform(WM_VSCROLL, SB_LINEUP, 0);
    wheel_remainder_ -= 120;
  }
}

// ---- caret ----

int TVellMemoControl::GetCaretWidth() {
  TVellNavigator& caret = memo_->CaretNav();
  if (memo_->getSelLength() == 0 && memo_->Overwrite() && memo_->Options().Has(vmoWideOverwriteCaret) &&
      caret.GetOffset() < caret.GetPar()->length)
    return std::max(overwrite_width_, 1);
  const int width = memo_->CaretWidth();
  return width == 0 ? memo_->LineHeight() / 14 + 1 : width;
}

void TVellMemoControl::ComputeCaretXY() {
  // While text is dragged the caret shows the drop point.
  TVellNavigator& caret = text_drag_ ? *pointer_nav_ : memo_->CaretNav();
  const int p = caret.GetParNb();
  EnsureFormatted(p);
  caret_x_ = memo_->ColPos(caret.GetPar(), p, caret.GetColNb(), caret.GetParLine()) +
             (text_drag_ ? 0 : memo_->VirtualCols()) * space_width_;
  caret_y_ = memo_->LinePos(caret.GetLineNb() - memo_->getTopLine());
}

void TVellMemoControl::UpdateCaret(bool recreate) {
  if (!memo_ || memo_->UpdateCount() > 0) return;
  ComputeCaretXY();
  if (hasFocus()) {
    if (memo_->DisplayOnly()) {
      caret_->Destroy();
    } else {
      const int width = GetCaretWidth();
      const QRect want(caret_->Rect().topLeft(), QSize(width, memo_->LineHeight()));
      if (recreate || !caret_->Exists() || caret_->Rect().size() != want.size() ||
          (memo_->Overwrite() && memo_->Options().Has(vmoWideOverwriteCaret))) {
        caret_->Create(width, memo_->LineHeight());
        caret_->Show();
      }
      PlaceCaret();
    }
  }
  // A selection changed by the program repaints where it was and where it is.
  const std::int32_t selA = memo_->SelStartNav().Pos(), selB = memo_->SelEndNav().Pos();
  if ((selA != shown_sel_a_ || selB != shown_sel_b_) && (selA != selB || shown_sel_a_ != shown_sel_b_)) {
    const std::int32_t lo = std::min(selA, shown_sel_a_), hi = std::max(selB, shown_sel_b_);
    scratch_nav_->SetPos(std::clamp(lo, 0, memo_->GetTextLen()));
    const int first = scratch_nav_->GetLineNb();
    scratch_nav_->SetPos(std::clamp(hi, 0, memo_->GetTextLen()));
    memo_->InvalidateLines(first, scratch_nav_->GetLineNb(), false);
  }
  shown_sel_a_ = selA;
  shown_sel_b_ = selB;
  const std::int32_t pos = memo_->getSelStart();
  const int style = memo_->getCurrentStyle();
  if (pos != last_caret_pos_) {
    last_caret_pos_ = pos;
    memo_->Perform(VM_CARETMOVED);
    if (memo_->OnSelMove) memo_->OnSelMove(memo_);
  }
  if (style != last_style_) {
    const bool first = last_style_ < 0;
    last_style_ = style;
    if (!first && memo_->OnStyleChange) memo_->OnStyleChange(memo_);
  }
}

void TVellMemoControl::PlaceCaret() {
  int x = caret_x_;
  if (memo_->WordWrap()) {
    const int wrap = ClientWidth() - memo_->RightMargin();
    if (x >= wrap) x = wrap - 1;
  }
  caret_->SetPos(x, caret_y_);
}

void TVellMemoControl::ScrollCaretInView() { ScrollInView(); }

void TVellMemoControl::ScrollInView() {
  if (!memo_ || memo_->UpdateCount() > 0) return;
  TVellNavigator& caret = memo_->CaretNav();
  EnsureFormatted(caret.GetParNb());
  ComputeCaretXY();
  const int clientW = ClientWidth(), clientH = ClientHeight();
  const int lh = std::max(memo_->LineHeight(), 1);
  int left = memo_->DisplayLeft();
  if (memo_->WordWrap()) {
    left = 0;
  } else if ((memo_->Alignment() == taRightJustify || memo_->Alignment() == taCenter) && left == 0) {
    left = 0;
  } else {
    const int w = std::max(5 * space_width_, 1);
    if (caret_x_ >= clientW) left = ((caret_x_ - clientW) / w + 1) * w + left;
    else if (caret_x_ < 0) left = std::max((caret_x_ / w - 1) * w + left, 0);
  }
  int top = memo_->TopOrigin();
  const int visible = memo_->VisibleLines();
  int topLine = memo_->getTopLine();
  int caretLine = caret.GetLineNb();
  const int caretPar = caret.GetParNb();
  if (topLine < caretLine || (topLine == caretLine && top % lh == 0)) {
    if (caretLine * lh - top > clientH - lh) {
      const int topPar = memo_->TopNav().GetParNb();
      if (topPar + 2 * visible >= caretPar) memo_->FormatNow(topPar, caretPar - 1, false);
      memo_->FormatNow(std::max(caretPar - visible, 0), caretPar - 1, false);
      caretLine = caret.GetLineNb();
      if (memo_->Options().Has(vmoNoFineScroll)) top = std::max(caretLine - visible + 2, 0) * lh;
      else top = (caretLine + 1) * lh - clientH;
    }
  } else {
    const int topPar = memo_->TopNav().GetParNb();
    if (caretPar + visible >= topPar)
      memo_->FormatNow(caretPar + 1, std::min(topPar, caretPar + visible), false);
    top = caret.GetLineNb() * lh;
  }
  memo_->SetTopLeft(std::max(top, 0), left);
  UpdateCaret(false);
}

// ---- Qt events ----

bool TVellMemoControl::event(QEvent* e) {
  if (e->type() == TMessageEvent::EventType()) {
    const gui::TMessage& m = static_cast<TMessageEvent*>(e)->Message();
    Guarded([&] { Perform(m.Msg, m.WParam, m.LParam); });
    return true;
  }
  if (e->type() == QEvent::KeyPress && memo_) {
    auto* ke = static_cast<QKeyEvent*>(e);
    const bool tab = ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab;
    if (tab && !(ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && (DialogCode() & DLGC_WANTTAB)) {
      keyPressEvent(ke);
      return true;
    }
  }
  return QAbstractScrollArea::event(e);
}

bool TVellMemoControl::viewportEvent(QEvent* e) {
  if (e->type() == QEvent::Leave && memo_ && !button_down_ && margin_line_ >= 0) {
    margin_line_ = -1;
    RestoreCursor();
  }
  return QAbstractScrollArea::viewportEvent(e);
}

void TVellMemoControl::paintEvent(QPaintEvent* e) {
  if (!memo_) return;
  QPainter painter(viewport());
  paint_painter_ = &painter;
  paint_rect_ = e->rect();
  in_paint_ = true;
  Guarded([&] { Perform(WM_PAINT, 0, 0); });
  in_paint_ = false;
  paint_painter_ = nullptr;
  caret_->Paint(painter);
}

void TVellMemoControl::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  if (!memo_ || scroll_setup_) return;
  Guarded([&] {
    setHScrollParams();
    setVScrollParams();
    SetScrollPos(verticalScrollBar(), memo_->TopOrigin() / std::max(v_unit_, 1));
    SetScrollPos(horizontalScrollBar(), memo_->DisplayLeft() / std::max(h_unit_, 1));
    UpdateCaret(false);
  });
}

void TVellMemoControl::keyPressEvent(QKeyEvent* e) {
  if (!memo_) return;
  const TShiftState shift = ShiftStateOf(e->modifiers());
  const bool sys = (shift & ssAlt) && !(shift & ssCtrl);
  const std::uint16_t vk = VirtualKeyOf(*e);
  Guarded([&] {
    if (vk != 0) Perform(sys ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, KeyLParam(shift));
    const int c = CharCodeOf(*e);
    if (!sys && c >= 0 && memo_) Perform(WM_CHAR, c, 0);
  });
  e->accept();
}

void TVellMemoControl::keyReleaseEvent(QKeyEvent* e) {
  if (!memo_ || e->isAutoRepeat()) return;
  const TShiftState shift = ShiftStateOf(e->modifiers());
  const std::uint16_t vk = VirtualKeyOf(*e);
  if (vk != 0)
    Guarded([&] { Perform((shift & ssAlt) && !(shift & ssCtrl) ? WM_SYSKEYUP : WM_KEYUP, vk, KeyLParam(shift)); });
  e->accept();
}

void TVellMemoControl::MouseEvent(QMouseEvent* e, std::uint32_t msg) {
  if (!memo_) return;
  const QPoint p = e->position().toPoint();
  Guarded([&] { Perform(msg, MouseKeyFlags(e->modifiers(), e->buttons()), MakeLParam(p.x(), p.y())); });
  e->accept();
}

void TVellMemoControl::mousePressEvent(QMouseEvent* e) {
  MouseEvent(e, e->button() == Qt::LeftButton ? WM_LBUTTONDOWN
                : e->button() == Qt::RightButton ? WM_RBUTTONDOWN
                                                 : WM_MBUTTONDOWN);
}

void TVellMemoControl::mouseReleaseEvent(QMouseEvent* e) {
  MouseEvent(e, e->button() == Qt::LeftButton ? WM_LBUTTONUP
                : e->button() == Qt::RightButton ? WM_RBUTTONUP
                                                 : WM_MBUTTONUP);
}

void TVellMemoControl::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) MouseEvent(e, WM_LBUTTONDBLCLK);
  else if (e->button() == Qt::RightButton) MouseEvent(e, WM_RBUTTONDBLCLK);
  else MouseEvent(e, WM_MBUTTONDOWN);
}

void TVellMemoControl::mouseMoveEvent(QMouseEvent* e) { MouseEvent(e, WM_MOUSEMOVE); }

void TVellMemoControl::wheelEvent(QWheelEvent* e) {
  if (!memo_) return;
  const int delta = e->angleDelta().y();
  if (delta != 0)
    Guarded([&] { Perform(WM_MOUSEWHEEL, MakeLParam(MouseKeyFlags(e->modifiers(), e->buttons()), delta),
            MakeLParam(static_cast<int>(e->globalPosition().x()), static_cast<int>(e->globalPosition().y()))); });
  e->accept();
}

void TVellMemoControl::focusInEvent(QFocusEvent* e) {
  QAbstractScrollArea::focusInEvent(e);
  Guarded([&] { Perform(WM_SETFOCUS); });
}

void TVellMemoControl::focusOutEvent(QFocusEvent* e) {
  Guarded([&] { Perform(WM_KILLFOCUS); });
  QAbstractScrollArea::focusOutEvent(e);
}

void TVellMemoControl::contextMenuEvent(QContextMenuEvent* e) {
  // The right-button release shows the menu (MouseUp).
  e->accept();
}

}  // namespace memo
