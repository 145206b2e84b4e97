// Helpers of the whole-table operation tests: a session on a folder,
// tables of a fixed shape filled with records, snapshots of the records by
// ID, file digests, and a table torn by a writer killed inside a flush.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/maintenance/table_restructure.h"
#include "tables/engine/table/data_session.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {

using Bytes = std::vector<std::uint8_t>;

struct MaintenanceEnv {
  explicit MaintenanceEnv(const std::string& path);
  // Work tables go to a fresh folder on /dev/shm (another file system than
  // the table's; returned, to be checked and removed by the caller) or, with
  // on_tmpfs false, beside the table in `path` (returns "").
  std::string UseWorkFolder(const std::string& path, bool on_tmpfs);
  TDataSession session;
  TDataDirectory* dir = nullptr;
};

std::unique_ptr<TDataCursor> NewCursor(TDataDirectory* dir, bool exclusive, const std::string& name = "t");
// A restructure of c's table (opened and closed again) that keeps its
// settings and every field but `dropped`; no indexes.
TRestructureRequest WithoutField(TDataCursor& c, int dropped);

// Auto-increment ID, a hidden string, a name and a memo.
std::vector<TFieldDefinition> Shape();
void PutText(TDataCursor& c, int field, Bytes& buffer, const std::string& text);
// The memo of record i (empty for every third).
std::string Memo(int i);
// Creates table `name` with `count` records of Shape (every fourth
// deleted again); even records have names longer than 10 characters.
void Fill(TDataDirectory* dir, int count, const std::string& name = "t", TTableCreation creation = {},
          std::vector<TFieldDefinition> fields = Shape());

// Every live record by ID: its fields by name (BLOBs by content, blank
// fields as empty text).
using Snapshot = std::map<std::uint32_t, std::map<std::string, std::string>>;
Snapshot Read(TDataDirectory* dir, const std::string& name = "t", bool in_memory = false);
Snapshot Without(Snapshot s, const std::string& field);

std::string Path(const qvtest::TempDir& d, const std::string& file);
// A progress callback: step * 1000 + percent appended to the
// std::vector<std::uint32_t> that `user` points to.
bool RecordStep(void* user, std::uint32_t step, std::uint8_t percent);
// The SHA-256 of each of the table's files ("-" for a missing one).
std::string FilesOf(const std::string& base);
bool AnyJournal(const std::string& dir);
void ExpectChecks(const std::string& dat);

// A table "t" (12 records, 9 live) whose last flush was cut short by
// kill -9: its files are torn and "t.JNL" holds what they were. `before`
// holds the records as they were (what playback gives back).
struct HotJournal {
  explicit HotJournal(const qvtest::TempDir& d);
  // Puts the torn files and the journal back.
  void Lay() const;
  std::map<std::string, std::string> Bytes3() const;
  void Lay3(const std::map<std::string, std::string>& bytes) const;
  std::string base, journal;
  std::map<std::string, std::string> torn;
  Snapshot before;
};

}  // namespace korvex::testing
