// The lexer and the eight-level grammar: tokens, tree shapes and the exact
// messages of every syntax error; unfinished trees go back to the pool.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/format_settings.h"
#include "tables/lib/expparser.h"
#include "tests/tables/lib/expr_test_support.h"
#include "tests/tables/lib/lib_test_support.h"

namespace korvex::testing {
namespace {

class ExprLexerTest : public ExprTest {
protected:
  // The kinds and texts of every token of a text.
  std::vector<std::pair<int, std::string>> Tokens(const std::string& text) {
    TExpressionParser lexer;
    lexer.SetErrorNumber(11949);
    lexer.SetExpressionContext("test");
    lexer.SetExpression(text);
    std::vector<std::pair<int, std::string>> tokens;
    while (lexer.NextToken() != tkEnd) tokens.emplace_back(lexer.TokenKind(), lexer.TokenAsString());
    return tokens;
  }
  std::string LexError(const std::string& text) {
    return EngineMessage([&] { Tokens(text); });
  }
};

using Tok = std::vector<std::pair<int, std::string>>;

TEST_F(ExprLexerTest, KindsOfTokens) {
  EXPECT_EQ(Tokens("Lname_2 [First name] 'it''s' \"a\"\"b\" #65 12 1.5E+3 .5"),
            (Tok{{tkSymbol, "Lname_2"},
                 {tkBracketed, "First name"},
                 {tkQuoted, "it's"},
                 {tkQuoted, "a\"b"},
                 {tkCharCode, "#65"},
                 {tkInteger, "12"},
                 {tkNumber, "1.5E+3"},
                 {tkNumber, ".5"}}));
  EXPECT_EQ(Tokens("1+2"), (Tok{{tkInteger, "1"}, {'+', "+"}, {tkInteger, "2"}}));
  EXPECT_EQ(Tokens("12E"), (Tok{{tkNumber, "12E"}}));
  EXPECT_EQ(Tokens("a<>b"), (Tok{{tkSymbol, "a"}, {'<', "<"}, {'>', ">"}, {tkSymbol, "b"}}));
  // Bytes 129..254 are letters of symbols.
  EXPECT_EQ(Tokens("\xC9t\xE9"), (Tok{{tkSymbol, "\xC9t\xE9"}}));
}

TEST_F(ExprLexerTest, CommentsAndBlanksAreSkipped) {
  EXPECT_EQ(Tokens("/* a * lone asterisk */ x /**/\t\r\n/* two */ /* in a row */ y"),
            (Tok{{tkSymbol, "x"}, {tkSymbol, "y"}}));
  EXPECT_EQ(LexError("x /* never closed"), "Missing ending comment slash and asterisk in test");
}

TEST_F(ExprLexerTest, UnclosedTokens) {
  EXPECT_EQ(LexError("x = 'abc"), "Missing single quote after ''abc' in test");
  EXPECT_EQ(LexError("x = \"abc"), "Missing double quote after '\"abc' in test");
  EXPECT_EQ(LexError("[First name"), "Missing right bracket after '[First name' in test");
}

TEST_F(ExprLexerTest, DecimalSeparatorOfTheSettingsInForce) {
  rtl::FormatSettingsScope keep;
  rtl::TFormatSettings comma = rtl::FormatSettings();
  comma.DecimalSeparator = ',';
  rtl::SetFormatSettings(comma);
  EXPECT_EQ(Tokens("1,5"), (Tok{{tkNumber, "1,5"}}));
  EXPECT_EQ(Tokens("1.5"), (Tok{{tkInteger, "1"}, {'.', "."}, {tkInteger, "5"}}));
}

TEST_F(ExprLexerTest, PositionsAndLiteralText) {
  TExpressionParser lexer;
  lexer.SetExpression("SELECT a +\r\n b FROM t");
  lexer.NextToken();
  lexer.NextToken();
  EXPECT_EQ(lexer.GetCurPos(), 7);
  lexer.MarkExpressionLiteral();
  lexer.NextToken();
  lexer.NextToken();
  lexer.NextToken();  // FROM is current: the literal ends with b
  EXPECT_EQ(lexer.ExpressionAsString(), "a + b");
  EXPECT_TRUE(lexer.CheckTokenSymbol("from"));
  EXPECT_EQ(lexer.TextLength(), 22);
  lexer.FreeExpression();
  EXPECT_EQ(lexer.TextLength(), 0);
}

// ---- the grammar ---------------------------------------------------------------

class ExprParserTest : public ExprTest {
protected:
  // The tree as a bracketed text: (op left right), columns by name,
  // constants by their text.
  static std::string Shape(const TExpToken* node) {
    if (!node) return "";
    std::string out;
    switch (node->NodeClass) {
      case enFIELD:
        return node->TableName.empty() ? node->ColumnName : node->TableName + "." + node->ColumnName;
      case enCONST:
        out = node->IsParameter ? "?" : node->IsNull ? "NULL" : node->Text;
        break;
      default:
        out = "(" + node->Text;
        for (const TExpToken* operand : {node->Left, node->Right, node->Third})
          if (operand) out += " " + Shape(operand);
        return out + ")";
    }
    // Chained arguments after a constant.
    if (node->Right) out += " " + Shape(node->Right);
    return out;
  }
  std::string ShapeOf(const std::string& text, TParseOptions options = kAllOptions) {
    ExpTokenGuard tree(Parse(text, options));
    return Shape(tree.get());
  }
};

TEST_F(ExprParserTest, EmptyTextGivesNoTree) {
  EXPECT_EQ(Parse(""), nullptr);
  EXPECT_EQ(Parse("  /* nothing */ "), nullptr);
}

TEST_F(ExprParserTest, LevelsBindFromLoosestToTightest) {
  EXPECT_EQ(ShapeOf("a OR b AND c"), "(OR a (AND b c))");
  EXPECT_EQ(ShapeOf("a AND b OR c AND d"), "(OR (AND a b) (AND c d))");
  EXPECT_EQ(ShapeOf("NOT a = 1 AND b"), "(AND (NOT (= a 1)) b)");
  EXPECT_EQ(ShapeOf("a + b * c - d / e"), "(- (+ a (* b c)) (/ d e))");
  EXPECT_EQ(ShapeOf("a - b - c"), "(- (- a b) c)");
  EXPECT_EQ(ShapeOf("-(a + b) * c"), "(* (- (+ a b)) c)");
  EXPECT_EQ(ShapeOf("a || 'x' = b"), "(= (|| a x) b)");
  EXPECT_EQ(ShapeOf("a < > b"), "(<> a b)");
  EXPECT_EQ(ShapeOf("a >= 1 OR a <= 2 OR a > 3 OR a < 4"), "(OR (OR (OR (>= a 1) (<= a 2)) (> a 3)) (< a 4))");
}

TEST_F(ExprParserTest, OneComparisonAtMost) {
  TExpressionParser parser;
  parser.SetExpression("a = b = c");
  parser.NextToken();
  ExpTokenGuard tree(parser.ParseExpression1(kAllOptions));
  EXPECT_EQ(Shape(tree.get()), "(= a b)");
  EXPECT_TRUE(parser.CheckToken('='));
}

TEST_F(ExprParserTest, EachLevelStopsAtTheFirstTokenItDoesNotUse) {
  struct Case {
    int level;
    const char* text;
    const char* shape;
    const char* rest;
  };
  const Case cases[] = {{8, "a + b", "a", "+"},          {7, "-a * b", "(- a)", "*"},
                        {6, "a * b + c", "(* a b)", "+"}, {5, "a + b = c", "(+ a b)", "="},
                        {4, "a = b AND c", "(= a b)", "AND"}, {3, "NOT a = b OR c", "(NOT (= a b))", "OR"},
                        {2, "a AND b OR c", "(AND a b)", "OR"}, {1, "a OR b )", "(OR a b)", ")"}};
  for (const Case& c : cases) {
    TExpressionParser parser;
    parser.SetExpression(c.text);
    parser.NextToken();
    TExpToken* (TExpressionParser::*levels[])(TParseOptions) = {
        &TExpressionParser::ParseExpression1, &TExpressionParser::ParseExpression2,
        &TExpressionParser::ParseExpression3, &TExpressionParser::ParseExpression4,
        &TExpressionParser::ParseExpression5, &TExpressionParser::ParseExpression6,
        &TExpressionParser::ParseExpression7, &TExpressionParser::ParseExpression8};
    ExpTokenGuard tree((parser.*levels[c.level - 1])(kAllOptions));
    EXPECT_EQ(Shape(tree.get()), c.shape) << c.text;
    EXPECT_EQ(parser.TokenAsString(), c.rest) << c.text;
  }
}

TEST_F(ExprParserTest, TrailingTextOfAFilterIsAnError) {
  EXPECT_EQ(ParseError("Lname = 'Smith' AN Age > 3"), "Unknown or unexpected symbol 'AN' found in test");
  EXPECT_EQ(ParseError("a = b = c"), "Unknown or unexpected symbol '=' found in test");
  EXPECT_EQ(ParseError("(a = 1))"), "Unknown or unexpected symbol ')' found in test");
}

TEST_F(ExprParserTest, Predicates) {
  EXPECT_EQ(ShapeOf("a LIKE 'Sm%'"), "(LIKE a Sm%)");
  EXPECT_EQ(ShapeOf("a NOT LIKE 'Sm%'"), "(NOT LIKE a Sm%)");
  EXPECT_EQ(ShapeOf("a BETWEEN 1 AND 5"), "(BETWEEN a 1 5)");
  EXPECT_EQ(ShapeOf("a NOT BETWEEN -1 AND 5"), "(NOT BETWEEN a (- 1 5))");
  EXPECT_EQ(ShapeOf("a IN (1, 2, 3)"), "(IN a 1 2 3)");
  EXPECT_EQ(ShapeOf("a NOT IN ('x')"), "(NOT IN a x)");
  EXPECT_EQ(ShapeOf("a IS NULL"), "(IS NULL a NULL)");
  EXPECT_EQ(ShapeOf("a IS NOT NULL"), "(IS NOT NULL a NULL)");
  ExpTokenGuard tree(Parse("a BETWEEN 1 AND 5 AND b IS NOT NULL"));
  EXPECT_EQ(tree->Left->Operator, eoBETWEEN);
  EXPECT_EQ(tree->Left->NodeClass, enEXTBINARY);
  EXPECT_EQ(tree->Right->Operator, eoNE);
  EXPECT_EQ(tree->Right->NodeClass, enBINARY);
}

TEST_F(ExprParserTest, PredicateErrors) {
  EXPECT_EQ(ParseError("a LIKE 'x'", 0),
            "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in test");
  EXPECT_EQ(ParseError("a BETWEEN 1 OR 2"), "Expected AND operator in BETWEEN operator, instead found 'OR' in test");
  EXPECT_EQ(ParseError("a IN 1"), "Expected left parentheses after IN operator, instead found '1' in test");
  EXPECT_EQ(ParseError("a NOT IN 1"), "Expected left parentheses for IN operator, instead found '1' in test");
  EXPECT_EQ(ParseError("a IN (1, 2"), "Expected right parentheses after IN operator, instead found '' in test");
  EXPECT_EQ(ParseError("a IN ()"), "You must provide at least one value as an operand of the IN operator  in test");
  EXPECT_EQ(ParseError("a IS 1"), "Unknown or unexpected symbol '1' found in test");
  EXPECT_EQ(ParseError("a IS NOT 1"), "Unknown or unexpected symbol '1' found in test");
  EXPECT_EQ(ParseError("a NOT = 1"), "Unknown or unexpected symbol '=' in test");
  EXPECT_EQ(ParseError("NOT NOT a"), "Unknown or unexpected symbol 'NOT' found in test");
  EXPECT_EQ(ParseError("a | b"),
            "Second concatenation symbol '|' expected after first concatentation symbol, instead found 'b' in test");
  EXPECT_EQ(ParseError("--1"), "Unknown or unexpected symbol '-' found in test");
}

TEST_F(ExprParserTest, BinaryArgumentChainedThroughTheRightLinkIsRefused) {
  // Chaining the high bound after 1+1 would overwrite the sum's operand.
  EXPECT_EQ(ParseError("x BETWEEN 1+1 AND 5"),
            "Constant expression expected after BETWEEN operator, instead found '+' in test");
  EXPECT_EQ(ParseError("x IN (1, 2*3, 4)"), "Constant expression expected after IN operator, instead found '*' in test");
  EXPECT_EQ(ParseError("SUBSTRING(s FROM (1+1) FOR 2) = 'a'"),
            "FROM argument of SUBSTRING function must be an integer constant in test");
  EXPECT_EQ(ParseError("REPLACE('a' || 'b' WITH 'c' IN s) = 'a'"),
            "Search argument of REPLACE function must be a string constant in test");
  EXPECT_EQ(ParseError("CAST(x AS DECIMAL((1+2), 2)) = 1"), "Precision argument must be an integer in test");
  // A last value may be any expression: the checker judges it.
  EXPECT_EQ(ShapeOf("x IN (1, 2*3)"), "(IN x 1 (* 2 3))");
  // A unary value keeps its Right link free for the chain.
  EXPECT_EQ(ShapeOf("x IN (-1, -2)"), "(IN x (- 1 (- 2)))");
}

TEST_F(ExprParserTest, Constants) {
  ExpTokenGuard integer(Parse("2147483647"));
  EXPECT_EQ(integer->DataType, dtInteger);
  EXPECT_EQ(integer->DataSize, 4);
  EXPECT_EQ(integer->Value<std::int32_t>(), 2147483647);
  ExpTokenGuard wide(Parse("2147483648"));
  EXPECT_EQ(wide->DataType, dtFloat);
  EXPECT_EQ(wide->Value<double>(), 2147483648.0);
  ExpTokenGuard number(Parse("1.5E+3"));
  EXPECT_EQ(number->DataType, dtFloat);
  EXPECT_EQ(number->Value<double>(), 1500.0);
  ExpTokenGuard text(Parse("'it''s'"));
  EXPECT_EQ(text->DataType, dtString);
  EXPECT_EQ(text->DataSize, 5);
  EXPECT_STREQ(text->StringValue(), "it's");
  ExpTokenGuard empty(Parse("''"));
  EXPECT_TRUE(empty->IsNull);
  ExpTokenGuard code(Parse("#65"));
  EXPECT_STREQ(code->StringValue(), "A");
  EXPECT_EQ(code->DataSize, 2);
  ExpTokenGuard truth(Parse("TRUE"));
  EXPECT_EQ(truth->DataType, dtBoolean);
  EXPECT_EQ(truth->ValueWord(), 1);
  ExpTokenGuard null(Parse("NULL"));
  EXPECT_TRUE(null->IsNull);
  EXPECT_EQ(null->DataType, dtUnknown);

  EXPECT_EQ(ParseError("12E"), "Constant '12E' is not a valid number  in test");
  EXPECT_EQ(ParseError("#256"), "Character constants (#) must be within the range of 0 to 255 in test");
  EXPECT_EQ(ParseError("#"), "Character constants (#) must be within the range of 0 to 255 in test");
}

TEST_F(ExprParserTest, CurrentDateAndTimeAreTakenAtParseTime) {
  ExpTokenGuard date(Parse("CURRENT_DATE"));
  ExpTokenGuard time(Parse("CURRENT_TIME"));
  ExpTokenGuard stamp(Parse("CURRENT_TIMESTAMP"));
  EXPECT_EQ(date->DataType, dtDate);
  EXPECT_GT(date->Value<std::int32_t>(), 730000);  // after the year 2000
  EXPECT_EQ(time->DataType, dtTime);
  EXPECT_LT(time->Value<std::int32_t>(), 86400000);
  EXPECT_EQ(stamp->DataType, dtTimeStamp);
  EXPECT_EQ(stamp->DataSize, 8);
}

TEST_F(ExprParserTest, Columns) {
  EXPECT_EQ(ShapeOf("[First name] = 1"), "(= First name 1)");
  ExpTokenGuard qualified(Parse("\"C:\\data\\inds.DAT\".Lname"));
  EXPECT_EQ(qualified->NodeClass, enFIELD);
  EXPECT_EQ(qualified->ColumnName, "Lname");
  EXPECT_EQ(qualified->TableName, "inds");
  EXPECT_EQ(qualified->Text, "C:\\data\\inds.DAT.Lname");
  ExpTokenGuard bracketed(Parse("t.[Birth date]"));
  EXPECT_EQ(bracketed->ColumnName, "Birth date");
  EXPECT_EQ(bracketed->TableName, "t");
  ExpTokenGuard all(Parse("t.*"));
  EXPECT_EQ(all->ColumnName, "*");
  EXPECT_EQ(ParseError("t.*", kFilterOptions), "* (all columns) symbol is not allowed in test");
  EXPECT_EQ(ParseError("*", kFilterOptions), "* (all columns) symbol is not allowed in test");
  EXPECT_EQ(ParseError("t.+"),
            "Symbol or string expression expected after table correlation name separator '.', instead found '+' in "
            "test");
  // A separator before a digit starts a number.
  EXPECT_EQ(ParseError("t.1"), "Unknown or unexpected symbol '.1' found in test");
  EXPECT_EQ(ParseError("Frobnicate(a)"), "Unknown or unexpected function 'Frobnicate' found in test");
  EXPECT_EQ(ParseError("a = )"), "Unknown or unexpected symbol ')' found in test");
  EXPECT_EQ(ParseError("(a = 1"), "Right parentheses expected, instead found '' in test");
}

TEST_F(ExprParserTest, FunctionsAndAggregates) {
  EXPECT_EQ(ShapeOf("UPPER(a)"), "(UPPER a)");
  EXPECT_EQ(ShapeOf("SUBSTRING(a FROM 2 FOR 3)"), "(SUBSTRING a 2 3)");
  EXPECT_EQ(ShapeOf("REPLACE('x' WITH 'y' IN a)"), "(REPLACE a x y)");
  EXPECT_EQ(ShapeOf("POS('x' IN a)"), "(POS a x)");
  EXPECT_EQ(ShapeOf("OCCURS('x' IN a)"), "(OCCURS a x)");
  EXPECT_EQ(ShapeOf("TRIM(LEADING ' ' FROM a)"), "(TRIM a  )");
  EXPECT_EQ(ShapeOf("EXTRACT(DAYOFWEEK FROM d)"), "(EXTRACT d)");
  EXPECT_EQ(ShapeOf("ROUND(f TO 2)"), "(ROUND f 2)");
  EXPECT_EQ(ShapeOf("IF(a = 1 THEN 'x' ELSE 'y')"), "(IF (= a 1) x y)");
  EXPECT_EQ(ShapeOf("COUNT(*)"), "(COUNT *)");
  ExpTokenGuard trim(Parse("TRIM(TRAILING 'x' FROM a)"));
  EXPECT_EQ(trim->Operator, eoTRIMTRAILING);
  ExpTokenGuard extract(Parse("EXTRACT(DAYOFWEEK FROM d)"));
  EXPECT_EQ(extract->Operator, eoEXTRACTDAYOFWEEK);
  EXPECT_EQ(extract->DataType, dtInteger);
  ExpTokenGuard cast(Parse("CAST(a AS DECIMAL(10, 2))"));
  EXPECT_EQ(cast->DataType, dtBCD);
  ASSERT_NE(cast->Right, nullptr);
  ASSERT_NE(cast->Right->Right, nullptr);
  EXPECT_EQ(cast->Right->Right->Value<std::int32_t>(), 2);
  ExpTokenGuard sum(Parse("SUM(a)"));
  EXPECT_EQ(sum->Operator, eoSUM);
  EXPECT_EQ(ParseError("SUM(a)", kFilterOptions), "Aggregate functions are not allowed in test");
}

TEST_F(ExprParserTest, FunctionErrorMessages) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"UPPER a", "Left parentheses expectedafter UPPER keyword, instead found 'a' in test"},
      {"LOWER a", "Left parentheses expectedafter LOWER keyword, instead found 'a' in test"},
      {"ABS a", "Left parentheses expectedafter ABS keyword, instead found 'a' in test"},
      {"ROUND a", "Left parentheses expectedafter ROUND keyword, instead found 'a' in test"},
      {"IF a", "Left parentheses expectedafter IF keyword, instead found 'a' in test"},
      {"UPPER(a", "Right parentheses expected after UPPER function argument, instead found '' in test"},
      {"SUBSTRING a", "Left parentheses expected after SUBSTRING keyword, instead found 'a' in test"},
      {"SUBSTRING(a, 1)", "FROM keyword expected after first SUBSTRING function argument, instead found ',' in test"},
      {"SUBSTRING(a FROM 1 2)", "Right parentheses expected after SUBSTRING function arguments, instead found '2' in test"},
      {"REPLACE('a' IN b)", "WITH keyword expected after first REPLACE function argument, instead found 'IN' in test"},
      {"REPLACE('a' WITH 'b' c)", "IN keyword expected after second REPLACE function argument, instead found 'c' in test"},
      {"POS('a' b)", "IN keyword expected after first POS function argument, instead found 'b' in test"},
      {"OCCURS('a' IN b", "Right parentheses expected after OCCURS function arguments, instead found '' in test"},
      {"CAST(a INTEGER)", "AS keyword expected after first CAST function argument, instead found 'INTEGER' in test"},
      {"CAST(a AS LONG)", "SQL data type keyword expected, instead found 'LONG' in test"},
      {"CAST(a AS CHAR)", "Left parentheses expected after CHARACTER or CHAR data type, instead found ')' in test"},
      {"CAST(a AS BLOB(1 2))", "Comma expected after first BLOB argument, instead found '2' in test"},
      {"CAST(a AS DECIMAL(1 2))", "Comma expected after first DECIMAL argument, instead found '2' in test"},
      {"CAST(a AS DECIMAL(1, 2 3))",
       "Right parentheses expected after DECIMAL data type arguments, instead found '3' in test"},
      {"CAST(a AS BLOB 1)", "Left parentheses expected after BLOB data type, instead found '1' in test"},
      {"TRIM(' ' FROM a)", "LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found ' ' in test"},
      {"EXTRACT(WEEK FROM d)",
       "YEAR, MONTH, DAY, DAYOFWEEK, HOUR, MINUTE, or SECOND keyword expected after EXTRACT keyword, instead found "
       "'WEEK' in test"},
      {"IF(a THEN 1 2)", "ELSE keyword expected after second IF function argument, instead found '2' in test"},
      {"? = 1", nullptr},
  };
  for (const Case& c : cases) {
    if (!c.message) continue;
    EXPECT_EQ(ParseError(c.text), c.message) << c.text;
  }
  EXPECT_EQ(ParseError("? = 1", kFilterOptions), "Parameters are not allowed in test");
}

TEST_F(ExprParserTest, DataTypes) {
  struct Case {
    const char* text;
    std::uint8_t type;
    std::uint8_t sub_type;
  };
  const Case cases[] = {{"SMALLINT", dtSmallInt, 0},  {"WORD", dtWord, 0},       {"INTEGER", dtInteger, 0},
                        {"INT", dtInteger, 0},        {"AUTOINC", dtInteger, 29}, {"NUMERIC(8, 2)", dtBCD, 0},
                        {"FLOAT(10)", dtFloat, 0},    {"MONEY", dtFloat, 21},    {"VARCHAR(20)", dtString, 0},
                        {"DATE", dtDate, 0},          {"TIME", dtTime, 0},       {"TIMESTAMP", dtTimeStamp, 0},
                        {"BOOLEAN", dtBoolean, 0},    {"BYTES", dtBytes, 0},     {"BLOB(0, 1)", dtBlob, 0}};
  for (const Case& c : cases) {
    TExpressionParser parser;
    parser.SetExpression(c.text);
    parser.NextToken();
    ExpTokenGuard node(GetNewExpTokenInstance());
    parser.ParseDataTypeExpression(node.get(), kAllOptions, false);
    EXPECT_EQ(node->DataType, c.type) << c.text;
    EXPECT_EQ(node->SubType, c.sub_type) << c.text;
    EXPECT_EQ(parser.TokenKind(), tkEnd) << c.text;
  }
  // Quiet: an unknown word leaves the node and the token alone.
  TExpressionParser parser;
  parser.SetExpression("NOT NULL");
  parser.NextToken();
  ExpTokenGuard node(GetNewExpTokenInstance());
  parser.ParseDataTypeExpression(node.get(), kAllOptions, true);
  EXPECT_EQ(node->DataType, dtUnknown);
  EXPECT_TRUE(parser.CheckTokenSymbol("NOT"));
}

TEST_F(ExprParserTest, ErrorsCarryTheCallersNumberAndContext) {
  TExpressionParser parser;
  parser.SetErrorNumber(10051);
  parser.SetErrorContext("inds");
  parser.SetExpressionContext("filter expression");
  int number = RaisedNumber([&] {
    TExpToken* tree = parser.ParseFilter("a = ", 0);
    FreeExpressionTokens(tree);
  });
  EXPECT_EQ(number, 10051);
  std::string message;
  RaisedNumber(
      [&] {
        TExpToken* tree = parser.ParseFilter("a = ", 0);
        FreeExpressionTokens(tree);
      },
      &message);
  EXPECT_EQ(message,
            "KORVEX Engine Error # 10051 Filter error for table 'inds' - Unknown or unexpected symbol '' found in "
            "filter expression");
}

TEST_F(ExprParserTest, SyntaxErrorsGiveEveryNodeBack) {
  const char* broken[] = {"a = 1 AND (b = 2 OR c = ",  "x BETWEEN 1+1 AND 5", "a IN (1, 2, 3",
                          "IF(a = 1 THEN 'x' ELSE )",  "SUBSTRING(a FROM 1 FOR",   "NOT (a = 1) AND NOT",
                          "UPPER(a) || LOWER(b) = c d", "a + b * c - d / e +",      "CAST(a AS VARCHAR(10)"};
  for (const char* text : broken) {
    std::int64_t before = ExpTokensInUse();
    EXPECT_NE(ParseError(text), "") << text;
    EXPECT_EQ(ExpTokensInUse(), before) << text;
  }
}

TEST_F(ExprParserTest, DeeplyNestedTextFailsCleanly) {
  std::string nested(5000, '(');
  nested += "a";
  EXPECT_EQ(ParseError(nested), "Expression nested too deeply in test");
  std::string long_chain = "a";
  for (int i = 0; i < 3000; ++i) long_chain += " + 1";
  EXPECT_EQ(ParseError(long_chain), "Expression nested too deeply in test");
  std::string fine = "a";
  for (int i = 0; i < 500; ++i) fine += " + 1";
  ExpTokenGuard tree(Parse(fine));
  EXPECT_EQ(ExpressionDepth(tree.get()), 501u);
}

// ---- sub-selects and parameters -------------------------------------------------------

class FakeQuery : public TSubSelectQuery {
public:
  explicit FakeQuery(TExpressionParser& parser) : parser_(parser) {}
  void ParseQuery(bool sub_select) override {
    sub_select_ = sub_select;
    // Consumes "SELECT x FROM t" and stops at the token after it.
    for (int i = 0; i < 4; ++i) parser_.NextToken();
  }
  int SelectedColumnCount() const override { return 1; }
  bool VerifySubSelectFieldData(TExpToken*) override { return true; }
  void BuildSubSelectFilter(TExpToken*) override {}
  std::int32_t GetResultRecordCount() override { return 0; }
  bool sub_select_ = false;

private:
  TExpressionParser& parser_;
};

class FakeStatement : public TExpressionOwner {
public:
  TSubSelectQuery* NewSubSelectQuery() override {
    queries.push_back(std::make_unique<FakeQuery>(*parser));
    return queries.back().get();
  }
  void AddParameter(TExpToken* node) override { params.push_back(node); }
  void RemoveParameter(TExpToken* node) override { std::erase(params, node); }
  TExpressionParser* parser = nullptr;
  std::vector<std::unique_ptr<FakeQuery>> queries;
  std::vector<TExpToken*> params;
};

TEST_F(ExprParserTest, SubSelectsGoToTheOwnersQueries) {
  FakeStatement statement;
  TExpressionParser parser(&statement);
  statement.parser = &parser;
  ExpTokenGuard tree(parser.ParseFilter("a NOT IN (SELECT x FROM t)", kAllOptions));
  ASSERT_EQ(statement.queries.size(), 1u);
  EXPECT_TRUE(statement.queries[0]->sub_select_);
  EXPECT_EQ(tree->Operator, eoNOTSUBIN);
  EXPECT_EQ(tree->Right->NodeClass, enTUPLE);
  EXPECT_EQ(tree->Right->Text, "SELECT");
  EXPECT_EQ(tree->Right->SubQuery, statement.queries[0].get());
}

TEST_F(ExprParserTest, SubSelectsNeedAnOwnerAndThePermission) {
  EXPECT_EQ(ParseError("a IN (SELECT x FROM t)"), "Sub-select queries are not allowed in test");
  FakeStatement statement;
  TExpressionParser parser(&statement);
  statement.parser = &parser;
  parser.SetErrorNumber(11949);
  parser.SetExpressionContext("WHERE clause");
  EXPECT_EQ(EngineMessage([&] { parser.ParseFilter("a IN (SELECT x FROM t)", kFilterOptions); }),
            "Sub-select queries are not allowed in WHERE clause");
}

TEST_F(ExprParserTest, ParametersAreRegisteredAndRemovedOnFailure) {
  FakeStatement statement;
  TExpressionParser parser(&statement);
  statement.parser = &parser;
  ExpTokenGuard tree(parser.ParseFilter("a = ? AND b = ?", kAllOptions));
  ASSERT_EQ(statement.params.size(), 2u);
  EXPECT_TRUE(statement.params[0]->IsParameter);
  EXPECT_EQ(statement.params[0], tree->Left->Right);
  EXPECT_NE(EngineMessage([&] { parser.ParseFilter("c = ? AND", kAllOptions); }), "");
  EXPECT_EQ(statement.params.size(), 2u);  // the failed parse's parameter is gone again
}

}  // namespace
}  // namespace korvex::testing
