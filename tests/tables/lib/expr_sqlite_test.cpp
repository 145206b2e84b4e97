// Differential test of filter evaluation against python3's sqlite3 module.
//
// With a fixed seed, each round makes a table of random column types, random
// records and random filter expressions, each written in this engine's
// dialect and in SQLite's. Every expression is checked, prepared as a filter
// and evaluated over every record, prepared and unprepared; the two must
// always agree. The cases go to a file that python3 evaluates with sqlite3,
// and wherever SQLite's answer is TRUE or FALSE this engine's must be the
// same.
//
// Known differences between the two dialects, and how they are kept out:
//  1. NULL logic is two-valued here: a comparison with NULL is false, NOT of
//     NULL is true, NULL = NULL is true inside IN lists. SQLite answers NULL
//     for those; records where SQLite's answer is NULL are not compared
//     (where SQLite is definite, any truth value of the unknown parts gives
//     the same answer, ours included).
//  2. The empty string is NULL here (the '' constant and an empty result of
//     SUBSTRING, TRIM and REPLACE): SQLite's side wraps them in NULLIF(.., '')
//     and no '' constant is generated.
//  3. Concatenation reads a NULL string as '', and POS and OCCURS of a NULL
//     text are 0: SQLite's side uses COALESCE.
//  4. Integer division gives a float here: SQLite's side divides REALs.
//  5. Integer arithmetic beyond 32 bits, and a word minus a number below 0,
//     raise an overflow here where SQLite computes in 64 bits: values stay
//     small and no word column stands left of '-'.
//  6. Products and quotients with BCD values round to the operands' decimals:
//     BCD values only add and subtract.
//  7. LIKE follows the table's collation, case-sensitive for the ANSI
//     language: SQLite runs with case_sensitive_like.
//  8. UPPER and LOWER map every Windows-1252 letter, SQLite's only ASCII:
//     texts are ASCII.
//  9. ROUND to n decimals works through powers of 0.1: only ROUND to whole
//     numbers is generated.
// 10. Dates are day numbers here and ISO texts in SQLite (python3 writes
//     them from the day numbers): D + n is date(D, '+n days'), D1 - D2 a
//     julianday difference, DAYOFWEEK strftime('%w') + 1.
// 11. x = NULL means IS NULL here: only IS [NOT] NULL is generated.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tables/lib/language_settings.h"
#include "tests/tables/lib/expr_test_support.h"
#include "tests/tables/lib/lib_test_support.h"

namespace korvex::testing {
namespace {

constexpr std::int64_t kFirstDay = 616896;  // python3: date(1690, 1, 1).toordinal()
constexpr std::int64_t kLastDay = 624564;   // python3: date(1710, 12, 31).toordinal()

// Both spellings of one expression.
struct Expr {
  std::string ours;
  std::string lite;
};

Expr Paren(const Expr& e) { return {"(" + e.ours + ")", "(" + e.lite + ")"}; }

class Generator {
public:
  Generator(std::mt19937& random, const std::vector<Column>& columns) : random_(random), columns_(columns) {}

  Expr Condition(int depth);

private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  // A column of one of the types, or -1.
  int ColumnOf(std::initializer_list<std::uint8_t> types);

  Expr IntegerConstant();
  Expr RealConstant();
  Expr TextConstant();
  Expr DateConstant();
  Expr Numeric(int depth, bool& has_bcd, bool& is_word);
  Expr Text(int depth);
  Expr Date();
  Expr Comparison(const Expr& a, const Expr& b);

  std::mt19937& random_;
  const std::vector<Column>& columns_;
};

int Generator::ColumnOf(std::initializer_list<std::uint8_t> types) {
  std::vector<int> found;
  for (std::size_t i = 0; i < columns_.size(); ++i)
    for (std::uint8_t t : types)
      if (columns_[i].type == t) found.push_back(static_cast<int>(i));
  return found.empty() ? -1 : found[static_cast<std::size_t>(Pick(static_cast<int>(found.size())))];
}

Expr Generator::IntegerConstant() {
  std::string n = std::to_string(Pick(41) - 20);
  return {n, n};
}

Expr Generator::RealConstant() {
  int quarters = Pick(161) - 80;
  std::ostringstream text;
  text << quarters / 4.0;
  std::string t = text.str();
  if (t.find('.') == std::string::npos) t += ".0";
  return {t, t};
}

Expr Generator::TextConstant() {
  static const char* kTexts[] = {"Smith", "Smyth", "smith", "Sm", "Jones", "Ab", "a%b", "b_c", "Zed", "x y", "S"};
  std::string t = std::string("'") + kTexts[Pick(11)] + "'";
  return {t, t};
}

Expr Generator::DateConstant() {
  static const char* kDates[] = {"1690-01-01", "1695-06-30", "1699-12-31", "1700-01-01",
                                 "1700-02-29", "1703-03-15", "1710-12-31", "1705-07-04"};
  // 1700 is no leap year in the Gregorian calendar: '1700-02-29' would be
  // refused, so it is replaced.
  std::string d = kDates[Pick(8)];
  if (d == "1700-02-29") d = "1700-02-28";
  return {"'" + d + "'", "'" + d + "'"};
}

Expr Generator::Comparison(const Expr& a, const Expr& b) {
  static const char* kOps[] = {"=", "<>", "<", ">", "<=", ">="};
  std::string op = kOps[Pick(6)];
  return {a.ours + " " + op + " " + b.ours, a.lite + " " + op + " " + b.lite};
}

Expr Generator::Numeric(int depth, bool& has_bcd, bool& is_word) {
  has_bcd = false;
  is_word = false;
  int choice = depth <= 0 ? Pick(3) : Pick(12);
  switch (choice) {
    case 0: case 1: {
      int c = ColumnOf({dtSmallInt, dtInteger, dtWord, dtFloat, dtBCD});
      if (c < 0) return IntegerConstant();
      has_bcd = columns_[static_cast<std::size_t>(c)].type == dtBCD;
      is_word = columns_[static_cast<std::size_t>(c)].type == dtWord;
      return {columns_[static_cast<std::size_t>(c)].name, columns_[static_cast<std::size_t>(c)].name};
    }
    case 2:
      return Chance(50) ? IntegerConstant() : RealConstant();
    case 3: case 4: case 5: {
      bool lb, lw, rb, rw;
      Expr a = Numeric(depth - 1, lb, lw);
      Expr b = Numeric(depth - 1, rb, rw);
      has_bcd = lb || rb;
      std::string ops = has_bcd ? "+-" : "+-*/";
      char op = ops[static_cast<std::size_t>(Pick(static_cast<int>(ops.size())))];
      if (op == '-' && lw) op = '+';  // a word minus a number may leave the word's range
      if (op == '/') return Paren({a.ours + " / " + b.ours, "CAST(" + a.lite + " AS REAL) / " + b.lite});
      return Paren({a.ours + " " + op + " " + b.ours, a.lite + " " + op + " " + b.lite});
    }
    case 6: {
      bool b, w;
      Expr a = Numeric(depth - 1, b, w);
      has_bcd = b;
      is_word = w;
      return {"ABS(" + a.ours + ")", "abs(" + a.lite + ")"};
    }
    case 7: {
      int c = ColumnOf({dtFloat, dtBCD});
      if (c < 0) return RealConstant();
      const std::string& n = columns_[static_cast<std::size_t>(c)].name;
      return {"ROUND(" + n + ")", "round(" + n + ")"};
    }
    case 8: {
      int c = ColumnOf({dtDate});
      if (c < 0) return IntegerConstant();
      const std::string& n = columns_[static_cast<std::size_t>(c)].name;
      static const char* kParts[] = {"YEAR", "MONTH", "DAY", "DAYOFWEEK"};
      static const char* kFormats[] = {"%Y", "%m", "%d", "%w"};
      int part = Pick(4);
      std::string lite = "CAST(strftime('" + std::string(kFormats[part]) + "', " + n + ") AS INTEGER)";
      if (part == 3) lite = "(" + lite + " + 1)";
      return {"EXTRACT(" + std::string(kParts[part]) + " FROM " + n + ")", lite};
    }
    case 9: {
      int c = ColumnOf({dtString});
      if (c < 0) return IntegerConstant();
      const std::string& n = columns_[static_cast<std::size_t>(c)].name;
      static const char* kFinds[] = {"m", "S", "th", "b", "z"};
      std::string f = kFinds[Pick(5)];
      if (Chance(50)) return {"POS('" + f + "' IN " + n + ")", "COALESCE(instr(" + n + ", '" + f + "'), 0)"};
      return {"OCCURS('" + f + "' IN " + n + ")",
              "COALESCE((length(" + n + ") - length(replace(" + n + ", '" + f + "', ''))) / " +
                  std::to_string(f.size()) + ", 0)"};
    }
    case 10: {
      int a = ColumnOf({dtDate}), b = ColumnOf({dtDate});
      if (a < 0) return IntegerConstant();
      const std::string& x = columns_[static_cast<std::size_t>(a)].name;
      const std::string& y = columns_[static_cast<std::size_t>(b)].name;
      return Paren({x + " - " + y, "CAST(julianday(" + x + ") - julianday(" + y + ") AS INTEGER)"});
    }
    default: {
      Expr c = Condition(0);
      std::string one = std::to_string(Pick(5)), two = std::to_string(Pick(5));
      return {"IF(" + c.ours + " THEN " + one + " ELSE " + two + ")",
              "CASE WHEN " + c.lite + " THEN " + one + " ELSE " + two + " END"};
    }
  }
}

Expr Generator::Text(int depth) {
  int c = ColumnOf({dtString});
  if (c < 0 || Pick(6) == 0) return TextConstant();
  const std::string n = columns_[static_cast<std::size_t>(c)].name;
  switch (depth <= 0 ? 0 : Pick(7)) {
    case 1: return {"UPPER(" + n + ")", "upper(" + n + ")"};
    case 2: return {"LOWER(" + n + ")", "lower(" + n + ")"};
    case 3: {
      int from = 1 + Pick(4), count = 1 + Pick(3);
      if (Chance(50))
        return {"SUBSTRING(" + n + " FROM " + std::to_string(from) + ")",
                "NULLIF(substr(" + n + ", " + std::to_string(from) + "), '')"};
      return {"SUBSTRING(" + n + " FROM " + std::to_string(from) + " FOR " + std::to_string(count) + ")",
              "NULLIF(substr(" + n + ", " + std::to_string(from) + ", " + std::to_string(count) + "), '')"};
    }
    case 4: {
      const char* ch = Chance(50) ? "S" : "h";
      return {"TRIM(BOTH '" + std::string(ch) + "' FROM " + n + ")",
              "NULLIF(trim(" + n + ", '" + std::string(ch) + "'), '')"};
    }
    case 5: {
      Expr other = Text(0);
      return {n + " || " + other.ours, "(COALESCE(" + n + ", '') || COALESCE(" + other.lite + ", ''))"};
    }
    case 6:
      return {"REPLACE('m' WITH 'M' IN " + n + ")", "NULLIF(replace(" + n + ", 'm', 'M'), '')"};
    default:
      return {n, n};
  }
}

Expr Generator::Date() {
  int c = ColumnOf({dtDate});
  if (c < 0) return DateConstant();
  const std::string& n = columns_[static_cast<std::size_t>(c)].name;
  if (Chance(70)) return {n, n};
  int days = Pick(61) - 30;
  std::string shift = (days >= 0 ? "+" : "") + std::to_string(days);
  return Paren({n + " + " + std::to_string(days), "date(" + n + ", '" + shift + " days')"});
}

Expr Generator::Condition(int depth) {
  int choice = depth <= 0 ? Pick(9) : Pick(12);
  bool b, w;
  switch (choice) {
    case 0: case 1: {
      Expr a = Numeric(2, b, w), c = Numeric(1, b, w);
      return Paren(Comparison(a, c));
    }
    case 2: {
      Expr a = Text(1), c = Chance(50) ? TextConstant() : Text(1);
      return Paren(Comparison(a, c));
    }
    case 3: {
      Expr a = Date(), c = Chance(60) ? DateConstant() : Date();
      return Paren(Comparison(a, c));
    }
    case 4: {
      int col = ColumnOf({dtSmallInt, dtInteger, dtWord, dtFloat, dtBCD, dtDate});
      if (col < 0) return Condition(0);
      const std::string& n = columns_[static_cast<std::size_t>(col)].name;
      bool date = columns_[static_cast<std::size_t>(col)].type == dtDate;
      Expr low = date ? DateConstant() : (Chance(50) ? IntegerConstant() : RealConstant());
      Expr high = date ? DateConstant() : (Chance(50) ? IntegerConstant() : RealConstant());
      std::string op = Chance(30) ? " NOT BETWEEN " : " BETWEEN ";
      return Paren({n + op + low.ours + " AND " + high.ours, n + op + low.lite + " AND " + high.lite});
    }
    case 5: {
      int col = ColumnOf({dtSmallInt, dtInteger, dtWord, dtFloat, dtBCD, dtString, dtDate});
      if (col < 0) return Condition(0);
      const Column& column = columns_[static_cast<std::size_t>(col)];
      std::string ours = column.name + (Chance(30) ? " NOT IN (" : " IN ("), lite = ours;
      int count = 1 + Pick(4);
      for (int i = 0; i < count; ++i) {
        Expr v = column.type == dtString ? TextConstant()
                 : column.type == dtDate ? DateConstant()
                 : Pick(8) == 0         ? Expr{"NULL", "NULL"}
                 : Chance(50)           ? IntegerConstant()
                                        : RealConstant();
        ours += (i ? ", " : "") + v.ours;
        lite += (i ? ", " : "") + v.lite;
      }
      return Paren({ours + ")", lite + ")"});
    }
    case 6: {
      int col = ColumnOf({dtString});
      if (col < 0) return Condition(0);
      static const char* kPatterns[] = {"Sm%", "%th", "S_i%", "%m%", "_", "%", "Jones", "a%b", "%_c", "Sm_th"};
      const std::string& n = columns_[static_cast<std::size_t>(col)].name;
      std::string op = Chance(30) ? " NOT LIKE '" : " LIKE '";
      std::string pattern = kPatterns[Pick(10)];
      return Paren({n + op + pattern + "'", n + op + pattern + "'"});
    }
    case 7: {
      const std::string& n = columns_[static_cast<std::size_t>(Pick(static_cast<int>(columns_.size())))].name;
      std::string op = Chance(50) ? " IS NULL" : " IS NOT NULL";
      return Paren({n + op, n + op});
    }
    case 8: {
      int col = ColumnOf({dtBoolean});
      if (col < 0) return Condition(0);
      const std::string& n = columns_[static_cast<std::size_t>(col)].name;
      switch (Pick(3)) {
        case 0: return {n, "(" + n + " <> 0)"};
        case 1: return Paren({n + " = TRUE", n + " = 1"});
        default: return Paren({n + " = FALSE", n + " = 0"});
      }
    }
    case 9: {
      Expr a = Condition(depth - 1);
      return {"NOT " + Paren(a).ours, "NOT " + Paren(a).lite};
    }
    default: {
      Expr a = Condition(depth - 1), c = Condition(depth - 1);
      std::string op = choice == 10 ? " AND " : " OR ";
      return Paren({a.ours + op + c.ours, a.lite + op + c.lite});
    }
  }
}

// ---- records ---------------------------------------------------------------------------

Cell RandomCell(std::mt19937& random, std::uint8_t type) {
  if (random() % 100 < 15) return {};
  static const char* kTexts[] = {"Smith", "Smyth", "smith", "SMITH", "Sm", "Jones", "Ab", "a%b", "b_c", "Zed", "x y",
                                 "Smithson", "S", "mm"};
  switch (type) {
    case dtString: return std::string(kTexts[random() % 14]);
    case dtSmallInt: return std::int64_t{static_cast<int>(random() % 101) - 50};
    case dtInteger: return std::int64_t{static_cast<int>(random() % 201) - 100};
    case dtWord: return static_cast<std::int64_t>(random() % 61);
    case dtFloat: return (static_cast<int>(random() % 161) - 80) / 4.0;
    case dtBCD: {
      std::int64_t cents = (static_cast<std::int64_t>(random() % 161) - 80) * 25;  // quarters, in hundredths
      return cents * 10 + (cents < 0 ? -2 : 2);  // the stored form at 2 decimals
    }
    case dtBoolean: return static_cast<std::int64_t>(random() % 2);
    default: return std::int64_t{kFirstDay + static_cast<std::int64_t>(random() % (kLastDay - kFirstDay + 1))};
  }
}

// The value as python reads it from the case file.
std::string CellText(const Cell& cell, std::uint8_t type) {
  if (std::holds_alternative<std::monostate>(cell)) return "\\N";
  if (const auto* s = std::get_if<std::string>(&cell)) return *s;
  if (const auto* d = std::get_if<double>(&cell)) {
    std::ostringstream out;
    out.precision(17);
    out << *d;
    return out.str();
  }
  std::int64_t n = std::get<std::int64_t>(cell);
  if (type == dtBCD) {
    std::int64_t digits = n / 10;  // hundredths
    std::ostringstream out;
    out.precision(17);
    out << static_cast<double>(digits) / 100.0;
    return out.str();
  }
  return std::to_string(n);
}

// Evaluates the cases with sqlite3: one line of T, F and N per expression.
const char* kSqliteScript = QV_SOURCE_DIR "/tests/tables/sqlite_cases.py";

char KindLetter(std::uint8_t type) {
  switch (type) {
    case dtString: return 'S';
    case dtFloat: case dtBCD: return 'F';
    case dtDate: return 'D';
    default: return 'I';
  }
}

class ExprSqliteTest : public ExprTest {};

TEST_F(ExprSqliteTest, FiltersAgreeWithSqlite) {
  ASSERT_TRUE(HaveProgram("python3"));
  LanguageSettingsScope ansi(0, 0);  // dates read as yyyy-mm-dd
  std::mt19937 random(1700);
  const std::uint8_t kTypes[] = {dtString, dtSmallInt, dtInteger, dtWord, dtFloat, dtBCD, dtBoolean, dtDate};
  int compared = 0, skipped = 0;

  for (int round = 0; round < 3; ++round) {
    std::vector<Column> columns;
    for (int i = 0; i < 8; ++i) {
      std::uint8_t type = i == 0 ? std::uint8_t{dtString} : i == 1 ? std::uint8_t{dtDate} : kTypes[random() % 8];
      columns.push_back({"C" + std::to_string(i), type, type == dtString ? 21 : 0,
                         static_cast<std::uint8_t>(type == dtBCD ? 2 : 0)});
    }
    Table table(columns);
    std::vector<Record> records(80);
    for (Record& record : records)
      for (const Column& column : columns) record.push_back(RandomCell(random, column.type));

    Generator generator(random, columns);
    std::vector<Expr> expressions;
    for (int i = 0; i < 200; ++i) expressions.push_back(generator.Condition(3));

    // This engine's answers, prepared and unprepared.
    std::vector<std::string> ours;
    for (const Expr& e : expressions) {
      std::string answers;
      try {
        ExpTokenGuard tree(Checked(table, e.ours, kFilterOptions));
        ExpTokenGuard prepared(BuildNextFilterExpression(tree.get(), &table, Table::Value, {}, false, true));
        for (const Record& record : records) {
          ExpTokenGuard plain(EvaluateExpressionToken(tree.get(), &record, &table, Table::Value, {}));
          ExpTokenGuard fast(EvaluateExpressionToken(prepared.get(), &record, &table, Table::Value, {}));
          EXPECT_EQ(IsTrue(plain.get()), IsTrue(fast.get())) << e.ours;
          answers += IsTrue(plain.get()) ? 'T' : 'F';
        }
      } catch (const EKORVEXEngineError& error) {
        ADD_FAILURE() << e.ours << ": " << error.Message();
        answers.assign(records.size(), '?');
      }
      ours.push_back(answers);
    }

    ScratchDir dir;
    std::ostringstream cases;
    cases << "COLUMNS";
    for (const Column& column : columns) cases << '\t' << column.name << ':' << KindLetter(column.type);
    cases << '\n';
    for (std::size_t r = 0; r < records.size(); ++r) {
      cases << "ROW\t" << r;
      for (std::size_t c = 0; c < columns.size(); ++c) cases << '\t' << CellText(records[r][c], columns[c].type);
      cases << '\n';
    }
    for (const Expr& e : expressions) cases << "EXPR\t" << e.lite << '\n';
    std::string case_file = dir.File("cases.txt");
    WriteFileBytes(case_file, cases.str());
    std::istringstream output(RunCommand("python3 '" + std::string(kSqliteScript) + "' '" + case_file + "'"));

    for (std::size_t i = 0; i < expressions.size(); ++i) {
      std::string line;
      ASSERT_TRUE(std::getline(output, line)) << "python3 gave no answer for " << expressions[i].lite;
      ASSERT_EQ(line.size(), records.size()) << expressions[i].lite << ": " << line;
      for (std::size_t r = 0; r < records.size(); ++r) {
        if (line[r] == 'N') {
          ++skipped;
          continue;
        }
        ++compared;
        EXPECT_EQ(ours[i][r], line[r]) << "record " << r << " of round " << round << "\n  ours:   " << expressions[i].ours
                                       << "\n  sqlite: " << expressions[i].lite;
      }
    }
  }
  // Most answers are definite, so the comparison covers most of the cases.
  EXPECT_GT(compared, 2 * skipped);
  RecordProperty("compared", compared);
  RecordProperty("skipped", skipped);
}

}  // namespace
}  // namespace korvex::testing
