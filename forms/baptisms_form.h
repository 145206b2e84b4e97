// The stored form "Baptisms": the main window's components, menus and
// wiring, without any behaviour. The program's main window derives from it
// and connects its handlers by name (Connect).
//
// Components keep their stored names: the search panel (Label1, Edit2,
// Button1 "Search", Button3 "Cancel", Label2, Label3, status Label5, Panel2
// with CheckBox1 .. CheckBox12), the page control PageControl1 with its
// first page TabSheet1 "Main text" holding the memo vm0 and the hidden
// family box Panel3 (see below), the family tables KORVEXTable1 and
// KORVEXTable2 with their data sources, the hidden scratch memos
// GedEdit, VellMemo2 and VellMemo3, the main menu and PopupMenu1.
#pragma once

#include <QIcon>
#include <QMainWindow>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "forms/form_defs.h"
#include "memo/gutter/vell_gutter.h"
#include "memo/vell_memo.h"
#include "memo/widget/memo_control.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QTabWidget;

namespace gui {
class TUpDown;
}
namespace korvex {
class TKORVEXTable;
}
namespace db {
class TDataSource;
}

namespace forms {

// Settings of a file dialog of the form.
struct TFileDialogDef {
  const char* default_ext;
  const char* filter;  // "text|*.txt|all|*.*": description and pattern pairs
  bool overwrite_prompt;
};

class TBaptismsForm : public QMainWindow {
public:
  explicit TBaptismsForm(QWidget* parent = nullptr);
  ~TBaptismsForm() override;

  // ---- the search panel ----
  QLabel* Label1 = nullptr;       // "Filter:"
  QLineEdit* Edit2 = nullptr;     // the search text
  QPushButton* Button1 = nullptr; // "Search"
  QPushButton* Button3 = nullptr; // "Cancel", hidden until a search runs
  QLabel* Label2 = nullptr;       // key of term 1
  QLabel* Label3 = nullptr;       // key of term 2
  QLabel* Label5 = nullptr;       // status line
  QFrame* Panel2 = nullptr;
  // CheckBox[0] is CheckBox1 ("Father") .. CheckBox[11] is CheckBox12.
  std::array<QCheckBox*, 12> CheckBox{};

  // ---- pages ----
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;
  memo::TVellMemoControl* vm0 = nullptr;
  memo::TVellGutter* vg0 = nullptr;  // line numbers and bookmarks of vm0
  // Family box (hidden). Beside each name: F, M, Sibling, Spouse and the
  // arrows through the person's own families.
  QFrame* Panel3 = nullptr;
  QLineEdit* Edit3 = nullptr;     // husband
  QLineEdit* Edit4 = nullptr;     // wife
  QListWidget* ListBox1 = nullptr;  // children
  QPushButton *Ffbtn = nullptr, *Fmbtn = nullptr, *Fsibbtn = nullptr, *Fspousebtn = nullptr;
  QPushButton *Wfbtn = nullptr, *Wmbtn = nullptr, *wifesibbtn = nullptr, *Wspousebtn = nullptr;
  gui::TUpDown *UpDown1 = nullptr, *UpDown2 = nullptr;
  QPushButton* BitBtn1 = nullptr;  // "Add"
  QPushButton* BitBtn2 = nullptr;  // "Add Child"
  QLineEdit* Edit5 = nullptr;      // no behaviour
  QListWidget* ListBox2 = nullptr;  // no behaviour
  QPushButton* Button2 = nullptr;  // "Married", no behaviour
  // The family tables (fams.DAT in database "Fams", inds.DAT in "Inds"),
  // closed, with their stored definitions; and their data sources.
  std::unique_ptr<korvex::TKORVEXTable> KORVEXTable1, KORVEXTable2;
  std::unique_ptr<db::TDataSource> DataSource1, DataSource2;

  // Hidden memos used as scratch buffers; never shown.
  std::unique_ptr<memo::TVellMemo> GedEdit, VellMemo2, VellMemo3;

  // Tab images: 0 unmodified, 1 modified.
  std::array<QIcon, 2> ImageList1;
  QMenu* PopupMenu1 = nullptr;

  static constexpr TFileDialogDef OpenDialog1{"txt", "text|*.txt|all|*.*", false};
  static constexpr TFileDialogDef SaveDialog1{"txt", "text|*.txt", true};

  // A menu item (main menu or popup) by its stored name; nullptr if none.
  QAction* Action(const std::string& name) const;
  // The settings every page memo shares with vm0.
  static void ApplyPageMemoSettings(memo::TVellMemoControl& control, QMenu* popup);
  // A page's gutter: aligned left, attached to control's memo.
  static memo::TVellGutter* MakePageGutter(QWidget* sheet, memo::TVellMemoControl& control);

  const std::vector<TWiring>& Wiring() const { return wiring_; }
  // Connects every event of the form to its handler; returns the handler
  // names that the table lacks (their events then do nothing).
  std::vector<std::string> Connect(const THandlerTable& handlers);

protected:
  // Form-level events; the program decides when the form counts as
  // activated and calls FireActivate.
  void FireActivate();
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void BuildSearchPanel(QWidget* top);
  void BuildPages();
  void BuildMenus();

  std::vector<TWiring> wiring_;
  TNotifyHandler on_activate_, on_resize_;
  TCloseHandler on_close_;
};

}  // namespace forms
