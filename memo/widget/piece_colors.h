// The colour rule of a piece of text (characters of one style and run),
// the same on screen, on paper and in the print preview: the memo font's
// colour, the paragraph's own, the highlight colours, then a styled run's
// (never over a paragraph's). The control lays the selection colours over
// it.
#pragma once

#include "memo/memo_types.h"
#include "memo/text_model.h"

namespace memo {

class TVellMemo;

struct TPieceColors {
  TColor text = clNone;
  TColor back = clNone;  // clNone: the piece is drawn transparent
};

// run: the run record in force over the piece (par::StateBefore).
TPieceColors PieceColors(TVellMemo& memo, TExtFontStyles style, const DynInfoRec& run, const ParInfo& par);

}  // namespace memo
