// The read path of shared tables: clean copies of records and index pages
// against a plain map, the stamp view against reads of the file, and
// cursors that must see another session's or process's writes although the
// records they read before are still held as copies.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "tables/engine/cache/clean_copies.h"
#include "tables/engine/cache/stamp_view.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/cursor_test_support.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A table K (unique key), V, S string(200) with the records K = V = 1 ..
// `records`, appended in key order; answers them as a map K -> V.
std::map<std::int32_t, std::int32_t> MakeKeyTable(TDataDirectory* dir, std::int32_t records, TTableCreation creation) {
  creation.Indexes.resize(1);
  creation.Indexes[0].Fields[0] = 1;
  creation.Indexes[0].FieldCount = 1;
  creation.Indexes[0].Unique = 1;
  CreateWithCursor(dir, {Field("K", dtInteger), Field("V", dtInteger), Field("S", dtString, 200)}, creation);
  auto c = Cursor(dir, true);
  c->OpenCursor();
  Bytes b(c->GetRecordSize());
  std::map<std::int32_t, std::int32_t> model;
  for (std::int32_t k = 1; k <= records; ++k) {
    c->InitRecord(b.data());
    c->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&k));
    c->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&k));
    c->AppendRecord(b.data());
    model[k] = k;
  }
  c->CloseCursor();
  return model;
}

// The same table in `env`, enciphered (password "pw", given to the
// session) when asked.
std::map<std::int32_t, std::int32_t> MakeKeyTable(Env& env, std::int32_t records, bool encrypted) {
  TTableCreation creation;
  if (encrypted) {
    creation.Settings.Encrypted = true;
    creation.Settings.Password = "pw";
    env.session.AddPassword("pw");
  }
  return MakeKeyTable(env.dir, records, creation);
}

// Random stores, refreshes, finds, erasures and clears: a copy found is
// always the bytes last stored or refreshed under its key (never another key's, never stale), an
// erased or cleared key is gone, the count never passes the capacity, and
// nothing is evicted before the capacity is reached.
TEST(CleanCopies, AgainstAMapOfTheLastStoredBytes) {
  for (std::uint32_t step : {1u, 4096u}) {  // record numbers, page offsets
    std::mt19937 rng(step);
    TCleanCopies copies;
    copies.Configure(24, 24 * 300);
    ASSERT_EQ(copies.Capacity(), 300u);
    std::map<std::uint32_t, Bytes> last;
    auto bytes_of = [](std::uint32_t key, std::uint32_t version) {
      Bytes b(24);
      for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(key * 7 + version + i);
      return b;
    };
    for (std::uint32_t k = 1; k <= 300; ++k) copies.Store(k * step, bytes_of(k, 0).data());
    for (std::uint32_t k = 1; k <= 300; ++k) ASSERT_NE(copies.Find(k * step), nullptr) << k;
    copies.Clear();
    for (int i = 0; i < 60000; ++i) {
      const std::uint32_t key = (1 + rng() % 700) * step;
      const int what = static_cast<int>(rng() % 100);
      if (what < 45) {
        Bytes b = bytes_of(key, static_cast<std::uint32_t>(i));
        copies.Store(key, b.data());
        last[key] = b;
      } else if (what < 55) {
        // A refresh changes a copy there is and keeps no new one.
        Bytes b = bytes_of(key, static_cast<std::uint32_t>(i) + 1);
        const std::size_t count = copies.Count();
        const bool held = copies.Find(key) != nullptr;
        copies.Refresh(key, b.data());
        ASSERT_EQ(copies.Count(), count);
        if (held) last[key] = b;
        else ASSERT_EQ(copies.Find(key), nullptr) << key;
      } else if (what < 90) {
        const std::uint8_t* got = copies.Find(key);
        if (got) {
          ASSERT_TRUE(last.count(key)) << key;
          ASSERT_EQ(Bytes(got, got + 24), last[key]) << key;
        }
      } else if (what < 99) {
        copies.Erase(key);
        last.erase(key);
        ASSERT_EQ(copies.Find(key), nullptr);
      } else {
        copies.Clear();
        last.clear();
        ASSERT_EQ(copies.Count(), 0u);
      }
      ASSERT_LE(copies.Count(), copies.Capacity());
    }
  }
  TCleanCopies none;
  none.Configure(0, 1 << 20);
  none.Store(1, nullptr);
  EXPECT_FALSE(none.Enabled());
  EXPECT_EQ(none.Find(1), nullptr);
}

// The view shows what a read of the file shows: writes through another
// descriptor at once, a file cut short and grown again, in-memory files
// by reading.
TEST(StampView, SeesWhatTheFileHolds) {
  qvtest::TempDir tmp;
  const std::string path = tmp.File("s.BIN");
  qvtest::WriteFileBytes(path, std::string(64, 'a'));
  TFileHandler file;
  file.SetFileName(path);
  file.OpenFile();
  TStampView view;
  std::uint8_t got[4] = {};
  view.Read(file, got, 4);
  EXPECT_TRUE(view.Mapped());
  EXPECT_EQ(std::string(got, got + 4), "aaaa");
  const int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  for (const char* stamp : {"bcde", "\x01\x02\x03\x04", "zzzz"}) {
    ASSERT_EQ(::pwrite(fd, stamp, 4, 0), 4);
    view.Read(file, got, 4);
    EXPECT_EQ(std::string(got, got + 4), std::string(stamp, 4));
  }
  ASSERT_EQ(::ftruncate(fd, 0), 0);
  view.Read(file, got, 4);  // no crash: the lost page reads as zeros
  ASSERT_EQ(::pwrite(fd, "wxyz", 4, 0), 4);
  for (int i = 0; i < 2; ++i) view.Read(file, got, 4);
  EXPECT_EQ(std::string(got, got + 4), "wxyz");
  ::close(fd);
  view.Drop();
  file.CloseFile();
}

// A shared cursor reads every record by key in random order (most of them
// then live only as clean copies), another session or process modifies,
// deletes and appends; the cursor must then read exactly the new state, by
// key and by walking, and its own writes too.
TEST(CleanCopies, CursorsSeeOtherWritersOverTheirCopies) {
  qvtest::TempDir tmp;
  const std::string dir = tmp.path().string();
  constexpr std::int32_t kRecords = 3000;
  std::map<std::int32_t, std::int32_t> model;
  {
    Env env(dir);
    model = MakeKeyTable(env.dir, kRecords, {});
  }
  // One writer's round: modifies, deletes and appends drawn from the seed,
  // applied to the table through `d` and to the model (nullptr: the model
  // only, for a round another process runs).
  auto write_round = [&](TDataDirectory* d, unsigned seed, std::map<std::int32_t, std::int32_t>& m) {
    std::mt19937 rng(seed);
    std::unique_ptr<TDataCursor> w = d ? Cursor(d, false) : nullptr;
    if (w) w->OpenCursor();
    Bytes b(w ? w->GetRecordSize() : 0);
    for (int i = 0; i < 60; ++i) {
      std::int32_t k = static_cast<std::int32_t>(1 + rng() % (kRecords + 200));
      const int what = static_cast<int>(rng() % 3);
      const bool found = m.count(k) == 1;
      std::int32_t v = static_cast<std::int32_t>(seed * 100000 + i);
      if (w) {
        w->InitRecord(b.data());
        w->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&k));
        if (w->Find(false, b.data(), 0, false, 0, b.data()) != found) return false;
        if (found && w->GetCurrentRecord(b.data(), true) != 0) return false;  // locked
        if (found && what == 0) {
          w->DeleteRecord(b.data());
        } else {
          w->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&v));
          if (found) {
            w->ModifyRecord(b.data(), true);
          } else {  // a Find that fails leaves the nearest record in the buffer
            w->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&k));
            w->AppendRecord(b.data());
          }
        }
      }
      if (found && what == 0) m.erase(k);
      else m[k] = v;
    }
    return true;
  };
  Env env(dir);
  auto c = Cursor(env.dir, false);
  c->OpenCursor();
  Bytes b(c->GetRecordSize());
  auto value_of = [&](std::int32_t k, std::int32_t& v) {
    c->InitRecord(b.data());
    c->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&k));
    if (!c->Find(false, b.data(), 0, false, 0, b.data())) return false;
    c->GetField(2, b.data(), reinterpret_cast<std::uint8_t*>(&v));
    return true;
  };
  auto expect_model = [&](const char* when) {
    std::vector<std::int32_t> keys;
    for (std::int32_t k = 1; k <= kRecords + 200; ++k) keys.push_back(k);
    std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
    for (std::int32_t k : keys) {
      std::int32_t v = 0;
      const bool found = value_of(k, v);
      ASSERT_EQ(found, model.count(k) == 1) << when << " key " << k;
      if (found) {
        ASSERT_EQ(v, model[k]) << when << " key " << k;
      }
    }
    std::map<std::int32_t, std::int32_t> walked;
    c->SetToBegin();
    while (c->GetNextRecord(b.data()) == 0) {
      std::int32_t k = 0, v = 0;
      c->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&k));
      c->GetField(2, b.data(), reinterpret_cast<std::uint8_t*>(&v));
      walked[k] = v;
    }
    ASSERT_EQ(walked, model) << when;
  };
  expect_model("at first");
  for (unsigned round = 1; round <= 3; ++round) {
    {
      Env other(dir);
      ASSERT_TRUE(write_round(other.dir, round, model));
    }
    expect_model("after another session");
    qvtest::ChildProcess child([&](qvtest::ChildProcess&) -> int {
      Env other(dir);
      std::map<std::int32_t, std::int32_t> theirs = model;
      return write_round(other.dir, 10 + round, theirs) ? 0 : 1;
    });
    ASSERT_EQ(child.Wait(), 0);
    write_round(nullptr, 10 + round, model);
    expect_model("after another process");
    // The cursor's own writes over its copies.
    ASSERT_TRUE(write_round(env.dir, 20 + round, model));
    expect_model("after its own session's writes");
  }
  c->CloseCursor();
}

// Filter scans read windows of the file past the cache: records the cache
// holds modified (an exclusive cursor's unflushed writes) must win over the
// window, and a window must not outlive a write of its records.
TEST(CleanCopies, FilterScansSeeWritesTheCacheStillHolds) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  CreateWithCursor(env.dir, {Field("K", dtInteger), Field("V", dtInteger), Field("S", dtString, 200)});
  auto c = Cursor(env.dir, true);
  c->OpenCursor();
  constexpr std::int32_t kRecords = 4000;
  std::vector<std::int32_t> model(kRecords + 1, 0);
  Bytes b(c->GetRecordSize());
  for (std::int32_t k = 1; k <= kRecords; ++k) {
    c->InitRecord(b.data());
    c->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&k));
    c->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&model[k]));
    c->AppendRecord(b.data());
  }
  c->Table()->FlushBuffers(true, false, false, false, false);
  std::mt19937 rng(4);
  for (int round = 0; round < 12; ++round) {
    for (int i = 0; i < 150; ++i) {
      const auto n = static_cast<std::int32_t>(1 + rng() % kRecords);
      ASSERT_EQ(c->GotoPhysicalRecordNumber(static_cast<std::uint32_t>(n)), 0);
      ASSERT_EQ(c->GetCurrentRecord(b.data(), false), 0);
      model[n] = static_cast<std::int32_t>(rng() % 10);
      c->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&model[n]));
      c->ModifyRecord(b.data(), false);
    }
    if (round % 3 == 2) c->Table()->FlushBuffers(true, false, false, false, false);
    const std::int32_t threshold = static_cast<std::int32_t>(rng() % 10);
    TFilter* f = c->AddFilter(0, "V >= " + std::to_string(threshold), nullptr, false, nullptr, {});
    c->ActivateFilter(f);
    const auto want = static_cast<std::uint32_t>(
        std::count_if(model.begin() + 1, model.end(), [&](std::int32_t v) { return v >= threshold; }));
    EXPECT_EQ(c->GetRecordCount(), want) << round;
    c->DropFilter(f);
  }
  c->CloseCursor();
}

// A walk by key over records that lie in key order (its steps stay inside
// the leaf they read before and its records come through the scan window)
// while other writers change what lies ahead of it between its steps:
// another cursor of the same session (also inside a transaction, its
// writes only in the cache), another session, another process. Every step
// must land on the model's next key with the value it holds at that
// moment, forward and backward, in plain and enciphered tables.
TEST(CleanCopies, WalksByKeySeeWritesAheadOfThem) {
  enum Writer { kSameSession, kTransaction, kOtherSession, kOtherProcess };
  struct Case {
    Writer writer;
    bool encrypted;
  } const cases[] = {{kSameSession, false}, {kTransaction, false}, {kOtherSession, false},
                     {kOtherProcess, false}, {kSameSession, true},  {kOtherSession, true}};
  constexpr std::int32_t kRecords = 1500;
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << "writer " << k.writer << (k.encrypted ? " enciphered" : ""));
    qvtest::TempDir tmp;
    const std::string dir = tmp.path().string();
    Env env(dir);
    std::map<std::int32_t, std::int32_t> model = MakeKeyTable(env, kRecords, k.encrypted);
    // Changes just ahead of `at` in the walk's direction: the next key's
    // value, a delete two keys on, now and then a new key past the end,
    // and a value far ahead (inside a window read later).
    auto change = [&](TDataDirectory* d, std::map<std::int32_t, std::int32_t>& m, std::int32_t at, int direction,
                      unsigned seed) {
      std::mt19937 rng(seed);
      std::unique_ptr<TDataCursor> w = d ? Cursor(d, false) : nullptr;
      if (w) w->OpenCursor();
      Bytes b(w ? w->GetRecordSize() : 0);
      auto ahead = [&](int steps) {
        auto it = m.find(at);
        for (int i = 0; i < steps && it != m.end(); ++i) {
          if (direction > 0) ++it;
          else it = it == m.begin() ? m.end() : std::prev(it);
        }
        return it == m.end() ? 0 : it->first;
      };
      auto write = [&](std::int32_t key, bool remove, std::int32_t value) {
        if (key == 0) return true;
        if (w) {
          w->InitRecord(b.data());
          w->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&key));
          const bool found = w->Find(false, b.data(), 0, false, 0, b.data());
          if (found != (m.count(key) == 1)) return false;
          if (found && w->GetCurrentRecord(b.data(), true) != 0) return false;
          if (remove) {
            w->DeleteRecord(b.data());
          } else {
            w->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&key));
            w->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&value));
            if (found) w->ModifyRecord(b.data(), true);
            else w->AppendRecord(b.data());
          }
        }
        if (remove) m.erase(key);
        else m[key] = value;
        return true;
      };
      const auto value = static_cast<std::int32_t>(100000 + rng() % 100000);
      bool ok = write(ahead(1), false, value) && write(ahead(40), false, value + 1);
      if (ok && rng() % 5 == 0) ok = write(ahead(2), true, 0);
      if (ok && rng() % 7 == 0) ok = write(m.empty() ? 1 : m.rbegin()->first + 1, false, value + 2);
      return ok;
    };
    auto walker = Cursor(env.dir, false);
    walker->OpenCursor();
    std::unique_ptr<Env> other;
    if (k.writer == kOtherSession) {
      other = std::make_unique<Env>(dir);
      if (k.encrypted) other->session.AddPassword("pw");
    }
    TDataDirectory* writer_dir = k.writer == kOtherSession ? other->dir : env.dir;
    if (k.writer == kTransaction) env.dir->StartTransaction();
    Bytes b(walker->GetRecordSize());
    unsigned seed = 1;
    for (int direction : {1, -1}) {
      std::int32_t at = 0;
      int steps = 0;
      if (direction > 0) walker->SetToBegin();
      else walker->SetToEnd();
      for (;;) {
        const auto status = direction > 0 ? walker->GetNextRecord(b.data()) : walker->GetPriorRecord(b.data());
        auto next = direction > 0 ? model.upper_bound(at) : model.lower_bound(at == 0 ? INT32_MAX : at);
        if (direction < 0) next = next == model.begin() ? model.end() : std::prev(next);
        if (status != 0) {
          ASSERT_TRUE(next == model.end()) << "walk ended before key " << next->first;
          break;
        }
        std::int32_t key = 0, value = 0;
        walker->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&key));
        walker->GetField(2, b.data(), reinterpret_cast<std::uint8_t*>(&value));
        ASSERT_TRUE(next != model.end()) << "read key " << key << " past the end";
        ASSERT_EQ(key, next->first) << "step " << steps << " direction " << direction;
        ASSERT_EQ(value, next->second) << "key " << key;
        at = key;
        ++steps;
        // Most steps change nothing, so the walk also runs on through
        // leaves and windows it already holds.
        if (steps % 9 != 0) continue;
        if (k.writer == kOtherProcess) {
          if (steps % 180 != 0) continue;
          qvtest::ChildProcess child([&](qvtest::ChildProcess&) -> int {
            Env theirs_env(dir);
            std::map<std::int32_t, std::int32_t> theirs = model;
            return change(theirs_env.dir, theirs, at, direction, seed) ? 0 : 1;
          });
          ASSERT_EQ(child.Wait(), 0);
          change(nullptr, model, at, direction, seed++);
        } else {
          ASSERT_TRUE(change(writer_dir, model, at, direction, seed++));
        }
      }
    }
    if (k.writer == kTransaction) env.dir->CommitTransaction(true);
    walker->CloseCursor();
  }
}

// A walk in file order inside a transaction that writes each record it
// reads (V + 1, as an UPDATE of every row does; its reads come through the
// scan window, the records it writes enter the cache), while another
// cursor of the same session writes between its steps: the record the walk
// has just read (before the walk writes it), records ahead of it (changed
// and deleted) and behind it. Every step must read the model's value at
// that moment, the walk's own write must win over the other cursor's on
// the record it read, and after the commit (with intermediate commits, as
// a long statement makes) or the rollback another session must find the
// model's records or those from before the transaction; plain and
// enciphered tables.
TEST(ScanWindow, WalksInsideATransactionWriteWhatTheyRead) {
  struct Case {
    bool encrypted, rollback;
    int commit_every;
  } const cases[] = {{false, false, 0}, {false, false, 250}, {true, false, 97}, {false, true, 0}, {true, true, 0}};
  constexpr std::int32_t kRecords = 3000;
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << (k.encrypted ? "enciphered" : "plain") << (k.rollback ? " rollback" : "")
                                      << " commit every " << k.commit_every);
    qvtest::TempDir tmp;
    const std::string dir = tmp.path().string();
    Env env(dir);
    std::map<std::int32_t, std::int32_t> model = MakeKeyTable(env, kRecords, k.encrypted);
    const std::map<std::int32_t, std::int32_t> before = model;
    auto walker = Cursor(env.dir, false), other = Cursor(env.dir, false);
    walker->OpenCursor();
    other->OpenCursor();
    Bytes b(walker->GetRecordSize()), o(other->GetRecordSize());
    // The other cursor's write of `key` (a delete when `value` is 0).
    auto write = [&](std::int32_t key, std::int32_t value) {
      other->InitRecord(o.data());
      other->PutField(1, o.data(), reinterpret_cast<const std::uint8_t*>(&key));
      ASSERT_TRUE(other->Find(false, o.data(), 0, false, 0, o.data())) << key;
      ASSERT_EQ(other->GetCurrentRecord(o.data(), true), 0);
      if (value == 0) {
        other->DeleteRecord(o.data());
        model.erase(key);
        return;
      }
      other->PutField(2, o.data(), reinterpret_cast<const std::uint8_t*>(&value));
      other->ModifyRecord(o.data(), true);
      model[key] = value;
    };
    std::mt19937 rng(k.commit_every + (k.encrypted ? 1 : 0) + (k.rollback ? 2 : 0));
    env.dir->StartTransaction();
    walker->SetToBegin();
    std::int32_t at = 0;
    int steps = 0;
    while (walker->GetNextRecord(b.data()) == 0) {
      std::int32_t key = 0, value = 0;
      walker->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&key));
      walker->GetField(2, b.data(), reinterpret_cast<std::uint8_t*>(&value));
      const auto next = model.upper_bound(at);
      ASSERT_TRUE(next != model.end()) << "read key " << key << " past the end";
      ASSERT_EQ(key, next->first) << "step " << steps;
      ASSERT_EQ(value, next->second) << "key " << key;
      at = key;
      const auto draw = [&](std::int32_t from, std::int32_t span) {
        auto it = model.lower_bound(from + static_cast<std::int32_t>(rng() % span));
        return it == model.end() || it->first == key ? 0 : it->first;
      };
      const auto changed = static_cast<std::int32_t>(1000000 + rng() % 1000000);
      if (rng() % 4 == 0) write(key, changed);
      if (const std::int32_t ahead = draw(key + 1, 60); ahead != 0 && rng() % 3 == 0)
        write(ahead, rng() % 5 == 0 ? 0 : changed + 1);
      if (const std::int32_t behind = draw(std::max(1, key - 200), 200); behind != 0 && rng() % 5 == 0)
        write(behind, changed + 2);
      walker->UserWriteLockRecord(0);
      ++value;
      walker->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&value));
      walker->ModifyRecord(b.data(), true, false);
      model[key] = value;
      if (k.commit_every != 0 && ++steps % k.commit_every == 0) env.dir->CommitTransaction(false);
    }
    ASSERT_TRUE(model.upper_bound(at) == model.end()) << "walk ended before key " << model.upper_bound(at)->first;
    if (k.rollback) env.dir->RollbackTransaction();
    else env.dir->CommitTransaction(true);
    walker->CloseCursor();
    other->CloseCursor();
    Env reader_env(dir);
    if (k.encrypted) reader_env.session.AddPassword("pw");
    auto reader = Cursor(reader_env.dir, false);
    reader->OpenCursor();
    std::map<std::int32_t, std::int32_t> found;
    Bytes r(reader->GetRecordSize());
    while (reader->GetNextRecord(r.data()) == 0) {
      std::int32_t key = 0, value = 0;
      reader->GetField(1, r.data(), reinterpret_cast<std::uint8_t*>(&key));
      reader->GetField(2, r.data(), reinterpret_cast<std::uint8_t*>(&value));
      found[key] = value;
    }
    EXPECT_EQ(found, k.rollback ? before : model);
    reader->CloseCursor();
  }
}

// A cursor that walks past the record cache reads, forwards and backwards,
// what a walk through the cache reads: records only the cache holds (an
// exclusive cursor's writes, appends past the file's end), records changed
// there, deleted ones skipped.
TEST(ScanWindow, WalksPastTheCacheReadWhatWalksThroughItRead) {
  struct Case {
    const char* name;
    bool in_memory, exclusive, encrypted;
  } const cases[] = {{"memory, exclusive", true, true, false},
                     {"disk, shared", false, false, false},
                     {"disk, exclusive, enciphered", false, true, true}};
  constexpr std::int32_t kRecords = 4000;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    qvtest::TempDir tmp;
    Env env(tmp.path().string());
    TDataDirectory* dir = k.in_memory ? env.session.OpenDataDirectory("MEMORY", "") : env.dir;
    TTableCreation creation;
    creation.Overwrite = true;
    if (k.encrypted) {
      creation.Settings.Encrypted = true;
      creation.Settings.Password = "pw";
      env.session.AddPassword("pw");
    }
    const std::string name = std::string("walk_") + (k.in_memory ? "m" : "d");
    CreateWithCursor(dir, {Field("K", dtInteger), Field("V", dtInteger), Field("S", dtString, 40)}, creation, name,
                     k.in_memory);
    auto c = Cursor(dir, k.exclusive, name);
    c->SetInMemory(k.in_memory);
    c->OpenCursor();
    Bytes b(c->GetRecordSize());
    std::map<std::int32_t, std::int32_t> model;
    std::mt19937 rng(7);
    auto append = [&](std::int32_t key) {
      c->InitRecord(b.data());
      c->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&key));
      c->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&key));
      c->AppendRecord(b.data(), false);
      model[key] = key;
    };
    for (std::int32_t key = 1; key <= kRecords; ++key) append(key);
    c->Table()->FlushBuffers(true, true, true, true, false);
    // Changes and deletes here and there, and appends past the file's end.
    c->SetToBegin();
    for (std::int32_t key = 1; c->GetNextRecord(b.data()) == 0; ++key) {
      if (rng() % 9 == 0) {
        c->DeleteRecord(b.data(), false);
        model.erase(key);
      } else if (rng() % 5 == 0) {
        ASSERT_EQ(c->GetCurrentRecord(b.data(), true), 0);
        const std::int32_t value = -key;
        c->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&value));
        c->ModifyRecord(b.data(), true, false);
        model[key] = value;
      }
    }
    for (std::int32_t key = kRecords + 1; key <= kRecords + 300; ++key) append(key);
    auto walk = [&](bool past_cache, int direction) {
      c->SetWalkPastCache(past_cache);
      std::vector<std::pair<std::int32_t, std::int32_t>> seen;
      if (direction > 0) c->SetToBegin();
      else c->SetToEnd();
      while ((direction > 0 ? c->GetNextRecord(b.data()) : c->GetPriorRecord(b.data())) == 0) {
        std::int32_t key = 0, value = 0;
        c->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&key));
        c->GetField(2, b.data(), reinterpret_cast<std::uint8_t*>(&value));
        seen.emplace_back(key, value);
      }
      c->SetWalkPastCache(false);
      return seen;
    };
    const std::vector<std::pair<std::int32_t, std::int32_t>> forward(model.begin(), model.end()),
        backward(model.rbegin(), model.rend());
    EXPECT_EQ(walk(true, -1), backward);
    EXPECT_EQ(walk(true, 1), forward);
    EXPECT_EQ(walk(false, 1), forward);
    EXPECT_EQ(walk(false, -1), backward);
    c->CloseCursor();
  }
}

// Records of some 2 KB, more than the clean copies hold: deletes of
// records found by key in one transaction, each leaving the cursor on the
// next key, read the record and, once asked for, that next one, not the
// window after it; a walk in key order afterwards still reads whole
// windows.
TEST(ScanWindow, DeletesByKeyReadTwoRecordsAndWalksReadWindows) {
  qvtest::TempDir tmp;
  Env env(tmp.path().string());
  std::vector<TFieldDefinition> fields{Field("K", dtInteger)};
  for (int i = 0; i < 8; ++i) fields.push_back(Field("S" + std::to_string(i), dtString, 250));
  TTableCreation creation;
  creation.Indexes.resize(1);
  creation.Indexes[0].Fields[0] = 1;
  creation.Indexes[0].FieldCount = 1;
  creation.Indexes[0].Unique = 1;
  CreateWithCursor(env.dir, fields, creation);
  auto c = Cursor(env.dir, true);
  c->OpenCursor();
  Bytes b(c->GetRecordSize()), key(c->GetRecordSize());
  const std::uint64_t size = c->GetRecordSize();
  const std::int32_t records = static_cast<std::int32_t>((kCleanRecordBudget / size) * 3 / 2);
  std::set<std::int32_t> live;
  env.dir->StartTransaction();
  for (std::int32_t k = 1; k <= records; ++k) {
    c->InitRecord(b.data());
    c->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&k));
    c->AppendRecord(b.data(), false);
    live.insert(k);
  }
  env.dir->CommitTransaction(true);
  c->CloseCursor();
  c->OpenCursor();
  c->SetIndexPos(0);
  const TDataFile& data = c->Table()->DataFile();
  std::mt19937 rng(5);
  constexpr int kDeletes = 300;
  // Each round: whether the record the cursor moved on to is asked for.
  for (const bool ask : {true, false}) {
    SCOPED_TRACE(ask);
    const std::uint64_t before = data.Statistics().BytesRead;
    env.dir->StartTransaction();
    for (int i = 0; i < kDeletes; ++i) {
      std::int32_t k = 0;
      do k = static_cast<std::int32_t>(1 + rng() % (records - 1));
      while (!live.count(k) || !live.count(k + 1));
      std::fill(key.begin(), key.end(), 0);
      c->PutField(1, key.data(), reinterpret_cast<const std::uint8_t*>(&k));
      ASSERT_TRUE(c->Find(false, key.data(), 0, false, 0, b.data())) << k;
      c->DeleteRecord(b.data());
      live.erase(k);
      if (!ask) continue;
      std::int32_t at = 0;
      ASSERT_EQ(c->GetCurrentRecord(b.data(), false), 0);
      c->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&at));
      ASSERT_EQ(at, k + 1);
    }
    env.dir->CommitTransaction(true);
    EXPECT_LE(data.Statistics().BytesRead - before, (ask ? 2 : 1) * kDeletes * size);
  }
  {
    // A read of the record moved on to that fails leaves it unread: asked
    // for again, it is read then.
    std::int32_t k = 0;
    do k = static_cast<std::int32_t>(1 + rng() % (records - 1));
    while (!live.count(k) || !live.count(k + 1));
    std::fill(key.begin(), key.end(), 0);
    c->PutField(1, key.data(), reinterpret_cast<const std::uint8_t*>(&k));
    ASSERT_TRUE(c->Find(false, key.data(), 0, false, 0, b.data()));
    c->DeleteRecord(b.data());
    live.erase(k);
    {
      FaultAt fault(1);
      EXPECT_EQ(RaisedNumber([&] { c->GetCurrentRecordBuffer(); }), err::kReadError);
    }
    std::int32_t at = 0;
    std::memcpy(b.data(), c->GetCurrentRecordBuffer(), b.size());
    c->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&at));
    EXPECT_EQ(at, k + 1);
  }
  const std::uint32_t reads = data.Statistics().BulkReads;
  std::vector<std::int32_t> seen;
  c->SetToBegin();
  while (c->GetNextRecord(b.data()) == 0) {
    std::int32_t k = 0;
    c->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&k));
    seen.push_back(k);
  }
  EXPECT_EQ(seen, std::vector<std::int32_t>(live.begin(), live.end()));
  EXPECT_LE(data.Statistics().BulkReads - reads, 2 + static_cast<std::uint32_t>(records) * size / 32768);
  c->CloseCursor();
}

// One step of a walk (its status in `status`). Armed, and until a step
// has failed, the step's first read fails: the step must then raise the
// read error and move nothing, and answers false (`failed` set).
bool StepUnlessItFails(bool armed, bool& failed, TEngineErrorCode& status,
                       const std::function<TEngineErrorCode()>& step) {
  if (!armed || failed) {
    status = step();
    return true;
  }
  FaultAt fault(1);
  const int raised = RaisedNumber([&] { status = step(); });
  EXPECT_TRUE(raised == 0 || raised == err::kReadError) << raised;
  failed = raised != 0;
  return !failed;
}

// A walk by an index whose records lie at random through a file twice as
// large as its copies hold reads the records of the keys ahead into the
// copies in file order. Walks forward and back by such an index (V, a shuffle of
// the record numbers) while P, a field no index holds, is changed a few
// keys ahead of the walk (records the walk has most likely read ahead
// already), and now and then a record ahead is deleted: by another cursor
// of the same session, by another session, by another process; plain and
// enciphered. Every step must read the model's record. Alone, a walk reads
// a small part of what one read per record makes; a read that fails on
// the way leaves the cursor where it was, and the walk goes on from there.
// Then the table is optimized in that index's order, copied and repaired,
// and every record of each is compared with the model.
TEST(CleanCopies, WalksByAnIndexAtRandomReadAheadAndSeeWritesAhead) {
  enum Writer { kNone, kSameSession, kOtherSession, kOtherProcess };
  struct Case {
    Writer writer;
    bool encrypted;
  } const cases[] = {{kNone, false}, {kSameSession, false}, {kOtherSession, false}, {kOtherProcess, false},
                     {kOtherSession, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(::testing::Message() << "writer " << k.writer << (k.encrypted ? " enciphered" : ""));
    qvtest::TempDir tmp;
    const std::string dir = tmp.path().string();
    Env env(dir);
    std::vector<TFieldDefinition> fields{Field("K", dtInteger), Field("V", dtInteger), Field("P", dtInteger)};
    for (int i = 0; i < 15; ++i) fields.push_back(Field("S" + std::to_string(i), dtString, 250));
    TTableCreation creation = KeyAndNameIndexes(1, 2);
    if (k.encrypted) {
      creation.Settings.Encrypted = true;
      creation.Settings.Password = "pw";
      env.session.AddPassword("pw");
    }
    CreateWithCursor(env.dir, fields, creation);
    struct Row {
      std::int32_t key, payload;
    };
    std::map<std::int32_t, Row> model;  // by V
    {
      auto c = Cursor(env.dir, true);
      c->OpenCursor();
      Bytes b(c->GetRecordSize());
      const auto records = static_cast<std::int32_t>(kCleanRecordBudget / b.size() * 2);
      std::vector<std::int32_t> v(static_cast<std::size_t>(records));
      for (std::int32_t i = 0; i < records; ++i) v[static_cast<std::size_t>(i)] = i + 1;
      std::shuffle(v.begin(), v.end(), std::mt19937(3));
      env.dir->StartTransaction();
      for (std::int32_t key = 1; key <= records; ++key) {
        c->InitRecord(b.data());
        const std::int32_t value = v[static_cast<std::size_t>(key - 1)];
        c->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&key));
        c->PutField(2, b.data(), reinterpret_cast<const std::uint8_t*>(&value));
        c->PutField(3, b.data(), reinterpret_cast<const std::uint8_t*>(&key));
        c->AppendRecord(b.data(), false);
        model[value] = {key, key};
      }
      env.dir->CommitTransaction(true);
      c->CloseCursor();
    }
    // Changes `steps` keys ahead of V = at: P of one record, and now and
    // then a deletion two keys on.
    auto change = [&](TDataDirectory* d, std::map<std::int32_t, Row>& m, std::int32_t at, int direction, int steps,
                      unsigned seed) {
      std::unique_ptr<TDataCursor> w = d ? Cursor(d, false) : nullptr;
      if (w) w->OpenCursor();
      Bytes b(w ? w->GetRecordSize() : 0);
      auto ahead = [&](int n) {
        auto it = m.find(at);
        for (int i = 0; i < n && it != m.end(); ++i) it = direction > 0 ? std::next(it) : it == m.begin() ? m.end() : std::prev(it);
        return it;
      };
      auto write = [&](std::map<std::int32_t, Row>::iterator it, bool remove, std::int32_t payload) {
        if (it == m.end()) return true;
        if (w) {
          w->InitRecord(b.data());
          w->PutField(1, b.data(), reinterpret_cast<const std::uint8_t*>(&it->second.key));
          if (!w->Find(false, b.data(), 0, false, 0, b.data()) || w->GetCurrentRecord(b.data(), true) != 0)
            return false;
          if (remove) {
            w->DeleteRecord(b.data());
          } else {
            w->PutField(3, b.data(), reinterpret_cast<const std::uint8_t*>(&payload));
            w->ModifyRecord(b.data(), true);
          }
        }
        if (remove) m.erase(it);
        else it->second.payload = payload;
        return true;
      };
      bool ok = write(ahead(steps), false, static_cast<std::int32_t>(1000000 + seed));
      if (ok && seed % 5 == 0) ok = write(ahead(2), true, 0);
      return ok;
    };
    auto walker = Cursor(env.dir, false);
    walker->OpenCursor();
    walker->SetIndexName("S");
    const TDataFile& data = walker->Table()->DataFile();
    std::unique_ptr<Env> other;
    if (k.writer == kOtherSession) {
      other = std::make_unique<Env>(dir);
      if (k.encrypted) other->session.AddPassword("pw");
    }
    TDataDirectory* writer_dir = k.writer == kOtherSession ? other->dir : env.dir;
    Bytes b(walker->GetRecordSize());
    unsigned seed = 1;
    for (int direction : {1, -1}) {
      const std::uint32_t reads = data.Statistics().BulkReads;
      const std::size_t records = model.size();
      std::int32_t at = 0;
      int steps = 0;
      if (direction > 0) walker->SetToBegin();
      else walker->SetToEnd();
      bool failed = false;
      for (;;) {
        TEngineErrorCode status = 0;
        if (!StepUnlessItFails(k.writer == kNone && steps >= 3000, failed, status, [&] {
              return direction > 0 ? walker->GetNextRecord(b.data()) : walker->GetPriorRecord(b.data());
            }))
          continue;
        auto next = direction > 0 ? model.upper_bound(at) : model.lower_bound(at == 0 ? INT32_MAX : at);
        if (direction < 0) next = next == model.begin() ? model.end() : std::prev(next);
        if (status != 0) {
          ASSERT_TRUE(next == model.end()) << "walk ended before V " << next->first;
          break;
        }
        std::int32_t key = 0, value = 0, payload = 0;
        walker->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&key));
        walker->GetField(2, b.data(), reinterpret_cast<std::uint8_t*>(&value));
        walker->GetField(3, b.data(), reinterpret_cast<std::uint8_t*>(&payload));
        ASSERT_TRUE(next != model.end()) << "read V " << value << " past the end";
        ASSERT_EQ(value, next->first) << "step " << steps << " direction " << direction;
        ASSERT_EQ(key, next->second.key) << "V " << value;
        ASSERT_EQ(payload, next->second.payload) << "V " << value;
        at = value;
        ++steps;
        if (k.writer == kNone || steps % 23 != 0) continue;
        const int distance = 1 + static_cast<int>(seed % 60);
        if (k.writer == kOtherProcess) {
          if (steps % 805 != 0) continue;
          qvtest::ChildProcess child([&](qvtest::ChildProcess&) -> int {
            Env theirs_env(dir);
            std::map<std::int32_t, Row> theirs = model;
            return change(theirs_env.dir, theirs, at, direction, distance, seed) ? 0 : 1;
          });
          ASSERT_EQ(child.Wait(), 0);
          change(nullptr, model, at, direction, distance, seed++);
        } else {
          ASSERT_TRUE(change(writer_dir, model, at, direction, distance, seed++));
        }
      }
      ASSERT_EQ(static_cast<std::size_t>(steps), model.size());
      EXPECT_TRUE(failed || k.writer != kNone);
      // One read per record (and a few index pages) without reading ahead.
      if (k.writer == kNone) {
        EXPECT_LT(data.Statistics().BulkReads - reads, records / 4) << direction;
      }
    }
    if (k.writer == kNone) {
      // The same by the key, whose order follows the file: the step's read
      // is the record's own (through the scan window).
      walker->SetIndexPos(0);
      walker->SetToBegin();
      std::int32_t expected = 1;
      bool failed = false;
      for (;;) {
        TEngineErrorCode status = 0;
        if (!StepUnlessItFails(expected >= 3000, failed, status, [&] { return walker->GetNextRecord(b.data()); }))
          continue;
        if (status != 0) break;
        std::int32_t key = 0;
        walker->GetField(1, b.data(), reinterpret_cast<std::uint8_t*>(&key));
        ASSERT_EQ(key, expected);
        ++expected;
      }
      EXPECT_TRUE(failed);
      EXPECT_EQ(static_cast<std::size_t>(expected - 1), model.size());
    }
    walker->CloseCursor();
    if (k.writer != kNone && !k.encrypted) continue;
    // What the walks and writes left, optimized in the walked index's order,
    // copied and repaired: each table, walked by that index, holds the
    // model's records, and the file checker (slow on enciphered files, so
    // on the plain ones) finds nothing in the copy and the repaired table.
    env.session.SetPrivateDirectory(dir);
    const auto expect_model = [&](const std::string& name, bool checked) {
      auto c = Cursor(env.dir, false, name);
      c->OpenCursor();
      c->SetIndexName("S");
      Bytes r(c->GetRecordSize());
      auto m = model.begin();
      for (c->SetToBegin(); c->GetNextRecord(r.data()) == 0; ++m) {
        std::int32_t key = 0, value = 0, payload = 0;
        c->GetField(1, r.data(), reinterpret_cast<std::uint8_t*>(&key));
        c->GetField(2, r.data(), reinterpret_cast<std::uint8_t*>(&value));
        c->GetField(3, r.data(), reinterpret_cast<std::uint8_t*>(&payload));
        ASSERT_TRUE(m != model.end()) << name << ": V " << value << " past the end";
        ASSERT_EQ(value, m->first) << name;
        ASSERT_EQ(key, m->second.key) << name << ": V " << value;
        ASSERT_EQ(payload, m->second.payload) << name << ": V " << value;
      }
      EXPECT_TRUE(m == model.end()) << name << ": the walk ended before V " << m->first;
      c->CloseCursor();
      if (!checked || k.encrypted) return;
      const CheckResult check = RunTableCheck(dir + "/" + name + ".DAT");
      EXPECT_EQ(check.status, 0) << name << ": " << check.output;
    };
    Cursor(env.dir, true)->OptimizeTable("S", true);
    expect_model("t", false);
    Cursor(env.dir, false)->CopyTable("c", true);
    expect_model("c", true);
    Cursor(env.dir, true)->RepairTable(false, false);
    expect_model("t", true);
  }
}

}  // namespace
}  // namespace korvex::testing
