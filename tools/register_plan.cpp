// Deciding what a set of register files holds: kinds, names, titles, years
// and how many record lines each file gets.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tools/name_tables.h"
#include "tools/prng.h"
#include "tools/register_generator.h"

namespace regtools {
namespace {

// Baptisms are the bulk of a set; every five files in a row hold each kind.
constexpr RegisterKind kKindCycle[] = {
    RegisterKind::kBaptisms, RegisterKind::kMarriages, RegisterKind::kBaptisms,
    RegisterKind::kMembers,  RegisterKind::kWills,     RegisterKind::kPassengers,
    RegisterKind::kBaptisms, RegisterKind::kMarriages};

int KindWeight(RegisterKind kind) {
  switch (kind) {
    case RegisterKind::kBaptisms: return 16;
    case RegisterKind::kMarriages: return 8;
    case RegisterKind::kMembers: return 4;
    case RegisterKind::kWills: return 4;
    case RegisterKind::kPassengers: return 5;
  }
  return 1;
}

const char* KindHeading(RegisterKind kind) {
  switch (kind) {
    case RegisterKind::kBaptisms: return "Baptisms";
    case RegisterKind::kMarriages: return "Marriages";
    case RegisterKind::kMembers: return "Members";
    case RegisterKind::kWills: return "Wills";
    case RegisterKind::kPassengers: return "Passengers";
  }
  return "";
}

std::string Slug(const std::string& text) {
  std::string slug;
  for (unsigned char c : text) {
    if (c >= 'A' && c <= 'Z') slug += static_cast<char>(c - 'A' + 'a');
    if (c >= 'a' && c <= 'z') slug += static_cast<char>(c);
  }
  return slug;
}

// Hands out file-name stems, each once: the first free candidate, else the
// first candidate with a number.
class SlugBook {
 public:
  std::string Claim(const std::vector<std::string>& candidates) {
    for (const std::string& c : candidates) {
      if (used_.insert(c).second) return c;
    }
    for (int n = 2;; ++n) {
      std::string numbered = candidates.front() + std::to_string(n);
      if (used_.insert(numbered).second) return numbered;
    }
  }

 private:
  std::set<std::string> used_;
};

struct Parish {
  std::string dedication;
  std::string place;
  std::string slug;
};

// Parish n: every pairing of dedication and place comes once before any
// repeats (13 and 24 share no factor).
Parish MakeParish(int n, SlugBook& book) {
  const NameTables& t = Names();
  const int d = static_cast<int>(t.dedications.size());
  const int p = static_cast<int>(t.places.size());
  Parish parish;
  parish.dedication = t.dedications[n % d];
  parish.place = t.places[(n % d + (d + 1) * (n / d)) % p];
  parish.slug = book.Claim({Slug(parish.dedication),
                            Slug(parish.dedication) + Slug(parish.place)});
  return parish;
}

std::string YearRange(int first, int last) {
  return std::to_string(first) + "-" + std::to_string(last);
}

// Years covered: every file reaches from before 1700 into the 1700s.
void ChooseYears(RegisterKind kind, uint64_t seed, int* first, int* last) {
  SplitMix64 rng(seed);
  switch (kind) {
    case RegisterKind::kBaptisms:
    case RegisterKind::kMarriages:
      *first = rng.Between(1560, 1680);
      *last = std::min(1837, std::max(*first + 60, 1710) + rng.Between(0, 80));
      break;
    case RegisterKind::kMembers:
      *first = rng.Between(1650, 1690);
      *last = rng.Between(1720, 1800);
      break;
    case RegisterKind::kWills:
      *first = rng.Between(1540, 1660);
      *last = std::max(*first + 80, 1720) + rng.Between(0, 60);
      break;
    case RegisterKind::kPassengers:
      *first = rng.Between(1620, 1680);
      *last = rng.Between(1710, 1775);
      break;
  }
}

void CheckOptions(const GeneratorOptions& options) {
  if (options.files < 1 || options.files > kMaxFiles) {
    throw GeneratorError("files must be between 1 and " + std::to_string(kMaxFiles) +
                         ", not " + std::to_string(options.files));
  }
  if (options.record_lines < 0 || options.record_lines > kMaxRecordLines) {
    throw GeneratorError("record lines must be between 0 and " +
                         std::to_string(kMaxRecordLines) + ", not " +
                         std::to_string(options.record_lines));
  }
}

// Splits the record lines over the files by weight; the remainder goes one
// line each to the first files, so the total is exact.
void ShareRecordLines(const GeneratorOptions& options, std::vector<RegisterFilePlan>& plans) {
  SplitMix64 rng(DeriveSeed(options.seed, 0));
  std::vector<int64_t> weights;
  int64_t total_weight = 0;
  for (const RegisterFilePlan& plan : plans) {
    weights.push_back(KindWeight(plan.kind) * rng.Between(70, 130));
    total_weight += weights.back();
  }
  int64_t given = 0;
  for (size_t i = 0; i < plans.size(); ++i) {
    plans[i].record_lines = options.record_lines * weights[i] / total_weight;
    given += plans[i].record_lines;
  }
  for (size_t i = 0; given < options.record_lines; ++i, ++given) {
    plans[i].record_lines += 1;
  }
}

}  // namespace

const char* KindSuffix(RegisterKind kind) {
  switch (kind) {
    case RegisterKind::kBaptisms: return "_bap.txt";
    case RegisterKind::kMarriages: return "_marr.txt";
    case RegisterKind::kMembers: return "_memb.txt";
    case RegisterKind::kWills: return "_will.txt";
    case RegisterKind::kPassengers: return "_pass.txt";
  }
  return "";
}

std::vector<RegisterFilePlan> PlanRegisters(const GeneratorOptions& options) {
  CheckOptions(options);
  const NameTables& t = Names();
  const int cycle = static_cast<int>(std::size(kKindCycle));

  std::vector<Parish> parishes;
  SlugBook parish_book, member_book, will_book, port_book;
  int count[5] = {0, 0, 0, 0, 0};
  std::vector<RegisterFilePlan> plans;

  for (int i = 0; i < options.files; ++i) {
    RegisterFilePlan plan;
    plan.kind = kKindCycle[i % cycle];
    plan.seed = DeriveSeed(options.seed, 1 + static_cast<uint64_t>(i));
    const int n = count[static_cast<int>(plan.kind)]++;
    // Baptisms, marriages and members of parish n share its families.
    auto parish = [&](int k) -> const Parish& {
      while (static_cast<int>(parishes.size()) <= k) {
        parishes.push_back(MakeParish(static_cast<int>(parishes.size()), parish_book));
      }
      return parishes[k];
    };
    const uint64_t parish_seed = DeriveSeed(options.seed, 100000 + static_cast<uint64_t>(n));
    std::string stem, name;
    switch (plan.kind) {
      case RegisterKind::kBaptisms:
      case RegisterKind::kMarriages:
        plan.family_seed = parish_seed;
        stem = parish(n).slug;
        name = parish(n).dedication + ", " + parish(n).place;
        ChooseYears(plan.kind, DeriveSeed(parish_seed, 1), &plan.first_year, &plan.last_year);
        break;
      case RegisterKind::kMembers:
        plan.family_seed = parish_seed;
        stem = member_book.Claim({Slug(parish(n).place)});
        name = t.meetings[n % t.meetings.size()] + ", " + parish(n).place;
        ChooseYears(plan.kind, DeriveSeed(parish_seed, 2), &plan.first_year, &plan.last_year);
        break;
      case RegisterKind::kWills: {
        const std::string& place = t.places[(n * 5 + 4) % t.places.size()];
        plan.family_seed = DeriveSeed(options.seed, 200000 + static_cast<uint64_t>(n));
        stem = will_book.Claim({Slug(place)});
        name = t.courts[n % t.courts.size()] + " " + place;
        ChooseYears(plan.kind, plan.family_seed, &plan.first_year, &plan.last_year);
        break;
      }
      case RegisterKind::kPassengers: {
        const std::string& port = t.ports[n % t.ports.size()];
        plan.family_seed = DeriveSeed(options.seed, 300000 + static_cast<uint64_t>(n));
        stem = port_book.Claim({Slug(port)});
        name = "Port of " + port;
        ChooseYears(plan.kind, plan.family_seed, &plan.first_year, &plan.last_year);
        break;
      }
    }
    plan.file_name = stem + KindSuffix(plan.kind);
    plan.title = name + " - " + KindHeading(plan.kind) + " " +
                 YearRange(plan.first_year, plan.last_year);
    plans.push_back(std::move(plan));
  }
  ShareRecordLines(options, plans);
  return plans;
}

}  // namespace regtools
