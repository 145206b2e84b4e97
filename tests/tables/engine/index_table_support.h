// A table with an index file for the index tests: a data file with its
// records, the index file, and the key comparison of every index, doing
// with keys what the cursor does.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "tables/engine/files/index_file.h"
#include "tables/engine/files/index_key.h"
#include "tables/engine/files/index_tree.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {

class IndexTable {
public:
  // Creates `folder`/t.DAT and t.IDX; `primary` with no fields means no
  // primary index.
  IndexTable(const std::string& folder, std::vector<TFieldDefinition> fields, const TDataFileSettings& settings,
             const TIndexDefinition& primary, const std::vector<TIndexDefinition>& secondaries,
             bool system_index = true);

  // A definition over field numbers, its key size computed.
  TIndexDefinition Definition(const std::string& name, std::vector<std::uint16_t> numbers, bool unique,
                              bool descending = false, std::uint8_t compression = 0) const;

  const std::vector<TFieldDefinition>& Fields() const { return data->Fields(); }
  std::vector<std::uint8_t> Key(std::uint8_t slot, const std::vector<std::uint8_t>& record) const;
  TIndexTree Tree(std::uint8_t slot);
  const TKeyComparator& Comparator(std::uint8_t slot);
  // Slots 0 (when there is a primary index), 1..count and 31 when kept.
  std::vector<std::uint8_t> Slots() const;

  // Appends a record (its ID the next one) and adds its keys; false (nothing
  // added) when a unique index already holds one of them. The rank each
  // slot's insert gave the new key goes to `ranks` (in Slots() order).
  bool AddRecord(std::vector<std::uint8_t>& record, std::uint32_t& number);
  std::vector<std::uint32_t> ranks;
  // Removes a record's keys and marks it deleted.
  // With `hints` (one per slot of Slots(), the system slot's unused), each
  // key is removed with its slot's path hint.
  void DeleteRecord(std::uint32_t number, const std::vector<TIndexTree::TPathHint>* hints = nullptr);
  std::vector<std::uint8_t> ReadRecord(std::uint32_t number);

  // Writes everything and runs the checker; expects it clean.
  void Flush();
  void ExpectClean();
  // Closes and opens both files again.
  void Reopen();
  // After indexes were added or deleted: the slots' comparisons anew.
  void ForgetComparators() {
    for (auto& c : comparators_) c.reset();
  }

  FakeHost host;
  std::unique_ptr<TDataFile> data;
  std::unique_ptr<TIndexFile> index;
  bool system_index;

private:
  std::array<std::unique_ptr<TKeyComparator>, kIndexSlots> comparators_;
  std::string idx_path_;
};

}  // namespace korvex::testing
