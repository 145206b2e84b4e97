// The journal's bytes (laid out as the top of journal.h describes): its
// headers and entries, the checksums that seal them, and their salts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvex::jnl {

// The header of the current layout, with entries right after it.
constexpr std::size_t kHeaderSize = 8 + 3 * 4 + 4 + 4;
// A header that names where its entries begin.
constexpr std::size_t kPlacedHeaderSize = kHeaderSize + 4;
// What ends a journal: zeros over the magic of its header, which no look then
// takes for a header.
inline constexpr std::uint8_t kEndMark[8] = {};
// An entry's file, position and length, before its old bytes.
constexpr std::size_t kEntryHead = 1 + 4 + 4;

// The bytes of an entry of `length` old bytes: its head, those bytes and
// its checksum.
constexpr std::size_t EntrySize(std::size_t length) { return kEntryHead + length + 4; }

// The layouts a journal may have been written in; each seals its entries
// its own way (headers alike: CRC-32 of the bytes before the checksum).
enum class TLayout { None, First, Second, Third, Placed };

// A new header of the current layouts: the old lengths of the files, the
// salt, and where its entries begin (a placed header unless right after
// it), sealed.
std::vector<std::uint8_t> EncodeHeader(const std::vector<std::int64_t>& old_lengths, std::uint32_t salt,
                                       std::int64_t entries_from);

// The valid header at the start of `bytes`: its layout, where its entries
// begin (0: no valid header) and its salt.
std::size_t ParseHeader(const std::uint8_t* bytes, std::size_t size, std::uint32_t& salt, TLayout& layout);

// The old length of file `index` (0 to 2) named by a valid header.
std::uint32_t HeaderOldLength(const std::uint8_t* header, std::size_t index);

// Fills in the head of an entry of `length` old bytes at `position` of
// file `index`; the old bytes follow it at entry + kEntryHead.
void EncodeEntryHead(std::uint8_t* entry, std::size_t index, std::uint32_t position, std::uint32_t length);

// Seals the entry of `length` old bytes at `entry`, its head and bytes
// in place, with its checksum of the current layouts under `salt`.
void SealEntry(std::uint8_t* entry, std::size_t length, std::uint32_t salt);

// An entry found valid in a journal: its file, where its old bytes lie in
// the journal's bytes, and where they go.
struct TEntryView {
  std::size_t index, at;
  std::uint32_t position, length;
};

// The valid entries of `layout` under `salt` from `from` of the journal's
// `bytes` on, up to the first torn one.
std::vector<TEntryView> ValidEntries(const std::vector<std::uint8_t>& bytes, std::size_t from, TLayout layout,
                                     std::uint32_t salt);

// A salt no earlier flush is likely to have used: drawn afresh for every
// flush (a generator's state would be shared by forked processes).
std::uint32_t FreshSalt();

}  // namespace korvex::jnl
