#include "platform/dataset/datalink.h"

#include <algorithm>

namespace db {
namespace {

template <typename T>
void EraseItem(std::vector<T*>& items, T* item) {
  items.erase(std::remove(items.begin(), items.end(), item), items.end());
}

}  // namespace

// ---- TDataSource ------------------------------------------------------------

TDataSource::~TDataSource() {
  for (TDataLink* link : links_) {
    link->source_ = nullptr;
    link->active_ = link->editing_ = false;
  }
  links_.clear();
  if (dataset_) EraseItem(dataset_->data_sources_, this);
}

bool TDataSource::IsLinkedTo(TDataSet* dataset) const {
  return dataset && LinkChainReaches(dataset->GetDataSource(), nullptr, this);
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset && IsLinkedTo(dataset)) rtl::DatabaseError(msg::kCircularDataLink);
  if (dataset_) EraseItem(dataset_->data_sources_, this);
  dataset_ = dataset;
  if (dataset_) dataset_->data_sources_.push_back(this);
  UpdateState();
}

void TDataSource::SetEnabled(bool value) {
  enabled_ = value;
  UpdateState();
}

void TDataSource::UpdateState() {
  TDataSetState state = enabled_ && dataset_ ? dataset_->State() : dsInactive;
  if (state != state_) {
    state_ = state;
    if (OnStateChange) OnStateChange(this);
  }
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->UpdateState();
}

void TDataSource::NotifyLinks(TDataEvent event, std::intptr_t info) {
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->DataEvent(event, info);
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!enabled_) return;
  NotifyLinks(event, info);
  switch (event) {
    case deFieldChange:
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange)
        OnDataChange(this, event == deFieldChange ? reinterpret_cast<TField*>(info) : nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

// ---- TDataLink ----------------------------------------------------------------

TDataLink::~TDataLink() {
  if (source_) EraseItem(source_->links_, this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  if (source_) EraseItem(source_->links_, this);
  source_ = source;
  if (source_) source_->links_.push_back(this);
  UpdateState();
}

void TDataLink::UpdateState() {
  bool active = source_ && source_->Enabled() && DataSet() && DataSet()->Active();
  if (active != active_) {
    active_ = active;
    ActiveChanged();
  }
  TDataSetState state = active_ ? DataSet()->State() : dsInactive;
  bool editing = !ReadOnly && (state == dsEdit || state == dsInsert || state == dsSetKey);
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

bool TDataLink::Edit() {
  if (!ReadOnly && active_ && !editing_) DataSet()->Edit();
  return editing_;
}

void TDataLink::DataEvent(TDataEvent event, std::intptr_t info) {
  if (!active_) return;
  switch (event) {
    case deFieldChange: RecordChanged(reinterpret_cast<TField*>(info)); break;
    case deRecordChange: RecordChanged(nullptr); break;
    case deDataSetChange: DataSetChanged(); break;
    case deDataSetScroll: DataSetScrolled(static_cast<int>(info)); break;
    case deLayoutChange: LayoutChanged(); break;
    case deUpdateRecord: UpdateData(); break;
    case deCheckBrowseMode: CheckBrowseMode(); break;
    case deFocusControl: FocusControl(reinterpret_cast<TField*>(info)); break;
    default: break;
  }
}

}  // namespace db
