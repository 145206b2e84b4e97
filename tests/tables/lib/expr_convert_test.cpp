// Conversions between field data types, against known values; narrowing
// answers false when the value does not fit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "tables/lib/expconvert.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tests/tables/lib/expr_test_support.h"

namespace korvex::testing {
namespace {

constexpr std::int32_t kDay1700 = 620548;  // python3: date(1700, 1, 1).toordinal()
constexpr double kMsPerDay = 86400000.0;

// A value in a conversion buffer.
struct Buffer {
  std::uint8_t bytes[kConvertBufferSize + 5] = {};

  static Buffer Text(const std::string& text) {
    Buffer b;
    std::memcpy(b.bytes, text.data(), text.size());
    return b;
  }
  template <typename T>
  static Buffer Of(T value) {
    Buffer b;
    std::memcpy(b.bytes, &value, sizeof value);
    return b;
  }
  template <typename T>
  T As() const {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }
  std::string Str() const { return reinterpret_cast<const char*>(bytes); }
  bool ZeroFrom(std::size_t start) const {
    for (std::size_t i = start; i < kConvertBufferSize; ++i)
      if (bytes[i] != 0) return false;
    return true;
  }
};

class ExprConvertTest : public ExprTest {
protected:
  void SetUp() override {
    ExprTest::SetUp();
    ansi_ = std::make_unique<LanguageSettingsScope>(0, 0);  // '.', "yyyy-mm-dd", "hh:mm:ss"
  }
  void TearDown() override {
    ansi_.reset();
    ExprTest::TearDown();
  }
  // Converts in place and answers the success flag.
  bool Convert(Buffer& b, std::uint8_t from, std::uint8_t from_size, std::uint8_t to, std::uint8_t to_size,
               std::uint8_t to_scale = 0, std::uint8_t from_scale = 0) {
    return ConvertExpression(from, from_size, from_scale, to, to_size, to_scale, b.bytes);
  }

private:
  std::unique_ptr<LanguageSettingsScope> ansi_;
};

TEST_F(ExprConvertTest, StringToString) {
  Buffer b = Buffer::Text(std::string(30, 'x'));
  EXPECT_FALSE(Convert(b, dtString, 31, dtString, 11));  // cut: data lost
  EXPECT_EQ(b.Str(), std::string(10, 'x'));             // ... but terminated within the size
  EXPECT_TRUE(b.ZeroFrom(10));
  Buffer fits = Buffer::Text("Smith");
  EXPECT_TRUE(Convert(fits, dtString, 31, dtString, 6));
  EXPECT_EQ(fits.Str(), "Smith");
}

TEST_F(ExprConvertTest, StringToValues) {
  Buffer date = Buffer::Text("1700-01-01");
  EXPECT_TRUE(Convert(date, dtString, 11, dtDate, 4));
  EXPECT_EQ(date.As<std::int32_t>(), kDay1700);
  Buffer time = Buffer::Text("10:30:15");
  EXPECT_TRUE(Convert(time, dtString, 9, dtTime, 4));
  EXPECT_EQ(time.As<std::int32_t>(), 37815000);
  Buffer stamp = Buffer::Text("1700-01-01 10:30");
  EXPECT_TRUE(Convert(stamp, dtString, 17, dtTimeStamp, 8));
  EXPECT_EQ(stamp.As<double>(), kDay1700 * kMsPerDay + 37800000.0);
  Buffer truth = Buffer::Text("tRuE");
  EXPECT_TRUE(Convert(truth, dtString, 5, dtBoolean, 2));
  EXPECT_EQ(truth.As<std::uint16_t>(), 1);
  Buffer small = Buffer::Text("-123");
  EXPECT_TRUE(Convert(small, dtString, 5, dtSmallInt, 2));
  EXPECT_EQ(small.As<std::int16_t>(), -123);
  Buffer word = Buffer::Text("65535");
  EXPECT_TRUE(Convert(word, dtString, 6, dtWord, 2));
  EXPECT_EQ(word.As<std::uint16_t>(), 65535);
  Buffer real = Buffer::Text("1.5e3");
  EXPECT_TRUE(Convert(real, dtString, 6, dtFloat, 8));
  EXPECT_EQ(real.As<double>(), 1500.0);
  Buffer bcd = Buffer::Text("12.345");
  EXPECT_TRUE(Convert(bcd, dtString, 7, dtBCD, 8, 2));
  EXPECT_EQ(bcd.As<std::int64_t>(), 12352);  // 12.35, half away from zero
  Buffer bytes = Buffer::Text("abc");
  EXPECT_TRUE(Convert(bytes, dtString, 4, dtBytes, 8));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.bytes), 4), std::string("abc\0", 4));
}

TEST_F(ExprConvertTest, TextsThatAreNotValuesAnswerFalseAndZero) {
  struct Case {
    const char* text;
    std::uint8_t to;
  };
  for (Case c : {Case{"garbage", dtDate}, Case{"25:00", dtTime}, Case{"yes", dtBoolean}, Case{"12.5", dtInteger},
                 Case{"40000", dtSmallInt}, Case{"-1", dtWord}, Case{"2147483648", dtInteger}, Case{"x", dtFloat},
                 Case{"1e300", dtBCD}, Case{"", dtInteger}}) {
    Buffer b = Buffer::Text(c.text);
    EXPECT_FALSE(Convert(b, dtString, 20, c.to, 8)) << c.text;
    EXPECT_TRUE(b.ZeroFrom(0)) << c.text;
  }
}

TEST_F(ExprConvertTest, NarrowingOutOfRangeAnswersFalse) {
  Buffer big = Buffer::Of<std::int32_t>(70000);
  EXPECT_FALSE(Convert(big, dtInteger, 4, dtSmallInt, 2));
  EXPECT_EQ(big.As<std::int16_t>(), 0);  // not the low bits (4464)
  Buffer minus = Buffer::Of<std::int32_t>(-1);
  EXPECT_FALSE(Convert(minus, dtInteger, 4, dtWord, 2));
  Buffer word = Buffer::Of<std::uint16_t>(65535);
  EXPECT_FALSE(Convert(word, dtWord, 2, dtSmallInt, 2));
  Buffer huge = Buffer::Of(1e10);
  EXPECT_FALSE(Convert(huge, dtFloat, 8, dtInteger, 4));
  Buffer nan = Buffer::Of(std::numeric_limits<double>::quiet_NaN());
  EXPECT_FALSE(Convert(nan, dtFloat, 8, dtInteger, 4));
  Buffer bcd = Buffer::Of<std::int64_t>(40000002);  // 40000.00
  EXPECT_FALSE(Convert(bcd, dtBCD, 8, dtSmallInt, 2));
  // In range it converts, widening keeps the sign.
  Buffer fits = Buffer::Of<std::int32_t>(-32768);
  EXPECT_TRUE(Convert(fits, dtInteger, 4, dtSmallInt, 2));
  EXPECT_EQ(fits.As<std::int16_t>(), -32768);
  Buffer negative = Buffer::Of<std::int16_t>(-1);
  EXPECT_TRUE(Convert(negative, dtSmallInt, 2, dtInteger, 4));
  EXPECT_EQ(negative.As<std::int32_t>(), -1);
  Buffer unsigned_word = Buffer::Of<std::uint16_t>(65535);
  EXPECT_TRUE(Convert(unsigned_word, dtWord, 2, dtInteger, 4));
  EXPECT_EQ(unsigned_word.As<std::int32_t>(), 65535);
}

TEST_F(ExprConvertTest, RoundingIsToEven) {
  for (auto [value, expected] : {std::pair{2.5, 2}, {3.5, 4}, {-2.5, -2}, {2.4999, 2}, {-0.6, -1}}) {
    Buffer b = Buffer::Of(value);
    EXPECT_TRUE(Convert(b, dtFloat, 8, dtInteger, 4));
    EXPECT_EQ(b.As<std::int32_t>(), expected) << value;
  }
  for (auto [stored, expected] : {std::pair<std::int64_t, int>{2502, 2}, {3502, 4}, {-251, -2}, {21, 0}, {-61, -1}}) {
    Buffer b = Buffer::Of(stored);
    EXPECT_TRUE(Convert(b, dtBCD, 8, dtSmallInt, 2));
    EXPECT_EQ(b.As<std::int16_t>(), expected) << stored;
  }
}

TEST_F(ExprConvertTest, BooleansToNumbers) {
  Buffer truth = Buffer::Of<std::uint16_t>(1);
  EXPECT_TRUE(Convert(truth, dtBoolean, 2, dtBCD, 8, 2));
  EXPECT_EQ(truth.As<std::int64_t>(), 1002);  // 1.00 in the stored form, not the raw 1 (which reads 0.0)
  Buffer lie = Buffer::Of<std::uint16_t>(0);
  EXPECT_TRUE(Convert(lie, dtBoolean, 2, dtBCD, 8, 2));
  EXPECT_EQ(lie.As<std::int64_t>(), 2);  // 0.00
  Buffer small = Buffer::Of<std::uint16_t>(1);
  EXPECT_TRUE(Convert(small, dtBoolean, 2, dtSmallInt, 2));
  EXPECT_EQ(small.As<std::int16_t>(), 1);
  Buffer text = Buffer::Of<std::uint16_t>(1);
  EXPECT_TRUE(Convert(text, dtBoolean, 2, dtString, 6));
  EXPECT_EQ(text.Str(), "True");
  Buffer from_int = Buffer::Of<std::int32_t>(65536);
  EXPECT_TRUE(Convert(from_int, dtInteger, 4, dtBoolean, 2));
  EXPECT_EQ(from_int.As<std::uint16_t>(), 1);
}

TEST_F(ExprConvertTest, NumbersBetweenTypes) {
  Buffer i = Buffer::Of<std::int32_t>(12);
  EXPECT_TRUE(Convert(i, dtInteger, 4, dtBCD, 8, 2));
  EXPECT_EQ(i.As<std::int64_t>(), 12002);
  Buffer f = Buffer::Of(2.345);
  EXPECT_TRUE(Convert(f, dtFloat, 8, dtBCD, 8, 2));
  EXPECT_EQ(f.As<std::int64_t>(), 2352);
  Buffer bcd = Buffer::Of<std::int64_t>(-51);  // -0.5
  EXPECT_TRUE(Convert(bcd, dtBCD, 8, dtFloat, 8));
  EXPECT_EQ(bcd.As<double>(), -0.5);
  Buffer rescale = Buffer::Of<std::int64_t>(123453);  // 12.345 at 3 decimals
  EXPECT_TRUE(Convert(rescale, dtBCD, 8, dtBCD, 8, 2, 3));
  EXPECT_EQ(rescale.As<std::int64_t>(), 12352);  // stored at the target's 2 decimals
  Buffer word = Buffer::Of<std::uint16_t>(40000);
  EXPECT_TRUE(Convert(word, dtWord, 2, dtFloat, 8));
  EXPECT_EQ(word.As<double>(), 40000.0);
}

TEST_F(ExprConvertTest, ValuesToText) {
  Buffer date = Buffer::Of(kDay1700);
  EXPECT_TRUE(Convert(date, dtDate, 4, dtString, 11));
  EXPECT_EQ(date.Str(), "1700-01-01");
  Buffer cut = Buffer::Of(kDay1700);
  EXPECT_FALSE(Convert(cut, dtDate, 4, dtString, 5));
  EXPECT_EQ(cut.Str(), "1700");
  Buffer time = Buffer::Of<std::int32_t>(37815000);
  EXPECT_TRUE(Convert(time, dtTime, 4, dtString, 20));
  EXPECT_EQ(time.Str(), "10:30:15");
  Buffer stamp = Buffer::Of(kDay1700 * kMsPerDay + 37815000.0);
  EXPECT_TRUE(Convert(stamp, dtTimeStamp, 8, dtString, 30));
  EXPECT_EQ(stamp.Str(), "1700-01-01 10:30:15");
  Buffer midnight = Buffer::Of(kDay1700 * kMsPerDay);
  EXPECT_TRUE(Convert(midnight, dtTimeStamp, 8, dtString, 30));
  EXPECT_EQ(midnight.Str(), "1700-01-01");
  Buffer number = Buffer::Of(-12.5);
  EXPECT_TRUE(Convert(number, dtFloat, 8, dtString, 20));
  EXPECT_EQ(number.Str(), "-12.5");
  Buffer money = Buffer::Of<std::int64_t>(-12502);
  EXPECT_TRUE(Convert(money, dtBCD, 8, dtString, 20));
  EXPECT_EQ(money.Str(), "-12.5");
  Buffer integer = Buffer::Of<std::int16_t>(-7);
  EXPECT_TRUE(Convert(integer, dtSmallInt, 2, dtString, 20));
  EXPECT_EQ(integer.Str(), "-7");
}

TEST_F(ExprConvertTest, DatesAndTimes) {
  Buffer date = Buffer::Of(kDay1700);
  EXPECT_TRUE(Convert(date, dtDate, 4, dtTimeStamp, 8));
  EXPECT_EQ(date.As<double>(), kDay1700 * kMsPerDay);
  Buffer time = Buffer::Of<std::int32_t>(1000);
  EXPECT_TRUE(Convert(time, dtTime, 4, dtTimeStamp, 8));
  EXPECT_EQ(time.As<double>(), 1000.0);
  Buffer day = Buffer::Of(kDay1700 * kMsPerDay + 5000.0);
  EXPECT_TRUE(Convert(day, dtTimeStamp, 8, dtDate, 4));
  EXPECT_EQ(day.As<std::int32_t>(), kDay1700);
  Buffer of_day = Buffer::Of(kDay1700 * kMsPerDay + 5000.0);
  EXPECT_TRUE(Convert(of_day, dtTimeStamp, 8, dtTime, 4));
  EXPECT_EQ(of_day.As<std::int32_t>(), 5000);
}

TEST_F(ExprConvertTest, AnyValueToBytes) {
  Buffer real = Buffer::Of(1.5);
  EXPECT_TRUE(Convert(real, dtFloat, 8, dtBytes, 4));
  double expected = 1.5;
  EXPECT_EQ(std::memcmp(real.bytes, &expected, 4), 0);
  EXPECT_TRUE(real.ZeroFrom(4));
  Buffer date = Buffer::Of(kDay1700);
  EXPECT_TRUE(Convert(date, dtDate, 4, dtVarBytes, 10));
  EXPECT_EQ(date.As<std::int32_t>(), kDay1700);
}

TEST_F(ExprConvertTest, PairsWithoutAConversionAnswerFalse) {
  // A date's day number read as an integer field, or as the bits of a
  // double, would store a wrong value.
  Buffer date = Buffer::Of(kDay1700);
  EXPECT_FALSE(Convert(date, dtDate, 4, dtFloat, 8));
  EXPECT_TRUE(date.ZeroFrom(0));
  Buffer time = Buffer::Of<std::int32_t>(5);
  EXPECT_FALSE(Convert(time, dtTime, 4, dtDate, 4));
  Buffer same = Buffer::Of<std::int32_t>(kDay1700);
  EXPECT_TRUE(Convert(same, dtDate, 4, dtDate, 4));
  EXPECT_EQ(same.As<std::int32_t>(), kDay1700);
}

TEST_F(ExprConvertTest, StringToDateTimeInPlace) {
  Buffer b = Buffer::Text("1700-01-01");
  EXPECT_TRUE(ConvertStringToDateTime(b.bytes, dtDate));
  EXPECT_EQ(b.As<std::int32_t>(), kDay1700);
  Buffer bad = Buffer::Text("1700-02-30");
  EXPECT_FALSE(ConvertStringToDateTime(bad.bytes, dtDate));
  EXPECT_EQ(bad.Str(), "1700-02-30");  // unchanged
  Buffer other = Buffer::Text("abc");
  EXPECT_TRUE(ConvertStringToDateTime(other.bytes, dtInteger));
  EXPECT_EQ(other.Str(), "abc");
}

TEST_F(ExprConvertTest, TextsFollowTheLanguageSettings) {
  TLanguageSettings settings;
  GetDefaultLanguageSettings(0, 0, settings);
  settings.ShortDateFormat = "dd mmm yyyy";
  settings.LongTimeFormat = "h:nn AMPM";
  EXPECT_EQ(DateText(kDay1700 + 45, settings), "15 Feb 1700");
  EXPECT_EQ(TimeText(13 * 3600000 + 5 * 60000, settings), "1:05 PM");
  settings.ShortDateFormat = "m/d/yy";
  settings.DateSeparator = '.';
  EXPECT_EQ(DateText(kDay1700 + 45, settings), "2.15.00");
  settings.ShortDateFormat = "dddd d mmmm yyyy";
  EXPECT_EQ(DateText(kDay1700, settings), "Friday 1 January 1700");  // python3: date(1700, 1, 1).strftime('%A')
}

TEST_F(ExprConvertTest, CastThroughTheEvaluator) {
  Record r{std::string(30, 's'), std::int64_t{kDay1700}, std::int64_t{1}, {}, {}, 2.5, {}, {},
           kDay1700 * kMsPerDay + 5000.0};
  EXPECT_EQ(EvaluateText(AllTypes(), "CAST(S AS VARCHAR(10))", r).text, std::string(10, 's'));
  EXPECT_EQ(EvaluateText(AllTypes(), "CAST('12.5' AS INTEGER)").integer, 0);
  EXPECT_EQ(EvaluateText(AllTypes(), "CAST('12.5' AS FLOAT)").real, 12.5);
  EXPECT_EQ(EvaluateText(AllTypes(), "CAST(F AS INTEGER)", r).integer, 2);
  EXPECT_EQ(EvaluateText(AllTypes(), "CAST(F + 1 AS INTEGER)", r).integer, 4);
  EXPECT_EQ(EvaluateText(AllTypes(), "CAST(TS AS DATE)", r).integer, kDay1700);
  EXPECT_EQ(EvaluateText(AllTypes(), "CAST(D AS TIMESTAMP)", r).real, kDay1700 * kMsPerDay);
  EXPECT_EQ(EvaluateText(AllTypes(), "CAST(B AS VARCHAR(5))", r).text, "True");
  EXPECT_EQ(EvaluateText(AllTypes(), "CAST(D AS VARCHAR(10))", r).text, "1700-01-01");
}

}  // namespace
}  // namespace korvex::testing
