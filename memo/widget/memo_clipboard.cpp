// The memo's clipboard exchange: plain text, and column blocks marked by a
// private format whose data is the block's text with a terminating zero.
#include <algorithm>

#include "memo/widget/memo_control.h"
#include "platform/gui/clipboard.h"
#include "platform/runtime/strings.h"

namespace memo {

unsigned TVellMemoControl::BlockClipboardFormat() {
  static const unsigned format = gui::RegisterClipboardFormat("Quorvane Memo Column Block");
  return format;
}

void TVellMemoControl::CopyToClipboard() {
  if (!memo_ || memo_->getSelLength() == 0) return;
  if (memo_->HasColumnBlock()) {
    const std::string text = memo_->SelectedBlockText();
    gui::Clipboard().SetTextWithFormat(text, BlockClipboardFormat(), text + '\0');
  } else {
    gui::Clipboard().SetText(memo_->GetTextPart(memo_->SelStartNav().Pos(), memo_->SelEndNav().Pos()));
  }
}

void TVellMemoControl::CutToClipboard() {
  if (!memo_ || memo_->getSelLength() == 0) return;
  CopyToClipboard();
  memo_->ClearSelection();
}

void TVellMemoControl::PasteFromClipboard() {
  if (!memo_ || !gui::Clipboard().HasText()) return;
  std::string text = gui::Clipboard().GetText();
  // Zero bytes never stand in the memo's text.
  const char replacement = memo_->NullReplacement();
  if (replacement) std::replace(text.begin(), text.end(), '\0', replacement);
  else text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  memo_->SetCaretMoved(true);
  if (gui::Clipboard().HasFormat(BlockClipboardFormat())) InsertBlock(text);
  else memo_->setSelText(text);
  memo_->SetCaretMoved(true);
}

void TVellMemoControl::InsertBlock(const std::string& text) {
  rtl::TStringList lines;
  lines.SetText(text);
  memo_->BeginUpdate();
  try {
    ComputeCaretXY();
    const int column = std::max((caret_x_ + memo_->DisplayLeft() - memo_->LeftMargin()) / std::max(space_width_, 1), 0);
    const int firstPar = memo_->CaretNav().GetParNb();
    for (int i = 0; i < lines.Count(); ++i) {
      const int parNb = firstPar + i;
      while (parNb >= memo_->GetParCount()) {
        memo_->setSelStart(memo_->GetTextLen());
        memo_->setSelText("\r\n");
      }
      const ParInfo& par = *memo_->Pars().At(parNb);
      int beyond = 0;
      const int offset =
          OffsetOfColumn(par.text, 0, par.length, column, memo_->TabStops(), memo_->StaticFormat(), &beyond);
      memo_->setSelStart(memo_->ParStart(parNb) + offset);
      memo_->setSelText(std::string(std::max(beyond, 0), ' ') + lines.Strings(i));
    }
  } catch (...) {
    memo_->EndUpdate();
    throw;
  }
  memo_->EndUpdate();
  if (memo_->UpdateCount() == 0) ScrollInView();
}

}  // namespace memo
