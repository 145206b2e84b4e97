// TRecord: one cached record image of a data file. Bytes 0..8 of a record
// are its deleted flag, its own number (in use) or the next free record
// (deleted), and its record ID; the fields follow (data_file.h).
#pragma once

#include <cstdint>
#include <vector>

#include "tables/engine/cache/cache_entry.h"

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
  // From the file's bytes as they are (deciphered when `encrypted`): a
  // record in use that carries a wrong number in bytes 1..4 shows it to the
  // checks and the repair.
  void Read(const std::uint8_t* source, bool encrypted);
  // Into the file's bytes, enciphered when `encrypted`. A record in use
  // always goes out with its own number in bytes 1..4: whoever fills a
  // record the data file handed out leaves those bytes to the file. The
  // writer clears the modified flag once the bytes are in the file.
  void Write(std::uint8_t* target, bool encrypted);

  std::vector<std::uint8_t> Data;
  std::vector<std::uint8_t> SortKey;  // used by the record sort
  // Brought in by a window read ahead for records read in order, or
  // appended: a flush keeps no new clean copy of it (a walk passes each
  // record once; a run of appends would fill the copies' budget).
  bool ReadAhead = false;

  std::unique_ptr<TCacheEntry> Clone() const override { return CopyEntry(*this); }
  void Assign(const TCacheEntry& image) override { AssignEntry(*this, image); }
};

}  // namespace korvex
