// Walking the plan: reads each source once, looks joined rows up, emits
// combinations or folds them into groups, then sorts and cuts the result.
#include "tables/engine/maintenance/record_sort.h"
#include "tables/sql/select_executor.h"

#include "tables/sql/select_executor_parts.h"

namespace korvex {

using namespace select_parts;

bool TSelectExecutor::CanStream() const {
  if (live_ || aggregates_ || query_.Distinct || query_.HasGroupBy || !order_outputs_.empty() ||
      !query_.ResultTableName.empty() || !result_)
    return false;
  return std::none_of(outputs_.begin(), outputs_.end(), [](const Output& out) { return out.def.DataType == dtBlob; });
}

void TSelectExecutor::Stream(const RowSink& row) {
  if (!CanStream()) Fail("Internal error: the query's rows cannot be streamed");
  sink_ = &row;
  streamed_ = 0;
  ScopeExit done{[&] { sink_ = nullptr; }};
  Execute();
  query_.RowsAffected = static_cast<std::int32_t>(streamed_);
}

bool TSelectExecutor::ReadsTable(const std::string& file_key) const {
  return std::any_of(sources_.begin(), sources_.end(), [&](const auto& s) {
    return s->cursor && s->cursor->Table() && s->cursor->Table()->FileKey() == file_key;
  });
}

TDataCursor* TSelectExecutor::Execute() {
  if (live_)
    if (TDataCursor* answer = ExecuteLive()) return answer;
  FreeSubSelectValues();
  rows_read_ = 0;
  progress_rows_ = 0;
  groups_.clear();
  group_index_.clear();
  pending_rows_.clear();
  pending_count_ = 0;
  result_->EmptyTable();
  // Conditions that read no table hold or fail for the whole execution.
  bool empty = false;
  for (TExpToken* c : constant_conditions_)
    if (!EvaluateCondition(c)) empty = true;
  // WITH LOCKS: no source changes from before the first read until the
  // result is complete.
  std::size_t locked = 0;
  ScopeExit unlock{[&] {
    for (std::size_t i = 0; i < locked; ++i) {
      try {
        sources_[i]->cursor->UserReadUnlockTable();
      } catch (...) {
      }
    }
  }};
  if (query_.WithLocks)
    for (; locked < sources_.size(); ++locked) sources_[locked]->cursor->UserReadLockTable();
  aborted_ = false;
  for (TExpToken* c : parameter_conditions_) {
    BindTree(c, kWhereContext, true);
    if (c->DataType != dtBoolean) Fail("WHERE or JOIN clause must be a boolean expression");
  }
  plan_.Clear();
  query_.Plan = plan_;
  if (!empty) FilterSources(CountsOnly());
  if (!empty && CountsOnly() && sources_[0]->scan.empty()) {
    // COUNT(*) alone over one table: the record count of its filtered
    // cursor, no record read.
    const std::uint32_t count = sources_[0]->cursor->GetRecordCount();
    auto g = std::make_unique<Group>();
    g->record.assign(result_record_.size(), 0);
    result_->ClearRecord(g->record.data());
    g->accs.resize(outputs_.size());
    g->accs[0].count = count;
    groups_.push_back(std::move(g));
    TPlanStep step = sources_[0]->step;
    step.role = "count";
    plan_.steps.push_back(step);
    query_.Plan = plan_;
    ReportProgress(count, count);
  } else if (!empty) {
    OrderSources();
    PlaceConditions();
    ChooseLookups();
    DescribePlan();
    ReadSources();
    if (!sources_.empty()) {
      Walk(0);
      AppendPendingRows();
      // The last call says 100 percent.
      const std::uint32_t driving = sources_[0]->row_count;
      if (!aborted_ && driving != progress_rows_) ReportProgress(driving, driving);
    }
  }
  if (aggregates_) FinishGroups();
  SortResult();
  CutResult();
  result_->SetToBegin();
  query_.RowsAffected = static_cast<std::int32_t>(result_->GetRecordCount());
  return result_.get();
}

// Reads every source once under its read lock, keeping the rows that pass
// its own conditions, and makes each join step's lookup of them. A range
// lookup's target is read by the walk instead, through the step's index
// (no lock kept between its reads: only WITH LOCKS keeps writers out).
void TSelectExecutor::ReadSources() {
  for (std::size_t level = 0; level < sources_.size(); ++level) {
    Source* source = sources_[level].get();
    const TPlanLookup& lookup = plan_.steps[level].lookup;
    TDataCursor& cursor = *source->cursor;
    source->rows.clear();
    source->row_count = 0;
    source->hash.Clear();
    source->blank_rows.clear();
    if (lookup.kind == TLookupKind::Range) {
      cursor.SetIndexPos(lookup.index);
      source->key.assign(source->record_size, 0);
      source->record.assign(source->record_size, 0);
      source->range_key.assign(kMaxKeySize, 0);
      TIndexDefinition def;
      cursor.GetIndexDefinition(lookup.index, def);
      source->range_length = 0;
      for (std::size_t k = 0; k < lookup.columns.size(); ++k)
        source->range_length += cursor.GetFieldDefinitionByPos(def.Fields[k]).PhysicalSize + 1;
      continue;
    }
    if (cursor.GetIndexPos() != source->home_index) cursor.SetIndexPos(source->home_index);
    // One read under the table's read lock: no writer comes between the
    // records, so the change detection runs once rather than per record.
    cursor.CheckForChangeDetection();
    // Each record is read once: past the record cache, through the file's
    // scan window.
    const bool past_cache = cursor.GetWalkPastCache();
    ScopeExit end_read{[&] {
      cursor.SetWalkPastCache(past_cache);
      cursor.ReadUnlockTable();
    }};
    cursor.ReadLockTable();
    cursor.SetWalkPastCache(true);
    cursor.SetToBegin();
    std::vector<std::uint8_t> buffer(source->record_size);
    source->current = buffer.data();
    while (cursor.GetNextRecord(buffer.data()) == 0) {
      ++rows_read_;
      bool passes = true;
      for (TExpToken* c : source->scan)
        if (!(passes = EvaluateCondition(c))) break;
      if (!passes) continue;
      source->rows.insert(source->rows.end(), buffer.begin(), buffer.end());
      ++source->row_count;
    }
    source->current = nullptr;
    if (lookup.kind == TLookupKind::Hash || lookup.kind == TLookupKind::TextHash) {
      const TExpToken* column = lookup.columns[0];
      std::string text;
      for (std::uint32_t r = 0; r < source->row_count; ++r) {
        source->current = source->rows.data() + std::size_t{r} * source->record_size;
        std::int64_t key;
        bool blank;
        if (lookup.kind == TLookupKind::TextHash) {
          if (ReadText(column, text)) source->hash.Add(r, text);
          else source->blank_rows.push_back(r);
          continue;
        }
        if (!ReadIntegral(column, key, blank)) {
          ExpTokenGuard value(Evaluate(column));
          blank = value->IsNull;
          if (!blank) key = HashKey(value.get());
        }
        if (blank) source->blank_rows.push_back(r);
        else source->hash.Add(r, IntegralKey(key));
      }
      source->hash.Finish();
      source->current = nullptr;
    }
    if (lookup.kind == TLookupKind::Ordered) BuildSortedLookup(*source);
  }
}

bool TSelectExecutor::StartRange(Source& source) {
  const TPlanLookup& lookup = plan_.steps[static_cast<std::size_t>(source.table->JoinOrder - 1)].lookup;
  TDataCursor& cursor = *source.cursor;
  std::uint8_t* key = source.key.data();
  cursor.ClearRecord(key);
  for (std::size_t i = 0; i < lookup.columns.size(); ++i) {
    const int field = lookup.columns[i]->FieldNumber;
    const TFieldDefinition& def = cursor.GetFieldDefinitionByPos(field);
    const TExpToken* probe = lookup.probes[i];
    std::uint8_t data[kConvertBufferSize + 1] = {};
    bool usable;
    if (probe->NodeClass == enFIELD && probe->SourceTable) {
      // A column of the same type (a text no longer than this one): its bytes.
      const Source& from = *sources_[static_cast<std::size_t>(probe->SourceTable->JoinOrder - 1)];
      usable = from.current && !from.cursor->GetField(probe->FieldNumber, from.current, data) &&
               (def.DataType != dtString || data[0] != 0);
    } else {
      ExpTokenGuard value(Evaluate(probe));
      // A text too long for the column equals none of its values.
      if (!value->IsNull && value->DataType == dtString && std::strlen(value->StringValue()) > def.PhysicalSize)
        return false;
      usable = !value->IsNull && FieldBytes(value.get(), def, data);
    }
    cursor.PutField(field, key, usable ? data : nullptr);
  }
  cursor.GetKeyValues(key, source.range_key.data());
  source.range_first = cursor.Find(true, source.range_key.data(), static_cast<int>(lookup.columns.size()), true, 0,
                                   source.record.data());
  return source.range_first;
}

bool TSelectExecutor::NextRangeRow(Source& source) {
  if (source.range_first) {
    source.range_first = false;
  } else {
    TDataCursor& cursor = *source.cursor;
    if (cursor.GetNextRecord(source.record.data()) != 0 ||
        cursor.CompareKeys(cursor.GetKeyEntryPtr(), source.range_key.data(), source.range_length) != 0)
      return false;
  }
  ++rows_read_;
  return true;
}

void TSelectExecutor::Walk(std::size_t level) {
  if (level == sources_.size()) {
    EmitCombination();
    return;
  }
  Source& s = *sources_[level];
  const TExpToken* implied = nullptr;
  auto passes = [&](const std::vector<TExpToken*>& conditions) {
    for (TExpToken* c : conditions)
      if (c != implied && !EvaluateCondition(c)) return false;
    return true;
  };
  // An outer group starting here has matched this row once a combination
  // of its tables passed its ON conditions at its last level.
  const bool starts_group = s.join_type != jtNone;
  const int group = group_start_[level];
  if (starts_group) group_matched_[level] = 0;
  const TPlanLookup& lookup = plan_.steps[level].lookup;
  auto visit = [&] {
    if (!passes(s.outer_conditions)) return;
    if (group >= 0 && group_end_[static_cast<std::size_t>(group)] == level)
      group_matched_[static_cast<std::size_t>(group)] = 1;
    if (!passes(s.conditions)) return;
    Walk(level + 1);
  };
  if (lookup.kind == TLookupKind::Range) {
    // The target's rows in the range of the probe values; its own
    // conditions that no filter holds are tested here, as a read tests them.
    implied = lookup.implied;
    if (StartRange(s))
      while (!aborted_ && NextRangeRow(s)) {
        s.current = s.record.data();
        if (passes(s.scan)) visit();
      }
  } else {
    std::span<const std::uint32_t> found_rows;
    if (lookup.kind == TLookupKind::Ordered) {
      std::vector<TExpToken*> probe;
      ScopeExit free_probe{[&] {
        for (TExpToken*& v : probe) FreeExpressionTokens(v);
      }};
      for (const TExpToken* p : lookup.probes) probe.push_back(Evaluate(p));
      found_rows = s.sorted.Find(probe);
    } else if (lookup.kind != TLookupKind::None) {
      const TExpToken* probe_node = lookup.probes[0];
      std::int64_t key;
      bool blank;
      found_rows = s.blank_rows;
      if (lookup.kind == TLookupKind::TextHash) {
        thread_local std::string text;
        blank = !ReadText(probe_node, text);
        if (!blank) found_rows = s.hash.Find(text);
      } else {
        if (!ReadIntegral(probe_node, key, blank)) {
          ExpTokenGuard probe(Evaluate(probe_node));
          blank = probe->IsNull;
          if (!blank) key = HashKey(probe.get());
        }
        if (!blank) found_rows = s.hash.Find(IntegralKey(key));
      }
      implied = lookup.implied;
    }
    const bool looked_up = lookup.kind != TLookupKind::None;
    const std::uint32_t count = looked_up ? static_cast<std::uint32_t>(found_rows.size()) : s.row_count;
    for (std::uint32_t i = 0; i < count && !aborted_; ++i) {
      const std::uint32_t r = looked_up ? found_rows[i] : i;
      s.current = s.rows.data() + std::size_t{r} * s.record_size;
      if (level == 0) ReportProgress(i + 1, count);
      visit();
    }
  }
  if (starts_group && !group_matched_[level] && !s.blank_row_fails) {
    // The blank row of every table of the group.
    implied = nullptr;
    const std::size_t end = group_end_[level];
    for (std::size_t j = level; j <= end; ++j) sources_[j]->current = nullptr;
    if (passes(sources_[end]->conditions)) Walk(end + 1);
  }
  s.current = nullptr;
}


void TSelectExecutor::ReportProgress(std::uint32_t rows, std::uint32_t of) {
  progress_rows_ = rows;
  if (!query_.ProgressCallback) return;
  const auto percent = static_cast<std::uint16_t>(of == 0 ? 100 : std::uint64_t{rows} * 100 / of);
  bool abort = false;
  query_.DoQueryProgress(static_cast<std::int32_t>(rows), percent, abort);
  if (abort) aborted_ = true;
}

// The group of a combination's result record (made when new): the bytes
// of its plain columns; a known group takes the record's other plain
// columns.
TSelectExecutor::Group& TSelectExecutor::FindGroup(const std::uint8_t* record) {
  std::string& key = group_key_;
  key.clear();
  for (int i : group_outputs_) {
    const TFieldDefinition& def = outputs_[static_cast<std::size_t>(i)].def;
    std::uint8_t data[256] = {};
    const bool blank = result_->GetField(i + 1, record, data);
    key.push_back(blank ? '\0' : '\1');
    if (!blank) {
      if (def.DataType == dtString)
        key.append(reinterpret_cast<const char*>(data), std::strlen(reinterpret_cast<const char*>(data)) + 1);
      else
        key.append(reinterpret_cast<const char*>(data), def.PhysicalSize);
    }
  }
  Group* group;
  auto found = group_index_.find(key);
  if (found == group_index_.end()) {
    auto g = std::make_unique<Group>();
    g->record = result_record_;
    g->accs.resize(outputs_.size());
    group = g.get();
    group_index_.emplace(key, groups_.size());
    groups_.push_back(std::move(g));
  } else {
    group = groups_[found->second].get();
    for (int i : carried_outputs_) {
      std::uint8_t data[256] = {};
      const bool blank = result_->GetField(i + 1, record, data);
      result_->PutField(i + 1, group->record.data(), blank ? nullptr : data);
    }
  }
  return *group;
}

// Folds the current combination into the aggregates of its group.
void TSelectExecutor::Accumulate(Group& group) {
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const Output& out = outputs_[i];
    if (out.calculation == rcNone) continue;
    Group::Acc& acc = group.accs[i];
    if (out.count_star) {
      ++acc.count;
      continue;
    }
    if (out.integral_column) {
      std::int64_t v;
      bool blank;
      ReadIntegral(out.expression, v, blank);
      if (blank) continue;
      ++acc.count;
      switch (out.calculation) {
        case rcSum:
          acc.integral += v;
          if (acc.integral > std::numeric_limits<std::int32_t>::max() ||
              acc.integral < std::numeric_limits<std::int32_t>::min())
            Fail("Integer overflow in SUM of '" + out.field->FieldName + "'");
          break;
        case rcAvg: acc.integral += v; break;
        case rcMin: if (acc.count == 1 || v < acc.integral) acc.integral = v; break;
        case rcMax: if (acc.count == 1 || v > acc.integral) acc.integral = v; break;
        default: break;
      }
      continue;
    }
    if (out.copies_column && out.calculation == rcCount) {
      const Source& s = *sources_[static_cast<std::size_t>(out.expression->SourceTable->JoinOrder - 1)];
      if (s.current && !s.cursor->GetField(out.expression->FieldNumber, s.current, nullptr)) ++acc.count;
      continue;
    }
    ExpTokenGuard value(Evaluate(out.expression));
    if (value->IsNull) continue;
    ++acc.count;
    switch (out.calculation) {
      case rcSum:
      case rcAvg:
        if (IsIntegralType(value->DataType)) {
          acc.integral += value->IntegralValue();
          if (out.calculation == rcSum &&
              (acc.integral > std::numeric_limits<std::int32_t>::max() ||
               acc.integral < std::numeric_limits<std::int32_t>::min()))
            Fail("Integer overflow in SUM of '" + out.field->FieldName + "'");
          acc.real += static_cast<double>(value->IntegralValue());
        } else if (value->DataType == dtFloat) {
          acc.real += value->Value<double>();
        } else if (value->DataType == dtBCD) {
          if (!acc.best) {
            acc.best = GetNewExpTokenInstance();
            acc.best->Copy(*value);
          } else {
            // The sum keeps the column's type and scale.
            TExpToken* sum = GetNewExpTokenInstance();
            sum->DataType = dtBCD;
            sum->SetDataSize(8);
            sum->Scale = acc.best->Scale;
            EvaluateBinary(eoADD, acc.best, value.get(), sum, locale_);
            ReturnExpTokenInstance(acc.best);
            acc.best = sum;
          }
          // Conversions work on a whole conversion buffer.
          std::uint8_t data[kConvertBufferSize + 1] = {};
          std::memcpy(data, value->ValueBuffer, 8);
          if (ConvertExpression(dtBCD, 8, value->Scale, dtFloat, 8, 0, data)) {
            double d;
            std::memcpy(&d, data, 8);
            acc.real += d;
          }
        }
        break;
      case rcMin:
      case rcMax: {
        if (!acc.best) {
          acc.best = GetNewExpTokenInstance();
          acc.best->Copy(*value);
          acc.best->Left = acc.best->Right = acc.best->Third = nullptr;
          break;
        }
        ExpTokenGuard better(GetNewExpTokenInstance());
        EvaluateBinary(out.calculation == rcMin ? eoLT : eoGT, value.get(), acc.best, better.get(), locale_);
        if (IsTrue(better.get())) {
          acc.best->Copy(*value);
          acc.best->Left = acc.best->Right = acc.best->Third = nullptr;
        }
        break;
      }
      default: break;
    }
  }
}

void TSelectExecutor::EmitCombination() {
  if (query_.MaxNumOfRows >= 0 && !aggregates_ && !query_.Distinct && order_outputs_.empty() &&
      (sink_ ? streamed_ : result_->GetRecordCount() + pending_count_) >=
          static_cast<std::uint32_t>(query_.MaxNumOfRows)) {
    // Nothing more can be taken.
    if (sink_) aborted_ = true;
    return;
  }
  std::uint8_t* record = result_record_.data();
  result_->ClearRecord(record);
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    const Output& out = outputs_[i];
    if (out.calculation != rcNone) continue;
    if (out.copies_column) {
      CopyColumn(static_cast<int>(i + 1), record, out.expression);
      continue;
    }
    ExpTokenGuard value(Evaluate(out.expression));
    StoreValue(static_cast<int>(i + 1), record, value.get());
  }
  if (!aggregates_) {
    if (!sink_ && !batch_rows_) {
      result_->AppendRecord(record, false);
      return;
    }
    if (!sink_) {
      pending_rows_.insert(pending_rows_.end(), record, record + result_record_.size());
      // Batches of about 1 MB: few writes, little memory held.
      if (++pending_count_ * result_record_.size() >= (std::size_t{1} << 20)) AppendPendingRows();
      return;
    }
    ++streamed_;
    if (!(*sink_)(record)) aborted_ = true;
    return;
  }
  Accumulate(FindGroup(record));
}

void TSelectExecutor::AppendPendingRows() {
  const std::uint32_t count = pending_count_;
  pending_count_ = 0;
  if (count != 0) result_->AppendRecords(pending_rows_.data(), count);
  pending_rows_.clear();
}

void TSelectExecutor::FinishGroups() {
  // Without GROUP BY there is exactly one row, also over no rows.
  if (group_outputs_.empty() && groups_.empty()) {
    auto g = std::make_unique<Group>();
    g->record.assign(result_record_.size(), 0);
    result_->ClearRecord(g->record.data());
    g->accs.resize(outputs_.size());
    groups_.push_back(std::move(g));
  }
  for (auto& g : groups_) {
    std::uint8_t* record = g->record.data();
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const Output& out = outputs_[i];
      const Group::Acc& acc = g->accs[i];
      const int field = static_cast<int>(i + 1);
      switch (out.calculation) {
        case rcNone: break;
        case rcCount: {
          const std::int32_t n = static_cast<std::int32_t>(acc.count);
          result_->PutField(field, record, reinterpret_cast<const std::uint8_t*>(&n));
          break;
        }
        case rcSum:
          if (acc.count == 0) {
            result_->PutField(field, record, nullptr);
          } else if (out.def.DataType == dtInteger) {
            const std::int32_t n = static_cast<std::int32_t>(acc.integral);
            result_->PutField(field, record, reinterpret_cast<const std::uint8_t*>(&n));
          } else if (out.def.DataType == dtBCD) {
            StoreValue(field, record, acc.best);
          } else {
            result_->PutField(field, record, reinterpret_cast<const std::uint8_t*>(&acc.real));
          }
          break;
        case rcAvg:
          for (auto [output, count_field] : avg_counts_) {
            if (output != i) continue;
            const auto n = static_cast<std::int32_t>(acc.count);
            result_->PutField(count_field, record, reinterpret_cast<const std::uint8_t*>(&n));
          }
          if (acc.count == 0) {
            result_->PutField(field, record, nullptr);
          } else {
            const double total = out.integral_column ? static_cast<double>(acc.integral) : acc.real;
            const double avg = total / static_cast<double>(acc.count);
            result_->PutField(field, record, reinterpret_cast<const std::uint8_t*>(&avg));
          }
          break;
        case rcMin:
        case rcMax:
          if (out.integral_column && acc.count > 0) PutIntegral(field, record, acc.integral);
          else StoreValue(field, record, acc.count == 0 ? nullptr : acc.best);
          break;
        default: break;
      }
    }
    if (query_.HavingExpression) {
      std::memcpy(result_record_.data(), record, result_record_.size());
      if (!EvaluateCondition(query_.HavingExpression)) continue;
    }
    result_->AppendRecord(record, false);
  }
  groups_.clear();
  group_index_.clear();
}

void TSelectExecutor::SortResult() {
  if (order_outputs_.empty() && !query_.Distinct && (!query_.HasGroupBy || group_outputs_.empty())) return;
  TRecordSortRequest request;
  request.CaseInsensitive = query_.OrderByNoCase;
  if (query_.Distinct) {
    // The ORDER BY keys lead; every other column follows, so that equal rows
    // meet.
    for (auto [i, descending] : order_outputs_) request.Fields.push_back({outputs_[i].def, descending});
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      const bool ordered = std::any_of(order_outputs_.begin(), order_outputs_.end(),
                                       [&](auto& o) { return o.first == static_cast<int>(i); });
      if (!ordered) request.Fields.push_back({outputs_[i].def, false});
    }
    request.RemoveDuplicates = true;
    request.CaseInsensitive = false;
  } else if (!order_outputs_.empty()) {
    for (auto [i, descending] : order_outputs_) request.Fields.push_back({outputs_[i].def, descending});
  } else {
    // Groups come in the order of their GROUP BY columns.
    for (int i : group_outputs_) request.Fields.push_back({outputs_[i].def, false});
    request.CaseInsensitive = false;
  }
  result_->SortRecordBuffers(request);
  if (query_.Distinct && query_.OrderByNoCase && !order_outputs_.empty()) {
    TRecordSortRequest order;
    order.CaseInsensitive = true;
    for (auto [i, descending] : order_outputs_) order.Fields.push_back({outputs_[i].def, descending});
    result_->SortRecordBuffers(order);
  }
}

// ---- as a sub-select ------------------------------------------------------------


void TSelectExecutor::CutResult() {
  if (query_.MaxNumOfRows < 0) return;
  const auto limit = static_cast<std::uint32_t>(query_.MaxNumOfRows);
  if (result_->GetRecordCount() <= limit) return;
  // Records past the limit go from the end.
  result_->SetToEnd();
  std::vector<std::uint8_t> buffer(result_->GetRecordSize());
  while (result_->GetRecordCount() > limit) {
    if (result_->GetPriorRecord(buffer.data()) != 0) break;
    result_->DeleteRecord(buffer.data(), false);
    result_->SetToEnd();
  }
}


}  // namespace korvex
