#include "tests/tables/engine/filter_table_support.h"

#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/currency.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/numeric.h"

namespace korvex::testing {

bool TableSource::FilterReadRecord(std::uint32_t n, std::vector<std::uint8_t>& record) {
  ++reads;
  record = table_.ReadRecord(n);
  return record[0] == 0;
}

std::vector<std::uint8_t> MakeRecord(const std::vector<TFieldDefinition>& fields, std::uint32_t record_size,
                                     const std::vector<FilterCell>& cells) {
  std::vector<std::uint8_t> record(record_size, 0);
  for (std::size_t i = 0; i < fields.size() && i < cells.size(); ++i) {
    const TFieldDefinition& f = fields[i];
    const FilterCell& cell = cells[i];
    if (std::holds_alternative<std::monostate>(cell)) continue;
    std::uint8_t* at = record.data() + f.Offset;
    at[0] = 1;
    switch (f.DataType) {
      case dtString: {
        const std::string& s = std::get<std::string>(cell);
        std::memcpy(at + 1, s.data(), std::min<std::size_t>(s.size(), f.PhysicalSize - 1u));
        break;
      }
      case dtSmallInt: case dtWord: case dtBoolean:
        rtl::EncodeFixed16(at + 1, static_cast<std::uint16_t>(std::get<std::int64_t>(cell)));
        break;
      case dtInteger: case dtDate: case dtTime:
        rtl::EncodeFixed32(at + 1, static_cast<std::uint32_t>(std::get<std::int64_t>(cell)));
        break;
      case dtFloat: case dtTimeStamp:
        rtl::EncodeDouble(at + 1, std::get<double>(cell));
        break;
      case dtBCD: {
        auto stored = CurrToComp(Currency::FromScaled(std::get<std::int64_t>(cell) * 2500), f.PhysicalDecimals);
        rtl::EncodeFixed64(at + 1, static_cast<std::uint64_t>(stored.value_or(0)));
        break;
      }
      default:
        break;
    }
  }
  return record;
}

bool ModifyRecord(IndexTable& table, std::uint32_t n, std::vector<std::uint8_t> record) {
  std::vector<std::uint8_t> old = table.ReadRecord(n);
  std::copy(old.begin(), old.begin() + kRecordPrefixSize, record.begin());
  for (std::uint8_t s : table.Slots()) {
    if (s == kSystemSlot || !table.index->GetIndexDefinition(s).Unique) continue;
    std::vector<std::uint8_t> key = table.Key(s, record);
    if (key != table.Key(s, old) && table.Tree(s).Search(key.data())) return false;
  }
  for (std::uint8_t s : table.Slots())
    if (s != kSystemSlot) table.Tree(s).Remove(table.Key(s, old).data());
  TRecord* r = nullptr;
  EXPECT_TRUE(table.data->GetRecord(nullptr, n, false, false, 1, r));
  std::copy(record.begin() + kRecordIDOffset, record.end(), r->Data.begin() + kRecordIDOffset);
  r->Modified = true;
  table.data->PutRecord(r);
  for (std::uint8_t s : table.Slots())
    if (s != kSystemSlot) table.Tree(s).Insert(table.Key(s, record).data(), n);
  return true;
}

std::vector<std::uint32_t> Visible(const TFilterSet& set, std::uint32_t physical) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t n = 1; n <= physical; ++n)
    if (set.Visible(n)) out.push_back(n);
  return out;
}

}  // namespace korvex::testing
