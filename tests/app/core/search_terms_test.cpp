#include "app/core/search_terms.h"

#include <gtest/gtest.h>

#include "textutil/phonetic.h"

namespace appcore {
namespace {

TEST(SearchTerms, OneTermGetsItsKeyOfEightLettersAtMost) {
  const SearchTerms t = ParseSearchText("Smith");
  EXPECT_EQ(t.term1, "Smith");
  EXPECT_EQ(t.term2, "");
  EXPECT_FALSE(t.two_terms);
  EXPECT_EQ(t.key_length, 8);
  EXPECT_EQ(t.key1, "SMT");
  EXPECT_EQ(t.label_key1, "SMT");
  EXPECT_EQ(t.label_key2, "");
  EXPECT_TRUE(t.no_wildcard);
  EXPECT_FALSE(t.leading_blank);
}

TEST(SearchTerms, LeadingBlankStaysOnTheTerm) {
  const SearchTerms t = ParseSearchText(" Smith");
  EXPECT_TRUE(t.leading_blank);
  EXPECT_EQ(t.term1, " Smith");
  EXPECT_EQ(t.key1, "SMT");
}

TEST(SearchTerms, TrailingDotMakesTheKeyExactInLength) {
  const SearchTerms t = ParseSearchText("Smith.");
  EXPECT_TRUE(t.exact_length);
  EXPECT_EQ(t.term1, "Smith");
  EXPECT_EQ(t.key_length, 3);
  EXPECT_EQ(t.key1, "SMT");
  // A word with a longer key has no key of that length.
  EXPECT_EQ(KeyOf("Smithson", t.key_length), "");
  EXPECT_EQ(KeyOf("Smyth", t.key_length), "SMT");
}

TEST(SearchTerms, OperatorsSplitTheTextAsTyped) {
  SearchTerms t = ParseSearchText("Smith AND Jones");
  EXPECT_TRUE(t.and_flag && t.two_terms);
  EXPECT_EQ(t.term1, "Smith");
  EXPECT_EQ(t.term2, "Jones");
  EXPECT_EQ(t.label_key2, "JNS");

  t = ParseSearchText("Smith NOT Jones");
  EXPECT_TRUE(t.not_flag && !t.and_flag && !t.or_flag);
  EXPECT_EQ(t.term2, "Jones");

  // A later operator overrides the split of an earlier one.
  t = ParseSearchText("Smith AND Jones OR Brown");
  EXPECT_TRUE(t.and_flag && t.or_flag);
  EXPECT_EQ(t.term1, "Smith AND Jones");
  EXPECT_EQ(t.term2, "Brown");

  // The trailing '.' stays on term 2 but sets the key length from term 1.
  t = ParseSearchText("Smith OR Jones.");
  EXPECT_EQ(t.term1, "Smith");
  EXPECT_EQ(t.term2, "Jones.");
  EXPECT_EQ(t.key_length, 3);

  // Operators are upper case with one blank each side.
  EXPECT_FALSE(ParseSearchText("Smith and Jones").two_terms);
  EXPECT_FALSE(ParseSearchText("Smith  AND").two_terms);
}

TEST(SearchTerms, WordPrefixForms) {
  SearchTerms t = ParseSearchText("Jo* Sm*");
  EXPECT_FALSE(t.no_wildcard);
  EXPECT_TRUE(t.first_word_stem && t.second_word_given);
  EXPECT_EQ(t.stem1, "Jo");
  EXPECT_EQ(t.stem2, "Sm");
  EXPECT_EQ(t.term1, " Jo");
  EXPECT_EQ(t.key1, "J");
  EXPECT_EQ(t.label_key1, "JSM");  // the key shown is of the text as typed

  t = ParseSearchText("* Smith");
  EXPECT_TRUE(t.any_first_word && t.second_word_given && !t.first_word_stem);
  EXPECT_EQ(t.stem2, "Smith");
  EXPECT_EQ(t.term1, "Smith");
  EXPECT_EQ(t.key1, "SMT");

  t = ParseSearchText("Jo* *");
  EXPECT_TRUE(t.first_word_stem && t.any_second_word && !t.second_word_given);

  // A lone '*' after a plain word makes that word a prefix as well.
  t = ParseSearchText("Smith *");
  EXPECT_TRUE(t.first_word_stem && t.any_second_word);
  EXPECT_EQ(t.stem1, "Smith");

  t = ParseSearchText("Jo*");
  EXPECT_TRUE(t.first_word_stem && !t.second_word_given && !t.any_second_word);

  // Term 2 only loses its '*'.
  t = ParseSearchText("Smith OR Jo*");
  EXPECT_FALSE(t.no_wildcard);
  EXPECT_EQ(t.term2, "Jo");
  EXPECT_FALSE(t.first_word_stem);
  t = ParseSearchText("Smith OR * Jones");
  EXPECT_EQ(t.term2, "Jones");
}

TEST(SearchTerms, NoLimitsOnLengthOrWordCount) {
  std::string many;
  for (int i = 0; i < 40; ++i) many += "word" + std::to_string(i) + "* ";
  const std::vector<std::string> words = SplitWords(many);
  ASSERT_EQ(words.size(), 40u);
  EXPECT_EQ(words[39], "word39*");
  const std::string long_word(300, 'x');
  EXPECT_EQ(SplitWords("  " + long_word + "  y").front(), long_word);
  const SearchTerms t = ParseSearchText(long_word + " AND " + long_word);
  EXPECT_EQ(t.term1.size(), 300u);
  EXPECT_EQ(t.term2.size(), 300u);
}

TEST(SearchTerms, SplitWordsKeepsOnlyPrintableCharacters) {
  const std::vector<std::string> words = SplitWords("  Jo\x01hn\t  Sm\x7fith ");
  ASSERT_EQ(words.size(), 2u);
  EXPECT_EQ(words[0], "John");
  EXPECT_EQ(words[1], "Smith");
  EXPECT_TRUE(SplitWords("   ").empty());
}

TEST(SearchTerms, EmptyAndOddTexts) {
  EXPECT_EQ(ParseSearchText("").term1, "");
  EXPECT_EQ(ParseSearchText(".").term1, "");
  EXPECT_EQ(ParseSearchText(".").key_length, 0);
  EXPECT_EQ(ParseSearchText("*").term1, "");
  EXPECT_TRUE(ParseSearchText("*").any_first_word);
}

}  // namespace
}  // namespace appcore
