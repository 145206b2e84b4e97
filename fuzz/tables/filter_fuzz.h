// Body of the filter fuzz target: filter texts from the input are added
// to the filters of a small in-memory table with indexes, activated,
// walked, kept through a record change and a delete, and dropped. The same
// filters answered with every node read record by record must show the
// same records. Every failure must be an engine error; afterwards no
// expression node is held and the counted allocator is back where it was.
//
// Input: filter texts, one a line (at most 8). A line's length picks its
// options (narrowing, complement, case-insensitive, no partial compare).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/tables/table_files_fuzz.h"
#include "platform/runtime/coding.h"
#include "tables/engine/cursor/filters.h"
#include "tables/engine/files/index_file.h"
#include "tables/engine/files/index_tree.h"
#include "tables/lib/allocator.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/records_bitmap.h"

namespace korvex::fuzz {

// Surname string(12), Year integer, Qty smallint, Rate float, Born date,
// Alive boolean; indexes on Surname, Qty (descending), Surname
// case-insensitive, and the system index. 48 records, some blanks, a few
// deleted.
class FilterFuzzTable : public TFilterSource {
public:
  explicit FilterFuzzTable(bool indexes) : indexes_(indexes) {}

  void Create() {
    const char* names[] = {"Surname", "Year", "Qty", "Rate", "Born", "Alive"};
    const std::uint8_t types[] = {dtString, dtInteger, dtSmallInt, dtFloat, dtDate, dtBoolean};
    for (int i = 0; i < 6; ++i) {
      TFieldDefinition f;
      f.Name = names[i];
      f.DataType = types[i];
      f.Size = i == 0 ? 12 : 0;
      f.FieldNumber = static_cast<std::uint16_t>(i + 1);
      f.UpdatePhysicalSize();
      fields_.push_back(f);
    }
    AssignFieldOffsets(fields_);
    dat_ = std::make_unique<TDataFile>(&host_);
    dat_->SetFileName(kDat);
    dat_->SetInMemory(true);
    dat_->CreateDataFile({}, fields_);
    idx_ = std::make_unique<TIndexFile>(&host_, false);
    idx_->SetFileName(kIdx);
    idx_->SetInMemory(true);
    idx_->SetFields(&dat_->Fields());
    idx_->CreateFile();
    TIndexDefinition primary;
    primary.Unique = 1;
    idx_->AddPrimaryIndex(primary);
    Secondary("BySurname", 1, false, false);
    Secondary("ByQty", 3, true, false);
    Secondary("BySurnameCI", 1, false, true);
    const char* texts[] = {"Smith", "smith", "Smyth", "Jones", "Sm", "Brown"};
    for (std::uint32_t i = 0; i < 48; ++i) {
      std::vector<std::uint8_t> r(dat_->GetRecordSize(), 0);
      auto put = [&](int field, bool blank, auto write) {
        if (blank) return;
        std::uint8_t* at = r.data() + fields_[static_cast<std::size_t>(field)].Offset;
        at[0] = 1;
        write(at + 1);
      };
      put(0, i % 7 == 3, [&](std::uint8_t* p) { std::string_view t = texts[i % 6]; std::copy(t.begin(), t.end(), p); });
      put(1, false, [&](std::uint8_t* p) { rtl::EncodeFixed32(p, 1690 + i % 13); });
      put(2, i % 5 == 1, [&](std::uint8_t* p) { rtl::EncodeFixed16(p, static_cast<std::uint16_t>(i % 9 - 3)); });
      put(3, i % 6 == 2, [&](std::uint8_t* p) { rtl::EncodeDouble(p, (static_cast<int>(i % 11) - 5) / 4.0); });
      put(4, i % 8 == 5, [&](std::uint8_t* p) { rtl::EncodeFixed32(p, 616896 + 30 * (i % 10)); });
      put(5, i % 9 == 4, [&](std::uint8_t* p) { rtl::EncodeFixed16(p, i % 2); });
      Append(r);
    }
    for (std::uint32_t n : {5u, 17u, 30u}) Delete(n);
  }

  void Append(std::vector<std::uint8_t>& r) {
    const std::uint32_t id = dat_->GetLastRecordID() + 1;
    rtl::EncodeFixed32(r.data() + kRecordIDOffset, id);
    dat_->SetNextFreeRecordID(id);
    TRecord* rec = nullptr;
    if (!dat_->GetNextFreeRecord(nullptr, rec)) return;
    const std::uint32_t n = rec->Number();
    std::copy(r.begin() + kRecordIDOffset, r.end(), rec->Data.begin() + kRecordIDOffset);
    rec->Modified = true;
    dat_->PutRecord(rec);
    r[0] = 0;
    for (std::uint8_t s : Slots()) Tree(s).Insert(Key(s, r).data(), n);
  }
  void Delete(std::uint32_t n) {
    std::vector<std::uint8_t> r;
    FilterReadRecord(n, r);
    for (std::uint8_t s : Slots()) Tree(s).Remove(Key(s, r).data());
    TRecord* rec = nullptr;
    if (!dat_->GetRecord(nullptr, n, false, false, 1, rec)) return;
    rec->SetDeleted(true);
    rec->Modified = true;
    dat_->PutRecord(rec);
    r[0] = 1;
    Tree(kSystemSlot).Insert(Key(kSystemSlot, r).data(), n);
  }

  std::string FilterTableName() const override { return "FUZZ"; }
  const std::vector<TFieldDefinition>& FilterFields() const override { return dat_->Fields(); }
  TLocalePair FilterLocale() const override { return {}; }
  std::uint32_t FilterPhysicalCount() override { return dat_->GetPhysicalRecordsUsed(); }
  bool FilterReadRecord(std::uint32_t n, std::vector<std::uint8_t>& record) override {
    TRecord* rec = nullptr;
    if (!dat_->GetRecord(nullptr, n, false, false, 1, rec)) return false;
    record = rec->Data;
    dat_->PutRecord(rec);
    return record[0] == 0;
  }
  TIndexFile* FilterIndexFile() override { return indexes_ ? idx_.get() : nullptr; }
  const TKeyComparator& FilterComparator(std::uint8_t slot) override {
    if (!compare_[slot])
      compare_[slot] = slot == kSystemSlot ? std::make_unique<TKeyComparator>()
                                           : std::make_unique<TKeyComparator>(0, 0, idx_->GetIndexDefinition(slot),
                                                                              dat_->Fields());
    return *compare_[slot];
  }
  std::string FilterReadBlob(int, const std::uint8_t*) override { return {}; }

  ~FilterFuzzTable() override {
    idx_.reset();
    dat_.reset();
    FileList().DeleteFile(kDat, true);
    FileList().DeleteFile(kIdx, true);
  }

private:
  static constexpr const char* kDat = "FUZZ/f.DAT";
  static constexpr const char* kIdx = "FUZZ/f.IDX";
  void Secondary(const char* name, std::uint16_t field, bool descending, bool ci) {
    TIndexDefinition d;
    d.Name = name;
    d.FieldCount = 1;
    d.Fields[0] = field;
    d.FieldDescending[0] = descending;
    d.Descending = descending;
    d.CaseInsensitive = ci;
    d.KeySize = static_cast<std::uint16_t>(ComputeKeySize(d, dat_->Fields()));
    idx_->AddSecondaryIndex(d);
  }
  std::vector<std::uint8_t> Slots() const { return {1, 2, 3, kSystemSlot}; }
  TIndexTree Tree(std::uint8_t slot) { return TIndexTree(*idx_, slot, FilterComparator(slot)); }
  std::vector<std::uint8_t> Key(std::uint8_t slot, const std::vector<std::uint8_t>& r) const {
    std::vector<std::uint8_t> key(idx_->GetIndexDefinition(slot).KeySize);
    if (slot == kSystemSlot) BuildSystemKey(r.data(), key.data());
    else BuildIndexKey(idx_->GetIndexDefinition(slot), dat_->Fields(), 0, 0, r.data(), key.data());
    return key;
  }

  bool indexes_;
  FuzzHost host_;
  std::vector<TFieldDefinition> fields_;
  std::unique_ptr<TDataFile> dat_;
  std::unique_ptr<TIndexFile> idx_;
  std::array<std::unique_ptr<TKeyComparator>, kIndexSlots> compare_;
};

inline void Filters(const std::uint8_t* data, std::size_t size) {
  static const bool started = (InitializeSupportFunctions(), true);
  (void)started;
  std::vector<std::string> texts;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty() && texts.size() < 8) {
    const std::size_t end = input.find('\n');
    texts.emplace_back(input.substr(0, end));
    input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
  }
  FreeAllRecordsBitmaps();
  FreeAllExpTokens();
  const std::int64_t memory = GetTotalMemoryAllocated();
  const std::int64_t nodes = ExpTokensInUse();
  {
    LanguageSettingsScope ansi(0, 0);
    FilterFuzzTable table(true);
    if (Engine([&] { table.Create(); })) {
      TFilterSet indexed(table), scanned(table);
      scanned.SetForceRecordByRecord(true);
      int added = 0;
      for (const std::string& text : texts) {
        TFilterFlags options;
        options.Narrowing = text.size() & 1;
        options.Complement = text.size() & 2;
        options.CaseInsensitive = text.size() & 4;
        options.NoPartialCompare = text.size() & 8;
        const bool a = Engine([&] { indexed.AddFilter(0, text, nullptr, false, nullptr, options); });
        const bool b = Engine([&] { scanned.AddFilter(0, text, nullptr, false, nullptr, options); });
        QV_FUZZ_CHECK(a == b);
        added += a;
      }
      const std::uint32_t physical = table.FilterPhysicalCount();
      auto same = [&] {
        for (std::uint32_t n = 0; n <= physical + 1; ++n) QV_FUZZ_CHECK(indexed.Visible(n) == scanned.Visible(n));
        QV_FUZZ_CHECK(indexed.FilteredCount() == scanned.FilteredCount());
      };
      const bool a = Engine([&] { indexed.ActivateAllFilters(); });
      const bool b = Engine([&] { scanned.ActivateAllFilters(); });
      if (a && b && added > 0) {
        same();
        // A record changed in place (its keys left alone: only the filters'
        // bits are asked again) and one deleted.
        std::vector<std::uint8_t> record;
        if (table.FilterReadRecord(2, record)) {
          record[table.FilterFields()[1].Offset] = 0;  // Year blank
          const bool c = Engine([&] { indexed.UpdateRecordInBitmap(2, record.data()); });
          const bool d = Engine([&] { scanned.UpdateRecordInBitmap(2, record.data()); });
          QV_FUZZ_CHECK(c == d);
        }
        Engine([&] { indexed.DeleteRecordInBitmap(9); });
        Engine([&] { scanned.DeleteRecordInBitmap(9); });
        same();
        Engine([&] { indexed.DeactivateFilter(indexed.FilterAt(0)); });
        Engine([&] { indexed.DropFilter(indexed.FilterAt(0)); });
      }
      Engine([&] { indexed.DropAllFilters(); });
    }
  }
  FreeAllRecordsBitmaps();
  FreeAllExpTokens();
  QV_FUZZ_CHECK(ExpTokensInUse() == nodes);
  QV_FUZZ_CHECK(GetTotalMemoryAllocated() == memory);
}

}  // namespace korvex::fuzz
