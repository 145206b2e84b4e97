// Arranging of baptism hits for reading: sorted by date, then gathered into
// groups by an arrange key, each group introduced by an empty line and kept
// in date order.
//
// Arrange key of a hit line, from its second ';'-separated field (the
// child's name), trimmed: the head is the field up to one character past
// its first blank (the whole field when it has no blank); the key is the
// MetaPhone key of the head (8 characters, blank-padded), then the two
// characters from the first blank, then the character two places after the
// first ',' when there is one. Keys compare case-blind.
//
// Every hit stands on its own line, once. A hit is never appended to the
// one before it in date order, not even one that does not begin with a
// digit: hits are whole records (a line beginning with '?' is a record
// whose year is unknown), so appending it would join two records and list
// the second one twice.
//
// Both sorts are stable sorts of keys worked out once per line, so equal
// dates keep the search's order and equal keys keep date order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/pacer.h"

namespace appcore {

class WorkCrew;

// The arrange key of one hit line.
std::string ArrangeKey(std::string_view line, int key_length);

// Sorts lines by date, stably (HitDate order). Reports "Date sort error:"
// followed by the first unreadable date text through report, once per call.
// With a pacer the sort may be cancelled: false, and lines as they were.
bool SortByDate(std::vector<std::string>& lines, const std::function<void(const std::string&)>& report,
                Pacer* pacer = nullptr);

struct ArrangeCallbacks {
  // Called about every kProgressIntervalMs, through the date sort, the
  // keying and the group sort, with the number of lines keyed so far;
  // return false to cancel.
  std::function<bool(int64_t done)> progress;
  // Receives "Date sort error:" + date text, at most once per arrange.
  std::function<void(const std::string& message)> report;
  // The caller's crew of threads, kept between calls so that arranging
  // starts none of its own; one is started for the call when null.
  WorkCrew* crew = nullptr;
};

struct ArrangeOutcome {
  std::vector<std::string> lines;  // groups, each after an empty line
  bool cancelled = false;          // lines is then empty
};

// Arranges hits (moved into the result; pass a copy to keep them).
ArrangeOutcome Arrange(std::vector<std::string> hits, int key_length, const ArrangeCallbacks& callbacks);

// The same arrangement as places in hits, for a caller that keeps the hits
// and reads the arranged lines from them: rows[i] is line i of what Arrange
// gives, kGroupBreak for a group's empty line. Empty when cancelled.
inline constexpr uint32_t kGroupBreak = UINT32_MAX;
struct ArrangedRows {
  std::vector<uint32_t> rows;
  bool cancelled = false;
};
ArrangedRows ArrangeRows(const std::vector<std::string>& hits, int key_length, const ArrangeCallbacks& callbacks);

}  // namespace appcore
