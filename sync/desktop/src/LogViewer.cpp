#include "LogViewer.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "CallGuard.h"
#include "ModuleObjects.h"
#include "ProgramLog.h"
#include "SyncLog.h"
#include "Utf16.h"

extern char** environ;

namespace tbm::desksync {
namespace {

// The viewer is started by a shell that leaves it running on its own and
// ends at once: nothing of the module waits for the viewer, and no process
// is left for the module to collect. 127: the viewer is not installed.
constexpr char kStarter[] =
    "command -v \"$0\" >/dev/null 2>&1 || exit 127; "
    "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 & exit 0";

Status StartViewer(const std::string& program, const std::string& path) {
  std::vector<std::string> args{"sh", "-c", kStarter, program, path};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (const int error = ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ);
      error != 0) {
    return Status(StatusCode::kFailed, "cannot start the program that shows the log: " +
                                           std::string(std::strerror(error)));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    return Status(StatusCode::kNotFound,
                  "the program \"" + program + "\" that shows the log is not installed");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return Status(StatusCode::kFailed, "the program \"" + program + "\" could not be started");
  }
  return Status();
}

class OpenLogAction final
    : public com::SingleInterfaceObject<IReplMessageAction, IID_IUnknown, ObjectCount> {
 public:
  OpenLogAction(LogViewer viewer, IReplMessages* messages)
      : viewer_(std::move(viewer)), messages_(messages) {
    if (messages_) messages_->AddRef();
  }

  void Run() override {
    try {
      OpenLogOrTell(viewer_, messages_);
    } catch (...) {
      WriteLog("TBDeskSync", LogLevel::kError, "opening the log failed: " + CaughtException());
    }
  }

  ~OpenLogAction() {
    if (messages_) messages_->Release();
  }

 private:
  LogViewer viewer_;
  IReplMessages* messages_;
};

}  // namespace

LogViewer MakeLogViewer(const ProviderTexts& texts, const std::string& logPath) {
  LogViewer viewer;
  viewer.logPath = logPath;
  viewer.program = texts.Utf8(kTextLogViewer);
  viewer.errorText = Utf16ToUtf8(
      texts.Message(kTextLogCannotOpen, {res::MessageArgument::Text(Utf8ToUtf16(logPath))}));
  viewer.errorTitle = texts.Utf8(kTextLogCannotOpenTitle);
  return viewer;
}

Status OpenLog(const LogViewer& viewer) {
  if (Status s = CreateLogFile(viewer.logPath); !s.ok()) return s;
  if (viewer.program.empty()) {
    return Status(StatusCode::kNotFound, "the language library names no program to show the log");
  }
  return StartViewer(viewer.program, viewer.logPath);
}

void OpenLogOrTell(const LogViewer& viewer, IReplMessages* messages) {
  const Status opened = OpenLog(viewer);
  if (opened.ok()) return;
  WriteLog("TBDeskSync", LogLevel::kError, "the log cannot be shown: " + opened.message());
  if (messages != nullptr) {
    messages->ShowMessage(viewer.errorTitle.c_str(), viewer.errorText.c_str(), nullptr, nullptr);
  }
}

IReplMessageAction* MakeOpenLogAction(LogViewer viewer, IReplMessages* messages) {
  return std::make_unique<OpenLogAction>(std::move(viewer), messages).release();
}

}  // namespace tbm::desksync
