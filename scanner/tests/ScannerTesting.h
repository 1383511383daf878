// What the scanner tests share: the scanner library loaded by name as the
// handheld program loads it, a fresh device for each test with its scanner
// set up in the registry, windows that record the label messages they get,
// and the writers that play the barcode reader: a FIFO and image files.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "BarcodePicture.h"
#include "MessagePump.h"
#include "ProgramLog.h"
#include "Registry.h"
#include "RunProgram.h"
#include "ScnApi.h"
#include "TBMScan.h"
#include "TestSupport.h"
#include "Utf16.h"
#include "WinUser.h"

namespace tbm::scan::testing {

namespace fs = std::filesystem;

// The seven exports, looked up by name in TBMScanCE.so beside the test.
struct ScanExports {
  TBMGetDllVersionProc version = nullptr;
  TBMScanInitProc init = nullptr;
  TBMScanExitProc exit = nullptr;
  TBMScanRequestReadProc requestRead = nullptr;
  TBMScanStopReadProc stopRead = nullptr;
  TBMScanReadLabelProc readLabel = nullptr;
  TBMScanOnActivateProc onActivate = nullptr;
};

inline const ScanExports& Exports() {
  static const ScanExports exports = [] {
    ScanExports found;
    // Loaded once for the whole test program and never unloaded, as the
    // handheld program keeps it for its lifetime.
    void* library =
        dlopen((tbm::testing::ProgramFolder() / "TBMScanCE.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return found;
    found.version = reinterpret_cast<TBMGetDllVersionProc>(dlsym(library, "TBMGetDllVersion"));
    found.init = reinterpret_cast<TBMScanInitProc>(dlsym(library, "TBMScanInit"));
    found.exit = reinterpret_cast<TBMScanExitProc>(dlsym(library, "TBMScanExit"));
    found.requestRead =
        reinterpret_cast<TBMScanRequestReadProc>(dlsym(library, "TBMScanRequestRead"));
    found.stopRead = reinterpret_cast<TBMScanStopReadProc>(dlsym(library, "TBMScanStopRead"));
    found.readLabel = reinterpret_cast<TBMScanReadLabelProc>(dlsym(library, "TBMScanReadLabel"));
    found.onActivate = reinterpret_cast<TBMScanOnActivateProc>(dlsym(library, "TBMScanOnActivate"));
    return found;
  }();
  return exports;
}

// One label message as a window got it.
struct LabelMessage {
  HWND window;
  WPARAM wParam;
  LPARAM lParam;
};

inline std::vector<LabelMessage>& Received() {
  static std::vector<LabelMessage> received;
  return received;
}

inline LRESULT RecordLabels(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kTBMScanLabelMessage) Received().push_back({window, wParam, lParam});
  return 0;
}

// Runs this thread's messages until done() holds; false when it still does
// not after 30 seconds, so that a broken scanner fails the test instead of
// hanging it.
inline bool PumpUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  const int queue = MessageQueueDescriptor();
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd wait{queue, POLLIN, 0};
    ::poll(&wait, 1, 20);
    DispatchPendingMessages();
  }
  return true;
}

// The writing end of a FIFO, opened once the scanner has opened the other.
class FifoWriter {
 public:
  explicit FifoWriter(const fs::path& fifo) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (fd_ < 0 && std::chrono::steady_clock::now() < deadline) {
      fd_ = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~FifoWriter() {
    if (fd_ >= 0) ::close(fd_);
  }
  FifoWriter(const FifoWriter&) = delete;
  FifoWriter& operator=(const FifoWriter&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t wrote = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (wrote < 0 && errno != EAGAIN && errno != EINTR) return false;
      if (wrote > 0) done += static_cast<std::size_t>(wrote);
      if (wrote < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  int fd_ = -1;
};

class ScannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    const ScanExports& exports = Exports();
    ASSERT_TRUE(exports.version && exports.init && exports.exit && exports.requestRead &&
                exports.stopRead && exports.readLabel && exports.onActivate)
        << "TBMScanCE.so or one of its seven exports is missing";
    root_ = scratch_.path() / "device";
    fs::create_directories(root_ / "Temp");
    ::setenv("TBM_DEVICE_ROOT", root_.c_str(), 1);  // put back by deviceRoot_
    Received().clear();
    window_ = MakeWindow(u"Tabulon Mobile");
  }

  void TearDown() override {
    Exports().exit();
    for (HWND window : windows_) DestroyWindow(window);
  }

  HWND MakeWindow(const char16_t* title) {
    HWND window = CreateWindowExW(0, u"TBMTestFrame", title, WS_VISIBLE, RecordLabels, nullptr);
    EXPECT_NE(window, nullptr) << DescribeWindowError(GetLastError());
    if (window != nullptr) windows_.push_back(window);
    return window;
  }

  // Sets the scanner up: a port and an image folder (empty for none).
  void SetUpScanner(const std::u16string& port, const std::u16string& folder, DWORD baudRate = 0) {
    const std::u16string key = std::u16string(kScannerSettingsKey) + u"\\SCN1";
    if (!port.empty()) {
      ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, key.c_str(), kScannerPortValue, port),
                ERROR_SUCCESS);
    }
    if (!folder.empty()) {
      ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, key.c_str(), kScannerImageFolderValue, folder),
                ERROR_SUCCESS);
    }
    if (baudRate != 0) {
      HKEY opened = nullptr;
      ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_WRITE, &opened),
                ERROR_SUCCESS);
      RegSetValueExW(opened, kScannerBaudRateValue, 0, REG_DWORD,
                     reinterpret_cast<const BYTE*>(&baudRate), sizeof baudRate);
      RegCloseKey(opened);
    }
  }

  // A FIFO at "\Temp\scanner" set up as the scanner's port; its host path.
  fs::path SetUpFifoScanner() {
    const fs::path fifo = root_ / "Temp" / "scanner";
    EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    SetUpScanner(u"\\Temp\\scanner", u"");
    return fifo;
  }

  // Waits for the next label message and returns the label text it leads
  // to ("<null>" when the library gives none).
  std::string NextLabel(LabelMessage* message = nullptr) {
    const std::size_t before = taken_;
    if (!PumpUntil([&] { return Received().size() > before; })) return "<no label came>";
    const LabelMessage got = Received()[taken_++];
    if (message != nullptr) *message = got;
    const WCHAR* text = Exports().readLabel(got.wParam, got.lParam);
    return text == nullptr ? "<null>" : Utf16ToUtf8(text);
  }

  // Asks for the next read for the main window, as the program does after
  // each label.
  DWORD RequestRead(HWND window = nullptr) {
    return Exports().requestRead(window ? window : window_, kTBMScanLabelMessage, 0);
  }

  std::string ScannerLogText() const {
    return tbm::testing::ReadWholeFile(root_ / "log" / "ScnAPI32.log");
  }

  tbm::testing::ScratchFolder scratch_{"tbm-scanner-test"};
  tbm::testing::ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT", nullptr};
  tbm::testing::ScopedEnvironment machine_{"TBM_MACHINE", nullptr};
  fs::path root_;
  HWND window_ = nullptr;
  std::vector<HWND> windows_;
  std::size_t taken_ = 0;
};

}  // namespace tbm::scan::testing
