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
  std::string s = "a-b-c";
  EXPECT_EQ(DeleteC(s, '-'), 3);
  EXPECT_EQ(s, "abc  ");
  s = "a  b   c";
  EXPECT_EQ(DeleteD(s, ' '), 5);
  EXPECT_EQ(s, "a b c   ");
  s = "abcdef";
  EXPECT_EQ(DeleteS(s, 2, 3), 3);
  EXPECT_EQ(s, "aef   ");
  s = "abcdef";
  EXPECT_EQ(DeleteS(s, 2, 10), 1);
  EXPECT_EQ(s, "a     ");
  s = "abcdef";
  EXPECT_EQ(DeleteS(s, 0, 1), 5);  // index 0 counts as 1
  EXPECT_EQ(s, "bcdef ");
  EXPECT_EQ(DeleteS(s, 7, 1), 6);
  EXPECT_EQ(DeleteS(s, 2, 0), 6);
  s = " a\tb\nc ";
  EXPECT_EQ(Compact(s), 3);
  EXPECT_EQ(s, "abc    ");
  s = "";
  EXPECT_EQ(DeleteC(s, 'a'), 0);
}

TEST_F(DeleteTest, SetDeleters) {
  std::string s = "Hello World";
  EXPECT_EQ(DeleteI(s, "lo", -7), 9);
  EXPECT_EQ(s, "Hello Wrd  ");
  s = "Hello World";
  EXPECT_EQ(DeleteT(s, "lo"), 6);
  EXPECT_EQ(s, "He Wrd     ");
  s = "a1b2c3";
  EXPECT_EQ(DeleteNT(s, "0123456789"), 3);
  EXPECT_EQ(s, "123   ");
  s = "aAbB";
  EXPECT_EQ(DeleteNI(s, "a", -1), 2);
  EXPECT_EQ(s, "aA  ");
  s = "abc";
  EXPECT_EQ(DeleteI(s, "", 1), 3);  // refused: nothing deleted
  EXPECT_EQ(s, "abc");
  s = "a,\"b,c\",d";  // both commas outside the quotes go
  EXPECT_EQ(DeleteTQ(s, ","), 7);
  EXPECT_EQ(s, "a\"b,c\"d  ");
  s = " a b ";
  LCompact(s);
  EXPECT_EQ(s, "   ab");
}

TEST_F(CaseTest, CaseChanges) {
  std::string s = "abcdef";
  UCase(s, 2, 3);
  EXPECT_EQ(s, "aBCDef");
  UCase(s, 5, 100);
  EXPECT_EQ(s, "aBCDEF");
  LCase(s, 0, 3);
  EXPECT_EQ(s, "aBCDEF");
  LCase(s, 1, 6);
  EXPECT_EQ(s, "abcdef");
  // The unit's tables leave accented letters alone, the platform's do not.
  s = "jos\xE9 \xE6";
  UCase(s, 1, 100);
  EXPECT_EQ(s, "JOS\xE9 \xE6");
  AnsiUCase(s, 1, 0);
  EXPECT_EQ(s, "JOS\xC9 \xC6");
  AnsiLCase(s, 4, 1);
  EXPECT_EQ(s, "JOS\xE9 \xC6");
  AnsiLCase(s, 7, 1);
  EXPECT_EQ(s, "JOS\xE9 \xC6");
}

TEST_F(CaseTest, ProperCase) {
  std::string s = "o'neil-SMITH jr.";
  ProperCase(s);
  EXPECT_EQ(s, "O'Neil-Smith Jr.");
  s = "mcdonald";
  ProperCase(s);
  EXPECT_EQ(s, "Mcdonald");
  s = "4th";
  ProperCase(s);
  EXPECT_EQ(s, "4th");
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
  std::string s = "1?23";
  ReplaceC(s, '?', '0');
  EXPECT_EQ(s, "1023");
  s = "aAbB";
  ReplaceI(s, "ab", -2, '*');
  EXPECT_EQ(s, "a***");
  ReplaceT(s, "a", '-');
  EXPECT_EQ(s, "-***");
  s = "abc";
  Translate(s, "ab", "xy");
  EXPECT_EQ(s, "xyc");
  Translate(s, "xx", "12");  // the first occurrence decides
  EXPECT_EQ(s, "1yc");
  Translate(s, "y", "");
  EXPECT_EQ(s, "1yc");
}

TEST_F(ReplaceTest, ReplaceSubstrings) {
  std::string s = "ab AB";
  EXPECT_EQ(ReplaceSC(s, "ab", "x", true), 2);
  EXPECT_EQ(s, "x x");
  s = "ab AB";
  EXPECT_EQ(ReplaceSC(s, "ab", "x", false), 1);
  EXPECT_EQ(s, "x AB");
  s = "aaaa";
  EXPECT_EQ(ReplaceS(s, "aa", "b"), 2);
  EXPECT_EQ(s, "bb");
  s = "van der Berg";
  EXPECT_EQ(ReplaceS(s, " ", "_"), 2);  // glueing particles
  EXPECT_EQ(s, "van_der_Berg");
  s = "a?c abc";
  EXPECT_EQ(ReplaceS(s, "a?c", "X"), 1);  // exact: '?' is no wildcard
  EXPECT_EQ(s, "X abc");
  s = "a?c abc";
  EXPECT_EQ(ReplaceSC(s, "A?C", "X", true), 2);
  EXPECT_EQ(s, "X X");
  s = "abc";
  EXPECT_EQ(ReplaceS(s, "", "x"), 0);
  // Many occurrences: one pass, the count and the result as std::string would.
  s.assign(10000, 'a');
  EXPECT_EQ(ReplaceS(s, "a", "bc"), 10000);
  EXPECT_EQ(s.size(), 20000u);
}

TEST_F(ReplaceTest, IncStrAndRevStr) {
  std::string s = "A9";
  IncStr(s);
  EXPECT_EQ(s, "B0");
  s = "az";
  IncStr(s);
  EXPECT_EQ(s, "ba");
  s = "9-9";
  IncStr(s);
  EXPECT_EQ(s, "0-0");
  s = "Zz9";
  IncStr(s);
  EXPECT_EQ(s, "Aa0");
  s = "x-";
  IncStr(s);
  EXPECT_EQ(s, "y-");
  s = "abc";
  RevStr(s);
  EXPECT_EQ(s, "cba");
  s = "";
  RevStr(s);
  EXPECT_EQ(s, "");
}

}  // namespace
}  // namespace textutil
