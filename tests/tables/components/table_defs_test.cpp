// Definitions in engine form against golden blocks that python3 builds
// from the documented layouts alone (definition_golden.py), decoding back,
// and the restructure lists' checks and index matching.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/dataset/dataset.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/sysutils.h"
#include "support/hex.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "tables/components/restructure_defs.h"
#include "tables/components/table_defs.h"
#include "tables/engine/errors/engine_error.h"

namespace korvex::testing {
namespace {

using namespace db;

const std::pair<const char*, TFieldType> kTypes[] = {
    {"ftUnknown", ftUnknown}, {"ftString", ftString}, {"ftSmallint", ftSmallint}, {"ftInteger", ftInteger},
    {"ftWord", ftWord}, {"ftBoolean", ftBoolean}, {"ftFloat", ftFloat}, {"ftCurrency", ftCurrency},
    {"ftBCD", ftBCD}, {"ftDate", ftDate}, {"ftTime", ftTime}, {"ftDateTime", ftDateTime}, {"ftBytes", ftBytes},
    {"ftVarBytes", ftVarBytes}, {"ftAutoInc", ftAutoInc}, {"ftBlob", ftBlob}, {"ftMemo", ftMemo},
    {"ftGraphic", ftGraphic}, {"ftFmtMemo", ftFmtMemo}, {"ftParadoxOle", ftParadoxOle},
    {"ftDBaseOle", ftDBaseOle}, {"ftTypedBinary", ftTypedBinary}, {"ftCursor", ftCursor},
    {"ftFixedChar", ftFixedChar}, {"ftWideString", ftWideString}, {"ftLargeint", ftLargeint}, {"ftADT", ftADT},
    {"ftArray", ftArray}, {"ftReference", ftReference}, {"ftDataSet", ftDataSet}, {"ftOraBlob", ftOraBlob},
    {"ftOraClob", ftOraClob}, {"ftVariant", ftVariant}, {"ftInterface", ftInterface},
    {"ftIDispatch", ftIDispatch}, {"ftGuid", ftGuid},
};

using qvtest::Hex;

std::string DatabaseMessage(const std::function<void()>& body) {
  try {
    body();
  } catch (const rtl::EDatabaseError& e) {
    return e.Message();
  }
  return "(nothing raised)";
}

int EngineCode(const std::function<void()>& body) {
  try {
    body();
  } catch (const EKORVEXEngineError& e) {
    return e.ErrorCode();
  }
  return 0;
}

struct IndexCase {
  std::string name;
  TIndexOptions options;
  std::string fields;
  std::string numbers;  // for python: "1,2,3" or "-"
};

TEST(TableDefinitions, EncodingsEqualGoldenBlocksAndDecodeBack) {
  const std::string name30 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
  struct FieldCase {
    std::string name;
    std::pair<const char*, TFieldType> type;
    int size;
  };
  std::vector<FieldCase> fields;
  for (const auto& t : kTypes) {
    int size = (t.second == ftString || t.second == ftBytes || t.second == ftVarBytes) ? 250
               : t.second == ftBCD                                                     ? 4
                                                                                       : 0;
    fields.push_back({std::string("F_") + t.first, t, size});
  }
  fields.push_back({name30, kTypes[1], 1});
  fields.push_back({name30 + "XYZ", kTypes[1], 20});  // 33 characters: 30 kept
  fields.push_back({"Amount \xE9", kTypes[8], 8});
  fields.push_back({"a;b c", kTypes[12], 17});

  // Key field numbers are the names' positions + 1 here.
  const std::vector<std::string> names = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m",
                                          "n", "o", "p", "q"};
  auto number_of = [&](const std::string& n) {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (rtl::AnsiSameText(names[i], n)) return static_cast<int>(i + 1);
    return 0;
  };
  auto name_of = [&](int n) { return n >= 1 && n <= static_cast<int>(names.size()) ? names[n - 1] : std::string(); };
  const std::vector<IndexCase> indexes = {
      {name30, ixDescending, "a", "1"},
      {name30 + "LONGER", ixCaseInsensitive | ixUnique, "a;b;c", "1,2,3"},
      {"ByC", ixUnique, "c;A", "3,1"},
      {"Desc", ixDescending | ixCaseInsensitive | ixUnique, "p;o;n;m;l;k;j;i;h;g;f;e;d;c;b;a",
       "16,15,14,13,12,11,10,9,8,7,6,5,4,3,2,1"},
      {"", 0, "", "-"},
  };

  qvtest::TempDir dir;
  {
    std::ofstream in(dir / "cases");
    for (const FieldCase& f : fields)
      in << "F " << Hex(f.name) << ' ' << f.type.first << ' ' << f.size << '\n';
    for (const IndexCase& i : indexes) {
      std::string options;
      if (i.options & ixDescending) options += 'd';
      if (i.options & ixCaseInsensitive) options += 'c';
      if (i.options & ixUnique) options += 'u';
      in << "I " << Hex(i.name.empty() ? std::string("-") : i.name) << ' ' << (options.empty() ? "-" : options)
         << ' ' << i.numbers << '\n';
    }
  }
  // An empty name is passed as "-" (one byte): the golden line for it is
  // built from a name of "-" and compared after the name is patched below.
  qvtest::CommandResult run =
      qvtest::RunShell("python3 '" QV_SOURCE_DIR "/tests/tables/components/definition_golden.py' '" + dir / "cases" +
                       "'");
  ASSERT_EQ(run.status, 0) << run.output;
  std::istringstream golden(run.output);
  std::string line;

  for (const FieldCase& f : fields) {
    SCOPED_TRACE(f.name + " " + f.type.first);
    ASSERT_TRUE(std::getline(golden, line));
    TFieldDefinition def = EncodeFieldDefinition(f.name, f.type.second, f.size);
    std::uint8_t block[kFieldDefinitionSize];
    def.Encode(block);
    EXPECT_EQ(Hex(block, sizeof block), line);
    // Decoding gives the type back, except where several types are written
    // with the same bytes: those give the first of them.
    TFieldDefinition read;
    read.Decode(block);
    TFieldType type;
    int size = -1;
    const bool known = DecodeFieldDefinition(read, type, size);
    EXPECT_EQ(known, read.DataType != 0) << int(read.DataType);
    if (!known) continue;
    TFieldType expected = f.type.second;
    if (expected == ftGuid) expected = ftString;
    if (expected == ftParadoxOle || expected == ftDBaseOle || expected == ftOraBlob || expected == ftOraClob)
      expected = ftBlob;
    EXPECT_EQ(type, expected);
    const TFieldType t = f.type.second;
    EXPECT_EQ(size, t == ftString || t == ftBytes || t == ftVarBytes || t == ftBCD ? f.size : 0);
    TFieldDefinition again = EncodeFieldDefinition(f.name, type, size);
    EXPECT_EQ(again.DataType, read.DataType);
    EXPECT_EQ(again.Size, read.Size);
    EXPECT_EQ(again.Decimals, read.Decimals);
    EXPECT_EQ(read.Name, f.name.substr(0, 30));
  }
  for (const IndexCase& i : indexes) {
    SCOPED_TRACE(i.name + " " + i.fields);
    ASSERT_TRUE(std::getline(golden, line));
    TIndexDefinition def = EncodeIndexDefinition(i.name, i.options, i.fields, icNone, number_of);
    std::uint8_t block[kIndexDefinitionSize];
    def.Encode(block);
    std::string hex = Hex(block, sizeof block);
    if (i.name.empty()) line.replace(0, 4, "0000");  // "-" in the golden
    EXPECT_EQ(hex, line);
    TIndexDefinition read;
    read.Decode(block);
    for (int number : {0, 3}) {
      TIndexDef back = DecodeIndexDefinition(read, number, name_of);
      EXPECT_EQ(back.Name, i.name.substr(0, 30));
      EXPECT_EQ(back.Options, i.options | (number == 0 ? ixPrimary : 0));
      std::string expected = i.fields;
      if (expected == "c;A") expected = "c;a";  // names come back as the field list spells them
      EXPECT_EQ(back.Fields, expected);
    }
  }
}

TEST(TableDefinitions, IndexEncodingRefusals) {
  auto number_of = [](const std::string& n) { return n.size() == 1 ? n[0] - 'a' + 1 : 0; };
  EXPECT_EQ(DatabaseMessage([&] { EncodeIndexDefinition("x", 0, "a;zz", icNone, number_of); }),
            "Field 'zz' not found");
  EXPECT_EQ(EngineCode([&] { EncodeIndexDefinition("x", 0, "a;b;c;d;e;f;g;h;i;j;k;l;m;n;o;p;q", icNone, number_of); }),
            9487);
  // Blanks around names and an empty part are ignored; compression is kept.
  TIndexDefinition def = EncodeIndexDefinition("x", 0, " b ;;c", icFull, number_of);
  EXPECT_EQ(def.FieldCount, 2);
  EXPECT_EQ(def.Fields[0], 2);
  EXPECT_EQ(def.Fields[1], 3);
  EXPECT_EQ(def.Compression, 3);
  // Decoding skips numbers that name no field and reads at most 16.
  def.FieldCount = 200;
  def.Fields[2] = 999;
  def.Fields[3] = 1;
  TIndexDef back = DecodeIndexDefinition(def, 1, [](int n) { return n == 999 || n == 0 ? std::string() : std::string(1, char('a' + n - 1)); });
  EXPECT_EQ(back.Fields, "b;c;a");
}

TEST(TableDefinitions, CreationOrderPutsThePrimaryFirst) {
  struct Case {
    std::vector<TIndexOptions> options;
    std::vector<int> order;
    int secondaries;
  } cases[] = {
      {{}, {-1}, 0},
      {{ixPrimary}, {0}, 0},
      {{0, ixPrimary | ixUnique, ixUnique}, {1, 0, 2}, 2},
      {{0, 0}, {-1, 0, 1}, 2},
      {{ixPrimary, 0, ixPrimary}, {0, 1, 2}, 2},
  };
  for (const Case& c : cases) {
    TIndexOrder order = OrderForCreation(c.options);
    EXPECT_EQ(order.Order, c.order);
    EXPECT_EQ(order.SecondaryCount, c.secondaries);
  }
}

TEST(RestructureDefinitions, FieldChecksLeaveTheListAsItWas) {
  TRestructureFieldDefs defs;
  struct Case {
    std::string name;
    TFieldType type;
    int size;
    std::string error;  // empty: accepted
  } cases[] = {
      {"S0", ftString, 0, "Invalid field size"},     {"S250", ftString, 250, ""},
      {"S251", ftString, 251, "Invalid field size"}, {"B1", ftBytes, 1, ""},
      {"V251", ftVarBytes, 251, "Invalid field size"}, {"BCD8", ftBCD, 8, ""},
      {"BCD0", ftBCD, 0, ""},                        {"BCD9", ftBCD, 9, "Invalid field size"},
      {"I1", ftInteger, 1, "Invalid field size"},    {"Name", ftString, 20, ""},
      {"name", ftString, 20, "Duplicate field name 'name'"}, {"", ftString, 20, "Field name missing"},
      {"NAME", ftInteger, 0, "Duplicate field name 'NAME'"},
  };
  int count = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string message = DatabaseMessage([&] { defs.Add(c.name, c.type, c.size, false); });
    if (c.error.empty()) {
      EXPECT_EQ(message, "(nothing raised)");
      ++count;
    } else {
      EXPECT_EQ(message, c.error);
    }
    EXPECT_EQ(defs.Count(), count);
  }
  EXPECT_EQ(DatabaseMessage([&] { defs.Find("nope"); }), "Field 'nope' not found");
  EXPECT_EQ(&defs.Find("NAME"), &defs.Items(defs.IndexOf("name")));
  // Insert, Move, Delete and Assign keep the order; every change marks the
  // list out of date.
  defs.SetUpToDate(true);
  defs.Insert(0, "First", ftBoolean, 0, true, "True", "", "", "flag", fcUpperCase, 7);
  EXPECT_FALSE(defs.UpToDate());
  defs.Move(0, defs.Count() - 1);
  EXPECT_EQ(defs.Items(defs.Count() - 1).Name, "First");
  defs.Delete(0);
  TRestructureFieldDefs copy;
  copy.Assign(defs);
  ASSERT_EQ(copy.Count(), defs.Count());
  for (int i = 0; i < copy.Count(); ++i) {
    EXPECT_EQ(copy.Items(i).Name, defs.Items(i).Name);
    EXPECT_EQ(copy.Items(i).FieldNumber, defs.Items(i).FieldNumber);
    EXPECT_EQ(copy.Items(i).CharCase, defs.Items(i).CharCase);
  }
}

TEST(RestructureDefinitions, IndexMatching) {
  TRestructureIndexDefs defs;
  defs.SetUpToDate(true);
  defs.Add("ByNameX", "NameX", 0);
  defs.Add("ByNameCity", "Name;City", ixCaseInsensitive);
  defs.Add("ByCityDesc", "City", ixDescending);
  defs.Add("ByCity", "city;Name", 0);
  defs.SetUpToDate(true);
  EXPECT_EQ(DatabaseMessage([&] { defs.Add("bynamex", "A", 0); }), "Duplicate index name 'bynamex'");
  struct Case {
    std::string fields;
    bool case_insensitive;
    const char* expected;  // nullptr: none
  } cases[] = {
      {"Name", false, "ByNameCity"},   {"name", true, "ByNameCity"}, {"NameX", false, "ByNameX"},
      {"NameX", true, nullptr},        {"City", false, "ByCity"},    {"City;Name", false, "ByCity"},
      {"Nam", false, nullptr},         {"Name;City;Zip", false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    TRestructureIndexDef* found = defs.GetIndexForFields(c.fields, c.case_insensitive);
    EXPECT_EQ(found == nullptr ? std::string("(none)") : found->Name, c.expected ? c.expected : "(none)");
  }
  EXPECT_EQ(DatabaseMessage([&] { defs.FindIndexForFields("Zip"); }), "No index for fields 'Zip'");
}

TEST(RestructureDefinitions, EncodingKeysFieldsByTheirNumbers) {
  TRestructureFieldDefs fields;
  fields.Add("ID", ftAutoInc, 0, true, "", "", "", "", fcNoChange, 1);
  fields.Add("Name", ftString, 30, false, "x", "a", "zz", "the name", fcUpperCase, 3);
  fields.Add("New", ftInteger, 0, false);
  TRestructureIndexDefs indexes;
  indexes.Add("ByName", "Name;New", ixCaseInsensitive, icTrailingByte);
  indexes.Add("", "ID", ixPrimary | ixUnique);
  std::vector<TFieldDefinition> f;
  std::vector<TIndexDefinition> i;
  int secondaries = -1;
  EncodeRestructure(fields, indexes, f, i, secondaries);
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[1].FieldNumber, 3);
  EXPECT_EQ(f[1].Default, "x");
  EXPECT_EQ(f[1].Minimum, "a");
  EXPECT_EQ(f[1].Maximum, "zz");
  EXPECT_EQ(f[1].Description, "the name");
  EXPECT_EQ(f[1].CharCase, fcUpperCase);
  // A new field is numbered above any old table's fields, so that it takes
  // no old field's values.
  EXPECT_EQ(f[2].FieldNumber, kMaxFields + 1);
  ASSERT_EQ(i.size(), 2u);
  EXPECT_EQ(secondaries, 1);
  EXPECT_EQ(i[0].FieldCount, 1);
  EXPECT_EQ(i[0].Fields[0], 1);
  EXPECT_EQ(i[1].Name, "ByName");
  EXPECT_EQ(i[1].Fields[0], 3);  // by number, as the engine maps key fields
  EXPECT_EQ(i[1].Fields[1], kMaxFields + 1);
  EXPECT_EQ(i[1].Compression, 2);
}

}  // namespace
}  // namespace korvex::testing
