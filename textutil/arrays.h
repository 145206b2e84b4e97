// Sorting, searching and editing arrays of 32-bit integers and of strings
// held by the caller. A span is the whole array; Count says how many
// elements, from index 0, are in use. No routine goes beyond the span.
//
// ISortA, ISortD and IntSrch compare integers as unsigned 32-bit values,
// VantaSort as signed ones. StrSort and StrSrch order strings by their first
// two characters (byte order; a one-character string has the character 0 as
// its second, the empty string comes first).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace textutil {

// Comb sort of A[0 .. min(Count, size) - 1], ascending / descending.
void ISortA(std::span<std::int32_t> a, int count);
void ISortD(std::span<std::int32_t> a, int count);

// Flashsort (linear on evenly spread values) of A[0 .. Count-1], ascending
// as signed values. Borrows a table of Count / 8 counters; when it cannot
// be had the array is sorted without it.
void VantaSort(std::span<std::int32_t> a, int count);

// Binary search of value in the first Count elements (sorted ascending as
// unsigned values): the index of an equal element, else a negative number
// whose absolute value is the last position probed (-1 for position 0).
int IntSrch(std::span<const std::int32_t> a, std::int32_t value, int count);

// Selection sort of the first Count strings by their first two characters;
// of equal keys the one found last is taken first.
void StrSort(std::span<std::string> a, int count);

// Index of the first of the first Count strings (sorted by their first two
// characters) that begins with key; negative when none, -1 also when key
// has fewer than two characters.
int StrSrch(std::span<const std::string> a, std::string_view key, int count);

// Takes A[index] out of the used part A[0 .. n-1], n = min(Count, size):
// the elements after it move one place left and it goes to n - 1. False,
// nothing changed, when index lies outside the used part.
bool IntDelete(std::span<std::int32_t> a, int index, int count);
bool StrDelete(std::span<std::string> a, int index, int count);

// Moves the element at position Count (just past the used part) to index,
// shifting A[index .. Count-1] one place right. False, nothing changed, when
// there is no element at Count or index lies beyond Count.
bool IntInsert(std::span<std::int32_t> a, int index, int count);
bool StrInsert(std::span<std::string> a, int index, int count);

void StrSwap(std::string& s1, std::string& s2);

// For tests: when set, VantaSort's table request fails.
void SetVantaSortTableFailureForTest(bool fail);

}  // namespace textutil
