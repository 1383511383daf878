#include "HostRun.h"

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

#include "DatabaseFolder.h"
#include "HostSession.h"
#include "HostWindow.h"
#include "Machine.h"
#include "MessagePump.h"
#include "PluginHost.h"
#include "ProgramLog.h"
#include "RunningProgram.h"
#include "WinUser.h"

namespace tbm::tabulonpro {

namespace {

namespace stdfs = std::filesystem;

constexpr const char* kLog = "TabulonPro";

void Tell(const std::string& message) {
  std::fprintf(stderr, "Tabulon Pro: %s\n", message.c_str());
  std::fflush(stderr);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return stdfs::equivalent(a, b, error);
}

// The databases named (each must open), or every one in the folder (those
// that do not open are told and left out).
Status OpenDatabases(const RunOptions& options,
                     std::vector<std::unique_ptr<DesktopDatabase>>* opened) {
  auto alreadyOpen = [&](const std::string& path) {
    for (const auto& db : *opened) {
      if (SameFile(db->path(), path)) return true;
    }
    return false;
  };
  if (!options.databases.empty()) {
    for (const std::string& given : options.databases) {
      std::string path;
      if (Status s = DatabasePath(given, &path); !s.ok()) return s;
      if (alreadyOpen(path)) continue;
      std::unique_ptr<DesktopDatabase> db;
      if (Status s = DesktopDatabase::Open(path, &db); !s.ok()) return s;
      opened->push_back(std::move(db));
    }
    return {};
  }
  for (const std::string& path : DatabaseFiles()) {
    std::unique_ptr<DesktopDatabase> db;
    if (Status s = DesktopDatabase::Open(path, &db); !s.ok()) {
      Tell(s.message() + "; it is left closed");
      WriteLog(kLog, LogLevel::kWarning, s.message() + "; it is left closed");
      continue;
    }
    opened->push_back(std::move(db));
  }
  return {};
}

// --about and --settings open the plug-in's modal dialogs, which only a
// person at a display can close: shown offscreen they would hold the host
// for good. So without a display they are refused before anything starts.
Status CheckDialogsCanBeShown(const RunOptions& options) {
  if (!options.about && options.settingsOf.empty()) return {};
  const bool settings = !options.settingsOf.empty();
  const std::string option = settings ? "--settings" : "--about";
  const std::string otherwise =
      settings ? ", or choose the settings with the 'handheld' command ('Tabulon Pro handheld " +
                     options.settingsOf + " --help')"
               : "";
  if (options.headless) {
    return Status(StatusCode::kInvalidArgument,
                  option +
                      " needs a display: run Tabulon Pro without --headless on a desktop with a "
                      "display" +
                      otherwise);
  }
  if (!tools::HasDisplay()) {
    return Status(StatusCode::kInvalidArgument,
                  option +
                      " needs a display, and there is none here (neither DISPLAY nor "
                      "WAYLAND_DISPLAY is set, or QT_QPA_PLATFORM is offscreen): run Tabulon Pro "
                      "on a desktop with a display" +
                      otherwise);
  }
  return {};
}

// The line tests and people wait for.
std::string ReadyLine(std::size_t databases, const PluginHost& plugin) {
  std::string line = "Tabulon Pro is running with " + std::to_string(databases) +
                     (databases == 1 ? " database" : " databases");
  line += plugin.started() ? " (plug-in " + plugin.name() + " started)"
                           : " (plug-in " + plugin.name() + " not running)";
  return line;
}

}  // namespace

int RunHost(const RunOptions& options, const char* programPath) {
  if (Status s = CheckDialogsCanBeShown(options); !s.ok()) {
    Tell(s.message());
    return 2;
  }
  tools::InstanceLock lock;
  if (Status s = lock.Take(
          "TabulonPro.lock", "Tabulon Pro", "use that one, or stop it first",
          [](const std::string& warning) { WriteLog(kLog, LogLevel::kWarning, warning); });
      !s.ok()) {
    Tell(s.message());
    return 1;
  }
  std::unique_ptr<HostTextForm> textForm;
  if (Status s = HostTextForm::OpenSystem(&textForm); !s.ok()) {
    Tell(s.message());
    return 1;
  }
  std::vector<std::unique_ptr<DesktopDatabase>> databases;
  if (Status s = OpenDatabases(options, &databases); !s.ok()) {
    Tell(s.message());
    return 1;
  }
  DesktopDatabase* settingsOf = nullptr;
  if (!options.settingsOf.empty()) {
    std::string path;
    if (Status s = DatabasePath(options.settingsOf, &path); !s.ok()) {
      Tell("--settings: " + s.message());
      return 1;
    }
    for (const auto& db : databases) {
      if (SameFile(db->path(), path)) settingsOf = db.get();
    }
    if (settingsOf == nullptr) {
      Tell("--settings: the database " + options.settingsOf +
           " is not among the databases this host opens");
      return 1;
    }
  }

  const int signalFd = tools::StopSignalDescriptor();
  if (signalFd < 0) {
    Tell(std::string("the signalFd that stop the host cannot be watched (") + std::strerror(errno) +
         ")");
    return 1;
  }
  ::signal(SIGPIPE, SIG_IGN);
  const int queue = MessageQueueDescriptor();
  if (queue < 0) {
    Tell(
        "the main thread's message queue cannot be made, so no other program could reach the "
        "plug-in");
    ::close(signalFd);
    return 1;
  }
  const bool headless = options.headless || !tools::HasDisplay();
  if (headless) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  char* qtArgv[] = {const_cast<char*>(programPath), nullptr};
  QApplication application(qtArgc, qtArgv);
  // A plug-in's dialog that closes must not end a host without a window.
  QApplication::setQuitOnLastWindowClosed(false);

  HostSession session(std::move(textForm));
  for (auto& db : databases) session.Add(std::move(db));
  WriteLog(kLog, LogLevel::kInfo,
           "started (process " + std::to_string(::getpid()) + ") with " +
               std::to_string(session.count()) + " databases");

  // Messages sent to the main thread's windows and conversations are
  // answered as soon as they arrive; a quit request in the queue ends the
  // host as a signal does.
  QSocketNotifier queueNotifier(queue, QSocketNotifier::Read);
  QObject::connect(&queueNotifier, &QSocketNotifier::activated, [&session] {
    const DWORD handled = DispatchPendingMessages();
    session.EndPluginCalls();
    if (handled > 0) return;
    MSG message{};
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) && message.message == WM_QUIT) {
      WriteLog(kLog, LogLevel::kInfo, "stopping on a quit request in the message queue");
      QCoreApplication::quit();
    }
  });
  QSocketNotifier signalNotifier(signalFd, QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, [signalFd] {
    signalfd_siginfo info{};
    while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      WriteLog(kLog, LogLevel::kInfo,
               std::string("stopping on ") + ::strsignal(static_cast<int>(info.ssi_signo)));
    }
    QCoreApplication::quit();
  });

  PluginHost plugin;
  const std::string pluginPath =
      options.plugin.empty() ? PluginHost::PathBesideProgram() : options.plugin;
  if (Status s = plugin.Load(pluginPath); !s.ok()) {
    Tell(s.message() + "; Tabulon Pro runs without it");
    WriteLog(kLog, LogLevel::kWarning, s.message());
  } else {
    const std::int32_t result = plugin.Start(session.Services());
    session.EndPluginCalls();
    if (result != kPluginStarted) {
      Tell(plugin.StartResultInWords(result) + "; Tabulon Pro runs without it");
    }
  }

  std::unique_ptr<HostWindow> window;
  if (!headless) {
    window = std::make_unique<HostWindow>(session, plugin);
    QObject::connect(window.get(), &HostWindow::quitRequested, &application,
                     &QCoreApplication::quit);
    window->show();
  }

  const std::string ready = ReadyLine(session.count(), plugin);
  std::printf("%s\n", ready.c_str());
  std::fflush(stdout);
  WriteLog(kLog, LogLevel::kInfo, ready);

  if (options.about || settingsOf != nullptr) {
    QTimer::singleShot(0, [&] {
      if (settingsOf != nullptr) {
        session.SetCurrent(settingsOf);
        if (window) window->Refresh();
        if (!plugin.ShowSettings()) Tell("--settings: the plug-in is not running");
        session.EndPluginCalls();
      }
      if (options.about && !plugin.ShowAbout()) Tell("--about: the plug-in is not running");
      session.EndPluginCalls();
    });
  }

  const int result = QApplication::exec();
  window.reset();
  plugin.Stop();
  ::close(signalFd);
  WriteLog(kLog, LogLevel::kInfo, "stopped");
  std::printf("Tabulon Pro has stopped.\n");
  std::fflush(stdout);
  return result == 0 ? 0 : 1;
}

}  // namespace tbm::tabulonpro
