// The editing core: every change of the text goes through SetSelTextBuf,
// which replaces the selection, keeps static styles balanced, moves the
// navigators, records the undo step and starts the refresh.
#include <algorithm>
#include <cstring>

#include "memo/vell_memo.h"

namespace memo {

struct TVellMemo::Splice {
  int p1 = 0;
  std::int32_t o1 = 0;
  int p2 = 0;
  std::int32_t o2 = 0;
  std::vector<std::string_view> pieces;
  std::string codes;
  bool crossed = false;  // a run boundary was removed, or breaks were added or removed
};

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }


// Splits text at CR; an LF right after the CR belongs to the break, a lone
// LF is an ordinary character.
std::vector<std::string_view> SplitPieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') continue;
    pieces.push_back(text.substr(start, i - start));
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// The codes that restore the style after an edit, in a fixed order.
std::string CodesForParity(std::uint8_t parity) {
  std::string codes;
  static const unsigned char kOrder[] = {21, 1, 2, 3, 4};
  for (unsigned char c : kOrder)
    if (parity & StyleBit(c)) codes.push_back(static_cast<char>(c));
  return codes;
}

}  // namespace

void TVellMemo::SnapSelection() {
  // A selection edge between the CR and the LF of a break takes the whole
  // break (start edge back before it, end edge past it).
  bool empty = sel_start_->Pos() == sel_end_->Pos();
  auto midBreak = [](TVellNavigator& nav) {
    ParInfo* p = nav.GetPar();
    return p && nav.GetOffset() == p->length + 1;
  };
  if (midBreak(*sel_start_)) sel_start_->SetPos(sel_start_->Pos() - 1);
  if (midBreak(*sel_end_)) sel_end_->SetPos(sel_end_->Pos() + (empty ? -1 : 1));
  sel_start_->Invalidate();
  sel_end_->Invalidate();
}

void TVellMemo::SetSelTextBuf(const char* text) {
  if (OnBeforeChange) OnBeforeChange(this, text);
  std::string owned(text ? text : "");
  if (sel_start_->Pos() == sel_end_->Pos() && owned.empty() && !column_block_) return;
  UndoAction action(undo_);

  if (column_block_) {
    column_block_ = false;
    int lo = std::min(block_col_a_, block_col_b_), hi = std::max(block_col_a_, block_col_b_);
    int first = sel_start_->GetParNb(), last = sel_end_->GetParNb();
    BeginUpdate();
    try {
      for (int p = first; p <= last; ++p) {
        const ParInfo& par = *pars_.At(p);
        int a = OffsetOfColumn(par.text, 0, par.length, lo, tab_stops_, static_format_);
        int b = OffsetOfColumn(par.text, 0, par.length, hi, tab_stops_, static_format_);
        setSelStart(pars_.Start(p) + a);
        setSelLength(b - a);
        SetSelTextBuf("");
      }
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    if (owned.empty()) return;
  }
  if (sel_start_->Pos() == sel_end_->Pos() && owned.empty()) return;
  ReplaceRange(owned);
}

void TVellMemo::ReplaceRange(std::string_view text) {
  virtual_cols_ = 0;
  view_.ForgetCaretX();
  SnapSelection();
  Splice s;
  s.p1 = sel_start_->GetParNb();
  s.o1 = sel_start_->GetOffset();
  s.p2 = sel_end_->GetParNb();
  s.o2 = sel_end_->GetOffset();
  s.pieces = SplitPieces(text);

  if (options_.Has(vmoDiscardTrailingSpaces)) DiscardTrailingBlanks(s);
  const std::int32_t startPos = pars_.Start(s.p1) + s.o1;
  const std::int32_t endPos = pars_.Start(s.p2) + s.o2;

  if (static_format_ && !in_pair_removal_ && balance_codes_ && !undo_.replaying) s.codes = BalancingCodes(s);
  // Lengths first: nothing changes when the result would be too long.
  const std::int64_t n = static_cast<std::int64_t>(s.pieces.size());
  const std::int64_t inserted = CheckedInsertLength(s, endPos - startPos);

  ExtendMods(s.p1, sel_start_->GetParLine(), s.p2);
  Modified = true;
  RecordUndo(startPos, endPos, static_cast<std::int32_t>(inserted));

  const DynInfoRec stateAtStart = par::StateBefore(*pars_.At(s.p1), par::RunIndexAt(*pars_.At(s.p1), s.o1));
  const DynInfoRec stateAtEnd = par::StateBefore(*pars_.At(s.p2), par::RunIndexAt(*pars_.At(s.p2), s.o2));
  const bool wasParsed = pars_.At(s.p1)->parsed;
  const bool wasApplied = pars_.At(s.p1)->keywordsApplied;
  const int oldCount = pars_.Count();
  const std::int32_t delta = static_cast<std::int32_t>(inserted - (endPos - startPos));

  DoSplice(s);

  const int countDelta = pars_.Count() - oldCount;
  const int lastNew = s.p1 + static_cast<int>(n) - 1;
  text_len_ += delta;

  FollowSplice(s, startPos, endPos, delta, countDelta);
  if (s.crossed) KeepUserRunsAtEdges(s, stateAtStart, stateAtEnd, startPos, static_cast<std::int32_t>(inserted));
  if (OnParse) OnParse(this, startPos, startPos + static_cast<std::int32_t>(inserted));

  ++update_count_;
  {
    ParInfo& first = *pars_.At(s.p1);
    first.formatted = false;
    first.parsed = false;
    first.keywordsApplied = false;
    if (update_count_ < 2) {
      if (wasParsed) ParseStartStopPar(s.p1);
      if (wasApplied && first.parsed) ApplyKeywordsPar(s.p1);
    }
  }

  std::int32_t caret = startPos + static_cast<std::int32_t>(inserted);
  if (static_format_ && remove_empty_pairs_ && !in_pair_removal_ && !undo_.replaying) {
    sel_start_->SetPos(caret);
    sel_end_->SetPos(caret);
    caret_ = sel_start_.get();
    in_pair_removal_ = true;
    try {
      RemoveEmptyPairs(s.p1, std::min(lastNew, pars_.Count() - 1));
    } catch (...) {
      in_pair_removal_ = false;
      --update_count_;
      throw;
    }
    in_pair_removal_ = false;
    caret = sel_start_->Pos();
  }
  sel_start_->SetPos(caret);
  sel_end_->SetPos(caret);
  caret_ = sel_start_.get();

  if (--update_count_ == 0) EndUpdateRefresh();
  if (window_) {
    window_->CaretChanged();
    if (update_count_ == 0) window_->ScrollCaretInView();
  }
}

// Blanks before a break or at the paragraph's end go, those of the text
// inserted and those the insertion would leave behind at its start.
void TVellMemo::DiscardTrailingBlanks(Splice& s) {
  const ParInfo& end = *pars_.At(s.p2);
  bool atParEnd = s.o2 == end.length;
  const ParInfo& start = *pars_.At(s.p1);
  bool firstBlank = std::all_of(s.pieces[0].begin(), s.pieces[0].end(), IsBlank);
  if ((s.pieces.size() > 1 || atParEnd) && firstBlank)
    while (s.o1 > 0 && IsBlank(start.text[s.o1 - 1])) --s.o1;
  for (std::size_t i = 0; i < s.pieces.size(); ++i) {
    if (i + 1 == s.pieces.size() && !atParEnd) break;
    auto& piece = s.pieces[i];
    while (!piece.empty() && IsBlank(piece.back())) piece.remove_suffix(1);
  }
  sel_start_->SetPos(pars_.Start(s.p1) + s.o1);
}

// The style codes that balance the removed and the inserted text.
std::string TVellMemo::BalancingCodes(const Splice& s) const {
  std::uint8_t parity = 0;
  for (auto piece : s.pieces) parity = ApplyStyleCodes(parity, piece.data(), static_cast<int>(piece.size()));
  for (int p = s.p1; p <= s.p2; ++p) {
    const ParInfo& par = *pars_.At(p);
    std::int32_t a = p == s.p1 ? s.o1 : 0;
    std::int32_t b = p == s.p2 ? s.o2 : par.length;
    if (b > a) parity = ApplyStyleCodes(parity, par.text + a, b - a);
  }
  return CodesForParity(parity);
}

// The bytes the splice inserts (pieces, breaks and codes); "Text too long"
// when a paragraph or the text would pass its limit.
std::int64_t TVellMemo::CheckedInsertLength(const Splice& s, std::int32_t removed) const {
  const std::int64_t n = static_cast<std::int64_t>(s.pieces.size());
  const std::int64_t tail = pars_.At(s.p2)->length - s.o2;
  std::int64_t inserted = static_cast<std::int64_t>(s.codes.size()) + 2 * (n - 1);
  for (auto piece : s.pieces) inserted += static_cast<std::int64_t>(piece.size());
  std::int64_t first = s.o1 + static_cast<std::int64_t>(s.pieces[0].size());
  std::int64_t lastLen = static_cast<std::int64_t>(s.pieces.back().size() + s.codes.size()) + tail;
  if (n == 1) first = lastLen + s.o1;
  bool tooLong = first > par_length_limit_ || lastLen > par_length_limit_;
  for (auto piece : s.pieces) tooLong = tooLong || static_cast<std::int64_t>(piece.size()) > par_length_limit_;
  std::int64_t total = static_cast<std::int64_t>(text_len_) - removed + inserted;
  if (tooLong || total > 2147483647LL) throw rtl::Exception("Text too long");
  return inserted;
}

// After a splice: navigators inside the replaced range go to its start,
// those beyond it shift; pending ranges follow the paragraphs.
void TVellMemo::FollowSplice(const Splice& s, std::int32_t startPos, std::int32_t endPos, std::int32_t delta,
                             int countDelta) {
  const int lastNew = s.p1 + static_cast<int>(s.pieces.size()) - 1;
  for (TVellNavigator* nav : navigators_) {
    std::int32_t pos = nav->pos_;
    if (pos >= startPos && pos <= endPos) pos = startPos;
    else if (pos > endPos) pos += delta;
    nav->pos_ = pos;
    nav->Invalidate();
  }
  auto follow = [&](int& index) {
    if (index > s.p2) index += countDelta;
    else if (index > lastNew) index = lastNew;
  };
  if (mod_last_par_ >= 0) mod_last_par_ = std::max(mod_last_par_ >= s.p2 ? mod_last_par_ + countDelta : mod_last_par_, lastNew);
  if (bg_last_ >= 0) follow(bg_last_);
  if (bg_next_ > s.p2) bg_next_ += countDelta;
  if (widest_par_ >= s.p1 && widest_par_ <= s.p2) widest_par_ = -1;
  else if (widest_par_ > s.p2) widest_par_ += countDelta;
  if (formatted_up_to_ > s.p1) formatted_up_to_ = s.p1;
  last_parsed_ = std::min(last_parsed_, s.p1 - 1);
}

// User runs at the edges of a splice that crossed a run boundary: the
// inserted text does not take a user style that ends at its start, and the
// text after it keeps the state it had.
void TVellMemo::KeepUserRunsAtEdges(const Splice& s, const DynInfoRec& stateAtStart, const DynInfoRec& stateAtEnd,
                                    std::int32_t startPos, std::int32_t inserted) {
  const int n = static_cast<int>(s.pieces.size());
  if (IsUserRun(stateAtStart) && !(stateAtStart.flags & kRunKeyword)) {
    ParInfo& p = *pars_.At(s.p1);
    DynInfoRec cleared;
    cleared.offset = s.o1;
    par::InsertRun(p, par::RunIndexAt(p, s.o1), cleared);
  }
  if (IsUserRun(stateAtEnd) && !(stateAtEnd.flags & kRunKeyword) && startPos + inserted < text_len_) {
    ParInfo& p = *pars_.At(s.p1 + n - 1);
    std::int32_t at = n == 1 ? s.o1 + inserted
                             : static_cast<std::int32_t>(s.pieces.back().size() + s.codes.size());
    DynInfoRec restore = stateAtEnd;
    restore.offset = at;
    par::InsertRun(p, par::RunIndexAt(p, at), restore);
  }
}

void TVellMemo::RecordUndo(std::int32_t start, std::int32_t end, std::int32_t insertedLength) {
  last_recorded_ = nullptr;
  if (!undo_.replaying) undo_.DropRedo();
  const int index = undo_.Index();
  if (start == end && index > 0 && !undo_.replaying && !undo_.caretMoved) {
    UndoRecord& last = undo_.At(index - 1);
    if (last.stop == start && last.start != start) {
      last.stop = start + insertedLength;
      if (undo_.groupDepth > 0) undo_.groupStarted = true;
      undo_.caretMoved = false;
      return;
    }
  }
  auto record = std::make_unique<UndoRecord>();
  record->text = GetTextPart(start, end);
  if (record->Size() > 2147483547) undo_.Clear();
  record->start = start;
  record->stop = start + insertedLength;
  record->linked = !undo_.replaying && undo_.groupDepth > 0 && undo_.groupStarted;
  if (undo_.groupDepth > 0) undo_.groupStarted = true;
  UndoRecord* made = &undo_.Put(std::move(record));
  undo_.TrimToSpace(undo_.replaying);
  bool kept = undo_.Index() > 0 && &undo_.At(undo_.Index() - 1) == made;
  last_recorded_ = kept ? made : nullptr;
  undo_.caretMoved = false;
}

void TVellMemo::ShiftStylesAfter(int index, std::uint8_t diff) {
  if (!diff) return;
  for (int p = index; p < pars_.Count(); ++p) {
    ParInfo& par = *pars_.At(p);
    for (int l = 0; l < par.lineCount; ++l) par::Line(par, l).startStyle ^= diff;
  }
}

void TVellMemo::DoSplice(Splice& s) {
  const int n = static_cast<int>(s.pieces.size());
  const ParInfo& last = *pars_.At(s.p2);
  const bool inParagraph = n == 1 && s.p1 == s.p2;
  // The style at the end of the edited text flips by the codes taken out
  // and put in: inside one paragraph those of the spliced ranges alone.
  std::uint8_t flips = 0;
  if (static_format_) {
    flips = inParagraph ? ApplyStyleCodes(0, last.text + s.o1, s.o2 - s.o1)
                        : ApplyStyleCodes(static_cast<std::uint8_t>(last.line0.startStyle), last.text, last.length);
  }

  if (inParagraph) SpliceInParagraph(s);
  else SpliceAcrossParagraphs(s);

  // Static styles after the edit change only when the codes did not
  // balance (inside the removal of empty pairs, for example).
  if (static_format_) {
    const int lastNew = s.p1 + n - 1;
    const ParInfo& p = *pars_.At(lastNew);
    if (inParagraph) {
      flips = ApplyStyleCodes(flips, s.pieces[0].data(), static_cast<std::int32_t>(s.pieces[0].size()));
      flips = ApplyStyleCodes(flips, s.codes.data(), static_cast<std::int32_t>(s.codes.size()));
    } else {
      flips ^= ApplyStyleCodes(static_cast<std::uint8_t>(p.line0.startStyle), p.text, p.length);
    }
    ShiftStylesAfter(lastNew + 1, flips);
  }
  if (pars_.Count() + pars_.Count() / 16 + 8 < pars_.Capacity())
    pars_.SetCapacity(pars_.Count() + pars_.Count() / 32 + 4);
  // Everything loaded was taken away: the loaded texts' blocks go too.
  if (pars_.Count() == 1 && !pars_.At(0)->arenaText) pars_.Arena().Clear();
}

// A splice inside one paragraph without a break: the text changes in place
// (or in a new buffer when it outgrows or much undershoots the old one),
// runs in the removed range go, and the line of the start takes in the
// lines removed.
void TVellMemo::SpliceInParagraph(Splice& s) {
  ParInfo& p = *pars_.At(s.p1);
  const bool laidOut = p.formatted;
  const int runsBefore = p.runCount;
  const std::int32_t removed = s.o2 - s.o1;
  const std::int32_t ins = static_cast<std::int32_t>(s.pieces[0].size() + s.codes.size());
  const std::int32_t newLen = p.length - removed + ins;
  const std::int32_t tail = p.length - s.o2;
  if (newLen == 0) {
    par::FreeText(p);
  } else {
    bool inPlace = newLen + 1 <= p.capacity &&
                   (newLen >= p.length || static_cast<std::int64_t>(newLen) + newLen / 8 + 1 >= p.capacity);
    if (!inPlace) {
      const std::size_t bytes = par::TextBufferBytes(static_cast<std::size_t>(newLen));
      char* buffer = static_cast<char*>(std::malloc(bytes));
      if (!buffer) throw std::bad_alloc();
      if (s.o1) std::memcpy(buffer, p.text, s.o1);
      if (tail) std::memcpy(buffer + s.o1 + ins, p.text + s.o2, tail);
      par::FreeText(p);
      p.text = buffer;
      p.capacity = static_cast<std::int32_t>(std::min<std::size_t>(bytes, 2147483647));
    } else if (tail) {
      std::memmove(p.text + s.o1 + ins, p.text + s.o2, tail);
    }
    std::memcpy(p.text + s.o1, s.pieces[0].data(), s.pieces[0].size());
    std::memcpy(p.text + s.o1 + s.pieces[0].size(), s.codes.data(), s.codes.size());
    p.text[newLen] = 0;
  }
  p.length = newLen;
  // Runs inside the removed range go; runs after it move.
  const std::int32_t change = ins - removed;
  par::KeepRunsIf(p, [&](DynRun& run) {
    if (removed > 0 && run.offset >= s.o1 && run.offset < s.o2) {
      s.crossed = true;
      return false;
    }
    if (run.offset >= s.o2) run.offset += change;
    return true;
  });
  // Lines: the line of the start takes in the removed lines; the lines
  // after move with the text (the next layout may keep them).
  const int la = par::LineEndingAfter(p, s.o1);
  const int lb = std::max(la, par::LineEndingAfter(p, s.o2));
  LineInfo& line = par::Line(p, la);
  line.end = par::Line(p, lb).end + change;
  line.justifyStart = std::min(line.justifyStart, line.end);
  if (lb > la) {
    const int after = p.lineCount - lb - 1;
    if (after > 0) std::memmove(p.moreLines + la, p.moreLines + lb, sizeof(LineInfo) * after);
    SetParLines(s.p1, p.lineCount - (lb - la));
  }
  for (int l = la + 1; l < p.lineCount; ++l) {
    LineInfo& moved = par::Line(p, l);
    moved.start += change;
    moved.end += change;
    moved.justifyStart += change;
  }
  par::Line(p, p.lineCount - 1).end = p.length;
  relayout_.NoteSplice(s.p1, p, laidOut, s.o1, s.o2, ins, runsBefore, CurrentMeasurer(),
                       CurrentMeasurer() ? AvailableWidth() : 0);
  pars_.ShiftStarts(s.p1 + 1, change);
}

// A splice across paragraphs or with breaks: the head of the first, the
// pieces and the tail of the last become new paragraphs, one display line
// each until formatted; runs after the splice move with the tail.
void TVellMemo::SpliceAcrossParagraphs(Splice& s) {
  relayout_.Drop();
  const int n = static_cast<int>(s.pieces.size());
  ParInfo& first = *pars_.At(s.p1);
  ParInfo& last = *pars_.At(s.p2);
  std::string head(first.text ? first.text : "", s.o1);
  std::string tail(last.text ? last.text + s.o2 : "", last.length - s.o2);
  std::vector<DynInfoRec> tailRuns;
  for (int r = par::RunIndexAt(last, s.o2); r < last.runCount; ++r) tailRuns.push_back(last.runs[r].Record());
  int keepRuns = par::RunIndexAt(first, s.o1);
  if (s.p1 == s.p2) {
    // Pure split of one paragraph; runs at and after o2 go to the tail.
  } else if (keepRuns < first.runCount) {
    s.crossed = true;
  }
  for (int p = s.p1 + 1; p < s.p2; ++p)
    if (pars_.At(p)->runCount) s.crossed = true;
  if (s.p2 > s.p1 && par::RunIndexAt(last, s.o2) > 0) s.crossed = true;
  if (n > 1 || s.p2 > s.p1) s.crossed = true;
  const DynInfoRec inserting = par::StateBefore(first, keepRuns);
  const std::uint8_t firstStyle = static_cast<std::uint8_t>(first.line0.startStyle);
  const int oldLines = [&] {
    int total = 0;
    for (int p = s.p1; p <= s.p2; ++p) total += pars_.At(p)->lineCount;
    return total;
  }();

  // Free the paragraphs that go, then make room for the new ones.
  for (int p = s.p1 + 1; p <= s.p2; ++p) par::Free(*pars_.At(p));
  const int oldExtra = s.p2 - s.p1;
  const int newExtra = n - 1;
  if (newExtra > oldExtra) pars_.InsertPars(s.p1 + 1 + oldExtra, newExtra - oldExtra);
  else if (newExtra < oldExtra) pars_.RemovePars(s.p1 + 1 + newExtra, oldExtra - newExtra);
  DynInfoRec* shared = newExtra > 0 ? CopyAsStartState(inserting) : nullptr;
  for (int k = 1; k <= newExtra; ++k) {
    ParInfo fresh;
    fresh.startState = k == 1 ? shared : RetainStartState(shared);
    *pars_.At(s.p1 + k) = fresh;
  }

  // First paragraph.
  ParInfo& p0 = *pars_.At(s.p1);
  std::string t0 = head + std::string(s.pieces[0]);
  if (n == 1) t0 += s.codes + tail;
  par::SetText(p0, t0.data(), static_cast<std::int32_t>(t0.size()));
  par::TruncateRuns(p0, keepRuns);
  if (n == 1) {
    std::int32_t shift = static_cast<std::int32_t>(head.size() + s.pieces[0].size() + s.codes.size()) - s.o2;
    for (DynInfoRec run : tailRuns) {
      run.offset += shift;
      par::InsertRun(p0, p0.runCount, run);
    }
  }
  // Middle and last paragraphs.
  for (int k = 1; k <= newExtra; ++k) {
    ParInfo& pk = *pars_.At(s.p1 + k);
    std::string tk(s.pieces[k]);
    if (k == newExtra) {
      tk += s.codes + tail;
      std::int32_t shift = static_cast<std::int32_t>(s.pieces[k].size() + s.codes.size()) - s.o2;
      for (DynInfoRec run : tailRuns) {
        run.offset += shift;
        par::InsertRun(pk, pk.runCount, run);
      }
    }
    par::SetText(pk, tk.data(), static_cast<std::int32_t>(tk.size()));
  }
  // Layout, styles, starts and first lines of the new paragraphs.
  std::uint8_t style = firstStyle;
  int lineTotal = 0;
  for (int k = 0; k <= newExtra; ++k) {
    ParInfo& pk = *pars_.At(s.p1 + k);
    pk.line0.startStyle = static_format_ ? style : 0;
    par::SingleLine(pk);
    par::SetLineCount(pk, 1);
    pk.lineCount = 1;
    pk.formatted = false;
    pk.parsed = false;
    pk.keywordsApplied = false;
    if (static_format_) style = ApplyStyleCodes(style, pk.text, pk.length);
    if (k > 0) {
      const ParInfo& prev = *pars_.At(s.p1 + k - 1);
      pars_.SetStart(s.p1 + k, pars_.Start(s.p1 + k - 1) + prev.length + 2);
      pars_.SetFirstLine(s.p1 + k, pars_.FirstLine(s.p1 + k - 1) + prev.lineCount);
    }
    lineTotal += 1;
  }
  const int after = s.p1 + newExtra + 1;
  const std::int32_t newStartAfter =
      after < pars_.Count() ? pars_.Start(after - 1) + pars_.At(after - 1)->length + 2 : 0;
  if (after < pars_.Count()) pars_.ShiftStarts(after, newStartAfter - pars_.Start(after));
  const int lineDelta = lineTotal - oldLines;
  line_count_ += lineDelta;
  pars_.ShiftFirstLines(after, lineDelta);
}

void TVellMemo::SetLayout(int index, const std::vector<LineInfo>& lines) {
  ParInfo& p = *pars_.At(index);
  SetParLines(index, static_cast<int>(lines.size()));
  for (int l = 0; l < p.lineCount; ++l) par::Line(p, l) = lines[l];
}

void TVellMemo::RemoveEmptyPairs(int firstPar, int lastPar) {
  for (int p = firstPar; p <= lastPar && p < pars_.Count(); ++p) {
    for (;;) {
      const ParInfo& par = *pars_.At(p);
      std::int32_t a = -1, b = -1;
      if (!FindEmptyPair(par.text, par.length, &a, &b)) break;
      std::int32_t base = pars_.Start(p);
      std::int32_t caret = sel_start_->Pos();
      if (base + b < caret) --caret;
      if (base + a < caret) --caret;
      setSelStart(base + b);
      setSelLength(1);
      SetSelTextBuf("");
      setSelStart(base + a);
      setSelLength(1);
      SetSelTextBuf("");
      sel_start_->SetPos(caret);
      sel_end_->SetPos(caret);
      caret_ = sel_start_.get();
    }
  }
}

void TVellMemo::ExtendMods(int paragraph, int lineOffset, int lastParagraph) {
  if (mod_last_par_ < 0) {
    mod_first_par_ = pars_.Count();
    mod_first_line_ = line_count_;
  }
  if (paragraph <= mod_first_par_) {
    mod_first_par_ = paragraph;
    mod_first_line_ = std::min(mod_first_line_, pars_.FirstLine(paragraph) + lineOffset);
  }
  mod_last_par_ = std::max(mod_last_par_, lastParagraph);
  last_parsed_ = std::min(last_parsed_, paragraph - 1);
}

}  // namespace memo
