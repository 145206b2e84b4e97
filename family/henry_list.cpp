#include "family/henry_list.h"

#include "platform/runtime/cp1252.h"

namespace family {

std::string DottedNumber(const std::string& number) {
  std::string out;
  out.reserve(number.size() + number.size() / 3);
  for (size_t i = 0; i < number.size(); ++i) {
    if (i > 0 && i % 3 == 0) out += '.';
    out += number[i];
  }
  return out;
}

std::optional<std::vector<std::string>> HenryList::Run(int subject) {
  if (subject == 0) return std::nullopt;
  CachedReader cache(source_);
  reader_ = &cache;
  struct Done {
    FamilyReader*& r;
    ~Done() { r = nullptr; }
  } done{reader_};
  const std::optional<PersonView> s = reader_->Person(subject);
  if (!s) return std::nullopt;
  page_ = {" ", "Modified Henry list for " + s->fname + " " + s->lname, " "};
  work_.assign(1, WorkItem{subject, "", -1});
  queued_ = {subject};
  for (size_t head = 0; head < work_.size(); ++head)
    if (!Descend(head)) break;
  work_.clear();
  return std::move(page_);
}

void HenryList::AppendName(const PersonView& p, bool surname) {
  line_ += p.fname;
  if (surname) {
    line_ += ' ';
    line_ += rtl::AnsiUpperCase(p.lname);
  }
  if (!p.bapdate.empty()) {
    line_ += " bp. ";
    line_ += p.bapdate;
  }
}

void HenryList::AppendPersonLine(const PersonView& p, bool surname) {
  AppendName(p, surname);
  const SexClass sex = ClassOfSex(p.sex);
  for (int j = 0; j < SlotCount(p.fams); ++j) {
    const std::optional<FamilyView> f = reader_->Family(p.fams[j]);
    if (!f) continue;
    const int partner = PartnerOf(*f, sex);
    if (partner == 0) continue;
    const std::optional<PersonView> q = reader_->Person(partner);
    if (!q) continue;
    line_ += " m. ";
    AppendName(*q, true);
  }
  page_.push_back(std::move(line_));
  line_.clear();
}

bool HenryList::HasChildren(const PersonView& p) {
  for (int j = 0; j < SlotCount(p.fams); ++j) {
    const std::optional<FamilyView> f = reader_->Family(p.fams[j], true);
    if (f && f->children[0] != 0) return true;
  }
  return false;
}

int HenryList::OnLine(size_t item, int pid) const {
  for (int i = static_cast<int>(item); i >= 0; i = work_[i].parent)
    if (work_[i].pid == pid) return i;
  return -1;
}

bool HenryList::Descend(size_t item) {
  page_.push_back(" ");
  const int pid = work_[item].pid;
  const std::string number = work_[item].number;
  const std::optional<PersonView> p = reader_->Person(pid);
  if (!p) return true;
  line_ = DottedNumber(number) + "  ";
  AppendPersonLine(*p, true);
  // Spouse slots naming no family are left out, also from the count that
  // decides whether children carry their family's place.
  std::vector<FamilyView> families;
  for (int j = 0; j < SlotCount(p->fams); ++j)
    if (std::optional<FamilyView> f = reader_->Family(p->fams[j])) families.push_back(std::move(*f));
  const int k = static_cast<int>(families.size());
  int c = 0;
  for (int j = 0; j < k; ++j) {
    const FamilyView* f = &families[static_cast<size_t>(j)];
    for (int s = 0; s < SlotCount(f->children); ++s) {
      const std::optional<PersonView> child = reader_->Person(f->children[s]);
      if (!child) continue;
      if (++c > kMaxChildDigits) {
        page_.push_back("    The list ends here: " + p->fname + " " + rtl::AnsiUpperCase(p->lname) + " has more than " +
                        std::to_string(kMaxChildDigits) + " children.");
        return false;
      }
      const std::string child_number = number + kChildDigits[c - 1];
      line_ = "    " + DottedNumber(child_number) + "  ";
      if (k > 1) line_ += "(" + std::to_string(j + 1) + ")  ";
      AppendPersonLine(*child, false);
      const int cpid = child->pid;
      const int above = queued_.count(cpid) ? OnLine(item, cpid) : -1;
      if (above >= 0) {
        const std::string& at = work_[above].number;
        page_.push_back("      loop: " + child->fname + " " + rtl::AnsiUpperCase(child->lname) + " stands above as " +
                        (at.empty() ? std::string("the subject") : DottedNumber(at)) + "; not listed again");
        continue;
      }
      if (!HasChildren(*child)) continue;
      work_.push_back(WorkItem{cpid, child_number, static_cast<int>(item)});
      queued_.insert(cpid);
    }
  }
  return true;
}

}  // namespace family
