// What the desktop sync provider and the handheld sync agent say to each
// other over the remote-invocation stream, message by message. Both ends use
// these readers and writers; the desktop's copy and the handheld's changes
// themselves are exchange files (ExchangeFile.h) and travel apart from them.
// All integers are little-endian.
//
// FindFiles (no input):
//   handheld -> desktop  DatabaseListAnswer    i32 1 and the database list
//                                              (DatabaseList.h), or i32 0 when
//                                              the handheld's engine did not start
//
// SyncDatabase, whose 4 input bytes say the mode (SyncDatabaseMode):
//  synchronise an existing database:
//   desktop -> handheld  DatabaseToSynchronise  i32 N, then N bytes: the name
//                                               and its NUL (N 1 to 260)
//   handheld -> desktop  ChangesReady           i32 0: the handheld's changes are
//                                               in its exchange file (only when
//                                               they could be written)
//   desktop -> handheld  DesktopDecision        i32: low 16 bits 0 take the
//                                               desktop's copy, else keep the
//                                               handheld's data
//   desktop -> handheld  (taking) the desktop's copy, an exchange file
//   handheld -> desktop  (taking) CopyNameEcho  i32 n + 1, then the copy's name
//                                               as a counted string: length byte
//                                               n and n bytes; sent once the
//                                               fields are rebuilt
//   handheld -> desktop  UnchangedRecordCount   i32: records of the copy that
//                                               were marked unchanged
//  create a database:
//   desktop -> handheld  the desktop's copy
//   handheld -> desktop  CopyNameEcho
//   handheld -> desktop  UnchangedRecordCount, then CreationOutcome: i16 0 the
//                        database was made, 1 it was not
//
// Each writer hands its whole message to the sink and flushes it (the other
// end waits for it); a sink that takes less is kWriteFailed. Each reader
// takes exactly its message's bytes from the source and refuses, leaving
// its output unchanged: a source that ends early (kTruncated), a length
// outside its range (kBadLength), a count that cannot be (kBadCount) and a
// word that is none of those the message knows (kCorrupt).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ByteStream.h"
#include "DatabaseList.h"
#include "Status.h"

namespace tbm::sync {

// The mode of a SyncDatabase call: its input's first byte is 0 for
// kSynchronise, anything else for kCreate.
enum class SyncDatabaseMode : std::uint8_t {
  kSynchronise = 0,  // an existing handheld database, named in the stream
  kCreate = 1,       // a new handheld database made from the desktop's copy
};
inline constexpr std::size_t kSyncDatabaseInputBytes = 4;

std::array<std::uint8_t, kSyncDatabaseInputBytes> WriteSyncDatabaseInput(SyncDatabaseMode mode);
// Refuses fewer than 4 bytes (kTruncated) and more (kBadLength).
Status ReadSyncDatabaseInput(std::span<const std::uint8_t> input, SyncDatabaseMode* mode);

struct DatabaseListAnswer {
  // False when the handheld's database engine did not start: no list
  // follows the word.
  bool engineStarted = false;
  std::vector<DatabaseListEntry> databases;  // only when engineStarted
};
// Refuses entries the list cannot hold (kInvalidArgument) before it writes
// anything.
Status WriteDatabaseListAnswer(ByteSink& sink, const DatabaseListAnswer& answer);
Status ReadDatabaseListAnswer(ByteSource& source, DatabaseListAnswer* answer);

// The most bytes of the name of the database to synchronise, with its NUL.
inline constexpr std::size_t kDatabaseToSynchroniseBytes = 260;
// `name` in the ANSI code page, without NUL: at most 259 bytes.
Status WriteDatabaseToSynchronise(ByteSink& sink, std::string_view name);
// *name: the bytes before the first NUL (all N when there is none).
Status ReadDatabaseToSynchronise(ByteSource& source, std::string* name);

Status WriteChangesReady(ByteSink& sink);
Status ReadChangesReady(ByteSource& source);

enum class DesktopDecision {
  kTakeDesktopCopy,   // the desktop's copy follows and replaces the handheld's data
  kKeepHandheldData,  // nothing follows; the handheld's data stays as it is
};
Status WriteDesktopDecision(ByteSink& sink, DesktopDecision decision);
Status ReadDesktopDecision(ByteSource& source, DesktopDecision* decision);

// The longest name a counted string carries.
inline constexpr std::size_t kCopyNameEchoBytes = 255;
Status WriteCopyNameEcho(ByteSink& sink, std::string_view name);
// Also refuses a length byte that does not match the word in front of it
// (kBadCountedString).
Status ReadCopyNameEcho(ByteSource& source, std::string* name);

// Refuses a negative count (kBadCount), writing or reading.
Status WriteUnchangedRecordCount(ByteSink& sink, std::int32_t count);
Status ReadUnchangedRecordCount(ByteSource& source, std::int32_t* count);

Status WriteCreationOutcome(ByteSink& sink, bool made);
Status ReadCreationOutcome(ByteSource& source, bool* made);

}  // namespace tbm::sync
