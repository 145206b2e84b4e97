#include "tables/engine/files/data_header.h"

#include <cstring>

#include "platform/runtime/coding.h"
#include "tables/engine/base/short_string.h"

namespace korvex {

void TDataHeader::Decode(const std::uint8_t* b) {
  UpdateStamp = rtl::DecodeFixed32(b + 0);
  BlobBlockSizeRaw = rtl::DecodeFixed16(b + 4);
  Version = b[8];
  FirstFreeRecord = rtl::DecodeFixed32(b + 9);
  NextPhysicalRecord = rtl::DecodeFixed32(b + 13);
  LastRecordID = rtl::DecodeFixed32(b + 17);
  RecordSize = rtl::DecodeFixed16(b + 21);
  FieldCount = rtl::DecodeFixed16(b + 23);
  BlobFieldCount = rtl::DecodeFixed16(b + 25);
  LastUpdated = rtl::DecodeDouble(b + 27);
  Description = GetShortString(b, 35 + 51, 35);
  Encrypted = b[86];
  Password = GetShortString(b, 87 + 16, 87);
  LanguageID = rtl::DecodeFixed16(b + 103);
  SortID = rtl::DecodeFixed16(b + 105);
  UserMajorVersion = rtl::DecodeFixed16(b + 107);
  UserMinorVersion = rtl::DecodeFixed16(b + 109);
  Modified = b[111];
  LastBlobSignature = rtl::DecodeFixed32(b + 112);
  EngineStamp = static_cast<std::int64_t>(rtl::DecodeFixed64(b + 116));
}

void TDataHeader::Encode(std::uint8_t* b) const {
  std::memset(b, 0, kDataHeaderSize);
  rtl::EncodeFixed32(b + 0, UpdateStamp);
  rtl::EncodeFixed16(b + 4, BlobBlockSizeRaw);
  b[8] = Version;
  rtl::EncodeFixed32(b + 9, FirstFreeRecord);
  rtl::EncodeFixed32(b + 13, NextPhysicalRecord);
  rtl::EncodeFixed32(b + 17, LastRecordID);
  rtl::EncodeFixed16(b + 21, RecordSize);
  rtl::EncodeFixed16(b + 23, FieldCount);
  rtl::EncodeFixed16(b + 25, BlobFieldCount);
  rtl::EncodeDouble(b + 27, LastUpdated);
  PutShortString(b, 35, 51, Description);
  b[86] = Encrypted;
  PutShortString(b, 87, 16, Password);
  rtl::EncodeFixed16(b + 103, LanguageID);
  rtl::EncodeFixed16(b + 105, SortID);
  rtl::EncodeFixed16(b + 107, UserMajorVersion);
  rtl::EncodeFixed16(b + 109, UserMinorVersion);
  b[111] = Modified;
  rtl::EncodeFixed32(b + 112, LastBlobSignature);
  rtl::EncodeFixed64(b + 116, static_cast<std::uint64_t>(EngineStamp));
}

}  // namespace korvex
