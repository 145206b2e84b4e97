// Transactions of many updates and deletes against a model: random batches
// of edits (some changing the indexed name), deletes and appends, each
// committed, rolled back, or committed under an injected failure and then
// retried or rolled back. After every batch the cursor's walk in key order
// (which reads through the clean copies a commit keeps) and tablecheck.py's
// dump of the files (which shares no code with the engine and checks every
// index tree against the records) must both equal the model. The commit's
// writes go out as spans bridging unchanged bytes, in one batch or in many.
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/temp_dir.h"
#include "tables/engine/cache/journal.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"
#include "tests/tables/engine/flush_kill_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kId = 1, kName = 2, kYear = 3, kNote = 4;

struct Row {
  std::string name;
  std::int32_t year;
  bool operator==(const Row&) const = default;
};
using Model = std::map<std::int32_t, Row>;

std::string Hex(const std::string& s) {
  std::string out;
  char b[3];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

// The live records of tablecheck's dump: ID -> name (hex) and year.
std::map<std::int32_t, std::pair<std::string, std::string>> Dumped(const std::string& output) {
  std::map<std::int32_t, std::pair<std::string, std::string>> rows;
  std::istringstream in(output);
  std::string line;
  bool live = false;
  std::int32_t id = 0;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string tag;
    f >> tag;
    if (tag == "R") {
      long number = 0, deleted = 0;
      f >> number >> deleted >> id;
      live = deleted == 0;
      if (live) rows[id];
    } else if (tag == "V" && live) {
      int position = 0, null_flag = 0;
      std::string value;
      f >> position >> null_flag >> value;
      if (position == kName) rows[id].first = null_flag ? value : "";
      if (position == kYear) rows[id].second = value;
    }
  }
  return rows;
}

class Batches {
public:
  // `create`: a new table, else the one there.
  explicit Batches(const std::string& path, bool create = true) : path_(path), env_(path) {
    TTableCreation creation;
    creation.IndexCount = 1;
    TIndexDefinition primary, names;
    primary.Fields[primary.FieldCount++] = kId;
    primary.Unique = true;
    names.Name = "NAME";
    names.Fields[names.FieldCount++] = kName;
    creation.Indexes = {primary, names};
    // Records of 240 bytes: the record cache holds about 550 of them, so
    // most reads after a commit come from the clean copies or the file.
    if (create)
      CreateWithCursor(env_.dir, {Field("ID", dtInteger, 0, fstAutoInc), Field("NAME", dtString, 12),
                                  Field("YEAR", dtInteger), Field("NOTE", dtString, 200)},
                       creation);
    cursor_ = Cursor(env_.dir, false);
    cursor_->OpenCursor();
    buffer_.resize(cursor_->GetRecordSize());
    key_.resize(cursor_->GetRecordSize());
  }
  ~Batches() { cursor_->CloseCursor(); }

  std::string NewName() { return "N" + std::to_string(rng_() % 400); }

  void Append(Model& model) {
    cursor_->ClearRecord(buffer_.data());
    const Row row{NewName(), static_cast<std::int32_t>(1500 + rng_() % 400)};
    cursor_->PutField(kName, buffer_.data(), reinterpret_cast<const std::uint8_t*>(row.name.c_str()));
    cursor_->PutField(kYear, buffer_.data(), reinterpret_cast<const std::uint8_t*>(&row.year));
    const std::string note(150, 'n');
    cursor_->PutField(kNote, buffer_.data(), reinterpret_cast<const std::uint8_t*>(note.c_str()));
    cursor_->AppendRecord(buffer_.data());
    std::int32_t id = 0;
    cursor_->GetField(kId, buffer_.data(), reinterpret_cast<std::uint8_t*>(&id));
    model[id] = row;
  }

  // An existing ID of the model (the cursor then stands on its record).
  std::int32_t Seek(const Model& model) {
    auto it = model.begin();
    std::advance(it, static_cast<long>(rng_() % model.size()));
    std::int32_t id = it->first;
    cursor_->SetIndexPos(0);
    cursor_->ClearRecord(key_.data());
    cursor_->PutField(kId, key_.data(), reinterpret_cast<const std::uint8_t*>(&id));
    EXPECT_TRUE(cursor_->Find(false, key_.data(), 0, false, 0, buffer_.data())) << id;
    return id;
  }

  void Batch(Model& model, int edits) {
    for (int i = 0; i < edits && !model.empty(); ++i) {
      const unsigned what = rng_() % 10;
      if (what < 2) {
        Append(model);
        continue;
      }
      const std::int32_t id = Seek(model);
      if (what < 5) {
        cursor_->DeleteRecord(buffer_.data());
        model.erase(id);
        continue;
      }
      ASSERT_EQ(cursor_->GetCurrentRecord(buffer_.data(), true), 0);
      Row& row = model[id];
      row.year += 1;
      cursor_->PutField(kYear, buffer_.data(), reinterpret_cast<const std::uint8_t*>(&row.year));
      if (what == 9) {
        row.name = NewName();
        cursor_->PutField(kName, buffer_.data(), reinterpret_cast<const std::uint8_t*>(row.name.c_str()));
      }
      cursor_->ModifyRecord(buffer_.data(), true);
    }
  }

  void Expect(const Model& model) {
    // The cursor's view, in key order.
    cursor_->SetIndexPos(0);
    cursor_->SetToBegin();
    Model seen;
    while (cursor_->GetNextRecord(buffer_.data()) == 0) {
      std::int32_t id = 0, year = 0;
      char name[16] = {};
      cursor_->GetField(kId, buffer_.data(), reinterpret_cast<std::uint8_t*>(&id));
      cursor_->GetField(kYear, buffer_.data(), reinterpret_cast<std::uint8_t*>(&year));
      cursor_->GetField(kName, buffer_.data(), reinterpret_cast<std::uint8_t*>(name));
      seen[id] = {name, year};
    }
    EXPECT_TRUE(seen == model) << "cursor sees " << seen.size() << " records, model " << model.size();
    // Each record looked up by key in random order: read from the cache,
    // the clean copies or the file, as they come.
    std::vector<std::int32_t> ids;
    for (const auto& entry : model) ids.push_back(entry.first);
    std::shuffle(ids.begin(), ids.end(), rng_);
    int wrong = 0;
    for (std::int32_t id : ids) {
      cursor_->ClearRecord(key_.data());
      cursor_->PutField(kId, key_.data(), reinterpret_cast<const std::uint8_t*>(&id));
      std::int32_t year = 0;
      char name[16] = {};
      if (cursor_->Find(false, key_.data(), 0, false, 0, buffer_.data())) {
        cursor_->GetField(kYear, buffer_.data(), reinterpret_cast<std::uint8_t*>(&year));
        cursor_->GetField(kName, buffer_.data(), reinterpret_cast<std::uint8_t*>(name));
      }
      wrong += !(Row{name, year} == model.at(id));
    }
    EXPECT_EQ(wrong, 0);
    ExpectFiles(model);
  }

  // The files' view.
  void ExpectFiles(const Model& model) {
    CheckResult check = RunTableCheck(path_ + "/t.DAT", "--dump");
    ASSERT_EQ(check.status, 0) << check.output.substr(0, 2000);
    auto dumped = Dumped(check.output);
    ASSERT_EQ(dumped.size(), model.size());
    for (const auto& [id, row] : model) {
      auto it = dumped.find(id);
      ASSERT_NE(it, dumped.end()) << id;
      EXPECT_EQ(it->second.first, Hex(row.name)) << id;
      EXPECT_EQ(it->second.second, std::to_string(row.year)) << id;
    }
  }

  // Commits with a failure injected at the k-th step of the journal up to
  // the commit point (past it nothing is left that can fail); true when
  // the commit failed.
  bool CommitFailingAt(int k) {
    int steps = 0;
    const int commits = TJournal::Commits();
    TJournal::SetStepHook([&] {
      if (++steps == k && TJournal::Commits() == commits) RaiseError(err::kWriteError, "injected");
    });
    bool threw = false;
    try {
      env_.dir->CommitTransaction(true);
    } catch (const EKORVEXEngineError&) {
      threw = true;
    }
    TJournal::SetStepHook(nullptr);
    return threw;
  }

  // After a failed commit the files are as before it; the changes, still
  // held, are then committed again (`retry`, answering true) or rolled
  // back, and the table must equal the model.
  bool AfterFailedCommit(Model& model, const Model& changed, bool retry) {
    ExpectFiles(model);
    if (retry) {
      env_.dir->CommitTransaction(true);
      model = changed;
    } else {
      env_.dir->RollbackTransaction();
    }
    Expect(model);
    return retry;
  }

  std::mt19937 rng_{47};
  std::string path_;
  Env env_;
  std::unique_ptr<TDataCursor> cursor_;
  Bytes buffer_, key_;
};

TEST(WriteBatches, CommitsRollbacksAndFailedCommitsMatchAModel) {
  // Two tables in folders of their own, their transactions taking turns in
  // one thread: each commit's flush works in the buffers the other table's
  // last flush left (larger or smaller than it needs), so bytes one flush
  // leaves behind must never reach another's files or journal.
  for (std::int64_t batch_limit : {std::int64_t{0}, std::int64_t{12} << 10}) {
    SCOPED_TRACE("batch limit " + std::to_string(batch_limit));
    TJournal::SetBatchLimit(batch_limit);
    qvtest::TempDir tmp_t, tmp_u;
    Batches t(tmp_t.Path()), u(tmp_u.Path());
    u.rng_.seed(48);
    Model model_t, model_u;
    for (auto [b, model, count] : {std::tuple<Batches*, Model*, int>{&t, &model_t, 3000}, {&u, &model_u, 600}}) {
      b->env_.dir->StartTransaction();
      for (int i = 0; i < count; ++i) b->Append(*model);
      b->env_.dir->CommitTransaction(true);
      b->Expect(*model);
    }
    int failed = 0, retried = 0;
    for (int round = 0; round < 18 && !::testing::Test::HasFatalFailure(); ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      Batches& b = round % 2 == 0 ? t : u;
      Model& model = round % 2 == 0 ? model_t : model_u;
      const int turn = round / 2;
      Model changed = model;
      b.env_.dir->StartTransaction();
      b.Batch(changed, turn % 3 == 0 ? 2500 : 40 + static_cast<int>(b.rng_() % 600));
      const int ending = turn % 3;  // commit, roll back, commit under a fault
      if (ending == 1) {
        b.env_.dir->RollbackTransaction();
      } else if (ending == 0) {
        b.env_.dir->CommitTransaction(true);
        model = changed;
      } else {
        bool threw = false;
        {
          FaultAt fault(2 + static_cast<int>(b.rng_() % 12));
          try {
            b.env_.dir->CommitTransaction(true);
          } catch (const EKORVEXEngineError&) {
            threw = true;
          }
        }
        failed += threw;
        if (!threw) {
          model = changed;
        } else if (turn % 2 == 0) {
          // The changes are still held: the commit is tried again.
          b.env_.dir->CommitTransaction(true);
          model = changed;
          ++retried;
        } else {
          b.env_.dir->RollbackTransaction();
        }
      }
      b.Expect(model);
      (round % 2 == 0 ? u : t).Expect(round % 2 == 0 ? model_u : model_t);
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(retried, 0);
  }
  TJournal::SetBatchLimit(0);
}

// A commit of many batches goes on encoding while earlier batches are
// written on their thread, but keeps the held bytes of three batches at
// most: a flush that encodes faster than its thread writes held every batch
// of a million appends at once. The table equals the model afterwards.
TEST(WriteBatches, ACommitOfManyBatchesKeepsFewOfThemAtOnce) {
  TJournal::SetBatchLimit(16 << 10);
  qvtest::TempDir tmp;
  Batches b(tmp.Path());
  Model model;
  TJournal::ResetMostBatchesKept();
  b.env_.dir->StartTransaction();
  for (int i = 0; i < 3000; ++i) b.Append(model);
  b.env_.dir->CommitTransaction(true);
  EXPECT_GE(TJournal::MostBatchesKept(), 2u);
  EXPECT_LE(TJournal::MostBatchesKept(), 3u);
  b.Expect(model);
  TJournal::SetBatchLimit(0);
}

TEST(WriteBatches, AFailureAtAnyStepOfACommitInManyBatchesLeavesTheFilesAsTheyWere) {
  // A commit of several batches encodes one batch while the journal of the
  // one before syncs (its writes to the files still waiting), and starts a
  // file's sync once the file is done. A failure at any step (steps tried
  // densely first, then further apart) must leave the files as they were,
  // as tablecheck reads them, and the changes still held: committed again
  // or rolled back, the table then equals the model.
  TJournal::SetBatchLimit(64 << 10);
  qvtest::TempDir tmp;
  Batches b(tmp.Path());
  Model model;
  b.env_.dir->StartTransaction();
  for (int i = 0; i < 1500; ++i) b.Append(model);
  b.env_.dir->CommitTransaction(true);
  int failures = 0, committed = 0;
  for (int k = 1; !::testing::Test::HasFatalFailure(); k += 1 + k / 6) {
    SCOPED_TRACE("failing step " + std::to_string(k));
    Model changed = model;
    b.env_.dir->StartTransaction();
    b.Batch(changed, 250);
    // Steps up to the commit point (past it nothing is left that can fail).
    const bool threw = b.CommitFailingAt(k);
    if (!threw) {
      model = changed;
      b.Expect(model);
      break;
    }
    ++failures;
    committed += b.AfterFailedCommit(model, changed, k % 2 == 1);
  }
  EXPECT_GT(failures, 12);
  EXPECT_GT(committed, 3);
  TJournal::SetBatchLimit(0);
}

TEST(WriteBatches, PagesJournaledAheadOfTheCommitServeItAndPlayBackAfterAFailureAtAnyStep) {
  // Inside a transaction the old bytes of the index pages it changes go to
  // the journal ahead of the commit, a few pages at a time on a thread of
  // their own. Until the commit writes its header they protect nothing:
  // the journal is not hot. The commit takes them over (its runs need no
  // entries of their own); a failure at any step of it plays them back
  // with the commit's own entries, and the files are as they were. A
  // rollback drops them, and the next transaction journals its own.
  TJournal::SetAheadBatch(3);
  TJournal::SetBatchLimit(64 << 10);
  qvtest::TempDir tmp;
  Batches b(tmp.Path());
  const std::string journal = tmp.Path() + "/t.JNL";
  Model model;
  b.env_.dir->StartTransaction();
  for (int i = 0; i < 2000; ++i) b.Append(model);
  b.env_.dir->CommitTransaction(true);
  int failures = 0, committed = 0, rolled_back = 0;
  for (int k = 1; !::testing::Test::HasFatalFailure(); k += 1 + k / 5) {
    SCOPED_TRACE("failing step " + std::to_string(k));
    Model changed = model;
    b.env_.dir->StartTransaction();
    b.Batch(changed, 300);
    EXPECT_FALSE(TJournal::IsHot(journal));
    if (k % 7 == 3) {
      // Dropped: nothing of it reaches the files.
      b.env_.dir->RollbackTransaction();
      ++rolled_back;
      EXPECT_FALSE(TJournal::IsHot(journal));
      b.Expect(model);
      continue;
    }
    const std::int64_t ahead = TJournal::PagesJournaledAhead();
    const bool threw = b.CommitFailingAt(k);
    if (!threw) {
      EXPECT_GT(TJournal::PagesJournaledAhead(), ahead);
      model = changed;
      b.Expect(model);
      break;
    }
    ++failures;
    // Retried (journaling every page itself) or rolled back.
    committed += b.AfterFailedCommit(model, changed, k % 2 == 1);
  }
  EXPECT_GT(failures, 10);
  EXPECT_GT(committed, 3);
  EXPECT_GT(rolled_back, 1);
  TJournal::SetBatchLimit(0);
  TJournal::SetAheadBatch(0);
}

TEST(WriteBatches, ACommitOverPagesJournaledAheadKilledAtAnyStep) {
  // A transaction of deletes whose index pages were journaled ahead, its
  // commit killed at its writes and syncs in turn: the next holder of the
  // write lock plays the journal back (entries journaled ahead and the
  // commit's own alike), and the files are as before or as after.
  qvtest::TempDir tmp;
  const std::string path = tmp.Path();
  {
    Batches b(path);
    Model model;
    b.env_.dir->StartTransaction();
    for (int i = 0; i < 2000; ++i) b.Append(model);
    b.env_.dir->CommitTransaction(true);
  }
  TJournal::SetAheadBatch(3);
  FlushKills kills = KillFlushAtSteps(
      path, {".DAT", ".IDX"},
      [&] {
        // Edits, deletes and appends over every record's pages.
        Batches b(path, false);
        Model model;
        for (std::int32_t id = 1; id <= 2000; ++id) model[id] = {"N", 1500};
        b.env_.dir->StartTransaction();
        b.Batch(model, 700);
        const std::int64_t ahead = TJournal::PagesJournaledAhead();
        b.env_.dir->CommitTransaction(true);
        return TJournal::PagesJournaledAhead() > ahead;
      },
      [](int k, int steps) { return k <= 10 || k % 13 == 0 || k == steps; });
  TJournal::SetAheadBatch(0);
  EXPECT_GT(kills.steps, 3);
  EXPECT_GT(kills.befores, 0);
  EXPECT_GT(kills.afters, 0);
}

TEST(WriteBatches, AFileThatCannotGrowFailsTheCommitWhoseWritesGoOnTheJournalsThread) {
  // A large commit's batches are written to the files by the thread that
  // synced their journal, while the flush goes on. A file that cannot grow
  // (a lowered RLIMIT_FSIZE) fails such a write there: the commit must
  // raise, leave the files as they were (tablecheck's view), no journal to
  // play back, and the changes still held for a retry, which then commits
  // them whole. Limits across the growth of the data file, batch limits
  // small (many batches, each on its thread) and the default (the index
  // written before the records, each file's batch sent as that file ends).
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  for (std::int64_t batch_limit : {std::int64_t{16} << 10, std::int64_t{0}}) {
    SCOPED_TRACE("batch limit " + std::to_string(batch_limit));
    TJournal::SetBatchLimit(batch_limit);
    qvtest::TempDir tmp;
    Batches b(tmp.Path());
    Model model;
    b.env_.dir->StartTransaction();
    for (int i = 0; i < 3000; ++i) b.Append(model);
    b.env_.dir->CommitTransaction(true);
    int failed = 0;
    for (double at : {0.05, 0.4, 0.8}) {
      SCOPED_TRACE("limit at " + std::to_string(at));
      const std::string dat = tmp.Path() + "/t.DAT";
      const auto before = static_cast<rlim_t>(std::filesystem::file_size(dat));
      Model changed = model;
      b.env_.dir->StartTransaction();
      for (int i = 0; i < 1500; ++i) b.Append(changed);
      b.Batch(changed, 300);
      rlimit lowered = saved;
      // 1,500 records of about 240 bytes each make the data file grow.
      lowered.rlim_cur = before + static_cast<rlim_t>(at * 1500 * 240);
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
      bool threw = false;
      try {
        b.env_.dir->CommitTransaction(true);
      } catch (const EKORVEXEngineError&) {
        threw = true;
      }
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
      EXPECT_TRUE(threw);
      failed += threw;
      EXPECT_FALSE(TJournal::IsHot(tmp.Path() + "/t.JNL"));
      b.ExpectFiles(model);
      b.env_.dir->CommitTransaction(true);
      model = changed;
      b.Expect(model);
      if (::testing::Test::HasFatalFailure()) break;
    }
    EXPECT_EQ(failed, 3);
  }
  TJournal::SetBatchLimit(0);
  std::signal(SIGXFSZ, previous);
}

}  // namespace
}  // namespace korvex::testing
