// Expression trees: the node TExpToken, the process-wide node pool and the
// tree utilities.
//
// Every filter expression of the engine and every expression of an SQL
// statement is a tree of TExpToken nodes. The parser builds it, the checker
// types it, filter preparation makes a prepared copy, and the evaluator
// turns it into a value node per record. Nodes cycle between trees and the
// pool's spare list, so that building and freeing trees does not go to the
// heap each time; a node is destroyed only by FreeAllExpTokens.
//
// Operand layout. Unary operators, aggregates, UPPER, LOWER, CAST, EXTRACT
// and ABS hold their argument in Left; binary operators hold Left and Right.
// Further arguments are chained through the Right link of the argument
// before them:
//   BETWEEN   Left tested, Right low bound, low->Right high bound
//   IN        Left tested, Right first value (or the sub-select), each
//             value's Right the next one
//   SUBSTRING Left string, Right start, start->Right optional length
//   REPLACE   Left searched text, Right text to find, find->Right replacement
//   POS, OCCURS  Left searched text, Right text to find
//   TRIM      Left string, Right the trim character
//   ROUND     Left value, Right optional decimals
//   IF        Left condition, Right THEN value, Third ELSE value
//   CAST      Left value, Right first type argument, its Right the second
// A chained argument therefore must have a free Right link (a constant or a
// unary node over one); the parser refuses anything else.
//
// A value node (every evaluation result) holds its value in the value
// buffer in the record format of its data type (fieldtypes.h); IsNull marks
// NULL, in which case the buffer is zero-filled.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "tables/lib/allocator.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

class TSubSelectQuery;
class TSourceTable;  // the SQL layer's source table a column is bound to

enum TExpNodeClass : std::uint8_t {
  enNULL = 0,
  enUNARY = 1,
  enBINARY = 2,
  enCOMPARE = 3,  // string comparison of a prepared filter
  enFIELD = 4,
  enCONST = 5,
  enTUPLE = 6,    // sub-select
  enCONTINUE = 7,
  enUDF = 8,
  enLIST = 9,
  enFUNC = 10,
  enLISTELEM = 11,
  enEXTBINARY = 12,  // LIKE, BETWEEN, IN and their NOT forms
};

enum TExpOperator : std::uint8_t {
  eoNOTDEFINED = 0,
  eoISBLANK, eoNOTBLANK, eoEQ, eoNE, eoGT, eoLT, eoGE, eoLE, eoNOT,
  eoAND = 10,
  eoOR, eoTUPLE, eoFIELD, eoCONST, eoMINUS, eoPLUS, eoADD, eoSUB, eoMUL,
  eoDIV = 20,
  eoMOD, eoREM, eoSUM, eoCOUNT, eoMIN, eoMAX, eoAVG, eoCONT, eoUDF,
  eoCONTINUE = 30,
  eoLIKE, eoIN, eoSUBIN, eoLIST, eoUPPER, eoLOWER, eoFUNC, eoLISTELEM, eoASSIGN,
  eoBETWEEN = 40,
  eoNOTBETWEEN, eoNOTLIKE, eoNOTIN, eoNOTSUBIN, eoSUBSTRING, eoREPLACE, eoPOS, eoOCCURS,
  eoTRIMLEADING,
  eoTRIMTRAILING = 50,
  eoTRIMBOTH, eoCAST, eoEXTRACTYEAR, eoEXTRACTMONTH, eoEXTRACTDAY, eoEXTRACTDAYOFWEEK,
  eoEXTRACTHOUR, eoEXTRACTMINUTE, eoEXTRACTSECOND,
  eoIF = 60,
  eoABS, eoROUND,
};

enum TJoinType : std::uint8_t {
  jtNone = 0,
  jtInner = 1,
  jtLeftOuter = 2,
  jtRightOuter = 3,
  jtFullOuter = 4,
};

// Value buffers grow in steps of this many bytes; a fresh node holds 251
// usable bytes in a 255-byte buffer.
inline constexpr std::int32_t kValueBufferStep = 255;
inline constexpr std::int32_t kInitialValueSize = 251;

// Names and contexts are short strings.
inline constexpr std::size_t kMaxShortString = 255;
inline std::string ShortString(std::string_view s) {
  return std::string(s.substr(0, kMaxShortString));
}

class TExpToken : public TCountedObject {
public:
  TExpToken();
  ~TExpToken() override;
  TExpToken(const TExpToken&) = delete;
  TExpToken& operator=(const TExpToken&) = delete;

  // Grows the value buffer to hold `size` bytes (a multiple of 255; never
  // shrinks); a size below 1 releases it.
  void ResizeValueBuffer(std::int32_t size);
  // Grows the buffer when it cannot hold `size` bytes and sets DataSize.
  void SetDataSize(std::int32_t size);
  // Resets every field for reuse; the buffer is zero-filled (or replaced by
  // a fresh 255-byte one when it had grown).
  void Initialize();
  // Copies every field and the whole value buffer; the links are copied as
  // pointers (the operands are shared, not copied).
  void Copy(const TExpToken& source);
  // Class, operator, names (ignoring case), parameter mark, comparison
  // options, type, sub type, size and scale; for a constant also the null
  // mark and the first DataSize bytes of the value. Operands are not
  // compared.
  bool Compare(const TExpToken& other) const;

  // ---- the value ---------------------------------------------------------
  template <typename T>
  T Value() const {
    T value;
    std::memcpy(&value, ValueBuffer, sizeof value);
    return value;
  }
  template <typename T>
  void SetValue(T value) {
    std::memcpy(ValueBuffer, &value, sizeof value);
  }
  const char* StringValue() const { return reinterpret_cast<const char*>(ValueBuffer); }
  char* StringBuffer() { return reinterpret_cast<char*>(ValueBuffer); }
  // The first 16 bits: a boolean's truth (any non-zero word is true).
  std::uint16_t ValueWord() const { return Value<std::uint16_t>(); }
  // Stores a zero-terminated copy of `text` and sets DataSize to its length
  // + 1 (the buffer grows as needed).
  void SetStringValue(std::string_view text);
  // A BLOB's content as the value: the bytes with a zero after them,
  // DataSize their count; no bytes give NULL.
  void SetBytesValue(const void* data, std::size_t size);
  // The text of a string value, bounded by the buffer; empty for NULL.
  std::string_view TextValue() const;
  // The value of a smallint, word, boolean or integer.
  std::int64_t IntegralValue() const;
  // A boolean result (true stored as 1), not NULL.
  void SetBooleanValue(bool value) {
    IsNull = false;
    SetValue<std::uint16_t>(value ? 1 : 0);
  }
  // A NULL result with a zero-filled buffer.
  void SetNullValue() {
    IsNull = true;
    ClearValue();
  }
  // Zero-fills the whole value buffer.
  void ClearValue();

  // ---- fields ------------------------------------------------------------
  std::int32_t ValueCapacity = 0;  // bytes allocated for the value buffer
  std::string Text;                // operator symbol, keyword, literal or column text
  std::uint8_t NodeClass = enNULL;    // TExpNodeClass
  std::uint8_t Operator = eoNOTDEFINED;  // TExpOperator
  std::uint8_t OptimizeLevel = 0;  // the SQL planner's index optimisation mark
  std::uint8_t JoinType = jtNone;  // TJoinType of a join comparison
  bool JoinCondition = false;      // the node belongs to an ON condition
  std::string ColumnName;          // "*" for all columns
  std::uint16_t FieldNumber = 0;   // set by the column lookup
  std::string TableName;           // table or correlation name of a qualified column
  TSourceTable* SourceTable = nullptr;  // the SQL layer's binding of a column
  TSubSelectQuery* SubQuery = nullptr;  // query of a sub-select node (not owned)
  std::uint8_t* ValueBuffer = nullptr;
  bool IsNull = false;
  bool IsParameter = false;
  std::int32_t CompareLength = 0;  // enCOMPARE: 0 whole strings, n the first n characters
  bool CompareIgnoreCase = false;  // enCOMPARE
  std::uint8_t DataType = dtUnknown;  // TFieldDataType
  std::uint8_t SubType = fstNone;     // TFieldSubType
  std::int32_t DataSize = 0;
  std::uint8_t Scale = 0;             // decimals of a BCD value
  bool ColumnFromConstant = false;    // the checker made this column out of a string constant
  std::uint8_t SavedDataType = 0;     // the constant's own typing while it is tried as a column
  std::uint8_t SavedSubType = 0;
  std::int32_t SavedDataSize = 0;
  std::uint8_t SavedScale = 0;
  TExpToken* Parent = nullptr;  // set by the checker
  TExpToken* Left = nullptr;
  TExpToken* Right = nullptr;
  TExpToken* Third = nullptr;
};

// ---- the node pool -----------------------------------------------------------

// A cleared node from the pool (a new one when no spare is left).
TExpToken* GetNewExpTokenInstance();
// Gives one node back (its operands stay where they are) and clears the
// variable; nothing for nullptr.
void ReturnExpTokenInstance(TExpToken*& node);
// Destroys every spare node.
void FreeAllExpTokens();
void LockExpTokenStack();
void UnlockExpTokenStack();
// Nodes that exist and are not spares: those held by trees and values.
// Tests and the fuzzer use it to find nodes that were never given back.
std::int64_t ExpTokensInUse();
std::int32_t SpareExpTokenCount();

// ---- scratch nodes -----------------------------------------------------------

// A node for a value that an evaluation makes and drops on its way (an
// operand's value), from a stack of this thread's own: taken and given back
// last in, first out, and kept for the next evaluation instead of going back
// to the pool, so that evaluating a tree record after record takes no lock
// and no memory for its operands. Scratch nodes belong to no tree and are
// not counted as nodes in use. A node taken is ready for TExpToken::Copy
// (its value buffer at the first size); any other field may hold what its
// last use left: Initialize it to start from a cleared node.
class TScratchExpToken {
public:
  TScratchExpToken();
  ~TScratchExpToken();
  TScratchExpToken(const TScratchExpToken&) = delete;
  TScratchExpToken& operator=(const TScratchExpToken&) = delete;

  TExpToken* get() const { return node_; }
  TExpToken* operator->() const { return node_; }
  TExpToken& operator*() const { return *node_; }

private:
  TExpToken* node_;
};
// Scratch nodes this thread holds (taken or kept for later).
std::size_t ScratchExpTokenCount();

// ---- tree utilities ----------------------------------------------------------

// Frees a whole tree (Left, Right and Third sub-trees, depth first, then the
// node) and clears the variable. Sub-select queries are not freed: their
// statement owns them.
void FreeExpressionTokens(TExpToken*& tree);

// A deep copy: every node copied, Left, Right and Third replaced by copies,
// and every Parent link pointing to the copied parent (nullptr at the top).
TExpToken* CopyExpressionTokens(const TExpToken* tree);

// Equal shapes and equal nodes (TExpToken::Compare); two nullptrs are equal.
bool CompareExpressionTokens(const TExpToken* a, const TExpToken* b);

// Sets the Parent link of every node below `tree` to the node that holds it
// (a chained argument's parent is the node it hangs from).
void LinkParents(TExpToken* tree, TExpToken* parent = nullptr);

// Number of nodes on the longest Left/Right/Third path (0 for nullptr).
std::size_t ExpressionDepth(const TExpToken* tree);

// A readable text of a tree for messages, from the nodes' own texts:
// "Qty * (Price + 1)", "-Qty", "UPPER(Name)"; a function's further
// arguments show as "...". At most about 200 characters ("..." at the end
// when cut).
std::string ExpressionText(const TExpToken* tree);

// Owns a tree and frees it unless it was released, so that no node is lost
// when an error leaves a parse, a check or an evaluation half-way.
class ExpTokenGuard {
public:
  explicit ExpTokenGuard(TExpToken* tree = nullptr) : tree_(tree) {}
  ~ExpTokenGuard() { FreeExpressionTokens(tree_); }
  ExpTokenGuard(const ExpTokenGuard&) = delete;
  ExpTokenGuard& operator=(const ExpTokenGuard&) = delete;
  ExpTokenGuard(ExpTokenGuard&& other) noexcept : tree_(other.Release()) {}
  ExpTokenGuard& operator=(ExpTokenGuard&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  TExpToken* get() const { return tree_; }
  TExpToken* operator->() const { return tree_; }
  TExpToken& operator*() const { return *tree_; }
  explicit operator bool() const { return tree_ != nullptr; }
  TExpToken* Release() {
    TExpToken* tree = tree_;
    tree_ = nullptr;
    return tree;
  }
  void Reset(TExpToken* tree = nullptr) {
    FreeExpressionTokens(tree_);
    tree_ = tree;
  }

private:
  TExpToken* tree_;
};

// ---- searches ----------------------------------------------------------------

// The top connective is an OR (a NOT inverts its operand's answer).
bool ContainsOrs(const TExpToken* node);
// The condition stands, through binary nodes only, under a NOT.
bool ContainsNots(const TExpToken* node);
// A column anywhere in the operands (IF: all three; other functions and
// predicates: their first operand).
bool ContainsFields(const TExpToken* node);
// An aggregate anywhere in the operands, searched as ContainsFields does.
bool ContainsAggregates(const TExpToken* node);
// The first column in ContainsFields' order, or nullptr.
TExpToken* GetFieldToken(TExpToken* node);
// "SUM", "COUNT", "MIN", "MAX", "AVG" in any case; else eoNOTDEFINED.
std::uint8_t GetOperatorForAggregate(std::string_view name);
// UPPER applied directly to a column.
bool IsUpperField(const TExpToken* node);

}  // namespace korvex
