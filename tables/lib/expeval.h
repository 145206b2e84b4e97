// Evaluation of checked expression trees.
//
// EvaluateExpressionToken walks a tree bottom-up for one record and answers
// a new value node from the pool (fieldtypes.h gives the value formats);
// the caller gives it back with ReturnExpTokenInstance. Column values come
// from the caller's routine, strings compare and change case under the
// table's language, sub-selects are answered by the SQL layer.
//
// NULL travels as the node's IsNull flag and never raises. Comparisons are
// two-valued: anything compared with NULL is false (= and <> treat two
// NULLs as equal), NOT of NULL is true, arithmetic with NULL and division
// by zero give NULL, a NULL string concatenates as the empty string, and
// string functions whose result is empty give NULL.
//
// Arithmetic never wraps and never turns a value it cannot hold into NULL:
// an integer, date or time answer outside 32 bits (a word's outside 0 to
// 65,535, a smallint's outside 16 bits) and a BCD answer beyond the stored
// form raise 11949 "Arithmetic overflow in expression '<text>'". BCD
// arithmetic is exact in units of 1/10,000 at any size the stored form
// holds, so it is not limited to the Currency range.
//
// Every intermediate value goes back to the pool, also when an error
// leaves half-way. A column evaluated without a value routine raises 11949
// "Internal error: Column '...' specified illegally".
#pragma once

#include <cstdint>

#include "tables/lib/exptoken.h"

namespace korvex {

// A table's language: the Windows language ID and the sort ID, kept
// together so that they cannot be passed in the wrong order.
struct TLocalePair {
  std::uint16_t Language = 0;
  std::uint16_t Sort = 0;
  friend bool operator==(TLocalePair, TLocalePair) = default;
};

// Fills result's value (growing it with SetDataSize for long strings) and
// IsNull for the column described by result (a copy of the column node:
// FieldNumber, DataType, DataSize ...). Its answer is not looked at.
using TFieldValue = bool (*)(void* user_data, const void* record_buffer, TExpToken* result);

TExpToken* EvaluateExpressionToken(const TExpToken* node, const void* record_buffer, void* user_data,
                                   TFieldValue field_value, TLocalePair locale);

// One unary operator over an evaluated operand, written into result. An
// overflow names `expression` (the unary node) when given, else the
// operator and the operand's text.
void EvaluateUnary(std::uint8_t op, TExpToken* result, const TExpToken* operand,
                   const TExpToken* expression = nullptr);

// The string comparison of a prepared comparison node: eoEQ or eoNE over the
// first `compare_length` characters (0: the whole strings), optionally
// ignoring case. Other operators leave the result alone.
void EvaluateCompare(std::uint8_t op, std::uint16_t compare_length, bool ignore_case, const TExpToken* left,
                     const TExpToken* right, TExpToken* result, TLocalePair locale);

// One binary operator (comparisons, AND, OR, + - * /) over two evaluated
// operands, written into result, whose data type, size and scale are set.
// Other operators leave the result alone. An overflow names `expression`
// (the binary node) when given, else the operands' and operator's texts.
void EvaluateBinary(std::uint8_t op, const TExpToken* left, const TExpToken* right, TExpToken* result,
                    TLocalePair locale, const TExpToken* expression = nullptr);

// Raises 11949 "Arithmetic overflow in expression '<text>'", the text that
// of `expression` when given, else "<left> <op> <right>" from the operands'
// own texts (right nullptr for a unary operator: "<op><left>").
[[noreturn]] void RaiseArithmeticOverflow(const TExpToken* expression, std::uint8_t op, const TExpToken* left,
                                          const TExpToken* right);

// The truth of an evaluated condition: not NULL and not 0.
inline bool IsTrue(const TExpToken* value) { return value && !value->IsNull && value->ValueWord() != 0; }

}  // namespace korvex
