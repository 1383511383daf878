// Stands in for the handheld program in the sync agent's tests until the
// real one exists: it owns a visible top-level window and answers the two
// calls the agent makes through the RPC block.
//
//   tbm_sync_test_handheld <open database name> <views-closed marker file>
//
// Call 3 (close views for sync) creates the marker file and answers 1; call
// 2 (name of the open database) answers 1 with the name given, or 0 when
// that name is "-". It writes "ready" and a line feed to standard output
// once its window exists, and runs until killed.
#include <cstdio>
#include <string>

#include "MessagePump.h"
#include "RpcBlock.h"
#include "Utf16.h"
#include "WinUser.h"

namespace {

std::u16string openName;
std::string marker;

LRESULT Procedure(HWND, UINT message, WPARAM, LPARAM) {
  if (message != WM_USER) return 0;
  return tbm::AnswerFromRpcBlock([](std::uint32_t id, std::uint32_t kind, const std::u16string&,
                                    std::uint32_t* result, std::u16string* reply) {
    if (id == 3 && kind == tbm::kRpcResult) {
      if (std::FILE* f = std::fopen(marker.c_str(), "w")) std::fclose(f);
      *result = 1;
      return true;
    }
    if (id == 2 && kind == tbm::kRpcArgumentAndResult) {
      *result = openName == u"-" ? 0 : 1;
      *reply = openName;
      return true;
    }
    return false;
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tbm_sync_test_handheld <open database name> <marker file>\n");
    return 2;
  }
  openName = tbm::Utf8ToUtf16(argv[1]);
  marker = argv[2];
  if (CreateWindowExW(0, u"TBMMainFrame", u"Tabulon Mobile", WS_VISIBLE, Procedure, nullptr) ==
      nullptr) {
    std::fprintf(stderr, "cannot create the window\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return tbm::RunMessageLoop();
}
