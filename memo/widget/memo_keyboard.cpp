// The keyboard: KeyDown (movement, selection, Delete, Backspace, Tab,
// Insert, the hot keys and the display-only scrolling keys), KeyPress
// (typed text, Enter with automatic indentation, the clipboard control
// characters) and KeyUp. Every edit goes through the memo's selection
// operations, so undo records it like any other.
#include <QPainter>
#include <algorithm>

#include "memo/widget/memo_control.h"

namespace memo {

using namespace gui;

namespace {

bool IsArrow(std::uint16_t key) { return key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN; }
bool IsBlankOrTab(unsigned char c) { return c == ' ' || c == '\t'; }

}  // namespace

// ---- selection helpers ----

void TVellMemoControl::SetSelection(std::int32_t anchor, std::int32_t caret) {
  const int vcols = memo_->VirtualCols();
  const int rememberedX = memo_->RememberedCaretX;
  const bool block = memo_->HasColumnBlock();
  const int a = memo_->BlockColA(), b = memo_->BlockColB();
  const bool hadSelection = memo_->getSelLength() != 0;
  if (hadSelection && !transient_selection_) InvalidateSelection();
  memo_->setSelStart(caret);
  if (anchor != caret) memo_->setSelLength(anchor - caret);
  memo_->SetVirtualCols(vcols);
  memo_->RememberedCaretX = rememberedX;
  memo_->SetColumnBlock(block, a, b);
  if (block && !transient_selection_) {
    // A block is drawn across the whole lines it spans.
    InvalidateSelection();
  }
}

// The state after a movement key moved the work navigator from oldPos.
void TVellMemoControl::SelectionAfterMove(std::int32_t oldPos, int oldLine, TShiftState shift, bool editKey) {
  const std::int32_t newPos = work_nav_->Pos();
  if (!editKey) {
    if (shift & ssShift) {
      const std::int32_t anchor = oldPos + memo_->getSelLength();
      SetSelection(anchor, newPos);
      scratch_nav_->SetPos(newPos);
      memo_->InvalidateLines(scratch_nav_->GetLineNb(), oldLine, false);
    } else {
      SetSelection(newPos, newPos);
    }
  }
  memo_->SetCaretMoved(true);
  UpdateCaret(false);
  if (memo_->HasColumnBlock()) {
    memo_->SetColumnBlock(true, memo_->BlockColA(),
                          (caret_x_ + memo_->DisplayLeft() - memo_->LeftMargin()) / std::max(space_width_, 1));
    InvalidateSelection();
  }
  ScrollInView();
  UpdateWindow();
}

// The vertical-move rule: the work navigator goes to the target display
// line, at the column nearest to the remembered x.
void TVellMemoControl::VerticalMove(int targetLine, TShiftState shift) {
  // The caret's x counts the virtual columns it stands in: taken before
  // they are cleared, so that the move keeps them.
  ComputeCaretXY();
  memo_->SetVirtualCols(0);
  if (!(shift & ssShift)) memo_->SetColumnBlock(false, memo_->BlockColA(), memo_->BlockColB());
  const TVellMemoOptions options = memo_->Options();
  if (memo_->RememberedCaretX == TVellMemo::kNoCaretX ||
      (!memo_->WordWrap() && options.Has(vmoPutExtraSpaces) && !options.Has(vmoKeepColumnPos)))
    memo_->RememberedCaretX = caret_x_;
  targetLine = std::clamp(targetLine, 0, memo_->LineCount() - 1);
  EnsureFormatted(memo_->FindParOfLine(targetLine));
  work_nav_->SetLineNb(targetLine);
  const int parNb = work_nav_->GetParNb();
  const int column =
      memo_->ColNb(work_nav_->GetPar(), parNb, work_nav_->GetParLine(), memo_->RememberedCaretX,
                   options.Has(vmoKeepColumnPos));
  const int lineInPar = work_nav_->GetParLine();
  work_nav_->SetColNb(column);
  if (memo_->HasColumnBlock() || options.Has(vmoKeepColumnPos)) {
    const ParInfo* par = work_nav_->GetPar();
    const std::int32_t offset = work_nav_->GetOffset();
    const bool atEnd = offset >= par->length;
    const bool onTab = !atEnd && par->text[offset] == '\t';
    if ((atEnd || onTab) && (!(shift & ssShift) || memo_->HasColumnBlock())) {
      const int x = memo_->ColPos(work_nav_->GetPar(), parNb, work_nav_->GetColNb(), lineInPar);
      if (memo_->RememberedCaretX > x)
        memo_->SetVirtualCols((memo_->RememberedCaretX - x) / std::max(space_width_, 1));
    }
  }
}

// ---- KeyDown ----

void TVellMemoControl::KeyDown(std::uint16_t& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
  if (key == 0 || memo_->UpdateCount() > 0) return;
  if (text_drag_) {
    if (key == VK_CONTROL && !outside_) SetScreenCursorShape(LoadCursorResource("DRAGCOPY", 0, 0));
    return;
  }
  if (memo_->DisplayOnly()) {
    KeyDownDisplayOnly(key, shift);
    return;
  }
  const bool ctrl = shift & ssCtrl, alt = shift & ssAlt, sh = shift & ssShift;
  if (ctrl && !alt) {
    style_ref_pos_ = memo_->getSelStart();
    last_style_ = memo_->getCurrentStyle();
    if (!memo_->ReadOnly() && memo_->EnableHotKeys() && HotKey(key, shift)) {
      key = 0;
      return;
    }
  }
  if (key >= '0') return;

  const std::uint16_t k = key;
  key = 0;
  TVellNavigator& caret = memo_->CaretNav();
  const int caretPar = caret.GetParNb();
  memo_->FormatNow(caretPar, caretPar, false);
  const std::int32_t oldPos = caret.Pos();
  int oldLine = caret.GetLineNb();
  work_nav_->SetPos(oldPos);

  if (sh && alt && !ctrl && memo_->Options().Has(vmoBlockSelection) && !memo_->WordWrap() &&
      !memo_->HasColumnBlock() && IsArrow(k)) {
    const int column = caret.GetOffset() + memo_->VirtualCols();
    memo_->SetColumnBlock(true, column, column);
  }
  const bool block = memo_->HasColumnBlock();
  const bool altBlocks = alt && !block;
  const int visible = memo_->VisibleLines();

  switch (k) {
    case VK_TAB:
      if (alt) {
        key = k;
        return;
      }
      if (!memo_->ReadOnly()) memo_->setSelText("\t");
      return;
    case VK_HOME:
    case VK_END:
      if (alt) return;
      HomeEndKey(k == VK_HOME, ctrl);
      break;
    case VK_PRIOR: {
      if (alt) return;
      memo_->FormatNow(std::max(caretPar - visible + 1, 0), caretPar, false);
      oldLine = caret.GetLineNb();
      VerticalMove(std::max(oldLine - visible + 1, 0), shift);
      break;
    }
    case VK_NEXT: {
      if (alt) return;
      memo_->FormatNow(caretPar, std::min(caretPar + visible - 1, memo_->GetParCount() - 1), false);
      oldLine = caret.GetLineNb();
      VerticalMove(std::min(oldLine + visible - 1, memo_->LineCount() - 1), shift);
      break;
    }
    case VK_UP:
    case VK_DOWN:
    case VK_LEFT:
    case VK_RIGHT: {
      if (altBlocks) {
        UpdateCaret(false);
        return;
      }
      const bool moved = k == VK_UP || k == VK_DOWN ? LineUpDown(k == VK_UP, shift, oldLine)
                                                    : LeftRightKey(k == VK_LEFT, shift, oldPos);
      if (!moved) return;
      break;
    }
    case VK_DELETE:
      if (memo_->ReadOnly()) return;
      if (sh && memo_->getSelLength() != 0) {
        CutToClipboard();
        return;
      }
      DeleteKey(shift);
      SelectionAfterMove(oldPos, oldLine, shift, true);
      return;
    case VK_BACK:
      memo_->RememberedCaretX = TVellMemo::kNoCaretX;
      if (memo_->ReadOnly()) return;
      BackspaceKey(shift);
      SelectionAfterMove(oldPos, oldLine, shift, true);
      return;
    case VK_INSERT:
      if (!alt) InsertKey(sh, ctrl);
      return;
    default:
      key = k;
      return;
  }
  SelectionAfterMove(oldPos, oldLine, shift, false);
}

// Home and End move the work navigator to the line's ends, with Ctrl to the
// text's ends.
void TVellMemoControl::HomeEndKey(bool home, bool ctrl) {
  memo_->SetColumnBlock(false, memo_->BlockColA(), memo_->BlockColB());
  memo_->SetVirtualCols(0);
  memo_->RememberedCaretX = TVellMemo::kNoCaretX;
  if (home) {
    if (ctrl) work_nav_->SetPos(0);
    else work_nav_->SetColNb(0);
  } else if (ctrl) {
    work_nav_->SetPos(memo_->GetTextLen());
  } else {
    const ParInfo* par = work_nav_->GetPar();
    const int lineInPar = work_nav_->GetParLine();
    const LineInfo& line = par::Line(*par, lineInPar);
    std::int32_t end = line.end;
    // The end of a wrapped line stays on that line: before its
    // trailing blank rather than at the start of the next line.
    if (lineInPar < par->lineCount - 1 && end > line.start && par->text[end - 1] == ' ') --end;
    work_nav_->SetPos(memo_->ParStart(work_nav_->GetParNb()) + end);
  }
}

// Up or Down by one display line, formatting the paragraph it enters
// first; false when there is no line to go to (Up on the first line is
// offered to OnKeyDown once more).
bool TVellMemoControl::LineUpDown(bool up, TShiftState shift, int& oldLine) {
  TVellNavigator& caret = memo_->CaretNav();
  const int caretPar = caret.GetParNb();
  if (up) {
    if (oldLine == 0) {
      std::uint16_t again = VK_UP;
      if (OnKeyDown) OnKeyDown(this, again, shift);
      return false;
    }
    if (caret.GetParLine() == 0 && caretPar > 0) {
      memo_->FormatNow(caretPar - 1, caretPar - 1, false);
      oldLine = caret.GetLineNb();
    }
    VerticalMove(oldLine - 1, shift);
    return true;
  }
  if (oldLine >= memo_->LineCount() - 1) return false;
  if (caret.GetParLine() == caret.GetPar()->lineCount - 1 && caretPar + 1 < memo_->GetParCount()) {
    memo_->FormatNow(caretPar + 1, caretPar + 1, false);
    oldLine = caret.GetLineNb();
  }
  VerticalMove(oldLine + 1, shift);
  return true;
}

// Left or Right by one character (with Ctrl a word); without Shift the
// selection and the column block go first. false when the caret could not
// move (Left is then offered to OnKeyDown once more).
bool TVellMemoControl::LeftRightKey(bool left, TShiftState shift, std::int32_t oldPos) {
  if (!(shift & ssShift)) {
    memo_->SetColumnBlock(false, memo_->BlockColA(), memo_->BlockColB());
    if (memo_->getSelLength() != 0) SetSelection(oldPos, oldPos);
  }
  memo_->RememberedCaretX = TVellMemo::kNoCaretX;
  if (left ? MoveLeft(shift) : MoveRight(shift)) return true;
  if (left) {
    std::uint16_t again = VK_LEFT;
    if (OnKeyDown) OnKeyDown(this, again, shift);
  }
  UpdateCaret(false);
  return false;
}

// Insert: Shift pastes, Ctrl copies, alone it toggles overwrite.
void TVellMemoControl::InsertKey(bool shift, bool ctrl) {
  if (shift && !memo_->ReadOnly()) {
    PasteFromClipboard();
  } else if (ctrl) {
    CopyToClipboard();
  } else if (memo_->Options().Has(vmoInsertKeyActive)) {
    SetOverwrite(!memo_->Overwrite());
    if (memo_->OnStyleChange) memo_->OnStyleChange(memo_);
  }
}

bool TVellMemoControl::KeyDownDisplayOnly(std::uint16_t key, TShiftState shift) {
  const bool ctrl = shift & ssCtrl;
  const int top = memo_->getTopLine();
  const int lastTop = std::max(0, memo_->LineCount() - memo_->VisibleLines() + 1);
  const int rightLimit = std::max(0, memo_->WidestLine() + memo_->RightMargin() - ClientWidth());
  const int left = memo_->DisplayLeft();
  const int step = std::max(h_unit_, 1);
  switch (key) {
    case VK_PRIOR: memo_->setTopLine(ctrl ? 0 : std::max(top - 1, 0)); return true;
    case VK_NEXT: memo_->setTopLine(ctrl ? lastTop : std::min(top + 1, lastTop)); return true;
    case VK_UP: memo_->setTopLine(std::max(top - 1, 0)); return true;
    case VK_DOWN: memo_->setTopLine(std::min(top + 1, lastTop)); return true;
    case VK_HOME: memo_->setDisplayLeft(0); return true;
    case VK_END: memo_->setDisplayLeft(rightLimit); return true;
    case VK_LEFT: memo_->setDisplayLeft(std::max(left - step, 0)); return true;
    case VK_RIGHT: memo_->setDisplayLeft(std::min(left + step, rightLimit)); return true;
    default: return false;
  }
}

bool TVellMemoControl::HotKey(std::uint16_t key, TShiftState shift) {
  switch (key) {
    case 'B': memo_->SetBold(); return true;
    case 'I': memo_->SetItalic(); return true;
    case 'U': memo_->SetUnderline(); return true;
    case 'H': memo_->SetHighlight(); return true;
    case 'F': memo_->SetAltFont(); return true;
    case 'T': memo_->setSelText("\t"); return true;
    case 'P': memo_->setSelText("\r\n\x10\r\n"); return true;
    case 'Z':
      if (shift & ssShift) memo_->Redo();
      else memo_->Undo();
      return true;
    case 'Y':  // the redo key every Windows editor has
      memo_->Redo();
      return true;
    default: return false;
  }
}

// ---- Left and Right ----

bool TVellMemoControl::MoveLeft(TShiftState shift) {
  const std::int32_t pos = work_nav_->Pos();
  const TCharSet& delimiters = memo_->Delimiters();
  auto isBreak = [&](unsigned char c) { return c == 13 || c == 10 || delimiters.test(c); };
  if (pos == 0 && memo_->VirtualCols() == 0) return false;
  if (shift & ssCtrl) {
    memo_->SetVirtualCols(0);
    std::int32_t p = pos;
    while (p > 0 && delimiters.test(memo_->getChar(p - 1))) --p;
    if (p > 0 && memo_->getChar(p - 1) == 10) {
      p = std::max(p - 2, 0);
    } else {
      while (p > 0 && !isBreak(memo_->getChar(p - 1))) --p;
    }
    work_nav_->SetPos(p);
    return true;
  }
  if (memo_->VirtualCols() > 0) {
    memo_->SetVirtualCols(memo_->VirtualCols() - 1);
    return true;
  }
  const bool block = memo_->HasColumnBlock();
  const int parNb = work_nav_->GetParNb();
  const std::int32_t parStart = memo_->ParStart(parNb);
  std::int32_t offset = pos - parStart;
  bool toPrevious = offset == 0;
  if (offset > 0) {
    --offset;
    const ParInfo& par = *memo_->Pars().At(parNb);
    if (memo_->PassOverCodes() && memo_->StaticFormat())
      while (offset > 0 && IsStyleCode(static_cast<unsigned char>(par.text[offset]))) --offset;
    if (offset == 0 && memo_->StaticFormat() && IsStyleCode(static_cast<unsigned char>(par.text[0])) &&
        memo_->PassOverCodes())
      toPrevious = true;
    work_nav_->SetPos(parStart + offset);
  }
  if (toPrevious && !block) {
    if (parNb == 0) {
      if (pos == 0) return false;
      work_nav_->SetPos(0);
      return true;
    }
    const ParInfo& prev = *memo_->Pars().At(parNb - 1);
    std::int32_t end = prev.length;
    if (memo_->Options().Has(vmoDiscardTrailingSpaces))
      while (end > 0 && IsBlankOrTab(static_cast<unsigned char>(prev.text[end - 1]))) --end;
    work_nav_->SetPos(memo_->ParStart(parNb - 1) + end);
  }
  return work_nav_->Pos() != pos || toPrevious;
}

bool TVellMemoControl::MoveRight(TShiftState shift) {
  const std::int32_t pos = work_nav_->Pos();
  const std::int32_t len = memo_->GetTextLen();
  const TCharSet& delimiters = memo_->Delimiters();
  auto isBreak = [&](unsigned char c) { return c == 13 || c == 10 || delimiters.test(c); };
  if (shift & ssCtrl) {
    memo_->SetVirtualCols(0);
    std::int32_t p = pos;
    if (p < len && memo_->getChar(p) == 13) {
      p = std::min(p + 2, len);
    } else {
      std::int32_t q = p;
      while (q < len && !isBreak(memo_->getChar(q))) ++q;
      if (q == p && q < len && memo_->getChar(q) == 13) q = std::min(q + 2, len);
      while (q < len && delimiters.test(memo_->getChar(q))) ++q;
      p = q;
    }
    work_nav_->SetPos(p);
    return p != pos;
  }
  const bool block = memo_->HasColumnBlock();
  const TVellMemoOptions options = memo_->Options();
  const ParInfo* par = work_nav_->GetPar();
  const std::int32_t parStart = memo_->ParStart(work_nav_->GetParNb());
  if (pos - parStart >= par->length &&
      (block || (options.Has(vmoKeepColumnPos) && !options.Has(vmoWrapCaret)))) {
    memo_->SetVirtualCols(memo_->VirtualCols() + 1);
    return true;
  }
  if (pos >= len) return false;
  memo_->SetVirtualCols(0);
  std::int32_t p = pos;
  const std::int32_t parEnd = parStart + par->length;
  if (memo_->StaticFormat() && memo_->PassOverCodes())
    while (p < parEnd && IsStyleCode(memo_->getChar(p))) ++p;
  if (options.Has(vmoDiscardTrailingSpaces) && !block) {
    std::int32_t q = p;
    while (q < parEnd && IsBlankOrTab(memo_->getChar(q))) ++q;
    if (q == parEnd) p = q;
  }
  if (p < len) p = memo_->getChar(p) == 13 ? std::min(p + 2, len) : p + 1;
  work_nav_->SetPos(p);
  return true;
}

// ---- Delete and Backspace ----

void TVellMemoControl::RemoveRange(std::int32_t start, std::int32_t stop) {
  if (stop <= start) return;
  transient_selection_ = true;
  memo_->setSelStart(start);
  memo_->setSelLength(stop - start);
  transient_selection_ = false;
  memo_->ClearSelection();
}

void TVellMemoControl::DeleteKey(TShiftState shift) {
  const std::int32_t pos = memo_->getSelStart();
  const std::int32_t selLength = memo_->getSelLength();
  const int oldX = caret_x_;
  TVellNavigator& caret = memo_->CaretNav();
  const int parNb = caret.GetParNb();
  const std::int32_t parStart = memo_->ParStart(parNb);
  const ParInfo& par = *caret.GetPar();
  if (shift & ssShift) {
    if (selLength != 0) {
      CutToClipboard();
      return;
    }
    if (pos > 0) RemoveRange(pos - (pos == parStart ? 2 : 1), pos);
  } else if (shift & ssCtrl) {
    const std::int32_t a = memo_->SelStartNav().Pos(), b = memo_->SelEndNav().Pos();
    scratch_nav_->SetPos(a);
    const int line = scratch_nav_->GetLineNb();
    const int lineInPar = scratch_nav_->GetParLine();
    const std::int32_t lineEnd =
        memo_->ParStart(scratch_nav_->GetParNb()) + par::Line(*scratch_nav_->GetPar(), lineInPar).end;
    scratch_nav_->SetPos(b);
    if (scratch_nav_->GetLineNb() == line) RemoveRange(a, std::max(lineEnd, b));
    else memo_->ClearSelection();
  } else if (selLength != 0) {
    memo_->ClearSelection();
  } else {
    const std::int32_t offset = pos - parStart;
    std::int32_t stop;
    if (offset >= par.length) {
      stop = parNb + 1 < memo_->GetParCount() ? pos + 2 : pos;
    } else {
      std::int32_t o = offset;
      if (memo_->StaticFormat())
        while (o < par.length && IsStyleCode(static_cast<unsigned char>(par.text[o]))) ++o;
      if (o >= par.length) stop = parStart + par.length + (parNb + 1 < memo_->GetParCount() ? 2 : 0);
      else stop = parStart + o + 1;
    }
    RemoveRange(pos, stop);
  }
  if (memo_->Options().Has(vmoKeepColumnPos) && selLength == 0) {
    ComputeCaretXY();
    if (oldX > caret_x_) memo_->SetVirtualCols((oldX - caret_x_) / std::max(space_width_, 1));
  }
}

int TVellMemoControl::LeadingBlanks(const std::string& line) const {
  int n = 0;
  while (n < static_cast<int>(line.size()) && IsBlankOrTab(static_cast<unsigned char>(line[n]))) ++n;
  return n;
}

void TVellMemoControl::BackspaceKey(TShiftState shift) {
  const std::int32_t pos = memo_->getSelStart();
  if (memo_->getSelLength() != 0) {
    memo_->ClearSelection();
    return;
  }
  TVellNavigator& caret = memo_->CaretNav();
  const int parNb = caret.GetParNb();
  const std::int32_t parStart = memo_->ParStart(parNb);
  const TCharSet& delimiters = memo_->Delimiters();
  auto isBreak = [&](unsigned char c) { return c == 13 || c == 10 || delimiters.test(c); };
  if (shift & ssCtrl) {
    if (pos <= parStart) return;
    std::int32_t q = pos - 1;
    while (q > parStart && isBreak(memo_->getChar(q))) --q;
    while (q > parStart && !isBreak(memo_->getChar(q - 1))) --q;
    RemoveRange(q, pos);
    return;
  }
  if (pos == parStart && memo_->VirtualCols() == 0) {
    if (parNb > 0) RemoveRange(pos - 2, pos);
    return;
  }
  std::int32_t start = pos;
  if (memo_->Options().Has(vmoBackIndent)) {
    const int c = memo_->getSelCol();
    const int selLine = memo_->getSelLine();
    const int n = LeadingBlanks(memo_->getLines(selLine));
    if (c > 0 && n == c) {
      int nPrime = 0;
      for (int i = selLine - 1; i >= 0; --i) {
        const int lead = LeadingBlanks(memo_->getLines(i));
        if (lead < c) {
          nPrime = lead;
          break;
        }
      }
      start = std::max(pos - (c - nPrime), parStart);
    }
  }
  if (start == pos) {
    if (memo_->VirtualCols() > 0) {
      memo_->SetVirtualCols(memo_->VirtualCols() - 1);
      return;
    }
    start = pos - 1;
    while (start > 0 && memo_->StaticFormat() && IsStyleCode(memo_->getChar(start))) {
      scratch_nav_->SetPos(start);
      start -= scratch_nav_->GetOffset() == 0 ? 2 : 1;
    }
    start = std::max(start, 0);
  }
  RemoveRange(start, pos);
}

// ---- KeyPress and KeyUp ----

void TVellMemoControl::KeyPress(char& key) {
  if (OnKeyPress) OnKeyPress(this, key);
  const unsigned char c = static_cast<unsigned char>(key);
  if (c == 0 || memo_->UpdateCount() > 0 || text_drag_ || memo_->DisplayOnly() || (memo_->ReadOnly() && c != 3))
    return;
  if (c >= 31 && c != 127) {
    TVellNavigator& caret = memo_->CaretNav();
    const bool noSelection = memo_->getSelLength() == 0;
    const bool atParEnd = caret.GetOffset() >= caret.GetPar()->length;
    const TVellMemoOptions options = memo_->Options();
    if (memo_->Overwrite() && noSelection && !atParEnd) {
      memo_->setSelLength(1);
      memo_->setSelText(std::string(1, key));
    } else if (c == ' ' && noSelection && atParEnd && options.Has(vmoDiscardTrailingSpaces) &&
               options.Has(vmoKeepColumnPos)) {
      memo_->SetVirtualCols(memo_->VirtualCols() + 1);
      UpdateCaret(false);
      ScrollInView();
    } else {
      memo_->setSelText(std::string(1, key));
    }
  } else {
    switch (c) {
      case 3: CopyToClipboard(); break;
      case 5:
        Repaint();
        memo_->CheckIntegrity();
        break;
      case 13: EnterKey(); break;
      case 22: PasteFromClipboard(); break;
      case 24: CutToClipboard(); break;
      default: break;
    }
  }
  if (!key_released_) UpdateWindow();
  else key_released_ = false;
}

void TVellMemoControl::EnterKey() {
  const bool noSelection = memo_->getSelLength() == 0;
  if (memo_->Overwrite() && noSelection) {
    const int line = memo_->getSelLine();
    if (line < memo_->LineCount() - 1) {
      memo_->setSelLine(line + 1);
      ScrollInView();
    } else {
      memo_->setSelStart(memo_->GetTextLen());
      memo_->setSelText("\r\n");
    }
    return;
  }
  if (!noSelection || !memo_->Options().Has(vmoAutoIndent)) {
    memo_->setSelText("\r\n");
    return;
  }
  int index = memo_->getSelLine();
  std::string line = memo_->getLines(index);
  while (line.empty() && index > 0) line = memo_->getLines(--index);
  const int n = std::min(LeadingBlanks(line), memo_->getSelCol());
  TVellNavigator& caret = memo_->CaretNav();
  if (memo_->Options().Has(vmoDiscardTrailingSpaces) && caret.GetOffset() >= caret.GetPar()->length) {
    memo_->setSelText("\r\n");
    int columns = 0;
    for (int i = 0; i < n; ++i) columns += line[i] == '\t' ? memo_->TabStops() : 1;
    memo_->SetVirtualCols(columns);
    UpdateCaret(false);
    ScrollInView();
  } else {
    memo_->setSelText("\r\n" + line.substr(0, n));
  }
}

void TVellMemoControl::KeyUp(std::uint16_t& key, TShiftState shift) {
  key_released_ = true;
  if (OnKeyUp) OnKeyUp(this, key, shift);
  if (text_drag_ && key == VK_CONTROL && !outside_) SetScreenCursor(crDrag);
}

}  // namespace memo
