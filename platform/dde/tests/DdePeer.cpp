// A second process for the DDE tests, on the desktop machine named by the
// environment it is started with.
//
//   tbm_dde_test_peer [--as <uid>] serve <service>
//       A server filtered as the desktop bridge filters its own (advises,
//       pokes and self-connections fail; registration, unregistration,
//       connect-confirm and disconnect notifications are skipped). Writes
//       "ready", or "refused <DdeGetLastError in hex>", then runs an event
//       loop of its own over the message queue's descriptor until its
//       standard input closes. Its callback:
//         connect  accepts any topic but "closed";
//         execute  "busy" answers DDE_FBUSY, "refuse" DDE_FNOTPROCESSED;
//                  "stall:<ms>" is acknowledged, then the loop stops
//                  running messages for that long; anything else is kept
//                  as the reply "got:" + the block, and acknowledged;
//         request  item "seen": the callback types seen so far, in hex,
//                  one space after each; any other item: the reply kept
//                  (no data when there is none).
//   tbm_dde_test_peer [--as <uid>] connect <service> <topic>
//       Writes "connected" or "none <DdeGetLastError in hex>".
//
// --as runs as that user (the test must be the superuser).
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "Ddeml.h"
#include "Machine.h"
#include "MessagePump.h"

namespace {

using namespace tbm;

DWORD instance = 0;
std::string reply;
bool haveReply = false;
std::string seen;
int stallMilliseconds = 0;

void WriteLine(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string Hex(UINT value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

std::string Text(HSZ handle) {
  char text[256] = {};
  DdeQueryStringA(instance, handle, text, sizeof text, CP_WINANSI);
  return text;
}

HDDEDATA Answer(ULONG_PTR flags) { return reinterpret_cast<HDDEDATA>(flags); }

HDDEDATA Callback(UINT type, UINT format, HCONV, HSZ hsz1, HSZ hsz2, HDDEDATA data, ULONG_PTR,
                  ULONG_PTR) {
  seen += Hex(type) + " ";
  switch (type) {
    case XTYP_CONNECT:
      return Answer(Text(hsz1) == "closed" ? 0 : 1);
    case XTYP_EXECUTE: {
      std::string block(DdeGetData(data, nullptr, 0, 0), '\0');
      DdeGetData(data, reinterpret_cast<BYTE*>(block.data()), static_cast<DWORD>(block.size()), 0);
      if (block == "busy") return Answer(DDE_FBUSY);
      if (block == "refuse") return Answer(DDE_FNOTPROCESSED);
      if (block.starts_with("stall:")) {
        stallMilliseconds = std::atoi(block.c_str() + 6);
        return Answer(DDE_FACK);
      }
      reply = "got:" + block;
      haveReply = true;
      return Answer(DDE_FACK);
    }
    case XTYP_REQUEST: {
      const std::string answer = Text(hsz2) == "seen" ? seen : reply;
      if (Text(hsz2) != "seen" && !haveReply) return nullptr;
      return DdeCreateDataHandle(instance, reinterpret_cast<const BYTE*>(answer.data()),
                                 static_cast<DWORD>(answer.size()), 0, hsz2, format, 0);
    }
    default:
      return nullptr;
  }
}

int Serve(const char* service) {
  const DWORD filters = CBF_FAIL_ADVISES | CBF_FAIL_POKES | CBF_FAIL_SELFCONNECTIONS |
                        CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS |
                        CBF_SKIP_CONNECT_CONFIRMS | CBF_SKIP_DISCONNECTS;
  if (DdeInitializeA(&instance, Callback, APPCLASS_STANDARD | filters, 0) != DMLERR_NO_ERROR) {
    WriteLine("refused init");
    return 1;
  }
  HSZ name = DdeCreateStringHandleA(instance, service, CP_WINANSI);
  if (DdeNameService(instance, name, nullptr, DNS_REGISTER) == nullptr) {
    WriteLine("refused " + Hex(DdeGetLastError(instance)));
    return 1;
  }
  WriteLine("ready");
  pollfd waits[2] = {{MessageQueueDescriptor(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  for (;;) {
    ::poll(waits, 2, -1);
    if (waits[1].revents != 0) break;  // the test closed our input, or went
    DispatchPendingMessages();
    if (stallMilliseconds > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::exchange(stallMilliseconds, 0)));
    }
  }
  DdeUninitialize(instance);
  return 0;
}

HDDEDATA Ignore(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

int Connect(const char* service, const char* topic) {
  DdeInitializeA(&instance, Ignore, APPCMD_CLIENTONLY, 0);
  HCONV conversation = DdeConnect(instance, DdeCreateStringHandleA(instance, service, CP_WINANSI),
                                  DdeCreateStringHandleA(instance, topic, CP_WINANSI), nullptr);
  WriteLine(conversation != nullptr ? "connected" : "none " + Hex(DdeGetLastError(instance)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  tbm::SelectMachine(tbm::Machine::Desktop);
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--as") == 0) {
    const auto user = static_cast<uid_t>(std::atoi(argv[2]));
    if (::setresgid(user, user, user) != 0 || ::setresuid(user, user, user) != 0) {
      WriteLine("cannot become user " + std::string(argv[2]));
      return 2;
    }
    first = 3;
  }
  if (argc - first == 2 && std::strcmp(argv[first], "serve") == 0) return Serve(argv[first + 1]);
  if (argc - first == 3 && std::strcmp(argv[first], "connect") == 0) {
    return Connect(argv[first + 1], argv[first + 2]);
  }
  std::fprintf(
      stderr,
      "usage: tbm_dde_test_peer [--as <uid>] serve <service> | connect <service> <topic>\n");
  return 2;
}
