#include "app/baptisms.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QKeyEvent>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "app/core/arrange.h"
#include "app/core/data_file.h"
#include "app/core/first_page.h"
#include "app/core/search_terms.h"
#include "app/data_file_dialog.h"
#include "app/page_text.h"
#include "app/small_dialogs.h"
#include "forms/small_dialogs.h"
#include "memo/print/memo_printer.h"
#include "family/family_box.h"
#include "family/family_tables.h"
#include "platform/gui/text.h"
#include "platform/gui/up_down.h"
#include "platform/runtime/cp1252.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/os_memory.h"

namespace app {
namespace {

// Formatting rectangle message of an edit control.
constexpr std::uint32_t EM_SETRECT = 0x00B3;

// Commands that do nothing by design.
const char* const kNoOpHandlers[] = {"Doublepane1Click", "Showlines1Click"};

// A page's memo draws its frame over its own background: the tab widget
// beneath it (whose frame around all its pages costs as much to draw as a
// page) is then not drawn again when the memo is, as it is at every focus
// change. The frame covers that background, so nothing looks different.
void OpaquePageFrame(memo::TVellMemoControl& control) { control.setAutoFillBackground(true); }

// The first page's lines before the arranged hits, taken out of result.
void TakeHead(PageParts& parts, appcore::SearchResult& result, bool show_source_codes) {
  appcore::FirstPageHead head = appcore::TakeFirstPageHead(result, show_source_codes);
  parts.head = std::move(head.lines);
  parts.head_rest = std::move(head.more);
}

// The characters of text that Windows-1252 lacks, each once, in order.
QString CharactersCp1252Lacks(const QString& text) {
  QString lacking;
  for (const char32_t c : text.toUcs4()) {
    if (c < 0x80) continue;
    const unsigned char byte = rtl::UnicodeToCp1252(c);
    if (byte != '?' && rtl::Cp1252ToUnicode(byte) == c) continue;
    const QString one = QString::fromUcs4(&c, 1);
    if (!lacking.contains(one)) lacking += one;
  }
  return lacking;
}

// The files of the list not read, or read with a note, as one notice for
// the status line: a few, then how many more. A character Windows-1252
// lacks is shown as itself.
QString FilesNotice(const appcore::DataFileSet& files) {
  constexpr size_t kShown = 3;
  const std::vector<appcore::FileNotice>& notices = files.Notices();
  QStringList parts;
  for (size_t i = 0; i < notices.size() && i < kShown; ++i) {
    const appcore::FileNotice& n = notices[i];
    QString part = gui::ToQString("[" + std::to_string(n.number) + "] " + n.name + " " + n.before);
    if (!n.unshowable.empty()) part += "\"" + QString::fromUtf8(n.unshowable) + "\"";
    part += gui::ToQString(n.after);
    parts << part.replace('\n', ' ');
  }
  QString text = parts.join("; ");
  if (notices.size() > kShown)
    text += QString(" and %1 more (see \"Select source files\")").arg(notices.size() - kShown);
  return text.isEmpty() ? text : text + ".";
}

}  // namespace

TBaptisms::TBaptisms(TUserPrompts& prompts, std::string settings_folder, QWidget* parent)
    : forms::TBaptismsForm(parent), prompts_(prompts), settings_(std::move(settings_folder)) {
  // Pages of millions of lines are freed line by line; the window must not
  // stall on the allocator's deferred clean-up afterwards.
  rtl::os::CoalesceFreedMemoryAtOnce();
  // The search's threads fill their heaps at once.
  rtl::os::GrowHeapsInLargeSteps();
  current_memo_ = vm0;
  OpaquePageFrame(*vm0);
  vm0->installEventFilter(this);
  about_box_ = new TAboutBox(this);
  sex_dlg_ = new forms::TGetSexDlgForm(this);
  password_dlg_ = new forms::TPasswordDlgForm(this);
  find_dialog_ = new forms::TFindDialogForm(this);
  replace_dialog_ = new forms::TReplaceDialogForm(this);
  printer_ = std::make_unique<memo::TVellMemoPrinter>();
  printer_->setLeftMargin(0.5);
  printer_->setRightMargin(0.5);
  printer_->setTopMargin(0.5);
  printer_->setBottomMargin(0.5);
  printer_->setPlainText(true);
  // Long records wrap on paper instead of running off its edge.
  printer_->OnFormatPrint = [](memo::TVellMemo* sender) { sender->SetWordWrap(true); };
  printer_->setVellMemo(&vm0->Memo());
  MakeFamilyBox();
  WireHandlers();
  connect(qApp, &QGuiApplication::focusWindowChanged, this, &TBaptisms::FocusWindowChanged);
}

TBaptisms::~TBaptisms() { CloseFamilyTables(); }

void TBaptisms::WireHandlers() {
  forms::THandlerTable h;
  h.Set("FormActivate", [this] { FormActivate(); });
  h.SetClose("FormClose", [this] { return FormClose(); });
  h.Set("FormResize", [this] { FormResize(); });
  h.Set("Edit2Change", [this] { Edit2Change(); });
  h.Set("Button1Click", [this] { Button1Click(); });
  h.Set("Button3Click", [this] { Button3Click(); });
  h.Set("PageControl1Change", [this] { PageControl1Change(); });
  h.Set("vm0Change", [this] { vm0Change(); });
  h.Set("SelectSourceDir1Click", [this] { SelectSourceDir1Click(); });
  h.Set("SelectSaveDir1Click", [this] { SelectSaveDir1Click(); });
  h.Set("Selectsourcefiles1Click", [this] { Selectsourcefiles1Click(); });
  h.Set("Datafilelist1Click", [this] { Selectsourcefiles1Click(); });
  h.Set("Saveas1Click", [this] { Saveas1Click(); });
  h.Set("Showsourcecodes1Click", [this] { Showsourcecodes1Click(); });
  h.Set("Contents1Click", [this] { Contents1Click(); });
  h.Set("Undo1Click", [this] { Undo1Click(); });
  h.Set("Cut1Click", [this] { Cut1Click(); });
  h.Set("Copy1Click", [this] { Copy1Click(); });
  h.Set("Paste1Click", [this] { Paste1Click(); });
  h.Set("Newsheet1Click", [this] { Newsheet1Click(); });
  h.Set("Opentextfile1Click", [this] { Opentextfile1Click(); });
  h.Set("Savetextfile1Click", [this] { Savetextfile1Click(); });
  h.Set("Closefile1Click", [this] { Closefile1Click(); });
  h.Set("Copytonewsheet1Click", [this] { Copytonewsheet1Click(); });
  h.Set("Editline1Click", [this] { Editline1Click(); });
  h.Set("Resetfilelist1Click", [this] { Resetfilelist1Click(); });
  h.Set("SortbyHusband1Click", [this] { SortbyHusband1Click(forms::EventSender()); });
  h.Set("Sortgroupsbydate1Click", [this] { Sortgroupsbydate1Click(); });
  h.Set("SortbyMother1Click", [this] { ArrangeMClick(); });
  h.Set("Find1Click", [this] { Find1Click(); });
  h.Set("FindAgain1Click", [this] { FindAgain1Click(); });
  h.Set("Replace1Click", [this] { Replace1Click(); });
  h.Set("Highlight1Click", [this] { Highlight1Click(); });
  h.Set("Changefont1Click", [this] { Changefont1Click(); });
  h.Set("Wordwrap1Click", [this] { Wordwrap1Click(); });
  h.Set("Print1Click", [this] { Print1Click(); });
  h.Set("Help1Click", [this] { Help1Click(); });
  h.Set("Setaschildren1Click", [this] { Setaschildren1Click(); });
  h.Set("Setaschildren2Click", [this] { Setaschildren2Click(); });
  h.Set("Button7Click", [this] { Button7Click(); });
  h.Set("FfbtnClick", [this] { FfbtnClick(forms::EventSender()); });
  h.Set("wfbtnClick", [this] { wfbtnClick(forms::EventSender()); });
  h.Set("FsibbtnClick", [this] { FsibbtnClick(forms::EventSender()); });
  h.Set("WspousebtnClick", [this] { WspousebtnClick(forms::EventSender()); });
  h.Set("BitBtn2Click", [this] { BitBtn2Click(); });
  h.Set("ListBox1Click", [this] { ListBox1Click(); });
  h.Set("FillFamilyClick", [this] { FillFamilyClick(); });
  h.Set("UpDown1Click", [this] {
    QObject* sender = forms::EventSender();
    auto* arrows = dynamic_cast<gui::TUpDown*>(sender);
    UpDown1Click(sender, arrows ? arrows->LastButton() : gui::btNext);
  });
  h.Set("ClearDataClick", [this] { ClearDataClick(); });
  h.Set("ShowFamsClick", [this] { ShowFamsClick(); });
  h.Set("Showfamilybox1Click", [this] { Showfamilybox1Click(); });
  h.Set("Showfamily1Click", [this] { Showfamily1Click(); });
  h.Set("Henrylist1Click", [this] { Henrylist1Click(); });
  h.Set("CreateGEDCOM1Click", [this] { CreateGEDCOM1Click(); });
  for (const char* name : kNoOpHandlers) h.Set(name, [] {});
  unwired_ = Connect(h);
}

void TBaptisms::SetDataFileDialog(TForm2* dialog) {
  form2_ = dialog;
  if (form2_) form2_->Refill(files_.ListItems(), files_.LeftOut());
}

// ---- activation ----

void TBaptisms::showEvent(QShowEvent* event) {
  forms::TBaptismsForm::showEvent(event);
  if (first_shown_) return;
  first_shown_ = true;
  // Start-up: the first activation, once the window is on screen.
  QTimer::singleShot(0, this, [this] { FireActivate(); });
}

void TBaptisms::FocusWindowChanged(QWindow* now) {
  QWindow* previous = previous_focus_;
  previous_focus_ = now;
  if (now == nullptr || now != windowHandle() || previous == nullptr || previous == now) return;
  // Menus, tool tips and modal dialogs do not count: modal dialogs are
  // followed by an activation of their own (RunModal).
  const Qt::WindowType type = previous->type();
  if (type != Qt::Window && type != Qt::Dialog && type != Qt::Tool) return;
  if (previous->modality() != Qt::NonModal) return;
  // The find and replace dialogs are the system's, not forms of the program.
  for (QDialog* dialog : {static_cast<QDialog*>(find_dialog_), static_cast<QDialog*>(replace_dialog_)})
    if (dialog != nullptr && previous == dialog->windowHandle()) return;
  FireActivate();
}

int TBaptisms::RunModal(QDialog& dialog) {
  const int result = prompts_.ShowModal(dialog);
  AfterDialog();
  return result;
}

void TBaptisms::AfterDialog() { FireActivate(); }

void TBaptisms::FormActivate() {
  if (activating_) return;
  if (searching_) {
    activate_after_search_ = true;
    return;
  }
  activating_ = true;
  ++activation_count_;
  const int page = PageControl1->currentIndex();
  current_memo_ = page > 0 && PageMemo(page) ? PageMemo(page) : vm0;
  settings_.Read();
  MakeFileList();
  activating_ = false;
  ShowPendingMessages();
}

bool TBaptisms::MakeFileList() {
  // The files are read on other threads while the window answers, with
  // Cancel offered; a cancelled build leaves the list as it was.
  const bool nested = searching_;
  const QString caption = Button1->text();
  // No hourglass: the window answers, and "Loading" with Cancel says why.
  if (!nested) BeginLongWork(false);
  Button1->setText("Loading");
  // Each file's words are cut on the thread that read it, at load, so that
  // no fuzzy search waits for them.
  const bool built = files_.MakeFileList(
      settings_.SearchDir(), settings_.Folder(), [this](const std::string& m) { Report(m); },
      [](int, const appcore::DataFileEntry& entry) {
        const appcore::FileKind kind = entry.kind;
        if (kind != appcore::FileKind::kBaptisms && kind != appcore::FileKind::kOther) return;
        try {
          entry.data->Words();
        } catch (...) {
          // Left to the first search that needs them, which reports its failure.
        }
      },
      [this] { return PumpEvents(); });
  if (built) {
    // Arranging's threads, started now rather than in the first search.
    const size_t threads = std::max(1U, std::thread::hardware_concurrency());
    arrange_crew_.Run(threads, threads, [](size_t, bool) {});
    // What reading and indexing the files freed goes back now: the first
    // search's own give-back (on its click's path) then finds little left.
    rtl::os::ReturnFreedMemory();
    ticks_.Follow(files_.Paths());
    if (form2_) form2_->Refill(files_.ListItems(), files_.LeftOut());
    // Files left out (read-only, hidden, no plain file, no text), files
    // not read or read with a note, or an empty list are said in the
    // status line, one notice for all, never passed over in silence. A notice
    // gives way to the next one; a search's status stays.
    QString notice = gui::ToQString(files_.LeftOutNotice());
    const QString noted = FilesNotice(files_);
    if (!noted.isEmpty()) notice = notice.isEmpty() ? noted : notice + "   " + noted;
    if (!notice.isEmpty() || Label5->text() == list_notice_) Label5->setText(notice);
    list_notice_ = notice;
  } else {
    list_notice_ = "Loading the data files was cancelled; the list is as it was.";
    Label5->setText(list_notice_);
  }
  if (!nested) EndLongWork();
  else Button1->setText(caption);
  return built;
}

void TBaptisms::Report(const std::string& message) { pending_messages_.push_back(message); }

void TBaptisms::ShowPendingMessages() {
  std::vector<std::string> messages;
  messages.swap(pending_messages_);
  for (const std::string& m : messages) prompts_.ShowMessage(m);
}

// ---- shut-down and resizing ----

bool TBaptisms::FormClose() {
  if (searching_) {
    // Stop the search first; the window closes when it has ended.
    cancel_flag_ = true;
    close_after_search_ = true;
    return false;
  }
  if (!MayDiscardMainText()) return false;
  for (int page = 1; page < PageControl1->count(); ++page) {
    memo::TVellMemoControl* page_memo = PageMemo(page);
    if (page_memo == nullptr) continue;
    current_memo_ = page_memo;
    PageControl1->setCurrentIndex(page);
    if (!page_memo->Memo().Modified) continue;
    switch (prompts_.AskYesNoCancel("Save changes to this file?")) {
      case TAnswer::kYes:
        if (!SavePage(*page_memo, page)) return false;
        break;
      case TAnswer::kNo:
        break;
      case TAnswer::kCancel:
        return false;
    }
  }
  return true;
}

void TBaptisms::FormResize() {
  if (current_memo_ == nullptr) return;
  // Left 10, top 10, right and bottom 20 short of the memo's size.
  memo::TRect rect{10, 10, current_memo_->width() - 20, current_memo_->height() - 20};
  current_memo_->Perform(EM_SETRECT, 0, reinterpret_cast<std::intptr_t>(&rect));
}

// ---- pages ----

memo::TVellMemoControl* TBaptisms::PageMemo(int page) const {
  QWidget* sheet = PageControl1->widget(page);
  if (sheet == nullptr) return nullptr;
  // The last memo of the page. The memo control has no meta-object of its
  // own, so findChildren alone would also take other scroll areas.
  memo::TVellMemoControl* found = nullptr;
  for (QWidget* child : sheet->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (auto* control = dynamic_cast<memo::TVellMemoControl*>(child)) found = control;
  return found;
}

memo::TVellMemoControl* TBaptisms::AddTab(const std::string& caption) {
  auto* sheet = new QWidget(PageControl1);
  auto* layout = new QHBoxLayout(sheet);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* control = new memo::TVellMemoControl(sheet);
  ApplyPageMemoSettings(*control, PopupMenu1);
  OpaquePageFrame(*control);
  control->installEventFilter(this);
  control->Memo().SetFont(vm0->Memo().Font());
  layout->addWidget(MakePageGutter(sheet, *control));
  layout->addWidget(control, 1);
  control->Memo().OnChange = [this, sheet](memo::TVellMemo*) {
    MarkPage(PageControl1->indexOf(sheet), 1);
  };
  const int page = PageControl1->addTab(sheet, ImageList1[0], QString());
  SetPageCaption(page, caption);
  PageControl1->tabBar()->setTabData(page, 0);
  PageControl1->setCurrentIndex(page);
  current_memo_ = control;
  MovePanel3(page);
  return control;
}

void TBaptisms::SetMod(int state) { MarkPage(PageControl1->currentIndex(), state); }

void TBaptisms::MarkPage(int page, int state) {
  if (page < 0) return;
  QTabBar* tabs = PageControl1->tabBar();
  const int mark = state != 0 ? 1 : 0;
  if (page < tabs->count() && tabs->tabData(page).isValid() && tabs->tabData(page).toInt() == mark) return;
  // Through the tab bar, which draws the one tab again; the tab widget would
  // lay itself out and draw all of itself again (its frame around the page
  // costs as much as the page).
  tabs->setTabIcon(page, ImageList1[static_cast<size_t>(mark)]);
  tabs->setTabData(page, mark);
}

int TBaptisms::PageMark(int page) const { return PageControl1->tabBar()->tabData(page).toInt(); }

void TBaptisms::vm0Change() {
  // vm0 changed: its own page is marked, whichever page is active.
  MarkPage(0, 1);
  if (!filling_main_) main_edited_ = true;
}

bool TBaptisms::MayDiscardMainText() {
  if (!main_edited_) return true;
  switch (prompts_.AskYesNoCancel("Save the changes made on \"Main text\"? Otherwise they are lost.")) {
    case TAnswer::kYes:
      if (!SavePage(*vm0, 0)) return false;
      break;
    case TAnswer::kNo:
      break;
    case TAnswer::kCancel:
      return false;
  }
  main_edited_ = false;
  return true;
}

void TBaptisms::PageControl1Change() {
  const int page = PageControl1->currentIndex();
  memo::TVellMemoControl* page_memo = page > 0 ? PageMemo(page) : nullptr;
  current_memo_ = page_memo ? page_memo : vm0;
  ged_current_ = false;
  if (QAction* close = Action("Closefile1")) close->setEnabled(page > 0);
  current_memo_->setFocus();
  MovePanel3(page);
}

// ---- folders and data files ----

void TBaptisms::SelectSourceDir1Click() {
  if (searching_) return;  // the search reads the loaded files
  std::string dir = settings_.SearchDir();
  prompts_.SelectDirectory(dir);
  try {
    // Written also when the dialog was cancelled.
    settings_.WriteSearchDir(dir);
  } catch (const rtl::Exception& e) {
    Report(e.Message());
  }
  MakeFileList();
  ShowPendingMessages();
}

void TBaptisms::SelectSaveDir1Click() {
  std::string dir = settings_.SaveDir();
  prompts_.SelectDirectory(dir);
  try {
    settings_.WriteSaveDir(dir);
  } catch (const rtl::Exception& e) {
    prompts_.ShowMessage(e.Message());
  }
}

void TBaptisms::Selectsourcefiles1Click() {
  if (form2_) RunModal(*form2_);
}

void TBaptisms::Showsourcecodes1Click() {
  // The item's check mark has toggled; "Edit original line" in the popup follows it.
  if (QAction* popup_item = Action("Editline2")) popup_item->setEnabled(Action("Showsourcecodes1")->isChecked());
}

// ---- help ----

std::string TBaptisms::HelpFile() const {
  // Beside the program, then in its installed data folder (found from the
  // program's own place, so that a moved installation finds it too).
  const QString exe_dir = QCoreApplication::applicationDirPath();
  QStringList candidates = {exe_dir + "/help.html", exe_dir + "/docs/help.html",
                            exe_dir + "/../share/quorvane/help.html"};
#ifdef QV_DATA_DIR
  candidates << QString::fromUtf8(QV_DATA_DIR) + "/help.html";
#endif
  for (const QString& path : candidates)
    if (QFileInfo(path).isFile()) return QFileInfo(path).absoluteFilePath().toStdString();
  return {};
}

void TBaptisms::Contents1Click() {
  const std::string path = HelpFile();
  if (path.empty()) {
    prompts_.ShowMessage("The help file help.html was not found.");
    return;
  }
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
  url.setFragment("contents");  // help context 10: the contents
  if (!prompts_.OpenUrl(url))
    prompts_.ShowMessage("No browser could be started to show the help. Open this file in a browser: " +
                         rtl::Utf8ToCp1252(path));
}

// ---- edit commands ----

void TBaptisms::Undo1Click() { current_memo_->Memo().Undo(); }
void TBaptisms::Cut1Click() {
  if (current_memo_->Memo().getSelLength() != 0) current_memo_->CutToClipboard();
}
void TBaptisms::Copy1Click() {
  if (current_memo_->Memo().getSelLength() != 0) current_memo_->CopyToClipboard();
}
void TBaptisms::Paste1Click() {
  if (MayPaste()) current_memo_->PasteFromClipboard();
}

bool TBaptisms::MayPaste() {
  const QString lacking = CharactersCp1252Lacks(QGuiApplication::clipboard()->text());
  if (lacking.isEmpty()) return true;
  QStringList each;
  for (const char32_t c : lacking.toUcs4()) each << "\"" + QString::fromUcs4(&c, 1) + "\"";
  prompts_.ShowMessageText(
      "Nothing was pasted: the text holds characters that pages, kept in Windows-1252, cannot hold: " +
      each.join(' ') +
      ". They would stand as \"?\", which in a register means an unreadable character. Write them with "
      "letters Windows-1252 has and paste again.");
  return false;
}

bool TBaptisms::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && dynamic_cast<memo::TVellMemoControl*>(watched) != nullptr) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool paste = key->matches(QKeySequence::Paste) ||
                       (key->key() == Qt::Key_Insert && key->modifiers() == Qt::ShiftModifier);
    if (paste && !MayPaste()) return true;
  }
  return forms::TBaptismsForm::eventFilter(watched, event);
}

// ---- search ----

void TBaptisms::Edit2Change() { current_memo_->Memo().setSelLength(0); }

void TBaptisms::Button3Click() {
  if (Button3->isVisible()) cancel_flag_ = true;
}

bool TBaptisms::PumpEvents() {
  if (paint_hold_.Held() && std::chrono::steady_clock::now() >= draw_from_) ResumeDrawing();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return !cancel_flag_;
}

void TBaptisms::RunBesideWindow(const std::function<void()>& work) {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  std::exception_ptr failure, pump_failure;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    ended.notify_one();
  });
  std::unique_lock<std::mutex> lock(mutex);
  while (!done) {
    lock.unlock();
    // What an event's handler throws waits for the work, which reads what
    // this frame holds: the work is cancelled and ends first.
    if (!pump_failure) {
      try {
        PumpEvents();
      } catch (...) {
        pump_failure = std::current_exception();
        cancel_flag_ = true;
      }
    }
    lock.lock();
    ended.wait_for(lock, std::chrono::milliseconds(5), [&] { return done; });
  }
  lock.unlock();
  worker.join();
  if (pump_failure) std::rethrow_exception(pump_failure);
  if (failure) std::rethrow_exception(failure);
}

appcore::SearchOptions TBaptisms::ReadOptions() const {
  appcore::SearchOptions o;
  auto ticked = [this](int n) { return CheckBox[static_cast<size_t>(n - 1)]->isChecked(); };
  o.father = ticked(1);
  o.mother = ticked(2);
  o.children = ticked(3);
  o.witness = ticked(4);
  o.fuzzy_father = ticked(5);
  o.fuzzy_mother = ticked(6);
  o.fuzzy_witness = ticked(7);
  o.marriages = ticked(8);
  o.before_1700 = ticked(9);
  o.from_1700 = ticked(10);
  o.text_box = ticked(11);
  o.fuzzy_text = ticked(12);
  o.show_source_codes = Action("Showsourcecodes1")->isChecked();
  o.ticked = ticks_.Vector();
  return o;
}

void TBaptisms::Button1Click() {
  if (searching_) return;  // one search at a time
  if (!MayDiscardMainText()) return;
  // A register changed on disk since it was read is read again first: a
  // search never reads a register cut short or rewritten meanwhile.
  if (files_.AnyChanged()) {
    MakeFileList();
    ShowPendingMessages();
  }
  memo::TVellMemo& current = current_memo_->Memo();
  const std::string typed = gui::ToCp1252(Edit2->text());
  const std::string text = appcore::SearchTextFor(typed, current.getSelText());
  if (text != typed) Edit2->setText(gui::ToQString(text));
  current.setSelLength(0);

  // The search always writes into the first page.
  PageControl1->setCurrentIndex(0);
  current_memo_ = vm0;
  memo::TVellMemo& page = vm0->Memo();
  BeginLongWork();
  HoldDrawing();
  // Drawn again however the search ends, a failure thrown out of it too.
  struct Resume {
    TBaptisms* window;
    ~Resume() { window->ResumeDrawing(); }
  } resume{this};
  Button1->setText("Searching");
  const appcore::SearchTerms terms = appcore::ParseSearchText(text);
  term1_ = terms.term1;
  Label2->setText(gui::ToQString(terms.label_key1));
  Label3->setText(terms.two_terms ? gui::ToQString(terms.label_key2) : QString());
  VellMemo2->Clear();
  // What the search writes on the page is no edit of the user's.
  filling_main_ = true;
  struct Filled {
    TBaptisms* window;
    ~Filled() {
      window->filling_main_ = false;
      window->main_edited_ = false;
    }
  } filled{this};
  SetPageKeywords(page, {terms.term1, terms.term2});
  page.Clear();
  // The last search's hits give way to this one's, cancelled or not.
  appcore::DiscardLines(std::move(hit_list_));
  hit_list_.clear();
  // What the last page and hits held goes back before the search's threads
  // fill heaps of their own.
  rtl::os::ReturnFreedMemory();

  appcore::SearchOptions options = ReadOptions();
  options.search_text = text;
  std::string shown;
  const appcore::ProgressFn progress = [&](const appcore::SearchProgress& p) {
    if (p.searching != shown) {
      shown = std::string(p.searching);
      SetPageLines(page, {shown});
    }
    return PumpEvents();
  };
  appcore::SearchResult result = appcore::RunSearch(files_, options, progress);
  key_length_ = result.key_length;
  Label2->setText(gui::ToQString(result.key1_label));
  Label3->setText(result.terms.two_terms ? gui::ToQString(result.key2_label) : QString());

  // The hits are kept once, for "Sort by Mother" too: the page reads the
  // arranged hits from them in place.
  hit_list_ = std::move(result.baptism_hits);
  appcore::ArrangedRows arranged;
  PageParts parts;
  if (!result.cancelled) {
    // Files left out of the list stay said after the search's count.
    QString status = gui::ToQString(appcore::StatusText(result));
    if (!list_notice_.isEmpty()) status += "   " + list_notice_;
    Label5->setText(status);
    // The lines before the hits do not wait for arranging.
    TakeHead(parts, result, options.show_source_codes);
    Button1->setText("Arranging");
    // The page is filled once, when the hits are arranged: no interim page
    // of the other hits to lay out and throw away.
    std::vector<std::string> reports;
    appcore::ArrangeCallbacks callbacks;
    callbacks.progress = [this](int64_t) { return !cancel_flag_; };
    callbacks.report = [&reports](const std::string& m) { reports.push_back(m); };
    callbacks.crew = &arrange_crew_;
    // Meanwhile this thread (with a few helpers) copies the page's texts,
    // which the page then only places, the hits in their arranged order,
    // freeing the head's lines as they are copied. Arranging goes to a helper of the
    // kept crew, already waiting, not to a thread started for it (which
    // could wait milliseconds for a core while the copies take them all):
    // when no helper comes first, this thread arranges after the copies.
    appcore::Pacer preparing([this] { return PumpEvents(); });
    std::atomic<bool> copies_taken{false}, arranging_taken{false};
    // What drawing the window throws waits for arranging to end (it reads
    // what this thread holds), then goes on.
    std::exception_ptr pump_failure;
    arrange_crew_.Run(
        2, 2,
        [&](size_t, bool on_caller) {
          // The copies' pacer pumps the window's events: this thread's alone.
          if (on_caller && !copies_taken.exchange(true)) {
            PrepareTexts(parts, hit_list_, &preparing, &arrange_crew_);
          } else if (!arranging_taken.exchange(true)) {
            arranged = appcore::ArrangeRows(hit_list_, result.key_length, callbacks);
          }
        },
        [&] {
          if (pump_failure) return;
          try {
            PumpEvents();
          } catch (...) {
            pump_failure = std::current_exception();
          }
        },
        appcore::kProgressIntervalMs);
    if (pump_failure) std::rethrow_exception(pump_failure);
    for (const std::string& m : reports) Report(m);
  }
  // Written whole (Cancel would lose the hits), with the window answering.
  Button3->setVisible(false);
  appcore::Pacer writing([this] {
    PumpEvents();
    return true;
  });
  if (result.cancelled) TakeHead(parts, result, options.show_source_codes);
  if (!result.cancelled && !arranged.cancelled) {
    parts.hits = &hit_list_;
    parts.rows = std::move(arranged.rows);
    parts.crew = &arrange_crew_;
  }
  // What the search and arranging freed goes back before the page grows.
  rtl::os::ReturnFreedMemory();
  // The keywords first: the page's first screen is highlighted as it is
  // laid out, once.
  SetPageKeywords(page, result.keywords);
  const bool written = SetPageParts(page, std::move(parts), &writing);
  if (!written) page.ReApplyKeywords();
  ResumeDrawing();
  vm0->viewport()->update();

  page.Modified = true;
  vm0Change();
  appcore::DiscardLines(std::move(result.marriage_hits));
  EndLongWork();
}

void TBaptisms::HoldDrawing() {
  if (paint_hold_.Held()) return;
  draw_from_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kQuietMs);
  paint_hold_.Hold();
}

// Only the controls changed meanwhile are drawn again.
void TBaptisms::ResumeDrawing() { paint_hold_.Release(); }

void TBaptisms::BeginLongWork(bool hourglass) {
  searching_ = true;
  cancel_flag_ = false;
  if (hourglass) prompts_.SetHourglass(true);
  Button3->setVisible(true);
}

void TBaptisms::EndLongWork() {
  ResumeDrawing();
  Button1->setText("Search");
  Button3->setVisible(false);
  prompts_.SetHourglass(false);
  searching_ = false;
  ShowPendingMessages();

  if (activate_after_search_) {
    activate_after_search_ = false;
    FormActivate();
  }
  if (close_after_search_) {
    close_after_search_ = false;
    QTimer::singleShot(0, this, [this] { close(); });
  }
}

}  // namespace app
