#include "tables/engine/files/index_key.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/runtime/coding.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/key_bytes.h"

namespace korvex {
namespace {

constexpr std::uint32_t kKeyCompareFlags = SORT_STRINGSORT | NORM_IGNORENONSPACE;

std::int32_t RecordID(const std::uint8_t* record) {
  return static_cast<std::int32_t>(rtl::DecodeFixed32(record + kRecordIDOffset));
}

// One field of a key: null flag then `size` value bytes. A string compares
// its flag alone, then its characters by the collation; any other field
// compares flag and value as bytes. `length` bounds what is read; the
// bytes taken are added to `offset`.
int CompareField(const TKeyComparator::Part& part, std::uint32_t locale, const std::uint8_t* a,
                 const std::uint8_t* b, std::uint16_t length, std::uint16_t& offset) {
  const std::uint16_t room = static_cast<std::uint16_t>(length - offset);
  if (!part.string) {
    const std::uint16_t n = std::min<std::uint16_t>(part.size + 1, room);
    int r = CompareBytes(a + offset, b + offset, n, part.descending);
    offset = static_cast<std::uint16_t>(offset + n);
    return r;
  }
  int r = CompareBytes(a + offset, b + offset, 1, part.descending);
  if (r != 0) return r;
  const std::uint16_t n = std::min<std::uint16_t>(part.size, room - 1);
  r = CompareLocaleStrings(locale, kKeyCompareFlags, reinterpret_cast<const char*>(a + offset + 1), n,
                           reinterpret_cast<const char*>(b + offset + 1), n);
  offset = static_cast<std::uint16_t>(offset + n + 1);
  return part.descending ? -r : r;
}

}  // namespace

void PrepareDataForIndex(const TFieldDefinition& field, const std::uint8_t* value, std::uint8_t* key,
                         bool case_insensitive, bool descending, std::uint16_t language, std::uint16_t sort) {
  const std::size_t size = field.PhysicalSize;
  switch (field.DataType) {
    case dtString: {
      std::memset(key, 0, size);
      std::size_t n = 0;
      while (n + 1 < size && value[n] != 0) ++n;
      if (case_insensitive) {
        const std::string text = UpperString(language, sort, std::string(reinterpret_cast<const char*>(value), n));
        std::memcpy(key, text.data(), std::min(text.size(), n));
      } else {
        std::memcpy(key, value, n);
      }
      if (descending && language == 0) FlipBuffer(key, size - 1);
      return;
    }
    case dtDate:
    case dtInteger:
    case dtTime:
      FlipIntegerBits(static_cast<std::int32_t>(rtl::DecodeFixed32(value)), key);
      break;
    case dtBoolean:
    case dtWord:
      FlipWordBits(rtl::DecodeFixed16(value), key);
      break;
    case dtSmallInt:
      FlipSmallIntBits(static_cast<std::int16_t>(rtl::DecodeFixed16(value)), key);
      break;
    case dtFloat:
    case dtTimeStamp:
      FlipFloatBits(rtl::DecodeDouble(value), key);
      break;
    case dtBCD:
      FlipCompBits(static_cast<std::int64_t>(rtl::DecodeFixed64(value)), key);
      break;
    default:
      std::memcpy(key, value, size);
      break;
  }
  if (descending && language == 0) FlipBuffer(key, size);
}

std::uint32_t ComputeKeySize(const TIndexDefinition& index, const std::vector<TFieldDefinition>& fields) {
  std::uint32_t size = 0;
  for (int i = 0; i < index.FieldCount && i < kMaxKeyFields; ++i) {
    const std::uint16_t number = index.Fields[i];
    if (number == 0 || number > fields.size()) return 0;
    size += fields[number - 1].PhysicalSize + 1u;
  }
  return index.Unique ? size : size + kRecordIDKeySize;
}

void BuildIndexKey(const TIndexDefinition& index, const std::vector<TFieldDefinition>& fields,
                   std::uint16_t language, std::uint16_t sort, const std::uint8_t* record, std::uint8_t* key) {
  std::uint8_t* out = key;
  for (int i = 0; i < index.FieldCount && i < kMaxKeyFields; ++i) {
    const TFieldDefinition& f = fields.at(index.Fields[i] - 1u);
    if (f.IsAutoIncrement()) {
      *out = 1;
      FlipIntegerBits(RecordID(record), out + 1);
    } else if (record[f.Offset] == 0) {
      std::memset(out, 0, f.PhysicalSize + 1u);
    } else {
      *out = record[f.Offset];
      PrepareDataForIndex(f, record + f.Offset + 1, out + 1, index.CaseInsensitive != 0, false, language, sort);
    }
    out += f.PhysicalSize + 1u;
  }
  if (!index.Unique) FlipIntegerBits(RecordID(record), out);
}

void BuildSystemKey(const std::uint8_t* record, std::uint8_t* key) {
  key[0] = record[0];
  FlipIntegerBits(RecordID(record), key + 1);
}

TKeyComparator::TKeyComparator(std::uint16_t language, std::uint16_t sort, const TIndexDefinition& index,
                               const std::vector<TFieldDefinition>& fields)
    : bytes_(language == 0), descending_(index.Descending != 0), locale_(MakeLocaleID(language, sort)) {
  for (int i = 0; i < index.FieldCount && i < kMaxKeyFields; ++i) {
    const std::uint16_t number = index.Fields[i];
    if (number == 0 || number > fields.size()) break;
    const TFieldDefinition& f = fields[number - 1];
    parts_[part_count_++] = {f.PhysicalSize, f.DataType == dtString && !f.IsAutoIncrement(), index.FieldIsDescending(i)};
  }
}

int TKeyComparator::CompareFields(const std::uint8_t* a, const std::uint8_t* b, std::uint16_t length) const {
  std::uint16_t offset = 0;
  for (std::uint8_t i = 0; i < part_count_; ++i) {
    const Part& part = parts_[i];
    if (offset >= length) return 0;
    if (int r = CompareField(part, locale_, a, b, length, offset)) return r;
  }
  if (offset >= length) return 0;
  return CompareBytes(a + offset, b + offset, static_cast<std::uint16_t>(length - offset), descending_);
}

TSortKeys::TSortKeys(std::vector<TSortField> fields, bool case_insensitive, std::uint16_t language,
                     std::uint16_t sort)
    : fields_(std::move(fields)),
      case_insensitive_(case_insensitive),
      language_(language),
      sort_(sort),
      locale_(MakeLocaleID(language, sort)) {
  for (const TSortField& s : fields_) {
    parts_.push_back({s.Field.PhysicalSize, s.Field.DataType == dtString, s.Descending});
    size_ += s.Field.PhysicalSize + 1u;
  }
}

void TSortKeys::GetSortKeyValues(const std::uint8_t* record, std::uint8_t* key) const {
  std::uint8_t* out = key;
  std::vector<std::uint8_t> blank;
  for (const TSortField& s : fields_) {
    const TFieldDefinition& f = s.Field;
    const std::uint8_t* value = record + f.Offset + 1;
    std::uint8_t flag = record[f.Offset];
    if (f.IsAutoIncrement()) {
      flag = 1;
      value = record + kRecordIDOffset;
    } else if (flag == 0) {
      blank.assign(f.PhysicalSize, 0);
      value = blank.data();
    }
    *out = flag;
    PrepareDataForIndex(f, value, out + 1, case_insensitive_, s.Descending, language_, sort_);
    out += f.PhysicalSize + 1u;
  }
  FlipIntegerBits(RecordID(record), out);
}

int TSortKeys::CompareSortKeys(const std::uint8_t* a, const std::uint8_t* b, bool include_record_id) const {
  const std::uint16_t fields = static_cast<std::uint16_t>(size_ - kRecordIDKeySize);
  if (language_ == 0) {
    if (int r = CompareBytes(a, b, fields, false)) return r;
  } else {
    std::uint16_t offset = 0;
    for (const TKeyComparator::Part& part : parts_)
      if (int r = CompareField(part, locale_, a, b, fields, offset)) return r;
  }
  return include_record_id ? CompareBytes(a + fields, b + fields, kRecordIDKeySize, false) : 0;
}

}  // namespace korvex
