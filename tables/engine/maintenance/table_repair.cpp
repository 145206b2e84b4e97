#include "tables/engine/maintenance/table_repair.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "platform/runtime/coding.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/filelock.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/journal.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/files/index_tree.h"
#include "tables/engine/table/interrupted_work.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/names.h"

namespace korvex {

namespace {
// Record IDs are positive 32-bit numbers.
constexpr std::uint32_t kHighestRecordID = 0x7FFFFFFF;
}  // namespace

TTableRepair::TTableRepair(TRepairRequest request) : request_(std::move(request)) {
  host_.name = request_.TableName;
  host_.repairing = true;
  host_.private_directory = request_.PrivateDirectory;
  host_.log = [this](const std::string& line) { Log(line); };
}

TTableRepair::~TTableRepair() { CloseFiles(); }

std::string TTableRepair::TimeText() {
  const rtl::TDateTime now = rtl::Now();
  int year, month, day, hour, minute, second, ms;
  rtl::DecodeDate(now, year, month, day);
  rtl::DecodeTime(now, hour, minute, second, ms);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return text;
}

void TTableRepair::Log(const std::string& line) const {
  if (quiet_) return;
  ++logged_;
  if (request_.Log) request_.Log(line.substr(0, 255));
}

std::string TTableRepair::Sibling(const char* extension) const {
  const std::string& path = request_.DataPath;
  std::size_t dot = path.find_last_of('.');
  std::size_t slash = path.find_last_of('/');
  std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
  return stem + extension;
}

// ---- files -----------------------------------------------------------------

void TTableRepair::Prepare(TFileHandler& file, const std::string& name) const {
  file.SetFileName(name);
  file.SetInMemory(request_.InMemory);
  file.SetExclusive(true);
}

void TTableRepair::CheckJournal() {
  // A journal left by a writer that died inside a flush: a repair puts the
  // files back as they were before that flush; verification only says so.
  const std::string journal = Sibling(".JNL");
  if (request_.InMemory || !TJournal::IsHot(journal)) return;
  if (request_.VerifyOnly) {
    Pending("Unfinished write journal found for table " + request_.TableName + ", error not fixed");
    return;
  }
  std::vector<std::unique_ptr<TFileHandler>> raw;
  std::vector<TFileHandler*> files;
  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    std::string name = ext == std::string(".DAT") ? request_.DataPath : Sibling(ext);
    if (!FileNameExists(name, false)) {
      files.push_back(nullptr);
      continue;
    }
    raw.push_back(std::make_unique<TFileHandler>());
    Prepare(*raw.back(), name);
    raw.back()->OpenFile();
    files.push_back(raw.back().get());
  }
  TJournal::RecoverFile(journal, files);
  Pending("Unfinished write journal played back for table " + request_.TableName + ", error fixed");
}

std::string TTableRepair::Unusable(TFileHandler& file, std::int64_t header, const char* what) {
  if (!FileNameExists(file.FileName(), request_.InMemory)) {
    if (!request_.VerifyOnly) replaced_.push_back({file.FileName(), false, {}});
    return std::string(what) + " missing, ";
  }
  // The handler's own open: the file's would read the header.
  file.TFileHandler::OpenFile();
  const std::int64_t size = file.GetSize();
  std::string bytes;
  if (size < header && !request_.VerifyOnly) {
    bytes.resize(static_cast<std::size_t>(size));
    ReadAt(file, 0, bytes.data(), size);
  }
  file.TFileHandler::CloseFile();
  if (size >= header) return {};
  if (!request_.VerifyOnly) {
    replaced_.push_back({file.FileName(), true, std::move(bytes)});
    file.DeleteFile();
  }
  return std::string(what) + " shorter than its header, ";
}

void TTableRepair::OpenFiles() {
  CheckJournal();
  data_ = std::make_unique<TDataFile>(Host());
  Prepare(*data_, request_.DataPath);
  if (data_->OpenForRepair()) Pending("Field definitions cut short in table header, " + Fixed());
  has_blobs_ = std::any_of(data_->Fields().begin(), data_->Fields().end(),
                           [](const TFieldDefinition& f) { return f.DataType == dtBlob; }) ||
               data_->GetBlobFieldCount() > 0;


  index_ = std::make_unique<TIndexFile>(Host(), data_->GetEncrypted());
  index_->SetFields(&data_->Fields());
  Prepare(*index_, Sibling(".IDX"));
  const std::string index_fault = Unusable(*index_, kIndexHeaderSize, "Index file");
  if (!index_fault.empty()) {
    index_missing_ = true;
    Pending(index_fault + (request_.VerifyOnly ? "error not fixed" : "error fixed, indexes lost"));
    if (!request_.VerifyOnly) {
      index_->CreateFile();
      index_->SetNoPrimaryIndex(true);
    }
  } else {
    index_->OpenForRepair();
    // A header that holds neither this version nor the system index was
    // written for another table (deciphered with the wrong key, another
    // table's plain file beside an encrypted one): one line for it, not
    // one per definition of no meaning.
    if (index_->GetVersion() != kTableVersion && !index_->HoldsSystemIndex()) {
      index_foreign_ = index_missing_ = true;
      Pending("Index file does not belong to the table, " +
              (request_.VerifyOnly ? std::string("error not fixed") : std::string("error fixed, indexes lost")));
    }
  }

  blob_ = std::make_unique<TBlobFile>(Host(), data_->GetEncrypted());
  if (has_blobs_) {
    blob_->SetBlockSize(data_->GetBlobBlockSize());
    Prepare(*blob_, Sibling(".BLB"));
    const std::string blob_fault = Unusable(*blob_, kBlobHeaderSize, "BLOB file");
    if (!blob_fault.empty()) {
      Pending(blob_fault + Fixed());
      if (request_.VerifyOnly) {
        blob_.reset();
      } else {
        blob_->CreateFile();
      }
    } else {
      blob_->OpenFile();
    }
  }
}

void TTableRepair::CloseFiles() {
  // Verification writes nothing; a repair has flushed before this.
  for (TFileHandler* file : {static_cast<TFileHandler*>(blob_.get()), static_cast<TFileHandler*>(index_.get()),
                             static_cast<TFileHandler*>(data_.get())}) {
    if (!file) continue;
    try {
      file->CloseFile();
    } catch (...) {
    }
  }
  blob_.reset();
  index_.reset();
  data_.reset();
}

// ---- headers ---------------------------------------------------------------

void TTableRepair::CheckIndexPointers() {
  const int last = index_->GetIndexCount();
  for (int s = 0; s <= kIndexSlots - 1; ++s) {
    if (s > last && s != kSystemSlot) continue;
    const TIndexDefinition& d = index_->GetIndexDefinition(static_cast<std::uint8_t>(s));
    for (std::uint32_t p : {d.Root, d.FreePage}) {
      if (p == 0 || index_->IsPageOffset(p)) continue;
      const std::string name = s == 0 ? std::string("Primary") : d.Name;
      Log("Invalid page pointer for index " + name + " in index header, " + Fixed());
      break;
    }
  }
}

void TTableRepair::CheckIndexCount() {
  // Deleting an index frees its pages before the count drops, so a slot
  // past the count whose tree has a root is an index the count lost: its
  // pages belong to no index. A repair takes it back in (and rebuilds it).
  const std::uint8_t count = index_->GetIndexCount();
  std::uint8_t whole = count;
  while (whole < kMaxSecondaryIndexes) {
    const TIndexDefinition& d = index_->GetIndexDefinition(static_cast<std::uint8_t>(whole + 1));
    if (d.Root == 0 || d.FieldCount == 0 || d.Name.empty()) break;
    Log("Pages of index " + d.Name + " past the index count belong to no index, " + Fixed());
    ++whole;
  }
  if (whole == count) return;
  Log("Invalid index count of " + std::to_string(count) + " in index header, " + Fixed());
  if (!request_.VerifyOnly) index_->SetIndexCount(whole);
}

namespace {
bool FileFailure(TEngineErrorCode code) {
  return code == err::kReadError || code == err::kWriteError || code == err::kTableFull ||
         code == err::kOutOfMemory;
}

// Whether the check raises no engine error.
template <class F>
bool Passes(const F& check) {
  try {
    check();
    return true;
  } catch (const EKORVEXEngineError&) {
    return false;
  }
}
}  // namespace

void TTableRepair::RepairHeaders() {
  const bool verify = request_.VerifyOnly;
  // Every header fault that makes open refuse the table is reported: the
  // lines below name what they find, and a file whose header open refuses
  // with none of them said gets one line of its own.
  auto reported = [&](bool sound, std::size_t before, const std::string& file) {
    if (!sound && logged_ == before) Log("Invalid " + file + " header, " + Fixed());
  };
  const bool data_sound = Passes([&] { data_->CheckHeader(false); });
  const std::size_t data_before = logged_;
  // Indexes cannot be ordered without the table's language.
  if (data_->GetLanguageID() != 0 && !IsLanguageAvailable(data_->GetLanguageID(), data_->GetSortID()))
    RaiseError(err::kLanguageUnavailable, request_.TableName);
  if (data_->GetVersionNum() != kTableVersion) {
    // Only this version writes the engine stamp: without it the table is
    // an older one, to be upgraded, not mended.
    if (data_->GetHeader().EngineStamp != kEngineStamp) RaiseError(err::kWrongVersion, request_.TableName);
    Log("Invalid table version in table header, " + Fixed());
    if (!verify) data_->MendVersion();
  }
  data_->RepairHeader(this, verify);
  // No fields, or a field of unknown type, leave no record layout to mend.
  if (data_->Fields().empty()) RaiseError(err::kHeaderCorrupt, request_.TableName);
  for (const TFieldDefinition& f : data_->Fields())
    if (f.DataType == dtUnknown) RaiseError(err::kHeaderCorrupt, request_.TableName);
  reported(data_sound, data_before, "table");
  if (index_->IsOpen() && index_foreign_) {
    // Its definitions are bytes of no meaning: the table keeps none.
    if (!verify) {
      index_->ClearHeader();
      index_->ForgetDefinitions();
    }
  } else if (index_->IsOpen()) {
    const bool sound = Passes([&] { index_->CheckHeader(); });
    const std::size_t before = logged_;
    if (index_->GetVersion() != kTableVersion) Log("Invalid table version in index file header, " + Fixed());
    const std::uint64_t length = static_cast<std::uint64_t>(index_->GetSize());
    if (index_->GetFileSize() != length || index_->GetFileSize() < kIndexHeaderSize ||
        index_->GetFileSize() % kIndexPageSize != 0)
      Log("Invalid file size in index file header, " + Fixed());
    CheckIndexPointers();
    CheckIndexCount();
    if (!verify) index_->ClearHeader();
    index_->RepairHeader(this, !verify);
    reported(sound, before, "index file");
  }
  if (blob_ && blob_->IsOpen()) {
    const bool sound = Passes([&] { blob_->CheckHeader(); });
    const std::size_t before = logged_;
    if (blob_->GetVersion() != kTableVersion) Log("Invalid table version in BLOB file header, " + Fixed());
    const std::uint64_t length = static_cast<std::uint64_t>(blob_->GetSize());
    if (blob_->GetFileSize() != length)
      Log("Invalid file size in BLOB file header, " + Fixed());
    if (blob_->FirstFreeBlock() != 0 && !blob_->IsBlockOffset(blob_->FirstFreeBlock()))
      Log("Invalid free block chain in BLOB file header, " + Fixed());
    blob_->RepairHeader(this, !verify);
    reported(sound, before, "BLOB file");
  }
}

// ---- the record pass -------------------------------------------------------

void TTableRepair::CheckFreeChain(std::uint32_t first_free) {
  const std::uint32_t used = data_->GetPhysicalRecordsUsed();
  std::unordered_set<std::uint32_t> seen;
  for (std::uint32_t n = first_free; n != 0;) {
    const std::string at = "physical record # " + std::to_string(n) + ", ";
    if (n > used) {
      Log("Free record chain links to " + at + "beyond the last record, " + Fixed());
      return;
    }
    if (!seen.insert(n).second) {
      Log("Free record chain returns to " + at + Fixed());
      return;
    }
    TRecord* record = nullptr;
    data_->GetRecord(this, n, false, false, 1, record);
    const bool deleted = record->Deleted();
    const std::uint32_t next = record->NextFree();
    data_->PutRecord(record);
    if (!deleted) {
      Log("Free record chain links to " + at + "a record in use, " + Fixed());
      return;
    }
    n = next;
  }
}

std::uint32_t TTableRepair::HighestRecordID() {
  std::uint32_t highest = 0;
  const std::uint32_t used = data_->GetPhysicalRecordsUsed();
  for (std::uint32_t n = 1; n <= used; ++n) {
    TRecord* record = nullptr;
    data_->GetRecord(this, n, true, false, 1, record);
    if (record->RecordID() <= kHighestRecordID) highest = std::max(highest, record->RecordID());
    data_->PutRecord(record);
  }
  return highest;
}

void TTableRepair::CheckBlobFields(TRecord* record, std::uint32_t n, bool free_chains) {
  const bool verify = request_.VerifyOnly;
  for (const TFieldDefinition& f : data_->Fields()) {
    if (f.DataType != dtBlob) continue;
    // A field placed past the record's end (verification leaves the
    // definitions as found) has no reference to read.
    if (std::size_t{f.Offset} + 9 > record->Data.size()) continue;
    std::uint8_t* bytes = record->Data.data() + f.Offset;
    const auto reference = static_cast<std::int32_t>(rtl::DecodeFixed32(bytes + 1));
    const std::uint32_t signature = rtl::DecodeFixed32(bytes + 5);
    if (reference == 0) continue;
    const bool null = bytes[0] == 0;
    const bool outside = !blob_ || reference < static_cast<std::int32_t>(kBlobHeaderSize) ||
                         static_cast<std::uint32_t>(reference) >= blob_->GetFileSize();
    if (null || outside) {
      Log("Invalid BLOB offset into BLOB file for physical record # " + std::to_string(n) + ", " + Fixed());
      if (!verify) {
        std::fill(bytes + 1, bytes + 9, std::uint8_t{0});
        if (null) bytes[0] = 0;
        record->Modified = true;
      }
      continue;
    }
    std::uint32_t ref = static_cast<std::uint32_t>(reference);
    if (free_chains)
      blob_->FreeBlobBlocks(this, verify, ref, n, signature, request_.AdoptBlobSignatures);
    else
      blob_->RepairBlobBlocks(this, verify, ref, n, signature, request_.AdoptBlobSignatures);
    if (!verify && ref != static_cast<std::uint32_t>(reference)) {
      rtl::EncodeFixed32(bytes + 1, ref);
      if (ref == 0) rtl::EncodeFixed32(bytes + 5, 0);
      record->Modified = true;
    }
  }
}

void TTableRepair::FreeBlobs(TRecord* record, std::uint32_t n) {
  if (!blob_) return;
  for (const TFieldDefinition& f : data_->Fields()) {
    if (f.DataType != dtBlob) continue;
    // A field placed past the record's end (verification leaves the
    // definitions as found) has no reference to read.
    if (std::size_t{f.Offset} + 9 > record->Data.size()) continue;
    std::uint8_t* bytes = record->Data.data() + f.Offset;
    std::uint32_t ref = rtl::DecodeFixed32(bytes + 1);
    if (ref == 0) continue;
    blob_->FreeBlobBlocks(this, false, ref, n, rtl::DecodeFixed32(bytes + 5), request_.AdoptBlobSignatures);
    std::fill(bytes + 1, bytes + 9, std::uint8_t{0});
    record->Modified = true;
  }
}

bool TTableRepair::FieldsSound(const TRecord* record) const {
  for (const TFieldDefinition& f : data_->Fields()) {
    if (!f.TakesRecordBytes() || std::size_t{f.Offset} + 1 + f.PhysicalSize > record->Data.size()) continue;
    const std::uint8_t* at = record->Data.data() + f.Offset;
    const std::uint8_t* value = at + 1;
    const std::uint8_t* end = value + f.PhysicalSize;
    if (at[0] > 1) return false;
    if (at[0] == 0) {
      if (std::any_of(value, end, [](std::uint8_t b) { return b != 0; })) return false;
      continue;
    }
    if (f.DataType == dtString) {
      const std::uint8_t* stop = std::find(value, end, std::uint8_t{0});
      if (stop == end || std::any_of(stop, end, [](std::uint8_t b) { return b != 0; })) return false;
    } else if (f.DataType == dtBoolean && rtl::DecodeFixed16(value) > 1) {
      return false;
    }
  }
  return true;
}

void TTableRepair::DropKeyedRecord(std::uint32_t n) {
  const std::vector<TFieldDefinition>& fields = data_->Fields();
  TRecord* record = nullptr;
  data_->GetRecord(this, n, true, false, 1, record);
  ScopeExit put_back{[&] { data_->PutRecord(record); }};
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const TIndexDefinition& d = index_->GetIndexDefinition(slots_[i]);
    std::vector<std::uint8_t> key(d.KeySize);
    BuildIndexKey(d, fields, data_->GetLanguageID(), data_->GetSortID(), record->Data.data(), key.data());
    TIndexTree(*index_, slots_[i], comparators_[i], this).Remove(key.data());
  }
  std::uint8_t key[5];
  BuildSystemKey(record->Data.data(), key);
  TIndexTree(*index_, kSystemSlot, system_order_, this).Remove(key);
  Log("Error rebuilding index keys for physical record # " + std::to_string(n) +
      ", error fixed but physical record deleted");
  FreeBlobs(record, n);
  record->SetDeleted(true);
  record->SetNextFree(free_head_);
  free_head_ = n;
  record->Modified = true;
  AddSystemKey(record, n);
  --counted_;
}

bool TTableRepair::AddIndexKeys(TRecord* record, std::uint32_t n) {
  const std::vector<TFieldDefinition>& fields = data_->Fields();
  std::vector<std::vector<std::uint8_t>> keys(slots_.size());
  const bool sound = FieldsSound(record);
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const TIndexDefinition& d = index_->GetIndexDefinition(slots_[i]);
    keys[i].assign(d.KeySize, 0);
    BuildIndexKey(d, fields, data_->GetLanguageID(), data_->GetSortID(), record->Data.data(), keys[i].data());
  }
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const TIndexDefinition& d = index_->GetIndexDefinition(slots_[i]);
    if (!d.Unique) continue;
    TIndexTree tree(*index_, slots_[i], comparators_[i], this);
    bool found = false;
    std::vector<std::uint8_t> at;
    std::uint32_t holder = 0;
    tree.FindKey(keys[i].data(), d.KeySize, found, at, holder);
    if (!found) continue;
    // The record kept is the one the damage left whole; alike, the first.
    if (!sound || holder == 0 || holder == n) return false;
    TRecord* held = nullptr;
    data_->GetRecord(this, holder, true, true, 1, held);
    const bool held_sound = FieldsSound(held);
    data_->PutRecord(held);
    if (held_sound) return false;
    DropKeyedRecord(holder);
    i = static_cast<std::size_t>(-1);  // every unique index again: the holder's keys are gone
  }
  for (std::size_t i = 0; i < slots_.size(); ++i)
    TIndexTree(*index_, slots_[i], comparators_[i], this).Insert(keys[i].data(), n);
  return true;
}

void TTableRepair::AddSystemKey(TRecord* record, std::uint32_t n) {
  std::uint8_t key[5];
  BuildSystemKey(record->Data.data(), key);
  TIndexTree(*index_, kSystemSlot, system_order_, this).Insert(key, n);
}

void TTableRepair::RecordPass() {
  const bool verify = request_.VerifyOnly;
  const bool rebuild = !verify && index_->IsOpen();
  if (rebuild) {
    if (!index_->GetNoPrimaryIndex()) slots_.push_back(0);
    for (std::uint8_t s = 1; s <= index_->GetIndexCount(); ++s) slots_.push_back(s);
    for (std::uint8_t s : slots_)
      comparators_.emplace_back(data_->GetLanguageID(), data_->GetSortID(), index_->GetIndexDefinition(s),
                                data_->Fields());
  }
  last_id_before_ = data_->GetLastRecordID();
  // The highest ID first: a record without one must not take an ID that a
  // later record holds.
  highest_id_ = HighestRecordID();
  next_id_ = std::max(highest_id_, last_id_before_);
  std::unordered_set<std::uint32_t> ids;

  for (std::uint32_t n = 1; n <= data_->GetPhysicalRecordsUsed(); ++n) {
    const std::uint32_t used = data_->GetPhysicalRecordsUsed();
    TRecord* record = nullptr;
    data_->GetRecord(this, n, true, false, 1, record);
    {
      ScopeExit put_back{[&] { data_->PutRecord(record); }};
      const std::string at = "physical record # " + std::to_string(n);
      if (record->Data[0] > 1) {
        Log("Invalid deleted flag for " + at + ", " + Fixed());
        if (!verify) record->Data[0] = 1;
      }
      const bool deleted = record->Data[0] != 0;
      const std::uint32_t id = record->RecordID();
      // New IDs follow the table's counter, which comes back to 1 after
      // the highest ID, and skip the IDs met so far.
      auto next_free = [&] {
        do next_id_ = next_id_ >= kHighestRecordID ? 1 : next_id_ + 1;
        while (ids.count(next_id_) != 0);
        return next_id_;
      };
      if (id == 0 || id > kHighestRecordID) {
        Log("Logical record ID for " + at + " is invalid, " + Fixed());
        if (!verify) record->SetRecordID(next_free());
      } else if (!ids.insert(id).second) {
        Log("Logical record ID for " + at + " is a duplicate, " + Fixed());
        if (!verify) record->SetRecordID(next_free());
      }
      if (!verify) ids.insert(record->RecordID());
      if (!deleted) {
        ++counted_;
        CheckBlobFields(record, n, false);
        if (!verify) record->Modified = true;  // its number and bytes as this pass leaves them
        if (rebuild) {
          bool added = false;
          try {
            added = AddIndexKeys(record, n);
            if (!added) {
              Log("Error rebuilding index keys for " + at + ", error fixed but physical record deleted");
              FreeBlobs(record, n);
              record->SetDeleted(true);
              --counted_;
            }
          } catch (const EKORVEXEngineError& e) {
            // A file that cannot be read or written, or is full, ends the
            // repair (its journal puts the files back): the trees would
            // lack this record's keys while the table counts it.
            if (FileFailure(e.ErrorCode())) throw;
            Log("Error rebuilding index keys for " + at + ", " + e.what() + ", error not fixed");
          }
        }
      }
      if (record->Deleted()) {
        if (!verify) {
          record->SetNextFree(free_head_);
          free_head_ = n;
        }
        if (deleted && !verify) {
          quiet_ = true;
          ScopeExit speak_again{[&] { quiet_ = false; }};
          CheckBlobFields(record, n, true);
        }
      }
      if (rebuild) AddSystemKey(record, n);
    }
    if (request_.Progress) request_.Progress(n, static_cast<std::uint8_t>(std::uint64_t{n} * 100 / used));
  }
}

void TTableRepair::VerifyIndexes() {
  if (!index_ || !index_->IsOpen() || index_foreign_) return;  // reported missing, cut or another's
  if (!index_->GetNoPrimaryIndex()) VerifyIndex(0);
  for (std::uint8_t s = 1; s <= index_->GetIndexCount(); ++s) VerifyIndex(s);
  VerifyIndex(kSystemSlot);
  if (index_->GetActualRecordCount() != counted_)
    Log("Invalid record count of " + std::to_string(index_->GetActualRecordCount()) + " in index header, error not fixed");
}

bool TTableRepair::VerifyIndex(std::uint8_t slot) {
  const TIndexDefinition& d = index_->GetIndexDefinition(slot);
  const std::string name = slot == 0 ? std::string("Primary") : d.Name;
  const bool system = slot == kSystemSlot;
  const std::vector<TFieldDefinition>& fields = data_->Fields();
  // A definition the header check refused has no keys to compare.
  if (!system && (d.KeySize == 0 || d.KeySize != ComputeKeySize(d, fields))) return false;
  const std::uint32_t used = data_->GetPhysicalRecordsUsed();
  const std::uint32_t expected = system ? used : counted_;
  const TKeyComparator order = system ? TKeyComparator()
                                      : TKeyComparator(data_->GetLanguageID(), data_->GetSortID(), d, fields);
  TIndexTree tree(*index_, slot, order, this);
  std::uint32_t keys = 0, wrong = 0;
  try {
    keys = tree.Count();
    std::vector<std::uint8_t> key, previous, built(d.KeySize);
    std::unordered_set<std::uint32_t> named;
    // Ranks past the records cannot name a record of their own (and a
    // damaged count may be any number).
    const std::uint32_t ranks = std::min(keys, used);
    wrong = keys - ranks;
    for (std::uint32_t rank = 1; rank <= ranks; ++rank) {
      std::uint32_t n = 0;
      if (!tree.KeyAt(rank, key, n)) RaiseError(err::kIndexPagesCorrupt, request_.TableName);
      bool good = n >= 1 && n <= used && named.insert(n).second;
      if (good) {
        // Keys in their order name records here and there: by the
        // access rule, not a window read ahead for each.
        TRecord* record = nullptr;
        data_->GetRecord(this, n, true, true, 1, record);
        if (system) BuildSystemKey(record->Data.data(), built.data());
        else if (record->Deleted()) good = false;
        else BuildIndexKey(d, fields, data_->GetLanguageID(), data_->GetSortID(), record->Data.data(), built.data());
        data_->PutRecord(record);
        good = good && key.size() == built.size() && std::equal(key.begin(), key.end(), built.begin());
      }
      if (!previous.empty() && order.CompareKeys(previous.data(), key.data(), d.KeySize) >= 0) good = false;
      if (!good) ++wrong;
      previous = key;
    }
  } catch (const EKORVEXEngineError& e) {
    Log("Index pages of index " + name + " unreadable (error " + std::to_string(e.ErrorCode()) + "), error not fixed");
    return true;
  }
  if (keys != expected)
    Log("Invalid key count of " + std::to_string(keys) + " for index " + name + " of " + std::to_string(expected) +
        " records, error not fixed");
  if (wrong == 1) Log("1 key of index " + name + " does not match its record, error not fixed");
  if (wrong > 1) Log(std::to_string(wrong) + " keys of index " + name + " do not match their records, error not fixed");
  return keys != expected || wrong != 0;
}

bool TTableRepair::LayoutSound() const {
  // Keys and checks read each field where its definition says: a stored
  // offset off the layout would read another field's bytes or past the record.
  const std::uint32_t record_size = data_->GetRecordSize();
  std::vector<std::uint16_t> offsets;
  if (record_size == 0 || record_size != ComputeRecordLayout(data_->Fields(), &offsets)) return false;
  for (std::size_t i = 0; i < offsets.size(); ++i)
    if (data_->Fields()[i].Offset != offsets[i]) return false;
  return true;
}

bool TTableRepair::RecordsReadable() {
  const std::uint64_t size = static_cast<std::uint64_t>(data_->GetSize());
  const std::uint64_t start = data_->DataStart();
  return LayoutSound() && size >= start &&
         (size - start) / data_->GetRecordSize() >= data_->GetPhysicalRecordsUsed();
}

std::vector<std::uint8_t> TTableRepair::FaultyIndexes() {
  std::vector<std::uint8_t> faulty;
  if (!index_->IsOpen() || !RecordsReadable()) return faulty;
  // The trees' key counts are judged against the live records.
  counted_ = 0;
  for (std::uint32_t n = 1; n <= data_->GetPhysicalRecordsUsed(); ++n) {
    TRecord* record = nullptr;
    data_->GetRecord(this, n, true, false, 1, record);
    if (record->Data[0] == 0) ++counted_;
    data_->PutRecord(record);
  }
  std::vector<std::uint8_t> slots;
  if (!index_->GetNoPrimaryIndex()) slots.push_back(0);
  for (std::uint8_t s = 1; s <= index_->GetIndexCount(); ++s) slots.push_back(s);
  slots.push_back(kSystemSlot);
  quiet_ = true;
  ScopeExit speak_again{[&] {
    quiet_ = false;
    counted_ = 0;
  }};
  for (std::uint8_t s : slots)
    if (VerifyIndex(s)) faulty.push_back(s);
  return faulty;
}

void TTableRepair::Finish() {
  const bool verify = request_.VerifyOnly;
  if (last_id_before_ < highest_id_)
    Log("Invalid next available record ID (auto-increment), " + Fixed());
  if (verify) return;
  data_->SetNextFreeRecordNumber(free_head_);
  // Never below an ID a record holds (the counter may have come back to 1).
  const std::uint32_t last_id = std::max(next_id_, highest_id_);
  if (last_id != last_id_before_) data_->SetNextFreeRecordID(last_id);
  data_->FlushRecordBuffers(false);
  data_->WriteFields();
  data_->WriteHeader(true, false);
  data_->Flush();
  if (index_->IsOpen()) {
    index_->SetActualRecordCount(counted_);
    index_->FlushPageBuffers(false);
    index_->WriteHeader(true, false);
    index_->Flush();
  }
  if (blob_ && blob_->IsOpen()) {
    blob_->FlushBlockBuffers(false);
    blob_->WriteHeader(true, false);
    blob_->Flush();
  }
}

void TTableRepair::PutBackReplaced() {
  CloseFiles();
  for (const TReplaced& r : replaced_) {
    try {
      TFileHandler file;
      file.SetFileName(r.path);
      file.SetInMemory(request_.InMemory);
      if (!r.existed) {
        if (FileNameExists(r.path, request_.InMemory)) file.DeleteFile();
        continue;
      }
      file.CreateFile();
      WriteAt(file, 0, r.bytes.data(), static_cast<std::int64_t>(r.bytes.size()));
      file.CloseFile();
    } catch (...) {
    }
  }
  replaced_.clear();
}

void TTableRepair::Run() {
  // A swap or an upgrade a killed process left half-way is finished first
  // (the upgrade's own repair is that finish).
  if (!request_.VerifyOnly && !request_.InMemory && !request_.AdoptBlobSignatures)
    FinishInterruptedWork(request_.DataPath, request_.PrivateDirectory);
  try {
    RunOnFiles();
  } catch (...) {
    // An index or BLOB file made anew in place of a missing or cut one goes
    // back to what it was: a repair that fails leaves the table as it found it.
    PutBackReplaced();
    throw;
  }
}

void TTableRepair::RunOnFiles() {
  const std::string head = (request_.VerifyOnly ? "Verification of table " : "Repair of table ") + request_.TableName;
  OpenFiles();
  try {
    PassOnFiles(head);
  } catch (const std::exception& e) {
    // A log that was begun ends with the failure, never as completed.
    if (started_) Log(head + " failed at " + TimeText() + ": " + e.what());
    throw;
  }
  Log(head + " completed at " + TimeText());
}

void TTableRepair::PassOnFiles(const std::string& head) {
  // A repair writes its files through a journal of its own: when it fails
  // part way (a file it cannot read or write), the files go back to what
  // they were, so a repair either finishes or leaves the table as it was.
  if (request_.VerifyOnly || request_.InMemory) {
    Pass(head);
    return;
  }
  const std::string path = Sibling(".JNL");
  TJournal journal;
  journal.Begin(path, {data_.get(), index_.get(), blob_ && blob_->IsOpen() ? blob_.get() : nullptr}, true);
  try {
    Pass(head);
    journal.Commit();
  } catch (...) {
    journal.UndoQuietly();  // else hot: the next open plays it back
    if (!journal.Hot(path)) {
      journal.Close();
      rtl::DeleteLockedFile(path);
    }
    throw;
  }
  journal.Close();
  rtl::DeleteLockedFile(path);
}

void TTableRepair::Pass(const std::string& head) {
  Log(head + " started at " + TimeText());
  started_ = true;
  for (const std::string& line : pending_) Log(line);
  const std::uint32_t first_free = data_->GetHeader().FirstFreeRecord;
  // The trees as found, before the header repair clears them.
  if (!request_.VerifyOnly && !index_missing_) faulty_ = FaultyIndexes();
  RepairHeaders();
  if (request_.VerifyOnly) {
    // The header as it stands may promise more records than the file
    // holds: the pass reads only whole records.
    if (!RecordsReadable()) {
      Log(head + " ended early: records unreadable until repaired");
      return;
    }
  }
  if (!request_.VerifyOnly && !LayoutSound()) {
    // Fields that need more than the longest record allows: no layout
    // can be read from the records, and the files stay as they are.
    Log(head + " ended early: records unreadable");
    RaiseError(err::kHeaderCorrupt, request_.TableName);
  }
  CheckFreeChain(first_free);
  RecordPass();
  if (request_.VerifyOnly) VerifyIndexes();
  for (std::uint8_t s : faulty_) {
    if (s != kSystemSlot && std::find(slots_.begin(), slots_.end(), s) == slots_.end()) continue;
    const std::string name = s == 0 ? std::string("Primary") : index_->GetIndexDefinition(s).Name;
    Log("Index " + name + " rebuilt from the records, error fixed");
  }
  Finish();
}

}  // namespace korvex
