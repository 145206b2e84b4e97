// Filters over plain table files for the filter tests: a TFilterSource on
// an IndexTable (with or without its indexes), records made from cells,
// and changes that keep the index trees in step.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "tables/engine/cursor/filters.h"
#include "tests/tables/engine/index_table_support.h"

namespace korvex::testing {

// One value: blank, an integer (also booleans, dates, words, BCD in
// quarters) or a double, or a text.
using FilterCell = std::variant<std::monostate, std::int64_t, double, std::string>;

class TableSource : public TFilterSource {
public:
  TableSource(IndexTable& table, bool use_indexes) : table_(table), use_indexes_(use_indexes) {}

  std::string FilterTableName() const override { return "T"; }
  const std::vector<TFieldDefinition>& FilterFields() const override { return table_.Fields(); }
  TLocalePair FilterLocale() const override {
    return {table_.data->GetLanguageID(), table_.data->GetSortID()};
  }
  std::uint32_t FilterPhysicalCount() override { return table_.data->GetPhysicalRecordsUsed(); }
  bool FilterReadRecord(std::uint32_t n, std::vector<std::uint8_t>& record) override;
  TIndexFile* FilterIndexFile() override { return use_indexes_ ? table_.index.get() : nullptr; }
  const TKeyComparator& FilterComparator(std::uint8_t slot) override { return table_.Comparator(slot); }
  std::string FilterReadBlob(int, const std::uint8_t*) override { return {}; }
  bool FilterTableChanged() override { return changed ? changed() : false; }
  void FilterHoldTable(bool hold) override { holds.push_back(hold); }

  std::function<bool()> changed;  // the table changed under an update
  std::vector<bool> holds;        // FilterHoldTable calls
  std::uint32_t reads = 0;        // records read

private:
  IndexTable& table_;
  bool use_indexes_;
};

// A record of the table's layout from cells (field i from cells[i]).
std::vector<std::uint8_t> MakeRecord(const std::vector<TFieldDefinition>& fields, std::uint32_t record_size,
                                     const std::vector<FilterCell>& cells);
inline std::vector<std::uint8_t> MakeRecord(const IndexTable& table, const std::vector<FilterCell>& cells) {
  return MakeRecord(table.Fields(), table.data->GetRecordSize(), cells);
}
// Replaces record n's fields and keys; false (nothing changed) when a
// unique index already holds one of the new keys.
bool ModifyRecord(IndexTable& table, std::uint32_t n, std::vector<std::uint8_t> record);
// The records visible under the set's filters, in physical order.
std::vector<std::uint32_t> Visible(const TFilterSet& set, std::uint32_t physical);

}  // namespace korvex::testing
