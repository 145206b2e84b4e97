// The family box's handlers, scenario by scenario: the tables read back by
// the checker's python reader and compared with rows worked out by hand,
// every link checked both ways.
#include <gtest/gtest.h>

#include "tests/family/family_test_support.h"

namespace family::testing {
namespace {

using Rows = std::vector<std::string>;
constexpr Side H = Side::kHusband, W = Side::kWife;

class FamilyBoxTest : public FamilyTest {
protected:
  // The page holds these lines, all selected.
  void Select(const Rows& lines) {
    View().page = lines;
    View().SelectLines(0, static_cast<int>(lines.size()) - 1);
  }
  // Add of a couple without children, or of the couple and children of
  // the lines ("Set as children" first).
  void Add(const std::string& husband, const std::string& wife, const Rows& lines = {}) {
    if (lines.empty()) {
      View().husband = husband;
      View().wife = wife;
      View().entries.clear();
    } else {
      Select(lines);
      View().ShowChildren();
    }
    Box().AddClick();
  }
  void Answers(std::initializer_list<int> answers) { View().answers.assign(answers); }
};

const Rows kSmitLines = {"1701 3 Apr; Jan Smit, Maria Bos; Pieter; Kees Vos", "1703 9 May; Jan Smit, Maria Bos; Anna",
                         "1705 1 Jun; Jan Smit, Maria Bos; Klaas"};

TEST_F(FamilyBoxTest, AddStoresTheBoxAndReportsEachNamesake) {
  Answers({kAnswerMale, kAnswerFemale, kAnswerMale});
  Add("", "", kSmitLines);
  EXPECT_EQ(View().questions, (Rows{"Is 'Pieter' male or female?", "Is 'Anna' male or female?",
                                    "Is 'Klaas' male or female?"}));
  EXPECT_EQ(View().messages, Rows{});
  EXPECT_TRUE(View().side_buttons);
  EXPECT_EQ(Box().State().child_ids, (std::vector<int>{3, 4, 5}));
  Add("Jan Smit", "Maria Bos");
  EXPECT_EQ(View().messages, Rows{"Jan Smit found"});
  View().messages.clear();
  Add("Jan Smit", "Maria Bos");
  EXPECT_EQ(View().messages, (Rows{"Jan Smit found", "Jan Smit found"}));
  EXPECT_EQ(Box().State().current_family, 3);
  EXPECT_EQ(Box().State().husband_surname, "Smit");
  // Sixteen entries are refused before anything is made.
  View().messages.clear();
  View().entries.assign(16, "x bp. 1 Jan 1700");
  Box().AddClick();
  EXPECT_EQ(View().messages, Rows{kTooManyChildrenText});
  EXPECT_EQ(Box().LastOutcome(), TFamilyBox::Outcome::kRefused);

  auto [fams, inds] = CheckedTables();
  EXPECT_EQ(fams.rows, (Rows{FamRow(1, 1, 2, {3, 4, 5}), FamRow(2, 6, 7), FamRow(3, 8, 9)}));
  EXPECT_EQ(inds.rows, (Rows{IndRow(1, "Jan", "Smit", "M", 0, {1}), IndRow(2, "Maria", "Bos", "F", 0, {1}),
                             IndRow(3, "Pieter", "Smit", "M", 1, {}, "3 Apr 1701"),
                             IndRow(4, "Anna", "Smit", "F", 1, {}, "9 May 1703"),
                             IndRow(5, "Klaas", "Smit", "M", 1, {}, "1 Jun 1705"), IndRow(6, "Jan", "Smit", "M", 0, {2}),
                             IndRow(7, "Maria", "Bos", "F", 0, {2}), IndRow(8, "Jan", "Smit", "M", 0, {3}),
                             IndRow(9, "Maria", "Bos", "F", 0, {3})}));
}

// Names wider than their columns (given names 31, surname 21) keep what
// fits, and each cut is told.
TEST_F(FamilyBoxTest, LongNamesAreCutWithAMessage) {
  const std::string surname = "Wijnandts-van-Rechteren", given = "Hendrikwilhelmusjohannesmariaantonius";
  const std::string kept_surname = surname.substr(0, 21), kept_given = given.substr(0, 31);
  Answers({kAnswerMale});
  Add("", "", {"1701 3 Apr; Jan " + surname + ", Maria Bos; " + given});
  EXPECT_EQ(View().messages, (Rows{kNameCutText + std::string("Jan ") + kept_surname,
                                   kNameCutText + kept_given + " " + kept_surname}));
  auto [fams, inds] = CheckedTables();
  EXPECT_EQ(inds.rows, (Rows{IndRow(1, "Jan", kept_surname, "M", 0, {1}), IndRow(2, "Maria", "Bos", "F", 0, {1}),
                             IndRow(3, kept_given, kept_surname, "M", 1, {}, "3 Apr 1701")}));
}

TEST_F(FamilyBoxTest, FatherAndMotherByNameShowAndRefuse) {
  Add("Jan Smit", "Maria Bos");
  View().SelectNothing();
  Box().ParentClick(H, H);  // no parents yet: nothing
  EXPECT_EQ(Box().State().current_family, 1);
  View().SelectText("Hendrik Smit");
  Box().ParentClick(H, H);
  EXPECT_EQ(Box().State().current_family, 2);
  Box().ParentClick(H, H);  // a second F on the same person
  EXPECT_EQ(View().messages, Rows{"Already has father!"});
  View().SelectText("Geertje Vos");
  Box().ParentClick(H, W);  // the mother joins the same family
  View().SelectNothing();
  Box().ParentClick(H, H);  // shows the parents
  EXPECT_EQ(View().husband, "Hendrik Smit");
  EXPECT_EQ(View().wife, "Geertje Vos");
  EXPECT_EQ(View().entries, Rows{"Jan bp. "});
  auto [fams, inds] = CheckedTables();
  EXPECT_EQ(fams.rows, (Rows{FamRow(1, 1, 2), FamRow(2, 3, 4, {1})}));
  EXPECT_EQ(inds.rows, (Rows{IndRow(1, "Jan", "Smit", "M", 2, {1}), IndRow(2, "Maria", "Bos", "F", 0, {1}),
                             IndRow(3, "Hendrik", "Smit", "M", 0, {2}), IndRow(4, "Geertje", "Vos", "F", 0, {2})}));
}

TEST_F(FamilyBoxTest, AddFatherFamPlacesThePersonByNameOrInTheFirstFreeSlot) {
  Add("Jan Smit", "Maria Bos");
  Select({"1670 2 Feb; Hendrik Smit, Geertje Vos; Pieter", "1672 5 Mar; Hendrik Smit, Geertje Vos; Jan"});
  Box().ParentClick(H, H);  // record lines: the parents' family from them
  EXPECT_EQ(View().questions, Rows{"Is 'Pieter' male or female?"});
  EXPECT_EQ(Box().State().child_ids, (std::vector<int>{5, 1}));
  Add("Kees Bos", "Anna Vos");  // family 3: 6 and 7
  View().questions.clear();
  Answers({kAnswerMale, kAnswerFemale});
  Select({"1680 1 Jan; Gerrit Bos, Trijn Dekker; Aaltje", "1682 2 Feb; Gerrit Bos, Trijn Dekker; Willem"});
  Box().ParentClick(H, W);  // M runs the same; no entry is Kees
  EXPECT_EQ(View().questions, (Rows{"Is 'Willem' male or female?", "Is 'Aaltje' male or female?"}));
  // The parents read before refuse a further father.
  Select({"1690 1 Jan; Evert Bos, Trijn Dekker; Kees"});
  Box().ParentClick(H, H);
  EXPECT_EQ(View().messages, Rows{"Already has father!"});
  auto [fams, inds] = CheckedTables();
  EXPECT_EQ(fams.rows, (Rows{FamRow(1, 1, 2), FamRow(2, 3, 4, {5, 1}), FamRow(3, 6, 7), FamRow(4, 8, 9, {11, 10, 6})}));
  EXPECT_EQ(inds.rows,
            (Rows{IndRow(1, "Jan", "Smit", "M", 2, {1}, "5 Mar 1672"), IndRow(2, "Maria", "Bos", "F", 0, {1}),
                  IndRow(3, "Hendrik", "Smit", "M", 0, {2}), IndRow(4, "Geertje", "Vos", "F", 0, {2}),
                  IndRow(5, "Pieter", "Smit", "M", 2, {}, "2 Feb 1670"), IndRow(6, "Kees", "Bos", "M", 4, {3}),
                  IndRow(7, "Anna", "Vos", "F", 0, {3}), IndRow(8, "Gerrit", "Bos", "M", 0, {4}),
                  IndRow(9, "Trijn", "Dekker", "F", 0, {4}), IndRow(10, "Willem", "Bos", "M", 4, {}, "2 Feb 1682"),
                  IndRow(11, "Aaltje", "Bos", "F", 4, {}, "1 Jan 1680")}));
}

TEST_F(FamilyBoxTest, SiblingMakesBlankParentsWhichFNamesInPlace) {
  Add("Jan Smit", "Maria Bos");
  Select({"1700 1 Jan; Kees Smit, Lijn Bos; Teun"});
  Answers({kAnswerMale, kAnswerMale});
  Box().SiblingClick(H);
  EXPECT_EQ(View().questions, (Rows{"New sibling: male or female", "Is 'Teun' male or female?"}));
  EXPECT_EQ(Box().State().current_family, 3);
  EXPECT_EQ(Box().State().husband_id, 5);
  // Cancelling the sibling question makes nothing.
  Answers({kAnswerCancel});
  Select({"1702 1 Jan; Dirk Smit, Lijn Bos; Teun"});
  Box().SiblingClick(H);
  EXPECT_EQ(Box().LastOutcome(), TFamilyBox::Outcome::kRefused);
  Box().State().husband_id = 1;
  View().SelectText("Hendrik Smit");
  Box().ParentClick(H, H);  // names the "(blank)" father
  auto [fams, inds] = CheckedTables();
  EXPECT_EQ(fams.rows, (Rows{FamRow(1, 1, 2), FamRow(2, 3, 4, {1, 5}), FamRow(3, 5, 6, {7})}));
  EXPECT_EQ(inds.rows,
            (Rows{IndRow(1, "Jan", "Smit", "M", 2, {1}), IndRow(2, "Maria", "Bos", "F", 0, {1}),
                  IndRow(3, "Hendrik", "Smit", "M", 0, {2}), IndRow(4, "(blank)", "(blank)", "F", 0, {2}),
                  IndRow(5, "Kees", "Smit", "M", 2, {3}), IndRow(6, "Lijn", "Bos", "F", 0, {3}),
                  IndRow(7, "Teun", "Smit", "M", 3, {}, "1 Jan 1700")}));
}

TEST_F(FamilyBoxTest, SpouseByNameUpToFiveThenRefusedUnchanged) {
  Add("Jan Smit", "Maria Bos");
  for (const char* name : {"Grietje Vos", "Aaf Kok", "Trijn Mol", "Lijs Wit"}) {
    View().SelectText(name);
    Box().SpouseClick(H);
  }
  EXPECT_EQ(View().wife, "Lijs Wit");
  EXPECT_EQ(View().entries, Rows{});
  auto before = Tables();
  Box().State().husband_id = 1;
  View().SelectText("Neel Bos");
  Box().SpouseClick(H);
  EXPECT_EQ(View().messages, Rows{"Jan Smit\n\n  Already has Five spouses!"});
  // The wife's side with record lines: the children take her spouse's name.
  Box().State().wife_id = 2;
  Answers({kAnswerFemale});
  Select({"1710 8 Aug; Pieter Kuip, Maria Bos; Aal"});
  Box().SpouseClick(W);
  auto [fams, inds] = CheckedTables();
  EXPECT_EQ(Rows(fams.rows.begin(), fams.rows.begin() + 5), before.first.rows);
  EXPECT_EQ(fams.rows, (Rows{FamRow(1, 1, 2), FamRow(2, 1, 3), FamRow(3, 1, 4), FamRow(4, 1, 5), FamRow(5, 1, 6),
                             FamRow(6, 7, 2, {8})}));
  EXPECT_EQ(inds.rows,
            (Rows{IndRow(1, "Jan", "Smit", "M", 0, {1, 2, 3, 4, 5}), IndRow(2, "Maria", "Bos", "F", 0, {1, 6}),
                  IndRow(3, "Grietje", "Vos", "F", 0, {2}), IndRow(4, "Aaf", "Kok", "F", 0, {3}),
                  IndRow(5, "Trijn", "Mol", "F", 0, {4}), IndRow(6, "Lijs", "Wit", "F", 0, {5}),
                  IndRow(7, "Pieter", "Kuip", "M", 0, {6}), IndRow(8, "Aal", "Kuip", "F", 6, {}, "8 Aug 1710")}));
}

TEST_F(FamilyBoxTest, AddChildAsHusbandOrWifeOrNotAtAll) {
  Answers({kAnswerMale});
  Add("", "", {"1700 3 Apr; Jan Smit, Maria Bos; Pieter"});
  Select({"1725 4 Jul; Pieter Smit, Aafje Kok; Jannetje"});
  Answers({kAnswerMale, kAnswerFemale});
  Box().AddChildClick();
  EXPECT_EQ(View().husband, "Jan Smit");  // the current family shown again
  EXPECT_EQ(View().entries, (Rows{"Pieter bp. 3 Apr 1700", "Pieter bp. "}));
  Select({"1727 1 Aug; Dirk Mol, Anna Smit; Hendrik"});
  Answers({kAnswerFemale, kAnswerMale});
  Box().AddChildClick();
  Select({"1729 1 Aug; Evert Mol, Anna Smit; Gijs"});
  Answers({kAnswerCancel});
  Box().AddChildClick();
  EXPECT_EQ(Box().LastOutcome(), TFamilyBox::Outcome::kRefused);
  auto [fams, inds] = CheckedTables();
  EXPECT_EQ(fams.rows, (Rows{FamRow(1, 1, 2, {3, 4, 8}), FamRow(2, 4, 5, {6}), FamRow(3, 7, 8, {9})}));
  EXPECT_EQ(inds.rows,
            (Rows{IndRow(1, "Jan", "Smit", "M", 0, {1}), IndRow(2, "Maria", "Bos", "F", 0, {1}),
                  IndRow(3, "Pieter", "Smit", "M", 1, {}, "3 Apr 1700"), IndRow(4, "Pieter", "Smit", "M", 1, {2}),
                  IndRow(5, "Aafje", "Kok", "F", 0, {2}), IndRow(6, "Jannetje", "Smit", "F", 2, {}, "4 Jul 1725"),
                  IndRow(7, "Dirk", "Mol", "M", 0, {3}), IndRow(8, "Anna", "Smit", "F", 1, {3}),
                  IndRow(9, "Hendrik", "Mol", "M", 3, {}, "1 Aug 1727")}));
}

TEST_F(FamilyBoxTest, ChildClickShowsOrMakesTheChildsFamily) {
  Answers({kAnswerMale, kAnswerFemale});
  Add("", "", {"1701 3 Apr; Jan Smit, Maria Bos; Pieter", "1703 9 May; Jan Smit, Maria Bos; Anna"});
  View().SelectNothing();
  View().entry_index = 0;
  Box().ChildClick();  // no own family yet: nothing
  EXPECT_EQ(View().husband, "Jan Smit");
  View().entry_index = -1;
  Select({"1730 5 Sep; Pieter Smit, Neeltje Kuip; Cornelis"});
  Box().ChildClick();  // nothing chosen in the list: nothing
  EXPECT_EQ(Box().State().current_family, 1);
  View().entry_index = 0;
  Box().ChildClick();
  EXPECT_EQ(Box().State().current_family, 2);
  EXPECT_EQ(Box().State().husband_id, 3);
  EXPECT_EQ(Box().State().wife_id, 5);
  Box().showfam(1);
  View().SelectNothing();
  Box().ChildClick();
  EXPECT_EQ(View().husband, "Pieter Smit");
  EXPECT_EQ(View().wife, "Neeltje Kuip");
  EXPECT_EQ(View().entries, Rows{"Cornelis bp. 5 Sep 1730"});
  auto [fams, inds] = CheckedTables();
  EXPECT_EQ(fams.rows, (Rows{FamRow(1, 1, 2, {3, 4}), FamRow(2, 3, 5, {6})}));
  EXPECT_EQ(inds.rows,
            (Rows{IndRow(1, "Jan", "Smit", "M", 0, {1}), IndRow(2, "Maria", "Bos", "F", 0, {1}),
                  IndRow(3, "Pieter", "Smit", "M", 1, {2}, "3 Apr 1701"), IndRow(4, "Anna", "Smit", "F", 1, {}, "9 May 1703"),
                  IndRow(5, "Neeltje", "Kuip", "F", 0, {2}), IndRow(6, "Cornelis", "Smit", "M", 2, {}, "5 Sep 1730")}));
}

TEST_F(FamilyBoxTest, SteppingWalksThePersonsFamiliesBothWays) {
  Add("Jan Smit", "Maria Bos");
  for (const char* name : {"Grietje Vos", "Aaf Kok"}) {
    View().SelectText(name);
    Box().SpouseClick(H);
  }
  Box().showfam(1);
  EXPECT_TRUE(View().step_enabled[0]);
  struct Step {
    bool next;
    int position;
    const char* wife;
  } steps[] = {{true, 0, "Maria Bos"},  {false, 1, "Grietje Vos"}, {false, 2, "Aaf Kok"},
               {false, 2, "Aaf Kok"},  {true, 1, "Grietje Vos"},  {true, 0, "Maria Bos"}};
  for (const Step& s : steps) {
    Box().StepClick(H, s.next);
    EXPECT_EQ(View().step_position[0], s.position);
    EXPECT_EQ(View().wife, s.wife);
    EXPECT_EQ(Box().State().husband_id, 1);
  }
  CheckedTables();
}

TEST_F(FamilyBoxTest, ClearDataTwiceLeavesBothEmptyAndOpen) {
  Add("Jan Smit", "Maria Bos");
  for (int round = 0; round < 2; ++round) {
    Box().ClearDataClick();
    EXPECT_TRUE(env->families.Active() && env->individuals.Active());
    EXPECT_TRUE(env->families.Exclusive() && env->individuals.Exclusive());
    EXPECT_EQ(env->families.RecordCount(), 0);
    EXPECT_EQ(env->individuals.RecordCount(), 0);
  }
  EXPECT_EQ(View().messages, Rows{});
  Add("Kees Bos", "Anna Vos");
  auto [fams, inds] = CheckedTables();
  EXPECT_EQ(fams.rows.size(), 1u);
  EXPECT_EQ(inds.rows.size(), 2u);
}

}  // namespace
}  // namespace family::testing
