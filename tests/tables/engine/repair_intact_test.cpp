// Repair and verification of undamaged tables larger than every read window
// and cache of the record, page and block files: a repair changes no record
// byte and no BLOB block, keeps every record, and neither it nor the
// verifications before and after it find anything; the independent checker
// passes the result. A repair that read a window's records from the wrong
// place once rewrote every record past the third window with its
// neighbour's of one window before. Case table over record counts, record sizes (each a
// different number of records per read window), primary key or none, and a
// memo field.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/files/blob_file.h"
#include "tables/engine/files/data_header.h"
#include "tables/engine/files/field_definition.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Collect(void* user, const std::string& line) {
  static const std::regex head(R"(^(Repair|Verification) of table .* (started|completed) at )");
  if (!std::regex_search(line, head)) static_cast<std::vector<std::string>*>(user)->push_back(line);
  return true;
}

// The findings of a repair or verification (its first and last lines left out).
std::vector<std::string> Maintain(TDataDirectory* dir, bool verify) {
  std::vector<std::string> findings;
  auto c = Cursor(dir, true);
  c->SetRepairLogCallback(Collect, &findings);
  c->RepairTable(verify, false);
  return findings;
}

struct Case {
  std::uint32_t records;
  std::uint32_t record_size;  // 26, 67, 116 or 266
  bool primary;
  bool memo;
};

std::string Name(const Case& k) {
  return std::to_string(k.records) + " records of " + std::to_string(k.record_size) + " bytes" +
         (k.primary ? ", primary key" : "") + (k.memo ? ", memo" : "");
}

// Integer, string and (with a memo) a memo of every seventh record; the
// string's size makes the record `record_size` bytes long.
void Build(TDataDirectory* dir, const Case& k) {
  // Record header 9, integer 1 + 4, string 1 + size + 1, memo 1 + 8.
  const int text = static_cast<int>(k.record_size) - 9 - 5 - 2 - (k.memo ? 9 : 0);
  ASSERT_GT(text, 0);
  std::vector<TFieldDefinition> fields{Field("K", dtInteger), Field("S", dtString, static_cast<std::uint8_t>(text))};
  if (k.memo) fields.push_back(Field("M", dtBlob, 0, fstMemo));
  TTableCreation creation;
  TIndexDefinition primary;
  if (k.primary) primary.Fields[primary.FieldCount++] = 1;
  creation.Indexes = {primary};
  CreateWithCursor(dir, fields, creation);
  auto c = Cursor(dir, true);
  c->OpenCursor();
  ASSERT_EQ(c->GetRecordSize(), k.record_size);
  Bytes buffer(k.record_size);
  for (std::uint32_t i = 1; i <= k.records; ++i) {
    c->InitRecord(buffer.data());
    // Keys out of physical order, every one different.
    const std::int32_t key = static_cast<std::int32_t>((i * 7919u) % 1000003u);
    std::string s = std::to_string(i) + ":";
    while (static_cast<int>(s.size()) < text) s += static_cast<char>('a' + (i + s.size()) % 26);
    c->PutField(1, buffer.data(), reinterpret_cast<const std::uint8_t*>(&key));
    c->PutField(2, buffer.data(), reinterpret_cast<const std::uint8_t*>(s.c_str()));
    if (k.memo && i % 7 == 0) {
      std::string memo(1 + (i * 37) % 1500, static_cast<char>('A' + i % 26));
      memo.replace(0, std::min(memo.size(), s.size()), s.substr(0, memo.size()));
      ASSERT_EQ(c->OpenBlob(3, buffer.data(), 2), 0);
      ASSERT_EQ(c->PutBlob(3, buffer.data(), 0, reinterpret_cast<const std::uint8_t*>(memo.data()),
                           static_cast<std::int64_t>(memo.size())),
                0);
    }
    c->AppendRecord(buffer.data());
  }
  c->CloseCursor();
}

TEST(RepairOfIntactTables, ChangesNoRecordAndFindsNothing) {
  std::vector<Case> cases;
  for (std::uint32_t size : {26u, 67u, 116u, 266u})
    for (std::uint32_t records : {3000u, 20000u})
      for (auto [primary, memo] : {std::pair{false, false}, {true, false}, {true, true}})
        cases.push_back({records, size, primary, memo});
  // The largest tables: one per record size, the two halves of the key and
  // memo choice between them.
  cases.push_back({100000, 26, true, true});
  cases.push_back({100000, 67, false, false});
  cases.push_back({100000, 116, true, false});
  cases.push_back({100000, 266, false, true});
  for (const Case& k : cases) {
    SCOPED_TRACE(Name(k));
    qvtest::TempDir tmp;
    const std::string base = tmp.path().string() + "/t";
    Env env(tmp.path().string());
    Build(env.dir, k);
    if (::testing::Test::HasFatalFailure()) return;
    const std::size_t start = kDataHeaderSize + kFieldDefinitionSize * (k.memo ? 3 : 2);
    const std::string data = Slurp(base + ".DAT"), blobs = k.memo ? Slurp(base + ".BLB") : "";
    ASSERT_EQ(data.size(), start + std::size_t{k.records} * k.record_size);

    EXPECT_EQ(Maintain(env.dir, true), std::vector<std::string>{});
    EXPECT_EQ(Maintain(env.dir, false), std::vector<std::string>{});
    EXPECT_EQ(Maintain(env.dir, true), std::vector<std::string>{});

    const std::string repaired = Slurp(base + ".DAT");
    ASSERT_EQ(repaired.size(), data.size());
    for (std::uint32_t n = 1; n <= k.records; ++n) {
      const std::size_t at = start + std::size_t{n - 1} * k.record_size;
      if (repaired.compare(at, k.record_size, data, at, k.record_size) != 0) {
        ADD_FAILURE() << "record " << n << " changed";
        break;
      }
    }
    if (k.memo) {
      const std::string after = Slurp(base + ".BLB");
      ASSERT_EQ(after.size(), blobs.size());
      EXPECT_TRUE(after.compare(kBlobHeaderSize, std::string::npos, blobs, kBlobHeaderSize) == 0)
          << "BLOB blocks changed";
    }
    auto c = Cursor(env.dir, false);
    c->OpenCursor();
    EXPECT_EQ(c->GetRecordCount(), k.records);
    c->CloseCursor();
    // The independent checker where the most can go wrong (it reads the
    // whole table anew each time).
    if (k.records == 100000 || (k.primary && k.memo)) {
      CheckResult check = RunTableCheck(base + ".DAT");
      EXPECT_EQ(check.status, 0) << check.output;
    }
  }
}

}  // namespace
}  // namespace korvex::testing
