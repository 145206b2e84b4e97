// Replays the index-file fuzz corpus and mutations of it through the fuzz
// body. With QV_TABLES_SEED_DIR set it first writes the seeds there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "fuzz/tables/index_file_fuzz.h"
#include "tables/lib/collation.h"
#include "support/fuzz_replay.h"
#include "tests/tables/engine/index_table_support.h"

namespace korvex {
namespace {

using testing::Field;
using testing::IndexTable;

// A table of `records` records with a compressed secondary index, as fuzz
// input.
qvtest::Bytes MakeSeed(int records, std::uint8_t compression, std::uint16_t language) {
  qvtest::TempDir dir;
  TDataFileSettings settings;
  settings.LanguageID = language;
  TIndexDefinition primary;
  primary.FieldCount = 1;
  primary.Fields[0] = 1;
  IndexTable t(dir.Path(), {Field("ID", dtInteger), Field("Name", dtString, 12)}, settings, primary, {});
  t.index->AddSecondaryIndex(t.Definition("ByName", {2}, false, true, compression));
  for (int i = 0; i < records; ++i) {
    std::vector<std::uint8_t> r(t.data->GetRecordSize(), 0);
    r[9] = 1;
    rtl::EncodeFixed32(r.data() + 10, static_cast<std::uint32_t>(i));
    r[14] = 1;
    std::snprintf(reinterpret_cast<char*>(r.data() + 15), 12, "n%d", i % 37);
    std::uint32_t n = 0;
    EXPECT_TRUE(t.AddRecord(r, n));
  }
  t.Flush();
  std::string dat = qvtest::ReadFileBytes(dir.File("t.DAT"));
  std::string idx = qvtest::ReadFileBytes(dir.File("t.IDX"));
  qvtest::Bytes seed(4);
  rtl::EncodeFixed32(seed.data(), static_cast<std::uint32_t>(dat.size()));
  seed.insert(seed.end(), dat.begin(), dat.end());
  seed.insert(seed.end(), idx.begin(), idx.end());
  return seed;
}

TEST(IndexFileFuzz, CorpusAndMutations) {
  const std::string corpus = "fuzz/tables/corpus/index_file";
  std::vector<qvtest::Bytes> seeds = {MakeSeed(300, 3, 0), MakeSeed(40, 0, MakeLanguageID(7, 1))};
  if (const char* out = std::getenv("QV_TABLES_SEED_DIR")) {
    for (std::size_t i = 0; i < seeds.size(); ++i)
      std::ofstream(std::string(out) + "/seed" + std::to_string(i), std::ios::binary)
          .write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
  }
  for (const qvtest::Bytes& s : qvtest::Corpus(std::filesystem::path(QV_SOURCE_DIR) / corpus)) seeds.push_back(s);
  std::mt19937 rng(20);
  for (const qvtest::Bytes& seed : seeds) {
    fuzz::IndexFiles(seed.data(), seed.size());
    for (int round = 0; round < 2000 && !HasFailure(); ++round) {
      qvtest::Bytes input = seed;
      for (int k = 0, n = 1 + static_cast<int>(rng() % 4); k < n; ++k) {
        std::size_t at = 4 + rng() % (input.size() - 8);
        if (rng() % 2) input[at] = static_cast<std::uint8_t>(rng());
        else rtl::EncodeFixed32(input.data() + at, rng() % 3 ? static_cast<std::uint32_t>(rng() % 8) * 4096 : rng());
      }
      fuzz::IndexFiles(input.data(), input.size());
    }
  }
}

}  // namespace
}  // namespace korvex
