// Binding: opens the sources, binds names, result fields, ORDER BY, GROUP BY
// and HAVING; answers sub-selects.
#include "tables/sql/select_executor.h"

#include <unordered_map>
#include <unordered_set>

#include "platform/runtime/cp1252.h"
#include "tables/sql/select_executor_parts.h"

namespace korvex {

using namespace select_parts;

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

bool select_parts::LookupSourceField(void* user, TExpToken* node) {
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

namespace {

// The result field of a column: its type from the expression or aggregate;
// refuses aggregates of types they do not take.
void TypeOutput(TSelectExecutor::Output& out, const TResultField* field) {
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
}

// Unique result names of at most 30 characters, and the rest of each
// result field's definition.
void NameOutputs(std::vector<TSelectExecutor::Output>& outputs) {
  // The names given so far and, by base name, the last suffix tried (both
  // upper-cased: names compare without case).
  std::unordered_set<std::string> taken;
  std::unordered_map<std::string, int> next_suffix;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    TSelectExecutor::Output& out = outputs[i];
    const TResultField* field = out.field;
    std::string base;
    if (!field->DefaultName) base = field->ColumnName;
    else if (field->FieldName == "*") base = out.name;
    else if (out.calculation != rcNone)
      base = AggregatePrefix(out.calculation) + (field->IsExpression ? std::string("Expr") : field->FieldName);
    else if (field->IsExpression) base = "Expression";
    else base = field->FieldName;
    base = RightmostChars(base, 30);
    // The first free name of base, base_1, base_2, ...: a name once taken
    // stays taken, so the search for a base goes on where it last stopped.
    std::string name = base;
    int& n = next_suffix[rtl::AnsiUpperCase(base)];
    if (n > 0 || taken.count(rtl::AnsiUpperCase(name))) {
      do {
        const std::string suffix = "_" + std::to_string(++n);
        name = (base.size() + suffix.size() > 30 ? RightmostChars(base, 30 - suffix.size()) : base) + suffix;
      } while (taken.count(rtl::AnsiUpperCase(name)));
    }
    taken.insert(rtl::AnsiUpperCase(name));
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

}  // namespace

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
    TypeOutput(out, field);
    outputs_.push_back(out);
  }
  if (outputs_.size() > kMaxResultColumns) Fail("Maximum number of columns (1024) in result set exceeded");
  if (aggregates_ && plain && !query_.HasGroupBy)
    Fail("Invalid use of aggregate function(s), the necessary GROUP BY clause is missing");
  if (aggregates_ || query_.HasGroupBy) query_.SingleRowResult = !query_.HasGroupBy;

  NameOutputs(outputs_);
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


}  // namespace korvex
