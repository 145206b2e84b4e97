#include "tables/engine/errors/errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "tables/engine/errors/engine_error.h"

namespace korvex {
namespace {

// The message RaiseError's exception carries, or "" when nothing is thrown.
std::string Raised(TEngineErrorCode code, std::string_view table = {}, std::string_view field = {},
                   std::string_view index = {}, std::string_view message = {}) {
  try {
    RaiseError(code, table, field, index, message);
  } catch (const EKORVEXEngineError& e) {
    return e.Message();
  }
  return {};
}

TEST(EngineErrors, EveryNumberHasItsTemplateAndGroup) {
  const TEngineErrorCode numbers[] = {
      8705,  8706,  8708,  8709,  8710,  8711,  8961,  8962,  8963,  8965,  9217,  9218,  9220,
      9221,  9477,  9479,  9482,  9487,  9492,  9494,  9498,  9729,  9730,  9731,  9732,  9985,
      9993,  9998,  10000, 10006, 10010, 10015, 10022, 10023, 10026, 10027, 10029, 10030, 10031,
      10038, 10050, 10051, 10055, 10241, 10242, 10249, 10253, 10258, 10498, 10753, 10758, 11010,
      11012, 11013, 11014, 11016, 11017, 11023, 11025, 11047, 11949, 12035, 12292, 13060, 15878};
  ASSERT_EQ(sizeof numbers / sizeof numbers[0], 65u);
  for (TEngineErrorCode n : numbers) {
    ASSERT_NE(ErrorTemplate(n), nullptr) << n;
    int group = n >> 8;
    EXPECT_TRUE(group == 0x22 || group == 0x23 || group == 0x24 || group == 0x25 || group == 0x26 ||
                group == 0x27 || group == 0x28 || group == 0x29 || group == 0x2A || group == 0x2B ||
                group == 0x2E || group == 0x2F || group == 0x30 || group == 0x33 || group == 0x3E)
        << n;
  }
  EXPECT_EQ(ErrorTemplate(1), nullptr);
  EXPECT_STREQ(ErrorTemplate(err::kWriteError), "Error writing to table '%s'");
}

// Contexts fill the placeholders in their order; numbers without
// placeholders ignore them; an unknown number names the table; percent
// signs in a context are not read as formats.
TEST(EngineErrors, ContextsFillTheMessages) {
  struct Case {
    TEngineErrorCode number;
    const char *table, *field, *index, *message, *expected;
  };
  const Case cases[] = {
      {8710, "customer", "", "", "", "Record not found in table 'customer'"},
      {10023, "T", "F", "I", "", "Invalid field number 'F' specified in index 'I' for table 'T'"},
      {9729, "T", "F", "I", "", "Duplicate key found in index 'I' of table 'T'"},
      {10051, "T", "", "", "bad token", "Filter error for table 'T' - bad token"},
      {11949, "T", "", "", "Expected FROM", "SQL error - Expected FROM"},
      {10758, "T", "F", "I", "M", "Engine not initialized"},
      {11016, "T", "F", "I", "M", "There is insufficient operating system memory available for the current operation"},
      {1, "fams", "", "", "", "Unknown error occurred with table 'fams'"},
      {8710, "100%s done %d", "", "", "", "Record not found in table '100%s done %d'"},
      // A failed transfer gives the system's reason when there is one.
      {9218, "t.DAT", "", "", "No space left on device", "Error writing to table 't.DAT': No space left on device"},
      {9217, "t.IDX", "", "", "Input/output error", "Error reading from table 't.IDX': Input/output error"},
      {9218, "t.DAT", "", "", "", "Error writing to table 't.DAT'"},
  };
  for (const Case& c : cases) {
    Raised(c.number, c.table, c.field, c.index, c.message);
    EXPECT_EQ(GetErrorString(c.number), c.expected) << c.number << " " << c.table;
  }
}

TEST(EngineErrors, LongTextsAreCut) {
  std::string table(300, 'x');
  Raised(8710, table);
  EXPECT_EQ(GetErrorContext(1), std::string(255, 'x'));
  EXPECT_EQ(GetErrorString(8710).size(), 255u);
  char buffer[300];
  std::memset(buffer, '#', sizeof buffer);
  GetErrorString(8710, buffer);
  EXPECT_EQ(std::strlen(buffer), 254u);
  EXPECT_EQ(std::string(buffer, 28), "Record not found in table 'x");
}

TEST(EngineErrors, RecordAndContextGetters) {
  Raised(10023, "table", "field", "index", "message");
  EXPECT_EQ(GetLastErrorNumber(), 10023);
  EXPECT_EQ(GetErrorContext(0), "field");
  EXPECT_EQ(GetErrorContext(1), "table");
  EXPECT_EQ(GetErrorContext(2), "index");
  EXPECT_EQ(GetErrorContext(3), "");
  EXPECT_EQ(GetErrorContext(-1), "");
  ClearErrorContexts();
  EXPECT_EQ(GetLastErrorNumber(), 0);
  EXPECT_EQ(GetErrorContext(1), "");
}

TEST(EngineErrors, RaiseReplacesEveryContextOfTheLastError) {
  Raised(10023, "t1", "f1", "i1", "m1");
  Raised(8710, "t2");
  EXPECT_EQ(GetErrorContext(0), "");
  EXPECT_EQ(GetErrorContext(2), "");
}

TEST(EngineErrorException, MessageCodeAndEntries) {
  try {
    RaiseError(10258, "inds");
    FAIL() << "RaiseError returned";
  } catch (const EKORVEXEngineError& e) {
    EXPECT_EQ(e.Message(), "KORVEX Engine Error # 10258 Record in table 'inds' is in use by another user");
    EXPECT_STREQ(e.what(), e.Message().c_str());
    EXPECT_EQ(e.ErrorCode(), 10258);
    ASSERT_EQ(e.GetErrorCount(), 1);
    EXPECT_EQ(e.GetError(0).ErrorCode, 10258);
    EXPECT_EQ(e.GetError(0).Message, "Record in table 'inds' is in use by another user");
  }
}

TEST(EngineErrorException, IsARuntimeException) {
  EXPECT_THROW(RaiseError(9217, "x"), rtl::Exception);
}

TEST(EngineErrorException, CheckPassesZeroAndRaisesTheRest) {
  EXPECT_NO_THROW(Check(0));
  ClearErrorContexts();
  try {
    Check(8706);
    FAIL();
  } catch (const EKORVEXEngineError& e) {
    EXPECT_EQ(e.Message(), "KORVEX Engine Error # 8706 End of file encountered in table ''");
  }
}

// Two threads raise at once, each with its own numbers and contexts: every
// message must be built from the raising thread's own contexts.
TEST(EngineErrors, ConcurrentRaisesKeepTheirOwnContexts) {
  constexpr int kRaises = 10000;
  auto worker = [](int id, int* mismatches) {
    const TEngineErrorCode codes[2] = {err::kDuplicateKey, err::kInvalidFieldName};
    for (int i = 0; i < kRaises; ++i) {
      std::string table = "t" + std::to_string(id) + "_" + std::to_string(i);
      std::string other = "x" + std::to_string(id) + "_" + std::to_string(i);
      TEngineErrorCode code = codes[(i + id) % 2];
      try {
        RaiseError(code, table, other, other);
      } catch (const EKORVEXEngineError& e) {
        std::string expected = std::string(kEngineErrorPrefix) + std::to_string(code) + " ";
        expected += code == err::kDuplicateKey
                        ? "Duplicate key found in index '" + other + "' of table '" + table + "'"
                        : "Invalid or duplicate field name '" + other + "' specified for table '" + table + "'";
        if (e.Message() != expected || e.ErrorCode() != code) ++*mismatches;
      }
    }
  };
  int mismatches[2] = {0, 0};
  std::thread a(worker, 1, &mismatches[0]);
  std::thread b(worker, 2, &mismatches[1]);
  a.join();
  b.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

}  // namespace
}  // namespace korvex
