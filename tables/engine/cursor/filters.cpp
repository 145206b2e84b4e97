#include "tables/engine/cursor/filters.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/coding.h"
#include "platform/runtime/sysutils.h"
#include "tables/engine/files/index_tree.h"
#include "tables/lib/collation.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expfilter.h"
#include "tables/lib/expparser.h"
#include "tables/lib/fieldtypes.h"
#include "tables/lib/language_settings.h"

namespace korvex {
namespace {

// Restarts of an update before it keeps the table's read lock to its end.
constexpr int kFreeRestarts = 3;
// Index keys walked for the price of one record read and test.
constexpr std::uint64_t kKeysPerRecordRead = 16;
// A key range of at most one key per this many bitmap words is collected
// as a list rather than as a bitmap.
constexpr std::uint64_t kWordsPerKey = 4;

bool IsComparison(std::uint8_t op) { return op >= eoEQ && op <= eoLE; }

std::uint8_t Mirror(std::uint8_t op) {
  switch (op) {
    case eoGT: return eoLT;
    case eoLT: return eoGT;
    case eoGE: return eoLE;
    case eoLE: return eoGE;
    default: return op;
  }
}

bool IsConstantValue(const TExpToken* node) {
  return node && node->NodeClass == enCONST && !node->IsParameter;
}

// The column a leaf tests: a column itself or UPPER(column).
const TExpToken* LeafColumn(const TExpToken* operand, bool& upper) {
  upper = false;
  if (!operand) return nullptr;
  if (operand->NodeClass == enFIELD) return operand;
  if (operand->NodeClass == enFUNC && operand->Operator == eoUPPER && operand->Left &&
      operand->Left->NodeClass == enFIELD) {
    upper = true;
    return operand->Left;
  }
  return nullptr;
}


// A pool bitmap given back when the scope ends.
class PoolBitmap {
public:
  explicit PoolBitmap(const TRecordsBitmap& like) : bits_(GetNewRecordsBitmapInstance()) {
    bits_->SetNumOfBits(like.NumOfBits());
  }
  ~PoolBitmap() { ReturnRecordsBitmapInstance(bits_); }
  PoolBitmap(const PoolBitmap&) = delete;
  PoolBitmap& operator=(const PoolBitmap&) = delete;
  TRecordsBitmap& operator*() { return *bits_; }
  TRecordsBitmap* operator->() { return bits_; }

private:
  TRecordsBitmap* bits_;
};


// A tree of plain comparisons of columns with constants under AND, OR and
// NOT, tested on the record's bytes without building value nodes. Each
// test answers exactly what the evaluator answers (the same comparison
// routines, the same NULL rules); a tree with anything else is not
// compiled.
class TFastTest {
public:
  // nullptr when the tree has a node this does not answer.
  static std::unique_ptr<TFastTest> Compile(const TExpToken* node, const std::vector<TFieldDefinition>& fields) {
    if (!node) return nullptr;
    auto test = std::make_unique<TFastTest>();
    const std::uint8_t op = node->Operator & 0x7F;
    if (node->NodeClass == enUNARY && op == eoNOT) {
      test->kind_ = Kind::Not;
      test->left_ = Compile(node->Left, fields);
      return test->left_ ? std::move(test) : nullptr;
    }
    if (node->NodeClass == enBINARY && (op == eoAND || op == eoOR)) {
      test->kind_ = op == eoAND ? Kind::And : Kind::Or;
      test->left_ = Compile(node->Left, fields);
      test->right_ = Compile(node->Right, fields);
      return test->left_ && test->right_ ? std::move(test) : nullptr;
    }
    if (node->NodeClass == enEXTBINARY && (op == eoBETWEEN || op == eoNOTBETWEEN)) {
      // low <= column <= high, as the evaluator tests it: both bounds
      // compared, a NULL column failing both.
      const TExpToken* low = node->Right;
      if (!low) return nullptr;
      test->kind_ = Kind::And;
      test->left_ = Comparison(eoGE, node->Left, low, nullptr, fields);
      test->right_ = Comparison(eoLE, node->Left, low->Right, nullptr, fields);
      if (!test->left_ || !test->right_) return nullptr;
      return op == eoBETWEEN ? std::move(test) : Negated(std::move(test));
    }
    if (node->NodeClass == enEXTBINARY && (op == eoIN || op == eoNOTIN)) {
      // column = item for each item of the list, equal to NULL meaning blank.
      std::unique_ptr<TFastTest> any;
      for (const TExpToken* item = node->Right; item; item = item->Right) {
        auto equal = Comparison(eoEQ, node->Left, item, nullptr, fields);
        if (!equal) return nullptr;
        if (any) {
          auto both = std::make_unique<TFastTest>();
          both->kind_ = Kind::Or;
          both->left_ = std::move(any);
          both->right_ = std::move(equal);
          any = std::move(both);
        } else {
          any = std::move(equal);
        }
      }
      if (!any) return nullptr;
      return op == eoIN ? std::move(any) : Negated(std::move(any));
    }
    if ((node->NodeClass != enBINARY && node->NodeClass != enCOMPARE) || !IsComparison(op)) return nullptr;
    return Comparison(op, node->Left, node->Right, node->NodeClass == enCOMPARE ? node : nullptr, fields);
  }

private:
  static std::unique_ptr<TFastTest> Negated(std::unique_ptr<TFastTest> inner) {
    auto test = std::make_unique<TFastTest>();
    test->kind_ = Kind::Not;
    test->left_ = std::move(inner);
    return test;
  }

  // `column op constant`; `compare` is the comparison node of a string
  // equality with its own length and case settings.
  static std::unique_ptr<TFastTest> Comparison(std::uint8_t op, const TExpToken* column, const TExpToken* constant,
                                               const TExpToken* compare,
                                               const std::vector<TFieldDefinition>& fields) {
    auto test = std::make_unique<TFastTest>();
    if (!column || column->NodeClass != enFIELD || !IsConstantValue(constant)) return nullptr;
    if (column->FieldNumber == 0 || column->FieldNumber > fields.size()) return nullptr;
    const TFieldDefinition& f = fields[column->FieldNumber - 1];
    if (!f.TakesRecordBytes() || f.DataType != column->DataType) return nullptr;
    test->op_ = op;
    test->field_ = &f;
    if (constant->IsNull) {
      if (op != eoEQ && op != eoNE) return nullptr;
      test->kind_ = Kind::Blank;
      return test;
    }
    if (compare) {
      if (f.DataType != dtString || constant->DataType != dtString || (op != eoEQ && op != eoNE)) return nullptr;
      test->kind_ = Kind::Compare;
      test->text_ = std::string(constant->TextValue());
      test->length_ = static_cast<std::uint16_t>(compare->CompareLength & 0xFFFF);
      test->ignore_case_ = compare->CompareIgnoreCase;
      return test;
    }
    switch (f.DataType) {
      case dtString:
        if (constant->DataType != dtString) return nullptr;
        test->kind_ = Kind::Text;
        test->text_ = std::string(constant->TextValue());
        return test;
      case dtSmallInt: case dtInteger: case dtWord:
        if (constant->DataType != dtSmallInt && constant->DataType != dtInteger && constant->DataType != dtWord)
          return nullptr;
        test->kind_ = Kind::Integral;
        test->integer_ = constant->IntegralValue();
        return test;
      case dtDate: case dtTime:
        if (constant->DataType != f.DataType) return nullptr;
        test->kind_ = Kind::Integral;
        test->integer_ = constant->Value<std::int32_t>();
        return test;
      case dtFloat:
        if (constant->DataType != dtFloat) return nullptr;
        test->kind_ = Kind::Real;
        test->real_ = constant->Value<double>();
        return test;
      default:
        return nullptr;
    }
  }

public:
  bool Run(const std::uint8_t* record, TLocalePair locale) const {
    switch (kind_) {
      case Kind::Not: return !left_->Run(record, locale);
      case Kind::And: return left_->Run(record, locale) && right_->Run(record, locale);
      case Kind::Or: return left_->Run(record, locale) || right_->Run(record, locale);
      default: break;
    }
    const std::uint8_t* at = record + field_->Offset;
    const bool blank = at[0] == 0;
    if (kind_ == Kind::Blank) return (op_ == eoEQ) == blank;
    if (blank) return op_ == eoNE;  // NULL <> a value; every other comparison false
    int order = 0;
    switch (kind_) {
      case Kind::Text: case Kind::Compare: {
        char text[256];
        const std::size_t size = std::min<std::size_t>(field_->PhysicalSize, sizeof text - 1);
        std::memcpy(text, at + 1, size);
        text[size] = 0;
        order = CompareStrings(locale.Language, locale.Sort, text, text_.c_str(),
                               kind_ == Kind::Compare ? length_ : 0, kind_ == Kind::Compare && ignore_case_);
        break;
      }
      case Kind::Integral: {
        std::int64_t value = 0;
        switch (field_->DataType) {
          case dtSmallInt: value = static_cast<std::int16_t>(rtl::DecodeFixed16(at + 1)); break;
          case dtWord: value = rtl::DecodeFixed16(at + 1); break;
          default: value = static_cast<std::int32_t>(rtl::DecodeFixed32(at + 1)); break;
        }
        order = value < integer_ ? -1 : value > integer_ ? 1 : 0;
        break;
      }
      case Kind::Real: {
        const double value = rtl::DecodeDouble(at + 1);
        order = value < real_ ? -1 : value > real_ ? 1 : 0;
        break;
      }
      default:
        break;
    }
    switch (op_) {
      case eoEQ: return order == 0;
      case eoNE: return order != 0;
      case eoGT: return order > 0;
      case eoLT: return order < 0;
      case eoGE: return order >= 0;
      default: return order <= 0;
    }
  }

private:
  enum class Kind { And, Or, Not, Blank, Text, Compare, Integral, Real };
  Kind kind_ = Kind::And;
  std::uint8_t op_ = 0;
  const TFieldDefinition* field_ = nullptr;
  std::string text_;
  std::uint16_t length_ = 0;
  bool ignore_case_ = false;
  std::int64_t integer_ = 0;
  double real_ = 0;
  std::unique_ptr<TFastTest> left_, right_;
};

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

// ---- TFilter -------------------------------------------------------------------

TFilter::TFilter(TFilterSet& owner, std::uint32_t user_data, TExpToken* tree, bool owns_tree,
                 TRecordFilter callback, const TFilterFlags& options)
    : owner_(owner),
      owns_tree_(owns_tree),
      tree_(tree),
      user_data_(user_data),
      callback_(std::move(callback)),
      bitmap_(GetNewRecordsBitmapInstance()),
      options_(options) {
  bitmap_->SetNumOfBits(0);
}

TFilter::~TFilter() {
  if (owns_tree_) FreeExpressionTokens(tree_);
  ReturnRecordsBitmapInstance(bitmap_);
}

// ---- the list ------------------------------------------------------------------

TFilterSet::TFilterSet(TFilterSource& source)
    : source_(source),
      combined_(GetNewRecordsBitmapInstance()),
      range_bits_(GetNewRecordsBitmapInstance()),
      live_(GetNewRecordsBitmapInstance()) {
  // A spare from the pool keeps its former size: sized 0, the bitmaps are
  // built in full on first use instead of being taken as up to date.
  for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->SetNumOfBits(0);
}

TFilterSet::~TFilterSet() {
  filters_.clear();
  ReturnRecordsBitmapInstance(combined_);
  ReturnRecordsBitmapInstance(range_bits_);
  ReturnRecordsBitmapInstance(live_);
}

void TFilterSet::Fail(TEngineErrorCode code, const std::string& message) const {
  RaiseError(code, source_.FilterTableName(), {}, {}, message);
}

bool TFilterSet::Owns(const TFilter* filter) const {
  return std::any_of(filters_.begin(), filters_.end(), [&](const auto& f) { return f.get() == filter; });
}

TFilter* TFilterSet::Checked(TFilter* filter) const {
  if (filter && !Owns(filter)) Fail(err::kInvalidFilterHandle);
  return filter;
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

namespace {
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

TFilter* TFilterSet::AddFilter(std::uint32_t user_data, std::string_view text, TExpToken* tree, bool owns_tree,
                               TRecordFilter callback, const TFilterFlags& options) {
  if (filters_.size() >= kMaxFilters) Fail(err::kTooManyFilters);
  ExpTokenGuard prepared;
  if (!text.empty()) {
    prepared.Reset(PreparedCopy(text, options));
    owns_tree = true;
    callback = nullptr;
  } else if (tree) {
    callback = nullptr;
  } else if (!callback) {
    Fail(err::kFilterError, "filter expression is empty");
  }
  TExpToken* expression = prepared ? prepared.get() : tree;
  std::unique_ptr<TFilter> filter(new TFilter(*this, user_data, expression, owns_tree, std::move(callback), options));
  prepared.Release();
  filter->level_ = filter->callback_ ? olNone : GetExpressionOptimizeLevel(0, filter->tree_, false, options);
  TFilter* handle = filter.get();
  auto at = filters_.end();
  if (!options.Narrowing)
    at = std::find_if(filters_.begin(), filters_.end(), [](const auto& f) { return f->Narrowing(); });
  filters_.insert(at, std::move(filter));
  return handle;
}

void TFilterSet::DropFilter(TFilter* filter) {
  Checked(filter);
  if (filter)
    filters_.erase(std::find_if(filters_.begin(), filters_.end(), [&](const auto& f) { return f.get() == filter; }));
  else
    filters_.clear();
  CheckForActiveFilters();
  RebuildFilterBitmap();
}

void TFilterSet::ActivateFilter(TFilter* filter) {
  Checked(filter);
  for (auto& f : filters_)
    if (!filter || f.get() == filter) f->active_ = true;
  CheckForActiveFilters();
  if (filter) UpdateFilter(filter);
  else UpdateAllFilters();
  RebuildFilterBitmap();
}

void TFilterSet::DeactivateFilter(TFilter* filter) {
  Checked(filter);
  for (auto& f : filters_)
    if (!filter || f.get() == filter) f->active_ = false;
  CheckForActiveFilters();
  RebuildFilterBitmap();
}

void TFilterSet::ResetFilter(TExpToken* tree, TFilter* filter) {
  Checked(filter);
  if (!tree || !filter || !filter->active_) return;
  if (filter->owns_tree_) FreeExpressionTokens(filter->tree_);
  filter->tree_ = tree;
  filter->owns_tree_ = true;
  filter->callback_ = nullptr;
  filter->level_ = GetExpressionOptimizeLevel(0, tree, false, filter->options_);
  CheckForActiveFilters();
  UpdateFilter(filter);
  RebuildFilterBitmap();
}

void TFilterSet::CopyFilters(const TFilterSet& other) {
  for (const auto& f : other.filters_) {
    TExpToken* tree = f->tree_ ? CopyExpressionTokens(f->tree_) : nullptr;
    ExpTokenGuard guard(tree);
    std::unique_ptr<TFilter> copy(new TFilter(*this, f->user_data_, tree, tree != nullptr, f->callback_, f->options_));
    guard.Release();
    copy->level_ = f->level_;
    copy->active_ = f->active_;
    filters_.push_back(std::move(copy));
  }
  CheckForActiveFilters();
  RefreshRangeAndFilters();
}

// ---- state ---------------------------------------------------------------------

void TFilterSet::SetPhysicalNavigation(bool physical) {
  physical_ = physical;
  CheckForActiveFilters();
}

void TFilterSet::SetRange(const TFilterRange* range) {
  range_ = range ? std::make_unique<TFilterRange>(*range) : nullptr;
}

void TFilterSet::SetMaintenanceSuspended(bool suspended) {
  if (suspended_ == suspended) return;
  suspended_ = suspended;
  if (!suspended_) RefreshRangeAndFilters();
}

void TFilterSet::CheckForActiveFilters() {
  in_force_ = physical_ || std::any_of(filters_.begin(), filters_.end(), [](const auto& f) { return f->active_; });
  if (!in_force_) {
    for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->SetNumOfBits(0);
    count_ = 0;
  }
}

TOptimizeLevel TFilterSet::GetFilterOptimizeLevel() const {
  if (filters_.empty()) return olNone;
  TOptimizeLevel level = filters_.front()->level_;
  for (std::size_t i = 1; i < filters_.size(); ++i) {
    const TOptimizeLevel next = filters_[i]->level_;
    if (level == olFull && next == olFull) continue;
    if (level == olNone && next == olNone) continue;
    level = olPartial;
  }
  return level;
}

// ---- optimise levels -----------------------------------------------------------

std::int32_t TFilterSet::IndexForLeaf(const TExpToken* node) const {
  TIndexFile* file = const_cast<TFilterSource&>(source_).FilterIndexFile();
  if (!file || !source_.FilterOptimizes()) return -1;
  const std::uint8_t op = node->Operator & 0x7F;
  bool upper = false;
  const TExpToken* column = LeafColumn(node->Left, upper);
  if (!column) return -1;
  const auto& fields = source_.FilterFields();
  if (column->FieldNumber == 0 || column->FieldNumber > fields.size()) return -1;
  const TFieldDefinition& field = fields[column->FieldNumber - 1];
  const bool string = field.DataType == dtString;
  const TLocalePair locale = source_.FilterLocale();

  // The constants: of the column's own type (NULL only where it stands for
  // a blank test), and for strings texts the key holds whole.
  bool blank_test = false;
  auto usable = [&](const TExpToken* c) {
    if (!IsConstantValue(c)) return false;
    if (c->IsNull) return true;
    if (c->DataType != field.DataType) return false;
    if (!string) return true;
    const std::string_view text = c->TextValue();
    if (text.size() + 1 > field.PhysicalSize) return false;
    return !upper || UpperString(locale.Language, locale.Sort, text) == text;
  };
  if (node->NodeClass == enBINARY || node->NodeClass == enCOMPARE) {
    if (!IsComparison(op) || !usable(node->Right)) return -1;
    if (node->Right->IsNull) {
      if (op != eoEQ && op != eoNE) return -1;
      blank_test = true;
    }
  } else if (node->NodeClass == enEXTBINARY) {
    if (op == eoBETWEEN || op == eoNOTBETWEEN) {
      if (!usable(node->Right) || !usable(node->Right->Right) || node->Right->IsNull || node->Right->Right->IsNull)
        return -1;
    } else if (op == eoIN || op == eoNOTIN) {
      if (!node->Right) return -1;
      for (const TExpToken* c = node->Right; c; c = c->Right)
        if (!usable(c)) return -1;
    } else {
      return -1;
    }
  } else {
    return -1;
  }
  // Strings: language 0 only, and the index's case setting must be the
  // comparison's (UPPER needs a case-insensitive index).
  int want_case = -1;
  if (string && !blank_test) {
    if (locale.Language != 0) return -1;
    if (upper) {
      if (node->NodeClass == enCOMPARE && node->CompareIgnoreCase) return -1;
      want_case = 1;
    } else {
      want_case = node->NodeClass == enCOMPARE && node->CompareIgnoreCase ? 1 : 0;
    }
  }
  const bool primary = !file->GetNoPrimaryIndex() && file->GetIndexDefinition(0).FieldCount > 0;
  for (int slot = primary ? 0 : 1; slot <= file->GetIndexCount(); ++slot) {
    const TIndexDefinition& index = file->GetIndexDefinition(static_cast<std::uint8_t>(slot));
    if (index.FieldCount == 0 || index.Fields[0] != column->FieldNumber || index.KeySize == 0) continue;
    if (want_case >= 0 && (index.CaseInsensitive != 0) != (want_case == 1)) continue;
    return slot;
  }
  return -1;
}

TOptimizeLevel TFilterSet::LeafLevel(const TExpToken* node) const {
  return IndexForLeaf(node) >= 0 ? olFull : olNone;
}

TOptimizeLevel TFilterSet::GetExpressionOptimizeLevel(std::uint8_t parent_operator, TExpToken* node,
                                                      bool count_check, const TFilterFlags& options) {
  if (!node) return olNone;
  TOptimizeLevel level = olNone;
  const std::uint8_t op = node->Operator & 0x7F;
  if (node->NodeClass == enUNARY && op == eoNOT) {
    level = GetExpressionOptimizeLevel(op, node->Left, count_check, options);
  } else if (node->NodeClass == enBINARY && (op == eoAND || op == eoOR)) {
    TOptimizeLevel left = GetExpressionOptimizeLevel(op, node->Left, count_check, options);
    TOptimizeLevel right = GetExpressionOptimizeLevel(op, node->Right, count_check, options);
    if (op == eoOR) {
      level = left == olFull && right == olFull ? olFull : olNone;
    } else {
      if (right > left) std::swap(node->Left, node->Right);
      level = left == olFull && right == olFull ? olFull : std::max(left, right) != olNone ? olPartial : olNone;
    }
  } else {
    level = LeafLevel(node);
    if (level == olFull && count_check && parent_operator != 0) {
      // Leaves whose keys cover more than 90 % of the records are read
      // record by record instead.
      const std::int32_t slot = IndexForLeaf(node);
      TIndexFile* file = source_.FilterIndexFile();
      TIndexTree tree(*file, static_cast<std::uint8_t>(slot), source_.FilterComparator(static_cast<std::uint8_t>(slot)));
      const std::uint32_t records = tree.Count();
      std::uint64_t keys = 0;
      const std::uint8_t leaf_op = op;
      const bool inverted = leaf_op == eoNOTIN || leaf_op == eoNOTBETWEEN ||
                            (leaf_op == eoNE && !(node->Right && node->Right->IsNull));
      if (node->NodeClass == enEXTBINARY && (leaf_op == eoIN || leaf_op == eoNOTIN)) {
        for (const TExpToken* c = node->Right; c; c = c->Right) {
          std::uint32_t first = 0, last = 0;
          LeafRanks(node, eoEQ, c, static_cast<std::uint8_t>(slot), first, last);
          if (last >= first) keys += last - first + 1;
        }
      } else {
        std::uint32_t first = 0, last = 0;
        LeafRanks(node, leaf_op, node->Right, static_cast<std::uint8_t>(slot), first, last);
        if (last >= first) keys = last - first + 1;
      }
      if (inverted) keys = records - std::min<std::uint64_t>(keys, records);
      if (keys > (9ull * records + 5) / 10) level = olNone;
    }
  }
  (void)options;
  node->OptimizeLevel = level;
  return level;
}

// ---- key ranges ----------------------------------------------------------------

bool TFilterSet::LeafRanks(const TExpToken* node, std::uint8_t op, const TExpToken* constant, std::uint8_t slot,
                           std::uint32_t& first, std::uint32_t& last) {
  TIndexFile* file = source_.FilterIndexFile();
  const TIndexDefinition& index = file->GetIndexDefinition(slot);
  bool upper = false;
  const TExpToken* column = LeafColumn(node->Left, upper);
  const TFieldDefinition& field = source_.FilterFields()[column->FieldNumber - 1];
  const TLocalePair locale = source_.FilterLocale();
  const bool descending = locale.Language == 0 ? index.Descending != 0 : index.FieldIsDescending(0);
  TIndexTree tree(*file, slot, source_.FilterComparator(slot));
  const std::uint32_t total = tree.Count();

  // A bound: a key over `length` bytes, included or not; none is open.
  struct Bound {
    std::vector<std::uint8_t> key;
    std::uint16_t length = 0;
    bool closed = true;
    bool none = true;
  };
  auto key_of = [&](const TExpToken* c, bool closed) {
    Bound b;
    b.none = false;
    b.closed = closed;
    b.key.assign(field.PhysicalSize + 1u, 0);
    if (c->IsNull) {
      b.length = 1;
      return b;
    }
    b.key[0] = 1;
    std::vector<std::uint8_t> value(std::max<std::size_t>(field.PhysicalSize, 8) + 1, 0);
    if (field.DataType == dtString) {
      const std::string_view text = c->TextValue();
      std::memcpy(value.data(), text.data(), std::min<std::size_t>(text.size(), field.PhysicalSize));
    } else {
      std::memcpy(value.data(), c->ValueBuffer, std::min<std::size_t>(field.PhysicalSize, c->ValueCapacity));
    }
    PrepareDataForIndex(field, value.data(), b.key.data() + 1, index.CaseInsensitive != 0, false, locale.Language,
                        locale.Sort);
    b.length = static_cast<std::uint16_t>(field.PhysicalSize + 1u);
    if (node->NodeClass == enCOMPARE && node->CompareLength > 0)
      b.length = static_cast<std::uint16_t>(std::min<std::int32_t>(node->CompareLength + 1, b.length));
    return b;
  };
  auto value_flag = [&]() {  // the lowest value: null flag 1, compared alone
    Bound b;
    b.none = false;
    b.key.assign(1, 1);
    b.length = 1;
    return b;
  };
  Bound lo, hi;
  switch (op) {
    case eoEQ: case eoNE: case eoIN: case eoNOTIN:
      lo = key_of(constant, true);
      hi = lo;
      break;
    case eoGT: lo = key_of(constant, false); break;
    case eoGE: lo = key_of(constant, true); break;
    case eoLT:
      lo = value_flag();
      hi = key_of(constant, false);
      break;
    case eoLE:
      lo = value_flag();
      hi = key_of(constant, true);
      break;
    case eoBETWEEN: case eoNOTBETWEEN:
      lo = key_of(constant, true);
      hi = key_of(constant->Right, true);
      break;
    default:
      return false;
  }
  if (op == eoGT || op == eoGE) {
    // Above a value: every key with a value is included at the top.
  }
  auto at_or_above = [&](const Bound& b) {  // first rank not below b in tree order
    bool found = false;
    return tree.Find(b.key.data(), b.length, found);
  };
  auto above = [&](const Bound& b) { return tree.FindAbove(b.key.data(), b.length); };
  // Value order to tree order: a descending index reverses it.
  const Bound& start = descending ? hi : lo;
  const Bound& end = descending ? lo : hi;
  first = start.none ? 1 : (start.closed ? at_or_above(start) : above(start));
  const std::uint32_t after = end.none ? total + 1 : (end.closed ? above(end) : at_or_above(end));
  last = after - 1;
  if (first == 0) first = 1;
  if (last + 1 < first) last = first - 1;
  return true;
}

std::uint32_t TFilterSet::CountIndexedRecords(std::uint8_t slot, const std::uint8_t* low,
                                              const std::uint8_t* high) {
  TIndexFile* file = source_.FilterIndexFile();
  if (!file) return 0;
  const TIndexDefinition& index = file->GetIndexDefinition(slot);
  const TKeyComparator& compare = source_.FilterComparator(slot);
  if (compare.CompareKeys(low, high, index.KeySize) > 0) return 0;
  TIndexTree tree(*file, slot, compare);
  bool found = false;
  const std::uint32_t first = tree.Find(low, index.KeySize, found);
  const std::uint32_t after = tree.FindAbove(high, index.KeySize);
  return after > first ? after - first : 0;
}

void TFilterSet::CollectRanks(std::uint8_t slot, std::uint32_t first, std::uint32_t last, bool complement,
                              TRecordsBitmap& bits) {
  TIndexFile* file = source_.FilterIndexFile();
  TIndexTree tree(*file, slot, source_.FilterComparator(slot));
  const std::int32_t size = bits.NumOfBits();
  bits.ClearBits();
  auto take = [&](std::uint32_t record) {
    if (record >= 1 && record <= static_cast<std::uint32_t>(size)) bits.SetBit(static_cast<std::int32_t>(record));
  };
  const std::uint32_t count = last >= first ? last - first + 1 : 0;
  const std::uint32_t total = tree.Count();
  if (complement && count > total - count) {
    if (first > 1) tree.ScanRecords(1, first - 1, take);
    if (last < total) tree.ScanRecords(last + 1, total - last, take);
    bits.NotBits();
    return;
  }
  if (count > 0) tree.ScanRecords(first, count, take);
}

// ---- evaluation ----------------------------------------------------------------

void TFilterSet::EvaluateIndexed(TRecordsBitmap& bits, const TExpToken* node, const TFilter& filter) {
  const std::int32_t found = IndexForLeaf(node);
  if (found < 0) {
    NavigateNonIndexedRecords(bits, node, filter);
    return;
  }
  const auto slot = static_cast<std::uint8_t>(found);
  const std::uint8_t op = node->Operator & 0x7F;
  const bool complement = filter.options_.Complement && source_.FilterLocale().Language == 0;
  // The rank intervals of the keys that match (IN: one per value).
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranks;
  bool invert = false;
  if (node->NodeClass == enEXTBINARY && (op == eoIN || op == eoNOTIN)) {
    for (const TExpToken* c = node->Right; c; c = c->Right) {
      std::uint32_t first = 0, last = 0;
      LeafRanks(node, eoEQ, c, slot, first, last);
      ranks.emplace_back(first, last);
    }
    invert = op == eoNOTIN;
  } else {
    std::uint32_t first = 0, last = 0;
    LeafRanks(node, op, node->Right, slot, first, last);
    ranks.emplace_back(first, last);
    invert = op == eoNE || op == eoNOTBETWEEN;
  }
  // Few candidates left (an AND's earlier operands chose them) are read
  // rather than walking many keys.
  std::uint64_t keys = 0;
  for (auto [first, last] : ranks) keys += last >= first ? last - first + 1 : 0;
  const std::uint64_t candidates = static_cast<std::uint64_t>(bits.GetTotalBitsSet());
  if (candidates * kKeysPerRecordRead < keys) {
    NavigateNonIndexedRecords(bits, node, filter);
    return;
  }
  if (!invert && keys * kWordsPerKey <= static_cast<std::uint64_t>(bits.WordCount())) {
    // Few keys, however scattered their records: the candidates among
    // them are kept, without a pass over every word.
    std::vector<std::int32_t> keep;
    TIndexFile* file = source_.FilterIndexFile();
    TIndexTree tree(*file, slot, source_.FilterComparator(slot));
    const std::int32_t size = bits.NumOfBits();
    for (auto [first, last] : ranks)
      if (last >= first)
        tree.ScanRecords(first, last - first + 1, [&](std::uint32_t record) {
          const auto n = static_cast<std::int32_t>(record);
          if (n >= 1 && n <= size && bits.IsBitSet(n)) keep.push_back(n);
        });
    bits.ClearBits();
    for (std::int32_t n : keep) bits.SetBit(n);
    return;
  }
  PoolBitmap matches(bits);
  PoolBitmap one(bits);
  for (auto [first, last] : ranks) {
    CollectRanks(slot, first, last, complement, *one);
    matches->OrBits(*one);
  }
  if (invert) matches->NotBits();
  bits.AndBits(*matches);
}

void TFilterSet::NavigateNonIndexedRecords(TRecordsBitmap& bits, const TExpToken* node, const TFilter& filter) {
  std::vector<std::uint8_t> record;
  const TLocalePair locale = source_.FilterLocale();
  const std::unique_ptr<TFastTest> fast = node && !force_scan_ ? TFastTest::Compile(node, source_.FilterFields()) : nullptr;
  std::int32_t n = 0, position = 0;
  while (bits.GetNextBitsSet(n, 1, position)) {
    const auto number = static_cast<std::uint32_t>(n);
    bool pass = source_.FilterReadRecord(number, record);
    if (pass) {
      if (fast) {
        pass = fast->Run(record.data(), locale);
      } else if (node) {
        record_number_ = number;
        ExpTokenGuard value(
            EvaluateExpressionToken(node, record.data(), this, FieldValue, source_.FilterLocale()));
        pass = IsTrue(value.get());
      } else {
        pass = filter.callback_(record.data(), number);
      }
    }
    if (!pass) bits.ClearBit(n);
  }
}

void TFilterSet::EvaluateFilter(TRecordsBitmap& bits, const TExpToken* node, const TFilter& filter) {
  if (bits.GetTotalBitsSet() == 0) return;
  const std::uint8_t op = node->Operator & 0x7F;
  if (force_scan_ || node->OptimizeLevel == olNone) {
    NavigateNonIndexedRecords(bits, node, filter);
  } else if (node->NodeClass == enUNARY && op == eoNOT) {
    PoolBitmap passed(bits);
    passed->Assign(bits);
    EvaluateFilter(*passed, node->Left, filter);
    bits.XorBits(*passed);  // passed ⊆ bits: what is left failed the operand
  } else if (node->NodeClass == enBINARY && op == eoAND) {
    EvaluateFilter(bits, node->Left, filter);
    EvaluateFilter(bits, node->Right, filter);
  } else if (node->NodeClass == enBINARY && op == eoOR) {
    if (node->OptimizeLevel != olFull) {
      NavigateNonIndexedRecords(bits, node, filter);
      return;
    }
    PoolBitmap right(bits);
    right->Assign(bits);
    EvaluateFilter(*right, node->Right, filter);
    EvaluateFilter(bits, node->Left, filter);
    bits.OrBits(*right);
  } else {
    EvaluateIndexed(bits, node, filter);
  }
}

bool TFilterSet::EvaluateFilterForRecord(const TFilter& filter, const std::uint8_t* record, std::uint32_t n) {
  if (filter.callback_) return filter.callback_(record, n);
  if (!filter.tree_) return true;
  record_number_ = n;
  ExpTokenGuard value(EvaluateExpressionToken(filter.tree_, record, this, FieldValue, source_.FilterLocale()));
  return IsTrue(value.get());
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

bool TFilterSet::FieldValue(void* user, const void* buffer, TExpToken* result) {
  auto* set = static_cast<TFilterSet*>(user);
  const auto& fields = set->source_.FilterFields();
  const auto* record = static_cast<const std::uint8_t*>(buffer);
  if (result->FieldNumber == 0 || result->FieldNumber > fields.size()) {
    result->SetNullValue();
    return true;
  }
  const TFieldDefinition& f = fields[result->FieldNumber - 1];
  if (f.IsAutoIncrement()) {
    result->IsNull = false;
    result->SetValue(static_cast<std::int32_t>(rtl::DecodeFixed32(record + kRecordIDOffset)));
    return true;
  }
  if (!f.TakesRecordBytes() || record[f.Offset] == 0) {
    result->SetNullValue();
    return true;
  }
  if (f.DataType == dtBlob) {
    const std::string content = set->source_.FilterReadBlob(f.FieldNumber, record);
    result->SetBytesValue(content.data(), content.size());
    return true;
  }
  result->SetDataSize(f.PhysicalSize + 1);
  result->ClearValue();
  std::memcpy(result->ValueBuffer, record + f.Offset + 1, f.PhysicalSize);
  result->IsNull = false;
  return true;
}

// ---- bitmaps -------------------------------------------------------------------

void TFilterSet::Repeat(const std::function<void()>& work) {
  bool holding = false;
  try {
    for (int attempt = 0;; ++attempt) {
      work();
      if (!source_.FilterTableChanged()) break;
      ++restarts_;
      if (attempt + 1 == kFreeRestarts && !holding) {
        source_.FilterHoldTable(true);
        holding = true;
      }
    }
  } catch (...) {
    if (holding) source_.FilterHoldTable(false);
    throw;
  }
  if (holding) source_.FilterHoldTable(false);
}

void TFilterSet::SizeBitmaps() {
  const auto n = static_cast<std::int32_t>(source_.FilterPhysicalCount());
  for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->SetNumOfBits(n);
  for (auto& f : filters_) f->bitmap_->SetNumOfBits(n);
}

void TFilterSet::UpdateRangeBitmap() {
  if (!range_) return;
  TIndexFile* file = source_.FilterIndexFile();
  if (!file) {
    range_bits_->SetBits();
    return;
  }
  TIndexTree tree(*file, range_->Slot, source_.FilterComparator(range_->Slot));
  bool found = false;
  const std::uint32_t first = range_->LowLength ? tree.Find(range_->Low.data(), range_->LowLength, found) : 1;
  const std::uint32_t last =
      range_->HighLength ? tree.FindAbove(range_->High.data(), range_->HighLength) - 1 : tree.Count();
  CollectRanks(range_->Slot, first, last, source_.FilterLocale().Language == 0, *range_bits_);
}

void TFilterSet::UpdateDeletedBitmap() {
  TIndexFile* file = source_.FilterIndexFile();
  const std::uint32_t physical = source_.FilterPhysicalCount();
  if (file && file->GetIndexDefinition(kSystemSlot).KeySize == 5) {
    static const TKeyComparator bytes;
    TIndexTree tree(*file, kSystemSlot, bytes);
    const std::uint32_t total = tree.Count();
    if (total == physical) {
      const std::uint8_t deleted = 1;
      bool found = false;
      const std::uint32_t first = tree.Find(&deleted, 1, found);
      live_->ClearBits();
      auto take = [&](std::uint32_t record) {
        if (record >= 1 && record <= physical) live_->SetBit(static_cast<std::int32_t>(record));
      };
      if (first <= total) tree.ScanRecords(first, total - first + 1, take);
      live_->NotBits();
      return;
    }
  }
  // No upkept system index: the records themselves say.
  std::vector<std::uint8_t> record;
  live_->ClearBits();
  for (std::uint32_t n = 1; n <= physical; ++n)
    if (source_.FilterReadRecord(n, record)) live_->SetBit(static_cast<std::int32_t>(n));
}

void TFilterSet::UpdateOne(TFilter& filter, std::size_t position) {
  TRecordsBitmap& bits = *filter.bitmap_;
  live_->GetTotalBitsSet();  // counted once; copies take the count along
  bits.Assign(*live_);
  if (range_) bits.AndBits(*range_bits_);
  if (filter.Narrowing() && filter.level_ != olFull)
    for (std::size_t i = 0; i < position; ++i)
      if (filters_[i]->active_) bits.AndBits(*filters_[i]->bitmap_);
  if (filter.callback_ || !filter.tree_) {
    if (filter.callback_) NavigateNonIndexedRecords(bits, nullptr, filter);
    return;
  }
  EvaluateFilter(bits, filter.tree_, filter);
}

void TFilterSet::UpdateAllFilters() {
  if (updating_ || suspended_) return;
  updating_ = true;
  try {
    Repeat([this] {
      if (!in_force_) return;
      SizeBitmaps();
      if (combined_->NumOfBits() == 0) return;
      UpdateRangeBitmap();
      UpdateDeletedBitmap();
      for (std::size_t i = 0; i < filters_.size(); ++i)
        if (filters_[i]->active_) UpdateOne(*filters_[i], i);
    });
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TFilterSet::UpdateFilter(TFilter* filter) {
  if (updating_ || suspended_ || !filter->active_) return;
  const auto n = static_cast<std::int32_t>(source_.FilterPhysicalCount());
  if (live_->NumOfBits() != n || combined_->NumOfBits() != n) {
    UpdateAllFilters();
    return;
  }
  std::size_t position = 0;
  while (filters_[position].get() != filter) ++position;
  updating_ = true;
  try {
    Repeat([&] {
      filter->bitmap_->SetNumOfBits(n);
      UpdateOne(*filter, position);
    });
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TFilterSet::RebuildFilterBitmap() {
  if (updating_ || suspended_ || !in_force_) return;
  live_->GetTotalBitsSet();
  combined_->Assign(*live_);
  combined_->SetNumOfBits(live_->NumOfBits());
  if (range_) combined_->AndBits(*range_bits_);
  for (auto& f : filters_)
    if (f->active_) combined_->AndBits(*f->bitmap_);
  count_ = combined_->NumOfBits() == 0 ? 0 : static_cast<std::uint32_t>(combined_->GetTotalBitsSet());
}

void TFilterSet::RefreshRangeAndFilters() {
  UpdateAllFilters();
  RebuildFilterBitmap();
}

void TFilterSet::UpdateRecordInBitmap(std::uint32_t n, const std::uint8_t* record) {
  if (!in_force_ || suspended_ || n == 0) return;
  const auto bit = static_cast<std::int32_t>(n);
  if (bit > combined_->NumOfBits()) {
    for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->SetNumOfBits(bit);
    for (auto& f : filters_) f->bitmap_->SetNumOfBits(bit);
  }
  const bool was = combined_->IsBitSet(bit);
  bool visible = true;
  if (range_) {
    TIndexFile* file = source_.FilterIndexFile();
    bool in_range = true;
    if (file) {
      const TIndexDefinition& index = file->GetIndexDefinition(range_->Slot);
      std::vector<std::uint8_t> key(index.KeySize);
      const TLocalePair locale = source_.FilterLocale();
      BuildIndexKey(index, source_.FilterFields(), locale.Language, locale.Sort, record, key.data());
      const TKeyComparator& compare = source_.FilterComparator(range_->Slot);
      in_range = (range_->LowLength == 0 || compare.CompareKeys(range_->Low.data(), key.data(), range_->LowLength) <= 0) &&
                 (range_->HighLength == 0 || compare.CompareKeys(key.data(), range_->High.data(), range_->HighLength) <= 0);
    }
    if (in_range) range_bits_->SetBit(bit);
    else range_bits_->ClearBit(bit);
    visible = in_range;
  }
  live_->SetBit(bit);
  for (auto& f : filters_) {
    if (!f->active_) continue;
    const bool pass = EvaluateFilterForRecord(*f, record, n);
    if (pass) f->bitmap_->SetBit(bit);
    else f->bitmap_->ClearBit(bit);
    visible = visible && pass;
  }
  if (visible) combined_->SetBit(bit);
  else combined_->ClearBit(bit);
  if (visible && !was) ++count_;
  if (!visible && was) --count_;
}

void TFilterSet::DeleteRecordInBitmap(std::uint32_t n) {
  if (!in_force_ || suspended_ || n == 0 || n > static_cast<std::uint32_t>(combined_->NumOfBits())) return;
  const auto bit = static_cast<std::int32_t>(n);
  // Only a record that was counted lowers the count.
  if (combined_->IsBitSet(bit)) --count_;
  for (TRecordsBitmap* bits : {combined_, range_bits_, live_}) bits->ClearBit(bit);
  for (auto& f : filters_) f->bitmap_->ClearBit(bit);
}

bool TFilterSet::Visible(std::uint32_t n) const {
  if (!in_force_) return true;
  return n >= 1 && n <= static_cast<std::uint32_t>(combined_->NumOfBits()) &&
         combined_->IsBitSet(static_cast<std::int32_t>(n));
}

}  // namespace korvex
