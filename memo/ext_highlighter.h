// TCustomExtHighlighter / TExtHighlighter: a highlighter with its own
// keyword list and start/stop list whose keys carry a scope and a priority,
// its own separator set for whole-word tests, events that can veto each
// key, and an optional sub-highlighter to which the work is chained.
//
// Numbering of the key entries it writes into runs: its keywords after the
// memo's own keywords (entry = base + index, base = the memo's keyword
// count), its start/stop pairs after the memo's own pairs (entry = (base +
// index) - 32768, base = the memo's pair count). A sub-highlighter numbers
// its keys after ours. GetPriority reads both back.
//
// Gates, for a key met where a run R is in force (priority of R by
// GetPriority, context of R 0 unless R is styled):
//   keyword: Priority 32767, or Scope 0 and R's priority below the key's,
//            or Scope equal to R's context;
//   start:   Priority 32767, or Scope 0 and the key's priority above R's,
//            or Scope equal to R's context (Scope 0 then only outside
//            keyword and start/stop runs).
// A pair whose Scope is 32767 ends at the first separator after its start.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "memo/highlighter.h"
#include "memo/keyword_list.h"
#include "memo/text_model.h"

namespace memo {

inline constexpr std::int16_t kTopPriority = 32767;
inline constexpr std::int16_t kScopeToSeparator = 32767;

// The memo's keyword info plus the scope and priority its gates use.
struct TExtKeywordInfo : TKeywordInfo {
  std::int16_t scope = 0;
  std::int16_t priority = 0;
  friend bool operator==(const TExtKeywordInfo&, const TExtKeywordInfo&) = default;
};

// Stored form of one keyword ("Strings": the word, then eight integers).
struct TStoredExtKeyword {
  std::string word;
  std::int32_t options = 0, styles = 0, context = 0, cursor = 0, background = 0, foreground = 0, scope = 0,
               priority = 0;
  friend bool operator==(const TStoredExtKeyword&, const TStoredExtKeyword&) = default;
};

class TExtKeywordInfoObject : public TKeywordInfoObject {
public:
  explicit TExtKeywordInfoObject(const TKeywordInfo& i) : TKeywordInfoObject(i) {}
  std::int16_t scope = 0;
  std::int16_t priority = 0;
};

class TExtKeywordList : public TKeywordList {
public:
  std::string ClassName() const override { return "TExtKeywordList"; }

  int AddExtKeyWord(const std::string& word, TWordOptions options, TFontStyles styles, std::int32_t context,
                    std::int16_t scope, std::int16_t priority, TCursor cursor, TColor background,
                    TColor foreground);
  // All zeros for an entry without info.
  TExtKeywordInfo GetKeyInfo(int index) const;
  void SetKeyInfo(int index, const TExtKeywordInfo& info);
  // Any keyword list; scope and priority only from another TExtKeywordList.
  void Assign(const rtl::TPersistent* source) override;

  std::vector<TStoredExtKeyword> WriteExtData() const;
  void ReadExtData(const std::vector<TStoredExtKeyword>& data);

protected:
  TKeywordInfoObject* NewInfo(const TKeywordInfo& info) const override { return new TExtKeywordInfoObject(info); }

private:
  TExtKeywordInfoObject* ExtObject(int index) const;
};

// A pair of the extended list: the memo's pair record, scope and priority
// included.
using TExtStartStopInfo = TStartStopKey;

struct TStoredExtStartStopKey {
  std::string startKey, stopKey;
  std::int32_t options = 0, styles = 0, context = 0, cursor = 0, background = 0, foreground = 0, scope = 0,
               priority = 0;
  bool finalFlag = false;
  friend bool operator==(const TStoredExtStartStopKey&, const TStoredExtStartStopKey&) = default;
};

class TExtStartStopList : public TStartStopKeyList {
public:
  int AddExStartStopKey(const std::string& startKey, const std::string& stopKey, TWordOptions options,
                        TFontStyles styles, std::int32_t context, std::int16_t scope, std::int16_t priority,
                        TCursor cursor, TColor background, TColor foreground, bool finalFlag);
  TExtStartStopInfo getExtStartStopInfo(int index) const { return Pair(index); }
  void setExtStartStopInfo(int index, const TExtStartStopInfo& info);

  std::vector<TStoredExtStartStopKey> WriteExtData() const;
  void ReadExtData(const std::vector<TStoredExtStartStopKey>& data);
};

// A style description with a change event.
class THighlightInfo : public rtl::TPersistent {
public:
  std::string ClassName() const override { return "THighlightInfo"; }
  bool AltFont() const { return alt_font_; }
  void SetAltFont(bool value);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles value);
  TColor Background() const { return background_; }
  void SetBackground(TColor value);
  TColor Foreground() const { return foreground_; }
  void SetForeground(TColor value);
  void Assign(const rtl::TPersistent* source) override;

  rtl::TNotifyEvent OnChange;

private:
  void Changed();
  bool alt_font_ = false;
  TFontStyles style_ = 0;
  TColor background_ = 0;
  TColor foreground_ = 0;
};

// Asked before a key is applied; setting accept to false vetoes it.
// For a keyword: the navigators span the occurrence; for a start key: the
// first is at the key and the second is nullptr; for a stop key: they span
// the stop key (both at the paragraph end for a pair ended there).
using TKeywordEvent = std::function<void(rtl::TObject* sender, TVellNavigator* startKey, TVellNavigator* stopKey,
                                         int kIndex, bool& accept)>;
// Declared for users of the unit; nothing here fires it.
using TQueryHilitEvent = std::function<void(rtl::TObject* sender, std::int16_t scope, bool& doHilit)>;

// The first entry numbers of a highlighter's keys in runs.
struct TKeyBases {
  int keywords = 0;
  int pairs = 0;
};

class TCustomExtHighlighter : public TVellHighlighter {
public:
  explicit TCustomExtHighlighter(rtl::TComponent* owner = nullptr);
  ~TCustomExtHighlighter() override;
  std::string ClassName() const override { return "TCustomExtHighlighter"; }

  TExtKeywordList& Keywords() { return keywords_; }
  TExtStartStopList& StartStopKeys() { return pairs_; }

  // The separators from 27 on, in code order; 0-26 are always separators.
  std::string Separators() const;
  void SetSeparators(const std::string& value);
  const TCharSet& SeparatorSet() const { return separators_; }

  bool Active() const { return active_; }
  void SetActive(bool value) { active_ = value; }

  TVellHighlighter* SubHighlighter() const { return sub_; }
  // Raises EComponentError when the chain would lead back to this one.
  void SetSubHighlighter(TVellHighlighter* sub);

  TKeywordEvent OnKeyword;
  TKeywordEvent OnStart;
  TKeywordEvent OnStop;

  // Every memo that uses the highlighter runs ReApplyKeywords.
  void ReApplyKeys();

  void Loaded() override;
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

  void ApplyKeywordsList(TVellNavigator* start, TVellNavigator* stop, int base) override;
  bool FindStart(TVellNavigator* start, TVellNavigator* stop, int base) override;
  bool FindStop(TVellNavigator* start, TVellNavigator* stop, int base) override;

  // 0 for a run that is no keyword or start/stop run; 32767 for a memo's
  // own keyword; the Priority of one of our keywords or pairs; 0 for any
  // other key.
  std::int16_t GetPriority(const DynInfoRec& run, const TKeyBases& bases) const;

  // The same three operations with both bases known (used along a chain).
  void ApplyKeywords(TVellNavigator* start, TVellNavigator* stop, const TKeyBases& bases);
  bool FindStartKey(TVellNavigator* start, TVellNavigator* stop, const TKeyBases& bases);
  // root: the highlighter the memo asked (nested starts are looked for
  // along its whole chain, numbered from rootBases).
  bool FindStopKey(TVellNavigator* start, TVellNavigator* stop, const TKeyBases& bases,
                   TCustomExtHighlighter* root, const TKeyBases& rootBases);

private:
  struct Occurrence {
    std::int32_t offset;
    int keyword;
    std::int32_t length;
  };
  bool IsSeparator(unsigned char c) const { return separators_.test(c); }
  // startOff / stopOff: -1 when the range goes on beyond the paragraph.
  void CollectOccurrences(TVellMemo& memo, int parNb, std::int32_t startOff, std::int32_t stopOff,
                          std::vector<Occurrence>& found);
  void ApplyOccurrence(TVellMemo& memo, int parNb, const Occurrence& o, const TKeyBases& bases);
  DynInfoRec PairRun(int pair, const DynInfoRec& base, int level, int pairBase) const;
  // Opens a run at offset i of paragraph parNb when one of our pairs, or
  // else one of the sub-highlighter chain's, starts there with its key
  // ending by `to`; moves start after the key. upper: the paragraph
  // upper-cased by the memo's rule.
  bool OpenStartAt(TVellMemo& memo, int parNb, std::int32_t i, std::int32_t to, const std::string& upper,
                   TVellNavigator* start, const TKeyBases& bases);
  // A start key of the chain in [from, limit) of an open run's paragraph.
  bool OpenNestedStart(TVellMemo& memo, int parNb, std::int32_t from, std::int32_t limit, std::int32_t to,
                       const std::string& upper, TVellNavigator* start, const TKeyBases& bases);
  // The bases of the sub-highlighter: after our keys.
  TKeyBases SubBases(const TKeyBases& bases) const;

  TExtKeywordList keywords_;
  TExtStartStopList pairs_;
  TCharSet separators_;
  TVellHighlighter* sub_ = nullptr;
  bool active_ = true;
};

// The published form.
class TExtHighlighter : public TCustomExtHighlighter {
public:
  explicit TExtHighlighter(rtl::TComponent* owner = nullptr) : TCustomExtHighlighter(owner) {}
  std::string ClassName() const override { return "TExtHighlighter"; }
};

}  // namespace memo
