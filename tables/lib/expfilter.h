// Filter preparation: the prepared copy of a checked filter tree that the
// engine evaluates per record.
//
// BuildNextFilterExpression copies the tree and moves constant work out of
// the per-record loop: the constant side of a comparison, IN list and
// BETWEEN bounds is evaluated once and, where that is exact, converted to
// the type of the operand it is compared with; string equality against a
// constant becomes a comparison node (enCOMPARE) that honours the filter's
// case-insensitive and partial-compare options ('Sm*' compares the first
// two characters), and LIKE 'Sm%' becomes the same prefix comparison.
//
// A constant that its operand's type cannot hold exactly (Qty >= 2.5 on an
// integer column, Small < 70000 on a smallint column, a timestamp with a
// time of day against a date column) keeps its own type, so that the
// comparison keeps its meaning; the engine can use a constant as an index
// key only when its type is the column's.
#pragma once

#include <cstdint>

#include "tables/lib/expeval.h"
#include "tables/lib/exptoken.h"

namespace korvex {

// A new, prepared tree (the given one is not changed); free it with
// FreeExpressionTokens. nullptr for nullptr.
TExpToken* BuildNextFilterExpression(const TExpToken* tree, void* user_data, TFieldValue field_value,
                                     TLocalePair locale, bool case_insensitive, bool no_partial_compare);

// Evaluates a constant sub-tree once and converts the value to the
// template's type when that is exact (see above).
TExpToken* EvaluateConstant(const TExpToken* template_node, const TExpToken* constant, void* user_data,
                            TFieldValue field_value, TLocalePair locale);

// Writes the value in the template's type into `target` (8 bytes at
// least). False for a pair it does not convert (the value stays as it is).
// Rounding to integers is to the nearest, ties to even; narrowing integers
// keeps the low 16 bits (EvaluateConstant refuses what is not exact).
bool ConvertConstant(const TExpToken* value, const TExpToken* template_node, std::uint8_t* target);

// Removes comparisons with a NULL constant from the tree; an AND or OR left
// with one operand becomes that operand. True when the node itself was
// removed (it went back to the pool): the caller drops its link to it.
bool StripNullComparisons(TExpToken* node);

}  // namespace korvex
