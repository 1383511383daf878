// The plug-in interface of Tabulon Pro, the desktop database application.
//
// A plug-in is a shared library (".tbx") that Tabulon Pro loads into its own
// process. It exports one entry point, TBExternCallProc, which the host calls
// on its main thread with a parameter block. The block carries the host's
// interface version, the call code, a result the plug-in sets, and the
// table of host services through which the plug-in reaches the host's
// databases. The plug-in keeps the block for as long as it runs (from call
// code 0 to call code 4): the block and its services stay valid that long.
//
// Texts pass in the host's byte form: Mac OS Roman with CR line ends, or,
// when the host's ANSI code page is 932, 936, 949 or 950, that code page
// with CR line ends. A text that does not convert between the host's
// Unicode and this form is refused (TB_ERR_UNCONVERTIBLE), never replaced;
// TBHostServices::lastError says which text and why.
//
// Every service returns at once and never calls back into the plug-in.
// Services that return a length copy up to size - 1 bytes and a terminating
// zero (when size > 0) and return the text's whole length, so a caller
// whose buffer was too small can ask again; negative results are TB_ERR_
// codes.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// The four-character codes of flag queries and plug-in data, as a number
// whose most significant byte is the first character.
#define TB_FOURCC(a, b, c, d)                                          \
  ((static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24) | \
   (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16) | \
   (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8) |  \
   static_cast<std::uint32_t>(static_cast<unsigned char>(d)))

// The flag query of a database's synchronisation flags.
constexpr std::uint32_t TB_QUERY_SYNC_FLAGS = TB_FOURCC('T', 'B', 'C', 'P');

// Service results.
constexpr std::int32_t TB_OK = 0;
constexpr std::int32_t TB_ERR_FAILED = -1;         // the host could not do it
constexpr std::int32_t TB_ERR_NOT_FOUND = -2;      // no such database, record, field, list or data
constexpr std::int32_t TB_ERR_UNCONVERTIBLE = -3;  // a text does not convert
constexpr std::int32_t TB_ERR_BAD_ARGUMENT = -4;   // a null, out-of-range or malformed argument
constexpr std::int32_t TB_ERR_NO_RECORD = -5;      // no current record
constexpr std::int32_t TB_ERR_NOT_EDITING = -6;    // a write outside BeginEdit / CommitEdit

// The host's editions.
constexpr std::uint16_t TB_EDITION_STANDARD = 1;
constexpr std::uint16_t TB_EDITION_ADVANCED = 2;

// Field types.
constexpr std::int32_t TB_FIELD_TEXT = 1;
constexpr std::int32_t TB_FIELD_NUMBER = 2;
constexpr std::int32_t TB_FIELD_DATE = 3;
constexpr std::int32_t TB_FIELD_TIME = 4;

// Record selections.
constexpr std::int32_t TB_SELECTION_CURRENT = 0;  // the records the user has selected
constexpr std::int32_t TB_SELECTION_ALL = 1;      // every record

// A database open in the host. Valid while it stays open.
struct TBDatabase_;
using TBDatabase = TBDatabase_*;

// A field key: a counted string (byte 0 the length, at most 15 bytes after
// it) that names a field for good, whatever the field's name becomes.
struct TBFieldKey {
  std::uint8_t bytes[16];
};

// A record identity: eight bytes that name a record for good, in the form
// the handheld keeps them: a counted string (byte 0 the length, 1 to 7,
// then that many bytes, the rest zero).
struct TBRecordIdentity {
  std::uint8_t bytes[8];
};

// A database's date and time formats. Characters and suffixes are in the
// host's byte form; suffixes are zero-terminated.
struct TBDateTimeFormat {
  std::uint8_t dateSeparator;
  std::uint8_t dateOrder;  // 1 M/D/Y, 2 D/M/Y, 3 Y/M/D, 4 D/Y/M, 5 M/Y/D; 0 none
  std::uint8_t twoDigitMonth;
  std::uint8_t twoDigitDay;
  std::uint8_t preferTypedSeparator;
  std::uint8_t timeSeparator;
  std::uint8_t leadingZero;
  std::uint8_t twelveHourClock;
  char morningSuffix[6];
  char afternoonSuffix[6];
  char twentyFourSuffix[10];
};

struct TBHostServices {
  // sizeof(TBHostServices) as the host was built; a plug-in uses no member
  // past it.
  std::uint32_t size;
  std::uint16_t interfaceVersion;
  std::uint16_t edition;

  // What the last failed service call of this thread met, in words (UTF-8);
  // empty after a success.
  const char* (*lastError)();

  // ---- databases ----
  // The databases open in the host, in the order they were opened.
  std::int32_t (*countDatabases)();
  TBDatabase (*database)(std::int32_t index);
  // The database the user is working in (the front one), or null.
  TBDatabase (*currentDatabase)();
  // A database's flags for a query code (TB_QUERY_SYNC_FLAGS); 0 when it
  // has none.
  std::uint32_t (*queryFlags)(TBDatabase db, std::uint32_t query);
  std::int32_t (*databaseName)(TBDatabase db, char* buffer, std::int32_t size);
  std::int32_t (*dateTimeFormat)(TBDatabase db, TBDateTimeFormat* format);
  std::int32_t (*recordCount)(TBDatabase db);

  // ---- plug-in data: bytes kept in the database under a four-character key ----
  // The data's length (copies up to size bytes, no terminator), or
  // TB_ERR_NOT_FOUND.
  std::int32_t (*readPluginData)(TBDatabase db, std::uint32_t key, void* buffer, std::int32_t size);
  std::int32_t (*writePluginData)(TBDatabase db, std::uint32_t key, const void* data,
                                  std::int32_t size);

  // ---- records: a chosen selection and a current record in it ----
  // Chooses TB_SELECTION_CURRENT or TB_SELECTION_ALL for going to records;
  // returns the number of records in it.
  //
  // Record changes (create, duplicate, delete, commitEdit) are seen at once
  // by the plug-in's later calls and saved to the database file together:
  // when the plug-in next chooses a selection, or else when the host's call
  // into the plug-in is over. A chooseSelection that returns a count
  // therefore tells that every change before it is saved; when the saving
  // fails, it returns TB_ERR_FAILED and none of those changes is kept.
  std::int32_t (*chooseSelection)(TBDatabase db, std::int32_t selection);
  // Makes record n (1 to the selection's count) of the chosen selection
  // the current record.
  std::int32_t (*goToRecord)(TBDatabase db, std::int32_t n);
  std::int32_t (*recordIdentity)(TBDatabase db, TBRecordIdentity* identity);
  // The current record's modification count (0 to 65535), raised by every
  // committed change.
  std::int32_t (*modificationCount)(TBDatabase db);
  // Makes the record with this identity current; TB_ERR_NOT_FOUND when
  // there is none.
  std::int32_t (*findRecord)(TBDatabase db, const TBRecordIdentity* identity);
  // A new empty record, made current (with a new identity).
  std::int32_t (*createRecord)(TBDatabase db);
  // A copy of the current record (with a new identity), made current.
  std::int32_t (*duplicateRecord)(TBDatabase db);
  // Deletes the current record; none is current afterwards.
  std::int32_t (*deleteRecord)(TBDatabase db);
  // Field writes go between these; CommitEdit keeps them (and raises the
  // modification count once).
  std::int32_t (*beginEdit)(TBDatabase db);
  std::int32_t (*commitEdit)(TBDatabase db);

  // ---- fields, by index 0 to countFields - 1 ----
  std::int32_t (*countFields)(TBDatabase db);
  // The field a key names, or TB_ERR_NOT_FOUND.
  std::int32_t (*fieldByKey)(TBDatabase db, const TBFieldKey* key);
  std::int32_t (*fieldKey)(TBDatabase db, std::int32_t field, TBFieldKey* key);
  // TB_FIELD_TEXT to TB_FIELD_TIME (a host may have other types).
  std::int32_t (*fieldType)(TBDatabase db, std::int32_t field);
  std::int32_t (*fieldName)(TBDatabase db, std::int32_t field, char* buffer, std::int32_t size);
  // The current record's text of a field.
  std::int32_t (*readFieldText)(TBDatabase db, std::int32_t field, char* buffer, std::int32_t size);
  // Sets the current record's text of a field (length bytes, no terminator
  // needed); only between BeginEdit and CommitEdit.
  std::int32_t (*writeFieldText)(TBDatabase db, std::int32_t field, const char* text,
                                 std::int32_t length);

  // ---- value lists, by name ----
  std::int32_t (*countValueLists)(TBDatabase db);
  std::int32_t (*valueListName)(TBDatabase db, std::int32_t index, char* buffer, std::int32_t size);
  // The list's text: its items, each ended by a CR. TB_ERR_NOT_FOUND when
  // the database has no list of that name.
  std::int32_t (*valueListText)(TBDatabase db, const char* name, char* buffer, std::int32_t size);
};

// The parameter block: a 16-bit interface version at offset 0, the call
// code at offset 9, the result at offset 24, the services at offset 32.
struct TBParamBlock {
  std::uint16_t interfaceVersion;
  std::uint8_t reserved1[7];
  std::uint8_t callCode;
  std::uint8_t reserved2[14];
  std::int32_t result;
  std::uint8_t reserved3[4];
  const TBHostServices* services;
};
static_assert(offsetof(TBParamBlock, interfaceVersion) == 0);
static_assert(offsetof(TBParamBlock, callCode) == 9);
static_assert(offsetof(TBParamBlock, result) == 24);
static_assert(offsetof(TBParamBlock, services) == 32);

// The host's interface version.
constexpr std::uint16_t TB_INTERFACE_VERSION = 13;

// Call codes.
constexpr std::uint8_t TB_CALL_START = 0;
constexpr std::uint8_t TB_CALL_STOP = 4;
constexpr std::uint8_t TB_CALL_ABOUT = 5;
constexpr std::uint8_t TB_CALL_SETTINGS = 6;

// The plug-in's entry point.
using TBExternCallProcFn = void (*)(TBParamBlock* block);
#define TB_EXTERN_CALL_PROC_NAME "TBExternCallProc"

}  // extern "C"
