// Publishing windows in the machine's window directory and finding them
// again, within one process, and what a reader makes of entries it cannot
// trust.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Utf16.h"
#include "WindowDirectory.h"
#include "WindowEntry.h"
#include "WindowTesting.h"

namespace tbm {
namespace {

using testing::AllWindows;
using testing::FreshMachine;
using testing::HandleText;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

LRESULT Quiet(HWND, UINT, WPARAM, LPARAM) { return 0; }

bool Exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

std::string ModuleFileName(HWND window) {
  WCHAR path[4096];
  const UINT length = GetWindowModuleFileNameW(window, path, 4096);
  EXPECT_GT(length, 0u) << DescribeWindowError(GetLastError());
  return Utf16ToUtf8(std::u16string_view(path, length));
}

// An entry as a process that has ended would have left it.
wnd::WindowEntry EntryOfEndedProcess(std::uint32_t hwnd) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  wnd::WindowEntry entry;
  entry.hwnd = hwnd;
  entry.pid = static_cast<std::uint32_t>(child);
  entry.started = 12345;
  entry.thread = entry.pid;
  entry.style = WS_VISIBLE;
  entry.created = 1;
  entry.program = "/opt/tabulon/Tabulon Mobile";
  entry.className = "TBMMainFrame";
  entry.title = "Tabulon Mobile";
  return entry;
}

using WindowDirectory = FreshMachine;

TEST_F(WindowDirectory, ACreatedWindowIsEnumeratedWithWhatItPublished) {
  HWND frame =
      Make(u"TBMMainFrame", u"Tabulon Mobile", WS_VISIBLE | WS_CAPTION, WS_EX_CAPTIONOKBTN, Quiet);
  ASSERT_NE(frame, nullptr);

  EXPECT_EQ(AllWindows(), std::vector<HWND>{frame});
  EXPECT_TRUE(IsWindow(frame));
  EXPECT_TRUE(IsWindowVisible(frame));
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(frame, GWL_STYLE)), WS_VISIBLE | WS_CAPTION);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(frame, GWL_EXSTYLE)), WS_EX_CAPTIONOKBTN);
  DWORD process = 0;
  EXPECT_EQ(GetWindowThreadProcessId(frame, &process), static_cast<DWORD>(::gettid()));
  EXPECT_EQ(process, static_cast<DWORD>(::getpid()));
  EXPECT_EQ(ModuleFileName(frame), std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_TRUE(Exists(EntryPath(frame)));
}

TEST_F(WindowDirectory, HandlesDifferForEveryWindow) {
  std::vector<HWND> windows;
  for (int i = 0; i < 20; ++i) windows.push_back(Make(u"TBMDialog", u"", 0, 0, Quiet));
  std::sort(windows.begin(), windows.end());
  EXPECT_EQ(std::adjacent_find(windows.begin(), windows.end()), windows.end());
  EXPECT_EQ(AllWindows().size(), 20u);
}

TEST_F(WindowDirectory, EnumerationOffersTheNewestFirstAndStopsWhenAsked) {
  HWND older = Make(u"TBMMainFrame", u"first", WS_VISIBLE, 0, Quiet);
  HWND newer = Make(u"TBMMainFrame", u"second", WS_VISIBLE, 0, Quiet);
  EXPECT_EQ(AllWindows(), (std::vector<HWND>{newer, older}));

  int offered = 0;
  EXPECT_FALSE(EnumWindows(
      [](HWND, LPARAM count) {
        ++*reinterpret_cast<int*>(count);
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&offered)));
  EXPECT_EQ(offered, 1);
}

TEST_F(WindowDirectory, AMachineWithoutWindowsOffersNone) {
  EXPECT_TRUE(AllWindows().empty());
  EXPECT_EQ(FindWindowW(u"TBMMainFrame", nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(WindowDirectory, DestroyingAWindowWithdrawsIt) {
  HWND frame = Make(u"TBMMainFrame", u"Tabulon Mobile", WS_VISIBLE, 0, Quiet);
  const std::string entry = EntryPath(frame);
  ASSERT_TRUE(DestroyWindow(frame));
  EXPECT_FALSE(Exists(entry));
  EXPECT_FALSE(IsWindow(frame));
  EXPECT_TRUE(AllWindows().empty());
  EXPECT_FALSE(DestroyWindow(frame));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowDirectory, FindWindowMatchesClassAndTitleWithoutRegardToCase) {
  HWND frame = Make(u"TBMMainFrame", u"Tabulon Mobile – Kunden", WS_VISIBLE, 0, Quiet);
  HWND dialog = Make(u"TBMFindDialog", u"Suchen", WS_VISIBLE, 0, Quiet);
  EXPECT_EQ(FindWindowW(u"tbmmainframe", nullptr), frame);
  EXPECT_EQ(FindWindowW(nullptr, u"SUCHEN"), dialog);
  EXPECT_EQ(FindWindowW(u"TBMMainFrame", u"tabulon mobile – kunden"), frame);
  EXPECT_EQ(FindWindowW(u"TBMMainFrame", u"Suchen"), nullptr);
}

TEST_F(WindowDirectory, StyleChangesAreKeptAndTheOldValueReturned) {
  HWND frame = Make(u"TBMMainFrame", u"Tabulon Mobile", WS_VISIBLE, 0, Quiet);
  EXPECT_EQ(SetWindowLongW(frame, GWL_EXSTYLE, WS_EX_TOPMOST), 0);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(frame, GWL_EXSTYLE)), WS_EX_TOPMOST);

  EXPECT_TRUE(ShowWindow(frame, SW_HIDE)) << "it was visible";
  EXPECT_FALSE(IsWindowVisible(frame));
  EXPECT_FALSE(ShowWindow(frame, SW_SHOW)) << "it was hidden";
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_TRUE(IsWindowVisible(frame));
}

TEST_F(WindowDirectory, UserDataAndProcedureBelongToTheOwningProcess) {
  int context = 0;
  HWND frame = Make(u"TBMMainFrame", u"", 0, 0, Quiet, &context);
  EXPECT_EQ(GetWindowLongPtrW(frame, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&context));
  EXPECT_EQ(GetWindowLongPtrW(frame, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&Quiet));
  EXPECT_EQ(SetWindowLongPtrW(frame, GWLP_USERDATA, 42), reinterpret_cast<LONG_PTR>(&context));
  EXPECT_EQ(GetWindowLongPtrW(frame, GWLP_USERDATA), 42);
  EXPECT_EQ(SetWindowLongPtrW(frame, GWLP_WNDPROC, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(WindowDirectory, UnknownWindowsAndValuesAreRefusedWithTheirReason) {
  HWND frame = Make(u"TBMMainFrame", u"", WS_VISIBLE, 0, Quiet);
  EXPECT_EQ(GetWindowLongW(frame, -12), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
  EXPECT_EQ(GetWindowLongW(frame, GWLP_USERDATA), 0) << "a pointer does not fit a LONG";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);

  HWND none = reinterpret_cast<HWND>(std::uintptr_t{0x00123456});
  EXPECT_EQ(GetWindowLongW(none, GWL_STYLE), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_NE(std::string(DescribeWindowError(GetLastError())).find("window"), std::string::npos)
      << "said in words";
  EXPECT_FALSE(IsWindowVisible(none));
  EXPECT_EQ(GetWindowThreadProcessId(none, nullptr), 0u);
  EXPECT_FALSE(ShowWindow(none, SW_SHOW));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(~std::uintptr_t{0})));
}

TEST_F(WindowDirectory, CreationRefusesWhatCannotBePublished) {
  EXPECT_EQ(CreateWindowExW(0, u"TBMMainFrame", u"", 0, nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CreateWindowExW(0, nullptr, u"", 0, Quiet, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  const std::u16string longClass(257, u'C');
  EXPECT_EQ(CreateWindowExW(0, longClass.c_str(), u"", 0, Quiet, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(AllWindows().empty());
}

TEST_F(WindowDirectory, CreationFailsWithTheFileErrorWhenTheDirectoryCannotBeWritten) {
  std::filesystem::create_directories(root_);
  ASSERT_TRUE(WriteWholeFile(WindowFolder(), "a file where the folder belongs"));
  EXPECT_EQ(CreateWindowExW(0, u"TBMMainFrame", u"", 0, Quiet, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(AllWindows().empty());
}

TEST_F(WindowDirectory, ALongModulePathIsCutToTheBuffer) {
  HWND frame = Make(u"TBMMainFrame", u"", 0, 0, Quiet);
  const std::string full = std::filesystem::read_symlink("/proc/self/exe").string();
  WCHAR path[8];
  std::fill(std::begin(path), std::end(path), u'#');
  EXPECT_EQ(GetWindowModuleFileNameW(frame, path, 6), 6u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(Utf16ToUtf8(path), full.substr(0, 5));
  EXPECT_EQ(path[6], u'#') << "nothing written past the buffer";
  EXPECT_EQ(GetWindowModuleFileNameW(frame, nullptr, 6), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(WindowDirectory, WindowsOfAnotherMachineAreNotSeen) {
  HWND frame = Make(u"TBMMainFrame", u"Tabulon Mobile", WS_VISIBLE, 0, Quiet);
  ASSERT_EQ(AllWindows().size(), 1u);
  testing::ScratchFolder other("tbm-wnd-other");
  testing::ScopedEnvironment otherMachine("TBM_DEVICE_ROOT", other.path().c_str());
  EXPECT_TRUE(AllWindows().empty());
  EXPECT_EQ(FindWindowW(u"TBMMainFrame", nullptr), nullptr);
  EXPECT_TRUE(IsWindow(frame)) << "its own process still knows it";
}

TEST_F(WindowDirectory, EntriesOfEndedProcessesAreNeitherOfferedNorKept) {
  HWND frame = Make(u"TBMMainFrame", u"Tabulon Mobile", WS_VISIBLE, 0, Quiet);
  const wnd::WindowDirectory folder(WindowFolder());
  const wnd::WindowEntry ended = EntryOfEndedProcess(0x00ABCDEF);
  ASSERT_EQ(folder.Publish(ended), ERROR_SUCCESS);
  // This process's id with another start time: an id handed out again.
  wnd::WindowEntry reused = ended;
  reused.hwnd = 0x00FEDCBA;
  reused.pid = static_cast<std::uint32_t>(::getpid());
  reused.started = *wnd::ProcessStartTime(reused.pid) + 1;
  ASSERT_EQ(folder.Publish(reused), ERROR_SUCCESS);
  const std::string endedPath = WindowFolder() + "/00abcdef.window";
  const std::string reusedPath = WindowFolder() + "/00fedcba.window";
  ASSERT_TRUE(Exists(endedPath) && Exists(reusedPath));

  EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(std::uintptr_t{0x00ABCDEF})));
  EXPECT_FALSE(Exists(endedPath)) << "removed by the reader that found it dead";
  EXPECT_EQ(AllWindows(), std::vector<HWND>{frame});
  EXPECT_FALSE(Exists(reusedPath));
  EXPECT_EQ(SendMessageW(reinterpret_cast<HWND>(std::uintptr_t{0x00FEDCBA}), WM_USER, 0, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowDirectory, TemporaryFilesOfEndedWritersAreSwept) {
  Make(u"TBMMainFrame", u"", 0, 0, Quiet);
  const wnd::WindowEntry ended = EntryOfEndedProcess(0x00ABCDEF);
  const std::string leftOver = WindowFolder() + "/.00abcdef." + std::to_string(ended.pid) + ".tmp";
  ASSERT_TRUE(WriteWholeFile(leftOver, "tabulon-window 1\nhwnd 00ab"));
  EXPECT_EQ(AllWindows().size(), 1u);
  EXPECT_FALSE(Exists(leftOver));
}

TEST_F(WindowDirectory, DamagedAndForeignEntriesAreSkippedAndLeftAlone) {
  HWND frame = Make(u"TBMMainFrame", u"Tabulon Mobile", WS_VISIBLE, 0, Quiet);
  const std::string good = ReadWholeFile(EntryPath(frame));
  ASSERT_FALSE(good.empty());
  const std::string folder = WindowFolder() + "/";
  // Another window's handle in a copy of a live entry.
  ASSERT_TRUE(WriteWholeFile(folder + "00010001.window", good));
  ASSERT_TRUE(WriteWholeFile(folder + "00010002.window", good.substr(0, good.size() / 2)));
  ASSERT_TRUE(WriteWholeFile(folder + "00010003.window", std::string(100000, 'x')));
  ASSERT_TRUE(WriteWholeFile(folder + "00010004.window", std::string("\0\1\2\3", 4)));
  ASSERT_TRUE(WriteWholeFile(folder + "notes.txt", "not a window"));
  std::filesystem::create_directory(folder + "00010005.window");
  std::filesystem::create_symlink(EntryPath(frame), folder + "00010006.window");
  ASSERT_EQ(::mkfifo((folder + "00010007.window").c_str(), 0600), 0);
  std::string badNumber = good;
  badNumber.replace(badNumber.find("\npid ") + 5, 1, "-");
  ASSERT_TRUE(WriteWholeFile(folder + "00010008.window", badNumber));

  EXPECT_EQ(AllWindows(), std::vector<HWND>{frame});
  for (const char* name :
       {"00010001.window", "00010002.window", "00010003.window", "00010004.window", "notes.txt",
        "00010005.window", "00010006.window", "00010007.window", "00010008.window"}) {
    EXPECT_TRUE(Exists(folder + name)) << name;
  }
  EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(std::uintptr_t{0x00010001})));
}

TEST_F(WindowDirectory, AWindowEndsWithItsThread) {
  HWND made = nullptr;
  std::string entry;
  std::thread owner([&] {
    made = CreateWindowExW(0, u"TBMWorker", u"", WS_VISIBLE, Quiet, nullptr);
    entry = EntryPath(made);
  });
  owner.join();
  ASSERT_NE(made, nullptr);
  EXPECT_FALSE(Exists(entry));
  EXPECT_FALSE(IsWindow(made));
  EXPECT_TRUE(AllWindows().empty());
}

}  // namespace
}  // namespace tbm
