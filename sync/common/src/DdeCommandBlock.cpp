#include "DdeCommandBlock.h"

#include <charconv>

namespace tbm::sync {
namespace {

constexpr std::size_t kTypeOffset = 0;
constexpr std::size_t kKindOffset = 1;
constexpr std::size_t kArgumentsOffset = 2;

// How many counted strings a kind carries.
std::size_t StringCount(DdeArgumentKind kind) {
  switch (kind) {
    case DdeArgumentKind::kTwoStrings:
      return 2;
    case DdeArgumentKind::kNumber:
    case DdeArgumentKind::kOneString:
      return 1;
    default:
      return 0;
  }
}

Status Refused(const std::string& sentence) {
  return Status(StatusCode::kCorrupt, "the DDE block " + sentence);
}

// A strict decimal int32: an optional '-', then digits, nothing else.
bool ParseNumber(std::string_view text, std::int32_t* number) {
  if (text.empty() || text == "-") return false;
  const std::size_t digitsFrom = text[0] == '-' ? 1 : 0;
  for (std::size_t i = digitsFrom; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  std::int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  *number = value;
  return true;
}

}  // namespace

DdeArgumentKind DdeArgumentKindOf(std::uint8_t type) {
  switch (type) {
    case 2:
      return DdeArgumentKind::kTwoStrings;
    case 3:
    case 8:
      return DdeArgumentKind::kOneString;
    case 6:
    case 7:
    case 9:
      return DdeArgumentKind::kNone;
    case 1:
    case 4:
    case 5:
      return DdeArgumentKind::kNumber;
    default:
      return DdeArgumentKind::kOutOfRange;
  }
}

DdeCommand DdeCommand::WithStrings(DdeMessage type, std::string first, std::string second) {
  DdeCommand command;
  command.type = static_cast<std::uint8_t>(type);
  command.strings = {std::move(first), std::move(second)};
  return command;
}

DdeCommand DdeCommand::WithString(DdeMessage type, std::string text) {
  DdeCommand command;
  command.type = static_cast<std::uint8_t>(type);
  command.strings = {std::move(text)};
  return command;
}

DdeCommand DdeCommand::WithNumber(DdeMessage type, std::int32_t number) {
  DdeCommand command;
  command.type = static_cast<std::uint8_t>(type);
  command.number = number;
  return command;
}

DdeCommand DdeCommand::WithoutArgument(DdeMessage type) {
  DdeCommand command;
  command.type = static_cast<std::uint8_t>(type);
  return command;
}

Status BuildDdeBlock(const DdeCommand& command, DdeBlock* block) {
  const DdeArgumentKind kind = DdeArgumentKindOf(command.type);
  if (kind == DdeArgumentKind::kOutOfRange) {
    return Status(StatusCode::kInvalidArgument,
                  "message type " + std::to_string(command.type) + " is not 1 to 9");
  }
  std::vector<std::string> strings;
  if (kind == DdeArgumentKind::kNumber) {
    if (!command.strings.empty()) {
      return Status(StatusCode::kInvalidArgument, "message type " + std::to_string(command.type) +
                                                      " carries a number, not strings");
    }
    strings.push_back(std::to_string(command.number));
  } else {
    if (command.strings.size() != StringCount(kind)) {
      return Status(StatusCode::kInvalidArgument,
                    "message type " + std::to_string(command.type) + " carries " +
                        std::to_string(StringCount(kind)) + " string(s), not " +
                        std::to_string(command.strings.size()));
    }
    strings = command.strings;
  }
  for (std::size_t i = 0; i < strings.size(); ++i) {
    if (strings[i].size() > kMaxDdeStringBytes) {
      return Status(StatusCode::kInvalidArgument, "string " + std::to_string(i + 1) + " has " +
                                                      std::to_string(strings[i].size()) +
                                                      " bytes; a DDE block carries at most " +
                                                      std::to_string(kMaxDdeStringBytes));
    }
    if (strings[i].find('\0') != std::string::npos) {
      return Status(StatusCode::kInvalidArgument,
                    "string " + std::to_string(i + 1) + " holds a zero byte");
    }
  }

  // Two strings of 255 bytes with their length bytes, the type, the kind
  // and the terminator take 515 bytes: every block fits the buffer.
  DdeBlock built;
  built.buffer[kTypeOffset] = command.type;
  built.buffer[kKindOffset] = static_cast<std::uint8_t>(kind);
  std::size_t at = kArgumentsOffset;
  for (const std::string& text : strings) {
    built.buffer[at++] = static_cast<std::uint8_t>(text.size());
    for (const char c : text) built.buffer[at++] = static_cast<std::uint8_t>(c);
  }
  built.buffer[at++] = 0;
  built.size = at;
  *block = built;
  return Status();
}

DdeBlock BuildDdeReply(std::int32_t number) {
  DdeBlock block;
  // A number always fits and a reply always has the right kind.
  BuildDdeBlock(DdeCommand::WithNumber(DdeMessage::kReply, number), &block);
  return block;
}

Status ReadDdeBlock(std::span<const std::uint8_t> bytes, DdeCommand* command) {
  if (bytes.size() < kArgumentsOffset) {
    return Status(StatusCode::kTruncated, "the DDE block has " + std::to_string(bytes.size()) +
                                              " byte(s), fewer than its type and kind");
  }
  const std::uint8_t type = bytes[kTypeOffset];
  const DdeArgumentKind kind = DdeArgumentKindOf(type);
  if (kind == DdeArgumentKind::kOutOfRange) {
    return Refused("has message type " + std::to_string(type) + ", which is not 1 to 9");
  }
  if (bytes[kKindOffset] != static_cast<std::uint8_t>(kind)) {
    return Refused("of message type " + std::to_string(type) + " says argument kind " +
                   std::to_string(bytes[kKindOffset]) + ", but that type has kind " +
                   std::to_string(static_cast<int>(kind)));
  }

  DdeCommand read;
  read.type = type;
  std::size_t at = kArgumentsOffset;
  for (std::size_t i = 0; i < StringCount(kind); ++i) {
    if (at >= bytes.size()) {
      return Status(StatusCode::kTruncated,
                    "the DDE block ends before the length byte of string " + std::to_string(i + 1));
    }
    const std::size_t length = bytes[at++];
    if (length > bytes.size() - at) {
      return Status(StatusCode::kBadCountedString,
                    "the DDE block's string " + std::to_string(i + 1) + " says " +
                        std::to_string(length) + " bytes, but only " +
                        std::to_string(bytes.size() - at) + " follow");
    }
    std::string text(reinterpret_cast<const char*>(bytes.data() + at), length);
    if (text.find('\0') != std::string::npos) {
      return Status(StatusCode::kBadCountedString,
                    "the DDE block's string " + std::to_string(i + 1) + " holds a zero byte");
    }
    read.strings.push_back(std::move(text));
    at += length;
  }
  if (at >= bytes.size() || bytes[at] != 0) {
    return Refused("does not end with a zero byte after its arguments");
  }
  if (kind == DdeArgumentKind::kNumber) {
    if (!ParseNumber(read.strings[0], &read.number)) {
      return Refused("carries \"" + read.strings[0] + "\", which is not a decimal number");
    }
    read.strings.clear();
  }
  *command = std::move(read);
  return Status();
}

Status ReadDdeBlock(std::span<const std::uint8_t> bytes, DdeMessage expected, DdeCommand* command) {
  DdeCommand read;
  if (Status status = ReadDdeBlock(bytes, &read); !status.ok()) return status;
  if (read.type != static_cast<std::uint8_t>(expected)) {
    return Refused("has message type " + std::to_string(read.type) + ", not the expected " +
                   std::to_string(static_cast<int>(expected)));
  }
  *command = std::move(read);
  return Status();
}

Status ReadDdeReply(std::span<const std::uint8_t> bytes, std::int32_t* number) {
  DdeCommand reply;
  if (Status status = ReadDdeBlock(bytes, DdeMessage::kReply, &reply); !status.ok()) {
    return status;
  }
  *number = reply.number;
  return Status();
}

}  // namespace tbm::sync
