// Header checks and repair on headers and definitions damaged by python
// (one fault each); corrected files must satisfy the independent checker.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/runtime/coding.h"
#include "tables/engine/files/data_file.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex {
namespace {

using testing::CreateTable;
using testing::FakeHost;
using testing::Field;
using testing::PatchFile;
using testing::RaisedNumber;
using testing::RunTableCheck;

const char* kPatchHelpers = R"(
def patch(offset, data):
    with open(path, 'r+b') as f:
        f.seek(offset)
        f.write(data)
def field(p, offset):
    return 127 + 768 * (p - 1) + offset
def name(p, text):
    patch(field(p, 2), bytes([len(text)]) + text)
)";

// Name(20) Amount(BCD,2) Id(auto-increment) Memo(BLOB) Count(integer), three
// records, closed.
void MakeTable(FakeHost& host, const std::string& path) {
  auto file = CreateTable(host, path,
                          {Field("Name", dtString, 20), Field("Amount", dtBCD, 0, 0, 2),
                           Field("Id", dtInteger, 0, fstAutoInc), Field("Memo", dtBlob), Field("Count", dtInteger)});
  for (int i = 0; i < 3; ++i) {
    TRecord* r = nullptr;
    ASSERT_TRUE(file->GetNextFreeRecord(nullptr, r));
    r->SetRecordID(file->GetNextFreeRecordID());
    file->PutRecord(r);
  }
  file->FlushRecordBuffers(false);
  file->WriteHeader(false, false);
  std::uint8_t blob_header[512] = {};
  blob_header[8] = 4;
  rtl::EncodeFixed32(blob_header + 13, 512);
  std::ofstream(path.substr(0, path.size() - 4) + ".BLB", std::ios::binary)
      .write(reinterpret_cast<const char*>(blob_header), 512);
}

std::unique_ptr<TDataFile> Open(FakeHost& host, const std::string& path) {
  auto file = std::make_unique<TDataFile>(&host);
  file->SetFileName(path);
  file->OpenFile();
  return file;
}

std::string NotFixed(std::string line) {
  auto at = line.rfind("error fixed");
  if (at != std::string::npos) line.replace(at, 11, "error not fixed");
  return line;
}

TEST(DataHeaderRepair, EachFindingHasItsLineAndItsCorrection) {
  const std::string long_name = std::string(30, 'A') + "\x03xy";
  struct Case {
    const char* patch;
    std::vector<std::string> lines;
    bool fixable = true;
  } cases[] = {
      {"name(2, b'')", {"Invalid field name (blank) for field # 2 in table header, error fixed"}},
      {"name(1, b'1Name')", {"Invalid field name (first character) for field 1Name in table header, error fixed"}},
      {"patch(field(1, 2), bytes([33]) + b'A' * 30 + bytes([3]) + b'xyz')",
       {"Invalid field name (too long) for field " + long_name + " in table header, error fixed"}},
      {"name(2, b'NAME')", {"Invalid field name (duplicate) for field NAME in table header, error fixed"}},
      {"patch(field(5, 84), b'\\0')",
       {"Invalid field data type (unknown) for field Count in table header, error cannot be fixed",
        "Invalid physical record length in table header, error fixed",
        "Physical records not aligned on even record size boundaries, error fixed"},
       false},
      {"patch(field(5, 86), b'\\7')", {"Invalid field length for field Count in table header, error fixed"}},
      {"patch(field(5, 196), bytes([3]) + b'abc')", {"Invalid default value for field Count in table header, error fixed"}},
      {"patch(field(5, 94), bytes([2]) + b'x1')", {"Invalid minimum value for field Count in table header, error fixed"}},
      {"patch(field(5, 145), bytes([1]) + b'?')", {"Invalid maximum value for field Count in table header, error fixed"}},
      {"patch(field(5, 87), b'\\2')", {"Invalid field decimals for field Count in table header, error fixed"}},
      {"patch(field(5, 90), struct.pack('<H', 50))", {"Invalid field offset for field Count in table header, error fixed"}},
      {"patch(field(3, 90), struct.pack('<H', 9))", {"Invalid field offset for field Id in table header, error fixed"}},
      {"patch(field(5, 0), struct.pack('<H', 9))", {"Invalid field number for field Count in table header, error fixed"}},
      {"patch(21, struct.pack('<H', 55))", {"Invalid physical record length in table header, error fixed"}},
      {"open(path, 'ab').write(b'xyz')", {"Physical records not aligned on even record size boundaries, error fixed"}},
      {"patch(13, struct.pack('<I', 6))", {"Physical record count not correct, error fixed"}},
      {"patch(25, struct.pack('<H', 0))", {"Invalid BLOB field count in table header, error fixed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.patch);
    qvtest::TempDir dir;
    FakeHost host;
    std::string path = dir.File("h.DAT");
    MakeTable(host, path);
    PatchFile(path, std::string(kPatchHelpers) + c.patch);
    EXPECT_NE(RunTableCheck(path).status, 0);

    auto file = Open(host, path);
    EXPECT_EQ(RaisedNumber([&] { file->CheckHeader(); }), 8961);
    const auto size = file->GetSize();
    file->RepairHeader(nullptr, true);
    std::vector<std::string> not_fixed;
    for (const std::string& line : c.lines) not_fixed.push_back(NotFixed(line));
    EXPECT_EQ(host.log, not_fixed);
    EXPECT_FALSE(file->HeaderModified());
    EXPECT_EQ(file->GetSize(), size);
    EXPECT_EQ(RaisedNumber([&] { file->CheckHeader(); }), 8961);

    host.log.clear();
    file->RepairHeader(nullptr, false);
    EXPECT_EQ(host.log, c.lines);
    EXPECT_EQ(file->GetHeader().FirstFreeRecord, 0u);
    file->WriteHeader(false, false);
    file->WriteFields();
    file.reset();
    if (!c.fixable) continue;
    testing::CheckResult check = RunTableCheck(path);
    EXPECT_EQ(check.status, 0) << check.output;
    file = Open(host, path);
    EXPECT_EQ(RaisedNumber([&] { file->CheckHeader(); }), 0);
  }
}

TEST(DataHeaderCheck, VersionLanguageAndLimits) {
  struct Case {
    const char* patch;
    int on_open;
    int on_check;
  } cases[] = {
      {"patch(8, b'\\3')", 0, 12035},
      {"patch(103, struct.pack('<H', 0x0411))", 0, 15878},  // Japanese: no collation table
      {"patch(103, struct.pack('<H', 0x0407))", 0, 0},      // German has one
      {"patch(23, struct.pack('<H', 1025))", 8961, 0},
      {"patch(23, struct.pack('<H', 40))", 9217, 0},  // definitions past the end
      {"patch(0, b'')", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.patch);
    qvtest::TempDir dir;
    FakeHost host;
    std::string path = dir.File("v.DAT");
    MakeTable(host, path);
    PatchFile(path, std::string(kPatchHelpers) + c.patch);
    std::unique_ptr<TDataFile> file;
    EXPECT_EQ(RaisedNumber([&] { file = Open(host, path); }), c.on_open);
    if (c.on_open) continue;
    EXPECT_EQ(RaisedNumber([&] { file->CheckHeader(); }), c.on_check);
  }

  // Creation limits: record size, BLOB fields, block size.
  qvtest::TempDir dir;
  FakeHost host;
  std::vector<TFieldDefinition> wide;
  for (int i = 0; i < 261; ++i) wide.push_back(Field("S" + std::to_string(i), dtString, 250));
  EXPECT_EQ(RaisedNumber([&] { CreateTable(host, dir.File("a.DAT"), wide); }), 9477);
  std::vector<TFieldDefinition> blobs;
  for (int i = 0; i < 65; ++i) blobs.push_back(Field("B" + std::to_string(i), dtBlob));
  EXPECT_EQ(RaisedNumber([&] { CreateTable(host, dir.File("b.DAT"), blobs); }), 9498);
  blobs.pop_back();
  TDataFileSettings small_blocks;
  small_blocks.BlobBlockSize = 63;
  EXPECT_EQ(RaisedNumber([&] { CreateTable(host, dir.File("c.DAT"), blobs, small_blocks); }), 9498);
  small_blocks.BlobBlockSize = 1024;
  auto file = CreateTable(host, dir.File("d.DAT"), blobs, small_blocks);
  EXPECT_EQ(file->GetBlobBlockSize(), 1024u);
  EXPECT_EQ(file->GetBlobFieldCount(), 64u);
}

// Files from before the engine stamp enciphered the definitions only up to
// the block's length mod 65536: such a file (stamp 0) still opens.
TEST(DataHeaderCheck, DefinitionsOfFilesWithoutEngineStamp) {
  qvtest::TempDir dir;
  FakeHost host;
  std::string path = dir.File("old.DAT");
  std::vector<TFieldDefinition> fields;
  for (int i = 0; i < 90; ++i) fields.push_back(Field("F" + std::to_string(i), dtInteger));
  TDataFileSettings settings;
  settings.Encrypted = true;
  { auto file = CreateTable(host, path, fields, settings); }
  const std::string keys = testing::EngineKeysOption().substr(7);
  PatchFile(path, "k = [int(v) for v in '" + keys + "'.split(',')]\nimport sys\nsys.path.insert(0, '" QV_SOURCE_DIR
                  "/tools')\n" R"(from tablecheck import decipher as cipher
d = bytearray(open(path, 'rb').read())
plain = cipher(d[127:127 + 768 * 90], k[2], k[3])
n = (768 * 90) % 65536
d[127:127 + 768 * 90] = cipher(plain[:n], k[2], k[3]) + plain[n:]
d[116:124] = bytes(8)
open(path, 'wb').write(d)
)");
  auto file = Open(host, path);
  file->CheckHeader();
  EXPECT_EQ(file->GetFieldDefinitionByPos(90)->Name, "F89");
  testing::CheckResult check = RunTableCheck(path, testing::EngineKeysOption());
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_EQ(check.output, "warning: engine stamp 0\n");
}

// A table holding 99,999,998 records (a sparse file) takes one more; the
// next append is refused and the file is left as it was.
TEST(DataHeaderCheck, AppendsStopBeforeRecord100000000) {
  qvtest::TempDir dir;
  FakeHost host;
  std::string path = dir.File("s.DAT");
  { auto file = CreateTable(host, path, {}); }
  PatchFile(path, std::string(kPatchHelpers) +
                      "patch(13, struct.pack('<I', 99999999))\nos.truncate(path, 127 + 9 * 99999998)");
  auto file = Open(host, path);
  file->CheckHeader();
  TRecord* r = nullptr;
  ASSERT_TRUE(file->GetNextFreeRecord(nullptr, r));
  EXPECT_EQ(r->Number(), 99999999u);
  file->PutRecord(r);
  file->FlushRecordBuffers(false);
  file->WriteHeader(false, false);
  const auto size = file->GetSize();
  EXPECT_EQ(size, 127 + 9 * 99999999ll);
  EXPECT_EQ(RaisedNumber([&] { file->GetNextFreeRecord(nullptr, r); }), 9479);
  EXPECT_EQ(file->GetPhysicalRecordsUsed(), 99999999u);
  file->CheckHeader();
}

}  // namespace
}  // namespace korvex
