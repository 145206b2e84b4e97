#include <gtest/gtest.h>

#include <QClipboard>
#include <QMimeData>

#include "gui_test_util.h"
#include "platform/gui/clipboard.h"

namespace {

using namespace gui;

TEST(ClipboardTest, TextRoundTripsByteForByte) {
  gui_test::App();
  // The euro sign, an undefined code (0x81), a style code and CR LF.
  const std::string text = "a\x80 b\x81\x02\r\nc\xe9";
  Clipboard().SetText(text);
  EXPECT_TRUE(Clipboard().HasText());
  EXPECT_EQ(Clipboard().GetText(), text);
  // Other programs see Unicode with LF line ends.
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("a\xe2\x82\xac b\xef\xbf\xbd\x02\nc\xc3\xa9"));
}

TEST(ClipboardTest, ForeignTextGetsCrLfAndCodePageBytes) {
  gui_test::App();
  QGuiApplication::clipboard()->setText(QString::fromUtf8("x\ny\r\nz \xe2\x82\xac \xe4\xb8\xad"));
  EXPECT_EQ(Clipboard().GetText(), "x\r\ny\r\nz \x80 ?");
  QGuiApplication::clipboard()->clear();
  EXPECT_FALSE(Clipboard().HasText());
  EXPECT_EQ(Clipboard().GetText(), "");
}

TEST(ClipboardTest, PrivateFormatsAreNumberedOnceAndCarryTheirBlock) {
  gui_test::App();
  const unsigned a = RegisterClipboardFormat("My Block");
  EXPECT_EQ(RegisterClipboardFormat("my block"), a);
  EXPECT_NE(RegisterClipboardFormat("Other"), a);
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(RegisterClipboardFormat(""), 0u);
  EXPECT_EQ(ClipboardFormatMime(a), "application/x-quorvane-my-block");
  Clipboard().SetTextWithFormat("ab\r\n", a, std::string("ab\r\n\0", 5));
  EXPECT_TRUE(Clipboard().HasFormat(a));
  EXPECT_EQ(Clipboard().GetFormat(a), std::string("ab\r\n\0", 5));
  EXPECT_EQ(Clipboard().GetText(), "ab\r\n");
  Clipboard().SetText("plain");
  EXPECT_FALSE(Clipboard().HasFormat(a));
  EXPECT_FALSE(Clipboard().HasFormat(12345));
}

}  // namespace
