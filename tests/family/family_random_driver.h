// Random handler calls on the family box, for the randomized, two-process
// and kill tests: cp1252 names, 0-16 list entries, record lines, names or
// no selection, sex answers with cancel, box ids and families naming no
// record. The driver also says what each call should add to the tables.
#pragma once

#include <random>
#include <string>
#include <vector>

#include "tests/family/family_test_support.h"

namespace family::testing {

// Both tables walked in number order through the datasets.
inline ParsedTables Snapshot(korvex::TKORVEXTable& fams, korvex::TKORVEXTable& inds) {
  ParsedTables t;
  for (fams.First(); !fams.Eof(); fams.Next()) {
    FamilyRecord f;
    f.husband = fams.FieldByName("Husband")->AsInteger();
    f.wife = fams.FieldByName("Wife")->AsInteger();
    for (int i = 0; i < kChildSlots; ++i) f.children[i] = fams.FieldByName(ChildField(i))->AsInteger();
    t.families[fams.FieldByName("Fid")->AsInteger()] = f;
  }
  for (inds.First(); !inds.Eof(); inds.Next()) {
    IndividualRecord p;
    p.fname = inds.FieldByName("Fname")->AsString();
    p.lname = inds.FieldByName("Lname")->AsString();
    p.sex = inds.FieldByName("Sex")->AsString();
    p.bapdate = inds.FieldByName("Bapdate")->AsString();
    p.famc = static_cast<int>(inds.FieldByName("Famc")->AsFloat());
    for (int i = 0; i < kSpouseSlots; ++i) p.fams[i] = static_cast<int>(inds.FieldByName(FamsField(i))->AsFloat());
    t.individuals[inds.FieldByName("Pid")->AsInteger()] = p;
  }
  return t;
}

class RandomDriver {
public:
  RandomDriver(FamilyEnv& env, std::uint32_t seed) : env_(env), rng_(seed) {}

  struct Call {
    std::string name;
    // What the call adds when it is carried out (not refused): families,
    // persons; -1 when the driver does not foretell it.
    int families = 0, persons = 0;
  };

  // Sets up the box, page and answers at random and runs one handler.
  Call Step(const ParsedTables& before) {
    TestView& v = env_.view;
    TFamilyBox& box = env_.box;
    v.messages.clear();
    v.questions.clear();
    v.answers.clear();
    for (int i = 0; i < 20; ++i) v.answers.push_back(Pick({kAnswerMale, kAnswerFemale, kAnswerMale, kAnswerCancel}));
    const int persons = static_cast<int>(before.individuals.size()), families = static_cast<int>(before.families.size());
    TFamilyState& s = box.State();
    if (Chance(4)) s.husband_id = Number(persons);
    if (Chance(4)) s.wife_id = Number(persons);
    if (Chance(4)) s.current_family = Number(families);
    if (Chance(3)) {
      v.husband = Name();
      v.wife = Name();
      v.entries.clear();
      const int n = Chance(10) ? 16 : Between(0, 4);
      for (int i = 0; i < n; ++i) v.entries.push_back(Given() + " bp. " + Date());
      s.child_ids.clear();
      for (int i = 0; i < n; ++i) s.SetChildId(i, Chance(2) ? Number(persons) : -1);
    }
    v.entry_index = Between(-1, static_cast<int>(v.entries.size()));
    // The selection: nothing, a name, or record lines.
    v.page.clear();
    const int lines = Chance(12) ? 16 : Between(1, 4);
    const std::string couple = Name() + ", " + Name();
    std::vector<std::string> line_children;
    for (int i = 0; i < lines; ++i) {
      line_children.push_back(Given());
      v.page.push_back(std::to_string(Between(1600, 1799)) + " " + Date0() + "; " + couple + "; " + line_children.back() +
                       "; " + Name());
    }
    switch (Between(0, 2)) {
      case 0: v.SelectNothing(); break;
      case 1: v.SelectText(Name()); break;
      default: v.SelectLines(0, lines - 1); break;
    }
    // The entries a handler reading the selected lines will use.
    const bool selected_lines = !v.selection.empty() && v.covered.last >= 0;
    const int line_entries = selected_lines ? lines : 0;
    const int box_entries = static_cast<int>(v.entries.size());
    auto person = [&](int pid) -> const IndividualRecord* {
      auto it = before.individuals.find(pid);
      return it == before.individuals.end() ? nullptr : &it->second;
    };
    auto family = [&](int fid) -> const FamilyRecord* {
      auto it = before.families.find(fid);
      return it == before.families.end() ? nullptr : &it->second;
    };
    const bool any = !v.selection.empty();
    Call c;
    switch (Between(0, 10)) {
      case 0:
      case 1:
        c = {"Add", 1, 2 + box_entries};
        box.AddClick();
        break;
      case 2:
      case 3: {
        const Side side = Pick({Side::kHusband, Side::kWife}), parent = Pick({Side::kHusband, Side::kWife});
        c = {"Parent", 0, 0};
        const IndividualRecord* p = person(side == Side::kHusband ? s.husband_id : s.wife_id);
        if (p && any) {
          const FamilyRecord* f = family(p->famc);
          const int known = f ? (parent == Side::kHusband ? f->husband : f->wife) : 0;
          if (selected_lines) {
            const int matched = std::count(line_children.begin(), line_children.end(), p->fname) > 0 ? 1 : 0;
            c = {"Parent+lines", p->famc == 0 ? 1 : 0,
                 (f && f->husband ? 0 : 1) + (f && f->wife ? 0 : 1) + lines - matched};
          } else if (known == 0) {
            c = {"Parent+name", p->famc == 0 ? 1 : 0, 1};
          } else {
            c.name = "Parent+placeholder";
          }
        }
        box.ParentClick(side, parent);
        break;
      }
      case 4: {
        const Side side = Pick({Side::kHusband, Side::kWife});
        const IndividualRecord* p = person(side == Side::kHusband ? s.husband_id : s.wife_id);
        const bool parents = p && p->famc != 0;
        c = {"Sibling", any ? 1 + (parents ? 0 : 1) : 0, any ? 2 + line_entries + (parents ? 0 : 2) : 0};
        box.SiblingClick(side);
        break;
      }
      case 5: {
        const Side side = Pick({Side::kHusband, Side::kWife});
        const bool reads_lines = any && (std::isdigit(static_cast<unsigned char>(v.selection[0])) || v.selection[0] == '?');
        c = {"Spouse", any ? 1 : 0, any ? 1 + (reads_lines ? line_entries : 0) : 0};
        box.SpouseClick(side);
        break;
      }
      case 6:
        c = {"AddChild", 1, 2 + line_entries};
        box.AddChildClick();
        break;
      case 7: {
        const int pid = s.ChildId(v.entry_index);
        const bool acts = v.entry_index >= 0 && pid > 0 && any;
        c = {"ChildClick", acts ? 1 : 0, acts ? 1 + line_entries : 0};
        box.ChildClick();
        break;
      }
      case 8:
        c = {"Step", 0, 0};
        box.StepClick(Pick({Side::kHusband, Side::kWife}), Chance(2));
        break;
      case 9:
        c = {"showfam", 0, 0};
        box.showfam(Number(families));
        break;
      default:
        c = {"ShowFams", 0, 0};
        box.ShowFamsClick();
        break;
    }
    return c;
  }

  int Between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int one_in) { return Between(1, one_in) == 1; }

private:
  template <typename T>
  T Pick(std::initializer_list<T> items) {
    return items.begin()[Between(0, static_cast<int>(items.size()) - 1)];
  }
  // A number of a record, sometimes 0 or one past the last (nobody).
  int Number(int count) { return Between(0, count + 2); }
  std::string Given() {
    return Pick<std::string>({"Jan", "Pieter", "Anna", "Grietje", "Jos\xe9", "Ren\xe9" "e", "\xc6lfri\xf0", "Fran\xe7ois",
                              "Zo\xeb", "Maximiliaan-Frederik-Hendrikus-Jozef"});
  }
  std::string Name() {
    return Given() + " " + Pick<std::string>({"Smit", "Bos", "M\xfcller", "\xd8stergaard", "Vos", "de Wit"});
  }
  std::string Date0() { return std::to_string(Between(1, 28)) + " " + Pick<std::string>({"Jan", "Mar", "Jul", "Oct"}); }
  std::string Date() { return Date0() + " " + std::to_string(Between(1600, 1799)); }

  FamilyEnv& env_;
  std::mt19937 rng_;
};

}  // namespace family::testing
