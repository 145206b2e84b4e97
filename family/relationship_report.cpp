#include "family/relationship_report.h"

#include <cstdio>

namespace family {
namespace {

std::string Names(const PersonView& p) { return p.fname + " " + p.lname; }

class ReportWriter {
public:
  ReportWriter(FamilyReader& reader, RelationshipReport& out) : reader_(reader), out_(out) {}

  void Write(const PersonView& s) {
    out_.lines.push_back("[ Subject (" + std::to_string(s.pid) + ") ]");
    out_.lines.push_back(Names(s));
    out_.lines.push_back("");
    const SexClass sex = ClassOfSex(s.sex);
    Parents(s);
    const int n = SlotCount(s.fams);
    for (int i = 0; i < n; ++i) {
      const std::optional<FamilyView> f = reader_.Family(s.fams[i]);
      if (!f) continue;
      const std::optional<PersonView> sp = PersonOrNothing(PartnerOf(*f, sex));
      out_.lines.push_back("");
      std::string label = "SPOUSE: ";
      if (n > 1) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "SPOUSE%2d: ", i + 1);
        label = buf;
      }
      out_.lines.push_back(label + (sp ? Names(*sp) + " " : std::string()));
      if (i == 0) {
        out_.has_first_spouse = true;
        out_.first_spouse_text = sp ? Names(*sp) : std::string();
        out_.first_spouse_id = sp ? sp->pid : 0;
        out_.first_spouse_is_husband = sex != SexClass::kMale;
        out_.subject_text = Names(s);
      }
      // "(n)": the shared family's place among the spouse's families.
      std::string tag;
      if (sp && SlotCount(sp->fams) > 1)
        for (int j = 0; j < SlotCount(sp->fams); ++j)
          if (sp->fams[j] == f->fid) tag = "(" + std::to_string(j + 1) + ")";
      if (i == 0) Children(*f, tag);
      if (sp && sp->fams[1] != 0) PriorMarriages(*sp, f->fid);
      if (i > 0) Children(*f, tag);
    }
  }

private:
  std::optional<PersonView> PersonOrNothing(int pid) { return pid == 0 ? std::nullopt : reader_.Person(pid); }

  void ParentLines(int pid, const char* label) {
    const std::optional<PersonView> p = PersonOrNothing(pid);
    if (!p) return;
    out_.lines.push_back(std::string(label) + Names(*p));
    if (p->famc == 0) return;
    const std::optional<FamilyView> g = reader_.Family(p->famc);
    if (!g) return;
    if (const auto gf = PersonOrNothing(g->husband)) out_.lines.push_back("    G'FATHER: " + Names(*gf));
    if (const auto gm = PersonOrNothing(g->wife)) out_.lines.push_back("    G'MOTHER: " + Names(*gm));
  }

  void Parents(const PersonView& s) {
    if (s.famc == 0) return;
    const std::optional<FamilyView> f = reader_.Family(s.famc);
    if (!f) return;
    const int mother = f->wife;
    ParentLines(f->husband, "  FATHER: ");
    ParentLines(mother, "  MOTHER: ");
  }

  void PriorMarriages(const PersonView& sp, int shared) {
    for (int j = 0; j < SlotCount(sp.fams) && sp.fams[j] != shared; ++j) {
      const std::optional<FamilyView> e = reader_.Family(sp.fams[j]);
      if (!e) continue;
      const std::optional<PersonView> h = PersonOrNothing(e->husband);
      const std::optional<PersonView> w = PersonOrNothing(e->wife);
      std::string couple = h ? Names(*h) : std::string();
      if (h && w) couple += " m. ";
      if (w) couple += Names(*w);
      prefix_ = "   ";
      out_.lines.push_back("");
      out_.lines.push_back(prefix_ + "prior: " + couple);
      Children(*e, "");
      out_.lines.push_back("");
      prefix_.clear();
    }
  }

  // The partner text " & " + names of person in family fid, or "".
  std::string PartnerText(const FamilyView& f, SexClass sex) {
    const std::optional<PersonView> q = PersonOrNothing(PartnerOf(f, sex));
    return q ? " & " + Names(*q) : std::string();
  }

  void Children(const FamilyView& f, const std::string& tag) {
    for (int s = 0; s < SlotCount(f.children); ++s) {
      const std::optional<PersonView> c = reader_.Person(f.children[s]);
      if (!c) continue;
      const SexClass sex = ClassOfSex(c->sex);
      const char* word = sex == SexClass::kMale ? " SON " : sex == SexClass::kUndetermined ? " CHILD " : " DAUGHTER ";
      const std::string text = Names(*c);
      out_.list_entries.push_back(c->fname + " " + " bp. " + c->bapdate);
      out_.child_ids.push_back(c->pid);
      const int m = SlotCount(c->fams);
      if (m == 0) {
        out_.lines.push_back(prefix_ + tag + word + text);
        continue;
      }
      for (int j = 0; j < m; ++j) {
        std::string line = prefix_ + (j == 0 ? tag + word : std::string(" ** ")) + text;
        const std::optional<FamilyView> g = reader_.Family(c->fams[j]);
        if (g) line += PartnerText(*g, sex);
        out_.lines.push_back(std::move(line));
        if (g) Grandchildren(*g);
      }
    }
  }

  void Grandchildren(const FamilyView& f) {
    for (int s = 0; s < SlotCount(f.children); ++s) {
      const std::optional<PersonView> g = reader_.Person(f.children[s]);
      if (!g) continue;
      const SexClass sex = ClassOfSex(g->sex);
      std::string line = prefix_ +
                         (sex == SexClass::kMale           ? "   GRANDSON "
                          : sex == SexClass::kUndetermined ? "   GRANDCHILD "
                                                           : "   GRANDDAUGHTER ") +
                         Names(*g);
      if (g->fams[0] != 0)
        if (const std::optional<FamilyView> own = reader_.Family(g->fams[0])) line += PartnerText(*own, sex);
      out_.lines.push_back(std::move(line));
    }
  }

  FamilyReader& reader_;
  RelationshipReport& out_;
  std::string prefix_;  // "   " while a spouse's earlier marriage is written
};

}  // namespace

std::optional<RelationshipReport> ReportOn(FamilyReader& source, int subject) {
  if (subject == 0) return std::nullopt;
  CachedReader reader(source);
  const std::optional<PersonView> s = reader.Person(subject);
  if (!s) return std::nullopt;
  RelationshipReport report;
  ReportWriter(reader, report).Write(*s);
  return report;
}

}  // namespace family
