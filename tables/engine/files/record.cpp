#include "tables/engine/files/record.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/coding.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/lib/key_bytes.h"

namespace korvex {

void TRecord::SetDeleted(bool deleted) {
  if (Data.empty()) return;
  std::uint8_t flag = deleted ? 1 : 0;
  if (Data[0] != flag) Modified = true;
  Data[0] = flag;
}

std::uint32_t TRecord::NextFree() const { return Data.size() >= 5 ? rtl::DecodeFixed32(Data.data() + 1) : 0; }

void TRecord::SetNextFree(std::uint32_t next) {
  if (Data.size() < 5) return;
  rtl::EncodeFixed32(Data.data() + 1, next);
  Modified = true;
}

std::uint32_t TRecord::RecordID() const { return Data.size() >= 9 ? rtl::DecodeFixed32(Data.data() + 5) : 0; }

void TRecord::SetRecordID(std::uint32_t id) {
  if (Data.size() < 9) return;
  rtl::EncodeFixed32(Data.data() + 5, id);
  Modified = true;
}

void TRecord::Initialize(std::uint32_t record_size) {
  Data.assign(record_size, 0);
  Modified = false;
}

void TRecord::Read(const std::uint8_t* source, bool encrypted) {
  std::memcpy(Data.data(), source, Data.size());
  if (encrypted) DecryptBuffer(Data.data(), static_cast<std::int32_t>(Data.size()), kDataKeys.key1, kDataKeys.key2);
  Modified = false;
}

void TRecord::Write(std::uint8_t* target, bool encrypted) {
  if (Data.size() >= 5 && Data[0] == 0) rtl::EncodeFixed32(Data.data() + 1, Number());
  std::memcpy(target, Data.data(), Data.size());
  if (encrypted) EncryptBuffer(target, static_cast<std::int32_t>(Data.size()), kDataKeys.key1, kDataKeys.key2);
}

}  // namespace korvex
