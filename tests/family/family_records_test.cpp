// The family tables and their record access: the tables made in an empty
// settings folder (read back by the checker's python reader), existing
// tables opened as they are, appends that answer their own number, reads
// by number with their messages, and the family box's display of a family.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/family/family_test_support.h"

namespace family::testing {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const std::string& path) { return qvtest::ReadFileBytes(path); }

TEST_F(FamilyTest, FirstCommandMakesBothTablesThatTheCheckerReads) {
  ASSERT_FALSE(fs::exists(dir / "fams.DAT"));
  Box().ShowFamsClick();
  ASSERT_TRUE(env->families.Active() && env->individuals.Active());
  env->families.Close();
  env->individuals.Close();
  EXPECT_EQ(PythonReader("schema", "'" + dir / "fams.DAT" + "'"),
            "field Fid 6 29 0\nfield Husband 6 0 0\nfield Wife 6 0 0\n"
            "field Child1 6 0 0\nfield Child2 6 0 0\nfield Child3 6 0 0\nfield Child4 6 0 0\n"
            "field Child5 6 0 0\nfield Child6 6 0 0\nfield Child7 6 0 0\nfield Child8 6 0 0\n"
            "field Child9 6 0 0\nfield Child10 6 0 0\nfield Child11 6 0 0\nfield Child12 6 0 0\n"
            "field Child13 6 0 0\nfield Child14 6 0 0\nfield Child15 6 0 0\n"
            "indexes 0 no-primary 0\nprimary unique 1 fields [1]\n");
  EXPECT_EQ(PythonReader("schema", "'" + dir / "inds.DAT" + "'"),
            "field Pid 6 29 0\nfield Fname 1 0 31\nfield Lname 1 0 21\nfield Sex 1 0 2\n"
            "field Famc 7 0 0\nfield Fams1 7 0 0\nfield Fams2 7 0 0\nfield Fams3 7 0 0\n"
            "field Fams4 7 0 0\nfield Fams5 7 0 0\nfield Bdate 1 0 22\nfield Bapdate 1 0 22\n"
            "indexes 0 no-primary 0\nprimary unique 1 fields [1]\n");
  // Existing tables are opened as they are, not made again.
  const std::string fams = Bytes(dir / "fams.DAT"), inds = Bytes(dir / "inds.DAT");
  Box().ShowFamsClick();
  env->families.Close();
  env->individuals.Close();
  EXPECT_EQ(Bytes(dir / "fams.DAT"), fams);
  EXPECT_EQ(Bytes(dir / "inds.DAT"), inds);
  for (const char* t : {"fams", "inds"}) EXPECT_EQ(DumpTable(dir.Path(), t).findings, std::vector<std::string>{});
}

TEST_F(FamilyTest, AppendsAnswerTheirOwnNumberAndReadsTellWhatIsMissing) {
  TFamilyRecords& r = Box().Records();
  r.OpenTables();
  // Another component on the same tables appends between ours.
  korvex::TKORVEXTable other;
  DefineFamiliesTable(other);
  other.Open();
  EXPECT_EQ(r.addfam(), 1);
  r.PostPending();
  other.Append();
  other.Post();  // family 2
  EXPECT_EQ(r.addfam(), 3);
  EXPECT_EQ(env->families.State(), db::dsEdit);  // left for the caller's fields
  env->families.FieldByName("Wife")->SetAsInteger(2);
  EXPECT_EQ(r.addinv(), 1);
  EXPECT_EQ(r.addinv(), 2);  // stores family 3's pending wife
  r.PostPending();
  other.Close();

  IndividualRecord p;
  p.fname = "Grietje";
  p.lname = "Jansz\xe9";  // cp1252 bytes pass unchanged
  p.sex = "F";
  p.bapdate = "12 Mar 1687";
  p.famc = 3;
  p.fams = {1, 3, 0, 0, 0};
  ASSERT_TRUE(r.WriteIndividual(2, p));
  EXPECT_FALSE(r.WriteIndividual(7, p));

  struct Read {
    bool family;
    int number, result;
    const char* message;  // "" none
  } reads[] = {
      {true, 0, -1, ""},   {true, 3, 1, ""},  {true, 9, -1, "Could not locate Family #9"},
      {false, 0, -1, ""},  {false, 2, 1, ""}, {false, 999, -1, "Could not locate Individual #999"},
  };
  for (const Read& c : reads) {
    View().messages.clear();
    EXPECT_EQ(c.family ? r.getfam(c.number) : r.getinv(c.number), c.result) << c.number;
    EXPECT_EQ(View().messages, c.message[0] ? std::vector<std::string>{c.message} : std::vector<std::string>{});
  }
  // The buffers keep the last successful read.
  EXPECT_EQ(r.FamilyBuffer().wife, 2);
  EXPECT_EQ(r.IndividualBuffer().lname, "Jansz\xe9");
  EXPECT_EQ(r.LastSurname(), "Jansz\xe9");
  EXPECT_EQ(r.IndividualBuffer().famc, 3);
  EXPECT_EQ(r.IndividualBuffer().fams[1], 3);
  EXPECT_EQ(r.IndividualBuffer().bapdate, "12 Mar 1687");

  // An old "no husband yet" 999 names nobody unless person 999 lists it.
  FamilyRecord f;
  f.husband = kLegacyNoHusband;
  ASSERT_TRUE(r.WriteFamily(1, f));
  ASSERT_EQ(r.getfam(1), 1);
  EXPECT_EQ(r.FamilyBuffer().husband, 0);
  EXPECT_EQ(env->families.FieldByName("Fid")->AsInteger(), 1);  // still on the record read
  r.PostPending();
  auto [fams, inds] = Tables();
  EXPECT_EQ(fams.findings, std::vector<std::string>{});
  EXPECT_EQ(fams.rows, (std::vector<std::string>{"1;999;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0",
                                                 "2;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0",
                                                 "3;0;2;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0"}));
  EXPECT_EQ(inds.rows, (std::vector<std::string>{"1;(blank);;;0;0;0;0;0;0;;",
                                                 "2;Grietje;Jansz\xe9;F;3;1;3;0;0;0;;12 Mar 1687"}));
  EXPECT_EQ(inds.keys, (std::vector<std::string>{"keys 0 2", "keys 31 2"}));  // primary, deleted-records
}

TEST_F(FamilyTest, FieldsFoundOnceFollowTheTableAcrossClosingAndOpening) {
  TFamilyRecords& r = Box().Records();
  r.OpenTables();
  IndividualRecord p;
  p.fname = "Jan";
  p.lname = "Bos";
  p.fams = {4, 0, 0, 0, 0};
  const int pid = r.AppendIndividual(p);
  static const std::vector<std::string> names{"Lname", "Fams1", "Nosuch"};
  TFieldSlots slots(names);
  db::TField* lname = slots.Get(env->individuals, 0);
  EXPECT_EQ(lname, env->individuals.FieldByName("Lname"));
  EXPECT_EQ(slots.Get(env->individuals, 0), lname);
  EXPECT_ANY_THROW(slots.Get(env->individuals, 2));
  // Closed and opened again, by the records and behind their back: every
  // read and write finds the fields the table has now.
  for (int round = 0; round < 3; ++round) {
    env->individuals.Close();
    r.OpenTables();
    EXPECT_EQ(slots.Get(env->individuals, 1), env->individuals.FieldByName("Fams1"));
    ASSERT_EQ(r.getinv(pid), 1);
    EXPECT_EQ(r.IndividualBuffer().lname, "Bos");
    EXPECT_EQ(r.IndividualBuffer().fams[0], 4 + round);
    p.fams[0] = 5 + round;
    ASSERT_TRUE(r.WriteIndividual(pid, p));
  }
}

TEST_F(FamilyTest, ShowfamShowsTheCoupleChildrenAndTheSteppedPlace) {
  TFamilyRecords& r = Box().Records();
  r.OpenTables();
  // Persons 1..18: a husband in families 1, 2 and 3, a wife, 16 children.
  for (int i = 0; i < 18; ++i) r.addinv();
  for (int i = 0; i < 3; ++i) r.addfam();
  r.PostPending();
  auto person = [&](int pid, const std::string& given, const std::string& date, std::array<int, 5> fams) {
    IndividualRecord p;
    p.fname = given;
    p.lname = "Smit";
    p.bapdate = date;
    p.fams = fams;
    ASSERT_TRUE(r.WriteIndividual(pid, p));
  };
  person(1, "Jan", "", {1, 2, 3, 0, 0});
  person(2, "Anna", "", {3, 0, 0, 0, 0});
  FamilyRecord full;
  full.husband = 1;
  full.wife = 2;
  for (int i = 0; i < kChildSlots; ++i) {
    full.children[i] = 3 + i;
    person(3 + i, "c" + std::to_string(i + 1), std::to_string(i + 1) + " May 1700", {0, 0, 0, 0, 0});
  }
  ASSERT_TRUE(r.WriteFamily(3, full));
  FamilyRecord gap;  // a husband nobody knows, no wife, a hole after child 2
  gap.husband = 40;
  gap.children = {3, 4, 0, 5};
  ASSERT_TRUE(r.WriteFamily(2, gap));

  TestView& v = View();
  Box().showfam(3);
  EXPECT_EQ(v.husband, "Jan Smit");
  EXPECT_EQ(v.wife, "Anna Smit");
  ASSERT_EQ(v.entries.size(), 15u);
  EXPECT_EQ(v.entries[0], "c1 bp. 1 May 1700");
  EXPECT_EQ(v.entries[14], "c15 bp. 15 May 1700");
  EXPECT_EQ(Box().State().ChildId(14), 17);
  EXPECT_EQ(Box().State().current_family, 3);
  EXPECT_EQ(Box().State().current_subject, 1);
  // The husband's arrows stand at family 3's place among his, the wife's
  // are off (one family).
  EXPECT_TRUE(v.step_enabled[0]);
  EXPECT_EQ(v.step_position[0], 2);
  EXPECT_FALSE(v.step_enabled[1]);

  v.messages.clear();
  Box().showfam(2);
  EXPECT_EQ(v.husband, "");  // not the person read before
  EXPECT_EQ(v.wife, "");
  EXPECT_EQ(Box().State().husband_id, 0);
  EXPECT_EQ(Box().State().wife_id, 0);
  EXPECT_EQ(v.entries, (std::vector<std::string>{"c1 bp. 1 May 1700", "c2 bp. 2 May 1700"}));
  EXPECT_EQ(Box().State().ChildId(2), 5);  // ids past the shown children stay
  EXPECT_EQ(v.messages, std::vector<std::string>{"Could not locate Individual #40"});

  // A family that is not there changes nothing in the box.
  v.messages.clear();
  Box().showfam(8);
  EXPECT_EQ(v.messages, std::vector<std::string>{"Could not locate Family #8"});
  EXPECT_EQ(Box().State().current_family, 2);
}

TEST(FamilyTexts, NamesEntriesAndQuestions) {
  struct {
    const char* text;
    const char* given;
    const char* surname;
  } names[] = {{"Jan Smit", "Jan", "Smit"}, {"Jan de Wit", "Jan", "de Wit"}, {"Smit", "", "Smit"}, {"", "", ""},
               {" Smit", "", "Smit"}};
  for (auto& c : names) {
    EXPECT_EQ(SplitName(c.text).given, c.given) << c.text;
    EXPECT_EQ(SplitName(c.text).surname, c.surname) << c.text;
  }
  struct {
    const char* entry;
    const char* name;
    const char* date;
  } entries[] = {{"Anne bp. 12 Mar 1687", "Anne", "12 Mar 1687"}, {"Anne bp.  1687", "Anne", " 1687"},
                 {"dropped text", "dropped text", ""}, {"\"Jan Pz\" bp. 3 Apr 1701", "\"Jan Pz\"", "3 Apr 1701"}};
  for (auto& c : entries) {
    EXPECT_EQ(SplitEntry(c.entry).name, c.name) << c.entry;
    EXPECT_EQ(SplitEntry(c.entry).date, c.date) << c.entry;
  }
  EXPECT_EQ(SexQuestion("Anne"), "Is 'Anne' male or female?");
}

}  // namespace
}  // namespace family::testing
