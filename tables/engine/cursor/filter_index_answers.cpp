// TFilterSet: filters answered from index key ranges, their optimise levels, and the evaluation of a node.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "tables/engine/cursor/filter_nodes.h"
#include "tables/engine/cursor/filters.h"
#include "tables/engine/files/index_tree.h"
#include "tables/lib/collation.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {
namespace {

// Index keys walked for the price of one record read and test.
constexpr std::uint64_t kKeysPerRecordRead = 16;
// A key range of at most one key per this many bitmap words is collected
// as a list rather than as a bitmap.
constexpr std::uint64_t kWordsPerKey = 4;

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

}  // namespace

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

}  // namespace korvex
