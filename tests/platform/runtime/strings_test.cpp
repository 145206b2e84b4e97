#include "platform/runtime/strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/runtime/cp1252.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/streams.h"
#include "platform/runtime/sysutils.h"
#include "runtime_test_util.h"
#include "support/raised.h"

namespace rtl {
namespace {

std::vector<std::string> Entries(const TStrings& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list.Strings(i));
  return out;
}

using Lines = std::vector<std::string>;

// ---- text form ------------------------------------------------------------

TEST(StringsText, SplitsAtCrLfAndCrLfAndKeepsUnterminatedLastLine) {
  TStringList list;
  list.SetText("a\r\nb\nc\rd\n\re");
  EXPECT_EQ(Entries(list), (Lines{"a", "b", "c", "d", "", "e"}));
  list.SetText("one\r\n\r\ntwo\r\n");
  EXPECT_EQ(Entries(list), (Lines{"one", "", "two"}));
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
  list.SetText("\r\n");
  EXPECT_EQ(Entries(list), (Lines{""}));
}

TEST(StringsText, KeepsZeroBytesInsideLines) {
  TStringList list;
  list.SetText(std::string("a\0b\r\nc", 6));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Strings(0), std::string("a\0b", 3));
}

TEST(StringsText, WritesCrLfAfterEveryLine) {
  TStringList list;
  list.Add("x");
  list.Add("");
  list.Add("y");
  EXPECT_EQ(list.Text(), "x\r\n\r\ny\r\n");
}

TEST(StringsText, LoadFromFileWithMixedLineEndsAgreesWithPython) {
  TempDir dir;
  std::string path = dir.File("mixed.txt");
  WriteFileBytes(path, "1700 12 Jan; A\r\nline two\nline three\rlast without end");
  TStringList list;
  list.LoadFromFile(path);
  // Python's str.splitlines splits at the same three line ends.
  std::string expected = RunPython(
      "import sys\n"
      "data = open(sys.argv[1], \"rb\").read().decode(\"latin-1\")\n"
      "for l in data.splitlines(): print(l)",
      path);
  EXPECT_EQ(JoinLines(Entries(list)), expected);
  EXPECT_EQ(list.Strings(3), "last without end");
}

TEST(StringsText, SaveToFileWritesCrLfAndRoundTrips) {
  TempDir dir;
  std::string path = dir.File("out.txt");
  TStringList list;
  list.Add("Jos\xE9");
  list.Add("");
  list.Add("end");
  list.SaveToFile(path);
  EXPECT_EQ(ReadFileBytes(path), "Jos\xE9\r\n\r\nend\r\n");
  TStringList back;
  back.LoadFromFile(path);
  EXPECT_TRUE(back.Equals(list));
}

TEST(StringsText, LoadFromMissingFileRaisesAndKeepsContents) {
  TStringList list;
  list.Add("kept");
  EXPECT_THROW(list.LoadFromFile("/nonexistent/dir/file.txt"), EFOpenError);
  EXPECT_EQ(Entries(list), (Lines{"kept"}));
}

TEST(StringsText, SaveToUnwritablePlaceRaisesAndLeavesOldFile) {
  TempDir dir;
  std::string path = dir.File("keep.txt");
  WriteFileBytes(path, "old\r\n");
  TStringList list;
  list.Add("new");
  EXPECT_THROW(list.SaveToFile(dir.File("missing/sub.txt")), EStreamError);
  {
    ReadOnlyDir lock(dir.Path());
    if (lock.Effective()) {
      EXPECT_THROW(list.SaveToFile(path), EStreamError);
    }
  }
  EXPECT_EQ(ReadFileBytes(path), "old\r\n");
}

TEST(StringsText, StreamRoundTripFromCurrentPosition) {
  TStringStream stream("skip|a\r\nb");
  stream.SetPosition(5);
  TStringList list;
  list.LoadFromStream(stream);
  EXPECT_EQ(Entries(list), (Lines{"a", "b"}));
  TStringStream out;
  list.SaveToStream(out);
  EXPECT_EQ(out.DataString(), "a\r\nb\r\n");
}

TEST(StringsText, CommaTextQuotesWhenNeeded) {
  TStringList list;
  list.Add("plain");
  list.Add("two words");
  list.Add("say \"hi\"");
  list.Add("a,b");
  EXPECT_EQ(list.CommaText(), "plain,\"two words\",\"say \"\"hi\"\"\",\"a,b\"");
  TStringList back;
  back.SetCommaText(list.CommaText());
  EXPECT_TRUE(back.Equals(list));
  back.SetCommaText("x y, z");
  EXPECT_EQ(Entries(back), (Lines{"x", "y", "z"}));
}

TEST(StringsText, NamesAndValues) {
  TStringList list;
  list.Add("Search=/data");
  list.Add("Save=");
  EXPECT_EQ(list.Values("search"), "/data");
  EXPECT_EQ(list.Names(1), "Save");
  list.SetValues("Save", "/out");
  EXPECT_EQ(list.Strings(1), "Save=/out");
  list.SetValues("Search", "");
  EXPECT_EQ(list.Count(), 1);
}

// ---- unsorted list --------------------------------------------------------

TEST(StringList, IndexErrorsRaiseRangeError) {
  TStringList list;
  list.Add("a");
  EXPECT_EQ(qvtest::WhatRaised<ERangeError>([&] { list.Strings(1); }), "List index out of bounds");
  EXPECT_THROW(list.Delete(-1), ERangeError);
  EXPECT_THROW(list.Insert(2, "x"), ERangeError);
  EXPECT_THROW(list.Objects(5), ERangeError);
}

TEST(StringList, IndexOfIsCaseBlindIncludingAccents) {
  TStringList list;
  list.Add("Smith");
  list.Add("\xC9mile");  // Émile
  EXPECT_EQ(list.IndexOf("SMITH"), 0);
  EXPECT_EQ(list.IndexOf("\xE9MILE"), 1);  // émile
  EXPECT_EQ(list.IndexOf("Smyth"), -1);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("SMITH"), -1);
}

TEST(StringList, ObjectsTravelWithTheirStrings) {
  TStringList list;
  TObject a, b;
  list.AddObject("b", &b);
  list.AddObject("a", &a);
  list.Exchange(0, 1);
  EXPECT_EQ(list.Objects(0), &a);
  list.Move(0, 1);
  EXPECT_EQ(list.Strings(1), "a");
  EXPECT_EQ(list.Objects(1), &a);
  list.Sort();
  EXPECT_EQ(list.Objects(0), &a);
  TStringList copy;
  copy.Assign(&list);
  EXPECT_EQ(copy.Objects(1), &b);
}

TEST(StringList, AssignFromOtherClassRaisesConvertError) {
  TStringList list;
  TPersistent other;
  EXPECT_THROW(list.Assign(&other), EConvertError);
  EXPECT_THROW(list.Assign(nullptr), EConvertError);
}

// ---- sorted list ----------------------------------------------------------

TEST(SortedStringList, InsertsInOrderAndFinds) {
  TStringList list;
  list.SetSorted(true);
  for (const char* s : {"Miller", "adams", "Baker", "zane", "Carter"}) list.Add(s);
  EXPECT_EQ(Entries(list), (Lines{"adams", "Baker", "Carter", "Miller", "zane"}));
  int index = -1;
  EXPECT_TRUE(list.Find("CARTER", index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(list.Find("Brown", index));
  EXPECT_EQ(index, 2);  // where it would go
  EXPECT_FALSE(list.Find("zzz", index));
  EXPECT_EQ(index, 5);
  EXPECT_EQ(list.IndexOf("MILLER"), 3);
}

TEST(SortedStringList, DuplicatesIgnoreAcceptError) {
  TStringList list;
  list.SetSorted(true);
  list.Add("b");
  list.Add("a");
  EXPECT_EQ(list.Add("B"), 1);  // dupIgnore: index of the one present
  EXPECT_EQ(Entries(list), (Lines{"a", "b"}));

  list.Duplicates = dupAccept;
  list.Add("B");
  list.Add("b");
  EXPECT_EQ(Entries(list), (Lines{"a", "b", "B", "b"}));  // arrival order among equals
  int index;
  EXPECT_TRUE(list.Find("b", index));
  EXPECT_EQ(index, 1);  // the first equal entry

  list.Duplicates = dupError;
  EXPECT_EQ(qvtest::WhatRaised<EStringListError>([&] { list.Add("A"); }), "String list does not allow duplicates");
  EXPECT_EQ(list.Count(), 4);
}

TEST(SortedStringList, RefusesPositionalChanges) {
  TStringList list;
  list.SetSorted(true);
  list.Add("a");
  EXPECT_EQ(qvtest::WhatRaised<EStringListError>([&] { list.Insert(0, "b"); }),
            "Operation not allowed on sorted string list");
  EXPECT_THROW(list.SetStrings(0, "c"), EStringListError);
}

// The order is that of the bytes after Windows-1252 upper-casing: accented
// letters fold onto their capitals (é = É, ÿ = Ÿ, œ = Œ) and sort by the
// capital's code, after the ASCII letters.
TEST(SortedStringList, CaseBlindOrderOverWindows1252) {
  TStringList list;
  list.SetSorted(true);
  list.Duplicates = dupAccept;
  for (const char* s : {"\xE9mile", "Zoe", "anna", "\xC9MILE", "Emma", "\x9C" "uvre", "\xFFves",
                        "\xC0lvaro", "o'brien", "O'Brien", "Oscar"})
    list.Add(s);
  EXPECT_EQ(Entries(list), (Lines{"anna", "Emma", "o'brien", "O'Brien", "Oscar", "Zoe",
                                  "\x9C" "uvre", "\xFFves", "\xC0lvaro", "\xE9mile", "\xC9MILE"}));
  // The same order from python3: sort by the cp1252 bytes of the upper-cased text.
  std::string expected = RunPython(
      "import sys\n"
      "names = [bytes.fromhex(h).decode(\"cp1252\") for h in sys.argv[1].split()]\n"
      "key = lambda s: s.upper().encode(\"cp1252\")\n"
      "for n in sorted(names, key=key): print(n.encode(\"cp1252\").hex())",
      HexWords(Entries(list)));
  EXPECT_EQ(expected, HexLines(Entries(list)));
}

TEST(SortedStringList, CaseSensitiveOrdersLowerBeforeUpper) {
  TStringList list;
  list.SetCaseSensitive(true);
  list.SetSorted(true);
  for (const char* s : {"Abc", "abd", "abc", "ABC"}) list.Add(s);
  EXPECT_EQ(Entries(list), (Lines{"abc", "Abc", "ABC", "abd"}));
  EXPECT_EQ(list.IndexOf("ABC"), 2);
}

TEST(StringList, CustomSortIsStable) {
  TStringList list;
  // Sort by the year only; entries of one year must keep their order.
  Lines input;
  for (int i = 0; i < 200; ++i) input.push_back(std::to_string(1700 + (i * 7) % 5) + " #" + std::to_string(i));
  for (auto& s : input) list.Add(s);
  list.CustomSort([](TStringList& l, int a, int b) {
    return CompareStr(l.At(a).substr(0, 4), l.At(b).substr(0, 4));
  });
  Lines expected = input;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const std::string& a, const std::string& b) { return a.substr(0, 4) < b.substr(0, 4); });
  EXPECT_EQ(Entries(list), expected);
}

// ---- change events --------------------------------------------------------

TEST(StringList, ChangeEventsOncePerChangeAndOncePerUpdate) {
  TStringList list;
  int changing = 0, changed = 0;
  list.OnChanging = [&](TObject* sender) {
    EXPECT_EQ(sender, &list);
    ++changing;
  };
  list.OnChange = [&](TObject*) { ++changed; };
  list.Add("a");
  list.Add("b");
  EXPECT_EQ(changing, 2);
  EXPECT_EQ(changed, 2);
  list.BeginUpdate();
  list.BeginUpdate();
  list.Add("c");
  list.Delete(0);
  list.EndUpdate();
  EXPECT_EQ(changed, 2);
  list.EndUpdate();
  EXPECT_EQ(changing, 3);
  EXPECT_EQ(changed, 3);
  list.EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(changed, 3);
  list.SetText("x\ny\nz");  // one update
  EXPECT_EQ(changed, 4);
}

}  // namespace
}  // namespace rtl
