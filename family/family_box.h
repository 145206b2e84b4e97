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

  // "Show Fams": opens the tables, nothing else.
  void ShowFamsClick();
  // "Clear Data": takes both tables exclusively, then empties them; when
  // either is held elsewhere the error is shown and nothing is emptied.
  void ClearDataClick();

private:
  TFamilyView& view_;
  TFamilyRecords records_;
  TFamilyState state_;
};

}  // namespace family
