// TCursorState: the data a cursor keeps between calls beside its settings:
// its view of the fields, its position and current record, the buffers its
// reads and writes reuse, its open BLOBs and record locks, the current
// index and range, its filters and the live records' ranks. TDataCursor
// (data_cursor.h) is built on it and does all the work; what each member
// means is told here, with the plain records the members are made of.
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "tables/engine/cursor/filters.h"
#include "tables/engine/files/blob_buffer.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_definition.h"
#include "tables/engine/files/index_key.h"
#include "tables/engine/files/index_tree.h"

namespace korvex {

// The current index position of physical order.
inline constexpr std::uint8_t kPhysicalOrder = 255;

// An open BLOB of a cursor, by its handle.
struct TCursorOpenBlob {
  std::unique_ptr<TBlobBuffer> Buffer;
  bool Internal = false;
};

// The stored fields' defaults and limits read from their texts once per
// definition (under the table's formats) rather than once per record:
// an image of the defaulted fields' bytes and each limit's value; those
// that read the clock are read when used.
struct TStoredFieldRules {
  struct TLimit {
    bool clock = false, known = false;
    long double value = 0;
  };
  bool ready = false;
  std::vector<std::uint8_t> defaults;
  std::vector<std::size_t> image_fields, clock_defaults;  // by stored position - 1
  std::vector<std::size_t> checked_fields;                // required or limited, not calculated
  std::vector<std::pair<TLimit, TLimit>> limits;          // minimum, maximum
};

// Key upkeep of writes: the positions whose indexes hold keys (room for
// the primary, every index count a header can give, and the system
// slot), without going to the heap.
struct TKeyedSlots {
  std::array<std::uint8_t, 258> slots;  // the first `count` are set
  std::uint16_t count = 0;
  void push_back(std::uint8_t slot) { slots[count++] = slot; }
  const std::uint8_t* begin() const { return slots.data(); }
  const std::uint8_t* end() const { return slots.data() + count; }
  bool empty() const { return count == 0; }
};

// The record bytes that the keys of every keyed index are built from
// (each field's null mark and value; adjacent fields joined), and the
// index definitions they were taken from.
struct TKeySpans {
  const void* file = nullptr;
  std::uint64_t edits = 0;
  std::uint16_t count = 0;
  bool no_primary = false, known = false;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;  // offset, length
};

class TCursorState {
protected:
  using Key = std::vector<std::uint8_t>;

  TCursorState() = default;
  ~TCursorState() = default;
  TCursorState(const TCursorState&) = delete;
  TCursorState& operator=(const TCursorState&) = delete;

  // The table's data, index and BLOB stamps as this cursor last saw them.
  std::uint32_t stamps_[3] = {0, 0, 0};
  // Reads in progress (they nest) and whether the outermost one found the
  // table's read lock already held.
  int reads_ = 0;
  bool read_lock_before_ = false;
  std::vector<TFieldDefinition> fields_;  // the cursor's view
  std::uint32_t record_size_ = 0;         // of the cursor's view
  std::vector<TFieldDefinition> physical_fields_;
  mutable TKeySpans key_spans_;
  std::uint32_t physical_size_ = 0;
  // Under a mapping, what filters see: the table's fields by position,
  // then each view field that is not one of them under its own name (a
  // calculated field, or a stored one renamed), numbered by position.
  std::vector<TFieldDefinition> filter_fields_;
  bool mapped_ = false, has_calculated_ = false, field_checks_ = false, has_defaults_ = false;
  mutable TStoredFieldRules stored_rules_;
  mutable bool evaluating_ = false;
  // Position: current physical record (0: none) and the two end flags.
  std::uint32_t current_ = 0;
  // The record current before it, as LoadCurrent left it: two steps in the
  // file's order make a walk that reads through the scan window.
  std::uint32_t stepped_from_ = 0;
  bool bof_ = true, eof_ = false;
  std::vector<std::uint8_t> current_record_;
  // A record that left the cursor's view while the cursor stood on it
  // (another cursor deleted it, or moved it out of the range or the
  // filters): while it is current_ the cursor keeps its place (key_ and
  // the copy in current_record_ are the record as it was), a step goes on
  // to the neighbours of that place, and there is no record to read.
  std::uint32_t left_ = 0;
  // The current record while current_record_ does not hold its bytes yet
  // (0: it does): a removal moves on to the next key without reading the
  // record there, which the next lookup mostly replaces unread.
  std::uint32_t unread_ = 0;
  std::vector<std::vector<std::uint8_t>> spare_records_;  // buffers of ended write scopes
  // The record a walk in file order read last, swapped in as the current
  // record once it turns out live.
  std::vector<std::uint8_t> walk_record_;
  // A modify in place: the record and the current record as they were
  // (kept for reuse, so that a modify takes no memory).
  std::vector<std::uint8_t> before_image_, before_current_;
  // A deletion's record bytes and what follows its key, kept between
  // deletions so that each one allocates nothing.
  std::vector<std::uint8_t> deleted_image_;
  TIndexTree::TFollower deleted_next_;
  // The path of the last key search and its index: a deletion of the
  // record found removes its key along that path when the tree still
  // leads there (checked page by page).
  TIndexTree::TPathHint found_path_;
  Key found_key_;  // FindIndexKey's key found
  Key find_key_;  // Find's search key
  std::vector<std::uint8_t> alone_record_;  // a record LoadCurrent read alone
  std::uint8_t found_path_slot_ = 0;
  std::uint32_t found_path_record_ = 0;  // the record that search found
  mutable std::map<std::int32_t, TCursorOpenBlob> blobs_;  // by handle (negative)
  std::int32_t last_handle_ = 0;
  // Records this cursor locked, ascending: most cursors hold one or none,
  // and a lock taken and released per row costs no allocation.
  std::vector<std::uint32_t> record_locks_;

  // The current index: its position, definition and comparison; the
  // current key and its rank (a hint: checked before use).
  std::uint8_t index_pos_ = kPhysicalOrder;
  TIndexDefinition index_def_;
  TKeyComparator compare_;
  Key key_ = Key(kMaxKeySize, 0);
  std::uint32_t key_number_ = 0;
  // Where the step to key key_number_ found it (index_tree.h), valid while
  // the table's change count is leaf_hint_changes_ and the index the same.
  TIndexTree::TLeafHint leaf_hint_;
  std::uint32_t leaf_hint_rank_ = 0;
  std::uint8_t leaf_hint_slot_ = 0;
  std::uint64_t leaf_hint_changes_ = ~std::uint64_t{0};
  Key step_key_;  // the key a step found, before it becomes key_
  // CopyWalkAhead's last batch: its ranks [ahead_first_, ahead_last_] of
  // the index at ahead_slot_, read going ahead_direction_; the records.
  std::uint32_t ahead_first_ = 0, ahead_last_ = 0;
  std::uint8_t ahead_slot_ = 0;
  int ahead_direction_ = 0;
  std::vector<std::uint32_t> ahead_records_;
  // Range bounds (kMaxKeySize bytes each) and their compared lengths (0:
  // open on that side).
  bool range_active_ = false;
  Key range_start_ = Key(kMaxKeySize, 0), range_end_ = Key(kMaxKeySize, 0xFF);
  std::uint16_t range_start_length_ = 0, range_end_length_ = 0;
  // Filters in force: navigation then visits only the records whose bit
  // is set in the filter bitmap. No filter sets it yet: every filter hook
  // below is a no-op while it is false.
  bool filters_in_force_ = false;
  std::unique_ptr<TFilterSource> filter_source_;
  std::unique_ptr<TFilterSet> filters_;
  bool filter_upkeep_suspended_ = false;
  // The table's change count the bitmaps were last brought up to.
  std::uint64_t filter_changes_ = 0;
  // Physical order's record numbers (1-based positions among the live
  // records): a Fenwick tree of the live records by record number, made
  // from the system index's leaves and kept by this cursor's own appends
  // and deletes; any other change (the table's change count moved on)
  // has it made again at the next use.
  std::vector<std::uint32_t> live_ranks_;
  std::uint64_t live_changes_ = ~std::uint64_t{0};
};

}  // namespace korvex
