#include "tables/sql/definition_executor.h"

#include <algorithm>
#include <functional>

#include "platform/runtime/sysutils.h"
#include "tables/engine/data_session.h"
#include "tables/engine/errors.h"
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
  auto identity_of = [&](const std::string& name) {
    const int i = FindField(fields, name);
    return static_cast<std::uint16_t>(i < 0 ? 0 : fields[static_cast<std::size_t>(i)].FieldNumber);
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
  LanguageSettingsScope settings(request.Settings.LanguageID, request.Settings.SortID);
  cursor->RestructureTable(request);
}

}  // namespace korvex
