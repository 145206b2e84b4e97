#include "tests/tables/lib/expr_test_support.h"

#include <cstring>

#include "platform/runtime/sysutils.h"
#include "tables/engine/errors/engine_error.h"
#include "tables/lib/allocator.h"
#include "tables/lib/records_bitmap.h"
#include "tables/lib/support.h"

namespace korvex::testing {

void ExprTest::SetUp() {
  // The pools keep spares; only what they hold in use counts.
  FreeAllExpTokens();
  if (SupportFunctionsInitialized()) FreeAllRecordsBitmaps();
  memory_ = GetTotalMemoryAllocated();
  nodes_ = ExpTokensInUse();
}

void ExprTest::TearDown() {
  EXPECT_EQ(ExpTokensInUse(), nodes_) << "expression nodes were not given back to the pool";
  FreeAllExpTokens();
  if (SupportFunctionsInitialized()) FreeAllRecordsBitmaps();
  EXPECT_EQ(GetTotalMemoryAllocated(), memory_) << "bytes of the counted allocator left behind";
}

int Table::IndexOf(const std::string& name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (rtl::AnsiSameText(columns_[i].name, name)) return static_cast<int>(i);
  return -1;
}

namespace {

std::int32_t OwnSize(std::uint8_t type) {
  switch (type) {
    case dtString: return 31;
    case dtBoolean: case dtSmallInt: case dtWord: return 2;
    case dtDate: case dtInteger: case dtTime: return 4;
    case dtBlob: return 10;
    default: return 8;
  }
}

}  // namespace

bool Table::Lookup(void* user, TExpToken* node) {
  auto* table = static_cast<Table*>(user);
  int index = table->IndexOf(node->ColumnName);
  if (index < 0) return false;
  const Column& column = table->columns_[static_cast<std::size_t>(index)];
  node->FieldNumber = static_cast<std::uint16_t>(index + 1);
  node->DataType = column.type;
  node->SubType = column.sub_type;
  node->SetDataSize(column.size ? column.size : OwnSize(column.type));
  node->Scale = column.scale;
  return true;
}

bool Table::Value(void* user, const void* record_buffer, TExpToken* result) {
  auto* table = static_cast<Table*>(user);
  const auto* record = static_cast<const Record*>(record_buffer);
  std::size_t index = static_cast<std::size_t>(result->FieldNumber - 1);
  const Column& column = table->columns_[index];
  const Cell& cell = index < record->size() ? (*record)[index] : Cell{};
  if (std::holds_alternative<std::monostate>(cell)) {
    result->IsNull = true;
    return true;
  }
  result->IsNull = false;
  if (const auto* text = std::get_if<std::string>(&cell)) {
    result->SetStringValue(*text);
    return true;
  }
  if (const auto* real = std::get_if<double>(&cell)) {
    result->SetValue(*real);
    return true;
  }
  std::int64_t n = std::get<std::int64_t>(cell);
  switch (column.type) {
    case dtBoolean: case dtWord: result->SetValue(static_cast<std::uint16_t>(n)); break;
    case dtSmallInt: result->SetValue(static_cast<std::int16_t>(n)); break;
    case dtBCD: result->SetValue(n); break;
    case dtFloat: case dtTimeStamp: result->SetValue(static_cast<double>(n)); break;
    default: result->SetValue(static_cast<std::int32_t>(n)); break;
  }
  return true;
}

TExpToken* Parse(const std::string& text, TParseOptions options) {
  TExpressionParser parser;
  parser.SetErrorNumber(11949);
  parser.SetExpressionContext("test");
  return parser.ParseFilter(text, options);
}

std::string EngineMessage(const std::function<void()>& body) {
  try {
    body();
  } catch (const EKORVEXEngineError& e) {
    std::string message = e.Message();
    for (const char* marker : {"SQL error - ", "' - "}) {
      std::size_t at = message.find(marker);
      if (at != std::string::npos) return message.substr(at + std::strlen(marker));
    }
    return message;
  }
  return "";
}

std::string ParseError(const std::string& text, TParseOptions options) {
  return EngineMessage([&] {
    TExpToken* tree = Parse(text, options);
    FreeExpressionTokens(tree);
  });
}

TExpToken* Checked(const Table& table, const std::string& text, TParseOptions options) {
  ExpTokenGuard tree(Parse(text, options));
  VerifyExpressionToken(11949, "", "test", tree.get(), nullptr, const_cast<Table*>(&table), Table::Lookup, true);
  return tree.Release();
}

std::string CheckError(const Table& table, const std::string& text, TParseOptions options) {
  return EngineMessage([&] {
    TExpToken* tree = Checked(table, text, options);
    FreeExpressionTokens(tree);
  });
}

Outcome Evaluate(const Table& table, const TExpToken* tree, const Record& record, TLocalePair locale) {
  ExpTokenGuard value(EvaluateExpressionToken(tree, &record, const_cast<Table*>(&table), Table::Value, locale));
  Outcome out;
  out.is_null = value->IsNull;
  out.type = value->DataType;
  switch (value->DataType) {
    case dtString: case dtBlob:
      out.text = value->IsNull ? "" : value->StringValue();
      break;
    case dtFloat: case dtTimeStamp:
      out.real = value->Value<double>();
      break;
    case dtBoolean: case dtWord:
      out.integer = value->Value<std::uint16_t>();
      break;
    case dtSmallInt:
      out.integer = value->Value<std::int16_t>();
      break;
    case dtBCD:
      out.integer = value->Value<std::int64_t>();
      break;
    default:
      out.integer = value->Value<std::int32_t>();
      break;
  }
  return out;
}

Outcome EvaluateText(const Table& table, const std::string& text, const Record& record) {
  ExpTokenGuard tree(Checked(table, text));
  return Evaluate(table, tree.get(), record);
}

const Table& AllTypes() {
  static const Table table({{"S", dtString, 31},
                            {"D", dtDate},
                            {"B", dtBoolean},
                            {"SI", dtSmallInt},
                            {"I", dtInteger},
                            {"F", dtFloat},
                            {"BC", dtBCD, 8, 2},
                            {"T", dtTime},
                            {"TS", dtTimeStamp},
                            {"W", dtWord},
                            {"M", dtBlob, 10, 0, fstMemo},
                            {"BL", dtBlob, 10, 0, fstBinary},
                            {"BY", dtBytes, 8},
                            {"MO", dtFloat, 8, 0, fstMoney}});
  return table;
}

}  // namespace korvex::testing
