// Sending a message to a window and waiting for its answer.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "CallGuard.h"
#include "MessageFrame.h"
#include "ThreadQueue.h"
#include "WinUser.h"
#include "WindowLookup.h"
#include "WindowSocket.h"

namespace tbm::wnd {
namespace {

using Clock = std::chrono::steady_clock;

// What is left of a wait that ends at deadline, for poll: -1 without limit.
int RemainingMilliseconds(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Writes all of bytes to a blocking socket; false when the peer is gone.
bool SendAll(int fd, const std::uint8_t* bytes, std::size_t size) {
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(fd, bytes + sent, size - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Sends one request on a new connection to the window's socket and waits for
// the answer. While waiting, a thread with a queue answers messages sent to
// its own windows, unless flags has SMTO_BLOCK. Returns ERROR_SUCCESS and the
// answer in *result, or the platform error.
DWORD SendThroughSocket(const FoundWindow& window, const Request& request, UINT flags,
                        std::optional<Clock::time_point> deadline, LRESULT* result) {
  UniqueFd fd = ConnectToAbstractSocket(WindowSocketName(window.machineTag, request.hwnd),
                                        RemainingMilliseconds(deadline));
  if (!fd) {
    if (errno == EAGAIN || errno == EINPROGRESS || errno == ETIMEDOUT) return ERROR_TIMEOUT;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      return ERROR_NO_SYSTEM_RESOURCES;
    }
    return ERROR_INVALID_WINDOW_HANDLE;  // nobody listens: the window or its process is gone
  }
  // The listener must be the process that published the window, running as
  // this user: anyone could have bound the name in the abstract namespace.
  const auto peer = PeerOf(fd.get());
  if (!peer || peer->uid != ::geteuid() || peer->pid != window.entry.pid) {
    return ERROR_ACCESS_DENIED;
  }
  const auto frame = EncodeRequest(request);
  if (!SendAll(fd.get(), frame.data(), frame.size())) return ERROR_INVALID_WINDOW_HANDLE;

  ThreadQueue* const queue =
      (flags & SMTO_BLOCK) != 0 ? nullptr : ThreadQueue::OfCallingThreadIfAny();
  std::array<std::uint8_t, kReplyBytes> reply{};
  std::size_t filled = 0;
  for (;;) {
    pollfd waits[2] = {{fd.get(), POLLIN, 0}, {queue ? queue->SentDescriptor() : -1, POLLIN, 0}};
    const int ready = ::poll(waits, queue ? 2 : 1, RemainingMilliseconds(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return ERROR_NO_SYSTEM_RESOURCES;
    if (ready == 0) return ERROR_TIMEOUT;
    if (queue != nullptr && waits[1].revents != 0) queue->AnswerSentMessages();
    if (waits[0].revents == 0) continue;
    const ssize_t n = ::recv(fd.get(), reply.data() + filled, reply.size() - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ERROR_INVALID_WINDOW_HANDLE;  // it went before it answered
    filled += static_cast<std::size_t>(n);
    if (filled < reply.size()) continue;
    const auto answer = DecodeReply(reply);
    if (!answer) return ERROR_INVALID_DATA;
    *result = static_cast<LRESULT>(*answer);
    return ERROR_SUCCESS;
  }
}

// The common path of both sends.
DWORD Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
           std::optional<Clock::time_point> deadline, LRESULT* result) {
  const auto found = LookUpWindow(window);
  if (!found) return ERROR_INVALID_WINDOW_HANDLE;
  if (found->local && found->local->queue->thread() == ::gettid()) {
    // Our own thread's window: its procedure runs here and now.
    *result = WindowHost::Get().CallProcedure(found->entry.hwnd, message, wParam, lParam);
    return ERROR_SUCCESS;
  }
  const Request request{found->entry.hwnd, message, static_cast<std::uint64_t>(wParam),
                        static_cast<std::int64_t>(lParam)};
  return SendThroughSocket(*found, request, flags, deadline, result);
}

}  // namespace
}  // namespace tbm::wnd

using namespace tbm::wnd;
using tbm::Fail;
using tbm::Guarded;

extern "C" LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Guarded(LRESULT{0}, [&]() -> LRESULT {
    LRESULT result = 0;
    const DWORD error = Send(window, message, wParam, lParam, SMTO_NORMAL, std::nullopt, &result);
    SetLastError(error);
    return error == ERROR_SUCCESS ? result : 0;
  });
}

extern "C" LRESULT SendMessageTimeoutW(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT flags, UINT timeoutMilliseconds, DWORD_PTR* result) {
  return Guarded(LRESULT{0}, [&]() -> LRESULT {
    std::optional<Clock::time_point> deadline;
    if (timeoutMilliseconds != INFINITE) {
      deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    }
    LRESULT answer = 0;
    const DWORD error = Send(window, message, wParam, lParam, flags, deadline, &answer);
    if (error != ERROR_SUCCESS) return Fail(error, LRESULT{0});
    if (result != nullptr) *result = static_cast<DWORD_PTR>(answer);
    SetLastError(ERROR_SUCCESS);
    return 1;
  });
}
