// Evaluation: the tree walk, NULL handling, functions, predicates and the
// binary operators over every pair of types the checker lets through.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "tables/engine/errors/engine_error.h"
#include "tables/lib/allocator.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/numeric.h"
#include "tests/tables/lib/expr_test_support.h"
#include "tests/tables/lib/lib_test_support.h"

namespace korvex::testing {
namespace {

constexpr std::int64_t kSunday = 738948;  // python3: date(2024, 3, 3).toordinal(), a Sunday
constexpr double kDay = 86400000.0;

// Column order of AllTypes(): S D B SI I F BC T TS W M BL BY MO.
Record Row(Cell s = {}, Cell d = {}, Cell b = {}, Cell si = {}, Cell i = {}, Cell f = {}, Cell bc = {}, Cell t = {},
           Cell ts = {}, Cell w = {}, Cell m = {}) {
  return {s, d, b, si, i, f, bc, t, ts, w, m, {}, {}, {}};
}

class ExprEvalTest : public ExprTest {
protected:
  Outcome Eval(const std::string& text, const Record& record = Row()) {
    return EvaluateText(AllTypes(), text, record);
  }
  bool Truth(const std::string& text, const Record& record = Row()) {
    Outcome out = Eval(text, record);
    EXPECT_EQ(out.type, dtBoolean) << text;
    return !out.is_null && out.integer != 0;
  }
  bool IsNull(const std::string& text, const Record& record = Row()) { return Eval(text, record).is_null; }
};

TEST_F(ExprEvalTest, AndOrSkipTheirRightOperandWhenTheLeftDecides) {
  // Without a value routine a column cannot be evaluated: the right
  // operand must not be reached.
  ExpTokenGuard tree(Checked(AllTypes(), "TRUE OR I = 1"));
  ExpTokenGuard value(EvaluateExpressionToken(tree.get(), nullptr, nullptr, nullptr, {}));
  EXPECT_EQ(value->ValueWord(), 1);
  ExpTokenGuard false_and(Checked(AllTypes(), "FALSE AND I = 1"));
  ExpTokenGuard answer(EvaluateExpressionToken(false_and.get(), nullptr, nullptr, nullptr, {}));
  EXPECT_EQ(answer->ValueWord(), 0);
  EXPECT_EQ(answer->NodeClass, enCONST);
  EXPECT_EQ(answer->Left, nullptr);
}

TEST_F(ExprEvalTest, ColumnWithoutValueRoutineRaisesAndGivesEveryNodeBack) {
  ExpTokenGuard tree(Checked(AllTypes(), "FALSE OR UPPER(S || 'x') = 'A'"));
  std::int64_t before = ExpTokensInUse();
  int number = 0;
  std::string message;
  try {
    ExpTokenGuard value(EvaluateExpressionToken(tree.get(), nullptr, nullptr, nullptr, {}));
  } catch (const EKORVEXEngineError& e) {
    number = e.ErrorCode();
    message = e.Message();
  }
  EXPECT_EQ(number, 11949);
  EXPECT_EQ(message, "KORVEX Engine Error # 11949 SQL error - Internal error: Column 'S' specified illegally");
  EXPECT_EQ(ExpTokensInUse(), before);
}

TEST_F(ExprEvalTest, AFailingValueRoutineLeavesNoNodeBehind) {
  ExpTokenGuard tree(Checked(AllTypes(), "SUBSTRING(S FROM 1 FOR 2) || 'x' = 'abx' AND I + 1 > 2"));
  auto failing = [](void*, const void*, TExpToken* result) -> bool {
    if (result->ColumnName == "I") RaiseError(9217, "inds");
    result->SetStringValue("abc");
    return true;
  };
  std::int64_t before = ExpTokensInUse();
  EXPECT_EQ(RaisedNumber([&] { ExpTokenGuard v(EvaluateExpressionToken(tree.get(), nullptr, nullptr, failing, {})); }),
            9217);
  EXPECT_EQ(ExpTokensInUse(), before);
}

TEST_F(ExprEvalTest, TwoValuedNullLogic) {
  EXPECT_TRUE(Truth("NOT B"));  // NOT of a NULL boolean
  EXPECT_TRUE(Truth("NOT (I > 1)"));
  EXPECT_FALSE(Truth("I < 1"));
  EXPECT_FALSE(Truth("I = 1"));
  EXPECT_TRUE(Truth("I <> 1"));
  EXPECT_TRUE(Truth("I IS NULL"));
  EXPECT_FALSE(Truth("I IS NOT NULL"));
  EXPECT_TRUE(Truth("I IS NOT NULL", Row({}, {}, {}, {}, std::int64_t{0})));
  EXPECT_TRUE(Truth("S NOT LIKE 'a%'"));
  EXPECT_FALSE(Truth("S LIKE 'a%'"));
  EXPECT_TRUE(Truth("I IN (1, NULL)"));
  EXPECT_FALSE(Truth("I IN (1, 2)"));
  EXPECT_TRUE(Truth("I NOT IN (1, 2)"));
  EXPECT_FALSE(Truth("I BETWEEN 1 AND 2"));
  EXPECT_TRUE(Truth("I NOT BETWEEN 1 AND 2"));
  EXPECT_FALSE(Truth("TRUE AND B"));
  EXPECT_TRUE(Truth("B OR TRUE"));
  EXPECT_TRUE(Truth("IF(B THEN FALSE ELSE TRUE)"));  // a NULL condition chooses ELSE
  EXPECT_TRUE(IsNull("I + 1 = 2 OR I * 2 > 0") == false);
  EXPECT_TRUE(IsNull("-I"));
  EXPECT_TRUE(IsNull("+I"));
  EXPECT_TRUE(IsNull("I / 2"));
  EXPECT_TRUE(IsNull("BC * 2"));
  EXPECT_TRUE(IsNull("D + 1"));
}

TEST_F(ExprEvalTest, NullArgumentsOfAbsRoundAndExtractGiveNull) {
  EXPECT_TRUE(IsNull("ABS(I)"));
  EXPECT_TRUE(IsNull("ABS(BC)"));
  EXPECT_TRUE(IsNull("ROUND(F)"));
  EXPECT_TRUE(IsNull("ROUND(BC TO 1)"));
  EXPECT_TRUE(IsNull("EXTRACT(YEAR FROM D)"));
  EXPECT_TRUE(IsNull("EXTRACT(HOUR FROM TS)"));
  EXPECT_TRUE(IsNull("CAST(I AS VARCHAR(5))"));
  EXPECT_FALSE(Truth("ABS(I) = 0"));
}

TEST_F(ExprEvalTest, EmptySearchTexts) {
  Record r = Row(std::string("banana"));
  EXPECT_EQ(Eval("POS('' IN S)", r).integer, 0);
  EXPECT_EQ(Eval("OCCURS('' IN S)", r).integer, 0);
  EXPECT_EQ(Eval("REPLACE('' WITH 'x' IN S)", r).text, "banana");
  EXPECT_EQ(Eval("POS('an' IN S)", r).integer, 2);
  EXPECT_EQ(Eval("POS('x' IN S)", r).integer, 0);
  EXPECT_EQ(Eval("OCCURS('an' IN S)", r).integer, 2);
  EXPECT_EQ(Eval("OCCURS('aa' IN 'aaaa')").integer, 2);
  EXPECT_EQ(Eval("REPLACE('an' WITH 'AN' IN S)", r).text, "bANANa");
  EXPECT_EQ(Eval("REPLACE('a' WITH '' IN S)", r).text, "bnn");
  EXPECT_TRUE(Eval("REPLACE('a' WITH '' IN 'aaa')").is_null);
  // A replacement longer than the column still fits.
  Record long_text = Row(std::string(30, 'a'));
  EXPECT_EQ(Eval("REPLACE('a' WITH 'bbbbbbbbbb' IN S)", long_text).text.size(), 300u);
}

TEST_F(ExprEvalTest, StringFunctions) {
  Record r = Row(std::string("  Smith  "));
  EXPECT_TRUE(Eval("SUBSTRING('abc' FROM 5)").is_null);
  EXPECT_EQ(Eval("SUBSTRING('abcdef' FROM 2 FOR 3)").text, "bcd");
  EXPECT_EQ(Eval("SUBSTRING('abcdef' FROM 4)").text, "def");
  EXPECT_EQ(Eval("SUBSTRING('abcdef' FROM 5 FOR 10)").text, "ef");
  EXPECT_TRUE(Eval("TRIM(BOTH ' ' FROM '   ')").is_null);
  EXPECT_EQ(Eval("TRIM(BOTH ' ' FROM S)", r).text, "Smith");
  EXPECT_EQ(Eval("TRIM(LEADING ' ' FROM S)", r).text, "Smith  ");
  EXPECT_EQ(Eval("TRIM(TRAILING ' ' FROM S)", r).text, "  Smith");
  EXPECT_EQ(Eval("UPPER('Andr\xe9 \xe6')").text, "ANDR\xc9 \xc6");
  EXPECT_EQ(Eval("LOWER('\xc9LISE')").text, "\xe9lise");
  EXPECT_EQ(Eval("S || 'x'", Row()).text, "x");  // a NULL string concatenates as ''
  EXPECT_EQ(Eval("'ab' || 'cd' || #65").text, "abcdA");
  EXPECT_EQ(Eval("UPPER(M)", Row({}, {}, {}, {}, {}, {}, {}, {}, {}, {}, std::string("memo text"))).text,
            "MEMO TEXT");
}

TEST_F(ExprEvalTest, LikePatterns) {
  EXPECT_TRUE(Truth("'abc' LIKE 'a%c'"));
  EXPECT_TRUE(Truth("'ac' LIKE 'a%c'"));
  EXPECT_FALSE(Truth("'ab' LIKE 'a%c'"));
  EXPECT_TRUE(Truth("'abxyz' LIKE '_b%'"));
  EXPECT_FALSE(Truth("'Abc' LIKE 'a%'"));  // the ANSI language compares bytes
  EXPECT_TRUE(Truth("'Smith' NOT LIKE 'Sm_t'"));
}

TEST_F(ExprEvalTest, ExtractParts) {
  Record r = Row({}, kSunday, {}, {}, {}, {}, {}, std::int64_t{(13 * 3600 + 5 * 60 + 9) * 1000 + 250},
                 kSunday * kDay + 3723000.0);
  EXPECT_EQ(Eval("EXTRACT(DAYOFWEEK FROM D)", r).integer, 1);
  EXPECT_EQ(Eval("EXTRACT(YEAR FROM D)", r).integer, 2024);
  EXPECT_EQ(Eval("EXTRACT(MONTH FROM D)", r).integer, 3);
  EXPECT_EQ(Eval("EXTRACT(DAY FROM D)", r).integer, 3);
  EXPECT_EQ(Eval("EXTRACT(HOUR FROM D)", r).integer, 0);
  EXPECT_EQ(Eval("EXTRACT(HOUR FROM T)", r).integer, 13);
  EXPECT_EQ(Eval("EXTRACT(MINUTE FROM T)", r).integer, 5);
  EXPECT_EQ(Eval("EXTRACT(SECOND FROM T)", r).integer, 9);
  EXPECT_EQ(Eval("EXTRACT(YEAR FROM T)", r).integer, 0);
  EXPECT_EQ(Eval("EXTRACT(DAYOFWEEK FROM T)", r).integer, 0);
  EXPECT_EQ(Eval("EXTRACT(DAYOFWEEK FROM (TS + 4))", r).integer, 5);
  EXPECT_EQ(Eval("EXTRACT(MINUTE FROM TS)", r).integer, 2);
  EXPECT_EQ(Eval("EXTRACT(DAYOFWEEK FROM D)", Row({}, std::int64_t{639797})).integer, 5);  // 14 Sep 1752, Thursday
}

// Operands live in this thread's scratch nodes, which keep what their last
// use left. Each row must evaluate as it does on a fresh thread, whatever
// came before it (long texts that grew a buffer, NULLs, other trees), and
// once warm no row takes a node or a counted byte.
TEST_F(ExprEvalTest, RowsEvaluateAsOnAFreshThreadAndTakeNothingOnceWarm) {
  const char* const trees[] = {
      "I + 1 > SI * 2 - 3",
      "UPPER(M)",
      "LOWER(S) || UPPER(S) || 'x'",
      "SUBSTRING(S FROM 2 FOR 5) || TRIM(BOTH ' ' FROM S)",
      "IF(I > 10 THEN S ELSE 'none') LIKE '%a%'",
      "I IN (1, 4, 9) OR I BETWEEN 20 AND 30 OR POS('b' IN M) > 3",
      "CAST(I AS CHAR(10)) || REPLACE('a' WITH 'bb' IN S)",
  };
  std::vector<Record> rows;
  for (std::int64_t i = 0; i < 40; ++i) {
    const std::string memo = i % 3 == 0 ? std::string(300 + static_cast<std::size_t>(i) * 37, 'a' + i % 26) : "ab";
    const std::size_t length = static_cast<std::size_t>(i % 4 == 1 ? 280 + i * 11 : i);
    rows.push_back(Row(i % 5 == 0 ? Cell{} : Cell{std::string(" s") + std::string(length, 'a')},
                       {}, {}, Cell{i - 7}, i % 7 == 0 ? Cell{} : Cell{i}, {}, {}, {}, {}, {}, Cell{memo}));
  }
  for (const char* text : trees) {
    SCOPED_TRACE(text);
    ExpTokenGuard tree(Checked(AllTypes(), text));
    // Each row on its own thread: its scratch nodes are new.
    std::vector<Outcome> fresh(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r)
      std::thread([&] { fresh[r] = Evaluate(AllTypes(), tree.get(), rows[r]); }).join();
    auto same = [](const Outcome& a, const Outcome& b) {
      return a.is_null == b.is_null && a.type == b.type && a.integer == b.integer && a.text == b.text;
    };
    // Passes 0 and 2 read the rows in the same order, pass 1 backward:
    // after pass 2 the nodes and bytes are those after pass 0.
    std::int64_t memory = 0;
    std::int32_t spares = 0;
    std::size_t scratch = 0;
    for (int pass = 0; pass < 3; ++pass) {
      for (std::size_t k = 0; k < rows.size(); ++k) {
        const std::size_t r = pass == 1 ? rows.size() - 1 - k : (k * 7) % rows.size();
        ASSERT_TRUE(same(Evaluate(AllTypes(), tree.get(), rows[r]), fresh[r])) << "row " << r << " pass " << pass;
      }
      if (pass == 0) {
        memory = GetTotalMemoryAllocated();
        spares = SpareExpTokenCount();
        scratch = ScratchExpTokenCount();
      }
    }
    EXPECT_EQ(ScratchExpTokenCount(), scratch);
    EXPECT_EQ(SpareExpTokenCount(), spares);
    EXPECT_EQ(GetTotalMemoryAllocated(), memory);
  }
}

// A value routine may evaluate trees itself (calculated fields, sub-selects)
// on the same thread: the outer operands keep their values, and a routine
// that fails half-way leaves the scratch stack as it found it.
TEST_F(ExprEvalTest, ValueRoutinesThatEvaluateKeepTheOuterOperands) {
  struct Nested {
    const TExpToken* inner;
    int depth;
  };
  // Column I reads as the inner tree's value over the same record, nested
  // three deep; other columns read from the table.
  auto value = [](void* user, const void* record, TExpToken* result) -> bool {
    auto* nested = static_cast<Nested*>(user);
    if (result->ColumnName != "I" || nested->depth == 3) {
      result->IsNull = false;
      result->SetValue<std::int32_t>(result->ColumnName == "SI" ? 5 : 2);
      return true;
    }
    if (nested->depth == -1) RaiseError(9217, "inds");
    ++nested->depth;
    ExpTokenGuard inner(EvaluateExpressionToken(nested->inner, record, user, +[](void* u, const void* rec,
                                                                                TExpToken* res) -> bool {
      auto* n = static_cast<Nested*>(u);
      if (res->ColumnName == "I" && n->depth < 3) {
        ++n->depth;
        ExpTokenGuard deeper(EvaluateExpressionToken(n->inner, rec, u, nullptr, {}));
        --n->depth;
        res->IsNull = false;
        res->SetValue(deeper->Value<std::int32_t>());
        return true;
      }
      res->IsNull = false;
      res->SetValue<std::int32_t>(res->ColumnName == "SI" ? 5 : 2);
      return true;
    }, {}));
    --nested->depth;
    result->IsNull = false;
    result->SetValue(inner->Value<std::int32_t>());
    return true;
  };
  ExpTokenGuard inner(Checked(AllTypes(), "SI * 10 - 1"));  // 49, never reaching a column I
  ExpTokenGuard outer(Checked(AllTypes(), "(SI + I) * (I - SI) + SI * 100"));
  Nested nested{inner.get(), 0};
  ExpTokenGuard got(EvaluateExpressionToken(outer.get(), nullptr, &nested, value, {}));
  EXPECT_EQ(got->Value<std::int32_t>(), (5 + 49) * (49 - 5) + 500);
  EXPECT_EQ(nested.depth, 0);
  nested.depth = -1;
  EXPECT_EQ(RaisedNumber([&] { ExpTokenGuard v(EvaluateExpressionToken(outer.get(), nullptr, &nested, value, {})); }),
            9217);
  // Nothing is left taken: emptying the pool empties the scratch stack.
  FreeAllExpTokens();
  EXPECT_EQ(ScratchExpTokenCount(), 0u);
}

TEST_F(ExprEvalTest, NumericFunctions) {
  EXPECT_EQ(Eval("ROUND(2.5)").real, 3.0);
  EXPECT_EQ(Eval("ROUND(-2.5)").real, -3.0);
  EXPECT_EQ(Eval("ROUND(2.345 TO 2)").real, RoundFloat(2.345, 2));
  Record r = Row({}, {}, {}, std::int64_t{-7}, std::int64_t{-2147483647 - 1}, -1.25, std::int64_t{-12502});
  Outcome rounded = Eval("ROUND(BC)", r);
  EXPECT_EQ(rounded.type, dtFloat);
  EXPECT_EQ(rounded.real, -13.0);
  EXPECT_EQ(Eval("ABS(SI)", r).integer, 7);
  EXPECT_EQ(Eval("ABS(F)", r).real, 1.25);
  EXPECT_EQ(Eval("ABS(BC)", r).integer, 12502);
  EXPECT_EQ(Eval("-SI", r).integer, 7);
  EXPECT_EQ(Eval("-BC", r).integer, 12502);
}

// Arithmetic never wraps and never answers NULL for a value it cannot hold:
// an answer outside its type raises, naming the expression; BCD is exact
// beyond the Currency range as far as the stored form goes (python3:
// 99999999.99 * 10000000 = 999999999900000.00).
TEST_F(ExprEvalTest, ArithmeticOutsideItsTypeRaisesNamingTheExpression) {
  constexpr std::int64_t kMin = -2147483647 - 1, kMax = 2147483647;
  constexpr std::int64_t kBig = 99999999992;  // BC 99999999.99
  struct Case {
    const char* text;
    Record record;
    const char* overflow;  // the expression named, or nullptr
    std::int64_t value;    // otherwise the answer (integer or stored BCD form)
  } cases[] = {
      {"I + 1", Row({}, {}, {}, {}, kMax), "I + 1", 0},
      {"I + 1", Row({}, {}, {}, {}, kMax - 1), nullptr, kMax},
      {"1 - I", Row({}, {}, {}, {}, kMin), "1 - I", 0},
      {"I - 1", Row({}, {}, {}, {}, kMin + 1), nullptr, kMin},
      {"I * 2", Row({}, {}, {}, {}, std::int64_t{1} << 30), "I * 2", 0},
      {"I * -2", Row({}, {}, {}, {}, std::int64_t{1} << 30), nullptr, kMin},
      {"(I - 1) * 2 + 0", Row({}, {}, {}, {}, std::int64_t{1} << 30), nullptr, kMax - 1},
      {"(I + 1) * 2 + 0", Row({}, {}, {}, {}, std::int64_t{1} << 30), "(I + 1) * 2", 0},
      {"SI * SI * SI", Row({}, {}, {}, std::int64_t{-32768}), "(SI * SI) * SI", 0},
      {"SI * SI", Row({}, {}, {}, std::int64_t{-32768}), nullptr, std::int64_t{1} << 30},
      {"-I", Row({}, {}, {}, {}, kMin), "-I", 0},
      {"-SI", Row({}, {}, {}, std::int64_t{-32768}), "-SI", 0},
      {"ABS(I)", Row({}, {}, {}, {}, kMin), "ABS(I)", 0},
      {"ABS(SI)", Row({}, {}, {}, std::int64_t{-32768}), "ABS(SI)", 0},
      {"W - 3", Row({}, {}, {}, {}, {}, {}, {}, {}, {}, std::int64_t{1}), "W - 3", 0},
      {"W - 1", Row({}, {}, {}, {}, {}, {}, {}, {}, {}, std::int64_t{1}), nullptr, 0},
      {"W + W", Row({}, {}, {}, {}, {}, {}, {}, {}, {}, std::int64_t{65535}), nullptr, 131070},
      {"D + I", Row({}, std::int64_t{kSunday}, {}, {}, kMax), "D + I", 0},
      {"D - D", Row({}, std::int64_t{kSunday}), nullptr, 0},
      {"T + I", Row({}, {}, {}, {}, kMax, {}, {}, std::int64_t{1000}), "T + I", 0},
      {"BC * 10000000", Row({}, {}, {}, {}, {}, {}, kBig), nullptr, 999999999900000002},
      {"BC * 10000000 - BC * 10000000", Row({}, {}, {}, {}, {}, {}, kBig), nullptr, 2},
      {"BC * 99999999", Row({}, {}, {}, {}, {}, {}, kBig), "BC * 99999999", 0},
      {"BC * 10000000 * 10", Row({}, {}, {}, {}, {}, {}, kBig), "(BC * 10000000) * 10", 0},
      {"BC * 10000000 / 10000000", Row({}, {}, {}, {}, {}, {}, kBig), nullptr, kBig},
      {"-(BC * 10000000)", Row({}, {}, {}, {}, {}, {}, kBig), nullptr, -999999999900000002},
      {"ABS(0 - BC * 10000000)", Row({}, {}, {}, {}, {}, {}, kBig), nullptr, 999999999900000002},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.overflow) {
      EXPECT_EQ(EngineMessage([&] { Eval(c.text, c.record); }),
                std::string("Arithmetic overflow in expression '") + c.overflow + "'");
    } else {
      const Outcome out = Eval(c.text, c.record);
      EXPECT_FALSE(out.is_null);
      EXPECT_EQ(out.integer, c.value);
    }
  }
  // The comparisons that once read a wrapped sum or a NULL product.
  EXPECT_EQ(EngineMessage([&] { Eval("I + 1 < 0", Row({}, {}, {}, {}, kMax)); }),
            "Arithmetic overflow in expression 'I + 1'");
  EXPECT_TRUE(Truth("BC * 10000000 > 0", Row({}, {}, {}, {}, {}, {}, kBig)));
  EXPECT_FALSE(Truth("BC * 10000000 < 0", Row({}, {}, {}, {}, {}, {}, kBig)));
}

// ---- binary operators over value nodes -------------------------------------------

class ExprBinaryTest : public ExprTest {
protected:
  void TearDown() override {
    held_.clear();
    ExprTest::TearDown();
  }
  TExpToken* Value(std::uint8_t type, std::int64_t n, std::uint8_t scale = 0) {
    TExpToken* v = held_.emplace_back(GetNewExpTokenInstance()).get();
    v->DataType = type;
    v->Scale = scale;
    switch (type) {
      case dtSmallInt: v->SetDataSize(2); v->SetValue(static_cast<std::int16_t>(n)); break;
      case dtWord: case dtBoolean: v->SetDataSize(2); v->SetValue(static_cast<std::uint16_t>(n)); break;
      case dtBCD: v->SetDataSize(8); v->SetValue(n); break;
      default: v->SetDataSize(4); v->SetValue(static_cast<std::int32_t>(n)); break;
    }
    return v;
  }
  TExpToken* Real(std::uint8_t type, double x) {
    TExpToken* v = held_.emplace_back(GetNewExpTokenInstance()).get();
    v->DataType = type;
    v->SetDataSize(8);
    v->SetValue(x);
    return v;
  }
  TExpToken* Text(const std::string& text) {
    TExpToken* v = held_.emplace_back(GetNewExpTokenInstance()).get();
    v->DataType = dtString;
    v->SetStringValue(text);
    v->IsNull = text.empty();
    return v;
  }
  TExpToken* Null(std::uint8_t type = dtUnknown) {
    TExpToken* v = held_.emplace_back(GetNewExpTokenInstance()).get();
    v->DataType = type;
    v->IsNull = true;
    return v;
  }
  // The result node of op over the two, typed as the checker would.
  TExpToken* Apply(std::uint8_t op, TExpToken* left, TExpToken* right) {
    TExpToken* result = held_.emplace_back(GetNewExpTokenInstance()).get();
    result->DataType = GetBinaryResultDataType(op, left->DataType, right->DataType);
    result->Scale = std::max(left->Scale, right->Scale);
    result->SetDataSize(8);
    EvaluateBinary(op, left, right, result, {});
    return result;
  }
  bool Is(std::uint8_t op, TExpToken* left, TExpToken* right) {
    TExpToken* result = Apply(op, left, right);
    EXPECT_TRUE(result->ValueWord() == 0 || result->ValueWord() == 1);
    return result->ValueWord() == 1;
  }

  std::vector<ExpTokenGuard> held_;
};

TEST_F(ExprBinaryTest, NullsCompareTwoValued) {
  EXPECT_TRUE(Is(eoEQ, Null(dtInteger), Null(dtInteger)));
  EXPECT_FALSE(Is(eoNE, Null(dtInteger), Null(dtInteger)));
  EXPECT_FALSE(Is(eoEQ, Null(dtInteger), Value(dtInteger, 1)));
  EXPECT_TRUE(Is(eoNE, Value(dtInteger, 1), Null(dtInteger)));
  EXPECT_FALSE(Is(eoLT, Null(dtInteger), Value(dtInteger, 1)));
  EXPECT_FALSE(Is(eoGE, Null(dtInteger), Value(dtInteger, 1)));
  EXPECT_TRUE(Is(eoNE, Value(dtInteger, 1), Null()));  // IS NOT NULL
  EXPECT_FALSE(Is(eoAND, Value(dtBoolean, 1), Null(dtBoolean)));
  EXPECT_TRUE(Is(eoOR, Null(dtBoolean), Value(dtBoolean, 1)));
}

TEST_F(ExprBinaryTest, Comparisons) {
  EXPECT_FALSE(Is(eoEQ, Text("abc"), Text("ABC")));
  EXPECT_TRUE(Is(eoLT, Text("ABC"), Text("abc")));
  EXPECT_TRUE(Is(eoLT, Text("Smith"), Text("Smithson")));
  EXPECT_FALSE(Is(eoEQ, Text("Smith"), Text("Smithson")));
  EXPECT_TRUE(Is(eoEQ, Value(dtDate, kSunday), Real(dtTimeStamp, kSunday * kDay)));
  EXPECT_TRUE(Is(eoLT, Value(dtDate, kSunday), Real(dtTimeStamp, kSunday * kDay + 1)));
  EXPECT_TRUE(Is(eoGT, Value(dtWord, 65535), Value(dtSmallInt, -1)));
  EXPECT_TRUE(Is(eoEQ, Value(dtInteger, 3), Real(dtFloat, 3.0)));
  EXPECT_TRUE(Is(eoEQ, Real(dtFloat, 2.5), Value(dtBCD, 2502)));  // 2.50: digits 250, then 2 decimals
  EXPECT_TRUE(Is(eoLT, Value(dtBCD, 2502), Value(dtBCD, 25133)));  // 2.50 < 2.513
  EXPECT_TRUE(Is(eoEQ, Value(dtBoolean, 1), Value(dtBoolean, 7)));
  EXPECT_FALSE(Is(eoGT, Value(dtBoolean, 1), Value(dtBoolean, 0)));  // booleans have no order
  EXPECT_TRUE(Is(eoGT, Value(dtTime, 1000), Value(dtTime, 999)));
}

TEST_F(ExprBinaryTest, Arithmetic) {
  EXPECT_EQ(Apply(eoDIV, Value(dtInteger, 7), Value(dtInteger, 2))->Value<double>(), 3.5);
  EXPECT_TRUE(Apply(eoDIV, Value(dtInteger, 1), Value(dtInteger, 0))->IsNull);
  EXPECT_TRUE(Apply(eoDIV, Real(dtFloat, 1), Real(dtFloat, 0))->IsNull);
  EXPECT_TRUE(Apply(eoDIV, Value(dtBCD, 1002), Value(dtBCD, 2))->IsNull);  // a BCD zero (0.00)
  TExpToken* quarter = Apply(eoDIV, Value(dtBCD, 10002, 2), Value(dtInteger, 4));
  EXPECT_EQ(quarter->Value<std::int64_t>(), 2502);  // 10.00 / 4 = 2.50
  EXPECT_EQ(Apply(eoMUL, Value(dtBCD, 12502, 2), Value(dtBCD, 2002, 2))->Value<std::int64_t>(), 25002);
  EXPECT_EQ(Apply(eoMUL, Value(dtBCD, 1252, 2), Value(dtBCD, 22, 2))->Value<std::int64_t>(), 32);  // 0.025 -> 0.03
  EXPECT_EQ(Apply(eoADD, Value(dtBCD, 123454, 4), Value(dtInteger, 1))->Value<std::int64_t>(), 223454);
  // Without the expression node, an overflow names the operands' texts.
  TExpToken* big = Value(dtInteger, 2147483647);
  big->Text = "Qty";
  TExpToken* one = Value(dtInteger, 1);
  one->Text = "1";
  EXPECT_EQ(EngineMessage([&] { Apply(eoADD, big, one); }), "Arithmetic overflow in expression 'Qty + 1'");
  EXPECT_NE(EngineMessage([&] { Apply(eoSUB, Value(dtWord, 0), Value(dtInteger, 1)); }), "");
  // BCD beyond the Currency range: 4 x 10^17 (no decimals) x 2, back, and
  // x 2 again, beyond the stored form.
  TExpToken* huge = Apply(eoMUL, Value(dtBCD, 4000000000000000000), Value(dtInteger, 2));
  EXPECT_EQ(huge->Value<std::int64_t>(), 8000000000000000000);
  EXPECT_EQ(Apply(eoSUB, huge, Value(dtBCD, 4000000000000000000))->Value<std::int64_t>(), 4000000000000000000);
  EXPECT_EQ(EngineMessage([&] { Apply(eoMUL, huge, Value(dtInteger, 2)); }).rfind("Arithmetic overflow", 0), 0u);
  EXPECT_EQ(Apply(eoADD, Value(dtDate, kSunday), Value(dtInteger, 1))->Value<std::int32_t>(), kSunday + 1);
  EXPECT_EQ(Apply(eoSUB, Value(dtDate, kSunday), Value(dtDate, kSunday - 10))->Value<std::int32_t>(), 10);
  double noon = kSunday * kDay + 43200000.0;
  EXPECT_EQ(Apply(eoADD, Real(dtTimeStamp, noon), Value(dtInteger, 1))->Value<double>(), noon + kDay);
  EXPECT_EQ(Apply(eoSUB, Real(dtTimeStamp, noon), Real(dtTimeStamp, noon - kDay))->Value<double>(), kDay);
  EXPECT_EQ(Apply(eoSUB, Real(dtTimeStamp, noon), Value(dtDate, kSunday - 3))->Value<std::int32_t>(), 3);
  EXPECT_EQ(Apply(eoSUB, Real(dtTimeStamp, noon), Value(dtTime, 1000))->Value<std::int32_t>(), 43199000);
  EXPECT_EQ(Apply(eoSUB, Value(dtTime, 5000), Value(dtTime, 1000))->Value<std::int32_t>(), 4000);
  EXPECT_EQ(Apply(eoADD, Value(dtTime, 5000), Value(dtSmallInt, -1000))->Value<std::int32_t>(), 4000);
  EXPECT_DOUBLE_EQ(Apply(eoADD, Value(dtBCD, 123454, 4), Real(dtFloat, 0.25))->Value<double>(), 1.4845);
}

TEST_F(ExprBinaryTest, ConcatenationSizesItsResult) {
  TExpToken* result = Apply(eoADD, Text(std::string(200, 'a')), Text(std::string(200, 'b')));
  EXPECT_EQ(std::strlen(result->StringValue()), 400u);
  EXPECT_EQ(Apply(eoADD, Null(dtString), Text("x"))->StringValue(), std::string("x"));
}

TEST_F(ExprBinaryTest, OtherOperatorsLeaveTheResultAlone) {
  TExpToken* result = Value(dtInteger, 42);
  EvaluateBinary(eoMOD, Value(dtInteger, 7), Value(dtInteger, 2), result, {});
  EXPECT_EQ(result->Value<std::int32_t>(), 42);
}

}  // namespace
}  // namespace korvex::testing
