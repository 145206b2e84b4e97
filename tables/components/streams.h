// Byte streams over engine data: the image of an in-memory table, and the
// BLOB of one field of a dataset's active record.
#pragma once

#include <cstdint>

#include "platform/dataset/fields.h"
#include "platform/runtime/streams.h"

namespace korvex {

class TDataCursor;
class TKORVEXDataSet;

enum TKORVEXTableStreamMode : std::uint8_t { msRead, msWrite };

// msRead reads the table's image (a save of the table); msWrite collects
// an image that replaces the table's content when the stream is destroyed
// (a load). Only in-memory tables have an image: any other raises "Table %s
// is not an in-memory table".
class TKORVEXTableStream : public rtl::TStream {
public:
  TKORVEXTableStream(TDataCursor* cursor, TKORVEXTableStreamMode mode);
  ~TKORVEXTableStream() override;
  std::string ClassName() const override { return "TKORVEXTableStream"; }

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  void SetSize(std::int64_t size) override;
  void Truncate();
  // Ends the save or load now and reports what the engine refuses (an
  // image that is not this table's: engine error 8961, the table as it
  // was). The destructor ends an unfinished stream without a report.
  void Finish();

private:
  TDataCursor* cursor_;
  std::int64_t position_ = 0;
  TKORVEXTableStreamMode mode_;
  bool finished_ = false;
};

// Reads and writes the BLOB of `field` in the dataset's active record. A
// stream that wrote marks the field modified when it is destroyed; a BLOB
// whose field is not modified is let go then. Writes need edit or insert
// ("Dataset not in edit or insert mode") and a writable field.
class TKORVEXBlobStream : public rtl::TStream {
public:
  TKORVEXBlobStream(db::TField* field, db::TBlobStreamMode mode);
  ~TKORVEXBlobStream() override;
  std::string ClassName() const override { return "TKORVEXBlobStream"; }

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  std::int64_t Size() override { return BlobSize(); }
  void SetSize(std::int64_t size) override;
  void Truncate();
  std::int64_t BlobSize();
  bool Opened() const { return opened_; }

private:
  db::TBlobField* field_;
  TKORVEXDataSet* dataset_;
  std::uint8_t* buffer_ = nullptr;
  int field_no_;
  bool opened_ = false;
  bool modified_ = false;
  std::int64_t position_ = 0;
};

}  // namespace korvex
