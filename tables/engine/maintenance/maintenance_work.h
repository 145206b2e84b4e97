// What the whole-table rewrites of a cursor's table (copy, optimize,
// restructure) hold while they work, each released on every path, and the
// record copy they share.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"
#include "tables/engine/table/work_claim.h"

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

// The settings of a new table like the data file's (Overwrite set).
TTableCreation CreationLike(const TDataFile& data);
// The open cursor's table's index definitions as creation takes them:
// entry 0 the primary index (cleared when there is none), then the
// secondary ones.
std::vector<TIndexDefinition> IndexDefinitions(const TDataCursor& cursor);
// The cursor's view of the fields, in order.
std::vector<TFieldDefinition> ViewFields(const TDataCursor& cursor);
// The highest record ID of the open cursor's table.
std::uint32_t HighestRecordID(TDataCursor& cursor);
// Closes with flushing; a failure is not raised (clean-up paths).
void CloseQuietly(TDataCursor& cursor) noexcept;

// Appends the current record of `source` (buffer `from`) to the open
// cursor `target`'s table: fields by the map (the target's field position
// for each of the source's, 0: left out), BLOBs by content, record ID kept.
void AppendCopyOf(TDataCursor& target, TDataCursor& source, const std::uint8_t* from,
                  const std::vector<int>& field_map);
// Sets the last record ID the open cursor's table handed out (a copy keeps
// its source's).
void KeepLastRecordID(TDataCursor& cursor, std::uint32_t last);

// Deletes whatever files of table `name` in `directory` are there (a table
// failed half-way or not); nothing raised.
void RemoveTableFiles(TDataDirectory* directory, const std::string& name, bool in_memory) noexcept;

// A table built for a rewrite under a temporary name of the work
// directory, open exclusively and taking the record IDs it is given, its
// name claimed on disk. It is deleted again unless it takes the old
// table's place.
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
  // Held while the work table's files exist (work_claim.h).
  std::unique_ptr<TWorkClaim> claim_;
  std::unique_ptr<TDataCursor> cursor_;
  bool swapped_ = false;
};

}  // namespace korvex
