#include "textutil/state.h"

#include <gtest/gtest.h>

#include "platform/runtime/format_settings.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using StateTest = TextutilTest;

TEST_F(StateTest, DefaultCaseTablesFoldOnlyAsciiLetters) {
  const UnitState& st = State();
  EXPECT_EQ(st.CaseSwapTable['q'], 'Q');
  EXPECT_EQ(st.CaseSwapTable['Q'], 'q');
  for (int c = 0; c < 256; ++c) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter) {
      EXPECT_EQ(st.CaseSwapTable[c], c) << c;
      EXPECT_EQ(st.UpperTable[c], c) << c;
      EXPECT_EQ(st.LowerTable[c], c) << c;
    }
    EXPECT_EQ(st.AlphaSet.Has(static_cast<unsigned char>(c)), letter || c == ' ') << c;
    EXPECT_EQ(st.AlphaNumSet.Has(static_cast<unsigned char>(c)), letter || c == ' ' || (c >= '0' && c <= '9')) << c;
    EXPECT_EQ(st.UpperSet.Has(static_cast<unsigned char>(c)), c >= 'A' && c <= 'Z') << c;
    EXPECT_EQ(st.LowerSet.Has(static_cast<unsigned char>(c)), c >= 'a' && c <= 'z') << c;
  }
  // Accented letters never fold: É stays É, é stays é.
  EXPECT_EQ(st.CaseSwapTable[0xC9], 0xC9);
  EXPECT_EQ(st.CaseSwapTable[0xE9], 0xE9);
}

TEST_F(StateTest, SetCaseTableRefusesBadListsAndChangesNothing) {
  UnitState before = State();
  EXPECT_FALSE(SetCaseTable("abc", "ABCD"));
  EXPECT_FALSE(SetCaseTable("", ""));
  EXPECT_EQ(0, memcmp(before.CaseSwapTable, State().CaseSwapTable, 256));
  EXPECT_EQ(before.AlphaSet, State().AlphaSet);
}

TEST_F(StateTest, SetCaseTableMakesOnlyListedPairsLetters) {
  ASSERT_TRUE(SetCaseTable("aby\xE9", "ABY\xC9"));
  const UnitState& st = State();
  EXPECT_EQ(st.UpperTable['z'], 'z');  // z is no letter any more
  EXPECT_FALSE(st.AlphaSet.Has('z'));
  EXPECT_EQ(st.UpperTable[0xE9], 0xC9);
  EXPECT_EQ(st.CaseSwapTable[0xC9], 0xE9);
  EXPECT_TRUE(st.AlphaSet.Has(' '));
  EXPECT_TRUE(st.AlphaNumSet.Has('7'));
  EXPECT_TRUE(st.LowerSet.Has(static_cast<unsigned char>(0xE9)));
  EXPECT_TRUE(st.UpperSet.Has(static_cast<unsigned char>(0xC9)));
}

TEST_F(StateTest, CharacterInBothListsSwapsToItsLowerPartner) {
  // 'b' is the upper form of 'a' and the lower form of 'c'.
  ASSERT_TRUE(SetCaseTable("ab", "bc"));
  EXPECT_EQ(State().CaseSwapTable['b'], 'a');
  EXPECT_EQ(State().UpperTable['b'], 'c');
}

TEST_F(StateTest, Delimiters) {
  EXPECT_EQ(GetDelimiter(), ',');
  EXPECT_EQ(GetDelimiter2(), std::string(",\0", 2));
  EXPECT_FALSE(SetDelimiter('\0'));
  EXPECT_EQ(GetDelimiter(), ',');
  EXPECT_TRUE(SetDelimiter(';'));
  EXPECT_EQ(GetDelimiter2(), std::string(";\0", 2));
  EXPECT_FALSE(SetDelimiter2(""));
  EXPECT_FALSE(SetDelimiter2("abc"));
  EXPECT_EQ(GetDelimiter(), ';');
  EXPECT_TRUE(SetDelimiter2("\r\n"));
  EXPECT_EQ(GetDelimiter(), '\r');
  EXPECT_EQ(GetDelimiter2(), "\r\n");
  EXPECT_TRUE(SetDelimiter2("|"));
  EXPECT_EQ(GetDelimiter2(), std::string("|\0", 2));
}

TEST_F(StateTest, SeparatorsComeFromTheFormatSettings) {
  rtl::FormatSettingsScope scope;
  rtl::TFormatSettings fs = rtl::FormatSettings();
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  fs.DateSeparator = '-';
  fs.TimeSeparator = '.';
  rtl::SetFormatSettings(fs);
  LoadSeparators();
  EXPECT_EQ(State().DecimalSep, ',');
  EXPECT_EQ(State().ThousandSep, '.');
  EXPECT_EQ(State().DateSep, '-');
  EXPECT_EQ(State().TimeSep, '.');
}

TEST_F(StateTest, RefCountAndAddress) {
  EXPECT_EQ(GetRefCnt(""), 0);
  EXPECT_EQ(GetRefCnt("x"), 1);
  EXPECT_EQ(SetStrAddr(nullptr), "");
  const char text[] = "ab\0cd";
  EXPECT_EQ(SetStrAddr(text), "ab");
}

}  // namespace
}  // namespace textutil
