// Header checks and repair of the data file (TDataFile::CheckHeader and
// TDataFile::RepairHeader).
#include <algorithm>
#include <string>

#include "platform/runtime/dates.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/files/data_file.h"
#include "tables/lib/collation.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/text_values.h"

namespace korvex {

// One look over the header and the field definitions, shared by CheckHeader
// (raise at the first finding) and RepairHeader (log each, correct unless
// verify_only). Corrections go to copies, so that later checks see the
// corrected state; they replace the file's own when repairing for real.
class TDataFile::THeaderCheck {
public:
  THeaderCheck(TDataFile& file, bool repair, void* cursor, bool verify_only, bool names)
      : file_(file),
        repair_(repair),
        verify_only_(verify_only),
        names_(names),
        cursor_(cursor),
        fixed_(verify_only ? "error not fixed" : "error fixed"),
        work_(file.fields_),
        header_(file.header_) {}
  void Run();

private:
  // A finding: raise when checking, else one log line.
  void Finding(const std::string& line) const;
  void FieldFinding(const std::string& head, const std::string& name) const {
    Finding(head + name + " in table header, " + fixed_);
  }
  // Name findings, skipped by a check that leaves names alone.
  void NameFinding(const std::string& head, const std::string& name) const {
    if (names_) FieldFinding(head, name);
  }

  // Each field in turn, adding up the record's length.
  void CheckFields();
  // Field i's name, made valid and unique among the fields before it.
  std::string MendName(std::size_t i);
  std::string UniqueName(std::size_t i, const std::string& name) const;
  // Type, length, the value expressions and decimals of one field.
  void CheckValues(TFieldDefinition& f, const std::string& name) const;
  // Field i's place in the record and its number.
  void CheckPlace(std::size_t i, const std::string& name);
  // The table as a whole: record length, the records the file's size holds,
  // the BLOB field count.
  void CheckRecordSize();
  void CheckRecordArea();
  void CheckBlobCount();
  // Puts the corrections in place of the file's definitions and header.
  void Apply();

  TDataFile& file_;
  const bool repair_, verify_only_, names_;
  void* cursor_;
  const std::string fixed_;
  std::vector<TFieldDefinition> work_;
  TDataHeader header_;
  std::uint64_t running_ = kRecordPrefixSize;  // the record's length so far
};

void TDataFile::THeaderCheck::Finding(const std::string& line) const {
  if (!repair_) file_.Fail(err::kHeaderCorrupt);
  file_.host_->RepairLog(cursor_, line);
}

void TDataFile::THeaderCheck::Run() {
  CheckFields();
  CheckRecordSize();
  CheckRecordArea();
  CheckBlobCount();
  if (!repair_) {
    // Only the recomputed physical sizes change.
    for (std::size_t i = 0; i < work_.size(); ++i) {
      file_.fields_[i].PhysicalSize = work_[i].PhysicalSize;
      file_.fields_[i].PhysicalDecimals = work_[i].PhysicalDecimals;
    }
    return;
  }
  if (!verify_only_) Apply();
}

void TDataFile::THeaderCheck::CheckFields() {
  LanguageSettingsScope scope(file_.header_.LanguageID, file_.header_.SortID);
  for (std::size_t i = 0; i < work_.size(); ++i) {
    const std::string name = MendName(i);
    if (!repair_) {
      for (std::size_t j = 0; j < work_.size(); ++j)
        if (j != i && work_[j].FieldNumber == work_[i].FieldNumber) file_.Fail(err::kHeaderCorrupt);
    }
    CheckValues(work_[i], name);
    work_[i].UpdatePhysicalSize();
    CheckPlace(i, name);
  }
}

std::string TDataFile::THeaderCheck::MendName(std::size_t i) {
  TFieldDefinition& f = work_[i];
  const std::string position = std::to_string(i + 1);
  std::string name = rtl::Trim(f.Name);
  if (name.empty()) {
    if (names_) Finding("Invalid field name (blank) for field # " + position + " in table header, " + fixed_);
    f.Name = name = "Repaired_Fld" + position;
    return name;
  }
  if (!IsAlpha(name[0]) || !IsAlpha(f.Name[0])) {
    NameFinding("Invalid field name (first character) for field ", name);
    f.Name = name = rtl::Trim(("_" + name).substr(0, kMaxFieldNameLength));
  }
  if (name.size() > kMaxFieldNameLength) {
    NameFinding("Invalid field name (too long) for field ", name);
    // Trimmed again: a cut can leave a blank or control character at the
    // end, which later comparisons trim away.
    f.Name = name = rtl::Trim(name.substr(0, kMaxFieldNameLength));
  }
  bool duplicate = std::any_of(work_.begin(), work_.begin() + static_cast<std::ptrdiff_t>(i),
                               [&](const TFieldDefinition& o) { return rtl::AnsiSameText(rtl::Trim(o.Name), name); });
  if (duplicate) {
    NameFinding("Invalid field name (duplicate) for field ", name);
    f.Name = name = UniqueName(i, name);
  }
  return name;
}

std::string TDataFile::THeaderCheck::UniqueName(std::size_t i, const std::string& name) const {
  // The field's position makes the name unique: cut to leave room for it,
  // and the next number while another field holds the result, so that a
  // second repair finds nothing.
  auto taken = [&](const std::string& candidate) {
    for (std::size_t j = 0; j < work_.size(); ++j)
      if (j != i && rtl::AnsiSameText(rtl::Trim(work_[j].Name), candidate)) return true;
    return false;
  };
  std::string candidate;
  for (std::size_t n = i + 1;; ++n) {
    const std::string suffix = std::to_string(n);
    candidate = name.substr(0, kMaxFieldNameLength - suffix.size()) + suffix;
    if (!taken(candidate)) return candidate;
  }
}

void TDataFile::THeaderCheck::CheckValues(TFieldDefinition& f, const std::string& name) const {
  if (f.DataType == dtUnknown) {
    if (!repair_) file_.Fail(err::kHeaderCorrupt);
    file_.host_->RepairLog(cursor_, "Invalid field data type (unknown) for field " + name +
                                        " in table header, error cannot be fixed");
  }
  if (!TypeHasSize(f.DataType) && f.Size != 0) {
    FieldFinding("Invalid field length for field ", name);
    f.Size = 0;
  } else if (TypeHasSize(f.DataType) && f.Size > 250) {
    FieldFinding("Invalid field length for field ", name);
    f.Size = 250;
  }
  if (!VerifyExpression(f.Default, f.DataType)) {
    FieldFinding("Invalid default value for field ", name);
    f.Default.clear();
  }
  if (!VerifyExpression(f.Minimum, f.DataType)) {
    FieldFinding("Invalid minimum value for field ", name);
    f.Minimum.clear();
  }
  if (!VerifyExpression(f.Maximum, f.DataType)) {
    FieldFinding("Invalid maximum value for field ", name);
    f.Maximum.clear();
  }
  if (f.DataType != dtBCD && f.Decimals != 0) {
    FieldFinding("Invalid field decimals for field ", name);
    f.Decimals = 0;
  }
}

void TDataFile::THeaderCheck::CheckPlace(std::size_t i, const std::string& name) {
  TFieldDefinition& f = work_[i];
  std::uint64_t expected = f.IsAutoIncrement() ? kRecordIDOffset : running_;
  if (f.Offset != expected) {
    FieldFinding("Invalid field offset for field ", name);
    f.Offset = static_cast<std::uint16_t>(expected);
  }
  if (f.TakesRecordBytes()) running_ += std::uint64_t{f.PhysicalSize} + 1;
  if (f.FieldNumber != i + 1) {
    FieldFinding("Invalid field number for field ", name);
    f.FieldNumber = static_cast<std::uint16_t>(i + 1);
  }
}

void TDataFile::THeaderCheck::CheckRecordSize() {
  if (header_.RecordSize == running_) return;
  if (running_ > kMaxRecordSize) {
    Finding("Invalid physical record length in table header, error not fixed");
  } else {
    Finding("Invalid physical record length in table header, " + fixed_);
    header_.RecordSize = static_cast<std::uint16_t>(running_);
  }
}

void TDataFile::THeaderCheck::CheckRecordArea() {
  const std::uint64_t size = running_ <= kMaxRecordSize ? running_ : header_.RecordSize;
  if (size == 0) return;
  const std::uint64_t start = file_.DataStart();
  std::uint64_t file_size = static_cast<std::uint64_t>(file_.GetSize());
  std::uint64_t bytes = file_size > start ? file_size - start : 0;
  if (file_size < start) {
    // Cut inside the definitions: no record is left.
    Finding("Physical record count not correct, " + fixed_);
    header_.NextPhysicalRecord = 1;
  }
  if (bytes % size != 0) {
    Finding("Physical records not aligned on even record size boundaries, " + fixed_);
    if (!verify_only_) {
      WriteAt(file_, start + bytes / size * size, nullptr, 0);
      if (file_.host_->ForceBufferFlush()) file_.Flush();
    }
  }
  std::uint64_t count = bytes / size + 1;
  if (file_size >= start && count != header_.NextPhysicalRecord) {
    Finding("Physical record count not correct, " + fixed_);
    header_.NextPhysicalRecord = static_cast<std::uint32_t>(count);
  }
}

void TDataFile::THeaderCheck::CheckBlobCount() {
  std::uint16_t blobs = static_cast<std::uint16_t>(
      std::count_if(work_.begin(), work_.end(), [](const TFieldDefinition& f) { return f.DataType == dtBlob; }));
  if (header_.BlobFieldCount != blobs) {
    Finding("Invalid BLOB field count in table header, " + fixed_);
    header_.BlobFieldCount = blobs;
  }
}

void TDataFile::THeaderCheck::Apply() {
  // Records cached before (the repair's look at the indexes as found)
  // carry the old length: they are read again in the new one.
  if (header_.RecordSize != file_.header_.RecordSize) file_.FreeRecordBuffers();
  file_.fields_ = work_;
  file_.fields_modified_ = true;
  file_.header_ = header_;
  // Every other process sees a change; deleted records are not reused.
  file_.header_.UpdateStamp = rtl::GetTickCount() + file_.header_.NextPhysicalRecord;
  file_.header_.FirstFreeRecord = 0;
  file_.header_modified_ = true;
  file_.SetLimits();
}

void TDataFile::CheckHeader(bool names) {
  if (header_.Version != kTableVersion) Fail(err::kWrongVersion);
  if (header_.LanguageID != 0 && !IsLanguageAvailable(header_.LanguageID, header_.SortID))
    Fail(err::kLanguageUnavailable);
  if (header_.FieldCount > kMaxFields || header_.FieldCount != fields_.size()) Fail(err::kHeaderCorrupt);
  THeaderCheck(*this, false, nullptr, false, names).Run();
}

void TDataFile::RepairHeader(void* cursor, bool verify_only) {
  THeaderCheck(*this, true, cursor, verify_only, true).Run();
}

}  // namespace korvex
