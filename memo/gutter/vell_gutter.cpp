#include "memo/gutter/vell_gutter.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "memo/navigator.h"
#include "memo/vell_memo.h"
#include "memo/widget/memo_control.h"
#include "platform/gui/colors.h"
#include "platform/gui/messages.h"

namespace memo {
namespace {

constexpr int kIconSize = 10;
constexpr int kBtnShadow = 16;
constexpr int kBtnHighlight = 20;

// Digits of 3 x 5 pixels, one row of three bits per entry.
constexpr std::uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 2, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

// A bookmark icon: a dark square with its number, on a transparent field.
QImage MakeIcon(int n) {
  QImage icon(kIconSize, kIconSize, QImage::Format_ARGB32);
  icon.fill(Qt::transparent);
  const QRgb frame = qRgb(0, 0, 128), face = qRgb(0, 64, 160), digit = qRgb(255, 255, 0);
  for (int y = 0; y < kIconSize; ++y)
    for (int x = 0; x < kIconSize; ++x) {
      const bool edge = x == 0 || y == 0 || x == kIconSize - 1 || y == kIconSize - 1;
      const bool corner = (x == 0 || x == kIconSize - 1) && (y == 0 || y == kIconSize - 1);
      if (!corner) icon.setPixel(x, y, edge ? frame : face);
    }
  for (int row = 0; row < 5; ++row)
    for (int col = 0; col < 3; ++col)
      if (kDigits[n][row] & (4 >> col)) icon.setPixel(3 + col, 2 + row, digit);
  return icon;
}

}  // namespace

const QImage& TVellGutter::BookmarkIcon(int n) {
  static const std::array<QImage, kBookmarkCount> icons = [] {
    std::array<QImage, kBookmarkCount> all;
    for (int i = 0; i < kBookmarkCount; ++i) all[i] = MakeIcon(i);
    return all;
  }();
  return icons[std::clamp(n, 0, kBookmarkCount - 1)];
}

TVellGutter::TVellGutter(QWidget* parent, rtl::TComponent* owner) : QWidget(parent), rtl::TComponent(owner) {
  remembered_lines_.fill(-1);
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(30, 50);
}

TVellGutter::~TVellGutter() {
  FreeBookmarks();
  if (memo_) {
    memo_->DetachComponent(this);
    memo_->RemoveFreeNotification(this);
    memo_ = nullptr;
  }
}

// ---- properties ----

TVellMemoControl* TVellGutter::Control() const {
  return memo_ ? dynamic_cast<TVellMemoControl*>(memo_->Window()) : nullptr;
}

void TVellGutter::SetVellMemo(TVellMemo* memo) {
  if (memo == memo_) return;
  FreeBookmarks();
  if (memo_) {
    memo_->DetachComponent(this);
    memo_->RemoveFreeNotification(this);
  }
  memo_ = memo;
  if (memo_) {
    memo_->AttachComponent(this);
    // Told when the memo goes, whoever owns the two.
    memo_->FreeNotification(this);
  }
  remembered_line_count_ = remembered_par_count_ = -1;
  update();
}

void TVellGutter::SetAlignment(TAlignment value) {
  if (value == alignment_) return;
  alignment_ = value;
  update();
}

void TVellGutter::SetLineNumbers(bool value) {
  if (value == line_numbers_) return;
  line_numbers_ = value;
  update();
}

void TVellGutter::setParNumbers(bool value) {
  if (value == paragraph_numbers_) return;
  paragraph_numbers_ = value;
  update();
}

// ---- bookmarks ----

void TVellGutter::FreeBookmarks() {
  for (auto& nav : bookmarks_) nav.reset();
  remembered_lines_.fill(-1);
}

bool TVellGutter::BookmarkLine(int line, int n) {
  if (!memo_ || n < 0 || n >= kBookmarkCount || line < 0 || line >= memo_->LineCount()) return false;
  if (bookmarks_[n] && bookmarks_[n]->GetLineNb() == line) {
    bookmarks_[n].reset();
    update();
    return true;
  }
  if (GetBookmarkFromLine(line) >= 0) return false;
  auto nav = std::make_unique<TVellNavigator>(memo_);
  nav->SetLineNb(line);
  bookmarks_[n] = std::move(nav);
  update();
  return true;
}

int TVellGutter::GetBookmarkFromLine(int line) {
  for (int n = 0; n < kBookmarkCount; ++n)
    if (bookmarks_[n] && bookmarks_[n]->GetLineNb() == line) return n;
  return -1;
}

int TVellGutter::getBookmarks(int n) {
  if (n < 0 || n >= kBookmarkCount || !bookmarks_[n]) return -1;
  return bookmarks_[n]->GetLineNb();
}

void TVellGutter::ClearBookmarks() {
  for (int n = 0; n < kBookmarkCount; ++n)
    if (bookmarks_[n]) BookmarkLine(bookmarks_[n]->GetLineNb(), n);
}

void TVellGutter::JumpToBookmark(int n) {
  if (!memo_ || n < 0 || n >= kBookmarkCount || !bookmarks_[n]) return;
  memo_->setSelStart(bookmarks_[n]->Pos());
  if (TVellMemoControl* control = Control()) control->ScrollInView();
}

void TVellGutter::RememberBookmarkLines() {
  for (int n = 0; n < kBookmarkCount; ++n) remembered_lines_[n] = getBookmarks(n);
}

bool TVellGutter::BookmarksOnRememberedLines() {
  for (int n = 0; n < kBookmarkCount; ++n)
    if (getBookmarks(n) != remembered_lines_[n]) return false;
  return true;
}

// ---- following the memo ----

void TVellGutter::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  if (operation == kMessageNotification) {
    if (memo_ && component == memo_) MemoWndProc(memo_->LastMessage());
    return;
  }
  rtl::TComponent::Notification(component, operation);
  if (operation == rtl::opRemove && component && component == memo_) {
    // The memo is going: its navigators are already detached from it.
    FreeBookmarks();
    memo_ = nullptr;
    update();
  }
}

void TVellGutter::MemoWndProc(const TMessage& message) {
  if (!memo_) return;
  switch (message.Msg) {
    case gui::WM_KEYDOWN: {
      const int key = static_cast<int>(message.WParam);
      if (key < '0' || key > '9') break;
      const gui::TShiftState shift = gui::KeyShiftState(message.LParam);
      const bool ctrl = shift & gui::ssCtrl, withShift = shift & gui::ssShift, alt = shift & gui::ssAlt;
      const int n = key - '0';
      if (ctrl && withShift && !alt) {
        BookmarkLine(memo_->getSelLine(), n);
        update();
      } else if (ctrl && !withShift && !alt && bookmarks_[n]) {
        memo_->setSelLine(getBookmarks(n));
        if (TVellMemoControl* control = Control()) control->ScrollInView();
      }
      break;
    }
    case VM_VSCROLLED: Scroll(); break;
    case CM_FONTCHANGED: update(); break;
    case CM_TEXTCHANGED:
      if (memo_->LineCount() != remembered_line_count_ || memo_->GetParCount() != remembered_par_count_ ||
          !BookmarksOnRememberedLines())
        update();
      remembered_line_count_ = memo_->LineCount();
      remembered_par_count_ = memo_->GetParCount();
      break;
    default: break;
  }
}

void TVellGutter::Scroll() {
  if (!parentWidget() || !memo_ || !Control()) return;
  if (memo_->LineCount() == remembered_line_count_ && memo_->GetParCount() == remembered_par_count_) {
    const int dy = remembered_top_ - memo_->TopOrigin();
    remembered_top_ = memo_->TopOrigin();
    if (dy != 0) scroll(0, dy);
  } else {
    update();
  }
}

void TVellGutter::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painted_.clear();
  last_paint_rect_ = event->rect();
  const int w = width() - 2;
  painter.fillRect(rect(), gui::ToQColor(Color));
  painter.setPen(gui::ToQColor(gui::SystemColor(kBtnHighlight)));
  painter.drawLine(w, 0, w, height());
  painter.setPen(gui::ToQColor(gui::SystemColor(kBtnShadow)));
  painter.drawLine(w + 1, 0, w + 1, height());
  TVellMemoControl* control = Control();
  if (!memo_ || !control) return;

  remembered_top_ = memo_->TopOrigin();
  remembered_line_count_ = memo_->LineCount();
  remembered_par_count_ = memo_->GetParCount();
  const int lh = std::max(memo_->LineHeight(), 1);
  RememberBookmarkLines();

  const int memoTop = control->viewport()->mapToGlobal(QPoint(0, 0)).y();
  const int gutterTop = mapToGlobal(QPoint(0, 0)).y();
  const int first = gutterTop > memoTop ? (gutterTop - memoTop + memo_->TopOrigin()) / lh : memo_->getTopLine();
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  const int digit = alignment_ == taLeftJustify ? 0 : QFontMetrics(font()).horizontalAdvance(QLatin1Char('0'));
  const int baseline = control->BaselineOffset();
  const int iconOffset = std::max((lh - kIconSize) / 2, baseline - kIconSize);

  int y = first * lh - memo_->TopOrigin() + memoTop - gutterTop;
  for (int line = first; y < height() && line < memo_->LineCount(); ++line, y += lh) {
    PaintedItem item;
    item.line = line;
    item.y = y;
    int bookmark = -1;
    for (int n = 0; n < kBookmarkCount && bookmark < 0; ++n)
      if (remembered_lines_[n] == line) bookmark = n;
    if (bookmark >= 0) {
      const int x = alignment_ == taLeftJustify    ? 2
                    : alignment_ == taRightJustify ? w - kIconSize
                                                   : (w - kIconSize) / 2;
      painter.drawImage(x, y + iconOffset, BookmarkIcon(bookmark));
      item.bookmark = bookmark;
    } else if (line_numbers_) {
      if (paragraph_numbers_) {
        const int par = memo_->FindParOfLine(line);
        if (memo_->ParFirstLine(par) == line) item.text = std::to_string(par + 1);
      } else {
        item.text = std::to_string(line + 1);
      }
      if (!item.text.empty()) {
        const int length = static_cast<int>(item.text.size()) * digit;
        const int x = alignment_ == taLeftJustify ? 0 : alignment_ == taRightJustify ? w - length : (w - length) / 2;
        painter.drawText(x, y + baseline, QString::fromStdString(item.text));
      }
    }
    painted_.push_back(item);
  }
}

}  // namespace memo
