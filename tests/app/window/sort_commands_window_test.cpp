// The sort commands on real pages: "Sort by Husband", "Sort by Wife" and
// "Sort All" against the python reading of the sort recipe, and "Sort groups
// by date" on search pages of any legend length.
#include <QAction>
#include <QMenu>
#include <cstdlib>
#include <set>

#include "app/core/hit_dates.h"
#include "app/core/record_line.h"
#include "app/core/sort_commands.h"
#include "platform/runtime/cp1252.h"
#include "app/core/source_tags.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

class SortWindowTest : public WindowTest {
protected:
  void OpenSample(const char* name) {
    prompts.open_names.push_back(SamplesDir() + "/" + name);
    Trigger("Opentextfile1");
    ASSERT_EQ(window->PageCaption(ActivePage()), name);
  }
  // The reference's sorted entries for the current page.
  std::vector<std::string> Reference(const char* side) {
    const fs::path in = dir / "page.txt", out = dir / "sorted.txt";
    std::string text;
    for (const std::string& l : CurrentLines()) text += l + "\n";
    WriteFile(in, text);
    const std::string command = "python3 '" + std::string(QV_SOURCE_DIR) + "/tests/app/core/sort_reference.py' " +
                                side + " '" + window->PageCaption(ActivePage()) + "' '" + in.string() + "' > '" +
                                out.string() + "'";
    if (std::system(command.c_str()) != 0) return {};
    std::vector<std::string> lines;
    std::istringstream s(ReadFile(out));
    for (std::string l; std::getline(s, l);) lines.push_back(l);
    return lines;
  }
};

TEST_F(SortWindowTest, SortsRefuseAPageThatIsNoBaptismOrMarriagePage) {
  Search("Lewes");
  const std::vector<std::string> before = LinesOf(Page());
  for (const char* item : {"SortbyHusband1", "SortbyWife1", "SortAll1"}) Trigger(item);
  EXPECT_EQ(prompts.messages, std::vector<std::string>(3, appcore::kImproperFileType));
  EXPECT_EQ(prompts.messages[0].rfind("Improper file type", 0), 0u);
  EXPECT_EQ(Pages(), 1);
  EXPECT_EQ(LinesOf(Page()), before);
}

TEST_F(SortWindowTest, MarriagePageSortsByHusbandWifeAndAll) {
  OpenSample("stmary_marr.txt");
  const std::vector<std::string> source = CurrentLines();
  int records = 0;
  for (const std::string& l : source) {
    const size_t first = l.find_first_not_of(" \t");
    if (first != std::string::npos && isdigit(static_cast<unsigned char>(l[first]))) ++records;
  }
  ASSERT_GT(records, 100);
  const struct {
    const char* item;
    const char* side;
    const char* prefix;
  } sorts[] = {{"SortbyHusband1", "husband", "HS-"}, {"SortbyWife1", "wife", "WS-"}, {"SortAll1", "all", "AS-"}};
  for (const auto& sort : sorts) {
    window->PageControl1->setCurrentIndex(1);
    const std::vector<std::string> expected = Reference(sort.side);
    ASSERT_FALSE(expected.empty()) << "python3 reference did not run";
    Trigger(sort.item);
    EXPECT_EQ(window->PageCaption(ActivePage()), std::string(sort.prefix) + "stmary_marr.txt");
    EXPECT_EQ(window->PageMark(ActivePage()), 1);
    EXPECT_EQ(CurrentLines(), expected) << sort.item;
  }
  // Sort All lists every record twice.
  EXPECT_EQ(static_cast<int>(CurrentLines().size()), 2 * records);
  EXPECT_TRUE(prompts.messages.empty());
  // The page sorted from is unchanged.
  EXPECT_EQ(LinesOf(window->PageMemo(1)->Memo()), source);
}

TEST_F(SortWindowTest, BaptismPageSortByWifeUsesTheHusbandOrder) {
  OpenSample("stpeter_bap.txt");
  const std::vector<std::string> expected = Reference("wife");
  ASSERT_FALSE(expected.empty());
  Trigger("SortbyWife1");
  EXPECT_EQ(window->PageCaption(ActivePage()), "WS-stpeter_bap.txt");
  EXPECT_EQ(CurrentLines(), expected);
}

// The letters of a word, upper case ("[illeg.]" -> "ILLEG").
std::string Letters(std::string_view word) {
  std::string letters;
  for (char c : word)
    if (rtl::IsCharAlpha(static_cast<unsigned char>(c)) || c == '\'') letters += c;
  return rtl::AnsiUpperCase(letters);
}

// The surname of a name as a reader sees it: its last word that is not
// "Jr", particles glued to it; none for a name of one word.
std::string Surname(const std::string& name) {
  std::istringstream words(appcore::GlueParticles(name));
  std::vector<std::string> kept;
  for (std::string w; words >> w;)
    if (w != "Jr" && w != "jr") kept.push_back(w);
  return kept.size() < 2 ? std::string() : Letters(kept.back());
}

// a-z upper-cased, every other byte as it is.
std::string Folded(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Every sample baptism and marriage page, sorted by either side, lists each
// record under the surname of the person the command names, as the
// search's fields read the record (father and mother, husband and wife), in
// the order of those surnames.
TEST_F(SortWindowTest, SortsOrderBySurnameOfTheNamedPersonAsTheSearchReadsIt) {
  for (const char* sample : {"stmary_marr.txt", "stpeter_marr.txt", "stmary_bap.txt", "holytrinity_bap.txt"}) {
    OpenSample(sample);
    const int source_page = ActivePage();
    const bool baptisms = appcore::KindFromName(sample) == appcore::FileKind::kBaptisms;
    std::multiset<std::string> husbands, wives;
    for (const std::string& line : CurrentLines()) {
      const std::string_view t = appcore::TrimLine(line);
      if (!appcore::IsRecordLine(t)) continue;
      const std::string_view rest = appcore::RestOf(t);
      if (baptisms) {
        const appcore::BaptismFields f = appcore::SplitBaptismRest(rest);
        husbands.insert(Surname(f.father.substr(0, f.father.find(','))));
        wives.insert(Surname(f.mother));
      } else {
        const appcore::CoupleParts f = appcore::SplitCoupleRest(rest);
        husbands.insert(Surname(f.husband));
        wives.insert(Surname(f.wife));
      }
    }
    ASSERT_GT(husbands.size(), 20u) << sample;
    for (const char* item : {"SortbyHusband1", "SortbyWife1"}) {
      window->PageControl1->setCurrentIndex(source_page);
      Trigger(item);
      // The order: surname, then (on a marriage page's wife side glued to
      // it) the first letters of the given names.
      const bool by_husband = std::string(item) == "SortbyHusband1";
      const std::string joint = by_husband || baptisms ? " " : "";
      std::vector<std::string> heads, letters;
      for (const std::string& entry : CurrentLines()) {
        const size_t at = entry.find("; ") + 2, comma = entry.find(',', at);
        const std::string surname = entry.substr(at, comma - at);
        heads.push_back(Folded(surname + joint + entry.substr(comma + 2, 2)));
        letters.push_back(Letters(surname));
      }
      const std::multiset<std::string> got(letters.begin(), letters.end()), & want = by_husband ? husbands : wives;
      std::vector<std::string> only_got, only_want;
      std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(only_got));
      std::set_difference(want.begin(), want.end(), got.begin(), got.end(), std::back_inserter(only_want));
      EXPECT_EQ(only_got, only_want) << sample << " " << item;
      const auto unsorted = std::is_sorted_until(heads.begin(), heads.end());
      EXPECT_TRUE(unsorted == heads.end()) << sample << " " << item << ": " << *(unsorted - 1) << " before " << *unsorted
                                           << " (" << CurrentLines()[static_cast<size_t>(unsorted - heads.begin())] << ")";
    }
  }
  EXPECT_TRUE(prompts.messages.empty());
}

// The date of a group's first line, as the arranging reads it.
int64_t DateKey(const std::string& line) { return appcore::DateOfLine(line).Key(); }

TEST_F(SortWindowTest, SortGroupsByDateKeepsTheLegendAndOrdersTheGroups) {
  Search("Clerke");
  const std::vector<std::string> before = LinesOf(Page());
  const int legend = appcore::PageLegendLineCount(before);
  ASSERT_GT(legend, 0);
  Page().setSelStart(Page().ParStart(legend + 3) + 2);
  const std::int32_t caret = Page().getSelStart();
  window->PopupMenu1->findChild<QAction*>("Sortgroupsbydate1")->trigger();
  const std::vector<std::string> after = LinesOf(Page());
  EXPECT_EQ(Page().getSelStart(), caret);
  EXPECT_EQ(window->PageMark(0), 1);
  // Legend on top, then an empty line.
  ASSERT_GT(after.size(), static_cast<size_t>(legend));
  EXPECT_EQ(std::vector<std::string>(after.begin(), after.begin() + legend),
            std::vector<std::string>(before.begin(), before.begin() + legend));
  EXPECT_EQ(after[static_cast<size_t>(legend)], "");
  // Groups: runs of non-blank lines, in date order of their first lines.
  std::vector<int64_t> dates;
  std::multiset<std::string> kept_before, kept_after;
  for (size_t i = static_cast<size_t>(legend); i < before.size(); ++i)
    if (before[i].size() >= 2) kept_before.insert(before[i]);
  bool in_group = false;
  for (size_t i = static_cast<size_t>(legend) + 1; i < after.size(); ++i) {
    if (after[i].size() < 2) {
      in_group = false;
      continue;
    }
    kept_after.insert(after[i]);
    if (!in_group) dates.push_back(DateKey(after[i]));
    in_group = true;
  }
  EXPECT_TRUE(std::is_sorted(dates.begin(), dates.end()));
  EXPECT_GT(dates.size(), 3u);
  EXPECT_EQ(kept_after, kept_before);  // no record line lost or doubled
  EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(SortWindowTest, SortByMotherPutsTheLastSearchsArrangedBaptismsOnTheCurrentPage) {
  QAction* item = window->PopupMenu1->findChild<QAction*>("SortbyMother1");
  ASSERT_NE(item, nullptr);
  EXPECT_FALSE(item->isVisible());  // as the stored form keeps it
  Search("Clerke");
  const std::vector<std::string> first = LinesOf(Page());
  Trigger("Newsheet1");
  Current().SetText("notes of mine");
  std::vector<std::string> arranged;
  for (int run = 0; run < 2; ++run) {
    window->ArrangeMClick();  // the handler is driven directly
    const std::vector<std::string> page = CurrentLines();
    // The baptism groups close the first page: the same lines, in the same
    // order, each group after an empty line, every hit once.
    ASSERT_GT(page.size(), 4u);
    ASSERT_LE(page.size(), first.size());
    EXPECT_EQ(page, std::vector<std::string>(first.end() - static_cast<long>(page.size()), first.end())) << run;
    EXPECT_EQ(page.front(), "");
    EXPECT_EQ(page.size() - static_cast<size_t>(std::count(page.begin(), page.end(), std::string())),
              window->HitList().size());
    if (run == 1) {
      EXPECT_EQ(page, arranged);
    }
    arranged = page;
  }
  EXPECT_EQ(LinesOf(Page()), first);
  EXPECT_EQ(window->PageMark(ActivePage()), 1);
  EXPECT_EQ(Current().getSelStart(), 0);
  // The scratch memo's lines come first.
  window->VellMemo3->SetText("head line");
  window->ArrangeMClick();
  arranged.insert(arranged.begin(), "head line");
  EXPECT_EQ(CurrentLines(), arranged);
}

TEST_F(SortWindowTest, SortGroupsByDateOnAShortPageAfterALongLegend) {
  Search("Clerke");  // a legend of several sources
  ASSERT_GT(appcore::PageLegendLineCount(LinesOf(Page())), 2);
  Trigger("Newsheet1");
  Current().SetText("1702 05 May B; x\r\n\r\n1701 01 Jan A; y");
  window->PopupMenu1->findChild<QAction*>("Sortgroupsbydate1")->trigger();
  EXPECT_TRUE(prompts.messages.empty());
  EXPECT_EQ(CurrentLines(), (std::vector<std::string>{"", "1701 01 Jan A; y", "", "1702 05 May B; x", "", ""}));
}

TEST_F(SortWindowTest, UnreadableDatesAreReportedOncePerCommand) {
  Page().SetText("17x1 Jan A; a\r\n\r\n17y2 Feb B; b\r\n\r\n17z3 Mar C; c\r\n\r\n1700 01 Jan D; d");
  Trigger("Sortgroupsbydate1");
  ASSERT_EQ(prompts.messages.size(), 1u);
  EXPECT_EQ(prompts.messages[0].rfind("Date sort error:", 0), 0u);
  // Every line is still there.
  std::multiset<std::string> after;
  for (const std::string& l : LinesOf(Page()))
    if (!l.empty()) after.insert(l);
  EXPECT_EQ(after, (std::multiset<std::string>{"17x1 Jan A; a", "17y2 Feb B; b", "17z3 Mar C; c", "1700 01 Jan D; d"}));
}

}  // namespace
