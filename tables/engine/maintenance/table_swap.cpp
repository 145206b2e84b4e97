#include "tables/engine/maintenance/table_swap.h"

#include <memory>
#include <utility>
#include <vector>

#include "platform/runtime/files.h"
#include "platform/runtime/filelock.h"
#include "platform/runtime/os_files.h"
#include "tables/engine/table/swap_record.h"
#include "tables/lib/file_handler.h"


namespace korvex {
namespace {

struct TableFile {
  const char* ext;
  const char* backup;
  const char* aside;
};
constexpr TableFile kFiles[] = {{".DAT", ".DBK", ".DB~"}, {".IDX", ".IBK", ".IB~"}, {".BLB", ".BBK", ".BB~"}};

std::function<void(const std::string&, const std::string&)>& Hook() {
  static std::function<void(const std::string&, const std::string&)> hook;
  return hook;
}

class FileMoves {
public:
  explicit FileMoves(bool in_memory) : in_memory_(in_memory) {}

  bool Exists(const std::string& name) const {
    TFileHandler file;
    file.SetFileName(name);
    file.SetInMemory(in_memory_);
    return file.Exists();
  }
  void Delete(const std::string& name) const {
    TFileHandler file;
    file.SetFileName(name);
    file.SetInMemory(in_memory_);
    file.DeleteFile();
  }
  void Move(const std::string& from, const std::string& to) {
    if (Hook()) Hook()(from, to);
    TFileHandler file;
    file.SetFileName(from);
    file.SetInMemory(in_memory_);
    file.RenameFile(to);
    done_.emplace_back(from, to);
  }
  // Every move made, undone last first; nothing raised. False when a move
  // would not go back.
  bool Undo() noexcept {
    bool all = true;
    for (auto it = done_.rbegin(); it != done_.rend(); ++it) {
      try {
        TFileHandler file;
        file.SetFileName(it->second);
        file.SetInMemory(in_memory_);
        file.RenameFile(it->first);
      } catch (...) {
        all = false;
      }
    }
    done_.clear();
    return all;
  }

private:
  bool in_memory_;
  std::vector<std::pair<std::string, std::string>> done_;
};

}  // namespace

void SetTableSwapHook(std::function<void(const std::string&, const std::string&)> hook) { Hook() = std::move(hook); }

void RunTableSwapHook(const std::string& from, const std::string& to) {
  if (Hook()) Hook()(from, to);
}

void SwapInRewrittenTable(const TTableFileSet& rewritten, const TTableFileSet& table, bool keep_backup) {
  const bool in_memory = table.in_memory;
  FileMoves moves(in_memory);
  if (!in_memory) {
    // A swap a dead process left is put right before this one is planned.
    RecoverTableSwap(table.base);
    // The new files were made private in the work directory; they take the
    // table's permissions (a BLOB file new to the table those of its data
    // file).
    for (const TableFile& f : kFiles) {
      std::string from = table.base + f.ext;
      if (!moves.Exists(from)) from = table.base + ".DAT";
      if (moves.Exists(rewritten.base + f.ext)) rtl::CopyFileOwnership(from, rewritten.base + f.ext);
    }
  }
  TSwapPlan plan;
  plan.delete_aside = !keep_backup;
  for (const TableFile& f : kFiles) {
    const std::string old_name = table.base + f.ext;
    if (!moves.Exists(old_name)) continue;
    const std::string to = table.base + (keep_backup ? f.backup : f.aside);
    if (moves.Exists(to)) moves.Delete(to);
    plan.aside.push_back({old_name, to});
  }
  for (const TableFile& f : kFiles)
    if (moves.Exists(rewritten.base + f.ext)) plan.in.push_back({rewritten.base + f.ext, table.base + f.ext});
  // On disk the moves are recorded first: a kill between two of them is
  // put right by the next open (swap_record.h).
  std::unique_ptr<TSwapRecord> record;
  if (!in_memory) record = std::make_unique<TSwapRecord>(table.base, plan);
  try {
    for (const auto* list : {&plan.aside, &plan.in})
      for (const TFileMove& m : *list) moves.Move(m.from, m.to);
  } catch (...) {
    const bool undone = moves.Undo();
    if (record) record->Abandon(undone);
    throw;
  }
  if (!in_memory) {
    // The moves are on disk before a set-aside file goes.
    rtl::os::SyncFolder(rtl::ExtractFileDir(table.base));
    // The old files' journal (ended: their writers played theirs back
    // first) is no journal of the new ones.
    rtl::DeleteLockedFile(table.base + ".JNL");
    // A copy across file systems is owned by this process: once more.
    for (std::size_t i = 0; i < std::size(kFiles); ++i) {
      const std::string name = table.base + kFiles[i].ext;
      std::string from = table.base + (keep_backup ? kFiles[i].backup : kFiles[i].aside);
      if (!moves.Exists(from)) from = table.base + (keep_backup ? kFiles[0].backup : kFiles[0].aside);
      if (moves.Exists(name) && moves.Exists(from)) rtl::CopyFileOwnership(from, name);
    }
  }
  if (!keep_backup)
    for (const TFileMove& m : plan.aside) {
      try {
        moves.Delete(m.to);
      } catch (...) {
        // The table is in place; a set-aside file that will not go stays.
      }
    }
  if (record) record->Finish();
}

}  // namespace korvex
