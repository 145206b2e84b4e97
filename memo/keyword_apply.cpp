// Keyword and start/stop application, and the dynamic styles they and the
// user set through SetDynStyleP.
//
// Key entries of a run say what opened each level: a keyword stores its
// index (the memo's keywords from 0, a highlighter's after them); a
// start/stop pair stores its number with the high bit set (number - 32768).
//
// Keyword runs and start/stop runs are derived from the text: whenever a
// paragraph is applied again, its derived runs are rebuilt as a whole, so
// that applying after edits gives what applying to the final text gives.
// User runs (SetDynStyle, level 255) are kept over a rebuild.
#include <algorithm>
#include <cstring>

#include "memo/highlighter.h"
#include "memo/vell_memo.h"

namespace memo {
namespace {

constexpr char kMask = 5;

bool EqualForPropagation(const DynInfoRec& a, const DynInfoRec& b) {
  if ((a.flags & 0xC0) != (b.flags & 0xC0)) return false;
  if (!(a.flags & kRunStyled)) return true;
  if (a.level != b.level) return false;
  if (a.level < 0 || a.level > kMaxLevel) return true;
  for (int l = 0; l <= a.level; ++l)
    if (a.keys[l] != b.keys[l]) return false;
  return true;
}

bool KeywordsAllowed(const DynInfoRec& run) { return !(run.flags & kRunStyled) || run.context == 0; }

struct Occurrence {
  std::int32_t offset;
  int keyword;
  std::int32_t length;
};

struct UserInterval {
  std::int32_t a, b;
  DynInfoRec record;
};

// The stretches of a paragraph under a user run (keyword runs inside them
// do not end them), with the run that styles each.
std::vector<UserInterval> UserIntervals(const ParInfo& p) {
  std::vector<UserInterval> users;
  bool open = p.startState && IsUserRun(*p.startState);
  DynInfoRec cur = open ? *p.startState : DynInfoRec();
  std::int32_t from = 0;
  for (int r = 0; r < p.runCount; ++r) {
    const DynInfoRec run = p.runs[r].Record();
    if (IsKeywordRun(run)) continue;
    if (IsUserRun(run)) {
      if (open && SameRunContents(run, cur)) continue;
      if (open && run.offset > from) users.push_back({from, run.offset, cur});
      open = true;
      cur = run;
      from = run.offset;
    } else if (open) {
      if (run.offset > from) users.push_back({from, run.offset, cur});
      open = false;
    }
  }
  if (open && p.length > from) users.push_back({from, p.length, cur});
  return users;
}

// The first stop key of k in hay[from, len) whose ends stand at the
// boundaries the key asks for; -1 when none. hay is NUL-terminated at len.
template <typename IsDelimiter>
std::int32_t FindStopKey(const TStartStopKey& k, const char* hay, std::int32_t from, std::int32_t len,
                         const IsDelimiter& isDelimiter) {
  const std::int32_t sl = k.stopLength;
  while (from + sl <= len) {
    const char* hit = std::strstr(hay + from, k.stopKey.c_str());
    if (!hit) return -1;
    const std::int32_t f = static_cast<std::int32_t>(hit - hay);
    if (f + sl > len) return -1;
    const bool ok = (!k.stopFirstNeedsBoundary || f == 0 || isDelimiter(f - 1)) &&
                    (!k.stopLastNeedsBoundary || f + sl >= len || isDelimiter(f + sl));
    if (ok) return f;
    from = f + 1;
  }
  return -1;
}

struct KeyHit {
  std::int32_t offset = -1;
  int pair = -1;
};

// The leftmost start key at or after from (at one offset the pair listed
// first), with its boundaries as the key asks; pair -1 when none.
template <typename HayFor, typename IsDelimiter>
KeyHit FindStartKey(const TStartStopKeyList& keys, int nPairs, const HayFor& hayFor, std::int32_t from,
                    std::int32_t len, const IsDelimiter& isDelimiter) {
  for (std::int32_t i = from; i < len && nPairs > 0; ++i) {
    for (int j = 0; j < nPairs; ++j) {
      const TStartStopKey& k = keys.Pair(j);
      const std::int32_t sl = k.startLength;
      if (sl == 0 || i + sl > len) continue;
      if (std::memcmp(hayFor(k) + i, k.startKey.data(), sl) != 0) continue;
      if (k.startFirstNeedsBoundary && i > 0 && !isDelimiter(i - 1)) continue;
      if (k.startLastNeedsBoundary && i + sl < len && !isDelimiter(i + sl)) continue;
      return KeyHit{i, j};
    }
  }
  return KeyHit{};
}

}  // namespace

// ---- keywords ----

void TVellMemo::StripKeywordRuns(ParInfo& p) {
  DynInfoRec base = p.startState ? *p.startState : DynInfoRec();
  par::KeepRunsIf(p, [&](DynRun& run) {
    if (IsKeywordRun(run)) return false;
    const DynInfoRec& contents = par::RunContents(run);
    if (SameRunContents(contents, base)) return false;
    base = contents;
    return true;
  });
}

void TVellMemo::ApplyKeywordsPar(int index) {
  ParInfo& p = *pars_.At(index);
  const bool own = apply_keywords_ && keywords_->Count() > 0;
  if (!own && !highlighter_) {
    p.keywordsApplied = true;
    return;
  }
  StripKeywordRuns(p);
  if (highlighter_) {
    TVellNavigator& a = *scratch_[0];
    TVellNavigator& b = *scratch_[1];
    a.SetPos(pars_.Start(index));
    b.SetPos(pars_.Start(index) + p.length);
    highlighter_->ApplyKeywordsList(&a, &b, keywords_->Count());
  }
  ParInfo& q = *pars_.At(index);
  if (own && q.length > 0) {
    const std::int32_t len = q.length;
    std::string exact(q.text, len);
    std::string upper;
    if (keywords_->HasCaseBlind()) upper = UpperCaseCopy(upper_case_type_, exact);
    // Characters where keywords are not allowed cannot match.
    {
      int r = 0;
      const DynInfoRec* state = q.startState;
      for (std::int32_t i = 0; i < len; ++i) {
        while (r < q.runCount && q.runs[r].offset <= i) state = &par::RunContents(q.runs[r++]);
        if (state && !KeywordsAllowed(*state)) {
          exact[i] = kMask;
          if (!upper.empty()) upper[i] = kMask;
        }
      }
    }
    std::vector<Occurrence> found;
    for (int k = 0; k < keywords_->Count(); ++k) {
      TKeywordInfo info = keywords_->getKeyInfo(k);
      if (info.context == 0) continue;
      const std::string& key = keywords_->Key(k);
      const std::int32_t kl = static_cast<std::int32_t>(key.size());
      if (kl == 0 || kl > len) continue;
      const bool match = (info.options & kMatchCase) != 0;
      const bool whole = (info.options & kWholeWordsOnly) != 0;
      std::size_t from = 0;
      for (;;) {
        const std::string& hay = match ? exact : upper;
        std::size_t at = hay.find(key, from);
        if (at == std::string::npos) break;
        std::int32_t f = static_cast<std::int32_t>(at);
        bool ok = true;
        if (whole) {
          bool before = f == 0 || delimiters_.test(static_cast<unsigned char>(hay[f - 1]));
          bool after = f + kl >= len || delimiters_.test(static_cast<unsigned char>(hay[f + kl]));
          ok = before && after;
        }
        if (!ok) {
          from = at + 1;
          continue;
        }
        found.push_back({f, k, kl});
        std::memset(exact.data() + f, kMask, kl);
        if (!upper.empty()) std::memset(upper.data() + f, kMask, kl);
        from = at + kl;
      }
    }
    // Applied in batches of 16, in the order found.
    for (const Occurrence& o : found) {
      ParInfo& t = *pars_.At(index);
      int before = par::RunsUpTo(t, o.offset);
      DynInfoRec inForce = par::StateBefore(t, before);
      int level = EffectiveLevel(inForce);
      if (level + 1 > kMaxLevel) continue;
      if (level >= 0 && before > 0) par::SetCloseLength(t, before - 1, 0);
      const DynInfoRec& atEnd = par::StateBefore(t, par::RunIndexAt(t, o.offset + o.length));
      TKeywordInfo info = keywords_->getKeyInfo(o.keyword);
      DynInfoRec run = atEnd;
      run.flags = static_cast<std::uint8_t>((info.styles & 0x0F) | 0xC0);
      run.level = static_cast<std::int8_t>(level + 1);
      run.background = info.background;
      run.foreground = info.foreground;
      run.context = info.context;
      run.cursor = info.cursor;
      run.keys[level + 1] = static_cast<std::int16_t>(o.keyword);
      run.openLength = run.closeLength = static_cast<std::uint8_t>(std::min(o.length, 255));
      SetDynRange(index, o.offset, index, o.offset + o.length, run, true);
    }
  }
  ParInfo& done = *pars_.At(index);
  done.keywordsApplied = true;
  for (TVellNavigator* nav : navigators_)
    if (nav->parNb_ == index) nav->dynNb_ = kUnset;
  // A keyword cut at the paragraph's end by an edit may have been in force
  // there: the next paragraph starts in what is in force now.
  PropagateEndState(index);
}

void TVellMemo::ApplyKeywordsList(TVellNavigator* startNav, TVellNavigator* stopNav) {
  int a = startNav->GetParNb(), b = stopNav->GetParNb();
  if (a > b) std::swap(a, b);
  for (int p = a; p <= b; ++p) ApplyKeywordsPar(p);
}

// ---- start/stop keys ----

DynInfoRec TVellMemo::PairRun(int pair, const DynInfoRec& base, int level) const {
  return StartStopRun(start_stop_keys_->Pair(pair), base, level, pair);
}

DynInfoRec TVellMemo::EnclosingState(int index, const DynInfoRec& run, int level) {
  if (level >= 0 && level <= kMaxLevel && run.keys[level] < 0) {
    int pair = PairNumber(run.keys[level]);
    if (pair < start_stop_keys_->Count()) return PairRun(pair, run, level);
  }
  // Step back over runs of earlier paragraphs to the enclosing level.
  for (int q = index - 1; q >= 0; --q) {
    const ParInfo& p = *pars_.At(q);
    for (int r = p.runCount - 1; r >= 0; --r)
      if (EffectiveLevel(p.runs[r]) <= level) return p.runs[r].Record();
    if (p.startState && EffectiveLevel(*p.startState) <= level) return *p.startState;
  }
  return DynInfoRec();
}

void TVellMemo::ParseStartStopPar(int index) {
  ParInfo& p = *pars_.At(index);
  const int nPairs = apply_start_stop_keys_ ? start_stop_keys_->Count() : 0;
  if (nPairs == 0 && !highlighter_) {
    p.parsed = true;
    PropagateEndState(index);
    return;
  }
  if (!start_stop_keys_->BoundsValid()) start_stop_keys_->ComputeBounds(delimiters_);

  // User intervals survive the rebuild.
  const std::vector<UserInterval> users = UserIntervals(p);
  par::ClearRuns(p);

  const char* text = p.text ? p.text : "";
  const std::int32_t len = p.length;
  std::string upper = UpperCaseCopy(upper_case_type_, std::string(text, len));
  auto hayFor = [&](const TStartStopKey& k) { return (k.options & kMatchCase) ? text : upper.c_str(); };
  auto isDelimiter = [&](std::int32_t i) { return delimiters_.test(static_cast<unsigned char>(text[i])); };
  auto append = [&](std::int32_t offset, DynInfoRec run) {
    ParInfo& t = *pars_.At(index);
    run.offset = offset;
    par::InsertRun(t, t.runCount, run);
  };

  DynInfoRec state = p.startState ? *p.startState : DynInfoRec();
  std::vector<DynInfoRec> stack;
  std::int32_t pos = 0;
  std::int32_t keyEnd = 0;
  // Asks the highlighter for the stop of its run in force (or its next
  // start) after pos; when one is found in this paragraph, goes on from it.
  auto highlighterMoves = [&](bool stop) {
    TVellNavigator& a = *scratch_[0];
    TVellNavigator& b = *scratch_[1];
    a.SetPos(pars_.Start(index) + pos);
    b.SetPos(pars_.Start(index) + len);
    const bool found = stop ? highlighter_->FindStop(&a, &b, nPairs) : highlighter_->FindStart(&a, &b, nPairs);
    if (!found || a.GetParNb() != index || a.GetOffset() <= pos) return false;
    pos = a.GetOffset();
    const ParInfo& t = *pars_.At(index);
    state = par::StateBefore(t, par::RunsUpTo(t, pos));
    keyEnd = pos;
    stack.clear();
    return true;
  };
  for (int guard = 0; pos <= len && guard <= 2 * len + 4; ++guard) {
    if (IsStartStopRun(state)) {
      const int pair = PairNumber(state.keys[state.level]);
      if (pair >= nPairs) {
        if (!highlighter_ || !highlighterMoves(true)) break;
        continue;
      }
      const TStartStopKey& k = start_stop_keys_->Pair(pair);
      const std::int32_t sl = k.stopLength;
      const std::int32_t found = sl > 0 ? FindStopKey(k, hayFor(k), std::max(pos, keyEnd), len, isDelimiter) : -1;
      const int level = state.level;
      DynInfoRec enclosing;
      if (!stack.empty()) {
        enclosing = stack.back();
      } else {
        enclosing = EnclosingState(index, state, level - 1);
      }
      if (found >= 0) {
        const int root = k.sameStart >= 0 ? k.sameStart : pair;
        int cont = -1;
        for (int j = pair + 1; j < nPairs; ++j)
          if (start_stop_keys_->Pair(j).sameStart == root) {
            cont = j;
            break;
          }
        DynInfoRec next;
        if (cont >= 0) {
          next = PairRun(cont, state, level);
        } else {
          next = enclosing;
          if (!stack.empty()) stack.pop_back();
        }
        append(found + sl, next);
        state = next;
        pos = found + sl;
        keyEnd = pos;
        continue;
      }
      if (k.finalFlag) {
        if (!stack.empty()) stack.pop_back();
        append(len, enclosing);
        state = enclosing;
      }
      break;
    }
    // Looking for a start key.
    if (EffectiveLevel(state) + 1 > kMaxLevel) break;
    const KeyHit start = FindStartKey(*start_stop_keys_, nPairs, hayFor, pos, len, isDelimiter);
    if (start.pair >= 0) {
      stack.push_back(state);
      DynInfoRec run = PairRun(start.pair, state, EffectiveLevel(state) + 1);
      append(start.offset, run);
      state = run;
      pos = start.offset + start_stop_keys_->Pair(start.pair).startLength;
      keyEnd = pos;
      continue;
    }
    if (highlighter_ && highlighterMoves(false)) continue;
    break;
  }

  // A user run in force at the paragraph's end stays so: the next
  // paragraph starts in it.
  for (const UserInterval& u : users) SetDynRange(index, u.a, index, u.b, u.record, true, u.b < len);

  ParInfo& done = *pars_.At(index);
  done.parsed = true;
  done.keywordsApplied = false;
  done.formatted = false;
  for (TVellNavigator* nav : navigators_)
    if (nav->parNb_ == index) {
      nav->dynNb_ = kUnset;
      nav->parLine_ = kUnset;
    }
  PropagateEndState(index);
}

void TVellMemo::PropagateEndState(int index) {
  if (index + 1 >= pars_.Count()) return;
  ParInfo& p = *pars_.At(index);
  ParInfo& next = *pars_.At(index + 1);
  const DynInfoRec& end = par::EndState(p);
  if (next.startState && SameRunContents(end, *next.startState)) return;
  bool differs = !next.startState || !EqualForPropagation(end, *next.startState);
  DynInfoRec* state = p.runCount == 0 ? RetainStartState(p.startState) : CopyAsStartState(end);
  par::ReplaceStartState(next, state);
  // Parsed again only when the start/stop rule sees a difference; laid out
  // and highlighted again whenever the state differs at all (user runs of
  // other styles compare equal under that rule).
  if (differs) next.parsed = false;
  next.formatted = false;
  next.keywordsApplied = false;
  if (bg_last_ < 0) {
    bg_next_ = index + 1;
    bg_last_ = index + 1;
  } else {
    bg_next_ = std::min(bg_next_, index + 1);
    bg_last_ = std::max(bg_last_, index + 1);
  }
}

bool TVellMemo::EnsureParsed(int index) {
  ParInfo& p = *pars_.At(index);
  if (p.parsed) return false;
  const bool sources = (apply_start_stop_keys_ && start_stop_keys_->Count() > 0) || highlighter_;
  if (!sources) {
    ParseStartStopPar(index);  // hands the end state on
    return false;
  }
  ParseStartStopNow(index);
  if (!pars_.At(index)->parsed) ParseStartStopPar(index);
  return true;
}

void TVellMemo::ParseStartStopNow(int paragraph) {
  paragraph = std::min(paragraph, pars_.Count() - 1);
  for (int p = std::max(last_parsed_ + 1, 0); p <= paragraph; ++p) {
    ParInfo& par = *pars_.At(p);
    if (par.parsed) continue;
    ParseStartStopPar(p);
  }
  last_parsed_ = std::max(last_parsed_, paragraph);
}

void TVellMemo::ApplyStartStopKeyList(TVellNavigator* startNav, TVellNavigator* stopNav) {
  int a = startNav->GetParNb(), b = stopNav->GetParNb();
  if (a > b) std::swap(a, b);
  for (int p = a; p <= b; ++p) ParseStartStopPar(p);
}

void TVellMemo::ReApplyKeywords() {
  DynInfoRec* shared = pars_.At(0)->startState;
  if (!shared || !SameRunContents(*shared, DynInfoRec())) {
    shared = NewStartState();
    par::ReplaceStartState(*pars_.At(0), shared);
  }
  for (int i = 0; i < pars_.Count(); ++i) {
    ParInfo& p = *pars_.At(i);
    par::ClearRuns(p);
    par::ShrinkRuns(p);
    p.formatted = false;
    p.parsed = false;
    p.keywordsApplied = false;
    if (i > 0 && p.startState != shared) par::ReplaceStartState(p, RetainStartState(shared));
  }
  InvalidateAllNavs();
  last_parsed_ = -1;
  Reformat();
  if (window_) window_->Repaint();
}

// ---- dynamic styles ----

void TVellMemo::SetDynRange(int p1, std::int32_t o1, int p2, std::int32_t o2, const DynInfoRec& record,
                            bool apply, bool restore) {
  if (p1 > p2 || (p1 == p2 && o1 > o2)) {
    std::swap(p1, p2);
    std::swap(o1, o2);
  }
  // An empty range styles nothing (its run and the one restoring the state
  // after it would stand at the same offset).
  if (p1 == p2 && o1 == o2) return;
  ParInfo& a = *pars_.At(p1);
  const DynInfoRec inForce = par::StateBefore(a, par::RunIndexAt(a, o1));
  ParInfo& b = *pars_.At(p2);
  const DynInfoRec atStop = par::StateBefore(b, par::RunIndexAt(b, o2));
  DynInfoRec run = apply ? record : DynInfoRec();
  if (apply) run.flags |= kRunStyled;
  const bool addStart = apply || (inForce.flags & kRunStyled);

  // Remove the runs inside the range.
  for (int p = p1; p <= p2; ++p) {
    ParInfo& t = *pars_.At(p);
    int from = p == p1 ? par::RunIndexAt(t, o1) : 0;
    int to = p == p2 ? par::RunIndexAt(t, o2) : t.runCount;
    if (to > from) par::RemoveRuns(t, from, to - from);
    t.formatted = false;
  }
  if (p2 > p1) {
    DynInfoRec* shared = CopyAsStartState(addStart ? run : inForce);
    for (int p = p1 + 1; p <= p2; ++p)
      par::ReplaceStartState(*pars_.At(p), p == p1 + 1 ? shared : RetainStartState(shared));
  }
  if (addStart) {
    run.offset = o1;
    par::InsertRun(a, par::RunIndexAt(a, o1), run);
  }
  const bool endOfText = p2 == pars_.Count() - 1 && o2 >= b.length;
  if (restore && !endOfText && (apply || (atStop.flags & kRunStyled))) {
    DynInfoRec restore = atStop;
    restore.offset = o2;
    par::InsertRun(b, par::RunIndexAt(b, o2), restore);
  }
}

void TVellMemo::SetDynStyleP(TVellNavigator* startNav, TVellNavigator* stopNav, const DynInfoRec& record,
                             bool refresh, bool apply) {
  if (startNav->Pos() > stopNav->Pos()) std::swap(startNav, stopNav);
  int p1 = startNav->GetParNb(), p2 = stopNav->GetParNb();
  std::int32_t o1 = std::min(startNav->GetOffset(), pars_.At(p1)->length);
  std::int32_t o2 = std::min(stopNav->GetOffset(), pars_.At(p2)->length);
  if (refresh) ExtendMods(p1, startNav->GetParLine(), p2);
  SetDynRange(p1, o1, p2, o2, record, apply);
  for (TVellNavigator* nav : navigators_)
    if (nav->parNb_ >= p1 && nav->parNb_ <= p2) {
      nav->dynNb_ = kUnset;
      nav->parLine_ = kUnset;
    }
}

void TVellMemo::SetDynStyle(std::int32_t start, std::int32_t stop, TFontStyles styles, bool flag,
                            std::int32_t context, TCursor cursor, TColor color1, TColor color2) {
  DynInfoRec r;
  r.flags = static_cast<std::uint8_t>((styles & 0x0F) | (flag ? kRunKeyword : 0));
  r.level = -1;
  r.context = context;
  r.cursor = cursor;
  r.background = color1;
  r.foreground = color2;
  TVellNavigator& a = *scratch_[0];
  TVellNavigator& b = *scratch_[1];
  a.SetPos(std::clamp(start, 0, text_len_));
  b.SetPos(std::clamp(stop, 0, text_len_));
  SetDynStyleP(&a, &b, r, true, true);
  InvalidateNavs(navigators_, std::min(a.Pos(), b.Pos()), pars_.Count());
  if (update_count_ == 0) EndUpdateRefresh();
}

void TVellMemo::ClearStyle(std::int32_t pos) {
  pos = std::clamp(pos, 0, text_len_);
  TVellNavigator& a = *scratch_[0];
  a.SetPos(pos);
  a.RightOfDyn();
  if (!(a.GetpDynInfo()->flags & kRunStyled)) return;
  TVellNavigator& b = *scratch_[1];
  b.SetPos(pos);
  b.RightOfDyn();
  if (!a.BackToDyn(0)) a.SetPos(0);
  b.SetPos(std::min(pos + 1, text_len_));
  if (!b.ForwardToDyn(text_len_)) b.SetPos(text_len_);
  SetDynStyleP(&a, &b, DynInfoRec(), true, false);
  InvalidateNavs(navigators_, a.Pos(), pars_.Count());
  if (update_count_ == 0) EndUpdateRefresh();
}

void TVellMemo::ClearStyleRange(std::int32_t start, std::int32_t stop) {
  TVellNavigator& a = *scratch_[0];
  TVellNavigator& b = *scratch_[1];
  a.SetPos(std::clamp(start, 0, text_len_));
  b.SetPos(std::clamp(stop, 0, text_len_));
  SetDynStyleP(&a, &b, DynInfoRec(), true, false);
  InvalidateNavs(navigators_, std::min(a.Pos(), b.Pos()), pars_.Count());
  if (update_count_ == 0) EndUpdateRefresh();
}

// Snapshot: int32 N, N x (60-byte run + int32 offset), then the text.
std::string TVellMemo::DynText(std::int32_t start, std::int32_t stop) {
  start = std::clamp(start, 0, text_len_);
  stop = std::clamp(stop, 0, text_len_);
  if (start > stop) std::swap(start, stop);
  if (start == stop) return std::string();
  std::vector<std::pair<DynInfoRec, std::int32_t>> entries;
  TVellNavigator& nav = *scratch_[2];
  nav.SetPos(start);
  int p = nav.GetParNb();
  const ParInfo& first = *pars_.At(p);
  entries.push_back({par::RecordBefore(first, par::RunsUpTo(first, std::min(nav.GetOffset(), first.length))), 0});
  for (; p < pars_.Count() && pars_.Start(p) < stop; ++p) {
    const ParInfo& par = *pars_.At(p);
    for (int r = 0; r < par.runCount; ++r) {
      std::int32_t at = pars_.Start(p) + par.runs[r].offset;
      if (at > start && at < stop) entries.push_back({par.runs[r].Record(), at - start});
    }
  }
  std::string out;
  auto put32 = [&](std::int32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
  put32(static_cast<std::int32_t>(entries.size()));
  for (auto& [run, offset] : entries) {
    out.append(reinterpret_cast<const char*>(&run), sizeof(DynInfoRec));
    put32(offset);
  }
  out += GetTextPart(start, stop);
  return out;
}

void TVellMemo::SetDynText(std::int32_t start, std::int32_t stop, const std::string& snapshot) {
  if (snapshot.empty()) return;
  auto get32 = [&](std::size_t at) {
    std::int32_t v;
    std::memcpy(&v, snapshot.data() + at, 4);
    return v;
  };
  if (snapshot.size() < 4) throw rtl::EReadError("Invalid dynamic text");
  const std::int64_t n = get32(0);
  if (n < 1 || static_cast<std::int64_t>(snapshot.size()) < 4 + n * 64)
    throw rtl::EReadError("Invalid dynamic text");
  std::string text = snapshot.substr(4 + n * 64);
  text = text.c_str();
  std::vector<std::pair<DynInfoRec, std::int32_t>> entries;
  for (std::int64_t i = 0; i < n; ++i) {
    DynInfoRec r;
    std::memcpy(&r, snapshot.data() + 4 + i * 64, sizeof(DynInfoRec));
    std::int32_t offset = get32(4 + i * 64 + 60);
    if (offset < 0 || offset > static_cast<std::int32_t>(text.size())) throw rtl::EReadError("Invalid dynamic text");
    if (r.flags & kRunStyled) {
      r.level = -1;
      r.flags &= static_cast<std::uint8_t>(~kRunKeyword);
    }
    entries.push_back({r, offset});
  }
  const bool backwards = getSelLength() < 0;
  start = std::clamp(start, 0, text_len_);
  stop = std::clamp(stop, 0, text_len_);
  if (start > stop) std::swap(start, stop);
  UndoAction action(undo_);
  BeginUpdate();
  try {
    setSelStart(start);
    setSelLength(stop - start);
    SetSelTextBuf(text.c_str());
    const std::int32_t end = start + static_cast<std::int32_t>(text.size());
    TVellNavigator& a = *scratch_[0];
    TVellNavigator& b = *scratch_[1];
    for (auto& [run, offset] : entries) {
      a.SetPos(start + offset);
      b.SetPos(end);
      if (a.Pos() < b.Pos()) SetDynStyleP(&a, &b, run, false, (run.flags & kRunStyled) != 0);
    }
    ExtendMods(a.GetParNb(), 0, b.GetParNb());
    if (backwards) {
      setSelStart(end);
      setSelLength(start - end);
    } else {
      setSelStart(start);
      setSelLength(end - start);
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

}  // namespace memo
