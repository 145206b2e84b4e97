// TVellMemo: construction, properties, messages, text access, selection,
// search, undo replay and the integrity check.
#include "memo/vell_memo.h"

#include <algorithm>
#include <cstring>

#include "memo/highlighter.h"
#include "memo/line_breaker.h"
#include "memo/memo_strings.h"

namespace memo {

int ProgressInterval = 300;


TVellMemo::TVellMemo(rtl::TComponent* owner) : rtl::TComponent(owner) {
  ResetToOneEmptyParagraph();
  sel_start_ = std::make_unique<TVellNavigator>(this);
  sel_end_ = std::make_unique<TVellNavigator>(this);
  caret_ = sel_start_.get();
  top_nav_ = std::make_unique<TVellNavigator>(this);
  for (auto& nav : work_) nav = std::make_unique<TVellNavigator>(this);
  line_nav_ = std::make_unique<TVellNavigator>(this);
  for (auto& nav : scratch_) nav = std::make_unique<TVellNavigator>(this);
  keywords_ = std::make_unique<TKeywordList>();
  start_stop_keys_ = std::make_unique<TStartStopKeyList>();
  delimiters_ = CharSetOf("\t $%&,./:;<=>");
  lines_ = std::make_unique<TVellLinesStrings>(this);
  paragraphs_ = std::make_unique<TVellParaStrings>(this);
  line_height_ = std::abs(font_.Height) + 1;
}

TVellMemo::~TVellMemo() {
  if (poster_) poster_->Cancel(this);
  if (highlighter_) {
    auto& list = highlighter_->memos_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    highlighter_ = nullptr;
  }
  // Navigators still registered are detached, not freed: their owners
  // free them.
  for (TVellNavigator* nav : navigators_) {
    nav->memo_ = nullptr;
    nav->par_ = nullptr;
    if (nav->lines_) nav->lines_->SetPar(nullptr);
  }
  navigators_.clear();
  pars_.FreeAll();
}

// ---- window, messages, attached components ----

void TVellMemo::AttachWindow(TMemoWindow* window) {
  if (window_ == window) return;
  window_ = window;
  if (window_) {
    view_.client_width = window_->ClientWidth();
    view_.client_height = window_->ClientHeight();
    if (auto_line_height_ && window_->FontLineHeight() > 0) line_height_ = window_->FontLineHeight();
    widest_width_ = 0;
    Reformat();
  } else {
    // Back to one display line per paragraph.
    for (int i = 0; i < pars_.Count(); ++i) pars_.At(i)->formatted = false;
    FormatNow(0, pars_.Count() - 1, true);
  }
}

std::intptr_t TVellMemo::Perform(std::uint32_t msg, std::intptr_t wparam, std::intptr_t lparam) {
  TMessage m{msg, wparam, lparam, 0};
  WndProc(m);
  return m.Result;
}

void TVellMemo::WndProc(TMessage& message) {
  last_message_ = message;
  bool sawNil = false;
  for (std::size_t i = 0; i < attached_.size(); ++i) {
    rtl::TComponent* c = attached_[i];
    if (!c) {
      sawNil = true;
      continue;
    }
    c->Notification(this, static_cast<rtl::TOperation>(kMessageNotification));
  }
  if (sawNil) attached_.erase(std::remove(attached_.begin(), attached_.end(), nullptr), attached_.end());
  if (message.Msg == CM_FONTCHANGED && window_ && auto_line_height_ && window_->FontLineHeight() > 0)
    line_height_ = window_->FontLineHeight();
  if (window_) window_->Dispatch(message);
  if (message.Msg == VM_UPDATEBKG) {
    bg_posted_ = false;
    BackgroundSlice(message.WParam != 0);
  }
}

void TVellMemo::AttachComponent(rtl::TComponent* component) {
  if (component && std::find(attached_.begin(), attached_.end(), component) == attached_.end())
    attached_.push_back(component);
}

void TVellMemo::DetachComponent(rtl::TComponent* component) {
  for (auto& c : attached_)
    if (c == component) c = nullptr;
}

int TVellMemo::AttachedCount() const {
  return static_cast<int>(std::count_if(attached_.begin(), attached_.end(), [](auto* c) { return c; }));
}

void TVellMemo::Change() {
  if (AttachedCount() > 0) Perform(CM_TEXTCHANGED);
  if (OnChange) OnChange(this);
}

int TVellMemo::ColPos(ParInfo* par, int parNb, int column, int lineInPar) {
  if (!par) par = pars_.GetPointer(parNb);
  if (window_) return window_->ColPos(*par, parNb, column, lineInPar);
  return left_margin_ - view_.display_left;
}

int TVellMemo::ColNb(ParInfo* par, int parNb, int lineInPar, int x, bool keepTab) {
  if (!par) par = pars_.GetPointer(parNb);
  if (window_) return window_->ColNb(*par, parNb, lineInPar, x, keepTab);
  return 0;
}

int TVellMemo::LinePos(int row) {
  return view_.RowTop(row, line_height_);
}

int TVellMemo::LineNb(int y) {
  return view_.RowAt(y, line_height_);
}

// ---- navigator registry ----

void TVellMemo::RegisterNav(TVellNavigator* nav) { navigators_.push_back(nav); }

void TVellMemo::UnregisterNav(TVellNavigator* nav) {
  auto it = std::find(navigators_.begin(), navigators_.end(), nav);
  if (it != navigators_.end()) navigators_.erase(it);
}

void TVellMemo::InvalidateAllNavs() {
  for (TVellNavigator* nav : navigators_) nav->Invalidate();
}

int TVellMemo::FindParOfPos(std::int32_t pos) const {
  const int count = pars_.Count();
  if (count <= 1 || text_len_ <= 0 || pos <= 0) return 0;
  if (pos >= text_len_) return count - 1;
  int guess = static_cast<int>(static_cast<std::int64_t>(count - 1) * pos / text_len_);
  guess = std::clamp(guess, 0, count - 1);
  auto contains = [&](int p) {
    return pars_.Start(p) <= pos && (p == count - 1 || pars_.Start(p + 1) > pos);
  };
  for (int p = std::max(guess - 2, 0); p <= std::min(guess + 2, count - 1); ++p)
    if (contains(p)) return p;
  int lo = 0, hi = count - 1;  // last paragraph whose start is at or before pos
  while (lo < hi) {
    int mid = lo + (hi - lo + 1) / 2;
    if (pars_.Start(mid) <= pos) lo = mid; else hi = mid - 1;
  }
  return lo;
}

int TVellMemo::FindParOfLine(int line) const {
  const int count = pars_.Count();
  if (count <= 1 || line <= 0) return 0;
  if (line >= line_count_) return count - 1;
  int guess = static_cast<int>(static_cast<std::int64_t>(count - 1) * line / std::max(line_count_, 1));
  guess = std::clamp(guess, 0, count - 1);
  auto contains = [&](int p) {
    return pars_.FirstLine(p) <= line && (p == count - 1 || pars_.FirstLine(p + 1) > line);
  };
  for (int p = std::max(guess - 2, 0); p <= std::min(guess + 2, count - 1); ++p)
    if (contains(p)) return p;
  int lo = 0, hi = count - 1;
  while (lo < hi) {
    int mid = lo + (hi - lo + 1) / 2;
    if (pars_.FirstLine(mid) <= line) lo = mid; else hi = mid - 1;
  }
  return lo;
}

// ---- text model helpers ----

void TVellMemo::ClearModel() {
  pars_.FreeAll();
  pars_.SetCapacity(4);
  text_len_ = 0;
  line_count_ = 0;
  InvalidateAllNavs();
  undo_.Clear();
  up_text_.clear();
  widest_width_ = 0;
  widest_par_ = -1;
  last_parsed_ = -1;
  formatted_up_to_ = 0;
  bg_next_ = 0;
  bg_last_ = -1;
  mod_first_line_ = mod_first_par_ = mod_last_par_ = -1;
}

void TVellMemo::ResetToOneEmptyParagraph() {
  pars_.FreeAll();
  pars_.SetCapacity(4);
  pars_.Add(par::MakeEmpty());
  text_len_ = 0;
  line_count_ = 1;
}

std::uint8_t TVellMemo::StyleAtParStart(int index) const {
  return static_cast<std::uint8_t>(pars_.At(index)->line0.startStyle);
}

void TVellMemo::SetParLines(int index, int newCount) {
  ParInfo& p = *pars_.At(index);
  int delta = newCount - p.lineCount;
  if (delta == 0) return;
  par::SetLineCount(p, newCount);
  line_count_ += delta;
  pars_.ShiftFirstLines(index + 1, delta);
}

// ---- properties ----

void TVellMemo::SetAlignment(TAlignment value) {
  if (value == alignment_) return;
  TAlignment old = alignment_;
  alignment_ = value;
  view_.display_left = 0;
  if (!word_wrap_ && (old != taLeftJustify || value != taLeftJustify)) RefreshDisplay();
  else if (window_) window_->Repaint();
}

void TVellMemo::SetWordWrap(bool value) {
  if (value == word_wrap_) return;
  word_wrap_ = value;
  RefreshDisplay();
  view_.display_left = 0;
  if (window_) window_->ScrollRangesChanged();
}

rtl::TStrings* TVellMemo::Lines() { return lines_.get(); }
void TVellMemo::SetLines(const rtl::TStrings& lines) { lines_->Assign(&lines); }
rtl::TStrings* TVellMemo::Paragraphs() { return paragraphs_.get(); }

void TVellMemo::SetFont(const TMemoFont& font) {
  if (font == font_) return;
  font_ = font;
  if (auto_line_height_) line_height_ = std::abs(font_.Height) + 1;
  Perform(CM_FONTCHANGED);
  RefreshDisplay();
}

void TVellMemo::SetAltFont(const TMemoFont& font) {
  alt_font_ = font;
  RefreshDisplay();
}

void TVellMemo::SetColor(TColor value) {
  color_ = value;
  if (window_) window_->Repaint();
}

void TVellMemo::SetApplyKeywords(bool value) {
  if (value == apply_keywords_) return;
  apply_keywords_ = value;
  if (ComponentState() & rtl::csDesigning) ReApplyKeywords();
}

void TVellMemo::SetApplyStartStopKeys(bool value) {
  if (value == apply_start_stop_keys_) return;
  apply_start_stop_keys_ = value;
  if (ComponentState() & rtl::csDesigning) ReApplyKeywords();
}

void TVellMemo::SetCaretWidth(int value) {
  caret_width_ = value;
  if (window_) window_->CaretChanged();
}

void TVellMemo::SetHighlightBackgnd(TColor value) {
  highlight_backgnd_ = value;
  if (window_) window_->Repaint();
}

void TVellMemo::SetHighlightColor(TColor value) {
  highlight_color_ = value;
  if (window_) window_->Repaint();
}

void TVellMemo::SetHighlighter(TVellHighlighter* highlighter) {
  if (highlighter == highlighter_) return;
  if (highlighter_) {
    auto& list = highlighter_->memos_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  highlighter_ = highlighter;
  if (highlighter_) highlighter_->memos_.push_back(this);
  if (ComponentState() & (rtl::csLoading | rtl::csDesigning)) ReApplyKeywords();
}

void TVellMemo::SetJustified(bool value) {
  if (value == justified_) return;
  justified_ = value;
  view_.display_left = 0;
  if (window_) window_->Repaint();
}

void TVellMemo::SetLeftMargin(int value) {
  if (value == left_margin_) return;
  left_margin_ = value;
  RefreshDisplay();
}

void TVellMemo::SetRightMargin(int value) {
  if (value == right_margin_) return;
  right_margin_ = value;
  RefreshDisplay();
}

void TVellMemo::SetLineHeight(int value) {
  if (value >= 1) {
    auto_line_height_ = false;
    line_height_ = value;
  } else {
    auto_line_height_ = true;
    int fromWindow = window_ ? window_->FontLineHeight() : 0;
    line_height_ = fromWindow > 0 ? fromWindow : std::abs(font_.Height) + 1;
  }
  Perform(CM_FONTCHANGED);
}

void TVellMemo::SetOptions(TVellMemoOptions value) {
  if (value == options_) return;
  bool discard = value.Has(vmoDiscardTrailingSpaces) && !options_.Has(vmoDiscardTrailingSpaces);
  options_ = value;
  if (discard) {
    bool modified = Modified;
    rtl::TMemoryStream stream;
    SaveToStream(stream);
    stream.SetPosition(0);
    LoadFromStream(stream);
    Modified = modified;
    return;
  }
  if (window_) window_->Repaint();
}

void TVellMemo::setDelimiters(const TCharSet& value) {
  delimiters_ = value;
  start_stop_keys_->InvalidateBounds();
  if (ComponentState() & rtl::csDesigning) ReApplyKeywords();
}

void TVellMemo::SetStaticFormat(bool value) {
  if (value == static_format_) return;
  rtl::TMemoryStream stream;
  SaveToStream(stream);
  static_format_ = value;
  stream.SetPosition(0);
  LoadFromStream(stream);
}

void TVellMemo::SetTabStops(int value) {
  if (value == tab_stops_) return;
  tab_stops_ = value;
  RefreshDisplay();
}

void TVellMemo::SetUpperCaseType(TvmUpperCase value) {
  upper_case_type_ = value;
  keywords_->setUpperCaseType(value);
  start_stop_keys_->setUpperCaseType(value);
  if (ComponentState() & rtl::csDesigning) ReApplyKeywords();
}

void TVellMemo::SetUpdateMode(TUpdateMode value) {
  if (value == update_mode_) return;
  update_mode_ = value;
  if (!window_) return;
  if (value == umImmediate && bg_last_ >= 0) {
    FormatNow(bg_next_, bg_last_, false);
    bg_next_ = pars_.Count();
    bg_last_ = -1;
  } else if (value == umBackground) {
    BackgroundSlice(true);
  }
}

// ---- text ----

void TVellMemo::Clear() { SetTextBuf(""); }

void TVellMemo::ClearSelection() { setSelText(""); }

void TVellMemo::SelectAll() {
  setSelStart(text_len_);
  setSelLength(-text_len_);
}

void TVellMemo::SetTextBuf(const char* text) {
  if (text_len_ == 0 && pars_.Count() == 1 && (!text || !*text)) return;
  Modified = true;
  rtl::TStringStream stream(text ? std::string_view(text) : std::string_view());
  LoadFromStream(stream);
}

void TVellMemo::SetText(std::string_view text) {
  // Read in place: the paragraphs are the only copy made.
  text = text.substr(0, std::min(text.find('\0'), text.size()));
  if (text_len_ == 0 && pars_.Count() == 1 && text.empty()) return;
  Modified = true;
  rtl::TViewStream stream(text);
  LoadFromStream(stream);
}

int TVellMemo::GetTextBuf(char* buffer, int size) {
  if (size <= 0) return 0;
  TVellNavigator& nav = *scratch_[0];
  nav.SetPos(0);
  return nav.GetTextBuf(buffer, std::min(text_len_, size - 1));
}

int TVellMemo::GetSelTextBuf(char* buffer, int size) {
  if (size <= 0) return 0;
  TVellNavigator& nav = *scratch_[0];
  nav.SetPos(sel_start_->Pos());
  return nav.GetTextBuf(buffer, std::min(sel_end_->Pos() - sel_start_->Pos(), size - 1));
}

std::string TVellMemo::GetTextPart(std::int32_t start, std::int32_t stop) {
  start = std::max(start, 0);
  stop = std::min(stop, text_len_);
  if (start >= stop) return std::string();
  std::string out(static_cast<std::size_t>(stop - start) + 1, '\0');
  TVellNavigator& nav = *scratch_[0];
  nav.SetPos(start);
  int n = nav.GetTextBuf(out.data(), stop - start);
  out.resize(n);
  return out;
}

std::unique_ptr<char[]> TVellMemo::GetTextPartBuf(std::int32_t start, std::int32_t stop) {
  if (start > stop) return nullptr;
  std::string part = GetTextPart(start, stop);
  auto buffer = std::make_unique<char[]>(part.size() + 1);
  std::memcpy(buffer.get(), part.c_str(), part.size() + 1);
  return buffer;
}

unsigned char TVellMemo::getChar(std::int32_t pos) {
  TVellNavigator& nav = *scratch_[0];
  nav.SetPos(std::clamp(pos, 0, text_len_));
  return nav.GetText();
}

std::string TVellMemo::getCurrentWord() {
  ParInfo& p = *caret_->GetPar();
  std::int32_t offset = std::min(caret_->GetOffset(), p.length);
  std::int32_t end = offset;
  while (end < p.length && !delimiters_.test(static_cast<unsigned char>(p.text[end]))) ++end;
  std::int32_t start = offset;
  while (start > 0 && !delimiters_.test(static_cast<unsigned char>(p.text[start - 1]))) --start;
  return std::string(p.text ? p.text + start : "", end - start);
}

TExtFontStyles TVellMemo::AttrToExtFontStyles(std::uint8_t staticStyles, std::uint8_t runAttr) const {
  return MergeStyles(staticStyles, runAttr, font_.Style);
}

TExtFontStyles TVellMemo::getCurrentStyle() {
  EnsureParsed(caret_->GetParNb());
  return AttrToExtFontStyles(caret_->GetStyle(), caret_->GetpDynInfo()->flags);
}

std::string TVellMemo::getParagraphs(int index) { return std::string(ParagraphView(index)); }

std::string_view TVellMemo::ParagraphView(int index) const {
  const ParInfo& p = *pars_.GetPointer(index);
  return p.text ? std::string_view(p.text, static_cast<size_t>(p.length)) : std::string_view();
}

void TVellMemo::setParagraphs(int index, const std::string& text) {
  std::string copy(text.c_str());
  setParsBuf(index, copy.c_str());
}

void TVellMemo::setParsBuf(int index, const char* text) {
  if (index < 0) throw rtl::ERangeError(rtl::kListIndexError);
  UndoAction action(undo_);
  if (caret_->GetParNb() == index) setSelStart(pars_.Start(index));
  std::int32_t caretPos = getSelStart();
  std::int32_t selLength = getSelLength();
  int caretPar = caret_->GetParNb();
  replacing_par_ = true;
  ++update_count_;
  while (index >= pars_.Count()) {
    setSelStart(text_len_);
    SetSelTextBuf("\r\n");
  }
  std::int32_t oldLength = pars_.At(index)->length;
  setSelStart(pars_.Start(index));
  setSelLength(oldLength);
  SetSelTextBuf(text);
  replacing_par_ = false;
  --update_count_;
  if (update_count_ == 0) EndUpdateRefresh();
  if (index < caretPar) caretPos += pars_.At(index)->length - oldLength;
  setSelStart(std::clamp(caretPos, 0, text_len_));
  if (index != caretPar) setSelLength(selLength);
}

std::string TVellMemo::getLines(int index) {
  if (index < 0 || index >= line_count_) return std::string();
  int p = FindParOfLine(index);
  if (!pars_.At(p)->formatted) {
    FormatNow(formatted_up_to_ <= p ? formatted_up_to_ : p, p, false);
    if (index >= line_count_) return std::string();
    p = FindParOfLine(index);
  }
  const ParInfo& par = *pars_.At(p);
  int inPar = std::clamp(index - pars_.FirstLine(p), 0, par.lineCount - 1);
  const LineInfo& line = par::Line(par, inPar);
  return std::string(par.text ? par.text + line.start : "", line.end - line.start);
}

std::int32_t TVellMemo::getParsOffset(int index) const {
  pars_.GetPointer(index);
  return pars_.Start(index);
}

TColor TVellMemo::getParBackgnd(int index) const { return pars_.GetPointer(index)->background; }
TColor TVellMemo::getParForegnd(int index) const { return pars_.GetPointer(index)->foreground; }

void TVellMemo::setParBackgnd(int index, TColor color) {
  pars_.GetPointer(index)->background = color;
  int first = pars_.FirstLine(index);
  InvalidateLines(first, first + pars_.At(index)->lineCount - 1, false);
}

void TVellMemo::setParForegnd(int index, TColor color) {
  pars_.GetPointer(index)->foreground = color;
  int first = pars_.FirstLine(index);
  InvalidateLines(first, first + pars_.At(index)->lineCount - 1, false);
}

// ---- selection ----

void TVellMemo::setSelPar(int index) {
  index = std::clamp(index, 0, pars_.Count() - 1);
  setSelStart(pars_.Start(index));
}

int TVellMemo::getSelPar() { return caret_->GetParNb(); }

void TVellMemo::setSelStart(std::int32_t pos) {
  column_block_ = false;
  virtual_cols_ = 0;
  view_.ForgetCaretX();
  pos = std::clamp(pos, 0, text_len_);
  sel_start_->SetPos(pos);
  sel_end_->SetPos(pos);
  caret_ = sel_start_.get();
  undo_.caretMoved = true;
  if (window_) window_->CaretChanged();
}

std::int32_t TVellMemo::getSelStart() const { return caret_->Pos(); }

std::int32_t TVellMemo::getSelLength() const {
  std::int32_t length = sel_end_->Pos() - sel_start_->Pos();
  return caret_ == sel_start_.get() ? length : -length;
}

void TVellMemo::setSelLength(std::int32_t length) {
  column_block_ = false;
  if (length == getSelLength()) return;
  std::int32_t caret = caret_->Pos();
  std::int64_t target = static_cast<std::int64_t>(caret) + length;
  if (target < 0) length = -caret;
  if (target > text_len_) length = text_len_ - caret;
  std::int32_t oldFar = caret_ == sel_start_.get() ? sel_end_->Pos() : sel_start_->Pos();
  if (length >= 1) {
    sel_start_->SetPos(caret);
    sel_end_->SetPos(caret + length);
    caret_ = sel_start_.get();
  } else {
    sel_start_->SetPos(caret + length);
    sel_end_->SetPos(caret);
    caret_ = sel_end_.get();
  }
  undo_.caretMoved = true;
  if (window_ && !replacing_par_) {
    TVellNavigator& nav = *scratch_[1];
    nav.SetPos(oldFar);
    int a = nav.GetLineNb();
    nav.SetPos(caret + length);
    InvalidateLines(a, nav.GetLineNb(), false);
  }
}

void TVellMemo::setSelLine(int line) {
  line = std::clamp(line, 0, std::max(line_count_ - 1, 0));
  int p = FindParOfLine(line);
  if (!pars_.At(p)->formatted) FormatNow(std::min(formatted_up_to_, p), p, false);
  TVellNavigator& nav = *scratch_[1];
  nav.SetLineNb(line);
  setSelStart(nav.Pos());
}

int TVellMemo::getSelLine() { return caret_->GetLineNb(); }

void TVellMemo::setSelCol(int column) {
  std::int32_t length = getSelLength();
  TVellNavigator& nav = *scratch_[1];
  nav.SetPos(caret_->Pos());
  nav.SetColNb(column);
  setSelStart(nav.Pos());
  setSelLength(length);
  if (window_) window_->CaretChanged();
}

int TVellMemo::getSelCol() { return caret_->GetColNb() + virtual_cols_; }

std::string TVellMemo::getSelText() {
  if (column_block_) return SelectedBlockText();
  return GetTextPart(sel_start_->Pos(), sel_end_->Pos());
}

void TVellMemo::setSelText(const std::string& text) {
  std::string s(text.c_str());
  if (virtual_cols_ > 0 && options_.Has(vmoPutExtraSpaces) && !(column_block_ && getSelLength() != 0))
    s = std::string(virtual_cols_, ' ') + s;
  SetSelTextBuf(s.c_str());
}

std::int32_t TVellMemo::GetSelContext() { return caret_->GetContext(); }

void TVellMemo::SetSelAttrib(unsigned char code) {
  if (!static_format_) return;
  std::int32_t length = getSelLength();
  if (std::abs(static_cast<std::int64_t>(length)) >= 2147483545) return;
  // An edge between the CR and the LF of a break takes the whole break, as
  // the replacement below would: the codes then enclose whole characters
  // and the break is put back as it was.
  SnapSelection();
  std::int32_t start = sel_start_->Pos();
  std::int32_t count = sel_end_->Pos() - start;
  std::string buffer;
  buffer.push_back(static_cast<char>(code));
  buffer += GetTextPart(start, start + count);
  buffer.push_back(static_cast<char>(code));
  bool balance = balance_codes_, pairs = remove_empty_pairs_;
  balance_codes_ = false;
  if (count == 0) remove_empty_pairs_ = false;
  try {
    SetSelTextBuf(buffer.c_str());
  } catch (...) {
    balance_codes_ = balance;
    remove_empty_pairs_ = pairs;
    throw;
  }
  balance_codes_ = balance;
  remove_empty_pairs_ = pairs;
  if (count > 0) {
    std::int32_t total = static_cast<std::int32_t>(buffer.size());
    if (length < 0) {
      setSelStart(start + total);
      setSelLength(-total);
    } else {
      setSelStart(start);
      setSelLength(total);
    }
  } else {
    setSelStart(start + 1);
  }
}

void TVellMemo::SelectBlock(int columnA, int paragraphA, int paragraphB, int columnB) {
  if (word_wrap_) return;
  paragraphA = std::clamp(paragraphA, 0, pars_.Count() - 1);
  paragraphB = std::clamp(paragraphB, 0, pars_.Count() - 1);
  const ParInfo& pb = *pars_.At(paragraphB);
  const ParInfo& pa = *pars_.At(paragraphA);
  int offB = OffsetOfColumn(pb.text, 0, pb.length, columnB, tab_stops_, static_format_);
  int offA = OffsetOfColumn(pa.text, 0, pa.length, columnA, tab_stops_, static_format_);
  std::int32_t posB = pars_.Start(paragraphB) + offB;
  std::int32_t posA = pars_.Start(paragraphA) + offA;
  setSelStart(posB);
  setSelLength(posA - posB);
  int real = ColumnOfOffset(pb.text, 0, offB, tab_stops_, static_format_);
  virtual_cols_ = std::max(columnB - real, 0);
  column_block_ = true;
  block_col_a_ = columnA;
  block_col_b_ = columnB;
  if (window_) window_->CaretChanged();
}

std::string TVellMemo::SelectedBlockText() {
  if (!column_block_ || sel_start_->Pos() == sel_end_->Pos()) return std::string();
  int lo = std::min(block_col_a_, block_col_b_), hi = std::max(block_col_a_, block_col_b_);
  std::string out;
  for (int p = sel_start_->GetParNb(); p <= sel_end_->GetParNb(); ++p) {
    const ParInfo& par = *pars_.At(p);
    int a = OffsetOfColumn(par.text, 0, par.length, lo, tab_stops_, static_format_);
    int b = OffsetOfColumn(par.text, 0, par.length, hi, tab_stops_, static_format_);
    if (b > a) out.append(par.text + a, b - a);
    out += "\r\n";
  }
  return out;
}

TRect TVellMemo::GetColumnBlockXY() {
  if (!column_block_) return TRect();
  return TRect{std::min(block_col_a_, block_col_b_), sel_start_->GetLineNb(),
               std::max(block_col_a_, block_col_b_), sel_end_->GetLineNb()};
}

// ---- search ----

char* TVellMemo::GetUpText(const ParInfo* par, int parNb, std::int32_t start, std::int32_t count) {
  if (!par) par = pars_.GetPointer(parNb);
  up_text_.assign(count > 0 ? par->text + start : "", std::max(count, 0));
  UpperCaseBuffer(upper_case_type_, up_text_.data());
  return up_text_.data();
}

bool TVellMemo::FindTxt(const std::string& text, bool forward, bool wholeWord, bool matchCase) {
  std::string pattern(text.c_str());
  if (pattern.empty()) return false;
  if (!matchCase) UpperCaseBuffer(upper_case_type_, pattern.data());
  const std::int32_t plen = static_cast<std::int32_t>(pattern.size());

  auto haystack = [&](int p) -> const char* {
    const ParInfo& par = *pars_.At(p);
    if (matchCase) return par.text ? par.text : "";
    return GetUpText(&par, p, 0, par.length);
  };
  auto qualifies = [&](const char* hay, std::int32_t length, std::int32_t at) {
    if (!wholeWord) return true;
    bool before = at == 0 || delimiters_.test(static_cast<unsigned char>(hay[at - 1]));
    bool after = at + plen >= length || delimiters_.test(static_cast<unsigned char>(hay[at + plen]));
    return before && after;
  };
  // First qualifying occurrence at or after from; -1 when none.
  auto findFirst = [&](int p, std::int32_t from) -> std::int32_t {
    const std::int32_t length = pars_.At(p)->length;
    if (from > length - plen) return -1;
    const char* hay = haystack(p);
    for (const char* hit = std::strstr(hay + from, pattern.c_str()); hit;
         hit = std::strstr(hit + 1, pattern.c_str())) {
      std::int32_t at = static_cast<std::int32_t>(hit - hay);
      if (qualifies(hay, length, at)) return at;
    }
    return -1;
  };
  // Last qualifying occurrence starting before limit; -1 when none.
  auto findLast = [&](int p, std::int32_t limit) -> std::int32_t {
    const std::int32_t length = pars_.At(p)->length;
    const char* hay = haystack(p);
    std::int32_t found = -1;
    for (const char* hit = std::strstr(hay, pattern.c_str()); hit && hit - hay < limit;
         hit = std::strstr(hit + 1, pattern.c_str())) {
      std::int32_t at = static_cast<std::int32_t>(hit - hay);
      if (qualifies(hay, length, at)) found = at;
    }
    return found;
  };

  int p = caret_->GetParNb();
  std::int32_t offset = caret_->GetOffset();
  std::int32_t at = -1;
  if (forward) {
    for (at = findFirst(p, offset); at < 0 && p < pars_.Count() - 1;) at = findFirst(++p, 0);
  } else {
    for (at = findLast(p, offset); at < 0 && p > 0;) {
      --p;
      at = findLast(p, pars_.At(p)->length + 1);
    }
  }
  if (at < 0) return false;
  std::int32_t hit = pars_.Start(p) + at;
  setSelLength(0);
  if (forward) {
    setSelStart(hit + plen);
    setSelLength(-plen);
  } else {
    setSelStart(hit);
    setSelLength(plen);
  }
  return true;
}

// ---- update counter ----

void TVellMemo::BeginUpdate() { ++update_count_; }

void TVellMemo::EndUpdate() {
  if (update_count_ > 0) --update_count_;
  if (update_count_ == 0) EndUpdateRefresh();
}

// ---- scrolling ----

void TVellMemo::setTopLine(int line) { SetTopLeft(line * line_height_, view_.display_left); }

int TVellMemo::getTopLine() { return top_nav_->GetLineNb(); }

int TVellMemo::VisibleLines() const {
  int height = window_ ? window_->ClientHeight() : view_.client_height;
  return line_height_ < 1 ? 1 : height / line_height_ + 1;
}

void TVellMemo::SetTopLeft(int top, int left) {
  int dx = view_.display_left - left;
  int dy = view_.top_origin - top;
  view_.display_left = left;
  if (dy != 0) {
    view_.top_origin = top;
    top_nav_->SetLineNb(line_height_ > 0 ? top / line_height_ : 0);
  }
  if (window_ && (dx || dy)) {
    // The bars follow every move, whether the window scrolls or repaints.
    window_->OriginsMoved(dx != 0, dy != 0);
    if (dx >= -32768 && dx <= 32767 && dy >= -32768 && dy <= 32767) window_->ScrollWindow(dx, dy);
    else window_->Repaint();
    window_->CaretChanged();
  }
  if (dx && OnHScroll) OnHScroll(this);
  if (dy) {
    if (AttachedCount() > 0) Perform(VM_VSCROLLED);
    if (OnVScroll) OnVScroll(this);
  }
}

void TVellMemo::InvalidateLines(int first, int last, bool erase) {
  if (!window_) return;
  if (first > last) std::swap(first, last);
  int top = getTopLine();
  int visible = VisibleLines();
  if (first > top + visible + 1 || last < top) return;
  TRect r;
  r.left = 0;
  r.right = window_->ClientWidth();
  r.top = first < top ? 0 : first * line_height_ - view_.top_origin;
  r.bottom = last > top + visible + 1 ? window_->ClientHeight() : (last + 1) * line_height_ - view_.top_origin;
  window_->InvalidateRect(r, erase);
}

// ---- undo ----

bool TVellMemo::getCanUndo() const { return undo_.Index() >= (undo_.undoing ? 2 : 1); }

bool TVellMemo::getCanRedo() const {
  return undo_.undoing ? undo_.Count() >= undo_.Index() : undo_.Count() > undo_.Index();
}

void TVellMemo::Undo() {
  if (undo_.Index() > 0) ReplayLinked(&TVellMemo::UndoSteps);
}

void TVellMemo::Redo() {
  if (undo_.Index() < undo_.Count()) ReplayLinked(&TVellMemo::RedoSteps);
}

// Linked steps are replayed inside one update: the states between them
// (a style code put back without its partner, say) are never laid out.
void TVellMemo::ReplayLinked(void (TVellMemo::*steps)()) {
  BeginUpdate();
  try {
    (this->*steps)();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  if (window_ && update_count_ == 0) window_->ScrollCaretInView();
}

void TVellMemo::UndoSteps() {
  while (undo_.Index() > 0) {
    int idx = undo_.Index() - 1;
    UndoRecord r = undo_.At(idx);
    setSelStart(r.start);
    setSelLength(r.stop - r.start);
    undo_.replaying = undo_.undoing = true;
    undo_.SetIndex(idx);
    UndoRecord* made = nullptr;
    try {
      made = ReplayStep(r.text);
    } catch (...) {
      undo_.replaying = undo_.undoing = false;
      throw;
    }
    undo_.replaying = undo_.undoing = false;
    if (made) {
      made->linked = r.linked;
      undo_.SetIndex(undo_.Index() - 1);
    }
    if (!r.linked) break;
  }
}

void TVellMemo::RedoSteps() {
  while (undo_.Index() < undo_.Count()) {
    int idx = undo_.Index();
    UndoRecord r = undo_.At(idx);
    setSelStart(r.start);
    setSelLength(r.stop - r.start);
    undo_.replaying = true;
    UndoRecord* made = nullptr;
    try {
      made = ReplayStep(r.text);
    } catch (...) {
      undo_.replaying = false;
      throw;
    }
    undo_.replaying = false;
    if (made) made->linked = r.linked;
    else undo_.SetIndex(idx + 1);
    if (!(undo_.Index() < undo_.Count() && undo_.At(undo_.Index()).linked)) break;
  }
}

UndoRecord* TVellMemo::ReplayStep(const std::string& text) {
  last_recorded_ = nullptr;
  SetSelTextBuf(text.c_str());
  UndoRecord* made = last_recorded_;
  last_recorded_ = nullptr;
  if (made && (undo_.Index() == 0 || &undo_.At(undo_.Index() - 1) != made)) made = nullptr;
  return made;
}

// ---- integrity ----

void TVellMemo::CheckIntegrity() {
  auto fail = [&](const char* what) { throw rtl::Exception(std::string(what) + Version()); };
  std::int64_t lines = 0, pos = 0;
  for (int i = 0; i < pars_.Count(); ++i) {
    const ParInfo& p = *pars_.At(i);
    if (pars_.FirstLine(i) != lines) fail("Error 1");
    if (pars_.Start(i) != pos) fail("Error 2 in ");
    std::int32_t expect = 0;
    for (int l = 0; l < p.lineCount; ++l) {
      const LineInfo& line = par::Line(p, l);
      if (line.start != expect || line.end < line.start) fail("Error 3 in ");
      expect = line.end;
    }
    if (expect != p.length) fail("Error 4 in ");
    // Checks of our own beyond the classic six.
    if (!p.startState || p.length < 0 || (p.length > 0 && (!p.text || p.capacity < p.length + 1)))
      fail("Error 7 in ");
    if (p.length > 0 && (p.text[p.length] != 0 || std::memchr(p.text, 0, p.length))) fail("Error 8 in ");
    if (p.runCount < 0 || p.runCount > p.runCapacity || (p.runCount > 0 && !p.runs)) fail("Error 9 in ");
    for (int r = 0; r < p.runCount; ++r) {
      const DynRun& run = p.runs[r];
      if (run.offset < 0 || run.offset > p.length || (r > 0 && run.offset < p.runs[r - 1].offset) ||
          !runstyle::Held(run.style))
        fail("Error 9 in ");
    }
    lines += p.lineCount;
    pos += p.length + 2;
  }
  if (text_len_ + 2 != pos) fail("Error 5 in ");
  if (line_count_ != lines) fail("Error 6 in ");
}

}  // namespace memo
