// Finds a search pattern in a whole file at once, as the scan routines match
// it in one line: case-blind (a pattern character also matches the text
// character whose case image it is) and '?' standing for any character.
//
// The search tests two anchor characters of the pattern sixteen positions
// at a time and compares the whole pattern only where both agree, so a
// search through a million lines takes a few milliseconds. It serves as a
// sieve: the lines it points at are then matched by the rules themselves.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace appcore {

// Two bytes of a pattern at their offsets in it, each standing for one of
// two bytes (a letter and its case image): every occurrence of the pattern
// holds them there, so the places where both stand are all that need a
// closer look.
struct PatternAnchors {
  uint32_t first = 0, second = 0;  // offsets in the pattern
  std::array<uint8_t, 2> first_bytes{}, second_bytes{};
  uint32_t size = 0;  // of the pattern
  bool operator==(const PatternAnchors&) const = default;
  // How far past a place the anchors reach.
  uint32_t Reach() const { return first > second ? first : second; }
};

class PatternFinder {
public:
  static constexpr size_t npos = static_cast<size_t>(-1);

  explicit PatternFinder(std::string_view pattern);

  // False when the pattern has no character to anchor on (empty, all '?',
  // or case tables that map many bytes onto one character).
  bool Usable() const { return usable_; }

  // Offset of the first occurrence starting at or after from, or npos.
  size_t Find(std::string_view text, size_t from) const;
  // Whether an occurrence starts at offset at of text (and fits in it).
  bool OccursAt(std::string_view text, size_t at) const {
    return usable_ && at <= text.size() && text.size() - at >= pattern_.size() &&
           MatchesAt(reinterpret_cast<const uint8_t*>(text.data()) + at);
  }
  // The anchors the search tests first (when Usable()).
  PatternAnchors Anchors() const {
    return {static_cast<uint32_t>(anchor1_), static_cast<uint32_t>(anchor2_), set1_, set2_,
            static_cast<uint32_t>(pattern_.size())};
  }
  // False when text lacks a byte that every occurrence holds (so that
  // neither text nor any text made by dropping bytes from it holds one).
  bool MayOccurIn(std::string_view text) const;

private:
  bool MatchesAt(const uint8_t* p) const;
  // Thirty-two positions at a time where the processor allows: the first
  // occurrence at or after i, npos when there is none, or kGoOn with i
  // left where the narrower search takes over.
  static constexpr size_t kGoOn = static_cast<size_t>(-2);
  size_t FindWide(const uint8_t* s, size_t n, size_t& i, size_t last) const;

  std::string pattern_;
  bool usable_ = false;
  std::vector<std::bitset<256>> accepts_;  // per pattern position
  size_t anchor1_ = 0, anchor2_ = 0;        // positions in the pattern
  std::array<uint8_t, 2> set1_{}, set2_{};  // the bytes each anchor accepts
};

// Whether the bytes of a line holding '[' from reach before its first
// bracket to reach after its last hold a byte of each anchor: 0 when they
// do not (a pattern found nowhere in the line as it stands is then not
// found once its brackets are dropped either), 1 when they do, -1 when this
// is not known (the line is long: 128 bytes or more, 256 or more on the
// AVX-512 path).
int AnchorsNearBrackets(std::string_view line, const PatternAnchors& anchors, size_t reach);

// An anchor's two bytes as one: those that equal image once bit is set in
// them (bit 0 when the two are one byte, the bit they differ in when they
// differ in one bit alone, as a letter and its case image do); not usable
// when they differ in more.
struct AnchorFold {
  bool usable = false;
  uint8_t bit = 0, image = 0;
};

inline AnchorFold FoldOf(const std::array<uint8_t, 2>& bytes) {
  const auto bit = static_cast<uint8_t>(bytes[0] ^ bytes[1]);
  if ((bit & (bit - 1)) != 0) return {};
  return {true, bit, static_cast<uint8_t>(bytes[0] | bit)};
}

constexpr int kNearNotKnown = -2;

// What AnchorsNearBracketsAt compares a line's bytes with, each byte in
// all 64 lanes, and the routine this processor runs it with: laid out once
// for a pass over many lines, so that each line costs its comparisons
// alone.
struct NearBracketsLanes {
  NearBracketsLanes(const PatternAnchors& anchors, size_t reach);
  alignas(64) uint8_t cr[64], lf[64], bracket[64], not_two[64];
  alignas(64) uint8_t first_bit[64], first_image[64], second_bit[64], second_image[64];
  size_t reach = 0;
  bool usable = false;  // both anchors fold (see FoldOf)
  int (*at)(const char* line, size_t available, const NearBracketsLanes& lanes, size_t& size) = nullptr;
};

// AnchorsNearBrackets (with the lanes' reach) for the line that starts at
// line, found as it is read: size receives its length, up to its first CR
// or LF; available bytes from line on may be read. kNearNotKnown when that
// is not known at once (the line's end lies 128 bytes or more on, fewer
// bytes are available, or the anchors do not fold); size is then not set.
inline int AnchorsNearBracketsAt(const char* line, size_t available, const NearBracketsLanes& lanes, size_t& size) {
  return lanes.at(line, available, lanes, size);
}

// The first occurrence of any of several patterns (the alternatives of an
// OR), remembering where each was last found.
class AnyPatternFinder {
public:
  explicit AnyPatternFinder(const std::vector<std::string>& patterns);
  bool Usable() const { return usable_; }
  // The only pattern's finder, or null when there are several or none.
  const PatternFinder* Single() const { return finders_.size() == 1 ? &finders_[0] : nullptr; }
  // Starts over for another text.
  void Reset();
  size_t Find(std::string_view text, size_t from);
  // Whether some pattern occurs in text; the results Find keeps stay.
  bool OccursIn(std::string_view text) const;
  // Whether some pattern may occur in text (see PatternFinder::MayOccurIn).
  bool MayOccurIn(std::string_view text) const;

private:
  static constexpr size_t kUnknown = PatternFinder::npos - 1;
  std::vector<PatternFinder> finders_;
  std::vector<size_t> next_;  // last result per finder, valid while >= from
  bool usable_ = true;
};

// Finds words, the runs of bytes between blanks and line ends, that hold an
// anchor byte and whose bytes' classes together carry every bit asked for
// (see LineMatcher::SoundSieve). The anchors are looked for thirty-two
// bytes at a time where the processor allows, sixteen otherwise.
class WordClassFinder {
public:
  static constexpr size_t npos = PatternFinder::npos;

  // With in_order, a word passes only when it carries the bits in their
  // order: bytes at positions p0 <= p1 <= ... of the classes of the bits
  // asked for, from the lowest bit on (as the letters of a word give the
  // letters of its key in turn).
  WordClassFinder(const std::array<uint8_t, 256>& classes, uint8_t need, std::string_view anchors,
                  bool in_order = false);

  // The first byte of the first such word whose anchor lies in [from,
  // until) of text, or npos; end receives where the word ends. A word never
  // begins before from when text[from - 1] ends a word.
  size_t Find(std::string_view text, size_t from, size_t until, size_t& end) const;
  // Whether the bytes of text together carry every bit asked for.
  bool MayOccurIn(std::string_view text) const;

private:
  // Find without the order of the bits.
  size_t FindAnyOrder(std::string_view text, size_t from, size_t until, size_t& end) const;
  // Whether the bytes [begin, end) of s carry the bits in order.
  bool InOrder(const uint8_t* s, size_t begin, size_t end) const;
  // Sixty-four bytes a turn: every byte's class and every word's bounds
  // as bit masks, each word judged by a few sums over them instead of a
  // walk over its bytes. Only where the classes belong to ASCII letters
  // alike in both cases and the anchors are the bytes of one class asked
  // for, and no word straddles from.
  size_t FindByWindows(const uint8_t* s, size_t n, size_t from, size_t until, size_t& end) const;

  std::array<uint8_t, 256> classes_;
  uint8_t need_;
  std::string anchors_;
  std::array<bool, 256> is_anchor_{};
  bool in_order_ = false;
  std::array<uint8_t, 8> order_{};  // the bits asked for, lowest first
  int order_count_ = 0;
  bool by_windows_ = false;
  uint8_t anchor_bit_ = 0;  // the class whose bytes are the anchors
  int others_ = 0;          // the other classes asked for
  // The classes of the bytes 0x60 .. 0x6F and 0x70 .. 0x7F (the lower-case
  // letters and what shares their low bits).
  std::array<uint8_t, 16> low_classes_{}, high_classes_{};
};

}  // namespace appcore
