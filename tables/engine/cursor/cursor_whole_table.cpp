// TDataCursor: what the whole-table work of maintenance/ asks of an open
// cursor beyond its record interface: physical records read by number, and
// a record a rebuilt unique index refuses taken out.
#include <vector>

#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"

namespace korvex {

bool TDataCursor::ReadPhysicalRecord(std::uint32_t n, std::vector<std::uint8_t>& buffer) {
  TRecord* record = FetchRecord(n, 1);
  const bool live = !record->Deleted();
  if (live) buffer = record->Data;
  table_->DataFile().PutRecord(record);
  return live;
}

void TDataCursor::RemoveDuplicateRecord(std::uint32_t n, std::uint8_t index_pos) {
  RequireOpen();
  TRecord* record = FetchRecord(n, 1);
  const bool live = !record->Deleted();
  std::vector<std::uint8_t> old = record->Data;
  table_->DataFile().PutRecord(record);
  // A record already on the free chain is not linked again.
  if (!live) return;
  // Its keys go from every index that holds them.
  for (std::uint8_t slot : KeyedPositions()) {
    if (slot == index_pos) continue;
    const TKeyComparator compare = ComparatorOf(slot);
    TIndexTree(table_->IndexFile(), slot, compare, this).Remove(KeyOf(slot, old.data()).data());
  }
  Key system = KeyOf(kSystemSlot, old.data()), deleted = system;
  deleted[0] = 1;
  ReplaceSystemKey(system.data(), deleted.data(), n);
  ReleaseRecord(old, n);
  table_->MarkWritten();
}

}  // namespace korvex
