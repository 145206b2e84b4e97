// The family box on the main window: its view over the box's widgets, the
// page and the dialogs, and the handlers of its buttons and commands.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include "app/baptisms.h"
#include "family/family_box.h"
#include "family/family_tables.h"
#include "forms/small_dialogs.h"
#include "platform/gui/text.h"
#include "platform/gui/up_down.h"
#include "platform/runtime/exceptions.h"
#include "tables/components/korvex_table.h"

namespace app {

using family::Side;

class TBaptisms::TBoxView : public family::TFamilyView {
public:
  explicit TBoxView(TBaptisms& w) : w_(w) {}

  std::string BoxText(Side side) const override { return gui::ToCp1252(Edit(side)->text()); }
  void SetBoxText(Side side, const std::string& text) override { Edit(side)->setText(gui::ToQString(text)); }
  std::vector<std::string> Entries() const override {
    std::vector<std::string> entries;
    for (int i = 0; i < w_.ListBox1->count(); ++i) entries.push_back(gui::ToCp1252(w_.ListBox1->item(i)->text()));
    return entries;
  }
  void ClearEntries() override { w_.ListBox1->clear(); }
  void AddEntry(const std::string& text) override { w_.ListBox1->addItem(gui::ToQString(text)); }
  int EntryIndex() const override { return w_.ListBox1->currentRow(); }
  int StepPosition(Side side) const override { return Arrows(side)->Position(); }
  void SetStepPosition(Side side, int position) override { Arrows(side)->SetPosition(position); }
  void SetStepEnabled(Side side, bool enabled) override { Arrows(side)->setEnabled(enabled); }
  void EnableSideButtons() override {
    for (QPushButton* b : {w_.Ffbtn, w_.Fmbtn, w_.Fsibbtn, w_.Fspousebtn, w_.Wfbtn, w_.Wmbtn, w_.Wspousebtn})
      b->setEnabled(true);
  }
  int SelectionLength() const override { return w_.CurrentMemo()->Memo().getSelLength(); }
  std::string SelectedText() const override { return w_.CurrentMemo()->Memo().getSelText(); }
  void ShowChildren() override { w_.ShowChildren(); }
  void ShowMessage(const std::string& text) override { w_.prompts_.ShowMessage(text); }
  int AskSex(const std::string& question) override {
    w_.GetSexDlg().Label2->setText(gui::ToQString(question));
    return w_.RunModal(w_.GetSexDlg());
  }

private:
  QLineEdit* Edit(Side side) const { return side == Side::kHusband ? w_.Edit3 : w_.Edit4; }
  gui::TUpDown* Arrows(Side side) const { return side == Side::kHusband ? w_.UpDown1 : w_.UpDown2; }
  TBaptisms& w_;
};

void TBaptisms::MakeFamilyBox() {
  family_databases_ = std::make_unique<family::TFamilyDatabases>(settings_.Folder());
  family_view_ = std::make_unique<TBoxView>(*this);
  family_box_ = std::make_unique<family::TFamilyBox>(*KORVEXTable1, *KORVEXTable2, *family_view_);
}

void TBaptisms::CloseFamilyTables() {
  KORVEXTable1->Close();
  KORVEXTable2->Close();
}

void TBaptisms::FamilyCommand(const std::function<void()>& command) {
  try {
    command();
  } catch (const rtl::Exception& e) {
    prompts_.ShowMessage(e.Message());
  }
}

void TBaptisms::Button7Click() {
  FamilyCommand([this] { family_box_->AddClick(); });
}

void TBaptisms::FfbtnClick(QObject* sender) {
  FamilyCommand([&] { family_box_->ParentClick(sender == Ffbtn ? Side::kHusband : Side::kWife, Side::kHusband); });
}

void TBaptisms::wfbtnClick(QObject* sender) {
  FamilyCommand([&] { family_box_->ParentClick(sender == Fmbtn ? Side::kHusband : Side::kWife, Side::kWife); });
}

void TBaptisms::FsibbtnClick(QObject* sender) {
  FamilyCommand([&] { family_box_->SiblingClick(sender == Fsibbtn ? Side::kHusband : Side::kWife); });
}

void TBaptisms::WspousebtnClick(QObject* sender) {
  FamilyCommand([&] { family_box_->SpouseClick(sender == Fspousebtn ? Side::kHusband : Side::kWife); });
}

void TBaptisms::BitBtn2Click() {
  FamilyCommand([this] { family_box_->AddChildClick(); });
}

void TBaptisms::ListBox1Click() {
  FamilyCommand([this] { family_box_->ChildClick(); });
}

void TBaptisms::FillFamilyClick() { ListBox1Click(); }

void TBaptisms::UpDown1Click(QObject* sender, gui::TUDBtnType button) {
  FamilyCommand([&] { family_box_->StepClick(sender == UpDown1 ? Side::kHusband : Side::kWife, button == gui::btNext); });
}

void TBaptisms::ClearDataClick() {
  FamilyCommand([this] { family_box_->ClearDataClick(); });
}

void TBaptisms::ShowFamsClick() {
  FamilyCommand([this] { family_box_->ShowFamsClick(); });
}

void TBaptisms::Showfamilybox1Click() {
  family_box_shown_ = !family_box_shown_;
  if (QAction* item = Action("Showfamilybox1")) item->setChecked(family_box_shown_);
  if (family_box_shown_) {
    Panel3->setVisible(true);
    MovePanel3(PageControl1->currentIndex());
  } else {
    Panel3->setVisible(false);
  }
}

bool TBaptisms::FfbtnDragOver(QObject* source) const { return source != nullptr && source == CurrentMemo(); }

void TBaptisms::FfbtnDragDrop(QListWidget* target, QObject* source) {
  auto* control = dynamic_cast<memo::TVellMemoControl*>(source);
  if (target == nullptr || control == nullptr) return;
  target->addItem(gui::ToQString(control->Memo().getSelText()));
}

}  // namespace app
