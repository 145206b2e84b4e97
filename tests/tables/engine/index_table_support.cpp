#include "tests/tables/engine/index_table_support.h"

#include "platform/runtime/coding.h"

namespace korvex::testing {

IndexTable::IndexTable(const std::string& folder, std::vector<TFieldDefinition> fields,
                       const TDataFileSettings& settings, const TIndexDefinition& primary,
                       const std::vector<TIndexDefinition>& secondaries, bool system)
    : system_index(system), idx_path_(folder + "/t.IDX") {
  data = CreateTable(host, folder + "/t.DAT", std::move(fields), settings);
  index = std::make_unique<TIndexFile>(&host, settings.Encrypted);
  index->SetFileName(idx_path_);
  index->SetFields(&data->Fields());
  index->CreateFile();
  TIndexDefinition p = primary;
  p.Unique = 1;
  if (p.FieldCount) p.KeySize = static_cast<std::uint16_t>(ComputeKeySize(p, data->Fields()));
  index->AddPrimaryIndex(p);
  for (TIndexDefinition d : secondaries) {
    d.KeySize = static_cast<std::uint16_t>(ComputeKeySize(d, data->Fields()));
    index->AddSecondaryIndex(d);
  }
  index->WriteHeader(true, false);
}

TIndexDefinition IndexTable::Definition(const std::string& name, std::vector<std::uint16_t> numbers, bool unique,
                                        bool descending, std::uint8_t compression) const {
  TIndexDefinition d;
  d.Name = name;
  for (std::uint16_t n : numbers) {
    d.FieldDescending[d.FieldCount] = descending;
    d.Fields[d.FieldCount++] = n;
  }
  d.Unique = unique;
  d.Descending = descending;
  d.Compression = compression;
  d.KeySize = static_cast<std::uint16_t>(ComputeKeySize(d, data->Fields()));
  return d;
}

std::vector<std::uint8_t> IndexTable::Key(std::uint8_t slot, const std::vector<std::uint8_t>& record) const {
  const TIndexDefinition& d = index->GetIndexDefinition(slot);
  std::vector<std::uint8_t> key(d.KeySize);
  if (slot == kSystemSlot) BuildSystemKey(record.data(), key.data());
  else BuildIndexKey(d, data->Fields(), data->GetLanguageID(), data->GetSortID(), record.data(), key.data());
  return key;
}

const TKeyComparator& IndexTable::Comparator(std::uint8_t slot) {
  if (!comparators_[slot]) {
    comparators_[slot] = slot == kSystemSlot
                             ? std::make_unique<TKeyComparator>()
                             : std::make_unique<TKeyComparator>(data->GetLanguageID(), data->GetSortID(),
                                                                index->GetIndexDefinition(slot), data->Fields());
  }
  return *comparators_[slot];
}

TIndexTree IndexTable::Tree(std::uint8_t slot) { return TIndexTree(*index, slot, Comparator(slot)); }

std::vector<std::uint8_t> IndexTable::Slots() const {
  std::vector<std::uint8_t> slots;
  if (!index->GetNoPrimaryIndex()) slots.push_back(0);
  for (std::uint8_t s = 1; s <= index->GetIndexCount(); ++s) slots.push_back(s);
  if (system_index) slots.push_back(kSystemSlot);
  return slots;
}

bool IndexTable::AddRecord(std::vector<std::uint8_t>& record, std::uint32_t& number) {
  const std::uint32_t id = data->GetLastRecordID() + 1;
  rtl::EncodeFixed32(record.data() + kRecordIDOffset, id);
  record[0] = 0;
  for (std::uint8_t s : Slots())
    if (index->GetIndexDefinition(s).Unique && s != kSystemSlot && Tree(s).Search(Key(s, record).data())) return false;
  data->SetNextFreeRecordID(id);
  TRecord* r = nullptr;
  EXPECT_TRUE(data->GetNextFreeRecord(nullptr, r));
  number = r->Number();
  std::copy(record.begin() + kRecordIDOffset, record.end(), r->Data.begin() + kRecordIDOffset);
  r->Modified = true;
  data->PutRecord(r);
  ranks.clear();
  for (std::uint8_t s : Slots()) {
    ranks.push_back(0);
    EXPECT_TRUE(Tree(s).Add(Key(s, record).data(), number, &ranks.back())) << int(s);
  }
  index->IncActualRecordCount();
  return true;
}

std::vector<std::uint8_t> IndexTable::ReadRecord(std::uint32_t number) {
  TRecord* r = nullptr;
  EXPECT_TRUE(data->GetRecord(nullptr, number, false, false, 1, r));
  std::vector<std::uint8_t> bytes = r->Data;
  data->PutRecord(r);
  return bytes;
}

void IndexTable::DeleteRecord(std::uint32_t number, const std::vector<TIndexTree::TPathHint>* hints) {
  std::vector<std::uint8_t> record = ReadRecord(number);
  const std::vector<std::uint8_t> slots = Slots();
  for (std::size_t m = 0; m < slots.size(); ++m) {
    if (slots[m] != kSystemSlot) {
      EXPECT_TRUE(Tree(slots[m]).Remove(Key(slots[m], record).data(), nullptr, hints ? &hints->at(m) : nullptr))
          << int(slots[m]);
    }
  }
  TRecord* r = nullptr;
  EXPECT_TRUE(data->GetRecord(nullptr, number, false, false, 1, r));
  r->SetDeleted(true);
  r->Modified = true;
  data->PutRecord(r);
  if (system_index) {
    // The system key moves to the deleted keys in one operation.
    const std::vector<std::uint8_t> live = Key(kSystemSlot, record);
    record[0] = 1;
    EXPECT_TRUE(Tree(kSystemSlot).Replace(live.data(), Key(kSystemSlot, record).data(), number));
  }
  index->DecActualRecordCount();
}

void IndexTable::Flush() {
  data->FlushRecordBuffers(false);
  data->WriteHeader(false, false);
  index->FlushPageBuffers(false);
  index->WriteHeader(false, false);
}

void IndexTable::ExpectClean() {
  Flush();
  CheckResult check = RunTableCheck(data->FileName(), data->GetEncrypted() ? EngineKeysOption() : "");
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output, "");
}

void IndexTable::Reopen() {
  Flush();
  index->CloseFile();
  data->CloseFile();
  data->OpenFile();
  index->SetFields(&data->Fields());
  index->OpenFile();
  ForgetComparators();
}

}  // namespace korvex::testing
