#include "memo/memo_strings.h"

#include "memo/vell_memo.h"

namespace memo {

void TVellMemoStrings::Assign(const rtl::TPersistent* source) {
  if (auto* strings = dynamic_cast<const rtl::TStrings*>(source)) {
    if (strings == this) return;
    rtl::TMemoryStream stream;
    strings->SaveToStream(stream);
    stream.SetPosition(0);
    memo_->LoadFromStream(stream);
    return;
  }
  rtl::TStrings::Assign(source);
}

void TVellMemoStrings::Clear() { memo_->Clear(); }
void TVellMemoStrings::LoadFromStream(rtl::TStream& stream) { memo_->LoadFromStream(stream); }
void TVellMemoStrings::SaveToStream(rtl::TStream& stream) const { memo_->SaveToStream(stream); }
std::string TVellMemoStrings::GetTextStr() const { return memo_->GetTextPart(0, memo_->GetTextLen()); }

void TVellMemoStrings::SetTextStr(std::string_view text) { memo_->SetText(text); }

void TVellMemoStrings::SetUpdateState(bool updating) {
  if (updating) memo_->BeginUpdate();
  else memo_->EndUpdate();
}

int TVellMemoStrings::AddParagraph(const std::string& s) {
  const int last = memo_->GetParCount() - 1;
  if (memo_->Pars().At(last)->length == 0) memo_->setParagraphs(last, s + "\r\n");
  else memo_->setParagraphs(memo_->GetParCount(), s);
  return memo_->GetParCount() - 1;
}

// ---- paragraphs ----

int TVellParaStrings::GetCount() const {
  int count = memo_->GetParCount();
  if (memo_->Pars().At(count - 1)->length == 0) --count;
  return count;
}

std::string TVellParaStrings::Get(int index) const { return memo_->getParagraphs(index); }
void TVellParaStrings::Put(int index, const std::string& s) { memo_->setParagraphs(index, s); }
int TVellParaStrings::Add(const std::string& s) { return AddParagraph(s); }

void TVellParaStrings::Delete(int index) {
  const ParInfo& p = *memo_->Pars().GetPointer(index);
  memo_->setSelLength(0);
  memo_->setSelPar(index);
  bool last = index == memo_->GetParCount() - 1;
  memo_->setSelLength(last ? p.length : p.length + 2);
  memo_->ClearSelection();
}

void TVellParaStrings::Insert(int index, const std::string& s) {
  memo_->setSelLength(0);
  if (index >= memo_->GetParCount()) {
    memo_->setSelStart(memo_->GetTextLen());
    memo_->setSelText("\r\n" + s);
  } else {
    memo_->setSelPar(index);
    memo_->setSelText(s + "\r\n");
  }
}

// ---- display lines ----

int TVellLinesStrings::GetCount() const {
  int count = memo_->LineCount();
  const ParInfo& last = *memo_->Pars().At(memo_->GetParCount() - 1);
  const LineInfo& line = par::Line(last, last.lineCount - 1);
  if (line.start == line.end) --count;
  return count;
}

std::string TVellLinesStrings::Get(int index) const { return memo_->getLines(index); }

void TVellLinesStrings::SelectLine(int index) {
  std::string text = memo_->getLines(index);
  memo_->setSelLength(0);
  memo_->setSelLine(index);
  memo_->setSelLength(static_cast<std::int32_t>(text.size()));
}

void TVellLinesStrings::Put(int index, const std::string& s) {
  if (index < 0 || index >= memo_->LineCount()) return;
  SelectLine(index);
  memo_->setSelText(s);
}

void TVellLinesStrings::Delete(int index) {
  if (index < 0 || index >= GetCount()) return;
  SelectLine(index);
  TVellNavigator& end = memo_->SelEndNav();
  const ParInfo* p = end.GetPar();
  if (p && end.GetOffset() == p->length) memo_->setSelLength(memo_->getSelLength() + 2);
  memo_->ClearSelection();
}

int TVellLinesStrings::Add(const std::string& s) {
  AddParagraph(s);
  memo_->setSelStart(memo_->GetTextLen());
  return memo_->LineCount() - 1;
}

void TVellLinesStrings::Insert(int index, const std::string& s) {
  if (index < 0 || index > memo_->LineCount()) return;
  memo_->setSelLength(0);
  if (index == memo_->LineCount()) {
    memo_->setSelStart(memo_->GetTextLen());
    memo_->setSelText("\r\n" + s);
  } else {
    memo_->setSelLine(index);
    memo_->setSelText(s + "\r\n");
  }
}

}  // namespace memo
