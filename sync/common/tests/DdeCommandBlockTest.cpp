// The DDE command and reply blocks, byte by byte, and the blocks a reader
// must refuse.
#include <gtest/gtest.h>

#include <vector>

#include "DdeCommandBlock.h"

namespace tbm::sync {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> bytes;
  for (const int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
  return bytes;
}

std::vector<std::uint8_t> Built(const DdeCommand& command) {
  DdeBlock block;
  EXPECT_TRUE(BuildDdeBlock(command, &block).ok());
  return {block.bytes().begin(), block.bytes().end()};
}

TEST(DdeCommandBlockTest, EveryMessageBuildsAndReadsBackWithItsKind) {
  const std::vector<DdeCommand> commands = {
      DdeCommand::WithStrings(DdeMessage::kStart, "Pocket PC", "4F2A-11"),
      DdeCommand::WithString(DdeMessage::kWhichDatabase, "Kunden \xE4"),
      DdeCommand::WithNumber(DdeMessage::kMergeAndExport, 3),
      DdeCommand::WithNumber(DdeMessage::kUnsupported, -7),
      DdeCommand::WithoutArgument(DdeMessage::kExportNext),
      DdeCommand::WithoutArgument(DdeMessage::kEnd),
      DdeCommand::WithString(DdeMessage::kExchangeFolder, "/home/ann/.local/share/tb/Sync"),
      DdeCommand::WithoutArgument(DdeMessage::kProtocolVersion),
  };
  for (const DdeCommand& command : commands) {
    const std::vector<std::uint8_t> bytes = Built(command);
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_EQ(bytes[0], command.type);
    EXPECT_EQ(bytes[1], static_cast<std::uint8_t>(DdeArgumentKindOf(command.type)));
    EXPECT_EQ(bytes.back(), 0);
    DdeCommand read;
    ASSERT_TRUE(ReadDdeBlock(bytes, &read).ok()) << int(command.type);
    EXPECT_EQ(read.type, command.type);
    EXPECT_EQ(read.strings, command.strings);
    EXPECT_EQ(read.number, command.number);
  }

  // The layout of the start command, whole.
  EXPECT_EQ(Built(DdeCommand::WithStrings(DdeMessage::kStart, "PPC", "7")),
            Bytes({2, 1, 3, 'P', 'P', 'C', 1, '7', 0}));
  EXPECT_EQ(Built(DdeCommand::WithoutArgument(DdeMessage::kEnd)), Bytes({7, 4, 0}));
}

TEST(DdeCommandBlockTest, RepliesCarryTheirNumberAsDecimalText) {
  const DdeBlock version = BuildDdeReply(kDdeProtocolVersion);
  EXPECT_EQ(std::vector<std::uint8_t>(version.bytes().begin(), version.bytes().end()),
            Bytes({1, 2, 6, '1', '3', '1', '0', '7', '2', 0}));
  for (const std::int32_t number : {0, -1, 4, 0x50005, INT32_MIN, INT32_MAX}) {
    std::int32_t read = 12345;
    ASSERT_TRUE(ReadDdeReply(BuildDdeReply(number).bytes(), &read).ok());
    EXPECT_EQ(read, number);
  }
  // A reply sent in the whole buffer reads the same.
  std::int32_t read = 0;
  ASSERT_TRUE(ReadDdeReply(BuildDdeReply(-1).buffer, &read).ok());
  EXPECT_EQ(read, -1);
}

TEST(DdeCommandBlockTest, AnEmptyStringTravelsWithTheBlocksStatedLength) {
  const std::vector<std::uint8_t> bytes =
      Built(DdeCommand::WithStrings(DdeMessage::kStart, "", ""));
  EXPECT_EQ(bytes, Bytes({2, 1, 0, 0, 0}));
  DdeCommand read;
  ASSERT_TRUE(ReadDdeBlock(bytes, &read).ok());
  EXPECT_EQ(read.strings, (std::vector<std::string>{"", ""}));

  // Cut at its first zero byte, the block has lost its second string.
  const std::vector<std::uint8_t> cut(bytes.begin(), bytes.begin() + 3);
  EXPECT_FALSE(ReadDdeBlock(cut, &read).ok());
}

TEST(DdeCommandBlockTest, BadBlocksAreRefusedAndSayWhy) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    const char* words;
  };
  const std::vector<Case> cases = {
      {{}, "fewer than its type and kind"},
      {Bytes({10, 4, 0}), "type 10, which is not 1 to 9"},
      {Bytes({0, 255, 0}), "type 0, which is not 1 to 9"},
      {Bytes({7, 3, 0}), "says argument kind 3, but that type has kind 4"},
      {Bytes({3, 3, 9, 'S', 'a', 'l', 'e', 's', 0}), "says 9 bytes, but only 6 follow"},
      {Bytes({3, 3, 3, 'a', 0, 'b', 0}), "holds a zero byte"},
      {Bytes({3, 3, 2, 'a', 'b'}), "does not end with a zero byte"},
      {Bytes({3, 3, 2, 'a', 'b', 'c'}), "does not end with a zero byte"},
      {Bytes({4, 2, 2, '1', 'x', 0}), "\"1x\", which is not a decimal number"},
      {Bytes({4, 2, 0, 0}), "\"\", which is not a decimal number"},
      {Bytes({4, 2, 2, '+', '1', 0}), "not a decimal number"},
      {Bytes({1, 2, 10, '9', '9', '9', '9', '9', '9', '9', '9', '9', '9', 0}),
       "not a decimal number"},
      {Bytes({2, 1, 1, 'a'}), "before the length byte of string 2"},
  };
  for (const Case& c : cases) {
    DdeCommand read = DdeCommand::WithNumber(DdeMessage::kReply, 77);
    const Status status = ReadDdeBlock(c.bytes, &read);
    EXPECT_FALSE(status.ok()) << c.words;
    EXPECT_NE(status.message().find(c.words), std::string::npos) << status.message();
    EXPECT_EQ(read.number, 77) << "a refused block leaves the command alone";
  }

  // A good command where a reply is expected.
  std::int32_t number = 0;
  const Status notReply =
      ReadDdeReply(Built(DdeCommand::WithNumber(DdeMessage::kMergeAndExport, 0)), &number);
  EXPECT_NE(notReply.message().find("type 4, not the expected 1"), std::string::npos)
      << notReply.message();
}

TEST(DdeCommandBlockTest, CommandsThatCannotBeBuiltAreRefused) {
  DdeBlock block;
  DdeCommand outOfRange;
  outOfRange.type = 12;
  EXPECT_EQ(BuildDdeBlock(outOfRange, &block).code(), StatusCode::kInvalidArgument);
  EXPECT_FALSE(BuildDdeBlock(DdeCommand::WithString(DdeMessage::kStart, "one"), &block).ok());
  EXPECT_FALSE(
      BuildDdeBlock(DdeCommand::WithString(DdeMessage::kMergeAndExport, "3"), &block).ok());
  EXPECT_FALSE(
      BuildDdeBlock(DdeCommand::WithString(DdeMessage::kWhichDatabase, std::string(256, 'n')),
                    &block)
          .ok());
  EXPECT_FALSE(
      BuildDdeBlock(DdeCommand::WithString(DdeMessage::kWhichDatabase, std::string("a\0b", 3)),
                    &block)
          .ok());
  EXPECT_EQ(block.size, 0u);

  // The longest block fits its buffer.
  ASSERT_TRUE(BuildDdeBlock(DdeCommand::WithStrings(DdeMessage::kStart, std::string(255, 'a'),
                                                    std::string(255, 'b')),
                            &block)
                  .ok());
  EXPECT_EQ(block.size, 515u);
}

}  // namespace
}  // namespace tbm::sync
