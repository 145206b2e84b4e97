#include "textutil/fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/textutil/textutil_fixture.h"
#include "textutil/state.h"

namespace textutil {
namespace {

using FieldsTest = TextutilTest;
using TokensTest = TextutilTest;

// Every field of a walk with routine (Parse or ParseWord), with the
// position after each.
template <typename Routine>
std::vector<std::pair<std::string, int>> Walk(Routine routine, const std::string& s, const std::string& delims) {
  std::vector<std::pair<std::string, int>> out;
  for (int pos = 1; pos != 0 && out.size() < 100;) {
    std::string field = routine(s, delims, pos);
    out.emplace_back(field, pos);
  }
  return out;
}

using Steps = std::vector<std::pair<std::string, int>>;

TEST_F(FieldsTest, ParseKeepsEmptyFields) {
  EXPECT_EQ(Walk(Parse, "a;;b", ";"), (Steps{{"a", 3}, {"", 4}, {"b", 0}}));
  // A trailing delimiter gives no final empty field.
  EXPECT_EQ(Walk(Parse, "a;b;", ";"), (Steps{{"a", 3}, {"b", 5}, {"", 0}}));
  EXPECT_EQ(Walk(Parse, ";", ";"), (Steps{{"", 2}, {"", 0}}));
  EXPECT_EQ(Walk(Parse, "a,b;c", ",;"), (Steps{{"a", 3}, {"b", 5}, {"c", 0}}));
}

TEST_F(FieldsTest, ParseWordSkipsRunsOfDelimiters) {
  EXPECT_EQ(Walk(ParseWord, "a;;b", ";"), (Steps{{"a", 3}, {"b", 0}}));
  EXPECT_EQ(Walk(ParseWord, "a;;", ";"), (Steps{{"a", 3}, {"", 0}}));
  EXPECT_EQ(Walk(ParseWord, ";; a ,b", " ;,"), (Steps{{"a", 6}, {"b", 0}}));
}

TEST_F(FieldsTest, QuotesHideDelimitersAndStayInTheField) {
  EXPECT_EQ(Walk(Parse, "1723;\"Smith; John\";x", ";"),
            (Steps{{"1723", 6}, {"\"Smith; John\"", 20}, {"x", 0}}));
  EXPECT_EQ(Walk(ParseWord, "a \"b c\" d", " "), (Steps{{"a", 3}, {"\"b c\"", 9}, {"d", 0}}));
  // An unmatched quote makes the rest of the line one field, quotes kept.
  EXPECT_EQ(Walk(Parse, "a;\"b;c;d", ";"), (Steps{{"a", 3}, {"\"b;c;d", 0}}));
  EXPECT_EQ(Walk(ParseWord, "a;\"b;c", ";"), (Steps{{"a", 3}, {"\"b;c", 0}}));
  EXPECT_EQ(Fetch("a;\"b;c;d", ";", 2, false), "\"b;c;d");
  EXPECT_EQ(Fetch("a;\"b;c;d", ";", 3, false), "");
}

TEST_F(FieldsTest, RefusalsSetThePositionToZero) {
  int pos = 0;
  EXPECT_EQ(Parse("abc", ";", pos), "");
  EXPECT_EQ(pos, 0);
  pos = -1;
  EXPECT_EQ(Parse("abc", ";", pos), "");
  EXPECT_EQ(pos, 0);
  pos = 1;
  EXPECT_EQ(Parse("abc", "", pos), "");
  EXPECT_EQ(pos, 0);
  pos = 4;
  EXPECT_EQ(ParseWord("abc", ";", pos), "");
  EXPECT_EQ(pos, 0);
}

TEST_F(FieldsTest, ParseTag) {
  int pos = 1;
  EXPECT_EQ(ParseTag("x[ab]y", "[", "]", pos), "ab");
  EXPECT_EQ(pos, 6);
  pos = 1;
  EXPECT_EQ(ParseTag("<b>bold</b> <b>more</b>", "<b>", "</b>", pos), "bold");
  EXPECT_EQ(ParseTag("<b>bold</b> <b>more</b>", "<b>", "</b>", pos), "more");
  EXPECT_EQ(pos, 24);
  pos = 1;
  EXPECT_EQ(ParseTag("x[ab", "[", "]", pos), "");
  EXPECT_EQ(pos, 0);
  pos = 3;
  EXPECT_EQ(ParseTag("x[]", "[", "]", pos), "");
  EXPECT_EQ(pos, 0);
}

TEST_F(FieldsTest, Fetch) {
  EXPECT_EQ(Fetch("a,b,c", ",", 2, false), "b");
  EXPECT_EQ(Fetch("a,b,c", ",", 2, true), "b,");
  EXPECT_EQ(Fetch("a,b,c", ",", 3, true), "c");
  EXPECT_EQ(Fetch("a,b,c", ",", 4, false), "");
  EXPECT_EQ(Fetch("a,b,c", ",", 0, false), "");
  EXPECT_EQ(Fetch("a,,c", ",", 2, true), ",");
  EXPECT_EQ(Fetch("a;b,c", ",;", 3, false), "c");
  EXPECT_EQ(Fetch("", ",", 1, false), "");
}

TEST_F(TokensTest, OneCharacterMode) {
  const std::string s = "a,b,c";
  EXPECT_EQ(GetTokenCnt(s), 3);
  EXPECT_EQ(GetTokenCnt(""), 0);
  EXPECT_EQ(GetTokenCnt("a,b,"), 3);
  EXPECT_EQ(GetTokenPos(s, 3), 5);
  EXPECT_EQ(GetTokenPos(s, 1), 1);
  EXPECT_EQ(GetTokenPos(s, 4), 0);
  EXPECT_EQ(GetTokenPos(s, 0), 0);
  EXPECT_EQ(GetTokenNum(s, 3), 2);
  EXPECT_EQ(GetTokenNum(s, 2), 0);
  EXPECT_EQ(GetTokenNum(s, 6), 0);
  EXPECT_EQ(GetToken(s, 3), "b");
  EXPECT_EQ(GetToken(s, 2), "");
  EXPECT_EQ(GetToken("ab,cd", 5), "cd");
}

TEST_F(TokensTest, EditingTokens) {
  std::string s = "a,b,c";
  int pos = 3;
  EXPECT_TRUE(DeleteToken(s, pos));
  EXPECT_EQ(s, "a,c");
  EXPECT_EQ(pos, 3);
  s = "a,b,c";
  pos = 5;
  EXPECT_TRUE(DeleteToken(s, pos));
  EXPECT_EQ(s, "a,b,");
  EXPECT_EQ(pos, 5);
  s = "a,,c";
  pos = 3;
  EXPECT_TRUE(DeleteToken(s, pos));  // on a delimiter: just that delimiter
  EXPECT_EQ(s, "a,c");
  EXPECT_EQ(pos, 3);
  pos = 4;
  EXPECT_FALSE(DeleteToken(s, pos));

  EXPECT_EQ(Edited("a,b", InsertToken, "x", 3), "true|a,x,b");
  EXPECT_EQ(Edited("a,b", InsertToken, "x", 0), "true|a,b,x");
  EXPECT_EQ(Edited("", InsertToken, "x", 0), "true|x");
  EXPECT_EQ(Edited("x", InsertToken, "y", 2), "false|x");

  s = "ab,cd,ef";
  EXPECT_TRUE(ReplaceToken(s, "XYZ", 4));
  EXPECT_EQ(s, "ab,XYZ,ef");
  EXPECT_TRUE(ReplaceToken(s, "Q", 3));  // on a delimiter: inserted in front of it
  EXPECT_EQ(s, "abQ,XYZ,ef");
  EXPECT_TRUE(ReplaceToken(s, "", 10));
  EXPECT_EQ(s, "abQ,XYZ,");
  EXPECT_FALSE(ReplaceToken(s, "z", 0));
}

TEST_F(TokensTest, Walking) {
  const std::string s = "ab,cd,ef";
  int pos = 1;
  EXPECT_TRUE(NextToken(s, pos));
  EXPECT_EQ(pos, 4);
  EXPECT_TRUE(NextToken(s, pos));
  EXPECT_EQ(pos, 7);
  EXPECT_FALSE(NextToken(s, pos));
  EXPECT_EQ(pos, 0);
  pos = 8;
  EXPECT_TRUE(PrevToken(s, pos));
  EXPECT_EQ(pos, 5);
  EXPECT_TRUE(PrevToken(s, pos));
  EXPECT_EQ(pos, 2);
  EXPECT_FALSE(PrevToken(s, pos));
  EXPECT_EQ(pos, 0);
  pos = 9;
  EXPECT_FALSE(PrevToken(s, pos));
  EXPECT_EQ(pos, 9);
}

TEST_F(TokensTest, TwoCharacterMode) {
  ASSERT_TRUE(SetDelimiter2("\r\n"));
  std::string s = "line one\r\nline two\r\nthree";
  EXPECT_EQ(GetTokenCnt(s), 3);
  EXPECT_EQ(GetTokenPos(s, 2), 11);
  EXPECT_EQ(GetToken(s, 12), "line two");
  EXPECT_EQ(GetTokenNum(s, 21), 3);
  int pos = 1;
  EXPECT_TRUE(DeleteToken(s, pos));
  EXPECT_EQ(s, "line two\r\nthree");
  EXPECT_EQ(pos, 1);
  EXPECT_TRUE(InsertToken(s, "zero", 1));
  EXPECT_EQ(s, "zero\r\nline two\r\nthree");
  EXPECT_TRUE(InsertToken(s, "four", 0));
  EXPECT_EQ(s, "zero\r\nline two\r\nthree\r\nfour");
  EXPECT_EQ(ScanPair(s, "\r\n", 6), 15);
  EXPECT_EQ(ScanPairR(s, "\r\n", 15), 5);
  EXPECT_EQ(ScanPairR(s, "\r\n", 0), 22);
  EXPECT_EQ(ScanPair(s, "\r", 1), 0);
}

}  // namespace
}  // namespace textutil
