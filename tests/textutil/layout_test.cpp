#include "textutil/layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tests/textutil/reference_data.h"
#include "support/temp_dir.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using LayoutTest = TextutilTest;

TEST_F(LayoutTest, WrapText) {
  EXPECT_EQ(WrapText("aaa bbb ccc", 5), "aaa\r\n bbb\r\n ccc\r\n");
  EXPECT_EQ(WrapText("abcdefgh", 3), "abcdefgh\r\n");
  EXPECT_EQ(WrapText("aaa,bbb", 5), "aaa,\r\nbbb\r\n");
  EXPECT_EQ(WrapText("", 5), "");
  EXPECT_EQ(WrapText("short", 10), "short\r\n");
  EXPECT_EQ(WrapText("one\r\ntwo", 10), "one\r\ntwo\r\n");
  EXPECT_EQ(WrapText("x\r\n\r\n\r\ny", 10), "x\r\ny\r\n");
  EXPECT_EQ(WrapText("aaa bbb", 0), "aaa bbb\r\n");
  EXPECT_EQ(WrapText("aaa bbb", -3), "aaa bbb\r\n");
}

TEST_F(LayoutTest, WrapTextKeepsEveryCharacter) {
  std::mt19937 rng(2);
  const std::string alphabet = "abc ,.-\r\n";
  for (int i = 0; i < 300; ++i) {
    std::string s(rng() % 80, ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    int width = 1 + static_cast<int>(rng() % 12);
    std::string wrapped = WrapText(s, width);
    std::string a, b;
    for (char c : s)
      if (c != '\r' && c != '\n') a += c;
    for (char c : wrapped)
      if (c != '\r' && c != '\n') b += c;
    ASSERT_EQ(a, b) << s;
  }
}

TEST_F(LayoutTest, HtmlPage) {
  EXPECT_EQ(ASC2HTM("", "", ""), "<html><head><title>No title</title></head><body></body></html>");
  std::string page = ASC2HTM("T", "Fish & Chips (c) <b>\xE9", "");
  EXPECT_NE(page.find("Fish &amp Chips &copy; &LTb&GT&#233;<BR>"), std::string::npos) << page;
  page = ASC2HTM("T", "plain", "3 \"Arial\" bi");
  EXPECT_NE(page.find("<font size=\"3\" face=\"Arial\"><B><I>plain<BR>"), std::string::npos) << page;
  EXPECT_NE(page.find("</I></B></font></body></html>"), std::string::npos) << page;
}

TEST_F(LayoutTest, HtmlMarkup) {
  std::string page = ASC2HTM("T", "#one\r\n#two\r\n*dot\r\nend\r\n-\r\n\\\\Head\r\n@code\r\n#raw\r\n@\r\n[Home]index.htm here", "");
  EXPECT_NE(page.find("<OL><LI>one\r\n<LI>two\r\n</OL><UL><LI>dot\r\n</UL>end<BR>\r\n<HR>\r\n<H2>Head</H2>\r\n"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<PRE>code\r\n#raw<BR>\r\n</PRE>\r\n"), std::string::npos) << page;
  EXPECT_NE(page.find("<A HREF=\"index.htm\">Home</A> here<BR>"), std::string::npos) << page;
  // Open lists and blocks are closed at the end.
  page = ASC2HTM("T", "*a\r\n@x", "");
  EXPECT_NE(page.find("</UL><PRE>x\r\n</PRE></body>"), std::string::npos) << page;
  EXPECT_NE(ASC2HTM("T", "\\\\\\\\\\\\\\\\deep", "").find("<H6>deep</H6>"), std::string::npos);
}

TEST_F(LayoutTest, NumberWords) {
  EXPECT_EQ(NumToWord("1234.5", true), "One Thousand Two Hundred Thirty Four Dollars and 50 Cents");
  EXPECT_EQ(NumToWord("-7", false), "Negative Seven");
  EXPECT_EQ(NumToWord("0", false), "Zero");
  EXPECT_EQ(NumToWord("1234567890123456", false), "");
  EXPECT_EQ(NumToWord("", false), "");
  EXPECT_EQ(NumToWord("12a", false), "");
  EXPECT_EQ(NumToWord("1,000,017", false), "One Million Seventeen");
  EXPECT_EQ(NumToWord("999999999999999", false),
            "Nine Hundred Ninety Nine Trillion Nine Hundred Ninety Nine Billion Nine Hundred Ninety Nine "
            "Million Nine Hundred Ninety Nine Thousand Nine Hundred Ninety Nine");
  EXPECT_EQ(NumToWord("20", true), "Twenty Dollars");
  EXPECT_EQ(NumToWord("3.07", true), "Three Dollars and 07 Cents");
}

TEST_F(LayoutTest, NumberWordsReadTheFractionDigitByDigit) {
  EXPECT_EQ(NumToWord("1.5", false), "One pt Five");
  EXPECT_EQ(NumToWord("1.05", false), "One pt Zero Five");
  EXPECT_EQ(NumToWord("1.50", false), "One pt Five Zero");
  EXPECT_EQ(NumToWord("0.25", false), "Zero pt Two Five");
}

TEST_F(LayoutTest, NumberWordsFollowTheSeparators) {
  MutableState().DecimalSep = ',';
  MutableState().ThousandSep = '.';
  EXPECT_EQ(NumToWord("1.234,5", true), "One Thousand Two Hundred Thirty Four Dollars and 50 Cents");
}

TEST_F(LayoutTest, OrdinalsRomansAndBooleans) {
  const std::pair<int, const char*> cases[] = {{1, "st"},  {2, "nd"},   {3, "rd"},   {4, "th"},  {11, "th"},
                                               {12, "th"}, {21, "st"},  {22, "nd"},  {101, "st"}, {111, "th"},
                                               {112, "th"}, {123, "rd"}, {1000, "th"}, {0, "th"}};
  for (auto [n, s] : cases) EXPECT_EQ(OrdSuffix(n), s) << n;
  EXPECT_EQ(RomanNum(1994), "MCMXCIV");
  EXPECT_EQ(RomanNum(4000), "MMMM");
  EXPECT_EQ(RomanNum(0), "Error!");
  EXPECT_EQ(RomanNum(10000), "Error!");
  EXPECT_EQ(RomanNum(3888), "MMMDCCCLXXXVIII");
  EXPECT_EQ(RomanNum(9999), "MMMMMMMMMCMXCIX");
  EXPECT_EQ(BoolToStr(true), "True");
  EXPECT_EQ(BoolToStr(false), "False");
  EXPECT_EQ(iif(true, std::string("a"), std::string("b")), "a");
  EXPECT_EQ(iif(false, 1, 2), 2);
}

TEST_F(LayoutTest, UrlCodec) {
  EXPECT_EQ(URLEncode("a b&c"), "a b%26c");  // the blank is kept
  EXPECT_EQ(URLEncode("x/y"), "x%2Fy");
  EXPECT_EQ(URLEncode(std::string("\0\xFF", 2)), "%00%FF");
  EXPECT_EQ(URLDecode("a+b%26c"), "a b&c");
  EXPECT_EQ(URLDecode("x=1&y=2"), "x=1\r\ny=2");
  EXPECT_EQ(URLDecode("100%"), "100%");
  EXPECT_EQ(URLDecode("%4"), "%4");
  EXPECT_EQ(URLDecode("%zz%41"), "%zzA");
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  std::string back = URLDecode(URLEncode(all));
  // Only '+' and '&' do not come back as themselves.
  for (int c = 0; c < 256; ++c)
    if (c != '+' && c != '&') {
      EXPECT_NE(back.find(static_cast<char>(c)), std::string::npos) << c;
    }
}

TEST_F(LayoutTest, UuCodecMatchesBinascii) {
  EXPECT_EQ(UUEncode("abc"), "86)C");
  EXPECT_EQ(UUDecode("86)C"), "abc");
  EXPECT_EQ(UUDecode("86)"), "");
  EXPECT_EQ(UUEncode("a"), UUEncode("a  "));  // padded with blanks
  EXPECT_EQ(UUDecode(UUEncode("ab")), "ab ");
  for (const auto& row : testdata::ReadTable("uu.txt")) {
    std::string data = testdata::FromHex(row[0]);
    std::string text = row.size() > 1 ? row[1] : "";
    for (char& c : text)
      if (c == '~') c = ' ';
    EXPECT_EQ(UUEncode(data), text);
    EXPECT_EQ(UUDecode(text), data);
  }
}

TEST_F(LayoutTest, Slashes) {
  EXPECT_EQ(Left("/home/dir ", AddSlash), "/home/dir/");
  EXPECT_EQ(Left("/home/dir/", AddSlash), "/home/dir/");
  EXPECT_EQ(Left("/home/dir/", DelSlash), "/home/dir");
  EXPECT_EQ(Left("/home/dir", DelSlash), "/home/dir");
  EXPECT_EQ(Left("", AddSlash), "/");
}

TEST_F(LayoutTest, TruncPath) {
  std::string p = "/usr/share/doc/quorvane/readme.txt";
  EXPECT_TRUE(TruncPath(p, 20));
  EXPECT_EQ(p.size(), 20u);
  EXPECT_EQ(p, "/usr/s.../readme.txt");
  EXPECT_EQ(Edited("averyveryverylongname.txt", TruncPath, 10), "true|averyve...");
  EXPECT_EQ(Edited("/a/b", TruncPath, 10), "true|/a/b");
  EXPECT_EQ(Edited("/abc/def", TruncPath, 3), "false|/abc/def");
  std::mt19937 rng(6);
  for (int i = 0; i < 300; ++i) {
    std::string s(1 + rng() % 40, 'x');
    for (char& c : s)
      if (rng() % 5 == 0) c = '/';
    int max = 4 + static_cast<int>(rng() % 30);
    std::string t = s;
    EXPECT_TRUE(TruncPath(t, max));
    ASSERT_LE(t.size(), static_cast<size_t>(max)) << s;
    if (s.size() > static_cast<size_t>(max)) {
      ASSERT_EQ(t.substr(0, 1), s.substr(0, 1)) << s;
    }
  }
}

TEST_F(LayoutTest, Abbreviate) {
  std::string s = "International Business Machines";
  EXPECT_TRUE(Abbreviate(s, "aeiou", 20));
  EXPECT_LE(s.size(), 20u);
  EXPECT_EQ(s.substr(0, 2), "In");
  EXPECT_EQ(Edited("Supercalifragilistic", Abbreviate, "", 5), "true|Super");
  std::string fits = "ok";
  EXPECT_TRUE(Abbreviate(fits, "", 5));
  std::string bad = "two words";
  EXPECT_FALSE(Abbreviate(bad, "", 0));
  std::string numbered = "Route 66 Westward Expansion";
  EXPECT_TRUE(Abbreviate(numbered, "", 15));
  EXPECT_NE(numbered.find("66"), std::string::npos);
  std::string spaced = "a    b   ";
  EXPECT_TRUE(Abbreviate(spaced, "", 3));
  EXPECT_EQ(spaced, "a b");
}

class PathScanTest : public TextutilTest {
protected:
  void SetUp() override {
    TextutilTest::SetUp();
    root_ = scratch_.path();
    std::filesystem::create_directories(root_ / "a" / "deep");
    std::filesystem::create_directories(root_ / "b");
    std::ofstream(root_ / "a" / "deep" / "x.txt") << "x";
    std::ofstream(root_ / "b" / "x.txt") << "x";
  }
  std::string Dir(const std::string& sub) { return (root_ / sub).string() + "/"; }
  qvtest::TempDir scratch_;
  std::filesystem::path root_;
};

TEST_F(PathScanTest, FindsInListedDirectories) {
  std::string paths = " " + Dir("a") + ";" + Dir("b") + " ";
  EXPECT_TRUE(PathScan("x.txt", paths));
  EXPECT_EQ(paths, Dir("b"));
  std::string missing = Dir("a");
  EXPECT_FALSE(PathScan("x.txt", missing));
  EXPECT_EQ(missing, Dir("a"));
  std::string none = root_.string() + "/nowhere;";
  EXPECT_FALSE(PathScan("x.txt", none));
  std::string empty;
  EXPECT_FALSE(PathScan("x.txt", empty));
}

TEST_F(PathScanTest, StarSearchesSubdirectories) {
  std::string paths = root_.string() + "*";
  EXPECT_TRUE(PathScan("x.txt", paths));
  EXPECT_NE(paths.find(Dir("a/deep")), std::string::npos) << paths;
  EXPECT_NE(paths.find(Dir("b")), std::string::npos) << paths;
  EXPECT_NE(paths.find(';'), std::string::npos);
}

TEST_F(LayoutTest, SocialSecurityNumbers) {
  EXPECT_EQ(ValidSSN("078-05-1120"), 1);
  EXPECT_EQ(ValidSSN("000-12-3456"), -1);
  EXPECT_EQ(ValidSSN("123-00-4567"), -1);
  EXPECT_EQ(ValidSSN("123-45-0000"), -1);
  EXPECT_EQ(ValidSSN("650-12-3456"), -1);
  EXPECT_EQ(ValidSSN("800-12-3456"), -1);
  EXPECT_EQ(ValidSSN("123-13-4567"), 0);  // odd group above 10
  EXPECT_EQ(ValidSSN("701-12-4567"), 0);
  EXPECT_EQ(ValidSSN("12345678"), -1);
  EXPECT_EQ(ValidSSN(""), -1);
}

TEST_F(LayoutTest, RandomTextNeverBreaksTheLayoutRoutines) {
  std::mt19937 rng(31);
  const std::string alphabet = "ab 1.,-[]@#*\\\"\r\n\t&<>()cr/%+\xE9";
  for (int i = 0; i < 3000; ++i) {
    std::string s(rng() % 40, ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    std::string page = ASC2HTM(s, s, s);
    ASSERT_EQ(page.rfind("</body></html>"), page.size() - 14);
    WrapText(s, static_cast<int>(rng() % 10) - 2);
    NumToWord(s, rng() % 2 == 0);
    std::string a = s;
    Abbreviate(a, "aeiou", static_cast<int>(rng() % 12));
    std::string t = s;
    int max = static_cast<int>(rng() % 20);
    if (TruncPath(t, max) && static_cast<int>(s.size()) > max) {
      ASSERT_EQ(static_cast<int>(t.size()), max) << s;
    }
    URLDecode(s);
    UUDecode(s);
  }
}

TEST_F(LayoutTest, SmallTools) {
  std::string buffer;
  int used = 0;
  for (int i = 0; i < 100; ++i) TomCat("abc", buffer, used);
  EXPECT_EQ(used, 300);
  buffer.resize(static_cast<size_t>(used));
  EXPECT_EQ(buffer.substr(0, 6), "abcabc");
  EXPECT_EQ(buffer.size(), 300u);
  std::string big;
  int n = 0;
  TomCat(std::string(1000, 'x'), big, n);
  EXPECT_EQ(n, 1000);
  EXPECT_GE(big.size(), 1000u);

  EXPECT_EQ(BuildTable("0-9"), "0123456789");
  EXPECT_EQ(BuildTable("0-9A-F"), "0123456789ABCDEF");
  EXPECT_EQ(BuildTable("z-x"), "zyx");
  EXPECT_EQ(BuildTable("a-"), "a-");
  EXPECT_EQ(BuildTable("-a"), "-a");
  EXPECT_EQ(BuildTable(std::string("\x01-\xFF") + "abc").size(), 256u);

  std::string t = "hello";
  CharSort(t);
  EXPECT_EQ(t, "ehllo");
  std::string hi = "\xFF\x01";
  CharSort(hi);
  EXPECT_EQ(hi, "\x01\xFF");
  std::string m = "abc";
  Marquee(m);
  EXPECT_EQ(m, "bca");
  std::string e;
  Marquee(e);
  EXPECT_EQ(e, "");
}

}  // namespace
}  // namespace textutil
