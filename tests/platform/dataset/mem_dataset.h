// An in-memory dataset for the framework's tests: a vector of records, each
// an image of (null flag + native value) per column, 4-byte bookmarks (the
// record's id) and a cursor that stands on a record index or on one of the
// two cracks (-1 before the first record, Count() after the last).
//
// Record buffer: record image | calculated-fields area | id (4) | flag (1).
// A BLOB column holds an index into `blobs`; its stream stores a new entry
// when it is destroyed after writing.
// Insert places a record before the cursor's record (at the end when the
// cursor stands on none); Append always at the end.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dataset/dataset.h"
#include "platform/runtime/streams.h"

namespace dstest {

using namespace db;

struct Column {
  std::string name;
  TFieldType type;
  int size = 0;
};

class MemDataSet : public TDataSet {
public:
  explicit MemDataSet(std::vector<Column> columns, rtl::TComponent* owner = nullptr)
      : TDataSet(owner), columns_(std::move(columns)) {}
  ~MemDataSet() override { Close(); }

  struct Record {
    std::uint32_t id;
    std::vector<std::uint8_t> image;
  };
  std::vector<Record> records;

  // Failure injection and bookkeeping for the tests.
  int fail_posts = 0;          // the next n posts raise "Key violation" before storing
  bool fail_open = false;      // InternalOpen raises after creating the fields
  int allocated = 0;           // buffers alive (allocated - freed)
  int extra_bytes = 0;         // grows the buffer (a layout change)

  bool read_only = false;
  TDataSource* master = nullptr;
  TDataSource* GetDataSource() const override { return master; }
  void SetMaster(TDataSource* source) {
    CheckNotLinkedTo(source);
    master = source;
  }
  // Appends a record image (built with ImageOffset / ImageSize) without
  // going through the dataset.
  void AddRecord(std::vector<std::uint8_t> image) { records.push_back(Record{next_id_++, std::move(image)}); }
  int ImageSize() const { return record_size_; }
  int ImageOffset(int column) const { return offsets_.at(static_cast<std::size_t>(column)); }

  // A layout change while open: the buffers are made anew.
  void ChangeLayout(int extra) {
    UpdateCursorPos();
    extra_bytes = extra;
    BufferSizeChanged();
  }
  // Handles an exception the way the framework does inside its handlers.
  void HandleInternally(const std::string& message) {
    try {
      rtl::DatabaseError(message);
    } catch (...) {
      InternalHandleException();
    }
  }
  void SetKey() {
    CheckBrowseMode();
    std::memset(key_, 0, sizeof key_);
    SetState(dsSetKey);
  }
  bool BookmarkValid(const TBookmark& bookmark) override {
    return bookmark.size() == 4 && IndexOfId(IdOf(bookmark.data())) >= 0;
  }
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override {
    if (a.empty() || b.empty()) return TDataSet::CompareBookmarks(a, b);
    int ia = IndexOfId(IdOf(a.data())), ib = IndexOfId(IdOf(b.data()));
    return ia < ib ? -1 : ia > ib ? 1 : 0;
  }

  std::vector<std::string> blobs;

  std::unique_ptr<rtl::TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override {
    TRecordBuffer rb = GetActiveRecordBuffer();
    std::string data;
    if (rb) {
      const std::uint8_t* slot = rb + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
      std::int64_t index;
      std::memcpy(&index, slot + 1, 8);
      if (slot[0]) data = blobs[static_cast<std::size_t>(index)];
    }
    if (mode != bmRead) {
      if (State() != dsEdit && State() != dsInsert) rtl::DatabaseError(msg::kNotEditing);
      if (mode == bmWrite) data.clear();
    }
    return std::make_unique<BlobStream>(*this, field, data, mode != bmRead);
  }

  bool GetFieldData(TField* field, void* buffer) override {
    TRecordBuffer rb = GetActiveRecordBuffer();
    if (!rb) return false;
    if (field->Calculated()) return GetCalcFieldData(rb + record_size_, field, buffer);
    const std::uint8_t* slot = rb + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
    if (!slot[0]) return false;
    if (buffer) std::memcpy(buffer, slot + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
  }
  void SetFieldData(TField* field, const void* buffer) override {
    TRecordBuffer rb = PrepareFieldWrite(field, buffer);
    if (field->Calculated()) {
      SetCalcFieldData(rb + record_size_, field, buffer);
    } else {
      std::uint8_t* slot = rb + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
      slot[0] = buffer ? 1 : 0;
      std::size_t n = static_cast<std::size_t>(field->DataSize());
      if (buffer) std::memcpy(slot + 1, buffer, n);
      else std::memset(slot + 1, 0, n);
    }
    FinishFieldWrite(field);
  }

protected:
  TRecordBuffer AllocRecordBuffer() override {
    ++allocated;
    return new std::uint8_t[static_cast<std::size_t>(BufferSize())]();
  }
  void FreeRecordBuffer(TRecordBuffer& buffer) override {
    --allocated;
    delete[] buffer;
    buffer = nullptr;
  }
  int GetRecordSize() override { return record_size_; }
  bool GetCanModify() override { return !read_only; }
  void InternalInitFieldDefs() override {
    FieldDefs().Clear();
    for (const Column& c : columns_) FieldDefs().Add(c.name, c.type, c.size);
  }
  void InternalOpen() override {
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    if (fail_open) rtl::DatabaseError("Table is busy");
    BindFields(true);
    offsets_.clear();
    record_size_ = 0;
    for (int i = 0; i < FieldDefs().Count(); ++i) {
      offsets_.push_back(record_size_);
      record_size_ += 1 + ColumnSize(FieldDefs().Items(i));
    }
    BookmarkSize = 4;
    pos_ = -1;
    open_ = true;
  }
  void InternalClose() override { open_ = false; }
  bool IsCursorOpen() override { return open_; }

  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool) override {
    const int n = static_cast<int>(records.size());
    for (;;) {
      if (mode == gmNext) {
        if (++pos_ >= n) { pos_ = n; return grEOF; }
      } else if (mode == gmPrior) {
        if (--pos_ < 0) { pos_ = -1; return grBOF; }
      } else if (pos_ < 0 || pos_ >= n) {
        return grError;
      }
      Load(buffer, records[static_cast<std::size_t>(pos_)]);
      GetCalcFields(buffer);
      if (RecordPassesFilter(buffer)) return grOK;
      if (mode == gmCurrent) return grError;
    }
  }
  void InternalFirst() override { pos_ = -1; }
  void InternalLast() override { pos_ = static_cast<int>(records.size()); }
  void InternalInitRecord(TRecordBuffer buffer) override {
    std::memset(buffer, 0, static_cast<std::size_t>(BufferSize()));
  }
  void ClearCalcFields(TRecordBuffer buffer) override {
    std::memset(buffer + record_size_, 0, static_cast<std::size_t>(CalcFieldsSize()));
  }
  void InternalPost() override {
    if (fail_posts > 0) {
      --fail_posts;
      rtl::DatabaseError("Key violation");
    }
    TRecordBuffer rb = ActiveBuffer();
    std::vector<std::uint8_t> image(rb, rb + record_size_);
    if (State() == dsEdit) {
      records[static_cast<std::size_t>(pos_)].image = std::move(image);
      return;
    }
    const int n = static_cast<int>(records.size());
    int at = GetBookmarkFlag(rb) == bfEOF || pos_ < 0 || pos_ >= n ? n : pos_;
    records.insert(records.begin() + at, Record{next_id_++, std::move(image)});
    pos_ = at;
  }
  void InternalDelete() override { records.erase(records.begin() + pos_); }
  void InternalGotoBookmark(const std::uint8_t* bookmark) override {
    int at = IndexOfId(IdOf(bookmark));
    pos_ = at < 0 ? static_cast<int>(records.size()) : at;
  }
  void InternalSetToRecord(TRecordBuffer buffer) override { InternalGotoBookmark(buffer + InfoOffset()); }
  void GetBookmarkData(TRecordBuffer buffer, std::uint8_t* data) override {
    std::memcpy(data, buffer + InfoOffset(), 4);
  }
  void SetBookmarkData(TRecordBuffer buffer, const std::uint8_t* data) override {
    std::memcpy(buffer + InfoOffset(), data, 4);
  }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override {
    return static_cast<TBookmarkFlag>(buffer[InfoOffset() + 4]);
  }
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override { buffer[InfoOffset() + 4] = flag; }
  int GetRecNo() override {
    TRecordBuffer rb = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
    if (!Active() || State() == dsInsert || !HasRecord() || !rb) return -1;
    int at = IndexOfId(IdOf(rb + InfoOffset()));
    return at < 0 ? -1 : VisibleBefore(at) + 1;
  }
  void SetRecNoValue(int value) override {
    if (value < 1 || value > GetRecordCount() || value == GetRecNo()) return;
    DoBeforeScroll();
    for (int i = 0, seen = 0; i < static_cast<int>(records.size()); ++i)
      if (Visible(i) && ++seen == value) pos_ = i;
    SyncToCursor();
    DoAfterScroll();
  }
  int GetRecordCount() override {
    CheckActive();
    return VisibleBefore(static_cast<int>(records.size()));
  }
  TRecordBuffer GetKeyRecordBuffer() override { return key_; }

private:
  class BlobStream : public rtl::TStringStream {
  public:
    BlobStream(MemDataSet& ds, TField* field, const std::string& data, bool writing)
        : rtl::TStringStream(data), ds_(ds), field_(field), writing_(writing) {}
    ~BlobStream() override {
      if (writing_) ds_.StoreBlob(field_, DataString());
    }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
      if (!writing_) return 0;
      return rtl::TStringStream::Write(buffer, count);
    }

  private:
    MemDataSet& ds_;
    TField* field_;
    bool writing_;
  };
  void StoreBlob(TField* field, const std::string& data) {
    auto index = static_cast<std::int64_t>(blobs.size());
    blobs.push_back(data);
    TRecordBuffer rb = PrepareFieldWrite(field, &index);
    std::uint8_t* slot = rb + offsets_[static_cast<std::size_t>(field->FieldNo() - 1)];
    slot[0] = data.empty() ? 0 : 1;
    std::memcpy(slot + 1, &index, 8);
    FinishFieldWrite(field);
  }

  static std::uint32_t IdOf(const std::uint8_t* p) {
    std::uint32_t id;
    std::memcpy(&id, p, 4);
    return id;
  }
  static int ColumnSize(const TFieldDef& def) {
    switch (def.DataType) {
      case ftString: return def.Size + 1;
      case ftSmallint: case ftWord: case ftBoolean: return 2;
      case ftInteger: case ftAutoInc: case ftDate: case ftTime: return 4;
      case ftBytes: return def.Size;
      case ftVarBytes: return def.Size + 2;
      default: return 8;
    }
  }
  int InfoOffset() const { return record_size_ + CalcFieldsSize() + extra_bytes; }
  int BufferSize() const { return InfoOffset() + 5; }
  int IndexOfId(std::uint32_t id) const {
    for (std::size_t i = 0; i < records.size(); ++i)
      if (records[i].id == id) return static_cast<int>(i);
    return -1;
  }
  void Load(TRecordBuffer buffer, const Record& record) {
    std::memcpy(buffer, record.image.data(), record.image.size());
    std::memcpy(buffer + InfoOffset(), &record.id, 4);
    buffer[InfoOffset() + 4] = bfCurrent;
  }
  // Whether record i passes the filter (read through the temporary buffer).
  bool Visible(int i) {
    if (!Filtered() || !OnFilterRecord()) return true;
    Load(TempBuffer(), records[static_cast<std::size_t>(i)]);
    GetCalcFields(TempBuffer());
    return RecordPassesFilter(TempBuffer());
  }
  int VisibleBefore(int end) {
    int count = 0;
    for (int i = 0; i < end; ++i) count += Visible(i);
    return count;
  }

  std::vector<Column> columns_;
  std::vector<int> offsets_;
  int record_size_ = 0;
  int pos_ = -1;
  bool open_ = false;
  std::uint32_t next_id_ = 1;
  std::uint8_t key_[512] = {};
};

}  // namespace dstest
