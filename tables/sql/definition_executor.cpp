#include "tables/sql/definition_executor.h"

#include <algorithm>
#include <functional>

#include "platform/runtime/sysutils.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/maintenance/table_restructure.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tables/lib/names.h"
#include "tables/sql/statement.h"

namespace korvex {

namespace {

[[noreturn]] void Fail(const std::string& message) { RaiseError(err::kSqlError, {}, {}, {}, message); }

constexpr std::size_t kMaxNameLength = 30;
constexpr std::size_t kMaxTextLength = 50;

std::string Cut(const std::string& text, std::size_t length) { return text.substr(0, length); }

// The size or decimals of a column's written type.
void ApplyType(TFieldDefinition& f, const TCreateField& column) {
  f.DataType = column.DataType;
  f.SubType = column.SubType;
  f.Size = 0;
  f.Decimals = 0;
  if (column.DataType == dtString)
    f.Size = static_cast<std::uint8_t>(std::clamp(column.Size - 1, 0, 255));
  else if (IsBytesType(column.DataType))
    f.Size = static_cast<std::uint8_t>(std::clamp(column.Size, 0, 255));
  else if (column.DataType == dtBCD)
    f.Decimals = column.Scale;
}

// The options a column definition gives (all of them when `all`).
void ApplyOptions(TFieldDefinition& f, const TCreateField& column, bool all) {
  if (all || column.DescriptionGiven) f.Description = Cut(column.Description, kMaxTextLength);
  if (all || column.RequiredGiven) f.Required = column.Required ? 1 : 0;
  if (all || column.CharCaseGiven) f.CharCase = column.CharCase;
  if (all || column.DefaultGiven) f.Default = Cut(column.DefaultValue, kMaxTextLength);
  if (all || column.MinGiven) f.Minimum = Cut(column.MinValue, kMaxTextLength);
  if (all || column.MaxGiven) f.Maximum = Cut(column.MaxValue, kMaxTextLength);
}

TFieldDefinition NewField(const TCreateField& column, std::uint16_t number) {
  TFieldDefinition f;
  f.FieldNumber = number;
  f.Name = Cut(column.FieldName, kMaxNameLength);
  ApplyType(f, column);
  ApplyOptions(f, column, true);
  return f;
}

// An index definition with its key fields numbered by `number_of` (0 when
// a name matches no field).
TIndexDefinition NewIndex(const TCreateIndex& index, const std::function<std::uint16_t(const std::string&)>& number_of) {
  TIndexDefinition d;
  d.Name = Cut(index.IndexName, kMaxNameLength);
  d.Unique = index.Unique ? 1 : 0;
  d.Descending = index.Descending ? 1 : 0;
  d.CaseInsensitive = index.CaseInsensitive ? 1 : 0;
  d.Compression = index.Compression;
  const std::size_t count = std::min<std::size_t>(index.KeyFieldNames.size(), kMaxKeyFields);
  d.FieldCount = static_cast<std::uint8_t>(count);
  for (std::size_t i = 0; i < count; ++i) d.Fields[i] = number_of(index.KeyFieldNames[i]);
  return d;
}

int FindField(const std::vector<TFieldDefinition>& fields, const std::string& name) {
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (rtl::AnsiSameText(fields[i].Name, name)) return static_cast<int>(i);
  return -1;
}

// A column's type as a statement writes it.
std::string TypeText(const TFieldDefinition& f) {
  switch (f.DataType) {
    case dtString: return "CHAR(" + std::to_string(f.Size) + ")";
    case dtDate: return "DATE";
    case dtBlob: return "BLOB";
    case dtBoolean: return "BOOLEAN";
    case dtSmallInt: return "SMALLINT";
    case dtInteger: return f.IsAutoIncrement() ? "AUTOINC" : "INTEGER";
    case dtFloat: return f.SubType == fstMoney ? "MONEY" : "FLOAT";
    case dtBCD: return "DECIMAL with " + std::to_string(f.Decimals) + " decimals";
    case dtTime: return "TIME";
    case dtTimeStamp: return "TIMESTAMP";
    case dtWord: return "WORD";
    default: return "BYTES(" + std::to_string(f.Size) + ")";
  }
}

// The checks of a column that a record can fail, as a statement writes them.
std::string ChecksText(const TFieldDefinition& f) {
  std::string text;
  auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (f.Required) add("NOT NULL");
  if (!f.Minimum.empty()) add("MINIMUM " + f.Minimum);
  if (!f.Maximum.empty()) add("MAXIMUM " + f.Maximum);
  return text;
}

// Watches a restructure for ALTER TABLE: the dropping of a column's values
// goes on (the statement asked for it); the first record that could not be
// carried over whole stops the work, which then leaves the table as it was.
// Records are counted by the restructure's progress, one report after each
// physical record, so the record at fault is the one after the last report.
class TDataLossWatch {
public:
  explicit TDataLossWatch(TDataCursor& cursor) {
    cursor.SetRestructureProgressCallback(&Progress, this);
    cursor.SetDataLostCallback(&Lost, this);
  }

  bool Stopped() const { return stopped_; }
  TDataLossCause Cause() const { return cause_; }
  const std::string& Context() const { return context_; }
  std::uint32_t Record() const { return record_; }

private:
  static bool Progress(void* user, std::uint32_t step, std::uint8_t) {
    static_cast<TDataLossWatch*>(user)->done_ = step;
    return true;
  }
  static bool Lost(void* user, TDataLossCause cause, const std::string& context, bool& stop_asking,
                   bool& continue_restructure) {
    auto* watch = static_cast<TDataLossWatch*>(user);
    if (cause == dlFieldDeletion) return true;
    watch->stopped_ = true;
    watch->cause_ = cause;
    watch->context_ = context;
    watch->record_ = watch->done_ + 1;
    stop_asking = true;
    continue_restructure = false;
    return true;
  }

  std::uint32_t done_ = 0;
  bool stopped_ = false;
  TDataLossCause cause_ = dlUnknown;
  std::string context_;
  std::uint32_t record_ = 0;
};

}  // namespace

TDefinitionExecutor::TDefinitionExecutor(TDataQuery& query) : query_(query) {}

TDefinitionExecutor::~TDefinitionExecutor() {
  if (own_directory_ && directory_) directory_->Session()->CloseDataDirectory(directory_);
}

TDataDirectory* OpenTableLocation(TDataDirectory* base, const std::string& name, bool in_memory, bool plain_to_private,
                                  std::string& table_name, bool& owned) {
  owned = false;
  const std::size_t cut = name.find_last_of("/\\:");
  table_name = cut == std::string::npos ? name : name.substr(cut + 1);
  if (in_memory) return base;
  std::string path;
  if (ContainsDirectory(name)) path = cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
  else if (plain_to_private) path = base->Session()->GetPrivateDirectory();
  else return base;
  owned = true;
  return base->Session()->OpenDataDirectory(path, path);
}

void TDefinitionExecutor::Prepare() {
  if (query_.StatementKind == skDropIndex && !query_.CreateIndexes.Empty())
    index_name_ = query_.CreateIndexes[0]->IndexName;
  directory_ = OpenTableLocation(query_.Statement->DataDirectory(), query_.ResultTableName, query_.InMemory, false,
                                 table_name_, own_directory_);
}

std::unique_ptr<TDataCursor> TDefinitionExecutor::NewCursor(bool open) {
  auto cursor = std::make_unique<TDataCursor>(directory_);
  cursor->SetTableName(table_name_);
  cursor->SetExclusive(true);
  cursor->SetInMemory(query_.InMemory);
  query_.GivePasswordCallback(*cursor, table_name_);
  if (open) cursor->OpenCursor();
  return cursor;
}

void TDefinitionExecutor::Execute() {
  switch (query_.StatementKind) {
    case skCreateTable: CreateTable(); break;
    case skCreateIndex: CreateIndex(); break;
    case skAlterTable: AlterTable(); break;
    case skDropTable: DropTable(); break;
    case skDropIndex: DropIndex(); break;
    default: break;
  }
}

void TDefinitionExecutor::CreateTable() {
  std::vector<TFieldDefinition> fields;
  std::uint16_t number = 0;
  for (const TCreateField* column : query_.CreateFields) fields.push_back(NewField(*column, ++number));
  auto number_of = [&](const std::string& name) {
    const int i = FindField(fields, name);
    return static_cast<std::uint16_t>(i < 0 ? 0 : i + 1);
  };
  TTableCreation creation;
  creation.Indexes.emplace_back();  // no primary key
  for (const TCreateIndex* index : query_.CreateIndexes) {
    if (!index->IndexName.empty()) continue;
    creation.Indexes[0] = NewIndex(*index, number_of);
  }
  FillTableSettings(query_, query_.LanguageID, query_.SortID, creation.Settings);
  creation.Settings.Password = query_.Password;
  auto cursor = NewCursor(false);
  cursor->SetIsTemporary(false);
  cursor->SetIsResultSet(false);
  // DEFAULT, MINIMUM and MAXIMUM texts are dates and numbers in the formats
  // of the table's language, the formats its header is read in.
  LanguageSettingsScope settings(creation.Settings.LanguageID, creation.Settings.SortID);
  cursor->CreateTable(creation, fields);
}

void TDefinitionExecutor::CreateIndex() {
  auto cursor = NewCursor(true);
  std::vector<TFieldDefinition> fields;
  for (int i = 1; i <= cursor->GetFieldCount(); ++i) fields.push_back(cursor->GetFieldDefinitionByPos(i));
  auto number_of = [&](const std::string& name) {
    const int i = FindField(fields, name);
    return static_cast<std::uint16_t>(i < 0 ? 0 : i + 1);
  };
  for (const TCreateIndex* index : query_.CreateIndexes) {
    TIndexDefinition d = NewIndex(*index, number_of);
    cursor->AddSecondaryIndex(d);
  }
  cursor->CloseCursor();
}

void TDefinitionExecutor::DropTable() {
  auto cursor = NewCursor(false);
  cursor->SetIsTemporary(false);
  cursor->SetIsResultSet(false);
  cursor->DeleteTable();
}

void TDefinitionExecutor::DropIndex() {
  auto cursor = NewCursor(true);
  if (rtl::AnsiSameText(index_name_, "PRIMARY")) cursor->DeleteIndexByPos(0);
  else cursor->DeleteIndex(index_name_);
  cursor->CloseCursor();
}

void FillTableSettings(const TDataQuery& query, std::uint16_t language, std::uint16_t sort,
                       TDataFileSettings& settings) {
  settings.LanguageID = language;
  settings.SortID = sort;
  settings.BlobBlockSize = query.BlobBlockSize;
  settings.Description = query.Description;
  settings.UserMajorVersion = query.UserMajorVersion;
  settings.UserMinorVersion = query.UserMinorVersion;
  settings.Encrypted = query.Encrypted && !query.Password.empty();
}

void TDefinitionExecutor::ApplyGivenSettings(TDataFileSettings& settings) const {
  if (query_.LanguageGiven) settings.LanguageID = query_.LanguageID;
  if (query_.SortGiven) settings.SortID = query_.SortID;
  if (query_.DescriptionGiven) settings.Description = query_.Description;
  if (query_.BlockSizeGiven) settings.BlobBlockSize = query_.BlobBlockSize;
  if (query_.MajorVersionGiven) settings.UserMajorVersion = query_.UserMajorVersion;
  if (query_.MinorVersionGiven) settings.UserMinorVersion = query_.UserMinorVersion;
  if (query_.EncryptionGiven) {
    settings.Password = query_.Password;
    settings.Encrypted = !query_.Password.empty();
  }
}

void TDefinitionExecutor::AlterTable() {
  TRestructureRequest request;
  std::vector<TFieldDefinition> old_fields;
  bool has_records = false;
  {
    auto cursor = NewCursor(true);
    for (int i = 1; i <= cursor->GetFieldCount(); ++i) old_fields.push_back(cursor->GetFieldDefinitionByPos(i));
    // Key fields by identity: the field number of the field at a position.
    const std::uint8_t positions = cursor->GetIndexCount();
    for (std::uint8_t p = 0; p <= positions; ++p) {
      TIndexDefinition d;
      if (p == 0 && cursor->GetNoPrimaryIndex()) {
        request.Indexes.push_back(d);
        continue;
      }
      cursor->GetIndexDefinition(p, d);
      for (int k = 0; k < kMaxKeyFields && d.Fields[k] != 0; ++k)
        if (d.Fields[k] <= old_fields.size()) d.Fields[k] = old_fields[d.Fields[k] - 1].FieldNumber;
      request.Indexes.push_back(d);
    }
    TDataHeader header;
    cursor->GetDataHeader(header);
    request.Settings.LanguageID = header.LanguageID;
    request.Settings.SortID = header.SortID;
    request.Settings.UserMajorVersion = header.UserMajorVersion;
    request.Settings.UserMinorVersion = header.UserMinorVersion;
    request.Settings.Encrypted = header.Encrypted != 0;
    request.Settings.Password = cursor->GetPassword();
    request.Settings.Description = header.Description;
    request.Settings.BlobBlockSize = static_cast<std::uint16_t>(header.BlobBlockSize());
    has_records = cursor->GetRecordCount() > 0;
    cursor->CloseCursor();
  }
  const bool had_primary = !request.Indexes.empty() && request.Indexes[0].FieldCount != 0;

  // The new field list, change by change.
  std::vector<TFieldDefinition> fields = old_fields;
  std::uint16_t next_number = 0;
  for (const TFieldDefinition& f : old_fields) next_number = std::max(next_number, f.FieldNumber);
  std::vector<TFieldDefinition> dropped;
  for (const TCreateField* column : query_.CreateFields) {
    if (column->PositionGiven && (column->Position < 1 || column->Position > static_cast<int>(fields.size())))
      Fail("AT column position must be between 1 and " + std::to_string(fields.size()));
    if (column->Add) {
      // Every record would fail the new column's check.
      if (column->Required && column->DefaultValue.empty() && has_records)
        Fail("Cannot add a NOT NULL column with default value NULL: column " + column->FieldName +
             ", the table has records");
      TFieldDefinition f = NewField(*column, ++next_number);
      if (column->PositionGiven) fields.insert(fields.begin() + (column->Position - 1), f);
      else fields.push_back(f);
      continue;
    }
    const int at = FindField(fields, column->FieldName);
    if (at < 0) Fail("Column " + column->FieldName + " not found");
    if (column->Drop) {
      dropped.push_back(fields[static_cast<std::size_t>(at)]);
      fields.erase(fields.begin() + at);
      continue;
    }
    TFieldDefinition f = fields[static_cast<std::size_t>(at)];
    if (column->DataType != dtUnknown) ApplyType(f, *column);
    ApplyOptions(f, *column, false);
    if (!column->NewName.empty()) f.Name = Cut(column->NewName, kMaxNameLength);
    if (column->PositionGiven) {
      fields.erase(fields.begin() + at);
      fields.insert(fields.begin() + (column->Position - 1), f);
    } else {
      fields[static_cast<std::size_t>(at)] = f;
    }
  }

  // Keys and indexes, in statement order.
  // A key column the table lacks is named here: the restructure never sees
  // a key field 0.
  auto identity_of = [&](const std::string& name) {
    const int i = FindField(fields, name);
    if (i < 0) Fail("Column " + name + " not found");
    return fields[static_cast<std::size_t>(i)].FieldNumber;
  };
  for (const TCreateIndex* index : query_.CreateIndexes) {
    if (!index->IndexName.empty()) continue;
    if (index->Add && had_primary) Fail("Cannot REDEFINE the primary key using the ADD keyword");
    if (index->Drop) request.Indexes[0] = TIndexDefinition{};
    else request.Indexes[0] = NewIndex(*index, identity_of);
  }
  // Every key field must still be there.
  for (std::size_t p = 0; p < request.Indexes.size(); ++p) {
    const TIndexDefinition& d = request.Indexes[p];
    for (int k = 0; k < d.FieldCount && k < kMaxKeyFields; ++k) {
      const std::uint16_t id = d.Fields[k];
      if (std::any_of(fields.begin(), fields.end(), [&](auto& f) { return f.FieldNumber == id; })) continue;
      std::string column = std::to_string(id);
      for (const TFieldDefinition& f : dropped)
        if (f.FieldNumber == id) column = f.Name;
      Fail("Column '" + column + "' is used by index '" + (p == 0 && d.Name.empty() ? std::string("PRIMARY") : d.Name) +
           "' and cannot be dropped");
    }
  }

  ApplyGivenSettings(request.Settings);
  request.Fields = fields;
  request.LastAutoIncValue = query_.AutoIncGiven ? query_.LastAutoInc : -1;
  request.NoBackup = query_.NoBackup;
  auto cursor = NewCursor(false);
  TDataLossWatch watch(*cursor);
  {
    LanguageSettingsScope settings(request.Settings.LanguageID, request.Settings.SortID);
    cursor->RestructureTable(request);
  }
  if (watch.Stopped()) RefuseLoss(watch.Cause(), watch.Context(), watch.Record(), old_fields, fields);
}

void TDefinitionExecutor::RefuseLoss(TDataLossCause cause, const std::string& context, std::uint32_t record,
                                     const std::vector<TFieldDefinition>& old_fields,
                                     const std::vector<TFieldDefinition>& fields) const {
  const std::string at = "record " + std::to_string(record);
  const std::string refused = "ALTER TABLE refused, the table is unchanged: ";
  switch (cause) {
    case dlKeyViolation:
      Fail(refused + at + " has the key of another record in index '" + (context.empty() ? "PRIMARY" : context) +
           "' and would be deleted");
    case dlValidityCheckFail: {
      const int i = FindField(fields, context);
      const std::string checks = i < 0 ? std::string() : ChecksText(fields[static_cast<std::size_t>(i)]);
      Fail(refused + "the value of column " + context + " in " + at + " fails " +
           (checks.empty() ? std::string("the column's checks") : checks) + " and the record would be deleted");
    }
    case dlFieldConversion: {
      // The restructure names the column as the table had it.
      const int was = FindField(old_fields, context);
      std::string type;
      if (was >= 0)
        for (const TFieldDefinition& f : fields)
          if (f.FieldNumber == old_fields[static_cast<std::size_t>(was)].FieldNumber) type = TypeText(f);
      Fail(refused + "the value of column " + context + " in " + at + " does not convert to " +
           (type.empty() ? std::string("the new type") : type) + " and would be lost");
    }
    default:
      Fail(refused + at + " cannot be carried over and would be lost");
  }
}

}  // namespace korvex
