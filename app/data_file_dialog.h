// TForm2, the data-file list dialog: one check item per data file, showing
// its source line "[k] title". The ticks belong to the files (SourceTicks):
// the main window refills the list at every rebuild of the file list, so
// item k always names data file k and keeps that file's tick.
#pragma once

#include <string>
#include <vector>

#include "app/core/source_ticks.h"
#include "forms/form2.h"

namespace app {

class TForm2 : public forms::TForm2Form {
public:
  // ticks is the main window's; it outlives the dialog.
  TForm2(appcore::SourceTicks& ticks, QWidget* parent = nullptr);

  // One item per source line (Windows-1252), ticked as ticks says.
  void Refill(const std::vector<std::string>& source_lines);

  void Button1Click();  // "Select all"
  void Button2Click();  // "Unselect all"

private:
  void ShowTicks();

  appcore::SourceTicks& ticks_;
  bool filling_ = false;
};

}  // namespace app
