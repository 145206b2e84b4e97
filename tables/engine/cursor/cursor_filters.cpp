// TDataCursor: its filters. The cursor's TFilterSet reaches the table
// through TCursorFilterSource. Each filter operation begins with the
// cursor's change detection; like every read of the cursor it takes the
// table's read lock when it first reads from the files and keeps it to its
// end. A pass of a bitmap update that saw the table change on the way
// (that lock's change detection found another writer's work and dropped the
// caches) built its bitmaps from two states of the table, and the update
// starts again; after three such restarts it takes the read lock at once,
// so a writer in a tight loop waits for it instead of overtaking it.
#include <array>
#include <cstring>

#include "tables/engine/base/scope_exit.h"
#include "tables/engine/cursor/data_cursor.h"
#include "tables/engine/table/data_table.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

class TDataCursor::TCursorFilterSource : public TFilterSource {
public:
  explicit TCursorFilterSource(TDataCursor& cursor) : cursor_(cursor) {}

  std::string FilterTableName() const override { return cursor_.name_; }
  // Filter expressions number the table's own fields as index keys do,
  // whatever view a field mapping gives the cursor; a mapping's renamed
  // and calculated fields follow them.
  const std::vector<TFieldDefinition>& FilterFields() const override {
    return cursor_.mapped_ ? cursor_.filter_fields_ : cursor_.physical_fields_;
  }
  TLocalePair FilterLocale() const override { return {cursor_.GetLanguageID(), cursor_.GetSortID()}; }
  std::uint32_t FilterPhysicalCount() override { return cursor_.table_->DataFile().GetPhysicalRecordsUsed(); }
  bool FilterReadRecord(std::uint32_t n, std::vector<std::uint8_t>& record) override {
    // A scan reads windows ahead, past the cache; records far apart are
    // read alone.
    TDataFile& data = cursor_.table_->DataFile();
    if (n > last_ && n - last_ <= kReadAheadGap) {
      last_ = n;
      record.resize(data.GetRecordSize());
      for (int attempt = 0; !data.ScanRecord(&cursor_, n, record.data()); ++attempt)
        if (attempt == 3) cursor_.Fail(err::kLockFailure);
      return Complete(record);
    }
    TRecord* r = cursor_.FetchRecordAlone(n);
    last_ = n;
    record = r->Data;
    data.PutRecord(r);
    return Complete(record);
  }
  // A record callback reads the cursor's view: calculated fields of a
  // mapping follow the table's bytes. True when the record is live.
  bool Complete(std::vector<std::uint8_t>& record) const {
    if (record[0] != 0) return false;
    if (cursor_.has_calculated_ && record.size() < cursor_.record_size_) {
      record.resize(cursor_.record_size_, 0);
      cursor_.CalculateExpressionFields(record.data());
    }
    return true;
  }
  TIndexFile* FilterIndexFile() override {
    TIndexFile& file = cursor_.table_->IndexFile();
    return file.IsOpen() ? &file : nullptr;
  }
  const TKeyComparator& FilterComparator(std::uint8_t slot) override {
    const TIndexFile& file = cursor_.table_->IndexFile();
    const TIndexDefinition& d = file.GetIndexDefinition(slot);
    Cached& c = comparators_[slot];
    // Indexes come and go: a slot's comparison is made again when its
    // definition is not the one it was made for.
    if (!c.compare || c.key_size != d.KeySize || c.fields != d.Fields || c.descending != d.Descending) {
      c.compare = slot == kSystemSlot ? std::make_unique<TKeyComparator>()
                                      : std::make_unique<TKeyComparator>(cursor_.GetLanguageID(), cursor_.GetSortID(),
                                                                         d, cursor_.physical_fields_);
      c.key_size = d.KeySize;
      c.fields = d.Fields;
      c.descending = d.Descending;
    }
    return *c.compare;
  }
  // The table's change count when the current pass began.
  void BeginPasses() { pass_changes_ = cursor_.table_->ChangeCount(); }
  bool FilterTableChanged() override {
    const std::uint64_t now = cursor_.table_->ChangeCount();
    const bool changed = now != pass_changes_;
    pass_changes_ = now;
    return changed;
  }
  void FilterHoldTable(bool hold) override {
    // Held from now to the end of the operation, which releases it.
    if (hold && !cursor_.table_->InternalReadLockHeld()) {
      cursor_.table_->ReadLockTable();
      pass_changes_ = cursor_.table_->ChangeCount();
    }
  }
  bool FilterOptimizes() const override {
    return !cursor_.table_->GetIsResultSet() || cursor_.table_->GetIsSourceTable();
  }
  std::string FilterReadBlob(int field, const std::uint8_t* record) override {
    const std::vector<std::uint8_t> content = cursor_.ReadBlobContent(field, record);
    return {content.begin(), content.end()};
  }

private:
  struct Cached {
    std::unique_ptr<TKeyComparator> compare;
    std::uint16_t key_size = 0;
    std::array<std::uint16_t, kMaxKeyFields> fields{};
    std::uint8_t descending = 0;
  };
  TDataCursor& cursor_;
  std::array<Cached, kIndexSlots> comparators_;
  std::uint32_t last_ = 0;  // the record read last
  std::uint64_t pass_changes_ = 0;
};

TFilterSet& TDataCursor::Filters() {
  RequireOpen();
  if (!filters_) {
    filter_source_ = std::make_unique<TCursorFilterSource>(*this);
    filters_ = std::make_unique<TFilterSet>(*filter_source_);
    filters_->SetMaintenanceSuspended(filter_upkeep_suspended_);
  }
  return *filters_;
}

void TDataCursor::FilterOperation(const std::function<void(TFilterSet&)>& operation) {
  RequireOpen();
  TFilterSet& set = Filters();
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  SyncFilterState();
  operation(set);
  table_->DataFile().DropScanWindow();
  filters_in_force_ = set.FiltersInForce();
  filter_changes_ = table_->ChangeCount();
  // The current record stays where the filters leave it visible.
  if (!IsPhysicalNavigation()) {
    RepositionCurrentRecord();
  } else if (!bof_ && !eof_ && current_ != 0 && !RecordVisible(current_)) {
    const std::uint32_t n = Neighbour(current_, 1);
    if (n != 0) {
      LoadCurrent(n);
    } else {
      current_ = 0;
      bof_ = false;
      eof_ = true;
    }
  }
}

void TDataCursor::SyncFilterState() {
  static_cast<TCursorFilterSource&>(*filter_source_).BeginPasses();
  filters_->SetPhysicalNavigation(IsPhysicalNavigation());
  if (range_active_ && !IsPhysicalNavigation()) {
    TFilterRange range;
    range.Slot = index_pos_;
    range.Low = range_start_;
    range.High = range_end_;
    range.LowLength = range_start_length_;
    range.HighLength = range_end_length_;
    filters_->SetRange(&range);
  } else {
    filters_->SetRange(nullptr);
  }
}

void TDataCursor::RefreshFilters() {
  if (!filters_ || !open_) return;
  SyncFilterState();
  filters_->RefreshRangeAndFilters();
  table_->DataFile().DropScanWindow();
  filters_in_force_ = filters_->FiltersInForce();
  filter_changes_ = table_->ChangeCount();
}

void TDataCursor::FilterRecordWritten(std::uint32_t n) {
  // Bitmaps already behind (another cursor wrote) are rebuilt by the next
  // read; bitmaps up to date follow this write record by record.
  const bool current = filter_changes_ == table_->ChangeCount();
  const bool ranks = live_changes_ == table_->ChangeCount();
  table_->NoteChange();
  if (ranks && NoteLive(n, true)) live_changes_ = table_->ChangeCount();
  if (!filters_ || !filters_in_force_ || !current) return;
  TRecord* record = FetchRecord(n, 1);
  const std::vector<std::uint8_t> data = record->Data;
  table_->DataFile().PutRecord(record);
  filters_->UpdateRecordInBitmap(n, data.data());
  filter_changes_ = table_->ChangeCount();
}

void TDataCursor::FilterRecordDeleted(std::uint32_t n) {
  const bool current = filter_changes_ == table_->ChangeCount();
  const bool ranks = live_changes_ == table_->ChangeCount();
  table_->NoteChange();
  if (ranks && NoteLive(n, false)) live_changes_ = table_->ChangeCount();
  if (!filters_ || !filters_in_force_ || !current) return;
  filters_->DeleteRecordInBitmap(n);
  filter_changes_ = table_->ChangeCount();
}

void TDataCursor::CopyFiltersFrom(TDataCursor& source) {
  RequireOpen();
  if (!source.filters_) return;
  ReadLock();
  ScopeExit release{[&] { ReadUnlock(); }};
  Filters();
  SyncFilterState();
  filters_->SetMaintenanceSuspended(source.filter_upkeep_suspended_);
  filter_upkeep_suspended_ = source.filter_upkeep_suspended_;
  filters_->CopyFilters(*source.filters_);
  table_->DataFile().DropScanWindow();
  filters_in_force_ = filters_->FiltersInForce();
  filter_changes_ = table_->ChangeCount();
}

TFilter* TDataCursor::AddFilter(std::uint32_t user_data, std::string_view text, TExpToken* tree, bool owns_tree,
                                TRecordFilter callback, const TFilterFlags& options) {
  RequireOpen();
  return Filters().AddFilter(user_data, text, tree, owns_tree, std::move(callback), options);
}

void TDataCursor::DropFilter(TFilter* filter) {
  FilterOperation([&](TFilterSet& set) { set.DropFilter(filter); });
}

void TDataCursor::ActivateFilter(TFilter* filter) {
  FilterOperation([&](TFilterSet& set) { set.ActivateFilter(filter); });
}

void TDataCursor::DeactivateFilter(TFilter* filter) {
  FilterOperation([&](TFilterSet& set) { set.DeactivateFilter(filter); });
}

void TDataCursor::ResetFilter(TExpToken* tree, TFilter* filter) {
  FilterOperation([&](TFilterSet& set) { set.ResetFilter(tree, filter); });
}

TOptimizeLevel TDataCursor::GetFilterOptimizeLevel() const {
  return filters_ ? filters_->GetFilterOptimizeLevel() : olNone;
}

void TDataCursor::SetFilterUpkeepSuspended(bool suspended) {
  filter_upkeep_suspended_ = suspended;
  if (open_ && filters_) FilterOperation([&](TFilterSet& set) { set.SetMaintenanceSuspended(suspended); });
}

bool TDataCursor::RecordVisible(std::uint32_t n) const { return !filters_ || filters_->Visible(n); }

}  // namespace korvex
