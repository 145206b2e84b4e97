// The table files' entry cache against a model (std::map by key, std::list
// for the most-recently-used chain): random adds, removals, re-keyings,
// touches and lookups over keys of the three files' kinds (record numbers,
// page offsets, block offsets, and keys crowding one part of the table),
// checking after every step what the cache finds, its count, its order by
// key, its modified entries and their runs of neighbours, its eviction choice
// and what it lets go when shrunk; then the
// entries it hands out while writes are held, and emptied one at a time.
#include "tables/engine/cache/entry_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <map>
#include <memory>
#include <random>

namespace korvex {
namespace {

// The cache's modified runs as one list per run.
std::vector<std::vector<TCacheEntry*>> RunsOf(const TEntryCache& cache, std::uint32_t step, std::uint32_t skip_first,
                                              std::uint32_t skip_last) {
  std::vector<TCacheEntry*> entries;
  std::vector<std::size_t> starts;
  cache.ModifiedRuns(step, skip_first, skip_last, entries, starts);
  std::vector<std::vector<TCacheEntry*>> runs;
  for (std::size_t r = 0; r + 1 < starts.size(); ++r)
    runs.emplace_back(entries.begin() + static_cast<std::ptrdiff_t>(starts[r]),
                      entries.begin() + static_cast<std::ptrdiff_t>(starts[r + 1]));
  return runs;
}

TEST(EntryCache, ModelRunOverEveryKindOfKey) {
  std::mt19937 rng(7031);
  for (int round = 0; round < 12; ++round) {
    const std::uint32_t step = round % 3 == 0 ? 1 : round % 3 == 1 ? 4096 : 64;
    auto draw = [&]() -> std::uint32_t {
      switch (rng() % 4) {
        case 0: return static_cast<std::uint32_t>(rng());  // anywhere
        case 1: return step * (1 + static_cast<std::uint32_t>(rng() % 40));  // neighbours
        case 2: return 0xFFFFFFFFu - static_cast<std::uint32_t>(rng() % 8);  // the top
        default: return static_cast<std::uint32_t>(rng() % 600) << 20;  // one home, many keys
      }
    };
    TEntryCache cache;
    cache.SetCapacity(1u << 30);
    std::vector<std::unique_ptr<TCacheEntry>> owned;
    std::map<std::uint32_t, TCacheEntry*> model;
    std::list<TCacheEntry*> chain;  // newest first
    auto front = [&](TCacheEntry* e) {
      chain.remove(e);
      chain.push_front(e);
    };
    auto pick = [&]() {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      return it->second;
    };
    const int steps = round < 4 ? 3000 : 600;
    for (int op = 0; op < steps && !HasFailure(); ++op) {
      const unsigned choice = rng() % 20;
      if (choice < 8 || model.empty()) {
        const std::uint32_t key = draw();
        if (model.count(key)) continue;
        owned.push_back(std::make_unique<TCacheEntry>());
        TCacheEntry* e = owned.back().get();
        e->Key = key;
        e->Modified = rng() % 2;
        cache.Insert(e);
        model[key] = e;
        front(e);
      } else if (choice < 12) {
        TCacheEntry* e = pick();
        cache.Remove(e);
        model.erase(e->Key);
        chain.remove(e);
      } else if (choice < 14) {
        TCacheEntry* e = pick();
        const std::uint32_t key = draw();
        if (model.count(key)) continue;
        model.erase(e->Key);
        cache.Rekey(e, key);
        model[key] = e;
        front(e);
      } else if (choice < 16) {
        TCacheEntry* e = pick();
        cache.Touch(e);
        front(e);
      } else if (choice < 17) {
        // As the files do: an entry changes after the cache handed it out.
        TCacheEntry* e = pick();
        ASSERT_EQ(cache.Find(e->Key), e);
        e->Modified = !e->Modified;
        e->UseCount = static_cast<std::uint16_t>(rng() % 3 == 0);
      } else if (choice < 18) {
        // An entry in use changes whenever its holder likes.
        TCacheEntry* e = pick();
        if (e->UseCount) e->Modified = !e->Modified;
      } else if (choice < 19 && op % 50 == 0) {
        cache.Clear();
        model.clear();
        chain.clear();
      } else if (choice == 19) {
        // Shrunk to a few (the table built again) or by a few (removals).
        const std::size_t keep = rng() % 2 ? rng() % 4 : model.size() - std::min<std::size_t>(model.size(), rng() % 4);
        std::vector<TCacheEntry*> expected, released;
        for (auto it = chain.rbegin(); it != chain.rend() && model.size() - expected.size() > keep; ++it)
          if ((*it)->Evictable()) expected.push_back(*it);
        cache.Shrink(keep, [&](TCacheEntry* e) { released.push_back(e); });
        ASSERT_EQ(released, expected) << round << " " << op;
        for (TCacheEntry* e : released) {
          model.erase(e->Key);
          chain.remove(e);
        }
      }
      // Lookups of every key held and of keys that are not.
      ASSERT_EQ(cache.Count(), model.size()) << round << " " << op;
      // (A lookup hands an entry out: every key is looked up only now and
      // then, so that the walks over modified entries see few of them.)
      if (op % 97 == 0) {
        for (const auto& [key, e] : model) ASSERT_EQ(cache.Find(key), e) << round << " " << op << " " << key;
      }
      for (int i = 0; i < 8; ++i) {
        const std::uint32_t key = draw();
        ASSERT_EQ(cache.Find(key), model.count(key) ? model[key] : nullptr) << round << " " << op << " " << key;
      }
      ASSERT_EQ(cache.MostRecent(), chain.empty() ? nullptr : chain.front());
      if (op % 10 != 0) continue;
      std::vector<TCacheEntry*> sorted;
      for (const auto& [key, e] : model) sorted.push_back(e);
      ASSERT_EQ(cache.Sorted(), sorted) << round << " " << op;
      const std::uint32_t skip_first = step * 5, skip_last = step * 9;
      std::vector<std::vector<TCacheEntry*>> runs;
      for (TCacheEntry* e : sorted) {
        if (!e->Modified || e->UseCount || (e->Key >= skip_first && e->Key <= skip_last)) continue;
        if (runs.empty() || std::uint64_t{runs.back().back()->Key} + step != e->Key) runs.emplace_back();
        runs.back().push_back(e);
      }
      ASSERT_EQ(RunsOf(cache, step, skip_first, skip_last), runs) << round << " " << op;
      std::vector<TCacheEntry*> modified, listed;
      for (TCacheEntry* e : sorted)
        if (e->Modified) modified.push_back(e);
      cache.ForEachModified([&](TCacheEntry* e) { listed.push_back(e); });
      ASSERT_EQ(listed, modified) << round << " " << op;
      TCacheEntry* evictable = nullptr;
      for (auto it = chain.rbegin(); it != chain.rend() && !evictable; ++it)
        if ((*it)->Evictable()) evictable = *it;
      ASSERT_EQ(cache.FindEvictable(), evictable) << round << " " << op;
    }
    // A full cache hands out its oldest evictable entry; with none, while
    // writes are held it grows, else it flushes once (the walk for modified
    // entries that writes them) and looks again. Meanwhile entries turn
    // modified (a write changes them) or stop being in use, are touched or
    // are given back. Alternate rounds hold writes; the searches skip the
    // modified entries at the old end of the chain that an earlier one
    // passed, and must still find what a walk from the oldest finds.
    const bool held = round % 2 == 0;
    cache.SetCapacity(model.size());
    for (int i = 0; i < 300 && !HasFailure() && !model.empty(); ++i) {
      const unsigned choice = rng() % 5;
      if (choice == 0) {
        TCacheEntry* e = pick();
        cache.Touch(e);
        front(e);
      } else if (choice == 1) {
        TCacheEntry* e = pick();
        ASSERT_EQ(cache.Find(e->Key), e);
        e->Modified = true;
      } else if (choice == 2 && model.size() > 1) {
        TCacheEntry* e = pick();
        cache.Remove(e);
        model.erase(e->Key);
        chain.remove(e);
        cache.SetCapacity(model.size());
      } else if (choice == 3) {
        pick()->UseCount = 0;
      } else {
        std::uint32_t key = draw();
        if (model.count(key)) continue;
        auto oldest_evictable = [&]() -> TCacheEntry* {
          for (auto it = chain.rbegin(); it != chain.rend(); ++it)
            if ((*it)->Evictable()) return *it;
          return nullptr;
        };
        TCacheEntry* expected = cache.Full() ? oldest_evictable() : nullptr;
        const bool flush_expected = cache.Full() && !expected && !held;
        int flushes = 0;
        TCacheEntry* made = nullptr;
        TCacheEntry* got = cache.Obtain(
            key, held,
            [&] {
              owned.push_back(std::make_unique<TCacheEntry>());
              return made = owned.back().get();
            },
            [&] {
              ASSERT_FALSE(held) << "no flush while writes are held";
              ++flushes;
              cache.ForEachModified([](TCacheEntry* e) {
                if (e->UseCount == 0) e->Modified = false;
              });
              expected = oldest_evictable();
            });
        ASSERT_EQ(flushes, flush_expected ? 1 : 0) << round << " " << i;
        if (!held && cache.Full() && !expected && !made) {
          ASSERT_EQ(got, nullptr) << round << " " << i;
          continue;
        }
        ASSERT_EQ(got, expected ? expected : made) << round << (held ? " held " : " ") << i;
        if (got != made) model.erase(std::find_if(model.begin(), model.end(), [&](auto& kv) { return kv.second == got; }));
        model[key] = got;
        front(got);
        got->Modified = held || rng() % 2;
        got->UseCount = static_cast<std::uint16_t>(rng() % 4 == 0);
      }
      ASSERT_EQ(cache.Count(), model.size());
    }
    // Emptied one by one (the table shrinks on the way), the rest found.
    while (!model.empty() && !HasFailure()) {
      TCacheEntry* gone = pick();
      cache.Remove(gone);
      model.erase(gone->Key);
      ASSERT_EQ(cache.Find(gone->Key), nullptr);
      ASSERT_EQ(cache.Count(), model.size());
      if (model.size() % 7 != 0) continue;
      for (const auto& [key, e] : model) {
        ASSERT_EQ(cache.Find(key), e) << round << " drain " << key;
      }
    }
    cache.Clear();
  }
}

// Windows read ahead hand out their keys from the asked one backwards, some
// keys twice, some windows overlapping and some out of order: the walks
// over modified entries still list them once each, by key, and the runs
// of neighbours follow.
TEST(EntryCache, WindowsHandedOutBackwardsListInKeyOrder) {
  struct Case {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> windows;  // first, last
  };
  const Case cases[] = {
      {{{1, 50}, {51, 100}, {101, 150}}},
      {{{101, 150}, {1, 50}, {51, 100}}},
      {{{1, 60}, {40, 100}, {1, 1}, {200, 201}}},
      {{{7, 7}, {3, 3}, {5, 9}, {1, 2}}},
      // A walk whose earlier records are found again between its windows.
      {{{1, 40}, {3, 3}, {41, 80}, {2, 2}, {81, 120}, {90, 90}, {121, 160}, {1, 1}}},
      {{{500, 600}, {1, 40}, {41, 80}, {601, 640}}},
  };
  for (const Case& c : cases) {
    TEntryCache cache;
    cache.SetCapacity(1u << 20);
    std::vector<std::unique_ptr<TCacheEntry>> owned;
    std::map<std::uint32_t, TCacheEntry*> model;
    for (int pass = 0; pass < 2; ++pass) {
      for (auto [first, last] : c.windows)
        for (std::uint32_t key = last; key >= first; --key) {
          TCacheEntry* e = cache.Find(key);
          if (!e) {
            owned.push_back(std::make_unique<TCacheEntry>());
            e = owned.back().get();
            e->Key = key;
            cache.Insert(e);
            model[key] = e;
          }
          e->Modified = key % 3 != 0;
        }
      std::vector<TCacheEntry*> modified, listed;
      for (const auto& [key, e] : model)
        if (e->Modified) modified.push_back(e);
      cache.ForEachModified([&](TCacheEntry* e) { listed.push_back(e); });
      ASSERT_EQ(listed, modified) << pass;
      std::vector<std::vector<TCacheEntry*>> runs;
      for (TCacheEntry* e : modified) {
        if (runs.empty() || runs.back().back()->Key + 1 != e->Key) runs.emplace_back();
        runs.back().push_back(e);
      }
      ASSERT_EQ(RunsOf(cache, 1, 1, 0), runs) << pass;
    }
  }
}

// A window read into a cache whose room (capacity less its modified
// entries) is smaller than the window: while writes are held the window
// takes the clean entries from before it and then grows the cache, never
// its own places, so every record it read is still there when asked for;
// without held writes it may reuse its own places (the cache cannot grow)
// but always gets one. Once the window ends its entries may go again.
TEST(EntryCache, WindowKeepsItsOwnEntriesWhileWritesAreHeld) {
  struct Case {
    std::size_t capacity, modified, clean, window;
    bool held;
  };
  const Case cases[] = {
      {64, 40, 24, 50, true},  {64, 0, 64, 200, true}, {64, 63, 1, 10, true},
      {64, 40, 24, 50, false}, {64, 0, 64, 200, false}, {16, 0, 0, 5, true},
  };
  for (const Case& c : cases) {
    TEntryCache cache;
    cache.SetCapacity(c.capacity);
    std::vector<std::unique_ptr<TCacheEntry>> owned;
    auto make = [&] {
      owned.push_back(std::make_unique<TCacheEntry>());
      return owned.back().get();
    };
    bool flushed = false;
    auto obtain = [&](std::uint32_t key) { return cache.Obtain(key, c.held, make, [&] { flushed = true; }); };
    for (std::uint32_t key = 1; key <= c.modified + c.clean; ++key) obtain(key)->Modified = key <= c.modified;
    const std::uint32_t first = 100000;
    cache.BeginWindow();
    for (std::uint32_t k = 0; k < c.window; ++k) {
      TCacheEntry* e = obtain(first + static_cast<std::uint32_t>(c.window) - 1 - k);  // backwards, as read
      ASSERT_NE(e, nullptr) << c.capacity << " " << k;
    }
    cache.EndWindow();
    EXPECT_FALSE(flushed);
    std::size_t kept = 0;
    for (std::uint32_t k = 0; k < c.window; ++k) kept += cache.Find(first + k) != nullptr;
    for (std::uint32_t key = 1; key <= c.modified; ++key) ASSERT_NE(cache.Find(key), nullptr) << key;
    const std::size_t room = c.capacity - c.modified;
    if (c.held) {
      EXPECT_EQ(kept, c.window) << c.capacity << "/" << c.modified << "/" << c.window;
      // The clean entries from before went first, and only as many as needed.
      std::size_t clean_left = 0;
      for (std::uint32_t key = c.modified + 1; key <= c.modified + c.clean; ++key)
        clean_left += cache.Find(key) != nullptr;
      EXPECT_EQ(clean_left, c.window >= c.clean ? 0 : c.clean - c.window);
      // After the window its clean entries are evictable again: no growth.
      const std::size_t capacity = cache.Capacity();
      for (std::uint32_t k = 0; k < c.window; ++k) obtain(first + 1000000 + k);
      EXPECT_EQ(cache.Capacity(), capacity);
    } else {
      EXPECT_EQ(kept, std::min(c.window, room));
      EXPECT_EQ(cache.Capacity(), c.capacity);
    }
    cache.Clear();
  }
}

}  // namespace
}  // namespace korvex
