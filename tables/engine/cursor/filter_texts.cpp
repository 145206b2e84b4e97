// TFilterSet: filter texts parsed, checked against the fields and prepared; the prepared ones kept.
#include <algorithm>
#include <string>

#include "platform/runtime/sysutils.h"
#include "tables/engine/cursor/filter_nodes.h"
#include "tables/engine/cursor/filters.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expfilter.h"
#include "tables/lib/expparser.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"

namespace korvex {
namespace {

std::uint8_t Mirror(std::uint8_t op) {
  switch (op) {
    case eoGT: return eoLT;
    case eoLT: return eoGT;
    case eoGE: return eoLE;
    case eoLE: return eoGE;
    default: return op;
  }
}

// Kept prepared texts per set.
constexpr std::size_t kPreparedTexts = 8;

// Whether two field lists type and place their columns alike (what a
// prepared tree depends on).
bool SameColumns(const std::vector<TFieldDefinition>& a, const std::vector<TFieldDefinition>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TFieldDefinition& x, const TFieldDefinition& y) {
    return x.FieldNumber == y.FieldNumber && x.DataType == y.DataType && x.SubType == y.SubType &&
           x.PhysicalSize == y.PhysicalSize && x.PhysicalDecimals == y.PhysicalDecimals && x.Offset == y.Offset &&
           x.Name == y.Name;
  });
}

}  // namespace

void NormalizeFilter(TExpToken* node) {
  if (!node) return;
  if (node->NodeClass == enBINARY && IsComparison(node->Operator & 0x7F) && !ContainsFields(node->Left) &&
      ContainsFields(node->Right)) {
    std::swap(node->Left, node->Right);
    node->Operator = static_cast<std::uint8_t>((node->Operator & 0x80) | Mirror(node->Operator & 0x7F));
  }
  NormalizeFilter(node->Left);
  if (node->NodeClass != enCONST) NormalizeFilter(node->Right);
  NormalizeFilter(node->Third);
}

TExpToken* TFilterSet::ParseAndPrepare(std::string_view text, const TFilterFlags& options) {
  const TLocalePair locale = source_.FilterLocale();
  const std::string table = source_.FilterTableName();
  ExpTokenGuard tree;
  {
    LanguageSettingsScope settings(locale.Language, locale.Sort);
    TExpressionParser parser;
    parser.SetErrorNumber(err::kFilterError);
    parser.SetErrorContext(table);
    parser.SetExpressionContext("filter expression");
    tree.Reset(parser.ParseFilter(text, pmAllowExtPredicates));
    if (!tree) Fail(err::kFilterError, "filter expression is empty");
    VerifyExpressionToken(err::kFilterError, table, "filter expression", tree.get(), nullptr, this, FieldLookup,
                          true);
    if (tree->DataType != dtBoolean) Fail(err::kFilterError, "filter expression must be a boolean expression");
  }
  NormalizeFilter(tree.get());
  return BuildNextFilterExpression(tree.get(), this, FieldValue, locale, options.CaseInsensitive,
                                   options.NoPartialCompare);
}

TExpToken* TFilterSet::PreparedCopy(std::string_view text, const TFilterFlags& options) {
  const TLocalePair locale = source_.FilterLocale();
  const std::vector<TFieldDefinition>& fields = source_.FilterFields();
  if (!SameColumns(fields, prepared_fields_)) {
    prepared_.clear();
    prepared_fields_ = fields;
    for (TFieldDefinition& f : prepared_fields_) f.Expression = nullptr;  // not owned here
  }
  auto kept = std::find_if(prepared_.begin(), prepared_.end(), [&](const PreparedText& p) {
    return p.text == text && p.case_insensitive == options.CaseInsensitive &&
           p.no_partial_compare == options.NoPartialCompare && p.locale == locale;
  });
  if (kept == prepared_.end()) {
    ExpTokenGuard tree(ParseAndPrepare(text, options));
    if (prepared_.size() == kPreparedTexts) prepared_.pop_back();
    prepared_.insert(prepared_.begin(), PreparedText{std::string(text), options.CaseInsensitive,
                                                     options.NoPartialCompare, locale, std::move(tree)});
  } else if (kept != prepared_.begin()) {
    std::rotate(prepared_.begin(), kept, kept + 1);
  }
  return CopyExpressionTokens(prepared_.front().tree.get());
}

void TypeColumnNode(TExpToken* node, const TFieldDefinition& field) {
  node->DataType = field.DataType;
  node->SubType = field.SubType;
  node->SetDataSize(field.DataType == dtBlob ? 10 : field.PhysicalSize);
  node->Scale = field.PhysicalDecimals;
}

bool TFilterSet::FieldLookup(void* user, TExpToken* node) {
  auto* set = static_cast<TFilterSet*>(user);
  for (const TFieldDefinition& f : set->source_.FilterFields()) {
    if (!rtl::AnsiSameText(f.Name, node->ColumnName)) continue;
    node->FieldNumber = f.FieldNumber;
    TypeColumnNode(node, f);
    return true;
  }
  return false;
}

}  // namespace korvex
