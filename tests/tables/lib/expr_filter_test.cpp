// Filter preparation: constants evaluated once and narrowed only when exact,
// string comparisons with the filter's options, LIKE prefixes.
#include <gtest/gtest.h>

#include "tables/lib/expfilter.h"
#include "tests/tables/lib/expr_test_support.h"

namespace korvex::testing {
namespace {

class ExprFilterTest : public ExprTest {
protected:
  void TearDown() override {
    FreeExpressionTokens(source_);
    FreeExpressionTokens(prepared_);
    ExprTest::TearDown();
  }
  // Checks and prepares a filter over AllTypes(); the source stays for
  // comparison.
  TExpToken* Prepare(const std::string& text, bool case_insensitive = false, bool no_partial = false) {
    FreeExpressionTokens(source_);
    FreeExpressionTokens(prepared_);
    source_ = Checked(AllTypes(), text);
    prepared_ = BuildNextFilterExpression(source_, const_cast<Table*>(&AllTypes()), Table::Value, {},
                                          case_insensitive, no_partial);
    return prepared_;
  }
  // The prepared filter's answer for a record; the unprepared tree must
  // agree unless the options change the meaning.
  bool Matches(const Record& record, bool must_agree = true) {
    Outcome prepared = Evaluate(AllTypes(), prepared_, record);
    if (must_agree) {
      Outcome plain = Evaluate(AllTypes(), source_, record);
      EXPECT_EQ(plain.integer != 0 && !plain.is_null, prepared.integer != 0 && !prepared.is_null);
    }
    return prepared.integer != 0 && !prepared.is_null;
  }

  TExpToken* source_ = nullptr;
  TExpToken* prepared_ = nullptr;
};

Record WithS(const std::string& s) { return Record{s}; }
Record WithSI(std::int64_t v) { return Record{{}, {}, {}, v}; }
Record WithI(std::int64_t v) { return Record{{}, {}, {}, {}, v}; }
Record WithD(std::int64_t v) { return Record{{}, v}; }

TEST_F(ExprFilterTest, ConstantsTakeTheColumnsTypeWhenExact) {
  TExpToken* p = Prepare("F = 5");
  EXPECT_EQ(p->Right->DataType, dtFloat);
  EXPECT_EQ(p->Right->Value<double>(), 5.0);
  p = Prepare("I = 5.0");
  EXPECT_EQ(p->Right->DataType, dtInteger);
  EXPECT_EQ(p->Right->Value<std::int32_t>(), 5);
  p = Prepare("BC = 2");
  EXPECT_EQ(p->Right->DataType, dtBCD);
  EXPECT_EQ(p->Right->Value<std::int64_t>(), 2002);
  p = Prepare("I > 2 * 3 + 1");  // only a constant or a signed constant is folded
  EXPECT_EQ(p->Right->NodeClass, enBINARY);
  EXPECT_TRUE(Matches(WithI(8)));
  EXPECT_FALSE(Matches(WithI(7)));
  p = Prepare("SI = -3");
  EXPECT_EQ(p->Right->DataType, dtSmallInt);
  EXPECT_EQ(p->Right->Value<std::int16_t>(), -3);
}

TEST_F(ExprFilterTest, InexactConstantsKeepTheirMeaning) {
  // Narrowed to the column, 2.5 would be 2 and 70000 would be 4464.
  TExpToken* p = Prepare("I >= 2.5");
  EXPECT_EQ(p->Right->DataType, dtFloat);
  EXPECT_FALSE(Matches(WithI(2)));
  EXPECT_TRUE(Matches(WithI(3)));
  p = Prepare("SI < 70000");
  EXPECT_EQ(p->Right->DataType, dtInteger);
  EXPECT_TRUE(Matches(WithSI(5000)));
  EXPECT_TRUE(Matches(WithSI(32767)));
  p = Prepare("W > -1");
  EXPECT_TRUE(Matches(Record{{}, {}, {}, {}, {}, {}, {}, {}, {}, std::int64_t{0}}));
  p = Prepare("BC = 2.555");
  EXPECT_EQ(p->Right->DataType, dtFloat);
  EXPECT_FALSE(Matches(Record{{}, {}, {}, {}, {}, {}, std::int64_t{2562}}));  // 2.56
  p = Prepare("I IN (1, 2.5, 3)");
  EXPECT_EQ(p->Right->DataType, dtInteger);
  EXPECT_EQ(p->Right->Right->DataType, dtFloat);
  EXPECT_EQ(p->Right->Right->Right->DataType, dtInteger);
  EXPECT_FALSE(Matches(WithI(2)));
  EXPECT_TRUE(Matches(WithI(3)));
  p = Prepare("I BETWEEN 1.5 AND 2.5");
  EXPECT_TRUE(Matches(WithI(2)));
  EXPECT_FALSE(Matches(WithI(1)));
  EXPECT_FALSE(Matches(WithI(3)));
}

TEST_F(ExprFilterTest, DateAgainstTimestampConstants) {
  constexpr std::int64_t kDay = 620548;
  TExpToken* p = Prepare("D = CAST(D AS TIMESTAMP)");  // not a constant: both sides prepared
  EXPECT_EQ(p->Right->Operator, eoCAST);
  p = Prepare("D < CURRENT_TIMESTAMP");
  EXPECT_TRUE(p->Right->DataType == dtDate || p->Right->DataType == dtTimeStamp);
  EXPECT_TRUE(Matches(WithD(kDay)));
}

TEST_F(ExprFilterTest, StringComparisonOptions) {
  TExpToken* p = Prepare("S = 'Sm*'");
  EXPECT_EQ(p->NodeClass, enCOMPARE);
  EXPECT_EQ(p->CompareLength, 2);
  EXPECT_FALSE(p->CompareIgnoreCase);
  EXPECT_STREQ(p->Right->StringValue(), "Sm");
  EXPECT_TRUE(Matches(WithS("Smith"), false));
  EXPECT_FALSE(Matches(WithS("Jones"), false));
  p = Prepare("S <> 'Sm*'");
  EXPECT_FALSE(Matches(WithS("Smith"), false));
  p = Prepare("S = 'Sm*'", false, true);  // the star is a character
  EXPECT_EQ(p->CompareLength, 0);
  EXPECT_STREQ(p->Right->StringValue(), "Sm*");
  EXPECT_FALSE(Matches(WithS("Smith")));
  EXPECT_TRUE(Matches(WithS("Sm*")));
  p = Prepare("S = 'smith'", true);
  EXPECT_EQ(p->NodeClass, enCOMPARE);
  EXPECT_TRUE(p->CompareIgnoreCase);
  EXPECT_TRUE(Matches(WithS("SMITH"), false));
  EXPECT_FALSE(Matches(WithS("SMITHS"), false));
  p = Prepare("S = 'smith'");
  EXPECT_EQ(p->NodeClass, enBINARY);
  EXPECT_FALSE(Matches(WithS("SMITH")));
}

TEST_F(ExprFilterTest, LikePrefixesBecomeComparisons) {
  TExpToken* p = Prepare("S LIKE 'Sm%'");
  EXPECT_EQ(p->NodeClass, enCOMPARE);
  EXPECT_EQ(p->Operator, eoEQ);
  EXPECT_EQ(p->CompareLength, 2);
  EXPECT_STREQ(p->Right->StringValue(), "Sm");
  for (const char* name : {"Smith", "Sm", "S", "smith", "Jones"}) Matches(WithS(name));
  EXPECT_TRUE(Matches(WithS("Sm")));
  EXPECT_FALSE(Matches(Record{}));
  p = Prepare("S NOT LIKE 'Sm%'");
  EXPECT_EQ(p->Operator, eoNE);
  EXPECT_TRUE(Matches(Record{}));  // NULL NOT LIKE: true, as before
  for (const char* pattern : {"'%Sm'", "'S_m%'", "'S%m%'", "'%'", "'Smith'"}) {
    p = Prepare(std::string("S LIKE ") + pattern);
    EXPECT_EQ(p->NodeClass, enEXTBINARY) << pattern;
  }
}

TEST_F(ExprFilterTest, IfOperandsAreCopiedAsTheyAre) {
  TExpToken* p = Prepare("IF(I > 2.5 THEN S ELSE 'x') = 'y'");
  const TExpToken* condition = p->Left->Left;
  EXPECT_EQ(condition->Right->DataType, dtFloat);
  EXPECT_EQ(condition->Right->Text, "2.5");
}

TEST_F(ExprFilterTest, PreparedTreeIsIndependentOfItsSource) {
  Prepare("NOT (I IN (1, 2) AND S LIKE 'a%') OR UPPER(S) = 'X'");
  std::vector<const TExpToken*> stack{prepared_};
  while (!stack.empty()) {
    const TExpToken* node = stack.back();
    stack.pop_back();
    for (const TExpToken* child : {node->Left, node->Right, node->Third}) {
      if (!child) continue;
      EXPECT_EQ(child->Parent, node);
      stack.push_back(child);
    }
  }
  FreeExpressionTokens(source_);
  EXPECT_TRUE(Matches(WithS("X"), false));
}

TEST_F(ExprFilterTest, ConvertConstantPairs) {
  ExpTokenGuard column(GetNewExpTokenInstance());
  ExpTokenGuard value(GetNewExpTokenInstance());
  std::uint8_t target[8] = {};
  column->DataType = dtSmallInt;
  value->DataType = dtFloat;
  value->SetValue(2.5);
  EXPECT_TRUE(ConvertConstant(value.get(), column.get(), target));
  std::int16_t small;
  std::memcpy(&small, target, 2);
  EXPECT_EQ(small, 2);  // ties to even
  column->DataType = dtTimeStamp;
  value->DataType = dtDate;
  value->SetValue<std::int32_t>(2);
  EXPECT_TRUE(ConvertConstant(value.get(), column.get(), target));
  double stamp;
  std::memcpy(&stamp, target, 8);
  EXPECT_EQ(stamp, 2 * 86400000.0);
  column->DataType = dtTime;
  EXPECT_FALSE(ConvertConstant(value.get(), column.get(), target));
}

}  // namespace
}  // namespace korvex::testing
