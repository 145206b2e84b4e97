#include "memo/relayout_hint.h"

#include <algorithm>

namespace memo {

namespace {

bool SameRun(const DynRun& a, const DynRun& b) { return a.offset == b.offset && a.style == b.style; }

// Where the text that run index r of `runs` styles ends: the next run's
// offset, or the paragraph's end.
std::int32_t StyledUpTo(const std::vector<DynRun>& runs, std::size_t r, std::int32_t length) {
  return r + 1 < runs.size() ? runs[r + 1].offset : length;
}

}  // namespace

void TRelayoutHint::Drop() {
  for (const DynRun& run : runs_) runstyle::Release(run.style);
  runs_.clear();
  par_ = -1;
  text_ = nullptr;
}

bool TRelayoutHint::Matches(int index, const ParInfo& p) const {
  return par_ >= 0 && par_ == index && text_ == p.text && length_ == p.length;
}

void TRelayoutHint::CopyRuns(const ParInfo& p) {
  for (const DynRun& run : runs_) runstyle::Release(run.style);
  runs_.assign(p.runs, p.runs + p.runCount);
  for (const DynRun& run : runs_) runstyle::Retain(run.style);
}

void TRelayoutHint::WidenOverRunChanges(const ParInfo& p) {
  const std::vector<DynRun> now(p.runs, p.runs + p.runCount);
  const std::size_t a = runs_.size(), b = now.size();
  std::size_t front = 0;
  while (front < a && front < b && SameRun(runs_[front], now[front])) ++front;
  if (front == a && front == b) return;
  std::int32_t first = p.length;
  if (front < a) first = std::min(first, runs_[front].offset);
  if (front < b) first = std::min(first, now[front].offset);
  std::size_t back = 0;
  while (back < a - front && back < b - front && SameRun(runs_[a - 1 - back], now[b - 1 - back])) ++back;
  std::int32_t last = 0;
  if (a - back > front) last = std::max(last, StyledUpTo(runs_, a - 1 - back, p.length));
  if (b - back > front) last = std::max(last, StyledUpTo(now, b - 1 - back, p.length));
  span_.From = std::min(span_.From, std::max(first, 0));
  span_.To = std::min(std::max(span_.To, last), p.length);
}

void TRelayoutHint::NoteSplice(int index, const ParInfo& p, bool laidOut, std::int32_t o1, std::int32_t o2,
                               std::int32_t inserted, int runsBefore, const TTextMeasurer* measurer, int width) {
  const std::int32_t change = inserted - (o2 - o1);
  const bool pending = par_ == index && text_ != nullptr;
  if (pending) {
    // The copy as this splice would have left it: changes since the last
    // splice then show as differences.
    std::vector<DynRun> kept;
    for (const DynRun& run : runs_) {
      if (o2 > o1 && run.offset >= o1 && run.offset < o2) {
        runstyle::Release(run.style);
        continue;
      }
      kept.push_back(run);
      if (run.offset >= o2) kept.back().offset += change;
    }
    runs_.swap(kept);
    // The span in the new text.
    if (span_.To >= o2) span_.To += change;
    else if (span_.To > o1) span_.To = o1 + inserted;
    span_.From = std::min(span_.From, o1);
    span_.To = std::max(span_.To, o1 + inserted);
    WidenOverRunChanges(p);
  } else {
    Drop();
    if (!laidOut || !measurer) return;
    par_ = index;
    measurer_ = measurer;
    width_ = width;
    laid_out_runs_ = runsBefore;
    start_state_ = p.startState ? *p.startState : DynInfoRec();
    start_style_ = p.line0.startStyle;
    span_.From = o1;
    span_.To = o1 + inserted;
  }
  // Runs the splice took out leave their text to the run before them.
  if (p.runCount < runsBefore) {
    const int next = par::RunIndexAt(p, o1 + inserted);
    span_.To = std::max(span_.To, next < p.runCount ? p.runs[next].offset : p.length);
  }
  span_.To = std::min(span_.To, p.length);
  span_.From = std::min(span_.From, span_.To);
  text_ = p.text;
  length_ = p.length;
  CopyRuns(p);
}

bool TRelayoutHint::Take(int index, const ParInfo& p, const TTextMeasurer* measurer, int width, Span& span) {
  const bool usable = Matches(index, p) && measurer == measurer_ && width == width_ &&
                      SameRunContents(p.startState ? *p.startState : DynInfoRec(), start_state_) &&
                      p.line0.startStyle == start_style_;
  if (usable) {
    WidenOverRunChanges(p);
    span = span_;
    span.RunDelta = p.runCount - laid_out_runs_;
  }
  if (par_ == index || usable) Drop();
  return usable;
}

}  // namespace memo
