// Field kinds: native buffers, conversions, null and range rules, checked
// against python3 (datetime ordinals, decimal rounding) and fixed tables;
// field and index definitions.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "mem_dataset.h"
#include "platform/dataset/datetext.h"
#include "platform/runtime/format_settings.h"
#include "support/raised.h"
#include "textutil/python_pipe.h"

namespace dstest {
namespace {

const std::vector<Column> kKinds = {
    {"S", ftString, 6}, {"I", ftSmallint}, {"W", ftWord},      {"N", ftInteger}, {"L", ftLargeint},
    {"B", ftBoolean},   {"F", ftFloat},    {"CU", ftCurrency}, {"C", ftBCD, 2},  {"D", ftDate},
    {"T", ftTime},      {"DT", ftDateTime}, {"Y", ftBytes, 4},  {"V", ftVarBytes, 4}};

struct Editing {
  MemDataSet ds{kKinds};
  Editing() {
    ds.Open();
    ds.Append();
  }
  TField* operator[](const char* name) { return ds.FieldByName(name); }
  std::string Native(const char* name) {
    TField* f = ds.FieldByName(name);
    std::string bytes(static_cast<std::size_t>(f->DataSize()), '\0');
    return f->GetData(bytes.data()) ? bytes : "null";
  }
};

template <typename T>
std::string Bytes(T value) {
  std::string b(sizeof(T), '\0');
  std::memcpy(b.data(), &value, sizeof(T));
  return b;
}

// python3 runs `script` over the lines (written to `file`); its output lines.
std::vector<std::string> PythonOver(const std::string& script, const std::vector<std::string>& lines, const char* file) {
  std::string path = textutil::WriteLines(file, lines);
  return textutil::SplitLines(
      textutil::RunPython("-c " + textutil::ShellQuote(script) + " " + textutil::ShellQuote(path)));
}

std::string ErrorOf(const std::function<void()>& action) { return qvtest::WhatRaised<rtl::Exception>(action); }

TEST(DataSetFieldKinds, NativeFormsNullAndRangeRules) {
  Editing e;
  // (field, text written, native bytes, AsString read back)
  struct Row {
    const char* field;
    std::string text, native, back;
  };
  const Row rows[] = {
      {"S", "abcdefgh", std::string("abcdef\0", 7), "abcdef"},  // cut at Size
      {"I", "-32768", Bytes<std::int16_t>(-32768), "-32768"},
      {"W", "65535", Bytes<std::uint16_t>(65535), "65535"},
      {"N", "-7", Bytes<std::int32_t>(-7), "-7"},
      {"L", "9223372036854775807", Bytes<std::int64_t>(INT64_MAX), "9223372036854775807"},
      {"B", "yes", Bytes<std::int16_t>(1), "True"},
      {"F", "2.5", Bytes<double>(2.5), "2.5"},
      {"CU", "-0.25", Bytes<double>(-0.25), "-0.25"},
      {"C", "12.34567", Bytes<std::int64_t>(123457), "12.3457"},
      {"D", "2/29/2000", Bytes<std::int32_t>(730179), "2/29/2000"},
      {"T", "13:45:07", Bytes<std::int32_t>(49507000), "13:45:07"},
      {"DT", "1/1/0001 0:00:01", Bytes<double>(86400000.0 + 1000), "1/1/0001 0:00:01"},
      {"Y", "ab", std::string("ab\0\0", 4), std::string("ab\0\0", 4)},
      {"V", "abcdef", std::string("\4\0abcd", 6), "abcd"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.field);
    e[r.field]->SetAsString(r.text);
    EXPECT_EQ(e.Native(r.field), r.native);
    EXPECT_EQ(e[r.field]->AsString(), r.back);
    e[r.field]->SetAsVariant(Null);
    EXPECT_TRUE(e[r.field]->IsNull());
    EXPECT_EQ(e.Native(r.field), "null");
    // Null reads as "", 0 and false wherever the kind converts.
    EXPECT_EQ(e[r.field]->AsString(), "");
    const std::string f = r.field;
    if (f == "S" || f == "I" || f == "W" || f == "N" || f == "L" || f == "F" || f == "CU" || f == "C") {
      EXPECT_EQ(e[r.field]->AsInteger(), 0);
      EXPECT_EQ(e[r.field]->AsFloat(), 0.0);
    }
    if (f == "S" || f == "I" || f == "W" || f == "N" || f == "L" || f == "B") {
      EXPECT_FALSE(e[r.field]->AsBoolean());
    }
    if (f == "D" || f == "T" || f == "DT") {
      EXPECT_EQ(e[r.field]->AsDateTime(), 0.0);
    }
  }
  EXPECT_TRUE(e["S"]->AsVariant().IsNull());

  // Out of range: an error instead of a wrapped value; the field keeps its value.
  e["I"]->SetAsInteger(5);
  const std::pair<std::function<void()>, std::string> ranges[] = {
      {[&] { e["I"]->SetAsInteger(70000); }, "Value 70000 is out of range for field 'I'"},
      {[&] { e["I"]->SetAsString("-32769"); }, "Value -32769 is out of range for field 'I'"},
      {[&] { e["W"]->SetAsInteger(-1); }, "Value -1 is out of range for field 'W'"},
      {[&] { e["N"]->SetAsFloat(3e9); }, "Value 3000000000 is out of range for field 'N'"},
      {[&] { e["F"]->SetAsFloat(3e9); (void)e["F"]->AsInteger(); }, "Value 3000000000 is out of range for field 'F'"},
      {[&] { e["F"]->SetAsFloat(-2147483648.6); (void)e["F"]->AsInteger(); }, "Value -2147483648.6 is out of range for field 'F'"},
      {[&] { e["L"]->SetAsString("9223372036854775807"); (void)e["L"]->AsInteger(); }, "Value 9223372036854775807 is out of range for field 'L'"},
      {[&] { e["C"]->SetAsFloat(1e300); }, "Value 1E300 is out of range for field 'C'"},
      {[&] { e["N"]->SetAsString("12x"); }, "'12x' is not a valid value for field 'N'"},
      {[&] { e["D"]->SetAsString("2/30/2001"); }, "'2/30/2001' is not a valid value for field 'D'"},
      {[&] { e["I"]->SetAsVariant(Variant(std::int64_t{1} << 40)); }, "Value 1099511627776 is out of range for field 'I'"},
  };
  for (const auto& [action, text] : ranges) EXPECT_EQ(ErrorOf(action), text);
  EXPECT_EQ(e["I"]->AsInteger(), 5);
  // A float read as an integer is the nearest one (halves away from zero).
  for (auto [value, nearest] : {std::pair{2.5, 3}, {-2.5, -3}, {2.4999, 2}, {-0.4, 0}, {2147483647.4, 2147483647}}) {
    e["F"]->SetAsFloat(value);
    EXPECT_EQ(e["F"]->AsInteger(), nearest) << value;
  }
  // Variants choose the kind's setter; a text for a number is parsed.
  e["N"]->SetValue("42");
  EXPECT_EQ(e["N"]->AsVariant(), Variant(std::int32_t{42}));
  e["C"]->SetValue(1.005);
  EXPECT_EQ(e["C"]->AsCurrency().scaled, 10050);
  e["B"]->SetValue(true);
  EXPECT_EQ(e["B"]->AsVariant(), Variant(true));
}

TEST(DataSetFieldKinds, DayNumbersAgreeWithPythonOrdinals) {
  Editing e;
  std::mt19937 rng(26);
  std::vector<std::string> lines;
  std::vector<std::pair<std::int32_t, double>> ours;
  for (int i = 0; i < 2000; ++i) {
    int y = std::uniform_int_distribution<int>(1, 9999)(rng);
    int m = std::uniform_int_distribution<int>(1, 12)(rng);
    int d = std::uniform_int_distribution<int>(1, rtl::DaysInMonth(y, m))(rng);
    int ms = std::uniform_int_distribution<int>(0, 86399999)(rng);
    lines.push_back(std::to_string(y) + " " + std::to_string(m) + " " + std::to_string(d) + " " + std::to_string(ms));
    e["D"]->SetAsDateTime(rtl::EncodeDate(y, m, d));
    std::int32_t day = 0;
    e["D"]->GetData(&day);
    rtl::TDateTime stamp = rtl::EncodeDate(y, m, d);
    stamp = stamp < 0 ? stamp - ms / 86400000.0 : stamp + ms / 86400000.0;
    e["DT"]->SetAsDateTime(stamp);
    double msecs = 0;
    e["DT"]->GetData(&msecs);
    ours.emplace_back(day, msecs);
    // And back: the date field gives the same calendar date.
    int y2, m2, d2;
    rtl::DecodeDate(e["D"]->AsDateTime(), y2, m2, d2);
    ASSERT_EQ(y2 * 10000 + m2 * 100 + d2, y * 10000 + m * 100 + d);
  }
  auto expected = PythonOver(
      "import sys, datetime\n"
      "for line in open(sys.argv[1]):\n"
      "  y, m, d, ms = map(int, line.split())\n"
      "  o = datetime.date(y, m, d).toordinal()\n"
      "  print(o, o * 86400000 + ms)\n",
      lines, "dataset_dates.txt");
  ASSERT_EQ(expected.size(), ours.size()) << "python3 did not run";
  for (std::size_t i = 0; i < ours.size(); ++i) {
    std::int64_t day, msecs;
    ASSERT_EQ(std::sscanf(expected[i].c_str(), "%ld %ld", &day, &msecs), 2);
    ASSERT_EQ(ours[i].first, day) << lines[i];
    ASSERT_EQ(ours[i].second, static_cast<double>(msecs)) << lines[i];
  }
}

TEST(DataSetFieldKinds, BcdTextAgreesWithPythonDecimal) {
  Editing e;
  std::mt19937 rng(2026);
  std::vector<std::string> texts;
  for (int i = 0; i < 2000; ++i) {
    std::string t = rng() % 2 ? "-" : "";
    int digits = static_cast<int>(rng() % 14) + 1, decimals = static_cast<int>(rng() % 8);
    for (int k = 0; k < digits; ++k) t += static_cast<char>('0' + rng() % 10);
    if (decimals) {
      t += '.';
      for (int k = 0; k < decimals; ++k) t += static_cast<char>('0' + rng() % 10);
    }
    texts.push_back(t);
  }
  texts.insert(texts.end(), {"0.00005", "-0.00005", "0.00004999", "922337203685477.5807", "-922337203685477.5808"});
  auto expected = PythonOver(
      "import sys, decimal\n"
      "decimal.getcontext().prec = 60\n"
      "for line in open(sys.argv[1]):\n"
      "  q = decimal.Decimal(line.strip()).quantize(decimal.Decimal('0.0001'), decimal.ROUND_HALF_UP)\n"
      "  print('0' if q == 0 else format(q.normalize(), 'f'), int(q * 10000))\n",
      texts, "dataset_decimals.txt");
  ASSERT_EQ(expected.size(), texts.size()) << "python3 did not run";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    char text[64];
    long long scaled;
    ASSERT_EQ(std::sscanf(expected[i].c_str(), "%63s %lld", text, &scaled), 2);
    e["C"]->SetAsString(texts[i]);
    ASSERT_EQ(e["C"]->AsString(), text) << texts[i];
    ASSERT_EQ(e["C"]->AsCurrency().scaled, scaled) << texts[i];
    // The currency field holds a double: exact up to 14 digits.
    if (std::llabs(scaled) < 100000000000000LL) {
      e["CU"]->SetAsCurrency(rtl::Currency{scaled});
      ASSERT_EQ(e["CU"]->AsCurrency().scaled, scaled) << texts[i];
    }
  }
  EXPECT_EQ(ErrorOf([&] { e["C"]->SetAsString("922337203685477.5808"); }),
            "Value 922337203685477.5808 is out of range for field 'C'");
}

TEST(DataSetFieldKinds, TextUnderPinnedFormatSettings) {
  rtl::FormatSettingsScope scope;
  rtl::TFormatSettings s;
  s.DecimalSeparator = ',';
  s.DateSeparator = '.';
  s.TimeSeparator = ':';
  s.ShortDateFormat = "dd/mm/yyyy";
  s.LongTimeFormat = "hh:nn:ss";
  rtl::SetFormatSettings(s);
  Editing e;
  const std::pair<const char*, std::pair<std::string, std::string>> rows[] = {
      {"D", {"7.3.1850", "07.03.1850"}},
      {"D", {"31.12.49", "31.12.2049"}},
      {"T", {"9:05", "09:05:00"}},
      {"DT", {"01.02.1703 23:59:59", "01.02.1703 23:59:59"}},
      {"DT", {"01.02.1703", "01.02.1703"}},
      {"F", {"-1,5", "-1,5"}},
      {"C", {"0,125", "0,125"}},
  };
  for (const auto& [field, io] : rows) {
    e[field]->SetAsString(io.first);
    EXPECT_EQ(e[field]->AsString(), io.second) << field << " " << io.first;
  }
  EXPECT_EQ(e["C"]->AsCurrency().scaled, 1250);  // the value keeps four decimals
  EXPECT_EQ(ErrorOf([&] { e["D"]->SetAsString("3/7/1850"); }), "'3/7/1850' is not a valid value for field 'D'");
  EXPECT_EQ(db::DateToStr(rtl::EncodeDate(1, 1, 1)), "01.01.0001");
}

TEST(DataSetDefinitions, SizesNamesAndIndexSearch) {
  const std::tuple<TFieldType, int, bool> sizes[] = {
      {ftString, 0, false}, {ftString, 1, true}, {ftString, 250, true}, {ftString, 251, false},
      {ftBytes, 250, true}, {ftVarBytes, 0, false}, {ftBCD, 0, true},   {ftBCD, 8, true},
      {ftBCD, 9, false},    {ftInteger, 0, true},  {ftInteger, 4, false}, {ftDate, 0, true}};
  for (auto [type, size, ok] : sizes)
    EXPECT_EQ(ErrorOf([&] { CheckFieldSize(type, size); }), ok ? "" : "Invalid field size") << int(type) << " " << size;

  TFieldDefs defs;
  defs.Add("Name", ftString, 20);
  EXPECT_EQ(ErrorOf([&] { defs.Add("", ftInteger); }), "Field name missing");
  EXPECT_EQ(ErrorOf([&] { defs.Add("NAME", ftInteger); }), "Duplicate field name 'NAME'");
  EXPECT_EQ(ErrorOf([&] { defs.Add("Big", ftString, 251); }), "Invalid field size");
  EXPECT_EQ(defs.Count(), 1);
  EXPECT_EQ(defs.Add("Age", ftInteger).FieldNo, 2);
  EXPECT_EQ(ErrorOf([&] { defs.Find("Nope"); }), "Field 'Nope' not found");

  TIndexDefs idx;
  idx.Add("", "Lname;Fname", ixPrimary);
  idx.Add("ByFull", "Fname", ixCaseInsensitive);
  idx.Add("ByFnameLong", "FnameLong", 0);
  idx.Add("Desc", "Pid", ixDescending);
  idx.Add("Pid2", "Pid;Sex", ixCaseInsensitive);
  EXPECT_EQ(ErrorOf([&] { idx.Add("byfull", "Sex", 0); }), "Duplicate index name 'byfull'");
  auto name_of = [&](const char* fields, bool ci) {
    const TIndexDef* d = idx.GetIndexForFields(fields, ci);
    return d ? d->Name : std::string("none");
  };
  EXPECT_EQ(name_of("lname", false), "");        // a prefix followed by ';'
  EXPECT_EQ(name_of("lname;FNAME", false), "");  // exact, case-blind names
  EXPECT_EQ(name_of("Lname", true), "none");     // not case-insensitive
  EXPECT_EQ(name_of("Fname", false), "ByFull");
  EXPECT_EQ(name_of("Fnam", false), "none");     // a longer name that merely begins with it
  EXPECT_EQ(name_of("Pid", false), "Pid2");      // the descending index is skipped
  EXPECT_EQ(name_of("Pid", true), "Pid2");
  EXPECT_EQ(ErrorOf([&] { idx.FindIndexForFields("Sex"); }), "No index for fields 'Sex'");
}

}  // namespace
}  // namespace dstest
