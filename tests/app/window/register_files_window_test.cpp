// The register files as the window meets them: files left out of the list
// named in the status line, a register that may not be written not opened
// by "Edit original line", and a read-only page replaced only when the
// user says so.
#include <sys/stat.h>
#include <unistd.h>

#include "window_test_support.h"

namespace window_test {
namespace {

using Lines = std::vector<std::string>;

class RegisterFilesTest : public WindowTest {};

TEST_F(RegisterFilesTest, FilesLeftOutAreNamedAndARegisterThatMayNotBeWrittenIsNotEdited) {
  const fs::path regs = UseCopiedRegisters();
  Settle();
  const int all = window->DataFiles().Count();
  EXPECT_EQ(Status(), "");
  ::chmod((regs / "stmary_marr.txt").c_str(), 0444);
  WriteFile(regs / ".old_bap.txt", "hidden\r\n");
  window->FormActivate();
  EXPECT_EQ(window->DataFiles().Count(), all - 1);
  EXPECT_EQ(Status(), "Left out of the data files: .old_bap.txt (hidden), stmary_marr.txt (read-only).");
  // Once nothing is left out the notice goes.
  ::chmod((regs / "stmary_marr.txt").c_str(), 0644);
  fs::remove(regs / ".old_bap.txt");
  window->FormActivate();
  EXPECT_EQ(window->DataFiles().Count(), all);
  EXPECT_EQ(Status(), "");

  // A register made read-only after it was loaded: "Edit original line"
  // says so and opens nothing.
  Search("Lewes");
  const int par = ParHolding(Page(), "Nath[aniel] Lewes");
  ASSERT_GE(par, 0);
  Page().setSelStart(Page().ParStart(par) + 5);
  ::chmod((regs / "holytrinity_bap.txt").c_str(), 0444);
  Trigger("Editline1");
  EXPECT_EQ(prompts.messages, Lines{"\"holytrinity_bap.txt\" cannot be edited: read-only."});
  EXPECT_EQ(Pages(), 1);
  ::chmod((regs / "holytrinity_bap.txt").c_str(), 0644);
  Trigger("Editline1");
  EXPECT_EQ(Pages(), 2);
  EXPECT_EQ(window->PageCaption(1), "holytrinity_bap.txt");

  // An empty folder is said too.
  const fs::path empty = dir / "empty";
  fs::create_directories(empty);
  prompts.directories = {empty.string()};
  Trigger("SelectSourceDir1");
  EXPECT_EQ(window->DataFiles().Count(), 0);
  EXPECT_EQ(Status(), "No data files in \"" + empty.string() + "\".");
}

TEST_F(RegisterFilesTest, AReadOnlyPageIsReplacedOnlyWhenTheUserSaysSo) {
  const fs::path page = dir / "page.txt";
  WriteFile(page, "old");
  ::chmod(page.c_str(), 0444);
  prompts.open_names = {page.string()};
  Trigger("Opentextfile1");
  ASSERT_EQ(Pages(), 2);
  Current().SetText("new");
  EXPECT_EQ(window->PageMark(1), 1);
  const std::string question = "\"page.txt\" is read-only. Replace it?";
  for (const app::TAnswer answer : {app::TAnswer::kNo, app::TAnswer::kCancel}) {
    prompts.answers = {answer};
    Trigger("Savetextfile1");
    EXPECT_EQ(prompts.questions.back(), question);
    EXPECT_EQ(ReadFile(page), "old");
    EXPECT_EQ(window->PageMark(1), 1);
  }
  prompts.answers = {app::TAnswer::kYes};
  Trigger("Savetextfile1");
  EXPECT_EQ(prompts.questions.size(), 3u);
  if (::geteuid() == 0) {
    // Root may write it: replaced, and still read-only.
    EXPECT_EQ(ReadFile(page), "new");
    EXPECT_EQ(window->PageMark(1), 0);
    struct stat st;
    ASSERT_EQ(::stat(page.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_TRUE(prompts.messages.empty());
  } else {
    // Another user's refusal is shown; the page keeps its text.
    EXPECT_EQ(ReadFile(page), "old");
    EXPECT_EQ(prompts.messages.size(), 1u);
  }
}

}  // namespace
}  // namespace window_test
