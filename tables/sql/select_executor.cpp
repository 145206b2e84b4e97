#include "tables/sql/select_executor.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <span>
#include <unordered_map>

#include "platform/runtime/sysutils.h"
#include "tables/engine/data_session.h"
#include "tables/engine/errors.h"
#include "tables/engine/index_key.h"
#include "tables/engine/record_sort.h"
#include "tables/engine/scope_exit.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expconvert.h"
#include "tables/lib/expeval.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"
#include "tables/sql/definition_executor.h"
#include "tables/sql/join_lookup.h"
#include "tables/sql/live_result.h"
#include "tables/sql/model_dump.h"
#include "tables/sql/statement.h"
#include "tables/sql/where_filters.h"

namespace korvex {

namespace {

constexpr std::size_t kMaxResultColumns = 1024;
constexpr const char* kWhereContext = "WHERE or JOIN clause";

[[noreturn]] void Fail(const std::string& message) { RaiseError(err::kSqlError, {}, {}, {}, message); }

// Whether two trees are the same expression (names without regard to case).
bool SameTree(const TExpToken* a, const TExpToken* b) {
  if (!a || !b) return a == b;
  return a->Compare(*b) && SameTree(a->Left, b->Left) && SameTree(a->Right, b->Right) &&
         SameTree(a->Third, b->Third);
}

// The highest source level a bound tree reads (-1: none).
int LastLevel(const TExpToken* node) {
  int first, last;
  SourceLevels(node, first, last);
  return last;
}

// Whether a bound tree reads columns of exactly one table.
bool OneTable(const TExpToken* node) {
  int first, last;
  SourceLevels(node, first, last);
  return first >= 0 && first == last;
}

std::string AggregatePrefix(std::uint8_t calculation) {
  switch (calculation) {
    case rcSum: return "Sum Of ";
    case rcMin: return "Min Of ";
    case rcMax: return "Max Of ";
    case rcAvg: return "Average Of ";
    case rcCount: return "Count Of ";
    default: return {};
  }
}

std::uint8_t AggregateOperator(std::uint8_t calculation) {
  switch (calculation) {
    case rcSum: return eoSUM;
    case rcMin: return eoMIN;
    case rcMax: return eoMAX;
    case rcAvg: return eoAVG;
    case rcCount: return eoCOUNT;
    default: return eoNOTDEFINED;
  }
}

std::string RightmostChars(const std::string& text, std::size_t count) {
  return text.size() <= count ? text : text.substr(text.size() - count);
}

std::atomic<std::uint32_t> result_counter{0};

// Values that compare equal exactly when their keys do.
bool Hashable(std::uint8_t a, std::uint8_t b) {
  return (IsIntegralType(a) && IsIntegralType(b)) || (a == b && (a == dtDate || a == dtTime));
}

std::int64_t HashKey(const TExpToken* value) {
  return IsIntegralType(value->DataType) ? value->IntegralValue() : std::int64_t{value->Value<std::int32_t>()};
}

}  // namespace

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
  TWhereFilters filters;
  std::vector<TExpToken*> scan;
  // The WHERE conditions of this outer-join target are false on its blank
  // row (this execution): they filter the target, and no blank row is made.
  bool blank_row_fails = false;
  std::vector<TExpToken*> outer_conditions;  // ON conditions of an outer join on this target, over several tables
  std::vector<TExpToken*> conditions;        // other conditions whose last table is this one (this execution)
  // An equality between a column of this table and an expression over the
  // tables before it: the rows are looked up by the expression's value
  // instead of read one by one. Two blanks are equal, so blank rows are kept
  // apart for a blank value.
  const TExpToken* hash_column = nullptr;
  const TExpToken* hash_probe = nullptr;
  const TExpToken* hash_condition = nullptr;  // holds for every row the lookup finds
  std::unordered_map<std::int64_t, std::vector<std::uint32_t>> hash;
  // Texts compared as bytes (language 0): keyed by their bytes.
  bool text_key = false;
  std::unordered_map<std::string, std::vector<std::uint32_t>> text_hash;
  std::vector<std::uint32_t> blank_rows;
  // Otherwise equalities of other types (texts, numbers, dates, several
  // columns at once) between columns of this table and expressions over
  // the tables before it: the rows are found in the rows ordered by these
  // columns. The conditions are still tested on each row found.
  std::vector<const TExpToken*> sort_columns;
  std::vector<const TExpToken*> sort_probes;
  TSortedLookup sorted;
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

TSelectExecutor::TSelectExecutor(TDataQuery& query) : query_(query) {}

TSelectExecutor::~TSelectExecutor() {
  live_.reset();
  FreeSubSelectValues();
  groups_.clear();
  for (TExpToken*& node : expanded_) FreeExpressionTokens(node);
  if (result_) {
    try {
      result_->CloseCursor(true);
    } catch (...) {
    }
    result_.reset();
  }
  if (own_result_directory_ && query_.ResultDirectory) {
    query_.ResultDirectory->Session()->CloseDataDirectory(query_.ResultDirectory);
    query_.ResultDirectory = nullptr;
  }
  for (auto& source : sources_) {
    try {
      source->filters.Clear();
      if (source->cursor) source->cursor->CloseCursor();
    } catch (...) {
    }
  }
}

// ---- preparing ------------------------------------------------------------------

void TSelectExecutor::Prepare() {
  if (query_.Distinct && query_.HasGroupBy) query_.Distinct = false;
  OpenSources();
  BindResultFields();
  if (!query_.HasGroupBy && query_.HavingGiven) Fail("A GROUP BY clause must exist in order to use the HAVING clause");
  SplitConditions();
  BindOrderAndGroup();
  BindHaving();
  if (!PrepareLive()) CreateResultTable();
}

namespace {

// Whether a tree converts between a text and another type (CAST): such a
// value depends on the formats of the language settings in force, which
// only the statement's own evaluation installs.
bool ConvertsText(const TExpToken* node) {
  if (!node || node->NodeClass == enTUPLE) return false;
  if (node->Operator == eoCAST && node->Left && (node->DataType == dtString) != (node->Left->DataType == dtString))
    return true;
  return ConvertsText(node->Left) || ConvertsText(node->Right) || ConvertsText(node->Third);
}

}  // namespace

bool TSelectExecutor::PrepareLive() {
  if (!query_.WantLiveResult || sources_.size() != 1) return false;
  TDataCursor& cursor = *sources_[0]->cursor;
  std::vector<TLiveOrderKey> keys;
  for (auto [i, descending] : order_outputs_) {
    const Output& out = outputs_[static_cast<std::size_t>(i)];
    const bool plain = out.calculation == rcNone && out.expression && out.expression->NodeClass == enFIELD;
    keys.push_back({plain ? out.expression->FieldNumber : std::uint16_t{0}, descending});
  }
  std::vector<TLiveColumn> columns;
  bool blob_expression = false;
  for (const Output& out : outputs_) {
    TExpToken* e = const_cast<TExpToken*>(out.expression);
    columns.push_back({out.name, e, out.def});
    blob_expression = blob_expression || (out.def.DataType == dtBlob && (!e || e->NodeClass != enFIELD));
    if (ConvertsText(e)) return false;
  }
  // Every WHERE condition becomes part of the cursor's filter.
  const bool same_locale = cursor.GetLanguageID() == locale_.Language && cursor.GetSortID() == locale_.Sort;
  bool filterable = true;
  for (const auto* list : {&sources_[0]->where_own, &constant_conditions_})
    for (const TExpToken* c : *list) filterable = filterable && same_locale && EngineCanFilter(c) && !ConvertsText(c);
  const std::uint8_t index = FindLiveOrderIndex(cursor, keys, query_.OrderByNoCase, locale_);
  if (DecideLiveResult(query_, index != kNoLiveOrderByIndex, blob_expression, filterable) != TLiveRefusal::None)
    return false;
  live_ = std::make_unique<TLiveResult>(cursor, LiveFieldMapping(cursor, columns), index);
  query_.LiveOrderBy = index != kNoLiveOrderByIndex;
  query_.LiveOrderByIndex = index;
  query_.LiveResult = query_.InPlaceResult = true;
  query_.DrivingTable = sources_[0]->table;
  return true;
}

TDataCursor* TSelectExecutor::ExecuteLive() {
  std::vector<TExpToken*> conditions = sources_[0]->where_own;
  conditions.insert(conditions.end(), constant_conditions_.begin(), constant_conditions_.end());
  std::uint32_t count = 0;
  if (query_.MaxNumOfRows < 0 && query_.WantLiveResult && live_->Execute(conditions, locale_, count)) {
    query_.RowsAffected = static_cast<std::int32_t>(count);
    return &live_->Cursor();
  }
  // A row limit set since preparing: a result table holds it.
  live_.reset();
  query_.LiveResult = query_.InPlaceResult = query_.LiveOrderBy = false;
  query_.LiveOrderByIndex = kNoLiveOrderByIndex;
  CreateResultTable();
  return nullptr;
}

void TSelectExecutor::OpenSources() {
  // The parser puts a RIGHT JOIN's table before the table it joins; every
  // other table follows in FROM order. Each ON condition belongs to the
  // table its JOIN names.
  std::uint16_t level = 0;
  for (TSourceTable* table : query_.SourceTables) {
    auto source = std::make_unique<Source>();
    source->table = table;
    table->JoinOrder = ++level;
    TDataDirectory* directory = table->DataDirectory ? table->DataDirectory : query_.Statement->DataDirectory();
    source->cursor = std::make_unique<TDataCursor>(directory);
    source->cursor->SetTableName(table->TableName);
    source->cursor->SetInMemory(table->InMemory);
    source->cursor->SetReadOnly(true);
    source->cursor->SetIsSourceTable(true);
    query_.GivePasswordCallback(*source->cursor, table->TableName);
    source->cursor->OpenCursor();
    // Every record is read once per execution: in the order of the file,
    // which reads ahead, rather than through an index.
    source->cursor->SetIndexPos(kPhysicalOrder);
    source->record_size = source->cursor->GetRecordSize();
    table->Cursor = source->cursor.get();
    source->planned = sources_.size();
    sources_.push_back(std::move(source));
  }
  if (!sources_.empty()) {
    locale_ = {sources_[0]->cursor->GetLanguageID(), sources_[0]->cursor->GetSortID()};
    if (query_.LanguageGiven) locale_ = {query_.LanguageID, query_.SortID};
  }
}

namespace {

struct BindContext {
  const std::vector<std::unique_ptr<TSelectExecutor::Source>>* sources;
};

}  // namespace

// Binds a column to the named table, or to the first table in FROM order
// that has a field of that name.
bool BindCursorField(TExpToken* node, TDataCursor& cursor, TSourceTable* table) {
  for (int i = 1; i <= cursor.GetFieldCount(); ++i) {
    const TFieldDefinition& f = cursor.GetFieldDefinitionByPos(i);
    if (!rtl::AnsiSameText(f.Name, node->ColumnName)) continue;
    node->SourceTable = table;
    node->FieldNumber = static_cast<std::uint16_t>(i);
    TypeColumnNode(node, f);
    return true;
  }
  return false;
}

static bool LookupSourceField(void* user, TExpToken* node) {
  auto& sources = *static_cast<std::vector<std::unique_ptr<TSelectExecutor::Source>>*>(user);
  std::vector<TSelectExecutor::Source*> ordered;
  for (auto& s : sources) ordered.push_back(s.get());
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](auto* a, auto* b) { return a->table->FromOrder < b->table->FromOrder; });
  for (TSelectExecutor::Source* source : ordered) {
    if (!node->TableName.empty() && !rtl::AnsiSameText(node->TableName, source->table->CorrelationName)) continue;
    if (BindCursorField(node, *source->cursor, source->table)) return true;
    if (!node->TableName.empty()) return false;
  }
  return false;
}

void TSelectExecutor::BindTree(TExpToken* node, const char* context, bool condition) {
  LanguageSettingsScope settings(query_.Statement->Locale().LanguageID, query_.Statement->Locale().SortID);
  VerifyExpressionToken(err::kSqlError, {}, context, node, nullptr, &sources_, &LookupSourceField, condition);
}

void TSelectExecutor::BindResultFields() {
  auto source_of = [&](const std::string& correlation) -> Source* {
    for (auto& s : sources_)
      if (rtl::AnsiSameText(s->table->CorrelationName, correlation)) return s.get();
    return nullptr;
  };
  bool plain = false;
  for (TResultField* field : query_.ResultFields) {
    if (field->Calculation == rcNone && field->FieldName == "*") {
      if (!field->DefaultName)
        Fail("Invalid use of column correlation name '" + field->ColumnName + "' for '*' specified in source columns");
      std::vector<Source*> which;
      if (field->SourceCorrelationName.empty()) {
        for (auto& s : sources_) which.push_back(s.get());
        std::stable_sort(which.begin(), which.end(),
                         [](auto* a, auto* b) { return a->table->FromOrder < b->table->FromOrder; });
      } else if (Source* s = source_of(field->SourceCorrelationName)) {
        which.push_back(s);
      } else {
        Fail("Invalid column name '*' or table correlation name '" + field->SourceCorrelationName +
             "' specified in source columns");
      }
      for (Source* s : which) {
        for (int i = 1; i <= s->cursor->GetFieldCount(); ++i) {
          const TFieldDefinition& f = s->cursor->GetFieldDefinitionByPos(i);
          TExpToken* node = GetNewExpTokenInstance();
          node->NodeClass = enFIELD;
          node->ColumnName = f.Name;
          node->TableName = s->table->CorrelationName;
          node->Text = f.Name;
          expanded_.push_back(node);
          BindTree(node, "source column expression", false);
          Output out;
          out.field = field;
          out.name = f.Name;
          out.expression = node;
          out.def = f;
          if (out.def.SubType == fstAutoInc) out.def.SubType = fstNone;
          outputs_.push_back(out);
          plain = true;
        }
      }
      continue;
    }
    Output out;
    out.field = field;
    out.calculation = field->Calculation;
    if (field->Calculation == rcCount && field->Expression && field->Expression->NodeClass == enFIELD &&
        field->Expression->ColumnName == "*") {
      // COUNT(*) counts rows; it names the first field of its table.
      out.count_star = true;
      Source* s = field->SourceCorrelationName.empty() ? nullptr : source_of(field->SourceCorrelationName);
      if (!s) {
        for (auto& candidate : sources_)
          if (!s || candidate->table->FromOrder < s->table->FromOrder) s = candidate.get();
      }
      if (s && s->cursor->GetFieldCount() > 0) field->FieldName = s->cursor->GetFieldDefinitionByPos(1).Name;
    } else {
      if (field->Calculation == rcNone && !field->IsExpression) {
        TExpToken probe;
        probe.NodeClass = enFIELD;
        probe.ColumnName = field->FieldName;
        probe.TableName = field->SourceCorrelationName;
        if (!LookupSourceField(&sources_, &probe))
          Fail("Invalid column name '" + field->FieldName + "' or table correlation name '" +
               field->SourceCorrelationName + "' specified in source columns");
      }
      BindTree(field->Expression, "source column expression", false);
      out.expression = field->Expression;
    }
    if (field->Calculation == rcNone) plain = true;
    else aggregates_ = true;
    // The column's type.
    TFieldDefinition& def = out.def;
    const TExpToken* e = out.expression;
    out.argument_type = e ? e->DataType : std::uint8_t{dtUnknown};
    // A BLOB column or BLOB-valued expression is a BLOB of the result; of
    // the aggregates only COUNT takes one.
    if (e && e->DataType == dtBlob && out.calculation != rcNone && out.calculation != rcCount)
      Fail("BLOB columns cannot be selected in this query");
    switch (out.calculation) {
      case rcCount: def.DataType = dtInteger; break;
      case rcAvg: def.DataType = dtFloat; break;
      case rcSum:
        if (IsIntegralType(e->DataType)) def.DataType = dtInteger;
        else if (e->DataType == dtFloat || e->DataType == dtBCD) {
          def.DataType = e->DataType;
          def.SubType = e->SubType;
          def.Decimals = e->Scale;
        } else {
          Fail("Invalid aggregate '" + AggregatePrefix(rcSum) + field->FieldName + "' specified in source columns");
        }
        break;
      default:
        if ((out.calculation == rcMin || out.calculation == rcMax) && !IsNumericType(e->DataType) &&
            !IsDateTimeType(e->DataType))
          Fail(std::string(out.calculation == rcMin ? "MIN" : "MAX") +
               " aggregate function must contain a numeric, date, time, or timestamp expression");
        def.DataType = e->DataType == dtUnknown ? std::uint8_t{dtString} : e->DataType;
        def.SubType = e->SubType;
        if (def.DataType == dtString) def.Size = static_cast<std::uint8_t>(std::clamp(e->DataSize - 1, 1, 250));
        else if (IsBytesType(def.DataType)) def.Size = static_cast<std::uint8_t>(std::clamp(e->DataSize, 1, 250));
        def.Decimals = e->Scale;
        if (def.DataType == dtBlob) {
          def.Size = 0;
          def.Decimals = 0;
          if (def.SubType == fstNone) def.SubType = fstMemo;
        }
        if (def.DataType == dtString && e->DataSize - 1 > 250)
          Fail("Column expression '" + field->ExpressionText + "' exceeds the maximum allowable field size");
        break;
    }
    if (def.SubType == fstAutoInc) def.SubType = fstNone;
    outputs_.push_back(out);
  }
  if (outputs_.size() > kMaxResultColumns) Fail("Maximum number of columns (1024) in result set exceeded");
  if (aggregates_ && plain && !query_.HasGroupBy)
    Fail("Invalid use of aggregate function(s), the necessary GROUP BY clause is missing");
  if (aggregates_ || query_.HasGroupBy) query_.SingleRowResult = !query_.HasGroupBy;

  // Unique result names of at most 30 characters.
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    Output& out = outputs_[i];
    const TResultField* field = out.field;
    std::string base;
    if (!field->DefaultName) base = field->ColumnName;
    else if (field->FieldName == "*") base = out.name;
    else if (out.calculation != rcNone)
      base = AggregatePrefix(out.calculation) + (field->IsExpression ? std::string("Expr") : field->FieldName);
    else if (field->IsExpression) base = "Expression";
    else base = field->FieldName;
    base = RightmostChars(base, 30);
    std::string name = base;
    auto taken = [&](const std::string& n) {
      for (std::size_t j = 0; j < i; ++j)
        if (rtl::AnsiSameText(outputs_[j].name, n)) return true;
      return false;
    };
    for (int n = 1; taken(name); ++n) {
      const std::string suffix = "_" + std::to_string(n);
      name = (base.size() + suffix.size() > 30 ? RightmostChars(base, 30 - suffix.size()) : base) + suffix;
    }
    out.name = name;
    out.def.Name = name;
    out.def.FieldNumber = static_cast<std::uint16_t>(i + 1);
    out.def.Minimum.clear();
    out.def.Maximum.clear();
    out.def.Default.clear();
    out.def.Required = 0;
    out.def.Description.clear();
    out.def.Calculated = 0;
    out.def.Expression = nullptr;
    out.def.UpdatePhysicalSize();
  }
}

bool VerifyBeforeBinding(TExpToken* tree, void* user, TFieldLookup lookup, const std::function<void()>& verify) {
  // The parameters without a value yet, with the nodes that hold them.
  std::vector<std::pair<TExpToken*, TExpToken*>> unbound;
  bool parameters = false;
  auto find = [&](TExpToken* node, TExpToken* parent, const auto& self) -> void {
    if (!node || node->NodeClass == enTUPLE) return;
    parameters = parameters || node->IsParameter;
    if (node->IsParameter && node->DataType == dtUnknown && parent) unbound.emplace_back(node, parent);
    if (node->NodeClass == enFIELD) lookup(user, node);
    self(node->Left, node, self);
    self(node->Right, node, self);
    self(node->Third, node, self);
  };
  find(tree, nullptr, find);
  if (unbound.empty()) {
    verify();
    return parameters;
  }
  // For the check each takes the type of a typed operand beside it (a
  // column; beside a memo a text); it gets its own when bound.
  for (auto [parameter, parent] : unbound) {
    for (const TExpToken* other : {parent->Left, parent->Right, parent->Third}) {
      if (!other || other == parameter || other->DataType == dtUnknown) continue;
      const bool text = other->DataType == dtBlob;
      parameter->DataType = text ? std::uint8_t{dtString} : other->DataType;
      parameter->SubType = text ? std::uint8_t{fstNone} : other->SubType;
      parameter->SetDataSize(text ? kConvertBufferSize : other->DataSize);
      parameter->Scale = text ? std::uint8_t{0} : other->Scale;
      break;
    }
  }
  ScopeExit unbind{[&] {
    for (auto [parameter, parent] : unbound) {
      parameter->DataType = dtUnknown;
      parameter->SubType = 0;
      parameter->Scale = 0;
      parameter->SetNullValue();
    }
  }};
  verify();
  return true;
}

void RequireKnownCorrelations(const TExpToken* node, const std::function<bool(const std::string&)>& known) {
  if (!node || node->NodeClass == enTUPLE) return;
  if (node->NodeClass == enFIELD && !node->TableName.empty() && !known(node->TableName))
    Fail("Table correlation name '" + node->TableName +
         "' referenced in WHERE clause is not defined in the FROM clause");
  RequireKnownCorrelations(node->Left, known);
  RequireKnownCorrelations(node->Right, known);
  RequireKnownCorrelations(node->Third, known);
}

void TSelectExecutor::SplitConditions() {
  RequireKnownCorrelations(query_.WhereExpression, [&](const std::string& name) {
    return std::any_of(sources_.begin(), sources_.end(),
                       [&](auto& s) { return rtl::AnsiSameText(s->table->CorrelationName, name); });
  });
  std::vector<TExpToken*> conjuncts;
  SplitConjuncts(query_.WhereExpression, conjuncts);
  // Conditions with parameters are checked again once the parameters have
  // their values and types.
  for (TExpToken* c : conjuncts) {
    if (VerifyBeforeBinding(c, &sources_, &LookupSourceField, [&] { BindTree(c, kWhereContext, true); }))
      parameter_conditions_.push_back(c);
    if (c->DataType != dtBoolean) Fail("WHERE or JOIN clause must be a boolean expression");
  }
  // The ON conditions of outer joins decide which inner rows match; they
  // never drop an outer row. Those that read the target only filter the
  // target.
  // The inner side of an outer join is one table, or for a RIGHT JOIN
  // every table named before it, with the ON conditions of the inner joins
  // among them: a row of the outer table matches when some combination of
  // the inner side passes all of them.
  std::vector<TExpToken*> on_conditions;
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    Source& s = *sources_[i];
    TSourceTable* table = s.table;
    if (!table->OuterJoinCondition) continue;
    const std::size_t end = i + std::max<std::size_t>(table->OuterJoinSpan, 1) - 1;
    bool nested = i == 0 || end >= sources_.size();
    for (std::size_t j = i; j <= end && !nested; ++j)
      nested = sources_[j]->in_group || (j > i && sources_[j]->table->OuterJoinCondition);
    if (nested) Fail("Outer joins nested within the inner side of another outer join are not supported");
    for (std::size_t j = i; j <= end; ++j) sources_[j]->in_group = true;
    s.join_type = jtLeftOuter;
    s.group_size = end - i + 1;
    std::vector<TExpToken*> on;
    SplitConjuncts(table->OuterJoinCondition, on);
    if (end > i)
      for (TExpToken* c : conjuncts) {
        int first, last;
        SourceLevels(c, first, last);
        if (c->JoinCondition && first >= static_cast<int>(i) && last <= static_cast<int>(end) &&
            std::find(on.begin(), on.end(), c) == on.end())
          on.push_back(c);
      }
    on_conditions.insert(on_conditions.end(), on.begin(), on.end());
    for (TExpToken* c : on) {
      int first, last;
      SourceLevels(c, first, last);
      if (last > static_cast<int>(end))
        Fail("The join condition of table correlation name '" + table->CorrelationName +
             "' refers to a table joined after it");
      Source& at = *sources_[static_cast<std::size_t>(std::max<int>(last, static_cast<int>(i)))];
      (OneTable(c) && last >= static_cast<int>(i) ? at.on_own : at.outer_conditions).push_back(c);
    }
  }
  // WHERE conditions: of no table, of one table, of several.
  for (TExpToken* c : conjuncts) {
    if (std::find(on_conditions.begin(), on_conditions.end(), c) != on_conditions.end()) continue;
    int first, last;
    SourceLevels(c, first, last);
    if (last < 0)
      constant_conditions_.push_back(c);
    else if (first == last)
      sources_[static_cast<std::size_t>(last)]->where_own.push_back(c);
    else
      joined_conditions_.push_back(c);
  }
}

void TSelectExecutor::ChooseLookups() {
  for (auto& source : sources_) {
    source->hash_column = source->hash_probe = source->hash_condition = nullptr;
    source->text_key = false;
    source->sort_columns.clear();
    source->sort_probes.clear();
  }
  for (std::size_t level = 1; level < sources_.size(); ++level) {
    Source& s = *sources_[level];
    // An outer-join target's rows are looked up by its ON conditions only:
    // a WHERE condition must not decide whether an outer row has a match.
    for (const auto* list : {&s.outer_conditions, &s.conditions}) {
      if (list == &s.conditions && s.in_group) continue;
      for (const TExpToken* c : *list) {
        if (s.hash_column || c->NodeClass != enBINARY || c->Operator != eoEQ) continue;
        for (auto [column, other] : {std::pair{c->Left, c->Right}, std::pair{c->Right, c->Left}}) {
          if (!column || !other || column->NodeClass != enFIELD || !column->SourceTable ||
              column->SourceTable->JoinOrder - 1 != static_cast<int>(level))
            continue;
          const int other_level = LastLevel(other);
          if (other_level < 0 || other_level >= static_cast<int>(level)) continue;
          // Texts under language 0 are equal exactly when their bytes are.
          const bool bytes = locale_.Language == 0 && column->DataType == dtString && other->DataType == dtString;
          if (!bytes && !Hashable(column->DataType, other->DataType)) {
            if (OrderedLookupTypes(column->DataType, other->DataType)) {
              s.sort_columns.push_back(column);
              s.sort_probes.push_back(other);
            }
            continue;
          }
          s.hash_column = column;
          s.text_key = bytes;
          s.hash_probe = other;
          s.hash_condition = c;
          break;
        }
      }
    }
  }
}

namespace {

// Finds a result column by number or name for ORDER BY and GROUP BY.
template <typename Item>
int FindOutput(const std::vector<TSelectExecutor::Output>& outputs, const Item& item, const char* clause) {
  if (item.ColumnNumber != 0) {
    if (item.ColumnNumber > outputs.size())
      Fail("Invalid column number '" + std::to_string(item.ColumnNumber) + "' specified in " + clause + " clause");
    return item.ColumnNumber - 1;
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const auto& out = outputs[i];
    const TResultField* f = out.field;
    const bool correlation_ok =
        item.CorrelationName.empty() || rtl::AnsiSameText(item.CorrelationName, f->SourceCorrelationName) ||
        (out.expression && rtl::AnsiSameText(item.CorrelationName, out.expression->TableName));
    if (!correlation_ok) continue;
    if (rtl::AnsiSameText(out.name, item.ColumnName) ||
        (out.calculation == rcNone && out.expression && out.expression->NodeClass == enFIELD &&
         rtl::AnsiSameText(out.expression->ColumnName, item.ColumnName)))
      return static_cast<int>(i);
  }
  Fail("Invalid column name '" + item.ColumnName + "' or table correlation name '" + item.CorrelationName +
       "' specified in " + clause + " clause");
}

}  // namespace

void TSelectExecutor::BindOrderAndGroup() {
  if (query_.OrderByFields.Count() > static_cast<int>(kMaxResultColumns))
    Fail("Maximum number of columns (1024) in ORDER BY clause exceeded");
  for (TOrderByField* item : query_.OrderByFields) {
    const int i = FindOutput(outputs_, *item, "ORDER BY");
    if (outputs_[i].def.DataType == dtBlob)
      Fail("Invalid BLOB column '" + outputs_[i].name + "' specified in ORDER BY clause");
    order_outputs_.emplace_back(i, item->Descending);
  }
  for (TGroupByField* item : query_.GroupByFields) {
    const int i = FindOutput(outputs_, *item, "GROUP BY");
    if (outputs_[i].calculation != rcNone)
      Fail("Invalid column name '" + item->ColumnName + "' or table correlation name '" + item->CorrelationName +
           "' specified in GROUP BY clause");
    group_outputs_.push_back(i);
  }
  if (query_.HasGroupBy) {
    // The GROUP BY columns make the group; every other plain column takes
    // its value from the group's last row.
    for (std::size_t i = 0; i < outputs_.size(); ++i)
      if (outputs_[i].calculation == rcNone &&
          std::find(group_outputs_.begin(), group_outputs_.end(), static_cast<int>(i)) == group_outputs_.end())
        carried_outputs_.push_back(static_cast<int>(i));
    aggregates_ = true;
  }
  // BLOBs are neither grouped nor compared for DISTINCT.
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    if (outputs_[i].def.DataType != dtBlob || outputs_[i].calculation != rcNone) continue;
    if (query_.HasGroupBy) Fail("Invalid BLOB column '" + outputs_[i].name + "' specified in GROUP BY clause");
    if (query_.Distinct) Fail("Invalid BLOB column '" + outputs_[i].name + "' specified in DISTINCT clause");
  }
}

namespace {

struct HavingContext {
  std::vector<TSelectExecutor::Output>* outputs;
};

}  // namespace

static bool LookupResultField(void* user, TExpToken* node) {
  auto& outputs = *static_cast<std::vector<TSelectExecutor::Output>*>(user);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const auto& out = outputs[i];
    if (!rtl::AnsiSameText(out.name, node->ColumnName) &&
        !(out.calculation == rcNone && out.expression && out.expression->NodeClass == enFIELD &&
          rtl::AnsiSameText(out.expression->ColumnName, node->ColumnName)))
      continue;
    node->SourceTable = nullptr;
    node->FieldNumber = static_cast<std::uint16_t>(i + 1);
    node->DataType = out.def.DataType;
    node->SubType = out.def.SubType;
    node->SetDataSize(out.def.PhysicalSize);
    node->Scale = out.def.PhysicalDecimals;
    return true;
  }
  return false;
}

void TSelectExecutor::BindHaving() {
  TExpToken* having = query_.HavingExpression;
  if (!having) return;
  // Each aggregate call stands for the result column of the same kind over
  // the same argument.
  auto replace = [&](TExpToken* node, const auto& self) -> void {
    if (!node) return;
    if (node->NodeClass == enFUNC &&
        (node->Operator == eoSUM || node->Operator == eoMIN || node->Operator == eoMAX || node->Operator == eoAVG ||
         node->Operator == eoCOUNT)) {
      for (const Output& out : outputs_) {
        if (AggregateOperator(out.calculation) != node->Operator) continue;
        const TExpToken* arg = node->Left;
        const bool star = arg && arg->NodeClass == enFIELD && arg->ColumnName == "*";
        if (out.count_star ? star : (!star && SameTree(out.field->Expression, arg))) {
          FreeExpressionTokens(node->Left);
          node->NodeClass = enFIELD;
          node->Operator = eoNOTDEFINED;
          node->ColumnName = out.name;
          node->TableName.clear();
          return;
        }
      }
      std::string argument = "...";
      if (!node->Left || node->Left->NodeClass == enFIELD)
        argument = !node->Left ? std::string("*")
                   : node->Left->TableName.empty() ? node->Left->ColumnName
                                                   : node->Left->TableName + "." + node->Left->ColumnName;
      Fail("Invalid aggregate '" + node->Text + "(" + argument +
           ")' specified in HAVING clause, it must also be a source column");
    }
    self(node->Left, self);
    self(node->Right, self);
    self(node->Third, self);
  };
  // The argument trees of the result columns are bound already; bind a copy
  // of each HAVING argument the same way before comparing.
  auto bind_arguments = [&](TExpToken* node, const auto& self) -> void {
    if (!node) return;
    if (node->NodeClass == enFUNC && node->Left &&
        !(node->Left->NodeClass == enFIELD && node->Left->ColumnName == "*") &&
        (node->Operator == eoSUM || node->Operator == eoMIN || node->Operator == eoMAX || node->Operator == eoAVG ||
         node->Operator == eoCOUNT)) {
      BindTree(node->Left, "source column expression", false);
      return;
    }
    self(node->Left, self);
    self(node->Right, self);
    self(node->Third, self);
  };
  bind_arguments(having, bind_arguments);
  replace(having, replace);
  LanguageSettingsScope settings(query_.Statement->Locale().LanguageID, query_.Statement->Locale().SortID);
  VerifyExpressionToken(err::kSqlError, {}, "HAVING clause", having, nullptr, &outputs_, &LookupResultField, true);
  if (having->DataType != dtBoolean) Fail("HAVING clause must be a boolean expression");
}

void TSelectExecutor::CreateResultTable() {
  std::vector<TFieldDefinition> fields;
  for (const Output& out : outputs_) fields.push_back(out.def);
  // Each AVG column's count of values, hidden from views and copies.
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    if (outputs_[i].calculation != rcAvg) continue;
    TFieldDefinition count;
    count.Name = "Sys__Avg__Count" + std::to_string(i + 1);
    count.DataType = dtInteger;
    count.Hidden = 1;
    count.FieldNumber = static_cast<std::uint16_t>(fields.size() + 1);
    count.UpdatePhysicalSize();
    avg_counts_.emplace_back(i, static_cast<int>(fields.size() + 1));
    fields.push_back(count);
  }
  // Without INTO the result is a temporary in-memory table; INTO names a
  // table of the result's directory that stays (on disk, or in memory with
  // INTO MEMORY) once the query is freed.
  // A plain INTO name is a table of the session's private directory.
  const bool into = !query_.ResultTableName.empty();
  TDataDirectory* directory = query_.Statement->DataDirectory();
  if (into) {
    directory = OpenTableLocation(directory, query_.ResultTableName, query_.IntoMemory, true, result_name_,
                                  own_result_directory_);
    if (own_result_directory_) query_.ResultDirectory = directory;
  } else {
    result_name_ = "Sys__Result" + std::to_string(++result_counter);
  }
  result_ = std::make_unique<TDataCursor>(directory);
  result_->SetTableName(result_name_);
  result_->SetInMemory(!into || query_.IntoMemory);
  result_->SetExclusive(true);
  TTableCreation creation;
  creation.Settings.LanguageID = locale_.Language;
  creation.Settings.SortID = locale_.Sort;
  creation.Settings.BlobBlockSize = query_.BlobBlockSize;
  creation.Settings.Description = query_.Description;
  creation.Settings.UserMajorVersion = query_.UserMajorVersion;
  creation.Settings.UserMinorVersion = query_.UserMinorVersion;
  creation.Settings.Encrypted = query_.Encrypted && !query_.Password.empty();
  if (creation.Settings.Encrypted) creation.Settings.Password = query_.Password;
  creation.Overwrite = true;
  result_->CreateTable(creation, fields);
  result_->SetIsTemporary(!into);
  result_->SetIsResultSet(true);
  // The password opens the table; a session that did not know it does not
  // learn it.
  TDataSession* session = directory->Session();
  const bool lend = creation.Settings.Encrypted && session && !session->CheckForPassword(query_.Password);
  if (lend) session->AddPassword(query_.Password);
  ScopeExit take_back{[&] {
    if (lend) session->DeletePassword(query_.Password);
  }};
  result_->OpenCursor();
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    Output& out = outputs_[i];
    out.def = result_->GetFieldDefinitionByPos(static_cast<int>(i + 1));
    const TExpToken* e = out.expression;
    if (!e || e->NodeClass != enFIELD || !e->SourceTable || out.count_star) continue;
    const TFieldDefinition& column =
        sources_[static_cast<std::size_t>(e->SourceTable->JoinOrder - 1)]->cursor->GetFieldDefinitionByPos(
            e->FieldNumber);
    if (out.calculation == rcCount)
      out.copies_column = true;
    else if (out.calculation == rcNone)
      out.copies_column = column.DataType == out.def.DataType && column.PhysicalSize == out.def.PhysicalSize &&
                          column.PhysicalDecimals == out.def.PhysicalDecimals && column.DataType != dtBlob;
    else
      out.integral_column = IsIntegralType(column.DataType) && out.calculation != rcCount;
  }
  result_record_.assign(result_->GetRecordSize(), 0);
}

// ---- executing -------------------------------------------------------------------

bool TSelectExecutor::FieldValue(void* user, const void*, TExpToken* result) {
  auto* self = static_cast<TSelectExecutor*>(user);
  const std::uint8_t* record;
  TDataCursor* cursor;
  if (result->SourceTable) {
    Source& s = *self->sources_[static_cast<std::size_t>(result->SourceTable->JoinOrder - 1)];
    record = s.current;
    cursor = s.cursor.get();
  } else {
    record = self->result_record_.data();
    cursor = self->result_.get();
  }
  ReadColumnValue(*cursor, record, result);
  return true;
}

void ReadColumnValue(TDataCursor& cursor, const std::uint8_t* record, TExpToken* result) {
  if (!record || result->FieldNumber == 0) {
    result->SetNullValue();
    return;
  }
  const TFieldDefinition& f = cursor.GetFieldDefinitionByPos(result->FieldNumber);
  if (f.DataType == dtBlob) {
    // The BLOB's content; an empty BLOB is blank.
    const bool blank = cursor.GetField(result->FieldNumber, record, nullptr);
    const std::vector<std::uint8_t> content =
        blank ? std::vector<std::uint8_t>() : cursor.ReadBlobContent(result->FieldNumber, record);
    result->SetBytesValue(content.data(), content.size());
    return;
  }
  result->SetDataSize(f.PhysicalSize + 1);
  result->ClearValue();
  const bool blank = cursor.GetField(result->FieldNumber, record, result->ValueBuffer);
  // The empty string is blank.
  if (blank || (f.DataType == dtString && result->ValueBuffer[0] == 0)) {
    result->SetNullValue();
    return;
  }
  result->IsNull = false;
}

TExpToken* TSelectExecutor::Evaluate(const TExpToken* tree) {
  return EvaluateExpressionToken(tree, nullptr, this, &TSelectExecutor::FieldValue, locale_);
}

bool TSelectExecutor::EvaluateCondition(TExpToken* tree) {
  ExpTokenGuard value(Evaluate(tree));
  return IsTrue(value.get());
}

bool TSelectExecutor::ReadIntegral(const TExpToken* node, std::int64_t& value, bool& blank) const {
  if (node->NodeClass != enFIELD || !node->SourceTable || !IsIntegralType(node->DataType)) return false;
  const Source& s = *sources_[static_cast<std::size_t>(node->SourceTable->JoinOrder - 1)];
  std::uint8_t data[8] = {};
  blank = !s.current || s.cursor->GetField(node->FieldNumber, s.current, data);
  if (blank) return true;
  switch (node->DataType) {
    case dtSmallInt: { std::int16_t v; std::memcpy(&v, data, 2); value = v; break; }
    case dtWord: { std::uint16_t v; std::memcpy(&v, data, 2); value = v; break; }
    default: { std::int32_t v; std::memcpy(&v, data, 4); value = v; break; }
  }
  return true;
}

bool TSelectExecutor::ReadText(const TExpToken* node, std::string& text) {
  if (node->NodeClass == enFIELD && node->SourceTable && node->DataType == dtString) {
    const Source& s = *sources_[static_cast<std::size_t>(node->SourceTable->JoinOrder - 1)];
    if (!s.current) return false;
    const TFieldDefinition& f = s.cursor->GetFieldDefinitionByPos(node->FieldNumber);
    text.assign(std::size_t{f.PhysicalSize} + 1, '\0');
    if (s.cursor->GetField(node->FieldNumber, s.current, reinterpret_cast<std::uint8_t*>(text.data()))) return false;
    text.resize(std::strlen(text.c_str()));
    return !text.empty();
  }
  ExpTokenGuard value(Evaluate(node));
  if (value->IsNull) return false;
  text = value->StringValue();
  return !text.empty();
}

void TSelectExecutor::PutIntegral(int field, std::uint8_t* record, std::int64_t value) {
  std::uint8_t data[8] = {};
  switch (outputs_[static_cast<std::size_t>(field - 1)].def.DataType) {
    case dtSmallInt: { const auto v = static_cast<std::int16_t>(value); std::memcpy(data, &v, 2); break; }
    case dtWord: { const auto v = static_cast<std::uint16_t>(value); std::memcpy(data, &v, 2); break; }
    default: { const auto v = static_cast<std::int32_t>(value); std::memcpy(data, &v, 4); break; }
  }
  result_->PutField(field, record, data);
}

void TSelectExecutor::CopyColumn(int field, std::uint8_t* record, const TExpToken* column) {
  const Source& s = *sources_[static_cast<std::size_t>(column->SourceTable->JoinOrder - 1)];
  std::uint8_t data[kConvertBufferSize + 1] = {};
  bool blank = !s.current || s.cursor->GetField(column->FieldNumber, s.current, data);
  const std::uint8_t type = column->DataType;
  if (!blank && type == dtString && data[0] == 0) blank = true;
  if (!blank && type == dtFloat) {
    double d;
    std::memcpy(&d, data, 8);
    if (d == 0) std::memset(data, 0, 8);
  }
  result_->PutField(field, record, blank ? nullptr : data);
}

bool PutBlobValue(TDataCursor& cursor, int field, std::uint8_t* record, const TExpToken* value) {
  if (cursor.OpenBlob(field, record, 2) != 0 || cursor.TruncateBlob(field, record, 0) != 0) return false;
  if (!value || value->IsNull) return true;
  if (value->DataType != dtString && value->DataType != dtBlob) return false;
  // A text ends before its terminating zero, also a text BLOB's value that
  // an expression made; other BLOBs keep every byte.
  std::int64_t length = std::max<std::int32_t>(value->DataSize, 0);
  const std::uint8_t kind = cursor.GetFieldDefinitionByPos(field).SubType;
  if (value->DataType == dtString)
    length = static_cast<std::int64_t>(std::strlen(value->StringValue()));
  else if ((kind == fstMemo || kind == fstFormattedMemo) && length > 0 && value->ValueBuffer[length - 1] == 0)
    --length;
  return length == 0 || cursor.PutBlob(field, record, 0, value->ValueBuffer, length) == 0;
}

void TSelectExecutor::StoreValue(int field, std::uint8_t* record, const TExpToken* value) {
  const TFieldDefinition& def = outputs_[static_cast<std::size_t>(field - 1)].def;
  if (def.DataType == dtBlob) {
    // Written into the result's BLOB, which the append stores.
    if (!PutBlobValue(*result_, field, record, value))
      Fail("Type mismatch between column '" + def.Name + "' and its value in the result");
    return;
  }
  if (!value || value->IsNull) {
    result_->PutField(field, record, nullptr);
    return;
  }
  // A value's size is not always its type's (an operator's node keeps the
  // size its checker gave it): fixed-size types take their own size.
  std::uint8_t data[kConvertBufferSize + 1] = {};
  std::size_t have = static_cast<std::size_t>(std::max<std::int32_t>(value->DataSize, 0));
  if (value->DataType != dtString && !IsBytesType(value->DataType)) have = PhysicalSizeOf(value->DataType, 0);
  have = std::min<std::size_t>({have, kConvertBufferSize - 1, static_cast<std::size_t>(value->ValueCapacity)});
  std::memcpy(data, value->ValueBuffer, have);
  bool usable = true;
  if (value->DataType != def.DataType || def.DataType == dtString) {
    const std::uint8_t from_size =
        static_cast<std::uint8_t>(value->DataType == dtString ? kConvertBufferSize : have);
    usable = ConvertExpression(value->DataType, from_size, value->Scale, def.DataType, def.PhysicalSize,
                               def.PhysicalDecimals, data);
  }
  if (usable && def.DataType == dtString && data[0] == 0) usable = false;
  if (usable && def.DataType == dtFloat) {
    // -0 is 0: groups and DISTINCT compare the stored bytes.
    double d;
    std::memcpy(&d, data, 8);
    if (d == 0) std::memset(data, 0, 8);
  }
  result_->PutField(field, record, usable ? data : nullptr);
}

TDataCursor* TSelectExecutor::Execute() {
  if (live_)
    if (TDataCursor* answer = ExecuteLive()) return answer;
  FreeSubSelectValues();
  rows_read_ = 0;
  progress_rows_ = 0;
  groups_.clear();
  group_index_.clear();
  result_->EmptyTable();
  // Conditions that read no table hold or fail for the whole execution.
  bool empty = false;
  for (TExpToken* c : constant_conditions_)
    if (!EvaluateCondition(c)) empty = true;
  // WITH LOCKS: no source changes from before the first read until the
  // result is complete.
  std::size_t locked = 0;
  ScopeExit unlock{[&] {
    for (std::size_t i = 0; i < locked; ++i) {
      try {
        sources_[i]->cursor->UserReadUnlockTable();
      } catch (...) {
      }
    }
  }};
  if (query_.WithLocks)
    for (; locked < sources_.size(); ++locked) sources_[locked]->cursor->UserReadLockTable();
  aborted_ = false;
  for (TExpToken* c : parameter_conditions_) {
    BindTree(c, kWhereContext, true);
    if (c->DataType != dtBoolean) Fail("WHERE or JOIN clause must be a boolean expression");
  }
  if (!empty) FilterSources(CountsOnly());
  if (!empty && CountsOnly() && sources_[0]->scan.empty()) {
    // COUNT(*) alone over one table: the record count of its filtered
    // cursor, no record read.
    const std::uint32_t count = sources_[0]->cursor->GetRecordCount();
    auto g = std::make_unique<Group>();
    g->record.assign(result_record_.size(), 0);
    result_->ClearRecord(g->record.data());
    g->accs.resize(outputs_.size());
    g->accs[0].count = count;
    groups_.push_back(std::move(g));
    query_.Plan = {AccessPlanStep(1, sources_[0]->table->CorrelationName, "count", sources_[0]->filters, {})};
    ReportProgress(count, count);
  } else if (!empty) {
    OrderSources();
    PlaceConditions();
    ChooseLookups();
    DescribePlan();
    for (auto& source : sources_) {
      TDataCursor& cursor = *source->cursor;
      source->rows.clear();
      source->row_count = 0;
      // One read under the table's read lock: no writer comes between the
      // records, so the change detection runs once rather than per record.
      cursor.CheckForChangeDetection();
      ScopeExit end_read{[&] { cursor.ReadUnlockTable(); }};
      cursor.ReadLockTable();
      cursor.SetToBegin();
      std::vector<std::uint8_t> buffer(source->record_size);
      source->current = buffer.data();
      while (cursor.GetNextRecord(buffer.data()) == 0) {
        ++rows_read_;
        bool passes = true;
        for (TExpToken* c : source->scan)
          if (!(passes = EvaluateCondition(c))) break;
        if (!passes) continue;
        source->rows.insert(source->rows.end(), buffer.begin(), buffer.end());
        ++source->row_count;
      }
      source->current = nullptr;
      source->hash.clear();
      source->blank_rows.clear();
      source->text_hash.clear();
      if (source->hash_column) {
        std::string text;
        for (std::uint32_t r = 0; r < source->row_count; ++r) {
          source->current = source->rows.data() + std::size_t{r} * source->record_size;
          std::int64_t key;
          bool blank;
          if (source->text_key) {
            if (ReadText(source->hash_column, text)) source->text_hash[text].push_back(r);
            else source->blank_rows.push_back(r);
            continue;
          }
          if (!ReadIntegral(source->hash_column, key, blank)) {
            ExpTokenGuard value(Evaluate(source->hash_column));
            blank = value->IsNull;
            if (!blank) key = HashKey(value.get());
          }
          if (blank) source->blank_rows.push_back(r);
          else source->hash[key].push_back(r);
        }
        source->current = nullptr;
      }
      if (!source->hash_column && !source->sort_columns.empty()) BuildSortedLookup(*source);
    }
    if (!sources_.empty()) {
      Walk(0);
      // The last call says 100 percent.
      const std::uint32_t driving = sources_[0]->row_count;
      if (!aborted_ && driving != progress_rows_) ReportProgress(driving, driving);
    }
  }
  if (aggregates_) FinishGroups();
  SortResult();
  CutResult();
  result_->SetToBegin();
  query_.RowsAffected = static_cast<std::int32_t>(result_->GetRecordCount());
  return result_.get();
}

void TSelectExecutor::Walk(std::size_t level) {
  if (level == sources_.size()) {
    EmitCombination();
    return;
  }
  Source& s = *sources_[level];
  const TExpToken* implied = nullptr;
  auto passes = [&](const std::vector<TExpToken*>& conditions) {
    for (TExpToken* c : conditions)
      if (c != implied && !EvaluateCondition(c)) return false;
    return true;
  };
  // An outer group starting here has matched this row once a combination
  // of its tables passed its ON conditions at its last level.
  const bool starts_group = s.join_type != jtNone;
  const int group = group_start_[level];
  if (starts_group) group_matched_[level] = 0;
  const std::vector<std::uint32_t>* candidates = nullptr;
  std::span<const std::uint32_t> found_rows;
  const bool sorted = !s.hash_probe && !s.sort_probes.empty();
  if (sorted) {
    std::vector<TExpToken*> probe;
    ScopeExit free_probe{[&] {
      for (TExpToken*& v : probe) FreeExpressionTokens(v);
    }};
    for (const TExpToken* p : s.sort_probes) probe.push_back(Evaluate(p));
    found_rows = s.sorted.Find(probe);
  } else if (s.hash_probe) {
    static const std::vector<std::uint32_t> none;
    std::int64_t key;
    bool blank;
    if (s.text_key) {
      thread_local std::string text;
      blank = !ReadText(s.hash_probe, text);
      if (!blank) {
        auto found = s.text_hash.find(text);
        candidates = found == s.text_hash.end() ? &none : &found->second;
      }
    } else if (!ReadIntegral(s.hash_probe, key, blank)) {
      ExpTokenGuard probe(Evaluate(s.hash_probe));
      blank = probe->IsNull;
      if (!blank) key = HashKey(probe.get());
    }
    if (blank) {
      candidates = &s.blank_rows;
    } else if (!s.text_key) {
      auto found = s.hash.find(key);
      candidates = found == s.hash.end() ? &none : &found->second;
    }
    found_rows = *candidates;
  }
  implied = candidates ? s.hash_condition : nullptr;
  const bool looked_up = candidates || sorted;
  const std::uint32_t count = looked_up ? static_cast<std::uint32_t>(found_rows.size()) : s.row_count;
  for (std::uint32_t i = 0; i < count && !aborted_; ++i) {
    const std::uint32_t r = looked_up ? found_rows[i] : i;
    s.current = s.rows.data() + std::size_t{r} * s.record_size;
    if (level == 0) ReportProgress(i + 1, count);
    if (!passes(s.outer_conditions)) continue;
    if (group >= 0 && group_end_[static_cast<std::size_t>(group)] == level) group_matched_[static_cast<std::size_t>(group)] = 1;
    if (!passes(s.conditions)) continue;
    Walk(level + 1);
  }
  if (starts_group && !group_matched_[level] && !s.blank_row_fails) {
    // The blank row of every table of the group.
    implied = nullptr;
    const std::size_t end = group_end_[level];
    for (std::size_t j = level; j <= end; ++j) sources_[j]->current = nullptr;
    if (passes(sources_[end]->conditions)) Walk(end + 1);
  }
  s.current = nullptr;
}

void TSelectExecutor::BuildSortedLookup(Source& source) {
  source.sorted.Reset(source.sort_columns.size(), locale_);
  std::vector<TExpToken*> values;
  ScopeExit free_values{[&] {
    for (TExpToken*& v : values) FreeExpressionTokens(v);
  }};
  for (std::uint32_t r = 0; r < source.row_count; ++r) {
    source.current = source.rows.data() + std::size_t{r} * source.record_size;
    values.clear();
    for (const TExpToken* column : source.sort_columns) values.push_back(Evaluate(column));
    source.sorted.Add(r, values);
  }
  source.current = nullptr;
  source.sorted.Finish();
}

void TSelectExecutor::DescribePlan() {
  query_.Plan.clear();
  for (std::size_t level = 0; level < sources_.size(); ++level) {
    const Source& s = *sources_[level];
    // "outer": the null-extended side of a LEFT or RIGHT join starts here.
    const char* join = s.join_type != jtNone ? "outer" : level == 0 ? "from" : "inner";
    std::string lookup;
    if (s.hash_column) {
      lookup = std::string(s.text_key ? "text-hash(" : "hash(") + DumpExpression(s.hash_column, query_.Statement) + ")";
    } else if (!s.sort_columns.empty()) {
      lookup = "ordered(";
      for (std::size_t i = 0; i < s.sort_columns.size(); ++i)
        lookup += (i ? "," : "") + DumpExpression(s.sort_columns[i], query_.Statement);
      lookup += ")";
    }
    std::string step = AccessPlanStep(level + 1, s.table->CorrelationName, join, s.filters, lookup);
    // The hash lookup's own condition holds for every row it finds.
    const std::size_t tested =
        s.scan.size() + s.conditions.size() + s.outer_conditions.size() - (s.hash_condition ? 1 : 0);
    if (tested) step += " tested=" + std::to_string(tested);
    query_.Plan.push_back(step);
  }
}

bool TSelectExecutor::CountsOnly() const {
  return sources_.size() == 1 && outputs_.size() == 1 && outputs_[0].count_star && !query_.HasGroupBy &&
         !query_.HavingExpression;
}

void TSelectExecutor::FilterSources(bool everything) {
  for (auto& source : sources_) {
    Source& s = *source;
    std::vector<TExpToken*> own = s.on_own;
    s.blank_row_fails = false;
    if (!s.in_group) {
      own.insert(own.end(), s.where_own.begin(), s.where_own.end());
    } else if (s.join_type != jtNone && s.group_size == 1 && !s.where_own.empty()) {
      // The WHERE conditions of an outer-join target may filter it only
      // when they also drop its blank row: a target row that fails them
      // must not leave an outer row without a match that then passes.
      s.current = nullptr;
      for (TExpToken* c : s.where_own)
        if (!EvaluateCondition(c)) s.blank_row_fails = true;
      if (s.blank_row_fails) own.insert(own.end(), s.where_own.begin(), s.where_own.end());
    }
    s.filters.Build(*s.cursor, own, locale_,
                    everything ? TWhereFilters::TPass::Everything : TWhereFilters::TPass::Indexed);
    s.scan = s.filters.Left();
  }
}

namespace {

// Marks the source levels a bound tree reads.
void MarkLevels(const TExpToken* node, std::vector<bool>& reads) {
  if (!node) return;
  if (node->NodeClass == enFIELD && node->SourceTable) reads[static_cast<std::size_t>(node->SourceTable->JoinOrder - 1)] = true;
  MarkLevels(node->Left, reads);
  MarkLevels(node->Right, reads);
  MarkLevels(node->Third, reads);
}

}  // namespace

void TSelectExecutor::OrderSources() {
  std::sort(sources_.begin(), sources_.end(), [](const auto& a, const auto& b) { return a->planned < b->planned; });
  auto renumber = [&] {
    for (std::size_t i = 0; i < sources_.size(); ++i) sources_[i]->table->JoinOrder = static_cast<std::uint16_t>(i + 1);
  };
  renumber();
  const std::size_t n = sources_.size();
  const bool groups = std::any_of(sources_.begin(), sources_.end(), [](auto& s) { return s->group_size > 1; });
  if (query_.NoJoinOptimize || n < 2 || groups) return;
  // Which tables a condition joins, and the tables an outer join's ON
  // condition reads besides its target (they must come before it).
  std::vector<std::vector<bool>> linked(n, std::vector<bool>(n, false));
  std::vector<std::vector<bool>> needs(n, std::vector<bool>(n, false));
  auto link = [&](const TExpToken* c) {
    std::vector<bool> reads(n, false);
    MarkLevels(c, reads);
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = 0; j < n; ++j) linked[i][j] = linked[i][j] || (i != j && reads[i] && reads[j]);
    return reads;
  };
  for (const TExpToken* c : joined_conditions_) link(c);
  for (std::size_t i = 0; i < n; ++i)
    for (const TExpToken* c : sources_[i]->outer_conditions) {
      needs[i] = link(c);
      needs[i][i] = false;
    }
  // The driving table: the inner-joined table with the fewest records under
  // its filters (ties keep the first), when it has fewer than the first
  // table. An outer join's target never drives, nor does a table joined to
  // such targets only.
  std::size_t chosen = 0;
  const std::uint32_t first = sources_[0]->cursor->GetRecordCount();
  std::uint32_t fewest = first;
  for (std::size_t i = 1; i < n; ++i) {
    if (sources_[i]->join_type != jtNone) continue;
    bool inner = false;
    for (std::size_t j = 0; j < n; ++j) inner = inner || (linked[i][j] && sources_[j]->join_type == jtNone);
    if (!inner) continue;
    const std::uint32_t count = sources_[i]->cursor->GetRecordCount();
    if (count < fewest) {
      fewest = count;
      chosen = i;
    }
  }
  if (chosen == 0) return;
  // The other tables in their order, each joined to a table placed before
  // it first when one is, and every outer join's target after the tables
  // its ON condition reads. The answer is the same in any such order: which
  // rows of a target match depends on its ON condition alone.
  std::vector<bool> placed(n, false);
  std::vector<std::size_t> order{chosen};
  placed[chosen] = true;
  auto placeable = [&](std::size_t i) {
    if (placed[i]) return false;
    for (std::size_t j = 0; j < n; ++j)
      if (needs[i][j] && !placed[j]) return false;
    return true;
  };
  while (order.size() < n) {
    std::size_t next = n;
    for (std::size_t i = 0; i < n && next == n; ++i)
      if (placeable(i))
        for (std::size_t j : order)
          if (linked[i][j]) next = i;
    for (std::size_t i = 0; i < n && next == n; ++i)
      if (placeable(i)) next = i;
    order.push_back(next);
    placed[next] = true;
  }
  std::vector<std::unique_ptr<Source>> ordered;
  for (std::size_t i : order) ordered.push_back(std::move(sources_[i]));
  sources_ = std::move(ordered);
  renumber();
}

void TSelectExecutor::PlaceConditions() {
  // The WHERE conditions of an outer group's tables are tested once the
  // group has its rows or its blank row: at its last level.
  group_end_.assign(sources_.size(), 0);
  group_start_.assign(sources_.size(), -1);
  group_matched_.assign(sources_.size(), 0);
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    sources_[i]->conditions.clear();
    if (sources_[i]->join_type == jtNone) continue;
    const std::size_t end = i + sources_[i]->group_size - 1;
    group_end_[i] = end;
    for (std::size_t j = i; j <= end; ++j) group_start_[j] = static_cast<int>(i);
  }
  auto level_of = [&](int level) {
    const int start = group_start_[static_cast<std::size_t>(level)];
    return start < 0 ? static_cast<std::size_t>(level) : group_end_[static_cast<std::size_t>(start)];
  };
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    const Source& s = *sources_[i];
    if (group_start_[i] < 0 || (s.join_type != jtNone && s.group_size == 1 && s.blank_row_fails)) continue;
    auto& at = sources_[level_of(static_cast<int>(i))]->conditions;
    at.insert(at.end(), s.where_own.begin(), s.where_own.end());
  }
  for (TExpToken* c : joined_conditions_) sources_[level_of(LastLevel(c))]->conditions.push_back(c);
}

void TSelectExecutor::ReportProgress(std::uint32_t rows, std::uint32_t of) {
  progress_rows_ = rows;
  if (!query_.ProgressCallback) return;
  const auto percent = static_cast<std::uint16_t>(of == 0 ? 100 : std::uint64_t{rows} * 100 / of);
  bool abort = false;
  query_.DoQueryProgress(static_cast<std::int32_t>(rows), percent, abort);
  if (abort) aborted_ = true;
}

void TSelectExecutor::EmitCombination() {
  if (query_.MaxNumOfRows >= 0 && !aggregates_ && !query_.Distinct && order_outputs_.empty() &&
      result_->GetRecordCount() >= static_cast<std::uint32_t>(query_.MaxNumOfRows))
    return;
  std::uint8_t* record = result_record_.data();
  result_->ClearRecord(record);
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const Output& out = outputs_[i];
    if (out.calculation != rcNone) continue;
    if (out.copies_column) {
      CopyColumn(static_cast<int>(i + 1), record, out.expression);
      continue;
    }
    ExpTokenGuard value(Evaluate(out.expression));
    StoreValue(static_cast<int>(i + 1), record, value.get());
  }
  if (!aggregates_) {
    result_->AppendRecord(record, false);
    return;
  }
  // The group: the bytes of its plain columns.
  std::string& key = group_key_;
  key.clear();
  for (int i : group_outputs_) {
    const TFieldDefinition& def = outputs_[static_cast<std::size_t>(i)].def;
    std::uint8_t data[256] = {};
    const bool blank = result_->GetField(i + 1, record, data);
    key.push_back(blank ? '\0' : '\1');
    if (!blank) {
      if (def.DataType == dtString)
        key.append(reinterpret_cast<const char*>(data), std::strlen(reinterpret_cast<const char*>(data)) + 1);
      else
        key.append(reinterpret_cast<const char*>(data), def.PhysicalSize);
    }
  }
  Group* group;
  auto found = group_index_.find(key);
  if (found == group_index_.end()) {
    auto g = std::make_unique<Group>();
    g->record = result_record_;
    g->accs.resize(outputs_.size());
    group = g.get();
    group_index_.emplace(key, groups_.size());
    groups_.push_back(std::move(g));
  } else {
    group = groups_[found->second].get();
    for (int i : carried_outputs_) {
      std::uint8_t data[256] = {};
      const bool blank = result_->GetField(i + 1, record, data);
      result_->PutField(i + 1, group->record.data(), blank ? nullptr : data);
    }
  }
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const Output& out = outputs_[i];
    if (out.calculation == rcNone) continue;
    Group::Acc& acc = group->accs[i];
    if (out.count_star) {
      ++acc.count;
      continue;
    }
    if (out.integral_column) {
      std::int64_t v;
      bool blank;
      ReadIntegral(out.expression, v, blank);
      if (blank) continue;
      ++acc.count;
      switch (out.calculation) {
        case rcSum:
          acc.integral += v;
          if (acc.integral > std::numeric_limits<std::int32_t>::max() ||
              acc.integral < std::numeric_limits<std::int32_t>::min())
            Fail("Integer overflow in SUM of '" + out.field->FieldName + "'");
          break;
        case rcAvg: acc.integral += v; break;
        case rcMin: if (acc.count == 1 || v < acc.integral) acc.integral = v; break;
        case rcMax: if (acc.count == 1 || v > acc.integral) acc.integral = v; break;
        default: break;
      }
      continue;
    }
    if (out.copies_column && out.calculation == rcCount) {
      const Source& s = *sources_[static_cast<std::size_t>(out.expression->SourceTable->JoinOrder - 1)];
      if (s.current && !s.cursor->GetField(out.expression->FieldNumber, s.current, nullptr)) ++acc.count;
      continue;
    }
    ExpTokenGuard value(Evaluate(out.expression));
    if (value->IsNull) continue;
    ++acc.count;
    switch (out.calculation) {
      case rcSum:
      case rcAvg:
        if (IsIntegralType(value->DataType)) {
          acc.integral += value->IntegralValue();
          if (out.calculation == rcSum &&
              (acc.integral > std::numeric_limits<std::int32_t>::max() ||
               acc.integral < std::numeric_limits<std::int32_t>::min()))
            Fail("Integer overflow in SUM of '" + out.field->FieldName + "'");
          acc.real += static_cast<double>(value->IntegralValue());
        } else if (value->DataType == dtFloat) {
          acc.real += value->Value<double>();
        } else if (value->DataType == dtBCD) {
          if (!acc.best) {
            acc.best = GetNewExpTokenInstance();
            acc.best->Copy(*value);
          } else {
            // The sum keeps the column's type and scale.
            TExpToken* sum = GetNewExpTokenInstance();
            sum->DataType = dtBCD;
            sum->SetDataSize(8);
            sum->Scale = acc.best->Scale;
            EvaluateBinary(eoADD, acc.best, value.get(), sum, locale_);
            ReturnExpTokenInstance(acc.best);
            acc.best = sum;
          }
          // Conversions work on a whole conversion buffer.
          std::uint8_t data[kConvertBufferSize + 1] = {};
          std::memcpy(data, value->ValueBuffer, 8);
          if (ConvertExpression(dtBCD, 8, value->Scale, dtFloat, 8, 0, data)) {
            double d;
            std::memcpy(&d, data, 8);
            acc.real += d;
          }
        }
        break;
      case rcMin:
      case rcMax: {
        if (!acc.best) {
          acc.best = GetNewExpTokenInstance();
          acc.best->Copy(*value);
          acc.best->Left = acc.best->Right = acc.best->Third = nullptr;
          break;
        }
        ExpTokenGuard better(GetNewExpTokenInstance());
        EvaluateBinary(out.calculation == rcMin ? eoLT : eoGT, value.get(), acc.best, better.get(), locale_);
        if (IsTrue(better.get())) {
          acc.best->Copy(*value);
          acc.best->Left = acc.best->Right = acc.best->Third = nullptr;
        }
        break;
      }
      default: break;
    }
  }
}

void TSelectExecutor::FinishGroups() {
  // Without GROUP BY there is exactly one row, also over no rows.
  if (group_outputs_.empty() && groups_.empty()) {
    auto g = std::make_unique<Group>();
    g->record.assign(result_record_.size(), 0);
    result_->ClearRecord(g->record.data());
    g->accs.resize(outputs_.size());
    groups_.push_back(std::move(g));
  }
  for (auto& g : groups_) {
    std::uint8_t* record = g->record.data();
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const Output& out = outputs_[i];
      const Group::Acc& acc = g->accs[i];
      const int field = static_cast<int>(i + 1);
      switch (out.calculation) {
        case rcNone: break;
        case rcCount: {
          const std::int32_t n = static_cast<std::int32_t>(acc.count);
          result_->PutField(field, record, reinterpret_cast<const std::uint8_t*>(&n));
          break;
        }
        case rcSum:
          if (acc.count == 0) {
            result_->PutField(field, record, nullptr);
          } else if (out.def.DataType == dtInteger) {
            const std::int32_t n = static_cast<std::int32_t>(acc.integral);
            result_->PutField(field, record, reinterpret_cast<const std::uint8_t*>(&n));
          } else if (out.def.DataType == dtBCD) {
            StoreValue(field, record, acc.best);
          } else {
            result_->PutField(field, record, reinterpret_cast<const std::uint8_t*>(&acc.real));
          }
          break;
        case rcAvg:
          for (auto [output, count_field] : avg_counts_) {
            if (output != i) continue;
            const auto n = static_cast<std::int32_t>(acc.count);
            result_->PutField(count_field, record, reinterpret_cast<const std::uint8_t*>(&n));
          }
          if (acc.count == 0) {
            result_->PutField(field, record, nullptr);
          } else {
            const double total = out.integral_column ? static_cast<double>(acc.integral) : acc.real;
            const double avg = total / static_cast<double>(acc.count);
            result_->PutField(field, record, reinterpret_cast<const std::uint8_t*>(&avg));
          }
          break;
        case rcMin:
        case rcMax:
          if (out.integral_column && acc.count > 0) PutIntegral(field, record, acc.integral);
          else StoreValue(field, record, acc.count == 0 ? nullptr : acc.best);
          break;
        default: break;
      }
    }
    if (query_.HavingExpression) {
      std::memcpy(result_record_.data(), record, result_record_.size());
      if (!EvaluateCondition(query_.HavingExpression)) continue;
    }
    result_->AppendRecord(record, false);
  }
  groups_.clear();
  group_index_.clear();
}

void TSelectExecutor::SortResult() {
  if (order_outputs_.empty() && !query_.Distinct && (!query_.HasGroupBy || group_outputs_.empty())) return;
  TRecordSortRequest request;
  request.CaseInsensitive = query_.OrderByNoCase;
  if (query_.Distinct) {
    // The ORDER BY keys lead; every other column follows, so that equal rows
    // meet.
    for (auto [i, descending] : order_outputs_) request.Fields.push_back({outputs_[i].def, descending});
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const bool ordered = std::any_of(order_outputs_.begin(), order_outputs_.end(),
                                       [&](auto& o) { return o.first == static_cast<int>(i); });
      if (!ordered) request.Fields.push_back({outputs_[i].def, false});
    }
    request.RemoveDuplicates = true;
    request.CaseInsensitive = false;
  } else if (!order_outputs_.empty()) {
    for (auto [i, descending] : order_outputs_) request.Fields.push_back({outputs_[i].def, descending});
  } else {
    // Groups come in the order of their GROUP BY columns.
    for (int i : group_outputs_) request.Fields.push_back({outputs_[i].def, false});
    request.CaseInsensitive = false;
  }
  result_->SortRecordBuffers(request);
  if (query_.Distinct && query_.OrderByNoCase && !order_outputs_.empty()) {
    TRecordSortRequest order;
    order.CaseInsensitive = true;
    for (auto [i, descending] : order_outputs_) order.Fields.push_back({outputs_[i].def, descending});
    result_->SortRecordBuffers(order);
  }
}

// ---- as a sub-select ------------------------------------------------------------

bool TSelectExecutor::TypeSubSelectNode(TExpToken* node) const {
  if (outputs_.size() != 1 || !result_) return false;
  const TFieldDefinition& def = outputs_[0].def;
  if (def.DataType == dtBlob) return false;
  node->DataType = def.DataType;
  node->SubType = def.SubType;
  node->SetDataSize(def.PhysicalSize);
  node->Scale = def.PhysicalDecimals;
  return true;
}

void TSelectExecutor::FreeSubSelectValues() {
  for (TExpToken*& value : sub_values_) FreeExpressionTokens(value);
  sub_values_.clear();
  sub_counts_.clear();
  sub_blanks_ = 0;
  sub_values_read_ = false;
}

void TSelectExecutor::ReadSubSelectValues() {
  sub_values_read_ = true;
  const std::uint8_t type = outputs_[0].def.DataType;
  TExpToken column;
  column.NodeClass = enFIELD;
  column.FieldNumber = 1;
  column.DataType = type;
  result_->SetToBegin();
  while (result_->GetNextRecord(result_record_.data()) == 0) {
    ExpTokenGuard value(Evaluate(&column));
    if (value->IsNull) ++sub_blanks_;
    else if (IsIntegralType(type)) ++sub_counts_[value->IntegralValue()];
    else sub_values_.push_back(value.Release());
  }
  result_->SetToBegin();
}

std::int32_t TSelectExecutor::CountSubSelectMatches(const TExpToken* comparison) {
  if (!sub_values_read_) ReadSubSelectValues();
  const TExpToken* tested = comparison->Left;
  if (tested->IsNull) return sub_blanks_;
  if (IsIntegralType(tested->DataType) && IsIntegralType(outputs_[0].def.DataType)) {
    auto found = sub_counts_.find(tested->IntegralValue());
    return found == sub_counts_.end() ? 0 : found->second;
  }
  std::int32_t matches = 0;
  ExpTokenGuard equal(GetNewExpTokenInstance());
  for (auto& [value, count] : sub_counts_) {
    ExpTokenGuard number(GetNewExpTokenInstance());
    number->NodeClass = enCONST;
    number->DataType = dtInteger;
    number->SetDataSize(4);
    number->IsNull = false;
    const auto n = static_cast<std::int32_t>(value);
    std::memcpy(number->ValueBuffer, &n, 4);
    EvaluateBinary(eoEQ, tested, number.get(), equal.get(), locale_);
    if (IsTrue(equal.get())) matches += count;
  }
  for (const TExpToken* value : sub_values_) {
    EvaluateBinary(eoEQ, tested, value, equal.get(), locale_);
    if (IsTrue(equal.get())) ++matches;
  }
  return matches;
}

void TSelectExecutor::CutResult() {
  if (query_.MaxNumOfRows < 0) return;
  const auto limit = static_cast<std::uint32_t>(query_.MaxNumOfRows);
  if (result_->GetRecordCount() <= limit) return;
  // Records past the limit go from the end.
  result_->SetToEnd();
  std::vector<std::uint8_t> buffer(result_->GetRecordSize());
  while (result_->GetRecordCount() > limit) {
    if (result_->GetPriorRecord(buffer.data()) != 0) break;
    result_->DeleteRecord(buffer.data(), false);
    result_->SetToEnd();
  }
}

}  // namespace korvex
