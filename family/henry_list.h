// "Henry list": every descendant of a subject in a modified Henry
// numbering.
//
// Numbers: the subject has none; a child's number is its parent's number
// followed by the child's digit, the children of one person counted across
// all of that person's spouse families: 1-9, then A-Z (children 10-35).
// Shown with a '.' after every three characters ("1234567" -> "123.456.7").
//
// The walk is breadth first: a work list of (person, number) items, taken
// from the front; a child joins its end when one of its spouse families
// (Fams1 on, up to the first 0) has a first child. Page lines:
//   " "
//   "Modified Henry list for " + given + " " + surname
//   " "
//   per work item:
//     " "
//     dotted number + "  " + person text
//     per child: "    " + dotted child number + "  " [+ "(" + j + ")  " when
//                the person has several spouse families, j the family's
//                place among them] + child text
// Person text: given name + " " + SURNAME in capitals [+ " bp. " + baptism
// date when there is one], then " m. " + the partner's text for every spouse
// family with a partner (the wife of a man, else the husband). A child's
// text has no surname; partners keep theirs.
//
// Faults in the tables never stop the walk early or make it run for ever:
//   - absent or unknown persons and families are left out (the reader tells
//     the user about a number not in its table, once a run); an unknown
//     child is not counted, nor is a spouse slot naming no family;
//   - a child who already stands on the line from the subject down to its
//     parent (a mistaken link making someone their own descendant) is listed
//     but not walked again; the line after it says so;
//   - a 36th child of one person ends the list with a line saying so.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "family/family_reader.h"

namespace family {

inline constexpr char kChildDigits[] = "123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
inline constexpr int kMaxChildDigits = 35;

// The number with a '.' after every three characters.
std::string DottedNumber(const std::string& number);

// One run of the list: the work list and the line being built live here.
class HenryList {
public:
  explicit HenryList(FamilyReader& reader) : source_(reader) {}
  // The page for subject; nothing for subject 0 or a subject not in its
  // table (the page stays as it was).
  std::optional<std::vector<std::string>> Run(int subject);

private:
  struct WorkItem {
    int pid;
    std::string number;
    int parent;  // index of the item whose child this is; -1 for the subject
  };
  bool Descend(size_t item);
  void AppendName(const PersonView& p, bool surname);
  void AppendPersonLine(const PersonView& p, bool surname);
  bool HasChildren(const PersonView& p);
  // The item on the line down to item that is pid, or -1.
  int OnLine(size_t item, int pid) const;

  FamilyReader& source_;
  FamilyReader* reader_ = nullptr;  // the source through a cache, during a run
  std::vector<WorkItem> work_;  // items before the head are done
  std::unordered_set<int> queued_;  // persons with a work item
  std::string line_;
  std::vector<std::string> page_;
};

}  // namespace family
