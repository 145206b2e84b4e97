#include "memo/ext_highlighter.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "memo/vell_memo.h"

namespace memo {
namespace {

// The memo's pair count as its start/stop application numbers them.
int MemoPairBase(TVellMemo& memo) { return memo.ApplyStartStopKeys() ? memo.StartStopKeys().Count() : 0; }

std::int32_t ClampedOffset(TVellNavigator* nav) {
  return std::min(nav->GetOffset(), nav->GetPar()->length);
}

// The state that encloses a run opened at runs[openIdx] of paragraph
// parNb: the latest run (or start state) before it whose level is at most
// level, stepping back over earlier paragraphs when needed.
DynInfoRec EnclosingState(TVellMemo& memo, int parNb, int openIdx, int level) {
  for (int q = parNb; q >= 0; --q) {
    const ParInfo& t = *memo.Pars().At(q);
    for (int r = (q == parNb ? openIdx : t.runCount) - 1; r >= 0; --r)
      if (EffectiveLevel(t.runs[r]) <= level) return t.runs[r];
    if (t.startState && EffectiveLevel(*t.startState) <= level) return *t.startState;
  }
  return DynInfoRec();
}

}  // namespace

// ---- TExtKeywordList ----

TExtKeywordInfoObject* TExtKeywordList::ExtObject(int index) const {
  return dynamic_cast<TExtKeywordInfoObject*>(InfoObject(index));
}

int TExtKeywordList::AddExtKeyWord(const std::string& word, TWordOptions options, TFontStyles styles,
                                   std::int32_t context, std::int16_t scope, std::int16_t priority,
                                   TCursor cursor, TColor background, TColor foreground) {
  BeginUpdate();
  int index = Add(word);
  SetKeyInfo(index, TExtKeywordInfo{{options, styles, context, cursor, background, foreground}, scope, priority});
  EndUpdate();
  return index;
}

TExtKeywordInfo TExtKeywordList::GetKeyInfo(int index) const {
  TExtKeywordInfo e{getKeyInfo(index)};
  if (TExtKeywordInfoObject* block = ExtObject(index)) {
    e.scope = block->scope;
    e.priority = block->priority;
  }
  return e;
}

void TExtKeywordList::SetKeyInfo(int index, const TExtKeywordInfo& info) {
  BeginUpdate();
  setKeyInfo(index, info);
  if (TExtKeywordInfoObject* block = ExtObject(index)) {
    block->scope = info.scope;
    block->priority = info.priority;
  }
  EndUpdate();
}

void TExtKeywordList::Assign(const rtl::TPersistent* source) {
  if (source == this) return;
  BeginUpdate();
  TKeywordList::Assign(source);
  if (auto* other = dynamic_cast<const TExtKeywordList*>(source))
    for (int i = 0; i < Count() && i < other->Count(); ++i)
      if (TExtKeywordInfoObject* block = ExtObject(i)) {
        TExtKeywordInfo e = other->GetKeyInfo(i);
        block->scope = e.scope;
        block->priority = e.priority;
      }
  EndUpdate();
}

std::vector<TStoredExtKeyword> TExtKeywordList::WriteExtData() const {
  std::vector<TStoredExtKeyword> out;
  for (int i = 0; i < Count(); ++i) {
    TExtKeywordInfo k = GetKeyInfo(i);
    out.push_back({At(i), k.options, k.styles, k.context, k.cursor, k.background, k.foreground, k.scope,
                   k.priority});
  }
  return out;
}

void TExtKeywordList::ReadExtData(const std::vector<TStoredExtKeyword>& data) {
  BeginUpdate();
  Clear();
  for (const TStoredExtKeyword& k : data)
    AddExtKeyWord(k.word, static_cast<TWordOptions>(k.options), static_cast<TFontStyles>(k.styles), k.context,
                  static_cast<std::int16_t>(k.scope), static_cast<std::int16_t>(k.priority),
                  static_cast<TCursor>(k.cursor), k.background, k.foreground);
  EndUpdate();
}

// ---- TExtStartStopList ----

int TExtStartStopList::AddExStartStopKey(const std::string& startKey, const std::string& stopKey,
                                         TWordOptions options, TFontStyles styles, std::int32_t context,
                                         std::int16_t scope, std::int16_t priority, TCursor cursor,
                                         TColor background, TColor foreground, bool finalFlag) {
  int index = AddStartStopKey(startKey, stopKey, options, styles, context, cursor, background, foreground, finalFlag);
  Pair(index).scope = scope;
  Pair(index).priority = priority;
  return index;
}

void TExtStartStopList::setExtStartStopInfo(int index, const TExtStartStopInfo& info) {
  Pair(index) = info;
  InvalidateBounds();
}

std::vector<TStoredExtStartStopKey> TExtStartStopList::WriteExtData() const {
  std::vector<TStoredExtStartStopKey> out;
  for (int i = 0; i < Count(); ++i) {
    const TStartStopKey& k = Pair(i);
    out.push_back({k.startKey, k.stopKey, k.options, k.styles, k.context, k.cursor, k.background, k.foreground,
                   k.scope, k.priority, k.finalFlag});
  }
  return out;
}

void TExtStartStopList::ReadExtData(const std::vector<TStoredExtStartStopKey>& data) {
  Clear();
  for (const TStoredExtStartStopKey& k : data)
    AddExStartStopKey(k.startKey, k.stopKey, static_cast<TWordOptions>(k.options),
                      static_cast<TFontStyles>(k.styles), k.context, static_cast<std::int16_t>(k.scope),
                      static_cast<std::int16_t>(k.priority), static_cast<TCursor>(k.cursor), k.background,
                      k.foreground, k.finalFlag);
  InvalidateBounds();
}

// ---- THighlightInfo ----

void THighlightInfo::Changed() {
  if (OnChange) OnChange(this);
}

void THighlightInfo::SetAltFont(bool value) {
  if (value == alt_font_) return;
  alt_font_ = value;
  Changed();
}

void THighlightInfo::SetStyle(TFontStyles value) {
  if (value == style_) return;
  style_ = value;
  Changed();
}

void THighlightInfo::SetBackground(TColor value) {
  if (value == background_) return;
  background_ = value;
  Changed();
}

void THighlightInfo::SetForeground(TColor value) {
  if (value == foreground_) return;
  foreground_ = value;
  Changed();
}

void THighlightInfo::Assign(const rtl::TPersistent* source) {
  auto* other = dynamic_cast<const THighlightInfo*>(source);
  if (!other) {
    rtl::TPersistent::Assign(source);
    return;
  }
  SetAltFont(other->alt_font_);
  SetStyle(other->style_);
  SetBackground(other->background_);
  SetForeground(other->foreground_);
}

// ---- TCustomExtHighlighter: properties ----

TCustomExtHighlighter::TCustomExtHighlighter(rtl::TComponent* owner) : TVellHighlighter(owner) {
  for (int c = 0; c <= 26; ++c) separators_.set(c);
  for (unsigned char c : std::string(" ,.;")) separators_.set(c);
}

TCustomExtHighlighter::~TCustomExtHighlighter() = default;

std::string TCustomExtHighlighter::Separators() const {
  std::string out;
  for (int c = 27; c < 256; ++c)
    if (separators_.test(c)) out += static_cast<char>(c);
  return out;
}

void TCustomExtHighlighter::SetSeparators(const std::string& value) {
  TCharSet set;
  for (int c = 0; c <= 26; ++c) set.set(c);
  for (unsigned char c : value) set.set(c);
  if (set == separators_) return;
  separators_ = set;
  pairs_.InvalidateBounds();
  const unsigned state = ComponentState();
  if ((state & rtl::csDesigning) && !(state & rtl::csLoading)) ReApplyKeys();
}

void TCustomExtHighlighter::SetSubHighlighter(TVellHighlighter* sub) {
  if (sub == sub_) return;
  for (TVellHighlighter* h = sub; h;) {
    if (h == this) throw rtl::EComponentError("Circular sub-highlighter");
    auto* ext = dynamic_cast<TCustomExtHighlighter*>(h);
    h = ext ? ext->sub_ : nullptr;
  }
  if (sub_) sub_->RemoveFreeNotification(this);
  sub_ = sub;
  if (sub_) sub_->FreeNotification(this);
}

void TCustomExtHighlighter::ReApplyKeys() {
  for (TVellMemo* memo : std::vector<TVellMemo*>(Memos())) memo->ReApplyKeywords();
}

void TCustomExtHighlighter::Loaded() {
  TVellHighlighter::Loaded();
  if (ComponentState() & rtl::csDesigning) ReApplyKeys();
}

void TCustomExtHighlighter::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  if (operation == kMessageNotification) {
    if (sub_) sub_->Notification(component, operation);
    return;
  }
  if (operation == rtl::opRemove && component == sub_ && component) sub_ = nullptr;
  TVellHighlighter::Notification(component, operation);
}

TKeyBases TCustomExtHighlighter::SubBases(const TKeyBases& bases) const {
  return {bases.keywords + keywords_.Count(), bases.pairs + pairs_.Count()};
}

std::int16_t TCustomExtHighlighter::GetPriority(const DynInfoRec& run, const TKeyBases& bases) const {
  if (!(run.flags & kRunStyled) || !IsNestedRun(run)) return 0;
  const int entry = run.keys[run.level];
  if (entry >= 0) {
    const int index = entry - bases.keywords;
    if (index < 0) return kTopPriority;
    return index < keywords_.Count() ? keywords_.GetKeyInfo(index).priority : 0;
  }
  const int index = PairNumber(entry) - bases.pairs;
  return index >= 0 && index < pairs_.Count() ? pairs_.Pair(index).priority : 0;
}

DynInfoRec TCustomExtHighlighter::PairRun(int pair, const DynInfoRec& base, int level, int pairBase) const {
  return StartStopRun(pairs_.Pair(pair), base, level, pairBase + pair);
}

// ---- keywords ----

void TCustomExtHighlighter::ApplyKeywordsList(TVellNavigator* start, TVellNavigator* stop, int base) {
  if (!start->Memo()) return;
  ApplyKeywords(start, stop, {base, MemoPairBase(*start->Memo())});
}

void TCustomExtHighlighter::ApplyKeywords(TVellNavigator* start, TVellNavigator* stop, const TKeyBases& bases) {
  TVellMemo* memo = start->Memo();
  if (!memo || stop->Memo() != memo) return;
  if (active_ && keywords_.Count() > 0) {
    if (start->Pos() > stop->Pos()) std::swap(start, stop);
    const int first = start->GetParNb(), last = stop->GetParNb();
    const std::int32_t startOff = ClampedOffset(start), stopOff = ClampedOffset(stop);
    std::vector<Occurrence> found;
    for (int p = first; p <= last; ++p) {
      found.clear();
      CollectOccurrences(*memo, p, p == first ? startOff : -1, p == last ? stopOff : -1, found);
      for (const Occurrence& o : found) ApplyOccurrence(*memo, p, o, bases);
    }
  }
  if (!sub_) return;
  if (auto* ext = dynamic_cast<TCustomExtHighlighter*>(sub_)) ext->ApplyKeywords(start, stop, SubBases(bases));
  else sub_->ApplyKeywordsList(start, stop, bases.keywords + keywords_.Count());
}

// Every occurrence of every keyword in the window of one paragraph, keyword
// by keyword. Occurrences are not masked: overlapping keys are all found.
void TCustomExtHighlighter::CollectOccurrences(TVellMemo& memo, int parNb, std::int32_t startOff,
                                               std::int32_t stopOff, std::vector<Occurrence>& found) {
  const ParInfo& p = *memo.Pars().At(parNb);
  const std::int32_t len = p.length;
  const int maxLen = keywords_.MaxLength();
  const std::int32_t lo = startOff >= 0 ? std::max(startOff - maxLen - 1, 0) : 0;
  const std::int32_t hi = stopOff >= 0 ? std::min(stopOff + maxLen, len) : len;
  if (hi <= lo) return;
  const std::string_view exact(p.text + lo, hi - lo);
  std::string upperCopy;
  if (keywords_.HasCaseBlind()) upperCopy = UpperCaseCopy(memo.UpperCaseType(), std::string(exact));
  const std::string_view upper(upperCopy);
  for (int k = 0; k < keywords_.Count(); ++k) {
    const TExtKeywordInfo info = keywords_.GetKeyInfo(k);
    if (info.context == 0) continue;
    const std::string& key = keywords_.Key(k);
    const std::int32_t kl = static_cast<std::int32_t>(key.size());
    if (kl == 0) continue;
    const std::int32_t from = startOff >= 0 ? std::max(startOff - kl - lo, 0) : 0;
    const std::int32_t cut = (stopOff >= 0 ? std::min(stopOff + kl, hi) : hi) - lo;
    const std::string_view hay = ((info.options & kMatchCase) ? exact : upper).substr(0, cut);
    const bool whole = (info.options & kWholeWordsOnly) != 0;
    for (std::size_t pos = from;;) {
      const std::size_t at = hay.find(key, pos);
      if (at == std::string_view::npos) break;
      const std::int32_t abs = lo + static_cast<std::int32_t>(at);
      if (whole) {
        const bool before = abs == 0 || IsSeparator(static_cast<unsigned char>(p.text[abs - 1]));
        const bool after = abs + kl >= len || IsSeparator(static_cast<unsigned char>(p.text[abs + kl]));
        if (!before || !after) {
          pos = at + 1;
          continue;
        }
      }
      found.push_back({abs, k, kl});
      pos = at + kl;
    }
  }
}

void TCustomExtHighlighter::ApplyOccurrence(TVellMemo& memo, int parNb, const Occurrence& o,
                                            const TKeyBases& bases) {
  const ParInfo* t = memo.Pars().At(parNb);
  const DynInfoRec inForce = par::StateOfChar(*t, o.offset);
  const int level = EffectiveLevel(inForce);
  if (level + 1 > kMaxLevel) return;
  const std::int32_t context = (inForce.flags & kRunStyled) ? inForce.context : 0;
  const TExtKeywordInfo info = keywords_.GetKeyInfo(o.keyword);
  const bool passes = info.priority == kTopPriority ||
                      (info.scope == 0 && GetPriority(inForce, bases) < info.priority) || info.scope == context;
  if (!passes) return;
  // The runs that change inside the occurrence must nest within it.
  const std::int32_t end = o.offset + o.length;
  const int inside = par::RunsUpTo(*t, o.offset), after = par::RunIndexAt(*t, end);
  for (int r = inside; r < after; ++r)
    if (EffectiveLevel(t->runs[r]) < level || IsStartStopRun(t->runs[r])) return;
  if (after > inside && IsKeywordRun(t->runs[after - 1])) return;

  const std::int32_t parStart = memo.ParStart(parNb);
  TVellNavigator a(&memo), b(&memo);
  a.SetPos(parStart + o.offset);
  b.SetPos(parStart + end);
  if (OnKeyword) {
    bool accept = true;
    OnKeyword(this, &a, &b, o.keyword, accept);
    if (!accept) return;
    a.Invalidate();
    a.SetPos(parStart + o.offset);
    b.Invalidate();
    b.SetPos(parStart + end);
  }
  ParInfo& q = *memo.Pars().At(parNb);
  DynInfoRec run = par::StateBefore(q, par::RunIndexAt(q, end));
  run.flags = static_cast<std::uint8_t>((info.styles & 0x0F) | 0xC0);
  run.level = static_cast<std::int8_t>(level + 1);
  for (int l = level + 1; l < 16; ++l) run.keys[l] = 0;
  run.keys[level + 1] = static_cast<std::int16_t>(bases.keywords + o.keyword);
  run.background = info.background;
  run.foreground = info.foreground;
  run.context = info.context;
  run.cursor = info.cursor;
  run.openLength = run.closeLength = static_cast<std::uint8_t>(std::min(o.length, 255));
  if (level >= 0) {
    const int before = par::RunsUpTo(q, o.offset);
    if (before > 0) par::SetCloseLength(q, before - 1, 0);
  }
  memo.SetDynStyleP(&a, &b, run, false, true);
}

// ---- start/stop keys ----

bool TCustomExtHighlighter::FindStart(TVellNavigator* start, TVellNavigator* stop, int base) {
  if (!start->Memo()) return false;
  return FindStartKey(start, stop, {start->Memo()->Keywords().Count(), base});
}

bool TCustomExtHighlighter::FindStartKey(TVellNavigator* start, TVellNavigator* stop, const TKeyBases& bases) {
  TVellMemo* memo = start->Memo();
  if (!memo || stop->Memo() != memo) return false;
  TVellNavigator* s = start;
  TVellNavigator* e = stop;
  if (s->Pos() > e->Pos()) std::swap(s, e);
  const int first = s->GetParNb(), last = e->GetParNb();
  const std::int32_t startOff = ClampedOffset(s), stopOff = ClampedOffset(e);
  // Positions in order; at each one our pairs first, then the sub's.
  for (int p = first; p <= last; ++p) {
    const ParInfo* t = memo->Pars().At(p);
    const std::int32_t from = p == first ? startOff : 0;
    const std::int32_t to = p == last ? stopOff : t->length;
    if (to <= from) continue;
    const std::string upper = UpperCaseCopy(memo->UpperCaseType(), std::string(t->text, t->length));
    for (std::int32_t i = from; i < to; ++i) {
      if (EffectiveLevel(par::StateOfChar(*memo->Pars().At(p), i)) >= kMaxLevel) continue;
      if (OpenStartAt(*memo, p, i, to, upper, start, bases)) return true;
    }
  }
  // A sub-highlighter of another kind is asked only when nothing was found.
  if (sub_ && !dynamic_cast<TCustomExtHighlighter*>(sub_))
    return sub_->FindStart(start, stop, bases.pairs + pairs_.Count());
  return false;
}

bool TCustomExtHighlighter::OpenStartAt(TVellMemo& memo, int parNb, std::int32_t i, std::int32_t to,
                                        const std::string& upper, TVellNavigator* start, const TKeyBases& bases) {
  if (active_ && pairs_.Count() > 0) {
    if (!pairs_.BoundsValid()) pairs_.ComputeBounds(separators_);
    ParInfo* t = memo.Pars().At(parNb);
    const std::int32_t len = t->length;
    const DynInfoRec inForce = par::StateOfChar(*t, i);
    const int level = EffectiveLevel(inForce);
    const std::int32_t context = (inForce.flags & kRunStyled) ? inForce.context : 0;
    const std::int16_t priority = GetPriority(inForce, bases);
    const auto sep = [&](std::int32_t at) { return IsSeparator(static_cast<unsigned char>(t->text[at])); };
    for (int j = 0; j < pairs_.Count(); ++j) {
      const TStartStopKey& k = pairs_.Pair(j);
      const std::int32_t sl = k.startLength;
      if (sl == 0 || i + sl > to) continue;
      const bool passes = k.priority == kTopPriority || (k.scope == 0 && k.priority > priority) ||
                          (k.scope == context && (k.scope != 0 || level < 0));
      if (!passes) continue;
      const char* hay = (k.options & kMatchCase) ? t->text : upper.c_str();
      if (std::memcmp(hay + i, k.startKey.data(), sl) != 0) continue;
      if (k.options & kWholeWordsOnly) {
        if (!IsSeparator(static_cast<unsigned char>(k.startKey.front())) && i > 0 && !sep(i - 1)) continue;
        if (!IsSeparator(static_cast<unsigned char>(k.startKey.back())) && i + sl < len && !sep(i + sl)) continue;
      }
      // A key that is also its own stop key closes the run it opened.
      if (k.startKey == k.stopKey && IsStartStopRun(inForce) && inForce.keys[level] == PairEntry(bases.pairs + j))
        continue;
      const std::int32_t parStart = memo.ParStart(parNb);
      if (OnStart) {
        TVellNavigator at(&memo);
        at.SetPos(parStart + i);
        bool accept = true;
        OnStart(this, &at, nullptr, j, accept);
        if (!accept) continue;
        t = memo.Pars().At(parNb);
      }
      // The run opens one level deeper; what followed it in the range goes.
      const int r0 = par::RunIndexAt(*t, i);
      par::RemoveRuns(*t, r0, par::RunsUpTo(*t, to) - r0);
      if (level + 1 > 0 && r0 > 0) par::SetCloseLength(*t, r0 - 1, 0);
      DynInfoRec run = PairRun(j, inForce, level + 1, bases.pairs);
      run.offset = i;
      par::InsertRun(*t, r0, run);
      t->formatted = false;
      InvalidateNavs(memo.Navigators(), parStart + i - 1, parNb);
      start->Invalidate();
      start->SetPos(parStart + i + sl);
      return true;
    }
  }
  auto* ext = dynamic_cast<TCustomExtHighlighter*>(sub_);
  return ext && ext->OpenStartAt(memo, parNb, i, to, upper, start, SubBases(bases));
}

bool TCustomExtHighlighter::OpenNestedStart(TVellMemo& memo, int parNb, std::int32_t from, std::int32_t limit,
                                            std::int32_t to, const std::string& upper, TVellNavigator* start,
                                            const TKeyBases& bases) {
  for (std::int32_t i = from; i < limit; ++i) {
    if (EffectiveLevel(par::StateOfChar(*memo.Pars().At(parNb), i)) >= kMaxLevel) return false;
    if (OpenStartAt(memo, parNb, i, to, upper, start, bases)) return true;
  }
  return false;
}

bool TCustomExtHighlighter::FindStop(TVellNavigator* start, TVellNavigator* stop, int base) {
  if (!start->Memo()) return false;
  const TKeyBases bases{start->Memo()->Keywords().Count(), base};
  return FindStopKey(start, stop, bases, this, bases);
}

// Closes an open run of one of our pairs at its stop key. A start key that
// the gates allow before the stop opens a nested run first (the caller
// then asks again for the nested run's stop, and later for ours).
bool TCustomExtHighlighter::FindStopKey(TVellNavigator* start, TVellNavigator* stop, const TKeyBases& bases,
                                        TCustomExtHighlighter* root, const TKeyBases& rootBases) {
  TVellMemo* memo = start->Memo();
  if (!memo || stop->Memo() != memo) return false;
  const int p = start->GetParNb();
  ParInfo* t = memo->Pars().At(p);
  const std::int32_t len = t->length;
  const std::int32_t off = ClampedOffset(start);
  const int openIdx = par::RunsUpTo(*t, off) - 1;  // -1: the paragraph's start state
  const DynInfoRec inForce = par::StateBefore(*t, openIdx + 1);
  const int level = EffectiveLevel(inForce);
  if (level < 0) return false;
  const int entry = inForce.keys[level];
  const int number = entry < 0 ? PairNumber(entry) - bases.pairs : -1;
  if (!active_ || entry >= 0 || number < 0 || number >= pairs_.Count()) {
    if (!sub_) return false;
    if (auto* ext = dynamic_cast<TCustomExtHighlighter*>(sub_))
      return ext->FindStopKey(start, stop, SubBases(bases), root, rootBases);
    return sub_->FindStop(start, stop, bases.pairs + pairs_.Count());
  }
  if (!pairs_.BoundsValid()) pairs_.ComputeBounds(separators_);
  const TStartStopKey k = pairs_.Pair(number);
  const bool toSeparator = k.scope == kScopeToSeparator;
  const std::int32_t sl = toSeparator ? 0 : k.stopLength;
  const int extraFirst = k.stopFirstNeedsBoundary ? 1 : 0;
  const int extraLast = k.stopLastNeedsBoundary ? 1 : 0;
  const std::int32_t winEnd =
      stop->GetParNb() == p ? std::min(ClampedOffset(stop) + sl + extraLast, len) : len;
  // The window may reach back for a stop key that straddles the
  // navigator, but never into the key that opened the run.
  const std::int32_t openEnd =
      openIdx >= 0 ? t->runs[openIdx].offset + par::RunContents(t->runs[openIdx]).openLength : 0;
  const std::int32_t winStart = std::max(std::min(off, std::max(off - sl - extraFirst, openEnd)), 0);
  const std::string upper = UpperCaseCopy(memo->UpperCaseType(), std::string(t->text, len));
  const char* hay = (k.options & kMatchCase) ? t->text : upper.c_str();
  const auto sep = [&](std::int32_t at) { return IsSeparator(static_cast<unsigned char>(t->text[at])); };
  const std::int32_t parStart = memo->ParStart(p);

  for (std::int32_t searchFrom = winStart, scanFrom = off;;) {
    std::int32_t found = -1;
    if (toSeparator) {
      for (std::int32_t i = std::max(searchFrom, off); i < winEnd && found < 0; ++i)
        if (sep(i)) found = i;
    } else if (sl > 0) {
      for (std::int32_t i = searchFrom; i + sl <= winEnd && found < 0; ++i) {
        if (i + sl <= off || std::memcmp(hay + i, k.stopKey.data(), sl) != 0) continue;
        if (k.stopFirstNeedsBoundary && i > 0 && !sep(i - 1)) continue;
        if (k.stopLastNeedsBoundary && i + sl < len && !sep(i + sl)) continue;
        found = i;
      }
    }
    const std::int32_t limit = found >= 0 ? found : winEnd;
    if (root->OpenNestedStart(*memo, p, scanFrom, limit, winEnd, upper, start, rootBases)) return true;
    t = memo->Pars().At(p);
    bool atParEnd = false;
    if (found < 0) {
      if (!k.finalFlag || winEnd < len) return false;
      found = len;
      atParEnd = true;
    }
    const std::int32_t after = atParEnd ? len : found + sl;
    if (OnStop) {
      TVellNavigator a(memo), b(memo);
      a.SetPos(parStart + found);
      b.SetPos(parStart + after);
      bool accept = true;
      OnStop(this, &a, &b, number, accept);
      t = memo->Pars().At(p);
      if (!accept) {
        if (atParEnd) return false;
        scanFrom = found;
        searchFrom = found + 1;
        continue;
      }
    }
    // The runs between the navigator and the end go.
    const int r0 = par::RunsUpTo(*t, off);
    par::RemoveRuns(*t, r0, par::RunsUpTo(*t, after) - r0);
    if (openIdx >= 0 && !atParEnd)
      par::SetCloseLength(*t, openIdx, static_cast<std::uint8_t>(std::min(sl + extraFirst, 255)));
    // What follows: a pair continuing from the same start key, or the
    // state of the enclosing level.
    int next = -1;
    for (int j = number + 1; j < pairs_.Count() && next < 0; ++j) {
      const TStartStopKey& c = pairs_.Pair(j);
      if (c.sameStart == number && c.scope == k.scope && c.priority == k.priority) next = j;
    }
    DynInfoRec run = next >= 0 ? PairRun(next, inForce, level, bases.pairs)
                               : EnclosingState(*memo, p, std::max(openIdx, 0), level - 1);
    run.offset = after;
    par::InsertRun(*t, par::RunIndexAt(*t, after), run);
    t->formatted = false;
    InvalidateNavs(memo->Navigators(), parStart + off - 1, p);
    start->Invalidate();
    start->SetPos(parStart + after);
    return true;
  }
}

}  // namespace memo
