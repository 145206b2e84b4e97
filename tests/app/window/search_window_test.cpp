// The real main window searching the sample registers: typed text, ticked
// boxes and the Search button, then the first page, the status line and
// the red keyword runs, checked against an independent reference
// (reference_search.py) and against the pixels of the memo.
#include <QImage>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/runtime/cp1252.h"
#include "window_test_support.h"

using namespace window_test;

namespace {

struct Reference {
  std::vector<std::string> hits, legend;
  long hits_count = 0, records = 0, lines = 0;
};

Reference RunReference(const std::string& folder, const std::string& term) {
  const std::string command = "python3 '" + std::string(QV_SOURCE_DIR) + "/tests/app/window/reference_search.py' '" +
                              folder + "' '" + term + "'";
  Reference ref;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return ref;
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string utf8_free = rtl::Utf8ToCp1252(line);
    if (utf8_free.rfind("HIT ", 0) == 0) ref.hits.push_back(utf8_free.substr(4));
    if (utf8_free.rfind("LEGEND", 0) == 0) ref.legend.push_back(utf8_free.substr(6));
    if (utf8_free.rfind("COUNTS ", 0) == 0)
      std::sscanf(utf8_free.c_str() + 7, "%ld %ld %ld", &ref.hits_count, &ref.records, &ref.lines);
  }
  return ref;
}

std::string Lower(std::string s) { return rtl::AnsiLowerCase(s); }

// A keyword without the punctuation a word may carry ("Tomson,"): the
// memo highlights the word itself.
std::string Core(const std::string& word) {
  size_t a = 0, b = word.size();
  while (a < b && !isalnum(static_cast<unsigned char>(word[a]))) ++a;
  while (b > a && !isalnum(static_cast<unsigned char>(word[b - 1]))) --b;
  return word.substr(a, b - a);
}

// The date text of a hit line with '?' read as '0', as the arranging reads it.
std::string Year(const std::string& line) {
  std::string year = line.substr(0, 4);
  for (char& c : year)
    if (c == '?') c = '0';
  return year;
}

bool HasSourceTag(const std::string& line) {
  static const QRegularExpression tag(" \\[\\d+\\] $");
  return tag.match(QString::fromStdString(line)).hasMatch();
}

// Positions of word (case-blind) in line.
std::vector<size_t> Occurrences(const std::string& line, const std::string& word) {
  std::vector<size_t> at;
  const std::string l = Lower(line), w = Lower(word);
  for (size_t p = l.find(w); p != std::string::npos; p = l.find(w, p + 1)) at.push_back(p);
  return at;
}

class SearchWindowTest : public WindowTest {
protected:
  // The hit lines of the page after the legend and the " " line, and the
  // groups of baptism hits (each after an empty line).
  struct PageParts {
    std::vector<std::string> legend, other_hits;
    std::vector<std::vector<std::string>> groups;
  };
  PageParts Split(const std::vector<std::string>& lines) {
    PageParts parts;
    size_t i = 0;
    while (i < lines.size() && lines[i] != " ") parts.legend.push_back(lines[i++]);
    EXPECT_LT(i, lines.size()) << "no separator line";
    ++i;
    while (i < lines.size() && !lines[i].empty()) parts.other_hits.push_back(lines[i++]);
    for (; i < lines.size(); ++i) {
      if (lines[i].empty())
        parts.groups.emplace_back();
      else if (!parts.groups.empty())
        parts.groups.back().push_back(lines[i]);
    }
    return parts;
  }

  // Every occurrence of every keyword on the page is a red keyword run;
  // the first characters of each line (its date) are not.
  void ExpectRedKeywords(const std::vector<std::string>& keywords) {
    std::vector<std::string> words;
    for (const std::string& k : keywords) words.push_back(Core(k));
    int checked = 0;
    for (int p = 0; p < Page().GetParCount(); ++p) {
      const std::string line = Page().getParagraphs(p);
      for (const std::string& word : words)
        for (size_t at : Occurrences(line, word)) {
          // Whole words only count: the keyword list matches words.
          const bool before_ok = at == 0 || !isalpha(static_cast<unsigned char>(line[at - 1]));
          const bool after_ok =
              at + word.size() >= line.size() || !isalpha(static_cast<unsigned char>(line[at + word.size()]));
          if (!before_ok || !after_ok) continue;
          for (size_t k = 0; k < word.size(); ++k) {
            const memo::DynInfoRec s = CharState(Page(), p, static_cast<int32_t>(at + k));
            ASSERT_TRUE(s.flags & memo::kRunKeyword) << line << " @" << at + k;
            ASSERT_EQ(s.foreground, 255) << line;
            ASSERT_EQ(s.background, 16777215) << line;
            ASSERT_EQ(s.context, 1) << line;
          }
          ++checked;
        }
      if (line.size() > 4 && isdigit(static_cast<unsigned char>(line[0]))) {
        ASSERT_FALSE(CharState(Page(), p, 0).flags & memo::kRunKeyword) << line;
      }
    }
    EXPECT_GT(checked, 0);
  }

  // Renders the memo and checks that the first visible occurrence of word
  // is drawn red and the date of its line is not.
  void ExpectRedPixels(const std::string& word) {
    memo::TVellMemoControl& c = *window->vm0;
    Settle();
    const QImage img = c.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int lh = Page().LineHeight();
    const int cw = c.Fonts().MainFont().CharWidth('a');
    const int visible = img.height() / lh - 1;
    for (int p = Page().getTopLine(); p < Page().getTopLine() + visible && p < Page().GetParCount(); ++p) {
      const std::string line = Page().getParagraphs(p);
      const std::vector<size_t> at = Occurrences(line, word);
      if (at.empty() || !isdigit(static_cast<unsigned char>(line[0]))) continue;
      const int y = p * lh - Page().TopOrigin();
      const int x = Page().LeftMargin() + static_cast<int>(at[0]) * cw - Page().DisplayLeft();
      const QRect cells(x, y, static_cast<int>(word.size()) * cw, lh);
      EXPECT_GT(CountPixels(img, cells, IsRed), static_cast<int>(word.size()) * 3) << line;
      const QRect date(Page().LeftMargin(), y, 4 * cw, lh);
      EXPECT_EQ(CountPixels(img, date, IsRed), 0) << line;
      EXPECT_GT(CountPixels(img, date, [](QRgb v) { return qGray(v) < 100; }), 8) << line;
      return;
    }
    ADD_FAILURE() << "no visible line holds " << word;
  }
};

TEST_F(SearchWindowTest, ExactSurnameOverBaptismsMatchesTheReference) {
  const Reference ref = RunReference(SamplesDir(), "Smith");
  ASSERT_GT(ref.hits.size(), 20u) << "python3 reference did not run";

  SetBox(4, true);   // Witness: all three roles, rule of the whole rest
  SetBox(8, false);  // no marriages: only baptism files
  Type("Smith");
  PressSearch();

  EXPECT_EQ(window->Button1->text(), "Search");
  EXPECT_FALSE(window->Button3->isVisible());
  EXPECT_FALSE(prompts.hourglass);
  EXPECT_EQ(prompts.hourglass_on, 1);
  EXPECT_FALSE(window->Label2->text().isEmpty());
  EXPECT_TRUE(window->Label3->text().isEmpty());

  const PageParts parts = Split(PageLines());
  EXPECT_EQ(parts.legend, ref.legend);
  EXPECT_TRUE(parts.other_hits.empty());
  std::vector<std::string> shown;
  for (const auto& group : parts.groups) {
    EXPECT_FALSE(group.empty());
    // Each group is in date order (years never go back).
    for (size_t i = 1; i < group.size(); ++i)
      if (isdigit(static_cast<unsigned char>(group[i][0])) && isdigit(static_cast<unsigned char>(group[i - 1][0]))) {
        EXPECT_LE(Year(group[i - 1]), Year(group[i])) << group[i - 1] << "\n" << group[i];
      }
    shown.insert(shown.end(), group.begin(), group.end());
  }
  std::vector<std::string> expected = ref.hits;
  std::sort(shown.begin(), shown.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(shown, expected);

  const QRegularExpression status("^Search: (\\d+) / (\\d+) / (\\d+) in (\\d+) secs\\.$");
  const auto m = status.match(QString::fromStdString(Status()));
  ASSERT_TRUE(m.hasMatch()) << Status();
  EXPECT_EQ(m.captured(1).toLong(), ref.hits_count);
  EXPECT_EQ(m.captured(2).toLong(), ref.records);
  EXPECT_EQ(m.captured(3).toLong(), ref.lines);

  // The page is marked modified; the terms are its keywords, in red.
  EXPECT_TRUE(Page().Modified);
  EXPECT_EQ(window->PageMark(0), 1);
  ASSERT_EQ(Page().Keywords().Count(), 1);
  EXPECT_EQ(Page().Keywords().getKeyInfo(0),
            (memo::TKeywordInfo{0, 0, 1, memo::crDefault, 16777215, 255}));
  ExpectRedKeywords({"Smith"});
  ExpectRedPixels("Smith");
}

TEST_F(SearchWindowTest, MarriageHitsComeSortedBeforeTheBaptisms) {
  Type("Hunt");
  PressSearch();
  const PageParts parts = Split(PageLines());
  ASSERT_FALSE(parts.other_hits.empty());
  // Sorted case-blind, no duplicates, each from a file that is no baptism file.
  std::map<int, bool> baptism_slot;
  for (int k = 0; k < window->DataFiles().Count(); ++k)
    baptism_slot[k + 1] = window->DataFiles().File(k).name.find("_bap.txt") != std::string::npos;
  for (size_t i = 0; i < parts.other_hits.size(); ++i) {
    const std::string& hit = parts.other_hits[i];
    EXPECT_FALSE(Occurrences(hit, "hunt").empty()) << hit;
    const size_t open = hit.rfind(" [");
    ASSERT_NE(open, std::string::npos) << hit;
    EXPECT_FALSE(baptism_slot[std::stoi(hit.substr(open + 2))]) << hit;
    if (i > 0) {
      EXPECT_LT(Lower(parts.other_hits[i - 1]), Lower(hit));
    }
  }
  // Legend lines name the files of the hits, in file order.
  ASSERT_FALSE(parts.legend.empty());
  for (const std::string& title : parts.legend) EXPECT_EQ(title.rfind(" [", 0), 0u) << title;
  EXPECT_TRUE(std::is_sorted(parts.legend.begin(), parts.legend.end(), [](const std::string& a, const std::string& b) {
    return std::stoi(a.substr(2)) < std::stoi(b.substr(2));
  }));
  ExpectRedKeywords({"Hunt"});
}

TEST_F(SearchWindowTest, FuzzySearchShowsEverySoundAlikeInRed) {
  for (int n : {5, 6, 7}) SetBox(n, true);  // fuzzy under Father, Mother and Witness
  SetBox(4, true);
  Type("Thomson");
  PressSearch();
  std::vector<std::string> words;
  for (int i = 0; i < Page().Keywords().Count(); ++i) words.push_back(Page().Keywords().Strings(i));
  // The term and the spellings that sound like it.
  ASSERT_GE(words.size(), 2u);
  EXPECT_NE(std::find_if(words.begin(), words.end(), [](const std::string& w) { return Lower(Core(w)) == "tomson"; }),
            words.end());
  const PageParts parts = Split(PageLines());
  EXPECT_FALSE(parts.groups.empty());
  ExpectRedKeywords(words);
  ExpectRedPixels("Thomson");

  if (const char* shot = std::getenv("QV_WINDOW_SCREENSHOT")) {
    window->vm0->setFocus();
    Settle();
    EXPECT_TRUE(window->grab().save(QString::fromLocal8Bit(shot)));
  }
}

TEST_F(SearchWindowTest, PeriodAndSourceCodeBoxes) {
  SetBox(9, false);  // no "< 1700"
  SetBox(8, false);
  Type("Baker");
  PressSearch();
  for (const auto& line : PageLines())
    if (!line.empty() && isdigit(static_cast<unsigned char>(line[0]))) {
      EXPECT_GE(line.substr(0, 4), "1700") << line;
    }

  // Without source codes: no legend, no tags.
  QAction* codes = window->Action("Showsourcecodes1");
  codes->trigger();
  EXPECT_FALSE(codes->isChecked());
  EXPECT_FALSE(window->Action("Editline2")->isEnabled());
  EXPECT_TRUE(window->Action("Editline1")->isEnabled());
  PressSearch();
  const std::vector<std::string> lines = PageLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], " ");
  for (const auto& line : lines) EXPECT_FALSE(HasSourceTag(line)) << line;
  codes->trigger();
  EXPECT_TRUE(window->Action("Editline2")->isEnabled());
}

TEST_F(SearchWindowTest, ASelectionOfThreeToTwentyCharactersBecomesTheSearchText) {
  Page().SetText("1700 01 Jan Baker, John; Mary\r\nxx");
  Page().setSelStart(12);
  Page().setSelLength(5);  // "Baker"
  Type("Smith");  // Edit2Change drops the selection
  EXPECT_EQ(Page().getSelLength(), 0);
  Page().setSelStart(12);
  Page().setSelLength(5);
  prompts.answers = {app::TAnswer::kNo};  // the text typed on Main text may go
  PressSearch();
  EXPECT_EQ(window->Edit2->text(), "Baker");
  Page().setSelStart(0);
  Page().setSelLength(2);  // too short: the typed text stays
  PressSearch();
  EXPECT_EQ(window->Edit2->text(), "Baker");
}

// The Search button is the form's default button: Enter (or the keypad's
// Enter) in Filter and in the search panel's boxes starts the search, as a
// click does. Ctrl+Enter does not.
TEST_F(SearchWindowTest, EnterInTheSearchFieldsStartsTheSearch) {
  const struct {
    QWidget* field;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    const char* text;
    bool searches;
  } cases[] = {
      {window->Edit2, Qt::Key_Return, Qt::NoModifier, "Lewes", true},
      {window->Edit2, Qt::Key_Enter, Qt::KeypadModifier, "Smith", true},
      {Box(1), Qt::Key_Return, Qt::NoModifier, "Baker", true},
      {Box(12), Qt::Key_Enter, Qt::KeypadModifier, "Turner", true},
      {window->Edit2, Qt::Key_Return, Qt::ControlModifier, "Fry", false},
  };
  std::string last = "";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Type(c.text);
    c.field->setFocus();
    QTest::keyClick(c.field, c.key, c.modifiers);
    Settle();
    if (c.searches) last = c.text;
    EXPECT_EQ(window->Term1(), last);
    EXPECT_EQ(Status().substr(0, 8), "Search: ");
  }
}

TEST_F(SearchWindowTest, NoTickedFileGivesTheSeparatorOnly) {
  window->Action("Selectsourcefiles1")->trigger();  // shows the dialog (answered at once)
  form2->Button2->click();                           // Unselect all
  Type("Smith");
  PressSearch();
  EXPECT_EQ(PageLines(), std::vector<std::string>{" "});
  EXPECT_EQ(Status().substr(0, 14), "Search: 0 / 0 ");
}

TEST_F(SearchWindowTest, SearchWritesIntoTheFirstPageFromAnyPage) {
  memo::TVellMemoControl* other = window->AddTab("notes.txt");
  other->Memo().SetText("my own notes");
  other->Memo().Modified = false;
  window->SetMod(0);
  EXPECT_EQ(window->CurrentMemo(), other);
  Type("Smith");
  PressSearch();
  EXPECT_EQ(window->PageControl1->currentIndex(), 0);
  EXPECT_EQ(window->CurrentMemo(), window->vm0);
  EXPECT_EQ(other->Memo().GetText(), "my own notes");
  EXPECT_EQ(window->PageMark(1), 0);
  EXPECT_FALSE(Split(PageLines()).groups.empty());
}

}  // namespace
