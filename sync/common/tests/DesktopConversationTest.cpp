// The messages of the conversation between the desktop and the handheld's
// sync agent, against their bytes written out by hand.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DesktopConversation.h"

namespace tbm::sync {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

// A sink that takes only the first `room` bytes it is given.
class FullSink final : public ByteSink {
 public:
  explicit FullSink(std::size_t room) : room_(room) {}
  std::size_t Write(const void*, std::size_t bytes) override {
    const std::size_t taken = std::min(bytes, room_);
    room_ -= taken;
    return taken;
  }
  std::string FailureReason() const override { return "no space left on the stream"; }

 private:
  std::size_t room_;
};

// One synchronisation of an existing database, in which the desktop takes
// its copy back, and one creation, each message written by one end and read
// by the other.
TEST(DesktopConversationTest, EachMessageIsItsBytesAndReadsBack) {
  // The invocation's input.
  EXPECT_EQ(WriteSyncDatabaseInput(SyncDatabaseMode::kSynchronise),
            (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(WriteSyncDatabaseInput(SyncDatabaseMode::kCreate),
            (std::array<std::uint8_t, 4>{1, 0, 0, 0}));
  SyncDatabaseMode mode = SyncDatabaseMode::kSynchronise;
  const Bytes anyOther = {7, 0, 0, 0};
  ASSERT_TRUE(ReadSyncDatabaseInput(anyOther, &mode).ok());
  EXPECT_EQ(mode, SyncDatabaseMode::kCreate);

  // The desktop's side of synchronising Sales: its name, then the decision.
  MemoryByteSink desktop;
  ASSERT_TRUE(WriteDatabaseToSynchronise(desktop, "Sales").ok());
  ASSERT_TRUE(WriteDesktopDecision(desktop, DesktopDecision::kTakeDesktopCopy).ok());
  const Bytes fromDesktop = Concat({{6, 0, 0, 0}, Text("Sales"), {0}, {0, 0, 0, 0}});
  EXPECT_EQ(desktop.bytes(), fromDesktop);
  MemoryByteSource atHandheld(fromDesktop);
  std::string name;
  DesktopDecision decision = DesktopDecision::kKeepHandheldData;
  ASSERT_TRUE(ReadDatabaseToSynchronise(atHandheld, &name).ok());
  EXPECT_EQ(name, "Sales");
  ASSERT_TRUE(ReadDesktopDecision(atHandheld, &decision).ok());
  EXPECT_EQ(decision, DesktopDecision::kTakeDesktopCopy);
  EXPECT_EQ(atHandheld.remaining(), 0u);
  // Only the low 16 bits decide; a name is taken up to its first NUL.
  const Bytes keep = Concat({{9, 0, 0, 0}, Text("Sales"), {0, 'x', 'y', 0}, {0, 0, 1, 0}});
  MemoryByteSource keeping(keep);
  ASSERT_TRUE(ReadDatabaseToSynchronise(keeping, &name).ok());
  EXPECT_EQ(name, "Sales");
  ASSERT_TRUE(ReadDesktopDecision(keeping, &decision).ok());
  EXPECT_EQ(decision, DesktopDecision::kTakeDesktopCopy);
  MemoryByteSink keepWord;
  ASSERT_TRUE(WriteDesktopDecision(keepWord, DesktopDecision::kKeepHandheldData).ok());
  EXPECT_EQ(keepWord.bytes(), Bytes({1, 0, 0, 0}));

  // The handheld's side: changes ready, the name echo, the count; then the
  // trailer of a creation.
  MemoryByteSink handheld;
  ASSERT_TRUE(WriteChangesReady(handheld).ok());
  ASSERT_TRUE(WriteCopyNameEcho(handheld, "Sales").ok());
  ASSERT_TRUE(WriteUnchangedRecordCount(handheld, 258).ok());
  ASSERT_TRUE(WriteCopyNameEcho(handheld, "").ok());
  ASSERT_TRUE(WriteUnchangedRecordCount(handheld, 0).ok());
  ASSERT_TRUE(WriteCreationOutcome(handheld, false).ok());
  const Bytes fromHandheld = Concat({{0, 0, 0, 0},
                                     {6, 0, 0, 0, 5},
                                     Text("Sales"),
                                     {2, 1, 0, 0},
                                     {1, 0, 0, 0, 0},
                                     {0, 0, 0, 0},
                                     {1, 0}});
  EXPECT_EQ(handheld.bytes(), fromHandheld);
  MemoryByteSource atDesktop(fromHandheld);
  std::int32_t unchanged = -1;
  bool made = true;
  ASSERT_TRUE(ReadChangesReady(atDesktop).ok());
  ASSERT_TRUE(ReadCopyNameEcho(atDesktop, &name).ok());
  EXPECT_EQ(name, "Sales");
  ASSERT_TRUE(ReadUnchangedRecordCount(atDesktop, &unchanged).ok());
  EXPECT_EQ(unchanged, 258);
  ASSERT_TRUE(ReadCopyNameEcho(atDesktop, &name).ok());
  EXPECT_EQ(name, "");
  ASSERT_TRUE(ReadUnchangedRecordCount(atDesktop, &unchanged).ok());
  EXPECT_EQ(unchanged, 0);
  ASSERT_TRUE(ReadCreationOutcome(atDesktop, &made).ok());
  EXPECT_FALSE(made);
  MemoryByteSink madeWord;
  ASSERT_TRUE(WriteCreationOutcome(madeWord, true).ok());
  EXPECT_EQ(madeWord.bytes(), Bytes({0, 0}));

  // The database list: the word 1, the count and the 39,100-byte table;
  // or the word 0 alone when the engine did not start.
  MemoryByteSink list;
  DatabaseListAnswer answer{true,
                            {{kDatabaseExisting, "Sales", u"\\My Documents\\Tabulon\\Sales.tbm"}}};
  ASSERT_TRUE(WriteDatabaseListAnswer(list, answer).ok());
  ASSERT_EQ(list.bytes().size(), 4u + kDatabaseListBytes);
  EXPECT_EQ(Bytes(list.bytes().begin(), list.bytes().begin() + 12),
            Concat({{1, 0, 0, 0}, {1, 0}, {0}, Text("Sales")}));
  MemoryByteSource listSource(list.bytes());
  DatabaseListAnswer read;
  ASSERT_TRUE(ReadDatabaseListAnswer(listSource, &read).ok());
  EXPECT_TRUE(read.engineStarted);
  ASSERT_EQ(read.databases.size(), 1u);
  EXPECT_EQ(read.databases[0].name, "Sales");
  EXPECT_EQ(read.databases[0].path, u"\\My Documents\\Tabulon\\Sales.tbm");
  MemoryByteSink notStarted;
  ASSERT_TRUE(WriteDatabaseListAnswer(notStarted, DatabaseListAnswer{}).ok());
  EXPECT_EQ(notStarted.bytes(), Bytes({0, 0, 0, 0}));
  MemoryByteSource notStartedSource(notStarted.bytes());
  ASSERT_TRUE(ReadDatabaseListAnswer(notStartedSource, &read).ok());
  EXPECT_FALSE(read.engineStarted);
  EXPECT_TRUE(read.databases.empty());
}

TEST(DesktopConversationTest, MessagesThatAreCutShortOrTooLongAreRefused) {
  SyncDatabaseMode mode = SyncDatabaseMode::kCreate;
  EXPECT_EQ(ReadSyncDatabaseInput(Bytes{0, 0, 0}, &mode).code(), StatusCode::kTruncated);
  EXPECT_EQ(ReadSyncDatabaseInput(Bytes{}, &mode).code(), StatusCode::kTruncated);
  EXPECT_EQ(ReadSyncDatabaseInput(Bytes{0, 0, 0, 0, 0}, &mode).code(), StatusCode::kBadLength);
  EXPECT_EQ(mode, SyncDatabaseMode::kCreate);

  // Each reader given bytes that stop short of its message, or a length or
  // word it cannot take; what it would fill stays as it was.
  std::string name = "untouched";
  std::int32_t count = 7;
  bool made = true;
  DesktopDecision decision = DesktopDecision::kKeepHandheldData;
  DatabaseListAnswer list{true, {{kDatabaseExisting, "Old", u"Old.tbm"}}};
  using Reader = std::function<Status(ByteSource&)>;
  const Reader toSynchronise = [&](ByteSource& s) { return ReadDatabaseToSynchronise(s, &name); };
  const Reader echo = [&](ByteSource& s) { return ReadCopyNameEcho(s, &name); };
  const Reader unchanged = [&](ByteSource& s) { return ReadUnchangedRecordCount(s, &count); };
  const Reader outcome = [&](ByteSource& s) { return ReadCreationOutcome(s, &made); };
  const Reader decided = [&](ByteSource& s) { return ReadDesktopDecision(s, &decision); };
  const Reader ready = [](ByteSource& s) { return ReadChangesReady(s); };
  const Reader listed = [&](ByteSource& s) { return ReadDatabaseListAnswer(s, &list); };
  const Bytes fullList = [] {
    MemoryByteSink sink;
    WriteDatabaseListAnswer(sink, DatabaseListAnswer{true, {}});
    return sink.bytes();
  }();
  const Bytes cutList(fullList.begin(), fullList.end() - 1);
  Bytes crowdedList = fullList;
  crowdedList[4] = 51;
  struct Case {
    const char* what;
    const Reader& read;
    Bytes bytes;
    StatusCode expected;
  };
  const std::vector<Case> cases = {
      {"name cut", toSynchronise, Concat({{6, 0, 0, 0}, Text("Sales")}), StatusCode::kTruncated},
      {"name length cut", toSynchronise, {6, 0, 0}, StatusCode::kTruncated},
      {"name of 261 bytes", toSynchronise, Concat({{5, 1, 0, 0}, Bytes(261, 'n')}),
       StatusCode::kBadLength},
      {"name of no bytes", toSynchronise, {0, 0, 0, 0}, StatusCode::kBadLength},
      {"name length negative", toSynchronise, {0xFF, 0xFF, 0xFF, 0xFF}, StatusCode::kBadLength},
      {"decision cut", decided, {0, 0}, StatusCode::kTruncated},
      {"changes-ready word cut", ready, {0}, StatusCode::kTruncated},
      {"changes-ready word not 0", ready, {1, 0, 0, 0}, StatusCode::kCorrupt},
      {"echo cut", echo, Concat({{6, 0, 0, 0, 5}, Text("Sal")}), StatusCode::kTruncated},
      {"echo of 257 bytes", echo, Concat({{1, 1, 0, 0}, Bytes(257, 'n')}), StatusCode::kBadLength},
      {"no echo, the handheld having stopped", echo, {0, 0, 0, 0}, StatusCode::kFailed},
      {"echo whose length byte disagrees", echo, Concat({{6, 0, 0, 0, 9}, Text("Sales")}),
       StatusCode::kBadCountedString},
      {"unchanged count negative", unchanged, {0xFE, 0xFF, 0xFF, 0xFF}, StatusCode::kBadCount},
      {"unchanged count cut", unchanged, {1, 0, 0}, StatusCode::kTruncated},
      {"creation outcome 2", outcome, {2, 0}, StatusCode::kCorrupt},
      {"creation outcome cut", outcome, {1}, StatusCode::kTruncated},
      {"list word 2", listed, {2, 0, 0, 0}, StatusCode::kCorrupt},
      {"list cut", listed, cutList, StatusCode::kTruncated},
      {"list of 51 databases", listed, crowdedList, StatusCode::kBadCount},
  };
  for (const Case& c : cases) {
    MemoryByteSource source(c.bytes);
    const Status status = c.read(source);
    EXPECT_EQ(status.code(), c.expected) << c.what << ": " << status.message();
    EXPECT_FALSE(status.message().empty()) << c.what;
  }
  EXPECT_EQ(name, "untouched");
  EXPECT_EQ(count, 7);
  EXPECT_TRUE(made);
  EXPECT_EQ(decision, DesktopDecision::kKeepHandheldData);
  EXPECT_EQ(list.databases.size(), 1u);

  // Writers refuse what the message cannot carry before they write, and
  // report a stream that takes less.
  MemoryByteSink untouched;
  EXPECT_EQ(WriteDatabaseToSynchronise(untouched, std::string(260, 'n')).code(),
            StatusCode::kBadLength);
  EXPECT_EQ(WriteDatabaseToSynchronise(untouched, std::string("Sa\0les", 6)).code(),
            StatusCode::kInvalidArgument);
  EXPECT_EQ(WriteCopyNameEcho(untouched, std::string(256, 'n')).code(), StatusCode::kBadLength);
  EXPECT_EQ(WriteUnchangedRecordCount(untouched, -1).code(), StatusCode::kBadCount);
  EXPECT_EQ(WriteDatabaseListAnswer(untouched,
                                    DatabaseListAnswer{true, std::vector<DatabaseListEntry>(51)})
                .code(),
            StatusCode::kInvalidArgument);
  EXPECT_TRUE(untouched.bytes().empty());
  FullSink full(2);
  const Status cut = WriteUnchangedRecordCount(full, 3);
  EXPECT_EQ(cut.code(), StatusCode::kWriteFailed);
  EXPECT_NE(cut.message().find("no space left"), std::string::npos) << cut.message();
}

}  // namespace
}  // namespace tbm::sync
