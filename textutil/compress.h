// Three byte-stream compressors and the longitudinal check byte.
//
// Every coder takes a source and a count: n = count when it is not 0 and not
// more than the source length, else the whole source. An empty source (or
// n = 0) gives "". Inputs of any length are handled.
//
// Run-length coding (IniRLE, RLE, RLD)
//   A byte below 192 stands for itself; 192 followed by any byte stands for
//   that byte (the escape, used for every literal of 192 or more); a byte
//   192 + k (k = 1..63) stands for k further copies of the byte before it.
//   The coder and decoder remember the last byte (and the decoder a pending
//   escape) between calls, so a stream may be coded in pieces; IniRLE
//   resets both to 0. Since the last byte starts as 0, a stream beginning
//   with 0 bytes begins with a run byte.
//
// Splay-tree prefix coding (IniSQZ, SQZ, UnSQZ)
//   An adaptive code over 257 symbols (the bytes and an end symbol) held in
//   a splay tree that coder and decoder splay alike. SQZ writes the code of
//   each byte and then of the end symbol, bits packed from the least
//   significant bit up, the last byte zero-padded. UnSQZ decodes bits until
//   the source runs out; an end symbol skips the rest of its byte, and a
//   code cut off at the end of a call continues in the next one, so blocks
//   laid end to end decode as one. Code after IniSQZ and decode after
//   another IniSQZ, with no other use of the coder in between.
//
// Byte-pair coding (BPE, BPD)
//   A block:  offset 0     1 byte   127 + P, the number of pairs (128..254)
//             offset 1     2 bytes  D, the length of the coded data, LE
//             offset 3     D bytes  coded data
//             offset 3+D   2P bytes for code 129 + i: second byte, first byte
//   In the coded data a byte below 128 stands for itself, 128 followed by x
//   stands for x + 128, and 129..255 stand for their pair, whose bytes may be
//   codes or escapes again. A pair only refers to codes made before it.
//   BPE returns one block, or the source itself when no pair occurs three
//   times and the source begins with a byte below 128 (BPD copies a source
//   that begins below 128). A source whose coded data would not fit the
//   16-bit D is coded as several blocks of up to 32767 source bytes laid end
//   to end, each with its own pairs; BPD decodes blocks until the source
//   ends. A block that needs no pairs carries one unused pair (0, 0).
//
// The run-length and splay-tree state is process-wide: one stream at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace textutil {

void IniRLE();
std::string RLE(std::string_view source, std::size_t count = 0);
std::string RLD(std::string_view source, std::size_t count = 0);

void IniSQZ();
std::string SQZ(std::string_view source, std::size_t count = 0);
std::string UnSQZ(std::string_view source, std::size_t count = 0);

std::string BPE(std::string_view source, std::size_t count = 0);
// Decoding ends early, keeping what was decoded, at a damaged block: a code
// beyond its pair table, a pair referring to itself or a later code, or a
// block expanding to more than 65535 bytes. A first block whose data length
// exceeds the source gives "".
std::string BPD(std::string_view source, std::size_t count = 0);

// All bytes combined by exclusive or; 0 for "".
int LRC(std::string_view s);

}  // namespace textutil
