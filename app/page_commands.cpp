// The page commands of the main window: new, open, save, close, copy to a
// new page, "Edit original line", "Reset file list", the sort commands and
// "Set as children". Line commands read paragraphs, never wrapped display
// lines, so that word wrap cannot split or merge records.
#include <QAction>
#include <QLayout>
#include <algorithm>
#include <filesystem>
#include <QLineEdit>
#include <QPushButton>
#include <QListWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QVariant>

#include "app/baptisms.h"
#include "app/page_text.h"
#include "app/core/arrange.h"
#include "app/core/pacer.h"
#include "app/core/highlight_words.h"
#include "app/core/page_file.h"
#include "app/core/page_names.h"
#include "app/core/sort_commands.h"
#include "app/core/source_tags.h"
#include "family/show_children.h"
#include "platform/gui/text.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/strings.h"

namespace app {
namespace {

// Page properties kept on the page's sheet.
// File names and paths are kept as the file system's bytes.
constexpr const char* kNameProperty = "qvPageName";
constexpr const char* kFileProperty = "qvPageFile";
constexpr const char* kLinkProperty = "qvDataLink";
constexpr const char* kStampProperty = "qvFileStamp";
constexpr const char* kFormProperty = "qvTextForm";

std::string BytesProperty(const QWidget* sheet, const char* name) {
  return sheet ? sheet->property(name).toByteArray().toStdString() : std::string();
}

// A free name beside path for a page that may not replace it:
// "name (edited).txt", then "name (edited 2).txt" and so on. Such a name
// no longer ends like a register's, so the copy is never searched twice.
std::string BesidePath(const std::string& path) {
  const std::string ext = rtl::ExtractFileExt(path);
  const std::string stem = path.substr(0, path.size() - ext.size());
  for (int n = 1;; ++n) {
    const std::string candidate = stem + (n == 1 ? " (edited)" : " (edited " + std::to_string(n) + ")") + ext;
    if (!rtl::FileExists(candidate)) return candidate;
  }
}

}  // namespace

// ---- page helpers ----

void TBaptisms::SetPageStamp(int page, const appcore::FileStamp& stamp) {
  if (QWidget* sheet = PageControl1->widget(page))
    sheet->setProperty(kStampProperty, QVariantList{QVariant::fromValue<qint64>(stamp.size),
                                                    QVariant::fromValue<qint64>(stamp.mtime_ns),
                                                    QVariant::fromValue<quint64>(stamp.inode),
                                                    QVariant::fromValue<quint64>(stamp.device)});
}

std::optional<appcore::FileStamp> TBaptisms::PageStamp(int page) const {
  const QWidget* sheet = PageControl1->widget(page);
  const QVariantList v = sheet ? sheet->property(kStampProperty).toList() : QVariantList();
  if (v.size() != 4) return std::nullopt;
  return appcore::FileStamp{v[0].toLongLong(), v[1].toLongLong(), v[2].toULongLong(), v[3].toULongLong()};
}

void TBaptisms::SetPageForm(int page, const appcore::TextForm& form) {
  const int bits = (form.utf8 ? 1 : 0) | (form.bom ? 2 : 0) | (form.final_line_end ? 4 : 0);
  if (QWidget* sheet = PageControl1->widget(page)) sheet->setProperty(kFormProperty, bits);
}

appcore::TextForm TBaptisms::PageForm(int page) const {
  const QWidget* sheet = PageControl1->widget(page);
  const int bits = sheet ? sheet->property(kFormProperty).toInt() : 0;
  return appcore::TextForm{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
}

std::string TBaptisms::PageCaption(int page) const {
  if (page > 0) return BytesProperty(PageControl1->widget(page), kNameProperty);
  QString caption = PageControl1->tabText(page);
  caption.remove('&');
  return gui::ToCp1252(caption);
}

void TBaptisms::SetPageCaption(int page, const std::string& name) {
  QWidget* sheet = PageControl1->widget(page);
  if (sheet == nullptr) return;
  sheet->setProperty(kNameProperty, QByteArray::fromStdString(name));
  QString shown = gui::PathToQString(name);
  PageControl1->setTabText(page, shown.replace('&', "&&"));
}

std::string TBaptisms::PageFile(int page) const { return BytesProperty(PageControl1->widget(page), kFileProperty); }

void TBaptisms::SetPageFile(int page, const std::string& path) {
  if (QWidget* sheet = PageControl1->widget(page)) sheet->setProperty(kFileProperty, QByteArray::fromStdString(path));
}

int TBaptisms::PageDataLink(int page) const {
  QWidget* sheet = PageControl1->widget(page);
  return sheet ? sheet->property(kLinkProperty).toInt() : 0;
}

int TBaptisms::FindPage(const std::string& caption) const {
  for (int page = 1; page < PageControl1->count(); ++page)
    if (PageCaption(page) == caption) return page;
  return -1;
}

void TBaptisms::MovePanel3(int page) {
  if (Panel3->isHidden()) return;  // shown only by the family box's own commands
  QWidget* sheet = PageControl1->widget(page);
  if (sheet == nullptr || Panel3->parentWidget() == sheet) return;
  Panel3->setParent(sheet);
  if (sheet->layout()) sheet->layout()->addWidget(Panel3);
  Panel3->setVisible(true);
}

void TBaptisms::EnablePageItems() {
  for (const char* name : {"Savetextfile1", "Saveas1", "Print1"})
    if (QAction* item = Action(name)) item->setEnabled(true);
}

bool TBaptisms::LoadLines(const std::string& path, std::vector<std::string>& lines, appcore::Pacer* pacer,
                          appcore::TextForm* form) {
  try {
    // Split as a string list splits, in steps, without a copy of the file.
    return appcore::ReadPageLines(path, lines, pacer, form);
  } catch (const rtl::Exception& e) {
    prompts_.ShowMessage(e.Message());
  } catch (const std::exception& e) {
    prompts_.ShowMessage(e.what());
  }
  return false;
}

// ---- New page, open, save, close ----

void TBaptisms::Newsheet1Click() {
  ++page_counter_;
  const std::string name = appcore::NewPageName(page_counter_);
  AddTab(name);
  current_file_name_ = name;
  EnablePageItems();
  SetMod(1);
  current_memo_->setFocus();
}

void TBaptisms::Opentextfile1Click() {
  const std::optional<std::string> path = prompts_.OpenFileName(OpenDialog1, settings_.SaveDir());
  if (!path) return;
  if (searching_) return;  // one long piece of work at a time
  // Read everything before a page is made: a file that cannot be read
  // leaves the pages as they were. Reading and filling the page turn the
  // event loop and may be cancelled, which leaves no page.
  BeginLongWork();
  appcore::Pacer pacer([this] { return PumpEvents(); });
  std::vector<std::string> lines;
  // The stamp before the read: a change made while it is read is seen at
  // the next save.
  const appcore::FileStamp stamp = appcore::StampOf(*path);
  appcore::TextForm form;
  if (!LoadLines(*path, lines, &pacer, &form)) {
    appcore::DiscardLines(std::move(lines));
    EndLongWork();
    return;
  }
  std::vector<std::string> words;
  try {
    words = appcore::ReadHighlightWords(*path);
  } catch (const rtl::Exception& e) {
    prompts_.ShowMessage(e.Message());
  }
  memo::TVellMemoControl* control = AddTab(rtl::ExtractFileName(*path));
  memo::TVellMemo& m = control->Memo();
  if (!FillNewPage(*control, std::move(lines), pacer)) return;
  SetPageKeywords(m, words);
  if (!words.empty()) {
    prompts_.SetHourglass(true);
    m.ReApplyKeywords();
    prompts_.SetHourglass(false);
  }
  m.setSelStart(0);
  m.Modified = false;
  current_file_name_ = *path;
  SetPageFile(PageControl1->currentIndex(), *path);
  SetPageStamp(PageControl1->currentIndex(), stamp);
  SetPageForm(PageControl1->currentIndex(), form);
  EnablePageItems();
  control->setFocus();
  SetMod(0);
  EndLongWork();
}

bool TBaptisms::FillNewPage(memo::TVellMemoControl& control, std::vector<std::string>&& lines, appcore::Pacer& pacer) {
  QWidget* sheet = control.parentWidget();
  SetPageLines(control.Memo(), std::move(lines), &pacer);
  appcore::DiscardLines(std::move(lines));
  if (!pacer.Cancelled()) return true;
  RemovePage(PageControl1->indexOf(sheet));
  EndLongWork();
  return false;
}

bool TBaptisms::ShowFailure(const std::function<void()>& work) {
  try {
    work();
  } catch (const rtl::Exception& e) {
    prompts_.ShowMessage(e.Message());
    return false;
  } catch (const std::exception& e) {
    prompts_.ShowMessage(e.what());
    return false;
  }
  return true;
}

bool TBaptisms::MayReplace(const std::string& path) {
  // A file without any write bit is replaced only when the user says so
  // (root could write it without a word).
  return !appcore::IsReadOnlyFile(path) ||
         prompts_.AskYesNoCancel("\"" + rtl::PathToText(rtl::ExtractFileName(path)) + "\" is read-only. Replace it?") ==
             TAnswer::kYes;
}

std::optional<std::string> TBaptisms::WritePage(memo::TVellMemoControl& page_memo, int page,
                                                 const std::string& path) {
  memo::TVellMemo& m = page_memo.Memo();
  // The page's own file changed on disk since the page read or saved it
  // (another program wrote it): never written over without a word.
  const std::optional<appcore::FileStamp> stamp = PageStamp(page);
  if (stamp && path == PageFile(page) && appcore::StampOf(path).size >= 0 && !(appcore::StampOf(path) == *stamp)) {
    const std::string name = rtl::PathToText(rtl::ExtractFileName(path));
    const std::string beside = BesidePath(path);
    switch (prompts_.AskYesNoCancel(
        "\"" + name + "\" was changed by another program after this page was opened or saved; saving over it "
        "would lose those changes.\n\nYes: save this page beside it as \"" +
        rtl::PathToText(rtl::ExtractFileName(beside)) +
        "\", keeping both.\nNo: read the file again (the edits on this page are dropped).\nCancel: save nothing.")) {
      case TAnswer::kYes: {
        // The page becomes the copy: no longer the register's page.
        if (QWidget* sheet = PageControl1->widget(page)) sheet->setProperty(kLinkProperty, 0);
        SetPageStamp(page, appcore::FileStamp{});
        return WritePage(page_memo, page, beside);
      }
      case TAnswer::kNo:
        ReloadPage(page_memo, page);
        return std::nullopt;
      case TAnswer::kCancel:
        return std::nullopt;
    }
  }
  if (!MayReplace(path)) return std::nullopt;
  const appcore::TextForm form = PageForm(page);
  const bool written = ShowFailure([&] {
    // Paragraphs, not display lines: word wrap must not break lines in the file.
    appcore::SavePageFile(path, m.Paragraphs()->Text(), form);
    appcore::SaveHighlightWords(path, PageKeywords(m));
  });
  if (!written) return std::nullopt;
  m.Modified = false;
  current_file_name_ = path;
  SetPageFile(page, path);
  SetPageStamp(page, appcore::StampOf(path));
  MarkPage(page, 0);
  return path;
}

void TBaptisms::ReloadPage(memo::TVellMemoControl& page_memo, int page) {
  const std::string path = PageFile(page);
  const appcore::FileStamp stamp = appcore::StampOf(path);
  std::vector<std::string> lines;
  appcore::TextForm form;
  if (!LoadLines(path, lines, nullptr, &form)) return;
  memo::TVellMemo& m = page_memo.Memo();
  SetPageLines(m, std::move(lines));
  m.setSelStart(0);
  m.Modified = false;
  SetPageStamp(page, stamp);
  SetPageForm(page, form);
  MarkPage(page, 0);
}

bool TBaptisms::SavedAsRegister(const std::string& path, int page) const {
  if (appcore::KindFromName(rtl::ExtractFileName(path)) == appcore::FileKind::kNone) return false;
  if (path == PageFile(page) || settings_.SearchDir().empty()) return false;
  std::error_code error;
  return std::filesystem::equivalent(std::filesystem::path(path).parent_path(), settings_.SearchDir(), error);
}

bool TBaptisms::SavePage(memo::TVellMemoControl& page_memo, int page) {
  const int link = PageDataLink(page);
  const std::string& dir = link > 0 ? settings_.SearchDir() : settings_.SaveDir();
  std::string proposed = PageCaption(page);
  std::optional<std::string> path;
  for (;;) {
    path = prompts_.SaveFileName(SaveDialog1, dir, proposed);
    if (!path) return false;
    // A page named like a register in the source folder would be read as
    // one, its lines found twice: only when the user says so.
    if (!SavedAsRegister(*path, page)) break;
    const std::string name = rtl::PathToText(rtl::ExtractFileName(*path));
    const TAnswer answer = prompts_.AskYesNoCancel(
        "\"" + name + "\" is a register's name in the source folder: saved there, this page will be read as a register "
        "and its lines found by every search beside the lines they were copied from.\n\nYes: save it as a register.\n"
        "No: choose another name.\nCancel: save nothing.");
    if (answer == TAnswer::kYes) break;
    if (answer == TAnswer::kCancel) return false;
    proposed = appcore::NonRegisterName(rtl::ExtractFileName(*path));
  }
  const std::optional<std::string> written = WritePage(page_memo, page, *path);
  if (!written) return false;
  if (page > 0) SetPageCaption(page, rtl::ExtractFileName(*written));
  if (link > 0) {
    // The edited data file (or the copy beside it, which is none): the next
    // search reads it as saved.
    MakeFileList();
    ShowPendingMessages();
  }
  return true;
}

void TBaptisms::Saveas1Click() {
  if (ged_current_) {
    SaveGedEdit();
    return;
  }
  if (PageBusy()) return;  // the search is still writing it
  SavePage(*current_memo_, PageControl1->currentIndex());
}

void TBaptisms::Savetextfile1Click() {
  if (ged_current_) {
    SaveGedEdit();
    return;
  }
  if (PageBusy()) return;
  const int page = PageControl1->currentIndex();
  // The page's own file: another page's file is never written over.
  const std::string path = PageFile(page);
  if (path.empty()) {
    SavePage(*current_memo_, page);
    return;
  }
  const std::optional<std::string> written = WritePage(*current_memo_, page, path);
  if (written && *written != path && page > 0) SetPageCaption(page, rtl::ExtractFileName(*written));
}

void TBaptisms::Closefile1Click() {
  if (searching_) return;  // long work may be reading or writing this page
  const int page = PageControl1->currentIndex();
  if (page <= 0) return;  // the first page is never closed
  memo::TVellMemoControl* page_memo = PageMemo(page);
  if (page_memo && page_memo->Memo().Modified) {
    switch (prompts_.AskYesNoCancel("Save changes to this file?")) {
      case TAnswer::kYes:
        if (!SavePage(*page_memo, page)) return;  // not saved: the page stays
        break;
      case TAnswer::kNo:
        break;
      case TAnswer::kCancel:
        return;
    }
  }
  RemovePage(page);
}

void TBaptisms::RemovePage(int page) {
  QWidget* sheet = PageControl1->widget(page);
  if (Panel3->parentWidget() == sheet) {
    Panel3->setParent(TabSheet1);
    TabSheet1->layout()->addWidget(Panel3);
  }
  current_memo_ = vm0;
  PageControl1->removeTab(page);
  delete sheet;
  PageControl1Change();
}

// ---- copy, original line, file list ----

void TBaptisms::Copytonewsheet1Click() {
  if (ged_current_) {
    CopyGedEditToNewPage();
    return;
  }
  if (PageBusy()) return;  // the search is still writing the page
  memo::TVellMemoControl* old_control = current_memo_;
  memo::TVellMemo& old = old_control->Memo();
  const std::vector<std::string> words = PageKeywords(old);
  memo::TVellMemoControl* control = nullptr;
  if (old.getSelLength() != 0) {
    old_control->CopyToClipboard();
    Newsheet1Click();
    control = current_memo_;
    control->PasteFromClipboard();
  } else {
    // Made from the term (text): a file name in the file system's bytes.
    const std::string name = rtl::TextToPath(appcore::CopyPageName(term1_, page_counter_));
    const int top = old.getTopLine();
    const std::int32_t caret = old.getSelStart();
    control = AddTab(name);
    SetPageLines(control->Memo(), PageParagraphs(old));
    control->Memo().setTopLine(top);
    control->Memo().setSelStart(caret);
  }
  memo::TVellMemo& m = control->Memo();
  SetPageKeywords(m, words);
  m.SetHighlightColor(kKeywordForeground);
  prompts_.SetHourglass(true);
  m.ReApplyKeywords();
  prompts_.SetHourglass(false);
  control->setFocus();
  SetMod(1);
}

void TBaptisms::Editline1Click() {
  memo::TVellMemo& m = current_memo_->Memo();
  const int par = m.FindParOfPos(m.getSelStart());
  const std::string line = m.getParagraphs(par);
  const int column = static_cast<int>(m.getSelStart() - m.ParStart(par));
  const appcore::OriginalLineLookup lookup = appcore::FindOriginalLine(line, files_.Paths());
  if (!lookup.ok) {
    prompts_.ShowMessage(appcore::kOperationNotAvailable);
    return;
  }
  const appcore::OriginalLine& where = lookup.where;
  // A register this user may not write is not opened for editing.
  const std::string problem = appcore::WriteProblem(where.path);
  if (!problem.empty()) {
    prompts_.ShowMessage("\"" + rtl::PathToText(where.name) + "\" cannot be edited: " + problem + ".");
    return;
  }
  int page = FindPage(where.name);
  memo::TVellMemoControl* control = nullptr;
  if (page > 0) {
    PageControl1->setCurrentIndex(page);
    control = PageMemo(page);
    current_memo_ = control;
    MovePanel3(page);
  } else {
    if (searching_) return;  // one long piece of work at a time
    BeginLongWork();
    appcore::Pacer pacer([this] { return PumpEvents(); });
    std::vector<std::string> lines;
    const appcore::FileStamp stamp = appcore::StampOf(where.path);
    appcore::TextForm form;
    if (!LoadLines(where.path, lines, &pacer, &form)) {
      appcore::DiscardLines(std::move(lines));
      EndLongWork();
      return;
    }
    control = AddTab(where.name);
    page = PageControl1->currentIndex();
    if (!FillNewPage(*control, std::move(lines), pacer)) return;
    EndLongWork();
    control->Memo().Modified = false;
    MarkPage(page, 0);
    current_file_name_ = where.path;
    SetPageFile(page, where.path);
    SetPageStamp(page, stamp);
    SetPageForm(page, form);
    PageControl1->widget(page)->setProperty(kLinkProperty, where.slot + 1);
    EnablePageItems();
  }
  memo::TVellMemo& data = control->Memo();
  const appcore::RecordPlace place =
      appcore::FindRecordLine(PageParagraphs(data), where.search_text, column - where.lead);
  data.setSelStart(place.line >= 0 ? data.ParStart(place.line) + place.column : 0);
  if (place.line >= 0) data.setSelLength(10);
  control->ScrollInView();
  control->setFocus();
}

void TBaptisms::Resetfilelist1Click() {
  if (PageBusy()) return;  // the search is still writing the page
  memo::TVellMemo& m = current_memo_->Memo();
  const std::vector<std::string> lines = appcore::ResetFileList(PageParagraphs(m), files_.SourceList());
  SetPageLines(m, lines);
}

// ---- sorts ----

void TBaptisms::SortbyHusband1Click(QObject* sender) {
  const QString name = sender ? sender->objectName() : QString();
  if (name == "SortbyWife1") SortPage(appcore::SortSide::kWife);
  else if (name == "SortAll1") SortPage(appcore::SortSide::kAll);
  else SortPage(appcore::SortSide::kHusband);
}

void TBaptisms::SortPage(appcore::SortSide side) {
  if (searching_) return;  // one long piece of work at a time
  const std::string caption = PageCaption(PageControl1->currentIndex());
  if (!appcore::IsSortablePage(caption)) {
    prompts_.ShowMessage(appcore::kImproperFileType);
    return;
  }
  BeginLongWork();
  appcore::Pacer pacer([this] { return PumpEvents(); });
  // The page is copied into one block on the crew (a few tens of
  // milliseconds, no event turned meanwhile); the entries are made and
  // sorted, and the new page's texts copied ahead, beside the window while
  // it answers; the new page is written on this thread, paced. The page
  // reads the entries where they were made, in the sorted order, as it
  // reads arranged hits: none is moved or freed one at a time (a million
  // frees from the crew's heaps took as long as the sort).
  appcore::SortedEntries sorted;
  PageParts parts;
  {
    const PageCopy page = CopyPageParagraphs(current_memo_->Memo(), arrange_crew_);
    RunBesideWindow([&] {
      appcore::Pacer beside([this] { return !cancel_flag_.load(); });
      sorted = appcore::SortEntriesByName(caption, page.lines, side, &beside, &arrange_crew_);
      // The new page's texts copied ahead on the crew too: the page then
      // only places them.
      parts.crew = &arrange_crew_;
      parts.hits = &sorted.entries;
      parts.rows = std::move(sorted.order);
      if (!beside.Cancelled() && sorted.error.empty())
        PrepareTexts(parts, sorted.entries, &beside, &arrange_crew_);
    });
  }
  if (!pacer.Cancelled() && !cancel_flag_) {
    if (!sorted.error.empty()) {
      Report(sorted.error);
    } else {
      memo::TVellMemoControl* control = AddTab(sorted.caption);
      QWidget* sheet = control->parentWidget();
      SetPageParts(control->Memo(), std::move(parts), &pacer);
      if (pacer.Cancelled()) RemovePage(PageControl1->indexOf(sheet));
      else MarkPage(PageControl1->indexOf(sheet), 1);
    }
  }
  parts.hits = nullptr;
  appcore::DiscardLines(std::move(sorted.entries));
  EndLongWork();
}

void TBaptisms::ArrangeMClick() {
  if (searching_) return;  // the hits are still being gathered
  memo::TVellMemoControl* control = current_memo_;
  PageParts parts;
  if (!VellMemo3->GetText().empty()) parts.head = PageParagraphs(*VellMemo3);
  BeginLongWork();
  appcore::ArrangeCallbacks callbacks;
  callbacks.progress = [this](int64_t) { return PumpEvents(); };
  callbacks.report = [this](const std::string& e) { Report(e); };
  callbacks.crew = &arrange_crew_;
  // Arranged afresh each time: running it twice gives the same page. The
  // page reads the hits in place; they stay as the search left them.
  appcore::ArrangedRows arranged = appcore::ArrangeRows(hit_list_, key_length_, callbacks);
  if (!arranged.cancelled && control == current_memo_) {
    parts.hits = &hit_list_;
    parts.rows = std::move(arranged.rows);
    memo::TVellMemo& m = control->Memo();
    // The page is replaced now: Cancel is no longer offered (a write
    // stopped part way would lose the page), but the window still answers.
    Button3->setVisible(false);
    appcore::Pacer writing([this] {
      PumpEvents();
      return true;
    });
    SetPageParts(m, std::move(parts), &writing);
    m.setSelStart(0);
    control->ScrollInView();
    m.Modified = true;
    SetMod(1);
  }
  EndLongWork();
}

void TBaptisms::Sortgroupsbydate1Click() {
  if (searching_) return;  // one long piece of work at a time
  memo::TVellMemoControl* control = current_memo_;
  memo::TVellMemo& m = control->Memo();
  const std::int32_t caret = m.getSelStart();
  BeginLongWork();
  appcore::Pacer pacer([this] { return PumpEvents(); });
  std::string error;
  // The new text is built whole, on another thread, before the page is
  // touched.
  std::vector<std::string> lines = PageParagraphs(m, &pacer);
  bool sorted = false;
  if (!pacer.Cancelled()) {
    RunBesideWindow([&] {
      appcore::Pacer beside([this] { return !cancel_flag_.load(); });
      lines = appcore::SortGroupsByDate(
          lines, [&error](const std::string& e) { if (error.empty()) error = e; }, &beside);
      sorted = !beside.Cancelled();
    });
  }
  // A page switched away from (or closed) meanwhile is left alone.
  if (sorted && control == current_memo_) {
    SetPageLines(m, lines);
    m.setSelStart(caret);
    control->ScrollInView();
    SetMod(1);
  }
  if (!error.empty()) Report(error);
  EndLongWork();
}

// ---- Set as children ----

void TBaptisms::Setaschildren1Click() {
  with_witnesses_ = 0;
  ShowChildren();
}

void TBaptisms::Setaschildren2Click() {
  with_witnesses_ = 1;
  ShowChildren();
}

void TBaptisms::ShowChildren() {
  if (PageBusy()) return;  // the search is still writing the page
  memo::TVellMemo& m = current_memo_->Memo();
  const std::int32_t start = m.getSelStart();
  const std::int32_t length = m.getSelLength();
  const family::LineRange range = family::SelectedLines(m);
  const family::ChildrenSummary summary = family::ShowChildren(PageParagraphs(m), range, with_witnesses_ == 1);
  Edit3->setText(gui::ToQString(summary.husband_text));
  Edit4->setText(gui::ToQString(summary.wife_text));
  ListBox1->clear();
  for (const std::string& entry : summary.list_entries) ListBox1->addItem(gui::ToQString(entry));
  // The block goes in below the lines read; the selection stays as it was.
  const int count = m.GetParCount();
  const int at = std::clamp(summary.insert_at, 0, count);
  const std::string block = JoinedLines(summary.page_lines);
  std::int32_t where = 0;
  if (at < count) {
    where = m.ParStart(at);
    m.setSelStart(where);
    m.setSelText(block + "\r\n");
  } else {
    where = m.GetTextLen();
    m.setSelStart(where);
    m.setSelText("\r\n" + block);
  }
  // A block put in above the selection moves it down with its text.
  const std::int32_t low = length < 0 ? start + length : start;
  const std::int32_t shift = where <= low && at < count ? static_cast<std::int32_t>(block.size() + 2) : 0;
  m.setSelStart(start + shift);
  m.setSelLength(length);
}

}  // namespace app
