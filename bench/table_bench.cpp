// Engine datasets against the engine cursor's own loop: appending records
// and scanning them (First, Next, three fields read), measured in the same
// run, with SQLite through its C API printed beside them (its appends in one
// transaction without a sync, as the engine's reach the operating system
// without one). Then filters on a
// family table (Surname, Forename, Year, Place; indexes on Surname and
// Year, the same in SQLite): an index-answered filter read through, its
// record count, and an unindexed filter read through (a full scan on both
// sides), each against the same query in SQLite (locking_mode=EXCLUSIVE,
// as the engine's cursor is exclusive). Each
// filter figure is the median of the repeats, a repeat being the mean time
// of one query over a batch of at least 20 ms (wall and CPU time); the two
// sides take turns batch by batch. --filters-only skips the appends and
// scans and --query N runs only the N-th filter query (for profiling the
// filters, with many repeats).
//
//   table_bench [--records N] [--appends N] [--family N] [--repeats N] [--filters-only] [--query 1-3] [--check]
//   (5 repeats; --check exits 1 when a bar is missed)
#include <sqlite3.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "tables/components/datasets.h"
#include "tables/components/sessions.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"

namespace {

using namespace korvex;

class BenchTable : public TKORVEXDBDataSet {
public:
  BenchTable() : TKORVEXDBDataSet(nullptr) {}
  ~BenchTable() override { Close(); }
  std::string TableName;

protected:
  TDataCursor* CreateHandle() override {
    auto cursor = std::make_unique<TDataCursor>(DBHandle());
    cursor->SetTableName(TableName);
    cursor->SetExclusive(true);
    cursor->OpenCursor();
    return cursor.release();
  }
};

TFieldDefinition Field(const char* name, std::uint8_t type, std::uint8_t size = 0) {
  TFieldDefinition f;
  f.Name = name;
  f.DataType = type;
  f.Size = size;
  return f;
}

std::unique_ptr<TDataCursor> NewTable(TDataDirectory* dir, const std::string& name) {
  std::vector<TFieldDefinition> fields{Field("N", dtInteger), Field("S", dtString, 20), Field("F", dtFloat)};
  auto cursor = std::make_unique<TDataCursor>(dir);
  cursor->SetTableName(name);
  cursor->SetExclusive(true);
  TTableCreation creation;
  creation.Overwrite = true;
  cursor->CreateTable(creation, fields);
  cursor->OpenCursor();
  return cursor;
}

std::string Text(std::int64_t i) { return "Name " + std::to_string(i * 7919 % 100000); }

void CursorAppend(TDataDirectory* dir, std::int64_t count) {
  auto c = NewTable(dir, "cursor");
  std::vector<std::uint8_t> buffer(c->GetRecordSize());
  for (std::int64_t i = 0; i < count; ++i) {
    c->InitRecord(buffer.data());
    auto n = static_cast<std::int32_t>(i);
    double f = static_cast<double>(i) / 4;
    std::string s = Text(i);
    c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&n));
    c->PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(s.c_str()));
    c->PutField(3, buffer.data(), reinterpret_cast<const std::uint8_t*>(&f));
    c->AppendRecord(buffer.data());
  }
  c->CloseCursor();
}

void DataSetAppend(const std::string& folder, TDataDirectory* dir, std::int64_t count) {
  NewTable(dir, "dataset")->CloseCursor();
  BenchTable t;
  t.SetDatabaseName(folder);
  t.TableName = "dataset";
  t.Open();
  db::TField* n = t.FieldByName("N");
  db::TField* s = t.FieldByName("S");
  db::TField* f = t.FieldByName("F");
  for (std::int64_t i = 0; i < count; ++i) {
    t.Append();
    n->SetAsInteger(static_cast<std::int32_t>(i));
    s->SetAsString(Text(i));
    f->SetAsFloat(static_cast<double>(i) / 4);
    t.Post();
  }
  t.Close();
}

double CursorScan(TDataDirectory* dir, const std::string& name) {
  TDataCursor c(dir);
  c.SetTableName(name);
  c.SetExclusive(true);
  c.OpenCursor();
  std::vector<std::uint8_t> buffer(c.GetRecordSize());
  std::uint8_t data[32];
  double sum = 0;
  c.SetToBegin();
  while (c.GetNextRecord(buffer.data()) == 0) {
    std::int32_t n;
    double f;
    c.GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(&n));
    c.GetField(2, buffer.data(), data);
    c.GetField(3, buffer.data(), reinterpret_cast<std::uint8_t*>(&f));
    sum += n + f + data[0];
  }
  return sum;
}

double DataSetScan(const std::string& folder, const std::string& name) {
  BenchTable t;
  t.SetDatabaseName(folder);
  t.TableName = name;
  t.Open();
  db::TField* n = t.FieldByName("N");
  db::TField* s = t.FieldByName("S");
  db::TField* f = t.FieldByName("F");
  double sum = 0;
  for (t.First(); !t.Eof(); t.Next())
    sum += n->AsInteger() + f->AsFloat() + static_cast<unsigned char>(s->AsString()[0]);
  return sum;
}

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

void SqliteAppend(const std::string& path, std::int64_t count) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db);
  // The engine's appends reach the operating system and sync nothing;
  // SQLite's transaction does the same.
  Check(sqlite3_exec(db, "pragma synchronous=off; create table t(n integer, s text, f real); begin", nullptr, nullptr,
                     nullptr),
        db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "insert into t values (?, ?, ?)", -1, &insert, nullptr), db);
  for (std::int64_t i = 0; i < count; ++i) {
    std::string s = Text(i);
    sqlite3_bind_int(insert, 1, static_cast<int>(i));
    sqlite3_bind_text(insert, 2, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    sqlite3_bind_double(insert, 3, static_cast<double>(i) / 4);
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "commit", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

double SqliteScan(const std::string& path) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db);
  sqlite3_stmt* select = nullptr;
  Check(sqlite3_prepare_v2(db, "select n, s, f from t", -1, &select, nullptr), db);
  double sum = 0;
  while (sqlite3_step(select) == SQLITE_ROW)
    sum += sqlite3_column_int(select, 0) + sqlite3_column_double(select, 2) + sqlite3_column_text(select, 1)[0];
  sqlite3_finalize(select);
  sqlite3_close(db);
  return sum;
}


// ---- filters on the family table -------------------------------------------------

const char* const kForenames[] = {"Mary", "John", "William", "Elizabeth", "Thomas", "Ann", "James", "Sarah",
                                  "Richard", "Jane", "George", "Margaret", "Robert", "Hannah", "Henry", "Alice",
                                  "Edward", "Susan", "Joseph", "Martha"};
const char* const kPlaces[] = {"London", "York", "Bristol", "Norwich", "Exeter", "Leeds", "Derby", "Bath",
                               "Chester", "Durham"};

struct Person {
  std::string surname, forename, place;
  std::int32_t year;
};

Person PersonOf(std::int64_t i) {
  const std::uint64_t h = static_cast<std::uint64_t>(i) * 2654435761u;
  return {"Name" + std::to_string(h % 2000), kForenames[(h >> 11) % 20], kPlaces[(h >> 17) % 10],
          static_cast<std::int32_t>(1600 + (h >> 23) % 300)};
}

void FamilyTable(TDataDirectory* dir, std::int64_t count) {
  std::vector<TFieldDefinition> fields{Field("Surname", dtString, 20), Field("Forename", dtString, 20),
                                       Field("Year", dtInteger), Field("Place", dtString, 20)};
  TTableCreation creation;
  creation.Overwrite = true;
  creation.Indexes.resize(3);
  creation.Indexes[1].Name = "BySurname";
  creation.Indexes[1].Fields[0] = 1;
  creation.Indexes[1].FieldCount = 1;
  creation.Indexes[2].Name = "ByYear";
  creation.Indexes[2].Fields[0] = 3;
  creation.Indexes[2].FieldCount = 1;
  creation.IndexCount = 2;
  TDataCursor c(dir);
  c.SetTableName("family");
  c.SetExclusive(true);
  c.CreateTable(creation, fields);
  c.OpenCursor();
  std::vector<std::uint8_t> buffer(c.GetRecordSize());
  for (std::int64_t i = 0; i < count; ++i) {
    const Person p = PersonOf(i);
    c.InitRecord(buffer.data());
    c.PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(p.surname.c_str()));
    c.PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(p.forename.c_str()));
    c.PutField(3, buffer.data(), reinterpret_cast<const std::uint8_t*>(&p.year));
    c.PutField(4, buffer.data(), reinterpret_cast<const std::uint8_t*>(p.place.c_str()));
    c.AppendRecord(buffer.data(), false);
  }
  c.CloseCursor();
}

void SqliteFamily(const std::string& path, std::int64_t count) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db);
  Check(sqlite3_exec(db, "create table family(surname text, forename text, year integer, place text); begin",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "insert into family values (?, ?, ?, ?)", -1, &insert, nullptr), db);
  for (std::int64_t i = 0; i < count; ++i) {
    const Person p = PersonOf(i);
    sqlite3_bind_text(insert, 1, p.surname.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, p.forename.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 3, p.year);
    sqlite3_bind_text(insert, 4, p.place.c_str(), -1, SQLITE_TRANSIENT);
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "commit; create index by_surname on family(surname); create index by_year on family(year)",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_close(db);
}

// One query on an open cursor: the filter added and activated, then either
// every visible record read (two fields summed) or the count taken; the
// filter dropped again. Answers the sum or the count.
double CursorFilter(TDataCursor& c, const std::string& text, bool count_only) {
  TFilter* f = c.AddFilter(0, text, nullptr, false, nullptr, {});
  c.ActivateFilter(f);
  double result = 0;
  if (count_only) {
    result = c.GetRecordCount();
  } else {
    std::vector<std::uint8_t> buffer(c.GetRecordSize());
    std::uint8_t name[32];
    std::int32_t year = 0;
    c.SetToBegin();
    while (c.GetNextRecord(buffer.data()) == 0) {
      c.GetField(2, buffer.data(), name);
      c.GetField(3, buffer.data(), reinterpret_cast<std::uint8_t*>(&year));
      result += year + name[0];
    }
  }
  c.DropFilter(f);
  return result;
}

// The same query in SQLite: prepared anew (text with its constants), or
// prepared once with parameters and run again with them bound.
double SqliteRun(sqlite3_stmt* select, bool count_only) {
  double result = 0;
  while (sqlite3_step(select) == SQLITE_ROW) {
    if (count_only) result = sqlite3_column_int(select, 0);
    else result += sqlite3_column_int(select, 1) + sqlite3_column_text(select, 0)[0];
  }
  return result;
}

std::string SqliteSelect(const std::string& where, bool count_only) {
  return (count_only ? "select count(*) from family where " : "select forename, year from family where ") + where;
}

double SqliteFilter(sqlite3* db, const std::string& where, bool count_only) {
  sqlite3_stmt* select = nullptr;
  Check(sqlite3_prepare_v2(db, SqliteSelect(where, count_only).c_str(), -1, &select, nullptr), db);
  const double result = SqliteRun(select, count_only);
  sqlite3_finalize(select);
  return result;
}

// A statement with parameters, prepared once; Run binds texts and whole
// numbers in order.
class SqliteBound {
public:
  SqliteBound(sqlite3* db, const std::string& where, bool count_only) : count_only_(count_only) {
    Check(sqlite3_prepare_v2(db, SqliteSelect(where, count_only).c_str(), -1, &select_, nullptr), db);
  }
  ~SqliteBound() { sqlite3_finalize(select_); }
  SqliteBound(const SqliteBound&) = delete;
  SqliteBound& operator=(const SqliteBound&) = delete;

  double Run(const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      const std::string& v = values[i];
      const bool number = !v.empty() && v.find_first_not_of("0123456789") == std::string::npos;
      if (number) sqlite3_bind_int(select_, static_cast<int>(i + 1), std::stoi(v));
      else sqlite3_bind_text(select_, static_cast<int>(i + 1), v.c_str(), -1, SQLITE_TRANSIENT);
    }
    const double result = SqliteRun(select_, count_only_);
    sqlite3_reset(select_);
    return result;
  }

private:
  sqlite3_stmt* select_ = nullptr;
  bool count_only_;
};

// One batch of a query: run until 20 ms have passed (3 runs at least);
// the mean wall and CPU time of one run.
struct Batch {
  double wall = 0, cpu = 0;
};
Batch TimeBatch(const std::function<void()>& query) {
  const auto start = bench::Clock::now();
  const double cpu = bench::ThreadCpuSeconds();
  int runs = 0;
  double wall = 0;
  do {
    query();
    ++runs;
    wall = bench::Seconds(bench::Clock::now() - start);
  } while (runs < 3 || wall < 0.02);
  return {wall / runs, (bench::ThreadCpuSeconds() - cpu) / runs};
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t records = 200000, appends = 100000, family = 100000, repeats = 5;
  bool filters_only = false, check = false, all_met = true;
  std::int64_t only_query = 0;
  bench::OptionReader options(argc, argv, "table_bench",
                              "[--records N] [--appends N] [--family N] [--repeats N] [--filters-only] [--query 1-3] [--check]");
  for (std::string option; options.Next(option);) {
    if (option == "--records") records = options.Number();
    else if (option == "--appends") appends = options.Number();
    else if (option == "--family") family = std::max<std::int64_t>(100, options.Number());
    else if (option == "--repeats") repeats = std::max<std::int64_t>(1, options.Number());
    else if (option == "--filters-only") filters_only = true;
    else if (option == "--query") only_query = options.Number();
    else if (option == "--check") check = true;
    else options.Fail("unknown option " + option);
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "qv-table-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const std::string folder = pattern;
  const int r = static_cast<int>(repeats);
  try {
    if (!filters_only) {
      TKORVEXDatabase* dir = Session().OpenDatabase(folder);
      // The three by turns, medians of the repeats.
      const std::vector<double> appended =
          bench::MediansByTurns(r, {[&] { CursorAppend(dir->Handle(), appends); },
                                    [&] { DataSetAppend(folder, dir->Handle(), appends); },
                                    [&] { SqliteAppend(folder + "/bench.db", appends); }});
      const double cursor_append = appended[0], dataset_append = appended[1], sqlite_append = appended[2];

      CursorAppend(dir->Handle(), records);
      SqliteAppend(folder + "/bench.db", records);
      double a = 0, b = 0, c = 0;
      const std::vector<double> scanned =
          bench::MediansByTurns(r, {[&] { a = CursorScan(dir->Handle(), "cursor"); },
                                    [&] { b = DataSetScan(folder, "cursor"); },
                                    [&] { c = SqliteScan(folder + "/bench.db"); }});
      const double cursor_scan = scanned[0], dataset_scan = scanned[1], sqlite_scan = scanned[2];
      Session().CloseDatabase(dir);
      if (a != b || a != c) {
        std::fprintf(stderr, "the scans disagree: %.17g %.17g %.17g\n", a, b, c);
        return 1;
      }
      std::printf("%-34s %10s %10s %8s\n", "", "seconds", "per rec", "ratio");
      // bar 0: shown only.
      auto line = [&](const char* what, double s, std::int64_t n, double base, double bar) {
        const bool met = bar == 0 || bench::Met(s / base, bar);
        all_met = all_met && met;
        std::printf("%-38s %10.4f %8.0f ns %8.2f %s\n", what, s, s / static_cast<double>(n) * 1e9, s / base,
                    bar == 0 ? "" : met ? "met" : "MISSED");
      };
      line("append: engine cursor loop, no sync", cursor_append, appends, cursor_append, 0);
      line("append: TKORVEXDataSet, no sync", dataset_append, appends, cursor_append, 1.3);
      line("append: SQLite C API, one txn, no sync", sqlite_append, appends, cursor_append, 0);
      line("scan 3 fields: engine cursor loop", cursor_scan, records, cursor_scan, 0);
      line("scan 3 fields: TKORVEXDataSet", dataset_scan, records, cursor_scan, 1.5);
      line("scan 3 fields: SQLite C API", sqlite_scan, records, cursor_scan, 0);
      std::printf("medians of %d by turns, load average %s\n", r, bench::LoadAverage().c_str());
    }
    std::printf("SQLite %s\n", sqlite3_libversion());

    // Filters: each query in turn on both sides, medians of the repeats.
    TKORVEXDatabase* fdir = Session().OpenDatabase(folder);
    FamilyTable(fdir->Handle(), family);
    SqliteFamily(folder + "/family.db", family);
    struct Query {
      const char* what;
      std::string ours, lite, bound;
      std::vector<std::string> values;
      bool count;
      double limit;
    } queries[] = {
        {"filter, indexed, read through", "Surname = 'Name77' AND Year BETWEEN 1700 AND 1780",
         "surname = 'Name77' and year between 1700 and 1780", "surname = ? and year between ? and ?",
         {"Name77", "1700", "1780"}, false, 1.5},
        {"filter, indexed, count", "Surname = 'Name77' AND Year BETWEEN 1700 AND 1780",
         "surname = 'Name77' and year between 1700 and 1780", "surname = ? and year between ? and ?",
         {"Name77", "1700", "1780"}, true, 1.5},
        {"filter, unindexed, read through", "Forename = 'Mary' AND Place <> 'London'",
         "forename = 'Mary' and place <> 'London'", "forename = ? and place <> ?", {"Mary", "London"}, false, 2.0},
    };
    TDataCursor fc(fdir->Handle());
    fc.SetTableName("family");
    fc.SetExclusive(true);
    fc.OpenCursor();
    sqlite3* lite = nullptr;
    Check(sqlite3_open((folder + "/family.db").c_str(), &lite), lite);
    // Held exclusively from its first read on, as the engine's cursor is.
    Check(sqlite3_exec(lite, "pragma locking_mode=exclusive", nullptr, nullptr, nullptr), lite);
    // Ours adds the filter text each time (the cursor keeps its prepared
    // texts); SQLite's statement with parameters is prepared once and bound
    // each time, the ratio's base. SQLite preparing the text each time is
    // shown beside it.
    std::printf("\nfilters on %lld family records, medians of %d (load average %s)\n", static_cast<long long>(family),
                r, bench::LoadAverage().c_str());
    std::printf("%-34s %10s %10s %10s %10s %10s %6s\n", "", "ours", "SQLite", "ours CPU", "SQLite CPU",
                "SQL anew", "ratio");
    for (const Query& q : queries) {
      if (only_query != 0 && &q - queries + 1 != only_query) continue;
      std::vector<double> ours, theirs, ours_cpu, theirs_cpu, anew;
      double a = 0, b = 0, c = 0;
      SqliteBound bound(lite, q.bound, q.count);
      for (int i = 0; i < r; ++i) {
        const Batch o = TimeBatch([&] { a = CursorFilter(fc, q.ours, q.count); });
        const Batch t = TimeBatch([&] { b = bound.Run(q.values); });
        const Batch n = TimeBatch([&] { c = SqliteFilter(lite, q.lite, q.count); });
        ours.push_back(o.wall);
        theirs.push_back(t.wall);
        ours_cpu.push_back(o.cpu);
        theirs_cpu.push_back(t.cpu);
        anew.push_back(n.wall);
      }
      if (a != b || a != c) {
        std::fprintf(stderr, "%s: the answers disagree: %.17g %.17g %.17g\n", q.what, a, b, c);
        return 1;
      }
      const double ratio = bench::Median(ours) / bench::Median(theirs);
      const bool met = bench::Met(ratio, q.limit);
      all_met = all_met && met;
      std::printf("%-34s %7.1f us %7.1f us %7.1f us %7.1f us %7.1f us %6.2f (bar %.1f %s; CPU ratio %.2f)\n", q.what,
                  bench::Median(ours) * 1e6, bench::Median(theirs) * 1e6, bench::Median(ours_cpu) * 1e6,
                  bench::Median(theirs_cpu) * 1e6, bench::Median(anew) * 1e6, ratio, q.limit, met ? "met" : "MISSED",
                  bench::Median(ours_cpu) / bench::Median(theirs_cpu));
    }
    sqlite3_close(lite);
    fc.CloseCursor();
    Session().CloseDatabase(fdir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "table_bench: %s\n", e.what());
    FinalizeSessions();
    std::filesystem::remove_all(folder);
    return 1;
  }
  FinalizeSessions();
  std::filesystem::remove_all(folder);
  return check && !all_met ? 1 : 0;
}
