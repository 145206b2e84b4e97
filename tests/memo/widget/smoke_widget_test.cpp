#include "memo_widget_test_util.h"

#include <cstdlib>

using namespace memo_widget_test;

TEST_F(MemoWidgetTest, Smoke) {
  Type("hello");
  EXPECT_EQ(memo().GetText(), "hello");
  EXPECT_EQ(memo().getSelStart(), 5);
  EXPECT_TRUE(control->hasFocus());
  QImage img = Picture();
  EXPECT_GT(CountPixels(img, QRect(0, 0, 100, LineHeight()), IsDark), 10);
  // A fixed file in /tmp would be shared by every run on the machine: save
  // only on request.
  if (const char* path = std::getenv("QV_MEMO_SMOKE_SCREENSHOT")) {
    ASSERT_TRUE(img.save(path));
  }
}
