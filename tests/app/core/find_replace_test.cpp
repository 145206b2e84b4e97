#include "app/core/find_replace.h"

#include <gtest/gtest.h>

#include "memo/vell_memo.h"

namespace appcore {
namespace {

// Records what reaches FindTxt.
struct RecordingMemo {
  std::int32_t caret = 0, length = 0;
  std::string text;
  bool forward = false, whole_word = false, match_case = false;
  std::int32_t start_seen = -1;
  std::int32_t getSelStart() const { return caret; }
  std::int32_t getSelLength() const { return length; }
  void setSelStart(std::int32_t pos) {
    caret = pos;
    length = 0;
  }
  void setSelLength(std::int32_t n) { length = n; }
  void setSelText(const std::string&) {}
  bool FindTxt(const std::string& t, bool f, bool w, bool m) {
    text = t;
    forward = f;
    whole_word = w;
    match_case = m;
    start_seen = caret;
    return false;
  }
};

TEST(FindOptionsTest, EachOptionReachesItsOwnParameter) {
  RecordingMemo memo;
  FindOptions o;
  o.match_case = true;
  EXPECT_FALSE(FindNext(memo, "Baker", o));
  EXPECT_TRUE(memo.match_case);
  EXPECT_FALSE(memo.whole_word);
  EXPECT_TRUE(memo.forward);
  o = FindOptions();
  o.whole_word = true;
  o.down = false;
  FindNext(memo, "Baker", o);
  EXPECT_FALSE(memo.match_case);
  EXPECT_TRUE(memo.whole_word);
  EXPECT_FALSE(memo.forward);
}

TEST(FindOptionsTest, SearchStartFromTheSelection) {
  // No selection: from the caret.
  EXPECT_EQ(SearchStart(7, 0, true, false), 7);
  EXPECT_EQ(SearchStart(7, 0, false, true), 7);
  // Selection 5..8 either way round.
  for (auto [caret, length] : {std::pair{5, 3}, std::pair{8, -3}}) {
    EXPECT_EQ(SearchStart(caret, length, true, false), 6);
    EXPECT_EQ(SearchStart(caret, length, false, false), 5);
    EXPECT_EQ(SearchStart(caret, length, true, true), 5);
    EXPECT_EQ(SearchStart(caret, length, false, true), 6);
  }
}

TEST(FindOptionsTest, NotFoundLeavesTheSelection) {
  RecordingMemo memo;
  memo.caret = 8;
  memo.length = -3;
  EXPECT_FALSE(FindNext(memo, "x", FindOptions()));
  EXPECT_EQ(memo.start_seen, 6);
  EXPECT_EQ(memo.caret, 8);
  EXPECT_EQ(memo.length, -3);
  EXPECT_FALSE(FindNext(memo, "", FindOptions()));
}

class MemoFind : public ::testing::Test {
protected:
  // The selected text, whichever way the selection runs.
  std::string Selected() { return memo.getSelText(); }
  std::int32_t Low() {
    const std::int32_t c = memo.getSelStart(), n = memo.getSelLength();
    return n < 0 ? c + n : c;
  }
  memo::TVellMemo memo;
};

TEST_F(MemoFind, MatchCaseAndWholeWordInBothOrders) {
  memo.SetText("baker Bakers Baker\r\nBAKER");
  memo.setSelStart(0);
  FindOptions o;
  o.match_case = true;  // case only: "Bakers" is found first
  ASSERT_TRUE(FindNext(memo, "Baker", o));
  EXPECT_EQ(Low(), 6);
  o.match_case = false;
  o.whole_word = true;  // whole word only: "baker" at 0 from the start
  memo.setSelStart(0);
  ASSERT_TRUE(FindNext(memo, "Baker", o));
  EXPECT_EQ(Low(), 0);
  EXPECT_EQ(Selected(), "baker");
  o.match_case = true;  // both
  memo.setSelStart(0);
  ASSERT_TRUE(FindNext(memo, "Baker", o));
  EXPECT_EQ(Low(), 13);
  ASSERT_FALSE(FindNext(memo, "Baker", o));  // "BAKER" differs in case
  EXPECT_EQ(Low(), 13);
}

TEST_F(MemoFind, FindAgainTakesTheNextOccurrenceEvenRightAfter) {
  memo.SetText("ababab x ab");
  FindOptions o;
  std::vector<std::int32_t> found;
  memo.setSelStart(0);
  while (FindNext(memo, "ab", o)) found.push_back(Low());
  EXPECT_EQ(found, (std::vector<std::int32_t>{0, 2, 4, 9}));
  // Upwards from the end.
  o.down = false;
  found.clear();
  memo.setSelStart(11);
  while (FindNext(memo, "ab", o)) found.push_back(Low());
  EXPECT_EQ(found, (std::vector<std::int32_t>{9, 4, 2, 0}));
}

TEST_F(MemoFind, FindStartsAfterAUserSelection) {
  memo.SetText("Cole Cole");
  memo.setSelStart(0);
  memo.setSelLength(4);  // the user selected the first "Cole"
  ASSERT_TRUE(FindNext(memo, "Cole", FindOptions()));
  EXPECT_EQ(Low(), 5);
}

TEST_F(MemoFind, ReplaceOneThenAll) {
  memo.SetText("Cole, cole; COLE\r\nCole");
  FindOptions o;
  memo.setSelStart(6);
  memo.setSelLength(4);  // "cole" selected: it is replaced first
  EXPECT_EQ(ReplaceText(memo, "cole", "Hall", o), 1);
  EXPECT_EQ(memo.GetParCount(), 2);
  EXPECT_EQ(memo.getParagraphs(0), "Cole, Hall; COLE");
  EXPECT_EQ(Selected(), "COLE");  // the next one is selected
  o.replace_all = true;
  o.match_case = true;
  memo.setSelStart(0);
  EXPECT_EQ(ReplaceText(memo, "Cole", "Fry", o), 2);
  EXPECT_EQ(memo.getParagraphs(0), "Fry, Hall; COLE");
  EXPECT_EQ(memo.getParagraphs(1), "Fry");
}

TEST_F(MemoFind, ReplaceAllWithTheTextInsideTheReplacement) {
  memo.SetText("a a a");
  FindOptions o;
  o.replace_all = true;
  memo.setSelStart(0);
  EXPECT_EQ(ReplaceText(memo, "a", "aa", o), 3);
  EXPECT_EQ(memo.getParagraphs(0), "aa aa aa");
  memo.setSelStart(0);
  EXPECT_EQ(ReplaceText(memo, "a", "", o), 6);
  EXPECT_EQ(memo.getParagraphs(0), "  ");
  EXPECT_EQ(ReplaceText(memo, "zz", "y", o), 0);
}

}  // namespace
}  // namespace appcore
