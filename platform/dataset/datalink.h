// TDataSource connects a dataset to data links; a TDataLink receives the
// dataset's changes (active state, record and field changes, scrolls,
// requests to store pending values) through the source.
#pragma once

#include <functional>
#include <vector>

#include "platform/dataset/dataset.h"
#include "platform/runtime/classes.h"

namespace db {

class TDataLink;

using TDataChangeEvent = std::function<void(TDataSource* sender, TField* field)>;

class TDataSource : public rtl::TComponent {
public:
  explicit TDataSource(rtl::TComponent* owner) : rtl::TComponent(owner) {}
  ~TDataSource() override;
  std::string ClassName() const override { return "TDataSource"; }

  TDataSet* DataSet() const { return dataset_; }
  // A dataset whose master sources lead back here raises "Circular
  // datalinks are not allowed".
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TDataSetState State() const { return state_; }
  // Whether `dataset`'s master sources lead to this source.
  bool IsLinkedTo(TDataSet* dataset) const;
  int LinkCount() const { return static_cast<int>(links_.size()); }

  rtl::TNotifyEvent OnStateChange, OnUpdateData;
  TDataChangeEvent OnDataChange;

private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent event, std::intptr_t info);
  void NotifyLinks(TDataEvent event, std::intptr_t info);
  void UpdateState();
  void DataSetGone() { dataset_ = nullptr; UpdateState(); }

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

class TDataLink {
public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const { return source_ ? source_->DataSet() : nullptr; }
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  bool ReadOnly = false;
  // Asks the dataset to enter edit mode; false when it cannot.
  bool Edit();

protected:
  friend class TDataSource;
  virtual void ActiveChanged() {}
  virtual void EditingChanged() {}
  virtual void RecordChanged(TField* field) {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int distance) { DataSetChanged(); }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void UpdateData() {}
  virtual void CheckBrowseMode() {}
  virtual void FocusControl(TField* field) {}

private:
  void DataEvent(TDataEvent event, std::intptr_t info);
  void UpdateState();
  TDataSource* source_ = nullptr;
  bool active_ = false, editing_ = false;
};

}  // namespace db
