// The body of the fuzz target for what a form file or a user hands the
// query component: the parameters' "Data" property and the marker scan of
// an SQL text. Shared with the normal build (tests/tables/sql/query replays
// the corpus through it).
//
// The first byte picks the reader: even reads the rest as a "Data" stream,
// odd scans it as SQL. Checked: a stream either reads (and then writes and
// reads back to an equal list, when every value fits the written form) or
// fails with the database error, leaving the list as it was; the scan makes
// no more parameters than its output holds "?" signs and never lengthens
// the text. Reads never go past the input (AddressSanitizer in the fuzz
// build).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/runtime/exceptions.h"
#include "platform/runtime/streams.h"
#include "tables/sql/query/param_markers.h"
#include "tables/sql/query/query_params.h"

#include "fuzz/fuzz_check.h"

namespace korvex::fuzz {

inline void QueryData(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    TKORVEXParams params;
    params.CreateParam(db::ftInteger, "keep", ptInput)->SetAsInteger(7);
    rtl::TStringStream stream(rest);
    try {
      params.ReadData(stream);
    } catch (const rtl::EDatabaseError&) {
      QV_FUZZ_CHECK(params.Count() == 1 && params.At(0)->Name() == "keep" && params.At(0)->AsInteger() == 7);
      return;
    } catch (...) {
      QV_FUZZ_CHECK_FAILED("an exception other than a database error");
    }
    QV_FUZZ_CHECK(stream.Position() <= static_cast<std::int64_t>(rest.size()));
    // Written again (values that no longer fit are refused), the stream
    // reads back the same list.
    rtl::TStringStream out(std::string{});
    try {
      params.WriteData(out);
    } catch (const rtl::EDatabaseError&) {
      return;
    } catch (...) {
      QV_FUZZ_CHECK_FAILED("an exception other than a database error");
    }
    TKORVEXParams again;
    out.SetPosition(0);
    try {
      again.ReadData(out);
    } catch (...) {
      QV_FUZZ_CHECK_FAILED("a written stream does not read back");
    }
    QV_FUZZ_CHECK(again.Count() == params.Count());
  } else {
    TKORVEXParams params;
    const std::string text = CreateParams(&params, rest);
    std::size_t marks = 0;
    for (char c : text) marks += c == '?';
    QV_FUZZ_CHECK(static_cast<std::size_t>(params.Count()) <= marks);
    QV_FUZZ_CHECK(text.size() <= rest.size());
  }
}

}  // namespace korvex::fuzz
