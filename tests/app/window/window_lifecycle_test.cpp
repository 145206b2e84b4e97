// The main window around the search: its stored form, activation, the
// folders, the data-file list dialog across rebuilds, Cancel and a second
// Search during a search, closing with Yes / No / Cancel, help.
#include <QAction>
#include <QClipboard>
#include <QMenuBar>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <thread>

#include "platform/runtime/cp1252.h"
#include "platform/runtime/os_process.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

int ItemHolding(QListWidget* list, const std::string& text) {
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->text().toStdString().find(text) != std::string::npos) return i;
  return -1;
}

TEST_F(WindowTest, StoredFormComponentsMenusAndWiring) {
  EXPECT_EQ(window->windowTitle(), "Quorvane");
  EXPECT_TRUE(window->UnwiredHandlers().empty()) << window->UnwiredHandlers().front();
  const char* captions[] = {"Father", "Mother", "Children", "Witness", "fuzzy", "fuzzy",
                            "fuzzy", "Marriages", "< 1700", "1700 >", "Text", "fuzzy"};
  const bool ticked[] = {true, true, false, false, false, false, false, true, true, true, false, false};
  for (int n = 1; n <= 12; ++n) {
    EXPECT_EQ(Box(n)->text().toStdString(), captions[n - 1]);
    EXPECT_EQ(Box(n)->isChecked(), ticked[n - 1]) << n;
  }
  EXPECT_EQ(window->Label1->text(), "Filter:");
  EXPECT_TRUE(window->Label1->font().bold());
  EXPECT_EQ(window->Button1->text(), "Search");
  EXPECT_FALSE(window->Button3->isVisible());
  EXPECT_FALSE(window->Panel3->isVisible());
  EXPECT_EQ(window->PageControl1->tabText(0), "Main text");
  EXPECT_EQ(window->vm0->Memo().LeftMargin(), 10);
  EXPECT_FALSE(window->vm0->Memo().WordWrap());
  EXPECT_EQ(window->vm0->ScrollBars(), memo::ssBoth);
  EXPECT_EQ(window->vm0->PopupMenu(), window->PopupMenu1);

  QStringList menus;
  for (QAction* a : window->menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"File", "Edit", "View", "Help"}));
  const std::pair<const char*, const char*> shortcuts[] = {
      {"Undo1", "Ctrl+Z"}, {"Cut1", "Ctrl+X"}, {"Copy1", "Ctrl+C"},       {"Paste1", "Ctrl+V"},
      {"Find1", "Ctrl+F"}, {"FindAgain1", "F3"}, {"Replace1", "Ctrl+R"}, {"Changefont1", "Ctrl+O"},
      {"Highlight1", "Ctrl+H"}};
  for (const auto& [name, keys] : shortcuts)
    EXPECT_EQ(window->Action(name)->shortcut(), QKeySequence(QString::fromLatin1(keys))) << name;
  for (const char* hidden : {"Savetextfile1", "CreateGEDCOM1", "Doublepane1", "Astext1", "Datafilelist1",
                             "Showfamilybox1", "Showlines1", "ShowFams1", "ClearData1", "Henrylist1",
                             "Showfamily1", "SortbyMother1", "Fillinfamily1"}) {
    EXPECT_FALSE(window->Action(hidden)->isVisible()) << hidden;
    EXPECT_FALSE(window->Action(hidden)->isEnabled()) << hidden;
  }
  EXPECT_TRUE(window->Action("Showsourcecodes1")->isChecked());
  EXPECT_FALSE(window->Action("Closefile1")->isEnabled());
  EXPECT_EQ(window->Action("Saveas1")->text(), "Save &as");
  EXPECT_EQ(window->Action("Showlines1")->text(), "Show line #'s");
}

TEST_F(WindowTest, StartUpLoadsTheSamplesAndWritesTheLists) {
  EXPECT_EQ(window->ActivationCount(), 1);
  ASSERT_EQ(window->DataFiles().Count(), 8);
  EXPECT_TRUE(prompts.messages.empty());
  const std::string sources = ReadFile(dir / "Sources.txt");
  EXPECT_EQ(std::count(sources.begin(), sources.end(), '\n'), 8);
  EXPECT_EQ(sources.rfind("[1] ", 0), 0u);
  EXPECT_NE(ReadFile(dir / "Files.txt").find(SamplesDir() + "/ashcombe_memb.txt\r\n"), std::string::npos);
  // The dialog lists the same sources, all ticked.
  ASSERT_EQ(form2->CheckListBox1->count(), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(form2->CheckListBox1->item(i)->checkState(), Qt::Checked);
  EXPECT_EQ(form2->CheckListBox1->item(0)->text().toStdString(), sources.substr(0, sources.find("\r\n")));
}

TEST_F(WindowTest, ActivationFromWithinTheProgramOnly) {
  const int start = window->ActivationCount();
  // Back from another program (no window of ours had the focus): nothing.
  window->FocusWindowChanged(nullptr);
  window->FocusWindowChanged(window->windowHandle());
  EXPECT_EQ(window->ActivationCount(), start);
  // From another non-modal window of the program: an activation.
  QWidget other;
  other.resize(100, 100);
  other.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
  window->FocusWindowChanged(other.windowHandle());
  window->FocusWindowChanged(window->windowHandle());
  EXPECT_EQ(window->ActivationCount(), start + 1);
  // After a modal form of the program: an activation; after a message box: none.
  window->Action("Selectsourcefiles1")->trigger();
  EXPECT_EQ(prompts.modal_count, 1);
  EXPECT_EQ(window->ActivationCount(), start + 2);
  // The settings are read again: a new source folder in the INI is followed.
  WriteFile(dir / "Quorvane.INI", "[Directories]\r\nSearch=Empty\r\nSave=Empty\r\n");
  window->Action("Selectsourcefiles1")->trigger();
  EXPECT_EQ(window->DataFiles().Count(), 0);  // "Empty": no folder, nothing loaded
  EXPECT_EQ(form2->CheckListBox1->count(), 0);
  EXPECT_TRUE(window->Settings().SaveDir().empty());
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(WindowTest, SourceFolderCommandsWriteTheSettings) {
  // Cancelled: the folder stays, is written again and the list rebuilt.
  window->Action("SelectSourceDir1")->trigger();
  ASSERT_EQ(prompts.directory_starts.size(), 1u);
  EXPECT_EQ(prompts.directory_starts[0], SamplesDir());
  EXPECT_NE(ReadFile(dir / "Quorvane.INI").find("Search=" + SamplesDir()), std::string::npos);
  EXPECT_EQ(window->DataFiles().Count(), 8);

  const fs::path regs = dir / "regs";
  fs::create_directory(regs);
  fs::copy_file(fs::path(SamplesDir()) / "stmary_bap.txt", regs / "stmary_bap.txt");
  prompts.directories.push_back(regs.string());
  window->Action("SelectSourceDir1")->trigger();
  EXPECT_NE(ReadFile(dir / "Quorvane.INI").find("Search=" + regs.string()), std::string::npos);
  EXPECT_EQ(window->DataFiles().Count(), 1);
  EXPECT_EQ(form2->CheckListBox1->count(), 1);

  prompts.directories.push_back(regs.string());
  window->Action("SelectSaveDir1")->trigger();
  EXPECT_NE(ReadFile(dir / "Quorvane.INI").find("Save=" + regs.string()), std::string::npos);
  EXPECT_EQ(window->Settings().SaveDir(), regs.string());
}

TEST_F(WindowTest, DataFileDialogFollowsEveryRebuildKeepingTicksByFile) {
  const fs::path regs = dir / "regs";
  fs::create_directory(regs);
  for (const auto& entry : fs::directory_iterator(SamplesDir())) fs::copy_file(entry.path(), regs / entry.path().filename());
  prompts.directories.push_back(regs.string());
  window->Action("SelectSourceDir1")->trigger();
  ASSERT_EQ(form2->CheckListBox1->count(), 8);

  // The user unticks St Mary's baptisms in the dialog.
  const int stmary = ItemHolding(form2->CheckListBox1, "St Mary, Ashcombe - Baptisms");
  ASSERT_GE(stmary, 0);
  prompts.on_modal = [&](QDialog&) {
    form2->CheckListBox1->item(stmary)->setCheckState(Qt::Unchecked);
    form2->OKBtn->click();
    return static_cast<int>(QDialog::Accepted);
  };
  const int stpeter = ItemHolding(form2->CheckListBox1, "St Peter");
  ASSERT_GE(stpeter, 0);
  const appcore::DataFile* kept = window->DataFiles().File(stpeter).data.get();

  // A new file that sorts first shifts every number by one.
  WriteFile(regs / "aaa_bap.txt", "Aardvark Chapel - Baptisms 1700-1701\r\n1700 02 Feb John Smith, Ann Smith; Mary; Tom Lee\r\n");
  window->Action("Selectsourcefiles1")->trigger();  // modal, then the activation rebuilds
  prompts.on_modal = nullptr;
  const std::vector<std::string> items = Items(form2->CheckListBox1);
  ASSERT_EQ(items.size(), 9u);
  EXPECT_EQ(items[0], "[1] Aardvark Chapel - Baptisms 1700-1701");
  for (int i = 0; i < 9; ++i) {
    const bool is_stmary = items[static_cast<size_t>(i)].find("St Mary, Ashcombe - Baptisms") != std::string::npos;
    EXPECT_EQ(form2->CheckListBox1->item(i)->checkState() == Qt::Checked, !is_stmary) << items[static_cast<size_t>(i)];
  }
  // The unchanged file kept its loaded lines.
  const int stpeter_now = ItemHolding(form2->CheckListBox1, "St Peter");
  EXPECT_EQ(window->DataFiles().File(stpeter_now).data.get(), kept);

  // The search reads the ticks of the files, not of the old positions.
  SetBox(4, true);
  SetBox(8, false);
  Type("Smith");
  PressSearch();
  const std::vector<std::string> page = [&] {
    std::vector<std::string> lines;
    for (int i = 0; i < Page().GetParCount(); ++i) lines.push_back(Page().getParagraphs(i));
    return lines;
  }();
  EXPECT_EQ(page[0], " [1] Aardvark Chapel - Baptisms 1700-1701");
  for (const auto& line : page) EXPECT_EQ(line.find("St Mary, Ashcombe - Baptisms"), std::string::npos) << line;

  // Select all / Unselect all act on the ticks the search reads.
  form2->Button2->click();
  for (bool t : window->Ticks().Vector()) EXPECT_FALSE(t);
  form2->Button1->click();
  for (bool t : window->Ticks().Vector()) EXPECT_TRUE(t);
  // Escape is the Cancel button: it unticks and the dialog stays.
  form2->reject();
  for (bool t : window->Ticks().Vector()) EXPECT_FALSE(t);
}

// A register big enough that a search pumps events several times.
void WriteBigRegister(const fs::path& folder) {
  fs::create_directory(folder);
  std::string text = "Big Parish - Baptisms\r\n";
  text.reserve(24u << 20);
  const char* names[] = {"Smith", "Smyth", "Baker", "Hunt", "Clerke", "Thomson", "Jenkins", "Lewes"};
  for (int i = 0; i < 300000; ++i) {
    text += std::to_string(1650 + i % 100) + " 0" + std::to_string(1 + i % 9) + " Mar John " + names[i % 8] +
            std::to_string(i % 977) + ", Mary " + names[(i / 8) % 8] + "; Child" + std::to_string(i) +
            "; Tom Lee, Ann Fox\r\n";
  }
  WriteFile(folder / "big_bap.txt", text);
}

class LongSearchTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    WriteBigRegister(dir / "big");
    prompts.directories.push_back((dir / "big").string());
    window->Action("SelectSourceDir1")->trigger();
    ASSERT_EQ(window->DataFiles().Count(), 1);
    for (int n : {4, 5, 6, 7}) SetBox(n, true);  // fuzzy everywhere: the slow way
    window->Edit2->setText("Smith");
  }
};

TEST_F(LongSearchTest, LineCommandsWaitWhileTheSearchWritesThePage) {
  int during = 0;
  QTimer::singleShot(0, window.get(), [&] {
    ASSERT_TRUE(window->Searching());
    for (const char* item : {"Sortgroupsbydate1", "Resetfilelist1", "Setaschildren1", "Copytonewsheet1"})
      window->Action(item)->trigger();
    window->ReplaceDialog1Replace(true);
    ++during;
    window->Button3->click();  // Cancel
  });
  window->Button1->click();
  ASSERT_EQ(during, 1);
  EXPECT_EQ(PageLines(), std::vector<std::string>{"Searching:  [1] Big Parish - Baptisms"});
  EXPECT_EQ(window->PageControl1->count(), 1);
  EXPECT_EQ(window->ListBox1->count(), 0);
}

// The window is not drawn while a search is young, and is again once it has
// run a while, through its Cancel, and after it.
TEST_F(LongSearchTest, TheWindowIsDrawnAgainOnceTheSearchRunsAWhile) {
  // At each look during the search: whether drawing is free; and the
  // window's paints while drawing was held and once it is free again (the
  // click changed the button and the page meanwhile).
  std::vector<int> drawn;
  int painted_held = -1, painted_after = -1;
  // On one core, so that the search waits while its first look sleeps
  // through the quiet period: on every core it may end meanwhile.
  const std::vector<int> cores = rtl::os::CoresOfThisThread();
  ASSERT_TRUE(rtl::os::KeepThisThreadOn({cores.back()}));
  struct Restore {
    const std::vector<int>& cores;
    ~Restore() { rtl::os::KeepThisThreadOn(cores); }
  } restore{cores};
  // A search the busy machine lets end before its second look, or first
  // answer only after its quiet period, is run again (a loaded machine, as
  // under the whole suite, can hold the window's thread off for seconds).
  for (int attempt = 0; attempt < 30; ++attempt) {
    drawn.clear();
    PaintCounter paints;
    QTimer::singleShot(0, window.get(), [&] {
      drawn.push_back(!window->DrawingHeld());
      painted_held = paints.Total();
      std::this_thread::sleep_for(std::chrono::milliseconds(app::TBaptisms::kQuietMs + 20));
      QTimer::singleShot(0, window.get(), [&] {
        drawn.push_back(window->Searching() ? !window->DrawingHeld() : -1);
        QCoreApplication::sendPostedEvents(window.get(), QEvent::UpdateRequest);  // the loop's next paint
        painted_after = paints.Of(window->Button1);
        window->Button3->click();  // Cancel
      });
    });
    window->Button1->click();
    Settle();  // a look the search did not reach is taken now, outside it
    if (drawn == std::vector<int>{0, 1}) break;
  }
  EXPECT_EQ(drawn, (std::vector<int>{0, 1}));
  EXPECT_EQ(painted_held, 0);
  EXPECT_GT(painted_after, 0);  // "Searching" drawn once the search ran a while
  EXPECT_FALSE(window->DrawingHeld());
  EXPECT_TRUE(window->updatesEnabled());
  window->Button1->click();  // to its end
  EXPECT_GT(Page().GetParCount(), 100);
  EXPECT_TRUE(window->updatesEnabled());
  Settle();
  EXPECT_EQ(OnScreen(*window), FullyRepainted(*window));
}

TEST_F(LongSearchTest, CancelStopsAndASecondSearchIsIgnored) {
  int during = 0;
  QTimer::singleShot(0, window.get(), [&] {
    EXPECT_TRUE(window->Searching());
    EXPECT_EQ(window->Button1->text(), "Searching");
    EXPECT_TRUE(window->Button3->isVisible());
    window->Button1->click();  // ignored
    ++during;
    window->Button3->click();  // Cancel
  });
  window->Button1->click();
  ASSERT_EQ(during, 1) << "the search pumped no events";
  EXPECT_EQ(prompts.hourglass_on, 1);
  EXPECT_FALSE(window->Searching());
  EXPECT_EQ(PageLines(), std::vector<std::string>{"Searching:  [1] Big Parish - Baptisms"});
  EXPECT_TRUE(Status().empty());
  EXPECT_EQ(window->Button1->text(), "Search");
  EXPECT_FALSE(window->Button3->isVisible());
  EXPECT_FALSE(prompts.hourglass);
  EXPECT_EQ(window->PageMark(0), 1);
  // The term and the words matched before the cancel stay the page's keywords.
  EXPECT_GE(Page().Keywords().IndexOf("Smith"), 0);

  // Cancel outside a search does nothing: the next search runs to its end.
  window->Button3Click();
  window->Button1->click();
  EXPECT_EQ(Status().rfind("Search: ", 0), 0u);
  EXPECT_GT(Page().GetParCount(), 100);
}

TEST_F(LongSearchTest, ClosingAndActivationWaitForTheSearch) {
  const int activations = window->ActivationCount();
  bool closed_during = true;
  QTimer::singleShot(0, window.get(), [&] {
    window->FormActivate();  // waits
    EXPECT_EQ(window->ActivationCount(), activations);
    closed_during = window->close();
  });
  window->Button1->click();
  EXPECT_FALSE(closed_during);
  EXPECT_EQ(window->ActivationCount(), activations + 1);
  EXPECT_TRUE(window->isVisible());
  Settle();
  EXPECT_FALSE(window->isVisible());  // closed once the search had stopped
}

class CloseTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    modified = window->AddTab("a.txt");
    modified->Memo().SetText("1701 02 Mar John Smith\r\nsecond line");
    modified->Memo().Keywords().AddKeyWord("Smith", 0, 0, 1, 0, 16777215, 255);
    window->AddTab("b.txt");  // unmodified
  }
  memo::TVellMemoControl* modified = nullptr;
};

// "Main text" as a search filled it is never asked about; edits made on it
// since are (No lets them go).
TEST_F(CloseTest, MainTextIsAskedAboutOnlyForEditsSinceTheSearch) {
  window->PageControl1->removeTab(2);
  window->PageControl1->removeTab(1);
  Search("Lewes");
  EXPECT_TRUE(Page().Modified);
  EXPECT_TRUE(window->FormClose());
  EXPECT_TRUE(prompts.questions.empty());
  Page().SetText("changed");
  prompts.answers = {app::TAnswer::kNo};
  EXPECT_TRUE(window->close());
  EXPECT_EQ(prompts.questions, std::vector<std::string>{"Save the changes made on \"Main text\"? Otherwise they are lost."});
}

TEST_F(CloseTest, CancelKeepsTheWindowOpen) {
  prompts.answers = {app::TAnswer::kCancel};
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(prompts.questions, std::vector<std::string>{"Save changes to this file?"});
  EXPECT_EQ(window->PageControl1->currentIndex(), 1);
}

TEST_F(CloseTest, NoClosesWithoutSaving) {
  prompts.answers = {app::TAnswer::kNo};
  EXPECT_TRUE(window->close());
  EXPECT_EQ(prompts.questions.size(), 1u);
  EXPECT_TRUE(prompts.save_dirs.empty());
}

TEST_F(CloseTest, YesWithTheSaveDialogCancelledKeepsTheWindowOpen) {
  prompts.answers = {app::TAnswer::kYes};
  prompts.save_names = {std::nullopt};
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  ASSERT_EQ(prompts.save_dirs.size(), 1u);
  EXPECT_EQ(prompts.save_dirs[0], dir.string());  // the Save folder
  EXPECT_EQ(prompts.proposed_names[0], "a.txt");
}

TEST_F(CloseTest, YesWithAFailingSaveKeepsTheWindowOpen) {
  fs::create_directory(dir / "locked");
  fs::create_directory(dir / "locked" / "a.txt.dir");
  prompts.answers = {app::TAnswer::kYes};
  prompts.save_names = {(dir / "missing" / "a.txt").string()};  // no such folder
  EXPECT_FALSE(window->close());
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_TRUE(modified->Memo().Modified);
  EXPECT_EQ(window->PageMark(1), 1);
  // Saving over a folder fails too.
  prompts.answers = {app::TAnswer::kYes};
  prompts.save_names = {(dir / "locked" / "a.txt.dir").string()};
  EXPECT_FALSE(window->close());
  EXPECT_EQ(prompts.messages.size(), 2u);
}

TEST_F(CloseTest, YesSavesThePageAndItsHighlightWords) {
  prompts.answers = {app::TAnswer::kYes};
  prompts.save_names = {(dir / "kept.txt").string()};
  EXPECT_TRUE(window->close());
  EXPECT_EQ(ReadFile(dir / "kept.txt"), "1701 02 Mar John Smith\r\nsecond line");
  EXPECT_EQ(ReadFile(dir / "kept.hlw"), "Smith\r\n");
  EXPECT_FALSE(modified->Memo().Modified);
  EXPECT_EQ(window->CurrentFileName(), (dir / "kept.txt").string());
  EXPECT_EQ(prompts.questions.size(), 1u);  // b.txt was not modified
}

TEST_F(WindowTest, ContentsOpensTheHelpPage) {
  window->Action("Contents1")->trigger();
  ASSERT_EQ(prompts.opened.size(), 1u);
  const QUrl url = prompts.opened[0];
  EXPECT_TRUE(url.isLocalFile());
  EXPECT_TRUE(url.toLocalFile().endsWith("help.html"));
  EXPECT_TRUE(QFileInfo(url.toLocalFile()).isFile());
  EXPECT_NE(ReadFile(url.toLocalFile().toStdString()).find("id=\"contents\""), std::string::npos);
  prompts.open_result = false;
  window->Action("Contents1")->trigger();
  EXPECT_EQ(prompts.messages.size(), 1u);
}

TEST_F(WindowTest, EditCommandsWorkOnTheCurrentPage) {
  Page().SetText("1700 Smith here");
  Page().setSelStart(5);
  Page().setSelLength(5);
  window->Action("Copy1")->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), "Smith");
  window->Action("Cut1")->trigger();
  EXPECT_EQ(Page().GetText(), "1700  here");
  window->Action("Undo1")->trigger();
  EXPECT_EQ(Page().GetText(), "1700 Smith here");
  // A find dialog closed without "Find Next" changes nothing.
  prompts.on_modal = [](QDialog&) { return QDialog::Rejected; };
  window->Action("Find1")->trigger();
  EXPECT_EQ(Page().GetText(), "1700 Smith here");
}

}  // namespace
