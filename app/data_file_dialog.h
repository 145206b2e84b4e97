// TForm2, the data-file list dialog: one check item per data file, showing
// its source line "[k] title" ("(UTF-8)" after it for a UTF-8 file), then,
// greyed and never ticked, the files of the folder left out of the list
// with their reason ("name (read-only)"). The ticks belong to the files (SourceTicks):
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

  // One item per source line (Windows-1252), ticked as ticks says, then
  // one greyed item per file left out.
  void Refill(const std::vector<std::string>& source_lines, const std::vector<std::string>& left_out = {});

  void Button1Click();  // "Select all"
  void Button2Click();  // "Unselect all"

private:
  void ShowTicks();

  appcore::SourceTicks& ticks_;
  bool filling_ = false;
  int sources_ = 0;  // items that are data files
};

}  // namespace app
