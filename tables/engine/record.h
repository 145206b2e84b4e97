// TRecord: one cached record image of a data file. Bytes 0..8 of a record
// are its deleted flag, its own number (in use) or the next free record
// (deleted), and its record ID; the fields follow (data_file.h).
#pragma once

#include <cstdint>
#include <vector>

#include "tables/engine/cache_entry.h"

namespace korvex {

class TRecord : public TCacheEntry {
public:
  explicit TRecord(std::uint32_t record_size) : Data(record_size, 0) {}

  std::uint32_t Number() const { return Key; }
  bool Deleted() const { return Data.size() > 0 && Data[0] != 0; }
  void SetDeleted(bool deleted);
  // The next free record of a deleted record.
  std::uint32_t NextFree() const;
  void SetNextFree(std::uint32_t next);
  std::uint32_t RecordID() const;
  void SetRecordID(std::uint32_t id);

  // Zero bytes, not modified.
  void Initialize(std::uint32_t record_size);
  // From the file's bytes: deciphered when `encrypted`; a record in use
  // gets its own number in bytes 1..4.
  void Read(const std::uint8_t* source, bool encrypted);
  // Into the file's bytes (the number of a record in use in bytes 1..4),
  // enciphered when `encrypted`. The writer clears the modified flag once
  // the bytes are in the file.
  void Write(std::uint8_t* target, bool encrypted);

  std::vector<std::uint8_t> Data;
  std::vector<std::uint8_t> SortKey;  // used by the record sort

  std::unique_ptr<TCacheEntry> Clone() const override { return CopyEntry(*this); }
  void Assign(const TCacheEntry& image) override { AssignEntry(*this, image); }
};

}  // namespace korvex
