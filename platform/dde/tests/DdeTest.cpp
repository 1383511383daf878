// Conversations on a fresh desktop machine: the test's thread is the
// client; the server is the peer program (DdePeer.cpp) in another process,
// or a thread of the test with a plain message loop.
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "DdeTesting.h"
#include "ServiceSocket.h"
#include "WinUser.h"
#include "WireFormat.h"

namespace tbm {
namespace {

using namespace std::chrono_literals;
using testing::DdePeer;
using testing::FreshDesktop;
using testing::PumpUntil;
using testing::Recorder;
using Dde = FreshDesktop;

// A command block as the bridge's clients send it: type 3 with an empty
// counted string, so a zero byte comes early, and bytes after it.
const std::string kBlock("\x03\x03\x00\x00tail", 8);

std::set<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

HDDEDATA Start(const std::string& block, HCONV conversation, DWORD* id) {
  return DdeClientTransaction(reinterpret_cast<const BYTE*>(block.data()),
                              static_cast<DWORD>(block.size()), conversation, nullptr, CF_TEXT,
                              XTYP_EXECUTE, TIMEOUT_ASYNC, id);
}

TEST_F(Dde, AClientInAnotherProcessExecutesAndRequestsWholeBlocks) {
  DdePeer peer({"serve", "TBP_MOBILE"});
  ExpectServing(peer);
  HCONV conversation = Connect("TBP_MOBILE", "tbp_mobile");  // names compare without case
  ASSERT_NE(conversation, nullptr) << std::hex << DdeGetLastError(instance_);

  DWORD flags = 0;
  EXPECT_TRUE(Execute(conversation, kBlock, &flags));
  EXPECT_EQ(flags & DDE_FACK, DDE_FACK);
  EXPECT_EQ(Request(conversation), "got:" + kBlock);

  EXPECT_FALSE(Execute(conversation, "busy", &flags));
  EXPECT_EQ(flags, DDE_FBUSY);
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_BUSY);
  EXPECT_FALSE(Execute(conversation, "refuse"));
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_NOTPROCESSED);
  const BYTE poke[] = {'x'};
  EXPECT_EQ(
      DdeClientTransaction(poke, 1, conversation, Name("Field"), CF_TEXT, XTYP_POKE, 5000, nullptr),
      nullptr);
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_NOTPROCESSED);

  // The server's callback decides on the topic it is given.
  EXPECT_TRUE(DdeDisconnect(conversation));
  EXPECT_EQ(Connect("closed"), nullptr);
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_NO_CONV_ESTABLISHED);

  // Filtered as the bridge filters it, the server's callback saw connects,
  // executes and requests, and nothing else: no poke, no connect-confirm,
  // no disconnect.
  conversation = Connect();
  ASSERT_NE(conversation, nullptr);
  EXPECT_EQ(Words(Request(conversation, "seen").value_or("")),
            (std::set<std::string>{"1062", "4050", "20b0"}));
}

TEST_F(Dde, AsynchronousTransactionsCompleteWhenTheClientRunsItsMessages) {
  DdePeer peer({"serve", "TBP_MOBILE"});
  ExpectServing(peer);
  HCONV conversation = Connect();
  ASSERT_NE(conversation, nullptr);

  DWORD executeId = 0;
  DWORD requestId = 0;
  ASSERT_NE(Start(kBlock, conversation, &executeId), nullptr);
  ASSERT_NE(DdeClientTransaction(nullptr, 0, conversation, Name("TBP_MOBILE_RESPONSE"), CF_TEXT,
                                 XTYP_REQUEST, TIMEOUT_ASYNC, &requestId),
            nullptr);
  EXPECT_NE(executeId, 0u);
  EXPECT_NE(executeId, requestId);
  // The answers come meanwhile; only the thread's own message loop hands
  // them to the callback.
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(client()->Of(XTYP_XACT_COMPLETE).empty());

  ASSERT_TRUE(PumpUntil([] { return client()->Of(XTYP_XACT_COMPLETE).size() == 2; }));
  const auto completed = client()->Of(XTYP_XACT_COMPLETE);
  EXPECT_EQ(completed[0].data1, executeId);
  EXPECT_TRUE(completed[0].hadData);
  EXPECT_EQ(completed[0].data2 & DDE_FACK, DDE_FACK);
  EXPECT_EQ(completed[1].data1, requestId);
  EXPECT_EQ(completed[1].conversation, conversation);
  EXPECT_EQ(completed[1].hsz2, "TBP_MOBILE_RESPONSE");
  EXPECT_EQ(completed[1].data, "got:" + kBlock);
  EXPECT_EQ(completed[1].thread, ::gettid());
}

TEST_F(Dde, AServerThatStopsAnsweringIsGivenUpAndItsLateAnswersAreDropped) {
  DdePeer peer({"serve", "TBP_MOBILE"});
  ExpectServing(peer);
  HCONV conversation = Connect();
  ASSERT_NE(conversation, nullptr);
  ASSERT_TRUE(Execute(conversation, "stall:1500"));  // runs no messages for 1.5 s

  // While it waits, the client's thread goes on running its own messages.
  static std::atomic<bool> delivered{false};
  HWND window = CreateWindowExW(
      0, u"DdeTestWindow", u"", 0,
      [](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        delivered = delivered || message == WM_APP;
        return 0;
      },
      nullptr);
  ASSERT_NE(window, nullptr);
  PostMessageW(window, WM_APP, 0, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Execute(conversation, "late", nullptr, 300));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_EXECACKTIMEOUT);
  EXPECT_GE(waited, 300ms);
  EXPECT_LT(waited, 1200ms);
  EXPECT_TRUE(delivered);
  DestroyWindow(window);
  EXPECT_EQ(Request(conversation, "TBP_MOBILE_RESPONSE", 100), std::nullopt);
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_DATAACKTIMEOUT);
  DWORD abandoned = 0;
  ASSERT_NE(Start("abandoned", conversation, &abandoned), nullptr);
  EXPECT_TRUE(DdeAbandonTransaction(instance_, conversation, abandoned));
  EXPECT_FALSE(DdeAbandonTransaction(instance_, conversation, abandoned));
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_UNFOUND_QUEUE_ID);

  // Awake again, the server answers all of them in order; only the answer
  // to this request is taken, as this request's.
  EXPECT_EQ(Request(conversation, "TBP_MOBILE_RESPONSE", 10000), "got:abandoned");
  PumpUntil([] { return false; }, 200ms);
  EXPECT_TRUE(client()->Of(XTYP_XACT_COMPLETE).empty());
}

TEST_F(Dde, AServerThatDiesFailsWhatIsPendingAndEndsTheConversation) {
  DdePeer peer({"serve", "TBP_MOBILE"});
  ExpectServing(peer);
  HCONV conversation = Connect();
  ASSERT_NE(conversation, nullptr);
  ASSERT_TRUE(Execute(conversation, "stall:60000"));
  DWORD pending = 0;
  ASSERT_NE(Start("never answered", conversation, &pending), nullptr);

  std::thread killer([&] {
    std::this_thread::sleep_for(300ms);
    peer.Kill();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Request(conversation, "TBP_MOBILE_RESPONSE", 30000), std::nullopt);
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_SERVER_DIED);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  killer.join();

  const auto completed = client()->Of(XTYP_XACT_COMPLETE);
  ASSERT_EQ(completed.size(), 1u);
  EXPECT_EQ(completed[0].data1, pending);
  EXPECT_FALSE(completed[0].hadData);
  EXPECT_EQ(client()->Of(XTYP_DISCONNECT).size(), 1u);
  EXPECT_FALSE(Execute(conversation, "again"));
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_SERVER_DIED);
  EXPECT_TRUE(DdeDisconnect(conversation));

  EXPECT_EQ(Connect(), nullptr);
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_NO_CONV_ESTABLISHED);
}

TEST_F(Dde, AServiceHasOneServerAndIsSeenOnlyOnItsMachineByItsUser) {
  DdePeer first({"serve", "TBP_MOBILE"});
  ExpectServing(first);
  DdePeer second({"serve", "tbp_mobile"});
  EXPECT_EQ(second.ReadLine().value_or(""), "refused 4004");  // DMLERR_DLL_USAGE
  DWORD here = 0;
  ASSERT_EQ(DdeInitializeA(&here, ClientCallback, APPCLASS_STANDARD, 0), DMLERR_NO_ERROR);
  EXPECT_EQ(DdeNameService(here, DdeCreateStringHandleA(here, "TBP_MOBILE", CP_WINANSI), nullptr,
                           DNS_REGISTER),
            nullptr);
  EXPECT_EQ(DdeGetLastError(here), DMLERR_DLL_USAGE);
  EXPECT_TRUE(DdeUninitialize(here));

  if (::geteuid() == 0) {
    DdePeer stranger({"--as", "65534", "connect", "TBP_MOBILE", "TBP_MOBILE"});
    EXPECT_EQ(stranger.ReadLine().value_or(""), "none 400a");  // DMLERR_NO_CONV_ESTABLISHED
  }
  {
    const std::string other = (scratch_.path() / "other desktop").string();
    testing::ScopedEnvironment otherRoot("TBM_DESKTOP_ROOT", other.c_str());
    EXPECT_EQ(Connect(), nullptr);
    EXPECT_EQ(DdeGetLastError(instance_), DMLERR_NO_CONV_ESTABLISHED);
    DdePeer elsewhere({"serve", "TBP_MOBILE"});  // that machine's name is free
    ExpectServing(elsewhere);
  }
  EXPECT_NE(Connect(), nullptr);
}

// A connection made by hand to a service's socket, to say what no client
// would say.
UniqueFd RawConnection(const std::string& name) { return ConnectToAbstractSocket(name, 5000); }

// Reads until the server closes the connection (true), or for 5 seconds
// (false); *received counts what came before the end.
bool ClosedByServer(int fd, std::size_t* received = nullptr) {
  std::size_t count = 0;
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, 5000) <= 0) return false;
    char buffer[256];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    count += static_cast<std::size_t>(n);
  }
  if (received != nullptr) *received = count;
  return true;
}

TEST_F(Dde, GarbageOnTheSocketDropsOnlyThatConnection) {
  DdePeer peer({"serve", "TBP_MOBILE"});
  ExpectServing(peer);
  const std::string name = dde::ServiceSocketName("TBP_MOBILE");
  using Bytes = std::vector<std::uint8_t>;
  const Bytes hello = dde::EncodeFrame(dde::Hello{0, "TBP_MOBILE", "TBP_MOBILE"});
  const auto after = [&](Bytes more) {
    Bytes bytes = hello;
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
  };
  Bytes noise(1000);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 37 + 11);
  Bytes foreign = hello;
  foreign[5] ^= 0xFF;  // another protocol's greeting
  const std::vector<Bytes> attempts = {
      {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3},  // a length far over the limit
      {0x00, 0x00, 0x00, 0x00},           // a frame of no length
      noise,
      foreign,
      after({1, 0, 0, 0, 99}),  // a kind nobody sends
      // A transaction whose item claims 200 bytes that the frame has not.
      after({17, 0, 0, 0, 3, 1, 0, 0, 0, 0x50, 0x40, 0, 0, 1, 0, 0, 0, 200, 0, 0, 0}),
  };
  for (std::size_t i = 0; i < attempts.size(); ++i) {
    const UniqueFd socket = RawConnection(name);
    ASSERT_TRUE(socket);
    ::send(socket.get(), attempts[i].data(), attempts[i].size(), MSG_NOSIGNAL);
    EXPECT_TRUE(ClosedByServer(socket.get())) << "attempt " << i;
  }
  {
    const UniqueFd halfAFrame = RawConnection(name);
    ::send(halfAFrame.get(), hello.data(), hello.size() / 2, MSG_NOSIGNAL);
  }
  if (::geteuid() == 0) {
    // Another user's greeting is not even answered.
    testing::ChildProcess stranger([&] {
      if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) return 3;
      const UniqueFd socket = RawConnection(name);
      if (!socket) return 4;
      ::send(socket.get(), hello.data(), hello.size(), MSG_NOSIGNAL);
      std::size_t received = 1;
      return ClosedByServer(socket.get(), &received) && received == 0 ? 0 : 1;
    });
    EXPECT_EQ(stranger.Wait(), 0);
  }

  HCONV conversation = Connect();
  ASSERT_NE(conversation, nullptr);
  EXPECT_TRUE(Execute(conversation, kBlock));
  EXPECT_EQ(Request(conversation), "got:" + kBlock);
}

// A server on a thread of the test, with no filters, running the plain
// message loop. Its callback ends the instance when told "end".
Recorder* threadServerSeen = nullptr;
DWORD threadServer = 0;
HDDEDATA ThreadServerCallback(UINT type, UINT, HCONV conversation, HSZ hsz1, HSZ hsz2,
                              HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
  threadServerSeen->Add(threadServer, type, conversation, hsz1, hsz2, data, data1, data2);
  if (type == XTYP_EXECUTE && threadServerSeen->All().back().data == "end") {
    DdeUninitialize(threadServer);
    PostQuitMessage(0);
  }
  return type == XTYP_CONNECT || type == XTYP_EXECUTE ? reinterpret_cast<HDDEDATA>(DDE_FACK)
                                                      : nullptr;
}

TEST_F(Dde, AnUnfilteredServerOnItsOwnThreadHearsEverythingThereAndCanEndInItsCallback) {
  Recorder serverSeen;
  threadServerSeen = &serverSeen;
  std::atomic<pid_t> serverThread{0};
  std::thread server([&] {
    DdeInitializeA(&threadServer, ThreadServerCallback, APPCLASS_STANDARD, 0);
    DdeNameService(threadServer, DdeCreateStringHandleA(threadServer, "Ledger", CP_WINANSI),
                   nullptr, DNS_REGISTER);
    serverThread = ::gettid();
    RunMessageLoop();
  });
  ASSERT_TRUE(PumpUntil([] { return !client()->Of(XTYP_REGISTER).empty(); }));
  EXPECT_EQ(client()->Of(XTYP_REGISTER)[0].hsz1, "Ledger");

  EXPECT_EQ(DdeCmpStringHandles(Name("LEDGER"), Name("ledger")), 0);
  EXPECT_NE(DdeCmpStringHandles(Name("Ledger"), Name("Ledgers")), 0);
  HCONV conversation = Connect("Accounts", "LEDGER");
  ASSERT_NE(conversation, nullptr);
  EXPECT_TRUE(Execute(conversation, kBlock));
  EXPECT_TRUE(DdeDisconnect(conversation));
  ASSERT_TRUE(PumpUntil([&] { return !serverSeen.Of(XTYP_DISCONNECT).empty(); }));
  conversation = Connect("Accounts", "Ledger");
  ASSERT_NE(conversation, nullptr);
  EXPECT_FALSE(Execute(conversation, "end"));  // the server ended before it answered
  EXPECT_EQ(DdeGetLastError(instance_), DMLERR_NO_CONV_ESTABLISHED);
  server.join();
  EXPECT_EQ(client()->Of(XTYP_DISCONNECT).size(), 1u);
  ASSERT_TRUE(PumpUntil([] { return !client()->Of(XTYP_UNREGISTER).empty(); }));
  EXPECT_EQ(Connect("Accounts", "Ledger"), nullptr);

  const auto seen = serverSeen.All();
  std::vector<UINT> types;
  for (const auto& callback : seen) {
    types.push_back(callback.type);
    EXPECT_EQ(callback.thread, serverThread.load());
  }
  EXPECT_EQ(types,
            (std::vector<UINT>{XTYP_CONNECT, XTYP_CONNECT_CONFIRM, XTYP_EXECUTE, XTYP_DISCONNECT,
                               XTYP_CONNECT, XTYP_CONNECT_CONFIRM, XTYP_EXECUTE}));
  ASSERT_EQ(seen.size(), 7u);
  EXPECT_EQ(seen[0].hsz1, "Accounts");
  EXPECT_EQ(::strcasecmp(seen[0].hsz2.c_str(), "ledger"), 0);
  EXPECT_EQ(seen[2].data, kBlock);
}

}  // namespace
}  // namespace tbm
