// The handheld program's calls as they travel through the RPC block: a main
// window of this process answers them with a program that records what it
// was asked, and the block's bytes are compared with the layout written out
// by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "HandheldCalls.h"
#include "SharedMemory.h"
#include "TestSupport.h"

namespace tbm::sync {
namespace {

using tbm::testing::ScopedEnvironment;
using tbm::testing::ScratchFolder;
using Bytes = std::vector<std::uint8_t>;

// A block's bytes: the header as given, then text as UTF-16, then zeros up
// to size.
Bytes Block(Bytes header, std::u16string_view text, std::size_t size) {
  for (const char16_t unit : text) {
    header.push_back(static_cast<std::uint8_t>(unit));
    header.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  header.resize(size, 0);
  return header;
}

Bytes Head(const Bytes& bytes, std::size_t n) {
  return Bytes(bytes.begin(),
               bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size())));
}

// The whole RPC block as it is now.
Bytes Copy(RpcBlockView& block) {
  return block.view() ? Bytes(block.view(), block.view() + kRpcBlockBytes) : Bytes();
}

// A handheld program with one database open, Kunden, that records the
// calls it performs.
struct RecordingProgram final : HandheldCallHandler {
  bool OpenDatabase(const std::u16string& commandLine) override {
    commandLines.push_back(commandLine);
    if (commandLine == u"\"Kunden.tbm\"") return false;  // open already
    openName = u"Sales";
    return true;
  }
  std::optional<std::u16string> OpenDatabaseName() override { return openName; }
  bool CloseViewsForSync() override {
    if (dialogOpen) return false;
    openName.reset();
    return true;
  }

  std::optional<std::u16string> openName = u"Kunden";
  bool dialogOpen = false;
  std::vector<std::u16string> commandLines;
};

class HandheldCallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    ::setenv("TBM_DEVICE_ROOT", (scratch_.path() / "device").c_str(), 1);
    current_ = this;
    window_ = CreateWindowExW(0, kHandheldMainWindowClass, u"Tabulon Mobile", WS_VISIBLE, Procedure,
                              nullptr);
    ASSERT_NE(window_, nullptr) << DescribeWindowError(GetLastError());
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
    current_ = nullptr;
  }

  // The main window's procedure: keeps the request's bytes, then answers
  // as the program does, or leaves the reply given by hand.
  static LRESULT Procedure(HWND, UINT message, WPARAM, LPARAM) {
    if (message != WM_USER || current_ == nullptr) return 0;
    return current_->Answer();
  }
  LRESULT Answer() {
    RpcBlockView block(false);
    request_ = Copy(block);
    if (!handReply_) {
      const LRESULT taken = AnswerHandheldCall(program_);
      reply_ = Copy(block);
      return taken;
    }
    if (block.view()) std::memcpy(block.view(), handReply_->data(), handReply_->size());
    return handTaken_;
  }

  // Puts a request written by hand in the block and sends the window
  // WM_USER; what the window answered, with the block as it then is.
  LRESULT SendByHand(const Bytes& request, Bytes* after) {
    RpcBlockView block(true);
    if (block.view() == nullptr) return -1;
    std::memcpy(block.view(), request.data(), request.size());
    const LRESULT taken = SendMessageW(window_, WM_USER, 0, 0);
    *after = Copy(block);
    return taken;
  }

  ScratchFolder scratch_{"tbm-handheld-calls"};
  ScopedEnvironment machine_{"TBM_MACHINE", nullptr};
  ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT", nullptr};
  HWND window_ = nullptr;
  RecordingProgram program_;
  Bytes request_;  // the block as the window found it
  Bytes reply_;    // the block as the program left it
  std::optional<Bytes> handReply_;
  LRESULT handTaken_ = 1;

  static HandheldCallsTest* current_;
};

HandheldCallsTest* HandheldCallsTest::current_ = nullptr;

TEST_F(HandheldCallsTest, EachCallTravelsInItsLayoutAndComesBackAsAsked) {
  // Call 1: the command line at offset 16 of a 528-byte request.
  bool opened = false;
  ASSERT_TRUE(CallOpenDatabase(window_, u"\"Sales.tbm\"", 5000, &opened).ok());
  EXPECT_TRUE(opened);
  EXPECT_EQ(program_.commandLines, std::vector<std::u16string>{u"\"Sales.tbm\""});
  EXPECT_EQ(Head(request_, 528),
            Block({0x10, 0x02, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}, u"\"Sales.tbm\"", 528));
  EXPECT_EQ(Head(reply_, 16), Bytes({0x10, 0x02, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0}));
  program_.openName = u"Kunden";
  ASSERT_TRUE(CallOpenDatabase(window_, u"\"Kunden.tbm\"", 5000, &opened).ok());
  EXPECT_FALSE(opened);  // open already

  // Call 2: 528 bytes without text; the name comes back at offset 16.
  std::optional<std::u16string> name;
  ASSERT_TRUE(CallOpenDatabaseName(window_, 5000, &name).ok());
  EXPECT_EQ(name, u"Kunden");
  EXPECT_EQ(Head(request_, 528),
            Block({0x10, 0x02, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}, u"", 528));
  EXPECT_EQ(Head(reply_, 32),
            Block({0x10, 0x02, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0}, u"Kunden", 32));

  // Call 3: the 16-byte header alone. A dialog that is open refuses it.
  program_.dialogOpen = true;
  bool closed = true;
  ASSERT_TRUE(CallCloseViewsForSync(window_, 5000, &closed).ok());
  EXPECT_FALSE(closed);
  EXPECT_EQ(Head(request_, 16), Bytes({16, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Head(reply_, 16), Bytes({16, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(program_.openName, u"Kunden");
  program_.dialogOpen = false;
  ASSERT_TRUE(CallCloseViewsForSync(window_, 5000, &closed).ok());
  EXPECT_TRUE(closed);
  EXPECT_EQ(Head(reply_, 16), Bytes({16, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}));

  // With every view closed, no database is open: result 0, no name.
  ASSERT_TRUE(CallOpenDatabaseName(window_, 5000, &name).ok());
  EXPECT_EQ(name, std::nullopt);
  EXPECT_EQ(Head(reply_, 18),
            Block({0x10, 0x02, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}, u"", 18));

  // A name that fills the whole reply arrives without its terminator.
  const std::u16string longest(kOpenDatabaseNameUnits, u'n');
  program_.openName = longest;
  ASSERT_TRUE(CallOpenDatabaseName(window_, 5000, &name).ok());
  EXPECT_EQ(name, longest);
}

TEST_F(HandheldCallsTest, RepliesThatDoNotFitTheirCallAreRefused) {
  struct Case {
    const char* what;
    Bytes reply;
    LRESULT taken;
    StatusCode expected;
  };
  const Bytes closeHeader = {16, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0};
  const std::vector<Case> closeCases = {
      {"not taken", closeHeader, 0, StatusCode::kFailed},
      {"size leaves out the result",
       {8, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0},
       1,
       StatusCode::kTruncated},
      {"size beyond the block",
       {0x01, 0x10, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0},
       1,
       StatusCode::kBadLength},
      {"result neither 0 nor 1",
       {16, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0},
       1,
       StatusCode::kCorrupt},
  };
  for (const Case& c : closeCases) {
    handReply_ = c.reply;
    handTaken_ = c.taken;
    bool closed = false;
    const Status status = CallCloseViewsForSync(window_, 5000, &closed);
    EXPECT_EQ(status.code(), c.expected) << c.what << ": " << status.message();
    EXPECT_FALSE(status.message().empty()) << c.what;
  }

  handTaken_ = 1;
  const Bytes nameHeader = {0x10, 0x02, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0};
  // The size word says 20 bytes: "Ku" and no terminator came back.
  handReply_ = Block({20, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0}, u"Kunden", 32);
  std::optional<std::u16string> name = u"untouched";
  EXPECT_EQ(CallOpenDatabaseName(window_, 5000, &name).code(), StatusCode::kTruncated);
  // The whole block for a name of 300 characters.
  handReply_ = Block({0x00, 0x10, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0},
                     std::u16string(300, u'x'), kRpcBlockBytes);
  EXPECT_EQ(CallOpenDatabaseName(window_, 5000, &name).code(), StatusCode::kBadLength);
  EXPECT_EQ(name, u"untouched");
  handReply_ = Block(nameHeader, u"Kunden", 528);
  ASSERT_TRUE(CallOpenDatabaseName(window_, 5000, &name).ok());
  EXPECT_EQ(name, u"Kunden");

  // What a request cannot carry is refused before the window is asked.
  request_.clear();
  bool opened = false;
  EXPECT_EQ(CallOpenDatabase(window_, std::u16string(256, u'p'), 5000, &opened).code(),
            StatusCode::kBadLength);
  EXPECT_EQ(CallOpenDatabase(window_, std::u16string(u"a\0b", 3), 5000, &opened).code(),
            StatusCode::kInvalidArgument);
  EXPECT_TRUE(request_.empty());

  // A program whose window is gone.
  DestroyWindow(window_);
  bool closed = false;
  const Status gone = CallCloseViewsForSync(window_, 1000, &closed);
  window_ = nullptr;
  EXPECT_EQ(gone.code(), StatusCode::kFailed) << gone.message();
}

TEST_F(HandheldCallsTest, TheProgramTakesOnlyRequestsThatFitItsCalls) {
  Bytes after;
  // A command line of 256 characters: more than a request of call 1 holds.
  const Bytes tooLong = Block({0x10, 0x02, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0},
                              std::u16string(256, u'p'), kRpcBlockBytes);
  EXPECT_EQ(SendByHand(tooLong, &after), 0);
  EXPECT_EQ(after, tooLong);
  EXPECT_TRUE(program_.commandLines.empty());
  std::u16string commandLine;
  EXPECT_EQ(ReadOpenDatabaseRequest(
                {kOpenDatabaseCall, kRpcArgumentAndResult, std::u16string(256, u'p')}, &commandLine)
                .code(),
            StatusCode::kBadLength);

  // Call 3 asked with an argument, and a call the program does not know.
  const Bytes wrongKind = Block({16, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}, u"", 16);
  EXPECT_EQ(SendByHand(wrongKind, &after), 0);
  EXPECT_EQ(Head(after, 16), wrongKind);
  EXPECT_EQ(program_.openName, u"Kunden");  // nothing was closed
  EXPECT_EQ(ReadCloseViewsForSyncRequest({3, kRpcArgumentAndResult, u""}).code(),
            StatusCode::kInvalidArgument);
  const Bytes unknown = Block({16, 0, 0, 0, 9, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, u"", 16);
  EXPECT_EQ(SendByHand(unknown, &after), 0);

  // A name longer than a reply holds is answered as no open database.
  program_.openName = std::u16string(kOpenDatabaseNameUnits + 1, u'n');
  const Bytes nameRequest = Block({0x10, 0x02, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}, u"", 528);
  EXPECT_EQ(SendByHand(nameRequest, &after), 1);
  EXPECT_EQ(Head(after, 18),
            Block({0x10, 0x02, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}, u"", 18));
  CallReply reply;
  EXPECT_EQ(WriteOpenDatabaseNameReply(program_.openName, &reply).code(), StatusCode::kBadLength);
}

}  // namespace
}  // namespace tbm::sync
