// The index file: a new file, definition errors, the page lists, corrupt
// links, header checks and repair, and deleting an index whose slot is
// taken by the next one.
#include "tables/engine/files/index_file.h"

#include <fstream>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/runtime/coding.h"
#include "tables/engine/files/blob_file.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/index_table_support.h"

namespace korvex {
namespace {

using testing::Field;
using testing::IndexTable;
using testing::PatchFile;
using testing::RaisedNumber;
using Bytes = std::vector<std::uint8_t>;

struct Fixture {
  qvtest::TempDir dir;
  std::unique_ptr<IndexTable> t;
  explicit Fixture(bool system = false) {
    TIndexDefinition primary;
    primary.FieldCount = 1;
    primary.Fields[0] = 1;
    t = std::make_unique<IndexTable>(
        dir.Path(), std::vector<TFieldDefinition>{Field("ID", dtInteger), Field("Name", dtString, 20), Field("Memo", dtBlob)},
        TDataFileSettings{}, primary, std::vector<TIndexDefinition>{}, system);
    TBlobFile blob(&t->host);
    blob.SetFileName(dir.File("t.BLB"));
    blob.CreateFile();
    blob.WriteHeader(true, false);
  }
  std::uint32_t Add(int id, const std::string& name) {
    Bytes r(t->data->GetRecordSize(), 0);
    const auto& f = t->Fields();
    r[f[0].Offset] = 1;
    rtl::EncodeFixed32(r.data() + f[0].Offset + 1, static_cast<std::uint32_t>(id));
    r[f[1].Offset] = 1;
    std::memcpy(r.data() + f[1].Offset + 1, name.data(), name.size());
    std::uint32_t n = 0;
    EXPECT_TRUE(t->AddRecord(r, n));
    return n;
  }
};

TEST(IndexFile, NewFileAndDefinitionErrors) {
  Fixture x;
  EXPECT_EQ(std::filesystem::file_size(x.dir.File("t.IDX")), 4096u);
  TIndexFile& file = *x.t->index;
  EXPECT_EQ(file.GetIndexDefinition(kSystemSlot).Name, "Sys Deleted");
  EXPECT_EQ(file.GetIndexDefinition(kSystemSlot).KeySize, 5);
  EXPECT_EQ(file.GetFileSize(), 4096u);
  const std::uint32_t stamp = file.GetLastUpdateStamp();
  file.WriteHeader(false, false);
  EXPECT_EQ(file.GetLastUpdateStamp(), stamp);
  auto secondary = [&](const std::string& name, std::vector<std::uint16_t> fields) {
    return RaisedNumber([&] { file.AddSecondaryIndex(x.t->Definition(name, fields, false)); });
  };
  struct Case {
    const char* name;
    std::vector<std::uint16_t> fields;
    int want;
  } cases[] = {{"", {2}, 10010},     {"1st", {2}, 10022}, {"Name", {2}, 0},   {"NAME", {2}, 10027},
               {" name ", {2}, 10027}, {"Memo", {3}, 12292}, {"Many", std::vector<std::uint16_t>(17, 2), 9487}};
  for (const Case& c : cases) EXPECT_EQ(secondary(c.name, c.fields), c.want) << c.name;
  EXPECT_EQ(RaisedNumber([&] { file.AddPrimaryIndex(x.t->Definition("", {1}, true)); }), 9993);
  for (int i = 2; i <= 30; ++i) EXPECT_EQ(secondary("I" + std::to_string(i), {2}), 0);
  EXPECT_EQ(secondary("I31", {2}), 9487);
  EXPECT_EQ(file.GetIndexCount(), 30);
  x.t->Flush();
  file.CheckHeader();
}

TEST(IndexFile, PageListsFlushOrGrowAndLinksAreChecked) {
  for (bool held : {false, true}) {
    Fixture x;
    TIndexFile& file = *x.t->index;
    x.t->host.writes_held = held;
    // One page more than the list holds.
    const std::uint32_t pages = kPageCacheSize + 1;
    for (std::uint32_t i = 0; i < pages; ++i) {
      TPage* page = nullptr;
      ASSERT_TRUE(file.GetNextFreePage(nullptr, 0, page));
      page->SetPageType(ptRootLeaf);
      file.PutPage(page);
    }
    EXPECT_EQ(file.GetFileSize(), 4096u * (pages + 1));
    // Held writes grow the list by a step: a quarter of it, kPageCacheGrowth at least.
    EXPECT_EQ(file.CacheCapacity(0),
              held ? kPageCacheSize + std::max(kPageCacheGrowth, kPageCacheSize / 4) : kPageCacheSize)
        << held;
    EXPECT_EQ(file.Statistics().Writes > 0, !held) << held;
    // Links must be pages of the file: 0, unaligned, the file size and
    // beyond are refused, and the file does not grow.
    for (std::uint32_t link : {0u, 4097u, file.GetFileSize(), file.GetFileSize() + 4096, 0xFFFFF000u}) {
      TPage* page = nullptr;
      EXPECT_EQ(RaisedNumber([&] { file.GetPage(nullptr, 0, link, page); }), 8965) << link;
      EXPECT_EQ(file.GetFileSize(), 4096u * (pages + 1));
    }
    // A free chain that leads outside the file.
    TPage* page = nullptr;
    ASSERT_TRUE(file.GetPage(nullptr, 0, 8192, page));
    file.SetNextFreePage(page);
    page->SetRightPageOffset(file.GetFileSize() + 8192);
    file.PutPage(page);
    EXPECT_EQ(RaisedNumber([&] { file.GetNextFreePage(nullptr, 0, page); }), 8965);
    EXPECT_EQ(file.GetFileSize(), 4096u * (pages + 1));
  }
}

// Pages met out of order keep a clean copy when read while the copies
// (2,048 pages) can hold half the file, none past that: pages read long
// enough ago to have left the list of decoded pages (1,024) are read again
// from the copies only in the smaller file.
TEST(IndexFile, PagesReadKeepCopiesOnlyWhileTheCopiesPay) {
  for (std::uint32_t pages : {3000u, 5000u}) {
    SCOPED_TRACE(pages);
    Fixture x;
    TIndexFile& file = *x.t->index;
    for (std::uint32_t i = 0; i < pages; ++i) {
      TPage* page = nullptr;
      ASSERT_TRUE(file.GetNextFreePage(nullptr, 0, page));
      page->SetPageType(ptRootLeaf);
      file.PutPage(page);
    }
    file.FlushPageBuffers(false);
    file.FreePageBuffers(true);
    std::vector<std::uint32_t> order;
    for (std::uint32_t i = 0; i < pages; ++i) order.push_back(4096 * (1 + (i * 7919u) % pages));
    auto read = [&](std::uint32_t offset) {
      TPage* page = nullptr;
      ASSERT_TRUE(file.GetPage(nullptr, 0, offset, page));
      EXPECT_EQ(page->Offset(), offset);
      file.PutPage(page);
    };
    for (std::uint32_t offset : order) read(offset);
    EXPECT_EQ(file.Statistics().Reads, pages);
    EXPECT_EQ(file.CopiedPages(), pages <= 4096 ? 2048u : 0u);
    for (std::uint32_t i = pages - 1500; i < pages - 1400; ++i) read(order[i]);
    EXPECT_EQ(file.Statistics().Reads - pages, pages <= 4096 ? 0u : 100u);
  }
}

// A list grows for pages that descents by key read (a step of
// kPageCacheGrowth whenever such a read finds it full), up to
// kDescentPageCacheSize pages and kDescentPageGrowth places over the file's
// lists; other reads, and reads while writes are held, take the place of
// the least recently used page. Dropping the pages drops the places.
TEST(IndexFile, DescentsGrowTheirListWithinTheFilesBudget) {
  Fixture x;
  TIndexFile& file = *x.t->index;
  file.AddSecondaryIndex(x.t->Definition("ByName", {2}, false));
  const std::uint32_t pages = 3 * kDescentPageCacheSize / 2;
  std::vector<std::uint32_t> offsets[2];
  for (std::uint8_t slot : {0, 1})
    for (std::uint32_t i = 0; i < pages; ++i) {
      TPage* page = nullptr;
      ASSERT_TRUE(file.GetNextFreePage(nullptr, slot, page));
      page->SetPageType(ptRootLeaf);
      offsets[slot].push_back(page->Offset());
      file.PutPage(page);
    }
  file.FlushPageBuffers(false);
  file.FreePageBuffers(true);
  auto read_all = [&](std::uint8_t slot, bool descent) {
    // Out of order, each page once.
    for (std::uint32_t i = 0; i < pages; ++i) {
      TPage* page = nullptr;
      ASSERT_TRUE(file.GetPage(nullptr, slot, offsets[slot][(i * 7919u) % pages], page, false, descent));
      file.PutPage(page);
    }
  };
  struct Case {
    std::uint8_t slot;
    bool descent, held;
    std::size_t base;  // the list's places afterwards
  } cases[] = {
      {0, false, false, kPageCacheSize},
      {0, true, true, kPageCacheSize},  // held writes: clean pages give their places up
      {0, true, false, kDescentPageCacheSize},
      {1, true, false, kPageCacheSize + kDescentPageGrowth - (kDescentPageCacheSize - kPageCacheSize)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.slot) << c.descent << c.held);
    x.t->host.writes_held = c.held;
    read_all(c.slot, c.descent);
    x.t->host.writes_held = false;
    EXPECT_EQ(file.CacheBase(c.slot), c.base);
    EXPECT_EQ(file.CachedPages(c.slot), c.base);
    // The pages read last are all in the list: no read for them.
    const std::uint32_t reads = file.Statistics().Reads;
    for (std::uint32_t i = pages - static_cast<std::uint32_t>(c.base); i < pages; ++i) {
      TPage* page = nullptr;
      ASSERT_TRUE(file.GetPage(nullptr, c.slot, offsets[c.slot][(i * 7919u) % pages], page));
      file.PutPage(page);
    }
    EXPECT_EQ(file.Statistics().Reads, reads);
  }
  // Dropped with the pages: the places go back to the budget.
  file.FreePageBuffers(true);
  EXPECT_EQ(file.CacheBase(0), kPageCacheSize);
  read_all(1, true);
  EXPECT_EQ(file.CacheBase(1), kDescentPageCacheSize);
}

// While writes are held, the last 32 pages read are at hand as the file
// holds them (the old bytes a journal needs of a page changed for the first
// time): newer reads push out older ones, a write to the file or a drop of
// the copies forgets them all, and reads while writes are not held keep
// none.
TEST(IndexFile, PagesReadWhileWritesAreHeldAreAtHandUntilTheFileIsWritten) {
  Fixture x;
  TIndexFile& file = *x.t->index;
  const std::uint32_t pages = 40;
  for (std::uint32_t i = 0; i < pages; ++i) {
    TPage* page = nullptr;
    ASSERT_TRUE(file.GetNextFreePage(nullptr, 0, page));
    page->SetPageType(ptRootLeaf);
    page->SetRightPageOffset(7 * (i + 1));
    file.PutPage(page);
  }
  file.FlushPageBuffers(false);
  const std::string path = x.dir.File("t.IDX");
  auto on_disk = [&](std::uint32_t offset) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(kIndexPageSize, '\0');
    in.seekg(offset);
    in.read(bytes.data(), kIndexPageSize);
    return bytes;
  };
  auto at_hand = [&](std::uint32_t offset) {
    const std::uint8_t* bytes = file.RecentlyRead(offset);
    return bytes ? std::string(reinterpret_cast<const char*>(bytes), kIndexPageSize) : std::string();
  };
  auto read_all = [&] {
    file.FreePageBuffers(true);
    for (std::uint32_t i = 0; i < pages; ++i) {
      TPage* page = nullptr;
      ASSERT_TRUE(file.GetPage(nullptr, 0, 4096 * (i + 1), page));
      file.PutPage(page);
    }
  };
  read_all();
  for (std::uint32_t i = 0; i <= pages; ++i) EXPECT_EQ(at_hand(4096 * i), "") << i;
  x.t->host.writes_held = true;
  read_all();
  EXPECT_EQ(at_hand(0), "");
  EXPECT_EQ(at_hand(4096 * (pages + 1)), "");
  for (std::uint32_t i = 0; i < pages; ++i) {
    const std::uint32_t offset = 4096 * (i + 1);
    EXPECT_EQ(at_hand(offset), i < pages - 32 ? std::string() : on_disk(offset)) << i;
  }
  // A page written: none is at hand any more.
  TPage* page = nullptr;
  ASSERT_TRUE(file.GetPage(nullptr, 0, 4096 * pages, page));
  page->SetRightPageOffset(3);
  file.PutPage(page);
  x.t->host.writes_held = false;
  file.FlushPageBuffers(false);
  for (std::uint32_t i = 0; i < pages; ++i) EXPECT_EQ(at_hand(4096 * (i + 1)), "") << i;
  x.t->host.writes_held = true;
  read_all();
  EXPECT_EQ(at_hand(4096 * pages), on_disk(4096 * pages));
  file.DropCleanCopies();
  EXPECT_EQ(at_hand(4096 * pages), "");
}

TEST(IndexFile, HeaderChecksAndRepairLogLines) {
  Fixture x;
  TIndexFile& file = *x.t->index;
  file.AddSecondaryIndex(x.t->Definition("ByName", {2}, false));
  file.AddSecondaryIndex(x.t->Definition("Other", {2, 1}, true));
  x.t->Flush();
  const std::string idx = x.dir.File("t.IDX");
  // Secondary count 31: refused at open; a repair open takes 30 and says so.
  file.CloseFile();
  PatchFile(idx, "f = open(path, 'r+b'); f.seek(13); f.write(bytes([31]))");
  EXPECT_EQ(RaisedNumber([&] { file.OpenFile(); }), 8961);
  file.OpenForRepair();
  EXPECT_EQ(file.GetIndexCount(), 30);
  EXPECT_EQ(RaisedNumber([&] { file.CheckHeader(); }), 8961);
  file.CloseFile();
  // Names, field numbers, key sizes and header pointers.
  PatchFile(idx, R"(
f = open(path, 'r+b')
f.seek(13); f.write(bytes([2]))
def slot(i): return 14 + 120 * i
f.seek(slot(1)); f.write(bytes([6]) + b'1st ix')
f.seek(slot(2)); f.write(bytes([6]) + b'1ST IX')
f.seek(slot(2) + 54); f.write(struct.pack('<HH', 9, 2))
f.seek(slot(1) + 31); f.write(struct.pack('<H', 99))
)");
  file.OpenForRepair();
  EXPECT_EQ(RaisedNumber([&] { file.CheckHeader(); }), 8961);
  x.t->host.log.clear();
  file.RepairHeader(nullptr, true);
  EXPECT_EQ(x.t->host.log, (std::vector<std::string>{
                               "Invalid index name for index 1st ix, error fixed",
                               "Invalid index name for index 1ST IX, error fixed",
                               "Duplicate index name for index _1ST IX, error fixed",
                               "Invalid key size of 99 for index _1st ix, error fixed",
                               "Invalid field number 9 in index __1ST IX, field removed from index",
                               "Invalid key size of 27 for index __1ST IX, error fixed",
                           }));
  EXPECT_EQ(file.GetIndexDefinition(2).FieldCount, 1);
  EXPECT_EQ(file.GetIndexDefinition(2).KeySize, 22);
  file.CheckHeader();
  // A root pointer outside the file.
  file.SetRootPtr(1, file.GetFileSize());
  EXPECT_EQ(RaisedNumber([&] { file.CheckHeader(); }), 8961);
}

TEST(IndexFile, DeletingAMiddleIndexHandsItsFreePagesToTheNext) {
  Fixture x(true);
  TIndexFile& file = *x.t->index;
  for (const char* name : {"A", "B", "C"}) file.AddSecondaryIndex(x.t->Definition(name, {2, 1}, false, false, 3));
  for (int i = 0; i < 3000; ++i) x.Add(i, std::string("name ") + std::to_string(i % 977));
  x.t->ExpectClean();
  // Pages of B in the list, modified, while C moves into its slot.
  x.t->Tree(2).FreeAllPages();
  file.DeleteIndex(2, true);
  EXPECT_EQ(file.GetIndexCount(), 2);
  EXPECT_EQ(file.GetIndexDefinition(2).Name, "C");
  EXPECT_EQ(file.GetIndexDefinition(3).Name, "B");
  EXPECT_NE(file.GetIndexDefinition(3).FreePage, 0u);
  file.AddSecondaryIndex(x.t->Definition("D", {1}, true, true, 1));
  x.t->ForgetComparators();
  EXPECT_EQ(file.GetIndexDefinition(3).Name, "D");
  for (std::uint32_t n = 1; n <= 3000; ++n) x.t->Tree(3).Insert(x.t->Key(3, x.t->ReadRecord(n)).data(), n);
  x.t->Reopen();
  EXPECT_EQ(x.t->Tree(2).Count(), 3000u);
  EXPECT_EQ(x.t->Tree(3).Count(), 3000u);
  x.t->ExpectClean();  // no page lost or used twice
}

}  // namespace
}  // namespace korvex
