// The search over fixture registers: roles, kinds, periods, exact, wildcard
// and fuzzy terms, operators, counts, tags and the progress callback.
#include "app/core/search.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/core/first_page.h"
#include "core_test_support.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/strings.h"
#include "platform/runtime/sysutils.h"

namespace appcore {
namespace {

using appcore_test::AllHits;
using appcore_test::OptionsFor;
using appcore_test::TempDir;
using appcore_test::WriteLines;

// Baptisms: "date Father, Mother; Children; Witnesses". The rest of a line
// starts at its 13th character.
const std::vector<std::string> kBaptisms = {
    "Test Parish - Baptisms 1650-1702",
    "1650 03 Mar John Smith, Mary Jones; Anne; Will Brown, Joan Hall",        // B1
    "1701 12 Apr Thomas Baker, Alice Smith; Robert; John Cole, Ann Cole",     // B2
    "1702 Apr 14 Peter Cole, Jane Baker; Smithson; Hugh Smith, Ann Jones",    // B3
    "16?5 ?? Jun Rich[ard] Jones, Ann Smyth; Mary; [illeg.] Brown",           // B4
    "?689 01 Jan Walter Dyck, Joan Goldsmith; Grace; Giles Dyck",             // B5
    "  continuation that names Smith",
    "- separator Smith -",
    "1660 05 May Smith Jones, Mary Smith; John; Paul Smith",                  // B6
    "1655 07 Jul Henry Smyth, Ann Cole; Jane; Hugh Cole",                     // B7
    "1656 08 Aug Jacob Goldsmith, Ruth Dyck; Abel; Seth Cole",                // B8
    "Anno Domini 1657",
};
const std::string B1 = kBaptisms[1], B2 = kBaptisms[2], B3 = kBaptisms[3], B4 = kBaptisms[4],
                  B5 = kBaptisms[5], B6 = kBaptisms[8], B7 = kBaptisms[9], B8 = kBaptisms[10];

// Marriages: "date Husband, descriptor; Wife, descriptor".
const std::vector<std::string> kMarriages = {
    "Test Parish - Marriages 1650-1720",
    "1650 10 Jun Thomas Smith, yeoman; Mary Jones, spinster",   // M1
    "1651 11 Jul John Baker wid, tanner; Alice Smith",          // M2
    "1720 01 Aug Robert Smyth, miller; Joan Cole, of Ashby",    // M3
    "1652 02 Sep Will Cole, labourer; Jane Smith, spinster",    // M4
    "1653 03 Oct John Smyth, draper; Ann Cole",                 // M5
};
const std::string M1 = kMarriages[1], M2 = kMarriages[2], M3 = kMarriages[3], M4 = kMarriages[4],
                  M5 = kMarriages[5];

class SearchTest : public ::testing::Test {
protected:
  void SetUp() override {
    WriteLines(dir_ / "a_bap.txt", kBaptisms);
    WriteLines(dir_ / "b_marr.txt", kMarriages);
    set_.MakeFileList(dir_.str(), "", nullptr);
    ASSERT_EQ(set_.Count(), 2);
  }

  SearchOptions Options(const std::string& text) const { return OptionsFor(text, set_); }
  // Only the given role boxes ticked.
  SearchOptions Roles(const std::string& text, bool father, bool mother, bool children, bool witness) const {
    SearchOptions o = Options(text);
    o.father = father;
    o.mother = mother;
    o.children = children;
    o.witness = witness;
    return o;
  }
  SearchResult Run(const SearchOptions& o) const { return RunSearch(set_, o, nullptr); }
  std::vector<std::string> Hits(const SearchOptions& o) const { return AllHits(Run(o)); }

  TempDir dir_;
  DataFileSet set_;
};

using Lines = std::vector<std::string>;

TEST_F(SearchTest, ExactOverAllRolesFindsTheTermAnywhereFromTheSecondCharacterOfTheRest) {
  SearchOptions o = Options("smith");
  o.witness = true;
  const SearchResult r = Run(o);
  EXPECT_EQ(r.baptism_hits, (Lines{B1, B2, B3, B5, B6, B8}));  // Goldsmith too
  // The husband or wife part, or the whole rest of a widow's line.
  EXPECT_EQ(r.marriage_hits, (Lines{M1, M2, M4}));
  EXPECT_EQ(r.hit_count, 9);
}

TEST_F(SearchTest, ContinuationsRemarksAndSeparatorsAreNeverRecords) {
  SearchOptions o = Options("Smith");
  o.witness = true;
  o.marriages = false;
  const SearchResult r = Run(o);
  EXPECT_EQ(r.record_count, 8);
  EXPECT_EQ(r.line_count, static_cast<int64_t>(kBaptisms.size()) - 1);
  for (const std::string& hit : r.baptism_hits) EXPECT_NE(hit.find_first_of("0123456789?"), std::string::npos);
}

TEST_F(SearchTest, CountsOfRecordsHitsAndLines) {
  SearchOptions o = Options("Cole");
  o.witness = true;
  const SearchResult r = Run(o);
  EXPECT_EQ(r.line_count, static_cast<int64_t>(kBaptisms.size() + kMarriages.size()) - 2);
  EXPECT_EQ(r.record_count, 8 + 5);
  EXPECT_EQ(r.hit_count, static_cast<int64_t>(AllHits(r).size()));
  // The whole seconds the search took: 0 here, unless a loaded machine (a
  // sanitizer build in a parallel run) stretched it past one.
  EXPECT_GE(r.elapsed_seconds, 0);
  EXPECT_LE(r.elapsed_seconds, 5);
  EXPECT_EQ(StatusText(r), "Search: " + std::to_string(r.hit_count) + " / 13 / " + std::to_string(r.line_count) +
                               " in " + std::to_string(r.elapsed_seconds) + " secs.");
}

TEST_F(SearchTest, PeriodFilters) {
  SearchOptions o = Options("Smith");
  o.witness = true;
  o.before_1700 = false;  // keeps 1701, 1702 and "?689"; drops "16?5", which is in both periods
  SearchResult r = Run(o);
  EXPECT_EQ(r.baptism_hits, (Lines{B2, B3, B5}));
  EXPECT_TRUE(r.marriage_hits.empty());  // M3 is Smyth
  EXPECT_EQ(r.record_count, 4);          // B2, B3, B5, M3

  o.before_1700 = true;
  o.from_1700 = false;
  r = Run(o);
  EXPECT_EQ(r.baptism_hits, (Lines{B1, B6, B8}));
  EXPECT_EQ(r.marriage_hits, (Lines{M1, M2, M4}));
  EXPECT_EQ(r.record_count, 4 + 4);  // B1 B6 B7 B8, M1 M2 M4 M5

  o.before_1700 = false;
  r = Run(o);
  EXPECT_TRUE(AllHits(r).empty());
  EXPECT_EQ(r.record_count, 0);
}

TEST_F(SearchTest, YearsWithQuestionMarksAreRecords) {
  SearchOptions o = Options("Dyck");
  o.witness = true;
  EXPECT_EQ(Hits(o), (Lines{B5, B8}));  // "?689" is a record line
  o = Options("Jones");  // father and mother
  EXPECT_EQ(Hits(o), (Lines{B1, B4, B6, M1}));
  o.from_1700 = false;  // "16?5" lies in both periods
  EXPECT_EQ(Hits(o), (Lines{B1, B6, M1}));
}

TEST_F(SearchTest, MarriagesBoxSkipsEveryOtherKindOfFile) {
  SearchOptions o = Options("Smith");
  o.marriages = false;
  const SearchResult r = Run(o);
  EXPECT_TRUE(r.marriage_hits.empty());
  EXPECT_EQ(r.line_count, static_cast<int64_t>(kBaptisms.size()) - 1);
  EXPECT_EQ(r.legend.size(), 1u);
}

TEST_F(SearchTest, FatherRoleIsTheHusbandInOtherFiles) {
  EXPECT_EQ(Hits(Roles("Smith", true, false, false, false)), (Lines{B1, B6, B8, M1, M2}));
  EXPECT_EQ(Hits(Roles("Smith", false, true, false, false)), (Lines{B2, B5, B6, M2, M4}));
  // Witnesses only: other files have no witness role.
  EXPECT_EQ(Hits(Roles("Smith", false, false, false, true)), (Lines{B3, B6}));
}

TEST_F(SearchTest, BracketsAreDroppedBeforeAFieldIsMatched) {
  EXPECT_EQ(Hits(Roles("Richard", true, false, false, false)), (Lines{B4}));
  // All roles with one exact term read the rest as it stands.
  SearchOptions all = Options("Richard");
  all.witness = true;
  EXPECT_TRUE(Hits(all).empty());
}

TEST_F(SearchTest, WidowsLinesAreMatchedAsAWhole) {
  // Alice is the wife of M2, but " wid" makes the whole rest the husband part.
  EXPECT_EQ(Hits(Roles("Alice", true, false, false, false)), (Lines{M2}));
  EXPECT_EQ(Hits(Roles("tanner", false, true, false, false)), (Lines{M2}));
  EXPECT_TRUE(Hits(Roles("miller", false, true, false, false)).empty());
}

TEST_F(SearchTest, ChildrenAreAlwaysMatchedBySound) {
  const SearchResult r = Run(Roles("Smith", false, false, true, false));
  EXPECT_EQ(r.baptism_hits, (Lines{B3}));  // Smithson's key holds Smith's
  EXPECT_EQ(r.keywords, (Lines{"Smith", "Smithson;"}));
  // Jane (JN) holds Jon's key; John (JHN) does not.
  EXPECT_EQ(Hits(Roles("Jon", false, false, true, false)), (Lines{B7}));
}

TEST_F(SearchTest, FuzzyRoleMatchesWordsBySound) {
  SearchOptions o = Roles("Smith", true, false, false, false);
  o.fuzzy_father = true;
  const SearchResult r = Run(o);
  // Fathers Smith and Smyth; husbands from their second character on.
  EXPECT_EQ(r.baptism_hits, (Lines{B1, B6, B7, B8}));  // Goldsmith's key holds SMT
  EXPECT_EQ(r.marriage_hits, (Lines{M1, M5, M3}));
  EXPECT_EQ(r.keywords, (Lines{"Smith", "Smyth", "Goldsmith"}));
}

TEST_F(SearchTest, AllThreeFuzzyBoxesMatchEveryWordOfTheRest) {
  SearchOptions o = Options("Smith");
  o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = true;
  const SearchResult r = Run(o);
  EXPECT_EQ(r.baptism_hits, (Lines{B1, B2, B3, B4, B5, B6, B7, B8}));
  EXPECT_EQ(r.marriage_hits, (Lines{M1, M2, M4, M5, M3}));  // sorted
}

TEST_F(SearchTest, LeadingBlankMakesAFuzzyMatchBeginAtTheKeysStart) {
  SearchOptions o = Options(" Smith");
  o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = true;
  o.marriages = false;
  // Goldsmith (KLTSMT) no longer matches: B5 and B8 drop out.
  EXPECT_EQ(Hits(o), (Lines{B1, B2, B3, B4, B6, B7}));
  // An exact term with a leading blank must follow a blank.
  SearchOptions exact = Options(" smith");
  exact.marriages = false;
  EXPECT_EQ(Hits(exact), (Lines{B1, B2, B6}));
}

TEST_F(SearchTest, TrailingDotKeepsKeysOfExactlyTheTermsLength) {
  SearchOptions o = Roles("Smith", false, false, true, false);
  EXPECT_EQ(Hits(o), (Lines{B3}));
  o.search_text = "Smith.";
  EXPECT_TRUE(Hits(o).empty());  // Smithson's key is longer than SMT
  o = Options("Smith.");
  o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = true;
  o.marriages = false;
  EXPECT_EQ(Hits(o), (Lines{B1, B2, B3, B4, B6, B7}));  // not Goldsmith
}

TEST_F(SearchTest, AndOverAllRolesFindsEitherTerm) {
  SearchOptions o = Options("Dyck AND Goldsmith");
  o.witness = true;
  o.marriages = false;
  EXPECT_EQ(Hits(o), (Lines{B5, B8}));
  o.search_text = "Hall AND Goldsmith";
  EXPECT_EQ(Hits(o), (Lines{B1, B5, B8}));
}

TEST_F(SearchTest, NotOverAllRolesDropsLinesWithTheSecondTerm) {
  SearchOptions o = Options("Smith NOT Cole");
  o.witness = true;
  o.marriages = false;
  EXPECT_EQ(Hits(o), (Lines{B1, B5, B6}));  // B2 and B3 name a Cole
  o.search_text = "Smith NOT John";        // "John" at the very start of the rest counts too
  EXPECT_EQ(Hits(o), (Lines{B3, B5, B8}));
}

TEST_F(SearchTest, OrInASingleRoleFindsEitherTerm) {
  EXPECT_EQ(Hits(Roles("Dyck OR Goldsmith", true, false, false, false)), (Lines{B5, B8}));
  EXPECT_EQ(Hits(Roles("Dyck OR Goldsmith", false, true, false, false)), (Lines{B5, B8}));
  EXPECT_EQ(Hits(Roles("Dyck OR Goldsmith", false, false, false, true)), (Lines{B5}));
  // Other files: either term anywhere in the rest.
  EXPECT_EQ(Hits(Roles("Baker OR Ashby", true, false, false, false)), (Lines{B2, M2, M3}));
}

TEST_F(SearchTest, NotInASingleRoleTestsThatField) {
  EXPECT_EQ(Hits(Roles("Smith NOT Jones", true, false, false, false)), (Lines{B1, B8, M1, M2}));
  EXPECT_EQ(Hits(Roles("Smith NOT Jones", false, false, false, true)), (Lines{B6}));
  SearchOptions o = Roles("Smith NOT Smithson", false, false, false, false);
  o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = true;
  o.marriages = false;
  // B3 still hits through Hugh Smith; no line hits through Smithson alone.
  const SearchResult r = Run(o);
  EXPECT_EQ(std::count(r.keywords.begin(), r.keywords.end(), "Smithson;"), 0);
}

TEST_F(SearchTest, WordPrefixForms) {
  // "A* B*": first word and a later word of the field (the husband part).
  EXPECT_EQ(Hits(Roles("Jo* Sm*", true, false, false, false)), (Lines{B1, M5}));
  EXPECT_EQ(Hits(Roles("Jo* Sm* NOT Smith", true, false, false, false)), (Lines{M5}));
  // Other forms: over the field in baptism files; over the whole rest in
  // other files, followed there by the phonetic match of the term.
  SearchOptions o = Roles("* Smith", true, false, false, false);
  o.marriages = false;
  EXPECT_EQ(Hits(o), (Lines{B1}));
  EXPECT_EQ(Hits(Roles("* Smith", true, false, false, false)), (Lines{B1, M1, M2, M4, M5, M3}));
  o.search_text = "Jo* *";
  EXPECT_EQ(Hits(o), (Lines{B1}));
  o.search_text = "Smith *";
  EXPECT_EQ(Hits(o), (Lines{B6}));
  o = Roles("Ja*", false, true, false, false);
  o.marriages = false;
  EXPECT_EQ(Hits(o), (Lines{B3}));  // " Jane Baker"
  o = Roles("* Sm*", false, false, false, true);
  o.marriages = false;
  EXPECT_EQ(Hits(o), (Lines{B3, B6}));
  // The witness field names several people: "A* B*" may start at any of
  // its words, the second stem always after the first.
  const std::pair<const char*, Lines> witness_cases[] = {
      {"Jo* Ha*", {B1}},          // " Will Brown, Joan Hall": the second witness
      {"An* Jo*", {B3}},          // " Hugh Smith, Ann Jones"
      {"Hu* Sm*", {B3}},          // the first witness still counts
      {"Ha* Jo*", {}},            // Hall comes after Joan
      {"Jo* Ha* NOT Brown", {}},  // NOT looks at the whole field
      {"Gi* Dy*", {B5}},
  };
  for (const auto& [text, expected] : witness_cases) {
    o = Roles(text, false, false, false, true);
    o.marriages = false;
    EXPECT_EQ(Hits(o), expected) << text;
  }
}

TEST_F(SearchTest, TextBoxSearchesTheWholeRest) {
  SearchOptions o = Roles("Ashby", false, false, false, false);
  o.text_box = true;
  EXPECT_EQ(Hits(o), (Lines{M3}));
  o.search_text = "Cole NOT Smyth";
  EXPECT_EQ(Hits(o), (Lines{B2, B3, B8, M4}));  // the NOT term anywhere in the rest drops M3, M5, B7
  o.search_text = "Smith";
  o.fuzzy_text = true;
  EXPECT_EQ(Hits(o), (Lines{B1, B2, B3, B4, B5, B6, B7, B8, M1, M2, M4, M5, M3}));
}

TEST(SearchEmptyWords, TwoBlanksInAFieldDoNotEndTheWordLoops) {
  TempDir dir;
  WriteLines(dir / "x_bap.txt", {"X", "1650 03 Mar John  Smyth, Mary Jones; Anne  Smithson; Will  Smyth",
                                  "1650 03 Mar Hugh Cole, Ann Hall; Anne; W"});
  DataFileSet set;
  set.MakeFileList(dir.str(), "", nullptr);
  SearchOptions o = OptionsFor("Smith", set);
  o.mother = false;
  o.fuzzy_father = true;
  EXPECT_EQ(RunSearch(set, o, nullptr).hit_count, 1);  // father "John  Smyth"
  o.father = false;
  o.children = true;
  EXPECT_EQ(RunSearch(set, o, nullptr).hit_count, 1);  // children "Anne  Smithson;"
  o.children = false;
  o.witness = o.fuzzy_witness = true;
  EXPECT_EQ(RunSearch(set, o, nullptr).hit_count, 1);  // witness " Will  Smyth"
}

// Other files drop every '[' and ']' from the rest before any rule, a ']'
// without its '[' too: a stray ']' splitting a name hides it from no rule
// (a widow's line, OR, the text box, sound). Baptism fields keep a lone ']'.
TEST(SearchStrayCloser, OtherFilesDropALoneClosingBracketUnderEveryRule) {
  TempDir dir;
  WriteLines(dir / "x_marr.txt", {"X", "1650 03 Mar Hugh Bak]er wid, tanner; Alice Cole",
                                   "1651 03 Mar Peter Dyck; Jane Ba]ker, spinster", "1652 03 Mar Tom Ba]ker; Ann Hall"});
  WriteLines(dir / "y_bap.txt", {"Y", "1650 03 Mar John Bak]er, Mary Jones; Anne; Will Brown"});
  DataFileSet set;
  set.MakeFileList(dir.str(), "", nullptr);
  struct Case {
    const char* text;
    bool father, mother, fuzzy, text_box;
    int hits;
  };
  for (const Case& c : {Case{"Baker", true, false, false, false, 2},    // the widow's whole rest; "Ba]ker;"
                        Case{"Baker", false, true, false, false, 2},    // the widow's whole rest; the wife
                        Case{"Baker OR Zzyx", true, true, false, false, 3},
                        Case{"Baker", false, false, false, true, 3},
                        // By sound, the whole rest, then husband and wife; a sound key
                        // skips the ']' of the baptism too.
                        Case{"Baker", false, false, true, true, 4},
                        Case{"Baker", true, true, true, false, 4}}) {
    SCOPED_TRACE(std::string(c.text) + (c.father ? " father" : "") + (c.mother ? " mother" : "") +
                 (c.fuzzy ? " fuzzy" : "") + (c.text_box ? " text" : ""));
    SearchOptions o = OptionsFor(c.text, set);
    o.father = c.father;
    o.mother = c.mother;
    o.witness = false;
    o.fuzzy_father = o.fuzzy_mother = c.fuzzy && !c.text_box;
    o.text_box = c.text_box;
    o.fuzzy_text = c.fuzzy && c.text_box;
    EXPECT_EQ(RunSearch(set, o, nullptr).hit_count, c.hits);
  }
}

TEST_F(SearchTest, TickedFilesOnly) {
  SearchOptions o = Options("Smith");
  o.ticked = {false, true};
  EXPECT_EQ(Hits(o), (Lines{M1, M2, M4}));
  o.ticked = {true};  // a slot without a tick is not searched
  EXPECT_EQ(Hits(o), (Lines{B1, B2, B5, B6, B8}));
  o.ticked.clear();
  const SearchResult r = Run(o);
  EXPECT_TRUE(AllHits(r).empty());
  EXPECT_EQ(r.line_count, 0);
}

TEST_F(SearchTest, EmptyOrOverlongTermsFindNothing) {
  EXPECT_TRUE(Hits(Options("")).empty());
  EXPECT_TRUE(Hits(Options(std::string(500, 'x'))).empty());
  SearchOptions o = Options(std::string(500, 'x'));
  o.fuzzy_father = true;
  EXPECT_TRUE(Hits(o).empty());
}

TEST_F(SearchTest, SourceTagsAndLegend) {
  SearchOptions o = Options("Smith");
  o.show_source_codes = true;
  const SearchResult r = Run(o);
  EXPECT_EQ(r.legend, (Lines{" [1] Test Parish - Baptisms 1650-1702", " [2] Test Parish - Marriages 1650-1720"}));
  EXPECT_EQ(r.baptism_hits.front(), B1 + " [1] ");
  EXPECT_EQ(r.marriage_hits.front(), M1 + " [2] ");
  EXPECT_EQ(r.searching_line, "Searching:  [2] Test Parish - Marriages 1650-1720");
}

TEST_F(SearchTest, KeywordsStartWithTheTerms) {
  const SearchResult r = Run(Options("Smith OR Cole"));
  EXPECT_EQ(r.keywords, (Lines{"Smith", "Cole"}));
  EXPECT_EQ(r.key1_label, "SMT");
  EXPECT_EQ(r.key2_label, "KL");
}

TEST(SearchMarriageHits, SortedCaseBlindWithoutDuplicatesAsASortedStringList) {
  TempDir dir;
  const std::vector<std::string> lines = {
      "Marriages",
      "1650 10 Jun Thomas Smith, yeoman; Mary Jones",
      "1650 10 Jun THOMAS SMITH, yeoman; Mary Jones",
      "1640 10 Jun Ann Smith, x; y",
      "1650 10 Jun thomas smith, yeoman; mary jones",
      "1640 10 Jun ann smith, x; y",
      "1660 10 Jun \xc9mile Smith, x; y",
      "1660 10 Jun \xe9mile Smith, x; y",
      "1650 10 Jun Thomas Smith, yeoman; Mary Jones",
  };
  WriteLines(dir / "x_marr.txt", lines);
  DataFileSet set;
  set.MakeFileList(dir.str(), "", nullptr);
  const SearchResult r = RunSearch(set, OptionsFor("Smith", set), nullptr);
  rtl::TStringList expected;
  expected.SetSorted(true);
  expected.Duplicates = rtl::dupIgnore;
  for (size_t i = 1; i < lines.size(); ++i) expected.Add(lines[i]);
  ASSERT_EQ(static_cast<int>(r.marriage_hits.size()), expected.Count());
  for (int i = 0; i < expected.Count(); ++i) EXPECT_EQ(r.marriage_hits[static_cast<size_t>(i)], expected[i]);
  EXPECT_EQ(r.hit_count, 8);  // every matching line counts
}

// Tens of thousands of other hits over several files, each cut into
// blocks, and dozens of small files (runs of hits to merge that are not a
// power of two), many lines alike but for case and many repeated across
// blocks: every search (one thread, several, files searched as they are
// read) lists them as a stable case-blind sort that keeps the first of
// equal lines does.
TEST(SearchMarriageHits, ManyBlocksMergeAsOneStableSortWithoutDuplicates) {
  TempDir dir;
  uint64_t state = 5;
  auto next = [&] { return static_cast<size_t>((state = state * 6364136223846793005ull + 1442695040888963407ull) >> 33); };
  const char* names[] = {"Thomas", "THOMAS", "thomas", "Ann", "ANN", "\xc9mile", "\xe9mile", "John", "Jo"};
  const char* months[] = {"Jan", "JAN", "Feb", "Mar"};
  std::vector<std::string> all;
  for (int f = 0; f < 40; ++f) {
    std::vector<std::string> lines = {"Marriages"};
    for (int i = 0, count = f < 3 ? 45000 : 50 + 37 * f; i < count; ++i) {
      // Repeats of earlier lines (of this file or another), and lines that
      // differ only past their sixteenth byte.
      if (!all.empty() && next() % 5 == 0) {
        lines.push_back(all[next() % all.size()]);
      } else {
        lines.push_back(std::to_string(1640 + next() % 3) + " 1" + std::to_string(next() % 2) + " " +
                        months[next() % 4] + " " + names[next() % 9] + " Smith, x" + std::to_string(next() % 3000) +
                        "; y");
      }
      all.push_back(lines.back());
    }
    WriteLines(dir / ((f < 10 ? "f0" : "f") + std::to_string(f) + "_marr.txt"), lines);  // listed in this order
  }
  std::vector<std::string> expected = all;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const std::string& a, const std::string& b) { return rtl::AnsiCompareText(a, b) < 0; });
  expected.erase(std::unique(expected.begin(), expected.end(),
                             [](const std::string& a, const std::string& b) { return rtl::AnsiCompareText(a, b) == 0; }),
                 expected.end());
  ASSERT_GT(expected.size(), 20000u);
  DataFileSet set;
  set.MakeFileList(dir.str(), "", nullptr);
  for (int threads : {1, 3, 8, 0}) {
    SCOPED_TRACE(threads);
    SearchOptions options = OptionsFor("Smith", set);
    options.threads = threads;
    DataFileSet loaded;
    const SearchResult r = threads > 0 ? RunSearch(set, options, nullptr)
                                       : LoadAndSearch(loaded, dir.str(), nullptr, options, nullptr);
    EXPECT_EQ(r.hit_count, static_cast<int64_t>(all.size()));
    ASSERT_EQ(r.marriage_hits.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(r.marriage_hits[i], expected[i]) << i;
  }
}

using appcore_test::SteppingClock;

class SearchProgressTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::vector<std::string> bap = {"Big Parish - Baptisms"};
    for (int i = 0; i < 40000; ++i)
      bap.push_back("1650 03 Mar John Smith, Mary Jones; Anne; Will Brown" + std::to_string(i));
    WriteLines(dir_ / "big_bap.txt", bap);
    WriteLines(dir_ / "more_bap.txt", bap);
    set_.MakeFileList(dir_.str(), "", nullptr);
  }
  TempDir dir_;
  DataFileSet set_;
};

TEST_F(SearchProgressTest, CallbackComesAtMostEvery15MsNotPerLine) {
  SteppingClock clock(1);  // 1 ms per look at the clock
  rtl::ClockScope scope(clock);
  std::vector<int64_t> call_times;
  const SearchResult r = RunSearch(set_, OptionsFor("Smith", set_), [&](const SearchProgress& p) {
    call_times.push_back(clock.ms());
    EXPECT_GE(p.slot, 0);
    return true;
  });
  EXPECT_FALSE(r.cancelled);
  EXPECT_EQ(r.hit_count, 80000);
  EXPECT_LT(call_times.size(), 80000u / 100);
  for (size_t i = 1; i < call_times.size(); ++i) EXPECT_GE(call_times[i] - call_times[i - 1], kProgressIntervalMs);
}

TEST_F(SearchProgressTest, CancelStopsTheSearchAndKeepsTheSearchingLine) {
  SteppingClock clock(20);
  rtl::ClockScope scope(clock);
  int calls = 0;
  SearchOptions o = OptionsFor("Smith", set_);
  o.fuzzy_father = true;
  o.show_source_codes = true;
  // One thread, which also calls back: helpers the system runs while the
  // calling thread waits for a core could finish the first file and start
  // the second before the Cancel is seen.
  o.threads = 1;
  const SearchResult r = RunSearch(set_, o, [&](const SearchProgress&) { return ++calls < 2; });
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(calls, 2);
  EXPECT_GT(r.line_count, 0);
  EXPECT_LT(r.line_count, 40000);
  EXPECT_EQ(r.record_count, r.line_count);  // every line read was a record
  EXPECT_EQ(r.hit_count, static_cast<int64_t>(r.baptism_hits.size()));
  EXPECT_EQ(r.searching_line, "Searching:  [1] Big Parish - Baptisms");
  EXPECT_TRUE(r.legend.empty());
  EXPECT_EQ(r.key_length, 8);
  EXPECT_EQ(FirstPageLines(r, ArrangeOutcome{}, true), (Lines{r.searching_line}));
}

// A Cancel while the other hits are merged leaves every one of them, in
// the order found: none lost to the merged list they were being moved into.
// (So few hits are merged by the calling thread alone, which looks at the
// clock every 4096 hits.)
TEST(SearchMarriageHits, CancelDuringTheMergeKeepsEveryHitInTheOrderFound) {
  TempDir dir;
  std::vector<std::string> found;  // in file and line order
  for (int f = 0; f < 2; ++f) {
    std::vector<std::string> lines = {"Marriages"};
    for (int i = 0; i < 7000; ++i) {
      // Falling names, so that the merged order is not the order found,
      // and a line in ten repeated.
      lines.push_back(i % 10 == 9 ? lines.back()
                                  : "1650 03 Mar John Smith" + std::to_string(99999 - 2 * i - f) + "; Mary Cole");
      found.push_back(lines.back());
    }
    WriteLines(dir / ("f" + std::to_string(f) + "_marr.txt"), lines);
  }
  DataFileSet set;
  set.MakeFileList(dir.str(), "", nullptr);
  SearchOptions options = OptionsFor("Smith", set);
  options.threads = 1;
  SteppingClock clock(kProgressIntervalMs);  // every look at the clock calls back
  rtl::ClockScope scope(clock);
  // The merge's calls come last (three of them): the run cancelled at the
  // second from last is cancelled in the merge.
  int calls = 0;
  const SearchResult whole = RunSearch(set, options, [&](const SearchProgress&) { return ++calls > 0; });
  ASSERT_FALSE(whole.cancelled);
  ASSERT_EQ(whole.marriage_hits.size(), found.size() - found.size() / 10);
  ASSERT_GT(calls, 3);
  int call = 0;
  const SearchResult r = RunSearch(set, options, [&](const SearchProgress&) { return ++call < calls - 1; });
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(r.hit_count, static_cast<int64_t>(found.size()));
  EXPECT_EQ(r.marriage_hits, found);
}

TEST_F(SearchProgressTest, ElapsedSecondsComeFromTheSecondClock) {
  SteppingClock clock(400);
  rtl::ClockScope scope(clock);
  const SearchResult r = RunSearch(set_, OptionsFor("Smith", set_), nullptr);
  EXPECT_GT(r.elapsed_seconds, 0);
  EXPECT_NE(StatusText(r).find(" in " + std::to_string(r.elapsed_seconds) + " secs."), std::string::npos);
}

TEST(SearchText, ASelectionOfThreeToTwentyCharactersReplacesTheTypedText) {
  EXPECT_EQ(SearchTextFor("Smith", "ab"), "Smith");
  EXPECT_EQ(SearchTextFor("Smith", "abc"), "abc");
  EXPECT_EQ(SearchTextFor("Smith", std::string(20, 'a')), std::string(20, 'a'));
  EXPECT_EQ(SearchTextFor("Smith", std::string(21, 'a')), "Smith");
}

}  // namespace
}  // namespace appcore
