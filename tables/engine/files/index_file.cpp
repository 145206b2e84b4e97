#include "tables/engine/files/index_file.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/files/data_file.h"
#include "tables/engine/files/index_key.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/key_bytes.h"
#include "tables/lib/names.h"
#include "tables/lib/text_values.h"

namespace korvex {
namespace {

constexpr std::uint32_t kRecordCountAt = 3974;
constexpr std::uint32_t kNoPrimaryAt = 3978;
constexpr std::uint32_t kChangedAt = 3979;
constexpr std::uint32_t kSlotsAt = 14;

TCacheLayout PageLayout() {
  return {kIndexPageSize, kIndexPageSize, [](std::uint32_t offset) { return std::uint64_t{offset}; }};
}

TIndexDefinition SystemDefinition() {
  TIndexDefinition d;
  d.Name = kSystemIndexName;
  d.KeySize = 5;
  d.Unique = 1;
  return d;
}

std::string Folded(const std::string& name) { return rtl::UpperCase(rtl::Trim(name)); }

// A key field has record bytes of its own: no BLOB, no calculated field.
bool Keyable(const TFieldDefinition& field) { return field.DataType != dtBlob && field.Calculated == 0; }

}  // namespace

TIndexFile::TIndexFile(TTableHost* host, bool encrypted) : TFileHandler(host), host_(host), encrypted_(encrypted) {
  base_.fill(kPageCacheSize);
  for (auto& cache : caches_) {
    cache.SetCapacity(kPageCacheSize);
    cache.SetUndoSource(&undo_);
  }
  copies_.Configure(kIndexPageSize, kCleanPageBudget);
}

TIndexFile::~TIndexFile() {
  // A close that fails (memory run out) still leaves with the object.
  try {
    TIndexFile::CloseFile();
  } catch (...) {
  }
  JoinFreeing();
  pool_.FreeAll();
}

void TIndexFile::Fail(TEngineErrorCode code, const std::string& index) const {
  RaiseError(code, host_->TableName(), {}, index);
}

void TIndexFile::FailHeader(TEngineErrorCode code) const { RaiseError(code, EnsureFileExt(host_->TableName(), ".IDX")); }

bool TIndexFile::IsPageOffset(std::uint32_t offset) const {
  return offset >= kIndexHeaderSize && offset < file_size_ && offset % kIndexPageSize == 0;
}

// ---- create, open, close, header -----------------------------------------

void TIndexFile::CreateFile() {
  table_name_ = host_->TableName();
  TFileHandler::CreateFile();
  FreePageBuffers(true);
  stamp_ = 0;
  version_ = 4;
  file_size_ = kIndexHeaderSize;
  count_ = stored_count_ = 0;
  for (auto& s : EditSlots()) s = TIndexDefinition{};
  EditSlots()[kSystemSlot] = SystemDefinition();
  records_ = 0;
  no_primary_ = 0;
  changed_ = true;
  stats_ = {};
}

void TIndexFile::OpenFile() {
  if (IsOpen()) return;
  table_name_ = host_->TableName();
  TFileHandler::OpenFile();
  try {
    ReadHeader();
    if (count_ > kMaxSecondaryIndexes) FailHeader(err::kHeaderCorrupt);
  } catch (...) {
    repair_open_ = false;
    CloseFile();
    throw;
  }
  stats_ = {};
}

void TIndexFile::OpenForRepair() {
  repair_open_ = true;
  OpenFile();
}

void TIndexFile::CloseFile() {
  if (!IsOpen()) return;
  stamp_view_.Drop();
  FreePageBuffers(true);
  stats_ = {};
  repair_open_ = false;
  TFileHandler::CloseFile();
}

void TIndexFile::ReadImage(std::uint8_t* bytes, std::uint32_t count) {
  ReadAt(*this, 0, bytes, count);
  if (encrypted_) DecryptBuffer(bytes, static_cast<std::int32_t>(count), kIndexBlobKeys.key1, kIndexBlobKeys.key2);
}

void TIndexFile::DecodeHeader(const std::uint8_t* bytes) {
  stamp_ = rtl::DecodeFixed32(bytes);
  version_ = bytes[8];
  file_size_ = rtl::DecodeFixed32(bytes + 9);
  count_ = stored_count_ = bytes[13];
  if (repair_open_ && count_ > kMaxSecondaryIndexes) count_ = kMaxSecondaryIndexes;
  for (int i = 0; i < kIndexSlots; ++i) EditSlots()[i].Decode(bytes + kSlotsAt + i * kIndexDefinitionSize);
  records_ = rtl::DecodeFixed32(bytes + kRecordCountAt);
  no_primary_ = bytes[kNoPrimaryAt];
  changed_ = false;
}

void TIndexFile::ReadHeader() {
  std::uint8_t bytes[kIndexHeaderSize];
  ReadImage(bytes, kIndexHeaderSize);
  DecodeHeader(bytes);
}

void TIndexFile::WriteHeader(bool force, bool flush_to_disk) {
  if (!force && !changed_) return;
  ++stamp_;
  std::uint8_t bytes[kIndexHeaderSize] = {};
  rtl::EncodeFixed32(bytes, stamp_);
  bytes[8] = version_;
  rtl::EncodeFixed32(bytes + 9, file_size_);
  bytes[13] = count_;
  for (int i = 0; i < kIndexSlots; ++i) Slots()[i].Encode(bytes + kSlotsAt + i * kIndexDefinitionSize);
  rtl::EncodeFixed32(bytes + kRecordCountAt, records_);
  bytes[kNoPrimaryAt] = no_primary_;
  bytes[kChangedAt] = changed_ ? 1 : 0;
  if (encrypted_) EncryptBuffer(bytes, kIndexHeaderSize, kIndexBlobKeys.key1, kIndexBlobKeys.key2);
  WriteAt(*this, 0, bytes, kIndexHeaderSize);
  if (flush_to_disk || host_->ForceBufferFlush()) Flush();
  host_->MarkWritten();
  stored_count_ = count_;
  changed_ = false;
}

void TIndexFile::UpdateHeaderStamp() {
  ++stamp_;
  changed_ = true;
  host_->MarkWritten();
}

bool TIndexFile::StampChanged() { return HeaderStampMoved(stamp_view_, *this, encrypted_, stamp_); }

bool TIndexFile::CheckForChanges() {
  if (!StampChanged()) return false;
  std::uint8_t bytes[kIndexHeaderSize];
  ReadImage(bytes, kIndexHeaderSize);
  DecodeHeader(bytes);
  return true;
}

void TIndexFile::ClearHeader() {
  FreePageBuffers(true);
  WriteAt(*this, kIndexHeaderSize, nullptr, 0);
  if (host_->ForceBufferFlush()) Flush();
  version_ = 4;
  file_size_ = kIndexHeaderSize;
  records_ = 0;
  for (auto& s : EditSlots()) s.Root = s.FreePage = 0;
  changed_ = true;
}

// ---- header values ---------------------------------------------------------

void TIndexFile::SetIndexCount(std::uint8_t count) {
  if (count_ != count) Changed();
  count_ = count;
}
void TIndexFile::SetFileSize(std::uint32_t size) {
  if (file_size_ != size) Changed();
  file_size_ = size;
}
void TIndexFile::SetNoPrimaryIndex(bool value) {
  if (no_primary_ != (value ? 1 : 0)) Changed();
  no_primary_ = value ? 1 : 0;
  if (value) ClearIndexDefinition(0);
}
void TIndexFile::SetActualRecordCount(std::uint32_t count) {
  if (records_ != count) Changed();
  records_ = count;
}
void TIndexFile::SetRootPtr(std::uint8_t slot, std::uint32_t page) {
  if (Slots()[slot].Root != page) Changed();
  if (Slots()[slot].Root != page) EditSlots()[slot].Root = page;
}
std::uint32_t TIndexFile::GetNextFreePagePtr(std::uint8_t slot) const {
  return Slots()[slot].FreePage == 0 ? file_size_ : Slots()[slot].FreePage;
}
void TIndexFile::SetNextFreePagePtr(std::uint8_t slot, std::uint32_t page) {
  if (page == file_size_) page = 0;
  if (Slots()[slot].FreePage != page) Changed();
  if (Slots()[slot].FreePage != page) EditSlots()[slot].FreePage = page;
}

// ---- definitions -------------------------------------------------------------

void TIndexFile::SetIndexDefinition(std::uint8_t slot, const TIndexDefinition& definition) {
  TIndexDefinition& s = EditSlots()[slot];
  const std::uint32_t free = s.FreePage;
  s = definition;
  s.Name = s.Name.substr(0, kMaxFieldNameLength);
  s.Root = 0;
  s.FreePage = free;
  s.RemovalMark = 0;
  Changed();
}

void TIndexFile::UpdateIndexDefinition(std::uint8_t slot, const TIndexDefinition& definition) {
  EditSlots()[slot].Name = definition.Name.substr(0, kMaxFieldNameLength);
  EditSlots()[slot].Fields = definition.Fields;
  Changed();
}

void TIndexFile::ClearIndexDefinition(std::uint8_t slot) {
  const std::uint32_t free = Slots()[slot].FreePage;
  const std::uint8_t mark = Slots()[slot].RemovalMark;
  EditSlots()[slot] = TIndexDefinition{};
  EditSlots()[slot].FreePage = free;
  EditSlots()[slot].RemovalMark = mark;
  Changed();
}

void TIndexFile::CheckKeyFields(const TIndexDefinition& definition, const std::string& index) const {
  for (int i = 0; i < definition.FieldCount; ++i) {
    const std::uint16_t n = definition.Fields[i];
    if (fields_ && n >= 1 && n <= fields_->size() && (*fields_)[n - 1].DataType == dtBlob)
      Fail(err::kInvalidIndexFieldType, index);
  }
}

void TIndexFile::AddPrimaryIndex(const TIndexDefinition& definition) {
  if (Slots()[0].KeySize != 0) Fail(err::kPrimaryIndexExists);
  if (definition.FieldCount > kMaxKeyFields) Fail(err::kIndexLimits);
  if (definition.FieldCount == 0) {
    SetNoPrimaryIndex(true);
    return;
  }
  CheckKeyFields(definition, "Primary");
  SetNoPrimaryIndex(false);
  TIndexDefinition d = definition;
  d.Name.clear();
  d.Unique = 1;
  SetIndexDefinition(0, d);
}

void TIndexFile::AddSecondaryIndex(const TIndexDefinition& definition) {
  const std::string name = definition.Name;
  if (count_ >= kMaxSecondaryIndexes || definition.FieldCount > kMaxKeyFields) Fail(err::kIndexLimits, name);
  const std::string folded = Folded(name);
  if (folded.empty()) Fail(err::kIndexNameMissing);
  if (!IsAlpha(folded[0])) Fail(err::kInvalidIndexName, name);
  for (int s = 1; s <= count_; ++s)
    if (Folded(Slots()[s].Name) == folded) Fail(err::kIndexExists, name);
  CheckKeyFields(definition, name);
  ++count_;
  SetIndexDefinition(count_, definition);
}

void TIndexFile::DeleteIndex(std::uint8_t slot, bool remove) {
  if (slot == 0) {
    SetNoPrimaryIndex(true);
    return;
  }
  if (!remove || slot > count_) return;
  // Caches belong to slots, not to indexes: the pages of every slot that
  // moves are written and dropped before the definitions move.
  FlushPageBuffers(false);
  for (std::uint8_t s = slot; s <= count_; ++s) FreeSlotPages(s);
  TIndexDefinition removed = Slots()[slot];
  for (std::uint8_t s = slot; s < count_; ++s) EditSlots()[s] = Slots()[s + 1];
  removed.RemovalMark = 0;
  EditSlots()[count_] = removed;
  --count_;
  Changed();
}

// ---- checks ---------------------------------------------------------------------

void TIndexFile::ForgetDefinitions() {
  for (auto& s : EditSlots()) s = TIndexDefinition{};
  EditSlots()[kSystemSlot] = SystemDefinition();
  count_ = stored_count_ = 0;
  no_primary_ = 1;
  changed_ = true;
}

bool TIndexFile::HoldsSystemIndex() const {
  const TIndexDefinition& d = Slots()[kSystemSlot];
  return Folded(d.Name) == Folded(SystemDefinition().Name);
}

void TIndexFile::CheckHeader() {
  if (version_ != 4) FailHeader(err::kWrongVersion);
  if (count_ > kMaxSecondaryIndexes || stored_count_ > kMaxSecondaryIndexes) FailHeader(err::kHeaderCorrupt);
  if (!Slots()[0].Name.empty() || (!no_primary_ && Slots()[0].Unique != 1)) FailHeader(err::kHeaderCorrupt);
  for (int s = 1; s <= count_; ++s) {
    const std::string folded = Folded(Slots()[s].Name);
    if (folded.empty() || !IsAlpha(folded[0])) FailHeader(err::kHeaderCorrupt);
    for (int t = 1; t < s; ++t)
      if (Folded(Slots()[t].Name) == folded) FailHeader(err::kHeaderCorrupt);
  }
  const std::size_t field_count = fields_ ? fields_->size() : 0;
  auto check_slot = [&](int s) {
    const TIndexDefinition& d = Slots()[s];
    if (d.FieldCount > kMaxKeyFields || d.Compression > kcBoth) FailHeader(err::kHeaderCorrupt);
    std::uint32_t size = 0;
    int listed = 0;
    for (; listed < kMaxKeyFields && d.Fields[listed] != 0; ++listed) {
      const std::uint16_t n = d.Fields[listed];
      if (n > field_count || !Keyable((*fields_)[n - 1])) {
        if (s == 0 && no_primary_) continue;
        FailHeader(err::kHeaderCorrupt);
      }
      size += (*fields_)[n - 1].PhysicalSize + 1u;
    }
    if (s == 0 && no_primary_) return;
    // The trees rely on keys of exactly the size the fields make.
    if (size > kMaxKeyFieldBytes || size == 0 || listed != d.FieldCount) FailHeader(err::kHeaderCorrupt);
    if (d.KeySize != size + (d.Unique ? 0 : kRecordIDKeySize)) FailHeader(err::kHeaderCorrupt);
  };
  for (int s = 0; s <= count_; ++s) check_slot(s);
  if (Slots()[kSystemSlot].KeySize != 5 || Slots()[kSystemSlot].Compression != 0) FailHeader(err::kHeaderCorrupt);
  if (file_size_ < kIndexHeaderSize || file_size_ % kIndexPageSize != 0) FailHeader(err::kHeaderCorrupt);
  auto check_pointers = [&](int s) {
    for (std::uint32_t p : {Slots()[s].Root, Slots()[s].FreePage})
      if (p != 0 && !IsPageOffset(p)) FailHeader(err::kHeaderCorrupt);
  };
  for (int s = 0; s <= count_; ++s) check_pointers(s);
  check_pointers(kSystemSlot);
}

void TIndexFile::RepairHeader(void* cursor, bool fix) {
  auto log = [&](const std::string& line) { host_->RepairLog(cursor, line); };
  const std::string fixed = fix ? "error fixed" : "error not fixed";
  if (stored_count_ > kMaxSecondaryIndexes) {
    log("Invalid index count in index header, " + fixed);
    // The true count is unknown: the indexes are the defined slots, not the
    // empty ones the cap took in.
    while (count_ > 0 && Slots()[count_].FieldCount == 0 && Slots()[count_].Name.empty()) --count_;
    if (fix) {
      stored_count_ = count_;
      Changed();
    }
  }
  if (!Slots()[0].Name.empty() || (!no_primary_ && Slots()[0].Unique != 1))
    log("Invalid definition of the primary index in index header, " + fixed);
  EditSlots()[0].Name.clear();
  EditSlots()[0].Unique = 1;
  for (int s = 1; s <= count_; ++s) {
    std::string& name = EditSlots()[s].Name;
    const std::string folded = Folded(name);
    if (folded.empty() || !IsAlpha(folded[0]) || !IsAlpha(name[0])) {
      log("Invalid index name for index " + name + ", " + fixed);
      name = ("_" + name).substr(0, kMaxFieldNameLength);
    }
    for (int t = 1; t < s; ++t) {
      if (Folded(Slots()[t].Name) != Folded(name)) continue;
      log("Duplicate index name for index " + name + ", " + fixed);
      name = ("_" + name).substr(0, kMaxFieldNameLength);
      t = 0;  // the new name must differ from every earlier one too
    }
  }
  const std::size_t field_count = fields_ ? fields_->size() : 0;
  auto repair_slot = [&](int s) {
    TIndexDefinition& d = EditSlots()[s];
    const std::string name = s == 0 ? std::string("Primary") : d.Name;
    if (d.Compression > kcBoth) {
      log("Invalid key compression for index " + name + ", " + fixed);
      if (fix) d.Compression = kcNone;
    }
    int found = 0, listed = 0;
    std::uint32_t size = 0;
    for (int i = 0; i < kMaxKeyFields && d.Fields[i] != 0; ++listed) {
      const std::uint16_t n = d.Fields[i];
      if (n > field_count || !Keyable((*fields_)[n - 1])) {
        log("Invalid field number " + std::to_string(n) + " in index " + name + ", " + (fix ? "field removed from index" : fixed));
        for (int j = i; j + 1 < kMaxKeyFields; ++j) {
          d.Fields[j] = d.Fields[j + 1];
          d.FieldDescending[j] = d.FieldDescending[j + 1];
        }
        d.Fields[kMaxKeyFields - 1] = 0;
        d.FieldDescending[kMaxKeyFields - 1] = 0;
        continue;
      }
      size += (*fields_)[n - 1].PhysicalSize + 1u;
      ++found, ++i;
    }
    if (d.FieldCount != listed)
      log("Invalid key field count of " + std::to_string(d.FieldCount) + " for index " + name + ", " + fixed);
    if (s == 0) {
      if (found == 0) {
        no_primary_ = 1;
        ClearIndexDefinition(0);
        return;
      }
      no_primary_ = 0;
    }
    if (size > kMaxKeyFieldBytes || size == 0) {
      log("Invalid key size of " + std::to_string(size) + " for index " + name +
          (fix ? ", error fixed and index removed" : ", error not fixed"));
      if (fix) d.RemovalMark = 1;
      return;
    }
    if (!d.Unique) size += kRecordIDKeySize;
    if (d.KeySize != size) {
      log("Invalid key size of " + std::to_string(d.KeySize) + " for index " + name + ", " + fixed);
      d.KeySize = static_cast<std::uint16_t>(size);
    }
    d.FieldCount = static_cast<std::uint8_t>(found);
  };
  for (int s = 0; s <= count_; ++s) repair_slot(s);
  for (int s = count_; s >= 0; --s) {
    if (!Slots()[s].RemovalMark) continue;
    EditSlots()[s].RemovalMark = 0;
    DeleteIndex(static_cast<std::uint8_t>(s), true);
  }
  const TIndexDefinition& system = Slots()[kSystemSlot];
  if (system.KeySize != SystemDefinition().KeySize || system.Compression != kcNone || !HoldsSystemIndex())
    log("Invalid definition of index " + SystemDefinition().Name + " in index header, " + fixed);
  const std::uint32_t root = system.Root, free = system.FreePage;
  EditSlots()[kSystemSlot] = SystemDefinition();
  EditSlots()[kSystemSlot].Root = root;
  EditSlots()[kSystemSlot].FreePage = free;
  Changed();
}

// ---- the page caches -------------------------------------------------------------

template <class F>
void TIndexFile::ForEachSlot(bool system_slot, const F& f) {
  if (count_ > kMaxSecondaryIndexes) return;
  for (std::uint8_t s = 0; s <= count_; ++s) f(s);
  if (system_slot) f(kSystemSlot);
}

bool TIndexFile::HoldsPastBudget() const {
  std::size_t pages = caches_[kSystemSlot].Count(), places = base_[kSystemSlot];
  for (std::uint8_t s = 0; s <= std::min(count_, kMaxSecondaryIndexes); ++s) {
    pages += caches_[s].Count();
    places += base_[s];
  }
  // Lists hold their own places between writes anyway.
  return pages > std::max(places, kHeldPageBudget);
}

void TIndexFile::FreeSlotPages(std::uint8_t slot) {
  caches_[slot].Clear([this](TCacheEntry* e) { pool_.Return(static_cast<TPage*>(e)); });
  // The places descents added go with the pages.
  descent_places_ -= base_[slot] - kPageCacheSize;
  base_[slot] = kPageCacheSize;
  caches_[slot].SetCapacity(kPageCacheSize);
}

TPage* TIndexFile::GetNewPageBuffer(std::uint8_t slot, std::uint32_t offset, bool descent) {
  TEntryCache& cache = caches_[slot];
  const bool held = host_->WritesHeld();
  if (!held && cache.Capacity() > base_[slot]) {
    std::vector<std::unique_ptr<TPage>> freed;
    AdjustSlot(slot, freed);
  }
  if (descent && !held && cache.Full() && base_[slot] < kDescentPageCacheSize &&
      descent_places_ < kDescentPageGrowth) {
    // A page met at random keeps its place rather than push out another
    // such page: a lookup's next leaf is as likely one of them as any.
    base_[slot] += kPageCacheGrowth;
    descent_places_ += kPageCacheGrowth;
    cache.SetCapacity(std::max(cache.Capacity(), base_[slot]));
  }
  const std::string* table = &table_name_;
  auto make = [this, table] {
    return pool_.Take([table] { return new TPage(table); }, [](TPage& p) { p.Initialize(); });
  };
  auto flush = [this] { FlushPageBuffers(false); };
  TCacheEntry* entry = cache.Obtain(offset, host_->WritesHeld(), make, flush, kPageCacheGrowth);
  if (!entry) {
    // Every page is in use: a deep tree's descent, its neighbours and its
    // new pages can hold more than the list's places. It grows for them,
    // and shrinks again once they are given back.
    cache.SetCapacity(cache.Capacity() + kPageCacheGrowth);
    entry = cache.Obtain(offset, false, make, flush, kPageCacheGrowth);
  }
  if (!entry) Fail(err::kIndexPagesCorrupt);
  auto* page = static_cast<TPage*>(entry);
  const TIndexDefinition& d = Slots()[slot];
  page->Stamp(slot, d.KeySize, d.Unique != 0, d.Compression);
  return page;
}

void TIndexFile::ReadPage(std::uint8_t slot, std::uint32_t offset, TPage* page, bool header_only) {
  std::uint8_t bytes[kIndexPageSize];
  const bool spilled = spill_first_ != 0 && offset >= spill_first_;
  const std::int64_t got =
      spilled ? spill_.Read(offset, bytes, kIndexPageSize) : ReadAt(*this, offset, bytes, kIndexPageSize, true);
  if (got < static_cast<std::int64_t>(kIndexPageSize)) {
    // Pages appended in the cache are not in the file yet while this table
    // writes alone or in a transaction.
    if (!(host_->Written() && (host_->Exclusive() || host_->WritesHeld()))) Fail(err::kReadError);
    std::memset(bytes + std::max<std::int64_t>(got, 0), 0, kIndexPageSize - std::max<std::int64_t>(got, 0));
  } else if (!spilled && !InMemory()) {
    if (copies_.PaysFor(file_size_ / kIndexPageSize)) copies_.Store(offset, bytes);
    if (host_->WritesHeld()) {
      if (!recent_bytes_) recent_bytes_ = std::make_unique<std::uint8_t[]>(kRecentReads * kIndexPageSize);
      const std::size_t k = recent_next_++ % kRecentReads;
      std::memcpy(recent_bytes_.get() + k * kIndexPageSize, bytes, kIndexPageSize);
      recent_[k] = {offset, WriteCalls()};
    }
  }
  ++stats_.Reads;
  const TIndexDefinition& d = Slots()[slot];
  page->Stamp(slot, d.KeySize, d.Unique != 0, d.Compression);
  page->Read(bytes, header_only, encrypted_);
}

bool TIndexFile::GetPage(void* cursor, std::uint8_t slot, std::uint32_t offset, TPage*& page, bool header_only,
                         bool descent) {
  page = nullptr;
  if (!IsPageOffset(offset)) Fail(err::kIndexPagesCorrupt);
  TEntryCache& cache = caches_[slot];
  TCacheEntry* entry = cache.Find(offset);
  if (const std::uint8_t* copy = entry ? nullptr : copies_.Find(offset)) {
    TPage* fresh = GetNewPageBuffer(slot, offset);
    fresh->Read(copy, header_only, encrypted_);
    entry = fresh;
  } else if (!entry) {
    if (!host_->StrictChangeDetection() && host_->TakeInternalReadLock(cursor)) return false;
    TPage* fresh = GetNewPageBuffer(slot, offset, descent);
    try {
      ReadPage(slot, offset, fresh, header_only);
    } catch (...) {
      cache.Remove(fresh);
      pool_.Return(fresh);
      throw;
    }
    entry = fresh;
  } else {
    cache.Touch(entry);
  }
  ++stats_.Requests;
  if (entry->Key != offset) Fail(err::kIndexPagesCorrupt);
  entry->IncUseCount();
  page = static_cast<TPage*>(entry);
  return true;
}

bool TIndexFile::GetNextFreePage(void* cursor, std::uint8_t slot, TPage*& page) {
  Fault(TFaultSite::Allocate);
  page = nullptr;
  const std::uint32_t head = Slots()[slot].FreePage;
  if (head == 0) {
    if (std::uint64_t{file_size_} + kIndexPageSize > kMaxTableBytes) FailHeader(err::kTableFull);
    const std::uint32_t offset = file_size_;
    copies_.Erase(offset);
    TPage* fresh = GetNewPageBuffer(slot, offset);
    ++stats_.Requests;
    SetFileSize(file_size_ + kIndexPageSize);
    fresh->Modified = true;
    fresh->IncUseCount();
    page = fresh;
    return true;
  }
  TPage* taken = nullptr;
  if (!GetPage(cursor, slot, head, taken, true)) return false;
  const std::uint32_t next = taken->RightPage();
  if (next != 0 && !IsPageOffset(next)) {
    PutPage(taken);
    Fail(err::kIndexPagesCorrupt);
  }
  SetNextFreePagePtr(slot, next);
  const TIndexDefinition& d = Slots()[slot];
  taken->Stamp(slot, d.KeySize, d.Unique != 0, d.Compression);
  taken->Modified = true;
  page = taken;
  return true;
}

void TIndexFile::SetNextFreePage(TPage* page) {
  const std::uint8_t slot = page->Slot();
  page->Initialize();
  page->SetRightPageOffset(Slots()[slot].FreePage);
  page->SetFree(true);
  page->Modified = true;
  SetNextFreePagePtr(slot, page->Offset());
}

void TIndexFile::WriteToSpill() {
  const bool encrypted = encrypted_;
  ForEachSlot(true, [&](std::uint8_t s) {
    spill_.Spill(
        caches_[s], PageLayout(), spill_first_,
        [encrypted](TCacheEntry* e, std::uint8_t* out) { static_cast<TPage*>(e)->Write(out, encrypted); },
        [this](TCacheEntry* e) { copies_.Erase(e->Key); });
  });
}

void TIndexFile::SpillPages() {
  if (InMemory() || !IsOpen()) return;
  std::size_t total = 0;
  ForEachSlot(true, [&](std::uint8_t s) { total += caches_[s].Count(); });
  const std::size_t limit = TSpillFile::Pages();
  if (total < std::max(limit, spill_trigger_)) return;
  // Pages inside the file, which stay, are not walked again per write.
  spill_trigger_ = total * 2;
  const std::uint64_t before = spill_.Written();
  try {
    if (spill_first_ == 0) {
      const auto length = static_cast<std::uint64_t>(GetSize());
      const std::uint64_t first = (std::max<std::uint64_t>(length, kIndexHeaderSize) + kIndexPageSize - 1) /
                                  kIndexPageSize * kIndexPageSize;
      if (first < file_size_) {
        spill_.Start(host_->PrivateDirectory(), first);
        spill_first_ = static_cast<std::uint32_t>(first);
      }
    }
    if (spill_first_ != 0) WriteToSpill();
  } catch (...) {
    // Only a saving of memory: what did not reach the spill file stays
    // changed in the caches.
  }
  if (spill_.Written() == before) return;
  // Each list keeps its more recently used half (the upper levels of its
  // tree, which every descent passes, among them).
  std::size_t left = 0;
  ForEachSlot(true, [&](std::uint8_t s) {
    TEntryCache& cache = caches_[s];
    const std::size_t keep = std::max(std::min(kPageCacheSize, limit / 8), cache.Count() / 2);
    cache.SetCapacity(keep);
    cache.Shrink(keep, [this](TCacheEntry* e) { pool_.Return(static_cast<TPage*>(e)); });
    left += cache.Count();
  });
  spill_trigger_ = left * 2;
}

void TIndexFile::DropSpill() {
  spill_.Drop();
  spill_first_ = 0;
  spill_trigger_ = 0;
}

bool TIndexFile::FlushPageBuffers(bool flush_to_disk) {
  const bool encrypted = encrypted_;
  // A page written keeps a new copy on the terms a page read keeps one;
  // any copy it has follows the file.
  const bool keep = !InMemory() && copies_.PaysFor(file_size_ / kIndexPageSize);
  std::uint32_t runs = 0;
  if (spill_first_ != 0) {
    // The caches' newer pages join the spill file first, so that each page
    // is written once, in file order.
    WriteToSpill();
    spill_.CopyInto(*this);
    host_->MarkWritten();
    ++runs;
  }
  ForEachSlot(true, [&](std::uint8_t s) {
    runs += WriteModifiedRuns(
        *this, *host_, caches_[s], PageLayout(), TReadWindow{}, flush_to_disk,
        [this, encrypted, keep](TCacheEntry* e, std::uint8_t* out) {
          static_cast<TPage*>(e)->Write(out, encrypted);
          if (keep) copies_.Store(e->Key, out);
          else if (!InMemory()) copies_.Refresh(e->Key, out);
        });
  });
  stats_.Writes += runs;
  return runs != 0;
}

void TIndexFile::DropCleanCopies() {
  copies_.Clear();
  ForgetRecentReads();
}

const std::uint8_t* TIndexFile::RecentlyRead(std::uint32_t offset) const {
  if (offset == 0) return nullptr;
  // The newest read of the offset first.
  for (std::size_t i = 1; i <= kRecentReads && i <= recent_next_; ++i) {
    const std::size_t k = (recent_next_ - i) % kRecentReads;
    if (recent_[k].offset != offset) continue;
    return recent_[k].writes == WriteCalls() ? recent_bytes_.get() + k * kIndexPageSize : nullptr;
  }
  return nullptr;
}

void TIndexFile::FreePageBuffers(bool system_slot) {
  DropSpill();
  copies_.Clear();
  ForgetRecentReads();
  if (count_ > kMaxSecondaryIndexes) return;
  for (std::uint8_t s = 0; s < kIndexSlots; ++s)
    if (s != kSystemSlot || system_slot) FreeSlotPages(s);
}

void TIndexFile::AdjustSlot(std::uint8_t slot, std::vector<std::unique_ptr<TPage>>& freed) {
  TEntryCache& cache = caches_[slot];
  std::vector<TCacheEntry*> sorted = cache.Sorted();
  for (std::size_t i = sorted.size(); i > base_[slot]; --i) {
    TCacheEntry* e = sorted[i - 1];
    if (!e->Evictable()) continue;
    cache.Remove(e);
    if (TPage* left = pool_.Keep(static_cast<TPage*>(e))) freed.emplace_back(left);
  }
  cache.SetCapacity(std::max(base_[slot], cache.Count()));
}

void TIndexFile::AdjustPageBuffers(bool system_slot) {
  std::vector<std::unique_ptr<TPage>> freed;
  ForEachSlot(system_slot, [&](std::uint8_t s) { AdjustSlot(s, freed); });
  FreeInBackground(std::move(freed));
}

void TIndexFile::FreeInBackground(std::vector<std::unique_ptr<TPage>> pages) {
  // A few are freed here: a thread costs more than they do.
  if (pages.size() < 256) return;
  JoinFreeing();
  auto shared = std::make_shared<std::vector<std::unique_ptr<TPage>>>(std::move(pages));
  try {
    freeing_ = std::async(std::launch::async, [shared] { shared->clear(); });
  } catch (...) {
    // No thread: they go here, as `shared` does.
  }
}

void TIndexFile::JoinFreeing() {
  if (freeing_.valid()) freeing_.get();
}

}  // namespace korvex
