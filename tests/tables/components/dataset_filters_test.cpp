// The dataset's filters as the cursor's: Filter texts drawn at random,
// through tables with and without indexes, against python3 sqlite3 (the
// shared evaluator script); OnFilterRecord beside them against a model;
// searches of an unfiltered dataset; Locate within the filter; Refresh
// after another session's append; a query result set the dataset does not
// own.
#include <algorithm>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#include "support/run_command.h"
#include "tests/tables/components/components_test_support.h"
#include "tables/lib/fieldtypes.h"

namespace korvex::testing {
namespace {

using namespace db;

class DataSetFiltersTest : public ComponentsTest {};

struct Row {
  int n;
  std::optional<std::string> s;
  std::optional<int> i;
  std::optional<double> f;
};

struct Drawn {
  std::string engine, sqlite;
  TFilterOptions options = 0;
};

// One comparison: the engine's text and SQLite's, under the options.
Drawn Atom(std::mt19937& rng, TFilterOptions options) {
  static const char* kOps[] = {"=", "<", "<=", ">", ">="};
  const std::string op = kOps[rng() % 5];
  switch (rng() % 3) {
    case 0: {
      const std::string v = std::to_string(static_cast<int>(rng() % 7) - 3);
      return {"I " + op + " " + v, "I " + op + " " + v};
    }
    case 1: {
      const std::string v = std::to_string(static_cast<int>(rng() % 5) - 1);
      return {"F " + op + " " + v, "F " + op + " " + v};
    }
    default: {
      std::string v;
      for (int k = 1 + static_cast<int>(rng() % 2); k > 0; --k) v += "abAB"[rng() % 4];
      const bool ci = (options & foCaseInsensitive) != 0;
      const std::string column = ci ? "lower(S)" : "S";
      std::string lower = v;
      std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
      const std::string text = ci ? lower : v;
      if (rng() % 2 == 0) {
        // A trailing '*' marks a prefix unless partial compare is off.
        if (options & foNoPartialCompare) return {"S = '" + v + "*'", "S = '" + v + "*'"};
        return {"S = '" + v + "*'", column + " LIKE '" + text + "%'"};
      }
      return {"S = '" + v + "'", column + " = '" + text + "'"};
    }
  }
}

Drawn DrawFilter(std::mt19937& rng) {
  static const TFilterOptions kOptions[] = {0, foCaseInsensitive, foNoPartialCompare};
  const TFilterOptions options = kOptions[rng() % 3];
  Drawn a = Atom(rng, options);
  switch (rng() % 4) {
    case 0: return {a.engine, a.sqlite, options};
    case 1: {
      Drawn b = Atom(rng, options);
      return {"(" + a.engine + ") AND (" + b.engine + ")", "(" + a.sqlite + ") AND (" + b.sqlite + ")", options};
    }
    case 2: {
      Drawn b = Atom(rng, options);
      return {"(" + a.engine + ") OR (" + b.engine + ")", "(" + a.sqlite + ") OR (" + b.sqlite + ")", options};
    }
    default: {
      Drawn b = Atom(rng, options), c = Atom(rng, options);
      return {"((" + a.engine + ") OR (" + b.engine + ")) AND (" + c.engine + ")",
              "((" + a.sqlite + ") OR (" + b.sqlite + ")) AND (" + c.sqlite + ")", options};
    }
  }
}

std::vector<Row> DrawRows(std::mt19937& rng, int count) {
  static const double kFloats[] = {-1.5, 0, 0.25, 2, 1000};
  std::vector<Row> rows;
  for (int n = 1; n <= count; ++n) {
    Row r{n, {}, {}, {}};
    if (rng() % 10) {
      std::string s;
      for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) s += "abAB"[rng() % 4];
      r.s = s;
    }
    if (rng() % 10) r.i = static_cast<int>(rng() % 7) - 3;
    if (rng() % 10) r.f = kFloats[rng() % 5];
    rows.push_back(r);
  }
  return rows;
}

// The ids each filter passes, by python3 sqlite3.
std::vector<std::vector<int>> SqliteAnswers(const std::string& file, const std::vector<Row>& rows,
                                            const std::vector<Drawn>& filters) {
  {
    std::ofstream out(file);
    out << "COLUMNS\tS:S\tI:I\tF:F\n";
    for (const Row& r : rows) {
      out << "ROW\t" << r.n << "\t" << (r.s ? *r.s : "\\N") << "\t" << (r.i ? std::to_string(*r.i) : "\\N") << "\t";
      if (r.f) {
        std::ostringstream f;
        f.precision(17);
        f << *r.f;
        out << f.str() << "\n";
      } else {
        out << "\\N\n";
      }
    }
    for (const Drawn& d : filters) out << "EXPR\t" << d.sqlite << "\n";
  }
  std::istringstream output(
      qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tests/tables/sqlite_cases.py' '" + file + "'").output);
  std::vector<std::vector<int>> answers;
  std::string line;
  while (std::getline(output, line)) {
    std::vector<int> ids;
    for (std::size_t k = 0; k < line.size(); ++k)
      if (line[k] == 'T') ids.push_back(static_cast<int>(k) + 1);
    answers.push_back(ids);
  }
  return answers;
}

std::vector<int> Walk(TDataSet& t) {
  std::vector<int> ids;
  for (t.First(); !t.Eof(); t.Next()) ids.push_back(t.FieldByName("N")->AsInteger());
  return ids;
}

TEST_F(DataSetFiltersTest, CursorFiltersAgreeWithSqliteWithAndWithoutIndexes) {
  constexpr int kTables = 3, kRows = 300, kFilters = 30;
  qvtest::TempDir dir;
  int checked = 0, optimised = 0;
  for (int seed = 1; seed <= kTables; ++seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    const std::vector<Row> rows = DrawRows(rng, kRows);
    std::vector<Drawn> filters;
    for (int k = 0; k < kFilters; ++k) filters.push_back(DrawFilter(rng));
    const auto answers = SqliteAnswers(dir.File("cases" + std::to_string(seed)), rows, filters);
    ASSERT_EQ(answers.size(), filters.size());

    for (bool indexed : {false, true}) {
      const std::string name = "f" + std::to_string(seed) + (indexed ? "x" : "p");
      std::vector<TIndexDefinition> indexes;
      if (indexed) indexes = {Index("ByS", {2}), Index("BySci", {2}, true), Index("ByI", {3}), Index("ByF", {4})};
      MakeTable(dir.Path(), name, {Field("N", dtInteger), Field("S", dtString, 6), Field("I", dtInteger),
                                   Field("F", dtFloat)},
                false, indexes);
      TestTable t;
      t.SetDatabaseName(dir.Path());
      t.TableName = name;
      t.Open();
      for (const Row& r : rows) {
        t.Append();
        t.FieldByName("N")->SetAsInteger(r.n);
        if (r.s) t.FieldByName("S")->SetAsString(*r.s);
        if (r.i) t.FieldByName("I")->SetAsInteger(*r.i);
        if (r.f) t.FieldByName("F")->SetAsFloat(*r.f);
        t.Post();
      }
      for (std::size_t k = 0; k < filters.size(); ++k) {
        const Drawn& d = filters[k];
        const std::vector<int>& want = answers[k];
        SCOPED_TRACE(name + ": " + d.engine + " options " + std::to_string(d.options));
        t.SetFilteredValue(false);
        t.SetFilterOptionsValue(d.options);
        t.SetFilter(d.engine);
        // Searches of the unfiltered dataset use the filter for their length.
        std::vector<int> found;
        for (bool more = t.FindFirst(); more && found.size() < 4; more = t.FindNext())
          found.push_back(t.FieldByName("N")->AsInteger());
        EXPECT_EQ(found, std::vector<int>(want.begin(), want.begin() + std::min<std::size_t>(want.size(), 4)));
        if (!want.empty()) {
          EXPECT_TRUE(t.FindLast());
          EXPECT_EQ(t.FieldByName("N")->AsInteger(), want.back());
        }
        // From a record the filter may hide: the next one it shows.
        t.First();
        auto after = std::upper_bound(want.begin(), want.end(), 1);
        EXPECT_EQ(t.FindNext(), after != want.end());
        if (after != want.end()) { EXPECT_EQ(t.FieldByName("N")->AsInteger(), *after); }
        EXPECT_EQ(t.RecordCount(), kRows);

        t.SetFilteredValue(true);
        EXPECT_EQ(Walk(t), want);
        EXPECT_EQ(t.RecordCount(), static_cast<int>(want.size()));
        const TFilterOptimizeLevel level = t.GetFilterOptimizeLevel();
        if (!indexed) { EXPECT_EQ(level, foNone); }
        optimised += level != foNone;
        // Locate finds only what the filter shows.
        const int probe = static_cast<int>(rng() % kRows) + 1;
        const bool shown = std::count(want.begin(), want.end(), probe) == 1;
        EXPECT_EQ(t.Locate("N", Variant(std::int32_t{probe}), 0), shown) << probe;

        // OnFilterRecord narrows beside the expression; a record-by-record
        // model of the two.
        if (k % 3 == 0) {
          t.SetOnFilterRecordEvent([](TDataSet* d, bool& accept) { accept = d->FieldByName("N")->AsInteger() % 3 != 0; });
          std::vector<int> both;
          std::copy_if(want.begin(), want.end(), std::back_inserter(both), [](int n) { return n % 3 != 0; });
          EXPECT_EQ(Walk(t), both);
          t.SetOnFilterRecordEvent(nullptr);
          EXPECT_EQ(Walk(t), want);
        }
        ++checked;
      }
      if (indexed) {
        // Under an index: the same records in its order, and a keyed Locate
        // that skips what the filter hides.
        t.SwitchToIndex("ByI");
        std::vector<int> ids = Walk(t), want = answers.back();
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, want);
        for (int v = -3; v <= 3; ++v) {
          const bool any = std::any_of(want.begin(), want.end(), [&](int n) { return rows[n - 1].i == v; });
          ASSERT_EQ(t.Locate("I", Variant(std::int32_t{v}), 0), any) << v;
          if (any) {
            EXPECT_EQ(t.FieldByName("I")->AsInteger(), v);
            EXPECT_EQ(std::count(want.begin(), want.end(), t.FieldByName("N")->AsInteger()), 1);
          }
        }
        t.SwitchToIndex("");
      }
    }
  }
  EXPECT_EQ(checked, kTables * 2 * kFilters);
  EXPECT_GT(optimised, kFilters / 2) << "indexes answered too few filters";
}

TEST_F(DataSetFiltersTest, RefreshShowsAnotherSessionsAppendThroughTheFilter) {
  qvtest::TempDir dir;
  MakeTable(dir.Path(), "fams", {Field("N", dtInteger), Field("S", dtString, 10)}, false, {Index("ByN", {1})});
  TestTable here;
  here.SetDatabaseName(dir.Path());
  here.TableName = "fams";
  here.Open();
  for (int n : {1, 2, 3}) {
    here.Append();
    here.FieldByName("N")->SetAsInteger(n);
    here.Post();
  }
  here.SetFilter("N > 1");
  here.SetFilteredValue(true);
  here.First();
  EXPECT_EQ(Walk(here), (std::vector<int>{2, 3}));
  here.Last();

  Sessions().OpenSession("Second");
  {
    TestTable there;
    there.SetSessionName("Second");
    there.SetDatabaseName(dir.Path());
    there.TableName = "fams";
    there.Open();
    for (int n : {9, 0}) {
      there.Append();
      there.FieldByName("N")->SetAsInteger(n);
      there.Post();
    }
    there.First();
    there.Edit();
    there.FieldByName("S")->SetAsString("edited");
    there.Post();
  }
  EXPECT_EQ(here.FieldByName("N")->AsInteger(), 3) << "the buffers hold what was read";
  here.Refresh();
  EXPECT_EQ(here.FieldByName("N")->AsInteger(), 3) << "Refresh keeps the record";
  EXPECT_EQ(Walk(here), (std::vector<int>{2, 3, 9}));
  EXPECT_EQ(here.RecordCount(), 3);
  here.SetFilteredValue(false);
  here.First();
  EXPECT_EQ(here.FieldByName("S")->AsString(), "edited");
}

// A dataset over a query's result: the cursor belongs to the query.
class ResultTable : public TestTable {
public:
  std::unique_ptr<TDataCursor> result;

protected:
  TDataCursor* CreateHandle() override {
    if (!result) {
      result = std::make_unique<TDataCursor>(DBHandle());
      result->SetTableName(TableName);
      result->OpenCursor();
      result->SetIndexName("ByN");
      result->SetIsResultSet(true);
    }
    return result.get();
  }
};

TEST_F(DataSetFiltersTest, AResultSetOutlivesItsDataset) {
  qvtest::TempDir dir;
  TFieldDefinition described = Field("N", dtInteger);
  described.Description = "Number";
  MakeTable(dir.Path(), "res", {described, Field("S", dtString, 10)}, false, {Index("ByN", {1})});
  // The directory stays open while the result does.
  TKORVEXDatabase* held = Session().OpenDatabase(dir.Path());
  {
    ResultTable t;
    t.SetDatabaseName(dir.Path());
    t.TableName = "res";
    t.Open();
    EXPECT_EQ(t.IndexFieldCount(), 0) << "a result has no index of its own";
    EXPECT_EQ(t.FieldByName("N")->DisplayName(), "N") << "no labels from the descriptions";
    for (int n : {5, 4}) {
      t.Append();
      t.FieldByName("N")->SetAsInteger(n);
      t.Post();
    }
    t.SetFilter("N = 4");
    t.SetFilteredValue(true);
    EXPECT_EQ(Walk(t), (std::vector<int>{4}));
    t.Close();
    ASSERT_TRUE(t.result->IsOpen());
    EXPECT_EQ(t.result->Filters().FilterCount(), 0u) << "the dataset's filters went with it";
    EXPECT_EQ(t.result->GetRecordCount(), 2u);
    t.Open();
    EXPECT_EQ(Walk(t), (std::vector<int>{4}));
    t.Close();
    t.result->CloseCursor();
  }
  Session().CloseDatabase(held);
}

}  // namespace
}  // namespace korvex::testing
