// The engine's top level: engine start-up, sessions and data directories.
//
// A session (TDataSession) carries the settings its tables share and owns
// the data directories it opened. A directory (TDataDirectory) is one
// folder of tables, or the in-memory store "MEMORY"; it owns one table
// object per open table and runs directory-wide transactions.
//
// Identity: a directory is its canonical path (realpath, else the trimmed
// path with one trailing '/'), compared byte for byte, so "data" and "Data"
// are two folders. A table name resolves to the file the case-blind lookup
// finds; table objects are keyed by that file's canonical path, so "t" and
// "T" share an object only when they name the same file.
//
// Directory operations answer 0 or a negated engine error number: -11010
// for an empty name or a table not open here, -11013 for a table in use or
// held exclusively (here or by another process).
//
// A directory commit goes table by table: it is not atomic across tables.
//
// Threads: one thread per session; sessions carry no lock of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tables/engine/table/data_table.h"

namespace korvex {

class TDataDirectory;

class TDataSession {
public:
  TDataSession();
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  bool ForceBufferFlush = false;
  bool StrictChangeDetection = false;
  std::uint8_t LockRetryCount = 15;
  std::uint16_t LockWaitTime = 100;
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  TLockTiming Timing;

  const std::string& DefaultDirectory() const { return default_directory_; }
  std::string GetPrivateDirectory() const;
  void SetPrivateDirectory(const std::string& path);

  void AddPassword(const std::string& password);
  void DeletePassword(const std::string& password);
  void DeleteAllPasswords() { passwords_.clear(); }
  bool CheckForPassword(const std::string& password) const;
  std::size_t PasswordCount() const { return passwords_.size(); }

  bool GetHasOpenDirectories() const { return !directories_.empty(); }
  TDataDirectory* OpenDataDirectory(const std::string& name, const std::string& path);
  int CloseDataDirectory(TDataDirectory* directory);
  void FreeDataDirectories();

private:
  std::string default_directory_;
  std::string private_directory_;
  std::vector<std::string> passwords_;
  std::vector<std::unique_ptr<TDataDirectory>> directories_;
};

struct TOpenTableRequest {
  bool Exclusive = false;
  bool OverrideExclusive = false;
  bool InMemory = false;
  bool Temporary = false;
  bool ResultSet = false;
  bool SourceTable = false;
};

class TDataDirectory {
public:
  TDataDirectory(TDataSession* session, std::string name, std::string path);
  // Rolls back a running transaction, then closes and frees every table.
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession* Session() const { return session_; }
  const std::string& Name() const { return name_; }
  // With a trailing '/'; empty for "MEMORY".
  const std::string& Path() const { return path_; }
  bool IsMemory() const { return path_.empty(); }
  int UseCount() const { return use_count_; }
  void IncUseCount() { ++use_count_; }
  void DecUseCount() { if (use_count_ > 0) --use_count_; }
  bool GetHasOpenTables() const { return !tables_.empty(); }
  std::size_t TableObjectCount() const { return tables_.size(); }
  bool TransactionInProgress() const { return in_transaction_; }

  void ListTableNames(std::vector<std::string>& list) const;
  int OpenDataTable(const std::string& name, TDataTable*& table, const TOpenTableRequest& request);
  int CreateDataTable(const std::string& name, const TDataFileSettings& settings,
                      const std::vector<TFieldDefinition>& fields, bool in_memory, bool temporary,
                      TDataTable*& table);
  int CloseDataTable(TDataTable* table, bool discard_temporary = false);
  int RenameDataTable(const std::string& old_name, const std::string& new_name, bool as_backup, bool in_memory);
  int DeleteDataTable(const std::string& name, bool in_memory);
  bool DataTableExists(const std::string& name, bool in_memory) const;
  std::string GetTempDataTableName(bool in_memory) const;

  void StartTransaction();
  void RollbackTransaction();
  // `settle` as TDataTable::CommitTransaction's (keeping the transaction
  // open only).
  void CommitTransaction(bool final_commit, bool settle = true);
  void FreeDataTables();

  // The file name of a table here ("x" -> "<path>x.DAT", or the file that
  // the case-blind lookup finds).
  std::string TableFileName(const std::string& name) const;

private:
  TDataTable* Find(const std::string& name, bool in_memory) const;
  void Remove(TDataTable* table);
  // Runs a file operation on a table that no cursor here uses, through a
  // short-lived object; the object of a table it deletes or renames goes.
  int OnUnusedTable(const std::string& name, bool in_memory, const std::function<void(TDataTable&)>& operation);

  TDataSession* session_;
  std::string name_;
  std::string path_;
  std::vector<std::unique_ptr<TDataTable>> tables_;
  int use_count_ = 1;
  bool in_transaction_ = false;
};

// Engine start-up and the current session.
void InitializeKORVEX();
void ExitKORVEX();
bool KORVEXInitialized();
// Raises 10758 before InitializeKORVEX.
TDataSession* GetCurrentDataSession();
void SetCurrentDataSession(TDataSession* session);
void StartDataSession(TDataSession*& session);
void CloseDataSession(TDataSession* session);

// The session's default language from a locale name ("de_CH.UTF-8" ->
// 2055, "de" -> 1031); C, POSIX, empty or unknown -> 0.
std::uint16_t LanguageIDFromLocale(const std::string& locale);
// The language of the environment: LC_ALL, else LC_COLLATE, else LANG.
std::uint16_t DefaultLanguageID();

}  // namespace korvex
