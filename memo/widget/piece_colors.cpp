#include "memo/widget/piece_colors.h"

#include "memo/vell_memo.h"

namespace memo {

TPieceColors PieceColors(TVellMemo& memo, TExtFontStyles style, const DynInfoRec& run, const ParInfo& par) {
  TPieceColors c;
  c.text = memo.Font().Color;
  if (par.foreground != clNone) c.text = par.foreground;
  if (style & esHighlight) {
    c.text = memo.HighlightColor();
    c.back = memo.HighlightBackgnd();
  }
  if ((run.flags & kRunStyled) && !(run.background == 0 && run.foreground == 0)) {
    if (par.foreground == clNone && run.foreground != clNone) c.text = run.foreground;
    if (par.background == clNone && run.background != clNone) c.back = run.background;
  }
  return c;
}

}  // namespace memo
