// The memory and host-file sources and sinks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ByteStream.h"
#include "TestSupport.h"

namespace tbm::sync {
namespace {

using tbm::testing::ReadWholeFile;
using tbm::testing::ScratchFolder;
using tbm::testing::WriteWholeFile;

std::vector<std::uint8_t> Pattern(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

TEST(MemoryByteSource, HandsOutItsBytesInOrderAndThenNothing) {
  const std::string text = "TBSC";
  MemoryByteSource source(text.data(), text.size());
  char buffer[3];
  EXPECT_EQ(source.Read(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "TBS");
  EXPECT_EQ(source.remaining(), 1u);
  EXPECT_EQ(source.Read(buffer, 3), 1u);
  EXPECT_EQ(buffer[0], 'C');
  EXPECT_EQ(source.Read(buffer, 3), 0u);
}

TEST(MemoryByteSink, KeepsEverythingWritten) {
  MemoryByteSink sink;
  EXPECT_EQ(sink.Write("ab", 2), 2u);
  EXPECT_EQ(sink.Write("c", 1), 1u);
  EXPECT_EQ(sink.bytes(), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
}

TEST(HostFile, LargeFileWrittenInOddPiecesReadsBackInOtherPieces) {
  ScratchFolder folder("tbm-bytes");
  ASSERT_TRUE(folder.ok());
  const std::string path = (folder.path() / "TBSC.sdb").string();
  const std::vector<std::uint8_t> data = Pattern(300000);
  {
    HostFileSink sink(path);
    ASSERT_TRUE(sink.ok()) << sink.FailureReason();
    std::size_t at = 0;
    for (std::size_t piece = 1; at < data.size(); piece = piece * 3 % 70001 + 1) {
      const std::size_t n = std::min(piece, data.size() - at);
      ASSERT_EQ(sink.Write(data.data() + at, n), n);
      at += n;
    }
    ASSERT_TRUE(sink.Close()) << sink.FailureReason();
  }
  const std::string onDisk = ReadWholeFile(path);
  ASSERT_EQ(onDisk.size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), onDisk.begin(),
                         [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));

  HostFileSource source(path);
  ASSERT_TRUE(source.ok()) << source.FailureReason();
  std::vector<std::uint8_t> back;
  std::vector<std::uint8_t> buffer(100000);
  for (std::size_t piece = 5;; piece = piece * 5 % 99991 + 1) {
    const std::size_t got = source.Read(buffer.data(), piece);
    if (got == 0) break;
    back.insert(back.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
  }
  EXPECT_EQ(back, data);
  EXPECT_TRUE(source.FailureReason().empty());
}

TEST(HostFile, SinkEmptiesAFileThatExists) {
  ScratchFolder folder("tbm-bytes");
  ASSERT_TRUE(folder.ok());
  const auto path = folder.path() / "TBSS.sdb";
  ASSERT_TRUE(WriteWholeFile(path, "an older and much longer exchange file"));
  HostFileSink sink(path.string());
  ASSERT_TRUE(sink.ok());
  EXPECT_EQ(sink.Write("new", 3), 3u);
  ASSERT_TRUE(sink.Close());
  EXPECT_EQ(ReadWholeFile(path), "new");
}

TEST(HostFile, MissingFileOrFolderIsReportedWithItsPath) {
  ScratchFolder folder("tbm-bytes");
  ASSERT_TRUE(folder.ok());
  const std::string missing = (folder.path() / "nowhere" / "TBSC.sdb").string();
  HostFileSource source(missing);
  EXPECT_FALSE(source.ok());
  EXPECT_NE(source.FailureReason().find(missing), std::string::npos) << source.FailureReason();
  EXPECT_NE(source.FailureReason().find("No such file"), std::string::npos);
  char c;
  EXPECT_EQ(source.Read(&c, 1), 0u);

  HostFileSink sink(missing);
  EXPECT_FALSE(sink.ok());
  EXPECT_NE(sink.FailureReason().find("cannot create " + missing), std::string::npos);
  EXPECT_EQ(sink.Write("x", 1), 0u);
  EXPECT_FALSE(sink.Close());
}

TEST(HostFile, FullDiskIsReportedWhenTheBufferGoesOut) {
  HostFileSink sink("/dev/full");
  ASSERT_TRUE(sink.ok());
  EXPECT_EQ(sink.Write("records", 7), 7u);  // held in the buffer
  EXPECT_FALSE(sink.Flush());
  EXPECT_NE(sink.FailureReason().find("No space left"), std::string::npos) << sink.FailureReason();
  EXPECT_EQ(sink.Write("more", 4), 0u);
  EXPECT_FALSE(sink.Close());
}

TEST(HostFile, LargeWriteToAFullDiskFailsAtOnce) {
  HostFileSink sink("/dev/full");
  ASSERT_TRUE(sink.ok());
  const std::vector<std::uint8_t> data = Pattern(200000);
  EXPECT_EQ(sink.Write(data.data(), data.size()), 0u);
  EXPECT_FALSE(sink.Close());
}

}  // namespace
}  // namespace tbm::sync
