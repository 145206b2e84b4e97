// Every textutil test starts from and returns to the default settings, since
// the settings are process-wide.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/runtime/format_settings.h"
#include "textutil/state.h"

namespace textutil {

inline void RestoreDefaultSettings() {
  SetCaseTable("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  SetDelimiter(',');
  MutableState().OpenQuote = '"';
  MutableState().CloseQuote = '"';
  LoadSeparators();
}

class TextutilTest : public ::testing::Test {
protected:
  void SetUp() override { RestoreDefaultSettings(); }
  void TearDown() override { RestoreDefaultSettings(); }
};

// An in-place editor's answer and the text it leaves, as "answer|text"
// (a true or false answer as "true" or "false").
template <class F, class... A>
std::string Edited(std::string s, F edit, A... args) {
  const auto answer = edit(s, args...);
  std::ostringstream out;
  out << std::boolalpha << answer << '|' << s;
  return out.str();
}
// The text an in-place editor leaves.
template <class F, class... A>
std::string Left(std::string s, F edit, A... args) {
  edit(s, args...);
  return s;
}

// A scan that moves its start: from `start` (with `arg` where the scan
// takes one more number) it answers `answer` and leaves start at `after`
// (kNotLooked: not checked).
inline constexpr int kNotLooked = INT_MIN;
struct MovingScan {
  const char* text;
  std::string pattern;
  int start, answer, after;
  int arg = 0;
};
inline void ExpectMovingScans(const std::function<int(const MovingScan&, int&)>& scan,
                              const std::vector<MovingScan>& cases) {
  for (const MovingScan& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " from " + std::to_string(c.start) + " arg " + std::to_string(c.arg));
    int start = c.start;
    EXPECT_EQ(scan(c, start), c.answer);
    if (c.after != kNotLooked) {
      EXPECT_EQ(start, c.after);
    }
  }
}

}  // namespace textutil
