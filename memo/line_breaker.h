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
  // Where the layout stopped because `stop` said so (the next line would
  // start there); -1 when it ran to the paragraph's end.
  std::int32_t stoppedAt = -1;
};

// Where a layout begins: a line start of an earlier layout (a word's first
// character, or 0) with the static style and run count in force there.
struct LayoutStart {
  std::int32_t offset = 0;
  std::uint8_t style = 0;
  int run = 0;
};

// Asked before each new line after the first, with where it would start,
// the style and run count in force there and whether it goes on with a word
// broken at the line before (measured a character at a time) rather than
// beginning one: true ends the layout.
using LayoutStop = bool (*)(void* context, std::int32_t start, std::uint8_t style, int run, bool inWord);

// The whole paragraph.
LayoutResult BreakLines(const ParInfo& par, TTextMeasurer& measurer, const LayoutValues& values);
// From `start` on, up to where `stop` ends it (no stop: to the end).
LayoutResult BreakLines(const ParInfo& par, TTextMeasurer& measurer, const LayoutValues& values,
                        const LayoutStart& start, LayoutStop stop, void* context);

// The extended style of a piece of text from its static attribute byte and
// the flags of the run in force.
TExtFontStyles MergeStyles(std::uint8_t staticStyles, std::uint8_t runAttr, TFontStyles fontStyle);

}  // namespace memo
