// TDataCursor: default values, validity checks, bookmarks and the header
// values a cursor reports.
#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/runtime/coding.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/base/field_bytes.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/collation.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/key_bytes.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/names.h"
#include "tables/lib/numeric.h"

namespace korvex {

namespace {

// The clock's date and time as the record stores them.
std::int32_t Today() { return rtl::DateTimeToTimeStamp(rtl::Date()).Date; }
std::int32_t TimeNow() { return rtl::DateTimeToTimeStamp(rtl::Now()).Time; }

// A value of a type in the record's format, as one number for ordering;
// false for the types that have no order here (strings compare as text).
bool Ordered(std::uint8_t type, const std::uint8_t* at, long double& value) {
  switch (type) {
    case dtSmallInt: value = static_cast<std::int16_t>(rtl::DecodeFixed16(at)); return true;
    case dtWord: value = rtl::DecodeFixed16(at); return true;
    case dtInteger:
    case dtDate:
    case dtTime: value = static_cast<std::int32_t>(rtl::DecodeFixed32(at)); return true;
    case dtBCD: value = static_cast<std::int64_t>(rtl::DecodeFixed64(at)); return true;
    case dtFloat:
    case dtTimeStamp: value = rtl::DecodeDouble(at); return true;
    default: return false;
  }
}

}  // namespace

// The text of a default or a limit as a value of the field's type, in the
// record's format: "DATE", "TIME" and "NOW" (any case) read the clock;
// other texts are read in the formats of the language settings in force.
bool TDataCursor::TextValue(const TFieldDefinition& def, const std::string& text, std::uint8_t* data) const {
  const std::string word = rtl::UpperCase(rtl::Trim(text));
  switch (def.DataType) {
    case dtDate:
      if (word == "DATE") {
        rtl::EncodeFixed32(data, static_cast<std::uint32_t>(Today()));
        return true;
      }
      break;
    case dtTime:
      if (word == "TIME") {
        rtl::EncodeFixed32(data, static_cast<std::uint32_t>(TimeNow()));
        return true;
      }
      break;
    case dtTimeStamp:
      if (word == "NOW" || word == "DATE" || word == "TIME") {
        rtl::TDateTime when = word == "NOW" ? rtl::Now() : word == "DATE" ? rtl::Date() : rtl::Time();
        rtl::EncodeDouble(data, rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(when)));
        return true;
      }
      break;
    case dtBoolean:
      rtl::EncodeFixed16(data, StrToBool(rtl::Trim(text)) ? 1 : 0);
      return true;
    default:
      break;
  }
  std::uint8_t buffer[kConvertBufferSize + 1] = {};
  const std::string t = rtl::Trim(text).substr(0, kConvertBufferSize - 1);
  std::memcpy(buffer, t.data(), t.size());
  if (!ConvertExpression(dtString, kConvertBufferSize, 0, def.DataType, def.PhysicalSize, def.Decimals, buffer))
    return false;
  std::memcpy(data, buffer, def.PhysicalSize);
  return true;
}

namespace {
// A default or limit that reads the clock ("DATE", "TIME", "NOW" on a date,
// time or timestamp field): its value is the moment's, read each time.
bool ReadsClock(const TFieldDefinition& def, const std::string& text) {
  if (def.DataType != dtDate && def.DataType != dtTime && def.DataType != dtTimeStamp) return false;
  const std::string word = rtl::UpperCase(rtl::Trim(text));
  return word == "DATE" || word == "NOW" || word == "TIME";
}
}  // namespace

void TDataCursor::ReadStoredRules() const {
  TStoredRules& rules = stored_rules_;
  rules = TStoredRules{};
  rules.limits.resize(physical_fields_.size());
  rules.defaults.assign(std::max<std::size_t>(record_size_, physical_size_), 0);
  const bool texts = std::any_of(physical_fields_.begin(), physical_fields_.end(), [](auto& f) {
    return !f.Default.empty() || !f.Minimum.empty() || !f.Maximum.empty();
  });
  // Texts are read in the formats of the table's language, once.
  std::optional<LanguageSettingsScope> formats;
  if (texts) formats.emplace(GetLanguageID(), GetSortID());
  for (std::size_t i = 0; i < physical_fields_.size(); ++i) {
    const TFieldDefinition& def = physical_fields_[i];
    if (def.Calculated) continue;
    if (def.Required || !def.Minimum.empty() || !def.Maximum.empty()) rules.checked_fields.push_back(i);
    if (!def.Default.empty() && !def.IsAutoIncrement()) {
      if (ReadsClock(def, def.Default)) {
        rules.clock_defaults.push_back(i);
      } else if (def.DataType == dtString) {
        const std::string text = def.Default.substr(0, def.Size);
        InternalPutField(def, rules.defaults.data(), reinterpret_cast<const std::uint8_t*>(text.c_str()), false);
        rules.image_fields.push_back(i);
      } else {
        std::uint8_t data[kConvertBufferSize + 1] = {};
        const bool typed = def.DataType != dtBlob && def.DataType != dtBytes && def.DataType != dtVarBytes;
        // A type without a reading of texts gets zero bytes, set.
        if (!typed || TextValue(def, def.Default, data)) {
          InternalPutField(def, rules.defaults.data(), data, false);
          rules.image_fields.push_back(i);
        }
      }
    }
    if (def.DataType == dtString) continue;  // texts are compared as texts
    for (int side = 0; side < 2; ++side) {
      const std::string& text = side == 0 ? def.Minimum : def.Maximum;
      TStoredRules::TLimit& limit = side == 0 ? rules.limits[i].first : rules.limits[i].second;
      if (text.empty()) continue;
      limit.clock = ReadsClock(def, text);
      std::uint8_t bound[kConvertBufferSize + 1] = {};
      if (!limit.clock) limit.known = TextValue(def, text, bound) && Ordered(def.DataType, bound, limit.value);
    }
  }
  rules.ready = true;
}

void TDataCursor::InitRecord(std::uint8_t* buffer) const {
  ClearRecord(buffer);
  // The table's fields, whatever the cursor's view shows.
  if (!has_defaults_) return;
  if (!stored_rules_.ready) ReadStoredRules();
  for (std::size_t i : stored_rules_.image_fields) {
    const TFieldDefinition& def = physical_fields_[i];
    CopyFieldBytes(buffer + def.Offset, stored_rules_.defaults.data() + def.Offset, std::size_t{def.PhysicalSize} + 1);
  }
  for (std::size_t i : stored_rules_.clock_defaults) {
    const TFieldDefinition& def = physical_fields_[i];
    std::uint8_t data[kConvertBufferSize + 1] = {};
    if (TextValue(def, def.Default, data)) InternalPutField(def, buffer, data, false);
  }
  if (has_calculated_ && !stored_rules_.image_fields.empty()) CalculateExpressionFields(buffer);
}

void TDataCursor::NoteFieldChecks() {
  field_checks_ = std::any_of(physical_fields_.begin(), physical_fields_.end(),
                              [](auto& f) { return f.Required || !f.Minimum.empty() || !f.Maximum.empty(); });
  has_defaults_ = std::any_of(physical_fields_.begin(), physical_fields_.end(), [](auto& f) { return !f.Default.empty(); });
  stored_rules_.ready = false;
}

void TDataCursor::CheckRecordValidity(const std::uint8_t* buffer) const {
  if (!field_checks_) return;
  if (!stored_rules_.ready) ReadStoredRules();
  for (std::size_t i : stored_rules_.checked_fields) {
    const TFieldDefinition& def = physical_fields_[i];
    // The bytes read below are the field's (a text ends at its zero), or
    // zero where a damaged definition's size is short of its type's.
    std::uint8_t value[kConvertBufferSize + 1];
    std::memset(value, 0, 16);
    const bool blank = InternalGetField(def, buffer, value);
    if (def.Required && blank) Fail(err::kValueRequired, def.Name);
    // The value against a limit: -1, 0, 1 (0 also for the types that have
    // no order, and for a limit that is no value of the type). A blank
    // value compares as zero.
    auto against = [&](const std::string& text, const TStoredRules::TLimit& limit) {
      if (def.DataType == dtString) {
        const int order = CompareStrings(GetLanguageID(), GetSortID(), reinterpret_cast<const char*>(value),
                                         text.c_str(), 0, false);
        return order < 0 ? -1 : static_cast<int>(order > 0);
      }
      long double a, b = limit.value;
      if (!Ordered(def.DataType, value, a)) return 0;
      if (limit.clock) {
        std::uint8_t bound[kConvertBufferSize + 1] = {};
        if (!TextValue(def, text, bound) || !Ordered(def.DataType, bound, b)) return 0;
      } else if (!limit.known) {
        return 0;
      }
      return a < b ? -1 : static_cast<int>(a > b);
    };
    const auto& [minimum, maximum] = stored_rules_.limits[i];
    if (!def.Minimum.empty() && against(def.Minimum, minimum) < 0) Fail(err::kBelowMinimum, def.Name);
    if (!def.Maximum.empty() && against(def.Maximum, maximum) > 0) Fail(err::kAboveMaximum, def.Name);
  }
}

// ---- bookmarks ------------------------------------------------------------------

void TDataCursor::GetBookmark(std::uint8_t* bookmark) const {
  const bool off = bof_ || eof_ || current_ == 0;
  if (IsPhysicalNavigation()) {
    rtl::EncodeFixed32(bookmark, off ? 0 : current_);
    return;
  }
  if (off) std::memset(bookmark, 0, index_def_.KeySize);
  else std::memcpy(bookmark, key_.data(), index_def_.KeySize);
}

bool TDataCursor::SetToBookmark(const std::uint8_t* bookmark, bool keep_begin_end, bool no_change_check) {
  RequireOpen();
  if (IsPhysicalNavigation()) {
    ReadLock();
    ScopeExit release{[&] { ReadUnlock(); }};
    return GotoLiveRecord(rtl::DecodeFixed32(bookmark)) == 0;
  }
  if (!no_change_check) ReadLock();
  ScopeExit release{[&] {
    if (!no_change_check) ReadUnlock();
  }};
  // Before the first record (after the last) the current rank is the first
  // (last) visible one.
  const bool before = bof_ && !eof_, after = eof_ && !bof_;
  const std::uint32_t edge = key_number_;
  std::uint32_t first = 0, last = 0;
  RangeBounds(first, last);
  if (first > last) {
    ResetIndexPosition();
    return false;
  }
  const bool found = FindIndexKey(bookmark, index_def_.KeySize, true);
  if (keep_begin_end) {
    if (found && (before || after) && key_number_ == edge) {
      current_ = 0;
      bof_ = before;
      eof_ = after;
    }
    return true;
  }
  if (!found || bof_ || eof_ || current_ == 0) return false;
  Key now(index_def_.KeySize);
  GetBookmark(now.data());
  return CompareBookmarks(now.data(), bookmark) == 0;
}

int TDataCursor::CompareBookmarks(const std::uint8_t* a, const std::uint8_t* b) const {
  if (IsPhysicalNavigation()) {
    std::uint32_t x = rtl::DecodeFixed32(a), y = rtl::DecodeFixed32(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  const int c = CompareKeys(a, b, index_def_.KeySize);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// ---- header values --------------------------------------------------------------

TDataHeader TDataCursor::HeaderValues() const {
  TDataHeader header;
  GetDataHeader(header);
  if (header.Encrypted != 0) {
    for (std::string* text : {&header.Description, &header.Password})
      EncryptBuffer(text->data(), static_cast<std::int32_t>(text->size()), kHeaderTextKeys.key1,
                    kHeaderTextKeys.key2);
  } else {
    header.Password.clear();
  }
  return header;
}

std::uint32_t TDataCursor::GetLastRecordID() const {
  return open_ ? table_->DataFile().GetLastRecordID() : HeaderValues().LastRecordID;
}
std::uint16_t TDataCursor::GetBlobBlockSize() const {
  return static_cast<std::uint16_t>(open_ ? table_->DataFile().GetBlobBlockSize() : HeaderValues().BlobBlockSize());
}
std::uint16_t TDataCursor::GetBlobBlockBufferSize() const {
  return static_cast<std::uint16_t>(GetBlobBlockSize() - kBlockHeaderSize);
}
std::uint16_t TDataCursor::GetLanguageID() const {
  return open_ ? table_->DataFile().GetLanguageID() : HeaderValues().LanguageID;
}
std::uint16_t TDataCursor::GetSortID() const { return open_ ? table_->DataFile().GetSortID() : HeaderValues().SortID; }
std::uint16_t TDataCursor::GetUserMajorVersion() const {
  return open_ ? table_->DataFile().GetUserMajorVersion() : HeaderValues().UserMajorVersion;
}
std::uint16_t TDataCursor::GetUserMinorVersion() const {
  return open_ ? table_->DataFile().GetUserMinorVersion() : HeaderValues().UserMinorVersion;
}
std::string TDataCursor::GetVersionNum() const {
  return VersionToStr(open_ ? table_->DataFile().GetVersionNum() : HeaderValues().Version);
}
std::string TDataCursor::GetDescription() const {
  return open_ ? table_->DataFile().GetDescription() : HeaderValues().Description;
}
std::string TDataCursor::GetPassword() const {
  return open_ ? table_->GetPassword() : HeaderValues().Password;
}
bool TDataCursor::GetEncrypted() const {
  return open_ ? table_->DataFile().GetEncrypted() : HeaderValues().Encrypted != 0;
}

}  // namespace korvex
