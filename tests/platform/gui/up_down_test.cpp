// The two-arrow up-down: each arrow reports itself, neither moves the
// position, a disabled one reports nothing.
#include <gtest/gtest.h>

#include <QToolButton>

#include "platform/gui/up_down.h"
#include "tests/platform/gui/gui_test_util.h"

namespace gui {
namespace {

TEST(UpDown, ArrowsReportThemselvesAndLeaveThePosition) {
  gui_test::App();
  TUpDown u;
  std::vector<TUDBtnType> clicks;
  u.OnClick = [&](TUDBtnType b) { clicks.push_back(b); };
  u.SetPosition(2);
  u.UpButton()->click();
  EXPECT_EQ(u.LastButton(), btNext);
  u.DownButton()->click();
  EXPECT_EQ(u.LastButton(), btPrev);
  EXPECT_EQ(clicks, (std::vector<TUDBtnType>{btNext, btPrev}));
  EXPECT_EQ(u.Position(), 2);
  u.setEnabled(false);
  u.Click(btNext);
  EXPECT_EQ(clicks.size(), 2u);
}

}  // namespace
}  // namespace gui
