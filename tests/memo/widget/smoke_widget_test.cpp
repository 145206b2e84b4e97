#include "memo_widget_test_util.h"

using namespace memo_widget_test;

TEST_F(MemoWidgetTest, Smoke) {
  Type("hello");
  EXPECT_EQ(memo().GetText(), "hello");
  EXPECT_EQ(memo().getSelStart(), 5);
  EXPECT_TRUE(control->hasFocus());
  QImage img = Picture();
  EXPECT_GT(CountPixels(img, QRect(0, 0, 100, LineHeight()), IsDark), 10);
  img.save("/tmp/smoke.png");
}
