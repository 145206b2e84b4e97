// TDataHeader: the 127-byte header of a data file, read and written field by
// field (little-endian):
//
//   offset size field
//        0    4 update stamp: incremented on every header write
//        4    2 BLOB block size; 0 means 512 (only the whole value 0)
//        6    2 reserved, zero
//        8    1 version: 4
//        9    4 first free record (0: the free chain is empty)
//       13    4 next physical record: the number the next append gets
//       17    4 last record ID handed out
//       21    2 record size
//       23    2 field count F (at most 1024)
//       25    2 BLOB field count (at most 64)
//       27    8 last updated: a day count from 1899-12-30 (double) - 693594
//       35   51 description: length byte + at most 50 characters
//       86    1 encrypted (non-zero)
//       87   16 password: length byte + at most 15 characters
//      103    2 language ID          105 2 sort ID
//      107    2 user major version   109 2 user minor version
//      111    1 modified (as it was when written; ignored on read)
//      112    4 last BLOB signature
//      116    8 engine stamp: 21100 on every write
//      124    3 reserved, zero
//
// In encrypted tables the characters of description and password are
// enciphered (kHeaderTextKeys); this struct holds them as stored.
#pragma once

#include <cstdint>
#include <string>

namespace korvex {

inline constexpr std::size_t kDataHeaderSize = 127;
inline constexpr std::uint8_t kTableVersion = 4;
inline constexpr std::int64_t kEngineStamp = 21100;
inline constexpr double kLastUpdatedBias = 693594.0;
inline constexpr std::size_t kMaxDescriptionLength = 50;
inline constexpr std::size_t kMaxPasswordLength = 15;

struct TDataHeader {
  std::uint32_t UpdateStamp = 0;
  std::uint16_t BlobBlockSizeRaw = 0;
  std::uint8_t Version = kTableVersion;
  std::uint32_t FirstFreeRecord = 0;
  std::uint32_t NextPhysicalRecord = 1;
  std::uint32_t LastRecordID = 0;
  std::uint16_t RecordSize = 0;
  std::uint16_t FieldCount = 0;
  std::uint16_t BlobFieldCount = 0;
  double LastUpdated = 0;  // as stored (bias subtracted)
  std::string Description;
  std::uint8_t Encrypted = 0;
  std::string Password;
  std::uint16_t LanguageID = 0;
  std::uint16_t SortID = 0;
  std::uint16_t UserMajorVersion = 0;
  std::uint16_t UserMinorVersion = 0;
  std::uint8_t Modified = 0;
  std::uint32_t LastBlobSignature = 0;
  std::int64_t EngineStamp = 0;

  void Decode(const std::uint8_t* bytes);
  void Encode(std::uint8_t* bytes) const;
  // The BLOB block size in bytes: the stored value, 512 for 0.
  std::uint32_t BlobBlockSize() const { return BlobBlockSizeRaw == 0 ? 512u : BlobBlockSizeRaw; }
};

}  // namespace korvex
