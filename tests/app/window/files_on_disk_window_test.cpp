// The window and the files under it: a register changed by another program
// after its page was opened, a register rewritten since the list was
// loaded, UTF-8 registers, edits on "Main text", right clicks on the red
// search words, the files left out of the list and the help page.
#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <cstdlib>

#include "app/core/data_file_set.h"
#include "app/core/record_line.h"
#include "platform/runtime/cp1252.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

class FilesOnDiskTest : public WindowTest {
protected:
  // "Edit original line" on the first hit holding text; the register's page.
  memo::TVellMemo& EditOriginalLineOf(const std::string& text) {
    const int par = ParHolding(Page(), text);
    EXPECT_GE(par, 0) << Joined(LinesOf(Page()));
    window->PageControl1->setCurrentIndex(0);
    Page().setSelStart(Page().ParStart(std::max(par, 0)));
    Trigger("Editline1");
    return Current();
  }
  // Types text at the start of paragraph par of the current page, as the
  // user would.
  void TypeAtLine(int par, const char* text) {
    Current().setSelStart(Current().ParStart(par));
    Current().setSelLength(0);
    for (const QChar c : QString::fromLatin1(text)) {
      if (c.unicode() < 0x80) {
        QTest::keyClick(window->CurrentMemo(), c.toLatin1());
      } else {  // no key of its own on a test keyboard: the character typed
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(window->CurrentMemo(), &press);
      }
    }
  }
  // A search for text that the test keyboard cannot type (accented letters).
  void SearchText(const char* text) {
    window->Edit2->setText(QString::fromLatin1(text));
    PressSearch();
    Settle();
  }
  static void Append(const fs::path& path, const std::string& bytes) { WriteFile(path, ReadFile(path) + bytes); }
  // Converts a file from Windows-1252 to UTF-8 with python3 (independent of
  // the program's own codec); false when python3 is missing.
  static bool ToUtf8(const fs::path& path) {
    const std::string command = "python3 -c \"import sys; p=sys.argv[1]; b=open(p,'rb').read(); "
                                "open(p,'wb').write(b.decode('cp1252').encode('utf-8'))\" '" +
                                path.string() + "'";
    return std::system(command.c_str()) == 0;
  }
  // The hit lines of the first page without their source tags, sorted.
  std::vector<std::string> HitsWithoutTags() {
    std::vector<std::string> hits;
    for (const std::string& line : PageLines()) {
      const std::string_view t = appcore::TrimLine(line);
      if (!appcore::IsRecordLine(t)) continue;
      const size_t tag = t.rfind(" [");
      hits.emplace_back(t.substr(0, tag));
    }
    std::sort(hits.begin(), hits.end());
    return hits;
  }
};

// A register edited on its page and changed by another program meanwhile
// is never written over in silence: Yes saves the page beside it (both
// texts kept), No reads the file again, Cancel leaves both as they are.
TEST_F(FilesOnDiskTest, SavingOverARegisterChangedSinceItsPageWasOpenedAsks) {
  const fs::path regs = UseCopiedRegisters();
  const std::string appended = "1788 01 Dec Added Byother, Ann Byother; Tom; W\r\n";
  const struct {
    app::TAnswer answer;
    bool beside, reloaded;
  } cases[] = {{app::TAnswer::kYes, true, false}, {app::TAnswer::kNo, false, true}, {app::TAnswer::kCancel, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    SearchText("Dupr\xe9");
    memo::TVellMemo& page = EditOriginalLineOf("Dupr\xe9");
    const fs::path reg = window->PageFile(ActivePage());
    ASSERT_EQ(reg.parent_path(), regs);
    const std::string before = ReadFile(reg);
    TypeAtLine(1, "Q");
    ASSERT_TRUE(page.Modified);
    const std::string typed = page.getParagraphs(1);
    Append(reg, appended);  // another program, after the page was opened
    prompts.questions.clear();
    prompts.save_names.push_back(reg.string());
    prompts.answers = {c.answer};
    Trigger("Saveas1");
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_NE(prompts.questions[0].find("was changed by another program"), std::string::npos) << prompts.questions[0];
    // The other program's line is never lost.
    EXPECT_EQ(ReadFile(reg), before + appended);
    const fs::path copy = regs / (reg.stem().string() + " (edited).txt");
    EXPECT_EQ(fs::exists(copy), c.beside);
    if (c.beside) {
      EXPECT_NE(ReadFile(copy).find(typed), std::string::npos);
      EXPECT_EQ(window->PageCaption(ActivePage()), copy.filename().string());
      EXPECT_EQ(window->PageDataLink(ActivePage()), 0);
      fs::remove(copy);
    }
    EXPECT_EQ(page.Modified, !c.beside && !c.reloaded);
    if (c.reloaded) { EXPECT_EQ(Joined(LinesOf(page)) + "\r\n", ReadFile(reg)); }
    Trigger("Closefile1");
    prompts.answers = {app::TAnswer::kNo};
    while (Pages() > 1) Trigger("Closefile1");
  }
  // Unchanged since it was opened: saved without a question.
  SearchText("Dupr\xe9");
  EditOriginalLineOf("Dupr\xe9");
  const fs::path reg = window->PageFile(ActivePage());
  TypeAtLine(1, "R");
  prompts.questions.clear();
  prompts.save_names.push_back(reg.string());
  Trigger("Saveas1");
  EXPECT_TRUE(prompts.questions.empty());
  EXPECT_NE(ReadFile(reg).find("\r\nR"), std::string::npos);
}

// A register cut by another program before the load reads it and written
// again once the load has read it is read again at the end of the load:
// every record counts. One rewritten after the load is read again before
// the next search, which finds its new records.
TEST_F(FilesOnDiskTest, ARegisterRewrittenDuringOrAfterTheLoadIsReadAgain) {
  const fs::path regs = UseCopiedRegisters();
  Search("Smith");
  const std::string counts = Status().substr(0, Status().find(" in "));
  const fs::path reg = regs / "holytrinity_bap.txt";
  const std::string full = ReadFile(reg);
  WriteFile(reg, "");
  int rewrites = 0;
  appcore::DataFileSet::SetLoadedHook([&] {
    if (rewrites++ == 0) WriteFile(reg, full);
  });
  window->FormActivate();
  appcore::DataFileSet::SetLoadedHook(nullptr);
  ASSERT_EQ(rewrites, 1);
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
  EXPECT_FALSE(window->DataFiles().AnyChanged());  // the search has nothing left to read again
  Search("Smith");
  EXPECT_EQ(Status().substr(0, Status().find(" in ")), counts);

  Search("Quorn");
  EXPECT_EQ(Status().substr(0, 10), "Search: 0 ");
  const std::string bytes = ReadFile(regs / "stpeter_bap.txt");
  WriteFile(regs / "stpeter_bap.txt", "");
  WriteFile(regs / "stpeter_bap.txt", bytes + "1700 Jan 01 Zebedee Quorn, Ann Quorn; Tom; W\r\n");
  Search("Quorn");
  EXPECT_EQ(Status().substr(0, 10), "Search: 1 ") << Status();
  EXPECT_NE(ParHolding(Page(), "Zebedee Quorn"), -1);
}

// The same registers in UTF-8 give the same hits as in Windows-1252, are
// marked in the data-file list, and an edited line goes back in UTF-8 with
// every other byte as it was.
TEST_F(FilesOnDiskTest, Utf8RegistersAreSearchedAndEditedAsText) {
  const fs::path regs = UseCopiedRegisters();
  SearchText("Dupr\xe9");
  const std::vector<std::string> cp1252_hits = HitsWithoutTags();
  ASSERT_GE(cp1252_hits.size(), 5u);
  for (const auto& entry : fs::directory_iterator(regs))
    if (!ToUtf8(entry.path())) GTEST_SKIP() << "python3 missing";
  window->FormActivate();
  SearchText("Dupr\xe9");
  EXPECT_EQ(HitsWithoutTags(), cp1252_hits);
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
  // Files with characters beyond ASCII are listed as UTF-8.
  int marked = 0;
  for (const std::string& item : Items(form2->CheckListBox1)) marked += item.find("(UTF-8)") != std::string::npos;
  EXPECT_GE(marked, 3);

  memo::TVellMemo& page = EditOriginalLineOf("Dupr\xe9");
  const fs::path reg = window->PageFile(ActivePage());
  const std::string before = ReadFile(reg);
  const int par = ParHolding(page, "Dupr\xe9");
  ASSERT_GT(par, 0);
  TypeAtLine(par, "Z\xe9");
  Trigger("Savetextfile1");
  EXPECT_TRUE(prompts.questions.empty());
  // Expected: the UTF-8 bytes with "Zé" (C3 A9) in front of that line.
  const std::string line_utf8 = rtl::Cp1252ToUtf8(page.getParagraphs(par).substr(2));
  const size_t at = before.find("\n" + line_utf8);
  ASSERT_NE(at, std::string::npos);
  const std::string after = ReadFile(reg), expected = before.substr(0, at + 1) + "Z\xC3\xA9" + before.substr(at + 1);
  const auto differ = std::mismatch(after.begin(), after.end(), expected.begin(), expected.end());
  EXPECT_TRUE(after == expected) << "sizes " << after.size() << " / " << expected.size() << ", first difference at "
                                 << (differ.first - after.begin()) << ": "
                                 << after.substr(static_cast<size_t>(differ.first - after.begin()), 40) << " / "
                                 << expected.substr(static_cast<size_t>(differ.second - expected.begin()), 40);
}

// Files not read (a UTF-8 register with characters Windows-1252 lacks) and
// files that are no text are named in one notice in the window's status
// line, the character shown with its line and each file with the number
// the lists give it; no message box, at start-up or at any activation. The
// data-file list marks such a register "not read"; it is not searched.
TEST_F(FilesOnDiskTest, FilesNotReadAreNamedInOneNoticeInTheWindow) {
  const fs::path regs = UseCopiedRegisters();
  prompts.messages.clear();
  WriteFile(regs / "warsaw_bap.txt", "Warsaw\r\n1700 01 Jan Jan Kowalski, Ma\xC5\x82gorzata Nowak; Piotr; W\r\n");
  WriteFile(regs / "athens_bap.txt", "Athens\r\nplain\r\n1700 01 Jan Nikos Pappas, \xCE\x95\xCE\xBB\xCE\xAD\xCE\xBD\xCE\xB7; P; W\r\n");
  std::string junk(100000, '\0');
  junk.replace(0, 12, "Junk\r\n1700 01");
  WriteFile(regs / "junk_bap.txt", junk);
  window->FormActivate();
  window->FormActivate();
  EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
  const std::vector<appcore::FileNotice>& notices = window->DataFiles().Notices();
  ASSERT_EQ(notices.size(), 3u);
  const QString status = window->Label5->text();
  const QString athens = QString("[%1] athens_bap.txt not read: its UTF-8 character ").arg(notices[0].number) +
                         QString::fromUtf8("\"\u0395\" (U+0395) on line 3 has no Windows-1252 byte");
  const QString no_text = QString("[%1] junk_bap.txt not read: it is no text (it holds zero bytes)").arg(notices[1].number);
  const QString warsaw = QString("[%1] warsaw_bap.txt not read: its UTF-8 character ").arg(notices[2].number) +
                         QString::fromUtf8("\"\u0142\" (U+0142) on line 2 has no Windows-1252 byte");
  EXPECT_EQ(status, athens + "; " + no_text + "; " + warsaw + ".");
  const std::vector<std::string> items = window->DataFiles().ListItems();
  EXPECT_EQ(items[static_cast<size_t>(notices[2].number - 1)], "[" + std::to_string(notices[2].number) +
                                                                   "] warsaw_bap.txt   (not read)");
  Search("Kowalski");
  EXPECT_EQ(Status().substr(0, 10), "Search: 0 ");
  EXPECT_TRUE(window->Label5->text().contains(athens)) << Status();
}

// Edits made on "Main text" since the last search are asked about before a
// search or closing replaces them; the search's own filling is no edit.
TEST_F(FilesOnDiskTest, EditsOnMainTextAreAskedAboutBeforeTheyAreDropped) {
  Search("Lewes");
  Search("Clerke");
  EXPECT_TRUE(prompts.questions.empty());
  const struct {
    app::TAnswer answer;
    bool searched;
  } cases[] = {{app::TAnswer::kCancel, false}, {app::TAnswer::kNo, true}, {app::TAnswer::kYes, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    window->PageControl1->setCurrentIndex(0);
    TypeAtLine(0, "note ");
    prompts.questions.clear();
    prompts.answers = {c.answer};
    prompts.save_names.push_back((dir / "main.txt").string());
    Search("Lewes");
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_NE(prompts.questions[0].find("Main text"), std::string::npos);
    EXPECT_EQ(ParHolding(Page(), "note ") == -1, c.searched);
    if (c.answer == app::TAnswer::kYes) { EXPECT_NE(ReadFile(dir / "main.txt").find("note "), std::string::npos); }
    prompts.save_names.clear();
  }
  // "Set as children" writes its block there too, and closing asks.
  Page().setSelStart(Page().ParStart(ParHolding(Page(), "Lewes")));
  window->Setaschildren1Click();
  prompts.questions.clear();
  prompts.answers = {app::TAnswer::kCancel, app::TAnswer::kNo};
  EXPECT_FALSE(window->FormClose());
  EXPECT_TRUE(window->FormClose());
  EXPECT_EQ(prompts.questions.size(), 2u);
}

// A right click on a red search word opens the page menu.
TEST_F(FilesOnDiskTest, RightClickOnASearchWordOpensThePageMenu) {
  Search("Lewes");
  const int par = ParHolding(Page(), "Lewes");
  ASSERT_GE(par, 0);
  const int col = static_cast<int>(Page().getParagraphs(par).find("Lewes")) + 2;
  ASSERT_TRUE(RedAt(Page(), par, col));
  Page().setTopLine(par);
  Settle();
  memo::TVellMemoControl* control = window->vm0;
  const int x = Page().LeftMargin() + col * control->fontMetrics().horizontalAdvance('M');
  const int y = control->fontMetrics().height() / 2 + 2;
  QTest::mouseClick(control->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(x, y));
  EXPECT_TRUE(window->PopupMenu1->isVisible());
  window->PopupMenu1->hide();
}

// Files left out of the list stay said after a search and are listed, with
// their reason, in the data-file list.
TEST_F(FilesOnDiskTest, FilesLeftOutStayVisible) {
  const fs::path regs = UseCopiedRegisters();
  WriteFile(regs / "locked_bap.txt", "Locked\r\n1700 01 Jan A B, C D; E; F\r\n");
  fs::permissions(regs / "locked_bap.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  window->FormActivate();
  Search("Lewes");
  EXPECT_NE(Status().find("locked_bap.txt (read-only)"), std::string::npos) << Status();
  EXPECT_EQ(Status().substr(0, 8), "Search: ");
  const std::vector<std::string> items = Items(form2->CheckListBox1);
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items.back(), "Left out: locked_bap.txt (read-only)");
  EXPECT_EQ(form2->CheckListBox1->item(static_cast<int>(items.size()) - 1)->flags(), Qt::NoItemFlags);
  fs::permissions(regs / "locked_bap.txt", fs::perms::owner_write, fs::perm_options::add);
}

// "Contents" finds the help page beside the program; without a browser it
// says where the page is.
TEST_F(FilesOnDiskTest, HelpIsFoundBesideTheProgramAndAMissingBrowserIsSaid) {
  const std::string help = window->HelpFile();
  ASSERT_FALSE(help.empty());
  EXPECT_EQ(QFileInfo(QString::fromStdString(help)).absolutePath(), QCoreApplication::applicationDirPath());
  prompts.open_result = false;
  Trigger("Contents1");
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_NE(prompts.messages[0].find(help), std::string::npos);
  // Without a program for HTML pages the desktop's opener would fail
  // unseen: the prompts say no, whether the opener is missing or knows no
  // program for text/html.
  const QByteArray path = qgetenv("PATH"), browser = qgetenv("BROWSER");
  qunsetenv("BROWSER");
  const fs::path bin = dir / "bin";
  fs::create_directories(bin);
  qputenv("PATH", QByteArray::fromStdString(bin.string()));
  app::TQtPrompts screen;
  const QUrl page = QUrl::fromLocalFile(QString::fromStdString(help));
  const bool without_opener = screen.OpenUrl(page);
  for (const char* tool : {"xdg-open", "xdg-mime"}) {
    WriteFile(bin / tool, "#!/bin/sh\nexit 0\n");
    fs::permissions(bin / tool, fs::perms::owner_all);
  }
  const bool without_viewer = screen.OpenUrl(page);
  qputenv("PATH", path);
  if (!browser.isNull()) qputenv("BROWSER", browser);
  EXPECT_FALSE(without_opener);
  EXPECT_FALSE(without_viewer);
  // The help's claims hold: Thomson finds Tomson but not Thompson.
  const std::string text = ReadFile(help);
  EXPECT_EQ(text.find("also finds <i>Thompson</i>"), std::string::npos);
  EXPECT_NE(text.find("<code>AND</code> does not ask for both names"), std::string::npos);
  Type("Thomson");
  SetBox(2, false);
  SetBox(5, true);
  PressSearch();
  Settle();
  EXPECT_NE(ParHolding(Page(), "Tomson"), -1);
  for (const std::string& line : PageLines()) {
    const std::string_view t = appcore::TrimLine(line);
    if (!appcore::IsRecordLine(t)) continue;
    EXPECT_EQ(appcore::SplitBaptismRest(appcore::RestOf(t)).father.find("Thompson"), std::string::npos) << line;
  }
}

}  // namespace
