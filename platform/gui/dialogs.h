// The print dialog, the printer-setup dialog and modal forms, each behind a
// small interface: a TDialogRunner shows them. The program's runner uses
// QPrintDialog on the shared printer and QDialog::exec; tests install a
// runner of their own, so no test ever opens a modal dialog.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class QDialog;
class QWidget;

namespace gui {

class TPrinter;

enum TPrintRange : std::uint8_t { prAllPages, prSelection, prPageNums };

// What the print dialog offers (poPageNums, poSelection) and what the user
// chose (PrintRange, FromPage, ToPage, Copies).
struct TPrintDialogOptions {
  bool pageNums = false;
  bool selection = false;
};

class TPrintDialog {
public:
  TPrintDialogOptions Options;
  TPrintRange PrintRange = prAllPages;
  int FromPage = 0;
  int ToPage = 0;
  int MinPage = 0;
  int MaxPage = 0;
  int Copies = 1;
  QWidget* Parent = nullptr;

  // Shows the dialog on the shared printer; true when confirmed (the
  // printer then holds the chosen device or file).
  bool Execute();
};

class TPrinterSetupDialog {
public:
  QWidget* Parent = nullptr;
  bool Execute();
};

// Modal results of forms.
inline constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6;

class TDialogRunner {
public:
  virtual ~TDialogRunner() = default;
  virtual bool RunPrintDialog(TPrinter& printer, TPrintDialog& dialog) = 0;
  virtual bool RunPrinterSetupDialog(TPrinter& printer, TPrinterSetupDialog& dialog) = 0;
  // Shows a form modally; its modal result.
  virtual int ShowModal(QDialog& form) = 0;
  // Reports an error (Windows-1252 text) in a message box.
  virtual void ShowMessage(QWidget* parent, const std::string& text) = 0;
};

// The runner in use (the Qt one unless another was installed).
TDialogRunner& DialogRunner();
// Installs a runner (nullptr: back to the Qt one); the caller keeps it.
void SetDialogRunner(TDialogRunner* runner);

// Installs a runner for the lifetime of the object (tests).
class TDialogRunnerScope {
public:
  explicit TDialogRunnerScope(TDialogRunner& runner);
  ~TDialogRunnerScope();
  TDialogRunnerScope(const TDialogRunnerScope&) = delete;
  TDialogRunnerScope& operator=(const TDialogRunnerScope&) = delete;

private:
  TDialogRunner* previous_;
};

}  // namespace gui
