#include "textutil/decstr.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/textutil/reference_data.h"

namespace textutil {
namespace {

std::string Normal(std::string s) { return s == "-0" ? "0" : s; }

TEST(DecimalStringTest, MatchesPythonDecimal) {
  auto rows = testdata::ReadTable("decimal.txt");
  ASSERT_GE(rows.size(), 500u);
  for (const auto& r : rows) {
    SCOPED_TRACE(r[0] + " " + r[1]);
    EXPECT_EQ(StrAdd(r[0], r[1]), r[2]);
    EXPECT_EQ(StrSub(r[0], r[1]), r[3]);
    EXPECT_EQ(StrMul(r[0], r[1]), r[4]);
    std::string rem;
    EXPECT_EQ(StrDiv(r[0], r[1], rem), Normal(r[5]));
    EXPECT_EQ(rem, Normal(r[6]));
    int cmp = StrCmp(r[0], r[1]);
    EXPECT_EQ((cmp > 0) - (cmp < 0), std::stoi(r[7]));
    EXPECT_EQ(StrHex(r[0]), r[8]);
    EXPECT_EQ(StrDec(r[8]), r[0]);
  }
}

TEST(DecimalStringTest, AddAndSubtract) {
  EXPECT_EQ(StrAdd("999", "1"), "1000");
  EXPECT_EQ(StrAdd("-5", "3"), "-2");
  EXPECT_EQ(StrAdd("0", "-7"), "-7");
  EXPECT_EQ(StrAdd("007", "1"), "1");  // a leading '0' is zero
  EXPECT_EQ(StrAdd("", "12"), "12");
  EXPECT_EQ(StrAdd("-5", "5"), "0");
  EXPECT_EQ(StrSub("3", "5"), "-2");
  EXPECT_EQ(StrSub("100", "1"), "99");
  EXPECT_EQ(StrSub("5", "5"), "0");
  EXPECT_EQ(StrSub("0", "5"), "-5");
  EXPECT_EQ(StrSub("0", "-5"), "5");
  EXPECT_EQ(StrSub("0", ""), "");
  EXPECT_EQ(StrSub("-3", "-5"), "2");
}

TEST(DecimalStringTest, MultiplyAndDivide) {
  EXPECT_EQ(StrMul("-12", "12"), "-144");
  EXPECT_EQ(StrMul("1", "-9"), "-9");
  EXPECT_EQ(StrMul("99", "99"), "9801");
  EXPECT_EQ(StrMul("", "5"), "0");
  std::string rem;
  EXPECT_EQ(StrDiv("100", "7", rem), "14");
  EXPECT_EQ(rem, "2");
  EXPECT_EQ(StrDiv("-100", "7", rem), "-14");
  EXPECT_EQ(rem, "-2");
  EXPECT_EQ(StrDiv("-5", "100", rem), "0");
  EXPECT_EQ(rem, "-5");
  EXPECT_EQ(StrDiv("5", "0", rem), "");
  EXPECT_EQ(rem, "");
  EXPECT_EQ(StrDiv("5", "", rem), "");
  EXPECT_EQ(StrDiv("", "5", rem), "0");
  EXPECT_EQ(rem, "0");
}

TEST(DecimalStringTest, CompareAndAbs) {
  EXPECT_LT(StrCmp("-5", "-3"), 0);
  EXPECT_EQ(StrCmp("10", "9"), 1);
  EXPECT_EQ(StrCmp("7", "7"), 0);
  EXPECT_GT(StrCmp("1", "-100"), 0);
  EXPECT_EQ(StrCmp("", "0"), 0);  // an empty operand counts as zero
  EXPECT_LT(StrCmp("", "5"), 0);
  EXPECT_GT(StrCmp("", "-5"), 0);
  EXPECT_EQ(StrAbs("-12"), "12");
  EXPECT_EQ(StrAbs("12"), "12");
  EXPECT_EQ(StrAbs("-"), "-");
}

TEST(DecimalStringTest, Rounding) {
  EXPECT_EQ(StrRnd("12345", 2), "12300");
  EXPECT_EQ(StrRnd("12355", 2), "12400");
  EXPECT_EQ(StrRnd("-95", 1), "-100");
  EXPECT_EQ(StrRnd("9", 1), "10");
  EXPECT_EQ(StrRnd("5", 1), "10");
  EXPECT_EQ(StrRnd("4", 1), "0");
  EXPECT_EQ(StrRnd("-4", 1), "0");
  EXPECT_EQ(StrRnd("12", 0), "12");
  EXPECT_EQ(StrRnd("", 2), "");
}

TEST(DecimalStringTest, RoundingPastTheDigitCount) {
  // 5 rounded to a multiple of 1000 is 0, not 10.
  EXPECT_EQ(StrRnd("5", 3), "0");
  EXPECT_EQ(StrRnd("-5", 3), "0");
  EXPECT_EQ(StrRnd("99", 3), "0");
  EXPECT_EQ(StrRnd("499", 3), "0");
  EXPECT_EQ(StrRnd("500", 3), "1000");
  EXPECT_EQ(StrRnd("-500", 3), "-1000");
  EXPECT_EQ(StrRnd("12345", 5), "0");
  EXPECT_EQ(StrRnd("55555", 5), "100000");
}

TEST(DecimalStringTest, RoundingAgreesWithIntegerArithmetic) {
  std::mt19937 rng(17);
  for (int i = 0; i < 2000; ++i) {
    long long v = static_cast<long long>(rng() % 2000000) - 1000000;
    int n = 1 + static_cast<int>(rng() % 8);
    long long p = 1;
    for (int k = 0; k < n; ++k) p *= 10;
    long long mag = v < 0 ? -v : v;
    long long rounded = (mag + p / 2) / p * p;
    if (v < 0) rounded = -rounded;
    ASSERT_EQ(StrRnd(std::to_string(v), n), std::to_string(rounded)) << v << " " << n;
  }
}

TEST(DecimalStringTest, HexConversions) {
  EXPECT_EQ(StrHex("65536"), "10000");
  EXPECT_EQ(StrHex("255"), "FF");
  EXPECT_EQ(StrHex("-255"), "-FF");
  EXPECT_EQ(StrHex("0"), "0");
  EXPECT_EQ(StrHex(""), "");
  EXPECT_EQ(StrDec("FF"), "255");
  EXPECT_EQ(StrDec("ff"), "255");
  EXPECT_EQ(StrDec("-10000"), "-65536");
  EXPECT_EQ(StrDec(""), "");
  EXPECT_EQ(StrDec("0"), "0");
}

TEST(DecimalStringTest, MalformedOperandsDoNotHang) {
  std::mt19937 rng(23);
  const std::string alphabet = "0123456789--:?@ xA";
  for (int i = 0; i < 3000; ++i) {
    std::string a(rng() % 12, '0'), b(rng() % 12, '0');
    for (char& c : a) c = alphabet[rng() % alphabet.size()];
    for (char& c : b) c = alphabet[rng() % alphabet.size()];
    std::string rem;
    StrAdd(a, b);
    StrSub(a, b);
    StrMul(a, b);
    StrDiv(a, b, rem);
    StrCmp(a, b);
    StrRnd(a, static_cast<int>(rng() % 5));
    StrHex(a);
    StrDec(b);
  }
  EXPECT_EQ(StrSub("-", "5"), "-5");
  // Each leading '-' negates, as the sign rules applied one after the
  // other do: 1 - (-5), -(5 + 1), and so on.
  const std::pair<const char*, const char*> sums[][2] = {
      {{"--5", "1"}, {"6", "4"}},     // StrAdd, StrSub
      {{"1", "--5"}, {"6", "-4"}},
      {{"---5", "1"}, {"-4", "-6"}},
      {{"--5", "--5"}, {"10", "0"}},
      {{"--5", "-5"}, {"0", "10"}},
  };
  for (const auto& [operands, results] : sums) {
    EXPECT_EQ(StrAdd(operands.first, operands.second), results.first) << operands.first << " + " << operands.second;
    EXPECT_EQ(StrSub(operands.first, operands.second), results.second) << operands.first << " - " << operands.second;
  }
}

}  // namespace
}  // namespace textutil
