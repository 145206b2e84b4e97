#include "platform/gui/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPrintDialog>

#include "platform/gui/printer.h"
#include "platform/gui/text.h"

namespace gui {
namespace {

class TQtDialogRunner : public TDialogRunner {
public:
  bool RunPrintDialog(TPrinter& printer, TPrintDialog& d) override {
    QPrintDialog dialog(&printer.QtPrinter(), d.Parent);
    QAbstractPrintDialog::PrintDialogOptions options = dialog.options();
    options.setFlag(QAbstractPrintDialog::PrintPageRange, d.Options.pageNums);
    options.setFlag(QAbstractPrintDialog::PrintSelection, d.Options.selection);
    options.setFlag(QAbstractPrintDialog::PrintToFile, true);
    dialog.setOptions(options);
    if (d.MaxPage >= d.MinPage && d.MaxPage > 0) dialog.setMinMax(std::max(d.MinPage, 1), d.MaxPage);
    if (d.FromPage > 0 && d.ToPage >= d.FromPage) dialog.setFromTo(d.FromPage, d.ToPage);
    switch (d.PrintRange) {
      case prSelection:
        if (d.Options.selection) dialog.setPrintRange(QAbstractPrintDialog::Selection);
        break;
      case prPageNums:
        if (d.Options.pageNums) dialog.setPrintRange(QAbstractPrintDialog::PageRange);
        break;
      default: dialog.setPrintRange(QAbstractPrintDialog::AllPages); break;
    }
    if (dialog.exec() != QDialog::Accepted) return false;
    switch (dialog.printRange()) {
      case QAbstractPrintDialog::Selection: d.PrintRange = prSelection; break;
      case QAbstractPrintDialog::PageRange: d.PrintRange = prPageNums; break;
      default: d.PrintRange = prAllPages; break;
    }
    d.FromPage = dialog.fromPage();
    d.ToPage = dialog.toPage();
    d.Copies = printer.QtPrinter().copyCount();
    return true;
  }

  bool RunPrinterSetupDialog(TPrinter& printer, TPrinterSetupDialog& d) override {
    QPrintDialog dialog(&printer.QtPrinter(), d.Parent);
    dialog.setWindowTitle(QStringLiteral("Print Setup"));
    dialog.setOptions(QAbstractPrintDialog::PrintToFile);
    return dialog.exec() == QDialog::Accepted;
  }

  int ShowModal(QDialog& form) override { return form.exec(); }

  void ShowMessage(QWidget* parent, const std::string& text) override {
    QMessageBox::warning(parent, QApplication::applicationName(), ToQString(text));
  }
};

TQtDialogRunner qt_runner;
TDialogRunner* current_runner = nullptr;

}  // namespace

TDialogRunner& DialogRunner() { return current_runner ? *current_runner : qt_runner; }

void SetDialogRunner(TDialogRunner* runner) { current_runner = runner; }

TDialogRunnerScope::TDialogRunnerScope(TDialogRunner& runner) : previous_(current_runner) {
  current_runner = &runner;
}

TDialogRunnerScope::~TDialogRunnerScope() { current_runner = previous_; }

bool TPrintDialog::Execute() { return DialogRunner().RunPrintDialog(Printer(), *this); }

bool TPrinterSetupDialog::Execute() { return DialogRunner().RunPrinterSetupDialog(Printer(), *this); }

}  // namespace gui
