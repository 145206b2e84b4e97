// Putting a rewritten table in the place of the old one (optimize,
// restructure). The new table is built and closed elsewhere first; then:
//   1. the new files take the old files' permission bits and group;
//   2. the old files move aside: to the backup names ".DBK", ".IBK",
//      ".BBK" (replacing earlier backups) when a backup is kept, else to
//      the set-aside names ".DB~", ".IB~", ".BB~";
//   3. the new files move to the table's name (across file systems by
//      copying);
//   4. without a backup the set-aside files are deleted.
// The old table is never deleted before the new one is in place: a failure
// in steps 2 or 3 moves every file back where it was and raises, leaving
// the old table as it was and the new one under its own name. On disk the
// moves of steps 2 and 3 are written down first (the swap record,
// table/swap_record.h): a process killed between two of them leaves a
// table that its next open finishes or puts back.
#pragma once

#include <functional>
#include <string>

namespace korvex {

// A table's files: `base` is the path (or, in memory, the name) without
// extension.
struct TTableFileSet {
  std::string base;
  bool in_memory = false;
};

void SwapInRewrittenTable(const TTableFileSet& rewritten, const TTableFileSet& table, bool keep_backup);

// Test hook, run before each move of steps 2 and 3 with the file's old and
// new name; it may raise to inject a failure.
void SetTableSwapHook(std::function<void(const std::string& from, const std::string& to)> hook);
// Runs the hook (when set): the upgrade's moves pass it too.
void RunTableSwapHook(const std::string& from, const std::string& to);

}  // namespace korvex
