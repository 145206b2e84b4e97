#include "memo/highlighter.h"

#include "memo/vell_memo.h"

namespace memo {

TVellHighlighter::~TVellHighlighter() {
  // SetHighlighter(nullptr) takes the memo out of memos_.
  while (!memos_.empty()) memos_.back()->SetHighlighter(nullptr);
}

}  // namespace memo
