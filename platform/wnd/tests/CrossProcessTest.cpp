// Windows and messages between separate processes: the test and the peer
// program (WindowPeer.cpp) on one fresh machine.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <thread>

#include "Machine.h"
#include "MessageFrame.h"
#include "PeerMessages.h"
#include "PeerProcess.h"
#include "Utf16.h"
#include "WindowDirectory.h"
#include "WindowSocket.h"
#include "WindowTesting.h"

namespace tbm {
namespace {

using namespace tbm::peer;
using testing::AllWindows;
using testing::FreshMachine;
using testing::HandleFromText;
using testing::HandleText;
using testing::PeerProcess;
using testing::PumpUntil;

class CrossProcess : public FreshMachine {
 protected:
  // Starts a peer that owns one window and returns that window.
  HWND StartOwner(PeerProcess& peer) {
    EXPECT_TRUE(peer.started());
    const auto line = peer.ReadLine();
    EXPECT_TRUE(line.has_value()) << "the peer wrote no handle";
    if (!line || line->size() != 8) {
      ADD_FAILURE() << "peer said: " << line.value_or("");
      return nullptr;
    }
    return HandleFromText(*line);
  }

  static std::vector<std::string> OwnerArguments(const std::string& style = "10c00000",
                                                 const std::string& exStyle = "80000000") {
    return {"own", "TBMMainFrame", "Tabulon Mobile", style, exStyle};
  }
};

std::string ModuleFileName(HWND window) {
  WCHAR path[4096];
  const UINT length = GetWindowModuleFileNameW(window, path, 4096);
  return Utf16ToUtf8(std::u16string_view(path, length));
}

bool Listed(HWND window) {
  const auto windows = AllWindows();
  return std::find(windows.begin(), windows.end(), window) != windows.end();
}

// The window the test owns for peers to send to: answers WM_USER with 1 and
// kEcho like the peer does, and counts what it answered.
std::atomic<int> answeredByTest{0};
LRESULT TestWindow(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
  ++answeredByTest;
  if (message == WM_USER) return 1;
  if (message == kEcho) return static_cast<LRESULT>(wParam) * 1000 + lParam;
  return 0;
}

// A connection made by hand to a window's socket, to say what no sender
// would say.
UniqueFd RawConnection(HWND window) {
  return ConnectToAbstractSocket(
      wnd::WindowSocketName(MachineTag(),
                            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window))),
      5000);
}

// True when the other end closes the connection without answering (a
// close that leaves what we sent unread resets the connection).
bool ClosedWithoutAnswer(int fd) {
  std::uint8_t byte;
  timeval limit{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  const ssize_t n = ::recv(fd, &byte, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

TEST_F(CrossProcess, AnotherProcesssWindowIsSeenWithWhatItPublished) {
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);

  EXPECT_EQ(AllWindows(), std::vector<HWND>{window});
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)), WS_VISIBLE | WS_CAPTION);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)), 0x80000000u);
  DWORD process = 0;
  EXPECT_NE(GetWindowThreadProcessId(window, &process), 0u);
  EXPECT_EQ(process, static_cast<DWORD>(peer.pid()));
  EXPECT_EQ(ModuleFileName(window), std::filesystem::canonical(PeerProcess::ProgramPath()));
  EXPECT_EQ(FindWindowW(u"tbmmainframe", u"TABULON MOBILE"), window);
}

TEST_F(CrossProcess, ASentMessageIsAnsweredByTheOwningProcess) {
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 1);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(SendMessageW(window, kEcho, 12, 34), 12034);
  EXPECT_EQ(SendMessageW(window, kEcho, 0, -5), -5) << "a negative answer crosses intact";
  DWORD_PTR result = 0;
  EXPECT_NE(SendMessageTimeoutW(window, kEcho, 3, 4, SMTO_NORMAL, 30000, &result), 0);
  EXPECT_EQ(result, 3004u);
}

TEST_F(CrossProcess, AnotherProcessFindsThisProcesssWindowAsTheAgentDoesAndAsksIt) {
  // A hidden window and one with a plain extended style are passed over.
  Make(u"TBMHidden", u"", 0, 0, TestWindow);
  Make(u"TBMToolWindow", u"", WS_VISIBLE, WS_EX_TOOLWINDOW, TestWindow);
  HWND frame = Make(u"TBMMainFrame", u"Tabulon Mobile", WS_VISIBLE, 0, TestWindow);
  answeredByTest = 0;
  // The program path as another spelling of case would give it.
  std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
  for (char& c : program) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  PeerProcess peer({"find", program});
  std::optional<std::string> line;
  std::thread reader([&] { line = peer.ReadLine(); });
  EXPECT_TRUE(PumpUntil([&] { return answeredByTest.load() == 1; }));
  reader.join();
  EXPECT_EQ(line.value_or(""), "found " + HandleText(frame) + " answer 1");
  EXPECT_EQ(WEXITSTATUS(peer.Wait()), 0);
}

TEST_F(CrossProcess, ProcessesSendingToEachOtherWhileWaitingDoNotDeadlock) {
  HWND mine = Make(u"TBMMainFrame", u"", WS_VISIBLE, 0, TestWindow);
  PeerProcess peer(OwnerArguments());
  HWND theirs = StartOwner(peer);
  ASSERT_NE(theirs, nullptr);
  // The peer answers by asking our window kEcho(7, 8) first, which this
  // thread answers while it waits.
  EXPECT_EQ(SendMessageW(theirs, kCallBack, reinterpret_cast<WPARAM>(mine), 0), 7009);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST_F(CrossProcess, ChangesMadeByTheOwnerAreSeenByOthers) {
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(static_cast<DWORD>(SendMessageW(window, kRestyle, WS_EX_TOPMOST, 0)), 0x80000000u);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)), WS_EX_TOPMOST);
  EXPECT_TRUE(SendMessageW(window, kHide, 0, 0));
  EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(CrossProcess, OnlyTheOwnerChangesOrPostsToAWindow) {
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SetWindowLongW(window, GWL_STYLE, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ShowWindow(window, SW_HIDE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_USERDATA), 0);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(PostMessageW(window, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(CrossProcess, AWindowOfADeadProcessIsNotOfferedAndASendToItFailsAtOnce) {
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(Listed(window));
  const std::string entry = EntryPath(window);
  peer.Kill();
  ASSERT_TRUE(std::filesystem::exists(entry)) << "a killed process cannot clean up";

  EXPECT_FALSE(Listed(window));
  EXPECT_FALSE(std::filesystem::exists(entry)) << "the reader removed it";
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(CrossProcess, ASendFailsWhenTheProcessDiesBeforeAnswering) {
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);
  LRESULT answer = -1;
  DWORD error = 0;
  std::thread sender([&] {
    answer = SendMessageW(window, kHang, 0, 0);
    error = GetLastError();
  });
  EXPECT_EQ(peer.ReadLine().value_or(""), "hanging");
  peer.Kill();
  sender.join();
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(error, ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(CrossProcess, ASendWithATimeLimitGivesUpAndTheReceiverGoesOn) {
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);
  DWORD_PTR result = 0;
  EXPECT_EQ(SendMessageTimeoutW(window, kHang, 0, 0, SMTO_NORMAL, 100, &result), 0);
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  EXPECT_EQ(peer.ReadLine().value_or(""), "hanging");
  peer.CloseInput();  // lets the hanging procedure return into a closed connection
  EXPECT_EQ(SendMessageW(window, kEcho, 1, 1), 1001);
}

TEST_F(CrossProcess, ANormalExitWithdrawsTheWindow) {
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);
  const std::string entry = EntryPath(window);
  EXPECT_EQ(SendMessageW(window, kQuit, 5, 0), 1);
  const int status = peer.Wait();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5);
  EXPECT_FALSE(std::filesystem::exists(entry));
}

TEST_F(CrossProcess, APeersBadFramesCloseItsConnectionButNotTheReceiver) {
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);
  const auto number = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
  const auto good = wnd::EncodeRequest({number, kEcho, 1, 2});

  std::vector<std::vector<std::uint8_t>> bad;
  auto wrongMagic = good;
  wrongMagic[0] ^= 0xFF;
  bad.emplace_back(wrongMagic.begin(), wrongMagic.end());
  auto wrongVersion = good;
  wrongVersion[4] = 9;
  bad.emplace_back(wrongVersion.begin(), wrongVersion.end());
  auto reservedSet = good;
  reservedSet[39] = 1;
  bad.emplace_back(reservedSet.begin(), reservedSet.end());
  const auto otherWindow = wnd::EncodeRequest({number + 1, kEcho, 1, 2});
  bad.emplace_back(otherWindow.begin(), otherWindow.end());
  bad.emplace_back(4096, std::uint8_t{0xAB});

  for (const auto& bytes : bad) {
    UniqueFd fd = RawConnection(window);
    ASSERT_TRUE(fd);
    ASSERT_EQ(::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
    EXPECT_TRUE(ClosedWithoutAnswer(fd.get()));
  }
  {
    // Half a request, then the sender hangs up.
    UniqueFd fd = RawConnection(window);
    ASSERT_TRUE(fd);
    ::send(fd.get(), good.data(), good.size() / 2, MSG_NOSIGNAL);
  }
  {
    // Connections that never say anything.
    std::vector<UniqueFd> idle;
    for (int i = 0; i < 40; ++i) idle.push_back(RawConnection(window));
    EXPECT_EQ(SendMessageW(window, kEcho, 4, 2), 4002) << "idle connections do not block it";
  }
  {
    // Two requests in one write are answered in turn.
    UniqueFd fd = RawConnection(window);
    std::array<std::uint8_t, 2 * wnd::kRequestBytes> two{};
    std::copy(good.begin(), good.end(), two.begin());
    std::copy(good.begin(), good.end(), two.begin() + wnd::kRequestBytes);
    ASSERT_EQ(::send(fd.get(), two.data(), two.size(), MSG_NOSIGNAL), 80);
    std::array<std::uint8_t, 2 * wnd::kReplyBytes> replies{};
    std::size_t filled = 0;
    while (filled < replies.size()) {
      const ssize_t n = ::recv(fd.get(), replies.data() + filled, replies.size() - filled, 0);
      ASSERT_GT(n, 0);
      filled += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(wnd::DecodeReply(std::span(replies).first(wnd::kReplyBytes)), 1002);
    EXPECT_EQ(wnd::DecodeReply(std::span(replies).last(wnd::kReplyBytes)), 1002);
  }
  EXPECT_EQ(SendMessageW(window, kEcho, 12, 34), 12034);
  EXPECT_TRUE(Listed(window));
}

TEST_F(CrossProcess, AConnectionFromAnotherUserIsNotAnswered) {
  if (::geteuid() != 0) GTEST_SKIP() << "only the superuser can act as another user here";
  PeerProcess peer(OwnerArguments());
  HWND window = StartOwner(peer);
  ASSERT_NE(window, nullptr);
  const auto number = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
  const auto request = wnd::EncodeRequest({number, kEcho, 1, 2});
  const pid_t child = ::fork();
  if (child == 0) {
    // Exit code 0: the window closed the connection without an answer.
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
      ::_exit(3);
    }
    UniqueFd fd = RawConnection(window);
    if (!fd) ::_exit(4);
    ::send(fd.get(), request.data(), request.size(), MSG_NOSIGNAL);
    ::_exit(ClosedWithoutAnswer(fd.get()) ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(SendMessageW(window, kEcho, 1, 2), 1002) << "its own user is still answered";
}

TEST_F(CrossProcess, ASenderRefusesASocketHeldByAnotherProcessThanTheWindows) {
  // An entry naming a live process (the system's first) whose socket name
  // this process holds instead.
  const std::uint32_t number = 0x00C0FFEE;
  wnd::WindowEntry entry;
  entry.hwnd = number;
  entry.pid = 1;
  entry.started = wnd::ProcessStartTime(1).value_or(0);
  entry.thread = 1;
  entry.style = WS_VISIBLE;
  entry.created = 1;
  entry.program = "/sbin/init";
  entry.className = "Impostor";
  ASSERT_EQ(wnd::WindowDirectory(WindowFolder()).Publish(entry), ERROR_SUCCESS);
  UniqueFd squatter = ListenOnAbstractSocket(wnd::WindowSocketName(MachineTag(), number));
  ASSERT_TRUE(squatter);

  EXPECT_EQ(SendMessageW(reinterpret_cast<HWND>(std::uintptr_t{number}), WM_USER, 0, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

}  // namespace
}  // namespace tbm
