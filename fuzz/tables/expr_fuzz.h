// The body of the expression fuzz target, shared with the normal test build
// (tests/tables/lib/expr_fuzz_test.cpp replays a corpus through it).
//
// Input: the first byte chooses the parse permissions and the filter
// options, the rest is the expression text. Every text is parsed as a
// filter; a tree is copied, checked against a table with a column of every
// type, evaluated over a few records, prepared as a filter and evaluated
// again, and its null comparisons are stripped from a copy. Engine errors
// are expected answers. It aborts when a node is not given back to the pool
// or when the prepared filter answers differently from the tree it was made
// from (with options that keep the meaning).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/runtime/sysutils.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/lib/expcheck.h"
#include "tables/lib/expeval.h"
#include "tables/lib/expfilter.h"
#include "tables/lib/expparser.h"
#include "tables/lib/exptoken.h"
#include "tables/lib/language_settings.h"

namespace korvex::fuzz {

struct FuzzColumn {
  const char* name;
  std::uint8_t type;
  std::int32_t size;
  std::uint8_t scale;
  std::uint8_t sub_type;
};

inline constexpr FuzzColumn kFuzzColumns[] = {
    {"S", dtString, 21, 0, 0},  {"D", dtDate, 4, 0, 0},      {"B", dtBoolean, 2, 0, 0},
    {"SI", dtSmallInt, 2, 0, 0}, {"I", dtInteger, 4, 0, 0},  {"F", dtFloat, 8, 0, 0},
    {"BC", dtBCD, 8, 2, 0},      {"T", dtTime, 4, 0, 0},     {"TS", dtTimeStamp, 8, 0, 0},
    {"W", dtWord, 2, 0, 0},      {"M", dtBlob, 10, 0, fstMemo}, {"MO", dtFloat, 8, 0, fstMoney}};
inline constexpr int kFuzzColumnCount = sizeof kFuzzColumns / sizeof kFuzzColumns[0];

// One record: per column a null mark and the value (strings as text).
struct FuzzRecord {
  bool is_null[kFuzzColumnCount];
  std::int64_t integer[kFuzzColumnCount];
  double real[kFuzzColumnCount];
  const char* text[kFuzzColumnCount];
};

inline const FuzzRecord* FuzzRecords(int& count) {
  static const FuzzRecord records[] = {
      // Every value NULL.
      {{true, true, true, true, true, true, true, true, true, true, true, true}, {}, {}, {}},
      // Ordinary values.
      {{},
       {0, 620548, 1, -7, 42, 0, 123452, 37815000, 0, 65535, 0, 0},
       {0, 0, 0, 0, 0, 2.5, 0, 0, 620548.0 * 86400000.0 + 5000.0, 0, 0, 19.99},
       {"Smith", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "memo text",
        nullptr}},
      // Edges.
      {{},
       {0, 1, 0, -32768, -2147483647 - 1, 0, -51, 86399999, 0, 0, 0, 0},
       {0, 0, 0, 0, 0, -1e300, 0, 0, -1.0, 0, 0, 0},
       {"", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "%_*", nullptr}},
  };
  count = static_cast<int>(sizeof records / sizeof records[0]);
  return records;
}

inline bool FuzzLookup(void*, TExpToken* node) {
  for (int i = 0; i < kFuzzColumnCount; ++i) {
    if (!rtl::SameText(node->ColumnName, kFuzzColumns[i].name)) continue;
    node->FieldNumber = static_cast<std::uint16_t>(i + 1);
    node->DataType = kFuzzColumns[i].type;
    node->SubType = kFuzzColumns[i].sub_type;
    node->SetDataSize(kFuzzColumns[i].size);
    node->Scale = kFuzzColumns[i].scale;
    return true;
  }
  return false;
}

inline bool FuzzValue(void*, const void* record_buffer, TExpToken* result) {
  const auto* record = static_cast<const FuzzRecord*>(record_buffer);
  int i = result->FieldNumber - 1;
  if (i < 0 || i >= kFuzzColumnCount) {
    result->IsNull = true;
    return true;
  }
  result->IsNull = record->is_null[i];
  if (result->IsNull) return true;
  switch (kFuzzColumns[i].type) {
    case dtString: case dtBlob: result->SetStringValue(record->text[i] ? record->text[i] : ""); break;
    case dtFloat: case dtTimeStamp: result->SetValue(record->real[i]); break;
    case dtBCD: result->SetValue(record->integer[i]); break;
    case dtBoolean: case dtWord: result->SetValue(static_cast<std::uint16_t>(record->integer[i])); break;
    case dtSmallInt: result->SetValue(static_cast<std::int16_t>(record->integer[i])); break;
    default: result->SetValue(static_cast<std::int32_t>(record->integer[i])); break;
  }
  return true;
}

inline bool FuzzTruth(const TExpToken* value) { return IsTrue(value); }

inline void FuzzEvaluate(TExpToken* tree, bool case_insensitive, bool no_partial) {
  int count = 0;
  const FuzzRecord* records = FuzzRecords(count);
  ExpTokenGuard prepared(BuildNextFilterExpression(tree, nullptr, FuzzValue, {}, case_insensitive, no_partial));
  // With these options preparation must keep the meaning.
  const bool must_agree = tree->DataType == dtBoolean && !case_insensitive && no_partial;
  for (int r = 0; r < count; ++r) {
    ExpTokenGuard plain(EvaluateExpressionToken(tree, &records[r], nullptr, FuzzValue, {}));
    ExpTokenGuard fast(EvaluateExpressionToken(prepared.get(), &records[r], nullptr, FuzzValue, {}));
    if (must_agree && FuzzTruth(plain.get()) != FuzzTruth(fast.get())) std::abort();
  }
}

// Runs one input; answers 0 (libFuzzer's convention).
inline int FuzzExpressionInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const TParseOptions options = flags & 0x1F;
  const bool case_insensitive = (flags & 0x20) != 0;
  const bool no_partial = (flags & 0x40) == 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::int64_t before = ExpTokensInUse();
  {
    LanguageSettingsScope ansi(0, 0);
    try {
      TExpressionParser parser;
      parser.SetErrorNumber(11949);
      parser.SetExpressionContext("fuzz");
      ExpTokenGuard tree(parser.ParseFilter(text, options));
      if (tree) {
        TExpToken* copy = CopyExpressionTokens(tree.get());
        if (!CompareExpressionTokens(tree.get(), copy)) std::abort();
        if (!StripNullComparisons(copy)) FreeExpressionTokens(copy);
        VerifyExpressionToken(11949, "", "fuzz", tree.get(), nullptr, nullptr, FuzzLookup, true);
        FuzzEvaluate(tree.get(), case_insensitive, no_partial);
      }
    } catch (const EKORVEXEngineError&) {
      // A refused text or value: an answer, not a fault.
    }
  }
  if (ExpTokensInUse() != before) std::abort();
  return 0;
}

}  // namespace korvex::fuzz
