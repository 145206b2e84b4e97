// Differential test of table filters against python3's sqlite3 module.
//
// Each round makes a table of every comparable type with blanks, some
// indexes on random columns (unique or not, ascending or descending, case-
// insensitive or not), and runs scenarios of one to three filters at once
// (narrowing ones placed after the rest), sometimes with a record callback
// and a key range. The records a scenario leaves visible must be the same
// with the table's indexes, without them, and with every node forced to be
// evaluated record by record; and where SQLite's answer for a record is
// definite they must be SQLite's.
//
// The dialect differences of the expression tests apply: NULL logic is
// two-valued here (records where SQLite answers NULL are not compared), the
// empty string is blank (no '' constant), LIKE is case-sensitive (SQLite
// runs with case_sensitive_like), texts are ASCII, x = NULL is written IS
// NULL. A partial compare 'Sm*' is SQLite's substr(c, 1, 2) = 'Sm', and a
// case-insensitive filter's string equality compares upper(..) on both sides.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "support/run_command.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/support.h"
#include "tests/tables/engine/filter_table_support.h"

namespace korvex::testing {
namespace {

constexpr std::int64_t kFirstDay = 616896;  // python3: date(1690, 1, 1).toordinal()

struct Expr {
  std::string ours, lite;
};

struct ColumnSpec {
  std::string name;
  std::uint8_t type;
  std::uint8_t size;
};

const std::vector<ColumnSpec>& Columns() {
  static const std::vector<ColumnSpec> columns = {
      {"S", dtString, 12}, {"N", dtString, 12}, {"I", dtInteger, 0}, {"SI", dtSmallInt, 0}, {"W", dtWord, 0},
      {"F", dtFloat, 0},   {"BC", dtBCD, 0},    {"B", dtBoolean, 0}, {"D", dtDate, 0},      {"U", dtInteger, 0}};
  return columns;
}
constexpr int kUnique = 9;  // U: distinct, never blank

const char* const kTexts[] = {"Smith", "Smyth", "smith", "SMITH", "Sm", "Jones", "jones", "Ab", "S", "Zed", "x y"};

class Generator {
public:
  explicit Generator(std::mt19937& random) : random_(random) {}
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }

  FilterCell Cell(int column) {
    const ColumnSpec& c = Columns()[static_cast<std::size_t>(column)];
    if (column != kUnique && Chance(15)) return std::monostate{};
    switch (c.type) {
      case dtString: return std::string(kTexts[Pick(11)]);
      case dtFloat: return (Pick(25) - 12) / 4.0;
      case dtBoolean: return std::int64_t{Pick(2)};
      case dtWord: return std::int64_t{Pick(13)};
      case dtDate: return kFirstDay + 30 * Pick(12);
      default: return std::int64_t{Pick(13) - 6};  // BCD: quarters
    }
  }

  Expr Constant(int column) {
    const ColumnSpec& c = Columns()[static_cast<std::size_t>(column)];
    std::string t;
    switch (c.type) {
      case dtString:
        t = std::string("'") + kTexts[Pick(11)] + "'";
        return {t, t};
      case dtFloat: case dtBCD: {
        std::ostringstream s;
        s << (Pick(29) - 14) / 4.0;
        t = s.str();
        if (c.type == dtFloat && t.find('.') == std::string::npos && Chance(50)) t += ".0";
        return {t, t};
      }
      case dtBoolean:
        return Chance(50) ? Expr{"TRUE", "1"} : Expr{"FALSE", "0"};
      case dtWord:
        t = std::to_string(Pick(15));
        return {t, t};
      case dtDate: {
        // Days that records hold and days between them.
        const std::int64_t day = kFirstDay + 15 * Pick(24);
        t = DateText(day);
        return {"'" + t + "'", "'" + t + "'"};
      }
      default:
        if (Chance(10)) return {"2.5", "2.5"};  // not an integer: evaluated record by record
        t = std::to_string(Pick(15) - 7);
        return {t, t};
    }
  }

  Expr Leaf(bool case_insensitive) {
    int column = Pick(static_cast<int>(Columns().size()));
    if (!preferred.empty() && Chance(60)) column = preferred[static_cast<std::size_t>(Pick(static_cast<int>(preferred.size())))];
    const ColumnSpec& c = Columns()[static_cast<std::size_t>(column)];
    const std::string& n = c.name;
    static const char* kOps[] = {"=", "<>", "<", ">", "<=", ">="};
    const bool text = c.type == dtString;
    int shape = Pick(text ? 9 : 6);
    const bool boolean = c.type == dtBoolean;  // only = and <> compare booleans
    if (boolean && (shape == 2 || shape == 3)) shape = 4;
    auto pick_op = [&] { return std::string(kOps[boolean ? Pick(2) : Pick(6)]); };
    auto string_equality = [&](const std::string& left, const std::string& op, const Expr& k) {
      if (case_insensitive && text && (op == "=" || op == "<>"))
        return "upper(" + left + ") " + op + " upper(" + k.lite + ")";
      return left + " " + op + " " + k.lite;
    };
    switch (shape) {
      case 0: case 1: {
        std::string op = pick_op();
        Expr k = Constant(column);
        return {n + " " + op + " " + k.ours, string_equality(n, op, k)};
      }
      case 2: {  // constant first
        std::string op = kOps[Pick(6)];
        Expr k = Constant(column);
        return {k.ours + " " + op + " " + n, case_insensitive && text && (op == "=" || op == "<>")
                                                 ? "upper(" + k.lite + ") " + op + " upper(" + n + ")"
                                                 : k.lite + " " + op + " " + n};
      }
      case 3: {
        Expr a = Constant(column), b = Constant(column);
        std::string no = Chance(30) ? "NOT " : "";
        return {n + " " + no + "BETWEEN " + a.ours + " AND " + b.ours,
                n + " " + no + "BETWEEN " + a.lite + " AND " + b.lite};
      }
      case 4: {
        Expr a = Constant(column), b = Constant(column), d = Constant(column);
        std::string no = Chance(30) ? "NOT " : "";
        return {n + " " + no + "IN (" + a.ours + ", " + b.ours + ", " + d.ours + ")",
                n + " " + no + "IN (" + a.lite + ", " + b.lite + ", " + d.lite + ")"};
      }
      case 5:
        return Chance(50) ? Expr{n + " IS NULL", n + " IS NULL"} : Expr{n + " IS NOT NULL", n + " IS NOT NULL"};
      case 6: {
        static const char* kPrefixes[] = {"Sm", "S", "jo", "SM", "Smi"};
        std::string p = kPrefixes[Pick(5)];
        std::string no = Chance(30) ? "NOT " : "";
        return {n + " " + no + "LIKE '" + p + "%'", n + " " + no + "LIKE '" + p + "%'"};
      }
      case 7: {
        static const char* kUpper[] = {"'SMITH'", "'JONES'", "'SM'", "'Smith'"};
        std::string k = kUpper[Pick(4)];
        std::string op = kOps[Pick(6)];
        Expr key{k, k};
        return {"UPPER(" + n + ") " + op + " " + k, string_equality("upper(" + n + ")", op, key)};
      }
      default: {  // partial compare
        static const char* kPrefixes[] = {"Sm", "S", "jo", "SM", "Smi"};
        std::string p = kPrefixes[Pick(5)];
        std::string op = Chance(70) ? "=" : "<>";
        std::string left = "substr(" + n + ", 1, " + std::to_string(p.size()) + ")";
        std::string lite = case_insensitive ? "upper(" + left + ") " + op + " upper('" + p + "')"
                                            : left + " " + op + " '" + p + "'";
        return {n + " " + op + " '" + p + "*'", lite};
      }
    }
  }

  Expr Condition(int depth, bool case_insensitive) {
    if (depth <= 0 || Chance(35)) return Leaf(case_insensitive);
    const int kind = Pick(5);
    Expr a = Condition(depth - 1, case_insensitive);
    if (kind == 4) return {"NOT (" + a.ours + ")", "NOT (" + a.lite + ")"};
    Expr b = Condition(depth - 1, case_insensitive);
    std::string op = kind < 2 ? "AND" : "OR";
    return {"(" + a.ours + ") " + op + " (" + b.ours + ")", "(" + a.lite + ") " + op + " (" + b.lite + ")"};
  }

  static std::string DateText(std::int64_t ordinal);
  std::vector<int> preferred;  // columns that lead an index

private:
  std::mt19937& random_;
};

// Proleptic Gregorian date of a python ordinal.
std::string Generator::DateText(std::int64_t ordinal) {
  std::int64_t n = ordinal - 1;
  std::int64_t n400 = n / 146097, r = n % 146097;
  std::int64_t n100 = r / 36524;
  r %= 36524;
  std::int64_t n4 = r / 1461;
  r %= 1461;
  std::int64_t n1 = r / 365;
  r %= 365;
  std::int64_t year = n400 * 400 + n100 * 100 + n4 * 4 + n1 + 1;
  if (n1 == 4 || n100 == 4) return std::to_string(year - 1) + "-12-31";
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  while (r >= days[month]) r -= days[month++];
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02lld", static_cast<long long>(year), month + 1,
                static_cast<long long>(r + 1));
  return text;
}


char KindLetter(std::uint8_t type) {
  switch (type) {
    case dtString: return 'S';
    case dtFloat: case dtBCD: return 'F';
    case dtDate: return 'D';
    default: return 'I';
  }
}

std::string CellText(const FilterCell& cell, std::uint8_t type) {
  if (std::holds_alternative<std::monostate>(cell)) return "\\N";
  if (const auto* s = std::get_if<std::string>(&cell)) return *s;
  if (const auto* d = std::get_if<double>(&cell)) {
    std::ostringstream out;
    out << *d;
    return out.str();
  }
  const std::int64_t v = std::get<std::int64_t>(cell);
  if (type == dtBCD) {
    std::ostringstream out;
    out << v / 4.0;
    return out.str();
  }
  return std::to_string(v);
}

// SQLite's answer for every record (in order) and text: T, F or N (NULL).
std::map<std::string, std::string> SqliteAnswers(const qvtest::TempDir& dir,
                                                 const std::vector<std::vector<FilterCell>>& cells,
                                                 const std::vector<Expr>& texts) {
  std::ostringstream cases;
  cases << "COLUMNS";
  for (const ColumnSpec& c : Columns()) cases << '\t' << c.name << ':' << KindLetter(c.type);
  cases << '\n';
  for (std::size_t r = 0; r < cells.size(); ++r) {
    cases << "ROW\t" << r;
    for (std::size_t c = 0; c < Columns().size(); ++c) cases << '\t' << CellText(cells[r][c], Columns()[c].type);
    cases << '\n';
  }
  for (const Expr& e : texts) cases << "EXPR\t" << e.lite << '\n';
  const std::string case_file = dir.File("cases.txt");
  qvtest::WriteFileBytes(case_file, cases.str());
  std::istringstream output(qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tests/tables/sqlite_cases.py' '" + case_file + "'").output);
  std::map<std::string, std::string> lite;
  for (const Expr& e : texts) {
    std::string line;
    if (!std::getline(output, line)) break;
    EXPECT_EQ(line.size(), cells.size()) << e.lite << ": " << line;
    if (line.size() == cells.size()) lite[e.lite] = line;
  }
  return lite;
}

// Whether record r passes every filter in SQLite's eyes: 'T', 'F', or 'N'
// when that is not definite.
char SqliteVerdict(const std::map<std::string, std::string>& lite, const std::vector<Expr>& filters, std::size_t r) {
  bool unknown = false;
  for (const Expr& e : filters) {
    const char answer = lite.at(e.lite)[r];
    if (answer == 'F') return 'F';
    if (answer != 'T') unknown = true;
  }
  return unknown ? 'N' : 'T';
}

struct FilterDraw {
  Expr text;
  TFilterFlags options;
};

struct Scenario {
  std::vector<FilterDraw> filters;
  bool callback = false;  // records whose ID is not a multiple of 3
  int range_slot = -1;    // a key range on this slot, between two records' keys
  std::uint32_t range_from = 0, range_to = 0;
};

class FilterSqliteTest : public ::testing::Test {
protected:
  void SetUp() override { InitializeSupportFunctions(); }
};

TEST_F(FilterSqliteTest, VisibleRecordsAgreeWithSqliteWithAndWithoutIndexes) {
  ASSERT_EQ(std::system("python3 -c 'import sqlite3' 2>/dev/null"), 0);
  LanguageSettingsScope ansi(0, 0);
  std::mt19937 random(2323);
  Generator gen(random);
  int compared = 0, skipped = 0, optimised = 0, scenarios_run = 0;
  std::map<int, int> levels;

  for (int round = 0; round < 8; ++round) {
    qvtest::TempDir dir;
    std::vector<TFieldDefinition> fields;
    for (const ColumnSpec& c : Columns()) fields.push_back(Field(c.name, c.type, c.size, 0, c.type == dtBCD ? 2 : 0));
    AssignLayout(fields);
    std::filesystem::create_directories(dir.File("p"));
    IndexTable probe(dir.File("p"), fields, {}, {}, {});  // only for definitions
    std::vector<TIndexDefinition> secondaries;
    const int index_count = round == 0 ? 0 : 1 + gen.Pick(4);
    gen.preferred.clear();
    for (int i = 0; i < index_count; ++i) {
      int column = gen.Pick(static_cast<int>(Columns().size()));
      std::vector<std::uint16_t> numbers{static_cast<std::uint16_t>(column + 1)};
      if (gen.Chance(30)) numbers.push_back(static_cast<std::uint16_t>(gen.Pick(static_cast<int>(Columns().size())) + 1));
      TIndexDefinition d = probe.Definition("X" + std::to_string(i), numbers, column == kUnique && gen.Chance(70),
                                            gen.Chance(35));
      d.CaseInsensitive = gen.Chance(50);
      gen.preferred.push_back(column);
      secondaries.push_back(d);
    }
    TIndexDefinition primary;
    if (gen.Chance(30)) primary = probe.Definition("", {static_cast<std::uint16_t>(kUnique + 1)}, true);
    std::filesystem::create_directories(dir.File("t"));
    IndexTable table(dir.File("t"), fields, {}, primary, secondaries);

    // Records: U distinct; about a tenth deleted afterwards.
    std::vector<std::vector<FilterCell>> cells;
    std::vector<std::uint32_t> numbers;
    std::vector<int> order(300);
    for (int i = 0; i < 300; ++i) order[i] = i - 150;
    std::shuffle(order.begin(), order.end(), random);
    const int record_count = 120 + gen.Pick(80);
    for (int r = 0; r < record_count; ++r) {
      std::vector<FilterCell> row;
      for (std::size_t c = 0; c < Columns().size(); ++c)
        row.push_back(static_cast<int>(c) == kUnique ? FilterCell{std::int64_t{order[r]}} : gen.Cell(static_cast<int>(c)));
      std::vector<std::uint8_t> record = MakeRecord(table, row);
      std::uint32_t number = 0;
      ASSERT_TRUE(table.AddRecord(record, number));
      cells.push_back(row);
      numbers.push_back(number);
    }
    std::set<std::uint32_t> deleted;
    for (int r = 0; r < record_count / 10; ++r) {
      std::uint32_t n = numbers[static_cast<std::size_t>(gen.Pick(record_count))];
      if (deleted.insert(n).second) table.DeleteRecord(n);
    }
    const std::uint32_t physical = table.data->GetPhysicalRecordsUsed();

    // Scenarios.
    std::vector<Scenario> scenarios(40);
    std::vector<Expr> texts;
    for (Scenario& s : scenarios) {
      const int count = 1 + gen.Pick(3);
      for (int f = 0; f < count; ++f) {
        FilterDraw draw;
        draw.options.CaseInsensitive = gen.Chance(30);
        draw.options.Narrowing = gen.Chance(30);
        draw.options.Complement = gen.Chance(60);
        draw.text = gen.Condition(2, draw.options.CaseInsensitive);
        s.filters.push_back(draw);
        texts.push_back(draw.text);
      }
      s.callback = gen.Chance(20);
      const auto slots = table.Slots();
      if (gen.Chance(25) && slots.size() > 1) {
        s.range_slot = slots[static_cast<std::size_t>(gen.Pick(static_cast<int>(slots.size()) - 1))];
        if (s.range_slot == kSystemSlot) s.range_slot = -1;
        s.range_from = numbers[static_cast<std::size_t>(gen.Pick(record_count))];
        s.range_to = numbers[static_cast<std::size_t>(gen.Pick(record_count))];
      }
    }

    std::map<std::string, std::string> lite = SqliteAnswers(dir, cells, texts);
    for (const Expr& e : texts) ASSERT_TRUE(lite.count(e.lite)) << "python3 gave no answer for " << e.lite;

    TableSource with(table, true), without(table, false);
    for (const Scenario& s : scenarios) {
      ++scenarios_run;
      // The range's bounds: the two records' keys, in the index's order.
      TFilterRange range;
      std::set<std::uint32_t> in_range;
      if (s.range_slot >= 0) {
        const auto slot = static_cast<std::uint8_t>(s.range_slot);
        range.Slot = slot;
        range.Low = table.Key(slot, table.ReadRecord(s.range_from));
        range.High = table.Key(slot, table.ReadRecord(s.range_to));
        const TKeyComparator& compare = table.Comparator(slot);
        const std::uint16_t size = table.index->GetIndexDefinition(slot).KeySize;
        if (compare.CompareKeys(range.Low.data(), range.High.data(), size) > 0) std::swap(range.Low, range.High);
        range.LowLength = range.HighLength = size;
        for (std::uint32_t n : numbers) {
          if (deleted.count(n)) continue;
          std::vector<std::uint8_t> key = table.Key(slot, table.ReadRecord(n));
          if (compare.CompareKeys(range.Low.data(), key.data(), size) <= 0 &&
              compare.CompareKeys(key.data(), range.High.data(), size) <= 0)
            in_range.insert(n);
        }
      }
      auto id_of = [&](std::uint32_t n) { return static_cast<std::int64_t>(n); };
      auto run = [&](TableSource& source, bool forced, bool use_range, std::vector<std::uint8_t>* levels_out) {
        TFilterSet set(source);
        set.SetForceRecordByRecord(forced);
        if (use_range && s.range_slot >= 0) set.SetRange(&range);
        for (const FilterDraw& draw : s.filters) {
          TFilter* f = set.AddFilter(0, draw.text.ours, nullptr, false, nullptr, draw.options);
          if (levels_out) levels_out->push_back(f->Level());
        }
        if (s.callback)
          set.AddFilter(7, {}, nullptr, false, [&](const std::uint8_t*, std::uint32_t n) { return id_of(n) % 3 != 0; },
                        {true, true, false, false});
        if (!use_range && s.range_slot >= 0)
          set.AddFilter(8, {}, nullptr, false, [&](const std::uint8_t*, std::uint32_t n) { return in_range.count(n) > 0; },
                        {});
        set.ActivateAllFilters();
        std::vector<std::uint32_t> visible = Visible(set, physical);
        EXPECT_EQ(set.FilteredCount(), visible.size());
        return visible;
      };
      std::vector<std::uint8_t> filter_levels;
      std::vector<std::uint32_t> indexed, scanned, forced;
      try {
        indexed = run(with, false, true, &filter_levels);
        forced = run(with, true, true, nullptr);
        scanned = run(without, false, false, nullptr);
      } catch (const EKORVEXEngineError& error) {
        std::string all;
        for (const FilterDraw& draw : s.filters) all += draw.text.ours + " ; ";
        ADD_FAILURE() << all << error.Message();
        continue;
      }
      for (std::uint8_t level : filter_levels) {
        ++levels[level];
        if (level != olNone) ++optimised;
      }
      std::string all;
      for (const FilterDraw& draw : s.filters)
        all += draw.text.ours + (draw.options.CaseInsensitive ? " [ci]" : "") + (draw.options.Narrowing ? " [n]" : "") +
               (draw.options.Complement ? " [c]" : "") + " ; ";
      all += " range slot " + std::to_string(s.range_slot) + (s.callback ? " callback" : "");
      EXPECT_EQ(indexed, forced) << all;
      EXPECT_EQ(indexed, scanned) << all;

      std::set<std::uint32_t> seen(indexed.begin(), indexed.end());
      for (std::size_t r = 0; r < numbers.size(); ++r) {
        const std::uint32_t n = numbers[r];
        bool expected = !deleted.count(n);
        bool definite = true;
        if (expected && s.callback && id_of(n) % 3 == 0) expected = false;
        if (expected && s.range_slot >= 0 && !in_range.count(n)) expected = false;
        bool any_unknown = false;
        for (const FilterDraw& draw : s.filters) {
          const char answer = lite[draw.text.lite][r];
          if (answer == 'F') expected = false;
          if (answer == 'N' || answer == 'E' || answer == '?') any_unknown = true;
        }
        if (expected && any_unknown) definite = false;
        if (!definite) {
          ++skipped;
          continue;
        }
        ++compared;
        EXPECT_EQ(seen.count(n) > 0, expected) << "record " << r << " of round " << round << ": " << all;
      }
    }
  }
  EXPECT_GT(compared, 2 * skipped);
  EXPECT_GT(optimised, 100);
  RecordProperty("compared", compared);
  RecordProperty("skipped", skipped);
  RecordProperty("optimised_filters", optimised);
  std::cout << "compared " << compared << " skipped " << skipped << " scenarios " << scenarios_run << " levels none/partial/full "
            << levels[0] << "/" << levels[1] << "/" << levels[2] << "\n";
}

// The same at the cursor: a table with indexes and one without, the same
// records (a tenth deleted); each scenario walks one order (physical or an
// index, with or without a range of that index) with GetNextRecord.
TEST_F(FilterSqliteTest, CursorWalksShowSqlitesRecordsWithAndWithoutIndexes) {
  ASSERT_EQ(std::system("python3 -c 'import sqlite3' 2>/dev/null"), 0);
  LanguageSettingsScope ansi(0, 0);
  std::mt19937 random(4747);
  Generator gen(random);
  int compared = 0, walks = 0, ranged = 0;
  for (int round = 0; round < 4; ++round) {
    qvtest::TempDir dir;
    TDataSession session;
    session.Timing.InternalSleepMs = 1;
    TDataDirectory* folder = session.OpenDataDirectory("data", dir.Path());
    std::vector<TFieldDefinition> fields;
    for (const ColumnSpec& c : Columns()) fields.push_back(Field(c.name, c.type, c.size, 0, c.type == dtBCD ? 2 : 0));
    TTableCreation with, plain;
    with.Indexes.push_back(TIndexDefinition{});
    plain.Indexes.push_back(TIndexDefinition{});
    gen.preferred.clear();
    for (int i = 0, n = 2 + gen.Pick(3); i < n; ++i) {
      const int column = gen.Pick(static_cast<int>(Columns().size()));
      TIndexDefinition d;
      d.Name = "X" + std::to_string(i);
      d.Fields[0] = static_cast<std::uint16_t>(column + 1);
      d.FieldCount = 1;
      d.Unique = column == kUnique && gen.Chance(70);
      d.Descending = gen.Chance(35);
      d.CaseInsensitive = gen.Chance(50);
      with.Indexes.push_back(d);
      gen.preferred.push_back(column);
    }
    with.IndexCount = static_cast<std::uint8_t>(with.Indexes.size() - 1);
    auto open = [&](const char* name, TTableCreation& creation) {
      auto c = std::make_unique<TDataCursor>(folder);
      c->SetTableName(name);
      c->SetExclusive(true);
      std::vector<TFieldDefinition> f = fields;
      c->CreateTable(creation, f);
      c->OpenCursor();
      return c;
    };
    auto a = open("a", with);
    auto b = open("b", plain);
    std::vector<TFieldDefinition> layout;
    for (int i = 1; i <= a->GetFieldCount(); ++i) layout.push_back(a->GetFieldDefinitionByPos(i));

    std::vector<std::vector<FilterCell>> cells;
    const int record_count = 150;
    std::vector<int> order(300);
    for (int i = 0; i < 300; ++i) order[static_cast<std::size_t>(i)] = i - 150;
    std::shuffle(order.begin(), order.end(), random);
    for (int r = 0; r < record_count; ++r) {
      std::vector<FilterCell> row;
      for (std::size_t c = 0; c < Columns().size(); ++c)
        row.push_back(static_cast<int>(c) == kUnique ? FilterCell{std::int64_t{order[static_cast<std::size_t>(r)]}}
                                                     : gen.Cell(static_cast<int>(c)));
      for (TDataCursor* c : {a.get(), b.get()}) {
        std::vector<std::uint8_t> record = MakeRecord(layout, c->GetRecordSize(), row);
        c->AppendRecord(record.data());
      }
      cells.push_back(row);
    }
    std::set<std::uint32_t> deleted;
    for (int i = 0; i < record_count / 10; ++i) {
      const auto n = static_cast<std::uint32_t>(1 + gen.Pick(record_count));
      if (!deleted.insert(n).second) continue;
      for (TDataCursor* c : {a.get(), b.get()}) {
        ASSERT_EQ(c->GotoPhysicalRecordNumber(n), 0);
        c->DeleteRecord(nullptr);
      }
    }

    std::vector<std::vector<FilterDraw>> scenarios(30);
    std::vector<Expr> texts;
    for (auto& filters : scenarios) {
      for (int f = 0, n = 1 + gen.Pick(3); f < n; ++f) {
        FilterDraw draw;
        draw.options.CaseInsensitive = gen.Chance(30);
        draw.options.Narrowing = gen.Chance(30);
        draw.options.Complement = gen.Chance(60);
        draw.text = gen.Condition(2, draw.options.CaseInsensitive);
        filters.push_back(draw);
        texts.push_back(draw.text);
      }
    }
    const std::map<std::string, std::string> lite = SqliteAnswers(dir, cells, texts);
    for (const Expr& e : texts) ASSERT_TRUE(lite.count(e.lite)) << e.lite;

    std::vector<std::uint8_t> buffer(a->GetRecordSize());
    auto walk = [&](TDataCursor& c) {
      std::vector<std::uint32_t> seen;
      c.SetToBegin();
      while (c.GetNextRecord(buffer.data()) == 0) seen.push_back(c.GetPhysicalRecordNumber());
      EXPECT_EQ(c.GetRecordCount(), seen.size());
      std::sort(seen.begin(), seen.end());
      return seen;
    };
    for (const auto& filters : scenarios) {
      // The order and range of the indexed table; the records the range
      // holds, walked before any filter.
      const auto position = static_cast<std::uint8_t>(gen.Chance(30) ? kPhysicalOrder : 1 + gen.Pick(with.IndexCount));
      a->SetIndexPos(position);
      const bool range = position != kPhysicalOrder && gen.Chance(35);
      if (range) {
        std::vector<std::uint8_t> low = MakeRecord(layout, a->GetRecordSize(), cells[static_cast<std::size_t>(gen.Pick(record_count))]);
        std::vector<std::uint8_t> high = MakeRecord(layout, a->GetRecordSize(), cells[static_cast<std::size_t>(gen.Pick(record_count))]);
        a->SetRange(false, low.data(), 1, high.data(), 1);
        ++ranged;
      }
      const std::vector<std::uint32_t> in_range = walk(*a);
      std::string all;
      for (const FilterDraw& draw : filters)
        all += draw.text.ours + (draw.options.CaseInsensitive ? " [ci]" : "") + (draw.options.Narrowing ? " [n]" : "") + " ; ";
      all += "order " + std::to_string(position) + (range ? " ranged" : "");

      auto run = [&](TDataCursor& c, bool forced, bool emulate_range) {
        for (const FilterDraw& draw : filters) c.AddFilter(0, draw.text.ours, nullptr, false, nullptr, draw.options);
        if (emulate_range)
          c.AddFilter(0, {}, nullptr, false,
                      [&](const std::uint8_t*, std::uint32_t n) {
                        return std::binary_search(in_range.begin(), in_range.end(), n);
                      },
                      {true, true, false, false});
        c.Filters().SetForceRecordByRecord(forced);
        c.ActivateAllFilters();
        std::vector<std::uint32_t> seen = walk(c);
        c.DropAllFilters();
        return seen;
      };
      std::vector<std::uint32_t> indexed, forced, scanned;
      try {
        indexed = run(*a, false, false);
        forced = run(*a, true, false);
        scanned = run(*b, false, true);
      } catch (const EKORVEXEngineError& error) {
        ADD_FAILURE() << all << ": " << error.Message();
        continue;
      }
      a->ResetRange();
      ++walks;
      EXPECT_EQ(indexed, forced) << all;
      EXPECT_EQ(indexed, scanned) << all;
      std::vector<Expr> exprs;
      for (const FilterDraw& draw : filters) exprs.push_back(draw.text);
      for (std::size_t r = 0; r < cells.size(); ++r) {
        const auto n = static_cast<std::uint32_t>(r + 1);
        char verdict = SqliteVerdict(lite, exprs, r);
        if (deleted.count(n) || !std::binary_search(in_range.begin(), in_range.end(), n)) verdict = 'F';
        if (verdict == 'N') continue;
        ++compared;
        EXPECT_EQ(std::binary_search(indexed.begin(), indexed.end(), n), verdict == 'T')
            << "record " << r << " of round " << round << ": " << all;
      }
    }
  }
  EXPECT_GT(compared, 10000);
  EXPECT_GT(ranged, 10);
  RecordProperty("compared", compared);
  std::cout << "cursor walks " << walks << " (" << ranged << " ranged), records compared " << compared << "\n";
}

}  // namespace
}  // namespace korvex::testing
