// Abstract-namespace sockets of DDE services and registration notices.
#include "ServiceSocket.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "Machine.h"

namespace tbm::dde {

namespace {

// "tabulon-<desktop tag>-dde-<user>-": the services and notice sockets of
// this machine and user.
std::string MachinePrefix() {
  char user[16];
  std::snprintf(user, sizeof user, "%u", static_cast<unsigned>(::geteuid()));
  return "tabulon-" + MachineTag(Machine::Desktop) + "-dde-" + user + "-";
}

}  // namespace

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string ServiceSocketName(std::string_view service) {
  // FNV-1a, 64 bits: names up to 255 bytes must fit a socket name of 107.
  // Two names with one hash would meet at one socket; the server compares
  // the name each client asks for, so the second is refused, not confused.
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : FoldName(service)) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return MachinePrefix() + "service-" + text;
}

std::string NoticeSocketPrefix() { return MachinePrefix() + "notices-"; }

std::string NoticeSocketName(std::uint32_t instance) {
  char text[32];
  std::snprintf(text, sizeof text, "%d-%u", static_cast<int>(::getpid()), instance);
  return NoticeSocketPrefix() + text;
}

std::vector<std::string> ListeningNoticeSockets() {
  // The kernel lists every Unix-domain socket of this network namespace,
  // an abstract name with '@' for its leading NUL; listeners carry the
  // accepting flag (__SO_ACCEPTCON, 0x10000) in their flags column.
  std::ifstream table("/proc/net/unix");
  const std::string wanted = "@" + NoticeSocketPrefix();
  std::set<std::string> names;
  std::string line;
  std::getline(table, line);  // the column titles
  while (std::getline(table, line)) {
    const auto at = line.find(wanted);
    if (at == std::string::npos) continue;
    unsigned long flags = 0;
    if (std::sscanf(line.c_str(), "%*s %*s %*s %lx", &flags) != 1 || (flags & 0x10000) == 0) {
      continue;
    }
    names.insert(line.substr(at + 1));
  }
  return {names.begin(), names.end()};
}

}  // namespace tbm::dde
