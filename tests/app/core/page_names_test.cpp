#include "app/core/page_names.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core_test_support.h"

namespace appcore {
namespace {

TEST(PageNames, NumberedPages) {
  EXPECT_EQ(NewPageName(1), "NewPage01.txt");
  EXPECT_EQ(NewPageName(9), "NewPage09.txt");
  EXPECT_EQ(NewPageName(10), "NewPage10.txt");
  EXPECT_EQ(NewPageName(123), "NewPage123.txt");
}

TEST(PageNames, FromTheSearchTerm) {
  EXPECT_EQ(PageNameFromTerm("  Smith  "), "Smith.txt");
  EXPECT_EQ(PageNameFromTerm("Sm*th"), "Sm_th.txt");
  EXPECT_EQ(PageNameFromTerm("Jo?n"), "Jo_n.txt");
  EXPECT_EQ(PageNameFromTerm("a/b\\c"), "a_b_c.txt");
  EXPECT_EQ(PageNameFromTerm(".hidden"), "hidden.txt");
  EXPECT_EQ(PageNameFromTerm("van Dyck"), "van Dyck.txt");
  EXPECT_EQ(PageNameFromTerm("M\xFCller"), "M\xFCller.txt");  // Windows-1252 letters are letters
  EXPECT_EQ(PageNameFromTerm("tab\there"), "tab_here.txt");
}

TEST(PageNames, UnusableTermsGiveNone) {
  for (const char* term : {"", "   ", "/", "..", ".", "*", "/..", "..//", "?*?", ". ."})
    EXPECT_EQ(PageNameFromTerm(term), "") << term;
}

TEST(PageNames, LongTermsAreCut) {
  const std::string name = PageNameFromTerm(std::string(1000, 'x'));
  EXPECT_EQ(name, std::string(kMaxTermNameLength, 'x') + ".txt");
  // Cut right after a blank: no blank before the extension.
  const std::string cut = PageNameFromTerm(std::string(kMaxTermNameLength - 1, 'y') + " z");
  EXPECT_EQ(cut, std::string(kMaxTermNameLength - 1, 'y') + ".txt");
}

TEST(PageNames, CopyFallsBackToTheNextNumberedPage) {
  int counter = 4;
  EXPECT_EQ(CopyPageName("Baker", counter), "Baker.txt");
  EXPECT_EQ(counter, 4);
  EXPECT_EQ(CopyPageName("", counter), "NewPage05.txt");
  EXPECT_EQ(CopyPageName("/", counter), "NewPage06.txt");
  EXPECT_EQ(counter, 6);
}

// Each name is one plain file in the folder it is saved into.
TEST(PageNames, NamesAreFilesOfTheirFolder) {
  appcore_test::TempDir dir;
  int counter = 0;
  for (const char* term : {"", "/", "..", "a/../../b", "*", ".bashrc", "x\ny", "Smith"}) {
    const std::string name = CopyPageName(term, counter);
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
    EXPECT_NE(name[0], '.') << name;
    const std::filesystem::path path = dir.path() / name;
    { std::ofstream(path) << "page"; }
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << name;
    EXPECT_EQ(std::filesystem::canonical(path).parent_path(), std::filesystem::canonical(dir.path()));
  }
}

}  // namespace
}  // namespace appcore
