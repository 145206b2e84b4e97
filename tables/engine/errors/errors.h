// Engine error numbers, the process-wide error record and the one routine
// through which the table engine fails.
//
// Every failure of the table engine is one 16-bit number with up to four
// context texts (table, field, index, free message). RaiseError stores them
// in the error record and throws EKORVEXEngineError, whose text is built by
// GetErrorString from the number's message template.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvex {

using TEngineErrorCode = std::uint16_t;

// The numbers the engine raises. The high byte groups them.
namespace err {
inline constexpr TEngineErrorCode kBeginningOfFile = 8705;        // 0x2201
inline constexpr TEngineErrorCode kEndOfFile = 8706;              // 0x2202
inline constexpr TEngineErrorCode kRecordChanged = 8708;          // 0x2204
inline constexpr TEngineErrorCode kNoCurrentRecord = 8709;        // 0x2205
inline constexpr TEngineErrorCode kRecordNotFound = 8710;         // 0x2206
inline constexpr TEngineErrorCode kEndOfBlob = 8711;              // 0x2207
inline constexpr TEngineErrorCode kHeaderCorrupt = 8961;          // 0x2301
inline constexpr TEngineErrorCode kDataRecordsCorrupt = 8962;     // 0x2302
inline constexpr TEngineErrorCode kBlobBlocksCorrupt = 8963;      // 0x2303
inline constexpr TEngineErrorCode kIndexPagesCorrupt = 8965;      // 0x2305
inline constexpr TEngineErrorCode kReadError = 9217;              // 0x2401
inline constexpr TEngineErrorCode kWriteError = 9218;             // 0x2402
inline constexpr TEngineErrorCode kCannotDeleteTable = 9220;      // 0x2404
inline constexpr TEngineErrorCode kHeaderAccess = 9221;           // 0x2405
inline constexpr TEngineErrorCode kMaxRecordSize = 9477;          // 0x2505
inline constexpr TEngineErrorCode kTableFull = 9479;              // 0x2507
inline constexpr TEngineErrorCode kTooManyFilters = 9482;         // 0x250A
inline constexpr TEngineErrorCode kIndexLimits = 9487;            // 0x250F
inline constexpr TEngineErrorCode kFieldLimits = 9492;            // 0x2514
inline constexpr TEngineErrorCode kTooManyBlobs = 9494;           // 0x2516
inline constexpr TEngineErrorCode kBlobFieldsOrBlockSize = 9498;  // 0x251A
inline constexpr TEngineErrorCode kDuplicateKey = 9729;           // 0x2601
inline constexpr TEngineErrorCode kBelowMinimum = 9730;           // 0x2602
inline constexpr TEngineErrorCode kAboveMaximum = 9731;           // 0x2603
inline constexpr TEngineErrorCode kValueRequired = 9732;          // 0x2604
inline constexpr TEngineErrorCode kInvalidField = 9985;           // 0x2701
inline constexpr TEngineErrorCode kPrimaryIndexExists = 9993;     // 0x2709
inline constexpr TEngineErrorCode kInvalidBlobOffset = 9998;      // 0x270E
inline constexpr TEngineErrorCode kInvalidFieldDefinition = 10000;// 0x2710
inline constexpr TEngineErrorCode kInvalidValidityCheck = 10006;  // 0x2716
inline constexpr TEngineErrorCode kIndexNameMissing = 10010;      // 0x271A
inline constexpr TEngineErrorCode kInvalidPassword = 10015;       // 0x271F
inline constexpr TEngineErrorCode kInvalidIndexName = 10022;      // 0x2726
inline constexpr TEngineErrorCode kInvalidIndexField = 10023;     // 0x2727
inline constexpr TEngineErrorCode kInvalidKeySize = 10026;        // 0x272A
inline constexpr TEngineErrorCode kIndexExists = 10027;           // 0x272B
inline constexpr TEngineErrorCode kInvalidBlobLength = 10029;     // 0x272D
inline constexpr TEngineErrorCode kInvalidBlobHandle = 10030;     // 0x272E
inline constexpr TEngineErrorCode kTableInUse = 10031;            // 0x272F
inline constexpr TEngineErrorCode kInvalidFieldName = 10038;      // 0x2736
inline constexpr TEngineErrorCode kInvalidFilterHandle = 10050;   // 0x2742
inline constexpr TEngineErrorCode kFilterError = 10051;           // 0x2743
inline constexpr TEngineErrorCode kPrimaryIndexRemoval = 10055;   // 0x2747
inline constexpr TEngineErrorCode kTableLocked = 10241;           // 0x2801
inline constexpr TEngineErrorCode kCannotUnlock = 10242;          // 0x2802
inline constexpr TEngineErrorCode kLockFailure = 10249;           // 0x2809
inline constexpr TEngineErrorCode kNeedsExclusive = 10253;        // 0x280D
inline constexpr TEngineErrorCode kRecordInUse = 10258;           // 0x2812
inline constexpr TEngineErrorCode kPasswordRequired = 10498;      // 0x2902
inline constexpr TEngineErrorCode kInvalidBlobField = 10753;      // 0x2A01
inline constexpr TEngineErrorCode kNotInitialized = 10758;        // 0x2A06
inline constexpr TEngineErrorCode kInvalidFileName = 11010;       // 0x2B02
inline constexpr TEngineErrorCode kTooManyOpenFiles = 11012;      // 0x2B04
inline constexpr TEngineErrorCode kAccessDenied = 11013;          // 0x2B05
inline constexpr TEngineErrorCode kInvalidFileHandle = 11014;     // 0x2B06
inline constexpr TEngineErrorCode kOutOfMemory = 11016;           // 0x2B08
inline constexpr TEngineErrorCode kInvalidMemoryLength = 11017;   // 0x2B09
inline constexpr TEngineErrorCode kDeviceAccessDenied = 11023;    // 0x2B0F
inline constexpr TEngineErrorCode kTableMoved = 11025;            // 0x2B11
inline constexpr TEngineErrorCode kUnknownOsError = 11047;        // 0x2B27
inline constexpr TEngineErrorCode kSqlError = 11949;              // 0x2EAD
inline constexpr TEngineErrorCode kWrongVersion = 12035;          // 0x2F03
inline constexpr TEngineErrorCode kInvalidIndexFieldType = 12292; // 0x3004
inline constexpr TEngineErrorCode kTableExists = 13060;           // 0x3304
inline constexpr TEngineErrorCode kLanguageUnavailable = 15878;   // 0x3E06
}  // namespace err

// Context texts are short strings: longer ones are cut at this many bytes.
inline constexpr std::size_t kMaxContextLength = 255;

// Fills the error record and throws EKORVEXEngineError. Never returns.
[[noreturn]] void RaiseError(TEngineErrorCode code, std::string_view table_name = {},
                             std::string_view field_name = {}, std::string_view index_name = {},
                             std::string_view message = {});

// The formatted message of `code` with the contexts of the error record,
// cut to 255 characters.
std::string GetErrorString(TEngineErrorCode code);

// The same written into a caller's buffer: at most 254 characters and a
// terminating zero (the buffer must hold 255 bytes).
void GetErrorString(TEngineErrorCode code, char* buffer);

// The message template of a number; nullptr for a number the engine does
// not know.
const char* ErrorTemplate(TEngineErrorCode code);

TEngineErrorCode GetLastErrorNumber();

// 0 the field name, 1 the table name, 2 the index name, else empty.
std::string GetErrorContext(int which);

void LockErrorInformation();
void UnlockErrorInformation();

void AssignErrorContexts(TEngineErrorCode code, std::string_view table_name,
                         std::string_view field_name, std::string_view index_name,
                         std::string_view message);
void ClearErrorContexts();

}  // namespace korvex
