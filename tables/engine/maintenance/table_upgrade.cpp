#include "tables/engine/maintenance/table_upgrade.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/runtime/coding.h"
#include "platform/runtime/filelock.h"
#include "platform/runtime/files.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/base/short_string.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/scratch_file.h"
#include "tables/engine/files/blob_file.h"
#include "tables/engine/files/data_header.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_definition.h"
#include "tables/engine/files/index_file.h"
#include "tables/engine/maintenance/table_repair.h"
#include "tables/engine/maintenance/table_swap.h"
#include "tables/engine/table/interrupted_work.h"
#include "tables/engine/table/swap_record.h"
#include "tables/engine/table/work_claim.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/key_bytes.h"
#include "tables/lib/names.h"

namespace korvex {
namespace {

constexpr std::size_t kOldFieldSize = 265;
constexpr std::size_t kOldIndexHeaderSize = 2560;
constexpr std::size_t kOldIndexDefinitionSize = 76;
constexpr std::size_t kRecordCountAt = 3974, kNoPrimaryAt = 3978;
const std::string kLatest = "2.00";

class TUpgrade {
public:
  explicit TUpgrade(const TUpgradeRequest& request) : request_(request) {}
  void Run();

private:
  struct OldField {
    TFieldDefinition field;  // as version 4 has it, with its new offset
    std::uint16_t old_offset = 0;
    std::uint8_t old_size = 0;  // value bytes in the old record
  };

  void Log(const std::string& line) const {
    if (request_.Log) request_.Log(line.substr(0, 255));
  }
  void Progress(const std::string& text, std::uint64_t step, std::uint64_t total) const {
    if (request_.Progress) request_.Progress(text, static_cast<std::uint8_t>(total == 0 ? 0 : step * 100 / total));
  }
  [[noreturn]] void Fail(TEngineErrorCode code) const { RaiseError(code, request_.TableName); }
  std::string Sibling(const char* extension) const {
    const std::string& path = request_.DataPath;
    return path.substr(0, path.size() - 4) + extension;
  }
  void Open(TFileHandler& file, const std::string& name) const {
    file.SetFileName(name);
    file.SetInMemory(request_.InMemory);
    file.SetExclusive(true);
    file.OpenFile();
  }
  void Cipher(std::uint8_t* bytes, std::size_t count, TCipherKeys keys, bool encrypt) const {
    if (!encrypted_ || count == 0) return;
    if (encrypt)
      EncryptBuffer(bytes, static_cast<std::int32_t>(count), keys.key1, keys.key2);
    else
      DecryptBuffer(bytes, static_cast<std::int32_t>(count), keys.key1, keys.key2);
  }
  // Old definitions, deciphered, into version-4 definitions with new
  // offsets; the new record size.
  std::uint32_t ReadFields(TFileHandler& dat);
  void WriteRecords(TFileHandler& dat, TFileHandler& out);
  // Each temporary file takes the place of its current one, kept under
  // its name (earlier ones deleted first); on disk under a swap record.
  struct TFresh {
    TScratchFile* fresh;
    std::string current, kept;
  };
  void SwapIn(const std::vector<TFresh>& files);
  // The rest of an upgrade a killed process left marked: the headers
  // stamped, the adopting repair.
  void Resume();
  void Repair();
  static std::string Stem(const TScratchFile& file) { return file.Name().substr(0, file.Name().size() - 4); }
  void ConvertIndexHeader(TFileHandler& idx, TFileHandler& out);
  // Sets the version byte of an index or BLOB file's header in place (to 4
  // unless told otherwise); answers the byte it had.
  std::uint8_t StampVersion(TFileHandler& file, std::uint32_t header_size, std::uint8_t version = 4) const {
    std::vector<std::uint8_t> bytes(header_size);
    ReadAt(file, 0, bytes.data(), header_size);
    Cipher(bytes.data(), header_size, kIndexBlobKeys, false);
    const std::uint8_t was = bytes[8];
    bytes[8] = version;
    Cipher(bytes.data(), header_size, kIndexBlobKeys, true);
    WriteAt(file, 0, bytes.data(), header_size);
    return was;
  }
  // After a failure of the repair that ends the upgrade: the old files back
  // in their places and the headers stamped in place as they were.
  void PutBack() noexcept;
  struct TStamped {
    std::string path;
    std::uint32_t header_size;
    std::uint8_t version;
  };
  std::vector<std::pair<std::string, std::string>> swapped_;  // current, kept
  std::vector<TStamped> stamped_;
  bool marked_ = false;

  const TUpgradeRequest& request_;
  std::uint8_t header_[kDataHeaderSize] = {};
  std::uint8_t version_ = 0;
  bool encrypted_ = false;
  std::uint16_t field_count_ = 0;
  std::uint32_t old_record_size_ = 0, new_record_size_ = 0, records_ = 0, blob_fields_ = 0;
  std::vector<OldField> fields_;
};

std::uint32_t TUpgrade::ReadFields(TFileHandler& dat) {
  const std::size_t size = version_ == 3 ? kFieldDefinitionSize : kOldFieldSize;
  std::vector<std::uint8_t> block(size * field_count_);
  ReadAt(dat, kDataHeaderSize, block.data(), static_cast<std::int64_t>(block.size()));
  Cipher(block.data(), block.size() % 65536, kDataKeys, false);
  std::vector<TFieldDefinition> layout;
  const std::string what = "Upgrading field definitions for " + request_.TableName;
  for (std::uint16_t i = 0; i < field_count_; ++i) {
    const std::uint8_t* b = block.data() + i * size;
    OldField old;
    TFieldDefinition& f = old.field;
    if (version_ == 3) {
      TFieldDefinition v3;
      v3.Decode(b);
      f.FieldNumber = v3.FieldNumber;
      f.Name = v3.Name;
      f.Description = v3.Description;
      f.DataType = v3.DataType;
      f.SubType = v3.SubType;
      f.Size = v3.Size;
      f.Decimals = v3.Decimals;
      f.Required = v3.Required;
      f.Minimum = v3.Minimum;
      f.Maximum = v3.Maximum;
      f.Default = v3.Default;
      old.old_offset = v3.Offset;
    } else {
      f.FieldNumber = rtl::DecodeFixed16(b);
      f.Name = GetShortString(b, size, 2);
      f.Description = GetShortString(b, size, 33);
      f.DataType = b[84];
      f.SubType = b[85];
      f.Size = b[86];
      f.Decimals = b[87];
      old.old_offset = rtl::DecodeFixed16(b + 88);
      f.Required = b[90];
      f.Minimum = GetShortString(b, size, 92);
      f.Maximum = GetShortString(b, size, 143);
      f.Default = GetShortString(b, size, 194);
    }
    f.Name = f.Name.substr(0, kMaxFieldNameLength);
    for (std::string* text : {&f.Description, &f.Minimum, &f.Maximum, &f.Default})
      *text = text->substr(0, kMaxFieldTextLength);
    f.CharCase = 0;
    f.UpdatePhysicalSize();
    // An old BLOB field holds its flag and reference only.
    old.old_size = f.DataType == dtBlob ? 4 : f.PhysicalSize;
    if (f.DataType == dtBlob) ++blob_fields_;
    if (!f.IsAutoIncrement() && std::uint64_t{old.old_offset} + old.old_size + 1 > old_record_size_)
      Fail(err::kHeaderCorrupt);  // the old field does not fit its record
    fields_.push_back(old);
    layout.push_back(f);
    Progress(what, i + 1u, field_count_);
  }
  const std::uint64_t record_size = AssignFieldOffsets(layout);
  if (record_size > kMaxRecordSize) Fail(err::kFieldLimits);
  for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i].field.Offset = layout[i].Offset;
  return static_cast<std::uint32_t>(record_size);
}

void TUpgrade::WriteRecords(TFileHandler& dat, TFileHandler& out) {
  const std::size_t def_size = version_ == 3 ? kFieldDefinitionSize : kOldFieldSize;
  const std::uint64_t old_start = kDataHeaderSize + std::uint64_t{def_size} * field_count_;
  const std::uint64_t new_start = kDataHeaderSize + std::uint64_t{kFieldDefinitionSize} * field_count_;
  const std::string what = "Upgrading records for " + request_.TableName;
  // A few records at a time each way.
  const std::uint32_t batch = std::max<std::uint32_t>(1, 1048576 / std::max(old_record_size_, new_record_size_));
  std::vector<std::uint8_t> in, result;
  for (std::uint32_t first = 1; first <= records_; first += batch) {
    const std::uint32_t n = std::min(batch, records_ - first + 1);
    in.resize(std::size_t{n} * old_record_size_);
    ReadAt(dat, old_start + std::uint64_t{first - 1} * old_record_size_, in.data(),
           static_cast<std::int64_t>(in.size()));
    result.assign(std::size_t{n} * new_record_size_, 0);
    for (std::uint32_t i = 0; i < n; ++i) {
      std::uint8_t* old = in.data() + std::size_t{i} * old_record_size_;
      std::uint8_t* fresh = result.data() + std::size_t{i} * new_record_size_;
      Cipher(old, old_record_size_, kDataKeys, false);
      std::copy(old, old + kRecordPrefixSize, fresh);
      std::uint32_t k = 0;
      for (const OldField& f : fields_) {
        if (f.field.IsAutoIncrement() || !f.field.TakesRecordBytes()) continue;
        std::copy(old + f.old_offset, old + f.old_offset + f.old_size + 1, fresh + f.field.Offset);
        if (f.field.DataType == dtBlob)
          rtl::EncodeFixed32(fresh + f.field.Offset + 5, (first + i - 1) * blob_fields_ + ++k);
      }
      Cipher(fresh, new_record_size_, kDataKeys, true);
      Progress(what, first + i, records_);
    }
    WriteAt(out, new_start + std::uint64_t{first - 1} * new_record_size_, result.data(),
            static_cast<std::int64_t>(result.size()));
  }
}

void TUpgrade::SwapIn(const std::vector<TFresh>& files) {
  TFileHandler file;
  file.SetInMemory(request_.InMemory);
  TSwapPlan plan;
  for (const TFresh& f : files) {
    // The new file was made private; it takes the old one's permissions.
    if (!request_.InMemory) rtl::CopyFileOwnership(f.current, f.fresh->Name());
    file.SetFileName(f.kept);
    if (file.Exists()) file.DeleteFile();
    f.fresh->File().CloseFile();
    plan.aside.push_back({f.current, f.kept});
    plan.in.push_back({f.fresh->Name(), f.current});
  }
  std::unique_ptr<TSwapRecord> record;
  if (!request_.InMemory) record = std::make_unique<TSwapRecord>(Sibling(""), plan);
  std::vector<TFileMove> done;
  try {
    for (const auto* list : {&plan.aside, &plan.in})
      for (const TFileMove& m : *list) {
        RunTableSwapHook(m.from, m.to);
        file.SetFileName(m.from);
        file.RenameFile(m.to);
        done.push_back(m);
      }
  } catch (...) {
    bool undone = true;
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
      try {
        file.SetFileName(it->to);
        file.RenameFile(it->from);
      } catch (...) {
        undone = false;
      }
    }
    if (record) record->Abandon(undone);
    throw;
  }
  if (record) record->Finish();
  for (const TFresh& f : files) {
    f.fresh->Release();
    swapped_.emplace_back(f.current, f.kept);
  }
}

void TUpgrade::PutBack() noexcept {
  for (const TStamped& stamped : stamped_) {
    try {
      TFileHandler file;
      Open(file, stamped.path);
      StampVersion(file, stamped.header_size, stamped.version);
    } catch (...) {
    }
  }
  for (auto it = swapped_.rbegin(); it != swapped_.rend(); ++it) {
    try {
      TFileHandler file;
      file.SetInMemory(request_.InMemory);
      file.SetFileName(it->first);
      if (file.Exists()) file.DeleteFile();
      file.SetFileName(it->second);
      file.RenameFile(it->first);
    } catch (...) {
    }
  }
}

void TUpgrade::ConvertIndexHeader(TFileHandler& idx, TFileHandler& out) {
  std::uint8_t old[kOldIndexHeaderSize];
  ReadAt(idx, 0, old, kOldIndexHeaderSize);
  Cipher(old, kOldIndexHeaderSize, kIndexBlobKeys, false);
  std::vector<std::uint8_t> header(kIndexHeaderSize, 0);
  std::copy(old, old + 4, header.begin());  // update stamp
  header[8] = 4;
  rtl::EncodeFixed32(header.data() + 9, kIndexHeaderSize);
  const std::uint8_t count = std::min<std::uint8_t>(old[13], kMaxSecondaryIndexes);
  header[13] = count;
  const std::string what = "Upgrading index definitions for " + request_.TableName;
  for (int s = 0; s <= count; ++s) {
    const std::uint8_t* o = old + 14 + s * kOldIndexDefinitionSize;
    TIndexDefinition d;
    d.Name = s == 0 ? std::string() : GetShortString(o, kOldIndexDefinitionSize, 0).substr(0, kMaxFieldNameLength);
    d.KeySize = o[31];
    d.Descending = o[32];
    d.FieldDescending.fill(d.Descending ? 1 : 0);
    d.CaseInsensitive = o[33];
    d.Unique = o[34];
    d.FieldCount = std::min<std::uint8_t>(o[35], kMaxKeyFields);
    for (int i = 0; i < kMaxKeyFields; ++i) d.Fields[i] = rtl::DecodeFixed16(o + 36 + 2 * i);
    // The old pages stay in the ".IUP" file: the trees start empty.
    d.Root = d.FreePage = 0;
    if (s == 0 && d.FieldCount == 0) header[kNoPrimaryAt] = 1;
    d.Encode(header.data() + 14 + s * kIndexDefinitionSize);
    if (s > 0) Progress(what, static_cast<std::uint64_t>(s), count);
  }
  TIndexDefinition system;
  system.Name = kSystemIndexName;
  system.KeySize = 5;
  system.Unique = 1;
  system.Encode(header.data() + 14 + kSystemSlot * kIndexDefinitionSize);
  rtl::EncodeFixed32(header.data() + kRecordCountAt, 0);
  Cipher(header.data(), header.size(), kIndexBlobKeys, true);
  WriteAt(out, 0, header.data(), static_cast<std::int64_t>(header.size()));
}

void TUpgrade::Run() {
  const std::string& name = request_.TableName;
  const std::string stamp_line = "Upgrade of table " + name + " to version " + kLatest;
  // A swap a killed upgrade left half-way is put right first.
  if (!request_.InMemory) RecoverTableSwap(Sibling(""));
  const bool marked = !request_.InMemory && FileNameExists(UpgradeMarkName(Sibling("")), false);
  {
    TFileHandler dat, idx, blb;
    Open(dat, request_.DataPath);
    ReadAt(dat, 0, header_, kDataHeaderSize);
    version_ = header_[8];
    encrypted_ = header_[86] != 0;
    if (marked && version_ == 4) {
      dat.CloseFile();
      Resume();
      return;
    }
    // A mark whose upgrade never moved a file.
    if (marked) DeleteUpgradeMark(Sibling(""));
    if (version_ == 4) {
      Log(name + " is already at the highest table version of " + kLatest + ", upgrade aborted");
      return;
    }
    if (version_ > 4) Fail(err::kWrongVersion);
    field_count_ = rtl::DecodeFixed16(header_ + 23);
    old_record_size_ = rtl::DecodeFixed16(header_ + 21);
    records_ = std::max<std::uint32_t>(rtl::DecodeFixed32(header_ + 13), 1) - 1;
    if (field_count_ == 0 || field_count_ > kMaxFields || old_record_size_ < kRecordPrefixSize)
      Fail(err::kHeaderCorrupt);
    const bool has_index = FileNameExists(Sibling(".IDX"), request_.InMemory);
    if (has_index) Open(idx, Sibling(".IDX"));
    Log(stamp_line + " started at " + TTableRepair::TimeText());

    new_record_size_ = ReadFields(dat);
    // The temporary files' claims outlive them (work_claim.h).
    std::unique_ptr<TWorkClaim> dat_claim, idx_claim;
    TScratchFile new_dat(request_.PrivateDirectory, ".DAT", request_.InMemory);
    if (!request_.InMemory) dat_claim = std::make_unique<TWorkClaim>(Stem(new_dat));
    // The new header and definitions.
    std::uint8_t header[kDataHeaderSize];
    std::copy(header_, header_ + kDataHeaderSize, header);
    header[8] = 4;
    rtl::EncodeFixed16(header + 21, static_cast<std::uint16_t>(new_record_size_));
    rtl::EncodeFixed16(header + 25, static_cast<std::uint16_t>(blob_fields_));
    rtl::EncodeFixed32(header + 112, blob_fields_ * records_);
    rtl::EncodeFixed64(header + 116, static_cast<std::uint64_t>(kEngineStamp));
    WriteAt(new_dat.File(), 0, header, kDataHeaderSize);
    std::vector<std::uint8_t> block(kFieldDefinitionSize * field_count_);
    for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i].field.Encode(block.data() + i * kFieldDefinitionSize);
    Cipher(block.data(), block.size(), kDataKeys, true);
    WriteAt(new_dat.File(), kDataHeaderSize, block.data(), static_cast<std::int64_t>(block.size()));
    Log("Field definitions of " + name + " upgraded to latest table version " + kLatest);
    WriteRecords(dat, new_dat.File());
    Log(std::to_string(records_) + " records of " + name + " upgraded to latest table version " + kLatest);

    std::unique_ptr<TScratchFile> new_idx;
    if (has_index && version_ < 3) {
      new_idx = std::make_unique<TScratchFile>(request_.PrivateDirectory, ".IDX", request_.InMemory);
      if (!request_.InMemory) idx_claim = std::make_unique<TWorkClaim>(Stem(*new_idx));
      ConvertIndexHeader(idx, new_idx->File());
    }
    if (blob_fields_ > 0 && FileNameExists(Sibling(".BLB"), request_.InMemory)) Open(blb, Sibling(".BLB"));

    // Everything new is complete: the table is marked as being upgraded
    // until its repair completed, then the swaps, then the headers in
    // place.
    if (!request_.InMemory) WriteUpgradeMark(Sibling(""));
    marked_ = !request_.InMemory;
    dat.CloseFile();
    std::vector<TFresh> fresh{{&new_dat, request_.DataPath, Sibling(".DUP")}};
    if (new_idx) {
      idx.CloseFile();
      fresh.push_back({new_idx.get(), Sibling(".IDX"), Sibling(".IUP")});
    }
    // Killed from here on, the work files go into the table when their
    // claims are found dead (work_claim.h).
    for (TWorkClaim* claim : {dat_claim.get(), idx_claim.get()})
      if (claim) claim->Note(Sibling(""));
    try {
      SwapIn(fresh);
    } catch (...) {
      DeleteUpgradeMark(Sibling(""));
      throw;
    }
    if (new_idx) {
      Log("Index definitions of " + name + " upgraded to latest table version " + kLatest);
    } else if (has_index) {
      stamped_.push_back({Sibling(".IDX"), kIndexHeaderSize, StampVersion(idx, kIndexHeaderSize)});
      Log("Index header of " + name + " upgraded to latest table version " + kLatest);
    }
    if (blb.IsOpen()) {
      stamped_.push_back({Sibling(".BLB"), kBlobHeaderSize, StampVersion(blb, kBlobHeaderSize)});
      Log("BLOB header of " + name + " upgraded to latest table version " + kLatest);
    }
  }
  Repair();
  Log(stamp_line + " completed at " + TTableRepair::TimeText());
  if (marked_) DeleteUpgradeMark(Sibling(""));
}

void TUpgrade::Repair() {
  TRepairRequest repair;
  repair.DataPath = request_.DataPath;
  repair.TableName = request_.TableName;
  repair.InMemory = request_.InMemory;
  repair.AdoptBlobSignatures = true;
  repair.PrivateDirectory = request_.PrivateDirectory;
  repair.Log = request_.RepairLog;
  repair.Progress = request_.RepairProgress;
  // The repair leaves the files as it found them when it fails; the
  // upgrade then puts the old table back, so it either finishes or leaves
  // the table as it was. A process killed in it leaves the table marked:
  // its next open or upgrade repairs it again.
  try {
    TTableRepair(std::move(repair)).Run();
  } catch (...) {
    if (!swapped_.empty() || !stamped_.empty()) {
      PutBack();
      if (marked_) DeleteUpgradeMark(Sibling(""));
    }
    throw;
  }
}

void TUpgrade::Resume() {
  const std::string stamp_line = "Upgrade of table " + request_.TableName + " to version " + kLatest;
  Log(stamp_line + " started at " + TTableRepair::TimeText());
  {
    TFileHandler idx, blb;
    if (FileNameExists(Sibling(".IDX"), false)) {
      Open(idx, Sibling(".IDX"));
      StampVersion(idx, kIndexHeaderSize);
    }
    if (rtl::DecodeFixed16(header_ + 25) > 0 && FileNameExists(Sibling(".BLB"), false)) {
      Open(blb, Sibling(".BLB"));
      StampVersion(blb, kBlobHeaderSize);
    }
  }
  Repair();
  Log(stamp_line + " completed at " + TTableRepair::TimeText());
  DeleteUpgradeMark(Sibling(""));
}

}  // namespace

void UpgradeTable(const TUpgradeRequest& request) { TUpgrade(request).Run(); }

namespace {

// The open of a table marked as being upgraded finishes the upgrade.
void FinishUpgrade(const std::string& data_path, const std::string& private_directory) {
  TUpgradeRequest request;
  request.DataPath = data_path;
  request.TableName = rtl::ExtractFileName(data_path);
  request.PrivateDirectory = private_directory;
  UpgradeTable(request);
}

const bool kFinisherSet = (SetUpgradeFinisher(&FinishUpgrade), true);

}  // namespace

}  // namespace korvex
