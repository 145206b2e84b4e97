#include "app/core/source_tags.h"

#include <gtest/gtest.h>

#include "app/core/data_file_set.h"
#include "app/core/record_line.h"
#include "app/core/search.h"
#include "core_test_support.h"
#include "page_test_support.h"
#include "textutil/fields.h"
#include "tools/register_generator.h"

namespace appcore {
namespace {

using appcore_test::TempDir;
using Lines = std::vector<std::string>;

TEST(ReadSourceTag, OnlyTheTrailingTagCounts) {
  const std::string line = "1650 03 Mar Jan [van] Dyck, Mary Cole; Anne; Will[iam] Turner [3] ";
  SourceTagOfLine tag = ReadSourceTag(line, 3);
  EXPECT_EQ(tag.source, 3);
  EXPECT_EQ(tag.text, "1650 03 Mar Jan [van] Dyck, Mary Cole; Anne; Will[iam] Turner");
  // The memo may have lost the trailing blank, or a CR may follow.
  EXPECT_EQ(ReadSourceTag("1650 x [12]", 12).source, 12);
  EXPECT_EQ(ReadSourceTag("1650 x [1] \r", 1).source, 1);
  // Editorial brackets alone are no tag.
  for (const char* text : {"1650 03 Mar Jan [van] Dyck, Mary Cole; Anne", "1650 x [van]", "1650 x [2]a",
                           "1650 x[2] ", "[2]", "1650 x [] ", "1650 x [-1] ", "1650 x [+1] ", "", " [1", "1650 x 1]"}) {
    tag = ReadSourceTag(text, 5);
    EXPECT_EQ(tag.source, 0) << text;
    EXPECT_EQ(tag.text, text);
  }
}

TEST(ReadSourceTag, AcceptsOnlyKnownSources) {
  EXPECT_EQ(ReadSourceTag("x [0] ", 3).source, 0);
  EXPECT_EQ(ReadSourceTag("x [4] ", 3).source, 0);
  EXPECT_EQ(ReadSourceTag("x [3] ", 3).source, 3);
  EXPECT_EQ(ReadSourceTag("x [1] ", 0).source, 0);
  EXPECT_EQ(ReadSourceTag("x [99999999999999999999] ", 1 << 30).source, 0);  // no overflow
  EXPECT_EQ(ReadSourceTag("x [999999999] ", 1000000000).source, 999999999);
}

TEST(FindOriginalLine, EditorialBracketsAndBadTags) {
  const Lines paths = {"/data/a_bap.txt", "/data/b_marr.txt", "/data/c_bap.txt"};
  OriginalLineLookup found = FindOriginalLine("  1650 03 Mar Jan [van] Dyck, Mary [Cole]; Anne [2] ", paths);
  ASSERT_TRUE(found.ok);
  EXPECT_EQ(found.where.slot, 1);
  EXPECT_EQ(found.where.path, "/data/b_marr.txt");
  EXPECT_EQ(found.where.name, "b_marr.txt");
  EXPECT_EQ(found.where.search_text, "1650 03 Mar Jan [van] Dyck, Mary [Cole]; Anne");
  EXPECT_EQ(found.where.lead, 2);
  for (const char* line : {"1650 03 Mar Jan [van] Dyck", "1650 x [4] ", "1650 x [0] ", " [1] ", "[1] St Mary", ""})
    EXPECT_FALSE(FindOriginalLine(line, paths).ok) << line;
  EXPECT_EQ(std::string(kOperationNotAvailable), "Operation not available!");
}

TEST(FindRecordLine, WholeLineFirstThenText) {
  const Lines file = {"St Mary - Baptisms", "1650 03 Mar John Baker, Mary Cole; Anne; W extra",
                      "  1650 03 Mar John Baker, Mary Cole; Anne; W  ", "1627 12 Jun John"};
  RecordPlace place = FindRecordLine(file, "1650 03 Mar John Baker, Mary Cole; Anne; W", 12);
  EXPECT_EQ(place.line, 2);  // the whole record, not the longer line above it
  EXPECT_EQ(place.column, 14);
  place = FindRecordLine(file, "1650 03 MAR JOHN BAKER", 500);  // case-blind part, column kept inside
  EXPECT_EQ(place.line, 1);
  EXPECT_EQ(place.column, 22);
  // '?' is an unread digit, not a wildcard.
  EXPECT_EQ(FindRecordLine(file, "16?7 12 Jun John", 0).line, -1);
  EXPECT_EQ(FindRecordLine(file, "not there", 0).line, -1);
  EXPECT_EQ(FindRecordLine(file, "", 0).line, -1);
  EXPECT_EQ(FindRecordLine(file, "1627 12 Jun John", -5).column, 0);
}

// Every hit of a search leads back to its own file and line.
TEST(FindOriginalLine, EveryHitOfASearchFindsItsRecord) {
  TempDir dir;
  appcore_test::Generate(dir, 31, 4, 3000);
  appcore_test::WriteLines(dir / "zz_bap.txt", {"Brackets - Baptisms", "1650 03 Mar Jan [van] Dyck, Mary [Cole]; Anne; W",
                                               "1651 04 Mar Jan [2] Dyck, Mary Cole; Joan; W"});
  DataFileSet set;
  set.MakeFileList(dir.str(), "", nullptr);
  const std::string surname = appcore_test::FirstFatherSurname(*set.File(0).data);

  int bracket_hits = 0;
  for (const std::string& text : {surname, std::string("Dyck")}) {
    SearchOptions search = appcore_test::OptionsFor(text, set);
    search.show_source_codes = true;
    search.text_box = text == "Dyck";
    const SearchResult result = RunSearch(set, search, nullptr);
    Lines hits = appcore_test::AllHits(result);
    ASSERT_GE(hits.size(), 2u) << text;
    for (const std::string& hit : hits) bracket_hits += hit.find("Jan [") != std::string::npos;
    for (const std::string& hit : hits) {
      const OriginalLineLookup found = FindOriginalLine(hit, set.Paths());
      ASSERT_TRUE(found.ok) << hit;
      EXPECT_EQ(found.where.path, set.File(found.where.slot).path);
      const DataFile& file = *set.File(found.where.slot).data;
      Lines lines;
      for (int i = 0; i < file.LineCount(); ++i) lines.emplace_back(file.Line(i));
      const RecordPlace place = FindRecordLine(lines, found.where.search_text, 3);
      ASSERT_GE(place.line, 1) << hit;
      EXPECT_EQ(TrimLine(lines[static_cast<size_t>(place.line)]), found.where.search_text);
    }
  }
  EXPECT_EQ(bracket_hits, 2);
}

TEST(ResetFileList, LegendOfTheCitedSources) {
  const Lines sources = {"[1] St Mary - Baptisms", "[2] St Mary - Marriages", "[3] Wenford - Wills"};
  const Lines page = {"[1] St Mary - Baptisms",  // an old legend
                      " ",
                      "1700 Jan 01 A; x [3] ",
                      "1701 Jan 01 Jan [van] Dyck; y [1] ",
                      "1702 Jan 01 B; z [9] ",   // unknown source: skipped
                      "1703 Jan 01 Jan [2] Dyck; no tag",
                      "[see] a note of mine",
                      "  [2] stale legend line"};
  const Lines reset = ResetFileList(page, sources);
  EXPECT_EQ(reset, (Lines{" [1] St Mary - Baptisms", " [3] Wenford - Wills", " ", "1700 Jan 01 A; x [3] ",
                          "1701 Jan 01 Jan [van] Dyck; y [1] ", "1702 Jan 01 B; z [9] ",
                          "1703 Jan 01 Jan [2] Dyck; no tag", "[see] a note of mine"}));
  EXPECT_EQ(ResetFileList(reset, sources), reset);  // twice gives the same legend
  EXPECT_EQ(ResetFileList({}, sources), Lines{});
  EXPECT_EQ(ResetFileList({"x [1] "}, {}), (Lines{"x [1] "}));
}

TEST(LegendLines, WhatCountsAsALegendLine) {
  for (const char* line : {"[1] St Mary", " [12] x", "[3]", "\t[4] y "}) EXPECT_TRUE(IsLegendLine(line)) << line;
  for (const char* line : {"[van] Dyck", "[1]x", "[] x", "1 [2] ", "", "[", "[12"}) EXPECT_FALSE(IsLegendLine(line)) << line;
}

}  // namespace
}  // namespace appcore
