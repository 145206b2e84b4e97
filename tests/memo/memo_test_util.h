// Helpers shared by the memo tests.
#pragma once

#include <string>

#include "memo/vell_memo.h"

namespace memo_test {

// The plain text of a memo saved with its current LineBreak.
inline std::string Saved(memo::TVellMemo& m) {
  rtl::TStringStream s;
  m.SaveToStream(s);
  return s.DataString();
}

inline void SetTextOf(memo::TVellMemo& m, const std::string& text) { m.SetText(text); }

inline void Load(memo::TVellMemo& m, const std::string& bytes) {
  rtl::TStringStream s(bytes);
  m.LoadFromStream(s);
}

// Replaces [start, stop) by text.
inline void Replace(memo::TVellMemo& m, int start, int stop, const std::string& text) {
  m.setSelStart(start);
  m.setSelLength(stop - start);
  m.SetSelTextBuf(text.c_str());
}

// The observable dynamic state of the character at each position of a
// paragraph (flags, level, colours, context, cursor, key entries).
inline std::string StateKey(const memo::DynInfoRec& r) {
  std::string k;
  auto add = [&](long v) { k += std::to_string(v) + ","; };
  add(r.flags);
  int level = memo::EffectiveLevel(r);
  add(level);
  add(r.background);
  add(r.foreground);
  add(r.context);
  add(r.cursor);
  for (int l = 0; l <= level && l < 16; ++l) add(r.keys[l]);
  return k;
}

inline std::string ParStates(memo::TVellMemo& m, int index) {
  const memo::ParInfo& p = *m.Pars().At(index);
  std::string out;
  for (int i = 0; i < p.length; ++i) out += StateKey(memo::par::StateOfChar(p, i)) + "|";
  return out;
}

inline std::string AllStates(memo::TVellMemo& m) {
  std::string out;
  for (int i = 0; i < m.GetParCount(); ++i) out += ParStates(m, i) + "\n";
  return out;
}

}  // namespace memo_test
