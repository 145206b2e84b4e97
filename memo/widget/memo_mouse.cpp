// The mouse: caret placement, Shift+click, drag selection, line selection
// in the left margin, word selection by double-click and word dragging,
// column blocks with Alt+drag, moving and copying the selection by drag
// and drop, automatic scrolling beyond the edges (on a timer: no nested
// event loop), the wheel, the cursors and context clicks on keywords.
#include <QApplication>
#include <QMenu>
#include <algorithm>

#include "memo/highlighter.h"
#include "memo/widget/memo_control.h"
#include "platform/gui/clipboard.h"
#include "platform/gui/exceptions.h"

namespace memo {

using namespace gui;

namespace {

QPoint g_last_pointer;

// The delay before the next automatic scroll step, by scroll level.
int StepDelay(int level) {
  static const int kDelays[] = {0, 400, 300, 200, 130, 78, 48, 30};
  const int ms = level >= 1 && level <= 7 ? kDelays[level] : 0;
  return std::max(ms, 10);  // never a busy loop
}

const QCursor& RightArrowCursor() {
  static const QCursor cursor = LoadCursorResource("VMRIGHTARROW", 15, 0);
  return cursor;
}

const QCursor& DragCopyCursor() {
  static const QCursor cursor = LoadCursorResource("DRAGCOPY", 0, 0);
  return cursor;
}

}  // namespace

QPoint LastMemoPointerPos() { return g_last_pointer; }

void TVellMemoControl::SaveCursor() {
  if (cursor_saved_) return;
  saved_cursor_ = cursor_;
  cursor_saved_ = true;
}

void TVellMemoControl::RestoreCursor() {
  if (!cursor_saved_) return;
  cursor_saved_ = false;
  cursor_ = saved_cursor_;
  SetControlCursor(viewport(), cursor_);
}

bool TVellMemoControl::WMSetCursor() {
  if (margin_line_ < 0) return false;
  viewport()->setCursor(RightArrowCursor());
  return true;
}

// The pointer navigator at client point (x, y).
void TVellMemoControl::PointerAt(int x, int y) {
  const int lh = std::max(memo_->LineHeight(), 1);
  const int top = memo_->getTopLine();
  const int lastLine = memo_->LineCount() - 1;
  int line = std::max(memo_->LineNb(std::max(y, 0)) + top, 0);
  line = std::min(line, top + memo_->VisibleLines() - 1);
  line = std::min(line, lastLine);
  EnsureFormatted(memo_->FindParOfLine(line));
  line = std::min(line, memo_->LineCount() - 1);
  const int lastBottom = memo_->LineCount() * lh - memo_->TopOrigin();
  if (line == memo_->LineCount() - 1 && y >= lastBottom) {
    pointer_nav_->SetPos(memo_->GetTextLen());
    return;
  }
  pointer_nav_->SetLineNb(line);
  const int column = memo_->ColNb(pointer_nav_->GetPar(), pointer_nav_->GetParNb(), pointer_nav_->GetParLine(), x,
                                  memo_->Options().Has(vmoKeepColumnPos));
  pointer_nav_->SetColNb(column);
}

void TVellMemoControl::SelectMarginLine(int line) {
  line = std::clamp(line, 0, memo_->LineCount() - 1);
  EnsureFormatted(memo_->FindParOfLine(line));
  scratch_nav_->SetLineNb(line);
  const int parNb = scratch_nav_->GetParNb();
  const ParInfo& par = *scratch_nav_->GetPar();
  const LineInfo& info = par::Line(par, scratch_nav_->GetParLine());
  const std::int32_t start = memo_->ParStart(parNb) + info.start;
  std::int32_t length = info.end - info.start;
  if (scratch_nav_->GetParLine() == par.lineCount - 1 && parNb < memo_->GetParCount() - 1) length += 2;
  SetSelection(start + length, start);
}

void TVellMemoControl::SelectWord(bool widenEnd) {
  const TCharSet& delimiters = memo_->Delimiters();
  auto isBreak = [&](unsigned char c) { return c == 13 || c == 10 || delimiters.test(c); };
  const std::int32_t len = memo_->GetTextLen();
  const bool caretIsStart = memo_->getSelLength() >= 0;
  std::int32_t s = memo_->SelStartNav().Pos();
  std::int32_t e = memo_->SelEndNav().Pos();
  while (s > 0 && s < len && isBreak(memo_->getChar(s))) --s;
  while (s > 0 && !isBreak(memo_->getChar(s - 1))) --s;
  if (widenEnd)
    while (e < len && !isBreak(memo_->getChar(e))) ++e;
  if (memo_->Options().Has(vmoLargeWordSelect))
    while (e < len && delimiters.test(memo_->getChar(e))) ++e;
  if (caretIsStart) SetSelection(e, s);
  else SetSelection(s, e);
}

// ---- MouseDown ----

void TVellMemoControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
  if (!memo_) return;
  if (button == mbLeft && memo_->UpdateCount() == 0) {
    PointerAt(x, y);
    memo_->SetColumnBlock(false, memo_->BlockColA(), memo_->BlockColB());
    press_pos_ = pointer_nav_->Pos();
    memo_->RememberedCaretX = TVellMemo::kNoCaretX;
    if (!memo_->DisplayOnly()) {
      button_down_ = true;
      if (!word_drag_) {
        memo_->SetVirtualCols(0);
        if (over_selection_ && !memo_->ReadOnly()) {
          text_drag_ = true;
          outside_ = false;
          SetScreenCursor(crDrag);
          UpdateCaret(false);
        } else {
          const TVellMemoOptions options = memo_->Options();
          if (margin_line_ < 0) {
            const bool block = shift == (ssAlt | ssLeft) && options.Has(vmoBlockSelection) && !memo_->WordWrap();
            work_nav_->SetPos(pointer_nav_->Pos());
            int vcols = 0;
            const ParInfo* par = work_nav_->GetPar();
            const std::int32_t offset = work_nav_->GetOffset();
            const bool atEnd = offset >= par->length;
            const bool onTab = !atEnd && par->text[offset] == '\t';
            const int lastBottom = memo_->LineCount() * memo_->LineHeight() - memo_->TopOrigin();
            if ((options.Has(vmoKeepColumnPos) || block) && (atEnd || onTab) && y < lastBottom) {
              const int colX = memo_->ColPos(work_nav_->GetPar(), work_nav_->GetParNb(), work_nav_->GetColNb(),
                                             work_nav_->GetParLine());
              vcols = std::max(x - colX, 0) / std::max(space_width_, 1);
            }
            memo_->SetVirtualCols(vcols);
            if (shift & ssShift) {
              const std::int32_t anchor = memo_->getSelStart() + memo_->getSelLength();
              const int oldLine = memo_->CaretNav().GetLineNb();
              SetSelection(anchor, work_nav_->Pos());
              memo_->InvalidateLines(memo_->CaretNav().GetLineNb(), oldLine, false);
            } else {
              SetSelection(work_nav_->Pos(), work_nav_->Pos());
            }
            memo_->SetVirtualCols(vcols);
            if (block) memo_->SetColumnBlock(true, 0, 0);
          } else {
            SelectMarginLine(margin_line_);
          }
          memo_->SetCaretMoved(true);
          UpdateCaret(false);
          if (memo_->HasColumnBlock()) {
            const int column = (caret_x_ + memo_->DisplayLeft() - memo_->LeftMargin()) / std::max(space_width_, 1);
            memo_->SetColumnBlock(true, column, column);
          }
          style_ref_pos_ = memo_->getSelStart();
          style_ref_vcols_ = memo_->VirtualCols();
        }
      }
    }
  }
  if (!hasFocus()) setFocus(Qt::MouseFocusReason);
}

void TVellMemoControl::DblClick() {
  if (memo_ && !memo_->DisplayOnly()) {
    word_drag_ = true;
    SelectWord(true);
    UpdateCaret(false);
  }
  if (OnDblClick) OnDblClick(this);
}

// ---- MouseMove ----

void TVellMemoControl::MouseMove(TShiftState shift, int x, int y) {
  g_last_pointer = QPoint(x, y);
  if (memo_->UpdateCount() > 0) {
    if (OnMouseMove) OnMouseMove(this, shift, x, y);
    return;
  }
  const int lh = std::max(memo_->LineHeight(), 1);
  const bool dragging = button_down_ && (shift & ssLeft);
  int py = y;
  if (dragging) py = std::min(y, memo_->LineCount() * lh - memo_->TopOrigin() - 1);
  PointerAt(x, py);
  const std::int32_t ptr = pointer_nav_->Pos();

  if (!button_down_) {
    HoverAt(x, ptr);
  } else if (dragging) {
    TrackAutoScroll(x, y);
    if (margin_line_ >= 0) DragMarginLines();
    else if (text_drag_) DragTextOver(shift, x, y);
    else DragSelection(x, ptr);
  }
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}

// No button held: the margin's line cursor, the arrow over a selection that
// can be dragged, or a keyword's own cursor.
void TVellMemoControl::HoverAt(int x, std::int32_t ptr) {
  const TVellMemoOptions options = memo_->Options();
  const bool inMargin = !options.Has(vmoNoLineSelection) && x < memo_->LeftMargin() - 2 - memo_->DisplayLeft();
  if (inMargin) {
    const bool entering = margin_line_ < 0;
    margin_line_ = pointer_nav_->GetLineNb();
    if (entering) {
      SaveCursor();
      PostMessage(this, WM_SETCURSOR, 0, HTCLIENT);
    }
    over_selection_ = false;
    keyword_cursor_ = false;
  } else {
    if (margin_line_ >= 0) {
      margin_line_ = -1;
      RestoreCursor();
    }
    if (!options.Has(vmoNoDragnDrop)) {
      const bool over = memo_->SelStartNav().Pos() <= ptr && ptr < memo_->SelEndNav().Pos() &&
                        !memo_->HasColumnBlock() && !memo_->ReadOnly() && !memo_->DisplayOnly();
      if (over && !over_selection_) {
        SaveCursor();
        cursor_ = crArrow;
        SetControlCursor(viewport(), crArrow);
        over_selection_ = true;
      } else if (!over && over_selection_) {
        over_selection_ = false;
        RestoreCursor();
      }
    }
    if (!over_selection_) {
      const ParInfo* par = pointer_nav_->GetPar();
      const std::int32_t offset = pointer_nav_->GetOffset();
      const bool atTextEnd = ptr >= memo_->GetTextLen();
      const DynInfoRec* run = !atTextEnd && offset < par->length ? &par::StateOfChar(*par, offset) : nullptr;
      if (run && (run->flags & kRunStyled) && run->cursor != crDefault) {
        SaveCursor();
        cursor_ = run->cursor;
        SetControlCursor(viewport(), run->cursor);
        keyword_cursor_ = true;
      } else if (keyword_cursor_) {
        keyword_cursor_ = false;
        RestoreCursor();
      }
    }
  }
}

// Dragging beyond the client's edges scrolls, faster the farther out.
void TVellMemoControl::TrackAutoScroll(int x, int y) {
  const int clientW = ClientWidth(), clientH = ClientHeight();
  TMouseScrollType state = msNoScroll;
  int level = 0;
  if (x < 0) state = msLeft, level = -x / 3;
  if (x > clientW) state = msRight, level = (x - clientW) / 3;
  if (y < -3) state = msUp, level = -y / 3;
  if (y > clientH) state = msDown, level = (y - clientH) / 3;
  if (text_drag_) {
    if (x <= -24 || x >= clientW + 24 || y >= clientH + 24 || y <= -27) state = msNoScroll;
    if ((state == msUp || state == msDown) && (x < -3 || x > clientW + 3)) state = msNoScroll;
  }
  if (!auto_scroll_step_) {
    const TMouseScrollType before = scroll_state_;
    scroll_state_ = state;
    scroll_level_ = level;
    if (state == msNoScroll) auto_scroll_timer_.stop();
    else if (state != before) StartAutoScroll();
  }
}

// A drag that started in the margin selects whole lines from the line
// pressed to the one under the pointer.
void TVellMemoControl::DragMarginLines() {
  const int line = pointer_nav_->GetLineNb();
  if (line < margin_line_) {
    scratch_nav_->SetLineNb(line);
    const std::int32_t start = memo_->ParStart(scratch_nav_->GetParNb()) +
                               par::Line(*scratch_nav_->GetPar(), scratch_nav_->GetParLine()).start;
    SetSelection(memo_->SelEndNav().Pos(), start);
  } else if (line > margin_line_) {
    scratch_nav_->SetLineNb(margin_line_);
    const std::int32_t start = memo_->ParStart(scratch_nav_->GetParNb()) +
                               par::Line(*scratch_nav_->GetPar(), scratch_nav_->GetParLine()).start;
    std::int32_t end = memo_->GetTextLen();
    if (line + 1 < memo_->LineCount()) {
      EnsureFormatted(memo_->FindParOfLine(line + 1));
      scratch_nav_->SetLineNb(line + 1);
      end = memo_->ParStart(scratch_nav_->GetParNb()) +
            par::Line(*scratch_nav_->GetPar(), scratch_nav_->GetParLine()).start;
    }
    SetSelection(start, end);
  } else {
    SelectMarginLine(margin_line_);
  }
  UpdateCaret(false);
}

// Dropping text: the cursor shows whether it would land inside.
void TVellMemoControl::DragTextOver(TShiftState shift, int x, int y) {
  const int clientW = ClientWidth(), clientH = ClientHeight();
  const bool inside = x >= 0 && y >= 0 && x < clientW && y < clientH;
  if (inside) {
    if (outside_) {
      outside_ = false;
      if (shift & ssCtrl) SetScreenCursorShape(DragCopyCursor());
      else SetScreenCursor(crDrag);
    }
    UpdateCaret(false);
  } else if (scroll_state_ == msNoScroll && !outside_) {
    outside_ = true;
    SetScreenCursor(crNoDrop);
  }
}

// A drag in the text moves the selection's caret end (by whole words after
// a double click; beyond the line end as blanks in a column block).
void TVellMemoControl::DragSelection(int x, std::int32_t ptr) {
  int vcols = 0;
  if (memo_->HasColumnBlock()) {
    const int colX = memo_->ColPos(pointer_nav_->GetPar(), pointer_nav_->GetParNb(), pointer_nav_->GetColNb(),
                                   pointer_nav_->GetParLine());
    vcols = std::max(x - colX, 0) / std::max(space_width_, 1);
  }
  const std::int32_t caretPos = memo_->getSelStart();
  if (ptr != caretPos || vcols != memo_->VirtualCols()) {
    const std::int32_t anchor = caretPos + memo_->getSelLength();
    const int oldLine = memo_->CaretNav().GetLineNb();
    memo_->SetVirtualCols(vcols);
    SetSelection(anchor, ptr);
    memo_->InvalidateLines(memo_->CaretNav().GetLineNb(), oldLine, false);
  }
  if (memo_->getSelStart() != style_ref_pos_ || memo_->VirtualCols() != style_ref_vcols_) {
    style_ref_pos_ = memo_->getSelStart();
    style_ref_vcols_ = memo_->VirtualCols();
    UpdateCaret(false);
    if (memo_->HasColumnBlock()) {
      memo_->SetColumnBlock(true, memo_->BlockColA(),
                            (caret_x_ + memo_->DisplayLeft() - memo_->LeftMargin()) / std::max(space_width_, 1));
      InvalidateSelection();
    }
  }
  if (word_drag_) {
    if (ptr > press_pos_) {
      const std::int32_t s = std::min(memo_->SelStartNav().Pos(), press_pos_);
      SetSelection(s, ptr);
      SelectWord(ptr >= memo_->SelEndNav().Pos());
    } else {
      const std::int32_t e = std::max(memo_->SelEndNav().Pos(), press_pos_);
      SetSelection(e, ptr);
      SelectWord(ptr >= memo_->SelEndNav().Pos());
    }
  }
}

void TVellMemoControl::StartAutoScroll() {
  auto_scroll_timer_.start(0);  // the first step comes at once
}

void TVellMemoControl::AutoScrollStep() {
  if (!memo_ || scroll_state_ == msNoScroll || !button_down_) return;
  const int clientW = ClientWidth(), clientH = ClientHeight();
  const int level = scroll_level_;
  int x = g_last_pointer.x(), y = g_last_pointer.y();
  switch (scroll_state_) {
    case msUp:
      if (memo_->getTopLine() > 0) Perform(WM_VSCROLL, SB_LINEUP, 0);
      y = -3 * level;
      break;
    case msDown:
      if (memo_->getTopLine() <= memo_->LineCount() - memo_->VisibleLines()) Perform(WM_VSCROLL, SB_LINEDOWN, 0);
      y = clientH + 3 * level;
      break;
    case msLeft:
      if (memo_->DisplayLeft() > 0) Perform(WM_HSCROLL, SB_LINELEFT, 0);
      x = -3 * level;
      break;
    case msRight:
      if (memo_->WidestLine() - clientW > memo_->DisplayLeft()) Perform(WM_HSCROLL, SB_LINERIGHT, 0);
      x = clientW + 3 * level;
      break;
    default: break;
  }
  const QPoint real = g_last_pointer;
  auto_scroll_step_ = true;
  MouseMove(ssLeft, x, y);
  auto_scroll_step_ = false;
  g_last_pointer = real;
  if (scroll_state_ != msNoScroll && button_down_) auto_scroll_timer_.start(StepDelay(level));
}

// ---- MouseUp ----

void TVellMemoControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (word_drag_) UpdateCaret(false);
  button_down_ = false;
  word_drag_ = false;
  scroll_state_ = msNoScroll;
  auto_scroll_timer_.stop();
  if (button == mbRight) {
    over_selection_ = false;
    RestoreCursor();
  }
  g_last_pointer = QPoint(x, y);
  if (memo_->UpdateCount() > 0) {
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
    return;
  }

  if (text_drag_) {
    text_drag_ = false;
    SetScreenCursor(crDefault);
    RestoreCursor();
    const bool inside = x >= 0 && y >= 0 && x < ClientWidth() && y < ClientHeight();
    if (inside) {
      PointerAt(x, y);
      const std::int32_t drop = pointer_nav_->Pos();
      const std::int32_t a = memo_->SelStartNav().Pos(), b = memo_->SelEndNav().Pos();
      if (drop >= a && drop <= b) {
        memo_->setSelStart(drop);
      } else {
        const std::string text = memo_->GetTextPart(a, std::min(b, a + 2147483547));
        const bool copy = shift & ssCtrl;
        memo_->BeginUpdate();
        std::int32_t at = drop;
        try {
          if (!copy) {
            memo_->ClearSelection();
            if (drop > b) at -= b - a;
          }
          memo_->setSelStart(at);
          memo_->SetSelTextBuf(text.c_str());
          if (!copy) memo_->LinkLastUndoStep();
        } catch (...) {
          memo_->EndUpdate();
          throw;
        }
        memo_->EndUpdate();
        memo_->setSelStart(at + static_cast<std::int32_t>(text.size()));
        memo_->setSelLength(-static_cast<std::int32_t>(text.size()));
      }
    }
    UpdateCaret(false);
    ScrollInView();
    over_selection_ = false;
    MouseMove(shift & ~ssLeft, x, y);
    if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
    return;
  }

  PointerAt(x, y);
  const std::int32_t ptr = pointer_nav_->Pos();
  bool context = false;
  if (ptr == press_pos_ || button == mbRight) {
    const ParInfo* par = pointer_nav_->GetPar();
    const std::int32_t offset = pointer_nav_->GetOffset();
    if (ptr < memo_->GetTextLen() && offset < par->length) {
      const int runIndex = par::RunsUpTo(*par, offset);
      const DynInfoRec& run = par::StateBefore(*par, runIndex);
      const bool listeners = memo_->OnContext || memo_->AttachedCount() > 0 || memo_->Highlighter();
      if ((run.flags & kRunStyled) && run.context != 0 && listeners) {
        context = true;
        // The keyword's extent: back to the run start, on to the run end.
        const std::int32_t parStart = memo_->ParStart(pointer_nav_->GetParNb());
        const std::int32_t from = runIndex > 0 ? par->runs[runIndex - 1].offset : 0;
        const std::int32_t to = runIndex < par->runCount ? par->runs[runIndex].offset : par->length;
        std::string word(par->text + from, to - from);
        if (memo_->AttachedCount() > 0 || memo_->Highlighter()) {
          memo_->Perform(button == mbRight ? VM_CONTEXTRIGHT : VM_CONTEXTLEFT, run.context,
                         reinterpret_cast<std::intptr_t>(&word));
          if (memo_->Highlighter())
            memo_->Highlighter()->Notification(memo_, static_cast<rtl::TOperation>(kMessageNotification));
        }
        if (memo_->OnContext) memo_->OnContext(memo_, run.context, parStart + from, parStart + to);
        if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
      }
    }
  }
  if (!context && OnMouseUp) OnMouseUp(this, button, shift, x, y);
  // A right click opens the control's popup menu on a keyword too (the
  // keyword is where a user clicks after selecting lines); the default
  // menu stands in for a missing one only off keywords.
  if (button == mbRight && (popup_menu_ || !context)) {
    QMenu* menu = popup_menu_ ? popup_menu_ : CreatePopupMenu();
    if (menu) {
      if (menu == default_popup_) PopupClickHandler(menu);
      menu->popup(viewport()->mapToGlobal(QPoint(x, y)));
    }
  }
  if (!memo_->DisplayOnly()) ScrollInView();
}

// ---- the default context menu ----

QMenu* TVellMemoControl::CreatePopupMenu() {
  if (default_popup_) return default_popup_;
  default_popup_ = new QMenu(this);
  const char* items[] = {"&Undo", "&Redo", "-", "Cu&t", "&Copy", "&Paste", "-", "&Select all"};
  for (const char* caption : items) {
    if (caption[0] == '-') {
      default_popup_->addSeparator();
      continue;
    }
    QAction* action = default_popup_->addAction(QString::fromLatin1(caption));
    connect(action, &QAction::triggered, this, [this, action] { Guarded([&] { PopupClickHandler(action); }); });
  }
  connect(default_popup_, &QMenu::aboutToShow, this, [this] { PopupClickHandler(default_popup_); });
  return default_popup_;
}

void TVellMemoControl::PopupClickHandler(QObject* sender) {
  if (!default_popup_ || !memo_) return;
  const QList<QAction*> actions = default_popup_->actions();
  const bool selection = memo_->getSelLength() != 0;
  const bool editable = !memo_->ReadOnly() && !memo_->DisplayOnly();
  if (sender == default_popup_) {
    actions[0]->setEnabled(memo_->getCanUndo());
    actions[1]->setEnabled(memo_->getCanRedo());
    actions[3]->setEnabled(selection && editable);
    actions[4]->setEnabled(selection);
    actions[5]->setEnabled(Clipboard().HasText() && editable);
    return;
  }
  switch (actions.indexOf(static_cast<QAction*>(sender))) {
    case 0: memo_->Undo(); break;
    case 1: memo_->Redo(); break;
    case 3: CutToClipboard(); break;
    case 4: CopyToClipboard(); break;
    case 5: PasteFromClipboard(); break;
    case 7: memo_->SelectAll(); break;
    default: break;
  }
}

}  // namespace memo
