// What a table file (data, index or BLOB file) asks of the table that owns
// it. The shared table object answers for a real table; tests use a fake.
//
// `cursor` is the caller's cursor, passed through untouched: the host uses it
// for the cursor's read-ahead rule, its internal read lock and its repair
// log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace korvex {

class TTableHost {
public:
  virtual ~TTableHost() = default;

  // The table's name, the context of every error the files raise.
  virtual std::string TableName() const = 0;
  // True while a transaction, or one cursor write, is in progress: caches
  // then grow instead of writing to the files.
  virtual bool WritesHeld() const = 0;
  virtual bool Exclusive() const = 0;
  // Told after every write to one of the table's files; Written answers
  // whether there has been one since the table was opened.
  virtual void MarkWritten() = 0;
  virtual bool Written() const = 0;
  // Takes the table's internal read lock for the cursor; true when its
  // change detection found changes made by others (the caller then gives up
  // and restarts its operation).
  virtual bool TakeInternalReadLock(void* cursor) = 0;
  // Session settings: flush to disk after every write; change detection
  // through read locks.
  virtual bool ForceBufferFlush() const = 0;
  virtual bool StrictChangeDetection() const = 0;
  virtual bool HasPrimaryIndex() const = 0;
  // How many records to read ahead from record n in `direction` (1 forward,
  // -1 backward) by the cursor's rule, at most `limit`.
  virtual std::uint32_t ReadAheadCount(void* cursor, std::uint32_t n, std::uint32_t limit,
                                       int direction) = 0;
  // Whether the cursor is verifying or repairing the table, and its log.
  virtual bool InRepair(void* cursor) const = 0;
  virtual void RepairLog(void* cursor, const std::string& line) = 0;
  // The session's private directory (temporary files).
  virtual std::string PrivateDirectory() const = 0;
};

// The files of one table opened on their own, outside any session (repair,
// upgrade, file checks): exclusive, no locks, no transaction, writes go
// straight to the files. Every answer that can differ is a setting.
class TStandaloneHost : public TTableHost {
public:
  std::string name;
  bool primary_index = false;
  bool repairing = false;
  std::string private_directory;
  std::function<void(const std::string& line)> log;  // empty: repair lines are dropped

  std::string TableName() const override { return name; }
  bool WritesHeld() const override { return false; }
  bool Exclusive() const override { return true; }
  void MarkWritten() override {}
  bool Written() const override { return false; }
  bool TakeInternalReadLock(void*) override { return false; }
  bool ForceBufferFlush() const override { return false; }
  bool StrictChangeDetection() const override { return false; }
  bool HasPrimaryIndex() const override { return primary_index; }
  // Records asked for with the cursor's rule: one, so that the data file
  // reads ahead only what follows in order and takes the neighbours of a
  // record met out of order as clean copies.
  std::uint32_t ReadAheadCount(void*, std::uint32_t, std::uint32_t, int) override { return 1; }
  bool InRepair(void*) const override { return repairing; }
  void RepairLog(void*, const std::string& line) override {
    if (log) log(line);
  }
  std::string PrivateDirectory() const override { return private_directory; }
};

}  // namespace korvex
