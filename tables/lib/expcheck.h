// Checking and typing of expression trees.
//
// Before any record is evaluated the checker walks a parsed tree once: it
// resolves columns through the caller's lookup, gives every node its final
// data type, sub type, data size and scale, converts string constants that
// stand beside date, time or timestamp operands, checks the operands of
// every operator and function, and turns boolean columns, CASTs and IFs that
// stand alone as conditions into comparisons with TRUE. The type rules are
// small pure routines that the evaluator and the SQL layer use as well.
//
// Every failure raises the caller's engine error number with the caller's
// error context and a message ending in " in " and the expression name
// (filters: 10051, "filter expression"). Callers hold the language-settings
// lock across the check: date and time constants are read in its formats.
#pragma once

#include <cstdint>
#include <string_view>

#include "tables/engine/errors/errors.h"
#include "tables/lib/exptoken.h"

namespace korvex {

// Finds the column named by node->ColumnName (and node->TableName) and fills
// the node's data type, sub type, data size, scale and field number; false
// when there is no such column.
using TFieldLookup = bool (*)(void* user_data, TExpToken* node);

void VerifyExpressionToken(TEngineErrorCode error_number, std::string_view error_context,
                           std::string_view expression_name, TExpToken* node, TExpToken* parent,
                           void* user_data, TFieldLookup lookup, bool convert_booleans);

// Checks the type arguments the parser hung from a data type node (a CAST or
// a column definition) and sets its data size, scale and BLOB sub type.
void VerifyDataTypeToken(TEngineErrorCode error_number, std::string_view error_context,
                         std::string_view expression_name, TExpToken* node);

// Type rules. Operators are taken modulo 128.
bool CheckUnaryTypes(std::uint8_t op, std::uint8_t type);
std::uint8_t GetUnaryResultDataType(std::uint8_t op, std::uint8_t type);
std::uint8_t GetUnaryResultSubType(std::uint8_t op, std::uint8_t type, std::uint8_t sub_type);
bool CheckBinaryTypes(std::uint8_t op, std::uint8_t left_type, std::uint8_t left_sub_type,
                      std::uint8_t right_type, std::uint8_t right_sub_type);
std::uint8_t GetBinaryResultDataType(std::uint8_t op, std::uint8_t left_type, std::uint8_t right_type);
std::uint8_t GetBinaryResultSubType(std::uint8_t op, std::uint8_t left_type, std::uint8_t left_sub_type,
                                    std::uint8_t right_type, std::uint8_t right_sub_type);
bool CheckCastTypes(std::uint8_t target_type, std::uint8_t source_type);

// Whether a text can be stored in a column of the type (in the formats of
// the language settings in force). Texts of strings and bytes, and the empty
// text, always can; a timestamp also takes "NOW", "DATE" and "TIME", a time
// "TIME" and a date "DATE".
bool VerifyExpression(std::string_view text, std::uint16_t data_type);

// 0 stays 0; every other truth value becomes 1.
inline std::uint16_t VerifyWordBool(std::uint16_t value) { return value == 0 ? 0 : 1; }

// The kind word of an operand in mismatch messages: "column", "constant",
// "function" or "expression".
const char* OperandKind(const TExpToken* node);

// Turns the node, in place, into "copy-of-node = TRUE".
void TransformBooleanExpression(TExpToken* node);

}  // namespace korvex
