// The two TStrings views a memo offers: Paragraphs (one string per
// paragraph) and Lines (one string per display line, so a wrapped
// paragraph gives several). Both read and write the memo's own text.
#pragma once

#include <string>

#include "platform/runtime/strings.h"

namespace memo {

class TVellMemo;

class TVellMemoStrings : public rtl::TStrings {
public:
  explicit TVellMemoStrings(TVellMemo* memo) : memo_(memo) {}
  std::string ClassName() const override { return "TVellMemoStrings"; }

  // A TStrings source replaces the whole text (through the plain-text reader).
  void Assign(const rtl::TPersistent* source) override;
  void Clear() override;
  void LoadFromStream(rtl::TStream& stream) override;
  void SaveToStream(rtl::TStream& stream) const override;
  TVellMemo* Memo() const { return memo_; }

protected:
  std::string GetTextStr() const override;
  void SetTextStr(std::string_view text) override;
  void SetUpdateState(bool updating) override;
  // The paragraph view's Add, shared by both views.
  int AddParagraph(const std::string& s);

  TVellMemo* memo_;
};

class TVellParaStrings : public TVellMemoStrings {
public:
  using TVellMemoStrings::TVellMemoStrings;
  std::string ClassName() const override { return "TVellParaStrings"; }
  int Add(const std::string& s) override;
  void Delete(int index) override;
  void Insert(int index, const std::string& s) override;

protected:
  std::string Get(int index) const override;
  int GetCount() const override;
  void Put(int index, const std::string& s) override;
};

class TVellLinesStrings : public TVellMemoStrings {
public:
  using TVellMemoStrings::TVellMemoStrings;
  std::string ClassName() const override { return "TVellLinesStrings"; }
  int Add(const std::string& s) override;
  void Delete(int index) override;
  void Insert(int index, const std::string& s) override;

protected:
  std::string Get(int index) const override;
  int GetCount() const override;
  void Put(int index, const std::string& s) override;

private:
  void SelectLine(int index);
};

}  // namespace memo
