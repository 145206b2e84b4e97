#include "app/data_file_dialog.h"

#include <QListWidget>

#include "platform/gui/text.h"

namespace app {

TForm2::TForm2(appcore::SourceTicks& ticks, QWidget* parent) : forms::TForm2Form(parent), ticks_(ticks) {
  forms::THandlerTable handlers;
  handlers.Set("Button1Click", [this] { Button1Click(); });
  handlers.Set("Button2Click", [this] { Button2Click(); });
  Connect(handlers);
  QObject::connect(CheckListBox1, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
    const int row = CheckListBox1->row(item);
    if (!filling_ && row < sources_) ticks_.SetTicked(row, item->checkState() == Qt::Checked);
  });
}

void TForm2::Refill(const std::vector<std::string>& source_lines, const std::vector<std::string>& left_out) {
  filling_ = true;
  CheckListBox1->clear();
  for (const std::string& line : source_lines) {
    auto* item = new QListWidgetItem(gui::ToQString(line), CheckListBox1);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
  }
  sources_ = static_cast<int>(source_lines.size());
  for (const std::string& name : left_out) {
    // Shown, never searched: no check box to tick.
    auto* item = new QListWidgetItem(gui::ToQString("Left out: " + name), CheckListBox1);
    item->setFlags(Qt::NoItemFlags);
  }
  filling_ = false;
  ShowTicks();
}

void TForm2::ShowTicks() {
  filling_ = true;
  for (int i = 0; i < sources_; ++i)
    CheckListBox1->item(i)->setCheckState(ticks_.Ticked(i) ? Qt::Checked : Qt::Unchecked);
  filling_ = false;
}

void TForm2::Button1Click() {
  ticks_.SelectAll();
  ShowTicks();
}

void TForm2::Button2Click() {
  ticks_.UnselectAll();
  ShowTicks();
}

}  // namespace app
