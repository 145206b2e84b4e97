// The family box's report commands over the two tables: "Show family",
// "Henry list" and "Create GEDCOM". Each opens the tables when closed and
// stores a pending record first; they only read the tables.
//
// The hidden memos: "Show family" appends its report to GedEdit (emptied
// first when it holds GEDCOM lines, which are never mixed with reports),
// "Create GEDCOM" replaces GedEdit's lines, "Henry list" replaces the lines
// of its scratch memo. The window then puts the memo's lines on the page.
#pragma once

#include <string>
#include <vector>

#include "family/family_box.h"
#include "family/family_reader.h"

namespace memo {
class TVellMemo;
}

namespace family {

// Reads through the box's record access: getinv/getfam, whose messages the
// user sees, or the quiet reads.
class TTableFamilyReader : public FamilyReader {
public:
  explicit TTableFamilyReader(TFamilyRecords& records) : records_(records) {}
  std::optional<PersonView> Person(int pid, bool quiet = false) override;
  std::optional<FamilyView> Family(int fid, bool quiet = false) override;

private:
  TFamilyRecords& records_;
};

// Both tables whole, in number order, husbands resolved.
FamilyTables ReadFamilyTables(TFamilyRecords& records);

// A memo's paragraphs (none for an empty memo), and its whole text
// replaced by lines, one paragraph each.
std::vector<std::string> MemoLines(memo::TVellMemo& m);
void SetMemoLines(memo::TVellMemo& m, const std::vector<std::string>& lines);

class TFamilyReports {
public:
  TFamilyReports(TFamilyBox& box, TFamilyView& view) : box_(box), view_(view) {}

  // "Show family" on the current subject: the report goes to ged_edit, the
  // children to the box's list (after its entries), the first spouse to
  // the wife's box. True when the page is to show ged_edit's lines; false
  // (nothing changed) without a subject or with one not in its table.
  bool ShowFamily(memo::TVellMemo& ged_edit);
  // "Henry list" on the current subject into list_memo; true when the page
  // is to show it, false (nothing changed) as above.
  bool HenryList(memo::TVellMemo& list_memo);
  // "Create GEDCOM": ged_edit's lines become the tables' GEDCOM lines,
  // submitted by user.
  void CreateGedcom(memo::TVellMemo& ged_edit, const std::string& user);

private:
  TFamilyBox& box_;
  TFamilyView& view_;
};

}  // namespace family
