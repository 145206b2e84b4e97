#include "tables/sql/query_plan.h"

#include <algorithm>

#include "tables/engine/files/index_definition.h"
#include "tables/lib/fieldtypes.h"

namespace korvex {

std::string TPlanStep::Line(std::size_t number) const {
  std::string line = std::to_string(number) + " " + correlation + " " + role + " access=";
  switch (access) {
    case TAccessPath::Scan: line += "scan"; break;
    case TAccessPath::Index: line += "index(" + std::to_string(filtered) + ")"; break;
    case TAccessPath::Filter: line += "filter(" + std::to_string(filtered) + ")"; break;
  }
  const char* kind = nullptr;
  switch (lookup.kind) {
    case TLookupKind::None: break;
    case TLookupKind::Range: kind = "range("; break;
    case TLookupKind::Hash: kind = "hash("; break;
    case TLookupKind::TextHash: kind = "text-hash("; break;
    case TLookupKind::Ordered: kind = "ordered("; break;
  }
  if (kind) {
    line += std::string(" lookup=") + kind;
    for (std::size_t i = 0; i < lookup.names.size(); ++i) line += (i ? "," : "") + lookup.names[i];
    line += ")";
  }
  if (tested) line += " tested=" + std::to_string(tested);
  return line;
}

std::vector<std::string> TQueryPlan::Lines() const {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < steps.size(); ++i) lines.push_back(steps[i].Line(i + 1));
  lines.insert(lines.end(), after.begin(), after.end());
  return lines;
}

TPlanStep PlanSourceAccess(TWhereFilters& filters, TDataCursor& cursor, const std::vector<TExpToken*>& conditions,
                           TLocalePair locale, TWhereFilters::TPass pass, const std::string& correlation,
                           const char* role) {
  filters.Build(cursor, conditions, locale, pass);
  TPlanStep step;
  step.correlation = correlation;
  step.role = role;
  step.filtered = filters.Filtered();
  if (filters.Active()) step.access = filters.IndexedOnly() ? TAccessPath::Index : TAccessPath::Filter;
  step.tested = filters.Left().size();
  return step;
}

bool IndexLookupTypes(const TExpToken* column, const TExpToken* probe) {
  const std::uint8_t type = column->DataType;
  if (type != probe->DataType || type == dtFloat || type == dtTimeStamp || type == dtBlob || IsBytesType(type))
    return false;
  if (type == dtString) return probe->DataSize <= column->DataSize;
  if (type == dtBCD) return probe->Scale == column->Scale;
  return true;
}

bool ChooseLookupIndex(TDataCursor& cursor, const std::vector<int>& fields, bool texts, TLocalePair locale,
                       std::uint8_t& position, std::vector<std::size_t>& order) {
  // An index's order of texts is its table's language: the join compares
  // under the query's.
  if (texts && (cursor.GetLanguageID() != locale.Language || cursor.GetSortID() != locale.Sort)) return false;
  std::vector<std::uint8_t> positions;
  if (!cursor.GetNoPrimaryIndex()) positions.push_back(0);
  for (int p = 1; p <= cursor.GetIndexCount(); ++p) positions.push_back(static_cast<std::uint8_t>(p));
  order.clear();
  for (std::uint8_t p : positions) {
    TIndexDefinition def;
    cursor.GetIndexDefinition(p, def);
    std::vector<std::size_t> leading;
    for (int k = 0; k < def.FieldCount; ++k) {
      std::size_t at = fields.size();
      for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i] == def.Fields[static_cast<std::size_t>(k)] &&
            std::find(leading.begin(), leading.end(), i) == leading.end())
          at = i;
      if (at == fields.size()) break;
      leading.push_back(at);
    }
    if (leading.size() > order.size()) {
      order = std::move(leading);
      position = p;
    }
  }
  return !order.empty();
}

}  // namespace korvex
