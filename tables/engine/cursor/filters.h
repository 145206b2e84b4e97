// Filters of a cursor: up to 64 per cursor, each a boolean expression over
// the table's columns or a record callback, answered with record bitmaps
// (one bit per physical record number, records_bitmap.h).
//
// TFilterSet owns a cursor's filters and its three bitmaps: the range
// bitmap (records whose key lies in the cursor's key range), the live
// bitmap (records not deleted) and the combined bitmap that navigation
// reads: range ∧ live ∧ every active filter. The table is reached through
// TFilterSource, which the cursor implements (tests implement it over
// plain table files).
//
// Where an expression compares a column that leads an index with a
// constant of the column's own type, the records are collected from the
// index: a range of key ranks is counted with two descents and walked
// leaf by leaf (or its complement is walked and inverted when that is
// shorter). Everything else is evaluated record by record, and under AND
// only on the records still in question. Whichever way a node is answered,
// the set is the same: evaluating a node on a set B of candidates gives
// the members of B for which the evaluator says true (NULL follows the
// evaluator: = and <> treat NULL as a value, the orderings are false with
// NULL, NOT of NULL is true).
//
// Optimise levels: olFull when the whole expression is answered from
// indexes, olPartial when an AND has an index-answered operand (placed
// first), olNone otherwise. String comparisons use an index only on
// language-0 tables (other languages' key order ignores accents, which the
// evaluator does not) and only when the index's case setting is the
// comparison's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tables/engine/files/field_definition.h"
#include "tables/engine/files/index_definition.h"
#include "tables/engine/files/index_file.h"
#include "tables/engine/files/index_key.h"
#include "tables/lib/expeval.h"
#include "tables/lib/exptoken.h"
#include "tables/lib/records_bitmap.h"

namespace korvex {

inline constexpr std::size_t kMaxFilters = 64;

enum TOptimizeLevel : std::uint8_t { olNone = 0, olPartial = 1, olFull = 2 };

// What the filters need of their cursor and table.
class TFilterSource {
public:
  virtual ~TFilterSource() = default;
  virtual std::string FilterTableName() const = 0;
  virtual const std::vector<TFieldDefinition>& FilterFields() const = 0;
  virtual TLocalePair FilterLocale() const = 0;
  // The highest physical record number in use.
  virtual std::uint32_t FilterPhysicalCount() = 0;
  // Record n's bytes; false when it is deleted.
  virtual bool FilterReadRecord(std::uint32_t n, std::vector<std::uint8_t>& record) = 0;
  // The index file (nullptr: no index is used), the comparison of a slot.
  virtual TIndexFile* FilterIndexFile() = 0;
  virtual const TKeyComparator& FilterComparator(std::uint8_t slot) = 0;
  // The whole content of a BLOB field of a record.
  virtual std::string FilterReadBlob(int field, const std::uint8_t* record) = 0;
  // Whether indexes may answer filters at all (not on a query's result).
  virtual bool FilterOptimizes() const { return true; }
  // Asked after each pass of a bitmap update: whether the table changed
  // while it ran (the update then starts again). `hold` asks the source to
  // keep the table's read lock until HoldTable(false), so that the next
  // pass cannot be overtaken.
  virtual bool FilterTableChanged() { return false; }
  virtual void FilterHoldTable(bool hold) { (void)hold; }
};

// A record callback: answers whether the record (its buffer and physical
// number) passes.
using TRecordFilter = std::function<bool(const std::uint8_t* record, std::uint32_t number)>;

struct TFilterFlags {
  bool Narrowing = false;        // after every other filter, on what they let through
  bool Complement = false;       // a range may be collected through its complement
  bool CaseInsensitive = false;  // string equality ignores case
  bool NoPartialCompare = false; // a trailing '*' is a character, not a prefix mark
};

// The cursor's key range: the records whose keys in `slot` lie between
// the two keys (in the index's order, both included), each compared over
// its length (0: open on that side).
struct TFilterRange {
  std::uint8_t Slot = 0;
  std::vector<std::uint8_t> Low, High;
  std::uint16_t LowLength = 0, HighLength = 0;
};

// Gives a column node its field's type, sub type, size and scale.
void TypeColumnNode(TExpToken* node, const TFieldDefinition& field);

// Turns comparisons with the constant first into column-first ones (the
// operator mirrored), so that an index can answer them.
void NormalizeFilter(TExpToken* node);

class TFilterSet;

class TFilter {
public:
  ~TFilter();
  TFilter(const TFilter&) = delete;
  TFilter& operator=(const TFilter&) = delete;

  bool Active() const { return active_; }
  bool IsCallback() const { return callback_ != nullptr; }
  TOptimizeLevel Level() const { return level_; }
  bool Narrowing() const { return options_.Narrowing; }
  const TFilterFlags& Options() const { return options_; }
  std::uint32_t UserData() const { return user_data_; }
  const TExpToken* Expression() const { return tree_; }
  const TRecordFilter& Callback() const { return callback_; }
  const TRecordsBitmap& Bitmap() const { return *bitmap_; }

private:
  friend class TFilterSet;
  TFilter(TFilterSet& owner, std::uint32_t user_data, TExpToken* tree, bool owns_tree, TRecordFilter callback,
          const TFilterFlags& options);

  TFilterSet& owner_;
  bool owns_tree_;
  TExpToken* tree_;
  std::uint32_t user_data_;
  TRecordFilter callback_;
  TRecordsBitmap* bitmap_ = nullptr;
  bool active_ = false;
  TOptimizeLevel level_ = olNone;
  TFilterFlags options_;
};

class TFilterSet {
public:
  explicit TFilterSet(TFilterSource& source);
  ~TFilterSet();
  TFilterSet(const TFilterSet&) = delete;
  TFilterSet& operator=(const TFilterSet&) = delete;

  // ---- the list ----
  // Text: parsed (10051 for an empty or non-boolean text), checked against
  // the fields and prepared; the set keeps its last few prepared texts, so
  // that a text added again is copied instead of parsed again. Else a tree (used as it is; owned when
  // owns_tree), else a callback. 9482 when 64 filters exist. The new
  // filter is inactive.
  TFilter* AddFilter(std::uint32_t user_data, std::string_view text, TExpToken* tree, bool owns_tree,
                     TRecordFilter callback, const TFilterFlags& options);
  // nullptr: every filter. 10050 for a filter of another set.
  void DropFilter(TFilter* filter);
  void ActivateFilter(TFilter* filter);
  void DeactivateFilter(TFilter* filter);
  // A new tree for an active filter (nullptr does nothing).
  void ResetFilter(TExpToken* tree, TFilter* filter);
  void DropAllFilters() { DropFilter(nullptr); }
  void ActivateAllFilters() { ActivateFilter(nullptr); }
  void DeactivateAllFilters() { DeactivateFilter(nullptr); }
  std::size_t FilterCount() const { return filters_.size(); }
  TFilter* FilterAt(std::size_t i) const { return filters_[i].get(); }
  bool Owns(const TFilter* filter) const;
  // Copies every filter of `other` (expressions copied, callbacks shared,
  // active ones active) into this empty set; bitmaps are rebuilt.
  void CopyFilters(const TFilterSet& other);

  // ---- state ----
  // Physical navigation keeps the filters in force without any filter,
  // so that deleted records are skipped.
  void SetPhysicalNavigation(bool physical);
  void SetRange(const TFilterRange* range);
  // While suspended the bitmaps are not kept; resuming rebuilds them.
  void SetMaintenanceSuspended(bool suspended);
  bool MaintenanceSuspended() const { return suspended_; }
  // Every node evaluated record by record by the expression evaluator
  // itself (a check of the index answers and of the plain comparisons
  // tested on record bytes).
  void SetForceRecordByRecord(bool force) { force_scan_ = force; }
  void CheckForActiveFilters();
  bool FiltersInForce() const { return in_force_; }
  // The combined level of every filter (active or not).
  TOptimizeLevel GetFilterOptimizeLevel() const;
  // The level of a prepared tree's node (stored in its nodes); with the
  // count check, a leaf under an operator whose keys exceed 90 % of the
  // records is not optimised.
  TOptimizeLevel GetExpressionOptimizeLevel(std::uint8_t parent_operator, TExpToken* node, bool count_check,
                                            const TFilterFlags& options);

  // ---- bitmaps ----
  void UpdateAllFilters();
  void UpdateFilter(TFilter* filter);
  void RebuildFilterBitmap();
  // UpdateAllFilters then RebuildFilterBitmap: after a change of range,
  // index or the table under the cursor.
  void RefreshRangeAndFilters();
  // After a record was added or changed; after one was deleted.
  void UpdateRecordInBitmap(std::uint32_t n, const std::uint8_t* record);
  void DeleteRecordInBitmap(std::uint32_t n);
  std::uint32_t FilteredCount() const { return count_; }
  // Whether record n is visible under the filters (in force).
  bool Visible(std::uint32_t n) const;
  const TRecordsBitmap& Combined() const { return *combined_; }
  const TRecordsBitmap& RangeBitmap() const { return *range_bits_; }
  const TRecordsBitmap& LiveBitmap() const { return *live_; }
  // Update passes started again because the table changed under them.
  std::uint32_t Restarts() const { return restarts_; }

  // ---- single records and fields ----
  // Whether a record passes one filter.
  bool EvaluateFilterForRecord(const TFilter& filter, const std::uint8_t* record, std::uint32_t n);
  // The index-answered record numbers of a key range: count and collect
  // (exposed for the tests and the SQL layer's counts).
  std::uint32_t CountIndexedRecords(std::uint8_t slot, const std::uint8_t* low, const std::uint8_t* high);

  TFilterSource& Source() const { return source_; }

private:
  friend class TFilter;
  struct Bounds;  // a rank interval of one index

  [[noreturn]] void Fail(TEngineErrorCode code, const std::string& message = {}) const;
  TFilter* Checked(TFilter* filter) const;
  TExpToken* ParseAndPrepare(std::string_view text, const TFilterFlags& options);
  // A copy of the prepared tree of a text, from the kept ones or new.
  TExpToken* PreparedCopy(std::string_view text, const TFilterFlags& options);
  void SizeBitmaps();
  void UpdateRangeBitmap();
  void UpdateDeletedBitmap();
  void UpdateOne(TFilter& filter, std::size_t position);
  // One pass over `work`, restarted while the table changes under it.
  void Repeat(const std::function<void()>& work);

  // Evaluation of a node over the set B (the candidates): B becomes the
  // candidates that pass.
  void EvaluateFilter(TRecordsBitmap& bits, const TExpToken* node, const TFilter& filter);
  void EvaluateIndexed(TRecordsBitmap& bits, const TExpToken* node, const TFilter& filter);
  void NavigateNonIndexedRecords(TRecordsBitmap& bits, const TExpToken* node, const TFilter& filter);
  // The records of a rank interval of `slot` into `bits` (cleared first);
  // through the complement when that is shorter and allowed.
  void CollectRanks(std::uint8_t slot, std::uint32_t first, std::uint32_t last, bool complement,
                    TRecordsBitmap& bits);
  // The rank interval of a leaf node, false when it is not index-shaped.
  bool LeafRanks(const TExpToken* node, std::uint8_t op, const TExpToken* constant, std::uint8_t slot,
                 std::uint32_t& first, std::uint32_t& last);
  std::int32_t IndexForLeaf(const TExpToken* node) const;
  TOptimizeLevel LeafLevel(const TExpToken* node) const;

  static bool FieldValue(void* set, const void* record, TExpToken* result);
  static bool FieldLookup(void* set, TExpToken* node);

  TFilterSource& source_;
  std::vector<std::unique_ptr<TFilter>> filters_;
  TRecordsBitmap* combined_;
  TRecordsBitmap* range_bits_;
  TRecordsBitmap* live_;
  std::unique_ptr<TFilterRange> range_;
  std::uint32_t count_ = 0;
  std::uint32_t restarts_ = 0;
  bool in_force_ = false, physical_ = false, updating_ = false, suspended_ = false, force_scan_ = false;
  // The prepared texts kept (most recent first) and the fields they were
  // prepared for.
  struct PreparedText {
    std::string text;
    bool case_insensitive = false, no_partial_compare = false;
    TLocalePair locale;
    ExpTokenGuard tree;
  };
  std::vector<PreparedText> prepared_;
  std::vector<TFieldDefinition> prepared_fields_;
  // Evaluation context: the record being tested.
  std::uint32_t record_number_ = 0;
};

}  // namespace korvex
