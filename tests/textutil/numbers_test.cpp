#include "textutil/numbers.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <random>

#include "platform/runtime/exceptions.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using NumbersTest = TextutilTest;

TEST_F(NumbersTest, RoundingExamples) {
  EXPECT_EQ(RndToFlt(2.5), 3);
  EXPECT_EQ(RndToFlt(-2.5), -3);
  EXPECT_EQ(RndToFlt(2.4), 2);
  // x + 0.5 is formed while cutting toward zero, so this stays below 1.
  EXPECT_EQ(RndToFlt(0.49999999999999994), 0);
  EXPECT_EQ(RndToInt(2.5), 3);
  EXPECT_EQ(RndToInt(-2.5), -3);
  EXPECT_EQ(RndToInt(2.4), 2);
  EXPECT_EQ(RndToInt(1e20), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(RndToDec(2.5, 0), 2);
  EXPECT_EQ(RndToDec(3.5, 0), 4);
  EXPECT_EQ(RndToDec(1234.5, -2), 1200);
  EXPECT_DOUBLE_EQ(RndToDec(1.23456, 2), 1.23);
  EXPECT_EQ(RndToSig(12345, 2), 12000);
  EXPECT_DOUBLE_EQ(RndToSig(0.00123456, 3), 0.00123);
  EXPECT_EQ(RndToSig(-987, 1), -1000);
}

TEST_F(NumbersTest, RoundingEdgeValues) {
  EXPECT_EQ(RndToSig(0, 3), 0);
  EXPECT_TRUE(std::isnan(RndToSig(NAN, 3)));
  EXPECT_EQ(RndToSig(INFINITY, 3), INFINITY);
  EXPECT_EQ(RndToDec(1e300, 20), 1e300);
  EXPECT_EQ(RndToDec(12.0, -400), 0);
}

TEST_F(NumbersTest, RoundingRestoresTheCallersMode) {
  std::fesetround(FE_UPWARD);
  RndToFlt(1.5);
  RndToSig(123.0, 2);
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  // RndToDec follows the caller's mode.
  EXPECT_EQ(RndToDec(2.1, 0), 3);
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(RndToDec(2.1, 0), 2);
}

TEST_F(NumbersTest, Cents) {
  EXPECT_EQ(RndToCents(12350), 12400);
  EXPECT_EQ(RndToCents(-12350), -12400);
  EXPECT_EQ(RndToCents(12349), 12300);
  EXPECT_EQ(TruncToCents(12399), 12300);
  EXPECT_EQ(TruncToCents(-12399), -12300);
  EXPECT_EQ(RndToCents(std::numeric_limits<Currency>::max()), std::numeric_limits<Currency>::max() / 100 * 100);
}

TEST_F(NumbersTest, Fractions) {
  EXPECT_EQ(FloatToFrac(2.75, 16), "2-3/4");
  EXPECT_EQ(FloatToFrac(2.0, 16), "2");
  EXPECT_EQ(FloatToFrac(2.99, 16), "3");
  EXPECT_EQ(FloatToFrac(-2.75, 4), "-2-3/4");
  EXPECT_EQ(FloatToFrac(2.5, 0), "3");
  EXPECT_EQ(FloatToFrac(0.125, 8), "0-1/8");
}

TEST_F(NumbersTest, FractionsKeepTheSignBetweenMinusOneAndZero) {
  EXPECT_EQ(FloatToFrac(-0.75, 4), "-0-3/4");
  EXPECT_EQ(FloatToFrac(-0.5, 16), "-0-1/2");
  EXPECT_EQ(FloatToFrac(-0.01, 16), "0");
  EXPECT_EQ(FloatToFrac(-0.99, 16), "-1");
}

TEST_F(NumbersTest, FloatComparisonKeepsItsInvertedSign) {
  EXPECT_EQ(CmpFloat(1.0, 1.0 + 1e-12), 0);
  EXPECT_EQ(CmpFloat(1.0, 2.0), 1);
  EXPECT_EQ(CmpFloat(2.0, 1.0), -1);
  SetFloatTolerance(0.5);
  EXPECT_EQ(CmpFloat(1.0, 1.4), 0);
  SetFloatTolerance(1e-9);
  EXPECT_EQ(CmpFloat(1.0, 1.4), 1);
}

TEST_F(NumbersTest, IntegerHelpers) {
  EXPECT_EQ(iMax(3, -4), 3);
  EXPECT_EQ(iMin(3, -4), -4);
  EXPECT_EQ(iMid(5, 5, 1), 5);
  EXPECT_EQ(iMid(1, 9, 5), 5);
  EXPECT_EQ(iMid(1, 2, 3), 2);  // not a median: min(c, max(a, b))
  EXPECT_EQ(iMid(1, -1, 3), 3);  // unsigned: -1 is the greatest
  EXPECT_EQ(iRnd(7, 5), 5);
  EXPECT_EQ(iRnd(8, 5), 10);
  EXPECT_EQ(iRnd(5, 10), 10);
  EXPECT_EQ(iRnd(-8, 5), -10);
  EXPECT_EQ(iRnd(7, 0), 7);
  EXPECT_EQ(iRnd(std::numeric_limits<std::int32_t>::max(), 10), 2147483640);
  EXPECT_EQ(iTrunc(17, 5), 15);
  EXPECT_EQ(iTrunc(-17, 5), -15);
  EXPECT_EQ(iTrunc(17, 0), 17);
  EXPECT_EQ(iTrunc(std::numeric_limits<std::int32_t>::min(), -1), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(iSign(-5), -1);
  EXPECT_EQ(iSign(0), 0);
  EXPECT_EQ(SignDbl(-0.0), -1);
  EXPECT_EQ(SignDbl(0.0), 0);
  EXPECT_EQ(SignDbl(2.5), 1);
}

TEST_F(NumbersTest, Powers) {
  EXPECT_EQ(IPower(2, 31), 0);
  EXPECT_EQ(IPower(2, 30), 1 << 30);
  EXPECT_EQ(IPower(-2, 31), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(IPower(5, 0), 1);
  EXPECT_EQ(IPower(3, -1), 0);
  EXPECT_EQ(IPower(1, 1000000000), 1);
  EXPECT_EQ(IPower(-1, 2000000001), -1);
  EXPECT_EQ(IPower(-1, 2000000000), 1);
  EXPECT_EQ(IPower(0, 5), 0);
  EXPECT_EQ(IPower2(31), 0);
  EXPECT_EQ(IPower2(0), 1);
  EXPECT_EQ(IPower2(-1), 0);
}

TEST_F(NumbersTest, GreatestCommonDivisor) {
  EXPECT_EQ(GCD(0, 0), 1u);
  EXPECT_EQ(GCD(12, 18), 6u);
  EXPECT_EQ(GCD(0, 7), 7u);  // used to loop for ever
  EXPECT_EQ(GCD(7, 0), 7u);
  EXPECT_EQ(GCD(1, 4000000000u), 1u);
  EXPECT_EQ(GCD(4000000000u, 3000000000u), 1000000000u);
}

TEST_F(NumbersTest, Digits) {
  EXPECT_EQ(GetDigit(12345, 2), 4);
  EXPECT_EQ(GetDigit(12345, 10), 9999);
  EXPECT_EQ(GetDigit(12345, 0), 9999);
  EXPECT_EQ(GetDigit(12345, 6), 0);
  EXPECT_EQ(GetDigit(-12345, 2), 4);
}

TEST_F(NumbersTest, Bits) {
  EXPECT_EQ(LoBit(0), -1);
  EXPECT_EQ(HiBit(0), -1);
  EXPECT_EQ(HiBit(std::numeric_limits<std::int32_t>::min()), 31);
  EXPECT_EQ(LoBit(12), 2);
  EXPECT_EQ(CntBit(255), 8);
  EXPECT_EQ(CntBit(-1), 32);
  EXPECT_TRUE(TestBit(4, 2));
  EXPECT_TRUE(TestBit(4, 34));  // index taken mod 32
  std::int32_t v = 0;
  SetBit(v, 31);
  EXPECT_EQ(v, std::numeric_limits<std::int32_t>::min());
  ClrBit(v, 31);
  EXPECT_EQ(v, 0);
  std::uint8_t b = 0;
  SetByteBit(b, 7);
  EXPECT_EQ(b, 128);
  ClrByteBit(b, 7);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(RotL(std::numeric_limits<std::int32_t>::min(), 1), 1);
  EXPECT_EQ(RotR(1, 1), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(RotL(0x12345678, 32), 0x12345678);
  std::int32_t x = 1, y = 2;
  IntSwap(x, y);
  EXPECT_EQ(x * 10 + y, 21);
  std::uint16_t p = 1, q = 2;
  WordSwap(p, q);
  EXPECT_EQ(p * 10 + q, 21);
}

TEST_F(NumbersTest, UnsignedArithmetic) {
  EXPECT_TRUE(UnSignedCompare(-1, 1));
  EXPECT_FALSE(UnSignedCompare(1, -1));
  EXPECT_THROW(AddUSI(4294967295u, 1), rtl::EIntOverflow);
  EXPECT_EQ(AddUSI(4294967294u, 1), 4294967295u);
  EXPECT_THROW(SubUSI(0, 1), rtl::EIntOverflow);
  EXPECT_EQ(SubUSI(5, 5), 0u);
  EXPECT_THROW(MulUSI(65536, 65536), rtl::EIntOverflow);
  EXPECT_EQ(MulUSI(65535, 65537), 4294967295u);
  EXPECT_EQ(DivUSI(4294967295u, 2), 2147483647u);
  EXPECT_EQ(ModUSI(4294967295u, 10), 5u);
  EXPECT_THROW(DivUSI(1, 0), rtl::Exception);
  EXPECT_THROW(ModUSI(1, 0), rtl::Exception);
  EXPECT_EQ(CmpUSI(1, 4294967295u), -1);
  EXPECT_EQ(CmpUSI(7, 7), 0);
  EXPECT_EQ(USIToStr(4294967295u), "4294967295");
  EXPECT_EQ(StrToUSI("4294967295"), 4294967295u);
  EXPECT_EQ(StrToUSI("1,234"), 1234u);
  EXPECT_EQ(StrToUSI(""), 0u);
  EXPECT_EQ(StrToUSI("000000000000000042"), 42u);
  EXPECT_THROW(StrToUSI("4294967296"), rtl::EIntOverflow);
}

TEST_F(NumbersTest, GroupedIntegers) {
  EXPECT_EQ(IntToFmtStr(1234567), "1,234,567");
  EXPECT_EQ(IntToFmtStr(-1234), "-1,234");
  EXPECT_EQ(IntToFmtStr(999), "999");
  EXPECT_EQ(IntToFmtStr(0), "0");
  EXPECT_EQ(IntToFmtStr(std::numeric_limits<std::int32_t>::min()), "-2,147,483,648");
  MutableState().ThousandSep = '.';
  EXPECT_EQ(IntToFmtStr(1234567), "1.234.567");
}

TEST_F(NumbersTest, CheckDigits) {
  EXPECT_EQ(CreditSum("4111 1111 1111 1111"), 0);
  EXPECT_EQ(CreditSum("378282246310005"), 0);  // 15 digits
  EXPECT_EQ(CreditSum("79927398713"), 0);
  EXPECT_NE(CreditSum("79927398710"), 0);
  EXPECT_NE(CreditSum("378282246310006"), 0);
  EXPECT_EQ(CreditSum(""), -1);
  EXPECT_EQ(CreditSum("abc"), -1);
  EXPECT_EQ(ISBNSum("0-306-40615-2"), 1);
  EXPECT_EQ(ISBNSum("0-306-40615-3"), 0);
  EXPECT_EQ(ISBNSum("0-8044-2957-X"), 1);
  EXPECT_EQ(ISBNSum("0-306-40615"), 0);
  EXPECT_EQ(ISBNSum("0-306-40615-22"), 0);
}

// Luhn by the usual definition: double every second digit from the right.
int Luhn(const std::string& digits) {
  int sum = 0;
  for (size_t i = 0; i < digits.size(); ++i) {
    int d = digits[digits.size() - 1 - i] - '0';
    if (i % 2 == 1) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    sum += d;
  }
  return sum % 10;
}

TEST_F(NumbersTest, CreditSumAgreesWithLuhnForEveryLength) {
  std::mt19937 rng(8);
  for (int i = 0; i < 1000; ++i) {
    std::string digits(1 + rng() % 19, '0');
    for (char& c : digits) c = static_cast<char>('0' + rng() % 10);
    ASSERT_EQ(CreditSum(digits), Luhn(digits)) << digits;
  }
}

TEST_F(NumbersTest, RadixConversion) {
  EXPECT_EQ(RadixStr("255", 10, 16), "FF");
  EXPECT_EQ(RadixStr("ff", 16, 10), "255");
  EXPECT_EQ(RadixStr("-1010", 2, 10), "-10");
  EXPECT_EQ(RadixStr("0", 10, 2), "0");
  EXPECT_EQ(RadixStr("ZZ", 36, 10), "1295");
  EXPECT_EQ(RadixStr("1 2 3", 10, 10), "123");
  EXPECT_EQ(RadixStr("129", 2, 10), "1");  // only the digits of the radix
  EXPECT_EQ(RadixStr("xyz", 10, 2), "");
  EXPECT_EQ(RadixStr("10", 1, 10), "");
  EXPECT_EQ(RadixStr("10", 10, 37), "");
  EXPECT_EQ(RadixStr("18446744073709551616", 10, 16), "10000000000000000");
  std::mt19937 rng(4);
  for (int i = 0; i < 200; ++i) {
    std::uint32_t v = rng();
    int to = 2 + static_cast<int>(rng() % 35);
    std::string there = RadixStr(std::to_string(v), 10, to);
    ASSERT_EQ(std::stoull(there, nullptr, to), v);
    ASSERT_EQ(RadixStr(there, to, 10), std::to_string(v));
  }
}

}  // namespace
}  // namespace textutil
