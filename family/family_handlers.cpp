// The family box's handlers. Each one reads and checks everything first,
// asks its questions, and only then writes; see family_box.h.
#include <algorithm>
#include <cctype>

#include "family/family_box.h"
#include "family/family_reader.h"
#include "platform/runtime/exceptions.h"
#include "tables/components/korvex_table.h"

namespace family {

namespace {

// A handler stops before writing anything; the text (if any) is shown.
struct Refusal {
  std::string text;
};

[[noreturn]] void Refuse(std::string text = {}) { throw Refusal{std::move(text)}; }

template <std::size_t N>
int FirstFree(const std::array<int, N>& slots) {
  for (std::size_t i = 0; i < N; ++i)
    if (slots[i] == 0) return static_cast<int>(i);
  return -1;
}

template <std::size_t N>
bool Holds(const std::array<int, N>& slots, int value) {
  return std::find(slots.begin(), slots.end(), value) != slots.end();
}

int& Role(FamilyRecord& family, Side side) { return side == Side::kHusband ? family.husband : family.wife; }

Side Other(Side side) { return side == Side::kHusband ? Side::kWife : Side::kHusband; }

std::string FullName(const IndividualRecord& p) { return p.fname + " " + p.lname; }

}  // namespace

std::string WrongSideText(const std::string& name, Side side) {
  return side == Side::kWife ? "\"" + name + "\" is a man: he cannot be the wife of a new family. Nothing was stored."
                             : "\"" + name + "\" is a woman: she cannot be the husband of a new family. Nothing was stored.";
}

namespace {

// The person takes the family as an own family unless listed already;
// false when all five places are taken.
bool JoinAsSpouse(IndividualRecord& person, int fid) {
  if (Holds(person.fams, fid)) return true;
  const int slot = FirstFree(person.fams);
  if (slot < 0) return false;
  person.fams[slot] = fid;
  return true;
}

}  // namespace

template <typename Work>
void TFamilyBox::Run(Work&& work) {
  records_.OpenTables();
  outcome_ = Outcome::kDone;
  records_.TakeWritten();
  // What a handler wrote goes to disk before it returns, on every path;
  // one that wrote nothing has nothing to flush.
  auto flush = [this] {
    if (records_.TakeWritten()) records_.FlushBuffers();
  };
  try {
    work();
    records_.PostPending();
  } catch (const Refusal& refusal) {
    records_.CancelPending();
    flush();
    outcome_ = Outcome::kRefused;
    if (!refusal.text.empty()) view_.ShowMessage(refusal.text);
    return;
  } catch (...) {
    records_.CancelPending();
    flush();
    throw;
  }
  flush();
}

IndividualRecord TFamilyBox::NeedPerson(int pid) {
  if (records_.getinv(pid) != 1) Refuse(pid == 0 ? kNoPersonText + std::string("0") : std::string());
  return records_.IndividualBuffer();
}

FamilyRecord TFamilyBox::NeedFamily(int fid) {
  if (records_.getfam(fid) != 1) Refuse(fid == 0 ? kNoFamilyText + std::string("0") : std::string());
  return records_.FamilyBuffer();
}

std::vector<std::string> TFamilyBox::ChildEntries() {
  std::vector<std::string> entries = view_.Entries();
  if (entries.size() > static_cast<std::size_t>(kChildSlots)) Refuse(kTooManyChildrenText);
  return entries;
}

std::vector<std::string> TFamilyBox::AskSexes(const std::vector<std::string>& entries, bool last_first) {
  std::vector<std::string> sexes(entries.size());
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const std::size_t i = last_first ? entries.size() - 1 - k : k;
    sexes[i] = view_.AskSex(SexQuestion(SplitEntry(entries[i]).name)) == kAnswerFemale ? "F" : "M";
  }
  return sexes;
}

void TFamilyBox::MakeChildren(int fid, FamilyRecord& family, const std::vector<std::string>& entries,
                              const std::vector<std::string>& sexes, const std::string& surname) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ListEntry entry = SplitEntry(entries[i]);
    IndividualRecord child;
    child.fname = entry.name;
    child.lname = surname;
    child.sex = sexes[i];
    child.bapdate = entry.date;
    child.famc = fid;
    const int pid = records_.AppendIndividual(child);
    family.children[i] = pid;
    state_.SetChildId(static_cast<int>(i), pid);
  }
}

int TFamilyBox::NewSpouse(const PersonName& name, const char* sex, int fid, int famc) {
  IndividualRecord p;
  p.fname = name.given;
  p.lname = name.surname;
  p.sex = sex;
  p.famc = famc;
  p.fams[0] = fid;
  return records_.AppendIndividual(p);
}

void TFamilyBox::ReportNamesakes(const std::string& husband_text) {
  for (int n = records_.CountMenNamed(husband_text); n > 0; --n) view_.ShowMessage(husband_text + " found");
}

// ---- Add, F, M ----

void TFamilyBox::AddClick() {
  Run([&] {
    const std::vector<std::string> entries = ChildEntries();
    const std::string husband_text = view_.BoxText(Side::kHusband);
    ReportNamesakes(husband_text);
    state_.child_ids.clear();
    const std::vector<std::string> sexes = AskSexes(entries);
    const PersonName husband = SplitName(husband_text), wife = SplitName(view_.BoxText(Side::kWife));
    state_.husband_surname = husband.surname;
    FamilyRecord family;
    const int fid = records_.AppendFamily(family);
    state_.current_family = fid;
    family.husband = state_.husband_id = NewSpouse(husband, "M", fid);
    family.wife = state_.wife_id = NewSpouse(wife, "F", fid);
    MakeChildren(fid, family, entries, sexes, husband.surname);
    records_.WriteFamily(fid, family);
    view_.EnableSideButtons();
  });
}

void TFamilyBox::ParentClick(Side side, Side parent) {
  Run([&] {
    const int pid = SideId(side);
    IndividualRecord person = NeedPerson(pid);
    if (view_.SelectionLength() <= 0) {
      if (person.famc != 0) showfam(person.famc);
      return;
    }
    // A named parent refuses; a "(blank)" one is named in place.
    int placeholder = 0;
    if (person.famc != 0) {
      FamilyRecord parents = NeedFamily(person.famc);
      const int known = Role(parents, parent);
      if (known != 0) {
        if (NeedPerson(known).fname != kBlankName)
          Refuse(parent == Side::kHusband ? "Already has father!" : "Already has mother!");
        placeholder = known;
      }
    }
    const std::string selected = view_.SelectedText();
    if (selected.find(';') != std::string::npos) {
      AddFatherFam(pid);
      return;
    }
    const PersonName name = SplitName(selected);
    const char* sex = parent == Side::kHusband ? "M" : "F";
    if (placeholder != 0) {
      IndividualRecord q = NeedPerson(placeholder);
      q.fname = name.given;
      q.lname = name.surname;
      q.sex = sex;
      records_.WriteIndividual(placeholder, q);
      return;
    }
    if (person.famc != 0) {  // the parents' family lacks this parent
      FamilyRecord parents = NeedFamily(person.famc);
      Role(parents, parent) = NewSpouse(name, sex, person.famc);
      records_.WriteFamily(person.famc, parents);
      state_.current_family = person.famc;
      return;
    }
    FamilyRecord parents;
    const int fid = records_.AppendFamily(parents);
    Role(parents, parent) = NewSpouse(name, sex, fid);
    parents.children[0] = pid;
    records_.WriteFamily(fid, parents);
    person.famc = fid;
    records_.WriteIndividual(pid, person);
    state_.current_family = fid;
  });
}

void TFamilyBox::AddFatherFam(int pid) {
  view_.ShowChildren();
  const std::vector<std::string> entries = ChildEntries();
  const PersonName father_name = SplitName(view_.BoxText(Side::kHusband));
  const PersonName mother_name = SplitName(view_.BoxText(Side::kWife));
  IndividualRecord person = NeedPerson(pid);
  int fid = person.famc;
  FamilyRecord family;
  IndividualRecord father, mother;
  if (fid != 0) {
    family = NeedFamily(fid);
    if (family.husband != 0) father = NeedPerson(family.husband);
    if (family.wife != 0) mother = NeedPerson(family.wife);
    for (IndividualRecord* p : {&father, &mother})
      if (IndividualRecord copy = *p; !JoinAsSpouse(copy, fid)) Refuse(FullName(*p) + kFiveSpousesText);
  }
  // The entry naming the person (the first one), and room for everyone.
  int match = -1;
  for (std::size_t i = 0; i < entries.size() && match < 0; ++i)
    if (SplitEntry(entries[i]).name == person.fname) match = static_cast<int>(i);
  const bool placed = Holds(family.children, pid);
  const int free_slots = static_cast<int>(std::count(family.children.begin(), family.children.end(), 0));
  const int needed = static_cast<int>(entries.size()) - (match >= 0 ? 1 : 0) + (placed ? 0 : 1);
  if (needed > free_slots) Refuse(kTooManyChildrenText);
  std::vector<std::string> others = entries;
  if (match >= 0) others[match].clear();
  std::vector<std::string> sexes(entries.size());
  for (int i = static_cast<int>(entries.size()) - 1; i >= 0; --i)
    if (i != match)
      sexes[i] = view_.AskSex(SexQuestion(SplitEntry(entries[i]).name)) == kAnswerFemale ? "F" : "M";

  if (fid == 0) {
    fid = records_.AppendFamily(family);
    person.famc = fid;
  }
  auto parent = [&](int& id, IndividualRecord& p, const PersonName& name, const char* sex) {
    p.fname = name.given;
    p.lname = name.surname;
    p.sex = sex;
    JoinAsSpouse(p, fid);
    if (id == 0) id = records_.AppendIndividual(p);
    else records_.WriteIndividual(id, p);
  };
  parent(family.husband, father, father_name, "M");
  parent(family.wife, mother, mother_name, "F");
  auto place = [&](int i, int id) {
    const int slot = family.children[i] == 0 ? i : FirstFree(family.children);
    family.children[slot] = id;
    state_.SetChildId(i, id);
  };
  for (int i = static_cast<int>(entries.size()) - 1; i >= 0; --i) {
    const ListEntry entry = SplitEntry(entries[i]);
    if (i == match) {
      person.bapdate = entry.date;
      if (!Holds(family.children, pid)) place(i, pid);
      else state_.SetChildId(i, pid);
      continue;
    }
    IndividualRecord child;
    child.fname = entry.name;
    child.lname = father_name.surname;
    child.sex = sexes[i];
    child.bapdate = entry.date;
    child.famc = fid;
    place(i, records_.AppendIndividual(child));
  }
  if (!Holds(family.children, pid)) family.children[FirstFree(family.children)] = pid;
  records_.WriteFamily(fid, family);
  records_.WriteIndividual(pid, person);
}

// ---- Sibling, Spouse, Add Child, child click, stepping ----

void TFamilyBox::SiblingClick(Side side) {
  Run([&] {
    if (view_.SelectionLength() == 0) return;
    const int pid = SideId(side);
    view_.ShowChildren();
    const PersonName husband = SplitName(view_.BoxText(Side::kHusband));
    const PersonName wife = SplitName(view_.BoxText(Side::kWife));
    state_.husband_surname = husband.surname;
    IndividualRecord person = NeedPerson(pid);
    const std::vector<std::string> entries = ChildEntries();
    int parents_id = person.famc;
    FamilyRecord parents;
    if (parents_id != 0) {
      parents = NeedFamily(parents_id);
      if (FirstFree(parents.children) < 0) Refuse(kTooManyChildrenText);
    }
    const int answer = view_.AskSex("New sibling: male or female");
    if (answer == kAnswerCancel) Refuse();
    const bool brother = answer != kAnswerFemale;
    const std::vector<std::string> sexes = AskSexes(entries);

    if (parents_id == 0) {
      parents_id = records_.AppendFamily(parents);
      person.famc = parents_id;
      records_.WriteIndividual(pid, person);
      parents.husband = NewSpouse({kBlankName, state_.husband_surname}, "M", parents_id);
      parents.wife = NewSpouse({kBlankName, kBlankName}, "F", parents_id);
      parents.children[0] = pid;
    }
    FamilyRecord family;
    const int fid = records_.AppendFamily(family);
    state_.current_family = fid;
    family.husband = state_.husband_id = NewSpouse(husband, "M", fid, brother ? parents_id : 0);
    family.wife = state_.wife_id = NewSpouse(wife, "F", fid, brother ? 0 : parents_id);
    MakeChildren(fid, family, entries, sexes, husband.surname);
    records_.WriteFamily(fid, family);
    parents.children[FirstFree(parents.children)] = brother ? family.husband : family.wife;
    records_.WriteFamily(parents_id, parents);
  });
}

void TFamilyBox::SpouseClick(Side side) {
  Run([&] {
    if (view_.SelectionLength() == 0) return;
    const int pid = SideId(side);
    IndividualRecord person = NeedPerson(pid);
    // A man is never stored as a wife, nor a woman as a husband.
    const SexClass sex = ClassOfSex(person.sex);
    if (sex == (side == Side::kWife ? SexClass::kMale : SexClass::kFemale))
      Refuse(WrongSideText(FullName(person), side));
    const int k = FirstFree(person.fams);
    if (k < 0) Refuse(FullName(person) + kFiveSpousesText);
    const std::string selected = view_.SelectedText();
    const Side other = Other(side);
    const bool lines = !selected.empty() && (std::isdigit(static_cast<unsigned char>(selected[0])) || selected[0] == '?');
    if (lines) {
      view_.ShowChildren();
    } else {
      view_.SetBoxText(other, selected);
      view_.ClearEntries();
    }
    const PersonName spouse = SplitName(view_.BoxText(other)), own = SplitName(view_.BoxText(side));
    const std::vector<std::string> entries = ChildEntries();
    const std::vector<std::string> sexes = AskSexes(entries);
    FamilyRecord family;
    const int fid = records_.AppendFamily(family);
    person.fams[k] = fid;
    records_.WriteIndividual(pid, person);
    Role(family, other) = NewSpouse(spouse, side == Side::kWife ? "M" : "F", fid);
    Role(family, side) = pid;
    MakeChildren(fid, family, entries, sexes, side == Side::kWife ? spouse.surname : own.surname);
    records_.WriteFamily(fid, family);
  });
}

void TFamilyBox::AddChildClick() {
  Run([&] {
    const int current = state_.current_family;
    view_.ShowChildren();
    FamilyRecord parents = NeedFamily(current);
    const int slot = FirstFree(parents.children);
    if (slot < 0) Refuse(kTooManyChildrenText);
    const int answer = view_.AskSex("Adding Husband or Wife?");
    if (answer == kAnswerCancel) Refuse();
    const bool husband_is_child = answer != kAnswerFemale;
    const std::vector<std::string> entries = ChildEntries();
    const PersonName husband = SplitName(view_.BoxText(Side::kHusband));
    const PersonName wife = SplitName(view_.BoxText(Side::kWife));
    const std::vector<std::string> sexes = AskSexes(entries);
    FamilyRecord family;
    const int fid = records_.AppendFamily(family);
    family.husband = NewSpouse(husband, "M", fid, husband_is_child ? current : 0);
    family.wife = NewSpouse(wife, "F", fid, husband_is_child ? 0 : current);
    MakeChildren(fid, family, entries, sexes, husband.surname);
    records_.WriteFamily(fid, family);
    parents.children[slot] = husband_is_child ? family.husband : family.wife;
    records_.WriteFamily(current, parents);
    showfam(current);
  });
}

void TFamilyBox::ChildClick() {
  Run([&] {
    const int index = view_.EntryIndex();
    const int pid = state_.ChildId(index);
    if (index < 0 || pid <= 0) return;
    if (view_.SelectionLength() == 0) {
      const IndividualRecord child = NeedPerson(pid);
      if (child.fams[0] != 0) showfam(child.fams[0]);
      return;
    }
    view_.ShowChildren();
    IndividualRecord child = NeedPerson(pid);
    const int slot = FirstFree(child.fams);
    if (slot < 0) Refuse(FullName(child) + kFiveSpousesText);
    const std::vector<std::string> entries = ChildEntries();
    const bool male = child.sex == "M";
    const Side own_side = male ? Side::kHusband : Side::kWife;
    const std::string own_text = view_.BoxText(own_side);
    const PersonName spouse = SplitName(view_.BoxText(Other(own_side)));
    const std::string surname = SplitName(view_.BoxText(Side::kHusband)).surname;
    const std::vector<std::string> sexes = AskSexes(entries);
    FamilyRecord family;
    const int fid = records_.AppendFamily(family);
    state_.current_family = fid;
    if (!own_text.empty()) {  // a box without names keeps the child's
      const PersonName own = SplitName(own_text);
      child.fname = own.given;
      child.lname = own.surname;
    }
    child.fams[slot] = fid;
    records_.WriteIndividual(pid, child);
    Role(family, own_side) = SideId(own_side) = pid;
    Role(family, Other(own_side)) = SideId(Other(own_side)) = NewSpouse(spouse, male ? "F" : "M", fid);
    MakeChildren(fid, family, entries, sexes, surname);
    records_.WriteFamily(fid, family);
  });
}

void TFamilyBox::StepClick(Side side, bool next) {
  Run([&] {
    const IndividualRecord person = NeedPerson(SideId(side));
    int position = view_.StepPosition(side);
    if (next) {
      if (position <= 0) return;
      --position;
    } else {
      if (position + 1 >= kSpouseSlots || person.fams[position + 1] == 0) return;
      ++position;
    }
    view_.SetStepPosition(side, position);
    if (person.fams[position] != 0) showfam(person.fams[position]);
  });
}

void TFamilyBox::ShowFamsClick() {
  Run([] {});
}

void TFamilyBox::ClearDataClick() {
  korvex::TKORVEXTable& fams = records_.Families();
  korvex::TKORVEXTable& inds = records_.Individuals();
  outcome_ = Outcome::kDone;
  records_.PostPending();
  fams.DisableControls();
  inds.DisableControls();
  fams.Close();
  inds.Close();
  fams.SetExclusive(true);
  inds.SetExclusive(true);
  try {
    records_.OpenTables();
  } catch (const rtl::Exception& e) {
    // Held elsewhere: back to shared use, nothing emptied.
    fams.Close();
    inds.Close();
    fams.SetExclusive(false);
    inds.SetExclusive(false);
    fams.EnableControls();
    inds.EnableControls();
    records_.OpenTables();
    outcome_ = Outcome::kRefused;
    view_.ShowMessage(e.Message());
    return;
  }
  try {
    fams.EmptyTable();
    inds.EmptyTable();
    records_.FlushBuffers();
  } catch (...) {
    fams.EnableControls();
    inds.EnableControls();
    throw;
  }
  fams.EnableControls();
  inds.EnableControls();
}

}  // namespace family
