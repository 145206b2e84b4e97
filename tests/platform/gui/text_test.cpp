// Text and paths crossing into Qt: text is Windows-1252, paths are the file
// system's bytes.
#include <gtest/gtest.h>

#include "platform/gui/text.h"

namespace {

using namespace gui;

TEST(QtText, Windows1252CrossesBothWays) {
  struct Case {
    std::string bytes;
    QString text;
  };
  const Case cases[] = {
      {"", QString()},
      {"plain ASCII", u"plain ASCII"_qs},
      {"Gr\xFC\xDF \x80 5", u"Grüß € 5"_qs},
      {"\x93quoted\x94 \x85", u"“quoted” …"_qs},
      {std::string("a\0b", 3), QString::fromUtf16(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToQString(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(ToCp1252(c.text), c.bytes) << c.bytes;
  }
  std::string every;
  for (int b = 1; b < 256; ++b) every.push_back(static_cast<char>(b));
  const QString shown = ToQString(every);
  EXPECT_EQ(shown.size(), 255);
  EXPECT_EQ(shown[0x81 - 1], QChar(0xFFFD));  // undefined byte
  std::string back = ToCp1252(shown);
  for (unsigned char undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) back[undefined - 1] = static_cast<char>(undefined);
  EXPECT_EQ(back, every);
  EXPECT_EQ(ToCp1252(u"Ж€😀"_qs), "?\x80?");  // no Windows-1252 character: '?'
}

TEST(QtText, PathsKeepTheFileSystemsBytes) {
  const std::string utf8 = "/tmp/G\xC3\xA9n\xC3\xA9" "alogie/\xD0\x96.txt";  // é, é, Cyrillic Zhe
  const QString path = PathToQString(utf8);
  EXPECT_EQ(path, u"/tmp/Généalogie/Ж.txt"_qs);
  EXPECT_EQ(PathFromQString(path), utf8);
  EXPECT_NE(ToQString(utf8), path);  // the text pair would misread the same bytes
  EXPECT_EQ(PathFromQString(QString()), "");
}

}  // namespace
