#include "tables/engine/errors/errors.h"

#include <mutex>

#include "tables/engine/errors/engine_error.h"

namespace korvex {
namespace {

// One template per number. `contexts` names the context texts that fill the
// '%s' placeholders, in order: T table, F field, I index, M message; a
// trailing R adds the message, when there is one, after ": " (the system's
// reason for a failed transfer).
struct ErrorEntry {
  TEngineErrorCode code;
  const char* contexts;
  const char* text;
};

constexpr ErrorEntry kErrors[] = {
    {8705, "T", "Beginning of file encountered in table '%s'"},
    {8706, "T", "End of file encountered in table '%s'"},
    {8708, "T", "Record has been changed or deleted by another user, session, or table cursor in table '%s'"},
    {8709, "T", "No current record in table '%s'"},
    {8710, "T", "Record not found in table '%s'"},
    {8711, "T", "End of blob data in table '%s' reached prematurely"},
    {8961, "T", "Header information corrupt in table '%s'"},
    {8962, "T", "Data record buffers corrupt in table '%s'"},
    {8963, "T", "BLOB block buffers corrupt in table '%s'"},
    {8965, "T", "Index page buffers corrupt in table '%s'"},
    {9217, "TR", "Error reading from table '%s'"},
    {9218, "TR", "Error writing to table '%s'"},
    {9220, "T", "Cannot delete table '%s'"},
    {9221, "T", "Error accessing header information for table '%s'"},
    {9477, "T", "Maximum record size exceeded in table '%s'"},
    {9479, "T", "The table '%s' is full and cannot contain any more data"},
    {9482, "T", "Too many filters defined for table '%s'"},
    {9487, "T", "Maximum or minimum limits on number of indexes or fields in an index exceeded in table '%s'"},
    {9492, "T", "Maximum or minimum limits on number of fields, auto-increment field value, or field size exceeded in table '%s'"},
    {9494, "T", "Too many blobs opened in table '%s'"},
    {9498, "T", "Too many blob fields or invalid blob block size specified for table '%s'"},
    {9729, "IT", "Duplicate key found in index '%s' of table '%s'"},
    {9730, "FT", "The value for the field '%s' in table '%s' is below the minimum allowable value"},
    {9731, "FT", "The value for the field '%s' in table '%s' is above the maximum allowable value"},
    {9732, "FT", "A value must be provided for the field '%s' in table '%s'"},
    {9985, "FT", "Invalid field number or name '%s' specified for table '%s'"},
    {9993, "T", "A primary index is already defined for table '%s' and cannot be added again"},
    {9998, "T", "Invalid blob offset into table '%s' specified"},
    {10000, "FT", "Invalid field definition specified for the field '%s' in table '%s'"},
    {10006, "FT", "Invalid default, min or max validity check, or expression specified for '%s' in table '%s'"},
    {10010, "T", "The secondary index name is missing or not specified for table '%s'"},
    {10015, "T", "Password provided for table '%s' is invalid"},
    {10022, "IT", "Invalid secondary index name '%s' specified for table '%s'"},
    {10023, "FIT", "Invalid field number '%s' specified in index '%s' for table '%s'"},
    {10026, "IT", "Invalid key size specified in index '%s' for table '%s'"},
    {10027, "IT", "The secondary index '%s' already exists for table '%s'"},
    {10029, "T", "Invalid blob length in table '%s'"},
    {10030, "T", "Invalid blob handle for table '%s' specified"},
    {10031, "T", "table '%s' is already in use"},
    {10038, "FT", "Invalid or duplicate field name '%s' specified for table '%s'"},
    {10050, "T", "Invalid filter handle specified for table '%s'"},
    {10051, "TM", "Filter error for table '%s' - %s"},
    {10055, "T", "The primary index cannot be removed from table '%s'"},
    {10241, "T", "The table '%s' is already locked by another user"},
    {10242, "T", "Cannot unlock table or record in table '%s'"},
    {10249, "T", "General lock failure with table '%s'"},
    {10253, "T", "table '%s' must be opened exclusively"},
    {10258, "T", "Record in table '%s' is in use by another user"},
    {10498, "T", "Insufficient rights to table '%s', a password is required"},
    {10753, "FT", "Invalid blob field '%s' specified for table '%s'"},
    {10758, "", "Engine not initialized"},
    {11010, "T", "Invalid path or file name for table '%s'"},
    {11012, "T", "Too many files open while attempting to open table '%s'"},
    {11013, "T", "Access denied to table '%s'"},
    {11014, "T", "Invalid file handle for table '%s'"},
    {11016, "", "There is insufficient operating system memory available for the current operation"},
    {11017, "T", "Invalid length for in-memory table '%s'"},
    {11023, "T", "Access denied to logical operating system device for table '%s'"},
    {11025, "T", "table '%s' has been moved"},
    {11047, "T", "An unknown operating system error occurred with table '%s'"},
    {11949, "M", "SQL error - %s"},
    {12035, "T", "table '%s' is not the correct version"},
    {12292, "IT", "Invalid field type specified for index '%s' in table '%s'"},
    {13060, "T", "The table '%s' already exists"},
    {15878, "T", "The language driver for table '%s' is not available or installed"},
};
static_assert(sizeof(kErrors) / sizeof(kErrors[0]) == 65);

// Any number not in the table.
constexpr ErrorEntry kUnknownError = {0, "T", "Unknown error occurred with table '%s'"};

struct ErrorRecord {
  std::recursive_mutex lock;
  TEngineErrorCode code = 0;
  std::string table_name, field_name, index_name, message;
};

ErrorRecord& Record() {
  static ErrorRecord record;
  return record;
}

const ErrorEntry* FindEntry(TEngineErrorCode code) {
  for (const ErrorEntry& entry : kErrors)
    if (entry.code == code) return &entry;
  return nullptr;
}

std::string ShortString(std::string_view text) {
  return std::string(text.substr(0, kMaxContextLength));
}

// Replaces each "%s" of the template by the next context; "%%" is a percent
// sign. Context texts are inserted as they are, never re-read as a format.
std::string Fill(const ErrorEntry& entry, const ErrorRecord& record) {
  std::string out;
  const char* next = entry.contexts;
  for (const char* p = entry.text; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      switch (*next ? *next++ : ' ') {
        case 'T': out += record.table_name; break;
        case 'F': out += record.field_name; break;
        case 'I': out += record.index_name; break;
        case 'M': out += record.message; break;
        default: break;
      }
      ++p;
    } else {
      out += *p;
    }
  }
  if (*next == 'R' && !record.message.empty()) out += ": " + record.message;
  return out;
}

}  // namespace

const char* ErrorTemplate(TEngineErrorCode code) {
  const ErrorEntry* entry = FindEntry(code);
  return entry ? entry->text : nullptr;
}

void LockErrorInformation() { Record().lock.lock(); }
void UnlockErrorInformation() { Record().lock.unlock(); }

void AssignErrorContexts(TEngineErrorCode code, std::string_view table_name,
                         std::string_view field_name, std::string_view index_name,
                         std::string_view message) {
  ErrorRecord& record = Record();
  std::lock_guard<std::recursive_mutex> guard(record.lock);
  record.code = code;
  record.table_name = ShortString(table_name);
  record.field_name = ShortString(field_name);
  record.index_name = ShortString(index_name);
  record.message = ShortString(message);
}

void ClearErrorContexts() { AssignErrorContexts(0, {}, {}, {}, {}); }

TEngineErrorCode GetLastErrorNumber() {
  ErrorRecord& record = Record();
  std::lock_guard<std::recursive_mutex> guard(record.lock);
  return record.code;
}

std::string GetErrorContext(int which) {
  ErrorRecord& record = Record();
  std::lock_guard<std::recursive_mutex> guard(record.lock);
  switch (which) {
    case 0: return record.field_name;
    case 1: return record.table_name;
    case 2: return record.index_name;
    default: return {};
  }
}

std::string GetErrorString(TEngineErrorCode code) {
  ErrorRecord& record = Record();
  std::lock_guard<std::recursive_mutex> guard(record.lock);
  const ErrorEntry* entry = FindEntry(code);
  std::string text = Fill(entry ? *entry : kUnknownError, record);
  if (text.size() > kMaxContextLength) text.resize(kMaxContextLength);
  return text;
}

void GetErrorString(TEngineErrorCode code, char* buffer) {
  std::string text = GetErrorString(code);
  std::size_t n = text.size() < 254 ? text.size() : 254;
  text.copy(buffer, n);
  buffer[n] = '\0';
}

void RaiseError(TEngineErrorCode code, std::string_view table_name, std::string_view field_name,
                std::string_view index_name, std::string_view message) {
  // The exception formats its text from the record while this thread still
  // holds the lock, so a raise on another thread cannot slip in between;
  // the lock is released while the exception leaves this frame.
  std::lock_guard<std::recursive_mutex> guard(Record().lock);
  ClearErrorContexts();
  AssignErrorContexts(code, table_name, field_name, index_name, message);
  DbiError(code);
}

}  // namespace korvex
