// File and folder names in any language through the real Qt dialogs, which
// the test answers as a user would: pages saved and opened again, a source
// folder chosen and kept in the settings, and names shown in page text.
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabBar>
#include <QTimer>

#include "platform/runtime/files.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

// Answers the modal dialogs the window opens: file dialogs with the next
// queued path (a folder for the folder dialog), message boxes with OK,
// recording their text.
class DialogAnswerer : public QObject {
public:
  // Once the application exists.
  void Start() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] { Answer(); });
    timer_.start();
  }
  std::deque<QString> paths;
  std::vector<QString> boxes;
  int file_dialogs = 0;

private:
  void Answer() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
      ++file_dialogs;
      if (paths.empty()) {
        dialog->reject();
        return;
      }
      const QString path = paths.front();
      paths.pop_front();
      if (dialog->fileMode() == QFileDialog::Directory) {
        dialog->setDirectory(path);
      } else if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit")) {
        edit->setText(path);  // typed into the name box, with its folder
      }
      static_cast<QDialog*>(dialog)->accept();  // as the Open or Save button does
    } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      boxes.push_back(box->text());
      box->accept();
    }
  }
  QTimer timer_;
};

class FileNamesTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    answer.Start();
    ASSERT_FALSE(scratch.Path().empty());
    dir = scratch.path();
    WriteFile(dir / "Quorvane.INI", "[Directories]\r\nSearch=\r\nSave=" + dir.string() + "\r\n");
    Open();
  }
  void TearDown() override {
    window.reset();
    QApplication::processEvents();
  }
  void Open() {
    window.reset();
    window = std::make_unique<app::TBaptisms>(prompts, dir.string());
    prompts.SetParent(window.get());
    window->resize(1000, 700);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }
  void Trigger(const char* item) { window->Action(item)->trigger(); }
  memo::TVellMemo& Current() { return window->CurrentMemo()->Memo(); }
  std::string Text() { return Current().GetText(); }
  QString Tab() { return window->PageControl1->tabText(window->PageControl1->currentIndex()); }

  qvtest::TempDir scratch;
  fs::path dir;
  app::TQtPrompts prompts;
  DialogAnswerer answer;
  std::unique_ptr<app::TBaptisms> window;
};

TEST_F(FileNamesTest, SaveAsMuellerThenOpenItBack) {
  Trigger("Newsheet1");
  Current().setSelText("1650 03 Mar Hans M\xFCller; B\r\nzweite Zeile");  // Windows-1252 text
  const std::string typed = Text();
  answer.paths.push_back(QString::fromStdString(dir.string()) + QString::fromUtf8("/Müller.txt"));
  Trigger("Saveas1");
  // The file has the name the user typed, in the file system's UTF-8.
  const fs::path saved = dir / "M\xC3\xBCller.txt";
  ASSERT_TRUE(fs::exists(saved)) << answer.boxes.size();
  EXPECT_EQ(ReadFile(saved), typed);
  EXPECT_EQ(Tab(), QString::fromUtf8("Müller.txt"));
  EXPECT_EQ(window->PageFile(1), saved.string());
  Trigger("Closefile1");
  ASSERT_EQ(window->PageControl1->count(), 1);

  answer.paths.push_back(QString::fromUtf8(saved.string().c_str()));
  Trigger("Opentextfile1");
  ASSERT_EQ(window->PageControl1->count(), 2);
  EXPECT_EQ(Text(), typed);
  EXPECT_EQ(Tab(), QString::fromUtf8("Müller.txt"));
  EXPECT_EQ(window->CurrentFileName(), saved.string());
  EXPECT_TRUE(answer.boxes.empty()) << answer.boxes.front().toStdString();
  EXPECT_EQ(answer.file_dialogs, 2);
}

// Names in UTF-8 open their pages; the text in them, UTF-8 too, is shown
// as text where Windows-1252 has its characters and named where it has not.
TEST_F(FileNamesTest, OpenCafeAndJapaneseNames) {
  const char* names[] = {"Caf\xC3\xA9.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt"};
  for (const char* name : names) {
    WriteFile(dir / name, std::string("Inhalt von ") + name);
    answer.paths.push_back(QString::fromUtf8((dir / name).string().c_str()));
    Trigger("Opentextfile1");
    EXPECT_EQ(answer.paths.size(), 0u) << answer.file_dialogs;
  }
  ASSERT_EQ(window->PageControl1->count(), 2);
  EXPECT_EQ(Tab(), QString::fromUtf8(names[0]));
  EXPECT_EQ(Text(), "Inhalt von Caf\xE9.txt");
  EXPECT_EQ(window->PageCaption(window->PageControl1->currentIndex()), names[0]);
  ASSERT_EQ(answer.boxes.size(), 1u);
  EXPECT_TRUE(answer.boxes[0].contains("UTF-8 text with characters that Windows-1252 cannot show"))
      << answer.boxes[0].toStdString();
}

TEST_F(FileNamesTest, SelectSourceDirGenealogieLoadsItsRegistersAndShowsAccentedNames) {
  const fs::path folder = dir / "G\xC3\xA9n\xC3\xA9" "alogie";
  fs::create_directories(folder);
  for (const auto& entry : fs::directory_iterator(SamplesDir())) fs::copy_file(entry.path(), folder / entry.path().filename());
  // A register without a title line is listed under its file name.
  WriteFile(folder / "M\xC3\xBCller_bap.txt", "\r\n1650 03 Mar John Zwingli, B; C; D\r\n");
  answer.paths.push_back(QString::fromUtf8(folder.string().c_str()));
  Trigger("SelectSourceDir1");
  EXPECT_TRUE(answer.boxes.empty()) << answer.boxes.front().toStdString();
  EXPECT_EQ(window->Settings().SearchDir(), folder.string());
  EXPECT_NE(ReadFile(dir / "Quorvane.INI").find("Search=" + folder.string() + "\r\n"), std::string::npos);
  ASSERT_EQ(window->DataFiles().Count(), 9);
  for (const appcore::DataFileEntry& file : window->DataFiles().Files()) EXPECT_FALSE(file.load_failed) << file.name;

  // Page text is Windows-1252: the name shows with its accent.
  const std::vector<std::string> sources = window->DataFiles().SourceList();
  EXPECT_NE(std::find(sources.begin(), sources.end(), "[4] M\xFCller_bap.txt"), sources.end()) << Joined(sources);
  window->Edit2->setText("Zwingli");
  QTest::mouseClick(window->Button1, Qt::LeftButton);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const std::string page = window->vm0->Memo().GetText();
  EXPECT_NE(page.find("[4] M\xFCller_bap.txt"), std::string::npos) << page;

  // A new start reads the folder back from the settings.
  Open();
  EXPECT_EQ(window->Settings().SearchDir(), folder.string());
  EXPECT_EQ(window->DataFiles().Count(), 9);
}

TEST_F(FileNamesTest, AMissingSourceFolderSaysSo) {
  const fs::path gone = dir / "weg";
  WriteFile(dir / "Quorvane.INI", "[Directories]\r\nSearch=" + gone.string() + "\r\n");
  Open();
  ASSERT_FALSE(answer.boxes.empty());
  EXPECT_EQ(answer.boxes.front(),
            QString::fromStdString("Cannot read the source folder \"" + gone.string() + "\".\nNo such file or directory"));
}

}  // namespace
