// The window calls: creating, destroying, finding and describing windows.
#include <unistd.h>

#include <vector>

#include "CallGuard.h"
#include "Utf16.h"
#include "WinUser.h"
#include "WindowDirectory.h"
#include "WindowHost.h"
#include "WindowLookup.h"

namespace tbm::wnd {
namespace {

BOOL Offer(WNDENUMPROC callback, HWND window, LPARAM lParam) noexcept {
  return callback(window, lParam);
}

// GWL_STYLE or GWL_EXSTYLE of a window found anywhere.
std::optional<LONG> PublishedValue(const WindowEntry& entry, int index) {
  if (index == GWL_STYLE) return static_cast<LONG>(entry.style);
  if (index == GWL_EXSTYLE) return static_cast<LONG>(entry.exStyle);
  return std::nullopt;
}

LONG_PTR GetValue(HWND window, int index) {
  const auto found = LookUpWindow(window);
  if (!found) return Fail(ERROR_INVALID_WINDOW_HANDLE, LONG_PTR{0});
  if (const auto value = PublishedValue(found->entry, index)) {
    SetLastError(ERROR_SUCCESS);
    return *value;
  }
  if (index != GWLP_WNDPROC && index != GWLP_USERDATA)
    return Fail(ERROR_INVALID_INDEX, LONG_PTR{0});
  if (!found->local) return Fail(ERROR_ACCESS_DENIED, LONG_PTR{0});
  SetLastError(ERROR_SUCCESS);
  return index == GWLP_WNDPROC ? reinterpret_cast<LONG_PTR>(found->local->procedure)
                               : found->local->userData;
}

LONG_PTR SetValue(HWND window, int index, LONG_PTR value) {
  LONG_PTR previous = 0;
  DWORD error = WindowHost::Get().SetValue(window, index, value, &previous);
  // A window we do not own: tell "not ours" from "no such window".
  if (error == ERROR_INVALID_WINDOW_HANDLE && LookUpWindow(window)) error = ERROR_ACCESS_DENIED;
  if (error != ERROR_SUCCESS) return Fail(error, LONG_PTR{0});
  SetLastError(ERROR_SUCCESS);
  return previous;
}

}  // namespace
}  // namespace tbm::wnd

using namespace tbm::wnd;
using tbm::Fail;
using tbm::Guarded;

extern "C" HWND CreateWindowExW(DWORD exStyle, const WCHAR* className, const WCHAR* windowName,
                                DWORD style, WNDPROC windowProc, void* param) {
  return Guarded(HWND{nullptr}, [&]() -> HWND {
    if (className == nullptr) return Fail(ERROR_INVALID_PARAMETER, HWND{nullptr});
    return WindowHost::Get().Create(exStyle, tbm::Utf16View(className), tbm::Utf16View(windowName),
                                    style, windowProc, param);
  });
}

extern "C" BOOL DestroyWindow(HWND window) {
  return Guarded(FALSE, [&] { return WindowHost::Get().Destroy(window); });
}

extern "C" BOOL EnumWindows(WNDENUMPROC callback, LPARAM lParam) {
  return Guarded(FALSE, [&]() -> BOOL {
    if (callback == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const std::vector<WindowEntry> windows = WindowDirectory::OfCurrentMachine().ListLive();
    for (const WindowEntry& entry : windows) {
      if (!Offer(callback, HandleOf(entry.hwnd), lParam)) return FALSE;
    }
    return TRUE;
  });
}

extern "C" HWND FindWindowW(const WCHAR* className, const WCHAR* windowName) {
  return Guarded(HWND{nullptr}, [&]() -> HWND {
    for (const WindowEntry& entry : WindowDirectory::OfCurrentMachine().ListLive()) {
      if (className != nullptr &&
          !tbm::EqualsIgnoreCase(tbm::Utf8ToUtf16(entry.className), tbm::Utf16View(className))) {
        continue;
      }
      if (windowName != nullptr &&
          !tbm::EqualsIgnoreCase(tbm::Utf8ToUtf16(entry.title), tbm::Utf16View(windowName))) {
        continue;
      }
      return HandleOf(entry.hwnd);
    }
    return Fail(ERROR_FILE_NOT_FOUND, HWND{nullptr});
  });
}

extern "C" BOOL IsWindow(HWND window) {
  return Guarded(FALSE, [&] { return LookUpWindow(window) ? TRUE : FALSE; });
}

extern "C" LONG GetWindowLongW(HWND window, int index) {
  return Guarded(LONG{0}, [&]() -> LONG {
    if (index != GWL_STYLE && index != GWL_EXSTYLE) return Fail(ERROR_INVALID_INDEX, LONG{0});
    return static_cast<LONG>(GetValue(window, index));
  });
}

extern "C" LONG SetWindowLongW(HWND window, int index, LONG newValue) {
  return Guarded(LONG{0}, [&]() -> LONG {
    if (index != GWL_STYLE && index != GWL_EXSTYLE) return Fail(ERROR_INVALID_INDEX, LONG{0});
    return static_cast<LONG>(SetValue(window, index, static_cast<std::uint32_t>(newValue)));
  });
}

extern "C" LONG_PTR GetWindowLongPtrW(HWND window, int index) {
  return Guarded(LONG_PTR{0}, [&] { return GetValue(window, index); });
}

extern "C" LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR newValue) {
  return Guarded(LONG_PTR{0}, [&] { return SetValue(window, index, newValue); });
}

extern "C" BOOL IsWindowVisible(HWND window) {
  return Guarded(FALSE, [&]() -> BOOL {
    const auto found = LookUpWindow(window);
    return found && (found->entry.style & WS_VISIBLE) != 0 ? TRUE : FALSE;
  });
}

extern "C" BOOL ShowWindow(HWND window, int command) {
  return Guarded(FALSE, [&]() -> BOOL {
    const auto found = LookUpWindow(window);
    if (!found) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    if (!found->local) return Fail(ERROR_ACCESS_DENIED, FALSE);
    const DWORD style = found->entry.style;
    const DWORD wanted = command == SW_HIDE ? style & ~WS_VISIBLE : style | WS_VISIBLE;
    LONG_PTR previous = 0;
    const DWORD error = WindowHost::Get().SetValue(window, GWL_STYLE, wanted, &previous);
    if (error != ERROR_SUCCESS) return Fail(error, FALSE);
    SetLastError(ERROR_SUCCESS);
    return (static_cast<DWORD>(previous) & WS_VISIBLE) != 0 ? TRUE : FALSE;
  });
}

extern "C" DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
  return Guarded(DWORD{0}, [&]() -> DWORD {
    const auto found = LookUpWindow(window);
    if (!found) return Fail(ERROR_INVALID_WINDOW_HANDLE, DWORD{0});
    if (processId != nullptr) *processId = found->entry.pid;
    return found->entry.thread;
  });
}

extern "C" UINT GetWindowModuleFileNameW(HWND window, WCHAR* fileName, UINT size) {
  return Guarded(UINT{0}, [&]() -> UINT {
    if (fileName == nullptr || size == 0) return Fail(ERROR_INVALID_PARAMETER, UINT{0});
    const auto found = LookUpWindow(window);
    if (!found) return Fail(ERROR_INVALID_WINDOW_HANDLE, UINT{0});
    const std::u16string path = tbm::Utf8ToUtf16(found->entry.program);
    if (path.size() >= size) {
      tbm::CopyUtf16Cut(fileName, size * 2, path);
      return Fail(ERROR_INSUFFICIENT_BUFFER, size);
    }
    tbm::CopyUtf16Cut(fileName, static_cast<std::uint32_t>(path.size() + 1) * 2, path);
    return static_cast<UINT>(path.size());
  });
}
