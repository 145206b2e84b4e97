// The GEDCOM composer: exact lines for small tables, the link rules on
// tables with stored faults, and random faulty tables checked by the
// independent checker tools/gedcheck.py.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "family/gedcom_composer.h"
#include "family_fixture.h"
#include "support/temp_dir.h"

namespace {

using familytest::MemoryFamilies;
using Lines = std::vector<std::string>;

const Lines kHead = {"0 HEAD",      "1 SOUR QUORVANE", "2 VERS 1.0",   "2 NAME Quorvane",       "1 SUBM @U1@",
                     "1 GEDC",      "2 VERS 5.5.1",    "2 FORM LINEAGE-LINKED", "1 CHAR UTF-8", "0 @U1@ SUBM"};

Lines Ged(const MemoryFamilies& m, const std::string& user = "jan") {
  const Lines all = family::ComposeGedcom(m.tables, user);
  EXPECT_TRUE(std::equal(kHead.begin(), kHead.end(), all.begin()));
  EXPECT_EQ(all.back(), "0 TRLR");
  return Lines(all.begin() + kHead.size(), all.end() - 1);
}

// Tables and the lines between the header and the trailer they give.
struct Case {
  const char* name;
  MemoryFamilies tables;
  Lines body;
};

TEST(GedcomComposer, ExactLines) {
  const Case cases[] = {
      {"couple and son",
       MemoryFamilies()
           .P(1, "Jan", "Smit", "M", "", 0, {1})
           .P(2, "Maria", "Jansen", "F", "", 0, {1})
           .P(3, "Pieter", "Smit", "M", "1 Mar 1701", 1)
           .F(1, 1, 2, {3}),
       {"1 NAME jan", "0 @I1@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "1 FAMS @F1@", "0 @I2@ INDI",
        "1 NAME Maria /Jansen/", "1 SEX F", "1 FAMS @F1@", "0 @I3@ INDI", "1 NAME Pieter /Smit/", "1 SEX M",
        "1 FAMC @F1@", "0 @F1@ FAM", "1 HUSB @I1@", "1 WIFE @I2@", "1 CHIL @I3@"}},
      {"empty tables", MemoryFamilies(), {"1 NAME jan"}},
      // Fams2 = 0 with Fams3 set: one FAMS; Fams3's family lists someone else.
      {"fams gap",
       MemoryFamilies().P(1, "Jan", "Smit", "M", "", 0, {1, 0, 2}).F(1, 1, 0).F(2, 0, 0),
       {"1 NAME jan", "0 @I1@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "1 FAMS @F1@", "0 @F1@ FAM", "1 HUSB @I1@",
        "0 @F2@ FAM"}},
      // Child1 = 0: no CHIL, though Child2 is set.
      {"child1 zero",
       MemoryFamilies().P(1, "Kees", "Smit", "M").F(1, 0, 0, {0, 1}),
       {"1 NAME jan", "0 @I1@ INDI", "1 NAME Kees /Smit/", "1 SEX M", "0 @F1@ FAM"}},
      // Blanks in a given name; "(blank)" parts; '@'; a Sex other than M, F, U.
      {"names",
       MemoryFamilies()
           .P(1, "Jan Pieter  Klaas", "Smit", "M")
           .P(2, "(blank)", "de@Wit", "F")
           .P(3, "Anna", "(blank)", "X")
           .P(4, "(blank)", "(blank)", "")
           .P(5, "Tab\there", "Ok", "U"),
       {"1 NAME jan", "0 @I1@ INDI", "1 NAME Jan Pieter  Klaas /Smit/", "1 SEX M", "0 @I2@ INDI", "1 NAME /de@@Wit/",
        "1 SEX F", "0 @I3@ INDI", "1 NAME Anna //", "0 @I4@ INDI", "1 NAME //", "0 @I5@ INDI", "1 NAME Tab here /Ok/",
        "1 SEX U"}},
      // A '/' inside a part is never a surname delimiter: a blank on the
      // NAME line, the name as written in a NOTE; parts are trimmed.
      {"slashes and blanks",
       MemoryFamilies()
           .P(1, "Jan/Johannes", "Smit/Smid", "M")
           .P(2, "  Anna ", " de Wit  ", "F")
           .P(3, "/", "Smit/", "M")
           .P(4, "\tPiet@/Pieter ", "(blank)", "M")
           .P(5, "Kees", " / ", "M"),
       {"1 NAME jan", "0 @I1@ INDI", "1 NAME Jan Johannes /Smit Smid/", "2 NOTE Name as written: Jan/Johannes Smit/Smid",
        "1 SEX M", "0 @I2@ INDI", "1 NAME Anna /de Wit/", "1 SEX F", "0 @I3@ INDI", "1 NAME /Smit/",
        "2 NOTE Name as written: / Smit/", "1 SEX M", "0 @I4@ INDI", "1 NAME Piet@@ Pieter //",
        "2 NOTE Name as written: Piet@@/Pieter", "1 SEX M", "0 @I5@ INDI", "1 NAME Kees //", "2 NOTE Name as written: Kees /",
        "1 SEX M"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Ged(c.tables), c.body) << c.name;
  EXPECT_EQ(Ged(MemoryFamilies(), "")[0], "1 NAME Unknown");
  EXPECT_EQ(Ged(MemoryFamilies(), "a@b")[0], "1 NAME a@@b");
}

TEST(GedcomComposer, LinksJoinExistingRecordsFromBothSides) {
  const Case cases[] = {
      // Husband 999 without person 999 (as resolved: 0), wife 0: a family without spouses.
      {"placeholder and zero", MemoryFamilies().P(1, "Kees", "Smit", "M", "", 1).F(1, 999, 0, {1}),
       {"0 @I1@ INDI", "1 NAME Kees /Smit/", "1 SEX M", "1 FAMC @F1@", "0 @F1@ FAM", "1 CHIL @I1@"}},
      // Removed numbers in every slot and field name nobody.
      {"removed numbers", MemoryFamilies().P(1, "Jan", "Smit", "M", "", 8, {7, 6}).F(1, 5, 4, {3, 2}),
       {"0 @I1@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "0 @F1@ FAM"}},
      // One-way links are written on both sides: a Famc without child slot,
      // a child slot without Famc, a Fams without Husband, a Wife without Fams.
      {"one-way",
       MemoryFamilies()
           .P(1, "Jan", "Smit", "M", "", 0, {1})
           .P(2, "Maria", "Jansen", "F")
           .P(3, "Piet", "Smit", "M", "", 1)
           .P(4, "Lena", "Smit", "F")
           .F(1, 0, 2, {4}),
       {"0 @I1@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "1 FAMS @F1@", "0 @I2@ INDI", "1 NAME Maria /Jansen/",
        "1 SEX F", "1 FAMS @F1@", "0 @I3@ INDI", "1 NAME Piet /Smit/", "1 SEX M", "1 FAMC @F1@", "0 @I4@ INDI",
        "1 NAME Lena /Smit/", "1 SEX F", "1 FAMC @F1@", "0 @F1@ FAM", "1 HUSB @I1@", "1 WIFE @I2@", "1 CHIL @I4@",
        "1 CHIL @I3@"}},
      // A Fams slot for a taken place, or by a person of no sex, is left out;
      // the family's own fields win; a child listed twice is one CHIL.
      {"one husband",
       MemoryFamilies()
           .P(1, "Jan", "Smit", "M", "", 0, {1})
           .P(2, "Piet", "Smit", "M", "", 0, {1, 1})
           .P(3, "Kim", "Smit", "U", "", 0, {1})
           .P(4, "Eva", "Mol", "F", "", 1)
           .F(1, 1, 0, {4, 4}),
       {"0 @I1@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "1 FAMS @F1@", "0 @I2@ INDI", "1 NAME Piet /Smit/", "1 SEX M",
        "0 @I3@ INDI", "1 NAME Kim /Smit/", "1 SEX U", "0 @I4@ INDI", "1 NAME Eva /Mol/", "1 SEX F", "1 FAMC @F1@",
        "0 @F1@ FAM", "1 HUSB @I1@", "1 CHIL @I4@"}},
      // Husband and child of one family (slot and Famc): the child link is
      // left out, with a note; the family's other child stays.
      {"own parent",
       MemoryFamilies().P(1, "Jan", "Smit", "M", "", 1, {1}).P(2, "Eva", "Smit", "F", "", 1).F(1, 1, 0, {1, 2}),
       {"0 @I1@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "1 FAMS @F1@",
        "1 NOTE Left out: child of family 1, in which this person is a spouse", "0 @I2@ INDI", "1 NAME Eva /Smit/",
        "1 SEX F", "1 FAMC @F1@", "0 @F1@ FAM", "1 HUSB @I1@", "1 CHIL @I2@"}},
      // A child slot in a second family gives a second FAMC after the own Famc.
      {"two families",
       MemoryFamilies().P(1, "Jan", "Smit", "M", "", 2).F(1, 0, 0, {1}).F(2, 0, 0, {0}),
       {"0 @I1@ INDI", "1 NAME Jan /Smit/", "1 SEX M", "1 FAMC @F2@", "1 FAMC @F1@", "0 @F1@ FAM", "1 CHIL @I1@",
        "0 @F2@ FAM", "1 CHIL @I1@"}},
  };
  for (const Case& c : cases) {
    Lines body = Ged(c.tables);
    body.erase(body.begin());
    EXPECT_EQ(body, c.body) << c.name;
  }
}

std::string Python() { return "python3"; }

int RunChecker(const std::string& path, std::string& out) {
  const std::string cmd = Python() + " " QV_SOURCE_DIR "/tools/gedcheck.py " + path + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  char buf[512];
  while (fgets(buf, sizeof buf, p)) out += buf;
  return WEXITSTATUS(pclose(p));
}

TEST(GedcomComposer, RandomFaultyTablesPassTheChecker) {
  qvtest::TempDir dir;
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    MemoryFamilies m;
    const int np = 1 + pick(60), nf = pick(25);
    // Numbers that exist, removed ones, 0 and 999.
    auto someone = [&] { return pick(8) == 0 ? 0 : pick(12) == 0 ? 999 : 1 + pick(np + 5); };
    auto somefam = [&] { return pick(4) == 0 ? 0 : 1 + pick(nf + 3); };
    const char* names[] = {"Jan", "(blank)", "Œžë", "š@é", "Anna Maria", "x@@y", "", "Smit/Smid", " /@Jan/ ", " Kees "};
    for (int p = 1; p <= np; ++p) {
      m.P(p == np && pick(2) ? 999 : p, names[pick(10)], names[pick(10)], std::string(1, "MFU?"[pick(4)]), "",
          somefam());
      for (int s = 0; s < 5 && pick(3); ++s) m.tables.persons.back().fams[s] = somefam();
    }
    for (int f = 1; f <= nf; ++f) {
      m.F(f, pick(3) ? someone() : 999, someone());
      for (int s = 0; s < 15 && pick(3); ++s) m.tables.families.back().children[s] = someone();
    }
    const std::string path = dir.File("r" + std::to_string(seed) + ".ged");
    qvtest::WriteFileBytes(path, family::GedcomFileBytes(family::ComposeGedcom(m.tables, "t@st")));
    std::string out;
    EXPECT_EQ(RunChecker(path, out), 0) << out;
  }
}

TEST(GedcomComposer, FileBytesAreUtf8WithCrLf) {
  EXPECT_EQ(family::GedcomFileBytes({"0 HEAD", "1 NAME \x8a\xe9/\x9e/"}), "0 HEAD\r\n1 NAME \xc5\xa0\xc3\xa9/\xc5\xbe/\r\n");
  EXPECT_TRUE(family::IsGedcomText({"0 HEAD", "0 TRLR"}));
  EXPECT_FALSE(family::IsGedcomText({"[ Subject (1) ]"}));
  EXPECT_FALSE(family::IsGedcomText({}));
}

}  // namespace
