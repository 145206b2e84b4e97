// The family box: its working state and the handlers that grow the two
// family tables from the record lines selected in a page.
//
// Every handler opens both tables when they are closed, checks everything
// it needs (every number it reads, free child and spouse slots) before it
// writes anything, writes each record through a search by number, and
// returns with both tables browsing and flushed. A refusal shows its
// message and changes nothing.
#pragma once

#include <string>
#include <vector>

#include "family/family_records.h"
#include "family/family_view.h"

namespace family {

inline constexpr char kTooManyChildrenText[] = "A family holds at most 15 children";
inline constexpr char kFiveSpousesText[] = "\n\n  Already has Five spouses!";

// The shared state of the family box.
struct TFamilyState {
  int current_family = 0;
  int current_subject = 0;  // whose report and descendants are shown
  int husband_id = 0, wife_id = 0;
  // The person behind each entry of the children list, in list order;
  // -1 for none.
  std::vector<int> child_ids;
  // Surname of the husband entered by Add or Sibling; given to the
  // children they make.
  std::string husband_surname;

  int ChildId(int index) const;
  void SetChildId(int index, int pid);
};

// A box name splits at its first blank: given name before, surname after;
// without a blank the given name is empty.
struct PersonName {
  std::string given, surname;
};
PersonName SplitName(const std::string& text);

// A children-list entry "child bp. date year": the child's name and the
// date part ("date year"). An entry without " bp. " is all name.
struct ListEntry {
  std::string name, date;
};
ListEntry SplitEntry(const std::string& entry);

// Spouse's refusal for a person of the other side's sex.
std::string WrongSideText(const std::string& name, Side side);

// The sex question of a new child.
std::string SexQuestion(const std::string& name);

class TFamilyBox {
public:
  TFamilyBox(korvex::TKORVEXTable& families, korvex::TKORVEXTable& individuals, TFamilyView& view);

  TFamilyRecords& Records() { return records_; }
  TFamilyState& State() { return state_; }
  const TFamilyState& State() const { return state_; }

  // Shows one family: the couple's names ("" and id 0 for a person not
  // there), their stepping arrows (enabled with a second own family, at
  // the place of this family among theirs), the children.
  void showfam(int fid);

  // How the last handler ended.
  enum class Outcome { kDone, kRefused, kNothing };
  Outcome LastOutcome() const { return outcome_; }

  // Add (BitBtn1): a new family of the box's couple and list entries, each
  // child's sex asked; reports stored men named like the husband.
  void AddClick();
  // F and M beside the husband or the wife: with nothing selected shows
  // the person's parents; with a name names the parent (a "(blank)" one in
  // place, else a new one in the person's parents' family, made when
  // missing); with record lines runs AddFatherFam.
  void ParentClick(Side side, Side parent);
  // The selected lines are the baptisms of the person and siblings: their
  // parents' family takes the parents from the lines, the person into the
  // slot of the entry of the same given name (else the first free one) and
  // new children for the other entries.
  void AddFatherFam(int pid);
  // Sibling: the husband or wife of a new family from the selected lines
  // becomes a child of the person's parents (made as "(blank)" when the
  // person has none).
  void SiblingClick(Side side);
  // Spouse: a further own family of the person, with the selected name or
  // the couple and children of the selected lines.
  void SpouseClick(Side side);
  // Add Child: a married child of the current family, with its own family
  // from the selected lines.
  void AddChildClick();
  // A click on a children-list entry ("Fill in family" alike): with nothing
  // selected shows the child's first own family, else makes the child's
  // family from the selected lines.
  void ChildClick();
  // The stepping arrows: next (up) to the person's previous own family,
  // previous (down) to the following one.
  void StepClick(Side side, bool next);

  // "Show Fams": opens the tables, nothing else.
  void ShowFamsClick();
  // "Clear Data": takes both tables exclusively, then empties them; when
  // either is held elsewhere the error is shown and nothing is emptied.
  void ClearDataClick();

private:
  // Runs a handler: tables opened, a refusal shown with nothing written,
  // pending records stored and the buffers flushed on every path.
  template <typename Work>
  void Run(Work&& work);
  // The person or family of that number, else a refusal with the message.
  IndividualRecord NeedPerson(int pid);
  FamilyRecord NeedFamily(int fid);
  int& SideId(Side side) { return side == Side::kHusband ? state_.husband_id : state_.wife_id; }
  // The list entries, refused beyond the child slots.
  std::vector<std::string> ChildEntries();
  // The sex of each entry's child, asked in the order given.
  std::vector<std::string> AskSexes(const std::vector<std::string>& entries, bool last_first = false);
  // New children of family fid from the entries: their numbers go into the
  // family's slots (entry i into slot i) and the child ids.
  void MakeChildren(int fid, FamilyRecord& family, const std::vector<std::string>& entries,
                    const std::vector<std::string>& sexes, const std::string& surname);
  // A new person of that name and sex whose first own family is fid.
  int NewSpouse(const PersonName& name, const char* sex, int fid, int famc = 0);
  void ReportNamesakes(const std::string& husband_text);

  TFamilyView& view_;
  TFamilyRecords records_;
  TFamilyState state_;
  Outcome outcome_ = Outcome::kNothing;
};

}  // namespace family
