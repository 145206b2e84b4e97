// Damaged tables as users meet them, one table of damage kinds: each file
// cut at its header and page boundaries, header bytes that open refuses
// (each error naming the file at fault), files missing alone and together,
// an index file of another table of the same layout, a zeroed index page, a
// broken BLOB chain and a key collision. For each kind: what opening does
// (an error leaves no byte behind; an index that opens is the records'),
// what verification reports (something, and nothing written), what a repair
// does, and what the table holds when it opens again, against what the
// damage could explain; the independent checker passes every repaired table
// and a second repair finds nothing.
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "platform/runtime/coding.h"
#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"
#include "tests/tables/engine/repair_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;

// The reference's layout (repair_support.h): four definitions, records of
// 57 bytes (flag, number, ID; Name 1+21, Num 1+4, Memo 1+8, Code 1+11),
// 14 records of which 4 and 9 are deleted; record n holds Num n * 10.
constexpr std::size_t kDataStart = 127 + 4 * 768, kRecordSize = 57, kNumAt = 9 + 22, kMemoAt = kNumAt + 5;
constexpr std::size_t kPage = 4096, kBlock = 512;

// One live record as a user sees it: its fields and its BLOB.
struct Row {
  std::string name, code, memo;
  bool operator==(const Row&) const = default;
};
using Rows = std::map<std::int32_t, Row>;  // by Num, the primary key

struct Session {
  Session() {
    session.Timing.InternalSleepMs = 1;
    session.LockWaitTime = 5;
    session.SetPrivateDirectory(scratch.Path());
    session.AddPassword("secret");
  }
  TDataDirectory* Dir(const std::string& path) { return session.OpenDataDirectory("d" + std::to_string(++dirs), path); }
  qvtest::TempDir scratch;
  TDataSession session;
  int dirs = 0;
};

std::unique_ptr<TDataCursor> Cursor(TDataDirectory* dir) {
  auto c = std::make_unique<TDataCursor>(dir);
  c->SetTableName("t");
  c->SetExclusive(true);
  return c;
}

// Every live record in the cursor's current order; a BLOB that cannot be
// read is "!<error>". Raises what the walk raises.
std::vector<std::pair<std::int32_t, Row>> Walk(TDataCursor& c) {
  std::vector<std::pair<std::int32_t, Row>> rows;
  std::vector<std::uint8_t> buffer(c.GetRecordSize());
  c.SetToBegin();
  while (c.GetNextRecord(buffer.data()) == 0) {
    char name[32] = {}, code[32] = {};
    std::int32_t num = 0;
    c.GetField(1, buffer.data(), reinterpret_cast<std::uint8_t*>(name));
    c.GetField(2, buffer.data(), reinterpret_cast<std::uint8_t*>(&num));
    c.GetField(4, buffer.data(), reinterpret_cast<std::uint8_t*>(code));
    std::string memo;
    try {
      std::vector<std::uint8_t> bytes = c.ReadBlobContent(3, buffer.data());
      memo.assign(bytes.begin(), bytes.end());
    } catch (const EKORVEXEngineError& e) {
      memo = "!" + std::to_string(e.ErrorCode()) + " " + e.what();
    }
    rows.push_back({num, Row{name, code, memo}});
    if (rows.size() > 1000) break;
  }
  return rows;
}

// Opens the table and walks it in physical order and by its primary index:
// 0 and the rows, or the error number.
struct Opened {
  int error = 0;
  std::string message;  // of the error
  Rows rows;
  bool index_matches = false;  // the index walk gives the physical walk's records in key order
};
Opened Open(TDataDirectory* dir, bool shared = false) {
  Opened out;
  try {
    auto c = Cursor(dir);
    c->SetExclusive(!shared);
    c->OpenCursor();
    c->SetIndexPos(kPhysicalOrder);
    std::vector<std::pair<std::int32_t, Row>> physical = Walk(*c);
    c->SetIndexPos(0);
    std::vector<std::pair<std::int32_t, Row>> keyed = Walk(*c);
    for (auto& [num, row] : physical) out.rows[num] = row;
    out.index_matches = keyed == std::vector<std::pair<std::int32_t, Row>>(out.rows.begin(), out.rows.end());
    c->CloseCursor();
  } catch (const EKORVEXEngineError& e) {
    out.error = e.ErrorCode();
    out.message = e.what();
  }
  return out;
}

struct Report {
  std::vector<std::string> lines;
  int error = 0;
};
Report Repair(TDataDirectory* dir, bool verify) {
  Report report;
  auto c = Cursor(dir);
  c->SetRepairLogCallback(
      [](void* user, const std::string& line) {
        static_cast<Report*>(user)->lines.push_back(line);
        return true;
      },
      &report);
  try {
    c->RepairTable(verify, false);
  } catch (const EKORVEXEngineError& e) {
    report.error = e.ErrorCode();
    report.lines.push_back(e.what());
  }
  return report;
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += "  " + l + "\n";
  return all;
}

// ---- damage ----------------------------------------------------------------------

std::string Bytes(const std::string& path) { return qvtest::ReadFileBytes(path); }
void Put(const std::string& path, const std::string& bytes) { qvtest::WriteFileBytes(path, bytes); }
void Cut(const std::string& path, std::size_t size) { fs::resize_file(path, size); }

std::size_t RecordAt(int n) { return kDataStart + (n - 1) * kRecordSize; }

// Damage turns record `damaged`'s key into record `into`'s, and leaves
// bytes after its name's terminator that no write makes.
void Collide(const std::string& dat, int damaged, int into) {
  std::string d = Bytes(dat);
  std::memcpy(d.data() + RecordAt(damaged) + kNumAt, d.data() + RecordAt(into) + kNumAt, 5);
  std::memset(d.data() + RecordAt(damaged) + kNumAt - 6, 0x5A, 6);
  Put(dat, d);
}

// The second block of the chain of record n's BLOB takes another signature.
void BreakChain(const std::string& dat, const std::string& blb, int n) {
  const std::string d = Bytes(dat);
  const std::uint32_t first = rtl::DecodeFixed32(reinterpret_cast<const std::uint8_t*>(d.data()) + RecordAt(n) + kMemoAt + 1);
  std::string b = Bytes(blb);
  const std::uint32_t second = rtl::DecodeFixed32(reinterpret_cast<const std::uint8_t*>(b.data()) + first + 4);
  ASSERT_NE(second, 0u);
  b[second + 10] ^= 0x41;
  Put(blb, b);
}

enum Expect : unsigned {
  kRecordsLost = 1,      // the damage took records (a cut data file)
  kUnrepairable = 2,     // the field definitions are gone: a clear error, nothing changed
  kBlobsMayShrink = 4,   // BLOB bytes are gone: a BLOB may come back shorter or empty
  kOpenMaySeeStale = 8,  // an index of the same size: only verification can tell
  kOpenRefusesIndex = 16,  // the index's header and roots tell: 8965 rather than a wrong walk
  kOpenShared = 32,  // the first open is a shared cursor's
};

struct Kind {
  Kind(const char* n, std::function<void(const std::string&)> d, unsigned e = 0, std::set<std::int32_t> l = {})
      : name(n), damage(std::move(d)), expect(e), lost(std::move(l)) {}
  // A fault that open refuses with `error`, naming `file`.
  Kind(const char* n, std::function<void(const std::string&)> d, int error, const char* file, unsigned e = 0)
      : name(n), damage(std::move(d)), expect(e), refused(error), names(file) {}
  const char* name;
  std::function<void(const std::string& folder)> damage;
  unsigned expect;
  std::set<std::int32_t> lost;  // Nums of live records the damage destroys
  int refused = 0;
  const char* names = nullptr;
};

// Header bytes of the index file (its slots at 14, 120 bytes each) and of
// the BLOB file.
constexpr std::size_t kSlot = 120, kSlotsAt = 14, kSystemSlotAt = kSlotsAt + 31 * kSlot;
constexpr std::size_t kKeySizeAt = 31, kUniqueAt = 35, kCompressionAt = 36, kFieldCountAt = 37, kRootAt = 86;
void Patch(const std::string& path, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
  std::string b = Bytes(path);
  for (std::uint8_t v : bytes) b[at++] = static_cast<char>(v);
  Put(path, b);
}
void Patch32(const std::string& path, std::size_t at, std::uint32_t value) {
  Patch(path, at, {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

std::set<std::int32_t> LiveFrom(int first_gone) {
  std::set<std::int32_t> gone;
  for (int n = first_gone; n <= 14; ++n)
    if (n != 4 && n != 9) gone.insert(n * 10);
  return gone;
}

TEST(DamagedTable, EveryKindOpensRefusesCleanlyVerifiesRepairsAndReopens) {
  Session s;
  qvtest::TempDir root;
  const std::string reference = root.Path() + "/reference", other = root.Path() + "/other",
                    same = root.Path() + "/same", encrypted = root.Path() + "/encrypted";
  for (const std::string& f : {reference, other, same, encrypted}) fs::create_directory(f);
  BuildRepairReference(s.Dir(reference));
  ASSERT_EQ(Repair(s.Dir(reference), false).error, 0);
  // Tables of the same layout: one with six more records, one with the
  // same number but other keys.
  BuildRepairReference(s.Dir(other));
  BuildRepairReference(s.Dir(same));
  ASSERT_EQ(Repair(s.Dir(other), false).error, 0);
  ASSERT_EQ(Repair(s.Dir(same), false).error, 0);
  {
    auto c = Cursor(s.Dir(other));
    c->OpenCursor();
    std::vector<std::uint8_t> buffer(c->GetRecordSize());
    for (std::int32_t num = 500; num < 506; ++num) {
      c->InitRecord(buffer.data());
      c->PutField(2, buffer.data(), reinterpret_cast<std::uint8_t*>(&num));
      c->AppendRecord(buffer.data());
    }
    c->CloseCursor();
    auto d = Cursor(s.Dir(same));
    d->OpenCursor();
    d->SetIndexPos(kPhysicalOrder);
    for (std::uint32_t n = 1; n <= 14; ++n) {
      if (n == 4 || n == 9) continue;
      ASSERT_EQ(d->GotoPhysicalRecordNumber(n), 0);
      ASSERT_EQ(d->GetCurrentRecord(buffer.data(), true), 0);
      std::int32_t num = 1000 - static_cast<std::int32_t>(n);
      d->PutField(2, buffer.data(), reinterpret_cast<std::uint8_t*>(&num));
      d->ModifyRecord(buffer.data(), true);
    }
    d->CloseCursor();
  }
  // An encrypted table of the same fields.
  {
    auto c = Cursor(s.Dir(encrypted));
    TTableCreation creation;
    creation.Settings.Encrypted = true;
    creation.Settings.Password = "secret";
    TIndexDefinition primary;
    primary.FieldCount = 1;
    primary.Fields[0] = 2;
    creation.Indexes.push_back(primary);
    std::vector<TFieldDefinition> fields{Field("Name", dtString, 20), Field("Num", dtInteger),
                                         Field("Memo", dtBlob, 0, 1), Field("Code", dtString, 10)};
    c->CreateTable(creation, fields);
    c->OpenCursor();
    std::vector<std::uint8_t> buffer(c->GetRecordSize());
    for (std::int32_t num = 1; num <= 5; ++num) {
      c->InitRecord(buffer.data());
      c->PutField(2, buffer.data(), reinterpret_cast<std::uint8_t*>(&num));
      c->AppendRecord(buffer.data());
    }
    c->CloseCursor();
  }
  const Opened clean = Open(s.Dir(reference));
  ASSERT_EQ(clean.error, 0);
  ASSERT_EQ(clean.rows.size(), 12u);
  ASSERT_TRUE(clean.index_matches);
  const Opened clean_encrypted = Open(s.Dir(encrypted));
  ASSERT_EQ(clean_encrypted.error, 0);
  ASSERT_EQ(clean_encrypted.rows.size(), 5u);
  ASSERT_EQ(fs::file_size(reference + "/t.IDX"), 4 * kPage);  // header, two trees and the system index

  auto dat = [](const std::string& f) { return f + "/t.DAT"; };
  auto idx = [](const std::string& f) { return f + "/t.IDX"; };
  auto blb = [](const std::string& f) { return f + "/t.BLB"; };
  auto cut = [](std::function<std::string(const std::string&)> file, std::size_t size) {
    return [=](const std::string& f) { Cut(file(f), size); };
  };
  const std::vector<Kind> kinds = {
      {"dat cut to nothing", cut(dat, 0), kRecordsLost | kUnrepairable, LiveFrom(1)},
      {"dat cut inside its header", cut(dat, 60), kRecordsLost | kUnrepairable, LiveFrom(1)},
      {"dat cut after its header", cut(dat, 127), kRecordsLost | kUnrepairable, LiveFrom(1)},
      {"dat cut inside the definitions", cut(dat, 127 + 2 * 768 + 100), kRecordsLost | kUnrepairable, LiveFrom(1)},
      {"dat cut in the definitions' reserved tail", cut(dat, kDataStart - 300), kRecordsLost, LiveFrom(1)},
      {"dat cut at its data start", cut(dat, kDataStart), kRecordsLost, LiveFrom(1)},
      {"dat cut inside its last record", cut(dat, RecordAt(14) + 30), kRecordsLost, LiveFrom(14)},
      {"dat cut inside record 6", cut(dat, RecordAt(6) + 20), kRecordsLost, LiveFrom(6)},
      {"dat cut after record 7", cut(dat, RecordAt(8)), kRecordsLost, LiveFrom(8)},
      {"idx cut to nothing", cut(idx, 0)},
      {"idx cut inside its header", cut(idx, 2000)},
      {"idx cut after its header", cut(idx, kPage), kOpenRefusesIndex},
      {"idx cut after its first page", cut(idx, 2 * kPage), kOpenRefusesIndex},
      {"idx cut inside a page", cut(idx, 3 * kPage + 100), kOpenRefusesIndex},
      {"blb cut to nothing", cut(blb, 0), kBlobsMayShrink},
      {"blb cut inside its header", cut(blb, 200), kBlobsMayShrink},
      {"blb cut after its header", cut(blb, kBlock), kBlobsMayShrink},
      {"blb cut after its sixth block", cut(blb, kBlock + 6 * kBlock), kBlobsMayShrink},
      {"blb cut inside a block", cut(blb, kBlock + 9 * kBlock + 100), kBlobsMayShrink},
      {"idx missing", [&](const std::string& f) { fs::remove(idx(f)); }},
      {"blb missing", [&](const std::string& f) { fs::remove(blb(f)); }, err::kInvalidFileName, "t.BLB", kBlobsMayShrink},
      {"idx and blb missing", [&](const std::string& f) { fs::remove(idx(f)), fs::remove(blb(f)); }, err::kInvalidFileName, "t.BLB", kBlobsMayShrink},
      {"idx of a table with more records", [&](const std::string& f) { fs::copy_file(idx(other), idx(f), fs::copy_options::overwrite_existing); }, kOpenRefusesIndex},
      {"idx of a table with other keys", [&](const std::string& f) { fs::copy_file(idx(same), idx(f), fs::copy_options::overwrite_existing); }, kOpenMaySeeStale},
      {"idx page zeroed", [&](const std::string& f) {
         std::string b = Bytes(idx(f));
         std::memset(b.data() + kPage, 0, kPage);
         Put(idx(f), b);
       }, kOpenRefusesIndex},
      {"blob chain broken", [&](const std::string& f) { BreakChain(dat(f), blb(f), 5); }, kBlobsMayShrink},
      {"key of record 2 turned into record 3's", [&](const std::string& f) { Collide(dat(f), 2, 3); }, kOpenMaySeeStale, {20}},
      {"key of record 5 turned into record 3's", [&](const std::string& f) { Collide(dat(f), 5, 3); }, kOpenMaySeeStale, {50}},
      // Header faults that open refuses: the error names the file at fault,
      // verification reports each and a repair says what it mends.
      {"idx version byte 3", [&](const std::string& f) { Patch(idx(f), 8, {3}); }, err::kWrongVersion, "t.IDX"},
      {"idx version byte 5", [&](const std::string& f) { Patch(idx(f), 8, {5}); }, err::kWrongVersion, "t.IDX"},
      {"blb version byte 3", [&](const std::string& f) { Patch(blb(f), 8, {3}); }, err::kWrongVersion, "t.BLB"},
      {"idx primary key field count 2", [&](const std::string& f) { Patch(idx(f), kSlotsAt + kFieldCountAt, {2}); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx primary key field count 17", [&](const std::string& f) { Patch(idx(f), kSlotsAt + kFieldCountAt, {17}); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx secondary key field count 0", [&](const std::string& f) { Patch(idx(f), kSlotsAt + kSlot + kFieldCountAt, {0}); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx primary key size 9", [&](const std::string& f) { Patch(idx(f), kSlotsAt + kKeySizeAt, {9, 0}); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx primary not unique", [&](const std::string& f) { Patch(idx(f), kSlotsAt + kUniqueAt, {0}); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx secondary compression 7", [&](const std::string& f) { Patch(idx(f), kSlotsAt + kSlot + kCompressionAt, {7}); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx system index key size 6", [&](const std::string& f) { Patch(idx(f), kSystemSlotAt + kKeySizeAt, {6, 0}); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx primary root inside a page", [&](const std::string& f) { Patch32(idx(f), kSlotsAt + kRootAt, kPage + 100); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx index count 31", [&](const std::string& f) { Patch(idx(f), 13, {31}); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx file size not whole pages", [&](const std::string& f) { Patch32(idx(f), 9, 4 * kPage + 100); }, err::kHeaderCorrupt, "t.IDX"},
      {"idx file size below its header", [&](const std::string& f) { Patch32(idx(f), 9, 1000); }, err::kHeaderCorrupt, "t.IDX"},
      {"blb file size not whole blocks", [&](const std::string& f) {
         Patch32(blb(f), 13, static_cast<std::uint32_t>(fs::file_size(blb(f)) + 100));
       }, err::kHeaderCorrupt, "t.BLB"},
      {"blb free block inside a block", [&](const std::string& f) { Patch32(blb(f), 9, kBlock + 1); }, err::kHeaderCorrupt, "t.BLB"},
      {"encrypted: idx missing", [&](const std::string& f) { fs::remove(idx(f)); }},
      {"idx missing, opened shared", [&](const std::string& f) { fs::remove(idx(f)); }, kOpenShared},
      {"encrypted: idx missing, opened shared", [&](const std::string& f) { fs::remove(idx(f)); }, kOpenShared},
      {"encrypted: idx and blb missing", [&](const std::string& f) { fs::remove(idx(f)), fs::remove(blb(f)); }, err::kInvalidFileName, "t.BLB", kBlobsMayShrink},
      {"encrypted: plain idx beside it", [&](const std::string& f) {
         fs::copy_file(idx(reference), idx(f), fs::copy_options::overwrite_existing);
       }, err::kHeaderCorrupt, "t.IDX"},
  };

  std::ostringstream summary;
  int number = 0;
  // One kind at a time: a failed assertion ends only its kind.
  auto examine = [&](const Kind& kind) {
    SCOPED_TRACE(kind.name);
    const bool enc = std::string(kind.name).rfind("encrypted", 0) == 0;
    const std::string folder = root.Path() + "/" + std::to_string(++number);
    fs::create_directory(folder);
    const std::string source = enc ? encrypted : reference;
    for (const char* ext : {"/t.DAT", "/t.IDX", "/t.BLB"}) fs::copy_file(source + ext, folder + ext);
    kind.damage(folder);
    const Opened& original = enc ? clean_encrypted : clean;
    Rows expected = original.rows;
    for (std::int32_t num : kind.lost) expected.erase(num);

    // Verification reports the damage (what open refuses too), and writes
    // nothing.
    const auto damaged = FolderFiles(folder);
    const Report verified = Repair(s.Dir(folder), true);
    EXPECT_TRUE(FolderFiles(folder) == damaged) << "verification changed a file";
    if (kind.expect & kUnrepairable) {
      EXPECT_EQ(verified.error, err::kHeaderCorrupt) << Lines(verified.lines);
    } else {
      EXPECT_EQ(verified.error, 0) << Lines(verified.lines);
      EXPECT_GT(verified.lines.size(), 2u) << "nothing reported";
    }
    // Opening: an error leaves the files as they were; a table that opens
    // walks its index as its records.
    const Opened opened = Open(s.Dir(folder), kind.expect & kOpenShared);
    if (kind.expect & kOpenShared) {
      // A missing index file is made anew from the records on open, as by
      // an exclusive cursor.
      EXPECT_EQ(opened.error, 0) << opened.message;
      EXPECT_EQ(opened.rows, expected);
    }
    if (kind.refused) {
      EXPECT_EQ(opened.error, kind.refused) << opened.message;
      // The file's name, alone or at the end of its path.
      EXPECT_NE(opened.message.find(std::string(kind.names) + "'"), std::string::npos) << opened.message;
    }
    if (kind.expect & kOpenRefusesIndex) {
      EXPECT_EQ(opened.error, err::kIndexPagesCorrupt);
    }
    if (opened.error != 0) {
      EXPECT_TRUE(FolderFiles(folder) == damaged) << "a failed open left bytes behind";
    } else if (!(kind.expect & kOpenMaySeeStale)) {
      EXPECT_TRUE(opened.index_matches) << "an index that is not the records' was walked";
    }
    if (std::string(kind.name) == "encrypted: plain idx beside it") {
      // Said once, not as a line per definition of no meaning.
      ASSERT_EQ(verified.lines.size(), 3u) << Lines(verified.lines);
      EXPECT_EQ(verified.lines[1], "Index file does not belong to the table, error not fixed");
    }
    if (std::string(kind.name) == "blob chain broken") {
      // On a table only this cursor uses: the BLOB is corrupt, with the
      // table's name, not changed by another user.
      ASSERT_EQ(opened.error, 0);
      EXPECT_EQ(opened.rows.at(50).memo.rfind("!8963 ", 0), 0u) << opened.rows.at(50).memo;
      EXPECT_NE(opened.rows.at(50).memo.find("'t.DAT'"), std::string::npos) << opened.rows.at(50).memo;
    }
    const auto before = FolderFiles(folder);

    const Report repaired = Repair(s.Dir(folder), false);
    const Opened reopened = Open(s.Dir(folder));
    summary << kind.name << ": open " << opened.error << ", verify " << verified.lines.size() << " lines"
            << (verified.error ? " error " + std::to_string(verified.error) : std::string()) << ", repair "
            << (repaired.error ? "error " + std::to_string(repaired.error) : std::to_string(repaired.lines.size()) + " lines")
            << ", reopen " << reopened.error << ", kept " << reopened.rows.size() << " of " << original.rows.size() << "\n";
    if (kind.expect & kUnrepairable) {
      EXPECT_EQ(repaired.error, err::kHeaderCorrupt) << Lines(repaired.lines);
      EXPECT_NE(repaired.lines.back().find("t.DAT"), std::string::npos) << "the error names the file";
      EXPECT_TRUE(FolderFiles(folder) == before) << "a refused repair changed a file";
      return;
    }
    ASSERT_EQ(repaired.error, 0) << Lines(repaired.lines);
    if (kind.refused) {
      EXPECT_GT(repaired.lines.size(), 2u) << "a repair mended damage and said nothing";
    }
    // The table opens again and holds every record the damage left, each
    // as it was; a BLOB whose blocks the damage took comes back shorter.
    ASSERT_EQ(reopened.error, 0) << Lines(repaired.lines);
    EXPECT_TRUE(reopened.index_matches);
    EXPECT_EQ(reopened.rows.size(), expected.size()) << Lines(repaired.lines);
    for (const auto& [num, row] : expected) {
      auto it = reopened.rows.find(num);
      if (it == reopened.rows.end()) {
        ADD_FAILURE() << "record " << num << " lost\n" << Lines(repaired.lines);
        continue;
      }
      EXPECT_EQ(it->second.name, row.name) << num;
      EXPECT_EQ(it->second.code, row.code) << num;
      if (kind.expect & kBlobsMayShrink) {
        EXPECT_EQ(row.memo.compare(0, it->second.memo.size(), it->second.memo), 0) << num << " BLOB changed";
      } else {
        EXPECT_EQ(it->second.memo, row.memo) << num;
      }
    }
    if (!enc) {
      CheckResult check = RunTableCheck(dat(folder));
      EXPECT_EQ(check.status, 0) << check.output << Lines(repaired.lines);
    }
    const Report again = Repair(s.Dir(folder), false);
    EXPECT_EQ(again.lines.size(), 2u) << Lines(again.lines);
  };
  for (const Kind& kind : kinds) examine(kind);
  std::printf("%s", summary.str().c_str());
}

}  // namespace
}  // namespace korvex::testing
