// TVellGutter: a narrow strip beside a memo that shows the number of each
// visible display line (or of each paragraph, on its first line) and up to
// ten bookmarks as small icons.
//
// It follows the memo without the memo knowing it: it joins the memo's
// list of attached components and sees every window message of the memo
// (Notification with operation 64): Ctrl+Shift+digit toggles a bookmark
// on the caret's line, Ctrl+digit jumps to one, a vertical scroll moves the
// strip's pixels, a text change repaints it when lines moved.
//
// Each bookmark is a navigator on the memo, so it follows the memo's edits.
// The gutter asks the memo for a free notification, so it learns that the
// memo is gone whoever owns the two, and never touches it afterwards.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "memo/memo_types.h"
#include "platform/runtime/classes.h"

namespace memo {

class TVellMemo;
class TVellNavigator;
class TVellMemoControl;

inline constexpr int kBookmarkCount = 10;

class TVellGutter : public QWidget, public rtl::TComponent {
public:
  explicit TVellGutter(QWidget* parent = nullptr, rtl::TComponent* owner = nullptr);
  ~TVellGutter() override;
  std::string ClassName() const override { return "TVellGutter"; }

  // ---- properties ----
  TVellMemo* VellMemo() const { return memo_; }
  // Bookmarks are dropped whenever the memo changes.
  void SetVellMemo(TVellMemo* memo);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  bool LineNumbers() const { return line_numbers_; }
  void SetLineNumbers(bool value);
  bool ParagraphNumbers() const { return paragraph_numbers_; }
  void setParNumbers(bool value);
  // Stored only; the drawing does not consult it.
  bool Bookmarks = true;
  TColor Color = clBtnFace;

  // ---- bookmarks ----
  // Toggles bookmark n (0 .. 9) on a display line; true when something
  // changed. A bookmark set elsewhere moves here; a line that holds another
  // bookmark is left alone.
  virtual bool BookmarkLine(int line, int n);
  // The lowest bookmark on the line, or -1.
  int GetBookmarkFromLine(int line);
  // The display line of bookmark n, or -1 when n is outside 0 .. 9 or the
  // bookmark is not set.
  int getBookmarks(int n);
  void ClearBookmarks();
  void JumpToBookmark(int n);

  // ---- following the memo ----
  void Scroll();
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;
  void MemoWndProc(const TMessage& message);

  // What the last paint drew, top to bottom (for tests).
  struct PaintedItem {
    int line = 0;
    int y = 0;            // top of the line in the gutter
    std::string text;     // the number drawn, "" for none
    int bookmark = -1;    // the icon drawn, -1 for none
  };
  const std::vector<PaintedItem>& PaintedItems() const { return painted_; }
  // The area the last paint was asked for.
  QRect LastPaintRect() const { return last_paint_rect_; }
  // The icon of bookmark n (10 x 10, white transparent).
  static const QImage& BookmarkIcon(int n);

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  TVellMemoControl* Control() const;
  void FreeBookmarks();
  void RememberBookmarkLines();
  bool BookmarksOnRememberedLines();

  TVellMemo* memo_ = nullptr;
  TAlignment alignment_ = taCenter;
  bool line_numbers_ = true;
  bool paragraph_numbers_ = false;
  std::array<std::unique_ptr<TVellNavigator>, kBookmarkCount> bookmarks_;
  std::array<int, kBookmarkCount> remembered_lines_;
  int remembered_top_ = 0;
  int remembered_line_count_ = -1;
  int remembered_par_count_ = -1;
  std::vector<PaintedItem> painted_;
  QRect last_paint_rect_;
};

}  // namespace memo
