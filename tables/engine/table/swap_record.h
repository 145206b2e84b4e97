// The swap record: the file moves that put a rewritten table in the place
// of the old one (optimize, restructure, upgrade), written down before the
// first move so that a process killed between two of them (or a power
// loss) leaves a table the next open puts right.
//
// "<table>.SWP", beside the table's data file, text in Windows-1252:
//   QVSWAP 1
//   <aside count> <in count> <delete aside: 0 or 1>
//   <from>\t<to>        one line per move, the aside moves first
//   CRC <crc32 of every byte before this line, 8 hex digits>
// A name without '/' is in the record's folder; others are absolute. The
// aside moves take the old files out of the table's names (to backup or
// set-aside names, in the same folder); the in moves bring the new files
// in (from the work folder, across file systems by copying). The record
// is synced, and its folder, before the first move; the folder again after
// the last; the record goes once the set-aside files went (when they are
// to go).
//
// The swapping process holds the record open exclusively; a record no one
// holds is a dead swap's. Its state is read from the files: an in move is
// done when its source is gone and its target there; both there is a copy
// cut short (the target goes, the move is not done); an in move done means
// every aside move was. Recovery finishes the swap when every new file is
// whole (in its work folder or in place), else puts the old files back and
// removes the new ones already in place. A record that fails its check was
// cut short while being written, before any move: it goes.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace rtl {
class TLockedFile;
}

namespace korvex {

struct TFileMove {
  std::string from, to;  // full paths
};

struct TSwapPlan {
  std::vector<TFileMove> aside;  // the old files out of the table's names
  std::vector<TFileMove> in;     // the new files into them
  bool delete_aside = false;     // the set-aside files go at the end
};

// A swap under way: the record written and synced on construction (raises
// 9218 with the system's reason when it cannot be), held until Finish or
// Abandon.
class TSwapRecord {
public:
  TSwapRecord(const std::string& table_base, const TSwapPlan& plan);
  ~TSwapRecord();
  TSwapRecord(const TSwapRecord&) = delete;
  TSwapRecord& operator=(const TSwapRecord&) = delete;
  // Every move made (and the set-aside files deleted when they go): the
  // folder synced, the record deleted.
  void Finish() noexcept;
  // Every move undone: the record goes. Left as it is (for the next open
  // to put right) when `undone` is false.
  void Abandon(bool undone) noexcept;

  static std::string RecordName(const std::string& table_base) { return table_base + ".SWP"; }

private:
  std::string path_;
  std::unique_ptr<rtl::TLockedFile> file_;
};

// Finishes or undoes the swap a dead process left for the table whose
// files are `table_base` + extension; a record a live process holds is
// waited for a while, then left. Answers whether a record was put right.
// Never raises.
bool RecoverTableSwap(const std::string& table_base);
// The same for every swap record in `folder`.
void RecoverFolderSwaps(const std::string& folder);

}  // namespace korvex
