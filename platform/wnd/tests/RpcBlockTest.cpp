// Calls through the RPC block, answered by a window of this process.
#include <gtest/gtest.h>

#include "RpcBlock.h"
#include "WindowTesting.h"

namespace tbm {
namespace {

using testing::FreshMachine;

// Handles call 2 (kind 3) by answering the argument reversed, and call 3
// (kind 2) with result 7; nothing else.
LRESULT Answering(HWND, UINT message, WPARAM, LPARAM) {
  if (message != WM_USER) return 0;
  return AnswerFromRpcBlock([](std::uint32_t id, std::uint32_t kind, const std::u16string& argument,
                               std::uint32_t* result, std::u16string* reply) {
    if (id == 2 && kind == kRpcArgumentAndResult) {
      *result = 1;
      *reply = std::u16string(argument.rbegin(), argument.rend());
      return true;
    }
    if (id == 3 && kind == kRpcResult) {
      *result = 7;
      return true;
    }
    return false;
  });
}

class RpcBlockTest : public FreshMachine {};

TEST_F(RpcBlockTest, ACallWithAnArgumentGetsItsResultAndReply) {
  const HWND window = Make(u"Main", u"Program", WS_VISIBLE, 0, Answering);
  RpcCall call;
  call.size = 528;
  call.id = 2;
  call.kind = kRpcArgumentAndResult;
  call.argument = u"Sales";
  const std::optional<RpcAnswer> answer = CallThroughRpcBlock(window, call, 5000);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->handled, 1);
  EXPECT_EQ(answer->result, 1u);
  EXPECT_EQ(answer->reply, u"selaS");
  EXPECT_EQ(answer->size, 528u);  // the program left the caller's size
}

TEST_F(RpcBlockTest, ACallWithAResultOnly) {
  const HWND window = Make(u"Main", u"Program", WS_VISIBLE, 0, Answering);
  RpcCall call;
  call.id = 3;
  call.kind = kRpcResult;
  const std::optional<RpcAnswer> answer = CallThroughRpcBlock(window, call, 5000);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->handled, 1);
  EXPECT_EQ(answer->result, 7u);
  EXPECT_TRUE(answer->reply.empty());
}

TEST_F(RpcBlockTest, AnUnknownCallIsNotHandled) {
  const HWND window = Make(u"Main", u"Program", WS_VISIBLE, 0, Answering);
  RpcCall call;
  call.id = 9;
  call.kind = kRpcNoResult;
  const std::optional<RpcAnswer> answer = CallThroughRpcBlock(window, call, 5000);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->handled, 0);
}

TEST_F(RpcBlockTest, TextsLongerThanTheBlockAreCutToIt) {
  const HWND window = Make(u"Main", u"Program", WS_VISIBLE, 0, Answering);
  RpcCall call;
  call.size = kRpcBlockBytes + 100;  // more than the block: the block is copied
  call.id = 2;
  call.kind = kRpcArgumentAndResult;
  call.argument = std::u16string(5000, u'x');
  const std::optional<RpcAnswer> answer = CallThroughRpcBlock(window, call, 5000);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->reply.size(), kRpcTextUnits - 1);
}

TEST_F(RpcBlockTest, AWindowThatIsGoneGetsNoAnswer) {
  const HWND window = Make(u"Main", u"Program", WS_VISIBLE, 0, Answering);
  DestroyWindow(window);
  RpcCall call;
  call.id = 3;
  EXPECT_FALSE(CallThroughRpcBlock(window, call, 1000));
}

}  // namespace
}  // namespace tbm
