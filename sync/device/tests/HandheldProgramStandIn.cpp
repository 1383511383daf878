// Stands in for the handheld program in the sync agent's tests until the
// real one exists: it owns a visible main window and answers the program's
// calls through the RPC block.
//
//   tbm_sync_test_handheld <open database name> <views-closed marker file>
//
// Closing the views for a synchronisation creates the marker file and
// answers that they are closed; the name of the open database is the name
// given, or none when that name is "-"; no database can be opened. It
// writes "ready" and a line feed to standard output once its window
// exists, and runs until killed.
#include <cstdio>
#include <optional>
#include <string>

#include "HandheldCalls.h"
#include "MessagePump.h"
#include "Utf16.h"
#include "WinUser.h"

namespace {

class StandInProgram final : public tbm::sync::HandheldCallHandler {
 public:
  StandInProgram(std::u16string openName, std::string marker)
      : openName_(std::move(openName)), marker_(std::move(marker)) {}

  bool OpenDatabase(const std::u16string&) override { return false; }
  std::optional<std::u16string> OpenDatabaseName() override {
    if (openName_ == u"-") return std::nullopt;
    return openName_;
  }
  bool CloseViewsForSync() override {
    if (std::FILE* f = std::fopen(marker_.c_str(), "w")) std::fclose(f);
    return true;
  }

 private:
  std::u16string openName_;
  std::string marker_;
};

std::optional<StandInProgram> program;

LRESULT Procedure(HWND, UINT message, WPARAM, LPARAM) {
  if (message != WM_USER || !program) return 0;
  return tbm::sync::AnswerHandheldCall(*program);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tbm_sync_test_handheld <open database name> <marker file>\n");
    return 2;
  }
  program.emplace(tbm::Utf8ToUtf16(argv[1]), argv[2]);
  if (CreateWindowExW(0, tbm::sync::kHandheldMainWindowClass, u"Tabulon Mobile", WS_VISIBLE,
                      Procedure, nullptr) == nullptr) {
    std::fprintf(stderr, "cannot create the window\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return tbm::RunMessageLoop();
}
