// What the whole-table operations of the cursor (copy, optimize,
// restructure) hold while they work, each released on every path.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

class TDataSession;

// A data directory opened for the work ("MEMORY" for in-memory tables).
class TWorkDirectory {
public:
  TWorkDirectory(TDataSession* session, bool in_memory, const std::string& path);
  ~TWorkDirectory();
  TWorkDirectory(const TWorkDirectory&) = delete;
  TWorkDirectory& operator=(const TWorkDirectory&) = delete;
  TDataDirectory* get() const { return directory_; }

private:
  TDataSession* session_;
  TDataDirectory* directory_;
};

// A password the session holds only for the work (when needed and not
// known already).
class TSessionPassword {
public:
  TSessionPassword(TDataSession* session, const std::string& password, bool needed);
  ~TSessionPassword();
  TSessionPassword(const TSessionPassword&) = delete;
  TSessionPassword& operator=(const TSessionPassword&) = delete;

private:
  TDataSession* session_;
  std::string password_;
  bool added_;
};

// The table's internal read lock for the work, unless already held (or not
// needed: exclusive or read-only files).
class TTableReadLock {
public:
  explicit TTableReadLock(TDataTable& table) : table_(table) {
    const bool before = table.InternalReadLockHeld();
    table.ReadLockTable();
    took_ = !before && table.InternalReadLockHeld();
  }
  ~TTableReadLock() {
    if (!took_) return;
    try {
      table_.ReadUnlockTable();
    } catch (...) {
    }
  }
  TTableReadLock(const TTableReadLock&) = delete;
  TTableReadLock& operator=(const TTableReadLock&) = delete;

private:
  TDataTable& table_;
  bool took_ = false;
};

// The settings of a new table like the data file's (Overwrite set).
TTableCreation CreationLike(const TDataFile& data);

// A table built for a rewrite under a temporary name of the work
// directory, open exclusively and taking the record IDs it is given. It is
// deleted again unless it takes the old table's place.
class TWorkTable {
public:
  TWorkTable(TWorkDirectory& work, bool in_memory, const TTableCreation& creation,
             std::vector<TFieldDefinition>& fields);
  ~TWorkTable();
  TWorkTable(const TWorkTable&) = delete;
  TWorkTable& operator=(const TWorkTable&) = delete;
  TDataCursor& Cursor() { return *cursor_; }
  // Closes this table and the source's cursor (both flushed), then puts
  // this table in the source's place (table_swap.h).
  void SwapInFor(TDataCursor& source, bool keep_backup);

private:
  TWorkDirectory& work_;
  bool in_memory_;
  std::string name_;
  std::unique_ptr<TDataCursor> cursor_;
  bool swapped_ = false;
};

}  // namespace korvex
