// The word-break library: answers one question for the engine's find. Does a
// search text occur, without regard to case, at the start of a word of a field
// text?
//
// Words are found by ICU's rule-based break iterator running our own compiled
// rules (tbmwd.brk); case is made irrelevant by upper-casing both texts with
// ICU's full, locale-aware mapping and comparing UTF-16 code units. Which
// positions start a word (hyphenated and apostrophe names, digits, scripts
// written without spaces) is decided by the rules and explained in their
// source, res/wordbreak/tbmwd.txt.
//
// Usage: TBMWbrInit() once at start-up; per find, FWOpenSession with the
// search text, FWFindWord for each field text, FWCloseSession.
//
// Data files. TBMWbrInit looks for the folder "tbmres/" beside the running
// program's executable. It must hold, as regular files:
//   tbmwd.brk   our compiled word-break rules, which each session loads;
//   uprops.dat  ICU's Unicode property data.
// The environment variable TBM_WBR_DATA_DIR, when set and not empty, names
// another folder to use instead (tests use it to present missing or damaged
// files without touching the installed ones).
//
// Results are small integers: 0 success or found, 1 failure, 2 not found.
// No exception leaves these functions. The library has no threads; a session
// is used by one thread at a time.
#pragma once

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#include <uchar.h>
#endif

#if defined(__GNUC__)
#define TBMWBR_EXPORT __attribute__((visibility("default")))
#else
#define TBMWBR_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The result codes.
enum {
  TBMWBR_SUCCESS = 0,     // done; for FWFindWord: the search text was found
  TBMWBR_FAILURE = 1,     // bad argument, missing data, or an ICU failure
  FW_WORD_NOT_FOUND = 2,  // FWFindWord only: no word of the text starts with it
};

// ICU's break iterator, declared as ICU declares it so that callers of this
// header need not include ICU's.
struct UBreakIterator;

// One find: the search text prepared once, reused for every field text.
// Allocated zero-filled by FWOpenSession, freed by FWCloseSession; callers
// read it but never change or free its members.
typedef struct FWSession {
  // The ICU locale identifier used for upper-casing: ICU's default locale,
  // or "en_US" when ICU has none. Owned by ICU (or a constant); never freed.
  const char* locale;
  // The word-break iterator made from our compiled rules. Owned.
  struct UBreakIterator* iterator;
  // The length of upperSearch in UTF-16 code units: the length of the search
  // text once upper-cased, which is longer than the text itself when a
  // character upper-cases to several ("ß" becomes "SS").
  int32_t searchLength;
  // The search text upper-cased with locale, zero-terminated. Owned.
  char16_t* upperSearch;
  // Unused; always zero.
  void* reserved;
  // The compiled rules the iterator reads from; they must outlive it. Owned,
  // freed at close when set.
  void* ruleImage;
} FWSession;

// Points ICU's data directory at the data folder (see above) after checking
// that tbmwd.brk and uprops.dat are regular files in it; later sessions load
// their rules from that folder. Call once at start-up, before any session is
// opened; calling again re-checks and re-points (sessions already open are
// unaffected).
// Returns 0 on success; 1 when the program's path cannot be read, a file is
// missing or is not a regular file, or the folder's path (with its trailing
// '/') does not fit in 260 bytes with its terminator. After a failure no
// session can be opened until a later call succeeds.
TBMWBR_EXPORT int TBMWbrInit(void);

// Does nothing; returns 0. Kept so that start-up and shut-down pair up.
TBMWBR_EXPORT int TBMWbrShutdown(void);

// Opens a session for searchText (zero-terminated UTF-16; may be empty):
// takes the locale, creates the iterator from the data folder's tbmwd.brk
// and stores the upper-cased search text.
// REQUIRES: a successful TBMWbrInit.
// Returns 0 and sets *session, which the caller closes with FWCloseSession.
// Returns 1, leaving *session unchanged, when searchText or session is null,
// TBMWbrInit has not succeeded, tbmwd.brk cannot be read or is not the
// compiled rules this library was built with (a damaged file is refused
// whole: ICU does not check the tables inside), or ICU fails.
TBMWBR_EXPORT int FWOpenSession(const char16_t* searchText, FWSession** session);

// Tells whether text (zero-terminated UTF-16) has a word boundary, other
// than its end, at which its upper-cased form continues with the session's
// upper-cased search text. The comparison may run on across the boundaries
// that follow ("JOHN SM" is found in "John Smith"). An empty search text is
// found in any non-empty text; an empty text never holds anything.
// Returns 0 when found, 2 when not found, 1 when session or text is null or
// ICU fails.
TBMWBR_EXPORT int FWFindWord(FWSession* session, const char16_t* text);

// Closes the iterator and frees everything the session owns, then the
// session itself. Returns 0; 1 when session is null.
TBMWBR_EXPORT int FWCloseSession(FWSession* session);

#ifdef __cplusplus
}  // extern "C"
#endif
