#include "app/core/sort_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>

#include "app/core/arrange.h"
#include "app/core/first_page.h"
#include "app/core/hit_dates.h"
#include "app/core/record_line.h"
#include "app/core/search.h"
#include "app/core/source_tags.h"
#include "core_test_support.h"
#include "page_test_support.h"
#include "textutil/compare.h"
#include "textutil/fields.h"
#include "textutil/scan.h"
#include "tools/register_generator.h"

namespace appcore {
namespace {

using appcore_test::TempDir;
using Lines = std::vector<std::string>;

// A marriage page in the registers' layout: the date in characters 1-12,
// then the husband and his descriptor, then the wife and hers.
const Lines kMarriagePage = {
    "1701 Mar 05 John Smith, yeoman; Mary Jones, spinster",
    "1702 Apr 10 Peter van Dyck, weaver; Anne Baker, widow",
    "1699 Jun 01 Adam Smith, labourer; Joan Cole, spinster",
    "remark line",
    "?703 ?? Jan Will[iam] Abbot Jr, smith; Alice Young, spinster",
};
constexpr FileKind kMarr = FileKind::kOther, kBap = FileKind::kBaptisms;

TEST(SortEntries, NamesReadByTheRecordLineLayout) {
  const struct {
    std::string_view line;
    FileKind kind;
    const char* husband;
    const char* wife;
  } cases[] = {
      {kMarriagePage[0], kMarr, "1701 Mar 05; Smith, John,  yeoman; Mary Jones, spinster",
       "1701 Mar 05; Jones, Mary, John Smith, yeoman;  Mary Jones, spinster"},
      {kMarriagePage[1], kMarr, "1702 Apr 10; vanDyck, Peter,  weaver; Anne Baker, widow",
       "1702 Apr 10; Baker, Anne, Peter vanDyck, weaver;  Anne Baker, widow"},
      // "Jr" stays out of the surname and is not dropped; brackets go.
      {kMarriagePage[4], kMarr, "?703 ?? Jan; Abbot, William Jr,  smith; Alice Young, spinster",
       "?703 ?? Jan; Young, Alice, William Abbot Jr, smith;  Alice Young, spinster"},
      // Four words: the fourth is the surname; past it, words are kept.
      {"1700 Jan 01 Johan Georg Fried Muller, x; Mary Ann Cole Jr", kMarr,
       "1700 Jan 01; Muller, Johan Georg Fried,  x; Mary Ann Cole Jr",
       "1700 Jan 01; Cole, Mary Ann Jr, Johan Georg Fried Muller, x;  Mary Ann Cole Jr"},
      {"1700 Jan 01 A B C D E F; x", kMarr, "1700 Jan 01; D, A B C E F,  x", "1700 Jan 01; , x, A B C D E F;  x"},
      // A third word without letters stays after the given names.
      {"1700 Jan 01 John Smith (2); x", kMarr, "1700 Jan 01; Smith, John (2),  x",
       "1700 Jan 01; , x, John Smith (2);  x"},
      // No ';': the husband alone.
      {"1700 Jan 01 John Smith", kMarr, "1700 Jan 01; Smith, John, ", "1700 Jan 01; , , John Smith; "},
      // Baptisms: father, mother; child; witnesses. The mother stands after
      // the last ',' before the first ';', so the father keeps his own ','.
      {"1621 25 Feb Richard Phillipps, Elizabeth Mason; Richard; Walter Clarke", kBap,
       "1621 25 Feb; Phillipps, Richard,  Elizabeth Mason; Richard; Walter Clarke",
       "1621 25 Feb; Mason, Elizabeth, Richard Phillipps;  Richard; Walter Clarke"},
      {"1700 01 Jan John Smith, elder, Mary van Cole; Anne; W", kBap, "1700 01 Jan; Smith, John,  elder, Mary vanCole; Anne; W",
       "1700 01 Jan; vanCole, Mary, John Smith, elder;  Anne; W"},
      // A ',' right before the ';': no mother.
      {"1700 01 Jan John Smith,; Anne; W", kBap, "1700 01 Jan; Smith, John, ; Anne; W",
       "1700 01 Jan; , , John Smith;  Anne; W"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HusbandEntry(c.line, c.kind), c.husband) << c.line;
    EXPECT_EQ(WifeEntry(c.line, c.kind), c.wife) << c.line;
  }
}

TEST(SortEntries, ParticlesAreGluedCaseKeptInOrder) {
  EXPECT_EQ(GlueParticles("1700 Jan 01; Jan van der Berg, x"), "1700 Jan 01; Jan vanderBerg, x");
  EXPECT_EQ(GlueParticles("Anna De La Cruz"), "Anna DeLaCruz");
  EXPECT_EQ(GlueParticles("Jan 't Hart"), "Jan 'tHart");
  EXPECT_EQ(GlueParticles("A de de B"), "A dede B");  // occurrences do not overlap
  EXPECT_EQ(GlueParticles("Jan [van] Dyck"), "Jan vanDyck");
  EXPECT_EQ(GlueParticles("Devan Smith"), "Devan Smith");
}

// Random texts of particle pieces in random case, high bytes and runs of
// blanks: the gluing agrees with a case-blind replace made with the scan
// routine, particle by particle.
TEST(SortEntries, ParticlesGlueAsTheCaseBlindScanReplaces) {
  static const char* const kPieces[] = {" ", "  ", "van", "VAN", "der", "De", "la", "LE", "'t", "'T", "ten",
                                        "ter", "du", "dela", "vande", "vanden", "Jan", "\xC9", "\xE9", "x", "[", "]"};
  static const char* const kParticles[] = {" 't ", " la ", " le ", " van ", " ver ", " der ", " de ",
                                           " ten ", " ter ", " du ", " dela ", " vander ", " vande ", " vanden "};
  const auto reference = [](std::string_view line) {
    std::string text = WithoutBrackets(line);
    for (std::string_view particle : kParticles) {
      std::vector<int> hits;
      for (int pos = 1; pos <= static_cast<int>(text.size());) {
        const int at = textutil::ScanF(text, particle, -pos);
        if (at == 0) break;
        hits.push_back(at);
        pos = at + static_cast<int>(particle.size());
      }
      for (auto it = hits.rbegin(); it != hits.rend(); ++it)
        text.erase(static_cast<size_t>(*it - 1) + particle.size() - 1, 1);
    }
    return text;
  };
  std::mt19937 rng(5);
  for (int round = 0; round < 20000; ++round) {
    std::string line;
    for (int k = static_cast<int>(rng() % 12); k > 0; --k) line += kPieces[rng() % std::size(kPieces)];
    ASSERT_EQ(GlueParticles(line), reference(line)) << line;
  }
}

// Large enough to be cut in parts, sorted on a crew and merged: the page is
// the entries stably sorted by the case-blind key comparison, keys holding
// letters of both cases and high bytes with their case images.
TEST(SortPage, CrewSortIsTheStableCaseBlindSortOfTheKeys) {
  static const char* const kNames[] = {"Smith", "SMITH", "smyth", "\xC9mile", "\xE9mile", "Abbot", "abbot",
                                       "van Dyck", "Cole Jr", "Zeal", "", "a"};
  std::mt19937 rng(9);
  Lines page;
  for (int i = 0; i < 60000; ++i) {
    const auto name = [&] { return std::string(kNames[rng() % std::size(kNames)]); };
    page.push_back(std::to_string(1600 + rng() % 200) + " Mar 0" + std::to_string(rng() % 9) + "; " + name() + " " +
                   name() + ", of X; " + name() + " " + name() + ", spinster");
    if (i % 7 == 0) page.push_back("remark");
  }
  for (const SortSide side : {SortSide::kHusband, SortSide::kWife, SortSide::kAll}) {
    for (const char* caption : {"x_marr.txt", "x_bap.txt"}) {
      Lines entries;
      for (const std::string& line : page) {
        const std::string_view trimmed = TrimLine(line);
        if (!IsRecordLine(trimmed)) continue;
        if (side != SortSide::kHusband) entries.push_back(WifeEntry(trimmed, PageKind(caption)));
        if (side != SortSide::kWife) entries.push_back(HusbandEntry(trimmed, PageKind(caption)));
      }
      const bool by_wife = side == SortSide::kWife && std::string_view(caption) == "x_marr.txt";
      const auto key = [&](const std::string& e) { return by_wife ? WifeKey(e) : HusbandKey(e); };
      std::stable_sort(entries.begin(), entries.end(), [&](const std::string& a, const std::string& b) {
        return textutil::VantaCompare(key(a), key(b), -1, -1, 0) < 0;
      });
      const SortedPage sorted = SortPageByName(caption, page, side);
      EXPECT_TRUE(sorted.lines == entries) << caption << " side " << static_cast<int>(side);
      // The same sort with the entries left in their lines' slots (the
      // wife's first, a line's slots empty when it is no record line) and
      // the order as slots: each filled slot once, in the sorted order.
      const std::vector<std::string_view> views(page.begin(), page.end());
      const SortedEntries in_place = SortEntriesByName(caption, views, side);
      const size_t sides = side == SortSide::kAll ? 2 : 1;
      ASSERT_EQ(in_place.entries.size(), page.size() * sides);
      for (size_t i = 0; i < page.size(); ++i) {
        const std::string_view trimmed = TrimLine(page[i]);
        const bool record = IsRecordLine(trimmed);
        const std::string wife = record && side != SortSide::kHusband ? WifeEntry(trimmed, PageKind(caption)) : "";
        const std::string husband = record && side != SortSide::kWife ? HusbandEntry(trimmed, PageKind(caption)) : "";
        ASSERT_EQ(in_place.entries[sides * i], side == SortSide::kHusband ? husband : wife) << i;
        if (sides == 2) { ASSERT_EQ(in_place.entries[sides * i + 1], husband) << i; }
      }
      Lines ordered;
      std::vector<char> seen(in_place.entries.size(), 0);
      for (const uint32_t slot : in_place.order) {
        ASSERT_LT(slot, in_place.entries.size());
        ASSERT_EQ(seen[slot]++, 0) << "slot " << slot << " twice";
        ordered.push_back(in_place.entries[slot]);
      }
      EXPECT_TRUE(ordered == entries);
      EXPECT_EQ(in_place.caption, sorted.caption);
    }
  }
}

TEST(SortKeys, EachSideKeyedByThePersonItNames) {
  EXPECT_EQ(HusbandKey(HusbandEntry(kMarriagePage[0], kMarr)), "Smith Joy");
  EXPECT_EQ(HusbandKey(HusbandEntry(kMarriagePage[4], kMarr)), "Abbot Wis");
  EXPECT_EQ(WifeKey(WifeEntry(kMarriagePage[0], kMarr)), "JonesMar");
  EXPECT_EQ(WifeKey(WifeEntry(kMarriagePage[1], kMarr)), "BakerAnn");
  EXPECT_EQ(WifeKey(WifeEntry("1700 Jan 01 Jo Fry; Anna Maria Cole, y", kMarr)), "ColeAnn");
  // On a baptism page the wife entry is keyed by the husband key: the mother.
  EXPECT_EQ(HusbandKey(WifeEntry("1621 25 Feb Richard Phillipps, Elizabeth Mason; R; W", kBap)).substr(0, 5), "Mason");
  EXPECT_EQ(HusbandKey("no semicolon"), "");
  EXPECT_EQ(WifeKey("1700; only one"), "");
}

TEST(SortPage, ByHusbandOnAMarriagePage) {
  const SortedPage page = SortPageByName("stmary_marr.txt", kMarriagePage, SortSide::kHusband);
  EXPECT_EQ(page.error, "");
  EXPECT_EQ(page.caption, "HS-stmary_marr.txt");
  EXPECT_EQ(page.lines, (Lines{"?703 ?? Jan; Abbot, William Jr,  smith; Alice Young, spinster",
                               "1699 Jun 01; Smith, Adam,  labourer; Joan Cole, spinster",
                               "1701 Mar 05; Smith, John,  yeoman; Mary Jones, spinster",
                               "1702 Apr 10; vanDyck, Peter,  weaver; Anne Baker, widow"}));
}

TEST(SortPage, ByWifeOnAMarriagePageUsesTheWifeKey) {
  const SortedPage page = SortPageByName("stmary_marr.txt", kMarriagePage, SortSide::kWife);
  EXPECT_EQ(page.caption, "WS-stmary_marr.txt");
  EXPECT_EQ(page.lines, (Lines{"1702 Apr 10; Baker, Anne, Peter vanDyck, weaver;  Anne Baker, widow",
                               "1699 Jun 01; Cole, Joan, Adam Smith, labourer;  Joan Cole, spinster",
                               "1701 Mar 05; Jones, Mary, John Smith, yeoman;  Mary Jones, spinster",
                               "?703 ?? Jan; Young, Alice, William Abbot Jr, smith;  Alice Young, spinster"}));
}

TEST(SortPage, AllListsEveryLineTwiceByTheHusbandKey) {
  const SortedPage page = SortPageByName("stmary_marr.txt", kMarriagePage, SortSide::kAll);
  EXPECT_EQ(page.caption, "AS-stmary_marr.txt");
  ASSERT_EQ(page.lines.size(), 8u);  // four record lines, each under both names
  EXPECT_EQ(page.lines, (Lines{"?703 ?? Jan; Abbot, William Jr,  smith; Alice Young, spinster",
                               "1702 Apr 10; Baker, Anne, Peter vanDyck, weaver;  Anne Baker, widow",
                               "1699 Jun 01; Cole, Joan, Adam Smith, labourer;  Joan Cole, spinster",
                               "1701 Mar 05; Jones, Mary, John Smith, yeoman;  Mary Jones, spinster",
                               "1699 Jun 01; Smith, Adam,  labourer; Joan Cole, spinster",
                               "1701 Mar 05; Smith, John,  yeoman; Mary Jones, spinster",
                               "1702 Apr 10; vanDyck, Peter,  weaver; Anne Baker, widow",
                               "?703 ?? Jan; Young, Alice, William Abbot Jr, smith;  Alice Young, spinster"}));
}

TEST(SortPage, BaptismPageSortsByFatherAndByMother) {
  const Lines page = {"1700 01 Jan John Smith, Mary Cole; Anne; W", "1701 01 Jan Adam Young, Joan Baker; Tom; V",
                      "1702 01 Jan Will Fry, Ann Abbot; Kit; U"};
  auto surnames = [](const SortedPage& sorted) {
    Lines out;
    for (const std::string& l : sorted.lines) out.push_back(l.substr(13, l.find(',') - 13));
    return out;
  };
  EXPECT_EQ(surnames(SortPageByName("x_bap.txt", page, SortSide::kHusband)), (Lines{"Fry", "Smith", "Young"}));
  EXPECT_EQ(surnames(SortPageByName("x_bap.txt", page, SortSide::kWife)), (Lines{"Abbot", "Baker", "Cole"}));
}

TEST(SortPage, EqualKeysKeepPageOrder) {
  const Lines page = {"1705 Jan 01 John Smith, a; x", "1701 Jan 01 John Smith, b; y", "1703 Jan 01 JOHN SMITH, a; z"};
  const SortedPage sorted = SortPageByName("x_marr.txt", page, SortSide::kHusband);
  ASSERT_EQ(sorted.lines.size(), 3u);
  EXPECT_EQ(sorted.lines[0].substr(0, 4), "1705");  // "Smith Joa" (case-blind) ties with line 3
  EXPECT_EQ(sorted.lines[1].substr(0, 4), "1703");
  EXPECT_EQ(sorted.lines[2].substr(0, 4), "1701");  // "Smith Job"
}

TEST(SortPage, ImproperFileTypeChangesNothing) {
  for (const char* caption : {"Main text", "NewPage01.txt", "notes_burials.txt", ""}) {
    const SortedPage page = SortPageByName(caption, kMarriagePage, SortSide::kAll);
    EXPECT_EQ(page.error, kImproperFileType) << caption;
    EXPECT_TRUE(page.lines.empty());
    EXPECT_EQ(page.caption, "");
  }
  // Captions are file names, which the data-file list reads case-blind.
  EXPECT_TRUE(IsSortablePage("STMARY_MARR.TXT"));
  EXPECT_TRUE(IsSortablePage("HS-stmary_bap.txt"));
  EXPECT_FALSE(IsSortablePage("stmary_memb.txt"));
}

TEST(SortPage, OnlyRecordLinesAreSorted) {
  const Lines page = {"", "   ", "-1700 Jan 01 separator, x; y", "Title line", "  1700 Jan 01 John Smith, a; b  ",
                      "?7?? ?? ??? Unknown Date, a; b", "[1] St Mary - Marriages"};
  const SortedPage sorted = SortPageByName("x_marr.txt", page, SortSide::kHusband);
  EXPECT_EQ(sorted.lines, (Lines{"?7?? ?? ???; Date, Unknown,  a; b", "1700 Jan 01; Smith, John,  a; b"}));
}

// The generated registers against the independent reading in
// sort_reference.py.
class SortReference : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (std::system("python3 -c 'pass' > /dev/null 2>&1") != 0) return;
    dir_ = new TempDir;
    regtools::GeneratorOptions options;
    options.seed = 77;
    options.out_dir = dir_->path();
    options.files = 2;  // one baptism and one marriage file
    options.record_lines = 3000;
    regtools::GenerateRegisters(options);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "python3 missing";
  }

  static Lines FileLines(const std::string& name_part) {
    for (const auto& entry : std::filesystem::directory_iterator(dir_->path())) {
      const std::string name = entry.path().filename().string();
      if (name.find(name_part) == std::string::npos) continue;
      Lines lines;
      std::ifstream in(entry.path(), std::ios::binary);
      for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('"') == std::string::npos) lines.push_back(line);
      }
      return lines;
    }
    return {};
  }

  static Lines Reference(const char* side, const std::string& caption, const Lines& lines) {
    const std::string input = *dir_ / "page.txt";
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\n";
    appcore_test::WriteBytes(input, bytes);
    const std::string cmd = std::string("python3 '") + QV_SOURCE_DIR + "/tests/app/core/sort_reference.py' " + side +
                            " '" + caption + "' '" + input + "'";
    Lines out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
      std::string all;
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) all.append(buffer, n);
      if (pclose(p) != 0) return {"FAILED"};
      size_t begin = 0;
      for (size_t end; (end = all.find('\n', begin)) != std::string::npos; begin = end + 1)
        out.push_back(all.substr(begin, end - begin));
    }
    return out;
  }

  static TempDir* dir_;
};

TempDir* SortReference::dir_ = nullptr;

TEST_F(SortReference, EverySideOnGeneratedPagesAndTaggedHits) {
  for (const char* part : {"_marr.txt", "_bap.txt"}) {
    Lines lines = FileLines(part);
    ASSERT_GT(lines.size(), 100u) << part;
    const std::string caption = "parish" + std::string(part);
    // The page as a data file, and as a page of tagged hits.
    Lines tagged;
    for (const std::string& line : lines) tagged.push_back(line + " [2] ");
    for (const Lines* page : {&lines, &tagged}) {
      const struct {
        const char* name;
        SortSide side;
      } sides[] = {{"husband", SortSide::kHusband}, {"wife", SortSide::kWife}, {"all", SortSide::kAll}};
      for (const auto& s : sides) {
        const SortedPage sorted = SortPageByName(caption, *page, s.side);
        const Lines expected = Reference(s.name, caption, *page);
        ASSERT_EQ(sorted.lines.size(), expected.size()) << part << " " << s.name;
        EXPECT_EQ(sorted.lines, expected) << part << " " << s.name;
      }
    }
  }
}

// --- Sort groups by date ---------------------------------------------------

TEST(SortGroups, GroupsByTheirFirstDateLegendKept) {
  const Lines page = {"[1] St Mary - Baptisms",
                      "[2] St Mary - Marriages",
                      " ",
                      "1702 05 Mar Adam Cole, yeoman; Mary Hall, spinster [2] ",
                      "1690 Jan 01 Adam Cole, yeoman; Joan Fry, widow [2] ",
                      "",
                      "1701 Mar 09 John Baker, Mary Cole; Anne; W [1] ",
                      "1701 Mar 10 John Baker, Mary Cole; Anne; W [1] ",
                      "",
                      "1650 Feb 02 Will Fry, Joan Hall; Joan; W [1] ",
                      "x",
                      "",
                      "remark group",
                      ""};
  Lines messages;
  const Lines sorted = SortGroupsByDate(page, [&](const std::string& m) { messages.push_back(m); });
  EXPECT_EQ(sorted, (Lines{"[1] St Mary - Baptisms", "[2] St Mary - Marriages", "",
                           "1650 Feb 02 Will Fry, Joan Hall; Joan; W [1] ", "x", "",
                           "1701 Mar 09 John Baker, Mary Cole; Anne; W [1] ",
                           "1701 Mar 10 John Baker, Mary Cole; Anne; W [1] ", "",
                           "1702 05 Mar Adam Cole, yeoman; Mary Hall, spinster [2] ",
                           "1690 Jan 01 Adam Cole, yeoman; Joan Fry, widow [2] ", "", "remark group", "", ""}));
  EXPECT_TRUE(messages.empty());
  // Sorting a sorted page changes nothing.
  EXPECT_EQ(SortGroupsByDate(sorted, nullptr), sorted);
}

TEST(SortGroups, ShortPagesAndPagesWithoutLegend) {
  // A page far shorter than the legend of the last search.
  EXPECT_EQ(SortGroupsByDate({"1701 01 Mar b", "1700 01 Mar a"}, nullptr),
            (Lines{"", "1701 01 Mar b", "1700 01 Mar a", "", ""}));
  EXPECT_EQ(SortGroupsByDate({}, nullptr), (Lines{"", ""}));
  EXPECT_EQ(SortGroupsByDate({"[1] Only a legend"}, nullptr), (Lines{"[1] Only a legend", "", ""}));
  EXPECT_EQ(SortGroupsByDate({"1701 01 Mar b", "", "1700 01 Mar a"}, nullptr),
            (Lines{"", "1700 01 Mar a", "", "1701 01 Mar b", "", ""}));
  // A legend line further down is part of its group.
  EXPECT_EQ(PageLegendLineCount({"[1] a", " [2] b", "1700 x", "[3] c"}), 2);
  EXPECT_EQ(PageLegendLineCount({"[see] note", "[1] a"}), 0);
}

TEST(SortGroups, DateSortErrorOncePerCommand) {
  Lines messages;
  const Lines sorted = SortGroupsByDate({"17x1 01 Mar a; b", "", "17y1 01 Mar c; d", "", "1700 01 Jan e; f"},
                                        [&](const std::string& m) { messages.push_back(m); });
  EXPECT_EQ(messages, (Lines{"Date sort error:17x1 01 Mar a"}));
  EXPECT_EQ(sorted, (Lines{"", "1700 01 Jan e; f", "", "17x1 01 Mar a; b", "", "17y1 01 Mar c; d", "", ""}));
}

TEST(SortGroups, ArrangedSearchPageKeepsEveryLine) {
  TempDir dir;
  appcore_test::Generate(dir, 9, 3, 4000);
  DataFileSet set;
  set.MakeFileList(dir.str(), "", nullptr);
  ASSERT_GT(set.Count(), 0);
  // Search the surname of the first record of the first file.
  const std::string father = appcore_test::FirstFatherSurname(*set.File(0).data);
  SearchOptions search = appcore_test::OptionsFor(father, set);
  search.show_source_codes = true;
  const SearchResult result = RunSearch(set, search, nullptr);
  const ArrangeOutcome arranged = Arrange(result.baptism_hits, result.key_length, {});
  const Lines page = FirstPageLines(result, arranged, true);
  ASSERT_GT(result.hit_count, 3) << father;

  const Lines sorted = SortGroupsByDate(page, nullptr);
  const int legend = LegendLineCount(result, true);
  EXPECT_EQ(PageLegendLineCount(page), legend);
  EXPECT_TRUE(std::equal(page.begin(), page.begin() + legend, sorted.begin()));
  auto text_lines = [](Lines lines) {
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](const std::string& l) { return TrimLine(l).empty(); }),
                lines.end());
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(text_lines(sorted), text_lines(page));
  // Group heads in date order.
  int64_t last = INT64_MIN;
  for (size_t i = static_cast<size_t>(legend) + 1; i < sorted.size(); ++i) {
    if (sorted[i].empty() || !sorted[i - 1].empty()) continue;
    const int64_t key = DateOfLine(sorted[i]).Key();
    EXPECT_GE(key, last) << sorted[i];
    last = key;
  }
}

}  // namespace
}  // namespace appcore
