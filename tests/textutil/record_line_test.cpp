// The field and scan routines as the record-line splits of the application
// call them (the splits themselves are tested with the application's core).
#include <gtest/gtest.h>

#include <string>

#include "tests/textutil/textutil_fixture.h"
#include "textutil/compare.h"
#include "textutil/fields.h"
#include "textutil/scan.h"

namespace textutil {
namespace {

using RecordLineTest = TextutilTest;

TEST_F(RecordLineTest, MarriagePartsAndWidowMark) {
  const std::string rest = "Brown, Wm of York; Green, Ann";
  int pos = 1;
  const std::string husband_part = Parse(rest, ";", pos);
  const std::string wife_part = Parse(rest, ";", pos);
  int hp = 1, wp = 1;
  EXPECT_EQ(Parse(husband_part, ",", hp), "Brown");
  EXPECT_EQ(Parse(wife_part, ",", wp), " Green");
  EXPECT_GT(ScanF("Brown, Wm; Green, Ann wid", " wid", 1), 0);
}

TEST_F(RecordLineTest, YearsCompareAsTextAndTheDateEndsAtTheFirstSemicolon) {
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
