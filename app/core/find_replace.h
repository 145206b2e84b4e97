// Find, Find Again and Replace over a page's memo.
//
// Works with any memo that offers the memo control's selection and search
// calls (getSelStart, getSelLength, setSelStart, setSelLength, setSelText
// and FindTxt(text, forward, wholeWord, matchCase)), so the search core
// needs no memo library. FindTxt searches forward from the caret (matches
// starting at or after it) or backward (matches starting before it) and
// selects what it finds: forward with the caret after the match, backward
// with the caret before it.
//
// Each dialog option goes to its own parameter of FindTxt. A search starts
// from the selection's lower end: one character on for Find (so the
// selected occurrence is not found again, while one that follows it at
// once is), and at the lower end itself for Replace searching down (so the
// selected occurrence is found again and replaced). The replace dialog
// searches down only.
#pragma once

#include <cstdint>
#include <string>

namespace appcore {

struct FindOptions {
  bool down = true;
  bool match_case = false;
  bool whole_word = false;
  bool replace_all = false;
};

// Where the caret goes before FindTxt: caret and length describe the
// current selection (length negative when it runs backwards from the
// caret).
inline std::int32_t SearchStart(std::int32_t caret, std::int32_t length, bool down, bool replacing) {
  if (length == 0) return caret;
  const std::int32_t low = length > 0 ? caret : caret + length;
  if (replacing) return down ? low : low + 1;
  return down ? low + 1 : low;
}

// Searches text once; true when found (the memo then selects it). Nothing
// moves when text is not found.
template <typename Memo>
bool FindNext(Memo& memo, const std::string& text, const FindOptions& options, bool replacing = false) {
  if (text.empty()) return false;
  const std::int32_t caret = memo.getSelStart();
  const std::int32_t length = memo.getSelLength();
  memo.setSelStart(SearchStart(caret, length, options.down, replacing));
  if (memo.FindTxt(text, options.down, options.whole_word, options.match_case)) return true;
  memo.setSelStart(caret);
  memo.setSelLength(length);
  return false;
}

// Replace or Replace All; returns the number replaced. Replace puts the
// replacement in for the occurrence found from the selection on and
// selects the next one; Replace All goes on to the end of the text. The
// search goes on after each replacement, so a replacement that holds the
// text is never replaced again.
template <typename Memo>
int ReplaceText(Memo& memo, const std::string& text, const std::string& replacement, FindOptions options) {
  options.down = true;
  int count = 0;
  bool found = FindNext(memo, text, options, true);
  while (found) {
    memo.setSelText(replacement);
    ++count;
    found = memo.FindTxt(text, true, options.whole_word, options.match_case);
    if (!options.replace_all) break;
  }
  return count;
}

}  // namespace appcore
