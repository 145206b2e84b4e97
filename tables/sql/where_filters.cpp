#include "tables/sql/where_filters.h"

#include <algorithm>

#include "tables/lib/expfilter.h"
#include "tables/lib/fieldtypes.h"
#include "tables/sql/clauses.h"

namespace korvex {

namespace {

// Constant parts of a condition read no column: any column asked for is
// blank.
bool NoColumns(void*, const void*, TExpToken* result) {
  result->SetNullValue();
  return true;
}

// The prepared copy holds this execution's parameter values as plain
// constants, which an index can answer.
void FixParameters(TExpToken* node) {
  if (!node) return;
  if (node->NodeClass == enCONST) node->IsParameter = false;
  FixParameters(node->Left);
  FixParameters(node->Right);
  FixParameters(node->Third);
}

bool Filterable(const TExpToken* node) {
  if (!node) return true;
  if (node->NodeClass == enTUPLE || node->SubQuery) return false;
  if (node->NodeClass == enFIELD && node->DataType == dtBlob) return false;
  if (node->NodeClass == enFUNC && (node->Operator == eoSUM || node->Operator == eoMIN || node->Operator == eoMAX ||
                                    node->Operator == eoAVG || node->Operator == eoCOUNT))
    return false;
  return Filterable(node->Left) && Filterable(node->Right) && Filterable(node->Third);
}

}  // namespace

void SplitConjuncts(TExpToken* node, std::vector<TExpToken*>& out) {
  if (!node) return;
  if (node->NodeClass == enBINARY && node->Operator == eoAND) {
    SplitConjuncts(node->Left, out);
    SplitConjuncts(node->Right, out);
    return;
  }
  out.push_back(node);
}

void SourceLevels(const TExpToken* node, int& first, int& last) {
  first = last = -1;
  auto walk = [&](const TExpToken* n, const auto& self) -> void {
    if (!n) return;
    if (n->NodeClass == enFIELD && n->SourceTable) {
      const int level = n->SourceTable->JoinOrder - 1;
      first = first < 0 ? level : std::min(first, level);
      last = std::max(last, level);
    }
    self(n->Left, self);
    self(n->Right, self);
    self(n->Third, self);
  };
  walk(node, walk);
}

bool EngineCanFilter(const TExpToken* condition) { return Filterable(condition); }

TWhereFilters::~TWhereFilters() {
  try {
    Clear();
  } catch (...) {
  }
}

void TWhereFilters::Clear() {
  TFilter* filter = filter_;
  filter_ = nullptr;
  filtered_ = 0;
  left_.clear();
  if (filter && cursor_) cursor_->DropFilter(filter);
}

void TWhereFilters::Build(TDataCursor& cursor, const std::vector<TExpToken*>& conditions, TLocalePair locale,
                          TPass pass) {
  Clear();
  cursor_ = &cursor;
  indexed_only_ = pass == TPass::Indexed;
  const bool same_locale = cursor.GetLanguageID() == locale.Language && cursor.GetSortID() == locale.Sort;
  TFilterFlags options;
  options.NoPartialCompare = true;  // 'Sm*' is a text, not a prefix
  TFilterSet& set = cursor.Filters();
  // Each condition prepared on its own: its level decides whether it joins
  // the filter. The filter is the AND of those that do, in their order.
  ExpTokenGuard tree;
  for (TExpToken* condition : conditions) {
    if (!same_locale || !EngineCanFilter(condition)) {
      left_.push_back(condition);
      continue;
    }
    ExpTokenGuard normalized(CopyExpressionTokens(condition));
    NormalizeFilter(normalized.get());
    ExpTokenGuard prepared(
        BuildNextFilterExpression(normalized.get(), nullptr, NoColumns, locale, false, options.NoPartialCompare));
    FixParameters(prepared.get());
    if (pass == TPass::Indexed && set.GetExpressionOptimizeLevel(0, prepared.get(), false, options) == olNone) {
      left_.push_back(condition);
      continue;
    }
    ++filtered_;
    if (!tree) {
      tree.Reset(prepared.Release());
      continue;
    }
    TExpToken* both = GetNewExpTokenInstance();
    both->NodeClass = enBINARY;
    both->Operator = eoAND;
    both->DataType = dtBoolean;
    both->SetDataSize(2);
    both->Left = tree.Release();
    both->Right = prepared.Release();
    both->Left->Parent = both->Right->Parent = both;
    tree.Reset(both);
  }
  if (!tree) return;
  filter_ = cursor.AddFilter(0, {}, tree.get(), true, nullptr, options);
  tree.Release();
  cursor.ActivateFilter(filter_);
}


}  // namespace korvex
