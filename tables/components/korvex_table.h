// TKORVEXTable: a dataset over one table of its database, opened by name.
// It keeps the framework's field and index definitions in step with the
// table's, offers keys, ranges and master-detail links, and wraps the
// engine's whole-table work (create, delete, empty, rename, copy, repair,
// restructure, indexes), locks and header values.
//
// Work on a closed table goes through a temporary cursor of its own; every
// such operation, and every one that holds the database for a moment
// (header reads dbfTable, field definitions dbfFieldList, index
// definitions dbfIndexList), holds both in a TTableWork that closes and
// frees the cursor and clears the flag on every path, a failing one too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dataset/datalink.h"
#include "platform/dataset/defs.h"
#include "platform/dataset/variant.h"
#include "tables/components/datasets.h"
#include "tables/components/restructure_defs.h"
#include "tables/engine/base/maintenance_callbacks.h"

namespace rtl {
class TStream;
}

namespace korvex {

using TProgressEvent = std::function<void(rtl::TObject* sender, int current_record, std::uint16_t percent_done)>;
using TLogEvent = std::function<void(rtl::TObject* sender, const std::string& log_message)>;
using TUpgradeProgressEvent =
    std::function<void(rtl::TObject* sender, const std::string& upgrade_step, std::uint16_t percent_done)>;
using TDataLostEvent = std::function<void(rtl::TObject* sender, TDataLossCause cause, const std::string& context_info,
                                          bool& continue_restructure, bool& stop_asking)>;

// What RestructureTable passes besides the two lists.
struct TRestructureSettings {
  std::uint16_t LanguageID = 0, SortID = 0;
  std::uint16_t UserMajorVersion = 1, UserMinorVersion = 0;
  bool Encrypted = false;
  std::string Password, Description;
  std::uint16_t BlobBlockSize = 512;
  std::int32_t LastAutoIncValue = -1;  // -1 keeps the table's
  bool NoBackup = false;
};

class TKORVEXTable : public TKORVEXDBDataSet {
public:
  explicit TKORVEXTable(rtl::TComponent* owner = nullptr);
  ~TKORVEXTable() override;
  std::string ClassName() const override { return "TKORVEXTable"; }

  // ---- properties
  std::string EngineVersion() const;
  void SetEngineVersion(const std::string&) {}
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value);
  bool InMemory() const { return in_memory_; }
  // True also turns DatabaseName into "Memory".
  void SetInMemory(bool value);
  // A directory part moves into DatabaseName (unless InMemory).
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name);
  std::string IndexName() const { return field_names_index_ ? std::string() : index_text_; }
  void SetIndexName(const std::string& name);
  std::string IndexFieldNames() const { return field_names_index_ ? index_text_ : std::string(); }
  void SetIndexFieldNames(const std::string& names);
  bool StoreDefs = false;
  db::TIndexDefs& IndexDefs() { return index_defs_; }
  TRestructureFieldDefs& RestructureFieldDefs() { return restructure_fields_; }
  TRestructureIndexDefs& RestructureIndexDefs() { return restructure_indexes_; }
  // Every change of the table's properties marks the index definitions and
  // both restructure lists out of date (opening does too), then tells the
  // data sources.
  void PropertyChanged() override;
  // A definition changed: the definitions are to be kept with the form.
  // The table's own work that changes its fields or indexes (CreateTable
  // filling the field definitions, AddIndex, DeleteIndex,
  // DeleteAllIndexes, RestructureTable) calls it.
  void DefChanged() { StoreDefs = true; }

  TProgressEvent OnRepairProgress, OnIndexProgress, OnCopyProgress, OnOptimizeProgress, OnRestructureProgress;
  TLogEvent OnRepairLog, OnUpgradeLog;
  TUpgradeProgressEvent OnUpgradeProgress;
  TDataLostEvent OnDataLost;

  // ---- definitions
  // The field definitions from the table (open or not): "Missing table name.".
  void UpdateFieldDefs();
  void UpdateIndexDefs();
  // The non-empty index names.
  std::vector<std::string> GetIndexNames();

  // ---- keys and ranges over the current index
  // Key values for the first fields of the index (fewer values: a partial
  // key). Exact searches leave the dataset where it was when nothing
  // matches; nearest ones stand on the first key not below.
  bool FindKey(const std::vector<db::Variant>& values);
  void FindNearest(const std::vector<db::Variant>& values);
  // The lookup key buffer edited through the fields (dsSetKey), then used.
  void SetKey();
  void EditKey();
  bool GotoKey();
  void GotoNearest();
  // The range buffers edited through the fields; ApplyRange uses them.
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  void ApplyRange();
  void CancelRange();
  void SetRange(const std::vector<db::Variant>& start, const std::vector<db::Variant>& end);
  bool RangeActive() const;
  // Moves to the record another table over the same table file stands on
  // ("Source and destination tables are incompatible." for another file).
  void GotoCurrent(TKORVEXTable& other);

  // The cursor Locate keeps for fields of another index (nullptr: none
  // kept), and how many such cursors this table has made.
  TDataCursor* LookupCursor() const { return lookup_cursor_.get(); }
  std::uint32_t LookupCursorsMade() const { return lookup_cursors_made_; }

  // ---- master-detail
  // "Circular datalinks are not allowed" for a source that leads back here.
  void SetMasterSource(db::TDataSource* source);
  db::TDataSource* MasterSource() const { return master_link_.DataSource(); }
  void SetMasterFields(const std::string& names) { master_link_.SetFieldNames(names); }
  const std::string& MasterFields() const { return master_link_.FieldNames(); }
  db::TDataSource* GetDataSource() const override { return master_link_.DataSource(); }

  // ---- whole-table work
  // The table must be closed. Without field definitions every persistent
  // data field adds one. More than 1024 fields raise engine error 9492,
  // more than 33 indexes 9487, before anything is made.
  void CreateTable();
  void DeleteTable();
  void EmptyTable();
  void RenameTable(const std::string& new_name);
  void CopyTable(const std::string& new_name);
  void RepairTable();
  // On the closed table: rewritten in the order of the index ("" the
  // primary), the old files kept unless no_backup; brought up from an
  // older table version.
  void OptimizeTable(const std::string& index_name, bool no_backup);
  void UpgradeTable();
  void RestructureTable(const TRestructureSettings& settings);
  // On the open table (browse mode first) or a temporary exclusive cursor;
  // ixPrimary adds the primary index.
  void AddIndex(const std::string& name, const std::string& fields, db::TIndexOptions options);
  void DeleteIndex(const std::string& name);
  void DeleteAllIndexes();

  // ---- locks
  void LockTable();
  void UnlockTable();
  bool TableIsLocked();
  bool RecordIsLocked();
  bool LockSemaphore(int semaphore);
  bool UnlockSemaphore(int semaphore);

  // ---- streams
  void SaveToStream(rtl::TStream& stream);
  void LoadFromStream(rtl::TStream& stream);

  // ---- header values (own cursor, or a shared temporary one)
  bool Exists();
  std::uint32_t PhysicalRecordCount();
  std::uint32_t BlobBlockSize();
  std::uint32_t LastAutoIncValue();
  // The table version as the engine writes it ("2.00").
  std::string VersionNum();
  std::uint16_t UserMajorVersion();
  std::uint16_t UserMinorVersion();
  std::uint16_t LanguageID();
  std::uint16_t SortID();
  bool Encrypted();
  // In clear, also of an encrypted table.
  std::string Password();
  std::string Description();
  double LastUpdated();
  std::string FullTableName() const;

  // The definitions in engine form as CreateTable would hand them over
  // (index 0 the primary; a blank one when the list has none).
  void EncodeDefinitions(std::vector<TFieldDefinition>& fields, std::vector<TIndexDefinition>& indexes,
                         int& secondary_count);

protected:
  TDataCursor* CreateHandle() override;
  void DestroyHandle() override;
  void PrepareCursor() override;
  bool GetCanModify() override;
  void InternalInitFieldDefs() override;
  void DoOnNewRecord() override;
  TDataCursor* GetLookupCursor(const std::string& key_fields, bool case_insensitive) override;
  void DestroyLookupCursor() override;
  std::string DatabaseNameFor(const std::string& name) const override;

private:
  friend class TTableWork;
  // A cursor on the table with the table's settings and the session's
  // password callback; opened when asked.
  std::unique_ptr<TDataCursor> NewCursor(bool open, bool exclusive);
  // The index to open: empty for the primary; with the field-names flag
  // the name of the index on those fields ("No index for fields '%s'").
  std::string GetIndexParams(const std::string& text, bool field_names);
  void SetIndex(const std::string& text, bool field_names);
  void CheckTableName() const;
  // A header value as the own cursor, or a shared temporary one, answers it.
  template <typename Get>
  auto ReadHeader(Get get);
  void MarkDefinitionsOutOfDate();
  // DatabaseName and TableName as one text (the table the restructure
  // field list was read from is remembered this way).
  std::string TableIdentity() const;
  void FillRestructureFieldDefs();
  void FillRestructureIndexDefs();
  void SetCallbacks(TDataCursor& cursor);
  // Work on the closed table through an exclusive temporary cursor that
  // reports through this table's events.
  void OnClosedTable(const std::function<void(TDataCursor&)>& work);
  // Runs `work` on the open table, then reads the dataset again from its
  // first record, also when `work` fails.
  void RereadAfter(const std::function<void()>& work);
  // Key field names and numbers through the field definitions.
  FieldNameOf FieldNameByNumber();
  FieldNumberOf FieldNumberByName();

  // The lookup key buffer searched exactly or for the nearest key.
  bool SearchKey(bool nearest);
  // The master's current values as the range of the detail.
  void ApplyMasterRange();
  void CheckMasterRange();

  TKORVEXMasterDataLink master_link_{this};
  bool exclusive_ = false, read_only_ = false, in_memory_ = false;
  bool field_names_index_ = false;
  std::string table_name_;
  std::string index_text_;
  db::TIndexDefs index_defs_;
  bool index_defs_up_to_date_ = false;
  TRestructureFieldDefs restructure_fields_;
  TRestructureIndexDefs restructure_indexes_;
  // The table the restructure field list was last read from ("" never).
  std::string restructure_source_;
  // OnDataLost stopped the last restructure (the table stayed as it was).
  bool restructure_stopped_ = false;
  // The lookup cursor and what it was asked for (kept also when no index
  // served: the answer is then nullptr until something changes).
  std::unique_ptr<TDataCursor> lookup_cursor_;
  bool lookup_asked_ = false, lookup_case_insensitive_ = false;
  std::string lookup_fields_;
  std::uint32_t lookup_cursors_made_ = 0;
};

}  // namespace korvex
