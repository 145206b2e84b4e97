// Replays the expression fuzz corpus and a few thousand random inputs
// through the fuzz target's body, so that the normal build runs it too.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "fuzz/tables/expr_fuzz.h"
#include "tests/tables/lib/expr_test_support.h"

namespace korvex::testing {
namespace {

class ExprFuzzTest : public ExprTest {
protected:
  void Run(const std::string& input) {
    fuzz::FuzzExpressionInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
  }
};

TEST_F(ExprFuzzTest, Corpus) {
  std::filesystem::path dir = std::filesystem::path(QV_SOURCE_DIR) / "fuzz" / "tables" / "corpus" / "expr";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    Run(std::string(std::istreambuf_iterator<char>(in), {}));
    ++files;
  }
  EXPECT_GE(files, 10);
}

// Random sequences of the grammar's words, so that most inputs get past the
// parser and exercise the checker, the evaluator and filter preparation.
TEST_F(ExprFuzzTest, RandomTokenSequences) {
  static const std::vector<std::string> words = {
      "S", "D", "B", "SI", "I", "F", "BC", "T", "TS", "W", "M", "MO", "X", "t.S", "'S'", "[I]",
      "=", "<>", "<", ">", "<=", ">=", "+", "-", "*", "/", "||", "(", ")", "(", ")", ",",
      "AND", "OR", "NOT", "LIKE", "BETWEEN", "IN", "IS", "NULL", "TRUE", "FALSE", "?", "*",
      "0", "1", "-1", "2.5", "70000", "2147483648", "1E5", ".5", "#65", "#0", "''", "'Sm%'", "'a*'",
      "'1700-01-01'", "'10:30'", "'x y'", "UPPER(", "LOWER(", "SUBSTRING(", "FROM", "FOR", "REPLACE(",
      "WITH", "POS(", "OCCURS(", "CAST(", "AS", "VARCHAR(5)", "DECIMAL(5,2)", "INTEGER", "BOOLEAN",
      "DATE", "TIMESTAMP", "BYTES(4)", "TRIM(", "BOTH", "LEADING", "' '", "EXTRACT(", "YEAR", "DAYOFWEEK",
      "SECOND", "ABS(", "ROUND(", "TO", "IF(", "THEN", "ELSE", "SUM(", "COUNT(", "/*", "*/"};
  std::mt19937 random(20240303);
  for (int n = 0; n < 3000; ++n) {
    std::string input(1, static_cast<char>(random() & 0x7F));
    int length = 1 + static_cast<int>(random() % 14);
    for (int i = 0; i < length; ++i) input += words[random() % words.size()] + " ";
    Run(input);
  }
}

TEST_F(ExprFuzzTest, RandomBytes) {
  std::mt19937 random(7);
  for (int n = 0; n < 3000; ++n) {
    std::string input(1 + random() % 40, '\0');
    for (char& c : input) c = static_cast<char>(random() % 6 == 0 ? "()'[]#"[random() % 6] : random() % 256);
    Run(input);
  }
}

}  // namespace
}  // namespace korvex::testing
