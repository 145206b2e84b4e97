// Datasets over engine tables: buffer layout, field definitions, editing
// with record locks (also across processes), BLOB and table streams, and
// the OEM tables against python3's codecs.
#include <csignal>
#include <cstring>
#include <functional>

#include "platform/dataset/datalink.h"
#include "platform/runtime/exceptions.h"
#include "support/child_process.h"
#include "support/run_command.h"
#include "tables/components/charsets.h"
#include "tables/components/streams.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"
#include "tests/tables/components/components_test_support.h"

namespace korvex::testing {
namespace {

using namespace db;

using DataSetsTest = ComponentsTest;

TEST_F(DataSetsTest, BufferLayoutFollowsRecordCalculatedFieldsAndBookmark) {
  struct Case {
    std::uint32_t record;
    int calc, bookmark;
    std::uint16_t info, mark, size;
  };
  for (const Case& c : std::vector<Case>{{100, 8, 12, 108, 116, 128}, {100, 0, 4, 100, 108, 112},
                                         {9, 27, 4, 36, 44, 48}, {65000, 0, 4, 65000, 65008, 65012}}) {
    TKORVEXDataSet::Layout l = TKORVEXDataSet::ComputeLayout(c.record, c.calc, c.bookmark);
    EXPECT_EQ(l.rec_info, c.info);
    EXPECT_EQ(l.bookmark, c.mark);
    EXPECT_EQ(l.size, c.size);
  }
  EXPECT_EQ(sizeof(TRecInfo), 8u);
}

TEST_F(DataSetsTest, EngineTypesMapToFieldTypes) {
  struct Case {
    std::uint8_t type, sub;
    TFieldType expected;
  };
  const std::vector<Case> cases{
      {1, 0, ftString},    {2, 0, ftDate},       {3, 0, ftBlob},        {3, 22, ftMemo},      {3, 23, ftBlob},
      {3, 24, ftFmtMemo},  {3, 25, ftBlob},      {3, 26, ftGraphic},    {3, 27, ftBlob},      {3, 28, ftTypedBinary},
      {4, 0, ftBoolean},   {5, 0, ftSmallint},   {6, 0, ftInteger},     {6, 29, ftAutoInc},   {7, 0, ftFloat},
      {7, 21, ftCurrency}, {8, 0, ftBCD},        {9, 0, ftBytes},       {10, 0, ftTime},      {11, 0, ftDateTime},
      {12, 0, ftWord},     {13, 0, ftInteger},   {15, 0, ftVarBytes},   {18, 0, ftLargeint},  {19, 0, ftLargeint},
      {20, 0, ftADT},      {21, 0, ftArray},     {22, 0, ftReference},  {23, 0, ftDataSet},   {0, 0, ftUnknown},
      {14, 0, ftUnknown},  {16, 0, ftUnknown},   {17, 0, ftUnknown},    {24, 0, ftUnknown},   {200, 0, ftUnknown},
  };
  for (const Case& c : cases) EXPECT_EQ(FieldTypeOf(c.type, c.sub), c.expected) << int(c.type) << "/" << int(c.sub);
}

struct TableEnv {
  qvtest::TempDir dir;
  void Make(std::vector<TFieldDefinition> fields, const std::string& name = "fams") {
    MakeTable(dir.Path(), name, std::move(fields));
  }
  void Bind(TestTable& t, const std::string& name = "fams") {
    t.SetDatabaseName(dir.Path());
    t.TableName = name;
  }
  void Open(TestTable& t, const std::string& name = "fams") {
    Bind(t, name);
    t.Open();
  }
};

TEST_F(DataSetsTest, FieldsNarrowerThanTheirColumnsReadCutAcrossReopening) {
  TableEnv env;
  env.Make({Field("Name", dtString, 20), Field("Year", dtInteger)});
  TestTable t;
  env.Bind(t);
  auto* name = new TStringField(&t, 20);
  name->SetFieldName("Name");
  name->SetDataSet(&t);
  auto* year = new TIntegerField(&t);
  year->SetFieldName("Year");
  year->SetDataSet(&t);
  t.Open();
  t.Append();
  name->SetAsString("Abcdefghijklmnop");
  year->SetAsInteger(1750);
  t.Post();
  t.Close();
  // How a field reads is settled once per opening: sizes changed while
  // closed read right after the next one, narrower ones cut.
  for (int size : {5, 20, 3, 16, 1}) {
    name->SetSize(size);
    t.Open();
    EXPECT_EQ(name->AsString(), std::string("Abcdefghijklmnop").substr(0, static_cast<std::size_t>(size))) << size;
    EXPECT_EQ(year->AsInteger(), 1750);
    t.Close();
  }
}

TEST_F(DataSetsTest, FieldDefinitionsNameAliasesAndSkipHiddenFields) {
  TableEnv env;
  TFieldDefinition hidden = Field("Secret", dtInteger);
  hidden.Hidden = 1;
  TFieldDefinition described = Field("Born", dtDate);
  described.Description = "Date of birth";
  env.Make({Field("Name", dtString, 20), Field("Xame", dtInteger), hidden, described, Field("Amount", dtBCD),
            Field("Id", dtInteger, 0, fstAutoInc), Field("Notes", dtBlob, 0, fstMemo)});
  // Creation refuses two fields named alike; a file may hold them all the
  // same (another engine wrote it): rename the second in place.
  FinalizeSessions();
  qvtest::CommandResult patched = qvtest::RunShell(
      "python3 -c \"import sys; p=sys.argv[1]; b=open(p,'rb').read(); assert b.count(b'Xame')==1; "
      "open(p,'wb').write(b.replace(b'Xame', b'name'))\" " + env.dir.File("fams.DAT"));
  ASSERT_EQ(patched.status, 0) << patched.output;
  TestTable t;
  env.Open(t);
  std::vector<std::string> names;
  for (int i = 0; i < t.FieldDefs().Count(); ++i) names.push_back(t.FieldDefs().Items(i).Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Name", "name_1", "Born", "Amount", "Id", "Notes"}));
  EXPECT_EQ(t.FieldDefs().Items(0).Size, 20);
  EXPECT_EQ(t.FieldDefs().Items(2).FieldNo, 4) << "field numbers are the engine's";
  EXPECT_EQ(t.FieldDefs().Items(4).DataType, ftAutoInc);
  EXPECT_EQ(t.FieldByName("Born")->DisplayName(), "Date of birth");
  t.SetAutoDisplayLabels(false);
  EXPECT_EQ(t.FieldByName("Born")->DisplayName(), "Date of birth") << "labels stay until fields are made anew";
  EXPECT_EQ(t.FindField("Secret"), nullptr);
  EXPECT_EQ(t.RecordSize(), t.Handle()->GetRecordSize());
  EXPECT_EQ(t.BookmarkOffset(), t.RecInfoOffset() + 8);
  EXPECT_EQ(t.BufferSize(), t.BookmarkOffset() + 4);
}

TEST_F(DataSetsTest, AppendEditCancelAndDeleteOnARealTable) {
  TableEnv env;
  TFieldDefinition paid = Field("Paid", dtBCD);
  paid.Decimals = 4;
  env.Make({Field("Name", dtString, 20), Field("Year", dtInteger), Field("Alive", dtBoolean), paid});
  TestTable t;
  env.Open(t);
  EXPECT_TRUE(t.IsEmpty());
  for (int i = 0; i < 5; ++i) {
    t.Append();
    t.FieldByName("Name")->SetAsString("Person " + std::to_string(i));
    t.FieldByName("Year")->SetAsInteger(1800 + i);
    t.FieldByName("Alive")->SetAsBoolean(i % 2 == 0);
    t.FieldByName("Paid")->SetAsCurrency(rtl::Currency::FromScaled(12345 * i));
    t.Last();  // the browse-mode rule stores the record
  }
  t.Append();
  t.Last();  // nothing written: dropped
  EXPECT_EQ(t.RecordCount(), 5);
  t.First();
  std::vector<std::string> seen;
  while (!t.Eof()) {
    seen.push_back(t.FieldByName("Name")->AsString() + "/" + t.FieldByName("Year")->AsString() + "/" +
                   t.FieldByName("Alive")->AsString() + "/" + t.FieldByName("Paid")->AsString());
    t.Next();
  }
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[2], "Person 2/1802/True/2.469");
  EXPECT_EQ(t.RecNo(), 5);
  t.SetRecNo(3);
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1802);
  TBookmark third = t.GetBookmark();

  // Edit then Cancel gives the record lock back: a second cursor can lock it.
  t.Edit();
  t.FieldByName("Year")->SetAsInteger(1);
  EXPECT_EQ(t.FieldByName("Year")->OldValue().ToString(), "1802");
  TestTable other;
  env.Open(other);
  other.SetRecNo(3);
  EXPECT_EQ(Raised([&] { other.Edit(); }).rfind("KORVEX Engine Error # 10258 ", 0), 0u);
  t.Cancel();
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1802);
  other.Edit();
  other.FieldByName("Year")->SetAsInteger(1900);
  other.Post();
  t.Refresh();
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1900);

  t.First();
  EXPECT_EQ(t.CompareBookmarks(t.GetBookmark(), third), -1);
  EXPECT_EQ(t.CompareBookmarks({}, third), 1);
  t.GotoBookmark(third);
  t.Delete();
  EXPECT_EQ(t.RecordCount(), 4);
  EXPECT_FALSE(t.BookmarkValid(third));
  EXPECT_EQ(Raised([&] { t.GotoBookmark(third); }), "Record not found");

  // A search with OnFilterRecord while not filtered.
  t.SetOnFilterRecordEvent([](TDataSet* d, bool& accept) { accept = d->FieldByName("Year")->AsInteger() % 2 == 1; });
  EXPECT_TRUE(t.FindFirst());
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1801);
  EXPECT_TRUE(t.FindNext());
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1803);
  EXPECT_FALSE(t.FindNext());
  EXPECT_TRUE(t.FindLast());
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1803);
  EXPECT_EQ(t.RecordCount(), 4) << "the search did not filter the dataset";
}

TEST_F(DataSetsTest, ExpressionFiltersSelectRecordsAndRefusedTextsChangeNothing) {
  TableEnv env;
  env.Make({Field("Name", dtString, 20), Field("Year", dtInteger)});
  TestTable t;
  env.Open(t);
  const std::vector<std::pair<std::string, int>> people{
      {"Anna", 1801}, {"anna", 1802}, {"Berta", 1803}, {"Carl", 1804}, {"Anselm", 1805}};
  for (const auto& [name, year] : people) {
    t.Append();
    t.FieldByName("Name")->SetAsString(name);
    t.FieldByName("Year")->SetAsInteger(year);
    t.Post();
  }
  auto years = [&] {
    std::string out;
    for (t.First(); !t.Eof(); t.Next()) out += t.FieldByName("Year")->AsString().substr(2) + " ";
    return out;
  };
  struct Case {
    std::string filter;
    TFilterOptions options;
    std::string years;
  };
  const std::vector<Case> cases{
      {"Year > 1802", 0, "03 04 05 "},
      {"Name = 'Anna'", 0, "01 "},
      {"Name = 'anna'", foCaseInsensitive, "01 02 "},
      {"Name = 'An*'", 0, "01 05 "},
      {"Name = 'An*'", foNoPartialCompare, ""},
      {"Name = 'an*'", foCaseInsensitive, "01 02 05 "},
      {"(Year < 1803) OR (Name = 'Carl')", 0, "01 02 04 "},
  };
  t.SetFilteredValue(true);
  EXPECT_EQ(t.GetFilterOptimizeLevel(), foNone);
  for (const Case& c : cases) {
    t.SetFilterOptionsValue(c.options);
    t.SetFilter(c.filter);
    EXPECT_EQ(years(), c.years) << c.filter << " / " << int(c.options);
  }
  std::string refused = Raised([&] { t.SetFilter("Year >"); });
  EXPECT_EQ(refused.rfind("KORVEX Engine Error # 10051 ", 0), 0u) << refused;
  EXPECT_EQ(t.Filter(), "(Year < 1803) OR (Name = 'Carl')");
  EXPECT_EQ(years(), "01 02 04 ");
  t.SetFilteredValue(false);
  EXPECT_EQ(years(), "01 02 03 04 05 ");
  // A search honours the filter while the dataset is not filtered.
  EXPECT_TRUE(t.FindFirst());
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1801);
  EXPECT_TRUE(t.FindLast());
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1804);
  // Locate's lookup filter works beside the expression filter.
  t.SetFilteredValue(true);
  EXPECT_FALSE(t.Locate("Name", Variant("Berta"), 0));
  EXPECT_TRUE(t.Locate("Name;Year", VarArrayOf({Variant("anna"), Variant(std::int32_t{1802})}), 0));
  EXPECT_EQ(t.Lookup("Year", Variant(std::int32_t{1804}), "Name").ToString(), "Carl");
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1802) << "Lookup leaves the dataset on its record";
  EXPECT_EQ(Raised([&] { t.Locate("Nobody", Variant("x"), 0); }), "Field 'Nobody' not found");
  t.Close();
  t.SetFilter("Year = 1805");
  t.Open();
  EXPECT_EQ(years(), "05 ") << "a filter set while closed applies at open";
}

TEST_F(DataSetsTest, IndexSwitchKeepsTheRecordAndFollowsTheIndexOrder) {
  TableEnv env;
  MakeTable(env.dir.Path(), "fams", {Field("Name", dtString, 20), Field("Year", dtInteger)}, false,
            {Index("ByName", {1}, true), Index("ByYear", {2}, false, true)});
  TestTable t;
  env.Open(t);
  for (const auto& [name, year] : std::vector<std::pair<std::string, int>>{{"carl", 1802}, {"Anna", 1805}, {"berta", 1801}}) {
    t.Append();
    t.FieldByName("Name")->SetAsString(name);
    t.FieldByName("Year")->SetAsInteger(year);
    t.Post();
  }
  auto order = [&] {
    std::string out;
    for (t.First(); !t.Eof(); t.Next()) out += t.FieldByName("Name")->AsString() + " ";
    return out;
  };
  EXPECT_EQ(t.IndexFieldCount(), 0);
  EXPECT_EQ(order(), "carl Anna berta ");
  t.SetRecNo(2);
  TBookmark anna = t.GetBookmark();
  const std::uint16_t offsets[] = {t.RecInfoOffset(), t.BookmarkOffset(), t.BufferSize()};
  t.SwitchToIndex("ByName");
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "Anna") << "the current record stays";
  // Under an index the bookmark is its key: the buffer grows with it.
  EXPECT_EQ(t.RecInfoOffset(), offsets[0]);
  EXPECT_EQ(t.BookmarkOffset(), offsets[1]);
  TBookmark anna_by_name = t.GetBookmark();
  EXPECT_EQ(anna_by_name.size(), t.Handle()->GetKeySize());
  EXPECT_GT(anna_by_name.size(), 4u);
  EXPECT_EQ(t.BufferSize(), t.BookmarkOffset() + anna_by_name.size());
  EXPECT_EQ(t.RecNo(), 1);
  EXPECT_EQ(t.IndexFieldCount(), 1);
  EXPECT_TRUE(t.IndexCaseInsensitive());
  EXPECT_EQ(t.GetIndexField(0), t.FieldByName("Name"));
  EXPECT_TRUE(t.GetIsIndexField(t.FieldByName("Name")));
  EXPECT_FALSE(t.GetIsIndexField(t.FieldByName("Year")));
  EXPECT_EQ(Raised([&] { t.GetIndexField(1); }), "Field index out of range");
  EXPECT_EQ(order(), "Anna berta carl ");
  t.SetRecNo(3);
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "carl");
  t.SwitchToIndex("ByYear");
  EXPECT_EQ(order(), "Anna carl berta ");
  t.SwitchToIndex("ByName");
  EXPECT_TRUE(t.BookmarkValid(anna_by_name));
  t.GotoBookmark(anna_by_name);
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "Anna");
  EXPECT_EQ(t.CompareBookmarks(anna_by_name, t.GetBookmark()), 0);
  t.SwitchToIndex("");
  t.GotoBookmark(anna);
  EXPECT_EQ(t.CompareBookmarks(anna, t.GetBookmark()), 0) << "a bookmark outlives index switches";
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "Anna");
  // Back in physical order: the record-number layout again.
  EXPECT_EQ(t.RecInfoOffset(), offsets[0]);
  EXPECT_EQ(t.BookmarkOffset(), offsets[1]);
  EXPECT_EQ(t.BufferSize(), offsets[2]);
  std::string refused = Raised([&] { t.SwitchToIndex("Nothing"); });
  EXPECT_EQ(refused.rfind("KORVEX Engine Error # 10022 ", 0), 0u) << refused;

  // Key buffers and ranges on the year index (descending).
  t.SwitchToIndex("");
  EXPECT_EQ(Raised([&] { t.SetKeyFields(kiLookup, Variant(std::int32_t{1})); }), "No index currently active");
  t.SwitchToIndex("ByYear");
  t.SetKeyBuffer(kiRangeStart, true);
  EXPECT_EQ(t.State(), dsSetKey);
  EXPECT_EQ(Raised([&] { t.FieldByName("Name")->SetAsString("x"); }),
            "Field 'Name' is not indexed and cannot be modified");
  t.FieldByName("Year")->SetAsInteger(1804);
  t.Post();
  EXPECT_TRUE(t.KeyHeader(kiRangeStart).Modified);
  t.SetKeyBuffer(kiRangeEnd, true);
  t.FieldByName("Year")->SetAsInteger(1801);
  t.Cancel();  // the end stays empty: no upper bound
  EXPECT_FALSE(t.KeyHeader(kiRangeEnd).Modified);
  EXPECT_TRUE(t.SetCursorRange());
  EXPECT_FALSE(t.SetCursorRange()) << "the same range again does nothing";
  EXPECT_EQ(order(), "carl berta ");
  t.SetKeyFields(kiRangeEnd, Variant(std::int32_t{1802}));
  EXPECT_EQ(t.KeyHeader(kiRangeEnd).FieldCount, 1);
  EXPECT_TRUE(t.SetCursorRange());
  EXPECT_EQ(order(), "carl ");
  EXPECT_TRUE(t.ResetCursorRange());
  EXPECT_FALSE(t.ResetCursorRange());
  EXPECT_EQ(order(), "Anna carl berta ");
  // A master's field makes both ends of a detail's range.
  TestTable master;
  env.Open(master);
  master.SetRecNo(3);
  EXPECT_EQ(master.FieldByName("Year")->AsInteger(), 1801);
  // Index fields set from another field: both ends of the master's year.
  for (TKeyIndex end : {kiRangeStart, kiRangeEnd}) {
    t.SetKeyBuffer(end, true);
    t.SetIndexField(0, master.FieldByName("Year"));
    t.Post();
  }
  EXPECT_TRUE(t.SetCursorRange());
  EXPECT_EQ(order(), "berta ");
  EXPECT_EQ(Raised([&] { t.SetIndexField(1, nullptr); }), "Field index out of range");
  EXPECT_TRUE(t.ResetCursorRange());
  t.SetLinkRanges({master.FieldByName("Year")});
  EXPECT_TRUE(t.SetCursorRange());
  EXPECT_EQ(order(), "berta ");
  t.ResetCursorRange();

  // The master link: the detail follows the master's key field.
  TDataSource source(nullptr);
  source.SetDataSet(&master);
  TKORVEXMasterDataLink link(&t);
  std::vector<std::string> calls;
  link.OnMasterChange = [&](TKORVEXMasterDataLink* l) {
    calls.push_back("change " + l->Fields().at(0)->AsString());
    t.SetLinkRanges(l->Fields());
    t.SetCursorRange();
    t.First();
  };
  link.OnMasterDisable = [&](TKORVEXMasterDataLink*) { calls.push_back("disable"); };
  link.SetFieldNames("Year");
  link.SetDataSource(&source);
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "berta");
  master.First();
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "carl");
  master.FieldByName("Name");  // reading a field changes nothing
  EXPECT_EQ(calls, (std::vector<std::string>{"disable", "change 1801", "change 1802"}))
      << "without a master the field list is empty: the detail is told so";
  EXPECT_EQ(Raised([&] { link.SetFieldNames("Nope"); }), "Field 'Nope' not found");
  EXPECT_TRUE(link.Fields().empty());
  link.SetFieldNames("");
  EXPECT_EQ(calls.back(), "disable");
  link.SetDataSource(nullptr);
  source.SetDataSet(nullptr);
  t.ResetCursorRange();
}

TEST_F(DataSetsTest, ARecordHeldByAnotherProcessIsRefusedUntilThatProcessDies) {
  TableEnv env;
  env.Make({Field("Name", dtString, 20)});
  {
    TestTable t;
    env.Open(t);
    t.Append();
    t.FieldByName("Name")->SetAsString("Anna");
    t.Post();
  }
  FinalizeSessions();
  LockHolder<TestTable> child([&](TestTable& t) {
    env.Open(t);
    t.Edit();
    return true;
  });
  ASSERT_TRUE(child.Holding());
  TestTable t;
  env.Open(t);
  EXPECT_EQ(Raised([&] { t.Edit(); }),
            "KORVEX Engine Error # 10258 Record in table 'fams.DAT' is in use by another user");
  EXPECT_EQ(t.State(), dsBrowse);
  EXPECT_EQ(child.Kill(), 128 + SIGKILL);
  t.Edit();
  t.FieldByName("Name")->SetAsString("Berta");
  t.Post();
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "Berta");
}

TEST_F(DataSetsTest, BlobStreams) {
  TableEnv env;
  env.Make({Field("Name", dtString, 10), Field("Notes", dtBlob, 0, fstMemo)});
  TestTable t;
  env.Open(t);
  TField* notes = t.FieldByName("Notes");
  {
    auto empty = t.CreateBlobStream(notes, bmRead);
    char c;
    EXPECT_EQ(empty->Read(&c, 1), 0);
    EXPECT_EQ(empty->Size(), 0);
  }
  EXPECT_FALSE(static_cast<TKORVEXBlobStream&>(*t.CreateBlobStream(notes, bmWrite)).Opened())
      << "no record: nothing to open";
  t.Append();
  t.FieldByName("Name")->SetAsString("A");
  {
    auto s = t.CreateBlobStream(notes, bmWrite);
    s->WriteBuffer("hello world", 11);
  }
  t.Post();
  ASSERT_FALSE(t.IsEmpty());
  EXPECT_EQ(Raised([&] { t.CreateBlobStream(notes, bmWrite); }), "Dataset not in edit or insert mode");
  EXPECT_EQ(Raised([&] { t.CreateBlobStream(notes, bmReadWrite); }), "Dataset not in edit or insert mode");
  {
    auto s = t.CreateBlobStream(notes, bmRead);
    EXPECT_EQ(s->Size(), 11);
    s->Seek(-5, rtl::soFromEnd);
    char buffer[32] = {};
    EXPECT_EQ(s->Read(buffer, sizeof buffer), 5) << "past the end: what remains, no error";
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(s->Read(buffer, 4), 0);
    s->Seek(100, rtl::soFromBeginning);
    EXPECT_EQ(s->Read(buffer, 4), 0);
  }
  EXPECT_EQ(notes->AsString(), "hello world");

  // A refused write raises and leaves the field as it was.
  t.Edit();
  {
    auto s = t.CreateBlobStream(notes, bmReadWrite);
    s->Seek(std::int64_t{1} << 40, rtl::soFromBeginning);
    EXPECT_EQ(Raised([&] { s->Write("x", 1); }).rfind("KORVEX Engine Error # 99", 0), 0u);
  }
  EXPECT_FALSE(static_cast<TBlobField*>(notes)->Modified);
  EXPECT_FALSE(t.Modified());
  t.Cancel();
  EXPECT_EQ(notes->AsString(), "hello world");
  EXPECT_EQ(t.Handle()->OpenBlobCount(), 0u);
}

TEST_F(DataSetsTest, CopyOnAppendStartsFromTheFormerRecord) {
  TableEnv env;
  env.Make({Field("Name", dtString, 10), Field("Year", dtInteger), Field("Notes", dtBlob, 0, fstMemo)});
  TestTable t;
  env.Open(t);
  t.CopyOnAppend = true;
  t.Append();  // nothing to copy from
  EXPECT_TRUE(t.FieldByName("Name")->IsNull());
  t.FieldByName("Name")->SetAsString("Anna");
  t.FieldByName("Year")->SetAsInteger(1801);
  t.FieldByName("Notes")->SetAsString("born at sea");
  t.Post();
  t.Append();
  EXPECT_EQ(t.FieldByName("Name")->AsString(), "Anna");
  EXPECT_EQ(t.FieldByName("Year")->AsInteger(), 1801);
  EXPECT_EQ(t.FieldByName("Notes")->AsString(), "born at sea");
  t.FieldByName("Name")->SetAsString("Berta");
  t.Post();
  t.CopyOnAppend = false;
  t.Insert();
  EXPECT_TRUE(t.FieldByName("Notes")->IsNull());
  t.Cancel();
  std::string all;
  for (t.First(); !t.Eof(); t.Next())
    all += t.FieldByName("Name")->AsString() + "/" + t.FieldByName("Year")->AsString() + "/" +
           t.FieldByName("Notes")->AsString() + " ";
  EXPECT_EQ(all, "Anna/1801/born at sea Berta/1801/born at sea ");
  EXPECT_EQ(t.Handle()->OpenBlobCount(), 0u);
}

TEST_F(DataSetsTest, TableStreamsSaveAndLoadInMemoryTablesOnly) {
  MakeTable("Memory", "people", {Field("Name", dtString, 20), Field("Year", dtInteger)}, true);
  TestTable t;
  t.SetDatabaseName("Memory");
  t.TableName = "people";
  t.InMemory = true;
  t.Open();
  for (int i = 0; i < 300; ++i) {
    t.Append();
    t.FieldByName("Name")->SetAsString("P" + std::to_string(i));
    t.FieldByName("Year")->SetAsInteger(i);
    t.Post();
  }
  rtl::TMemoryStream image;
  {
    TKORVEXTableStream out(t.Handle(), msRead);
    EXPECT_EQ(out.Seek(0, rtl::soFromEnd), t.Handle()->Table()->GetBufferSize());
    out.Seek(0, rtl::soFromBeginning);
    image.CopyFrom(out, out.Size());
  }
  EXPECT_GT(image.Size(), 0);
  t.First();
  while (!t.IsEmpty()) t.Delete();
  EXPECT_EQ(t.RecordCount(), 0);
  {
    TKORVEXTableStream in(t.Handle(), msWrite);
    image.SetPosition(0);
    in.CopyFrom(image, image.Size());
  }
  t.Close();
  t.Open();
  EXPECT_EQ(t.RecordCount(), 300);
  long sum = 0;
  for (t.First(); !t.Eof(); t.Next()) sum += t.FieldByName("Year")->AsInteger();
  EXPECT_EQ(sum, 299 * 300 / 2);
  t.Close();

  TableEnv env;
  env.Make({Field("A", dtInteger)});
  TestTable disk;
  env.Open(disk);
  EXPECT_EQ(Raised([&] { TKORVEXTableStream s(disk.Handle(), msRead); }),
            "Table " + disk.Handle()->GetTableName() + " is not an in-memory table");
  EXPECT_EQ(Raised([&] { TKORVEXTableStream s(disk.Handle(), msWrite); }),
            "Table " + disk.Handle()->GetTableName() + " is not an in-memory table");
}

TEST_F(DataSetsTest, OemTablesMatchPythonCodecs) {
  qvtest::CommandResult r = qvtest::RunShell(
      "python3 -c \"\n"
      "def t(a, b):\n"
      "  out = []\n"
      "  for i in range(256):\n"
      "    try: out.append(bytes([i]).decode(a).encode(b)[0])\n"
      "    except Exception: out.append(63)\n"
      "  return ' '.join(map(str, out))\n"
      "print(t('cp1252', 'cp850'))\n"
      "print(t('cp850', 'cp1252'))\n\"");
  ASSERT_EQ(r.status, 0);
  std::string ansi_to_oem, oem_to_ansi;
  for (int i = 0; i < 256; ++i) {
    ansi_to_oem += (i ? " " : "") + std::to_string(AnsiToOemByte(static_cast<std::uint8_t>(i)));
    oem_to_ansi += (i ? " " : "") + std::to_string(OemToAnsiByte(static_cast<std::uint8_t>(i)));
  }
  EXPECT_EQ(ansi_to_oem + "\n" + oem_to_ansi + "\n", r.output);

  char buffer[8] = "xxxxxxx";
  AnsiToNativeBuf("\xE9t\xE9", buffer, 0);
  EXPECT_STREQ(buffer, "xxxxxxx") << "length 0 converts nothing";
  AnsiToNative("\xC9t\xE9 long", buffer, 3);
  EXPECT_STREQ(buffer, "\x90t\x82");
  std::string back;
  NativeToAnsi(buffer, back);
  EXPECT_EQ(back, "\xC9t\xE9");
  EXPECT_EQ(NativeCompareStr("abcX", "abcY", 3), 0);
  EXPECT_EQ(NativeCompareStr("abcX", "abcY", 0), -1);
  EXPECT_EQ(NativeCompareText("ABC", "abc", 0), 0);
  EXPECT_EQ(NativeCompareTextBuf("abd", "ABC", 2), 0);
  EXPECT_EQ(NativeCompareTextBuf("abd", "ABC", 3), 1);
}

}  // namespace
}  // namespace korvex::testing
