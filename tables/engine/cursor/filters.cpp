// TFilterSet: the list of filters, their state and the bitmaps that answer them.
#include "tables/engine/cursor/filters.h"

#include <algorithm>

#include "tables/engine/base/scope_exit.h"
#include "tables/engine/files/index_tree.h"
#include "tables/lib/expparser.h"

namespace korvex {
namespace {

// Restarts of an update before it keeps the table's read lock to its end.
constexpr int kFreeRestarts = 3;

}  // namespace

// ---- TFilter -------------------------------------------------------------------

TFilter::TFilter(TFilterSet& owner, std::uint32_t user_data, TExpToken* tree, bool owns_tree,
                 TRecordFilter callback, const TFilterFlags& options)
    : owner_(owner),
      owns_tree_(owns_tree),
      tree_(tree),
      user_data_(user_data),
      callback_(std::move(callback)),
      bitmap_(GetNewRecordsBitmapInstance()),
      options_(options) {
  bitmap_->SetNumOfBits(0);
}

TFilter::~TFilter() {
  if (owns_tree_) FreeExpressionTokens(tree_);
  ReturnRecordsBitmapInstance(bitmap_);
}

// ---- the list ------------------------------------------------------------------

TFilterSet::TFilterSet(TFilterSource& source)
    : source_(source),
      combined_(GetNewRecordsBitmapInstance()),
      range_bits_(GetNewRecordsBitmapInstance()),
      live_(GetNewRecordsBitmapInstance()) {
  // A spare from the pool keeps its former size: sized 0, the bitmaps are
  // built in full on first use instead of being taken as up to date.
  for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->SetNumOfBits(0);
}

TFilterSet::~TFilterSet() {
  filters_.clear();
  ReturnRecordsBitmapInstance(combined_);
  ReturnRecordsBitmapInstance(range_bits_);
  ReturnRecordsBitmapInstance(live_);
}

void TFilterSet::Fail(TEngineErrorCode code, const std::string& message) const {
  RaiseError(code, source_.FilterTableName(), {}, {}, message);
}

bool TFilterSet::Owns(const TFilter* filter) const {
  return std::any_of(filters_.begin(), filters_.end(), [&](const auto& f) { return f.get() == filter; });
}

TFilter* TFilterSet::Checked(TFilter* filter) const {
  if (filter && !Owns(filter)) Fail(err::kInvalidFilterHandle);
  return filter;
}

TFilter* TFilterSet::AddFilter(std::uint32_t user_data, std::string_view text, TExpToken* tree, bool owns_tree,
                               TRecordFilter callback, const TFilterFlags& options) {
  if (filters_.size() >= kMaxFilters) Fail(err::kTooManyFilters);
  ExpTokenGuard prepared;
  if (!text.empty()) {
    prepared.Reset(PreparedCopy(text, options));
    owns_tree = true;
    callback = nullptr;
  } else if (tree) {
    callback = nullptr;
  } else if (!callback) {
    Fail(err::kFilterError, "filter expression is empty");
  }
  TExpToken* expression = prepared ? prepared.get() : tree;
  std::unique_ptr<TFilter> filter(new TFilter(*this, user_data, expression, owns_tree, std::move(callback), options));
  prepared.Release();
  filter->level_ = filter->callback_ ? olNone : GetExpressionOptimizeLevel(0, filter->tree_, false, options);
  TFilter* handle = filter.get();
  auto at = filters_.end();
  if (!options.Narrowing)
    at = std::find_if(filters_.begin(), filters_.end(), [](const auto& f) { return f->Narrowing(); });
  filters_.insert(at, std::move(filter));
  return handle;
}

void TFilterSet::DropFilter(TFilter* filter) {
  Checked(filter);
  if (filter)
    filters_.erase(std::find_if(filters_.begin(), filters_.end(), [&](const auto& f) { return f.get() == filter; }));
  else
    filters_.clear();
  CheckForActiveFilters();
  RebuildFilterBitmap();
}

void TFilterSet::ActivateFilter(TFilter* filter) {
  Checked(filter);
  for (auto& f : filters_)
    if (!filter || f.get() == filter) f->active_ = true;
  CheckForActiveFilters();
  if (filter) UpdateFilter(filter);
  else UpdateAllFilters();
  RebuildFilterBitmap();
}

void TFilterSet::DeactivateFilter(TFilter* filter) {
  Checked(filter);
  for (auto& f : filters_)
    if (!filter || f.get() == filter) f->active_ = false;
  CheckForActiveFilters();
  RebuildFilterBitmap();
}

void TFilterSet::ResetFilter(TExpToken* tree, TFilter* filter) {
  Checked(filter);
  if (!tree || !filter || !filter->active_) return;
  if (filter->owns_tree_) FreeExpressionTokens(filter->tree_);
  filter->tree_ = tree;
  filter->owns_tree_ = true;
  filter->callback_ = nullptr;
  filter->level_ = GetExpressionOptimizeLevel(0, tree, false, filter->options_);
  CheckForActiveFilters();
  UpdateFilter(filter);
  RebuildFilterBitmap();
}

void TFilterSet::CopyFilters(const TFilterSet& other) {
  for (const auto& f : other.filters_) {
    TExpToken* tree = f->tree_ ? CopyExpressionTokens(f->tree_) : nullptr;
    ExpTokenGuard guard(tree);
    std::unique_ptr<TFilter> copy(new TFilter(*this, f->user_data_, tree, tree != nullptr, f->callback_, f->options_));
    guard.Release();
    copy->level_ = f->level_;
    copy->active_ = f->active_;
    filters_.push_back(std::move(copy));
  }
  CheckForActiveFilters();
  RefreshRangeAndFilters();
}

// ---- state ---------------------------------------------------------------------

void TFilterSet::SetPhysicalNavigation(bool physical) {
  physical_ = physical;
  CheckForActiveFilters();
}

void TFilterSet::SetRange(const TFilterRange* range) {
  range_ = range ? std::make_unique<TFilterRange>(*range) : nullptr;
}

void TFilterSet::SetMaintenanceSuspended(bool suspended) {
  if (suspended_ == suspended) return;
  suspended_ = suspended;
  if (!suspended_) RefreshRangeAndFilters();
}

void TFilterSet::CheckForActiveFilters() {
  in_force_ = physical_ || std::any_of(filters_.begin(), filters_.end(), [](const auto& f) { return f->active_; });
  if (!in_force_) {
    for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->SetNumOfBits(0);
    count_ = 0;
  }
}

TOptimizeLevel TFilterSet::GetFilterOptimizeLevel() const {
  if (filters_.empty()) return olNone;
  TOptimizeLevel level = filters_.front()->level_;
  for (std::size_t i = 1; i < filters_.size(); ++i) {
    const TOptimizeLevel next = filters_[i]->level_;
    if (level == olFull && next == olFull) continue;
    if (level == olNone && next == olNone) continue;
    level = olPartial;
  }
  return level;
}

// ---- bitmaps -------------------------------------------------------------------

void TFilterSet::Repeat(const std::function<void()>& work) {
  bool holding = false;
  ScopeExit release{[&] {
    if (holding) source_.FilterHoldTable(false);
  }};
  for (int attempt = 0;; ++attempt) {
    work();
    if (!source_.FilterTableChanged()) break;
    ++restarts_;
    if (attempt + 1 == kFreeRestarts && !holding) {
      source_.FilterHoldTable(true);
      holding = true;
    }
  }
}

void TFilterSet::SizeBitmaps() {
  const auto n = static_cast<std::int32_t>(source_.FilterPhysicalCount());
  for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->SetNumOfBits(n);
  for (auto& f : filters_) f->bitmap_->SetNumOfBits(n);
}

void TFilterSet::UpdateRangeBitmap() {
  if (!range_) return;
  TIndexFile* file = source_.FilterIndexFile();
  if (!file) {
    range_bits_->SetBits();
    return;
  }
  TIndexTree tree(*file, range_->Slot, source_.FilterComparator(range_->Slot));
  bool found = false;
  const std::uint32_t first = range_->LowLength ? tree.Find(range_->Low.data(), range_->LowLength, found) : 1;
  const std::uint32_t last =
      range_->HighLength ? tree.FindAbove(range_->High.data(), range_->HighLength) - 1 : tree.Count();
  CollectRanks(range_->Slot, first, last, source_.FilterLocale().Language == 0, *range_bits_);
}

void TFilterSet::UpdateDeletedBitmap() {
  TIndexFile* file = source_.FilterIndexFile();
  const std::uint32_t physical = source_.FilterPhysicalCount();
  if (file && file->GetIndexDefinition(kSystemSlot).KeySize == 5) {
    static const TKeyComparator bytes;
    TIndexTree tree(*file, kSystemSlot, bytes);
    const std::uint32_t total = tree.Count();
    if (total == physical) {
      const std::uint8_t deleted = 1;
      bool found = false;
      const std::uint32_t first = tree.Find(&deleted, 1, found);
      live_->ClearBits();
      auto take = [&](std::uint32_t record) {
        if (record >= 1 && record <= physical) live_->SetBit(static_cast<std::int32_t>(record));
      };
      if (first <= total) tree.ScanRecords(first, total - first + 1, take);
      live_->NotBits();
      return;
    }
  }
  // No upkept system index: the records themselves say.
  std::vector<std::uint8_t> record;
  live_->ClearBits();
  for (std::uint32_t n = 1; n <= physical; ++n)
    if (source_.FilterReadRecord(n, record)) live_->SetBit(static_cast<std::int32_t>(n));
}

void TFilterSet::UpdateOne(TFilter& filter, std::size_t position) {
  TRecordsBitmap& bits = *filter.bitmap_;
  live_->GetTotalBitsSet();  // counted once; copies take the count along
  bits.Assign(*live_);
  if (range_) bits.AndBits(*range_bits_);
  if (filter.Narrowing() && filter.level_ != olFull)
    for (std::size_t i = 0; i < position; ++i)
      if (filters_[i]->active_) bits.AndBits(*filters_[i]->bitmap_);
  if (filter.callback_ || !filter.tree_) {
    if (filter.callback_) NavigateNonIndexedRecords(bits, nullptr, filter);
    return;
  }
  EvaluateFilter(bits, filter.tree_, filter);
}

void TFilterSet::UpdateAllFilters() {
  if (updating_ || suspended_) return;
  updating_ = true;
  ScopeExit done{[&] { updating_ = false; }};
  Repeat([this] {
    if (!in_force_) return;
    SizeBitmaps();
    if (combined_->NumOfBits() == 0) return;
    UpdateRangeBitmap();
    UpdateDeletedBitmap();
    for (std::size_t i = 0; i < filters_.size(); ++i)
      if (filters_[i]->active_) UpdateOne(*filters_[i], i);
  });
}

void TFilterSet::UpdateFilter(TFilter* filter) {
  if (updating_ || suspended_ || !filter->active_) return;
  const auto n = static_cast<std::int32_t>(source_.FilterPhysicalCount());
  if (live_->NumOfBits() != n || combined_->NumOfBits() != n) {
    UpdateAllFilters();
    return;
  }
  std::size_t position = 0;
  while (filters_[position].get() != filter) ++position;
  updating_ = true;
  ScopeExit done{[&] { updating_ = false; }};
  Repeat([&] {
    filter->bitmap_->SetNumOfBits(n);
    UpdateOne(*filter, position);
  });
}

void TFilterSet::RebuildFilterBitmap() {
  if (updating_ || suspended_ || !in_force_) return;
  live_->GetTotalBitsSet();
  combined_->Assign(*live_);
  combined_->SetNumOfBits(live_->NumOfBits());
  if (range_) combined_->AndBits(*range_bits_);
  for (auto& f : filters_)
    if (f->active_) combined_->AndBits(*f->bitmap_);
  count_ = combined_->NumOfBits() == 0 ? 0 : static_cast<std::uint32_t>(combined_->GetTotalBitsSet());
}

void TFilterSet::RefreshRangeAndFilters() {
  UpdateAllFilters();
  RebuildFilterBitmap();
}

void TFilterSet::UpdateRecordInBitmap(std::uint32_t n, const std::uint8_t* record) {
  if (!in_force_ || suspended_ || n == 0) return;
  const auto bit = static_cast<std::int32_t>(n);
  if (bit > combined_->NumOfBits()) {
    for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->SetNumOfBits(bit);
    for (auto& f : filters_) f->bitmap_->SetNumOfBits(bit);
  }
  const bool was = combined_->IsBitSet(bit);
  bool visible = true;
  if (range_) {
    TIndexFile* file = source_.FilterIndexFile();
    bool in_range = true;
    if (file) {
      const TIndexDefinition& index = file->GetIndexDefinition(range_->Slot);
      std::vector<std::uint8_t> key(index.KeySize);
      const TLocalePair locale = source_.FilterLocale();
      BuildIndexKey(index, source_.FilterFields(), locale.Language, locale.Sort, record, key.data());
      const TKeyComparator& compare = source_.FilterComparator(range_->Slot);
      in_range = (range_->LowLength == 0 || compare.CompareKeys(range_->Low.data(), key.data(), range_->LowLength) <= 0) &&
                 (range_->HighLength == 0 || compare.CompareKeys(key.data(), range_->High.data(), range_->HighLength) <= 0);
    }
    if (in_range) range_bits_->SetBit(bit);
    else range_bits_->ClearBit(bit);
    visible = in_range;
  }
  live_->SetBit(bit);
  for (auto& f : filters_) {
    if (!f->active_) continue;
    const bool pass = EvaluateFilterForRecord(*f, record, n);
    if (pass) f->bitmap_->SetBit(bit);
    else f->bitmap_->ClearBit(bit);
    visible = visible && pass;
  }
  if (visible) combined_->SetBit(bit);
  else combined_->ClearBit(bit);
  if (visible && !was) ++count_;
  if (!visible && was) --count_;
}

void TFilterSet::DeleteRecordInBitmap(std::uint32_t n) {
  if (!in_force_ || suspended_ || n == 0 || n > static_cast<std::uint32_t>(combined_->NumOfBits())) return;
  const auto bit = static_cast<std::int32_t>(n);
  // Only a record that was counted lowers the count.
  if (combined_->IsBitSet(bit)) --count_;
  for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->ClearBit(bit);
  for (auto& f : filters_) f->bitmap_->ClearBit(bit);
}

bool TFilterSet::Visible(std::uint32_t n) const {
  if (!in_force_) return true;
  return n >= 1 && n <= static_cast<std::uint32_t>(combined_->NumOfBits()) &&
         combined_->IsBitSet(static_cast<std::int32_t>(n));
}

}  // namespace korvex
