// Layout and refresh: ReformatPar, Reformat, FormatNow, the end-of-update
// refresh and background formatting in slices of at most 25 ms, continued
// by a message the memo posts to itself (or run to the end at once when
// the memo has no message queue).
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "memo/line_breaker.h"
#include "memo/vell_memo.h"

namespace memo {
namespace {

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

constexpr int kSliceMs = 25;

}  // namespace

TTextMeasurer* TVellMemo::CurrentMeasurer() const {
  if (foreign_measurer_) return foreign_measurer_;
  return window_ ? &window_->Measurer() : nullptr;
}

int TVellMemo::AvailableWidth() const {
  if (!word_wrap_ && alignment_ == taLeftJustify) return INT_MAX - right_margin_;
  int client = foreign_measurer_ ? foreign_width_ : (window_ ? window_->ClientWidth() : view_.client_width);
  return std::max(client - left_margin_ - right_margin_, 1);
}

namespace {

// The first line to lay out again after a change from offset `from`: the
// line before the one holding it, or earlier, so that the line begins a
// word (after a blank or tab) that ends before the change. The breaks up
// to there cannot move.
int FirstLineToRedo(const ParInfo& p, std::int32_t from) {
  const int holding = par::LineEndingAfter(p, from);
  int line = holding > 0 ? holding - 1 : 0;
  for (; line > 0; --line) {
    const std::int32_t start = par::Line(p, line).start;
    const char before = p.text[start - 1];
    if (before != ' ' && before != '\t') continue;
    std::int32_t end = start;
    while (end < from && p.text[end] != ' ' && p.text[end] != '\t') ++end;
    if (end < from) break;
  }
  return line;
}

// The old lines a partial layout may stop at.
struct OldLines {
  const ParInfo* p;
  int after;            // only lines after this one
  std::int32_t to;      // the end of the changed span
  int runDelta;
  bool staticFormat;
  int found = -1;       // the old line the layout stopped at
};

bool MeetsOldLine(void* context, std::int32_t start, std::uint8_t style, int run, bool inWord) {
  OldLines& old = *static_cast<OldLines*>(context);
  // A line starting right at the span's end may be the one that took the
  // edit in: only lines beyond it are as they were.
  if (start <= old.to) return false;
  // An old line there began a word when the text before it (style codes
  // aside) ends in a blank or a tab, else it went on with a word broken
  // there: the two are measured differently. Text of the span tells
  // nothing of the old layout.
  std::int32_t before = start - 1;
  while (before >= old.to && old.staticFormat && IsStyleCode(static_cast<unsigned char>(old.p->text[before])))
    --before;
  if (before < old.to) return false;
  const char c = old.p->text[before];
  if ((c != ' ' && c != '\t') != inWord) return false;
  int low = old.after + 1, high = old.p->lineCount - 1;
  while (low < high) {
    const int mid = (low + high) / 2;
    if (par::Line(*old.p, mid).start >= start) high = mid;
    else low = mid + 1;
  }
  if (low >= old.p->lineCount) return false;
  const LineInfo& line = par::Line(*old.p, low);
  if (line.start != start || static_cast<std::uint8_t>(line.startStyle) != style ||
      line.startRun + old.runDelta != run)
    return false;
  old.found = low;
  return true;
}

}  // namespace

void TVellMemo::ReplaceLines(int index, int first, const std::vector<LineInfo>& lines, int keepFrom, int runDelta) {
  ParInfo& p = *pars_.At(index);
  const int oldCount = p.lineCount;
  const int kept = keepFrom >= 0 ? oldCount - keepFrom : 0;
  const int n = static_cast<int>(lines.size());
  const int newCount = first + n + kept;
  if (runDelta != 0)
    for (int l = keepFrom; l >= 0 && l < oldCount; ++l) par::Line(p, l).startRun += runDelta;
  // Kept lines are never line 0 (a new line comes before them).
  if (kept > 0 && newCount < oldCount)
    std::memmove(p.moreLines + first + n - 1, p.moreLines + keepFrom - 1, sizeof(LineInfo) * kept);
  SetParLines(index, newCount);
  if (kept > 0 && newCount > oldCount)
    std::memmove(p.moreLines + first + n - 1, p.moreLines + keepFrom - 1, sizeof(LineInfo) * kept);
  for (int i = 0; i < n; ++i) par::Line(p, first + i) = lines[static_cast<std::size_t>(i)];
}

int TVellMemo::ReformatPar(int index, bool force) {
  ParInfo& p = *pars_.At(index);
  if (!p.keywordsApplied && (apply_keywords_ || highlighter_)) ApplyKeywordsPar(index);
  ParInfo& q = *pars_.At(index);
  q.keywordsApplied = true;
  q.formatted = true;
  unformatted_load_ = false;
  par::ShrinkRuns(q);
  const int before = q.lineCount;
  TTextMeasurer* measurer = CurrentMeasurer();
  TRelayoutHint::Span span;
  const bool partial =
      relayout_.Take(index, q, measurer, measurer ? AvailableWidth() : 0, span) && !force && q.lineCount > 1;
  if (!measurer) {
    std::vector<LineInfo> one(1);
    one[0].end = q.length;
    one[0].justifyStart = q.length;
    one[0].startStyle = q.line0.startStyle;
    one[0].startRun = par::RunsUpTo(q, 0);
    SetLayout(index, one);
    return 1 - before;
  }
  LayoutValues values;
  values.availableWidth = AvailableWidth();
  values.tabStops = tab_stops_;
  values.staticFormat = static_format_;
  values.fontStyle = font_.Style;
  int maxChar = measurer->MaxCharWidth();
  values.chunkLimit = maxChar > 0 ? std::max(16384 / maxChar, 1) : 4096;
  LayoutResult result;
  if (partial) {
    const int first = FirstLineToRedo(q, span.From);
    const LineInfo& line = par::Line(q, first);
    OldLines old{&q, first, span.To, span.RunDelta, static_format_};
    result = BreakLines(q, *measurer, values,
                        LayoutStart{line.start, static_cast<std::uint8_t>(line.startStyle), par::RunsUpTo(q, line.start)},
                        MeetsOldLine,
                        &old);
    ReplaceLines(index, first, result.lines, result.stoppedAt >= 0 ? old.found : -1, span.RunDelta);
  } else {
    result = BreakLines(q, *measurer, values);
    SetLayout(index, result.lines);
  }
  if (result.widest > widest_width_) {
    widest_width_ = result.widest;
    if (!word_wrap_) widest_par_ = index;
  }
  line_nav_->SetPos(pars_.Start(index));
  line_nav_->GetNavLines();
  return pars_.At(index)->lineCount - before;
}

void TVellMemo::DropLineCaches(int firstPar, int lastPar) {
  for (TVellNavigator* nav : navigators_)
    if (nav->par_ && nav->parNb_ >= firstPar && nav->parNb_ <= lastPar) nav->parLine_ = kUnset;
}

void TVellMemo::ReportProgress(int percent, bool force) {
  if (!OnProgress) {
    progress_ = percent;
    return;
  }
  std::int64_t now = NowMs();
  if (!force && now - last_progress_ms_ <= ProgressInterval) return;
  last_progress_ms_ = now;
  progress_ = percent;
  OnProgress(this);
}

void TVellMemo::Reformat() {
  for (int i = 0; i < pars_.Count(); ++i) pars_.At(i)->formatted = false;
  FormatAgain();
}

void TVellMemo::FormatAgain() {
  relayout_.Drop();
  widest_width_ = 0;
  widest_par_ = -1;
  formatted_up_to_ = 0;
  bg_next_ = 0;
  bg_last_ = pars_.Count() - 1;
  if ((ComponentState() & rtl::csReading) || update_count_ > 0) return;
  if (foreign_measurer_ || (window_ && (ComponentState() & rtl::csDesigning))) {
    FormatNow(0, pars_.Count() - 1, true);
    return;
  }
  if (!window_) return;
  switch (update_mode_) {
    case umImmediate:
      FormatNow(0, pars_.Count() - 1, false);
      bg_next_ = pars_.Count();
      bg_last_ = -1;
      break;
    case umBackground:
      PostBackground();
      break;
    case umOnNeed:
      break;
  }
}

void TVellMemo::FormatText(TTextMeasurer* measurer, int width) {
  foreign_measurer_ = measurer;
  foreign_width_ = width;
  Reformat();
  if (!measurer && !window_) FormatNow(0, pars_.Count() - 1, true);
}

void TVellMemo::FormatNow(int first, int last, bool force) {
  last = std::min(last, pars_.Count() - 1);
  first = std::max(first, 0);
  if (first > last) return;
  const bool wasReplacing = replacing_par_;
  replacing_par_ = true;
  const int startUpTo = formatted_up_to_;
  const int caretPar = caret_->GetParNb();
  bool any = false;
  bool caretDone = false;
  int topPar = top_nav_->GetParNb();
  int oldLines = line_count_;
  for (int p = first; p <= last; ++p) {
    EnsureParsed(p);
    if (!force && pars_.At(p)->formatted) continue;
    if (OnProgress) ReportProgress(std::min(static_cast<int>(static_cast<std::int64_t>(p) * 100 / pars_.Count()), 99), false);
    ReformatPar(p, force);
    any = true;
    if (formatted_up_to_ == p) formatted_up_to_ = p + 1;
    if (p == caretPar) {
      caret_->parLine_ = kUnset;
      caretDone = true;
    }
  }
  replacing_par_ = wasReplacing;
  if (any) {
    DropLineCaches(first, last);
    if (widest_par_ > last) widest_par_ = -1;
    if (topPar >= first && (line_count_ != oldLines || topPar <= last)) AlignTopOrigin();
    if (window_ && !foreign_measurer_) {
      window_->ScrollRangesChanged();
      if (caretDone) window_->CaretChanged();
    }
  }
  if (first != startUpTo && formatted_up_to_ != startUpTo) formatted_up_to_ = std::min(formatted_up_to_, startUpTo);
  if (formatted_up_to_ >= pars_.Count()) {
    progress_ = 100;
    if (OnProgress) ReportProgress(100, true);
  }
}

void TVellMemo::AlignTopOrigin() {
  if (line_height_ < 1) return;
  const int line = top_nav_->GetLineNb();
  top_nav_->SetLineNb(line);
  const int origin = view_.OriginForTopLine(line, line_height_);
  if (origin == view_.top_origin) return;
  view_.top_origin = origin;
  if (window_) window_->OriginsMoved(false, true);
}

void TVellMemo::RefreshDisplay() {
  if (!window_) return;
  Reformat();
  int limit = std::max(line_count_ - VisibleLines() + 1, 0);
  if (getTopLine() > limit) setTopLine(limit);
  window_->Repaint();
  window_->UpdateWindow();
  window_->CaretChanged();
}

void TVellMemo::EndUpdateRefresh() {
  if (mod_first_line_ >= 0 && mod_last_par_ >= 0) {
    const int count = pars_.Count();
    const int first = std::clamp(mod_first_par_, 0, count - 1);
    int last = std::clamp(mod_last_par_, first, count - 1);
    const int topPar = top_nav_->GetParNb();
    const int visible = VisibleLines();
    ++update_count_;  // nothing below may start another refresh
    try {
      // Without start/stop keys a parse only hands the paragraph's end
      // state on to the next one.
      if (!pars_.At(first)->parsed) ParseStartStopPar(first);
      ReformatPar(first, false);
      int p = first + 1;
      while (p < count && !pars_.At(p)->parsed && p <= topPar + visible) {
        ParseStartStopPar(p);
        last = std::max(last, p);
        ++p;
      }
      for (p = first + 1; p <= last; ++p) {
        if (update_mode_ != umImmediate && (p < topPar || p > topPar + visible)) {
          if (!pars_.At(p)->formatted) {
            if (bg_last_ < 0) {
              bg_next_ = p;
              bg_last_ = p;
            } else {
              bg_next_ = std::min(bg_next_, p);
              bg_last_ = std::max(bg_last_, p);
            }
          }
          continue;
        }
        if (!pars_.At(p)->parsed) ParseStartStopPar(p);
        ReformatPar(p, false);
      }
    } catch (...) {
      --update_count_;
      throw;
    }
    --update_count_;
    DropLineCaches(first, last);
    // The edit may have changed the lines above the view or of its top
    // paragraph.
    AlignTopOrigin();
    const int firstLine = mod_first_line_;
    mod_first_line_ = mod_first_par_ = mod_last_par_ = -1;
    if (window_) {
      InvalidateLines(std::min(firstLine, line_count_ - 1), line_count_ + VisibleLines(), false);
      window_->ScrollRangesChanged();
      if (update_mode_ == umImmediate && bg_last_ >= 0) {
        // Laying a paragraph out may hand a new start state on to the one
        // after the range, which then waits too.
        while (bg_last_ >= 0) {
          const int from = bg_next_, to = bg_last_;
          bg_next_ = pars_.Count();
          bg_last_ = -1;
          FormatNow(from, to, false);
        }
      } else if (update_mode_ == umBackground && bg_last_ >= 0) {
        PostBackground();
      }
      window_->CaretChanged();
    }
  }
  Change();
}

void TVellMemo::PostBackground() {
  if (bg_posted_ || bg_last_ < 0) return;
  if (poster_ && window_) {
    bg_posted_ = true;
    poster_->Post(this, VM_UPDATEBKG, 1, 0);
    return;
  }
  // No message queue: the work is done here, slice after slice.
  for (int guard = 0; bg_last_ >= 0 && guard < pars_.Count() + 2; ++guard) {
    int before = bg_next_;
    BackgroundSlice(false);
    if (update_count_ > 0 || (bg_last_ >= 0 && bg_next_ == before)) break;
  }
}

void TVellMemo::BackgroundSlice(bool continuation) {
  if (update_count_ > 0) return;
  bg_running_ = true;
  const int count = pars_.Count();
  if (bg_next_ >= count || bg_last_ < 0) {
    bg_running_ = false;
    bg_next_ = count;
    bg_last_ = -1;
    return;
  }
  const std::int64_t deadline = NowMs() + kSliceMs;
  const int firstDone = bg_next_;
  bool any = false;
  const int top = window_ ? getTopLine() : 0;
  const int visible = VisibleLines();
  while (bg_next_ <= bg_last_ && bg_next_ < count) {
    if (OnProgress) ReportProgress(std::min(static_cast<int>(static_cast<std::int64_t>(bg_next_) * 100 / count), 99), false);
    ParInfo& p = *pars_.At(bg_next_);
    if (!p.formatted) {
      EnsureParsed(bg_next_);
      ReformatPar(bg_next_, false);
      any = true;
      int firstLine = pars_.FirstLine(bg_next_);
      if (window_ && firstLine >= top && firstLine <= top + visible)
        InvalidateLines(firstLine, firstLine + pars_.At(bg_next_)->lineCount - 1, false);
    }
    ++bg_next_;
    if (bg_next_ > bg_last_ && bg_next_ < count && !pars_.At(bg_next_)->formatted) ++bg_last_;
    if (NowMs() >= deadline) break;
  }
  if (any) {
    DropLineCaches(firstDone, bg_next_ - 1);
    AlignTopOrigin();
    if (window_) {
      window_->ScrollRangesChanged();
      window_->CaretChanged();
    }
  }
  if (bg_next_ > bg_last_ || bg_next_ >= count) {
    bg_running_ = false;
    bg_next_ = count;
    bg_last_ = -1;
    progress_ = 100;
    if (OnProgress) ReportProgress(100, true);
  } else if (continuation && update_mode_ == umBackground && window_ && poster_ && !bg_posted_) {
    bg_posted_ = true;
    poster_->Post(this, VM_UPDATEBKG, 1, 0);
  }
}

}  // namespace memo
