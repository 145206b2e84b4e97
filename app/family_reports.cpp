// The family reports' side of the window: the hidden memo GedEdit as the
// current memo, and saving or copying it.
#include <QTabWidget>

#include "app/baptisms.h"
#include "app/core/highlight_words.h"
#include "app/core/page_file.h"
#include "app/page_text.h"
#include "family/gedcom_composer.h"
#include "family/report_commands.h"
#include "platform/runtime/files.h"
#include "textutil/system.h"

namespace app {
namespace {

// The save dialog for GEDCOM lines.
constexpr forms::TFileDialogDef kGedcomDialog{"ged", "GEDCOM|*.ged|all|*.*", true};

}  // namespace

void TBaptisms::Showfamily1Click() {
  if (PageBusy()) return;  // the search is still writing the page
  FamilyCommand([this] {
    family::TFamilyReports reports(*family_box_, *family_view_);
    if (reports.ShowFamily(*GedEdit)) SetPageLines(current_memo_->Memo(), family::MemoLines(*GedEdit));
  });
}

void TBaptisms::Henrylist1Click() {
  if (PageBusy()) return;
  FamilyCommand([this] {
    family::TFamilyReports reports(*family_box_, *family_view_);
    if (reports.HenryList(*VellMemo2)) SetPageLines(current_memo_->Memo(), family::MemoLines(*VellMemo2));
  });
}

void TBaptisms::CreateGEDCOM1Click() {
  FamilyCommand([this] {
    family::TFamilyReports(*family_box_, *family_view_).CreateGedcom(*GedEdit, textutil::GetUser());
  });
}

void TBaptisms::GedEditEnter() { ged_current_ = true; }

bool TBaptisms::SaveGedEdit() {
  const std::vector<std::string> lines = family::MemoLines(*GedEdit);
  const bool gedcom = family::IsGedcomText(lines);
  const std::optional<std::string> path = prompts_.SaveFileName(gedcom ? kGedcomDialog : SaveDialog1,
                                                                settings_.SaveDir(), gedcom ? "family.ged" : "family.txt");
  if (!path || !MayReplace(*path)) return false;
  const bool written = ShowFailure([&] {
    if (gedcom) {
      // A GEDCOM file: UTF-8, CR LF, no highlight words beside it.
      appcore::SavePageFile(*path, family::GedcomFileBytes(lines));
    } else {
      appcore::SavePageFile(*path, GedEdit->Paragraphs()->Text());
      appcore::SaveHighlightWords(*path, {});
    }
  });
  if (!written) return false;
  GedEdit->Modified = false;
  return true;
}

void TBaptisms::CopyGedEditToNewPage() {
  const std::vector<std::string> lines = family::MemoLines(*GedEdit);
  memo::TVellMemoControl* control = AddTab(family::IsGedcomText(lines) ? "GEDCOM" : "Family");
  SetPageLines(control->Memo(), lines);
}

}  // namespace app
