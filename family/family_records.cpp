#include "family/family_records.h"

#include <cmath>

#include <cstring>
#include <vector>

#include "platform/dataset/variant.h"
#include "tables/components/korvex_table.h"
#include "tables/engine/cursor/data_cursor.h"

namespace family {

namespace {

// The columns the records read and write, by slot.
enum FamilySlot : std::size_t { kFidSlot, kHusbandSlot, kWifeSlot, kFirstChildSlot };
enum IndividualSlot : std::size_t { kPidSlot, kFnameSlot, kLnameSlot, kSexSlot, kBapdateSlot, kFamcSlot, kFirstFamsSlot };

const std::vector<std::string>& FamilyColumns() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v{"Fid", "Husband", "Wife"};
    for (int i = 0; i < kChildSlots; ++i) v.push_back(ChildField(i));
    return v;
  }();
  return names;
}

const std::vector<std::string>& IndividualColumns() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v{"Pid", "Fname", "Lname", "Sex", "Bapdate", "Famc"};
    for (int i = 0; i < kSpouseSlots; ++i) v.push_back(FamsField(i));
    return v;
  }();
  return names;
}

// Float columns hold whole numbers; read to the nearest.
int Whole(const db::TField* field) { return static_cast<int>(std::lround(field->AsFloat())); }

void PostIfEditing(db::TDataSet& table) {
  if (table.Active() && (table.State() == db::dsEdit || table.State() == db::dsInsert)) table.Post();
}

}  // namespace

db::TField* TFieldSlots::Get(const db::TDataSet& table, std::size_t k) {
  Slot& slot = slots_[k];
  // The field still at its place under its name: the same one.
  if (slot.index >= 0 && slot.index < table.FieldCount() && table.Fields(slot.index) == slot.field &&
      slot.field->FieldName() == names_[k])
    return slot.field;
  db::TField* field = table.FieldByName(names_[k]);
  slot = {};
  for (int i = 0; i < table.FieldCount(); ++i)
    if (table.Fields(i) == field) slot = {field, i};
  return field;
}

TFamilyRecords::TFamilyRecords(korvex::TKORVEXTable& families, korvex::TKORVEXTable& individuals,
                               MessageSink show_message)
    : families_(families),
      individuals_(individuals),
      family_fields_(FamilyColumns()),
      individual_fields_(IndividualColumns()),
      show_message_(std::move(show_message)) {}

void TFamilyRecords::OpenTables() {
  OpenOrCreate(families_);
  OpenOrCreate(individuals_);
}

void TFamilyRecords::PostPending() {
  PostIfEditing(families_);
  PostIfEditing(individuals_);
}

void TFamilyRecords::CancelPending() {
  for (korvex::TKORVEXTable* t : {&families_, &individuals_})
    if (t->Active() && (t->State() == db::dsEdit || t->State() == db::dsInsert)) t->Cancel();
}

void TFamilyRecords::FlushBuffers() {
  for (korvex::TKORVEXTable* t : {&families_, &individuals_})
    if (t->Active()) t->FlushBuffers();
}

int TFamilyRecords::addfam() {
  const int fid = AppendFamily(FamilyRecord{});
  families_.Edit();
  return fid;
}

int TFamilyRecords::addinv() {
  IndividualRecord blank;
  blank.fname = kBlankName;
  const int pid = AppendIndividual(blank);
  individuals_.Edit();
  return pid;
}

int TFamilyRecords::AppendFamily(const FamilyRecord& record) {
  written_ = true;
  families_.Append();
  SetFamilyFields(record);
  families_.Post();
  return family_fields_.Get(families_, kFidSlot)->AsInteger();
}

int TFamilyRecords::AppendIndividual(const IndividualRecord& record) {
  written_ = true;
  individuals_.Append();
  SetIndividualFields(record);
  individuals_.Post();
  return individual_fields_.Get(individuals_, kPidSlot)->AsInteger();
}

void TFamilyRecords::SetFamilyFields(const FamilyRecord& record) {
  family_fields_.Get(families_, kHusbandSlot)->SetAsInteger(record.husband);
  family_fields_.Get(families_, kWifeSlot)->SetAsInteger(record.wife);
  for (int i = 0; i < kChildSlots; ++i)
    family_fields_.Get(families_, kFirstChildSlot + i)->SetAsInteger(record.children[i]);
}

void TFamilyRecords::SetIndividualFields(const IndividualRecord& record) {
  // A name wider than its column keeps what fits, and the user is told.
  db::TField* fname = individual_fields_.Get(individuals_, kFnameSlot);
  db::TField* lname = individual_fields_.Get(individuals_, kLnameSlot);
  const int given_size = fname->Size();
  const int surname_size = lname->Size();
  const std::string given = record.fname.substr(0, static_cast<size_t>(given_size));
  const std::string surname = record.lname.substr(0, static_cast<size_t>(surname_size));
  if (given.size() < record.fname.size() || surname.size() < record.lname.size())
    show_message_(kNameCutText + given + " " + surname);
  fname->SetAsString(given);
  lname->SetAsString(surname);
  individual_fields_.Get(individuals_, kSexSlot)->SetAsString(record.sex);
  individual_fields_.Get(individuals_, kBapdateSlot)->SetAsString(record.bapdate);
  individual_fields_.Get(individuals_, kFamcSlot)->SetAsFloat(record.famc);
  for (int i = 0; i < kSpouseSlots; ++i)
    individual_fields_.Get(individuals_, kFirstFamsSlot + i)->SetAsFloat(record.fams[i]);
}

bool TFamilyRecords::LocateFamily(int fid) {
  return fid > 0 && families_.Locate("Fid", db::Variant(fid), 0);
}

bool TFamilyRecords::LocateIndividual(int pid) {
  return pid > 0 && individuals_.Locate("Pid", db::Variant(pid), 0);
}

FamilyRecord TFamilyRecords::FamilyFields() {
  FamilyRecord r;
  r.husband = family_fields_.Get(families_, kHusbandSlot)->AsInteger();
  r.wife = family_fields_.Get(families_, kWifeSlot)->AsInteger();
  for (int i = 0; i < kChildSlots; ++i) r.children[i] = family_fields_.Get(families_, kFirstChildSlot + i)->AsInteger();
  return r;
}

IndividualRecord TFamilyRecords::IndividualFields() {
  IndividualRecord r;
  r.fname = individual_fields_.Get(individuals_, kFnameSlot)->AsString();
  r.lname = individual_fields_.Get(individuals_, kLnameSlot)->AsString();
  r.sex = individual_fields_.Get(individuals_, kSexSlot)->AsString();
  r.bapdate = individual_fields_.Get(individuals_, kBapdateSlot)->AsString();
  r.famc = Whole(individual_fields_.Get(individuals_, kFamcSlot));
  for (int i = 0; i < kSpouseSlots; ++i) r.fams[i] = Whole(individual_fields_.Get(individuals_, kFirstFamsSlot + i));
  return r;
}

std::optional<FamilyRecord> TFamilyRecords::ReadFamily(int fid) {
  if (!LocateFamily(fid)) return std::nullopt;
  FamilyRecord r = FamilyFields();
  if (r.husband == kLegacyNoHusband) {
    r.husband = ResolveHusband(fid, r.husband);
    LocateFamily(fid);  // the families table stays on the record read
  }
  return r;
}

std::optional<IndividualRecord> TFamilyRecords::ReadIndividual(int pid) {
  if (!LocateIndividual(pid)) return std::nullopt;
  return IndividualFields();
}

namespace {

std::string Quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q + "'";
}

// A filter that lets through the men whose given name and surname may
// join to `full_name` (each way of cutting it at a blank); "" when no cut
// gives two names that fit their fields.
std::string NamesakeFilter(const std::string& full_name) {
  std::string cuts;
  for (std::size_t b = full_name.find(' '); b != std::string::npos; b = full_name.find(' ', b + 1)) {
    const std::string given = full_name.substr(0, b), surname = full_name.substr(b + 1);
    if (given.empty() || surname.empty() || given.size() > 31 || surname.size() > 21) return "";
    cuts += (cuts.empty() ? "(" : " OR (") + std::string("Fname=") + Quoted(given) + " AND Lname=" + Quoted(surname) + ")";
  }
  return cuts.empty() ? "" : "Sex='M' AND (" + cuts + ")";
}

}  // namespace

int TFamilyRecords::CountMenNamed(const std::string& full_name) {
  if (full_name.find(' ') == std::string::npos) return 0;
  std::unique_ptr<korvex::TDataCursor> scan = individuals_.Handle()->CloneCursor();
  scan->SetIndexPos(korvex::kPhysicalOrder);  // the order does not matter here
  // The filter narrows the scan to candidates read from the record bytes;
  // each candidate is then compared exactly.
  const std::string filter = NamesakeFilter(full_name);
  if (!filter.empty()) scan->ActivateFilter(scan->AddFilter(0, filter, nullptr, false, nullptr, {}));
  int fname = 0, lname = 0, sex = 0;
  for (int i = 1; i <= scan->GetFieldCount(); ++i) {
    const std::string& name = scan->GetFieldDefinitionByPos(i).Name;
    if (name == "Fname") fname = i;
    else if (name == "Lname") lname = i;
    else if (name == "Sex") sex = i;
  }
  std::vector<std::uint8_t> record(scan->GetRecordSize());
  char given[260], surname[260], m[260];
  int count = 0;
  scan->SetToBegin();
  while (scan->GetNextRecord(record.data()) == 0) {
    scan->GetField(sex, record.data(), reinterpret_cast<std::uint8_t*>(m));
    if (std::strcmp(m, "M") != 0) continue;
    scan->GetField(fname, record.data(), reinterpret_cast<std::uint8_t*>(given));
    const std::size_t g = std::strlen(given);
    if (full_name.size() <= g || full_name.compare(0, g, given) != 0 || full_name[g] != ' ') continue;
    scan->GetField(lname, record.data(), reinterpret_cast<std::uint8_t*>(surname));
    if (full_name.compare(g + 1, std::string::npos, surname) == 0) ++count;
  }
  return count;
}

int TFamilyRecords::ResolveHusband(int fid, int stored) {
  if (stored != kLegacyNoHusband) return stored;
  std::optional<IndividualRecord> p = ReadIndividual(kLegacyNoHusband);
  if (p)
    for (int f : p->fams)
      if (f == fid) return stored;
  return 0;
}

int TFamilyRecords::getfam(int fid) {
  if (fid == 0) return -1;
  std::optional<FamilyRecord> r = ReadFamily(fid);
  if (!r) {
    ShowMessage(kNoFamilyText + std::to_string(fid));
    return -1;
  }
  family_ = *r;
  return 1;
}

int TFamilyRecords::getinv(int pid) {
  if (pid == 0) return -1;
  std::optional<IndividualRecord> r = ReadIndividual(pid);
  if (!r) {
    ShowMessage(kNoPersonText + std::to_string(pid));
    return -1;
  }
  individual_ = std::move(*r);
  last_surname_ = individual_.lname;
  return 1;
}

bool TFamilyRecords::WriteFamily(int fid, const FamilyRecord& record) {
  if (!LocateFamily(fid)) return false;
  written_ = true;
  families_.Edit();
  SetFamilyFields(record);
  families_.Post();
  return true;
}

bool TFamilyRecords::WriteIndividual(int pid, const IndividualRecord& record) {
  if (!LocateIndividual(pid)) return false;
  written_ = true;
  individuals_.Edit();
  SetIndividualFields(record);
  individuals_.Post();
  return true;
}

}  // namespace family
