// The components' root: the list of sessions, the session component (one
// engine session), the database component (one engine directory) and the
// engine lock.
//
// Life: `Sessions()` and `Session()` (the default session "Default") are
// made on first use; `FinalizeSessions()` tears them down (program exit,
// tests), stopping the engine while the globals still live.
//
// Engine lock: one re-entrant critical section owned by the list. A
// session's LockSession is re-entrant through the session's lock count,
// tested before the section is entered, so one session belongs to one
// thread at a time: threads that work in parallel use separate sessions.
//
// Databases: datasets ask their session for a database by name
// (DoOpenDatabase); a missing one is made on demand as a temporary
// database, counted by the datasets that hold it. Every database that
// holds a directory holds its own use count of it, so closing one never
// frees a directory another still uses.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/runtime/classes.h"
#include "platform/runtime/strings.h"
#include "platform/runtime/sync.h"

namespace korvex {

class TDataSession;
class TDataDirectory;
class TKORVEXSession;
class TKORVEXDatabase;
class TKORVEXDBDataSet;

inline constexpr const char* kComponentEngineVersion = "2.11";

enum TKORVEXDatabaseEvent : std::uint8_t { dbOpen, dbClose, dbAdd, dbRemove };

using TKORVEXPasswordEvent = std::function<void(TKORVEXSession* sender, bool& continue_)>;
using TKORVEXDatabaseNotifyEvent = std::function<void(TKORVEXDatabaseEvent event, TKORVEXDatabase* database)>;
using TNotifyEvent = std::function<void(rtl::TObject* sender)>;

class TKORVEXSessionList {
public:
  TKORVEXSessionList() = default;
  // Frees every session, last first.
  ~TKORVEXSessionList();
  TKORVEXSessionList(const TKORVEXSessionList&) = delete;
  TKORVEXSessionList& operator=(const TKORVEXSessionList&) = delete;

  void AddSession(TKORVEXSession* session);
  void RemoveSession(TKORVEXSession* session);
  void CloseAll();
  int GetCount();
  TKORVEXSession* GetSession(int index);
  TKORVEXSession* GetCurrentSession();
  // Empty name: the default session; else the first of that name (case-blind).
  TKORVEXSession* FindSession(const std::string& name);
  // "Session name %s is not valid." when there is none.
  TKORVEXSession* GetSessionByName(const std::string& name);
  void GetSessionNames(rtl::TStrings& list);
  // Finds or makes (with no owner) the session of that name and starts it.
  TKORVEXSession* OpenSession(const std::string& name);
  void SetCurrentSession(TKORVEXSession* session);

  rtl::TCriticalSection& EngineLock() { return engine_lock_; }
  // The lowest free auto-session number, taken; and giving one back.
  int TakeAutoNumber();
  void ReleaseAutoNumber(int number);

  // A copy of the list, taken under its lock.
  std::vector<TKORVEXSession*> Snapshot();

private:

  std::recursive_mutex list_lock_;
  std::vector<TKORVEXSession*> sessions_;
  std::vector<bool> auto_numbers_;
  rtl::TCriticalSection engine_lock_;
};

// The list, made with the default session on first use.
TKORVEXSessionList& Sessions();
// The default session "Default".
TKORVEXSession& Session();
// Frees every session (stopping the engine); the next use starts afresh.
void FinalizeSessions();

// Where a session without OnPassword turns for a password (the program
// points it at the password dialog); without one the answer is false.
void SetPasswordHook(std::function<bool(TKORVEXSession& session)> hook);

class TKORVEXSession : public rtl::TComponent {
public:
  // "This auto-session already exists." when the owner has an auto session.
  explicit TKORVEXSession(rtl::TComponent* owner);
  ~TKORVEXSession() override;
  std::string ClassName() const override { return "TKORVEXSession"; }

  std::string EngineVersion() const { return kComponentEngineVersion; }
  void SetEngineVersion(const std::string&) {}
  bool Active() const { return handle_ != nullptr; }
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool IsDefault() const { return default_; }

  bool AutoSessionName() const { return auto_session_name_; }
  void SetAutoSessionName(bool value);
  bool KeepConnections = true;
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  const std::string& PrivateDir() const { return private_dir_; }
  void SetPrivateDir(const std::string& path);
  void SetName(const std::string& name) override;
  int AutoSessionNumber() const { return auto_number_; }

  bool ForceBufferFlush() const { return force_buffer_flush_; }
  void SetForceBufferFlush(bool value);
  bool StrictChangeDetection() const { return strict_change_detection_; }
  void SetStrictChangeDetection(bool value);
  std::uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(std::uint8_t value);
  std::uint16_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(std::uint16_t value);
  std::uint16_t LanguageID() const { return language_id_; }
  void SetLanguageID(std::uint16_t value);
  // Kept while inactive for the next start.
  std::uint16_t SortID() const { return sort_id_; }
  void SetSortID(std::uint16_t value);

  TNotifyEvent OnStartup;
  TKORVEXPasswordEvent OnPassword;
  TKORVEXDatabaseNotifyEvent OnDBNotify;

  // ---- databases
  TKORVEXDatabase* OpenDatabase(const std::string& name) { return DoOpenDatabase(name, nullptr); }
  TKORVEXDatabase* DoOpenDatabase(const std::string& name, rtl::TComponent* owner);
  void CloseDatabase(TKORVEXDatabase* database);
  TKORVEXDatabase* FindDatabase(const std::string& name);
  TKORVEXDatabase* DoFindDatabase(const std::string& name, rtl::TComponent* owner);
  TDataDirectory* FindDatabaseHandle(const std::string& name);
  void DropConnections();
  void GetDatabaseNames(rtl::TStrings& list);
  void GetTableNames(const std::string& database_name, rtl::TStrings& list);
  int GetDatabaseCount() const { return static_cast<int>(databases_.size()); }
  TKORVEXDatabase* GetDatabase(int index) const { return databases_.at(static_cast<std::size_t>(index)); }
  void AddDatabase(TKORVEXDatabase* database);
  void RemoveDatabase(TKORVEXDatabase* database);

  // ---- passwords
  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  // The engine's password callback: OnPassword, else the password hook.
  bool GetPassword();

  // ---- engine lock and handle
  void LockSession();
  void UnlockSession();
  int LockCount() const { return static_cast<int>(lock_count_); }
  void MakeCurrent();
  // The engine session, starting this session when needed; made current.
  TDataSession* GetHandle();
  TDataSession* Handle() const { return handle_; }

  void Loaded() override;
  void SetStreamedActive(bool value) { streamed_active_ = value; }

private:
  friend class TKORVEXSessionList;
  friend class TKORVEXDatabase;
  void StartSession(bool value);
  void Stop();
  void UpdateAutoName();
  // Datasets and databases of the owner take the auto name.
  void SpreadSessionName();
  // A setting stored here and, on an active session, copied into the
  // engine session under the engine lock.
  template <typename T>
  void ChangeSetting(T TKORVEXSession::*own, T TDataSession::*engine, T value);

  TDataSession* handle_ = nullptr;
  std::vector<TKORVEXDatabase*> databases_;
  bool streamed_active_ = false;
  bool default_ = false;
  bool auto_session_name_ = false;
  bool updating_auto_name_ = false;
  bool destroying_ = false;
  std::string session_name_;
  int auto_number_ = -1;
  std::string private_dir_;
  std::uint32_t lock_count_ = 0;
  bool force_buffer_flush_ = false;
  bool strict_change_detection_ = false;
  std::uint8_t lock_retry_count_ = 15;
  std::uint16_t lock_wait_time_ = 100;
  std::uint16_t language_id_ = 0;
  std::uint16_t sort_id_ = 0;
};

// Holds a session's engine lock for its lifetime.
class SessionLock {
public:
  explicit SessionLock(TKORVEXSession& session) : session_(session) { session_.LockSession(); }
  ~SessionLock() { session_.UnlockSession(); }
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

private:
  TKORVEXSession& session_;
};

class TKORVEXDatabase : public rtl::TComponent {
public:
  // The session is the owner when it is a session, else the default one.
  explicit TKORVEXDatabase(rtl::TComponent* owner);
  ~TKORVEXDatabase() override;
  std::string ClassName() const override { return "TKORVEXDatabase"; }

  std::string EngineVersion() const { return kComponentEngineVersion; }
  void SetEngineVersion(const std::string&) {}
  void Open();
  void Close();
  bool Connected() const { return handle_ != nullptr; }
  void SetConnected(bool value) { value ? Open() : Close(); }
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& name);
  const std::string& Directory() const { return directory_; }
  void SetDirectory(const std::string& path);
  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  bool HandleShared() const { return handle_shared_; }
  void SetHandleShared(bool value) { handle_shared_ = value; }
  bool KeepConnection() const { return keep_connection_; }
  void SetKeepConnection(bool value);
  bool Temporary() const { return temporary_; }
  int RefCount() const { return ref_count_; }
  TKORVEXSession* Session() const { return session_; }

  TNotifyEvent BeforeConnect;

  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const;

  TDataDirectory* Handle() const { return handle_; }
  // Adopts a directory of this session's engine session; not closed here.
  void SetHandle(TDataDirectory* directory);
  bool HandleAcquired() const { return acquired_; }

  int GetDataSetCount() const { return static_cast<int>(datasets_.size()); }
  TKORVEXDBDataSet* GetDataSet(int index) const { return datasets_.at(static_cast<std::size_t>(index)); }
  void AddDataSet(TKORVEXDBDataSet* dataset);
  void RemoveDataSet(TKORVEXDBDataSet* dataset);
  void CloseDataSets();

  void Loaded() override;
  void SetStreamedConnected(bool value) { streamed_connected_ = value; }

  // Resolves the session by SessionName and moves the database to it;
  // the name checks; with `activate`, the session is started.
  void CheckSessionName(bool activate);

private:
  friend class TKORVEXSession;
  void CheckDatabaseName();
  void ValidateName(const std::string& name);
  void SetSession(TKORVEXSession* session);

  std::vector<TKORVEXDBDataSet*> datasets_;
  bool keep_connection_ = true;
  bool temporary_ = false;
  bool streamed_connected_ = false;
  bool acquired_ = false;
  bool handle_shared_ = false;
  int ref_count_ = 0;
  TDataDirectory* handle_ = nullptr;
  TKORVEXSession* session_ = nullptr;
  std::string session_name_;
  std::string database_name_;
  std::string directory_;
};

// Whether a database name stands for a path: empty, or with a drive or a
// directory part.
bool IsDatabasePath(const std::string& name);

// The name of the auto session on `owner`, or "" (components made on that
// owner take it).
std::string AutoSessionNameOf(const rtl::TComponent* owner);

}  // namespace korvex
