// Posting messages and running a thread's message loop.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "CallGuard.h"
#include "MessagePump.h"
#include "QueueWatch.h"
#include "ThreadQueue.h"
#include "WinUser.h"
#include "WindowHost.h"

namespace tbm::wnd {
namespace {

DWORD MonotonicMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<DWORD>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                            static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

MSG QuitMessage(int exitCode) {
  return MSG{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0, MonotonicMilliseconds()};
}

// Answers what was sent, then looks for a posted message and, failing that,
// the quit request. The wake descriptor is emptied first, so anything posted
// from here on wakes the next wait.
std::optional<MSG> Look(ThreadQueue& queue, HWND window, UINT min, UINT max, bool remove) {
  queue.ClearWake();
  queue.AnswerSentMessages();
  queue.RunWatches();
  if (auto message = queue.TakePosted(window, min, max, remove)) return message;
  if (!remove) return std::nullopt;
  if (const auto exitCode = queue.TakeQuit()) return QuitMessage(*exitCode);
  return std::nullopt;
}

// Sleeps until a message is sent to the thread's windows or posted to it,
// or a watched descriptor becomes readable.
void Wait(ThreadQueue& queue) {
  pollfd waits[3] = {{queue.SentDescriptor(), POLLIN, 0},
                     {queue.WakeDescriptor(), POLLIN, 0},
                     {queue.WatchedDescriptor(), POLLIN, 0}};
  while (::poll(waits, 3, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace
}  // namespace tbm::wnd

using namespace tbm::wnd;
using tbm::Fail;
using tbm::Guarded;

extern "C" BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return Guarded(FALSE, [&]() -> BOOL {
    const MSG posted{window, message, wParam, lParam, MonotonicMilliseconds()};
    if (window == nullptr) {
      const auto queue = ThreadQueue::OfCallingThread();
      if (!queue) return FALSE;
      queue->Post(posted);
      return TRUE;
    }
    const auto local = WindowHost::Get().Find(window);
    if (!local) {
      // Not ours: either another process's window, or none at all.
      return Fail(IsWindow(window) ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE, FALSE);
    }
    local->queue->Post(posted);
    return TRUE;
  });
}

extern "C" void PostQuitMessage(int exitCode) {
  Guarded(0, [&] {
    if (const auto queue = ThreadQueue::OfCallingThread()) queue->RequestQuit(exitCode);
    return 0;
  });
}

extern "C" BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
  return Guarded(BOOL{-1}, [&]() -> BOOL {
    if (message == nullptr) return Fail(ERROR_INVALID_PARAMETER, BOOL{-1});
    const auto queue = ThreadQueue::OfCallingThread();
    if (!queue) return -1;
    for (;;) {
      if (const auto found = Look(*queue, window, filterMin, filterMax, true)) {
        *message = *found;
        return found->message == WM_QUIT ? FALSE : TRUE;
      }
      Wait(*queue);
    }
  });
}

extern "C" BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                             UINT removeFlags) {
  return Guarded(FALSE, [&]() -> BOOL {
    if (message == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const auto queue = ThreadQueue::OfCallingThread();
    if (!queue) return FALSE;
    const auto found = Look(*queue, window, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0);
    if (!found) return FALSE;
    *message = *found;
    return TRUE;
  });
}

extern "C" LRESULT DispatchMessageW(const MSG* message) {
  return Guarded(LRESULT{0}, [&]() -> LRESULT {
    if (message == nullptr || message->hwnd == nullptr) return 0;
    const auto local = WindowHost::Get().Find(message->hwnd);
    if (!local || local->queue->thread() != ::gettid()) return 0;
    return WindowHost::Get().CallProcedure(HandleNumber(message->hwnd), message->message,
                                           message->wParam, message->lParam);
  });
}

namespace tbm {

int MessageQueueDescriptor() {
  return Guarded(-1, [] {
    const auto queue = wnd::ThreadQueue::OfCallingThread();
    return queue ? queue->PollableDescriptor() : -1;
  });
}

DWORD DispatchPendingMessages() {
  return Guarded(DWORD{0}, [] {
    const auto queue = wnd::ThreadQueue::OfCallingThread();
    if (!queue) return DWORD{0};
    queue->ClearWake();
    DWORD handled = queue->AnswerSentMessages();
    handled += queue->RunWatches();
    // Only what was waiting when we began: a window procedure that posts
    // again does not keep us here.
    for (std::size_t waiting = queue->PostedCount(); waiting > 0; --waiting) {
      const auto message = queue->TakePosted(nullptr, 0, 0, true);
      if (!message) break;
      if (message->message == WM_QUIT) {
        queue->RequestQuit(static_cast<int>(message->wParam));  // left for GetMessageW
        continue;
      }
      DispatchMessageW(&*message);
      ++handled;
    }
    return handled;
  });
}

std::uint64_t WatchOnMessageQueue(int descriptor, QueueWatchHandler handler) {
  return Guarded(std::uint64_t{0}, [&]() -> std::uint64_t {
    const auto queue = wnd::ThreadQueue::OfCallingThread();
    if (!queue) return 0;
    const std::uint64_t key = queue->AddWatch(descriptor, std::move(handler));
    if (key == 0) SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return key;
  });
}

void StopWatchOnMessageQueue(std::uint64_t watch) {
  Guarded(0, [&] {
    if (auto* queue = wnd::ThreadQueue::OfCallingThreadIfAny()) queue->RemoveWatch(watch);
    return 0;
  });
}

int RunMessageLoop() {
  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got < 0) return -1;
    DispatchMessageW(&message);
  }
}

}  // namespace tbm
