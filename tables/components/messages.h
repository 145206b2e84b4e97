// The dataset components' messages. They are raised as rtl::EDatabaseError,
// formatted with their one argument where they hold "%s".
#pragma once

#include <cstdint>

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
// Kept for the master-detail links; they have no text.
inline constexpr const char* kLinkMasterSource = "";
inline constexpr const char* kLinkMaster = "";
inline constexpr const char* kLinkDetail = "";

// Every message with its resource id (65488 to 65535), by id.
struct TComponentMessage {
  const char* Name;
  std::uint16_t Id;
  const char* Text;
};
inline constexpr TComponentMessage kMessages[] = {
    {"SLinkMasterSource", 65488, kLinkMasterSource},
    {"SLinkMaster", 65489, kLinkMaster},
    {"SNoTableName", 65490, kNoTableName},
    {"SNoFieldAccess", 65491, kNoFieldAccess},
    {"SInvalidVersion", 65492, kInvalidVersion},
    {"SEmptySQLStatement", 65504, kEmptySQLStatement},
    {"SNoParameterValue", 65505, kNoParameterValue},
    {"SNoParameterType", 65506, kNoParameterType},
    {"SParameterNotFound", 65507, kParameterNotFound},
    {"SParamTooBig", 65508, kParamTooBig},
    {"SNotEditing", 65509, kNotEditing},
    {"STableMismatch", 65510, kTableMismatch},
    {"SFieldReadOnly", 65511, kFieldReadOnly},
    {"SNotIndexField", 65512, kNotIndexField},
    {"SCircularDataLink", 65513, kCircularDataLink},
    {"SFieldIndexError", 65514, kFieldIndexError},
    {"SNoFieldIndexes", 65515, kNoFieldIndexes},
    {"SIndexFieldMissing", 65516, kIndexFieldMissing},
    {"SBeginTransError", 65517, kBeginTransError},
    {"SEndTransError", 65518, kEndTransError},
    {"SLinkDetail", 65519, kLinkDetail},
    {"SDuplicateDatabaseName", 65520, kDuplicateDatabaseName},
    {"SDuplicateSessionName", 65521, kDuplicateSessionName},
    {"SInvalidSessionName", 65522, kInvalidSessionName},
    {"SDatabaseNameMissing", 65523, kDatabaseNameMissing},
    {"SInvalidDatabaseName", 65524, kInvalidDatabaseName},
    {"SSessionNameMissing", 65525, kSessionNameMissing},
    {"SDatabaseOpen", 65526, kDatabaseOpen},
    {"SDatabaseClosed", 65527, kDatabaseClosed},
    {"SDatabaseHandleSet", 65528, kDatabaseHandleSet},
    {"SSessionActive", 65529, kSessionActive},
    {"SAutoSessionActive", 65530, kAutoSessionActive},
    {"SAutoSessionExclusive", 65531, kAutoSessionExclusive},
    {"SAutoSessionExists", 65532, kAutoSessionExists},
    {"SHandleError", 65533, kHandleError},
    {"SFieldUndefinedType", 65534, kFieldUndefinedType},
    {"SFieldUnsupportedType", 65535, kFieldUnsupportedType},
};

// The message with resource id `id`; nullptr when no message has it.
constexpr const TComponentMessage* MessageById(std::uint16_t id) {
  for (const TComponentMessage& m : kMessages)
    if (m.Id == id) return &m;
  return nullptr;
}

// Our own, without a resource id.
// A table stream needs a table held in memory.
inline constexpr const char* kNotInMemoryTable = "Table %s is not an in-memory table";
// RestructureTable with a field list read from another table, or from this
// one before its fields changed.
inline constexpr const char* kRestructureDefsStale =
    "The restructure definitions were read from another table or before its fields changed; update them first";

}  // namespace korvex::cmsg
