// Shared helpers of the engine's file tests: a fake owning table, a scratch
// table on disk, and the independent file checker (tools/tablecheck.py).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tables/engine/cache/spill_file.h"
#include "tables/engine/cache/table_host.h"
#include "tables/engine/files/data_file.h"

namespace korvex::testing {

// A table as the files see it, every answer a setting of the test.
class FakeHost : public TTableHost {
public:
  std::string name = "T";
  bool writes_held = false;
  bool exclusive = true;
  bool written = false;
  bool force_flush = false;
  bool strict = false;
  bool primary_index = true;
  bool report_changes = false;  // the next internal read lock finds changes
  bool in_repair = false;
  std::uint32_t read_ahead = 0;  // 0: the limit
  int read_locks = 0;
  std::vector<std::string> log;

  std::string TableName() const override { return name; }
  bool WritesHeld() const override { return writes_held; }
  bool Exclusive() const override { return exclusive; }
  void MarkWritten() override { written = true; }
  bool Written() const override { return written; }
  bool TakeInternalReadLock(void*) override {
    ++read_locks;
    bool changes = report_changes;
    report_changes = false;
    return changes;
  }
  bool ForceBufferFlush() const override { return force_flush; }
  bool StrictChangeDetection() const override { return strict; }
  bool HasPrimaryIndex() const override { return primary_index; }
  std::uint32_t ReadAheadCount(void*, std::uint32_t, std::uint32_t limit, int) override {
    return read_ahead == 0 ? limit : read_ahead;
  }
  bool InRepair(void*) const override { return in_repair; }
  void RepairLog(void*, const std::string& line) override { log.push_back(line); }
  std::string PrivateDirectory() const override { return {}; }
};

// A field definition with the size and offsets left to AssignLayout.
TFieldDefinition Field(const std::string& name, std::uint8_t type, std::uint8_t size = 0, std::uint8_t sub = 0,
                       std::uint8_t decimals = 0);
// Numbers, physical sizes and offsets as table creation hands them out.
void AssignLayout(std::vector<TFieldDefinition>& fields);

// Creates a table's data file (header and definitions written) and leaves
// it open.
std::unique_ptr<TDataFile> CreateTable(FakeHost& host, const std::string& path, std::vector<TFieldDefinition> fields,
                                       const TDataFileSettings& settings = {});

// Each file of a folder by name: its bytes.
std::map<std::string, std::string> FolderFiles(const std::string& folder);

// Runs tools/tablecheck.py; its output and exit status.
struct CheckResult {
  int status = -1;
  std::string output;
};
CheckResult RunTableCheck(const std::string& dat_path, const std::string& options = {});
// The key pairs of the engine, as --keys wants them.
std::string EngineKeysOption();
// The standard output of a python3 program (statements) with `path` bound
// to the file name.
std::string RunPython(const std::string& path, const std::string& python);
// Runs a python3 program (statements) with `path` bound to the file name.
void PatchFile(const std::string& path, const std::string& python);

// Appends `count` records, each filled by `fill` (record, index) when given.
void AppendRecords(TDataFile& file, int count, const std::function<void(TRecord*, int)>& fill = {});

// While it lives, a transaction's caches spill past small budgets (16 KB
// of records, 32 index pages by default); the defaults come back after.
struct SmallSpillLimits {
  explicit SmallSpillLimits(std::size_t record_bytes = 16 << 10, std::size_t pages = 32) {
    TSpillFile::SetLimits(record_bytes, pages);
  }
  ~SmallSpillLimits() { TSpillFile::SetLimits(0, 0); }
  SmallSpillLimits(const SmallSpillLimits&) = delete;
  SmallSpillLimits& operator=(const SmallSpillLimits&) = delete;
};

// While it lives, the file handlers' fault sites are counted and the k-th
// reached (`target`, 0: none) raises: a read error, a full table or a
// write error by the site.
struct FaultAt {
  explicit FaultAt(int k = 0);
  ~FaultAt();
  FaultAt(const FaultAt&) = delete;
  FaultAt& operator=(const FaultAt&) = delete;
  int target;
  int reached = 0;
};

// The engine error number raised by body, 0 when none.
int RaisedNumber(const std::function<void()>& body);

// Writes the header, definitions and records and expects a clean check.
void ExpectClean(TDataFile& file, const std::string& options = {});

}  // namespace korvex::testing
