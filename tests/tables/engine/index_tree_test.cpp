// The index trees: the shapes a tree takes at its edges, a failed insert
// that leaves the tree as it was, and a model-based run of random inserts,
// deletes (with and without path hints, fresh or stale; the system key
// moved by Replace), key changes by Replace, searches (with the key found) and rank queries against std::map under language 0 and
// ten real languages, the checker verifying the files after every batch.
#include "tables/engine/files/index_tree.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>
#include <random>

#include "platform/runtime/coding.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/index_table_support.h"

namespace korvex {
namespace {

using testing::Field;
using testing::IndexTable;
using testing::RaisedNumber;
using Bytes = std::vector<std::uint8_t>;

// One string(9) field: keys of 11 bytes, 240 to a leaf.
struct SmallTable {
  qvtest::TempDir dir;
  std::unique_ptr<IndexTable> t;
  SmallTable() {
    TIndexDefinition primary;
    primary.FieldCount = 1;
    primary.Fields[0] = 1;
    primary.Unique = 1;
    t = std::make_unique<IndexTable>(dir.Path(), std::vector<TFieldDefinition>{Field("Name", dtString, 9)},
                                     TDataFileSettings{}, primary, std::vector<TIndexDefinition>{}, false);
  }
  Bytes Record(int i) {
    Bytes r(t->data->GetRecordSize(), 0);
    r[9] = 1;
    std::snprintf(reinterpret_cast<char*>(r.data() + 10), 9, "k%06d", i);
    return r;
  }
  std::uint32_t Add(int i) {
    Bytes r = Record(i);
    std::uint32_t n = 0;
    EXPECT_TRUE(t->AddRecord(r, n));
    return n;
  }
  TPage* Page(std::uint32_t offset) {
    TPage* p = nullptr;
    EXPECT_TRUE(t->index->GetPage(nullptr, 0, offset, p));
    t->index->PutPage(p);
    return p;
  }
};

TEST(IndexTree, LeafSplitsAtItsMaximumAndTheTreeShrinksAway) {
  SmallTable s;
  ASSERT_EQ(s.t->index->GetIndexDefinition(0).KeySize, 11);
  for (int i = 0; i < 240; ++i) s.Add(i * 2);
  TPage* root = s.Page(s.t->index->GetRootPtr(0));
  EXPECT_EQ(root->Type(), ptRootLeaf);
  EXPECT_EQ(root->Count(), 240);
  EXPECT_EQ(root->MaximumEntries(), 240u);
  s.Add(1);  // the 241st
  root = s.Page(s.t->index->GetRootPtr(0));
  ASSERT_EQ(root->Type(), ptRoot);
  ASSERT_EQ(root->Count(), 2);
  EXPECT_EQ(root->SubtreeCount(0), 121u);
  EXPECT_EQ(root->SubtreeCount(1), 120u);
  TPage* left = s.Page(root->ValueAt(0));
  TPage* right = s.Page(root->ValueAt(1));
  EXPECT_EQ(left->Type(), ptLeaf);
  EXPECT_EQ(right->Type(), ptLeaf);
  EXPECT_EQ(left->RightPage(), right->Offset());
  EXPECT_EQ(right->LeftPage(), left->Offset());
  EXPECT_EQ(std::memcmp(root->KeyAt(1), right->KeyAt(0), 11), 0);
  s.t->ExpectClean();
  for (std::uint32_t n = 1; n <= 241; ++n) s.t->DeleteRecord(n);
  EXPECT_EQ(s.t->index->GetRootPtr(0), 0u);
  EXPECT_EQ(s.t->Tree(0).Count(), 0u);
  s.t->ExpectClean();  // every page on the free chain
}

TEST(IndexTree, FailedInsertLeavesTheTreeAndItsCountsAsTheyWere) {
  SmallTable s;
  for (int i = 0; i < 240; ++i) s.Add(i * 2);
  s.t->Flush();
  const std::uint32_t size = s.t->index->GetFileSize();
  // No room to grow: the split that the next key needs cannot get a page.
  s.t->index->SetFileSize(static_cast<std::uint32_t>(kMaxTableBytes) - 100);
  Bytes record = s.Record(1);
  rtl::EncodeFixed32(record.data() + kRecordIDOffset, 999);
  EXPECT_EQ(RaisedNumber([&] { s.t->Tree(0).Insert(s.t->Key(0, record).data(), 999); }), 9479);
  s.t->index->SetFileSize(size);
  TIndexTree tree = s.t->Tree(0);
  EXPECT_EQ(tree.Count(), 240u);
  EXPECT_FALSE(tree.Search(s.t->Key(0, record).data()));
  s.t->ExpectClean();
  // Corrupt links stop a descent before anything changes.
  for (std::uint32_t root : {4096u + 1, size, size + 4096, 12345u * 4096}) {
    s.t->index->SetRootPtr(0, root);
    EXPECT_EQ(RaisedNumber([&] { s.t->Tree(0).Insert(s.t->Key(0, record).data(), 999); }), 8965) << root;
    EXPECT_EQ(s.t->index->GetFileSize(), size);
  }
}

// Values with many duplicates, shared prefixes and zero tails; under a
// language, accents and case variants.
std::string Text(std::mt19937& rng, std::size_t most, bool language) {
  static const char* words[] = {"Jos\xE9", "Jose", "JOSE", "M\xFCller", "Mueller", "Muller", "chico", "cz",
                                "llama", "lz",    "co-op", "coop", "\xC6sir", "Aesir", "\xF8ne", "\xE5se"};
  std::string s;
  if (language) s = words[rng() % 16];
  while (s.size() < most && rng() % 3) s += static_cast<char>("abAB "[rng() % 5]);
  return s.substr(0, most);
}

// The model of one index: keys in the index's order, with ranks.
struct KeyLess {
  const TKeyComparator* compare;
  std::uint16_t size;
  bool operator()(const Bytes& a, const Bytes& b) const { return compare->CompareKeys(a.data(), b.data(), size) < 0; }
};
using Model = __gnu_pbds::tree<Bytes, std::uint32_t, KeyLess, __gnu_pbds::rb_tree_tag,
                               __gnu_pbds::tree_order_statistics_node_update>;

void RunModel(std::uint16_t language, std::uint16_t sort, std::uint32_t seed, int operations, int batch) {
  SCOPED_TRACE("language " + std::to_string(language) + "/" + std::to_string(sort) + " seed " +
               std::to_string(seed));
  std::mt19937 rng(seed);
  qvtest::TempDir dir;
  TDataFileSettings settings;
  settings.LanguageID = language;
  settings.SortID = sort;
  const auto small = static_cast<std::uint8_t>(1 + rng() % 40), big = static_cast<std::uint8_t>(100 + rng() % 151);
  std::vector<TFieldDefinition> fields = {Field("ID", dtInteger, 0, fstAutoInc), Field("A", dtString, small),
                                          Field("B", dtString, big),   Field("C", dtString, big),
                                          Field("N", dtInteger),       Field("F", dtFloat),
                                          Field("M", dtInteger)};
  auto compression = [&] { return static_cast<std::uint8_t>(rng() % 4); };
  auto flag = [&] { return rng() % 2 == 0; };
  TIndexDefinition primary;
  primary.FieldCount = 1;
  primary.Fields[0] = 1;
  primary.Compression = compression();
  // Built on a scratch table only for the definitions' key sizes.
  IndexTable t(dir.Path(), fields, settings, primary, {}, true);
  const std::vector<TIndexDefinition> secondaries = {
      t.Definition("ByA", {2}, false, flag(), compression()),
      t.Definition("ByAM", {2, 7}, true, flag(), compression()),
      t.Definition("ByBCN", {3, 4, 5}, false, flag(), compression()),
      t.Definition("ByNFM", {5, 6, 7}, flag(), flag(), compression()),
  };
  for (const TIndexDefinition& d : secondaries) t.index->AddSecondaryIndex(d);

  std::vector<Model> models;
  const std::vector<std::uint8_t> slots = t.Slots();
  for (std::uint8_t s : slots)
    models.emplace_back(KeyLess{&t.Comparator(s), t.index->GetIndexDefinition(s).KeySize});
  std::vector<std::uint32_t> live;
  // The path hints the last searches of each slot left.
  std::vector<TIndexTree::TPathHint> saved(slots.size());
  const std::size_t size = t.data->GetRecordSize();
  const auto& f = t.Fields();
  int op = 0;
  auto step = [&] {
    const unsigned choice = rng() % 100;
    if (choice < 45 || live.empty()) {
      Bytes r(size, 0);
      for (int i : {1, 2, 3}) {
        if (rng() % 8 == 0) continue;  // blank
        std::string text = Text(rng, f[i].Size, language != 0);
        r[f[i].Offset] = 1;
        std::memcpy(r.data() + f[i].Offset + 1, text.data(), text.size());
      }
      if (rng() % 8) {
        r[f[4].Offset] = 1;
        rtl::EncodeFixed32(r.data() + f[4].Offset + 1, static_cast<std::uint32_t>(rng() % 50) - 25);
      }
      r[f[6].Offset] = 1;
      rtl::EncodeFixed32(r.data() + f[6].Offset + 1, static_cast<std::uint32_t>(rng() % 30000));
      if (rng() % 8) {
        r[f[5].Offset] = 1;
        rtl::EncodeDouble(r.data() + f[5].Offset + 1, static_cast<double>(rng() % 9) - 4.0);
      }
      rtl::EncodeFixed32(r.data() + kRecordIDOffset, t.data->GetLastRecordID() + 1);
      bool duplicate = false;
      for (std::size_t m = 0; m < slots.size(); ++m)
        if (t.index->GetIndexDefinition(slots[m]).Unique && slots[m] != kSystemSlot)
          duplicate |= models[m].find(t.Key(slots[m], r)) != models[m].end();
      std::uint32_t n = 0;
      ASSERT_EQ(t.AddRecord(r, n), !duplicate) << "op " << op;
      if (duplicate) {
        // A unique index refuses the key itself too, changing nothing.
        for (std::size_t m = 0; m < slots.size(); ++m) {
          if (t.index->GetIndexDefinition(slots[m]).Unique && slots[m] != kSystemSlot &&
              models[m].find(t.Key(slots[m], r)) != models[m].end()) {
            EXPECT_EQ(RaisedNumber([&] { t.Tree(slots[m]).Insert(t.Key(slots[m], r).data(), 1); }), 9729);
          }
        }
        return;
      }
      for (std::size_t m = 0; m < slots.size(); ++m) {
        models[m][t.Key(slots[m], r)] = n;
        EXPECT_EQ(t.ranks.at(m), models[m].order_of_key(t.Key(slots[m], r)) + 1) << "op " << op << " slot " << m;
      }
      live.push_back(n);
    } else if (choice < 70) {
      const std::size_t at = rng() % live.size();
      const std::uint32_t n = live[at];
      Bytes r = t.ReadRecord(n);
      // Each key removed without a path hint, with the one its own search
      // just gave, or with whatever hint the searches left (another key's
      // path, or one the tree has changed under since): a hint that no
      // longer leads to the key must not remove another.
      const unsigned how = rng() % 3;
      std::vector<TIndexTree::TPathHint> hints = how == 2 ? saved : std::vector<TIndexTree::TPathHint>(slots.size());
      for (std::size_t m = 0; how == 1 && m < slots.size(); ++m) {
        if (slots[m] == kSystemSlot) continue;
        bool found = false;
        Bytes at;
        std::uint32_t record = 0;
        t.Tree(slots[m]).FindKey(t.Key(slots[m], r).data(), t.index->GetIndexDefinition(slots[m]).KeySize, found, at,
                                 record, &hints[m]);
        ASSERT_TRUE(found) << "op " << op;
      }
      for (std::size_t m = 0; m < slots.size(); ++m) models[m].erase(t.Key(slots[m], r));
      t.DeleteRecord(n, how ? &hints : nullptr);
      r[0] = 1;
      if (t.system_index) models.back()[t.Key(kSystemSlot, r)] = n;
      live[at] = live.back();
      live.pop_back();
    } else if (choice < 78) {
      // An edit of field M: every index moves the record's key in one
      // Replace (the system key, unchanged, is taken out and put back).
      const std::uint32_t n = live[rng() % live.size()];
      const Bytes before = t.ReadRecord(n);
      Bytes after = before;
      after[f[6].Offset] = 1;
      rtl::EncodeFixed32(after.data() + f[6].Offset + 1, static_cast<std::uint32_t>(rng() % 30000));
      for (std::size_t m = 0; m < slots.size(); ++m) {
        const Bytes old_key = t.Key(slots[m], before), new_key = t.Key(slots[m], after);
        const bool unique = t.index->GetIndexDefinition(slots[m]).Unique && slots[m] != kSystemSlot;
        auto same = models[m].find(new_key);
        if (!unique || same == models[m].end() || same->second == n) continue;
        // A unique index holding the new key refuses it; the old key is
        // gone then, and put back here.
        ASSERT_FALSE(t.Tree(slots[m]).Replace(old_key.data(), new_key.data(), n)) << "op " << op;
        ASSERT_EQ(t.Tree(slots[m]).Count() + 1, models[m].size()) << "op " << op;
        ASSERT_TRUE(t.Tree(slots[m]).Add(old_key.data(), n)) << "op " << op;
        return;
      }
      for (std::size_t m = 0; m < slots.size(); ++m) {
        const Bytes old_key = t.Key(slots[m], before), new_key = t.Key(slots[m], after);
        std::uint32_t rank = 0;
        ASSERT_TRUE(t.Tree(slots[m]).Replace(old_key.data(), new_key.data(), n, &rank)) << "op " << op;
        models[m].erase(old_key);
        models[m][new_key] = n;
        EXPECT_EQ(rank, models[m].order_of_key(new_key) + 1) << "op " << op << " slot " << m;
      }
      TRecord* r = nullptr;
      ASSERT_TRUE(t.data->GetRecord(nullptr, n, false, false, 1, r));
      std::copy(after.begin(), after.end(), r->Data.begin());
      r->Modified = true;
      t.data->PutRecord(r);
    } else {
      const std::size_t m = rng() % slots.size();
      TIndexTree tree = t.Tree(slots[m]);
      const std::uint16_t k = t.index->GetIndexDefinition(slots[m]).KeySize;
      ASSERT_EQ(tree.Count(), models[m].size());
      if (models[m].empty()) return;
      // A key of the index, or one next to it, over the whole key or a part.
      const std::size_t rank = rng() % models[m].size();
      auto it = models[m].find_by_order(rank);
      if (choice < 85) {
        Bytes key;
        std::uint32_t record = 0;
        ASSERT_TRUE(tree.KeyAt(static_cast<std::uint32_t>(rank + 1), key, record));
        EXPECT_EQ(key, it->first) << "op " << op << " rank " << rank + 1;
        EXPECT_EQ(record, it->second);
        EXPECT_FALSE(tree.KeyAt(static_cast<std::uint32_t>(models[m].size() + 1), key, record));
        // A walk from there, one way, its hint carried from step to step
        // (steps inside the leaf it keeps, then on into the next leaves).
        const int direction = rng() % 2 ? 1 : -1;
        TIndexTree::TLeafHint hint;
        Bytes at = key, next;
        for (std::uint32_t n = static_cast<std::uint32_t>(rank + 1), steps = 0; steps < 260; ++steps, n += direction) {
          const TIndexTree::TStep done = tree.Step(n, at.data(), direction, next, record, &hint);
          const bool last = direction > 0 ? n == models[m].size() : n == 1;
          ASSERT_EQ(done, last ? TIndexTree::TStep::End : TIndexTree::TStep::Done) << "op " << op << " rank " << n;
          if (last) break;
          it = direction > 0 ? std::next(it) : std::prev(it);
          ASSERT_EQ(next, it->first) << "op " << op << " rank " << n + direction;
          ASSERT_EQ(record, it->second) << "op " << op << " rank " << n + direction;
          at = next;
        }
      } else {
        Bytes probe = it->first;
        if (rng() % 2) probe[rng() % k] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        // Under a collation only whole fields make a part that keeps the
        // order; under language 0 any length does.
        std::vector<std::uint16_t> bounds = {k};
        const TIndexDefinition& d = t.index->GetIndexDefinition(slots[m]);
        for (int i = 0, at = 0; i < d.FieldCount; ++i) bounds.push_back(static_cast<std::uint16_t>(at += f[d.Fields[i] - 1].PhysicalSize + 1));
        const auto length = rng() % 3 ? k
                            : language ? bounds[rng() % bounds.size()]
                                       : static_cast<std::uint16_t>(1 + rng() % k);
        const TKeyComparator& c = t.Comparator(slots[m]);
        std::size_t below = 0, above = models[m].size();
        while (below < above) {
          const std::size_t mid = (below + above) / 2;
          if (c.CompareKeys(models[m].find_by_order(mid)->first.data(), probe.data(), length) < 0) below = mid + 1;
          else above = mid;
        }
        const bool equal = below < models[m].size() &&
                           c.CompareKeys(models[m].find_by_order(below)->first.data(), probe.data(), length) == 0;
        bool found = false;
        EXPECT_EQ(tree.Find(probe.data(), length, found), below + 1) << "op " << op;
        EXPECT_EQ(found, equal) << "op " << op;
        // The same answer with the key of that rank, none past the last.
        Bytes at;
        std::uint32_t record = 0;
        found = !equal;
        EXPECT_EQ(tree.FindKey(probe.data(), length, found, at, record, &saved[m]), below + 1) << "op " << op;
        EXPECT_EQ(found, equal) << "op " << op;
        if (below < models[m].size()) {
          EXPECT_EQ(at, models[m].find_by_order(below)->first) << "op " << op;
          EXPECT_EQ(record, models[m].find_by_order(below)->second) << "op " << op;
        } else {
          EXPECT_TRUE(at.empty()) << "op " << op;
        }
        if (length == k) {
          EXPECT_EQ(tree.Search(probe.data()), equal) << "op " << op;
        }
      }
    }
  };
  for (op = 1; op <= operations && !::testing::Test::HasFailure(); ++op) {
    try {
      step();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "op " << op << ": " << e.what();
    }
    if (op % batch == 0) t.ExpectClean();
  }
  if (::testing::Test::HasFailure()) return;
  t.ExpectClean();
  // The run grew trees of several levels.
  EXPECT_GT(live.size(), static_cast<std::size_t>(operations / 20));
  EXPECT_GT(t.index->GetFileSize(), 64 * kIndexPageSize);
}

// A fresh seed per run; QV_INDEX_SEED replays one.
std::uint32_t Seed() {
  if (const char* text = std::getenv("QV_INDEX_SEED")) return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10));
  return std::random_device{}();
}

TEST(IndexTree, ModelRunUnderLanguageZero) {
  const std::uint32_t seed = Seed();
  RunModel(0, 0, seed, 100000, 10000);
}

TEST(IndexTree, ModelRunUnderTenLanguages) {
  const std::uint32_t seed = Seed();
  const std::pair<std::uint16_t, std::uint16_t> languages[] = {
      {MakeLanguageID(7, 1), 1},  {MakeLanguageID(10, 1), 0}, {MakeLanguageID(7, 1), 0},
      {MakeLanguageID(9, 1), 0},  {MakeLanguageID(12, 1), 0}, {MakeLanguageID(6, 1), 0},
      {MakeLanguageID(29, 1), 0}, {MakeLanguageID(20, 1), 0}, {MakeLanguageID(5, 1), 0},
      {MakeLanguageID(11, 1), 0}};
  int i = 0;
  for (auto [language, sort] : languages) {
    ASSERT_TRUE(IsLanguageAvailable(language, sort)) << language;
    RunModel(language, sort, seed + i++, 6000, 3000);
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace korvex
