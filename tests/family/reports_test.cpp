// The relationship report and the Henry list on small families whose pages
// were written out by hand.
#include <gtest/gtest.h>

#include <algorithm>

#include "family/henry_list.h"
#include "family/relationship_report.h"
#include "family_fixture.h"

namespace {

using familytest::MemoryFamilies;
using Lines = std::vector<std::string>;

// Three generations around Jan Smit (1): his parents (the father without
// parents, the mother with hers), two wives (the second married before,
// with a daughter), a son married twice, grandchildren M, F and U with and
// without spouse.
MemoryFamilies ThreeGenerations() {
  MemoryFamilies m;
  m.P(1, "Jan", "Smit", "M", "2 Feb 1680", 1, {3, 5})
      .P(2, "Gerrit", "Smit", "M", "", 0, {1})
      .P(3, "Aaltje", "Bos", "F", "", 2, {1})
      .P(4, "Hendrik", "Bos", "M", "", 0, {2})
      .P(5, "Grietje", "Post", "F", "", 0, {2})
      .P(6, "Maria", "Jansen", "F", "", 0, {3})
      .P(7, "Anna", "Dekker", "F", "", 0, {4, 5})
      .P(8, "Klaas", "Vos", "M", "", 0, {4})
      .P(9, "Lijsbet", "Vos", "F", "9 Sep 1701", 4)
      .P(10, "Pieter", "Smit", "M", "3 Mar 1705", 3, {6, 7})
      .P(11, "Trijntje", "Smit", "F", "4 Apr 1707", 3)
      .P(12, "Geesje", "Mol", "F", "", 0, {6})
      .P(13, "Dirkje", "Ros", "F", "", 0, {7})
      .P(14, "Jan", "Smit", "M", "5 May 1730", 6, {8})
      .P(15, "Marijke", "Smit", "F", "6 Jun 1732", 6)
      .P(16, "Neeltje", "Kok", "F", "", 0, {8})
      .P(17, "Kees", "Smit", "U", "7 Jul 1740", 7)
      .P(18, "Willem", "Smit", "M", "8 Aug 1712", 5);
  m.F(1, 2, 3, {1}).F(2, 4, 5, {3}).F(3, 1, 6, {10, 11}).F(4, 8, 7, {9}).F(5, 1, 7, {18});
  m.F(6, 10, 12, {14, 15}).F(7, 10, 13, {17}).F(8, 14, 16, {});
  return m;
}

TEST(RelationshipReport, PagesWrittenByHand) {
  struct Case {
    int subject;
    Lines page;
    std::string spouse_text;
    int spouse_id;
    Lines entries;
  };
  const Case cases[] = {
      {1,
       {"[ Subject (1) ]", "Jan Smit", "", "  FATHER: Gerrit Smit", "  MOTHER: Aaltje Bos", "    G'FATHER: Hendrik Bos",
        "    G'MOTHER: Grietje Post", "", "SPOUSE 1: Maria Jansen ", " SON Pieter Smit & Geesje Mol",
        "   GRANDSON Jan Smit & Neeltje Kok", "   GRANDDAUGHTER Marijke Smit", " ** Pieter Smit & Dirkje Ros",
        "   GRANDCHILD Kees Smit", " DAUGHTER Trijntje Smit", "", "SPOUSE 2: Anna Dekker ", "",
        "   prior: Klaas Vos m. Anna Dekker", "    DAUGHTER Lijsbet Vos", "", "(2) SON Willem Smit"},
       "Maria Jansen",
       6,
       {"Pieter  bp. 3 Mar 1705", "Trijntje  bp. 4 Apr 1707", "Lijsbet  bp. 9 Sep 1701", "Willem  bp. 8 Aug 1712"}},
      // One spouse family, grandparents on the father's side only.
      {14,
       {"[ Subject (14) ]", "Jan Smit", "", "  FATHER: Pieter Smit", "    G'FATHER: Jan Smit", "    G'MOTHER: Maria Jansen",
        "  MOTHER: Geesje Mol", "", "SPOUSE: Neeltje Kok "},
       "Neeltje Kok",
       16,
       {}},
      // No Famc; the spouse has two families, this one first.
      {6,
       {"[ Subject (6) ]", "Maria Jansen", "", "", "SPOUSE: Jan Smit ", "(1) SON Pieter Smit & Geesje Mol",
        "   GRANDSON Jan Smit & Neeltje Kok", "   GRANDDAUGHTER Marijke Smit", " ** Pieter Smit & Dirkje Ros",
        "   GRANDCHILD Kees Smit", "(1) DAUGHTER Trijntje Smit"},
       "Jan Smit",
       1,
       {"Pieter  bp. 3 Mar 1705", "Trijntje  bp. 4 Apr 1707"}},
      // A wife whose husband was married before: his other marriage is hers to print.
      {7,
       {"[ Subject (7) ]", "Anna Dekker", "", "", "SPOUSE 1: Klaas Vos ", " DAUGHTER Lijsbet Vos", "",
        "SPOUSE 2: Jan Smit ", "", "   prior: Jan Smit m. Maria Jansen", "    SON Pieter Smit & Geesje Mol",
        "      GRANDSON Jan Smit & Neeltje Kok", "      GRANDDAUGHTER Marijke Smit", "    ** Pieter Smit & Dirkje Ros",
        "      GRANDCHILD Kees Smit", "    DAUGHTER Trijntje Smit", "", "(2) SON Willem Smit"},
       "Klaas Vos",
       8,
       {"Lijsbet  bp. 9 Sep 1701", "Pieter  bp. 3 Mar 1705", "Trijntje  bp. 4 Apr 1707", "Willem  bp. 8 Aug 1712"}},
      // No parents' family, no spouse.
      {17, {"[ Subject (17) ]", "Kees Smit", "", "  FATHER: Pieter Smit", "    G'FATHER: Jan Smit",
            "    G'MOTHER: Maria Jansen", "  MOTHER: Dirkje Ros"}, "", 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subject);
    MemoryFamilies m = ThreeGenerations();
    const auto r = family::ReportOn(m, c.subject);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->lines, c.page);
    EXPECT_EQ(r->first_spouse_text, c.spouse_text);
    EXPECT_EQ(r->first_spouse_id, c.spouse_id);
    EXPECT_EQ(r->has_first_spouse, c.spouse_id != 0);
    EXPECT_EQ(r->list_entries, c.entries);
    EXPECT_EQ(r->child_ids.size(), c.entries.size());
    EXPECT_TRUE(m.messages.empty());
  }
}

TEST(RelationshipReport, AbsentAndUnknownPeopleLeaveTheirTextOut) {
  MemoryFamilies m;
  // Husband 999 without person 999, wife 0, a removed child, a removed
  // partner family of a child, an unknown grandparent family.
  m.P(1, "Jan", "Smit", "M", "", 1, {2, 7}).P(2, "Aaltje", "Bos", "F", "", 9, {1}).P(3, "Kees", "Smit", "M", "", 2, {8});
  m.F(1, 999, 2, {1}).F(2, 1, 0, {44, 3});
  const auto r = family::ReportOn(m, 1);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->lines, (Lines{"[ Subject (1) ]", "Jan Smit", "", "  MOTHER: Aaltje Bos", "", "SPOUSE 1: ",
                             " SON Kees Smit"}));
  EXPECT_EQ(m.messages, (Lines{"Could not locate Family #9", "Could not locate Individual #44",
                               "Could not locate Family #8", "Could not locate Family #7"}));
  EXPECT_TRUE(r->has_first_spouse);
  EXPECT_EQ(r->first_spouse_id, 0);
  EXPECT_FALSE(family::ReportOn(m, 0));
  EXPECT_FALSE(family::ReportOn(m, 55));
  EXPECT_EQ(m.messages.back(), "Could not locate Individual #55");
}

// Jan Smit, Maria Jansen, sons Pieter (married, one son) and Klaas.
MemoryFamilies JanSmit() {
  MemoryFamilies m;
  m.P(1, "Jan", "Smit", "M", "", 0, {1}).P(2, "Maria", "Jansen", "F", "", 0, {1});
  m.P(3, "Pieter", "Smit", "M", "1 Mar 1701", 1, {2}).P(4, "Klaas", "Smit", "M", "2 Apr 1703", 1);
  m.P(5, "Anna", "Dekker", "F", "", 0, {2}).P(6, "Jan", "Smit", "M", "5 May 1730", 2);
  m.F(1, 1, 2, {3, 4}).F(2, 3, 5, {6});
  return m;
}

Lines Henry(MemoryFamilies& m, int subject) {
  auto page = family::HenryList(m).Run(subject);
  return page ? *page : Lines{"<nothing>"};
}

TEST(HenryList, TheTenLinesOfJanSmit) {
  MemoryFamilies m = JanSmit();
  EXPECT_EQ(Henry(m, 1), (Lines{" ", "Modified Henry list for Jan Smit", " ", " ", "  Jan SMIT m. Maria JANSEN",
                                "    1  Pieter bp. 1 Mar 1701 m. Anna DEKKER", "    2  Klaas bp. 2 Apr 1703", " ",
                                "1  Pieter SMIT bp. 1 Mar 1701 m. Anna DEKKER", "    11  Jan bp. 5 May 1730"}));
  // A subject without spouse families; a subject 0 or not in the table leaves the page.
  EXPECT_EQ(Henry(m, 4), (Lines{" ", "Modified Henry list for Klaas Smit", " ", " ", "  Klaas SMIT bp. 2 Apr 1703"}));
  EXPECT_EQ(Henry(m, 0), Lines{"<nothing>"});
  EXPECT_EQ(Henry(m, 77), Lines{"<nothing>"});
  EXPECT_EQ(m.messages, Lines{"Could not locate Individual #77"});
}

TEST(HenryList, DottedNumbers) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},          {"1", "1"},           {"123", "123"},
      {"1234", "123.4"}, {"123456", "123.456"}, {"1234567", "123.456.7"},
      {"1234567890123456789012345", "123.456.789.012.345.678.901.234.5"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(family::DottedNumber(in), out) << in;
}

TEST(HenryList, SpouseFamiliesChildDigitsAndQueueRule) {
  MemoryFamilies m;
  // 1 has two wives: children 3, 4 with the first, 5 with the second; 3 is
  // married without children (not walked), 5 has a child (walked).
  m.P(1, "Jan", "Smit", "M", "", 0, {1, 2}).P(2, "Maria", "Jansen", "F", "", 0, {1}).P(6, "Anna", "Dekker", "F", "", 0, {2});
  m.P(3, "Pieter", "Smit", "M", "", 1, {3}).P(7, "Eva", "Mol", "F", "", 0, {3}).P(4, "Lena", "Smit", "F", "", 1);
  m.P(5, "Rik", "Smit", "U", "", 2, {4}).P(8, "Bart", "Kok", "M", "", 0, {4}).P(9, "Tom", "Kok", "M", "", 4);
  m.F(1, 1, 2, {3, 4}).F(2, 1, 6, {5}).F(3, 3, 7, {}).F(4, 8, 5, {9});
  EXPECT_EQ(Henry(m, 1), (Lines{" ", "Modified Henry list for Jan Smit", " ", " ",
                                "  Jan SMIT m. Maria JANSEN m. Anna DEKKER", "    1  (1)  Pieter m. Eva MOL",
                                "    2  (1)  Lena", "    3  (2)  Rik m. Bart KOK", " ", "3  Rik SMIT m. Bart KOK",
                                "    31  Tom"}));
}

TEST(HenryList, TwentyChildrenThenTooManyThenDeepNumbers) {
  MemoryFamilies m;
  m.P(1, "Jan", "Smit", "M", "", 0, {1, 2}).P(2, "Maria", "Jansen", "F", "", 0, {1}).P(3, "Anna", "Dekker", "F", "", 0, {2});
  m.F(1, 1, 2, {}).F(2, 1, 3, {});
  for (int i = 0; i < 20; ++i) {
    m.P(10 + i, "K" + std::to_string(i + 1), "Smit", "M", "", i < 15 ? 1 : 2);
    m.Fam(i < 15 ? 1 : 2).children[i < 15 ? i : i - 15] = 10 + i;
  }
  Lines page = Henry(m, 1);
  ASSERT_EQ(page.size(), 25u);
  EXPECT_EQ(page[5], "    1  (1)  K1");
  EXPECT_EQ(page[13], "    9  (1)  K9");
  EXPECT_EQ(page[14], "    A  (1)  K10");
  EXPECT_EQ(page[19], "    F  (1)  K15");
  EXPECT_EQ(page[20], "    G  (2)  K16");
  EXPECT_EQ(page[24], "    K  (2)  K20");

  // Five families of 15: the 36th child ends the list with a line; Z is the 35th.
  MemoryFamilies big;
  big.P(1, "Jan", "Smit", "M", "", 0, {1, 2, 3, 4, 5});
  for (int f = 1; f <= 5; ++f) {
    big.F(f, 1, 0, {});
    for (int s = 0; s < 15; ++s) {
      const int pid = 100 + f * 15 + s;
      big.P(pid, "C" + std::to_string((f - 1) * 15 + s + 1), "Smit", "F", "", f);
      big.Fam(f).children[s] = pid;
    }
  }
  page = Henry(big, 1);
  ASSERT_EQ(page.size(), 5u + 35 + 1);
  EXPECT_EQ(page[39], "    Z  (3)  C35");
  EXPECT_EQ(page[40], "    The list ends here: Jan SMIT has more than 35 children.");

  // 25 generations, one child each: the last number has 25 digits, never cut.
  MemoryFamilies line;
  for (int g = 1; g <= 26; ++g) {
    line.P(g, "G" + std::to_string(g), "Smit", "M", "", g > 1 ? g - 1 : 0, {g});
    line.F(g, g, 0, {g < 26 ? g + 1 : 0});
  }
  page = Henry(line, 1);
  EXPECT_EQ(page.back(), "    111.111.111.111.111.111.111.111.1  G26");
  EXPECT_EQ(page[page.size() - 2], "111.111.111.111.111.111.111.111  G25 SMIT");
}

TEST(HenryList, LoopsAreListedOnceAndNamed) {
  // A self-parent: 1 is a child of its own family.
  MemoryFamilies self;
  self.P(1, "Jan", "Smit", "M", "", 1, {1}).P(2, "Maria", "Jansen", "F", "", 0, {1}).F(1, 1, 2, {1});
  EXPECT_EQ(Henry(self, 1), (Lines{" ", "Modified Henry list for Jan Smit", " ", " ", "  Jan SMIT m. Maria JANSEN",
                                   "    1  Jan m. Maria JANSEN",
                                   "      loop: Jan SMIT stands above as the subject; not listed again"}));
  // A 2-cycle two generations down: 2 is the child of 1, and 1 the child of 2.
  MemoryFamilies two;
  two.P(1, "Jan", "Smit", "M", "", 2, {1}).P(2, "Piet", "Smit", "M", "", 1, {2}).F(1, 1, 0, {2}).F(2, 2, 0, {1});
  EXPECT_EQ(Henry(two, 2), (Lines{" ", "Modified Henry list for Piet Smit", " ", " ", "  Piet SMIT", "    1  Jan", " ",
                                  "1  Jan SMIT", "    11  Piet",
                                  "      loop: Piet SMIT stands above as the subject; not listed again"}));
  // A person reached twice without a loop (listed in two families) is walked twice.
  MemoryFamilies twice;
  twice.P(1, "A", "X", "M", "", 0, {1}).P(2, "B", "X", "M", "", 1, {2}).P(3, "C", "X", "M", "", 1, {3});
  twice.P(4, "D", "X", "F", "", 2, {4}).P(5, "E", "X", "M", "", 4);
  twice.F(1, 1, 0, {2, 3}).F(2, 2, 0, {4}).F(3, 3, 0, {4}).F(4, 0, 4, {5});
  const Lines page = Henry(twice, 1);
  EXPECT_EQ(std::count(page.begin(), page.end(), "11  D X"), 1);
  EXPECT_EQ(std::count(page.begin(), page.end(), "21  D X"), 1);
  EXPECT_EQ(page.back(), "    211  E");
}

TEST(HenryList, UnknownPersonsAndFamiliesAreLeftOut) {
  MemoryFamilies m;
  // Husband 999 without person 999; a removed child; an unknown family,
  // which does not count as a second spouse family (no "(1)" tags).
  m.P(1, "Maria", "Jansen", "F", "", 0, {1, 9}).P(2, "Kees", "Smit", "M", "", 1);
  m.F(1, 999, 1, {55, 2});
  EXPECT_EQ(Henry(m, 1), (Lines{" ", "Modified Henry list for Maria Jansen", " ", " ", "  Maria JANSEN",
                                "    1  Kees"}));
  // Each unknown number is told once.
  EXPECT_EQ(m.messages, (Lines{"Could not locate Family #9", "Could not locate Individual #55"}));
  // Person 999 who lists the family is the husband.
  m.P(999, "Jan", "Smit", "M", "", 0, {1});
  m.messages.clear();
  EXPECT_EQ(Henry(m, 1)[4], "  Maria JANSEN m. Jan SMIT");
}

}  // namespace
