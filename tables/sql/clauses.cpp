#include "tables/sql/clauses.h"

namespace korvex {

TTableJoin::~TTableJoin() { FreeExpressionTokens(JoinCondition); }

TSourceTable::~TSourceTable() { SafeFree(RecordBuffer); }

TResultField::~TResultField() { FreeExpressionTokens(Expression); }

TUpdateField::~TUpdateField() { FreeExpressionTokens(Expression); }

TUpdateValue::~TUpdateValue() { FreeExpressionTokens(Expression); }

TCreateField::~TCreateField() { FreeExpressionTokens(TypeNode); }

TCreateIndex::~TCreateIndex() {
  for (TExpToken*& token : KeyFieldTokens) FreeExpressionTokens(token);
}

}  // namespace korvex
