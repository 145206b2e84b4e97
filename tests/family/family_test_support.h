// Shared pieces of the family box tests: a view that tests answer, a
// fixture with both tables in a scratch settings folder, and the tables as
// the checker's python reader sees them.
#pragma once

#include <gtest/gtest.h>

#include <deque>
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

inline std::string PythonReader(const std::string& command, const std::string& path) {
  qvtest::CommandResult r =
      qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tests/family/family_tables.py' " + command + " '" + path + "' 2>&1");
  EXPECT_EQ(r.status, 0) << r.output;
  return r.output;
}

inline TableDump DumpTable(const std::string& folder, const std::string& name) {
  TableDump d;
  std::istringstream in(PythonReader("rows", folder + "/" + name + ".DAT"));
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("error:", 0) == 0 || line.rfind("warning:", 0) == 0) d.findings.push_back(line);
    else if (line.rfind("keys ", 0) == 0) d.keys.push_back(line);
    else d.rows.push_back(line);
  }
  return d;
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
  TestView& View() { return env->view; }
  TFamilyBox& Box() { return env->box; }

  qvtest::TempDir dir;
  std::unique_ptr<FamilyEnv> env;
};

}  // namespace family::testing
