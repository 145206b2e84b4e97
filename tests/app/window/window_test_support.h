// Shared set-up of the main-window tests: one offscreen QApplication, a
// TUserPrompts that answers from a script and records what was asked, and
// a fixture that opens the real main window with its data-file list dialog
// on a settings folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QPaintEvent>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QUrl>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/baptisms.h"
#include "app/data_file_dialog.h"
#include "app/user_prompts.h"
#include "memo/text_model.h"
#include "memo/widget/memo_widget_test_util.h"
#include "support/temp_dir.h"
#include "tests/platform/gui/gui_test_util.h"

namespace window_test {

namespace fs = std::filesystem;

inline QApplication& App() { return gui_test::App(); }

class ScriptedPrompts : public app::TUserPrompts {
public:
  // Answers, taken from the front; an empty queue answers Cancel / no.
  std::deque<app::TAnswer> answers;
  std::deque<std::optional<std::string>> directories;
  std::deque<std::optional<std::string>> save_names;
  std::deque<std::optional<std::string>> open_names;
  std::optional<memo::TMemoFont> font_choice;  // nullopt: the font dialog is cancelled
  std::function<int(QDialog&)> on_modal;
  bool open_result = true;

  // What was asked.
  std::vector<std::string> messages, questions, save_dirs, proposed_names;
  std::vector<std::string> directory_starts;
  std::vector<QUrl> opened;
  std::vector<std::string> open_dirs;
  int modal_count = 0;
  int beeps = 0;
  int font_dialogs = 0;
  int hourglass_on = 0;
  bool hourglass = false;

  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  // Messages that may hold characters Windows-1252 lacks, as shown.
  QStringList text_messages;
  void ShowMessageText(const QString& text) override { text_messages.push_back(text); }
  app::TAnswer AskYesNoCancel(const std::string& text) override {
    questions.push_back(text);
    if (answers.empty()) return app::TAnswer::kCancel;
    const app::TAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  bool SelectDirectory(std::string& dir) override {
    directory_starts.push_back(dir);
    if (directories.empty()) return false;
    const std::optional<std::string> d = directories.front();
    directories.pop_front();
    if (!d) return false;
    dir = *d;
    return true;
  }
  std::optional<std::string> SaveFileName(const forms::TFileDialogDef&, const std::string& dir,
                                          const std::string& name) override {
    save_dirs.push_back(dir);
    proposed_names.push_back(name);
    if (save_names.empty()) return std::nullopt;
    const std::optional<std::string> n = save_names.front();
    save_names.pop_front();
    return n;
  }
  std::optional<std::string> OpenFileName(const forms::TFileDialogDef&, const std::string& dir) override {
    open_dirs.push_back(dir);
    if (open_names.empty()) return std::nullopt;
    const std::optional<std::string> n = open_names.front();
    open_names.pop_front();
    return n;
  }
  bool ChooseFont(memo::TMemoFont& font) override {
    ++font_dialogs;
    if (!font_choice) return false;
    font = *font_choice;
    return true;
  }
  void Beep() override { ++beeps; }
  int ShowModal(QDialog& form) override {
    ++modal_count;
    return on_modal ? on_modal(form) : QDialog::Accepted;
  }
  void SetHourglass(bool on) override {
    if (on) ++hourglass_on;
    hourglass = on;
  }
  bool OpenUrl(const QUrl& url) override {
    opened.push_back(url);
    return open_result;
  }
};

// Counts the paint events each widget receives while it lives.
class PaintCounter : public QObject {
public:
  PaintCounter() { QCoreApplication::instance()->installEventFilter(this); }
  ~PaintCounter() override { QCoreApplication::instance()->removeEventFilter(this); }
  int Of(const QObject* widget) const {
    const auto it = counts_.find(widget);
    return it == counts_.end() ? 0 : it->second;
  }
  // Pixels painted (the painted regions' areas added up).
  int64_t Area(const QObject* widget) const {
    const auto it = areas_.find(widget);
    return it == areas_.end() ? 0 : it->second;
  }
  int Total() const {
    int total = 0;
    for (const auto& [widget, n] : counts_) total += n;
    return total;
  }
  // Widgets painted at least once.
  int Widgets() const { return static_cast<int>(counts_.size()); }
  void Clear() {
    counts_.clear();
    areas_.clear();
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    ++counts_[watched];
    for (const QRect& r : static_cast<QPaintEvent*>(event)->region()) areas_[watched] += int64_t{r.width()} * r.height();
    return false;
  }

private:
  std::map<const QObject*, int> counts_;
  std::map<const QObject*, int64_t> areas_;
};

// What the window's backing store holds, as the screen shows it.
inline QImage OnScreen(QWidget& window) {
  return window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

// The window as a full repaint draws it (it is then on screen so).
inline QImage FullyRepainted(QWidget& window) {
  window.update();
  window.repaint();
  return OnScreen(window);
}

inline std::string SamplesDir() { return std::string(QV_SOURCE_DIR) + "/samples/registers"; }

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

class WindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    ASSERT_FALSE(scratch.Path().empty());
    dir = scratch.path();
    WriteFile(dir / "Quorvane.INI",
              "[Directories]\r\nSearch=" + SamplesDir() + "\r\nSave=" + dir.string() + "\r\n");
    Open();
  }
  void TearDown() override {
    window.reset();
    QApplication::processEvents();
  }

  void Open() {
    window = std::make_unique<app::TBaptisms>(prompts, dir.string());
    form2 = new app::TForm2(window->Ticks(), window.get());
    window->SetDataFileDialog(form2);
    window->resize(1100, 760);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    Settle();
  }

  void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }

  QCheckBox* Box(int n) { return window->CheckBox[static_cast<size_t>(n - 1)]; }
  // Ticks or unticks a box with a mouse click, as the user would.
  void SetBox(int n, bool ticked) {
    if (Box(n)->isChecked() != ticked) QTest::mouseClick(Box(n), Qt::LeftButton, {}, QPoint(8, Box(n)->height() / 2));
    ASSERT_EQ(Box(n)->isChecked(), ticked) << "CheckBox" << n;
  }
  void Type(const char* text) {
    window->Edit2->clear();
    QTest::keyClicks(window->Edit2, QString::fromLatin1(text));
  }
  void PressSearch() { QTest::mouseClick(window->Button1, Qt::LeftButton); }

  memo::TVellMemo& Page() { return window->vm0->Memo(); }
  std::vector<std::string> PageLines() {
    std::vector<std::string> lines;
    for (int i = 0; i < Page().GetParCount(); ++i) lines.push_back(Page().getParagraphs(i));
    return lines;
  }
  std::string Status() { return window->Label5->text().toStdString(); }

  // ---- pages ----
  void Search(const char* text) {
    Type(text);
    PressSearch();
    Settle();
  }
  memo::TVellMemo& Current() { return window->CurrentMemo()->Memo(); }
  static std::vector<std::string> LinesOf(memo::TVellMemo& m) {
    std::vector<std::string> lines;
    for (int i = 0; i < m.GetParCount(); ++i) lines.push_back(m.getParagraphs(i));
    return lines;
  }
  std::vector<std::string> CurrentLines() { return LinesOf(Current()); }
  int Pages() { return window->PageControl1->count(); }
  int ActivePage() { return window->PageControl1->currentIndex(); }
  void Trigger(const char* item) { window->Action(item)->trigger(); }
  // The first paragraph of m holding text, or -1.
  static int ParHolding(memo::TVellMemo& m, const std::string& text) {
    for (int i = 0; i < m.GetParCount(); ++i)
      if (m.getParagraphs(i).find(text) != std::string::npos) return i;
    return -1;
  }
  // Copies the sample registers into the test folder and makes it the
  // source folder, so that tests may write data files.
  fs::path UseCopiedRegisters() {
    const fs::path regs = dir / "regs";
    fs::create_directories(regs);
    for (const auto& entry : fs::directory_iterator(SamplesDir())) fs::copy_file(entry.path(), regs / entry.path().filename());
    WriteFile(dir / "Quorvane.INI", "[Directories]\r\nSearch=" + regs.string() + "\r\nSave=" + dir.string() + "\r\n");
    window->FormActivate();
    return regs;
  }

  qvtest::TempDir scratch;  // removed after TearDown
  fs::path dir;
  ScriptedPrompts prompts;
  std::unique_ptr<app::TBaptisms> window;
  app::TForm2* form2 = nullptr;  // owned by the window
};

// The state of character offset of paragraph par after highlighting.
inline memo::DynInfoRec CharState(memo::TVellMemo& m, int par, int offset) {
  m.FormatNow(par, par, false);
  return memo::par::StateOfChar(*m.Pars().At(par), offset);
}

inline std::vector<std::string> Items(QListWidget* list) {
  std::vector<std::string> items;
  for (int i = 0; i < list->count(); ++i) items.push_back(list->item(i)->text().toStdString());
  return items;
}

// Whether character offset of paragraph par is painted as a keyword (red).
inline bool RedAt(memo::TVellMemo& m, int par, int offset) {
  const memo::DynInfoRec state = CharState(m, par, offset);
  return (state.flags & 0xC0) != 0 && state.foreground == 255;
}

inline std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  return text;
}

using memo_widget_test::CountPixels;
using memo_widget_test::IsRed;

}  // namespace window_test
