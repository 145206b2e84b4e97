// The stored form "Form2": the data-file list dialog. No border and no
// caption bar, a header panel "Data files in selected directory.", the
// check list CheckListBox1 (one item per data file, "[k] title"), and the
// buttons Button1 "Select all", Button2 "Unselect all" (also the Cancel
// button: Escape presses it, and the dialog stays open) and OKBtn "OK"
// (closes with OK).
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "forms/form_defs.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace forms {

class TForm2Form : public QDialog {
public:
  explicit TForm2Form(QWidget* parent = nullptr);

  QLabel* Panel1 = nullptr;  // the header
  QListWidget* CheckListBox1 = nullptr;
  QPushButton* Button1 = nullptr;  // "Select all"
  QPushButton* Button2 = nullptr;  // "Unselect all", the Cancel button
  QPushButton* OKBtn = nullptr;    // "OK"

  const std::vector<TWiring>& Wiring() const { return wiring_; }
  std::vector<std::string> Connect(const THandlerTable& handlers);

  // Escape presses the Cancel button instead of closing.
  void reject() override;

private:
  std::vector<TWiring> wiring_;
};

}  // namespace forms
