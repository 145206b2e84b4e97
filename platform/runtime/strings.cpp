#include "platform/runtime/strings.h"

#include <algorithm>
#include <numeric>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/files.h"
#include "platform/runtime/streams.h"
#include "platform/runtime/sysutils.h"

namespace rtl {

namespace {
constexpr const char* kDuplicateError = "String list does not allow duplicates";
constexpr const char* kSortedError = "Operation not allowed on sorted string list";
}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t i = 0, n = text.size();
  while (i < n) {
    size_t start = i;
    while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
    lines.emplace_back(text.substr(start, i - start));
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
  }
  return lines;
}

// ---- TStrings -------------------------------------------------------------

int TStrings::Add(const std::string& s) {
  int index = GetCount();
  Insert(index, s);
  return index;
}

int TStrings::AddObject(const std::string& s, TObject* object) {
  int index = Add(s);
  PutObject(index, object);
  return index;
}

void TStrings::AddStrings(const TStrings& strings) {
  BeginUpdate();
  try {
    for (int i = 0; i < strings.Count(); ++i) AddObject(strings.Get(i), strings.GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Assign(const TPersistent* source) {
  auto strings = dynamic_cast<const TStrings*>(source);
  if (strings == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (strings == this) return;
  BeginUpdate();
  try {
    Clear();
    AddStrings(*strings);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::InsertObject(int index, const std::string& s, TObject* object) {
  Insert(index, s);
  PutObject(index, object);
}

void TStrings::Put(int index, const std::string& s) {
  TObject* object = GetObject(index);
  Delete(index);
  InsertObject(index, s, object);
}

void TStrings::Exchange(int index1, int index2) {
  BeginUpdate();
  try {
    std::string s1 = Get(index1), s2 = Get(index2);
    TObject* o1 = GetObject(index1);
    TObject* o2 = GetObject(index2);
    Put(index1, s2);
    PutObject(index1, o2);
    Put(index2, s1);
    PutObject(index2, o1);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Move(int cur_index, int new_index) {
  if (cur_index == new_index) return;
  BeginUpdate();
  try {
    std::string s = Get(cur_index);
    TObject* object = GetObject(cur_index);
    Delete(cur_index);
    InsertObject(new_index, s, object);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

int TStrings::CompareStrings(const std::string& a, const std::string& b) const {
  return AnsiCompareText(a, b);
}

int TStrings::IndexOf(const std::string& s) const {
  for (int i = 0, n = GetCount(); i < n; ++i)
    if (CompareStrings(Get(i), s) == 0) return i;
  return -1;
}

int TStrings::IndexOfObject(const TObject* object) const {
  for (int i = 0, n = GetCount(); i < n; ++i)
    if (GetObject(i) == object) return i;
  return -1;
}

bool TStrings::Equals(const TStrings& other) const {
  if (GetCount() != other.GetCount()) return false;
  for (int i = 0, n = GetCount(); i < n; ++i)
    if (Get(i) != other.Get(i)) return false;
  return true;
}

void TStrings::BeginUpdate() {
  if (update_count_ == 0) SetUpdateState(true);
  ++update_count_;
}

void TStrings::EndUpdate() {
  if (update_count_ == 0) return;
  if (--update_count_ == 0) SetUpdateState(false);
}

std::string TStrings::GetTextStr() const {
  std::string text;
  int n = GetCount();
  size_t size = 0;
  for (int i = 0; i < n; ++i) size += Get(i).size() + 2;
  text.reserve(size);
  for (int i = 0; i < n; ++i) {
    text += Get(i);
    text += "\r\n";
  }
  return text;
}

void TStrings::SetTextStr(std::string_view text) {
  BeginUpdate();
  try {
    Clear();
    for (auto& line : SplitLines(text)) Add(line);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::CommaText() const {
  std::string out;
  for (int i = 0, n = GetCount(); i < n; ++i) {
    if (i > 0) out += ',';
    std::string s = Get(i);
    bool quote = s.empty() && n == 1;
    for (unsigned char c : s)
      if (c <= ' ' || c == ',' || c == '"') quote = true;
    if (!quote) {
      out += s;
      continue;
    }
    out += '"';
    for (char c : s) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

void TStrings::SetCommaText(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  BeginUpdate();
  try {
    Clear();
    size_t i = 0, n = text.size();
    while (i < n && blank(text[i])) ++i;
    while (i < n) {
      std::string item;
      if (text[i] == '"') {
        ++i;
        while (i < n) {
          if (text[i] == '"') {
            if (i + 1 < n && text[i + 1] == '"') {
              item += '"';
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          item += text[i++];
        }
      } else {
        while (i < n && !blank(text[i]) && text[i] != ',') item += text[i++];
      }
      Add(item);
      while (i < n && blank(text[i])) ++i;
      if (i < n && text[i] == ',') {
        ++i;
        while (i < n && blank(text[i])) ++i;
        if (i == n) Add("");
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::Names(int index) const {
  std::string s = Get(index);
  size_t eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

int TStrings::IndexOfName(std::string_view name) const {
  for (int i = 0, n = GetCount(); i < n; ++i) {
    std::string s = Get(i);
    size_t eq = s.find('=');
    if (eq != std::string::npos && AnsiSameText(std::string_view(s).substr(0, eq), name)) return i;
  }
  return -1;
}

std::string TStrings::Values(std::string_view name) const {
  int index = IndexOfName(name);
  if (index < 0) return "";
  std::string s = Get(index);
  return s.substr(s.find('=') + 1);
}

void TStrings::SetValues(std::string_view name, std::string_view value) {
  int index = IndexOfName(name);
  if (value.empty()) {
    if (index >= 0) Delete(index);
    return;
  }
  std::string entry = std::string(name) + "=" + std::string(value);
  if (index < 0) Add(entry);
  else Put(index, entry);
}

void TStrings::LoadFromFile(const std::string& file_name) {
  TFileStream stream(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TStrings::SaveToFile(const std::string& file_name) const {
  SaveFileSafely(file_name, GetTextStr());
}

void TStrings::LoadFromStream(TStream& stream) {
  SetTextStr(stream.ReadToEnd());
}

void TStrings::SaveToStream(TStream& stream) const {
  std::string text = GetTextStr();
  stream.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

// ---- TStringList ----------------------------------------------------------

TStringList::TStringList(const TStringList& other)
    : TStrings(),
      Duplicates(other.Duplicates),
      items_(other.items_),
      sorted_(other.sorted_),
      case_sensitive_(other.case_sensitive_) {}

TStringList& TStringList::operator=(const TStringList& other) {
  if (this != &other) {
    Changing();
    items_ = other.items_;
    sorted_ = other.sorted_;
    case_sensitive_ = other.case_sensitive_;
    Duplicates = other.Duplicates;
    Changed();
  }
  return *this;
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= GetCount()) throw ERangeError(kListIndexError);
}

const std::string& TStringList::At(int index) const {
  CheckIndex(index);
  return items_[index].text;
}

std::string TStringList::Get(int index) const { return At(index); }

TObject* TStringList::GetObject(int index) const {
  CheckIndex(index);
  return items_[index].object;
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::SetUpdateState(bool updating) {
  if (updating) Changing();
  else Changed();
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  return case_sensitive_ ? AnsiCompareStr(a, b) : AnsiCompareText(a, b);
}

bool TStringList::Find(const std::string& s, int& index) const {
  int lo = 0, hi = GetCount() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    int c = CompareStrings(items_[mid].text, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) found = true;
    }
  }
  index = lo;
  return found;
}

int TStringList::IndexOf(const std::string& s) const {
  int index;
  if (sorted_) return Find(s, index) ? index : -1;
  for (index = 0; index < GetCount(); ++index)
    if (CompareStrings(items_[index].text, s) == 0) return index;
  return -1;
}

void TStringList::SetTextStr(std::string_view text) {
  if (sorted_) {
    TStrings::SetTextStr(text);
    return;
  }
  // Whole files pass through here: the lines are moved in, not copied.
  auto lines = SplitLines(text);
  Changing();
  items_.clear();
  items_.reserve(lines.size());
  for (auto& line : lines) items_.push_back(Item{std::move(line), nullptr});
  Changed();
}

int TStringList::SortedInsertIndex(const std::string& s) const {
  int index;
  if (!Find(s, index)) return index;
  switch (Duplicates) {
    case dupIgnore:
      return -1;
    case dupError:
      throw EStringListError(kDuplicateError);
    case dupAccept:
      break;
  }
  while (index < GetCount() && CompareStrings(items_[index].text, s) == 0) ++index;
  return index;
}

int TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::string& s, TObject* object) {
  int index = GetCount();
  if (sorted_) {
    index = SortedInsertIndex(s);
    if (index < 0) {
      Find(s, index);
      return index;
    }
  }
  InsertItem(index, s, object);
  return index;
}

void TStringList::AddStrings(const TStrings& strings) {
  if (!sorted_) items_.reserve(items_.size() + strings.Count());
  TStrings::AddStrings(strings);
}

void TStringList::InsertItem(int index, const std::string& s, TObject* object) {
  Changing();
  items_.insert(items_.begin() + index, Item{s, object});
  Changed();
}

void TStringList::Insert(int index, const std::string& s) {
  if (sorted_) throw EStringListError(kSortedError);
  if (index < 0 || index > GetCount()) throw ERangeError(kListIndexError);
  InsertItem(index, s, nullptr);
}

void TStringList::Put(int index, const std::string& s) {
  if (sorted_) throw EStringListError(kSortedError);
  CheckIndex(index);
  Changing();
  items_[index].text = s;
  Changed();
}

void TStringList::PutObject(int index, TObject* object) {
  CheckIndex(index);
  Changing();
  items_[index].object = object;
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  items_.clear();
  items_.shrink_to_fit();
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  Changing();
  std::swap(items_[index1], items_[index2]);
  Changed();
}

void TStringList::SortItems(const TStringListSortCompare& compare) {
  // The comparer reads the list by index, so the order is found first on a
  // permutation while the list stays untouched, then applied.
  std::vector<int> order(items_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return compare(*this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(items_.size());
  for (int i : order) sorted.push_back(std::move(items_[i]));
  items_ = std::move(sorted);
}

void TStringList::CustomSort(const TStringListSortCompare& compare) {
  if (sorted_ || GetCount() < 2) return;
  Changing();
  SortItems(compare);
  Changed();
}

void TStringList::Sort() {
  CustomSort([](TStringList& list, int a, int b) {
    return list.CompareStrings(list.items_[a].text, list.items_[b].text);
  });
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  if (sorted) Sort();
  sorted_ = sorted;
}

void TStringList::SetCaseSensitive(bool value) {
  if (value == case_sensitive_) return;
  case_sensitive_ = value;
  if (sorted_) {
    sorted_ = false;
    Sort();
    sorted_ = true;
  }
}

}  // namespace rtl
