// The windows of this process.
#include "WindowHost.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <vector>

#include "Machine.h"
#include "SystemPaths.h"
#include "Utf16.h"
#include "WindowSocket.h"

namespace tbm::wnd {

namespace {

// Handles are drawn at random from this range, so that handles of windows
// that are gone are not soon handed out again and a stale handle meets
// nothing. The socket name is the claim: a handle whose name is taken is
// drawn again.
constexpr std::uint32_t kLowestHandle = 0x00010000;
constexpr std::uint32_t kHighestHandle = 0x7FFFFFFF;
constexpr int kHandleAttempts = 32;

std::uint64_t RealTimeNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

// The program file this process runs, as a UTF-8 host path.
std::string ProgramFile() {
  std::u16string buffer(4096, u'\0');
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), 4096);
  if (length == 0 || length >= 4096) return {};
  buffer.resize(length);
  return Utf16ToUtf8(buffer);
}

// Window procedures must not throw; one that does ends the program here
// rather than unwinding through the message machinery.
LRESULT Call(WNDPROC procedure, HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return procedure(window, message, wParam, lParam);
}

}  // namespace

WindowHost& WindowHost::Get() {
  // Never destroyed: threads that end during the process's exit still find it.
  static WindowHost* const host = new WindowHost;
  return *host;
}

std::uint32_t WindowHost::NewHandleNumber() {
  // splitmix64 over a seed from the system's random source.
  if (randomState_ == 0) {
    if (::getrandom(&randomState_, sizeof randomState_, 0) != sizeof randomState_) {
      randomState_ = RealTimeNanoseconds() ^ (static_cast<std::uint64_t>(::getpid()) << 32);
    }
    randomState_ |= 1;
  }
  std::uint64_t z = (randomState_ += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z ^= z >> 31;
  return kLowestHandle + static_cast<std::uint32_t>(z % (kHighestHandle - kLowestHandle + 1));
}

HWND WindowHost::Create(DWORD exStyle, std::u16string_view className, std::u16string_view title,
                        DWORD style, WNDPROC procedure, void* param) {
  if (procedure == nullptr || className.empty() || className.size() > kMaxClassNameUnits ||
      title.size() > kMaxTitleUnits) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::shared_ptr<ThreadQueue> queue = ThreadQueue::OfCallingThread();
  if (!queue) return nullptr;
  const std::optional<std::uint64_t> started =
      ProcessStartTime(static_cast<std::uint32_t>(::getpid()));
  const std::string program = ProgramFile();
  if (!started || program.empty()) {
    SetLastError(ERROR_INTERNAL_ERROR);
    return nullptr;
  }

  LocalWindow window{.entry = {},
                     .directory = WindowDirectory::OfCurrentMachine(),
                     .machineTag = MachineTag(),
                     .procedure = procedure,
                     .userData = reinterpret_cast<LONG_PTR>(param),
                     .queue = queue,
                     .ownerProcess = ::getpid()};
  UniqueFd listener;
  {
    std::lock_guard lock(mutex_);
    for (int attempt = 0; attempt < kHandleAttempts && !listener; ++attempt) {
      const std::uint32_t number = NewHandleNumber();
      if (windows_.contains(number)) continue;
      listener = ListenOnAbstractSocket(WindowSocketName(window.machineTag, number));
      if (listener) {
        window.entry.hwnd = number;
      } else if (errno != EADDRINUSE) {
        break;
      }
    }
  }
  if (!listener) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
  }

  WindowEntry& entry = window.entry;
  entry.pid = static_cast<std::uint32_t>(::getpid());
  entry.started = *started;
  entry.thread = static_cast<std::uint32_t>(queue->thread());
  entry.style = style;
  entry.exStyle = exStyle;
  entry.created = RealTimeNanoseconds();
  entry.program = program;
  entry.className = Utf16ToUtf8(className);
  entry.title = Utf16ToUtf8(title);

  // The socket name is ours, so an entry file under this handle can only be
  // one left by a dead process: publishing replaces it.
  if (const DWORD error = window.directory.Publish(entry); error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  if (const DWORD error = queue->AddWindow(entry.hwnd, std::move(listener));
      error != ERROR_SUCCESS) {
    window.directory.Withdraw(entry.hwnd);
    SetLastError(error);
    return nullptr;
  }
  const std::uint32_t number = entry.hwnd;
  std::lock_guard lock(mutex_);
  windows_.emplace(number, std::move(window));
  return HandleOf(number);
}

BOOL WindowHost::Destroy(HWND handle) {
  const std::uint32_t number = HandleNumber(handle);
  WNDPROC procedure;
  std::shared_ptr<ThreadQueue> queue;
  {
    std::lock_guard lock(mutex_);
    const auto at = windows_.find(number);
    if (at == windows_.end()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    LocalWindow& window = at->second;
    if (window.queue->thread() != ::gettid()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    if (window.destroying) return TRUE;  // destroyed again from its own WM_DESTROY
    window.destroying = true;
    if (window.ownerProcess == ::getpid()) window.directory.Withdraw(number);
    procedure = window.procedure;
    queue = window.queue;
  }
  queue->RemoveWindow(number);
  Call(procedure, handle, WM_DESTROY, 0, 0);
  {
    std::lock_guard lock(mutex_);
    windows_.erase(number);
  }
  queue->DropPostedFor(handle);
  return TRUE;
}

void WindowHost::ForgetWindowsOfThread(pid_t thread) {
  std::vector<LocalWindow> ending;
  {
    std::lock_guard lock(mutex_);
    for (auto at = windows_.begin(); at != windows_.end();) {
      if (at->second.queue->thread() == thread) {
        ending.push_back(std::move(at->second));
        at = windows_.erase(at);
      } else {
        ++at;
      }
    }
  }
  for (const LocalWindow& window : ending) {
    if (window.ownerProcess == ::getpid()) window.directory.Withdraw(window.entry.hwnd);
  }
}

std::optional<LocalWindowView> WindowHost::Find(HWND handle) {
  std::lock_guard lock(mutex_);
  const auto at = windows_.find(HandleNumber(handle));
  if (at == windows_.end()) return std::nullopt;
  const LocalWindow& window = at->second;
  return LocalWindowView{window.entry, window.queue, window.machineTag, window.procedure,
                         window.userData};
}

LRESULT WindowHost::CallProcedure(std::uint32_t hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure;
  {
    std::lock_guard lock(mutex_);
    const auto at = windows_.find(hwnd);
    if (at == windows_.end()) return 0;
    procedure = at->second.procedure;
  }
  return Call(procedure, HandleOf(hwnd), message, wParam, lParam);
}

DWORD WindowHost::SetValue(HWND handle, int index, LONG_PTR value, LONG_PTR* previous) {
  std::lock_guard lock(mutex_);
  const auto at = windows_.find(HandleNumber(handle));
  if (at == windows_.end()) return ERROR_INVALID_WINDOW_HANDLE;
  LocalWindow& window = at->second;
  switch (index) {
    case GWLP_WNDPROC:
      if (value == 0) return ERROR_INVALID_PARAMETER;
      *previous = reinterpret_cast<LONG_PTR>(window.procedure);
      window.procedure = reinterpret_cast<WNDPROC>(value);
      return ERROR_SUCCESS;
    case GWLP_USERDATA:
      *previous = std::exchange(window.userData, value);
      return ERROR_SUCCESS;
    case GWL_STYLE:
    case GWL_EXSTYLE: {
      std::uint32_t& field = index == GWL_STYLE ? window.entry.style : window.entry.exStyle;
      const std::uint32_t old = field;
      field = static_cast<std::uint32_t>(value);
      // A window being destroyed is no longer published.
      if (field != old && window.ownerProcess == ::getpid() && !window.destroying) {
        if (const DWORD error = window.directory.Publish(window.entry); error != ERROR_SUCCESS) {
          field = old;
          return error;
        }
      }
      *previous = static_cast<LONG>(old);
      return ERROR_SUCCESS;
    }
    default:
      return ERROR_INVALID_INDEX;
  }
}

}  // namespace tbm::wnd
