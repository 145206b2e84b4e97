// The record sort against SQLite in the same run: a table of 64-byte records
// (an integer and a 48-character string) sorted on both fields with the
// engine's external merge, beside SQLite's
// CREATE TABLE ... AS SELECT ... ORDER BY over the same rows. Prints the
// median times, their ratio, and the memory the sort took beyond what the
// process held before it (peak resident set, reset before the sort).
//
//   sort_bench [--records N] [--repeats N] [--check]   (1,000,000 records, 3 repeats)
// --check exits 1 when a bar is missed. The work goes into a new temporary
// folder of the run's own.
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/maintenance/record_sort.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"

namespace {

using namespace korvex;

std::int64_t StatusKilobytes(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::atoll(line.c_str() + std::strlen(key));
  return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::string Text(std::mt19937& rng) {
  std::string s(48, ' ');
  for (char& c : s) c = static_cast<char>('a' + rng() % 26);
  return s;
}

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
}

// Writes the rows into a fresh engine table and a fresh SQLite database.
void Fill(TDataDirectory* dir, const std::string& db_path, std::int64_t records, unsigned seed) {
  TFieldDefinition key, text;
  key.Name = "K";
  key.DataType = dtInteger;
  text.Name = "S";
  text.DataType = dtString;
  text.Size = 48;
  std::vector<TFieldDefinition> fields{key, text};
  TDataCursor c(dir);
  c.SetTableName("sorted");
  c.SetExclusive(true);
  TTableCreation creation;
  creation.Overwrite = true;
  c.CreateTable(creation, fields);
  c.OpenCursor();
  if (c.GetRecordSize() != 64) std::fprintf(stderr, "record size %u\n", c.GetRecordSize());

  std::filesystem::remove(db_path);
  sqlite3* db = nullptr;
  Check(sqlite3_open(db_path.c_str(), &db), db);
  Check(sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF; CREATE TABLE t(k INTEGER, s TEXT);"
                         "BEGIN;", nullptr, nullptr, nullptr), db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t VALUES(?, ?)", -1, &insert, nullptr), db);

  std::mt19937 rng(seed);
  std::vector<std::uint8_t> buffer(c.GetRecordSize());
  for (std::int64_t i = 0; i < records; ++i) {
    auto k = static_cast<std::int32_t>(rng() % 100000);
    std::string s = Text(rng);
    c.InitRecord(buffer.data());
    c.PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&k));
    c.PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(s.c_str()));
    c.AppendRecord(buffer.data());
    sqlite3_bind_int(insert, 1, k);
    sqlite3_bind_text(insert, 2, s.c_str(), -1, SQLITE_TRANSIENT);
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  c.CloseCursor();
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

double EngineSort(TDataDirectory* dir, std::int64_t& extra_kb, std::uint32_t& runs) {
  TDataCursor c(dir);
  c.SetTableName("sorted");
  c.SetExclusive(true);
  c.OpenCursor();
  TRecordSortRequest request;
  request.Fields = {{c.GetFieldDefinitionByPos(1), false}, {c.GetFieldDefinitionByPos(2), false}};
  const std::int64_t before = StatusKilobytes("VmRSS:");
  ResetPeak();
  const auto start = bench::Clock::now();
  TRecordSortResult result = SortRecordBuffers(c.Table()->DataFile(), request);
  const double seconds = bench::Seconds(bench::Clock::now() - start);
  extra_kb = StatusKilobytes("VmHWM:") - before;
  runs = result.Runs;
  c.Table()->IndexFile().SetActualRecordCount(result.Records);
  c.CloseCursor();
  return seconds;
}

double SqliteSort(const std::string& db_path) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(db_path.c_str(), &db), db);
  Check(sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF; DROP TABLE IF EXISTS u;", nullptr,
                     nullptr, nullptr), db);
  const auto start = bench::Clock::now();
  Check(sqlite3_exec(db, "CREATE TABLE u AS SELECT * FROM t ORDER BY k, s;", nullptr, nullptr, nullptr), db);
  const double seconds = bench::Seconds(bench::Clock::now() - start);
  sqlite3_close(db);
  return seconds;
}

using bench::Median;

}  // namespace

int main(int argc, char** argv) {
  std::int64_t records = 1000000, repeats = 3;
  bool check = false;
  bench::OptionReader options(argc, argv, "sort_bench", "[--records N] [--repeats N] [--check]");
  for (std::string option; options.Next(option);) {
    if (option == "--records") records = options.Number();
    else if (option == "--repeats") repeats = std::max<std::int64_t>(1, options.Number());
    else if (option == "--check") check = true;
    else options.Fail("unknown option " + option);
  }
  // A folder of this run's own, so that runs side by side keep apart.
  std::string pattern = (std::filesystem::temp_directory_path() / "qv-sort-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("sort_bench: mkdtemp");
    return 2;
  }
  const std::filesystem::path folder = pattern;
  InitializeKORVEX();
  TDataSession session;
  session.SetPrivateDirectory(folder.string());
  TDataDirectory* dir = session.OpenDataDirectory("bench", folder.string());
  const std::string db_path = (folder / "sort.sqlite").string();

  std::vector<double> engine, sqlite;
  std::int64_t extra_kb = 0;
  std::uint32_t runs = 0;
  for (std::int64_t r = 0; r < repeats; ++r) {
    Fill(dir, db_path, records, static_cast<unsigned>(r + 1));
    std::int64_t kb = 0;
    engine.push_back(EngineSort(dir, kb, runs));
    extra_kb = std::max(extra_kb, kb);
    sqlite.push_back(SqliteSort(db_path));
  }
  const double e = Median(engine), s = Median(sqlite);
  std::printf("records %lld of 64 bytes, %u runs\n", static_cast<long long>(records), runs);
  std::printf("engine sort            %8.3f s (median of %lld)\n", e, static_cast<long long>(repeats));
  std::printf("SQLite CREATE AS ORDER %8.3f s (median)\n", s);
  const double mb = static_cast<double>(extra_kb) / 1024;
  const bool time_met = bench::Met(e / s, 2.0), memory_met = bench::Met(mb, 16);
  std::printf("ratio engine / SQLite  %8.2f   (bar 2.0, goal 0.7) %s\n", e / s, time_met ? "met" : "MISSED");
  std::printf("memory beyond before   %8.1f MB (bar 16) %s\n", mb, memory_met ? "met" : "MISSED");
  std::printf("load average %s\n", bench::LoadAverage().c_str());
  std::filesystem::remove_all(folder);
  return check && !(time_met && memory_met) ? 1 : 0;
}
