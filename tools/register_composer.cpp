// Composing the lines of one register file (the format is described in
// register_generator.h). Every draw from the random stream is a statement of
// its own: the order in which operands of one expression are evaluated is
// up to the compiler, and the bytes must not be.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/name_tables.h"
#include "tools/prng.h"
#include "tools/register_generator.h"

namespace regtools {
namespace {

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int kDaysInYear = 365;
// The first groups of each surname table are common in every parish.
constexpr size_t kCommonSurnames = 6;

struct Date {
  int year = 0;
  int month = 0;  // 0-11
  int day = 1;
};

Date DateOfDay(int first_year, int64_t day_index) {
  Date date;
  date.year = first_year + static_cast<int>(day_index / kDaysInYear);
  int day_of_year = static_cast<int>(day_index % kDaysInYear);
  while (day_of_year >= kMonthDays[date.month]) day_of_year -= kMonthDays[date.month++];
  date.day = day_of_year + 1;
  return date;
}

// The surnames of one parish: the commonest groups of the table, then a
// shuffled selection of the others, each with the spelling the parish mostly
// used; families near the front are picked more often.
class FamilyPool {
 public:
  FamilyPool(uint64_t seed, const std::vector<SurnameGroup>& groups, size_t size,
             size_t common)
      : groups_(groups) {
    SplitMix64 rng(seed);
    order_.resize(groups.size());
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = i;
    common = std::min(common, order_.size());
    Shuffle(rng, 0, common);
    Shuffle(rng, common, order_.size());
    order_.resize(std::min(size, order_.size()));
    for (size_t g : order_) {
      usual_.push_back(rng.Below(static_cast<uint32_t>(groups[g].spellings.size())));
    }
  }

  // A family, the first ones of the pool more often than the last.
  size_t Pick(SplitMix64& rng) const {
    const uint32_t n = static_cast<uint32_t>(order_.size());
    if (rng.PerMille(500)) return rng.Below(n);
    return rng.Below(rng.Below(n) + 1);
  }

  // The family's surname as one entry spells it.
  const std::string& Spell(size_t family, SplitMix64& rng) const {
    const std::vector<std::string>& spellings = groups_[order_[family]].spellings;
    if (rng.PerMille(720)) return spellings[usual_[family]];
    return rng.Pick(spellings);
  }

 private:
  void Shuffle(SplitMix64& rng, size_t begin, size_t end) {
    for (size_t i = end; i > begin + 1; --i) {
      std::swap(order_[i - 1], order_[begin + rng.Below(static_cast<uint32_t>(i - begin))]);
    }
  }

  const std::vector<SurnameGroup>& groups_;
  std::vector<size_t> order_;
  std::vector<uint32_t> usual_;
};

class FileComposer {
 public:
  FileComposer(const RegisterFilePlan& plan, const LineSink& sink)
      : plan_(plan),
        sink_(sink),
        names_(Names()),
        rng_(plan.seed),
        families_(plan.family_seed, names_.surnames,
                  20 + static_cast<size_t>(plan.record_lines / 25), kCommonSurnames),
        settlers_(DeriveSeed(plan.family_seed, 7), names_.foreign_surnames,
                  names_.foreign_surnames.size(), kCommonSurnames) {
    day_first_ = rng_.PerMille(500);
    static const uint32_t kHeadingStyles[10] = {0, 0, 0, 0, 0, 1, 1, 2, 2, 3};
    year_heading_ = kHeadingStyles[rng_.Below(10)];  // none, words, separator, both
    static const std::vector<std::string> kHeadings = {"Anno Domini", "Anno Dom.",
                                                       "The year"};
    static const std::vector<std::string> kSeparators = {
        "----------------------------------------", "- - - - - - - - - -", "-----"};
    heading_ = rng_.Pick(kHeadings);
    separator_ = rng_.Pick(kSeparators);
  }

  void Run() {
    Emit(LineKind::kTitle, plan_.title);
    const int64_t n = plan_.record_lines;
    const int64_t span_days = int64_t{plan_.last_year - plan_.first_year + 1} * kDaysInYear;
    const int64_t step = span_days / std::max<int64_t>(n, 1);
    int last_year = 0;
    int64_t ship_left = 0;
    int64_t ship_day = 0;
    for (int64_t j = 0; j < n; ++j) {
      // Rising dates: the jitter never reaches the next record's slot.
      int64_t day_index = j * span_days / n + rng_.Below(static_cast<uint32_t>(step / 2 + 1));
      bool new_ship = false;
      if (plan_.kind == RegisterKind::kPassengers) {
        if (ship_left == 0) {
          ship_left = rng_.Between(8, 40);
          ship_day = day_index;
          new_ship = true;
        }
        --ship_left;
        day_index = ship_day;  // one sailing, one date
      }
      const Date date = DateOfDay(plan_.first_year, day_index);
      if (date.year != last_year) EmitYearHeading(date.year);
      last_year = date.year;
      if (new_ship) EmitShip(date.year);
      EmitExtras();
      j += EmitRecord(date, n - j - 1);
    }
  }

 private:
  // Writes one record (two for twins) and returns how many extra it wrote.
  int EmitRecord(const Date& date, int64_t room) {
    StartRecord(date);
    const size_t date_end = line_.size();
    int extra = 0;
    switch (plan_.kind) {
      case RegisterKind::kBaptisms: {
        const bool settler = IsSettler(date.year);
        const bool child_male = rng_.PerMille(510);
        const size_t family = Family(settler);
        AppendParents(date.year, settler, family);
        const std::string parents = line_.substr(date_end);
        AppendBaptismTail(date.year, settler, family, child_male);
        FinishRecord();
        if (room > 0 && rng_.PerMille(8)) {  // twins: same day, same parents
          StartRecord(date);
          line_ += parents;
          AppendBaptismTail(date.year, settler, family, rng_.PerMille(510));
          FinishRecord();
          extra = 1;
        }
        break;
      }
      case RegisterKind::kMarriages: AppendMarriage(date.year); FinishRecord(); break;
      case RegisterKind::kMembers: AppendMembers(date.year); FinishRecord(); break;
      case RegisterKind::kWills: AppendWill(date.year); FinishRecord(); break;
      case RegisterKind::kPassengers: AppendPassengers(date.year); FinishRecord(); break;
    }
    if (rng_.PerMille(plan_.kind == RegisterKind::kPassengers ? 80 : 40)) EmitContinuation();
    return extra;
  }

  // "1687 12 Mar " or "1687 Mar 12 ", now and then with unreadable digits.
  void StartRecord(const Date& date) {
    line_.clear();
    char year[5];
    char day[3];
    year[0] = static_cast<char>('0' + date.year / 1000);
    year[1] = static_cast<char>('0' + date.year / 100 % 10);
    year[2] = static_cast<char>('0' + date.year / 10 % 10);
    year[3] = static_cast<char>('0' + date.year % 10);
    year[4] = 0;
    day[0] = static_cast<char>('0' + date.day / 10);
    day[1] = static_cast<char>('0' + date.day % 10);
    day[2] = 0;
    if (rng_.PerMille(15)) {
      static const int kPlaces[10] = {3, 3, 3, 3, 3, 2, 2, 2, 1, 0};
      year[kPlaces[rng_.Below(10)]] = '?';
    }
    if (rng_.PerMille(10)) {
      day[0] = '?';
      if (rng_.PerMille(400)) day[1] = '?';
    }
    const bool day_first = rng_.PerMille(30) ? !day_first_ : day_first_;
    line_ += year;
    line_ += ' ';
    line_ += day_first ? day : kMonths[date.month];
    line_ += ' ';
    line_ += day_first ? kMonths[date.month] : day;
    line_ += ' ';
  }

  void FinishRecord() {
    if (rng_.PerMille(10)) line_ += rng_.PerMille(500) ? "  " : "\t";
    Emit(LineKind::kRecord, line_);
  }

  bool IsSettler(int year) {
    if (plan_.kind == RegisterKind::kPassengers) return rng_.PerMille(year < 1700 ? 120 : 300);
    return rng_.PerMille(25);
  }

  size_t Family(bool settler) {
    return settler ? settlers_.Pick(rng_) : families_.Pick(rng_);
  }

  const std::string& Surname(bool settler, size_t family) {
    return settler ? settlers_.Spell(family, rng_) : families_.Spell(family, rng_);
  }

  const std::string& GivenName(bool male, int year, bool settler) {
    if (settler) return rng_.Pick(male ? names_.male_foreign : names_.female_foreign);
    bool early = year < 1700;
    if (year > 1670 && year < 1730 && rng_.PerMille(150)) early = !early;
    if (male) return rng_.Pick(early ? names_.male_early : names_.male_late);
    return rng_.Pick(early ? names_.female_early : names_.female_late);
  }

  // A given name as the transcriber read it: "Will[iam]", "[illeg.]".
  void AppendGiven(const std::string& given, bool settler) {
    if (!settler && given.size() >= 6 && rng_.PerMille(25)) {
      line_.append(given, 0, 4);
      line_ += '[';
      line_.append(given, 4);
      line_ += ']';
    } else if (rng_.PerMille(4)) {
      line_ += "[illeg.]";
    } else {
      line_ += given;
    }
  }

  void AppendSurname(bool settler, size_t family) {
    if (rng_.PerMille(4)) {
      line_ += "[illeg.]";
    } else {
      line_ += Surname(settler, family);
    }
  }

  void AppendPerson(bool male, int year, bool settler, size_t family) {
    AppendGiven(GivenName(male, year, settler), settler);
    line_ += ' ';
    AppendSurname(settler, family);
  }

  // "John Smyth, Mary Jonson"; now and then a base child of its mother.
  void AppendParents(int year, bool settler, size_t family) {
    if (rng_.PerMille(5)) {
      AppendPerson(false, year, settler, family);
      line_ += ", singlewoman";
      return;
    }
    AppendPerson(true, year, settler, family);
    line_ += ", ";
    AppendPerson(false, year, settler, Family(settler));
  }

  // "; Anne; Will[iam] Turner, Joan Hall"
  void AppendBaptismTail(int year, bool settler, size_t family, bool male) {
    line_ += "; ";
    if (rng_.PerMille(3)) {
      line_ += "[illeg.]";
    } else {
      line_ += GivenName(male, year, settler);
    }
    line_ += "; ";
    int witnesses = 3;
    if (year >= 1700) witnesses = rng_.PerMille(600) ? 2 : (rng_.PerMille(700) ? 3 : 1);
    for (int w = 0; w < witnesses; ++w) {
      if (w > 0) line_ += ", ";
      // Two sponsors of the child's sex and one of the other.
      const bool witness_male = (w < 2) == male;
      const size_t witness_family = rng_.PerMille(200) ? family : Family(settler);
      AppendPerson(witness_male, year, settler, witness_family);
    }
  }

  // "Thomas Baker wid, yeoman; Mary Cole, widow"
  void AppendMarriage(int year) {
    const bool settler = IsSettler(year);
    AppendPerson(true, year, settler, Family(settler));
    if (rng_.PerMille(10)) line_ += " Jr";
    if (rng_.PerMille(80)) line_ += " wid";
    line_ += ", ";
    const uint32_t roll = rng_.Below(100);
    if (roll < 12) {
      line_ += "of ";
      line_ += rng_.Pick(names_.places);
    } else if (roll < 25) {
      line_ += rng_.Pick(names_.groom_terms);
    } else {
      line_ += rng_.Pick(names_.occupations);
    }
    line_ += "; ";
    AppendPerson(false, year, settler, Family(settler));
    if (rng_.PerMille(30)) line_ += " wid";
    line_ += ", ";
    line_ += rng_.Pick(names_.bride_terms);
  }

  // "Samuel Fisher, admitted; Hannah Fysher, his wife"
  void AppendMembers(int year) {
    const bool settler = IsSettler(year);
    const size_t family = Family(settler);
    AppendPerson(true, year, settler, family);
    if (rng_.PerMille(10)) line_ += " Jr";
    line_ += ", ";
    line_ += rng_.Pick(names_.member_terms);
    line_ += "; ";
    AppendPerson(false, year, settler, family);
    line_ += ", ";
    line_ += rng_.Pick(names_.member_wife_terms);
  }

  // "John Carter, yeoman, inv. £45 3s 4d; Elizabeth Carter, relict, extx"
  void AppendWill(int year) {
    const bool settler = IsSettler(year);
    const size_t family = Family(settler);
    if (rng_.PerMille(800)) {
      AppendPerson(true, year, settler, family);
      line_ += ", ";
      line_ += rng_.Pick(names_.occupations);
      if (rng_.PerMille(300)) {
        const int pounds = rng_.Between(3, 400);
        const int shillings = rng_.Between(0, 19);
        const int pence = rng_.Between(0, 11);
        line_ += ", inv. \xA3" + std::to_string(pounds) + " " + std::to_string(shillings) +
                 "s " + std::to_string(pence) + "d";
      }
      line_ += "; ";
      const std::string& term = rng_.Pick(names_.executor_terms);
      const bool executor_male = term.find("exor") != std::string::npos ||
                                 term.find("admor") != std::string::npos;
      const bool kin = term.rfind("kinsman", 0) == 0;
      AppendPerson(executor_male, year, settler, kin ? Family(settler) : family);
      line_ += ", ";
      line_ += term;
    } else {
      AppendPerson(false, year, settler, family);
      line_ += rng_.PerMille(700) ? ", widow; " : ", spinster; ";
      if (rng_.PerMille(600)) {
        AppendPerson(true, year, settler, family);
        line_ += ", son, exor";
      } else {
        AppendPerson(true, year, settler, Family(settler));
        line_ += ", kinsman, admor";
      }
    }
  }

  // "Richard Moore, tailor, aged 30; Joan Moore, his wife, aged 28"
  void AppendPassengers(int year) {
    const bool settler = IsSettler(year);
    const size_t family = Family(settler);
    const int age = rng_.Between(18, 50);
    AppendPerson(true, year, settler, family);
    line_ += ", ";
    line_ += rng_.Pick(names_.occupations);
    line_ += ", aged " + std::to_string(age);
    line_ += "; ";
    AppendPerson(false, year, settler, family);
    line_ += ", his wife, aged " + std::to_string(std::max(16, age - rng_.Between(0, 8)));
  }

  void Emit(LineKind kind, std::string_view text) {
    last_kind_ = kind;
    sink_(kind, text);
  }

  void EmitYearHeading(int year) {
    if (year_heading_ & 2) Emit(LineKind::kSeparator, separator_);
    if (year_heading_ & 1) {
      line_ = heading_ + " " + std::to_string(year);
      Emit(LineKind::kRemark, line_);
    }
  }

  void EmitShip(int year) {
    if (last_kind_ != LineKind::kSeparator) Emit(LineKind::kSeparator, separator_);
    const std::string& ship = rng_.Pick(names_.ships);
    const std::string& port = rng_.Pick(names_.ports);
    line_ = "Ship " + ship + " of " + port + ", master ";
    AppendPerson(true, year, false, families_.Pick(rng_));
    line_ += ", for " + rng_.Pick(names_.destinations);
    Emit(LineKind::kRemark, line_);
  }

  // Remarks, stray separators and empty lines between records.
  void EmitExtras() {
    if (rng_.PerMille(4)) Emit(LineKind::kRemark, rng_.Pick(names_.remarks));
    if (rng_.PerMille(3)) Emit(LineKind::kSeparator, separator_);
    if (rng_.PerMille(2)) Emit(LineKind::kEmpty, "");
  }

  void EmitContinuation() {
    static const std::vector<std::string> kIndents = {"    ", "      ", "\t", "  "};
    const std::vector<std::string>* notes = &names_.baptism_notes;
    switch (plan_.kind) {
      case RegisterKind::kBaptisms: notes = &names_.baptism_notes; break;
      case RegisterKind::kMarriages: notes = &names_.marriage_notes; break;
      case RegisterKind::kMembers: notes = &names_.member_notes; break;
      case RegisterKind::kWills: notes = &names_.will_notes; break;
      case RegisterKind::kPassengers: notes = &names_.passenger_notes; break;
    }
    line_ = rng_.Pick(kIndents);
    line_ += rng_.Pick(*notes);
    Emit(LineKind::kContinuation, line_);
  }

  const RegisterFilePlan& plan_;
  const LineSink& sink_;
  const NameTables& names_;
  SplitMix64 rng_;
  FamilyPool families_;
  FamilyPool settlers_;
  bool day_first_ = true;
  uint32_t year_heading_ = 0;
  std::string heading_;
  std::string separator_;
  std::string line_;
  LineKind last_kind_ = LineKind::kTitle;
};

}  // namespace

void ComposeRegisterFile(const RegisterFilePlan& plan, const LineSink& sink) {
  FileComposer composer(plan, sink);
  composer.Run();
}

}  // namespace regtools
