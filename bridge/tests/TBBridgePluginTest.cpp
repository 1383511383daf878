// TBBridge.tbx as Tabulon Pro loads it: the entry point found by name, the
// host checked before anything starts, and, once started, commands
// answered over DDE to a client on another thread of the process, while
// this thread runs the message queue as the host's event loop does.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "DdeCommandBlock.h"
#include "Ddeml.h"
#include "Machine.h"
#include "MemoryHost.h"
#include "MessagePump.h"
#include "TBExtern.h"
#include "TestSupport.h"

namespace tbm::bridge {
namespace {

namespace fs = std::filesystem;
using testing::MemoryDatabase;
using testing::MemoryHost;

// A client's view of the conversation, run on a thread of its own.
class Client {
 public:
  bool Connect() {
    if (DdeInitializeA(&instance_, &Client::Callback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
      return false;
    }
    HSZ service = DdeCreateStringHandleA(instance_, sync::kDdeServiceName, CP_WINANSI);
    HSZ topic = DdeCreateStringHandleA(instance_, sync::kDdeTopicName, CP_WINANSI);
    item_ = DdeCreateStringHandleA(instance_, sync::kDdeReplyItemName, CP_WINANSI);
    conversation_ = DdeConnect(instance_, service, topic, nullptr);
    DdeFreeStringHandle(instance_, service);
    DdeFreeStringHandle(instance_, topic);
    return conversation_ != nullptr;
  }
  ~Client() {
    if (conversation_ != nullptr) DdeDisconnect(conversation_);
    if (instance_ != 0) DdeUninitialize(instance_);
  }

  // Sends bytes as an execute and fetches the reply: its bytes, or nothing
  // when the server had none.
  std::optional<std::vector<std::uint8_t>> Run(std::span<const std::uint8_t> block) {
    DWORD flags = 0;
    if (DdeClientTransaction(block.data(), static_cast<DWORD>(block.size()), conversation_, nullptr,
                             0, XTYP_EXECUTE, 10000, &flags) == nullptr) {
      return std::nullopt;
    }
    HDDEDATA data = DdeClientTransaction(nullptr, 0, conversation_, item_, CF_TEXT, XTYP_REQUEST,
                                         10000, nullptr);
    if (data == nullptr) return std::nullopt;
    std::vector<std::uint8_t> bytes(DdeGetData(data, nullptr, 0, 0));
    DdeGetData(data, bytes.data(), static_cast<DWORD>(bytes.size()), 0);
    DdeFreeDataHandle(data);
    return bytes;
  }

  std::optional<std::int32_t> Reply(const sync::DdeCommand& command) {
    sync::DdeBlock block;
    if (!sync::BuildDdeBlock(command, &block).ok()) return std::nullopt;
    const auto bytes = Run(block.bytes());
    std::int32_t number = 0;
    if (!bytes || !sync::ReadDdeReply(*bytes, &number).ok()) return std::nullopt;
    return number;
  }

 private:
  static HDDEDATA Callback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
  }

  DWORD instance_ = 0;
  HSZ item_ = nullptr;
  HCONV conversation_ = nullptr;
};

class TBBridgePluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SelectMachine(Machine::Desktop);
    handle_ = dlopen(TBM_BRIDGE_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    entry_ = reinterpret_cast<TBExternCallProcFn>(dlsym(handle_, TB_EXTERN_CALL_PROC_NAME));
    ASSERT_NE(entry_, nullptr);
  }
  // The plug-in stays loaded, as the host keeps it.

  std::int32_t Call(std::uint8_t code) {
    block_.callCode = code;
    block_.result = 0;
    entry_(&block_);
    return block_.result;
  }

  // Runs body on a thread of its own while this thread answers DDE.
  void WhileServing(const std::function<void()>& body) {
    std::atomic<bool> done = false;
    std::thread client([&] {
      body();
      done = true;
    });
    while (!done) {
      DispatchPendingMessages();
      pollfd ready{MessageQueueDescriptor(), POLLIN, 0};
      ::poll(&ready, 1, 10);
    }
    client.join();
    DispatchPendingMessages();
  }

  ::tbm::testing::ScratchFolder scratch_{"tbm-bridge-plugin"};
  ::tbm::testing::ScopedEnvironment desktopRoot_{"TBM_DESKTOP_ROOT",
                                                 (scratch_.path() / "desktop").c_str()};
  ::tbm::testing::ScopedEnvironment ansi_{"TBM_ANSI_CODE_PAGE", nullptr};
  MemoryHost host_;
  TBParamBlock block_{TB_INTERFACE_VERSION, {}, 0, {}, 0, {}, &host_.services()};
  void* handle_ = nullptr;
  TBExternCallProcFn entry_ = nullptr;
};

TEST_F(TBBridgePluginTest, AHostThePlugInDoesNotWorkWithIsRefusedBeforeAnythingStarts) {
  for (const std::uint16_t version : {12, 256, 0}) {
    block_.interfaceVersion = version;
    EXPECT_EQ(Call(TB_CALL_START), -1) << version;
  }
  block_.interfaceVersion = 255;
  TBHostServices services = host_.services();
  block_.services = &services;
  services.edition = 3;
  EXPECT_EQ(Call(TB_CALL_START), -1);
  services.edition = TB_EDITION_ADVANCED;
  services.size = sizeof(TBHostServices) - 8;
  EXPECT_EQ(Call(TB_CALL_START), -1);
  block_.services = nullptr;
  EXPECT_EQ(Call(TB_CALL_START), -1);

  // Nothing runs, so there is nothing to stop or show, and no service.
  for (const std::uint8_t code : {1, 3, 4, 5, 6, 7}) EXPECT_EQ(Call(code), 0);
  WhileServing([] {
    Client client;
    EXPECT_FALSE(client.Connect());
  });
}

TEST_F(TBBridgePluginTest, AStartedPlugInAnswersEveryCommandOverDdeUntilItStops) {
  MemoryDatabase contacts;
  contacts.name = "Contacts";
  contacts.flags = (1u << 21) | (1u << 9);
  contacts.fields = {{"K-NAME", "Name", TB_FIELD_TEXT}};
  host_.Open(contacts);
  const fs::path folder = scratch_.path() / "Sync";
  fs::create_directories(folder);
  block_.services = &host_.services();
  ASSERT_EQ(Call(TB_CALL_START), 13);

  WhileServing([&] {
    Client client;
    ASSERT_TRUE(client.Connect());
    using sync::DdeCommand;
    using sync::DdeMessage;
    EXPECT_EQ(client.Reply(DdeCommand::WithoutArgument(DdeMessage::kProtocolVersion)), 0x20000);
    EXPECT_EQ(client.Reply(DdeCommand::WithString(DdeMessage::kExchangeFolder, folder.string())),
              0);
    EXPECT_EQ(client.Reply(DdeCommand::WithStrings(DdeMessage::kStart, "", "")), 0);
    EXPECT_EQ(client.Reply(DdeCommand::WithString(DdeMessage::kWhichDatabase, "Contacts")), 0);
    EXPECT_EQ(client.Reply(DdeCommand::WithoutArgument(DdeMessage::kExportNext)), 0);
    EXPECT_TRUE(fs::exists(folder / "TBSS.sdb"));
    EXPECT_EQ(client.Reply(DdeCommand::WithoutArgument(DdeMessage::kEnd)), 0);
    EXPECT_FALSE(fs::exists(folder / "TBSS.sdb"));

    // The whole reply comes back; a block that is no command leaves none,
    // so the reply before is not taken for its answer.
    const auto reply = client.Run(sync::BuildDdeReply(0).bytes());
    EXPECT_FALSE(reply);
    const std::vector<std::uint8_t> unknown = {10, 255, 0};
    EXPECT_FALSE(client.Run(unknown));
  });

  EXPECT_EQ(Call(TB_CALL_STOP), 0);
  WhileServing([] {
    Client client;
    EXPECT_FALSE(client.Connect()) << "the service is gone";
  });

  // It starts again after a stop.
  ASSERT_EQ(Call(TB_CALL_START), 13);
  WhileServing([] {
    Client client;
    ASSERT_TRUE(client.Connect());
    EXPECT_EQ(client.Reply(sync::DdeCommand::WithoutArgument(sync::DdeMessage::kProtocolVersion)),
              0x20000);
  });
  Call(TB_CALL_STOP);
}

TEST_F(TBBridgePluginTest, WithoutItsLanguageLibraryThePlugInDoesNotStart) {
  // A copy of the plug-in in a folder without qzres; the libraries it needs
  // are already loaded by this program.
  const fs::path copy = scratch_.path() / "alone" / "TBBridge.tbx";
  fs::create_directories(copy.parent_path());
  fs::copy_file(TBM_BRIDGE_PLUGIN, copy);
  void* alone = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(alone, nullptr) << dlerror();
  auto entry = reinterpret_cast<TBExternCallProcFn>(dlsym(alone, TB_EXTERN_CALL_PROC_NAME));
  ASSERT_NE(entry, nullptr);
  block_.callCode = TB_CALL_START;
  entry(&block_);
  EXPECT_EQ(block_.result, -2);
}

}  // namespace
}  // namespace tbm::bridge
