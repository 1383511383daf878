// The windows this process owns: their procedures, their published entries
// and the queues of the threads that own them. One per process.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "ThreadQueue.h"
#include "WinUser.h"
#include "WindowDirectory.h"
#include "WindowEntry.h"

namespace tbm::wnd {

// The number a handle stands for; 0 (no window) for a value no window can
// have.
inline std::uint32_t HandleNumber(HWND window) {
  const auto value = reinterpret_cast<std::uintptr_t>(window);
  return value <= 0xFFFFFFFFu ? static_cast<std::uint32_t>(value) : 0;
}
inline HWND HandleOf(std::uint32_t number) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(number));
}

// What a caller may know of one of this process's windows, copied out so
// that no lock is held while it is used.
struct LocalWindowView {
  WindowEntry entry;
  std::shared_ptr<ThreadQueue> queue;
  std::string machineTag;
  WNDPROC procedure = nullptr;
  LONG_PTR userData = 0;
};

class WindowHost {
 public:
  // The process's host; it lives until the process ends.
  static WindowHost& Get();

  // Makes a window owned by the calling thread and publishes it. Null on
  // failure, with the last error set.
  HWND Create(DWORD exStyle, std::u16string_view className, std::u16string_view title, DWORD style,
              WNDPROC procedure, void* param);

  // DestroyWindow: sets the last error on failure.
  BOOL Destroy(HWND window);

  // Ends every window of a thread that is ending, without calling their
  // procedures.
  void ForgetWindowsOfThread(pid_t thread);

  // A window of this process, or nullopt. A window stays one until its
  // WM_DESTROY has been answered.
  std::optional<LocalWindowView> Find(HWND window);

  // Runs the window procedure of one of this process's windows; 0 when the
  // window is gone. The caller must be the window's thread.
  LRESULT CallProcedure(std::uint32_t hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  // Changes a value of one of this process's windows (GWL_STYLE,
  // GWL_EXSTYLE, GWLP_WNDPROC, GWLP_USERDATA) and republishes it when it is
  // published. The previous value in *previous. Returns ERROR_SUCCESS,
  // ERROR_INVALID_WINDOW_HANDLE, ERROR_INVALID_INDEX, ERROR_INVALID_PARAMETER
  // (a null procedure) or the error of publishing (the value then stays).
  DWORD SetValue(HWND window, int index, LONG_PTR value, LONG_PTR* previous);

 private:
  struct LocalWindow {
    WindowEntry entry;
    WindowDirectory directory;
    std::string machineTag;
    WNDPROC procedure = nullptr;
    LONG_PTR userData = 0;
    std::shared_ptr<ThreadQueue> queue;
    pid_t ownerProcess = 0;  // a forked child never withdraws its parent's entries
    bool destroying = false;
  };

  std::uint32_t NewHandleNumber();

  std::mutex mutex_;  // guards what follows
  std::unordered_map<std::uint32_t, LocalWindow> windows_;
  std::uint64_t randomState_ = 0;
};

}  // namespace tbm::wnd
