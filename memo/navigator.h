// TVellNavigator: a position in a memo's text, readable and settable as an
// absolute position, paragraph and offset, display line and column, run
// index and pixel point. It caches its paragraph, its line in the
// paragraph and its run index, and recomputes a cache only when asked for
// after it was marked unset. Every navigator registers with its memo, so
// that edits can move it and clear its caches.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "memo/memo_types.h"
#include "memo/text_model.h"

namespace rtl {
class TComponent;
}

namespace memo {

class TVellMemo;

inline constexpr std::int32_t kUnset = 2147483647;

class TVellNavigator {
public:
  // Raises Exception "Internal error: component is not a TVellMemo" when
  // owner is given and is not a memo.
  explicit TVellNavigator(rtl::TComponent* owner);
  explicit TVellNavigator(TVellMemo* memo = nullptr);
  ~TVellNavigator();
  TVellNavigator(const TVellNavigator&) = delete;
  TVellNavigator& operator=(const TVellNavigator&) = delete;

  // Called by the destructor.
  std::function<void(TVellNavigator*)> OnFree;

  TVellMemo* Memo() const { return memo_; }
  // Binds the navigator to another memo (registering it there) or to none.
  void Bind(TVellMemo* memo);

  void Assign(const TVellNavigator& other);
  // Drops every cache but keeps the position.
  void Invalidate();

  // Reading.
  std::int32_t Pos() const { return pos_; }
  int GetParNb();
  ParInfo* GetPar();
  std::int32_t GetOffset();
  int GetDynNb();
  int GetParLine();
  int GetLineNb();
  int GetColNb();
  unsigned char GetText();
  // Copies up to count characters from the navigator on (breaks as 13 10),
  // zero-terminated; returns the number copied. The navigator stays.
  int GetTextBuf(char* buffer, int count);
  // The run in force, as a copy held by the navigator until the next call.
  const DynInfoRec* GetpDynInfo();
  DynInfoRec GetDynInfo() { return *GetpDynInfo(); }
  std::int32_t GetContext();
  std::uint8_t GetStyle();
  TPoint GetDisplayPos();
  TLinesList* GetNavLines();

  // Moving.
  void SetPos(std::int32_t pos);
  void setParNb(int index);
  void setParOffset(std::int32_t offset);
  void SetLineNb(int line);
  void SetParLine(int line);
  void SetColNb(int column);
  void SetDisplayPos(TPoint point);
  bool BackToDyn(std::int32_t limit);
  bool ForwardToDyn(std::int32_t limit);
  void RightOfDyn();
  void AddDyn(const DynInfoRec& run);
  void RemoveDyn();

private:
  friend class TVellMemo;
  friend void InvalidateNavs(const std::vector<TVellNavigator*>&, std::int32_t, int);
  void EnsurePar();
  void PointAt(int parNb);
  // Points at the start of run `run` of paragraph parNb, which is at pos.
  void PointAtRun(int parNb, int run, std::int32_t pos);

  TVellMemo* memo_ = nullptr;
  std::int32_t pos_ = 0;
  ParInfo* par_ = nullptr;
  int parNb_ = -1;
  std::int32_t offset_ = kUnset;
  std::int32_t dynNb_ = kUnset;
  std::int32_t parLine_ = kUnset;
  std::unique_ptr<TLinesList> lines_;
  DynInfoRec dyn_info_;
};

// Unsets the run index and line of every navigator of the list that has
// its paragraph cached, lies after pos and in a paragraph up to parNb.
void InvalidateNavs(const std::vector<TVellNavigator*>& list, std::int32_t pos, int parNb);

}  // namespace memo
