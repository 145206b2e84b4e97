// The memo's highlight lists: TKeywordList (single words or phrases, each
// with a style) and TStartStopKeyList (pairs of a start key and a stop key;
// the text between them, possibly over several paragraphs, gets the pair's
// style). Keys without woMatchCase are kept folded by the list's rule.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "memo/case_fold.h"
#include "memo/memo_types.h"
#include "memo/text_model.h"
#include "platform/runtime/strings.h"

namespace memo {

enum TWordOption : int { woMatchCase, woWholeWordsOnly, woContextOnly };
using TWordOptions = std::uint8_t;  // bit n for TWordOption n
inline constexpr TWordOptions kMatchCase = 1, kWholeWordsOnly = 2, kContextOnly = 4;

struct TKeywordInfo {
  TWordOptions options = 0;
  TFontStyles styles = 0;
  std::int32_t context = 0;
  TCursor cursor = 0;
  TColor background = 0;
  TColor foreground = 0;
  friend bool operator==(const TKeywordInfo&, const TKeywordInfo&) = default;
};

// One keyword of the stored form ("Strings": the word, then six integers).
struct TStoredKeyword {
  std::string word;
  std::int32_t options = 0, styles = 0, context = 0, cursor = 0, background = 0, foreground = 0;
  friend bool operator==(const TStoredKeyword&, const TStoredKeyword&) = default;
};

// The info block kept as each entry's object.
class TKeywordInfoObject : public rtl::TObject {
public:
  explicit TKeywordInfoObject(const TKeywordInfo& i) : info(i) {}
  TKeywordInfo info;
  std::int32_t length = 0;  // filled by UpdateKeyList
};

class TKeywordList : public rtl::TStringList {
public:
  TKeywordList() = default;
  ~TKeywordList() override;
  std::string ClassName() const override { return "TKeywordList"; }

  int AddKeyWord(const std::string& word, TWordOptions options, TFontStyles styles, std::int32_t context,
                 TCursor cursor, TColor background, TColor foreground);
  void setKeyInfo(int index, const TKeywordInfo& info);
  // All zeros for an entry without info.
  TKeywordInfo getKeyInfo(int index) const;

  void Delete(int index) override;
  void Clear() override;
  void Assign(const rtl::TPersistent* source) override;

  TvmUpperCase UpperCaseType() const { return upper_case_type_; }
  void setUpperCaseType(TvmUpperCase value);

  // The key list, index for index with the strings.
  int KeyCount() const { return static_cast<int>(keys_.size()); }
  const std::string& Key(int index) const { return keys_.at(index); }
  int MaxLength() const { return max_length_; }
  bool HasCaseBlind() const { return case_blind_; }

  // Stored form; written only when the list is not empty.
  std::vector<TStoredKeyword> WriteData() const;
  void ReadData(const std::vector<TStoredKeyword>& data);

protected:
  void Changed() override;
  virtual TKeywordInfoObject* NewInfo(const TKeywordInfo& info) const { return new TKeywordInfoObject(info); }
  TKeywordInfoObject* InfoObject(int index) const;

private:
  void UpdateKeyList();

  TvmUpperCase upper_case_type_ = vmuAscii;
  std::vector<std::string> keys_;
  int max_length_ = 0;
  bool case_blind_ = false;
};

// One start/stop pair: the style info of its text, then its keys (the
// extended highlighter also uses scope and priority; the memo's own pairs
// leave them 0).
struct TStartStopKey : TKeywordInfo {
  std::string startKey;  // folded copy unless woMatchCase
  std::string stopKey;
  std::int16_t startLength = 0;
  std::int16_t stopLength = 0;
  std::string startText;  // as added
  std::string stopText;
  bool finalFlag = false;
  std::int16_t sameStart = -1;
  // For woWholeWordsOnly pairs: whether each end character of the keys is
  // no delimiter (so the text beside it must be one).
  bool startLastNeedsBoundary = false;
  bool startFirstNeedsBoundary = false;
  bool stopLastNeedsBoundary = false;
  bool stopFirstNeedsBoundary = false;
  std::int16_t scope = 0;
  std::int16_t priority = 0;
};

// A start/stop run stores the number of the pair that opened it as a
// negative key entry (number - 32768); number counts the memo's own pairs
// from 0, then a highlighter's.
constexpr std::int16_t PairEntry(int number) { return static_cast<std::int16_t>(number - 32768); }
constexpr int PairNumber(int entry) { return entry + 32768; }

// The run a start/stop pair opens at a level over the run in force (base):
// the pair's styles, colours, context and cursor, its key lengths, and its
// entry. The memo and the extended highlighter open their pairs' runs by it.
DynInfoRec StartStopRun(const TStartStopKey& pair, const DynInfoRec& base, int level, int number);

struct TStoredStartStopKey {
  std::string startKey, stopKey;
  std::int32_t options = 0, styles = 0, context = 0, cursor = 0, background = 0, foreground = 0;
  bool finalFlag = false;
  friend bool operator==(const TStoredStartStopKey&, const TStoredStartStopKey&) = default;
};

class TStartStopKeyList : public TDynArray<TStartStopKey> {
public:
  TStartStopKeyList() { SetCapacity(2); }

  int AddStartStopKey(const std::string& startKey, const std::string& stopKey, TWordOptions options,
                      TFontStyles styles, std::int32_t context, TCursor cursor, TColor background,
                      TColor foreground, bool finalFlag);
  const TStartStopKey& Pair(int index) const { return *getPointer(index); }
  TStartStopKey& Pair(int index) { return *getPointer(index); }

  TvmUpperCase UpperCaseType() const { return upper_case_type_; }
  void setUpperCaseType(TvmUpperCase value);
  void Clear();

  int MaxStartLength() const { return max_start_; }
  int MaxStopLength() const { return max_stop_; }
  bool BoundsValid() const { return bounds_valid_; }
  void InvalidateBounds() { bounds_valid_ = false; }
  // Computes the boundary flags of every pair from the delimiters.
  void ComputeBounds(const TCharSet& delimiters);

  std::vector<TStoredStartStopKey> WriteData() const;
  void ReadData(const std::vector<TStoredStartStopKey>& data);

private:
  TvmUpperCase upper_case_type_ = vmuAscii;
  int max_start_ = 0;
  int max_stop_ = 0;
  bool bounds_valid_ = false;
};

}  // namespace memo
