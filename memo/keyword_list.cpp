#include "memo/keyword_list.h"

#include <algorithm>

namespace memo {

// ---- TKeywordList ----

TKeywordList::~TKeywordList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  BeginUpdate();
  for (int i = 0; i < Count(); ++i) {
    TKeywordInfoObject* block = InfoObject(i);
    rtl::TStringList::PutObject(i, nullptr);
    delete block;
  }
}

TKeywordInfoObject* TKeywordList::InfoObject(int index) const {
  return dynamic_cast<TKeywordInfoObject*>(GetObject(index));
}

int TKeywordList::AddKeyWord(const std::string& word, TWordOptions options, TFontStyles styles,
                             std::int32_t context, TCursor cursor, TColor background, TColor foreground) {
  BeginUpdate();
  int index = Add(word);
  setKeyInfo(index, TKeywordInfo{options, styles, context, cursor, background, foreground});
  EndUpdate();
  return index;
}

void TKeywordList::setKeyInfo(int index, const TKeywordInfo& info) {
  TKeywordInfoObject* block = InfoObject(index);
  if (block) {
    block->info = info;
    PutObject(index, block);
  } else {
    PutObject(index, NewInfo(info));
  }
}

TKeywordInfo TKeywordList::getKeyInfo(int index) const {
  TKeywordInfoObject* block = InfoObject(index);
  return block ? block->info : TKeywordInfo();
}

void TKeywordList::Delete(int index) {
  BeginUpdate();
  TKeywordInfoObject* block = InfoObject(index);
  if (block) {
    PutObject(index, nullptr);
    delete block;
  }
  rtl::TStringList::Delete(index);
  EndUpdate();
}

void TKeywordList::Clear() {
  BeginUpdate();
  for (int i = 0; i < Count(); ++i) {
    TKeywordInfoObject* block = InfoObject(i);
    if (block) {
      PutObject(i, nullptr);
      delete block;
    }
  }
  rtl::TStringList::Clear();
  EndUpdate();
}

void TKeywordList::Assign(const rtl::TPersistent* source) {
  auto* other = dynamic_cast<const TKeywordList*>(source);
  if (!other) {
    rtl::TStringList::Assign(source);
    return;
  }
  if (other == this) return;
  BeginUpdate();
  Clear();
  for (int i = 0; i < other->Count(); ++i) {
    int index = Add(other->At(i));
    if (other->InfoObject(i)) PutObject(index, NewInfo(other->InfoObject(i)->info));
  }
  EndUpdate();
}

void TKeywordList::setUpperCaseType(TvmUpperCase value) {
  if (value == upper_case_type_) return;
  upper_case_type_ = value;
  BeginUpdate();
  EndUpdate();
  UpdateKeyList();
}

void TKeywordList::Changed() {
  UpdateKeyList();
  rtl::TStringList::Changed();
}

void TKeywordList::UpdateKeyList() {
  case_blind_ = false;
  max_length_ = 0;
  keys_.assign(Count(), std::string());
  for (int i = 0; i < Count(); ++i) {
    keys_[i] = At(i);
    TKeywordInfoObject* block = InfoObject(i);
    if (block) block->length = static_cast<std::int32_t>(keys_[i].size());
    max_length_ = std::max(max_length_, static_cast<int>(keys_[i].size()));
    TWordOptions options = block ? block->info.options : 0;
    if (!(options & kMatchCase)) {
      case_blind_ = true;
      UpperCaseBuffer(upper_case_type_, keys_[i].data());
    }
  }
}

std::vector<TStoredKeyword> TKeywordList::WriteData() const {
  std::vector<TStoredKeyword> out;
  for (int i = 0; i < Count(); ++i) {
    TKeywordInfo k = getKeyInfo(i);
    out.push_back({At(i), k.options, k.styles, k.context, k.cursor, k.background, k.foreground});
  }
  return out;
}

void TKeywordList::ReadData(const std::vector<TStoredKeyword>& data) {
  Clear();
  BeginUpdate();
  for (const TStoredKeyword& k : data) {
    int index = Add(k.word);
    PutObject(index, NewInfo(TKeywordInfo{static_cast<TWordOptions>(k.options),
                                          static_cast<TFontStyles>(k.styles), k.context,
                                          static_cast<TCursor>(k.cursor), k.background, k.foreground}));
  }
  EndUpdate();
}

// ---- TStartStopKeyList ----

DynInfoRec StartStopRun(const TStartStopKey& pair, const DynInfoRec& base, int level, int number) {
  DynInfoRec r = base;
  r.flags = static_cast<std::uint8_t>((pair.styles & 0x0F) | 0xC0);
  r.level = static_cast<std::int8_t>(level);
  for (int l = std::max(level, 0); l < 16; ++l) r.keys[l] = 0;
  r.keys[level] = PairEntry(number);
  r.background = pair.background;
  r.foreground = pair.foreground;
  r.context = pair.context;
  r.cursor = pair.cursor;
  r.openLength = static_cast<std::uint8_t>(std::min(pair.startLength + (pair.startLastNeedsBoundary ? 1 : 0), 255));
  r.closeLength = static_cast<std::uint8_t>(std::min<int>(pair.stopLength, 255));
  return r;
}

int TStartStopKeyList::AddStartStopKey(const std::string& startKey, const std::string& stopKey,
                                       TWordOptions options, TFontStyles styles, std::int32_t context,
                                       TCursor cursor, TColor background, TColor foreground,
                                       bool finalFlag) {
  TStartStopKey k;
  static_cast<TKeywordInfo&>(k) = {options, styles, context, cursor, background, foreground};
  k.startText = startKey;
  k.stopText = stopKey;
  k.startKey = startKey;
  k.stopKey = stopKey;
  if (!(options & kMatchCase)) {
    UpperCaseBuffer(upper_case_type_, k.startKey.data());
    UpperCaseBuffer(upper_case_type_, k.stopKey.data());
  }
  k.startLength = static_cast<std::int16_t>(std::min<std::size_t>(startKey.size(), 32767));
  k.stopLength = static_cast<std::int16_t>(std::min<std::size_t>(stopKey.size(), 32767));
  k.finalFlag = finalFlag;
  max_start_ = std::max<int>(max_start_, k.startLength);
  max_stop_ = std::max<int>(max_stop_, k.stopLength);
  if (finalFlag) max_stop_ = std::max(max_stop_, 2);
  for (int i = 0; i < Count(); ++i) {
    const TStartStopKey& other = Pair(i);
    if (other.options == options && other.startKey == k.startKey) {
      k.sameStart = static_cast<std::int16_t>(i);
      break;
    }
  }
  bounds_valid_ = false;
  return Add(k);
}

void TStartStopKeyList::setUpperCaseType(TvmUpperCase value) {
  if (value == upper_case_type_) return;
  upper_case_type_ = value;
  for (int i = 0; i < Count(); ++i) {
    TStartStopKey& k = Pair(i);
    if (k.options & kMatchCase) continue;
    if (!k.startText.empty()) k.startKey = UpperCaseCopy(value, k.startText);
    if (!k.stopText.empty()) k.stopKey = UpperCaseCopy(value, k.stopText);
  }
}

void TStartStopKeyList::Clear() {
  SetCount(0);
  items_.clear();
  SetCapacity(2);
  bounds_valid_ = false;
}

void TStartStopKeyList::ComputeBounds(const TCharSet& delimiters) {
  for (int i = 0; i < Count(); ++i) {
    TStartStopKey& k = Pair(i);
    bool whole = (k.options & kWholeWordsOnly) != 0;
    auto needs = [&](const std::string& key, bool last) {
      if (!whole || key.empty() || k.stopKey.empty()) return false;
      unsigned char c = static_cast<unsigned char>(last ? key.back() : key.front());
      return !delimiters.test(c);
    };
    k.startLastNeedsBoundary = needs(k.startKey, true);
    k.startFirstNeedsBoundary = needs(k.startKey, false);
    k.stopLastNeedsBoundary = needs(k.stopKey, true);
    k.stopFirstNeedsBoundary = needs(k.stopKey, false);
  }
  bounds_valid_ = true;
}

std::vector<TStoredStartStopKey> TStartStopKeyList::WriteData() const {
  std::vector<TStoredStartStopKey> out;
  for (int i = 0; i < Count(); ++i) {
    const TStartStopKey& k = Pair(i);
    out.push_back({k.startKey, k.stopKey, k.options, k.styles, k.context, k.cursor, k.background,
                   k.foreground, k.finalFlag});
  }
  return out;
}

void TStartStopKeyList::ReadData(const std::vector<TStoredStartStopKey>& data) {
  Clear();
  for (const TStoredStartStopKey& k : data)
    AddStartStopKey(k.startKey, k.stopKey, static_cast<TWordOptions>(k.options),
                    static_cast<TFontStyles>(k.styles), k.context, static_cast<TCursor>(k.cursor),
                    k.background, k.foreground, k.finalFlag);
  bounds_valid_ = false;
}

}  // namespace memo
