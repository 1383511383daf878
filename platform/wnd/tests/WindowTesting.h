// What the window tests share: a fresh machine for each test, the windows a
// test made (destroyed after it), and running this thread's messages until
// something has happened.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "MessagePump.h"
#include "TestSupport.h"
#include "WinUser.h"

namespace tbm::testing {

// Every live window of the machine, in EnumWindows order.
inline std::vector<HWND> AllWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM list) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

inline std::string HandleText(HWND window) {
  char text[32];
  std::snprintf(text, sizeof text, "%08lx",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(window)));
  return text;
}

inline HWND HandleFromText(const std::string& text) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::stoul(text, nullptr, 16)));
}

// Answers this thread's sent and posted messages until done() holds; false
// when it still does not after 30 seconds (so a broken peer fails the test
// rather than stopping it).
inline bool PumpUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  const int queue = MessageQueueDescriptor();
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    // Short naps: done() may become true through another thread without
    // anything arriving here.
    pollfd wait{queue, POLLIN, 0};
    ::poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 10)));
    DispatchPendingMessages();
  }
  return true;
}

class FreshMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    root_ = (scratch_.path() / "device").string();
    ::setenv("TBM_DEVICE_ROOT", root_.c_str(), 1);  // put back by deviceRoot_
  }

  void TearDown() override {
    for (HWND window : made_) DestroyWindow(window);
  }

  // A window of this thread, destroyed after the test.
  HWND Make(const char16_t* className, const char16_t* title, DWORD style, DWORD exStyle,
            WNDPROC procedure, void* param = nullptr) {
    HWND window = CreateWindowExW(exStyle, className, title, style, procedure, param);
    EXPECT_NE(window, nullptr) << DescribeWindowError(GetLastError());
    if (window != nullptr) made_.push_back(window);
    return window;
  }

  std::string WindowFolder() const { return root_ + "/.windows"; }
  std::string EntryPath(HWND window) const {
    return WindowFolder() + "/" + HandleText(window) + ".window";
  }

  ScratchFolder scratch_{"tbm-wnd-test"};
  std::string root_;
  ScopedEnvironment machine_{"TBM_MACHINE", nullptr};
  ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT", nullptr};
  std::vector<HWND> made_;
};

}  // namespace tbm::testing
