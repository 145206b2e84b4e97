#include "textutil/calculator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "platform/runtime/exceptions.h"
#include "tests/textutil/reference_data.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using CalculatorTest = TextutilTest;

std::string ErrorOf(const std::string& expression) {
  try {
    CalcStr(expression);
  } catch (const rtl::Exception& e) {
    return e.Message();
  }
  return "no error";
}

TEST_F(CalculatorTest, KnownValues) {
  EXPECT_EQ(CalcStr("1+2*3"), 7);
  EXPECT_EQ(CalcStr("(1+2)*3"), 9);
  EXPECT_DOUBLE_EQ(CalcStr("2^3*2"), 16);
  EXPECT_DOUBLE_EQ(CalcStr("2^-1"), 0.5);
  EXPECT_EQ(CalcStr("-3+5"), 2);
  EXPECT_EQ(CalcStr("8/2/2"), 2);
  EXPECT_DOUBLE_EQ(CalcStr("2*pi"), 6.283185307179586);
  EXPECT_EQ(CalcStr("abs(-4)"), 4);
  EXPECT_EQ(CalcStr("exp(0)"), 1);
  EXPECT_DOUBLE_EQ(CalcStr("ln(exp(2))"), 2);
  EXPECT_EQ(CalcStr(" 1 0 + 1"), 11);
  EXPECT_EQ(CalcStr("(2)3"), 2);
  EXPECT_EQ(CalcStr("--5"), 5);
  EXPECT_EQ(CalcStr("+5"), 5);
  EXPECT_EQ(CalcStr("1.5*2"), 3);
}

TEST_F(CalculatorTest, MatchesPythonOnRandomExpressions) {
  auto rows = testdata::ReadTable("calculator.txt");
  ASSERT_EQ(rows.size(), 400u);
  for (const auto& r : rows) {
    double want = std::stod(r[0]);
    double got = CalcStr(r[1]);
    EXPECT_NEAR(got, want, 1e-9 * std::max(1.0, std::fabs(want))) << r[1];
  }
}

TEST_F(CalculatorTest, DecimalSeparatorOfTheSettings) {
  rtl::FormatSettingsScope scope;
  rtl::TFormatSettings comma = rtl::FormatSettings();
  comma.DecimalSeparator = ',';
  rtl::SetFormatSettings(comma);
  LoadSeparators();
  EXPECT_EQ(CalcStr("1,5*2"), 3);
}

TEST_F(CalculatorTest, NamesAreComparedLiterally) {
  // Different names used to pass as PI or ABS because only a hash of the
  // name was compared.
  EXPECT_EQ(ErrorOf("OY"), "Syntax error at position 0");
  EXPECT_EQ(ErrorOf("ACC(1)"), "Syntax error at position 5");
  EXPECT_EQ(ErrorOf("PIE"), "Syntax error at position 0");
  EXPECT_EQ(ErrorOf("LOG(2)"), "Syntax error at position 5");
  EXPECT_EQ(ErrorOf("pi(2)"), "Syntax error at position 4");
  EXPECT_DOUBLE_EQ(CalcStr("Pi"), 3.141592653589793);
}

TEST_F(CalculatorTest, MalformedInput) {
  EXPECT_EQ(ErrorOf("2^3^2"), "Unexpected end of string");
  EXPECT_EQ(ErrorOf("(1+2"), "Mismatched brackets");
  EXPECT_EQ(ErrorOf("1+"), "Syntax error at position 0");
  EXPECT_EQ(ErrorOf("foo+1"), "Syntax error at position 5");
  EXPECT_EQ(ErrorOf(""), "Unexpected end of string");
  EXPECT_EQ(ErrorOf(" \t "), "Unexpected end of string");
  EXPECT_EQ(ErrorOf("1)"), "Unexpected end of string");
  EXPECT_EQ(ErrorOf("2(3)"), "Unexpected end of string");
  EXPECT_EQ(ErrorOf("*2"), "Syntax error at position 2");
  EXPECT_EQ(ErrorOf("()"), "Syntax error at position 3");
  EXPECT_THROW(CalcStr("1e-5"), rtl::EConvertError);  // the sign splits the number
  EXPECT_THROW(CalcStr("1..2"), rtl::EConvertError);
}

TEST_F(CalculatorTest, FloatingPointFaultsRaise) {
  EXPECT_EQ(ErrorOf("1/0"), "Floating point division by zero");
  EXPECT_EQ(ErrorOf("0/0"), "Invalid floating point operation");
  EXPECT_EQ(ErrorOf("ln(0)"), "Floating point division by zero");
  EXPECT_EQ(ErrorOf("ln(-1)"), "Invalid floating point operation");
  EXPECT_EQ(ErrorOf("0^2"), "Floating point division by zero");
  EXPECT_EQ(ErrorOf("(-8)^2"), "Invalid floating point operation");
  EXPECT_EQ(ErrorOf("exp(1000)"), "Floating point overflow");
  EXPECT_EQ(ErrorOf("10^400"), "Floating point overflow");
  EXPECT_EQ(ErrorOf("99999999999999999999^20*99999999999999999999^20"), "Floating point overflow");
}

TEST_F(CalculatorTest, DeepNestingIsRefused) {
  EXPECT_EQ(CalcStr(std::string(500, '(') + "1" + std::string(500, ')')), 1);
  EXPECT_EQ(ErrorOf(std::string(100000, '(') + "1"), "Expression nested too deeply");
  EXPECT_EQ(ErrorOf(std::string(100000, '-') + "1"), "Expression nested too deeply");
}

TEST_F(CalculatorTest, RandomTextNeverCrashes) {
  std::mt19937 rng(12);
  const std::string alphabet = "0123456789+-*/^().eEpPiIaAbBsSlLnNxX ";
  for (int i = 0; i < 5000; ++i) {
    std::string s(rng() % 20, ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    try {
      double v = CalcStr(s);
      ASSERT_TRUE(std::isfinite(v)) << s;
    } catch (const rtl::Exception&) {
    }
  }
}

}  // namespace
}  // namespace textutil
