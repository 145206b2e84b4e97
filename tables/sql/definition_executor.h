// TDefinitionExecutor: carries out CREATE TABLE, CREATE INDEX, ALTER
// TABLE, DROP TABLE and DROP INDEX through an engine cursor.
//
// Where the target lives: MEMORY before the name makes it an in-memory
// table of the statement's directory; a name with a directory part (the
// part up to its last delimiter) goes to that directory, opened through
// the session for as long as the executor lives; a plain name to the
// statement's directory.
//
// Column definitions become engine field definitions: a CHAR(n) column
// holds n characters, names keep 30 characters and value texts 50. The
// primary key is index definition 0 (an empty one without PRIMARY KEY);
// key columns are matched by name without regard to case (0 when none
// matches, which the engine refuses).
//
// ALTER TABLE applies its changes in statement order to the table's field
// list and then restructures the table once. Index key fields follow their
// columns through drops, moves and renames (they are kept by the field's
// identity, not its place); a column that an index still uses once every
// change applies is refused with "Column '<name>' is used by index
// '<index>' and cannot be dropped" before anything is written (dropping the
// key or index in the same statement comes first). Settings the statement
// does not give keep the table's values.
#pragma once

#include <memory>
#include <string>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/sql/data_query.h"

namespace korvex {

// The directory of a table a statement names, and the name's file part in
// `table_name`: the base directory for an in-memory table; for a name with
// a directory part that directory; for a plain name the base directory, or
// the session's private directory when `plain_to_private`. A directory
// opened through the session sets `owned`: the caller closes it
// (TDataSession::CloseDataDirectory) when done.
TDataDirectory* OpenTableLocation(TDataDirectory* base, const std::string& name, bool in_memory, bool plain_to_private,
                                  std::string& table_name, bool& owned);

// The settings of a table a query makes (a result, an INTO table, CREATE
// TABLE): the language and sort given, the query's BLOB block size,
// description and user versions, and encryption when it has a password and
// asks for it. The password itself is the caller's to set.
void FillTableSettings(const TDataQuery& query, std::uint16_t language, std::uint16_t sort,
                       TDataFileSettings& settings);

class TDefinitionExecutor {
public:
  explicit TDefinitionExecutor(TDataQuery& query);
  ~TDefinitionExecutor();
  TDefinitionExecutor(const TDefinitionExecutor&) = delete;
  TDefinitionExecutor& operator=(const TDefinitionExecutor&) = delete;

  void Prepare();
  void Execute();

  TDataDirectory* Directory() const { return directory_; }
  const std::string& TableName() const { return table_name_; }

private:
  std::unique_ptr<TDataCursor> NewCursor(bool open);
  void CreateTable();
  void CreateIndex();
  void AlterTable();
  // The table settings the statement gives (language, sort, description,
  // block size, versions, password) over those the table has.
  void ApplyGivenSettings(TDataFileSettings& settings) const;
  // Raises the error of an ALTER TABLE that would lose the record (number
  // in physical order) the restructure stopped at.
  [[noreturn]] void RefuseLoss(TDataLossCause cause, const std::string& context, std::uint32_t record,
                               const std::vector<TFieldDefinition>& old_fields,
                               const std::vector<TFieldDefinition>& fields) const;
  void DropTable();
  void DropIndex();

  TDataQuery& query_;
  TDataDirectory* directory_ = nullptr;
  bool own_directory_ = false;
  std::string table_name_;
  std::string index_name_;  // DROP INDEX
};

}  // namespace korvex
