// Flushes killed at their journal steps, shared by the crash tests: a
// step hook that kills the calling process at the k-th write or sync of
// the journal's flushes, and the loop that kills one flush at its steps
// in turn, lets the next holder of the write lock play the journal back
// and finds the files byte for byte as before the flush or as after it,
// with the checker passing.
#pragma once

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tables/engine/cache/journal.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {

// Counts the journal's steps from here on and kills the process at the
// k-th (0: never) with SIGKILL; the hook goes with the object.
class JournalStepKill {
public:
  explicit JournalStepKill(int kill_at) : steps_(std::make_shared<int>(0)) {
    TJournal::SetStepHook([steps = steps_, kill_at] {
      if (++*steps == kill_at) std::raise(SIGKILL);
    });
  }
  ~JournalStepKill() { TJournal::SetStepHook(nullptr); }
  JournalStepKill(const JournalStepKill&) = delete;
  JournalStepKill& operator=(const JournalStepKill&) = delete;
  int Steps() const { return *steps_; }

private:
  std::shared_ptr<int> steps_;
};

// The data file's bytes with its header's time of the last update zeroed.
inline std::string WithoutUpdateTime(std::string dat) {
  if (dat.size() >= 35) std::fill(dat.begin() + 27, dat.begin() + 35, '\0');
  return dat;
}

struct FlushKills {
  int steps = 0;  // of the flush run to its end
  std::vector<std::string> before, after;  // the files' bytes (data file without its time)
  int befores = 0, afters = 0;  // kills that left the files so
};

// `flush` runs in a child under a JournalStepKill(k) and returns true when
// it got to its end; the table is "t" in `dir`, its files `exts` (".DAT"
// first). The flush runs once to its end, then once for each step `tried`
// picks: each time the files are put back first, the child must die at the
// step, and a fresh session takes and releases the write lock.
inline FlushKills KillFlushAtSteps(const std::string& dir, const std::vector<std::string>& exts,
                                   const std::function<bool()>& flush, const std::function<bool(int, int)>& tried) {
  FlushKills result;
  auto files = [&](bool timeless) {
    std::vector<std::string> bytes;
    for (const std::string& ext : exts) {
      bytes.push_back(qvtest::ReadFileBytes(dir + "/t" + ext));
      if (timeless && ext == ".DAT") bytes.back() = WithoutUpdateTime(bytes.back());
    }
    return bytes;
  };
  auto run = [&](int kill_at) {
    return qvtest::ChildProcess([&](qvtest::ChildProcess&) {
             JournalStepKill kill(kill_at);
             if (!flush()) return 200;
             qvtest::WriteFileBytes(dir + "/steps", std::to_string(kill.Steps()));
             return 0;
           })
        .Wait();
  };
  result.before = files(false);
  EXPECT_EQ(run(0), 0);
  result.steps = std::stoi(qvtest::ReadFileBytes(dir + "/steps"));
  result.after = files(true);
  EXPECT_EQ(RunTableCheck(dir + "/t.DAT").status, 0);
  for (int k = 1; k <= result.steps; ++k) {
    if (!tried(k, result.steps)) continue;
    for (std::size_t i = 0; i < exts.size(); ++i) qvtest::WriteFileBytes(dir + "/t" + exts[i], result.before[i]);
    EXPECT_EQ(run(k), 128 + SIGKILL) << k;
    {
      TDataSession session;
      TDataDirectory* directory = session.OpenDataDirectory("data", dir);
      TDataTable* t = nullptr;
      EXPECT_EQ(directory->OpenDataTable("t", t, TOpenTableRequest{}), 0);
      t->WriteLockTable();
      t->WriteUnlockTable();
    }
    EXPECT_FALSE(TJournal::IsHot(dir + "/t.JNL")) << k;
    const std::vector<std::string> now = files(false), now_timeless = files(true);
    const bool before = now == result.before, after = now_timeless == result.after;
    EXPECT_TRUE(before || after) << "killed at step " << k << " of " << result.steps;
    result.befores += before;
    result.afters += after;
    CheckResult check = RunTableCheck(dir + "/t.DAT");
    EXPECT_EQ(check.status, 0) << k << ": " << check.output;
  }
  return result;
}

}  // namespace korvex::testing
