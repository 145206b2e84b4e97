// "Show family": a report on one subject with parents, grandparents,
// spouses, children, the children's spouses and the grandchildren.
//
// Lines:
//   "[ Subject (<Pid>) ]"
//   given + " " + surname
//   ""
//   "  FATHER: " + names            parents from the subject's Famc family,
//   "    G'FATHER: " + names        each with their own parents
//   "    G'MOTHER: " + names
//   "  MOTHER: " + names  (and her G'FATHER, G'MOTHER)
//   per spouse family of the subject (Fams1 on, up to the first 0):
//     ""
//     "SPOUSE: " + names + " "     ("SPOUSE 1: ", "SPOUSE 2: " ... when the
//                                    subject has several spouse families)
//     the children of that family; for the first spouse before, for later
//     ones after the spouse's earlier marriages:
//     per earlier marriage of the spouse (only when the spouse has a second
//     spouse family; the spouse's families before the one shared):
//       ""
//       "   prior: " + husband's names + " m. " + wife's names
//       the children of that marriage, each line after "   "
//       ""
// Children of a family, per child:
//   prefix + word + names          word " SON ", " DAUGHTER ", " CHILD " by
//                                  the child's Sex (M, U, else daughter),
//                                  under a spouse with several spouse
//                                  families after "(n)", n the shared
//                                  family's place among them
//   a married child gives one line per spouse family instead, the first
//   with the word, later ones with " ** ", each followed by " & " + the
//   partner's names, and then one line per child of that family:
//   prefix + "   GRANDSON " / "   GRANDDAUGHTER " / "   GRANDCHILD " +
//   names [+ " & " + the partner's names in its first spouse family].
// Names are given name, a blank and surname as stored. An absent (0) or
// unknown person leaves their line or partner text out; the reader tells
// the user about a number not in its table, once a report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "family/family_reader.h"

namespace family {

struct RelationshipReport {
  std::vector<std::string> lines;
  // Every child listed (not the grandchildren), for the family box's
  // children list: given name + " " + " bp. " + baptism date, and its Pid.
  std::vector<std::string> list_entries;
  std::vector<int> child_ids;
  // The first spouse, for the family box's box and id of the spouse's side;
  // set when the subject has a spouse family (empty and 0 when it has no
  // partner).
  bool has_first_spouse = false;
  std::string first_spouse_text;
  int first_spouse_id = 0;
  // The first spouse is the husband (the subject is not a man): the box
  // then takes the spouse on the husband's side and the subject on the
  // wife's.
  bool first_spouse_is_husband = false;
  std::string subject_text;
};

// The report on subject; nothing for 0 or a subject not in its table.
std::optional<RelationshipReport> ReportOn(FamilyReader& reader, int subject);

}  // namespace family
