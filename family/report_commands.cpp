#include "family/report_commands.h"

#include <cmath>

#include "family/gedcom_composer.h"
#include "family/henry_list.h"
#include "family/relationship_report.h"
#include "memo/vell_memo.h"
#include "tables/components/korvex_table.h"

namespace family {

std::optional<PersonView> TTableFamilyReader::Person(int pid, bool quiet) {
  if (pid == 0) return std::nullopt;
  PersonView v;
  if (quiet) {
    std::optional<IndividualRecord> r = records_.ReadIndividual(pid);
    if (!r) return std::nullopt;
    static_cast<IndividualRecord&>(v) = std::move(*r);
  } else {
    if (records_.getinv(pid) != 1) return std::nullopt;
    static_cast<IndividualRecord&>(v) = records_.IndividualBuffer();
  }
  v.pid = pid;
  return v;
}

std::optional<FamilyView> TTableFamilyReader::Family(int fid, bool quiet) {
  if (fid == 0) return std::nullopt;
  FamilyView v;
  if (quiet) {
    std::optional<FamilyRecord> r = records_.ReadFamily(fid);
    if (!r) return std::nullopt;
    static_cast<FamilyRecord&>(v) = *r;
  } else {
    if (records_.getfam(fid) != 1) return std::nullopt;
    static_cast<FamilyRecord&>(v) = records_.FamilyBuffer();
  }
  v.fid = fid;
  return v;
}

FamilyTables ReadFamilyTables(TFamilyRecords& records) {
  FamilyTables t;
  korvex::TKORVEXTable& inds = records.Individuals();
  korvex::TKORVEXTable& fams = records.Families();
  // Fields found once; the walk reads them record by record.
  db::TField* pid = inds.FieldByName("Pid");
  db::TField* fname = inds.FieldByName("Fname");
  db::TField* lname = inds.FieldByName("Lname");
  db::TField* sex = inds.FieldByName("Sex");
  db::TField* bapdate = inds.FieldByName("Bapdate");
  db::TField* famc = inds.FieldByName("Famc");
  db::TField* fams_slot[kSpouseSlots];
  for (int i = 0; i < kSpouseSlots; ++i) fams_slot[i] = inds.FieldByName(FamsField(i));
  auto whole = [](db::TField* f) { return static_cast<int>(std::lround(f->AsFloat())); };
  inds.DisableControls();
  for (inds.First(); !inds.Eof(); inds.Next()) {
    PersonView& p = t.persons.emplace_back();
    p.pid = pid->AsInteger();
    p.fname = fname->AsString();
    p.lname = lname->AsString();
    p.sex = sex->AsString();
    p.bapdate = bapdate->AsString();
    p.famc = whole(famc);
    for (int i = 0; i < kSpouseSlots; ++i) p.fams[i] = whole(fams_slot[i]);
  }
  inds.EnableControls();

  db::TField* fid = fams.FieldByName("Fid");
  db::TField* husband = fams.FieldByName("Husband");
  db::TField* wife = fams.FieldByName("Wife");
  db::TField* child_slot[kChildSlots];
  for (int i = 0; i < kChildSlots; ++i) child_slot[i] = fams.FieldByName(ChildField(i));
  fams.DisableControls();
  std::vector<size_t> legacy;
  for (fams.First(); !fams.Eof(); fams.Next()) {
    FamilyView& f = t.families.emplace_back();
    f.fid = fid->AsInteger();
    f.husband = husband->AsInteger();
    f.wife = wife->AsInteger();
    for (int i = 0; i < kChildSlots; ++i) f.children[i] = child_slot[i]->AsInteger();
    if (f.husband == kLegacyNoHusband) legacy.push_back(t.families.size() - 1);
  }
  fams.EnableControls();
  for (size_t i : legacy) t.families[i].husband = records.ResolveHusband(t.families[i].fid, kLegacyNoHusband);
  return t;
}

std::vector<std::string> MemoLines(memo::TVellMemo& m) {
  std::vector<std::string> lines;
  if (m.GetTextLen() == 0 && m.GetParCount() <= 1) return lines;
  lines.reserve(m.GetParCount());
  for (int i = 0; i < m.GetParCount(); ++i) lines.push_back(m.getParagraphs(i));
  return lines;
}

void SetMemoLines(memo::TVellMemo& m, const std::vector<std::string>& lines) {
  std::string text;
  size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 2;
  text.reserve(total);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  m.SetText(text);
}

namespace {

void Prepare(TFamilyRecords& records) {
  records.OpenTables();
  records.PostPending();
}

}  // namespace

bool TFamilyReports::ShowFamily(memo::TVellMemo& ged_edit) {
  TFamilyRecords& records = box_.Records();
  TFamilyState& state = box_.State();
  Prepare(records);
  const int subject = state.current_subject;
  TTableFamilyReader reader(records);
  std::optional<RelationshipReport> report = ReportOn(reader, subject);
  if (!report) return false;
  std::vector<std::string> lines = MemoLines(ged_edit);
  if (IsGedcomText(lines)) lines.clear();
  lines.insert(lines.end(), report->lines.begin(), report->lines.end());
  SetMemoLines(ged_edit, lines);
  for (size_t i = 0; i < report->list_entries.size(); ++i) {
    const int index = static_cast<int>(view_.Entries().size());
    view_.AddEntry(report->list_entries[i]);
    state.SetChildId(index, report->child_ids[i]);
  }
  if (report->has_first_spouse) {
    // The spouse goes into the box of the spouse's side: a woman's husband
    // into the husband's, she into the wife's, so that the box never holds
    // one person on both sides.
    if (report->first_spouse_is_husband) {
      view_.SetBoxText(Side::kHusband, report->first_spouse_text);
      state.husband_id = report->first_spouse_id;
      view_.SetBoxText(Side::kWife, report->subject_text);
      state.wife_id = subject;
    } else {
      view_.SetBoxText(Side::kWife, report->first_spouse_text);
      state.wife_id = report->first_spouse_id;
    }
  }
  state.current_subject = subject;
  return true;
}

bool TFamilyReports::HenryList(memo::TVellMemo& list_memo) {
  TFamilyRecords& records = box_.Records();
  Prepare(records);
  TTableFamilyReader reader(records);
  std::optional<std::vector<std::string>> page = family::HenryList(reader).Run(box_.State().current_subject);
  if (!page) return false;
  SetMemoLines(list_memo, *page);
  return true;
}

void TFamilyReports::CreateGedcom(memo::TVellMemo& ged_edit, const std::string& user) {
  TFamilyRecords& records = box_.Records();
  Prepare(records);
  SetMemoLines(ged_edit, ComposeGedcom(ReadFamilyTables(records), user));
}

}  // namespace family
