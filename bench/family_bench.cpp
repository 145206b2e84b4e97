// The family box against SQLite (its C API, same run, same folder) on the
// family tables: P persons and F families (husbands, wives and up to eight
// children drawn at random), then
//   (a) N showfam of random families: the family, its couple and children
//       read by number (SQLite: prepared primary-key SELECTs of the same
//       rows, the same texts built, in one read transaction per showfam,
//       and in a second row in one read transaction over all N);
//   (b) A Adds of a couple with three children, each with the duplicate
//       scan of the stored men, every Add durable before the next
//       (SQLite: per Add BEGIN, a Sex='M' scan, the inserts and the
//       family's update, COMMIT; journal_mode=DELETE, synchronous=FULL).
// Both sides are open together and each case runs `repeats` times, the
// sides by turns; the median times are compared and both sides' answers
// must agree.
//
//   family_bench [--persons P] [--families F] [--showfams N] [--adds A] [--repeats R] [--dir D] [--check]
// --check exits 1 when a ratio passes 2.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_sqlite.h"
#include "bench/bench_util.h"
#include "family/family_box.h"
#include "family/family_tables.h"
#include "tables/components/korvex_table.h"
#include "tables/components/sessions.h"

namespace {

using bench::Lite;
using bench::Text;

using namespace family;

[[noreturn]] void Die(const std::string& why) {
  std::fprintf(stderr, "family_bench: %s\n", why.c_str());
  std::exit(1);
}

// The box without a window: texts kept, questions answered "Male".
class QuietView : public TFamilyView {
public:
  std::string husband, wife;
  std::vector<std::string> entries;
  std::size_t shown = 0;  // bytes of text shown, to compare with SQLite's
  int found = 0;

  std::string BoxText(Side side) const override { return side == Side::kHusband ? husband : wife; }
  void SetBoxText(Side side, const std::string& text) override {
    shown += text.size();
    (side == Side::kHusband ? husband : wife) = text;
  }
  std::vector<std::string> Entries() const override { return entries; }
  void ClearEntries() override { entries.clear(); }
  void AddEntry(const std::string& text) override {
    shown += text.size();
    entries.push_back(text);
  }
  int EntryIndex() const override { return -1; }
  int StepPosition(Side) const override { return 0; }
  void SetStepPosition(Side, int) override {}
  void SetStepEnabled(Side, bool) override {}
  void EnableSideButtons() override {}
  int SelectionLength() const override { return 0; }
  std::string SelectedText() const override { return ""; }
  void ShowChildren() override {}
  void ShowMessage(const std::string&) override { ++found; }
  int AskSex(const std::string&) override { return kAnswerMale; }
};

struct Person {
  std::string fname, lname, sex, bapdate;
  int famc = 0;
  int fams[5] = {};
};
struct Family {
  int husband = 0, wife = 0;
  int children[15] = {};
};

const char* const kGiven[] = {"Jan", "Pieter", "Anna", "Grietje", "Klaas", "Maria", "Hendrik", "Aaltje", "Cornelis", "Neeltje"};
const char* const kSurname[] = {"Smit", "Bos", "Vos", "de Wit", "Mol", "Kok", "Kuip", "Dekker", "Visser", "Bakker"};

}  // namespace

int main(int argc, char** argv) {
  int persons = 100000, families = 40000, showfams = 10000, adds = 200, repeats = 3;
  bool check = false;
  std::string dir;
  bench::OptionReader options(argc, argv, "family_bench",
                              "[--persons P] [--families F] [--showfams N] [--adds A] [--repeats R] [--dir D] [--check]");
  for (std::string o; options.Next(o);) {
    if (o == "--persons") persons = static_cast<int>(options.Number());
    else if (o == "--families") families = static_cast<int>(options.Number());
    else if (o == "--showfams") showfams = static_cast<int>(options.Number());
    else if (o == "--adds") adds = static_cast<int>(options.Number());
    else if (o == "--repeats") repeats = std::max(1, static_cast<int>(options.Number()));
    else if (o == "--dir") dir = options.Value();
    else if (o == "--check") check = true;
    else options.Fail("unknown option " + o);
  }
  if (persons < 1 || families < 1) options.Fail("persons and families must be at least 1");
  bool made_dir = false;
  if (dir.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qv-family-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) Die("mkdtemp");
    dir = pattern;
    made_dir = true;
  }

  // ---- the data, the same on both sides
  std::mt19937 rng(20261207);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::vector<Person> people(persons);
  for (Person& p : people) {
    p.fname = kGiven[pick(10)];
    p.lname = kSurname[pick(10)];
    p.sex = pick(2) ? "M" : "F";
    p.bapdate = std::to_string(1 + pick(28)) + " May " + std::to_string(1600 + pick(200));
    p.famc = pick(families + 1);
    p.fams[0] = 1 + pick(families);
  }
  std::vector<Family> fams(families);
  for (Family& f : fams) {
    f.husband = 1 + pick(persons);
    f.wife = 1 + pick(persons);
    const int n = pick(9);
    for (int i = 0; i < n; ++i) f.children[i] = 1 + pick(persons);
  }
  std::vector<int> show_ids(showfams);
  for (int& id : show_ids) id = 1 + pick(families);

  // ---- our tables, loaded while held exclusively
  const std::string lite_path = dir + "/family.sqlite";
  {
    korvex::TKORVEXTable t_fams, t_inds;
    TFamilyDatabases databases(dir);
    DefineFamiliesTable(t_fams);
    DefineIndividualsTable(t_inds);
    t_fams.SetExclusive(true);
    t_inds.SetExclusive(true);
    QuietView view;
    TFamilyRecords records(t_fams, t_inds, [](const std::string&) {});
    records.OpenTables();
    for (const Person& p : people) {
      IndividualRecord r;
      r.fname = p.fname;
      r.lname = p.lname;
      r.sex = p.sex;
      r.bapdate = p.bapdate;
      r.famc = p.famc;
      for (int i = 0; i < 5; ++i) r.fams[i] = p.fams[i];
      records.AppendIndividual(r);
    }
    for (const Family& f : fams) {
      FamilyRecord r;
      r.husband = f.husband;
      r.wife = f.wife;
      for (int i = 0; i < 15; ++i) r.children[i] = f.children[i];
      records.AppendFamily(r);
    }
    t_fams.Close();
    t_inds.Close();
  }
  {
    Lite lite(lite_path);
    lite.Exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
    std::string cols;
    for (int i = 1; i <= 15; ++i) cols += ", child" + std::to_string(i) + " INTEGER";
    lite.Exec("CREATE TABLE fams (fid INTEGER PRIMARY KEY AUTOINCREMENT, husband INTEGER, wife INTEGER" + cols + ")");
    lite.Exec("CREATE TABLE inds (pid INTEGER PRIMARY KEY AUTOINCREMENT, fname TEXT, lname TEXT, sex TEXT, famc REAL, "
              "fams1 REAL, fams2 REAL, fams3 REAL, fams4 REAL, fams5 REAL, bdate TEXT, bapdate TEXT)");
    lite.Exec("BEGIN");
    sqlite3_stmt* ins = lite.Prepare("INSERT INTO inds (fname, lname, sex, bapdate, famc, fams1, fams2, fams3, fams4, "
                                     "fams5, bdate) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, '')");
    for (const Person& p : people) {
      sqlite3_bind_text(ins, 1, p.fname.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 2, p.lname.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 3, p.sex.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(ins, 4, p.bapdate.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_double(ins, 5, p.famc);
      for (int i = 0; i < 5; ++i) sqlite3_bind_double(ins, 6 + i, p.fams[i]);
      lite.Done(ins);
    }
    sqlite3_finalize(ins);
    std::string q = "INSERT INTO fams (husband, wife";
    for (int i = 1; i <= 15; ++i) q += ", child" + std::to_string(i);
    q += ") VALUES (?, ?";
    for (int i = 1; i <= 15; ++i) q += ", ?";
    sqlite3_stmt* insf = lite.Prepare(q + ")");
    for (const Family& f : fams) {
      sqlite3_bind_int(insf, 1, f.husband);
      sqlite3_bind_int(insf, 2, f.wife);
      for (int i = 0; i < 15; ++i) sqlite3_bind_int(insf, 3 + i, f.children[i]);
      lite.Done(insf);
    }
    sqlite3_finalize(insf);
    lite.Exec("COMMIT");
  }

  // ---- both sides open together, each case by turns
  std::size_t ours_shown = 0, lite_shown = 0, lite_shown_one = 0;
  int ours_found = 0, lite_found = 0;
  std::vector<double> show, add;
  {
    korvex::TKORVEXTable t_fams, t_inds;
    TFamilyDatabases databases(dir);
    DefineFamiliesTable(t_fams);
    DefineIndividualsTable(t_inds);
    QuietView view;
    TFamilyBox box(t_fams, t_inds, view);
    box.ShowFamsClick();

    Lite lite(lite_path);
    lite.Exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
    sqlite3_stmt* begin = lite.Prepare("BEGIN");
    sqlite3_stmt* commit = lite.Prepare("COMMIT");
    sqlite3_stmt* fam = lite.Prepare("SELECT * FROM fams WHERE fid = ?");
    sqlite3_stmt* ind = lite.Prepare("SELECT fname, lname, bapdate FROM inds WHERE pid = ?");
    auto person = [&](int pid, bool couple) -> std::string {
      sqlite3_bind_int(ind, 1, pid);
      std::string text;
      if (sqlite3_step(ind) == SQLITE_ROW)
        text = couple ? Text(ind, 0) + " " + Text(ind, 1) : Text(ind, 0) + " bp. " + Text(ind, 2);
      sqlite3_reset(ind);
      return text;
    };
    auto lite_showfam = [&](int id) {
      sqlite3_bind_int(fam, 1, id);
      if (sqlite3_step(fam) != SQLITE_ROW) Die("family missing");
      int ids[17];
      for (int i = 0; i < 17; ++i) ids[i] = sqlite3_column_int(fam, 1 + i);
      sqlite3_reset(fam);
      std::size_t shown = person(ids[0], true).size() + person(ids[1], true).size();
      for (int i = 2; i < 17 && ids[i] != 0; ++i) shown += person(ids[i], false).size();
      return shown;
    };
    // (a) ours; SQLite with one read transaction per showfam; SQLite with
    // one read transaction over all of them.
    show = bench::MediansByTurns(repeats, {[&] {
                                             view.shown = 0;
                                             for (int id : show_ids) box.showfam(id);
                                             ours_shown = view.shown;
                                           },
                                           [&] {
                                             lite_shown = 0;
                                             for (int id : show_ids) {
                                               lite.Done(begin);
                                               lite_shown += lite_showfam(id);
                                               lite.Done(commit);
                                             }
                                           },
                                           [&] {
                                             lite_shown_one = 0;
                                             lite.Done(begin);
                                             for (int id : show_ids) lite_shown_one += lite_showfam(id);
                                             lite.Done(commit);
                                           }});
    sqlite3_finalize(fam);
    sqlite3_finalize(ind);

    // (b) Adds: every side adds the same families on each run, so the
    // namesakes found in the last runs agree.
    sqlite3_stmt* men = lite.Prepare("SELECT fname, lname FROM inds WHERE sex = 'M'");
    sqlite3_stmt* new_fam = lite.Prepare("INSERT INTO fams (husband) VALUES (0)");
    sqlite3_stmt* new_ind = lite.Prepare(
        "INSERT INTO inds (fname, lname, sex, bapdate, famc, fams1, fams2, fams3, fams4, fams5, bdate) "
        "VALUES (?, ?, ?, ?, ?, ?, 0, 0, 0, 0, '')");
    sqlite3_stmt* set_fam = lite.Prepare("UPDATE fams SET husband = ?, wife = ?, child1 = ?, child2 = ?, child3 = ? WHERE fid = ?");
    auto add_person = [&](const std::string& f, const std::string& l, const char* sex, const std::string& bap, int famc,
                          int fams1) {
      sqlite3_bind_text(new_ind, 1, f.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(new_ind, 2, l.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(new_ind, 3, sex, -1, SQLITE_STATIC);
      sqlite3_bind_text(new_ind, 4, bap.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_double(new_ind, 5, famc);
      sqlite3_bind_double(new_ind, 6, fams1);
      lite.Done(new_ind);
      return static_cast<int>(sqlite3_last_insert_rowid(lite.db));
    };
    add = bench::MediansByTurns(
        repeats, {[&] {
                    view.found = 0;
                    for (int i = 0; i < adds; ++i) {
                      view.husband = std::string(kGiven[i % 10]) + " " + kSurname[(i / 10) % 10];
                      view.wife = "Anna Bos";
                      view.entries = {"Jan bp. 1 May 1701", "Anna bp. 2 Jun 1703", "Klaas bp. 3 Jul 1705"};
                      box.AddClick();
                    }
                    ours_found = view.found;
                  },
                  [&] {
                    lite_found = 0;
                    for (int i = 0; i < adds; ++i) {
                      const std::string given = kGiven[i % 10], surname = kSurname[(i / 10) % 10];
                      const std::string husband = given + " " + surname;
                      lite.Done(begin);
                      while (sqlite3_step(men) == SQLITE_ROW)
                        if (Text(men, 0) + " " + Text(men, 1) == husband) ++lite_found;
                      sqlite3_reset(men);
                      lite.Done(new_fam);
                      const int fid = static_cast<int>(sqlite3_last_insert_rowid(lite.db));
                      const int h = add_person(given, surname, "M", "", 0, fid);
                      const int w = add_person("Anna", "Bos", "F", "", 0, fid);
                      const int c1 = add_person("Jan", surname, "M", "1 May 1701", fid, 0);
                      const int c2 = add_person("Anna", surname, "M", "2 Jun 1703", fid, 0);
                      const int c3 = add_person("Klaas", surname, "M", "3 Jul 1705", fid, 0);
                      sqlite3_bind_int(set_fam, 1, h);
                      sqlite3_bind_int(set_fam, 2, w);
                      sqlite3_bind_int(set_fam, 3, c1);
                      sqlite3_bind_int(set_fam, 4, c2);
                      sqlite3_bind_int(set_fam, 5, c3);
                      sqlite3_bind_int(set_fam, 6, fid);
                      lite.Done(set_fam);
                      lite.Done(commit);
                    }
                  }});
    for (sqlite3_stmt* st : {men, new_fam, new_ind, set_fam, begin, commit}) sqlite3_finalize(st);
    t_fams.Close();
    t_inds.Close();
  }
  korvex::FinalizeSessions();
  if (made_dir) std::filesystem::remove_all(dir);

  struct Ratio {
    const char* what;
    double ours, theirs;
  } ratios[] = {
      {"showfam, SQLite one read txn each", show[0], show[1]},
      {"showfam, SQLite one read txn in all", show[0], show[2]},
      {"Adds, durable each", add[0], add[1]},
  };
  std::printf("persons %d, families %d, %d showfam, %d Adds, medians of %d by turns, load average %s\n", persons,
              families, showfams, adds, repeats, bench::LoadAverage().c_str());
  bool ok = true, met = true;
  for (const Ratio& r : ratios) {
    const bool row_met = bench::Met(r.ours / r.theirs, 2);
    met = met && row_met;
    std::printf("%-38s ours %.4f s, SQLite %.4f s, ratio %.2f (bar 2) %s\n", r.what, r.ours, r.theirs,
                r.ours / r.theirs, row_met ? "met" : "MISSED");
  }
  if (ours_shown != lite_shown || ours_shown != lite_shown_one) {
    std::printf("answers differ: showfam texts %zu bytes against %zu and %zu\n", ours_shown, lite_shown,
                lite_shown_one);
    ok = false;
  }
  if (ours_found != lite_found) {
    std::printf("answers differ: %d namesakes reported against %d\n", ours_found, lite_found);
    ok = false;
  }
  if (!ok) return 1;
  return check && !met ? 1 : 0;
}
