// What the family box's handlers see of the window: the box's two name
// edits, its children list and stepping arrows, the side buttons, the page
// selection, "Set as children", message boxes and the sex question. The
// program shows it on widgets; tests answer it themselves.
#pragma once

#include <string>
#include <vector>

namespace family {

// The husband's side of the box (Edit3, the F/M/Sibling/Spouse buttons
// beside it, UpDown1) or the wife's (Edit4, UpDown2).
enum class Side { kHusband, kWife };

// Answers of the sex question: its "Male" button, "Female" button, or
// the dialog closed (the class library's modal results).
inline constexpr int kAnswerMale = 1, kAnswerCancel = 2, kAnswerFemale = 7;

class TFamilyView {
public:
  virtual ~TFamilyView() = default;

  // Edit3 (husband) or Edit4 (wife).
  virtual std::string BoxText(Side side) const = 0;
  virtual void SetBoxText(Side side, const std::string& text) = 0;
  // ListBox1: the entries, emptying, adding, the selected entry (-1: none).
  virtual std::vector<std::string> Entries() const = 0;
  virtual void ClearEntries() = 0;
  virtual void AddEntry(const std::string& text) = 0;
  virtual int EntryIndex() const = 0;
  // UpDown1 (husband) or UpDown2 (wife).
  virtual int StepPosition(Side side) const = 0;
  virtual void SetStepPosition(Side side, int position) = 0;
  virtual void SetStepEnabled(Side side, bool enabled) = 0;
  // The F, M, Sibling and Spouse buttons after an Add.
  virtual void EnableSideButtons() = 0;

  // The current page's selection: its signed length and its text.
  virtual int SelectionLength() const = 0;
  virtual std::string SelectedText() const = 0;
  // "Set as children" on the current page's selection: fills the box and
  // puts the summary block into the page.
  virtual void ShowChildren() = 0;

  // A message box with OK.
  virtual void ShowMessage(const std::string& text) = 0;
  // The sex question with `question` in its second label: kAnswerMale,
  // kAnswerFemale or kAnswerCancel.
  virtual int AskSex(const std::string& question) = 0;
};

}  // namespace family
