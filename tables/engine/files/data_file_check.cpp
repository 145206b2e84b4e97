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

void TDataFile::CheckHeader(bool names) {
  if (header_.Version != kTableVersion) Fail(err::kWrongVersion);
  if (header_.LanguageID != 0 && !IsLanguageAvailable(header_.LanguageID, header_.SortID))
    Fail(err::kLanguageUnavailable);
  if (header_.FieldCount > kMaxFields || header_.FieldCount != fields_.size()) Fail(err::kHeaderCorrupt);
  ExamineHeader(false, nullptr, false, names);
}

void TDataFile::RepairHeader(void* cursor, bool verify_only) { ExamineHeader(true, cursor, verify_only, true); }

void TDataFile::ExamineHeader(bool repair, void* cursor, bool verify_only, bool names) {
  const std::string fixed = verify_only ? "error not fixed" : "error fixed";
  // A finding: raise when checking, else one log line.
  auto finding = [&](const std::string& line) {
    if (!repair) Fail(err::kHeaderCorrupt);
    host_->RepairLog(cursor, line);
  };
  auto field_finding = [&](const std::string& head, const std::string& name) {
    finding(head + name + " in table header, " + fixed);
  };
  // Name findings, skipped by a check that leaves names alone.
  auto name_finding = [&](const std::string& head, const std::string& name) {
    if (names) field_finding(head, name);
  };

  // Corrections go to a copy, so that later checks see the corrected
  // state; it replaces the definitions when repairing for real.
  std::vector<TFieldDefinition> work = fields_;
  std::uint64_t running = kRecordPrefixSize;
  {
    LanguageSettingsScope scope(header_.LanguageID, header_.SortID);
    for (std::size_t i = 0; i < work.size(); ++i) {
      TFieldDefinition& f = work[i];
      const std::string position = std::to_string(i + 1);
      std::string name = rtl::Trim(f.Name);
      if (name.empty()) {
        if (names) finding("Invalid field name (blank) for field # " + position + " in table header, " + fixed);
        f.Name = name = "Repaired_Fld" + position;
      } else {
        if (!IsAlpha(name[0]) || !IsAlpha(f.Name[0])) {
          name_finding("Invalid field name (first character) for field ", name);
          f.Name = name = rtl::Trim(("_" + name).substr(0, kMaxFieldNameLength));
        }
        if (name.size() > kMaxFieldNameLength) {
          name_finding("Invalid field name (too long) for field ", name);
          // Trimmed again: a cut can leave a blank or control character at
          // the end, which later comparisons trim away.
          f.Name = name = rtl::Trim(name.substr(0, kMaxFieldNameLength));
        }
        bool duplicate = std::any_of(work.begin(), work.begin() + static_cast<std::ptrdiff_t>(i),
                                     [&](const TFieldDefinition& o) { return rtl::AnsiSameText(rtl::Trim(o.Name), name); });
        if (duplicate) {
          name_finding("Invalid field name (duplicate) for field ", name);
          // The field's position makes the name unique: cut to leave room
          // for it, and the next number while another field holds the result,
          // so that a second repair finds nothing.
          auto taken = [&](const std::string& candidate) {
            for (std::size_t j = 0; j < work.size(); ++j)
              if (j != i && rtl::AnsiSameText(rtl::Trim(work[j].Name), candidate)) return true;
            return false;
          };
          std::string candidate;
          for (std::size_t n = i + 1;; ++n) {
            const std::string suffix = std::to_string(n);
            candidate = name.substr(0, kMaxFieldNameLength - suffix.size()) + suffix;
            if (!taken(candidate)) break;
          }
          f.Name = name = candidate;
        }
      }
      if (!repair) {
        for (std::size_t j = 0; j < work.size(); ++j)
          if (j != i && work[j].FieldNumber == f.FieldNumber) Fail(err::kHeaderCorrupt);
      }
      if (f.DataType == dtUnknown) {
        if (!repair) Fail(err::kHeaderCorrupt);
        host_->RepairLog(cursor, "Invalid field data type (unknown) for field " + name +
                                     " in table header, error cannot be fixed");
      }
      if (!TypeHasSize(f.DataType) && f.Size != 0) {
        field_finding("Invalid field length for field ", name);
        f.Size = 0;
      } else if (TypeHasSize(f.DataType) && f.Size > 250) {
        field_finding("Invalid field length for field ", name);
        f.Size = 250;
      }
      if (!VerifyExpression(f.Default, f.DataType)) {
        field_finding("Invalid default value for field ", name);
        f.Default.clear();
      }
      if (!VerifyExpression(f.Minimum, f.DataType)) {
        field_finding("Invalid minimum value for field ", name);
        f.Minimum.clear();
      }
      if (!VerifyExpression(f.Maximum, f.DataType)) {
        field_finding("Invalid maximum value for field ", name);
        f.Maximum.clear();
      }
      if (f.DataType != dtBCD && f.Decimals != 0) {
        field_finding("Invalid field decimals for field ", name);
        f.Decimals = 0;
      }
      f.UpdatePhysicalSize();
      std::uint64_t expected = f.IsAutoIncrement() ? kRecordIDOffset : running;
      if (f.Offset != expected) {
        field_finding("Invalid field offset for field ", name);
        f.Offset = static_cast<std::uint16_t>(expected);
      }
      if (f.TakesRecordBytes()) running += std::uint64_t{f.PhysicalSize} + 1;
      if (f.FieldNumber != i + 1) {
        field_finding("Invalid field number for field ", name);
        f.FieldNumber = static_cast<std::uint16_t>(i + 1);
      }
    }
  }

  // The table as a whole.
  TDataHeader h = header_;
  if (h.RecordSize != running) {
    if (running > kMaxRecordSize) {
      finding("Invalid physical record length in table header, error not fixed");
    } else {
      finding("Invalid physical record length in table header, " + fixed);
      h.RecordSize = static_cast<std::uint16_t>(running);
    }
  }
  const std::uint64_t size = running <= kMaxRecordSize ? running : h.RecordSize;
  const std::uint64_t start = DataStart();
  std::uint64_t file_size = static_cast<std::uint64_t>(GetSize());
  if (size != 0) {
    std::uint64_t bytes = file_size > start ? file_size - start : 0;
    if (file_size < start) {
      // Cut inside the definitions: no record is left.
      finding("Physical record count not correct, " + fixed);
      h.NextPhysicalRecord = 1;
    }
    if (bytes % size != 0) {
      finding("Physical records not aligned on even record size boundaries, " + fixed);
      if (!verify_only) {
        WriteAt(*this, start + bytes / size * size, nullptr, 0);
        if (host_->ForceBufferFlush()) Flush();
      }
    }
    std::uint64_t count = bytes / size + 1;
    if (file_size >= start && count != h.NextPhysicalRecord) {
      finding("Physical record count not correct, " + fixed);
      h.NextPhysicalRecord = static_cast<std::uint32_t>(count);
    }
  }
  std::uint16_t blobs = static_cast<std::uint16_t>(
      std::count_if(work.begin(), work.end(), [](const TFieldDefinition& f) { return f.DataType == dtBlob; }));
  if (h.BlobFieldCount != blobs) {
    finding("Invalid BLOB field count in table header, " + fixed);
    h.BlobFieldCount = blobs;
  }

  if (!repair) {
    // Only the recomputed physical sizes change.
    for (std::size_t i = 0; i < work.size(); ++i) {
      fields_[i].PhysicalSize = work[i].PhysicalSize;
      fields_[i].PhysicalDecimals = work[i].PhysicalDecimals;
    }
    return;
  }
  if (verify_only) return;
  // Records cached before (the repair's look at the indexes as found)
  // carry the old length: they are read again in the new one.
  if (h.RecordSize != header_.RecordSize) FreeRecordBuffers();
  fields_ = work;
  fields_modified_ = true;
  header_ = h;
  // Every other process sees a change; deleted records are not reused.
  header_.UpdateStamp = rtl::GetTickCount() + header_.NextPhysicalRecord;
  header_.FirstFreeRecord = 0;
  header_modified_ = true;
  SetLimits();
}

}  // namespace korvex
