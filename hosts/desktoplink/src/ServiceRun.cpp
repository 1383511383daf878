#include "ServiceRun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "CallGuard.h"
#include "ConnectionService.h"
#include "DesktopLink.h"
#include "Machine.h"
#include "MessagePump.h"
#include "ProgramLog.h"
#include "ServiceWindow.h"
#include "WinUser.h"

namespace tbm::desktoplink {
namespace {

void Log(LogLevel level, const std::string& text) { WriteLog(kProgram, level, text); }

void Tell(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  std::fflush(stderr);
}

// The desktop's one running service: an exclusive lock on
// <desktop root>/tbm-desktoplink.lock, holding the process id for the
// message of a second one. The lock goes with the process, however it ends.
class InstanceLock {
 public:
  ~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
  }

  Status Take() {
    const std::string root = MachineRoot(Machine::Desktop);
    std::error_code error;
    std::filesystem::create_directories(root, error);
    const std::string path = root + "/tbm-desktoplink.lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
      const int e = errno;
      return Status(
          e == EACCES   ? StatusCode::kNoPermission
          : e == ENOSPC ? StatusCode::kNoSpace
                        : StatusCode::kIoFailed,
          "the desktop's lock file " + path + " cannot be made (" + std::strerror(e) + ")");
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      char text[32] = {};
      const ssize_t got = ::pread(fd_, text, sizeof text - 1, 0);
      const long other = got > 0 ? std::strtol(text, nullptr, 10) : 0;
      return Status(StatusCode::kBusy,
                    "the desktop connection service is running already on this desktop" +
                        (other > 0 ? " (process " + std::to_string(other) + ")" : std::string()) +
                        "; use that one ('tbm-desktoplink sync'), or stop it first");
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
      Log(LogLevel::kWarning, "the process id could not be written to " + path);
    }
    return {};
  }

 private:
  int fd_ = -1;
};

// The signals that end the service arrive on a descriptor the event loop
// watches. They are blocked before any thread starts, so every thread
// leaves them to it.
int SignalDescriptor() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, signal);
  if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  return ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

// The published window's procedure: a "sync" asking for a synchronisation.
LRESULT ServiceWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (message != kSyncNowMessage) return 0;
  auto* service = reinterpret_cast<ConnectionService*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (service == nullptr) return 0;
  try {
    const long asker = static_cast<long>(wParam);
    Log(LogLevel::kInfo, "process " + std::to_string(asker) + " asks for a synchronisation");
    std::vector<std::string> report;
    const SyncAnswer answer = service->SyncNow(&report);
    if (Status status = WriteSyncReport(asker, report); !status.ok()) {
      Log(LogLevel::kError, status.message());
    }
    return answer;
  } catch (...) {
    Log(LogLevel::kError, "a request for a synchronisation failed: " + CaughtException());
    return 0;
  }
}

// Publishes the window "sync" finds; destroyed when it goes.
class PublishedWindow {
 public:
  explicit PublishedWindow(ConnectionService& service)
      : window_(CreateWindowExW(0, kServiceWindowClass, u"tbm-desktoplink", WS_OVERLAPPED,
                                ServiceWindowProc, &service)) {}
  ~PublishedWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  PublishedWindow(const PublishedWindow&) = delete;
  PublishedWindow& operator=(const PublishedWindow&) = delete;
  bool ok() const { return window_ != nullptr; }

 private:
  HWND window_;
};

}  // namespace

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && std::strcmp(platform, "offscreen") == 0) return false;
  if (platform != nullptr && *platform != '\0') return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

int RunService(const RunOptions& options, const char* programPath) {
  InstanceLock lock;
  if (Status s = lock.Take(); !s.ok()) {
    Tell(s.message());
    return 1;
  }
  const int signalFd = SignalDescriptor();
  if (signalFd < 0) {
    Tell(std::string("the signals that stop the service cannot be watched (") +
         std::strerror(errno) + ")");
    return 1;
  }
  ::signal(SIGPIPE, SIG_IGN);
  const int queue = MessageQueueDescriptor();
  if (queue < 0) {
    Tell(
        "the main thread's message queue cannot be made, so 'tbm-desktoplink sync' could not "
        "reach the service");
    ::close(signalFd);
    return 1;
  }
  const bool headless = options.headless || !HasDisplay();
  if (headless) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  char* qtArgv[] = {const_cast<char*>(programPath), nullptr};
  QApplication application(qtArgc, qtArgv);
  QApplication::setQuitOnLastWindowClosed(false);
  Log(LogLevel::kInfo, "started (process " + std::to_string(::getpid()) + ")");

  ConnectionService service(!headless);
  std::vector<std::string> leftOut;
  service.LoadProviders(&leftOut);
  for (const std::string& line : leftOut) Tell(line);

  PublishedWindow published(service);
  if (!published.ok()) {
    Tell(std::string("the service's window cannot be published in the desktop's window "
                     "directory (") +
         DescribeError(GetLastError()) + ")");
    service.Stop();
    ::close(signalFd);
    return 1;
  }

  QSocketNotifier queueNotifier(queue, QSocketNotifier::Read);
  QObject::connect(&queueNotifier, &QSocketNotifier::activated, [] {
    if (DispatchPendingMessages() > 0) return;
    MSG message{};
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) && message.message == WM_QUIT) {
      Log(LogLevel::kInfo, "stopping on a quit request in the message queue");
      QCoreApplication::quit();
    }
  });
  QSocketNotifier signalNotifier(signalFd, QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, [signalFd] {
    signalfd_siginfo info{};
    while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      Log(LogLevel::kInfo,
          std::string("stopping on ") + ::strsignal(static_cast<int>(info.ssi_signo)));
    }
    QCoreApplication::quit();
  });

  std::unique_ptr<ServiceWindow> window;
  if (!headless) {
    window = std::make_unique<ServiceWindow>();
    ServiceWindow* shown = window.get();
    service.SetListeners(
        [shown](const std::string& text) { shown->AddText(text); },
        [shown, &service] { shown->ShowState(service.DeviceState(), service.ProviderNames()); });
    shown->ShowState(service.DeviceState(), service.ProviderNames());
    QObject::connect(shown, &ServiceWindow::quitRequested, &application, &QCoreApplication::quit);
    QObject::connect(shown, &ServiceWindow::syncRequested, [shown, &service] {
      std::vector<std::string> report;
      service.SyncNow(&report);
      if (!report.empty()) shown->AddText(report.front());
    });
    shown->show();
  }

  QTimer poll;
  poll.setInterval(static_cast<int>(options.pollInterval.count()));
  QObject::connect(&poll, &QTimer::timeout, [&service] { service.Watch(); });
  poll.start();

  const std::string ready = service.ReadyLine();
  std::printf("%s\n", ready.c_str());
  std::fflush(stdout);
  Log(LogLevel::kInfo, ready);
  QTimer::singleShot(0, [&service] { service.Watch(); });

  const int result = QApplication::exec();
  poll.stop();
  service.SetListeners(nullptr, nullptr);
  window.reset();
  service.Stop();
  ::close(signalFd);
  Log(LogLevel::kInfo, "stopped");
  std::printf("tbm-desktoplink has stopped.\n");
  std::fflush(stdout);
  return result == 0 ? 0 : 1;
}

}  // namespace tbm::desktoplink
