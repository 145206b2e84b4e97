#include "memo/undo_list.h"

#include <algorithm>

#include "memo/memo_errors.h"

namespace memo {

void UndoList::SetMaxLevel(int n) {
  if (n > kMaxLevelLimit) throw EListError("Undo set too high");
  for (int i = Count() - 1; i >= std::max(index_, n) && i >= 0; --i) Remove(i);
  while (n < index_ && Count() > 0) Remove(0);
  max_level_ = n;
}

void UndoList::SetMaxSpace(int n) {
  while (total_ > n && Count() > index_) Remove(Count() - 1);
  while (total_ > n && Count() > 0) Remove(0);
  max_space_ = n;
}

void UndoList::Clear() {
  records_.clear();
  index_ = 0;
  total_ = 0;
}

void UndoList::Remove(int i) {
  total_ -= records_.at(i)->Size();
  records_.erase(records_.begin() + i);
  if (i < index_) --index_;
}

void UndoList::DropRedo() {
  while (Count() > index_) Remove(Count() - 1);
}

UndoRecord& UndoList::Put(std::unique_ptr<UndoRecord> record) {
  total_ += record->Size();
  if (index_ < Count()) {
    total_ -= records_[index_]->Size();
    records_[index_] = std::move(record);
  } else {
    records_.push_back(std::move(record));
  }
  return *records_[index_++];
}

void UndoList::TrimToSpace(bool keepRedo) {
  if (!keepRedo)
    while (total_ > max_space_ && Count() > index_) Remove(Count() - 1);
  while (total_ > max_space_ && index_ >= 1) Remove(0);
}

}  // namespace memo
