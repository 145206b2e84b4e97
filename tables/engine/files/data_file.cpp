#include "tables/engine/files/data_file.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/cache/cache_io.h"
#include "tables/engine/cache/write_undo.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/key_bytes.h"

namespace korvex {
namespace {

std::string Cipher(std::string text, TCipherKeys keys) {
  EncryptBuffer(text.data(), static_cast<std::int32_t>(text.size()), keys.key1, keys.key2);
  return text;
}

}  // namespace

TDataFile::TDataFile(TTableHost* host)
    : TFileHandler(host), host_(host), make_record_([this] { return GetNewRecordInstance(); }),
      flush_records_([this] { FlushRecordBuffers(false); }) {
  cache_.SetCapacity(base_capacity_);
}

TDataFile::~TDataFile() {
  // A close that fails (memory run out) still leaves with the object.
  try {
    TDataFile::CloseFile();
  } catch (...) {
  }
  pool_.FreeAll();
}

void TDataFile::Fail(TEngineErrorCode code) const { RaiseError(code, host_->TableName()); }

void TDataFile::SetLimits() {
  std::uint32_t size = header_.RecordSize;
  read_ahead_limit_ = size == 0 ? 1 : 65535 / size;
  base_capacity_ = size == 0 ? 8191 : std::min<std::size_t>(131070 / size, 8191);
  cache_.SetCapacity(base_capacity_);
  // An in-memory file reads from memory anyway.
  copies_.Configure(InMemory() ? 0 : size, kCleanRecordBudget);
}

std::uint64_t TDataFile::RecordPosition(std::uint32_t n) const {
  return DataStart() + std::uint64_t{n - 1} * header_.RecordSize;
}

std::uint64_t TDataFile::GetFileSize() const {
  return std::uint64_t{GetPhysicalRecordsUsed()} * header_.RecordSize + DataStart();
}

// ---- create, open, close --------------------------------------------------

void TDataFile::CreateDataFile(const TDataFileSettings& settings, const std::vector<TFieldDefinition>& fields) {
  header_ = TDataHeader{};
  header_.LanguageID = settings.LanguageID;
  header_.SortID = settings.SortID;
  header_.UserMajorVersion = settings.UserMajorVersion;
  header_.UserMinorVersion = settings.UserMinorVersion;
  header_.Encrypted = settings.Encrypted ? 1 : 0;
  std::string description = settings.Description.substr(0, kMaxDescriptionLength);
  if (settings.Encrypted) {
    header_.Password = Cipher(settings.Password.substr(0, kMaxPasswordLength), kHeaderTextKeys);
    header_.Description = Cipher(description, kHeaderTextKeys);
  } else {
    header_.Description = description;
  }
  if (fields.size() > kMaxFields) Fail(err::kFieldLimits);
  std::size_t blob_fields = std::count_if(fields.begin(), fields.end(),
                                          [](const TFieldDefinition& f) { return f.DataType == dtBlob; });
  if (blob_fields > kMaxBlobFields) Fail(err::kBlobFieldsOrBlockSize);
  // A block must hold its 18-byte header and some data.
  if (settings.BlobBlockSize != 0 && settings.BlobBlockSize < 64) Fail(err::kBlobFieldsOrBlockSize);
  std::uint64_t record_size = ComputeRecordLayout(fields, nullptr);
  if (record_size > kMaxRecordSize) Fail(err::kMaxRecordSize);
  fields_ = fields;
  for (TFieldDefinition& f : fields_) f.Expression = nullptr;
  header_.FieldCount = static_cast<std::uint16_t>(fields.size());
  header_.BlobFieldCount = static_cast<std::uint16_t>(blob_fields);
  header_.BlobBlockSizeRaw = settings.BlobBlockSize;
  header_.RecordSize = static_cast<std::uint16_t>(record_size);
  header_.EngineStamp = kEngineStamp;
  header_modified_ = fields_modified_ = true;
  TFileHandler::CreateFile();
  SetLimits();
  stats_ = {};
}

void TDataFile::OpenFile() {
  if (IsOpen()) return;
  read_ahead_limit_ = 1;
  fields_.clear();
  TFileHandler::OpenFile();
  try {
    ReadHeader();
    SetLimits();
    if (header_.FieldCount > kMaxFields) Fail(err::kHeaderCorrupt);
    ReadFields();
  } catch (...) {
    CloseFile();
    throw;
  }
  stats_ = {};
}

bool TDataFile::OpenForRepair() {
  if (IsOpen()) return false;
  read_ahead_limit_ = 1;
  fields_.clear();
  TFileHandler::OpenFile();
  bool cut = false;
  try {
    const auto size = static_cast<std::uint64_t>(GetSize());
    if (size < kDataHeaderSize) Fail(err::kHeaderCorrupt);
    ReadHeader();
    SetLimits();
    if (header_.FieldCount > kMaxFields) Fail(err::kHeaderCorrupt);
    const std::uint64_t start = kDataHeaderSize + std::uint64_t{kFieldDefinitionSize} * header_.FieldCount;
    if (size < start) {
      if (header_.FieldCount == 0 || size < start - kFieldDefinitionSize + kFieldDefinitionValueBytes)
        Fail(err::kHeaderCorrupt);
      cut = true;
    }
    ReadFields(cut);
    fields_modified_ = cut;
  } catch (...) {
    CloseFile();
    throw;
  }
  stats_ = {};
  return cut;
}

void TDataFile::CloseFile() {
  if (!IsOpen()) return;
  stamp_view_.Drop();
  FreeRecordBuffers();
  fields_.clear();
  TFileHandler::CloseFile();
}

// ---- header ---------------------------------------------------------------

void TDataFile::ReadHeader() {
  std::uint8_t bytes[kDataHeaderSize];
  ReadAt(*this, 0, bytes, kDataHeaderSize);
  header_.Decode(bytes);
  header_modified_ = false;
}

void TDataFile::WriteHeader(bool force, bool flush_to_disk) {
  if (!force && !header_modified_) return;
  ++header_.UpdateStamp;
  header_.EngineStamp = kEngineStamp;
  header_.LastUpdated = rtl::Now() - kLastUpdatedBias;
  header_.Modified = header_modified_ ? 1 : 0;
  std::uint8_t bytes[kDataHeaderSize];
  header_.Encode(bytes);
  WriteAt(*this, 0, bytes, kDataHeaderSize);
  if (flush_to_disk || host_->ForceBufferFlush()) Flush();
  host_->MarkWritten();
  header_modified_ = false;
}

void TDataFile::UpdateHeaderStamp() {
  ++header_.UpdateStamp;
  header_modified_ = true;
  host_->MarkWritten();
}

void TDataFile::ClearHeader() {
  FreeRecordBuffers();
  WriteAt(*this, DataStart(), nullptr, 0);
  if (host_->ForceBufferFlush()) Flush();
  header_.UpdateStamp = 0;
  header_.FirstFreeRecord = 0;
  header_.NextPhysicalRecord = 1;
  header_.LastRecordID = 0;
  header_modified_ = true;
}

bool TDataFile::StampChanged() {
  std::uint8_t stamp[4];
  stamp_view_.Read(*this, stamp, 4);
  return rtl::DecodeFixed32(stamp) != header_.UpdateStamp;
}

bool TDataFile::CheckForChanges() {
  if (!StampChanged()) return false;
  ReadHeader();
  return true;
}

void TDataFile::UpdateHeader(const std::string& password, const std::string& description,
                             std::uint32_t last_record_id, std::uint16_t user_major, std::uint16_t user_minor) {
  std::string p = password.substr(0, kMaxPasswordLength);
  std::string d = description.substr(0, kMaxDescriptionLength);
  header_.Password = GetEncrypted() ? Cipher(p, kHeaderTextKeys) : std::string();
  header_.Description = GetEncrypted() ? Cipher(d, kHeaderTextKeys) : d;
  header_.LastRecordID = last_record_id;
  header_.UserMajorVersion = user_major;
  header_.UserMinorVersion = user_minor;
  header_modified_ = true;
}

std::string TDataFile::GetDescription() const {
  return GetEncrypted() ? Cipher(header_.Description, kHeaderTextKeys) : header_.Description;
}

std::string TDataFile::GetPassword() const {
  return GetEncrypted() ? Cipher(header_.Password, kHeaderTextKeys) : std::string();
}

std::uint32_t TDataFile::GetNextFreeRecordID() {
  if (header_.LastRecordID >= 0x7FFFFFFF) header_.LastRecordID = 0;
  ++header_.LastRecordID;
  header_modified_ = true;
  return header_.LastRecordID;
}

void TDataFile::SetNextFreeRecordID(std::uint32_t id) {
  header_.LastRecordID = id;
  header_modified_ = true;
}

std::uint32_t TDataFile::GetNextFreeBlobSignature() {
  if (header_.LastBlobSignature >= 0x7FFFFFFF) header_.LastBlobSignature = 0;
  ++header_.LastBlobSignature;
  header_modified_ = true;
  return header_.LastBlobSignature;
}

// ---- field definitions ----------------------------------------------------

std::uint32_t TDataFile::DefinitionCipherLength() const {
  std::uint32_t length = static_cast<std::uint32_t>(kFieldDefinitionSize * fields_.size());
  // Files written before the engine stamp existed enciphered only the low
  // 16 bits' worth of the block.
  return header_.EngineStamp == 0 ? length % 65536 : length;
}

void TDataFile::ReadFields(bool allow_cut) {
  fields_.assign(header_.FieldCount, TFieldDefinition{});
  std::vector<std::uint8_t> block(kFieldDefinitionSize * fields_.size());
  if (!block.empty()) {
    try {
      ReadAt(*this, kDataHeaderSize, block.data(), static_cast<std::int64_t>(block.size()), allow_cut);
    } catch (...) {
      fields_.clear();
      throw;
    }
  }
  if (GetEncrypted())
    DecryptBuffer(block.data(), static_cast<std::int32_t>(DefinitionCipherLength()), kDataKeys.key1, kDataKeys.key2);
  for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i].Decode(block.data() + i * kFieldDefinitionSize);
  fields_modified_ = false;
}

void TDataFile::WriteFields() {
  // No definitions: nothing to write (a write of no bytes would cut the
  // file after the header).
  if (!fields_modified_ || fields_.empty()) return;
  std::vector<std::uint8_t> block(kFieldDefinitionSize * fields_.size());
  for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i].Encode(block.data() + i * kFieldDefinitionSize);
  // Every header this engine writes carries the engine stamp, so the whole
  // block is enciphered.
  if (GetEncrypted())
    EncryptBuffer(block.data(), static_cast<std::int32_t>(block.size()), kDataKeys.key1, kDataKeys.key2);
  WriteAt(*this, kDataHeaderSize, block.data(), static_cast<std::int64_t>(block.size()));
  if (host_->ForceBufferFlush()) Flush();
  host_->MarkWritten();
  fields_modified_ = false;
}

const TFieldDefinition* TDataFile::GetFieldDefinitionByPos(int position) const {
  if (position < 1 || position > static_cast<int>(fields_.size())) return nullptr;
  return &fields_[static_cast<std::size_t>(position - 1)];
}

const TFieldDefinition* TDataFile::GetFieldDefinitionByNumber(std::uint16_t number) const {
  for (const TFieldDefinition& f : fields_)
    if (f.FieldNumber == number) return &f;
  return nullptr;
}

const TFieldDefinition* TDataFile::GetFieldDefinitionByName(const std::string& name) const {
  for (const TFieldDefinition& f : fields_)
    if (rtl::AnsiSameText(f.Name, name)) return &f;
  return nullptr;
}

void TDataFile::UpdateFieldDefinitionByPos(int position, const TFieldDefinition& d) {
  if (position < 1 || position > static_cast<int>(fields_.size())) return;
  TFieldDefinition& f = fields_[static_cast<std::size_t>(position - 1)];
  f.FieldNumber = d.FieldNumber;
  f.Name = d.Name;
  f.SubType = d.SubType;
  f.Description = d.Description;
  f.Required = d.Required;
  f.Minimum = d.Minimum;
  f.Maximum = d.Maximum;
  f.Default = d.Default;
  fields_modified_ = true;
}

// ---- records --------------------------------------------------------------

TRecord* TDataFile::GetNewRecordInstance() {
  std::uint32_t size = header_.RecordSize;
  return pool_.Take([size] { return new TRecord(size); }, [size](TRecord& r) { r.Initialize(size); });
}

TRecord* TDataFile::GetNewRecordBuffer(std::uint32_t n) {
  // A cache grown while writes were held goes back to its size first.
  const bool held = host_->WritesHeld();
  if (!held && cache_.Capacity() > base_capacity_) AdjustRecordBuffers();
  TCacheEntry* entry = cache_.Obtain(n, held, make_record_, flush_records_);
  if (!entry) Fail(err::kDataRecordsCorrupt);
  auto* record = static_cast<TRecord*>(entry);
  record->Initialize(header_.RecordSize);
  record->ReadAhead = false;
  return record;
}

TCacheLayout TDataFile::Layout() const {
  return {header_.RecordSize, 1, [this](std::uint32_t n) { return RecordPosition(n); }};
}

TRecord* TDataFile::AppendRecord(std::uint32_t n) {
  if (std::uint64_t{n} + 1 >= std::uint64_t{kMaxRecordNumber} + 2 ||
      std::uint64_t{header_.RecordSize} * n >= kMaxTableBytes + 1)
    Fail(err::kTableFull);
  copies_.Erase(n);
  TRecord* appended = GetNewRecordBuffer(n);
  appended->Modified = true;  // the file has no bytes for it yet
  // Written, it leaves no clean copy: a run of appends would push out the
  // copies of records read here and there, as a walk would.
  appended->ReadAhead = true;
  ++stats_.CacheHits;
  ++header_.NextPhysicalRecord;
  header_modified_ = true;
  appended->IncUseCount();
  return appended;
}

TRecord* TDataFile::KeptRecord(std::uint32_t n) {
  if (const std::uint8_t* copy = copies_.Find(n)) {
    auto* fresh = GetNewRecordBuffer(n);
    fresh->Read(copy, GetEncrypted());
    fresh->IncUseCount();
    ++stats_.CacheHits;
    // Read in order through the copies of a window: the record after
    // them is read ahead, not as another window of copies.
    last_read_ = n;
    return fresh;
  }
  if (n >= scan_first_ && n <= scan_last_) {
    // A record a scan just passed (a walk that now writes it): its entry
    // from the window's bytes, which are the file's, not another window
    // read into the cache. Like the walk's read-ahead, it leaves no clean
    // copy when written.
    const std::uint8_t* bytes = scan_.data() + std::size_t{n - scan_first_} * header_.RecordSize;
    auto* fresh = GetNewRecordBuffer(n);
    fresh->Read(bytes, GetEncrypted());
    fresh->ReadAhead = true;
    fresh->IncUseCount();
    ++stats_.CacheHits;
    last_read_ = n;
    return fresh;
  }
  return nullptr;
}

bool TDataFile::GetRecord(void* cursor, std::uint32_t n, bool read_ahead, bool cursor_rule, int direction,
                          TRecord*& record, std::uint8_t* alone) {
  record = nullptr;
  if (n == 0) Fail(err::kDataRecordsCorrupt);
  const std::uint32_t next = header_.NextPhysicalRecord;
  if (n == next) {
    record = AppendRecord(n);
    return true;
  }
  if (n > next) Fail(err::kDataRecordsCorrupt);
  // A record a scan just found missing (no key entered since) is missing
  // still.
  TCacheEntry* entry =
      n == scan_absent_ && cache_.Generation() == scan_absent_generation_ ? nullptr : cache_.Find(n);
  if (!entry) {
    record = KeptRecord(n);
    if (record) return true;
    if (!host_->StrictChangeDetection() && host_->TakeInternalReadLock(cursor)) return false;
    std::uint32_t count = 1;
    std::uint32_t room = direction == 1 ? next - n : n;
    if (read_ahead && cursor_rule)
      count = host_->ReadAheadCount(cursor, n, read_ahead_limit_, direction);
    else if (read_ahead)
      count = read_ahead_limit_;
    count = std::max<std::uint32_t>(1, std::min({count, read_ahead_limit_, room}));
    // Records read one by one in order (a walk by an index that follows
    // the records) are read ahead into the cache; records read here and
    // there are read alone.
    const int order = n == last_read_ + 1 ? 1 : n + 1 == last_read_ ? -1 : 0;
    last_read_ = n;
    if (read_ahead && count == 1 && order != 0) {
      direction = order;
      count = std::max<std::uint32_t>(1, std::min(read_ahead_limit_, order == 1 ? next - n : n));
    }
    if (!host_->WritesHeld()) held_window_ = 0;
    else if (held_window_ != 0) count = std::min(count, held_window_);
    if (read_ahead && count == 1 && alone && ReadsAtRandomAlone()) {
      ReadRecordInto(n, alone);
      return true;
    }
    if (read_ahead && count == 1 && copies_.Enabled()) {
      // The entry in hand: no second look-up.
      entry = ReadOneRecord(n);
    } else {
      ReadRecordBuffers(n, count, direction);
      last_read_ = direction == 1 ? n + count - 1 : n - count + 1;  // where the window ends
      entry = cache_.Find(n);
    }
    if (!entry && count > 1) {
      // The window pushed its own first record out: narrower windows from
      // now on, and this record alone.
      held_window_ = std::max<std::uint32_t>(1, count / 2);
      ReadRecordBuffers(n, 1, direction);
      entry = cache_.Find(n);
    }
  } else {
    cache_.Touch(entry);
    ++stats_.CacheHits;
  }
  if (!entry || entry->Key != n) Fail(err::kDataRecordsCorrupt);
  entry->IncUseCount();
  record = static_cast<TRecord*>(entry);
  return true;
}

void TDataFile::ReadRecordBuffers(std::uint32_t n, std::uint32_t count, int direction) {
  ++stats_.CacheMisses;
  if (header_.RecordSize == 0) Fail(err::kDataRecordsCorrupt);
  const bool encrypted = GetEncrypted();
  ReadIntoCache(
      *this, *host_, cache_, Layout(), window_, direction == 1 ? n : n - count + 1, count, n, buffer_,
      [this](std::uint32_t key) { return GetNewRecordBuffer(key); },
      [this, encrypted, count](TCacheEntry* e, const std::uint8_t* bytes) {
        static_cast<TRecord*>(e)->Read(bytes, encrypted);
        static_cast<TRecord*>(e)->ReadAhead = count > 1;
        // A window read ahead for records read in order leaves no copies:
        // a walk passes each record once, and would push out the copies
        // of records read here and there (and grow by the whole budget).
        if (count == 1) copies_.Store(e->Key, bytes);
      },
      spill_first_ == 0 ? TWindowReader{}
                        : TWindowReader([this, n, count, direction](std::uint64_t, std::uint8_t* out, std::int64_t length) {
                            return ReadRecordBytes(direction == 1 ? n : n - count + 1, out, length);
                          }));
  ++stats_.BulkReads;
  stats_.BytesRead += std::uint64_t{count} * header_.RecordSize;
}

TRecord* TDataFile::ReadOneRecord(std::uint32_t n) {
  // A record met out of the file's order. While the copies can hold the
  // whole file, its window (64 KB) is read and every record of it kept as a
  // clean copy: a read costs little more for the window than for one
  // record, and a walk by another index soon asks for the neighbours. In a
  // larger file the neighbours are seldom asked for next and storing them
  // pushed out the copies of records that were (a walk by a secondary index
  // stored some 500 copies for every record it reached): the record is
  // read alone, as a page cache would, keeping its own copy while the
  // copies can hold half the file.
  ++stats_.CacheMisses;
  const std::uint32_t size = header_.RecordSize;
  if (size == 0) Fail(err::kDataRecordsCorrupt);
  const std::uint32_t records = header_.NextPhysicalRecord - 1;
  const std::uint32_t per = copies_.Holds(records) ? read_ahead_limit_ : 1;
  const std::uint32_t first = (n - 1) / per * per + 1;
  const std::uint32_t last = std::min(first + per - 1, records);
  const std::int64_t length = std::int64_t{last - first + 1} * size;
  if (buffer_.size() < static_cast<std::size_t>(length)) buffer_.resize(static_cast<std::size_t>(length));
  const std::int64_t got = ReadRecordBytes(first, buffer_.data(), length);
  const auto whole = static_cast<std::uint32_t>(std::max<std::int64_t>(got, 0) / size);
  ++stats_.BulkReads;
  stats_.BytesRead += static_cast<std::uint64_t>(length);
  if (n - first >= whole) {
    if (!(host_->Written() && (host_->Exclusive() || host_->WritesHeld()))) Fail(err::kReadError);
    return nullptr;  // appended in the cache only: not in the file yet
  }
  const std::uint8_t* mine = buffer_.data() + std::size_t{n - first} * size;
  if (per > 1) {
    for (std::uint32_t i = 0; i < whole; ++i)
      if (!cache_.Find(first + i)) copies_.Store(first + i, buffer_.data() + std::size_t{i} * size);
  } else if (copies_.PaysFor(records)) {
    copies_.Store(n, mine);
  }
  TRecord* record = GetNewRecordBuffer(n);
  record->Read(mine, GetEncrypted());
  return record;
}

bool TDataFile::ReadsAtRandomAlone() const {
  return copies_.Enabled() && !host_->WritesHeld() && spill_first_ == 0 &&
         !copies_.Holds(header_.NextPhysicalRecord - 1);
}

bool TDataFile::WouldReadAlone(std::uint32_t n) const {
  return n != 0 && n < header_.NextPhysicalRecord && header_.RecordSize != 0 && ReadsAtRandomAlone() &&
         !cache_.Find(n) && !copies_.Has(n);
}

void TDataFile::CopyAhead(void* cursor, std::vector<std::uint32_t>& records) {
  // Records closer than this are read with the bytes between them: a read
  // costs about as much as copying that many bytes. A run is read in
  // pieces of at most kAheadPiece bytes.
  constexpr std::uint32_t kAheadGap = 32 << 10, kAheadPiece = 256 << 10;
  const std::uint32_t size = header_.RecordSize;
  if (size == 0 || !copies_.Enabled()) return;
  if (!host_->StrictChangeDetection() && host_->TakeInternalReadLock(cursor)) return;
  // Cached records may be newer than the file; copied ones are in hand.
  const std::uint32_t end = header_.NextPhysicalRecord;
  std::sort(records.begin(), records.end());
  records.erase(std::unique(records.begin(), records.end()), records.end());
  records.erase(std::remove_if(records.begin(), records.end(),
                               [&](std::uint32_t n) { return n == 0 || n >= end || cache_.Find(n) || copies_.Has(n); }),
                records.end());
  if (records.size() > AheadRoom()) records.resize(AheadRoom());
  const std::uint32_t gap = std::max<std::uint32_t>(1, kAheadGap / size);
  const std::uint32_t most = std::max<std::uint32_t>(1, kAheadPiece / size);
  for (std::size_t i = 0; i < records.size();) {
    const std::uint32_t first = records[i];
    std::size_t j = i + 1;
    while (j < records.size() && records[j] - records[j - 1] <= gap && records[j] - first < most) ++j;
    const std::int64_t length = std::int64_t{records[j - 1] - first + 1} * size;
    if (buffer_.size() < static_cast<std::size_t>(length)) buffer_.resize(static_cast<std::size_t>(length));
    const std::int64_t got = ReadRecordBytes(first, buffer_.data(), length);
    const auto whole = static_cast<std::uint32_t>(std::max<std::int64_t>(got, 0) / size);
    ++stats_.BulkReads;
    stats_.BytesRead += static_cast<std::uint64_t>(length);
    for (std::size_t k = i; k < j && records[k] - first < whole; ++k)
      copies_.Store(records[k], buffer_.data() + std::size_t{records[k] - first} * size, true);
    // A short read (a file cut short): what it lacks is read, and its
    // error raised, when the walk asks for it.
    if (got < length) break;
    i = j;
  }
}

void TDataFile::ReadRecordInto(std::uint32_t n, std::uint8_t* out) {
  ++stats_.CacheMisses;
  const std::uint32_t size = header_.RecordSize;
  if (size == 0) Fail(err::kDataRecordsCorrupt);
  const std::int64_t got = ReadAt(*this, RecordPosition(n), out, size, true);
  ++stats_.BulkReads;
  stats_.BytesRead += size;
  if (got < static_cast<std::int64_t>(size)) {
    // The file has no bytes for it: the cache would have held it, had it
    // been appended here.
    if (!(host_->Written() && (host_->Exclusive() || host_->WritesHeld()))) Fail(err::kReadError);
    Fail(err::kDataRecordsCorrupt);
  }
  if (copies_.PaysFor(header_.NextPhysicalRecord - 1)) copies_.Store(n, out);
  if (GetEncrypted()) DecryptBuffer(out, static_cast<std::int32_t>(size), kDataKeys.key1, kDataKeys.key2);
}

bool TDataFile::ScanRecord(void* cursor, std::uint32_t n, std::uint8_t* out) {
  const std::uint32_t size = header_.RecordSize;
  if (n == 0 || n >= header_.NextPhysicalRecord || size == 0) Fail(err::kDataRecordsCorrupt);
  if (const TCacheEntry* entry = cache_.Find(n)) {
    // The cache's record may be newer than the file's (writes held).
    std::memcpy(out, static_cast<const TRecord*>(entry)->Data.data(), size);
    ++stats_.CacheHits;
    return true;
  }
  scan_absent_ = n;
  scan_absent_generation_ = cache_.Generation();
  // The window and the copies hold the file's bytes: the window first,
  // where the next records of a scan are. A scan running on past its window
  // reads the next one rather than the copies lookups left of the records
  // there: a copy is a probe and a fetch at random in memory, and a window
  // read serves hundreds of records for the cost of a few such probes. A
  // scan that jumps (a filter's sparse records) takes a copy where there is
  // one.
  const bool windowed = n >= scan_first_ && n <= scan_last_;
  const bool running_on = n == scan_next_;
  scan_next_ = n + 1;
  const std::uint8_t* bytes = windowed || running_on ? nullptr : copies_.Find(n);
  if (!bytes && !windowed) {
    if (!host_->StrictChangeDetection() && host_->TakeInternalReadLock(cursor)) return false;
    const std::uint32_t count = std::min(read_ahead_limit_, header_.NextPhysicalRecord - n);
    scan_.resize(std::size_t{count} * size);
    const std::int64_t got = ReadRecordBytes(n, scan_.data(), std::int64_t{count} * size);
    const auto whole = static_cast<std::uint32_t>(std::max<std::int64_t>(got, 0) / size);
    ++stats_.CacheMisses;
    ++stats_.BulkReads;
    stats_.BytesRead += std::uint64_t{count} * size;
    if (whole == 0) Fail(err::kReadError);
    scan_first_ = n;
    scan_last_ = n + whole - 1;
  } else {
    ++stats_.CacheHits;
  }
  if (!bytes) bytes = scan_.data() + std::size_t{n - scan_first_} * size;
  std::memcpy(out, bytes, size);
  if (GetEncrypted()) DecryptBuffer(out, static_cast<std::int32_t>(size), kDataKeys.key1, kDataKeys.key2);
  return true;
}

void TDataFile::DropScanWindow() {
  scan_first_ = 1;
  scan_last_ = 0;
}

std::int64_t TDataFile::ReadRecordBytes(std::uint32_t first, std::uint8_t* out, std::int64_t count) {
  const std::uint32_t size = header_.RecordSize;
  if (spill_first_ == 0 || std::uint64_t{first} + static_cast<std::uint64_t>(count) / size <= spill_first_)
    return ReadAt(*this, RecordPosition(first), out, count, true);
  std::int64_t got = 0;
  if (first < spill_first_) {
    const std::int64_t below = std::int64_t{spill_first_ - first} * size;
    got = ReadAt(*this, RecordPosition(first), out, below, true);
    if (got < below) return got;
  }
  return got + spill_.Read(RecordPosition(first) + static_cast<std::uint64_t>(got), out + got, count - got);
}

void TDataFile::WriteToSpill() {
  const bool encrypted = GetEncrypted();
  spill_.Spill(
      cache_, Layout(), spill_first_,
      [encrypted](TCacheEntry* e, std::uint8_t* out) { static_cast<TRecord*>(e)->Write(out, encrypted); },
      [this](TCacheEntry* e) {
        // A record read back is the spill file's: it keeps no clean copy.
        static_cast<TRecord*>(e)->ReadAhead = true;
        copies_.Erase(e->Key);
        if (e->Key >= scan_first_ && e->Key <= scan_last_) DropScanWindow();
      });
}

void TDataFile::SpillRecords() {
  const std::uint32_t size = header_.RecordSize;
  if (size == 0 || InMemory() || !IsOpen()) return;
  const std::size_t least = std::max<std::size_t>(2 * base_capacity_, TSpillFile::RecordBytes() / size);
  if (cache_.Count() < std::max(least, spill_trigger_)) return;
  // Records inside the file, which stay, are not walked again per write.
  spill_trigger_ = cache_.Count() * 2;
  const std::uint64_t before = spill_.Written();
  try {
    if (spill_first_ == 0) {
      const auto length = static_cast<std::uint64_t>(GetSize());
      const std::uint64_t start = DataStart();
      const std::uint64_t first = length <= start ? 1 : (length - start + size - 1) / size + 1;
      if (first < header_.NextPhysicalRecord) {
        spill_.Start(host_->PrivateDirectory(), RecordPosition(static_cast<std::uint32_t>(first)));
        spill_first_ = static_cast<std::uint32_t>(first);
      }
    }
    if (spill_first_ != 0) WriteToSpill();
  } catch (...) {
    // Only a saving of memory: what did not reach the spill file stays
    // changed in the cache.
  }
  if (spill_.Written() == before) return;
  cache_.SetCapacity(base_capacity_);
  cache_.Shrink(base_capacity_, [this](TCacheEntry* e) { pool_.Return(static_cast<TRecord*>(e)); });
  spill_trigger_ = cache_.Count() * 2;
}

void TDataFile::DropSpill() {
  spill_.Drop();
  spill_first_ = 0;
  spill_trigger_ = 0;
}

bool TDataFile::FlushRecordBuffers(bool flush_to_disk, TWriteUndo* written) {
  if (header_.RecordSize == 0) return false;
  const bool spilled = spill_first_ != 0;
  if (spilled) {
    // The cache's newer records join the spill file first, so that each
    // record is written once, in file order.
    WriteToSpill();
    spill_.CopyInto(*this);
    host_->MarkWritten();
  }
  const bool encrypted = GetEncrypted();
  std::uint32_t runs = WriteModifiedRuns(
      *this, *host_, cache_, Layout(), window_, flush_to_disk,
      [this, encrypted, written](TCacheEntry* e, std::uint8_t* out) {
        // Noted before its run is written: a record stays modified until
        // then, so a failure finds it modified either way.
        if (written) written->AddDirty(cache_, e->Key);
        if (e->Key >= scan_first_ && e->Key <= scan_last_) DropScanWindow();
        auto* record = static_cast<TRecord*>(e);
        record->Write(out, encrypted);
        // The file's bytes once the flush ends: the neighbourhood a read
        // brought in stays whole. A walk's records and appended ones get no
        // new copies (they would push out those of records read here and
        // there), and any copy one has follows the file.
        if (record->ReadAhead) copies_.Refresh(e->Key, out);
        else copies_.Store(e->Key, out);
      });
  stats_.WriteRuns += runs;
  return spilled || runs > 0;
}

void TDataFile::DropCleanCopies() {
  copies_.Clear();
  DropScanWindow();
}

void TDataFile::FreeRecordBuffers() {
  DropSpill();
  copies_.Clear();
  DropScanWindow();
  cache_.Clear([this](TCacheEntry* e) { pool_.Return(static_cast<TRecord*>(e)); });
}

void TDataFile::AdjustRecordBuffers() {
  // The clean copies stay: they are the file's bytes still.
  cache_.SetCapacity(base_capacity_);
  auto release = [this](TCacheEntry* e) { pool_.Return(static_cast<TRecord*>(e)); };
  cache_.Shrink(cache_.Capacity(), release);
  if (cache_.Count() > cache_.Capacity()) {
    FlushRecordBuffers(false);
    cache_.Shrink(cache_.Capacity(), release);
  }
}

// ---- free chain -----------------------------------------------------------

std::uint32_t TDataFile::GetNextFreeRecordNumber() const {
  if (header_.FirstFreeRecord == 0 || !host_->HasPrimaryIndex()) return header_.NextPhysicalRecord;
  return header_.FirstFreeRecord;
}

void TDataFile::SetNextFreeRecordNumber(std::uint32_t n) {
  header_.FirstFreeRecord = n;
  header_modified_ = true;
}

void TDataFile::RecordsRewritten(std::uint32_t count) {
  host_->MarkWritten();
  if (header_.NextPhysicalRecord != count + 1 || header_.FirstFreeRecord != 0) {
    header_.NextPhysicalRecord = count + 1;
    header_.FirstFreeRecord = 0;
    header_modified_ = true;
  }
}

void TDataFile::AppendWholeRecords(const std::uint8_t* records, std::uint32_t count) {
  if (count == 0) return;
  const std::uint32_t first = header_.NextPhysicalRecord;
  const std::uint64_t last = std::uint64_t{first} + count - 1;
  if (last + 1 >= std::uint64_t{kMaxRecordNumber} + 2 || std::uint64_t{header_.RecordSize} * last >= kMaxTableBytes + 1)
    Fail(err::kTableFull);
  Fault(TFaultSite::Allocate);
  const std::size_t size = header_.RecordSize;
  const std::uint64_t position = RecordPosition(first);
  const bool encrypted = GetEncrypted();
  std::vector<std::uint8_t> ciphered;
  const std::uint8_t* bytes = records;
  if (encrypted) {
    ciphered.assign(records, records + size * count);
    for (std::uint32_t i = 0; i < count; ++i)
      EncryptBuffer(ciphered.data() + i * size, static_cast<std::int32_t>(size), kDataKeys.key1, kDataKeys.key2);
    bytes = ciphered.data();
  }
  for (std::uint64_t n = first; n <= last; ++n) copies_.Erase(static_cast<std::uint32_t>(n));
  DropScanWindow();
  try {
    WriteAt(*this, position, bytes, static_cast<std::int64_t>(size * count));
  } catch (...) {
    try {
      WriteAt(*this, position, nullptr, 0);
    } catch (...) {
    }
    throw;
  }
  header_.NextPhysicalRecord = static_cast<std::uint32_t>(last + 1);
  header_.LastRecordID = rtl::DecodeFixed32(records + (count - 1) * size + kRecordIDOffset);
  header_modified_ = true;
}

bool TDataFile::GetNextFreeRecord(void* cursor, TRecord*& record) {
  Fault(TFaultSite::Allocate);
  std::uint32_t n = GetNextFreeRecordNumber();
  const std::uint32_t next = header_.NextPhysicalRecord;
  if (n > next) {  // a chain head past the end: drop the chain
    SetNextFreeRecordNumber(0);
    n = next;
  }
  if (!GetRecord(cursor, n, false, false, 1, record)) return false;
  if (n == next) return true;
  if (!record->Deleted()) {
    // The chain led to a record in use: handing it out would overwrite it.
    // Drop the chain and append instead.
    PutRecord(record);
    SetNextFreeRecordNumber(0);
    return GetRecord(cursor, header_.NextPhysicalRecord, false, false, 1, record);
  }
  SetNextFreeRecordNumber(record->NextFree());
  record->Initialize(header_.RecordSize);
  record->Modified = true;
  return true;
}

void TDataFile::SetNextFreeRecord(TRecord* record) {
  if (record->Deleted()) return;  // already on the chain
  record->SetDeleted(true);
  std::uint32_t link = GetNextFreeRecordNumber();
  if (link == header_.NextPhysicalRecord) link = 0;
  record->SetNextFree(link);
  SetNextFreeRecordNumber(record->Number());
}

}  // namespace korvex
