#include "tables/engine/files/blob_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <sstream>

#include "platform/runtime/coding.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/files/blob_buffer.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex {
namespace {

using testing::CreateTable;
using testing::FakeHost;
using testing::Field;
using testing::PatchFile;
using testing::RaisedNumber;
using testing::RunPython;
using testing::RunTableCheck;

using Bytes = std::vector<std::uint8_t>;

// A table of records with one BLOB field (Name string(10), Memo BLOB: the
// reference at byte 22, the signature at 26), doing what the cursor does
// with BLOBs.
class BlobTable {
public:
  BlobTable(const std::string& folder, std::uint16_t block_size, int records, bool encrypted = false)
      : dat_(folder + "/t.DAT"), blb_(folder + "/t.BLB"), encrypted_(encrypted) {
    TDataFileSettings settings;
    settings.BlobBlockSize = block_size;
    settings.Encrypted = encrypted;
    data = CreateTable(host, dat_, {Field("Name", dtString, 10), Field("Memo", dtBlob)}, settings);
    blob = std::make_unique<TBlobFile>(&host, encrypted);
    blob->SetFileName(blb_);
    blob->SetBlockSize(data->GetBlobBlockSize());
    blob->CreateFile();
    blob->WriteHeader(true, false);
    for (int i = 0; i < records; ++i) {
      TRecord* r = nullptr;
      EXPECT_TRUE(data->GetNextFreeRecord(nullptr, r));
      data->PutRecord(r);
    }
    Flush();
  }

  std::uint32_t Ref(std::uint32_t n) { return Field32(n, 22); }
  std::uint32_t Sig(std::uint32_t n) { return Field32(n, 26); }
  void SetRef(std::uint32_t n, std::uint32_t ref, std::uint32_t sig) {
    TRecord* r = nullptr;
    EXPECT_TRUE(data->GetRecord(nullptr, n, false, false, 1, r));
    rtl::EncodeFixed32(r->Data.data() + 22, ref);
    rtl::EncodeFixed32(r->Data.data() + 26, sig);
    r->Modified = true;
    data->PutRecord(r);
  }

  Bytes Read(std::uint32_t n) {
    TBlobBuffer b(blob.get(), nullptr, n, 2, Ref(n), Sig(n));
    b.Open();
    b.Read();
    return b.Content();
  }
  void Write(std::uint32_t n, const Bytes& content) {
    std::uint32_t sig = Ref(n) ? Sig(n) : data->GetNextFreeBlobSignature();
    TBlobBuffer b(blob.get(), nullptr, n, 2, Ref(n), sig);
    b.SetSize(static_cast<std::uint32_t>(content.size()));
    if (!content.empty()) std::memcpy(b.GetBuffer(), content.data(), content.size());
    b.Write();
    SetRef(n, b.FirstBlock(), sig);
  }
  void Remove(std::uint32_t n) {
    TBlobBuffer b(blob.get(), nullptr, n, 2, Ref(n), Sig(n));
    b.Remove();
    SetRef(n, 0, Sig(n));
  }
  // Frees the BLOB of record n the way the table repair or a delete does.
  void FreeBlob(std::uint32_t n, bool verify_only) {
    std::uint32_t ref = Ref(n);
    EXPECT_TRUE(blob->FreeBlobBlocks(nullptr, verify_only, ref, n, Sig(n), false));
    SetRef(n, ref, Sig(n));
  }
  void RepairBlob(std::uint32_t n, bool verify_only) {
    std::uint32_t ref = Ref(n);
    EXPECT_TRUE(blob->RepairBlobBlocks(nullptr, verify_only, ref, n, Sig(n), false));
    SetRef(n, ref, Sig(n));
  }

  void Flush() {
    blob->FlushBlockBuffers(false);
    blob->WriteHeader(false, false);
    data->FlushRecordBuffers(false);
    data->WriteHeader(false, false);
  }
  // Closed and opened again: nothing cached.
  void Reopen() {
    Flush();
    blob->CloseFile();
    data->CloseFile();
    data->OpenFile();
    blob->OpenFile();
    blob->CheckHeader();
  }
  // Drops what the caches hold without writing it.
  void Discard() {
    blob->CloseFile();
    data->FreeRecordBuffers();
    blob->OpenFile();
  }
  testing::CheckResult Check(const std::string& extra = {}) {
    Flush();
    return RunTableCheck(dat_, (encrypted_ ? testing::EngineKeysOption() + " " : std::string()) + extra);
  }
  void ExpectClean() {
    testing::CheckResult c = Check();
    EXPECT_EQ(c.status, 0) << c.output;
    EXPECT_EQ(c.output, "");
  }
  const std::string& BlobPath() const { return blb_; }

  FakeHost host;
  std::unique_ptr<TDataFile> data;
  std::unique_ptr<TBlobFile> blob;

private:
  std::uint32_t Field32(std::uint32_t n, int at) {
    TRecord* r = nullptr;
    EXPECT_TRUE(data->GetRecord(nullptr, n, false, false, 1, r));
    std::uint32_t v = rtl::DecodeFixed32(r->Data.data() + at);
    data->PutRecord(r);
    return v;
  }
  std::string dat_, blb_;
  bool encrypted_;
};

Bytes Pattern(std::size_t size, int seed) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return b;
}

TEST(BlobBlock, DataRangesSettersAndCopies) {
  const std::string table = "T";
  TBlock a(512, &table), b(512, &table), c(512, &table);
  const Bytes data = Pattern(494, 9);
  Bytes out(494);
  a.PutBlockData(0, 494, data.data());
  EXPECT_EQ(a.BlockLength(), 494);
  EXPECT_EQ(RaisedNumber([&] { a.PutBlockData(1, 494, data.data()); }), 10029);
  EXPECT_EQ(RaisedNumber([&] { a.GetBlockData(0, 495, out.data()); }), 10029);
  a.TruncateBlockData(100);
  EXPECT_EQ(a.GetBlockData(0, 494, out.data()), 100u);
  EXPECT_EQ(a.GetBlockData(90, 20, out.data()), 10u);
  a.SetPrevBlockOffset(1024);
  a.SetNextBlockOffset(2048);
  a.SetBlobSignature(5);
  a.SetBlobLength(100);
  b.Copy(a);
  EXPECT_TRUE(b.Modified);
  b.Modified = false;
  b.SetBlobSignature(5);  // no change, still not modified
  EXPECT_FALSE(b.Modified);
  for (bool encrypted : {false, true}) {
    Bytes image(512), again(512);
    b.Write(image.data(), encrypted);
    c.Read(image.data(), encrypted);
    c.Write(again.data(), encrypted);
    EXPECT_EQ(image, again);
    EXPECT_EQ(c.NextBlockOffset(), 2048u);
    EXPECT_EQ(c.BlobLength(), 100u);
    EXPECT_EQ(rtl::DecodeFixed32(image.data() + 4) == 2048u, !encrypted);
  }
}

// Each block's data length and BLOB length, and the free chain, as python
// reads them from the file.
const char* kBlockLister = R"(
d = open(path, 'rb').read()
free, size = struct.unpack_from('<II', d, 9)
print(free, size, len(d), d[8])
for off in range(512, len(d), 512):
    prev, nxt, used, sig, total = struct.unpack_from('<IIHII', d, off)
    print(off, prev, nxt, used, total)
)";

TEST(BlobFile, BlocksOfABlobAndTheirReuse) {
  qvtest::TempDir dir;
  BlobTable t(dir.Path(), 0, 3);
  EXPECT_EQ(t.blob->BlockSize(), 512u);
  EXPECT_EQ(RunPython(t.BlobPath(), kBlockLister), "0 512 512 4\n");

  t.Write(1, Pattern(1000, 1));
  t.Flush();
  EXPECT_EQ(RunPython(t.BlobPath(), kBlockLister),
            "0 2048 2048 4\n"
            "512 0 1024 494 1000\n"
            "1024 512 1536 494 0\n"
            "1536 1024 0 12 0\n");
  t.ExpectClean();

  // 300 bytes keep the first block; the other two go to the free chain.
  t.Write(1, Pattern(300, 2));
  t.Flush();
  EXPECT_EQ(RunPython(t.BlobPath(), kBlockLister),
            "1536 2048 2048 4\n"
            "512 0 0 300 300\n"
            "1024 512 0 494 0\n"
            "1536 1024 1024 12 0\n");
  t.ExpectClean();
  // The next BLOB takes them before the file grows.
  t.Write(2, Pattern(900, 3));
  t.Flush();
  EXPECT_EQ(t.blob->GetFileSize(), 2048u);
  EXPECT_EQ(t.blob->FirstFreeBlock(), 0u);
  EXPECT_EQ(t.Ref(2), 1536u);
  t.ExpectClean();

  // A size-0 write changes nothing.
  std::string before = qvtest::ReadFileBytes(t.BlobPath());
  t.Write(3, {});
  t.Write(1, {});
  t.Flush();
  EXPECT_EQ(qvtest::ReadFileBytes(t.BlobPath()), before);
  EXPECT_EQ(t.Ref(3), 0u);

  t.Reopen();
  // A change found while fetching: a read starts again, a free answers
  // "fetch again" and changes nothing.
  const std::uint32_t ref1 = t.Ref(1), sig1 = t.Sig(1), ref2 = t.Ref(2), sig2 = t.Sig(2);
  TBlobBuffer first(t.blob.get(), nullptr, 1, 2, ref1, sig1);
  t.host.report_changes = true;
  first.Read();
  EXPECT_EQ(first.Content(), Pattern(300, 2));
  EXPECT_FALSE(t.host.report_changes);
  t.host.report_changes = true;
  std::uint32_t ref = ref2;
  EXPECT_FALSE(t.blob->FreeBlobBlocks(nullptr, false, ref, 2, sig2, false));
  EXPECT_EQ(ref, ref2);
  EXPECT_EQ(t.Read(2), Pattern(900, 3));
  t.Remove(2);
  t.ExpectClean();
  EXPECT_EQ(t.blob->FirstFreeBlock(), 1024u);
  // A free chain leading to a block in use is dropped: the file grows.
  TBlock* held = nullptr;
  ASSERT_TRUE(t.blob->GetBlock(nullptr, 1024, false, 1, held));
  t.Write(3, Pattern(10, 4));
  EXPECT_EQ(t.Ref(3), 2048u);
  EXPECT_EQ(t.blob->FirstFreeBlock(), 0u);
  t.blob->PutBlock(held);
  testing::CheckResult check = t.Check();  // the dropped blocks belong to no chain
  EXPECT_EQ(check.status, 0) << check.output;
  EXPECT_NE(check.output.find("warning: block 1024 is in no BLOB"), std::string::npos);
  // A file at the size limit is full: the error names it, not the table.
  t.host.name = "t.DAT";
  t.blob->SetFileSize(static_cast<std::uint32_t>(kMaxTableBytes) - 256);
  std::string full;
  try {
    t.Write(1, Pattern(2000, 5));
  } catch (const EKORVEXEngineError& e) {
    full = e.what();
  }
  EXPECT_NE(full.find("# 9479 The table 't.BLB' is full"), std::string::npos) << full;
}

// The block size is the whole 16-bit value: 1024 is not 512.
TEST(BlobFile, BlockSize1024RoundTrip) {
  qvtest::TempDir dir;
  BlobTable t(dir.Path(), 1024, 6, true);
  EXPECT_EQ(t.blob->BlockSize(), 1024u);
  EXPECT_EQ(t.blob->GetBlockBufferSize(), 1006u);
  std::mt19937 rng(3);
  std::map<int, Bytes> model;
  for (int n = 1; n <= 6; ++n) {
    model[n] = Pattern(std::uniform_int_distribution<std::size_t>(1, 10240)(rng), n);
    t.Write(n, model[n]);
  }
  EXPECT_EQ(t.Ref(1), 512u);
  t.Reopen();
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(t.Read(n), model[n]) << n;
  t.ExpectClean();
  EXPECT_EQ(RaisedNumber([&] { t.blob->SetBlockSize(63); }), 9498);
}

// A chain returning to a block it already visited (cycles of 1, 2 and 3
// blocks): outside repair every walk stops with 8963 and changes nothing;
// repair reports and cuts it, and freeing frees each block once.
TEST(BlobChains, CyclesAreFoundChangeNothingAndAreRepaired) {
  for (std::uint32_t cycle : {1u, 2u, 3u}) {
    for (bool free_in_repair : {false, true}) {
      SCOPED_TRACE(std::to_string(cycle) + (free_in_repair ? " freed" : " repaired"));
      qvtest::TempDir dir;
      BlobTable t(dir.Path(), 0, 2);
      const Bytes content = Pattern(4 * 494, 5);
      t.Write(1, content);
      t.Flush();
      // The fourth block (2048) links back.
      PatchFile(t.BlobPath(), "f = open(path, 'r+b'); f.seek(2048 + 4); f.write(struct.pack('<I', " +
                                  std::to_string(2048 - 512 * (cycle - 1)) + ")); f.close()");
      t.Reopen();
      const std::string damaged = qvtest::ReadFileBytes(t.BlobPath());
      // A read stops once it has the BLOB's length; one that needs more
      // runs into the visited block.
      EXPECT_EQ(t.Read(1), content);
      TBlock* block = nullptr;
      ASSERT_TRUE(t.blob->GetBlock(nullptr, 512, false, 1, block));
      block->SetBlobLength(4 * 494 + 50);
      EXPECT_EQ(RaisedNumber([&] { t.Read(1); }), 8963);
      block->SetBlobLength(4 * 494);
      block->Modified = false;
      t.blob->PutBlock(block);
      EXPECT_EQ(RaisedNumber([&] { t.FreeBlob(1, false); }), 8963);
      EXPECT_EQ(RaisedNumber([&] { t.Write(1, Pattern(6 * 494, 6)); }), 8963);
      t.Flush();
      EXPECT_EQ(qvtest::ReadFileBytes(t.BlobPath()), damaged);

      t.host.in_repair = true;
      const std::string line = "Recursive intra-block pointer in BLOB file for physical record # 1, error ";
      if (free_in_repair) {
        t.FreeBlob(1, false);
        EXPECT_EQ(t.host.log, std::vector<std::string>{line + "fixed"});
        EXPECT_EQ(t.Ref(1), 0u);
        t.ExpectClean();
        // All four blocks are free, each once: the next BLOB takes them.
        t.host.in_repair = false;
        t.Write(2, Pattern(4 * 494, 7));
        EXPECT_EQ(t.blob->GetFileSize(), 2560u);
        t.ExpectClean();
      } else {
        t.RepairBlob(1, true);
        EXPECT_EQ(t.host.log, std::vector<std::string>{line + "not fixed"});
        t.Flush();
        EXPECT_EQ(qvtest::ReadFileBytes(t.BlobPath()), damaged);
        t.host.log.clear();
        t.RepairBlob(1, false);
        EXPECT_EQ(t.host.log, std::vector<std::string>{line + "fixed"});
        t.ExpectClean();
        t.host.in_repair = false;
        EXPECT_EQ(t.Read(1), content);
      }
    }
  }
}

// A reference or link at the file size (or off a block boundary, or below
// the header) is refused: nothing reads, frees or grows the file from it.
TEST(BlobChains, ReferencesAndLinksOutsideTheBlocks) {
  struct Case {
    std::uint32_t ref;
    std::uint32_t link;  // of the first block, 0: unchanged
    std::vector<std::string> repair;
  } cases[] = {
      {2048, 0, {"Invalid BLOB offset in BLOB file for physical record # 1, error fixed"}},
      {700, 0, {"Invalid BLOB offset in BLOB file for physical record # 1, error fixed"}},
      {100, 0, {"Invalid BLOB offset in BLOB file for physical record # 1, error fixed"}},
      {512, 2048,
       {"Invalid intra-block pointer in BLOB file for physical record # 1, error fixed",
        "BLOB size mismatch in BLOB file for physical record # 1, error fixed"}},
      {512, 1100,
       {"Invalid intra-block pointer in BLOB file for physical record # 1, error fixed",
        "BLOB size mismatch in BLOB file for physical record # 1, error fixed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.ref) + " " + std::to_string(c.link));
    qvtest::TempDir dir;
    BlobTable t(dir.Path(), 0, 1);
    t.Write(1, Pattern(1000, 1));
    t.Flush();
    if (c.link)
      PatchFile(t.BlobPath(), "f = open(path, 'r+b'); f.seek(512 + 4); f.write(struct.pack('<I', " +
                                  std::to_string(c.link) + ")); f.close()");
    t.Reopen();
    t.SetRef(1, c.ref, t.Sig(1));
    EXPECT_EQ(RaisedNumber([&] { t.Read(1); }), 8963);
    EXPECT_EQ(RaisedNumber([&] { t.FreeBlob(1, false); }), 8963);
    EXPECT_EQ(t.blob->GetFileSize(), 2048u);
    t.host.in_repair = true;
    t.RepairBlob(1, false);
    EXPECT_EQ(t.host.log, c.repair);
    EXPECT_EQ(t.blob->GetFileSize(), 2048u);
    testing::CheckResult check = t.Check();
    EXPECT_EQ(check.status, 0) << check.output;  // cut-off blocks are only orphans
    if (c.link) {
      EXPECT_EQ(t.Read(1), Pattern(494, 1));
    }
  }
}

TEST(BlobFile, HeaderChecksAndRepair) {
  struct Case {
    const char* patch;
    int check;
  } cases[] = {
      {"patch(8, b'\\3')", 12035},
      {"patch(9, struct.pack('<I', 512)); patch(13, struct.pack('<I', 512))", 8961},
      {"patch(9, struct.pack('<I', 700))", 8961},
      {"patch(9, struct.pack('<I', 2048))", 8961},
      {"patch(13, struct.pack('<I', 2000))", 8961},
      {"patch(9, struct.pack('<I', 1536))", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.patch);
    qvtest::TempDir dir;
    BlobTable t(dir.Path(), 0, 1);
    t.Write(1, Pattern(1000, 1));
    t.blob->FlushBlockBuffers(false);
    t.blob->WriteHeader(false, false);
    t.blob->CloseFile();
    PatchFile(t.BlobPath(), std::string("def patch(o, b):\n    f = open(path, 'r+b'); f.seek(o); f.write(b); f.close()\n") +
                                c.patch);
    t.blob->OpenFile();
    EXPECT_EQ(RaisedNumber([&] { t.blob->CheckHeader(); }), c.check);
  }
  qvtest::TempDir dir;
  BlobTable t(dir.Path(), 0, 1);
  t.Write(1, Pattern(1000, 1));
  t.Flush();
  t.blob->CloseFile();
  PatchFile(t.BlobPath(), "open(path, 'ab').write(b'x' * 100)");
  t.blob->OpenFile();
  t.host.in_repair = true;
  t.blob->RepairHeader(nullptr, false);
  EXPECT_EQ(t.host.log,
            std::vector<std::string>{"BLOB blocks not aligned on even block size boundaries, error not fixed"});
  t.host.log.clear();
  t.blob->RepairHeader(nullptr, true);
  EXPECT_EQ(t.host.log,
            std::vector<std::string>{"BLOB blocks not aligned on even block size boundaries, error fixed"});
  EXPECT_EQ(t.blob->GetFileSize(), 2048u);
  t.blob->CheckHeader();
  t.ExpectClean();
}

// Random writes, rewrites and removes against a map; after each batch the
// checker finds every block in exactly one chain or the free chain and
// reads back what the model holds.
class BlobModel : public ::testing::TestWithParam<std::pair<int, bool>> {};

TEST_P(BlobModel, RandomOperationsMatchTheModel) {
  const auto [block_size, encrypted] = GetParam();
  constexpr int kRecords = 16;
  qvtest::TempDir dir;
  BlobTable t(dir.Path(), static_cast<std::uint16_t>(block_size), kRecords, encrypted);
  std::map<int, Bytes> model;
  std::mt19937 rng(block_size);
  for (int batch = 0; batch < 10; ++batch) {
    for (int op = 0; op < 1000; ++op) {
      int n = std::uniform_int_distribution<int>(1, kRecords)(rng);
      int kind = std::uniform_int_distribution<int>(0, 9)(rng);
      if (kind < 6) {
        Bytes content = Pattern(std::uniform_int_distribution<std::size_t>(0, 10 * block_size)(rng), op);
        t.Write(n, content);
        if (!content.empty()) model[n] = content;
      } else if (kind < 8) {
        t.Remove(n);
        model.erase(n);
      } else {
        ASSERT_EQ(t.Read(n), model.count(n) ? model[n] : Bytes{}) << n;
      }
    }
    testing::CheckResult dump = t.Check("--dump");
    ASSERT_EQ(dump.status, 0) << dump.output;
    std::istringstream lines(dump.output);
    std::string line;
    int record = 0, blobs = 0;
    while (std::getline(lines, line)) {
      ASSERT_NE(line.rfind("warning", 0), 0u) << line;
      if (line.rfind("R ", 0) == 0) record = std::stoi(line.substr(2));
      if (line.rfind("B ", 0) != 0) continue;
      std::string hex = line.substr(line.rfind(' ') + 1);
      Bytes expected = model.count(record) ? model[record] : Bytes{};
      std::string want;
      for (std::uint8_t b : expected) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        want += two;
      }
      EXPECT_EQ(hex, want) << "record " << record;
      ++blobs;
    }
    EXPECT_EQ(blobs, kRecords);
  }
  t.Reopen();
  for (int n = 1; n <= kRecords; ++n) EXPECT_EQ(t.Read(n), model.count(n) ? model[n] : Bytes{});
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlobModel,
                         ::testing::Values(std::make_pair(512, false), std::make_pair(1024, true)));

}  // namespace
}  // namespace korvex
