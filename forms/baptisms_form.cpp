#include "forms/baptisms_form.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "family/family_tables.h"
#include "platform/dataset/datalink.h"
#include "platform/gui/fonts.h"
#include "platform/gui/up_down.h"
#include "tables/components/korvex_table.h"

namespace forms {

namespace {

// Enter (Return, or Enter on the keypad) in a watched field clicks the
// button, as a dialog's default button is clicked.
class DefaultButtonKeys : public QObject {
public:
  explicit DefaultButtonKeys(QPushButton* button) : QObject(button), button_(button) {}

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    if (button_->isEnabled() && button_->isVisible()) button_->click();
    return true;
  }

private:
  QPushButton* button_;
};

}  // namespace
namespace {

// ---- the stored definition ----

constexpr const char* kFormName = "Baptisms";
constexpr const char* kCaption = "Quorvane";

// Search panel check boxes: name, caption, ticked, grid row and column
// (the "fuzzy" boxes stand under the box they refine).
struct CheckBoxDef {
  const char* name;
  const char* caption;
  bool checked;
  int row, column;
};
const CheckBoxDef kCheckBoxes[12] = {
    {"CheckBox1", "Father", true, 0, 0},    {"CheckBox2", "Mother", true, 0, 1},
    {"CheckBox3", "Children", false, 0, 2}, {"CheckBox4", "Witness", false, 0, 3},
    {"CheckBox5", "fuzzy", false, 1, 0},    {"CheckBox6", "fuzzy", false, 1, 1},
    {"CheckBox7", "fuzzy", false, 1, 3},    {"CheckBox8", "Marriages", true, 0, 5},
    {"CheckBox9", "< 1700", true, 0, 6},    {"CheckBox10", "1700 >", true, 0, 7},
    {"CheckBox11", "Text", false, 0, 9},    {"CheckBox12", "fuzzy", false, 1, 9},
};

// Events of components that are not menu items.
const TWiring kComponentWiring[] = {
    {kFormName, "OnActivate", "FormActivate"},
    {kFormName, "OnClose", "FormClose"},
    {kFormName, "OnResize", "FormResize"},
    {"Edit2", "OnChange", "Edit2Change"},
    {"Button1", "OnClick", "Button1Click"},
    {"Button3", "OnClick", "Button3Click"},
    {"PageControl1", "OnChange", "PageControl1Change"},
    {"vm0", "OnChange", "vm0Change"},
    // The family box.
    {"BitBtn1", "OnClick", "Button7Click"},
    {"Ffbtn", "OnClick", "FfbtnClick"},
    {"Wfbtn", "OnClick", "FfbtnClick"},
    {"Fmbtn", "OnClick", "wfbtnClick"},
    {"Wmbtn", "OnClick", "wfbtnClick"},
    {"Fsibbtn", "OnClick", "FsibbtnClick"},
    {"wifesibbtn", "OnClick", "FsibbtnClick"},
    {"Fspousebtn", "OnClick", "WspousebtnClick"},
    {"Wspousebtn", "OnClick", "WspousebtnClick"},
    {"BitBtn2", "OnClick", "BitBtn2Click"},
    {"ListBox1", "OnClick", "ListBox1Click"},
    {"UpDown1", "OnClick", "UpDown1Click"},
    {"UpDown2", "OnClick", "UpDown1Click"},
};

const MenuDef kFileMenu{"File1", "File", {
    {"SelectSourceDir1", "Select Source Dir", "", "SelectSourceDir1Click"},
    {"SelectSaveDir1", "Select Save Dir", "", "SelectSaveDir1Click"},
    {"Selectsourcefiles1", "Select source files", "", "Selectsourcefiles1Click"},
    {"Newsheet1", "New page", "", "Newsheet1Click"},
    {"Opentextfile1", "Open text file", "", "Opentextfile1Click"},
    {"Savetextfile1", "Save text file", "", "Savetextfile1Click", kHidden},
    {"Saveas1", "Save &as", "", "Saveas1Click"},
    // Available only while a page other than the first is active.
    {"Closefile1", "Close file", "", "Closefile1Click", kDisabled},
    {"N1", "-", "", "", kSeparator},
    {"Print1", "Print", "", "Print1Click"},
    {"CreateGEDCOM1", "Create GEDCOM", "", "CreateGEDCOM1Click", kHidden},
}};

const MenuDef kEditMenu{"Edit1", "Edit", {
    {"Undo1", "Undo", "Ctrl+Z", "Undo1Click"},
    {"Cut1", "Cut", "Ctrl+X", "Cut1Click"},
    {"Copy1", "Copy", "Ctrl+C", "Copy1Click"},
    {"Paste1", "Paste", "Ctrl+V", "Paste1Click"},
    {"Find1", "&Find", "Ctrl+F", "Find1Click"},
    {"FindAgain1", "Find Again", "F3", "FindAgain1Click"},
    {"Replace1", "&Replace", "Ctrl+R", "Replace1Click"},
    {"N2", "-", "", "", kSeparator},
    {"Copytonewsheet1", "Copy to new page", "", "Copytonewsheet1Click"},
    {"Editline1", "Edit original line", "", "Editline1Click"},
    {"Doublepane1", "Double pane", "", "Doublepane1Click", kHidden},
}};

const MenuDef kViewMenu{"View1", "View", {
    {"Astext1", "As text", "", "", kHidden},
    {"Datafilelist1", "Data file list", "", "Datafilelist1Click", kHidden},
    {"Showsourcecodes1", "Show source codes", "", "Showsourcecodes1Click", kChecked},
    {"Resetfilelist1", "Reset file list", "", "Resetfilelist1Click"},
    {"Changefont1", "Change font", "Ctrl+O", "Changefont1Click"},
    {"Highlight1", "Highlight words", "Ctrl+H", "Highlight1Click"},
    {"SortbyHusband1", "Sort by Husband", "", "SortbyHusband1Click"},
    {"SortbyWife1", "Sort by Wife", "", "SortbyHusband1Click"},
    {"SortAll1", "Sort All", "", "SortbyHusband1Click"},
    {"Wordwrap1", "Wordwrap", "", "Wordwrap1Click", kCheckable},
    {"Showfamilybox1", "Show family box", "", "Showfamilybox1Click", kHidden | kCheckable},
    {"Showlines1", "Show line #'s", "", "Showlines1Click", kHidden},
    {"ShowFams1", "Show Fams", "", "ShowFamsClick", kHidden},
    {"ClearData1", "Clear Data", "", "ClearDataClick", kHidden},
    {"Henrylist1", "Henry list", "", "Henrylist1Click", kHidden},
    {"Showfamily1", "Show family", "", "Showfamily1Click", kHidden},
}};

const MenuDef kHelpMenu{"Help2", "Help", {
    {"Contents1", "Contents", "", "Contents1Click"},  // help context 10
    {"About1", "About", "", "Help1Click"},
}};

const MenuDef kPopupMenu{"PopupMenu1", "", {
    {"Copytoclipboard1", "Copy to Clipboard", "", "Copy1Click"},
    {"Copytonewsheet2", "Copy to new page", "", "Copytonewsheet1Click"},
    {"SortbyMother1", "Sort by Mother", "", "SortbyMother1Click", kHidden},
    {"N3", "-", "", "", kSeparator},
    {"Setaschildren1", "Set as children", "", "Setaschildren1Click"},
    {"Setaschildren2", "Set as children w/witness", "", "Setaschildren2Click"},
    {"Fillinfamily1", "Fill in family", "", "FillFamilyClick", kHidden},
    {"N4", "-", "", "", kSeparator},
    {"Sortgroupsbydate1", "Sort groups by date", "", "Sortgroupsbydate1Click"},
    {"Editline2", "Edit original line", "", "Editline1Click"},
}};

// Form font: Arial, 13 pixels. Page memos: Courier New bold.
QFont FormFont() {
  gui::TFontDesc desc;
  desc.Name = "Arial";
  desc.Height = -13;
  return gui::MakeQFont(desc);
}

memo::TMemoFont PageFont() {
  memo::TMemoFont font;
  font.Name = "Courier New";
  font.Size = 10;
  font.Height = -13;
  font.Style = memo::fsBold;
  return font;
}

QIcon TabImage(bool modified) {
  QPixmap pixmap(12, 12);
  pixmap.fill(Qt::transparent);
  if (modified) {
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 0, 0));
    painter.drawEllipse(2, 2, 8, 8);
  }
  return QIcon(pixmap);
}

template <typename T>
T* Named(T* object, const char* name) {
  object->setObjectName(QString::fromUtf8(name));
  return object;
}

}  // namespace

TBaptismsForm::TBaptismsForm(QWidget* parent) : QMainWindow(parent) {
  setObjectName(kFormName);
  setWindowTitle(kCaption);
  setFont(FormFont());
  ImageList1 = {TabImage(false), TabImage(true)};
  for (const TWiring& w : kComponentWiring) wiring_.push_back(w);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  auto* top = new QWidget(central);
  BuildSearchPanel(top);
  layout->addWidget(top);
  setCentralWidget(central);
  BuildMenus();  // before the pages: the memo takes the popup menu
  BuildPages();
  layout->addWidget(PageControl1, 1);

  GedEdit = std::make_unique<memo::TVellMemo>();
  VellMemo2 = std::make_unique<memo::TVellMemo>();
  VellMemo3 = std::make_unique<memo::TVellMemo>();

  KORVEXTable1 = std::make_unique<korvex::TKORVEXTable>();
  KORVEXTable2 = std::make_unique<korvex::TKORVEXTable>();
  family::DefineFamiliesTable(*KORVEXTable1);
  family::DefineIndividualsTable(*KORVEXTable2);
  DataSource1 = std::make_unique<db::TDataSource>(nullptr);
  DataSource2 = std::make_unique<db::TDataSource>(nullptr);
  DataSource1->SetDataSet(KORVEXTable1.get());
  DataSource2->SetDataSet(KORVEXTable2.get());
}

TBaptismsForm::~TBaptismsForm() {
  // The sources let go of the tables before the tables go.
  DataSource1.reset();
  DataSource2.reset();
  KORVEXTable1.reset();
  KORVEXTable2.reset();
}

void TBaptismsForm::BuildSearchPanel(QWidget* top) {
  auto* rows = new QVBoxLayout(top);
  rows->setContentsMargins(0, 0, 0, 0);
  auto* line = new QHBoxLayout();
  Label1 = Named(new QLabel("Filter:", top), "Label1");
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  Edit2 = Named(new QLineEdit(top), "Edit2");
  Edit2->setMinimumWidth(260);
  Button1 = Named(new QPushButton("Search", top), "Button1");
  Button1->setDefault(true);
  Button3 = Named(new QPushButton("Cancel", top), "Button3");
  Button3->setVisible(false);
  Label2 = Named(new QLabel(top), "Label2");
  Label3 = Named(new QLabel(top), "Label3");
  Label2->setMinimumWidth(80);
  Label3->setMinimumWidth(80);
  line->addWidget(Label1);
  line->addWidget(Edit2, 1);
  line->addWidget(Button1);
  line->addWidget(Button3);
  line->addSpacing(12);
  line->addWidget(Label2);
  line->addWidget(Label3);
  rows->addLayout(line);

  Panel2 = Named(new QFrame(top), "Panel2");
  Panel2->setFrameShape(QFrame::StyledPanel);
  auto* grid = new QGridLayout(Panel2);
  grid->setContentsMargins(6, 2, 6, 2);
  grid->setHorizontalSpacing(14);
  grid->setVerticalSpacing(0);
  for (int i = 0; i < 12; ++i) {
    const CheckBoxDef& def = kCheckBoxes[i];
    CheckBox[static_cast<size_t>(i)] = Named(new QCheckBox(QString::fromUtf8(def.caption), Panel2), def.name);
    CheckBox[static_cast<size_t>(i)]->setChecked(def.checked);
    grid->addWidget(CheckBox[static_cast<size_t>(i)], def.row, def.column);
  }
  grid->setColumnMinimumWidth(4, 16);  // gaps between roles, kinds and periods, and Text
  grid->setColumnMinimumWidth(8, 16);
  grid->setColumnStretch(10, 1);
  rows->addWidget(Panel2);

  Label5 = Named(new QLabel(top), "Label5");
  // A long status line is cut at the window's edge; it never widens the window.
  Label5->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  rows->addWidget(Label5);

  // Button1 is the form's default button: Enter in the search fields
  // presses it (a main window has no default button of its own).
  auto* enter = new DefaultButtonKeys(Button1);
  Edit2->installEventFilter(enter);
  for (QCheckBox* box : CheckBox) box->installEventFilter(enter);
}

void TBaptismsForm::ApplyPageMemoSettings(memo::TVellMemoControl& control, QMenu* popup) {
  memo::TVellMemo& memo = control.Memo();
  memo.SetFont(PageFont());
  memo.SetLeftMargin(10);
  memo.SetWordWrap(false);
  memo.SetHideSelection(false);
  memo.SetApplyKeywords(true);
  control.SetScrollBars(memo::ssBoth);
  control.SetPopupMenu(popup);
}

memo::TVellGutter* TBaptismsForm::MakePageGutter(QWidget* sheet, memo::TVellMemoControl& control) {
  auto* gutter = new memo::TVellGutter(sheet);
  gutter->setFixedWidth(40);
  gutter->SetVellMemo(&control.Memo());
  return gutter;
}

void TBaptismsForm::BuildPages() {
  PageControl1 = Named(new QTabWidget(centralWidget()), "PageControl1");
  PageControl1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(PageControl1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(PageControl1->mapToGlobal(at)); });

  TabSheet1 = Named(new QWidget(PageControl1), "TabSheet1");
  auto* page = new QHBoxLayout(TabSheet1);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);
  vm0 = Named(new memo::TVellMemoControl(TabSheet1), "vm0");
  ApplyPageMemoSettings(*vm0, PopupMenu1);
  vg0 = Named(MakePageGutter(TabSheet1, *vm0), "vg0");
  page->addWidget(vg0);
  page->addWidget(vm0, 1);

  Panel3 = Named(new QFrame(TabSheet1), "Panel3");
  Panel3->setFrameShape(QFrame::StyledPanel);
  Panel3->setFixedWidth(300);
  auto* box = new QVBoxLayout(Panel3);
  // A person's row: the name, then F, M, Sibling, Spouse and the arrows.
  auto person_row = [&](QLineEdit*& edit, const char* edit_name, std::array<QPushButton**, 4> buttons,
                        std::array<const char*, 4> names, gui::TUpDown*& arrows, const char* arrows_name) {
    auto* row = new QHBoxLayout;
    edit = Named(new QLineEdit(Panel3), edit_name);
    row->addWidget(edit, 1);
    const char* captions[] = {"F", "M", "Sibling", "Spouse"};
    for (int i = 0; i < 4; ++i) {
      *buttons[i] = Named(new QPushButton(captions[i], Panel3), names[i]);
      row->addWidget(*buttons[i]);
    }
    arrows = Named(new gui::TUpDown(Panel3), arrows_name);
    row->addWidget(arrows);
    box->addLayout(row);
  };
  person_row(Edit3, "Edit3", {&Ffbtn, &Fmbtn, &Fsibbtn, &Fspousebtn}, {"Ffbtn", "Fmbtn", "Fsibbtn", "Fspousebtn"},
             UpDown1, "UpDown1");
  person_row(Edit4, "Edit4", {&Wfbtn, &Wmbtn, &wifesibbtn, &Wspousebtn}, {"Wfbtn", "Wmbtn", "wifesibbtn", "Wspousebtn"},
             UpDown2, "UpDown2");
  ListBox1 = Named(new QListWidget(Panel3), "ListBox1");
  box->addWidget(ListBox1, 1);
  auto* buttons = new QHBoxLayout;
  BitBtn1 = Named(new QPushButton("Add", Panel3), "BitBtn1");
  BitBtn2 = Named(new QPushButton("Add Child", Panel3), "BitBtn2");
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);
  box->addLayout(buttons);
  // No behaviour: a married couple's line and its list.
  Edit5 = Named(new QLineEdit(Panel3), "Edit5");
  ListBox2 = Named(new QListWidget(Panel3), "ListBox2");
  Button2 = Named(new QPushButton("Married", Panel3), "Button2");
  box->addWidget(Edit5);
  box->addWidget(ListBox2);
  box->addWidget(Button2);
  Panel3->setVisible(false);
  page->addWidget(Panel3);

  PageControl1->addTab(TabSheet1, ImageList1[0], "Main text");
}

void TBaptismsForm::BuildMenus() {
  for (const MenuDef* def : {&kFileMenu, &kEditMenu, &kViewMenu, &kHelpMenu})
    menuBar()->addMenu(BuildMenu(this, *def, wiring_));
  PopupMenu1 = BuildMenu(this, kPopupMenu, wiring_);
}

QAction* TBaptismsForm::Action(const std::string& name) const {
  return findChild<QAction*>(QString::fromStdString(name));
}

std::vector<std::string> TBaptismsForm::Connect(const THandlerTable& handlers) {
  std::vector<std::string> missing;
  std::vector<TWiring> children;
  for (const TWiring& w : wiring_) {
    if (w.component == kFormName) {
      if (w.event == "OnClose") {
        if (const TCloseHandler* h = handlers.Close(w.handler)) on_close_ = *h;
        else missing.push_back(w.handler);
      } else if (const TNotifyHandler* h = handlers.Notify(w.handler)) {
        (w.event == "OnActivate" ? on_activate_ : on_resize_) = *h;
      } else {
        missing.push_back(w.handler);
      }
    } else if (w.component == "vm0") {
      if (const TNotifyHandler* h = handlers.Notify(w.handler)) {
        const TNotifyHandler call = *h;
        vm0->Memo().OnChange = [call](memo::TVellMemo*) { call(); };
      } else {
        missing.push_back(w.handler);
      }
    } else {
      children.push_back(w);
    }
  }
  for (std::string& name : ConnectChildren(this, children, handlers)) missing.push_back(std::move(name));
  return missing;
}

void TBaptismsForm::FireActivate() {
  if (on_activate_) on_activate_();
}

void TBaptismsForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (on_resize_) on_resize_();
}

void TBaptismsForm::closeEvent(QCloseEvent* event) {
  if (on_close_ && !on_close_()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

}  // namespace forms
