#include "textutil/substr.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using SubstrTest = TextutilTest;
using JustifyTest = TextutilTest;

TEST_F(SubstrTest, Copies) {
  EXPECT_EQ(LStr("abc", 5), "abc");
  EXPECT_EQ(LStr("abc", -1), "");
  EXPECT_EQ(RStr("abcdef", 2), "ef");
  EXPECT_EQ(RStr("abc", 9), "abc");
  EXPECT_EQ(CStr("abcdef", 0, 2), "ab");
  EXPECT_EQ(CStr("abcdef", 5, 9), "ef");
  EXPECT_EQ(CStr("abcdef", 7, 1), "");
  EXPECT_EQ(IStr("abcdef", 0), "");
  EXPECT_EQ(IStr("abcdef", 4), "def");
  EXPECT_EQ(DupChr('#', 3), "###");
  EXPECT_EQ(DupChr('#', -3), "");
}

TEST_F(SubstrTest, Extract) {
  EXPECT_EQ(Extract("Smith, John", ",", 1), "Smith");
  EXPECT_EQ(Extract("Smith, John", "?;,", 1), "Smith");
  EXPECT_EQ(Extract("Smith, John", "x", 8), "John");
  EXPECT_EQ(Extract("Smith AND Jones", "and", -1), "Smith ");
  EXPECT_EQ(Extract("Smith AND Jones", "and", 1), "Smith AND Jones");
  EXPECT_EQ(Extract("abc", ",", 0), "");
}

TEST_F(SubstrTest, Padding) {
  EXPECT_EQ(Left("7", LPad, '0', 3), "007");
  EXPECT_EQ(Left("ab", RPad, '.', 4), "ab..");
  EXPECT_EQ(Left("ab", CPad, '#', 5), "#ab##");
  EXPECT_EQ(Left("abcdef", CPad, '#', 3), "abcdef");
  EXPECT_EQ(LAdd("7", ' ', 3), "  7");
  EXPECT_EQ(RAdd("7", ' ', 3), "7  ");
  EXPECT_EQ(CAdd("7", ' ', 4), " 7  ");
}

TEST_F(SubstrTest, FillingAndOverwriting) {
  std::string s = "abcdef";
  FillCnt(s, 5, 10, 'x');
  EXPECT_EQ(s, "abcdxx");
  FillCnt(s, 0, 2, 'y');
  FillCnt(s, 7, 2, 'y');
  EXPECT_EQ(s, "abcdxx");
  FillStr(s, 3, '-');
  EXPECT_EQ(s, "ab----");
  s = "abcdef";
  OverWrite(s, "XYZ", 5);
  EXPECT_EQ(s, "abcdXY");
  OverWrite(s, "Q", 0);
  EXPECT_EQ(s, "QbcdXY");
  std::string d = "......";
  MoveStr("hello", 2, d, 3, 10);
  EXPECT_EQ(d, "..ello");
  MoveStr("hello", 6, d, 1, 1);
  EXPECT_EQ(d, "..ello");
  std::string e;
  MoveStr("hello", 1, e, 1, 5);
  EXPECT_EQ(e, "");
}

TEST_F(SubstrTest, Shifting) {
  EXPECT_EQ(Left("abcdef", ShiftStr, 3, 2), "abcdcd");
  EXPECT_EQ(Left("abcdef", ShiftStr, 3, -1), "acdeff");
  EXPECT_EQ(Left("abcdef", ShiftStr, -2, 3), "abcabf");
  EXPECT_EQ(Left("abcdef", ShiftStr, 3, -5), "fbcdef");  // pushed past the front: only what lands stays
  EXPECT_EQ(Left("abcdef", ShiftStr, 2, 10), "abcdef");
  std::string s = "abcdef";
  ShiftStr(s, 0, 1);
  ShiftStr(s, 1, 0);
  ShiftStr(s, 9, 1);
  EXPECT_EQ(s, "abcdef");
}

TEST_F(JustifyTest, Flushing) {
  EXPECT_EQ(Left("  ab", LFlush), "ab  ");
  EXPECT_EQ(Left("ab  ", RFlush), "  ab");
  EXPECT_EQ(Left("    ab", CFlush), "  ab  ");
  EXPECT_EQ(Left("ab    ", CFlush), "ab    ");
  EXPECT_EQ(Left(" ab     ", CFlush), "   ab   ");
  EXPECT_EQ(Left("      ", CFlush), "      ");
  EXPECT_EQ(Left("\t\tab", LFlush), "ab  ");
}

TEST_F(JustifyTest, AccentedLettersAreNoBlanks) {
  // Bytes 128-255 are text, not blanks.
  std::string s = "    \xC9mile\xE9";
  CFlush(s);
  EXPECT_EQ(s, "  \xC9mile\xE9  ");
  s = "\xE9" "a    ";
  CFlush(s);
  EXPECT_EQ(s, "\xE9" "a    ");
  s = " \xE9     ";
  CFlush(s);
  EXPECT_EQ(s, "   \xE9   ");
  s = "\xA0\xA0x";
  LFlush(s);
  EXPECT_EQ(s, "\xA0\xA0x");
}

}  // namespace
}  // namespace textutil
