// TBaptisms: the main window and its handlers, over the stored form
// "Baptisms" (forms/baptisms_form.h) and the search core (app/core).
//
// Activation: FormActivate runs once when the window is first shown, after
// each dialog this window shows modally (not after its message boxes), and
// when the focus comes to it straight from another non-modal window of the
// program. Switching to another program and back is not an activation.
// Each run reads the settings and rebuilds the data-file list; files whose
// size and time are unchanged keep their loaded lines.
//
// The search and "Sort by Mother" run on the GUI thread (their heavy parts
// on the window's crew) and pump events about every 15 ms, so that Cancel
// and repainting work; the sort commands sort on other threads while the
// window's thread reads and writes the pages and answers meanwhile.
// The search always writes into the first page; other long work while one
// runs is ignored, and commands that would rebuild the data files or close
// the window wait for it to end (closing cancels it).
#pragma once

#include <QPointer>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/data_file_set.h"
#include "app/core/pacer.h"
#include "app/core/sort_commands.h"
#include "app/core/search.h"
#include "app/core/settings.h"
#include "app/core/source_ticks.h"
#include "app/core/work_crew.h"
#include "app/paint_hold.h"
#include "app/user_prompts.h"
#include "forms/baptisms_form.h"

class QListWidget;
class QWindow;

namespace forms {
class TFindDialogForm;
class TReplaceDialogForm;
class TPasswordDlgForm;
class TGetSexDlgForm;
}  // namespace forms
namespace memo {
class TVellMemoPrinter;
}
namespace family {
class TFamilyBox;
class TFamilyDatabases;
class TFamilyView;
}  // namespace family
namespace gui {
enum TUDBtnType : int;
}

namespace app {

class TForm2;
class TAboutBox;

// "Version 1.0", shown by the about box.
inline constexpr const char* kVersionText = "Version 1.0";

class TBaptisms : public forms::TBaptismsForm {
public:
  // settings_folder: where "Quorvane.INI", "Files.txt" and "Sources.txt"
  // live (see appcore::SettingsFolder). prompts outlives the window.
  TBaptisms(TUserPrompts& prompts, std::string settings_folder, QWidget* parent = nullptr);
  ~TBaptisms() override;

  // The data-file list dialog (made after the main window, as at start-up).
  void SetDataFileDialog(TForm2* dialog);

  // ---- application state ----
  memo::TVellMemoControl* CurrentMemo() const { return current_memo_; }
  const appcore::DataFileSet& DataFiles() const { return files_; }
  appcore::SourceTicks& Ticks() { return ticks_; }
  const appcore::AppSettings& Settings() const { return settings_; }
  const std::string& CurrentFileName() const { return current_file_name_; }
  bool Searching() const { return searching_; }
  // A search that ends within this many milliseconds shows its page without
  // first drawing its interim state; a longer one is drawn at every turn of
  // the event loop from then on.
  static constexpr int kQuietMs = 100;
  // The window's painting is held back (a search is young).
  bool DrawingHeld() const { return paint_hold_.Held(); }
  // Key length the last search left (8, or the exact length after a '.').
  int KeyLength() const { return key_length_; }
  // Handler names of the form that have no handler (should be none).
  const std::vector<std::string>& UnwiredHandlers() const { return unwired_; }
  // Runs of FormActivate so far.
  int ActivationCount() const { return activation_count_; }

  // ---- handlers ----
  void FormActivate();
  bool FormClose();  // false keeps the window open
  void FormResize();
  void Edit2Change();
  void Button1Click();  // Search
  void Button3Click();  // Cancel
  void PageControl1Change();
  void vm0Change();
  void SelectSourceDir1Click();
  void SelectSaveDir1Click();
  void Selectsourcefiles1Click();
  void Saveas1Click();
  void Showsourcecodes1Click();
  void Contents1Click();
  void Undo1Click();
  void Cut1Click();
  void Copy1Click();
  void Paste1Click();
  // Whether the clipboard's text may go into a page: one holding
  // characters that Windows-1252 (the pages' text) lacks is refused, and
  // the user told which; they would stand as "?", which in a register
  // means an unreadable character.
  bool MayPaste();

  // ---- page commands ----
  void Newsheet1Click();
  void Opentextfile1Click();
  void Savetextfile1Click();
  void Closefile1Click();
  void Copytonewsheet1Click();
  void Editline1Click();
  void Resetfilelist1Click();

  // ---- sort commands ----
  // "Sort by Husband", "Sort by Wife", "Sort All": sender is the menu item.
  void SortbyHusband1Click(QObject* sender);
  void SortPage(appcore::SortSide side);
  void Sortgroupsbydate1Click();
  // "Sort by Mother": the current page becomes the lines of the scratch
  // memo VellMemo3 followed by the last search's baptism hits, arranged.
  void ArrangeMClick();
  // The baptism hits of the last search, in the order the search found them.
  const std::vector<std::string>& HitList() const { return hit_list_; }

  // ---- find, replace, highlight, fonts, printing ----
  void Find1Click();
  void FindAgain1Click();
  void Replace1Click();
  // Find and Replace show their dialogs modelessly: they stay open over
  // the page and act on the current page at each press of a button.
  // The find dialog's Find Next; false when nothing was found (a beep).
  bool FindDialog1Find();
  // The replace dialog's Find Next (down); false when nothing was found.
  bool ReplaceDialogFind();
  // The replace dialog's Replace / Replace All; the number replaced.
  int ReplaceDialog1Replace(bool replace_all);
  void Highlight1Click();
  void Changefont1Click();
  void Wordwrap1Click();
  void Print1Click();

  // ---- small dialogs and the family box ----
  void Help1Click();  // the about box
  void Setaschildren1Click();
  void Setaschildren2Click();
  void ShowChildren();
  int WithWitnesses() const { return with_witnesses_; }

  // ---- family reports ----
  // "Show family": the report on the box's subject is added to GedEdit
  // (GEDCOM lines there are dropped first) and the page shows GedEdit.
  void Showfamily1Click();
  // "Henry list": the subject's descendants replace the page's text.
  void Henrylist1Click();
  // "Create GEDCOM": GedEdit's lines become the tables as GEDCOM lines.
  void CreateGEDCOM1Click();
  // GedEdit becomes the current memo until the next page change: "Save as"
  // (and "Save text file") writes it, GEDCOM lines as a GEDCOM file, and
  // "Copy to new page" copies it to a new page.
  void GedEditEnter();
  bool GedEditCurrent() const { return ged_current_; }

  // The family box's buttons and commands over the tables fams.DAT and
  // inds.DAT in the settings folder (the box's handlers are in
  // family/family_box.h). A sender that is not the husband's button is the
  // wife's. An engine error ends a command with its message.
  void Button7Click();  // Add
  void FfbtnClick(QObject* sender);
  void wfbtnClick(QObject* sender);
  void FsibbtnClick(QObject* sender);
  void WspousebtnClick(QObject* sender);
  void BitBtn2Click();  // Add Child
  void ListBox1Click();
  void FillFamilyClick();
  void UpDown1Click(QObject* sender, gui::TUDBtnType button);
  void ClearDataClick();
  void ShowFamsClick();
  // "Show family box": marks the entry and shows the box on the active
  // page, or takes the mark off and hides it.
  void Showfamilybox1Click();
  // Drag handlers no component uses: a drag from the current memo is
  // accepted; a drop adds its selected text to the list dropped on.
  bool FfbtnDragOver(QObject* source) const;
  void FfbtnDragDrop(QListWidget* target, QObject* source);
  family::TFamilyBox& FamilyBox() const { return *family_box_; }

  TAboutBox& AboutBox() const { return *about_box_; }
  forms::TGetSexDlgForm& GetSexDlg() const { return *sex_dlg_; }
  forms::TPasswordDlgForm& PasswordDlg() const { return *password_dlg_; }
  forms::TFindDialogForm& FindDialog1() const { return *find_dialog_; }
  forms::TReplaceDialogForm& ReplaceDialog1() const { return *replace_dialog_; }
  memo::TVellMemoPrinter& VellMemoPrinter1() const { return *printer_; }

  // ---- pages ----
  // Adds a page with its own memo and makes it current.
  memo::TVellMemoControl* AddTab(const std::string& caption);
  // Removes page (never the first) and its sheet, asking nothing.
  void RemovePage(int page);
  // The tab image of the active page: 0 unmodified, 1 modified.
  void SetMod(int state);
  int PageMark(int page) const;
  memo::TVellMemoControl* PageMemo(int page) const;
  // A page's caption: for added pages the file name in the file system's
  // bytes (shown through gui::PathToQString), for the first page its text.
  std::string PageCaption(int page) const;
  void SetPageCaption(int page, const std::string& name);
  // The file a page was opened from or saved to ("" when none).
  std::string PageFile(int page) const;
  // The data file slot + 1 of a page opened by "Edit original line"; 0 else.
  int PageDataLink(int page) const;
  // The first search term of the last search.
  const std::string& Term1() const { return term1_; }

  // The help page opened by "Contents".
  std::string HelpFile() const;

  // The focus moved to window now (the application's focusWindowChanged).
  void FocusWindowChanged(QWindow* now);

protected:
  void showEvent(QShowEvent* event) override;
  // A page's own paste keys (Shift+Insert; Ctrl+V is the Edit menu's) go
  // through MayPaste first.
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  class TBoxView;
  void WireHandlers();
  void MakeFamilyBox();
  void CloseFamilyTables();
  // Runs a family command; an engine error is shown, not thrown on.
  void FamilyCommand(const std::function<void()>& command);
  // Shows a dialog modally, then counts as an activation.
  int RunModal(QDialog& dialog);
  void AfterDialog();
  // Rebuilds the data-file list (see appcore::DataFileSet), the window
  // answering and Cancel offered meanwhile; false when cancelled.
  bool MakeFileList();
  void Report(const std::string& message);
  void ShowPendingMessages();
  appcore::SearchOptions ReadOptions() const;
  bool PumpEvents();
  // Runs work on a thread of its own while this thread pumps the window's
  // events every few milliseconds; work must not touch the window (it may
  // read cancel_flag_). What work throws is thrown here once it has ended.
  void RunBesideWindow(const std::function<void()>& work);
  // The window is not redrawn for the first kQuietMs of a search (see
  // kQuietMs).
  void HoldDrawing();
  void ResumeDrawing();
  // Long work (search, arranging, sorts) runs between these: Cancel shown,
  // the hourglass on, other long work and closing held back until it ends.
  void BeginLongWork(bool hourglass = true);
  void EndLongWork();
  void MarkPage(int page, int state);
  bool SavePage(memo::TVellMemoControl& page_memo, int page);
  // Whether a page saved at path would be read as a register (a
  // register's name in the source folder) while it is not the page's own
  // file.
  bool SavedAsRegister(const std::string& path, int page) const;
  // The current page is the first one and a search is still writing it.
  bool PageBusy() const { return searching_ && current_memo_ == vm0; }
  // Writes the page to path; the path written (another one when the page's
  // own file changed on disk and the user saves beside it), or nothing.
  std::optional<std::string> WritePage(memo::TVellMemoControl& page_memo, int page, const std::string& path);
  // The page's file as it stood when the page was read or last saved, and
  // how its bytes are read (Windows-1252 or UTF-8).
  void SetPageStamp(int page, const appcore::FileStamp& stamp);
  std::optional<appcore::FileStamp> PageStamp(int page) const;
  void SetPageForm(int page, const appcore::TextForm& form);
  appcore::TextForm PageForm(int page) const;
  // The page read again from its own file (its edits dropped).
  void ReloadPage(memo::TVellMemoControl& page_memo, int page);
  // Whether edits the user made on "Main text" since the last search may
  // go (saved or given up when the user says so); false to keep them.
  bool MayDiscardMainText();
  // False when path is read-only (no write bit) and the user would not
  // replace it.
  bool MayReplace(const std::string& path);
  void MovePanel3(int page);
  int FindPage(const std::string& caption) const;
  void SetPageFile(int page, const std::string& path);
  void EnablePageItems();
  // Reads a page file's lines; false when it cannot be read (said) or the
  // pacer was cancelled.
  bool LoadLines(const std::string& path, std::vector<std::string>& lines, appcore::Pacer* pacer,
                 appcore::TextForm* form = nullptr);
  // Fills a page just added with lines, paced; when cancelled the page goes
  // again, the long work ends and false is returned.
  bool FillNewPage(memo::TVellMemoControl& control, std::vector<std::string>&& lines, appcore::Pacer& pacer);
  void SelectFound(memo::TVellMemoControl& control, bool down);
  // Runs work; an exception's message is shown and gives false.
  bool ShowFailure(const std::function<void()>& work);
  bool SaveGedEdit();
  void CopyGedEditToNewPage();

  TUserPrompts& prompts_;
  appcore::AppSettings settings_;
  appcore::DataFileSet files_;
  appcore::SourceTicks ticks_;
  TForm2* form2_ = nullptr;
  memo::TVellMemoControl* current_memo_ = nullptr;
  std::vector<std::string> unwired_;
  std::vector<std::string> pending_messages_;
  std::string current_file_name_;
  QString list_notice_;  // what the last list build put in the status line
  QPointer<QWindow> previous_focus_;

  bool searching_ = false;
  // "Main text" was edited since the last search filled it.
  bool main_edited_ = false;
  bool filling_main_ = false;  // the search is filling it
  // Set by Cancel on the window's thread, read by work running beside it.
  std::atomic<bool> cancel_flag_{false};
  TPaintHold paint_hold_{this};
  std::chrono::steady_clock::time_point draw_from_;
  bool close_after_search_ = false;
  bool activate_after_search_ = false;
  bool activating_ = false;
  bool first_shown_ = false;
  int activation_count_ = 0;
  int key_length_ = 8;
  int page_counter_ = 0;
  int with_witnesses_ = 0;
  bool ged_current_ = false;  // GedEdit is the current memo
  std::string term1_;
  std::vector<std::string> hit_list_;
  // Arranges the hits: its threads are started when the files are loaded
  // and then wait for the next search, so that a search starts none.
  appcore::WorkCrew arrange_crew_{appcore::WorkCrew::Placing::kHelpers};

  TAboutBox* about_box_ = nullptr;
  forms::TGetSexDlgForm* sex_dlg_ = nullptr;
  forms::TPasswordDlgForm* password_dlg_ = nullptr;
  forms::TFindDialogForm* find_dialog_ = nullptr;
  forms::TReplaceDialogForm* replace_dialog_ = nullptr;
  std::unique_ptr<memo::TVellMemoPrinter> printer_;
  std::unique_ptr<family::TFamilyDatabases> family_databases_;
  std::unique_ptr<family::TFamilyView> family_view_;
  std::unique_ptr<family::TFamilyBox> family_box_;
  bool family_box_shown_ = false;
};

}  // namespace app
