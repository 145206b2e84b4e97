// Filter sets: key bounds, optimise levels, errors, bitmap upkeep against
// full rebuilds, restarts under a changing table, and the bitmaps' memory.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "tables/engine/errors/engine_error.h"
#include "tables/engine/files/key_bounds.h"
#include "tables/lib/allocator.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/key_bytes.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/support.h"
#include "tests/tables/engine/filter_table_support.h"

namespace korvex::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class FilterTest : public ::testing::Test {
protected:
  void SetUp() override { InitializeSupportFunctions(); }
};

// ---- key bounds ----------------------------------------------------------------

TEST(KeyBounds, IncrementAndDecrementCarryAndBorrowOverTheLength) {
  struct Case {
    Bytes key;
    std::uint16_t length;
    Bytes inc, dec;
    bool inc_ok, dec_ok;
  } cases[] = {
      {{1, 2, 3}, 3, {1, 2, 4}, {1, 2, 2}, true, true},
      {{1, 2, 255}, 3, {1, 3, 0}, {1, 2, 254}, true, true},
      {{1, 255, 255}, 3, {2, 0, 0}, {1, 255, 254}, true, true},
      {{1, 0, 0}, 3, {1, 0, 1}, {0, 255, 255}, true, true},
      {{7, 0, 0}, 1, {8, 0, 0}, {6, 0, 0}, true, true},            // bytes past the length stay
      {{255, 255, 255}, 3, {255, 255, 255}, {255, 255, 254}, false, true},
      {{0, 0, 0}, 3, {0, 0, 1}, {0, 0, 0}, true, false},
      {{9, 255, 0}, 2, {10, 0, 0}, {9, 254, 0}, true, true},
      {{5}, 0, {5}, {5}, false, false},
  };
  for (const Case& c : cases) {
    Bytes up = c.key, down = c.key;
    EXPECT_EQ(TKeyBounds::IncLastByte(up.data(), c.length), c.inc_ok);
    EXPECT_EQ(TKeyBounds::DecLastByte(down.data(), c.length), c.dec_ok);
    EXPECT_EQ(up, c.inc);
    EXPECT_EQ(down, c.dec);
  }
}

TEST_F(FilterTest, LowAndHighBytesFollowTheFieldsUnderACollation) {
  // Fields: string(5) [0..7), integer [7..12), string(3) [12..17); not unique: 4 more.
  std::vector<TFieldDefinition> fields = {Field("A", dtString, 5), Field("B", dtInteger), Field("C", dtString, 3)};
  AssignLayout(fields);
  TIndexDefinition index;
  index.FieldCount = 3;
  index.Fields = {1, 2, 3};
  index.KeySize = static_cast<std::uint16_t>(ComputeKeySize(index, fields));
  ASSERT_EQ(index.KeySize, 21);
  const std::uint16_t german = MakeLanguageID(7, 1);
  TCharMap map;
  GetLanguageCharMap(german, 0, map);
  const std::uint8_t lo = map.front(), hi = map.back();
  ASSERT_NE(hi, 255);  // the collation's highest character is not byte 255
  // A key from runs of (count, byte).
  auto runs = [](std::initializer_list<std::pair<int, std::uint8_t>> parts) {
    Bytes key;
    for (auto [n, b] : parts) key.insert(key.end(), static_cast<std::size_t>(n), b);
    return key;
  };
  const Bytes low_all = runs({{1, 0}, {6, lo}, {6, 0}, {4, lo}, {4, 0}});
  const Bytes high_all = runs({{1, 255}, {6, hi}, {6, 255}, {4, hi}, {4, 255}});

  TKeyBounds bytes(index, fields, 0, 0), collated(index, fields, german, 0);
  struct Case {
    const TKeyBounds* bounds;
    std::uint16_t from;
    Bytes low, high;
  } cases[] = {
      {&bytes, 0, Bytes(21, 0), Bytes(21, 255)},
      {&bytes, 9, runs({{9, 7}, {12, 0}}), runs({{9, 7}, {12, 255}})},
      {&collated, 0, low_all, high_all},
      {&collated, 3, runs({{3, 7}, {4, lo}, {6, 0}, {4, lo}, {4, 0}}), runs({{3, 7}, {4, hi}, {6, 255}, {4, hi}, {4, 255}})},
      {&collated, 12, runs({{12, 7}, {1, 0}, {4, lo}, {4, 0}}), runs({{12, 7}, {1, 255}, {4, hi}, {4, 255}})},
      {&collated, 21, Bytes(21, 7), Bytes(21, 7)},
  };
  for (const Case& c : cases) {
    Bytes low(21, 7), high(21, 7);
    c.bounds->SetLowBytes(low.data(), c.from);
    c.bounds->SetHighBytes(high.data(), c.from);
    EXPECT_EQ(low, c.low) << c.from;
    EXPECT_EQ(high, c.high) << c.from;
  }
  Bytes all_low(21, 7), all_high(21, 7);
  collated.FillAllLowBytes(all_low.data());
  collated.FillAllHighBytes(all_high.data());
  EXPECT_EQ(all_low, low_all);
  EXPECT_EQ(all_high, runs({{1, 1}, {6, hi}, {1, 1}, {4, 255}, {1, 1}, {4, hi}, {4, 255}}));
  TKeyBounds system(5);
  Bytes s(5, 7);
  system.SetHighBytes(s.data(), 1);
  EXPECT_EQ(s, (Bytes{7, 255, 255, 255, 255}));
}

// ---- a family table ---------------------------------------------------------------

// Surname string(20), Forename string(20), Year integer, Qty integer;
// indexes on Surname (case-sensitive), Qty, and Surname case-insensitive.
struct Family {
  qvtest::TempDir dir;
  std::unique_ptr<IndexTable> table;
  std::vector<std::uint32_t> numbers;

  Family(int records, std::uint32_t seed, bool descending = false) {
    std::vector<TFieldDefinition> fields = {Field("Surname", dtString, 20), Field("Forename", dtString, 20),
                                            Field("Year", dtInteger), Field("Qty", dtInteger)};
    AssignLayout(fields);
    std::filesystem::create_directories(dir.File("p"));
    IndexTable probe(dir.File("p"), fields, {}, {}, {});
    TIndexDefinition ci = probe.Definition("SurnameCI", {1}, false, descending);
    ci.CaseInsensitive = 1;
    std::vector<TIndexDefinition> indexes = {probe.Definition("Surname", {1}, false, descending),
                                             probe.Definition("Qty", {4}, false, descending), ci};
    std::filesystem::create_directories(dir.File("t"));
    table = std::make_unique<IndexTable>(dir.File("t"), fields, TDataFileSettings{}, TIndexDefinition{}, indexes);
    std::mt19937 random(seed);
    for (int i = 0; i < records; ++i) Append(Row(random));
  }
  static std::vector<FilterCell> Row(std::mt19937& random) {
    static const char* kNames[] = {"Smith", "smith", "Smyth", "Jones", "Brown", "Sm"};
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::vector<FilterCell> row;
    for (int name = 0; name < 2; ++name) {
      row.emplace_back();  // blank one time in eight
      if (pick(8) != 0) row.back().emplace<std::string>(kNames[pick(6)]);
    }
    row.emplace_back(std::int64_t{1690 + pick(20)});
    row.emplace_back();
    if (pick(5) != 0) row.back().emplace<std::int64_t>(pick(9) - 2);
    return row;
  }
  std::uint32_t Append(const std::vector<FilterCell>& row) {
    Bytes record = MakeRecord(*table, row);
    std::uint32_t n = 0;
    EXPECT_TRUE(table->AddRecord(record, n));
    numbers.push_back(n);
    return n;
  }
  std::uint32_t Physical() const { return table->data->GetPhysicalRecordsUsed(); }
};

const TExpToken* Comparison(const TFilter* f) { return f->Expression(); }

TEST_F(FilterTest, OptimiseLevelsNormaliseAndSwapOperands) {
  LanguageSettingsScope ansi(0, 0);
  Family family(40, 1);
  TableSource source(*family.table, true);
  TFilterSet set(source);
  struct Case {
    const char* text;
    bool case_insensitive;
    TOptimizeLevel level;
  } cases[] = {
      {"Qty = 3", false, olFull},
      {"Year = 1700", false, olNone},
      {"Qty = 3 AND Year = 1700", false, olPartial},
      {"Year = 1700 AND Qty = 3", false, olPartial},
      {"Qty = 3 OR Year = 1700", false, olNone},
      {"Qty = 3 OR Qty > 5", false, olFull},
      {"Qty = 3 AND Qty < 5", false, olFull},
      {"NOT (Qty = 3)", false, olFull},
      {"3 < Qty", false, olFull},
      {"Qty = NULL", false, olFull},
      {"Qty IS NOT NULL", false, olFull},
      {"Year IS NULL", false, olNone},
      {"Qty >= 2.5", false, olNone},  // inexact constant: record by record
      {"Qty BETWEEN 1 AND 4", false, olFull},
      {"Qty IN (1, 2, NULL)", false, olFull},
      {"Surname = 'Smith'", false, olFull},
      {"Surname = 'Smith'", true, olFull},    // the case-insensitive index
      {"Surname = 'Sm*'", false, olFull},     // partial compare, case-sensitive index
      {"Surname LIKE 'Sm%'", false, olFull},
      {"Surname LIKE '%th'", false, olNone},
      {"UPPER(Surname) = 'SMITH'", false, olFull},
      {"UPPER(Surname) = 'Smith'", false, olNone},
      {"Forename = 'Smith'", false, olNone},
      {"Surname = 'ThisNameIsMuchLongerThanTwenty'", false, olNone},
      {"Qty + 1 = 3", false, olNone},
  };
  for (const Case& c : cases) {
    TFilterFlags options;
    options.CaseInsensitive = c.case_insensitive;
    TFilter* f = set.AddFilter(0, c.text, nullptr, false, nullptr, options);
    EXPECT_EQ(f->Level(), c.level) << c.text;
    set.DropFilter(f);
  }
  // The indexed operand of an AND comes first; the constant goes right.
  TFilter* f = set.AddFilter(0, "Year = 1700 AND 3 < Qty", nullptr, false, nullptr, {});
  const TExpToken* root = Comparison(f);
  ASSERT_EQ(root->Operator, eoAND);
  EXPECT_EQ(root->Left->Operator, eoGT);
  EXPECT_EQ(root->Left->Left->ColumnName, "Qty");
  EXPECT_EQ(root->Right->Left->ColumnName, "Year");
  TFilter* g = set.AddFilter(0, "3 <= Qty", nullptr, false, nullptr, {});
  EXPECT_EQ(Comparison(g)->Operator, eoGE);
  EXPECT_EQ(Comparison(g)->Left->ColumnName, "Qty");
  // The combined level of the list.
  EXPECT_EQ(set.GetFilterOptimizeLevel(), olPartial);
  set.DropAllFilters();
  EXPECT_EQ(set.GetFilterOptimizeLevel(), olNone);
  set.AddFilter(0, "Qty = 1", nullptr, false, nullptr, {});
  set.AddFilter(0, "Surname = 'Jones'", nullptr, false, nullptr, {});
  EXPECT_EQ(set.GetFilterOptimizeLevel(), olFull);
  set.AddFilter(0, "Year = 1", nullptr, false, nullptr, {});
  EXPECT_EQ(set.GetFilterOptimizeLevel(), olPartial);
}

// A source whose columns can be swapped for another layout (the same
// names, other types and places), as after a restructure.
class RelaidSource : public TableSource {
public:
  using TableSource::TableSource;
  const std::vector<TFieldDefinition>& FilterFields() const override {
    return relaid ? other : TableSource::FilterFields();
  }
  bool relaid = false;
  std::vector<TFieldDefinition> other;
};

// A set adds texts again and again (more kinds than it keeps): each filter's
// tree, level and records equal those a set meeting the text for the first
// time makes, errors stay errors, and a new layout of the columns is
// never answered with trees made for the old one.
TEST_F(FilterTest, TextsAddedAgainGiveWhatAFirstParseGives) {
  LanguageSettingsScope ansi(0, 0);
  Family family(60, 9);
  RelaidSource source(*family.table, true);
  source.other = {Field("Qty", dtSmallInt), Field("Year", dtString, 8), Field("Surname", dtString, 30),
                  Field("Forename", dtString, 20)};
  AssignLayout(source.other);
  const char* texts[] = {"Qty = 3",
                         "Qty BETWEEN 1 AND 4 AND Surname = 'Smith'",
                         "Surname = 'smith'",
                         "NOT (Qty IN (1, 2, NULL))",
                         "3 < Qty OR Year = 1700",
                         "Surname LIKE 'Sm%'",
                         "Surname = 'Sm*'",
                         "UPPER(Surname) = 'SMITH'",
                         "Qty >= 2.5",
                         "Year NOT BETWEEN 1695 AND 1700",
                         "Forename <> 'Jones' AND Qty IS NOT NULL",
                         "Qty + 1",       // not boolean
                         "Nope = 1"};     // no such column
  TFilterSet kept(source);
  std::mt19937 random(5);
  int errors = 0;
  for (int step = 0; step < 400; ++step) {
    if (step == 300) source.relaid = true;
    const char* text = texts[random() % std::size(texts)];
    TFilterFlags options;
    options.CaseInsensitive = random() % 2 == 0;
    options.NoPartialCompare = random() % 4 == 0;
    TFilterSet fresh(source);
    TFilter* expected = nullptr;
    try {
      expected = fresh.AddFilter(0, text, nullptr, false, nullptr, options);
    } catch (const EKORVEXEngineError&) {
      EXPECT_THROW(kept.AddFilter(0, text, nullptr, false, nullptr, options), EKORVEXEngineError) << text;
      ++errors;
      continue;
    }
    TFilter* f = kept.AddFilter(0, text, nullptr, false, nullptr, options);
    ASSERT_TRUE(CompareExpressionTokens(f->Expression(), expected->Expression())) << step << " " << text;
    EXPECT_EQ(f->Level(), expected->Level()) << text;
    if (!source.relaid && step % 5 == 0) {
      kept.ActivateFilter(f);
      fresh.ActivateFilter(expected);
      EXPECT_EQ(Visible(kept, family.Physical()), Visible(fresh, family.Physical())) << text;
    }
    kept.DropFilter(f);
  }
  EXPECT_GT(errors, 10);
}

TEST_F(FilterTest, NullComparisonsAndOrderingsAgreeWithAndWithoutIndexes) {
  LanguageSettingsScope ansi(0, 0);
  for (bool descending : {false, true}) {
    Family family(120, 5, descending);
    TableSource with(*family.table, true), without(*family.table, false);
    for (const char* text : {"Qty < 3", "Qty <= 3", "NOT (Qty < 3)", "Qty > 1", "Qty = NULL", "Qty <> NULL",
                             "Qty <> 2", "Qty NOT BETWEEN 0 AND 3", "Qty NOT IN (1, NULL)", "Surname < 'Sm'",
                             "Surname <= 'Smith'", "Surname > 'Sm*'", "Surname <> 'Sm*'", "NOT (Surname >= 'T')"}) {
      TFilterSet a(with), b(without);
      TFilter* fa = a.AddFilter(0, text, nullptr, false, nullptr, {});
      b.AddFilter(0, text, nullptr, false, nullptr, {});
      a.ActivateAllFilters();
      b.ActivateAllFilters();
      EXPECT_NE(fa->Level(), olNone) << text;
      EXPECT_EQ(Visible(a, family.Physical()), Visible(b, family.Physical())) << text << " descending " << descending;
      EXPECT_EQ(a.FilteredCount(), b.FilteredCount()) << text;
    }
  }
}

TEST_F(FilterTest, CountCheckLeavesLeavesCoveringNinetyPercentToTheScan) {
  LanguageSettingsScope ansi(0, 0);
  Family family(0, 1);
  // 20 records: Qty 1 on k of them, Qty 2 on the rest.
  for (int i = 0; i < 20; ++i) family.Append({std::string("A"), std::string("B"), std::int64_t{1700}, std::int64_t{i < 18 ? 1 : 2}});
  TableSource source(*family.table, true);
  TFilterSet set(source);
  // (9 * 20 + 5) div 10 = 18 keys at most.
  struct Case {
    const char* text;
    TOptimizeLevel checked;
  } cases[] = {{"Qty = 1 AND Year = 1", olPartial},   // 18 keys: still optimised
               {"Qty >= 1 AND Year = 1", olNone},     // 20 keys
               {"Qty <> 2 AND Year = 1", olPartial},  // the complement: 18
               {"Qty <> 1 AND Year = 1", olPartial}};
  for (const Case& c : cases) {
    TFilter* f = set.AddFilter(0, c.text, nullptr, false, nullptr, {});
    EXPECT_EQ(f->Level(), olPartial) << c.text;  // no count check at creation
    TExpToken* tree = const_cast<TExpToken*>(f->Expression());
    EXPECT_EQ(set.GetExpressionOptimizeLevel(0, tree, true, {}), c.checked) << c.text;
    set.DropFilter(f);
  }
  // Each record added has Qty 1: R records, R - 2 keys, at most (9R + 5) div 10.
  // R = 25: 23 keys against 22.5 rounded to 23; R = 26: 24 against 23.
  TFilter* f = set.AddFilter(0, "Qty = 1 AND Year = 1", nullptr, false, nullptr, {});
  for (int records = 21; records <= 26; ++records) {
    family.Append({std::string("A"), std::string("B"), std::int64_t{1700}, std::int64_t{1}});
    EXPECT_EQ(set.GetExpressionOptimizeLevel(0, const_cast<TExpToken*>(f->Expression()), true, {}),
              records < 26 ? olPartial : olNone)
        << records;
  }
}

TEST_F(FilterTest, ErrorsNameTheTableAndTheFault) {
  LanguageSettingsScope ansi(0, 0);
  Family family(5, 1);
  TableSource source(*family.table, true);
  TFilterSet set(source), other(source);
  auto message = [](const std::function<void()>& body) -> std::pair<int, std::string> {
    try {
      body();
    } catch (const EKORVEXEngineError& e) {
      return {e.ErrorCode(), e.Message()};
    }
    return {0, ""};
  };
  auto add = [&](const char* text) { set.AddFilter(0, text, nullptr, false, nullptr, {}); };
  EXPECT_EQ(message([&] { add("Qty + 1"); }),
            std::make_pair(10051, std::string("KORVEX Engine Error # 10051 Filter error for table 'T' - filter expression must be a boolean expression")));
  EXPECT_EQ(message([&] { add("   "); }).second,
            "KORVEX Engine Error # 10051 Filter error for table 'T' - filter expression is empty");
  EXPECT_EQ(message([&] { add("Nope = 1"); }).first, 10051);
  EXPECT_EQ(message([&] { add("Qty = "); }).first, 10051);
  TFilter* foreign = other.AddFilter(0, "Qty = 1", nullptr, false, nullptr, {});
  for (auto body : std::vector<std::function<void()>>{[&] { set.DropFilter(foreign); },
                                                      [&] { set.ActivateFilter(foreign); },
                                                      [&] { set.DeactivateFilter(foreign); },
                                                      [&] { set.ResetFilter(nullptr, foreign); }})
    EXPECT_EQ(message(body), std::make_pair(10050, std::string("KORVEX Engine Error # 10050 Invalid filter handle specified for table 'T'")));
  for (std::size_t i = 0; i < kMaxFilters; ++i) add("Qty = 1");
  EXPECT_EQ(message([&] { add("Qty = 1"); }),
            std::make_pair(9482, std::string("KORVEX Engine Error # 9482 Too many filters defined for table 'T'")));
  EXPECT_EQ(set.FilterCount(), kMaxFilters);
}

TEST_F(FilterTest, NarrowingFiltersFollowTheOthersAndPhysicalNavigationSkipsDeletedRecords) {
  LanguageSettingsScope ansi(0, 0);
  Family family(30, 3);
  family.table->DeleteRecord(family.numbers[4]);
  family.table->DeleteRecord(family.numbers[9]);
  TableSource source(*family.table, true);
  TFilterSet set(source);
  TFilter* narrow = set.AddFilter(1, "Year > 1695", nullptr, false, nullptr, {true, false, false, false});
  TFilter* plain = set.AddFilter(2, "Qty > 0", nullptr, false, nullptr, {});
  TFilter* callback = set.AddFilter(3, {}, nullptr, false, [](const std::uint8_t*, std::uint32_t n) { return n % 2 == 0; },
                                    {true, true, false, false});
  ASSERT_EQ(set.FilterCount(), 3u);
  EXPECT_EQ(set.FilterAt(0), plain);
  EXPECT_EQ(set.FilterAt(1), narrow);
  EXPECT_EQ(set.FilterAt(2), callback);
  EXPECT_TRUE(callback->IsCallback());
  EXPECT_EQ(callback->Level(), olNone);

  // No active filter, logical order: everything visible, nothing in force.
  EXPECT_FALSE(set.FiltersInForce());
  EXPECT_TRUE(set.Visible(family.numbers[4]));
  // Physical order keeps the live bitmap in force.
  set.SetPhysicalNavigation(true);
  set.RefreshRangeAndFilters();
  EXPECT_TRUE(set.FiltersInForce());
  EXPECT_FALSE(set.Visible(family.numbers[4]));
  EXPECT_FALSE(set.Visible(family.numbers[9]));
  EXPECT_EQ(set.FilteredCount(), 28u);
  set.SetPhysicalNavigation(false);
  set.ActivateAllFilters();
  const std::uint32_t all = set.FilteredCount();
  set.DeactivateFilter(callback);
  EXPECT_GE(set.FilteredCount(), all);
  set.DeactivateAllFilters();
  EXPECT_FALSE(set.FiltersInForce());
  EXPECT_EQ(set.FilteredCount(), 0u);
}

// Keys so selective that their records are collected as a list (a few
// among thousands, scattered over the table): random filters of them with
// AND, OR and NOT, under a range, over deleted records and after a
// narrowing filter, show the records the same filters show without
// indexes (without a range) and when every node is tested record by
// record.
TEST_F(FilterTest, FewScatteredKeysGiveWhatTheRecordsSay) {
  LanguageSettingsScope ansi(0, 0);
  qvtest::TempDir dir;
  std::vector<TFieldDefinition> fields = {Field("Key", dtInteger), Field("Grp", dtInteger), Field("Name", dtString, 10)};
  AssignLayout(fields);
  std::filesystem::create_directories(dir.File("p"));
  IndexTable probe(dir.File("p"), fields, {}, {}, {});
  std::vector<TIndexDefinition> indexes = {probe.Definition("Key", {1}, false), probe.Definition("Grp", {2}, false)};
  std::filesystem::create_directories(dir.File("t"));
  IndexTable table(dir.File("t"), fields, TDataFileSettings{}, TIndexDefinition{}, indexes);
  std::mt19937 random(23);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int i = 0; i < 3000; ++i) {
    std::vector<FilterCell> row(3);
    if (pick(10) != 0) row[0] = std::int64_t{pick(1500)};
    row[1] = std::int64_t{pick(8)};
    row[2] = std::string(pick(2) ? "Ann" : "Bob");
    Bytes record = MakeRecord(table, row);
    std::uint32_t n = 0;
    ASSERT_TRUE(table.AddRecord(record, n));
  }
  for (std::uint32_t n = 5; n <= 3000; n += 9) table.DeleteRecord(n);
  auto leaf = [&]() -> std::string {
    const std::string k = std::to_string(pick(1500));
    switch (pick(7)) {
      case 0: return "Key = " + k;
      case 1: return "Key IN (" + k + ", " + std::to_string(pick(1500)) + ", NULL)";
      case 2: return "Key BETWEEN " + k + " AND " + std::to_string(std::stoi(k) + pick(4));
      case 3: return "Grp = " + std::to_string(pick(8));
      case 4: return "Key < " + std::to_string(pick(6));
      case 5: return k + " <= Key AND Key <= " + std::to_string(std::stoi(k) + 1);
      default: return "Name = 'Ann'";
    }
  };
  TFilterRange range;
  range.Slot = 2;  // Grp 2 .. 5
  range.Low = Bytes(5, 1);
  range.High = Bytes(5, 1);
  range.LowLength = range.HighLength = 5;
  FlipIntegerBits(2, range.Low.data() + 1);
  FlipIntegerBits(5, range.High.data() + 1);
  TableSource indexed(table, true), plain(table, false);
  int shown = 0;
  for (int round = 0; round < 60; ++round) {
    std::string text = leaf();
    for (int more = pick(3); more > 0; --more) {
      const std::string other = leaf();
      switch (pick(3)) {
        case 0: text = "(" + text + ") AND (" + other + ")"; break;
        case 1: text = "(" + text + ") OR (" + other + ")"; break;
        default: text = "NOT (" + text + ") AND (" + other + ")"; break;
      }
    }
    const bool ranged = round % 3 == 1, narrowed = round % 4 == 2;
    std::vector<std::vector<std::uint32_t>> answers;
    for (int way = 0; way < 3; ++way) {
      TFilterSet set(way == 1 ? plain : indexed);
      set.SetForceRecordByRecord(way == 2);
      if (ranged) set.SetRange(&range);
      if (narrowed) set.AddFilter(0, "Grp <> 3", nullptr, false, nullptr, {});
      set.AddFilter(0, text, nullptr, false, nullptr, {narrowed, false, false, false});
      set.ActivateAllFilters();
      answers.push_back(Visible(set, table.data->GetPhysicalRecordsUsed()));
      EXPECT_EQ(set.FilteredCount(), answers.back().size()) << text;
    }
    // A key range needs its index: without indexes it takes in every record.
    if (!ranged) {
      EXPECT_EQ(answers[0], answers[1]) << text;
    }
    EXPECT_EQ(answers[0], answers[2]) << text;
    shown += !answers[0].empty();
  }
  EXPECT_GT(shown, 20);
}

// Active filters stay equal to a full rebuild after every append, modify
// and delete, with and without a range, and with a modify that moves the
// current record out of the filter before it is deleted.
TEST_F(FilterTest, IncrementalUpkeepEqualsAFullRebuild) {
  LanguageSettingsScope ansi(0, 0);
  const char* kFilters[][2] = {{"Qty < 3", "Surname = 'Smith*'"},
                               {"Qty = NULL OR Qty > 4", "NOT (Year BETWEEN 1695 AND 1700)"},
                               {"Surname IN ('Jones', 'Brown') AND Year > 1692", "Forename <> 'Sm'"}};
  int checks = 0;
  for (int variant = 0; variant < 6; ++variant) {
    Family family(60, 11 + variant);
    TableSource source(*family.table, variant % 2 == 0);
    TFilterSet set(source);
    std::mt19937 random(90 + variant);
    TFilterRange range;
    const bool ranged = variant >= 3;
    if (ranged) {
      range.Slot = 2;  // Qty, 1 .. 5 whatever the record ID
      range.Low = Bytes(9, 0);
      range.High = Bytes(9, 255);
      range.Low[0] = range.High[0] = 1;
      range.LowLength = range.HighLength = 9;
      std::int32_t one = 1, five = 5;
      FlipIntegerBits(one, range.Low.data() + 1);
      FlipIntegerBits(five, range.High.data() + 1);
      set.SetRange(&range);
    }
    for (const char* text : kFilters[variant % 3])
      set.AddFilter(0, text, nullptr, false, nullptr, {false, true, false, false});
    set.AddFilter(0, {}, nullptr, false, [](const std::uint8_t*, std::uint32_t n) { return n % 7 != 0; },
                  {true, true, false, false});
    set.ActivateAllFilters();
    std::vector<std::uint32_t> live(family.numbers);
    for (int step = 0; step < 150; ++step) {
      const int op = static_cast<int>(random() % 3);
      if (op == 0 || live.size() < 5) {
        const std::uint32_t n = family.Append(Family::Row(random));
        live.push_back(n);
        set.UpdateRecordInBitmap(n, family.table->ReadRecord(n).data());
      } else if (op == 1) {
        const std::uint32_t n = live[random() % live.size()];
        ASSERT_TRUE(ModifyRecord(*family.table, n, MakeRecord(*family.table, Family::Row(random))));
        set.UpdateRecordInBitmap(n, family.table->ReadRecord(n).data());
        if (random() % 2 == 0) {
          // The modified record is deleted next, whether it stayed in or not.
          family.table->DeleteRecord(n);
          live.erase(std::find(live.begin(), live.end(), n));
          set.DeleteRecordInBitmap(n);
        }
      } else {
        const std::size_t at = random() % live.size();
        const std::uint32_t n = live[at];
        family.table->DeleteRecord(n);
        live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
        set.DeleteRecordInBitmap(n);
      }
      TFilterSet fresh(source);
      if (ranged) fresh.SetRange(&range);
      fresh.CopyFilters(set);
      const std::uint32_t physical = family.Physical();
      ASSERT_EQ(Visible(set, physical), Visible(fresh, physical)) << "variant " << variant << " step " << step;
      ASSERT_EQ(set.FilteredCount(), fresh.FilteredCount()) << "variant " << variant << " step " << step;
      // A filter's bitmap counts within range and live records (a narrowing
      // one's only on what the others let through): there they are the same.
      for (std::size_t i = 0; i < set.FilterCount(); ++i)
        for (std::uint32_t n : set.FilterAt(i)->Narrowing() ? std::vector<std::uint32_t>{} : live)
          if (!ranged || fresh.RangeBitmap().IsBitSet(static_cast<std::int32_t>(n))) {
            ASSERT_EQ(set.FilterAt(i)->Bitmap().IsBitSet(static_cast<std::int32_t>(n)),
                      fresh.FilterAt(i)->Bitmap().IsBitSet(static_cast<std::int32_t>(n)))
                << "variant " << variant << " step " << step << " filter " << i << " record " << n << " op " << op;
          }
      ++checks;
    }
  }
  EXPECT_EQ(checks, 900);
}

TEST_F(FilterTest, AChangedTableStartsTheUpdateAgainAndHoldsItsLockAfterThreeTries) {
  LanguageSettingsScope ansi(0, 0);
  Family family(50, 2);
  TableSource source(*family.table, true);
  TFilterSet set(source);
  set.AddFilter(0, "Qty > 1 AND Year < 1705", nullptr, false, nullptr, {});
  // A writer that appends during every pass until the lock is held.
  std::mt19937 random(4);
  bool held = false;
  int changes = 0;
  source.changed = [&] {
    if (!source.holds.empty()) held = source.holds.back();
    if (held) return false;
    family.Append(Family::Row(random));
    ++changes;
    return true;
  };
  set.ActivateAllFilters();
  EXPECT_EQ(set.Restarts(), 3u);
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(source.holds, (std::vector<bool>{true, false}));
  source.changed = nullptr;
  TFilterSet fresh(source);
  fresh.CopyFilters(set);
  EXPECT_EQ(Visible(set, family.Physical()), Visible(fresh, family.Physical()));
  EXPECT_EQ(set.Combined().NumOfBits(), static_cast<std::int32_t>(family.Physical()));
}

TEST_F(FilterTest, SuspendedUpkeepRebuildsWhenResumedAndResetReplacesTheExpression) {
  LanguageSettingsScope ansi(0, 0);
  Family family(40, 8);
  TableSource source(*family.table, true);
  TFilterSet set(source);
  TFilter* f = set.AddFilter(0, "Qty = 2", nullptr, false, nullptr, {});
  set.ActivateFilter(f);
  const std::uint32_t before = set.FilteredCount();
  set.SetMaintenanceSuspended(true);
  std::mt19937 random(3);
  for (int i = 0; i < 10; ++i) {
    std::uint32_t n = family.Append({std::string("X"), {}, std::int64_t{1700}, std::int64_t{2}});
    set.UpdateRecordInBitmap(n, family.table->ReadRecord(n).data());  // ignored while suspended
  }
  EXPECT_EQ(set.FilteredCount(), before);
  set.SetMaintenanceSuspended(false);
  EXPECT_EQ(set.FilteredCount(), before + 10);

  // ResetFilter: the new expression answers; a nil tree changes nothing.
  TFilterSet plain(source);
  TFilter* g = plain.AddFilter(0, "Qty = 3", nullptr, false, nullptr, {});
  plain.ActivateFilter(g);
  TExpToken* tree = CopyExpressionTokens(g->Expression());
  set.ResetFilter(nullptr, f);
  EXPECT_EQ(set.FilteredCount(), before + 10);
  set.ResetFilter(tree, f);
  EXPECT_EQ(Visible(set, family.Physical()), Visible(plain, family.Physical()));
  EXPECT_EQ(f->Level(), olFull);
}

// A source of many records, all deleted: only the bitmaps cost memory.
class EmptySource : public TFilterSource {
public:
  explicit EmptySource(std::uint32_t count) : count_(count) { fields_ = {Field("A", dtInteger)}; AssignLayout(fields_); }
  std::string FilterTableName() const override { return "M"; }
  const std::vector<TFieldDefinition>& FilterFields() const override { return fields_; }
  TLocalePair FilterLocale() const override { return {}; }
  std::uint32_t FilterPhysicalCount() override { return count_; }
  bool FilterReadRecord(std::uint32_t, std::vector<std::uint8_t>&) override { return false; }
  TIndexFile* FilterIndexFile() override { return nullptr; }
  const TKeyComparator& FilterComparator(std::uint8_t) override { return compare_; }
  std::string FilterReadBlob(int, const std::uint8_t*) override { return {}; }

private:
  std::uint32_t count_;
  std::vector<TFieldDefinition> fields_;
  TKeyComparator compare_;
};

TEST_F(FilterTest, SixtyFourFiltersOnAMillionRecordsCostOneBitPerRecordEach) {
  FreeAllRecordsBitmaps();
  FreeAllExpTokens();
  const std::int64_t before = GetTotalMemoryAllocated();
  {
    EmptySource source(1'000'000);
    TFilterSet set(source);
    for (std::size_t i = 0; i < kMaxFilters; ++i)
      set.AddFilter(0, {}, nullptr, false, [](const std::uint8_t*, std::uint32_t) { return true; }, {});
    set.ActivateAllFilters();
    EXPECT_EQ(set.FilteredCount(), 0u);
    const std::int64_t used = GetTotalMemoryAllocated() - before;
    EXPECT_LE(used, 9'000'000);
    EXPECT_GE(used, 64 * 125'000);
    RecordProperty("bitmap_bytes", static_cast<int>(used));
  }
  FreeAllRecordsBitmaps();
  FreeAllExpTokens();
  EXPECT_EQ(GetTotalMemoryAllocated(), before);
}

}  // namespace
}  // namespace korvex::testing
