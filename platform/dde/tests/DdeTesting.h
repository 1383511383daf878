// What the DDE tests share: the peer program started as a second process,
// a record of what a callback saw, and a fresh desktop machine per test with
// a client instance on the test's thread.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Ddeml.h"
#include "MessagePump.h"
#include "TestSupport.h"

extern char** environ;

namespace tbm::testing {

// The peer program (DdePeer.cpp), built beside the test program, with a pipe
// to its standard input (closing it ends a server) and one from its output.
class DdePeer {
 public:
  explicit DdePeer(const std::vector<std::string>& args) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    const std::string program =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tbm_dde_test_peer")
            .string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = output[0];
  }
  ~DdePeer() {
    if (input_ >= 0) ::close(input_);
    Kill();
    if (output_ >= 0) ::close(output_);
  }
  DdePeer(const DdePeer&) = delete;
  DdePeer& operator=(const DdePeer&) = delete;

  // The next line the peer writes; nullopt when it ends its output or says
  // nothing for 30 seconds.
  std::optional<std::string> ReadLine() {
    for (;;) {
      if (const auto end = pending_.find('\n'); end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
      }
      pollfd wait{output_, POLLIN, 0};
      char buffer[256];
      if (::poll(&wait, 1, 30000) <= 0) return std::nullopt;
      const ssize_t n = ::read(output_, buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // Ends the peer at once, as a crash would, and reaps it.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
};

// One callback as an instance saw it; texts and the data's bytes are
// copied during the call.
struct Seen {
  UINT type = 0;
  HCONV conversation = nullptr;
  std::string hsz1;
  std::string hsz2;
  bool hadData = false;
  std::string data;
  ULONG_PTR data1 = 0;
  ULONG_PTR data2 = 0;
  pid_t thread = 0;
};

class Recorder {
 public:
  void Add(DWORD instance, UINT type, HCONV conversation, HSZ hsz1, HSZ hsz2, HDDEDATA data,
           ULONG_PTR data1, ULONG_PTR data2) {
    Seen seen{
        type,  conversation, Text(instance, hsz1), Text(instance, hsz2), data != nullptr, {}, data1,
        data2, ::gettid()};
    if (const DWORD size = DdeGetData(data, nullptr, 0, 0); size > 0) {
      seen.data.resize(size);
      DdeGetData(data, reinterpret_cast<BYTE*>(seen.data.data()), size, 0);
    }
    std::lock_guard lock(mutex_);
    seen_.push_back(std::move(seen));
  }
  std::vector<Seen> Of(UINT type) {
    std::lock_guard lock(mutex_);
    std::vector<Seen> found;
    for (const Seen& seen : seen_) {
      if (seen.type == type) found.push_back(seen);
    }
    return found;
  }
  std::vector<Seen> All() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  static std::string Text(DWORD instance, HSZ handle) {
    if (handle == nullptr) return {};
    char text[256] = {};
    DdeQueryStringA(instance, handle, text, sizeof text, CP_WINANSI);
    return text;
  }

  std::mutex mutex_;
  std::vector<Seen> seen_;
};

// Runs this thread's messages until done() holds; false when it still does
// not after limit.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pollfd wait{MessageQueueDescriptor(), POLLIN, 0};
    ::poll(&wait, 1, 10);
    DispatchPendingMessages();
  }
  return true;
}

// A fresh desktop machine, and an unfiltered client instance of this thread
// whose callbacks go to client().
class FreshDesktop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    root_ = (scratch_.path() / "desktop").string();
    ::setenv("TBM_DESKTOP_ROOT", root_.c_str(), 1);  // put back by desktopRoot_
    SetDdeConnectTimeLimit(3000);
    client() = std::make_unique<Recorder>();
    ASSERT_EQ(DdeInitializeA(&instance_, ClientCallback, APPCMD_CLIENTONLY, 0), DMLERR_NO_ERROR);
    clientInstance() = instance_;
  }
  void TearDown() override { DdeUninitialize(instance_); }  // frees its handles too

  static std::unique_ptr<Recorder>& client() {
    static std::unique_ptr<Recorder> recorder;
    return recorder;
  }
  static DWORD& clientInstance() {
    static DWORD instance = 0;
    return instance;
  }
  static HDDEDATA ClientCallback(UINT type, UINT, HCONV conversation, HSZ hsz1, HSZ hsz2,
                                 HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
    client()->Add(clientInstance(), type, conversation, hsz1, hsz2, data, data1, data2);
    return nullptr;
  }

  HSZ Name(const char* text) { return DdeCreateStringHandleA(instance_, text, CP_WINANSI); }

  // Waits until a peer started to serve has registered its service.
  static void ExpectServing(DdePeer& peer) {
    EXPECT_EQ(peer.ReadLine().value_or("nothing"), "ready");
  }

  HCONV Connect(const char* topic = "TBP_MOBILE", const char* service = "TBP_MOBILE") {
    return DdeConnect(instance_, Name(service), Name(topic), nullptr);
  }

  // A synchronous execute of block; the server's flags in *flags.
  bool Execute(HCONV conversation, const std::string& block, DWORD* flags = nullptr,
               DWORD timeout = 5000) {
    DWORD result = 0;
    const HDDEDATA done = DdeClientTransaction(reinterpret_cast<const BYTE*>(block.data()),
                                               static_cast<DWORD>(block.size()), conversation,
                                               nullptr, CF_TEXT, XTYP_EXECUTE, timeout, &result);
    if (flags != nullptr) *flags = result;
    return done != nullptr;
  }

  // A synchronous request of item: the whole block, or nullopt.
  std::optional<std::string> Request(HCONV conversation, const char* item = "TBP_MOBILE_RESPONSE",
                                     DWORD timeout = 5000) {
    const HDDEDATA data = DdeClientTransaction(nullptr, 0, conversation, Name(item), CF_TEXT,
                                               XTYP_REQUEST, timeout, nullptr);
    if (data == nullptr) return std::nullopt;
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    std::string block(reinterpret_cast<const char*>(bytes), size);
    DdeUnaccessData(data);
    DdeFreeDataHandle(data);
    return block;
  }

  ScratchFolder scratch_{"tbm-dde-test"};
  std::string root_;
  ScopedEnvironment machine_{"TBM_MACHINE", "desktop"};
  ScopedEnvironment desktopRoot_{"TBM_DESKTOP_ROOT", nullptr};
  DWORD instance_ = 0;
};

}  // namespace tbm::testing
