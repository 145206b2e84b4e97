// What the dataset's filters need besides the cursor's own: the text of
// the one-off lookup filter of Locate and Lookup (the cursor answers it
// from indexes where it can), and a BLOB read whole.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dataset/fields.h"
#include "platform/dataset/variant.h"
#include "tables/engine/cursor/filters.h"

namespace korvex {

class TDataCursor;

// The whole content of a BLOB field of a record buffer ("" when it has
// none), read without touching the caller's buffer.
std::string ReadWholeBlob(TDataCursor& cursor, int field, const std::uint8_t* record);

// The text of a lookup filter: per field "[name] = constant" (or "= NULL"
// for a null value), joined by AND. A partial string key compares its own
// length: a trailing '*' of the key is dropped and the constant ends in
// the engine's prefix mark '*' (the filter is then made with partial
// compare on). Values are written as the table's language reads them.
std::string LookupFilterText(const std::vector<db::TField*>& fields, const std::vector<db::Variant>& values,
                             bool partial, TLocalePair locale);

}  // namespace korvex
