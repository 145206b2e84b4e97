// The table repair fuzz body over its committed seeds and 1,000 tables with
// random byte flips: verification and repair always end with an answer or
// an engine error, a completed repair leaves nothing for a second one, and
// every repaired table passes the independent checker (one python3 run over
// all of them). QV_REPAIR_FLIP_SEED picks another series; with
// QV_REPAIR_SEED_DIR set the seeds are written there first.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#define QV_FUZZ_CHECK_FAILED(text) ADD_FAILURE() << "fuzz check failed: " << (text)
#include "fuzz/tables/table_repair_fuzz.h"
#include "support/fuzz_replay.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tests/tables/engine/engine_test_support.h"
#include "tests/tables/engine/repair_support.h"

namespace korvex::testing {
namespace {

namespace fs = std::filesystem;

// The three files as one fuzz input (no index file: length 0xFFFFFFFF).
qvtest::Bytes Input(const std::string& dat, const std::string* idx, const std::string& blb) {
  qvtest::Bytes input(8);
  rtl::EncodeFixed32(input.data(), static_cast<std::uint32_t>(dat.size()));
  rtl::EncodeFixed32(input.data() + 4, idx ? static_cast<std::uint32_t>(idx->size()) : 0xFFFFFFFFu);
  for (const std::string* part : {&dat, idx, &blb})
    if (part) input.insert(input.end(), part->begin(), part->end());
  return input;
}

TEST(TableRepairFuzz, SeedsAndRandomByteFlipsEndAndPassTheChecker) {
  qvtest::TempDir folder, repaired;
  TDataSession session;
  session.SetPrivateDirectory(folder.Path());
  BuildRepairReference(session.OpenDataDirectory("ref", folder.Path()));
  {
    TDataCursor c(session.OpenDataDirectory("ref2", folder.Path()));
    c.SetTableName("t");
    c.SetExclusive(true);
    c.RepairTable(false, false);
  }
  const std::string dat = qvtest::ReadFileBytes(folder.File("t.DAT"));
  const std::string idx = qvtest::ReadFileBytes(folder.File("t.IDX"));
  const std::string blb = qvtest::ReadFileBytes(folder.File("t.BLB"));
  const qvtest::Bytes reference = Input(dat, &idx, blb);
  if (const char* out = std::getenv("QV_REPAIR_SEED_DIR")) {
    auto write = [&](const char* name, const qvtest::Bytes& bytes) {
      std::ofstream(std::string(out) + "/" + name, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    };
    write("reference", reference);
    write("no_index", Input(dat, nullptr, blb));
  }
  for (const qvtest::Bytes& seed : qvtest::Corpus(QV_SOURCE_DIR "/fuzz/tables/corpus/table_repair")) {
    fuzz::RepairOutcome outcome = fuzz::TableRepair(seed.data(), seed.size());
    EXPECT_TRUE(outcome.repaired);
  }

  const char* chosen = std::getenv("QV_REPAIR_FLIP_SEED");
  std::mt19937 rng(chosen ? static_cast<unsigned>(std::atoi(chosen)) : 20261207u);
  const std::size_t ends[] = {8 + dat.size(), 8 + dat.size() + idx.size(), reference.size()};
  int completed = 0;
  for (int run = 0; run < 1000; ++run) {
    qvtest::Bytes input = reference;
    for (int flips = 1 + static_cast<int>(rng() % 8); flips > 0; --flips) {
      // Half of the flips land in a file's header, where one byte does most.
      const int file = static_cast<int>(rng() % 3);
      const std::size_t begin = file == 0 ? 8 : ends[file - 1];
      const std::size_t span = rng() % 2 ? std::min<std::size_t>(ends[file] - begin, 512) : ends[file] - begin;
      input[begin + rng() % span] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    }
    fuzz::RepairOutcome outcome = fuzz::TableRepair(input.data(), input.size());
    if (!outcome.repaired) continue;
    ++completed;
    const std::string dir = repaired.Path() + "/" + std::to_string(run);
    fs::create_directory(dir);
    const char* names[] = {"/t.DAT", "/t.IDX", "/t.BLB"};
    for (int i = 0; i < 3; ++i) std::ofstream(dir + names[i], std::ios::binary) << outcome.files[i];
  }
  EXPECT_GT(completed, 900);
  qvtest::CommandResult check = qvtest::RunShell(
      "python3 -c \"import os, sys\n"
      "sys.path.insert(0, '" QV_SOURCE_DIR "/tools')\n"
      "import tablecheck\n"
      "root = '" + repaired.Path() + "'\n"
      "keys = tablecheck.parse_keys('" + EngineKeysOption().substr(7) + "')\n"
      "for d in sorted(os.listdir(root), key=int):\n"
      "    r = tablecheck.check_table(os.path.join(root, d, 't.DAT'), keys, False, [])\n"
      "    if r.errors: print(d, r.lines)\n\" 2>&1");
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.output, "") << "repaired tables the checker refuses";
  if (const char* keep = std::getenv("QV_REPAIR_KEEP_DIR")) fs::copy(repaired.Path(), keep, fs::copy_options::recursive);
}

}  // namespace
}  // namespace korvex::testing
