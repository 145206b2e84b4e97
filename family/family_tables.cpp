#include "family/family_tables.h"

#include "platform/dataset/defs.h"
#include "tables/components/korvex_table.h"
#include "tables/components/sessions.h"

namespace family {

std::string ChildField(int slot) { return "Child" + std::to_string(slot + 1); }
std::string FamsField(int slot) { return "Fams" + std::to_string(slot + 1); }

namespace {

void Common(korvex::TKORVEXTable& table, const char* database, const char* name) {
  table.SetDatabaseName(database);
  table.SetTableName(name);
  table.StoreDefs = true;
  table.SetAutoDisplayLabels(false);
  table.CopyOnAppend = false;
  table.FieldDefs().Clear();
  table.IndexDefs().Clear();
}

}  // namespace

void DefineFamiliesTable(korvex::TKORVEXTable& table) {
  Common(table, kFamiliesDatabase, kFamiliesTable);
  db::TFieldDefs& f = table.FieldDefs();
  f.Add("Fid", db::ftAutoInc);
  f.Add("Husband", db::ftInteger);
  f.Add("Wife", db::ftInteger);
  for (int i = 0; i < kChildSlots; ++i) f.Add(ChildField(i), db::ftInteger);
  table.IndexDefs().Add("", "Fid", db::ixPrimary | db::ixUnique);
}

void DefineIndividualsTable(korvex::TKORVEXTable& table) {
  Common(table, kIndividualsDatabase, kIndividualsTable);
  db::TFieldDefs& f = table.FieldDefs();
  f.Add("Pid", db::ftAutoInc);
  f.Add("Fname", db::ftString, 31);
  f.Add("Lname", db::ftString, 21);
  f.Add("Sex", db::ftString, 2);
  f.Add("Famc", db::ftFloat);
  for (int i = 0; i < kSpouseSlots; ++i) f.Add(FamsField(i), db::ftFloat);
  f.Add("Bdate", db::ftString, 22);
  f.Add("Bapdate", db::ftString, 22);
  table.IndexDefs().Add("", "Pid", db::ixPrimary | db::ixUnique);
}

void OpenOrCreate(korvex::TKORVEXTable& table) {
  if (table.Active()) return;
  if (!table.Exists()) table.CreateTable();
  table.Open();
}

TFamilyDatabases::TFamilyDatabases(const std::string& folder) : folder_(folder) {
  auto make = [&](const char* name) {
    auto database = std::make_unique<korvex::TKORVEXDatabase>(nullptr);
    database->SetDatabaseName(name);
    database->SetDirectory(folder);
    return database;
  };
  families_ = make(kFamiliesDatabase);
  individuals_ = make(kIndividualsDatabase);
}

TFamilyDatabases::~TFamilyDatabases() = default;

}  // namespace family
