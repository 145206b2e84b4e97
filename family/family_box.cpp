#include "family/family_box.h"

#include <algorithm>

#include "platform/runtime/exceptions.h"
#include "tables/components/korvex_table.h"

namespace family {

int TFamilyState::ChildId(int index) const {
  return index >= 0 && index < static_cast<int>(child_ids.size()) ? child_ids[index] : -1;
}

void TFamilyState::SetChildId(int index, int pid) {
  if (index < 0) return;
  if (index >= static_cast<int>(child_ids.size())) child_ids.resize(index + 1, -1);
  child_ids[index] = pid;
}

PersonName SplitName(const std::string& text) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string::npos) return {"", text};
  return {text.substr(0, blank), text.substr(blank + 1)};
}

ListEntry SplitEntry(const std::string& entry) {
  const std::size_t p = entry.find(" bp. ");
  if (p == std::string::npos) return {entry, ""};
  return {entry.substr(0, p), entry.substr(p + 5)};
}

std::string SexQuestion(const std::string& name) { return "Is '" + name + "' male or female?"; }

TFamilyBox::TFamilyBox(korvex::TKORVEXTable& families, korvex::TKORVEXTable& individuals, TFamilyView& view)
    : view_(view), records_(families, individuals, [&view](const std::string& text) { view.ShowMessage(text); }) {}

void TFamilyBox::showfam(int fid) {
  if (records_.getfam(fid) != 1) return;
  const FamilyRecord family = records_.FamilyBuffer();
  state_.current_family = fid;
  state_.current_subject = family.husband;
  auto show_person = [&](Side side, int pid, int& id) {
    const bool found = records_.getinv(pid) == 1;
    const IndividualRecord& p = records_.IndividualBuffer();
    view_.SetBoxText(side, found ? p.fname + " " + p.lname : std::string());
    id = found ? pid : 0;
    const bool several = found && p.fams[1] != 0;
    view_.SetStepEnabled(side, several);
    int place = 0;
    if (several)
      for (int i = 0; i < kSpouseSlots; ++i)
        if (p.fams[i] == fid) place = i;
    view_.SetStepPosition(side, place);
  };
  show_person(Side::kHusband, family.husband, state_.husband_id);
  show_person(Side::kWife, family.wife, state_.wife_id);
  view_.ClearEntries();
  for (int i = 0; i < kChildSlots && family.children[i] != 0; ++i) {
    const int pid = family.children[i];
    const bool found = records_.getinv(pid) == 1;
    const IndividualRecord& p = records_.IndividualBuffer();
    view_.AddEntry(found ? p.fname + " bp. " + p.bapdate : std::string());
    state_.SetChildId(i, found ? pid : 0);
  }
}

}  // namespace family
