// Find, Find Again, Replace, "Highlight words", "Change font", "Wordwrap",
// "Print", the about box: the commands that work on the current page's memo.
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

#include "app/baptisms.h"
#include "app/page_text.h"
#include "app/core/find_replace.h"
#include "app/core/highlight_words.h"
#include "app/small_dialogs.h"
#include "forms/small_dialogs.h"
#include "memo/print/memo_printer.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/text.h"
#include "platform/runtime/exceptions.h"

namespace app {
namespace {

// A selection made backwards becomes the same text selected forwards.
void MakeSelectionForward(memo::TVellMemo& m) {
  const std::int32_t length = m.getSelLength();
  if (length >= 0) return;
  const std::int32_t low = m.getSelStart() + length;
  m.setSelStart(low);
  m.setSelLength(-length);
}

}  // namespace

// ---- find and replace ----

// Shows a modeless dialog over the window, or brings it forward.
static void ShowModeless(QDialog& dialog) {
  dialog.show();
  dialog.raise();
  dialog.activateWindow();
}

void TBaptisms::Find1Click() {
  memo::TVellMemo& m = current_memo_->Memo();
  if (m.getSelLength() != 0) {
    MakeSelectionForward(m);
    find_dialog_->FindText->setText(gui::ToQString(m.getSelText()));
  }
  // The dialog stays open over the page: each "Find Next" finds the next
  // match in whichever page is current.
  if (!find_dialog_->OnButton) find_dialog_->OnButton = [this](int) { FindDialog1Find(); };
  ShowModeless(*find_dialog_);
}

void TBaptisms::FindAgain1Click() {
  if (!find_dialog_->FindText->text().isEmpty()) FindDialog1Find();
}

void TBaptisms::SelectFound(memo::TVellMemoControl& control, bool down) {
  memo::TVellMemo& m = control.Memo();
  // FindTxt leaves the found text selected; searching down the caret
  // stands after it (negative length), searching up before it.
  const std::int32_t length = m.getSelLength() < 0 ? -m.getSelLength() : m.getSelLength();
  const std::int32_t low = m.getSelLength() < 0 ? m.getSelStart() + m.getSelLength() : m.getSelStart();
  if (down) {
    m.setSelStart(low + length);
    m.setSelLength(-length);
  } else {
    m.setSelStart(low);
    m.setSelLength(length);
  }
  control.ScrollInView();
}

bool TBaptisms::FindDialog1Find() {
  if (!current_memo_->isVisible()) return false;
  appcore::FindOptions options;
  options.down = find_dialog_->Down->isChecked();
  options.match_case = find_dialog_->MatchCase->isChecked();
  options.whole_word = find_dialog_->WholeWord->isChecked();
  const std::string text = gui::ToCp1252(find_dialog_->FindText->text());
  if (appcore::FindNext(current_memo_->Memo(), text, options)) {
    SelectFound(*current_memo_, options.down);
    return true;
  }
  prompts_.Beep();
  return false;
}

void TBaptisms::Replace1Click() {
  if (PageBusy()) return;  // the search is still writing the page
  memo::TVellMemo& m = current_memo_->Memo();
  if (m.getSelLength() != 0) {
    MakeSelectionForward(m);
    replace_dialog_->FindText->setText(gui::ToQString(m.getSelText()));
  }
  if (!replace_dialog_->OnButton) {
    replace_dialog_->OnButton = [this](int code) {
      if (code == forms::TReplaceDialogForm::kReplace) ReplaceDialog1Replace(false);
      else if (code == forms::TReplaceDialogForm::kReplaceAll) ReplaceDialog1Replace(true);
      else ReplaceDialogFind();
    };
  }
  ShowModeless(*replace_dialog_);
}

bool TBaptisms::ReplaceDialogFind() {
  if (!current_memo_->isVisible()) return false;
  appcore::FindOptions options;
  options.match_case = replace_dialog_->MatchCase->isChecked();
  options.whole_word = replace_dialog_->WholeWord->isChecked();
  const std::string text = gui::ToCp1252(replace_dialog_->FindText->text());
  if (appcore::FindNext(current_memo_->Memo(), text, options)) {
    SelectFound(*current_memo_, true);
    return true;
  }
  prompts_.Beep();
  return false;
}

int TBaptisms::ReplaceDialog1Replace(bool replace_all) {
  if (PageBusy()) return 0;
  if (!current_memo_->isVisible()) return 0;
  memo::TVellMemo& m = current_memo_->Memo();
  MakeSelectionForward(m);
  appcore::FindOptions options;
  options.match_case = replace_dialog_->MatchCase->isChecked();
  options.whole_word = replace_dialog_->WholeWord->isChecked();
  options.replace_all = replace_all;
  const int count = appcore::ReplaceText(m, gui::ToCp1252(replace_dialog_->FindText->text()),
                                         gui::ToCp1252(replace_dialog_->ReplaceText->text()), options);
  current_memo_->ScrollInView();
  return count;
}

// ---- highlight words ----

void TBaptisms::Highlight1Click() {
  if (PageBusy()) return;  // the search is still writing the page
  memo::TVellMemo& m = current_memo_->Memo();
  memo::TKeywordList& keywords = m.Keywords();
  if (keywords.Count() > 0) password_dlg_->Password->setText(gui::ToQString(appcore::HighlightEditText(PageKeywords(m))));
  if (RunModal(*password_dlg_) != forms::kMrOk) return;  // the keywords stay
  SetPageKeywords(m, appcore::HighlightWordsFor(gui::ToCp1252(password_dlg_->Password->text()),
                                                password_dlg_->RadioButton2->isChecked(), PageParagraphs(m), key_length_));
  prompts_.SetHourglass(true);
  m.ReApplyKeywords();
  prompts_.SetHourglass(false);
  current_memo_->viewport()->update();
}

// ---- fonts, word wrap ----

void TBaptisms::Changefont1Click() {
  memo::TMemoFont font = current_memo_->Memo().Font();
  if (prompts_.ChooseFont(font)) current_memo_->Memo().SetFont(font);
}

void TBaptisms::Wordwrap1Click() {
  // The item's check mark has toggled; the memo follows it.
  current_memo_->Memo().SetWordWrap(Action("Wordwrap1")->isChecked());
}

// ---- printing ----

void TBaptisms::Print1Click() {
  gui::TPrinterSetupDialog setup;
  setup.Parent = this;
  if (!setup.Execute()) return;
  try {
    printer_->setVellMemo(&current_memo_->Memo());
    printer_->Print();
  } catch (const rtl::Exception& e) {
    prompts_.ShowMessage(e.Message());
  } catch (const std::exception& e) {
    prompts_.ShowMessage(e.what());
  }
}

// ---- about box ----

void TBaptisms::Help1Click() { RunModal(*about_box_); }

}  // namespace app
