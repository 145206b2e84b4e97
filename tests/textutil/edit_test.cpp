#include "textutil/edit.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using DeleteTest = TextutilTest;
using CaseTest = TextutilTest;
using CountTest = TextutilTest;
using ReplaceTest = TextutilTest;

TEST_F(DeleteTest, DeletersKeepTheLengthAndPadWithBlanks) {
  EXPECT_EQ(Edited("a-b-c", DeleteC, '-'), "3|abc  ");
  EXPECT_EQ(Edited("a  b   c", DeleteD, ' '), "5|a b c   ");
  EXPECT_EQ(Edited("abcdef", DeleteS, 2, 3), "3|aef   ");
  EXPECT_EQ(Edited("abcdef", DeleteS, 2, 10), "1|a     ");
  std::string s = "abcdef";
  EXPECT_EQ(DeleteS(s, 0, 1), 5);  // index 0 counts as 1
  EXPECT_EQ(s, "bcdef ");
  EXPECT_EQ(DeleteS(s, 7, 1), 6);
  EXPECT_EQ(DeleteS(s, 2, 0), 6);
  EXPECT_EQ(Edited(" a\tb\nc ", Compact), "3|abc    ");
  EXPECT_EQ(Edited("", DeleteC, 'a'), "0|");
}

TEST_F(DeleteTest, SetDeleters) {
  EXPECT_EQ(Edited("Hello World", DeleteI, "lo", -7), "9|Hello Wrd  ");
  EXPECT_EQ(Edited("Hello World", DeleteT, "lo"), "6|He Wrd     ");
  EXPECT_EQ(Edited("a1b2c3", DeleteNT, "0123456789"), "3|123   ");
  EXPECT_EQ(Edited("aAbB", DeleteNI, "a", -1), "2|aA  ");
  EXPECT_EQ(Edited("abc", DeleteI, "", 1), "3|abc");  // refused: nothing deleted
  // Both commas outside the quotes go.
  EXPECT_EQ(Edited("a,\"b,c\",d", DeleteTQ, ","), "7|a\"b,c\"d  ");
  EXPECT_EQ(Left(" a b ", LCompact), "   ab");
}

TEST_F(CaseTest, CaseChanges) {
  EXPECT_EQ(Left("abcdef", UCase, 2, 3), "aBCDef");
  EXPECT_EQ(Left("aBCDef", UCase, 5, 100), "aBCDEF");
  EXPECT_EQ(Left("aBCDEF", LCase, 0, 3), "aBCDEF");
  EXPECT_EQ(Left("aBCDEF", LCase, 1, 6), "abcdef");
  // The unit's tables leave accented letters alone, the platform's do not.
  EXPECT_EQ(Left("jos\xE9 \xE6", UCase, 1, 100), "JOS\xE9 \xE6");
  EXPECT_EQ(Left("JOS\xE9 \xE6", AnsiUCase, 1, 0), "JOS\xC9 \xC6");
  EXPECT_EQ(Left("JOS\xC9 \xC6", AnsiLCase, 4, 1), "JOS\xE9 \xC6");
  EXPECT_EQ(Left("JOS\xE9 \xC6", AnsiLCase, 7, 1), "JOS\xE9 \xC6");
}

TEST_F(CaseTest, ProperCase) {
  EXPECT_EQ(Left("o'neil-SMITH jr.", ProperCase), "O'Neil-Smith Jr.");
  EXPECT_EQ(Left("mcdonald", ProperCase), "Mcdonald");
  EXPECT_EQ(Left("4th", ProperCase), "4th");
}

TEST_F(CountTest, Counting) {
  EXPECT_EQ(CountF("banana", 'a', 3), 2);
  EXPECT_EQ(CountF("banana", 'a', 0), 0);
  EXPECT_EQ(CountR("banana", 'a', 4), 2);
  EXPECT_EQ(CountR("banana", 'a', 99), 3);
  EXPECT_EQ(CountT("BaNana", "an", 1), 4);
  EXPECT_EQ(CountT("BaNana", "an", -1), 5);
  EXPECT_EQ(CountM("aab", "a", 1), 2);
  EXPECT_EQ(CountN("xxa", "a", 1), 2);
  EXPECT_EQ(CountM("aab", "a", 4), 0);
  EXPECT_EQ(CountW("  the  quick brown ", " "), 3);
  EXPECT_EQ(CountW("abc", ""), 0);
  EXPECT_EQ(CountW("a;b,,c", ";,"), 3);
}

TEST_F(ReplaceTest, Trimming) {
  EXPECT_EQ(LTrim("  ab ", ' '), "ab ");
  EXPECT_EQ(LTrim("   ", ' '), "   ");
  EXPECT_EQ(RTrim("   ", ' '), "");
  EXPECT_EQ(RTrim(" ab  ", ' '), " ab");
  EXPECT_EQ(CTrim("--a-b--", '-'), "a-b");
  EXPECT_EQ(CTrim("---", '-'), "");
  EXPECT_EQ(CTrim("", '-'), "");
}

TEST_F(ReplaceTest, CharacterReplacing) {
  EXPECT_EQ(Left("1?23", ReplaceC, '?', '0'), "1023");
  EXPECT_EQ(Left("aAbB", ReplaceI, "ab", -2, '*'), "a***");
  EXPECT_EQ(Left("a***", ReplaceT, "a", '-'), "-***");
  EXPECT_EQ(Left("abc", Translate, "ab", "xy"), "xyc");
  EXPECT_EQ(Left("xyc", Translate, "xx", "12"), "1yc");  // the first occurrence decides
  EXPECT_EQ(Left("1yc", Translate, "y", ""), "1yc");
}

TEST_F(ReplaceTest, ReplaceSubstrings) {
  EXPECT_EQ(Edited("ab AB", ReplaceSC, "ab", "x", true), "2|x x");
  EXPECT_EQ(Edited("ab AB", ReplaceSC, "ab", "x", false), "1|x AB");
  EXPECT_EQ(Edited("aaaa", ReplaceS, "aa", "b"), "2|bb");
  EXPECT_EQ(Edited("van der Berg", ReplaceS, " ", "_"), "2|van_der_Berg");  // glueing particles
  EXPECT_EQ(Edited("a?c abc", ReplaceS, "a?c", "X"), "1|X abc");  // exact: '?' is no wildcard
  EXPECT_EQ(Edited("a?c abc", ReplaceSC, "A?C", "X", true), "2|X X");
  std::string s = "abc";
  EXPECT_EQ(ReplaceS(s, "", "x"), 0);
  // Many occurrences: one pass, the count and the result as std::string would.
  s.assign(10000, 'a');
  EXPECT_EQ(ReplaceS(s, "a", "bc"), 10000);
  EXPECT_EQ(s.size(), 20000u);
}

TEST_F(ReplaceTest, IncStrAndRevStr) {
  EXPECT_EQ(Left("A9", IncStr), "B0");
  EXPECT_EQ(Left("az", IncStr), "ba");
  EXPECT_EQ(Left("9-9", IncStr), "0-0");
  EXPECT_EQ(Left("Zz9", IncStr), "Aa0");
  EXPECT_EQ(Left("x-", IncStr), "y-");
  EXPECT_EQ(Left("abc", RevStr), "cba");
  EXPECT_EQ(Left("", RevStr), "");
}

}  // namespace
}  // namespace textutil
