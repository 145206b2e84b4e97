// Crash points of a flush that rewrites index trees: records appended and
// deleted with their keys in a unique and a non-unique index, so that old
// pages are overwritten (splits and merges), new pages appended and the
// headers of both files rewritten. The flush is killed at each of its
// writes and syncs in turn; whoever takes the table next plays the journal
// back: the files are byte for byte as before or as after the flush (up to
// the header's time of the last update) and the checker passes. Journals
// of both layouts written by python3 play back as they should.
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/runtime/coding.h"
#include "support/child_process.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/engine/cache/journal.h"
#include "tables/engine/files/index_key.h"
#include "tables/engine/files/index_tree.h"
#include "tables/engine/table/data_session.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"
#include "tests/tables/engine/flush_kill_support.h"
#include "tests/tables/engine/index_table_support.h"

namespace korvex::testing {
namespace {

using qvtest::ReadFileBytes;

std::string Name(std::mt19937& rng) {
  std::string s;
  for (int i = 0, n = 3 + static_cast<int>(rng() % 20); i < n; ++i) s += static_cast<char>('a' + rng() % 26);
  return s;
}

void PutRecord(const std::vector<TFieldDefinition>& fields, std::vector<std::uint8_t>& record, std::int32_t n,
               const std::string& name) {
  std::fill(record.begin(), record.end(), 0);
  record[fields[0].Offset] = 1;
  std::memcpy(record.data() + fields[0].Offset + 1, &n, 4);
  record[fields[1].Offset] = 1;
  std::memcpy(record.data() + fields[1].Offset + 1, name.data(), name.size());
}

TEST(SharedTableJournal, AFlushOfSplitAndMergedIndexPagesKilledAtAnyStep) {
  qvtest::TempDir dir;
  const std::string path = dir.Path();
  std::vector<TFieldDefinition> fields{Field("N", dtInteger), Field("S", dtString, 30)};
  AssignLayout(fields);
  std::mt19937 rng(7);
  auto definition = [](const char* name, std::uint16_t field, bool unique, std::uint8_t compression) {
    TIndexDefinition d;
    d.Name = name;
    d.Fields[d.FieldCount++] = field;
    d.Unique = unique;
    d.Compression = compression;
    return d;
  };
  {
    // A unique index on N and a compressed non-unique one on S: 400 records.
    IndexTable table(path, fields, {}, definition("", 1, true, 0), {definition("S", 2, false, 1)});
    std::vector<std::uint8_t> record(table.data->GetRecordSize());
    for (std::int32_t n = 1; n <= 400; ++n) {
      PutRecord(table.Fields(), record, n * 2, Name(rng));
      std::uint32_t number = 0;
      ASSERT_TRUE(table.AddRecord(record, number));
    }
    table.ExpectClean();
  }
  ASSERT_EQ(RunTableCheck(path + "/t.DAT").status, 0);
  // The flush's writes in one batch, then in batches of at most 12 KB,
  // each time from the same files; each run by itself (gap 0), runs a few
  // records apart as one span (the default), then runs up to 4 KB apart
  // as one span, bridging unchanged pages.
  const std::string dat = ReadFileBytes(path + "/t.DAT"), idx = ReadFileBytes(path + "/t.IDX");
  for (auto [batch, gap] : {std::pair<std::int64_t, std::int64_t>{0, 0}, {12 << 10, 0}, {0, -1}, {12 << 10, -1},
                            {0, 4096}, {12 << 10, 4096}}) {
    SCOPED_TRACE("batch " + std::to_string(batch) + " gap " + std::to_string(gap));
    qvtest::WriteFileBytes(path + "/t.DAT", dat);
    qvtest::WriteFileBytes(path + "/t.IDX", idx);
    TJournal::SetBatchLimit(batch);
    TJournal::SetSpanGap(gap);
    FlushKills kills = KillFlushAtSteps(
        path, {".DAT", ".IDX"},
        [&] {
          TDataSession session;
          session.Timing.InternalSleepMs = 1;
          TDataDirectory* directory = session.OpenDataDirectory("data", path);
          TDataTable* t = nullptr;
          if (directory->OpenDataTable("t", t, TOpenTableRequest{}) != 0) return false;
          t->WriteLockTable();
          TDataFile& data = t->DataFile();
          TIndexFile& index = t->IndexFile();
          std::mt19937 change(11);
          const std::vector<TFieldDefinition>& defs = data.Fields();
          std::vector<std::uint8_t> record(data.GetRecordSize());
          auto tree = [&](std::uint8_t slot, std::unique_ptr<TKeyComparator>& compare) {
            compare = std::make_unique<TKeyComparator>(data.GetLanguageID(), data.GetSortID(),
                                                       index.GetIndexDefinition(slot), defs);
            return TIndexTree(index, slot, *compare);
          };
          std::unique_ptr<TKeyComparator> c0, c1;
          TIndexTree primary = tree(0, c0), names = tree(1, c1);
          TKeyComparator system_compare;
          TIndexTree system(index, kSystemSlot, system_compare);
          auto key = [&](std::uint8_t slot) {
            std::vector<std::uint8_t> k(index.GetIndexDefinition(slot).KeySize);
            if (slot == kSystemSlot) BuildSystemKey(record.data(), k.data());
            else BuildIndexKey(index.GetIndexDefinition(slot), defs, data.GetLanguageID(), data.GetSortID(),
                               record.data(), k.data());
            return k;
          };
          // New keys between the old ones: splits of old pages.
          for (std::int32_t n = 0; n < 80; ++n) {
            PutRecord(defs, record, 2 * static_cast<std::int32_t>(change() % 800) + 1, Name(change));
            const std::uint32_t id = data.GetLastRecordID() + 1;
            rtl::EncodeFixed32(record.data() + kRecordIDOffset, id);
            if (primary.Search(key(0).data())) continue;
            data.SetNextFreeRecordID(id);
            TRecord* r = nullptr;
            if (!data.GetNextFreeRecord(nullptr, r)) return false;
            std::copy(record.begin() + kRecordIDOffset, record.end(), r->Data.begin() + kRecordIDOffset);
            r->Modified = true;
            const std::uint32_t number = r->Number();
            data.PutRecord(r);
            record[0] = 0;
            primary.Insert(key(0).data(), number);
            names.Insert(key(1).data(), number);
            system.Insert(key(kSystemSlot).data(), number);
            index.IncActualRecordCount();
          }
          // Old records go with their keys: pages shrink and merge.
          for (std::uint32_t number = 1; number <= 400; number += 4 + change() % 6) {
            TRecord* r = nullptr;
            if (!data.GetRecord(nullptr, number, false, false, 1, r)) return false;
            std::copy(r->Data.begin(), r->Data.end(), record.begin());
            if (!primary.Remove(key(0).data()) || !names.Remove(key(1).data()) ||
                !system.Remove(key(kSystemSlot).data()))
              return false;
            r->SetDeleted(true);
            r->Modified = true;
            data.PutRecord(r);
            record[0] = 1;
            system.Insert(key(kSystemSlot).data(), number);
            index.DecActualRecordCount();
          }
          // To the operating system only: a killed process loses nothing
          // the system holds, and the steps are writes (no syncs).
          t->FlushBuffers(false, true, true, true, false);
          t->WriteUnlockTable();
          return true;
        },
        // Every step of the first and last 20, and every fourth between;
        // in batches, every third and the last.
        [&](int k, int steps) { return batch ? k % 3 == 0 || k == steps : k <= 20 || k > steps - 20 || k % 4 == 0; });
    ASSERT_GT(kills.steps, gap == 0 ? 10 : 3);
    std::printf("index flush: %d steps\n", kills.steps);
    const std::string& before_idx = kills.before[1];
    const std::string& after_idx = kills.after[1];
    ASSERT_GT(after_idx.size(), before_idx.size());
    // Old pages were overwritten, not only new ones appended.
    EXPECT_NE(after_idx.substr(4096, before_idx.size() - 4096), before_idx.substr(4096));
    EXPECT_GT(kills.befores, 0);
    EXPECT_GT(kills.afters, 0);
    TJournal::SetBatchLimit(0);
    TJournal::SetSpanGap(-1);
  }
}

// The journal's layouts against an independent writer: python3 builds
// journals of all three layouts (the first two with zlib's CRC-32, the
// third with its own XXH64, checked against the hash's published values)
// with entries overlapping, one sealed with a stale salt, one torn, an
// ended header, a damaged header, and the bytes playback must leave; the
// engine plays each back.
TEST(SharedTableJournal, LayoutsWrittenByAnotherWriterPlayBack) {
  qvtest::TempDir dir;
  const std::string path = dir.Path();
  qvtest::WriteFileBytes(path + "/make.py", R"(import struct, sys, zlib
out = sys.argv[1]
M = (1 << 64) - 1
P1, P2, P3, P4, P5 = (11400714785074694791, 14029467366897019727, 1609587929392839161,
                      9650029242287828579, 2870177450012600261)
def rotl(v, n): return ((v << n) | (v >> (64 - n))) & M
def rnd(acc, w): return (rotl((acc + w * P2) & M, 31) * P1) & M
def xxh64(b, seed):
    n, i = len(b), 0
    if n >= 32:
        v = [(seed + P1 + P2) & M, (seed + P2) & M, seed, (seed - P1) & M]
        while i + 32 <= n:
            v = [rnd(v[k], struct.unpack_from('<Q', b, i + 8 * k)[0]) for k in range(4)]
            i += 32
        h = (rotl(v[0], 1) + rotl(v[1], 7) + rotl(v[2], 12) + rotl(v[3], 18)) & M
        for x in v: h = ((h ^ rnd(0, x)) * P1 + P4) & M
    else:
        h = (seed + P5) & M
    h = (h + n) & M
    while i + 8 <= n:
        h = (rotl(h ^ rnd(0, struct.unpack_from('<Q', b, i)[0]), 27) * P1 + P4) & M
        i += 8
    if i + 4 <= n:
        h = (rotl(h ^ (struct.unpack_from('<I', b, i)[0] * P1 & M), 23) * P2 + P3) & M
        i += 4
    while i < n:
        h = (rotl(h ^ (b[i] * P5 & M), 11) * P1) & M
        i += 1
    h ^= h >> 33; h = h * P2 & M; h ^= h >> 29; h = h * P3 & M
    return h ^ (h >> 32)
assert xxh64(b'', 0) == 0xEF46DB3751D8E999 and xxh64(b'a', 0) == 0xD24EC4F1A98C6E5B
def header(layout, lengths, salt):
    h = b'QVJNL%d\0\0' % layout + struct.pack('<3I', *lengths)
    if layout > 1: h += struct.pack('<I', salt)
    return h + struct.pack('<I', zlib.crc32(h))
def entry(layout, position, old, salt):
    e = struct.pack('<BII', 0, position, len(old)) + old
    seal = xxh64(e, salt) & 0xFFFFFFFF if layout == 3 else zlib.crc32(e) ^ salt
    return e + struct.pack('<I', seal)
data = bytes((i * 7) % 251 for i in range(300))
cases = [  # layout, salt, entries, old length, what follows the entries, how the header is spoilt
    (1, 0, [(10, b'AAAAA'), (12, b'BBB'), (250, b'Z' * 40)], 200, None, ''),
    (2, 0x9E3779B9, [(10, b'AAAAA'), (12, b'BBB')], 300, (40, b'stale', 0x1234), ''),
    (2, 7, [(0, b'first'), (100, b'x' * 60)], 280, (5, b'torn entry', 7), 'torn'),
    (2, 7, [(0, b'ended')], 100, None, 'ended'),
    (2, 7, [(0, b'damaged')], 100, None, 'damaged'),
    (3, 0xFFFFFFFF, [(10, b'AAAAA'), (12, b'BBB'), (250, b'Z' * 40)], 200, None, ''),
    (3, 0x9E3779B9, [(3, bytes(range(7, 107))), (12, b'BBB')], 300, (40, b'stale', 0x1234), ''),
    (3, 7, [(0, b'first'), (100, b'x' * 33)], 280, (5, b'torn entry of more than 32 bytes', 7), 'torn'),
    (3, 7, [(0, b'ended')], 100, None, 'ended'),
    (3, 7, [(0, b'damaged')], 100, None, 'damaged'),
    (3, 7, [(1, b'crc-sealed')], 100, None, 'crc'),
]
for i, (layout, salt, entries, length, tail, spoilt) in enumerate(cases):
    journal = header(layout, (length, 0, 0), salt) + b''.join(entry(layout, p, o, salt) for p, o in entries)
    if tail: journal += entry(layout, *tail)[:-3 if spoilt == 'torn' else None]
    if spoilt == 'crc': journal = header(3, (length, 0, 0), salt) + entry(2, 1, b'crc-sealed', salt)
    want, hot = bytearray(data), spoilt not in ('ended', 'damaged')
    if spoilt == 'ended': journal = b'\0' * 8 + journal[8:]
    if spoilt == 'damaged': journal = journal[:9] + bytes([journal[9] ^ 1]) + journal[10:]
    if hot:
        for p, o in reversed(entries if spoilt != 'crc' else []): want[p:p + len(o)] = o
        del want[length:]
    for name, value in (('data', data), ('jnl', journal), ('want', bytes(want))):
        open('%s/%s%d' % (out, name, i), 'wb').write(value)
    open('%s/hot%d' % (out, i), 'w').write(str(int(hot)))
open('%s/count' % out, 'w').write(str(len(cases)))
)");
  ASSERT_EQ(qvtest::RunShell("python3 '" + path + "/make.py' '" + path + "'").status, 0);
  const int cases = std::stoi(ReadFileBytes(path + "/count"));
  EXPECT_EQ(cases, 11);
  for (int i = 0; i < cases; ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    const std::string n = std::to_string(i), jnl = path + "/jnl" + n;
    const bool hot = ReadFileBytes(path + "/hot" + n) == "1";
    EXPECT_EQ(TJournal::IsHot(jnl), hot);
    TFileHandler data;
    data.SetFileName(path + "/data" + n);
    data.OpenFile();
    EXPECT_EQ(TJournal::RecoverFile(jnl, {&data, nullptr, nullptr}), hot);
    data.CloseFile();
    EXPECT_EQ(ReadFileBytes(path + "/data" + n), ReadFileBytes(path + "/want" + n));
    EXPECT_FALSE(TJournal::IsHot(jnl));
  }
}

}  // namespace
}  // namespace korvex::testing
