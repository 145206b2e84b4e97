// Key bytes and key comparison: encodings against python3's struct, the
// language-0 order against python3's sorted(), and the collation order of
// real languages on a table of cases.
#include "tables/engine/files/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <numeric>
#include <random>
#include <sstream>

#include "platform/runtime/coding.h"
#include "support/hex.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/engine/engine_test_support.h"

namespace korvex {
namespace {

using testing::AssignLayout;
using testing::Field;
using testing::RunPython;
using Bytes = std::vector<std::uint8_t>;

using qvtest::Hex;

// A record of the fields with every value set through `set`.
struct Table {
  std::vector<TFieldDefinition> fields;
  std::size_t size = 0;
  explicit Table(std::vector<TFieldDefinition> f) : fields(std::move(f)) {
    AssignLayout(fields);
    for (const auto& x : fields) size = std::max<std::size_t>(size, x.Offset + x.PhysicalSize + 1u);
  }
  Bytes Record(std::uint32_t id) const {
    Bytes r(size, 0);
    rtl::EncodeFixed32(r.data() + kRecordIDOffset, id);
    return r;
  }
  void SetString(Bytes& r, int field, const std::string& text) const {
    const auto& f = fields[field];
    r[f.Offset] = 1;
    std::memcpy(r.data() + f.Offset + 1, text.data(), std::min<std::size_t>(text.size(), f.PhysicalSize - 1u));
  }
  void SetInt(Bytes& r, int field, std::int32_t v) const {
    r[fields[field].Offset] = 1;
    rtl::EncodeFixed32(r.data() + fields[field].Offset + 1, static_cast<std::uint32_t>(v));
  }
  void SetFloat(Bytes& r, int field, double v) const {
    r[fields[field].Offset] = 1;
    rtl::EncodeDouble(r.data() + fields[field].Offset + 1, v);
  }
};

TIndexDefinition Index(std::initializer_list<std::uint16_t> numbers, bool unique, bool descending,
                       const std::vector<TFieldDefinition>& fields) {
  TIndexDefinition d;
  for (std::uint16_t n : numbers) d.Fields[d.FieldCount++] = n;
  d.Unique = unique;
  d.Descending = descending;
  d.KeySize = static_cast<std::uint16_t>(ComputeKeySize(d, fields));
  return d;
}

TEST(KeyBytes, EveryTypeMatchesPythonStructAndSortsByValue) {
  std::mt19937_64 rng(20);
  std::vector<TFieldDefinition> fields = {Field("S", dtString, 12), Field("D", dtDate), Field("B", dtBoolean),
                                          Field("SI", dtSmallInt), Field("I", dtInteger), Field("F", dtFloat),
                                          Field("C", dtBCD, 0, 0, 2), Field("T", dtTime), Field("TS", dtTimeStamp),
                                          Field("W", dtWord), Field("Y", dtBytes, 5)};
  AssignLayout(fields);
  const double specials[] = {0.0, -0.0, 1.5, -0.5, std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
                             -std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::lowest(), std::numeric_limits<double>::min()};
  const std::int64_t extremes[] = {0, -1, 1, INT32_MIN, INT32_MAX, INT16_MIN, INT16_MAX, INT64_MIN, INT64_MAX, 65535};
  qvtest::TempDir dir;
  std::string path = dir.File("keys.txt");
  std::ofstream out(path);
  for (const auto& f : fields) {
    for (int i = 0; i < 300; ++i) {
      std::uint8_t value[16] = {}, key[16] = {}, desc[16] = {};
      const std::uint64_t r = rng();
      const std::int64_t x = i < 10 ? extremes[i] : static_cast<std::int64_t>(r >> (rng() % 64));
      switch (f.DataType) {
        case dtFloat:
        case dtTimeStamp: {
          double d = i < 11 ? specials[i] : std::ldexp(static_cast<double>(static_cast<std::int64_t>(r)), static_cast<int>(rng() % 200) - 100);
          rtl::EncodeDouble(value, d);
          break;
        }
        case dtString:
          for (int c = 0; c < 12; ++c) value[c] = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0 : 'a' + rng() % 5);
          break;
        case dtBytes:
          for (int c = 0; c < 5; ++c) value[c] = static_cast<std::uint8_t>(rng());
          break;
        default:
          rtl::EncodeFixed64(value, static_cast<std::uint64_t>(x));
      }
      PrepareDataForIndex(f, value, key, false, false, 0, 0);
      PrepareDataForIndex(f, value, desc, false, true, 0, 0);
      out << int(f.DataType) << ' ' << Hex(value, f.PhysicalSize) << ' ' << Hex(key, f.PhysicalSize) << ' '
          << Hex(desc, f.PhysicalSize) << '\n';
    }
  }
  out.close();
  const std::string python = R"(
import math
by_type = {}
bad = 0
for line in open(path):
    t, value, key, desc = line.split()
    t, value, key, desc = int(t), bytes.fromhex(value), bytes.fromhex(key), bytes.fromhex(desc)
    if t in (2, 6, 10):
        v = struct.unpack('<i', value)[0]; want = struct.pack('>I', v + 2**31)
    elif t == 5:
        v = struct.unpack('<h', value)[0]; want = struct.pack('>H', v + 2**15)
    elif t in (4, 12):
        v = struct.unpack('<H', value)[0]; want = struct.pack('>H', v)
    elif t == 8:
        v = struct.unpack('<q', value)[0]; want = struct.pack('>Q', v + 2**63)
    elif t in (7, 11):
        v = struct.unpack('<d', value)[0]
        bits = struct.unpack('>Q', struct.pack('>d', v))[0]
        want = struct.pack('>Q', (bits ^ (2**64 - 1)) if v < 0 else (bits | 2**63))
    elif t == 1:
        v = value.split(b'\0')[0][:len(value) - 1]; want = v.ljust(len(value), b'\0')
    else:
        v = value; want = value
    flipped = len(want) - 1 if t == 1 else len(want)
    want_desc = bytes(255 - b for b in want[:flipped]) + want[flipped:]
    if key != want or desc != want_desc:
        bad += 1
        print('type', t, value.hex(), key.hex(), want.hex())
    by_type.setdefault(t, []).append((v, key))
for t, pairs in by_type.items():
    pairs.sort(key=lambda p: p[0])
    for (v1, k1), (v2, k2) in zip(pairs, pairs[1:]):
        if (v1 < v2 and not k1 < k2) or (v1 == v2 and k1 != k2):
            print('order', t, v1, v2)
print('checked', sum(len(p) for p in by_type.values()))
)";
  EXPECT_EQ(RunPython(path, python), "checked 3300\n");

  std::uint8_t value[4], key[4];
  rtl::EncodeFixed32(value, 0xFFFFFFFFu);
  PrepareDataForIndex(fields[4], value, key, false, false, 0, 0);
  EXPECT_EQ(Hex(key, 4), "7fffffff");
  rtl::EncodeFixed32(value, 0);
  PrepareDataForIndex(fields[4], value, key, false, false, 0, 0);
  EXPECT_EQ(Hex(key, 4), "80000000");
}

TEST(KeyBytes, IndexKeysOfRecordsCarryFlagsAutoIncrementAndRecordID) {
  Table t({Field("ID", dtInteger, 0, fstAutoInc), Field("Name", dtString, 4), Field("N", dtInteger)});
  TIndexDefinition d = Index({1, 2, 3}, false, false, t.fields);
  d.CaseInsensitive = 1;
  ASSERT_EQ(d.KeySize, 5 + 6 + 5 + 4);
  Bytes r = t.Record(7);
  t.SetString(r, 1, "ab");
  Bytes key(d.KeySize);
  BuildIndexKey(d, t.fields, 0, 0, r.data(), key.data());
  // N is blank: flag and value bytes all zero.
  EXPECT_EQ(Hex(key.data(), key.size()), "0180000007" "014142000000" "0000000000" "80000007");
  Bytes system(5);
  r[0] = 1;
  BuildSystemKey(r.data(), system.data());
  EXPECT_EQ(Hex(system.data(), 5), "0180000007");
  // Sizes: a non-unique index over one string(10) field is 16 bytes, string(20) 26.
  for (auto [size, want] : {std::pair{10, 16}, {20, 26}}) {
    Table s({Field("S", dtString, static_cast<std::uint8_t>(size))});
    EXPECT_EQ(ComputeKeySize(Index({1}, false, false, s.fields), s.fields), static_cast<std::uint32_t>(want));
  }
}

TEST(CompareKeys, LanguageZeroMatchesPythonSortedWithPartialLengths) {
  std::mt19937 rng(2020);
  Table t({Field("S", dtString, 6), Field("I", dtInteger), Field("F", dtFloat)});
  TIndexDefinition asc = Index({1, 2, 3}, false, false, t.fields);
  TIndexDefinition desc = Index({1, 2, 3}, false, true, t.fields);
  const std::uint16_t k = asc.KeySize;
  std::vector<Bytes> keys;
  for (int i = 0; i < 400; ++i) {
    Bytes r = t.Record(static_cast<std::uint32_t>(rng() % 50));
    if (rng() % 5) t.SetString(r, 0, std::string(rng() % 7, static_cast<char>('a' + rng() % 3)));
    if (rng() % 5) t.SetInt(r, 1, static_cast<std::int32_t>(rng() % 7) - 3);
    if (rng() % 5) t.SetFloat(r, 2, (static_cast<int>(rng() % 5) - 2) * 0.5);
    keys.emplace_back(k);
    BuildIndexKey(asc, t.fields, 0, 0, r.data(), keys.back().data());
  }
  qvtest::TempDir dir;
  std::string path = dir.File("keys.txt");
  {
    std::ofstream out(path);
    for (const Bytes& key : keys) out << Hex(key.data(), key.size()) << '\n';
  }
  const std::vector<std::uint16_t> lengths = {k, 1, 3, 7, 8, 12, static_cast<std::uint16_t>(k - 4)};
  std::string python = "keys = [bytes.fromhex(l) for l in open(path).read().split()]\n"
                       "for desc in (0, 1):\n"
                       "    for n in (";
  for (auto n : lengths) python += std::to_string(n) + ",";
  python += R"():
        order = sorted(range(len(keys)), key=lambda i: keys[i][:n], reverse=bool(desc))
        print(desc, n, ' '.join(map(str, order)))
)";
  std::string expected;
  for (int descending = 0; descending < 2; ++descending) {
    TKeyComparator compare(0, 0, descending ? desc : asc, t.fields);
    for (auto n : lengths) {
      std::vector<int> order(keys.size());
      std::iota(order.begin(), order.end(), 0);
      std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return compare.CompareKeys(keys[a].data(), keys[b].data(), n) < 0;
      });
      expected += std::to_string(descending) + " " + std::to_string(n);
      for (std::size_t i = 0; i < order.size(); ++i) expected += (i ? " " : " ") + std::to_string(order[i]);
      expected += "\n";
    }
  }
  EXPECT_EQ(RunPython(path, python), expected);
}

// The order of two records' keys under a language, by case.
TEST(CompareKeys, LanguagesCompareStringsByTheirCollation) {
  const std::uint16_t german = MakeLanguageID(7, 1), castilian = MakeLanguageID(10, 1);
  Table t({Field("S", dtString, 10), Field("I", dtInteger)});
  struct Case {
    std::uint16_t language, sort;
    bool descending, unique;
    const char* a;  // nullptr: blank
    std::uint32_t id_a;
    const char* b;
    std::uint32_t id_b;
    int length;  // 0: whole key
    int want;
  } cases[] = {
      {german, 0, false, true, "Jos\xE9", 1, "Jose", 2, 0, 0},  // accents ignored
      {german, 0, false, true, "abc", 1, "ABC", 2, 0, -1},   // case kept
      {german, 0, false, true, "coop", 1, "co-op", 2, 0, 1},  // hyphens take part
      {german, 0, false, true, nullptr, 1, "A", 2, 0, -1},   // blank first ascending
      {german, 0, true, true, nullptr, 1, "A", 2, 0, 1},     // and last descending
      {german, 0, true, true, "b", 1, "a", 2, 0, -1},
      {german, 0, false, false, "x", 1, "x", 2, 0, -1},      // equal values: by record ID
      {german, 0, true, false, "x", 1, "x", 2, 0, 1},        // descending record IDs
      {german, 0, false, true, "Mullerx", 1, "M\xFCller", 2, 7, 0},  // a partial key ends inside the string
      {german, 0, false, true, "M\xFCller", 1, "Muller", 2, 0, 0},
      {german, 1, false, true, "M\xFCller", 1, "Muller", 2, 0, -1},  // phone book: ü as ue
      {castilian, 0, false, true, "cz", 1, "ch", 2, 0, -1},       // traditional: ch after c
      {castilian, 0, false, true, "lz", 1, "llama", 2, 0, -1},
      {0, 0, false, true, "abc", 1, "ABC", 2, 0, 1},
      {0, 0, true, false, "x", 1, "x", 2, 0, 1},
  };
  for (const Case& c : cases) {
    TIndexDefinition d = Index({1}, c.unique, c.descending, t.fields);
    Bytes a = t.Record(c.id_a), b = t.Record(c.id_b);
    if (c.a) t.SetString(a, 0, c.a);
    if (c.b) t.SetString(b, 0, c.b);
    Bytes ka(d.KeySize), kb(d.KeySize);
    BuildIndexKey(d, t.fields, c.language, c.sort, a.data(), ka.data());
    BuildIndexKey(d, t.fields, c.language, c.sort, b.data(), kb.data());
    TKeyComparator compare(c.language, c.sort, d, t.fields);
    const auto n = static_cast<std::uint16_t>(c.length ? c.length : d.KeySize);
    EXPECT_EQ(compare.CompareKeys(ka.data(), kb.data(), n), c.want)
        << c.language << "/" << c.sort << " " << (c.a ? c.a : "(blank)") << " vs " << (c.b ? c.b : "(blank)");
    EXPECT_EQ(compare.CompareKeys(kb.data(), ka.data(), n), -c.want);
  }
}

TEST(SortKeys, OrderValuesByteWiseOrByCollation) {
  Table t({Field("F", dtFloat), Field("I", dtInteger), Field("S", dtString, 8)});
  struct Case {
    std::uint16_t language;
    int field;
    bool descending;
    double a;  // NaN: blank
    std::uint32_t id_a;
    double b;
    std::uint32_t id_b;
    int want;
  } cases[] = {
      {0, 0, false, -0.5, 1, 0.0, 2, -1}, {0, 0, false, 0.0, 1, 1.5, 2, -1},
      {0, 1, true, 5, 1, 3, 2, -1},       {0, 1, false, 4, 2, 4, 1, 1},
      {0, 1, true, NAN, 1, 3, 2, -1},  // language 0: the null flag is not inverted
      {MakeLanguageID(7, 1), 2, true, NAN, 1, 3, 2, 1},  // other languages reverse it
      {MakeLanguageID(7, 1), 2, true, 1, 1, 2, 2, 1},
  };
  for (const Case& c : cases) {
    TSortKeys keys({{t.fields[c.field], c.descending}}, false, c.language, 0);
    auto set = [&](Bytes& r, double v) {
      if (std::isnan(v)) return;
      if (c.field == 0) t.SetFloat(r, 0, v);
      else if (c.field == 1) t.SetInt(r, 1, static_cast<std::int32_t>(v));
      else t.SetString(r, 2, std::string(1, static_cast<char>('a' + static_cast<int>(v))));
    };
    Bytes a = t.Record(c.id_a), b = t.Record(c.id_b);
    set(a, c.a);
    set(b, c.b);
    Bytes ka(keys.KeySize()), kb(keys.KeySize());
    keys.GetSortKeyValues(a.data(), ka.data());
    keys.GetSortKeyValues(b.data(), kb.data());
    EXPECT_EQ(keys.CompareSortKeys(ka.data(), kb.data(), true), c.want) << c.language << " " << c.a << " " << c.b;
  }
}

}  // namespace
}  // namespace korvex
