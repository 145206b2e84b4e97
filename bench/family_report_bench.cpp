// The family reports against SQLite 3 on the same rows, in one run:
//   - "Create GEDCOM" (both tables read whole in number order, composed,
//     put into the hidden memo) against the same with the rows read from
//     SQLite in key order;
//   - a Henry list of the subject's descendants through the family box's
//     record access against the same walk over prepared SQLite lookups.
// The data: a subject with --descendants descendants (each parent married,
// one to four children a family), filled up with unrelated couples to
// --persons persons and --families families. Differing answers exit 1, and
// with --check so does a missed bar.
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "bench/bench_sqlite.h"
#include "bench/bench_util.h"
#include "family/gedcom_composer.h"
#include "family/henry_list.h"
#include "family/report_commands.h"
#include "memo/vell_memo.h"
#include "platform/dataset/dataset.h"
#include "tables/components/korvex_table.h"
#include "tables/components/sessions.h"

namespace {

using bench::Lite;
using bench::Text;

using family::FamilyTables;

FamilyTables MakeData(int persons, int families, int descendants, unsigned seed) {
  std::mt19937 rng(seed);
  FamilyTables t;
  auto person = [&](const char* sex, int famc) {
    family::PersonView& p = t.persons.emplace_back();
    p.pid = static_cast<int>(t.persons.size());
    static const char* given[] = {"Jan", "Pieter", "Maria", "Anna", "Klaas", "Geesje"};
    static const char* sur[] = {"Smit", "Jansen", "de Wit", "Bakker", "Visser", "Mulder"};
    p.fname = given[rng() % 6];
    p.lname = sur[rng() % 6];
    p.sex = sex;
    p.bapdate = std::to_string(1 + rng() % 28) + " Mar " + std::to_string(1600 + rng() % 200);
    p.famc = famc;
    return p.pid;
  };
  auto family = [&](int husband, int wife) {
    family::FamilyView& f = t.families.emplace_back();
    f.fid = static_cast<int>(t.families.size());
    f.husband = husband;
    f.wife = wife;
    t.persons[husband - 1].fams[0] = f.fid;
    t.persons[wife - 1].fams[0] = f.fid;
    return f.fid;
  };
  // The subject's descendants, generation by generation.
  std::vector<int> parents = {person("M", 0)};
  int made = 0;
  for (size_t next = 0; next < parents.size() && made < descendants; ++next) {
    const int p = parents[next];
    const bool male = t.persons[p - 1].sex == "M";
    const int spouse = person(male ? "F" : "M", 0);
    const int fid = male ? family(p, spouse) : family(spouse, p);
    const int n = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < n && made < descendants; ++c, ++made) {
      const int child = person(rng() % 2 ? "M" : "F", fid);
      t.families[fid - 1].children[c] = child;
      parents.push_back(child);
    }
  }
  // Unrelated couples, with children until the persons are made.
  while (static_cast<int>(t.families.size()) < families && static_cast<int>(t.persons.size()) + 2 <= persons) {
    const int fid = family(person("M", 0), person("F", 0));
    const int left = families - static_cast<int>(t.families.size());
    const int room = persons - static_cast<int>(t.persons.size()) - 2 * left;
    const int n = left > 0 ? std::min(15, std::max(0, room / (left + 1))) : std::min(15, room);
    for (int c = 0; c < n; ++c) t.families[fid - 1].children[c] = person(rng() % 2 ? "M" : "F", fid);
  }
  while (static_cast<int>(t.persons.size()) < persons) person("U", 0);
  return t;
}

void StoreTables(family::TFamilyRecords& records, const FamilyTables& t) {
  korvex::TKORVEXTable& inds = records.Individuals();
  korvex::TKORVEXTable& fams = records.Families();
  for (const family::PersonView& p : t.persons) {
    inds.Append();
    inds.FieldByName("Fname")->SetAsString(p.fname);
    inds.FieldByName("Lname")->SetAsString(p.lname);
    inds.FieldByName("Sex")->SetAsString(p.sex);
    inds.FieldByName("Bapdate")->SetAsString(p.bapdate);
    inds.FieldByName("Famc")->SetAsFloat(p.famc);
    for (int i = 0; i < family::kSpouseSlots; ++i) inds.FieldByName(family::FamsField(i))->SetAsFloat(p.fams[i]);
    inds.Post();
  }
  for (const family::FamilyView& f : t.families) {
    fams.Append();
    fams.FieldByName("Husband")->SetAsInteger(f.husband);
    fams.FieldByName("Wife")->SetAsInteger(f.wife);
    for (int i = 0; i < family::kChildSlots; ++i) fams.FieldByName(family::ChildField(i))->SetAsInteger(f.children[i]);
    fams.Post();
  }
  records.FlushBuffers();
}

const char kPersonColumns[] = "pid, fname, lname, sex, bapdate, famc, fams1, fams2, fams3, fams4, fams5";
const char kFamilyColumns[] =
    "fid, husband, wife, child1, child2, child3, child4, child5, child6, child7, child8, child9, child10, child11, "
    "child12, child13, child14, child15";

void StoreLite(Lite& lite, const FamilyTables& t) {
  lite.Exec(
      "CREATE TABLE inds (pid INTEGER PRIMARY KEY, fname TEXT, lname TEXT, sex TEXT, famc REAL, fams1 REAL, fams2 "
      "REAL, fams3 REAL, fams4 REAL, fams5 REAL, bdate TEXT, bapdate TEXT)");
  std::string fam_sql = "CREATE TABLE fams (fid INTEGER PRIMARY KEY, husband INTEGER, wife INTEGER";
  for (int i = 1; i <= family::kChildSlots; ++i) fam_sql += ", child" + std::to_string(i) + " INTEGER";
  lite.Exec(fam_sql + ")");
  lite.Exec("BEGIN");
  sqlite3_stmt* ins = lite.Prepare(std::string("INSERT INTO inds (") + kPersonColumns + ") VALUES (?,?,?,?,?,?,?,?,?,?,?)");
  for (const family::PersonView& p : t.persons) {
    sqlite3_bind_int(ins, 1, p.pid);
    sqlite3_bind_text(ins, 2, p.fname.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 3, p.lname.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 4, p.sex.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(ins, 5, p.bapdate.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_double(ins, 6, p.famc);
    for (int i = 0; i < family::kSpouseSlots; ++i) sqlite3_bind_double(ins, 7 + i, p.fams[i]);
    lite.Done(ins);
  }
  sqlite3_finalize(ins);
  ins = lite.Prepare(std::string("INSERT INTO fams (") + kFamilyColumns + ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  for (const family::FamilyView& f : t.families) {
    sqlite3_bind_int(ins, 1, f.fid);
    sqlite3_bind_int(ins, 2, f.husband);
    sqlite3_bind_int(ins, 3, f.wife);
    for (int i = 0; i < family::kChildSlots; ++i) sqlite3_bind_int(ins, 4 + i, f.children[i]);
    lite.Done(ins);
  }
  sqlite3_finalize(ins);
  lite.Exec("COMMIT");
}

family::PersonView PersonRow(sqlite3_stmt* s) {
  family::PersonView p;
  p.pid = sqlite3_column_int(s, 0);
  p.fname = Text(s, 1);
  p.lname = Text(s, 2);
  p.sex = Text(s, 3);
  p.bapdate = Text(s, 4);
  p.famc = static_cast<int>(std::lround(sqlite3_column_double(s, 5)));
  for (int i = 0; i < family::kSpouseSlots; ++i) p.fams[i] = static_cast<int>(std::lround(sqlite3_column_double(s, 6 + i)));
  return p;
}

family::FamilyView FamilyRow(sqlite3_stmt* s) {
  family::FamilyView f;
  f.fid = sqlite3_column_int(s, 0);
  f.husband = sqlite3_column_int(s, 1);
  f.wife = sqlite3_column_int(s, 2);
  for (int i = 0; i < family::kChildSlots; ++i) f.children[i] = sqlite3_column_int(s, 3 + i);
  return f;
}

// Both tables read in key order, the old husband 999 resolved as the
// family code does.
FamilyTables ReadLite(Lite& lite) {
  FamilyTables t;
  sqlite3_stmt* s = lite.Prepare(std::string("SELECT ") + kPersonColumns + " FROM inds ORDER BY pid");
  while (sqlite3_step(s) == SQLITE_ROW) t.persons.push_back(PersonRow(s));
  sqlite3_finalize(s);
  s = lite.Prepare(std::string("SELECT ") + kFamilyColumns + " FROM fams ORDER BY fid");
  while (sqlite3_step(s) == SQLITE_ROW) t.families.push_back(FamilyRow(s));
  sqlite3_finalize(s);
  for (family::FamilyView& f : t.families) {
    if (f.husband != family::kLegacyNoHusband) continue;
    bool backed = false;
    if (t.persons.size() >= 999 && t.persons[998].pid == 999)
      for (int x : t.persons[998].fams) backed |= x == f.fid;
    if (!backed) f.husband = 0;
  }
  return t;
}

// Lookups by number over prepared primary-key SELECTs.
class LiteReader : public family::FamilyReader {
public:
  explicit LiteReader(Lite& lite)
      : person_(lite.Prepare(std::string("SELECT ") + kPersonColumns + " FROM inds WHERE pid = ?")),
        family_(lite.Prepare(std::string("SELECT ") + kFamilyColumns + " FROM fams WHERE fid = ?")) {}
  ~LiteReader() override {
    sqlite3_finalize(person_);
    sqlite3_finalize(family_);
  }
  std::optional<family::PersonView> Person(int pid, bool) override {
    if (pid == 0) return std::nullopt;
    sqlite3_bind_int(person_, 1, pid);
    std::optional<family::PersonView> p;
    if (sqlite3_step(person_) == SQLITE_ROW) p = PersonRow(person_);
    sqlite3_reset(person_);
    return p;
  }
  std::optional<family::FamilyView> Family(int fid, bool) override {
    if (fid == 0) return std::nullopt;
    sqlite3_bind_int(family_, 1, fid);
    std::optional<family::FamilyView> f;
    if (sqlite3_step(family_) == SQLITE_ROW) {
      f = FamilyRow(family_);
      if (f->husband == family::kLegacyNoHusband) {
        const std::optional<family::PersonView> h = Person(f->husband, true);
        bool backed = false;
        if (h)
          for (int x : h->fams) backed |= x == fid;
        if (!backed) f->husband = 0;
      }
    }
    sqlite3_reset(family_);
    return f;
  }

private:
  sqlite3_stmt* person_;
  sqlite3_stmt* family_;
};

struct NullView : family::TFamilyView {
  std::string BoxText(family::Side) const override { return ""; }
  void SetBoxText(family::Side, const std::string&) override {}
  std::vector<std::string> Entries() const override { return {}; }
  void ClearEntries() override {}
  void AddEntry(const std::string&) override {}
  int EntryIndex() const override { return -1; }
  int StepPosition(family::Side) const override { return 0; }
  void SetStepPosition(family::Side, int) override {}
  void SetStepEnabled(family::Side, bool) override {}
  void EnableSideButtons() override {}
  int SelectionLength() const override { return 0; }
  std::string SelectedText() const override { return ""; }
  void ShowChildren() override {}
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
  int AskSex(const std::string&) override { return family::kAnswerMale; }
};

// One row; false when its bar (0: none) is missed.
bool Row(const char* what, double ours, double lite, double bar) {
  const bool met = bar == 0 || bench::Met(ours / lite, bar);
  std::printf("%-44s %9.3f s  SQLite %9.3f s  ratio %5.2f  bar %.1f%s\n", what, ours, lite, ours / lite, bar,
              met ? "" : "  MISSED");
  return met;
}

}  // namespace

int main(int argc, char** argv) {
  int persons = 100000, families = 40000, descendants = 20000, repeats = 5;
  bool check = false, all_met = true;
  bench::OptionReader options(argc, argv, "family_report_bench",
                              "[--persons N] [--families N] [--descendants N] [--repeats N] [--check]");
  for (std::string o; options.Next(o);) {
    if (o == "--persons") persons = static_cast<int>(options.Number());
    else if (o == "--families") families = static_cast<int>(options.Number());
    else if (o == "--descendants") descendants = static_cast<int>(options.Number());
    else if (o == "--repeats") repeats = std::max<int>(1, static_cast<int>(options.Number()));
    else if (o == "--check") check = true;
    else options.Fail("unknown option " + o);
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "qv-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const std::string dir = pattern;
  int status = 0;
  {
    const FamilyTables data = MakeData(persons, families, descendants, 1);
    std::printf("%zu persons, %zu families, %d descendants of person 1\n", data.persons.size(), data.families.size(),
                descendants);
    family::TFamilyDatabases databases(dir);
    korvex::TKORVEXTable fams, inds;
    family::DefineFamiliesTable(fams);
    family::DefineIndividualsTable(inds);
    NullView view;
    family::TFamilyBox box(fams, inds, view);
    // Stored with the tables held exclusively (one write at the close),
    // then opened shared as the family box opens them.
    fams.SetExclusive(true);
    inds.SetExclusive(true);
    box.Records().OpenTables();
    StoreTables(box.Records(), data);
    fams.Close();
    inds.Close();
    fams.SetExclusive(false);
    inds.SetExclusive(false);
    box.Records().OpenTables();
    Lite lite(dir + "/family.sqlite");
    StoreLite(lite, data);

    family::TFamilyReports reports(box, view);
    memo::TVellMemo ged, ged_lite;
    double compose_ours = 0, compose_lite = 0;
    // Each side by turns, medians of the repeats.
    const std::vector<double> medians = bench::MediansByTurns(
        repeats, {[&] { reports.CreateGedcom(ged, "bench"); },
                  [&] { family::SetMemoLines(ged_lite, family::ComposeGedcom(ReadLite(lite), "bench")); },
                  [&] { ReadFamilyTables(box.Records()); }, [&] { ReadLite(lite); }});
    const double ours = medians[0], theirs = medians[1], read_ours = medians[2], read_lite = medians[3];
    // How much of the reading is the table walk itself.
    const double walk = bench::MedianTime(repeats, [&] {
      for (korvex::TKORVEXTable* t : {&inds, &fams}) {
        t->DisableControls();
        for (t->First(); !t->Eof(); t->Next()) {
        }
        t->EnableControls();
      }
    });
    const FamilyTables whole = ReadLite(lite);
    compose_ours = compose_lite = bench::MedianTime(repeats, [&] { family::ComposeGedcom(whole, "bench"); });
    if (family::MemoLines(ged) != family::MemoLines(ged_lite)) {
      std::printf("GEDCOM lines differ\n");
      status = 1;
    }
    std::printf("GEDCOM: %zu lines\n", family::MemoLines(ged).size());
    all_met = Row("Create GEDCOM (read, compose, memo)", ours, theirs, 2.0) && all_met;
    Row("  reading both tables whole", read_ours, read_lite, 0);
    std::printf("  of it the walk alone, no field read: %.3f s\n", walk);
    std::printf("  composing alone: %.3f s\n", compose_ours);
    (void)compose_lite;

    box.State().current_subject = 1;
    LiteReader lite_reader(lite);
    std::vector<std::string> page_ours, page_lite;
    const std::vector<double> henry = bench::MediansByTurns(
        repeats, {[&] {
                    family::TTableFamilyReader reader(box.Records());
                    page_ours = *family::HenryList(reader).Run(1);
                  },
                  [&] {
                    // One read transaction over the whole list, as the
                    // engine's reads hold no lock per lookup either.
                    lite.Exec("BEGIN");
                    page_lite = *family::HenryList(lite_reader).Run(1);
                    lite.Exec("COMMIT");
                  }});
    const double henry_ours = henry[0], henry_lite = henry[1];
    if (page_ours != page_lite) {
      std::printf("Henry pages differ\n");
      status = 1;
    }
    std::printf("Henry list: %zu lines\n", page_ours.size());
    all_met = Row("Henry list (lookups by number; SQLite one read txn)", henry_ours, henry_lite, 2.0) && all_met;
    std::printf("load average %s\n", bench::LoadAverage().c_str());
    fams.Close();
    inds.Close();
  }
  korvex::FinalizeSessions();
  std::filesystem::remove_all(dir);
  return status != 0 || (check && !all_met) ? 1 : 0;
}
