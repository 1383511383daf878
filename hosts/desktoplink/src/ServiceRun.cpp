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
#include "RunningProgram.h"
#include "ServiceWindow.h"
#include "WinUser.h"

namespace tbm::desktoplink {
namespace {

void Log(LogLevel level, const std::string& text) { WriteLog(kProgram, level, text); }

void Tell(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  std::fflush(stderr);
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

int RunService(const RunOptions& options, const char* programPath) {
  tools::InstanceLock lock;
  if (Status s = lock.Take("tbm-desktoplink.lock", "the desktop connection service",
                           "use that one ('tbm-desktoplink sync'), or stop it first",
                           [](const std::string& warning) { Log(LogLevel::kWarning, warning); });
      !s.ok()) {
    Tell(s.message());
    return 1;
  }
  const int signalFd = tools::StopSignalDescriptor();
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
  const bool headless = options.headless || !tools::HasDisplay();
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
