// TStatementUndo: what one INSERT ... SELECT, UPDATE or DELETE did to its
// target inside a transaction it did not start, kept so that the statement,
// should it fail part way, takes back its own changes and leaves the
// transaction running with what came before it.
//
// The engine's transaction holds its changes in the table's caches until
// the commit and has no mark inside it, so the statement notes each change
// as it makes it and takes them back, last first, through its own cursor:
//   - an appended record is deleted again;
//   - a modified record gets its old bytes back, and each memo the
//     statement rewrote its old content (the BLOB the statement wrote is
//     truncated and refilled, as an UPDATE writes one);
//   - a deleted record is appended again with its record ID, its bytes and
//     the content of every BLOB it had. The free chain of a table with a
//     primary index hands out the last freed place first, so the record
//     returns to its own physical place; a table without one appends at
//     its end, so there the record returns after the others.
// The cursor's own writes keep the indexes and BLOB files in step. The
// record IDs the statement gave out stay given (a record on the free chain
// keeps its ID, and a later one must not repeat it): the next
// auto-increment value comes after them, as after a delete.
//
// What is kept, in memory: per appended record its number; per modified
// record its old bytes and the old content of the memos changed; per
// deleted record its bytes and all its BLOB contents.
#pragma once

#include <cstdint>
#include <vector>

#include "tables/engine/cursor/data_cursor.h"

namespace korvex {

class TStatementUndo {
public:
  // `cursor` is the statement's cursor on its target, with its
  // SuppressAutoIncValues setting; `rewritten_blobs` the BLOB fields
  // (numbers in the cursor) an UPDATE sets.
  TStatementUndo(TDataCursor& cursor, bool suppress_auto_inc, std::vector<int> rewritten_blobs);

  // The record the cursor just appended (its current record).
  void Appended();
  // Before the current record, read into `old`, is modified or deleted;
  // Forget takes the note back when that write failed (it undid itself).
  void Modifying(const std::uint8_t* old);
  void Deleting(const std::uint8_t* old);
  void Forget();

  std::size_t Steps() const { return steps_.size(); }
  // Takes every noted change back, last first.
  void Undo();

private:
  enum class TKind : std::uint8_t { Appended, Modified, Deleted };
  struct TStep {
    TKind kind;
    std::uint32_t record;  // physical number
    std::size_t bytes;     // where its record image and BLOB contents begin in bytes_
  };
  void Note(TKind kind, const std::uint8_t* old, const std::vector<int>& blobs);
  // The BLOB contents noted at `at` put into `buffer`'s fields `blobs`.
  std::size_t PutBlobs(std::size_t at, std::uint8_t* buffer, const std::vector<int>& blobs);

  TDataCursor& cursor_;
  bool suppress_auto_inc_;
  std::vector<int> rewritten_blobs_, all_blobs_;
  std::vector<TStep> steps_;
  // Record images and BLOB contents (a 64-bit length, then the bytes) end
  // to end.
  std::vector<std::uint8_t> bytes_;
};

}  // namespace korvex
