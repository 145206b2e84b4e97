#include "tables/engine/files/data_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "platform/runtime/coding.h"
#include "platform/runtime/dates.h"
#include "support/hex.h"
#include "tables/engine/base/cipher_keys.h"
#include "tables/engine/base/field_bytes.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/key_bytes.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex {
namespace {

using testing::AppendRecords;
using testing::AssignLayout;
using testing::CreateTable;
using testing::ExpectClean;
using testing::FakeHost;
using testing::Field;
using testing::PatchFile;
using testing::RaisedNumber;
using testing::RunTableCheck;

using qvtest::Hex;

// The checker's text for a value, from the bytes the test wrote.
std::string ValueText(const TFieldDefinition& f, const std::uint8_t* v) {
  char text[64];
  switch (f.DataType) {
    case dtString: return Hex(v, strnlen(reinterpret_cast<const char*>(v), f.PhysicalSize));
    case dtDate: case dtInteger: case dtTime: case 13:
      return std::to_string(static_cast<std::int32_t>(rtl::DecodeFixed32(v)));
    case dtFloat: case dtTimeStamp:
      std::snprintf(text, sizeof text, "%.17g", rtl::DecodeDouble(v));
      return text;
    case dtBCD: return std::to_string(static_cast<std::int64_t>(rtl::DecodeFixed64(v)));
    case dtSmallInt: return std::to_string(static_cast<std::int16_t>(rtl::DecodeFixed16(v)));
    case dtBoolean: case dtWord: return std::to_string(rtl::DecodeFixed16(v));
    default: return Hex(v, f.PhysicalSize);
  }
}

void FillValue(const TFieldDefinition& f, std::uint8_t* v, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < f.PhysicalSize; ++i) v[i] = static_cast<std::uint8_t>(byte(rng));
  if (f.DataType == dtString) {
    std::size_t length = std::uniform_int_distribution<std::size_t>(0, f.Size)(rng);
    for (std::size_t i = 0; i < f.PhysicalSize; ++i)
      v[i] = i < length ? static_cast<std::uint8_t>(std::uniform_int_distribution<int>(32, 254)(rng)) : 0;
  } else if (f.DataType == dtFloat || f.DataType == dtTimeStamp) {
    rtl::EncodeDouble(v, std::uniform_real_distribution<double>(-1e12, 1e12)(rng));
  } else if (f.DataType == dtBlob) {
    rtl::EncodeFixed32(v, 0);  // no data: the BLOB file is empty
  }
}

// Writes an empty BLOB file beside the table (a 512-byte header).
void WriteEmptyBlobFile(const std::string& dat, bool encrypted) {
  std::uint8_t header[512] = {};
  header[8] = 4;
  rtl::EncodeFixed32(header + 13, 512);
  if (encrypted) EncryptBuffer(header, 512, kIndexBlobKeys.key1, kIndexBlobKeys.key2);
  std::string path = dat.substr(0, dat.size() - 4) + ".BLB";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(header), 512);
}

// Random field lists of every type written through the engine; the checker
// recomputes the layout on its own and reads back every value.
TEST(DataFileRoundTrip, RandomFieldListsReadBackByTheChecker) {
  const std::uint8_t kTypes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int seed = 1; seed <= 16; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    qvtest::TempDir dir;
    FakeHost host;
    const bool encrypted = seed % 4 == 0;
    std::vector<TFieldDefinition> fields;
    int count = std::uniform_int_distribution<int>(0, 40)(rng);
    bool have_autoinc = false;
    for (int i = 0; i < count; ++i) {
      std::uint8_t type = kTypes[std::uniform_int_distribution<int>(0, 14)(rng)];
      TFieldDefinition f = Field("F" + std::to_string(i), type);
      if (type == dtString || type == dtBytes || type == dtVarBytes)
        f.Size = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 250)(rng));
      if (type == dtBCD) f.Decimals = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 4)(rng));
      if (type == dtInteger && !have_autoinc && rng() % 3 == 0) f.SubType = fstAutoInc, have_autoinc = true;
      if (rng() % 9 == 0) f.Calculated = 1;
      fields.push_back(f);
    }
    TDataFileSettings settings;
    settings.Encrypted = encrypted;
    settings.Password = "secret";
    settings.Description = "round trip";
    std::string path = dir.File("t.DAT");
    auto file = CreateTable(host, path, fields, settings);
    fields = file->Fields();
    WriteEmptyBlobFile(path, encrypted);

    std::vector<std::vector<std::uint8_t>> written;
    int records = std::uniform_int_distribution<int>(0, 30)(rng);
    for (int n = 1; n <= records; ++n) {
      TRecord* r = nullptr;
      ASSERT_TRUE(file->GetNextFreeRecord(nullptr, r));
      r->SetRecordID(file->GetNextFreeRecordID());
      for (const TFieldDefinition& f : fields) {
        if (!f.TakesRecordBytes()) continue;
        r->Data[f.Offset] = static_cast<std::uint8_t>(rng() % 2);
        FillValue(f, r->Data.data() + f.Offset + 1, rng);
      }
      r->Modified = true;
      written.push_back(r->Data);
      file->PutRecord(r);
    }
    // A few deletions: their bytes 1..4 become free links.
    std::set<std::uint32_t> deleted;
    for (int n = 1; n <= records; ++n) {
      if (rng() % 5 != 0) continue;
      TRecord* r = nullptr;
      ASSERT_TRUE(file->GetRecord(nullptr, n, false, false, 1, r));
      file->SetNextFreeRecord(r);
      written[n - 1] = r->Data;
      deleted.insert(n);
      file->PutRecord(r);
    }
    std::string options = encrypted ? testing::EngineKeysOption() : "";
    ExpectClean(*file, options);

    std::string expected;
    std::uint64_t start = 127 + 768 * fields.size();
    expected += "L " + std::to_string(file->GetRecordSize()) + " " + std::to_string(start) + " " +
                std::to_string(records) + "\n";
    for (const TFieldDefinition& f : fields)
      expected += "F " + std::to_string(f.FieldNumber) + " " + std::to_string(f.Offset) + " " +
                  std::to_string(f.PhysicalSize) + "\n";
    for (int n = 1; n <= records; ++n) {
      const std::vector<std::uint8_t>& d = written[n - 1];
      expected += "R " + std::to_string(n) + " " + std::to_string(d[0]) + " " +
                  std::to_string(rtl::DecodeFixed32(d.data() + 5)) + "\n";
      if (deleted.count(n)) continue;
      for (const TFieldDefinition& f : fields) {
        if (!f.TakesRecordBytes()) continue;
        const std::uint8_t* v = d.data() + f.Offset + 1;
        if (f.DataType == dtBlob)
          expected += "B " + std::to_string(f.FieldNumber) + " 0 " + std::to_string(rtl::DecodeFixed32(v + 4)) + " \n";
        else
          expected += "V " + std::to_string(f.FieldNumber) + " " + std::to_string(d[f.Offset]) + " " +
                      ValueText(f, v) + "\n";
      }
    }
    testing::CheckResult dump = RunTableCheck(path, options + " --dump");
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.output, expected);

    // The engine reads back what it wrote, from a fresh open.
    file.reset();
    TDataFile again(&host);
    again.SetFileName(path);
    again.OpenFile();
    again.CheckHeader();
    EXPECT_EQ(again.GetPassword(), encrypted ? "secret" : "");
    EXPECT_EQ(again.GetDescription(), "round trip");
    for (int n = 1; n <= records; ++n) {
      TRecord* r = nullptr;
      ASSERT_TRUE(again.GetRecord(nullptr, n, true, false, 1, r));
      std::vector<std::uint8_t> want = written[n - 1];
      if (want[0] == 0) rtl::EncodeFixed32(want.data() + 1, n);
      EXPECT_EQ(r->Data, want) << "record " << n;
      again.PutRecord(r);
    }
  }
}

// ---- free chain -----------------------------------------------------------

class FreeChain : public ::testing::TestWithParam<bool> {};

// Random appends and deletes against a model: with a primary index the most
// recently deleted record is reused first; without one nothing is reused.
TEST_P(FreeChain, RandomAppendsAndDeletesFollowTheModel) {
  const bool primary = GetParam();
  qvtest::TempDir dir;
  FakeHost host;
  host.primary_index = primary;
  auto file = CreateTable(host, dir.File("f.DAT"), {Field("Name", dtString, 10), Field("N", dtInteger)});
  std::map<std::uint32_t, std::uint32_t> live;  // record -> payload
  std::vector<std::uint32_t> chain;             // deleted, most recent last
  std::uint32_t next = 1;
  std::mt19937 rng(7);

  auto append = [&](std::uint32_t payload) {
    std::uint32_t expected = primary && !chain.empty() ? chain.back() : next;
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetNextFreeRecord(nullptr, r));
    ASSERT_EQ(r->Number(), expected);
    if (expected == next) ++next;
    else chain.pop_back();
    rtl::EncodeFixed32(r->Data.data() + 21, payload);
    r->Modified = true;
    file->PutRecord(r);
    live[expected] = payload;
  };
  auto remove = [&](std::uint32_t n) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetRecord(nullptr, n, false, false, 1, r));
    file->SetNextFreeRecord(r);
    file->PutRecord(r);
    live.erase(n);
    chain.push_back(n);
  };

  for (int i = 0; i < 10; ++i) append(i);
  remove(5);
  remove(9);
  append(100);  // 9
  append(101);  // 5
  append(102);  // 11
  EXPECT_EQ(live.count(primary ? 9 : 13), 1u);

  for (int batch = 0; batch < 20; ++batch) {
    for (int step = 0; step < 50; ++step) {
      if (!live.empty() && rng() % 3 == 0) {
        auto it = live.begin();
        std::advance(it, rng() % live.size());
        remove(it->first);
      } else {
        append(static_cast<std::uint32_t>(rng()));
      }
    }
    ExpectClean(*file);
  }
  for (const auto& [n, payload] : live) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetRecord(nullptr, n, false, false, 1, r));
    EXPECT_FALSE(r->Deleted());
    EXPECT_EQ(rtl::DecodeFixed32(r->Data.data() + 21), payload);
    file->PutRecord(r);
  }
}

INSTANTIATE_TEST_SUITE_P(PrimaryIndex, FreeChain, ::testing::Bool());

// A chain that leads to a record in use, past the end, or round in a
// circle is dropped: the record is appended, nothing live is handed out.
TEST(FreeChainFaults, CorruptChainsAppendInsteadOfOverwriting) {
  struct Case {
    const char* name;
    std::uint32_t head;
  } cases[] = {{"live record", 3}, {"past the end", 99}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qvtest::TempDir dir;
    FakeHost host;
    auto file = CreateTable(host, dir.File("c.DAT"), {Field("N", dtInteger)});
    AppendRecords(*file, 5, [](TRecord* r, int i) { rtl::EncodeFixed32(r->Data.data() + 10, 1000 + i); });
    file->SetNextFreeRecordNumber(c.head);
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetNextFreeRecord(nullptr, r));
    EXPECT_EQ(r->Number(), 6u);
    EXPECT_EQ(file->GetHeader().FirstFreeRecord, 0u);
    file->PutRecord(r);
    ASSERT_TRUE(file->GetRecord(nullptr, 3, false, false, 1, r));
    EXPECT_EQ(rtl::DecodeFixed32(r->Data.data() + 10), 1002u);
    file->PutRecord(r);
    ExpectClean(*file);
  }
  // A circle of deleted records: 2 -> 4 -> 2.
  qvtest::TempDir dir;
  FakeHost host;
  auto file = CreateTable(host, dir.File("c.DAT"), {Field("N", dtInteger)});
  AppendRecords(*file, 5);
  for (std::uint32_t n : {2u, 4u}) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetRecord(nullptr, n, false, false, 1, r));
    file->SetNextFreeRecord(r);
    r->SetNextFree(n == 2 ? 4 : 2);
    file->PutRecord(r);
  }
  std::vector<std::uint32_t> handed;
  for (int i = 0; i < 4; ++i) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetNextFreeRecord(nullptr, r));
    handed.push_back(r->Number());
    file->PutRecord(r);
  }
  EXPECT_EQ(handed, (std::vector<std::uint32_t>{4, 2, 6, 7}));
  ExpectClean(*file);
}

// ---- record cache ---------------------------------------------------------

// 260 strings of 250 and 5 bytes make a record of exactly 65535 bytes.
std::vector<TFieldDefinition> LargestRecord() {
  std::vector<TFieldDefinition> fields;
  for (int i = 0; i < 260; ++i) fields.push_back(Field("S" + std::to_string(i), dtString, 250));
  fields.push_back(Field("B", dtBytes, 5));
  return fields;
}

void Stamp(TRecord* r, std::uint32_t value) {
  rtl::EncodeFixed32(r->Data.data() + 10, value);
  rtl::EncodeFixed32(r->Data.data() + 65530, value);
  r->Modified = true;
}
std::uint32_t StampOf(const TRecord* r) { return rtl::DecodeFixed32(r->Data.data() + 65530); }

TEST(RecordCache, LargestRecordsEvictFlushAndGrowOnlyWhileWritesAreHeld) {
  qvtest::TempDir dir;
  FakeHost host;
  auto file = CreateTable(host, dir.File("big.DAT"), LargestRecord());
  ASSERT_EQ(file->GetRecordSize(), 65535u);
  EXPECT_EQ(file->CacheCapacity(), 2u);
  EXPECT_EQ(file->ReadAheadLimit(), 1u);
  const std::uint64_t start = file->DataStart();

  // Appends beyond the capacity evict, and so write, the older records.
  for (std::uint32_t n = 1; n <= 6; ++n) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetNextFreeRecord(nullptr, r));
    Stamp(r, n * 11);
    file->PutRecord(r);
    EXPECT_LE(file->CachedRecords(), file->CacheCapacity());
  }
  EXPECT_GE(static_cast<std::uint64_t>(file->GetSize()), start + 4 * 65535ull);
  // Reads in and out of order.
  for (std::uint32_t n : {1u, 2u, 6u, 3u, 5u, 4u, 1u, 6u}) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetRecord(nullptr, n, true, false, 1, r));
    EXPECT_EQ(StampOf(r), n * 11);
    file->PutRecord(r);
    EXPECT_LE(file->CachedRecords(), file->CacheCapacity());
  }
  // Modify 1, 2, 4: two runs of consecutive records.
  file->FlushRecordBuffers(false);
  std::uint32_t runs_before = file->Statistics().WriteRuns;
  host.writes_held = true;
  for (std::uint32_t n : {1u, 2u, 4u}) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetRecord(nullptr, n, false, false, 1, r));
    Stamp(r, n * 13);
    file->PutRecord(r);
  }
  EXPECT_EQ(file->Statistics().WriteRuns, runs_before);
  host.writes_held = false;
  file->FlushRecordBuffers(false);
  EXPECT_EQ(file->Statistics().WriteRuns, runs_before + 2);

  // In a transaction the cache grows by 255 and the file is untouched.
  const std::int64_t size = file->GetSize();
  host.writes_held = true;
  for (std::uint32_t i = 0; i < 300; ++i) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetNextFreeRecord(nullptr, r));
    Stamp(r, 7000 + i);
    file->PutRecord(r);
  }
  EXPECT_EQ(file->CacheCapacity(), 2u + 2 * 255u);
  EXPECT_EQ(file->CachedRecords(), 300u);  // the two unmodified ones were evicted
  EXPECT_EQ(file->GetSize(), size);
  host.writes_held = false;
  std::uint32_t runs = file->Statistics().WriteRuns;
  file->FlushRecordBuffers(false);
  EXPECT_EQ(file->Statistics().WriteRuns, runs + 1);  // records 7..306 in one run
  TRecord* r = nullptr;
  ASSERT_TRUE(file->GetRecord(nullptr, 1, false, false, 1, r));
  file->PutRecord(r);
  EXPECT_LE(file->CachedRecords(), file->CacheCapacity());
  EXPECT_EQ(file->CacheCapacity(), 2u);
  ExpectClean(*file);
  for (std::uint32_t n : {306u, 7u, 4u, 3u}) {
    ASSERT_TRUE(file->GetRecord(nullptr, n, false, false, 1, r));
    EXPECT_EQ(StampOf(r), n >= 7 ? 7000 + n - 7 : n == 4 ? 52u : 33u);
    file->PutRecord(r);
  }
}

// Read-ahead windows: a record read ahead comes from the cache; a change
// found by the read lock gives up; records in use are never evicted.
TEST(RecordCache, ReadAheadChangeDetectionAndRecordsInUse) {
  qvtest::TempDir dir;
  FakeHost host;
  auto file = CreateTable(host, dir.File("r.DAT"), {Field("N", dtInteger)});
  AppendRecords(*file, 100, [](TRecord* r, int i) { rtl::EncodeFixed32(r->Data.data() + 10, 500 + i); });
  file->FlushRecordBuffers(false);
  file->FreeRecordBuffers();
  TRecord* r = nullptr;
  host.report_changes = true;
  EXPECT_FALSE(file->GetRecord(nullptr, 50, true, false, 1, r));
  EXPECT_EQ(r, nullptr);
  host.read_ahead = 10;
  ASSERT_TRUE(file->GetRecord(nullptr, 50, true, true, -1, r));  // records 41..50
  file->PutRecord(r);
  const auto misses = file->Statistics().CacheMisses;
  for (std::uint32_t n = 41; n <= 50; ++n) {
    ASSERT_TRUE(file->GetRecord(nullptr, n, true, true, 1, r));
    EXPECT_EQ(rtl::DecodeFixed32(r->Data.data() + 10), 499 + n);
    file->PutRecord(r);
  }
  EXPECT_EQ(file->Statistics().CacheMisses, misses);
  // A window read for records in order leaves no clean copies (a walk would
  // fill the budget with records it passes once); a record read here and
  // there, in a file the copies can hold whole, brings its window along as
  // copies, itself too (a larger file's are read alone: below).
  EXPECT_EQ(file->CopiedRecords(), 0u);
  host.read_ahead = 1;
  ASSERT_TRUE(file->GetRecord(nullptr, 80, true, true, 1, r));
  file->PutRecord(r);
  EXPECT_EQ(file->CopiedRecords(), 90u);  // all but the ten cached
  EXPECT_EQ(rtl::DecodeFixed32(r->Data.data() + 10), 579u);
  const auto reads = file->Statistics().BulkReads;
  for (std::uint32_t n : {3u, 99u, 60u}) {
    ASSERT_TRUE(file->GetRecord(nullptr, n, true, true, 1, r));
    EXPECT_EQ(rtl::DecodeFixed32(r->Data.data() + 10), 499 + n);
    file->PutRecord(r);
  }
  EXPECT_EQ(file->Statistics().BulkReads, reads);
  EXPECT_EQ(RaisedNumber([&] { file->GetRecord(nullptr, 0, false, false, 1, r); }), 8962);
  EXPECT_EQ(RaisedNumber([&] { file->GetRecord(nullptr, 500, false, false, 1, r); }), 8962);

  // Two records of the largest size held: a third cannot find a slot.
  auto big = CreateTable(host, dir.File("big.DAT"), LargestRecord());
  TRecord* held[2];
  for (TRecord*& h : held) ASSERT_TRUE(big->GetNextFreeRecord(nullptr, h));
  EXPECT_EQ(RaisedNumber([&] { big->GetNextFreeRecord(nullptr, r); }), 8962);
  for (TRecord* h : held) big->PutRecord(h);
  ExpectClean(*file);
  ExpectClean(*big);
}

// A flush keeps no clean copy of an appended record (a run of appends
// would push out the copies of records read here and there), while a copy
// a read made follows the file through a write; every record reads back
// its bytes. Field copies of every size and offset give memcpy's bytes.
TEST(RecordCache, AppendedRecordsLeaveNoCopiesAndFieldCopiesMatchMemcpy) {
  qvtest::TempDir dir;
  FakeHost host;
  auto file = CreateTable(host, dir.File("a.DAT"), {Field("N", dtInteger)});
  auto value = [](TRecord* r) { return rtl::DecodeFixed32(r->Data.data() + 10); };
  AppendRecords(*file, 100, [](TRecord* r, int i) { rtl::EncodeFixed32(r->Data.data() + 10, 500 + i); });
  file->FlushRecordBuffers(false);
  EXPECT_EQ(file->CopiedRecords(), 0u);
  file->FreeRecordBuffers();
  host.read_ahead = 1;
  TRecord* r = nullptr;
  ASSERT_TRUE(file->GetRecord(nullptr, 80, true, true, 1, r));  // its window becomes copies
  rtl::EncodeFixed32(r->Data.data() + 10, 7);
  r->Modified = true;
  file->PutRecord(r);
  const std::size_t copied = file->CopiedRecords();
  EXPECT_GT(copied, 0u);
  AppendRecords(*file, 300, [](TRecord* r, int i) { rtl::EncodeFixed32(r->Data.data() + 10, 2000 + i); });
  file->FlushRecordBuffers(false);
  EXPECT_EQ(file->CopiedRecords(), copied);
  for (std::uint32_t n : {80u, 1u, 100u, 101u, 250u, 400u}) {
    ASSERT_TRUE(file->GetRecord(nullptr, n, true, true, 1, r));
    EXPECT_EQ(value(r), n == 80 ? 7u : n <= 100 ? 499 + n : 2000 + n - 101) << n;
    file->PutRecord(r);
  }
  ExpectClean(*file);

  std::vector<std::uint8_t> from(300), to(300), want(300);
  for (std::size_t i = 0; i < from.size(); ++i) from[i] = static_cast<std::uint8_t>(i * 31 + 7);
  for (std::size_t size = 0; size <= 256; ++size)
    for (std::size_t at : {0u, 1u, 3u, 7u, 13u}) {
      std::fill(to.begin(), to.end(), 0xEE);
      want = to;
      std::memcpy(want.data() + at, from.data() + 40 - at, size);
      CopyFieldBytes(to.data() + at, from.data() + 40 - at, size);
      ASSERT_EQ(to, want) << size << " at " << at;
    }
}

// Records met out of the file's order are read alone (one read each, no
// window); each keeps a clean copy while the copies can hold half the file,
// none past that, and either way every read gives the record's bytes.
// Records of 64 KB: the copies hold 256.
TEST(RecordCache, RecordsOutOfOrderAreReadAloneAndCopiedOnlyWhileCopiesPay) {
  struct Case {
    std::uint32_t records;
    bool copied;
  };
  for (const Case& k : {Case{300, true}, Case{512, true}, Case{513, false}, Case{700, false}}) {
    SCOPED_TRACE(k.records);
    qvtest::TempDir dir;
    FakeHost host;
    auto file = CreateTable(host, dir.File("big.DAT"), LargestRecord());
    AppendRecords(*file, static_cast<int>(k.records), [](TRecord* r, int i) { Stamp(r, 9000 + i); });
    file->FlushRecordBuffers(false);
    file->FreeRecordBuffers();
    host.read_ahead = 1;
    // Every record once, in an order far from the file's, then the last
    // hundred read again.
    std::vector<std::uint32_t> order;
    for (std::uint32_t i = 0; i < k.records; ++i) order.push_back(1 + (i * 7919u) % k.records);
    for (std::uint32_t i = k.records - 100; i < k.records; ++i) order.push_back(order[i]);
    std::uint32_t reads = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
      const std::uint32_t before = file->Statistics().BulkReads;
      TRecord* r = nullptr;
      ASSERT_TRUE(file->GetRecord(nullptr, order[i], true, true, 1, r));
      EXPECT_EQ(StampOf(r), 9000 + order[i] - 1);
      file->PutRecord(r);
      EXPECT_LE(file->Statistics().BulkReads - before, 1u);
      if (i >= k.records) reads += file->Statistics().BulkReads - before;
    }
    EXPECT_EQ(file->CopiedRecords(), k.copied ? std::min<std::size_t>(k.records, 256) : 0u);
    // Read again: from the copies while they pay, else from the file (the
    // cache's two records are long gone by the time their turn comes).
    EXPECT_EQ(reads, k.copied ? 0u : 100u);
    // Asked straight into a buffer: a record read alone takes no cache
    // entry (a copy while they pay); one the cache holds (here changed, newer than the file) or
    // one read while writes are held comes as its entry.
    file->FreeRecordBuffers();
    std::vector<std::uint8_t> out(file->GetRecordSize());
    auto stamp = [&] { return rtl::DecodeFixed32(out.data() + 65530); };
    for (std::uint32_t i = 0; i < 50; ++i) {
      const std::uint32_t n = order[i];
      const std::uint32_t before = file->Statistics().BulkReads;
      TRecord* r = nullptr;
      ASSERT_TRUE(file->GetRecord(nullptr, n, true, true, 1, r, out.data()));
      EXPECT_EQ(r, nullptr);
      EXPECT_EQ(stamp(), 9000 + n - 1);
      EXPECT_EQ(file->Statistics().BulkReads - before, 1u);
    }
    EXPECT_EQ(file->CachedRecords(), 0u);
    EXPECT_EQ(file->CopiedRecords(), k.copied ? 50u : 0u);
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetRecord(nullptr, order[0], false, false, 1, r));
    Stamp(r, 77);
    r->Modified = true;
    file->PutRecord(r);
    host.writes_held = true;
    for (std::uint32_t n : {order[0], order[60]}) {
      ASSERT_TRUE(file->GetRecord(nullptr, n, true, true, 1, r, out.data()));
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(StampOf(r), n == order[0] ? 77u : 9000 + n - 1);
      file->PutRecord(r);
    }
    host.writes_held = false;
    file->FlushRecordBuffers(false);
    file->FreeRecordBuffers();
  }
}

// The checker's own tests write encrypted tables with these pairs.
TEST(CipherKeys, CheckerTestsUseTheEngineKeys) {
  std::ifstream in(QV_SOURCE_DIR "/tests/tools/tablecheck_test.py");
  std::string line, keys;
  while (std::getline(in, line))
    if (line.rfind("ENGINE_KEYS = \"", 0) == 0) keys = line.substr(15, line.size() - 16);
  EXPECT_EQ("--keys " + keys, testing::EngineKeysOption());
}

// Header values, definitions and change detection between two handles on
// one file; emptying the table cuts it back to its definitions.
TEST(DataFileHeader, AccessorsChangeDetectionAndEmptying) {
  qvtest::TempDir dir;
  FakeHost host;
  TDataFileSettings settings;
  settings.Encrypted = true;
  settings.Password = "a very long password";
  settings.Description = std::string(60, 'd');
  settings.LanguageID = 0;
  settings.UserMajorVersion = 3;
  auto file = CreateTable(host, dir.File("a.DAT"), {Field("Name", dtString, 20), Field("Code", dtInteger)}, settings);
  EXPECT_EQ(file->GetPassword(), "a very long pas");
  EXPECT_EQ(file->GetDescription(), std::string(50, 'd'));
  EXPECT_NE(file->GetHeader().Password, "a very long pas");  // stored enciphered
  EXPECT_EQ(file->GetUserMajorVersion(), 3);
  ASSERT_NE(file->GetFieldDefinitionByName("code"), nullptr);
  EXPECT_EQ(file->GetFieldDefinitionByName("code")->Offset, 31);
  EXPECT_EQ(file->GetFieldDefinitionByNumber(1)->Name, "Name");
  EXPECT_EQ(file->GetFieldDefinitionByNumber(7), nullptr);
  EXPECT_EQ(file->GetFieldDefinitionByPos(3), nullptr);
  TFieldDefinition changed = *file->GetFieldDefinitionByPos(2);
  changed.Name = "Number";
  changed.Default = "7";
  changed.Offset = 99;  // not copied
  file->UpdateFieldDefinitionByPos(2, changed);
  file->WriteFields();
  file->UpdateHeader("pw", "new", 40, 5, 6);
  for (int i = 0; i < 3; ++i) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetNextFreeRecord(nullptr, r));
    file->PutRecord(r);
  }
  file->FlushRecordBuffers(false);
  file->WriteHeader(false, false);
  file.reset();

  TDataFile other(&host);
  other.SetFileName(dir.File("a.DAT"));
  other.OpenFile();
  other.CheckHeader();
  EXPECT_EQ(other.GetPassword(), "pw");
  EXPECT_EQ(other.GetDescription(), "new");
  EXPECT_EQ(other.GetLastRecordID(), 40u);
  EXPECT_EQ(other.GetUserMinorVersion(), 6);
  EXPECT_EQ(other.GetFieldDefinitionByPos(2)->Name, "Number");
  EXPECT_EQ(other.GetFieldDefinitionByPos(2)->Default, "7");
  EXPECT_EQ(other.GetFieldDefinitionByPos(2)->Offset, 31);
  EXPECT_EQ(other.GetPhysicalRecordsUsed(), 3u);
  // Stored as the day count minus 693594, read back as the day count.
  EXPECT_NEAR(other.GetHeader().LastUpdated, rtl::Now() - 693594.0, 1.0);
  EXPECT_NEAR(other.GetLastUpdated(), rtl::Now(), 1.0);
  EXPECT_FALSE(other.CheckForChanges());
  // Another process writes its header: a new stamp and a record fewer.
  PatchFile(dir.File("a.DAT"), "f = open(path, 'r+b'); f.write(struct.pack('<I', 77)); f.seek(13); "
                               "f.write(struct.pack('<I', 3)); f.truncate(127 + 2 * 768 + 2 * 36); f.close()");
  EXPECT_TRUE(other.CheckForChanges());
  EXPECT_EQ(other.GetLastUpdateStamp(), 77u);
  EXPECT_EQ(other.GetPhysicalRecordsUsed(), 2u);
  other.CheckHeader();

  other.ClearHeader();
  EXPECT_EQ(other.GetPhysicalRecordsUsed(), 0u);
  EXPECT_EQ(other.GetSize(), static_cast<std::int64_t>(127 + 2 * 768));
  ExpectClean(other, testing::EngineKeysOption());
}

// A write cut short by the file-size limit raises 9218 and keeps the
// records modified; once there is room the next flush writes them.
TEST(DataFileFailures, AFailedFlushKeepsRecordsModified) {
  qvtest::TempDir dir;
  const std::string path = dir.File("full.DAT");
  pid_t pid = fork();
  if (pid == 0) {
    int code = 0;
    try {
      signal(SIGXFSZ, SIG_IGN);
      FakeHost host;
      auto file = CreateTable(host, path, {Field("N", dtInteger)});
      rlimit limit{};
      getrlimit(RLIMIT_FSIZE, &limit);
      rlimit low = limit;
      low.rlim_cur = 4096;
      setrlimit(RLIMIT_FSIZE, &low);
      for (int i = 0; i < 300; ++i) {
        TRecord* r = nullptr;
        file->GetNextFreeRecord(nullptr, r);
        rtl::EncodeFixed32(r->Data.data() + 10, i);
        file->PutRecord(r);
      }
      if (RaisedNumber([&] { file->FlushRecordBuffers(false); }) != 9218) code = 1;
      TRecord* r = nullptr;
      file->GetRecord(nullptr, 300, false, false, 1, r);
      if (!r->Modified) code = 2;
      file->PutRecord(r);
      setrlimit(RLIMIT_FSIZE, &limit);
      if (!file->FlushRecordBuffers(false)) code = 3;
      file->WriteHeader(false, false);
      file->GetRecord(nullptr, 300, false, false, 1, r);
      if (r->Modified || file->GetSize() != 127 + 768 + 300 * 14) code = 4;
      file->PutRecord(r);
    } catch (...) {
      code = 5;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  testing::CheckResult check = RunTableCheck(path);
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST(RecordIDs, WrapAfterTheLargestToOne) {
  qvtest::TempDir dir;
  FakeHost host;
  auto file = CreateTable(host, dir.File("w.DAT"), {});
  EXPECT_EQ(file->GetRecordSize(), 9u);
  EXPECT_EQ(file->DataStart(), 127u);
  file->SetNextFreeRecordID(0x7FFFFFFE);
  EXPECT_EQ(file->GetNextFreeRecordID(), 0x7FFFFFFFu);
  EXPECT_EQ(file->GetNextFreeRecordID(), 1u);
  EXPECT_EQ(file->GetNextFreeBlobSignature(), 1u);
  ExpectClean(*file);
}

}  // namespace
}  // namespace korvex
