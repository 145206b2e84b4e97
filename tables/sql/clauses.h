// The clause objects of a parsed SQL query: source tables and their joins,
// result columns, INSERT/UPDATE columns and values, column and index
// definitions of the data definition statements, ORDER BY and GROUP BY
// items. Each belongs to one TDataQuery (its first field) and comes from the
// engine's counted heap. Expression trees held here are owned and given back
// to the node pool with their holder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tables/lib/allocator.h"
#include "tables/lib/exptoken.h"

namespace korvex {

class TDataQuery;
class TDataDirectory;  // the engine's directory of tables
class TDataCursor;     // the engine's handle on one open table

enum TResultCalculation : std::uint8_t { rcNone = 0, rcSum, rcMin, rcMax, rcAvg, rcCount };

enum TCharCase : std::uint8_t { ccNoChange = 0, ccLower = 1, ccUpper = 2 };

// COMPRESS NONE, DUPBYTE, TRAILBYTE, FULL (the engine's key compression codes).
enum TSqlCompression : std::uint8_t { scNone = 0, scDupByte = 1, scTrailByte = 2, scFull = 3 };

// A list of owned objects. Freed from its last item to its first unless
// made to free from the front.
template <typename T>
class TOwnedList {
public:
  explicit TOwnedList(bool free_from_front = false) : free_from_front_(free_from_front) {}
  ~TOwnedList() { Clear(); }
  TOwnedList(const TOwnedList&) = delete;
  TOwnedList& operator=(const TOwnedList&) = delete;

  T* Add(T* item) {
    items_.push_back(item);
    return item;
  }
  T* Insert(std::size_t index, T* item) {
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), item);
    return item;
  }
  void Clear() {
    if (free_from_front_) {
      for (T* item : items_) delete item;
    } else {
      for (auto it = items_.rbegin(); it != items_.rend(); ++it) delete *it;
    }
    items_.clear();
  }
  // Frees the items beyond the first `count`, the last first.
  void Truncate(std::size_t count) {
    while (items_.size() > count) {
      delete items_.back();
      items_.pop_back();
    }
  }
  std::int32_t Count() const { return static_cast<std::int32_t>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  T* operator[](std::size_t index) const { return items_[index]; }
  T* Last() const { return items_.back(); }
  typename std::vector<T*>::const_iterator begin() const { return items_.begin(); }
  typename std::vector<T*>::const_iterator end() const { return items_.end(); }

private:
  std::vector<T*> items_;
  bool free_from_front_;
};

class TSourceTable;

// A join from a source table to a target table (made by planning).
class TTableJoin : public TCountedObject {
public:
  explicit TTableJoin(TSourceTable* source) : SourceTable(source) {}
  ~TTableJoin() override;

  TSourceTable* SourceTable;
  std::uint8_t JoinType = jtNone;  // TJoinType
  TExpToken* JoinCondition = nullptr;  // owned
  TSourceTable* TargetTable = nullptr;
  std::int32_t FilterHandle = 0;
};

class TSourceTable : public TCountedObject {
public:
  explicit TSourceTable(TDataQuery* query) : Query(query) {}
  ~TSourceTable() override;

  TDataQuery* Query;
  TDataDirectory* DataDirectory = nullptr;
  TDataCursor* Cursor = nullptr;
  bool InMemory = false;             // MEMORY was written before the name
  std::uint16_t FromOrder = 0;       // 1, 2, ... in the order the statement names tables
  std::uint16_t JoinOrder = 0;       // 1 = the driving table
  std::string DirectoryName;         // "Memory" for an in-memory table
  std::string TableName;             // as written
  std::string CorrelationName;       // by default the name without path and extension
  // The ON condition of the LEFT or RIGHT join whose inner (null-extended)
  // table this is: a part of the query's WHERE tree, not owned. The inner
  // side of a RIGHT JOIN is every table named before it: this one and the
  // next OuterJoinSpan - 1 in the source list.
  TExpToken* OuterJoinCondition = nullptr;
  std::uint16_t OuterJoinSpan = 1;
  std::int32_t RecordBufferSize = 0;
  std::uint8_t* RecordBuffer = nullptr;
  TOwnedList<TTableJoin> Joins;
};

class TResultField : public TCountedObject {
public:
  explicit TResultField(TDataQuery* query) : Query(query) {}
  ~TResultField() override;

  TDataQuery* Query;
  std::string FieldName;              // the source column ("*" for all)
  std::string SourceCorrelationName;
  std::string ColumnName;             // the result column's name
  bool DefaultName = true;            // no AS and no bare name was given
  std::uint16_t ResultFieldNumber = 0;
  TSourceTable* SourceTable = nullptr;
  std::uint16_t SourceFieldNumber = 0;
  bool IsExpression = false;
  std::uint8_t DataType = 0;
  std::uint8_t SubType = 0;
  std::int32_t Size = 0;
  std::uint8_t Scale = 0;
  std::uint8_t Calculation = rcNone;  // TResultCalculation
  std::string ExpressionText;
  // The column's tree; for an aggregate the tree of its argument.
  TExpToken* Expression = nullptr;
};

class TUpdateField : public TCountedObject {
public:
  explicit TUpdateField(TDataQuery* query) : Query(query) {}
  ~TUpdateField() override;

  TDataQuery* Query;
  std::string ColumnName;  // "*" when an INSERT names no columns
  std::string CorrelationName;
  TExpToken* Expression = nullptr;
};

class TUpdateValue : public TCountedObject {
public:
  explicit TUpdateValue(TDataQuery* query) : Query(query) {}
  ~TUpdateValue() override;

  TDataQuery* Query;
  std::string ValueText;
  TExpToken* Expression = nullptr;
};

class TCreateField : public TCountedObject {
public:
  explicit TCreateField(TDataQuery* query) : Query(query) {}
  ~TCreateField() override;

  TDataQuery* Query;
  std::string FieldName;
  std::string NewName;          // REDEFINE a b ...: the column's new name
  std::uint16_t FieldNumber = 0;
  std::uint8_t DataType = 0;    // 0 when no type was written
  std::uint8_t SubType = 0;
  std::int32_t Size = 0;
  std::uint8_t Scale = 0;
  TExpToken* TypeNode = nullptr;  // the name node carrying the type and its arguments
  std::string Description;
  bool Required = false;
  std::uint8_t CharCase = ccNoChange;  // TCharCase
  std::string MinValue;
  std::string MaxValue;
  std::string DefaultValue;
  bool Add = false;
  bool Redefine = false;
  bool Drop = false;
  bool DescriptionGiven = false;
  bool RequiredGiven = false;
  bool DefaultGiven = false;
  bool MinGiven = false;
  bool MaxGiven = false;
  bool CharCaseGiven = false;
  bool PositionGiven = false;
  std::int32_t Position = 0;  // AT
};

class TCreateIndex : public TCountedObject {
public:
  explicit TCreateIndex(TDataQuery* query) : Query(query) {}
  ~TCreateIndex() override;

  TDataQuery* Query;
  std::string IndexName;  // empty for a primary key
  std::vector<std::string> KeyFieldNames;
  std::vector<TExpToken*> KeyFieldTokens;  // owned
  bool Descending = false;
  bool Unique = false;
  bool CaseInsensitive = false;
  std::uint8_t Compression = scNone;  // TSqlCompression
  bool Add = false;
  bool Redefine = false;
  bool Drop = false;
};

class TOrderByField : public TCountedObject {
public:
  explicit TOrderByField(TDataQuery* query) : Query(query) {}

  TDataQuery* Query;
  std::string CorrelationName;
  std::string ColumnName;
  std::uint16_t ColumnNumber = 0;  // 0 = by name
  bool Descending = false;
};

class TGroupByField : public TCountedObject {
public:
  explicit TGroupByField(TDataQuery* query) : Query(query) {}

  TDataQuery* Query;
  std::string CorrelationName;
  std::string ColumnName;
  std::uint16_t ColumnNumber = 0;
};

}  // namespace korvex
