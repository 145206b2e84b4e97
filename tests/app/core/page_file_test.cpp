// A page's file: lines read in blocks exactly as a string list cuts them
// (checked against rtl::SplitLines), saving over read-only files and into
// folders that may not be written, as nobody.
#include "app/core/page_file.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include "core_test_support.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/strings.h"

namespace appcore {
namespace {

using appcore_test::ReadBytes;
using appcore_test::TempDir;
using appcore_test::WriteBytes;
using Lines = std::vector<std::string>;

// Block size of the reader, to put line ends on its edges.
constexpr size_t kBlock = size_t{4} << 20;

TEST(PageFile, LinesAreCutAsAStringListCutsThem) {
  TempDir dir;
  std::mt19937 rng(5);
  // Random text of words and every kind of line end, over two blocks,
  // with a CR LF, a lone CR and a lone LF on block edges.
  std::string big;
  const char* pieces[] = {"Smith", " ", "\r\n", "\r", "\n", "\r\r\n", "1650 03 Mar", "\n\n", ";", "\xe9"};
  while (big.size() < 2 * kBlock + 64) big += pieces[rng() % 10];
  big[kBlock - 1] = '\r';
  big[kBlock] = '\n';
  big[2 * kBlock - 1] = '\r';
  big[2 * kBlock] = 'x';
  big[2 * kBlock + 7] = '\n';
  const std::string cases[] = {"", "a", "a\r\n", "a\r\n\r\n", "\r", "\n\r", "a\rb\nc\r\nd", "last\n", "x\0y\r\nz",
                               big, big + "\r", big + "tail"};
  for (const std::string& text : cases) {
    WriteBytes(dir / "page.txt", text);
    Lines lines = {"stale"};
    ASSERT_TRUE(ReadPageLines(dir / "page.txt", lines));
    EXPECT_EQ(lines, rtl::SplitLines(text)) << text.size() << " bytes";
  }
  // Paced: the pacer is called between blocks; a Cancel stops the read.
  WriteBytes(dir / "page.txt", big);
  int calls = 0;
  Pacer pacer([&] { return ++calls < 2; });
  Lines lines;
  EXPECT_FALSE(ReadPageLines(dir / "page.txt", lines, &pacer));
  EXPECT_EQ(calls, 2);
  EXPECT_THROW(ReadPageLines(dir / "missing.txt", lines), rtl::EFOpenError);
}

// A page read with its form and saved unchanged gives its file's bytes
// again (CR LF files; the final line end kept or not as it was), UTF-8
// ones included; a UTF-8 file Windows-1252 cannot show is named.
TEST(PageFile, ReadAsTextAndSavedBackByteForByte) {
  TempDir dir;
  const struct {
    std::string bytes;
    TextForm form;
    Lines lines;
  } cases[] = {
      {"T\r\n1700 Dupr\xe9\r\n", {false, false, true}, {"T", "1700 Dupr\xe9"}},
      {"T\r\n1700 Dupr\xe9", {false, false, false}, {"T", "1700 Dupr\xe9"}},
      {"T\r\n1700 Dupr\xc3\xa9\r\n", {true, false, true}, {"T", "1700 Dupr\xe9"}},
      {"\xef\xbb\xbfT\r\n\r\n1700 \xe2\x82\xac", {true, true, false}, {"T", "", "1700 \x80"}},
      {"", {false, false, false}, {}},
  };
  for (const auto& c : cases) {
    WriteBytes(dir / "page.txt", c.bytes);
    Lines lines;
    TextForm form;
    ASSERT_TRUE(ReadPageLines(dir / "page.txt", lines, nullptr, &form));
    EXPECT_EQ(lines, c.lines) << c.bytes;
    EXPECT_EQ(form, c.form) << c.bytes;
    std::string text;  // the page's paragraphs, as the window saves them
    for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
    SavePageFile(dir / "copy.txt", text, form);
    EXPECT_EQ(ReadBytes(dir / "copy.txt"), c.bytes);
  }
  WriteBytes(dir / "x_bap.txt", "T\r\nMa\xc5\x82gorzata\r\n");
  Lines lines;
  TextForm form;
  try {
    ReadPageLines(dir / "x_bap.txt", lines, nullptr, &form);
    ADD_FAILURE() << "read";
  } catch (const rtl::EReadError& e) {
    EXPECT_EQ(e.Message().rfind("\"x_bap.txt\" is UTF-8 text with characters that Windows-1252 cannot show", 0), 0u)
        << e.Message();
  }
}

TEST(PageFile, ReadOnlyIsTheFilesOwnMarkAndWriteProblemsSayWhy) {
  TempDir dir;
  dir.OpenToEveryone();
  const struct {
    const char* name;
    mode_t mode;
    bool read_only;
    const char* root_problem;
    const char* nobody_problem;
  } cases[] = {
      {"all.txt", 0666, false, "", ""},
      {"roots.txt", 0644, false, "", "no permission to write it"},
      {"ro.txt", 0444, true, "read-only", "read-only"},
      {"none.txt", 0000, true, "read-only", "read-only"},
  };
  for (const auto& c : cases) {
    WriteBytes(dir / c.name, "x");
    ::chmod((dir / c.name).c_str(), c.mode);
    EXPECT_EQ(IsReadOnlyFile(dir / c.name), c.read_only) << c.name;
    if (::geteuid() == 0) {
      EXPECT_EQ(WriteProblem(dir / c.name), c.root_problem) << c.name;
    }
    const int status = appcore_test::RunUnprivileged([&] { return WriteProblem(dir / c.name) == c.nobody_problem ? 0 : 1; });
    EXPECT_EQ(status, 0) << c.name;
  }
  EXPECT_FALSE(IsReadOnlyFile(dir / "missing.txt"));
  EXPECT_FALSE(IsReadOnlyFile(dir.str()));  // a folder is no read-only file
}

// A page the user may write, in a folder the user may not: saved in place;
// when even that fails (here the file may not grow), the old bytes are put
// back and the message says why.
TEST(PageFile, APageInAFolderThatMayNotBeWrittenIsSavedInPlace) {
  TempDir dir;
  WriteBytes(dir / "page.txt", "old text\r\n");
  WriteBytes(dir / "page.hlw", "old\r\n");
  ::chmod((dir / "page.txt").c_str(), 0666);
  ::chmod((dir / "page.hlw").c_str(), 0666);
  ::chmod(dir.path().c_str(), 0555);
  const int status = appcore_test::RunUnprivileged([&] {
    try {
      SavePageFile(dir / "page.txt", "new\r\n");
    } catch (const rtl::Exception&) {
      return 1;
    }
    if (ReadBytes(dir / "page.txt") != "new\r\n") return 2;
    // Longer than the file may grow: refused, put back, said.
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {64, 64};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
      SavePageFile(dir / "page.txt", std::string(200, 'x'));
      return 3;
    } catch (const rtl::Exception& e) {
      const std::string m = e.Message();
      if (m.rfind("Cannot save \"" + (dir / "page.txt") + "\" in place (its folder may not be written): ", 0) != 0 ||
          m.find("The file is as it was.") == std::string::npos)
        return 4;
    }
    if (ReadBytes(dir / "page.txt") != "new\r\n") return 5;
    // A new file cannot be made there: the system's refusal stands.
    try {
      SavePageFile(dir / "other.txt", "x");
      return 6;
    } catch (const rtl::EFCreateError&) {
    }
    return 0;
  });
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadBytes(dir / "page.txt"), "new\r\n");
  // In a writable folder the file is replaced as always, its mode kept.
  SavePageFile(dir / "page.txt", "again");
  EXPECT_EQ(ReadBytes(dir / "page.txt"), "again");
  struct stat st;
  ASSERT_EQ(::stat((dir / "page.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
}

}  // namespace
}  // namespace appcore
