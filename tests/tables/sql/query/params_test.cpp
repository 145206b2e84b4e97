// Query parameters: the "Data" property byte for byte against streams that
// python3's struct module builds, the engine forms of dates and times
// against python3's datetime, refused streams, the list's lookups and the
// marker scan of SQL texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/hex.h"
#include "platform/runtime/dates.h"
#include "platform/runtime/exceptions.h"
#include "platform/runtime/streams.h"
#include "support/raised.h"
#include "support/run_command.h"
#include "tables/sql/query/param_markers.h"
#include "tables/sql/query/query_params.h"

namespace korvex::testing {
namespace {

using namespace db;

using qvtest::Hex;

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Runs a python3 program that prints hex lines.
std::vector<std::string> PythonHex(const std::string& program) {
  const std::string path = ::testing::TempDir() + "qv_params_" + std::to_string(::getpid()) + ".py";
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fputs(program.c_str(), f);
  std::fclose(f);
  const auto result = qvtest::RunShell("python3 " + path);
  std::remove(path.c_str());
  EXPECT_EQ(result.status, 0);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < result.output.size()) {
    std::size_t end = result.output.find('\n', start);
    if (end == std::string::npos) end = result.output.size();
    lines.push_back(Unhex(result.output.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

const rtl::TDateTime kLeapDay = rtl::EncodeDate(2024, 2, 29);
const rtl::TDateTime kTime = rtl::EncodeTime(13, 45, 10, 250);

// One parameter of every type with an engine form, an unknown one and a
// null one.
void Fill(TKORVEXParams& p) {
  p.CreateParam(ftUnknown, "s", ptInput)->SetAsString("Smith");
  p.CreateParam(ftUnknown, "small", ptInput)->SetAsSmallInt(-5);
  p.CreateParam(ftUnknown, "w", ptOutput)->SetAsWord(60000);
  p.CreateParam(ftUnknown, "b", ptInput)->SetAsBoolean(true);
  p.CreateParam(ftUnknown, "i", ptInputOutput)->SetAsInteger(-123456);
  p.CreateParam(ftUnknown, "d", ptInput)->SetAsDate(kLeapDay);
  p.CreateParam(ftUnknown, "first", ptInput)->SetAsDate(rtl::EncodeDate(1, 1, 1));
  p.CreateParam(ftUnknown, "zero", ptInput)->SetAsDate(0);
  p.CreateParam(ftUnknown, "t", ptInput)->SetAsTime(kTime);
  p.CreateParam(ftUnknown, "f", ptInput)->SetAsFloat(2.5);
  p.CreateParam(ftUnknown, "c", ptResult)->SetAsCurrency(1.25);
  p.CreateParam(ftUnknown, "dt", ptInput)->SetAsDateTime(kLeapDay + kTime);
  p.CreateParam(ftUnknown, "blob", ptInput)->SetAsBlob(std::string("\x00\x01\xff", 3));
  p.CreateParam(ftUnknown, "memo", ptInput)->SetAsMemo("memo text");
  p.CreateParam(ftUnknown, "unknown", ptUnknown);
  p.CreateParam(ftInteger, "nothing", ptInput);
}

// The same list in python3: version 1 and version 2 layouts.
const char* kPythonStreams = R"(
import struct, datetime
d = datetime.date(2024, 2, 29).toordinal()
ms = ((13 * 60 + 45) * 60 + 10) * 1000 + 250
params = [
  ('s', 1, 1, b'Smith\0', 0, 1), ('small', 1, 2, struct.pack('<h', -5), 0, 1),
  ('w', 2, 4, struct.pack('<H', 60000), 0, 1), ('b', 1, 5, struct.pack('<H', 1), 0, 1),
  ('i', 3, 3, struct.pack('<i', -123456), 0, 1), ('d', 1, 9, struct.pack('<i', d), 0, 1),
  ('first', 1, 9, struct.pack('<i', datetime.date(1, 1, 1).toordinal()), 0, 1),
  ('zero', 1, 9, struct.pack('<i', datetime.date(1899, 12, 30).toordinal()), 0, 1),
  ('t', 1, 10, struct.pack('<i', ms), 0, 1), ('f', 1, 6, struct.pack('<d', 2.5), 0, 1),
  ('c', 4, 7, struct.pack('<d', 1.25), 0, 1), ('dt', 1, 11, struct.pack('<d', d * 86400000.0 + ms), 0, 1),
  ('blob', 1, 15, b'\x00\x01\xff', 0, 1), ('memo', 1, 16, b'memo text\0', 0, 1),
  ('unknown', 0, 0, None, 1, 0), ('nothing', 1, 3, struct.pack('<i', 0), 1, 0)]
def stream(version):
  w = '<H' if version == 1 else '<I'
  n = '<B' if version == 1 else '<I'
  out = struct.pack('<H', version) + struct.pack(w, len(params))
  for name, ptype, dtype, data, null, bound in params:
    out += struct.pack(n, len(name)) + name.encode() + struct.pack('<BB', ptype, dtype)
    if dtype != 0:
      out += struct.pack(w, len(data)) + data
    out += struct.pack('<BB', null, bound)
  return out
print(stream(1).hex())
print(stream(2).hex())
)";

TEST(QueryParams, DataStreamsAgainstPythonStruct) {
  const auto expected = PythonHex(kPythonStreams);
  ASSERT_EQ(expected.size(), 2u);
  TKORVEXParams params;
  Fill(params);
  rtl::TStringStream written;
  params.WriteData(written);
  EXPECT_EQ(Hex(written.DataString()), Hex(expected[0]));

  // Both versions read back into the list that wrote them.
  for (const std::string& bytes : expected) {
    TKORVEXParams read;
    rtl::TStringStream in(bytes);
    read.ReadData(in);
    ASSERT_EQ(read.Count(), params.Count());
    rtl::TStringStream again;
    read.WriteData(again);
    EXPECT_EQ(Hex(again.DataString()), Hex(expected[0]));
    // Dates read back on their day, times on the date-time 0's day.
    EXPECT_EQ(read.ParamByName("d")->AsDateTime(), kLeapDay);
    EXPECT_EQ(read.ParamByName("t")->AsDateTime(), kTime);
    EXPECT_EQ(read.ParamByName("dt")->AsDateTime(), kLeapDay + kTime);
    EXPECT_EQ(read.ParamByName("first")->AsDateTime(), rtl::EncodeDate(1, 1, 1));
    EXPECT_EQ(read.ParamByName("w")->AsInteger(), 60000);
    EXPECT_EQ(read.ParamByName("small")->AsInteger(), -5);
    EXPECT_EQ(read.ParamByName("blob")->AsMemo(), std::string("\x00\x01\xff", 3));
    EXPECT_EQ(read.ParamByName("memo")->DataType(), ftMemo);
    EXPECT_EQ(read.ParamByName("c")->DataType(), ftCurrency);
    EXPECT_EQ(read.ParamByName("c")->ParamType(), ptResult);
    EXPECT_TRUE(read.ParamByName("nothing")->IsNull());
    EXPECT_FALSE(read.ParamByName("nothing")->Bound());
  }
  // The BCD form goes through the engine's scaled integer and back.
  TKORVEXParams bcd;
  bcd.CreateParam(ftUnknown, "m", ptInput)->SetAsBCD(rtl::Currency::FromScaled(-123456789));
  rtl::TStringStream out;
  bcd.WriteData(out);
  TKORVEXParams back;
  out.SetPosition(0);
  back.ReadData(out);
  EXPECT_EQ(back.At(0)->AsBCD().scaled, -123456789);
}

// Streams that must be refused, each with the list left as it was.
TEST(QueryParams, MalformedStreamsAreRefused) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  auto v2 = [](std::string rest) { return std::string("\x02\x00", 2) + rest; };
  const Case cases[] = {
      {"version 3", std::string("\x03\x00\x00\x00", 4)},
      {"empty", ""},
      {"count past the end", std::string("\x01\x00\x05\x00", 4)},
      {"v2 negative count", v2(std::string("\xff\xff\xff\xff", 4))},
      {"v2 huge count", v2(std::string("\xff\xff\xff\x7f", 4))},
      {"v2 negative name length", v2(std::string("\x01\x00\x00\x00\xff\xff\xff\xff\x00\x00\x00\x00", 12))},
      {"v2 name past the end", v2(std::string("\x01\x00\x00\x00\x40\x00\x00\x00xy\x00\x00\x00\x00", 14))},
      {"v2 size 2049", v2(std::string("\x01\x00\x00\x00\x01\x00\x00\x00x\x01\x0f\x01\x08\x00\x00", 15))},
      {"v2 size 2^31 - 1", v2(std::string("\x01\x00\x00\x00\x01\x00\x00\x00x\x01\x0f\xff\xff\xff\x7f", 15))},
      {"v2 negative size", v2(std::string("\x01\x00\x00\x00\x01\x00\x00\x00x\x01\x03\xfc\xff\xff\xff", 15))},
      {"v1 data past the end", std::string("\x01\x00\x01\x00\x01x\x01\x03\x04\x00\x01\x02", 12)},
      {"v1 flags missing", std::string("\x01\x00\x01\x00\x01x\x01\x03\x04\x00\x01\x02\x03\x04\x00", 15)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TKORVEXParams params;
    params.CreateParam(ftUnknown, "keep", ptInput)->SetAsInteger(7);
    rtl::TStringStream in(c.bytes);
    EXPECT_EQ(qvtest::WhatRaised<rtl::EDatabaseError>([&] { params.ReadData(in); }), "Unable to load bind parameters")
        << "read";
    ASSERT_EQ(params.Count(), 1);
    EXPECT_EQ(params.At(0)->AsInteger(), 7);
  }
  // 2048 bytes are the most a value may have, written or read.
  TKORVEXParams params;
  params.CreateParam(ftUnknown, "big", ptInput)->SetAsBlob(std::string(2048, 'x'));
  rtl::TStringStream out;
  params.WriteData(out);
  out.SetPosition(0);
  TKORVEXParams back;
  back.ReadData(out);
  EXPECT_EQ(back.At(0)->AsMemo().size(), 2048u);
  params.At(0)->SetAsBlob(std::string(2049, 'x'));
  rtl::TStringStream refused;
  EXPECT_EQ(qvtest::WhatRaised<rtl::EDatabaseError>([&] { params.WriteData(refused); }),
            "Parameter 'big', cannot save data larger than 2048 bytes")
      << "written";
}

TEST(QueryParams, ValuesTypesAndLookups) {
  TKORVEXParams params;
  TKORVEXParam* p = params.CreateParam(ftUnknown, "Name", ptInput);
  struct VariantCase {
    Variant value;
    TFieldType type;
  };
  const VariantCase variants[] = {
      {Variant(std::string(250, 'a')), ftString}, {Variant(std::string(251, 'a')), ftBlob},
      {Variant(std::int16_t{3}), ftSmallint},     {Variant(std::int32_t{3}), ftInteger},
      {Variant(2.5), ftFloat},                    {Variant(rtl::Currency{5}), ftBCD},
      {Variant(VarDate{2.5}), ftDateTime},        {Variant(true), ftBoolean},
      {Null, ftUnknown},                          {Unassigned, ftUnknown},
  };
  for (const VariantCase& c : variants) {
    p->SetAsVariant(c.value);
    EXPECT_EQ(p->DataType(), c.type) << c.value.ToString();
    EXPECT_TRUE(p->Bound());
  }
  // Engine sizes; a string of 20 characters takes 21 bytes.
  p->SetAsString(std::string(20, 'x'));
  EXPECT_EQ(p->GetDataSize(), 21u);
  EXPECT_FALSE(p->BindsAsBlob());
  p->SetAsString(std::string(251, 'x'));
  EXPECT_TRUE(p->BindsAsBlob());
  p->SetDataType(ftUnknown);
  EXPECT_EQ(qvtest::WhatRaised<rtl::EDatabaseError>([&] { p->GetDataSize(); }), "Field 'Name' is of unknown type");
  p->SetDataType(ftCursor);
  EXPECT_EQ(qvtest::WhatRaised<rtl::EDatabaseError>([&] { p->GetDataSize(); }),
            "Field 'Name' is of an unsupported type");
  // Text converted by the type; texts of values.
  p->SetDataType(ftInteger);
  p->SetText("42");
  EXPECT_EQ(p->AsInteger(), 42);
  p->SetAsBoolean(false);
  EXPECT_EQ(p->AsString(), "False");
  p->Clear();
  EXPECT_EQ(p->AsString(), "");
  EXPECT_EQ(p->AsDateTime(), 0);

  // ParamByName is case-blind, AssignValues case-sensitive; of two equal
  // names Items gives the first at both positions.
  params.CreateParam(ftUnknown, "name", ptInput)->SetAsInteger(2);
  params.At(0)->SetAsInteger(1);
  EXPECT_EQ(params.ParamByName("NAME"), params.At(0));
  EXPECT_EQ(params.Items(1), params.At(0));
  EXPECT_EQ(qvtest::WhatRaised<rtl::EDatabaseError>([&] { params.ParamByName("other"); }),
            "Parameter 'other' not found");
  TKORVEXParams values;
  values.CreateParam(ftUnknown, "NAME", ptInput)->SetAsInteger(10);
  values.CreateParam(ftUnknown, "name", ptInput)->SetAsInteger(20);
  params.AssignValues(values);
  EXPECT_EQ(params.At(0)->AsInteger(), 1);
  EXPECT_EQ(params.At(1)->AsInteger(), 20);
  // Several names at once, each found case-blind: both name the first.
  params.SetParamValue("Name;name", VarArrayOf({Variant(std::int32_t{5}), Variant(std::int32_t{6})}));
  EXPECT_EQ(params.At(0)->AsInteger(), 6);
  EXPECT_EQ(params.At(1)->AsInteger(), 20);
  EXPECT_EQ(params.GetParamValue("NAME;Name"), VarArrayOf({Variant(std::int32_t{6}), Variant(std::int32_t{6})}));
  TKORVEXParams copy;
  copy.Assign(params);
  EXPECT_TRUE(copy.IsEqual(params));
  EXPECT_TRUE(copy.StoresData(nullptr));
  EXPECT_FALSE(copy.StoresData(&params));
  copy.At(1)->SetAsInteger(7);
  EXPECT_FALSE(copy.IsEqual(params));
  delete copy.At(0);  // a parameter leaves its list
  EXPECT_EQ(copy.Count(), 1);
}

TEST(QueryParams, MarkerScan) {
  struct Case {
    const char* text;
    const char* rewritten;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"SELECT * FROM t WHERE a = :a", "SELECT * FROM t WHERE a = ?", {"a"}},
      {"SELECT * FROM t WHERE a = :a AND b = ':b'", "SELECT * FROM t WHERE a = ? AND b = ':b'", {"a"}},
      {"SELECT \":x\" FROM t WHERE c = :c", "SELECT \":x\" FROM t WHERE c = ?", {"c"}},
      {"SELECT '12::30', 12::30 FROM t", "SELECT '12::30', 12:30 FROM t", {}},
      {"WHERE a = :\"my name\" AND b = :'x,y'", "WHERE a = ? AND b = ?", {"my name", "x,y"}},
      {"VALUES (:a,:b)", "VALUES (?,?)", {"a", "b"}},
      {"a=:a\nb=:b\rc=:c;d=:d e=:e", "a=?\nb=?\rc=?;d=? e=?", {"a", "b", "c", "d", "e"}},
      {"/* :note */ SELECT [odd:name] FROM t WHERE x = :x", "/* :note */ SELECT [odd:name] FROM t WHERE x = ?", {"x"}},
      {"/* open comment :c", "/* open comment :c", {}},
      {"[open :b", "[open :b", {}},
      {"a = : b, c = :", "a = : b, c = :", {}},
      {"'open quote :q", "'open quote :q", {}},
      {"x = :p1 AND y = :p1", "x = ? AND y = ?", {"p1", "p1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TKORVEXParams params;
    EXPECT_EQ(CreateParams(&params, c.text), c.rewritten);
    std::vector<std::string> names;
    for (int i = 0; i < params.Count(); ++i) {
      names.push_back(params.At(i)->Name());
      EXPECT_EQ(params.At(i)->DataType(), ftUnknown);
    }
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(CreateParams(nullptr, c.text), c.rewritten);
  }
}

}  // namespace
}  // namespace korvex::testing
