#include "textutil/phonetic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/textutil/python_pipe.h"
#include "tests/textutil/textutil_fixture.h"

namespace textutil {
namespace {

using MetaPhoneTest = TextutilTest;
using SimilarTest = TextutilTest;
using StrDistTest = TextutilTest;

std::string Key(const std::string& letters) { return letters + std::string(8 - letters.size(), ' '); }

TEST_F(MetaPhoneTest, ExamplesOfTheRules) {
  EXPECT_EQ(MetaPhone("A", 8), "");
  EXPECT_EQ(MetaPhone("1", 8), "");
  EXPECT_EQ(MetaPhone("X1", 8), "");
  EXPECT_EQ(MetaPhone("ab", 8), Key("A"));
  EXPECT_EQ(MetaPhone("JACOB", 8), Key("JK"));
  EXPECT_EQ(MetaPhone("WHITE", 8), Key("WT"));
  EXPECT_EQ(MetaPhone("KNIGHT", 8), Key("NT"));
  EXPECT_EQ(MetaPhone("PHILLIPS", 8), Key("FLPS"));
  EXPECT_EQ(MetaPhone("XAVIER", 8), Key("SFR"));
  EXPECT_EQ(MetaPhone("YATES", 8), Key("ITS"));
  EXPECT_EQ(MetaPhone("CHURCH", 8), Key("KRX"));
  EXPECT_EQ(MetaPhone("SMITH", 8), Key("SMT"));
  EXPECT_EQ(MetaPhone("SMYTHE", 8), Key("SMT"));
  EXPECT_EQ(MetaPhone("GEORGE", 8), Key("JRJ"));
  EXPECT_EQ(MetaPhone("GREEN", 8), Key("KRN"));
  EXPECT_EQ(MetaPhone("JE", 8), Key(""));  // every letter silent: 8 blanks
  // Case and non-letters do not matter.
  EXPECT_EQ(MetaPhone("o'Smith-", 8), MetaPhone("OSMITH", 8));
}

TEST_F(MetaPhoneTest, LetterLimit) {
  EXPECT_EQ(MetaPhone("BLMNRFLX", 9), "BLMNRFLK");  // the X's S is the ninth letter
  EXPECT_EQ(MetaPhone("BLMNRFLX", 8), "");
  EXPECT_EQ(MetaPhone("SMITH", 3), Key("SMT"));
  EXPECT_EQ(MetaPhone("SMITH", 2), "");
  EXPECT_EQ(MetaPhone("JE", 0), Key(""));
  // Reading stops after eight letters: longer names keep eight.
  EXPECT_EQ(MetaPhone("Brackenbury Fitzwilliam", 8), "BRKNBRFT");
}

TEST_F(MetaPhoneTest, AccentedLettersAreNotLetters) {
  EXPECT_EQ(MetaPhone("Jos\xE9", 8), MetaPhone("Jos", 8));
  EXPECT_EQ(MetaPhone("\xC9mile", 8), Key("ML"));
}

// Spelling variants a genealogist expects to find together, with the key
// they share.
struct Group {
  const char* key;
  std::vector<std::string> names;
};

const std::vector<Group>& VariantGroups() {
  static const std::vector<Group> groups = {
      {"SMT", {"Smith", "Smyth", "Smythe", "Smithe"}},
      {"FLPS", {"Phillips", "Philips", "Phillipps", "Filips", "Phelps"}},
      {"KLRK", {"Clark", "Clarke", "Clerk", "Clerke"}},
      {"KR", {"Gray", "Grey"}},
      {"TFS", {"Davies", "Davis", "Davys"}},
      {"RT", {"Wright", "Right", "Rite"}},
      {"NT", {"Knight", "Night", "Knott", "Nott"}},
      {"KRTR", {"Carter", "Karter"}},
      {"BKR", {"Baker", "Backer"}},
      {"TLR", {"Taylor", "Tailor", "Tayler", "Taylour"}},
      {"JKSN", {"Jackson", "Jaxon", "Jakson"}},
      {"STFNS", {"Stephens", "Stevens", "Steevens"}},
      {"HL", {"Hall", "Haul", "Hale"}},
      {"ALN", {"Allen", "Allan", "Alleyn", "Allin"}},
      {"BRN", {"Brown", "Browne", "Broun"}},
      {"KK", {"Cook", "Cooke", "Coke"}},
      {"MTS", {"Mathews", "Matthews", "Mathewss"}},
      {"JBS", {"Gibbs", "Gibbes", "Gibs"}},
      {"PRS", {"Pearce", "Pierce", "Peirce", "Pearse"}},
      {"TMS", {"Thomas", "Tomas"}},
      {"JNS", {"Jones", "Joanes"}},
      {"EFNS", {"Evans", "Evens"}},
      {"RBNSN", {"Robinson", "Robynson"}},
      {"TMPSN", {"Thompson", "Tompson"}},
      {"WTKR", {"Whitaker", "Whittaker", "Whiteacre"}},
      {"KNNM", {"Cunningham", "Conyngham"}},
      {"FKS", {"Fox", "Foxe"}},
      {"HJS", {"Hodges", "Hodgis"}},
      {"KTRN", {"Catherine", "Katherine", "Kathryn", "Catharine"}},
      {"SNTRS", {"Saunders", "Sanders"}},
      {"MR", {"Moore", "More", "Moor"}},
      {"FLR", {"Fuller", "Fowler"}},
      {"WTS", {"Watts", "Wats", "Whatts"}},
      {"WT", {"Wood", "Woode", "White", "Whyte"}},
      {"AXL", {"Ashley", "Ashly"}},
      {"ELS", {"Ellis", "Elis"}},
      {"ETWRTS", {"Edwards", "Edwardes"}},
      {"FN", {"Vaughan", "Vaughn"}},
      {"HXNSN", {"Hutchinson", "Hutchenson"}},
      {"KPMN", {"Chapman", "Chapmen"}},
      {"NLS", {"Knowles", "Nowles"}},
      {"FLPT", {"Philpot", "Filpot"}},
      {"RKL", {"Wrigley", "Rigley"}},
  };
  return groups;
}

TEST_F(MetaPhoneTest, SpellingVariantsShareTheirKey) {
  for (const Group& g : VariantGroups())
    for (const std::string& name : g.names) EXPECT_EQ(MetaPhone(name, 8), Key(g.key)) << name;
}

TEST_F(MetaPhoneTest, VariantsTheRulesKeepApart) {
  // Pinned so that a change in what a search finds shows up here.
  EXPECT_EQ(MetaPhone("Johnson", 8), Key("JHNSN"));
  EXPECT_EQ(MetaPhone("Jonson", 8), Key("JNSN"));
  EXPECT_EQ(MetaPhone("Shepherd", 8), Key("XFRT"));
  EXPECT_EQ(MetaPhone("Sheppard", 8), Key("XPRT"));
  EXPECT_EQ(MetaPhone("King", 8), Key("KNK"));
  EXPECT_EQ(MetaPhone("Kinge", 8), Key("KNJ"));
  EXPECT_EQ(MetaPhone("Nicholls", 8), Key("NXLS"));
  EXPECT_EQ(MetaPhone("Nicolls", 8), Key("NKLS"));
  EXPECT_EQ(MetaPhone("Schofield", 8), Key("SXFLT"));
  EXPECT_EQ(MetaPhone("Scofield", 8), Key("SKFLT"));
  EXPECT_EQ(MetaPhone("Hughes", 8), Key("HS"));
  EXPECT_EQ(MetaPhone("Hewes", 8), Key("HWS"));
  EXPECT_EQ(MetaPhone("Mathewes", 8), Key("MTWS"));  // a W before a vowel is heard
}

// Random names, heavy in the letters the rules look at, against the Python
// reference: the key for 8 letters and the number of letters counted.
TEST_F(MetaPhoneTest, AgreesWithPythonReference) {
  std::vector<std::string> names;
  for (const Group& g : VariantGroups()) names.insert(names.end(), g.names.begin(), g.names.end());
  for (const char* n : {"Blennerhassett", "Featherstonehaugh", "Aeneas", "Pnevmatikos", "Gnash", "Wrenn",
                        "Xerxes", "Yeoman", "Ye", "Cziech", "Scheiss", "Dodgson", "Ledger", "Mcghee"})
    names.push_back(n);
  std::mt19937 rng(5);
  const std::string letters = "ACGHSTWYXPKDEIOUBJQZVMNRLF";
  std::uniform_int_distribution<int> len(0, 14), pick(0, static_cast<int>(letters.size()) - 1), odd(0, 9);
  for (int i = 0; i < 20000; ++i) {
    std::string s(static_cast<size_t>(len(rng)), ' ');
    for (char& c : s) {
      const int r = odd(rng);
      c = r == 0 ? "-' 1\xE9"[pick(rng) % 5] : letters[static_cast<size_t>(pick(rng) % (r < 4 ? 12 : 26))];
      if (r == 9 && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    names.push_back(s);
  }
  const std::string path = WriteLines("textutil_metaphone.txt", names);
  const std::vector<std::string> want =
      SplitLines(RunPython(ShellQuote(std::string(QV_SOURCE_DIR) + "/tests/textutil/metaphone_reference.py") + " " +
                          ShellQuote(path)));
  ASSERT_EQ(want.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    const size_t bar = want[i].find('|');
    const std::string key = want[i].substr(0, bar);
    const int count = std::stoi(want[i].substr(bar + 1));
    ASSERT_EQ(MetaPhone(names[i], 8), count > 8 ? "" : key) << "'" << names[i] << "'";
    if (!key.empty()) {
      ASSERT_NE(MetaPhone(names[i], count), "") << names[i];
      if (count > 0) {
        ASSERT_EQ(MetaPhone(names[i], count - 1), "") << names[i];
      }
    }
  }
}

// Similarity as python's difflib computes it (longest block first, earliest
// in the first string, then in the second, recursing left and right).
std::vector<int> DifflibPercent(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<std::string> lines;
  for (const auto& [a, b] : pairs) {
    lines.push_back(a);
    lines.push_back(b);
  }
  const std::string path = WriteLines("textutil_similar.txt", lines);
  const std::string out = RunPython(
      "-c 'import sys, difflib\n"
      "l = open(sys.argv[1], \"rb\").read().split(b\"\\n\")[:-1]\n"
      "for a, b in zip(l[0::2], l[1::2]):\n"
      "    m = sum(x.size for x in difflib.SequenceMatcher(None, a, b, autojunk=False).get_matching_blocks())\n"
      "    print((2 * m * 1000 // (len(a) + len(b)) + 5) // 10)' " +
      ShellQuote(path));
  std::vector<int> result;
  for (const std::string& line : SplitLines(out)) result.push_back(std::stoi(line));
  return result;
}

TEST_F(SimilarTest, Examples) {
  EXPECT_EQ(Similar("Smith", "Smith"), 100);
  EXPECT_EQ(Similar("abc", "xyz"), 0);
  EXPECT_EQ(Similar("", "abc"), 0);
  EXPECT_EQ(Similar("Smith", "Smyth"), 80);
  EXPECT_EQ(Similar("WILLIAMS", "WILLIAMSON"), 89);
  EXPECT_EQ(Similar(std::string(256, 'a'), std::string(256, 'a')), 0);
  EXPECT_EQ(Similar(std::string(255, 'a'), std::string(255, 'a')), 100);
}

TEST_F(SimilarTest, CrossingRunsCountOnce) {
  EXPECT_EQ(Similar("abab", "abbab"), 89);
  EXPECT_EQ(Similar("abbab", "abab"), 89);
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> len(1, 30), pick(0, 2);
  for (int i = 0; i < 20000; ++i) {
    std::string a(static_cast<size_t>(len(rng)), 'a'), b(static_cast<size_t>(len(rng)), 'a');
    for (char& c : a) c = static_cast<char>('a' + pick(rng));
    for (char& c : b) c = static_cast<char>('a' + pick(rng));
    const int s = Similar(a, b);
    ASSERT_GE(s, 0) << a << " " << b;
    ASSERT_LE(s, 100) << a << " " << b;
    ASSERT_EQ(Similar(a, a), 100) << a;
  }
}

TEST_F(SimilarTest, AgreesWithDifflibWhereNoRunIsSkipped) {
  // With no character repeated inside a string, no shorter run can hide a
  // longer one, so the common-run method and difflib must agree exactly.
  std::mt19937 rng(3);
  std::vector<std::pair<std::string, std::string>> pairs;
  std::string pool = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ\xE9\xC9";
  for (int i = 0; i < 3000; ++i) {
    std::string x = pool, y = pool;
    std::shuffle(x.begin(), x.end(), rng);
    std::shuffle(y.begin(), y.end(), rng);
    // Share some runs: copy a stretch of x into y.
    const size_t at = static_cast<size_t>(rng() % 20), n = static_cast<size_t>(rng() % 10);
    y = x.substr(at, n) + y;
    y.erase(std::unique(y.begin(), y.end()), y.end());
    std::string seen;
    std::string yy;
    for (char c : y)
      if (seen.find(c) == std::string::npos) {
        seen += c;
        yy += c;
      }
    pairs.emplace_back(x.substr(0, static_cast<size_t>(rng() % 30 + 1)), yy.substr(0, static_cast<size_t>(rng() % 30 + 1)));
  }
  const std::vector<int> want = DifflibPercent(pairs);
  ASSERT_EQ(want.size(), pairs.size());
  for (size_t i = 0; i < pairs.size(); ++i)
    ASSERT_EQ(Similar(pairs[i].first, pairs[i].second), want[i]) << pairs[i].first << " " << pairs[i].second;
}

TEST_F(StrDistTest, Examples) {
  EXPECT_EQ(StrDist("", "abc"), 3);
  EXPECT_EQ(StrDist("abc", ""), 3);
  EXPECT_EQ(StrDist("kitten", "sitting"), 3);
  EXPECT_EQ(StrDist("Abc", "abc"), 1);
  EXPECT_EQ(StrDist(std::string(256, 'a'), "a"), -1);
  EXPECT_EQ(StrDist(std::string(255, 'a'), std::string(255, 'b')), 255);
}

TEST_F(StrDistTest, AgreesWithPythonLevenshtein) {
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> len(1, 40), pick(0, 4);
  std::vector<std::string> lines;
  for (int i = 0; i < 2000; ++i) {
    std::string a(static_cast<size_t>(len(rng)), ' '), b(static_cast<size_t>(len(rng)), ' ');
    for (char& c : a) c = "aAb\xE9 "[pick(rng)];
    for (char& c : b) c = "aAb\xE9 "[pick(rng)];
    lines.push_back(a);
    lines.push_back(b);
  }
  const std::string path = WriteLines("textutil_strdist.txt", lines);
  const std::vector<std::string> want = SplitLines(RunPython(
      "-c 'import sys\n"
      "l = open(sys.argv[1], \"rb\").read().split(b\"\\n\")[:-1]\n"
      "for a, b in zip(l[0::2], l[1::2]):\n"
      "    row = list(range(len(b) + 1))\n"
      "    for i, x in enumerate(a, 1):\n"
      "        prev, row[0] = row[0], i\n"
      "        for j, y in enumerate(b, 1):\n"
      "            prev, row[j] = row[j], min(row[j] + 1, row[j - 1] + 1, prev + (x != y))\n"
      "    print(row[-1])' " +
      ShellQuote(path)));
  ASSERT_EQ(want.size() * 2, lines.size());
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_EQ(StrDist(lines[2 * i], lines[2 * i + 1]), std::stoi(want[i])) << i;
}


// Every key letter comes from a letter KeyLetterSources names, in either
// case, and every letter named gives its key letter in some name: all names
// of up to four letters, then random longer ones with odd characters.
TEST_F(MetaPhoneTest, KeyLettersComeFromTheirSourceLetters) {
  std::set<std::pair<char, char>> seen;  // (key letter, source letter) met
  auto check = [&](const std::string& name) {
    const std::string key = MetaPhone(name, 8);
    for (const char k : key) {
      if (k == ' ') continue;
      const std::string_view sources = KeyLetterSources(k);
      ASSERT_FALSE(sources.empty()) << "'" << name << "' gives " << k;
      bool found = false;
      for (const char s : sources) {
        const bool in_name = name.find(s) != std::string::npos || name.find(static_cast<char>(s + 32)) != std::string::npos;
        found = found || in_name;
        // A source letter counts as met when the name holds no other.
        if (in_name && std::count_if(sources.begin(), sources.end(), [&](char o) {
              return name.find(o) != std::string::npos || name.find(static_cast<char>(o + 32)) != std::string::npos;
            }) == 1)
          seen.insert({k, s});
      }
      ASSERT_TRUE(found) << "'" << name << "' gives " << k << " from none of " << sources;
    }
  };
  std::string name;
  for (int length = 2; length <= 4; ++length) {
    name.assign(static_cast<size_t>(length), 'A');
    for (;;) {
      check(name);
      size_t i = 0;
      while (i < name.size() && name[i] == 'Z') name[i++] = 'A';
      if (i == name.size()) break;
      ++name[i];
    }
  }
  std::mt19937 rng(11);
  const std::string letters = "abcdefghijklmnopqrstuvwxyzACGHSTWYXPKDEIOUBJQZVMNRLF -'1\xE9\xC9";
  std::uniform_int_distribution<int> len(2, 16), pick(0, static_cast<int>(letters.size()) - 1);
  for (int i = 0; i < 50000; ++i) {
    name.assign(static_cast<size_t>(len(rng)), ' ');
    for (char& c : name) c = letters[static_cast<size_t>(pick(rng))];
    check(name);
  }
  std::set<std::pair<char, char>> named;
  for (const char k : std::string_view("ABEFHIJKLMNOPRSTUWXY"))
    for (const char s : KeyLetterSources(k)) named.insert({k, s});
  EXPECT_EQ(seen, named);
  EXPECT_TRUE(KeyLetterSources('G').empty());
  EXPECT_TRUE(KeyLetterSources(' ').empty());
}

}  // namespace
}  // namespace textutil
