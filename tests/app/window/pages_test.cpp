// Page commands on real pages: New page, Open text file with its ".hlw"
// side file, Save as, Close file with Yes / No / Cancel, Copy to new page,
// Edit original line, Reset file list, and that nothing typed is lost.
#include <QAction>
#include <QClipboard>
#include <QTabBar>

#include "app/core/source_tags.h"
#include "platform/runtime/cp1252.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

// Lines of a text file (CR LF, LF or CR), without a trailing empty line.
std::vector<std::string> FileLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::string text = ReadFile(path), line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

class PagesTest : public WindowTest {
protected:
  // Types text at the end of the current page, as the user would.
  void TypeIntoPage(const char* text) {
    window->CurrentMemo()->setFocus();
    Current().setSelStart(Current().GetTextLen());
    QTest::keyClicks(window->CurrentMemo(), QString::fromLatin1(text));
  }
};

TEST_F(PagesTest, NewPagesAreNumberedMarkedAndEnableTheFileItems) {
  EXPECT_FALSE(window->Action("Closefile1")->isEnabled());
  for (int i = 1; i <= 10; ++i) Trigger("Newsheet1");
  ASSERT_EQ(Pages(), 11);
  EXPECT_EQ(window->PageCaption(9), "NewPage09.txt");
  EXPECT_EQ(window->PageCaption(10), "NewPage10.txt");
  EXPECT_EQ(window->PageCaption(1), "NewPage01.txt");
  EXPECT_EQ(ActivePage(), 10);
  EXPECT_EQ(window->CurrentMemo(), window->PageMemo(10));
  EXPECT_EQ(window->CurrentFileName(), "NewPage10.txt");
  EXPECT_EQ(window->PageMark(10), 1);
  EXPECT_TRUE(window->Action("Closefile1")->isEnabled());
  EXPECT_TRUE(window->Action("Saveas1")->isEnabled());
  EXPECT_TRUE(window->Action("Print1")->isEnabled());
  // "Save text file" is never shown.
  EXPECT_FALSE(window->Action("Savetextfile1")->isVisible());
  // Every page memo has the settings of vm0.
  memo::TVellMemo& m = Current();
  EXPECT_EQ(m.Font(), window->vm0->Memo().Font());
  EXPECT_FALSE(m.WordWrap());
  // Switching back to the first page: vm0 is current, Close file disabled.
  window->PageControl1->setCurrentIndex(0);
  EXPECT_EQ(window->CurrentMemo(), window->vm0);
  EXPECT_FALSE(window->Action("Closefile1")->isEnabled());
  window->PageControl1->setCurrentIndex(3);
  EXPECT_EQ(window->CurrentMemo(), window->PageMemo(3));
}

TEST_F(PagesTest, SaveAsWritesThePageAndItsSideFileAndOpenBringsThemBack) {
  Search("Lewes");
  const std::vector<std::string> hits = LinesOf(Page());
  ASSERT_GT(hits.size(), 5u);
  Trigger("Copytonewsheet1");  // no selection: named after the term
  ASSERT_EQ(Pages(), 2);
  EXPECT_EQ(window->PageCaption(1), "Lewes.txt");
  EXPECT_EQ(CurrentLines(), hits);
  EXPECT_EQ(Current().Keywords().Count(), 1);

  prompts.save_names.push_back((dir / "lewes page.txt").string());
  Trigger("Saveas1");
  ASSERT_EQ(prompts.proposed_names.back(), "Lewes.txt");
  EXPECT_EQ(prompts.save_dirs.back(), dir.string());  // the save folder
  EXPECT_EQ(FileLines(dir / "lewes page.txt"), hits);
  EXPECT_EQ(ReadFile(dir / "lewes page.hlw"), "Lewes\r\n");
  EXPECT_EQ(window->PageCaption(1), "lewes page.txt");
  EXPECT_EQ(window->PageMark(1), 0);
  EXPECT_FALSE(Current().Modified);
  Trigger("Closefile1");  // unmodified: no question
  EXPECT_TRUE(prompts.questions.empty());
  ASSERT_EQ(Pages(), 1);

  // The side file is edited by hand: the opened page highlights its words.
  WriteFile(dir / "lewes page.hlw", "Lewes\r\nClerke\r\n");
  prompts.open_names.push_back((dir / "lewes page.txt").string());
  Trigger("Opentextfile1");
  ASSERT_EQ(Pages(), 2);
  EXPECT_EQ(window->PageCaption(1), "lewes page.txt");
  EXPECT_EQ(window->CurrentFileName(), (dir / "lewes page.txt").string());
  EXPECT_EQ(CurrentLines(), hits);
  EXPECT_EQ(window->PageMark(1), 0);
  ASSERT_EQ(Current().Keywords().Count(), 2);
  const int lewes = ParHolding(Current(), "Lewes");
  const int clerke = ParHolding(Current(), "Clerke");
  ASSERT_GE(lewes, 0);
  ASSERT_GE(clerke, 0);
  const size_t at = Current().getParagraphs(lewes).find("Lewes");
  EXPECT_TRUE(RedAt(Current(), lewes, static_cast<int>(at)));
  EXPECT_FALSE(RedAt(Current(), lewes, 0));
  EXPECT_TRUE(RedAt(Current(), clerke, static_cast<int>(Current().getParagraphs(clerke).find("Clerke"))));
}

TEST_F(PagesTest, OpenWithoutSideFileOrUnreadableFile) {
  WriteFile(dir / "plain.txt", "1700 one\r\n1701 two\r\n");
  prompts.open_names.push_back((dir / "plain.txt").string());
  Trigger("Opentextfile1");
  ASSERT_EQ(Pages(), 2);
  EXPECT_EQ(CurrentLines(), (std::vector<std::string>{"1700 one", "1701 two"}));
  EXPECT_EQ(Current().Keywords().Count(), 0);
  EXPECT_TRUE(prompts.messages.empty());
  // Cancelled dialog, missing file: no page, a message for the file.
  Trigger("Opentextfile1");
  prompts.open_names.push_back((dir / "missing.txt").string());
  Trigger("Opentextfile1");
  EXPECT_EQ(Pages(), 2);
  EXPECT_EQ(prompts.messages.size(), 1u);
}

TEST_F(PagesTest, SavingWithoutHighlightWordsRemovesTheOldSideFile) {
  Trigger("Newsheet1");
  TypeIntoPage("1700 notes");
  WriteFile(dir / "notes.hlw", "Old\r\n");
  prompts.save_names.push_back((dir / "notes.txt").string());
  Trigger("Saveas1");
  EXPECT_EQ(FileLines(dir / "notes.txt"), (std::vector<std::string>{"1700 notes"}));
  // Reopening the page must not bring back words the page no longer has.
  EXPECT_FALSE(fs::exists(dir / "notes.hlw"));
  // "Save text file" writes the page's own file again, without a dialog.
  TypeIntoPage(" more");
  window->Savetextfile1Click();
  EXPECT_EQ(FileLines(dir / "notes.txt"), (std::vector<std::string>{"1700 notes more"}));
  EXPECT_EQ(prompts.proposed_names.size(), 1u);
}

TEST_F(PagesTest, CloseFileAsksYesNoCancelAndKeepsThePageUnlessSavedOrNo) {
  Trigger("Newsheet1");
  TypeIntoPage("1700 typed text");
  ASSERT_TRUE(Current().Modified);

  prompts.answers = {app::TAnswer::kCancel};
  Trigger("Closefile1");
  EXPECT_EQ(Pages(), 2);
  EXPECT_EQ(prompts.questions.back(), "Save changes to this file?");

  // Yes, then the save dialog is cancelled: the page stays.
  prompts.answers = {app::TAnswer::kYes};
  prompts.save_names = {std::nullopt};
  Trigger("Closefile1");
  EXPECT_EQ(Pages(), 2);

  // Yes, then the save fails (no such folder): a message, the page stays.
  prompts.answers = {app::TAnswer::kYes};
  prompts.save_names = {(dir / "no such folder" / "x.txt").string()};
  Trigger("Closefile1");
  EXPECT_EQ(Pages(), 2);
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(Current().GetText(), "1700 typed text");

  // Yes and saved: closed, the file holds the text.
  prompts.answers = {app::TAnswer::kYes};
  prompts.save_names = {(dir / "typed.txt").string()};
  Trigger("Closefile1");
  EXPECT_EQ(Pages(), 1);
  EXPECT_EQ(FileLines(dir / "typed.txt"), (std::vector<std::string>{"1700 typed text"}));
  EXPECT_EQ(window->CurrentMemo(), window->vm0);

  // No: closed without saving.
  Trigger("Newsheet1");
  TypeIntoPage("thrown away");
  prompts.answers = {app::TAnswer::kNo};
  Trigger("Closefile1");
  EXPECT_EQ(Pages(), 1);
  EXPECT_FALSE(fs::exists(dir / "NewPage02.txt"));

  // The first page is never closed.
  window->Closefile1Click();
  EXPECT_EQ(Pages(), 1);
}

TEST_F(PagesTest, NothingTypedIsEverLost) {
  Trigger("Newsheet1");
  TypeIntoPage("1700 my only copy");
  // Close file: Yes, save dialog cancelled.
  prompts.answers = {app::TAnswer::kYes};
  Trigger("Closefile1");
  ASSERT_EQ(Pages(), 2);
  EXPECT_EQ(window->PageMemo(1)->Memo().GetText(), "1700 my only copy");
  // Closing the window: Yes, save dialog cancelled; then Cancel.
  prompts.answers = {app::TAnswer::kYes, app::TAnswer::kCancel};
  EXPECT_FALSE(window->close());
  EXPECT_FALSE(window->close());
  Settle();
  EXPECT_TRUE(window->isVisible());
  ASSERT_EQ(Pages(), 2);
  EXPECT_EQ(window->PageMemo(1)->Memo().GetText(), "1700 my only copy");
  EXPECT_TRUE(window->PageMemo(1)->Memo().Modified);
  EXPECT_EQ(prompts.questions.size(), 3u);
}

TEST_F(PagesTest, CopyToNewPageWithASelection) {
  Search("Lewes");
  memo::TVellMemo& first = Page();
  const int par = ParHolding(first, "Lewes");
  ASSERT_GE(par, 0);
  const std::string line = first.getParagraphs(par);
  // A backward selection of the whole paragraph.
  first.setSelStart(first.ParStart(par) + static_cast<int>(line.size()));
  first.setSelLength(-static_cast<int>(line.size()));
  Trigger("Copytonewsheet1");
  ASSERT_EQ(Pages(), 2);
  EXPECT_EQ(window->PageCaption(1), "NewPage01.txt");
  EXPECT_EQ(Current().GetText(), line);
  EXPECT_EQ(QApplication::clipboard()->text().toStdString(), rtl::Cp1252ToUtf8(line));
  EXPECT_EQ(window->PageMark(1), 1);
  EXPECT_EQ(Current().HighlightColor(), 255);
  ASSERT_EQ(Current().Keywords().Count(), 1);
  EXPECT_TRUE(RedAt(Current(), 0, static_cast<int>(line.find("Lewes"))));
  // The page it came from is unchanged.
  EXPECT_EQ(first.getParagraphs(par), line);
}

TEST_F(PagesTest, CopyToNewPageNamesThePageSafely) {
  // Before any search the term is empty: a numbered page, not ".txt".
  Page().SetText("1700 some text");
  Trigger("Copytonewsheet1");
  EXPECT_EQ(window->PageCaption(1), "NewPage01.txt");
  EXPECT_EQ(Current().GetText(), "1700 some text");
  // A term with '*' and '/' gives a usable file name.
  window->PageControl1->setCurrentIndex(0);
  Search("Lew*");
  Trigger("Copytonewsheet1");
  const std::string caption = window->PageCaption(ActivePage());
  EXPECT_EQ(caption.find('/'), std::string::npos);
  EXPECT_EQ(caption.find('*'), std::string::npos);
  EXPECT_NE(caption[0], '.');
  EXPECT_EQ(caption.substr(caption.size() - 4), ".txt");
}

TEST_F(PagesTest, EditOriginalLineOpensTheDataFileAtTheRecord) {
  Search("Lewes");
  memo::TVellMemo& first = Page();
  // A hit with an editorial bracket before its source tag.
  const int par = ParHolding(first, "Nath[aniel] Lewes");
  ASSERT_GE(par, 0) << Joined(LinesOf(first));
  const std::string line = first.getParagraphs(par);
  first.setSelStart(first.ParStart(par) + 5);
  Trigger("Editline1");
  ASSERT_EQ(Pages(), 2);
  EXPECT_EQ(window->PageCaption(1), "holytrinity_bap.txt");
  EXPECT_TRUE(prompts.messages.empty());
  memo::TVellMemo& data = Current();
  const std::vector<std::string> file = FileLines(fs::path(SamplesDir()) / "holytrinity_bap.txt");
  EXPECT_EQ(LinesOf(data), file);
  const int at = data.FindParOfPos(data.getSelStart() + data.getSelLength());
  const int caret_par = data.FindParOfPos(data.getSelStart());
  EXPECT_EQ(caret_par, at);
  EXPECT_EQ(file[static_cast<size_t>(caret_par)].rfind("1677 13 Dec Nath[aniel] Lewes", 0), 0u);
  EXPECT_EQ(std::abs(data.getSelLength()), 10);
  EXPECT_EQ(window->PageDataLink(1), window->DataFiles().Count() > 0 ? [&] {
    for (int k = 0; k < window->DataFiles().Count(); ++k)
      if (window->DataFiles().File(k).name == "holytrinity_bap.txt") return k + 1;
    return -1;
  }() : -1);
  EXPECT_EQ(window->PageMark(1), 0);

  // A second line of the same file reuses the page.
  window->PageControl1->setCurrentIndex(0);
  const int other = ParHolding(first, "Roger Lewes");
  ASSERT_GE(other, 0);
  first.setSelStart(first.ParStart(other));
  Trigger("Editline1");
  EXPECT_EQ(Pages(), 2);
  EXPECT_EQ(ActivePage(), 1);

  // A line without a source tag (a blank line, the status, a text line).
  window->PageControl1->setCurrentIndex(0);
  ASSERT_TRUE(appcore::IsLegendLine(first.getParagraphs(0)));
  first.setSelStart(4);  // a legend line: no trailing source tag
  Trigger("Editline1");
  EXPECT_EQ(prompts.messages, std::vector<std::string>{"Operation not available!"});
  (void)line;
}

TEST_F(PagesTest, EditOriginalLineRefusesBracketsThatAreNoSourceTag) {
  Page().SetText("1677 13 Dec Nath[aniel] Lewes, Jane Clerke; Robert\r\n1700 x [99] ");
  Page().setSelStart(3);
  Trigger("Editline1");
  Page().setSelStart(Page().ParStart(1) + 2);
  Trigger("Editline1");
  EXPECT_EQ(Pages(), 1);
  EXPECT_EQ(prompts.messages,
            (std::vector<std::string>{"Operation not available!", "Operation not available!"}));
}

TEST_F(PagesTest, SaveAsOfAnEditedDataFileProposesTheSourceFolderAndReloadsIt) {
  const fs::path regs = UseCopiedRegisters();
  Search("Lewes");
  const int par = ParHolding(Page(), "Nath[aniel] Lewes");
  ASSERT_GE(par, 0);
  Page().setSelStart(Page().ParStart(par));
  Trigger("Editline1");
  ASSERT_EQ(Pages(), 2);
  // The user corrects the record.
  memo::TVellMemo& data = Current();
  const int rec = ParHolding(data, "Nath[aniel] Lewes");
  data.setSelStart(data.ParStart(rec) + static_cast<int>(data.getParagraphs(rec).find("Nath[aniel]")));
  data.setSelLength(11);
  data.setSelText("Nathaniel");
  prompts.save_names.push_back((regs / "holytrinity_bap.txt").string());
  Trigger("Saveas1");
  EXPECT_EQ(prompts.save_dirs.back(), regs.string());
  EXPECT_NE(ReadFile(regs / "holytrinity_bap.txt").find("1677 13 Dec Nathaniel Lewes"), std::string::npos);
  // The next search sees the edit.
  window->PageControl1->setCurrentIndex(0);
  Search("Nathaniel");
  EXPECT_GE(ParHolding(Page(), "1677 13 Dec Nathaniel Lewes"), 0);
}

TEST_F(PagesTest, ResetFileListBuildsTheLegendOfTheCitedSources) {
  Search("Lewes");
  const std::vector<std::string> before = LinesOf(Page());
  std::vector<std::string> body;
  for (const std::string& l : before)
    if (!appcore::IsLegendLine(l)) body.push_back(l);
  Trigger("Resetfilelist1");
  const std::vector<std::string> once = LinesOf(Page());
  Trigger("Resetfilelist1");
  EXPECT_EQ(LinesOf(Page()), once);  // run twice: the same legend
  // The legend: " [n] title" of exactly the sources the lines cite, in order.
  const std::vector<std::string> sources = window->DataFiles().SourceList();
  std::vector<std::string> expected;
  for (size_t n = 1; n <= sources.size(); ++n) {
    const std::string tag = " [" + std::to_string(n) + "] ";
    bool cited = false;
    for (const std::string& l : body)
      if (l.size() >= tag.size() && (l.compare(l.size() - tag.size(), tag.size(), tag) == 0 ||
                                     l.find(tag) == l.size() - tag.size() + 1))
        cited = true;
    if (cited) expected.push_back(" " + sources[n - 1]);
  }
  ASSERT_FALSE(expected.empty());
  ASSERT_GE(once.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(once.begin(), once.begin() + static_cast<long>(expected.size())), expected);
  // Nothing else is lost.
  EXPECT_EQ(std::vector<std::string>(once.begin() + static_cast<long>(expected.size()), once.end()), body);
}

TEST_F(PagesTest, Panel3FollowsTheActivePageWhileShown) {
  window->Panel3->setVisible(true);
  Trigger("Newsheet1");
  EXPECT_EQ(window->Panel3->parentWidget(), window->PageControl1->widget(1));
  EXPECT_TRUE(window->Panel3->isVisible());
  window->PageControl1->setCurrentIndex(0);
  EXPECT_EQ(window->Panel3->parentWidget(), window->TabSheet1);
  window->PageControl1->setCurrentIndex(1);
  prompts.answers = {app::TAnswer::kNo};
  Trigger("Closefile1");
  EXPECT_EQ(window->Panel3->parentWidget(), window->TabSheet1);
  EXPECT_TRUE(window->Panel3->isVisible());
}

TEST_F(PagesTest, HiddenPanel3StaysOnTheFirstPage) {
  Trigger("Newsheet1");
  EXPECT_EQ(window->Panel3->parentWidget(), window->TabSheet1);
  EXPECT_TRUE(window->Panel3->isHidden());
}

}  // namespace

namespace {

TEST_F(WindowTest, EveryPageHasAGutterOnItsMemo) {
  ASSERT_NE(window->vg0, nullptr);
  EXPECT_EQ(window->vg0->objectName(), "vg0");
  EXPECT_EQ(window->vg0->VellMemo(), &window->vm0->Memo());
  EXPECT_EQ(window->vg0->parentWidget(), window->TabSheet1);
  window->Action("Newsheet1")->trigger();
  QWidget* sheet = window->PageControl1->widget(1);
  // (TVellGutter has no meta-object of its own: find it by dynamic_cast.)
  std::vector<memo::TVellGutter*> gutters;
  for (QWidget* w : sheet->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (auto* g = dynamic_cast<memo::TVellGutter*>(w)) gutters.push_back(g);
  ASSERT_EQ(gutters.size(), 1u);
  EXPECT_EQ(gutters.front()->VellMemo(), &window->PageMemo(1)->Memo());
  // Left of the memo.
  Settle();
  EXPECT_LT(gutters.front()->geometry().left(), window->PageMemo(1)->geometry().left());
  // Closing the page frees both.
  prompts.answers = {app::TAnswer::kNo};
  window->Action("Closefile1")->trigger();
  EXPECT_EQ(window->PageControl1->count(), 1);
}

}  // namespace

namespace {

TEST_F(PagesTest, FailedSavesKeepThePageModified) {
  Trigger("Newsheet1");
  TypeIntoPage("1700 keep me");
  // The chosen name is a folder: nothing can be written there.
  fs::create_directories(dir / "folder.txt");
  prompts.save_names.push_back((dir / "folder.txt").string());
  Trigger("Saveas1");
  EXPECT_EQ(prompts.messages.size(), 1u);
  EXPECT_TRUE(Current().Modified);
  EXPECT_EQ(window->PageMark(1), 1);
  EXPECT_EQ(window->PageCaption(1), "NewPage01.txt");
  EXPECT_EQ(Current().GetText(), "1700 keep me");

  // The side file cannot be written: reported, the page stays modified.
  Current().Keywords().AddKeyWord("keep", 0, 0, 1, memo::crDefault, 16777215, 255);
  fs::create_directories(dir / "words.hlw" / "inside");
  prompts.save_names.push_back((dir / "words.txt").string());
  Trigger("Saveas1");
  EXPECT_EQ(prompts.messages.size(), 2u);
  EXPECT_TRUE(Current().Modified);
  EXPECT_EQ(window->PageMark(1), 1);
  // Closing it still asks.
  prompts.answers = {app::TAnswer::kCancel};
  Trigger("Closefile1");
  EXPECT_EQ(Pages(), 2);
  EXPECT_EQ(prompts.questions.size(), 1u);
}

}  // namespace

// A sorted page proposed for saving lands in the save folder, apart from
// the registers, and is never read as one. Saved under a register's name
// into the source folder it would be (each of its hits found twice): saving
// asks first. No proposes a name that is no register's, Cancel saves
// nothing, Yes saves it as a register, which the next load reads.
TEST_F(PagesTest, APageSavedUnderARegistersNameInTheSourceFolderIsAskedAbout) {
  const fs::path regs = UseCopiedRegisters();
  const int registers = window->DataFiles().Count();
  const auto sorted_page = [&] {
    prompts.open_names.push_back((regs / "holytrinity_bap.txt").string());
    Trigger("Opentextfile1");
    Trigger("SortbyHusband1");
    EXPECT_EQ(window->PageCaption(ActivePage()), "HS-holytrinity_bap.txt");
  };
  // The proposed name in the save folder: no question, no register.
  sorted_page();
  prompts.save_names = {(dir / "HS-holytrinity_bap.txt").string()};
  Trigger("Saveas1");
  EXPECT_EQ(prompts.save_dirs.back(), dir.string());
  EXPECT_EQ(prompts.proposed_names.back(), "HS-holytrinity_bap.txt");
  EXPECT_TRUE(prompts.questions.empty());
  EXPECT_TRUE(fs::exists(dir / "HS-holytrinity_bap.txt"));
  window->FormActivate();
  EXPECT_EQ(window->DataFiles().Count(), registers);

  // The save folder is the source folder.
  WriteFile(dir / "Quorvane.INI", "[Directories]\r\nSearch=" + regs.string() + "\r\nSave=" + regs.string() + "\r\n");
  window->FormActivate();
  const fs::path as_register = regs / "HS-holytrinity_bap.txt";
  const struct {
    std::vector<app::TAnswer> answers;
    std::vector<std::string> saved_as;  // what the dialog gives, in turn
    bool saved, read_as_register;
  } cases[] = {
      {{app::TAnswer::kCancel}, {as_register.string()}, false, false},
      {{app::TAnswer::kNo}, {as_register.string(), (regs / "HS-holytrinity-bap.txt").string()}, true, false},
      {{app::TAnswer::kYes}, {as_register.string()}, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.saved_as.back());
    sorted_page();
    prompts.questions.clear();
    prompts.proposed_names.clear();
    prompts.answers.assign(c.answers.begin(), c.answers.end());
    prompts.save_names.assign(c.saved_as.begin(), c.saved_as.end());
    Trigger("Saveas1");
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_EQ(prompts.questions[0].rfind("\"HS-holytrinity_bap.txt\" is a register's name in the source folder: saved "
                                         "there, this page will be read as a register",
                                         0),
              0u)
        << prompts.questions[0];
    if (c.saved_as.size() > 1) { EXPECT_EQ(prompts.proposed_names.back(), "HS-holytrinity-bap.txt"); }
    EXPECT_EQ(fs::exists(c.saved_as.back()), c.saved);
    window->FormActivate();
    EXPECT_EQ(window->DataFiles().Count(), registers + (c.read_as_register ? 1 : 0));
  }
}

// Pasting text with characters Windows-1252 (the pages' text) lacks is
// refused and the characters named, by Ctrl+V, Shift+Insert and the Edit
// menu alike: nothing turns into "?" on the page. Text Windows-1252 has is
// pasted as it stands.
TEST_F(PagesTest, PastingCharactersWindows1252LacksIsRefusedAndSaid) {
  Trigger("Newsheet1");
  window->activateWindow();
  window->CurrentMemo()->setFocus();
  QGuiApplication::clipboard()->setText(QString::fromUtf8("Micha\u0142 Wi\u015Bniewski \u0395\u03BB\u03AD\u03BD\u03B7"));
  QTest::keyClick(window->CurrentMemo(), Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(window->CurrentMemo(), Qt::Key_Insert, Qt::ShiftModifier);
  Trigger("Paste1");
  EXPECT_EQ(Current().GetText(), "");
  ASSERT_EQ(prompts.text_messages.size(), 3);
  for (const QString& m : prompts.text_messages)
    EXPECT_TRUE(m.contains(QString::fromUtf8("\"\u0142\" \"\u015B\" \"\u0395\" \"\u03BB\" \"\u03AD\" \"\u03BD\" \"\u03B7\".")))
        << m.toStdString();
  EXPECT_TRUE(prompts.text_messages[0].startsWith("Nothing was pasted"));
  QGuiApplication::clipboard()->setText(QString::fromUtf8("Dupr\u00E9 M\u00FCller \u20AC"));
  QTest::keyClick(window->CurrentMemo(), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Current().GetText(), "Dupr\xe9 M\xfcller \x80");
  EXPECT_EQ(prompts.text_messages.size(), 3);
}
