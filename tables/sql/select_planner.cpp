// Planning each execution: conditions split by table, engine filters, join
// order, where each condition is tested, the lookup of each join step, and
// the plan lines of the model dump.
#include "tables/sql/select_executor.h"

#include "tables/sql/select_executor_parts.h"

namespace korvex {

using namespace select_parts;

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

TLookupKind TSelectExecutor::HashLookupKind(const TExpToken* column, const TExpToken* probe) const {
  if (locale_.Language == 0 && column->DataType == dtString && probe->DataType == dtString)
    return TLookupKind::TextHash;
  return Hashable(column->DataType, probe->DataType) ? TLookupKind::Hash : TLookupKind::None;
}

// A range descends the index once per row that reaches the step and reads
// each match from its record; a hash reads the target once, in file order,
// and then finds each match in memory (weighed for text keys, whose
// descents compare texts). The rows that reach the step are
// at least those of the first table. A small target is left to its index:
// it stays in the caches either way, and the range reads no row ahead.
bool TSelectExecutor::HashBeatsRange(std::size_t level, bool hash_possible) const {
  constexpr std::uint64_t kSmallTarget = 2000;
  // What one descent of the index with its record costs, in rows read in
  // file order into a hash.
  constexpr std::uint64_t kDescentRows = 16;
  if (!hash_possible || level == 0) return false;
  const std::uint64_t target = sources_[level]->cursor->GetRecordCount();
  if (target < kSmallTarget) return false;
  const std::uint64_t probes = sources_[0]->cursor->GetRecordCount();
  return probes * kDescentRows > target;
}

void TSelectExecutor::ChooseLookups() {
  for (std::size_t level = 0; level < sources_.size(); ++level) {
    Source& s = *sources_[level];
    s.step.lookup = {};
    if (level == 0) continue;
    // The equalities between a column of this table and an expression over
    // the tables before it. An outer-join target's rows are looked up by
    // its ON conditions only: a WHERE condition must not decide whether an
    // outer row has a match.
    struct Equality {
      const TExpToken* column;
      const TExpToken* probe;
      const TExpToken* condition;
    };
    std::vector<Equality> equalities;
    for (const auto* list : {&s.outer_conditions, &s.conditions}) {
      if (list == &s.conditions && s.in_group) continue;
      for (const TExpToken* c : *list) {
        if (c->NodeClass != enBINARY || c->Operator != eoEQ) continue;
        for (auto [column, other] : {std::pair{c->Left, c->Right}, std::pair{c->Right, c->Left}}) {
          if (!column || !other || column->NodeClass != enFIELD || !column->SourceTable ||
              column->SourceTable->JoinOrder - 1 != static_cast<int>(level))
            continue;
          const int other_level = LastLevel(other);
          if (other_level < 0 || other_level >= static_cast<int>(level)) continue;
          equalities.push_back({column, other, c});
          break;
        }
      }
    }
    if (equalities.empty()) continue;
    TPlanLookup& lookup = s.step.lookup;
    auto add = [&](const Equality& e) {
      lookup.columns.push_back(e.column);
      lookup.probes.push_back(e.probe);
      lookup.names.push_back(DumpExpression(e.column, query_.Statement));
    };
    // The target's index over the join columns serves first: the target is
    // then never read whole.
    std::vector<int> fields;
    std::vector<const Equality*> keyed;
    bool texts = false;
    for (const Equality& e : equalities)
      if (IndexLookupTypes(e.column, e.probe)) {
        fields.push_back(e.column->FieldNumber);
        keyed.push_back(&e);
        texts = texts || e.column->DataType == dtString;
      }
    std::vector<std::size_t> order;
    if (!fields.empty() && ChooseLookupIndex(*s.cursor, fields, texts, locale_, lookup.index, order) &&
        !HashBeatsRange(level, [&] {
          // Integers descend an index cheaply: only texts weigh it here.
          for (const Equality& e : equalities)
            if (HashLookupKind(e.column, e.probe) == TLookupKind::TextHash) return true;
          return false;
        }())) {
      lookup.kind = TLookupKind::Range;
      for (std::size_t at : order) add(*keyed[at]);
      // The table's own conditions are tested on the rows each range finds:
      // under a filter the index walk would step over every record the
      // filter hides, beyond the range too, for each row before it.
      if (s.filters.Active()) {
        s.filters.Clear();
        s.scan = s.own;
        s.step.access = TAccessPath::Scan;
        s.step.filtered = 0;
      }
      // Equal keys hold equal values, unless the index ignores case or
      // orders texts by a language's weights: then the conditions decide.
      TIndexDefinition def;
      s.cursor->GetIndexDefinition(lookup.index, def);
      const bool exact = !def.CaseInsensitive && (!texts || locale_.Language == 0);
      if (exact) lookup.implied = keyed[order[0]]->condition;
      continue;
    }
    // Else a hash of the first value that hashes; texts under language 0
    // are equal exactly when their bytes are.
    lookup.index = 0;
    for (const Equality& e : equalities) {
      lookup.kind = HashLookupKind(e.column, e.probe);
      if (lookup.kind == TLookupKind::None) continue;
      lookup.implied = e.condition;
      add(e);
      break;
    }
    if (lookup.kind != TLookupKind::None) continue;
    // Else the rows ordered by every column that can be ordered.
    for (const Equality& e : equalities)
      if (OrderedLookupTypes(e.column->DataType, e.probe->DataType)) add(e);
    if (!lookup.columns.empty()) lookup.kind = TLookupKind::Ordered;
  }
}


void TSelectExecutor::BuildSortedLookup(Source& source) {
  const TPlanLookup& lookup = source.step.lookup;
  source.sorted.Reset(lookup.columns.size(), locale_);
  std::vector<TExpToken*> values;
  ScopeExit free_values{[&] {
    for (TExpToken*& v : values) FreeExpressionTokens(v);
  }};
  for (std::uint32_t r = 0; r < source.row_count; ++r) {
    source.current = source.rows.data() + std::size_t{r} * source.record_size;
    values.clear();
    for (const TExpToken* column : lookup.columns) values.push_back(Evaluate(column));
    source.sorted.Add(r, values);
  }
  source.current = nullptr;
  source.sorted.Finish();
}

void TSelectExecutor::DescribePlan() {
  plan_.Clear();
  for (std::size_t level = 0; level < sources_.size(); ++level) {
    Source& s = *sources_[level];
    TPlanStep& step = s.step;
    step.correlation = s.table->CorrelationName;
    step.role = s.join_type != jtNone ? "outer" : level == 0 ? "from" : "inner";
    // The hash lookup's own condition holds for every row it finds.
    step.tested = s.scan.size() + s.conditions.size() + s.outer_conditions.size() - (step.lookup.implied ? 1 : 0);
    plan_.steps.push_back(step);
  }
  if (aggregates_) plan_.after.push_back("group " + std::to_string(group_outputs_.size()));
  if (query_.HavingExpression) plan_.after.push_back("having");
  if (query_.Distinct) plan_.after.push_back("distinct");
  if (!order_outputs_.empty()) plan_.after.push_back("order " + std::to_string(order_outputs_.size()));
  if (query_.MaxNumOfRows >= 0) plan_.after.push_back("limit " + std::to_string(query_.MaxNumOfRows));
  query_.Plan = plan_;
}

bool TSelectExecutor::CountsOnly() const {
  return sources_.size() == 1 && outputs_.size() == 1 && outputs_[0].count_star && !query_.HasGroupBy &&
         !query_.HavingExpression;
}

void TSelectExecutor::FilterSources(bool everything) {
  for (auto& source : sources_) {
    Source& s = *source;
    std::vector<TExpToken*>& own = s.own;
    own = s.on_own;
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
    s.step = PlanSourceAccess(s.filters, *s.cursor, own, locale_,
                              everything ? TWhereFilters::TPass::Everything : TWhereFilters::TPass::Indexed,
                              s.table->CorrelationName, "from");
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


}  // namespace korvex
