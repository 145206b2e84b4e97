#include "family/gedcom_composer.h"

#include <algorithm>
#include <unordered_map>

#include "platform/runtime/cp1252.h"

namespace family {
namespace {

// The submitter's name as GEDCOM allows it (at most 60 characters).
constexpr size_t kSubmitterName = 60;

// A value as GEDCOM takes it: '@' doubled, control characters as blanks.
void AppendValue(std::string& out, const std::string& value) {
  for (char c : value) {
    if (c == '@') out += "@@";
    else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) out += ' ';
    else out += c;
  }
}

std::string TrimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// A name part as the user wrote it ("(blank)" is none), control
// characters as blanks, trimmed.
std::string WrittenPart(const std::string& part) {
  if (part == kBlankName) return {};
  std::string written = part;
  for (char& c : written)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return TrimBlanks(written);
}

// The part as the NAME line takes it: a '/' would end or begin the
// surname there, so it is a blank.
std::string NamePart(const std::string& written) {
  std::string part = written;
  std::replace(part.begin(), part.end(), '/', ' ');
  return TrimBlanks(part);
}

class Linker {
public:
  explicit Linker(const FamilyTables& t) : t_(t) {
    const size_t np = t.persons.size(), nf = t.families.size();
    person_at_.reserve(np);
    family_at_.reserve(nf);
    for (size_t i = 0; i < np; ++i) person_at_.emplace(t.persons[i].pid, static_cast<int>(i));
    for (size_t i = 0; i < nf; ++i) family_at_.emplace(t.families[i].fid, static_cast<int>(i));
    husband_.assign(nf, -1);
    wife_.assign(nf, -1);
    children_.resize(nf);
    fams_.resize(np);
    famc_.resize(np);
    own_parent_.resize(np);
    LinkSpouses();
    LinkChildren();
  }

  const std::vector<int>& Fams(size_t p) const { return fams_[p]; }
  const std::vector<int>& Famc(size_t p) const { return famc_[p]; }
  const std::vector<int>& Children(size_t f) const { return children_[f]; }
  // Families that name the person as a child though the person is one of
  // their spouses: the child link is left out.
  const std::vector<int>& OwnParentOf(size_t p) const { return own_parent_[p]; }
  int Husband(size_t f) const { return husband_[f]; }
  int Wife(size_t f) const { return wife_[f]; }

private:
  int PersonAt(int pid) const {
    if (pid == 0) return -1;
    auto it = person_at_.find(pid);
    return it == person_at_.end() ? -1 : it->second;
  }
  int FamilyAt(int fid) const {
    if (fid == 0) return -1;
    auto it = family_at_.find(fid);
    return it == family_at_.end() ? -1 : it->second;
  }
  static void AddOnce(std::vector<int>& v, int x) {
    if (std::find(v.begin(), v.end(), x) == v.end()) v.push_back(x);
  }

  void LinkSpouses() {
    for (size_t f = 0; f < t_.families.size(); ++f) {
      const FamilyView& fam = t_.families[f];
      const int h = PersonAt(fam.husband);
      const int w = PersonAt(fam.wife);
      husband_[f] = h;
      wife_[f] = w != h ? w : -1;
    }
    // Spouse slots fill empty places by sex.
    for (size_t p = 0; p < t_.persons.size(); ++p) {
      const PersonView& person = t_.persons[p];
      const std::string sex = TrimBlanks(person.sex);
      for (int s = 0; s < SlotCount(person.fams); ++s) {
        const int f = FamilyAt(person.fams[s]);
        if (f < 0) continue;
        const int me = static_cast<int>(p);
        if (husband_[f] == me || wife_[f] == me) continue;
        if (sex == "M" && husband_[f] < 0) husband_[f] = me;
        else if (sex == "F" && wife_[f] < 0) wife_[f] = me;
      }
    }
    // FAMS: the person's own slots in order, then families naming them.
    for (size_t p = 0; p < t_.persons.size(); ++p) {
      const PersonView& person = t_.persons[p];
      for (int s = 0; s < SlotCount(person.fams); ++s) {
        const int f = FamilyAt(person.fams[s]);
        if (f >= 0 && (husband_[f] == static_cast<int>(p) || wife_[f] == static_cast<int>(p))) AddOnce(fams_[p], f);
      }
    }
    for (size_t f = 0; f < t_.families.size(); ++f) {
      if (husband_[f] >= 0) AddOnce(fams_[husband_[f]], static_cast<int>(f));
      if (wife_[f] >= 0) AddOnce(fams_[wife_[f]], static_cast<int>(f));
    }
  }

  // False (and noted) when c is a spouse of f.
  bool MayBeChild(int f, int c) {
    if (husband_[f] != c && wife_[f] != c) return true;
    AddOnce(own_parent_[static_cast<size_t>(c)], f);
    return false;
  }

  void LinkChildren() {
    for (size_t f = 0; f < t_.families.size(); ++f) {
      const FamilyView& fam = t_.families[f];
      for (int s = 0; s < SlotCount(fam.children); ++s) {
        const int c = PersonAt(fam.children[s]);
        if (c >= 0 && MayBeChild(static_cast<int>(f), c)) AddOnce(children_[f], c);
      }
    }
    for (size_t p = 0; p < t_.persons.size(); ++p) {
      const int f = FamilyAt(t_.persons[p].famc);
      if (f < 0 || !MayBeChild(f, static_cast<int>(p))) continue;
      AddOnce(children_[f], static_cast<int>(p));
      famc_[p].push_back(f);
    }
    for (size_t f = 0; f < t_.families.size(); ++f)
      for (int c : children_[f]) AddOnce(famc_[c], static_cast<int>(f));
  }

  const FamilyTables& t_;
  std::unordered_map<int, int> person_at_, family_at_;
  std::vector<int> husband_, wife_;
  std::vector<std::vector<int>> children_, fams_, famc_, own_parent_;
};

std::string Pointer(char kind, int number) {
  std::string s = "@";
  s += kind;
  s += std::to_string(number);
  s += '@';
  return s;
}

}  // namespace

std::vector<std::string> ComposeGedcom(const FamilyTables& tables, const std::string& user) {
  const Linker links(tables);
  std::vector<std::string> out = {"0 HEAD",  "1 SOUR QUORVANE", "2 VERS 1.0",           "2 NAME Quorvane",
                                  "1 SUBM @U1@", "1 GEDC",      "2 VERS 5.5.1", "2 FORM LINEAGE-LINKED",
                                  "1 CHAR UTF-8", "0 @U1@ SUBM"};
  std::string submitter = "1 NAME ";
  AppendValue(submitter, user.empty() ? std::string("Unknown") : user.substr(0, kSubmitterName));
  out.push_back(std::move(submitter));
  out.reserve(out.size() + tables.persons.size() * 5 + tables.families.size() * 6 + 1);

  for (size_t p = 0; p < tables.persons.size(); ++p) {
    const PersonView& person = tables.persons[p];
    out.push_back("0 " + Pointer('I', person.pid) + " INDI");
    std::string name = "1 NAME ";
    const std::string written_given = WrittenPart(person.fname), written_surname = WrittenPart(person.lname);
    const std::string given = NamePart(written_given);
    if (!given.empty()) {
      AppendValue(name, given);
      name += ' ';
    }
    name += '/';
    AppendValue(name, NamePart(written_surname));
    name += '/';
    out.push_back(std::move(name));
    if ((written_given + written_surname).find('/') != std::string::npos) {
      std::string note = "2 NOTE Name as written: ";
      AppendValue(note, TrimBlanks(written_given + " " + written_surname));
      out.push_back(std::move(note));
    }
    const std::string sex = TrimBlanks(person.sex);
    if (sex == "M" || sex == "F" || sex == "U") out.push_back("1 SEX " + sex);
    for (int f : links.Fams(p)) out.push_back("1 FAMS " + Pointer('F', tables.families[f].fid));
    for (int f : links.Famc(p)) out.push_back("1 FAMC " + Pointer('F', tables.families[f].fid));
    for (int f : links.OwnParentOf(p))
      out.push_back("1 NOTE Left out: child of family " + std::to_string(tables.families[f].fid) +
                    ", in which this person is a spouse");
  }
  for (size_t f = 0; f < tables.families.size(); ++f) {
    out.push_back("0 " + Pointer('F', tables.families[f].fid) + " FAM");
    if (links.Husband(f) >= 0) out.push_back("1 HUSB " + Pointer('I', tables.persons[links.Husband(f)].pid));
    if (links.Wife(f) >= 0) out.push_back("1 WIFE " + Pointer('I', tables.persons[links.Wife(f)].pid));
    for (int c : links.Children(f)) out.push_back("1 CHIL " + Pointer('I', tables.persons[c].pid));
  }
  out.push_back("0 TRLR");
  return out;
}

std::string GedcomFileBytes(const std::vector<std::string>& lines) {
  std::string bytes;
  size_t total = 0;
  for (const std::string& line : lines) total += line.size() + 2;
  bytes.reserve(total + total / 8);
  for (const std::string& line : lines) {
    bytes += rtl::Cp1252ToUtf8(line);
    bytes += "\r\n";
  }
  return bytes;
}

bool IsGedcomText(const std::vector<std::string>& lines) { return !lines.empty() && lines.front() == "0 HEAD"; }

}  // namespace family
