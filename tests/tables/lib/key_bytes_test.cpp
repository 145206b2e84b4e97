#include "tables/lib/key_bytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/raised.h"
#include "tables/lib/numeric.h"
#include "tests/tables/lib/lib_test_support.h"

namespace korvex {
namespace {

using Key = std::vector<std::uint8_t>;

std::string Hex(const Key& key) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : key) {
    if (!out.empty()) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

Key IntegerKey(std::int32_t v) { Key k(4); FlipIntegerBits(v, k.data()); return k; }
Key SmallIntKey(std::int16_t v) { Key k(2); FlipSmallIntBits(v, k.data()); return k; }
Key WordKey(std::uint16_t v) { Key k(2); FlipWordBits(v, k.data()); return k; }
Key CompKey(std::int64_t v) { Key k(8); FlipCompBits(v, k.data()); return k; }
Key FloatKey(double v) { Key k(8); FlipFloatBits(v, k.data()); return k; }

TEST(KeyBytes, DocumentedEncodings) {
  EXPECT_EQ(Hex(IntegerKey(-1)), "7F FF FF FF");
  EXPECT_EQ(Hex(IntegerKey(0)), "80 00 00 00");
  EXPECT_EQ(Hex(IntegerKey(1)), "80 00 00 01");
  EXPECT_EQ(Hex(SmallIntKey(-32768)), "00 00");
  EXPECT_EQ(Hex(SmallIntKey(32767)), "FF FF");
  EXPECT_EQ(Hex(WordKey(0x1234)), "12 34");
  EXPECT_EQ(Hex(FloatKey(1.0)), "BF F0 00 00 00 00 00 00");
  EXPECT_EQ(Hex(FloatKey(-1.0)), "40 0F FF FF FF FF FF FF");
  EXPECT_EQ(Hex(FloatKey(0.0)), "80 00 00 00 00 00 00 00");
  EXPECT_EQ(Hex(FloatKey(-0.0)), "80 00 00 00 00 00 00 00");
}

// Sorting values and sorting their keys as bytes must give the same order,
// with equal values (and only those) giving equal keys.
template <typename T, typename Encode>
void ExpectKeyOrderIsValueOrder(std::vector<T> values, Encode encode) {
  std::sort(values.begin(), values.end());
  for (std::size_t i = 1; i < values.size(); ++i) {
    Key a = encode(values[i - 1]), b = encode(values[i]);
    int c = std::memcmp(a.data(), b.data(), a.size());
    if (values[i - 1] == values[i]) {
      ASSERT_EQ(c, 0) << values[i - 1];
    } else {
      ASSERT_LT(c, 0) << values[i - 1] << " vs " << values[i];
    }
  }
}

template <typename T>
std::vector<T> RandomIntegers(std::mt19937_64& random, int n) {
  std::vector<T> values = {std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), 0, 1, T(-1)};
  for (int i = 0; i < n; ++i) values.push_back(static_cast<T>(random()));
  for (int i = 0; i < n; ++i) values.push_back(static_cast<T>(static_cast<int>(random() % 200) - 100));
  return values;
}

TEST(KeyBytes, KeyOrderIsValueOrderForEveryFieldType) {
  std::mt19937_64 random(42);
  ExpectKeyOrderIsValueOrder(RandomIntegers<std::int16_t>(random, 2000), SmallIntKey);   // smallint
  ExpectKeyOrderIsValueOrder(RandomIntegers<std::uint16_t>(random, 2000), WordKey);      // word, boolean
  ExpectKeyOrderIsValueOrder(RandomIntegers<std::int32_t>(random, 2000), IntegerKey);    // integer, date, time
  ExpectKeyOrderIsValueOrder(RandomIntegers<std::int64_t>(random, 2000), CompKey);       // BCD stored form
  std::vector<double> doubles = {0.0, -0.0, 1.0, -1.0, std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::lowest(), std::numeric_limits<double>::min(),
                                 std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min()};
  std::uniform_real_distribution<double> unit(-1, 1);
  for (int i = 0; i < 2000; ++i) doubles.push_back(unit(random) * std::pow(10.0, static_cast<int>(random() % 600) - 300));
  for (int i = 0; i < 200; ++i) doubles.push_back(static_cast<double>(static_cast<int>(random() % 20) - 10));
  ExpectKeyOrderIsValueOrder(doubles, FloatKey);  // float, timestamp
}

TEST(KeyBytes, EncodingsMatchPythonStruct) {
  std::mt19937_64 random(3);
  std::ostringstream program, expected;
  program << "import struct\n"
             "def flip(b): return bytes([b[0]^0x80]) + b[1:]\n"
             "def fl(v):\n"
             "    b = struct.pack('>d', 0.0 if v == 0 else v)\n"
             "    return bytes([b[0]|0x80]) + b[1:] if v >= 0 else bytes(255-x for x in b)\n";
  std::vector<std::string> ours;
  for (int i = 0; i < 200; ++i) {
    auto s = static_cast<std::int16_t>(random());
    auto w = static_cast<std::uint16_t>(random());
    auto n = static_cast<std::int32_t>(random());
    auto c = static_cast<std::int64_t>(random());
    double d = std::ldexp(static_cast<double>(static_cast<std::int64_t>(random())), static_cast<int>(random() % 200) - 100);
    std::ostringstream dtext;
    dtext.precision(17);
    dtext << d;
    program << "print(flip(struct.pack('>h'," << s << ")).hex(), struct.pack('>H'," << w
            << ").hex(), flip(struct.pack('>i'," << n << ")).hex(), flip(struct.pack('>q'," << c
            << ")).hex(), fl(float('" << dtext.str() << "')).hex())\n";
    auto lower = [](Key k) {
      std::string h = Hex(k), out;
      for (char ch : h)
        if (ch != ' ') out += static_cast<char>(std::tolower(ch));
      return out;
    };
    expected << lower(SmallIntKey(s)) << ' ' << lower(WordKey(w)) << ' ' << lower(IntegerKey(n)) << ' '
             << lower(CompKey(c)) << ' ' << lower(FloatKey(d)) << '\n';
  }
  std::string python = testing::RunPython(program.str());
  if (python.empty()) GTEST_SKIP() << "python3 is not available";
  EXPECT_EQ(python, expected.str());
}

TEST(KeyBytes, FlipBufferInvertsAndCountZeroDoesNothing) {
  Key bytes = {0x00, 0x7F, 0xFF, 0x10};
  FlipBuffer(bytes.data(), 4);
  EXPECT_EQ(Hex(bytes), "FF 80 00 EF");
  FlipBuffer(bytes.data(), 4);
  EXPECT_EQ(Hex(bytes), "00 7F FF 10");
  std::vector<std::uint8_t> guard(300, 0x55);
  FlipBuffer(guard.data(), 0);
  EXPECT_TRUE(std::all_of(guard.begin(), guard.end(), [](std::uint8_t b) { return b == 0x55; }));
  FlipBuffer(guard.data(), 300);  // longer than 255 bytes works too
  EXPECT_TRUE(std::all_of(guard.begin(), guard.end(), [](std::uint8_t b) { return b == 0xAA; }));
}

TEST(KeyBytes, DescendingFieldReversesTheOrder) {
  Key a = IntegerKey(5), b = IntegerKey(9);
  FlipBuffer(a.data(), a.size());
  FlipBuffer(b.data(), b.size());
  EXPECT_GT(std::memcmp(a.data(), b.data(), 4), 0);
}

TEST(KeyBytes, PrefixHelpers) {
  Key a = {1, 2, 3, 4}, b = {1, 2, 9, 4};
  EXPECT_EQ(GetDuplicateCount(a.data(), b.data(), 4), 2);
  EXPECT_EQ(GetDuplicateCount(a.data(), a.data(), 3), 3);
  Key tail = {7, 0, 0, 0};
  EXPECT_EQ(GetTrailingCount(&tail[3], 10), 3);
  EXPECT_EQ(GetTrailingCount(&tail[3], 2), 2);
  FillTrail(a.data() + 1, 2);
  EXPECT_EQ(Hex(a), "01 00 00 04");
  EXPECT_EQ(FlipIntegerSign(12), -12);
}

TEST(KeyBytes, ScramblingIsItsOwnInverse) {
  std::string text = "The quick brown fox";
  std::string data = text;
  EncryptBuffer(data.data(), static_cast<std::int32_t>(data.size()), 0x12, 0xF0);
  EXPECT_NE(data, text);
  // byte i is xor'ed with (k1 + i) and (k2 - i)
  EXPECT_EQ(static_cast<std::uint8_t>(data[0]), static_cast<std::uint8_t>('T' ^ 0x12 ^ 0xF0));
  EXPECT_EQ(static_cast<std::uint8_t>(data[1]), static_cast<std::uint8_t>('h' ^ 0x13 ^ 0xEF));
  DecryptBuffer(data.data(), static_cast<std::int32_t>(data.size()), 0x12, 0xF0);
  EXPECT_EQ(data, text);
  EncryptBuffer(data.data(), 0, 1, 2);
  EXPECT_EQ(data, text);
}

// ---- BCD stored form and numbers -------------------------------------------

TEST(Bcd, DocumentedStoredForms) {
  EXPECT_EQ(FloatToComp(123.45, 2), 123452);
  EXPECT_EQ(FloatToComp(-0.5, 1), -51);
  EXPECT_EQ(FloatToComp(7, 0), 70);
  EXPECT_EQ(FloatToComp(0, 2), 2);
  EXPECT_EQ(FloatToComp(0, 0), 0);
  EXPECT_EQ(FloatToComp(1.005, 2), 1012);  // 1.005 reads as 1.00500000000000: half away
  EXPECT_EQ(FloatToComp(-2.5, 0), -30);
  EXPECT_EQ(FloatToComp(1.23456, 9), 123464);  // more than four decimals count as four
  EXPECT_EQ(MakeBCDDisplayFormat(2), "##############0.00");
  EXPECT_EQ(MakeBCDDisplayFormat(0), "##############0");
}

TEST(Bcd, StoredZeroIsZero) {
  EXPECT_EQ(CompToFloat(0), 0.0);
  EXPECT_EQ(CompToCurr(0), Currency{});
}

TEST(Bcd, TooLargeForTheStoredFormIsReportedNotRaised) {
  EXPECT_EQ(FloatToComp(1e30, 0), std::nullopt);
  EXPECT_EQ(FloatToComp(9.3e17, 2), std::nullopt);
  EXPECT_EQ(FloatToComp(std::nan(""), 2), std::nullopt);
  EXPECT_EQ(FloatToComp(INFINITY, 2), std::nullopt);
  EXPECT_NE(FloatToComp(9.2e17, 0), std::nullopt);
  EXPECT_EQ(CurrToComp(Currency{std::numeric_limits<std::int64_t>::max()}, 4), std::nullopt);
}

TEST(Bcd, CompToFloatInsertsTheDecimals) {
  EXPECT_EQ(CompToFloat(123452), 123.45);
  EXPECT_EQ(CompToFloat(-51), -0.5);
  EXPECT_EQ(CompToFloat(70), 7.0);
  EXPECT_EQ(CompToFloat(54), 0.0005);
  EXPECT_EQ(CompToCurr(123452)->scaled, 1234500);
  EXPECT_EQ(CompToCurr(-51)->scaled, -5000);
  EXPECT_EQ(CompToCurr(123459)->scaled, 0);  // 0.000000012 -> 0.0000
  EXPECT_EQ(CompToCurr(92233720368547758)->scaled, 922337203685);  // 92233720.36854775
  EXPECT_EQ(CompToCurr(9223372036854770)->scaled, 9223372036854770000);
  EXPECT_EQ(CompToCurr(92233720368547760), std::nullopt);  // beyond Currency
}

// python3's decimal module is the reference for the stored form: the value
// taken to 15 significant digits, rounded half away from zero.
TEST(Bcd, StoredFormAgreesWithPythonDecimal) {
  std::mt19937_64 random(11);
  std::ostringstream program, expected;
  program << "from decimal import Decimal, ROUND_HALF_UP\n"
             "def comp(v, d):\n"
             "    q = Decimal('%.14e' % abs(v)).quantize(Decimal(1).scaleb(-d), rounding=ROUND_HALF_UP)\n"
             "    m = int(q.scaleb(d))\n"
             "    s = m * 10 + d\n"
             "    return -s if v < 0 and m != 0 else s\n";
  std::uniform_real_distribution<double> unit(-1, 1);
  for (int i = 0; i < 500; ++i) {
    double v = unit(random) * std::pow(10.0, static_cast<int>(random() % 14) - 3);
    if (i % 5 == 0) v = std::round(v * 1000) / 1000 + 0.0005;  // many exact halves
    int d = static_cast<int>(random() % 5);
    std::ostringstream text;
    text.precision(17);
    text << v;
    program << "print(comp(float('" << text.str() << "'), " << d << "))\n";
    auto comp = FloatToComp(v, d);
    ASSERT_TRUE(comp.has_value());
    expected << *comp << '\n';
    // and back: the value at d decimals
    EXPECT_NEAR(CompToFloat(*comp), v, 0.5 * std::pow(10.0, -d) + 1e-9 * std::fabs(v));
  }
  std::string python = testing::RunPython(program.str());
  if (python.empty()) GTEST_SKIP() << "python3 is not available";
  EXPECT_EQ(python, expected.str());
}

TEST(Bcd, StoredFormsOfOneFieldOrderAsValues) {
  std::mt19937_64 random(5);
  for (int d = 0; d <= 4; ++d) {
    std::vector<double> values;
    std::uniform_real_distribution<double> unit(-1e6, 1e6);
    for (int i = 0; i < 500; ++i) values.push_back(std::round(unit(random) * std::pow(10.0, d)) / std::pow(10.0, d));
    std::sort(values.begin(), values.end());
    for (std::size_t i = 1; i < values.size(); ++i) {
      Key a = CompKey(*FloatToComp(values[i - 1], d)), b = CompKey(*FloatToComp(values[i], d));
      int c = std::memcmp(a.data(), b.data(), 8);
      ASSERT_EQ(c < 0, values[i - 1] < values[i]) << values[i - 1] << " " << values[i] << " d=" << d;
    }
  }
}

TEST(Bcd, CurrencyRoundTrip) {
  std::mt19937_64 random(9);
  for (int i = 0; i < 1000; ++i) {
    std::int64_t scaled = static_cast<std::int64_t>(random() % 2000000000000ull) - 1000000000000;
    int d = static_cast<int>(random() % 5);
    Currency value = RoundCurr(Currency{scaled}, d);
    auto comp = CurrToComp(value, d);
    ASSERT_TRUE(comp.has_value());
    EXPECT_EQ(CompToCurr(*comp), value);
  }
}

TEST(Numbers, Rounding) {
  EXPECT_EQ(RoundFloat(2.5, 0), 3.0);
  EXPECT_EQ(RoundFloat(-2.5, 0), -3.0);
  EXPECT_DOUBLE_EQ(RoundFloat(1.26, 1), 1.3);
  EXPECT_DOUBLE_EQ(RoundFloat(-1.26, 1), -1.3);
  EXPECT_EQ(RoundCurr(Currency{0}, 2).scaled, 0);
  EXPECT_EQ(RoundCurr(Currency{12345}, 2).scaled, 12300);   // 1.2345 -> 1.23
  EXPECT_EQ(RoundCurr(Currency{12355}, 2).scaled, 12400);   // 1.2355 -> 1.24
  EXPECT_EQ(RoundCurr(Currency{-12350}, 2).scaled, -12400); // half away from zero
  EXPECT_EQ(RoundCurr(Currency{12345}, 9).scaled, 12345);   // 9 decimals count as 4
  EXPECT_EQ(RoundCurr(Currency{25000}, 0).scaled, 30000);
  EXPECT_EQ(FloorCurr(Currency{-25000}).scaled, -20000);
  EXPECT_EQ(FloorFloat(-2.7), -2.0);
}

TEST(Numbers, Powers) {
  EXPECT_EQ(PowerFloat(2, 10), 1024.0);
  EXPECT_EQ(PowerFloat(5, 0), 1.0);
  EXPECT_EQ(PowerFloat(0, 3), 0.0);
  EXPECT_EQ(PowerFloat(3, 1), 3.0);
  EXPECT_EQ(PowerCurr(Currency{15000}, 2).scaled, 22500);  // 1.5^2 = 2.25
  EXPECT_EQ(PowerCurr(Currency{1}, 2).scaled, 0);          // 0.0001^2 rounds to 0
  EXPECT_EQ(PowerCurr(Currency{7}, 0).scaled, 10000);
}

TEST(Numbers, TruthTexts) {
  EXPECT_EQ(BoolToStr(true), "True");
  EXPECT_EQ(BoolToStr(false), "False");
  EXPECT_TRUE(StrToBool("true"));
  EXPECT_TRUE(StrToBool("TRUE"));
  EXPECT_FALSE(StrToBool("fAlSe"));
  EXPECT_EQ(qvtest::WhatRaised<rtl::EConvertError>([&] { StrToBool("yes"); }), "'yes' is not a valid boolean value");
  EXPECT_THROW(StrToBool(" true"), rtl::EConvertError);
}

TEST(Numbers, MinimumAndMaximum) {
  EXPECT_EQ(MaximumInteger(-3, 2), 2);
  EXPECT_EQ(MinimumSmallInt(-3, 2), -3);
  EXPECT_EQ(MaximumWord(65535, 2), 65535);
  EXPECT_EQ(MinimumByte(7, 200), 7);
  EXPECT_EQ(MaximumBCD(Currency{5}, Currency{-5}).scaled, 5);
  EXPECT_EQ(MinimumFloat(-0.5, 0.25), -0.5);
  EXPECT_EQ(MaximumComp(1LL << 40, 3), 1LL << 40);
}

}  // namespace
}  // namespace korvex
