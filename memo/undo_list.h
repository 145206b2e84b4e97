// The memo's undo list: one record per step, holding the range the step's
// text occupies after the step and the text it removed. Records 0 ..
// index-1 can be undone, index .. count-1 redone. A record marked linked
// belongs with the record before it: one user action, one Undo.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace memo {

struct UndoRecord {
  std::int32_t start = 0;
  std::int32_t stop = 0;
  bool linked = false;
  std::string text;  // what undoing puts back
  std::int64_t Size() const { return static_cast<std::int64_t>(text.size()) + 13; }
};

class UndoList {
public:
  static constexpr int kMaxLevelLimit = 134217727;

  int Count() const { return static_cast<int>(records_.size()); }
  int Index() const { return index_; }
  void SetIndex(int index) { index_ = index; }
  std::int64_t Total() const { return total_; }
  UndoRecord& At(int i) { return *records_.at(i); }
  const UndoRecord& At(int i) const { return *records_.at(i); }

  int MaxLevel() const { return max_level_; }
  int MaxSpace() const { return max_space_; }
  // Raises EListError "Undo set too high" above kMaxLevelLimit.
  void SetMaxLevel(int n);
  void SetMaxSpace(int n);

  void Clear();
  void Remove(int i);
  // Drops every record from the index on.
  void DropRedo();
  // Stores a new record at the index (replacing the one there) and raises
  // the index; returns it.
  UndoRecord& Put(std::unique_ptr<UndoRecord> record);
  void AddSize(std::int64_t bytes) { total_ += bytes; }
  // Trims to the space limit: redo records first, then the oldest ones.
  void TrimToSpace(bool keepRedo = false);

  // Replay state of the memo.
  bool replaying = false;
  bool undoing = false;
  bool caretMoved = false;
  // Grouping: records made while depth > 0 after the first are linked.
  int groupDepth = 0;
  bool groupStarted = false;

private:
  std::vector<std::unique_ptr<UndoRecord>> records_;
  int index_ = 0;
  std::int64_t total_ = 0;
  int max_level_ = 256;
  int max_space_ = 65536;
};

// One user action: records made while it lasts, after the first, are
// linked to the one before, so that one Undo reverts the whole action.
class UndoAction {
public:
  explicit UndoAction(UndoList& list) : list_(list) {
    if (list_.groupDepth++ == 0) list_.groupStarted = false;
  }
  ~UndoAction() { --list_.groupDepth; }
  UndoAction(const UndoAction&) = delete;
  UndoAction& operator=(const UndoAction&) = delete;

private:
  UndoList& list_;
};

}  // namespace memo
