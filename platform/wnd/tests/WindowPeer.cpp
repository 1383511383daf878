// A second process for the window tests. It runs on the machine named by
// the environment it is started with, as the handheld program and the sync
// agent do.
//
//   tbm_wnd_test_peer own <class> <title> <style hex> <exstyle hex>
//       Owns one window, writes its handle (8 hex digits and a line feed) to
//       standard output and runs its message loop until told to quit; the
//       exit code is the one given with kQuit. The window procedure answers
//       the messages of PeerMessages.h.
//   tbm_wnd_test_peer find <program path>
//       Looks for the window the sync agent looks for: the first one whose
//       process runs that program (compared without regard to case), whose
//       extended style is 0 or has its top bit set, and which is visible.
//       Sends it WM_USER and writes "found <hwnd> answer <result>", or
//       "none".
//   tbm_wnd_test_peer send <hwnd hex> <message> <wParam> <lParam>
//       Sends one message and writes "<answer> <last error>".
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MessagePump.h"
#include "PeerMessages.h"
#include "Utf16.h"
#include "WinUser.h"

namespace {

using namespace tbm::peer;

HWND HandleFromHex(const char* text) {
  return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(std::strtoul(text, nullptr, 16)));
}

void WriteLine(const std::string& line) {
  std::string text = line + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

LRESULT PeerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_USER:
      return 1;
    case kEcho:
      return static_cast<LRESULT>(wParam) * 1000 + lParam;
    case kCallBack: {
      // Asks the sender's window something while the sender waits for us.
      const LRESULT answer = SendMessageW(reinterpret_cast<HWND>(wParam), kEcho, 7, 8);
      return GetLastError() == ERROR_SUCCESS ? answer + 1 : -1;
    }
    case kHang: {
      // Does not answer until standard input closes.
      WriteLine("hanging");
      char byte;
      while (::read(STDIN_FILENO, &byte, 1) > 0) {
      }
      return 0;
    }
    case kQuit:
      PostQuitMessage(static_cast<int>(wParam));
      return 1;
    case kRestyle:
      return SetWindowLongW(window, GWL_EXSTYLE, static_cast<LONG>(wParam));
    case kHide:
      return ShowWindow(window, SW_HIDE);
    default:
      return 0;
  }
}

int Own(int argc, char** argv) {
  if (argc != 6) return 2;
  const std::u16string className = tbm::Utf8ToUtf16(argv[2]);
  const std::u16string title = tbm::Utf8ToUtf16(argv[3]);
  const auto style = static_cast<DWORD>(std::strtoul(argv[4], nullptr, 16));
  const auto exStyle = static_cast<DWORD>(std::strtoul(argv[5], nullptr, 16));
  HWND window =
      CreateWindowExW(exStyle, className.c_str(), title.c_str(), style, PeerProcedure, nullptr);
  if (window == nullptr) {
    WriteLine(std::string("failed ") + DescribeWindowError(GetLastError()));
    return 3;
  }
  char handle[32];
  std::snprintf(handle, sizeof handle, "%08lx",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(window)));
  WriteLine(handle);
  return tbm::RunMessageLoop();
}

struct Search {
  std::u16string program;
  HWND found = nullptr;
};

BOOL Consider(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  WCHAR path[4096];
  if (GetWindowModuleFileNameW(window, path, 4096) == 0) return TRUE;
  if (!tbm::EqualsIgnoreCase(path, search->program)) return TRUE;
  const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  if (exStyle != 0 && (exStyle & 0x80000000u) == 0) return TRUE;
  if ((static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) & WS_VISIBLE) == 0) return TRUE;
  search->found = window;
  return FALSE;
}

int Find(int argc, char** argv) {
  if (argc != 3) return 2;
  Search search{tbm::Utf8ToUtf16(argv[2])};
  EnumWindows(Consider, reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) {
    WriteLine("none");
    return 0;
  }
  const LRESULT answer = SendMessageW(search.found, WM_USER, 0, 0);
  char line[96];
  std::snprintf(line, sizeof line, "found %08lx answer %ld",
                static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(search.found)),
                static_cast<long>(answer));
  WriteLine(line);
  return 0;
}

int Send(int argc, char** argv) {
  if (argc != 6) return 2;
  const LRESULT answer =
      SendMessageW(HandleFromHex(argv[2]), static_cast<UINT>(std::strtoul(argv[3], nullptr, 0)),
                   std::strtoull(argv[4], nullptr, 0), std::strtoll(argv[5], nullptr, 0));
  const DWORD error = GetLastError();
  WriteLine(std::to_string(answer) + " " + std::to_string(error));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  if (mode == "own") return Own(argc, argv);
  if (mode == "find") return Find(argc, argv);
  if (mode == "send") return Send(argc, argv);
  return 2;
}
