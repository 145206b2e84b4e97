// Replays the table-file fuzz corpus, mutations of it and targeted
// overwrites of its headers, links and lengths through the fuzz body.
// With QV_TABLES_SEED_DIR set it first writes the seeds there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "fuzz/tables/table_files_fuzz.h"
#include "support/fuzz_replay.h"
#include "tables/engine/files/blob_buffer.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex {
namespace {

using testing::CreateTable;
using testing::FakeHost;
using testing::Field;

// A table with `blobs` BLOB contents (one per record), as fuzz input.
qvtest::Bytes MakeSeed(std::uint16_t block_size, bool encrypted, const std::vector<std::size_t>& blobs,
                       std::uint32_t cycle_at = 0) {
  qvtest::TempDir dir;
  FakeHost host;
  TDataFileSettings settings;
  settings.BlobBlockSize = block_size;
  settings.Encrypted = encrypted;
  settings.Password = "pw";
  auto data = CreateTable(host, dir.File("s.DAT"),
                          {Field("Name", dtString, 10), Field("Memo", dtBlob), Field("N", dtInteger),
                           Field("Id", dtInteger, 0, fstAutoInc), Field("Amount", dtBCD, 0, 0, 2)},
                          settings);
  TBlobFile blob(&host, encrypted);
  blob.SetFileName(dir.File("s.BLB"));
  blob.SetBlockSize(data->GetBlobBlockSize());
  blob.CreateFile();
  for (std::size_t i = 0; i < blobs.size(); ++i) {
    TRecord* r = nullptr;
    EXPECT_TRUE(data->GetNextFreeRecord(nullptr, r));
    std::uint32_t sig = data->GetNextFreeBlobSignature();
    TBlobBuffer b(&blob, nullptr, r->Number(), 2, 0, sig);
    b.SetSize(static_cast<std::uint32_t>(blobs[i]));
    for (std::size_t k = 0; k < blobs[i]; ++k) b.GetBuffer()[k] = static_cast<std::uint8_t>(k);
    b.Write();
    rtl::EncodeFixed32(r->Data.data() + 22, blobs[i] ? b.FirstBlock() : 0);
    rtl::EncodeFixed32(r->Data.data() + 26, sig);
    r->Modified = true;
    data->PutRecord(r);
  }
  if (cycle_at) {
    TBlock* block = nullptr;
    EXPECT_TRUE(blob.GetBlock(nullptr, cycle_at, false, 1, block));
    block->SetNextBlockOffset(512);
    blob.PutBlock(block);
  }
  blob.FlushBlockBuffers(false);
  blob.WriteHeader(true, false);
  data->FlushRecordBuffers(false);
  data->WriteHeader(false, false);
  std::string dat = qvtest::ReadFileBytes(dir.File("s.DAT"));
  std::string blb = qvtest::ReadFileBytes(dir.File("s.BLB"));
  qvtest::Bytes seed(4);
  rtl::EncodeFixed32(seed.data(), static_cast<std::uint32_t>(dat.size()));
  seed.insert(seed.end(), dat.begin(), dat.end());
  seed.insert(seed.end(), blb.begin(), blb.end());
  return seed;
}

TEST(TableFilesFuzz, CorpusMutationsAndTargetedDamage) {
  const std::string corpus = "fuzz/tables/corpus/table_files";
  if (const char* out = std::getenv("QV_TABLES_SEED_DIR")) {
    struct Seed {
      const char* name;
      qvtest::Bytes bytes;
    } seeds[] = {{"plain", MakeSeed(0, false, {1000, 0, 300})},
                 {"encrypted_1024", MakeSeed(1024, true, {2000, 5})},
                 {"cycle", MakeSeed(0, false, {1400}, 1536)},
                 {"empty", MakeSeed(0, false, {})}};
    for (const Seed& s : seeds)
      std::ofstream(std::string(out) + "/" + s.name, std::ios::binary)
          .write(reinterpret_cast<const char*>(s.bytes.data()), static_cast<std::streamsize>(s.bytes.size()));
  }
  qvtest::ReplayFuzzBody(corpus, fuzz::TableFiles, 3000);
  // Overwrites of single bytes and whole 32-bit values keep every length.
  std::mt19937 rng(19);
  for (const qvtest::Bytes& seed : qvtest::Corpus(std::filesystem::path(QV_SOURCE_DIR) / corpus)) {
    for (int round = 0; round < 1500 && !HasFailure(); ++round) {
      qvtest::Bytes input = seed;
      for (int k = 0, n = 1 + static_cast<int>(rng() % 3); k < n; ++k) {
        std::size_t at = 4 + rng() % (input.size() - 8);
        if (rng() % 2) input[at] = static_cast<std::uint8_t>(rng());
        else rtl::EncodeFixed32(input.data() + at, rng() % 3 ? static_cast<std::uint32_t>(rng() % 4096) : rng());
      }
      fuzz::TableFiles(input.data(), input.size());
    }
  }
}

}  // namespace
}  // namespace korvex
