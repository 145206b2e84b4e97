// TRelayoutHint: what changed in one paragraph since its last layout, so
// that laying it out again starts at the first line a change can reach and
// stops where the new line ends meet the old ones.
//
// An edit inside one laid-out paragraph keeps its old lines, moved with the
// text after the edit (the splice does that), and notes here the span of
// the new text that differs: [From, To). Text before From and after To is
// as the old layout measured it, as long as the runs there are too: the
// hint keeps a copy of the runs as the last edit left them and, before the
// next edit and before the layout, widens the span over every run that
// changed meanwhile (keywords applied again, say) up to where the next run
// takes over. The layout may keep an old line that starts after To with
// the style and run count the new lines reach there; the run counts of the
// kept lines move by RunDelta.
//
// One paragraph at a time: an edit elsewhere, a layout with other values
// (measurer, width) or of another text drops the hint, and the paragraph
// is then laid out whole; so does a change of the state the paragraph
// starts in (its start-state record or its static style), which every old
// line may have been measured in.
#pragma once

#include <cstdint>
#include <vector>

#include "memo/text_measurer.h"
#include "memo/text_model.h"

namespace memo {

class TRelayoutHint {
public:
  struct Span {
    std::int32_t From = 0, To = 0;
    int RunDelta = 0;
  };

  TRelayoutHint() = default;
  TRelayoutHint(const TRelayoutHint&) = delete;
  TRelayoutHint& operator=(const TRelayoutHint&) = delete;
  ~TRelayoutHint() { Drop(); }

  // After a splice inside paragraph `index` that replaced [o1, o2) of its
  // old text by `inserted` characters. `laidOut`: the paragraph's lines
  // were a whole layout before the splice; `runsBefore`: its run count
  // then; the measurer and available width of that layout.
  void NoteSplice(int index, const ParInfo& p, bool laidOut, std::int32_t o1, std::int32_t o2,
                  std::int32_t inserted, int runsBefore, const TTextMeasurer* measurer, int width);
  // For a layout of paragraph `index` with these values: true with the
  // span to redo, false when it must be laid out whole. The hint is used
  // up either way.
  bool Take(int index, const ParInfo& p, const TTextMeasurer* measurer, int width, Span& span);
  // Forgets everything (the paragraph is laid out whole next time).
  void Drop();

private:
  bool Matches(int index, const ParInfo& p) const;
  // Widens the span over the runs that differ from the copy.
  void WidenOverRunChanges(const ParInfo& p);
  void CopyRuns(const ParInfo& p);

  int par_ = -1;
  const char* text_ = nullptr;
  std::int32_t length_ = 0;
  const TTextMeasurer* measurer_ = nullptr;
  int width_ = 0;
  Span span_;
  int laid_out_runs_ = 0;      // the run count of the old layout
  DynInfoRec start_state_;     // the paragraph's start state then
  std::int32_t start_style_ = 0;
  std::vector<DynRun> runs_;   // the paragraph's runs after the last splice (styles retained)
};

}  // namespace memo
