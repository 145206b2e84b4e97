// A readable text of a parsed statement, one line per model item, for tests
// and diagnostics. Only what differs from a fresh query is written.
//
//   query <index> <KIND>[ nested]
//   flags <names of the set clause flags>
//   source from=<n> name=<table>[ corr=<name, when not the default>][ memory]
//   result[ name=<column name>][ field=<field>][ corr=<correlation>][ calc=<sum|min|max|avg|count>]
//         [ expr=<expression text>]
//   into <name>                        (INTO; MEMORY shows as a flag)
//   where <tree>   having <tree>
//   group <item>   order <item>[ desc]  (item: corr.column, column or #number)
//   update <column>[ corr=<correlation>]   value <text>
//   column <name>[ new=<name>][ type=<t>/<sub>/<size>/<scale>][ at=<n>][ desc=<text>][ notnull]
//          [ default=<v>][ min=<v>][ max=<v>][ charcase=<n>][ add|redefine|drop]
//   index[ name=<name>][ keys=<a,b>][ unique][ desc][ nocase][ compress=<n>][ add|redefine|drop]
//   table <name>                       (target of a data definition statement)
//   setting <name>=<value>             (each given setting)
//   parameters <count>                 (the statement's, after its queries)
//   plan <step>                        (after an execution: each table read,
//                                       in the order read, then the steps
//                                       after the walk; see query_plan.h)
//
// Trees are written in prefix form: a column as [corr.]name, a constant as
// its text (strings in single quotes), "?" for a parameter, and
// (OP operand ...) for operators, predicates and functions, with the
// values of IN lists and further arguments in order and a sub-select as
// <query n>. An operator node of a join condition carries "@" and the
// join's type (inner, left, right) when it compares columns of both sides,
// else "@on".
#pragma once

#include <string>

namespace korvex {

class TDataQuery;
class TExpToken;
class TQueryStatement;

std::string DumpExpression(const TExpToken* tree, const TQueryStatement* statement);
std::string DumpQuery(const TDataQuery& query, int index);
std::string DumpStatement(const TQueryStatement& statement);

}  // namespace korvex
