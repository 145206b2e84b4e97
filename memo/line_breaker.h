// The line breaker: lays one paragraph out into display lines, measuring
// its text with the fonts that its static style codes and dynamic runs
// select, breaking at blanks when words do not fit and inside a word that
// is wider than the line.
#pragma once

#include <vector>

#include "memo/text_measurer.h"
#include "memo/text_model.h"

namespace memo {

struct LayoutValues {
  int availableWidth = 1;
  int tabStops = 8;
  bool staticFormat = true;
  TFontStyles fontStyle = 0;  // the memo font's own style (static codes toggle it)
  int chunkLimit = 4096;      // longest piece measured in one call
};

struct LayoutResult {
  std::vector<LineInfo> lines;
  int widest = 0;
};

LayoutResult BreakLines(const ParInfo& par, TTextMeasurer& measurer, const LayoutValues& values);

// The extended style of a piece of text from its static attribute byte and
// the flags of the run in force.
TExtFontStyles MergeStyles(std::uint8_t staticStyles, std::uint8_t runAttr, TFontStyles fontStyle);

}  // namespace memo
