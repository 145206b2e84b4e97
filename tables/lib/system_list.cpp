#include "tables/lib/system_list.h"

#include <cstring>

namespace korvex {

TSystemList::~TSystemList() { Clear(); }

void TSystemList::Grow() {
  std::int32_t delta = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
  SetCapacity(capacity_ + delta);
}

std::int32_t TSystemList::Add(void* item) {
  if (count_ == capacity_) Grow();
  items_[count_] = item;
  return count_++;
}

void TSystemList::Insert(std::int32_t index, void* item) {
  if (count_ == capacity_) Grow();
  if (index < count_)
    std::memmove(items_ + index + 1, items_ + index, (count_ - index) * sizeof(void*));
  items_[index] = item;
  ++count_;
}

void TSystemList::Delete(std::int32_t index) {
  --count_;
  if (index < count_)
    std::memmove(items_ + index, items_ + index + 1, (count_ - index) * sizeof(void*));
}

std::int32_t TSystemList::Remove(void* item) {
  std::int32_t index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

std::int32_t TSystemList::IndexOf(void* item) const {
  for (std::int32_t i = 0; i < count_; ++i)
    if (items_[i] == item) return i;
  return -1;
}

void TSystemList::Exchange(std::int32_t index1, std::int32_t index2) {
  void* item = items_[index1];
  items_[index1] = items_[index2];
  items_[index2] = item;
}

void TSystemList::Move(std::int32_t current_index, std::int32_t new_index) {
  if (current_index == new_index) return;
  void* item = items_[current_index];
  Delete(current_index);
  Insert(new_index, item);
}

TSystemList* TSystemList::Expand() {
  if (count_ == capacity_) Grow();
  return this;
}

void TSystemList::Pack() {
  for (std::int32_t i = count_ - 1; i >= 0; --i)
    if (!items_[i]) Delete(i);
}

void TSystemList::Assign(const TSystemList& source) {
  if (capacity_ < source.count_) SetCapacity(source.count_);
  if (source.count_ > 0) std::memcpy(items_, source.items_, source.count_ * sizeof(void*));
  count_ = source.count_;
}

void TSystemList::Clear() {
  SetCount(0);
  SetCapacity(0);
}

void TSystemList::SetCapacity(std::int32_t capacity) {
  if (capacity < 0) capacity = 0;
  if (capacity == capacity_) return;
  if (capacity == 0) {
    SafeFree(items_);
  } else {
    std::int32_t bytes = capacity * static_cast<std::int32_t>(sizeof(void*));
    items_ = static_cast<void**>(capacity_ == 0 ? SafeAlloc(bytes) : SafeReAlloc(items_, bytes));
  }
  capacity_ = capacity;
  if (count_ > capacity_) count_ = capacity_;  // never leave items beyond the array
}

void TSystemList::SetCount(std::int32_t count) {
  if (count < 0) count = 0;
  if (count > capacity_) SetCapacity(count);
  if (count > count_) std::memset(items_ + count_, 0, (count - count_) * sizeof(void*));
  count_ = count;
}

void TSystemList::Sort(TListSortCompare compare) {
  if (items_ && count_ > 0) QuickSort(items_, 0, count_ - 1, compare);
}

void QuickSort(void** items, std::int32_t left, std::int32_t right, TListSortCompare compare) {
  std::int32_t i;
  do {
    i = left;
    std::int32_t j = right;
    void* pivot = items[(left + right) / 2];
    do {
      while (compare(items[i], pivot) < 0) ++i;
      while (compare(items[j], pivot) > 0) --j;
      if (i <= j) {
        void* item = items[i];
        items[i] = items[j];
        items[j] = item;
        ++i;
        --j;
      }
    } while (i <= j);
    if (left < j) QuickSort(items, left, j, compare);
    left = i;
  } while (i < right);
}

}  // namespace korvex
