// The parts of TSelectExecutor that its files share: the per-source state
// of an execution, the result columns, the groups, and small helpers. The
// executor is split by stage: binding names and result fields
// (select_executor.cpp), the result table and values (select_output.cpp),
// planning each execution (select_planner.cpp) and walking the plan
// (select_walk.cpp). Included only by those files.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <span>
#include <unordered_map>

#include "platform/runtime/sysutils.h"
#include "tables/engine/base/scope_exit.h"
#include "tables/engine/errors/errors.h"
#include "tables/engine/files/index_key.h"
#include "tables/engine/maintenance/record_sort.h"
#include "tables/engine/table/data_session.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/expeval.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tables/sql/definition_executor.h"
#include "tables/sql/join_lookup.h"
#include "tables/sql/live_result.h"
#include "tables/sql/model_dump.h"
#include "tables/sql/query_plan.h"
#include "tables/sql/select_executor.h"
#include "tables/sql/statement.h"

namespace korvex {

namespace select_parts {


inline constexpr std::size_t kMaxResultColumns = 1024;

// An integral join value as the key bytes of a hash lookup.
inline std::string_view IntegralKey(const std::int64_t& value) {
  return {reinterpret_cast<const char*>(&value), sizeof value};
}
inline constexpr const char* kWhereContext = "WHERE or JOIN clause";

[[noreturn]] inline void Fail(const std::string& message) { RaiseError(err::kSqlError, {}, {}, {}, message); }

// Whether two trees are the same expression (names without regard to case).
inline bool SameTree(const TExpToken* a, const TExpToken* b) {
  if (!a || !b) return a == b;
  return a->Compare(*b) && SameTree(a->Left, b->Left) && SameTree(a->Right, b->Right) &&
         SameTree(a->Third, b->Third);
}

// The highest source level a bound tree reads (-1: none).
inline int LastLevel(const TExpToken* node) {
  int first, last;
  SourceLevels(node, first, last);
  return last;
}

// Whether a bound tree reads columns of exactly one table.
inline bool OneTable(const TExpToken* node) {
  int first, last;
  SourceLevels(node, first, last);
  return first >= 0 && first == last;
}

inline std::string AggregatePrefix(std::uint8_t calculation) {
  switch (calculation) {
    case rcSum: return "Sum Of ";
    case rcMin: return "Min Of ";
    case rcMax: return "Max Of ";
    case rcAvg: return "Average Of ";
    case rcCount: return "Count Of ";
    default: return {};
  }
}

inline std::uint8_t AggregateOperator(std::uint8_t calculation) {
  switch (calculation) {
    case rcSum: return eoSUM;
    case rcMin: return eoMIN;
    case rcMax: return eoMAX;
    case rcAvg: return eoAVG;
    case rcCount: return eoCOUNT;
    default: return eoNOTDEFINED;
  }
}

inline std::string RightmostChars(const std::string& text, std::size_t count) {
  return text.size() <= count ? text : text.substr(text.size() - count);
}

inline std::atomic<std::uint32_t> result_counter{0};

// Values that compare equal exactly when their keys do.
inline bool Hashable(std::uint8_t a, std::uint8_t b) {
  return (IsIntegralType(a) && IsIntegralType(b)) || (a == b && (a == dtDate || a == dtTime));
}

inline std::int64_t HashKey(const TExpToken* value) {
  return IsIntegralType(value->DataType) ? value->IntegralValue() : std::int64_t{value->Value<std::int32_t>()};
}


// A non-blank value in the form of a field of `def` (kConvertBufferSize + 1
// bytes of `data`, zeroed); false when it has none there (an empty text
// included). A float's -0 becomes 0.
bool FieldBytes(const TExpToken* value, const TFieldDefinition& def, std::uint8_t* data);

// Binds a column node of a condition to the first source (in FROM order)
// that has the column (`user`: the executor's sources).
bool LookupSourceField(void* user, TExpToken* node);

}  // namespace select_parts

struct TSelectExecutor::Source {
  TSourceTable* table = nullptr;
  std::size_t planned = 0;  // its place in the order of preparation
  std::unique_ptr<TDataCursor> cursor;
  std::uint32_t record_size = 0;
  std::vector<std::uint8_t> rows;  // every record, read once per execution
  std::uint32_t row_count = 0;
  const std::uint8_t* current = nullptr;  // nullptr: the blank row of an outer join
  std::uint8_t join_type = jtNone;        // how this table joins those before it
  // An outer join's inner side: the tables of the group this one starts
  // (join_type set), and whether this table is of such a group.
  std::size_t group_size = 1;
  bool in_group = false;
  // Conditions that read this table only: ON conditions of an outer join
  // on this target (they decide which rows can match), and WHERE
  // conditions. Each execution makes the cursor's filter of them
  // (`filters`); what the filter leaves is tested on each record as it is
  // read (`scan`).
  std::vector<TExpToken*> on_own;
  std::vector<TExpToken*> where_own;
  std::vector<TExpToken*> own;  // this execution's: those the filter is made of
  TWhereFilters filters;
  std::vector<TExpToken*> scan;
  // The WHERE conditions of this outer-join target are false on its blank
  // row (this execution): they filter the target, and no blank row is made.
  bool blank_row_fails = false;
  std::vector<TExpToken*> outer_conditions;  // ON conditions of an outer join on this target, over several tables
  std::vector<TExpToken*> conditions;        // other conditions whose last table is this one (this execution)
  // This execution's step of the plan: the access path of its own
  // conditions (FilterSources), then the lookup of its join (ChooseLookups).
  // The walk follows the executor's copy, plan_.
  TPlanStep step;
  // What the lookups hold. A hash: the rows by the join value, blank rows
  // apart (two blanks are equal); texts of language 0 by their bytes. Ordered:
  // the rows ordered by the join columns. A range reads no row ahead: the
  // walk sets a range of the step's index to the probe values (`key`, a
  // record buffer, made into index key bytes `range_key`), finds the first
  // key that begins so and reads the rows while their keys begin so
  // (`range_length` bytes) into `record`.
  TKeyedRows hash;  // integral keys by their 8 bytes, texts by theirs
  std::vector<std::uint32_t> blank_rows;
  TSortedLookup sorted;
  std::vector<std::uint8_t> key;
  std::vector<std::uint8_t> record;
  std::vector<std::uint8_t> range_key;
  std::uint16_t range_length = 0;
  bool range_first = false;  // the first row of the range is in `record`
  std::uint8_t home_index = kPhysicalOrder;  // the cursor's index when it opened
};

struct TSelectExecutor::Output {
  TResultField* field = nullptr;
  std::string name;
  std::uint8_t calculation = rcNone;
  const TExpToken* expression = nullptr;  // bound tree (the argument of an aggregate)
  bool count_star = false;
  // The expression is a column read straight from its record: its bytes
  // are the result's, or (integral) the aggregate's argument.
  bool copies_column = false;
  bool integral_column = false;
  TFieldDefinition def;
  std::uint8_t argument_type = dtUnknown;
};

struct TSelectExecutor::Group {
  std::vector<std::uint8_t> record;
  std::vector<std::uint8_t> range_key;
  std::uint16_t range_length = 0;
  bool range_first = false;  // the first row of the range is in `record`
  struct Acc {
    std::int64_t count = 0;
    std::int64_t integral = 0;
    double real = 0;
    TExpToken* best = nullptr;  // MIN/MAX so far (owned); SUM of BCD
  };
  std::vector<Acc> accs;
  ~Group() {
    for (Acc& a : accs) ReturnExpTokenInstance(a.best);
  }
};


}  // namespace korvex
