// TVellHighlighter: the base of pluggable highlighters. A memo that takes
// one as its Highlighter asks it to add its own keyword runs and to find
// start and stop keys of its own pairs. The base class adds nothing.
#pragma once

#include <vector>

#include "platform/runtime/classes.h"

namespace memo {

class TVellMemo;
class TVellNavigator;

class TVellHighlighter : public rtl::TComponent {
public:
  explicit TVellHighlighter(rtl::TComponent* owner = nullptr) : rtl::TComponent(owner) {}
  // Takes itself away from every memo that uses it.
  ~TVellHighlighter() override;
  std::string ClassName() const override { return "TVellHighlighter"; }

  // Adds keyword runs between the navigators; its keys are numbered from
  // base on (base = the number of the memo's own keywords).
  virtual void ApplyKeywordsList(TVellNavigator* start, TVellNavigator* stop, int base) {}
  // Opens a run at the first start key of its own pairs between the
  // navigators; on success leaves start just after the opening key.
  virtual bool FindStart(TVellNavigator* start, TVellNavigator* stop, int base) { return false; }
  // Closes the open run of one of its pairs; on success leaves start just
  // after the stop key.
  virtual bool FindStop(TVellNavigator* start, TVellNavigator* stop, int base) { return false; }

  const std::vector<TVellMemo*>& Memos() const { return memos_; }

private:
  friend class TVellMemo;
  std::vector<TVellMemo*> memos_;
};

}  // namespace memo
