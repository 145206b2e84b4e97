// TSystemList: the engine's own pointer list, used wherever the engine keeps
// a list of objects (open files, handles, locks, pools, tables, cursors).
//
// It checks no index: callers keep indexes within 0..Count()-1. The item
// array comes from the counted allocator and grows by 4, 16 or a quarter of
// the capacity; deleting never shrinks it.
#pragma once

#include <cstdint>

#include "tables/lib/allocator.h"

namespace korvex {

// Negative, 0 or positive as the first item sorts before, with or after the
// second.
using TListSortCompare = int (*)(void* item1, void* item2);

class TSystemList : public TCountedObject {
public:
  TSystemList() = default;
  ~TSystemList() override;
  TSystemList(const TSystemList&) = delete;
  TSystemList& operator=(const TSystemList&) = delete;

  std::int32_t Add(void* item);
  void Insert(std::int32_t index, void* item);
  void Delete(std::int32_t index);
  std::int32_t Remove(void* item);
  std::int32_t IndexOf(void* item) const;
  void* Get(std::int32_t index) const { return items_[index]; }
  void Put(std::int32_t index, void* item) { items_[index] = item; }
  void* First() const { return Get(0); }
  void* Last() const { return Get(count_ - 1); }
  void Exchange(std::int32_t index1, std::int32_t index2);
  void Move(std::int32_t current_index, std::int32_t new_index);
  TSystemList* Expand();
  void Pack();
  void Assign(const TSystemList& source);
  void Clear();
  void SetCapacity(std::int32_t capacity);
  void SetCount(std::int32_t count);
  void Sort(TListSortCompare compare);

  std::int32_t Count() const { return count_; }
  std::int32_t Capacity() const { return capacity_; }
  void** Items() const { return items_; }

protected:
  virtual void Grow();

private:
  void** items_ = nullptr;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
};

// Sorts items[left..right] in place; not stable.
void QuickSort(void** items, std::int32_t left, std::int32_t right, TListSortCompare compare);

}  // namespace korvex
