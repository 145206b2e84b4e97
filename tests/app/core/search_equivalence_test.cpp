// The fast paths of the search (the whole-file sieve for exact terms, the
// per-word memo of phonetic verdicts) against plain line-by-line matching
// on a generated register set.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "app/core/arrange.h"
#include "app/core/first_page.h"
#include "app/core/line_matcher.h"
#include "app/core/word_index.h"
#include "app/core/search.h"
#include "allocation_counter.h"
#include "core_test_support.h"
#include "plain_search.h"
#include "platform/runtime/os_process.h"
#include "platform/runtime/strings.h"
#include "platform/runtime/sysutils.h"
#include "textutil/edit.h"
#include "textutil/fields.h"
#include "textutil/phonetic.h"
#include "textutil/scan.h"
#include "tools/register_generator.h"

namespace appcore {
namespace {

using appcore_test::PlainSearch;
using appcore_test::PlainWords;
using appcore_test::TempDir;
using appcore_test::TermsLeading;
using appcore_test::WordsAfterTerms;
using Lines = std::vector<std::string>;

// A new scratch folder holding a generated register set.
TempDir* GeneratedRegisters(std::uint64_t seed, int files, std::int64_t record_lines) {
  auto* dir = new TempDir;
  regtools::GeneratorOptions options;
  options.seed = seed;
  options.out_dir = dir->path();
  options.files = files;
  options.record_lines = record_lines;
  regtools::GenerateRegisters(options);
  return dir;
}

class SearchEquivalence : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = GeneratedRegisters(4242, 12, 30000);
    // A file with brackets, quotes and odd lines the generator does not make.
    appcore_test::WriteLines(*dir_ / "zz_bap.txt",
                             {"Odd lines - Baptisms", "1650 03 Mar Rich[ard] Ba[ker], Mary \"Jo; nes\"; Anne; W",
                              "1650 03 Mar John Baker,  Mary  Cole;  Anne  Baker; Will Baker",
                              "1650 03 Mar \"John Baker\", Mary Cole; Anne; Will", "?6?? ?? ??? John Baker, M; A; W",
                              "1650 03 Mar Bak", "1650 03 Mar  Baker", "16", "-1650 03 Mar John Baker",
                              // Words of 8 and 16 bytes and longer, cut from the index eight bytes at a time.
                              "1650 03 Mar Bartholo Fitzwilliamsons, Bakerbakerbakerbakerbaker Baker; A; Ba12345678",
                              // Long words between quotes, cut by the field routines.
                              "1650 03 Mar \"Bakerbakerbakerbakerbaker Fitzwilliamsons\", Mary; A; \"Wil liam\" Cole"});
    // Other files: brackets in and before the rest, a ']' alone, quotes,
    // and a last line without its line end.
    appcore_test::WriteBytes(*dir_ / "zz_marr.txt",
                             "Odd lines - Marriages\r\n"
                             "1650 03 Mar John Ba[ker], of here; Mary Cole, wid\r\n"
                             "1650 [03] Mar John Baker; Mary Cole\r\n"
                             "1650 03 Mar John Bak]er; Mary [Baker]\r\n"
                             "1650 03 Mar \"John Baker\"; Mary Co\"le\r\n"
                             "1650 03 Mar John Cole; Mary Becker\r\n"
                             "1650 03 Mar Wil[l]iam Bacre; Anne Smith wid\r\n"
                             "1651 04 Apr John Baker; Mary Baker");
    set_ = new DataFileSet;
    set_->MakeFileList(dir_->str(), "", nullptr);
  }
  static void TearDownTestSuite() {
    delete set_;
    delete dir_;
  }

  // The search as plain line-by-line matching.
  static SearchResult Plain(const SearchOptions& o) { return PlainSearch(*set_, o); }

  static void ExpectSame(const SearchOptions& o) { ExpectSameOver(*set_, o); }
  static void ExpectSameOver(const DataFileSet& set, const SearchOptions& o) {
    SCOPED_TRACE("text \"" + o.search_text + "\"");
    const SearchResult fast = RunSearch(set, o, nullptr);
    const SearchResult plain = PlainSearch(set, o);
    EXPECT_EQ(fast.baptism_hits, plain.baptism_hits);
    EXPECT_EQ(fast.marriage_hits, plain.marriage_hits);
    EXPECT_EQ(fast.hit_count, plain.hit_count);
    EXPECT_EQ(fast.record_count, plain.record_count);
    EXPECT_EQ(fast.line_count, plain.line_count);
    EXPECT_GT(TermsLeading(fast), 0u);
    EXPECT_EQ(WordsAfterTerms(fast), PlainWords(plain));
  }

  static SearchOptions Options(const std::string& text) {
    SearchOptions o;
    o.search_text = text;
    o.ticked.assign(static_cast<size_t>(set_->Count()), true);
    return o;
  }

  static TempDir* dir_;
  static DataFileSet* set_;
};

TempDir* SearchEquivalence::dir_ = nullptr;
DataFileSet* SearchEquivalence::set_ = nullptr;

TEST_F(SearchEquivalence, EveryCombinationOfBoxesGivesTheSameHits) {
  const Lines texts = {"Baker",      "smith",        " Baker",         "Bak?r",     "Baker.",
                       "Baker OR Cole", "Baker AND Cole", "Baker NOT Cole", "Jo* Ba*", "* Baker",
                       "Jo* *",      "Wil*",         "Baker|Cole OR Mary", "Ba\"ker", "Mary Baker",
                       "?",          "e",            "Jo* Ba* NOT Baker", "Ba[ker",  "ker]",
                       "Wil* Bak*"};
  uint64_t state = 99;
  auto bit = [&] { return ((state = state * 6364136223846793005ull + 1442695040888963407ull) >> 41) & 1; };
  int runs = 0;
  for (const std::string& text : texts) {
    for (int round = 0; round < 6; ++round) {
      SearchOptions o = Options(text);
      o.father = bit() || round == 0;
      o.mother = bit() || round == 0;
      o.children = bit() && bit();
      o.witness = bit() || round == 0;
      o.fuzzy_father = round > 1 && bit();
      o.fuzzy_mother = round > 1 && bit();
      o.fuzzy_witness = round > 1 && bit();
      o.marriages = round == 0 || bit() || bit();
      o.before_1700 = round < 2 || bit() || bit();
      o.from_1700 = round < 2 || bit() || bit();
      o.text_box = round == 5;
      o.fuzzy_text = round == 5 && bit();
      o.show_source_codes = bit();
      if (round == 1) o.ticked[3] = o.ticked[7] = false;
      ExpectSame(o);
      ++runs;
    }
  }
  EXPECT_EQ(runs, 126);
}

// The fuzzy match over whole rests looks only at words that hold letters
// able to give the key of term 1; lines where such a word is not a word of
// the match (it runs into the date, ends in codes the trim drops, is cut
// otherwise between quotes or loses brackets) are matched in full. Every
// kind of line end, terms whose rarest key letter has many sources, and
// the generated set besides.
TEST_F(SearchEquivalence, SoundSieveFindsWhatTheWholeRestMatchFinds) {
  TempDir dir;
  appcore_test::WriteBytes(dir / "odd_bap.txt",
                           "Odd - Baptisms\n"
                           "1650 03 Mar MBaker Cole; Anne; Will\n"     // the rest begins inside "MBaker"
                           "1650 03 MarBaker Cole; Anne; Will\r\n"    // and inside "MarBaker"
                           "1650 03 Mar John Ba\tker; Mary; Will\r"    // a tab inside a word
                           "1650 03 Mar John Cole; Mary; Will Baker\t\n"  // the trim drops the tab
                           "  1650 03 Mar John Brock Backer Baker; M; W\n"  // first match: Backer
                           "1650 03 Mar \"Ba ker\" Cole; \"Mary\"; W\n"  // quotes cut words their own way
                           "1650 03 Mar John Ba[ker]; Mary; W\n"
                           "1710 03 Mar Kix Xavier Ashe Thompson Yates Wright Eve; Oak; Jack\n"
                           "1650 03 Mar John BAKER; Mary; W\n"
                           "1650 03 Mar  Baker\n"
                           "1650 03 Mar B\n"
                           "?650 03 Mar Kicks Backer");  // no line end
  appcore_test::WriteBytes(dir / "odd_marr.txt",
                           "Odd - Marriages\r\n"
                           "1650 03 Mar John Ba[ker]; Mary Cole\r\n"
                           "1650 03 Mar John [Baker; Mary Cole\r\n"
                           "1650 03 Mar John Cole, wid; Mary Backer\r\n"
                           "1650 03 Mar \"John Ba\" ker; Mary\r\n"
                           "1650 03 Mar MBaker; Mary\r\n"
                           "1650 03 Mar [John] Baker; Mary Cole\r\n"      // brackets away from the word
                           "1650 03 Mar Brock [Jo]hn Backer; Mary [Ba]ker\r\n"
                           "1650 03 Mar Jack Oakes; Eve Yates\r\n");
  DataFileSet odd;
  odd.MakeFileList(dir.str(), "", nullptr);
  ASSERT_EQ(odd.Count(), 2);
  // Besides, keys whose letters a word's letters give out of their own
  // places (DG, PH, WH, KN, an initial CH, GH, SCH), two from one letter
  // (X), or in another order.
  const Lines texts = {"Baker", " Baker", "Baker.", "Backer", "Baker NOT Backer", "Kix", "Ashe", "Thompson",
                       "Yates", "Wright", "Eve", "Oak", "Xavier", "Jack", "Ba ker", "Kicks",
                       "Dodge", "Phillips", "Whyte", "Knight", "Charles", "Hughes", "Bridget", "Rebecca", "Schmidt",
                       "Dixon", "Jaxon"};
  for (const DataFileSet* set : {static_cast<const DataFileSet*>(&odd), static_cast<const DataFileSet*>(set_)}) {
    for (const std::string& text : texts) {
      for (int form = 0; form < 2; ++form) {
        SearchOptions o;
        o.search_text = text;
        o.ticked.assign(static_cast<size_t>(set->Count()), true);
        o.witness = true;
        o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = true;
        o.text_box = o.fuzzy_text = form == 1;
        ExpectSameOver(*set, o);
      }
    }
  }
  SearchOptions o;
  o.search_text = "Baker";
  o.ticked.assign(2, true);
  o.witness = o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = true;
  o.show_source_codes = false;
  const SearchResult found = RunSearch(odd, o, nullptr);
  EXPECT_EQ(found.baptism_hits,
            (Lines{"1650 03 Mar MBaker Cole; Anne; Will", "1650 03 Mar John Ba\tker; Mary; Will",
                   "1650 03 Mar John Cole; Mary; Will Baker", "1650 03 Mar John Brock Backer Baker; M; W",
                   "1650 03 Mar John Ba[ker]; Mary; W",
                   "1650 03 Mar John BAKER; Mary; W", "1650 03 Mar  Baker", "?650 03 Mar Kicks Backer"}));
  EXPECT_EQ(found.keywords,
            (Lines{"Baker", "Ba\tker;", "Backer", "Ba[ker];", "BAKER;", "Baker;", "Ba\" ker; Mary", "Backer;"}));
}

// A set loaded as the window loads it, every file's words and lines
// indexed, is searched through the index: the same hits, counts and
// keywords, in the same order, as line-by-line matching. Besides the odd
// lines above: sound-alike words coded in one, two and three bytes, more
// of them than are looked for one by one, and the generated set with every
// period and file kind.
TEST_F(SearchEquivalence, FilesIndexedAtLoadGiveTheLineByLineHits) {
  TempDir dir;
  appcore_test::WriteBytes(dir / "odd_bap.txt",
                           "Odd - Baptisms\n"
                           "1650 03 Mar MBaker Cole; Anne; Will\n"
                           "1650 03 MarBaker Cole; Anne; Will\r\n"
                           "1650 03 Mar John Ba\tker; Mary; Will\r"
                           "1650 03 Mar John Cole; Mary; Will Baker\t\n"
                           "  1650 03 Mar John Brock Backer Baker; M; W\n"
                           "1650 03 Mar \"Ba ker\" Cole; \"Mary\"; W\n"
                           "1650 03 Mar John Ba[ker]; Mary; W\n"
                           "1750 03 Mar John BAKER; Mary; W\n"
                           "1650 03 Mar B\n"
                           "?650 03 Mar Kicks Backer");
  appcore_test::WriteBytes(dir / "odd_marr.txt",
                           "Odd - Marriages\r\n"
                           "1650 03 Mar John Ba[ker]; Mary Cole\r\n"
                           "1650 03 Mar John Cole, wid; Mary Backer\r\n"
                           "1650 03 Mar \"John Ba\" ker; Mary\r\n"
                           "1650 03 Mar Brock [Jo]hn Backer; Mary [Ba]ker\r\n"
                           "1650 03 Mar John Bak]er; Mary Baker\r\n"
                           "1750 03 Mar John Baker; Mary Cole\r\n");
  // 40,000 words used once, then spellings used once (three-byte codes),
  // a few (two bytes) and often (one byte).
  Lines many = {"Many words - Baptisms"};
  for (int i = 0; i < 40000; i += 8) {
    std::string line = "1650 03 Mar ";
    for (int k = i; k < i + 8; ++k) line += " Wx" + std::to_string(k);
    many.push_back(line);
  }
  const Lines spellings = {"Baker", "Backer", "Bakker", "Bakar", "Becker", "Bacer", "Beaker", "Baeker", "Bakre",
                           "Backar", "Bekker", "Bycker"};
  for (size_t k = 0; k < spellings.size(); ++k)
    for (size_t use = 0; use < (k % 3 == 0 ? 1 : k % 3 == 1 ? 200 : 3000); ++use)
      many.push_back("1650 03 Mar " + std::string(use % 2 ? "John " : "Al ") + spellings[k] + " Cole; Mary; W" +
                     std::to_string(use % 300));
  appcore_test::WriteLines(dir / "many_bap.txt", many);
  for (const std::string& folder : {dir.str(), dir_->str()}) {
    DataFileSet set;
    set.MakeFileList(folder, "", nullptr);
    for (const DataFileEntry& entry : set.Files()) {
      ASSERT_TRUE(entry.data->Words().Usable());
      ASSERT_TRUE(entry.data->LinesBuilt());
    }
    for (const char* text : {"Baker", "Baker.", "Backer", "Baker NOT Backer", "Kicks", "Cole", "Bycker"}) {
      for (int form = 0; form < 4; ++form) {
        SearchOptions o;
        o.search_text = text;
        o.ticked.assign(static_cast<size_t>(set.Count()), true);
        o.witness = form != 2;
        o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = true;
        o.text_box = o.fuzzy_text = form == 1;
        o.before_1700 = form != 3;
        o.marriages = form != 2;
        o.show_source_codes = form == 0;
        if (form == 3) o.ticked[0] = false;
        ExpectSameOver(set, o);
      }
    }
  }
}

// Rule 1 and rule 3 written out with the text utility routines alone.
TEST_F(SearchEquivalence, ExactAndAllFuzzySearchesMatchTheirDefinitions) {
  SearchOptions exact = Options("Baker");
  exact.witness = true;
  SearchOptions fuzzy = exact;
  fuzzy.fuzzy_father = fuzzy.fuzzy_mother = fuzzy.fuzzy_witness = true;
  const std::string key1 = textutil::RTrim(textutil::MetaPhone("Baker", 8), ' ');
  Lines exact_hits, fuzzy_hits;
  for (int slot = 0; slot < set_->Count(); ++slot) {
    const DataFileEntry& entry = set_->File(slot);
    if (entry.kind != FileKind::kBaptisms) continue;
    for (int i = 1; i < entry.data->LineCount(); ++i) {
      const std::string line = rtl::Trim(entry.data->Line(i));
      if (line.empty() || line[0] == '-' || !((line[0] >= '0' && line[0] <= '9') || line[0] == '?')) continue;
      const std::string rest = rtl::Copy(line, 13, static_cast<int>(line.size()));
      if (textutil::ScanF(rest, "Baker", -2) != 0) exact_hits.push_back(line);
      for (int pos = 2; pos != 0;) {
        const std::string word = textutil::Parse(rest, " ", pos);
        if (word.empty()) continue;
        const std::string key = textutil::RTrim(textutil::MetaPhone(word, 8), ' ');
        if (textutil::ScanF(key, key1, -1) != 0) {
          fuzzy_hits.push_back(line);
          break;
        }
      }
    }
  }
  ASSERT_GT(exact_hits.size(), 300u);
  ASSERT_GT(fuzzy_hits.size(), exact_hits.size());
  exact.show_source_codes = fuzzy.show_source_codes = false;
  EXPECT_EQ(RunSearch(*set_, exact, nullptr).baptism_hits, exact_hits);
  EXPECT_EQ(RunSearch(*set_, fuzzy, nullptr).baptism_hits, fuzzy_hits);
}


// Files of many blocks whose lines end in CR LF, LF, a lone CR or LF CR,
// with blanks before years, brackets and quotes anywhere and names across
// brackets, some mapped and one read: each search, on a set whose line
// index nothing has built yet, gives what line-by-line matching gives.
TEST_F(SearchEquivalence, OddLineEndsAndMarksAcrossBlocksGiveTheLineByLineHits) {
  TempDir dir;
  // The baptisms large enough to be mapped: the odd text over and over, each
  // time at another offset modulo the survey's window.
  const std::string odd = appcore_test::OddRegisterText(5, 40000);
  std::string mapped = odd;
  while (mapped.size() < ByteBlock::kMapFrom) mapped += "\r\n" + odd;
  appcore_test::WriteBytes(dir / "odd_bap.txt", mapped);
  appcore_test::WriteBytes(dir / "odd_marr.txt", appcore_test::OddRegisterText(6, 20000));
  appcore_test::WriteBytes(dir / "small_bap.txt", appcore_test::OddRegisterText(7, 300));
  struct Case {
    std::string text;
    bool fuzzy, witness, text_box, before_1700;
  };
  for (const Case& c : std::vector<Case>{{"Baker", false, true, false, true},
                                         {"bak?r", false, false, false, true},
                                         {"Baker", true, true, false, true},
                                         {"Baker", false, false, true, true},
                                         {"Baker", true, false, true, true},
                                         {"Baker", false, true, false, false}}) {
    DataFileSet set;
    set.MakeFileList(dir.str(), "", nullptr);
    ASSERT_EQ(set.Count(), 3);
    for (const DataFileEntry& entry : set.Files()) ASSERT_FALSE(entry.data->LinesBuilt());
    SearchOptions o;
    o.search_text = c.text;
    o.ticked.assign(3, true);
    o.witness = c.witness;
    o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = c.fuzzy;
    o.text_box = c.text_box;
    o.fuzzy_text = c.fuzzy && c.text_box;
    o.before_1700 = c.before_1700;
    SCOPED_TRACE(testing::Message() << c.fuzzy << c.witness << c.text_box << c.before_1700);
    RunSearch(set, o, nullptr);
    // A search over every period finds its lines and counts without the
    // line index, unless it matches every word of a rest from a word index.
    if (c.before_1700 && !(c.fuzzy && c.text_box)) {
      for (const DataFileEntry& entry : set.Files()) EXPECT_FALSE(entry.data->LinesBuilt()) << entry.name;
    }
    ExpectSameOver(set, o);
    EXPECT_GT(PlainSearch(set, o).hit_count, 5000);
  }
}

// Other files' exact rule is decided from the first place the term stands
// in a line: the term in the husband's part, his details, the wife's part
// or after it, across a separator, at the date's end, in a widow's line,
// with a ']' or quotes (matched in full), under each role box; read with
// the term's anchors and without, against line-by-line matching.
TEST_F(SearchEquivalence, OtherFilesExactRuleFromTheFirstPlaceGivesTheLineByLineHits) {
  const Lines lines = {"John Baker, baker; Mary Cole, spinster", "John Cole, baker; Mary Baker, spinster",
                       "John Cole, baker; Mary Cole, baker", "John Cole, baker; Mary Cole; Anne Baker",
                       "John Cole baker wid; Mary Cole", "John Cole, Baker wid", "Baker; Mary", ";Baker",
                       "John Cole, x;", "John Cole; Mary Bak", "John Bak;er; Mary Baker,",
                       "John Cole, of Baker; Mary, Baker", "John Cole, bak]er; Mary Baker", "John Cole; Mary] Baker", "John Bak]er; Mary Cole",
                       "John Cole, Baker; Mary Bak]er",
                       "John \"Cole, Baker\"; Mary", "John Cole; \"Mary, x\" Baker", "Bakerwid; Mary",
                       "John Cole;; Baker", "John Cole, ba,ker; Mary; Baker", "BAKER", "x Baker", "Baker,",
                       "John Cole, Baker, baker; bAKER", "John Cole wide; baker", "John widow; Baker",
                       "John Cole, baker; Mary Cole, baker; Anne Baker, w"};
  std::string text = "Crafted - Marriages\r\n";
  for (const std::string& line : lines) text += "1650 03 Mar " + line + "\r\n";
  // The term at the date's end, across its end, and in it only.
  text += "1650 03 MaBaker, x; Baker\r\n1650 03 MarBaker, x; y\r\n1650 Baker  John; Mary Baker\r\n";
  text += "1650 Baker  John; Mary\r\n";
  TempDir dir;
  appcore_test::WriteBytes(dir / "crafted_marr.txt", text);
  appcore_test::WriteBytes(dir / "odd_marr.txt", appcore_test::OddRegisterText(8, 5000));
  DataFileSet set;
  set.MakeFileList(dir.str(), "", nullptr);
  ASSERT_EQ(set.Count(), 2);
  int hits = 0;
  for (const std::string term : {"Baker", "bak?r", "ker; M", "Baker, b", "wid", "r;", "e"}) {
    for (const auto& [father, mother] : {std::pair{true, true}, {true, false}, {false, true}}) {
      SearchOptions o;
      o.search_text = term;
      o.ticked.assign(2, true);
      o.father = father;
      o.mother = mother;
      SCOPED_TRACE(testing::Message() << term << " father " << father << " mother " << mother);
      ExpectSameOver(set, o);
      const SearchResult plain = PlainSearch(set, o);
      DataFileSet loaded;
      const SearchResult read = LoadAndSearch(loaded, dir.str(), nullptr, o, nullptr);
      EXPECT_EQ(read.marriage_hits, plain.marriage_hits);
      EXPECT_EQ(read.hit_count, plain.hit_count);
      hits += static_cast<int>(plain.hit_count);
    }
  }
  EXPECT_GT(hits, 2000);
}

// Once the words a search meets are known, matching a line allocates
// nothing, whether it hits or not: fields and words are cut as views, the
// rest without brackets goes to the matcher's own buffers, and the hit line
// itself is made by the search only for a hit. Every line of the set is
// matched twice; the second pass is counted and gives the first's verdicts.
TEST_F(SearchEquivalence, MatchingALineAllocatesNothingOnceItsWordsAreKnown) {
  struct Case {
    std::string text;
    bool father, fuzzy, witness, children, text_box;
  };
  const std::vector<Case> cases = {
      {"Baker", true, false, true, false, false},   {"Baker", true, false, false, false, false},
      {"Baker", false, false, true, false, false},  {"Baker", true, true, true, true, false},
      {"Baker", true, true, false, false, false},   {"Baker OR Cole", true, false, false, false, false},
      {"Baker NOT Cole", true, false, true, false, false}, {"Baker AND Cole", true, false, true, false, false},
      {"Jo* Ba*", true, false, true, false, false}, {"* Baker", true, false, false, false, false},
      {"Wil*", true, false, true, false, false},    {"Mary", true, false, false, false, true},
      {"Mary", true, true, false, false, true},     {" Clark", true, true, true, false, false},
      {"Bakerbakerbakerbaker OR Fitzwilliamsons", true, false, false, false, false},
      {"Bakerbakerbakerbaker OR Fitzwilliamsons", true, false, true, false, false},
  };
  struct Rest {
    FileKind kind;
    const DataFile* file;
    int line;
    std::string_view rest;
  };
  std::vector<Rest> rests;
  for (const DataFileEntry& entry : set_->Files())
    for (int i = 1; i < std::min(entry.data->LineCount(), 2500); ++i) {
      const std::string_view trimmed = TrimLine(entry.data->Line(i));
      if (IsRecordLine(trimmed)) rests.push_back({entry.kind, entry.data.get(), i, RestOf(trimmed)});
    }
  int64_t missed_candidates = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("text \"" + c.text + "\" father " + std::to_string(c.father) + " fuzzy " + std::to_string(c.fuzzy));
    SearchOptions o = Options(c.text);
    o.father = c.father;
    o.witness = c.witness;
    o.children = c.children;
    o.fuzzy_father = o.fuzzy_mother = o.fuzzy_text = c.fuzzy;
    o.fuzzy_witness = c.fuzzy && c.witness;
    o.text_box = c.text_box;
    const SearchTerms terms = ParseSearchText(o.search_text);
    LineMatcher matcher(terms, ReadBoxes(o, terms));
    // As the search matches: through the file's word index where it can.
    std::vector<uint8_t> known;
    const DataFile* known_for = nullptr;
    std::string keyword;
    auto match = [&](const Rest& r) {
      keyword.clear();
      const WordIndex& index = r.file->Words();
      if (matcher.WholeRestFuzzy(r.kind) && index.Covers(r.line) &&
          (r.kind == FileKind::kBaptisms || !(r.file->Flags(r.line) & DataFile::kHasBracket))) {
        if (known_for != r.file) {
          known_for = r.file;
          known.assign(index.DistinctWords(), LineMatcher::kUnknownWord);
        }
        return matcher.MatchIndexedWords(index, r.line, known, &keyword);
      }
      return matcher.Match(r.kind, r.rest, &keyword);
    };
    std::vector<char> first(rests.size());
    for (size_t i = 0; i < rests.size(); ++i) first[i] = match(rests[i]);
    known.reserve(1 << 16);  // the second pass takes a fresh verdict list per file
    int64_t hits = 0, differ = 0;
    const int64_t allocations = appcore_test::AllocationsIn([&] {
      for (size_t i = 0; i < rests.size(); ++i) {
        const bool hit = match(rests[i]);
        hits += hit;
        differ += hit != static_cast<bool>(first[i]);
      }
    });
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(differ, 0);
    EXPECT_LT(hits, static_cast<int64_t>(rests.size()));
    // Lines that hold the term and still do not hit: the sieve's candidates
    // that the rules turn down.
    for (size_t i = 0; i < rests.size(); ++i)
      missed_candidates += !first[i] && textutil::ScanF(rests[i].rest, terms.term1, -1) != 0;
  }
  EXPECT_GT(missed_candidates, 1000);
}

// The word index of every file against the words the fuzzy match cuts from
// the text itself; a file with more distinct words than two-byte ids hold
// keeps no index and is still searched alike.
TEST_F(SearchEquivalence, TheWordIndexHoldsTheWordsTheFuzzyMatchCuts) {
  int covered = 0, left_out = 0;
  for (const DataFileEntry& entry : set_->Files()) {
    const WordIndex& index = entry.data->Words();
    ASSERT_TRUE(index.Usable());
    for (int i = 0; i < entry.data->LineCount(); ++i) {
      const std::string_view trimmed = TrimLine(entry.data->Line(i));
      const bool record = i > 0 && IsRecordLine(trimmed);
      const std::string_view rest = RestOf(trimmed);
      if (!index.Covers(i)) {
        EXPECT_TRUE(!record || rest.find('"') != std::string_view::npos) << trimmed;
        left_out += record;
        continue;
      }
      ASSERT_TRUE(record) << trimmed;
      std::vector<std::string_view> words;
      for (const uint16_t id : index.Words(i)) words.push_back(index.Word(id));
      EXPECT_EQ(words, WordsOf(rest, 2)) << trimmed;
      ++covered;
    }
  }
  EXPECT_GT(covered, 29000);
  EXPECT_GE(left_out, 2);  // the quoted lines of the odd file

  TempDir many;
  Lines lines = {"Many words - Baptisms"};
  for (int i = 0; i < 70000; i += 7) {
    std::string line = "1650 03 Mar ";
    for (int k = i; k < i + 7; ++k) line += " Baker" + std::to_string(k);
    lines.push_back(line);
  }
  appcore_test::WriteLines(many / "many_bap.txt", lines);
  DataFileSet set;
  set.MakeFileList(many.str(), "", nullptr);
  ASSERT_EQ(set.Count(), 1);
  EXPECT_FALSE(set.File(0).data->Words().Usable());
  SearchOptions o;
  o.search_text = "Baker";
  o.ticked = {true};
  o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = true;
  const SearchResult r = RunSearch(set, o, nullptr);
  EXPECT_EQ(r.hit_count, 10000);
  EXPECT_EQ(r.keywords.size(), 10001u);
}

// The search on one thread and on several: every list, count and page the
// same, byte for byte, over files large enough to be cut into blocks; a
// cancelled parallel search keeps a prefix of the one-thread result and
// shows the searching line alone.
class SearchThreads : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = GeneratedRegisters(77, 5, 240000);
    set_ = new DataFileSet;
    set_->MakeFileList(dir_->str(), "", nullptr);
  }
  static void TearDownTestSuite() {
    delete set_;
    delete dir_;
  }
  static SearchOptions Options(const std::string& text, int threads) {
    SearchOptions o;
    o.search_text = text;
    o.ticked.assign(static_cast<size_t>(set_->Count()), true);
    o.threads = threads;
    return o;
  }
  static TempDir* dir_;
  static DataFileSet* set_;
};

TempDir* SearchThreads::dir_ = nullptr;
DataFileSet* SearchThreads::set_ = nullptr;

TEST_F(SearchThreads, OneThreadAndSeveralGiveTheSameResult) {
  int largest = 0;
  for (const DataFileEntry& e : set_->Files()) largest = std::max(largest, e.data->LineCount());
  ASSERT_GT(largest, 100000);  // several blocks in one file
  struct Case {
    std::string text;
    bool fuzzy, witness, text_box, marriages;
  };
  const std::vector<Case> cases = {
      {"Baker", false, true, false, true},   {"Baker", true, true, false, true},
      {"smith OR Cole", false, true, false, true}, {"Jo* Ba*", false, true, false, true},
      {"Baker NOT Backer", true, false, false, true}, {"Mary", false, false, true, false},
      {" Clark", true, true, false, true},    {"zzzz", false, true, false, true},
  };
  int merged_apart = 0;  // cases whose whole result and parts were merged differently
  for (const Case& c : cases) {
    SCOPED_TRACE("text \"" + c.text + "\"");
    auto options = [&](int threads) {
      SearchOptions o = Options(c.text, threads);
      o.witness = c.witness;
      o.children = c.fuzzy;
      o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = c.fuzzy;
      o.text_box = c.text_box;
      o.marriages = c.marriages;
      return o;
    };
    const SearchResult one = RunSearch(*set_, options(1), nullptr);
    // Each file searched alone gives its part of the merged lists, in file
    // order (a large merge moves the baptism hits on a thread of its own).
    std::vector<std::string> by_file;
    size_t largest_part = 0;
    for (int slot = 0; slot < set_->Count(); ++slot) {
      SearchOptions alone = options(1);
      alone.ticked.assign(alone.ticked.size(), false);
      alone.ticked[static_cast<size_t>(slot)] = true;
      const SearchResult part = RunSearch(*set_, alone, nullptr);
      by_file.insert(by_file.end(), part.baptism_hits.begin(), part.baptism_hits.end());
      largest_part = std::max(largest_part, part.baptism_hits.size());
    }
    EXPECT_EQ(by_file, one.baptism_hits);
    // 16384 hits and more move on the merge's own thread, fewer on the
    // searching thread: the parts were merged the other way.
    if (one.baptism_hits.size() >= 16384 && largest_part < 16384) ++merged_apart;
    // Threads 0: the files searched as they are read, on every core.
    for (int threads : {2, 3, 8, 0}) {
      DataFileSet loaded;
      const SearchResult many = threads > 0 ? RunSearch(*set_, options(threads), nullptr)
                                            : LoadAndSearch(loaded, dir_->str(), nullptr, options(0), nullptr);
      if (threads == 0) {
        EXPECT_EQ(loaded.SourceList(), set_->SourceList());
        // Again over the same set: the files kept are searched after the load.
        const SearchResult again = LoadAndSearch(loaded, dir_->str(), nullptr, options(0), nullptr);
        EXPECT_EQ(again.baptism_hits, one.baptism_hits);
        EXPECT_EQ(again.marriage_hits, one.marriage_hits);
        EXPECT_EQ(again.legend, one.legend);
      }
      EXPECT_EQ(many.baptism_hits, one.baptism_hits);
      EXPECT_EQ(many.marriage_hits, one.marriage_hits);
      EXPECT_EQ(many.keywords, one.keywords);
      EXPECT_EQ(many.legend, one.legend);
      EXPECT_EQ(std::tie(many.hit_count, many.record_count, many.line_count, many.key_length),
                std::tie(one.hit_count, one.record_count, one.line_count, one.key_length));
      EXPECT_EQ(many.searching_line, one.searching_line);
      EXPECT_FALSE(many.cancelled);
      // The window's page takes the lines over instead of copying them.
      SearchResult taken = many;
      ArrangeOutcome arranged = Arrange(many.baptism_hits, many.key_length, {});
      EXPECT_EQ(TakeFirstPageLines(taken, arranged, true),
                FirstPageLines(one, Arrange(one.baptism_hits, one.key_length, {}), true));
    }
  }
  EXPECT_GE(merged_apart, 2);
}

// On one thread the baptism hit lines made as found go to one list: the
// result whether the blocks were searched in file order (nobody watching:
// each file as it is read) or not (watched: each file's first block as it
// is read, the rest after), read into a new set or searched again, and a
// prefix of it when cancelled.
TEST_F(SearchThreads, OnOneThreadHitLinesMadeAsFoundComeInFileOrderWhateverOrderTheBlocksTook) {
  const std::vector<int> cores = rtl::os::CoresOfThisThread();
  ASSERT_FALSE(cores.empty());
  struct Unpin {
    const std::vector<int>& cores;
    ~Unpin() { rtl::os::KeepThisThreadOn(cores); }
  } unpin{cores};
  for (const std::string text : {"Baker", "Jo* Ba*"}) {
    SearchOptions o = Options(text, 1);
    o.make_lines_from = 0;
    rtl::os::KeepThisThreadOn(cores);
    const SearchResult whole = RunSearch(*set_, Options(text, 3), nullptr);
    ASSERT_GT(whole.baptism_hits.size(), 1000u);
    // One core: the files are read on this thread too, in file order.
    ASSERT_TRUE(rtl::os::KeepThisThreadOn({cores[0]}));
    for (const int cancel_at : {0, -1, 4, 9, 20}) {
      SCOPED_TRACE(text + ", cancelled at call " + std::to_string(cancel_at));
      appcore_test::SteppingClock clock(20);
      rtl::ClockScope scope(clock);
      int calls = 0;
      const ProgressFn progress =
          cancel_at == 0 ? ProgressFn() : [&](const SearchProgress&) { return ++calls != cancel_at; };
      DataFileSet loaded;
      const SearchResult r = LoadAndSearch(loaded, dir_->str(), nullptr, o, progress);
      const SearchResult again = RunSearch(loaded, o, progress);
      for (const SearchResult* got : {&r, &again}) {
        if (cancel_at > 0 && got->cancelled) {
          ASSERT_LE(got->baptism_hits.size(), whole.baptism_hits.size());
          EXPECT_TRUE(std::equal(got->baptism_hits.begin(), got->baptism_hits.end(), whole.baptism_hits.begin()));
          continue;
        }
        EXPECT_FALSE(got->cancelled);
        EXPECT_EQ(got->baptism_hits, whole.baptism_hits);
        EXPECT_EQ(got->marriage_hits, whole.marriage_hits);
        EXPECT_EQ(std::tie(got->hit_count, got->record_count, got->line_count),
                  std::tie(whole.hit_count, whole.record_count, whole.line_count));
      }
      if (cancel_at > 0) { EXPECT_TRUE(r.cancelled); }
    }
  }
}

TEST_F(SearchThreads, ACancelledParallelSearchKeepsAPrefixAndShowsTheSearchingLine) {
  SearchOptions o = Options("Baker", 1);
  o.fuzzy_father = o.fuzzy_mother = o.fuzzy_witness = true;
  const SearchResult whole = RunSearch(*set_, o, nullptr);
  o.threads = 4;
  // The calling thread reads the first block, chunk by chunk, asking the
  // callback after each: calls 1 and 2 come while it is read.
  ASSERT_GT(set_->File(0).data->LineCount(), 2 * 8192);
  for (int cancel_at : {1, 2}) {
    SCOPED_TRACE("cancelled at call " + std::to_string(cancel_at));
    appcore_test::SteppingClock clock(20);
    rtl::ClockScope scope(clock);
    int calls = 0;
    const SearchResult r = RunSearch(*set_, o, [&](const SearchProgress&) { return ++calls < cancel_at; });
    ASSERT_TRUE(r.cancelled);
    EXPECT_EQ(calls, cancel_at);
    EXPECT_LT(r.line_count, whole.line_count);
    ASSERT_LE(r.baptism_hits.size(), whole.baptism_hits.size());
    EXPECT_TRUE(std::equal(r.baptism_hits.begin(), r.baptism_hits.end(), whole.baptism_hits.begin()));
    ASSERT_LE(r.keywords.size(), whole.keywords.size());
    EXPECT_TRUE(std::equal(r.keywords.begin(), r.keywords.end(), whole.keywords.begin()));
    EXPECT_EQ(r.searching_line.rfind("Searching: ", 0), 0u);
    EXPECT_EQ(FirstPageLines(r, ArrangeOutcome{}, true), (Lines{r.searching_line}));
  }
}

TEST_F(SearchThreads, ASearchOfFilesAsTheyAreReadCancelsToAPrefixWithEveryFileRead) {
  SearchOptions o = Options("Baker", 1);
  o.marriages = false;
  const SearchResult whole = RunSearch(*set_, o, nullptr);
  // The calling thread reads and searches files too, and the blocks after
  // each file's first wait for it: the first call comes while it searches.
  for (int cancel_at : {1, 3}) {
    SCOPED_TRACE("cancelled at call " + std::to_string(cancel_at));
    appcore_test::SteppingClock clock(20);
    rtl::ClockScope scope(clock);
    int calls = 0;
    DataFileSet loaded;
    const SearchResult r =
        LoadAndSearch(loaded, dir_->str(), nullptr, o, [&](const SearchProgress&) { return ++calls < cancel_at; });
    ASSERT_TRUE(r.cancelled);
    EXPECT_EQ(calls, cancel_at);
    EXPECT_EQ(loaded.SourceList(), set_->SourceList());
    EXPECT_LT(r.line_count, whole.line_count);
    ASSERT_LE(r.baptism_hits.size(), whole.baptism_hits.size());
    EXPECT_TRUE(std::equal(r.baptism_hits.begin(), r.baptism_hits.end(), whole.baptism_hits.begin()));
    EXPECT_EQ(r.searching_line.rfind("Searching: ", 0), 0u);
    EXPECT_EQ(FirstPageLines(r, ArrangeOutcome{}, true), (Lines{r.searching_line}));
  }
}

}  // namespace
}  // namespace appcore
