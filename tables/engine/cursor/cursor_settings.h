// TCursorSettings: what a cursor's user sets on it beside its table and
// fields: the table's name, the options of its open, the switches that may
// change while open, the password callback and the reports of whole-table
// work. TDataCursor carries them; the setters that only a closed cursor
// takes (10031 while open) are the cursor's own (data_cursor.h).
#pragma once
#include <functional>
#include <string>

#include "tables/engine/base/maintenance_callbacks.h"

namespace korvex {

class TCursorSettings {
public:
  const std::string& GetTableName() const { return name_; }
  bool GetExclusive() const { return exclusive_; }
  bool GetReadOnly() const { return read_only_; }
  bool GetInMemory() const { return in_memory_; }
  bool GetOverrideExclusive() const { return override_exclusive_; }
  bool GetSuppressAutoIncValues() const { return suppress_auto_inc_; }
  bool GetIsSourceTable() const { return source_table_; }
  bool GetIsTemporary() const { return temporary_; }
  // Asked when the session lacks the table's password; true means "try
  // again" (the callback may have added the password to the session).
  void SetPasswordCallback(std::function<bool()> callback) { password_callback_ = std::move(callback); }
  // False without a password callback, else its answer.
  bool AskForPassword() { return password_callback_ ? password_callback_() : false; }

  // May change while open.
  void SetIsResultSet(bool value) { result_set_ = value; }
  bool GetIsResultSet() const { return result_set_; }
  // May change while open. A walk forwards in physical order
  // (GetNextRecord) reads through the data file's scan window past the
  // record cache, as it does inside a transaction, rather than filling the
  // cache with records it passes once (a query reading its sources once,
  // a result read from start to end). Off by default.
  void SetWalkPastCache(bool value) { walk_past_cache_ = value; }
  bool GetWalkPastCache() const { return walk_past_cache_; }
  // Set by table repair before it opens the cursor: open stops once the
  // buffers are set up (no header check, no positioning).
  void SetRepairMode(bool value) { repair_mode_ = value; }
  bool GetRepairMode() const { return repair_mode_; }
  // Set while restructuring: open skips the header check.
  void SetRestructureMode(bool value) { restructure_mode_ = value; }
  bool GetRestructureMode() const { return restructure_mode_; }

  // ---- maintenance reports (maintenance_callbacks.h) ----
  // Closing the cursor clears every callback but the two of the upgrade.
  const TMaintenanceCallbacks& Callbacks() const { return callbacks_; }
  void SetRepairProgressCallback(pProgressCallback f, void* user) { callbacks_.RepairProgress.Set(f, user); }
  void SetRepairLogCallback(pLogCallback f, void* user) { callbacks_.RepairLog.Set(f, user); }
  void SetUpgradeProgressCallback(pUpgradeProgressCallback f, void* user) { callbacks_.UpgradeProgress.Set(f, user); }
  void SetUpgradeLogCallback(pLogCallback f, void* user) { callbacks_.UpgradeLog.Set(f, user); }
  void SetIndexProgressCallback(pProgressCallback f, void* user) { callbacks_.IndexProgress.Set(f, user); }
  void SetCopyProgressCallback(pProgressCallback f, void* user) { callbacks_.CopyProgress.Set(f, user); }
  void SetOptimizeProgressCallback(pProgressCallback f, void* user) { callbacks_.OptimizeProgress.Set(f, user); }
  void SetRestructureProgressCallback(pProgressCallback f, void* user) {
    callbacks_.RestructureProgress.Set(f, user);
  }
  void SetDataLostCallback(pDataLostCallback f, void* user) { callbacks_.DataLost.Set(f, user); }
  void DoRepairProgress(std::uint32_t step, std::uint8_t percent) { callbacks_.RepairProgress(step, percent); }
  void DoRepairLog(const std::string& line) { callbacks_.RepairLog(line); }
  void DoUpgradeProgress(const std::string& text, std::uint8_t percent) { callbacks_.UpgradeProgress(text, percent); }
  void DoUpgradeLog(const std::string& line) { callbacks_.UpgradeLog(line); }
  void DoIndexProgress(std::uint32_t step, std::uint8_t percent) { callbacks_.IndexProgress(step, percent); }
  void DoCopyProgress(std::uint32_t step, std::uint8_t percent) { callbacks_.CopyProgress(step, percent); }
  void DoOptimizeProgress(std::uint32_t step, std::uint8_t percent) { callbacks_.OptimizeProgress(step, percent); }
  void DoRestructureProgress(std::uint32_t step, std::uint8_t percent) {
    callbacks_.RestructureProgress(step, percent);
  }
  void DoDataLost(TDataLossCause cause, const std::string& context, bool& stop_asking, bool& continue_restructure) {
    callbacks_.DataLost(cause, context, stop_asking, continue_restructure);
  }

protected:
  TCursorSettings() = default;
  ~TCursorSettings() = default;
  TCursorSettings(const TCursorSettings&) = delete;
  TCursorSettings& operator=(const TCursorSettings&) = delete;

  TMaintenanceCallbacks callbacks_;
  std::string name_;
  bool exclusive_ = false, override_exclusive_ = false, read_only_ = false, in_memory_ = false;
  bool suppress_auto_inc_ = false;
  bool walk_past_cache_ = false;
  bool result_set_ = false, source_table_ = false, temporary_ = false;
  bool repair_mode_ = false, restructure_mode_ = false;
  std::function<bool()> password_callback_;
};

}  // namespace korvex
