// Random SELECT statements answered by this engine and by python3's sqlite3.
//
// Each round makes a random schema of 2 to 4 tables with 0 to 300 rows
// (sql_random_support.h), loads it into this engine twice (with its indexes,
// and an index-free twin) and into SQLite, and runs random statements on all
// three. Each statement runs on the indexed tables with a live result
// wanted, and again without one when it was answered live (live answers,
// those under ORDER BY among them, are counted: at least 200 of each), and
// on the index-free twin with NOJOINOPTIMIZE and a live result wanted. SQLite's
// answer must equal ours as a multiset (floats within 1e-9 relative); under
// ORDER BY our rows must also follow the keys in SQLite's order, and a total
// order must give the same list. A failure is shrunk clause by clause and
// row by row, then printed as a script for the sqlite3 shell and as our
// statement.
//
// QV_SQL_SEED and QV_SQL_COUNT set the seed and the number of statements
// (20,000 by default).
//
// Differences between the dialects that the generator keeps out (each has
// a test of its own in select_sqlite_test.cpp or the expression tests):
//  - comparisons are two-valued, '' is NULL, integer / integer is a float:
//    bridged by the translation;
//  - LIKE compares bytes and has no ESCAPE;
//  - a string constant naming a column is that column; MIN and MAX over
//    strings are refused;
//  - CAST follows its own rules;
//  - no LIMIT, UNION, CASE, COALESCE, EXISTS, scalar or correlated
//    sub-selects, nor "--" comments.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <filesystem>
#include <thread>
#include <map>
#include <sstream>

#include "support/run_command.h"
#include "support/sanitizer.h"
#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tables/sql/model_dump.h"
#include "tests/tables/sql/sql_random_support.h"
#include "tests/tables/sql/sql_test_support.h"

namespace korvex::testing {
namespace {

using namespace sqlrand;

const char* const kScript = QV_SOURCE_DIR "/tests/tables/sql/sqlite_select.py";

std::uint32_t EnvNumber(const char* name, std::uint32_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10)) : fallback;
}

struct TAnswer {
  bool live = false;  // answered by the source table's own cursor
  std::string error;  // "" when answered
  std::vector<std::vector<std::string>> rows;  // tagged values
};

std::string FloatText(double d) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", d);
  return text;
}

// Our result's rows as tagged values.
std::vector<std::vector<std::string>> Rows(TDataCursor& cursor) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::uint8_t> record(cursor.GetRecordSize());
  cursor.SetToBegin();
  while (cursor.GetNextRecord(record.data()) == 0) {
    std::vector<std::string> row;
    for (int i = 1; i <= cursor.GetFieldCount(); ++i) {
      const TFieldDefinition& f = cursor.GetFieldDefinitionByPos(i);
      if (f.Hidden) continue;
      std::uint8_t data[256] = {};
      if (cursor.GetField(i, record.data(), data)) {
        row.push_back("N");
        continue;
      }
      std::int64_t n = 0;
      double d = 0;
      switch (f.DataType) {
        case dtString: row.push_back("S" + std::string(reinterpret_cast<const char*>(data))); continue;
        case dtSmallInt: { std::int16_t v; std::memcpy(&v, data, 2); n = v; break; }
        case dtWord:
        case dtBoolean: { std::uint16_t v; std::memcpy(&v, data, 2); n = v; break; }
        case dtInteger: { std::int32_t v; std::memcpy(&v, data, 4); n = v; break; }
        case dtDate: { std::int32_t v; std::memcpy(&v, data, 4); row.push_back("S" + IsoDate(v)); continue; }
        case dtTime: { std::int32_t v; std::memcpy(&v, data, 4); row.push_back("S" + IsoTime(v)); continue; }
        case dtTimeStamp: {
          std::memcpy(&d, data, 8);
          const auto ms = static_cast<std::int64_t>(d);
          row.push_back("S" + IsoDate(ms / 86'400'000) + " " + IsoTime(ms % 86'400'000));
          continue;
        }
        case dtFloat: std::memcpy(&d, data, 8); row.push_back("F" + FloatText(d)); continue;
        default: row.push_back("?" + std::to_string(f.DataType)); continue;
      }
      row.push_back("I" + std::to_string(n));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// With `lookups`: counts the join lookups the plan chose, by kind.
TAnswer RunOurs(TDataDirectory* dir, const std::string& text, bool live,
                std::map<std::string, int>* lookups = nullptr) {
  TAnswer answer;
  try {
    TQueryStatement statement(dir);
    statement.SetWantLiveResult(live);
    TDataCursor* result = Execute(statement, text);
    answer.live = statement.GetIsLiveResult();
    if (result) answer.rows = Rows(*result);
    if (lookups) {
      const std::string dump = DumpStatement(statement);
      for (const char* kind : {"range(", "hash(", "text-hash(", "ordered("})
        for (std::size_t at = dump.find(std::string("lookup=") + kind); at != std::string::npos;
             at = dump.find(std::string("lookup=") + kind, at + 1))
          ++(*lookups)[kind];
    }
  } catch (const std::exception& e) {
    answer.error = e.what();
  }
  return answer;
}

// Tables are made by the hundred: in memory where the system has a memory
// file system, so that their syncs cost nothing.
std::filesystem::path TablesParent() {
  std::error_code ec;
  const std::filesystem::path shm = "/dev/shm";
  if (std::filesystem::is_directory(shm, ec) && access(shm.c_str(), W_OK) == 0) return shm;
  return std::filesystem::temp_directory_path();
}

bool Numeric(const std::string& v) { return !v.empty() && (v[0] == 'I' || v[0] == 'F'); }

bool SameValue(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (!Numeric(a) || !Numeric(b)) return false;
  const double x = std::strtod(a.c_str() + 1, nullptr), y = std::strtod(b.c_str() + 1, nullptr);
  return std::fabs(x - y) <= 1e-9 * std::max({1.0, std::fabs(x), std::fabs(y)});
}

// A row's text for sorting: numbers rounded so that near-equal values meet.
std::string SortText(const std::vector<std::string>& row, bool nocase = false) {
  std::string out;
  for (const std::string& v : row) {
    if (Numeric(v)) {
      char text[64];
      std::snprintf(text, sizeof text, "#%.9g", std::strtod(v.c_str() + 1, nullptr) + 0.0);
      out += text;
    } else if (nocase) {
      for (char c : v) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    } else {
      out += v;
    }
    out += '\x01';
  }
  return out;
}

std::string RowsText(const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  for (std::size_t i = 0; i < rows.size() && i < 12; ++i) {
    for (const std::string& v : rows[i]) out += v + " | ";
    out += "\n";
  }
  if (rows.size() > 12) out += "... " + std::to_string(rows.size()) + " rows\n";
  return out;
}

// Why ours differs from SQLite's answer ("" when it does not).
std::string Difference(const TSelect& select, const TAnswer& ours, const TAnswer& lite) {
  if (!lite.error.empty()) return "SQLite refused the translation: " + lite.error;
  if (!ours.error.empty()) return "ours failed: " + ours.error;
  if (ours.rows.size() != lite.rows.size())
    return "row counts " + std::to_string(ours.rows.size()) + " and SQLite's " + std::to_string(lite.rows.size()) +
           "\nours:\n" + RowsText(ours.rows) + "SQLite:\n" + RowsText(lite.rows);
  // Both sorted by their rows' texts, each text made once.
  auto sorted = [](const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::pair<std::string, const std::vector<std::string>*>> keyed;
    for (const auto& row : rows) keyed.emplace_back(SortText(row), &row);
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::vector<std::string>> out;
    for (const auto& [text, row] : keyed) out.push_back(*row);
    return out;
  };
  const auto a = sorted(ours.rows), b = sorted(lite.rows);
  for (std::size_t r = 0; r < a.size(); ++r) {
    if (a[r].size() != b[r].size()) return "column counts differ";
    for (std::size_t c = 0; c < a[r].size(); ++c)
      if (!SameValue(a[r][c], b[r][c]))
        return "value " + a[r][c] + " where SQLite has " + b[r][c] + "\nours:\n" + RowsText(ours.rows) +
               "SQLite:\n" + RowsText(lite.rows);
  }
  if (select.order.empty()) return {};
  // Our rows follow the keys in SQLite's order: each key's rank is the
  // place of its group in SQLite's answer.
  auto key = [&](const std::vector<std::string>& row) {
    std::vector<std::string> k;
    for (const TOrderItem& o : select.order) k.push_back(row[static_cast<std::size_t>(o.column - 1)]);
    return SortText(k, select.nocase);
  };
  std::map<std::string, std::size_t> rank;
  for (const auto& row : lite.rows) rank.emplace(key(row), rank.size());
  std::size_t last = 0;
  for (const auto& row : ours.rows) {
    auto found = rank.find(key(row));
    if (found == rank.end()) return "an ORDER BY key SQLite has not: " + key(row);
    if (found->second < last)
      return "rows out of order\nours:\n" + RowsText(ours.rows) + "SQLite:\n" + RowsText(lite.rows);
    last = found->second;
  }
  return {};
}

class SelectRandomTest : public SqlTest {
protected:
  void SetUp() override {
    InitializeKORVEX();
    SqlTest::SetUp();
  }
  void TearDown() override {
    SqlTest::TearDown();
    ExitKORVEX();
  }

  // Writes the cases of the schemas from `first` on, a PART line after
  // every `part` schemas.
  std::string WriteCases(const std::vector<TSchema>& schemas, const std::vector<std::vector<TSelect>>& selects,
                         const std::string& name, std::size_t part) {
    const std::string cases = (scratch_.path() / name).string();
    std::ofstream out(cases, std::ios::binary);
    for (std::size_t s = 0; s < schemas.size(); ++s) {
      WriteSqliteTables(out, schemas[s]);
      for (std::size_t q = 0; q < selects[s].size(); ++q)
        out << "QUERY\t" << s << ':' << q << '\t' << selects[s][q].Lite() << '\n';
      if ((s + 1) % part == 0) out << "PART\t" << (s + 1) / part << '\n';
    }
    return cases;
  }

  // The answers of a file of sqlite_select.py, by schema.
  static std::vector<std::vector<TAnswer>> ReadAnswers(const std::string& path, std::size_t first,
                                                       std::size_t schemas) {
    std::vector<std::vector<TAnswer>> out(schemas);
    std::ifstream in(path, std::ios::binary);
    std::string line;
    TAnswer* current = nullptr;
    while (std::getline(in, line)) {
      if (line.rfind("Q ", 0) == 0) {
        const std::size_t colon = line.find(':'), space = line.find(' ', 2);
        const std::size_t s = std::stoul(line.substr(2, colon - 2)) - first;
        if (s >= schemas) return {};
        out[s].emplace_back();
        current = &out[s].back();
        const std::string rest = line.substr(space + 1);
        if (rest.rfind("E ", 0) == 0) current->error = rest.substr(2);
        continue;
      }
      if (!current) return {};
      std::vector<std::string> row;
      std::size_t start = 0;
      for (;;) {
        const std::size_t tab = line.find('\t', start);
        row.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
      }
      current->rows.push_back(std::move(row));
    }
    return out;
  }

  // SQLite's answers to the queries of each schema, in order, at once.
  std::vector<std::vector<TAnswer>> Sqlite(const std::vector<TSchema>& schemas,
                                          const std::vector<std::vector<TSelect>>& selects) {
    const std::string cases = WriteCases(schemas, selects, "shrink.txt", schemas.size() + 1);
    const std::string answers = (scratch_.path() / "shrink.out").string();
    const auto run = qvtest::RunShell("python3 '" + std::string(kScript) + "' '" + cases + "' '" + answers + "' 2>&1");
    if (run.status != 0) return {};
    return ReadAnswers(answers, 0, schemas.size());
  }

  // The first difference of one statement on the three sides ("" when
  // they agree).
  std::string Check(TDataDirectory* indexed, TDataDirectory* twin, const TSelect& select, const TAnswer& lite) {
    // Live wanted on the indexed tables: where the query is answered live,
    // also answered through a result table.
    const TAnswer ours = RunOurs(indexed, select.Ours(), true, &lookups_);
    const std::string first = Difference(select, ours, lite);
    if (!first.empty()) return (ours.live ? "live: " : "") + first;
    if (ours.live) {
      ++live_answers_;
      if (!select.order.empty()) ++live_ordered_;
      const std::string copied = Difference(select, RunOurs(indexed, select.Ours(), false), lite);
      if (!copied.empty()) return "not live: " + copied;
    }
    const TAnswer other = RunOurs(twin, select.Ours() + " NOJOINOPTIMIZE", true);
    const std::string second = Difference(select, other, lite);
    if (!second.empty()) return "the index-free twin, not joined optimally, live: " + second;
    return {};
  }

  // Whether the schema and statement still fail, on freshly loaded tables.
  bool StillFails(const TSchema& schema, const TSelect& select, std::string* why = nullptr) {
    const auto lite = Sqlite({schema}, {{select}});
    if (lite.size() != 1 || lite[0].size() != 1) {
      if (why) *why = "python3 sqlite_select.py failed";
      return false;
    }
    TDataSession session;
    qvtest::TempDir a(TablesParent()), b(TablesParent());
    TDataDirectory* indexed = session.OpenDataDirectory("a", a.path().string());
    TDataDirectory* twin = session.OpenDataDirectory("b", b.path().string());
    LoadTables(indexed, schema, true);
    LoadTables(twin, schema, false);
    const std::string difference = Check(indexed, twin, select, lite[0][0]);
    if (why) *why = difference;
    return !difference.empty();
  }

  // Removes clauses and rows while the failure stays.
  void Shrink(TSchema& schema, TSelect& select) {
    bool progress = true;
    int budget = 150;
    while (progress && budget > 0) {
      progress = false;
      std::vector<TSelect> candidates;
      for (std::size_t i = 0; i < select.where.size(); ++i) {
        TSelect c = select;
        c.where.erase(c.where.begin() + static_cast<std::ptrdiff_t>(i));
        candidates.push_back(c);
      }
      for (std::size_t i = 0; i < select.having.size(); ++i) {
        TSelect c = select;
        c.having.erase(c.having.begin() + static_cast<std::ptrdiff_t>(i));
        candidates.push_back(c);
      }
      for (std::size_t i = 0; i < select.order.size(); ++i) {
        TSelect c = select;
        c.order.erase(c.order.begin() + static_cast<std::ptrdiff_t>(i));
        if (c.order.empty()) c.nocase = false;
        candidates.push_back(c);
      }
      if (select.distinct) {
        TSelect c = select;
        c.distinct = false;
        candidates.push_back(c);
      }
      // A result column that no other clause names.
      for (std::size_t i = 0; i < select.columns.size() && select.columns.size() > 1; ++i) {
        const int number = static_cast<int>(i + 1);
        TSelect c = select;
        c.columns.erase(c.columns.begin() + static_cast<std::ptrdiff_t>(i));
        c.column_classes.erase(c.column_classes.begin() + static_cast<std::ptrdiff_t>(i));
        bool named = std::find(c.group_by.begin(), c.group_by.end(), number) != c.group_by.end();
        for (int& g : c.group_by) g -= g > number;
        for (TOrderItem& o : c.order) {
          named = named || o.column == number;
          o.column -= o.column > number;
        }
        if (!named && c.having.empty()) candidates.push_back(c);
      }
      for (const TSelect& c : candidates) {
        if (--budget <= 0) break;
        if (StillFails(schema, c)) {
          select = c;
          progress = true;
          break;
        }
      }
      if (progress) continue;
      // Rows: halves, then single rows of small tables.
      for (std::size_t t = 0; t < schema.tables.size() && !progress; ++t) {
        auto& rows = schema.tables[t].rows;
        const std::size_t step = std::max<std::size_t>(1, rows.size() / 2);
        for (std::size_t start = 0; start < rows.size() && !progress && budget > 0; start += step) {
          --budget;
          TSchema smaller = schema;
          auto& r = smaller.tables[t].rows;
          r.erase(r.begin() + static_cast<std::ptrdiff_t>(start),
                  r.begin() + static_cast<std::ptrdiff_t>(std::min(rows.size(), start + step)));
          if (StillFails(smaller, select)) {
            schema = smaller;
            progress = true;
          }
        }
      }
    }
  }

  qvtest::TempDir scratch_;
  std::map<std::string, int> lookups_;  // join lookups chosen, by kind
  int live_answers_ = 0;  // statements answered live, and those with ORDER BY
  int live_ordered_ = 0;
};

TEST_F(SelectRandomTest, AnswersAgreeWithSqliteTwinsAndLiveResults) {
  const std::uint32_t seed = EnvNumber("QV_SQL_SEED", 32);
  // The sanitizers make each query several times slower: their build runs
  // a quarter of the queries (the same seed's first ones) within the time
  // limit; QV_SQL_COUNT asks for more.
  const std::uint32_t count = EnvNumber("QV_SQL_COUNT", qvtest::kSanitizerBuild ? 5000 : 20000);
  constexpr std::uint32_t kPerSchema = 100;
  SCOPED_TRACE("QV_SQL_SEED=" + std::to_string(seed) + " QV_SQL_COUNT=" + std::to_string(count));
  TGenerator generator(seed);
  std::vector<TSchema> schemas;
  std::vector<std::vector<TSelect>> selects;
  for (std::uint32_t made = 0; made < count; made += kPerSchema) {
    schemas.push_back(generator.Schema());
    selects.emplace_back();
    for (std::uint32_t q = made; q < std::min(count, made + kPerSchema); ++q)
      selects.back().push_back(generator.Select(schemas.back()));
  }
  // SQLite answers in the background, a part of the schemas at a time. It
  // starts before any table is open here, so that no table file is
  // duplicated into a child process while it is locked.
  constexpr std::size_t kPart = 20;
  const std::string cases = WriteCases(schemas, selects, "cases.txt", kPart);
  const std::string answers = (scratch_.path() / "answers").string();
  ASSERT_EQ(std::system(("(python3 '" + std::string(kScript) + "' '" + cases + "' '" + answers + "' || touch '" +
                         answers + ".failed') > '" + answers + ".log' 2>&1 &")
                            .c_str()),
            0);
  std::vector<std::vector<TAnswer>> lite;
  int failures = 0;
  for (std::size_t s = 0; s < schemas.size() && failures < 3; ++s) {
    if (s % kPart == 0) {
      const std::size_t part = s / kPart + 1;
      const bool last = (part * kPart >= schemas.size()) && schemas.size() % kPart != 0;
      const std::string path = last ? answers : answers + "." + std::to_string(part);
      while (!std::filesystem::exists(path) && !std::filesystem::exists(answers + ".failed"))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ASSERT_FALSE(std::filesystem::exists(answers + ".failed")) << qvtest::ReadFileBytes(answers + ".log");
      lite = ReadAnswers(path, s, std::min(kPart, schemas.size() - s));
      ASSERT_EQ(lite.size(), std::min(kPart, schemas.size() - s)) << "unreadable answers " << path;
    }
    const auto& answers = lite[s % kPart];
    ASSERT_EQ(answers.size(), selects[s].size());
    TDataSession session;
    qvtest::TempDir a(TablesParent()), b(TablesParent());
    TDataDirectory* indexed = session.OpenDataDirectory("a", a.path().string());
    TDataDirectory* twin = session.OpenDataDirectory("b", b.path().string());
    LoadTables(indexed, schemas[s], true);
    LoadTables(twin, schemas[s], false);
    for (std::size_t q = 0; q < selects[s].size() && failures < 3; ++q) {
      const std::string difference = Check(indexed, twin, selects[s][q], answers[q]);
      if (difference.empty()) continue;
      ++failures;
      TSchema schema = schemas[s];
      TSelect select = selects[s][q];
      Shrink(schema, select);
      std::string why;
      StillFails(schema, select, &why);
      ADD_FAILURE() << "statement " << q << " of schema " << s << ": " << difference << "\nshrunk: " << why
                    << "\n-- sqlite3 script:\n"
                    << SqliteScript(schema, select.Lite()) << "-- ours:\n"
                    << select.Ours();
    }
  }
  // Every construct was exercised.
  if (count >= 20000) {
    static const char* kFeatures[] = {"DISTINCT", "arithmetic", "concatenation", "string function",
                                      "numeric function", "IF", "EXTRACT", "comma join", "JOIN", "LEFT JOIN",
                                      "RIGHT JOIN", "comparison", "AND", "OR", "NOT", "BETWEEN", "IN list", "LIKE",
                                      "IS NULL", "IN (SELECT)", "GROUP BY", "SUM", "MIN", "MAX", "AVG", "COUNT",
                                      "HAVING", "ORDER BY ASC", "ORDER BY DESC", "NOCASE", "ORDER BY index",
                                      "compound join"};
    for (const char* f : kFeatures) {
      auto found = generator.Counters().find(f);
      const int n = found == generator.Counters().end() ? 0 : found->second;
      EXPECT_GE(n, 200) << f;
    }
    // Each kind of join lookup answered its share: the indexes of the
    // targets (range), hashes and ordered rows where none serves.
    for (const char* kind : {"range(", "hash(", "text-hash(", "ordered("}) {
      EXPECT_GE(lookups_[kind], 200) << kind;
      RecordProperty(std::string("lookup_") + kind, lookups_[kind]);
    }
    RecordProperty("live_answers", live_answers_);
    RecordProperty("live_ordered", live_ordered_);
    EXPECT_GE(live_answers_, 200) << "live answers";
    EXPECT_GE(live_ordered_, 200) << "live answers under ORDER BY";
  }
}

}  // namespace
}  // namespace korvex::testing
