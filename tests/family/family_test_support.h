// Shared pieces of the family box tests: a view that tests answer, a
// fixture with both tables in a scratch settings folder, and the tables as
// the checker's python reader sees them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "family/family_box.h"
#include "family/family_tables.h"
#include "family/show_children.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/components/korvex_table.h"
#include "tables/components/sessions.h"
#include "tables/lib/allocator.h"

namespace family::testing {

// The box, the page and the dialogs as plain data.
class TestView : public TFamilyView {
public:
  std::string husband, wife;
  std::vector<std::string> entries;
  int entry_index = -1;
  int step_position[2] = {0, 0};
  bool step_enabled[2] = {false, false};
  bool side_buttons = false;
  // The page and the paragraphs the selection covers; `selection` is the
  // selected text (a name, or the covered lines joined).
  std::vector<std::string> page;
  LineRange covered{0, -1};
  std::string selection;
  bool backwards = false;
  bool with_witnesses = false;
  std::vector<std::string> messages, questions;
  std::deque<int> answers;  // the sex dialog's answers; Male when none left

  // Selects whole page lines first..last (their text joined).
  void SelectLines(int first, int last) {
    covered = {first, last};
    selection.clear();
    for (int i = first; i <= last; ++i) selection += page[i] + (i < last ? "\r\n" : "");
  }
  void SelectText(const std::string& text) {
    covered = {0, -1};
    selection = text;
  }
  void SelectNothing() { SelectText(""); }

  std::string BoxText(Side side) const override { return side == Side::kHusband ? husband : wife; }
  void SetBoxText(Side side, const std::string& text) override { (side == Side::kHusband ? husband : wife) = text; }
  std::vector<std::string> Entries() const override { return entries; }
  void ClearEntries() override { entries.clear(); }
  void AddEntry(const std::string& text) override { entries.push_back(text); }
  int EntryIndex() const override { return entry_index; }
  int StepPosition(Side side) const override { return step_position[static_cast<int>(side)]; }
  void SetStepPosition(Side side, int position) override { step_position[static_cast<int>(side)] = position; }
  void SetStepEnabled(Side side, bool enabled) override { step_enabled[static_cast<int>(side)] = enabled; }
  void EnableSideButtons() override { side_buttons = true; }
  int SelectionLength() const override {
    const int n = static_cast<int>(selection.size());
    return backwards ? -n : n;
  }
  std::string SelectedText() const override { return selection; }
  void ShowChildren() override {
    ChildrenSummary s = family::ShowChildren(page, covered, with_witnesses);
    husband = s.husband_text;
    wife = s.wife_text;
    entries = s.list_entries;
    const int at = std::min<int>(s.insert_at, static_cast<int>(page.size()));
    page.insert(page.begin() + at, s.page_lines.begin(), s.page_lines.end());
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  int AskSex(const std::string& question) override {
    questions.push_back(question);
    if (answers.empty()) return kAnswerMale;
    const int a = answers.front();
    answers.pop_front();
    return a;
  }
};

// Both tables in a scratch settings folder, the box over them.
struct FamilyEnv {
  explicit FamilyEnv(const std::string& folder) : databases(folder), box(families, individuals, view) {
    DefineFamiliesTable(families);
    DefineIndividualsTable(individuals);
  }
  ~FamilyEnv() {
    families.Close();
    individuals.Close();
  }
  TFamilyDatabases databases;
  korvex::TKORVEXTable families, individuals;
  TestView view;
  TFamilyBox box;
};

// The checker's findings and rows of one table file ("fams" or "inds").
struct TableDump {
  std::vector<std::string> findings;  // "error: ..." / "warning: ..."
  std::vector<std::string> keys;      // "keys <slot> <count>"
  std::vector<std::string> rows;      // "id;value;value..."
};

inline std::string PythonReader(const std::string& command, const std::string& paths) {
  qvtest::CommandResult r =
      qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tests/family/family_tables.py' " + command + " " + paths + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.output;
  return r.output;
}

// The reader's output for several tables at once (one python run): table
// file path -> its dump.
inline std::map<std::string, TableDump> DumpTables(const std::vector<std::string>& paths) {
  std::string args;
  for (const std::string& p : paths) args += " '" + p + "'";
  std::map<std::string, TableDump> dumps;
  std::istringstream in(PythonReader("rows", args));
  TableDump* d = paths.size() == 1 ? &dumps[paths[0]] : nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("== ", 0) == 0) d = &dumps[line.substr(3)];
    else if (d == nullptr) ADD_FAILURE() << line;
    else if (line.rfind("error:", 0) == 0 || line.rfind("warning:", 0) == 0) d->findings.push_back(line);
    else if (line.rfind("keys ", 0) == 0) d->keys.push_back(line);
    else d->rows.push_back(line);
  }
  return dumps;
}

inline TableDump DumpTable(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name + ".DAT";
  return DumpTables({path})[path];
}

// Expected rows as the reader prints them.
inline std::string FamRow(int fid, int husband, int wife, const std::vector<int>& children = {}) {
  std::string row = std::to_string(fid) + ";" + std::to_string(husband) + ";" + std::to_string(wife);
  for (int i = 0; i < kChildSlots; ++i) row += ";" + std::to_string(i < static_cast<int>(children.size()) ? children[i] : 0);
  return row;
}
inline std::string IndRow(int pid, const std::string& given, const std::string& surname, const char* sex, int famc,
                          const std::vector<int>& fams = {}, const std::string& bapdate = "") {
  std::string row = std::to_string(pid) + ";" + given + ";" + surname + ";" + sex + ";" + std::to_string(famc);
  for (int i = 0; i < kSpouseSlots; ++i) row += ";" + std::to_string(i < static_cast<int>(fams.size()) ? fams[i] : 0);
  return row + ";;" + bapdate;
}

// The rows parsed back: number -> values.
struct ParsedTables {
  std::map<int, FamilyRecord> families;
  std::map<int, IndividualRecord> individuals;
};

inline std::vector<std::string> SplitRow(const std::string& row) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t p; (p = row.find(';', start)) != std::string::npos; start = p + 1) parts.push_back(row.substr(start, p - start));
  parts.push_back(row.substr(start));
  return parts;
}

inline ParsedTables Parse(const TableDump& fams, const TableDump& inds) {
  ParsedTables t;
  for (const std::string& row : fams.rows) {
    std::vector<std::string> v = SplitRow(row);
    FamilyRecord f;
    f.husband = std::stoi(v.at(1));
    f.wife = std::stoi(v.at(2));
    for (int i = 0; i < kChildSlots; ++i) f.children[i] = std::stoi(v.at(3 + i));
    t.families[std::stoi(v[0])] = f;
  }
  for (const std::string& row : inds.rows) {
    std::vector<std::string> v = SplitRow(row);
    IndividualRecord p;
    p.fname = v.at(1);
    p.lname = v.at(2);
    p.sex = v.at(3);
    p.famc = std::stoi(v.at(4));
    for (int i = 0; i < kSpouseSlots; ++i) p.fams[i] = std::stoi(v.at(5 + i));
    p.bapdate = v.at(11);
    t.individuals[std::stoi(v[0])] = p;
  }
  return t;
}

// What must hold of the tables after every handler: links resolve and
// point both ways, slots fill from the first, sexes are M or F. The
// faults found, one line each.
inline std::vector<std::string> LinkFaults(const ParsedTables& t) {
  std::vector<std::string> faults;
  auto fault = [&](const std::string& text) { faults.push_back(text); };
  auto packed = [](const auto& values) {
    bool hole = false;
    for (int v : values) {
      if (v == 0) hole = true;
      else if (hole) return false;
    }
    return true;
  };
  for (const auto& [fid, f] : t.families) {
    const std::string name = "family " + std::to_string(fid);
    if (!packed(f.children)) fault(name + ": a child after an empty slot");
    for (auto [pid, role] : {std::pair{f.husband, "husband"}, std::pair{f.wife, "wife"}}) {
      if (pid == 0) continue;
      auto p = t.individuals.find(pid);
      if (p == t.individuals.end()) fault(name + ": " + role + " " + std::to_string(pid) + " missing");
      else if (std::count(p->second.fams.begin(), p->second.fams.end(), fid) != 1)
        fault(name + ": " + role + " " + std::to_string(pid) + " does not list it once");
    }
    for (int c : f.children) {
      if (c == 0) continue;
      auto p = t.individuals.find(c);
      if (p == t.individuals.end()) fault(name + ": child " + std::to_string(c) + " missing");
      else if (p->second.famc != fid) fault(name + ": child " + std::to_string(c) + " has Famc " + std::to_string(p->second.famc));
      if (std::count(f.children.begin(), f.children.end(), c) != 1) fault(name + ": child " + std::to_string(c) + " twice");
    }
  }
  for (const auto& [pid, p] : t.individuals) {
    const std::string name = "person " + std::to_string(pid);
    if (p.sex != "M" && p.sex != "F") fault(name + ": sex '" + p.sex + "'");
    if (!packed(p.fams)) fault(name + ": an own family after an empty slot");
    if (p.famc != 0) {
      auto f = t.families.find(p.famc);
      if (f == t.families.end()) fault(name + ": Famc " + std::to_string(p.famc) + " missing");
      else if (std::count(f->second.children.begin(), f->second.children.end(), pid) != 1)
        fault(name + ": not a child of its Famc " + std::to_string(p.famc));
    }
    for (int fid : p.fams) {
      if (fid == 0) continue;
      auto f = t.families.find(fid);
      if (f == t.families.end()) fault(name + ": Fams " + std::to_string(fid) + " missing");
      else if (f->second.husband != pid && f->second.wife != pid)
        fault(name + ": neither husband nor wife of " + std::to_string(fid));
    }
  }
  return faults;
}

class FamilyTest : public ::testing::Test {
protected:
  void SetUp() override { env = std::make_unique<FamilyEnv>(dir.Path()); }
  void TearDown() override {
    env.reset();
    korvex::FinalizeSessions();
    EXPECT_EQ(korvex::GetTotalMemoryAllocated(), 0) << "bytes of the counted allocator left behind";
  }
  // Closes the tables (writing everything) and reads both back.
  std::pair<TableDump, TableDump> Tables() {
    env->families.Close();
    env->individuals.Close();
    return {DumpTable(dir.Path(), "fams"), DumpTable(dir.Path(), "inds")};
  }
  // Reads both tables (closing them) and checks them: the checker clean,
  // every link both ways. Answers the rows.
  std::pair<TableDump, TableDump> CheckedTables() {
    auto tables = Tables();
    EXPECT_EQ(tables.first.findings, std::vector<std::string>{});
    EXPECT_EQ(tables.second.findings, std::vector<std::string>{});
    EXPECT_EQ(LinkFaults(Parse(tables.first, tables.second)), std::vector<std::string>{});
    return tables;
  }
  TestView& View() { return env->view; }
  TFamilyBox& Box() { return env->box; }

  qvtest::TempDir dir;
  std::unique_ptr<FamilyEnv> env;
};

}  // namespace family::testing
