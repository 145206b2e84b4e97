// The dataset components' messages. They are raised as rtl::EDatabaseError,
// formatted with their one argument where they hold "%s".
#pragma once

namespace korvex::cmsg {

inline constexpr const char* kDuplicateDatabaseName = "Database name %s already exists.";
inline constexpr const char* kDuplicateSessionName = "Session name %s already exists.";
inline constexpr const char* kInvalidSessionName = "Session name %s is not valid.";
inline constexpr const char* kDatabaseNameMissing = "Database name is missing.";
inline constexpr const char* kInvalidDatabaseName = "Database name %s is not valid.";
inline constexpr const char* kSessionNameMissing = "Session name is missing.";
inline constexpr const char* kDatabaseOpen = "Cannot perform this operation on an open database.";
inline constexpr const char* kDatabaseClosed = "Cannot perform this operation on a closed database.";
inline constexpr const char* kDatabaseHandleSet = "Database handle owned by a different session";
inline constexpr const char* kSessionActive = "Cannot perform this operation on an active session.";
inline constexpr const char* kAutoSessionActive = "Cannot perform this operation on the active auto-session.";
inline constexpr const char* kAutoSessionExclusive = "The active auto-session can be the only active session.";
inline constexpr const char* kAutoSessionExists = "This auto-session already exists.";
inline constexpr const char* kHandleError = "Error creating table handle.";
inline constexpr const char* kFieldUndefinedType = "Field '%s' is of unknown type";
inline constexpr const char* kFieldUnsupportedType = "Field '%s' is of an unsupported type";
inline constexpr const char* kEmptySQLStatement = "No SQL statement available";
inline constexpr const char* kNoParameterValue = "No value for parameter '%s'";
inline constexpr const char* kTableMismatch = "Source and destination tables are incompatible.";
inline constexpr const char* kBeginTransError = "Database %s already has an active transaction.";
inline constexpr const char* kEndTransError = "Database %s has no active transaction.";
inline constexpr const char* kNoTableName = "Missing table name.";
inline constexpr const char* kNoParameterType = "No parameter type for parameter '%s'";
inline constexpr const char* kParameterNotFound = "Parameter '%s' not found";
inline constexpr const char* kParamTooBig = "Parameter '%s', cannot save data larger than %d bytes";
inline constexpr const char* kNotEditing = "Table is not in edit or insert mode.";
inline constexpr const char* kFieldReadOnly = "Field %s cannot be modified.";
inline constexpr const char* kNotIndexField = "Field %s is not in the current index.";
inline constexpr const char* kCircularDataLink = "Circular data links are not allowed.";
inline constexpr const char* kFieldIndexError = "Field index out of range.";
inline constexpr const char* kNoFieldIndexes = "No fields defined for the current index.";
inline constexpr const char* kIndexFieldMissing = "Cannot access index field %s.";
inline constexpr const char* kNoFieldAccess = "Cannot access field %s.";
inline constexpr const char* kInvalidVersion = "Unable to load bind parameters";
// Our own: a table stream needs a table held in memory.
inline constexpr const char* kNotInMemoryTable = "Table %s is not an in-memory table";

}  // namespace korvex::cmsg
