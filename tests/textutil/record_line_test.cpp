// The record-line splits the search, the arranging and the family box make
// with the field and scan routines.
#include <gtest/gtest.h>

#include <string>

#include "tests/textutil/textutil_fixture.h"
#include "textutil/compare.h"
#include "textutil/edit.h"
#include "textutil/fields.h"
#include "textutil/scan.h"
#include "textutil/substr.h"

namespace textutil {
namespace {

using RecordLineTest = TextutilTest;

struct Baptism {
  std::string father, mother, children, witness;
};

// Characters 13 on; father before the last ',' before the first ';', mother
// after it (when it leaves at least two characters), children from two after
// the first ';' through the second, witness after the second.
Baptism SplitBaptism(const std::string& line) {
  const std::string rest = IStr(line, 13);
  const int p1 = ScanC(rest, ';', 1);
  const int p2 = p1 ? ScanC(rest, ';', p1 + 1) : 0;
  const int c = p1 > 1 ? ScanB(rest, ',', p1 - 1) : 0;
  Baptism b;
  b.father = c ? CStr(rest, 1, c - 1) : CStr(rest, 1, p1 - 1);
  b.mother = c && p1 - c >= 3 ? CStr(rest, c + 1, p1 - c - 1) : "";
  b.children = p2 ? CStr(rest, p1 + 2, p2 - p1 - 1) : "";
  b.witness = p2 ? IStr(rest, p2 + 1) : rest;
  return b;
}

bool IsRecordLine(const std::string& line) {
  return !line.empty() && (IsNumChar(line[0]) || line[0] == '?');
}

std::string WithoutBrackets(std::string s) {
  s.resize(static_cast<size_t>(DeleteC(s, '[')));
  s.resize(static_cast<size_t>(DeleteC(s, ']')));
  return s;
}

TEST_F(RecordLineTest, BaptismFields) {
  Baptism b = SplitBaptism("1723 12 Mar A, B; C; D");
  EXPECT_EQ(b.father, "A");
  EXPECT_EQ(b.mother, " B");
  EXPECT_EQ(b.children, "C;");
  EXPECT_EQ(b.witness, " D");

  b = SplitBaptism("1723 12 Mar Smith, John, Mary; Anne");
  EXPECT_EQ(b.father, "Smith, John");
  EXPECT_EQ(b.mother, " Mary");
  EXPECT_EQ(b.children, "");
  EXPECT_EQ(b.witness, "Smith, John, Mary; Anne");

  b = SplitBaptism("1723 12 Mar Smith John,; Anne; W");
  EXPECT_EQ(b.father, "Smith John");
  EXPECT_EQ(b.mother, "");  // comma right before the ';'
}

TEST_F(RecordLineTest, MarriageParts) {
  const std::string rest = WithoutBrackets(IStr("1701 03 Jun Brown, Wm [of York]; Green, Ann", 13));
  int pos = 1;
  const std::string husband_part = Parse(rest, ";", pos);
  const std::string wife_part = Parse(rest, ";", pos);
  int hp = 1, wp = 1;
  EXPECT_EQ(Parse(husband_part, ",", hp), "Brown");
  EXPECT_EQ(Parse(wife_part, ",", wp), " Green");
  EXPECT_GT(ScanF("Brown, Wm; Green, Ann wid", " wid", 1), 0);
}

TEST_F(RecordLineTest, RecordLinesAndYears) {
  EXPECT_TRUE(IsRecordLine("?723 12 Mar x; y"));
  EXPECT_TRUE(IsRecordLine("1723 12 Mar x; y"));
  EXPECT_FALSE(IsRecordLine("-----"));
  EXPECT_FALSE(IsRecordLine("  see above"));
  // Years compare as text: an unknown digit sorts after every digit.
  EXPECT_EQ(VantaCompare("?723", "1699", 1, 1, 4), 1);
  EXPECT_EQ(VantaCompare("1699 x", "1700", 1, 1, 4), -1);
  int pos = 1;
  EXPECT_EQ(Parse("1723 12 Mar; rest", ";", pos), "1723 12 Mar");  // the date
}

TEST_F(RecordLineTest, HitLineChildrenField) {
  const std::string hit = "1723 12 Mar Smith, John, Mary; Anne; W. Brown [3] ";
  EXPECT_EQ(Fetch(hit, ";", 2, false), " Anne");
}

}  // namespace
}  // namespace textutil
