// What the table component keeps in step with its properties: the index
// definitions and the restructure lists read again after any property
// change or opening (a list read from another directory's table must not
// restructure this one), the "Memory" database of an in-memory table,
// the mark that the definitions are to be stored, and whole-table images
// saved and loaded through streams with and without a range.
#include <gtest/gtest.h>

#include <iterator>

#include "platform/dataset/dataset.h"
#include "platform/dataset/fields.h"
#include "tables/components/korvex_table.h"
#include "tables/components/messages.h"
#include "tables/engine/errors/engine_error.h"
#include "tests/tables/components/components_test_support.h"

namespace korvex::testing {
namespace {

using namespace db;
using TableStateTest = ComponentsTest;

// "fams" in `dir`: Name, Born, Count (the primary key) and, with `notes`,
// a fourth field Notes and an index ByName; `rows` records.
void MakeFamilies(const std::string& dir, bool notes, int rows) {
  TKORVEXTable t;
  t.SetDatabaseName(dir);
  t.SetTableName("fams");
  t.FieldDefs().Add("Name", ftString, 20);
  t.FieldDefs().Add("Born", ftDate);
  t.FieldDefs().Add("Count", ftInteger, 0, true);
  if (notes) t.FieldDefs().Add("Notes", ftMemo);
  t.IndexDefs().Add("", "Count", ixPrimary | ixUnique);
  if (notes) t.IndexDefs().Add("ByName", "Name", ixCaseInsensitive);
  t.CreateTable();
  t.Open();
  for (int i = 1; i <= rows; ++i) {
    t.Append();
    t.FieldByName("Name")->SetAsString("N" + std::to_string(i));
    t.FieldByName("Count")->SetAsInteger(i);
    if (notes) t.FieldByName("Notes")->SetAsString("note " + std::to_string(i));
    t.Post();
  }
}

std::vector<std::string> FieldNames(TRestructureFieldDefs& fields) {
  std::vector<std::string> names;
  for (int i = 0; i < fields.Count(); ++i) names.push_back(fields.Items(i).Name);
  return names;
}

TEST_F(TableStateTest, ARestructureListFollowsTheDatabaseItWasReadFrom) {
  qvtest::TempDir three, four;
  MakeFamilies(three.Path(), false, 5);
  MakeFamilies(four.Path(), true, 20);
  const std::string four_before = TableFileHashes(four.Path(), "fams");
  const std::string three_before = TableFileHashes(three.Path(), "fams");

  TKORVEXTable t;
  t.SetDatabaseName(three.Path());
  t.SetTableName("fams");
  TRestructureFieldDefs& fields = t.RestructureFieldDefs();
  fields.Update();
  EXPECT_EQ(FieldNames(fields), (std::vector<std::string>{"Name", "Born", "Count"}));
  EXPECT_TRUE(t.GetIndexNames().empty());
  t.RestructureIndexDefs().Update();
  EXPECT_EQ(t.RestructureIndexDefs().Count(), 1);

  // Another directory on the closed table: both lists and the index
  // definitions are read again from the table there.
  t.SetDatabaseName(four.Path());
  EXPECT_FALSE(fields.UpToDate());
  EXPECT_FALSE(t.RestructureIndexDefs().UpToDate());
  EXPECT_EQ(t.GetIndexNames(), std::vector<std::string>{"ByName"});
  fields.Update();
  EXPECT_EQ(FieldNames(fields), (std::vector<std::string>{"Name", "Born", "Count", "Notes"}));
  t.RestructureIndexDefs().Update();
  ASSERT_EQ(t.RestructureIndexDefs().Count(), 2);
  EXPECT_EQ(t.RestructureIndexDefs().Items(1).Fields, "Name");

  std::vector<std::string> losses;
  t.OnDataLost = [&](rtl::TObject*, TDataLossCause cause, const std::string& context, bool& go_on,
                     bool& stop_asking) {
    losses.push_back(std::to_string(cause) + " " + context);
    go_on = true;
    stop_asking = true;
  };
  // Restructured with the list read there: the fourth field and its values
  // stay, nothing is reported lost.
  fields.Find("Count").Description = "Baptism number";
  t.RestructureTable({});
  EXPECT_TRUE(losses.empty());
  t.Open();
  EXPECT_EQ(t.FieldCount(), 4);
  t.Last();
  EXPECT_EQ(t.FieldByName("Notes")->AsString(), "note 20");
  t.Close();
  fields.Update();
  EXPECT_EQ(fields.Find("Count").Description, "Baptism number");

  // Edits: the first field dropped, a new one in its place with an index
  // of its own. The edits survive reading the index list; the new field
  // takes none of the dropped field's values, and the primary key (now
  // the second field) still finds its field.
  fields.Delete(fields.IndexOf("Name"));
  fields.Insert(0, "Parish", ftString, 20, false);
  t.RestructureIndexDefs().SetUpToDate(false);
  t.RestructureIndexDefs().Update();
  EXPECT_EQ(FieldNames(fields), (std::vector<std::string>{"Parish", "Born", "Count", "Notes"}));
  t.RestructureIndexDefs().Delete(t.RestructureIndexDefs().IndexOf("ByName"));
  t.RestructureIndexDefs().Add("ByParish", "Parish", 0);

  // Taken to the three-field table unread, the list would mix up fields:
  // refused, nothing written.
  t.SetDatabaseName(three.Path());
  EXPECT_EQ(Raised([&] { t.RestructureTable({}); }), cmsg::kRestructureDefsStale);
  EXPECT_EQ(TableFileHashes(three.Path(), "fams"), three_before);
  EXPECT_EQ(t.DBFlags(), 0);

  t.SetDatabaseName(four.Path());
  t.RestructureTable({});
  EXPECT_EQ(losses, std::vector<std::string>{std::to_string(dlFieldDeletion) + " Name"});
  EXPECT_NE(TableFileHashes(four.Path(), "fams"), four_before);
  t.Open();
  EXPECT_EQ(t.RecordCount(), 20);
  EXPECT_EQ(t.FindField("Name"), nullptr);
  EXPECT_EQ(t.GetIndexNames(), std::vector<std::string>{"ByParish"});
  std::string parishes;
  for (t.First(); !t.Eof(); t.Next()) parishes += t.FieldByName("Parish")->AsString();
  EXPECT_EQ(parishes, "");
  EXPECT_TRUE(t.FindKey({Variant(20)}));
  EXPECT_EQ(t.FieldByName("Notes")->AsString(), "note 20");
  t.Close();
  // The fields moved: the same list is refused until it is read again.
  EXPECT_EQ(Raised([&] { t.RestructureTable({}); }), cmsg::kRestructureDefsStale);
  fields.Update();
  EXPECT_EQ(FieldNames(fields), (std::vector<std::string>{"Parish", "Born", "Count", "Notes"}));
  t.RestructureTable({});
  EXPECT_EQ(losses.size(), 1u);
}

TEST_F(TableStateTest, EveryPropertyChangeAndOpeningMarkTheDefinitionsOutOfDate) {
  qvtest::TempDir dir;
  MakeFamilies(dir.Path(), true, 1);
  TKORVEXTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("fams");
  const std::vector<std::pair<const char*, std::function<void()>>> changes{
      {"Exclusive", [&] { t.SetExclusive(!t.Exclusive()); }},
      {"ReadOnly", [&] { t.SetReadOnly(!t.ReadOnly()); }},
      {"SessionName", [&] { t.SetSessionName(t.SessionName().empty() ? "Default" : ""); }},
      {"DatabaseName", [&] { t.SetDatabaseName(dir.Path() + "/."); }},
      {"TableName", [&] { t.SetTableName(t.TableName() == "fams" ? "fams.DAT" : "fams"); }},
      {"opening", [&] {
         t.Open();
         t.Close();
       }},
  };
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    t.RestructureFieldDefs().Update();
    t.RestructureIndexDefs().Update();
    ASSERT_TRUE(t.RestructureFieldDefs().UpToDate());
    ASSERT_TRUE(t.RestructureIndexDefs().UpToDate());
    change();
    EXPECT_FALSE(t.RestructureFieldDefs().UpToDate());
    EXPECT_FALSE(t.RestructureIndexDefs().UpToDate());
  }
  // The index definitions too: an index added behind this table's back
  // shows after the next property change.
  EXPECT_EQ(t.GetIndexNames(), std::vector<std::string>{"ByName"});
  {
    TKORVEXTable other;
    other.SetDatabaseName(dir.Path());
    other.SetTableName("fams");
    other.AddIndex("ByBorn", "Born", 0);
  }
  EXPECT_EQ(t.GetIndexNames(), std::vector<std::string>{"ByName"});
  t.SetReadOnly(!t.ReadOnly());
  EXPECT_EQ(t.GetIndexNames(), (std::vector<std::string>{"ByName", "ByBorn"}));
}

TEST_F(TableStateTest, InMemoryKeepsTheMemoryDatabaseAndDefinitionChangesAreToBeStored) {
  TKORVEXTable m;
  m.SetDatabaseName("Fams");
  m.SetInMemory(true);
  EXPECT_EQ(m.DatabaseName(), "Memory");
  for (const std::string name : {"Inds", "/tmp", ""}) {
    m.SetDatabaseName(name);
    EXPECT_EQ(m.DatabaseName(), "Memory") << name;
  }
  m.SetInMemory(false);
  m.SetDatabaseName("Inds");
  EXPECT_EQ(m.DatabaseName(), "Inds");

  qvtest::TempDir dir;
  MakeFamilies(dir.Path(), true, 3);
  const std::vector<std::pair<const char*, std::function<void(TKORVEXTable&)>>> changes{
      {"AddIndex", [](TKORVEXTable& t) { t.AddIndex("ByBorn", "Born", 0); }},
      {"DeleteIndex", [](TKORVEXTable& t) { t.DeleteIndex("ByBorn"); }},
      {"DeleteAllIndexes", [](TKORVEXTable& t) { t.DeleteAllIndexes(); }},
      {"RestructureTable", [](TKORVEXTable& t) {
         t.RestructureFieldDefs().Update();
         t.RestructureFieldDefs().Find("Name").Description = "Family name";
         t.RestructureTable({});
       }},
  };
  TKORVEXTable t;
  t.SetDatabaseName(dir.Path());
  t.SetTableName("fams");
  for (const auto& [what, change] : changes) {
    SCOPED_TRACE(what);
    t.StoreDefs = false;
    change(t);
    EXPECT_TRUE(t.StoreDefs);
  }
  // Reading the definitions changes nothing to be stored.
  t.StoreDefs = false;
  t.SetTableName("fams");
  t.UpdateFieldDefs();
  t.UpdateIndexDefs();
  t.Open();
  t.Close();
  EXPECT_FALSE(t.StoreDefs);
  // A table made from its persistent fields takes their definitions.
  TKORVEXTable f;
  auto* id = new TIntegerField(&f);
  id->SetFieldName("ID");
  id->SetDataSet(&f);
  f.SetDatabaseName(dir.Path());
  f.SetTableName("fromfields");
  f.CreateTable();
  EXPECT_EQ(f.FieldDefs().Count(), 1);
  EXPECT_TRUE(f.StoreDefs);
}

// An in-memory table of Year (the primary key) and Name, open; with
// `rows`, the 50 years 1700..1749.
void MakeYears(TKORVEXTable& t, const std::string& name, bool rows) {
  t.SetInMemory(true);
  t.SetTableName(name);
  t.FieldDefs().Add("Year", ftInteger, 0, true);
  t.FieldDefs().Add("Name", ftString, 20);
  t.IndexDefs().Add("", "Year", ixPrimary | ixUnique);
  t.CreateTable();
  t.Open();
  for (int year = 1700; rows && year < 1750; ++year) {
    t.Append();
    t.FieldByName("Year")->SetAsInteger(year);
    t.FieldByName("Name")->SetAsString("Y" + std::to_string(year));
    t.Post();
  }
}

std::string Years(TKORVEXTable& t) {
  std::string all;
  for (t.First(); !t.Eof(); t.Next())
    all += t.FieldByName("Year")->AsString() + "=" + t.FieldByName("Name")->AsString() + " ";
  return all;
}

TEST_F(TableStateTest, TableImagesRoundTripWithAndWithoutARange) {
  TKORVEXTable t;
  MakeYears(t, "years", true);
  const std::string all = Years(t);
  ASSERT_EQ(t.RecordCount(), 50);
  for (bool ranged : {false, true}) {
    SCOPED_TRACE(ranged ? "with a range" : "without a range");
    if (ranged) {
      t.SetRange({Variant(1710)}, {Variant(1712)});
      ASSERT_EQ(t.RecordCount(), 3);
    }
    // The image is the whole table, whatever the range shows.
    rtl::TMemoryStream image;
    t.SaveToStream(image);
    EXPECT_GT(image.Size(), 0);
    EXPECT_EQ(t.RecordCount(), ranged ? 3 : 50);
    // Change the table, then load the image back: every record as saved,
    // the range gone.
    t.CancelRange();
    t.First();
    for (int i = 0; i < 10; ++i) t.Delete();
    t.Edit();
    t.FieldByName("Name")->SetAsString("changed");
    t.Post();
    if (ranged) t.SetRange({Variant(1710)}, {Variant(1712)});
    image.SetPosition(0);
    t.LoadFromStream(image);
    EXPECT_FALSE(t.RangeActive());
    EXPECT_EQ(t.RecordCount(), 50);
    EXPECT_EQ(Years(t), all);
    // Saving again gives the same image, and a second table of the same
    // definitions takes it whole.
    rtl::TMemoryStream again;
    t.SaveToStream(again);
    EXPECT_EQ(again.Size(), image.Size());
    TKORVEXTable copy;
    MakeYears(copy, "copy", false);
    image.SetPosition(0);
    copy.LoadFromStream(image);
    EXPECT_EQ(Years(copy), all);
    copy.Close();
    copy.DeleteTable();
  }
  // An image of another table is refused and the table stays as it was.
  TKORVEXTable other;
  other.SetInMemory(true);
  other.SetTableName("other");
  other.FieldDefs().Add("Text", ftString, 30);
  other.CreateTable();
  other.Open();
  other.Append();
  other.FieldByName("Text")->SetAsString("x");
  other.Post();
  rtl::TMemoryStream foreign;
  other.SaveToStream(foreign);
  foreign.SetPosition(0);
  t.SetRange({Variant(1710)}, {Variant(1712)});
  EXPECT_EQ(Raised([&] { t.LoadFromStream(foreign); }).substr(0, 27), "KORVEX Engine Error # 8961 ");
  EXPECT_EQ(t.State(), dsBrowse);
  EXPECT_EQ(Years(t), all);
  other.Close();
  other.DeleteTable();
  t.Close();
  t.DeleteTable();
}

TEST_F(TableStateTest, ComponentMessagesKeepTheirIds) {
  // 37 messages, ids unique within 65488..65535 and in order.
  ASSERT_EQ(std::size(cmsg::kMessages), 37u);
  for (std::size_t i = 0; i < std::size(cmsg::kMessages); ++i) {
    EXPECT_GE(cmsg::kMessages[i].Id, 65488);
    if (i > 0) {
      EXPECT_LT(cmsg::kMessages[i - 1].Id, cmsg::kMessages[i].Id);
    }
    EXPECT_EQ(cmsg::MessageById(cmsg::kMessages[i].Id), &cmsg::kMessages[i]);
  }
  struct Case {
    std::uint16_t id;
    const char* name;
    const char* text;
  };
  const std::vector<Case> cases{
      {65488, "SLinkMasterSource", ""},
      {65489, "SLinkMaster", ""},
      {65519, "SLinkDetail", ""},
      {65490, "SNoTableName", "Missing table name."},
      {65508, "SParamTooBig", "Parameter '%s', cannot save data larger than %d bytes"},
      {65526, "SDatabaseOpen", "Cannot perform this operation on an open database."},
      {65535, "SFieldUnsupportedType", "Field '%s' is of an unsupported type"},
  };
  for (const Case& c : cases) {
    const cmsg::TComponentMessage* m = cmsg::MessageById(c.id);
    ASSERT_NE(m, nullptr) << c.id;
    EXPECT_STREQ(m->Name, c.name);
    EXPECT_STREQ(m->Text, c.text);
  }
  for (std::uint16_t unused : {65487, 65493, 65503}) EXPECT_EQ(cmsg::MessageById(unused), nullptr);
}

}  // namespace
}  // namespace korvex::testing
