// The checker: column lookup, typing, conversions of date constants, the
// boolean rule and the exact message of every refusal.
#include <gtest/gtest.h>

#include "tables/lib/expcheck.h"
#include "tables/lib/language_settings.h"
#include "tests/tables/lib/expr_test_support.h"

namespace korvex::testing {
namespace {

class ExprCheckTest : public ExprTest {
protected:
  std::string Error(const std::string& text) { return CheckError(AllTypes(), text); }
  // Type, sub type, size and scale of the checked tree's top node.
  std::tuple<int, int, int, int> Typing(const std::string& text) {
    ExpTokenGuard tree(Checked(AllTypes(), text));
    return {tree->DataType, tree->SubType, tree->DataSize, tree->Scale};
  }
};

TEST_F(ExprCheckTest, ColumnsAreLookedUpAndTyped) {
  ExpTokenGuard tree(Checked(AllTypes(), "I > SI"));
  EXPECT_EQ(tree->Left->DataType, dtInteger);
  EXPECT_EQ(tree->Left->FieldNumber, 5);
  EXPECT_EQ(tree->Right->DataType, dtSmallInt);
  EXPECT_EQ(tree->Left->Parent, tree.get());
  EXPECT_EQ(tree->Parent, nullptr);
  EXPECT_EQ(Error("X = 1"), "Invalid column name 'X' or table correlation name '' specified in test");
  EXPECT_EQ(Error("t.X = 1"), "Invalid column name 'X' or table correlation name 't' specified in test");
}

TEST_F(ExprCheckTest, ColumnNamesInQuotes) {
  ExpTokenGuard quoted(Checked(AllTypes(), "'I' = 1"));
  EXPECT_EQ(quoted->Left->NodeClass, enFIELD);
  EXPECT_TRUE(quoted->Left->ColumnFromConstant);
  // Both sides columns: the right one turns back into its string.
  ExpTokenGuard both(Checked(AllTypes(), "S = 'I'"));
  EXPECT_EQ(both->Right->NodeClass, enCONST);
  EXPECT_EQ(both->Right->DataType, dtString);
  EXPECT_EQ(both->Right->DataSize, 2);
  EXPECT_STREQ(both->Right->StringValue(), "I");
  // Not a column: it stays a constant.
  ExpTokenGuard text(Checked(AllTypes(), "S = 'Smith'"));
  EXPECT_EQ(text->Right->NodeClass, enCONST);
  EXPECT_TRUE(text->Right->ColumnName.empty());
  // A quoted name is the column only beside a value that reads no column;
  // beside a function or an expression of columns it is its text.
  struct Case {
    const char* text;
    bool left_column, right_column;  // the top node's operands
  } cases[] = {
      {"UPPER(S) = 'S'", false, false},  {"'S' = UPPER(S)", false, false}, {"UPPER(S) = 'I'", false, false},
      {"S + 'x' = 'S'", false, false},   {"'S' = LOWER(S) + 'x'", false, false},
      {"'I' + 1 = 2", false, false},     {"'I' = -1", true, false},     {"'S' = 'I'", true, false},
      {"'S' = S", false, true},          {"S = 'S'", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ExpTokenGuard tree(Checked(AllTypes(), c.text));
    EXPECT_EQ(tree->Left->NodeClass == enFIELD, c.left_column);
    EXPECT_EQ(tree->Right->NodeClass == enFIELD, c.right_column);
    for (const TExpToken* side : {tree->Left, tree->Right})
      if (side->NodeClass == enCONST) { EXPECT_TRUE(side->ColumnName.empty()); }
  }
  ExpTokenGuard sum(Checked(AllTypes(), "'I' + 1 = 2"));
  EXPECT_EQ(sum->Left->Left->NodeClass, enFIELD);  // beside the constant 1
}

TEST_F(ExprCheckTest, DateConstantsAreReadInTheLanguageFormats) {
  LanguageSettingsScope ansi(0, 0);
  ExpTokenGuard tree(Checked(AllTypes(), "D >= '1700-01-01' AND '1699-12-31' < TS"));
  const TExpToken* date = tree->Left->Right;
  EXPECT_EQ(date->DataType, dtDate);
  EXPECT_EQ(date->Value<std::int32_t>(), 620548);  // python3: date(1700, 1, 1).toordinal()
  const TExpToken* stamp = tree->Right->Left;
  EXPECT_EQ(stamp->DataType, dtTimeStamp);
  EXPECT_EQ(stamp->Value<double>(), 620547.0 * 86400000.0);
  ExpTokenGuard times(Checked(AllTypes(), "T IN ('10:30', '23:59:59')"));
  EXPECT_EQ(times->Right->Value<std::int32_t>(), 37800000);
  EXPECT_EQ(Error("D = 'not a date'"),
            "Date, time, or timestamp expression expected, instead found 'not a date' in test");
  EXPECT_EQ(Error("T BETWEEN '10:00' AND '25:00'"),
            "Date, time, or timestamp expression expected, instead found '25:00' in test");
}

TEST_F(ExprCheckTest, MismatchMessages) {
  EXPECT_EQ(Error("S = 1"), "Type mismatch between column 'S' and constant '1' in test");
  EXPECT_EQ(Error("I + 1 = S"), "Type mismatch between expression '+' and column 'S' in test");
  EXPECT_EQ(Error("UPPER(S) = 1"), "Type mismatch between function 'UPPER' and constant '1' in test");
  EXPECT_EQ(Error("-S = 'a'"), "Type mismatch between '-' operator and 'S' in test");
  EXPECT_EQ(Error("NOT I"), "Type mismatch between 'NOT' operator and 'I' in test");
  EXPECT_EQ(Error("NULL = I"), "Type mismatch between constant 'NULL' and column 'I' in test");
  EXPECT_EQ(Error("BY = BY"), "Type mismatch between column 'BY' and column 'BY' in test");
  EXPECT_EQ(Error("BL = 'x'"), "Type mismatch between column 'BL' and constant 'x' in test");
  EXPECT_EQ(Error("B > B"), "Type mismatch between column 'B' and column 'B' in test");
  EXPECT_EQ(Error("S + 1 = S"), "Type mismatch between column 'S' and constant '1' in test");
  EXPECT_EQ(Error("I AND B"), "Type mismatch between column 'I' and expression '=' in test");
}

TEST_F(ExprCheckTest, ResultTypes) {
  using T = std::tuple<int, int, int, int>;
  EXPECT_EQ(Typing("I + SI"), (T{dtInteger, 0, 4, 0}));
  EXPECT_EQ(Typing("I / SI"), (T{dtFloat, 0, 4, 0}));
  EXPECT_EQ(Typing("BC * 2"), (T{dtBCD, 0, 8, 2}));
  EXPECT_EQ(Typing("BC + F"), (T{dtFloat, 0, 8, 2}));
  EXPECT_EQ(Typing("D - D"), (T{dtInteger, 0, 4, 0}));
  EXPECT_EQ(Typing("D + 1"), (T{dtDate, 0, 4, 0}));
  EXPECT_EQ(Typing("TS - TS"), (T{dtFloat, 0, 8, 0}));
  EXPECT_EQ(Typing("TS - D"), (T{dtInteger, 0, 8, 0}));
  EXPECT_EQ(Typing("W - 1"), (T{dtWord, 0, 4, 0}));
  EXPECT_EQ(Typing("S || 'abc'"), (T{dtString, 0, 34, 0}));
  EXPECT_EQ(Typing("-BC"), (T{dtBCD, 0, 8, 2}));
  EXPECT_EQ(Typing("I = 1"), (T{dtBoolean, 0, 2, 0}));
  // Money survives adding an integer, not being subtracted from one.
  EXPECT_EQ(std::get<1>(Typing("MO + 1")), fstMoney);
  EXPECT_EQ(std::get<1>(Typing("1 + MO")), fstMoney);
  EXPECT_EQ(std::get<1>(Typing("MO * 2")), fstMoney);
  EXPECT_EQ(std::get<1>(Typing("1 - MO")), 0);
}

TEST_F(ExprCheckTest, BooleanRule) {
  ExpTokenGuard alone(Checked(AllTypes(), "B"));
  EXPECT_EQ(alone->NodeClass, enBINARY);
  EXPECT_EQ(alone->Operator, eoEQ);
  EXPECT_EQ(alone->Left->ColumnName, "B");
  EXPECT_EQ(alone->Left->Parent, alone.get());
  EXPECT_EQ(alone->Right->Text, "True");
  EXPECT_EQ(alone->Right->ValueWord(), 1);
  ExpTokenGuard under_not(Checked(AllTypes(), "NOT B"));
  EXPECT_EQ(under_not->Left->Operator, eoEQ);
  ExpTokenGuard under_and(Checked(AllTypes(), "B AND I = 1 OR B"));
  EXPECT_EQ(under_and->Left->Left->Operator, eoEQ);
  EXPECT_EQ(under_and->Right->Operator, eoEQ);
  // A comparison operand and an IF branch stay as they are.
  ExpTokenGuard compared(Checked(AllTypes(), "B = FALSE"));
  EXPECT_EQ(compared->Left->NodeClass, enFIELD);
  ExpTokenGuard branch(Checked(AllTypes(), "IF(I = 1 THEN B ELSE FALSE)"));
  EXPECT_EQ(branch->Operator, eoEQ);  // the IF itself stands alone
  EXPECT_EQ(branch->Left->Operator, eoIF);
  EXPECT_EQ(branch->Left->Right->NodeClass, enFIELD);
  ExpTokenGuard cast(Checked(AllTypes(), "CAST(I AS BOOLEAN)"));
  EXPECT_EQ(cast->Operator, eoEQ);
  // Without the conversion nothing changes.
  ExpTokenGuard plain(Parse("B"));
  VerifyExpressionToken(11949, "", "test", plain.get(), nullptr, const_cast<Table*>(&AllTypes()), Table::Lookup,
                        false);
  EXPECT_EQ(plain->NodeClass, enFIELD);
}

TEST_F(ExprCheckTest, Functions) {
  using T = std::tuple<int, int, int, int>;
  EXPECT_EQ(Typing("SUBSTRING(S FROM 2 FOR 5)"), (T{dtString, 0, 6, 0}));
  EXPECT_EQ(Typing("SUBSTRING(S FROM 5)"), (T{dtString, 0, 27, 0}));
  EXPECT_EQ(Typing("SUBSTRING(S FROM 40)"), (T{dtString, 0, 1, 0}));
  EXPECT_EQ(Typing("SUBSTRING(S FROM 1 FOR 2000000000)"), (T{dtString, 0, 31, 0}));
  EXPECT_EQ(Typing("UPPER(M)"), (T{dtBlob, fstMemo, 10, 0}));
  EXPECT_EQ(Typing("POS('a' IN S)"), (T{dtInteger, 0, 4, 0}));
  EXPECT_EQ(Typing("EXTRACT(YEAR FROM TS)"), (T{dtInteger, 0, 4, 0}));
  EXPECT_EQ(Typing("ROUND(BC TO 1)"), (T{dtFloat, 0, 8, 0}));
  EXPECT_EQ(Typing("ABS(BC)"), (T{dtBCD, 0, 8, 2}));
  EXPECT_EQ(Typing("IF(B THEN 'ab' ELSE NULL)"), (T{dtString, 0, 3, 0}));
  EXPECT_EQ(Typing("CAST(I AS VARCHAR(12))"), (T{dtString, 0, 13, 0}));
  EXPECT_EQ(Typing("CAST(I AS DECIMAL(10, 3))"), (T{dtBCD, 0, 8, 3}));
  EXPECT_EQ(Typing("CAST(S AS BYTES(6))"), (T{dtBytes, 0, 6, 0}));
  EXPECT_EQ(Typing("CAST(M AS BLOB(0, 3))"), (T{dtBlob, 24, 10, 0}));
  EXPECT_EQ(Typing("COUNT(*)"), (T{dtInteger, 0, 4, 0}));
  EXPECT_EQ(Typing("MAX(D)"), (T{dtDate, 0, 4, 0}));
}

TEST_F(ExprCheckTest, FunctionMessages) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"SUM(S) = 1", "SUM aggregate function must contain a numeric, date, time, or timestamp expression in test"},
      {"AVG(B) = 1", "AVG aggregate function must contain a numeric, date, time, or timestamp expression in test"},
      {"UPPER(I) = 'A'", "Type mismatch between UPPER function and function argument in test"},
      {"LOWER(D) = 'A'", "Type mismatch between LOWER function and function argument in test"},
      {"SUBSTRING(I FROM 1) = 'a'", "Expression argument of SUBSTRING function must be a string or memo in test"},
      {"SUBSTRING(S FROM 'a') = 'a'", "FROM argument of SUBSTRING function must be an integer constant in test"},
      {"SUBSTRING(S FROM 0) = 'a'", "FROM argument of SUBSTRING function must be an integer constant greater than 0 in test"},
      {"SUBSTRING(S FROM 1 FOR I) = 'a'", "FOR argument of SUBSTRING function must be an integer constant in test"},
      {"SUBSTRING(S FROM 1 FOR 0) = 'a'", "FOR argument of SUBSTRING function must be an integer constant greater than 0 in test"},
      {"REPLACE('a' WITH 'b' IN I) = 'a'", "IN argument of REPLACE function must be a string or memo in test"},
      {"REPLACE(S WITH 'b' IN S) = 'a'", "Search argument of REPLACE function must be a string constant in test"},
      {"REPLACE('a' WITH 1 IN S) = 'a'", "WITH argument of REPLACE function must be a string constant in test"},
      {"POS('a' IN I) = 1", "Type mismatch between POS function and IN argument in test"},
      {"OCCURS(S IN S) = 1", "Search string argument of OCCURS function must be a string constant in test"},
      {"TRIM(BOTH 'ab' FROM S) = 'a'", "Trim character argument of TRIM function must be a single character constant in test"},
      {"TRIM(BOTH ' ' FROM I) = 'a'", "FROM argument of TRIM function must be a string or memo in test"},
      {"CAST(F AS BOOLEAN)", "Type mismatch between column 'F' and AS argument in test"},
      {"CAST(M AS VARCHAR(5)) = 'a'", "Type mismatch between column 'M' and AS argument in test"},
      {"CAST(S AS VARCHAR(0)) = 'a'", "Length argument must be an integer greater than 0 and less than or equal to 250 in test"},
      {"CAST(S AS CHAR(251)) = 'a'", "Length argument must be an integer greater than 0 and less than or equal to 250 in test"},
      {"CAST(S AS CHAR('x')) = 'a'", "Length argument must be an integer in test"},
      {"CAST(S AS DECIMAL(10, 5)) = 1", "Scale argument must be an integer less than or equal to 4 for the BCD data type test"},
      {"CAST(S AS FLOAT(10, 'x')) = 1", "Scale argument must be an integer in test"},
      {"CAST(M AS BLOB(0, 4)) = 1", "BLOB type argument must be an integer equal to 1,2,3,5, or 7 in test"},
      {"CAST(M AS BLOB('x', 1)) = 1", "First BLOB type argument must be an integer with the value of 0 in test"},
      {"EXTRACT(YEAR FROM S) = 1", "FROM argument of EXTRACT function must be a date, time, or timestamp in test"},
      {"IF(I THEN 1 ELSE 2) = 1", "First expression argument of IF function must be a boolean type in test"},
      {"IF(B THEN NULL ELSE NULL) = 1",
       "At least one of the second and third IF expression arguments in test must be a non-NULL value"},
      {"IF(B THEN 1 ELSE 'a') = 1", "Type mismatch between second and third IF expression arguments in test"},
      {"ABS(S) = 1", "Expression argument of ABS function must be an integer or floating-point type in test"},
      {"ROUND(I) = 1", "Expression argument of ROUND function must be a floating-point type in test"},
      {"ROUND(F TO 'a') = 1", "Decimal places argument of ROUND function must be an integer constant in test"},
      {"ROUND(F TO 33) = 1", "Decimal places argument of ROUND function must be an integer constant between 0 and 32 in test"},
  };
  for (const Case& c : cases) EXPECT_EQ(Error(c.text), c.message) << c.text;
  // A string may be cast to every type but BLOB.
  for (const char* type : {"VARCHAR(5)", "DATE", "BOOLEAN", "SMALLINT", "INTEGER", "FLOAT", "DECIMAL(5, 2)",
                           "BYTES(4)", "TIME", "TIMESTAMP", "WORD"})
    EXPECT_EQ(Error(std::string("CAST(S AS ") + type + ")"), "") << type;
  EXPECT_EQ(Error("CAST(S AS BLOB(0, 1))"), "Type mismatch between column 'S' and AS argument in test");
}

TEST_F(ExprCheckTest, PredicateMessages) {
  EXPECT_EQ(Error("I LIKE 'a%'"), "Type mismatch between LIKE operator and expression 'I' in test");
  EXPECT_EQ(Error("S NOT LIKE S"), "Constant expression expected after NOT LIKE operator, instead found 'S' in test");
  EXPECT_EQ(Error("S LIKE 1"), "Type mismatch between LIKE operator and expression '1' in test");
  EXPECT_EQ(Error("I IN (1, SI)"), "Constant expression expected after IN operator, instead found 'SI' in test");
  EXPECT_EQ(Error("I NOT IN (1, 'a')"), "Type mismatch between NOT IN operator and expression 'a' in test");
  EXPECT_EQ(Error("I BETWEEN 1 AND 'a'"), "Type mismatch between BETWEEN operator and expression 'a' in test");
  EXPECT_EQ(Error("I NOT BETWEEN S AND 2"),
            "Constant expression expected after NOT BETWEEN operator, instead found 'S' in test");
  EXPECT_EQ(Error("I IN (1, 2 * 3)"), "Constant expression expected after IN operator, instead found '*' in test");
  EXPECT_EQ(Error("M LIKE 'a%' AND I IN (-1, 2, NULL) AND I NOT BETWEEN -5 AND +5"), "");
}

TEST_F(ExprCheckTest, FilterMessagesNameTheFilter) {
  ExpTokenGuard tree(Parse("IF(B THEN NULL ELSE NULL) = 1"));
  std::string message = EngineMessage([&] {
    VerifyExpressionToken(10051, "inds", "filter expression", tree.get(), nullptr,
                          const_cast<Table*>(&AllTypes()), Table::Lookup, true);
  });
  EXPECT_EQ(message,
            "At least one of the second and third IF expression arguments in filter expression must be a non-NULL "
            "value");
}

TEST_F(ExprCheckTest, TypeRules) {
  EXPECT_TRUE(CheckUnaryTypes(eoMINUS, dtDate));
  EXPECT_FALSE(CheckUnaryTypes(eoMINUS, dtWord));
  EXPECT_TRUE(CheckUnaryTypes(eoPLUS, dtWord));
  EXPECT_TRUE(CheckUnaryTypes(eoNOT | 0x80, dtBoolean));  // the high bit is ignored
  EXPECT_EQ(GetUnaryResultSubType(eoMINUS, dtFloat, fstMoney), fstMoney);
  EXPECT_EQ(GetUnaryResultDataType(eoNOT, dtBoolean), dtBoolean);
  EXPECT_TRUE(CheckBinaryTypes(eoEQ, dtBlob, 0, dtUnknown, 0));
  EXPECT_FALSE(CheckBinaryTypes(eoEQ, dtBlob, 0, dtBlob, 0));
  EXPECT_FALSE(CheckBinaryTypes(eoEQ, dtBytes, 0, dtUnknown, 0));
  EXPECT_TRUE(CheckBinaryTypes(eoSUB, dtTimeStamp, 0, dtTime, 0));
  EXPECT_FALSE(CheckBinaryTypes(eoADD, dtDate, 0, dtDate, 0));
  EXPECT_FALSE(CheckBinaryTypes(eoMOD, dtInteger, 0, dtInteger, 0));
  EXPECT_EQ(GetBinaryResultDataType(eoADD, dtString, dtBlob), dtBlob);
  EXPECT_EQ(GetBinaryResultSubType(eoADD, dtString, 0, dtBlob, fstMemo), fstMemo);
  EXPECT_EQ(GetBinaryResultDataType(eoSUB, dtTimeStamp, dtTime), dtInteger);
  EXPECT_EQ(GetBinaryResultDataType(eoDIV, dtWord, dtBCD), dtBCD);
  EXPECT_EQ(GetBinaryResultDataType(eoMUL, dtString, dtString), dtUnknown);
  EXPECT_TRUE(CheckCastTypes(dtString, dtUnknown));
  EXPECT_FALSE(CheckCastTypes(dtString, dtBlob));
  EXPECT_TRUE(CheckCastTypes(dtBoolean, dtWord));
  EXPECT_FALSE(CheckCastTypes(dtBoolean, dtFloat));
  EXPECT_TRUE(CheckCastTypes(dtTimeStamp, dtDate));
  EXPECT_FALSE(CheckCastTypes(dtDate, dtTime));
  EXPECT_FALSE(CheckCastTypes(13, dtString));
  EXPECT_EQ(VerifyWordBool(65535), 1);
  EXPECT_EQ(VerifyWordBool(0), 0);
}

TEST_F(ExprCheckTest, VerifyExpressionOfStoredTexts) {
  LanguageSettingsScope ansi(0, 0);
  EXPECT_TRUE(VerifyExpression("", dtInteger));
  EXPECT_TRUE(VerifyExpression("anything", dtString));
  EXPECT_TRUE(VerifyExpression("anything", dtBytes));
  EXPECT_TRUE(VerifyExpression("true", dtBoolean));
  EXPECT_FALSE(VerifyExpression("yes", dtBoolean));
  EXPECT_TRUE(VerifyExpression("65535", dtWord));
  EXPECT_FALSE(VerifyExpression("65536", dtWord));
  EXPECT_FALSE(VerifyExpression("32768", dtSmallInt));
  EXPECT_TRUE(VerifyExpression("-2147483648", dtInteger));
  EXPECT_TRUE(VerifyExpression("1.5e3", dtFloat));
  EXPECT_TRUE(VerifyExpression("12.3456", dtBCD));
  EXPECT_TRUE(VerifyExpression("now", dtTimeStamp));
  EXPECT_TRUE(VerifyExpression("1700-01-01 10:00", dtTimeStamp));
  EXPECT_TRUE(VerifyExpression("Time", dtTime));
  EXPECT_FALSE(VerifyExpression("now", dtDate));
  EXPECT_TRUE(VerifyExpression("1700-02-28", dtDate));
  EXPECT_FALSE(VerifyExpression("1700-02-30", dtDate));
}

}  // namespace
}  // namespace korvex::testing
