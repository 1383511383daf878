// The command and reply blocks that desktop synchronisation programs and
// Tabulon Pro's bridge plug-in exchange over DDE (service "TBP_MOBILE").
// The plug-in reads commands and builds replies; the desktop sync provider
// builds commands and reads replies. Both go through this one pair.
//
// A block is, in order:
//
//   offset 0  u8   message type, 1 to 9 (DdeMessage)
//   offset 1  u8   argument kind, which follows from the type (DdeArgumentKind)
//   offset 2  ...  the arguments: counted strings, each a length byte and
//                  that many ANSI bytes
//             u8   one zero byte
//
// A block is built in a buffer of kDdeBlockBytes and is as long as its
// last byte, the terminating zero. A counted string may be empty, so its
// length byte is a zero in the middle of the block: a block travels with
// its stated length (DdeBlock::size), never cut at its first zero byte.
//
// Every reply has type 1 (DdeMessage::kReply) and carries one decimal
// number, possibly negative, as its counted string.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Status.h"

namespace tbm::sync {

// The buffer a block is built in; no block is longer.
constexpr std::size_t kDdeBlockBytes = 520;
// The most bytes a counted string carries.
constexpr std::size_t kMaxDdeStringBytes = 255;

// The service, topic and reply item of the conversation.
inline constexpr char kDdeServiceName[] = "TBP_MOBILE";
inline constexpr char kDdeTopicName[] = "TBP_MOBILE";
inline constexpr char kDdeReplyItemName[] = "TBP_MOBILE_RESPONSE";

// The version the plug-in answers to kProtocolVersion: 2.0 in the upper
// and lower 16 bits; callers check the upper half for 2.
constexpr std::int32_t kDdeProtocolVersion = 0x20000;

enum class DdeMessage : std::uint8_t {
  kReply = 1,            // number: the answer to any command
  kStart = 2,            // device name, device identifier: gather the databases
  kWhichDatabase = 3,    // database name: the index of the matching database
  kMergeAndExport = 4,   // number (database index): merge "TBSC.sdb", write "TBSS.sdb"
  kUnsupported = 5,      // number
  kExportNext = 6,       // none: write "TBSS.sdb" for the next database not yet handled
  kEnd = 7,              // none: delete "TBSS.sdb"
  kExchangeFolder = 8,   // folder path for the exchange and set-aside files
  kProtocolVersion = 9,  // none
};

enum class DdeArgumentKind : std::uint8_t {
  kTwoStrings = 1,
  kNumber = 2,  // a decimal number as one counted string
  kOneString = 3,
  kNone = 4,
  kOutOfRange = 255,  // the type is not 1 to 9
};

// The argument kind of a message type: 2 two strings; 3 and 8 one string;
// 6, 7 and 9 none; 1, 4 and 5 a number; any other type kOutOfRange.
DdeArgumentKind DdeArgumentKindOf(std::uint8_t type);

// A command or reply as values.
struct DdeCommand {
  std::uint8_t type = 0;
  // kTwoStrings: two; kOneString: one; otherwise none. ANSI bytes, at most
  // kMaxDdeStringBytes each, no zero byte inside.
  std::vector<std::string> strings;
  // kNumber only.
  std::int32_t number = 0;

  static DdeCommand WithStrings(DdeMessage type, std::string first, std::string second);
  static DdeCommand WithString(DdeMessage type, std::string text);
  static DdeCommand WithNumber(DdeMessage type, std::int32_t number);
  static DdeCommand WithoutArgument(DdeMessage type);
};

// A built block: the buffer and how much of it the block takes.
struct DdeBlock {
  std::array<std::uint8_t, kDdeBlockBytes> buffer{};
  std::size_t size = 0;

  std::span<const std::uint8_t> bytes() const { return {buffer.data(), size}; }
};

// Builds the block of a command. kInvalidArgument, and *block unchanged,
// when the type is not 1 to 9, the strings do not match the type's kind,
// or a string is longer than kMaxDdeStringBytes or holds a zero byte.
Status BuildDdeBlock(const DdeCommand& command, DdeBlock* block);

// The reply block carrying number (type 1). Never fails.
DdeBlock BuildDdeReply(std::int32_t number);

// Reads a block of any command or reply type. Refuses (kTruncated,
// kCorrupt or kBadCountedString, naming what is wrong, *command
// unchanged) a block shorter than its type and kind, a type outside 1 to
// 9, a kind that does not match the type, a counted string that runs past
// the block's end or holds a zero byte, a missing terminating zero, and a
// number that is not a decimal int32 ("-12", "0", "131072"; no sign but a
// leading '-', no spaces). Bytes after the terminating zero are ignored.
Status ReadDdeBlock(std::span<const std::uint8_t> bytes, DdeCommand* command);

// As above, and refuses (kCorrupt) a block whose type is not expected.
Status ReadDdeBlock(std::span<const std::uint8_t> bytes, DdeMessage expected, DdeCommand* command);

// Reads a reply block's number: ReadDdeBlock expecting kReply.
Status ReadDdeReply(std::span<const std::uint8_t> bytes, std::int32_t* number);

}  // namespace tbm::sync
