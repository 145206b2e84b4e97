// The page codec: every compression, unique or not, every key size, keys
// rich in shared prefixes and zero tails; the checker's python decoder
// reads the same entries. The key counts a page keeps as its entries
// change, against sums taken afresh; the before-images pages keep for a
// write give back exactly the page the write found.
#include "tables/engine/files/index_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <set>

#include "support/hex.h"
#include "tables/engine/files/index_definition.h"
#include "tables/lib/key_bytes.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::string kTable = "T";

using qvtest::Hex;

// Sorted distinct keys of size k: a few stems, one changed byte each, zero
// tails of random length; non-unique keys end in a record ID (some with
// zero bytes).
std::vector<Bytes> Keys(std::mt19937& rng, std::uint16_t k, bool unique, std::size_t n) {
  const std::uint16_t body = unique ? k : static_cast<std::uint16_t>(k - 4);
  std::vector<Bytes> stems(3, Bytes(body));
  for (Bytes& s : stems)
    for (auto& b : s) b = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0 : 1 + rng() % 4);
  std::set<Bytes> keys;
  for (std::size_t tries = 0; keys.size() < n && tries < 20 * n; ++tries) {
    Bytes key = stems[rng() % 3];
    if (body > 0) key[rng() % body] = static_cast<std::uint8_t>(rng());
    const std::size_t tail = body > 0 ? rng() % (body + 1) : 0;
    std::fill(key.end() - static_cast<std::ptrdiff_t>(tail), key.end(), 0);
    if (!unique) {
      std::uint8_t id[4];
      const std::int32_t ids[] = {INT32_MIN, 0, 256, static_cast<std::int32_t>(rng())};
      FlipIntegerBits(ids[rng() % 4], id);
      key.insert(key.end(), id, id + 4);
    }
    keys.insert(key);
  }
  return {keys.begin(), keys.end()};
}

// K - D - T + 6 per entry, from the counting rules.
std::uint32_t ExpectedDataSize(const TPage& page, bool unique, std::uint8_t c, int& capped) {
  const std::uint32_t k = page.KeySize();
  std::uint32_t total = 0;
  for (int i = 0; i < page.Count(); ++i) {
    const std::uint8_t* key = page.KeyAt(i);
    std::uint32_t d = 0, t = 0;
    if (c & kcLeading && i > 0)
      while (d < k && page.KeyAt(i - 1)[d] == key[d]) ++d;
    if (c == kcBoth && d > 255) d = 255, ++capped;
    if (c & kcTrailing) {
      const std::uint32_t end = unique ? k : k - 4;
      if (unique || k - d > 4)
        while (end - t > d && key[end - t - 1] == 0) ++t;
      if (c == kcBoth) t = std::min<std::uint32_t>(t, 255);
    }
    total += k - d - t + 6;
  }
  return total;
}

TEST(IndexPage, CodecRoundTripsEveryCompressionAndKeySize) {
  std::mt19937 rng(141);
  qvtest::TempDir dir;
  const std::string pages_path = dir.File("pages.bin"), expect_path = dir.File("expected.txt");
  std::ofstream pages(pages_path, std::ios::binary), expect(expect_path);
  const std::set<int> to_python = {1, 2, 5, 6, 11, 16, 100, 255, 256, 257, 261, 300, 523, 524, 528};
  int capped = 0, written = 0;
  for (std::uint8_t c = 0; c < 4; ++c) {
    for (bool unique : {true, false}) {
      for (std::uint16_t k = unique ? 1 : 5; k <= kMaxKeySize; ++k) {
        TPage page(&kTable);
        page.Stamp(0, k, unique, c);
        page.SetPageType(ptRootLeaf);
        const std::vector<Bytes> keys = Keys(rng, k, unique, 700);
        for (const Bytes& key : keys) {
          page.InsertEntry(page.Count(), key.data(), static_cast<std::uint32_t>(rng()), 1);
          if (page.Overflows()) {
            page.DeleteEntry(page.Count() - 1);
            break;
          }
        }
        ASSERT_GT(page.Count(), 0);
        std::uint8_t bytes[kIndexPageSize];
        page.Write(bytes, false);
        const std::uint32_t size = bytes[11] | bytes[12] << 8;
        if (c != 0) {
          EXPECT_EQ(size, ExpectedDataSize(page, unique, c, capped)) << int(c) << " " << unique << " " << k;
          EXPECT_LE(size, kPageDataSize);
        } else {
          EXPECT_EQ(size, 0u);
          EXPECT_EQ(static_cast<std::uint32_t>(page.Count()), std::min<std::uint32_t>(kPageDataSize / (k + 6u), static_cast<std::uint32_t>(keys.size())));
        }
        TPage back(&kTable);
        back.Stamp(0, k, unique, c);
        back.Read(bytes, false, false);
        ASSERT_EQ(back.Count(), page.Count());
        for (int i = 0; i < page.Count(); ++i) {
          ASSERT_EQ(std::memcmp(back.KeyAt(i), page.KeyAt(i), k), 0) << int(c) << " " << unique << " " << k << " " << i;
          ASSERT_EQ(back.ValueAt(i), page.ValueAt(i));
        }
        if (to_python.count(k)) {
          pages.write(reinterpret_cast<const char*>(bytes), kIndexPageSize);
          std::string entries;
          for (int i = 0; i < page.Count(); ++i) entries += Hex(page.KeyAt(i), k + 4u);
          expect << k << ' ' << unique << ' ' << int(c) << ' ' << entries << '\n';
          ++written;
        }
      }
    }
  }
  EXPECT_GT(capped, 0);  // compression 3 met shared runs longer than 255
  pages.close();
  expect.close();
  const std::string python = "import sys\nsys.path.insert(0, '" QV_SOURCE_DIR "/tools')\nimport tablecheck\n"
                             "data = open(path, 'rb').read()\nbad = 0\n"
                             "for i, line in enumerate(open('" + expect_path + R"(')):
    k, unique, c, entries = (line.split() + [''])[:4]
    k, unique, c = int(k), int(unique), int(c)
    page = tablecheck.decode_page(data[i * 4096:(i + 1) * 4096], k, unique, c)
    got = ''.join((key + struct.pack('<I', v)).hex() for key, v, _ in page[4])
    if got != entries:
        bad += 1
        print('differs', k, unique, c)
print(i + 1, bad)
)";
  EXPECT_EQ(testing::RunPython(pages_path, python), std::to_string(written) + " 0\n");
}

TEST(IndexPage, InternalPagesAndCipherRoundTrip) {
  for (bool encrypted : {false, true}) {
    TPage page(&kTable);
    page.Stamp(3, 11, true, kcBoth);  // internal pages never compress
    page.SetPageType(ptInternal);
    page.SetLeftPageOffset(8192);
    page.SetRightPageOffset(12288);
    Bytes key(11, 0);
    for (std::uint32_t i = 0; i < page.MaximumEntries(); ++i) {
      key[10] = static_cast<std::uint8_t>(i);
      page.InsertEntry(static_cast<int>(i), key.data(), 4096 * (i + 1), i + 7);
    }
    EXPECT_EQ(page.MaximumEntries(), 194u);
    std::uint8_t bytes[kIndexPageSize];
    page.Write(bytes, encrypted);
    TPage back(&kTable);
    back.Stamp(3, 11, true, kcBoth);
    back.Read(bytes, false, encrypted);
    EXPECT_EQ(back.Type(), ptInternal);
    EXPECT_EQ(back.LeftPage(), 8192u);
    EXPECT_EQ(back.RightPage(), 12288u);
    ASSERT_EQ(back.Count(), 194);
    EXPECT_EQ(back.SubtreeCount(193), 200u);
    EXPECT_EQ(back.ValueAt(193), 4096u * 194);
    EXPECT_EQ(back.TotalKeys(), page.TotalKeys());
  }
}

// A page with entries that changes between leaf and internal page keeps
// its keys and values: each entry counts one key on the internal page, and
// a write undone gives back the page it found. Entries move only between
// pages of one kind.
TEST(IndexPage, EntriesSurviveAChangeBetweenLeafAndInternalPage) {
  TPage page(&kTable);
  page.Stamp(1, 6, true, kcNone);
  page.SetPageType(ptLeaf);
  Bytes key(6, 0);
  for (int i = 0; i < 5; ++i) {
    key[5] = static_cast<std::uint8_t>(i);
    page.InsertEntry(i, key.data(), 4096u * (i + 1), 1);
  }
  auto state = [&] {
    std::string s = std::to_string(page.Type()) + "/" + std::to_string(page.TotalKeys()) + ":";
    for (int i = 0; i < page.Count(); ++i)
      s += Hex(page.KeyAt(i), 6) + "=" + std::to_string(page.ValueAt(i)) + "#" + std::to_string(page.SubtreeCount(i));
    return s;
  };
  const std::string leaf = state();
  auto live = std::make_shared<std::uint32_t>(1);
  ASSERT_TRUE(page.Remember(live));
  page.SetPageType(ptInternal);
  EXPECT_EQ(page.TotalKeys(), 5u);
  EXPECT_EQ(page.KeysBefore(3), 3u);
  page.SetSubtreeCount(4, 10);
  EXPECT_EQ(page.TotalKeys(), 14u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(page.ValueAt(i), 4096u * (i + 1));
  page.Recall();
  EXPECT_EQ(state(), leaf);
  page.SetPageType(ptInternal);
  page.SetPageType(ptRootLeaf);
  EXPECT_EQ(state().substr(1), leaf.substr(1));
  TPage internal(&kTable);
  internal.Stamp(1, 6, true, kcNone);
  internal.SetPageType(ptInternal);
  EXPECT_EQ(testing::RaisedNumber([&] { page.MoveEntries(0, 2, internal, 0); }), 8965);
  EXPECT_EQ(page.Count(), 5);
}

// The counts an internal page keeps (its total, the keys before an entry,
// the entry of a rank) against a plain list of subtree counts, through
// random inserts, deletes, count changes, moves between pages, a free page
// and a read back from the file bytes. Counts up to 2^31 make sums wrap.
// What a page shows: header fields and every entry's bytes and count.
std::string PageState(const TPage& p) {
  std::string s = std::to_string(p.Type()) + "/" + std::to_string(p.LeftPage()) + "/" + std::to_string(p.RightPage()) +
                  "/" + std::to_string(p.Free()) + "/" + std::to_string(p.Modified) + "/" + std::to_string(p.KeySize()) +
                  "/" + std::to_string(p.Count()) + "/" + std::to_string(p.TotalKeys()) + ":";
  for (int i = 0; i < p.Count(); ++i)
    s += Hex(p.KeyAt(i), p.KeySize()) + "=" + std::to_string(p.ValueAt(i)) + "#" + std::to_string(p.SubtreeCount(i)) +
         ",";
  return s;
}

TEST(IndexPage, KeptCountsFollowEveryChange) {
  std::mt19937 rng(20261207);
  // Writes: both pages remember at a write's start; the write ends (the
  // shared mark moves on) or is undone, which must give back both pages
  // and the model as the write found them.
  auto live = std::make_shared<std::uint32_t>(1);
  int recalled = 0, long_writes = 0;
  for (int round = 0; round < 40; ++round) {
    const bool leaf = round % 5 == 4;
    TPage pages[2] = {TPage(&kTable), TPage(&kTable)};
    std::vector<std::uint32_t> model[2];
    for (TPage& p : pages) {
      p.Stamp(1, 6, true, kcNone);
      p.SetPageType(leaf ? ptLeaf : ptInternal);
    }
    const std::uint32_t spread = round % 3 == 0 ? 0x80000000u : round % 3 == 1 ? 1000u : 3u;
    auto count = [&] { return leaf ? 1u : 1u + static_cast<std::uint32_t>(rng() % spread); };
    Bytes key(6, 0);
    auto check = [&](int which, int op) {
      const TPage& p = pages[which];
      const std::vector<std::uint32_t>& m = model[which];
      ASSERT_EQ(p.Count(), static_cast<int>(m.size())) << round << " " << op;
      std::uint32_t sum = 0;
      std::vector<std::uint32_t> prefix{0};
      for (std::uint32_t c : m) prefix.push_back(sum += c);
      ASSERT_EQ(p.TotalKeys(), leaf ? static_cast<std::uint32_t>(m.size()) : sum) << round << " " << op;
      for (int i = 0; i <= p.Count(); ++i) ASSERT_EQ(p.KeysBefore(i), prefix[i]) << round << " " << op << " " << i;
      if (spread == 0x80000000u) return;  // ranks are only asked of trees that do not wrap
      // Every rank around each entry's edges and past the end, walked from
      // the first entry as the reference.
      std::vector<std::uint32_t> ranks{0, 1, sum, sum + 1, sum + 2};
      for (std::size_t i = 1; i < prefix.size(); ++i)
        for (std::uint32_t d : {0u, 1u}) ranks.push_back(prefix[i] + d);
      for (std::uint32_t rank : ranks) {
        if (rank == 0) continue;
        int want = -1;
        std::uint32_t rest = rank;
        for (std::size_t i = 0; i < m.size(); ++i) {
          if (rest <= m[i]) {
            want = static_cast<int>(i);
            break;
          }
          rest -= m[i];
        }
        std::uint32_t got_rest = rank;
        const int got = p.EntryOfRank(got_rest);
        ASSERT_EQ(got, want) << round << " " << op << " rank " << rank;
        if (want >= 0) {
          ASSERT_EQ(got_rest, rest) << round << " " << op << " rank " << rank;
        }
      }
    };
    bool writing = false;
    std::string before[2];
    std::vector<std::uint32_t> model_before[2];
    int write_ops = 0;
    for (int op = 0; op < 400 && !HasFailure(); ++op) {
      const int which = static_cast<int>(rng() % 2);
      TPage& p = pages[which];
      std::vector<std::uint32_t>& m = model[which];
      if (writing && rng() % (write_ops > 30 ? 4 : 12) == 0) {
        if (rng() % 2) {
          for (int w = 0; w < 2; ++w) {
            pages[w].Recall();
            model[w] = model_before[w];
            ASSERT_EQ(PageState(pages[w]), before[w]) << round << " " << op;
          }
          ++recalled;
          long_writes += write_ops > 30;
        }
        ++*live;
        writing = false;
      } else if (!writing && rng() % 8 == 0) {
        for (int w = 0; w < 2; ++w) {
          pages[w].Modified = rng() % 2;
          before[w] = PageState(pages[w]);
          model_before[w] = model[w];
          ASSERT_TRUE(pages[w].Remember(live));
        }
        writing = true;
        write_ops = 0;
      }
      ++write_ops;
      const unsigned choice = rng() % 11;
      if (choice == 10) {
        // Header changes and keys set in place.
        p.SetPageType(leaf ? (rng() % 2 ? ptLeaf : ptRootLeaf) : (rng() % 2 ? ptInternal : ptRoot));
        p.SetLeftPageOffset(4096u * (rng() % 4));
        p.SetRightPageOffset(4096u * (rng() % 4));
        if (!m.empty()) {
          key[5] = static_cast<std::uint8_t>(rng());
          p.SetKeyAt(static_cast<int>(rng() % m.size()), key.data());
        }
      } else if (choice < 4 || m.empty()) {
        const int at = static_cast<int>(rng() % (m.size() + 1));
        const std::uint32_t c = count();
        key[5] = static_cast<std::uint8_t>(op);
        p.InsertEntry(at, key.data(), 4096u * (op + 1), c);
        m.insert(m.begin() + at, c);
      } else if (choice < 6) {
        const int at = static_cast<int>(rng() % m.size());
        p.DeleteEntry(at);
        m.erase(m.begin() + at);
      } else if (choice < 8 && !leaf) {
        const int at = static_cast<int>(rng() % m.size());
        const std::uint32_t c = count();
        p.SetSubtreeCount(at, c);
        m[at] = c;
      } else if (choice < 9) {
        const int first = static_cast<int>(rng() % m.size());
        const int n = static_cast<int>(rng() % (m.size() - first + 1));
        std::vector<std::uint32_t>& to = model[1 - which];
        const int at = static_cast<int>(rng() % (to.size() + 1));
        p.MoveEntries(first, n, pages[1 - which], at);
        to.insert(to.begin() + at, m.begin() + first, m.begin() + first + n);
        m.erase(m.begin() + first, m.begin() + first + n);
        check(1 - which, op);
      } else if (m.size() <= p.MaximumEntries()) {
        // Through the file bytes and back, or freed and emptied.
        std::uint8_t bytes[kIndexPageSize];
        if (rng() % 4 == 0) {
          p.SetFree(true);
          m.clear();
          p.SetFree(false);
        } else {
          p.Write(bytes, false);
          p.Read(bytes, false, false);
          if (leaf) std::fill(m.begin(), m.end(), 1u);
        }
      }
      check(which, op);
    }
    if (writing) ++*live;
  }
  // Short writes (step logs) and long ones (whole copies) were put back.
  EXPECT_GT(recalled, 40);
  EXPECT_GT(long_writes, 5);
}

}  // namespace
}  // namespace korvex
