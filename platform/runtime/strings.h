// TStrings, the abstract list of strings with attached objects that lists,
// memo lines and file contents pass around, and TStringList, the plain
// in-memory implementation with optional sorting.
//
// Text form: reading splits at CR, LF or CR LF (a missing final line end
// still gives the last line; zero bytes are kept as they are); writing puts
// CR LF after every line.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/classes.h"

namespace rtl {

class TStream;

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStrings : public TPersistent {
public:
  std::string ClassName() const override { return "TStrings"; }

  int Count() const { return GetCount(); }
  std::string Strings(int index) const { return Get(index); }
  void SetStrings(int index, const std::string& s) { Put(index, s); }
  std::string operator[](int index) const { return Get(index); }
  TObject* Objects(int index) const { return GetObject(index); }
  void SetObjects(int index, TObject* object) { PutObject(index, object); }

  std::string Text() const { return GetTextStr(); }
  void SetText(std::string_view text) { SetTextStr(text); }
  // Entries separated by ',', those with blanks, commas or quotes in
  // double quotes (inner quotes doubled).
  std::string CommaText() const;
  void SetCommaText(std::string_view text);

  // "name=value" entries: the name of entry index, the value of the first
  // entry with that name (case-blind), or "".
  std::string Names(int index) const;
  std::string Values(std::string_view name) const;
  // An empty value deletes the entry.
  void SetValues(std::string_view name, std::string_view value);
  int IndexOfName(std::string_view name) const;

  virtual int Add(const std::string& s);
  virtual int AddObject(const std::string& s, TObject* object);
  void Append(const std::string& s) { Add(s); }
  virtual void AddStrings(const TStrings& strings);
  void Assign(const TPersistent* source) override;
  virtual void Clear() = 0;
  virtual void Delete(int index) = 0;
  virtual void Insert(int index, const std::string& s) = 0;
  void InsertObject(int index, const std::string& s, TObject* object);
  virtual void Exchange(int index1, int index2);
  virtual void Move(int cur_index, int new_index);
  // First entry equal to s by CompareStrings (case-blind by default), or -1.
  virtual int IndexOf(const std::string& s) const;
  int IndexOfObject(const TObject* object) const;
  bool Equals(const TStrings& other) const;

  // Nested; SetUpdateState(true) at the first BeginUpdate and (false) at
  // the matching EndUpdate. Extra EndUpdate calls are ignored.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

  // A missing or unreadable file raises EFOpenError; on write failure
  // SaveToFile raises and leaves any previous file as it was.
  virtual void LoadFromFile(const std::string& file_name);
  virtual void SaveToFile(const std::string& file_name) const;
  // Reads from the stream's position to its end.
  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream) const;

  // Negative, 0 or positive; AnsiCompareText here.
  virtual int CompareStrings(const std::string& a, const std::string& b) const;

protected:
  virtual std::string Get(int index) const = 0;
  virtual int GetCount() const = 0;
  virtual TObject* GetObject(int index) const { return nullptr; }
  virtual void Put(int index, const std::string& s);
  virtual void PutObject(int index, TObject* object) {}
  virtual std::string GetTextStr() const;
  virtual void SetTextStr(std::string_view text);
  virtual void SetUpdateState(bool updating) {}

private:
  int update_count_ = 0;
};

// Splits text into lines at CR, LF or CR LF.
std::vector<std::string> SplitLines(std::string_view text);

class TStringList;
// Compares entries index1 and index2 of list: negative, 0 or positive.
using TStringListSortCompare = std::function<int(TStringList& list, int index1, int index2)>;

class TStringList : public TStrings {
public:
  TStringList() = default;
  TStringList(const TStringList& other);
  TStringList& operator=(const TStringList& other);

  std::string ClassName() const override { return "TStringList"; }

  // Direct read access without a copy.
  const std::string& At(int index) const;

  int Add(const std::string& s) override;
  int AddObject(const std::string& s, TObject* object) override;
  void AddStrings(const TStrings& strings) override;
  void Clear() override;
  void Delete(int index) override;
  void Insert(int index, const std::string& s) override;
  void Exchange(int index1, int index2) override;
  int IndexOf(const std::string& s) const override;

  // Binary search of a sorted list: true when s is present; index is the
  // first equal entry, or where s would be inserted.
  virtual bool Find(const std::string& s, int& index) const;
  virtual void Sort();
  // Stable: entries that compare equal keep their order. Does nothing on a
  // sorted list.
  virtual void CustomSort(const TStringListSortCompare& compare);

  bool Sorted() const { return sorted_; }
  // Turning sorting on sorts the list.
  void SetSorted(bool sorted);
  // For a sorted list: dupIgnore drops an equal string (Add returns the
  // index of the one present), dupError raises EStringListError, dupAccept
  // inserts it after the equal ones.
  TDuplicates Duplicates = dupIgnore;
  bool CaseSensitive() const { return case_sensitive_; }
  // Re-sorts a sorted list.
  void SetCaseSensitive(bool value);

  int CompareStrings(const std::string& a, const std::string& b) const override;

  // Fired once per change (before and after), not while updating; once more
  // at the end of the outermost update.
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

protected:
  std::string Get(int index) const override;
  int GetCount() const override { return static_cast<int>(items_.size()); }
  TObject* GetObject(int index) const override;
  void Put(int index, const std::string& s) override;
  void PutObject(int index, TObject* object) override;
  void SetUpdateState(bool updating) override;
  void SetTextStr(std::string_view text) override;
  virtual void Changed();
  virtual void Changing();

private:
  struct Item {
    std::string text;
    TObject* object = nullptr;
  };
  void CheckIndex(int index) const;
  void InsertItem(int index, const std::string& s, TObject* object);
  // Index at which a sorted list takes s, or -1 when it is dropped.
  int SortedInsertIndex(const std::string& s) const;
  void SortItems(const TStringListSortCompare& compare);

  std::vector<Item> items_;
  bool sorted_ = false;
  bool case_sensitive_ = false;
};

}  // namespace rtl
